// Fibers: conversion, creation, switching, stacks and deletion.

#include "win32.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Converts the test's thread for the test's length.
class FiberTest : public ::testing::Test {
protected:
    void SetUp() override {
        main_ = ConvertThreadToFiber(&mainData_);
        ASSERT_NE(main_, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(ConvertFiberToThread()); }

    int mainData_ = 0;
    void* main_ = nullptr;
};

struct PingPong {
    void* main = nullptr;
    void* self = nullptr;
    std::vector<int>* trace = nullptr;
    int rounds = 0;
};

void PingPongFiber(void* p) {
    PingPong* pp = static_cast<PingPong*>(p);
    EXPECT_EQ(GetFiberData(), p);
    EXPECT_EQ(GetCurrentFiber(), pp->self);
    // Locals that live across switches must keep their values (callee-saved registers).
    int a = 1, b = 2, c = 3;
    for (int i = 0; i < pp->rounds; ++i) {
        pp->trace->push_back(100 + i);
        a += b;
        b += c;
        c += 1;
        SwitchToFiber(pp->main);
    }
    pp->trace->push_back(a * 1000000 + b * 1000 + c);
    SwitchToFiber(pp->main);
    ADD_FAILURE() << "a finished fiber was resumed";
    for (;;) SwitchToFiber(pp->main);
}

TEST_F(FiberTest, ConvertedThreadIsTheCurrentFiber) {
    EXPECT_TRUE(IsThreadAFiber());
    EXPECT_EQ(GetCurrentFiber(), main_);
    EXPECT_EQ(GetFiberData(), &mainData_);
    EXPECT_EQ(ConvertThreadToFiber(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_FIBER);
}

TEST(FiberPlain, ThreadWithoutFiberState) {
    EXPECT_FALSE(IsThreadAFiber());
    EXPECT_EQ(GetCurrentFiber(), nullptr);
    EXPECT_EQ(GetFiberData(), nullptr);
    EXPECT_FALSE(ConvertFiberToThread());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_THREAD);
}

TEST_F(FiberTest, SwitchesBackAndForthKeepingLocals) {
    std::vector<int> trace;
    PingPong pp{main_, nullptr, &trace, 3};
    pp.self = CreateFiber(0, PingPongFiber, &pp);
    ASSERT_NE(pp.self, nullptr);
    int x = 7, y = 11;
    for (int i = 0; i < 4; ++i) {
        trace.push_back(i);
        x = x * 3 + y;
        SwitchToFiber(pp.self);
        EXPECT_EQ(GetCurrentFiber(), main_);
    }
    // a: 1 -> 3 -> 8 -> 17, b: 2 -> 5 -> 9 -> 14, c: 3 -> 4 -> 5 -> 6
    EXPECT_EQ(trace, (std::vector<int>{0, 100, 1, 101, 2, 102, 3, 17014006}));
    EXPECT_EQ(x, 1007);   // 7 -> 32 -> 107 -> 332 -> 1007
    DeleteFiber(pp.self);
}

TEST_F(FiberTest, SwitchToTheRunningFiberReturns) {
    SwitchToFiber(main_);
    EXPECT_EQ(GetCurrentFiber(), main_);
}

void AlignmentFiber(void* p) {
    void** args = static_cast<void**>(p);
    uintptr_t frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    *static_cast<uintptr_t*>(args[1]) = frame;
    SwitchToFiber(args[0]);
    for (;;) SwitchToFiber(args[0]);
}

TEST_F(FiberTest, NewFiberStartsWithAnAlignedStack) {
    uintptr_t frame = 1;
    void* args[2] = {main_, &frame};
    void* f = CreateFiber(4096, AlignmentFiber, args);
    ASSERT_NE(f, nullptr);
    SwitchToFiber(f);
    // With frame pointers the frame address is the saved-ebp slot: return address above
    // it, and the caller's stack 16-byte aligned at the call.
    EXPECT_EQ((frame + 8) % 16, 0u);
    DeleteFiber(f);
}

struct Deep {
    void* main;
    int depth;
    long result;
};

long Recurse(int n) {
    volatile char pad[1024];
    std::memset(const_cast<char*>(pad), n & 0xFF, sizeof pad);
    if (n == 0) return pad[5];
    return Recurse(n - 1) + pad[17];
}

void DeepFiber(void* p) {
    Deep* d = static_cast<Deep*>(p);
    d->result = Recurse(d->depth);
    SwitchToFiber(d->main);
    for (;;) SwitchToFiber(d->main);
}

TEST_F(FiberTest, SmallRequestedStackStillHoldsDeepCalls) {
    Deep d{main_, 48, -1};
    void* f = CreateFiber(256, DeepFiber, &d);   // 256 bytes asked: raised to a workable size
    ASSERT_NE(f, nullptr);
    SwitchToFiber(f);
    long expected = 0;
    for (int n = 1; n <= 48; ++n) expected += n & 0xFF;
    EXPECT_EQ(d.result, expected);
    DeleteFiber(f);
}

void RoundingFiber(void* p) {
    void** args = static_cast<void**>(p);
    fesetround(FE_UPWARD);
    *static_cast<int*>(args[1]) = fegetround();
    SwitchToFiber(args[0]);
    *static_cast<int*>(args[1]) = fegetround();
    SwitchToFiber(args[0]);
    for (;;) SwitchToFiber(args[0]);
}

TEST_F(FiberTest, FloatingPointControlIsKeptPerFiber) {
    int seen = -1;
    void* args[2] = {main_, &seen};
    ASSERT_EQ(fegetround(), FE_TONEAREST);
    void* f = CreateFiber(0, RoundingFiber, args);
    SwitchToFiber(f);
    EXPECT_EQ(seen, FE_UPWARD);
    EXPECT_EQ(fegetround(), FE_TONEAREST);   // the fiber's mode did not leak here
    fesetround(FE_DOWNWARD);
    SwitchToFiber(f);
    EXPECT_EQ(seen, FE_UPWARD);              // and ours not there
    EXPECT_EQ(fegetround(), FE_DOWNWARD);
    fesetround(FE_TONEAREST);
    DeleteFiber(f);
}

TEST_F(FiberTest, DeleteRefusesRunningAndThreadFibers) {
    DeleteFiber(main_);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetCurrentFiber(), main_);
    DeleteFiber(nullptr);   // ignored
    void* never = CreateFiber(0, PingPongFiber, nullptr);
    ASSERT_NE(never, nullptr);
    DeleteFiber(never);     // a fiber that never ran
}

