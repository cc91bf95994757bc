#include "bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int W = 160, H = 120;
constexpr uint32_t kGratingChannel = 0x20000000, kViewChannel = 0x40000000;

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench::reset();
        cfg = bench::config();
        cfg.scene = bench::Scene::Demo;
        cfg.seed = 7;
        bench::configure(cfg);
    }
    void TearDown() override { bench::reset(); }

    std::vector<uint8_t> grab(uint32_t channel, int w = W, int h = H)
    {
        std::vector<uint8_t> img(static_cast<size_t>(w) * h);
        bench::CameraSettings cam;
        cam.channel = channel;
        bench::captureFrame(cam, w, h, img.data());
        return img;
    }

    // Counts that shift the grating by a quarter period.
    int32_t quarterCounts() const { return static_cast<int32_t>(std::lround(kPi / 2 / bench::phasePerCount())); }

    bench::Config cfg;
};

TEST_F(BenchTest, PhaseShiftPerCountFollowsGratingPeriodAndCountsPerMicrometre)
{
    // One period is 1000 / f micrometres of axis travel = 1000 / f * countsPerUm counts.
    const double countsPerPeriod = 1000.0 / cfg.geometry.frequency * cfg.countsPerUm;
    EXPECT_NEAR(bench::phasePerCount() * countsPerPeriod, 2 * kPi, 1e-12);
    // The 25 µm step the workstation takes at 10 lines/mm (422 counts) is a quarter period.
    EXPECT_NEAR(bench::phasePerCount() * 25.0 * cfg.countsPerUm, kPi / 2, 1e-12);
    bench::setAxisCounts(cfg.phaseShiftAxis, 1000);
    EXPECT_NEAR(bench::currentPhaseShift(), 1000 * bench::phasePerCount(), 1e-12);
    bench::setAxisCounts(cfg.phaseShiftAxis % 4 + 1, 5000);  // another axis does not shift the grating
    EXPECT_NEAR(bench::currentPhaseShift(), 1000 * bench::phasePerCount(), 1e-12);
}

TEST_F(BenchTest, SameSeedAndPositionGiveIdenticalImages)
{
    EXPECT_EQ(grab(kGratingChannel), grab(kGratingChannel));
    const auto first = grab(kGratingChannel);
    bench::configure(cfg);  // configuring again with the same seed changes nothing
    EXPECT_EQ(first, grab(kGratingChannel));
    cfg.seed = 8;
    bench::configure(cfg);
    EXPECT_NE(first, grab(kGratingChannel));
}

TEST_F(BenchTest, MovingThePhaseShiftAxisMovesTheFringes)
{
    const auto before = grab(kGratingChannel);
    bench::setAxisCounts(cfg.phaseShiftAxis, quarterCounts() * 2);  // half a period: fringes invert
    const auto after = grab(kGratingChannel);
    const auto plate = bench::plateMap(W, H);
    double corr = 0, n = 0;
    double mb = 0, ma = 0;
    for (size_t i = 0; i < before.size(); ++i)
        if (plate[i]) mb += before[i], ma += after[i], n += 1;
    mb /= n, ma /= n;
    for (size_t i = 0; i < before.size(); ++i)
        if (plate[i]) corr += (before[i] - mb) * (after[i] - ma);
    EXPECT_LT(corr, 0.0);
}

TEST_F(BenchTest, ViewChannelShowsTheObjectWithoutFringes)
{
    cfg.noiseSigma = 0;
    bench::configure(cfg);
    const auto view = grab(kViewChannel);
    const auto plate = bench::plateMap(W, H);
    uint8_t platePixel = 0, bandPixel = 0;
    for (size_t i = 0; i < view.size(); ++i) {
        if (plate[i]) {
            if (platePixel == 0) platePixel = view[i];
            EXPECT_EQ(view[i], platePixel) << i;
        } else {
            if (bandPixel == 0) bandPixel = view[i];
            EXPECT_EQ(view[i], bandPixel) << i;
        }
    }
    EXPECT_EQ(platePixel, 200);
    EXPECT_EQ(bandPixel, 50);
    // The plate lies above the image's mean, so a mean threshold keeps the whole plate.
    const double mean = std::accumulate(view.begin(), view.end(), 0.0) / view.size();
    EXPECT_LT(mean, platePixel);
    EXPECT_GT(mean, bandPixel);
}

TEST_F(BenchTest, BrightnessAndContrastAct)
{
    cfg.noiseSigma = 0;
    bench::configure(cfg);
    bench::CameraSettings cam;
    cam.channel = kViewChannel;
    std::vector<uint8_t> img(W * H);
    cam.contrast = 0.5;
    cam.brightness = 10;
    bench::captureFrame(cam, W, H, img.data());
    EXPECT_EQ(img[0], 110);  // 0.5 * 200 + 10
    cam.contrast = 2.0;
    cam.brightness = 0;
    bench::captureFrame(cam, W, H, img.data());
    EXPECT_EQ(img[0], 255);  // saturates
}

