#include "bench.h"

#include "registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int W = 128, H = 96;  // inside the grating's reach with the default geometry
constexpr uint32_t kGratingChannel = 0x20000000, kViewChannel = 0x40000000;
constexpr int32_t kQuarter = 422;  // 25 µm, the constant four-step method's step at 10 lines/mm

// Every test of this program reads the bench's geometry from a settings store in memory,
// never from the user's own settings file.
class StoreEnvironment : public ::testing::Environment {
public:
    void SetUp() override { qsrf::registry::SetProcessBackend(std::make_shared<qsrf::registry::MemoryBackend>()); }
    void TearDown() override { qsrf::registry::SetProcessBackend(nullptr); }
};
const auto* const kStoreEnvironment = ::testing::AddGlobalTestEnvironment(new StoreEnvironment);

const bench::Scene kScenes[] = {bench::Scene::Demo, bench::Scene::Flat, bench::Scene::Tilted,
                                bench::Scene::Sphere, bench::Scene::Step};

double wrap(double a)
{
    return std::remainder(a, 2 * kPi);
}

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("BENCH_SCENE");
        unsetenv("BENCH_SEED");
        bench::reset();
        cfg = bench::config();
    }
    void TearDown() override { bench::reset(); }

    void apply() { bench::configure(cfg); }

    static std::vector<uint8_t> grab(uint32_t channel, int w = W, int h = H)
    {
        std::vector<uint8_t> img(static_cast<size_t>(w) * h);
        bench::CameraSettings cam;
        cam.channel = channel;
        bench::captureFrame(cam, w, h, img.data());
        return img;
    }

    // Four grating images with the phase-shift axis at start, start + step, ... counts.
    std::vector<std::vector<uint8_t>> fourSteps(int32_t start, int32_t step, int w = W, int h = H)
    {
        std::vector<std::vector<uint8_t>> images;
        for (int k = 0; k < 4; ++k) {
            bench::setAxisCounts(cfg.phaseShiftAxis, start + k * step);
            images.push_back(grab(kGratingChannel, w, h));
        }
        return images;
    }

    // The constant four-step phase of the workstation: atan2(I4 - I2, I1 - I3).
    static std::vector<double> constFourStep(const std::vector<std::vector<uint8_t>>& s)
    {
        std::vector<double> phase(s[0].size());
        for (size_t i = 0; i < phase.size(); ++i)
            phase[i] = std::atan2(double(s[3][i]) - s[1][i], double(s[0][i]) - s[2][i]);
        return phase;
    }

    bench::Config cfg;
};

// ---- The grating and the phase-shift axis -------------------------------------------

TEST_F(BenchTest, DefaultStepsInCountsAndTheirPhase)
{
    // The stage panel's rounding: trunc(um * 16.89110196616 + 0.5).
    EXPECT_EQ(bench::stepCounts(25.0), 422);
    EXPECT_EQ(bench::stepCounts(20.0), 338);
    EXPECT_EQ(bench::stepCounts(3.0), 51);
    EXPECT_EQ(bench::stepCounts(100.0), 1689);
    EXPECT_EQ(bench::stepCounts(-100.0), -1689);
    // The constant four-step step (250 / f µm) is exactly the quarter period its formula assumes.
    EXPECT_DOUBLE_EQ(bench::phasePerStep(250.0 / cfg.geometry.frequency), kPi / 2);
    EXPECT_DOUBLE_EQ(bench::phasePerCount() * kQuarter, kPi / 2);
    EXPECT_DOUBLE_EQ(bench::phasePerStep(20.0), 338 * (kPi / 2) / 422);
    EXPECT_DOUBLE_EQ(bench::phasePerStep(-25.0), -kPi / 2);
    // Another grating frequency keeps the quarter period per constant step: 250 / 20 µm = 211 counts.
    cfg.geometry.frequency = 20.0;
    apply();
    EXPECT_DOUBLE_EQ(bench::phasePerCount() * 211, kPi / 2);
}

