// The Orlo's bus-master engine on the virtual clock: host memory into board memory and
// back with the start word's mask and skip, a register list that runs a second page,
// the transfer-done source once at the very end, and the injected faults.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"
#include "simvmxfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

constexpr uint32_t kTiming = 0x3820, kListAddress = 0x2060, kListControl = 0x2068;
constexpr uint32_t kHostStart = 0x2888, kHostPitch = 0x2890, kHostPage = 0x2898;
constexpr uint32_t kBoardStart = 0x28D0, kBoardPitch = 0x28D8;
constexpr uint32_t kHStart = 0x3808, kHStop = 0x3810, kFormat = 0x3818, kVStart = 0x3830, kVStop = 0x3838;
// Board memory of the default board: its top 4 MB below 0x4000000.
constexpr uint32_t kBoard = kPrimaryMemoryTop - 0x400000 + 0x1000;
constexpr uint32_t kSend = 0x404, kReceive = 0x504;   // kind 4 or 5, one transfer

class SimTransferTest : public ::testing::Test {
protected:
    void SetUp() override { Open(ClockMode::Virtual); }
    void Open(ClockMode clock)
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        Topology t;
        t.clock = clock;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        words_.reset(new InterruptWords(node_));
        uint32_t request[5] = {0, 0x11, HLC_REGION_PRIMARY, kOrloRegisterSize, kOrloRegisterOffset};
        uint32_t bytes = 0;
        ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        regs_ = request[0];
        host_ = BoardSim::instance().dmaRegionPhysical(0);
        ASSERT_TRUE(words_->enable(kXferDone));
    }
    void TearDown() override
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSim::instance().configure();
    }
    void W(uint32_t offset, uint32_t value) { HwWrite32(regs_, offset, value); }
    // One line of `bytes` bytes (1-byte units) between board and host.
    void Program(uint32_t board, uint32_t host, uint32_t bytes, uint32_t lines, uint32_t start)
    {
        W(kBoardStart, board);
        W(kBoardPitch, bytes);
        W(kHostStart, host & 0x7FFFFFF);
        W(kHostPage, (host >> 26) & 62);
        W(kHostPitch, bytes);
        W(kFormat, 0);
        W(kHStart, start);
        W(kHStop, bytes - 1);
        W(kVStart, 0);
        W(kVStop, lines - 1);
    }
    std::vector<uint8_t> Host(uint32_t offset, uint32_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_TRUE(BoardSim::instance().readPhysical(host_ + offset, out.data(), bytes));
        return out;
    }
    static constexpr uint32_t kXferDone = 48;
    DeviceHandle node_ = kInvalidDevice;
    std::unique_ptr<InterruptWords> words_;
    uint32_t regs_ = 0;
    uint32_t host_ = 0;
};

TEST_F(SimTransferTest, HostBytesGoToBoardMemoryAndComeBackMasked)
{
    BoardSim& sim = BoardSim::instance();
    std::vector<uint8_t> in(64);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(0x30 + i);
    ASSERT_TRUE(sim.writePhysical(host_, in.data(), 64));
    // Receiving: read 2 lines of 32 bytes from the host, leaving out the first 3 units.
    Program(kBoard, host_, 32, 2, 3);
    W(kTiming, kReceive);
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    EXPECT_TRUE(words_->take().empty()) << "nothing before the end";
    sim.runUntilIdle();
    EXPECT_FALSE(sim.vmTransfer(0).busy());
    EXPECT_EQ(words_->take(), SourceWords(kXferDone));
    std::vector<uint8_t> board(29);
    ASSERT_TRUE(sim.orlo(0).readMemory(kBoard - (kPrimaryMemoryTop - 0x400000), board.data(), 29));
    EXPECT_EQ(0, std::memcmp(board.data(), in.data() + 3, 29));
    EXPECT_EQ(sim.vmTransfer(0).bytesMoved(), 2u * 29);

    // Sending back 16 bytes one byte into a host word: the word is taken down and its
    // first byte masked, so the line lands from the given byte on.
    const std::vector<uint8_t> before = Host(0x800, 20);
    Program(kBoard - 1, host_ + 0x801, 17, 1, 0x1);
    W(kTiming, kSend);
    sim.runUntilIdle();
    const std::vector<uint8_t> after = Host(0x800, 20);
    EXPECT_EQ(after[0], before[0]) << "masked";
    EXPECT_EQ(0, std::memcmp(after.data() + 1, in.data() + 3, 16));
    EXPECT_EQ(after[17], before[17]);
    EXPECT_EQ(sim.orlo(0).reg(kListControl), 0u) << "idle";
}

