// Speed of the wrapped phase and of the unwrapping, in pixels per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "Newunwrap.h"
#include "Phaseshiftmoire.h"
#include "registry.h"

namespace {

// The projects are made without the user's settings file.
qsrf::registry::ScopedProcessBackend g_settings(std::make_shared<qsrf::registry::MemoryBackend>());

// A smooth surface: a tilt and a bump, about twenty fringes across the image.
double Surface(int x, int y, int w, int h)
{
    const double u = double(x) / w - 0.5, v = double(y) / h - 0.45;
    return 2 * M_PI * (14.0 * u + 6.0 * v + 9.0 * std::exp(-(u * u + v * v) * 12.0));
}

// Four phase-shifted images of the surface, 90 degrees apart, with camera noise.
void MakeSteps(TPhaseShiftMoire& p)
{
    const int w = p.Width(), h = p.Height();
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double phi = Surface(x, y, w, h);
            for (int k = 0; k < 4; ++k) {
                const double v = 128 + 90 * std::cos(phi + k * M_PI / 2) + noise(rng);
                p.BytePlane(1 + k)[y * w + x] = static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
            }
        }
}

void SetRate(benchmark::State& state, size_t pixels)
{
    state.counters["pixels/s"] = benchmark::Counter(static_cast<double>(pixels) * state.iterations(),
                                                    benchmark::Counter::kIsRate);
}

void BM_ComputePhase(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    TPhaseShiftMoire p("bench");
    p.AllocBytePlanes(w, h);
    MakeSteps(p);
    p.Header().PhaseShiftMethod = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        p.ComputePhase();
        benchmark::DoNotOptimize(p.FloatPlane(kPhaseCode));
    }
    SetRate(state, p.Pixels());
}

// Unwrapping the wrapped surface, without a mask or with a circular one around the object,
// and optionally with noisy patches that hold residues.
void BM_UnwrapPhase(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const bool masked = state.range(2) != 0, residues = state.range(3) != 0;
    TPhaseShiftMoire p("bench");
    p.AllocBytePlanes(w, h);
    std::unique_ptr<float[]> phase(new float[p.Pixels()]);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> any(-3.14159f, 3.14159f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            phase[y * w + x] = static_cast<float>(std::remainder(Surface(x, y, w, h), 2 * M_PI));
    if (residues) {
        // About 1 % of the map in 6 x 6 patches of random phase.
        const int patches = static_cast<int>(p.Pixels() / 3600);
        for (int k = 0; k < patches; ++k) {
            const int px = static_cast<int>(rng() % (w - 6)), py = static_cast<int>(rng() % (h - 6));
            for (int y = py; y < py + 6; ++y)
                for (int x = px; x < px + 6; ++x) phase[y * w + x] = any(rng);
        }
    }
    uint8_t* mask = p.BytePlane(kMaskPlane);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = (x - w / 2.0) / (w / 2.0), v = (y - h / 2.0) / (h / 2.0);
            mask[y * w + x] = u * u + v * v > 0.85 ? 255 : 0;
        }
    p.SetFloatPlane(kPhaseCode, std::move(phase));
    p.Header().StartPointAuto = 0;
    p.Header().StartX = w / 2;
    p.Header().StartY = h / 2;
    if (masked) {
        for (auto _ : state) {
            p.UnwrapPhase();
            benchmark::DoNotOptimize(p.FloatPlane(kUnwrappedPhaseCode));
        }
    } else {
        // A project always holds a mask plane once its images are taken; without one the
        // unwrap is the unwrapper's steps alone, as UnwrapPhase runs them.
        for (auto _ : state) {
            TNewUnwrapForm unwrapper(w, h, nullptr, p.FloatPlane(kPhaseCode), w / 2, h / 2);
            unwrapper.Prepare();
            unwrapper.Unwrap();
            std::unique_ptr<float[]> out = unwrapper.TakeOutput();
            benchmark::DoNotOptimize(out.get());
        }
    }
    SetRate(state, p.Pixels());
}

void Sizes(benchmark::internal::Benchmark* b, bool unwrap)
{
    const int sizes[3][2] = {{768, 576}, {1024, 1024}, {2048, 2048}};
    for (const auto& s : sizes) {
        if (unwrap) {
            for (int m : {0, 1})
                for (int r : {0, 1}) b->Args({s[0], s[1], m, r});
        } else {
            for (int method : {1111, 2222}) b->Args({s[0], s[1], method});
        }
    }
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ComputePhase)
    ->ArgNames({"w", "h", "method"})
    ->Apply([](benchmark::internal::Benchmark* b) { Sizes(b, false); });
BENCHMARK(BM_UnwrapPhase)
    ->ArgNames({"w", "h", "mask", "residues"})
    ->Apply([](benchmark::internal::Benchmark* b) { Sizes(b, true); });

}  // namespace
