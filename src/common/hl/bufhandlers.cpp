// Host handlers of the buffer commands.
#include "bufhandlers.h"

#include "bufchild.h"
#include "bufid.h"
#include "cmdserver.h"
#include "disprequest.h"
#include "predef.h"
#include "heap.h"
#include "hlc_errors.h"
#include "reqres.h"
#include "sysutil.h"
#include "w32fiber.h"

#include <cstdlib>
#include <cstring>

namespace {

// Expected words of mp_buf_valid.
constexpr uint32_t kValidImage = 1;
constexpr uint32_t kValidImageAny = 0xC0000001u;      // predefined and paged accepted
constexpr uint32_t kValidImagePredef = 0x40000001u;   // predefined accepted
constexpr uint32_t kValidAnyKind = 0xC0000000u;       // predefined and paged accepted
constexpr uint32_t kValidAnyPaged = 0x80000000u;      // paged accepted
constexpr uint32_t kValidAny = 0;

// Bands of the control buffer: a descriptor that only carries fields.
constexpr uint32_t kControlLocation = kLocInline;
// Bytes of one band entry copied from a host buffer's information buffer.
constexpr uint32_t kBandEntryBytes = sizeof(_MP_BAND_ST);
// Memory kind of a buffer over host memory that the library allocated.
constexpr uint32_t kCreateLibraryMemory = 7;
// Parents of a child that stand for the display's current buffer.
constexpr uint32_t kIdPredefinedDisplayCurrent = 2;
constexpr uint32_t kIdPredefinedDisplaySelected = 0x40000030u;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

int32_t Param(const _MSG_BODY_ST* msg, uint32_t slot)
{
    return static_cast<int32_t>(mp_msg_param(msg, slot));
}

void PutLong(_MSG_BODY_ST* msg, uint32_t slot, int32_t value)
{
    mp_msg_put_reply(msg, slot, static_cast<uint32_t>(value));
}

void PutDouble(_MSG_BODY_ST* msg, uint32_t slot, double value)
{
    if (slot >= kMsgMaxParams) return;
    std::memcpy(msg->param[slot], &value, 8);
    if ((msg->counts >> 16) < slot + 1) msg->counts = (msg->counts & 0xFFFF) | ((slot + 1) << 16);
}

// A descriptor the handler may read: a valid reference that is not a bare predefined
// number.
bool HasDescriptor(const _MP_BUF_ST* b)
{
    return Word(b) >= kPredefEntries;
}

// Bytes of band memory a descriptor describes (pitch x lines).
uint64_t BandBytes(const _MP_BUF_ST* b)
{
    return b->sizeY > 0 ? static_cast<uint64_t>(b->pitch) * static_cast<uint32_t>(b->sizeY) : 0;
}

// Reads bytes from the start of band 0 of a buffer named by id (board memory through the
// accessor).  False when the id names no image buffer with a band 0 that holds that many
// bytes.
bool ReadBandZero(MP_BUF_ID id, void* destination, uint64_t bytes)
{
    const _MP_BUF_ST* b = mp_buf_pointer(id);
    if (!mp_buf_valid(b, kValidImageAny) || !HasDescriptor(b) || BandBytes(b) < bytes) return false;
    const void* band = mp_buf_address_band_internal(b, 0);
    if (!band) return false;
    if (bytes) im_doLoadSwapStore(band, destination, static_cast<uint32_t>(bytes), 1, 0, 0, 0);
    return true;
}

// Gives a new descriptor its id and replies it in slot 0; without an id the descriptor
// goes and the reply is 0.
void ReplyNewId(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg, _MP_BUF_ST* b)
{
    const MP_BUF_ID id = b ? mp_buf_alloc_id(b) : 0;
    if (!id) {
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        if (b) mp_buf_free(b);
    }
    PutLong(msg, 0, static_cast<int32_t>(id));
}

// The handler frame: the request resource taken, the work done only when it is usable,
// the resource released (which replies).
template <typename Work>
void Serve(_MSG_BODY_ST* msg, const char* name, Work work)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, name);
    if (mp_res_ok(res)) work(res);
    mp_res_free(res);
}

