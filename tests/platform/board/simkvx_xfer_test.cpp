// The second-family module as the primary Orlo's video source, on the virtual clock: a
// release of the Orlo's grab control arms one transfer; with the idle grab set it is the
// status line with the dispatch words of the block the module holds, else that block
// through the Orlo's window and frame registers; the last block of a frame raises the
// end-of-frame dispatch until the lists acknowledge it; the list engine's waits follow the
// module; an abort drops what the module holds.
#include "framegen.h"
#include "kvxmodulefixture.h"
#include "regmap/kvx_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace boardsim;
using kvxfixture::kFrameNanos;
using kvxfixture::kMemoryFirst;

namespace {

constexpr uint32_t kGrbCtl0 = 0x308;
constexpr uint32_t kStatusBuffer = 0x2000;                         // board offset of the status block
constexpr uint32_t kImage = 0x10000;                               // board offset of a destination
constexpr uint32_t kList = 0x30000;                                // board offset of a list
constexpr uint32_t kLineBytes = 64, kBlockLines = 4, kBlocks = 3;
constexpr uint16_t kDummy = 0x7F00;                                // BTC_GDUMID / BTC_DDUMID
constexpr uint32_t kStop = 0xCD381B, kRelease = 0xCD381A;

class SimKvxXferTest : public kvxfixture::KvxModuleBoardTest {
protected:
    void SetUp() override
    {
        KvxModuleBoardTest::SetUp();
        if (HasFatalFailure()) return;
        Set(kvxregs::BTC_GWRPT(0), kLineBytes / 4 - 2);
        Set(kvxregs::BTC_GLINE(0), kBlockLines - 1);
        Set(kvxregs::BTC_DFULL(0), kBlocks - 1);
        Set(kvxregs::BTC_GDUMID, kDummy);
        Set(kvxregs::BTC_DDUMID, kDummy);
        // LUT 0: an identity ramp.
        Set(kvxregs::ISF_LUTEN, 1);
        Set(kvxregs::ISF_LUTIDX, 0);
        for (uint32_t e = 0; e < 256; ++e) HwWrite32(port_, 2 * kvxregs::ISF_LUTDATA, e);
        IdleSet();
    }
    // The Orlo's idle grab set: one status line at the status block + 2.
    void IdleSet()
    {
        HwWrite32(regs_, kOrloGFSTART, kMemoryFirst + kStatusBuffer + 2);
        HwWrite32(regs_, kOrloGLPITCH, 0x100);
        HwWrite32(regs_, kOrloGC1FOFF, 0x108);
    }
    // A block's registers: window lines and pixels, destination and pitch, one byte a pixel.
    void BlockSet(uint32_t destination, uint32_t pitch, uint32_t firstLine, uint32_t lastLine, uint32_t firstPixel,
                  uint32_t lastPixel)
    {
        HwWrite32(regs_, kOrloGFSTART, kMemoryFirst + destination);
        HwWrite32(regs_, kOrloGLPITCH, pitch);
        HwWrite32(regs_, kOrloGC1FOFF, 0);
        HwWrite32(regs_, kOrloGPIXFMT, 0);
        HwWrite32(regs_, kOrloGVSCLNG, 0);
        HwWrite32(regs_, kOrloGHSCLNG, 0);
        HwWrite32(regs_, kOrloGVWSTART, firstLine);
        HwWrite32(regs_, kOrloGVWSTOP, lastLine);
        HwWrite32(regs_, kOrloGHWSTART, firstPixel);
        HwWrite32(regs_, kOrloGHWSTOP, lastPixel);
    }
    // Stop, then release: one transfer armed.
    void Arm()
    {
        HwWrite32(regs_, kOrloGrabControl, kStop);
        HwWrite32(regs_, kOrloGrabControl, kRelease);
    }
    uint16_t Word(uint32_t offset) { return HwRead16(memory_, kStatusBuffer + offset); }
    uint8_t Byte(uint32_t offset) { return HwRead8(memory_, offset); }
    static uint8_t Pattern(uint32_t x, uint32_t y, uint64_t frame = 0)
    {
        return static_cast<uint8_t>(TestPatternGenerator::value(x, y, frame, 0, 8));
    }

};

TEST_F(SimKvxXferTest, TheStatusLineNamesTheHeldBlocksMapEntryOnAReleaseOnly)
{
    Arm();
    Settle();
    EXPECT_EQ(Kvx().statusLines(), 0u) << "an armed transfer waits for a block";
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    Settle();
    EXPECT_EQ(Kvx().statusLines(), 1u);
    EXPECT_EQ(Word(520), 0u) << "grab dispatch: channel 0's map, entry 0";
    EXPECT_EQ(Word(256), kDummy) << "no frame end owed";
    EXPECT_NE(HwRead32(regs_, kOrloInterruptSet) & kInterruptGrabStart, 0u);
    EXPECT_TRUE(Kvx().holdsBlock()) << "a status line takes no block";
    // The same released value again arms nothing; a clear of bit 12 stays.
    HwWrite32(regs_, kOrloInterruptClear, kInterruptGrabStart | kInterruptGrabEnd);
    HwWrite32(regs_, kOrloGrabControl, kRelease);
    Settle();
    EXPECT_EQ(Kvx().statusLines(), 1u);
    EXPECT_EQ(HwRead32(regs_, kOrloInterruptSet) & kInterruptGrabStart, 0u);
    // The next block held: the dispatch names entry 1.
    ASSERT_TRUE(RunUntil([] { return Kvx().blocksDigitised(0) == 2; }));
    BlockSet(kImage, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
    Arm();
    Settle();
    IdleSet();
    Arm();
    Settle();
    EXPECT_EQ(Word(520), 8u) << "entry 1 of channel 0's map";
}

TEST_F(SimKvxXferTest, ABlockGoesThroughTheWindowAndFrameRegisters)
{
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    // Lines 1-2 and pixels 4-11 of block 0, 100 bytes apart.
    BlockSet(kImage, 100, 1, 2, 4, 11);
    Arm();
    Settle();
    EXPECT_EQ(Kvx().blocksTaken(), 1u);
    EXPECT_FALSE(Kvx().holdsBlock());
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t p = 0; p < 8; ++p)
            EXPECT_EQ(Byte(kImage + 100 * row + p), Pattern(4 + p, 1 + row)) << row << "," << p;
    EXPECT_EQ(Byte(kImage + 8), 0) << "nothing beyond the window's last pixel";
    EXPECT_EQ(Byte(kImage + 200), 0) << "nothing beyond the window's last line";
    EXPECT_EQ(Kvx().transferStrays(), 0u);
    // A destination outside the board's memory is dropped and counted, not written.
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    HwWrite32(regs_, kOrloGFSTART, 0x100);
    Arm();
    Settle();
    EXPECT_EQ(Kvx().transferStrays(), 2u * 8u);
}

TEST_F(SimKvxXferTest, TheLastBlockOwesTheFrameEndUntilTheListsAcknowledgeIt)
{
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    Arm();   // a status line: the status block's place
    Settle();
    EXPECT_EQ(Word(256), kDummy);
    for (uint32_t b = 0; b < kBlocks; ++b) {
        ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); })) << b;
        BlockSet(kImage + b * kBlockLines * kLineBytes, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
        Arm();
        Settle();
        EXPECT_EQ(Word(256), b + 1 < kBlocks ? kDummy : 0u) << "entry 0 of channel 0's end-of-frame map: " << b;
    }
    for (uint32_t y = 0; y < kBlocks * kBlockLines; y += 5)
        for (uint32_t x = 0; x < kLineBytes; x += 7)
            EXPECT_EQ(Byte(kImage + y * kLineBytes + x), Pattern(x, y)) << x << "," << y;
    // The lists' module-side register takes the report.
    HwWrite32(port_, 2 * kvxregs::kFrameReportAck, 1);
    EXPECT_EQ(Word(256), 0u) << "never inside the write";
    Settle();
    EXPECT_EQ(Word(256), kDummy);
}

