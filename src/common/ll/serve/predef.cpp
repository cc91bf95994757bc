// Predefined thread objects and buffers of a host-served node, its display heaps and its
// host-grab buffers.
#include "predef.h"

#include "bufchild.h"
#include "bufid.h"
#include "halcyraini.h"
#include "heap.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"
#include "servinfo.h"
#include "thread.h"

#include <cstring>
#include <initializer_list>
#include <vector>

const DispModeRow DispMode[kDispModeRows] = {
    {0x40000020u, 1, 0x200000}, {0x40000030u, 3, 0x600000}, {0x40000040u, 1, 0x600000},
    {0x40000050u, 1, 0x600000}, {0x40000060u, 1, 0x600000}, {0x40000070u, 1, 0x200000},
};

namespace {

constexpr uint32_t kFixedLocation = 0x20000000u;
constexpr uint32_t kDisplayRegion = 0x600000;     // the display Orlo's memory region
constexpr uint32_t kDisplayHeapSpan = 0x200000;   // one display heap's share of it
constexpr uint32_t kDefaultDisplayBytes = 1920000;
constexpr uint32_t kFullBoardMemory = 0x600000;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T>
T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

_MP_BUF_ST* Entry(uint32_t index)
{
    const uint32_t e = PreDefBufAddress[index];
    return e > 1 ? Ptr<_MP_BUF_ST>(e) : nullptr;
}

uint32_t NodeOf(const _MP_BUF_ST* b)
{
    return b->node & 0xFF;
}

// A node served by the host: listed, with a node state block, its shell run by the host.
_NODE_MAIN_RESOURCE_ST* HostServed(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r || !r->nodeState || r->nodeState->started) return nullptr;
    return r;
}

// The display memory that a display heap or buffer needs: the heaps a heap location
// draws on, the frame window or the display Orlo's memory for a fixed location.
bool MemoryPresent(const _NODE_MAIN_RESOURCE_ST* r, uint32_t location)
{
    switch (location) {
    case kLocSdram: return r->heaps[0] != nullptr;
    case kLocDisplayAny:
    case kLocDisplay4M: return r->heaps[3] || r->heaps[4];
    case kLocDisplay0: return r->heaps[1] || r->heaps[2];
    case kLocDisplay2M: return r->heaps[2] != nullptr;
    default: break;
    }
    if ((location & 0x60000000u) == 0x60000000u)
        return (location & ~0xFu) == 0x60000070u ? r->displayMemory != 0 : r->chipFrame != 0;
    return true;
}

// Sets the first bytes of band 0, in board memory through the accessor layer.
void Fill(const _MP_BUF_ST* b, uint8_t value, uint32_t bytes)
{
    const uint32_t a = Word(mp_buf_address_band_internal(b, 0));
    if (!a) return;
    uint8_t data[kPredefTagBytes];
    if (bytes > sizeof data) bytes = sizeof data;
    std::memset(data, value, bytes);
    if (HwIsWindowAddress(a))
        HwWriteBlock(a, 0, data, bytes);
    else
        std::memcpy(Ptr<void>(a), data, bytes);
}

// What one call of mp_init_predef_buffers made, so that a failed call takes it back.
class Made {
public:
    explicit Made(_NODE_MAIN_RESOURCE_ST* record) : record_(record)
    {
        for (int i = 0; i < 4; ++i) heapsBefore_[i] = record->heaps[1 + i] != nullptr;
    }
    void Thread(uint32_t id) { threads_.push_back(id); }
    void Buffer(uint32_t index) { buffers_.push_back(index); }
    void Undo()
    {
        for (auto it = buffers_.rbegin(); it != buffers_.rend(); ++it) {
            _MP_BUF_ST* b = Entry(*it);
            PreDefBufAddress[*it] = 0;
            if (b) mp_buf_free(b);
        }
        for (auto it = threads_.rbegin(); it != threads_.rend(); ++it)
            if (MP_THREAD_OBJ_ST* t = mp_thr_object(*it)) mp_thr_destroy(t);
        for (int i = 0; i < 4; ++i) {
            heap*& h = record_->heaps[1 + i];
            if (heapsBefore_[i] || !h) continue;
            mp_mem_delete_heap(h);   // under the memory lock it takes itself
            h = nullptr;
        }
    }

private:
    _NODE_MAIN_RESOURCE_ST* record_;
    bool heapsBefore_[4];
    std::vector<uint32_t> threads_;
    std::vector<uint32_t> buffers_;
};

