#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "task.h"
#include "w32sync.h"
#include "w32time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

namespace {

constexpr uint32_t kNode = 0x11;

_NODE_MAIN_RESOURCE_ST g_record;
_NODE_ST g_host;
_NODE_ST g_nodeState;
CRITICAL_SECTION g_section;
// Short doorbell, lock and driver-signal limits keep the time-out cases fast.
double g_timeouts[11] = {5.0, 5.0, 0.02, 15.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return node == kNode ? &g_record : nullptr;
}
_NODE_ST* HostState()
{
    return &g_host;
}

class HwLockTest : public ::testing::Test {
protected:
    void Use(bool primary, bool display)
    {
        Topology t;
        t.boards[0].primaryOrlo = primary;
        t.boards[0].displayOrlo = display;
        BoardSim::instance().configure(t);
        if (device_ != kInvalidDevice) DeviceClose(device_);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        g_record = _NODE_MAIN_RESOURCE_ST{};
        g_record.nodeNumber = kNode;
        g_record.device = device_;
        g_nodeState = _NODE_ST{};
        g_record.nodeState = &g_nodeState;
        InitializeCriticalSection(&g_section);
        g_record.section = &g_section;
        if (primary) {
            ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &g_record.primaryRegs));
        }
        if (display) {
            ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000, &g_record.displayRegs));
        }
        g_host = _NODE_ST{};
        g_host.timeouts = g_timeouts;
        g_host.own.next = &g_record;   // the list head leads to the node
        // The library's wiring over this fixture's node list.
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        board_->table.hostNodeState = HostState;
        ASSERT_EQ(board_->Install(), 0);
    }
    void SetUp() override { Use(true, false); }
    void TearDown() override
    {
        mp_core_forget_nodes();
        mp_time_reset_prev_time();
        board_.reset();
        if (device_ != kInvalidDevice) DeviceClose(device_);
        device_ = kInvalidDevice;
        BoardSim::instance().configure();
        DeleteCriticalSection(&g_section);
    }
    uint32_t Reg(uint32_t offset, bool display = false) const
    {
        return BoardSim::instance().orlo(0, display).reg(offset);
    }
    void SetReg(uint32_t offset, uint32_t value, bool display = false)
    {
        BoardSim::instance().orlo(0, display).setReg(offset, value);
    }
    // Writes the library made to one primary Orlo register while tracing was on.
    std::vector<uint32_t> Writes(uint32_t offset) const
    {
        std::vector<uint32_t> values;
        for (const auto& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && a.area == HwArea::PrimaryRegs && a.offset == offset) values.push_back(a.value);
        return values;
    }
    size_t Accesses(uint32_t offset) const
    {
        size_t n = 0;
        for (const auto& a : BoardSim::instance().trace())
            if (a.area == HwArea::PrimaryRegs && a.offset == offset) ++n;
        return n;
    }
    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcBoardHookOverride> board_;
};

// ---------------------------------------------------------------- lock

TEST_F(HwLockTest, LockCheckTakesAFreeLockAndReportsBusyUntilReset)
{
    EXPECT_EQ(mp_sys_lock_check(kNode), 0);
    EXPECT_EQ(mp_sys_lock_check(kNode), 1);
    EXPECT_EQ(mp_sys_lock_check(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_record))), 1);
    mp_sys_lock_reset(kNode);
    EXPECT_EQ(Reg(kOrloLock), 0u);
    EXPECT_EQ(mp_sys_lock_check(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_record))), 0);
    mp_sys_lock_reset(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_record)));
    EXPECT_EQ(mp_sys_lock_check(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_record))), 0);
}

