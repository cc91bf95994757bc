#include "reqres.h"

#include "../../hl/servednode.h"

#include "hosthooks.h"
#include "im_param.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(ErrorRecord, DefaultTextsByCode)
{
    EXPECT_EQ(mp_err_default(0), nullptr);
    EXPECT_STREQ(mp_err_default(-1), "Invalid buffer ID");
    EXPECT_STREQ(mp_err_default(-6), "Invalid opcode received");
    EXPECT_STREQ(mp_err_default(-10), "Invalid thread ID");
    EXPECT_STREQ(mp_err_default(-13), "Function halted by imThrHalt()");
    EXPECT_STREQ(mp_err_default(-15), "Miscellaneous error");
    EXPECT_STREQ(mp_err_default(3), "Unknown/Undefined error code");
    EXPECT_STREQ(mp_err_default(-16), "Unknown/Undefined error code");
    EXPECT_STREQ(mp_err_default(-20), "Unknown/Undefined error code");
}

TEST(ErrorRecord, FirstLogWinsAndDefaultsTheText)
{
    _MSG_ERR_ST record{};
    mp_err_log(&record, -8, nullptr, "BufAlloc");
    EXPECT_EQ(record.code, -8);
    EXPECT_STREQ(record.message, "Parameter invalid or unacceptable");
    EXPECT_STREQ(record.function, "BufAlloc");
    mp_err_log(&record, -3, "later", "Other");
    EXPECT_EQ(record.code, -8);
    EXPECT_STREQ(record.function, "BufAlloc");
    _MSG_ERR_ST noName{};
    mp_err_log(&noName, -4, "own text", nullptr);
    EXPECT_STREQ(noName.message, "own text");
    EXPECT_EQ(noName.function, nullptr);
}

TEST(ErrorRecord, CopyCutsTextsToTheirBuffers)
{
    const std::string longText(200, 'm');
    const std::string longName(50, 'f');
    _MSG_ERR_ST source{-5, 0, longName.c_str(), longText.c_str()};
    char message[80];
    char function[32];
    std::memset(message, 1, sizeof message);
    std::memset(function, 1, sizeof function);
    _MSG_ERR_ST destination{0, 7, function, message};
    mp_err_copy(&source, &destination);
    EXPECT_EQ(destination.code, -5);
    EXPECT_EQ(std::string(message), std::string(79, 'm'));
    EXPECT_EQ(std::string(function), std::string(31, 'f'));
    EXPECT_EQ(destination.node, 0u);
    // An empty source leaves the destination alone.
    _MSG_ERR_ST empty{};
    destination.code = 9;
    mp_err_copy(&empty, &destination);
    EXPECT_EQ(destination.code, 9);
}

TEST(ErrorRecord, UpdateAndAccessors)
{
    _MSG_ERR_ST source{-2, 0, "DevAlloc", "no device"};
    _MSG_ERR_ST destination{};
    mp_err_update(&source, &destination);
    EXPECT_EQ(destination.code, -2);
    EXPECT_STREQ(mp_err_msg(&destination), "no device");
    EXPECT_STREQ(mp_err_func(&destination), "DevAlloc");
    _MSG_ERR_ST clear{0, 0, "x", "y"};
    EXPECT_EQ(mp_err_msg(&clear), nullptr);
    EXPECT_EQ(mp_err_func(&clear), nullptr);
}

TEST(RequestResource, OutsideACommandServerThereIsNoResource)
{
    _MSG_BODY_ST msg{};
    EXPECT_EQ(mp_res_alloc(&msg, kResReplySize, "ThrNop"), nullptr);
    EXPECT_EQ(mp_res_ok(nullptr), 0);
    mp_res_free(nullptr);   // nothing to do, no crash
}

TEST(RequestResource, OkFailsOnceAnErrorIsLogged)
{
    _MSG_BODY_ST msg{};
    msg.replyMode = 110;
    MP_RESOURCE_ST resource{};
    resource.name = "BufClear";
    resource.msg = &msg;
    EXPECT_EQ(mp_res_ok(&resource), 1);
    _mp_res_log_error(&resource, -14, nullptr);
    _mp_res_log_error(&resource, -1, "second");
    EXPECT_EQ(resource.err.code, -14);
    EXPECT_STREQ(resource.err.message, "Unacceptable buffer attribute (size, type, etc.)");
    EXPECT_STREQ(resource.err.function, "BufClear");
    EXPECT_EQ(mp_res_ok(&resource), 0);
    // Without a thread object the error stays with the message's slot, completed.
    mp_res_free(&resource);
    EXPECT_EQ(msg.status, kMsgDone);
    EXPECT_EQ(msg.inUse, 0u);
}

