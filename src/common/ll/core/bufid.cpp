// Buffer descriptors and ids of a node: descriptor heap, id table, band memory,
// lookup, validation and release.
#include "bufid.h"

#include "bufchild.h"
#include "heap.h"
#include "hwlock.h"
#include "nodelist.h"
#include "regmap/orlo_regs.h"
#include "task.h"
#include "timer.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_set>

uint32_t PreDefBufAddress[kPredefEntries];

namespace {

// The id table of one node.
struct IdTable {
    uint32_t step = 0;
    uint32_t capacity = 0;
    _MP_BUF_ST** slots = nullptr;
};

IdTable* g_tables[256];
_MP_BAND_ST g_descBlock[256];   // the DMA block under each node's descriptor heap

// Descriptors this service made (and those a serving node named), so that a stale or
// foreign reference is refused before it is ever read.
std::mutex g_liveLock;
// Never destroyed: a node's threads may still use it while the process ends.
std::unordered_set<uintptr_t>& g_live = *new std::unordered_set<uintptr_t>;

void Remember(const void* p)
{
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.insert(reinterpret_cast<uintptr_t>(p));
}

void Forget(const void* p)
{
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.erase(reinterpret_cast<uintptr_t>(p));
}

// Forgets every descriptor in [low, high): the memory of a node's descriptor heap that
// goes away with the node, whatever descriptors were left in it.
void ForgetRange(uintptr_t low, uintptr_t high)
{
    std::lock_guard<std::mutex> guard(g_liveLock);
    for (auto it = g_live.begin(); it != g_live.end();)
        it = *it >= low && *it < high ? g_live.erase(it) : std::next(it);
}

// Deletes the node's descriptor heap and forgets the descriptors that lay in it.
void DeleteDescriptorHeap(_NODE_MAIN_RESOURCE_ST* r)
{
    if (!r || !r->heaps[5]) return;
    heap* h = r->heaps[5];
    r->heaps[5] = nullptr;
    const uintptr_t low = mp_mem_heap_start(h);
    const uintptr_t high = h->end;
    mp_mem_delete_heap(h);
    ForgetRange(low, high);
}

bool IsLive(const void* p)
{
    std::lock_guard<std::mutex> guard(g_liveLock);
    return g_live.count(reinterpret_cast<uintptr_t>(p)) != 0;
}

int NoRemote(uint32_t, uint32_t, const char*, const uint32_t*, uint32_t, uint32_t*, uint32_t)
{
    return -1;
}

int32_t DefaultDescriptorMemory(uint32_t node, uint32_t bytes, _MP_BAND_ST* band)
{
    return SysDmaBufferAlloc(node << 16, bytes, 1, 8, band);
}

MpBufRemoteFn g_remote = NoRemote;
MpBufDmaFn g_dma = DefaultDescriptorMemory;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T>
T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

_NODE_MAIN_RESOURCE_ST* Record(uint32_t node)
{
    return mp_core_node_record(node & 0xFF);
}

uint32_t OwnNode()
{
    const uint32_t n = mp_sys_this_node_id();
    if (n) return n & 0xFF;
    _NODE_MAIN_RESOURCE_ST* own = imNodeSt ? mp_sys_own_record(imNodeSt) : nullptr;
    return own ? static_cast<uint32_t>(own->nodeNumber) & 0xFF : 0;
}

heap* DescriptorHeap(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (!r) return nullptr;
    if (r->heaps[5]) return r->heaps[5];
    int32_t bytes = 0;
    if (HlcGetHostHooks().iniReadInt(node & 0xFF, "ReservedHostSpaceForLcBuffers", &bytes) != 0 || bytes <= 0)
        bytes = 65536;
    _MP_BAND_ST band{};
    const int32_t handle = g_dma(node & 0xFF, static_cast<uint32_t>(bytes), &band);
    if (handle == 0 || handle == -1 || band.mapped == 0) return nullptr;
    heap* h = mp_mem_new_heap(nullptr, band.mapped, static_cast<uint32_t>(bytes), 0);
    if (!h) {
        SysDmaBufferFree(node << 16, &band);
        return nullptr;
    }
    g_descBlock[node & 0xFF] = band;
    r->heaps[5] = h;
    return h;
}

// Bus address of an address inside the node's descriptor heap.
uint32_t DescriptorBus(uint32_t node, uint32_t address)
{
    const _MP_BAND_ST& b = g_descBlock[node & 0xFF];
    if (!b.mapped || address < b.mapped) return 0;
    return address - b.mapped + b.physical;
}

// The heap of a heap location of the record, following the fall-backs of the table.
heap* LocationHeap(_NODE_MAIN_RESOURCE_ST* r, uint32_t location)
{
    switch (location) {
    case kLocSdram: return r->heaps[0];
    case kLocDisplayAny: return r->heaps[3] ? r->heaps[3] : r->heaps[4];
    case kLocDisplay0: return r->heaps[1] ? r->heaps[1] : r->heaps[2];
    case kLocDisplay2M: return r->heaps[2];
    case kLocDisplay4M: return r->heaps[3] ? r->heaps[3] : r->heaps[4];
    case kLocControllerHeap: return r->heaps[4];
    default: return nullptr;
    }
}

bool IsDisplayHeapLocation(uint32_t location)
{
    return location == kLocDisplayAny || location == kLocDisplay0 || location == kLocDisplay2M ||
           location == kLocDisplay4M || location == kLocControllerHeap;
}

void TypeWords(_MP_BUF_ST* b, uint32_t type)
{
    b->type = type;
    b->bits = type & 255;
    if (type & kBufTypeBinary) b->typeClass = kBufTypeBinary;
    else if (type & kBufTypeFloat) b->typeClass = kBufTypeFloat;
    else if (type & kBufTypeSigned) b->typeClass = kBufTypeSigned;
    else b->typeClass = 0;
}

// A zeroed descriptor block of the node's heap with its header words filled.
_MP_BUF_ST* NewDescriptor(uint32_t node, uint32_t bytes, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                          uint32_t pitch)
{
    auto* b = static_cast<_MP_BUF_ST*>(mp_buf_desc_alloc(node, bytes));
    if (!b) return nullptr;
    std::memset(b, 0, bytes);
    uint32_t physical = 0;
    b->busAddress = SysGetPhysicalAddr(b, &physical) == 0 ? physical : DescriptorBus(node, Word(b));
    b->node = node;
    b->owner = mp_buf_current_owner();
    b->sizeX = sizeX;
    b->sizeY = sizeY;
    b->pitch = pitch;
    b->bands = bands;
    TypeWords(b, type);
    b->kind = kBufKindImage;
    b->bandTable = bands ? reinterpret_cast<_MP_BAND_ST*>(b + 1) : nullptr;
    return b;
}

// Gives the first n bands' memory back to the heap.
void GiveBack(heap* h, _MP_BUF_ST* b, uint32_t n)
{
    if (!h) return;
    mp_mem_lock();
    for (uint32_t i = 0; i < n; ++i) {
        if (b->bandTable[i].mapped) mp_mem_free(h, b->bandTable[i].mapped);
        b->bandTable[i] = _MP_BAND_ST{};
    }
    mp_mem_unlock();
}

// Takes every band from one heap location; false (nothing kept) when one band fails.
bool BandsFromHeap(_NODE_MAIN_RESOURCE_ST* r, _MP_BUF_ST* b, uint32_t location, uint32_t alignment,
                   uint32_t bandBytes)
{
    heap* h = LocationHeap(r, location);
    if (!h) return false;
    const _NODE_ST* s = r->nodeState;
    const uint32_t node = static_cast<uint32_t>(r->nodeNumber) & 0xFF;
    for (uint32_t i = 0; i < b->bands; ++i) {
        mp_mem_lock();
        const uint32_t a = mp_mem_memalign(h, alignment, bandBytes);
        mp_mem_unlock();
        if (!a) {
            GiveBack(h, b, i);
            return false;
        }
        _MP_BAND_ST& band = b->bandTable[i];
        band.mapped = a;
        if (location == kLocSdram) band.physical = mp_util_virtual_to_pci(node, a);
        else band.physical = s ? a - r->chipFrame + s->frameWindow : 0;
    }
    return true;
}

} // namespace

