// Block division of host grabs: lines per block, block counts, the partial block, the
// blocks added for blanking after the window, the steps through the destination, and the
// refusals.
#include "hostblocks.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// A destination and a temporary buffer described by their descriptors only.
class Division : public ::testing::Test {
protected:
    void SetUp() override
    {
        dest_.pitch = 640;
        dest_.sizeX = 640;
        dest_.sizeY = 480;
        dest_.bands = 1;
        dest_.bits = 8;
        dest_.bandTable = &destBand_;
        destBand_.physical = 0x100000;
        TempOfLines(100, 640);
        p_.fieldMode = 0;
        p_.pixelsPerLine = 640;
        p_.lines = 480;
        p_.bitsPerPixel = 8;
        p_.tapCode = 0x1111;
        p_.vReduction = 1;
        p_.vZoom = 1;
        r_.frameLastLine = 524;
        r_.windowFirstLine = 30;
        r_.windowLastLine = 509;
    }
    // The first temporary buffer holds `lines` lines of `pitch` bytes.
    void TempOfLines(int32_t lines, uint32_t pitch)
    {
        temp_.pitch = pitch;
        temp_.sizeX = static_cast<int32_t>(pitch);
        temp_.sizeY = lines;
        for (uint32_t& w : words_) w = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&temp_));
    }
    int Divide(const _MP_BUF_ST* second = nullptr)
    {
        return SetBlockDivision(&dest_, &p_, second, &res_, &r_, words_);
    }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }

    _MP_BUF_ST dest_{};
    _MP_BAND_ST destBand_{-1, 0, 0, 0};
    _MP_BUF_ST temp_{};
    uint32_t words_[8] = {};
    _HOST_TEMP_PARAMETER_ST p_{};
    _HOST_TEMP_REGISTER_ST r_{};
    MP_RESOURCE_ST res_{};
};

TEST_F(Division, FrameModeTakesTheFirstEvenExactDivision)
{
    // 100 does not divide 480; 96 does with 5 blocks (odd); 80 gives 6.
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 80u);
    EXPECT_EQ(p_.blocks, 6u);
    EXPECT_EQ(p_.remainder, 0u);
    EXPECT_EQ(p_.lineBytes, 640u);
    EXPECT_EQ(p_.destStep, 640u * 80u);
    EXPECT_EQ(p_.secondStep, 640u * 80u);
    EXPECT_EQ(p_.blocksBeforeExtra, 6u);
    EXPECT_EQ(p_.extraBlocks, 0u);
    EXPECT_EQ(p_.linesAfterWindow, 15u);
    // Exact line bytes equal to the pitch, one frame, no taps: the block is one copy.
    EXPECT_EQ(p_.copyFlags, kHostCopyExact);
}

TEST_F(Division, AFittingBufferIsTakenAsItIs)
{
    TempOfLines(120, 640);
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 120u);
    EXPECT_EQ(p_.blocks, 4u);
}

TEST_F(Division, FieldModeAcceptsAnOddBlockCount)
{
    // 240 lines a field: 80 gives 3 blocks, odd but accepted for fields.
    p_.fieldMode = 1;
    TempOfLines(80, 640);
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 80u);
    EXPECT_EQ(p_.blocks, 3u);
    EXPECT_EQ(p_.destStep, 2u * 640u * 80u);
    EXPECT_EQ(p_.secondStep, 640u * 80u);   // doubled only with a second buffer
    EXPECT_TRUE(p_.copyFlags & kHostCopyByLine);
    // The same buffer in frame mode: 480 / 80 = 6 blocks.
    p_.fieldMode = 0;
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.blocks, 6u);
}

TEST_F(Division, BlankingOfMoreThanThreeBlocksAddsExactlyTwo)
{
    r_.frameLastLine = r_.windowLastLine + 3 * 80 + 1;
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 80u);
    EXPECT_EQ(p_.blocksBeforeExtra, 6u);
    EXPECT_EQ(p_.blocks, 8u);
    EXPECT_EQ(p_.extraBlocks, 1u);
    EXPECT_EQ(p_.linesAfterWindow, 80u + 1u);
    // Exactly three blocks of blanking add none.
    r_.frameLastLine = r_.windowLastLine + 3 * 80;
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.blocks, 6u);
    EXPECT_EQ(p_.extraBlocks, 0u);
    // A camera of type 1 counts no blanking in frame mode.
    r_.frameLastLine = r_.windowLastLine + 1000;
    p_.typeFlag = 1;
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.linesAfterWindow, 0u);
    EXPECT_EQ(p_.extraBlocks, 0u);
}

