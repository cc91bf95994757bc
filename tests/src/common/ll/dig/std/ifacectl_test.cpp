#include "../ctrlfixture.h"

#include "ifacectl.h"
#include "pll.h"
#include "serialchips.h"

#include <gtest/gtest.h>

#include <vector>

using chipsfixture::Get;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using ctrlfixture::Type;
using namespace cam0;

namespace {

int Put(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, double value, int32_t mode = 0)
{
    double v = value;
    return h(cam, 0, &v, mode);
}
double Ask(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam)
{
    double v = -1.5;
    EXPECT_EQ(h(cam, 0, &v, 1), 0);
    return v;
}

class Interface : public ctrlfixture::ControlTest {
protected:
    void SetUp() override
    {
        displayOrlo_ = true;
        ctrlfixture::ControlTest::SetUp();
        if (HasFatalFailure()) return;
        // The display Orlo too, for its grab-disable pulse.
        _NODE_MAIN_RESOURCE_ST& r = chipsfixture::Record();
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, chipsfixture::kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000,
                              &r.displayRegs));
        SetHwRegCtrlPtr(&r, nullptr);
        SetToOrlo(chipsfixture::kNode, 0, nullptr);
        SetToExt(0);
        mpPrvDigPut(nullptr, cam0::DIG_GPCTL, 0xFFFF, 0x0005);
        Grab().clearLog();
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setTracing(false);
        ctrlfixture::ControlTest::TearDown();
    }
    // Writes of the grab-disable register of one Orlo since tracing began.
    static std::vector<uint32_t> DisableWrites(bool display)
    {
        std::vector<uint32_t> values;
        const auto area = display ? boardsim::HwArea::DisplayRegs : boardsim::HwArea::PrimaryRegs;
        for (const auto& a : boardsim::BoardSim::instance().trace())
            if (a.op == boardsim::HwOp::Write && a.area == area && a.offset == kOrloGrabDisable) values.push_back(a.value);
        return values;
    }
    static void Trace()
    {
        boardsim::BoardSim::instance().setTracing(true);
        boardsim::BoardSim::instance().clearTrace();
    }
};

// ---- interface fields ----------------------------------------------------------------------------

TEST_F(Interface, InputClockSelectKeepsThreeBits)
{
    ASSERT_EQ(DigSet(Type(142), 9.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL) & 0xE0, 0x20) << "9 & 7 = 1 in bits 5-7";
    EXPECT_EQ(DigAsk(Type(142)), 1.0);
    ASSERT_EQ(DigSet(Type(134), 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x8020);
    ASSERT_EQ(DigSet(Type(145), 6.0), 0);
    ASSERT_EQ(DigSet(Type(144), 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_INTCTL), 0x1600);
    ASSERT_EQ(DigSet(Type(147), 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GPCTL), 0x0007);
}

TEST_F(Interface, ClockDelayIgnoresZeroAndBelowAndKeepsFourBits)
{
    ASSERT_EQ(DigSet(Type(143), 5.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DLYLN) & 0xF, 5);
    Grab().clearLog();
    ASSERT_EQ(DigSet(Type(143), 0.0), 0);
    ASSERT_EQ(DigSet(Type(143), -3.0), 0);
    EXPECT_TRUE(Values(grabregs::DIG_DLYLN).empty()) << "ignored";
    EXPECT_EQ(DigAsk(Type(143)), 5.0);
    ASSERT_EQ(DigSet(Type(143), 17.0), 0);
    EXPECT_EQ(DigAsk(Type(143)), 1.0);
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_clock_delay, cam.get(), 0.0), 0);
    ASSERT_EQ(Put(mp_dig_clock_delay, cam.get(), 18.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_DLYLN), 2u);
}

// ---- DIM outputs ---------------------------------------------------------------------------------

TEST_F(Interface, ADimOutputChangesItsBitAndLeavesDictlAsItWas)
{
    mpPrvSetExtReg(DIG_DICTL, 0x4A20);
    Live(DIMREG0)->value = 0x08;
    Grab().clearLog();
    ASSERT_EQ(DigSet(Type(151), 1.0), 0);
    EXPECT_EQ(Grab().dim(), 0x28) << "bit 5 added";
    EXPECT_EQ(Live(DIMREG0)->value & 0xFF, 0x28u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x4A20);
    EXPECT_EQ(Live(DIG_DICTL)->value & 0xFFFF, 0x4A20u);
    EXPECT_EQ(DigAsk(Type(151)), 1.0);
    EXPECT_EQ(DigAsk(Type(149)), 0.0);
}

TEST_F(Interface, WithoutTheDimALiveOutputDoesNothingAndAnswersZero)
{
    Grab().setDimFitted(false);
    Live(DIMREG0)->value = 0xFF;
    ASSERT_EQ(DigSet(Type(150), 0.0), 0);
    EXPECT_EQ(Live(DIMREG0)->value, 0xFFu);
    EXPECT_EQ(DigAsk(Type(150)), 0.0);
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_dim_dimsynsl, cam.get(), 1.0), 0);
    EXPECT_EQ(Get(cam.get(), DIMREG0), 0x08u);
    EXPECT_EQ(Ask(mp_dig_dim_dimsynsl, cam.get()), 1.0);
}

