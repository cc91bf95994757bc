// Ring server, command servers and the opcode table of host-served nodes.
#include "cmdserver.h"
#include "predef.h"

#include "im_msgio.h"
#include "mp_msg.h"

#include "hlc_errors.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "task.h"

#include <cstddef>

MpHandler mp_opcode[mp_max_opcode];
MpHandler mp_opcode_user[mp_max_opcode_user];

namespace {

uint32_t SlotOf(const _MSG_BODY_ST* msg)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(msg));
}

constexpr uint32_t kEmpty = 0xFFFFFFFFu;
constexpr size_t kMaxThreads = 64;

MP_THREAD_ST* g_threads[kMaxThreads];

MP_THREAD_ST* TableLookup(uint32_t threadId)
{
    if (threadId == 0) return nullptr;
    TaskBeginMutex();
    MP_THREAD_ST* found = nullptr;
    for (MP_THREAD_ST* t : g_threads)
        if (t && t->id == threadId) found = t;
    TaskEndMutex();
    return found;
}

void NoPrvHalt(MP_THREAD_ST*, int32_t) {}

MpThreadLookupFn g_lookup = TableLookup;
MpPrvHaltFn g_prvHalt = NoPrvHalt;

// Empty entries start as mp_InvalidOpcode.  Entries that the library's wiring filled
// while the library was loaded, before this file's initialisation, stay.
struct TableInit {
    TableInit()
    {
        for (MpHandler& h : mp_opcode)
            if (!h) h = mp_InvalidOpcode;
        for (MpHandler& h : mp_opcode_user)
            if (!h) h = mp_InvalidOpcode;
    }
} g_tableInit;

_MSG_BODY_ST* Body(uint32_t address) { return reinterpret_cast<_MSG_BODY_ST*>(static_cast<uintptr_t>(address)); }
uint32_t Mode(const _MSG_BODY_ST* msg) { return msg->replyMode & 0xFFFF; }

bool IsPredefinedThread(uint32_t id)
{
    return mp_is_predefined_thread(id);
}

// Completes a command that is not executed.  A synchronous sender is answered, so that
// it is woken instead of waiting out its time-out; it then frees the slot itself.
void CompleteUnexecuted(_MSG_BODY_ST* msg, int32_t code)
{
    if (Mode(msg) == IM_REPLY_POLL || Mode(msg) == IM_REPLY_POLL_FOR_READY) {
        if (code != 0) {
            msg->err = _MSG_ERR_ST{};
            mp_err_log(&msg->err, code, nullptr, "Command server");
        }
        mp_msg_reply(msg, code);   // status 50, or "ready" (30) for mode 125
        return;
    }
    // Nobody waits for this command, and no thread object is left to keep its error for
    // the sender's next call: the application's error record takes it (a second
    // imThrFree, say).
    if (code == HLC_ERR_INVALID_THREAD) {
        _MSG_ERR_ST error{};
        mp_err_log(&error, code, nullptr, "Command decoder");
        im_msg_file_error(error);
    }
    mp_msg_complete(msg);
}

// A halt seen by the ring server counts on the thread and signals its second semaphore,
// which the server takes when it reaches the halt (WaitHalt); -1 undoes a halt that was
// not queued.
void AddPendingHalt(MP_THREAD_ST* thread, int32_t step)
{
    TaskBeginMutex();
    if (step > 0) ++thread->pendingHalt;
    else if (thread->pendingHalt > 0) --thread->pendingHalt;
    TaskEndMutex();
    if (step > 0) TaskSignalSema(thread->secondSema);
    else TaskCheckSema(thread->secondSema);
}

void WaitHalt(MP_THREAD_ST* thread)
{
    if (thread->pendingHalt == 0) return;
    TaskWaitSema(thread->secondSema);
    TaskBeginMutex();
    if (thread->pendingHalt > 0) --thread->pendingHalt;
    TaskEndMutex();
}

