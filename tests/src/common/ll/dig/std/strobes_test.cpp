#include "../ctrlfixture.h"

#include "strobes.h"

#include <gtest/gtest.h>

#include <vector>

using chipsfixture::Get;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using ctrlfixture::kDisable;
using ctrlfixture::kEnable;
using ctrlfixture::Type;
using namespace cam0;

namespace {

int Put(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, double value, int32_t mode = 0)
{
    double v = value;
    return h(cam, 0, &v, mode);
}

class Strobes : public ctrlfixture::ControlTest {
protected:
    // A camera loaded on a digitizer object: the PLL relock's record, which uses the PLL on
    // pixel-clock source 2 (the relock ends with the record's DIG_GRABCTL).  The simulated
    // PLL locks at 13500 kHz.
    _MP_BUF_ST* LoadedCamera()
    {
        _MP_BUF_ST* cam =
            NewCamera({{"INFO_SPIXCLK", 13500000}, {"INFO_PIXCLK", 13500000}, {"DIG_GRABCTL", 0xA000}});
        digitizer_ = DigitizerWith(cam);
        return cam;
    }
    int32_t Ctl(int32_t number, double value) { return DigSet(Type(number), value, digitizer_); }
    uint32_t Measurements() const { return Grab().clockMeasurements(); }

    _MP_BUF_ST* digitizer_ = nullptr;
};

// ---- strobes, status and the inert member -----------------------------------------------------

TEST_F(Strobes, AStrobeStaysAsWrittenAndIsNotInquired)
{
    ASSERT_EQ(Put(mp_dig_hsync_reset, nullptr, 1.0), 0);
    EXPECT_EQ(Values(grabregs::DIG_SRSCTL), (std::vector<uint16_t>{0x80})) << "one write, not a pulse";
    ASSERT_EQ(Put(mp_dig_vcount_reset, nullptr, 3.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRSCTL), 0x81);
    ASSERT_EQ(Put(mp_dig_hsync_reset, nullptr, 0.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRSCTL), 0x01);
    double v = 42.0;
    EXPECT_EQ(mp_dig_vcount_reset(nullptr, 94, &v, 1), 0);
    EXPECT_EQ(v, 42.0) << "an inquiry leaves the value unwritten";
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_pll_lksts1_rst, cam.get(), 1.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_PLLCTL), 0x2000u);
}

TEST_F(Strobes, StatusBitsComeFromTheHardware)
{
    mpPrvDigPut(nullptr, DIG_PLLCTL, 0xFFFF, 0x0A00);  // the shadow says otherwise
    mpPrvDigPut(nullptr, DIG_SRCCFG, 0xFFFF, 0x0000);
    Answer(grabregs::DIG_PLLCTL, 0x0500);
    Answer(grabregs::DIG_SRCCFG, 0x8000);
    double v = -1;
    ASSERT_EQ(mp_dig_pll_lckst0(nullptr, 100, &v, 1), 0);
    EXPECT_EQ(v, 1.0);
    ASSERT_EQ(mp_dig_pll_lckst1(nullptr, 99, &v, 1), 0);
    EXPECT_EQ(v, 0.0);
    ASSERT_EQ(mp_dig_pll_lckst2(nullptr, 98, &v, 1), 0);
    EXPECT_EQ(v, 1.0);
    ASSERT_EQ(mp_dig_pll_lckst3(nullptr, 97, &v, 1), 0);
    EXPECT_EQ(v, 0.0);
    ASSERT_EQ(mp_dig_strc_fifofull(nullptr, 122, &v, 1), 0);
    EXPECT_EQ(v, 1.0);
    // A set changes nothing; a record holds no status and is refused.
    Grab().clearLog();
    ASSERT_EQ(Put(mp_dig_pll_lckst0, nullptr, 0.0), 0);
    EXPECT_EQ(AllWrites(), 0u);
    auto cam = NewRecord();
    EXPECT_EQ(mp_dig_pll_lckst0(cam.get(), 100, &v, 1), -1);
    ClearError();
    _MP_BUF_ST* camera = NewCamera();
    int32_t r = 0;
    CamAsk(camera, Type(122), &r);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(Strobes, TheSyncPolarityControlAnswersZeroAndChangesNothing)
{
    EXPECT_EQ(DigAsk(Type(110)), 0.0);
    Grab().clearLog();
    EXPECT_EQ(DigSet(Type(110), 1.0), 0);
    EXPECT_EQ(AllWrites(), 0u);
    _MP_BUF_ST* cam = NewCamera();
    EXPECT_EQ(CamAsk(cam, Type(110)), 0.0);
    EXPECT_EQ(Code(), 0);
}

TEST_F(Strobes, FieldsOfTheControlRegisters)
{
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_ext_sync, cam.get(), 13.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_NGCTL), 0x500u);
    ASSERT_EQ(Put(mp_dig_psgcfg_nbfscnd, cam.get(), 3.0), 0);
    ASSERT_EQ(Put(mp_dig_psgcfg_interlace, cam.get(), 1.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_PSGCFG), 0x301u);
    ASSERT_EQ(Put(mp_dig_pll_phdtsel, cam.get(), 2.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_PLLCTL), 0x20u);
    ASSERT_EQ(Put(mp_dig_didir, nullptr, 1.0), 0);
    ASSERT_EQ(Put(mp_dig_valid_src, nullptr, kDisable), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL), 0x81);
}

