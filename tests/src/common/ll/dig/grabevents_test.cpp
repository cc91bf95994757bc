// Start and end of grab and the halt of the standard family, on the grab slot of the
// simulated board's primary Orlo: sync states and counters, the thread's grab count, the
// temporary buffers, remembered starts and halts of own and foreign grabs.
#include "grabevents.h"

#include "../core/intservertest.h"
#include "grabengine.h"
#include "thread.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using inttest::kNode;

class GrabEventsTest : public inttest::IntServerTest {
protected:
    void SetUp() override
    {
        inttest::IntServerTest::SetUp();
        if (HasFatalFailure()) return;
        s_ = Header(0);
        mine_ = mpThrAlloc(nullptr, kNode, 0, nullptr);
        other_ = mpThrAlloc(nullptr, kNode, 0, nullptr);
        ASSERT_NE(mine_, nullptr);
        ASSERT_NE(other_, nullptr);
    }
    void TearDown() override
    {
        if (mine_) mp_thr_destroy(mine_);
        if (other_) mp_thr_destroy(other_);
        inttest::IntServerTest::TearDown();
    }

    static uint32_t Word(const MP_THREAD_OBJ_ST* t) { return buftest::W(mp_buf_pointer(t->server.id)); }
    uint32_t& Slot(uint32_t k) { return s_->slot(0, k); }
    // A grab of `count` frames armed as the programming leaves slot 0.
    void Arm(int32_t count, uint32_t sync, const MP_THREAD_OBJ_ST* thread)
    {
        Slot(kSlotRemaining) = static_cast<uint32_t>(count);
        Slot(kSlotRequested) = static_cast<uint32_t>(count);
        Slot(kSlotSyncNext) = sync;
        Slot(kSlotThreadNext) = thread ? Word(thread) : 0;
    }
    void Counted(MP_THREAD_OBJ_ST* t, int32_t count, uint32_t location)
    {
        t->grab.count = count;
        t->grab.location = location;
    }

    SERVINFO_ST* s_ = nullptr;
    MP_THREAD_OBJ_ST* mine_ = nullptr;
    MP_THREAD_OBJ_ST* other_ = nullptr;
};

// ---- start of grab ---------------------------------------------------------------------

TEST_F(GrabEventsTest, AStartTellsTheArmedSyncObjectAndPutsTheGrabInFlight)
{
    const uint32_t sync = NewSync();
    Arm(1, sync, mine_);
    mpPrvUpdateSoG_Std(s_, 0);
    EXPECT_EQ(Sync(sync)->state, kSyncStarted);
    EXPECT_EQ(Slot(kSlotSyncCurrent), sync);
    EXPECT_EQ(Slot(kSlotThreadCurrent), Word(mine_));
    EXPECT_EQ(Slot(kSlotInFlight), 1u);
    EXPECT_EQ(Slot(kSlotRemaining), 0u);
}

TEST_F(GrabEventsTest, AStartDuringAFlightIsRememberedAndHandledAfterTheEnd)
{
    const uint32_t first = NewSync();
    const uint32_t second = NewSync();
    Counted(mine_, 2, kLocSdram);
    Arm(1, first, mine_);
    mpPrvUpdateSoG_Std(s_, 0);
    Arm(1, second, mine_);
    mpPrvUpdateSoG_Std(s_, 0);
    EXPECT_EQ(Slot(kSlotStartPending), 1u);
    EXPECT_EQ(Sync(second)->state, 0u);   // not told yet

    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Sync(first)->state, kSyncDone);
    // The remembered start put the second grab in flight.
    EXPECT_EQ(Slot(kSlotSyncCurrent), second);
    EXPECT_EQ(Slot(kSlotInFlight), 1u);
    EXPECT_EQ(Slot(kSlotStartPending), 0u);
    EXPECT_EQ(mine_->grab.count, 1);

    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Sync(second)->state, kSyncDone);
    EXPECT_EQ(mine_->grab.count, 0);
    EXPECT_EQ(mine_->grab.location, 0u);
}

// ---- end of grab -------------------------------------------------------------------------

TEST_F(GrabEventsTest, AnEndTellsTheSyncObjectCountsTheThreadDownAndStopsTheEngine)
{
    const uint32_t sync = NewSync();
    Counted(mine_, 1, kLocSdram);
    Arm(1, sync, mine_);
    mpPrvUpdateSoG_Std(s_, 0);
    Slot(kSlotFrame) = 5;
    Trace();
    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(Sync(sync)->count, 4);
    EXPECT_EQ(mine_->grab.count, 0);
    EXPECT_EQ(mine_->grab.location, 0u);
    EXPECT_EQ(Slot(kSlotInFlight), 0u);
    const std::vector<uint32_t> controls = Writes(kOrloGrabControl);
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls.back() & kGctlStop, kGctlStop);
}

