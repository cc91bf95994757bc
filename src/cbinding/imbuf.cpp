// Buffer exports: the command messages of the buffer commands and the host's own share of
// the work (host DMA and paged memory, pixel transfer, host copies, lock and unlock).
#include "imbuf.h"

#include "bufcopy.h"

#include "hostbuf.h"
#include "im_msgio.h"
#include "im_param.h"

#include "bufid.h"
#include "digitizers.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "syncobj.h"
#include "sysutil.h"
#include "w32sync.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// The text of the host side's own parameter checks: a transfer, a clone or a copy naming
// no buffer, or a rectangle outside it.
constexpr const char kBadParameters[] = "Error in function parameters";
constexpr uint32_t kAddressBufferBands = 8;     // more bands travel in an address buffer
constexpr uint32_t kAddressBufferType = 0x10000020u;
constexpr uint32_t kHostBufferBits = kBufIdHostDma | kBufIdPaged;

template <typename T> T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Bands of a board processor's buffer that a pixel transfer reaches.
constexpr uint32_t kBoardBandsMax = 16;


uint32_t NodeOf(uint32_t id)
{
    return (id >> 16) & 0xFF;
}

// A device id goes to its node's system thread object; a thread id to that thread object.
void Send(_MSG_ST* msg, uint32_t device, uint32_t control, uint32_t sync)
{
    if (device & kIdPredefined)
        im_msg_send(msg, 0, device, control, sync);
    else
        im_msg_send(msg, device, kBufRemoteThread | (device & 0xFF0000u), control, sync);
}

uint32_t Result(const _MSG_ST* msg, uint32_t slot)
{
    return static_cast<uint32_t>(im_msg_get_long(msg, slot));
}

uint32_t EndWithId(_MSG_ST* msg, uint32_t id, uint32_t* out)
{
    im_buf_end(msg);
    if (out) *out = id;
    return id;
}

int32_t EndWithError(_MSG_ST* msg)
{
    im_buf_end(msg);
    return im_msg_cmd_error(msg);
}

// An error the export finds itself, with the default text of its code.
void LogDefault(_MSG_ST* msg, int32_t code)
{
    im_msg_log_error(msg, code, HlcErrorText(code));
}

// One command of the form (values...) posted without waiting.
int32_t Post(const char* name, uint32_t opcode, uint32_t device, const uint32_t* values, uint32_t count,
             uint32_t control)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, count, name);
    for (uint32_t i = 0; i < count; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(values[i]));
    Send(&msg, device, control, IM_SYNC_NOWAIT);
    return EndWithError(&msg);
}

// One command of the form (values...) waiting for an id in reply slot 0.
uint32_t AskId(const char* name, uint32_t opcode, uint32_t device, const uint32_t* values, uint32_t count,
               uint32_t* id)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, count, name);
    for (uint32_t i = 0; i < count; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(values[i]));
    Send(&msg, device, 0, IM_SYNC_POLL);
    return EndWithId(&msg, Result(&msg, 0), id);
}

// The inquiry's first result with the conversion of types 400 and 401; the message is
// left to the caller to end or drop.
uint32_t Inquire(_MSG_ST* msg, uint32_t device, uint32_t id, uint32_t type)
{
    im_msg_start(msg, kOpBufInquire, 2, "imBufInquire");
    im_msg_put_long(msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(msg, 1, static_cast<int32_t>(type));
    Send(msg, device, 0, IM_SYNC_POLL);
    uint32_t value = Result(msg, 0);
    if ((type == kBufInquireDescriptor || type == kBufInquireDescriptor2) && value != 0) {
        const uint32_t node = (id & kIdPredefined) ? NodeOf(device) : NodeOf(id);
        value = Result(msg, 1) ? mp_util_pci_to_virtual(node, value) : Result(msg, 2);
    }
    return value;
}

// The location a buffer can really have on the device's node: board SDRAM becomes inline
// memory on a node without an SDRAM window.
uint32_t CheckedLocation(uint32_t device, uint32_t location)
{
    if (location != kLocSdram) return location;
    const _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(NodeOf(device));
    return record && record->primaryMemory == 0 ? kLocInline : location;
}

// The DMA blocks and the info buffer of a host DMA buffer; with `keep` the band table
// stays with the caller (to release the blocks should the node refuse the buffer).
int32_t AllocHost(_MSG_ST* msg, uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                  uint32_t* infoId, _MP_BAND_ST** keep)
{
    *infoId = 0;
    if (keep) *keep = nullptr;
    const uint64_t bandBytes = uint64_t{mp_buf_new_pitch(type & 0xFF, static_cast<uint32_t>(sizeX))} *
                               static_cast<uint32_t>(sizeY);
    if (sizeX <= 0 || sizeY <= 0 || bands == 0 || bands > 0xFFFF || bandBytes > 0xFFFFFFFFu) {
        LogDefault(msg, HLC_ERR_BUFFER_ATTRIBUTE);
        return -1;
    }
    _MP_BAND_ST* table = nullptr;
    const int32_t taken = mp_hostbuf_dma_alloc(device, static_cast<uint32_t>(bandBytes), bands, &table);
    if (taken == -1) {
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
        return -1;
    }
    if (taken != 0) {
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, "Not enough DMA HOST memory");
        return -1;
    }
    const int32_t tableBytes = static_cast<int32_t>(sizeof(_MP_BAND_ST) * bands);
    const uint32_t info = imBufAlloc1d(device, tableBytes, kHostBufInfoType, kHostBufInfoLocation, nullptr);
    if (info == 0) {
        mp_hostbuf_dma_release(device, table, bands);
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, "Not enough PROC memory to hold info for HOST buffer");
        return -1;
    }
    _MSG_ST quiet{};
    const _MP_BUF_ST* infoDescriptor = Ptr<_MP_BUF_ST>(Inquire(&quiet, device, info, kBufInquireDescriptor));
    if (infoDescriptor && infoDescriptor->boardSpace)
        for (uint32_t i = 0; i < bands; ++i) table[i].mapped = mp_util_pci_to_mvp(NodeOf(device), table[i].physical);
    if (imBufPut1d(device, info, 0, tableBytes, table) != 0) {
        imBufFree(device, info);
        mp_hostbuf_dma_release(device, table, bands);
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, "Not enough PROC memory to hold info for HOST buffer");
        return -1;
    }
    if (keep)
        *keep = table;
    else
        std::free(table);
    *infoId = info;
    return 0;
}

