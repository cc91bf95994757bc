// Sending command messages through a node's communication ring, the reply wait, error
// items and the reply events.
#include "im_msgio.h"

#include "mp_msg.h"

#include "consolepipe.h"
#include "hlc_errors.h"
#include "hostutil.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "inthooks.h"
#include "nodelist.h"
#include "hostring.h"
#include "nodeopen.h"
#include "task.h"
#include "w32sync.h"
#include "w32thread.h"

#include <cmath>
#include <cstdio>
#include <cstring>

_APPLICATION_ST im_Application;
// Never destroyed: a node's threads may still use it while the process ends.
CSyncCmdList& SyncCmdList = *new CSyncCmdList;

namespace {

constexpr int32_t kNoSpace = -30;
constexpr int32_t kRingCorrupt = -31;
constexpr int kBoostThreadPriority = THREAD_PRIORITY_TIME_CRITICAL;
constexpr int kBoostTaskPriority = 25;

int DefaultSysDiag(uint32_t, uint32_t, uint32_t, const char*)
{
    return 0;
}
ImMsgHooks g_hooks{DefaultSysDiag};

// A host-served node's ring is plain host memory: no machine lock for its words.
bool IsWindow(uint32_t address)
{
    return !mp_host_ring_holds(address) && HwIsWindowAddress(address);
}

void* HostPointer(uint32_t address)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

uint32_t Address(const void* pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

uint32_t SentSlots(const _MSG_ST* msg)
{
    return msg->body.counts & 0xFFFF;
}

// Copies a zero-ended text of the node's address space into a buffer of size bytes
// (at most size - 1 characters and a zero).
void ReadText(uint32_t node, const char* text, char* buffer, uint32_t size)
{
    if (!buffer || size == 0) return;
    buffer[0] = 0;
    if (!text) return;
    uint32_t address = Address(text);
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (record && mp_core_board_processor(record)) address = mp_util_mvp_to_virtual(node, address);
    if (!address) return;
    uint32_t i = 0;
    for (; i + 1 < size; ++i) {
        const char c = IsWindow(address) ? static_cast<char>(HwRead8(address + i, 0))
                                         : static_cast<const char*>(HostPointer(address))[i];
        if (!c) break;
        buffer[i] = c;
    }
    buffer[i] = 0;
}

// The message's error record into the application's last-error record: the code, the
// texts into the two buffers, and this node.
void CopyErrorToApplication(const _MSG_ERR_ST& from)
{
    _APPLICATION_ST& app = im_Application;
    if (!app.error.function) app.error.function = app.functionBuffer;
    if (!app.error.message) app.error.message = app.messageBuffer;
    app.error.code = from.code;
    ReadText(from.node, from.message, app.error.message, sizeof app.messageBuffer);
    ReadText(from.node, from.function, app.error.function, sizeof app.functionBuffer);
    app.error.node = mp_sys_this_node_id();
}

bool InKernelTask()
{
    return TaskTaskingState() != 0;
}

// Thread and task priority boost of a send.
struct Boost {
    bool active = false;
    int threadPriority = THREAD_PRIORITY_NORMAL;
    bool taskRaised = false;
    int taskPriority = 0;

    void Raise()
    {
        active = true;
        threadPriority = GetThreadPriority(GetCurrentThread());
        SetThreadPriority(GetCurrentThread(), kBoostThreadPriority);
        if (InKernelTask()) {
            const int current = TaskGetPriority();
            if (current >= 0 && current < kBoostTaskPriority) {
                taskPriority = TaskSetPriority(kBoostTaskPriority);
                taskRaised = true;
            }
        }
    }
    void Restore()
    {
        if (!active) return;
        SetThreadPriority(GetCurrentThread(), threadPriority);
        if (taskRaised) TaskSetPriority(taskPriority);
        active = false;
        taskRaised = false;
    }
};

const char* ModeName(uint32_t mode)
{
    if (mode == IM_REPLY_POLL) return "IM_REPLY_POLL";
    if (mode == IM_REPLY_POLL_FOR_READY) return "IM_REPLY_POLL_FOR_READY";
    return "UNKNOWN";
}

// "'name(0xthread, 0xp0, 0xp1)'" within 512 bytes.
void Describe(const _MSG_ST* msg, char* text, size_t size)
{
    size_t used = static_cast<size_t>(std::snprintf(text, size, "'%s(0x%lx", msg->body.err.function ? msg->body.err.function : "",
                                                    static_cast<unsigned long>(msg->body.threadId)));
    const uint32_t slots = SentSlots(msg) < kMsgMaxParams ? SentSlots(msg) : kMsgMaxParams;
    for (uint32_t i = 0; i < slots && used < size; ++i) {
        uint32_t word;
        std::memcpy(&word, msg->body.param[i], 4);
        used += static_cast<size_t>(std::snprintf(text + used, size - used, ", 0x%lx", static_cast<unsigned long>(word)));
    }
    if (used < size) std::snprintf(text + used, size - used, ")'");
}

int32_t DebugSetting(uint32_t node)
{
    int32_t value = 0;
    if (HlcGetHostHooks().iniReadInt(node, "CommunicationDebugMode", &value) != 0) value = 0;
    return value;
}

uint32_t SlotWord(uint32_t slotBody, size_t offset)
{
    return slotBody + static_cast<uint32_t>(offset);
}

// The sender lets go of a posted slot whose reply it will not read: one compare-and-swap
// turns its reply mode (as posted) into 110, and the node's completion then frees the
// slot.  False when the node had already taken on the reply: the slot is still the
// sender's, and the node's status follows at once.
bool LeaveSlotToNode(uint32_t slotBody, uint32_t posted)
{
    uint32_t expected = posted & ~kReplyModeAnswered;
    const uint32_t desired = (expected & 0xFFFF0000u) | kReplyModeAbandoned | IM_REPLY_NOWAIT;
    return RingCompareExchange32(SlotWord(slotBody, offsetof(_MSG_BODY_ST, replyMode)), expected, desired);
}

// The node has taken on the reply: waits, within the communication time-out, for the
// status it publishes next.
bool AwaitTakenReply(uint32_t slotBody, uint32_t expected, double timeout)
{
    const uint32_t statusWord = SlotWord(slotBody, offsetof(_MSG_BODY_ST, status));
    const double start = mp_time_clock(0.0);
    while (RingRead32(statusWord) != expected) {
        if (mp_time_clock(start) >= timeout) return false;
        mp_time_sleep(0.0);
    }
    return true;
}

// The sender completes a slot it owns: control 0, status 50, in-use 0.
void FreeSlot(uint32_t slotBody)
{
    RingWrite32(SlotWord(slotBody, offsetof(_MSG_BODY_ST, control)), 0);
    if (!IsWindow(slotBody)) mp_msg_signal_snooper(slotBody, kMsgDone);
    RingWrite32(SlotWord(slotBody, offsetof(_MSG_BODY_ST, status)), kMsgDone);
    RingWrite32(SlotWord(slotBody, offsetof(_MSG_BODY_ST, inUse)), 0);
}

} // namespace

// ---------------------------------------------------------------- ring memory

uint32_t RingRead32(uint32_t address)
{
    if (IsWindow(address)) return HwRead32(address, 0);
    return __atomic_load_n(static_cast<uint32_t*>(HostPointer(address)), __ATOMIC_ACQUIRE);
}

void RingWrite32(uint32_t address, uint32_t value)
{
    if (IsWindow(address)) {
        HwWrite32(address, 0, value);
        return;
    }
    __atomic_store_n(static_cast<uint32_t*>(HostPointer(address)), value, __ATOMIC_RELEASE);
}

bool RingCompareExchange32(uint32_t address, uint32_t& expected, uint32_t desired)
{
    if (IsWindow(address)) {
        const uint32_t current = HwRead32(address, 0);
        if (current != expected) {
            expected = current;
            return false;
        }
        HwWrite32(address, 0, desired);
        return true;
    }
    return __atomic_compare_exchange_n(static_cast<uint32_t*>(HostPointer(address)), &expected, desired, false,
                                       __ATOMIC_SEQ_CST, __ATOMIC_ACQUIRE);
}

void RingReadBlock(uint32_t address, void* destination, uint32_t bytes)
{
    if (IsWindow(address)) {
        HwReadBlock(address, 0, destination, bytes);
        return;
    }
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    std::memcpy(destination, HostPointer(address), bytes);
}

void RingWriteBlock(uint32_t address, const void* source, uint32_t bytes)
{
    if (IsWindow(address)) {
        HwWriteBlock(address, 0, source, bytes);
        return;
    }
    std::memcpy(HostPointer(address), source, bytes);
    __atomic_thread_fence(__ATOMIC_RELEASE);
}

// ---------------------------------------------------------------- application record

void im_msg_reset_application()
{
    im_Application = _APPLICATION_ST{};
    im_Application.error.function = im_Application.functionBuffer;
    im_Application.error.message = im_Application.messageBuffer;
}

void im_msg_set_hooks(const ImMsgHooks* hooks)
{
    g_hooks = ImMsgHooks{DefaultSysDiag};
    if (hooks && hooks->sysDiag) g_hooks.sysDiag = hooks->sysDiag;
}

// ---------------------------------------------------------------- building and errors

uint32_t im_msg_start(_MSG_ST* msg, uint32_t opcode, uint32_t count, const char* function)
try {
    const uint32_t node = mp_sys_this_node_id();
    _MSG_BODY_ST& b = msg->body;
    b.id = -1;
    b.inUse = 1;
    b.flags = kMsgFlags;
    b.replyMode = 0;
    b.control = 0;
    b.status = kMsgPosted;
    b.error = 0;
    b.threadId = 0;
    b.counts = count & 0xFFFF;
    b.opcode = opcode;
    b.err = _MSG_ERR_ST{0, node, function, nullptr};
    return node;
}
HLC_EXPORT_CATCH_MSG(im_msg_start, msg)

int32_t im_msg_cmd_error(const _MSG_ST* msg)
try {
    return msg->body.error;
}
HLC_EXPORT_CATCH(im_msg_cmd_error)

void im_msg_log_error(_MSG_ST* msg, int32_t code, const char* text)
try {
    if (msg->body.error != 0 || code == 0) return;
    msg->body.error = code;
    msg->body.err.code = code;
    // No text of its own: the code's default text, as the node's error records take it.
    msg->body.err.message = text ? text : HlcErrorText(code);
    msg->body.err.node = mp_sys_this_node_id();
}
HLC_EXPORT_CATCH_MSG(im_msg_log_error, msg)

void im_msg_end(_MSG_ST* msg)
try {
    // A reply may carry an error of an earlier command posted without a wait (the
    // thread's pending error) in its record while its own result word is 0: that error is
    // filed too, or it would never reach the caller.
    if (msg->body.error == 0 && msg->body.err.code == 0) return;
    _MSG_ERR_ST record = msg->body.err;
    if (record.code == 0) record.code = msg->body.error;
    im_msg_file_error(record);
}
HLC_EXPORT_CATCH(im_msg_end)

void im_msg_file_error(const _MSG_ERR_ST& record)
{
    // Senders on several threads may fail at once: the first one files its error whole,
    // the others leave the record alone.  The hook runs outside the lock.
    TaskBeginMutex();
    const bool filed = im_Application.error.code == 0;
    if (filed) CopyErrorToApplication(record);
    const ImErrorHook hook = im_Application.hook;
    const uint32_t user = im_Application.hookUser;
    TaskEndMutex();
    if (filed && hook) hook(0, record.code, user);
}

void im_msg_record_export_failure(const char* function, _MSG_ST* msg)
{
    const char* text = HlcErrorText(HLC_ERR_NO_RESOURCES);
    if (msg) {
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, text);
        return;
    }
    im_msg_file_error(_MSG_ERR_ST{HLC_ERR_NO_RESOURCES, mp_sys_this_node_id(), function, text});
}

