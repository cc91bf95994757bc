// Grabs into host memory as a program makes them, through libhlclib.so and hlclib.h, from
// the simulated camera of a host-served node (free-running clock, frame period 0) into a
// buffer in host DMA memory: the board grabs each frame block by block into its temporary
// buffer and its register lists copy every block on.  Frames of 640 x 480 x 8 and
// 1024 x 1024 x 8 (the arguments).
//
//   HostGrabOverhead    one imDigGrab of one frame and the wait for its sync object's state
//                       50, less the simulated frame (the machine's time from the frame's
//                       start to the list's last block); p50_us and p99_us are the median
//                       and 99th percentile of the library's share, frame_us the median
//                       simulated frame.
//   HostGrabContinuous  a continuous grab into the same buffer: frames written per second
//                       of real time (fps) and the process's processor time per frame
//                       (cpu_us, library and simulated board together), ended by imThrHalt.

#include "hlclib.h"

#include "boardsim.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kSyncDone = 50;
constexpr uint32_t kSyncControlMode = 18001;
constexpr uint32_t kHostDma = 3;

// An ini file naming one host-served board and a free-running 8-bit camera file of the
// given size.
struct Bench {
    Bench()
    {
        char dir[] = "/tmp/hlchostgrabbenchXXXXXX";
        if (!mkdtemp(dir)) std::abort();
        root = dir;
        std::ofstream(root + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        std::ofstream(root + "/cam640.dcf") << Camera(640, 480);
        std::ofstream(root + "/cam1024.dcf") << Camera(1024, 1024);
        setenv("HLCINIPATH", root.c_str(), 1);
        setenv("DCFPATH", root.c_str(), 1);
        setenv("HALCYRA", (root + "/noinstall").c_str(), 1);
    }
    ~Bench()
    {
        for (const char* name : {"halcyra.ini", "cam640.dcf", "cam1024.dcf"}) std::remove((root + "/" + name).c_str());
        std::remove(root.c_str());
    }
    static std::string Camera(int width, int height)
    {
        const int htotal = width + 218, vtotal = height + 45;
        return "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\nBench camera\n\nVDL_AMPL 714\nVDL_PEDEST 0\nVDL_PED_AMP 0\n"
               "[REG_DIGIT]\nINFO_XSIZE " + std::to_string(width) + "\nINFO_YSIZE " + std::to_string(height) +
               "\nINFO_TRIGSRC 536870912\nINFO_T1TRGSRC 536870912\nINFO_T2TRGSRC 536870912\n"
               "ORLOGREG_GHTOTAL " + std::to_string(htotal) + "\nORLOGREG_GVTOTAL " + std::to_string(vtotal - 1) +
               "\nDIG_HTOTAL " + std::to_string(htotal) + "\nDIG_VTOTAL " + std::to_string(vtotal) +
               "\nDIG_HSSYNC 16\nDIG_HESYNC 80\nDIG_VSSYNC 3\nDIG_VESYNC 6\n"
               "DIG_HSBLNK 120\nDIG_HEBLNK " + std::to_string(htotal - 16) + "\nDIG_VSBLNK 20\nDIG_VEBLNK " +
               std::to_string(vtotal - 5) + "\nDIG_HVRCTL 0x1000\n"
               "DIG_OUTCTL 0x2000\nDIG_ANACTL 0x0F0F\nDIG_DLYLN 0x44\nDIG_GPCTL 0x0005\nDS1020DLY 0x21\n"
               "INFO_PIXCLK 13500000\nINFO_SPIXCLK 13500000\nSDIG_HTOTAL 900\nSDIG_HSSYNC 17\n"
               "INFO_BITSPERLOGCH 8\nINFO_TIMEMULTIPIX 1\nINFO_TIMEMULTICH 1\nINFO_CHANNEL 0x10000\n"
               "INFO_XTAPSPERCH 1\nINFO_YTAPSPERCH 1\nINFO_XTAPSPERCHADJ 1\nINFO_YTAPSPERCHADJ 1\n"
               "INFO_GRBSYSCLK 40000000\nINFO_USRCLK0 10000000\nICS1522REG0 0x35\nICS1522REG1 0x21\n"
               "ICS1522REG2 0x06\nICS1522REG3 0x13\nICS1522REG4 0x59C\nICS1522REG5 0x5C1\nICS1522REG6 0x47\n"
               "DIG_GRABCTL 0\nDIG_DICTL 0\n[REG_MODIF_STATE]\n\n[EOF]\n";
    }
    std::string root;
};

// A node with the camera loaded, a host DMA destination and a sync object in mode 2.
struct Node {
    Node(int width, int height)
    {
        static Bench bench;
        if (!imDevAlloc(0, 0, 0, 0, &device)) {
            Failed();
            return;
        }
        thread = 0x40000010u | (device & 0x00FF0000u);
        const std::string camera = width == 640 ? "cam640" : "cam1024";
        if (!imCamAlloc(thread, camera.c_str(), 1, &this->camera) ||
            !imBufAlloc(device, width, height, 1, 8, kHostDma, &frame) || !imSyncAlloc(thread, &sync)) {
            Failed();
            return;
        }
        imSyncControl(thread, sync, kSyncControlMode, 2);
        boardsim::BoardSim::instance().grabEngine(0).setFramePeriod(0.0);
        ready = true;
    }
    ~Node()
    {
        if (sync) imSyncFree(thread, sync);
        if (frame) imBufFree(device, frame);
        if (camera) imCamFree(thread, camera);
        if (device) imDevFree(device);
    }
    void Failed()
    {
        char text[256] = {};
        imAppGetError(12, text);
        error = text;
    }
    bool Grab(int32_t count) const
    {
        imSyncControl(thread, sync, 18000, 10);
        return imDigGrab(thread, 0, camera, frame, static_cast<uint32_t>(count), 0, sync) == 0;
    }
    uint32_t device = 0, thread = 0, camera = 0, frame = 0, sync = 0;
    bool ready = false;
    std::string error;
};

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t i = std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[i];
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void HostGrabOverhead(benchmark::State& state)
{
    Node node(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    std::vector<double> overhead, frames;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool armed = node.Grab(1);
        const int32_t reached = armed ? imSyncHost(node.thread, node.sync, kSyncDone) : 0;
        if (!armed || reached != static_cast<int32_t>(kSyncDone) || imThrGetError(node.thread, 1, nullptr) != 0) {
            char text[256] = {};
            imAppGetError(12, text);
            state.SkipWithError(("the grab did not complete (state " + std::to_string(reached) + "): " + text).c_str());
            break;
        }
        const double total = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        const double frame = engine.lastFrameSeconds() * 1e6;
        overhead.push_back(total - frame);
        frames.push_back(frame);
    }
    state.counters["p50_us"] = Percentile(overhead, 0.50);
    state.counters["p99_us"] = Percentile(overhead, 0.99);
    state.counters["frame_us"] = Percentile(frames, 0.50);
}
BENCHMARK(HostGrabOverhead)->Args({640, 480})->Args({1024, 1024})->MinTime(2.0)->UseRealTime();

void HostGrabContinuous(benchmark::State& state)
{
    Node node(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!node.ready) {
        state.SkipWithError(("the simulated node or its camera did not open: " + node.error).c_str());
        return;
    }
    const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(0);
    uint64_t frames = 0;
    double seconds = 0, cpu = 0;
    for (auto _ : state) {
        const uint64_t before = engine.framesWritten();
        if (!node.Grab(-1)) {
            state.SkipWithError("the grab was refused");
            break;
        }
        // Counted from the first frame written, for two seconds of real time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (engine.framesWritten() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const uint64_t first = engine.framesWritten();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        frames += engine.framesWritten() - first;
        cpu += CpuSeconds() - cpuStart;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        imThrHalt(node.thread, 1);
        imSyncHost(node.thread, node.sync, kSyncDone);
    }
    state.counters["fps"] = seconds > 0 ? static_cast<double>(frames) / seconds : 0;
    state.counters["cpu_us"] = frames ? cpu * 1e6 / static_cast<double>(frames) : 0;
}
BENCHMARK(HostGrabContinuous)->Args({640, 480})->Args({1024, 1024})->Iterations(2)->UseRealTime();

} // namespace
