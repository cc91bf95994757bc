#include "calrefs.h"
#include "../camerafixture.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "load.h"

#include <cmath>

using namespace camerafixture;

namespace {

constexpr uint32_t kFirstLoadDone = 1;

// An 8-bit camera on red without the PLL, loaded once already (its LUTs are programmed),
// with a 858 x 525 timing at 13.5 MHz and the vertical reset enabled.
std::unique_ptr<_MP_CAM_ST_0> PlainCamera()
{
    auto cam = lutfixture::EightBitCamera();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, cam0::DIG_HTOTAL, 858);
    Set(c, cam0::DIG_VTOTAL, 525);
    Set(c, cam0::DIG_HSSYNC, 16);
    Set(c, cam0::DIG_HESYNC, 80);
    Set(c, cam0::DIG_VSSYNC, 3);
    Set(c, cam0::DIG_VESYNC, 6);
    Set(c, cam0::DIG_HVRCTL, 0x1000);
    Set(c, cam0::DIG_OUTCTL, 0x2000);
    Set(c, cam0::DIG_ANACTL, 0x0F0F);
    Set(c, cam0::DIG_DLYLN, 0x44);
    Set(c, cam0::DS1020DLY, 0x21);
    Set(c, cam0::INFO_PIXCLK, 13500000);
    Set(c, cam0::INFO_SPIXCLK, 13500000);
    Set(c, cam0::SDIG_HTOTAL, 900);
    Set(c, cam0::SDIG_HSSYNC, 17);
    std::memcpy(c->bytes + cam0::LOADED_ONCE, &kFirstLoadDone, 4);
    return cam;
}

// PlainCamera in the calibrated level mode at gain code 21 on a module calibrated at 21,
// with one calibration table whose NREF and REF - NREF bounds the levels 0-1000 mV exceed
// (they give NREF 35 and REF - NREF 40).
std::unique_ptr<_MP_CAM_ST_0> OutOfBoundsCamera(uint32_t misc)
{
    auto cam = PlainCamera();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, cam0::INFO_MISC, misc);
    Set(c, cam0::INFO_PIXCLK, 10000000);
    Set(c, cam0::DIG_GRABCTL, 12 << 8);
    Set(c, cam0::DIG_ANACTL, 0);
    Set(c, cam0::WHITE_LEVEL, 1000);
    for (uint32_t w : {cam0::WHITE_REF_RED, cam0::WHITE_REF_GREEN, cam0::WHITE_REF_BLUE, cam0::WHITE_REF_ALPHA})
        Set(c, w, 100);
    STRUCT_DATA t{};
    t.fineSteps = 16;
    t.coarseMax = 255;
    t.nrefMax = 30;
    t.refMinusNrefMax = 39;
    for (auto& ch : t.channel) ch = {0.3f, 1.0f, static_cast<float>(std::log(6.4)), 0.0f, 0.0f, 0.0f, 0.0f};
    uint8_t* cal = c->bytes + cam0::CAL_DATA;
    cal[0] = 1;
    cal[kCalGainCode] = 21;
    std::memcpy(cal + CalTableOffset(0, 0), &t, sizeof t);
    return cam;
}

uint32_t LoadedOnce(const _MP_CAM_ST_0* cam)
{
    uint32_t word = 0;
    std::memcpy(&word, cam->bytes + cam0::LOADED_ONCE, 4);
    return word;
}

// The module's pixel-clock counter as the lock tests read it: register 3 answers the count
// in kHz (0: no clock), timer 1 reports busy for three polls, then idle.
struct ClockCounter {
    uint32_t count = 0;
    uint32_t t1Reads = 0;
};