TEST(RequestResource, DebugLogAddsFileBaseNameAndLine)
{
    MP_RESOURCE_ST resource{};
    resource.name = "DigGrab";
    mp_res_log_error_debug(&resource, -9, "Grab refused", "/src/host/dig/grab.cpp", 412);
    EXPECT_EQ(resource.err.code, -9);
    EXPECT_STREQ(resource.err.message, "Grab refused grab.cpp 412");

    MP_RESOURCE_ST other{};
    mp_res_log_error_debug(&other, -5, nullptr, "plain.c", 7);
    EXPECT_STREQ(other.err.message, "Referenced item not present plain.c 7");

    // A text that fills the buffer keeps neither file nor line.
    const std::string full(150, 't');
    MP_RESOURCE_ST cut{};
    mp_res_log_error_debug(&cut, -15, full.c_str(), "a/longfilename.cpp", 12345);
    EXPECT_EQ(std::string(cut.err.message), full);
    // A text only the line does not fit keeps the file.
    const std::string near(145, 'n');
    MP_RESOURCE_ST noLine{};
    mp_res_log_error_debug(&noLine, -15, near.c_str(), "x/file.cpp", 1234567);
    EXPECT_EQ(std::string(noLine.err.message), near + " file.cpp");
}

TEST(RequestResource, EachDebugRecordKeepsItsOwnText)
{
    MP_RESOURCE_ST first{}, second{};
    first.name = "DigGrab";
    second.name = "BufCopy";
    mp_res_log_error_debug(&first, -9, "Grab refused", "grab.cpp", 10);
    // The error as the thread and the sender keep it: a copy of the record.
    const _MSG_ERR_ST kept = first.err;
    mp_res_log_error_debug(&second, -4, "No copy engine", "copy.cpp", 20);
    EXPECT_STREQ(first.err.message, "Grab refused grab.cpp 10");
    EXPECT_STREQ(kept.message, "Grab refused grab.cpp 10");
    EXPECT_STREQ(second.err.message, "No copy engine copy.cpp 20");
    // The next command on the first resource builds a new text; the kept record's stays.
    first = MP_RESOURCE_ST{};
    mp_res_log_error_debug(&first, -1, nullptr, "buf.cpp", 30);
    EXPECT_STREQ(first.err.message, "Invalid buffer ID buf.cpp 30");
    EXPECT_STREQ(kept.message, "Grab refused grab.cpp 10");
    // A later error of the same command builds nothing.
    mp_res_log_error_debug(&second, -8, "later", "copy.cpp", 21);
    EXPECT_EQ(second.err.code, -4);
    EXPECT_STREQ(second.err.message, "No copy engine copy.cpp 20");
}

// ---------------------------------------------------------------- replies

// A slot as the node holds it: in use, received, reply node 0x11 and the given mode.
_MSG_BODY_ST Received(uint32_t mode)
{
    _MSG_BODY_ST msg{};
    msg.inUse = 1;
    msg.status = kMsgReceived;
    msg.replyMode = (0x11u << 16) | mode;
    return msg;
}

// The words a completion writes: error, status, in-use and reply mode.
std::vector<uint32_t> Completion(const _MSG_BODY_ST& msg)
{
    return {static_cast<uint32_t>(msg.error), msg.status, msg.inUse, msg.replyMode};
}

TEST(Reply, AWaitingSenderGetsTheReplyAndKeepsTheSlot)
{
    const uint32_t sent = (0x11u << 16) | IM_REPLY_POLL;
    _MSG_BODY_ST msg = Received(IM_REPLY_POLL);
    EXPECT_EQ(mp_msg_reply(&msg, -8), 1);
    EXPECT_EQ(Completion(msg), (std::vector<uint32_t>{static_cast<uint32_t>(-8), kMsgDone, 1u, kReplyModeAnswered | sent}));
    // Answered once: a second answer leaves the slot alone (its sender may reuse it).
    msg.status = kMsgPosted;
    EXPECT_EQ(mp_msg_reply(&msg, -3), 0);
    EXPECT_EQ(Completion(msg), (std::vector<uint32_t>{static_cast<uint32_t>(-8), kMsgPosted, 1u, kReplyModeAnswered | sent}));

    _MSG_BODY_ST ready = Received(IM_REPLY_POLL_FOR_READY);
    EXPECT_EQ(mp_msg_reply(&ready, 0), 1);
    EXPECT_EQ(Completion(ready), (std::vector<uint32_t>{0u, kMsgReady, 1u, kReplyModeAnswered | (0x11u << 16) | IM_REPLY_POLL_FOR_READY}));
}