TEST_F(SimTransferTest, AListRunsTheNextPageAndTheDoneSourceComesOnce)
{
    BoardSim& sim = BoardSim::instance();
    std::vector<uint8_t> in(8192);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + i / 256);
    ASSERT_TRUE(sim.writePhysical(host_, in.data(), 8192));
    // Both pages into board memory first, then each page back by the list.
    Program(kBoard, host_, 8192, 1, 0);
    W(kTiming, kReceive);
    sim.runUntilIdle();
    ASSERT_EQ(words_->take(), SourceWords(kXferDone));
    const uint32_t back = 0x10000;
    const uint32_t list[] = {0x10000, 0x2028,   kBoard + 4096, kBoardStart, (host_ + back + 4096) & 0x7FFFFFF,
                             kHostStart, kSend, kTiming,   3, kListControl, 0, kListControl};
    ASSERT_TRUE(sim.writePhysical(host_ + 0x20000, list, sizeof list));
    Program(kBoard, host_ + back, 4096, 1, 0);
    W(kListAddress, host_ + 0x20000);
    W(kListControl, 3);
    W(kTiming, kSend);
    sim.runUntilIdle();
    EXPECT_EQ(sim.vmTransfer(0).transfers(), 3u);
    EXPECT_EQ(sim.vmTransfer(0).listEntries(), 6u);
    EXPECT_EQ(words_->take(), SourceWords(kXferDone)) << "once, after the last page";
    EXPECT_EQ(Host(back, 8192), in);
    EXPECT_EQ(sim.orlo(0).reg(kListControl), 0u);
}

// On the free-running clock the machine's thread runs a list some time after the page
// before it ended; the next page begins at that end all the same, so the pages follow one
// another at the engine's own pace.
TEST_F(SimTransferTest, AListsPagesFollowOneAnotherAtTheEnginesPaceOnTheFreeRunningClock)
{
    Open(ClockMode::FreeRunning);
    BoardSim& sim = BoardSim::instance();
    constexpr uint32_t kPages = 4, kPageBytes = 4096;
    std::vector<uint32_t> list;
    for (uint32_t page = 1; page < kPages; ++page)
        list.insert(list.end(), {0x10000, 0x2028, kBoard + page * kPageBytes, kBoardStart,
                                 (host_ + page * kPageBytes) & 0x7FFFFFF, kHostStart, kSend, kTiming, 3, kListControl});
    list.insert(list.end(), {0, kListControl});
    ASSERT_TRUE(sim.writePhysical(host_ + 0x20000, list.data(), static_cast<uint32_t>(list.size() * 4)));
    Program(kBoard, host_, kPageBytes, 1, 0);
    W(kListAddress, host_ + 0x20000);
    W(kListControl, 3);
    W(kTiming, kSend);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sim.vmTransfer(0).transfers() < kPages && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(sim.vmTransfer(0).transfers(), kPages);
    std::vector<double> ends;
    for (const FiredEvent& e : sim.events())
        if (e.name == "primary transfer") ends.push_back(e.seconds);
    ASSERT_EQ(ends.size(), kPages);
    const double page = static_cast<double>(kXferSetupNanos + kPageBytes * 1000 / kXferBytesPerMicrosecond);
    for (uint32_t i = 1; i < kPages; ++i) EXPECT_NEAR((ends[i] - ends[i - 1]) * 1e9, page, 1.0) << "page " << i;
}

TEST_F(SimTransferTest, FaultsAHangingTransferAndABadPage)
{
    BoardSim& sim = BoardSim::instance();
    sim.vmTransfer(0).setNeverEnds(true);
    Program(kBoard, host_, 64, 1, 0);
    W(kTiming, kSend);
    sim.advance(1.0);
    EXPECT_TRUE(sim.vmTransfer(0).busy());
    EXPECT_TRUE(words_->take().empty());
    // A reset pulse stops it.
    W(kTiming, 0x401);
    W(kTiming, 0x400);
    EXPECT_FALSE(sim.vmTransfer(0).busy());

    sim.vmTransfer(0).setNeverEnds(false);
    sim.vmTransfer(0).setBadPage(host_);
    W(kTiming, kSend);
    sim.runUntilIdle();
    EXPECT_EQ(sim.vmTransfer(0).droppedBytes(), 64u);
    EXPECT_EQ(sim.vmTransfer(0).bytesMoved(), 0u);
    EXPECT_EQ(words_->take(), SourceWords(kXferDone)) << "it still ends";
}

}  // namespace
