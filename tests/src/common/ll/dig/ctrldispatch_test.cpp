#include "ctrlfixture.h"

#include "camuart.h"
#include "exposure.h"
#include "frontdev.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

using chipsfixture::Get;
using ctrlfixture::kDefault;
using ctrlfixture::kDisable;
using ctrlfixture::kEnable;
using ctrlfixture::Type;
using namespace cam0;

namespace {

class CtrlDispatch : public ctrlfixture::ControlTest {};

// ---- numbers outside the table and the switch -----------------------------------------------

TEST_F(CtrlDispatch, NumbersOutsideTheTableAndTheSwitchAreRefusedWithMinus8)
{
    _MP_BUF_ST* cam = NewCamera();
    for (uint32_t n : {167u, 29999u, 30100u, 30027u, 30031u, 30036u, 30037u, 30045u, 30047u, 30056u, 30098u}) {
        ClearError();
        EXPECT_EQ(CamSet(cam, Type(n), 1.0), -1) << n;
        EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER) << n;
        ClearError();
        EXPECT_EQ(DigSet(Type(n), 1.0), -1) << n;
        EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER) << n;
        ClearError();
        int32_t r = 0;
        EXPECT_EQ(CamAsk(cam, Type(n), &r), 0.0) << n << ": the inquiry's double starts at 0.0";
        EXPECT_EQ(r, -1) << n;
        EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER) << n;
    }
    double value = 5.0;
    EXPECT_EQ(mp_dig_ctrl_inq(nullptr, Rec(cam), Type(167), &value, 0), -1);
    EXPECT_EQ(mp_dig_ctrl_inq(nullptr, Rec(cam), -1, &value, 1), -1) << "control number 65535";
    EXPECT_EQ(value, 5.0);
}

TEST_F(CtrlDispatch, SecondFamilyAcceptsAboveItsLastControlAndRefusesBelowTheSwitch)
{
    double value = 3.0;
    EXPECT_EQ(mp_kvx_ctrl_inq(nullptr, Type(30037), &value, 0), 0);
    EXPECT_EQ(mp_kvx_ctrl_inq(nullptr, Type(40000), &value, 1), 0);
    EXPECT_EQ(mp_kvx_ctrl_inq(nullptr, Type(30001), &value, 0), 0) << "an unlisted row of its range";
    EXPECT_EQ(mp_kvx_ctrl_inq(nullptr, Type(29999), &value, 0), -1);
    EXPECT_EQ(mp_kvx_ctrl_inq(nullptr, Type(5), &value, 0), -1);
    EXPECT_EQ(value, 3.0);

    // Through the entry points of a second-family node.
    SetModuleType(4);
    Info()[kNodeInfoModulePresent] = 1;
    ClearError();
    mpDigControl(&res_, nullptr, Type(30037), 1.0);
    mpDigControl(&res_, nullptr, Type(40000), 1.0);
    EXPECT_EQ(Code(), 0) << Text();
    mpDigControl(&res_, nullptr, Type(29999), 1.0);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    ClearError();
    double out = 9.0;
    mpDigInquire(&res_, nullptr, Type(40000), &out);
    EXPECT_EQ(out, 0.0);
    EXPECT_EQ(Code(), 0);
}

