// The timer server task: choosing the Orlo, starting its timer through the accessor
// layer and turning interrupts into ticks; the library clock running on that timer.

#include "task.h"
#include "task_globals.h"
#include "timer.h"
#include "timersrv.h"

#include "boardsim.h"
#include "device.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regmap/driver_requests.h"
#include "../../../platform/board/irqwait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;

namespace {

constexpr uint32_t kNode = 0x11;

// A node as the timer server sees it, with the Orlo register windows of the simulated
// board.
struct FakeNode {
    uint32_t frequency = 0;
    bool primary = true;
    bool display = false;
    uint32_t primaryRegs = 0;
    uint32_t displayRegs = 0;
    bool mapped = true;
    uint32_t primaryTicks = 0, primaryPending = 0;
    uint32_t displayTicks = 0, displayPending = 0;
    uint32_t* running = nullptr;
    uint32_t ownRunning = 0;
    int32_t signal = -1;
    int askedSource = -1;
    int resets = 0;
};

FakeNode* gNode = nullptr;

bool Describe(void* record, TimerServerNode* out) {
    FakeNode* n = static_cast<FakeNode*>(record);
    if (!n) return false;
    out->frequency = &n->frequency;
    out->primaryPresent = n->primary;
    out->displayPresent = n->display;
    out->primaryRegisters = n->mapped ? n->primaryRegs : 0;
    out->displayRegisters = n->mapped ? n->displayRegs : 0;
    out->primaryTickCounter = &n->primaryTicks;
    out->primaryPendingTicks = &n->primaryPending;
    out->displayTickCounter = &n->displayTicks;
    out->displayPendingTicks = &n->displayPending;
    out->timerRunning = n->running ? n->running : &n->ownRunning;
    out->getSignal = [](void* r, int source) {
        FakeNode* node = static_cast<FakeNode*>(r);
        node->askedSource = source;
        return node->signal;
    };
    out->resetPreviousTime = [] {
        ++gNode->resets;
        mp_time_reset_prev_time();
    };
    return true;
}

class TimerServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        boardsim::Topology t;
        t.clock = boardsim::ClockMode::Virtual;
        t.boards[0].displayOrlo = true;
        BoardSim::instance().configure(t);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        node_.primaryRegs = Map(HLC_REGION_PRIMARY);
        node_.displayRegs = Map(HLC_REGION_DISPLAY);
        ASSERT_TRUE(node_.primaryRegs && node_.displayRegs);
        BoardSim::instance().setTracing(true);
        ASSERT_EQ(TaskInitTasking(), 1);
        TimerSetServerNodeHook(Describe);
        gNode = &node_;
    }
    void TearDown() override {
        EXPECT_EQ(TaskExitTasking(), 1);
        TimerSetServerNodeHook(nullptr);
        words_.reset();
        board_.reset();
        mp_core_forget_nodes();
        mp_time_reset_prev_time();
        if (device_ != kInvalidDevice) DeviceClose(device_);
        BoardSim::instance().configure();
    }
    uint32_t Map(uint32_t region) {
        uint32_t request[5] = {0, kNode, region, kOrloRegisterSize, kOrloRegisterOffset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(device_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    // Starts the server as node start-up does: priority 30, 4096-byte stack.
    int32_t StartServer() {
        int32_t t = TaskCreate(-1, MpTimerServer, &node_, 30, 4096);
        EXPECT_NE(t, -1);
        TaskResume(t);
        return t;
    }
    bool Alive(int32_t task) { return TaskGetNodeTaskGlobals()->taskTable[task & 0xFFFF] != nullptr; }
    // The library's writes to one Orlo's registers, as {offset, value}.
    std::vector<std::pair<uint32_t, uint32_t>> Writes(HwArea area) const {
        std::vector<std::pair<uint32_t, uint32_t>> writes;
        for (const auto& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && a.area == area) writes.emplace_back(a.offset, a.value);
        return writes;
    }
    static std::vector<std::pair<uint32_t, uint32_t>> StartWrites(uint32_t reload) {
        return {{kOrloTimerCounter, reload},
                {kOrloTimerControl, reload},
                {kOrloTimerControl, reload},
                {kOrloTimerControl, reload | kTimerControlRun}};
    }

    FakeNode node_;
    DeviceHandle device_ = kInvalidDevice;
    std::unique_ptr<boardtest::InterruptWords> words_;
    std::optional<HlcBoardHookOverride> board_;
};

TEST_F(TimerServerTest, StartsThePrimaryOrlosTimerAndCountsInterrupts) {
    node_.signal = TaskOpenSema(-1, 0);
    int32_t server = StartServer();
    ASSERT_TRUE(Alive(server));   // waiting for the first interrupt
    EXPECT_EQ(node_.askedSource, 42);
    EXPECT_EQ(node_.frequency, 50000000u);
    EXPECT_EQ(Writes(HwArea::PrimaryRegs), StartWrites(50000000u));
    EXPECT_TRUE(Writes(HwArea::DisplayRegs).empty());
    EXPECT_EQ(BoardSim::instance().orlo(0).reg(kOrloTimerControl), 50000000u | 0x80000000u);
    EXPECT_EQ(node_.primaryPending, 1u);
    EXPECT_EQ(node_.primaryTicks, 0u);
    EXPECT_EQ(node_.ownRunning, 1u);
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

TEST_F(TimerServerTest, ReloadIsTheFrequencyRoundedWhereItsDoubleInverseTruncatesShort) {
    // In double arithmetic 1 / (1 / 33e6) lies just below 33e6: truncated, the timer would
    // run one tick short of the frequency.
    volatile double inverse = 1.0 / 33000000.0;
    volatile double back = 1.0 / inverse;
    ASSERT_EQ(static_cast<uint32_t>(back), 32999999u);
    for (uint32_t f : {33000000u, 49u, 66666666u, 0x80000000u + 7u}) {
        SCOPED_TRACE(f);
        BoardSim::instance().clearTrace();
        node_.frequency = f;
        node_.primaryPending = 0;
        node_.signal = TaskOpenSema(-1, 0);
        StartServer();
        EXPECT_EQ(Writes(HwArea::PrimaryRegs), StartWrites(f & 0x7FFFFFFFu));
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
    EXPECT_EQ(Writes(HwArea::DisplayRegs), StartWrites(50000000u));
    EXPECT_TRUE(Writes(HwArea::PrimaryRegs).empty());
    TaskSignalSema(node_.signal);
    EXPECT_EQ(node_.displayTicks, 1u);
    EXPECT_EQ(node_.primaryTicks, 0u);
}

TEST_F(TimerServerTest, InvalidSignalStopsTheTimerRegistersAndEnds) {
    BoardSim::instance().orlo(0).setReg(kOrloTimerCounter, 0xFFFFFFFFu);
    BoardSim::instance().orlo(0).setReg(kOrloTimerControl, 0x7FFFFFFFu);
    node_.signal = static_cast<int32_t>(0xFE0003FF);   // not open
    int32_t server = StartServer();
    EXPECT_FALSE(Alive(server));
    EXPECT_EQ(Writes(HwArea::PrimaryRegs),
              (std::vector<std::pair<uint32_t, uint32_t>>{{kOrloTimerCounter, 0}, {kOrloTimerControl, 0}}));
    EXPECT_EQ(BoardSim::instance().orlo(0).reg(kOrloTimerCounter), 0u);
    EXPECT_EQ(BoardSim::instance().orlo(0).reg(kOrloTimerControl), 0u);
    EXPECT_EQ(node_.ownRunning, 0u);
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
    EXPECT_TRUE(BoardSim::instance().trace().empty());
    EXPECT_EQ(node_.ownRunning, 0u);
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

// The node record and state of a host-served node with a primary Orlo.
_NODE_MAIN_RESOURCE_ST g_record;
_NODE_ST g_state;
_NODE_ST g_host;

TEST_F(TimerServerTest, LibraryClockAdvancesWithTheSimulatedTimer) {
    BoardSim& sim = BoardSim::instance();
    g_record = _NODE_MAIN_RESOURCE_ST{};
    g_record.nodeNumber = kNode;
    g_record.primaryRegs = node_.primaryRegs;
    g_state = _NODE_ST{};
    g_state.orlo[0].present = 1;
    g_record.nodeState = &g_state;
    g_host = _NODE_ST{};
    g_host.own.next = &g_record;
    // The library's own wiring describes the node to the timer server.
    HlcWireLibrary();
    board_.emplace();
    board_->table.nodeResource = [](uint32_t node) { return node == kNode ? &g_record : nullptr; };
    board_->table.hostNodeState = [] { return &g_host; };
    ASSERT_EQ(board_->Install(), 0);
    ASSERT_EQ(TaskSetMsgRoute(kNode, -1), 1);   // the kernel serves the node
    const int32_t signal = TaskOpenSema(-1, 0);
    ASSERT_EQ(mp_interrupt_set_signal(kNode, kTimerSourcePrimary, signal), 0);
    words_.reset(new boardtest::InterruptWords(device_));
    ASSERT_TRUE(words_->enable(kTimerSourcePrimary));

    const int32_t server = TaskCreate(-1, MpTimerServer, &g_record, 30, 4096);
    ASSERT_NE(server, -1);
    TaskResume(server);
    ASSERT_TRUE(Alive(server));
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(&g_state)[278], 1u);   // the node's timer runs
    EXPECT_EQ(Writes(HwArea::PrimaryRegs), StartWrites(50000000u));
    const double start = sim.now();

    // Serves the interrupt words the driver delivered as the interrupt process thread
    // does: the special word of the timer source signals the signal bound to it.
    const uint32_t special = 0x80000000u | (1u << 22) | (1u << (kTimerSourcePrimary - 32));
    auto serve = [&] {
        for (uint32_t word : words_->take())
            if (word == special) mp_sys_sema_signal(kNode, kTimerSourcePrimary);
    };
    for (double at : {0.25, 0.75, 1.5, 2.25, 3.0001}) {
        SCOPED_TRACE(at);
        sim.advance(start + at - sim.now());
        serve();
        // The clock's own register reads take machine time: it reads a time between.
        const double before = sim.now() - start;
        const double t = mp_time_clock(0.0);
        EXPECT_GE(t, before - 1e-9);
        EXPECT_LE(t, sim.now() - start + 1e-9);
        EXPECT_EQ(TimerGetClock(), static_cast<int32_t>(at));
    }
    // With a start time the clock measures the time spent since.
    const double mark = mp_time_clock(0.0);
    sim.advance(0.5);
    serve();
    EXPECT_NEAR(mp_time_clock(mark), 0.5, 1e-5);
    TaskCloseSema(signal);
    EXPECT_FALSE(Alive(server));
}

} // namespace
