#include "../chipsfixture.h"

#include "analog.h"

#include <gtest/gtest.h>

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

// An analog camera: sample mode s, x taps t (the other tap factors 1), current channel red.
std::unique_ptr<_MP_CAM_ST_0> Analog(uint32_t s = 0, uint32_t t = 1)
{
    auto cam = NewRecord();
    Set(cam.get(), INFO_SAMPLEMODE, s);
    Set(cam.get(), INFO_XTAPSPERCH, t);
    Set(cam.get(), INFO_YTAPSPERCH, 1);
    Set(cam.get(), INFO_XTAPSPERCHADJ, 1);
    Set(cam.get(), INFO_YTAPSPERCHADJ, 1);
    Set(cam.get(), INFO_CHANNEL, kRed);
    return cam;
}

// A digital camera of bitsPerChannel over timeMultiPix pixels with t x taps.
std::unique_ptr<_MP_CAM_ST_0> Digital(uint32_t bits, uint32_t pixels, uint32_t t = 1)
{
    auto cam = Analog(0, t);
    Set(cam.get(), INFO_INPUT, 1);
    Set(cam.get(), INFO_BITSPERLOGCH, bits);
    Set(cam.get(), INFO_TIMEMULTIPIX, pixels);
    return cam;
}

int Call(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, int32_t type, double value,
         int32_t mode = 0, double* out = nullptr)
{
    double v = value;
    const int r = h(cam, type, &v, mode);
    if (out) *out = v;
    return r;
}

double Ask(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, int32_t type)
{
    double v = -12345;
    EXPECT_EQ(h(cam, type, &v, 1), 0);
    return v;
}

// ---- gain and filters ------------------------------------------------------------------

TEST(AnalogGain, PercentBandsAndCodesOnARecord)
{
    auto cam = Analog();
    ASSERT_EQ(Call(mp_dig_gain, cam.get(), 30002, 25.0), 0);
    EXPECT_EQ((Get(cam.get(), DIG_ANACTL) >> 2) & 3, 0u);
    Call(mp_dig_gain, cam.get(), 30002, 25.5);
    EXPECT_EQ((Get(cam.get(), DIG_ANACTL) >> 2) & 3, 1u);
    Call(mp_dig_gain, cam.get(), 30002, 100.0);
    EXPECT_EQ((Get(cam.get(), DIG_ANACTL) >> 2) & 3, 3u);
    Call(mp_dig_gain, cam.get(), 0, 2.0);
    EXPECT_EQ(Ask(mp_dig_gain, cam.get(), 30002), 75.0);
    EXPECT_EQ(Ask(mp_dig_gain, cam.get(), 0), 2.0);
    EXPECT_EQ(Get(cam.get(), DIG_ANACTL), 0x8u) << "only the red field (bits 2-3) changed";

    Call(mp_dig_gain, cam.get(), 0, 7.0);
    EXPECT_EQ(Get(cam.get(), DIG_ANACTL), 0x8u) << "code 7 is ignored";
    Call(mp_dig_gain, cam.get(), 0 | kPhysical | kAlpha | kBlue, 1.0);
    EXPECT_EQ(Get(cam.get(), DIG_ANACTL), 0x8u | 0x40 | 0x1) << "blue bits 6-7, alpha bits 0-1";
}

TEST(AnalogGain, DefaultRestoresTheCameraFileFieldsOfTheSelectedChannels)
{
    auto cam = Analog();
    Set(cam.get(), DIG_ANACTL, 0xF3);  // alpha 3, red 0, green 3, blue 3
    CamSlotAt(cam.get(), DIG_ANACTL)->value = 0;
    ASSERT_EQ(Call(mp_dig_gain, cam.get(), 30002 | kPhysical | kGreen | kAlpha, kDefault), 0);
    EXPECT_EQ(Get(cam.get(), DIG_ANACTL), 0x33u);
    // A gain code (type 0) ignores the default on a record.
    ASSERT_EQ(Call(mp_dig_gain, cam.get(), 0 | kPhysical | kBlue, kDefault), 0);
    EXPECT_EQ(Get(cam.get(), DIG_ANACTL), 0x33u);
}

