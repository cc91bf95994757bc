// Camera and digitizer controls as a program uses them: a camera made from a camera file,
// changed and inquired through imCamControl / imCamInquire, and the live module changed and
// inquired through imDigControl / imDigInquire, through hlclib.h and libhlclib.so only; the
// simulated grab module and Orlo are read back through the platform object.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/grab_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;

// An 8-bit camera on red without the PLL, 20 MHz, lines of 1016 + 8 pixels; timer 1 may run
// on the pixel clock or the line rate.
std::string CameraFile()
{
    std::ostringstream f;
    f << "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\nWritten by hand\n\n";
    f << "VDL_AMPL 714\nVDL_PEDEST 0\nVDL_PED_AMP 0\n[REG_DIGIT]\n";
    f << "DIG_HTOTAL 1016\nDIG_VTOTAL 524\nDIG_GPCTL 0x5\nINFO_PIXCLK 20000000\nINFO_SPIXCLK 20000000\n"
         "INFO_BITSPERLOGCH 8\nINFO_TIMEMULTIPIX 1\nINFO_TIMEMULTICH 1\nINFO_CHANNEL 0x10000\n"
         "INFO_XTAPSPERCH 1\nINFO_YTAPSPERCH 1\nINFO_XTAPSPERCHADJ 1\nINFO_YTAPSPERCHADJ 1\n"
         "INFO_GRBSYSCLK 40000000\nINFO_USRCLK0 10000000\nINFO_T1CLKSRC 0x44\n";
    f << "[REG_MODIF_STATE]\n\n[EOF]\n";
    return f.str();
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        box_.write("cam.dcf", CameraFile());
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
        uint32_t device = 0;
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device), 0u) << LastText();
        device_ = device;
        ASSERT_NE(imCamAlloc(kThread, "cam", 1, &camera_), 0u) << LastText();
        ASSERT_EQ(LastError(), 0) << LastText();
        Grab().clearLog();
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setTracing(false);
        if (camera_) imCamFree(kThread, camera_);
        if (device_) imDevFree(device_);
        boardsim::BoardSim::instance().configure();
    }
    static boardsim::GrabView Grab() { return boardsim::BoardSim::instance().grab(0); }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    static std::string LastFunction()
    {
        char text[80] = {};
        imAppGetError(8, text);
        return text;
    }
    // A waiting command: the errors of the controls posted before it come back with it.
    void Settle() { imDevInquire(device_, 3, nullptr); }
    double CamDouble(int32_t type)
    {
        double out = -1;
        imCamInquire(kThread, camera_, type, &out);
        return out;
    }

    libsandbox::Sandbox box_{"hlcctllib"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
};

TEST_F(ControlTest, CameraControlsChangeTheRecordAndNotTheModule)
{
    const uint16_t htotal = Grab().reg(grabregs::DIG_HTOTAL);
    ASSERT_EQ(htotal, 1016);
    imCamControl(kThread, camera_, 44, 900.0);
    EXPECT_EQ(imCamInquire(kThread, camera_, 44, nullptr), 900);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), htotal);
    // The video amplitude in volts: a double inquiry.
    imCamControl(kThread, camera_, 30032, 0.7);
    EXPECT_DOUBLE_EQ(CamDouble(30032), 0.7);
    EXPECT_DOUBLE_EQ(CamDouble(30034), 0.7) << "white = black (0) + amplitude";
    // Frame or field: a new record grabs frames.
    int32_t field = -1;
    EXPECT_EQ(imCamInquire(kThread, camera_, 30026, &field), 2);
    EXPECT_EQ(field, 2);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(ControlTest, ExposureTimeIsConvertedToCountsOfAFittingClock)
{
    imCamControl(kThread, camera_, 30008, 0.01);
    // 200,000 pixel-clock counts do not fit; 195 line-rate counts do.
    EXPECT_NEAR(CamDouble(30008), 195.0 / 19531.25, 1e-12);
    EXPECT_EQ(imCamInquire(kThread, camera_, 14, nullptr), 199) << "the period count";
    EXPECT_EQ(imCamInquire(kThread, camera_, 32, nullptr), 2) << "timer 1 on the line rate";
    imCamControl(kThread, camera_, 30008, 100.0);
    Settle();
    EXPECT_EQ(LastError(), -8);
    EXPECT_EQ(LastFunction(), "CamControl");
}

TEST_F(ControlTest, DigitizerControlsActOnTheModuleNow)
{
    imDigControl(kThread, 0, 44, 800.0);
    imDigControl(kThread, 0, 142, 9.0);
    Settle();
    EXPECT_EQ(LastError(), 0) << LastText();
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 800);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL) & 0xE0, 0x20);
    int32_t out = 0;
    EXPECT_EQ(imDigInquire(kThread, 0, 44, &out), 800);
    EXPECT_EQ(out, 800);
    Grab().setCounters(123, 45);
    EXPECT_EQ(imDigInquire(kThread, 0, 40, nullptr), 123) << "the position counter from the module";
}

TEST_F(ControlTest, UnknownControlsAreRefusedWithTheParameterError)
{
    imDigControl(kThread, 0, 167, 1.0);
    Settle();
    EXPECT_EQ(LastError(), -8);
    EXPECT_EQ(LastText(), "Parameter invalid or unacceptable");
    EXPECT_EQ(LastFunction(), "DigControl");
    imAppGetError(1, nullptr);
    double out = 5.0;
    EXPECT_EQ(imCamInquire(kThread, camera_, 29999, &out), 0);
    EXPECT_EQ(LastError(), -8);
    EXPECT_EQ(LastFunction(), "CamInquire");
    imAppGetError(1, nullptr);
    EXPECT_EQ(imDigInquire(kThread, 0, 30100, nullptr), 0);
    EXPECT_EQ(LastError(), -8);
}

TEST_F(ControlTest, TheGrabDisableControlPulsesThePrimaryOrlo)
{
    boardsim::BoardSim::instance().setTracing(true);
    boardsim::BoardSim::instance().clearTrace();
    imDigControl(kThread, 0, 165, 1.0);
    imDigControl(kThread, 0, 165, 2.0);
    Settle();
    std::vector<uint32_t> writes;
    for (const auto& a : boardsim::BoardSim::instance().trace())
        if (a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryRegs && a.offset == kOrloGrabDisable)
            writes.push_back(a.value);
    EXPECT_EQ(writes, (std::vector<uint32_t>{1, 0})) << "one pulse, for 1.0 only";
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(ControlTest, SerialAccessOfTheStandardModuleIsAccepted)
{
    EXPECT_EQ(imDevControl(device_, 19 | 0x100, 1.0), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

} // namespace