TEST_F(HwLockTest, LockCallsFailForUnknownNodesAndNodeZero)
{
    EXPECT_EQ(mp_sys_lock_check(0x22u), -1);
    EXPECT_EQ(mp_sys_lock_check(0u), -1);
    EXPECT_EQ(mp_sys_lock_wait(0), -1);
    EXPECT_EQ(mp_sys_lock_wait(0x22), -1);
    EXPECT_EQ(mp_sys_section_check(0x22, 1), -1);
    EXPECT_EQ(mp_sys_section_wait(0x22, 1), -1);
    EXPECT_EQ(mp_sys_section_unlock(0x22, 1), -1);
    EXPECT_EQ(mp_interrupt_send(0x22), -1);
    EXPECT_EQ(mp_interrupt_alloc(0x22), -1);
    EXPECT_EQ(mp_interrupt_get_signal(0x22, 37), -1);
    EXPECT_EQ(mp_interrupt_set_signal(0x22, 37, -1), -1);
}

TEST_F(HwLockTest, LockWaitRetriesUntilTheHolderLetsGo)
{
    int busyReads = 3;
    BoardSim::instance().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloLock && busyReads > 0) {
            // Another holder has it: the read took nothing.
            --busyReads;
            BoardSim::instance().orlo(0, false).setReg(kOrloLock, 0);
            return 1u;
        }
        return a.value;
    });
    EXPECT_EQ(mp_sys_lock_wait(kNode), 0);
    EXPECT_EQ(busyReads, 0);
    EXPECT_EQ(Reg(kOrloLock), 1u);
}

TEST_F(HwLockTest, LockAndSectionsUseTheDisplayOrloWithoutAPrimary)
{
    Use(false, true);
    EXPECT_EQ(mp_core_orlo_regs(&g_record), g_record.displayRegs);
    EXPECT_EQ(mp_sys_section_wait(kNode, 0x2000), 0);
    EXPECT_EQ(Reg(kOrloSectionWord, true), 0x2000u);
    EXPECT_EQ(Reg(kOrloLock, true), 0u);
}

// ---------------------------------------------------------------- sections

TEST_F(HwLockTest, SectionWaitSetsAndUnlockClearsOnlyItsBits)
{
    SetReg(kOrloSectionWord, 0x8);
    EXPECT_EQ(mp_sys_section_wait(kNode, kSectionGrab), 0);
    EXPECT_EQ(Reg(kOrloSectionWord), 0x808u);
    EXPECT_EQ(Reg(kOrloLock), 0u) << "the hardware lock is only held for the update";
    EXPECT_EQ(mp_sys_section_check(kNode, kSectionGrab), 1);
    EXPECT_EQ(mp_sys_section_unlock(kNode, kSectionGrab), 0);
    EXPECT_EQ(Reg(kOrloSectionWord), 0x8u);
}

TEST_F(HwLockTest, SectionCheckWithHeldBitsDoesNotTouchTheLock)
{
    SetReg(kOrloSectionWord, 0xF000);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_sys_section_check(kNode, 0x2000), 1);
    EXPECT_EQ(Accesses(kOrloLock), 0u);
    EXPECT_EQ(Reg(kOrloSectionWord), 0xF000u);
}

TEST_F(HwLockTest, SectionCheckTakesTheLockForTheUpdate)
{
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_sys_section_check(kNode, 0x10), 0);
    EXPECT_EQ(Writes(kOrloSectionWord), std::vector<uint32_t>{0x10});
    EXPECT_EQ(Writes(kOrloLock), std::vector<uint32_t>{0});
    EXPECT_EQ(Accesses(kOrloLock), 2u);
}

TEST_F(HwLockTest, RingSectionHoldsTheNodesCriticalSectionUntilUnlock)
{
    ASSERT_EQ(mp_sys_section_wait(kNode, kSectionRing), 0);
    EXPECT_NE(g_section.owner.load(), 0u);
    EXPECT_EQ(g_section.recursion, 1u);
    EXPECT_EQ(mp_sys_section_unlock(kNode, kSectionRing), 0);
    EXPECT_EQ(g_section.owner.load(), 0u);
    EXPECT_EQ(Reg(kOrloSectionWord), 0u);
}

