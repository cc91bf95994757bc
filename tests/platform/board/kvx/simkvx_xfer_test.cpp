// The second-family module as the video source of its board's Orlos, on the virtual clock: a
// release of an Orlo's grab control arms one transfer; with the idle grab set it is the
// status line with the dispatch words of the block the module holds, else that block
// through the Orlo's window and frame registers into that Orlo's memory; a block goes to the
// first Orlo that takes it; the last block of a frame raises the end-of-frame dispatch until
// the lists acknowledge it or the channel starts again; each Orlo's status line counts the
// frames it served; the list engines' waits follow the module; an abort drops what the
// module holds.
#include "framegen.h"
#include "kvxmodulefixture.h"
#include "regmap/kvx_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace boardsim;
using kvxfixture::kFrameNanos;
using kvxfixture::kDisplayFirst;
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
        PlanBlocks(kLineBytes, kBlockLines, kBlocks);
        Set(kvxregs::BTC_GDUMID, kDummy);
        Set(kvxregs::BTC_DDUMID, kDummy);
        // LUT 0: an identity ramp.
        Set(kvxregs::ISF_LUTEN, 1);
        Set(kvxregs::ISF_LUTIDX, 0);
        for (uint32_t e = 0; e < 256; ++e) HwWrite32(port_, 2 * kvxregs::ISF_LUTDATA, e);
        IdleSet();
    }
    // The primary Orlo's idle grab set: one status line at the status block + 2.
    void IdleSet() { IdleSetOn(regs_, kMemoryFirst); }
    // The idle grab set of the Orlo whose registers and memory start at the given addresses.
    static void IdleSetOn(uint32_t regs, uint32_t memoryFirst)
    {
        HwWrite32(regs, kOrloGFSTART, memoryFirst + kStatusBuffer + 2);
        HwWrite32(regs, kOrloGLPITCH, 0x100);
        HwWrite32(regs, kOrloGC1FOFF, 0x108);
    }
    // A block's registers: window lines and pixels, destination and pitch, one byte a pixel.
    void BlockSet(uint32_t destination, uint32_t pitch, uint32_t firstLine, uint32_t lastLine, uint32_t firstPixel,
                  uint32_t lastPixel)
    {
        BlockSetOn(regs_, kMemoryFirst + destination, pitch, firstLine, lastLine, firstPixel, lastPixel);
    }
    static void BlockSetOn(uint32_t regs, uint32_t address, uint32_t pitch, uint32_t firstLine, uint32_t lastLine,
                           uint32_t firstPixel, uint32_t lastPixel)
    {
        HwWrite32(regs, kOrloGFSTART, address);
        HwWrite32(regs, kOrloGLPITCH, pitch);
        HwWrite32(regs, kOrloGC1FOFF, 0);
        HwWrite32(regs, kOrloGPIXFMT, 0);
        HwWrite32(regs, kOrloGVSCLNG, 0);
        HwWrite32(regs, kOrloGHSCLNG, 0);
        HwWrite32(regs, kOrloGVWSTART, firstLine);
        HwWrite32(regs, kOrloGVWSTOP, lastLine);
        HwWrite32(regs, kOrloGHWSTART, firstPixel);
        HwWrite32(regs, kOrloGHWSTOP, lastPixel);
    }
    // Stop, then release: one transfer of the primary (or the given) Orlo armed.
    void Arm(uint32_t regs = 0)
    {
        HwWrite32(regs ? regs : regs_, kOrloGrabControl, kStop);
        HwWrite32(regs ? regs : regs_, kOrloGrabControl, kRelease);
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

// The same board with a display Orlo: the module feeds it as it feeds the primary one.
class SimKvxDisplayFeedTest : public SimKvxXferTest {
protected:
    SimKvxDisplayFeedTest() { displayOrlo_ = true; }
    uint8_t DisplayByte(uint32_t offset) { return HwRead8(displayMemory_, offset); }
    uint16_t DisplayWord(uint32_t offset) { return HwRead16(displayMemory_, kStatusBuffer + offset); }
    uint32_t Interrupts(uint32_t regs) { return HwRead32(regs, kOrloInterruptSet) & (kInterruptGrabStart | kInterruptGrabEnd); }
};

TEST_F(SimKvxDisplayFeedTest, TheDisplayOrlosTransferPlacesTheBlockInItsOwnMemory)
{
    ASSERT_NE(displayMemory_, 0u);
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    // Lines 1-2 and pixels 4-11 of block 0, 100 bytes apart, at kImage of the display memory.
    BlockSetOn(displayRegs_, kDisplayFirst + kImage, 100, 1, 2, 4, 11);
    Arm(displayRegs_);
    Settle();
    EXPECT_EQ(Kvx().blocksTaken(), 1u);
    EXPECT_FALSE(Kvx().holdsBlock());
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t p = 0; p < 8; ++p)
            EXPECT_EQ(DisplayByte(kImage + 100 * row + p), Pattern(4 + p, 1 + row)) << row << "," << p;
    for (uint32_t p = 0; p < 8; ++p) EXPECT_EQ(Byte(kImage + p), 0) << "the primary Orlo's memory is not written";
    EXPECT_EQ(Interrupts(displayRegs_), kInterruptGrabStart | kInterruptGrabEnd);
    EXPECT_EQ(Interrupts(regs_), 0u);
    EXPECT_EQ(Kvx().transferStrays(), 0u);
    // The primary Orlo's memory is no address of the display Orlo: counted, not written.
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    HwWrite32(displayRegs_, kOrloGFSTART, kMemoryFirst + kImage);
    Arm(displayRegs_);
    Settle();
    EXPECT_EQ(Kvx().transferStrays(), 2u * 8u);
    EXPECT_EQ(Byte(kImage), 0);
}

