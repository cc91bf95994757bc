// Grabs into host memory as a program makes them, through libhlclib.so and hlclib.h, from
// the simulated camera of a host-served node (free-running clock, frame period 0) into a
// buffer in host DMA memory: the board grabs each frame block by block into its temporary
// buffer and its register lists copy every block on.  Frames of 640 x 480 x 8 and
// 1024 x 1024 x 8 (the arguments).
//
//   HostGrabOverhead    one imDigGrab of one frame and the wait for its sync object's state
//                       50, less the simulated frame (the machine's time from the frame's
//                       start to the list's last block); p50_us and p99_us are the median
//                       and 99th percentile of the library's share, frame_us the median
//                       simulated frame.
//   HostGrabContinuous  a continuous grab into the same buffer: frames written per second
//                       of real time (fps) and the process's processor time per frame
//                       (cpu_us, library and simulated board together), ended by imThrHalt.

#include "hlclib.h"

#include "boardsim.h"
#include "grabbench.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace grabbench;

constexpr uint32_t kHostDma = 3;

// The node of a benchmark on a 640 x 480 or a 1024 x 1024 camera into host DMA memory.
struct HostNode : Node {
    HostNode(int width, int height) : Node(width == 640 ? "cam640" : "cam1024", width, height, kHostDma) {}
    static inline Files files{"hlchostgrabbench", {{"cam640", 640, 480}, {"cam1024", 1024, 1024}}};
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void HostGrabOverhead(benchmark::State& state)
{
    HostNode node(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    std::vector<double> overhead, frames;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool armed = node.Grab(1);
        const int32_t reached = armed ? imSyncHost(node.thread, node.sync, kSyncDone) : 0;
        if (!armed || reached != static_cast<int32_t>(kSyncDone) || imThrGetError(node.thread, 1, nullptr) != 0) {
            char text[256] = {};
            imAppGetError(12, text);
            state.SkipWithError(("the grab did not complete (state " + std::to_string(reached) + "): " + text).c_str());
            break;
        }
        const double total = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        const double frame = engine.lastFrameSeconds() * 1e6;
        overhead.push_back(total - frame);
        frames.push_back(frame);
    }
    state.counters["p50_us"] = Percentile(overhead, 0.50);
    state.counters["p99_us"] = Percentile(overhead, 0.99);
    state.counters["frame_us"] = Percentile(frames, 0.50);
}
BENCHMARK(HostGrabOverhead)->Args({640, 480})->Args({1024, 1024})->MinTime(2.0)->UseRealTime();

void HostGrabContinuous(benchmark::State& state)
{
    HostNode node(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    uint64_t frames = 0;
    double seconds = 0, cpu = 0;
    for (auto _ : state) {
        const uint64_t before = engine.framesWritten();
        if (!node.Grab(-1)) {
            state.SkipWithError("the grab was refused");
            break;
        }
        // Counted from the first frame written, for two seconds of real time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (engine.framesWritten() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const uint64_t first = engine.framesWritten();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        frames += engine.framesWritten() - first;
        cpu += CpuSeconds() - cpuStart;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        imThrHalt(node.thread, 1);
        imSyncHost(node.thread, node.sync, kSyncDone);
    }
    state.counters["fps"] = seconds > 0 ? static_cast<double>(frames) / seconds : 0;
    state.counters["cpu_us"] = frames ? cpu * 1e6 / static_cast<double>(frames) : 0;
}
BENCHMARK(HostGrabContinuous)->Args({640, 480})->Args({1024, 1024})->Iterations(2)->UseRealTime();

} // namespace