TEST_F(CtrlDispatch, SecondFamilyLiveControlsRefuseWithoutACameraRecord)
{
    SetModuleType(4);
    Info()[kNodeInfoModulePresent] = 1;
    ClearError();
    // The second family's handlers edit camera records only: the live gain is refused.
    EXPECT_EQ(mpDigControl_Async(&res_, nullptr, Type(30002), 1.0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    EXPECT_FALSE(NotBuilt());
    // The LUT buffer control is accepted and does nothing.
    ClearError();
    EXPECT_EQ(mpDigControl_Async(&res_, nullptr, Type(30005), 7.0), 0);
    EXPECT_EQ(Code(), 0);
}

// ---- selectors and the second path ---------------------------------------------------------------

TEST_F(CtrlDispatch, UserOutputSelectorThreeDoesNothingAndFourReachesOutputThree)
{
    const size_t before = AllWrites();
    EXPECT_EQ(DigSet(Type(30007, 3), 1.0), 0);
    EXPECT_EQ(AllWrites(), before) << "selector 3 names no output";
    EXPECT_EQ(Code(), 0);
    // Output 3 is DIMREG0 bit 1 while the DIM is fitted.
    ASSERT_EQ(DigSet(Type(30007, 4), 1.0), 0);
    EXPECT_EQ(Grab().dim() & 0x2, 0x2);
    EXPECT_EQ(DigAsk(Type(30007, 4)), 1.0);
    EXPECT_EQ(DigSet(Type(30006, 2), 1.0), 0) << "input selector 2 names no input";
}

TEST_F(CtrlDispatch, SorvikTwoUsesTheSecondPathForOutputsAboveOne)
{
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(127)), 0) << "module type 1";
    SetModuleType(2);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(127)), 2);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(30006, 1)), 2);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(30007, 1)), 0);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(30007, 0)), 0);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(30007, 8)), 2);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(126)), 0);
    SetModuleType(34);
    EXPECT_EQ(CheckIfSorvik2(&res_, Type(30007, 2)), 2);

    // Selector 2 with mode 2: bit 8 of the Sorvik II control word, not DIG_DICTL.
    ASSERT_EQ(DigSet(Type(30007, 2), 1.0), 0);
    EXPECT_EQ(Grab().reg(SORVIK2_CONTROL / 8) & 0x100, 0x100);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8) & 0x4, 0);
    EXPECT_EQ(DigAsk(Type(30007, 2)), 1.0) << "inquired in mode 3";
    // Selector 1 with mode 0: DIG_USRREG bit 7.
    ASSERT_EQ(DigSet(Type(30007, 1), 1.0), 0);
    EXPECT_EQ(Grab().reg(DIG_USRREG / 8) & 0x80, 0x80);
    // A camera control never takes the second path: the record's own control word.
    SetModuleType(1);
    _MP_BUF_ST* cam = NewCamera();
    SetModuleType(34);
    ClearError();
    ASSERT_EQ(CamSet(cam, Type(30007, 2), 1.0), 0);
    EXPECT_EQ(Get(Rec(cam), DIG_DICTL) & 0x4, 0x4u) << "mode 0 on a standard record";
}

TEST_F(CtrlDispatch, ExposureSwitchWithSelectorThreeUsesOnlyTheSynchronisedHandler)
{
    auto preset = [this](uint32_t t1, uint32_t t2) {
        for (auto [reg, value] : {std::pair{DIG_T1CTL, t1}, {DIG_T2CTL, t2}, {DIG_MISCTL, 0u}, {DIG_CPTCTL, 0u}})
            mpPrvSetExtReg(reg, value);
        Grab().clearLog();
    };
    // Both timers triggered by code 7, polarities opposite: the synchronised start raises
    // both trigger enables at once, then the two lines in turn.
    preset(0x1F0, 0x170);
    ASSERT_EQ(DigSet(Type(30012, 3), kEnable), 0);
    EXPECT_EQ(Grab().values(DIG_MISCTL / 8), (std::vector<uint16_t>{0x11, 0x15, 0x51}));
    // The same request with timers that are not synchronised goes to each timer's own
    // handler: timer 1 first.
    preset(0x1F0, 0x120);
    ASSERT_EQ(DigSet(Type(30012, 3), kEnable), 0);
    const auto misc = Grab().values(DIG_MISCTL / 8);
    ASSERT_FALSE(misc.empty());
    EXPECT_NE(misc, (std::vector<uint16_t>{0x11, 0x15, 0x51}));
    EXPECT_EQ(Code(), 0) << Text();
}

TEST_F(CtrlDispatch, TimerRowsAnswerTheLastHandlerAndNothingWithoutATimer)
{
    _MP_BUF_ST* cam = NewCamera({{"INFO_T1TRGSRC", 2}, {"INFO_T2TRGSRC", 5}});
    EXPECT_EQ(CamAsk(cam, Type(30010)), 2.0) << "selector 0 is timer 1";
    EXPECT_EQ(CamAsk(cam, Type(30010, 2)), 5.0);
    EXPECT_EQ(CamAsk(cam, Type(30010, 3)), 5.0) << "both: the last one answers";
    int32_t r = -1;
    EXPECT_EQ(CamAsk(cam, Type(30010, 4), &r), 0.0);
    EXPECT_EQ(r, 0) << "a selector naming no timer";
}

