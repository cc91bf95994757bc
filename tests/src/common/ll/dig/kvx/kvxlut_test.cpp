// Second-family input LUTs and camera controls: the values the controls store in a camera
// record, the refusals without one, and the LUT register traffic of a download's LUT step.
#include "ctrldispatch.h"
#include "kvxlut.h"
#include "hlc_errors.h"
#include "../lutfixture.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr double kDefault = 268435456.0;
constexpr double kEnable = -9997.0;

std::unique_ptr<_MP_CAM_ST_1> NewRecord()
{
    return std::make_unique<_MP_CAM_ST_1>();
}
void Set(_MP_CAM_ST_1* cam, uint32_t offset, uint32_t value)
{
    CamSlotAt(cam, offset)->value = value;
    CamSlotAt(cam, offset)->file = value;
}
uint32_t Get(const _MP_CAM_ST_1* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->value;
}
uint32_t Dec(const _MP_CAM_ST_1* cam, uint32_t reg)
{
    return Get(cam, KvxDecSlot(reg)) & 0xFF;
}
const uint8_t* DacBytes(const _MP_CAM_ST_1* cam)
{
    return cam->bytes + cam1::DAC_BYTES;
}
// A one-tap camera record.
std::unique_ptr<_MP_CAM_ST_1> OneTapRecord(uint32_t bitsPerChannel = 8, uint32_t input = 0)
{
    auto cam = NewRecord();
    Set(cam.get(), KvxInfo(cam0::INFO_XTAPSPERCH), 1);
    Set(cam.get(), KvxInfo(cam0::INFO_YTAPSPERCH), 1);
    Set(cam.get(), KvxInfo(cam0::INFO_XTAPSPERCHADJ), 1);
    Set(cam.get(), KvxInfo(cam0::INFO_YTAPSPERCHADJ), 1);
    Set(cam.get(), KvxInfo(cam0::INFO_BITSPERLOGCH), bitsPerChannel);
    Set(cam.get(), KvxInfo(cam0::INFO_INPUT), input);
    return cam;
}

int Ctrl(_MP_CAM_ST_1* cam, int32_t type, double value)
{
    return mp_kvx_ctrl_inq(cam, type, &value, 0);
}
double Ask(_MP_CAM_ST_1* cam, int32_t type, int* result = nullptr)
{
    double v = -12345.0;
    const int r = mp_kvx_ctrl_inq(cam, type, &v, 1);
    if (result) *result = r;
    return v;
}

// ---- decoder picture controls --------------------------------------------------------------

TEST(KvxControls, BrightnessStoresThePercentWithTheOffsetOf128)
{
    auto cam = NewRecord();
    ASSERT_EQ(Ctrl(cam.get(), 30027, 50.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 0u);
    EXPECT_EQ(Ask(cam.get(), 30027), 0.0) << "the inquiry reads the raw byte";
    ASSERT_EQ(Ctrl(cam.get(), 30027, 25.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 192u);
    ASSERT_EQ(Ctrl(cam.get(), 30027, 75.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 64u);
    EXPECT_EQ(Ask(cam.get(), 30027), 25.0);
    ASSERT_EQ(Ctrl(cam.get(), 30027, -50.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 0u) << "(-128 + 128) mod 256";
    ASSERT_EQ(Ctrl(cam.get(), 30028, -25.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::CON), 64u);
}

TEST(KvxControls, HundredPercentStaysInsideTheEightBitRegister)
{
    auto cam = NewRecord();
    ASSERT_EQ(Ctrl(cam.get(), 30027, 100.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 127u) << "n held at 255, not wrapped to the darkest value";
    ASSERT_EQ(Ctrl(cam.get(), 30003, 100.0), 0);
    EXPECT_EQ(DacBytes(cam.get())[0], 255);
    EXPECT_EQ(DacBytes(cam.get())[2], 255);
    ASSERT_EQ(Ctrl(cam.get(), 30004, -5.0), 0);
    EXPECT_EQ(DacBytes(cam.get())[1], 0) << "a negative percent is held at 0";
}

TEST(KvxControls, PictureControlsReachTheirOwnDecoderRegistersAndDefaultsRestoreTheFile)
{
    auto cam = NewRecord();
    Set(cam.get(), KvxDecSlot(kvxdec::CON), 0x44);
    ASSERT_EQ(Ctrl(cam.get(), 30028, 50.0), 0);
    ASSERT_EQ(Ctrl(cam.get(), 30029, 25.0), 0);
    ASSERT_EQ(Ctrl(cam.get(), 30030, 75.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::CON), 0u);
    EXPECT_EQ(Dec(cam.get(), kvxdec::HUE), 192u);
    EXPECT_EQ(Dec(cam.get(), kvxdec::SAT), 64u);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 0u) << "brightness untouched";
    ASSERT_EQ(Ctrl(cam.get(), 30028, kDefault), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::CON), 0x44u);
}

// ---- gains ---------------------------------------------------------------------------------

TEST(KvxControls, AmplifierGainCodesByQuarter)
{
    auto cam = NewRecord();
    Set(cam.get(), cam1::FAF_OPAMPCTL, 0xA2);
    ASSERT_EQ(Ctrl(cam.get(), 30002, 25.0), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_OPAMPCTL), 0xA0u) << "25 % is code 0; the other bits stay";
    ASSERT_EQ(Ctrl(cam.get(), 30002, 25.1), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_OPAMPCTL) & 3, 1u);
    ASSERT_EQ(Ctrl(cam.get(), 30002, 75.0), 0);
    EXPECT_EQ(Ask(cam.get(), 30002), 75.0);
    ASSERT_EQ(Ctrl(cam.get(), 30002, 99.0), 0);
    EXPECT_EQ(Ask(cam.get(), 30002), 100.0);
    ASSERT_EQ(Ctrl(cam.get(), 30002, kDefault), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_OPAMPCTL), 0xA2u);
}

