// Critical sections, events, semaphores, waits and handles.

#include "win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

int64_t NowMs() {
    int64_t c = 0, f = 1;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return c / (f / 1000);
}

// Whether another thread can enter the section right now (it leaves again at once).
bool OtherThreadCanEnter(CRITICAL_SECTION* cs) {
    bool entered = false;
    std::thread t([&] {
        entered = TryEnterCriticalSection(cs);
        if (entered) LeaveCriticalSection(cs);
    });
    t.join();
    return entered;
}

// ---- critical sections ----------------------------------------------------------------

CRITICAL_SECTION gStaticSection;   // usable without InitializeCriticalSection

TEST(CriticalSection, StaticSectionWorksFromLoad) {
    EnterCriticalSection(&gStaticSection);
    EXPECT_FALSE(OtherThreadCanEnter(&gStaticSection));
    LeaveCriticalSection(&gStaticSection);
    EXPECT_TRUE(OtherThreadCanEnter(&gStaticSection));
}

TEST(CriticalSection, RecursiveForTheOwningThread) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(OtherThreadCanEnter(&cs));   // still entered once
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, BlocksOtherThreadsUntilLeft) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    std::atomic<int> stage{0};
    EnterCriticalSection(&cs);
    std::thread t([&] {
        stage = 1;
        EnterCriticalSection(&cs);
        stage = 2;
        LeaveCriticalSection(&cs);
    });
    while (stage.load() == 0) Sleep(1);
    Sleep(20);
    EXPECT_EQ(stage.load(), 1);
    LeaveCriticalSection(&cs);
    t.join();
    EXPECT_EQ(stage.load(), 2);
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ContendedSectionKeepsUpdatesWhole) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&cs);
                long v = counter;
                if (i % 1000 == 0) Sleep(0);   // let others pile up on the section
                counter = v + 1;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, LeavingASectionHeldByAnotherThreadDoesNothing) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::thread t([&] { LeaveCriticalSection(&cs); });
    t.join();
    EXPECT_FALSE(OtherThreadCanEnter(&cs));
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);   // not held any more: nothing happens
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteCriticalSection(&cs);
}

struct SectionFibers {
    CRITICAL_SECTION* cs;
    void* main;
};

void LeavingFiber(void* p) {
    auto* s = static_cast<SectionFibers*>(p);
    LeaveCriticalSection(s->cs);   // entered by the thread's other fiber
    SwitchToFiber(s->main);
    for (;;) SwitchToFiber(s->main);
}

TEST(CriticalSection, HeldAcrossAFiberSwitchIsLeftByTheNextFiber) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    SectionFibers s{&cs, ConvertThreadToFiber(nullptr)};
    void* f = CreateFiber(0, LeavingFiber, &s);
    EnterCriticalSection(&cs);
    SwitchToFiber(f);
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteFiber(f);
    ConvertFiberToThread();
    DeleteCriticalSection(&cs);
}

// ---- events -----------------------------------------------------------------------------

TEST(Event, ManualResetStaysSetAndReleasesEveryWaiter) {
    HANDLE ev = CreateEventA(TRUE, FALSE);
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(ev, 5000) == WAIT_OBJECT_0) ++released;
        });
    Sleep(10);
    EXPECT_TRUE(SetEvent(ev));
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);   // still set
    EXPECT_TRUE(ResetEvent(ev));
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(ev));
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
    HANDLE ev = CreateEventA(FALSE, TRUE);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);   // initially set
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);    // and reset by that wait
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(ev, 300) == WAIT_OBJECT_0) ++released;
        });
    Sleep(20);
    SetEvent(ev);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    CloseHandle(ev);
}

TEST(Event, TimedWaitLastsItsTimeOut) {
    HANDLE ev = CreateEventA(TRUE, FALSE);
    int64_t start = NowMs();
    EXPECT_EQ(WaitForSingleObject(ev, 60), WAIT_TIMEOUT);
    EXPECT_GE(NowMs() - start, 59);
    CloseHandle(ev);
}

// ---- semaphores -------------------------------------------------------------------------

