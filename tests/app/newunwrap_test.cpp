#include "Newunwrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Apperror.h"

namespace {

constexpr double kTwoPi = 6.28318530718;

float Wrap(double v)
{
    double w = std::fmod(v + M_PI, 2 * M_PI);
    if (w < 0) w += 2 * M_PI;
    return static_cast<float>(w - M_PI);
}

// ---- queue ------------------------------------------------------------------------------

TEST(UnwrapQueue, FirstInFirstOutAcrossTheRingEnd)
{
    TUnwrapQueue q(3);
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Capacity(), 3u);
    for (int round = 0; round < 5; ++round) {   // head and tail wrap several times
        q.Push(10 + round, 20, 11 + round, 20, -round);   // reached from the right
        q.Push(7, 8, 7, 7, 100000 + round);               // reached from above
        EXPECT_EQ(q.Count(), 2u);
        TUnwrapNode a = q.Pop();
        EXPECT_EQ(a.x, 10 + round);
        EXPECT_EQ(a.y, 20);
        EXPECT_EQ(a.fromX, 11 + round);
        EXPECT_EQ(a.fromY, 20);
        EXPECT_EQ(a.count, -round);
        TUnwrapNode b = q.Pop();
        EXPECT_EQ(b.x, 7);
        EXPECT_EQ(b.fromY, 7);
        EXPECT_EQ(b.count, 100000 + round);
        EXPECT_TRUE(q.IsEmpty());
    }
}

TEST(UnwrapQueue, KeepsEverySideAndTheStartMark)
{
    TUnwrapQueue q(8);
    const TUnwrapNode nodes[] = {{5, 5, -2, -2, 0},  {5, 4, 5, 5, 1},   {4, 5, 5, 5, -1},
                                 {5, 6, 5, 5, 7},    {6, 5, 5, 5, -9},  {0, 0, 1, 0, TUnwrapQueue::kMaxCount - 1},
                                 {65535, 65535, 65535, 65534, -(TUnwrapQueue::kMaxCount - 1)}};
    for (const auto& n : nodes) q.Push(n.x, n.y, n.fromX, n.fromY, n.count);
    for (const auto& n : nodes) {
        const TUnwrapNode got = q.Pop();
        EXPECT_EQ(got.x, n.x);
        EXPECT_EQ(got.y, n.y);
        EXPECT_EQ(got.fromX, n.fromX);
        EXPECT_EQ(got.fromY, n.fromY);
        EXPECT_EQ(got.count, n.count);
    }
}

TEST(UnwrapQueue, RefusesWhatItCannotHold)
{
    TUnwrapQueue q(2);
    EXPECT_THROW(q.Push(3, 3, 5, 3, 0), std::invalid_argument);    // not a neighbour
    EXPECT_THROW(q.Push(3, 3, 4, 4, 0), std::invalid_argument);    // diagonal
    EXPECT_THROW(q.Push(65536, 0, 65535, 0, 0), std::invalid_argument);
    EXPECT_THROW(q.Push(1, 1, 1, 0, TUnwrapQueue::kMaxCount), std::invalid_argument);
    EXPECT_TRUE(q.IsEmpty());
    q.Push(1, 1, -2, -2, 0);
    q.Push(2, 2, 2, 1, 2);
    EXPECT_THROW(q.Push(3, 3, -2, -2, 3), std::length_error);
    q.Pop();
    q.Pop();
    EXPECT_THROW(q.Pop(), std::length_error);
}

// ---- construction -----------------------------------------------------------------------

