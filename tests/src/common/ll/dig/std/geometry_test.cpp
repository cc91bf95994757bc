#include "../chipsfixture.h"

#include "analog.h"
#include "geometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using chipsfixture::Get;
using chipsfixture::GrabModuleTest;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using namespace cam0;

namespace {

constexpr double kDefault = 268435456.0;
constexpr int32_t kRed = 0x10000, kGreen = 0x20000, kBlue = 0x40000, kAlpha = 0x80000;
constexpr int32_t kPhysical = 0x1000000;

using Handler = int (*)(_MP_CAM_ST_0*, int32_t, double*, int32_t);

int Put(Handler h, _MP_CAM_ST_0* cam, double value, int32_t mode = 0, int32_t type = 0)
{
    double v = value;
    return h(cam, type, &v, mode);
}

double Ask(Handler h, _MP_CAM_ST_0* cam, int32_t mode = 1, int32_t type = 0)
{
    double v = -12345;
    EXPECT_EQ(h(cam, type, &v, mode), 0);
    return v;
}

bool Same(const _MP_CAM_ST_0* a, const _MP_CAM_ST_0* b) { return std::memcmp(a, b, sizeof *a) == 0; }

// An analog camera whose width rescales (sampling configuration 1 in DIG_GRABCTL bits
// 12-14): 320 pixels in a window 10-329, 12 MHz, timer 1 in exposure mode 6.
std::unique_ptr<_MP_CAM_ST_0> Rescaling()
{
    auto cam = NewRecord();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_XTAPSPERCH, 1);
    Set(c, INFO_YTAPSPERCH, 1);
    Set(c, INFO_YTAPSPERCHADJ, 1);
    Set(c, INFO_XSIZE, 320);
    Set(c, INFO_YSIZE, 480);
    Set(c, INFO_PIXCLK, 12000000);
    Set(c, INFO_USRCLK0, 1000000);
    Set(c, DIG_GRABCTL, 0x1000);
    Set(c, DIG_HTOTAL, 400);
    Set(c, DIG_HSCLMP, 20);
    Set(c, DIG_HECLMP, 40);
    Set(c, ORLOGREG_GHWSTART, 10);
    Set(c, ORLOGREG_GHWSTOP, 329);
    Set(c, ORLOGREG_GHTOTAL, 399);
    Set(c, DIG_T1CTL, 6);
    Set(c, DIG_T1SCNT, 100);
    Set(c, DIG_EXP1S, 50);
    Set(c, INFO_T1DELAY, 9);
    Set(c, DIG_T2CTL, 5);
    Set(c, DIG_T2SCNT, 77);
    Set(c, ICS1522REG(0), 800);
    Set(c, ICS1522REG(5), 0x20);
    return cam;
}

// A camera whose width does not rescale but moves the horizontal timing (DIG_DICTL bit 8).
std::unique_ptr<_MP_CAM_ST_0> Shifting()
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, DIG_GRABCTL, 0);
    Set(c, DIG_DICTL, 0x100);
    Set(c, DIG_HEBLNK, 50);
    Set(c, DIG_HSSYNC, 3);
    Set(c, DIG_HSCLMP, 60);
    Set(c, DIG_HECLMP, 70);
    return cam;
}

// ---- width ---------------------------------------------------------------------------------

