// Start and end of grab and the halt of the standard family, on the grab slot of the
// simulated board's primary Orlo: sync states and counters, the thread's grab count, the
// temporary buffers, remembered starts and halts of own and foreign grabs.
#include "grabevents.h"

#include "../../serve/intservertest.h"
#include "grabimage.h"
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
    Slot(kSlotWindowEnd) = 5;
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

uint32_t g_stoppedSlot = 99;
int g_stops = 0;
void RecordStop(SERVINFO_ST*, uint32_t slot)
{
    g_stoppedSlot = slot;
    ++g_stops;
}
bool NeverActive(SERVINFO_ST*, uint32_t) { return false; }

TEST_F(GrabEventsTest, TheEndOfAGrabWithADeferredHaltStopsTheFamilysEngineOnce)
{
    const uint32_t sync = NewSync();
    Counted(other_, 1, kLocSdram);
    Arm(1, sync, other_);
    mpPrvUpdateSoG_Std(s_, 0);
    ASSERT_EQ(Slot(kSlotInFlight), 1u);
    Slot(kSlotDeferred) |= kDeferHalt;
    g_stops = 0;
    g_stoppedSlot = 99;
    mpPrvUpdateEoG_With(s_, 0, NeverActive, RecordStop);
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(g_stoppedSlot, 0u);
    EXPECT_EQ(Slot(kSlotDeferred) & kDeferHalt, 0u);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    // Without a deferred halt the family's stop is not asked for.
    Arm(1, NewSync(), nullptr);
    mpPrvUpdateSoG_Std(s_, 0);
    mpPrvUpdateEoG_With(s_, 0, NeverActive, RecordStop);
    EXPECT_EQ(g_stops, 1);
}

// ---- events owed by a halted grab ------------------------------------------------------------

struct OwedCase {
    int32_t mode;
    bool startSeen, endSeen, inFlight, continuous, wasEndless, extraEnd;
    bool start, end, extra, repeat;
};

void ExpectOwed(const OwedCase& c)
{
    const HALT_OWED o =
        mpPrvHaltOwed(c.mode, c.startSeen, c.endSeen, c.inFlight, c.continuous, c.wasEndless, c.extraEnd);
    EXPECT_EQ(o.start, c.start);
    EXPECT_EQ(o.end, c.end);
    EXPECT_EQ(o.extraEnd, c.extra);
    EXPECT_EQ(o.repeat, c.repeat);
}

TEST(HaltOwed, NeitherEventSeenOwesTheStartOnlyWhenTheGrabHadNotBegunOrWasExtendedOrEndless)
{
    const OwedCase cases[] = {
        // mode     B12    B13    F      C      W      X      start  end    X out  repeat
        {kHaltNow, false, false, false, false, false, false, true, true, false, false},
        {kHaltNow, false, false, true, false, false, false, false, true, false, false},
        {kHaltNow, false, false, true, true, false, true, true, true, true, false},
        {kHaltNow, false, false, true, false, true, false, true, true, false, false},
        {kHaltAtEnd, false, false, false, false, false, false, true, true, false, false},
    };
    for (const OwedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "F " << c.inFlight << " C " << c.continuous << " W " << c.wasEndless
                                        << " X " << c.extraEnd);
        ExpectOwed(c);
    }
}

TEST(HaltOwed, AHaltAtTheEndOfAnEndlessGrabWithNeitherEventDefersARepeat)
{
    ExpectOwed({kHaltAtEnd, false, false, true, true, true, false, false, false, false, true});
    ExpectOwed({kHaltAtEnd, false, false, false, false, true, false, false, false, false, true});
}

TEST(HaltOwed, OnlyTheEndSeenOwesTheStartForTheExtraEndAndTheEndForExtraOrEndless)
{
    const OwedCase cases[] = {
        {kHaltNow, false, true, true, true, false, true, true, true, false, false},
        {kHaltNow, false, true, true, false, false, false, false, false, false, false},
        {kHaltNow, false, true, false, false, true, false, false, true, false, false},
        {kHaltAtEnd, false, true, true, true, true, false, false, true, false, false},
    };
    for (const OwedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "W " << c.wasEndless << " X " << c.extraEnd);
        ExpectOwed(c);
    }
}

TEST(HaltOwed, BothEventsSeenOweTheEndAloneAndNoneForAContinuousGrabHaltedAtItsEnd)
{
    ExpectOwed({kHaltNow, true, true, true, true, true, true, false, true, false, false});
    ExpectOwed({kHaltNow, true, true, false, false, false, false, false, true, false, false});
    ExpectOwed({kHaltAtEnd, true, true, true, true, true, false, false, false, false, false});
    ExpectOwed({kHaltAtEnd, true, true, false, false, false, false, false, true, false, false});
}

TEST(HaltOwed, OnlyTheStartSeenOwesTheEndAndKeepsTheExtraEnd)
{
    ExpectOwed({kHaltNow, true, false, true, true, false, true, false, true, true, false});
    ExpectOwed({kHaltAtEnd, true, false, false, false, false, false, false, true, false, false});
}

TEST(HaltOwed, NothingIsOwedToAHaltAtTheEndOfASingleGrabInFlightOrToAnotherMode)
{
    for (bool b12 : {false, true})
        for (bool b13 : {false, true}) {
            ExpectOwed({kHaltAtEnd, b12, b13, true, false, false, false, false, false, false, false});
            ExpectOwed({kHaltAtEnd, b12, b13, true, false, true, false, false, false, false, false});
            ExpectOwed({0, b12, b13, false, false, false, false, false, false, false, false});
            ExpectOwed({kHaltNowQuiet, b12, b13, true, true, true, false, false, false, false, false});
        }
}

}  // namespace
