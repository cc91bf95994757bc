#include "boardsim.h"
#include "regmap/driver_requests.h"
#include "device.h"
#include "hwaccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace boardsim;

namespace {


class HwAccessTest : public ::testing::Test {
protected:
    void SetUp() override { BoardSim::instance().configure(); }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
    }

    void Use(const Topology& t)
    {
        BoardSim::instance().configure(t);
    }

    uint32_t Map(uint32_t region, uint32_t offset, uint32_t size, int board = 0)
    {
        if (node_ == kInvalidDevice) node_ = DeviceOpen(BoardSim::instance().boardDeviceName(board).c_str());
        uint32_t request[5] = {0, 0x11, region, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    uint32_t Registers() { return Map(4, kOrloRegisterOffset, kOrloRegisterSize); }

    DeviceHandle node_ = kInvalidDevice;
};

TEST_F(HwAccessTest, MappedRegisterWindowReachesTheOrloModel)
{
    const uint32_t regs = Registers();
    ASSERT_NE(regs, 0u);
    EXPECT_TRUE(HwIsWindowAddress(regs));
    EXPECT_TRUE(HwIsWindowAddress(regs + 0x3FFF));
    EXPECT_FALSE(HwIsWindowAddress(regs + 0x4000));
    EXPECT_EQ(Registers(), regs); // the same window again
    EXPECT_EQ(HwRead32(regs, kOrloControl), 0x10u); // no emulator attached
    EXPECT_EQ(HwRead32(regs, kOrloStatus), 0u);    // no processor on the default board
    HwWrite32(regs, kOrloMailbox, 0xCAFEFADEu);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloMailbox), 0xCAFEFADEu);
    BoardSim::instance().orlo(0, false).setReg(kOrloMailbox, 0xDEADBEEFu);
    EXPECT_EQ(HwRead32(regs, kOrloMailbox), 0xDEADBEEFu);
}

TEST_F(HwAccessTest, ProcessorVariantShowsInTheStatusWord)
{
    Topology t;
    t.boards[0].processor = true;
    Use(t);
    EXPECT_EQ(HwRead32(Registers(), kOrloStatus) & 0x40, 0x40u);
}

TEST_F(HwAccessTest, NarrowAccessesUseTheByteLanesOfAWord)
{
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloSectionWord, 0x11223344u);
    EXPECT_EQ(HwRead8(regs, 0x0811), 0x33u);
    EXPECT_EQ(HwRead16(regs, 0x0812), 0x1122u);
    HwWrite16(regs, 0x0812, 0xBEEF);
    HwWrite8(regs, kOrloSectionWord, 0x99);
    EXPECT_EQ(HwRead32(regs, kOrloSectionWord), 0xBEEF3399u);
}

TEST_F(HwAccessTest, LockRegisterIsTakenByReadingAndReleasedByWritingZero)
{
    const uint32_t regs = Registers();
    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 0u); // was free: now taken
    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 1u); // busy
    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 1u);
    HwWrite32(regs, kOrloLock, 0);
    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 0u);
}

TEST_F(HwAccessTest, InterruptRegistersSetAndClearByWritingOnes)
{
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloInterruptSet, 0x00000021u);
    HwWrite32(regs, kOrloInterruptSet, 0x80000000u);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet), 0x80000021u);
    HwWrite32(regs, kOrloInterruptClear, 0x80000001u);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet), 0x00000020u);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptClear), 0x00000020u);
    HwWrite32(regs, kOrloInterruptClear, 0xFFFFFFFFu);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet), 0u);
}

TEST_F(HwAccessTest, CacheFlushBitClearsAfterTheBoardsLatency)
{
    Topology t;
    t.boards[0].boardCache = true;
    t.boards[0].flushLatency = 2;
    Use(t);
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloInterruptSet, 0x40000000u);
    EXPECT_NE(HwRead32(regs, kOrloInterruptSet) & 0x40000000u, 0u);
    EXPECT_NE(HwRead32(regs, kOrloInterruptSet) & 0x40000000u, 0u);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet) & 0x40000000u, 0u);

    t.boards[0].flushLatency = -1; // a flush that never completes
    Use(t);
    DeviceClose(node_);
    node_ = kInvalidDevice;
    const uint32_t stuck = Registers();
    HwWrite32(stuck, kOrloInterruptSet, 0x40000000u);
    for (int i = 0; i < 50; ++i) ASSERT_NE(HwRead32(stuck, kOrloInterruptSet) & 0x40000000u, 0u);

    t.boards[0].boardCache = false; // nothing to flush: the bit never shows
    Use(t);
    DeviceClose(node_);
    node_ = kInvalidDevice;
    const uint32_t plain = Registers();
    HwWrite32(plain, kOrloInterruptSet, 0x40000000u);
    EXPECT_EQ(HwRead32(plain, kOrloInterruptSet) & 0x40000000u, 0u);
}

