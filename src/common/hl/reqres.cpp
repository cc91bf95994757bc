// Request resources, replies and error records of host-served commands.
#include "reqres.h"

#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "task.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kOpcodeDigGrab = 58;

void* NoSync(uint32_t) { return nullptr; }
void NoSyncState(void*, uint32_t) {}
void NoSyncError(void*, const _MSG_ERR_ST*) {}
void NoSyncRelease(void*) {}
MpSyncOps g_sync{NoSync, NoSyncState, NoSyncError, NoSyncRelease};

const char* InThisSpace(uint32_t node, const char* pointer)
{
    if (!pointer) return nullptr;
    const uint32_t self = mp_sys_this_node_id();
    if (node == 0 || node == self) return pointer;
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(mp_util_translate_pstr(node, address)));
}

void CopyText(char* destination, const char* source, size_t size)
{
    if (!destination) return;
    if (!source) source = "";
    std::strncpy(destination, source, size - 1);
    destination[size - 1] = '\0';
}

bool IsPredefinedThread(uint32_t id)
{
    const uint32_t local = id & ~0x00FF0000u;
    return local == 0x40000010u || local == 0x400000C0u || local == 0x400000D0u;
}

uint32_t ReplyMode(const _MSG_BODY_ST* msg) { return msg->replyMode & 0xFFFF; }

} // namespace

void mp_res_set_sync_ops(const MpSyncOps* ops)
{
    g_sync = MpSyncOps{NoSync, NoSyncState, NoSyncError, NoSyncRelease};
    if (!ops) return;
    if (ops->lookup) g_sync.lookup = ops->lookup;
    if (ops->setState) g_sync.setState = ops->setState;
    if (ops->setError) g_sync.setError = ops->setError;
    if (ops->release) g_sync.release = ops->release;
}

// ---------------------------------------------------------------- errors

const char* mp_err_default(int32_t code)
{
    return HlcErrorText(code);
}

void mp_err_log(_MSG_ERR_ST* record, int32_t code, const char* text, const char* function)
{
    if (!record || record->code != 0) return;
    record->code = code;
    record->node = mp_sys_this_node_id();
    record->message = text ? text : mp_err_default(code);
    if (function) record->function = function;
}

void mp_err_update(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination)
{
    if (!source || !destination || source->code == 0) return;
    destination->code = source->code;
    destination->node = mp_sys_this_node_id();
    destination->message = InThisSpace(source->node, source->message);
    destination->function = InThisSpace(source->node, source->function);
}

void mp_err_copy(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination)
{
    if (!source || !destination || source->code == 0) return;
    destination->code = source->code;
    CopyText(const_cast<char*>(destination->message), InThisSpace(source->node, source->message), 80);
    CopyText(const_cast<char*>(destination->function), InThisSpace(source->node, source->function), 32);
    destination->node = mp_sys_this_node_id();
}

const char* mp_err_msg(const _MSG_ERR_ST* record)
{
    if (!record || record->code == 0) return nullptr;
    return InThisSpace(record->node, record->message);
}

const char* mp_err_func(const _MSG_ERR_ST* record)
{
    if (!record || record->code == 0) return nullptr;
    return InThisSpace(record->node, record->function);
}

// ---------------------------------------------------------------- replies

void mp_msg_reply(_MSG_BODY_ST* msg, int32_t code)
{
    msg->error = code;
    // The sender reads the reply once it sees the status: everything else first.
    __atomic_store_n(&msg->status, kMsgDone, __ATOMIC_RELEASE);
    if (__atomic_load_n(&msg->inUse, __ATOMIC_ACQUIRE) != 0)
        mp_interrupt_send(((msg->replyMode >> 16) & 0xFF) | 0x80000000u);
}

void mp_msg_complete(_MSG_BODY_ST* msg)
{
    __atomic_store_n(&msg->status, kMsgDone, __ATOMIC_RELEASE);
    __atomic_store_n(&msg->inUse, 0u, __ATOMIC_RELEASE);
}

void mp_msg_wait_for_wr_posting_empty(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return;
    const uint32_t regs = record->primaryRegs ? record->primaryRegs : record->displayRegs;
    if (!regs) return;
    HwWrite32(regs, kOrloBusControl, HwRead32(regs, kOrloBusControl) | kBusWritePostingFlush);
    for (int i = 0; i < 128 && (HwRead32(regs, kOrloBusControl) & kBusWritePostingBusy); ++i) {
    }
}

// ---------------------------------------------------------------- request resources

MP_RESOURCE_ST* mp_res_alloc(_MSG_BODY_ST* msg, uint32_t size, const char* name)
{
    MP_THREAD_ST* thread = static_cast<MP_THREAD_ST*>(TaskGetTaskArg());
    if (!thread) return nullptr;
    MP_RESOURCE_ST* resource = &thread->resource;
    *resource = MP_RESOURCE_ST{};
    resource->node = thread->node;
    resource->record = mp_core_node_record(thread->node);
    resource->boardProcessor = resource->record ? static_cast<uint32_t>(mp_core_board_processor(resource->record)) : 0;
    resource->threadId = thread->id;
    resource->thread = thread;
    resource->name = name;
    resource->size = size;
    resource->msg = msg;
    resource->sync = msg && msg->control ? g_sync.lookup(msg->control) : nullptr;
    return resource;
}

