// Semaphores, event bits and signals that come from other threads.

#include "kernel_fixture.h"
#include "win32.h"
#include "../../testwait.h"

#include <atomic>
#include <thread>

namespace {

// ---- counts -----------------------------------------------------------------------------

TEST_F(KernelTest, CountIsTakenWithoutBlockingWhileThereIsOne) {
    int32_t s = TaskOpenSema(-1, 2);
    ASSERT_NE(s, -1);
    EXPECT_EQ(TaskValidateSema(s), 1);
    EXPECT_EQ(TaskWaitSema(s), 1);    // the root task may wait while a count is there
    EXPECT_EQ(TaskCheckSema(s), 1);
    EXPECT_EQ(TaskCheckSema(s), 0);
    EXPECT_EQ(TaskSignalSema(s), 1);
    EXPECT_EQ(TaskSignalSema(s), 1);
    EXPECT_EQ(TaskSignalSema(s), 1);
    EXPECT_EQ(TaskResetSema(s), 3);
    EXPECT_EQ(TaskResetSema(s), 0);
    EXPECT_EQ(TaskCheckSema(s), 0);
}

TEST_F(KernelTest, NegativeInitialCountStartsAtZero) {
    int32_t s = TaskOpenSema(-1, -5);
    EXPECT_EQ(TaskResetSema(s), 0);
}

TEST_F(KernelTest, RootTaskWaitingOnZeroCountFailsWithError9) {
    int32_t s = TaskOpenSema(-1, 0);
    EXPECT_EQ(TaskWaitSema(s), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorRootBlocks);
}

TEST_F(KernelTest, GivenSemaphoreHandleTwiceGivesError4) {
    int32_t wanted = static_cast<int32_t>(0xFE000005);
    EXPECT_EQ(TaskOpenSema(wanted, 0), wanted);
    EXPECT_EQ(TaskOpenSema(wanted, 0), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    EXPECT_EQ(TaskOpenSema(static_cast<int32_t>(0xFEA50005), 0), -1);   // same index, other tag
    EXPECT_EQ(TaskOpenSema(static_cast<int32_t>(0xFE000400), 0), -1);   // index 1024
    EXPECT_EQ(TaskOpenSema(static_cast<int32_t>(0xFF000006), 0), -1);   // a port's type
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    EXPECT_EQ(TaskOpenSema(static_cast<int32_t>(0xFEA503FF), 0), static_cast<int32_t>(0xFEA503FF));
}

TEST_F(KernelTest, FullSemaphoreTableGivesError13) {
    for (int i = 0; i < 1024; ++i) ASSERT_NE(TaskOpenSema(-1, 0), -1) << i;
    EXPECT_EQ(TaskOpenSema(-1, 0), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorTableFull);
}

TEST_F(KernelTest, SignalGoesToTheFirstWaiterWithoutTouchingTheCount) {
    int32_t s = TaskOpenSema(-1, 0);
    Start(4, [&] { Note(TaskWaitSema(s) ? "first" : "first failed"); });
    Start(4, [&] { Note(TaskWaitSema(s) ? "second" : "second failed"); });
    TaskSignalSema(s);   // both waiters are above the root task: the first runs at once
    EXPECT_EQ(trace_, (Trace{"first"}));
    EXPECT_EQ(TaskCheckSema(s), 0);
    TaskSignalSema(s);
    EXPECT_EQ(trace_, (Trace{"first", "second"}));
    TaskSignalSema(s);   // nobody waits now: counted
    EXPECT_EQ(TaskResetSema(s), 1);
}

TEST_F(KernelTest, TaskBlockedOnAClosedSemaphoreWakesWith0AndError12) {
    int32_t s = TaskOpenSema(-1, 0);
    int result = -1, error = -1;
    Start(4, [&] {
        result = TaskWaitSema(s);
        error = TaskGetError();
    });
    EXPECT_EQ(TaskCloseSema(s), 1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, kTaskErrorSemaClosed);
    EXPECT_EQ(TaskValidateSema(s), 0);
    EXPECT_EQ(TaskCloseSema(s), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
}

TEST_F(KernelTest, ClosingWakesEveryWaiterBeforeAnyOfThemRuns) {
    int32_t s = TaskOpenSema(-1, 0);
    Start(7, [&] { TaskWaitSema(s); Note("seven"); });
    Start(9, [&] { TaskWaitSema(s); Note("nine"); });
    Start(3, [&] {
        TaskCloseSema(s);
        Note("closer");
    });
    EXPECT_EQ(trace_, (Trace{"nine", "seven", "closer"}));
}

// ---- event bits -------------------------------------------------------------------------

TEST_F(KernelTest, BoundSemaphoreRaisesItsBitWhileItHasACount) {
    int32_t s = TaskOpenSema(-1, 0);
    EXPECT_EQ(TaskBindSema(s, 3), 1);
    EXPECT_EQ(TaskWaitEvents(1u << 3), 0u);   // the root task does not block: nothing pending
    TaskSignalSema(s);
    TaskSignalSema(s);
    EXPECT_EQ(TaskWaitEvents(1u << 3), 1u << 3);
    EXPECT_EQ(TaskWaitSema(s), 1);
    EXPECT_EQ(g_->root.pendingEvents, 1u << 3);   // one count left
    EXPECT_EQ(TaskCheckSema(s), 1);
    EXPECT_EQ(g_->root.pendingEvents, 0u);        // the last count clears it
    TaskSignalSema(s);
    EXPECT_EQ(TaskResetSema(s), 1);
    EXPECT_EQ(g_->root.pendingEvents, 0u);
}

TEST_F(KernelTest, BindingASemaphoreWithACountRaisesTheBitAtOnce) {
    int32_t s = TaskOpenSema(-1, 1);
    EXPECT_EQ(TaskBindSema(s, 0), 1);
    EXPECT_EQ(TaskWaitEvents(1u), 1u);
}

TEST_F(KernelTest, WaitEventsBlocksUntilABitIsRaisedAndReturnsThePendingSet) {
    int32_t a = TaskOpenSema(-1, 0);
    int32_t b = TaskOpenSema(-1, 0);
    int32_t c = TaskOpenSema(-1, 0);
    uint32_t got = 0;
    Start(6, [&] {
        TaskBindSema(a, 1);
        TaskBindSema(b, 4);
        TaskBindSema(c, 9);
        TaskSignalSema(c);                          // pending but not waited for
        got = TaskWaitEvents((1u << 1) | (1u << 4));
        Note("woke");
    });
    EXPECT_TRUE(trace_.empty());
    TaskSignalSema(b);
    EXPECT_EQ(trace_, (Trace{"woke"}));
    EXPECT_EQ(got, (1u << 4) | (1u << 9));
}

TEST_F(KernelTest, EventBindingErrors) {
    int32_t s = TaskOpenSema(-1, 0);
    int32_t t = TaskOpenSema(-1, 0);
    EXPECT_EQ(TaskBindSema(s, 5), 1);
    EXPECT_EQ(TaskBindSema(s, 6), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorSemaBound);
    EXPECT_EQ(TaskBindSema(t, 5), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorEventInUse);
    EXPECT_EQ(TaskBindSema(t, 32), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorEventInUse);
    EXPECT_EQ(TaskBindSema(t, -1), 0);
    EXPECT_EQ(TaskWaitEvents((1u << 5) | (1u << 6)), 0u);   // bit 6 is not bound
    EXPECT_EQ(TaskGetError(), kTaskErrorEventNotBound);
    EXPECT_EQ(TaskWaitEvents(0), 0u);
    EXPECT_EQ(TaskGetError(), kTaskErrorEventNotBound);
    int bindOther = -1;
    Start(3, [&] { bindOther = TaskBindSema(s, 7); });      // bound to the root task
    EXPECT_EQ(bindOther, 0);
}

TEST_F(KernelTest, ClosingASemaphoreWakesItsOwnerWaitingForItsBit) {
    int32_t s = TaskOpenSema(-1, 0);
    uint32_t got = 99;
    int error = -1;
    uint32_t freeAfter = 0;
    Start(6, [&] {
        TaskBindSema(s, 2);
        got = TaskWaitEvents(1u << 2);
        error = TaskGetError();
        freeAfter = g_->current->freeEvents;
    });
    TaskCloseSema(s);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(error, kTaskErrorSemaClosed);
    EXPECT_EQ(freeAfter, 0xFFFFFFFFu);   // the bit is free again
}

TEST_F(KernelTest, EndingTaskLeavesNoBindingBehind) {
    int32_t s = TaskOpenSema(-1, 0);
    Start(6, [&] { TaskBindSema(s, 2); });
    EXPECT_EQ(TaskBindSema(s, 2), 1);   // the ended owner's binding went with it
    TaskSignalSema(s);
    EXPECT_EQ(TaskWaitEvents(1u << 2), 1u << 2);
}

// ---- other threads ----------------------------------------------------------------------

TEST_F(KernelTest, ThreadWithoutAKernelCannotTouchThisKernelsSemaphores) {
    int32_t s = TaskOpenSema(-1, 0);
    int signal = -1, check = -1, validate = -1;
    std::thread t([&] {
        signal = TaskSignalSema(s);
        check = TaskCheckSema(s);
        validate = TaskValidateSema(s);
    });
    t.join();
    EXPECT_EQ(signal, 0);
    EXPECT_EQ(check, 0);
    EXPECT_EQ(validate, 0);
    EXPECT_EQ(TaskResetSema(s), 0);
}

DWORD ReleaseLater(void* semaphore) {
    for (int i = 0; i < 3; ++i) {
        Sleep(2);
        ReleaseSemaphore(semaphore, 1, nullptr);
    }
    return 0;
}

TEST_F(KernelTest, SignalFromAnotherThreadReachesATaskThroughTheRootTask) {
    // The way an interrupt reaches a task: another thread releases a system semaphore,
    // the kernel's thread (its root task) wakes and signals the task semaphore, and the
    // waiting task runs before that signal returns.
    HANDLE wake = CreateSemaphoreA(0, 16);
    int32_t s = TaskOpenSema(-1, 0);
    int rounds = 0;
    Start(20, [&] {
        while (TaskWaitSema(s)) {
            ++rounds;
            Note("tick" + std::to_string(rounds));
        }
    });
    HANDLE other = CreateThread(ReleaseLater, wake, nullptr);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(WaitForSingleObject(wake, 5000), WAIT_OBJECT_0);
        TaskSignalSema(s);
        EXPECT_EQ(rounds, i + 1);
    }
    ASSERT_EQ(WaitForSingleObject(other, 5000), WAIT_OBJECT_0);
    CloseHandle(other);
    CloseHandle(wake);
    EXPECT_EQ(trace_, (Trace{"tick1", "tick2", "tick3"}));
    TaskCloseSema(s);   // the task's wait returns 0 and it ends
}

TEST_F(KernelTest, KernelMutexFromAnotherThreadWaitsForTheKernelsSection) {
    std::atomic<int> stage{0};
    int32_t s = TaskOpenSema(-1, 0);
    Start(5, [&] {
        TaskBeginMutex();
        TaskWaitSema(s);
        Note("leaving");
        TaskEndMutex();
    });
    testwait::Thread t([&] {
        TaskBeginMutex();
        stage = 1;
        TaskEndMutex();
    });
    Sleep(20);
    EXPECT_EQ(stage.load(), 0);
    TaskSignalSema(s);
    t.Join();
    EXPECT_EQ(stage.load(), 1);
    EXPECT_EQ(trace_, (Trace{"leaving"}));
}

} // namespace