enum class Form { Alloc, Alloc2d, Alloc1d };

uint32_t Allocate(const char* name, Form form, uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands,
                  uint32_t type, uint32_t location, uint32_t* id)
{
    _MSG_ST msg{};
    ImBufInnerCalls inner(&msg);
    location = CheckedLocation(device, location);
    const uint32_t opcode = form == Form::Alloc ? kOpBufAlloc : form == Form::Alloc2d ? kOpBufAlloc2d : kOpBufAlloc1d;
    const uint32_t fixed = form == Form::Alloc ? 5 : form == Form::Alloc2d ? 4 : 3;
    im_msg_start(&msg, opcode, fixed + (location == kLocHostDma ? 1 : 0), name);
    // Mend: undefined types and locations (the latter taken as band addresses) and empty sizes were allocated.
    if (sizeX < 1 || sizeY < 1 || bands < 1 || bands > 0xFFFF || !mp_buf_type_known(type) ||
        !mp_buf_location_known(location)) {
        LogDefault(&msg, HLC_ERR_BUFFER_ATTRIBUTE);
        return EndWithId(&msg, 0, id);
    }

    if (location == kLocPaged) {
        // The bands come from the process heap and the node only describes them.
        uint32_t pitch = 0, bandBytes = 0;
        if (mp_hostbuf_paged_layout(form == Form::Alloc, sizeX, sizeY, type, &pitch, &bandBytes) != 0) {
            LogDefault(&msg, HLC_ERR_INVALID_PARAMETER);
            return EndWithId(&msg, 0, id);
        }
        auto* addresses = static_cast<uint32_t*>(std::calloc(bands, sizeof(uint32_t)));
        if (!addresses || mp_hostbuf_paged_alloc(bands, bandBytes, addresses) != 0) {
            std::free(addresses);
            im_msg_log_error(&msg, HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
            return EndWithId(&msg, 0, id);
        }
        const uint32_t made = imBufCreate(device, sizeX, sizeY, bands, type, kBufMemoryLibrary, addresses, pitch, nullptr);
        if (made == 0) mp_hostbuf_paged_release(addresses, bands);
        std::free(addresses);
        inner.Take();
        return EndWithId(&msg, made, id);
    }

    uint32_t info = 0;
    _MP_BAND_ST* table = nullptr;
    if (location == kLocHostDma && AllocHost(&msg, device, sizeX, sizeY, bands, type, &info, &table) != 0)
        return EndWithId(&msg, 0, id);
    uint32_t slot = 0;
    im_msg_put_long(&msg, slot++, sizeX);
    if (form != Form::Alloc1d) im_msg_put_long(&msg, slot++, sizeY);
    if (form == Form::Alloc) im_msg_put_long(&msg, slot++, static_cast<int32_t>(bands));
    im_msg_put_long(&msg, slot++, static_cast<int32_t>(type));
    im_msg_put_long(&msg, slot++, static_cast<int32_t>(location));
    if (info) im_msg_put_long(&msg, slot, static_cast<int32_t>(info));
    Send(&msg, device, 0, IM_SYNC_POLL);
    const uint32_t made = Result(&msg, 0);
    if (info) {
        imBufFree(device, info);
        // The node copied the table into a buffer it made; a refused buffer leaves the
        // blocks with nobody to free them but us.
        if (made == 0)
            mp_hostbuf_dma_release(device, table, bands);
        else
            std::free(table);
        inner.Take();
    }
    return EndWithId(&msg, made, id);
}

// Moves bytes between band memory and the caller's data; band memory may lie in a board
// window, reached only through the hardware accessors.
void Move(uint8_t* at, uint8_t* packed, size_t bytes, uint32_t direction)
{
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at));
    const uint32_t n = static_cast<uint32_t>(bytes);
    const bool window = HwIsWindowAddress(address);
    if (direction == kTransRead) {
        if (window)
            HwReadBlock(address, 0, packed, n);
        else
            std::memcpy(packed, at, bytes);
    } else if (window) {
        HwWriteBlock(address, 0, packed, n);
    } else {
        std::memcpy(at, packed, bytes);
    }
}

