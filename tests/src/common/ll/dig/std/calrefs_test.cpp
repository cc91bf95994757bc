#include "calrefs.h"
#include "../chipsfixture.h"
#include "frontdev.h"

#include <cmath>
#include <cstring>

using namespace chipsfixture;

namespace {

// A synthetic calibration with simple coefficients, so the DAC values can be worked out by
// hand: g = exp(ln x - gLog) = x / 6.4, a = 1, b = 1, and
//   level = (vOffset - black) x - 1 + NREF.
// With levels 0 mV to 1000 mV, no pedestal and black reference 0 %: black = 0 V.
//   white reference 100 %: x = 256 -> g = 40, REF = floor(35 + 40.5) = 75,
//     level = 0.3 x 256 - 1 + 35 = 110.8 -> coarse 110, fine floor(16 x 0.8 + 0.5) = 13.
//   white reference 50 %: x = 512 -> g = 80, REF = 115,
//     level = 153.6 - 1 + 35 = 187.6 -> coarse 187, fine floor(16 x 0.6 + 0.5) = 10.
// NREF = trunc(0.35 x 102.4) = 35.
STRUCT_DATA Table()
{
    STRUCT_DATA t{};
    t.fineSteps = 16;
    t.coarseMin = 0;
    t.coarseMax = 255;
    t.nrefMin = 0;
    t.nrefMax = 255;
    t.refMinusNrefMin = 0;
    t.refMinusNrefMax = 255;
    for (auto& c : t.channel) c = {0.3f, 1.0f, static_cast<float>(std::log(6.4)), 0.0f, 0.0f, 0.0f, 0.0f};
    return t;
}

constexpr uint32_t kSampleCode12 = 12 << 8;  // DIG_GRABCTL sample-mode code 12: table 0
constexpr uint32_t kCalibrated = 0x002;
constexpr uint32_t kAnyGain = 0x800;

uint8_t* Cal(_MP_CAM_ST_0* cam) { return cam->bytes + cam0::CAL_DATA; }
const uint8_t* DacBytes(const _MP_CAM_ST_0* cam) { return cam->bytes + cam0::REF_DAC_BYTES; }

// A record in the calibrated mode at 10 MHz (band 0), gain setting 0 (code 21) on a module
// calibrated at code 21, with the table above in band 0, table 0.
std::unique_ptr<_MP_CAM_ST_0> CalibratedRecord(const STRUCT_DATA& table = Table())
{
    auto cam = NewRecord();
    Set(cam.get(), cam0::INFO_MISC, kCalibrated);
    Set(cam.get(), cam0::INFO_PIXCLK, 10000000);
    Set(cam.get(), cam0::DIG_GRABCTL, kSampleCode12);
    Set(cam.get(), cam0::DIG_ANACTL, 0);
    Set(cam.get(), cam0::SYN_AMPL, 286);
    Set(cam.get(), cam0::BLACK_LEVEL, 0);
    Set(cam.get(), cam0::WHITE_LEVEL, 1000);
    Set(cam.get(), cam0::BLACK_REF, 0);
    for (uint32_t w : {cam0::WHITE_REF_RED, cam0::WHITE_REF_GREEN, cam0::WHITE_REF_BLUE, cam0::WHITE_REF_ALPHA})
        Set(cam.get(), w, 100);
    Cal(cam.get())[0] = 1;
    Cal(cam.get())[kCalGainCode] = 21;
    std::memcpy(Cal(cam.get()) + CalTableOffset(0, 0), &table, sizeof table);
    return cam;
}

std::vector<int> Bytes(const _MP_CAM_ST_0* cam)
{
    return std::vector<int>(DacBytes(cam), DacBytes(cam) + cam0::kRefDacCount);
}

// ---- the computation ------------------------------------------------------------------

TEST(CalcVals, HandComputedValuesPerChannel)
{
    auto cam = CalibratedRecord();
    Set(cam.get(), cam0::WHITE_REF_GREEN, 50);
    EXPECT_EQ(mpPrvCalcVals(cam.get()), 0);
    // NREF; red, green, blue, alpha: REF, coarse, fine.
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{35, 75, 110, 13, 115, 187, 10, 75, 110, 13, 75, 110, 13}));
}