TEST_F(GrabModuleTest, LiveGainWritesTheRegisterOnceAndRefusesWhatItCannotResolve)
{
    ASSERT_EQ(Call(mp_dig_gain, nullptr, 0 | kRed | kGreen, 2.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_ANACTL), 0x28);
    EXPECT_EQ(Grab().writes(grabregs::DIG_ANACTL).size(), 2u) << "one register write: low and high lane";
    EXPECT_EQ(Ask(mp_dig_gain, nullptr, 30002 | kGreen), 75.0);

    EXPECT_EQ(Call(mp_dig_gain, nullptr, 0, 1.0), -1) << "no channel and no record";
    EXPECT_EQ(Call(mp_dig_gain, nullptr, 30002 | kRed, kDefault), -1) << "no camera-file word live";
    ASSERT_EQ(Call(mp_dig_gain, nullptr, 0 | kRed, kDefault), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_ANACTL), 0x20) << "type 0's default writes code 0";
}

TEST(AnalogGain, InquiryOfAnEmptyChannelMaskIsRefused)
{
    auto cam = Analog();
    Set(cam.get(), INFO_CHANNEL, 0);
    double v = -1;
    EXPECT_EQ(mp_dig_gain(cam.get(), 0, &v, 1), -1);
    EXPECT_EQ(v, -1.0) << "nothing written";
    EXPECT_EQ(mp_dig_filters(cam.get(), 8, &v, 1), -1);
    EXPECT_EQ(mp_dig_ref_white(cam.get(), 4, &v, 1), -1);
    EXPECT_EQ(mp_dig_level_fine(cam.get(), 7, &v, 1), -1);
    EXPECT_EQ(v, -1.0);
}

TEST_F(GrabModuleTest, FiltersSetAndAnswerTheSelectedBits)
{
    ASSERT_EQ(Call(mp_dig_filters, nullptr, 8 | kBlue | kAlpha, 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_ANACTL), 0x900);
    EXPECT_EQ(Ask(mp_dig_filters, nullptr, 8 | kBlue), 1.0);
    EXPECT_EQ(Ask(mp_dig_filters, nullptr, 8 | kRed), 0.0);
    Call(mp_dig_filters, nullptr, 8 | kAlpha, 0.0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_ANACTL), 0x800);
}

// ---- references ------------------------------------------------------------------------

TEST(AnalogReferences, WhitePercentSharesTheCameraFileRange)
{
    auto cam = Analog();
    Set(cam.get(), DAC8800REF_REDR, 200);
    Set(cam.get(), DAC8800REF_NREF, 40);
    ASSERT_EQ(Call(mp_dig_ref_white, cam.get(), 30003, 50.0), 0);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_REDR), 120u) << "(200 - 40) x 0.5 + 40";
    EXPECT_EQ(Get(cam.get(), WHITE_REF_RED), 50u);
    EXPECT_EQ(Ask(mp_dig_ref_white, cam.get(), 30003), 50.0);
    EXPECT_EQ(CamSlotAt(cam.get(), DAC8800REF_REDR)->file, 200u) << "camera-file word kept";

    ASSERT_EQ(Call(mp_dig_ref_white, cam.get(), 30003, 250.0), 0);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_REDR), 255u) << "clamped";
    ASSERT_EQ(Call(mp_dig_ref_white, cam.get(), 4, -3.0), 0);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_REDR), 0u);

    Set(cam.get(), WHITE_REF_RED, 100);
    Set(cam.get(), INFO_MISC, 2);  // the load works in percent
    Call(mp_dig_ref_white, cam.get(), 30003, 60.0);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_REDR), 60u) << "the percent itself";
    Call(mp_dig_ref_white, cam.get(), 30003, kDefault);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_REDR), 200u);
    EXPECT_EQ(Get(cam.get(), WHITE_REF_RED), 100u);
}