class LoadTest : public CameraNodeTest {
protected:
    void TearDown() override
    {
        boardsim::BoardSim::instance().setWriteFilter(nullptr);
        CameraNodeTest::TearDown();
    }
    // From now on the module measures this pixel clock (kHz); the LUT interface answer of
    // the fixture stays.
    void PixelClock(uint32_t kHz)
    {
        auto c = std::make_shared<ClockCounter>();
        c->count = kHz;
        boardsim::BoardSim::instance().setReadFilter([c](const boardsim::HwAccess& a) -> uint32_t {
            if (a.area != boardsim::HwArea::PrimaryPort || a.op != boardsim::HwOp::Read) return a.value;
            const uint32_t reg = a.offset / 16;
            const bool high = (a.offset % 16) >= 8;
            if (reg == 70) return high ? 0x01 : 0x00;
            if (reg == grabregs::kVerticalCounter) return high ? (c->count >> 8) & 0xFF : c->count & 0xFF;
            if (reg == grabregs::DIG_T1CTL && high) return (c->t1Reads++ % 4) < 3 ? 0x80 : 0x00;
            return a.value;
        });
    }
    // The registers written from now on, one entry per high-lane write, in order.
    std::shared_ptr<std::vector<uint32_t>> RecordOrder()
    {
        auto order = std::make_shared<std::vector<uint32_t>>();
        boardsim::BoardSim::instance().setWriteFilter([order](boardsim::HwAccess& a) {
            if (a.area == boardsim::HwArea::PrimaryPort && a.op == boardsim::HwOp::Write && (a.offset % 16) >= 8)
                order->push_back(a.offset / 16);
            return true;
        });
        return order;
    }

    // The load's duration on the machine's virtual clock.
    double Timed(_MP_CAM_ST_0* cam, int32_t mode, int* result, uint32_t chanBits = 0)
    {
        const double start = mp_time_clock(0.0);
        *result = mp_dig_load(&res_, cam, nullptr, chanBits, mode);
        return mp_time_clock(start);
    }
    static CamSlot* Live(uint32_t offset) { return reinterpret_cast<CamSlot*>(mpPrvExtSlot(offset)); }
};

// ---- text building ---------------------------------------------------------------------------

TEST(LoadTextTest, ConvertAppendsTheNumberAndKeepsEachResult)
{
    const std::string a = convert("PLL freq (kHz): ", 13499);
    const std::string b = convert("x", 0);
    EXPECT_EQ(a, "PLL freq (kHz): 13499");
    EXPECT_EQ(b, "x0");
    EXPECT_EQ(convert(nullptr, 4294967295u), "4294967295");
}

// ---- settle wait ---------------------------------------------------------------------------

TEST(SettleTimeTest, AStandardFrameSettlesInAboutEighteenMilliseconds)
{
    auto cam = PlainCamera();
    EXPECT_NEAR(mpPrvSettleTime(cam.get()), 0.0179, 0.00005);
    const double line = 858.0 / 13.5e6;
    EXPECT_NEAR(mpPrvSettleTime(cam.get()), line * 3 + line * 262.5 + 0.001, 1e-12);
}

TEST(SettleTimeTest, NoPixelClockGivesNoWaitAndAReversedSyncCountsNoLines)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::INFO_PIXCLK, 0);
    EXPECT_EQ(mpPrvSettleTime(cam.get()), 0.0);
    cam = PlainCamera();
    Set(cam.get(), cam0::DIG_VSSYNC, 9);
    Set(cam.get(), cam0::DIG_VESYNC, 6);
    const double line = 858.0 / 13.5e6;
    EXPECT_NEAR(mpPrvSettleTime(cam.get()), line * 262.5 + 0.001, 1e-12);
}

TEST_F(LoadTest, InterlacedTimingWaitsForTheFrameToSettle)
{
    auto cam = PlainCamera();
    int result = -1;
    const double plain = Timed(cam.get(), 0, &result);
    ASSERT_EQ(result, 0) << Text();
    // The same load with the interlace bit and field control bits other than the live ones.
    Set(cam.get(), cam0::DIG_PSGCFG, 0x0001);
    Set(cam.get(), cam0::DIG_OUTCTL, 0x4000);
    const double interlaced = Timed(cam.get(), 0, &result);
    ASSERT_EQ(result, 0) << Text();
    EXPECT_NEAR(interlaced - plain, 0.0179, 0.0005);
}