// Copies one band under "MUTEX_imBufCopy", waited for at most the communication
// time-out: 0, -1 without band memory, or the locked copy's error (-4, -11).
int32_t HostCopyBand(const _MP_BUF_ST* source, const _MP_BUF_ST* destination, uint32_t band, uint32_t width,
                     uint32_t lines)
{
    const void* from = mp_buf_address_band_internal(source, band);
    void* to = mp_buf_address_band_internal(destination, band);
    if (!from || !to) return -1;
    return mpPrvBufCopyLocked(from, to, width, lines, static_cast<int32_t>(source->pitch),
                              static_cast<int32_t>(destination->pitch));
}

// Descriptors that pixel transfers found on nodes the host serves, by id, so that the next
// transfer on the id reads the live descriptor at once instead of asking the node for it
// again.  Only the descriptor's address is kept, never its contents: each use checks that
// the buffer service still holds the descriptor and that it still carries the id, so a
// freed buffer is asked for again (and refused by the node), and a modified one is used
// with its new layout.
struct KnownDescriptor {
    uint32_t id = 0;
    _MP_BUF_ST* descriptor = nullptr;
};
constexpr uint32_t kKnownDescriptors = 64;   // a power of two
constexpr uint32_t kValidPaged = 0x80000000u; // mp_buf_valid: paged descriptors are fine
std::mutex g_knownLock;
KnownDescriptor g_known[kKnownDescriptors];

KnownDescriptor& KnownSlot(uint32_t id)
{
    return g_known[(id ^ (id >> 16) ^ (id >> 24)) & (kKnownDescriptors - 1)];
}

// Whether the node has served every command posted to it.  The descriptor inquiry's reply
// came only after the commands the caller had posted before it (a copy into the buffer,
// say); a transfer that skips the inquiry does so only when nothing is left to come.
bool NodeServedAll(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
    if (!r || !r->ringHeader) return false;
    return RingHeaderWord(r->ringHeader, kRingSequence) == RingHeaderWord(r->ringHeader, kRingServed);
}

// The descriptor a transfer on `id` found before, when it is still the buffer's and the
// node has nothing outstanding; else null.
const _MP_BUF_ST* KnownDescriptorOf(uint32_t id)
{
    if (id == 0 || (id & kIdPredefined) || !NodeServedAll(NodeOf(id))) return nullptr;
    _MP_BUF_ST* d;
    {
        std::lock_guard<std::mutex> guard(g_knownLock);
        const KnownDescriptor& k = KnownSlot(id);
        if (k.id != id) return nullptr;
        d = k.descriptor;
    }
    if (!mp_buf_valid(d, kValidPaged) || d->id != id) return nullptr;
    return d;
}

// Remembers a descriptor a node the host serves gave for `id` (one in a board window is
// read through copies each time and is not kept).
void RememberDescriptor(uint32_t id, _MP_BUF_ST* d)
{
    if (id == 0 || (id & kIdPredefined) || !d || d->boardSpace || d->id != id) return;
    std::lock_guard<std::mutex> guard(g_knownLock);
    KnownSlot(id) = KnownDescriptor{id, d};
}

} // namespace

// ---- host-side steps --------------------------------------------------------------------------

_MP_BUF_ST* im_buf_descriptor(uint32_t device, uint32_t id)
{
    if (id == 0) return nullptr;
    _MSG_ST quiet{};
    return Ptr<_MP_BUF_ST>(Inquire(&quiet, device, id, kBufInquireDescriptor));
}

int32_t im_buf_alloc_host(_MSG_ST* msg, uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands,
                          uint32_t type, uint32_t* infoId)
{
    return AllocHost(msg, device, sizeX, sizeY, bands, type, infoId, nullptr);
}

