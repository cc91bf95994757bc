// Pixel transfer of an 8 MB host DMA buffer against memcpy of the same size in the same
// run, as a program sees it: libhlclib.so through hlclib.h, on a host-served node of the
// simulated board (whose kernel service gets a 16 MB DMA region for the buffer).
//
//   BufPut    imBufPut of 8 MB (2048 x 4096, 8 bits, one band) from program memory
//   BufGet    imBufGet of the same buffer into program memory
//   Memcpy    memcpy of 8 MB between two blocks of program memory
//   BufInquire  one imBufInquire of the buffer: the command and reply that each transfer
//               makes to learn the buffer's descriptor
//
// bytes_per_second is the transfer rate in wall time (the node answers on its own
// threads); the goal for BufPut and BufGet is at least 0.8
// of Memcpy.  Each call also asks the node for the buffer's descriptor (one command and
// its reply), which is part of what is measured.

#include "hlclib.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 2048;
constexpr int32_t kLines = 4096;
constexpr size_t kBytes = static_cast<size_t>(kWidth) * kLines;
constexpr uint32_t kHostDma = 3;

// One opened node with one host DMA buffer, for the whole run.
struct Node {
    Node() : from(kBytes), into(kBytes, 0)
    {
        for (size_t i = 0; i < kBytes; ++i) from[i] = static_cast<uint8_t>(i * 7 + i / 4093);
        char dir[] = "/tmp/hlcbufbenchXXXXXX";
        if (!mkdtemp(dir)) return;
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
        boardsim::Topology topology;
        topology.service.dmaRegions = {0x1000000};
        boardsim::BoardSim::instance().configure(topology);
        if (!imDevAlloc(0, 0, 3, 0, &device)) return;
        buffer = imBufAlloc2d(device, kWidth, kLines, 8, kHostDma, nullptr);
    }
    ~Node()
    {
        if (buffer) imBufFree(device, buffer);
        if (device) imDevFree(device);
        if (!root.empty()) {
            std::remove((root + "/halcyra.ini").c_str());
            std::remove(root.c_str());
        }
    }
    std::vector<uint8_t> from, into;
    std::string root;
    uint32_t device = 0;
    uint32_t buffer = 0;
};

Node& TheNode()
{
    static Node node;
    return node;
}

void BufPut(benchmark::State& state)
{
    Node& node = TheNode();
    if (!node.buffer) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufPut(node.device, node.buffer, node.from.data()) != 0) {
            state.SkipWithError("imBufPut failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

void BufGet(benchmark::State& state)
{
    Node& node = TheNode();
    if (!node.buffer || imBufPut(node.device, node.buffer, node.from.data()) != 0) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufGet(node.device, node.buffer, node.into.data()) != 0) {
            state.SkipWithError("imBufGet failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    if (std::memcmp(node.into.data(), node.from.data(), kBytes) != 0) state.SkipWithError("the pixels came back wrong");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

void Memcpy(benchmark::State& state)
{
    Node& node = TheNode();
    for (auto _ : state) {
        std::memcpy(node.into.data(), node.from.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

void BufInquire(benchmark::State& state)
{
    Node& node = TheNode();
    if (!node.buffer) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufInquire(node.device, node.buffer, 3, nullptr) != kWidth) {
            state.SkipWithError("imBufInquire failed");
            return;
        }
    }
}

} // namespace

BENCHMARK(BufPut)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BufGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BufInquire)->Unit(benchmark::kMicrosecond)->UseRealTime();
