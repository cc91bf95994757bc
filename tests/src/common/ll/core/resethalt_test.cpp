// Reset and halt of the simulated board processor: the states are followed from the first
// pulse to the halt of the second.
#include "hlc_wiring.h"
#include "boardsim.h"
#include "driverreq.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "nodelist.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

constexpr uint32_t kNode = 0x11;

class ResetHaltTest : public ::testing::Test {
protected:
    void SetUp() override { HlcWireLibrary(); }
    void Use(bool processor)
    {
        Topology t;
        t.boards[0].processor = processor;
        BoardSim::instance().configure(t);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        record_ = _NODE_MAIN_RESOURCE_ST{};
        record_.nodeNumber = kNode;
        record_.device = device_;
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &record_.primaryRegs));
    }
    void TearDown() override
    {
        if (device_ != kInvalidDevice) DeviceClose(device_);
        BoardSim::instance().configure();
    }
    static size_t StateReads()
    {
        const auto trace = BoardSim::instance().trace();
        return size_t(std::count_if(trace.begin(), trace.end(), [](const boardsim::HwAccess& a) {
            return a.op == HwOp::Read && a.area == HwArea::PrimaryRegs && a.offset == kOrloMemControl;
        }));
    }
    DeviceHandle device_ = kInvalidDevice;
    _NODE_MAIN_RESOURCE_ST record_{};
};

TEST_F(ResetHaltTest, ProcessorIsFollowedThroughItsStatesAndHalted)
{
    Use(true);
    BoardSim::instance().setTracing(true);
    mp_sys_rst_hlt_board(&record_);
    EXPECT_EQ((HwRead32(record_.primaryRegs, kOrloMemControl) >> 8) & 0xF, 11u);
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 2u);
    // 4 to 10 at four reads a state, the 1,000 reads that find 10 stable, then one read
    // past the second pulse: the 10,000-read wait never runs to its limit.
    EXPECT_GT(StateReads(), 1000u);
    EXPECT_LT(StateReads(), 1100u);
    EXPECT_EQ(HwRead32(record_.primaryRegs, kOrloMemControl) & kMemControlCpuReset, 0u);   // reset released
}

TEST_F(ResetHaltTest, BoardWithoutProcessorIsQuietedAndItsLockReleased)
{
    Use(false);
    HwWrite32(record_.primaryRegs, kOrloLock, 1);
    BoardSim::instance().setTracing(true);
    mp_sys_rst_hlt_board(&record_);
    EXPECT_EQ(HwRead32(record_.primaryRegs, kOrloLock), 0u);
    EXPECT_LE(StateReads(), 1u);   // the reset step reads the word once; no states are followed
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 1u);   // the reset bit of the first step
}

}  // namespace