// ---- named controls of the dispatch itself -----------------------------------------------------------

TEST_F(CtrlDispatch, FrameOrFieldFollowsMiscBitZero)
{
    _MP_BUF_ST* cam = NewCamera();
    EXPECT_EQ(CamAsk(cam, Type(30026)), 2.0) << "a new record grabs frames";
    ASSERT_EQ(CamSet(cam, Type(30026), 1.0), 0);
    EXPECT_EQ(Get(Rec(cam), INFO_MISC) & 1, 1u);
    EXPECT_EQ(CamAsk(cam, Type(30026)), 1.0);
    ASSERT_EQ(CamSet(cam, Type(30026), 7.0), 0) << "other values change nothing";
    EXPECT_EQ(CamAsk(cam, Type(30026)), 1.0);
    ASSERT_EQ(CamSet(cam, Type(30026), 2.0), 0);
    EXPECT_EQ(CamAsk(cam, Type(30026)), 2.0);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(DigSet(Type(30026), 1.0), -1) << "a record is required";
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(CtrlDispatch, VideoAmplitudeSetsTheWhiteLevelAboveTheBlackLevel)
{
    _MP_BUF_ST* cam = NewCamera({{"VDL_AMPL", 714}, {"VDL_PED_AMP", 54}});
    _MP_CAM_ST_0* c = Rec(cam);
    ASSERT_EQ(CamSet(cam, Type(30033), 0.05), 0);
    EXPECT_EQ(Get(c, BLACK_LEVEL), 50u);
    ASSERT_EQ(CamSet(cam, Type(30032), 0.7), 0);
    EXPECT_EQ(Get(c, VDL_AMPL), 700u);
    EXPECT_EQ(Get(c, WHITE_LEVEL), 750u) << "black 50 + 700";
    EXPECT_DOUBLE_EQ(CamAsk(cam, Type(30032)), 0.7);
    EXPECT_DOUBLE_EQ(CamAsk(cam, Type(30034)), 0.75);
    ASSERT_EQ(CamSet(cam, Type(30034), 0.6), 0);
    EXPECT_EQ(Get(c, WHITE_LEVEL), 600u);
    // The default restores the amplitude and both levels from the camera file: white is
    // amplitude - pedestal there, black 0.
    ASSERT_EQ(CamSet(cam, Type(30032), kDefault), 0);
    EXPECT_EQ(Get(c, VDL_AMPL), 714u);
    EXPECT_EQ(Get(c, WHITE_LEVEL), 660u);
    EXPECT_EQ(Get(c, BLACK_LEVEL), 0u);
    EXPECT_EQ(Code(), 0);

    EXPECT_EQ(DigSet(Type(30032), 0.7), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(CtrlDispatch, TheDefaultIsRecognisedBitForBit)
{
    const double d = kDefault;
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    EXPECT_EQ(bits, 0x41B0000000000000ull);
    EXPECT_TRUE(mpPrvIsDefault(kDefault));
    EXPECT_FALSE(mpPrvIsDefault(std::nextafter(kDefault, 0.0)));
    EXPECT_FALSE(mpPrvIsDefault(std::nextafter(kDefault, 1e30)));

    _MP_BUF_ST* cam = NewCamera({{"DIG_T1CTL", 0x4000}});
    ASSERT_EQ(CamSet(cam, Type(30011), 3.0), 0);
    EXPECT_EQ(Get(Rec(cam), DIG_T1CTL) & 0x4000, 0u);
    EXPECT_EQ(CamSet(cam, Type(30011), std::nextafter(kDefault, 0.0)), -1) << "not the default: an unknown value";
    EXPECT_EQ(Get(Rec(cam), DIG_T1CTL) & 0x4000, 0u);
    ASSERT_EQ(CamSet(cam, Type(30011), kDefault), 0);
    EXPECT_EQ(Get(Rec(cam), DIG_T1CTL) & 0x4000, 0x4000u) << "from the camera file";
}

// ---- entry points --------------------------------------------------------------------------------------

TEST_F(CtrlDispatch, CameraEntryPointsRefuseWhatIsNotACamera)
{
    int32_t r = 0;
    EXPECT_EQ(CamSet(nullptr, Type(44), 1.0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
    ClearError();
    EXPECT_EQ(CamAsk(nullptr, Type(44), &r), 0.0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
}

TEST_F(CtrlDispatch, DigitizerControlsLeaveANodeWithoutAUsableModuleAlone)
{
    Info()[kNodeInfoModulePresent] = 0;
    const size_t before = AllWrites();
    EXPECT_EQ(DigSet(Type(44), 800.0), 0);
    // An inquiry makes no module test: it is answered from the shadow, writing nothing.
    int32_t r = -1;
    EXPECT_EQ(DigAsk(Type(44), &r), 0.0);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(AllWrites(), before);
    Info()[kNodeInfoModulePresent] = 1;
    SetModuleType(0);
    EXPECT_EQ(DigSet(Type(44), 800.0), 0);
    EXPECT_EQ(AllWrites(), before);

    // The second family likewise: its control is skipped, its inquiry reaches the handler,
    // which refuses a live gain for want of a camera record.
    SetModuleType(4);
    Info()[kNodeInfoModulePresent] = 0;
    EXPECT_EQ(mpDigControl_Async(&res_, nullptr, Type(30002), 1.0), 0);
    EXPECT_EQ(Code(), 0);
    double out = 9.0;
    EXPECT_EQ(mpDigInquire_Async(&res_, nullptr, Type(30002), &out), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(out, 0.0);
    EXPECT_EQ(AllWrites(), before);
}

TEST_F(CtrlDispatch, LiveControlsWriteTheRegisterAndInquireTheShadow)
{
    ASSERT_EQ(DigSet(Type(44), 800.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 800);
    EXPECT_EQ(DigAsk(Type(44)), 800.0);
    _MP_BUF_ST* cam = NewCamera({{"DIG_HTOTAL", 1016}});
    EXPECT_EQ(CamAsk(cam, Type(44)), 1016.0);
    ASSERT_EQ(CamSet(cam, Type(44), 900.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 800) << "a record control touches no hardware";
}

TEST_F(CtrlDispatch, ControlStringsStayInsideTheLibrarysBlock)
{
    SetModuleType(2);
    NewCamera();  // makes the node's camera port
    ASSERT_EQ(mp_config_uart(Info()), 0);
    Grab().uartQueue(std::vector<uint8_t>(300, 'x'));
    double maxLength = 255;
    ASSERT_EQ(mp_uart_read_max_length(Info(), &maxLength, 0), 0);
    // A control of 30050 carries only a double: the port's 255 bytes land in a block of the
    // library's own (the sanitizer sees any write past the double).
    ClearError();
    EXPECT_EQ(DigSet(Type(30050), 0.0), 0);
    EXPECT_EQ(Code(), 0);
    char rest[256] = {};
    ASSERT_EQ(mp_uart_read_string(Info(), rest), 0);
    EXPECT_EQ(std::strlen(rest), 45u) << "the control took 255 of the 300 bytes";
    // A write of the double's bytes with a write length beyond the block is refused.
    double length = 1000;
    ASSERT_EQ(mp_uart_write_length(Info(), &length, 0), 0);
    Grab().clearLog();
    EXPECT_EQ(DigSet(Type(30052), 1.0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(Grab().uartSent().empty());
}

// ---- every control of the standard family ------------------------------------------------------------

// Inquiries refused live (a camera record is needed: description fields, geometry, LUT
// modes, timers' seconds, levels; or a channel that a control without a selector has only
// in a record) and refused on a record (hardware state, the camera port, the exposure
// generators).
const std::set<uint32_t> kRecordOnly = {0,     4,     5,     6,     7,     8,     9,     10,    13,    154,
                                        155,   156,   157,   158,   159,   160,   161,   162,   30000, 30002,
                                        30003, 30004, 30008, 30009, 30010, 30013, 30016, 30017, 30018, 30019,
                                        30020, 30021, 30022, 30023, 30026, 30032, 30033, 30034};
const std::set<uint32_t> kLiveOnly = {18,    19,    40,    42,    97,    98,    99,    100,   122,
                                      30006, 30012, 30038, 30039, 30040, 30041, 30042, 30048, 30049,
                                      30050, 30051, 30052, 30053, 30054, 30055};
const std::set<uint32_t> kUnlisted = {30027, 30028, 30029, 30030, 30031, 30036, 30037, 30045, 30046, 30047};

std::vector<uint32_t> EveryNumber()
{
    std::vector<uint32_t> all;
    for (uint32_t n = 0; n < 167; ++n) all.push_back(n);
    for (uint32_t n = 30000; n <= 30099; ++n) all.push_back(n);
    return all;
}

TEST_F(CtrlDispatch, EveryControlActsOrRefusesWithMinus8)
{
    SetModuleType(2);  // with the camera port, so its rows can act
    // An 8-bit camera on red, one tap; the live channel red as its load leaves it.
    _MP_BUF_ST* cam = NewCamera({{"INFO_CHANNEL", 0x10000}, {"INFO_BITSPERLOGCH", 8}, {"INFO_TIMEMULTIPIX", 1},
                                 {"INFO_TIMEMULTICH", 1}, {"INFO_XTAPSPERCH", 1}, {"INFO_YTAPSPERCH", 1},
                                 {"INFO_XTAPSPERCHADJ", 1}, {"INFO_YTAPSPERCHADJ", 1}, {"INFO_XSIZE", 640},
                                 {"INFO_YSIZE", 480}, {"DIG_HTOTAL", 1016}, {"DIG_VTOTAL", 524}});
    mp_dig_load_descr(Rec(cam));
    _MP_BUF_ST* scratch = NewCamera();
    ASSERT_EQ(mp_config_uart(Info()), 0);
    for (uint32_t n : EveryNumber()) {
        const bool unlisted = kUnlisted.count(n) != 0 || (n >= 30056 && n <= 30098);
        // Inquiries on a record.
        ClearError();
        int32_t r = 0;
        if (n != 30050) {
            CamAsk(cam, Type(n), &r);
            EXPECT_FALSE(NotBuilt()) << n;
            const bool refused = unlisted || kLiveOnly.count(n) != 0;
            EXPECT_EQ(r, refused ? -1 : 0) << "record inquiry " << n;
            EXPECT_EQ(Code(), refused ? HLC_ERR_INVALID_PARAMETER : 0) << "record inquiry " << n << " " << Text();
        }
        // Live inquiries.
        ClearError();
        if (n != 30050) {
            DigAsk(Type(n), &r);
            EXPECT_FALSE(NotBuilt()) << n;
            const bool refused = unlisted || kRecordOnly.count(n) != 0;
            EXPECT_EQ(r, refused ? -1 : 0) << "live inquiry " << n;
            EXPECT_EQ(Code(), refused ? HLC_ERR_INVALID_PARAMETER : 0) << "live inquiry " << n << " " << Text();
        }
        // Sets of 0.0 on a record: done or refused with -8, never the stand-in.
        ClearError();
        r = CamSet(scratch, Type(n), 0.0);
        EXPECT_FALSE(NotBuilt()) << n;
        EXPECT_TRUE(r == 0 || r == -1) << n;
        if (unlisted) {
            EXPECT_EQ(r, -1) << n;
        }
    }
}

TEST_F(CtrlDispatch, EveryLiveSetActsOrRefusesWithMinus8)
{
    for (uint32_t n : EveryNumber()) {
        ClearError();
        const int32_t r = DigSet(Type(n), 0.0);
        EXPECT_FALSE(NotBuilt()) << n;
        EXPECT_TRUE(r == 0 || r == -1) << n;
        if (r == -1) {
            EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER) << n << " " << Text();
        }
    }
    for (uint32_t n = 0; n < static_cast<uint32_t>(kDigFuncCount); ++n) EXPECT_NE(mpDigFunc[n], nullptr) << n;
    EXPECT_EQ(mpDigFunc[kDigFuncCount], nullptr);
}

} // namespace
