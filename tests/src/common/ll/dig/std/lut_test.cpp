// Input LUTs: the mode decision, the table geometry, the ICS1522 defaults and the LUT
// controls, against the record, the live shadow and the simulated module.
#include "../lutfixture.h"

using namespace cam0;
using chipsfixture::Get;
using chipsfixture::Set;
using lutfixture::EightBitCamera;
using lutfixture::LutTest;

namespace {

_MP_BUF_ST Destination(uint32_t bits, uint32_t bands, uint32_t location)
{
    _MP_BUF_ST d{};
    d.bits = bits;
    d.bands = bands;
    d.location = location;
    return d;
}

uint32_t LutMode(const _MP_CAM_ST_0* c) { return (Get(c, DIG_LUTPAL) >> 13) & 3; }

} // namespace

// ---- ICS1522 defaults --------------------------------------------------------------------

TEST_F(LutTest, IcsDefaultsGoToTheChipAndTheShadowInRegisterOrder)
{
    mp_dig_init_ics1522();
    const std::vector<std::pair<int, uint16_t>> expected = {{0, 79},    {1, 3},    {2, 6}, {3, 19},
                                                             {4, 1436}, {5, 1473}, {6, 71}};
    EXPECT_EQ(Grab().ics1522Loads(), expected);
    const uint32_t values[7] = {79, 3, 6, 19, 1436, 1473, 71};
    for (uint32_t r = 0; r < 7; ++r) {
        EXPECT_EQ(Live(ICS1522REG(r))->value, values[r]) << r;
        EXPECT_EQ(Live(ICS1522REG(r))->file & 0xC0000000u, 0u) << "flags cleared";
    }
}

// ---- mode decision ------------------------------------------------------------------------

TEST_F(LutTest, AnalogRedIntoPlainThreeBandsTakesWideBlueMode)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_LUTPAL, 0x2000 | 0xE0);  // mode 1, tri-state 7
    Set(cam.get(), DIG_GRABCTL, 0x0008);
    _MP_BUF_ST dest = Destination(8, 3, 1);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), &dest), 0);
    EXPECT_EQ(LutMode(cam.get()), 0u);
    EXPECT_EQ(Get(cam.get(), DIG_GPCTL) & 0x20, 0x20u) << "blue";
    EXPECT_EQ(Get(cam.get(), DIG_GRABCTL) & 0xB, 0x3u) << "bit 3 cleared, bits 0-1 set";
    EXPECT_EQ((Get(cam.get(), DIG_LUTPAL) >> 5) & 7, 5u) << "tri-state default of an 8-bit channel";
}

TEST_F(LutTest, WithoutDestinationAnEightBitAnalogCameraStaysInModeOne)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_GRABCTL, 0x0002);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(LutMode(cam.get()), 1u);
    EXPECT_EQ(Get(cam.get(), DIG_GPCTL) & 0x20, 0u);
    EXPECT_EQ(Get(cam.get(), DIG_GRABCTL) & 0xA, 0x8u) << "analog: bit 1 cleared, bit 3 set";
}

TEST_F(LutTest, DigitalCamerasAboveEightBitsTakeModeZeroAndFourteenBitsModeOne)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_INPUT, 1);
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(LutMode(cam.get()), 0u);
    EXPECT_EQ((Get(cam.get(), DIG_LUTPAL) >> 5) & 7, 3u) << "tri-state default of a 10-bit channel";

    Set(cam.get(), INFO_BITSPERLOGCH, 14);
    Set(cam.get(), DIG_LUTPAL, 0xE0);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(LutMode(cam.get()), 1u);
    EXPECT_EQ(Get(cam.get(), DIG_LUTPAL) & 0xE0, 0u) << "digital other modes clear the tri-state code";
}

TEST_F(LutTest, DimInputFollowsItsFileWordUnlessEightBitModeZero)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_INPUT, 5);
    CamSlotAt(cam.get(), DIMREG0)->file = 0x20;
    CamSlotAt(cam.get(), DIMREG0)->value = 0xA0;
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(Get(cam.get(), DIMREG0) & 0xA0, 0x20u) << "mode 1: bits 5 and 7 from the file word";

    _MP_BUF_ST dest = Destination(16, 1, 1);  // eight to sixteen bits: mode 0
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), &dest), 0);
    EXPECT_EQ(LutMode(cam.get()), 0u);
    EXPECT_EQ(Get(cam.get(), DIMREG0) & 0xA0, 0xA0u);
}