TEST_F(BenchTest, FringePhaseMovesAQuarterPeriodPerConstantStep)
{
    cfg.noiseSigma = 0.5;
    apply();
    const auto plate = bench::plateMap(W, H);
    const auto before = constFourStep(fourSteps(0, kQuarter));
    for (int steps : {1, 2, 3}) {
        const auto after = constFourStep(fourSteps(steps * kQuarter, kQuarter));
        double worst = 0;
        for (size_t i = 0; i < before.size(); ++i)
            if (plate[i]) worst = std::max(worst, std::fabs(wrap(after[i] - before[i] - steps * kPi / 2)));
        EXPECT_LT(worst, 0.08) << steps << " steps";
    }
    // The equal four-step method's default step, 20 µm = 338 counts, shifts 338/422 of a quarter.
    const auto shifted = constFourStep(fourSteps(338, kQuarter));
    double worst = 0;
    for (size_t i = 0; i < before.size(); ++i)
        if (plate[i]) worst = std::max(worst, std::fabs(wrap(shifted[i] - before[i] - 338 * kPi / 2 / 422)));
    EXPECT_LT(worst, 0.08);
}

TEST_F(BenchTest, OnlyThePhaseShiftAxisMovesTheFringes)
{
    const auto at0 = grab(kGratingChannel);
    bench::setAxisCounts(2, 5000);
    bench::setAxisCounts(4, -300);
    EXPECT_EQ(grab(kGratingChannel), at0);
    EXPECT_DOUBLE_EQ(bench::currentPhaseShift(), 0.0);
    bench::setAxisCounts(1, kQuarter);
    EXPECT_NE(grab(kGratingChannel), at0);
    EXPECT_DOUBLE_EQ(bench::currentPhaseShift(), kPi / 2);

    cfg.phaseShiftAxis = 3;
    apply();
    bench::setAxisCounts(1, 0);
    bench::setAxisCounts(3, 0);
    const auto axis3At0 = grab(kGratingChannel);
    bench::setAxisCounts(1, kQuarter);
    EXPECT_EQ(grab(kGratingChannel), axis3At0);
    bench::setAxisCounts(3, 2 * kQuarter);
    EXPECT_DOUBLE_EQ(bench::currentPhaseShift(), kPi);
    EXPECT_NE(grab(kGratingChannel), axis3At0);
}

// ---- Determinism ----------------------------------------------------------------------

TEST_F(BenchTest, SameSeedAndPositionGiveIdenticalImagesOthersDiffer)
{
    cfg.seed = 7;
    apply();
    const auto first = grab(kGratingChannel);
    EXPECT_EQ(grab(kGratingChannel), first);
    apply();  // configuring again with the same seed changes nothing
    EXPECT_EQ(grab(kGratingChannel), first);
    bench::setAxisCounts(1, 4 * kQuarter);  // a whole period on: same fringes, other noise
    const auto wholeTurn = grab(kGratingChannel);
    EXPECT_NE(wholeTurn, first);
    size_t close = 0;
    for (size_t i = 0; i < first.size(); ++i) close += std::abs(int(wholeTurn[i]) - int(first[i])) <= 8;
    EXPECT_GT(close, first.size() * 99 / 100);
    bench::setAxisCounts(1, 0);

    cfg.seed = 8;
    apply();
    EXPECT_NE(grab(kGratingChannel), first);
    bench::setSeed(7);
    EXPECT_EQ(grab(kGratingChannel), first);
}

TEST_F(BenchTest, ConcurrentGrabsGiveTheSameImage)
{
    bench::setAxisCounts(1, 123);
    const auto expected = grab(kGratingChannel, 200, 150);
    std::vector<std::vector<uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&results, t] {
            for (int k = 0; k < 5; ++k) results[t] = grab(kGratingChannel, 200, 150);
        });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, expected);
}

// ---- Camera views ---------------------------------------------------------------------

