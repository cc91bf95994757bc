// Block heap: a best-fit allocator by size whose bookkeeping lives in the process heap.
#include "heap.h"
#include "nodelist.h"
#include "task.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kNone = -1;

uint32_t RoundUp64(uint32_t size, bool* overflow)
{
    const uint64_t r = (static_cast<uint64_t>(size) + (kHeapUnit - 1)) & ~static_cast<uint64_t>(kHeapUnit - 1);
    *overflow = r > 0xFFFFFFFFu;
    return static_cast<uint32_t>(r);
}

_MP_MEM_BLOCK& At(heap* h, int32_t i)
{
    return h->pool[i];
}

// Grows the pool: 1,000 headers for the first request, then 100 more at a time.  The
// links are indices, so every reference stays valid across the move.
bool GrowPool(heap* h)
{
    const uint32_t more = h->capacity ? kHeapMoreHeaders : kHeapFirstHeaders;
    const uint32_t capacity = h->capacity + more;
    auto* pool = static_cast<_MP_MEM_BLOCK*>(std::malloc(capacity * sizeof(_MP_MEM_BLOCK)));
    if (!pool) return false;
    if (h->pool) std::memcpy(pool, h->pool, h->capacity * sizeof(_MP_MEM_BLOCK));
    for (uint32_t i = h->capacity; i < capacity; ++i) {
        pool[i] = _MP_MEM_BLOCK{0, 0, kNone, kNone, kNone, 0, kBlockUnused};
    }
    std::free(h->pool);
    h->pool = pool;
    h->capacity = capacity;
    return true;
}

// An unused header, growing the pool when all are in use; -1 when no memory is left.
// The header stays unused until the caller fills it.
int32_t SpareHeader(heap* h)
{
    for (uint32_t i = 0; i < h->capacity; ++i)
        if (h->pool[i].state == kBlockUnused) return static_cast<int32_t>(i);
    const uint32_t first = h->capacity;
    if (!GrowPool(h)) return kNone;
    return static_cast<int32_t>(first);
}

void Release(heap* h, int32_t i)
{
    At(h, i) = _MP_MEM_BLOCK{0, 0, kNone, kNone, kNone, 0, kBlockUnused};
}

// Inserts a free block into the size-ordered free list, in front of blocks of equal size.
void InsertFree(heap* h, int32_t i)
{
    _MP_MEM_BLOCK& b = At(h, i);
    b.state = kBlockFree;
    int32_t prev = kNone;
    int32_t cur = h->freeList;
    while (cur != kNone && At(h, cur).size < b.size) {
        prev = cur;
        cur = At(h, cur).nextFree;
    }
    b.prevFree = prev;
    b.nextFree = cur;
    if (cur != kNone) At(h, cur).prevFree = i;
    if (prev != kNone)
        At(h, prev).nextFree = i;
    else
        h->freeList = i;
}

void RemoveFree(heap* h, int32_t i)
{
    _MP_MEM_BLOCK& b = At(h, i);
    if (b.prevFree != kNone)
        At(h, b.prevFree).nextFree = b.nextFree;
    else if (h->freeList == i)
        h->freeList = b.nextFree;
    if (b.nextFree != kNone) At(h, b.nextFree).prevFree = b.prevFree;
    b.prevFree = kNone;
    b.nextFree = kNone;
}

// start + bytes lies below the limit and below the reserved tail of the heap.
bool BelowBounds(const heap* h, uint32_t start, uint32_t bytes)
{
    const uint64_t top = static_cast<uint64_t>(start) + bytes;
    const uint64_t tail = h->end >= kHeapReserveTail ? h->end - kHeapReserveTail : 0;
    return top < h->limit && top < tail;
}

void Allocated(heap* h, int32_t i)
{
    _MP_MEM_BLOCK& b = At(h, i);
    b.state = kBlockAllocated;
    if (b.end > h->highWater) h->highWater = b.end;
    h->freeBytes -= b.size;
}

// The start the aligned fit uses for a block: aligned on the bus when the address has a
// bus address on the current node, else aligned itself; false when it would wrap.
bool AlignedStart(uint32_t start, uint32_t alignment, uint32_t* aligned)
{
    const uint32_t node = mp_sys_this_node_id();
    const uint32_t bus = mp_util_virtual_to_pci(node, start);
    const uint32_t base = bus ? bus : start;
    const uint64_t up = (static_cast<uint64_t>(base) + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
    if (up > 0xFFFFFFFFu) return false;
    if (bus) {
        const uint32_t host = mp_util_pci_to_virtual(node, static_cast<uint32_t>(up));
        if (!host || host < start) return false;
        *aligned = host;
    } else {
        *aligned = static_cast<uint32_t>(up);
    }
    return true;
}

} // namespace

