// The machine's clock: events at their scheduled virtual times in one order, the Orlo
// timer and scheduled interrupts on that clock, the bus time of accesses, the library's
// clock and sleep on it, and a fresh machine (clock, state) on every configure.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <stdexcept>
#include <string>
#include <vector>

using namespace boardsim;

namespace {

Topology VirtualBoard()
{
    Topology t;
    t.clock = ClockMode::Virtual;
    return t;
}

class SimClockTest : public ::testing::Test {
protected:
    void SetUp() override { BoardSim::instance().configure(VirtualBoard()); }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSim::instance().configure();
    }
    DeviceHandle Node()
    {
        if (node_ == kInvalidDevice) node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        return node_;
    }
    uint32_t Registers()
    {
        uint32_t request[5] = {0, 0x11, HLC_REGION_PRIMARY, kOrloRegisterSize, kOrloRegisterOffset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(Node(), HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    // Enables a source and pends the interrupt-word wait on it.
    void PendWait(uint32_t source, uint32_t* buffer, DeviceOverlapped* overlapped)
    {
        uint32_t enable[2] = {source, 1};
        uint32_t bytes = 0;
        ASSERT_EQ(DeviceIoControl(Node(), HLC_DRV_SOURCE_ENABLE, enable, 8, enable, 8, &bytes, nullptr), kDeviceDone);
        buffer[0] = source;
        ASSERT_EQ(DeviceIoControl(Node(), HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, HLC_WAIT_BUFFER_BYTES, &bytes,
                                  overlapped),
                  kDevicePending);
    }

    DeviceHandle node_ = kInvalidDevice;
};

// Schedules a fixed set of events and returns what ran, with the times.
std::vector<FiredEvent> RunSchedule(std::vector<std::string>* order)
{
    BoardSim& sim = BoardSim::instance();
    sim.configure(VirtualBoard());
    sim.after(0.5, "b", [order] { order->push_back("b"); });
    sim.after(0.25, "a", [order] { order->push_back("a"); });
    sim.after(0.5, "c", [order] { order->push_back("c"); });       // same time: after b
    sim.after(2.0, "late", [order] { order->push_back("late"); });
    sim.advance(1.0);
    EXPECT_DOUBLE_EQ(sim.now(), 1.0);
    EXPECT_EQ(*order, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(sim.runUntilIdle(), 1);
    EXPECT_DOUBLE_EQ(sim.now(), 2.0);
    return sim.events();
}

TEST_F(SimClockTest, EventsRunAtTheirVirtualTimesInTheSameOrderOnEveryRun)
{
    std::vector<std::string> first, second;
    const std::vector<FiredEvent> one = RunSchedule(&first);
    const std::vector<FiredEvent> two = RunSchedule(&second);
    const std::vector<FiredEvent> expected{{0.25, "a"}, {0.5, "b"}, {0.5, "c"}, {2.0, "late"}};
    EXPECT_EQ(one, expected);
    EXPECT_EQ(two, expected);
    EXPECT_EQ(first, second);
}

TEST_F(SimClockTest, AnEventScheduledByAnEventRunsInTheSameAdvance)
{
    BoardSim& sim = BoardSim::instance();
    std::vector<double> times;
    sim.after(0.1, "first", [&] {
        times.push_back(sim.now());
        sim.after(0.1, "second", [&] { times.push_back(sim.now()); });
    });
    sim.advance(0.3);
    EXPECT_EQ(times, (std::vector<double>{0.1, 0.2}));
    EXPECT_EQ(sim.runUntilIdle(), 0);
}

TEST_F(SimClockTest, ScheduledInterruptCompletesThePendedWaitAtItsTime)
{
    BoardSim& sim = BoardSim::instance();
    uint32_t buffer[HLC_WAIT_BUFFER_BYTES / 4] = {};
    DeviceEvent done(true, false);
    DeviceOverlapped overlapped;
    overlapped.event = &done;
    PendWait(40, buffer, &overlapped);
    const double at = sim.now() + 0.003;
    sim.interruptAfter(0.003, 0, 40);
    sim.advance(0.002);
    EXPECT_FALSE(done.isSet());
    sim.advance(0.002);
    ASSERT_TRUE(done.isSet());
    EXPECT_EQ(buffer[1], 1u);
    EXPECT_EQ(buffer[2], (1u << 22) | (1u << 8));   // group 1, bit 8: source 40
    ASSERT_EQ(sim.events().size(), 1u);
    EXPECT_NEAR(sim.events()[0].seconds, at, 1e-12);
    EXPECT_EQ(sim.events()[0].name, "interrupt 40 board 0");
}

TEST_F(SimClockTest, RunningOrloTimerRaisesItsSourceOncePerPeriod)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    uint32_t buffer[HLC_WAIT_BUFFER_BYTES / 4] = {};
    DeviceEvent done(true, false);
    DeviceOverlapped overlapped;
    overlapped.event = &done;
    PendWait(kTimerSourcePrimary, buffer, &overlapped);

    const double start = sim.now();
    HwWrite32(regs, kOrloTimerControl, kTimerControlRun | 50000);   // 1 ms at 50 MHz
    sim.advance(0.0035);
    ASSERT_TRUE(done.isSet());
    EXPECT_EQ(buffer[1], 2u);   // the wait took the first tick's two words; the next ones queue
    EXPECT_EQ(buffer[2], 0x80000000u | (1u << 22) | (1u << 10));   // special word of source 42
    EXPECT_EQ(buffer[3], (1u << 22) | (1u << 10));
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet) & kInterruptTimer, kInterruptTimer);
    const std::vector<FiredEvent> ticks = sim.events();
    ASSERT_EQ(ticks.size(), 3u);
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i].name, "primary timer");
        EXPECT_NEAR(ticks[i].seconds - start, 0.001 * (i + 1), 1e-5);
    }
    // Stopping the timer cancels the ticks still scheduled.
    HwWrite32(regs, kOrloTimerControl, 0);
    sim.advance(0.01);
    EXPECT_EQ(sim.events().size(), 3u);
}

