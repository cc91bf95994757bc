#include "cmdserver.h"
#include "bufid.h"
#include "thread.h"

#include "im_msgio.h"
#include "im_param.h"
#include "../../../cbinding/ringnode.h"
#include "../../../testwait.h"

#include "boardsim.h"
#include "driverreq.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "task.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::Topology;

namespace {

using namespace ringnode;
constexpr uint32_t kSlots = kRingNodeSlots;

constexpr uint32_t kThread = 0x00000123u | (kNode << 16);
constexpr uint32_t kOpEcho = 11;
constexpr uint32_t kOpFail = 24;
constexpr uint32_t kOpBlock = 36;

double g_timeouts[11] = {5.0, 5.0, 0.2, 5.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};
std::atomic<int> g_executed{0};
// The thread object: its descriptor, as the command server's argument, and its band.
MP_THREAD_OBJ_ST g_object;
MP_THREAD_ST& g_thread = g_object.server;
_MP_BAND_ST g_band;
_MP_BUF_ST g_descriptor;

_MSG_ST* AsMsg(_MSG_BODY_ST* body) { return reinterpret_cast<_MSG_ST*>(reinterpret_cast<uint8_t*>(body) - 64); }

// Doubles its first parameter into reply slot 0.
void Echo(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "Echo");
    if (mp_res_ok(res)) {
        ++g_executed;
        im_msg_put_long(AsMsg(body), 0, im_msg_get_long(AsMsg(body), 0) * 2);
        body->counts |= 1u << 16;
    }
    mp_res_free(res);
}

void Fail(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "BufClear");
    if (mp_res_ok(res)) {
        ++g_executed;
        _mp_res_log_error(res, -8, "Bad clear value");
        _mp_res_log_error(res, -3, "ignored");
    }
    mp_res_free(res);
}

// Waits on the thread object's first semaphore (until it is signalled or closed).
void Block(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "Block");
    if (mp_res_ok(res)) {
        ++g_executed;
        TaskWaitSema(res->thread->firstSema);
    }
    mp_res_free(res);
}

class CmdServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = SetUpRingNode(g_timeouts);
        ASSERT_NE(device_, kInvalidDevice);
        g_nodeState.commState = -1;
        g_executed = 0;
        mp_server_reset_handlers();
        // The command server alone: its own table of thread objects, not the wired lookup.
        mp_server_set_thread_lookup(nullptr);
        mp_server_set_handler(kOpEcho, Echo);
        mp_server_set_handler(kOpFail, Fail);
        mp_server_set_handler(kOpBlock, Block);

        interrupts_.Start([this] { Interrupts(); }, "the interrupt thread");
        server_.Start([this] { Server(); }, "the node's kernel thread");
        ASSERT_TRUE(testwait::WaitUntil([this] { return ready_ || !server_.Running(); }) && ready_)
            << "the node's kernel thread ended, or did not start serving within 5 s";
    }
    void TearDown() override
    {
        stop_ = true;
        server_.Join();
        interrupts_.Join();
        mp_server_reset_handlers();
        TearDownRingNode(device_);
    }

    // The interrupt threads' part: the doorbell to the ring reader becomes a count for the
    // ring server's semaphore, the reply doorbell sets the senders' reply events.
    void Interrupts()
    {
        while (!stop_) {
            const uint32_t regs = g_record.primaryRegs;
            const uint32_t pending = HwRead32(regs, kOrloInterruptSet);
            if ((pending & 32u) && !paused_) {
                HwWrite32(regs, kOrloInterruptClear, 32u);
                ++doorbells_;
            }
            if (pending & 2u) {
                HwWrite32(regs, kOrloInterruptClear, 2u);
                SyncCmdList.PostEvent(kNode);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }

    // The node's kernel: ring server, one thread object and its command server.
    void Server()
    {
        ASSERT_EQ(TaskInitTasking(), 1);
        const int32_t sema = TaskOpenSema(-1, 0);
        mp_interrupt_set_signal(kNode, kRingSignalPrimary, sema);
        g_thread = MP_THREAD_ST{};
        g_thread.id = kThread;
        g_thread.node = kNode;
        g_thread.commandPort = TaskOpenPort(-1);
        g_thread.secondPort = TaskOpenPort(-1);
        g_thread.firstSema = TaskOpenSema(-1, 0);
        g_thread.secondSema = TaskOpenSema(-1, 0);
        g_thread.priority = 10;
        g_thread.created = 1;
        mp_server_add_thread(&g_thread);
        g_band = _MP_BAND_ST{};
        g_band.mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_object));
        g_descriptor = _MP_BUF_ST{};
        g_descriptor.node = kNode;
        g_descriptor.id = kThread;
        g_descriptor.bands = 1;
        g_descriptor.bandTable = &g_band;
        g_descriptor.location = kLocInline;
        TaskResume(TaskCreate(-1, mpFunctionServer, &g_descriptor, 10, 256 * 1024));
        TaskResume(TaskCreate(-1, MpNimServer, &g_record, 20, 256 * 1024));
        ready_ = true;
        bool stopped = false;
        while (!stop_) {
            for (int n = doorbells_.exchange(0); n > 0; --n) TaskSignalSema(sema);
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> lock(jobMutex_);
                job.swap(job_);
            }
            if (job) {
                job();
                jobDone_ = true;
            }
            if (stopServing_ && !stopped) {
                mp_server_stop_thread(&g_thread);
                stopped = true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (!stopped) mp_server_stop_thread(&g_thread);
        TaskCloseSema(g_thread.firstSema);
        TaskCloseSema(sema);
        TaskExitTasking();
    }

    // Runs the job on the node's kernel thread; false when it has not run within 5 s.
    [[nodiscard]] bool OnServer(std::function<void()> job)
    {
        jobDone_ = false;
        {
            std::lock_guard<std::mutex> lock(jobMutex_);
            job_ = std::move(job);
        }
        return testwait::WaitUntil([this] { return jobDone_.load(); });
    }

    // True once done() holds; false after 5 s (the test asserts it).
    [[nodiscard]] static bool WaitUntil(const std::function<bool()>& done) { return testwait::WaitUntil(done); }

    uint32_t SlotsInUse() const
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < kSlots; ++i) n += Slot(i)->inUse != 0;
        return n;   // the reserved slot counts as one
    }

    int32_t Send(uint32_t opcode, int32_t value, uint32_t sync, _MSG_ST* msg, uint32_t thread = kThread)
    {
        im_msg_start(msg, opcode, 1, "imTest");
        im_msg_put_long(msg, 0, value);
        im_msg_send(msg, 0, thread, 0, sync);
        return im_msg_cmd_error(msg);
    }

    DeviceHandle device_ = kInvalidDevice;
    testwait::Thread server_;
    testwait::Thread interrupts_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopServing_{false};
    std::atomic<int> doorbells_{0};
    std::mutex jobMutex_;
    std::function<void()> job_;
    std::atomic<bool> jobDone_{false};
};

TEST_F(CmdServerTest, StartUpMarksTheShellReady)
{
    EXPECT_TRUE(WaitUntil([] { return g_nodeState.commState == 1; }));
}

TEST_F(CmdServerTest, SynchronousCommandIsServedAndReplied)
{
    _MSG_ST msg{};
    EXPECT_EQ(Send(kOpEcho, 21, IM_SYNC_POLL, &msg), 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 42);
    EXPECT_EQ(msg.body.err.code, 0);
    EXPECT_EQ(g_executed.load(), 1);
    EXPECT_TRUE(WaitUntil([] { return g_header[kRingServed] == 1u; }));   // counted after the reply
    EXPECT_EQ(g_header[kRingHead], 0xFFFFFFFFu);
    EXPECT_EQ(SlotsInUse(), 1u);

    _MSG_ST again{};
    EXPECT_EQ(Send(kOpEcho, -4, IM_SYNC_POLL, &again), 0);
    EXPECT_EQ(im_msg_get_long(&again, 0), -8);
    EXPECT_TRUE(WaitUntil([] { return g_header[kRingServed] == 2u; }));   // counted after the reply
}