int32_t im_buf_trans_data(const char* function, uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX,
                          int32_t sizeY, uint32_t direction, void* data)
{
    _MSG_ST msg{};
    if (function) im_msg_start(&msg, 0, 0, function);
    // Mend: the result was -1 whatever code was filed; it is that code.
    auto fail = [&](int32_t code, const char* text) {
        if (function) {
            im_msg_log_error(&msg, code, text);
            im_buf_end(&msg);
        }
        return code;
    };
    const _MP_BUF_ST* b = function ? KnownDescriptorOf(id) : Ptr<const _MP_BUF_ST>(id);
    const bool known = function && b;
    if (function && !b) b = im_buf_descriptor(device, id);
    // A board processor keeps its descriptors in board memory: reached through the window
    // only, so the descriptor and its band table are read into local copies.
    _MP_BUF_ST boardCopy{};
    _MP_BAND_ST boardBands[kBoardBandsMax]{};
    const bool window = b && !known && HwIsWindowAddress(Word(b));
    if (function && b && !known && !window) RememberDescriptor(id, const_cast<_MP_BUF_ST*>(b));
    if (window) {
        HwReadBlock(Word(b), 0, &boardCopy, sizeof boardCopy);
        const uint32_t table = mp_buf_board_to_host(&boardCopy, Word(boardCopy.bandTable));
        if (!boardCopy.boardSpace || boardCopy.bands == 0 || boardCopy.bands > kBoardBandsMax ||
            !HwIsWindowAddress(table))
            return fail(HLC_ERR_INVALID_PARAMETER, kBadParameters);
        HwReadBlock(table, 0, boardBands, boardCopy.bands * static_cast<uint32_t>(sizeof(_MP_BAND_ST)));
        boardCopy.bandTable = boardBands;
        b = &boardCopy;
    }
    if (!b || !data || (direction != kTransRead && direction != kTransWrite))
        return fail(HLC_ERR_INVALID_PARAMETER, kBadParameters);
    // The whole buffer only from its origin: a position with the whole size would run past
    // the buffer's end.
    if (sizeX == 0 && sizeY == 0) {
        if (x != 0 || y != 0) return fail(HLC_ERR_INVALID_PARAMETER, kBadParameters);
        sizeX = b->sizeX;
        sizeY = b->sizeY;
    }
    if (mp_util_rect_in_buf(b, x, sizeX, y, sizeY) != 0) return fail(HLC_ERR_INVALID_PARAMETER, kBadParameters);
    uint32_t bytesPerPixel = b->bits / 8;
    uint32_t width = static_cast<uint32_t>(sizeX);
    uint32_t left = static_cast<uint32_t>(x);
    if (b->bits % 8) {
        bytesPerPixel = (b->bits + 7) / 8;
        width = (width + 7) / 8;
        left /= 8;
    }
    mp_util_cache_flush(b->node & 0xFF);
    const size_t lineBytes = size_t{bytesPerPixel} * width;
    const size_t lines = static_cast<uint32_t>(sizeY);
    auto* packed = static_cast<uint8_t*>(data);
    for (uint32_t band = 0; band < b->bands; ++band) {
        auto* base = static_cast<uint8_t*>(mp_buf_address_band_internal(b, band));
        if (!base) return fail(HLC_ERR_NO_RESOURCES, "Invalid address");
        uint8_t* first = base + size_t{b->pitch} * static_cast<uint32_t>(y) + size_t{bytesPerPixel} * left;
        if (lineBytes == b->pitch) {
            Move(first, packed, lineBytes * lines, direction);
            packed += lineBytes * lines;
            continue;
        }
        for (size_t line = 0; line < lines; ++line, packed += lineBytes)
            Move(first + size_t{b->pitch} * line, packed, lineBytes, direction);
    }
    if (function) im_buf_end(&msg);
    return 0;
}

// ---- allocation ---------------------------------------------------------------------------------

uint32_t imBufAlloc(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t location,
                    uint32_t* id)
try {
    return Allocate("imBufAlloc", Form::Alloc, device, sizeX, sizeY, bands, type, location, id);
}
HLC_EXPORT_CATCH(imBufAlloc)

uint32_t imBufAlloc2d(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t location, uint32_t* id)
try {
    return Allocate("imBufAlloc2d", Form::Alloc2d, device, sizeX, sizeY, 1, type, location, id);
}
HLC_EXPORT_CATCH(imBufAlloc2d)

uint32_t imBufAlloc1d(uint32_t device, int32_t sizeX, uint32_t type, uint32_t location, uint32_t* id)
try {
    return Allocate("imBufAlloc1d", Form::Alloc1d, device, sizeX, 1, 1, type, location, id);
}
HLC_EXPORT_CATCH(imBufAlloc1d)

uint32_t imBufAllocControl(uint32_t device, uint32_t* id)
try {
    return AskId("imBufAllocControl", kOpBufAllocControl, device, nullptr, 0, id);
}
HLC_EXPORT_CATCH(imBufAllocControl)

