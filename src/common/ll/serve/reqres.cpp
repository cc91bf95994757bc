// Request resources, replies and error records of host-served commands.
#include "reqres.h"
#include "predef.h"

#include "mp_msg.h"

#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "task.h"
#include "vmsection.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>

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
    return mp_is_predefined_thread(id);
}

// Texts built by mp_res_log_error_debug.  An error record points at its text, and the
// record is copied on into the reply slot, the thread's first and pending records and
// the sync object's record, which outlive the command and its request resource: so each
// distinct text is kept once, never changed, until the library unloads.  Guarded by the
// kernel critical section (command servers of several nodes log at once).
std::set<std::string>& DebugTexts()
{
    // Never destroyed: a node's threads may still use it while the process ends.
    static std::set<std::string>& texts = *new std::set<std::string>;
    return texts;
}

// The kept copy of the text, null when no more can be kept.
const char* KeepDebugText(const char* text)
{
    const char* kept = nullptr;
    TaskBeginMutex();
    try {
        std::set<std::string>& texts = DebugTexts();
        auto found = texts.find(text);
        if (found == texts.end() && texts.size() < kResDebugTexts) found = texts.insert(text).first;
        if (found != texts.end()) kept = found->c_str();
    } catch (const std::bad_alloc&) {
        kept = nullptr;
    }
    TaskEndMutex();
    return kept;
}

uint32_t ReplyMode(const _MSG_BODY_ST* msg) { return __atomic_load_n(&msg->replyMode, __ATOMIC_ACQUIRE) & 0xFFFF; }

bool SenderWaits(uint32_t mode) { return mode == IM_REPLY_POLL || mode == IM_REPLY_POLL_FOR_READY; }

bool GaveUp(const _MSG_BODY_ST* msg)
{
    return (__atomic_load_n(&msg->replyMode, __ATOMIC_ACQUIRE) & kReplyModeAbandoned) != 0;
}

enum class ReplyTaker { Sender, Node, Nobody };

// Who takes the slot's reply.  For a slot whose sender waits, the node marks the reply
// mode word as answered with one compare-and-swap; the sender, when it gives up waiting,
// turns the mode into 110 with one compare-and-swap on the same word.  Sender: the mark
// is set, the sender reads the reply and frees the slot.  Node: nobody waits (mode 110
// from the start, or the sender gave up): the node frees the slot.  Nobody: the reply was
// already given; the slot is no longer the node's to touch.
ReplyTaker TakeReply(_MSG_BODY_ST* msg)
{
    uint32_t word = __atomic_load_n(&msg->replyMode, __ATOMIC_ACQUIRE);
    for (;;) {
        if (!SenderWaits(word & 0xFFFF)) return ReplyTaker::Node;
        if (word & kReplyModeAnswered) return ReplyTaker::Nobody;
        if (__atomic_compare_exchange_n(&msg->replyMode, &word, word | kReplyModeAnswered, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_ACQUIRE))
            return ReplyTaker::Sender;
    }
}

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
try {
    return HlcErrorText(code);
}
HLC_EXPORT_CATCH(mp_err_default)

void mp_err_log(_MSG_ERR_ST* record, int32_t code, const char* text, const char* function)
try {
    if (!record || record->code != 0) return;
    record->code = code;
    record->node = mp_sys_this_node_id();
    record->message = text ? text : mp_err_default(code);
    if (function) record->function = function;
}
HLC_EXPORT_CATCH(mp_err_log)

void mp_err_update(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination)
try {
    if (!source || !destination || source->code == 0) return;
    destination->code = source->code;
    destination->node = mp_sys_this_node_id();
    destination->message = InThisSpace(source->node, source->message);
    destination->function = InThisSpace(source->node, source->function);
}
HLC_EXPORT_CATCH(mp_err_update)

namespace {
// A text of another node: in a board window (a board processor's own texts) it is read
// through the accessors, at most size - 1 bytes, and always ends in a zero.
void CopyNodeText(char* destination, const char* source, size_t size)
{
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(source));
    if (!destination || !source || !HwIsWindowAddress(address)) {
        CopyText(destination, source, size);
        return;
    }
    size_t i = 0;
    for (; i + 1 < size; ++i) {
        destination[i] = static_cast<char>(HwRead8(address, static_cast<uint32_t>(i)));
        if (destination[i] == '\0') return;
    }
    destination[i] = '\0';
}
} // namespace

void mp_err_copy(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination)
try {
    if (!source || !destination || source->code == 0) return;
    destination->code = source->code;
    CopyNodeText(const_cast<char*>(destination->message), InThisSpace(source->node, source->message), 80);
    CopyNodeText(const_cast<char*>(destination->function), InThisSpace(source->node, source->function), 32);
    destination->node = mp_sys_this_node_id();
}
HLC_EXPORT_CATCH(mp_err_copy)