TEST(AnalogReferences, BlackReferenceSharesTheRedRange)
{
    auto cam = Analog();
    Set(cam.get(), DAC8800REF_REDR, 200);
    Set(cam.get(), DAC8800REF_NREF, 40);
    ASSERT_EQ(Call(mp_dig_ref_black, cam.get(), 30004, 25.0), 0);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_NREF), 80u) << "160 x 0.25 + 40.5";
    EXPECT_EQ(Ask(mp_dig_ref_black, cam.get(), 30004), 25.0);
    Call(mp_dig_ref_black, cam.get(), 30004, kDefault);
    EXPECT_EQ(Get(cam.get(), DAC8800REF_NREF), 40u);
}

TEST_F(GrabModuleTest, LiveReferencesReachTheSecondDac)
{
    ASSERT_EQ(Call(mp_dig_ref_white, nullptr, 4 | kRed, 300.0), 0);
    EXPECT_EQ(Grab().dac(2, 1), 255) << "red reference: register 1, clamped";
    ASSERT_EQ(Call(mp_dig_ref_white, nullptr, 30003 | kGreen | kAlpha, 50.0), 0);
    EXPECT_EQ(Grab().dac(2, 2), 128) << "50 % of 255, rounded";
    EXPECT_EQ(Grab().dac(2, 0), 128) << "alpha: register 0";
    EXPECT_NEAR(Ask(mp_dig_ref_white, nullptr, 30003 | kGreen), 128 * 100.0 / 255, 1e-9);
    EXPECT_EQ(Ask(mp_dig_ref_white, nullptr, 4 | kRed), 255.0);
    EXPECT_EQ(Live(DAC8800REF_GREENR)->value & 0xFFFF, 128u);
    EXPECT_EQ(Live(DAC8800REF_GREENR)->file & (kShadowWritten | kShadowListMode), 0u);

    ASSERT_EQ(Call(mp_dig_ref_black, nullptr, 5 | kRed, 17.0), 0);
    EXPECT_EQ(Grab().dac(2, 4), 17);
    EXPECT_EQ(Ask(mp_dig_ref_black, nullptr, 5 | kRed), 17.0);

    EXPECT_EQ(Call(mp_dig_ref_white, nullptr, 30003, 50.0), -1) << "no channel and no record";
    EXPECT_EQ(Call(mp_dig_ref_white, nullptr, 30003 | kRed, kDefault), -1);
    EXPECT_EQ(Call(mp_dig_ref_black, nullptr, 30004 | kRed, kDefault), -1);
    EXPECT_EQ(Grab().dacLoads(2).size(), 4u) << "refusals load nothing";
}

// ---- levels -----------------------------------------------------------------------------

TEST_F(GrabModuleTest, LiveLevelsReachTheFirstDacClamped)
{
    ASSERT_EQ(Call(mp_dig_level_coarse, nullptr, 6 | kRed, 300.0), 0);
    EXPECT_EQ(Grab().dac(1, 1), 255);
    ASSERT_EQ(Call(mp_dig_level_fine, nullptr, 7 | kAlpha, 9.0), 0);
    EXPECT_EQ(Grab().dac(1, 4), 9);
    ASSERT_EQ(Call(mp_dig_level_fine, nullptr, 7 | kBlue, -4.0), 0);
    EXPECT_EQ(Grab().dac(1, 7), 0);
    EXPECT_EQ(Ask(mp_dig_level_coarse, nullptr, 6 | kRed), 255.0);
    EXPECT_EQ(Call(mp_dig_level_coarse, nullptr, 6 | kRed, kDefault), -1);
}

TEST(AnalogLevels, DefaultRestoresEachSelectedChannel)
{
    auto cam = Analog(0, 1);
    Set(cam.get(), DAC8800LVL_GREENC, 33);
    Set(cam.get(), INFO_CHANNEL, kGreen);
    Call(mp_dig_level_coarse, cam.get(), 6, 99.0);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENC), 99u);
    Call(mp_dig_level_coarse, cam.get(), 6, kDefault);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENC), 33u);
}