TEST(CalcVals, LevelAboveTheCoarseMaximumLowersNref)
{
    // 110.8 - 35 + NREF stays above 100 down to NREF 25: four steps of 0.025 V.
    STRUCT_DATA t = Table();
    t.coarseMax = 100;
    auto cam = CalibratedRecord(t);
    EXPECT_EQ(mpPrvCalcVals(cam.get()), 0);
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{25, 65, 100, 13, 65, 100, 13, 65, 100, 13, 65, 100, 13}));
}

TEST(CalcVals, ValuesOutsideTheirCalibratedBoundsWarnButAreStored)
{
    STRUCT_DATA t = Table();
    t.nrefMax = 30;
    t.refMinusNrefMax = 39;
    auto cam = CalibratedRecord(t);
    EXPECT_EQ(mpPrvCalcVals(cam.get()), -4);
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{35, 75, 110, 13, 75, 110, 13, 75, 110, 13, 75, 110, 13}));
}

TEST(CalcVals, Refusals)
{
    {
        auto cam = CalibratedRecord();
        Set(cam.get(), cam0::WHITE_LEVEL, 0);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "equal black and white levels";
    }
    {
        auto cam = CalibratedRecord();
        Set(cam.get(), cam0::WHITE_REF_BLUE, 0);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "white reference at the black reference";
    }
    {
        STRUCT_DATA t = Table();
        t.channel[2].gExp = 0.0f;
        auto cam = CalibratedRecord(t);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "a table without gain exponent";
    }
    {
        auto cam = CalibratedRecord();
        Set(cam.get(), cam0::DIG_GRABCTL, 5 << 8);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "sample-mode code 5 has no table";
    }
    {
        auto cam = CalibratedRecord();
        Set(cam.get(), cam0::INFO_PIXCLK, 40000000);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "band 3 of this image holds no usable table";
    }
    {
        // b = e^20 puts every level far below the coarse minimum: NREF rises until it no
        // longer fits its byte, where it would wrap to 0 and start again.
        STRUCT_DATA t = Table();
        for (auto& c : t.channel) c.bLog = 20.0f;
        auto cam = CalibratedRecord(t);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1);
    }
    {
        // A REF above 255: g = 256 / 0.25 / 6.4 = 160, 35 + 160.5 ... with white 25 %.
        auto cam = CalibratedRecord();
        Set(cam.get(), cam0::WHITE_REF_RED, 20);
        EXPECT_EQ(mpPrvCalcVals(cam.get()), -1) << "REF = floor(35 + 200 + 0.5) fits, level does not";
    }
}

TEST(CalcVals, GainOtherThanTheCalibratedOneNeedsMiscBit11)
{
    auto cam = CalibratedRecord();
    Set(cam.get(), cam0::DIG_ANACTL, 2 << 2);   // red at gain setting 2: code 33
    EXPECT_EQ(mpPrvCalcVals(cam.get()), -1);
    Set(cam.get(), cam0::INFO_MISC, kCalibrated | kAnyGain);
    EXPECT_EQ(mpPrvCalcVals(cam.get()), 0);
}

// ---- table selection --------------------------------------------------------------------

TEST(CalTable, PixelClockBandEdges)
{
    auto cam = CalibratedRecord();
    const uint8_t* base = Cal(cam.get());
    struct {
        uint32_t hz, band;
    } cases[] = {{15999999, 0}, {16000000, 1}, {23499999, 1}, {23500000, 2}, {30999999, 2}, {31000000, 3}};
    for (const auto& c : cases) {
        Set(cam.get(), cam0::INFO_PIXCLK, c.hz);
        const auto* t = reinterpret_cast<const uint8_t*>(mpPrvEEpromDataPtr(cam.get(), 0, nullptr));
        ASSERT_NE(t, nullptr) << c.hz;
        EXPECT_EQ(t - base, static_cast<ptrdiff_t>(CalTableOffset(c.band, 0))) << c.hz;
    }
}