// A buffer named in slot 0 that must be valid as expected; -1 is logged otherwise.
_MP_BUF_ST* Buffer(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg, uint32_t slot, uint32_t expected)
{
    _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(msg, slot));
    if (mp_buf_valid(b, expected) && HasDescriptor(b)) return b;
    _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    return nullptr;
}

void Allocate(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
              uint32_t location, MP_BUF_ID info)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(res->node, sizeX, sizeY, bands, type, location);
    if (!b) {
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        PutLong(msg, 0, 0);
        return;
    }
    // Host DMA bands: the caller made them and describes them in band 0 of the
    // information buffer, one band entry each; a description shorter than the bands is
    // refused rather than read past its end.
    if (location == kLocHostDma && b->bands) {
        if (!b->bandTable || !ReadBandZero(info, b->bandTable, static_cast<uint64_t>(b->bands) * kBandEntryBytes)) {
            mp_buf_free(b);
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            PutLong(msg, 0, 0);
            return;
        }
    }
    ReplyNewId(res, msg, b);
}

// The region of a child after clamping; false when it does not lie inside the parent.
bool ClampRegion(const _MP_BUF_ST* parent, int32_t& ox, int32_t& oy, int32_t& sx, int32_t& sy)
{
    if (ox < 0) ox = 0;
    if (oy < 0) oy = 0;
    const int64_t px = parent->sizeX, py = parent->sizeY;
    if (sx == 0 || static_cast<int64_t>(ox) + sx > px) sx = static_cast<int32_t>(px - ox);
    if (sy == 0 || static_cast<int64_t>(oy) + sy > py) sy = static_cast<int32_t>(py - oy);
    return sx > 0 && sy >= 1 && static_cast<int64_t>(ox) + sx <= px && static_cast<int64_t>(oy) + sy <= py;
}

bool InBoardOrHostMemory(const _MP_BUF_ST* b)
{
    return b->location == kLocSdram || b->location == kLocHostDma || b->location == kLocPaged;
}

// Bytes of a line of pixels.
uint64_t LineBytes(uint32_t bits, int32_t sizeX)
{
    return (static_cast<uint64_t>(bits) * static_cast<uint32_t>(sizeX) + 7) / 8;
}

// A child keeps inside its root's lines after a change of size or type (mp_buf_modify
// keeps a buffer within its own bytes, but a child's bytes run on into the root's next
// line and past the root's last one).  The new pitch is the root's as long as the child
// stays inside it: mp_buf_modify changes a child's pitch only when it equals the natural
// pitch of the child's old line.
bool ChildModifyFits(const _MP_BUF_ST* b, int32_t sizeX, int32_t sizeY, int32_t type)
{
    const _MP_BUF_ST* root = mp_buf_parent(b);
    if (!root || !b->bandTable || b->bands == 0) return true;
    const int32_t nx = sizeX == kBufKeep ? b->sizeX : sizeX;
    const int32_t ny = sizeY == kBufKeep ? b->sizeY : sizeY;
    const uint32_t bits = (type == kBufKeep ? b->type : static_cast<uint32_t>(type)) & 0xFF;
    if (nx < 0 || ny < 0) return false;
    const uint64_t firstByte = static_cast<uint64_t>(static_cast<uint32_t>(b->offsetX)) * root->bits / 8;
    return firstByte + LineBytes(bits, nx) <= root->pitch && static_cast<int64_t>(b->offsetY) + ny <= root->sizeY;
}

