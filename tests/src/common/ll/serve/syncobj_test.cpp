#include "../../hl/servednode.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace servednode;

class SyncTest : public ServedNodeTest {
protected:
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
    ASSERT_TRUE(WaitUntil([&] { return main_->server.queued == 0 && record->state == 30; }));
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
    ASSERT_TRUE(WaitUntil([&] { return mp_thr_object(t) == nullptr; }));
    EXPECT_EQ(imThrInquire(t, kThrAttrPriority, nullptr), 0);
    EXPECT_EQ(im_Application.error.code, -10);
    EXPECT_STREQ(im_Application.error.message, "Invalid thread ID");
    // A new object can be made after it.
    im_msg_reset_application();
    EXPECT_NE(NewThread(), 0u);
}

} // namespace