TEST(KvxControls, GainControlGoesToTheDecoderAgcWhenTheRecordSelectsIt)
{
    auto cam = NewRecord();
    Set(cam.get(), cam1::FAF_IOENCTL1, 1);
    ASSERT_EQ(Ctrl(cam.get(), 30002, 50.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::AGC), 128u) << "no offset on the AGC";
    EXPECT_EQ(Get(cam.get(), cam1::FAF_OPAMPCTL), 0u);
    EXPECT_EQ(Ask(cam.get(), 30002), 50.0);
}

TEST(KvxControls, DecoderGainSwitchIsBitFourOfCommandB)
{
    auto cam = NewRecord();
    Set(cam.get(), KvxDecSlot(kvxdec::CMDB), 0x21);
    ASSERT_EQ(Ctrl(cam.get(), 30036, 3.0), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::CMDB), 0x31u);
    EXPECT_EQ(Ask(cam.get(), 30036), 1.0);
    ASSERT_EQ(Ctrl(cam.get(), 30036, kEnable), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::CMDB), 0x21u);
    ASSERT_EQ(Ctrl(cam.get(), 30036, 3.0), 0);
    ASSERT_EQ(Ctrl(cam.get(), 30036, kDefault), 0);
    EXPECT_EQ(Ask(cam.get(), 30036), 0.0);
}

// ---- references ----------------------------------------------------------------------------

TEST(KvxControls, ReferencesSetBothChannelsDacBytesAndDefaultsTakeTheFileSlots)
{
    auto cam = NewRecord();
    Set(cam.get(), cam1::DAC_CH0POSREF, 0x90);
    Set(cam.get(), cam1::DAC_CH1POSREF, 0x91);
    ASSERT_EQ(Ctrl(cam.get(), 30003, 50.0), 0);
    EXPECT_EQ(DacBytes(cam.get())[0], 128);
    EXPECT_EQ(DacBytes(cam.get())[2], 128);
    EXPECT_EQ(Ask(cam.get(), 30003), 50.0);
    ASSERT_EQ(Ctrl(cam.get(), 30004, 25.0), 0);
    EXPECT_EQ(DacBytes(cam.get())[1], 64);
    EXPECT_EQ(DacBytes(cam.get())[3], 64);
    ASSERT_EQ(Ctrl(cam.get(), 30003, kDefault), 0);
    EXPECT_EQ(DacBytes(cam.get())[0], 0x90);
    EXPECT_EQ(DacBytes(cam.get())[2], 0x91);
    EXPECT_EQ(Get(cam.get(), cam1::DAC_CH0POSREF), 0x90u) << "the slots themselves are left to the download";
}

// ---- description fields --------------------------------------------------------------------

