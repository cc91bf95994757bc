#include "syncobj.h"
#include "thread.h"

#include "bufid.h"
#include "cmdserver.h"
#include "im_msgio.h"
#include "../../cbinding/ringnode.h"

#include "hwaccess.h"
#include "nodeopen.h"
#include "task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace ringnode;

constexpr uint32_t kMain = 0x40000010u | (kNode << 16);
constexpr uint32_t kDevice = kNode << 16;

double g_timeouts[11] = {5.0, 5.0, 0.2, 5.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};
alignas(65536) uint8_t g_arena[65536];

int32_t Arena(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > sizeof g_arena) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_arena));
    band->physical = 0x10000000u;
    return 7;
}

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = SetUpRingNode(g_timeouts);
        ASSERT_NE(device_, kInvalidDevice);
        mp_buf_set_descriptor_memory(Arena);
        ASSERT_EQ(mp_buf_init(kNode, 100, 50), 0);
        mp_server_reset_handlers();
        mp_sync_install();
        mp_thread_install();
        interrupts_ = std::thread([this] { Interrupts(); });
        server_ = std::thread([this] { Server(); });
        while (!ready_) std::this_thread::yield();
        ASSERT_NE(main_, nullptr);
    }
    void TearDown() override
    {
        stop_ = true;
        server_.join();
        interrupts_.join();
        mp_server_reset_handlers();
        mp_server_set_thread_lookup(nullptr);
        mp_res_set_sync_ops(nullptr);
        mp_buf_exit_all();
        mp_buf_set_descriptor_memory(nullptr);
        TearDownRingNode(device_);
    }
    void Interrupts()
    {
        while (!stop_) {
            const uint32_t regs = g_record.primaryRegs;
            const uint32_t pending = HwRead32(regs, kCoreInterruptSet);
            if (pending & 32u) {
                HwWrite32(regs, kCoreInterruptClear, 32u);
                ++doorbells_;
            }
            if (pending & 2u) {
                HwWrite32(regs, kCoreInterruptClear, 2u);
                SyncCmdList.PostEvent(kNode);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    void Server()
    {
        ASSERT_EQ(TaskInitTasking(), 1);
        const int32_t sema = TaskOpenSema(-1, 0);
        mp_interrupt_set_signal(kNode, kRingSignalPrimary, sema);
        main_ = mpThrAlloc(nullptr, kNode, 0, nullptr, kMain);
        TaskResume(TaskCreate(-1, MpNimServer, &g_record, 20, 256 * 1024));
        ready_ = true;
        while (!stop_) {
            for (int n = doorbells_.exchange(0); n > 0; --n) TaskSignalSema(sema);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        mp_thr_reap();
        for (uint32_t i = 0; i < 4; ++i)
            if (MP_THREAD_OBJ_ST* t = extra_[i]) mp_thr_destroy(t);
        if (main_) mp_thr_destroy(main_);
        TaskCloseSema(sema);
        TaskExitTasking();
    }
    void WaitUntil(const std::function<bool()>& done)
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    uint32_t NewThread()
    {
        const uint32_t id = imThrAlloc(kDevice, 0, nullptr);
        for (auto& e : extra_)
            if (!e) {
                e = mp_thr_object(id);
                break;
            }
        return id;
    }

    DeviceHandle device_ = kInvalidDevice;
    std::thread server_, interrupts_;
    std::atomic<bool> ready_{false}, stop_{false};
    std::atomic<int> doorbells_{0};
    MP_THREAD_OBJ_ST* main_ = nullptr;
    MP_THREAD_OBJ_ST* extra_[4]{};
};

TEST_F(SyncTest, NewSyncObjectIsInStateTenWithNoCount)
{
    uint32_t sync = 0;
    const uint32_t id = imSyncAlloc(kMain, &sync);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(sync, id);
    EXPECT_EQ((id >> 16) & 0xFF, kNode);
    EXPECT_EQ(imSyncHost(kMain, id, kSyncAskState), 10);
    EXPECT_EQ(imSyncHost(kMain, id, kSyncAskCount), -1);
    MP_SYNC_ST* record = mp_osb_object(id);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mode, kSyncModeRearm);
}

TEST_F(SyncTest, NopMovesTheObjectToDoneAndTheWaitRearmsIt)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    const uint32_t worker = NewThread();
    ASSERT_NE(worker, 0u);
    EXPECT_EQ(imThrNop(worker, sync), 0);
    // The wait re-arms the object before it answers its state.
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncDone), 10);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), 10);
    EXPECT_EQ(im_Application.error.code, 0);
}