// The page lists of a paged buffer's bands, each a count word and that many entries in
// the page-list buffer's band of the same number (or its line of the same number, in the
// one-band list the host's page locking builds), lie inside their room.
bool PageListsFit(const _MP_BUF_ST* b, const _MP_BUF_ST* pages)
{
    if (!pages->bandTable) return false;
    for (uint32_t i = 0; i < b->bands; ++i) {
        if (!b->bandTable || b->bandTable[i].mapped) continue;
        uint64_t words = 0;
        const uint32_t* list = mp_buf_page_list(pages, b->bands, i, &words);
        if (!list || words < 1) return false;
        uint32_t count = 0;
        im_doLoadSwapStore(list, &count, 4, 1, 0, 0, 0);
        if (static_cast<uint64_t>(count) + 1 > words) return false;
    }
    return true;
}

} // namespace

void mp_BufAlloc(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufAlloc", [msg](MP_RESOURCE_ST* res) {
        Allocate(res, msg, Param(msg, 0), Param(msg, 1), mp_msg_param(msg, 2), mp_msg_param(msg, 3),
                 mp_msg_param(msg, 4), mp_msg_param(msg, 5));
    });
}

void mp_BufAlloc2d(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufAlloc2d", [msg](MP_RESOURCE_ST* res) {
        Allocate(res, msg, Param(msg, 0), Param(msg, 1), 1, mp_msg_param(msg, 2), mp_msg_param(msg, 3),
                 mp_msg_param(msg, 4));
    });
}

void mp_BufAlloc1d(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufAlloc1d", [msg](MP_RESOURCE_ST* res) {
        Allocate(res, msg, Param(msg, 0), 1, 1, mp_msg_param(msg, 1), mp_msg_param(msg, 2), mp_msg_param(msg, 3));
    });
}

void mp_BufAllocControl(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufAllocControl",
          [msg](MP_RESOURCE_ST* res) { Allocate(res, msg, 0, 0, 0, 0, kControlLocation, 0); });
}

void mp_BufCreate(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufCreate", [msg](MP_RESOURCE_ST* res) {
        const uint32_t bands = mp_msg_param(msg, 2);
        const uint32_t kind = mp_msg_param(msg, 4);
        const int32_t sizeX = Param(msg, 0), sizeY = Param(msg, 1);
        if (bands > 0x3FFFFFFFu) {
            PutLong(msg, 0, 0);
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        auto* addresses = static_cast<uint32_t*>(std::malloc(bands ? 4u * bands : 4u));
        if (!addresses) {
            PutLong(msg, 0, 0);
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            return;
        }
        bool read = true;
        if (bands <= kBufCreateInlineAddresses) {
            for (uint32_t i = 0; i < bands; ++i) addresses[i] = mp_msg_param(msg, 6 + i);
        } else {
            // More addresses than the message holds: band 0 of the buffer in slot 6 lists
            // them, and it must hold all of them.
            read = ReadBandZero(mp_msg_param(msg, 6), addresses, 4ull * bands);
        }
        _MP_BUF_ST* b = nullptr;
        if (read)
            b = mp_buf_create(res->node, sizeX, sizeY, bands, mp_msg_param(msg, 3), kind,
                              mp_msg_param(msg, 5), addresses);
        std::free(addresses);
        PutLong(msg, 0, 0);
        if (!read) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        const MP_BUF_ID id = b ? mp_buf_alloc_id(b) : 0;
        if (!id) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (b) mp_buf_free(b);
            return;
        }
        b->id = id | (kind == kCreateLibraryMemory ? kIdLibraryMemory : kIdGivenMemory);
        PutLong(msg, 0, static_cast<int32_t>(b->id));
    });
}