TEST(KvxControls, GeometryAndChannelFieldsAndTheirInquiries)
{
    auto cam = OneTapRecord(24);
    Set(cam.get(), KvxInfo(cam0::INFO_XSIZE), 640);
    ASSERT_EQ(Ctrl(cam.get(), 30016, 320.0), 0);
    EXPECT_EQ(Ask(cam.get(), 30016), 320.0);
    ASSERT_EQ(Ctrl(cam.get(), 30016, kDefault), 0);
    EXPECT_EQ(Get(cam.get(), KvxInfo(cam0::INFO_XSIZE)), 640u);
    ASSERT_EQ(Ctrl(cam.get(), 30017, 240.0), 0);
    EXPECT_EQ(Get(cam.get(), KvxInfo(cam0::INFO_YSIZE)), 240u);
    ASSERT_EQ(Ctrl(cam.get(), 30000, 2.0), 0);
    EXPECT_EQ(Ask(cam.get(), 30000), 2.0);

    EXPECT_EQ(Ctrl(cam.get(), 30018, 8.0), 0) << "bits per pixel are not set";
    EXPECT_EQ(Ask(cam.get(), 30018), 24.0);
    EXPECT_EQ(Ctrl(cam.get(), 30020, 1.0), -1);
    EXPECT_EQ(Ask(cam.get(), 30020), 3.0);
    Set(cam.get(), KvxInfo(cam0::INFO_BITSPERLOGCH), 16);
    EXPECT_EQ(Ask(cam.get(), 30020), 1.0);

    EXPECT_EQ(Ctrl(cam.get(), 30021, 1.0), -1);
    EXPECT_EQ(Ask(cam.get(), 30021), 0.0);
    Set(cam.get(), KvxInfo(cam0::INFO_MODE), 1);
    EXPECT_EQ(Ask(cam.get(), 30021), 1.0);
    Set(cam.get(), KvxInfo(cam0::INFO_TYPE), 1);
    EXPECT_EQ(Ask(cam.get(), 30021), 4.0);
}

TEST(KvxControls, LutBufferControlArmsTheDownloadsLutStep)
{
    auto cam = NewRecord();
    ASSERT_EQ(Ctrl(cam.get(), 30005, 1114117.0), 0);
    EXPECT_EQ(Get(cam.get(), KvxInfo(cam0::INFO_LUTBUFID)), 1114117u);
    EXPECT_EQ(Get(cam.get(), KvxInfo(cam0::INFO_LUTPROG)), 1u);
    EXPECT_EQ(Ask(cam.get(), 30005), 1114117.0);
}

TEST(KvxControls, WithoutARecordEveryHandlerRefusesExceptTheLutBuffer)
{
    for (int32_t n : {30000, 30002, 30003, 30004, 30016, 30017, 30018, 30020, 30021, 30027, 30028, 30029, 30030, 30036}) {
        EXPECT_EQ(Ctrl(nullptr, n, 50.0), -1) << n;
        int r = 0;
        Ask(nullptr, n, &r);
        EXPECT_EQ(r, -1) << n;
    }
    EXPECT_EQ(Ctrl(nullptr, 30005, 5.0), 0);
}

TEST(KvxControls, UnservedModesAndNumbersDoNothing)
{
    auto cam = NewRecord();
    double v = 50.0;
    EXPECT_EQ(mp_kvx_ctrl_inq(cam.get(), 30027, &v, 2), 0);
    EXPECT_EQ(Dec(cam.get(), kvxdec::BRT), 0u);
    EXPECT_EQ(mp_kvx_ctrl_inq(cam.get(), 30020, &v, 2), -1);
    EXPECT_EQ(mp_kvx_ctrl_inq(cam.get(), 30021, &v, 3), -1);
    EXPECT_EQ(Ctrl(cam.get(), 29999, 1.0), -1);
    EXPECT_EQ(Ctrl(cam.get(), 30001, 1.0), 0);
    EXPECT_EQ(Ctrl(cam.get(), 30037, 1.0), 0);
    EXPECT_EQ(Ctrl(cam.get(), 40000, 1.0), 0);
}

TEST(KvxControls, UserFormatsAndOutputOnTheRecord)
{
    auto cam = NewRecord();
    double v = 1.0;
    ASSERT_EQ(mp_kvx_user_in_format(cam.get(), &v, 0), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_IOENCTL0), 0x200u);
    v = 0.0;
    ASSERT_EQ(mp_kvx_user_out_format(cam.get(), &v, 0), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_IOENCTL0), 0x240u);
    ASSERT_EQ(mp_kvx_user_in_format(cam.get(), &v, 1), 0);
    EXPECT_EQ(v, 1.0);
    v = 7.0;
    ASSERT_EQ(mp_kvx_user_out_format(cam.get(), &v, 0), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_IOENCTL0) & 0xC0, 0xC0u) << "any other value sets both output bits";
    v = -9999.0;
    ASSERT_EQ(mp_kvx_user_in_format(cam.get(), &v, 0), 0);
    ASSERT_EQ(mp_kvx_user_in_format(cam.get(), &v, 1), 0);
    EXPECT_EQ(v, -9999.0);
    v = 1.0;
    ASSERT_EQ(mp_kvx_user_out(cam.get(), &v, 0), 0);
    EXPECT_EQ(Get(cam.get(), cam1::FAF_USERO), 1u);
    EXPECT_EQ(mp_kvx_user_in(cam.get(), &v, 1), -1);
}