TEST_F(LutTest, FirstDecisionMarksTheRecordAndLaterOnesCompareTheLiveWidth)
{
    auto cam = EightBitCamera();
    mpPrvDigPut(nullptr, INFO_BITSPERLOGCH, 0xFFFFFFFFu, 10, false);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(Get(cam.get(), INFO_LUTPROG), 0u) << "the first decision only marks the record";
    EXPECT_EQ(*reinterpret_cast<uint32_t*>(cam->bytes + kLutModeSeen), 1u);
    ASSERT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), 0);
    EXPECT_EQ(Get(cam.get(), INFO_LUTPROG), 1u) << "live width 10, record 8";
}

TEST_F(LutTest, CameraLutBufferMustExistAndMatchTheDestinationDepth)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_LUTBUFID, 0x00110077);  // names no buffer
    EXPECT_EQ(mp_dig_get_lut_mode(cam.get(), nullptr), -1);

    _MP_BUF_ST* lut = LutBuffer(256, 1, 16);
    ASSERT_NE(lut, nullptr);
    Set(cam.get(), INFO_LUTBUFID, lut->id);
    _MP_BUF_ST dest8 = Destination(8, 1, 1);
    EXPECT_EQ(mp_dig_get_lut_mode(cam.get(), &dest8), -1) << "16-bit table, 8-bit destination";
    _MP_BUF_ST dest16 = Destination(16, 3, 1);
    EXPECT_EQ(mp_dig_get_lut_mode(cam.get(), &dest16), -1) << "red into three bands needs an 8-bit table";
    Set(cam.get(), INFO_CHANNEL, 0x20000);
    EXPECT_EQ(mp_dig_get_lut_mode(cam.get(), &dest16), 0);
}

// ---- geometry -----------------------------------------------------------------------------

TEST_F(LutTest, ModeOneOnEightBitsIsOneEightBitPageAtTwentyNine)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_LUTPAL, 1u << 13);
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000 | 0x80000), 0);
    EXPECT_EQ(info.kind, kLutEight);
    EXPECT_EQ(info.count, 256u);
    EXPECT_EQ(info.lutSelect, 3u);
    EXPECT_EQ(info.lut1Page, 29u);
    EXPECT_EQ(info.lut2Page, 29u);
    EXPECT_EQ(info.lut1Mask, 1u) << "red: LUT1 band 0";
    EXPECT_EQ(info.lut2Mask, 2u) << "alpha: LUT2 band 1";

    Set(cam.get(), DIG_LUTPAL, 3u << 13);
    info = _MP_LUT_INFO{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x20000), 0);
    EXPECT_EQ(info.lut1Page, 31u);
    EXPECT_EQ(info.lut1Mask, 2u);
    EXPECT_EQ(info.lutSelect, 1u);
}

TEST_F(LutTest, ModeZeroSizesTheTableByWidthAndStartsAtThePalettes)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    Set(cam.get(), DIG_LUTPAL, (7u << 8) | 4u);
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0xF0000), 0);
    EXPECT_EQ(info.kind, kLutWide);
    EXPECT_EQ(info.count, 1024u);
    EXPECT_EQ(info.lut1Page, 4u);
    EXPECT_EQ(info.lut2Page, 7u);
    EXPECT_EQ(info.lut1Mask, 7u);
    EXPECT_EQ(info.lut2Mask, 7u);

    // A blue table has no second LUT; widths below 8 count as 8.
    Set(cam.get(), DIG_GPCTL, 0x25);
    Set(cam.get(), INFO_BITSPERLOGCH, 6);
    info = _MP_LUT_INFO{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0xF0000), 0);
    EXPECT_EQ(info.kind, kLutBlue);
    EXPECT_EQ(info.count, 256u);
    EXPECT_EQ(info.lutSelect, 1u);
}

