// The surroundings of the grab benchmarks: an ini file naming one host-served board and
// free-running 8-bit camera files, a node with a camera loaded, a destination buffer and a
// sync object in mode 2, and percentiles of the samples.
#pragma once

#include "hlclib.h"

#include "boardsim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace grabbench {

constexpr uint32_t kSyncDone = 50;
constexpr uint32_t kSyncControlMode = 18001;

// A free-running 8-bit camera file of a frame of width x height.
inline std::string Camera(int width, int height)
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

// A camera file the benchmark loads by name.
struct CameraFile {
    std::string name;
    int width;
    int height;
};

// The ini file and the camera files in a temporary directory that the library's searches
// point at, removed at the end.
class Files {
public:
    Files(const char* prefix, std::vector<CameraFile> cameras) : cameras_(std::move(cameras))
    {
        std::string dir = std::string("/tmp/") + prefix + "XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        root_ = dir;
        std::ofstream(root_ + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        for (const CameraFile& c : cameras_) std::ofstream(root_ + "/" + c.name + ".dcf") << Camera(c.width, c.height);
        setenv("HLCINIPATH", root_.c_str(), 1);
        setenv("DCFPATH", root_.c_str(), 1);
        setenv("HALCYRA", (root_ + "/noinstall").c_str(), 1);
    }
    ~Files()
    {
        std::remove((root_ + "/halcyra.ini").c_str());
        for (const CameraFile& c : cameras_) std::remove((root_ + "/" + c.name + ".dcf").c_str());
        std::remove(root_.c_str());
    }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;

private:
    std::string root_;
    std::vector<CameraFile> cameras_;
};

// A node with the camera loaded, a destination of width x height x 8 at the location and
// a sync object in mode 2; the simulated frame period 0.  error holds the text of a failure.
struct Node {
    Node(const char* camera, int width, int height, uint32_t location)
    {
        if (!imDevAlloc(0, 0, 0, 0, &device)) {
            Failed();
            return;
        }
        thread = 0x40000010u | (device & 0x00FF0000u);
        if (!imCamAlloc(thread, camera, 1, &this->camera) ||
            !imBufAlloc(device, width, height, 1, 8, location, &frame) || !imSyncAlloc(thread, &sync)) {
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
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    void Failed()
    {
        char text[256] = {};
        imAppGetError(12, text);
        error = text;
    }
    // Posts a grab of count frames (-1: continuous) with the sync object re-armed.
    bool Grab(int32_t count) const
    {
        imSyncControl(thread, sync, 18000, 10);
        return imDigGrab(thread, 0, camera, frame, static_cast<uint32_t>(count), 0, sync) == 0;
    }
    uint32_t device = 0, thread = 0, camera = 0, frame = 0, sync = 0;
    bool ready = false;
    std::string error;
};

inline double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t i = std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())));
    return samples[i];
}

}  // namespace grabbench