int32_t im_msg_get_error_item(_MSG_ST* msg, uint32_t mode, void* out)
try {
    // Only the slots the reply filled are read: beyond them lie the caller's own
    // parameters (or nothing), which must not be taken for text pointers.
    const uint32_t replySlots = msg->body.counts >> 16;
    int32_t code = 0;
    uint32_t messageWord = 0, functionWord = 0;
    if (replySlots > 0) std::memcpy(&code, msg->body.param[0], 4);
    if (replySlots > 1) std::memcpy(&messageWord, msg->body.param[1], 4);
    if (replySlots > 2) std::memcpy(&functionWord, msg->body.param[2], 4);
    if (!out) return code;
    // No error: a 32-bit 0, which reads as an empty text, as the last-error record gives.
    if (code == 0 && (mode & ~1u) != 0) {
        std::memset(out, 0, 4);
        return code;
    }
    const uint32_t node = msg->body.err.node;
    const char* message = static_cast<const char*>(HostPointer(messageWord));
    const char* function = static_cast<const char*>(HostPointer(functionWord));
    switch (mode & ~1u) {
    case 2:
        std::memcpy(out, &code, 4);
        break;
    case 4:
        ReadText(node, message, static_cast<char*>(out), 80);
        break;
    case 8:
        ReadText(node, function, static_cast<char*>(out), 32);
        break;
    case 12: {
        char m[80], f[32];
        ReadText(node, message, m, sizeof m);
        ReadText(node, function, f, sizeof f);
        std::snprintf(static_cast<char*>(out), kMsgErrorTextBytes, "Error in %s():\n<%s>", f, m);
        break;
    }
    default:
        break;
    }
    return code;
}
HLC_EXPORT_CATCH_MSG(im_msg_get_error_item, msg)