TEST(GeometryWidth, DoublingRescalesClockTimingWindowAndModeSixTimer)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    ASSERT_EQ(Put(mp_dig_size_x, c, 640), 0);
    EXPECT_EQ(Get(c, INFO_PIXCLK), 24000000u);
    // HTOTAL + 9 doubles: (400 + 9) x 2 - 9.
    EXPECT_EQ(Get(c, DIG_HTOTAL), 809u);
    EXPECT_EQ(Get(c, DIG_HSCLMP), 40u);
    EXPECT_EQ(Get(c, DIG_HECLMP), 81u);  // (40 + 1) x 2 - 1
    // Analog sampling configuration 1: the window scales around column 7.
    EXPECT_EQ(Get(c, ORLOGREG_GHWSTART), 13u);
    EXPECT_EQ(Get(c, ORLOGREG_GHWSTOP), 652u);
    EXPECT_EQ(Get(c, ORLOGREG_GHWSTOP) - Get(c, ORLOGREG_GHWSTART) + 1, 640u);
    EXPECT_EQ(Get(c, ORLOGREG_GHTOTAL), 801u);  // (399 + 3) x 2 - 2 - 1
    EXPECT_EQ(Get(c, INFO_XSIZE), 640u);
    EXPECT_EQ(Get(c, INFO_USRCLK0), 2000000u);
    // Timer 1 (mode 6): count (100 + 1 + 4) x 2 - 4 - 1, exposure (50 + 1 - 2) x 2 + 2 - 1.
    EXPECT_EQ(Get(c, DIG_T1SCNT), 205u);
    EXPECT_EQ(Get(c, DIG_EXP1S), 99u);
    EXPECT_EQ(Get(c, INFO_T1DELAY), 19u);
    EXPECT_EQ(Get(c, DIG_T2SCNT), 77u);  // timer 2 is not in mode 6
    // 12 MHz to 24 MHz: the post-divider code goes from 10 to 11, divider 2 to 1.
    EXPECT_EQ((Get(c, ICS1522REG(5)) >> 4) & 3, 3u);
    EXPECT_EQ(Get(c, ICS1522REG(0)), 800u);
    EXPECT_EQ(Get(c, ICS1522REG(4)) & 7, 4u);
    EXPECT_EQ(Ask(mp_dig_size_x, c), 640.0);
}

TEST(GeometryWidth, DefaultRestoresTheCameraFileWidth)
{
    auto cam = Rescaling();
    auto original = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    ASSERT_EQ(Put(mp_dig_size_x, c, 640), 0);
    ASSERT_EQ(Put(mp_dig_size_x, c, kDefault), 0);
    for (uint32_t slot : {INFO_PIXCLK, INFO_XSIZE, DIG_HTOTAL, ORLOGREG_GHWSTART, ORLOGREG_GHWSTOP, INFO_USRCLK0})
        EXPECT_EQ(Get(c, slot), Get(original.get(), slot)) << slot;
}

TEST(GeometryWidth, RefusalsLeaveTheRecordAsItWas)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_PIXCLK, 20000000);
    auto before = std::make_unique<_MP_CAM_ST_0>(*c);
    // 40 MHz is above the 36,700,160 Hz the module samples at.
    EXPECT_EQ(Put(mp_dig_size_x, c, 640), -1);
    EXPECT_TRUE(Same(c, before.get()));

    auto timer = Rescaling();
    Set(timer.get(), DIG_T1SCNT, 40000);  // 80000 after doubling
    auto kept = std::make_unique<_MP_CAM_ST_0>(*timer);
    EXPECT_EQ(Put(mp_dig_size_x, timer.get(), 640), -1);
    EXPECT_TRUE(Same(timer.get(), kept.get()));

    auto noTaps = Rescaling();
    Set(noTaps.get(), INFO_XTAPSPERCH, 0);
    EXPECT_EQ(Put(mp_dig_size_x, noTaps.get(), 640), -1);
    auto noWindow = Rescaling();
    Set(noWindow.get(), ORLOGREG_GHWSTOP, 9);  // stop before start: an empty window
    EXPECT_EQ(Put(mp_dig_size_x, noWindow.get(), 640), -1);
    EXPECT_EQ(Put(mp_dig_size_x, c, 0), -1);
    EXPECT_EQ(Put(mp_dig_size_x, nullptr, 640), -1);
}