uint32_t imBufCreate(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                     uint32_t memoryKind, const uint32_t* addresses, uint32_t pitch, uint32_t* id)
try {
    _MSG_ST msg{};
    ImBufInnerCalls inner(&msg);
    const bool inBuffer = bands > kAddressBufferBands;
    im_msg_start(&msg, kOpBufCreate, inBuffer ? 7 : bands + 6, "imBufCreate");
    if (bands && !addresses) {
        LogDefault(&msg, HLC_ERR_INVALID_PARAMETER);
        return EndWithId(&msg, 0, id);
    }
    uint32_t addressBuffer = 0;
    if (inBuffer) {
        addressBuffer = imBufAlloc(device, static_cast<int32_t>(bands), 1, 1, kAddressBufferType, kLocInline, nullptr);
        if (addressBuffer == 0 || imBufPut(device, addressBuffer, addresses) != 0) {
            if (addressBuffer) imBufFree(device, addressBuffer);
            inner.Take();
            LogDefault(&msg, HLC_ERR_NO_RESOURCES);
            return EndWithId(&msg, 0, id);
        }
    }
    const int32_t values[6] = {sizeX, sizeY, static_cast<int32_t>(bands), static_cast<int32_t>(type),
                               static_cast<int32_t>(memoryKind), static_cast<int32_t>(pitch)};
    for (uint32_t i = 0; i < 6; ++i) im_msg_put_long(&msg, i, values[i]);
    if (inBuffer)
        im_msg_put_long(&msg, 6, static_cast<int32_t>(addressBuffer));
    else
        for (uint32_t i = 0; i < bands; ++i) im_msg_put_long(&msg, 6 + i, static_cast<int32_t>(addresses[i]));
    Send(&msg, device, 0, IM_SYNC_POLL);
    const uint32_t made = Result(&msg, 0);
    if (addressBuffer) imBufFree(device, addressBuffer);
    inner.Take();
    return EndWithId(&msg, made, id);
}
HLC_EXPORT_CATCH(imBufCreate)

uint32_t imBufChild(uint32_t device, uint32_t parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY,
                    uint32_t* id)
try {
    const uint32_t values[5] = {parent, static_cast<uint32_t>(offsetX), static_cast<uint32_t>(offsetY),
                                static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY)};
    return AskId("imBufChild", kOpBufChild, device, values, 5, id);
}
HLC_EXPORT_CATCH(imBufChild)

uint32_t imBufChildBand(uint32_t device, uint32_t parent, int32_t band, uint32_t* id)
try {
    const uint32_t values[2] = {parent, static_cast<uint32_t>(band)};
    return AskId("imBufChildBand", kOpBufChildBand, device, values, 2, id);
}
HLC_EXPORT_CATCH(imBufChildBand)

uint32_t imBufClone(uint32_t device, uint32_t source, uint32_t location, uint32_t* id)
try {
    _MSG_ST msg{};
    ImBufInnerCalls inner(&msg);
    im_msg_start(&msg, kOpBufClone, 3, "imBufClone");
    // Mend: an undefined location reached the node, which took it as the bands' address.
    if (!mp_buf_location_known(location)) {
        LogDefault(&msg, HLC_ERR_BUFFER_ATTRIBUTE);
        return EndWithId(&msg, 0, id);
    }
    uint32_t destination = id ? *id : 0;
    uint32_t madeHere = 0;
    if (location == kLocHostDma || (location == kLocDefault && (source & kBufIdHostDma))) {
        const _MP_BUF_ST* s = im_buf_descriptor(device, source);
        if (!s) {
            im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, kBadParameters);
            return EndWithId(&msg, 0, id);
        }
        const uint32_t where = (source & kBufIdBoardHeap) ? s->location : kLocHostDma;
        madeHere = imBufAlloc(device, s->sizeX, s->sizeY, s->bands, s->type, where, nullptr);
        destination = madeHere;
        // Without its destination the clone is not sent: the allocation's failure is the clone's.
        inner.Take();
    }
    im_msg_put_long(&msg, 0, static_cast<int32_t>(source));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(location));
    im_msg_put_long(&msg, 2, static_cast<int32_t>(destination));
    Send(&msg, device, 0, IM_SYNC_POLL);
    const uint32_t made = Result(&msg, 0);
    // A destination made for a clone that did not come about would be left to nobody.
    if (madeHere && made == 0) imBufFree(device, madeHere);
    inner.Take();
    return EndWithId(&msg, made, id);
}
HLC_EXPORT_CATCH(imBufClone)

// ---- commands without a result --------------------------------------------------------------

int32_t imBufChildMove(uint32_t device, uint32_t child, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY)
try {
    const uint32_t values[5] = {child, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY)};
    return Post("imBufChildMove", kOpBufChildMove, device, values, 5, 0);
}
HLC_EXPORT_CATCH(imBufChildMove)

int32_t imBufClear(uint32_t device, uint32_t id, double value, uint32_t sync)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufClear, 2, "imBufClear");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_double(&msg, 1, value);
    Send(&msg, device, sync, IM_SYNC_NOWAIT);
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(imBufClear)

