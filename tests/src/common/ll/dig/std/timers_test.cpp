#include "../ctrlfixture.h"

#include "timers.h"

#include <gtest/gtest.h>

using chipsfixture::Get;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using ctrlfixture::kDefault;
using ctrlfixture::kNone;
using ctrlfixture::Type;
using namespace cam0;

namespace {

constexpr uint32_t Allow(std::initializer_list<uint32_t> sources)
{
    uint32_t bits = 0;
    for (uint32_t s : sources) bits |= 1u << s;
    return bits;
}

// A 20 MHz camera with lines of 1016 + 8 pixels (19,531.25 lines a second) and 525 lines.
std::unique_ptr<_MP_CAM_ST_0> Camera(uint32_t allowed)
{
    auto cam = NewRecord();
    Set(cam.get(), INFO_PIXCLK, 20000000);
    Set(cam.get(), DIG_HTOTAL, 1016);
    Set(cam.get(), DIG_VTOTAL, 524);
    Set(cam.get(), INFO_T1CLKSRC, allowed);
    Set(cam.get(), INFO_T2CLKSRC, allowed);
    return cam;
}

int Put(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, int32_t type, double value,
        int32_t mode = 0)
{
    double v = value;
    return h(cam, type, &v, mode);
}
double Ask(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, int32_t type, int32_t mode = 1)
{
    double v = -1.5;
    EXPECT_EQ(h(cam, type, &v, mode), 0);
    return v;
}

// ---- exposure in seconds ---------------------------------------------------------------------

TEST(TimerExposure, TenMillisecondsNeedTheLineRateWhenThePixelClockOverflows)
{
    auto pixelOnly = Camera(Allow({6}));
    EXPECT_EQ(mp_dig_handle_exp1(pixelOnly.get(), 0.01, kDefault), -1) << "200,000 counts do not fit";

    auto cam = Camera(Allow({6, 2}));
    ASSERT_EQ(Put(mp_dig_exp1_active, cam.get(), 30008, 0.01), 0);
    // e = 195.3125, d = 8 (the minimum): exposure 195 + 2, delay 8, period 203 - 4.
    EXPECT_EQ(Get(cam.get(), DIG_EXP1S), 197u);
    EXPECT_EQ(Get(cam.get(), INFO_T1DELAY), 8u);
    EXPECT_EQ(Get(cam.get(), DIG_T1SCNT), 199u);
    EXPECT_EQ(Get(cam.get(), DIG_T1CTL) & 7, 2u);
    EXPECT_DOUBLE_EQ(Ask(mp_dig_exp1_active, cam.get(), 30008), 195.0 / 19531.25);
    EXPECT_NEAR(Ask(mp_dig_exp1_active, cam.get(), 30008, 3), 0.009984, 1e-9);
    EXPECT_DOUBLE_EQ(Ask(mp_dig_exp1_delay, cam.get(), 30009), 8.0 / 19531.25);
}

TEST(TimerExposure, BelowOneCountTheExposureIsThreeAndNoSourceFails)
{
    auto cam = Camera(Allow({2}));
    ASSERT_EQ(mp_dig_handle_exp1(cam.get(), 1e-9, 0.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_EXP1S), 3u);
    auto none = Camera(0);
    Set(none.get(), DIG_EXP1S, 50);
    Set(none.get(), DIG_T1SCNT, 60);
    EXPECT_EQ(mp_dig_handle_exp1(none.get(), 0.01, kDefault), -1);
    EXPECT_EQ(Get(none.get(), DIG_EXP1S), 0u) << "the current source runs at 0: step 1 cleared the counts";
    EXPECT_EQ(Get(none.get(), DIG_T1SCNT), 0u);
}

TEST(TimerExposure, ADelayKeepsTheExposureOfTheCurrentSource)
{
    auto cam = Camera(Allow({2}));
    ASSERT_EQ(mp_dig_handle_exp2(cam.get(), 0.01, kDefault), 0);
    ASSERT_EQ(Get(cam.get(), DIG_T2CTL) & 7, 2u);
    ASSERT_EQ(Put(mp_dig_exp2_delay, cam.get(), 30009, 0.001), 0);
    EXPECT_EQ(Get(cam.get(), DIG_EXP2S), 197u) << "the kept exposure: 195 counts again";
    EXPECT_EQ(Get(cam.get(), INFO_T2DELAY), 19u) << "19.53 counts";
    EXPECT_EQ(Get(cam.get(), DIG_T2SCNT), 214u - 4u);
}

// A kept count goes through count / f and back through f x time; 21 / 19531.25 x 19531.25
// is 20.999999999999996 in doubles, and the kept delay of 10 counts likewise comes back.
TEST(TimerExposure, KeptCountsComeBackUnchanged)
{
    for (uint32_t counts : {21u, 195u, 1000u, 65000u}) {
        auto cam = Camera(Allow({2}));
        Set(cam.get(), DIG_T1CTL, 2);
        Set(cam.get(), DIG_EXP1S, counts + 2);
        Set(cam.get(), INFO_T1DELAY, 10);
        ASSERT_EQ(Put(mp_dig_exp1_delay, cam.get(), 30009, 11.0 / 19531.25), 0) << counts;
        EXPECT_EQ(Get(cam.get(), DIG_EXP1S), counts + 2) << "exposure kept at " << counts;
        ASSERT_EQ(Put(mp_dig_exp1_active, cam.get(), 30008, counts / 19531.25), 0) << counts;
        EXPECT_EQ(Get(cam.get(), INFO_T1DELAY), 11u) << "delay kept at 11, exposure " << counts;
    }
}

TEST(TimerExposure, ProductsBeyondThirtyTwoBitsDoNotWrapIntoAFit)
{
    // 20 MHz x 214.748369 s is 2^32 + 100 counts: a 32-bit truncation would leave 100.
    auto cam = Camera(Allow({6}));
    EXPECT_EQ(mp_dig_handle_exp1(cam.get(), (4294967296.0 + 100.0) / 20000000.0, 0.0), -1);
    EXPECT_EQ(mp_dig_handle_exp1(cam.get(), 1e300, 0.0), -1);
    EXPECT_EQ(mp_dig_handle_exp1(cam.get(), 0.001, 1e300), -1);
    EXPECT_EQ(Get(cam.get(), DIG_EXP1S), 0u);
}

TEST(TimerExposure, SecondsNeedARecord)
{
    double v = 0.01;
    EXPECT_EQ(mp_dig_exp1_active(nullptr, 30008, &v, 0), -1);
    EXPECT_EQ(mp_dig_exp2_delay(nullptr, 30009, &v, 1), -1);
    EXPECT_EQ(mp_dig_timer1_trig_src(nullptr, 30010, &v, 0), -1);
}

// ---- counts -------------------------------------------------------------------------------------------

TEST(TimerCounts, CountsAboveSixteenBitsAreRefused)
{
    auto cam = NewRecord();
    EXPECT_EQ(Put(mp_dig_timer1_cnt, cam.get(), 14, 65536.0), -1);
    ASSERT_EQ(Put(mp_dig_timer2_cnt, cam.get(), 15, 65535.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_T2SCNT), 65535u);
    EXPECT_EQ(Put(mp_dig_exp1_active, cam.get(), 16, 70000.0), -1);
    ASSERT_EQ(Put(mp_dig_exp1_active, cam.get(), 16, 200.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_EXP1S), 200u) << "stored as given";
    EXPECT_EQ(Ask(mp_dig_exp1_active, cam.get(), 16), 198.0);
}

TEST(TimerCounts, TheTwoAddedCountsComeOffOnlyWhereTheyAre)
{
    auto cam = Camera(Allow({6}));
    for (auto [stored, counts] : {std::pair{0u, 0.0}, {1u, 1.0}, {2u, 0.0}, {5u, 3.0}}) {
        Set(cam.get(), DIG_EXP1S, stored);
        EXPECT_EQ(Ask(mp_dig_exp1_active, cam.get(), 16), counts) << stored;
    }
    // In seconds: the current source is the pixel clock.
    Set(cam.get(), DIG_T1CTL, 6);
    Set(cam.get(), DIG_EXP1S, 1);
    EXPECT_DOUBLE_EQ(Ask(mp_dig_exp1_active, cam.get(), 30008), 1.0 / 20000000.0);
}

// ---- frequencies ---------------------------------------------------------------------------------------

TEST(TimerFrequency, EachSourceRunsAtItsClock)
{
    auto cam = Camera(0);
    Set(cam.get(), INFO_CONTPCLK, 1);
    Set(cam.get(), INFO_USRCLK0, 10000000);
    Set(cam.get(), INFO_GRBSYSCLK, 40000000);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), 0), 0.0) << "a continuous clock of 1 means none";
    Set(cam.get(), INFO_CONTPCLK, 28000000);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), 1), 28000000.0);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), 2), 19531.25);
    EXPECT_DOUBLE_EQ(mp_dig_get_timer1_freq(cam.get(), 3), 19531.25 / 525.0);
    Set(cam.get(), INFO_MODE, 1);
    EXPECT_DOUBLE_EQ(mp_dig_get_timer1_freq(cam.get(), 3), 2.0 * 19531.25 / 525.0);
    Set(cam.get(), INFO_TYPE, 2);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), 3), 0.0);
    EXPECT_EQ(mp_dig_get_timer2_freq(cam.get(), 5), 10000000.0);
    EXPECT_EQ(mp_dig_get_timer2_freq(cam.get(), 6), 20000000.0);
    EXPECT_EQ(mp_dig_get_timer2_freq(cam.get(), 7), 40000000.0);
    EXPECT_EQ(mp_dig_get_timer2_freq(cam.get(), 8), 0.0);
}