TEST_F(LoadTest, TheSettleWaitIsSkippedWhenNothingThatMovesTheFrameChanged)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_PSGCFG, 0x0001);
    int result = -1;
    Timed(cam.get(), 0, &result);  // the live registers now hold the record's values
    ASSERT_EQ(result, 0);
    const double again = Timed(cam.get(), 0, &result);
    Set(cam.get(), cam0::DIG_OUTCTL, 0x2FFF);  // bits 13-15 unchanged
    const double otherBits = Timed(cam.get(), 0, &result);
    EXPECT_NEAR(again, otherBits, 1e-9);
    Set(cam.get(), cam0::DIG_HVRCTL, 0x1001);  // another vertical reset control
    const double hvr = Timed(cam.get(), 0, &result);
    EXPECT_NEAR(hvr - again, 0.0179, 0.0005);
    // Without a pixel clock there is nothing to wait for.
    Set(cam.get(), cam0::DIG_HVRCTL, 0x1002);
    Set(cam.get(), cam0::INFO_PIXCLK, 0);
    const double noClock = Timed(cam.get(), 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_NEAR(noClock, again, 1e-9);
}

// ---- references ---------------------------------------------------------------------------

TEST_F(LoadTest, UnusableCalibrationStopsTheLoadBeforeTheRegisters)
{
    auto cam = PlainCamera();
    std::memset(cam->bytes + cam0::LOADED_ONCE, 0, 4);
    Set(cam.get(), cam0::INFO_MISC, 0x2);  // calibrated levels; the module's EEPROM is erased
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), -1);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text(), "Error programming grab module references");
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty());
    EXPECT_TRUE(Values(grabregs::DIG_ANACTL).empty());
    EXPECT_TRUE(Grab().bt261Writes().empty());
    EXPECT_TRUE(Grab().dacLoads(1).empty());
    EXPECT_EQ(LoadedOnce(cam.get()), 0u);
}

TEST_F(LoadTest, DacValuesOutOfBoundsOnlyWarn)
{
    auto cam = OutOfBoundsCamera(0x002);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text(), "Warning: DAC values programmed are out of bounds");
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858) << "the load went on";
    EXPECT_EQ(Grab().dac(2, 4), 35) << "the computed NREF is loaded";
}

TEST_F(LoadTest, MiscBitElevenSilencesTheBoundsWarning)
{
    auto cam = OutOfBoundsCamera(0x802);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    EXPECT_EQ(Code(), 0) << Text();
}

// ---- lookup tables ------------------------------------------------------------------------

TEST_F(LoadTest, TheFirstLoadProgramsTheLutsAndRunsAsAFullLoad)
{
    auto cam = PlainCamera();
    std::memset(cam->bytes + cam0::LOADED_ONCE, 0, 4);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 1), 0) << Text();
    EXPECT_EQ(LoadedOnce(cam.get()), 1u);
    // A full load: the delay line, the description and the timing are loaded.
    EXPECT_EQ(Grab().ds1020(), 0x21);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858);
    EXPECT_EQ(Live(cam0::INFO_PIXCLK)->value, 13500000u);
}

TEST_F(LoadTest, AFailedFirstLutLoadStopsTheLoad)
{
    auto cam = PlainCamera();
    std::memset(cam->bytes + cam0::LOADED_ONCE, 0, 4);
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);  // names no LUT buffer
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), -1);
    EXPECT_EQ(Text(), "Error programming LUTs (first time)");
    EXPECT_EQ(LoadedOnce(cam.get()), 0u);
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty());
}

TEST_F(LoadTest, ALutPaletteChangeReprogramsTheLutsInModeTwo)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    Set(cam.get(), cam0::DIG_LUTPAL, 0x2000);
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);  // the programming must fail: it ran
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), -1);
    EXPECT_EQ(Text(), "Error programming LUTs (pclk was not ok)");
}

TEST_F(LoadTest, AnOutputBitChangeReprogramsTheLutsInModeTwo)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    mpPrvSetExtReg(cam0::DIG_GPCTL, 0x0025);  // the live module differs in bit 5
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), -1);
    EXPECT_EQ(Get(cam.get(), cam0::INFO_LUTPROG), 1u);
    EXPECT_EQ(Text(), "Error programming LUTs (pclk was not ok)");
}

TEST_F(LoadTest, NothingMarksTheLutsWhenPaletteAndOutputsAreUnchanged)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    Set(cam.get(), cam0::DIG_LUTPAL, 0x1FFF);       // bits 13-14 unchanged
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), 0) << Text();
    EXPECT_EQ(Get(cam.get(), cam0::INFO_LUTPROG), 0u);
}

