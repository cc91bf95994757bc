#include "im_msgio.h"
#include "im_param.h"
#include "../../cbinding/ringnode.h"

#include "../ll/fakeconsole.h"
#include "../../testwait.h"
#include "boardsim.h"
#include "consolepipe.h"
#include "driverreq.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "task.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwAccess;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

namespace {

using namespace ringnode;
constexpr uint32_t kSlots = kRingNodeSlots;

constexpr uint32_t kThread = 0x40000010u | (kNode << 16);

double g_timeouts[11] = {5.0, 5.0, 0.02, 0.2, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};
std::vector<std::string> g_diag;
std::vector<int32_t> g_hookCalls;

int Diag(uint32_t system, uint32_t board, uint32_t, const char*)
{
    g_diag.push_back(std::to_string(system) + "," + std::to_string(board));
    return 0;
}
int32_t ErrorHook(int32_t, int32_t code, uint32_t user)
{
    g_hookCalls.push_back(code);
    g_hookCalls.push_back(static_cast<int32_t>(user));
    return 0;
}


class MsgIoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = SetUpRingNode(g_timeouts);
        ASSERT_NE(device_, kInvalidDevice);
        ImMsgHooks mh{Diag};
        im_msg_set_hooks(&mh);
        g_diag.clear();
        g_hookCalls.clear();
    }
    void TearDown() override
    {
        node_.Join();
        im_msg_set_hooks(nullptr);
        TearDownRingNode(device_);
    }
    uint32_t Doorbell() const { return BoardSim::instance().orlo(0, false).reg(kOrloInterruptSet); }
    void TakeDoorbell() { BoardSim::instance().orlo(0, false).setReg(kOrloInterruptSet, 0); }

    // Plays the node: waits (5 s at most) for the head slot, lets `serve` write the reply,
    // completes it with `status` and raises the board-to-host interrupt.
    template <typename Serve>
    void ServeOnce(Serve serve, uint32_t status = kMsgDone)
    {
        node_.Start([serve, status] {
            if (!testwait::WaitUntil(
                    [] { return __atomic_load_n(&g_header[kRingHead], __ATOMIC_ACQUIRE) != 0xFFFFFFFFu; })) {
                ADD_FAILURE() << "nothing was posted into the ring";
                return;
            }
            _MSG_BODY_ST* body = Slot(g_header[kRingHead]);
            if (!testwait::WaitUntil([body] { return __atomic_load_n(&body->opcode, __ATOMIC_ACQUIRE) != 0; })) {
                ADD_FAILURE() << "the head slot was never filled";
                return;
            }
            body->status = kMsgReceived;
            serve(body);
            __atomic_store_n(&body->status, status, __ATOMIC_RELEASE);
            SyncCmdList.PostEvent(kNode);
        });
    }

    DeviceHandle device_ = kInvalidDevice;
    testwait::Thread node_;
};

TEST_F(MsgIoTest, StartFillsTheHeaderAndTheErrorRecord)
{
    _MSG_ST msg{};
    std::memset(msg.lead, 0x33, sizeof msg.lead);
    EXPECT_EQ(im_msg_start(&msg, 11, 2, "imThrNop"), 0u);
    EXPECT_EQ(msg.body.id, -1);
    EXPECT_EQ(msg.body.inUse, 1u);
    EXPECT_EQ(msg.body.flags, 10u);
    EXPECT_EQ(msg.body.status, 10u);
    EXPECT_EQ(msg.body.counts, 2u);
    EXPECT_EQ(msg.body.opcode, 11u);
    EXPECT_EQ(msg.body.err.code, 0);
    EXPECT_STREQ(msg.body.err.function, "imThrNop");
    EXPECT_EQ(msg.lead[63], 0x33);
}