TEST_F(BenchTest, ObjectViewHasNoFringes)
{
    cfg.noiseSigma = 0;
    apply();
    EXPECT_FALSE(bench::showsGrating(kViewChannel));
    EXPECT_TRUE(bench::showsGrating(kGratingChannel));
    EXPECT_TRUE(bench::showsGrating(0x1000000));
    const auto view = grab(kViewChannel);
    const auto plate = bench::plateMap(W, H);
    for (size_t i = 0; i < view.size(); ++i) ASSERT_EQ(view[i], plate[i] ? 200 : 20) << i;
    bench::setAxisCounts(1, 1000);  // the grating moving changes nothing in this view
    EXPECT_EQ(grab(kViewChannel), view);
    // A mean threshold keeps the plate and rejects the surround, and sits well below the
    // plate: more than three widths of a camera noise of 3 grey levels.
    const double mean = std::accumulate(view.begin(), view.end(), 0.0) / view.size();
    EXPECT_LT(mean, 190);
    EXPECT_GT(mean, 20);
    // The grating view of the same plate spans most of the grey range.
    const auto fringes = grab(kGratingChannel);
    uint8_t lo = 255, hi = 0;
    for (size_t i = 0; i < fringes.size(); ++i)
        if (plate[i]) lo = std::min(lo, fringes[i]), hi = std::max(hi, fringes[i]);
    EXPECT_LE(lo, 35);
    EXPECT_GE(hi, 220);
}

TEST_F(BenchTest, ViewChannelIsConfigurable)
{
    cfg.noiseSigma = 0;
    cfg.viewChannel = 0x20000000;
    apply();
    EXPECT_FALSE(bench::showsGrating(0x20000000));
    EXPECT_TRUE(bench::showsGrating(0x40000000));
    EXPECT_EQ(grab(0x20000000)[0], 200);
}

TEST_F(BenchTest, BrightnessContrastAndSaturation)
{
    cfg.noiseSigma = 0;
    apply();
    bench::CameraSettings cam;
    cam.channel = kViewChannel;
    std::vector<uint8_t> img(W * H);
    cam.contrast = 0.5;
    cam.brightness = 10;
    bench::captureFrame(cam, W, H, img.data());
    EXPECT_EQ(img[0], 110);  // 0.5 * 200 + 10
    EXPECT_EQ(img[W * H - 1], 20);  // the surround: 0.5 * 20 + 10
    cam.contrast = 2.0;
    cam.brightness = 0;
    bench::captureFrame(cam, W, H, img.data());
    EXPECT_EQ(img[0], 255);  // saturates
    cam.contrast = 1.0;
    cam.brightness = -300;
    bench::captureFrame(cam, W, H, img.data());
    EXPECT_EQ(*std::max_element(img.begin(), img.end()), 0);
}

TEST_F(BenchTest, NoiseHasTheConfiguredSpread)
{
    cfg.noiseSigma = 3.0;
    apply();
    const auto view = grab(kViewChannel, 256, 192);
    const auto plate = bench::plateMap(256, 192);
    double sum = 0, sum2 = 0, n = 0;
    for (size_t i = 0; i < view.size(); ++i)
        if (plate[i]) sum += view[i], sum2 += double(view[i]) * view[i], n += 1;
    const double mean = sum / n, sd = std::sqrt(sum2 / n - mean * mean);
    EXPECT_NEAR(mean, 200.0, 0.1);
    EXPECT_NEAR(sd, std::sqrt(9.0 + 1.0 / 12), 0.1);  // Gaussian plus the rounding to whole grey levels
}

TEST_F(BenchTest, AnySizeAndBadArguments)
{
    std::vector<uint8_t> sentinel(16, 77);
    bench::captureFrame(bench::CameraSettings{}, 0, 4, sentinel.data());
    bench::captureFrame(bench::CameraSettings{}, 4, -1, sentinel.data());
    EXPECT_EQ(sentinel, std::vector<uint8_t>(16, 77));
    bench::captureFrame(bench::CameraSettings{}, 4, 4, nullptr);  // nothing to write into: no crash
    EXPECT_EQ(grab(kGratingChannel, 1, 1).size(), 1u);
    EXPECT_EQ(grab(kGratingChannel, 333, 7).size(), 333u * 7);
    EXPECT_TRUE(bench::trueHeightMap(0, 5).empty());
    EXPECT_TRUE(bench::truePhaseMap(5, 0).empty());
    EXPECT_TRUE(bench::plateMap(-1, 5).empty());
}

// ---- Truth: phase, heights and the conversion -------------------------------------------

