// The accuracy of a whole-frame measurement in the bench set-up, over camera noise, scenes
// and seeds, and the README's sentence that states it.
#include "bench_fixture.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr int kW = bench::kFrameWidth, kH = bench::kFrameHeight;

// The RMS height error (µm, about the frame's mean error) the README gives for a camera
// noise (grey levels), and the RMS it adds per grey level from 2 to 4 grey levels.
struct Figure {
    double noise, rms;
};
constexpr Figure kFigures[] = {{0.0, 0.20}, {0.5, 0.27}, {2.0, 0.95}, {4.0, 1.88}};
constexpr double kRmsPerGreyLevel = 0.47;
// The reference pixel's own error shifts the whole map by at most this many times the RMS.
constexpr double kOffsetPerRms = 3.0;   // "three times" in the sentence

std::string Collapsed(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string Number(const char* format, double v)
{
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The README's accuracy sentence, made of the figures this test measures.
std::string AccuracySentence()
{
    return "The camera noise is " + Number("%g", bench::Config{}.noiseSigma) +
           " grey levels. Measured over the whole frame in the bench set-up (below), in every scene, the "
           "heights differ from the true ones, less their mean offset, by " + Number("%.2f", kFigures[0].rms) +
           " µm RMS from the 8-bit grey levels alone and by about " + Number("%.2f", kRmsPerGreyLevel) +
           " µm RMS per grey level of camera noise: " + Number("%.2f", kFigures[1].rms) + " µm at " +
           Number("%g", kFigures[1].noise) + ", " + Number("%.2f", kFigures[2].rms) + " µm at " +
           Number("%g", kFigures[2].noise) + " and " + Number("%.2f", kFigures[3].rms) + " µm at " +
           Number("%g", kFigures[3].noise) +
           " grey levels. The mean offset is the reference pixel's own error (heights are relative to pixel "
           "(0, 0)); it is at most three times that RMS.";
}

TEST(BenchAccuracy, TheReadmeStatesWhatIsMeasuredHere)
{
    std::ifstream readme(QSRF_README);
    ASSERT_TRUE(readme) << QSRF_README;
    const std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
    EXPECT_NE(Collapsed(text).find(AccuracySentence()), std::string::npos)
        << "README.md should say, in \"The simulated bench\":\n" << AccuracySentence();
}

class BenchAccuracy : public BenchTest, public ::testing::WithParamInterface<bench::Scene> {};

TEST_P(BenchAccuracy, WholeFrameErrorsGrowWithTheCameraNoiseAsStated)
{
    UseSetupSettings();
    const bench::Scene scene = GetParam();
    double rmsAt[std::size(kFigures)] = {};
    for (size_t k = 0; k < std::size(kFigures); ++k) {
        const Figure f = kFigures[k];
        bench::Config config = bench::config();
        config.scene = scene;
        config.noiseSigma = f.noise;
        config.seed = 4000 + 100 * uint64_t(scene) + k;   // a noise pattern of each scene and level
        bench::configure(config);
        const BenchMeasurement m = MeasureOnBench(kW, kH, kConst4Step, kW / 2, kH / 2);
        ConvertToZ(*m.project);
        const HeightErrors e = CompareHeights(*m.project);
        SCOPED_TRACE("noise " + std::to_string(f.noise) + ": rms " + std::to_string(e.rms) + " µm, offset " +
                     std::to_string(e.mean) + " µm");
        EXPECT_GE(e.valid, size_t(0.90 * kW * kH));   // the plate: all but the dark surround
        EXPECT_NEAR(e.rms, f.rms, 0.015);
        EXPECT_LE(std::fabs(e.mean), kOffsetPerRms * e.rms);
        rmsAt[k] = e.rms;
    }
    EXPECT_NEAR((rmsAt[3] - rmsAt[2]) / (kFigures[3].noise - kFigures[2].noise), kRmsPerGreyLevel, 0.015);
}

INSTANTIATE_TEST_SUITE_P(Scenes, BenchAccuracy,
                         ::testing::Values(bench::Scene::Demo, bench::Scene::Flat, bench::Scene::Tilted,
                                           bench::Scene::Sphere, bench::Scene::Step),
                         [](const auto& info) { return std::string(bench::sceneName(info.param)); });

}  // namespace