// ---- sizes -----------------------------------------------------------------------------

uint32_t mp_buf_descriptor_bytes(uint32_t bands)
{
    return (bands + 10) * 16 - (((bands - 2) * 16) & 63);
}

uint32_t mp_buf_new_pitch(uint32_t bits, uint32_t sizeX)
{
    const uint64_t lineBits = static_cast<uint64_t>(bits) * sizeX;
    const uint64_t bytes = lineBits / 8 + (lineBits % 8 ? 1 : 0);
    return static_cast<uint32_t>((bytes + 3) & ~static_cast<uint64_t>(3));
}

uint32_t mp_buf_id_kind_bits(uint32_t location)
{
    switch (location) {
    case kLocHostDma: return kIdKindHostDma;
    case kLocPaged: return kIdKindPaged;
    case kLocSdram: return 0;
    case kLocControllerHeap: return kIdKindController;
    default: return kIdKindOther;
    }
}

bool mp_buf_type_known(uint32_t type)
{
    type &= ~kBufAlign64K;
    const uint32_t bits = type & 255;
    switch (type & ~255u) {
    case 0:
    case kBufTypeSigned: return bits == 8 || bits == 16 || bits == 32;
    case kBufTypeFloat: return bits == 32 || bits == 64;
    case kBufTypeBinary: return bits == 1 || bits == 24 || bits == 48;
    default: return false;
    }
}

