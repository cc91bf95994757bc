// Host handlers of the camera and digitizer commands.
#include "camhandlers.h"

#include "camdispatch.h"
#include "cmdserver.h"
#include "reqres.h"
#include "syncobj.h"

#include "bufid.h"
#include "digitizers.h"
#include "hlc_errors.h"
#include "nodelist.h"

#include <cstring>

namespace {

constexpr uint32_t kNoObjectId = 0x40000000u;
constexpr uint32_t kEntryBytes = sizeof(_DCF_ENTRY);

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

int32_t Param(const _MSG_BODY_ST* msg, uint32_t slot)
{
    return static_cast<int32_t>(mp_msg_param(msg, slot));
}

void PutLong(_MSG_BODY_ST* msg, uint32_t slot, uint32_t value)
{
    mp_msg_put_reply(msg, slot, value);
}

// Eight reply bytes into a slot (a double, or a pair of words).
void PutBytes(_MSG_BODY_ST* msg, uint32_t slot, const void* bytes)
{
    if (slot >= kMsgMaxParams) return;
    std::memcpy(msg->param[slot], bytes, 8);
    if ((msg->counts >> 16) < slot + 1) msg->counts = (msg->counts & 0xFFFFu) | ((slot + 1) << 16);
}

void PutDouble(_MSG_BODY_ST* msg, uint32_t slot, double value)
{
    PutBytes(msg, slot, &value);
}

template <typename Work>
void Serve(_MSG_BODY_ST* msg, const char* name, Work work, uint32_t size = kResReplySize)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, size, name);
    if (mp_res_ok(res)) work(res);
    mp_res_free(res);
}

// The descriptor of an id when it is a live object of the kind; null otherwise.
_MP_BUF_ST* Object(uint32_t id, uint32_t kind)
{
    _MP_BUF_ST* b = mp_buf_pointer(id);
    if (!mp_buf_valid(b, kind) || Word(b) < kPredefEntries) return nullptr;
    return b;
}

// The camera named in a slot; -1 with the default text when it is none.
_MP_BUF_ST* Camera(MP_RESOURCE_ST* res, const _MSG_BODY_ST* msg, uint32_t slot)
{
    _MP_BUF_ST* camera = Object(mp_msg_param(msg, slot), kBufKindCamera);
    if (!camera) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    return camera;
}

// The digitizer named in a slot: id 0 means the node's live digitizer (null, true); an id
// that is not a digitizer logs -1 with the default text and gives false.
bool Optional(MP_RESOURCE_ST* res, const _MSG_BODY_ST* msg, uint32_t slot, uint32_t kind, _MP_BUF_ST** object);
bool Digitizer(MP_RESOURCE_ST* res, const _MSG_BODY_ST* msg, uint32_t slot, _MP_BUF_ST** digitizer)
{
    return Optional(res, msg, slot, kBufKindDigitizer, digitizer);
}

// An object that a slot may leave out (id 0: null, true); a named one must be a live object
// of the kind (0: any kind), else -1 is logged with the default text and false given.
bool Optional(MP_RESOURCE_ST* res, const _MSG_BODY_ST* msg, uint32_t slot, uint32_t kind, _MP_BUF_ST** object)
{
    *object = nullptr;
    const uint32_t id = mp_msg_param(msg, slot);
    if (id == 0) return true;
    *object = Object(id, kind);
    if (*object) return true;
    _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    return false;
}

// An object slot of a grab message: id 0 or kNoObjectId name none; in a message forwarded
// from another node, an object of that node travels as its bus address in the slot's
// upper word; otherwise the descriptor of the id.
_MP_BUF_ST* GrabObject(const MP_RESOURCE_ST* res, const _MSG_BODY_ST* msg, uint32_t slot, bool forwarded)
{
    if (slot >= kMsgMaxParams) return nullptr;
    uint32_t words[2];
    std::memcpy(words, msg->param[slot], 8);
    const uint32_t id = words[0];
    if (id == 0 || id == kNoObjectId) return nullptr;
    // An object of a node whose processor holds its descriptors comes with the descriptor's
    // bus address; one of a node this process serves is found by its id, as here.
    const uint32_t owner = (id >> 16) & 0xFF;
    if (forwarded && owner != (res->node & 0xFF) && mp_buf_is_remote(owner)) {
        const uint32_t local = words[1] ? mp_util_pci_to_mvp(res->node & 0xFF, words[1]) : 0;
        return reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(local));
    }
    _MP_BUF_ST* b = mp_buf_pointer(id);
    return Word(b) >= kPredefEntries ? b : nullptr;
}

// The sync record of a sync object's descriptor, null when it is not one.
MP_SYNC_ST* SyncRecord(_MP_BUF_ST* object)
{
    if (!object || !mp_buf_valid(object, kBufKindSync)) return nullptr;
    return static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(object, 0));
}

}  // namespace