// ---------------------------------------------------------------- slot claim

int32_t im_msg_get_free_buffer(_NODE_MAIN_RESOURCE_ST* record, int* savedPriority)
{
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    const uint32_t header = record->ringHeader;
    const uint32_t base = record->commRing;
    const double timeout = mp_sys_timeout(3);
    const uint32_t tries = timeout * 100.0 >= 4294967295.0 ? 0xFFFFFFFFu
                           : timeout * 100.0 < 1.0        ? 1u
                                                          : static_cast<uint32_t>(timeout * 100.0);
    uint32_t count = 0;
    for (;;) {
        const uint32_t slots = RingHeaderWord(header, kRingSlots);
        const uint32_t reserved = RingHeaderWord(header, kRingReserved);
        // A ring whose size or reserved index is out of bounds is never touched.
        if (slots == 0 || slots > 0xFFFF || reserved >= slots) return kRingCorrupt;
        uint32_t found = slots;
        for (uint32_t k = 1; k <= slots; ++k) {
            const uint32_t i = (reserved + k) % slots;
            if (RingRead32(RingSlotAddress(base, i) + offsetof(_MSG_BODY_ST, inUse)) == 0) {
                found = i;
                break;
            }
        }
        if (found == slots) {
            if (savedPriority) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
            ++count;
            if (count == tries) im_print_msg(0, "\n\nNo space in communication buffer.\n\n");
            if (count % tries == 0) {
                int32_t counter = 0;
                if (im_spin_while(&counter, 1) == -1) return kNoSpace;
            }
            mp_time_sleep(0.01);
            if (savedPriority) SetThreadPriority(GetCurrentThread(), *savedPriority);
            continue;
        }
        if (mp_sys_section_wait(node, kSectionRing) != 0) return kNoSpace;
        const uint32_t slot = RingSlotAddress(base, found);
        if (RingRead32(slot + offsetof(_MSG_BODY_ST, inUse)) == 0 && RingHeaderWord(header, kRingReserved) == reserved) {
            RingWrite32(slot + offsetof(_MSG_BODY_ST, inUse), 1);
            RingWrite32(slot + offsetof(_MSG_BODY_ST, status), kMsgPosted);
            RingSetHeaderWord(header, kRingReserved, found);
            return static_cast<int32_t>(reserved);
        }
        mp_sys_section_unlock(node, kSectionRing);
    }
}