// One session of the board's own events on a fresh machine: the Orlo timer (100 us
// period), a VM send and a doorbell (each taken 2 us after its write), and an interrupt
// scheduled by the test at 150 us.  Returns the machine's log and, per event, the time
// it was due at as the test worked it out from the moment of the write or schedule.
struct Session {
    std::vector<FiredEvent> log;
    std::vector<double> due;
};

Session RunBoardEvents(uint32_t regs)
{
    BoardSim& sim = BoardSim::instance();
    Session s;
    const double timerStart = sim.now();
    HwWrite32(regs, kOrloTimerControl, kTimerControlRun | 5000);   // 100 us at 50 MHz
    HwWrite32(regs, kOrloVmCommand, 0xC1);
    const double sent = sim.now();
    HwWrite32(regs, kOrloVpControl, kVmControlSend);
    const double rung = sim.now();
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
    const double scheduled = sim.now();
    sim.interruptAfter(150e-6, 0, 40);
    sim.advance(250e-6 - (sim.now() - timerStart));
    HwWrite32(regs, kOrloTimerControl, 0);
    s.log = sim.events();
    s.due = {rung, sent + 2e-6, timerStart + 100e-6, scheduled + 150e-6, timerStart + 200e-6};
    return s;
}

TEST_F(SimClockTest, TimerTransferAndInterruptEventsRunAtTheirTimesInTheSameOrderOnEveryRun)
{
    BoardSim& sim = BoardSim::instance();
    Session first = RunBoardEvents(Registers());
    DeviceClose(node_);
    node_ = kInvalidDevice;
    sim.configure(VirtualBoard());
    Session second = RunBoardEvents(Registers());

    const std::vector<std::string> order{"primary doorbell board 0", "primary VM send", "primary timer",
                                         "interrupt 40 board 0", "primary timer"};
    for (const Session* run : {&first, &second}) {
        ASSERT_EQ(run->log.size(), order.size());
        for (size_t i = 0; i < order.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(run->log[i].name, order[i]);
            // The write that schedules an event takes one access of bus time itself.
            EXPECT_NEAR(run->log[i].seconds, run->due[i], 1.01e-6);
        }
    }
    // Virtual time: both runs are the same to the nanosecond.
    EXPECT_EQ(first.log, second.log);
}

TEST_F(SimClockTest, AccessesAndRequestsSpendBusTime)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    const double before = sim.now();
    for (int i = 0; i < 1000; ++i) HwRead32(regs, kOrloStatus);
    EXPECT_NEAR(sim.now() - before, 1000 * 1e-6, 1e-9);
    const double mid = sim.now();
    uint32_t word = HLC_INTERFACE_MAGIC, bytes = 0;
    ASSERT_EQ(DeviceIoControl(Node(), HLC_DRV_INTERFACE_CHECK, &word, 4, &word, 4, &bytes, nullptr), kDeviceDone);
    EXPECT_NEAR(sim.now() - mid, 10e-6, 1e-9);
}

TEST_F(SimClockTest, ASleepOfSecondsEndsAtOnceUnderTheVirtualClock)
{
    BoardSim& sim = BoardSim::instance();
    const auto real = std::chrono::steady_clock::now();
    const double before = sim.now();
    bool ran = false;
    sim.after(1.0, "during the sleep", [&] { ran = true; });
    HwSleep(2.0);
    EXPECT_TRUE(ran);
    EXPECT_DOUBLE_EQ(sim.now() - before, 2.0);
    HwSleep(0.0);   // a zero sleep is one scheduler tick
    EXPECT_DOUBLE_EQ(sim.now() - before, 2.001);
    EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::seconds(1));
    // Reading the clock takes bus time, so a wait that only polls the clock ends.
    const double t = HwClockSeconds();
    EXPECT_GT(HwClockSeconds(), t);
}

