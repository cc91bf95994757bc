// Copies inside display memory by the display Orlo's blitter as a program makes them,
// through libhlclib.so and hlclib.h, on a host-served node of the simulated board (whose
// engine moves bytes at 132 MB/s of its free-running clock).
//
//   Blit/1024x768     imBufCopy of an 8-bit display buffer into another
//   Blit/2x1          a 2 x 1 window: the library's programming and completion with almost
//                     no bytes to move, the set-up time of one copy
//
// Every copy is followed by one synchronous inquiry, so a copy is measured to its end.
//
// bytes_per_second is the copy rate.

#include "hlclib.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kDisplayHeap = 0x40000020u;   // any display heap

// A 640 x 480 mode: the display heaps follow the shown display's size.
constexpr uint8_t kCrtc[25] = {0x5F, 0x4F, 0x50, 0x82, 0x54, 0x80, 0x0B, 0x3E, 0x00, 0x40, 0x00, 0x00, 0x00,
                               0x00, 0x00, 0x00, 0xEA, 0x0C, 0xDF, 0x50, 0x00, 0xE7, 0x04, 0xE3, 0xFF};

std::string VcfText()
{
    std::string text = "[REG_DIGIT]\nINFO_XSIZE 640\nINFO_YSIZE 480\nMISC 0xEF\n";
    char line[64];
    for (int i = 0; i < 25; ++i) {
        std::snprintf(line, sizeof line, "CRTC_(%02X) 0x%02X\n", i, kCrtc[i]);
        text += line;
    }
    return text + "PCLK_(00) 48\nPCLK_(01) 52\nPCLK_(02) 1\n[EOF]\n";
}

struct Node {
    Node()
    {
        char dir[] = "/tmp/hlcbltbenchXXXXXX";
        if (!mkdtemp(dir)) return;
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=1\n";
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
        setenv("VCFPATH", root.c_str(), 1);
        unsetenv("VCFNAME");
        boardsim::Topology topology;
        topology.boards[0].displayOrlo = true;
        topology.boards[0].displayChip = true;
        boardsim::BoardSim::instance().configure(topology);
        boardsim::DisplayDriverSpec desktop;
        desktop.privateEscapes = true;
        desktop.columns = 1;
        desktop.rows = 1;
        desktop.screenBases = {0xE0000008u};
        boardsim::BoardSim::instance().setDisplayDriver(desktop);
        std::ofstream(root + "/mode.vcf") << VcfText();
        if (imDevAlloc(0, 0, 3, 0, &device)) imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display);
    }
    ~Node()
    {
        for (auto& [size, p] : pairs) {
            if (p.first) imBufFree(kThread, p.first);
            if (p.second) imBufFree(kThread, p.second);
        }
        if (display) imDispFree(kThread, display);
        if (device) imDevFree(device);
        if (!root.empty()) {
            std::remove((root + "/mode.vcf").c_str());
            std::remove((root + "/halcyra.ini").c_str());
            std::remove(root.c_str());
        }
    }
    std::pair<uint32_t, uint32_t>& Buffers(int32_t x, int32_t y)
    {
        auto& p = pairs[(static_cast<int64_t>(x) << 32) | y];
        if (!p.first) {
            imBufAlloc(kThread, x, y, 1, 8, kDisplayHeap, &p.first);
            imBufAlloc(kThread, x, y, 1, 8, kDisplayHeap, &p.second);
        }
        return p;
    }
    std::string root;
    uint32_t device = 0;
    uint32_t display = 0;
    std::map<int64_t, std::pair<uint32_t, uint32_t>> pairs;
};

Node& TheNode()
{
    static Node node;
    return node;
}

void Blit(benchmark::State& state)
{
    Node& node = TheNode();
    const auto x = static_cast<int32_t>(state.range(0));
    const auto y = static_cast<int32_t>(state.range(1));
    auto& p = node.Buffers(x, y);
    const uint32_t device = node.device;
    if (!node.device || !p.first || !p.second) {
        state.SkipWithError("no node or no display memory");
        return;
    }
    for (auto _ : state) {
        // The copy is posted; the inquiry after it waits until the node has run it.
        if (imBufCopy(device, p.first, p.second, 0, 0) != 0 || imDevInquire(device, 3, nullptr) != 1 ||
            imAppGetError(0, nullptr) != 0) {
            state.SkipWithError("copy failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * x * y);
}
BENCHMARK(Blit)->Args({1024, 768})->Args({2, 1})->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