// ---------------------------------------------------------------- posting

void im_msg_send(_MSG_ST* msg, uint32_t deviceId, uint32_t threadId, uint32_t control, uint32_t syncType)
try {
    const uint32_t target = ((deviceId ? deviceId : threadId) >> 16) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(target);
    if (!record) {
        if (deviceId)
            im_msg_log_error(msg, HLC_ERR_INVALID_DEVICE, "Invalid device ID");
        else
            im_msg_log_error(msg, HLC_ERR_INVALID_THREAD, "Invalid thread ID");
        return;
    }
    if (!record->ringHeader || !record->commRing) {
        im_msg_log_error(msg, HLC_ERR_INVALID_PARAMETER, "No LOCAL processor to establish communication with");
        return;
    }
    uint32_t mode;
    switch (syncType) {
    case IM_SYNC_POLL: mode = IM_REPLY_POLL; break;
    case IM_SYNC_NOWAIT: mode = IM_REPLY_NOWAIT; break;
    case IM_SYNC_READY: mode = IM_REPLY_POLL_FOR_READY; break;
    default:
        im_msg_log_error(msg, HLC_ERR_INVALID_PARAMETER, "Unknown message synchronization type");
        return;
    }
    if (msg->body.error != 0) return;
    // Refused before a slot is claimed, so that no slot stays taken for it.
    if (SentSlots(msg) > kMsgMaxParams) {
        im_msg_log_error(msg, HLC_ERR_RESTRICTED, "Number of parameters exceed maximum allowed");
        return;
    }

    const uint32_t header = record->ringHeader;
    const uint32_t thisNode = mp_sys_this_node_id();
    const bool kernelTask = InKernelTask();
    const bool hostServed = !mp_core_board_processor(record);
    msg->body.threadId = threadId;
    msg->body.control = control;
    const uint32_t replyNode = (thisNode == 0 && hostServed) ? target : thisNode;
    msg->body.replyMode = (replyNode << 16) | mode;
    msg->body.flags |= RingHeaderWord(header, kRingDebug) << 24;

    Boost boost;
    if (hostServed || kernelTask) boost.Raise();

    const int32_t slot = im_msg_get_free_buffer(record, boost.active ? &boost.threadPriority : nullptr);
    if (slot < 0) {
        boost.Restore();
        if (slot == kRingCorrupt)
            im_msg_log_error(msg, HLC_ERR_TIMEOUT, "Invalid communication ring");
        else
            im_msg_log_error(msg, HLC_ERR_TIMEOUT, "Execution stalled on the host side");
        return;
    }
    const uint32_t sequence = RingHeaderWord(header, kRingSequence);
    msg->body.id = static_cast<int32_t>((sequence << 16) | (RingHeaderWord(header, kRingReserved) & 0xFFFF));
    RingSetHeaderWord(header, kRingSequence, sequence + 1);

    const uint32_t slotBody = RingSlotAddress(record->commRing, static_cast<uint32_t>(slot));
    HANDLE event = nullptr;
    if (mode != IM_REPLY_NOWAIT) im_msg_queue_synch_cmd(kernelTask ? thisNode : target, slotBody, mode, &event);

    msg->body.inUse = 1;
    msg->body.status = kMsgPosted;
    RingWriteBlock(slotBody, &msg->body, SentSlots(msg) * 8 + kMsgHeaderBytes);

    const int32_t head = static_cast<int32_t>(RingHeaderWord(header, kRingHead));
    const int32_t tail = static_cast<int32_t>(RingHeaderWord(header, kRingTail));
    if (head == -1 && tail == -1) {
        RingSetHeaderWord(header, kRingHead, static_cast<uint32_t>(slot));
        RingSetHeaderWord(header, kRingTail, static_cast<uint32_t>(slot));
        if (mp_interrupt_send(target) != 1) im_msg_log_error(msg, HLC_ERR_NO_SYSTEM, "Failed to send communication interrupt");
    } else {
        RingSetHeaderWord(header, kRingTail, static_cast<uint32_t>(slot));
    }
    mp_sys_section_unlock(target, kSectionRing);
    boost.Restore();

    if (mode == IM_REPLY_NOWAIT) return;
    if (msg->body.error != 0) {
        // The message stays posted, but nobody waits for its reply: the event goes back,
        // and whoever completes the slot frees it.
        im_msg_dequeue_synch_cmd(&event);
        if (!LeaveSlotToNode(slotBody, msg->body.replyMode)) {
            AwaitTakenReply(slotBody, mode == IM_REPLY_POLL_FOR_READY ? kMsgReady : kMsgDone, mp_sys_timeout(3));
            FreeSlot(slotBody);
        }
        return;
    }
    im_msg_get(record, static_cast<uint32_t>(slot), msg, mode, event);
}
HLC_EXPORT_CATCH_MSG(im_msg_send, msg)