TEST(AnalogLevels, TenBitModeDerivesTheOtherChannelsFromRed)
{
    auto cam = Analog(3, 1);
    Set(cam.get(), DAC8800REF_REDR, 200);
    Set(cam.get(), DAC8800REF_NREF, 40);
    // A logical set on green still sets red; red coarse 100, fine 0:
    // L = 250 / 256, d = 160 / 255; green L + d/4, blue L + d/2, alpha L + 3d/4 give
    // coarse 116, 132, 148 and fine 1, 2, 3.
    ASSERT_EQ(Call(mp_dig_level_coarse, cam.get(), 6 | kGreen, 100.0), 0);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_REDC), 100u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENC), 116u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_BLUEC), 132u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_ALPHAC), 148u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENF), 1u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_BLUEF), 2u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_ALPHAF), 3u);

    // A physical mask sets the channel itself and derives nothing.
    Call(mp_dig_level_coarse, cam.get(), 6 | kPhysical | kBlue, 7.0);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_BLUEC), 7u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENC), 116u);

    // A logical reference set derives again: the black reference at the red one leaves
    // d = 0, so every channel takes red's level.
    Call(mp_dig_ref_black, cam.get(), 5, 200.0);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_GREENC), 100u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_BLUEC), 100u);
    EXPECT_EQ(Get(cam.get(), DAC8800LVL_ALPHAF), 0u);
}

// ---- sample mode and clock phase -------------------------------------------------------

TEST(AnalogSampleMode, CodesAndPhasesShareTheGrabControlNibble)
{
    auto cam = Analog();
    Call(mp_dig_sample_mode, cam.get(), 2, 0.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 12u);
    Call(mp_dig_clock_phase, cam.get(), 3, 1.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 14u);
    EXPECT_EQ(Ask(mp_dig_clock_phase, cam.get(), 3), 1.0);
    Call(mp_dig_clock_phase, cam.get(), 3, 2.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 13u);
    EXPECT_EQ(Ask(mp_dig_clock_phase, cam.get(), 3), 2.0);

    Call(mp_dig_sample_mode, cam.get(), 2, 3.0);
    EXPECT_EQ(Ask(mp_dig_sample_mode, cam.get(), 2), 3.0);
    Call(mp_dig_clock_phase, cam.get(), 3, 3.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 7u);

    Call(mp_dig_sample_mode, cam.get(), 2, 1.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 8u);
    Call(mp_dig_clock_phase, cam.get(), 3, 2.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 8u) << "no phase in sample mode 1";
    EXPECT_EQ(Ask(mp_dig_clock_phase, cam.get(), 3), 0.0);
    Call(mp_dig_sample_mode, cam.get(), 2, 2.0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 8) & 0xF, 2u);
    EXPECT_EQ(Get(cam.get(), DIG_GRABCTL) & ~0xF00u, 0u) << "the other bits stay";
}

TEST_F(GrabModuleTest, LiveSampleModeIsReadBackFromTheCode)
{
    Call(mp_dig_sample_mode, nullptr, 2, 3.0);
    EXPECT_EQ((Grab().reg(grabregs::DIG_GRABCTL) >> 8) & 0xF, 4);
    EXPECT_EQ(Ask(mp_dig_sample_mode, nullptr, 2), 3.0);
    Call(mp_dig_clock_phase, nullptr, 3, 1.0);
    EXPECT_EQ((Grab().reg(grabregs::DIG_GRABCTL) >> 8) & 0xF, 6);
    Call(mp_dig_sample_mode, nullptr, 2, 0.0);
    EXPECT_EQ(Ask(mp_dig_sample_mode, nullptr, 2), 0.0);
    Call(mp_dig_sample_mode, nullptr, 2, 2.0);
    EXPECT_EQ(Ask(mp_dig_sample_mode, nullptr, 2), 2.0);
    Call(mp_dig_sample_mode, nullptr, 2, 1.0);
    EXPECT_EQ(Ask(mp_dig_sample_mode, nullptr, 2), 1.0);
}