TEST(GeometryWidth, WithoutRescalingTheHorizontalTimingMovesByTheDifference)
{
    auto cam = Shifting();
    _MP_CAM_ST_0* c = cam.get();
    ASSERT_EQ(Put(mp_dig_size_x, c, 400), 0);  // d = 80
    EXPECT_EQ(Get(c, DIG_HTOTAL), 480u);
    EXPECT_EQ(Get(c, DIG_HEBLNK), 130u);
    EXPECT_EQ(Get(c, DIG_HSSYNC), 484u);
    EXPECT_EQ(Get(c, DIG_HSCLMP), 140u);
    EXPECT_EQ(Get(c, DIG_HECLMP), 150u);
    EXPECT_EQ(Get(c, ORLOGREG_GHTOTAL), 479u);
    EXPECT_EQ(Get(c, ORLOGREG_GHWSTOP), 409u);
    EXPECT_EQ(Get(c, INFO_XSIZE), 400u);
    EXPECT_EQ(Get(c, INFO_PIXCLK), 12000000u);

    auto low = Shifting();
    auto kept = std::make_unique<_MP_CAM_ST_0>(*low);
    Set(low.get(), DIG_HTOTAL, 100);
    Set(kept.get(), DIG_HTOTAL, 100);
    EXPECT_EQ(Put(mp_dig_size_x, low.get(), 10), -1);  // 100 - 310 < 1
    EXPECT_TRUE(Same(low.get(), kept.get()));

    auto fixed = Shifting();
    Set(fixed.get(), DIG_DICTL, 0);
    auto same = std::make_unique<_MP_CAM_ST_0>(*fixed);
    EXPECT_EQ(Put(mp_dig_size_x, fixed.get(), 400), 0);
    EXPECT_TRUE(Same(fixed.get(), same.get()));
}

TEST(GeometryWidth, InquiryIsTapsTimesWindowOr640ForComposite)
{
    auto cam = Rescaling();
    Set(cam.get(), INFO_XTAPSPERCH, 2);
    EXPECT_EQ(Ask(mp_dig_size_x, cam.get()), 640.0);
    Set(cam.get(), ORLOGREG_GHWSTOP, 109);
    EXPECT_EQ(Ask(mp_dig_size_x, cam.get()), 200.0);
    Set(cam.get(), INFO_TYPE, 8);
    EXPECT_EQ(Ask(mp_dig_size_x, cam.get()), 640.0);
}

// ---- line-lock PLL range ---------------------------------------------------------------------

TEST(GeometryPll, RangeBitsFollowTheNewClock)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    mp_dig_update_ics1522(c, 13107200, 0, 2.0);
    EXPECT_EQ(Get(c, ICS1522REG(4)) & 7, 5u);  // 26,214,400 Hz: 101
    EXPECT_EQ((Get(c, ICS1522REG(5)) >> 4) & 3, 3u);

    // Below 3,145,728 Hz: divider 8, code 00; the feedback divider keeps the VCO in place.
    auto slow = Rescaling();
    Set(slow.get(), ICS1522REG(4), 0x5);
    mp_dig_update_ics1522(slow.get(), 4000000, 0, 0.5);
    EXPECT_EQ(Get(slow.get(), ICS1522REG(0)), 800u);  // 800 / 4 x 8 x 0.5
    EXPECT_EQ((Get(slow.get(), ICS1522REG(5)) >> 4) & 3, 0u);
    EXPECT_EQ(Get(slow.get(), ICS1522REG(4)) & 7, 5u);  // already 101: kept

    auto flagged = Rescaling();
    Set(flagged.get(), ICS1522REG(0), 1024);  // the camera file fixed the divider
    mp_dig_update_ics1522(flagged.get(), 12000000, 1, 2.0);
    EXPECT_EQ(Get(flagged.get(), ICS1522REG(0)), 1024u);
    EXPECT_EQ(Get(flagged.get(), ICS1522REG(5)), 0x20u);  // flag: post-divider left alone

    EXPECT_EQ(mpPrvIcsDivider(3145727), 8u);
    EXPECT_EQ(mpPrvIcsDivider(3145728), 4u);
    EXPECT_EQ(mpPrvIcsDividerCode(6291456), 2u);
    EXPECT_EQ(mpPrvIcsDividerCode(14680064), 3u);
}

// ---- height -----------------------------------------------------------------------------------

std::unique_ptr<_MP_CAM_ST_0> Lines()
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, DIG_GRABCTL, 0);
    Set(c, ORLOGREG_GVTOTAL, 524);
    Set(c, ORLOGREG_GVWSTART, 20);
    Set(c, ORLOGREG_GVWSTOP, 499);
    Set(c, DIG_VTOTAL, 525);
    Set(c, DIG_VEBLNK, 100);
    Set(c, DIG_VSCLMP, 5);
    Set(c, DIG_VECLMP, 8);
    return cam;
}

