// The delta list of tick timers.

#include "hlc_wiring.h"
#include "task.h"
#include "timer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        HlcWireLibrary();
        ASSERT_EQ(TaskInitTasking(), 1);
        g_ = TaskGetNodeTaskGlobals();
        ASSERT_EQ(TimerInit(0), 1);
    }
    void TearDown() override { EXPECT_EQ(TaskExitTasking(), 1); }

    // A timer signalling a new semaphore of its own.
    TimerRecord* Arm(int32_t delta, int32_t period, int32_t* sema) {
        *sema = TaskOpenSema(-1, 0);
        return TimerArm(delta, period, *sema);
    }
    static int Signals(int32_t sema) { return TaskResetSema(sema); }
    // The running timers in list order with their deltas.
    std::vector<std::pair<TimerRecord*, int32_t>> Running() {
        std::vector<std::pair<TimerRecord*, int32_t>> out;
        for (TimerRecord* t = g_->timerClock->next; t != g_->timerEnd; t = t->next) out.push_back({t, t->delta});
        return out;
    }
    int FreeRecords() {
        int n = 0;
        for (TimerRecord* t = g_->timerEnd->next; t != g_->timerClock; t = t->next) ++n;
        return n;
    }
    using List = std::vector<std::pair<TimerRecord*, int32_t>>;
    _NODE_TASK_GLOBALS* g_ = nullptr;
};

TEST(TimerNoKernel, ClockIsZeroAndNothingRuns) {
    EXPECT_EQ(TimerGetClock(), 0);
    EXPECT_EQ(TimerInit(5), 0);
    EXPECT_EQ(TimerAddTicks(1), 0);
    EXPECT_EQ(TimerArm(1, 0, -1), nullptr);
}

TEST(TimerBeforeInit, ClockIsZeroAndTicksAreRefused) {
    ASSERT_EQ(TaskInitTasking(), 1);
    EXPECT_EQ(TimerGetClock(), 0);
    EXPECT_EQ(TimerAddTicks(3), 0);
    EXPECT_EQ(TimerArm(1, 0, -1), nullptr);
    EXPECT_EQ(TaskExitTasking(), 1);
}

TEST_F(TimerTest, InitBuildsTheRecordsAndTheClockCounts) {
    ASSERT_EQ(TimerInit(100), 1);
    EXPECT_EQ(TimerGetClock(), 100);
    EXPECT_EQ(g_->timerEnd->delta, 0x7FFFFFFF);
    EXPECT_EQ(FreeRecords(), 16);
    EXPECT_TRUE(Running().empty());
    EXPECT_EQ(TaskValidateSema(g_->timerLockSema), 1);
    EXPECT_EQ(TimerAddTicks(5), 1);
    EXPECT_EQ(TimerAddTicks(0), 1);
    EXPECT_EQ(TimerGetClock(), 105);
    EXPECT_EQ(TimerAddTicks(-1), 0);
    EXPECT_EQ(TimerGetClock(), 105);
    EXPECT_EQ(TaskCheckSema(g_->timerLockSema), 1);   // the lock was given back
    TaskSignalSema(g_->timerLockSema);
}

TEST_F(TimerTest, PeriodicTimerSignalsEveryPeriodTickByTick) {
    int32_t s;
    TimerRecord* t = Arm(5, 5, &s);
    ASSERT_NE(t, nullptr);
    std::vector<int> signalledAt;
    for (int tick = 1; tick <= 20; ++tick) {
        TimerAddTicks(1);
        if (Signals(s)) signalledAt.push_back(tick);
    }
    EXPECT_EQ(signalledAt, (std::vector<int>{5, 10, 15, 20}));
    EXPECT_EQ(Running(), (List{{t, 5}}));
}

TEST_F(TimerTest, MoreThanAPeriodLateLeavesANegativeDeltaAtTheFront) {
    int32_t s, later;
    TimerRecord* t = Arm(3, 5, &s);
    TimerRecord* other = Arm(20, 0, &later);
    EXPECT_EQ(TimerAddTicks(12), 1);
    EXPECT_EQ(Signals(s), 1);
    EXPECT_EQ(Running(), (List{{t, -4}, {other, 12}}));   // other still due at tick 20
    // The next call, even of no ticks, signals it at once.
    TimerAddTicks(0);
    EXPECT_EQ(Signals(s), 1);
    EXPECT_EQ(Running(), (List{{t, 1}, {other, 7}}));
    EXPECT_EQ(Signals(later), 0);
}