void Dispatch(MP_THREAD_ST* thread, _MSG_BODY_ST* msg, bool fromCommandPort)
{
    const uint32_t opcode = msg->opcode;
    if (opcode == kOpThrCancel) {
        if (fromCommandPort) CompleteUnexecuted(msg, 0);
        else mp_msg_complete(msg);
        return;
    }
    if (opcode == kOpThrHalt) {
        const bool predefined = IsPredefinedThread(thread->id);
        if (predefined) mp_msg_reply(msg, 0);
        WaitHalt(thread);
        if (fromCommandPort && !predefined) CompleteUnexecuted(msg, 0);
        return;
    }
    if (opcode < mp_max_opcode)
        mp_opcode[opcode](msg);
    else if (opcode >= kOpcodeUserBase && opcode < kOpcodeUserBase + mp_max_opcode_user)
        mp_opcode_user[opcode - kOpcodeUserBase](msg);
    else
        mp_InvalidOpcode(msg);
}

void CountServed(MP_THREAD_ST* thread)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(thread->node);
    if (!record || !record->ringHeader) return;
    TaskBeginMutex();
    RingSetHeaderWord(record->ringHeader, kRingServed, RingHeaderWord(record->ringHeader, kRingServed) + 1);
    TaskEndMutex();
}

} // namespace

// ---------------------------------------------------------------- opcode table

void mp_InvalidOpcode(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* resource = mp_res_alloc(msg, kResReplySize, "Command decoder");
    if (!resource) {
        // Not on a command server's task: answer the sender all the same.
        msg->err = _MSG_ERR_ST{};
        mp_err_log(&msg->err, HLC_ERR_INVALID_OPCODE, nullptr, "Command decoder");
        if (Mode(msg) == IM_REPLY_POLL) mp_msg_reply(msg, HLC_ERR_INVALID_OPCODE);
        else mp_msg_complete(msg);
        return;
    }
    _mp_res_log_error(resource, HLC_ERR_INVALID_OPCODE, nullptr);
    mp_res_free(resource);
}

MpHandler mp_server_set_handler(uint32_t opcode, MpHandler handler)
{
    if (!handler) handler = mp_InvalidOpcode;
    MpHandler* entry = nullptr;
    if (opcode < mp_max_opcode) entry = &mp_opcode[opcode];
    else if (opcode >= kOpcodeUserBase && opcode < kOpcodeUserBase + mp_max_opcode_user)
        entry = &mp_opcode_user[opcode - kOpcodeUserBase];
    if (!entry) return nullptr;
    const MpHandler old = *entry;
    *entry = handler;
    return old;
}

void mp_server_reset_handlers()
{
    for (MpHandler& h : mp_opcode) h = mp_InvalidOpcode;
    for (MpHandler& h : mp_opcode_user) h = mp_InvalidOpcode;
}

// ---------------------------------------------------------------- thread objects

MpThreadLookupFn mp_server_set_thread_lookup(MpThreadLookupFn fn)
{
    const MpThreadLookupFn old = g_lookup;
    g_lookup = fn ? fn : TableLookup;
    return old;
}

MP_THREAD_ST* mp_server_thread(uint32_t threadId) { return g_lookup(threadId); }

int mp_server_add_thread(MP_THREAD_ST* thread)
{
    if (!thread) return -1;
    int result = -1;
    TaskBeginMutex();
    for (MP_THREAD_ST*& t : g_threads)
        if (!t) {
            t = thread;
            result = 0;
            break;
        }
    TaskEndMutex();
    return result;
}

void mp_server_remove_thread(uint32_t threadId)
{
    TaskBeginMutex();
    for (MP_THREAD_ST*& t : g_threads)
        if (t && t->id == threadId) t = nullptr;
    TaskEndMutex();
}

MpPrvHaltFn mp_server_set_prv_halt(MpPrvHaltFn fn)
{
    const MpPrvHaltFn old = g_prvHalt;
    g_prvHalt = fn ? fn : NoPrvHalt;
    return old;
}