TEST(GeometryHeight, WindowOnlyWhenTheTimingIsFixed)
{
    auto cam = Lines();
    _MP_CAM_ST_0* c = cam.get();
    ASSERT_EQ(Put(mp_dig_size_y, c, 240), 0);
    EXPECT_EQ(Get(c, INFO_YSIZE), 240u);
    EXPECT_EQ(Get(c, ORLOGREG_GVWSTOP), 259u);
    EXPECT_EQ(Get(c, ORLOGREG_GVTOTAL), 524u);
    EXPECT_EQ(Get(c, DIG_VTOTAL), 525u);
    // Beyond the camera file's window end: refused, nothing changed.
    auto kept = std::make_unique<_MP_CAM_ST_0>(*c);
    EXPECT_EQ(Put(mp_dig_size_y, c, 500), -1);
    EXPECT_TRUE(Same(c, kept.get()));
    ASSERT_EQ(Put(mp_dig_size_y, c, kDefault), 0);
    EXPECT_EQ(Get(c, INFO_YSIZE), 480u);
    EXPECT_EQ(Get(c, ORLOGREG_GVWSTOP), 499u);
}

TEST(GeometryHeight, AdjustableTimingMovesTotalsBlankingAndClamp)
{
    auto cam = Lines();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, DIG_DICTL, 0x1000);
    ASSERT_EQ(Put(mp_dig_size_y, c, 500), 0);  // d = 20
    EXPECT_EQ(Get(c, DIG_VTOTAL), 545u);
    EXPECT_EQ(Get(c, DIG_VEBLNK), 120u);
    EXPECT_EQ(Get(c, DIG_VSCLMP), 25u);
    EXPECT_EQ(Get(c, DIG_VECLMP), 28u);
    EXPECT_EQ(Get(c, ORLOGREG_GVTOTAL), 544u);
    EXPECT_EQ(Get(c, ORLOGREG_GVWSTOP), 519u);
    EXPECT_EQ(Get(c, INFO_YSIZE), 500u);
}

TEST(GeometryHeight, FramePathChecksTheVerticalTotal)
{
    auto cam = Lines();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, DIG_PSGCFG, 0x4);
    Set(c, ORLOGREG_GVTOTAL, 10);
    auto kept = std::make_unique<_MP_CAM_ST_0>(*c);
    EXPECT_EQ(Put(mp_dig_size_y, c, 460), -1);  // 10 - 20 < 0
    EXPECT_TRUE(Same(c, kept.get()));
    ASSERT_EQ(Put(mp_dig_size_y, c, 490), 0);
    EXPECT_EQ(Get(c, ORLOGREG_GVTOTAL), 20u);
    EXPECT_EQ(Get(c, DIG_VTOTAL), 535u);
    EXPECT_EQ(Get(c, DIG_VEBLNK), 100u);
}

TEST(GeometryHeight, TappedCamerasCountLinesPerTap)
{
    auto cam = Lines();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_YTAPSPERCH, 2);  // 480 lines, 240 per tap
    Set(c, ORLOGREG_GVWSTOP, 259);
    ASSERT_EQ(Put(mp_dig_size_y, c, 240), 0);  // 120 per tap: the window loses 120 lines
    EXPECT_EQ(Get(c, ORLOGREG_GVWSTOP), 139u);
    EXPECT_EQ(Get(c, INFO_YSIZE), 240u);
    EXPECT_EQ(Ask(mp_dig_size_y, c), 240.0);
    Set(c, INFO_YTAPSPERCHADJ, 0);
    EXPECT_EQ(Put(mp_dig_size_y, c, 240), -1);
    Set(c, INFO_TYPE, 8);
    EXPECT_EQ(Ask(mp_dig_size_y, c), 480.0);
}

// ---- bits, type, bands, scan mode -----------------------------------------------------------