TEST_F(LutTest, DimInputWithWideLogicalChannelsStartsAtTheLastTable)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_INPUT, 5);
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    Set(cam.get(), DIMREG0, 0x20);
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), 0);
    EXPECT_EQ(info.count, 1024u);
    EXPECT_EQ(info.lut1Page, 28u) << "(8192 / 1024 - 1) x 1024 / 256";
}

TEST_F(LutTest, TablesWithoutADefinedSizeAreRefused)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_LUTPAL, 2u << 13);
    Set(cam.get(), DIG_GPCTL, 0x25);  // blue bit with mode 2
    _MP_LUT_INFO info{};
    EXPECT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), -1);

    Set(cam.get(), DIG_LUTPAL, 0);
    Set(cam.get(), DIG_GPCTL, 0x05);
    Set(cam.get(), INFO_BITSPERLOGCH, 14);  // 16384 entries would not fit 8192
    info = _MP_LUT_INFO{};
    EXPECT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), -1);
}

TEST_F(LutTest, SorvikTwoGeometryScalesItsPageByWidth)
{
    auto cam = EightBitCamera();
    Set(cam.get(), SORVIK2_FLAG, 2);
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    Set(cam.get(), grabregs::Slot(58), 3);
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0xC0000), 0);
    EXPECT_EQ(info.kind, kLutWide);
    EXPECT_EQ(info.count, 1024u);
    EXPECT_EQ(info.s2Page, 12u);
    EXPECT_EQ(info.s2Mask, 12u);

    Set(cam.get(), INFO_BITSPERLOGCH, 8);
    info = _MP_LUT_INFO{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x50000), 0);
    EXPECT_EQ(info.kind, kLutEight);
    EXPECT_EQ(info.s2Page, 3u);
    EXPECT_EQ(info.s2Mask, 5u);

    Set(cam.get(), INFO_BITSPERLOGCH, 12);
    info = _MP_LUT_INFO{};
    EXPECT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), -1) << "page 48 lies past the LUT";
}

// ---- controls --------------------------------------------------------------------------------

TEST_F(LutTest, TriStateDefaultFollowsTheChannelWidth)
{
    auto cam = EightBitCamera();
    const std::pair<uint32_t, uint32_t> cases[] = {{6, 0}, {8, 5}, {9, 4}, {10, 3}, {11, 2}, {12, 1}, {13, 0}, {16, 0}};
    for (const auto& [width, code] : cases) {
        Set(cam.get(), INFO_BITSPERLOGCH, width);
        double v = kDigDefault;
        ASSERT_EQ(mp_dig_lut_tri_state(cam.get(), 13, &v, 0), 0);
        double out = -1;
        ASSERT_EQ(mp_dig_lut_tri_state(cam.get(), 13, &out, 1), 0);
        EXPECT_EQ(out, code) << "width " << width;
    }
    double v = 8;
    EXPECT_EQ(mp_dig_lut_tri_state(cam.get(), 13, &v, 0), -1) << "three bits";
    EXPECT_EQ(mp_dig_lut_tri_state(nullptr, 13, &v, 1), -1) << "record required";
}

TEST_F(LutTest, BlueModeIsRefusedOffTheRedChannel)
{
    auto cam = EightBitCamera();
    double one = 1;
    Set(cam.get(), INFO_CHANNEL, 0x20000);
    EXPECT_EQ(mp_dig_lut_blue_mode(cam.get(), 10, &one, 0), -1);
    EXPECT_EQ(Get(cam.get(), DIG_GPCTL) & 0x20, 0u);

    Set(cam.get(), INFO_CHANNEL, 0x10000);
    Set(cam.get(), INFO_SAMPLEMODE, 1);
    EXPECT_EQ(mp_dig_lut_blue_mode(cam.get(), 10, &one, 0), -1) << "analog needs sample mode 0";
    Set(cam.get(), INFO_SAMPLEMODE, 0);
    EXPECT_EQ(mp_dig_lut_blue_mode(cam.get(), 10, &one, 0), 0);
    double out = 0;
    ASSERT_EQ(mp_dig_lut_blue_mode(cam.get(), 10, &out, 1), 0);
    EXPECT_EQ(out, 1.0);
    double zero = 0;
    EXPECT_EQ(mp_dig_lut_blue_mode(cam.get(), 10, &zero, 0), 0) << "clearing is always allowed";
    EXPECT_EQ(Get(cam.get(), DIG_GPCTL) & 0x20, 0u);
    EXPECT_EQ(mp_dig_lut_blue_mode(nullptr, 10, &one, 0), -1);
}