TEST_F(MsgIoTest, FirstPostRingsTheDoorbellLaterPostsOnlyMoveTheTail)
{
    _MSG_ST a{};
    im_msg_start(&a, 11, 1, "imThrNop");
    im_msg_put_long(&a, 0, 0x1234);
    im_msg_send(&a, 0, kThread, 0x77, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&a), 0);
    EXPECT_EQ(g_header[kRingHead], 0u);
    EXPECT_EQ(g_header[kRingTail], 0u);
    EXPECT_EQ(g_header[kRingReserved], 1u);
    EXPECT_EQ(g_header[kRingSequence], 1u);
    EXPECT_EQ(Slot(1)->inUse, 1u);      // reserved for the next post
    EXPECT_EQ(Slot(0)->id, 1);          // sequence 0, successor slot 1
    EXPECT_EQ(Slot(0)->opcode, 11u);
    EXPECT_EQ(Slot(0)->threadId, kThread);
    EXPECT_EQ(Slot(0)->control, 0x77u);
    EXPECT_EQ(Slot(0)->replyMode, (kNode << 16) | 110u);   // plain thread, host-served node
    EXPECT_EQ(im_msg_get_long(reinterpret_cast<_MSG_ST*>(g_ring + 64 + 0 - 64), 0), 0x1234);
    EXPECT_NE(Doorbell() & 32u, 0u);
    TakeDoorbell();

    BoardSim::instance().setTracing(true);
    _MSG_ST b{};
    im_msg_start(&b, 12, 0, "imThrHalt");
    im_msg_send(&b, 0, kThread, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&b), 0);
    EXPECT_EQ(g_header[kRingHead], 0u);
    EXPECT_EQ(g_header[kRingTail], 1u);
    EXPECT_EQ(Slot(1)->id, static_cast<int32_t>((1u << 16) | 2u));
    EXPECT_EQ(Doorbell() & 32u, 0u);
    for (const auto& x : BoardSim::instance().trace())
        EXPECT_FALSE(x.op == HwOp::Write && x.area == HwArea::PrimaryRegs && x.offset == kOrloInterruptSet);
}

TEST_F(MsgIoTest, SynchronousCallGetsTheReplyAndFreesTheSlot)
{
    ServeOnce([](_MSG_BODY_ST* body) {
        int32_t in;
        std::memcpy(&in, body->param[0], 4);
        const int32_t out = in * 2;
        std::memcpy(body->param[0], &out, 4);
        body->counts = (1u << 16) | 1u;
    });
    _MSG_ST msg{};
    im_msg_start(&msg, 20, 1, "imBufInquire");
    im_msg_put_long(&msg, 0, 21);
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 42);
    EXPECT_EQ(Slot(0)->inUse, 0u);
    EXPECT_EQ(Slot(0)->status, kMsgDone);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
}

TEST_F(MsgIoTest, WaitForReadyCompletesAtStatus30)
{
    ServeOnce([](_MSG_BODY_ST* body) { body->counts = 0; }, kMsgReady);
    _MSG_ST msg{};
    im_msg_start(&msg, 20, 0, "imDigGrab");
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_READY);
    EXPECT_EQ(im_msg_cmd_error(&msg), 0);
    EXPECT_EQ(Slot(0)->inUse, 0u);
}

TEST_F(MsgIoTest, ReplyErrorReachesTheApplicationRecordAndTheHookOnce)
{
    im_Application.hook = ErrorHook;
    im_Application.hookUser = 0xBEEF;
    ServeOnce([](_MSG_BODY_ST* body) {
        body->error = -7;
        body->err = _MSG_ERR_ST{-7, kNode, "mp_BufThing", "Invalid buffer size"};
        body->counts = 0;
    });
    _MSG_ST msg{};
    im_msg_start(&msg, 20, 0, "imBufAlloc");
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), -7);
    im_msg_end(&msg);
    EXPECT_EQ(im_Application.error.code, -7);
    EXPECT_STREQ(im_Application.error.message, "Invalid buffer size");
    EXPECT_STREQ(im_Application.error.function, "mp_BufThing");
    EXPECT_EQ(g_hookCalls, (std::vector<int32_t>{-7, 0xBEEF}));
    // The first error stays: a second one does not replace it.
    _MSG_ST other{};
    im_msg_start(&other, 20, 0, "imOther");
    im_msg_log_error(&other, -3, "later");
    im_msg_end(&other);
    EXPECT_EQ(im_Application.error.code, -7);
    EXPECT_EQ(g_hookCalls.size(), 2u);
}

TEST_F(MsgIoTest, ReplyCountLargerThanTheMessageIsCutToFifteenSlots)
{
    ServeOnce([](_MSG_BODY_ST* body) {
        std::memset(body->param, 0x44, sizeof body->param);
        std::memset(reinterpret_cast<uint8_t*>(body) + sizeof(_MSG_BODY_ST), 0x66, 80);
        body->counts = 40u << 16;
    });
    _MSG_ST msg{};
    std::memset(msg.tail, 0x11, sizeof msg.tail);
    im_msg_start(&msg, 20, 0, "imBufInquire");
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), 0);
    EXPECT_EQ(msg.body.param[14][7], 0x44);
    for (uint8_t b : msg.tail) EXPECT_EQ(b, 0x11);
}