TEST(GeometryBits, TenBitsSwitchesSampleModeAndCopiesRedSettings)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_GRBSYSCLK, 0);
    Set(c, INFO_BITSPERLOGCH, 8);
    Set(c, INFO_LUTPROG, 1);
    const int32_t red = kRed | kPhysical;
    ASSERT_EQ(Put(mp_dig_gain, c, 2, 0, 0 | red), 0);
    ASSERT_EQ(Put(mp_dig_filters, c, 1, 0, 8 | red), 0);
    ASSERT_EQ(Put(mp_dig_level_coarse, c, 100, 0, 6 | red), 0);
    ASSERT_EQ(Put(mp_dig_level_fine, c, 50, 0, 7 | red), 0);
    ASSERT_EQ(Put(mp_dig_ref_white, c, 200, 0, 4 | red), 0);
    ASSERT_EQ(Put(mp_dig_size_bit, c, 10), 0);
    EXPECT_EQ(Get(c, INFO_SAMPLEMODE), 3u);
    EXPECT_EQ(Get(c, INFO_LUTPROG), 0u);
    EXPECT_EQ(Ask(mp_dig_size_bit, c), 10.0);
    for (int32_t ch : {kGreen, kBlue, kAlpha}) {
        EXPECT_EQ(Ask(mp_dig_gain, c, 1, 0 | ch | kPhysical), 2.0) << ch;
        EXPECT_EQ(Ask(mp_dig_filters, c, 1, 8 | ch | kPhysical), 1.0) << ch;
        EXPECT_EQ(Ask(mp_dig_level_coarse, c, 1, 6 | ch | kPhysical), 100.0) << ch;
        EXPECT_EQ(Ask(mp_dig_level_fine, c, 1, 7 | ch | kPhysical), 50.0) << ch;
    }
    EXPECT_EQ(Get(c, DAC8800REF_GREENR) & 0xFFFF, 200u);
    EXPECT_EQ(Get(c, DAC8800REF_ALPHAR) & 0xFFFF, 200u);
    // Back to 8 bits: the sample mode only.
    ASSERT_EQ(Put(mp_dig_size_bit, c, 8), 0);
    EXPECT_EQ(Get(c, INFO_SAMPLEMODE), 0u);
}

TEST(GeometryBits, RefusedCombinations)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_BITSPERLOGCH, 10);
    EXPECT_EQ(Put(mp_dig_size_bit, c, 8), -1);  // sample mode 0 with 10 bits per channel
    EXPECT_EQ(Put(mp_dig_size_bit, c, 12), -1);
    Set(c, INFO_SAMPLEMODE, 1);
    EXPECT_EQ(Put(mp_dig_size_bit, c, 10), -1);
    EXPECT_EQ(Put(mp_dig_size_bit, c, 8), -1);
    EXPECT_EQ(Put(mp_dig_size_bit, c, kDefault), -1);  // file sample mode 1
    Set(c, INFO_BITSPERLOGCH, 8);
    Set(c, INFO_SAMPLEMODE, 0);
    EXPECT_EQ(Put(mp_dig_size_bit, c, 8), 0);
    EXPECT_EQ(Put(mp_dig_size_bit, nullptr, 8), -1);
}

TEST(GeometryInquiries, BufferTypeBandsAndScanMode)
{
    auto cam = Rescaling();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, INFO_CHANNEL, kRed);
    Set(c, INFO_TIMEMULTICH, 1);
    const struct {
        uint32_t bits;
        double type;
    } single[] = {{8, 8}, {12, 16}, {24, 1073741848.0}, {32, 32}};
    for (const auto& s : single) {
        Set(c, INFO_BITSPERLOGCH, s.bits);
        EXPECT_EQ(Ask(mp_dig_type, c), s.type) << s.bits;
    }
    Set(c, INFO_CHANNEL, kRed | kGreen);
    Set(c, INFO_BITSPERLOGCH, 8);
    EXPECT_EQ(Ask(mp_dig_type, c), 8.0);
    Set(c, INFO_BITSPERLOGCH, 16);
    EXPECT_EQ(Ask(mp_dig_type, c), 16.0);
    Set(c, INFO_SAMPLEMODE, 3);
    EXPECT_EQ(Ask(mp_dig_type, c), 268435472.0);

    Set(c, INFO_CHANNEL, kRed | kGreen | kBlue);
    EXPECT_EQ(Ask(mp_dig_num_bands, c), 3.0);
    Set(c, INFO_CHANNEL, kRed);
    Set(c, INFO_TIMEMULTICH, 2);
    EXPECT_EQ(Ask(mp_dig_num_bands, c), 2.0);
    Set(c, INFO_TYPE, 8);
    EXPECT_EQ(Ask(mp_dig_num_bands, c), 3.0);

    EXPECT_EQ(Ask(mp_dig_scan_mode, c), 0.0);
    Set(c, INFO_MODE, 1);
    EXPECT_EQ(Ask(mp_dig_scan_mode, c), 1.0);
    Set(c, INFO_TYPE, 1);
    EXPECT_EQ(Ask(mp_dig_scan_mode, c), 4.0);

    for (Handler h : {mp_dig_type, mp_dig_num_bands, mp_dig_scan_mode}) {
        EXPECT_EQ(Put(h, c, 1, 0), -1);
        double v = 0;
        EXPECT_EQ(h(nullptr, 0, &v, 1), -1);
    }
}

