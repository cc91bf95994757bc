#include "../chipsfixture.h"

#include "camuart.h"
#include "exposure.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using chipsfixture::Get;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using namespace cam0;

namespace {

constexpr double kDefault = 268435456.0;
constexpr double kNone = 536870912.0;
constexpr double kEnable = -9997.0;
constexpr double kDisable = -9999.0;
constexpr uint32_t kMisc = grabregs::DIG_MISCTL;
constexpr uint32_t kCapt = grabregs::DIG_CPTCTL;
constexpr uint32_t kT1 = grabregs::DIG_T1CTL;
constexpr uint32_t kT2 = grabregs::DIG_T2CTL;
constexpr uint32_t kClear = grabregs::DIG_TMRCLR;
constexpr uint32_t kResets = grabregs::DIG_SRSCTL;

// Timer control words: trigger source code in bits 4-6, polarity bit 7, triggered bit 8.
constexpr uint32_t Timer(uint32_t code, bool triggered, bool polarity = false)
{
    return (code << 4) | (polarity ? 0x80 : 0) | (triggered ? 0x100 : 0);
}

class ExposureTest : public chipsfixture::GrabModuleTest {
protected:
    // Live register values as the module holds them, without logging them as writes.
    void Preset(std::initializer_list<std::pair<uint32_t, uint32_t>> regs)
    {
        for (const auto& [reg, value] : regs) mpPrvSetExtReg(grabregs::Slot(reg), value);
        Grab().clearLog();
    }
    static int Switch(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), double value,
                      _MP_CAM_ST_0* camera = nullptr)
    {
        double v = value;
        return h(camera, 30012, &v, 0);
    }
    static std::vector<uint16_t> V(std::initializer_list<uint16_t> v) { return v; }
};

// ---- generators -------------------------------------------------------------------------