TEST_F(LutTest, LutModeZeroIsRefusedWhereNoWideTableFits)
{
    auto cam = EightBitCamera();
    double zero = 0;
    Set(cam.get(), INFO_CHANNEL, 0x40000);
    EXPECT_EQ(mp_dig_lut_mode(cam.get(), 9, &zero, 0), -1) << "analog blue channel";
    Set(cam.get(), INFO_CHANNEL, 0x10000);
    Set(cam.get(), INFO_XTAPSPERCH, 2);
    EXPECT_EQ(mp_dig_lut_mode(cam.get(), 9, &zero, 0), -1) << "two taps";
    Set(cam.get(), INFO_XTAPSPERCH, 1);
    Set(cam.get(), INFO_INPUT, 1);
    Set(cam.get(), INFO_CHANNEL, 0x20000);
    EXPECT_EQ(mp_dig_lut_mode(cam.get(), 9, &zero, 0), -1) << "digital 8-bit green";
    Set(cam.get(), INFO_CHANNEL, 0x10000);
    Set(cam.get(), DIG_LUTPAL, 2u << 13);
    Set(cam.get(), DIG_GRABCTL, 0x0008);
    ASSERT_EQ(mp_dig_lut_mode(cam.get(), 9, &zero, 0), 0);
    EXPECT_EQ(LutMode(cam.get()), 0u);
    EXPECT_EQ(Get(cam.get(), DIG_GRABCTL) & 0xB, 0x3u);

    double four = 4;
    EXPECT_EQ(mp_dig_lut_mode(cam.get(), 9, &four, 0), -1) << "two bits";
    double def = kDigDefault;  // file word: mode 2
    ASSERT_EQ(mp_dig_lut_mode(cam.get(), 9, &def, 0), 0);
    double out = -1;
    ASSERT_EQ(mp_dig_lut_mode(cam.get(), 9, &out, 1), 0);
    EXPECT_EQ(out, 2.0);
}

TEST_F(LutTest, PalettesStayWithinThirtyTwoPagesAndWriteTheLiveRegister)
{
    auto cam = EightBitCamera();
    double page = 17;
    ASSERT_EQ(mp_dig_lut2_palette(cam.get(), 12, &page, 0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_LUTPAL), 17u << 8);
    double beyond = 32;
    EXPECT_EQ(mp_dig_lut1_palette(cam.get(), 11, &beyond, 0), -1);
    double negative = -1;
    EXPECT_EQ(mp_dig_lut1_palette(cam.get(), 11, &negative, 0), -1);

    double live = 9;
    ASSERT_EQ(mp_dig_lut1_palette(nullptr, 11, &live, 0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_LUTPAL) & 0x1F, 9u);
    double out = 0;
    ASSERT_EQ(mp_dig_lut1_palette(nullptr, 11, &out, 1), 0);
    EXPECT_EQ(out, 9.0);
    double def = kDigDefault;
    EXPECT_EQ(mp_dig_lut1_palette(nullptr, 11, &def, 0), -1) << "no camera-file word live";
}

TEST_F(LutTest, LutBufferControlMarksTheRecordForProgramming)
{
    auto cam = EightBitCamera();
    double id = 0x00110005;
    ASSERT_EQ(mp_dig_lut_buf(cam.get(), 30005, &id, 0), 0);
    EXPECT_EQ(Get(cam.get(), INFO_LUTBUFID), 0x00110005u);
    EXPECT_EQ(Get(cam.get(), INFO_LUTPROG), 1u);
    double out = 0;
    ASSERT_EQ(mp_dig_lut_buf(cam.get(), 30005, &out, 1), 0);
    EXPECT_EQ(out, static_cast<double>(0x00110005));
    EXPECT_EQ(mp_dig_lut_buf(nullptr, 30005, &id, 0), 0) << "no record: nothing done";
    EXPECT_EQ(Live(INFO_LUTBUFID)->value, 0u);
}