TEST(TimerFrequency, TheOtherTimersPeriodIsFollowedOneLevel)
{
    auto cam = Camera(0);
    Set(cam.get(), DIG_T2CTL, 6);
    Set(cam.get(), DIG_T2SCNT, 99);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), 4), 200000.0) << "20 MHz / 100";
    Set(cam.get(), DIG_T1CTL, 4);
    Set(cam.get(), DIG_T2CTL, 4);
    EXPECT_EQ(mp_dig_get_timer1_freq(cam.get(), kTimerOwnSource), 0.0) << "two timers on each other: no frequency";
    EXPECT_EQ(mp_dig_get_timer2_freq(cam.get(), 4), 0.0);
    EXPECT_EQ(mp_dig_handle_exp1(cam.get(), 0.01, kDefault), -1);
}

// ---- trigger source and polarity --------------------------------------------------------------------------

TEST(TimerTrigger, ValuesMapToTheirCodes)
{
    const struct {
        double value;
        uint32_t code;
    } cases[] = {{kNone, 7},     {3.0, 2}, {2.0, 3},        {131072.0, 5},       {5.0, 4},
                 {-1.0, 6},      {0.0, 7}, {4.0, 4},        {14.0, 6},           {1048577.0, 1},
                 {2097153.0, 0}, {1.0, 1}, {65537.0, 1}};
    for (const auto& c : cases) {
        auto cam = NewRecord();
        ASSERT_EQ(Put(mp_dig_timer1_trig_src, cam.get(), 30010, c.value), 0) << c.value;
        const uint32_t control = Get(cam.get(), DIG_T1CTL);
        EXPECT_EQ((control >> 4) & 7, c.code) << c.value;
        EXPECT_EQ(control & 0x100, c.code == 6 ? 0u : 0x100u) << c.value;
        EXPECT_EQ(Ask(mp_dig_timer1_trig_src, cam.get(), 30010), static_cast<double>(static_cast<int32_t>(c.value)))
            << c.value;
    }
    // A low half of 1 with another selector follows the input: analog 1, digital 0.
    auto digital = NewRecord();
    Set(digital.get(), INFO_INPUT, 4);
    ASSERT_EQ(Put(mp_dig_timer2_trig_src, digital.get(), 30010, 1.0), 0);
    EXPECT_EQ((Get(digital.get(), DIG_T2CTL) >> 4) & 7, 0u);
    // The default takes the camera file's source and code.
    auto file = NewRecord();
    Set(file.get(), INFO_T1TRGSRC, 3);
    Set(file.get(), DIG_T1CTL, 0x20);
    CamSlotAt(file.get(), DIG_T1CTL)->value = 0x1F7;
    CamSlotAt(file.get(), INFO_T1TRGSRC)->value = 9;
    ASSERT_EQ(Put(mp_dig_timer1_trig_src, file.get(), 30010, kDefault), 0);
    EXPECT_EQ(Get(file.get(), INFO_T1TRGSRC), 3u);
    EXPECT_EQ(Get(file.get(), DIG_T1CTL), 0x1A7u) << "code 2 from the file, triggered, the rest kept";
}