// ---- user outputs, inputs and formats on records ---------------------------------------------

TEST(GeometryUserRecord, OutputsSetDictlAndDimBitsAndFormatsFollowTheTable)
{
    auto cam = NewRecord();
    _MP_CAM_ST_0* c = cam.get();
    ASSERT_EQ(Put(mp_dig_user_out_3, c, 1), 0);
    EXPECT_EQ(Get(c, DIG_DICTL), 0x2u);
    EXPECT_EQ(Get(c, DIMREG0), 0x2u);
    ASSERT_EQ(Put(mp_dig_user_out_1, c, 1), 0);
    EXPECT_EQ(Get(c, DIG_USRREG), 0x80u);
    EXPECT_EQ(Ask(mp_dig_user_out_1, c), 1.0);
    EXPECT_EQ(Ask(mp_dig_user_out_0, c), 0.0);
    ASSERT_EQ(Put(mp_dig_user_out_3, c, kDefault), 0);  // the camera file said 0
    EXPECT_EQ(Get(c, DIG_DICTL), 0u);
    double v = 0;
    EXPECT_EQ(mp_dig_user_in_0(c, 0, &v, 1), -1);

    ASSERT_EQ(Put(mp_dig_user_out_format, c, 5), 0);
    EXPECT_EQ(Get(c, DIG_DICTL), 0x8800u);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), 0.0);
    ASSERT_EQ(Put(mp_dig_user_out_format, c, 1), 0);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), 1.0);
    ASSERT_EQ(Put(mp_dig_user_out_format, c, -9999), 0);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), -9999.0);

    ASSERT_EQ(Put(mp_dig_user_in_format, c, 1), 0);
    EXPECT_EQ(Get(c, DIG_DICTL), 0x4000u);
    EXPECT_EQ(Ask(mp_dig_user_in_format, c), 1.0);
    ASSERT_EQ(Put(mp_dig_user_in_format, c, 3), 0);  // bit 0 into both
    EXPECT_EQ(Get(c, DIG_DICTL), 0x4400u);
    ASSERT_EQ(Put(mp_dig_user_in_format, c, kDefault), 0);
    EXPECT_EQ(Ask(mp_dig_user_in_format, c), -9999.0);
}

TEST(GeometryUserRecord, SorvikRecordsUseTheControlWord)
{
    auto cam = NewRecord();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, SORVIK2_FLAG, 2);
    ASSERT_EQ(Put(mp_dig_user_out_2, c, 1), 0);
    EXPECT_EQ(Get(c, SORVIK2_CONTROL), 0x100u);
    EXPECT_EQ(Get(c, DIG_DICTL), 0u);
    ASSERT_EQ(Put(mp_dig_user_out_format, c, 1), 0);
    EXPECT_EQ(Get(c, SORVIK2_CONTROL) & 0x1800, 0x1800u);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), 1.0);
    ASSERT_EQ(Put(mp_dig_user_out_format, c, 7), 0);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), -9999.0);
    ASSERT_EQ(Put(mp_dig_user_out_format, c, 0), 0);
    EXPECT_EQ(Ask(mp_dig_user_out_format, c), 0.0);
    ASSERT_EQ(Put(mp_dig_user_in_format, c, 0), 0);  // bit 10: control-word bit 3 set
    EXPECT_EQ(Get(c, SORVIK2_CONTROL) & 0x8, 0x8u);
    EXPECT_EQ(Ask(mp_dig_user_in_format, c), 0.0);  // bit 14
    ASSERT_EQ(Put(mp_dig_user_in_format, c, 1), 0);
    EXPECT_EQ(Get(c, SORVIK2_CONTROL) & 0x8, 0u);
}