TEST_F(HwLockTest, SectionWaitPastTheLimitEndsWhenTheHolderReleases)
{
    SetReg(kOrloSectionWord, kSectionGrab);
    int busy = 0;
    bool released = false;
    // The other holder lets go only after the time-out of 0.05 s has passed.
    const double start = mp_time_clock(0.0);
    BoardSim::instance().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloSectionWord && a.op == HwOp::Read) {
            ++busy;
            if (!released && mp_time_clock(start) > 0.08) {
                released = true;
                BoardSim::instance().orlo(0, false).setReg(kOrloSectionWord, 0);
            }
            return BoardSim::instance().orlo(0, false).reg(kOrloSectionWord);
        }
        return a.value;
    });
    EXPECT_EQ(mp_sys_section_wait(kNode, kSectionGrab), 0);
    BoardSim::instance().setReadFilter(nullptr);
    EXPECT_GT(busy, 1);
    EXPECT_EQ(Reg(kOrloSectionWord), kSectionGrab);
}

// ---------------------------------------------------------------- doorbell

TEST_F(HwLockTest, DoorbellOnAHostServedNodeWritesBit5UnderSection128)
{
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_send(kNode), 1);
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{32});
    EXPECT_EQ(Writes(kOrloSectionWord), (std::vector<uint32_t>{kSectionDoorbellPrimary, 0}));
    BoardSim::instance().clearTrace();
    SetReg(kOrloInterruptSet, 0);
    EXPECT_EQ(mp_interrupt_send(kNode | 0x80000000u), 1);
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{2});
}

TEST_F(HwLockTest, DoorbellOnABoardProcessorNodeWritesBit22)
{
    g_nodeState.started = 1;
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_send(kNode), 1);
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{0x400000});
    BoardSim::instance().clearTrace();
    SetReg(kOrloInterruptSet, 0);
    EXPECT_EQ(mp_interrupt_send(kNode | 0x80000000u), 1);
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{0x1000000});
}

TEST_F(HwLockTest, DoorbellOnADisplayOnlyNodeTakesSection256)
{
    Use(false, true);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_send(kNode), 1);
    std::vector<uint32_t> sections;
    for (const auto& a : BoardSim::instance().trace())
        if (a.op == HwOp::Write && a.area == HwArea::DisplayRegs && a.offset == kOrloSectionWord) sections.push_back(a.value);
    EXPECT_EQ(sections, (std::vector<uint32_t>{kSectionDoorbellDisplay, 0}));
}

TEST_F(HwLockTest, PendingDoorbellTimesOutWithoutWriting)
{
    SetReg(kOrloInterruptSet, 32);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_send(kNode), -1);
    EXPECT_TRUE(Writes(kOrloInterruptSet).empty());
    EXPECT_EQ(Reg(kOrloSectionWord), 0u) << "the doorbell section is released";
}

TEST_F(HwLockTest, DoorbellWaitsForThePreviousBitToBeTaken)
{
    SetReg(kOrloInterruptSet, 32);
    int reads = 0;
    BoardSim::instance().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloInterruptSet && ++reads == 3) {
            BoardSim::instance().orlo(0, false).setReg(kOrloInterruptSet, 0);
            return 0u;
        }
        return a.value;
    });
    EXPECT_EQ(mp_interrupt_send(kNode), 1);
    EXPECT_EQ(Reg(kOrloInterruptSet), 32u);
}

TEST_F(HwLockTest, DoorbellWithoutItsSectionRingsNothing)
{
    // The section stays held by another holder; the operator prompt is not reached
    // because the lock read fails (no register block) during the wait.
    SetReg(kOrloSectionWord, kSectionDoorbellPrimary);
    int reads = 0;
    BoardSim::instance().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloSectionWord && ++reads == 3) g_record.primaryRegs = 0;
        return a.value;
    });
    const uint32_t regs = g_record.primaryRegs;
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_send(kNode), -1);
    g_record.primaryRegs = regs;
    EXPECT_TRUE(Writes(kOrloInterruptSet).empty());
    EXPECT_EQ(Reg(kOrloSectionWord), kSectionDoorbellPrimary) << "another holder's section is not released";
}