bool mp_buf_location_known(uint32_t location)
{
    switch (location) {
    case kLocSdram:
    case kLocAutoDisplay:
    case kLocHostDma:
    case kLocPaged:
    case kLocInline:
    case kLocDefault:
    case kLocNoBands:
    case kLocDisplayAny:
    case kLocDisplay0:
    case kLocDisplay2M:
    case kLocDisplay4M:
    case kLocControllerHeap: return true;
    default: break;
    }
    // Fixed frame-buffer locations: 0x60000020 to 0x60000070, low four bits cleared on use.
    const uint32_t fixed = location & ~0xFu;
    return fixed >= 0x60000020u && fixed <= 0x60000070u;
}

// ---- seams -----------------------------------------------------------------------------

MpBufRemoteFn mp_buf_set_remote(MpBufRemoteFn fn)
{
    MpBufRemoteFn old = g_remote;
    g_remote = fn ? fn : NoRemote;
    return old;
}

MpBufDmaFn mp_buf_set_descriptor_memory(MpBufDmaFn fn)
{
    MpBufDmaFn old = g_dma;
    g_dma = fn ? fn : DefaultDescriptorMemory;
    return old;
}

// ---- node helpers ----------------------------------------------------------------------

int mp_buf_is_remote(uint32_t node)
{
    node &= 0xFF;
    if (node == 0 || node == (mp_sys_this_node_id() & 0xFF)) return 0;
    return mp_core_board_processor(Record(node));
}

int mp_buf_call_remote(uint32_t node, uint32_t opcode, const char* name, const uint32_t* params, uint32_t count,
                       uint32_t* reply, uint32_t replyWords)
{
    if (reply) std::memset(reply, 0, replyWords * sizeof(uint32_t));
    return g_remote(node & 0xFF, opcode, name, params, count, reply, replyWords);
}

void* mp_buf_desc_alloc(uint32_t node, uint32_t bytes)
{
    heap* h = DescriptorHeap(node);
    if (!h) return nullptr;
    mp_mem_lock();
    const uint32_t a = mp_mem_memalign(h, 64, bytes);
    mp_mem_unlock();
    if (a) Remember(Ptr<void>(a));
    return Ptr<void>(a);
}

void mp_buf_desc_free(uint32_t node, void* block)
{
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (!block || !r || !r->heaps[5]) return;
    Forget(block);
    mp_mem_lock();
    mp_mem_free(r->heaps[5], Word(block));
    mp_mem_unlock();
}

void mp_buf_sema_wait(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (r && r->nodeState && r->nodeState->bufferSema && TaskTaskingState()) TaskWaitSema(r->nodeState->bufferSema);
}

void mp_buf_sema_signal(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (r && r->nodeState && r->nodeState->bufferSema && TaskTaskingState()) TaskSignalSema(r->nodeState->bufferSema);
}

uint32_t mp_buf_current_owner()
{
    void* argument = TaskGetTaskArg();
    if (!argument || argument == reinterpret_cast<void*>(-1)) return 0;
    const uint32_t a = Word(argument);
    if (a < kPredefEntries) return a | kIdPredefined;
    // The task's argument is its thread object's descriptor (or a node record: both begin
    // with the node word); the word after it is the object's id.
    return static_cast<const uint32_t*>(argument)[1];
}

uint32_t mp_buf_ref_to_id(const _MP_BUF_ST* reference)
{
    const uint32_t r = Word(reference);
    if (r == 0) return 0;
    if (r < kPredefEntries) return r | kIdPredefined;
    return reference->id;
}

uint32_t mp_buf_board_to_host(const _MP_BUF_ST* buffer, uint32_t address)
{
    if (!buffer || !buffer->boardSpace || !address) return address;
    return mp_util_mvp_to_virtual(buffer->node & 0x7FFFFFFF, address);
}

uint32_t mp_buf_display_orlo_address(const _MP_BUF_ST* buffer, uint32_t band)
{
    if (!buffer || !buffer->bandTable || band >= buffer->bands) return 0;
    const _MP_BAND_ST& t = buffer->bandTable[band];
    const _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(buffer->node & 0xFF);
    if (!r || !r->displayMemory || !r->displayMemorySize || t.mapped < r->displayMemory ||
        t.mapped - r->displayMemory >= r->displayMemorySize)
        return 0;
    return t.mapped - r->displayMemory + (kDisplayMemoryTop - r->displayMemorySize);
}