TEST_F(MsgIoTest, NodeThatNeverAnswersTimesOutWithDiagnostics)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 20, 0, "imBufInquire");
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), -11);
    EXPECT_STREQ(msg.body.err.message, "Error incomplete response");
    EXPECT_EQ(g_diag, (std::vector<std::string>{"0,0"}));
    // The node may still hold the slot: the sender leaves it to the node's completion.
    EXPECT_EQ(Slot(0)->inUse, 1u);
    EXPECT_EQ(Slot(0)->replyMode, (kNode << 16) | kReplyModeAbandoned | IM_REPLY_NOWAIT);
    EXPECT_EQ(msg.body.replyMode, (kNode << 16) | IM_REPLY_POLL);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
}

// The node's side of a reply as the ring format has it: it marks the reply mode word as
// answered, then publishes the status.
bool NodeTakesReply(_MSG_BODY_ST* body, uint32_t status)
{
    uint32_t word = __atomic_load_n(&body->replyMode, __ATOMIC_ACQUIRE);
    if ((word & 0xFFFF) == IM_REPLY_NOWAIT) return false;
    if (!__atomic_compare_exchange_n(&body->replyMode, &word, word | kReplyModeAnswered, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_ACQUIRE))
        return false;
    __atomic_store_n(&body->status, status, __ATOMIC_RELEASE);
    return true;
}

TEST_F(MsgIoTest, ReplyTakenAsTheWaitEndsIsTheAnswer)
{
    // The debug setting is read right after the wait has ended: the node answers there.
    HlcHostHookOverride host;
    host.table.iniReadInt = [](uint32_t, const char*, int32_t*) {
        _MSG_BODY_ST* body = Slot(0);
        std::memcpy(body->param[0], "\x2a\0\0\0", 4);
        body->counts = 1u << 16;
        EXPECT_TRUE(NodeTakesReply(body, kMsgDone));
        return 1;
    };
    ASSERT_EQ(host.Install(), 0);
    _MSG_ST msg{};
    im_msg_start(&msg, 20, 0, "imBufInquire");
    im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 42);
    EXPECT_TRUE(g_diag.empty());
    EXPECT_EQ(Slot(0)->inUse, 0u);   // the sender's to free
    EXPECT_EQ(msg.body.replyMode, (kNode << 16) | IM_REPLY_POLL);
}

TEST_F(MsgIoTest, KernelTaskReplyWaitEndsWithTheTimeOut)
{
    int32_t code = 0;
    std::string message;
    testwait::Thread sender;
    sender.Start([&] {
        ASSERT_EQ(TaskInitTasking(), 1);
        _MSG_ST msg{};
        im_msg_start(&msg, 20, 1, "imBufInquire");
        im_msg_put_long(&msg, 0, 0x5a);
        im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
        code = im_msg_cmd_error(&msg);
        message = msg.body.err.message ? msg.body.err.message : "";
        TaskExitTasking();
    }, "the kernel task sender");
    sender.Join();
    EXPECT_EQ(code, -11);
    EXPECT_EQ(message, "Error incomplete response");
    EXPECT_EQ(g_diag, (std::vector<std::string>{"0,0"}));
    EXPECT_EQ(Slot(0)->inUse, 1u);
    EXPECT_EQ(Slot(0)->replyMode & 0xFFFF, IM_REPLY_NOWAIT);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
}

TEST_F(MsgIoTest, KernelTaskGetsTheReply)
{
    ServeOnce([](_MSG_BODY_ST* body) {
        std::memcpy(body->param[0], "\x07\0\0\0", 4);
        body->counts = 1u << 16;
    });
    int32_t code = -1, value = 0;
    testwait::Thread sender;
    sender.Start([&] {
        ASSERT_EQ(TaskInitTasking(), 1);
        _MSG_ST msg{};
        im_msg_start(&msg, 20, 0, "imBufInquire");
        im_msg_send(&msg, kNode << 16, 0, 0, IM_SYNC_POLL);
        code = im_msg_cmd_error(&msg);
        value = im_msg_get_long(&msg, 0);
        TaskExitTasking();
    }, "the kernel task sender");
    sender.Join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(Slot(0)->inUse, 0u);
}

