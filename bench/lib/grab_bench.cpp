// Grabs as a program makes them, through libhlclib.so and hlclib.h, from the simulated
// camera of a host-served node (free-running clock, frame period 0) into a 640 x 480 x 8
// buffer in board memory.
//
//   GrabOverhead     one imDigGrab of one frame and the wait for its sync object's state 50,
//                    less the simulated frame (the machine's time from the frame's start
//                    event to its end event, which holds the engine's own pixel work);
//                    p50_us and p99_us are the median and 99th percentile of the library's
//                    share, frame_us the median simulated frame, total_us the median of the
//                    whole call in real time (a thread that polls the bus holds the
//                    machine's time, so a frame's machine time may pass slower than real
//                    time; the total compares across clocks).
//   GrabContinuous   a continuous grab into the same buffer: frames written per second of
//                    real time (fps), ended by imThrHalt.
//   CameraLoad       imCamAlloc of the example's camera file (examples/camera640.dcf): the
//                    file parsed into a camera record and the digitizer loaded from it (LUTs,
//                    clocks, timers), then imCamFree; p50_us is the median load.

#include "hlclib.h"

#include "boardsim.h"
#include "grabbench.h"

#include <benchmark/benchmark.h>

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

constexpr uint32_t kBoardMemory = 1;

// The node of a benchmark on a 640 x 480 camera into board memory.
struct BoardNode : Node {
    BoardNode() : Node("bench", 640, 480, kBoardMemory) {}
    static inline Files files{"hlcgrabbench", {{"bench", 640, 480}}};
};

void GrabOverhead(benchmark::State& state)
{
    BoardNode node;
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    std::vector<double> overhead, frames, totals;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!node.Grab(1) || imSyncHost(node.thread, node.sync, kSyncDone) != static_cast<int32_t>(kSyncDone)) {
            state.SkipWithError("the grab did not complete");
            break;
        }
        const double total = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        const double frame = engine.lastFrameSeconds() * 1e6;
        overhead.push_back(total - frame);
        frames.push_back(frame);
        totals.push_back(total);
    }
    state.counters["p50_us"] = Percentile(overhead, 0.50);
    state.counters["p99_us"] = Percentile(overhead, 0.99);
    state.counters["frame_us"] = Percentile(frames, 0.50);
    state.counters["total_us"] = Percentile(totals, 0.50);
}
BENCHMARK(GrabOverhead)->MinTime(2.0)->UseRealTime();

void GrabContinuous(benchmark::State& state)
{
    BoardNode node;
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    uint64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        const uint64_t before = engine.framesWritten();
        if (!node.Grab(-1)) {
            state.SkipWithError("the grab was refused");
            break;
        }
        // Counted from the first frame written, for one second of real time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (engine.framesWritten() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        const uint64_t first = engine.framesWritten();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        frames += engine.framesWritten() - first;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        imThrHalt(node.thread, 1);
        imSyncHost(node.thread, node.sync, kSyncDone);
    }
    state.counters["fps"] = seconds > 0 ? static_cast<double>(frames) / seconds : 0;
}
BENCHMARK(GrabContinuous)->Iterations(3)->UseRealTime();

void CameraLoad(benchmark::State& state)
{
    BoardNode node;
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    // The example's camera file from its own directory; the benchmark's own files after.
    const std::string saved = std::getenv("DCFPATH") ? std::getenv("DCFPATH") : "";
    const std::string dir = std::string(QSRF_SOURCE_DIR) + "/examples";
    setenv("DCFPATH", dir.c_str(), 1);
    std::vector<double> loads;
    for (auto _ : state) {
        uint32_t camera = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = imCamAlloc(node.thread, "camera640", 1, &camera) != 0;
        loads.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (!loaded) {
            char text[256] = {};
            imAppGetError(12, text);
            state.SkipWithError((std::string("imCamAlloc failed: ") + text).c_str());
            break;
        }
        imCamFree(node.thread, camera);
    }
    setenv("DCFPATH", saved.c_str(), 1);
    state.counters["p50_us"] = Percentile(loads, 0.50);
    state.counters["p99_us"] = Percentile(loads, 0.99);
}
BENCHMARK(CameraLoad)->MinTime(2.0)->UseRealTime();

} // namespace