// ---------------------------------------------------------------- signals

TEST_F(HwLockTest, SignalNumbersWrapAt160AndSetTheEnableBit)
{
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 37), -1);
    EXPECT_EQ(mp_interrupt_set_signal(kNode, 197, 5), 0);
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 37), 5);
    EXPECT_EQ(*mp_interrupt_mask_word(kNode, 0), 1u << 5);
    ASSERT_NE(g_record.signalTable, nullptr);
    EXPECT_EQ(g_record.signalTable[37 * 4 + 1], 5);
    EXPECT_EQ(g_record.signalTable[37 * 4 + 2], 0);
    EXPECT_EQ(mp_interrupt_set_signal(kNode, 70, 3), 0);
    EXPECT_EQ(*mp_interrupt_mask_word(kNode, 1), 1u << 6);
}

TEST_F(HwLockTest, HandleMinusOneClearsTheEnableBitAndTheReadyFlag)
{
    mp_interrupt_set_signal(kNode, 40, 7);
    mp_interrupt_set_signal(kNode, 41, 8);
    EXPECT_EQ(mp_interrupt_set_signal(kNode, 40, -1), 0);
    EXPECT_EQ(*mp_interrupt_mask_word(kNode, 0), 1u << 9);
    EXPECT_EQ(g_record.signalTable[40 * 4 + 1], -1);
    EXPECT_EQ(g_record.signalTable[40 * 4 + 2], -1);
}

TEST_F(HwLockTest, AClosedTaskSemaphoreBindsNothing)
{
    EXPECT_EQ(mp_interrupt_set_signal(kNode, 45, static_cast<int32_t>(0xFE010003u)), 0);
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 45), -1);
    EXPECT_EQ(*mp_interrupt_mask_word(kNode, 0), 0u);
    EXPECT_EQ(mp_sys_sema_wait(kNode, 45), -1);
}

TEST_F(HwLockTest, DriverSignalThatNeverBecomesReadyTimesOut)
{
    mp_interrupt_set_signal(kNode, 50, 2);
    EXPECT_EQ(mp_sys_sema_wait(kNode, 50), -1);
    EXPECT_EQ(mp_interrupt_take_pending(kNode, 50), 0);
    EXPECT_EQ(g_record.signalTable[50 * 4 + 2], 1);
}

TEST_F(HwLockTest, DriverSignalIsAnsweredByTheBoardDriver)
{
    mp_interrupt_set_signal(kNode, 33, 33);
    EXPECT_EQ(mp_sys_sema_check(kNode, 33), 0);
    BoardSim::instance().signalDriverSemaphore(0, 33);
    EXPECT_EQ(mp_sys_sema_check(kNode, 33), 1);
    EXPECT_EQ(mp_interrupt_check(kNode), 0);
    EXPECT_EQ(mp_sys_sema_signal(kNode, 33), 0);
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 1u);
}

class KernelTest : public HwLockTest {
protected:
    void SetUp() override
    {
        HwLockTest::SetUp();
        ASSERT_EQ(TaskInitTasking(), 1);
        TaskSetMsgRoute(kNode, -1);
    }
    void TearDown() override
    {
        TaskExitTasking();
        HwLockTest::TearDown();
    }
};