// ---- channels -------------------------------------------------------------------------------

TEST(AnalogChannels, PhysicalWidthOfTimeMultiplexedPixels)
{
    EXPECT_EQ(mp_dig_chan_phys_width(Digital(16, 2).get()), 8u);
    EXPECT_EQ(mp_dig_chan_phys_width(Digital(24, 2).get()), 12u);
    EXPECT_EQ(mp_dig_chan_phys_width(Digital(10, 1).get()), 10u);
    EXPECT_EQ(mp_dig_chan_phys_width(Digital(6, 2).get()), 3u);
    // 12 bits round to 16 in the digital mapping: channel 0 takes two physical channels.
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(24, 2).get(), kRed), 0x30000u);
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(16, 2).get(), kRed), 0x10000u);
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(32, 1).get(), kRed), 0xF0000u);
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(8, 1).get(), kGreen), 0x20000u);
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(8, 1, 2).get(), kRed | kGreen), 0x30000u | 0xC0000u);
    EXPECT_EQ(mp_dig_map_digital_channel(Digital(8, 1, 3).get(), kGreen), 0u);
}

TEST(AnalogChannels, AnalogMappingBySampleModeAndTaps)
{
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(0, 1).get(), kRed), 0x10000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(0, 2).get(), kRed), 0x30000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(0, 2).get(), kGreen), 0xC0000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(1, 1).get(), kRed), 0x50000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(1, 1).get(), kGreen), 0xA0000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(0, 3).get(), kRed), 0x70000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(2, 1).get(), kRed | kBlue), 0xF0000u);
    EXPECT_EQ(mp_dig_map_analog_channel(Analog(0, 1).get(), kBlue | kAlpha), 0xC0000u);
    EXPECT_EQ(mp_dig_map_analog_channel(nullptr, kRed), 0xFFFFFFFFu);

    auto cam = Analog(1, 1);
    Set(cam.get(), INFO_CHANNEL, kGreen);
    EXPECT_EQ(Ask(mp_dig_map_channel, cam.get(), 162), static_cast<double>(0xA0000));
    EXPECT_EQ(Call(mp_dig_map_channel, nullptr, 162, 0.0, 1), -1);
}

TEST(AnalogChannels, CurrentChannelRefusals)
{
    auto s1 = Analog(1, 1);
    EXPECT_EQ(Call(mp_dig_channel, s1.get(), 30000, kRed | kBlue), -1) << "channel 2 in sample mode 1";
    EXPECT_EQ(Get(s1.get(), INFO_CHANNEL), static_cast<uint32_t>(kRed));
    EXPECT_EQ(Call(mp_dig_channel, s1.get(), 30000, kGreen), 0);
    EXPECT_EQ(Ask(mp_dig_channel, s1.get(), 30000), static_cast<double>(kGreen));
    EXPECT_EQ(Call(mp_dig_channel, Analog(2, 4).get(), 30000, kRed), 0) << "channel 0 alone always";
    EXPECT_EQ(Call(mp_dig_channel, Analog(0, 3).get(), 30000, kGreen), -1) << "more than two taps";
    EXPECT_EQ(Call(mp_dig_channel, Analog(0, 1).get(), 30000, 0x100000), -1) << "no channel bit";
    EXPECT_EQ(Call(mp_dig_channel, nullptr, 30000, kRed), -1) << "no record";

    EXPECT_EQ(Call(mp_dig_channel, Digital(8, 1, 2).get(), 30000, kBlue), -1) << "8 bits, 2 taps, channel 2";
    EXPECT_EQ(Call(mp_dig_channel, Digital(8, 1, 2).get(), 30000, kGreen), 0);
    EXPECT_EQ(Call(mp_dig_channel, Digital(8, 1, 5).get(), 30000, kRed), -1) << "more than four taps";
    EXPECT_EQ(Call(mp_dig_channel, Digital(12, 1).get(), 30000, kBlue), -1) << "wide, one tap, channel 2";
    EXPECT_EQ(Call(mp_dig_channel, Digital(12, 1).get(), 30000, kGreen), 0);
    EXPECT_EQ(Call(mp_dig_channel, Digital(24, 1).get(), 30000, kGreen), -1) << "above 16 bits";
    auto packed = Digital(8, 1);
    Set(packed.get(), INFO_PACKEDPIXELS, 1);
    EXPECT_EQ(Call(mp_dig_channel, packed.get(), 30000, kGreen), -1);
    EXPECT_EQ(Call(mp_dig_channel, packed.get(), 30000, kRed), 0) << "packed keeps its channel";

    auto cam = Analog(0, 1);
    Set(cam.get(), INFO_CHANNEL, kBlue);
    CamSlotAt(cam.get(), INFO_CHANNEL)->value = kGreen;
    EXPECT_EQ(Call(mp_dig_channel, cam.get(), 30000, kDefault), 0);
    EXPECT_EQ(Get(cam.get(), INFO_CHANNEL), static_cast<uint32_t>(kBlue));
}