TEST(Reply, ASlotNobodyWaitsOnIsFreedByItsCompletion)
{
    // Sent without waiting, or left by a sender that gave up: mode 110.
    _MSG_BODY_ST msg = Received(IM_REPLY_NOWAIT);
    EXPECT_EQ(mp_msg_reply(&msg, -10), 0);
    EXPECT_EQ(Completion(msg), (std::vector<uint32_t>{static_cast<uint32_t>(-10), kMsgDone, 0u, (0x11u << 16) | IM_REPLY_NOWAIT}));

    // Completing a slot whose sender still waits answers it instead of freeing it.
    _MSG_BODY_ST waited = Received(IM_REPLY_POLL);
    waited.error = -13;
    mp_msg_complete(&waited);
    EXPECT_EQ(Completion(waited),
              (std::vector<uint32_t>{static_cast<uint32_t>(-13), kMsgDone, 1u, kReplyModeAnswered | (0x11u << 16) | IM_REPLY_POLL}));
}

// ---------------------------------------------------------------- the node answers around the sender's time-out

using servednode::ServedNodeTest;
using servednode::kMain;
using ringnode::g_header;
using ringnode::kRingNodeSlots;
using ringnode::Slot;

constexpr uint32_t kOpGated = 36;
std::atomic<bool> g_gateOpen{false};
std::atomic<int> g_gatedDone{0};

// Doubles its first parameter once the gate opens (5 s at most); a value of 13 is refused
// with -8; a value from 1000 on is a delay in milliseconds above 1000 instead of the gate.
void Gated(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "Gated");
    if (mp_res_ok(res)) {
        const uint32_t value = mp_msg_param(body, 0);
        const auto now = std::chrono::steady_clock::now();
        const auto end = value >= 1000 ? now + std::chrono::milliseconds(value - 1000) : now + std::chrono::seconds(5);
        while ((value >= 1000 || !g_gateOpen) && std::chrono::steady_clock::now() < end) mp_time_sleep(0.001);
        mp_msg_put_reply(body, 0, value * 2);
        if (value == 13) _mp_res_log_error(res, -8, "Bad gated value");
    }
    mp_res_free(res);
    ++g_gatedDone;
}

class ReplyFenceTest : public ServedNodeTest {
protected:
    void InstallHandlers() override
    {
        g_gateOpen = false;
        g_gatedDone = 0;
        savedTimeout_ = servednode::g_timeouts[3];
        mp_server_set_handler(kOpGated, Gated);
        // The sender asks for its debug setting just as its wait has ended: the node's
        // answer may be made to fall right there.
        host_.emplace();
        host_->table.iniReadInt = DebugSetting;
        ASSERT_EQ(host_->Install(), 0);
        g_atTimeOut = nullptr;
    }
    void TearDown() override
    {
        ServedNodeTest::TearDown();
        host_.reset();
        servednode::g_timeouts[3] = savedTimeout_;
    }
    static int DebugSetting(uint32_t, const char*, int32_t*)
    {
        if (g_atTimeOut) g_atTimeOut();
        return 1;   // no such setting
    }
    int32_t Send(uint32_t value, _MSG_ST* msg)
    {
        im_msg_start(msg, kOpGated, 1, "imGated");
        im_msg_put_long(msg, 0, static_cast<int32_t>(value));
        im_msg_send(msg, 0, kMain, 0, IM_SYNC_POLL);
        return im_msg_cmd_error(msg);
    }
    static uint32_t SlotsInUse()
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < kRingNodeSlots; ++i) n += __atomic_load_n(&Slot(i)->inUse, __ATOMIC_ACQUIRE) != 0;
        return n;   // the reserved slot counts as one
    }

    static inline void (*g_atTimeOut)() = nullptr;
    std::optional<HlcHostHookOverride> host_;
    double savedTimeout_ = 0.0;
};