const char* NoResources()
{
    return HlcErrorText(HLC_ERR_NO_RESOURCES);
}

// A predefined buffer of one line of set one-bit pixels at index base + slot, unless the
// slot holds one or the node has no memory of that location.  A buffer that cannot be
// allocated leaves its slot empty, unreported.
void TagBuffer(uint32_t node, const _NODE_MAIN_RESOURCE_ST* r, uint32_t base, uint32_t slot, uint32_t location,
               Made& made)
{
    const uint32_t index = (base & kPredefIndexMask) + slot;
    if (PreDefBufAddress[index] != 0 || !MemoryPresent(r, location)) return;
    _MP_BUF_ST* b = mp_buf_alloc_on_node(node, kPredefTagWidth, 1, 1, kPredefTagType, location);
    if (!b) return;
    b->id = (base + slot) | (node << 16);
    PreDefBufAddress[index] = Word(b);
    made.Buffer(index);
    Fill(b, 0xFF, kPredefTagBytes);
}

// Step 1 for one thread-object kind: binds or makes the node's object.  Sets *bound when
// an unbound object was bound or a new one made.  An object that cannot be made leaves its
// slot empty, unreported; false only for the system thread, which is then reported.
bool ThreadObject(uint32_t node, const _NODE_MAIN_RESOURCE_ST* r, uint32_t base, bool* bound, Made& made)
{
    // Mend: without its system thread object the node serves nothing, so that failure fails the open.
    const bool needed = base == kPredefSystemThread;
    const uint32_t first = base & kPredefIndexMask;
    for (uint32_t i = 0; i < kPredefSlots; ++i) {
        _MP_BUF_ST* b = Entry(first + i);
        if (!b || (NodeOf(b) != 0 && NodeOf(b) != node)) continue;
        *bound = NodeOf(b) == 0;
        MP_THREAD_OBJ_ST* t = mp_thr_object(b->id);
        if (NodeOf(b) == 0) b->node = node;
        if (!(b->id & 0xFF0000u)) b->id |= node << 16;
        if (t) {
            if (t->server.node == 0) t->server.node = node;
            if (!(t->server.id & 0xFF0000u)) t->server.id |= node << 16;
        }
        return true;
    }
    uint32_t slot = 0;
    while (slot < kPredefSlots && PreDefBufAddress[first + slot] != 0) ++slot;
    if (slot == kPredefSlots) {
        if (needed)
            HlcPrint("Node 0x%02x: predefined thread object 0x%08x not created: all %u slots are in use\n", node,
                     base | (node << 16), kPredefSlots);
        return !needed;
    }
    const uint32_t id = (base + slot) | (node << 16);
    MP_THREAD_OBJ_ST* t = mpThrAlloc(nullptr, node, 0, nullptr, id);
    if (!t) {
        if (needed) HlcPrint("Node 0x%02x: predefined thread object 0x%08x not created: %s\n", node, id, NoResources());
        return !needed;
    }
    made.Thread(id);
    *bound = true;
    TagBuffer(node, r, kPredefTagBuffer, slot, kLocSdram, made);
    return true;
}

