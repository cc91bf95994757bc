// The ring snooper, and buffer operations sent to a node with its own processor.
#include "mp_msg.h"

#include "im_msgio.h"
#include "im_param.h"

#include "bufid.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regmap/orlo_regs.h"
#include "task.h"

#include <cstring>

namespace {

constexpr uint32_t kFree = 0xFFFFFFFFu;

_MSG_BODY_ST* Body(uint32_t address)
{
    return reinterpret_cast<_MSG_BODY_ST*>(static_cast<uintptr_t>(address));
}

// Waits, within the doorbell time-out, until done() holds.
template <typename Done>
void WaitBriefly(Done done)
{
    const double limit = mp_sys_timeout(2);
    const double start = mp_time_clock(0.0);
    while (!done() && mp_time_clock(start) < limit) mp_time_sleep(0.0001);
}

void Stamp(uint32_t slotBody, uint32_t offset)
{
    const double now = mp_time_clock(0.0);
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(slotBody + offset)), &now, sizeof now);
}

int BufRemote(uint32_t node, uint32_t opcode, const char* name, const uint32_t* params, uint32_t count,
              uint32_t* reply, uint32_t replyWords)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, count, name);
    for (uint32_t i = 0; i < count; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(params[i]));
    im_msg_send(&msg, 0, kBufRemoteThread | ((node & 0xFF) << 16), 0, IM_SYNC_POLL);
    // The buffer service reports by result: the caller turns a failure into its error.
    if (im_msg_cmd_error(&msg) != 0) return -1;
    for (uint32_t i = 0; reply && i < replyWords && i < kMsgMaxParams; ++i)
        reply[i] = static_cast<uint32_t>(im_msg_get_long(&msg, i));
    return 0;
}

} // namespace

void mp_buf_install_remote()
{
    mp_buf_set_remote(BufRemote);
}

void mp_msg_signal_snooper(uint32_t slotBody, uint32_t status)
try {
    if (!slotBody) return;
    _MSG_BODY_ST* msg = Body(slotBody);
    if ((__atomic_load_n(&msg->flags, __ATOMIC_ACQUIRE) >> 24) == 0) return;
    // The node is the source node of the kernel message whose header lies before the body.
    const uint32_t node = *reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(slotBody - kTaskMsgHeaderSize + 4));
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || !record->ringHeader || !record->commRing || mp_core_board_processor(record)) return;
    const uint32_t header = record->ringHeader;
    const uint32_t mode = RingHeaderWord(header, kRingDebug) & 15;
    if (mode == 0) return;
    const uint32_t regs = record->primaryRegs;
    if (regs) WaitBriefly([&] { return (HwRead32(regs, kOrloInterruptSet) & kSnoopBusy) == 0; });

    const uint32_t offset = slotBody - record->commRing;
    const bool replied = (msg->replyMode & 0xFFFF) == IM_REPLY_POLL;
    auto bothTaken = [&] {
        return RingHeaderWord(header, kRingSnoopPosted) == kFree && RingHeaderWord(header, kRingSnoopReceived) == kFree;
    };
    switch (status) {
    case kMsgPosted:
        if (mode == 2 || (mode == 3 && replied)) WaitBriefly(bothTaken);
        TaskBeginMutex();
        Stamp(slotBody, kSlotPostStamp);
        RingSetHeaderWord(header, kRingSnoopPosts, RingHeaderWord(header, kRingSnoopPosts) + 1);
        RingSetHeaderWord(header, kRingSnoopPosted, offset);
        TaskEndMutex();
        break;
    case kMsgReceived:
    case kMsgReceivedCancelled:
        if (mode == 2) WaitBriefly(bothTaken);
        TaskBeginMutex();
        Stamp(slotBody, kSlotPostStamp);
        RingSetHeaderWord(header, kRingSnoopReceipts, RingHeaderWord(header, kRingSnoopReceipts) + 1);
        RingSetHeaderWord(header, kRingSnoopReceived, offset);
        TaskEndMutex();
        break;
    case kMsgDone:
        if (mode == 2) WaitBriefly([&] { return RingHeaderWord(header, kRingSnoopCompleted) == kFree; });
        TaskBeginMutex();
        Stamp(slotBody, kSlotCompletionStamp);
        RingSetHeaderWord(header, kRingSnoopCompletions, RingHeaderWord(header, kRingSnoopCompletions) + 1);
        RingSetHeaderWord(header, kRingSnoopCompleted, offset);
        if (msg->error != 0 && RingHeaderWord(header, kRingSnoopError) == kFree)
            RingSetHeaderWord(header, kRingSnoopError, offset);
        TaskEndMutex();
        break;
    default:
        return;
    }
    if (regs) HwWrite32(regs, kOrloInterruptSet, kSnoopBusy);
}
HLC_EXPORT_CATCH(mp_msg_signal_snooper)
