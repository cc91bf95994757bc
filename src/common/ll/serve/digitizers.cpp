// Node set requests, grab interrupt sources of external modules, the digitizer list of a
// system and the rectangle utilities.
#include "digitizers.h"

#include "driverreq.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"
#include "regmap/orlo_regs.h"
#include "reqres.h"

#include <cstring>
#include <initializer_list>

namespace {

uint32_t* BandWords(const _MP_BUF_ST* entry)
{
    return static_cast<uint32_t*>(mp_buf_address_band_internal(entry, 0));
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

_MP_BUF_ST* Descriptor(uint32_t address)
{
    return reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(address));
}

uint32_t SystemOf(uint32_t node)
{
    return (node >> 4) & 15;
}

// A listed digitizer entry: a valid kind-5 descriptor with its band.
bool IsEntry(const _MP_BUF_ST* entry)
{
    return entry && mp_buf_valid(entry, kBufKindDigitizer) && BandWords(entry);
}

// The next entry of a chain, null at its end.  A chain never holds more entries than the
// id table has slots; the walkers stop after kMaxEntries to stay finite on a broken link.
constexpr int kMaxEntries = 0x10000;
_MP_BUF_ST* NextEntry(const _MP_BUF_ST* entry)
{
    const uint32_t next = BandWords(entry)[kDigWordNext];
    if (!next) return nullptr;
    _MP_BUF_ST* b = mp_buf_pointer(next);
    return IsEntry(b) ? b : nullptr;
}

// A new entry of the serving node's descriptors: kind 5, band cleared, words 0, 1, 3, 4
// and 5 filled.  Null when no descriptor or id can be had.
_MP_BUF_ST* NewEntry(uint32_t node, uint32_t number, uint32_t system, uint32_t digitizerNode)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(node, kDigEntryBytes, 1, 1, 8, kLocInline);
    if (!b) return nullptr;
    if (!mp_buf_alloc_id(b)) {
        mp_buf_free(b);
        return nullptr;
    }
    b->kind = kBufKindDigitizer;
    uint32_t* w = BandWords(b);
    if (!w) {
        mp_buf_free(b);
        return nullptr;
    }
    std::memset(w, 0, kDigEntryBytes);
    mp_buf_flush_buf_st();
    w[kDigWordId] = b->id;
    w[kDigWordNumber] = number;
    w[kDigWordSystem] = system;
    w[kDigWordNode] = digitizerNode;
    w[kDigWordValid] = 1;
    return b;
}

// The first record of the node list with a positive node number.
_NODE_MAIN_RESOURCE_ST* FirstRecord()
{
    return mp_sys_node_resource_ptr(0xFFFFFFFFu);
}

// The cached head of the serving node, joined from another node of its system, or made
// when the node is a digitizer.  Null when none can be had (an error logged only when
// the node has no state or the head cannot be allocated).
_MP_BUF_ST* Head(MP_RESOURCE_ST* resource)
{
    _NODE_MAIN_RESOURCE_ST* record = resource->record;
    _NODE_ST* state = record ? record->nodeState : nullptr;
    if (!state) {
        _mp_res_log_error(resource, HLC_ERR_NOT_PRESENT, nullptr);
        return nullptr;
    }
    if (state->digitizerList[2]) return Descriptor(state->digitizerList[2]);
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    // Join a list that another node of the system offers.  The whole node list is
    // searched: a node listed before this one may have made the head.
    for (_NODE_MAIN_RESOURCE_ST* r = FirstRecord(); r; r = r->next) {
        if (r == record || r->nodeNumber <= 0) continue;
        const _NODE_ST* other = r->nodeState;
        if (!other || SystemOf(static_cast<uint32_t>(r->nodeNumber)) != SystemOf(node)) continue;
        if (!other->digitizerList[1] || !other->digitizerShared) continue;
        // A node served in this process shares its address space; a board processor's
        // list is reached through its bus address.
        const uint32_t host = mp_core_board_processor(r) ? mp_util_pci_to_virtual(node, other->digitizerList[1])
                                                         : other->digitizerList[2];
        if (!host) continue;
        state->digitizerList[2] = host;
        state->digitizerList[1] = other->digitizerList[1];
        return Descriptor(host);
    }
    // A node that is no digitizer and finds no list to join has none: not an error of
    // the head request (every node open asks for it), only of an entry request.
    if (!isValidDigitizer(&state->nodeInfo)) return nullptr;
    _MP_BUF_ST* head = NewEntry(node, 0, SystemOf(node) - 1, node);
    if (!head) {
        _mp_res_log_error(resource, HLC_ERR_NO_RESOURCES, nullptr);
        return nullptr;
    }
    const uint32_t address = Word(head);
    uint32_t bus = mp_util_virtual_to_pci(node, address);
    if (!bus) bus = head->busAddress;
    state->digitizerList[0] = head->id;
    state->digitizerList[1] = bus;
    state->digitizerList[2] = address;
    return head;
}

