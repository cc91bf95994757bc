// The surroundings a test of the shared library runs in: a temporary directory that the
// library's file searches point at (the ini file through HLCINIPATH, camera files through
// DCFPATH, video configuration files through VCFPATH, the grab module's FPGA file through
// FPGANAME and FPGAPATH), removed with everything in it at the end, and the library's
// process-wide error state and communication time-out set for the test and put back.
#pragma once

#include "hlclib.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace libsandbox {

// One host-served board: node 0x11, board 0 of system 0.
constexpr const char* kOneBoard = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
// The grab module's FPGA file and the bytes its simulated FPGA takes to configure.
constexpr const char* kFpgaFile = "Generic=0110100111\n";
constexpr uint32_t kFpgaBytes = 10;
// What an open reports beside its id when no FPGA file is named for the grab module.
constexpr const char* kNoFpgaFile = "LDFPGA: File not found or invalid file";

class Sandbox {
public:
    // prefix: the start of the directory's name under /tmp.
    explicit Sandbox(const std::string& prefix)
    {
        std::string pattern = "/tmp/" + prefix + "XXXXXX";
        if (!mkdtemp(pattern.data())) {
            ADD_FAILURE() << "no temporary directory";
            return;
        }
        root_ = pattern;
        setenv("HLCINIPATH", root_.c_str(), 1);
        setenv("HALCYRA", (root_ + "/noinstall").c_str(), 1);
        for (const char* name : {"DCFPATH", "VCFPATH"}) setenv(name, root_.c_str(), 1);
        unsetenv("VCFNAME");
        imAppCatchError(0, nullptr, 0);
        imAppGetError(1, nullptr);
        imAppControl(1, 10.0);
    }
    ~Sandbox()
    {
        imAppControl(1, 15.0);
        imAppCatchError(0, nullptr, 0);
        imAppGetError(1, nullptr);
        for (const char* name : {"DCFPATH", "VCFPATH", "FPGAPATH", "FPGANAME"}) unsetenv(name);
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // The grab module's FPGA file, which an open in mode 3 loads.
    void useFpgaFile() const
    {
        write("module.res", kFpgaFile);
        setenv("FPGANAME", "module", 1);
        setenv("FPGAPATH", root_.c_str(), 1);
    }
    const std::string& root() const { return root_; }
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path(name), std::ios::binary) << text;
    }

private:
    std::string root_;
};

// A machine of one board with a standard grab module whose FPGA configures.
inline boardsim::Topology GrabModuleBoard()
{
    boardsim::Topology topology;
    topology.boards[0].fpgaBytes = kFpgaBytes;
    topology.boards[0].moduleType = 1;
    return topology;
}

// A machine of one board with a second-family grab module of the type given (4, 5 or 6:
// the library finds it by its id byte) whose FPGA configures.
inline boardsim::Topology KvxModuleBoard(uint8_t moduleType = 4)
{
    boardsim::Topology topology;
    topology.boards[0].fpgaBytes = kFpgaBytes;
    topology.boards[0].moduleType = moduleType;
    return topology;
}