TEST(TimerPolarity, ThreeIsLowTwoIsHigh)
{
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_timer1_pol, cam.get(), 30011, 2.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_T1CTL), 0x4000u);
    EXPECT_EQ(Ask(mp_dig_timer1_pol, cam.get(), 30011), 2.0);
    ASSERT_EQ(Put(mp_dig_timer1_pol, cam.get(), 30011, 3.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_T1CTL), 0u);
    EXPECT_EQ(Ask(mp_dig_timer1_pol, cam.get(), 30011), 3.0);
    EXPECT_EQ(Put(mp_dig_timer1_pol, cam.get(), 30011, 1.0), -1) << "no meaning of its own";
    EXPECT_EQ(Put(mp_dig_timer2_pol, nullptr, 30011, kDefault), -1) << "no camera file live";
}

// ---- register fields, live ------------------------------------------------------------------------------

class TimerLive : public chipsfixture::GrabModuleTest {};

TEST_F(TimerLive, FieldsReachTheRegistersAndTheOutputIsReadFromTheHardware)
{
    ASSERT_EQ(Put(mp_dig_timer2_clk_src, nullptr, 33, 6.0), 0);
    ASSERT_EQ(Put(mp_dig_timer2_mode, nullptr, 27, 1.0), 0);
    ASSERT_EQ(Put(mp_dig_timer2_combine, nullptr, 21, 3.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_T2CTL), 0x3106);
    ASSERT_EQ(Put(mp_dig_timer1_clear_src, nullptr, 36, 5.0), 0);
    ASSERT_EQ(Put(mp_dig_timer2_clear_pol, nullptr, 35, 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_TMRCLR), 0x85);
    ASSERT_EQ(Put(mp_dig_timer2_armen, nullptr, 39, 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_MISCTL) & 0x20, 0x20);
    ASSERT_EQ(Put(mp_dig_timer1_pol, nullptr, 30011, 2.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_T1CTL) & 0x4000, 0x4000);

    Grab().setTimerOutput(2, true);
    EXPECT_EQ(Ask(mp_dig_exp2_output, nullptr, 19), 1.0);
    EXPECT_EQ(Ask(mp_dig_exp1_output, nullptr, 18), 0.0);
    Grab().clearLog();
    ASSERT_EQ(Put(mp_dig_exp2_output, nullptr, 19, 1.0), 0);
    EXPECT_EQ(AllWrites(), 0u) << "the output cannot be set";
    auto cam = NewRecord();
    double v = 0;
    EXPECT_EQ(mp_dig_exp1_output(cam.get(), 18, &v, 1), -1) << "a record holds no output state";
}

} // namespace
