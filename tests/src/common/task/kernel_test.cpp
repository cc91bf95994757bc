// Kernel life: start and end, the per-thread globals, the kernel mutex, memory functions,
// hooks, and ending tasks.

#include "kernel_fixture.h"
#include "win32.h"
#include "../../testwait.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

TEST(KernelLife, NothingWorksWithoutAKernelAndNothingBreaks) {
    EXPECT_EQ(TaskTaskingState(), 0);
    EXPECT_EQ(TaskGetNodeTaskGlobals(), nullptr);
    EXPECT_EQ(TaskGetPriority(), 0);
    EXPECT_EQ(TaskGetTaskArg(), nullptr);
    EXPECT_EQ(TaskGetError(), 0);
    EXPECT_EQ(TaskCreate(-1, [](void*) {}, nullptr, 5, 4096), -1);
    EXPECT_EQ(TaskOpenSema(-1, 0), -1);
    EXPECT_EQ(TaskSignalSema(static_cast<int32_t>(0xFEFF03FF)), 0);
    EXPECT_EQ(TaskOpenPort(-1), -1);
    char memory[64];
    EXPECT_EQ(TaskInitMsg(memory, 64, -1), nullptr);
    EXPECT_EQ(TaskSetPriority(7), 0);
    TaskYield(-1);
    TaskYieldOtherPriority(-1);
    TaskExit();
    EXPECT_EQ(TaskExitTasking(), 0);
    EXPECT_EQ(TaskInstallMalloc(nullptr, nullptr, nullptr), 0);
}

TEST(KernelLife, StartMakesTheThreadTheRootTask) {
    ASSERT_EQ(TaskInitTasking(), 1);
    EXPECT_EQ(TaskInitTasking(), 0);   // one kernel per thread
    _NODE_TASK_GLOBALS* g = TaskGetNodeTaskGlobals();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(TaskTaskingState(), 1);
    EXPECT_EQ(g->ownNode, -1);
    EXPECT_EQ(g->memLockSema, -1);
    EXPECT_EQ(g->current, &g->root);
    EXPECT_EQ(g->root.handle, -1);
    EXPECT_EQ(g->root.priority, 0);
    EXPECT_EQ(g->root.state, kTaskReady);
    EXPECT_EQ(g->readyBitmap, 1u);
    EXPECT_EQ(g->osThreadId, TaskOsThreadId());
    EXPECT_EQ(TaskOsThreadId(), GetCurrentThreadId());
    EXPECT_TRUE(IsThreadAFiber());
    for (int n = 0; n < 256; ++n) ASSERT_EQ(g->routes[n], -1);
    int pooled = 0;
    for (MsgHeader* h = g->poolFree; h; h = h->next) ++pooled;
    EXPECT_EQ(pooled, 24);
    EXPECT_EQ(NodeTaskGlobals, g);
    EXPECT_EQ(TaskExitTasking(), 1);
    EXPECT_EQ(TaskTaskingState(), 0);
    EXPECT_FALSE(IsThreadAFiber());   // the kernel gives the thread back as it was
    EXPECT_EQ(NodeTaskGlobals, nullptr);
}

TEST(KernelLife, EachThreadHasItsOwnKernel) {
    ASSERT_EQ(TaskInitTasking(), 1);
    _NODE_TASK_GLOBALS* mine = TaskGetNodeTaskGlobals();
    int32_t mySema = TaskOpenSema(static_cast<int32_t>(0xFE000005), 0);
    ASSERT_EQ(mySema, static_cast<int32_t>(0xFE000005));
    _NODE_TASK_GLOBALS* theirs = nullptr;
    int theirOpen = 0, theirSignal = 0, theirCount = -1;
    std::thread t([&] {
        TaskInitTasking();
        theirs = TaskGetNodeTaskGlobals();
        // The same handle in this thread's kernel is another semaphore.
        theirOpen = TaskOpenSema(static_cast<int32_t>(0xFE000005), 0) != -1;
        theirSignal = TaskSignalSema(static_cast<int32_t>(0xFE000005));
        theirCount = TaskResetSema(static_cast<int32_t>(0xFE000005));
        TaskExitTasking();
    });
    t.join();
    EXPECT_NE(theirs, nullptr);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirOpen, 1);
    EXPECT_EQ(theirSignal, 1);
    EXPECT_EQ(theirCount, 1);
    EXPECT_EQ(TaskCheckSema(mySema), 0);   // ours was not signalled
    EXPECT_EQ(TaskGetNodeTaskGlobals(), mine);
    EXPECT_EQ(TaskExitTasking(), 1);
}

