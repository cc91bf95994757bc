// The second-family module's buffer controller on the virtual clock: a start through
// FAF_GRBCTL0 digitises the test pattern block by block through the channel's input LUT,
// keeps FAF_TSTSTS bit 6 while it runs, toggles the status line's word at each frame's end;
// a single frame
// ends by itself, a continuous grab runs until the abort bit; nothing acts inside the write.
#include "framegen.h"
#include "../irqwait.h"
#include "kvxmodulefixture.h"
#include "regmap/kvx_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using namespace boardsim;
using kvxfixture::kFrameNanos;
using kvxfixture::kMemoryFirst;

namespace {

constexpr uint32_t kGrbCtl0 = 0x308, kTstSts = 0x318;
constexpr uint32_t kStatusBuffer = 0x2000;                         // board offset of the status line
constexpr uint32_t kLineBytes = 64, kBlockLines = 4, kBlocks = 3;

class SimKvxGrabTest : public kvxfixture::KvxModuleBoardTest {
protected:
    void SetUp() override
    {
        KvxModuleBoardTest::SetUp();
        if (HasFatalFailure()) return;
        // The block plan as the library leaves it, and the status line where the Orlo's
        // idle grab set points.
        PlanBlocks(kLineBytes, kBlockLines, kBlocks);
        HwWrite32(regs_, kOrloGFSTART, kMemoryFirst + kStatusBuffer + 2);
        HwWrite32(regs_, kOrloGLPITCH, 0x100);
        HwWrite32(regs_, kOrloGC1FOFF, 0x108);
    }
    uint32_t FieldCount(uint32_t channel)
    {
        return (HwRead16(memory_, kStatusBuffer + 0x128 + 0x20 * channel) & 0x7FF8) >> 3;
    }
    // The block's expected line k: frame line block x n + k through the LUT given.
    static std::vector<uint8_t> Expected(uint64_t frame, uint32_t block, const uint8_t* lut)
    {
        std::vector<uint8_t> out;
        for (uint32_t k = 0; k < kBlockLines; ++k)
            for (uint32_t x = 0; x < kLineBytes; ++x) {
                const uint32_t v = TestPatternGenerator::value(x, block * kBlockLines + k, frame, 0, 8);
                out.push_back(lut ? lut[v] : static_cast<uint8_t>(v));
            }
        return out;
    }
};

TEST_F(SimKvxGrabTest, ASingleFrameDigitisesEveryBlockThroughTheLutAndEnds)
{
    // An inverting LUT 0 through the ISF ports.
    Set(kvxregs::ISF_LUTEN, 1);
    Set(kvxregs::ISF_LUTIDX, 0);
    uint8_t lut[256];
    for (uint32_t e = 0; e < 256; ++e) {
        lut[e] = static_cast<uint8_t>(255 - e);
        HwWrite32(port_, 2 * kvxregs::ISF_LUTDATA, lut[e]);
    }
    Set(kGrbCtl0, 0x8);
    EXPECT_FALSE(Kvx().grabActive(0)) << "the write only schedules the start";
    Settle();
    EXPECT_TRUE(Kvx().grabActive(0));
    EXPECT_EQ(Get(kTstSts) & 0x40, 0x40);

    for (uint32_t block = 0; block < kBlocks; ++block) {
        ASSERT_TRUE(RunUntil([&] { return Kvx().blocksDigitised(0) > block; })) << block;
        EXPECT_EQ(Kvx().lineBuffer(0), Expected(0, block, lut)) << "block " << block;
    }
    ASSERT_TRUE(RunUntil([] { return !Kvx().grabActive(0); }));
    EXPECT_EQ(Get(kTstSts) & 0x40, 0);
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    EXPECT_EQ(FieldCount(0), 1u);
    EXPECT_EQ(FieldCount(1), 0u);
    // Nothing more runs: the clock moves on without another block.
    BoardSim::instance().advance(0.05);
    EXPECT_EQ(Kvx().blocksDigitised(0), kBlocks);
}

TEST_F(SimKvxGrabTest, AContinuousGrabRunsFramesUntilTheAbortBit)
{
    // LUT 0 left as it starts (all zero) would hide the pattern: an identity ramp.
    Set(kvxregs::ISF_LUTEN, 1);
    Set(kvxregs::ISF_LUTIDX, 0);
    for (uint32_t e = 0; e < 256; ++e) HwWrite32(port_, 2 * kvxregs::ISF_LUTDATA, e);
    Set(kGrbCtl0, 0x2);
    ASSERT_TRUE(RunUntil([] { return Kvx().framesDigitised(0) >= 2; }));
    EXPECT_TRUE(Kvx().grabActive(0));
    EXPECT_EQ(FieldCount(0), Kvx().framesDigitised(0) & 1) << "the status word toggles at each frame's end";
    ASSERT_TRUE(RunUntil([] { return Kvx().blocksDigitised(0) % kBlocks == 1; }));
    // The second frame's pattern has moved on by one pixel.
    const uint64_t frame = Kvx().framesDigitised(0);
    uint8_t ramp[256];
    for (uint32_t e = 0; e < 256; ++e) ramp[e] = static_cast<uint8_t>(e);
    EXPECT_EQ(Kvx().lineBuffer(0), Expected(frame, 0, ramp));

    Set(kGrbCtl0, 0x1);
    Settle();
    EXPECT_FALSE(Kvx().grabActive(0));
    EXPECT_EQ(Get(kTstSts) & 0x60, 0);
    const uint64_t blocks = Kvx().blocksDigitised(0);
    BoardSim::instance().advance(0.05);
    EXPECT_EQ(Kvx().blocksDigitised(0), blocks) << "no block after the abort";
}

TEST_F(SimKvxGrabTest, AnAbortedChannelStartsAgainAndAPlanTooLargeStartsNothing)
{
    Set(kGrbCtl0, 0x2);
    Settle();
    ASSERT_TRUE(Kvx().grabActive(0));
    Set(kGrbCtl0, 0x1);
    Settle();
    ASSERT_FALSE(Kvx().grabActive(0));
    Set(kGrbCtl0, 0x8);
    Settle();
    EXPECT_TRUE(Kvx().grabActive(0)) << "a new single frame after the abort";
    ASSERT_TRUE(RunUntil([] { return !Kvx().grabActive(0); }));

    // An Orlo left on another grab's registers: the frame's status line is not written.
    EXPECT_EQ(FieldCount(0), 1u);
    HwWrite32(regs_, kOrloGLPITCH, 0x200);
    Set(kGrbCtl0, 0x8);
    Settle();
    ASSERT_TRUE(RunUntil([] { return !Kvx().grabActive(0); }));
    EXPECT_EQ(Kvx().framesDigitised(0), 2u);
    EXPECT_EQ(FieldCount(0), 1u) << "the old count stays";

    // 0x1FF + 1 blocks of 4 lines: more lines than a frame can hold.
    Set(kvxregs::BTC_DFULL(0), 0x1FF);
    Set(kvxregs::BTC_GLINE(0), 63);
    Set(kGrbCtl0, 0x8);
    Settle();
    EXPECT_FALSE(Kvx().grabActive(0));
    EXPECT_EQ(Get(kTstSts) & 0x40, 0);
}

TEST_F(SimKvxGrabTest, TheListDoorbellIsTakenAfterTheWriteAsSource39)
{
    using boardtest::InterruptWords;
    using boardtest::SourceWords;
    std::unique_ptr<InterruptWords> words(new InterruptWords(node_));
    ASSERT_TRUE(words->enable(kListDoorbellSourcePrimary));
    HwWrite32(regs_, kOrloInterruptSet, kInterruptListDoorbell);
    EXPECT_TRUE(words->take().empty()) << "not inside the write";
    EXPECT_EQ(HwRead32(regs_, kOrloInterruptSet) & kInterruptListDoorbell, kInterruptListDoorbell);
    BoardSim::instance().advance(10e-6);
    EXPECT_EQ(words->take(), SourceWords(39));
    EXPECT_EQ(HwRead32(regs_, kOrloInterruptSet) & kInterruptListDoorbell, 0u) << "taken once";
    BoardSim::instance().advance(0.001);
    EXPECT_TRUE(words->take().empty());
}

} // namespace