TEST_F(ReplyFenceTest, NodeAnswersBeforeTheTimeOut)
{
    g_gateOpen = true;
    _MSG_ST msg{};
    EXPECT_EQ(Send(21, &msg), 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 42);
    EXPECT_EQ(msg.body.replyMode & kReplyModeAnswered, 0u);   // the caller's message as sent
    ASSERT_TRUE(WaitUntil([] { return SlotsInUse() == 1; }));
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);
}

TEST_F(ReplyFenceTest, NodeAnswersAfterTheTimeOutAndFreesTheSlotItself)
{
    servednode::g_timeouts[3] = 0.1;
    const uint32_t used = g_header[kRingReserved];
    _MSG_ST msg{};
    EXPECT_EQ(Send(13, &msg), -11);
    EXPECT_STREQ(msg.body.err.message, "Error incomplete response");
    // The handler still holds the slot: it stays taken, left to the node.
    EXPECT_EQ(Slot(used)->inUse, 1u);
    EXPECT_EQ(Slot(used)->replyMode & 0xFFFF, IM_REPLY_NOWAIT);
    EXPECT_EQ(g_gatedDone.load(), 0);
    EXPECT_EQ(SyncCmdList.ActiveCount(), 0u);

    g_gateOpen = true;
    ASSERT_TRUE(WaitUntil([] { return g_gatedDone.load() == 1; }));
    ASSERT_TRUE(WaitUntil([] { return SlotsInUse() == 1; }));
    EXPECT_EQ(Slot(used)->status, kMsgDone);
    // The late command's error went with its time-out: the thread's next reply is its own.
    servednode::g_timeouts[3] = 5.0;
    _MSG_ST next{};
    EXPECT_EQ(Send(4, &next), 0);
    EXPECT_EQ(im_msg_get_long(&next, 0), 8);
    EXPECT_EQ(next.body.err.code, 0);
    ASSERT_TRUE(WaitUntil([] { return SlotsInUse() == 1; }));
}

TEST_F(ReplyFenceTest, NodeAnswersAsTheWaitEndsAndTheSenderTakesTheReply)
{
    servednode::g_timeouts[3] = 0.1;
    static uint32_t used;
    used = g_header[kRingReserved];
    g_atTimeOut = [] {
        // The node answers between the end of the wait and the sender's hand-over.
        g_gateOpen = true;
        const bool answered = testwait::WaitUntil([] {
            return __atomic_load_n(&Slot(used)->status, __ATOMIC_ACQUIRE) == kMsgDone &&
                   (__atomic_load_n(&Slot(used)->replyMode, __ATOMIC_ACQUIRE) & kReplyModeAnswered) != 0;
        });
        EXPECT_TRUE(answered) << "the node did not answer within 5 s";
    };
    _MSG_ST msg{};
    EXPECT_EQ(Send(21, &msg), 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 42);
    EXPECT_EQ(Slot(used)->inUse, 0u);   // freed by the sender
    EXPECT_EQ(Slot(used)->control, 0u);
    // The handler counts itself done after its reply, which the sender may already hold.
    EXPECT_TRUE(WaitUntil([] { return g_gatedDone.load() == 1; }));
    ASSERT_TRUE(WaitUntil([] { return SlotsInUse() == 1; }));
}

TEST_F(ReplyFenceTest, AnswersAroundTheTimeOutNeitherLeakNorCrossSlots)
{
    servednode::g_timeouts[3] = 0.04;
    for (uint32_t delay = 0; delay < 80; delay += 10) {
        const uint32_t value = 1000 + delay;
        _MSG_ST msg{};
        const int32_t code = Send(value, &msg);
        if (code == 0)
            EXPECT_EQ(static_cast<uint32_t>(im_msg_get_long(&msg, 0)), 2 * value) << "delay " << delay;
        else
            EXPECT_EQ(code, -11) << "delay " << delay;
        // Every slot but the reserved one comes free, whoever frees it.
        ASSERT_TRUE(WaitUntil([] { return SlotsInUse() == 1; })) << "delay " << delay;
    }
    ASSERT_TRUE(WaitUntil([] { return g_gatedDone.load() == 8; }));
    servednode::g_timeouts[3] = 5.0;
    g_gateOpen = true;
    _MSG_ST last{};
    EXPECT_EQ(Send(5, &last), 0);
    EXPECT_EQ(im_msg_get_long(&last, 0), 10);
}

} // namespace