// The lines of an 8-bit free-running camera (no trigger) of 640 x 480 visible pixels in an
// 858 x 525 raster at 13.5 MHz, on the channels given, one tap each.
inline std::vector<std::pair<std::string, uint32_t>> Camera640Lines(uint32_t channels)
{
    return {
        {"INFO_XSIZE", 640},     {"INFO_YSIZE", 480},       {"INFO_TRIGSRC", 536870912},
        {"INFO_T1TRGSRC", 536870912}, {"INFO_T2TRGSRC", 536870912},
        {"ORLOGREG_GHTOTAL", 858}, {"ORLOGREG_GVTOTAL", 524},
        {"DIG_HTOTAL", 858},     {"DIG_VTOTAL", 525},       {"DIG_HSSYNC", 16},      {"DIG_HESYNC", 80},
        {"DIG_VSSYNC", 3},       {"DIG_VESYNC", 6},         {"DIG_HSBLNK", 120},     {"DIG_HEBLNK", 842},
        {"DIG_VSBLNK", 20},      {"DIG_VEBLNK", 520},       {"DIG_HVRCTL", 0x1000},  {"DIG_OUTCTL", 0x2000},
        {"DIG_ANACTL", 0x0F0F},  {"DIG_DLYLN", 0x44},       {"DIG_GPCTL", 0x0005},   {"DS1020DLY", 0x21},
        {"INFO_PIXCLK", 13500000}, {"INFO_SPIXCLK", 13500000}, {"SDIG_HTOTAL", 900}, {"SDIG_HSSYNC", 17},
        {"INFO_BITSPERLOGCH", 8}, {"INFO_TIMEMULTIPIX", 1}, {"INFO_TIMEMULTICH", 1}, {"INFO_CHANNEL", channels},
        {"INFO_XTAPSPERCH", 1},  {"INFO_YTAPSPERCH", 1},    {"INFO_XTAPSPERCHADJ", 1}, {"INFO_YTAPSPERCHADJ", 1},
        {"INFO_GRBSYSCLK", 40000000}, {"INFO_USRCLK0", 10000000},
        {"ICS1522REG0", 0x35}, {"ICS1522REG1", 0x21}, {"ICS1522REG2", 0x06}, {"ICS1522REG3", 0x13},
        {"ICS1522REG4", 0x59C}, {"ICS1522REG5", 0x5C1}, {"ICS1522REG6", 0x47},
        {"DIG_GRABCTL", 0},      {"DIG_DICTL", 0},
    };
}

// A standard-family camera file: the type line, the analog levels and one line per keyword,
// in the order given.
inline std::string StandardCameraFile(const std::vector<std::pair<std::string, uint32_t>>& lines)
{
    std::string f = "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\nWritten by hand\n\nVDL_AMPL 714\nVDL_PEDEST 0\n"
                    "VDL_PED_AMP 0\n[REG_DIGIT]\n";
    for (const auto& [keyword, value] : lines) f += keyword + " " + std::to_string(value) + "\n";
    return f + "[REG_MODIF_STATE]\n\n[EOF]\n";
}

// A second-family camera file: the type line, the analog levels and one line per keyword
// of the family's table, in the order given.
inline std::string KvxCameraFile(const std::vector<std::pair<std::string, uint32_t>>& lines)
{
    std::string f = "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_1\nWritten by hand\n\nVDL_AMPL 714\nVDL_PEDEST 0\n"
                    "VDL_PED_AMP 0\n[REG_DIGIT]\n";
    for (const auto& [keyword, value] : lines) f += keyword + " " + std::to_string(value) + "\n";
    return f + "[REG_MODIF_STATE]\n\n[EOF]\n";
}

// A board that runs its own screen beside the desktop's (display mode 1).
constexpr const char* kOwnScreenIni = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=1\n";

// A 640 x 480 display mode: CRTC 0x00-0x18 and the pixel PLL (M 48, N 52, P 1: 74894 kHz).
constexpr uint8_t kMode640Crtc[25] = {0x5F, 0x4F, 0x50, 0x82, 0x54, 0x80, 0x0B, 0x3E, 0x00, 0x40, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0xEA, 0x0C, 0xDF, 0x50, 0x00, 0xE7, 0x04, 0xE3, 0xFF};

// That mode as a display mode file.
inline std::string Mode640Vcf()
{
    std::string text = "/ 640 x 480 at 75 MHz\n[REG_DIGIT]\nINFO_XSIZE 640\nINFO_YSIZE 480\nMISC 0xEF\n";
    char line[64];
    for (int i = 0; i < 25; ++i) {
        std::snprintf(line, sizeof line, "CRTC_(%02X) 0x%02X\n", i, kMode640Crtc[i]);
        text += line;
    }
    return text + "PCLK_(00) 48\nPCLK_(01) 52\nPCLK_(02) 1\n[EOF]\n";
}