namespace {

// A serving node that shows its system's display (its description marked with no display
// of its own) takes the display node's description again when it has none yet, when the
// display's size changed, or when the parent has no memory yet, and rebuilds its
// predefined buffers.  True when it did.
bool ShowSystemDisplay(uint32_t node, const _MP_BUF_ST* parent)
{
    uint32_t display = 0;
    if (mp_disp_get_node_id(((node >> 4) & 0xF) - 1, 0, &display) != 0 || display == (node & 0xFF)) return false;
    int32_t* own = mp_disp_description(node);
    const int32_t* shown = mp_disp_description(display);
    if (!own || !shown || own == shown) return false;
    const bool resized = own[DISP_STATE_DISPLAY_MODE] == kDispStateNone &&
                         (own[DISP_STATE_WIDTH] != shown[DISP_STATE_WIDTH] ||
                          own[DISP_STATE_HEIGHT] != shown[DISP_STATE_HEIGHT]);
    const bool empty = !HasDescriptor(parent) || !mp_buf_address_band_internal(parent, 0);
    if (!resized && !empty) return false;
    std::memcpy(own + kDispDescriptionWord, shown + kDispDescriptionWord, kDispDescriptionWords * 4);
    own[DISP_STATE_DISPLAY_MODE] = kDispStateNone;
    own[DISP_STATE_FILLED] = 1;
    mp_init_predef_buffers(node, node);
    return true;
}

} // namespace

void mp_BufChild(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufChild", [msg](MP_RESOURCE_ST* res) {
        // Results overwrite the parameters from slot 0 on: every parameter is read first.
        const uint32_t parentId = mp_msg_param(msg, 0);
        int32_t ox = Param(msg, 1), oy = Param(msg, 2), sx = Param(msg, 3), sy = Param(msg, 4);
        PutLong(msg, 0, 0);
        // The display's buffers: 2 stands for the one the display shows (its format, a
        // predefined display buffer), and that one named directly must be it.
        uint32_t id = parentId;
        if (id == kIdPredefinedDisplayCurrent || (id >= kLocDisplayAny && id <= kLocControllerHeap)) {
            int32_t shown = 0;
            if (mpDispInquire(res, nullptr, IM_DISP_FORMAT, &shown) != 0) return;
            if (shown == kDispStateNone || shown == 0) {
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, kBufTextNoDisplay);
                return;
            }
            if (id == kIdPredefinedDisplayCurrent) id = static_cast<uint32_t>(shown);
            if (id == kIdPredefinedDisplaySelected && static_cast<uint32_t>(shown) != id) {
                _mp_res_log_error(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
                return;
            }
        }
        _MP_BUF_ST* parent = mp_buf_pointer(id);
        if (!mp_buf_valid(parent, kValidImageAny)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        // Display memory is usable only once the display has given it memory: a node
        // showing another node's display takes that display's description first.
        if (!HasDescriptor(parent) || (!InBoardOrHostMemory(parent) && parent->location != kLocInline)) {
            if (ShowSystemDisplay(res->node, parent)) {
                parent = mp_buf_pointer(id);
                if (!mp_buf_valid(parent, kValidImageAny)) {
                    _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
                    return;
                }
            }
            const int32_t* s = mp_disp_description(res->node);
            const bool sized = s && s[DISP_STATE_WIDTH] > 0 && s[DISP_STATE_HEIGHT] > 0;
            if (!sized || !HasDescriptor(parent) ||
                (!InBoardOrHostMemory(parent) && !mp_buf_address_band_internal(parent, 0))) {
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, kBufTextNoDisplay);
                return;
            }
        }
        if (!ClampRegion(parent, ox, oy, sx, sy)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        _MP_BUF_ST* child = mp_buf_child(parent, ox, oy, sx, sy);
        if (!child) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            return;
        }
        ReplyNewId(res, msg, child);
    });
}

void mp_BufChildBand(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufChildBand", [msg](MP_RESOURCE_ST* res) {
        const int32_t band = Param(msg, 1);
        _MP_BUF_ST* parent = Buffer(res, msg, 0, kValidImageAny);
        PutLong(msg, 0, 0);
        if (!parent) return;
        // A band the parent does not have would give a child without memory.
        if (band < 0 || static_cast<uint32_t>(band) >= parent->bands) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        _MP_BUF_ST* child = mp_buf_child_band(parent, band);
        if (!child) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            return;
        }
        ReplyNewId(res, msg, child);
    });
}