TEST_F(SimKvxDisplayFeedTest, ABlockGoesToTheFirstOrloThatTakesItAndTheOtherWaitsForTheNext)
{
    BlockSet(kImage, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
    BlockSetOn(displayRegs_, kDisplayFirst + kImage, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
    Arm();
    Arm(displayRegs_);
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().blocksTaken() == 1; }));
    Settle();
    EXPECT_EQ(Kvx().blocksTaken(), 1u) << "one block, one Orlo";
    for (uint32_t x = 0; x < kLineBytes; x += 9) {
        EXPECT_EQ(Byte(kImage + x), Pattern(x, 0)) << "block 0 on the primary Orlo, armed first: " << x;
        EXPECT_EQ(DisplayByte(kImage + x), 0) << x;
    }
    EXPECT_EQ(Interrupts(displayRegs_), 0u) << "the display Orlo's transfer has not started";
    // The display Orlo, still armed, takes the next block.
    ASSERT_TRUE(RunUntil([] { return Kvx().blocksTaken() == 2; }));
    for (uint32_t x = 0; x < kLineBytes; x += 9) EXPECT_EQ(DisplayByte(kImage + x), Pattern(x, kBlockLines)) << x;
    EXPECT_EQ(Interrupts(displayRegs_), kInterruptGrabStart | kInterruptGrabEnd);
    EXPECT_EQ(Kvx().transferStrays(), 0u);
}

