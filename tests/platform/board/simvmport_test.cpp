// The VM ports of boards of one ring on the virtual clock: a receiver armed first takes
// the sender's lines (dropping its start count at the head of each line), a sender whose
// receiver is not armed waits for one, a reset disarms, and a board outside the ring is
// never a receiver.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

constexpr uint32_t kTiming = 0x3820, kPort = 0x3040;
constexpr uint32_t kHostStart = 0x2888, kHostPitch = 0x2890, kHostPage = 0x2898;
constexpr uint32_t kBoardStart = 0x28D0, kBoardPitch = 0x28D8;
constexpr uint32_t kHStart = 0x3808, kHStop = 0x3810, kFormat = 0x3818, kVStart = 0x3830, kVStop = 0x3838;
constexpr uint32_t kMemoryBase = kPrimaryMemoryTop - 0x400000;
constexpr uint32_t kBoard = kMemoryBase + 0x1000;
constexpr uint32_t kPciReceive = 0x504;                 // kind 5, one transfer
constexpr uint32_t kVmReceive = 0x004, kVmSend = 0x104;  // kinds 0 and 1, one transfer
constexpr uint32_t kXferDone = 48;
constexpr uint32_t kLine = 48, kLines = 3;

class SimVmPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Topology t;
        t.clock = ClockMode::Virtual;
        t.boards.resize(3);
        t.boards[0].vmRing = t.boards[1].vmRing = 1;
        t.service.dmaRegions = {0x100000};
        BoardSim::instance().configure(t);
        for (int b = 0; b < 3; ++b) {
            nodes_[b] = DeviceOpen(BoardSim::instance().boardDeviceName(b).c_str());
            ASSERT_NE(nodes_[b], kInvalidDevice);
            uint32_t request[5] = {0, static_cast<uint32_t>(0x11 + b), HLC_REGION_PRIMARY, kOrloRegisterSize,
                                   kOrloRegisterOffset};
            uint32_t bytes = 0;
            ASSERT_EQ(DeviceIoControl(nodes_[b], HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
            regs_[b] = request[0];
            words_[b].reset(new InterruptWords(nodes_[b]));
            ASSERT_TRUE(words_[b]->enable(kXferDone));
        }
        // The sender's board memory takes its lines from host memory first.
        host_ = BoardSim::instance().dmaRegionPhysical(0);
        in_.resize(kLine * kLines);
        for (size_t i = 0; i < in_.size(); ++i) in_[i] = static_cast<uint8_t>(0x21 + i * 5);
        ASSERT_TRUE(BoardSim::instance().writePhysical(host_, in_.data(), static_cast<uint32_t>(in_.size())));
        Window(0, kBoard, kLine, 0);
        W(0, kHostStart, host_ & 0x7FFFFFF);
        W(0, kHostPage, (host_ >> 26) & 62);
        W(0, kHostPitch, kLine);
        W(0, kTiming, kPciReceive);
        BoardSim::instance().runUntilIdle();
        ASSERT_EQ(words_[0]->take(), SourceWords(kXferDone));
    }
    void TearDown() override
    {
        for (int b = 0; b < 3; ++b) {
            words_[b].reset();
            if (nodes_[b] != kInvalidDevice) DeviceClose(nodes_[b]);
        }
        BoardSim::instance().configure();
    }
    void W(int b, uint32_t offset, uint32_t value) { HwWrite32(regs_[b], offset, value); }
    // A side starts as the library starts it: a reset pulse, then the timing with bit 1
    // or 2 rising.
    void Start(int b, uint32_t timing)
    {
        W(b, kTiming, 1);
        W(b, kTiming, 0);
        W(b, kTiming, timing);
    }
    // kLines lines of `units` one-byte units from board address `at`, the start word `start`.
    void Window(int b, uint32_t at, uint32_t units, uint32_t start, uint32_t port = 0)
    {
        W(b, kBoardStart, at);
        W(b, kBoardPitch, kLine);
        W(b, kFormat, 0);
        W(b, kHStart, start);
        W(b, kHStop, units - 1);
        W(b, kVStart, 0);
        W(b, kVStop, kLines - 1);
        W(b, kPort, port);
    }
    std::vector<uint8_t> Memory(int b, uint32_t at, uint32_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_TRUE(BoardSim::instance().orlo(b).readMemory(at - kMemoryBase, out.data(), bytes));
        return out;
    }

    DeviceHandle nodes_[3] = {kInvalidDevice, kInvalidDevice, kInvalidDevice};
    uint32_t regs_[3] = {};
    std::unique_ptr<InterruptWords> words_[3];
    uint32_t host_ = 0;
    std::vector<uint8_t> in_;
};

