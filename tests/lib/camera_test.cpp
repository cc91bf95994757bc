// Cameras as a program makes them: a camera file through imCamAlloc on a simulated node,
// through hlclib.h and libhlclib.so only, with the simulated grab module read back through
// the platform object: the module's registers, its serial chips and its lookup-table
// memory after the load, a line-lock PLL that never locks, and the round trip camera file,
// camera, saved camera file.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/grab_regs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;


// The timing of an 8-bit camera on red, 858 x 525 at 13.5 MHz: keyword and value.
const std::vector<std::pair<std::string, uint32_t>> kTiming = {
    {"DIG_HTOTAL", 858},     {"DIG_VTOTAL", 525},       {"DIG_HSSYNC", 16},      {"DIG_HESYNC", 80},
    {"DIG_VSSYNC", 3},       {"DIG_VESYNC", 6},         {"DIG_HSBLNK", 120},     {"DIG_HEBLNK", 842},
    {"DIG_VSBLNK", 20},      {"DIG_VEBLNK", 520},       {"DIG_HVRCTL", 0x1000},  {"DIG_OUTCTL", 0x2000},
    {"DIG_ANACTL", 0x0F0F},  {"DIG_DLYLN", 0x44},       {"DIG_GPCTL", 0x0005},   {"DS1020DLY", 0x21},
    {"INFO_PIXCLK", 13500000}, {"INFO_SPIXCLK", 13500000}, {"SDIG_HTOTAL", 900}, {"SDIG_HSSYNC", 17},
    {"INFO_BITSPERLOGCH", 8}, {"INFO_TIMEMULTIPIX", 1}, {"INFO_TIMEMULTICH", 1}, {"INFO_CHANNEL", 0x10000},
    {"INFO_XTAPSPERCH", 1},  {"INFO_YTAPSPERCH", 1},    {"INFO_XTAPSPERCHADJ", 1}, {"INFO_YTAPSPERCHADJ", 1},
    {"INFO_GRBSYSCLK", 40000000}, {"INFO_USRCLK0", 10000000},
    {"ICS1522REG0", 0x35}, {"ICS1522REG1", 0x21}, {"ICS1522REG2", 0x06}, {"ICS1522REG3", 0x13},
    {"ICS1522REG4", 0x59C}, {"ICS1522REG5", 0x5C1}, {"ICS1522REG6", 0x47},
};

std::string CameraFile(uint32_t grabctl, uint32_t dictl, uint32_t pedestal)
{
    std::ostringstream f;
    f << "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\nWritten by hand\n\n";
    f << "VDL_AMPL 714\nVDL_PEDEST " << (pedestal ? 1 : 0) << "\nVDL_PED_AMP " << pedestal << "\n";
    f << "[REG_DIGIT]\n";
    for (const auto& [keyword, value] : kTiming) f << keyword << " " << value << "\n";
    f << "DIG_GRABCTL 0x" << std::hex << grabctl << "\nDIG_DICTL 0x" << dictl << std::dec << "\n";
    f << "[REG_MODIF_STATE]\n\n[EOF]\n";
    return f.str();
}