TEST_F(KernelTest, InterruptAllocOpensAndBindsTheStartSignals)
{
    Use(true, true);
    SetReg(kOrloInterruptSet, 0x80000011u);
    SetReg(kOrloMemControl, 0x7u << 17 | 1u << 22);
    SetReg(kOrloTimerControl, 0x80001000u);
    EXPECT_EQ(mp_interrupt_alloc(kNode), 0);
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 37), static_cast<int32_t>(kSignalSemaBase + 0));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 69), static_cast<int32_t>(kSignalSemaBase + 1));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 42), static_cast<int32_t>(kSignalSemaBase + 2));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 51), static_cast<int32_t>(kSignalSemaBase + 4));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 39), static_cast<int32_t>(kSignalSemaBase + 26));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 107), static_cast<int32_t>(kSignalSemaBase + 28));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 125), static_cast<int32_t>(kSignalSemaBase + 40));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 0), -1);
    // Registers of a host-served node are cleared; bits 31 and 0 of 0x2030 survive.
    EXPECT_EQ(Reg(kOrloInterruptSet), 0x80000001u);
    EXPECT_EQ(Reg(kOrloMemControl), 1u << 21);
    EXPECT_EQ(Reg(kOrloTimerControl), 0u);
    // A task semaphore signal is waited on through the kernel.
    EXPECT_EQ(mp_sys_sema_check(kNode, 37), 0);
    EXPECT_EQ(mp_sys_sema_signal(kNode, 37), 0);
    EXPECT_EQ(mp_sys_sema_check(kNode, 37), 1);
    EXPECT_EQ(mp_interrupt_take_pending(kNode, 37), 1);
}

// Node state word 277: 1 leaves every interrupt register as it is (nor is the hardware
// lock touched); any other value lets the start-up clear them.
TEST_F(KernelTest, InterruptAllocWithWord277SetLeavesTheRegistersAlone)
{
    Use(true, true);
    g_nodeState.keepInterrupts = 1;
    SetReg(kOrloInterruptSet, 0x80000011u);
    SetReg(kOrloTimerControl, 0x80001000u);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_interrupt_alloc(kNode), 0);
    for (const auto& a : BoardSim::instance().trace())
        EXPECT_FALSE(a.op == HwOp::Write && (a.area == HwArea::PrimaryRegs || a.area == HwArea::DisplayRegs))
            << "write of 0x" << std::hex << a.value << " to 0x" << a.offset;
    EXPECT_EQ(Reg(kOrloInterruptSet), 0x80000011u);
    EXPECT_EQ(Reg(kOrloTimerControl), 0x80001000u);
    // The signals are opened all the same.
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 37), static_cast<int32_t>(kSignalSemaBase + 0));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 69), static_cast<int32_t>(kSignalSemaBase + 1));
}

TEST_F(KernelTest, InterruptAllocWithWord277NotOneClearsTheRegisters)
{
    for (uint32_t word : {0u, 2u}) {
        Use(true, false);
        g_nodeState.keepInterrupts = word;
        SetReg(kOrloInterruptSet, 0x80000011u);
        SetReg(kOrloTimerControl, 0x80001000u);
        BoardSim::instance().setTracing(true);
        EXPECT_EQ(mp_interrupt_alloc(kNode), 0);
        EXPECT_EQ(Writes(kOrloInterruptClear), (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu})) << "word " << word;
        EXPECT_EQ(Writes(kOrloInterruptSet), (std::vector<uint32_t>{0x80000001u})) << "word " << word;
        EXPECT_EQ(Writes(kOrloTimerControl), (std::vector<uint32_t>{0u})) << "word " << word;
        EXPECT_EQ(Reg(kOrloTimerControl), 0u) << "word " << word;
        BoardSim::instance().setTracing(false);
    }
}

TEST_F(KernelTest, BoardProcessorNodesKeepRegistersAndSkipHostOnlySignals)
{
    g_nodeState.started = 1;
    SetReg(kOrloTimerControl, 0x80001000u);
    EXPECT_EQ(mp_interrupt_alloc(kNode), 0);
    EXPECT_EQ(Reg(kOrloTimerControl), 0x80001000u);
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 37), static_cast<int32_t>(kSignalSemaBase));
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 42), -1);
    EXPECT_EQ(mp_interrupt_get_signal(kNode, 69), -1) << "no display Orlo";
}

// ---------------------------------------------------------------- time

TEST_F(HwLockTest, ClockOutsideAKernelIsTheMachineClock)
{
    SetReg(kOrloTimerControl, 0x80001000u);
    const double before = boardsim::BoardSim::instance().now();
    const double t = mp_time_clock(0.0);
    EXPECT_GE(t, before);
    EXPECT_LT(t - before, 1.0);
    EXPECT_NEAR(mp_time_clock(t), 0.0, 1.0);
}