void mp_BufChildMove(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufChildMove", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* child = Buffer(res, msg, 0, kValidImage);
        if (!child) return;
        const _MP_BUF_ST* root = mp_buf_parent(child);
        if (!root) {
            _mp_res_log_error(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
            return;
        }
        int32_t dx = Param(msg, 1), dy = Param(msg, 2);
        const int32_t sx = Param(msg, 3), sy = Param(msg, 4);
        if (dx > 0 && (dx & kBufMoveAbsolute)) dx = (dx & ~kBufMoveAbsolute) - child->offsetX;
        if (dy > 0 && (dy & kBufMoveAbsolute)) dy = (dy & ~kBufMoveAbsolute) - child->offsetY;
        const int64_t nx = static_cast<int64_t>(child->offsetX) + dx, ny = static_cast<int64_t>(child->offsetY) + dy;
        const int64_t wx = sx == kBufKeep ? child->sizeX : sx, wy = sy == kBufKeep ? child->sizeY : sy;
        if (nx < 0 || ny < 0 || wx < 0 || wy < 0 || nx + wx > root->sizeX || ny + wy > root->sizeY) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        mp_buf_child_move(child, dx, dy, sx, sy);
    });
}

void mp_BufClear(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufClear", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidAny);
        if (!b || b->sizeX <= 0 || b->sizeY <= 0) return;
        const double value = mp_msg_param_double(msg, 1);
        for (uint32_t i = 0; i < b->bands; ++i)
            im_doMemset(mp_buf_address_band_internal(b, i), static_cast<uint32_t>(b->sizeX),
                        static_cast<uint32_t>(b->sizeY), static_cast<int32_t>(b->pitch), value, b->bits / 8);
    });
}

void mp_BufClone(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufClone", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* source = Buffer(res, msg, 0, kValidImage);
        uint32_t location = mp_msg_param(msg, 1);
        const MP_BUF_ID given = mp_msg_param(msg, 2);
        PutLong(msg, 0, 0);
        if (!source) return;
        if (location == kLocDefault) location = source->location;
        _MP_BUF_ST* clone = nullptr;
        const bool existing = location == kLocHostDma;
        if (existing) {
            clone = mp_buf_pointer(given);
            if (!mp_buf_valid(clone, kValidImage) || !HasDescriptor(clone)) clone = nullptr;
        } else {
            clone = mp_buf_alloc_on_node(res->node, source->sizeX, source->sizeY, source->bands, source->type, location);
        }
        if (!clone) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, kBufTextCloneFailed);
            return;
        }
        clone->kind = source->kind;
        clone->typeClass = source->typeClass;
        _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
        uint32_t key = 0;
        double value = 0;
        while (clone != source && mp_buf_next_field(source, &cursor, &key, &value) == 0) {
            if (mp_buf_put_field(clone, key, value) != 0) {
                _mp_res_log_error(res, HLC_ERR_RESTRICTED, kBufTextFieldFailed);
                break;
            }
        }
        if (existing) {
            PutLong(msg, 0, static_cast<int32_t>(mp_buf_alloc_id(clone)));
            return;
        }
        ReplyNewId(res, msg, clone);
    });
}

void mp_BufFree(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufFree", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(msg, 0));
        if (!mp_buf_valid(b, kValidImageAny)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        mp_buf_free(b);
    });
}

void mp_BufCopyField(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufCopyField", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* source = Buffer(res, msg, 0, kValidImage);
        _MP_BUF_ST* destination = source ? Buffer(res, msg, 2, kValidImage) : nullptr;
        if (!destination) return;
        const uint32_t sourceKey = mp_msg_param(msg, 1), destinationKey = mp_msg_param(msg, 3);
        if ((sourceKey == 0) != (destinationKey == 0)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        double value = 0;
        if (sourceKey) {
            if (mp_buf_get_field_double(source, sourceKey, &value) == 0 &&
                mp_buf_put_field(destination, destinationKey, value) != 0)
                _mp_res_log_error(res, HLC_ERR_RESTRICTED, kBufTextFieldFailed);
            return;
        }
        _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
        uint32_t key = 0;
        while (source != destination && mp_buf_next_field(source, &cursor, &key, &value) == 0) {
            if (mp_buf_put_field(destination, key, value) != 0) {
                _mp_res_log_error(res, HLC_ERR_RESTRICTED, kBufTextFieldFailed);
                return;
            }
        }
    });
}