// Steps 2 and 3: the display heaps, the display tag buffer and the DispMode buffers of
// the node's slot.  A buffer that cannot be allocated leaves its slot empty, unreported.
void DisplayPart(uint32_t node, _NODE_MAIN_RESOURCE_ST* r, bool sameNode, Made& made)
{
    const uint32_t systemIndex = kPredefSystemThread & kPredefIndexMask;
    uint32_t slot = 0;
    while (slot < kPredefSlots && !(Entry(systemIndex + slot) && NodeOf(Entry(systemIndex + slot)) == node)) ++slot;
    if (slot == kPredefSlots) return;
    const _NODE_ST* s = r->nodeState;
    const uint32_t width = s->displayWidth;
    const uint32_t height = s->displayHeight;
    if (sameNode && width * height != 0) {
        mp_init_display_heaps(node);
        TagBuffer(node, r, kPredefDisplayTag, slot, kLocDisplayAny, made);
    }
    for (const DispModeRow& row : DispMode) {
        const uint32_t id = (row.id & ~0xFu) | slot;
        const uint32_t index = id & kPredefDisplayIndexMask;
        if (s->orlo[1].memorySize < row.minimumMemory) {
            PreDefBufAddress[index] = 1;
            continue;
        }
        _MP_BUF_ST* old = Entry(index);
        if (old && old->bandTable && old->bands && old->bandTable[0].mapped) {
            mp_buf_resize_predef(node, old, static_cast<int32_t>(width), static_cast<int32_t>(height), kBufKeep);
            continue;
        }
        PreDefBufAddress[index] = 0;
        if (old) mp_buf_free(old);
        const uint32_t location = id | kFixedLocation;
        if (!MemoryPresent(r, location)) continue;
        _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                             row.bands, 8, location);
        if (!b) continue;
        b->id = id | (node << 16);
        PreDefBufAddress[index] = Word(b);
        made.Buffer(index);
    }
}

// Heap word i (1-4) made over [base, base + size) with the kind, once.
int MakeHeap(_NODE_MAIN_RESOURCE_ST* r, int i, uint32_t base, uint32_t size, uint32_t kind)
{
    if (r->heaps[i]) return 0;
    r->heaps[i] = mp_mem_new_heap(nullptr, base, size, kind);
    return r->heaps[i] ? 0 : -1;
}

} // namespace

// ---------------------------------------------------------------- predefined objects

int mp_init_predef_buffers(uint32_t nodeOrZero, uint32_t node)
{
    uint32_t n = nodeOrZero & 0xFF;
    if (n == 0) {
        const _NODE_MAIN_RESOURCE_ST* first = mp_sys_node_resource_ptr(0xFFFFFFFFu);
        n = first ? static_cast<uint32_t>(first->nodeNumber) & 0xFF : 0;
    }
    _NODE_MAIN_RESOURCE_ST* r = HostServed(n);
    if (!r) return 0;
    bool displayWanted = nodeOrZero != 0;
    Made made(r);
    for (uint32_t base : {kPredefServiceThreadC, kPredefServiceThreadD, kPredefSystemThread}) {
        bool bound = false;
        if (!ThreadObject(n, r, base, &bound, made)) {
            made.Undo();
            return -1;
        }
        // The display part follows once the system thread exists already bound to the node.
        if (base == kPredefSystemThread && bound) displayWanted = false;
    }
    if (displayWanted) DisplayPart(n, r, n == (node & 0xFF), made);
    return 0;
}

void mp_buf_resize_predef(uint32_t node, _MP_BUF_ST* buffer, int32_t width, int32_t height, int32_t type)
{
    if (!buffer) return;
    if (width != kBufKeep) {
        buffer->sizeX = width;
        buffer->pitch = width == 800 ? 960 : static_cast<uint32_t>(width);
    }
    if (height != kBufKeep) buffer->sizeY = height;
    if (type != kBufKeep) {
        buffer->type = static_cast<uint32_t>(type);
        buffer->bits = static_cast<uint32_t>(type) & 255;
    }
    if ((buffer->node & 0x7FFFFFFFu) == 0) buffer->node = node & 0x7FFFFFFFu;
}

int mp_free_predef_buffers(uint32_t node)
{
    node &= 0xFF;
    for (uint32_t i = 0; i < kPredefEntries; ++i) {
        const _MP_BUF_ST* b = Entry(i);
        // Only descriptors still alive are read; a slot of a freed one names no node.
        if (b && mp_buf_valid(b, 0xC0000000u) && NodeOf(b) == node) PreDefBufAddress[i] = 0;
    }
    return 0;
}

