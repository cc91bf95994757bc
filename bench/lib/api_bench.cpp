// Costs seen by a program that links libhlclib.so and calls it through hlclib.h only, on a
// host-served node of the simulated board named by a temporary ini file (HLCINIPATH).
//
//   ApiRoundTrip   one synchronous command on an opened node: argument 0 an imThrNop +
//                  imSyncHost pair (sync object in mode 2, so the done state stays after a
//                  wait), 1 one imThrGetError; second argument 1 pins every thread of the
//                  program (the simulated machine's and the node's included) to one CPU.  p50_us and p99_us are the median and the 99th
//                  percentile of the round trips of the run, in microseconds; csw the
//                  process's context switches per round trip.
//   PingPong       the peer: one round trip between two threads through a mutex and a
//                  condition variable, in the same program and run: unpinned (0), every
//                  thread on one CPU (1), and the two threads on two different CPUs (2), so
//                  that each hand-off wakes a thread on another CPU (the cost that every
//                  hand-off between the library's threads pays once they are spread out).
//   ApiOpenClose   imDevAlloc + imDevFree of node 0 of system 0 (the whole bring-up and
//                  shut-down of the node); p50_us is the median, in microseconds.

#include "hlclib.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
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

long ContextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Pins every thread of the program (the simulated machine's thread included, and every
// thread started afterwards) to one CPU while it lives.
struct Pinning {
    explicit Pinning(bool pin) : pinned(pin)
    {
        if (!pinned) return;
        sched_getaffinity(0, sizeof before, &before);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &before)) {
                CPU_SET(cpu, &one);
                break;
            }
        SetAll(one);
    }
    ~Pinning()
    {
        if (pinned) SetAll(before);
    }
    static void SetAll(const cpu_set_t& set)
    {
        if (DIR* tasks = opendir("/proc/self/task")) {
            while (const dirent* entry = readdir(tasks))
                if (entry->d_name[0] != '.') sched_setaffinity(std::atoi(entry->d_name), sizeof set, &set);
            closedir(tasks);
        }
        sched_setaffinity(0, sizeof set, &set);
    }
    bool pinned;
    cpu_set_t before{};
};

void Report(benchmark::State& state, const std::vector<double>& samples, long switches)
{
    state.counters["p50_us"] = Percentile(samples, 0.50);
    state.counters["p99_us"] = Percentile(samples, 0.99);
    if (!samples.empty()) state.counters["csw"] = static_cast<double>(switches) / static_cast<double>(samples.size());
}

void ApiRoundTrip(benchmark::State& state)
{
    static IniFile ini;
    const bool getError = state.range(0) == 1;
    Pinning pin(state.range(1) == 1);
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
    const long switches = ContextSwitches();
    const std::vector<double> samples = Timed(state, [&] {
        if (getError) return imThrGetError(thread, 0, nullptr) == 0;
        imThrNop(thread, sync);
        return imSyncHost(thread, sync, kSyncDone) == static_cast<int32_t>(kSyncDone);
    });
    const long made = ContextSwitches() - switches;
    imSyncFree(thread, sync);
    imDevFree(device);
    Report(state, samples, made);
}
BENCHMARK(ApiRoundTrip)->ArgNames({"getError", "pinned"})->ArgsProduct({{0, 1}, {0, 1}})->MinTime(2.0)->UseRealTime();

void PingPong(benchmark::State& state)
{
    Pinning pin(state.range(0) == 1);
    const bool spread = state.range(0) == 2;
    std::mutex lock;
    std::condition_variable wake;
    uint64_t sent = 0, answered = 0;
    bool stop = false;
    cpu_set_t before;
    sched_getaffinity(0, sizeof before, &before);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu)
        if (CPU_ISSET(cpu, &before)) cpus.push_back(cpu);
    if (spread && cpus.size() < 2) {
        state.SkipWithError("one CPU only");
        return;
    }
    const auto pinTo = [](int cpu) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
    };
    std::thread peer([&] {
        if (spread) pinTo(cpus[1]);
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            wake.wait(hold, [&] { return stop || sent != answered; });
            if (stop) return;
            answered = sent;
            wake.notify_all();
        }
    });
    if (spread) pinTo(cpus[0]);
    const long switches = ContextSwitches();
    const std::vector<double> samples = Timed(state, [&] {
        std::unique_lock<std::mutex> hold(lock);
        ++sent;
        wake.notify_all();
        wake.wait(hold, [&] { return answered == sent; });
        return true;
    });
    const long made = ContextSwitches() - switches;
    {
        std::lock_guard<std::mutex> hold(lock);
        stop = true;
    }
    wake.notify_all();
    peer.join();
    if (spread) sched_setaffinity(0, sizeof before, &before);
    Report(state, samples, made);
}
BENCHMARK(PingPong)->ArgName("pinned")->Arg(0)->Arg(1)->Arg(2)->MinTime(1.0)->UseRealTime();

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