TEST_F(HwAccessTest, TraceRecordsAKnownSequenceInOrder)
{
    const uint32_t regs = Registers();
    BoardSim::instance().setTracing(true);
    // The presence test of an Orlo.
    const uint32_t before = HwRead32(regs, kOrloInterruptSet) & 0x80000000u;
    HwWrite32(regs, kOrloInterruptClear, 0x80000000u);
    const uint32_t cleared = HwRead32(regs, kOrloInterruptSet);
    HwWrite32(regs, kOrloInterruptSet, 0x80000000u);
    const uint32_t set = HwRead32(regs, kOrloInterruptSet);
    HwWrite32(regs, kOrloInterruptClear, 0x80000000u);
    HwRead8(regs, kOrloLock);
    BoardSim::instance().setTracing(false);
    HwRead32(regs, kOrloInterruptSet); // not traced
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(cleared, 0u);
    EXPECT_EQ(set, 0x80000000u);

    const std::vector<HwAccess> expected = {
        Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0),
        Write(HwArea::PrimaryRegs, kOrloInterruptClear, 0x80000000u),
        Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0),
        Write(HwArea::PrimaryRegs, kOrloInterruptSet, 0x80000000u),
        Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0x80000000u),
        Write(HwArea::PrimaryRegs, kOrloInterruptClear, 0x80000000u),
        Read(HwArea::PrimaryRegs, kOrloLock, 0, 1),
    };
    const std::vector<HwAccess> got = BoardSim::instance().trace();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << i << ": " << got[i].toString();
    EXPECT_EQ(got[4].toString(), "R32 b0 primary.regs+0x2030 = 0x80000000");
    BoardSim::instance().clearTrace();
    EXPECT_TRUE(BoardSim::instance().trace().empty());
}

TEST_F(HwAccessTest, FiltersInjectFaultsIntoReadsAndWrites)
{
    const uint32_t regs = Registers();
    BoardSim::instance().setReadFilter([](const HwAccess& a) {
        return a.offset == kOrloStatus ? a.value | 0x40u : a.value;
    });
    BoardSim::instance().setWriteFilter([](HwAccess& a) {
        if (a.offset == kOrloMailbox) return false;   // dropped
        if (a.offset == kOrloSectionWord) a.value ^= 1u;  // corrupted
        return true;
    });
    EXPECT_EQ(HwRead32(regs, kOrloStatus), 0x40u);
    HwWrite32(regs, kOrloMailbox, 0x12345678u);
    HwWrite32(regs, kOrloSectionWord, 0x10u);
    BoardSim::instance().setReadFilter(nullptr);
    BoardSim::instance().setWriteFilter(nullptr);
    EXPECT_EQ(HwRead32(regs, kOrloStatus), 0u);
    EXPECT_EQ(HwRead32(regs, kOrloMailbox), 0u);
    EXPECT_EQ(HwRead32(regs, kOrloSectionWord), 0x11u);
}

TEST_F(HwAccessTest, AccessesOutsideEveryWindowAreCountedAndReadAllOnes)
{
    std::vector<uint8_t> host(64);
    const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host.data()));
    EXPECT_FALSE(HwIsWindowAddress(address));
    EXPECT_EQ(HwRead32(address, 0), 0xFFFFFFFFu);
    EXPECT_EQ(HwRead8(address, 1), 0xFFu);
    HwWrite32(address, 0, 0);
    EXPECT_EQ(BoardSim::instance().strayAccesses(), 3u);
    EXPECT_EQ(host[0], 0u);
    // An access that runs past the end of a window is stray as well.
    const uint32_t regs = Registers();
    EXPECT_EQ(HwRead32(regs, 0x3FFE), 0xFFFFFFFFu);
    EXPECT_EQ(BoardSim::instance().strayAccesses(), 4u);
}

TEST_F(HwAccessTest, MemoryWindowHoldsBlocksAndTheSimulationSeesThem)
{
    const uint32_t memory = Map(4, kPrimaryMemoryTop - 0x400000, 0x400000);
    ASSERT_NE(memory, 0u);
    uint8_t data[11];
    for (int i = 0; i < 11; ++i) data[i] = static_cast<uint8_t>(0x30 + i);
    HwWriteBlock(memory, 0x1001, data, sizeof data);
    uint8_t back[11] = {};
    HwReadBlock(memory, 0x1001, back, sizeof back);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    uint8_t seen[11] = {};
    ASSERT_TRUE(BoardSim::instance().orlo(0, false).readMemory(0x1001, seen, sizeof seen));
    EXPECT_EQ(std::memcmp(seen, data, sizeof data), 0);
    EXPECT_EQ(HwRead32(memory, 0x1000), 0x32313000u);
    // A window onto part of the memory starts at its offset.
    const uint32_t part = Map(4, kPrimaryMemoryTop - 0x400000 + 0x1000, 0x1000);
    EXPECT_EQ(HwRead8(part, 1), 0x30u);
}