const char* mp_err_msg(const _MSG_ERR_ST* record)
try {
    if (!record || record->code == 0) return nullptr;
    return InThisSpace(record->node, record->message);
}
HLC_EXPORT_CATCH(mp_err_msg)

const char* mp_err_func(const _MSG_ERR_ST* record)
try {
    if (!record || record->code == 0) return nullptr;
    return InThisSpace(record->node, record->function);
}
HLC_EXPORT_CATCH(mp_err_func)

// ---------------------------------------------------------------- replies

namespace {
uint32_t SlotAddress(const _MSG_BODY_ST* msg)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(msg));
}
} // namespace

int mp_msg_reply(_MSG_BODY_ST* msg, int32_t code)
{
    switch (TakeReply(msg)) {
    case ReplyTaker::Sender: {
        const uint32_t word = __atomic_load_n(&msg->replyMode, __ATOMIC_ACQUIRE);
        const uint32_t replyNode = (word >> 16) & 0xFF;
        msg->error = code;
        // The snooper is told while the slot is still this node's.
        if ((word & 0xFFFF) != IM_REPLY_POLL_FOR_READY) mp_msg_signal_snooper(SlotAddress(msg), kMsgDone);
        // The sender reads the reply once it sees the status: everything else first.  A
        // sender waiting for "ready" is answered with that status.
        __atomic_store_n(&msg->status, (word & 0xFFFF) == IM_REPLY_POLL_FOR_READY ? kMsgReady : kMsgDone,
                         __ATOMIC_RELEASE);
        if (__atomic_load_n(&msg->inUse, __ATOMIC_ACQUIRE) != 0) mp_interrupt_send(replyNode | 0x80000000u);
        return 1;
    }
    case ReplyTaker::Node:
        msg->error = code;
        mp_msg_signal_snooper(SlotAddress(msg), kMsgDone);
        __atomic_store_n(&msg->status, kMsgDone, __ATOMIC_RELEASE);
        __atomic_store_n(&msg->inUse, 0u, __ATOMIC_RELEASE);
        return 0;
    case ReplyTaker::Nobody:
        break;
    }
    return 0;
}

void mp_msg_complete(_MSG_BODY_ST* msg)
{
    mp_msg_reply(msg, msg->error);
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
    MP_THREAD_ST* thread = mp_thr_server_of_descriptor(TaskGetTaskArg());
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
    // Only the first error of a command is kept, so a later one builds nothing.
    if (!resource || code == 0 || resource->err.code != 0) return;
    char built[kResDebugTextBytes];
    size_t used = 0;
    auto append = [&](const char* part) {
        const size_t n = std::strlen(part);
        if (used + n + 1 > kResDebugTextBytes) return false;
        std::memcpy(built + used, part, n);
        used += n;
        built[used] = '\0';
        return true;
    };
    built[0] = '\0';
    const char* base = text ? text : mp_err_default(code);
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
    const char* kept = KeepDebugText(built);
    _mp_res_log_error(resource, code, kept ? kept : "Insufficient memory to log the error");
}

void mp_res_free(MP_RESOURCE_ST* resource)
{
    if (!resource) return;
    // The copy's VM sections and its copy semaphore go back first.
    mp_res_free_vm(resource);
    MP_THREAD_ST* thread = resource->thread;
    _MSG_BODY_ST* msg = resource->msg;
    if (thread && thread->firstError.code == 0) thread->firstError = resource->err;
    if (msg && ReplyMode(msg) == IM_REPLY_POLL) {
        const _MSG_ERR_ST pending = thread ? thread->pendingError : _MSG_ERR_ST{};
        if (pending.code != 0)
            msg->err = pending;
        else if (resource->err.code != 0)
            msg->err = resource->err;
        else
            msg->err = _MSG_ERR_ST{};
        if (thread) thread->pendingError = _MSG_ERR_ST{};
        // A sender that gave up waiting gets no reply (its slot is freed here): the errors
        // of earlier commands wait for the thread's next synchronous command; this
        // command's own late result is dropped, its sender having had the time-out.
        if (mp_msg_reply(msg, resource->err.code) == 0 && thread) thread->pendingError = pending;
    } else if (msg) {
        if (thread && thread->pendingError.code == 0 && !GaveUp(msg)) thread->pendingError = resource->err;
        if (resource->size == kResReplySize && resource->sync) {
            g_sync.setError(resource->sync, &resource->err);
            g_sync.setState(resource->sync, kMsgDone);
        }
        // A sender waiting for "ready" gets it and frees the slot itself; any other slot
        // is completed and freed here.
        mp_msg_reply(msg, resource->err.code);
    }
    if (resource->sync) g_sync.release(resource->sync);
    resource->sync = nullptr;
}

int mp_res_init(uint32_t) { return 0; }

bool mp_msg_sender_gave_up(const _MSG_BODY_ST* msg) { return msg && GaveUp(msg); }

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