TEST_F(MsgIoTest, SenderErrorsAreLoggedAndNothingIsPosted)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 1, 0, "imDev");
    im_msg_send(&msg, 0x22u << 16, 0, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -2);
    EXPECT_STREQ(msg.body.err.message, "Invalid device ID");
    im_msg_send(&msg, 0, 0x22u << 16, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -2);   // the first error wins

    im_msg_start(&msg, 1, 0, "imThr");
    im_msg_send(&msg, 0, 0x22u << 16, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -10);
    EXPECT_STREQ(msg.body.err.message, "Invalid thread ID");

    im_msg_start(&msg, 1, 0, "imThr");
    im_msg_send(&msg, 0, kThread, 0, 4);
    EXPECT_EQ(im_msg_cmd_error(&msg), -8);
    EXPECT_STREQ(msg.body.err.message, "Unknown message synchronization type");

    im_msg_start(&msg, 1, 16, "imThr");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -9);
    EXPECT_STREQ(msg.body.err.message, "Number of parameters exceed maximum allowed");
    EXPECT_EQ(g_header[kRingHead], 0xFFFFFFFFu);
    EXPECT_EQ(g_header[kRingReserved], 0u);
    EXPECT_EQ(Slot(1)->inUse, 0u);

    g_record.ringHeader = 0;
    im_msg_start(&msg, 1, 0, "imThr");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -8);
    EXPECT_STREQ(msg.body.err.message, "No LOCAL processor to establish communication with");
}

TEST_F(MsgIoTest, CorruptRingIndicesAreRefusedWithoutTouchingTheRing)
{
    g_header[kRingReserved] = 9;   // outside the four slots
    const std::vector<uint8_t> before(g_ring, g_ring + sizeof g_ring);
    _MSG_ST msg{};
    im_msg_start(&msg, 11, 0, "imThrNop");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -11);
    EXPECT_STREQ(msg.body.err.message, "Invalid communication ring");
    EXPECT_EQ(std::vector<uint8_t>(g_ring, g_ring + sizeof g_ring), before);
    EXPECT_EQ(g_header[kRingSequence], 0u);
}

TEST_F(MsgIoTest, FailedDoorbellIsReportedAndTheMessageStaysPosted)
{
    BoardSim::instance().orlo(0, false).setReg(kOrloInterruptSet, 32);   // never taken
    _MSG_ST msg{};
    im_msg_start(&msg, 11, 0, "imThrNop");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_POLL);
    EXPECT_EQ(im_msg_cmd_error(&msg), -12);
    EXPECT_STREQ(msg.body.err.message, "Failed to send communication interrupt");
    EXPECT_EQ(g_header[kRingHead], 0u);
    EXPECT_EQ(Slot(0)->opcode, 11u);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
    // Nobody waits for its reply: the node that completes it frees the slot.
    EXPECT_EQ(Slot(0)->inUse, 1u);
    EXPECT_EQ(Slot(0)->replyMode, (kNode << 16) | kReplyModeAbandoned | IM_REPLY_NOWAIT);
    EXPECT_FALSE(NodeTakesReply(Slot(0), kMsgDone));
}

TEST_F(MsgIoTest, FailedDoorbellAfterTheNodeAnsweredFreesTheSlot)
{
    // The node serves the slot (another post's doorbell woke it) while the sender still
    // tries its own doorbell: the reply is taken, so the slot is the sender's to free.
    BoardSim::instance().orlo(0, false).setReg(kOrloInterruptSet, 32);   // never taken
    std::atomic<bool> answered{false};
    BoardSim::instance().setReadFilter([&answered](const HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloInterruptSet && !answered &&
            __atomic_load_n(&Slot(0)->opcode, __ATOMIC_ACQUIRE) == 11u)
            answered = NodeTakesReply(Slot(0), kMsgDone);
        return a.value;
    });
    _MSG_ST msg{};
    im_msg_start(&msg, 11, 0, "imThrNop");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_POLL);
    BoardSim::instance().setReadFilter(nullptr);
    ASSERT_TRUE(answered.load()) << "the doorbell register was never read with the slot filled";
    EXPECT_EQ(im_msg_cmd_error(&msg), -12);
    EXPECT_EQ(Slot(0)->inUse, 0u);
    EXPECT_EQ(Slot(0)->control, 0u);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
}

