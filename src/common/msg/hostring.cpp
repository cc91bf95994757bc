// The communication rings of host-served nodes, in host memory.
#include "hostring.h"

#include "im_msgio.h"
#include "nodeopen.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

constexpr uint32_t kRingBytes = kMsgRingHeaderBytes + kMsgRingHeaderBytes + kMsgSlotBytes * kHostRingSlots;
constexpr uint32_t kRingFreeSnoop = 0xFFFFFFFFu;

// Rings made here, by node: only these are freed here (a board processor's ring lies in
// board memory).
std::mutex g_ringLock;
// Never destroyed: a node's threads may still use it while the process ends.
std::map<uint32_t, void*>& g_rings = *new std::map<uint32_t, void*>;

// The host rings' address ranges, for the message layer's look-up on every ring word:
// written under g_ringLock, read without a lock.  A range is cleared before its ring is
// freed; a reader that misses a range takes the accessor's own look-up instead.
struct HostRingRange {
    std::atomic<uint32_t> begin{0};
    std::atomic<uint32_t> end{0};
};
HostRingRange g_hostRings[16];

void NoteHostRing(uint32_t begin, uint32_t end)
{
    for (HostRingRange& r : g_hostRings)
        if (r.end.load(std::memory_order_relaxed) == 0) {
            r.begin.store(begin, std::memory_order_relaxed);
            r.end.store(end, std::memory_order_release);
            return;
        }
}

void ForgetHostRing(uint32_t begin)
{
    for (HostRingRange& r : g_hostRings)
        if (r.end.load(std::memory_order_relaxed) != 0 && r.begin.load(std::memory_order_relaxed) == begin)
            r.end.store(0, std::memory_order_release);
}

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

int mp_init_comm_ring(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return -1;
    if (record->commRing && record->ringHeader) return 0;
    void* block = std::calloc(1, kRingBytes);
    if (!block) return -1;
    auto* header = static_cast<uint32_t*>(block);
    header[kRingHead] = header[kRingTail] = 0xFFFFFFFFu;
    header[kRingReserved] = 0;
    header[kRingSlots] = kHostRingSlots;
    for (uint32_t word : {kRingSnoopPosted, kRingSnoopReceived, kRingSnoopCompleted, kRingSnoopError})
        header[word] = kRingFreeSnoop;
    const uint32_t slots = Address(block) + kMsgRingHeaderBytes;
    // The first post fills the reserved slot 0, which is taken from the start.
    reinterpret_cast<_MSG_BODY_ST*>(static_cast<uintptr_t>(RingSlotAddress(slots, 0)))->inUse = 1;
    {
        std::lock_guard<std::mutex> lock(g_ringLock);
        g_rings[static_cast<uint32_t>(record->nodeNumber) & 0xFF] = block;
        NoteHostRing(Address(block), Address(block) + kRingBytes);
    }
    record->ringHeader = Address(block);
    record->commRing = slots;
    record->doorbellArea = slots;
    return 0;
}

bool mp_host_ring_holds(uint32_t address)
{
    for (const HostRingRange& r : g_hostRings) {
        const uint32_t end = r.end.load(std::memory_order_acquire);
        if (end != 0 && address >= r.begin.load(std::memory_order_relaxed) && address < end) return true;
    }
    return false;
}

void mp_free_comm_ring(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return;
    void* block = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_ringLock);
        auto it = g_rings.find(static_cast<uint32_t>(record->nodeNumber) & 0xFF);
        if (it == g_rings.end() || Address(it->second) != record->ringHeader) return;
        block = it->second;
        g_rings.erase(it);
        ForgetHostRing(Address(block));
    }
    record->ringHeader = 0;
    record->commRing = 0;
    record->doorbellArea = 0;
    std::free(block);
}
