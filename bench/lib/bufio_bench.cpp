// Pixel transfer of host DMA buffers of 256 KB, 2 MB and 8 MB against memcpy of the same
// sizes in the same run, as a program sees it: libhlclib.so through hlclib.h, on a
// host-served node of the simulated board (whose kernel service gets a 16 MB DMA region
// for the buffers).
//
//   BufPut/<KB>    imBufPut of the whole buffer (8 bits, one band) from program memory
//   BufGet/<KB>    imBufGet of the same buffer into program memory
//   Memcpy/<KB>    memcpy of as many bytes between two blocks of program memory
//   BufInquire     one imBufInquire of the 8 MB buffer: one command and its reply
//
// bytes_per_second is the transfer rate in wall time (the node answers on its own
// threads); the goal for BufPut and BufGet is at least 0.8 of Memcpy from 2 MB on.  The
// first transfer on a buffer asks the node for its descriptor; later ones find it on the
// caller's side.

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

// Width and lines of the three buffers: 256 KB, 2 MB and 8 MB.
constexpr int32_t kShapes[3][2] = {{512, 512}, {1024, 2048}, {2048, 4096}};
constexpr size_t kMostBytes = 2048 * 4096;
constexpr uint32_t kHostDma = 3;

size_t BytesOf(int shape)
{
    return static_cast<size_t>(kShapes[shape][0]) * static_cast<size_t>(kShapes[shape][1]);
}

// One opened node with the three host DMA buffers, for the whole run.
struct Node {
    Node() : from(kMostBytes), into(kMostBytes, 0)
    {
        for (size_t i = 0; i < kMostBytes; ++i) from[i] = static_cast<uint8_t>(i * 7 + i / 4093);
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
        for (int i = 0; i < 3; ++i) buffers[i] = imBufAlloc2d(device, kShapes[i][0], kShapes[i][1], 8, kHostDma, nullptr);
    }
    ~Node()
    {
        for (uint32_t buffer : buffers)
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
    uint32_t buffers[3] = {};
};

Node& TheNode()
{
    static Node node;
    return node;
}

// The shape for the benchmark's argument (kilobytes).
int ShapeOf(const benchmark::State& state)
{
    for (int i = 0; i < 3; ++i)
        if (static_cast<int64_t>(BytesOf(i) / 1024) == state.range(0)) return i;
    return 2;
}

void BufPut(benchmark::State& state)
{
    Node& node = TheNode();
    const int shape = ShapeOf(state);
    const uint32_t buffer = node.buffers[shape];
    if (!buffer) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufPut(node.device, buffer, node.from.data()) != 0) {
            state.SkipWithError("imBufPut failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(BytesOf(shape)));
}

void BufGet(benchmark::State& state)
{
    Node& node = TheNode();
    const int shape = ShapeOf(state);
    const uint32_t buffer = node.buffers[shape];
    if (!buffer || imBufPut(node.device, buffer, node.from.data()) != 0) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufGet(node.device, buffer, node.into.data()) != 0) {
            state.SkipWithError("imBufGet failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    if (std::memcmp(node.into.data(), node.from.data(), BytesOf(shape)) != 0)
        state.SkipWithError("the pixels came back wrong");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(BytesOf(shape)));
}

void Memcpy(benchmark::State& state)
{
    Node& node = TheNode();
    const size_t bytes = BytesOf(ShapeOf(state));
    for (auto _ : state) {
        std::memcpy(node.into.data(), node.from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BufInquire(benchmark::State& state)
{
    Node& node = TheNode();
    if (!node.buffers[2]) {
        state.SkipWithError("no host DMA buffer");
        return;
    }
    for (auto _ : state) {
        if (imBufInquire(node.device, node.buffers[2], 3, nullptr) != kShapes[2][0]) {
            state.SkipWithError("imBufInquire failed");
            return;
        }
    }
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->ArgName("KB")->Arg(256)->Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK(BufPut)->Apply(Sizes);
BENCHMARK(BufGet)->Apply(Sizes);
BENCHMARK(Memcpy)->Apply(Sizes);
BENCHMARK(BufInquire)->Unit(benchmark::kMicrosecond)->UseRealTime();