TEST_F(SimKvxDisplayFeedTest, EachOrlosStatusLineCountsTheFramesItServed)
{
    // Only the display Orlo on its idle set: the grab's status goes to its memory.
    BlockSet(kImage, kLineBytes, 0, 0, 0, 0);
    IdleSetOn(displayRegs_, kDisplayFirst);
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().framesDigitised(0) == 1 && !Kvx().grabActive(0); }));
    EXPECT_EQ(DisplayWord(0x128), 8u) << "the display Orlo's first frame";
    EXPECT_EQ(Word(0x128), 0u) << "nothing in the primary Orlo's memory";
    // Both on their idle sets, no list running: the primary Orlo takes the status.
    IdleSet();
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().framesDigitised(0) == 2 && !Kvx().grabActive(0); }));
    EXPECT_EQ(Word(0x128), 8u) << "the primary Orlo's first frame";
    EXPECT_EQ(DisplayWord(0x128), 8u) << "the display Orlo's count stays";
    // The primary Orlo takes blocks 0 and 1; a status line through the display Orlo then
    // names block 2 and reports the display Orlo's own count.
    for (uint32_t b = 0; b < 2; ++b) {
        BlockSet(kImage, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
        Arm();
        Settle();
    }
    EXPECT_EQ(Kvx().blocksTaken(), 2u);
    Arm(displayRegs_);
    Settle();
    EXPECT_EQ(Kvx().statusLines(), 1u);
    EXPECT_EQ(DisplayWord(520), 8u * 2) << "block 2 of channel 0 is the one held";
    EXPECT_EQ(DisplayWord(0x128), 8u);
    EXPECT_EQ(Word(520), 0u) << "no status line through the primary Orlo";
}

TEST_F(SimKvxDisplayFeedTest, TheDisplayOrlosListWaitsFollowTheModule)
{
    IdleSetOn(displayRegs_, kDisplayFirst);
    const uint32_t entries[][2] = {{0x800000, 0x2002020}, {3, 0x2002010}, {0, 0x2002020}, {kStop, 0x2001830},
                                   {kRelease, 0x2001830}, {3, 0x2002010}, {0, 0x2002010}};
    for (uint32_t i = 0; i < 7; ++i) {
        HwWrite32(displayMemory_, kList + 8 * i, entries[i][0]);
        HwWrite32(displayMemory_, kList + 8 * i + 4, entries[i][1]);
    }
    HwWrite32(displayRegs_, kOrloGrabListPointer, kDisplayFirst + kList);
    HwWrite32(displayRegs_, kOrloGrabListControl, 1);
    Settle();
    const GrabListView list = BoardSim::instance().grabList(0, true);
    EXPECT_TRUE(list.waiting()) << "no block yet";
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([&] { return !list.running(); }));
    EXPECT_EQ(list.waits(), 2u);
    EXPECT_EQ(Kvx().statusLines(), 1u) << "the list's transfer started";
    EXPECT_EQ(DisplayWord(520), 0u) << "the status line went through the display Orlo";
    EXPECT_TRUE(Kvx().holdsBlock()) << "a status line takes no block";
    EXPECT_EQ(list.strays(), 0u);
    EXPECT_FALSE(BoardSim::instance().grabEngine(0, true).armed()) << "the Orlo's own grab engine stays idle";
}

TEST_F(SimKvxDisplayFeedTest, AFrameEndTheListsNeverAcknowledgedIsForgottenAtTheChannelsNextStart)
{
    // A whole frame through the display Orlo, whose lists cannot reach the module's register.
    Set(kGrbCtl0, 0x8);
    for (uint32_t b = 0; b < kBlocks; ++b) {
        ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); })) << b;
        IdleSetOn(displayRegs_, kDisplayFirst);
        Arm(displayRegs_);
        Settle();
        BlockSetOn(displayRegs_, kDisplayFirst + kImage, kLineBytes, 0, kBlockLines - 1, 0, kLineBytes - 1);
        Arm(displayRegs_);
        Settle();
    }
    EXPECT_EQ(DisplayWord(256), 0u) << "entry 0 of channel 0's end-of-frame map";
    ASSERT_TRUE(RunUntil([] { return !Kvx().grabActive(0); }));
    // The next grab of the channel owes nothing yet: its status line names the dummy.
    Set(kGrbCtl0, 0x8);
    ASSERT_TRUE(RunUntil([] { return Kvx().holdsBlock(); }));
    IdleSetOn(displayRegs_, kDisplayFirst);
    Arm(displayRegs_);
    Settle();
    EXPECT_EQ(DisplayWord(256), kDummy);
    EXPECT_EQ(DisplayWord(520), 0u);
}

} // namespace