TEST(FiberPlain, CreateRefusesNullRoutineAndHugeStacks) {
    EXPECT_EQ(CreateFiber(0, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFiber(size_t(1) << 30, PingPongFiber, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

TEST(FiberPlain, ConvertFiberToThreadOnlyOnTheThreadsOwnFiber) {
    void* main = ConvertThreadToFiber(nullptr);
    ASSERT_NE(main, nullptr);
    struct Args {
        void* main;
        BOOL result;
        DWORD error;
    } args{main, TRUE, 0};
    void* f = CreateFiber(0, [](void* p) {
        Args* a = static_cast<Args*>(p);
        a->result = ConvertFiberToThread();
        a->error = GetLastError();
        SwitchToFiber(a->main);
        for (;;) SwitchToFiber(a->main);
    }, &args);
    SwitchToFiber(f);
    EXPECT_FALSE(args.result);
    EXPECT_EQ(args.error, ERROR_INVALID_PARAMETER);
    DeleteFiber(f);
    EXPECT_TRUE(ConvertFiberToThread());
}

struct Counter {
    void* main;
    int* value;
};

void CountingFiber(void* p) {
    Counter* c = static_cast<Counter*>(p);
    for (;;) {
        ++*c->value;
        SwitchToFiber(c->main);
    }
}

TEST(FiberPlain, ThreadsSwitchTheirOwnFibersIndependently) {
    auto work = [](int rounds, int* out) {
        void* main = ConvertThreadToFiber(nullptr);
        int value = 0;
        Counter c{main, &value};
        void* f = CreateFiber(0, CountingFiber, &c);
        for (int i = 0; i < rounds; ++i) SwitchToFiber(f);
        DeleteFiber(f);
        ConvertFiberToThread();
        *out = value;
    };
    int a = 0, b = 0;
    std::thread t1(work, 20000, &a);
    std::thread t2(work, 30000, &b);
    t1.join();
    t2.join();
    EXPECT_EQ(a, 20000);
    EXPECT_EQ(b, 30000);
}

void Overflow(void* p) {
    static_cast<void>(p);
    Recurse(1 << 20);   // far more than any fiber stack
}

TEST(FiberDeathTest, StackOverflowHitsTheGuardPage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ConvertThreadToFiber(nullptr);
            void* f = CreateFiber(0, Overflow, nullptr);
            SwitchToFiber(f);
        },
        "");
}

} // namespace