// A block into plain memory moves as one run, yet costs the bus time of the accesses it
// stands for (bytes up to a word boundary, words, the bytes left), and a trace still sees
// every one of them.
TEST_F(HwAccessTest, ABlockCostsTheBusTimeOfItsAccessesAndATraceSeesEachOne)
{
    Topology t;
    t.clock = ClockMode::Virtual;
    Use(t);
    const uint32_t memory = Map(4, kPrimaryMemoryTop - 0x400000, 0x400000);
    ASSERT_NE(memory, 0u);
    BoardSim& sim = BoardSim::instance();
    uint8_t data[11];
    for (int i = 0; i < 11; ++i) data[i] = static_cast<uint8_t>(0x50 + i);
    auto cost = [&](auto&& accesses) {
        const double before = sim.now();
        accesses();
        return sim.now() - before;
    };
    const double one = cost([&] { HwWrite8(memory, 0x2001, 0); });
    const double written = cost([&] { HwWriteBlock(memory, 0x1001, data, sizeof data); });
    uint8_t back[11] = {};
    const double read = cost([&] { HwReadBlock(memory, 0x1001, back, sizeof back); });
    EXPECT_DOUBLE_EQ(written, 5 * one);   // 3 bytes, 2 words
    EXPECT_DOUBLE_EQ(read, 5 * one);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);

    sim.setTracing(true);
    HwWriteBlock(memory, 0x3002, data, 7);   // 2 bytes, a word, a byte
    sim.setTracing(false);
    const std::vector<HwAccess> got = sim.trace();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].width, 1u);
    EXPECT_EQ(got[2].width, 4u);
    EXPECT_EQ(got[2].value, 0x55545352u);
    EXPECT_EQ(got[3].offset, got[0].offset + 6);
    sim.clearTrace();
}

TEST_F(HwAccessTest, PciShadowWindowIsTheOrlosConfigurationFrom0x40)
{
    const uint32_t shadow = Map(4, kOrloShadowOffset, kOrloShadowSize);
    ASSERT_NE(shadow, 0u);
    HwWrite32(shadow, 4, 0x0000ABCDu);
    uint8_t bus = 0, device = 0, function = 0;
    ASSERT_TRUE(BoardSim::instance().functionLocation(0, BoardFunction::PrimaryOrlo, &bus, &device, &function));
    EXPECT_EQ(BoardSim::instance().configRead(bus, device, function, 0x44), 0x0000ABCDu);
    BoardSim::instance().configWrite(bus, device, function, 0x40, 0x55);
    EXPECT_EQ(HwRead32(shadow, 0), 0x55u);
}

TEST_F(HwAccessTest, MapRefusesRegionsTheBoardDoesNotDecode)
{
    EXPECT_EQ(Map(4, 0x100, 0x100), 0u);                        // below the memory window
    EXPECT_EQ(Map(4, kOrloRegisterOffset, 0x8000), 0u);         // larger than the block
    EXPECT_EQ(Map(8, kOrloRegisterOffset, kOrloRegisterSize), 0u); // no display Orlo
    EXPECT_EQ(Map(1, 0, kChipRegisterSize), 0u);                // no display chip
    EXPECT_EQ(Map(5, 0, 16), 0u);

    Topology t;
    t.boards[0].bridgeDecode = false; // nothing behind the bridge is reachable yet
    Use(t);
    DeviceClose(node_);
    node_ = kInvalidDevice;
    EXPECT_EQ(Registers(), 0u);
}

TEST_F(HwAccessTest, DisplayBoardMapsItsChipDirectlyAndThroughDriverRequests)
{
    Topology t;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    Use(t);
    const uint32_t chip = Map(1, 0, kChipRegisterSize);
    const uint32_t frame = Map(1, 1, kChipFrameSize);
    const uint32_t display = Map(8, kOrloRegisterOffset, kOrloRegisterSize);
    ASSERT_NE(chip, 0u);
    ASSERT_NE(frame, 0u);
    ASSERT_NE(display, 0u);
    EXPECT_EQ(HwRead32(display, kOrloStatus), 0u);

    BoardSim::instance().setTracing(true);
    HwWrite8(chip, VGA_MISC_WRITE, 0xEF);
    uint8_t write[5] = {0xC4, 0x1F, 0, 0, 0x21}; // byte register 0x1FC4
    uint32_t bytes = 0;
    EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_CHIP_WRITE8, write, 5, nullptr, 0, &bytes, nullptr), kDeviceDone);
    uint32_t read[2] = {VGA_SEQUENCER / 4, 0};
    EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_CHIP_READ32, read, 8, read, 8, &bytes, nullptr), kDeviceDone);
    EXPECT_EQ(read[1], 0x21u);
    EXPECT_EQ(BoardSim::instance().chip(0).reg(VGA_ATTRIBUTE), 0x00EF0000u);
    const auto trace = BoardSim::instance().trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_FALSE(trace[0].viaDriver);
    EXPECT_TRUE(trace[1].viaDriver);
    EXPECT_EQ(trace[1].offset, VGA_SEQUENCER);
    EXPECT_EQ(trace[2].toString(), "R32 b0 chip.regs+0x1fc4 = 0x21 (driver)");
}

} // namespace