int mp_server_init_ring_msgs(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record || !record->ringHeader || !record->commRing) return -1;
    const uint32_t slots = RingHeaderWord(record->ringHeader, kRingSlots);
    if (slots == 0 || slots > 0xFFFF) return -1;
    for (uint32_t i = 0; i < slots; ++i) {
        const uint32_t body = RingSlotAddress(record->commRing, i);
        if (!TaskInitMsg(reinterpret_cast<void*>(static_cast<uintptr_t>(body - kTaskMsgHeaderSize)),
                         kRingSlotMsgBytes, -1))
            return -1;
    }
    return 0;
}

// ---------------------------------------------------------------- ring server

void MpNimServer(void* nodeRecord)
{
    _NODE_MAIN_RESOURCE_ST* record = static_cast<_NODE_MAIN_RESOURCE_ST*>(nodeRecord);
    if (!record) return;
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    const int32_t sema =
        mp_interrupt_get_signal(node, record->primaryRegs ? kRingSignalPrimary : kRingSignalDisplay);
    if (sema >= -1 || !TaskValidateSema(sema)) return;
    if (mp_server_init_ring_msgs(record) != 0) return;

    if (mp_sys_section_wait(node, kSectionRing) == 0) mp_sys_section_unlock(node, kSectionRing);
    if (record->nodeState) record->nodeState->commState = 1;
    mp_interrupt_send(0);

    const uint32_t header = record->ringHeader;
    for (;;) {
        // A closed semaphore is the node's shut-down: the task ends.
        if (!TaskWaitSema(sema)) return;
        mp_msg_wait_for_wr_posting_empty(record);
        if (RingHeaderWord(header, kRingHead) == kEmpty) continue;
        const uint32_t slots = RingHeaderWord(header, kRingSlots);
        uint32_t slot = RingHeaderWord(header, kRingHead);
        // A chain never holds more slots than the ring; a longer one is corrupt.
        for (uint32_t walked = 0;; ++walked) {
            bool stop = slot >= slots || walked >= slots;
            if (!stop) {
                _MSG_BODY_ST* msg = Body(RingSlotAddress(record->commRing, slot));
                const uint32_t next = static_cast<uint32_t>(msg->id) & 0xFFFF;
                mp_msg_signal_snooper(RingSlotAddress(record->commRing, slot), __atomic_load_n(&msg->status, __ATOMIC_ACQUIRE));
                MP_THREAD_ST* thread = mp_server_thread(msg->threadId);
                if (thread) {
                    if (msg->opcode == kOpThrCancel) thread->cancel = 1;
                    const bool halt = msg->opcode == kOpThrHalt;
                    if (halt) {
                        // The halt is pending from here until the thread's server reaches
                        // it: the thread's running command sees the count and ends.
                        AddPendingHalt(thread, 1);
                        int32_t parameter;
                        __builtin_memcpy(&parameter, msg->param[0], 4);
                        g_prvHalt(thread, parameter);
                    }
                    if (TaskSendMsg(msg, thread->commandPort)) {
                        ++thread->queued;
                    } else {
                        if (halt) AddPendingHalt(thread, -1);
                        CompleteUnexecuted(msg, HLC_ERR_INVALID_THREAD);
                    }
                } else if (Mode(msg) == IM_REPLY_POLL) {
                    msg->err = _MSG_ERR_ST{};
                    mp_err_log(&msg->err, HLC_ERR_INVALID_THREAD, nullptr, "Command decoder");
                    mp_msg_reply(msg, HLC_ERR_INVALID_THREAD);
                } else {
                    CompleteUnexecuted(msg, HLC_ERR_INVALID_THREAD);
                }
                if (mp_sys_section_wait(node, kSectionRing) != 0) break;
                if (RingHeaderWord(header, kRingHead) == RingHeaderWord(header, kRingTail)) {
                    stop = true;
                } else {
                    RingSetHeaderWord(header, kRingHead, next);
                    slot = next;
                }
            } else if (mp_sys_section_wait(node, kSectionRing) != 0) {
                break;
            }
            if (stop) {
                RingSetHeaderWord(header, kRingHead, kEmpty);
                RingSetHeaderWord(header, kRingTail, kEmpty);
                mp_sys_section_unlock(node, kSectionRing);
                mp_msg_wait_for_wr_posting_empty(record);
                break;
            }
            mp_sys_section_unlock(node, kSectionRing);
            mp_msg_wait_for_wr_posting_empty(record);
        }
    }
}