TEST_F(SyncTest, ModeTwoKeepsTheDoneState)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    EXPECT_EQ(imSyncControl(kMain, sync, kSyncControlMode, 2), 0);
    EXPECT_EQ(imThrNop(kMain, sync), 0);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncDone), 50);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), 50);
}

TEST_F(SyncTest, ControlSetsStatesAndCountsAndRefusesOthers)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    EXPECT_EQ(imSyncControl(kMain, sync, kSyncControlState, 40), 0);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), 40);
    EXPECT_EQ(im_Application.error.code, 0);
    EXPECT_EQ(imSyncControl(kMain, sync, kSyncControlState, 35), 0);
    // The refusal of the posted command reaches the caller with the next waiting one.
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), 40);
    EXPECT_EQ(imThrGetError(kMain, 2, nullptr), -8);
    char text[80] = {};
    EXPECT_EQ(imThrGetError(kMain, 5, text), -8);
    EXPECT_STREQ(text, "Parameter invalid or unacceptable");
    EXPECT_EQ(imThrGetError(kMain, 2, nullptr), 0);

    MP_SYNC_ST* record = mp_osb_object(sync);
    mp_osb_update_state(record, kSyncCountBit | 7);
    EXPECT_EQ(record->count, 7);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskCount), 7);
    mp_osb_update_state(record, kSyncCountNone);
    EXPECT_EQ(record->count, -1);
    mp_osb_update_state(record, kSyncCountBit | 3);
    mp_osb_update_state(record, kSyncReceived);
    EXPECT_EQ(record->state, 20u);
    EXPECT_EQ(record->count, -1);
}

TEST_F(SyncTest, RefusesBadRequestsAndIdsThatAreNoSyncObject)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    EXPECT_EQ(imSyncHost(kMain, sync, 35), -8);
    EXPECT_EQ(imSyncHost(kMain, sync, 10), -8);
    EXPECT_EQ(imSyncHost(kMain, sync + 1, kSyncAskState), -1);
    EXPECT_EQ(imSyncHost(kMain, kMain, kSyncAskState), -1);   // a thread object
    char text[80] = {};
    EXPECT_EQ(imSyncGetError(kMain, sync + 1, 4, text), -1);
    EXPECT_EQ(imSyncHost(kMain, 0, kSyncAskState), 0);
}

TEST_F(SyncTest, FreedSyncObjectIsRefused)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    EXPECT_EQ(imSyncFree(kMain, sync), 0);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), -1);
    EXPECT_EQ(mp_osb_object(sync), nullptr);
}

TEST_F(SyncTest, HostWaitTimesOutAndEndsWhenTheStateIsSet)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    const uint32_t other = NewThread();
    ASSERT_NE(other, 0u);
    // The wait runs on the main thread object; nothing moves the object to 30.
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncReady), -11);
    EXPECT_EQ(imSyncControl(other, sync, kSyncControlState, 30), 0);
    MP_SYNC_ST* record = mp_osb_object(sync);
    WaitUntil([&] { return main_->server.queued == 0 && record->state == 30; });
    // The main thread object serves again.
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncAskState), 30);
}

TEST_F(SyncTest, ThreadWaitHoldsTheThreadsLaterCommands)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    const uint32_t worker = NewThread();
    ASSERT_NE(worker, 0u);
    const uint32_t done = imSyncAlloc(kMain, nullptr);
    EXPECT_EQ(imSyncThread(worker, sync, kSyncStarted), 0);
    EXPECT_EQ(imThrNop(worker, done), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(imSyncHost(kMain, done, kSyncAskState), 10);
    EXPECT_EQ(imSyncControl(kMain, sync, kSyncControlState, 40), 0);
    EXPECT_EQ(imSyncHost(kMain, done, kSyncDone), 10);
}

