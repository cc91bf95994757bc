// Sync objects: the record operations, the host-node handlers and the exports.
#include "syncobj.h"

#include "bufid.h"
#include "cmdserver.h"
#include "hlc_errors.h"
#include "im_param.h"
#include "nodelist.h"
#include "reqres.h"
#include "task.h"

#include <cstring>

namespace {

constexpr uint32_t kSyncBandBytes = sizeof(MP_SYNC_ST);

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void ClearError(MP_SYNC_ST* sync)
{
    sync->err = _MSG_ERR_ST{};
    sync->err.node = mp_sys_this_node_id();
}

// The request resources' view of sync objects.
void* Lookup(uint32_t id) { return mp_osb_object(id); }
void SetState(void* sync, uint32_t state) { mp_osb_update_state(static_cast<MP_SYNC_ST*>(sync), state); }
// The object keeps its first error until it is read with an odd mode.
void SetError(void* sync, const _MSG_ERR_ST* error)
{
    auto* s = static_cast<MP_SYNC_ST*>(sync);
    if (!s || !error || error->code == 0 || s->err.code != 0) return;
    s->err = *error;
}
void Release(void*) {}

const MpSyncOps kOps{Lookup, SetState, SetError, Release};

bool IsStateRequest(uint32_t value, bool askState)
{
    if (value == kSyncReceived || value == kSyncReady || value == kSyncStarted || value == kSyncDone) return true;
    if (askState && value == kSyncAskState) return true;
    return (value & kSyncCountBit) != 0;
}

} // namespace

// ---------------------------------------------------------------- operations

MP_SYNC_ST* mp_osb_object(uint32_t id)
{
    if (id == 0) return nullptr;
    _MP_BUF_ST* b = mp_buf_pointer(id);
    if (!b || !mp_buf_valid(b, kBufKindSync)) return nullptr;
    return static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(b, 0));
}

int mp_osb_update_state(MP_SYNC_ST* sync, uint32_t value)
{
    if (!sync || value == 0) return 0;
    if (value & kSyncCountBit) {
        sync->count = (value & 0xFFFFFu) == 0xFFFFFu ? -1 : static_cast<int32_t>(value & 0xFFFFu);
        return 0;
    }
    sync->state = value;
    if (value == kSyncReceived) sync->count = -1;
    return 0;
}

bool mp_osb_wait(MP_SYNC_ST* sync, uint32_t value, const _MSG_BODY_ST* sender)
{
    if (!sync) return false;
    const bool count = (value & kSyncCountBit) != 0;
    const int32_t target = static_cast<int32_t>(value & 0xFFFFu);
    auto pending = [&] {
        const volatile MP_SYNC_ST* s = sync;
        return count ? s->count < target : s->state < value;
    };
    // Every other task of the kernel gets its turn, lower ones too.
    for (unsigned round = 1; pending(); ++round) {
        // A wait without end once nobody waits for its answer would hold the thread
        // object's command server, and every later command of that thread, for good.
        if (mp_msg_sender_gave_up(sender)) return false;
        const int priority = TaskGetPriority();
        TaskSetPriority(priority > 1 ? priority - 1 : priority);
        if (round % 5 == 0) TaskYieldOtherPriority(priority > 3 ? priority - 3 : 0);
        else TaskYield(-1);
        TaskSetPriority(priority);
    }
    if (!count && value == kSyncDone && sync->mode == kSyncModeRearm) {
        sync->state = kSyncNew;
        sync->count = -1;
    }
    return true;
}

void mp_osb_log_error(MP_SYNC_ST* sync, const _MSG_ERR_ST* error) { SetError(sync, error); }

void mp_sync_reply_error_item(_MSG_BODY_ST* msg, _MSG_ERR_ST* record, uint32_t mode)
{
    mp_msg_put_reply(msg, 0, static_cast<uint32_t>(record->code));
    const uint32_t message = Word(mp_err_msg(record));
    const uint32_t function = Word(mp_err_func(record));
    switch (mode & ~1u) {
    case 4: mp_msg_put_reply(msg, 1, message); break;
    // The function pointer goes into slot 1 and, where the caller's item reader looks
    // for it, into slot 2 as well.
    case 8:
        mp_msg_put_reply(msg, 1, function);
        mp_msg_put_reply(msg, 2, function);
        break;
    case 12:
        mp_msg_put_reply(msg, 1, message);
        mp_msg_put_reply(msg, 2, function);
        break;
    default: break;
    }
    if (mode & 1u) {
        record->code = 0;
        record->message = nullptr;
    }
}

// ---------------------------------------------------------------- handlers

void mp_ThrNop(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThrNop");
    mp_res_ok(res);
    mp_res_free(res);
}

void mp_SyncAlloc(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncAlloc");
    if (mp_res_ok(res)) {
        uint32_t id = 0;
        _MP_BUF_ST* b = mp_buf_alloc_on_node(res->node, static_cast<int32_t>(kSyncBandBytes), 1, 1, 8, kLocInline);
        if (b) {
            b->kind = kBufKindSync;
            id = mp_buf_alloc_id(b);
            auto* sync = static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(b, 0));
            if (!id || !sync) {
                mp_buf_free(b);
                id = 0;
            } else {
                sync->state = kSyncNew;
                sync->count = -1;
                sync->mode = kSyncModeRearm;
                ClearError(sync);
            }
        }
        if (!id) _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        mp_msg_put_reply(msg, 0, id);
    }
    mp_res_free(res);
}

