// The blitter's direction choice and strips, worked out by hand.
#include "bitblt.h"

#include <gtest/gtest.h>

namespace {

struct Directions {
    int vertical = 1, horizontal = 1;
};

Directions Select(int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h)
{
    Directions d;
    SelectDirection(sx, sy, dx, dy, w, h, &d.vertical, &d.horizontal);
    return d;
}

TEST(BitBltDirection, OverlapsChooseTheDirectionThatReadsBeforeWriting)
{
    Directions d = Select(0, 0, 10, 0, 2000, 6);   // right shift on the same rows
    EXPECT_EQ(d.vertical, 1);
    EXPECT_EQ(d.horizontal, 2);
    d = Select(0, 0, 0, 7, 40, 20);                 // downward move that overlaps
    EXPECT_EQ(d.vertical, 2);
    EXPECT_EQ(d.horizontal, 1);
    d = Select(10, 0, 0, 0, 100, 6);                // left shift: left to right is safe
    EXPECT_EQ(d.horizontal, 1);
    d = Select(0, 7, 0, 0, 40, 20);                 // upward move: top-down is safe
    EXPECT_EQ(d.vertical, 1);
    d = Select(0, 0, 0, 20, 40, 20);                // just below: no overlap
    EXPECT_EQ(d.vertical, 1);
    d = Select(0, 0, 5, 3, 40, 20);                 // down and right: rows decide
    EXPECT_EQ(d.vertical, 2);
    EXPECT_EQ(d.horizontal, 1);
}

TEST(BitBltStrips, RightShiftOfTwoThousandBytesRunsInFourStripsOfFiveHundred)
{
    const BitBltStrips s = BitBltStripsOf(2000, 1, kBitBltStripBytes, true);
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.width, 500u);
    EXPECT_EQ(s.last, 500u);
}

TEST(BitBltStrips, LineOfWholeLimitsSplitsEvenly)
{
    const BitBltStrips s = BitBltStripsOf(1024, 1, kBitBltStripBytes, true);
    EXPECT_EQ(s.count, 2u);
    EXPECT_EQ(s.width, 512u);
    EXPECT_EQ(s.last, 512u);
    const BitBltStrips wide = BitBltStripsOf(256, 4, kBitBltStripBytesWide, true);   // 1024 bytes
    EXPECT_EQ(wide.count, 4u);
    EXPECT_EQ(wide.width, 64u);
}

TEST(BitBltStrips, NoStripIsWiderThanTheEngineHolds)
{
    // 1535 = 3 x 511 + 2: three strips would leave a remainder strip of 513 bytes.
    const BitBltStrips s = BitBltStripsOf(1535, 1, kBitBltStripBytes, true);
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.width, 383u);
    EXPECT_EQ(s.last, 1535u - 3 * 383);
    for (uint32_t width = 1; width <= 3000; ++width)
        for (uint32_t bpp : {1u, 2u, 4u}) {
            const uint32_t limit = bpp == 4 ? kBitBltStripBytesWide : kBitBltStripBytes;
            const BitBltStrips t = BitBltStripsOf(width, bpp, limit, true);
            ASSERT_LE(t.width * bpp, limit < width * bpp ? limit : width * bpp) << width << " x " << bpp;
            ASSERT_LE(t.last * bpp, limit < width * bpp ? limit : width * bpp) << width << " x " << bpp;
            ASSERT_EQ(t.last + (t.count - 1) * t.width, width) << width << " x " << bpp;
        }
}

TEST(BitBltStrips, LeftToRightCopiesAndShortLinesTakeOneStrip)
{
    EXPECT_EQ(BitBltStripsOf(2000, 1, kBitBltStripBytes, false).count, 1u);
    const BitBltStrips s = BitBltStripsOf(400, 1, kBitBltStripBytes, true);
    EXPECT_EQ(s.count, 1u);
    EXPECT_EQ(s.last, 400u);
}

}  // namespace