// The node of the n-th digitizer (from 0) of the system in node-list order, 0 none.
uint32_t NthDigitizerNode(uint32_t system, int32_t number)
{
    int32_t seen = 0;
    for (_NODE_MAIN_RESOURCE_ST* r = FirstRecord(); r; r = r->next) {
        if (r->nodeNumber <= 0 || !r->nodeState) continue;
        const uint32_t node = static_cast<uint32_t>(r->nodeNumber) & 0xFF;
        if (SystemOf(node) != system || !isValidDigitizer(&r->nodeState->nodeInfo)) continue;
        if (seen++ == number) return node;
    }
    return 0;
}

} // namespace

// ---- node set ---------------------------------------------------------------------------

namespace {
int32_t NodeSetRequest(uint32_t node, uint32_t argument, bool add)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node & 0xFF);
    if (!record || (node & 0xFF) == 0) return -1;
    uint32_t answer = 0;
    const bool ok = add ? HlcDrvNodeSetAdd(record->device, record->nodeEvent, argument, &answer)
                        : HlcDrvNodeSetRemove(record->device, record->nodeEvent, argument, &answer);
    return ok ? static_cast<int32_t>(answer) : -1;
}
} // namespace

int32_t mp_sys_add_node_to_nodes(uint32_t deviceId)
{
    return NodeSetRequest((deviceId >> 16) & 0xFF, deviceId, true);
}

int32_t mp_sys_remove_node_to_nodes(uint32_t node)
{
    return NodeSetRequest(node, node, false);
}

// ---- grab interrupt sources ---------------------------------------------------------------

namespace {
uint32_t PortByte(uint32_t port, uint32_t offset)
{
    return HwRead32(port, offset) & 0xFF;
}
uint32_t PortPair(uint32_t port, uint32_t low, uint32_t high)
{
    return PortByte(port, low) | (PortByte(port, high) << 8);
}
void WritePair(uint32_t port, uint32_t low, uint32_t high, uint32_t value)
{
    HwWrite32(port, low, value & 0xFF);
    HwWrite32(port, high, (value >> 8) & 0xFF);
}
uint32_t PortOf(const uint32_t* orlo)
{
    return orlo ? orlo[kOrloResourcePortWord] : 0;
}
} // namespace

void mp_sys_inq_grab_irq_src(uint32_t moduleType, const uint32_t* orlo, uint32_t* out)
{
    const uint32_t port = PortOf(orlo);
    if (!port || !out) return;
    switch (moduleType) {
    case 1: {
        const uint32_t source = PortPair(port, kExtGrabSourceLow1, kExtGrabSourceHigh1);
        *out = (*out & ~0x800u) | (source & 0x800u);
        break;
    }
    case 2:
    case 34: {
        const uint32_t source = PortPair(port, kExtGrabSourceLow2, kExtGrabSourceHigh2);
        *out = (*out & ~kExtGrabAckBit) | (source & kExtGrabAckBit);
        break;
    }
    case 3:
    case 4:
    case 5:
        *out |= (PortByte(port, kExtGrabStatusA) << 16) | (PortByte(port, kExtGrabStatusB) << 21);
        break;
    default:
        break;
    }
}

void mp_sys_clr_grab_irq_src(uint32_t moduleType, const uint32_t* orlo, uint32_t source)
{
    const uint32_t port = PortOf(orlo);
    if (!port) return;
    switch (moduleType) {
    case 3:
    case 4:
    case 5:
        if (source >= 16 && source <= 31 && (source - 16) % 5 == 0)
            HwWrite32(port, kExtGrabClearFirst + kExtGrabClearStep * ((source - 16) / 5), 1);
        break;
    case 1:
        if (source == 11) {
            const uint32_t v = PortPair(port, kExtGrabControlLow, kExtGrabControlHigh);
            WritePair(port, kExtGrabControlLow, kExtGrabControlHigh, v | kExtGrabAckBit);
            WritePair(port, kExtGrabControlLow, kExtGrabControlHigh, v & ~kExtGrabAckBit);
        }
        break;
    case 2:
    case 34:
        if (source == 11) {
            const uint32_t v = PortPair(port, kExtGrabControlLow, kExtGrabControlHigh);
            WritePair(port, kExtGrabControlLow, kExtGrabControlHigh, v & ~kExtGrabAckBit);
            const uint32_t s = PortPair(port, kExtGrabSourceLow2, kExtGrabSourceHigh2);
            WritePair(port, kExtGrabSourceLow2, kExtGrabSourceHigh2, s | kExtGrabAckBit);
            WritePair(port, kExtGrabControlLow, kExtGrabControlHigh, v | kExtGrabAckBit);
        }
        break;
    default:
        break;
    }
}