int32_t imBufFree(uint32_t device, uint32_t id)
try {
    _MSG_ST msg{};
    ImBufInnerCalls inner(&msg);
    im_msg_start(&msg, kOpBufFree, 1, "imBufFree");
    if (!(id & kBufIdBoardHeap) && (id & (kBufIdGivenMemory | kBufIdHostDma))) {
        _MP_BUF_ST* b = im_buf_descriptor(device, id);
        // Mend: an id without a buffer (a second free) was filed as -8; it is an unknown id (-1).
        if (!b) {
            LogDefault(&msg, HLC_ERR_INVALID_BUFFER);
            return EndWithError(&msg);
        }
        if (id & kBufIdGivenMemory) {
            // Every lock the buffer still holds goes, so that no page stays locked for
            // memory about to be freed.
            for (uint32_t n = b->lockCount; b->location == kLocPaged && b->lockCount > 0 && n > 0; --n)
                imBufControl(device, id, kBufControlUnlock, kHostBufControlDefault);
            if ((id & kBufIdHostDma) && (id & kBufIdPaged)) mp_hostbuf_paged_free_root(b);
        } else {
            mp_hostbuf_dma_free_root(device, b);
        }
    }
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    Send(&msg, device, 0, IM_SYNC_NOWAIT);
    // The buffer is freed whatever its unlocks said; their failure is the free's.
    inner.Take();
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(imBufFree)

int32_t imBufModify(uint32_t device, uint32_t id, int32_t sizeX, int32_t sizeY, uint32_t type)
try {
    const uint32_t values[4] = {id, static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY), type};
    return Post("imBufModify", kOpBufModify, device, values, 4, 0);
}
HLC_EXPORT_CATCH(imBufModify)

int32_t imBufCopyField(uint32_t device, uint32_t source, uint32_t sourceKey, uint32_t destination,
                       uint32_t destinationKey)
try {
    const uint32_t values[4] = {source, sourceKey, destination, destinationKey};
    return Post("imBufCopyField", kOpBufCopyField, device, values, 4, 0);
}
HLC_EXPORT_CATCH(imBufCopyField)

int32_t imBufPutField(uint32_t device, uint32_t id, uint32_t key, double value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufPutField, 3, "imBufPutField");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(key));
    im_msg_put_double(&msg, 2, value);
    Send(&msg, device, 0, IM_SYNC_NOWAIT);
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(imBufPutField)

int32_t imBufRemoveField(uint32_t device, uint32_t id, uint32_t key)
try {
    const uint32_t values[2] = {id, key};
    return Post("imBufRemoveField", kOpBufRemoveField, device, values, 2, 0);
}
HLC_EXPORT_CATCH(imBufRemoveField)

int32_t imBufCopyPCI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t sync)
try {
    const uint32_t values[3] = {p0, p1, p2};
    return Post("imBufCopyPCI", kOpBufCopyPCI, device, values, 3, sync);
}
HLC_EXPORT_CATCH(imBufCopyPCI)

int32_t imBufCopyVM(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync)
try {
    const uint32_t values[4] = {p0, p1, p2, p3};
    return Post("imBufCopyVM", kOpBufCopyVM, device, values, 4, sync);
}
HLC_EXPORT_CATCH(imBufCopyVM)

int32_t imBufPack(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync)
try {
    const uint32_t values[4] = {p0, p1, p2, p3};
    return Post("imBufPack", kOpBufPack, device, values, 4, sync);
}
HLC_EXPORT_CATCH(imBufPack)

int32_t imBufCopyROI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync)
try {
    const uint32_t values[4] = {p0, p1, p2, p3};
    return Post("imBufCopyROI", kOpBufCopyROI, device, values, 4, sync);
}
HLC_EXPORT_CATCH(imBufCopyROI)

int32_t imBufCopy(uint32_t device, uint32_t source, uint32_t destination, uint32_t value, uint32_t sync)
try {
    if (!(source & kHostBufferBits) || !(destination & kHostBufferBits)) {
        const uint32_t values[3] = {source, destination, value};
        return Post("imBufCopy", kOpBufCopy, device, values, 3, sync);
    }
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufCopy, 3, "imBufCopy");
    const _MP_BUF_ST* s = im_buf_descriptor(device, source);
    const _MP_BUF_ST* d = im_buf_descriptor(device, destination);
    if (!s || !d) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, kBadParameters);
    } else if (s->bands != d->bands || ((s->type ^ d->type) & ~kBufTypeSigned) != 0) {
        im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "Incompatible buffer");
    } else {
        const uint32_t width = std::min(mp_hostbuf_line_bytes(s->bits, s->sizeX), mp_hostbuf_line_bytes(d->bits, d->sizeX));
        const uint32_t lines = static_cast<uint32_t>(std::min(s->sizeY, d->sizeY));
        for (uint32_t band = 0; band < s->bands; ++band) {
            const int32_t copied = HostCopyBand(s, d, band, width, lines);
            if (copied == -1) im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "Invalid buffer address");
            else if (copied == HLC_ERR_TIMEOUT) im_msg_log_error(&msg, HLC_ERR_TIMEOUT, "Timed out waiting for MUTEX_imBufCopy");
            else if (copied != 0) im_msg_log_error(&msg, copied, HlcErrorText(copied));
        }
    }
    if (sync) imThrNop(device & kIdPredefined ? device : kBufRemoteThread | (device & 0xFF0000u), sync);
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(imBufCopy)