TEST_F(ExposureTest, FreeRunningGeneratorRunsAndArms)
{
    Preset({{kCapt, 2u << 10}});
    ASSERT_EQ(Switch(mp_dig_exp1, kEnable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x400A) << "run and arm, and capture enabled for timer 1";
    ASSERT_EQ(Switch(mp_dig_exp2, kEnable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x40AA);
    ASSERT_EQ(Switch(mp_dig_exp1, kDisable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x40A0);
}

TEST_F(ExposureTest, ExposureOnATimerChainedToTheOtherStartsThatOne)
{
    Preset({{kT2, Timer(5, false)}});
    ASSERT_EQ(Switch(mp_dig_exp1, kEnable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0xA0) << "generator 2 runs, generator 1 untouched";
    ASSERT_EQ(Switch(mp_dig_exp1, kDisable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x00);
}

TEST_F(ExposureTest, TimersChainedBothWaysAreEachHandledOnce)
{
    Preset({{kT1, Timer(5, true)}, {kT2, Timer(5, true)}, {kClear, 0x88}, {kResets, 0x3}});
    ASSERT_EQ(Switch(mp_dig_exp1, kEnable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x11) << "both trigger enables, once each";
    EXPECT_EQ(Grab().values(kMisc), V({0x10, 0x11}));
    ASSERT_EQ(Switch(mp_dig_exp2, kDisable), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x00);
    // Each generator's clear strobe pulsed once, and both registers put back.
    EXPECT_EQ(Grab().values(kClear), V({0x180, 0x187, 0x88, 0x208, 0x278, 0x88}));
    EXPECT_EQ(Grab().values(kResets), V({0x103, 0x3, 0x203, 0x3}));
}

TEST_F(ExposureTest, SoftwareTriggeredGeneratorPulsesItsTriggerLine)
{
    Preset({{kT1, Timer(7, true, true)}});
    ASSERT_EQ(Switch(mp_dig_exp1, kEnable), 0);
    // Trigger enable, then the line to its active (high) level and back.
    EXPECT_EQ(Grab().values(kMisc), V({0x01, 0x05, 0x01}));
}

TEST_F(ExposureTest, StoppingAnArmedTimerFiresItOnce)
{
    Preset({{kT1, Timer(6, false)}, {kMisc, 0x0A}, {kClear, 0x0}});
    mp_dig_dis_exp1(nullptr);
    EXPECT_EQ(Grab().values(kMisc), V({0x00, 0x01, 0x01, 0x05, 0x00}));
    EXPECT_EQ(Grab().values(kT1), V({0x70, 0x60}));
    EXPECT_EQ(Grab().values(kClear), V({0x100, 0x107, 0x0}));
}

TEST_F(ExposureTest, TimerResetPutsTheMiscellaneousControlBack)
{
    Preset({{kT1, Timer(5, false)}, {kMisc, 0xAB}});
    mp_dig_reset_timer1(nullptr);
    EXPECT_EQ(Grab().values(kMisc), V({0xA0, 0xAB})) << "stopped, then restored; the chain is not followed";
}

TEST_F(ExposureTest, BothGeneratorsTogether)
{
    Preset({{kCapt, 3u << 10}});
    ASSERT_EQ(mp_dig_sync_timers(), 1) << "equal codes (0)";
    double v = kEnable;
    ASSERT_EQ(mp_dig_exp_sync(nullptr, 30012 | 0x30000, &v, 0), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x40AA);
    v = kDisable;
    ASSERT_EQ(mp_dig_exp_sync(nullptr, 30012 | 0x30000, &v, 0), 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x4000);

    Preset({{kT1, Timer(7, true, true)}, {kT2, Timer(7, true, false)}, {kMisc, 0}, {kCapt, 0}});
    v = kEnable;
    ASSERT_EQ(mp_dig_exp_sync(nullptr, 30012, &v, 0), 0);
    // Both trigger enables, then timer 1's line high and timer 2's low, then the opposite.
    EXPECT_EQ(Grab().values(kMisc), V({0x11, 0x15, 0x51}));

    Preset({{kT1, Timer(7, true)}, {kT2, Timer(2, false)}, {kMisc, 0}, {kCapt, 0}});
    v = kEnable;
    mp_dig_exp_sync(nullptr, 30012, &v, 0);
    EXPECT_TRUE(Grab().values(kMisc).empty()) << "mixed modes start nothing";
}

TEST_F(ExposureTest, SyncedTimersNeedEqualCodesOtherThanTheChain)
{
    Preset({{kT1, Timer(3, true)}, {kT2, Timer(3, false)}});
    EXPECT_EQ(mp_dig_sync_timers(), 1);
    Preset({{kT1, Timer(5, true)}, {kT2, Timer(5, true)}});
    EXPECT_EQ(mp_dig_sync_timers(), 0);
    Preset({{kT1, Timer(1, true)}, {kT2, Timer(0, true)}});
    EXPECT_EQ(mp_dig_sync_timers(), 0);
}

TEST_F(ExposureTest, ExposureSwitchesActOnTheLiveModuleOnly)
{
    auto cam = NewRecord();
    EXPECT_EQ(Switch(mp_dig_exp1, kEnable, cam.get()), -1);
    EXPECT_EQ(Switch(mp_dig_exp_sync, kEnable, cam.get()), -1);
    EXPECT_EQ(Switch(mp_dig_exp2, 1.0), 0);
    double v = kEnable;
    EXPECT_EQ(mp_dig_exp1(nullptr, 30012, &v, 1), 0) << "inquiry: nothing";
    EXPECT_EQ(AllWrites(), 0u);
}

// ---- capture source, polarity and software capture -------------------------------------------

TEST(CaptureSource, ValuesAndTheirCodes)
{
    auto cam = NewRecord();
    auto code = [&cam] { return (Get(cam.get(), DIG_CPTCTL) >> 10) & 7; };
    auto set = [&cam](double value) {
        double v = value;
        EXPECT_EQ(mp_dig_capt_src(cam.get(), 30013, &v, 0), 0);
        return v;
    };
    Set(cam.get(), DIG_CPTCTL, 3u << 10 | 0x200);
    Set(cam.get(), INFO_TRIGSRC, 0x20004);

    set(kNone);
    EXPECT_EQ(code(), 5u);
    EXPECT_EQ(Get(cam.get(), INFO_TRIGSRC), 0x20000000u);
    set(kDefault);
    EXPECT_EQ(code(), 3u) << "the camera file's code";
    EXPECT_EQ(Get(cam.get(), INFO_TRIGSRC), 0x20004u);

    EXPECT_EQ(set(4.0), 2.0) << "the value becomes its code";
    EXPECT_EQ(set(0x10004), 2.0);
    EXPECT_EQ(set(0x20004), 3.0);
    EXPECT_EQ(Get(cam.get(), INFO_TRIGSRC), 0x20004u) << "the record keeps the value";
    EXPECT_EQ(set(0x30004), 4.0);
    EXPECT_EQ(set(0x100001), 1.0);
    EXPECT_EQ(set(0x200001), 0.0);
    EXPECT_EQ(set(1.0), 1.0) << "analog input";
    Set(cam.get(), INFO_INPUT, 1);
    EXPECT_EQ(set(1.0), 0.0) << "digital input";
    EXPECT_EQ(set(0.0), 0.0);
    EXPECT_EQ(code(), 5u) << "0 is software";
    EXPECT_EQ(set(14.0), 14.0);
    EXPECT_EQ(code(), 6u) << "any other value: its low three bits";
    EXPECT_EQ(Get(cam.get(), DIG_CPTCTL) & ~0x1C00u, 0x200u) << "polarity untouched";

    double v = 0;
    EXPECT_EQ(mp_dig_capt_src(cam.get(), 30013, &v, 1), 0);
    EXPECT_EQ(v, 14.0);
    EXPECT_EQ(mp_dig_capt_src(nullptr, 30013, &v, 0), -1);
}

TEST(CapturePolarity, RecordPolarityAndTriggerPair)
{
    auto cam = NewRecord();
    Set(cam.get(), DIG_CPTCTL, 0x200);
    auto set = [&cam](double value) {
        double v = value;
        return mp_dig_capt_pol(cam.get(), 30014, &v, 0);
    };
    auto ask = [&cam] {
        double v = -1;
        EXPECT_EQ(mp_dig_capt_pol(cam.get(), 30014, &v, 1), 0);
        return v;
    };
    for (double value : {0.0, 1.0, 2.0, 3.0}) {
        ASSERT_EQ(set(value), 0);
        EXPECT_EQ(ask(), value);
    }
    EXPECT_EQ(Get(cam.get(), DIG_CPTCTL), 0u) << "3.0: polarity 0";
    EXPECT_EQ(Get(cam.get(), ORLOGREG_GRABCTRL), 0x80u) << "3.0: bit 7 alone";
    set(0.0);
    EXPECT_EQ(Get(cam.get(), DIG_CPTCTL), 0x200u);
    EXPECT_EQ(Get(cam.get(), ORLOGREG_GRABCTRL), 0xC0u);
    set(1.0);
    set(kDefault);
    EXPECT_EQ(Get(cam.get(), DIG_CPTCTL), 0x200u) << "the camera file's bit 9";
    EXPECT_EQ(Get(cam.get(), ORLOGREG_GRABCTRL), 0xC0u) << "the pair stays";
    set(7.0);
    EXPECT_EQ(Get(cam.get(), DIG_CPTCTL), 0x200u) << "not a polarity";
}

TEST_F(ExposureTest, LivePolarityWritesBit9Only)
{
    double v = 2.0;
    ASSERT_EQ(mp_dig_capt_pol(nullptr, 30014, &v, 0), 0);
    EXPECT_EQ(Grab().reg(kCapt), 0x200);
    v = 1.0;
    mp_dig_capt_pol(nullptr, 30014, &v, 0);
    EXPECT_EQ(Grab().reg(kCapt), 0x000);
    v = kDefault;
    EXPECT_EQ(mp_dig_capt_pol(nullptr, 30014, &v, 0), -1);
}

TEST_F(ExposureTest, SoftwareCapturePulsesTheCaptureLine)
{
    Preset({{kCapt, 0x200}});
    double v = kEnable;
    ASSERT_EQ(mp_dig_sw_capt(nullptr, 30015, &v, 0), 0);
    EXPECT_EQ(Grab().values(kMisc), V({0x4000, 0x6000, 0x4000}));
    v = kDisable;
    mp_dig_sw_capt(nullptr, 30015, &v, 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x6000) << "the line back at the polarity's level";
    Grab().clearLog();
    auto cam = NewRecord();
    v = kEnable;
    EXPECT_EQ(mp_dig_sw_capt(cam.get(), 30015, &v, 0), 0);
    EXPECT_EQ(AllWrites(), 0u) << "a record takes no software capture";
}

// ---- capture arming --------------------------------------------------------------------------------

std::unique_ptr<_MP_CAM_ST_0> Armed(int32_t t, int32_t s1, int32_t s2)
{
    auto cam = NewRecord();
    Set(cam.get(), INFO_TRIGSRC, static_cast<uint32_t>(t));
    Set(cam.get(), INFO_T1TRGSRC, static_cast<uint32_t>(s1));
    Set(cam.get(), INFO_T2TRGSRC, static_cast<uint32_t>(s2));
    return cam;
}

TEST_F(ExposureTest, ArmingWithCaptureMode1LeavesTheArmBitsInTheShadow)
{
    auto cam = Armed(kTrigNone, kTrigTimer1, kTrigNone);
    Set(cam.get(), DIG_MISCTL, 0x100);
    Set(cam.get(), DIG_TMRCLR, 0x42);
    GrbCapt(cam.get(), 1, 1, 0);
    EXPECT_EQ(Grab().reg(kClear), 0x42);
    EXPECT_EQ(Grab().reg(kMisc), 0x100) << "the record's word reached the module";
    EXPECT_EQ(Live(DIG_MISCTL)->value & 0xFFFF, 0x102u) << "timer 1's arm waits in the shadow";
    EXPECT_EQ(Live(DIG_MISCTL)->file & (kShadowWritten | kShadowListMode), 0u);
    EXPECT_EQ(Grab().values(kMisc), V({0x100})) << "no generator started";
}

TEST_F(ExposureTest, ArmingWithoutSourcesOnlyCopiesTheRecord)
{
    auto cam = Armed(kTrigNone, kTrigNone, kTrigNone);
    Set(cam.get(), DIG_MISCTL, 0x2001);
    GrbCapt(cam.get(), 0, -1, 3);
    EXPECT_EQ(Grab().values(kMisc), V({0x2001}));
    EXPECT_EQ(AllWrites(), 2u) << "DIG_TMRCLR and DIG_MISCTL, once each";
}

TEST_F(ExposureTest, ArmingOnASingleEdgeSoftwareCaptureRaisesTheLine)
{
    auto cam = Armed(0, kTrigNone, kTrigNone);
    Set(cam.get(), ORLOGREG_GRABCTRL, 0x80);
    Set(cam.get(), DIG_CPTCTL, 0x200);
    GrbCapt(cam.get(), 0, 1, 0);
    EXPECT_EQ(Grab().reg(kMisc), 0x2000);
    EXPECT_EQ(Get(cam.get(), DIG_MISCTL), 0x2000u) << "the record follows";
}

TEST_F(ExposureTest, ArmingOnAHardwareTriggerEnablesTheMatchingTimer)
{
    auto cam = Armed(0x200001, 0x200001, kTrigNone);
    Set(cam.get(), DIG_T1CTL, Timer(0, true));  // capture code 0 = timer 1's source code 0
    Set(cam.get(), DIG_T2CTL, Timer(7, true));
    Set(cam.get(), DIG_MISCTL, 0x100);
    Preset({{kT1, Timer(0, true)}, {kT2, Timer(7, true)}});
    GrbCapt(cam.get(), 0, 1, 1);
    EXPECT_EQ(Grab().reg(kMisc), 0x4101) << "timer 1 trigger enable and capture enable";
    EXPECT_EQ(Grab().values(kResets), V({0x100, 0x0})) << "timer 1 was reset first";
}

TEST_F(ExposureTest, ArmingStartsTheTimersItsCaptureSourceNames)
{
    auto cam = Armed(4, kTrigTimer1, kTrigNone);
    Preset({{kT1, Timer(2, false)}});
    GrbCapt(cam.get(), 0, 5, 0);
    // Arm for several frames, then generator 1 runs free.
    EXPECT_EQ(Grab().values(kMisc), V({0x02, 0x0A}));
}

// ---- triggered capture --------------------------------------------------------------------------------

TEST_F(ExposureTest, TriggeredCaptureFiresOnlyOnALoadedModule)
{
    std::vector<uint32_t> state(kNodeStateBytes / 4, 0);
    uint32_t* info = &state[25];
    auto cam = Armed(0, 0, kTrigNone);
    Preset({{kCapt, (2u << 10) | 0x200}, {kT1, Timer(7, true)}});

    mpDigCaptureOnNode(info, chipsfixture::kNode, cam.get(), -9997);
    EXPECT_EQ(AllWrites(), 0u) << "module not present";
    mpDigCapture_Std(nullptr, 0, 0, -9997);
    EXPECT_EQ(AllWrites(), 0u) << "no request";
    info[kNodeInfoModulePresent] = 1;
    info[kNodeInfoModuleLoaded] = 1;
    mpDigCaptureOnNode(info, chipsfixture::kNode, cam.get(), -9999);
    EXPECT_EQ(AllWrites(), 0u) << "only -9997 fires";

    mpDigCaptureOnNode(info, chipsfixture::kNode, cam.get(), -9997);
    // Software capture source for the shot, then the camera's code (2) back.
    EXPECT_EQ(Grab().values(kCapt), V({(5u << 10) | 0x200, (2u << 10) | 0x200}));
    // Capture and timer 1 trigger enables; both lines pulsed (capture high first, timer 1
    // low first by their polarities).
    EXPECT_EQ(Grab().values(kMisc), V({0x4001, 0x6001, 0x4005}));
}

} // namespace