// ---- PLL used and pixel-clock source -----------------------------------------------------------------

TEST_F(Strobes, PllUseRelocksOnlyWhenItGoesFromZeroToExactlyOne)
{
    LoadedCamera();
    const uint32_t before = Measurements();
    ASSERT_EQ(Ctl(126, 3.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x8000, 0x8000) << "3 masked to 1";
    EXPECT_EQ(Measurements(), before) << "the converted value is not exactly 1";
    ASSERT_EQ(Ctl(126, 0.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x8000, 0);
    EXPECT_EQ(Measurements(), before);
    ASSERT_EQ(Ctl(126, kEnable), 0);
    EXPECT_EQ(Measurements(), before) << "-9997 sets the bit without a relock";
    ASSERT_EQ(Ctl(126, 0.0), 0);
    ASSERT_EQ(Ctl(126, 1.0), 0);
    const uint32_t relocked = Measurements();
    EXPECT_GT(relocked, before) << "0 to 1: the lock is measured";
    ASSERT_EQ(Ctl(126, 1.0), 0);
    EXPECT_EQ(Measurements(), relocked) << "already in use";
    EXPECT_EQ(Code(), 0) << Text();
}

TEST_F(Strobes, PixelClockSourceRelocksOnlyAChangeWhileThePllIsUsed)
{
    LoadedCamera();
    ASSERT_EQ(Ctl(127, 2.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x7000, 0x2000);
    const uint32_t before = Measurements();
    EXPECT_EQ(Measurements(), before) << "the PLL is not used";
    mpPrvDigPut(nullptr, DIG_GRABCTL, 0x8000, 0x8000);
    ASSERT_EQ(Ctl(127, 2.0), 0);
    EXPECT_EQ(Measurements(), before) << "the same source";
    ASSERT_EQ(Ctl(127, 10.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x7000, 0x2000) << "10 masked to 2";
    EXPECT_GT(Measurements(), before) << "10 differs from 2 before the mask";
    EXPECT_EQ(DigAsk(Type(127)), 2.0);
}

TEST_F(Strobes, ARelockWithInputClockFourPutsDictlBack)
{
    LoadedCamera();
    mpPrvSetExtReg(DIG_DICTL, 0x4080);  // input clock select 4
    Grab().clearLog();
    ASSERT_EQ(Ctl(126, 1.0), 0);
    const auto dictl = Values(grabregs::DIG_DICTL);
    ASSERT_GE(dictl.size(), 2u);
    EXPECT_EQ(dictl.front(), 0x4020) << "select 1 for the relock";
    EXPECT_EQ(dictl.back(), 0x4080);
    EXPECT_EQ(Live(DIG_DICTL)->value & 0xFFFF, 0x4080u);

    mpPrvSetExtReg(DIG_DICTL, 0x4040);  // select 2
    mpPrvDigPut(nullptr, DIG_GRABCTL, 0x8000, 0);
    Grab().clearLog();
    ASSERT_EQ(Ctl(126, 1.0), 0);
    for (uint16_t v : Values(grabregs::DIG_DICTL)) EXPECT_EQ(v & 0xE0, 0x40) << "the select is not touched";
}

TEST_F(Strobes, AFailedRelockIsNeitherReportedNorLogged)
{
    _MP_BUF_ST* cam = LoadedCamera();
    Grab().setPllLock(boardsim::GrabPllLock::Never);
    EXPECT_EQ(Ctl(126, 1.0), 0);
    EXPECT_EQ(Code(), 0) << Text();
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(mpPrvRelockPll(Rec(cam)), 0) << "not locked";
    EXPECT_EQ(Code(), 0);
}

TEST_F(Strobes, WithoutALoadedCameraTheRelockIsSkipped)
{
    const uint32_t before = Measurements();
    EXPECT_EQ(DigSet(Type(126), 1.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x8000, 0x8000);
    EXPECT_EQ(Measurements(), before);
    EXPECT_EQ(mpPrvRelockPll(nullptr), -1);
    EXPECT_EQ(Code(), 0);
}

TEST_F(Strobes, SorvikRecordsAndTheSecondPathUseTheControlWord)
{
    auto cam = NewRecord();
    Set(cam.get(), SORVIK2_FLAG, 34);
    ASSERT_EQ(Put(mp_dig_pixel_clock_src, cam.get(), 5.0), 0);
    EXPECT_EQ(Get(cam.get(), SORVIK2_CONTROL), 0x50u);
    EXPECT_EQ(Get(cam.get(), DIG_GRABCTL), 0u);
    ASSERT_EQ(Put(mp_dig_pixel_clock_src, cam.get(), 3.0, 2), 0) << "the mode's second-path bit is not consulted";
    EXPECT_EQ(Get(cam.get(), SORVIK2_CONTROL), 0x30u);
    // Live second path: register 47 bits 4-6, no relock.
    mpPrvDigPut(nullptr, DIG_GRABCTL, 0x8000, 0x8000);
    SetModuleType(2);
    LoadedCamera();
    const uint32_t before = Measurements();
    ASSERT_EQ(Ctl(127, 6.0), 0);
    EXPECT_EQ(Grab().reg(grabregs::kSorvikControl) & 0x70, 0x60);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL) & 0x7000, 0);
    EXPECT_EQ(Measurements(), before);
    EXPECT_EQ(DigAsk(Type(127)), 6.0);
}

} // namespace