TEST_F(LoadTest, AMarkWithoutARunningClockIsProgrammedBeforeTheRegisters)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    // A mark set by a control; the camera has no continuous pixel clock.
    Set(cam.get(), cam0::INFO_LUTPROG, 1);
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);
    Set(cam.get(), cam0::DIG_HTOTAL, 900);
    Grab().clearLog();
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), -1);
    EXPECT_EQ(Text(), "Error programming LUTs (pclk was not ok)");
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty()) << "stopped before the registers";
}

TEST_F(LoadTest, AMarkWithARunningClockIsProgrammedAfterTheRegisters)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::INFO_CONTPCLK, 1);
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    PixelClock(13500);
    Set(cam.get(), cam0::INFO_LUTPROG, 1);
    Set(cam.get(), cam0::INFO_LUTBUFID, 0x7777);
    Set(cam.get(), cam0::DIG_HTOTAL, 900);
    Grab().clearLog();
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), -1);
    EXPECT_EQ(Text(), "Error programming LUTs (pclk was ok)");
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 900) << "the registers were loaded first";
}

// ---- modes --------------------------------------------------------------------------------

TEST_F(LoadTest, AddingChannelsTouchesOnlyTheirAnalogBitsAndChangedDevices)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    Set(cam.get(), cam0::DIG_ANACTL, 0x0AFA);
    Set(cam.get(), cam0::DIG_HTOTAL, 1000);
    Set(cam.get(), cam0::DS1020DLY, 0x30);
    Set(cam.get(), cam0::INFO_PIXCLK, 20000000);
    Grab().clearLog();
    const size_t delays = Grab().ds1020Loads().size();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x20000, 1), 0) << Text();
    // Green: bits 4-5 and 10 from the record, the rest as loaded before.
    EXPECT_EQ(Grab().reg(grabregs::DIG_ANACTL), (0x0F0F & ~0x430) | (0x0AFA & 0x430));
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty()) << "no register load in mode 1";
    EXPECT_EQ(Grab().ds1020Loads().size(), delays) << "no delay line in mode 1";
    EXPECT_EQ(Live(cam0::INFO_PIXCLK)->value, 13500000u) << "no description in mode 1";
    EXPECT_TRUE(Grab().ics1522Loads().empty());
}

TEST_F(LoadTest, AnotherCameraLoadsOnlyTheRegistersThatDiffer)
{
    auto cam = PlainCamera();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    Set(cam.get(), cam0::DIG_HTOTAL, 1000);
    Set(cam.get(), cam0::DS1020DLY, 0x30);
    Grab().clearLog();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0x10000, 2), 0) << Text();
    EXPECT_EQ(Values(grabregs::DIG_HTOTAL), std::vector<uint16_t>{1000});
    EXPECT_TRUE(Values(grabregs::DIG_VTOTAL).empty()) << "equal registers are not sent";
    EXPECT_EQ(Grab().ds1020Loads(), (std::vector<uint8_t>{0x21, 0x30})) << "only the changed delay";
}

TEST_F(LoadTest, NoTrimDacChangeMakesNoPause)
{
    auto cam = PlainCamera();
    int result = -1;
    const double full = Timed(cam.get(), 0, &result);
    ASSERT_EQ(result, 0);
    EXPECT_GE(full, 0.1) << "a full load always sends the trim DACs and waits for them";
    const double same = Timed(cam.get(), 2, &result);
    ASSERT_EQ(result, 0);
    EXPECT_LT(same, 0.1);
}

// ---- vertical count reset -------------------------------------------------------------------

TEST_F(LoadTest, WithoutVerticalResetTheLoadPulsesTheVerticalCountReset)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_HVRCTL, 0x0000);
    Set(cam.get(), cam0::DIG_SRSCTL, 0x0040);
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    const auto srsctl = Values(grabregs::DIG_SRSCTL);
    ASSERT_GE(srsctl.size(), 2u);
    EXPECT_EQ(srsctl[srsctl.size() - 2], 0x0041);
    EXPECT_EQ(srsctl.back(), 0x0040);

    Set(cam.get(), cam0::DIG_HVRCTL, 0x1000);
    Grab().clearLog();
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 2), 0);
    for (uint16_t v : Values(grabregs::DIG_SRSCTL)) EXPECT_EQ(v & 1, 0) << "no pulse";
}