int32_t imBufControl(uint32_t device, uint32_t id, int32_t type, double value)
try {
    _MSG_ST msg{};
    ImBufInnerCalls inner(&msg);
    uint32_t list = 0;
    im_msg_start(&msg, kOpBufControl, 3, "imBufControl");
    if (type == kBufControlLock || type == kBufControlUnlock) {
        _MP_BUF_ST* b = im_buf_descriptor(device, id);
        if (!b) {
            LogDefault(&msg, HLC_ERR_INVALID_BUFFER);
            return EndWithError(&msg);
        }
        // A failed lock says so itself; a parent's unlock that failed is this unlock's.
        const HostBufStep step = type == kBufControlLock ? mp_hostbuf_lock(&msg, device, b, &list)
                                                         : mp_hostbuf_unlock(&msg, device, b);
        if (type == kBufControlUnlock) inner.Take();
        if (step == kHostBufSendNothing) return EndWithError(&msg);
    }
    if (list) msg.body.counts = (msg.body.counts & 0xFFFF0000u) | 4;
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(&msg, 1, type);
    im_msg_put_double(&msg, 2, value);
    if (list) im_msg_put_long(&msg, 3, static_cast<int32_t>(list));
    Send(&msg, device, 0, IM_SYNC_POLL);
    // The node has copied the page lists.
    if (list) imBufFree(device, list);
    inner.Take();
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(imBufControl)

// ---- fields ---------------------------------------------------------------------------------

int32_t imBufGetNextField(uint32_t device, uint32_t id, int32_t* cursor, uint32_t* key, double* value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufGetNextField, 2, "imBufGetNextField");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(&msg, 1, cursor ? *cursor : -1);
    Send(&msg, device, 0, IM_SYNC_POLL);
    // A command that failed found no field, whatever its empty reply reads as; it returns
    // its error, as the record has it.
    const int32_t status = im_msg_cmd_error(&msg) ? im_msg_cmd_error(&msg) : im_msg_get_long(&msg, 3);
    if (status == 0) {
        if (cursor) *cursor = im_msg_get_long(&msg, 0);
        if (key) *key = Result(&msg, 1);
        if (value) *value = im_msg_get_double(&msg, 2);
    }
    im_buf_end(&msg);
    return status;
}
HLC_EXPORT_CATCH(imBufGetNextField)

namespace {

// A field's value: as a 32-bit integer or as the double, whichever is asked for.
int32_t AskField(const char* name, uint32_t opcode, uint32_t device, uint32_t id, uint32_t key, int32_t* integer,
                 double* real)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, 2, name);
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(key));
    Send(&msg, device, 0, IM_SYNC_POLL);
    // Mend: a failed command (an invalid buffer) returned -5 beside its record's -1; it returns its error.
    const int32_t status = im_msg_cmd_error(&msg) ? im_msg_cmd_error(&msg) : im_msg_get_long(&msg, 1);
    if (status == 0 && integer) *integer = im_msg_get_long(&msg, 0);
    if (status == 0 && real) *real = im_msg_get_double(&msg, 0);
    im_buf_end(&msg);
    return status;
}

} // namespace

int32_t imBufGetField(uint32_t device, uint32_t id, uint32_t key, int32_t* value)
try {
    return AskField("imBufGetField", kOpBufGetField, device, id, key, value, nullptr);
}
HLC_EXPORT_CATCH(imBufGetField)

int32_t imBufGetFieldDouble(uint32_t device, uint32_t id, uint32_t key, double* value)
try {
    return AskField("imBufGetFieldDouble", kOpBufGetFieldDouble, device, id, key, nullptr, value);
}
HLC_EXPORT_CATCH(imBufGetFieldDouble)

// ---- inquiry and map -------------------------------------------------------------------------

int32_t imBufInquire(uint32_t device, uint32_t id, uint32_t type, void* out)
try {
    _MSG_ST msg{};
    const uint32_t value = Inquire(&msg, device, id, type);
    if (out) std::memcpy(out, &value, sizeof value);
    im_buf_end(&msg);
    return static_cast<int32_t>(value);
}
HLC_EXPORT_CATCH(imBufInquire)