TEST(CalTable, SampleModeCodesAndGains)
{
    auto cam = CalibratedRecord();
    Set(cam.get(), cam0::INFO_MISC, kCalibrated | kAnyGain);
    const uint8_t* base = Cal(cam.get());
    struct {
        uint32_t code;
        int table;
    } cases[] = {{12, 0}, {0, 1}, {1, 1}, {8, 1}, {9, 1}, {2, 2}, {3, 2}, {10, 2}, {11, 2}, {4, 3},
                 {5, -1}, {6, -1}, {7, -1}, {13, -1}, {15, -1}};
    for (const auto& c : cases) {
        Set(cam.get(), cam0::DIG_GRABCTL, c.code << 8);
        const auto* t = reinterpret_cast<const uint8_t*>(mpPrvEEpromDataPtr(cam.get(), 1, nullptr));
        if (c.table < 0)
            EXPECT_EQ(t, nullptr) << c.code;
        else
            EXPECT_EQ(t - base, static_cast<ptrdiff_t>(CalTableOffset(0, c.table))) << c.code;
    }
    // Channel 0 gain in bits 2-3, 1 in 4-5, 2 in 6-7, 3 in 0-1.
    Set(cam.get(), cam0::DIG_GRABCTL, kSampleCode12);
    Set(cam.get(), cam0::DIG_ANACTL, (1 << 2) | (2 << 4) | (3 << 6) | 0);
    const double gains[4] = {2.7, 3.3, 4.1, 2.1};
    for (uint32_t ch = 0; ch < 4; ++ch) {
        double g = 0;
        mpPrvEEpromDataPtr(cam.get(), ch, &g);
        EXPECT_DOUBLE_EQ(g, gains[ch]) << ch;
    }
    EXPECT_EQ(mpPrvEEpromDataPtr(cam.get(), 4, nullptr), nullptr);
}

// ---- calcRefs on the module -------------------------------------------------------------

class CalcRefsTest : public GrabModuleTest {
protected:
    // The record as the live shadow knows it after a load.
    static void Loaded(_MP_CAM_ST_0* cam)
    {
        Set(cam, cam0::LOADED_ONCE, 1);
        mp_dig_load_descr(cam);
    }
    static void SetDacSlots(_MP_CAM_ST_0* cam)
    {
        const uint32_t slots[13] = {cam0::DAC8800REF_NREF,   cam0::DAC8800REF_REDR,   cam0::DAC8800LVL_REDC,
                                    cam0::DAC8800LVL_REDF,   cam0::DAC8800REF_GREENR, cam0::DAC8800LVL_GREENC,
                                    cam0::DAC8800LVL_GREENF, cam0::DAC8800REF_BLUER,  cam0::DAC8800LVL_BLUEC,
                                    cam0::DAC8800LVL_BLUEF,  cam0::DAC8800REF_ALPHAR, cam0::DAC8800LVL_ALPHAC,
                                    cam0::DAC8800LVL_ALPHAF};
        for (uint32_t i = 0; i < 13; ++i) Set(cam, slots[i], 0x100 + 10 + i);   // low byte 10 + i
    }
};

TEST_F(CalcRefsTest, PlainModeTakesTheRecordsDacSlots)
{
    auto cam = CalibratedRecord();
    Set(cam.get(), cam0::INFO_MISC, 0);
    SetDacSlots(cam.get());
    Cal(cam.get())[0] = 0;   // no calibration needed
    Set(cam.get(), cam0::SORVIK2_FLAG, 2);
    EXPECT_EQ(calcRefs(cam.get()), 0);
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}));
    EXPECT_TRUE(Grab().eepromCommands().empty()) << "a Sorvik II record reads no calibration";
}

