// A whole measurement on images of the simulated bench: object view, four phase-shifted
// grating images, mask, wrapped phase, unwrapped phase, compared with the bench's truth.
#include "Phaseshiftmoire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bench.h"
#include "registry.h"

namespace {

// A field inside the columns the projected grating reaches, where neighbouring pixels
// differ by less than 1.5 rad of true phase.
constexpr int kWidth = 144;
constexpr int kHeight = 108;

struct Measured {
    std::vector<float> unwrapped;
    std::vector<uint8_t> mask;
    double firstShift = 0;   // grating phase shift of Step1, radians
    double lastShift = 0;    // of Step4
};

// Grabs the five images with the grating moved a quarter period between steps, then
// runs mask, phase and unwrapping from the centre.
Measured Measure(int32_t method)
{
    const bench::Config config = bench::config();
    TPhaseShiftMoire p("bench");
    p.AllocBytePlanes(kWidth, kHeight);
    bench::CameraSettings view;
    view.channel = config.viewChannel;
    bench::captureFrame(view, kWidth, kHeight, p.BytePlane(kObjectPlane));

    Measured m;
    const bench::CameraSettings grating;   // any other channel sees the fringes
    const double countsPerStep = (M_PI / 2) / bench::phasePerCount();
    for (int k = 0; k < 4; ++k) {
        bench::setAxisCounts(config.phaseShiftAxis, static_cast<int32_t>(std::lround(k * countsPerStep)));
        if (k == 0) m.firstShift = bench::currentPhaseShift();
        if (k == 3) m.lastShift = bench::currentPhaseShift();
        bench::captureFrame(grating, kWidth, kHeight, p.BytePlane(kStep1Plane + k));
    }
    p.Header().ThresholdAuto = 1;
    p.ComputeMask();
    p.Header().PhaseShiftMethod = method;
    p.ComputePhase();
    p.Header().StartPointAuto = 0;
    p.Header().StartX = kWidth / 2;
    p.Header().StartY = kHeight / 2;
    p.UnwrapPhase();
    m.unwrapped.assign(p.FloatPlane(kUnwrappedPhaseCode), p.FloatPlane(kUnwrappedPhaseCode) + p.Pixels());
    m.mask.assign(p.BytePlane(kMaskPlane), p.BytePlane(kMaskPlane) + p.Pixels());
    return m;
}

class PsmBench : public ::testing::TestWithParam<bench::Scene> {
protected:
    void TearDown() override { bench::reset(); }
    qsrf::registry::ScopedProcessBackend settings_{std::make_shared<qsrf::registry::MemoryBackend>()};
};

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
        const Measured m = Measure(method);
        // "Const 4 Step" gives the phase of Step1; "Equal 4 Step" that of the middle of the
        // four steps.
        const double shift = method == kConst4Step ? m.firstShift : (m.firstShift + m.lastShift) / 2;
        const size_t start = (kHeight / 2) * kWidth + kWidth / 2;
        const double turns = (m.unwrapped[start] - truth[start] - shift) / (2 * M_PI);
        EXPECT_NEAR(turns, std::round(turns), 0.01);
        const double offset = shift + std::round(turns) * 2 * M_PI;

        size_t valid = 0, wrong = 0;
        double worst = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            // The mask keeps the plate and rejects the dark surround.
            if (m.mask[i] != (plate[i] ? 0 : 255) && wrong++ < 3)
                ADD_FAILURE() << "mask " << int(m.mask[i]) << " at " << i << " on plate " << int(plate[i]);
            if (m.mask[i] != 0 || std::isnan(truth[i])) continue;
            ++valid;
            worst = std::max(worst, std::fabs(m.unwrapped[i] - (truth[i] + offset)));
        }
        EXPECT_GT(valid, truth.size() / 2);
        EXPECT_LT(worst, 0.02) << "largest phase error in radians";
    }
}

INSTANTIATE_TEST_SUITE_P(SmoothScenes, PsmBench,
                         ::testing::Values(bench::Scene::Tilted, bench::Scene::Sphere, bench::Scene::Flat),
                         [](const auto& info) { return std::string(bench::sceneName(info.param)); });

}  // namespace