// ---------------------------------------------------------------- reply wait

int im_msg_get(_NODE_MAIN_RESOURCE_ST* record, uint32_t slot, _MSG_ST* msg, uint32_t mode, HANDLE event)
{
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    const uint32_t slots = RingHeaderWord(record->ringHeader, kRingSlots);
    if (slot >= slots || slots > 0xFFFF) {
        im_msg_dequeue_synch_cmd(&event);
        im_msg_log_error(msg, HLC_ERR_TIMEOUT, "Invalid communication ring");
        return -1;
    }
    const uint32_t slotBody = RingSlotAddress(record->commRing, slot);
    const uint32_t statusWord = SlotWord(slotBody, offsetof(_MSG_BODY_ST, status));
    const uint32_t expected = mode == IM_REPLY_POLL_FOR_READY ? kMsgReady : kMsgDone;
    const uint32_t posted = msg->body.replyMode;
    const double timeout = mp_sys_timeout(3);
    const double start = mp_time_clock(0.0);
    double elapsed = 0.0;
    auto arrived = [&] { return RingRead32(statusWord) == expected; };

    if (!event) {
        while (!arrived()) {
            elapsed = mp_time_clock(start);
            if (elapsed >= timeout) break;
            if (elapsed >= 0.002) mp_time_sleep(0.001);
        }
    } else if (InKernelTask()) {
        // The node's own tasks may run on this thread: test the event and let the tasks
        // of other priorities run, until the reply or the time-out.
        while (!arrived()) {
            elapsed = mp_time_clock(start);
            if (elapsed >= timeout) break;
            if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) TaskYieldOtherPriority(-1);
        }
    } else {
        while (!arrived()) {
            elapsed = mp_time_clock(start);
            if (elapsed >= timeout) break;
            DWORD ms = INFINITE;
            if (timeout < 4294967.0) ms = static_cast<DWORD>(std::ceil((timeout - elapsed) * 1000.0));
            if (WaitForSingleObject(event, ms) == WAIT_TIMEOUT && !arrived()) {
                elapsed = timeout;
                break;
            }
        }
    }

    bool ok = arrived();
    // Set once the slot is handed to the node: from then on the sender never touches it.
    bool leftToNode = false;
    if (!ok) {
        char description[512];
        Describe(msg, description, sizeof description);
        const int32_t setting = DebugSetting(node);
        bool giveUp = true;
        if (setting != 0) {
            im_print_msg(0,
                         "\n\nTimeout after %4.1f seconds\nin Synchronous command on Node 0x%lx at index %ld for state %s\n%s\n",
                         elapsed, static_cast<unsigned long>(node), static_cast<long>(slot), ModeName(mode), "");
            int32_t counter = 0;
            bool aborted = false;
            while (!arrived()) {
                if (im_spin_while(&counter, 1) == -1) {
                    aborted = true;
                    break;
                }
            }
            if (!aborted || arrived()) {
                im_spin_while(&counter, 0);
                im_print_msg(0, "But recovered after %4.1f\n", mp_time_clock(start));
                if (event) WaitForSingleObject(event, 0);
                ok = true;
                giveUp = false;
            }
        }
        if (giveUp && LeaveSlotToNode(slotBody, posted)) {
            leftToNode = true;
            if (setting == 0) {
                im_print_msg(0, "\nTimeout for:\n%s\nState : 0x%lx\n\n", description,
                             static_cast<unsigned long>(RingRead32(statusWord)));
                const uint32_t system = ((node >> 4) & 15) - 1;
                const uint32_t board = (node & 15) - 1;
                g_hooks.sysDiag(system, board, 0, im_getenv(node, "DIAGDUMPFILE"));
            } else {
                im_print_msg(setting, "%s\n", description);
            }
            im_msg_log_error(msg, HLC_ERR_TIMEOUT, "Error incomplete response");
        } else if (giveUp) {
            // The node took on the reply just as the wait ended: its reply is the answer.
            ok = AwaitTakenReply(slotBody, expected, timeout);
            if (!ok) im_msg_log_error(msg, HLC_ERR_TIMEOUT, "Error incomplete response");
        }
    }

    mp_interrupt_check(node);
    im_msg_dequeue_synch_cmd(&event);
    if (ok) {
        // The reply never runs past the fifteen slots of the caller's message.
        const uint32_t counts = RingRead32(SlotWord(slotBody, offsetof(_MSG_BODY_ST, counts)));
        uint32_t replySlots = counts >> 16;
        if (replySlots > kMsgMaxParams) replySlots = kMsgMaxParams;
        RingReadBlock(slotBody, &msg->body, replySlots * 8 + kMsgHeaderBytes);
        // The caller's message keeps the reply mode it was sent with.
        msg->body.replyMode = posted;
    }
    if (!leftToNode) FreeSlot(slotBody);
    return ok ? 0 : -1;
}