// The desktop's display driver with one screen: on another board, so that the boards run
// their own screens (ownScreen), or the first board itself.
inline void SetDesktop(bool ownScreen)
{
    boardsim::DisplayDriverSpec desktop;
    desktop.privateEscapes = ownScreen;
    desktop.columns = 1;
    desktop.rows = 1;
    desktop.screenBases = {0xE0000008u};
    boardsim::BoardSim::instance().setDisplayDriver(desktop);
}

// A machine of one board with a display Orlo and a display chip, and the desktop's screen
// (see SetDesktop).
inline void ConfigureDisplayBoard(bool ownScreen)
{
    boardsim::Topology topology;
    topology.boards[0].displayOrlo = true;
    topology.boards[0].displayChip = true;
    boardsim::BoardSim::instance().configure(topology);
    SetDesktop(ownScreen);
}

// A machine of one board with a second-family grab module (type given, FPGA configuring),
// a display Orlo and a display chip, and the desktop's one screen on another board, so that
// this board runs its own screen and holds display heaps once a display is allocated.
inline void ConfigureKvxDisplayBoard(uint8_t moduleType = 4)
{
    boardsim::Topology topology = KvxModuleBoard(moduleType);
    topology.boards[0].displayOrlo = true;
    topology.boards[0].displayChip = true;
    boardsim::BoardSim::instance().configure(topology);
    SetDesktop(true);
}

// A sync object of a thread whose state stays at 50 once reached (mode 2), so that a wait
// for the end reports it; 0 when none could be made.
inline uint32_t HeldSyncObject(uint32_t thread)
{
    uint32_t sync = 0;
    EXPECT_NE(imSyncAlloc(thread, &sync), 0u);
    EXPECT_EQ(imSyncControl(thread, sync, 18001, 2.0), 0);
    return sync;
}

// Bytes that differ from their neighbours and repeat only after a long run, so that a
// shifted, repeated or lost block shows.
inline std::vector<uint8_t> BytePattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return v;
}

// The message of the last error, and the function that reported it.
inline std::string LastText()
{
    char text[128] = {};
    imAppGetError(4, text);
    return text;
}

// Closes a node opened by a test: imDevFree, retried while the node answers that it is
// still busy (a time-out), and 0 expected in the end.
inline void FreeDevice(uint32_t device)
{
    int32_t closed = device ? imDevFree(device) : 0;
    for (int i = 0; i < 5 && closed == IM_ERR_TIMEOUT; ++i) closed = imDevFree(device);
    EXPECT_EQ(closed, 0) << LastText();
}

// One grab of count frames by the thread, with its own held sync object, waited for up to
// the communication time-out: the sync state reached (50 when the grab ended).
inline int32_t GrabAndWait(uint32_t thread, uint32_t camera, uint32_t destination, int32_t count,
                           uint32_t options = 0)
{
    const uint32_t sync = HeldSyncObject(thread);
    EXPECT_EQ(imDigGrab(thread, 0, camera, destination, static_cast<uint32_t>(count), options, sync), 0)
        << LastText();
    const int32_t state = imSyncHost(thread, sync, 50);
    imSyncFree(thread, sync);
    return state;
}

// A control buffer of the device holding the given fields; 0 when none could be made.
inline uint32_t ControlBuffer(uint32_t device, const std::vector<std::pair<uint32_t, double>>& fields)
{
    uint32_t id = 0;
    EXPECT_NE(imBufAllocControl(device, &id), 0u) << LastText();
    for (const auto& [key, value] : fields) EXPECT_EQ(imBufPutField(device, id, key, value), 0) << key;
    return id;
}
inline std::string LastFunction()
{
    char text[80] = {};
    imAppGetError(8, text);
    return text;
}

// The last error, its text and the function that reported it (the export for what the host
// found, the node's handler for what the node found); the record is cleared.
inline void ExpectError(int32_t code, const std::string& text, const std::string& function)
{
    EXPECT_EQ(imAppGetError(0, nullptr), code);
    EXPECT_EQ(LastText(), text);
    EXPECT_EQ(LastFunction(), function);
    imAppGetError(1, nullptr);
}
inline void ExpectNoError()
{
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastFunction() << ": " << LastText();
    imAppGetError(1, nullptr);
}

} // namespace libsandbox
