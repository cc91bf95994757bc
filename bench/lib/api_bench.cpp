// Costs seen by a program that links libhlclib.so and calls it through hlclib.h only, on a
// host-served node of the simulated board named by a temporary ini file (HLCINIPATH).
//
//   ApiRoundTrip   one imThrNop + imSyncHost pair on an opened node (sync object in mode 2,
//                  so the done state stays after a wait); p50_us and p99_us are the median
//                  and the 99th percentile of the pairs of the run, in microseconds.
//   ApiOpenClose   imDevAlloc + imDevFree of node 0 of system 0 (the whole bring-up and
//                  shut-down of the node); p50_us is the median, in microseconds.

#include "hlclib.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSyncDone = 50;
constexpr uint32_t kSyncControlMode = 18001;

struct IniFile {
    IniFile()
    {
        char dir[] = "/tmp/hlcapibenchXXXXXX";
        if (!mkdtemp(dir)) std::abort();
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
    }
    ~IniFile()
    {
        std::remove((root + "/halcyra.ini").c_str());
        std::remove(root.c_str());
    }
    std::string root;
};

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t i = std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[i];
}

template <typename Step>
std::vector<double> Timed(benchmark::State& state, Step step)
{
    std::vector<double> samples;
    samples.reserve(1 << 16);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!step()) {
            state.SkipWithError("the library reported an error");
            break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    return samples;
}

void ApiRoundTrip(benchmark::State& state)
{
    static IniFile ini;
    uint32_t device = 0;
    if (!imDevAlloc(0, 0, 0, 0, &device)) {
        state.SkipWithError("the simulated node did not open");
        return;
    }
    const uint32_t thread = 0x40000010u | (device & 0x00FF0000u);   // the node's system thread
    uint32_t sync = 0;
    if (!imSyncAlloc(thread, &sync)) {
        state.SkipWithError("no sync object");
        imDevFree(device);
        return;
    }
    imSyncControl(thread, sync, kSyncControlMode, 2);
    const std::vector<double> samples = Timed(state, [&] {
        imThrNop(thread, sync);
        return imSyncHost(thread, sync, kSyncDone) == static_cast<int32_t>(kSyncDone);
    });
    imSyncFree(thread, sync);
    imDevFree(device);
    state.counters["p50_us"] = Percentile(samples, 0.50);
    state.counters["p99_us"] = Percentile(samples, 0.99);
}
BENCHMARK(ApiRoundTrip)->MinTime(2.0)->UseRealTime();

void ApiOpenClose(benchmark::State& state)
{
    static IniFile ini;
    const std::vector<double> samples = Timed(state, [] {
        uint32_t device = 0;
        return imDevAlloc(0, 0, 0, 0, &device) != 0 && imDevFree(device) == 0;
    });
    state.counters["p50_us"] = Percentile(samples, 0.50);
}
BENCHMARK(ApiOpenClose)->Iterations(20)->UseRealTime();

} // namespace