void mp_BufGetNextField(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufGetNextField", [msg](MP_RESOURCE_ST* res) {
        auto* cursor = reinterpret_cast<_MP_FIELD_ST*>(static_cast<uintptr_t>(mp_msg_param(msg, 1)));
        uint32_t key = 0;
        double value = 0;
        int32_t status = HLC_ERR_NOT_PRESENT;
        const _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImage);
        // The cursor comes from the caller: only the start, the end or one of this
        // buffer's own field records is followed.
        bool known = Word(cursor) == 0xFFFFFFFFu || cursor == nullptr;
        for (const _MP_FIELD_ST* f = b ? mp_buf_field(b) : nullptr; f && !known; f = mp_buf_field_link(b, f))
            known = f == cursor;
        if (b && !known) _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        if (b && known && mp_buf_next_field(b, &cursor, &key, &value) == 0) status = 0;
        PutLong(msg, 0, static_cast<int32_t>(Word(cursor)));
        PutLong(msg, 1, static_cast<int32_t>(key));
        PutDouble(msg, 2, value);
        PutLong(msg, 3, status);
    });
}

namespace {

void GetField(_MSG_BODY_ST* msg, const char* name, bool asDouble)
{
    Serve(msg, name, [msg, asDouble](MP_RESOURCE_ST* res) {
        const _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImage);
        double value = 0;
        const bool found = b && mp_buf_get_field_double(b, mp_msg_param(msg, 1), &value) == 0;
        if (asDouble)
            PutDouble(msg, 0, value);
        else
            PutLong(msg, 0, static_cast<int32_t>(value));
        PutLong(msg, 1, found ? 0 : HLC_ERR_NOT_PRESENT);
    });
}

} // namespace

void mp_BufGetField(_MSG_BODY_ST* msg)
{
    GetField(msg, "BufGetField", false);
}

void mp_BufGetFieldDouble(_MSG_BODY_ST* msg)
{
    GetField(msg, "BufGetFieldDouble", true);
}

void mp_BufInquire(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufInquire", [msg](MP_RESOURCE_ST* res) {
        const uint32_t type = mp_msg_param(msg, 1);
        const bool descriptorWords = type == kBufInqDescriptor || type == kBufInqDescriptorRemote;
        const _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(msg, 0));
        if (!mp_buf_valid(b, descriptorWords ? kValidAnyKind : kValidAnyPaged)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        // A predefined number without a descriptor has nothing to report.
        if (!HasDescriptor(b)) {
            PutLong(msg, 0, 0);
            if (type == kBufInqDescriptor) PutLong(msg, 2, 0);
            return;
        }
        uint32_t value = 0;
        switch (type) {
        case kBufInqSizeX: value = static_cast<uint32_t>(b->sizeX); break;
        case kBufInqSizeY: value = static_cast<uint32_t>(b->sizeY); break;
        case kBufInqBands: value = b->bands; break;
        case kBufInqType: value = b->type; break;
        case kBufInqBits: value = b->bits; break;
        case kBufInqTypeClass: value = b->typeClass; break;
        case kBufInqParent: {
            const uint32_t parent = Word(b->parent);
            value = parent == 0 ? 0 : parent < kPredefEntries ? (parent | kIdPredefined) : mp_buf_parent(b)->id;
            break;
        }
        case kBufInqOffsetX: value = static_cast<uint32_t>(b->offsetX); break;
        case kBufInqOffsetY: value = static_cast<uint32_t>(b->offsetY); break;
        case kBufInqFirstBand: value = b->firstBand; break;
        case kBufInqFieldCount: value = b->fieldCount; break;
        case kBufInqOwnerWord: {
            const _MP_BUF_ST* owner = mp_buf_pointer(b->owner);
            const void* band = HasDescriptor(owner) ? mp_buf_address_band_internal(owner, 0) : nullptr;
            if (band && BandBytes(owner) >= 4) im_doLoadSwapStore(band, &value, 4, 1, 0, 0, 0);
            break;
        }
        case kBufInqLocation: value = b->location; break;
        case kBufInqBusAddress: value = b->bandTable && b->bands ? b->bandTable[0].physical : 0; break;
        case kBufInqPitch: value = b->pitch; break;
        case kBufInqDescriptor:
            PutLong(msg, 1, static_cast<int32_t>(b->boardSpace));
            PutLong(msg, 2, static_cast<int32_t>(Word(b)));
            value = b->busAddress;
            break;
        default: break;
        }
        PutLong(msg, 0, static_cast<int32_t>(value));
    });
}

