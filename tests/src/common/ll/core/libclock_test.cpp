// The library's clock and sleep on the machine's clock: under a virtual clock a sleep of
// seconds ends at once with the machine's events run on the way; on a free-running
// clock they follow real time.
#include "hlc_wiring.h"
#include "boardsim.h"
#include "hwlock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using boardsim::BoardSim;
using boardsim::ClockMode;
using boardsim::Topology;

namespace {

class LibraryClockTest : public ::testing::Test {
protected:
    void SetUp() override { HlcWireLibrary(); }
    void Use(ClockMode mode)
    {
        Topology t;
        t.clock = mode;
        BoardSim::instance().configure(t);
    }
    void TearDown() override { BoardSim::instance().configure(); }
};

TEST_F(LibraryClockTest, SleepOfSecondsEndsAtOnceOnTheVirtualClock)
{
    Use(ClockMode::Virtual);
    std::vector<double> seen;
    BoardSim::instance().after(0.5, "retrace", [&] { seen.push_back(BoardSim::instance().now()); });
    BoardSim::instance().after(1.5, "thread stop", [&] { seen.push_back(BoardSim::instance().now()); });
    const auto real = std::chrono::steady_clock::now();
    const double start = mp_time_clock(0.0);
    mp_time_sleep(2.0);
    const double slept = mp_time_clock(start);
    EXPECT_GE(slept, 2.0);
    EXPECT_LT(slept, 2.0 + 1e-3);
    EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::seconds(1));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NEAR(seen[0], start + 0.5, 1e-5);
    EXPECT_NEAR(seen[1], start + 1.5, 1e-5);
}

TEST_F(LibraryClockTest, ZeroSleepIsOneRoundOfOneTick)
{
    Use(ClockMode::Virtual);
    const double start = mp_time_clock(0.0);
    mp_time_sleep(0.0);
    EXPECT_NEAR(mp_time_clock(start), 0.001, 1e-5);
    // A short sleep still waits its whole time.
    const double again = mp_time_clock(0.0);
    mp_time_sleep(0.0005);
    EXPECT_GE(mp_time_clock(again), 0.0005);
}

TEST_F(LibraryClockTest, ClockReadsOnTheVirtualClockAreRepeatable)
{
    std::vector<double> runs;
    for (int run = 0; run < 2; ++run) {
        Use(ClockMode::Virtual);
        mp_time_sleep(0.25);
        runs.push_back(mp_time_clock(0.0));
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST_F(LibraryClockTest, FreeRunningClockFollowsRealTime)
{
    Use(ClockMode::FreeRunning);
    const auto real = std::chrono::steady_clock::now();
    const double start = mp_time_clock(0.0);
    mp_time_sleep(0.02);
    EXPECT_GE(mp_time_clock(start), 0.02);
    EXPECT_GE(std::chrono::steady_clock::now() - real, std::chrono::milliseconds(19));
}

} // namespace