// A camera file's keyword lines from [REG_DIGIT] to the next section, as keyword -> value.
std::map<std::string, uint32_t> Lines(const std::string& text)
{
    std::map<std::string, uint32_t> lines;
    std::istringstream in(text);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (line.rfind("[REG_DIGIT]", 0) == 0) {
            inSection = true;
            continue;
        }
        if (!inSection) continue;
        if (!line.empty() && line[0] == '[') break;
        std::istringstream words(line);
        std::string keyword, value;
        if (words >> keyword >> value) lines[keyword] = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    }
    return lines;
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
        uint32_t device = 0;
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device), 0u) << LastText();
        device_ = device;
        Grab().clearLog();
    }
    void TearDown() override
    {
        if (device_) imDevFree(device_);
        boardsim::BoardSim::instance().configure();
    }
    static boardsim::GrabView Grab() { return boardsim::BoardSim::instance().grab(0); }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    void WriteCamera(const std::string& name, const std::string& text) { box_.write(name, text); }
    std::string ReadFile(const std::string& name)
    {
        std::ifstream in(box_.path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    libsandbox::Sandbox box_{"hlccamlib"};
    uint32_t device_ = 0;
};

// Registers the load leaves as the camera file gives them (a camera without the PLL).
void ExpectTiming()
{
    const boardsim::GrabView g = boardsim::BoardSim::instance().grab(0);
    EXPECT_EQ(g.reg(grabregs::DIG_HTOTAL), 858);
    EXPECT_EQ(g.reg(grabregs::DIG_VTOTAL), 525);
    EXPECT_EQ(g.reg(grabregs::DIG_HSSYNC), 16);
    EXPECT_EQ(g.reg(grabregs::DIG_VESYNC), 6);
    EXPECT_EQ(g.reg(grabregs::DIG_HEBLNK), 842);
    EXPECT_EQ(g.reg(grabregs::DIG_ANACTL), 0x0F0F);
    EXPECT_EQ(g.reg(grabregs::DIG_DLYLN), 0x44);
    EXPECT_EQ(g.reg(grabregs::DIG_HESYNC), 80);
    EXPECT_EQ(g.reg(grabregs::DIG_VSSYNC), 3);
    EXPECT_EQ(g.reg(grabregs::DIG_HSBLNK), 120);
    EXPECT_EQ(g.reg(grabregs::DIG_VSBLNK), 20);
    EXPECT_EQ(g.reg(grabregs::DIG_VEBLNK), 520);
    EXPECT_EQ(g.reg(grabregs::DIG_HVRCTL), 0x1000);
    EXPECT_EQ(g.reg(grabregs::DIG_OUTCTL), 0x2000);
}

// What the first load of an 8-bit camera on red leaves in the LUT memories and the clock
// synthesizer: one 8-bit identity table in page 29 of LUT 1 (palette 0), nothing in the
// third band, and the file's grab-system (40 MHz) and user (10 MHz) clocks.
void ExpectLutsAndClocks()
{
    const boardsim::GrabView g = boardsim::BoardSim::instance().grab(0);
    const std::vector<uint8_t> band0 = g.lutBand(1, 0);
    ASSERT_EQ(band0.size(), 8192u);
    for (uint32_t e = 0; e < 8192; ++e) {
        const uint32_t expected = e / 256 == 29 ? e % 256 : 0;
        ASSERT_EQ(band0[e], expected) << "LUT 1 band 0 entry " << e;
    }
    EXPECT_EQ(g.lutEntriesWritten(1), 256u);
    EXPECT_EQ(g.lutStrays(1), 0u);
    for (int lut = 1; lut <= 2; ++lut)
        for (uint8_t v : g.lutBand(lut, 2)) ASSERT_EQ(v, 0) << "LUT " << lut << " band 2";
    EXPECT_NEAR(g.icdClock(3).outputHz, 40e6, 40e6 * 0.001);
    EXPECT_NEAR(g.icdClock(0).outputHz, 10e6, 10e6 * 0.001);
}

TEST_F(CameraTest, ACameraWithoutThePllLoadsItsTimingAndMirrorsThePllWords)
{
    WriteCamera("ntsc.dcf", CameraFile(0x0000, 0x0000, 0));
    uint32_t camera = 0;
    ASSERT_NE(imCamAlloc(kThread, "ntsc", 1, &camera), 0u) << LastText();
    EXPECT_EQ(LastError(), 0) << LastText();
    ExpectTiming();
    EXPECT_EQ(Grab().reg(grabregs::DIG_GPCTL) & 0x5, 0x5) << "the module's outputs are on";
    EXPECT_TRUE(Grab().ics1522Loads().empty()) << "the PLL words are not sent without the PLL";
    EXPECT_EQ(Grab().ds1020(), 0x21);
    ExpectLutsAndClocks();
    imCamFree(kThread, camera);
}

TEST_F(CameraTest, ACameraWithThePllLocksAndLoadsItsOwnTiming)
{
    WriteCamera("pll.dcf", CameraFile(0x8000, 0x0000, 0));
    uint32_t camera = 0;
    ASSERT_NE(imCamAlloc(kThread, "pll", 1, &camera), 0u) << LastText();
    EXPECT_EQ(LastError(), 0) << LastText();
    ExpectTiming();
    // The ICS1522 holds the camera's words once the PLL has locked.
    const int expected[7] = {0x35, 0x21, 0x06, 0x13, 0x59C, 0x5C1, 0x47};
    for (int r = 0; r < 7; ++r) EXPECT_EQ(Grab().ics1522(r), expected[r]) << "ICS1522 register " << r;
    EXPECT_TRUE(Grab().pllLocked());
    ExpectLutsAndClocks();
    imCamFree(kThread, camera);
}

TEST_F(CameraTest, APllThatNeverLocksFailsTheFirstLutLoadWithTheInputClockPutBack)
{
    // A new camera's tables are programmed first, and that transfer restarts the PLL and
    // waits for its lock.
    Grab().setPllLock(boardsim::GrabPllLock::Never);
    WriteCamera("pll.dcf", CameraFile(0x8000, 0x0090, 0));
    const uint16_t before = Grab().reg(grabregs::DIG_DICTL);
    uint32_t camera = 0;
    imCamAlloc(kThread, "pll", 1, &camera);
    EXPECT_EQ(LastError(), -9);
    EXPECT_EQ(LastText(), "Error programming LUTs (first time)");
    // The load stopped before the camera's registers: the module keeps its input clock.
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), before);
    EXPECT_FALSE(Grab().pllLocked());
    if (camera) imCamFree(kThread, camera);
}