// ---- LUT sources ---------------------------------------------------------------------------

TEST(KvxLutAddress, SixteenBitBufferOnInputFourSpreadsTheBytesOverTwoLuts)
{
    auto cam = OneTapRecord(16, 4);
    _MP_BUF_ST lut{};
    lut.bands = 1;
    lut.bits = 16;
    lut.sizeX = 300;
    // Without bands the sources stay null; the pitch and mask still follow the rules.
    KVX_LUT_INFO info{};
    info.pitch = 1;
    mp_kvx_address(cam.get(), &lut, &info);
    EXPECT_EQ(info.count, 256u) << "at most 256 entries";
    EXPECT_EQ(info.pitch, 2u) << "the second byte of each entry feeds LUT 1";
    EXPECT_EQ(info.mask, 0u);
}

TEST(KvxLutAddress, TwoTapEightBitCameraWritesBothHalvesTogether)
{
    auto cam = OneTapRecord(8, 0);
    Set(cam.get(), KvxInfo(cam0::INFO_XTAPSPERCH), 2);
    _MP_BUF_ST lut{};
    lut.bands = 1;
    lut.bits = 8;
    lut.sizeX = 256;
    KVX_LUT_INFO info{};
    mp_kvx_address(cam.get(), &lut, &info);
    EXPECT_EQ(info.mask, 63u);
    info = KVX_LUT_INFO{};
    info.channel = 1;
    mp_kvx_address(cam.get(), &lut, &info);
    EXPECT_EQ(info.mask, 56u);
}

// ---- LUT transfers on the module -------------------------------------------------------------

class KvxLutTransfer : public lutfixture::LutTest {
protected:
    void SetUp() override
    {
        lutfixture::LutTest::SetUp();
        if (HasFatalFailure()) return;
        boardsim::BoardSim::instance().setTracing(true);
        boardsim::BoardSim::instance().clearTrace();
    }
    // Writes to the LUT registers, as {register, value}.
    static std::vector<std::pair<uint32_t, uint32_t>> LutWrites()
    {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const boardsim::HwAccess& a : boardsim::BoardSim::instance().trace()) {
            if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryPort) continue;
            const uint32_t reg = a.offset / 2;
            if (reg == kKvxIsfLutEn || reg == kKvxIsfLutIdx || reg == kKvxIsfLutData) out.emplace_back(reg, a.value);
        }
        return out;
    }
    _MP_BUF_ST* LutBuffer(uint32_t bands, uint32_t type = 8)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(chipsfixture::kNode, 256, 1, static_cast<int32_t>(bands), type, kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kBufKindImage;
        for (uint32_t k = 0; k < bands; ++k) {
            auto* p = static_cast<uint8_t*>(mp_buf_address_band_internal(b, k));
            for (uint32_t i = 0; i < 256; ++i) p[i] = static_cast<uint8_t>(255 - i + 16 * k);
        }
        return b;
    }
};

TEST_F(KvxLutTransfer, WithoutALutBufferTheRampGoesToAllSixLutsWhateverTheChannel)
{
    for (uint32_t channel : {0u, 1u, 3u}) {
        boardsim::BoardSim::instance().clearTrace();
        auto cam = OneTapRecord();
        ASSERT_EQ(mp_kvx_prog_lut(cam.get(), channel), 0);
        const auto w = LutWrites();
        ASSERT_EQ(w.size(), 2u + 256u) << channel;
        EXPECT_EQ(w[0], std::make_pair(kKvxIsfLutEn, 63u));
        EXPECT_EQ(w[1], std::make_pair(kKvxIsfLutIdx, 0u));
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(w[2 + i], std::make_pair(kKvxIsfLutData, i)) << i;
    }
}

