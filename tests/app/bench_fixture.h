#pragma once
// Measurements on images of the simulated bench without the program's windows: the object
// view and four phase-shifted grating images grabbed straight from the bench into a
// project, then mask, wrapped phase and unwrapped phase (and heights when asked), and the
// errors of the result against the bench's truth.

#include "Converttoz.h"
#include "Phaseshiftmoire.h"
#include "bench.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

struct BenchMeasurement {
    std::unique_ptr<TPhaseShiftMoire> project;
    double firstShift = 0;   // grating phase shift of Step1, radians
    double lastShift = 0;    // of Step4
};

// Grabs the five images of a width x height frame, the grating moved a quarter period
// between the steps, into a new project (its header from the settings in force); mask with
// the automatic threshold, phase by method, unwrapping from (startX, startY).
inline BenchMeasurement MeasureOnBench(int width, int height, int32_t method, int startX, int startY)
{
    const bench::Config config = bench::config();
    BenchMeasurement m;
    m.project = std::make_unique<TPhaseShiftMoire>("bench");
    TPhaseShiftMoire& p = *m.project;
    p.AllocBytePlanes(width, height);
    bench::CameraSettings view;
    view.channel = config.viewChannel;
    bench::captureFrame(view, width, height, p.BytePlane(kObjectPlane));

    const bench::CameraSettings grating;   // any other channel sees the fringes
    const double countsPerStep = (M_PI / 2) / bench::phasePerCount();
    for (int k = 0; k < 4; ++k) {
        bench::setAxisCounts(config.phaseShiftAxis, static_cast<int32_t>(std::lround(k * countsPerStep)));
        if (k == 0) m.firstShift = bench::currentPhaseShift();
        if (k == 3) m.lastShift = bench::currentPhaseShift();
        bench::captureFrame(grating, width, height, p.BytePlane(kStep1Plane + k));
    }
    p.Header().ThresholdAuto = 1;
    p.ComputeMask();
    p.Header().PhaseShiftMethod = method;
    p.ComputePhase();
    p.Header().StartPointAuto = 0;
    p.Header().StartX = startX;
    p.Header().StartY = startY;
    p.UnwrapPhase();
    return m;
}

// Height errors (measured - true, µm) over the valid pixels of a converted project.
struct HeightErrors {
    double mean = 0;   // the common offset
    double rms = 0;    // about the mean
    size_t valid = 0;
};

inline HeightErrors CompareHeights(const TPhaseShiftMoire& p)
{
    const std::vector<double> truth = bench::trueHeightMap(p.Width(), p.Height());
    const float* z = p.FloatPlane(kConvertResultCode);
    const uint8_t* mask = p.BytePlane(kMaskPlane);
    HeightErrors e;
    double sum = 0, sum2 = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        if (mask[i] != 0) continue;
        const double d = double(z[i]) * 1000.0 - truth[i];
        sum += d;
        sum2 += d * d;
        ++e.valid;
    }
    if (e.valid == 0) return e;
    e.mean = sum / double(e.valid);
    e.rms = std::sqrt(std::max(0.0, sum2 / double(e.valid) - e.mean * e.mean));
    return e;
}

// Each test of the bench gets an in-memory settings store of its own and leaves the bench
// as the environment sets it.
class BenchTest : public ::testing::Test {
protected:
    void SetUp() override { bench::reset(); }   // the geometry of this test's (empty) store
    void TearDown() override { bench::reset(); }
    // The bench set-up's settings (its geometry lights the whole 768 x 576 frame).
    void UseSetupSettings()
    {
        std::string problem;
        ASSERT_TRUE(bench::seedSettings(*store_, &problem)) << problem;
        bench::reset();
    }

    std::shared_ptr<qsrf::registry::MemoryBackend> store_ = std::make_shared<qsrf::registry::MemoryBackend>();
    qsrf::registry::ScopedProcessBackend settings_{store_};
};