TEST(Semaphore, CountsAndMaximum) {
    HANDLE s = CreateSemaphoreA(1, 3);
    ASSERT_NE(s, nullptr);
    LONG prev = -1;
    EXPECT_TRUE(ReleaseSemaphore(s, 2, &prev));
    EXPECT_EQ(prev, 1);
    EXPECT_FALSE(ReleaseSemaphore(s, 1, &prev));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(ReleaseSemaphore(s, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
    CloseHandle(s);
}

TEST(Semaphore, RefusesBadCounts) {
    EXPECT_EQ(CreateSemaphoreA(0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateSemaphoreA(-1, 5), nullptr);
    EXPECT_EQ(CreateSemaphoreA(6, 5), nullptr);
}

TEST(Semaphore, ReleaseFromAnotherThreadWakesTheWaiter) {
    HANDLE s = CreateSemaphoreA(0, 100);
    std::thread t([&] {
        Sleep(10);
        ReleaseSemaphore(s, 1, nullptr);
    });
    EXPECT_EQ(WaitForSingleObject(s, 5000), WAIT_OBJECT_0);
    t.join();
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
    CloseHandle(s);
}

// ---- waiting for several objects --------------------------------------------------------

TEST(WaitMultiple, AnyGivesTheFirstSignalledIndexAndTakesOnlyIt) {
    HANDLE h[3] = {CreateEventA(FALSE, FALSE), CreateSemaphoreA(1, 1), CreateSemaphoreA(1, 1)};
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(h[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 1000), WAIT_OBJECT_0);
    for (HANDLE x : h) CloseHandle(x);
}

TEST(WaitMultiple, AllTakesEverythingOrNothing) {
    HANDLE h[2] = {CreateSemaphoreA(1, 5), CreateEventA(FALSE, FALSE)};
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);   // the count was not taken
    ReleaseSemaphore(h[0], 1, nullptr);
    std::thread t([&] {
        Sleep(10);
        SetEvent(h[1]);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 5000), WAIT_OBJECT_0);
    t.join();
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
    for (HANDLE x : h) CloseHandle(x);
}

TEST(WaitMultiple, RefusesBadArguments) {
    HANDLE ev = CreateEventA(TRUE, TRUE);
    HANDLE two[2] = {ev, ev};
    EXPECT_EQ(WaitForMultipleObjects(0, two, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(65, two, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, two, TRUE, 0), WAIT_FAILED);   // same object twice
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(2, two, FALSE, 0), WAIT_OBJECT_0);
    CloseHandle(ev);
}

// Waiters on several objects, each woken by one of them, while another thread keeps
// signalling and taking an unrelated event: every count released is taken exactly once
// and no wait misses its wake-up.  Each waiter waits for its own semaphore, a shared one
// and a stop event, which (the highest index) ends it only once nothing else is left.
TEST(WaitMultiple, EveryReleaseWakesExactlyOneWaitWhileAnUnrelatedHandleIsHammered) {
    constexpr int kWaiters = 4, kRounds = 100;
    constexpr int kReleased = 2 * kWaiters * kRounds;
    HANDLE unrelated = CreateEventA(FALSE, FALSE);
    std::atomic<bool> stopHammer{false};
    std::thread hammer([&] {
        while (!stopHammer) {
            SetEvent(unrelated);
            WaitForSingleObject(unrelated, 0);
        }
    });
    HANDLE shared = CreateSemaphoreA(0, kReleased);
    HANDLE stop = CreateEventA(TRUE, FALSE);
    std::vector<HANDLE> own;
    for (int i = 0; i < kWaiters; ++i) own.push_back(CreateSemaphoreA(0, kRounds));
    std::atomic<int> taken{0}, failed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&, i] {
            HANDLE three[3] = {own[static_cast<size_t>(i)], shared, stop};
            for (;;) {
                const DWORD r = WaitForMultipleObjects(3, three, FALSE, 10000);
                if (r == WAIT_OBJECT_0 + 2) return;
                if (r <= WAIT_OBJECT_0 + 1)
                    ++taken;
                else
                    ++failed;
            }
        });
    }
    for (int n = 0; n < kRounds; ++n) {
        for (HANDLE s : own) ReleaseSemaphore(s, 1, nullptr);
        ReleaseSemaphore(shared, kWaiters, nullptr);
        if (n % 16 == 0) Sleep(1);
    }
    const int64_t deadline = NowMs() + 20000;
    while (taken < kReleased && NowMs() < deadline) Sleep(1);
    EXPECT_EQ(taken.load(), kReleased);
    SetEvent(stop);
    for (std::thread& t : waiters) t.join();
    stopHammer = true;
    hammer.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(taken.load(), kReleased);
    EXPECT_EQ(WaitForSingleObject(shared, 0), WAIT_TIMEOUT);
    for (HANDLE s : own) {
        EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
        CloseHandle(s);
    }
    CloseHandle(stop);
    CloseHandle(shared);
    CloseHandle(unrelated);
}

// A wait for all of two semaphores beside a wait for one of them: the pair is taken only
// whole, and both waits get every count released for them.
TEST(WaitMultiple, AllAndAnyCompeteForOneObjectWithoutLosingCounts) {
    constexpr int kPairs = 150, kSingles = 150;
    HANDLE h[2] = {CreateSemaphoreA(0, kPairs + kSingles), CreateSemaphoreA(0, kPairs)};
    std::atomic<int> failed{0};
    std::thread all([&] {
        for (int n = 0; n < kPairs; ++n)
            if (WaitForMultipleObjects(2, h, TRUE, 10000) != WAIT_OBJECT_0) ++failed;
    });
    std::thread any([&] {
        for (int n = 0; n < kSingles; ++n)
            if (WaitForMultipleObjects(1, h, FALSE, 10000) != WAIT_OBJECT_0) ++failed;
    });
    for (int n = 0; n < kPairs + kSingles; ++n) {
        ReleaseSemaphore(h[0], 1, nullptr);
        if (n < kPairs) ReleaseSemaphore(h[1], 1, nullptr);
        if (n % 16 == 0) Sleep(1);
    }
    all.join();
    any.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
    for (HANDLE x : h) CloseHandle(x);
}

// ---- handles ----------------------------------------------------------------------------

TEST(Handles, ClosedMadeUpAndMismatchedHandlesAreRefused) {
    HANDLE ev = CreateEventA(TRUE, FALSE);
    HANDLE sem = CreateSemaphoreA(0, 1);
    EXPECT_FALSE(SetEvent(sem));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReleaseSemaphore(ev, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReleaseMutex(ev));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(ev));
    EXPECT_FALSE(CloseHandle(ev));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(ev));
    // A new object in the freed slot does not answer to the old handle.
    HANDLE again = CreateEventA(TRUE, FALSE);
    EXPECT_NE(again, ev);
    EXPECT_FALSE(SetEvent(ev));
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x12345678), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE mixed[2] = {again, ev};
    EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
    CloseHandle(again);
    CloseHandle(sem);
}

TEST(Handles, ClosingWhileAnotherThreadWaitsKeepsTheObjectAlive) {
    HANDLE ev = CreateEventA(TRUE, FALSE);
    DWORD result = 1234;
    std::thread t([&] { result = WaitForSingleObject(ev, 100); });
    Sleep(20);
    CloseHandle(ev);   // the waiter's reference keeps the event until its wait ends
    t.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
}

} // namespace