TEST(KernelLife, SetNewThreadRekeysTheGlobals) {
    ASSERT_EQ(TaskInitTasking(), 1);
    _NODE_TASK_GLOBALS* g = TaskGetNodeTaskGlobals();
    uint32_t self = TaskOsThreadId();
    EXPECT_EQ(TaskSetNewThread(self + 100000), 1);
    EXPECT_EQ(TaskGetNodeTaskGlobals(), nullptr);   // no longer this thread's
    EXPECT_EQ(TaskTaskingState(), 0);
    g->osThreadId = self;                            // give them back
    EXPECT_EQ(TaskSetNodeTaskGlobals(), g);
    EXPECT_EQ(TaskGetNodeTaskGlobals(), g);
    EXPECT_EQ(TaskExitTasking(), 1);
}

// ---- the kernel mutex -------------------------------------------------------------------

TEST(KernelMutex, UsableBeforeAnyKernelAndAcrossThreads) {
    ASSERT_EQ(TaskTaskingState(), 0);
    TaskBeginMutex();
    TaskBeginMutex();   // recursive
    std::atomic<int> stage{0};
    testwait::Thread other([&] {
        stage = 1;
        TaskBeginMutex();   // a thread without a kernel
        stage = 2;
        TaskEndMutex();
    });
    EXPECT_TRUE(testwait::WaitUntil([&] { return stage.load() != 0; }));
    Sleep(20);
    EXPECT_EQ(stage.load(), 1);
    TaskEndMutex();
    Sleep(10);
    EXPECT_EQ(stage.load(), 1);   // still held once
    TaskEndMutex();
    other.Join();
    EXPECT_EQ(stage.load(), 2);
}

TEST_F(KernelTest, MutexHeldByATaskAcrossASwitchIsReleasedThroughTheThread) {
    std::atomic<int> entered{0};
    int32_t sema = TaskOpenSema(-1, 0);
    Start(5, [&] {
        TaskBeginMutex();
        TaskWaitSema(sema);   // blocks with the mutex held
        TaskEndMutex();
    });
    // The root task ends the mutex on the task's behalf: it is the thread's.
    testwait::Thread other([&] {
        TaskBeginMutex();
        entered = 1;
        TaskEndMutex();
    });
    Sleep(20);
    EXPECT_EQ(entered.load(), 0);
    TaskSignalSema(sema);   // the task runs, leaves the mutex and ends
    other.Join();
    EXPECT_EQ(entered.load(), 1);
}

// ---- memory functions -------------------------------------------------------------------

std::atomic<int> gAllocs{0};
std::atomic<int> gFrees{0};
void* CountingAlloc(size_t n) {
    ++gAllocs;
    return std::malloc(n);
}
void CountingFree(void* p) {
    ++gFrees;
    std::free(p);
}