void mp_BufMap(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufMap", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidAnyKind);
        if (!b) return;
        const int32_t line = Param(msg, 1);
        const uint32_t band = mp_msg_param(msg, 2);
        PutLong(msg, 0, static_cast<int32_t>(b->pitch));
        PutLong(msg, 1, b->sizeY - line);
        uint32_t address = 0;
        if (band < b->bands) {
            _MP_BUF_ST* child = mp_buf_child_band(b, static_cast<int32_t>(band));
            const _MP_BAND_ST* entry = child && child->bandTable ? &child->bandTable[0] : nullptr;
            if (!entry) {
                _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            } else if (b->location == kLocPaged) {
                address = entry->third;
            } else if (b->location == kLocHostDma || b->boardSpace || (b->id & kIdGivenMemory)) {
                address = entry->physical;
            } else {
                address = Word(mp_buf_address_band_internal(child, 0));
            }
            if (child) mp_buf_free(child);
        } else {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        }
        PutLong(msg, 2, static_cast<int32_t>(b->pitch * static_cast<uint32_t>(line) + address));
    });
}

void mp_BufModify(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufModify", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImagePredef);
        if (!b) return;
        const int32_t sx = Param(msg, 1), sy = Param(msg, 2), type = Param(msg, 3);
        // A size that needs more memory than the buffer (or its root) has would let later
        // pixel work run past it.
        if (!ChildModifyFits(b, sx, sy, type) || mp_buf_modify(b, sx, sy, type) != 0)
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
    });
}

void mp_BufPutField(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufPutField", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImage);
        if (b && mp_buf_put_field(b, mp_msg_param(msg, 1), mp_msg_param_double(msg, 2)) != 0)
            _mp_res_log_error(res, HLC_ERR_RESTRICTED, kBufTextFieldFailed);
    });
}

void mp_BufRemoveField(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufRemoveField", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImage);
        if (b) mp_buf_remove_field(b, mp_msg_param(msg, 1));
    });
}

void mp_BufControl(_MSG_BODY_ST* msg)
{
    Serve(msg, "BufControl", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* b = Buffer(res, msg, 0, kValidImageAny);
        if (!b) return;
        const uint32_t type = mp_msg_param(msg, 1);
        if (type == kBufCtlLock || type == kBufCtlUnlock) {
            if (b->location != kLocPaged) {
                _mp_res_log_error(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
                return;
            }
            if (type == kBufCtlUnlock) {
                if (b->lockCount == 0) mp_buf_unlock_paged(b);
                return;
            }
            const _MP_BUF_ST* pages = mp_buf_pointer(mp_msg_param(msg, 3));
            if (!mp_buf_valid(pages, kValidImageAny) || !HasDescriptor(pages)) {
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
                return;
            }
            if (!PageListsFit(b, pages)) {
                _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
                return;
            }
            mp_buf_lock_paged(b, pages);
        } else if (type == kBufCtlPitch) {
            // A pitch shorter than a line, or one that reaches past memory the node
            // allocated itself, would make pixel work overrun the bands.
            const double value = mp_msg_param_double(msg, 2);
            const bool given = b->id & kIdGivenMemory;
            if (!(value >= static_cast<double>(LineBytes(b->bits, b->sizeX)) && value < 2147483648.0) ||
                (!given && static_cast<uint32_t>(value) > b->pitch)) {
                _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
                return;
            }
            b->pitch = static_cast<uint32_t>(value);
        }
    });
}