heap* mp_mem_new_heap(heap* record, uint32_t base, uint32_t size, uint32_t tag)
try {
    heap* h = record;
    if (!h) {
        h = static_cast<heap*>(std::calloc(1, sizeof(heap)));
        if (!h) return nullptr;
        h->flags = (tag & kHeapTagMask) | kHeapKeepsBounds;
    } else {
        h->flags = tag | kHeapCallerRecord;
    }
    const uint32_t pad = (kHeapUnit - (base % kHeapUnit)) % kHeapUnit;
    const uint32_t start = base + pad;
    // A range smaller than the padding holds nothing; one that would pass the end of
    // the address space is refused.
    uint32_t usable = size > pad ? (size - pad) & ~(kHeapUnit - 1) : 0;
    if (pad > 0xFFFFFFFFu - base || static_cast<uint64_t>(start) + usable > 0xFFFFFFFFu) {
        if (h != record) std::free(h);
        return nullptr;
    }
    h->size = usable;
    h->usable = usable;
    h->capacity = 0;
    h->freeList = kNone;
    h->pool = nullptr;
    if (h->flags & kHeapKeepsBounds) {
        h->highWater = start;
        h->freeBytes = usable;
        h->end = start + usable;
        h->limit = start + usable;
    } else {
        // Without bounds the heap never allocates.
        h->highWater = start;
        h->freeBytes = 0;
        h->end = 0;
        h->limit = 0;
    }
    const int32_t first = SpareHeader(h);
    if (first == kNone) {
        if (h != record) std::free(h);
        return nullptr;
    }
    _MP_MEM_BLOCK& b = At(h, first);
    b.start = start;
    b.end = start + usable;
    b.size = usable;
    b.nextAddress = kNone;
    InsertFree(h, first);
    return h;
}
HLC_EXPORT_CATCH(mp_mem_new_heap)

uint32_t mp_mem_heap_start(const heap* h)
{
    return h && h->pool ? h->pool[0].start : 0;
}

void mp_mem_delete_heap(heap* h)
try {
    if (!h) return;
    mp_mem_lock();
    std::free(h->pool);
    h->pool = nullptr;
    h->capacity = 0;
    h->freeList = kNone;
    if (!(h->flags & kHeapCallerRecord)) std::free(h);
    mp_mem_unlock();
}
HLC_EXPORT_CATCH(mp_mem_delete_heap)

uint32_t mp_mem_malloc(heap* h, uint32_t size)
try {
    if (!h || size == 0 || !h->pool) return 0;
    bool overflow = false;
    const uint32_t request = RoundUp64(size, &overflow);
    if (overflow) return 0;
    const int32_t spare = SpareHeader(h);
    if (spare == kNone) return 0;
    int32_t found = kNone;
    for (int32_t i = h->freeList; i != kNone; i = At(h, i).nextFree) {
        const _MP_MEM_BLOCK& b = At(h, i);
        if (b.state == kBlockFree && b.size >= request && BelowBounds(h, b.start, request)) {
            found = i;
            break;
        }
    }
    if (found == kNone) return 0;
    RemoveFree(h, found);
    if (At(h, found).size > request) {
        _MP_MEM_BLOCK& b = At(h, found);
        _MP_MEM_BLOCK& rest = At(h, spare);
        rest.start = b.start + request;
        rest.end = b.end;
        rest.size = b.size - request;
        rest.nextAddress = b.nextAddress;
        b.nextAddress = spare;
        b.end = b.start + request;
        b.size = request;
        InsertFree(h, spare);
    }
    Allocated(h, found);
    return At(h, found).start;
}
HLC_EXPORT_CATCH(mp_mem_malloc)