TEST_F(BenchTest, FourStepFormulaRecoversTheTruePhase)
{
    // Constant four-step phase shifting: images at -3, -2, -1 and 0 quarter periods,
    // phase = atan2(I4 - I2, I1 - I3) as the workstation computes it.
    cfg.noiseSigma = 0.5;
    bench::configure(cfg);
    const int32_t q = quarterCounts();
    std::vector<std::vector<uint8_t>> steps;
    for (int k = -3; k <= 0; ++k) {
        bench::setAxisCounts(cfg.phaseShiftAxis, k * q);
        steps.push_back(grab(kGratingChannel));
    }
    const auto truth = bench::truePhaseMap(W, H);
    const auto plate = bench::plateMap(W, H);
    const double offset = -3 * q * bench::phasePerCount();  // the phase shift of the first image
    double worst = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        if (!plate[i]) continue;
        const double num = double(steps[3][i]) - steps[1][i], den = double(steps[0][i]) - steps[2][i];
        double d = std::atan2(num, den) - (truth[i] + offset);
        d = std::remainder(d, 2 * kPi);
        worst = std::max(worst, std::fabs(d));
    }
    EXPECT_LT(worst, 0.05);
}

TEST_F(BenchTest, HeightConversionInvertsTheForwardModel)
{
    const auto g = cfg.geometry;
    for (int x : {0, 1, 57, 300, 767})
        for (double h : {0.0, 0.001, 0.05, -0.02, 0.3})
            EXPECT_NEAR(bench::heightFromPhase(g, bench::phaseFromHeight(g, h, x), x), h, 1e-12) << x << " " << h;
    EXPECT_EQ(bench::phaseFromHeight(g, 0.0, g.X0), 0.0);
}

TEST_F(BenchTest, ConversionFormulaAsTheWorkstationWritesItGivesTheTrueHeights)
{
    // The conversion of the workstation, written out from its own terms.
    const auto phase = bench::truePhaseMap(W, H);
    const auto heights = bench::trueHeightMap(W, H);
    const auto g = cfg.geometry;
    const double s = std::sin(g.Theta), c = std::cos(g.Theta);
    const double phi0 = phase[g.Y0 * W + g.X0];
    for (int y = 0; y < H; y += 7)
        for (int x = 0; x < W; x += 5) {
            const double X = (x - g.X0) * g.pixelX;
            const double T1 = g.Zc * g.Zcf * s + g.Zc * X * c, T2 = g.Zc * g.Zc * X * c;
            const double T3 = g.Zc * g.Zcf * c - g.Zc * X * s, T4 = -g.Zc * g.Zc * X * s + g.Zc * g.Zcf * g.Lp;
            const double u = (phase[y * W + x] - phi0) / (2 * kPi * g.frequency) + X;
            const double z = -(u * T4 - g.Lpf * T2) / (u * T3 - g.Lpf * T1);
            EXPECT_NEAR(z, heights[y * W + x], 1e-9);
        }
    const auto expected = bench::expectedHeightMap(W, H);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_NEAR(expected[i], heights[i], 1e-9);
}

TEST_F(BenchTest, ScenesAreZeroAtTheReferencePixelAndHaveShape)
{
    for (auto scene : {bench::Scene::Demo, bench::Scene::Flat, bench::Scene::Tilted, bench::Scene::Sphere, bench::Scene::Step}) {
        cfg.scene = scene;
        bench::configure(cfg);
        const auto h = bench::trueHeightMap(W, H);
        EXPECT_EQ(h[0], 0.0) << bench::sceneName(scene);
        const auto [lo, hi] = std::minmax_element(h.begin(), h.end());
        if (scene == bench::Scene::Flat)
            EXPECT_EQ(*hi - *lo, 0.0);
        else
            EXPECT_GT(*hi - *lo, 0.005) << bench::sceneName(scene);
        // Fringes stay below half a period per pixel, so the phase can be unwrapped.
        const auto p = bench::truePhaseMap(W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 1; x < W; ++x) ASSERT_LT(std::fabs(p[y * W + x] - p[y * W + x - 1]), kPi / 2);
    }
}

TEST(BenchScenes, NamesRoundTrip)
{
    for (auto scene : {bench::Scene::Demo, bench::Scene::Flat, bench::Scene::Tilted, bench::Scene::Sphere, bench::Scene::Step}) {
        bench::Scene parsed;
        ASSERT_TRUE(bench::parseScene(bench::sceneName(scene), &parsed));
        EXPECT_EQ(parsed, scene);
    }
    EXPECT_FALSE(bench::parseScene("cube", nullptr));
}

TEST(BenchAxes, CountsOutsideTheFourAxesAreIgnored)
{
    bench::setAxisCounts(0, 5);
    bench::setAxisCounts(5, 5);
    EXPECT_EQ(bench::axisCounts(0), 0);
    EXPECT_EQ(bench::axisCounts(5), 0);
    bench::setAxisCounts(3, -12);
    EXPECT_EQ(bench::axisCounts(3), -12);
    bench::reset();
    EXPECT_EQ(bench::axisCounts(3), 0);
}

}  // namespace