TEST(NewUnwrap, RefusesStartOutsideTheMapAndEmptyMaps)
{
    std::vector<float> phase(12, 0.0f);
    try {
        TNewUnwrapForm u(4, 3, nullptr, phase.data(), 4, 0);
        FAIL() << "start column 4 accepted";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "The unwrap start point (4, 0) lies outside the image of 4 x 3 pixels");
    }
    EXPECT_THROW(TNewUnwrapForm(4, 3, nullptr, phase.data(), 0, 3), EAppError);
    EXPECT_THROW(TNewUnwrapForm(4, 3, nullptr, phase.data(), -1, 0), EAppError);
    EXPECT_THROW(TNewUnwrapForm(0, 3, nullptr, phase.data(), 0, 0), EAppError);
    EXPECT_THROW(TNewUnwrapForm(4, 3, nullptr, nullptr, 0, 0), EAppError);
    EXPECT_THROW(TNewUnwrapForm(70000, 1, nullptr, phase.data(), 0, 0), EAppError);   // too wide
    TNewUnwrapForm ok(4, 3, nullptr, phase.data(), 3, 2);
    EXPECT_FLOAT_EQ(ok.Threshold(), 3.14159274f);
    EXPECT_THROW(ok.Unwrap(), std::logic_error);   // Prepare first
}

// ---- residues ---------------------------------------------------------------------------

TEST(NewUnwrap, VortexMarksItsFourPixelsOnly)
{
    // Column 0-1 loop: 0 -> 1.5 -> 3.0 -> -1.6 -> 0 turns once; column 1-2 loop does not.
    const std::vector<float> phase = {0.0f, -1.6f, -1.6f,
                                      1.5f, 3.0f, -1.0f};
    TNewUnwrapForm u(3, 2, nullptr, phase.data(), 2, 0);
    u.Prepare();
    const std::vector<uint8_t> marker(u.Marker(), u.Marker() + 6);
    EXPECT_EQ(marker, (std::vector<uint8_t>{255, 255, 0, 255, 255, 0}));
}

TEST(NewUnwrap, SmoothMapHasNoResidues)
{
    std::vector<float> phase(8 * 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) phase[y * 8 + x] = Wrap(0.9 * x + 0.7 * y);
    TNewUnwrapForm u(8, 6, nullptr, phase.data(), 0, 0);
    u.Prepare();
    for (int i = 0; i < 48; ++i) EXPECT_EQ(u.Marker()[i], 0) << i;
}

// ---- flood fill -------------------------------------------------------------------------

TEST(NewUnwrap, RampWithoutJumpsUnwrapsToItself)
{
    const int w = 17, h = 9;
    std::vector<float> phase(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) phase[y * w + x] = -6.0f + 0.5f * x + 0.3f * y;
    TNewUnwrapForm u(w, h, nullptr, phase.data(), 8, 4);
    u.Prepare();
    u.Unwrap();
    for (int i = 0; i < w * h; ++i) EXPECT_EQ(u.Output()[i], phase[i]) << i;
}

TEST(NewUnwrap, WrappedRampBecomesContinuous)
{
    for (const auto& size : {std::pair<int, int>{40, 30}, std::pair<int, int>{600, 400}}) {
        const int w = size.first, h = size.second;
        std::vector<float> phase(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) phase[y * w + x] = Wrap(0.4 * x + 0.25 * y);
        TNewUnwrapForm u(w, h, nullptr, phase.data(), 0, 0);
        u.Prepare();
        u.Unwrap();
        // The start pixel keeps its value; everything else is the ramp from there.
        double worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                worst = std::max(worst, std::fabs(u.Output()[y * w + x] - (0.4 * x + 0.25 * y)));
        EXPECT_LT(worst, 1e-4 * (1 + (w + h) / 50)) << w << " x " << h;
    }
}

TEST(NewUnwrap, BlockedStartPixelStillSeedsItsNeighbours)
{
    // Start pixel 3.0 masked; every other pixel -3.0 is a jump of 6 from it.
    std::vector<float> phase(9, -3.0f);
    phase[4] = 3.0f;
    std::vector<uint8_t> mask(9, 0);
    mask[4] = 255;
    TNewUnwrapForm u(3, 3, mask.data(), phase.data(), 1, 1);
    u.Prepare();
    u.Unwrap();
    const float turned = static_cast<float>(-3.0 + kTwoPi);
    // Every neighbour turned once against the start pixel; the masked start pixel itself
    // is filled from its row (L = R = turned) and that is then the minimum of the map.
    for (int i = 0; i < 9; ++i) EXPECT_EQ(u.Output()[i], turned) << i;
}