TEST_F(MsgIoTest, FullRingAsksTheOperatorAndAbortEndsWithStalled)
{
    auto backend = testing_console::ConsoleRegistry();
    qsrf::registry::ScopedProcessBackend scoped(backend);
    testing_console::FakeConsole console;
    console.SetAbortAnswer("Abort");
    im_open_pipe(0);
    ASSERT_TRUE(im_pipe_is_open());
    for (uint32_t i = 0; i < kSlots; ++i) Slot(i)->inUse = 1;
    _MSG_ST msg{};
    im_msg_start(&msg, 11, 0, "imThrNop");
    im_msg_send(&msg, 0, kThread, 0, IM_SYNC_NOWAIT);
    EXPECT_EQ(im_msg_cmd_error(&msg), -11);
    EXPECT_STREQ(msg.body.err.message, "Execution stalled on the host side");
    bool noSpace = false;
    for (const auto& r : console.Records())
        if (r.Text().find("No space in communication buffer.") != std::string::npos) noSpace = true;
    EXPECT_TRUE(noSpace);
    EXPECT_EQ(g_header[kRingSequence], 0u);
    im_close_pipe();
}

// The reply of a get-error command: code -7 and the two texts, of which the reply
// filled the first replySlots slots.
const char kReplyMessage[] = "Invalid buffer size";
const char kReplyFunction[] = "imBufAlloc";
_MSG_ST GetErrorReply(uint32_t replySlots)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 3, 3, "imAppGetError");
    im_msg_put_long(&msg, 0, -7);
    im_msg_put_long(&msg, 1, static_cast<int32_t>(Addr(kReplyMessage)));
    im_msg_put_long(&msg, 2, static_cast<int32_t>(Addr(kReplyFunction)));
    msg.body.counts |= replySlots << 16;
    return msg;
}

TEST_F(MsgIoTest, ErrorItemModesReadTheGetErrorReply)
{
    _MSG_ST msg = GetErrorReply(3);
    const char* message = kReplyMessage;
    const char* function = kReplyFunction;
    int32_t code = 0;
    EXPECT_EQ(im_msg_get_error_item(&msg, 3, &code), -7);
    EXPECT_EQ(code, -7);
    char text[kMsgErrorTextBytes];
    im_msg_get_error_item(&msg, 4, text);
    EXPECT_STREQ(text, message);
    im_msg_get_error_item(&msg, 8, text);
    EXPECT_STREQ(text, function);
    im_msg_get_error_item(&msg, 12, text);
    EXPECT_STREQ(text, "Error in imBufAlloc():\n<Invalid buffer size>");
    std::strcpy(text, "same");
    EXPECT_EQ(im_msg_get_error_item(&msg, 6, text), -7);
    EXPECT_STREQ(text, "same");
    EXPECT_EQ(im_msg_get_error_item(&msg, 2, nullptr), -7);
}

TEST_F(MsgIoTest, ErrorItemTextsOutsideTheReplyAreEmpty)
{
    _MSG_ST msg = GetErrorReply(2);   // code and message only
    char text[kMsgErrorTextBytes];
    im_msg_get_error_item(&msg, 4, text);
    EXPECT_STREQ(text, kReplyMessage);
    std::strcpy(text, "stale");
    im_msg_get_error_item(&msg, 8, text);
    EXPECT_STREQ(text, "");
    im_msg_get_error_item(&msg, 12, text);
    EXPECT_STREQ(text, "Error in ():\n<Invalid buffer size>");

    msg.body.counts &= 0xFFFF;   // a reply without slots
    // Slot 1 now holds a word that is no text of the node: it must not be followed.
    im_msg_put_long(&msg, 1, 0x10);
    int32_t code = 99;
    EXPECT_EQ(im_msg_get_error_item(&msg, 2, &code), 0);
    EXPECT_EQ(code, 0);
    std::strcpy(text, "stale");
    im_msg_get_error_item(&msg, 4, text);
    EXPECT_STREQ(text, "");
    // No error, no text: the joined form too is empty.
    std::strcpy(text, "stale");
    im_msg_get_error_item(&msg, 12, text);
    EXPECT_STREQ(text, "");
}