TEST(AnalogChannels, SyncInputFollowsTheGrabChannel)
{
    auto cam = Analog(0, 1);
    Set(cam.get(), INFO_CHANNEL, kGreen);
    ASSERT_EQ(Call(mp_dig_sync_channel, cam.get(), 30001, 16777216.0), 0);
    EXPECT_EQ(Get(cam.get(), INFO_SYNCGRABCHAN), 1u);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 4) & 3, 2u) << "channel 1 is sync input 2";
    EXPECT_EQ(Ask(mp_dig_sync_channel, cam.get(), 30001), static_cast<double>(kGreen));

    // A new current channel moves the sync input along.
    ASSERT_EQ(Call(mp_dig_channel, cam.get(), 30000, kBlue), 0);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 4) & 3, 3u);
    EXPECT_EQ(Ask(mp_dig_sync_channel, cam.get(), 30001), static_cast<double>(kBlue));

    ASSERT_EQ(Call(mp_dig_sync_channel, cam.get(), 30001, kRed), 0);
    EXPECT_EQ(Get(cam.get(), INFO_SYNCGRABCHAN), 0u);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 4) & 3, 1u);
    Call(mp_dig_channel, cam.get(), 30000, kGreen);
    EXPECT_EQ((Get(cam.get(), DIG_GRABCTL) >> 4) & 3, 1u) << "a fixed sync input stays";

    Call(mp_dig_sync_channel, cam.get(), 1, 0.0);
    EXPECT_EQ(Ask(mp_dig_sync_channel, cam.get(), 1), 0.0);
    EXPECT_EQ(Ask(mp_dig_sync_channel, cam.get(), 30001), static_cast<double>(kAlpha)) << "input 0, S 0, T 1";
    double v = 3;
    EXPECT_EQ(mp_dig_sync_channel(nullptr, 30001, &v, 0), 0) << "logical sync needs a record: nothing done";
}

TEST(AnalogChannels, CapacityCountsTheChannelsACameraCanUse)
{
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Analog(0, 1).get(), 30022), 4.0);
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Analog(0, 2).get(), 30022), 2.0);
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Analog(1, 1).get(), 30022), 2.0);
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Analog(2, 1).get(), 30022), 1.0);
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Digital(16, 1).get(), 30022), 2.0);
    EXPECT_EQ(Ask(mp_dig_nbr_max_channel, Digital(24, 1).get(), 30022), 1.0);
    EXPECT_EQ(Call(mp_dig_nbr_max_channel, nullptr, 30022, 0.0, 1), -1);
    auto cam = Analog();
    Set(cam.get(), INFO_CHANNEL, kRed | kAlpha);
    EXPECT_EQ(mp_dig_nbr_chan(cam.get(), 0x10000000), 2);
    EXPECT_EQ(mp_dig_nbr_chan(cam.get(), kRed | kGreen | kBlue), 3);
}

} // namespace