void mp_CamAlloc(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamAlloc", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* list = mp_buf_pointer(mp_msg_param(msg, 0));
        const void* entries = Word(list) >= kPredefEntries && mp_buf_valid(list, 0)
                                  ? mp_buf_address_band_internal(list, 0)
                                  : nullptr;
        if (!entries) {
            _mp_res_log_error(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
            PutLong(msg, 0, 0);
            return;
        }
        // The count comes from the message: no more entries are read than the entry
        // buffer holds.
        const uint64_t bandBytes = list->sizeY > 0 ? uint64_t{list->pitch} * static_cast<uint32_t>(list->sizeY) : 0;
        int32_t count = Param(msg, 1);
        if (count < 0) count = 0;
        if (static_cast<uint64_t>(count) > bandBytes / kEntryBytes) count = static_cast<int32_t>(bandBytes / kEntryBytes);
        const uint32_t id = mpCamAlloc(res, static_cast<const _DCF_ENTRY*>(entries), count, Param(msg, 2));
        PutLong(msg, 0, id);
    });
}

void mp_CamClone(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamClone", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* camera = Camera(res, msg, 0);
        if (!camera) {
            PutLong(msg, 0, 0);
            return;
        }
        _MP_BUF_ST* copy = mpCamClone(res, camera, Param(msg, 1));
        const uint32_t id = copy ? mp_buf_alloc_id(copy) : 0;
        if (!id) {
            if (copy) mp_buf_free(copy);
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, kCamTextCloneFailed);
        }
        PutLong(msg, 0, id);
    });
}

void mp_CamControl(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamControl", [msg](MP_RESOURCE_ST* res) {
        if (_MP_BUF_ST* camera = Camera(res, msg, 0))
            mpCamControl(res, camera, Param(msg, 1), mp_msg_param_double(msg, 2));
    });
}

void mp_CamFree(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamFree", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* camera = Camera(res, msg, 0);
        if (!camera) return;
        mp_sys_cam_free_for_dig(res, mp_msg_param(msg, 0));
        mp_buf_free(camera);
    });
}

void mp_CamInquire(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamInquire", [msg](MP_RESOURCE_ST* res) {
        uint8_t result[8] = {};
        if (_MP_BUF_ST* camera = Camera(res, msg, 0)) mpCamInquire(res, camera, Param(msg, 1), result);
        PutBytes(msg, 0, result);
    });
}

void mp_CamSave(_MSG_BODY_ST* msg)
{
    Serve(msg, "CamSave", [msg](MP_RESOURCE_ST* res) {
        if (mp_msg_param(msg, 1) != 0) {
            // The caller has read the entries: the entry buffer goes.
            _MP_BUF_ST* list = Object(mp_msg_param(msg, 0), 0);
            if (list)
                mp_buf_free(list);
            else
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        uint32_t id = 0;
        int32_t count = 0;
        if (_MP_BUF_ST* camera = Camera(res, msg, 0)) mpCamSave(res, camera, &id, &count);
        PutLong(msg, 0, id);
        PutLong(msg, 1, static_cast<uint32_t>(count));
    });
}

void mp_DigAlloc(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigAlloc", [msg](MP_RESOURCE_ST* res) {
        const bool own = Param(msg, 0) == -1 && Param(msg, 1) == -1;
        _MP_BUF_ST* digitizer = mp_sys_alloc_dig(res, Param(msg, 0), Param(msg, 1));
        // The node's own digitizer handed to a caller counts that caller, whose free
        // gives it back.
        if (digitizer && own) mp_sys_count_dig_use(digitizer);
        uint32_t id = 0;
        if (digitizer) id = Word(digitizer) < kPredefEntries ? (Word(digitizer) | kIdPredefined) : digitizer->id;
        PutLong(msg, 0, id);
    });
}

void mp_DigControl(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigControl", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* digitizer = nullptr;
        if (Digitizer(res, msg, 0, &digitizer))
            mpDigControl(res, digitizer, Param(msg, 1), mp_msg_param_double(msg, 2));
    });
}

void mp_DigFree(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigFree", [msg](MP_RESOURCE_ST* res) { mp_sys_free_dig(res, mp_msg_param(msg, 0)); });
}

namespace {
// A grab that fails ends its sync object at once, so that nobody waits for a grab that
// never runs.  Mend: the object also gets the request's error, as every command that ends
// a sync object gives it, so that imSyncGetError tells why instead of answering 0.
void Fail(MP_RESOURCE_ST* res, MP_SYNC_ST* sync)
{
    if (!sync) return;
    mp_osb_log_error(sync, &res->err);
    mp_osb_update_state(sync, kMsgDone);
}
} // namespace