// ---- PLL -----------------------------------------------------------------------------------

TEST_F(LoadTest, ANeverLockingPllFailsWithTheInputClockPutBack)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_GRABCTL, 0x8000);
    Set(cam.get(), cam0::DIG_DICTL, 0x0090);  // input clock select 4
    PixelClock(0);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), -1);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text(), "PLL prelock not successful");
    // Clock select 1 for the wait, then the record's value again.
    const auto dictl = Values(grabregs::DIG_DICTL);
    ASSERT_GE(dictl.size(), 2u);
    EXPECT_EQ(dictl[dictl.size() - 2], 0x0030);
    EXPECT_EQ(dictl.back(), 0x0090);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x0090);
}

TEST_F(LoadTest, APrelockClockOfZeroIsRefusedWithoutAWait)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_GRABCTL, 0x8000);
    Set(cam.get(), cam0::DIG_DICTL, 0x0080);
    Set(cam.get(), cam0::INFO_SPIXCLK, 999);  // below 1 kHz
    int result = 0;
    const double t = Timed(cam.get(), 0, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Text(), "PLL prelock not successful");
    EXPECT_LT(t, 0.5) << "no lock tests were made";
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x0080);
}

TEST_F(LoadTest, TheToleratedPrelockOnlyWarnsWithTheMeasuredClock)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_GRABCTL, 0x8000);
    Set(cam.get(), cam0::INFO_MISC, 0x100);
    PixelClock(12000);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text().rfind("Warning: PLL prelock not successful; PLL freq (kHz): ", 0), 0u) << Text();
    const std::string count = Text().substr(std::strlen("Warning: PLL prelock not successful; PLL freq (kHz): "));
    EXPECT_EQ(count, "12000");
}

TEST_F(LoadTest, ALockedPllLoadsTheRecordsTiming)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_GRABCTL, 0x8000);
    PixelClock(13500);
    EXPECT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0) << Text();
    EXPECT_EQ(Code(), 0) << Text();
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858) << "the record's timing after the prelock";
}

TEST_F(LoadTest, WithoutThePllTheRegistersOfThePrelockAreRestored)
{
    auto cam = PlainCamera();
    for (uint32_t r = 0; r < 7; ++r) Set(cam.get(), cam0::ICS1522REG(r), 100 + r);
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0);
    for (uint32_t r = 0; r < 7; ++r) EXPECT_EQ(Live(cam0::ICS1522REG(r))->value, 100 + r);
    EXPECT_TRUE(Grab().ics1522Loads().empty()) << "mirrored, not sent";
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HSSYNC), 16);
}

// ---- Sorvik II -------------------------------------------------------------------------------

TEST_F(LoadTest, SorvikRecordsLoadNoSerialDevices)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::SORVIK2_FLAG, 2);
    Set(cam.get(), cam0::SORVIK2_CONTROL, 0x1D68);
    Set(cam.get(), cam0::UART_CONTROL, 2);
    ASSERT_EQ(mp_dig_load(&res_, cam.get(), nullptr, 0, 0), 0) << Text();
    EXPECT_TRUE(Grab().bt261Writes().empty());
    EXPECT_TRUE(Grab().ds1020Loads().empty());
    EXPECT_TRUE(Grab().dacLoads(1).empty());
    EXPECT_TRUE(Grab().dacLoads(2).empty());
    EXPECT_TRUE(Grab().ics1522Loads().empty());
    EXPECT_EQ(Grab().reg(47), 0x1D68);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858);
}

// ---- shadow loaders ------------------------------------------------------------------------