void mp_buf_place_on_display_orlo(const _MP_BUF_ST* buffer, uint32_t* const frame[4])
{
    // How far each band moves; a band outside the memory (or absent) does not move.
    uint32_t move[4] = {};
    for (uint32_t band = 0; band < 4; ++band) {
        const uint32_t local = mp_buf_display_orlo_address(buffer, band);
        if (!local) continue;
        const _MP_BAND_ST& t = buffer->bandTable[band];
        move[band] = local - (t.physical ? t.physical : t.mapped);
    }
    if (!move[0]) return;
    for (uint32_t i = 0; i < 4; ++i) {
        if (!frame[i]) continue;
        // The start moves with band 0; an offset from it only by the band's own move less
        // band 0's (none for a band that is not there: the offset then stays in band 0).
        const uint32_t by = i == 0 ? move[0] : (move[i] ? move[i] - move[0] : 0);
        uint32_t& reg = *frame[i];
        reg = (reg & ~kGrabAddressMask) | ((reg + by) & kGrabAddressMask);
    }
}

void mp_buf_exit_all()
{
    for (uint32_t n = 0; n < 256; ++n) {
        if (g_tables[n]) {
            safe_free(g_tables[n]->slots);
            safe_free(g_tables[n]);
            g_tables[n] = nullptr;
        }
        DeleteDescriptorHeap(n ? Record(n) : nullptr);
        if (g_descBlock[n].id != 0 && g_descBlock[n].mapped) SysDmaBufferFree(n << 16, &g_descBlock[n]);
        g_descBlock[n] = _MP_BAND_ST{};
    }
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.clear();
}

void mp_buf_exit_node(uint32_t node)
{
    node &= 0xFF;
    if (node == 0) return;
    if (IdTable* t = g_tables[node]) {
        // Every descriptor still named by an id goes with its memory; a child freed with
        // its parent is no longer live and is passed over.
        for (uint32_t i = 0; i < t->capacity; ++i) {
            _MP_BUF_ST* b = t->slots[i];
            t->slots[i] = nullptr;
            if (!b || !IsLive(b)) continue;
            // Host memory of a root its caller never freed goes with the node: the DMA
            // blocks of a host DMA buffer, the heap bands of a paged one the library made.
            const bool dma = b->location == kLocHostDma && !(b->id & kIdGivenMemory);
            const bool heapBands = b->location == kLocPaged && (b->id & 0x9000000u) == 0x9000000u;
            for (uint32_t n = 0; !b->parent && b->bandTable && n < b->bands; ++n) {
                if (dma && b->bandTable[n].id != 0) SysDmaBufferFree(node << 16, &b->bandTable[n]);
                if (heapBands) std::free(Ptr<void>(b->bandTable[n].third));
            }
            // A paged root still locked keeps the copies of its page lists that the node
            // took at the lock; no unlock will come for them now.
            if (!b->parent && b->location == kLocPaged && b->lockCount > 0) mp_buf_unlock_paged(b);
            mp_buf_free(b);
        }
        safe_free(t->slots);
        safe_free(t);
        g_tables[node] = nullptr;
    }
    DeleteDescriptorHeap(Record(node));
    if (g_descBlock[node].id != 0 && g_descBlock[node].mapped) SysDmaBufferFree(node << 16, &g_descBlock[node]);
    g_descBlock[node] = _MP_BAND_ST{};
}

// ---- id table --------------------------------------------------------------------------

int mp_buf_init(uint32_t node, uint32_t capacity, uint32_t step)
try {
    if (node == 0) node = OwnNode();
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (!r) return -1;
    if (g_tables[node] || mp_core_board_processor(r)) return 0;
    auto* t = static_cast<IdTable*>(safe_malloc(sizeof(IdTable)));
    auto* slots = static_cast<_MP_BUF_ST**>(safe_malloc((capacity ? capacity : 1) * sizeof(_MP_BUF_ST*)));
    if (!t || !slots) {
        safe_free(t);
        safe_free(slots);
        return -1;
    }
    std::memset(slots, 0, (capacity ? capacity : 1) * sizeof(_MP_BUF_ST*));
    t->capacity = capacity;
    t->step = step;
    t->slots = slots;
    g_tables[node] = t;
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_init, -1)

