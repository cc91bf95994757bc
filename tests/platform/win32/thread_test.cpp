// Threads, thread ids, priorities, sleep and the clocks.

#include "win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<DWORD> gSeenId{0};
std::atomic<int> gGo{0};

DWORD Worker(void* p) {
    gSeenId = GetCurrentThreadId();
    while (gGo.load() == 0) Sleep(1);
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)) + 1;
}

TEST(Thread, RunsReportsItsIdAndExitCode) {
    gGo = 0;
    DWORD id = 0;
    HANDLE t = CreateThread(Worker, reinterpret_cast<void*>(41), &id);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 10), WAIT_TIMEOUT);
    gGo = 1;
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);   // stays signalled
    EXPECT_EQ(gSeenId.load(), id);
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(t));
}

TEST(Thread, HandleClosedBeforeTheThreadEnds) {
    gGo = 0;
    HANDLE t = CreateThread(Worker, nullptr, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(CloseHandle(t));
    gGo = 1;   // the thread ends on its own; its object goes then
    Sleep(20);
}

TEST(Thread, RefusesNullRoutine) {
    EXPECT_EQ(CreateThread(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ThreadId, StablePerThreadAndNewInAForkedChild) {
    DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    EXPECT_EQ(mine, static_cast<DWORD>(gettid()));
    DWORD other = 0;
    std::thread t([&] { other = GetCurrentThreadId(); });
    t.join();
    EXPECT_NE(other, mine);
    pid_t pid = fork();
    if (pid == 0) _exit(GetCurrentThreadId() == static_cast<DWORD>(gettid()) && GetCurrentThreadId() != mine ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ThreadPriority, RecordedPerThread) {
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), 15);
    int otherThreads = -99;
    std::thread t([&] { otherThreads = GetThreadPriority(GetCurrentThread()); });
    t.join();
    EXPECT_EQ(otherThreads, 0);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), 1));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), 1);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 16));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), 0);
}

DWORD ReportPriority(void*) {
    while (gGo.load() == 0) Sleep(1);
    return static_cast<DWORD>(GetThreadPriority(GetCurrentThread()) + 100);
}

TEST(ThreadPriority, SetThroughTheHandleIsSeenByTheThread) {
    gGo = 0;
    HANDLE t = CreateThread(ReportPriority, nullptr, nullptr);
    EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(t), 2);
    gGo = 1;
    ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 102u);
    CloseHandle(t);
    EXPECT_FALSE(SetThreadPriority(t, 0));
    EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_ERROR_RETURN);
    HANDLE ev = CreateEventA(TRUE, FALSE);
    EXPECT_FALSE(SetThreadPriority(ev, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(ev);
}

DWORD ReportNice(void*) {
    return static_cast<DWORD>(getpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId())) + 100);
}

// A new thread runs at the system weight of the normal priority, whatever its creator's
// priority, and the creator keeps its own.
TEST(ThreadPriority, NewThreadRunsAtTheNormalWeight) {
    const id_t self = static_cast<id_t>(GetCurrentThreadId());
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    const int normal = getpriority(PRIO_PROCESS, self);
    for (int creator : {THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_TIME_CRITICAL}) {
        SCOPED_TRACE(creator);
        ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), creator));
        const int creatorNice = getpriority(PRIO_PROCESS, self);
        HANDLE t = CreateThread(ReportNice, nullptr, nullptr);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(getpriority(PRIO_PROCESS, self), creatorNice);
        ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(t, &code));
        EXPECT_EQ(static_cast<int>(code) - 100, normal);
        CloseHandle(t);
    }
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(getpriority(PRIO_PROCESS, self), normal);
}

TEST(Clock, PerformanceCounterAndTimerAdvanceWithSleep) {
    int64_t f = 0, c0 = 0, c1 = 0;
    EXPECT_TRUE(QueryPerformanceFrequency(&f));
    EXPECT_EQ(f, 1000000000LL);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    EXPECT_TRUE(QueryPerformanceCounter(&c0));
    DWORD t0 = timeGetTime();
    Sleep(25);
    EXPECT_TRUE(QueryPerformanceCounter(&c1));
    DWORD t1 = timeGetTime();
    EXPECT_GE(c1 - c0, 25 * 1000000LL);
    EXPECT_GE(t1 - t0, 24u);   // millisecond truncation at both ends
    EXPECT_LT(t1 - t0, 5000u);
    int64_t c2 = 0;
    Sleep(0);
    QueryPerformanceCounter(&c2);
    EXPECT_GE(c2, c1);
}

} // namespace
