// Bus-master transfers from board memory into host memory as a program makes them, through
// libhlclib.so and hlclib.h, on a host-served node of the simulated board (whose engine
// moves bytes at 132 MB/s of its free-running clock), beside memcpy of the same bytes.
//
//   ToDma/640x480, ToDma/2048x2048      imBufCopy of an 8-bit board buffer into host DMA
//                                      memory (page by page through the register list)
//   ToPaged/640x480, ToPaged/2048x2048  the same into a locked paged buffer over program memory
//   Memcpy/640x480, Memcpy/2048x2048    memcpy of the same bytes
//   SmallTransfer    a 17 x 1 window by the engine (contiguous host memory): the library's
//                    programming and completion with almost no bytes to move
//   SmallProcessor   a 16 x 1 window, which the node copies by processor: the command's own
//                    cost, to be taken from SmallTransfer for the set-up time per transfer
//
// Every copy is followed by one synchronous command, so a copy is measured to its end.

#include "hlclib.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBoard = 1, kHostDma = 3, kCallerMemory = 4;
constexpr int32_t kLock = 1;
constexpr double kDefault = 268435456.0;
constexpr uint32_t kContiguous = 10036;

struct Pair {
    uint32_t board = 0, dma = 0, paged = 0;
    std::vector<uint8_t> memory;   // the paged buffer's memory
};

struct Node {
    Node()
    {
        char dir[] = "/tmp/hlcxferbenchXXXXXX";
        if (!mkdtemp(dir)) return;
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
        boardsim::Topology topology;
        topology.service.dmaRegions = {0x1000000};
        topology.boards[0].primaryMemory = 0x1000000;
        boardsim::BoardSim::instance().configure(topology);
        if (!imDevAlloc(0, 0, 3, 0, &device)) return;
        // The node has no installation folder: the open logs its FPGA load's code and goes
        // on. The record is cleared so that the first copy is judged by its own errors.
        imAppGetError(IM_ERR_ITEM_CLEAR, nullptr);
        imBufAllocControl(device, &control);
        imBufPutField(device, control, kContiguous, 1.0);
    }
    ~Node()
    {
        for (auto& [size, p] : pairs)
            for (uint32_t id : {p.board, p.dma, p.paged})
                if (id) imBufFree(device, id);
        if (control) imBufFree(device, control);
        if (device) imDevFree(device);
        if (!root.empty()) {
            std::remove((root + "/halcyra.ini").c_str());
            std::remove(root.c_str());
        }
    }
    Pair& Buffers(int32_t x, int32_t y)
    {
        Pair& p = pairs[(static_cast<int64_t>(x) << 32) | y];
        if (p.board) return p;
        p.board = imBufAlloc2d(device, x, y, 8, kBoard, nullptr);
        p.dma = imBufAlloc2d(device, x, y, 8, kHostDma, nullptr);
        p.memory.assign(static_cast<size_t>(x) * y, 0);
        const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p.memory.data()));
        if (imBufCreate(device, x, y, 1, 8, kCallerMemory, &address, static_cast<uint32_t>(x), &p.paged))
            imBufControl(device, p.paged, kLock, kDefault);
        std::vector<uint8_t> pattern(static_cast<size_t>(x) * y);
        for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 251);
        if (p.board) imBufPut(device, p.board, pattern.data());
        return p;
    }
    bool Copy(uint32_t from, uint32_t into, uint32_t ctl = 0)
    {
        if (imBufCopy(device, from, into, ctl, 0) != 0) return false;
        return imDevInquire(device, 3, nullptr) == 1 && imAppGetError(0, nullptr) == 0;
    }
    std::string root;
    uint32_t device = 0, control = 0;
    std::map<int64_t, Pair> pairs;
};

Node& TheNode()
{
    static Node node;
    return node;
}

void Run(benchmark::State& state, bool paged)
{
    Node& node = TheNode();
    const int32_t x = static_cast<int32_t>(state.range(0)), y = static_cast<int32_t>(state.range(1));
    Pair& p = node.Buffers(x, y);
    const uint32_t into = paged ? p.paged : p.dma;
    if (!p.board || !into) {
        state.SkipWithError("no buffers");
        return;
    }
    for (auto _ : state) {
        if (!node.Copy(p.board, into)) {
            state.SkipWithError("imBufCopy failed");
            imAppGetError(1, nullptr);
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * x * y);
}

void ToDma(benchmark::State& state) { Run(state, false); }
void ToPaged(benchmark::State& state) { Run(state, true); }

void Memcpy(benchmark::State& state)
{
    const size_t bytes = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1));
    std::vector<uint8_t> from(bytes, 0x5A), into(bytes, 0);
    for (auto _ : state) {
        std::memcpy(into.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void Small(benchmark::State& state, int32_t width)
{
    Node& node = TheNode();
    Pair& p = node.Buffers(width, 1);
    if (!p.board || !p.dma) {
        state.SkipWithError("no buffers");
        return;
    }
    for (auto _ : state) {
        if (!node.Copy(p.board, p.dma, node.control)) {
            state.SkipWithError("imBufCopy failed");
            imAppGetError(1, nullptr);
            return;
        }
    }
}

void SmallTransfer(benchmark::State& state) { Small(state, 17); }
void SmallProcessor(benchmark::State& state) { Small(state, 16); }

}  // namespace

BENCHMARK(ToDma)->Args({640, 480})->Args({2048, 2048})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ToPaged)->Args({640, 480})->Args({2048, 2048})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Memcpy)->Args({640, 480})->Args({2048, 2048})->Unit(benchmark::kMillisecond);
BENCHMARK(SmallTransfer)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(SmallProcessor)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
