// Speed of the live difference and product: the combine step for one 768 x 576 8-bit frame,
// and the whole live loop (grab, read, combine, write) against the simulated camera, in
// frames per second.
#include <benchmark/benchmark.h>

#include "Realtimemultiply.h"
#include "Realtimesubtract.h"
#include "orb.h"
#include "orbsim.h"

#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 768;
constexpr int kHeight = 576;

std::vector<uint8_t> Noise(unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size_t(kWidth) * kHeight);
    for (uint8_t& b : v)
        b = uint8_t(rng());
    return v;
}

template <void (*Combine)(uint8_t*, const uint8_t*, size_t)>
void BM_Combine(benchmark::State& state)
{
    const std::vector<uint8_t> now = Noise(1), start = Noise(2);
    std::vector<uint8_t> live(now.size());
    for (auto _ : state) {
        state.PauseTiming();
        live = now;   // each frame starts from the camera's bytes
        state.ResumeTiming();
        Combine(live.data(), start.data(), live.size());
        benchmark::DoNotOptimize(live.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(live.size()));
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_Combine, SubtractFrames)->Name("Combine/Difference768x576")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Combine, MultiplyFrames)->Name("Combine/Product768x576")->Unit(benchmark::kMicrosecond);

// The worker against the stand-in; arg 0: the camera's frame period in ms (0: as fast as
// the stand-in delivers, 40: the simulated camera's own rate).
template <class Worker>
void BM_LiveLoop(benchmark::State& state)
{
    orbsim::reset();
    orbsim::setFramePeriodMs(int(state.range(0)));
    OrbId app = 0, sys = 0, dig = 0, now = 0, result = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbSysOpen(&ORBSVK_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &dig);
    orbBufAlloc2d(sys, kWidth, kHeight, 8, 4 + 8 + 16 + 32, &now);
    orbBufAlloc2d(sys, kWidth, kHeight, 8, 4 + 8 + 16 + 32, &result);
    orbDigGrab(dig, result);
    {
        Worker worker(dig, now, result);
        worker.start();
        uint64_t seen = worker.Passes();
        const auto begin = std::chrono::steady_clock::now();
        for (auto _ : state) {
            // One iteration: the next frame written to the result.
            while (worker.Passes() == seen)
                std::this_thread::yield();
            seen = worker.Passes();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.counters["frames/s"] = double(state.iterations()) / seconds;
        worker.Terminate();
        worker.wait();
    }
    orbAppClose(app);
    orbsim::reset();
}
BENCHMARK_TEMPLATE(BM_LiveLoop, TRealTimeSubtract8Bit)
    ->Name("LiveLoop/Difference")->Arg(0)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_LiveLoop, TRealTimeMultiply8Bit)
    ->Name("LiveLoop/Product")->Arg(0)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