void mpPrvInitTmpBufferForHostGrab(uint32_t device)
{
    const uint32_t node = (device >> 16) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r || !r->nodeState) return;
    _NODE_ST* s = r->nodeState;
    // The width comes from the ini setting "SizeOfTmpBufferForHostGrab" unless the node's
    // state names one already.
    if (s->hostGrabWidth == 0) {
        uint32_t size = 0;
        s->hostGrabWidth = HalcyraIniReadTag(node, "SizeOfTmpBufferForHostGrab", &size) == 1 && size ? size : 16384;
    }
    const auto width = static_cast<int32_t>(s->hostGrabWidth);
    auto make = [&](SERVINFO_ST* info, uint32_t slot, uint32_t location) {
        if (info->hostGrab[slot]) return;
        // A buffer that cannot be allocated leaves its slot empty.
        info->hostGrab[slot] = Word(mp_buf_alloc_on_node(node, width, 1, 1, 8, location));
    };
    if (r->primaryRegs) {
        auto* primary = reinterpret_cast<SERVINFO_ST*>(r->primaryServer);
        for (uint32_t i = 0; i < kServHostGrabBuffers; ++i) make(primary, i, kLocSdram);
    }
    if (r->displayRegs && !r->primaryRegs) {
        auto* display = reinterpret_cast<SERVINFO_ST*>(r->displayServer);
        make(display, 0, kLocDisplay4M);
        make(display, 1, kLocDisplay4M);
        if (s->orlo[1].memorySize == kFullBoardMemory) {
            for (uint32_t i : {2u, 3u, 6u}) make(display, i, kLocDisplay0);
            for (uint32_t i : {4u, 5u, 7u}) make(display, i, kLocDisplay2M);
        }
    }
}
static_assert(sizeof(SERVINFO_ST) == sizeof(_NODE_MAIN_RESOURCE_ST::primaryServer),
              "a node record holds each Orlo's event state");

// ---------------------------------------------------------------- display heaps

int mp_init_display_heaps(uint32_t node)
{
    node &= 0xFF;
    if (node == 0) node = mp_sys_this_node_id() & 0xFF;
    _NODE_MAIN_RESOURCE_ST* r = node ? mp_core_node_record(node) : mp_sys_node_resource_ptr(0xFFFFFFFFu);
    if (!r || !r->nodeState) return -1;
    const _NODE_ST* s = r->nodeState;
    if (!s->chip.present) return 0;
    const uint32_t width = s->displayWidth == 800 ? 960 : s->displayWidth;
    const uint64_t shown = s->displayHeight > 400 ? static_cast<uint64_t>(width) * s->displayHeight : kDefaultDisplayBytes;
    // A display that fills a heap's whole span leaves no heap.
    if (shown >= kDisplayHeapSpan || !r->chipFrame) return -1;
    const auto d = static_cast<uint32_t>(shown);
    int result = 0;
    mp_mem_lock();
    if (MakeHeap(r, 1, r->chipFrame + d, kDisplayHeapSpan - d, 1) != 0) result = -1;
    if (r->displayMemory) {
        // Mend: placed within the 6 MB region as the window maps it, not at word 232 + 4 MB past it.
        // The window (word 232) maps the top of the region; a heap where it does not reach is not made.
        const uint32_t mapped = r->displayMemorySize ? r->displayMemorySize : kDisplayRegion;
        const uint32_t below = mapped < kDisplayRegion ? kDisplayRegion - mapped : 0;
        const int count = s->orlo[1].memorySize == kFullBoardMemory ? 3 : 1;
        for (int k = 0; k < count; ++k) {
            const uint32_t offset = 0x400000u - static_cast<uint32_t>(k) * kDisplayHeapSpan;
            if (offset < below) continue;
            // words 467, 466, 465 with the kinds 4, 3, 2
            if (MakeHeap(r, 4 - k, r->displayMemory + (offset - below) + d, kDisplayHeapSpan - d,
                         static_cast<uint32_t>(4 - k)) != 0)
                result = -1;
        }
    }
    mp_mem_unlock();
    return result;
}