TEST_F(CmdServerTest, HandlerErrorReachesTheSenderFirstErrorWins)
{
    _MSG_ST msg{};
    EXPECT_EQ(Send(kOpFail, 0, IM_SYNC_POLL, &msg), -8);
    EXPECT_EQ(msg.body.err.code, -8);
    EXPECT_STREQ(msg.body.err.message, "Bad clear value");
    EXPECT_STREQ(msg.body.err.function, "BufClear");
    EXPECT_EQ(g_thread.firstError.code, -8);
    EXPECT_EQ(g_thread.pendingError.code, 0);
}

TEST_F(CmdServerTest, UnknownOpcodesAreAnsweredWithInvalidOpcode)
{
    for (uint32_t opcode : {100u, 150u, 224u, 300u, 10000u, 10001u}) {
        _MSG_ST msg{};
        EXPECT_EQ(Send(opcode, 0, IM_SYNC_POLL, &msg), -6) << opcode;
        EXPECT_STREQ(msg.body.err.message, "Invalid opcode received") << opcode;
        EXPECT_STREQ(msg.body.err.function, "Command decoder") << opcode;
    }
    EXPECT_EQ(g_executed.load(), 0);
    EXPECT_EQ(SlotsInUse(), 1u);
}

TEST_F(CmdServerTest, UnknownThreadObject)
{
    _MSG_ST sync{};
    EXPECT_EQ(Send(kOpEcho, 1, IM_SYNC_POLL, &sync, kThread + 1), -10);
    EXPECT_STREQ(sync.body.err.message, "Invalid thread ID");
    _MSG_ST async{};
    EXPECT_EQ(Send(kOpEcho, 1, IM_SYNC_NOWAIT, &async, kThread + 1), 0);
    ASSERT_TRUE(WaitUntil([this] { return SlotsInUse() == 1; }));
    EXPECT_EQ(SlotsInUse(), 1u);
    EXPECT_EQ(g_executed.load(), 0);
}

TEST_F(CmdServerTest, AsynchronousErrorArrivesWithTheNextSynchronousReply)
{
    _MSG_ST async{};
    EXPECT_EQ(Send(kOpFail, 0, IM_SYNC_NOWAIT, &async), 0);
    ASSERT_TRUE(WaitUntil([] { return g_executed.load() == 1; }));
    _MSG_ST sync{};
    EXPECT_EQ(Send(kOpEcho, 5, IM_SYNC_POLL, &sync), 0);
    EXPECT_EQ(im_msg_get_long(&sync, 0), 10);
    EXPECT_EQ(sync.body.err.code, -8);
    EXPECT_STREQ(sync.body.err.message, "Bad clear value");
    EXPECT_EQ(g_thread.pendingError.code, 0);
    // Delivered once.
    _MSG_ST next{};
    EXPECT_EQ(Send(kOpEcho, 5, IM_SYNC_POLL, &next), 0);
    EXPECT_EQ(next.body.err.code, 0);
}

TEST_F(CmdServerTest, CancelCompletesQueuedCommandsLaterOnesRun)
{
    paused_ = true;
    _MSG_ST a{}, b{}, cancel{};
    EXPECT_EQ(Send(kOpEcho, 1, IM_SYNC_NOWAIT, &a), 0);
    EXPECT_EQ(Send(kOpEcho, 2, IM_SYNC_NOWAIT, &b), 0);
    im_msg_start(&cancel, kOpThrCancel, 0, "imThrCancel");
    im_msg_send(&cancel, 0, kThread, 0, IM_SYNC_NOWAIT);
    paused_ = false;
    ASSERT_TRUE(WaitUntil([this] { return SlotsInUse() == 1; }));
    EXPECT_EQ(SlotsInUse(), 1u);
    EXPECT_EQ(g_executed.load(), 0);
    EXPECT_EQ(g_thread.cancel, 0u);

    _MSG_ST after{};
    EXPECT_EQ(Send(kOpEcho, 7, IM_SYNC_POLL, &after), 0);
    EXPECT_EQ(im_msg_get_long(&after, 0), 14);
    EXPECT_EQ(g_executed.load(), 1);
}