TEST_F(LoadTest, ThePrelockCopyLeavesTheRegistersOfThePllStart)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::DIG_HTOTAL, 1234);
    Set(cam.get(), cam0::DIG_VTOTAL, 625);
    Set(cam.get(), cam0::DIG_GPCTL, 0x77);
    Live(cam0::DIG_HTOTAL)->value = 55;
    Live(cam0::DIG_HTOTAL)->file = 0x80000000u;
    loadShPrelock(cam.get());
    EXPECT_EQ(Live(cam0::DIG_HTOTAL)->value, 55u);
    EXPECT_EQ(Live(cam0::DIG_HTOTAL)->file, 0x80000000u);
    EXPECT_NE(Live(cam0::DIG_GPCTL)->value & 0xFFFF, 0x77u);
    EXPECT_EQ(Live(cam0::DIG_VTOTAL)->value & 0xFFFF, 625u);
    EXPECT_EQ(Live(cam0::DIG_VTOTAL)->file & 0xC0000000u, 0u);
    EXPECT_TRUE(Values(grabregs::DIG_VTOTAL).empty()) << "nothing written";
    loadHw(cam.get());
    EXPECT_EQ(Values(grabregs::DIG_VTOTAL), std::vector<uint16_t>{625});
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty()) << "its written flag is set";
}

TEST_F(LoadTest, TheDifferenceCopyTakesOnlyChangedRegisters)
{
    auto cam = PlainCamera();
    Live(cam0::DIG_VTOTAL)->value = 525;
    Live(cam0::DIG_VTOTAL)->file = 0x80000000u;
    Live(cam0::DIG_HTOTAL)->value = 0x10000 | 857;
    Live(cam0::DIG_HTOTAL)->file = 0x80000000u;
    loadSh(cam.get());
    EXPECT_EQ(Live(cam0::DIG_VTOTAL)->file, 0x80000000u) << "equal: untouched";
    EXPECT_EQ(Live(cam0::DIG_HTOTAL)->value, 0x10000u | 858) << "the upper half is kept";
    EXPECT_EQ(Live(cam0::DIG_HTOTAL)->file & 0xC0000000u, 0u);
}

TEST_F(LoadTest, RestoreWritesThePrelockRegistersInOrder)
{
    auto cam = PlainCamera();
    for (uint32_t offset : {cam0::DIG_GRABCTL, cam0::DIG_T2SCNT, cam0::DIG_MISCTL, cam0::DIG_EXP2S,
                            cam0::DIG_T2CTL, cam0::DIG_HSPLLF, cam0::DIG_HEPLLF, cam0::DIG_PSGCFG,
                            cam0::DIG_TMRCLR, cam0::DIG_SRSCTL})
        Set(cam.get(), offset, 0x100 + offset / 8);
    auto order = RecordOrder();
    restoreSdig(cam.get());
    const std::vector<uint32_t> expected = {
        grabregs::DIG_HTOTAL, cam0::DIG_GRABCTL / 8, grabregs::DIG_HSSYNC, grabregs::DIG_HESYNC,
        cam0::DIG_T2SCNT / 8, cam0::DIG_MISCTL / 8, cam0::DIG_EXP2S / 8, cam0::DIG_T2CTL / 8,
        grabregs::DIG_HVRCTL, grabregs::DIG_HSPLLF, grabregs::DIG_HEPLLF, grabregs::DIG_PSGCFG,
        cam0::DIG_TMRCLR / 8, grabregs::DIG_SRSCTL};
    EXPECT_EQ(*order, expected);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858);
    EXPECT_EQ(Grab().reg(cam0::DIG_TMRCLR / 8), 0x100 + cam0::DIG_TMRCLR / 8);
}

TEST_F(LoadTest, TheHardwareLoadSendsItsRegistersInOrder)
{
    auto cam = PlainCamera();
    Set(cam.get(), cam0::SORVIK2_FLAG, 34);
    // Every register of the list with its flags cleared and a value of its own.
    for (uint32_t reg = 0; reg < 106; ++reg) {
        Live(8 * reg)->value = 0x200 + reg;
        Live(8 * reg)->file = 0x80000000u;
    }
    const std::vector<uint32_t> expected = {0,  2,  4,  6,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
                                            19, 20, 21, 22, 23, 24, 25, 26, 27, 90, 36, 46, 88, 89, 80,
                                            84, 81, 85, 82, 86, 94, 32, 35, 96, 34, 33, 92, 38, 105, 41,
                                            40, 100, 103, 97, 98, 101, 99, 47, 43};
    for (uint32_t reg : expected) Live(8 * reg)->file = 0;
    auto order = RecordOrder();
    loadHw(cam.get());
    EXPECT_EQ(*order, expected);
}

}  // namespace