// ---- digitizer list -----------------------------------------------------------------------

int isValidDigitizer(const uint32_t* nodeInfo)
{
    if (!nodeInfo) return 0;
    constexpr uint32_t kModuleWord = 289 - 25;
    const uint32_t type = nodeInfo[kModuleWord];
    return type >= 1 && type <= 6 ? 1 : 0;
}

_MP_BUF_ST* mp_sys_alloc_dig(MP_RESOURCE_ST* resource, int32_t system, int32_t number)
{
    if (!resource) return nullptr;
    _MP_BUF_ST* head = Head(resource);
    if (system == -1 && number == -1) return head;
    if (!head) {
        if (resource->err.code == 0) _mp_res_log_error(resource, HLC_ERR_NOT_PRESENT, nullptr);
        return nullptr;
    }
    // A listed entry.
    _MP_BUF_ST* last = head;
    int steps = 0;
    for (_MP_BUF_ST* e = head; e && steps < kMaxEntries; e = NextEntry(e), ++steps) {
        uint32_t* w = BandWords(e);
        if (!w) break;
        if (w[kDigWordSystem] == static_cast<uint32_t>(system) && w[kDigWordNumber] == static_cast<uint32_t>(number)) {
            ++w[kDigWordUses];
            return e;
        }
        last = e;
    }
    // A new one: the number-th digitizer node of the serving node's system.
    const uint32_t node = static_cast<uint32_t>(resource->record->nodeNumber) & 0xFF;
    const uint32_t digitizerNode = number < 0 ? 0 : NthDigitizerNode(SystemOf(node), number);
    if (!digitizerNode) {
        _mp_res_log_error(resource, HLC_ERR_NOT_PRESENT, nullptr);
        return nullptr;
    }
    _MP_BUF_ST* entry = NewEntry(node, static_cast<uint32_t>(number), static_cast<uint32_t>(system), digitizerNode);
    if (!entry) {
        _mp_res_log_error(resource, HLC_ERR_NO_RESOURCES, nullptr);
        return nullptr;
    }
    BandWords(last)[kDigWordNext] = entry->id;
    BandWords(entry)[kDigWordUses] = 1;   // this allocation is its first user
    return entry;
}

void mp_sys_count_dig_use(_MP_BUF_ST* entry)
{
    if (uint32_t* w = IsEntry(entry) ? BandWords(entry) : nullptr) ++w[kDigWordUses];
}

void mp_sys_free_dig(MP_RESOURCE_ST* resource, uint32_t digitizerId)
{
    // Only an id that names no digitizer entry is an error; the count of an entry that no
    // one uses stays at 0.
    _MP_BUF_ST* entry = mp_buf_pointer(digitizerId);
    uint32_t* w = IsEntry(entry) ? BandWords(entry) : nullptr;
    if (!w) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    if (static_cast<int32_t>(w[kDigWordUses]) > 0) --w[kDigWordUses];
}

void mp_sys_cam_free_for_dig(MP_RESOURCE_ST* resource, uint32_t cameraId)
{
    if (!resource || !resource->record || !resource->record->nodeState || !cameraId) return;
    _MP_BUF_ST* head = Descriptor(resource->record->nodeState->digitizerList[2]);
    int steps = 0;
    for (_MP_BUF_ST* e = IsEntry(head) ? head : nullptr; e && steps < kMaxEntries; e = NextEntry(e), ++steps) {
        uint32_t* w = BandWords(e);
        if (w[kDigWordCamera] == cameraId) w[kDigWordCamera] = 0;
    }
}

// ---- utilities ----------------------------------------------------------------------------

void mp_util_min_size(const _MP_BUF_ST* a, const _MP_BUF_ST* b, const _MP_BUF_ST* c, const _MP_BUF_ST* d,
                      int32_t* width, int32_t* height)
{
    int32_t w = 0, h = 0;
    bool any = false;
    for (const _MP_BUF_ST* x : {a, b, c, d}) {
        if (!x) continue;
        if (!any || x->sizeX < w) w = x->sizeX;
        if (!any || x->sizeY < h) h = x->sizeY;
        any = true;
    }
    if (width) *width = w;
    if (height) *height = h;
}

int mp_util_rect_in_buf(const _MP_BUF_ST* buffer, int32_t x, int32_t width, int32_t y, int32_t height)
{
    if (!buffer) return -1;
    // A negative position or size would reach outside the buffer as surely as one too
    // large: refused as well.
    if (x < 0 || y < 0 || width < 0 || height < 0) return -1;
    const int64_t bx = buffer->sizeX, by = buffer->sizeY;
    const bool inside = x < bx && width <= bx && int64_t{x} + width <= bx && y < by && height <= by &&
                        int64_t{y} + height <= by;
    return inside ? 0 : -1;
}