MP_BUF_ID mp_buf_alloc_id(_MP_BUF_ST* buffer)
try {
    if (!buffer) return 0;
    if (buffer->id) return buffer->id;
    const uint32_t node = buffer->node & 0xFF;
    if (!Record(node)) return 0;
    const uint32_t kind = mp_buf_id_kind_bits(buffer->location);
    IdTable* t = g_tables[node];
    if (!t) {
        buffer->id = kind;
        return buffer->id;
    }
    mp_buf_sema_wait(node);
    uint32_t slot = 0;
    for (;;) {
        while (slot < t->capacity && t->slots[slot]) ++slot;
        if (slot < t->capacity) break;
        // Slot numbers must fit bits 0-15 as slot + 1.
        const uint32_t grown = t->capacity + t->step;
        if (t->step == 0 || grown > 0xFFFF) {
            mp_buf_sema_signal(node);
            return 0;
        }
        auto* bigger = static_cast<_MP_BUF_ST**>(safe_malloc(grown * sizeof(_MP_BUF_ST*)));
        if (!bigger) {
            mp_buf_sema_signal(node);
            return 0;
        }
        std::memset(bigger, 0, grown * sizeof(_MP_BUF_ST*));
        std::memcpy(bigger, t->slots, t->capacity * sizeof(_MP_BUF_ST*));
        safe_free(t->slots);
        t->slots = bigger;
        t->capacity = grown;
    }
    t->slots[slot] = buffer;
    buffer->id = ((slot + 1) | (node << 16)) + kind;
    mp_buf_sema_signal(node);
    return buffer->id;
}
HLC_EXPORT_CATCH(mp_buf_alloc_id)

int mp_buf_is_id_valid(MP_BUF_ID id)
try {
    const uint32_t node = (id >> 16) & 0xFF;
    const IdTable* t = g_tables[node];
    const uint32_t slot = id & kIdSlotMask;
    if (!t || slot == 0 || slot > t->capacity) return 0;
    return t->slots[slot - 1] ? 1 : 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_is_id_valid, 0)

uint32_t mp_buf_id_slots(uint32_t node)
{
    const IdTable* t = g_tables[node & 0xFF];
    return t ? t->capacity : 0;
}

_MP_BUF_ST* mp_buf_id_slot(uint32_t node, uint32_t slot)
{
    const IdTable* t = g_tables[node & 0xFF];
    return t && slot < t->capacity ? t->slots[slot] : nullptr;
}

// ---- lookup ----------------------------------------------------------------------------

_MP_BUF_ST* mp_buf_pointer(MP_BUF_ID id)
try {
    if (id & kIdPredefined) {
        const uint32_t current = mp_sys_this_node_id() & 0xFF;
        _NODE_MAIN_RESOURCE_ST* cr = Record(current);
        if (current && cr && !mp_core_board_processor(cr)) {
            const uint32_t base = id & 0xBF00FFFFu;
            bool found = false;
            for (uint32_t i = 0; i < 16 && base + i < kPredefEntries; ++i) {
                const uint32_t e = PreDefBufAddress[base + i];
                if (e > 1 && IsLive(Ptr<void>(e)) && (Ptr<_MP_BUF_ST>(e)->node & 0xFF) == current) {
                    id += i;
                    found = true;
                    break;
                }
            }
            if (!found) return nullptr;
        }
        const uint32_t index = (id & 0xF8FFFFFFu) & 0xBF00FFFFu;
        if (index >= kPredefEntries) return nullptr;
        const uint32_t e = PreDefBufAddress[index];
        if (e == 1) return nullptr;
        if (e == 0) return Ptr<_MP_BUF_ST>(id & 0xF8FFFFFFu & 0xBFFFFFFFu);
        return Ptr<_MP_BUF_ST>(e);
    }
    const uint32_t node = (id >> 16) & 0xFF;
    if (mp_buf_is_remote(node)) {
        const uint32_t params[2] = {id, 400};
        uint32_t reply[3];
        if (mp_buf_call_remote(node, 36, "mp_buf_buf_pointer", params, 2, reply, 3) != 0 || reply[0] == 0)
            return nullptr;
        const uint32_t host = reply[1] ? mp_util_pci_to_virtual(node, reply[0]) : reply[2];
        if (!host) return nullptr;
        Remember(Ptr<void>(host));
        return Ptr<_MP_BUF_ST>(host);
    }
    const IdTable* t = g_tables[node];
    const uint32_t slot = id & kIdSlotMask;
    if (!t || slot == 0 || slot > t->capacity) return nullptr;
    _MP_BUF_ST* b = t->slots[slot - 1];
    // A slot reused by another buffer does not answer for the old id.
    if (b && b->id != id) return nullptr;
    return b;
}
HLC_EXPORT_CATCH(mp_buf_pointer)