TEST_F(KvxLutTransfer, ThreeBandBufferLoadsTheChannelsLutsOneByOne)
{
    _MP_BUF_ST* lut = LutBuffer(3);
    ASSERT_NE(lut, nullptr);
    auto cam = OneTapRecord();
    Set(cam.get(), KvxInfo(cam0::INFO_LUTBUFID), lut->id);
    ASSERT_EQ(mp_kvx_prog_lut(cam.get(), 1), 0);
    const auto w = LutWrites();
    ASSERT_EQ(w.size(), 3u * (2u + 256u));
    for (uint32_t k = 0; k < 3; ++k) {
        const size_t at = k * 258;
        EXPECT_EQ(w[at], std::make_pair(kKvxIsfLutEn, 1u << (3 + k))) << "channel 1 owns LUTs 3-5";
        EXPECT_EQ(w[at + 1], std::make_pair(kKvxIsfLutIdx, 0u));
        EXPECT_EQ(w[at + 2].second, (255u + 16 * k) & 0xFF);
        EXPECT_EQ(w[at + 257].second, (16u * k) & 0xFF);
    }
}

TEST_F(KvxLutTransfer, InputKindsOtherThanZeroFourAndFiveWriteNoLut)
{
    _MP_BUF_ST* lut = LutBuffer(1);
    ASSERT_NE(lut, nullptr);
    for (uint32_t input : {2u, 3u}) {
        auto cam = OneTapRecord(8, input);
        Set(cam.get(), KvxInfo(cam0::INFO_LUTBUFID), lut->id);
        EXPECT_EQ(mp_kvx_prog_lut(cam.get(), 0), 0);
    }
    EXPECT_TRUE(LutWrites().empty());
}

TEST_F(KvxLutTransfer, MoreThanTwoTapsRefusesWithoutTouchingTheModule)
{
    auto cam = OneTapRecord();
    Set(cam.get(), KvxInfo(cam0::INFO_XTAPSPERCH), 3);
    EXPECT_EQ(mp_kvx_prog_lut(cam.get(), 0), -1);
    EXPECT_TRUE(LutWrites().empty());
}

TEST_F(KvxLutTransfer, ReadingALutSelectsItThenReadsAllEntries)
{
    std::vector<uint8_t> target(256, 0xEE);
    KVX_LUT_INFO info{};
    info.channel = 1;
    info.source[1] = target.data();
    EXPECT_EQ(mp_kvx_lut_access(nullptr, &info, 1), 0);
    const auto w = LutWrites();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], std::make_pair(kKvxIsfLutEn, 16u)) << "step 8 for channel 1, shifted by the LUT";
    size_t reads = 0;
    for (const boardsim::HwAccess& a : boardsim::BoardSim::instance().trace())
        if (a.op == boardsim::HwOp::Read && a.area == boardsim::HwArea::PrimaryPort && a.offset == 2 * kKvxIsfLutData)
            ++reads;
    EXPECT_EQ(reads, 256u);
}

TEST_F(KvxLutTransfer, LutsLoadedTogetherFollowTheSourcePitch)
{
    // A 16-bit LUT buffer on a two-tap 16-bit camera: LUTs 0, 1, 3 and 4 load together
    // from the low byte of each entry.
    _MP_BUF_ST* lut = LutBuffer(1, 16);
    ASSERT_NE(lut, nullptr);
    auto* bytes = static_cast<uint8_t*>(mp_buf_address_band_internal(lut, 0));
    for (uint32_t i = 0; i < 512; ++i) bytes[i] = static_cast<uint8_t>(i & 1 ? 0xEE : i / 2);
    auto cam = OneTapRecord(16, 4);
    Set(cam.get(), KvxInfo(cam0::INFO_XTAPSPERCH), 2);
    Set(cam.get(), KvxInfo(cam0::INFO_LUTBUFID), lut->id);
    ASSERT_EQ(mp_kvx_prog_lut(cam.get(), 0), 0);
    const auto w = LutWrites();
    ASSERT_EQ(w.size(), 2u + 256u);
    EXPECT_EQ(w[0], std::make_pair(kKvxIsfLutEn, 27u));
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(w[2 + i].second, i) << "entry " << i << " skips the high byte";
}

TEST(KvxStubs, LutAndCaptureRequestsFailWithRestriction)
{
    for (auto* stub : {mpDigLutGet_Async, mpDigLutSet_Async, mpDigCapture_Async}) {
        MP_RESOURCE_ST res{};
        stub(&res);
        EXPECT_EQ(res.err.code, HLC_ERR_RESTRICTED);
    }
}

}  // namespace
