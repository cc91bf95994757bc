// Reading the library's text files, in wall time: the ini file of 50,000 node sections
// linked in pairs and in rings of 255 (the goal: rings take about as long as pairs), and
// camera files of 100,000 and 400,000 register lines (the goal: four times the lines take
// about four times as long). The tests count the link steps and entry copies behind these.
#include "camfile.h"
#include "halcyraini.h"
#include "hlc_wiring.h"
#include "im_msgio.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string TempPath(const char* name)
{
    return "/tmp/hlcreaders-" + std::to_string(::getpid()) + "-" + name;
}

void IniLoad(benchmark::State& state)
{
    HlcWireLibrary();
    boardsim::BoardSim::instance().configure();
    const int ring = static_cast<int>(state.range(0));
    constexpr int kNodes = 50000;
    std::string text;
    for (int i = 0; i < kNodes; ++i) {
        text += "[Node]\nNodeId=" + std::to_string(i % 250 + 1) + "\nDeviceNbr=" + std::to_string(0x1000 + i) +
                "\nGrabPortConnection=";
        if (i % ring != 0) {
            text += std::to_string(0x1000 + i) + "\n";
            continue;
        }
        for (int k = i; k < std::min(i + ring, kNodes); ++k) text += (k > i ? "," : "") + std::to_string(0x1000 + k);
        text += "\n";
    }
    const std::string path = TempPath("halcyra.ini");
    std::ofstream(path, std::ios::binary) << text;
    for (auto _ : state) {
        HalcyraIniFree(nullptr);
        benchmark::DoNotOptimize(HalcyraIniLoad(path.c_str(), nullptr, 1));
    }
    HalcyraIniFree(nullptr);
    std::remove(path.c_str());
}
BENCHMARK(IniLoad)->Arg(2)->Arg(255)->Unit(benchmark::kMillisecond);

void CameraFile(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    std::string text = "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\n[REG_DIGIT]\n";
    for (int i = 0; i < lines; ++i) text += "K 1\n";   // short lines: 400,000 stay within the limit
    text += "[EOF]\n";
    const std::string path = TempPath("camera.dcf");
    std::ofstream(path, std::ios::binary) << text;
    for (auto _ : state) {
        _MSG_ST msg{};
        im_msg_start(&msg, 49, 3, "imCamAlloc");
        _DCF_ENTRY* entries = nullptr;
        int32_t count = 0;
        benchmark::DoNotOptimize(im_cam_load(&msg, &entries, &count, path.c_str(), 1));
        std::free(entries);
    }
    std::remove(path.c_str());
}
BENCHMARK(CameraFile)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond);

}  // namespace