TEST(NewUnwrap, MarkedStartPixelIsProcessedThenItsUnblockedNeighbours)
{
    std::vector<float> phase(9, -3.0f);
    phase[4] = 3.0f;
    TNewUnwrapForm u(3, 3, nullptr, phase.data(), 1, 1);
    u.Prepare();
    u.Marker()[4] = 255;   // the start pixel is blocked
    u.Marker()[1] = 255;   // so is the pixel above it
    u.FloodFill(1, 1, u.Threshold());
    const float turned = static_cast<float>(-3.0 + kTwoPi);
    EXPECT_EQ(u.Output()[4], 3.0f);   // processed, not changed
    EXPECT_EQ(u.Output()[1], -3.0f);  // blocked: never reached
    for (int i : {0, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(u.Output()[i], turned) << i;
}

TEST(NewUnwrap, StartPixelIsCorrectedAgainstTheNeighbourThatQueuesItAgain)
{
    std::vector<float> phase(9, -3.0f);
    phase[4] = 3.0f;
    TNewUnwrapForm u(3, 3, nullptr, phase.data(), 1, 1);
    u.Prepare();
    u.Unwrap();
    // Queued again from the pixel above with one turn, then turned back: 3.0 again.
    EXPECT_NEAR(u.Output()[4], 3.0f, 1e-6);
    EXPECT_EQ(u.Output()[1], static_cast<float>(-3.0 + kTwoPi));
}

TEST(NewUnwrap, CorrectPixelAddsTurnsAndCorrectsOnce)
{
    std::vector<float> phase = {0.0f, 3.0f, -3.0f, 1.0f};
    TNewUnwrapForm u(4, 1, nullptr, phase.data(), 0, 0);
    u.Prepare();
    EXPECT_EQ(u.CorrectPixel(1, 0, -2, -2, u.Threshold(), 5), 0);   // the start pixel
    EXPECT_EQ(u.Output()[1], 3.0f);
    EXPECT_EQ(u.CorrectPixel(1, 0, 0, 0, u.Threshold(), 0), 0);     // 3 - 0 < pi
    EXPECT_EQ(u.CorrectPixel(2, 0, 1, 0, u.Threshold(), 0), 1);     // -3 is 6 below 3
    EXPECT_EQ(u.Output()[2], static_cast<float>(-3.0 + kTwoPi));
    EXPECT_EQ(u.CorrectPixel(3, 0, 0, 0, u.Threshold(), 2), 1);     // 1 + 2 turns, one back
    EXPECT_NEAR(u.Output()[3], 1.0 + kTwoPi, 1e-5);
}

TEST(NewUnwrap, UnreachablePixelKeepsItsWrappedValue)
{
    // Column 2 masked from top to bottom: the right part cannot be reached from (0, 0).
    const int w = 5, h = 3;
    std::vector<float> phase(w * h);
    std::vector<uint8_t> mask(w * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            phase[y * w + x] = Wrap(1.2 * x);
            if (x == 2) mask[y * w + x] = 255;
        }
    TNewUnwrapForm u(w, h, mask.data(), phase.data(), 0, 0);
    u.Prepare();
    u.Unwrap();
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(u.Output()[y * w + 3], phase[y * w + 3]);
        EXPECT_EQ(u.Output()[y * w + 4], phase[y * w + 4]);
    }
}

TEST(NewUnwrap, UnreachableMarkedPixelsTakeTheRowFill)
{
    // The vortex marks columns 0-1; the fill from (2, 0) reaches column 2 only.
    const std::vector<float> phase = {0.0f, -1.6f, -1.6f,
                                      1.5f, 3.0f, -1.0f};
    TNewUnwrapForm u(3, 2, nullptr, phase.data(), 2, 0);
    u.Prepare();
    u.Unwrap();
    // Run from column 1 with column 0 marked: columns 0-1 take the right neighbour.
    EXPECT_EQ(std::vector<float>(u.Output(), u.Output() + 6),
              (std::vector<float>{-1.6f, -1.6f, -1.6f, -1.0f, -1.0f, -1.0f}));
}

// ---- row fill and minimum ---------------------------------------------------------------

// One row through FillMaskedRuns with the given marker bytes.
std::vector<float> FillRow(std::vector<float> values, const std::vector<uint8_t>& marker)
{
    TNewUnwrapForm u(static_cast<int32_t>(values.size()), 1, nullptr, values.data(), 0, 0);
    u.Prepare();
    std::copy(marker.begin(), marker.end(), u.Marker());
    u.FillMaskedRuns();
    return std::vector<float>(u.Output(), u.Output() + values.size());
}

TEST(FillMaskedRuns, InterpolatesBetweenLeftAndRight)
{
    const auto row = FillRow({9, 1, -5, -5, -5, 5, 9}, {0, 0, 255, 255, 255, 0, 0});
    EXPECT_EQ(row, (std::vector<float>{9, 1, 2, 3, 4, 5, 9}));
}

TEST(FillMaskedRuns, InterpolationEndsEqualLeftAndRight)
{
    // Three marked columns between L = 0.5 and R = -3.5: steps of -1 from L to R.
    const auto row = FillRow({0.5f, 7, 7, 7, -3.5f}, {0, 255, 255, 255, 0});
    EXPECT_EQ(row.front(), 0.5f);
    EXPECT_EQ(row.back(), -3.5f);
    EXPECT_EQ(row, (std::vector<float>{0.5f, -0.5f, -1.5f, -2.5f, -3.5f}));
}

TEST(FillMaskedRuns, RunToTheRowEndTakesTheLeftValue)
{
    EXPECT_EQ(FillRow({1, 2.5f, 8, 9}, {0, 0, 255, 255}), (std::vector<float>{1, 2.5f, 2.5f, 2.5f}));
}

TEST(FillMaskedRuns, RunFromColumnOne)
{
    // Column 0 good: interpolated from it.
    EXPECT_EQ(FillRow({7, 0, 0, 1}, {0, 255, 255, 0}), (std::vector<float>{7, 5, 3, 1}));
    // Column 0 marked too: columns 0 to the run's end take the right neighbour.
    EXPECT_EQ(FillRow({7, 0, 0, 1, 6}, {255, 255, 255, 0, 0}), (std::vector<float>{1, 1, 1, 1, 6}));
    // Column 0 alone never starts a run.
    EXPECT_EQ(FillRow({7, 0, 1}, {255, 0, 0}), (std::vector<float>{7, 0, 1}));
}

TEST(FillMaskedRuns, WholeMarkedRowRestartsAtColumnTwo)
{
    // The fill from column 1 changes nothing; the scan's next start at column 2 extends
    // column 1 to the end of the row.
    EXPECT_EQ(FillRow({4, 3, 2, 1}, {255, 255, 255, 255}), (std::vector<float>{4, 3, 3, 3}));
}

TEST(FillMaskedRuns, RunGoesOnOverNonZeroMarkerBytes)
{
    // A run starts at a 255 byte and continues over any non-zero byte.
    EXPECT_EQ(FillRow({0, 1, 9, 9, 4}, {0, 0, 255, 7, 0}), (std::vector<float>{0, 1, 2, 3, 4}));
    // A non-zero byte other than 255 starts nothing.
    EXPECT_EQ(FillRow({0, 1, 9, 4}, {0, 0, 7, 0}), (std::vector<float>{0, 1, 9, 4}));
}

// The row fill as the scan defines it: at every column x >= 1 whose marker is 255, the run
// from x is filled again, with L the value left of x at that moment.
void ReferenceFill(std::vector<float>& out, const std::vector<uint8_t>& mk, int w, int h)
{
    for (int y = 0; y < h; ++y) {
        float* row = out.data() + y * w;
        const uint8_t* m = mk.data() + y * w;
        for (int x = 1; x < w; ++x) {
            if (m[x] != 255) continue;
            int e = x;
            while (e + 1 < w && m[e + 1] != 0) ++e;
            if (x > 1 || m[0] != 255) {
                const float L = row[x - 1];
                if (e < w - 1) {
                    const float R = row[e + 1];
                    for (int c = x; c <= e; ++c) row[c] = (c - (x - 1)) * (L - R) / ((x - 1) - (e + 1)) + L;
                } else {
                    for (int c = x; c < w; ++c) row[c] = L;
                }
            } else if (e < w - 1) {
                const float R = row[e + 1];
                for (int c = 0; c <= e; ++c) row[c] = R;
            }
        }
    }
}

TEST(FillMaskedRuns, SinglePassEqualsTheRepeatedScanBitForBit)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-20.0f, 20.0f);
    for (int trial = 0; trial < 200; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 40), h = 3;
        std::vector<float> phase(w * h);
        std::vector<uint8_t> mk(w * h);
        for (auto& v : phase) v = value(rng);
        for (auto& m : mk) {
            const unsigned r = rng() % 10;
            m = r < 5 ? 255 : r < 8 ? 0 : static_cast<uint8_t>(1 + rng() % 254);
        }
        TNewUnwrapForm u(w, h, nullptr, phase.data(), 0, 0);
        u.Prepare();
        std::copy(mk.begin(), mk.end(), u.Marker());
        u.FillMaskedRuns();
        std::vector<float> expected = phase;
        ReferenceFill(expected, mk, w, h);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(std::memcmp(&u.Output()[i], &expected[i], 4), 0)
                << "trial " << trial << " pixel " << i << ": " << u.Output()[i] << " vs " << expected[i];
    }
}