void mp_SyncFree(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncFree");
    if (mp_res_ok(res)) {
        const uint32_t id = mp_msg_param(msg, 0);
        if (!mp_osb_object(id)) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        else mp_buf_free(mp_buf_pointer(id));
    }
    mp_res_free(res);
}

void mp_SyncGetError(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncGetError");
    if (mp_res_ok(res)) {
        MP_SYNC_ST* sync = mp_osb_object(mp_msg_param(msg, 0));
        if (!sync) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        else mp_sync_reply_error_item(msg, &sync->err, mp_msg_param(msg, 1));
    }
    mp_res_free(res);
}

void mp_SyncHost(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncHost");
    if (mp_res_ok(res)) {
        const uint32_t id = mp_msg_param(msg, 0);
        const uint32_t value = mp_msg_param(msg, 1);
        MP_SYNC_ST* sync = mp_osb_object(id);
        if (id == 0) {
            // No object: nothing to answer.
        } else if (!IsStateRequest(value, true)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        } else if (!sync) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        } else if (value == kSyncAskCount) {
            mp_msg_put_reply(msg, 0, static_cast<uint32_t>(sync->count));
        } else if (value == kSyncAskState) {
            mp_msg_put_reply(msg, 0, sync->state);
        } else {
            // The wait ends with its sender: a caller that timed out leaves its thread
            // object free for the next command.
            if (mp_osb_wait(sync, value, msg)) mp_msg_put_reply(msg, 0, sync->state);
        }
    }
    mp_res_free(res);
}

void mp_SyncThread(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncThread");
    if (mp_res_ok(res)) {
        const uint32_t id = mp_msg_param(msg, 0);
        const uint32_t value = mp_msg_param(msg, 1);
        MP_SYNC_ST* sync = mp_osb_object(id);
        if (id == 0) {
        } else if (!IsStateRequest(value, false)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        } else if (!sync) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        } else {
            // On the command server's own task: the thread's later commands wait too.
            mp_osb_wait(sync, value);
        }
    }
    mp_res_free(res);
}

void mp_SyncControl(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SyncControl");
    if (mp_res_ok(res)) {
        MP_SYNC_ST* sync = mp_osb_object(mp_msg_param(msg, 0));
        const uint32_t type = mp_msg_param(msg, 1);
        const double value = mp_msg_param_double(msg, 2);
        if (!sync) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        } else if (type == kSyncControlState) {
            if (value == 10 || value == 20 || value == 30 || value == 40 || value == 50)
                mp_osb_update_state(sync, static_cast<uint32_t>(value));
            else
                _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        } else if (type == kSyncControlMode) {
            if (value == 1 || value == 2) sync->mode = static_cast<uint32_t>(value);
            else _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        }
    }
    mp_res_free(res);
}

void mp_sync_install()
{
    mp_server_set_handler(kOpThrNop, mp_ThrNop);
    mp_server_set_handler(kOpSyncAlloc, mp_SyncAlloc);
    mp_server_set_handler(kOpSyncFree, mp_SyncFree);
    mp_server_set_handler(kOpSyncGetError, mp_SyncGetError);
    mp_server_set_handler(kOpSyncHost, mp_SyncHost);
    mp_server_set_handler(kOpSyncThread, mp_SyncThread);
    mp_server_set_handler(kOpSyncControl, mp_SyncControl);
    mp_res_set_sync_ops(&kOps);
}

// ---------------------------------------------------------------- exports

uint32_t imSyncAlloc(uint32_t thread, uint32_t* sync)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncAlloc, 0, "imSyncAlloc");
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const uint32_t id = im_msg_cmd_error(&msg) == 0 ? static_cast<uint32_t>(im_msg_get_long(&msg, 0)) : 0;
    im_msg_end(&msg);
    if (sync) *sync = id;
    return id;
}
HLC_EXPORT_CATCH(imSyncAlloc)

int32_t imSyncFree(uint32_t thread, uint32_t sync)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncFree, 1, "imSyncFree");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(sync));
    // Mend: the free waits for the node's answer, so that a second free (an id that names
    // no sync object) is reported by its return value, not only by a later call.
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imSyncFree)

int32_t imSyncGetError(uint32_t thread, uint32_t sync, uint32_t mode, void* out)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncGetError, 2, "imSyncGetError");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(sync));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(mode));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const int32_t error = im_msg_cmd_error(&msg);
    const int32_t result = error != 0 ? error : im_msg_get_error_item(&msg, mode, out);
    im_msg_end(&msg);
    return result;
}
HLC_EXPORT_CATCH(imSyncGetError)

int32_t imSyncHost(uint32_t thread, uint32_t sync, uint32_t state)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncHost, 2, "imSyncHost");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(sync));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(state));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const int32_t result = im_msg_cmd_error(&msg) == 0 ? im_msg_get_long(&msg, 0) : im_msg_cmd_error(&msg);
    im_msg_end(&msg);
    return result;
}
HLC_EXPORT_CATCH(imSyncHost)

int32_t imSyncThread(uint32_t thread, uint32_t sync, uint32_t state)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncThread, 2, "imSyncThread");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(sync));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(state));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imSyncThread)

int32_t imSyncControl(uint32_t thread, uint32_t sync, uint32_t type, double value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSyncControl, 3, "imSyncControl");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(sync));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(type));
    im_msg_put_double(&msg, 2, value);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imSyncControl)

int32_t imThrNop(uint32_t thread, uint32_t sync)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrNop, 0, "imThrNop");
    im_msg_send(&msg, 0, thread, sync, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imThrNop)
