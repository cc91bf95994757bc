// The round trip of one synchronous command on a host-served node brought up on the
// simulated board by the library's own code: imThrNop posted to the node's system thread
// (doorbell, interrupt words, ring server, command server), then imSyncHost waiting for
// state 50 (its reply rings the board-to-host doorbell and wakes the caller).
//
//   CommandRoundTrip   one imThrNop + imSyncHost pair; p50_us and p99_us are the median
//                      and the 99th percentile of the pairs of the run, in microseconds.

#include "nodeinit.h"
#include "syncobj.h"

#include "boardsim.h"
#include "bringup.h"
#include "hlc_wiring.h"
#include "nodelist.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kMain = 0x40000010u | (kNode << 16);

// A temporary ini file naming one host-served board, found through HLCINIPATH.
struct Bench {
    Bench()
    {
        char dir[] = "/tmp/hlcbenchXXXXXX";
        if (!mkdtemp(dir)) std::abort();
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
        boardsim::BoardSim::instance().configure();
        HlcWireLibrary();
        _NODE_MAIN_RESOURCE_ST record{};
        up = mp_init_halcyra(0) == 0 && im_board_init(0, 0, nullptr, 3, &record) == -3;
    }
    ~Bench()
    {
        if (up) im_board_shutdown(kNode << 16);
        std::remove((root + "/halcyra.ini").c_str());
        std::remove(root.c_str());
    }
    std::string root;
    bool up = false;
};

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t i = std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[i];
}

void CommandRoundTrip(benchmark::State& state)
{
    static Bench bench;
    if (!bench.up) {
        state.SkipWithError("the simulated node did not come up");
        return;
    }
    uint32_t sync = 0;
    if (!imSyncAlloc(kMain, &sync)) {
        state.SkipWithError("no sync object");
        return;
    }
    imSyncControl(kMain, sync, kSyncControlMode, 2);   // the done state stays after a wait
    std::vector<double> samples;
    samples.reserve(1 << 16);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        imThrNop(kMain, sync);
        const int32_t reached = imSyncHost(kMain, sync, 50);
        const auto end = std::chrono::steady_clock::now();
        if (reached != 50) {
            state.SkipWithError("imSyncHost did not answer 50");
            break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    imSyncFree(kMain, sync);
    state.counters["p50_us"] = Percentile(samples, 0.50);
    state.counters["p99_us"] = Percentile(samples, 0.99);
}
BENCHMARK(CommandRoundTrip)->MinTime(2.0)->UseRealTime();

} // namespace