TEST_F(SyncTest, ErrorOfACommandReachesItsSyncObjectUntilReadWithAnOddMode)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    _MSG_ST msg{};
    im_msg_start(&msg, 150, 0, "imPatFind");   // not served by the host
    im_msg_send(&msg, 0, kMain, sync, IM_SYNC_NOWAIT);
    EXPECT_EQ(imSyncHost(kMain, sync, kSyncDone), 10);
    EXPECT_EQ(imSyncGetError(kMain, sync, 2, nullptr), -6);
    char text[kMsgErrorTextBytes] = {};
    EXPECT_EQ(imSyncGetError(kMain, sync, 4, text), -6);
    EXPECT_STREQ(text, "Invalid opcode received");
    EXPECT_EQ(imSyncGetError(kMain, sync, 9, text), -6);
    EXPECT_STREQ(text, "Command decoder");
    EXPECT_EQ(imSyncGetError(kMain, sync, 2, nullptr), 0);
}

TEST_F(SyncTest, ThreadObjectAttributesAndInquiry)
{
    const uint32_t t = NewThread();
    ASSERT_NE(t, 0u);
    EXPECT_EQ((t >> 16) & 0xFF, kNode);
    EXPECT_EQ(imThrInquire(t, kThrAttrChecked, nullptr), 0);
    EXPECT_EQ(imThrInquire(t, kThrAttrPriority, nullptr), 8);
    EXPECT_EQ(imThrInquire(t, kThrAttrStack, nullptr), 4096);
    EXPECT_EQ(imThrInquire(t, kThrAttrValue, nullptr), -9999);
    EXPECT_EQ(imThrInquire(t, kThrAttrSwitch, nullptr), kThrSwitchOff);
    int32_t out = 0;
    EXPECT_EQ(imThrInquire(t, kThrAttrOwner, &out), static_cast<int32_t>(kDevice));
    EXPECT_EQ(out, static_cast<int32_t>(kDevice));
    EXPECT_EQ(imThrInquire(kMain, kThrAttrOwner, nullptr), static_cast<int32_t>(kDevice));
    EXPECT_EQ(imThrInquire(t, 12345, nullptr), 0);

    EXPECT_EQ(imThrControl(t, kThrAttrPriority, 12), 0);
    EXPECT_EQ(imThrControl(t, kThrAttrValue, 77), 0);
    EXPECT_EQ(imThrInquire(t, kThrAttrPriority, nullptr), 12);
    EXPECT_EQ(imThrInquire(t, kThrAttrValue, nullptr), 77);
    EXPECT_EQ(im_Application.error.code, 0);
    EXPECT_EQ(imThrControl(t, 15999, 1), 0);
    EXPECT_EQ(imThrInquire(t, kThrAttrValue, nullptr), 77);
    EXPECT_EQ(imThrGetError(t, 3, nullptr), -8);
    EXPECT_EQ(imThrGetError(t, 2, nullptr), 0);
}

TEST_F(SyncTest, FreedThreadIsRefused)
{
    const uint32_t t = NewThread();
    ASSERT_NE(t, 0u);
    MP_THREAD_OBJ_ST* object = mp_thr_object(t);
    for (auto& e : extra_)
        if (e == object) e = nullptr;
    EXPECT_EQ(imThrFree(t), 0);
    WaitUntil([&] { return mp_thr_object(t) == nullptr; });
    EXPECT_EQ(imThrInquire(t, kThrAttrPriority, nullptr), 0);
    EXPECT_EQ(im_Application.error.code, -10);
    EXPECT_STREQ(im_Application.error.message, "Invalid thread ID");
    // A new object can be made after it.
    im_msg_reset_application();
    EXPECT_NE(NewThread(), 0u);
}

} // namespace