TEST_F(TimerTest, SumOfExactlyZeroSignalsTwiceInOneCall) {
    int32_t s;
    TimerRecord* t = Arm(2, 5, &s);
    TimerAddTicks(7);
    EXPECT_EQ(Signals(s), 2);
    EXPECT_EQ(Running(), (List{{t, 5}}));
    // Also from a negative delta.
    TimerAddTicks(12);   // 5 - 12 = -7, + 5 = -2
    EXPECT_EQ(Signals(s), 1);
    EXPECT_EQ(Running(), (List{{t, -2}}));
    TimerAddTicks(3);    // -2 - 3 = -5, + 5 = 0: twice, then 5
    EXPECT_EQ(Signals(s), 2);
    EXPECT_EQ(Running(), (List{{t, 5}}));
}

TEST_F(TimerTest, OneShotTimerIsLeftUnlinkedAfterItsSignal) {
    int32_t s;
    TimerRecord* t = Arm(4, 0, &s);
    TimerAddTicks(3);
    EXPECT_EQ(Signals(s), 0);
    EXPECT_EQ(Running(), (List{{t, 1}}));
    TimerAddTicks(1);
    EXPECT_EQ(Signals(s), 1);
    EXPECT_TRUE(Running().empty());
    EXPECT_EQ(t->state, kTimerUnlinked);
    EXPECT_EQ(FreeRecords(), 15);   // still the arming party's
    TimerAddTicks(10);
    EXPECT_EQ(Signals(s), 0);
}

TEST_F(TimerTest, DeltasCountFromThePredecessorAndEqualTimesKeepTheirOrder) {
    int32_t s1, s2, s3, s4;
    TimerRecord* a = Arm(10, 0, &s1);
    TimerRecord* b = Arm(4, 0, &s2);
    TimerRecord* c = Arm(4, 0, &s3);
    TimerRecord* d = Arm(12, 0, &s4);
    EXPECT_EQ(Running(), (List{{b, 4}, {c, 0}, {a, 6}, {d, 2}}));
    TimerAddTicks(4);
    EXPECT_EQ(Signals(s2), 1);
    EXPECT_EQ(Signals(s3), 1);
    EXPECT_EQ(Signals(s1), 0);
    EXPECT_EQ(Running(), (List{{a, 6}, {d, 2}}));
    TimerAddTicks(9);   // a due at 10, d at 12: both, with time left -3 and -1
    EXPECT_EQ(Signals(s1), 1);
    EXPECT_EQ(Signals(s4), 1);
    EXPECT_TRUE(Running().empty());
}

TEST_F(TimerTest, SeveralExpiredPeriodicTimersAreRequeuedInOrder) {
    int32_t s1, s2;
    TimerRecord* a = Arm(2, 3, &s1);
    TimerRecord* b = Arm(3, 4, &s2);
    TimerAddTicks(4);   // a: 2-4 = -2, +3 -> 1; b: 3-4 = -1, +4 -> 3
    EXPECT_EQ(Signals(s1), 1);
    EXPECT_EQ(Signals(s2), 1);
    EXPECT_EQ(Running(), (List{{a, 1}, {b, 2}}));
}

TEST_F(TimerTest, DisablePassesTheRemainderToTheNextTimer) {
    int32_t s1, s2;
    TimerRecord* a = Arm(4, 0, &s1);
    TimerRecord* b = Arm(10, 0, &s2);
    EXPECT_EQ(TimerDisable(a), 1);
    EXPECT_EQ(Running(), (List{{b, 10}}));
    EXPECT_EQ(a->state, kTimerUnlinked);
    EXPECT_EQ(TimerDisable(a), 1);   // not running: nothing changes
    EXPECT_EQ(Running(), (List{{b, 10}}));
    EXPECT_EQ(FreeRecords(), 14);
    EXPECT_EQ(TimerDisable(b), 1);   // the last one: nothing to pass on to the end record
    EXPECT_EQ(g_->timerEnd->delta, 0x7FFFFFFF);
}