TEST_F(KernelTest, ClockOnTheBoardTimer)
{
    SetReg(kOrloTimerControl, 0x80000000u | 1000);
    SetReg(kOrloTimerCounter, 400);
    const double t = mp_time_clock(0.0);
    EXPECT_DOUBLE_EQ(t, 600.0 / 50000000.0);
    EXPECT_EQ(mp_time_prev_time(), 0.0) << "a zero start leaves the previous time";
    EXPECT_DOUBLE_EQ(mp_time_clock(1e-6), 600.0 / 50000000.0 - 1e-6);
    EXPECT_DOUBLE_EQ(mp_time_prev_time(), 600.0 / 50000000.0);
    // A pending timer interrupt is cleared around the reads and set again.
    SetReg(kOrloInterruptSet, 1);
    BoardSim::instance().setTracing(true);
    mp_time_clock(0.0);
    EXPECT_EQ(Writes(kOrloInterruptClear), std::vector<uint32_t>{1});
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{1});
}

TEST_F(KernelTest, BoardProcessorClockUsesTheNodesTimerFrequency)
{
    g_nodeState.started = 1;
    g_nodeState.cpuFrequency = 1000;
    SetReg(kOrloTimerControl, 0x80000000u | 100);
    SetReg(kOrloTimerCounter, 50);
    EXPECT_DOUBLE_EQ(mp_time_clock(0.0), 0.05);
}

TEST_F(KernelTest, ClockStaysMonotonicWhenTheBoardTimerGoesBack)
{
    SetReg(kOrloTimerControl, 0x80000000u | 1000);
    SetReg(kOrloTimerCounter, 100);
    const double first = mp_time_clock(1e-9) + 1e-9;
    SetReg(kOrloTimerCounter, 900);
    EXPECT_DOUBLE_EQ(mp_time_clock(1e-9) + 1e-9, first);
    mp_time_reset_prev_time();
    EXPECT_EQ(mp_time_prev_time(), 0.0);
}

TEST_F(HwLockTest, CpuFrequencyFromTheFirstNode)
{
    EXPECT_EQ(mp_time_cpu_frequency(), 1000.0);
    g_nodeState.orlo[0].present = 1;
    g_nodeState.cpuFrequency = 40000000;
    SetReg(kOrloTimerControl, 0x80000000u);
    EXPECT_EQ(mp_time_cpu_frequency(), 1000.0) << "a zero period is not a running timer";
    SetReg(kOrloTimerControl, 0x80000010u);
    EXPECT_EQ(mp_time_cpu_frequency(), 40000000.0);
}

TEST_F(HwLockTest, SleepOfZeroMakesOneRound)
{
    const double start = mp_time_clock(0.0);
    mp_time_sleep(0.0);
    mp_time_sleep(0.0005);
    EXPECT_LT(mp_time_clock(start), 1.0);
}

TEST_F(HwLockTest, ExternalInterruptRegisters)
{
    BoardSim::instance().setTracing(true);
    disableExtInt(kNode);
    enableExtInt(kNode);
    EXPECT_EQ(Writes(kOrloInterruptClear), std::vector<uint32_t>{1});
    EXPECT_EQ(Writes(kOrloInterruptSet), std::vector<uint32_t>{1});
}

TEST_F(HwLockTest, HooksReachTheCoreFunctions)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    EXPECT_EQ(hooks.lockCheck(&g_record), 0);
    EXPECT_EQ(hooks.lockCheck(&g_record), 1);
    hooks.lockReset(&g_record);
    EXPECT_EQ(Reg(kOrloLock), 0u);
    hooks.setSignal(kNode, 38, 4);
    EXPECT_EQ(hooks.getSignal(kNode, 38), 4);
    EXPECT_EQ(hooks.interruptSend(kNode), 1);
    EXPECT_EQ(hooks.nodeResource(kNode), &g_record) << "other members are kept";
    EXPECT_EQ(mp_sys_timeout(2), 0.02);
}

} // namespace