// ---------------------------------------------------------------- interrupt hook

int MvpToHostHandler(_HALCYRA_HOOK_LIST* list)
{
    if (!list || !list->owner) return 0;
    SyncCmdList.PostEvent(list->owner->node);
    return 0;
}

int im_msg_hook_handler(uint32_t node)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record) return 1;
    const int32_t source = record->primaryRegs ? 33 : 65;
    // The hook lists call functions without a result.
    HalcyraHookFunction hook = [](_HALCYRA_HOOK_LIST* list) { MvpToHostHandler(list); };
    return HalcyraHookInterruptFunction(node & 0xFF, hook, source, nullptr, nullptr);
}
HLC_EXPORT_CATCH_AS(im_msg_hook_handler, 1)

// ---------------------------------------------------------------- reply events

int im_msg_queue_synch_cmd(uint32_t node, uint32_t slotBody, uint32_t mode, HANDLE* event)
{
    *event = SyncCmdList.GetEvent(node, slotBody, mode);
    return *event ? 0 : -1;
}

void im_msg_dequeue_synch_cmd(HANDLE* event)
{
    if (!event || !*event) return;
    SyncCmdList.FreeEntry(*event);
    *event = nullptr;
}

CSyncCmdList::CSyncCmdList()
{
    _SYNC_CMD_LIST* entry = new _SYNC_CMD_LIST{};
    entry->event = CreateEventA(FALSE, FALSE);
    free_ = entry;
}