// ---- description fields and input mode ------------------------------------------------------------

TEST_F(Interface, DescriptionFieldsNeedARecord)
{
    _MP_BUF_ST* cam = NewCamera();
    ASSERT_EQ(CamSet(cam, Type(157), 2.9), 0);
    EXPECT_EQ(Get(Rec(cam), INFO_XTAPSPERCH), 2u);
    EXPECT_EQ(CamAsk(cam, Type(157)), 2.0);
    ASSERT_EQ(CamSet(cam, Type(161), 1.0), 0);
    EXPECT_EQ(Get(Rec(cam), INFO_PACKEDPIXELS), 1u);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(DigSet(Type(154), 10.0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(Interface, InputModeIsDigitalFourOrAnalogZero)
{
    _MP_BUF_ST* cam = NewCamera();
    ASSERT_EQ(CamSet(cam, Type(30023), 0.5), 0);
    EXPECT_EQ(Get(Rec(cam), INFO_INPUT), 4u);
    EXPECT_EQ(CamAsk(cam, Type(30023)), 1.0);
    ASSERT_EQ(CamSet(cam, Type(30023), 0.0), 0);
    EXPECT_EQ(Get(Rec(cam), INFO_INPUT), 0u);
    EXPECT_EQ(CamAsk(cam, Type(30023)), 0.0);
    EXPECT_EQ(DigSet(Type(30023), 1.0), -1);
}

// ---- user clock, pixel clock ------------------------------------------------------------------------

TEST_F(Interface, AUserClockInHertzIsProgrammedInKilohertz)
{
    ASSERT_EQ(DigSet(Type(163), 40000000.0), 0);
    const uint32_t word = mp_dig_calc_icd2061(0, 40000, 0);
    ASSERT_NE(word, 0u);
    const boardsim::GrabClock clock = Grab().icdClock(0);
    EXPECT_TRUE(clock.loaded);
    EXPECT_EQ(clock.word, word & 0x1FFFFF);
    EXPECT_NEAR(clock.outputHz, 40e6, 40e3);
    EXPECT_EQ(Live(INFO_USRCLK0)->value, 40000000u);
    EXPECT_EQ(Live(kUsrClkWordSlot)->value, word);
    EXPECT_EQ(DigAsk(Type(163)), 40000000.0);
}

TEST_F(Interface, AUserClockTheSynthesizerCannotMakeIsRefused)
{
    ASSERT_EQ(DigSet(Type(163), 20000000.0), 0);
    const size_t words = Grab().icdWords().size();
    EXPECT_EQ(DigSet(Type(163), 150000000.0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Grab().icdWords().size(), words) << "nothing sent";
    EXPECT_EQ(DigAsk(Type(163)), 20000000.0) << "the clock in use is kept";
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_user_clock, cam.get(), 150000000.0), 0) << "a record takes it; its load decides";
    EXPECT_EQ(Get(cam.get(), INFO_USRCLK0), 150000000u);
}

TEST_F(Interface, ThePixelClockIsSetOnlyInARecord)
{
    Live(INFO_PIXCLK)->value = 13500000;
    ASSERT_EQ(DigSet(Type(166), 20000000.0), 0);
    EXPECT_EQ(DigAsk(Type(166)), 13500000.0);
    _MP_BUF_ST* cam = NewCamera();
    ASSERT_EQ(CamSet(cam, Type(166), 20000000.0), 0);
    EXPECT_EQ(CamAsk(cam, Type(166)), 20000000.0);
}

// ---- grab-disable pulses ------------------------------------------------------------------------------

TEST_F(Interface, GrabDisablePulsesOnlyForExactlyOne)
{
    Trace();
    ASSERT_EQ(DigSet(Type(165), 1.0), 0);
    EXPECT_EQ(DisableWrites(false), (std::vector<uint32_t>{1, 0})) << "one pulse on the primary Orlo";
    EXPECT_TRUE(DisableWrites(true).empty());
    Trace();
    ASSERT_EQ(DigSet(Type(164), 1.0), 0);
    EXPECT_EQ(DisableWrites(true), (std::vector<uint32_t>{1, 0})) << "one pulse on the display Orlo";
    EXPECT_TRUE(DisableWrites(false).empty());
    Trace();
    ASSERT_EQ(DigSet(Type(164), 2.0), 0);
    ASSERT_EQ(DigSet(Type(165), 0.999), 0);
    EXPECT_TRUE(DisableWrites(true).empty());
    EXPECT_TRUE(DisableWrites(false).empty());
    // The module is still reached afterwards.
    ASSERT_EQ(DigSet(Type(44), 900.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 900);
    EXPECT_EQ(Code(), 0);
}

} // namespace