TEST_F(SimClockTest, ConfigureBuildsAFreshMachineWithAFreshClock)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloMailbox, 0x1234);
    sim.after(5.0, "never", nullptr);
    sim.advance(1.0);
    sim.configure(VirtualBoard());
    EXPECT_DOUBLE_EQ(sim.now(), 0.0);
    EXPECT_TRUE(sim.events().empty());
    EXPECT_EQ(sim.runUntilIdle(), 0);   // the old machine's event went with it
    EXPECT_EQ(sim.orlo(0).reg(kOrloMailbox), 0u);
    EXPECT_FALSE(HwIsWindowAddress(regs));
}

TEST_F(SimClockTest, RefusedTopologyLeavesTheCurrentMachineWhole)
{
    BoardSim& sim = BoardSim::instance();
    sim.orlo(0).setReg(kOrloMailbox, 0x5A5A);
    sim.advance(0.5);
    Topology bad = VirtualBoard();
    bad.boards[0].displayChip = true;   // a display chip without the display Orlo
    EXPECT_THROW(sim.configure(bad), std::invalid_argument);
    EXPECT_EQ(sim.orlo(0).reg(kOrloMailbox), 0x5A5Au);
    EXPECT_DOUBLE_EQ(sim.now(), 0.5);
    EXPECT_NE(Registers(), 0u);   // the board device still opens and maps
}

TEST(SimClockFreeRunning, FollowsRealTimeAndRunsEventsOnTheMachinesThread)
{
    BoardSim& sim = BoardSim::instance();
    sim.configure();
    const double before = sim.now();
    DeviceEvent ran(true, false);
    sim.after(0.01, "soon", [&] { ran.set(); });
    EXPECT_TRUE(ran.wait(5000)) << "the machine's thread ran no event";
    EXPECT_GE(sim.now() - before, 0.01);
    ASSERT_EQ(sim.events().size(), 1u);
    EXPECT_EQ(sim.events()[0].name, "soon");
    sim.configure();   // stops the old machine's thread
    EXPECT_TRUE(sim.events().empty());
}


// The free-running machine held by a polling thread: a poll loop sees its N bus times and
// nothing else, whatever the thread and the load; a thread that waits lets time flow.
class SimClockHeldTest : public SimClockTest {
protected:
    void SetUp() override { BoardSim::instance().configure(); }

    // Reads the mailbox until an event kAt of machine time away has changed it; returns
    // the number of reads that saw the change first (the first read holds the time).
    int ReadsUntilTheEvent()
    {
        const uint32_t regs = Registers();
        BoardSim& sim = BoardSim::instance();
        sim.orlo(0).setReg(kOrloMailbox, 0);
        HwRead32(regs, kOrloMailbox);
        sim.after(kAt, "mailbox", [&sim] { sim.orlo(0).setReg(kOrloMailbox, 0x600D); });
        for (int reads = 1; reads <= 100000; ++reads)
            if (HwRead32(regs, kOrloMailbox) == 0x600D) return reads;
        return -1;
    }
    static constexpr double kAt = 300e-6;   // 300 bus times of an access
};

TEST_F(SimClockHeldTest, APollLoopSeesItsBusTimeOnAnyThreadUnderAnyLoad)
{
    const int expected = static_cast<int>(kAt * 1e6 + 0.5) + 1;   // an access takes 1 us of bus time
    EXPECT_EQ(ReadsUntilTheEvent(), expected) << "on the test's thread";
    int onThread = 0;
    std::thread([&] { onThread = ReadsUntilTheEvent(); }).join();
    EXPECT_EQ(onThread, expected) << "on a thread of its own";

    // Every core kept busy by threads that never touch the bus.
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
        load.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    for (int round = 0; round < 5; ++round) EXPECT_EQ(ReadsUntilTheEvent(), expected) << "under load, round " << round;
    stop = true;
    for (std::thread& t : load) t.join();
}

TEST_F(SimClockHeldTest, AThreadThatWaitsLetsTheMachinesTimeFlow)
{
    const uint32_t regs = Registers();
    BoardSim& sim = BoardSim::instance();
    HwRead32(regs, kOrloMailbox);
    EXPECT_EQ(sim.holders(), 1u);

    // A wait of the board's own lets go at once.
    DeviceEvent ran(true, false);
    sim.after(0.005, "in a device wait", [&] { ran.set(); });
    EXPECT_TRUE(ran.wait(5000)) << "the machine's time stood still in a device wait";
    EXPECT_EQ(sim.holders(), 0u);

    // Any other wait: the machine's thread sees that the holder waits.
    HwRead32(regs, kOrloMailbox);
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    sim.after(0.005, "in a plain wait", [&] {
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; }))
        << "the machine's time stood still while its holder waited";
}

} // namespace