int mp_buf_valid(const _MP_BUF_ST* reference, uint32_t expected)
try {
    const uint32_t r = Word(reference);
    if (r < kPredefEntries) return (expected & kIdPredefined) && r != 0 ? 1 : 0;
    if (!IsLive(reference)) return 0;
    if (reference->location == kLocPaged && !(expected & 0x80000000u)) return 0;
    if (!(expected & kIdPredefined) && (reference->id & 0x60000000u)) return 0;
    const uint32_t kind = expected & 0x3FFFFFFFu;
    if (kind && kind != reference->kind) return 0;
    return 1;
}
HLC_EXPORT_CATCH_AS(mp_buf_valid, 0)

void* mp_buf_address_band_internal(const _MP_BUF_ST* buffer, uint32_t band)
try {
    if (!buffer || !buffer->bandTable || band >= buffer->bands) return nullptr;
    const _MP_BAND_ST& b = buffer->bandTable[band];
    if (buffer->location == kLocPaged) return Ptr<void>(b.third);
    if (buffer->location == kLocHostDma) {
        _NODE_MAIN_RESOURCE_ST* r = Record(buffer->node & 0x7FFFFFFF);
        if (!r) return nullptr;
        HlcNodeLink link;
        link.node = static_cast<uint32_t>(r->nodeNumber);
        link.device = r->device;
        link.overlapped = r->nodeEvent;
        link.dmaRegions = r->dmaRegions;
        const uint64_t bytes = static_cast<uint64_t>(buffer->pitch) * static_cast<uint32_t>(buffer->sizeY);
        return Ptr<void>(mp_sys_map_hw_physical_address(&link, static_cast<uint32_t>(-1), b.physical,
                                                        static_cast<uint32_t>(bytes)));
    }
    if (buffer->boardSpace && buffer->location != kLocInline) return Ptr<void>(mp_buf_board_to_host(buffer, b.mapped));
    return Ptr<void>(b.mapped);
}
HLC_EXPORT_CATCH(mp_buf_address_band_internal)

_MP_BUF_ST* mp_buf_parent(const _MP_BUF_ST* buffer)
try {
    if (!buffer || !buffer->parent) return nullptr;
    return Ptr<_MP_BUF_ST>(mp_buf_board_to_host(buffer, Word(buffer->parent)));
}
HLC_EXPORT_CATCH(mp_buf_parent)

uint32_t mp_buf_buf_pointer(const _MP_BUF_ST* buffer)
try {
    return buffer ? buffer->busAddress : 0;
}
HLC_EXPORT_CATCH(mp_buf_buf_pointer)

void mp_buf_flush_buf_st() try {}
HLC_EXPORT_CATCH(mp_buf_flush_buf_st)

// ---- allocation ------------------------------------------------------------------------