int32_t imBufMap(uint32_t device, uint32_t id, uint32_t band, uint32_t line, uint32_t* address, uint32_t* pitch,
                 uint32_t* lines)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufMap, 3, "imBufMap");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(line));
    im_msg_put_long(&msg, 2, static_cast<int32_t>(band));
    Send(&msg, device, 0, IM_SYNC_POLL);
    const uint32_t linePitch = Result(&msg, 0);
    const uint32_t count = Result(&msg, 1);
    const uint32_t returned = Result(&msg, 2);
    const bool failed = im_msg_cmd_error(&msg) != 0;
    if (pitch) *pitch = linePitch;
    if (lines) *lines = count;
    if (address) *address = 0;
    const _MP_BUF_ST* b = failed || !address ? nullptr : im_buf_descriptor(device, id);
    if (b) {
        ImBufInnerCalls inner(&msg);
        uint32_t node = NodeOf(id);
        if (id & kIdPredefined) {
            // A predefined id names no node: a band child of it does.
            const uint32_t child = imBufChildBand(device, id, 0, nullptr);
            node = NodeOf(child);
            if (child) imBufFree(device, child);
            inner.Take();
        }
        if (b->location == kLocHostDma) {
            const HlcNodeLink* link = HlcGetHostHooks().nodeLink(node);
            *address = link ? mp_sys_map_hw_physical_address(link, HLC_REGION_DMA, returned, count * linePitch) : 0;
        } else if (b->location == kLocPaged) {
            *address = returned;
        } else if (b->boardSpace || (id & kBufIdGivenMemory)) {
            *address = mp_util_pci_to_virtual(node, returned);
        } else {
            *address = returned;
        }
    }
    im_buf_end(&msg);
    return static_cast<int32_t>(count);
}
HLC_EXPORT_CATCH(imBufMap)

// ---- pixels ---------------------------------------------------------------------------------

int32_t imBufGet(uint32_t device, uint32_t id, void* data)
try {
    return im_buf_trans_data("imBufGet", device, id, 0, 0, 0, 0, kTransRead, data);
}
HLC_EXPORT_CATCH(imBufGet)

int32_t imBufGet1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, void* data)
try {
    return im_buf_trans_data("imBufGet1d", device, id, x, 0, sizeX, 1, kTransRead, data);
}
HLC_EXPORT_CATCH(imBufGet1d)

int32_t imBufGet2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, void* data)
try {
    return im_buf_trans_data("imBufGet2d", device, id, x, y, sizeX, sizeY, kTransRead, data);
}
HLC_EXPORT_CATCH(imBufGet2d)

int32_t imBufPut(uint32_t device, uint32_t id, const void* data)
try {
    return im_buf_trans_data("imBufPut", device, id, 0, 0, 0, 0, kTransWrite, const_cast<void*>(data));
}
HLC_EXPORT_CATCH(imBufPut)

int32_t imBufPut1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, const void* data)
try {
    return im_buf_trans_data("imBufPut1d", device, id, x, 0, sizeX, 1, kTransWrite, const_cast<void*>(data));
}
HLC_EXPORT_CATCH(imBufPut1d)

int32_t imBufPut2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY,
                   const void* data)
try {
    return im_buf_trans_data("imBufPut2d", device, id, x, y, sizeX, sizeY, kTransWrite, const_cast<void*>(data));
}
HLC_EXPORT_CATCH(imBufPut2d)

int32_t im_buf_get_formatted_inquire(uint32_t device, uint32_t id, uint32_t results[4])
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufFormattedInquire, 1, "im_buf_get_formatted_inquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(id));
    Send(&msg, device, 0, IM_SYNC_POLL);
    for (uint32_t i = 0; i < 4; ++i)
        if (results) results[i] = Result(&msg, i);
    return EndWithError(&msg);
}
HLC_EXPORT_CATCH(im_buf_get_formatted_inquire)

int32_t imBufPutFormatted(uint32_t device, uint32_t id, double value, const void* data)
try {
    uint32_t layout[4] = {};
    // Without a layout there is no address to write to.
    if (im_buf_get_formatted_inquire(device, id, layout) != 0 || layout[3] == 0 || !data) return 0;
    const uint32_t values[2] = {id, 0x40000001u};
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufCopyPCI, 3, "imBufPutFormatted");
    for (uint32_t i = 0; i < 2; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(values[i]));
    im_msg_put_double(&msg, 2, value);
    Send(&msg, device, 0, IM_SYNC_READY);
    if (im_msg_cmd_error(&msg) == 0) {
        const size_t bytes = size_t{mp_hostbuf_line_bytes(layout[1], static_cast<int32_t>(layout[0]))} * layout[2];
        std::memcpy(Ptr<void>(layout[3]), data, bytes);
    }
    im_buf_end(&msg);
    return static_cast<int32_t>(layout[2]);
}
HLC_EXPORT_CATCH(imBufPutFormatted)