TEST(FillMaskedMinimum, MaskedPixelsTakeTheMinimumIncludingTheirOwn)
{
    const std::vector<float> phase = {2, -10, 3, 1};
    const std::vector<uint8_t> mask = {0, 255, 255, 0};
    TNewUnwrapForm u(2, 2, mask.data(), phase.data(), 0, 0);
    u.Prepare();
    u.FillMaskedMinimum();
    EXPECT_EQ(std::vector<float>(u.Output(), u.Output() + 4), (std::vector<float>{2, -10, -10, 1}));
}

TEST(FillMaskedMinimum, AfterUnwrapEveryMaskedPixelIsTheMapMinimum)
{
    const int w = 6, h = 4;
    std::vector<float> phase(w * h);
    std::vector<uint8_t> mask(w * h, 0);
    for (int i = 0; i < w * h; ++i) phase[i] = 0.1f * i;
    // Column 0 masked in row 2 with the smallest value: no run starts there, so it keeps
    // -1.0 through the row fill and becomes the minimum.
    phase[2 * w] = -1.0f;
    mask[2 * w] = 255;
    mask[1 * w + 3] = 255;
    mask[3 * w + 5] = 255;
    TNewUnwrapForm u(w, h, mask.data(), phase.data(), 2, 0);
    u.Prepare();
    u.Unwrap();
    for (int i = 0; i < w * h; ++i) {
        if (mask[i] == 255)
            EXPECT_EQ(u.Output()[i], -1.0f) << i;
        else
            EXPECT_EQ(u.Output()[i], phase[i]) << i;
    }
}

TEST(FillMaskedMinimum, WithoutMaskNothingChanges)
{
    const std::vector<float> phase = {2, -10, 3, 1};
    TNewUnwrapForm u(2, 2, nullptr, phase.data(), 0, 0);
    u.Prepare();
    u.FillMaskedMinimum();
    EXPECT_EQ(std::vector<float>(u.Output(), u.Output() + 4), phase);
}

}  // namespace