TEST_F(SimKvxXferTest, ListWaitsFollowTheModule)
{
    // {bit 23 set, wait, bit 23 clear, release, wait, end}: the first wait lasts until the
    // module holds a block, the second until the transfer the list armed has started.
    const uint32_t entries[][2] = {{0x800000, 0x2002020}, {3, 0x2002010}, {0, 0x2002020}, {kStop, 0x2001830},
                                   {kRelease, 0x2001830}, {3, 0x2002010}, {0, 0x2002010}};
    for (uint32_t i = 0; i < 7; ++i) {
        HwWrite32(memory_, kList + 8 * i, entries[i][0]);
        HwWrite32(memory_, kList + 8 * i + 4, entries[i][1]);
    }
    HwWrite32(regs_, kOrloGrabListPointer, kMemoryFirst + kList);
    HwWrite32(regs_, kOrloGrabListControl, 1);
    Settle();
    const GrabListView list = BoardSim::instance().grabList(0);
    EXPECT_TRUE(list.waiting()) << "no block yet";
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([&] { return !list.running(); }));
    EXPECT_EQ(list.waits(), 2u);
    EXPECT_EQ(Kvx().statusLines(), 1u) << "the list's transfer started";
    EXPECT_EQ(list.strays(), 0u);
}

TEST_F(SimKvxXferTest, ANewStartDropsBlocksOfAnEarlierGrabNobodyTook)
{
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().framesDigitised(0) == 1 && !Kvx().grabActive(0); }));
    EXPECT_TRUE(Kvx().holdsBlock());
    Set(kGrbCtl0, 0x8);
    Settle();
    EXPECT_TRUE(Kvx().grabActive(0));
    EXPECT_FALSE(Kvx().holdsBlock()) << "the new frame's first block is the next one held";
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    BlockSet(kImage, kLineBytes, 0, 0, 0, 3);
    Arm();
    Settle();
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(Byte(kImage + x), Pattern(x, 0, 1)) << "frame 1's first line: " << x;
}

TEST_F(SimKvxXferTest, AnAbortDropsTheHeldBlocks)
{
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    Set(kGrbCtl0, 0x1);
    Settle();
    EXPECT_FALSE(Kvx().holdsBlock());
    Arm();
    BoardSim::instance().advance(0.01);
    EXPECT_EQ(Kvx().statusLines(), 0u);
    EXPECT_EQ(Kvx().blocksTaken(), 0u);
}

} // namespace
