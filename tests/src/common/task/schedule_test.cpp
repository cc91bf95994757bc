// Scheduling: creation and handles, resume, preemption, equal priorities, yields and
// priority changes.

#include "kernel_fixture.h"

namespace {

// ---- creation and handles ---------------------------------------------------------------

TEST_F(KernelTest, KernelNumberedHandlesTakeTheHighestFreeIndexAndTheNextTag) {
    int32_t t1 = Make(3, [] {});
    int32_t t2 = Make(3, [] {});
    int32_t s1 = TaskOpenSema(-1, 0);
    int32_t p1 = TaskOpenPort(-1);
    // One tag counter for every kind, starting at 0xFF.
    EXPECT_EQ(static_cast<uint32_t>(t1), 0xFDFF00FFu);
    EXPECT_EQ(static_cast<uint32_t>(t2), 0xFDFE00FEu);
    EXPECT_EQ(static_cast<uint32_t>(s1), 0xFEFD03FFu);
    EXPECT_EQ(static_cast<uint32_t>(p1), 0xFFFC00FFu);
    EXPECT_EQ(Block(t1)->state, kTaskCreated);
    EXPECT_EQ(Block(t1)->freeEvents, 0xFFFFFFFFu);
}

TEST_F(KernelTest, CreatedTaskWaitsForResumeAndTakesTheLowFiveBitsAsPriority) {
    int32_t t = Make(32 + 9, [&] { Note("ran"); });
    ASSERT_NE(t, -1);
    EXPECT_EQ(Block(t)->priority, 9);
    EXPECT_TRUE(trace_.empty());
    EXPECT_EQ(TaskResume(t), 1);
    EXPECT_EQ(trace_, (Trace{"ran"}));
}

TEST_F(KernelTest, GivenTaskHandleMustBeFreeInsideTheTableAndOfTheTaskType) {
    EXPECT_EQ(Make(3, [] {}, static_cast<int32_t>(0xFD120007)), static_cast<int32_t>(0xFD120007));
    EXPECT_EQ(Make(3, [] {}, static_cast<int32_t>(0xFD340007)), -1);   // index 7 used
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    EXPECT_EQ(Make(3, [] {}, static_cast<int32_t>(0xFE000008)), -1);   // a semaphore's type
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    EXPECT_EQ(Make(3, [] {}, static_cast<int32_t>(0xFD000100)), -1);   // index 256
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
}

void Worker(void*) {}

TEST_F(KernelTest, UniqueCreateRefusesASecondTaskOfTheSameEntryAndArgument) {
    int argA = 0, argB = 0;
    int32_t first = TaskCreate(kTaskUniqueHandle, Worker, &argA, 4, 4096);
    ASSERT_NE(first, -1);
    EXPECT_EQ(static_cast<uint32_t>(first) >> 24, 0xFDu);
    EXPECT_EQ(TaskCreate(kTaskUniqueHandle, Worker, &argA, 4, 4096), -1);
    EXPECT_NE(TaskCreate(kTaskUniqueHandle, Worker, &argB, 4, 4096), -1);   // another argument
    EXPECT_NE(TaskCreate(kTaskAnyHandle, Worker, &argA, 4, 4096), -1);      // -1 does not ask
    TaskResume(first);   // ends
    EXPECT_EQ(TaskCreate(kTaskUniqueHandle, Worker, &argB, 4, 4096), -1);   // argB's still exists
    EXPECT_EQ(TaskCreate(kTaskUniqueHandle, Worker, &argA, 4, 4096), -1);   // the one made with -1 counts too
}

TEST_F(KernelTest, UniqueCreateAfterTheTaskEndedCreatesAgain) {
    int arg = 0;
    int32_t first = TaskCreate(kTaskUniqueHandle, Worker, &arg, 4, 4096);
    TaskResume(first);
    EXPECT_NE(TaskCreate(kTaskUniqueHandle, Worker, &arg, 4, 4096), -1);
}

TEST_F(KernelTest, FullTaskTableGivesError13) {
    for (int i = 0; i < 256; ++i) ASSERT_NE(TaskCreate(-1, Worker, nullptr, 1, 256), -1) << i;
    EXPECT_EQ(TaskCreate(-1, Worker, nullptr, 1, 256), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorTableFull);
}

TEST_F(KernelTest, CreateWithoutEntryFails) {
    EXPECT_EQ(TaskCreate(-1, nullptr, nullptr, 3, 4096), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorNoMemory);
}

TEST_F(KernelTest, TaskArgumentAndPriorityAsSeenByTheTask) {
    void* seenArg = nullptr;
    int seenPriority = -1;
    int32_t t = TaskCreate(-1, [](void* a) {
        auto* out = static_cast<std::pair<void**, int*>*>(a);
        *out->first = TaskGetTaskArg();
        *out->second = TaskGetPriority();
    }, nullptr, 12, 4096);
    std::pair<void**, int*> out{&seenArg, &seenPriority};
    Block(t)->argument = &out;
    TaskResume(t);
    EXPECT_EQ(seenArg, &out);
    EXPECT_EQ(seenPriority, 12);
    EXPECT_EQ(TaskGetTaskArg(), nullptr);   // the root task has none
    EXPECT_EQ(TaskGetPriority(), 0);
}

// ---- resume, preemption and equal priorities --------------------------------------------

TEST_F(KernelTest, HigherTaskReadiedRunsBeforeTheReadyingCallReturns) {
    int32_t sema = TaskOpenSema(-1, 0);
    Start(10, [&] {
        TaskWaitSema(sema);
        Note("high");
    });
    Start(3, [&] {
        Note("low before");
        TaskSignalSema(sema);
        Note("low after");
    });
    EXPECT_EQ(trace_, (Trace{"low before", "high", "low after"}));
}

TEST_F(KernelTest, ReadyingAnEqualOrLowerTaskDoesNotSwitch) {
    int32_t sema = TaskOpenSema(-1, 0);
    Start(5, [&] {
        TaskWaitSema(sema);
        Note("equal");
    });
    Start(5, [&] {
        TaskSignalSema(sema);
        Note("signaller");
    });
    EXPECT_EQ(trace_, (Trace{"signaller", "equal"}));
}

TEST_F(KernelTest, EqualPrioritiesAlternateOnlyThroughYield) {
    Start(6, [&] {
        // Both resumed from a higher task, so neither runs until it ends.
        Make(5, [] {});
        for (const char* name : {"A", "B"}) {
            std::string n = name;
            TaskResume(Make(5, [this, n] {
                for (int i = 0; i < 3; ++i) {
                    Note(n + std::to_string(i));
                    TaskYield(-1);
                }
            }));
        }
        Note("starter ends");
    });
    EXPECT_EQ(trace_, (Trace{"starter ends", "A0", "B0", "A1", "B1", "A2", "B2"}));
}

TEST_F(KernelTest, WithoutYieldATaskRunsToItsEnd) {
    Start(6, [&] {
        for (const char* name : {"A", "B"}) {
            std::string n = name;
            TaskResume(Make(5, [this, n] {
                for (int i = 0; i < 3; ++i) Note(n + std::to_string(i));
            }));
        }
    });
    EXPECT_EQ(trace_, (Trace{"A0", "A1", "A2", "B0", "B1", "B2"}));
}

TEST_F(KernelTest, EqualPrioritiesAlternateThroughBlocking) {
    int32_t ping = TaskOpenSema(-1, 0);
    int32_t pong = TaskOpenSema(-1, 0);
    Start(6, [&] {
        TaskResume(Make(5, [&] {
            for (int i = 0; i < 3; ++i) {
                Note("ping" + std::to_string(i));
                TaskSignalSema(pong);
                TaskWaitSema(ping);
            }
        }));
        TaskResume(Make(5, [&] {
            for (int i = 0; i < 3; ++i) {
                TaskWaitSema(pong);
                Note("pong" + std::to_string(i));
                TaskSignalSema(ping);
            }
        }));
    });
    EXPECT_EQ(trace_, (Trace{"ping0", "pong0", "ping1", "pong1", "ping2", "pong2"}));
}

TEST_F(KernelTest, ResumeOfARunningOrBlockedTaskChangesNothing) {
    int32_t sema = TaskOpenSema(-1, 0);
    int32_t t = Start(4, [&] { TaskWaitSema(sema); Note("woke"); });
    EXPECT_EQ(Block(t)->state, kTaskBlocked);
    EXPECT_EQ(TaskResume(t), 1);
    EXPECT_EQ(Block(t)->state, kTaskBlocked);
    EXPECT_TRUE(trace_.empty());
    TaskSignalSema(sema);
    EXPECT_EQ(trace_, (Trace{"woke"}));
}

TEST_F(KernelTest, BlockedAndSuspendedTaskIsSuspendedByReadyAndBlockedByResume) {
    int32_t sema = TaskOpenSema(-1, 0);
    int result = -1;
    int32_t t = Start(4, [&] { result = TaskWaitSema(sema); });
    Block(t)->state = kTaskBlockedSuspended;
    TaskSignalSema(sema);                        // readying it only suspends it
    EXPECT_EQ(Block(t)->state, kTaskCreated);
    EXPECT_EQ(result, -1);
    TaskResume(t);                               // now it runs and finishes its wait
    EXPECT_EQ(result, 1);

    int32_t u = Start(4, [&] { TaskWaitSema(sema); });
    Block(u)->state = kTaskBlockedSuspended;
    TaskResume(u);
    EXPECT_EQ(Block(u)->state, kTaskBlocked);
    TaskSignalSema(sema);
}

TEST_F(KernelTest, RootTaskCannotEnd) {
    TaskExit();
    EXPECT_EQ(TaskTaskingState(), 1);
    EXPECT_EQ(g_->current, &g_->root);
}

// ---- yields -----------------------------------------------------------------------------

TEST_F(KernelTest, YieldMovesTheFirstTaskOfAnotherQueueWithoutSwitching) {
    int32_t a = Make(2, [&] { Note("a"); });
    int32_t b = Make(2, [&] { Note("b"); });
    Start(6, [&] {
        TaskResume(a);
        TaskResume(b);
        TaskYield(2);   // queue 2: a b -> b a; the caller keeps running
        Note("yielder");
    });
    EXPECT_EQ(trace_, (Trace{"yielder", "b", "a"}));
}

TEST_F(KernelTest, YieldAloneInItsQueueReturnsAtOnce) {
    Start(5, [&] {
        TaskYield(-1);
        Note("still here");
        TaskYield(40);   // no such priority: nothing happens
        Note("and here");
    });
    EXPECT_EQ(trace_, (Trace{"still here", "and here"}));
}

TEST_F(KernelTest, YieldOtherPriorityRunsALowerTaskWithoutChangingTheQueues) {
    int32_t sema = TaskOpenSema(-1, 0);
    int32_t low1 = Make(3, [&] {
        Note("low1");
        // The yielding task is still ready and first in its queue.
        TaskBlock* high = g_->ready[10].head;
        EXPECT_NE(high, nullptr);
        EXPECT_EQ(high->state, kTaskReady);
        EXPECT_EQ(g_->ready[3].head, g_->current);
        EXPECT_EQ(g_->readyBitmap, (1u << 10) | (1u << 3) | 1u);
        TaskWaitSema(sema);   // blocking gives control back to the yielder, not to low2
        Note("low1 again");
    });
    int32_t low2 = Make(3, [&] { Note("low2"); });
    Start(10, [&] {
        TaskResume(low1);
        TaskResume(low2);
        Note("high before");
        TaskYieldOtherPriority(-1);
        Note("high after");
        TaskSignalSema(sema);
    });
    // The signal readies low1 behind low2 in queue 3.
    EXPECT_EQ(trace_, (Trace{"high before", "low1", "high after", "low2", "low1 again"}));
}

TEST_F(KernelTest, YieldOtherPriorityWithCompanyInItsQueueActsAsYield) {
    Start(6, [&] {
        TaskResume(Make(5, [&] {
            Note("yielder");
            TaskYieldOtherPriority(-1);
            Note("yielder again");
        }));
        TaskResume(Make(5, [&] { Note("peer"); }));
    });
    EXPECT_EQ(trace_, (Trace{"yielder", "peer", "yielder again"}));
}

TEST_F(KernelTest, YieldOtherPriorityAlternatesWithAnEqualPeer) {
    Start(6, [&] {
        TaskResume(Make(5, [&] {
            Note("a1");
            TaskYieldOtherPriority(-1);
            Note("a2");
        }));
        TaskResume(Make(5, [&] {
            Note("b1");
            TaskYieldOtherPriority(-1);
            Note("b2");
        }));
    });
    EXPECT_EQ(trace_, (Trace{"a1", "b1", "a2", "b2"}));
}

TEST_F(KernelTest, YieldOtherPriorityReturnsAtOnceWithNothingLowerReady) {
    TaskYieldOtherPriority(-1);   // the root task, priority 0: nothing below
    Note("root");
    EXPECT_EQ(trace_, (Trace{"root"}));
}

TEST_F(KernelTest, YieldOtherPriorityToARootTaskBelow) {
    // A task yielding to lower priorities lets the root task (priority 0) run: here the
    // root task's Resume returns while the yielder is still ready.
    int32_t t = Start(8, [&] {
        Note("yield");
        TaskYieldOtherPriority(-1);
        Note("back");
    });
    EXPECT_EQ(trace_, (Trace{"yield"}));
    EXPECT_EQ(Block(t)->state, kTaskReady);
    TaskYield(8);   // the yielder is alone in its queue: nothing moves, no switch
    EXPECT_EQ(trace_, (Trace{"yield"}));
    TaskSetPriority(0);   // requeues the root task: the highest task runs again
    EXPECT_EQ(trace_, (Trace{"yield", "back"}));
}

// ---- priorities -------------------------------------------------------------------------

TEST_F(KernelTest, SetPriorityReturnsTheOldOneAndLowersBelowAReadyTask) {
    Start(9, [&] {
        TaskResume(Make(7, [&] { Note("seven"); }));
        Note("nine");
        int old = TaskSetPriority(5);   // seven now runs before this call returns
        Note("five, was " + std::to_string(old));
        EXPECT_EQ(TaskGetPriority(), 5);
    });
    EXPECT_EQ(trace_, (Trace{"nine", "seven", "five, was 9"}));
}

TEST_F(KernelTest, SetPriorityPutsTheTaskFirstInItsNewQueue) {
    Start(9, [&] {
        TaskResume(Make(5, [&] { Note("peer"); }));
        TaskSetPriority(5);   // first of queue 5, ahead of the peer: keeps running
        Note("mover");
    });
    EXPECT_EQ(trace_, (Trace{"mover", "peer"}));
}

TEST_F(KernelTest, SetPriorityUsesTheLowFiveBits) {
    EXPECT_EQ(TaskSetPriority(33), 0);
    EXPECT_EQ(TaskGetPriority(), 1);
    EXPECT_EQ(TaskSetPriority(0), 1);
}

TEST_F(KernelTest, RaisedRootTaskIsNotPreemptedByLowerTasks) {
    TaskSetPriority(20);
    Start(10, [&] { Note("ten"); });
    EXPECT_TRUE(trace_.empty());
    TaskSetPriority(0);
    EXPECT_EQ(trace_, (Trace{"ten"}));
}

} // namespace