void mp_buf_install()
{
    mp_opcode[kOpBufAlloc] = mp_BufAlloc;
    mp_opcode[kOpBufAlloc2d] = mp_BufAlloc2d;
    mp_opcode[kOpBufAlloc1d] = mp_BufAlloc1d;
    mp_opcode[kOpBufAllocControl] = mp_BufAllocControl;
    mp_opcode[kOpBufChild] = mp_BufChild;
    mp_opcode[kOpBufChildBand] = mp_BufChildBand;
    mp_opcode[kOpBufChildMove] = mp_BufChildMove;
    mp_opcode[kOpBufClear] = mp_BufClear;
    mp_opcode[kOpBufClone] = mp_BufClone;
    mp_opcode[kOpBufFree] = mp_BufFree;
    mp_opcode[kOpBufCopyField] = mp_BufCopyField;
    mp_opcode[kOpBufGetNextField] = mp_BufGetNextField;
    mp_opcode[kOpBufGetField] = mp_BufGetField;
    mp_opcode[kOpBufGetFieldDouble] = mp_BufGetFieldDouble;
    mp_opcode[kOpBufInquire] = mp_BufInquire;
    mp_opcode[kOpBufMap] = mp_BufMap;
    mp_opcode[kOpBufModify] = mp_BufModify;
    mp_opcode[kOpBufPutField] = mp_BufPutField;
    mp_opcode[kOpBufRemoveField] = mp_BufRemoveField;
    mp_opcode[kOpBufCreate] = mp_BufCreate;
    mp_opcode[kOpBufControl] = mp_BufControl;
}

// ---- buffer exports that call buffer exports ------------------------------------------------

namespace {

// The open frames of this thread, the latest first.
thread_local ImBufInnerCalls* t_frames = nullptr;

} // namespace

ImBufInnerCalls::ImBufInnerCalls(_MSG_ST* outer) : outer_(outer), fiber_(GetCurrentFiber()), below_(t_frames)
{
    t_frames = this;
}

ImBufInnerCalls::~ImBufInnerCalls()
{
    // Frames of two fibers of the thread may interleave: this one is unlinked where it is.
    for (ImBufInnerCalls** at = &t_frames; *at; at = &(*at)->below_)
        if (*at == this) {
            *at = below_;
            break;
        }
}

void ImBufInnerCalls::Take()
{
    if (code_ != 0) im_msg_log_error(outer_, code_, text_ ? text_ : HlcErrorText(code_));
    code_ = 0;
    text_ = nullptr;
}

void im_buf_end(_MSG_ST* msg)
{
    // The frame that takes this message's failure: the latest of this fiber that is not
    // the message's own.
    ImBufInnerCalls* frame = t_frames;
    void* const fiber = GetCurrentFiber();
    while (frame && (frame->fiber_ != fiber || frame->outer_ == msg)) frame = frame->below_;
    const int32_t code = msg->body.error;
    if (!frame || code == 0) {
        im_msg_end(msg);
        return;
    }
    const char* text = nullptr;
    if (msg->body.err.code == code) {
        text = mp_err_msg(&msg->body.err);
    } else if (msg->body.err.code != 0) {
        // The record holds an earlier command's error, which the reply brought along.
        im_msg_end(msg);
    }
    if (frame->code_ == 0) {
        frame->code_ = code;
        frame->text_ = text;
    }
}