TEST_F(Division, TooSmallABufferOrALineWithoutBytesIsRefused)
{
    TempOfLines(1, 600);
    EXPECT_EQ(Divide(), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), kHostTempTooSmall);
    EXPECT_EQ(Text(), "Grab temporary buffer too small");

    res_ = MP_RESOURCE_ST{};
    TempOfLines(100, 640);
    p_.bitsPerPixel = 4;   // no whole byte a pixel: a line of no bytes
    EXPECT_EQ(Divide(), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    res_ = MP_RESOURCE_ST{};
    p_.bitsPerPixel = 8;
    p_.pixelsPerLine = 0;
    EXPECT_EQ(Divide(), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
}

TEST_F(Division, NoDivisionIsRefusedWithAnAttributeError)
{
    // 7 lines (prime) cannot make three or more even blocks of an exact or partial kind.
    p_.lines = 7;
    TempOfLines(2, 640);
    EXPECT_EQ(Divide(), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_BUFFER_ATTRIBUTE);
}

TEST_F(Division, APartialBlockMakesTheCountEven)
{
    // 103 lines with room for 20: no exact division (103 is prime); 20 leaves 3 (< 18);
    // 19 leaves 8; ... 17 leaves 1; 15 leaves 13 = 15 - 2 with 6 blocks (even): refused;
    // 13 leaves 12 >= 11 with 7 blocks (odd): taken, 7 + the partial block = 8.
    p_.lines = 103;
    TempOfLines(20, 640);
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 13u);
    EXPECT_EQ(p_.blocks, 7u);
    EXPECT_EQ(p_.remainder, 12u);
    // Fields never take a partial block: 51 lines a field, at least 4 blocks for an odd
    // line count; 17 x 3 has too few blocks, 3 x 17 is taken.
    p_.fieldMode = 1;
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.minBlocks, 4u);
    EXPECT_EQ(p_.linesPerBlock, 3u);
    EXPECT_EQ(p_.blocks, 17u);
    EXPECT_EQ(p_.remainder, 0u);
}

TEST_F(Division, ReductionZoomAndTapsScaleTheSteps)
{
    // Lines per block must be a multiple of the reduction (4): 80 is.
    p_.vReduction = 4;
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 80u);
    EXPECT_EQ(p_.destStep, 640u * 80u / 4u);
    // A reduction of 3: 480 = 3 x 160; 60 (8 blocks) is the first multiple of 3 that fits.
    p_.vReduction = 3;
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.linesPerBlock, 60u);
    EXPECT_EQ(p_.blocks, 8u);
    EXPECT_EQ(p_.destStep, 640u * 60u / 3u);
    // Zoom 2 doubles the destination step only.
    p_.vReduction = 1;
    p_.vZoom = 2;
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.destStep, 2u * 640u * 80u);
    EXPECT_EQ(p_.secondStep, 640u * 80u);
    // Tap code 0x1114: a quarter of the lines each tap, both steps quadrupled.
    p_.vZoom = 1;
    p_.tapCode = kTapCodeFourLines;
    p_.tapStep = 2;
    ASSERT_EQ(Divide(), 0) << Text();
    // 120 lines: 60 gives 2 blocks, 40 gives 3 (odd), 30 gives 4.
    EXPECT_EQ(p_.linesPerBlock, 30u);
    EXPECT_EQ(p_.blocks, 4u);
    EXPECT_EQ(p_.destStep, 4u * 640u * 30u);
}

TEST_F(Division, LineBytesAreRoundedAndAlignmentNoted)
{
    p_.pixelsPerLine = 641;
    ASSERT_EQ(Divide(), 0) << Text();
    EXPECT_EQ(p_.lineBytes, 644u);
    EXPECT_EQ(p_.copyFlags, kHostCopyRounded | kHostCopyByLine);
    p_.pixelsPerLine = 640;
    destBand_.physical = 0x100002;
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.destAlign, 2u);
    EXPECT_EQ(p_.copyFlags, kHostCopyRounded | kHostCopyByLine);
    // A 32-bit line is four bytes a pixel.
    destBand_.physical = 0x100000;
    p_.bitsPerPixel = 32;
    dest_.pitch = 2560;
    TempOfLines(100, 2560);
    ASSERT_EQ(Divide(), 0);
    EXPECT_EQ(p_.lineBytes, 2560u);
    EXPECT_EQ(p_.copyFlags, kHostCopyExact);
}

}  // namespace