uint32_t mp_mem_memalign(heap* h, uint32_t alignment, uint32_t size)
try {
    if (!h || size == 0 || !h->pool) return 0;
    if (alignment <= kHeapUnit || (alignment & (alignment - 1)) != 0) return mp_mem_malloc(h, size);
    bool overflow = false;
    const uint32_t request = RoundUp64(size, &overflow);
    if (overflow) return 0;
    const int32_t a = SpareHeader(h);
    if (a == kNone) return 0;
    At(h, a).state = kBlockAllocated;   // so that the second request does not return it
    const int32_t b = SpareHeader(h);
    if (b == kNone) {
        Release(h, a);
        return 0;
    }
    int32_t found = kNone;
    uint32_t aligned = 0;
    for (int32_t i = h->freeList; i != kNone; i = At(h, i).nextFree) {
        const _MP_MEM_BLOCK& blk = At(h, i);
        if (blk.state != kBlockFree || blk.size < request) continue;
        uint32_t at = 0;
        if (!AlignedStart(blk.start, alignment, &at)) continue;
        if (static_cast<uint64_t>(at) + request > blk.end) continue;
        if (!BelowBounds(h, at, request)) continue;
        found = i;
        aligned = at;
        break;
    }
    if (found == kNone) {
        Release(h, a);
        return 0;
    }
    _MP_MEM_BLOCK& blk = At(h, found);
    const uint32_t tail = blk.start + blk.size - aligned - request;
    const int32_t successor = blk.nextAddress;
    RemoveFree(h, found);
    int32_t taken;
    if (aligned == blk.start) {
        blk.end = aligned + request;
        blk.size = request;
        Release(h, a);
        taken = found;
    } else {
        _MP_MEM_BLOCK& alloc = At(h, a);
        alloc.start = aligned;
        alloc.end = aligned + request;
        alloc.size = request;
        alloc.nextAddress = successor;
        blk.end = aligned;
        blk.size = aligned - blk.start;
        blk.nextAddress = a;
        InsertFree(h, found);
        taken = a;
    }
    if (tail > 0) {
        _MP_MEM_BLOCK& rest = At(h, b);
        rest.start = aligned + request;
        rest.end = aligned + request + tail;
        rest.size = tail;
        rest.nextAddress = successor;
        At(h, taken).nextAddress = b;
        InsertFree(h, b);
    }
    Allocated(h, taken);
    return aligned;
}
HLC_EXPORT_CATCH(mp_mem_memalign)

void mp_mem_free(heap* h, uint32_t address)
try {
    if (!h || !address || !h->pool) return;
    int32_t prev = kNone;
    int32_t i = 0;
    while (i != kNone && At(h, i).start != address) {
        prev = i;
        i = At(h, i).nextAddress;
    }
    // Only the start of an allocated block is accepted: an address inside a block, a
    // block already free or an address of another heap leaves the heap as it is.
    if (i == kNone || At(h, i).state != kBlockAllocated) return;
    _MP_MEM_BLOCK& blk = At(h, i);
    const uint32_t freedEnd = blk.end;
    blk.state = kBlockFree;
    h->freeBytes += blk.size;
    const int32_t next = blk.nextAddress;
    const bool mergePrev = prev != kNone && At(h, prev).state == kBlockFree && At(h, prev).end == blk.start;
    const bool mergeNext = next != kNone && At(h, next).state == kBlockFree && At(h, next).start == blk.end;
    // A free neighbour in address order is absorbed: first the next block into this one,
    // then this one into the previous block.
    auto absorb = [h](int32_t into, int32_t from) {
        _MP_MEM_BLOCK& a = At(h, into);
        const _MP_MEM_BLOCK& b = At(h, from);
        a.size += b.size;
        a.end = b.end;
        a.nextAddress = b.nextAddress;
        Release(h, from);
    };
    int32_t holder = i;
    if (mergeNext) {
        RemoveFree(h, next);
        absorb(i, next);
    }
    if (mergePrev) {
        RemoveFree(h, prev);
        absorb(prev, i);
        holder = prev;
    }
    InsertFree(h, holder);
    if (freedEnd == h->highWater) h->highWater = At(h, holder).start;
}
HLC_EXPORT_CATCH(mp_mem_free)

void mp_mem_lock()
try {
    TaskMemLock();
}
HLC_EXPORT_CATCH(mp_mem_lock)

void mp_mem_unlock()
try {
    TaskMemUnlock();
}
HLC_EXPORT_CATCH(mp_mem_unlock)

// ---------------------------------------------------------------- process heap

void* safe_malloc(size_t size)
{
    TaskMemLock();
    void* p = std::malloc(size);
    TaskMemUnlock();
    return p;
}

void* safe_realloc(void* block, size_t size)
{
    TaskMemLock();
    void* p = std::realloc(block, size);
    TaskMemUnlock();
    return p;
}

void safe_free(void* block)
{
    TaskMemLock();
    std::free(block);
    TaskMemUnlock();
}

void* safe_memalign(size_t size)
{
    return safe_malloc(SafeMemalignBytes(size));
}

namespace {
void* SafeAligned(size_t, size_t size)
{
    return safe_memalign(size);
}
} // namespace

void safe_mem_init()
{
    TaskInstallMalloc(safe_malloc, SafeAligned, safe_free);
}