TEST_F(BenchTest, EqualFourStepFormulaGivesTheTrueWrappedPhase)
{
    // Images at -3, -2, -1 and 0 default steps, as the measurement takes them.
    const auto s = fourSteps(-3 * kQuarter, kQuarter);
    const auto truth = bench::truePhaseMap(W, H);
    const auto plate = bench::plateMap(W, H);
    // The equal four-step formula gives the phase halfway between Step2 and Step3.
    const double mid = -1.5 * kQuarter * bench::phasePerCount();
    double worst = 0, sum2 = 0;
    size_t n = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        if (!plate[i]) continue;
        const float i1 = s[0][i], i2 = s[1][i], i3 = s[2][i], i4 = s[3][i];
        float num = std::sqrt(std::fabs((3.0f * (i2 - i3) - (i1 - i4)) * ((i1 - i4) + (i2 - i3))));
        if (i1 - i4 < 0) num = -num;
        const float den = (i2 + i3) - (i1 + i4);
        float phase;
        if (std::fabs(num) < 3.4e-20f)
            phase = den >= 0 ? 0.0f : 3.1415927f;
        else if (std::fabs(den) < 3.4e-20f)
            phase = num > 0 ? 1.5707964f : -1.5707964f;
        else
            phase = std::atan2(num, den);
        const double e = std::fabs(wrap(phase - (truth[i] + mid)));
        worst = std::max(worst, e);
        sum2 += e * e;
        ++n;
    }
    ASSERT_GT(n, truth.size() / 2);
    EXPECT_LT(std::sqrt(sum2 / n), 0.025);  // noise of 1.5 grey levels on a modulation of 100
    EXPECT_LT(worst, 0.15);
}

TEST_F(BenchTest, ConstantFourStepFormulaGivesTheTruePhaseOfStep1)
{
    cfg.noiseSigma = 0;
    apply();
    const auto phase = constFourStep(fourSteps(-3 * kQuarter, kQuarter));
    const auto truth = bench::truePhaseMap(W, H);
    const auto plate = bench::plateMap(W, H);
    const double first = -3 * kQuarter * bench::phasePerCount();
    double worst = 0;
    for (size_t i = 0; i < truth.size(); ++i)
        if (plate[i]) worst = std::max(worst, std::fabs(wrap(phase[i] - (truth[i] + first))));
    EXPECT_LT(worst, 0.02);  // only the rounding to whole grey levels remains
}

// The workstation's conversion of phase to height, in 32-bit floats with each named term
// rounded, as the measurement applies it to its unwrapped phase; result in millimetres.
std::vector<float> convertPhaseToHeight(int width, int height, std::vector<float> map, float Zc, float Zcf,
                                        float Theta, float Lp, float Lpf, int X0, int Y0, float PixelX, float f)
{
    const float s = std::sin(Theta), c = std::cos(Theta);
    const float phi0 = map[static_cast<size_t>(Y0) * width + X0];
    for (float& v : map) v -= phi0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float& phi = map[static_cast<size_t>(y) * width + x];
            const float X = static_cast<float>(x - X0) * PixelX;
            const float T1 = Zc * Zcf * s + Zc * X * c;
            const float T2 = Zc * Zc * X * c;
            const float T3 = Zc * Zcf * c - Zc * X * s;
            const float T4 = -Zc * Zc * X * s + Zc * Zcf * Lp;
            const float u = phi / (6.28318531f * f) + X;
            const float N = u * T4 - Lpf * T2;
            const float D = u * T3 - Lpf * T1;
            phi = -N / D;
        }
    return map;
}

void expectConversionGivesTrueHeights(const bench::Geometry& g, int w, int h, double phaseOffset)
{
    for (bench::Scene scene : kScenes) {
        SCOPED_TRACE(bench::sceneName(scene));
        bench::setScene(scene);
        const auto phase = bench::truePhaseMap(w, h);
        const auto truth = bench::trueHeightMap(w, h);
        // The unwrapped phase of a measurement carries the phase shift of its first image.
        std::vector<float> unwrapped(phase.size());
        for (size_t i = 0; i < phase.size(); ++i)
            unwrapped[i] = std::isnan(phase[i]) ? 0.0f : static_cast<float>(phase[i] + phaseOffset);
        const auto z = convertPhaseToHeight(w, h, unwrapped, float(g.Zc), float(g.Zcf), float(g.Theta), float(g.Lp),
                                            float(g.Lpf), g.X0, g.Y0, float(g.pixelX), float(g.frequency));
        EXPECT_EQ(truth[static_cast<size_t>(g.Y0) * w + g.X0], 0.0);
        size_t lit = 0;
        double worst = 0;
        for (size_t i = 0; i < z.size(); ++i) {
            if (std::isnan(phase[i])) continue;
            ++lit;
            worst = std::max(worst, std::fabs(z[i] * 1000.0 - truth[i]));
        }
        EXPECT_GT(lit, z.size() * 9 / 10);
        EXPECT_LT(worst, 0.05) << "µm";
        const auto expected = bench::expectedHeightMap(w, h);
        for (size_t i = 0; i < z.size(); ++i)
            if (!std::isnan(phase[i])) {
                ASSERT_NEAR(expected[i], truth[i], 1e-6) << i;
            }
    }
}