CSyncCmdList::~CSyncCmdList()
{
    DeleteEntry(free_);
    DeleteEntry(active_);
    free_ = active_ = nullptr;
}

void CSyncCmdList::DeleteEntry(_SYNC_CMD_LIST* entry)
{
    while (entry) {
        _SYNC_CMD_LIST* next = entry->next;
        if (entry->event) CloseHandle(entry->event);
        delete entry;
        entry = next;
    }
}

HANDLE CSyncCmdList::GetEvent(uint32_t node, uint32_t slotBody, uint32_t mode)
{
    TaskBeginMutex();
    _SYNC_CMD_LIST* entry = free_;
    if (entry) {
        free_ = entry->next;
    } else {
        entry = new _SYNC_CMD_LIST{};
        entry->event = CreateEventA(FALSE, FALSE);
        if (!entry->event) {
            delete entry;
            TaskEndMutex();
            return nullptr;
        }
    }
    entry->node = node;
    entry->busy = 1;
    entry->slotBody = slotBody;
    entry->expected = mode == IM_REPLY_POLL_FOR_READY ? kMsgReady : kMsgDone;
    entry->previous = nullptr;
    entry->next = active_;
    if (active_) active_->previous = entry;
    active_ = entry;
    HANDLE event = entry->event;
    TaskEndMutex();
    return event;
}

void CSyncCmdList::PostEvent(uint32_t node)
{
    // The events are set once the kernel's mutex is left: a woken sender frees its entry
    // under that mutex at once, and would otherwise find it still held here.  Events are
    // never closed while the list lives; a sender that freed its entry in between only
    // finds its next wait woken early, and that wait checks its slot and waits on.
    constexpr int kBatch = 16;
    HANDLE ready[kBatch];
    int count = 0;
    TaskBeginMutex();
    for (_SYNC_CMD_LIST* e = active_; e; e = e->next) {
        if (e->node != node || RingRead32(e->slotBody + offsetof(_MSG_BODY_ST, status)) != e->expected) continue;
        if (count < kBatch)
            ready[count++] = e->event;
        else
            SetEvent(e->event);
    }
    TaskEndMutex();
    for (int i = 0; i < count; ++i) SetEvent(ready[i]);
}

void CSyncCmdList::FreeEntry(HANDLE event)
{
    TaskBeginMutex();
    for (_SYNC_CMD_LIST* e = active_; e; e = e->next) {
        if (e->event != event) continue;
        if (e->previous)
            e->previous->next = e->next;
        else
            active_ = e->next;
        if (e->next) e->next->previous = e->previous;
        e->busy = 0;
        e->previous = nullptr;
        e->next = free_;
        free_ = e;
        break;
    }
    if (event) ResetEvent(event);
    TaskEndMutex();
}

uint32_t CSyncCmdList::ActiveCount() const
{
    // Senders link and unlink entries on other threads while this walks the list.
    TaskBeginMutex();
    uint32_t n = 0;
    for (const _SYNC_CMD_LIST* e = active_; e; e = e->next) ++n;
    TaskEndMutex();
    return n;
}

uint32_t CSyncCmdList::FreeCount() const
{
    TaskBeginMutex();
    uint32_t n = 0;
    for (const _SYNC_CMD_LIST* e = free_; e; e = e->next) ++n;
    TaskEndMutex();
    return n;
}
