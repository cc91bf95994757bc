// The vertical-retrace wait runs on the library clock: on a virtual clock a retrace that
// never comes costs its full wait of machine time and almost no real time.
#include "dispreg.h"
#include "disptest.h"
#include "regmap/display_regs.h"
#include "videomode.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using boardsim::ClockMode;
using boardsim::DacPll;
using boardsim::HwAccess;
using boardsim::HwArea;
using boardsim::VgaGroup;
using disptest::kNode;
using Clock = std::chrono::steady_clock;

// Hides the retrace bit until the machine's clock reaches `from` seconds.
void HideRetraceUntil(double from)
{
    boardsim::BoardSim::instance().setReadFilter([from](const HwAccess& a) {
        if (a.area == HwArea::ChipRegs && a.offset == PYX_STATUS && boardsim::BoardSim::instance().now() < from)
            return a.value & ~PYX_STATUS_RETRACE;
        return a.value;
    });
}

double RealSeconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The display fixture on a free-running clock, its read filter dropped afterwards.
class RetraceWaitRealTimeTest : public disptest::DisplayTest {
protected:
    void TearDown() override
    {
        sim().setReadFilter(nullptr);
        DisplayTest::TearDown();
    }
};

class RetraceWaitTest : public RetraceWaitRealTimeTest {
protected:
    RetraceWaitTest() { clock_ = ClockMode::Virtual; }
};

TEST_F(RetraceWaitTest, RetraceThatNeverComesFailsAfterOneSecondOfMachineTime)
{
    HideRetraceUntil(1e9);
    const double start = sim().now();
    const Clock::time_point real = Clock::now();
    EXPECT_EQ(HlcPyxWaitVerticalRetrace(kNode), 0);
    const double waited = sim().now() - start;
    EXPECT_GE(waited, 1.0);
    EXPECT_LT(waited, 1.01);   // the last step is one shortest sleep at most
    EXPECT_LT(RealSeconds(real), 1.0);
}

TEST_F(RetraceWaitTest, RetraceSeenEndsTheWaitWhenItComes)
{
    // Present at once: no sleep at all.
    double start = sim().now();
    EXPECT_EQ(HlcPyxWaitVerticalRetrace(kNode), 1);
    EXPECT_LT(sim().now() - start, 0.001);

    // Coming after 0.4 s of machine time: the wait ends within one sleep step of it.
    start = sim().now();
    HideRetraceUntil(start + 0.4);
    EXPECT_EQ(HlcPyxWaitVerticalRetrace(kNode), 1);
    const double waited = sim().now() - start;
    EXPECT_GE(waited, 0.4);
    EXPECT_LT(waited, 0.41);
}

TEST_F(RetraceWaitTest, ModeSetWithoutRetraceStillProgramsTheChipAfterTwoWaits)
{
    TVIDEO_PARAM mode{};
    const int32_t sequencer[5] = {0x03, 0x21, 0x0F, 0x00, 0x0E};
    for (int i = 0; i < 5; ++i) mode.Sequencer[i] = sequencer[i];
    for (int i = 0; i < 25; ++i) mode.Crtc[i] = 0x40 + i;
    mode.Mclk[0] = 35, mode.Mclk[1] = 48 | 0x80, mode.Mclk[2] = 3;
    mode.Pclk[0] = 48, mode.Pclk[1] = 52 | 0xC0, mode.Pclk[2] = 1;
    mode.Lclk[0] = 0x3D, mode.Lclk[1] = 0xF1, mode.Lclk[2] = 2;
    for (int i = 0; i < 18; ++i) mode.Tvp[i] = kTvpNotGiven;
    HideRetraceUntil(1e9);
    const double start = sim().now();
    const Clock::time_point real = Clock::now();
    HlcPyxSetVideoParam(kNode, &mode);
    const double waited = sim().now() - start;
    // One wait before the registers and one after them, 1 s each.
    EXPECT_GE(waited, 2.0);
    EXPECT_LT(waited, 2.05);
    EXPECT_LT(RealSeconds(real), 1.5);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1), 0x21);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x13), 0x53);
}

// The clock PLLs wait on the same clock: 10 ms before the first status read, then 1000
// reads 10 microseconds apart.
TEST_F(RetraceWaitTest, PllThatNeverLocksFailsAfterItsPausesOfMachineTime)
{
    sim().chip(0).setPllLocks(DacPll::Memory, false);
    const double start = sim().now();
    const Clock::time_point real = Clock::now();
    EXPECT_EQ(HlcDacWaitPllLock(kNode, PLL_MEMORY), 2u);
    const double waited = sim().now() - start;
    EXPECT_GE(waited, 0.010 + 1000 * 10e-6);
    EXPECT_LT(waited, 1.1);   // each pause is one shortest sleep of the machine at most
    EXPECT_LT(RealSeconds(real), 5.0);

    // Setting the clock adds its closing pause of 10 ms.
    const double before = sim().now();
    EXPECT_EQ(HlcDacSetClk(kNode, 0x55, 75000, 8, 0), 1u);   // no such PLL: only the pause
    EXPECT_GE(sim().now() - before, 0.010);
    EXPECT_LT(sim().now() - before, 0.02);
}

TEST_F(RetraceWaitRealTimeTest, FreeRunningClockWaitsOneRealSecond)
{
    HideRetraceUntil(1e9);
    const Clock::time_point real = Clock::now();
    EXPECT_EQ(HlcPyxWaitVerticalRetrace(kNode), 0);
    const double waited = RealSeconds(real);
    EXPECT_GE(waited, 0.99);
    EXPECT_LT(waited, 3.0);
}

} // namespace