TEST_F(BenchTest, HeightFormulaReturnsTheTrueHeightsWithTheDefaultGeometry)
{
    // The workstation's default conversion parameters are the bench's default geometry.
    EXPECT_EQ(cfg.geometry.Zc, 10.0);
    EXPECT_EQ(cfg.geometry.Zcf, 1.0);
    EXPECT_EQ(cfg.geometry.Lp, 10.0);
    EXPECT_EQ(cfg.geometry.Lpf, 1.0);
    EXPECT_EQ(cfg.geometry.Theta, 0.7854);
    EXPECT_EQ(cfg.geometry.frequency, 10.0);
    EXPECT_EQ(cfg.geometry.pixelX, 0.006);
    EXPECT_EQ(cfg.geometry.X0, 0);
    EXPECT_EQ(cfg.geometry.Y0, 0);
    expectConversionGivesTrueHeights(cfg.geometry, W, H, -3 * kQuarter * bench::phasePerCount());
}

TEST_F(BenchTest, HeightFormulaReturnsTheTrueHeightsWithAnotherGeometry)
{
    // Reference pixel at the right edge, longer arms: the whole of a 320-pixel field is lit.
    cfg.geometry.Zc = 40.0;
    cfg.geometry.Zcf = 20.0;
    cfg.geometry.Lp = 60.0;
    cfg.geometry.Lpf = 5.0;
    cfg.geometry.Theta = 0.5;
    cfg.geometry.X0 = 319;
    cfg.geometry.Y0 = 100;
    apply();
    expectConversionGivesTrueHeights(cfg.geometry, 320, 240, 1.0);
}

TEST_F(BenchTest, ForwardModelAndFormulaAreInverses)
{
    const auto g = cfg.geometry;
    for (int x : {0, 1, 57, 140})
        for (double h : {0.0, 0.001, 0.05, -0.02, 0.15})
            EXPECT_NEAR(bench::heightFromPhase(g, bench::phaseFromHeight(g, h, x), x), h, 1e-12) << x << " " << h;
    EXPECT_EQ(bench::phaseFromHeight(g, 0.0, g.X0), 0.0);
}

TEST_F(BenchTest, ScenesHaveTheirShapesAndStayUnwrappable)
{
    for (bench::Scene scene : kScenes) {
        SCOPED_TRACE(bench::sceneName(scene));
        bench::setScene(scene);
        const auto h = bench::trueHeightMap(W, H);
        EXPECT_EQ(h[0], 0.0);
        const auto [lo, hi] = std::minmax_element(h.begin(), h.end());
        switch (scene) {
        case bench::Scene::Flat:
            EXPECT_EQ(*hi, 0.0);
            EXPECT_EQ(*lo, 0.0);
            break;
        case bench::Scene::Tilted:
            // 100 µm across the width and 50 µm down the height.
            EXPECT_NEAR(h[W - 1] - h[0], 100.0 * (W - 1) / W, 1e-9);
            EXPECT_NEAR(h[(H - 1) * W] - h[0], 50.0 * (H - 1) / H, 1e-9);
            break;
        case bench::Scene::Sphere:
            // A cap at most half as high as its base radius (0.3 * 96 pixels of 6 µm).
            EXPECT_NEAR(*hi - *lo, 0.5 * 0.3 * 96 * 6.0, 0.5);
            break;
        case bench::Scene::Step:
            for (double v : h) ASSERT_TRUE(v == 0.0 || v == 100.0) << v;
            EXPECT_EQ(h[(H / 2) * W], 100.0);
            break;
        case bench::Scene::Demo:
            EXPECT_GT(*hi - *lo, 100.0);
            break;
        }
        // Neighbouring pixels differ by less than half a fringe, so the phase can be unwrapped.
        for (int size : {0, 1}) {
            const int w = size ? 768 : W, hh = size ? 576 : H;
            const auto p = bench::truePhaseMap(w, hh);
            for (int y = 0; y < hh; ++y)
                for (int x = 1; x < w; ++x) {
                    const double a = p[static_cast<size_t>(y) * w + x], b = p[static_cast<size_t>(y) * w + x - 1];
                    if (!std::isnan(a) && !std::isnan(b)) {
                        ASSERT_LT(std::fabs(a - b), kPi * 0.75) << x << "," << y;
                    }
                }
        }
    }
}