_MP_BUF_ST* mp_buf_alloc_on_node(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                                 uint32_t location)
try {
    node &= 0xFF;
    if (node == 0) return nullptr;
    const uint32_t alignment = (type & kBufAlign64K) ? 65536u : 64u;
    type &= 0x7FFFFFFFu;
    if (sizeX < 0 || sizeY < 0 || bands > 0xFFFF) return nullptr;
    const uint32_t current = mp_sys_this_node_id() & 0xFF;
    // The descriptor names the current task's node (the target outside the kernel).
    const uint32_t descNode = current ? current : node;
    if (current && mp_buf_is_remote(node)) {
        const uint32_t params[6] = {static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY), bands, type, location,
                                    0};
        uint32_t reply[1];
        if (mp_buf_call_remote(node, 17, "mp_buf_alloc_on_node", params, 6, reply, 1) != 0 || !reply[0])
            return nullptr;
        return mp_buf_pointer(reply[0]);
    }
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (!r) return nullptr;
    if (location == kLocDefault) location = r->primaryMemory ? kLocSdram : kLocAutoDisplay;
    uint32_t pitch = mp_buf_new_pitch(type & 255, static_cast<uint32_t>(sizeX));
    const bool fixed = (location & 0x60000000u) == 0x60000000u;
    if (fixed) {
        location &= ~0xFu;
        if (pitch == 800) pitch = 960;
    }
    const uint64_t band64 = static_cast<uint64_t>(pitch) * static_cast<uint32_t>(sizeY);
    if (band64 > 0xFFFFFFFFu) return nullptr;
    const uint32_t bandBytes = static_cast<uint32_t>(band64);
    uint64_t bytes64 = mp_buf_descriptor_bytes(bands);
    if (location == kLocInline) {
        bytes64 += static_cast<uint64_t>(bands) * bandBytes;
        bytes64 = (bytes64 + 64) & ~static_cast<uint64_t>(63);
    }
    if (bytes64 > 0xFFFFFFFFu) return nullptr;

    mp_buf_sema_wait(node);
    _MP_BUF_ST* b = NewDescriptor(descNode, static_cast<uint32_t>(bytes64), sizeX, sizeY, bands, type, pitch);
    if (!b) {
        mp_buf_sema_signal(node);
        return nullptr;
    }
    const _NODE_ST* s = r->nodeState;
    bool ok = true;
    if (bands) {
        if (location == kLocAutoDisplay) {
            ok = false;
            if (r->chipFrame) {
                uint32_t try_ = r->displayMemoryWord == 0x600000 ? kLocDisplay0 : kLocDisplay4M;
                for (;;) {
                    if (BandsFromHeap(r, b, try_, alignment, bandBytes)) {
                        ok = true;
                        location = try_;
                        break;
                    }
                    if (try_ == kLocDisplay0) try_ = kLocDisplay2M;
                    else if (try_ == kLocDisplay2M) try_ = kLocDisplay4M;
                    else break;
                }
            }
        } else if (location == kLocSdram) {
            ok = BandsFromHeap(r, b, location, alignment, bandBytes);
        } else if (IsDisplayHeapLocation(location)) {
            ok = r->chipFrame && BandsFromHeap(r, b, location, alignment, bandBytes);
        } else if (location == kLocInline) {
            const uint32_t first = Word(b) + mp_buf_descriptor_bytes(bands);
            for (uint32_t i = 0; i < bands; ++i) {
                b->bandTable[i].mapped = first + i * bandBytes;
                b->bandTable[i].physical = DescriptorBus(descNode, b->bandTable[i].mapped);
            }
        } else if (fixed) {
            const uint32_t plain = location & ~kLocFixedBit;
            for (uint32_t i = 0; i < bands; ++i) {
                _MP_BAND_ST& band = b->bandTable[i];
                if (location == 0x60000070u) {
                    band.mapped = r->displayMemory;
                    band.physical = s ? s->displayWindow : 0;
                    continue;
                }
                uint32_t offset = 0;
                if (plain == kLocDisplay2M) offset = 0x200000;
                else if (plain == kLocDisplay4M || plain == kLocDisplayAny) offset = 0x400000;
                else if (plain == 0x40000030u) offset = i * 0x200000;
                if (!r->chipFrame) {
                    ok = false;
                    break;
                }
                band.mapped = r->chipFrame + offset;
                band.physical = s ? s->frameWindow + offset : 0;
            }
        } else if (location != kLocHostDma && location != kLocPaged && location != kLocNoBands) {
            for (uint32_t i = 0; i < bands; ++i) {
                b->bandTable[i].mapped = location;
                b->bandTable[i].physical = mp_util_virtual_to_pci(node, location);
            }
        }
    }
    if (!ok) {
        mp_buf_desc_free(descNode, b);
        mp_buf_sema_signal(node);
        return nullptr;
    }
    b->location = location & ~kLocFixedBit;
    mp_buf_sema_signal(node);
    return b;
}
HLC_EXPORT_CATCH(mp_buf_alloc_on_node)

_MP_BUF_ST* mp_buf_create(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                          uint32_t memoryKind, uint32_t pitch, const uint32_t* addresses)
try {
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    if (!r || sizeX < 0 || sizeY < 0 || bands > 0xFFFF || (bands && !addresses)) return nullptr;
    mp_buf_sema_wait(node);
    _MP_BUF_ST* b = NewDescriptor(node, mp_buf_descriptor_bytes(bands), sizeX, sizeY, bands, type, pitch);
    if (!b) {
        mp_buf_sema_signal(node);
        return nullptr;
    }
    const _NODE_ST* s = r->nodeState;
    if (memoryKind == 5) {
        uint32_t location = kLocHostDma;
        if (bands && s) {
            const uint32_t a = addresses[0];
            auto inside = [a](uint32_t base, uint32_t size) {
                return size && a >= base && static_cast<uint64_t>(a) <= static_cast<uint64_t>(base) + size - 1;
            };
            if (inside(s->primaryWindow, s->orlo[0].memorySize)) location = kLocSdram;
            else if (inside(s->frameWindow, s->chip.frameSize)) location = kLocAutoDisplay;
        }
        for (uint32_t i = 0; i < bands; ++i) {
            _MP_BAND_ST& band = b->bandTable[i];
            band.physical = addresses[i];
            band.mapped = b->boardSpace ? mp_util_pci_to_mvp(node, addresses[i]) : addresses[i];
            band.third = 0;
            if (location == kLocSdram || location == kLocAutoDisplay)
                band.mapped = mp_util_pci_to_virtual(node, addresses[i]);
        }
        b->location = location;
    } else if (memoryKind == 4 || memoryKind == 7) {
        for (uint32_t i = 0; i < bands; ++i) {
            b->bandTable[i] = _MP_BAND_ST{};
            b->bandTable[i].third = addresses[i];
        }
        b->location = kLocPaged;
    } else if (memoryKind == 0x10000000u) {
        for (uint32_t i = 0; i < bands; ++i) {
            _MP_BUF_ST* src = mp_buf_pointer(addresses[i]);
            if (!src || !IsLive(src) || !src->bandTable || src->bands == 0) {
                // A band over no buffer would leave the descriptor pointing nowhere.
                mp_buf_desc_free(node, b);
                mp_buf_sema_signal(node);
                return nullptr;
            }
            b->bandTable[i].mapped = src->bandTable[0].mapped;
            b->bandTable[i].third = src->bandTable[0].third;
            b->bandTable[i].physical = src->bandTable[0].physical;
            if (i == 0) {
                b->location = src->location;
                b->sizeX = src->sizeX;
                b->sizeY = src->sizeY;
                b->pitch = src->pitch;
                TypeWords(b, src->type);
            }
        }
    } else if (memoryKind <= 3 || memoryKind == 6) {
        b->location = 0;
    }
    mp_buf_sema_signal(node);
    return b;
}
HLC_EXPORT_CATCH(mp_buf_create)