TEST_F(TimerTest, FreeReturnsTheRecordAndClosesItsSemaphore) {
    int32_t s1, s2;
    TimerRecord* a = Arm(4, 2, &s1);
    TimerRecord* b = Arm(6, 0, &s2);
    EXPECT_EQ(TimerFree(a), 1);
    EXPECT_EQ(TaskValidateSema(s1), 0);
    EXPECT_EQ(a->sema, -1);
    EXPECT_EQ(a->delta, 0);
    EXPECT_EQ(a->period, 0);
    EXPECT_EQ(a->state, kTimerFree);
    EXPECT_EQ(Running(), (List{{b, 6}}));
    EXPECT_EQ(FreeRecords(), 15);
    EXPECT_EQ(TimerFree(a), 1);      // freeing a free record changes nothing
    EXPECT_EQ(FreeRecords(), 15);
    TimerAddTicks(6);
    EXPECT_EQ(Signals(s2), 1);
    EXPECT_EQ(TimerFree(b), 1);      // after its one shot
    EXPECT_EQ(FreeRecords(), 16);
}

TEST_F(TimerTest, SixteenTimersAtMost) {
    std::vector<TimerRecord*> armed;
    for (int i = 0; i < 16; ++i) {
        TimerRecord* t = TimerArm(i + 1, 0, -1);
        ASSERT_NE(t, nullptr);
        armed.push_back(t);
    }
    EXPECT_EQ(TimerArm(1, 0, -1), nullptr);
    TimerFree(armed[3]);
    EXPECT_EQ(TimerArm(1, 0, -1), armed[3]);
}

TEST_F(TimerTest, ArmRefusesBadPeriodsAndSemaphores) {
    EXPECT_EQ(TimerArm(3, -1, -1), nullptr);
    EXPECT_EQ(TimerArm(3, 0, static_cast<int32_t>(0xFE0003FF)), nullptr);
    EXPECT_EQ(FreeRecords(), 16);
}

TEST_F(TimerTest, RecordsThatAreNotTimersAreRefused) {
    EXPECT_EQ(TimerDisable(g_->timerClock), 0);
    EXPECT_EQ(TimerFree(g_->timerEnd), 0);
    EXPECT_EQ(TimerDisable(nullptr), 0);
    TimerRecord outside{};
    EXPECT_EQ(TimerFree(&outside), 0);
    TimerRecord* misaligned = reinterpret_cast<TimerRecord*>(reinterpret_cast<uint8_t*>(&g_->timers[3]) + 4);
    EXPECT_EQ(TimerDisable(misaligned), 0);
    EXPECT_EQ(TimerGetClock(), 0);
    EXPECT_EQ(FreeRecords(), 16);
}

TEST_F(TimerTest, SignalledTaskRunsAfterTheListIsWhole) {
    int32_t s = TaskOpenSema(-1, 0);
    TimerRecord* t = TimerArm(2, 2, s);
    int wakes = 0;
    std::vector<int32_t> seenDelta;
    TaskResume(TaskCreate(-1, [](void* p) {
        auto* args = static_cast<std::tuple<int32_t, int*, std::vector<int32_t>*, TimerRecord*>*>(p);
        while (TaskWaitSema(std::get<0>(*args))) {
            ++*std::get<1>(*args);
            std::get<2>(*args)->push_back(std::get<3>(*args)->delta);
            TimerDisable(std::get<3>(*args));   // waits for the lock the signalling call holds
        }
    }, new std::tuple<int32_t, int*, std::vector<int32_t>*, TimerRecord*>(s, &wakes, &seenDelta, t), 20, 16384));
    TimerAddTicks(2);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(seenDelta, (std::vector<int32_t>{2}));   // already requeued when it ran
    EXPECT_TRUE(Running().empty());
    void* args = TaskGetNodeTaskGlobals()->taskTable[255]->argument;
    TaskCloseSema(s);
    delete static_cast<std::tuple<int32_t, int*, std::vector<int32_t>*, TimerRecord*>*>(args);
}

} // namespace