TEST_F(GrabEventsTest, ASlotThatKeepsTheCounterLeavesItAlone)
{
    const uint32_t sync = NewSync();
    Counted(mine_, 1, kLocSdram);
    Arm(1, sync, mine_);
    Slot(kSlotSingleNext) = 1;
    mpPrvUpdateSoG_Std(s_, 0);
    Sync(sync)->count = 77;
    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(Sync(sync)->count, 77);
}

TEST_F(GrabEventsTest, TheGrabsTemporaryBufferIsFreedOnceAndItsWordCleared)
{
    const uint32_t sync = NewSync();
    const uint32_t tag = NewObject(kBufKindImage, 64);
    Counted(mine_, 1, kLocSdram);
    Arm(1, sync, mine_);
    Slot(kSlotTempBufferNext) = tag;
    mpPrvUpdateSoG_Std(s_, 0);
    EXPECT_EQ(Slot(kSlotTempBuffer), tag);
    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Slot(kSlotTempBuffer), 0u);
    // A further end finds nothing to free (the word is clear), and the thread stays at 0.
    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Slot(kSlotTempBuffer), 0u);
    EXPECT_EQ(mine_->grab.count, 0);
}

TEST_F(GrabEventsTest, AnEndOfAGrabItsThreadNeverCountedKeepsTheCountAtZero)
{
    const uint32_t sync = NewSync();
    Counted(mine_, 0, kLocSdram);
    Arm(1, sync, mine_);
    mpPrvUpdateSoG_Std(s_, 0);
    mpPrvUpdateEoG_Std(s_, 0);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(mine_->grab.count, 0);
    EXPECT_EQ(mine_->grab.location, 0u);
    EXPECT_TRUE(Printed("did not count"));
}

TEST_F(GrabEventsTest, AnEndWithoutAGrabInFlightOnlyCountsTheSequence)
{
    Arm(-1, NewSync(), mine_);
    Counted(mine_, 1, kLocSdram);
    mpPrvUpdateEoG_Std(s_, 0);
    // A continuous grab runs on: nothing ended, the thread still counts it.
    EXPECT_EQ(static_cast<int32_t>(Slot(kSlotRemaining)), -1);
    EXPECT_EQ(Slot(kSlotSequence), 1u);
    EXPECT_EQ(mine_->grab.count, 1);
}

// ---- halt ----------------------------------------------------------------------------------

TEST_F(GrabEventsTest, AHaltThatFindsAnotherThreadsGrabInFlightOnlyMarksIt)
{
    Counted(mine_, 1, kLocSdram);
    Counted(other_, 1, kLocSdram);
    Arm(1, NewSync(), other_);
    mpPrvUpdateSoG_Std(s_, 0);
    // The other thread's frame is being written and the next one is armed.
    intsrv::Set(s_, kOrloGrabControl, kGctlContinuous);
    SetReg(kOrloGrabStatus, kGstatInFlight | kGstatArmed);
    Trace();
    mpPrvHalt_Std(&mine_->server, kHaltNow);
    EXPECT_EQ(Slot(kSlotDeferred) & kDeferHalt, kDeferHalt);
    EXPECT_TRUE(Writes(kOrloGrabControl).empty());
    EXPECT_EQ(other_->grab.count, 1);
}

TEST_F(GrabEventsTest, HaltingOwnContinuousGrabStopsTheEngineAndEndsTheGrab)
{
    const uint32_t sync = NewSync();
    Counted(mine_, 1, kLocSdram);
    Arm(-1, sync, mine_);
    intsrv::Set(s_, kOrloGrabControl, kGctlContinuous);
    SetReg(kOrloGrabStatus, 0);
    mpPrvHalt_Std(&mine_->server, kHaltNow);
    EXPECT_EQ(Reg(kOrloGrabControl) & (kGctlStop | kGctlContinuous), kGctlStop);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(mine_->grab.count, 0);
    EXPECT_EQ(mine_->grab.location, 0u);
}

TEST_F(GrabEventsTest, AHaltOfAThreadWithoutAGrabTouchesNoRegister)
{
    Trace();
    mpPrvHalt_Std(&mine_->server, kHaltNow);
    EXPECT_TRUE(Writes(kOrloGrabControl).empty());
    EXPECT_EQ(mine_->grab.haltCount, 0);
}

}  // namespace
