// The timer server task: choosing the Orlo, starting its timer and turning interrupts
// into ticks.

#include "task.h"
#include "task_globals.h"
#include "timer.h"
#include "timersrv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A node as the timer server sees it.
struct FakeNode {
    uint32_t frequency = 0;
    bool primary = true;
    bool display = false;
    alignas(4) uint8_t primaryRegs[0x3000] = {};
    alignas(4) uint8_t displayRegs[0x3000] = {};
    bool mapped = true;
    uint32_t primaryTicks = 0, primaryPending = 0;
    uint32_t displayTicks = 0, displayPending = 0;
    uint32_t running = 0;
    int32_t signal = -1;
    int askedSource = -1;
    int resets = 0;

    uint32_t Reg(const uint8_t* block, uint32_t offset) const {
        uint32_t v;
        std::memcpy(&v, block + offset, 4);
        return v;
    }
};

FakeNode* gNode = nullptr;

bool Describe(void* record, TimerServerNode* out) {
    FakeNode* n = static_cast<FakeNode*>(record);
    if (!n) return false;
    out->frequency = &n->frequency;
    out->primaryPresent = n->primary;
    out->displayPresent = n->display;
    out->primaryRegisters = n->mapped ? n->primaryRegs : nullptr;
    out->displayRegisters = n->mapped ? n->displayRegs : nullptr;
    out->primaryTickCounter = &n->primaryTicks;
    out->primaryPendingTicks = &n->primaryPending;
    out->displayTickCounter = &n->displayTicks;
    out->displayPendingTicks = &n->displayPending;
    out->timerRunning = &n->running;
    out->getSignal = [](void* r, int source) {
        FakeNode* node = static_cast<FakeNode*>(r);
        node->askedSource = source;
        return node->signal;
    };
    out->resetPreviousTime = [] { ++gNode->resets; };
    return true;
}

class TimerServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TaskInitTasking(), 1);
        TimerSetServerNodeHook(Describe);
        gNode = &node_;
    }
    void TearDown() override {
        EXPECT_EQ(TaskExitTasking(), 1);
        TimerSetServerNodeHook(nullptr);
    }
    // Starts the server as node start-up does: priority 30, 4096-byte stack.
    int32_t StartServer() {
        int32_t t = TaskCreate(-1, MpTimerServer, &node_, 30, 4096);
        EXPECT_NE(t, -1);
        TaskResume(t);
        return t;
    }
    bool Alive(int32_t task) { return TaskGetNodeTaskGlobals()->taskTable[task & 0xFFFF] != nullptr; }
    FakeNode node_;
};

TEST_F(TimerServerTest, StartsThePrimaryOrlosTimerAndCountsInterrupts) {
    node_.signal = TaskOpenSema(-1, 0);
    int32_t server = StartServer();
    ASSERT_TRUE(Alive(server));   // waiting for the first interrupt
    EXPECT_EQ(node_.askedSource, 42);
    EXPECT_EQ(node_.frequency, 50000000u);
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerCounter), 50000000u);
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerControl), 50000000u | 0x80000000u);
    EXPECT_EQ(node_.Reg(node_.displayRegs, kOrloTimerControl), 0u);
    EXPECT_EQ(node_.primaryPending, 1u);
    EXPECT_EQ(node_.primaryTicks, 0u);
    EXPECT_EQ(node_.running, 1u);
    EXPECT_EQ(node_.resets, 1);
    EXPECT_EQ(TimerGetClock(), 0);

    int32_t due = TaskOpenSema(-1, 0);
    ASSERT_NE(TimerArm(3, 0, due), nullptr);
    for (int i = 0; i < 3; ++i) TaskSignalSema(node_.signal);   // three interrupts
    EXPECT_EQ(TimerGetClock(), 3);
    EXPECT_EQ(node_.primaryTicks, 3u);
    EXPECT_EQ(TaskCheckSema(due), 1);

    node_.primaryPending = 4;   // ticks that piled up before the interrupt was served
    TaskSignalSema(node_.signal);
    EXPECT_EQ(TimerGetClock(), 7);
    EXPECT_EQ(node_.primaryPending, 1u);
    EXPECT_EQ(node_.primaryTicks, 4u);

    TaskCloseSema(node_.signal);   // the server ends instead of spinning
    EXPECT_FALSE(Alive(server));
}

TEST_F(TimerServerTest, ReloadIsTheFrequencyEvenWhereItsDoubleInverseFallsShort) {
    for (uint32_t f : {33000000u, 49u, 66666666u, 0x80000000u + 7u}) {
        SCOPED_TRACE(f);
        std::memset(node_.primaryRegs, 0, sizeof node_.primaryRegs);
        node_.frequency = f;   // 1 / (1 / 33e6) lies just below 33e6 in double arithmetic
        node_.primaryPending = 0;
        node_.signal = TaskOpenSema(-1, 0);
        StartServer();
        EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerCounter), f & 0x7FFFFFFFu);
        EXPECT_EQ(node_.frequency, f);
        TaskCloseSema(node_.signal);
    }
}

TEST_F(TimerServerTest, UsesTheDisplayOrloWhenThereIsNoPrimaryOne) {
    node_.primary = false;
    node_.display = true;
    node_.signal = TaskOpenSema(-1, 0);
    StartServer();
    EXPECT_EQ(node_.askedSource, 74);
    EXPECT_EQ(node_.Reg(node_.displayRegs, kOrloTimerControl), 50000000u | 0x80000000u);
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerControl), 0u);
    TaskSignalSema(node_.signal);
    EXPECT_EQ(node_.displayTicks, 1u);
    EXPECT_EQ(node_.primaryTicks, 0u);
}

TEST_F(TimerServerTest, InvalidSignalStopsTheTimerRegistersAndEnds) {
    std::memset(node_.primaryRegs + kOrloTimerCounter, 0xFF, 4);
    std::memset(node_.primaryRegs + kOrloTimerControl, 0xFF, 4);
    node_.signal = static_cast<int32_t>(0xFE0003FF);   // not open
    int32_t server = StartServer();
    EXPECT_FALSE(Alive(server));
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerCounter), 0u);
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerControl), 0u);
    EXPECT_EQ(node_.running, 0u);
    EXPECT_EQ(node_.frequency, 50000000u);
}

TEST_F(TimerServerTest, EndsAtOnceWithoutATimerToDrive) {
    node_.signal = TaskOpenSema(-1, 0);
    node_.primary = false;   // no Orlo at all
    EXPECT_FALSE(Alive(StartServer()));
    node_.primary = true;
    node_.mapped = false;    // no register block
    EXPECT_FALSE(Alive(StartServer()));
    node_.mapped = true;
    node_.primaryPending = 2;   // a timer already being served
    EXPECT_FALSE(Alive(StartServer()));
    EXPECT_EQ(node_.Reg(node_.primaryRegs, kOrloTimerControl), 0u);
    EXPECT_EQ(node_.running, 0u);
    EXPECT_EQ(node_.askedSource, -1);
    EXPECT_EQ(TimerGetClock(), 0);
}

TEST_F(TimerServerTest, EndsWithoutANodeDescription) {
    int32_t t = TaskCreate(-1, MpTimerServer, nullptr, 30, 4096);
    TaskResume(t);
    EXPECT_FALSE(Alive(t));
    TimerSetServerNodeHook(nullptr);
    t = TaskCreate(-1, MpTimerServer, &node_, 30, 4096);
    TaskResume(t);
    EXPECT_FALSE(Alive(t));
    EXPECT_EQ(node_.frequency, 0u);
}

} // namespace
