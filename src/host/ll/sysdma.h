// DMA buffers through the kernel service, page-locked host buffers and their page lists,
// mapping of physical board or DMA addresses, and the board list of the driver.
#pragma once

#include "hlc_arch.h"
#include "driverreq.h"
#include "hosthooks.h"

#include <cstdint>

// DMA descriptor of one band.
struct _MP_BAND_ST {
    int32_t id;         // service buffer id, -1 none
    uint32_t mapped;    // host address of the buffer
    uint32_t third;
    uint32_t physical;
};
static_assert(sizeof(_MP_BAND_ST) == 16, "band DMA descriptors are four words");

// Bytes of a DMA band from its bits code: per line 1 byte a pixel for codes 0, 2-8 and
// above 32, 2 for 9-16, 3 for 17-24, 4 for 25-32, code 1 an eighth (lines rounded up to
// whole bytes); times the lines.  False when the size does not fit 32 bits.
bool SysDmaBandBytes(uint32_t sizeX, uint32_t sizeY, uint32_t bits, uint32_t* bytes);

// node << 16 in the first argument.  Returns the service id, 0 on failure, -1 for size 0
// (descriptor {-1, 0, 0, 0} then, and after a failure).
int32_t SysDmaBufferAlloc(uint32_t nodeArg, uint32_t sizeX, uint32_t sizeY, uint32_t bits, _MP_BAND_ST* descriptor);
// 0 done (descriptor zeroed), -1 when the service refused (descriptor kept for a retry).
int32_t SysDmaBufferFree(uint32_t nodeArg, _MP_BAND_ST* descriptor);

// Words of one page-list line for a band: result word plus one per 4 KB page touched.
uint32_t SysPageLineWords(uint32_t address, uint32_t length);

// Locks every band of the buffer and writes its page lines into a new 32-bit list buffer
// (line length × bands words); 0 with the list id, -1 on failure (nothing left locked).
int32_t SysLockBuffer(uint32_t system, uint32_t buffer, uint32_t* listId);
int32_t SysUnlockBuffer(uint32_t system, uint32_t buffer);
// Non-zero on success.
int LockPagedBuffer(const void* address, uint32_t length);
int UnlockPagedBuffer(const void* address, uint32_t length);

// Fills one page line: words 0 and 1 get the address and length, then the service's
// page list leaves its result in word 0 and the 4 KB page addresses in words 1 on.
// 1 on success; -1 for a null address ("Got a NULL ptr"), a line shorter than two words,
// a length of 0 or a refused page list.
int32_t MapVirtualToPhysical(uint32_t system, const void* address, uint32_t length, uint32_t* line, uint32_t words);
// 0 with the physical address; 1 when the service is not valid or refused.
int32_t SysGetPhysicalAddr(const void* address, uint32_t* physical);

// Host address of a region of the node's hardware or of DMA memory (region -1); 0 when
// not mapped.
uint32_t mp_sys_map_hw_physical_address(const HlcNodeLink* record, uint32_t region, uint32_t offset, uint32_t size);
uint32_t mp_sys_unmap_hw_physical_address(const HlcNodeLink* record, uint32_t region, uint32_t offset, uint32_t size);

// Appends the driver's boards to the list (each record a new 19-byte node); 0 when at
// least one board was listed, else 1.
int32_t PciGetHalcyraList(_PCI_FOUND_DEVICE** list);
void PciFreeHalcyraList(_PCI_FOUND_DEVICE** list);