int mp_res_ok(MP_RESOURCE_ST* resource)
{
    if (!resource || resource->err.code != 0) return 0;
    MP_THREAD_ST* thread = resource->thread;
    const bool skip = (resource->msg && resource->msg->opcode == kOpcodeDigGrab) || IsPredefinedThread(resource->threadId);
    if (thread && !skip) {
        // Another task holds the thread object: let it run until it lets go.
        while (thread->created == 1 && thread->hold != 0) {
            mp_time_sleep(0.0);
            TaskYieldOtherPriority(TaskGetPriority());
            if (thread->hold != 0) mp_time_sleep(0.001);
        }
    }
    if (resource->sync) g_sync.setState(resource->sync, kMsgReceived);
    return 1;
}

void _mp_res_log_error(MP_RESOURCE_ST* resource, int32_t code, const char* text)
{
    if (!resource || code == 0 || resource->err.code != 0) return;
    mp_err_log(&resource->err, code, text, resource->name);
    _MSG_BODY_ST* msg = resource->msg;
    if (!msg || ReplyMode(msg) == IM_REPLY_POLL || msg->err.code != 0 || !resource->record) return;
    const uint32_t header = resource->record->ringHeader;
    if (header && (RingHeaderWord(header, kRingDebug) & 15) != 0) msg->err = resource->err;
}

void mp_res_log_error_debug(MP_RESOURCE_ST* resource, int32_t code, const char* text, const char* file, int line)
{
    static char* buffer = static_cast<char*>(std::malloc(kResDebugTextBytes));
    if (!buffer) {
        _mp_res_log_error(resource, code, "Insufficient memory to log the error");
        return;
    }
    // Only the first error of a command is kept, so a later one leaves the buffer alone.
    if (!resource || code == 0 || resource->err.code != 0) return;
    // The buffer is shared by the command servers of every node, each on its own thread.
    TaskBeginMutex();
    const char* base = text ? text : mp_err_default(code);
    size_t used = 0;
    auto append = [&](const char* part) {
        const size_t n = std::strlen(part);
        if (used + n + 1 > kResDebugTextBytes) return false;
        std::memcpy(buffer + used, part, n);
        used += n;
        buffer[used] = '\0';
        return true;
    };
    buffer[0] = '\0';
    if (base) append(base);
    if (file) {
        const char* slash = std::strrchr(file, '/');
        char part[kResDebugTextBytes];
        std::snprintf(part, sizeof part, " %s", slash ? slash + 1 : file);
        if (append(part)) {
            std::snprintf(part, sizeof part, " %d", line);
            append(part);
        }
    }
    _mp_res_log_error(resource, code, buffer);
    TaskEndMutex();
}

void mp_res_free(MP_RESOURCE_ST* resource)
{
    if (!resource) return;
    resource->vmCount = 0;
    MP_THREAD_ST* thread = resource->thread;
    _MSG_BODY_ST* msg = resource->msg;
    if (thread && thread->firstError.code == 0) thread->firstError = resource->err;
    if (msg && ReplyMode(msg) == IM_REPLY_POLL) {
        if (thread && thread->pendingError.code != 0)
            msg->err = thread->pendingError;
        else if (resource->err.code != 0)
            msg->err = resource->err;
        else
            msg->err = _MSG_ERR_ST{};
        if (thread) thread->pendingError = _MSG_ERR_ST{};
        mp_msg_reply(msg, resource->err.code);
    } else if (msg) {
        if (thread && thread->pendingError.code == 0) thread->pendingError = resource->err;
        if (resource->size == kResReplySize && resource->sync) {
            g_sync.setError(resource->sync, &resource->err);
            g_sync.setState(resource->sync, kMsgDone);
        }
        if (ReplyMode(msg) == IM_REPLY_POLL_FOR_READY) {
            // Its sender waits for "ready" and frees the slot itself; status 50 here
            // would leave it waiting until its time-out.
            msg->error = resource->err.code;
            __atomic_store_n(&msg->status, kMsgReady, __ATOMIC_RELEASE);
            if (__atomic_load_n(&msg->inUse, __ATOMIC_ACQUIRE) != 0)
                mp_interrupt_send(((msg->replyMode >> 16) & 0xFF) | 0x80000000u);
        } else {
            mp_msg_complete(msg);
        }
    }
    if (resource->sync) g_sync.release(resource->sync);
    resource->sync = nullptr;
}

int mp_res_init(uint32_t) { return 0; }

uint32_t mp_msg_param(const _MSG_BODY_ST* msg, uint32_t slot)
{
    uint32_t v = 0;
    if (msg && slot < kMsgMaxParams) std::memcpy(&v, msg->param[slot], 4);
    return v;
}

double mp_msg_param_double(const _MSG_BODY_ST* msg, uint32_t slot)
{
    double v = 0.0;
    if (msg && slot < kMsgMaxParams) std::memcpy(&v, msg->param[slot], 8);
    return v;
}

void mp_msg_put_reply(_MSG_BODY_ST* msg, uint32_t slot, uint32_t value)
{
    if (!msg || slot >= kMsgMaxParams) return;
    std::memcpy(msg->param[slot], &value, 4);
    if ((msg->counts >> 16) < slot + 1) msg->counts = (msg->counts & 0xFFFF) | ((slot + 1) << 16);
}