TEST_F(CmdServerTest, SynchronousCommandCancelledWhileQueuedIsAnswered)
{
    paused_ = true;
    _MSG_ST cancel{};
    testwait::Thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        im_msg_start(&cancel, kOpThrCancel, 0, "imThrCancel");
        im_msg_send(&cancel, 0, kThread, 0, IM_SYNC_NOWAIT);
        paused_ = false;
    });
    _MSG_ST sync{};
    // Posted first, so the cancel that follows it finds it queued.
    EXPECT_EQ(Send(kOpEcho, 3, IM_SYNC_POLL, &sync), -13);
    poster.Join();
    EXPECT_EQ(g_executed.load(), 0);
    ASSERT_TRUE(WaitUntil([this] { return SlotsInUse() == 1; }));
    EXPECT_EQ(SlotsInUse(), 1u);
}

TEST_F(CmdServerTest, FullRingWaitsForAFreeSlot)
{
    paused_ = true;
    _MSG_ST m[3]{};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(kOpEcho, i, IM_SYNC_NOWAIT, &m[i]), 0);
    EXPECT_EQ(SlotsInUse(), kSlots);
    testwait::Thread release([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        paused_ = false;
    });
    _MSG_ST last{};
    EXPECT_EQ(Send(kOpEcho, 50, IM_SYNC_POLL, &last), 0);
    release.Join();
    EXPECT_EQ(im_msg_get_long(&last, 0), 100);
    EXPECT_EQ(g_executed.load(), 4);
    EXPECT_TRUE(WaitUntil([] { return g_header[kRingServed] == 4u; }));   // counted after the reply
}

TEST_F(CmdServerTest, ShutDownCompletesCommandsStillQueued)
{
    _MSG_ST blocking{}, queued{};
    EXPECT_EQ(Send(kOpBlock, 0, IM_SYNC_NOWAIT, &blocking), 0);
    ASSERT_TRUE(WaitUntil([] { return g_executed.load() == 1; }));
    EXPECT_EQ(Send(kOpEcho, 9, IM_SYNC_NOWAIT, &queued), 0);
    ASSERT_TRUE(WaitUntil([] { return g_thread.queued == 1; }));
    ASSERT_TRUE(OnServer([] { mp_server_stop_thread(&g_thread); }));
    ASSERT_TRUE(OnServer([] { TaskCloseSema(g_thread.firstSema); }));
    ASSERT_TRUE(WaitUntil([this] { return SlotsInUse() == 1; }));
    EXPECT_EQ(SlotsInUse(), 1u);
    EXPECT_EQ(g_executed.load(), 1);   // the queued command never ran
    // The thread object is gone: a new command is refused.
    _MSG_ST late{};
    EXPECT_EQ(Send(kOpEcho, 1, IM_SYNC_POLL, &late), -10);
    stopServing_ = true;
}

TEST_F(CmdServerTest, AHaltIsPendingUntilTheThreadReachesIt)
{
    // A running command sees the halt the moment the ring server passes it on.
    _MSG_ST blocking{}, halt{};
    EXPECT_EQ(Send(kOpBlock, 0, IM_SYNC_NOWAIT, &blocking), 0);
    ASSERT_TRUE(WaitUntil([] { return g_executed.load() == 1; }));
    EXPECT_EQ(g_thread.pendingHalt, 0u);
    im_msg_start(&halt, kOpThrHalt, 1, "imThrHalt");
    im_msg_put_long(&halt, 0, 1);
    im_msg_send(&halt, 0, kThread, 0, IM_SYNC_NOWAIT);
    ASSERT_TRUE(WaitUntil([] { return g_thread.pendingHalt == 1; }));

    // Once the command ends, the server reaches the halt and the count is taken back.
    ASSERT_TRUE(OnServer([] { TaskSignalSema(g_thread.firstSema); }));
    ASSERT_TRUE(WaitUntil([] { return g_thread.pendingHalt == 0 && g_thread.queued == 0; }));
    _MSG_ST after{};
    EXPECT_EQ(Send(kOpEcho, 4, IM_SYNC_POLL, &after), 0);
    EXPECT_EQ(im_msg_get_long(&after, 0), 8);
    EXPECT_EQ(g_thread.pendingHalt, 0u);
}

} // namespace