TEST_F(CalcRefsTest, FirstLoadReadsTheCalibrationFromTheEeprom)
{
    // The image of the calibration as the EEPROM holds it.
    auto image = CalibratedRecord();
    Set(image.get(), cam0::WHITE_REF_GREEN, 50);
    std::vector<uint16_t> words(cam0::kCalWords);
    std::memcpy(words.data(), Cal(image.get()), 2 * cam0::kCalWords);
    Grab().preloadEeprom(words);
    std::vector<uint8_t> block(sizeof(_NODE_ST), 0);
    _NODE_ST* saved = imNodeSt;
    imNodeSt = reinterpret_cast<_NODE_ST*>(block.data());
    imNodeSt->cpuFrequency = 4444445;   // one loop per bit delay: 971 reads stay quick
    auto cam = CalibratedRecord();
    std::memset(Cal(cam.get()), 0, 2 * cam0::kCalWords);
    Set(cam.get(), cam0::WHITE_REF_GREEN, 50);
    const int result = calcRefs(cam.get());
    imNodeSt = saved;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::memcmp(Cal(cam.get()), Cal(image.get()), 2 * cam0::kCalWords), 0);
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{35, 75, 110, 13, 115, 187, 10, 75, 110, 13, 75, 110, 13}));
    EXPECT_EQ(Grab().eepromCommands().size(), 1u + cam0::kCalWords);
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRCCFG), 0) << "DIG_SRCCFG put back after the status read";
}

TEST_F(CalcRefsTest, WithoutAnEepromNoWordIsReadAndTheCalibratedModeFails)
{
    Grab().setEepromFitted(false);
    Grab().setEeprom(0, 1);
    auto cam = CalibratedRecord();
    std::memset(Cal(cam.get()), 0, 2 * cam0::kCalWords);
    EXPECT_EQ(calcRefs(cam.get()), -1);
    // One chip-select pulse on the EEPROM lines: only the format word was asked for.
    EXPECT_EQ(BitsAtRisingEdges(Values(grabregs::kEepromPort), grabregs::kEepromSelect, grabregs::kEepromSelect).size(), 1u);
    EXPECT_EQ(Cal(cam.get())[0], 0xFF);
    EXPECT_EQ(Cal(cam.get())[1], 0);
}

TEST_F(CalcRefsTest, LoadedRecordIsRecomputedOnlyWhenALevelChanged)
{
    auto cam = CalibratedRecord();
    SetDacSlots(cam.get());
    Loaded(cam.get());
    EXPECT_EQ(calcRefs(cam.get()), 0);
    EXPECT_EQ(Bytes(cam.get()), std::vector<int>(13, 0)) << "nothing changed: nothing computed";
    Set(cam.get(), cam0::WHITE_REF_GREEN, 50);
    EXPECT_EQ(calcRefs(cam.get()), 0);
    EXPECT_EQ(Bytes(cam.get()), (std::vector<int>{35, 75, 110, 13, 115, 187, 10, 75, 110, 13, 75, 110, 13}))
        << "one white reference changed: all four channels computed";
    EXPECT_TRUE(Grab().eepromCommands().empty()) << "a loaded record reads no calibration again";
}

TEST_F(CalcRefsTest, CalibratedModeWithoutCalibrationFails)
{
    auto cam = CalibratedRecord();
    Loaded(cam.get());
    Set(cam.get(), cam0::BLACK_LEVEL, 10);
    Cal(cam.get())[0] = 0xFF;
    EXPECT_EQ(calcRefs(cam.get()), -1);
    Set(cam.get(), cam0::INFO_MISC, 0);
    SetDacSlots(cam.get());
    EXPECT_EQ(calcRefs(cam.get()), 0) << "switching the calibrated mode off counts as a change";
    EXPECT_EQ(Bytes(cam.get())[0], 10);
}

} // namespace
