// The display Orlo's restart at the display line on the virtual clock: setting bit 3 of
// its control word raises source 84 once the scan reaches the line register's line, and
// only then; a restart withdrawn before that raises nothing, nor does a silent board or
// the primary Orlo.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

// Machine time of one scan line.
constexpr double kLine = 31778e-9;

class SimDisplayLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Topology t;
        t.clock = ClockMode::Virtual;
        t.boards[0].displayOrlo = true;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        words_ = std::make_unique<InterruptWords>(node_);
        ASSERT_TRUE(words_->enable(kDisplayLineSource));
    }
    void TearDown() override
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSim::instance().configure();
    }
    uint32_t Registers(bool display = true)
    {
        uint32_t request[5] = {0, 0x11, display ? HLC_REGION_DISPLAY : HLC_REGION_PRIMARY, kOrloRegisterSize,
                               kOrloRegisterOffset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    static BoardSim& Sim() { return BoardSim::instance(); }

    DeviceHandle node_ = kInvalidDevice;
    std::unique_ptr<InterruptWords> words_;
};

TEST_F(SimDisplayLineTest, ARestartRaisesSource84WhenTheScanReachesTheLine)
{
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloDisplayLine, 99);
    HwWrite32(regs, kOrloDisplayControl, 0x40 | kDisplayControlRestart);
    Sim().advance(99 * kLine);
    EXPECT_TRUE(words_->take().empty());
    Sim().advance(2 * kLine);
    EXPECT_EQ(words_->take(), SourceWords(kDisplayLineSource));
    EXPECT_EQ(Sim().displayLineInterrupts(0), 1u);
    // Bit 3 written again while set is no new restart.
    HwWrite32(regs, kOrloDisplayControl, 0x40 | kDisplayControlRestart);
    Sim().advance(200 * kLine);
    EXPECT_TRUE(words_->take().empty());
    // Cleared and set again: one more.
    HwWrite32(regs, kOrloDisplayControl, 0x40);
    HwWrite32(regs, kOrloDisplayControl, 0x40 | kDisplayControlRestart);
    Sim().advance(101 * kLine);
    EXPECT_EQ(words_->take(), SourceWords(kDisplayLineSource));
    EXPECT_EQ(Sim().displayLineInterrupts(0), 2u);
}

TEST_F(SimDisplayLineTest, AWithdrawnRestartASilentBoardAndThePrimaryOrloRaiseNothing)
{
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloDisplayLine, 10);
    HwWrite32(regs, kOrloDisplayControl, kDisplayControlRestart);
    HwWrite32(regs, kOrloDisplayControl, 0);
    Sim().advance(50 * kLine);
    EXPECT_TRUE(words_->take().empty());

    Sim().setDisplayLineSilent(0, true);
    HwWrite32(regs, kOrloDisplayControl, kDisplayControlRestart);
    Sim().advance(50 * kLine);
    EXPECT_TRUE(words_->take().empty());
    EXPECT_EQ(Sim().displayLineInterrupts(0), 0u);

    Sim().setDisplayLineSilent(0, false);
    HwWrite32(regs, kOrloDisplayControl, 0);
    HwWrite32(Registers(false), kOrloConfig, kDisplayControlRestart);
    Sim().advance(5000 * kLine);
    EXPECT_TRUE(words_->take().empty());
}

} // namespace