TEST_F(BenchTest, GratingReachesOnlyItsOwnWidth)
{
    // With the default geometry the 4 mm grating ends near column 157 on a flat object.
    cfg.scene = bench::Scene::Flat;
    cfg.noiseSigma = 0;
    apply();
    const int w = 768, h = 576;
    const auto phase = bench::truePhaseMap(w, h);
    const auto plate = bench::plateMap(w, h);
    for (int x = 0; x < w; ++x) {
        const bool lit = !std::isnan(phase[static_cast<size_t>(100) * w + x]);
        EXPECT_EQ(lit, x <= 157) << x;
        EXPECT_EQ(plate[static_cast<size_t>(100) * w + x], lit ? 1 : 0) << x;
    }
    // Beyond it both views show the ambient light only, the grating view no fringes.
    const auto view = grab(kViewChannel, w, h), fringes = grab(kGratingChannel, w, h);
    for (int x = 158; x < w - w / 10; ++x) {
        EXPECT_EQ(view[static_cast<size_t>(100) * w + x], 10) << x;
        EXPECT_EQ(fringes[static_cast<size_t>(100) * w + x], 10) << x;
    }
    // The scene is laid out where the grating reaches: the demo dome stands in the lit columns.
    bench::setScene(bench::Scene::Demo);
    const auto demo = bench::trueHeightMap(w, h);
    const auto peak = std::max_element(demo.begin(), demo.end()) - demo.begin();
    EXPECT_LT(peak % w, 158);
}

// ---- Geometry from the settings store ------------------------------------------------

const std::string kSettingsRoot = "Software\\Kestrove NT\\Qsrf\\0.01\\";

void expectGeometry(const bench::Geometry& actual, const bench::Geometry& expected)
{
    EXPECT_DOUBLE_EQ(actual.Zc, expected.Zc);
    EXPECT_DOUBLE_EQ(actual.Zcf, expected.Zcf);
    EXPECT_DOUBLE_EQ(actual.Lp, expected.Lp);
    EXPECT_DOUBLE_EQ(actual.Lpf, expected.Lpf);
    EXPECT_EQ(actual.Theta, expected.Theta);
    EXPECT_EQ(actual.frequency, expected.frequency);
    EXPECT_EQ(actual.pixelX, expected.pixelX);
    EXPECT_EQ(actual.pixelY, expected.pixelY);
    EXPECT_EQ(actual.X0, expected.X0);
    EXPECT_EQ(actual.Y0, expected.Y0);
    EXPECT_EQ(actual.gratingHalfWidth, expected.gratingHalfWidth);
}

class BenchStore : public BenchTest {
protected:
    void SetUp() override
    {
        store_ = std::make_shared<qsrf::registry::MemoryBackend>();
        scoped_ = std::make_unique<qsrf::registry::ScopedProcessBackend>(store_);
        BenchTest::SetUp();
    }
    void TearDown() override
    {
        BenchTest::TearDown();
        scoped_.reset();
    }
    void seed()
    {
        std::string problem;
        ASSERT_TRUE(bench::seedSettings(*store_, &problem)) << problem;
    }
    // Opens (creating) a key group of the settings for writing.
    static std::unique_ptr<qsrf::registry::Registry> group(const std::string& name)
    {
        auto reg = std::make_unique<qsrf::registry::Registry>();
        EXPECT_TRUE(reg->OpenKey(kSettingsRoot + name, true));
        return reg;
    }

    std::shared_ptr<qsrf::registry::MemoryBackend> store_;
    std::unique_ptr<qsrf::registry::ScopedProcessBackend> scoped_;
};