TEST(SyncCmdListTest, EventsAreSetOnlyForTheirNodeAtTheExpectedStatus)
{
    CSyncCmdList list;
    EXPECT_EQ(list.FreeCount(), 1u);
    _MSG_BODY_ST a{}, b{};
    HANDLE ea = list.GetEvent(0x11, Addr(&a), IM_REPLY_POLL);
    HANDLE eb = list.GetEvent(0x11, Addr(&b), IM_REPLY_POLL_FOR_READY);
    ASSERT_NE(ea, nullptr);
    ASSERT_NE(eb, nullptr);
    EXPECT_NE(ea, eb);
    EXPECT_EQ(list.ActiveCount(), 2u);
    a.status = kMsgReady;
    b.status = kMsgReady;
    list.PostEvent(0x22);
    EXPECT_EQ(WaitForSingleObject(eb, 0), WAIT_TIMEOUT);
    list.PostEvent(0x11);
    EXPECT_EQ(WaitForSingleObject(ea, 0), WAIT_TIMEOUT);   // mode 120 waits for 50
    EXPECT_EQ(WaitForSingleObject(eb, 0), WAIT_OBJECT_0);
    a.status = kMsgDone;
    list.PostEvent(0x11);
    list.FreeEntry(ea);                                      // resets the set event
    EXPECT_EQ(WaitForSingleObject(ea, 0), WAIT_TIMEOUT);
    EXPECT_EQ(list.ActiveCount(), 1u);
    EXPECT_EQ(list.FreeCount(), 1u);
    EXPECT_EQ(list.GetEvent(0x12, Addr(&a), IM_REPLY_POLL), ea);   // reused from the free list
    list.FreeEntry(ea);
    list.FreeEntry(eb);
    EXPECT_EQ(list.FreeCount(), 2u);
}

// The counts walk the lists while a sender links and unlinks entries on another thread:
// a walk that followed an entry just moved to the other list would count entries of both.
TEST(SyncCmdListTest, CountsStayWithinTheEntriesWhileSendersAddAndRemove)
{
    CSyncCmdList list;
    constexpr uint32_t kHeld = 4;
    _MSG_BODY_ST bodies[kHeld]{};
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> overActive{0}, overFree{0}, walks{0};
    testwait::Thread counter;
    counter.Start([&] {
        while (!stop) {
            if (list.ActiveCount() > kHeld) ++overActive;
            if (list.FreeCount() > kHeld) ++overFree;
            ++walks;
        }
    }, "the counting thread");
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    uint32_t rounds = 0;
    while (std::chrono::steady_clock::now() < end || walks < 1000) {
        HANDLE events[kHeld];
        for (uint32_t i = 0; i < kHeld; ++i) events[i] = list.GetEvent(0x11, Addr(&bodies[i]), IM_REPLY_POLL);
        for (uint32_t i = 0; i < kHeld; ++i) list.FreeEntry(events[kHeld - 1 - i]);
        ++rounds;
        if (std::chrono::steady_clock::now() > end + std::chrono::seconds(4)) break;
    }
    stop = true;
    counter.Join();
    EXPECT_GT(rounds, 0u);
    EXPECT_GE(walks.load(), 1000u);
    EXPECT_EQ(overActive.load(), 0u);
    EXPECT_EQ(overFree.load(), 0u);
    EXPECT_EQ(list.ActiveCount(), 0u);
    EXPECT_EQ(list.FreeCount(), kHeld);
}

std::atomic<int> g_hookRounds{0};
int32_t CountingHook(int32_t, int32_t, uint32_t)
{
    ++g_hookRounds;
    return 0;
}

// Two senders fail at the same moment: one error is filed whole (code, message and
// function of the same sender) and the hook is told once.
TEST_F(MsgIoTest, ConcurrentFailuresFileOneWholeErrorAndCallTheHookOnce)
{
    struct Failure {
        int32_t code;
        const char* message;
        const char* function;
    };
    const Failure failures[2] = {{-3, "Cannot open the camera file for reading", "imCamAlloc"},
                                 {-8, "Bad clear value", "imBufClear"}};
    for (int round = 0; round < 200; ++round) {
        im_msg_reset_application();
        im_Application.hook = CountingHook;
        g_hookRounds = 0;
        std::atomic<int> arrived{0};
        {
            testwait::Thread senders[2];
            for (int i = 0; i < 2; ++i)
                senders[i].Start([&, i] {
                    _MSG_ST msg{};
                    im_msg_start(&msg, 20, 0, failures[i].function);
                    im_msg_log_error(&msg, failures[i].code, failures[i].message);
                    // Both end their messages at the same moment (5 s at most apart).
                    ++arrived;
                    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                    while (arrived.load() < 2 && std::chrono::steady_clock::now() < limit) {
                    }
                    im_msg_end(&msg);
                });
        }
        ASSERT_EQ(g_hookRounds.load(), 1) << "round " << round;
        const Failure& filed = im_Application.error.code == failures[0].code ? failures[0] : failures[1];
        ASSERT_EQ(im_Application.error.code, filed.code) << "round " << round;
        ASSERT_STREQ(im_Application.error.message, filed.message) << "round " << round;
        ASSERT_STREQ(im_Application.error.function, filed.function) << "round " << round;
    }
    im_msg_reset_application();
}

}  // namespace
