// Block heap over board memory or a host DMA block, and the process-heap allocation
// functions that run under the task kernel's memory lock.
//
// The heap never touches the memory it manages: its record and block headers live in
// the process heap, so it can manage memory that the host reaches only through a mapped
// window.  Addresses and sizes are multiples of 64; the last 256 bytes of a heap are
// never handed out.  The mp_mem_* allocation operations take no lock: callers hold
// mp_mem_lock around them (mp_mem_delete_heap takes it itself).
#pragma once

#include "hlc_arch.h"

#include <cstddef>
#include <cstdint>

// Flag bits of a heap record.
constexpr uint32_t kHeapKeepsBounds = 0x80000000u;  // set for every record made here
constexpr uint32_t kHeapCallerRecord = 0x40000000u; // the record is not freed with the heap
constexpr uint32_t kHeapTagMask = 0x3FFFFFFFu;

// Block states.
constexpr int32_t kBlockUnused = -1;
constexpr int32_t kBlockFree = 0;
constexpr int32_t kBlockAllocated = 1;

constexpr uint32_t kHeapFirstHeaders = 1000;
constexpr uint32_t kHeapMoreHeaders = 100;
constexpr uint32_t kHeapUnit = 64;
constexpr uint32_t kHeapReserveTail = 256;

// A block header.  Links are indices into the header pool (-1 none), so that growing
// the pool keeps every reference valid.
struct _MP_MEM_BLOCK {
    uint32_t start;
    uint32_t end;
    int32_t prevFree;
    int32_t nextFree;
    int32_t nextAddress;  // next header in address order
    uint32_t size;
    int32_t state;        // kBlockUnused, kBlockFree, kBlockAllocated
};
static_assert(sizeof(_MP_MEM_BLOCK) == 28, "block headers are 7 words");

struct heap {
    uint32_t flags;
    uint32_t size;
    uint32_t reserved0;
    uint32_t usable;          // usable bytes (same as size)
    uint32_t freeBytes;
    uint32_t capacity;        // headers in the pool (0 before the first)
    uint32_t end;             // start + size
    uint32_t highWater;       // end of the highest allocated block (start when empty)
    uint32_t limit;           // start + size
    uint32_t reserved1[2];
    int32_t freeList;         // index of the smallest free block, -1 none
    _MP_MEM_BLOCK* pool;      // pool[0] is the first block and the head of the address chain
};
static_assert(sizeof(heap) == 52, "heap records are 13 words");

HLC_API heap* mp_mem_new_heap(heap* record, uint32_t base, uint32_t size, uint32_t tag);
HLC_API void mp_mem_delete_heap(heap* h);
HLC_API uint32_t mp_mem_malloc(heap* h, uint32_t size);
HLC_API uint32_t mp_mem_memalign(heap* h, uint32_t alignment, uint32_t size);
HLC_API void mp_mem_free(heap* h, uint32_t address);
HLC_API void mp_mem_lock();
HLC_API void mp_mem_unlock();

// The start address of a heap (its first block).
uint32_t mp_mem_heap_start(const heap* h);

void* safe_malloc(size_t size);
void* safe_realloc(void* block, size_t size);
void safe_free(void* block);
void* safe_memalign(size_t size);
void safe_mem_init();

// Bytes that safe_memalign asks the process heap for.
constexpr size_t SafeMemalignBytes(size_t size)
{
    return (size & ~static_cast<size_t>(63)) + 64;
}