TEST_F(BenchStore, EmptyStoreGivesTheDefaultGeometry)
{
    expectGeometry(bench::storedGeometry(), bench::Geometry{});
    expectGeometry(cfg.geometry, bench::Geometry{});
}

TEST_F(BenchStore, SetupSettingsLightAndMeasureTheWholeFrame)
{
    seed();
    bench::reset();
    cfg = bench::config();
    bench::Geometry expected;
    expected.Zc = 100.0;
    expected.Zcf = 100.0;
    expected.Lp = 30.0;
    expected.Lpf = 10.0;
    expectGeometry(cfg.geometry, expected);
    // The object view is on the bench's view channel; the control parameters take it there.
    qsrf::registry::Registry reg;
    ASSERT_TRUE(reg.OpenKey(kSettingsRoot + "PSM\\ControlPara", false));
    EXPECT_EQ(uint32_t(reg.ReadInteger("ViewObjectChannel")), cfg.viewChannel);
    EXPECT_TRUE(bench::showsGrating(uint32_t(reg.ReadInteger("PhaseShiftMoireChannel"))));
    EXPECT_EQ(reg.ReadInteger("Phase Shifting Method"), 2222);

    const int w = bench::kFrameWidth, h = bench::kFrameHeight;
    for (bench::Scene scene : kScenes) {
        SCOPED_TRACE(bench::sceneName(scene));
        bench::setScene(scene);
        const auto phase = bench::truePhaseMap(w, h);
        // Lit everywhere, fringes at least 4 pixels wide.
        for (int y = 0; y < h; y += 7)
            for (int x = 1; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                ASSERT_FALSE(std::isnan(phase[i])) << x << "," << y;
                ASSERT_LT(std::fabs(phase[i] - phase[i - 1]), kPi / 2) << x << "," << y;
            }
        // All but the dark surround is plate: 738 x 553 pixels.
        const auto plate = bench::plateMap(w, h);
        EXPECT_EQ(std::accumulate(plate.begin(), plate.end(), size_t(0)), size_t(738) * 553);
    }
    // The scenes spread over the whole frame: the demo dome near the middle, the tilt to the far edge.
    bench::setScene(bench::Scene::Demo);
    const auto demo = bench::trueHeightMap(w, h);
    EXPECT_NEAR(double((std::max_element(demo.begin(), demo.end()) - demo.begin()) % w), 0.42 * w, 20);
    bench::setScene(bench::Scene::Tilted);
    EXPECT_NEAR(bench::trueHeightMap(w, h)[w - 1], 100.0 * (w - 1) / w, 1e-9);
    expectConversionGivesTrueHeights(cfg.geometry, w, h, -3 * kQuarter * bench::phasePerCount());
}

TEST_F(BenchStore, RulersAndStageOffsetsEnterAsForAProject)
{
    seed();
    {
        auto convert = group("PSM\\ConvertPara");
        convert->WriteFloat("RulerV", 0.5);
        convert->WriteFloat("RulerP", 0.25);
        convert->WriteFloat("Theta", 0.5);
        convert->WriteInteger("X0", 7);
        convert->WriteInteger("Y0", 9);
        convert->WriteFloat("Pixel X", 0.005);
        auto view = group("PI\\Ch3");   // "PI View"
        view->WriteFloat("HomePos", 0.5);
        view->WriteFloat("CurrentPos", 0.75);
        auto project = group("PI\\Ch2");   // "PI Project"
        project->WriteFloat("HomePos", 0.5);
        project->WriteFloat("CurrentPos", 0.25);
        auto control = group("PSM\\ControlPara");
        control->WriteFloat("ProjectGratingFrequency", 20.0);
    }
    bench::Geometry expected;
    expected.Zc = 0.25 + 100.0 + 0.5;   // dV + Zc0 + RulerV
    expected.Zcf = 100.0 - 0.25;        // Zcf0 - dV
    expected.Lp = -0.25 + 0.25 / std::sin(0.5) + 30.0;   // dP + RulerP / sin(Theta) + Lp0
    expected.Lpf = 10.0 + 0.25;         // Lpf0 - dP
    expected.Theta = 0.5;
    expected.X0 = 7;
    expected.Y0 = 9;
    expected.pixelX = 0.005;
    expected.frequency = 20.0;
    expectGeometry(bench::storedGeometry(), expected);

    // Taken at reset, kept until the next one; configure() overrides it meanwhile.
    EXPECT_EQ(bench::config().geometry.Zc, 10.0);
    bench::reset();
    EXPECT_DOUBLE_EQ(bench::config().geometry.Zc, 100.75);
    cfg = bench::config();
    cfg.geometry.Zc = 50.0;
    apply();
    EXPECT_EQ(bench::config().geometry.Zc, 50.0);
}