// ---- release ---------------------------------------------------------------------------

namespace {

// Disables and frees the timers of a timer-record buffer's band 0.
void FreeTimers(const _MP_BUF_ST* timers)
{
    auto* p = static_cast<uint8_t*>(mp_buf_address_band_internal(timers, 0));
    if (!p) return;
    const uint64_t limit = static_cast<uint64_t>(timers->pitch) * static_cast<uint32_t>(timers->sizeY);
    uint64_t at = 0;
    while (at + 16 <= limit) {
        uint32_t rec[4];
        std::memcpy(rec, p + at, sizeof rec);
        if (rec[0] == kTimerRecordMagic && rec[3]) {
            auto* t = Ptr<TimerRecord>(rec[3]);
            TimerDisable(t);
            TimerFree(t);
        }
        if (!rec[2] || rec[1] == 0) break;
        at += rec[1];
    }
}

} // namespace

void mp_buf_free(_MP_BUF_ST* buffer)
try {
    if (!buffer || Word(buffer) < kPredefEntries || !IsLive(buffer)) return;
    const uint32_t node = buffer->node & 0xFF;
    if (mp_buf_is_remote(node)) {
        const uint32_t params[1] = {buffer->id};
        mp_buf_call_remote(node, 29, "mp_buf_free", params, 1, nullptr, 0);
        return;
    }
    _NODE_MAIN_RESOURCE_ST* r = Record(node);
    mp_buf_sema_wait(node);
    _MP_BUF_ST* timers = nullptr;
    if (buffer->parent) {
        _MP_BUF_ST* root = mp_buf_parent(buffer);
        if (root && IsLive(root) && root->children > 0) --root->children;
    } else if (r) {
        uint32_t id = buffer->id;
        uint32_t location = buffer->location;
        if ((id & kIdGivenMemory) && (id & kIdKindOther)) {
            location = kLocControllerHeap;
            id &= ~kIdGivenMemory;
        }
        heap* h = LocationHeap(r, location);
        if (location == kLocDisplayAny) h = nullptr;   // stored locations never hold the alias
        if (h && !(id & kIdGivenMemory) && buffer->bandTable) {
            mp_mem_lock();
            for (uint32_t i = 0; i < buffer->bands; ++i) {
                const uint32_t a = Word(mp_buf_address_band_internal(buffer, i));
                if (a) mp_mem_free(h, a);
            }
            mp_mem_unlock();
        }
    }
    for (_MP_FIELD_ST* f = buffer->fieldList; f;) {
        _MP_FIELD_ST* next = f->link;
        if (f->key == kBufKeyTimers) {
            double v;
            std::memcpy(&v, f->value, sizeof v);
            const uint32_t ref = static_cast<uint32_t>(static_cast<int64_t>(v));
            if (ref >= kPredefEntries && IsLive(Ptr<void>(ref))) timers = Ptr<_MP_BUF_ST>(ref);
        }
        mp_buf_desc_free(node, f);
        f = next;
    }
    buffer->fieldList = nullptr;
    buffer->fieldCount = 0;
    if (timers) FreeTimers(timers);
    IdTable* t = g_tables[node];
    const uint32_t slot = buffer->id & kIdSlotMask;
    if (t && slot && slot <= t->capacity && t->slots[slot - 1] == buffer) t->slots[slot - 1] = nullptr;
    mp_buf_desc_free(node, buffer);
    mp_buf_sema_signal(node);
    if (timers && timers != buffer) mp_buf_free(timers);
}
HLC_EXPORT_CATCH(mp_buf_free)