void mp_DigGrab(_MSG_BODY_ST* msg)
{
    Serve(
        msg, "DigGrab",
        [msg](MP_RESOURCE_ST* res) {
            const bool full = (msg->counts & 0xFFFFu) >= 6;
            const int32_t phase = full ? Param(msg, 6) : 0;
            const bool forwarded = phase != 0;
            _MP_BUF_ST* digitizer = GrabObject(res, msg, 0, forwarded);
            _MP_BUF_ST* camera = GrabObject(res, msg, 1, forwarded);
            _MP_BUF_ST* destination = GrabObject(res, msg, 2, forwarded);
            _MP_BUF_ST* options = GrabObject(res, msg, 4, forwarded);
            MP_SYNC_ST* sync = full ? SyncRecord(GrabObject(res, msg, 5, forwarded)) : nullptr;
            if (!sync) sync = static_cast<MP_SYNC_ST*>(res->sync);
            // An object that is named but cannot be found (a freed or unknown id) ends the
            // request without a grab; its sync object is completed so that nobody waits for
            // a grab that never starts.
            // (A forwarded phase names objects its first node already found.)
            const auto missing = [msg, forwarded](const _MP_BUF_ST* object, uint32_t slot) {
                const uint32_t id = mp_msg_param(msg, slot);
                return !forwarded && !object && id != 0 && id != kNoObjectId;
            };
            if ((!camera && mp_msg_param(msg, 1) != kNoObjectId) || missing(digitizer, 0) ||
                missing(destination, 2) || missing(options, 4)) {
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
                Fail(res, sync);
                return;
            }
            if (mpDigGrab(res, digitizer, camera, destination, Param(msg, 3), options,
                          reinterpret_cast<_MP_BUF_ST*>(sync), phase) == -1)
                Fail(res, sync);
        },
        kResGrabSize);
}

void mp_DigInquire(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigInquire", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* digitizer = nullptr;
        if (!Digitizer(res, msg, 0, &digitizer)) {
            PutDouble(msg, 0, 0.0);
            return;
        }
        const int32_t type = Param(msg, 1);
        if ((static_cast<uint32_t>(type) & 0xFFFFu) != kDigInquireUartString) {
            uint8_t result[8] = {};
            mpDigInquire(res, digitizer, type, result);
            PutBytes(msg, 0, result);
            return;
        }
        // The string is read into a block of the handler's own, whatever the caller's
        // address; only the string and its zero then go to the caller's buffer.
        auto* out = reinterpret_cast<char*>(static_cast<uintptr_t>(mp_msg_param(msg, 2)));
        if (!out) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            PutDouble(msg, 0, 0.0);
            return;
        }
        char block[kDigUartStringBytes] = {};
        mpDigInquire(res, digitizer, type, block);
        const size_t length = strnlen(block, kDigUartStringBytes - 1);
        std::memcpy(out, block, length);
        out[length] = '\0';
        PutDouble(msg, 0, static_cast<double>(length));
    });
}

void mp_DigCapture(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigCapture", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* digitizer = nullptr;
        if (!Digitizer(res, msg, 0, &digitizer)) return;
        if (_MP_BUF_ST* camera = Camera(res, msg, 1)) mpDigCapture(res, digitizer, camera, Param(msg, 2));
    });
}

void mp_DigLutGet(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigLutGet", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST *digitizer = nullptr, *camera = nullptr, *lut = nullptr;
        if (Digitizer(res, msg, 0, &digitizer) && Optional(res, msg, 1, kBufKindCamera, &camera) &&
            Optional(res, msg, 2, 0, &lut))
            mpDigLutGet(res, digitizer, camera, lut, Param(msg, 3), Param(msg, 4), Param(msg, 5));
    });
}

void mp_DigLutSet(_MSG_BODY_ST* msg)
{
    Serve(msg, "DigLutSet", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST *digitizer = nullptr, *camera = nullptr, *lut = nullptr;
        if (Digitizer(res, msg, 0, &digitizer) && Optional(res, msg, 1, kBufKindCamera, &camera) &&
            Optional(res, msg, 2, 0, &lut))
            mpDigLutSet(res, digitizer, camera, lut, Param(msg, 3), Param(msg, 4), Param(msg, 5), Param(msg, 6));
    });
}

void mp_cam_install()
{
    mp_opcode[kOpCamAlloc] = mp_CamAlloc;
    mp_opcode[kOpCamClone] = mp_CamClone;
    mp_opcode[kOpCamControl] = mp_CamControl;
    mp_opcode[kOpCamFree] = mp_CamFree;
    mp_opcode[kOpCamInquire] = mp_CamInquire;
    mp_opcode[kOpCamSave] = mp_CamSave;
    mp_opcode[kOpDigAlloc] = mp_DigAlloc;
    mp_opcode[kOpDigControl] = mp_DigControl;
    mp_opcode[kOpDigFree] = mp_DigFree;
    mp_opcode[kOpDigGrab] = mp_DigGrab;
    mp_opcode[kOpDigInquire] = mp_DigInquire;
    mp_opcode[kOpDigCapture] = mp_DigCapture;
    mp_opcode[kOpDigLutGet] = mp_DigLutGet;
    mp_opcode[kOpDigLutSet] = mp_DigLutSet;
}
