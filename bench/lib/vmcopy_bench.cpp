// Copies between two simulated boards through their VM ports as a program makes them,
// through libhlclib.so and hlclib.h: two host-served nodes whose ports form one ring (the
// simulated port moves 4 bytes a clock of 33 MHz on the machine's free-running clock).
//
//   VmCopy/2048x2048   imBufCopy of an 8-bit board buffer of the first board into one of
//                      the second: the receiver is armed on the second node, the first
//                      node sends and waits for the end
//   VmCopySmall        the same for a 64 x 1 buffer: almost no bytes, so its time is the
//                      library's set-up per copy (both sides programmed, the remote request
//                      to the receiving node, the end of the transfer)
//
// Every copy is followed by one synchronous command, so a copy is measured to its end.

#include "hlclib.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBoard = 1;

struct Pair {
    uint32_t source = 0, destination = 0;
};

struct Nodes {
    Nodes()
    {
        char dir[] = "/tmp/hlcvmbenchXXXXXX";
        if (!mkdtemp(dir)) return;
        root = dir;
        const std::string ring = "VmPortConnection=0x000d04,0x000e04\n";
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n" << ring
                                             << "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n" << ring;
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
        boardsim::Topology topology;
        topology.boards.resize(2);
        for (auto& b : topology.boards) {
            b.moduleType = 0;
            b.vmRing = 1;
            b.primaryMemory = 0x1000000;
        }
        topology.service.dmaRegions = {0x400000, 0x400000};
        boardsim::BoardSim::instance().configure(topology);
        if (!imDevAlloc(0, 0, 3, 0, &first)) return;
        if (!imDevAlloc(0, 1, 0, 0, &second)) return;
    }
    ~Nodes()
    {
        for (auto& [size, p] : pairs) {
            if (p.source) imBufFree(first, p.source);
            if (p.destination) imBufFree(second, p.destination);
        }
        if (second) imDevFree(second);
        if (first) imDevFree(first);
        if (!root.empty()) {
            std::remove((root + "/halcyra.ini").c_str());
            std::remove(root.c_str());
        }
    }
    Pair& Buffers(int32_t x, int32_t y)
    {
        Pair& p = pairs[(static_cast<int64_t>(x) << 32) | y];
        if (p.source) return p;
        p.source = imBufAlloc2d(first, x, y, 8, kBoard, nullptr);
        p.destination = imBufAlloc2d(second, x, y, 8, kBoard, nullptr);
        std::vector<uint8_t> pattern(static_cast<size_t>(x) * y);
        for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 251);
        if (p.source) imBufPut(first, p.source, pattern.data());
        return p;
    }
    bool Copy(const Pair& p)
    {
        if (imBufCopy(first, p.source, p.destination, 0, 0) != 0) return false;
        return imDevInquire(first, 3, nullptr) == 1 && imAppGetError(0, nullptr) == 0;
    }
    std::string root;
    uint32_t first = 0, second = 0;
    std::map<int64_t, Pair> pairs;
};

Nodes& TheNodes()
{
    static Nodes nodes;
    return nodes;
}

void Run(benchmark::State& state, int32_t x, int32_t y)
{
    Nodes& nodes = TheNodes();
    Pair& p = nodes.Buffers(x, y);
    if (!p.source || !p.destination) {
        state.SkipWithError("no buffers");
        return;
    }
    for (auto _ : state) {
        if (!nodes.Copy(p)) {
            state.SkipWithError("imBufCopy failed");
            imAppGetError(1, nullptr);
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * x * y);
}

void VmCopy(benchmark::State& state)
{
    Run(state, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
}

void VmCopySmall(benchmark::State& state) { Run(state, 64, 1); }

}  // namespace

BENCHMARK(VmCopy)->Args({2048, 2048})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(VmCopySmall)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