TEST_F(CameraTest, APllThatLosesItsLockAfterTheLutsFailsThePrelockWithTheInputClockPutBack)
{
    // The LUT transfer locks (its prelock and final words: fourteen register loads); from
    // then on the PLL never locks again, so the load's own prelock wait fails.  Input clock
    // select 4 (DIG_DICTL bits 5-7): the wait runs on select 1.
    auto switched = std::make_shared<bool>(false);
    boardsim::BoardSim::instance().setWriteFilter([switched](boardsim::HwAccess&) {
        if (!*switched && Grab().ics1522Loads().size() >= 14) {
            Grab().setPllLock(boardsim::GrabPllLock::Never);
            *switched = true;
        }
        return true;
    });
    WriteCamera("pll.dcf", CameraFile(0x8000, 0x0090, 0));
    uint32_t camera = 0;
    imCamAlloc(kThread, "pll", 1, &camera);
    boardsim::BoardSim::instance().setWriteFilter(nullptr);
    EXPECT_TRUE(*switched);
    EXPECT_EQ(LastError(), -9);
    EXPECT_EQ(LastText(), "PLL prelock not successful");
    // Clock select 1 during the wait, the camera's select 4 again after it.
    const auto dictl = Grab().values(grabregs::DIG_DICTL);
    ASSERT_GE(dictl.size(), 2u);
    EXPECT_EQ(dictl[dictl.size() - 2], 0x0030);
    EXPECT_EQ(dictl.back(), 0x0090);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x0090);
    if (camera) imCamFree(kThread, camera);
}

TEST_F(CameraTest, ASavedCameraReadsBackWithEveryValueAndItsPedestal)
{
    WriteCamera("ntsc.dcf", CameraFile(0x0000, 0x0000, 54));
    uint32_t camera = 0;
    ASSERT_NE(imCamAlloc(kThread, "ntsc", 1, &camera), 0u) << LastText();
    ASSERT_EQ(imCamSave(kThread, box_.path("saved.dcf").c_str(), camera), 0) << LastText();
    const std::string first = ReadFile("saved.dcf");
    const std::map<std::string, uint32_t> saved = Lines(first);
    ASSERT_EQ(saved.size(), 200u) << first;   // 199 table rows and the VDL_PEDEST line
    for (const auto& [keyword, value] : kTiming) EXPECT_EQ(saved.at(keyword), value) << keyword;
    EXPECT_EQ(saved.at("VDL_AMPL"), 714u);
    EXPECT_EQ(saved.at("VDL_PED_AMP"), 54u);
    EXPECT_EQ(saved.at("VDL_PEDEST"), 1u);
    EXPECT_EQ(saved.at("SYN_AMPL"), 286u);

    // Reloaded and saved again: the same values in every named slot.
    uint32_t again = 0;
    ASSERT_NE(imCamAlloc(kThread, box_.path("saved.dcf").c_str(), 1, &again), 0u) << LastText();
    ASSERT_EQ(imCamSave(kThread, box_.path("saved.dcf").c_str(), again), 0) << LastText();
    EXPECT_EQ(Lines(ReadFile("saved.dcf")), saved);
    imCamFree(kThread, camera);
    imCamFree(kThread, again);
}

}  // namespace