// ---- live user outputs and inputs ---------------------------------------------------------------

class GeometryLive : public GrabModuleTest {};

TEST_F(GeometryLive, OutputsReachTheRegisters)
{
    ASSERT_EQ(Put(mp_dig_user_out_0, nullptr, 1), 0);
    EXPECT_EQ(Grab().reg(DIG_USRREG / 8) & 0x40, 0x40);
    EXPECT_EQ(Ask(mp_dig_user_out_0, nullptr), 1.0);
    EXPECT_EQ(Put(mp_dig_user_out_0, nullptr, kDefault), -1);

    Grab().setDimFitted(false);
    ASSERT_EQ(Put(mp_dig_user_out_2, nullptr, 1), 0);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8) & 0x4, 0x4);
}

TEST_F(GeometryLive, OutputThreeWithTheDimChangesOnlyTheDim)
{
    Live(DIG_DICTL)->value = 0x400;
    mpPrvWriteExtSlot(DIG_DICTL);
    ASSERT_EQ(Put(mp_dig_user_out_3, nullptr, 1), 0);
    EXPECT_EQ(Grab().dim() & 0x2, 0x2);
    EXPECT_EQ(Live(DIMREG0)->value & 0x2, 0x2u);
    EXPECT_EQ(Live(DIG_DICTL)->value, 0x400u);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8), 0x400);
    EXPECT_EQ(Ask(mp_dig_user_out_3, nullptr), 1.0);
}

TEST_F(GeometryLive, SecondPathUsesTheControlWord)
{
    ASSERT_EQ(Put(mp_dig_user_out_4, nullptr, 1, 2), 0);
    EXPECT_EQ(Grab().reg(SORVIK2_CONTROL / 8) & 0x400, 0x400);
    EXPECT_EQ(Ask(mp_dig_user_out_4, nullptr, 3), 1.0);
    ASSERT_EQ(Put(mp_dig_user_in_format, nullptr, 0, 2), 0);
    EXPECT_EQ(Grab().reg(SORVIK2_CONTROL / 8) & 0x8, 0x8);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8) & 0x4400, 0);
}

TEST_F(GeometryLive, InputsAreReadFromTheHardware)
{
    Grab().setUserInputs(true, false);
    EXPECT_EQ(Ask(mp_dig_user_in_0, nullptr), 1.0);
    EXPECT_EQ(Ask(mp_dig_user_in_1, nullptr), 0.0);
    EXPECT_EQ(Ask(mp_dig_user_in_0, nullptr, 3), 1.0);
    double v = 7;
    EXPECT_EQ(mp_dig_user_in_0(nullptr, 0, &v, 0), 0);
    EXPECT_EQ(v, 7.0);
}

TEST_F(GeometryLive, FormatsAreWrittenAtOnce)
{
    ASSERT_EQ(Put(mp_dig_user_in_format, nullptr, 0), 0);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8) & 0x4400, 0x400);
    EXPECT_EQ(Ask(mp_dig_user_in_format, nullptr), 0.0);
    ASSERT_EQ(Put(mp_dig_user_out_format, nullptr, 1), 0);
    EXPECT_EQ(Grab().reg(DIG_DICTL / 8) & 0x8800, 0x8000);
    EXPECT_EQ(Ask(mp_dig_user_out_format, nullptr), 1.0);
    EXPECT_EQ(Put(mp_dig_user_out_format, nullptr, kDefault), -1);
}

TEST_F(GeometryLive, PllUpdateWithoutARecordChangesTheShadowOnly)
{
    Live(ICS1522REG(5))->value = 0x20;
    const size_t before = AllWrites();
    mp_dig_update_ics1522(nullptr, 12000000, 0, 2.0);
    EXPECT_EQ(Live(ICS1522REG(5))->value & 0x30, 0x30u);
    EXPECT_EQ(AllWrites(), before);
}

} // namespace