// ---------------------------------------------------------------- command server

void mpFunctionServer(void* descriptor)
{
    MP_THREAD_ST* thread = mp_thr_server_of_descriptor(descriptor);
    if (!thread || thread->boardProcessor) return;
    if (!TaskBindPort(thread->commandPort, 0) || !TaskBindPort(thread->secondPort, 1)) return;
    TaskBindSema(thread->secondSema, 2);
    TaskSetPriority(thread->priority);
    for (;;) {
        const uint32_t events = TaskWaitEvents(3);
        // Closed ports are the thread object's end.
        if (events == 0) return;
        const bool cancelled = thread->cancel != 0;
        const bool fromCommandPort = (events & 2) == 0;
        _MSG_BODY_ST* msg = static_cast<_MSG_BODY_ST*>(
            TaskReceiveMsg(fromCommandPort ? thread->commandPort : thread->secondPort));
        if (!msg) return;
        if (fromCommandPort && thread->queued > 0) --thread->queued;
        const uint32_t opcode = msg->opcode;
        bool count = true;
        if (!fromCommandPort) {
            __atomic_store_n(&msg->status, kMsgReceived, __ATOMIC_RELEASE);
            mp_msg_signal_snooper(SlotOf(msg), kMsgReceived);
            if (cancelled && opcode == kOpThrCancel) count = false;
            Dispatch(thread, msg, false);
        } else if (opcode == kOpThrCancel) {
            thread->cancel = 0;
            __atomic_store_n(&msg->status, kMsgReceived, __ATOMIC_RELEASE);
            mp_msg_signal_snooper(SlotOf(msg), kMsgReceived);
            Dispatch(thread, msg, true);
        } else if (cancelled) {
            __atomic_store_n(&msg->status, kMsgReceivedCancelled, __ATOMIC_RELEASE);
            mp_msg_signal_snooper(SlotOf(msg), kMsgReceivedCancelled);
            if (opcode == kOpThrHalt) WaitHalt(thread);
            CompleteUnexecuted(msg, HLC_ERR_HALTED);
        } else {
            __atomic_store_n(&msg->status, kMsgReceived, __ATOMIC_RELEASE);
            mp_msg_signal_snooper(SlotOf(msg), kMsgReceived);
            Dispatch(thread, msg, true);
        }
        if (count) CountServed(thread);
        if (opcode == kOpThrFree) return;
    }
}

void mp_server_stop_thread(MP_THREAD_ST* thread)
{
    if (!thread) return;
    mp_server_remove_thread(thread->id);
    // Commands still queued would otherwise keep their slots (and their senders) forever.
    while (thread->queued > 0) {
        _MSG_BODY_ST* msg = static_cast<_MSG_BODY_ST*>(TaskReceiveMsg(thread->commandPort));
        if (!msg) break;
        --thread->queued;
        __atomic_store_n(&msg->status, kMsgReceivedCancelled, __ATOMIC_RELEASE);
        mp_msg_signal_snooper(SlotOf(msg), kMsgReceivedCancelled);
        CompleteUnexecuted(msg, HLC_ERR_INVALID_THREAD);
    }
    thread->queued = 0;
    TaskClosePort(thread->commandPort);
    TaskClosePort(thread->secondPort);
    TaskCloseSema(thread->secondSema);
}
