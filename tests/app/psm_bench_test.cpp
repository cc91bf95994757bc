// A whole measurement on images of the simulated bench: object view, four phase-shifted
// grating images, mask, wrapped phase, unwrapped phase, compared with the bench's truth.
#include "bench_fixture.h"

#include <cmath>
#include <vector>

namespace {

// A field inside the columns the projected grating reaches, where neighbouring pixels
// differ by less than 1.5 rad of true phase.
constexpr int kWidth = 144;
constexpr int kHeight = 108;

class PsmBench : public BenchTest, public ::testing::WithParamInterface<bench::Scene> {};

TEST_P(PsmBench, UnwrappedPhaseIsTheTruePhaseUpToWholeTurns)
{
    bench::Config config = bench::config();
    config.scene = GetParam();
    config.noiseSigma = 0.0;   // only the 8-bit quantisation remains
    bench::configure(config);
    const std::vector<double> truth = bench::truePhaseMap(kWidth, kHeight);
    const std::vector<uint8_t> plate = bench::plateMap(kWidth, kHeight);

    for (int32_t method : {kConst4Step, kEqual4Step}) {
        SCOPED_TRACE(method);
        const BenchMeasurement m = MeasureOnBench(kWidth, kHeight, method, kWidth / 2, kHeight / 2);
        const float* unwrapped = m.project->FloatPlane(kUnwrappedPhaseCode);
        const uint8_t* mask = m.project->BytePlane(kMaskPlane);
        // "Const 4 Step" gives the phase of Step1; "Equal 4 Step" that of the middle of the
        // four steps.
        const double shift = method == kConst4Step ? m.firstShift : (m.firstShift + m.lastShift) / 2;
        const size_t start = (kHeight / 2) * kWidth + kWidth / 2;
        const double turns = (unwrapped[start] - truth[start] - shift) / (2 * M_PI);
        EXPECT_NEAR(turns, std::round(turns), 0.01);
        const double offset = shift + std::round(turns) * 2 * M_PI;

        size_t valid = 0, wrong = 0;
        double worst = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            // The mask keeps the plate and rejects the dark surround.
            if (mask[i] != (plate[i] ? 0 : 255) && wrong++ < 3)
                ADD_FAILURE() << "mask " << int(mask[i]) << " at " << i << " on plate " << int(plate[i]);
            if (mask[i] != 0 || std::isnan(truth[i])) continue;
            ++valid;
            worst = std::max(worst, std::fabs(unwrapped[i] - (truth[i] + offset)));
        }
        EXPECT_GT(valid, truth.size() / 2);
        EXPECT_LT(worst, 0.02) << "largest phase error in radians";
    }
}

INSTANTIATE_TEST_SUITE_P(SmoothScenes, PsmBench,
                         ::testing::Values(bench::Scene::Tilted, bench::Scene::Sphere, bench::Scene::Flat),
                         [](const auto& info) { return std::string(bench::sceneName(info.param)); });

// ---- where the lit area ends inside the plate ----------------------------------------------

// A frame whose grating ends inside the plate: the pixels beyond it see no fringes and are
// masked, and the residues along the edge mark the last lit pixels, which the row fill gives
// their left neighbours' values.
struct LitEdge {
    const char* name;
    bool setupGeometry;   // the bench set-up's geometry, else the program's default one
    int width, height;
    int edge;             // the grating made to end at this column; 0: where the geometry ends it
    bench::Scene scene;
};

void PrintTo(const LitEdge& e, std::ostream* os) { *os << e.name << " " << bench::sceneName(e.scene); }

class PsmBenchLitEdge : public BenchTest, public ::testing::WithParamInterface<LitEdge> {};

// Every valid pixel is a measured one: its unwrapped phase is the true phase (up to the
// whole turns and the phase shift all pixels share) within what the camera's grey levels
// allow. Rounding its four grey levels moves a pixel's phase by at most sqrt(2) / (2
// modulation) rad, and noise of sigma grey levels by sqrt(2) sigma / (2 modulation) rad RMS.
// The noise is held to 6 sigma: 3 sigma is passed by the noise alone at thousands of a
// frame's million pixels, 6 sigma by none. A filled-in value errs by its neighbour's phase
// difference, some ten times more.
TEST_P(PsmBenchLitEdge, NoValidPixelIsFilledIn)
{
    const LitEdge e = GetParam();
    if (e.setupGeometry) UseSetupSettings();
    bench::Config config = bench::config();
    config.scene = e.scene;
    config.seed = 12;
    ASSERT_EQ(config.noiseSigma, 0.5);   // the bench's camera
    if (e.edge > 0) {
        // The place on the grating that column e.edge sees on the reference plane.
        const bench::Geometry& g = config.geometry;
        config.geometry.gratingHalfWidth = bench::phaseFromHeight(g, 0, e.edge) / (2 * M_PI * g.frequency) +
                                           (e.edge - g.X0) * g.pixelX;
    }
    bench::configure(config);
    const std::vector<double> truth = bench::truePhaseMap(e.width, e.height);
    const std::vector<uint8_t> plate = bench::plateMap(e.width, e.height);
    // The grating ends inside the plate.
    const size_t row = size_t(e.height / 2) * size_t(e.width);
    const int plateEnd = e.width - e.width / 25;
    ASSERT_TRUE(std::isfinite(truth[row + size_t(plateEnd) / 2]));
    ASSERT_FALSE(std::isfinite(truth[row + size_t(plateEnd) - 1]));

    const BenchMeasurement m = MeasureOnBench(e.width, e.height, kConst4Step, e.width / 2, e.height / 2);
    const float* unwrapped = m.project->FloatPlane(kUnwrappedPhaseCode);
    const uint8_t* mask = m.project->BytePlane(kMaskPlane);
    const size_t start = size_t(e.height / 2) * size_t(e.width) + size_t(e.width / 2);
    const double offset =
        m.firstShift + 2 * M_PI * std::round((unwrapped[start] - truth[start] - m.firstShift) / (2 * M_PI));
    const double bound = std::sqrt(2.0) * (1 + 6 * config.noiseSigma) / (2 * config.modulation);

    size_t valid = 0, lit = 0, beyond = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        lit += plate[i];
        if (mask[i] != 0) continue;
        ++valid;
        const double error = std::isfinite(truth[i]) ? std::fabs(unwrapped[i] - truth[i] - offset) : INFINITY;
        if (error > bound + 1e-3 && beyond++ < 3)
            ADD_FAILURE() << "pixel (" << i % size_t(e.width) << ", " << i / size_t(e.width) << ") is valid but "
                          << error << " rad off";
    }
    EXPECT_EQ(beyond, 0u);
    // Only the pixels along the edge are given up.
    EXPECT_LE(valid, lit);
    EXPECT_GE(double(valid), 0.99 * double(lit));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, PsmBenchLitEdge,
    ::testing::Values(LitEdge{"setup_1280x960", true, 1280, 960, 0, bench::Scene::Tilted},
                      LitEdge{"setup_1280x960", true, 1280, 960, 0, bench::Scene::Step},
                      LitEdge{"setup_1024x768", true, 1024, 768, 850, bench::Scene::Flat},
                      LitEdge{"setup_1200x900", true, 1200, 900, 1000, bench::Scene::Sphere},
                      LitEdge{"default_200x150", false, 200, 150, 0, bench::Scene::Demo},
                      LitEdge{"default_200x150", false, 200, 150, 0, bench::Scene::Tilted}),
    [](const auto& info) { return std::string(info.param.name) + "_" + bench::sceneName(info.param.scene); });

}  // namespace