TEST_F(BenchStore, UnusableSettingsGiveTheDefaultGeometry)
{
    seed();
    group("PSM\\ConvertPara")->DeleteValue("Lp0");
    EXPECT_EQ(bench::storedGeometry().Zc, 10.0);   // a value missing from its group
    seed();
    EXPECT_EQ(bench::storedGeometry().Zc, 100.0);
    group("PSM\\ConvertPara")->WriteInteger("Zc0", 100);
    EXPECT_EQ(bench::storedGeometry().Zc, 10.0);   // another type
    seed();
    group("PSM\\ControlPara")->WriteFloat("ProjectGratingFrequency", 0.0);
    EXPECT_EQ(bench::storedGeometry().Zc, 10.0);   // no grating period
    seed();
    group("PSM\\ConvertPara")->WriteFloat("Theta", 0.0);   // RulerP / sin(Theta) with RulerP 0
    EXPECT_EQ(bench::storedGeometry().Zc, 10.0);
    // A group missing gives its own defaults only.
    seed();
    EXPECT_TRUE(store_->DeleteKey(*qsrf::registry::SplitKeyPath(kSettingsRoot + "PSM\\ControlPara")));
    const bench::Geometry g = bench::storedGeometry();
    EXPECT_EQ(g.Zc, 100.0);
    EXPECT_EQ(g.frequency, 10.0);
}

// ---- Scenes, environment and axes -------------------------------------------------------

TEST(BenchScenes, NamesRoundTrip)
{
    for (bench::Scene scene : kScenes) {
        bench::Scene parsed;
        ASSERT_TRUE(bench::parseScene(bench::sceneName(scene), &parsed));
        EXPECT_EQ(parsed, scene);
    }
    EXPECT_FALSE(bench::parseScene("cube", nullptr));
    EXPECT_FALSE(bench::parseScene("Sphere", nullptr));
}

TEST(BenchEnvironment, SceneAndSeedComeFromTheEnvironmentAtReset)
{
    setenv("BENCH_SCENE", "sphere", 1);
    setenv("BENCH_SEED", "42", 1);
    bench::reset();
    EXPECT_EQ(bench::config().scene, bench::Scene::Sphere);
    EXPECT_EQ(bench::config().seed, 42u);
    setenv("BENCH_SEED", "-3", 1);
    bench::reset();
    EXPECT_EQ(bench::config().seed, static_cast<uint64_t>(-3));

    // Values that cannot be read fall back to the defaults.
    setenv("BENCH_SCENE", "cube", 1);
    setenv("BENCH_SEED", "12abc", 1);
    bench::reset();
    EXPECT_EQ(bench::config().scene, bench::Scene::Demo);
    EXPECT_EQ(bench::config().seed, 1u);

    unsetenv("BENCH_SCENE");
    unsetenv("BENCH_SEED");
    bench::reset();
    EXPECT_EQ(bench::config().scene, bench::Scene::Demo);
    EXPECT_EQ(bench::config().seed, 1u);
}

TEST(BenchAxes, CountsOutsideTheFourAxesAreIgnored)
{
    bench::reset();
    bench::setAxisCounts(0, 5);
    bench::setAxisCounts(5, 5);
    EXPECT_EQ(bench::axisCounts(0), 0);
    EXPECT_EQ(bench::axisCounts(5), 0);
    bench::setAxisCounts(3, -12);
    EXPECT_EQ(bench::axisCounts(3), -12);
    bench::Config c = bench::config();
    c.noiseSigma = 0.25;
    bench::configure(c);
    EXPECT_EQ(bench::axisCounts(3), -12);  // configuring keeps the axes where they stand
    bench::reset();
    EXPECT_EQ(bench::axisCounts(3), 0);
    EXPECT_EQ(bench::config().noiseSigma, 0.5);
}

}  // namespace