TEST_F(KernelTest, InstallMallocOpensTheMemoryLockOnceAndKeepsMissingFunctions) {
    EXPECT_EQ(TaskInstallMalloc(CountingAlloc, nullptr, CountingFree), 1);
    int32_t lock = g_->memLockSema;
    EXPECT_EQ(TaskValidateSema(lock), 1);
    EXPECT_EQ(g_->allocate, &CountingAlloc);
    EXPECT_NE(g_->allocateAligned, nullptr);
    EXPECT_EQ(TaskInstallMalloc(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(g_->memLockSema, lock);
    EXPECT_EQ(g_->release, &CountingFree);
    TaskMemLock();
    EXPECT_EQ(TaskCheckSema(lock), 0);   // taken
    TaskMemUnlock();
    EXPECT_EQ(TaskCheckSema(lock), 1);
    TaskSignalSema(lock);
}

TEST_F(KernelTest, MemoryLockIsIgnoredWhileNotOpen) {
    TaskMemLock();
    TaskMemUnlock();
    EXPECT_EQ(TaskGetError(), 0);
}

TEST_F(KernelTest, BlocksAreAllocatedAndFreedWithTheInstalledFunctions) {
    TaskInstallMalloc(CountingAlloc, nullptr, CountingFree);
    gAllocs = 0;
    gFrees = 0;
    int32_t s = TaskOpenSema(-1, 0);
    int32_t p = TaskOpenPort(-1);
    int32_t t = Make(3, [] {});
    EXPECT_EQ(gAllocs.load(), 3);
    TaskCloseSema(s);
    TaskClosePort(p);
    EXPECT_EQ(gFrees.load(), 2);
    TaskResume(t);   // runs to its end; its block is freed when the root task runs again
    EXPECT_EQ(gFrees.load(), 3);
}

// ---- hooks and ending tasks -------------------------------------------------------------

Trace* gHookTrace = nullptr;

TEST_F(KernelTest, StartHooksRunInOrderAndExitHooksInReverse) {
    gHookTrace = &trace_;
    EXPECT_EQ(TaskAddStartHook([] { gHookTrace->push_back("start1"); }), 1);
    EXPECT_EQ(TaskAddStartHook([] { gHookTrace->push_back("start2"); }), 1);
    EXPECT_EQ(TaskAddExitHook([] { gHookTrace->push_back("exit1"); }), 1);
    EXPECT_EQ(TaskAddExitHook([] { gHookTrace->push_back("exit2"); }), 1);
    EXPECT_EQ(TaskAddExitHook([] { gHookTrace->push_back("exit3"); }), 1);
    Start(4, [&] { Note("body"); });
    EXPECT_EQ(trace_, (Trace{"start1", "start2", "body", "exit3", "exit2", "exit1"}));
    TaskExit();   // the root task does not end, and runs no hooks
    EXPECT_EQ(trace_.size(), 6u);
}

TEST_F(KernelTest, AtMostSixteenHooksOfEachKind) {
    for (int i = 0; i < 16; ++i) ASSERT_EQ(TaskAddExitHook([] {}), 1);
    EXPECT_EQ(TaskAddExitHook([] {}), 0);
    EXPECT_EQ(TaskAddStartHook(nullptr), 0);
}

int gFreesAtFirstExit = -1;

TEST_F(KernelTest, EndedTaskFiberIsDeletedByTheNextTaskAndItsBlockReclaimed) {
    TaskInstallMalloc(CountingAlloc, nullptr, CountingFree);
    int32_t sema = TaskOpenSema(-1, 0);
    void* pendingFiber = reinterpret_cast<void*>(1);
    TaskBlock* pendingBlocks = reinterpret_cast<TaskBlock*>(1);
    int freesInWaiter = -1;
    Start(6, [&] {
        TaskWaitSema(sema);
        // Resumed by the ending task's switch: its fiber is deleted and its block freed
        // before the wait returns here.
        pendingFiber = g_->exitingFiber;
        pendingBlocks = g_->exited;
        freesInWaiter = gFrees.load();
        Note("next");
    });
    int32_t ender = Make(7, [&] {
        TaskSignalSema(sema);   // readies the lower waiter: no switch yet
        Note("ending");
    });
    gFreesAtFirstExit = -1;
    TaskAddExitHook([] {
        if (gFreesAtFirstExit == -1) gFreesAtFirstExit = gFrees.load();
    });
    gFrees = 0;
    TaskResume(ender);
    EXPECT_EQ(trace_, (Trace{"ending", "next"}));
    EXPECT_EQ(gFreesAtFirstExit, 0);   // the ending task cannot free its own block
    EXPECT_EQ(freesInWaiter, 1);
    EXPECT_EQ(pendingFiber, nullptr);
    EXPECT_EQ(pendingBlocks, nullptr);
    EXPECT_EQ(gFrees.load(), 2);       // and the waiter's, once the root task ran again
    EXPECT_EQ(TaskResume(ender), 0);   // gone from the table
    EXPECT_EQ(TaskGetError(), kTaskErrorTaskNotFound);
}

TEST_F(KernelTest, EndOfKernelFromATaskIsRefused) {
    int result = -1;
    Start(3, [&] { result = TaskExitTasking(); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(TaskTaskingState(), 1);
}

TEST_F(KernelTest, EndOfKernelFreesTasksThatStillWait) {
    int32_t sema = TaskOpenSema(-1, 0);
    for (int i = 0; i < 5; ++i) Start(2 + i, [&] { TaskWaitSema(sema); });
    Make(9, [] {});   // never resumed
    // TearDown ends the kernel with six tasks left; the sanitizer checks nothing leaks.
}

} // namespace