TEST_F(SimVmPortTest, AnArmedReceiverTakesTheSendersLinesLessItsStartCount)
{
    BoardSim& sim = BoardSim::instance();
    // The sender starts one byte early and sends one unit more; the receiver drops it.
    Window(1, kBoard + 0x8000, kLine + 1, 1);
    Start(1, kVmReceive);
    EXPECT_TRUE(sim.vmTransfer(1).receiverArmed());
    Window(0, kBoard - 1, kLine + 1, 0);
    Start(0, kVmSend);
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    EXPECT_FALSE(sim.vmTransfer(1).receiverArmed()) << "taken by the sender";
    EXPECT_TRUE(words_[0]->take().empty()) << "nothing before the end";
    sim.runUntilIdle();
    EXPECT_FALSE(sim.vmTransfer(0).busy());
    EXPECT_EQ(words_[0]->take(), SourceWords(kXferDone));
    EXPECT_EQ(words_[1]->take(), SourceWords(kXferDone));
    EXPECT_EQ(Memory(1, kBoard + 0x8000, kLine * kLines), in_);
    EXPECT_EQ(sim.vmTransfer(1).portBytes(), uint64_t{kLine} * kLines);
    EXPECT_EQ(sim.vmTransfer(0).portSends(), 1u);
    EXPECT_EQ(sim.vmTransfer(1).portReceives(), 1u);
}

TEST_F(SimVmPortTest, ASenderWaitsForItsReceiverAndAResetStopsTheWait)
{
    BoardSim& sim = BoardSim::instance();
    Window(0, kBoard, kLine, 0, 3);
    Start(0, kVmSend);
    sim.runUntilIdle();
    EXPECT_TRUE(sim.vmTransfer(0).busy()) << "no receiver on port 3";
    EXPECT_TRUE(words_[0]->take().empty());
    // A receiver on another port does not take it; one on port 3 does.
    Window(1, kBoard + 0x8000, kLine, 0, 2);
    Start(1, kVmReceive);
    sim.runUntilIdle();
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    W(1, kTiming, kVmReceive | 1);   // reset pulse, bit 2 left set: disarmed
    W(1, kTiming, kVmReceive);
    EXPECT_FALSE(sim.vmTransfer(1).receiverArmed());
    Window(1, kBoard + 0x8000, kLine, 0, 3);
    Start(1, kVmReceive);
    sim.runUntilIdle();
    EXPECT_FALSE(sim.vmTransfer(0).busy());
    EXPECT_EQ(Memory(1, kBoard + 0x8000, kLine * kLines), in_);

    // A waiting sender is stopped by its reset pulse and sends nothing later.
    Start(0, kVmSend);
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    W(0, kTiming, kVmSend | 1);
    EXPECT_FALSE(sim.vmTransfer(0).busy());
    W(0, kTiming, kVmSend);
    EXPECT_FALSE(sim.vmTransfer(0).busy()) << "bit 2 stayed set: nothing rose";
    Window(1, kBoard + 0x10000, kLine, 0, 3);
    Start(1, kVmReceive);
    sim.runUntilIdle();
    EXPECT_TRUE(sim.vmTransfer(1).receiverArmed());
    EXPECT_EQ(sim.vmTransfer(0).portSends(), 1u);
}

TEST_F(SimVmPortTest, ABoardOutsideTheRingIsNoReceiver)
{
    BoardSim& sim = BoardSim::instance();
    Window(2, kBoard + 0x8000, kLine, 0);
    Start(2, kVmReceive);
    Window(0, kBoard, kLine, 0);
    Start(0, kVmSend);
    sim.runUntilIdle();
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    EXPECT_TRUE(sim.vmTransfer(2).receiverArmed());
    EXPECT_EQ(sim.vmTransfer(2).portBytes(), 0u);
    W(0, kTiming, 1);
}

}  // namespace
