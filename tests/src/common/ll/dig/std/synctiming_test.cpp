#include "../chipsfixture.h"

#include "analog.h"
#include "synctiming.h"

#include <gtest/gtest.h>

#include <vector>

using chipsfixture::Get;
using chipsfixture::NewRecord;
using chipsfixture::Set;
using namespace cam0;

namespace {

constexpr double kDefault = 268435456.0;
constexpr double kEnable = -9997.0;
constexpr double kDisable = -9999.0;

int Put(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, double value, int32_t mode = 0)
{
    double v = value;
    return h(cam, 0, &v, mode);
}
double Ask(int (*h)(_MP_CAM_ST_0*, int32_t, double*, int32_t), _MP_CAM_ST_0* cam, int32_t mode = 1)
{
    double v = -1.5;
    EXPECT_EQ(h(cam, 0, &v, mode), 0);
    return v;
}

// ---- values into fields, on a record ------------------------------------------------------------

TEST(SyncTimingRecord, SixteenBitRegistersTakeTheTruncatedValueMaskedTo16Bits)
{
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_htotal_cnt, cam.get(), 70000.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HTOTAL), 4464u) << "70000 - 65536";
    ASSERT_EQ(Put(mp_dig_htotal_cnt, cam.get(), -1.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HTOTAL), 65535u);
    ASSERT_EQ(Put(mp_dig_htotal_cnt, cam.get(), 0.9), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HTOTAL), 0u);
    ASSERT_EQ(Put(mp_dig_vend_phase_detect, cam.get(), 1234.7), 0);
    EXPECT_EQ(Get(cam.get(), DIG_VEPDTC), 1234u);
    EXPECT_EQ(Ask(mp_dig_vend_phase_detect, cam.get()), 1234.0);
}

TEST(SyncTimingRecord, OneBitFieldsKeepTheLowBitOnly)
{
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_vrst_enable, cam.get(), 2.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HVRCTL), 0u);
    ASSERT_EQ(Put(mp_dig_vrst_enable, cam.get(), 3.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HVRCTL), 0x1000u);
    EXPECT_EQ(Ask(mp_dig_vrst_enable, cam.get()), 1.0);
    ASSERT_EQ(Put(mp_dig_field_polarity, cam.get(), 1.0), 0);
    EXPECT_EQ(Get(cam.get(), DIG_OUTCTL), 0x4u);
}

TEST(SyncTimingRecord, SentinelsAreJustNumbersHere)
{
    auto cam = NewRecord();
    Set(cam.get(), DIG_HVRCTL, 0xFFFF);
    ASSERT_EQ(Put(mp_dig_vrst_src, cam.get(), kDefault), 0);   // bits 8-10
    ASSERT_EQ(Put(mp_dig_hrst_enable, cam.get(), kDefault), 0);  // bit 4
    EXPECT_EQ(Get(cam.get(), DIG_HVRCTL), 0xF8EFu) << "the default stores 0";
    ASSERT_EQ(Put(mp_dig_vrst_src, cam.get(), kEnable), 0);
    EXPECT_EQ(Ask(mp_dig_vrst_src, cam.get()), 3.0) << "-9997 & 7";
    ASSERT_EQ(Put(mp_dig_vrst_src, cam.get(), kDisable), 0);
    EXPECT_EQ(Ask(mp_dig_vrst_src, cam.get()), 1.0) << "-9999 & 7";
    ASSERT_EQ(Put(mp_dig_hrst_enable, cam.get(), kEnable), 0);
    EXPECT_EQ(Ask(mp_dig_hrst_enable, cam.get()), 1.0);
    ASSERT_EQ(Put(mp_dig_hrst_enable, cam.get(), kDisable), 0);
    EXPECT_EQ(Ask(mp_dig_hrst_enable, cam.get()), 1.0);
    ASSERT_EQ(Put(mp_dig_hstart_sync, cam.get(), kEnable), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HSSYNC), 0xD8F3u);
    ASSERT_EQ(Put(mp_dig_hstart_sync, cam.get(), kDisable), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HSSYNC), 0xD8F1u);
    ASSERT_EQ(Put(mp_dig_hstart_sync, cam.get(), kDefault), 0);
    EXPECT_EQ(Get(cam.get(), DIG_HSSYNC), 0u);
}

TEST(SyncTimingRecord, ARecordKeepsTheUpperHalfAndTheCameraFileWord)
{
    auto cam = NewRecord();
    CamSlotAt(cam.get(), DIG_SHCNT)->value = 0xABCD1234;
    CamSlotAt(cam.get(), DIG_SHCNT)->file = 0x55;
    ASSERT_EQ(Put(mp_dig_shcnt, cam.get(), 0x4321), 0);
    EXPECT_EQ(CamSlotAt(cam.get(), DIG_SHCNT)->value, 0xABCD4321u);
    EXPECT_EQ(CamSlotAt(cam.get(), DIG_SHCNT)->file, 0x55u);
    EXPECT_EQ(Ask(mp_dig_shcnt, cam.get()), static_cast<double>(0x4321));
}

TEST(SyncTimingRecord, TheTwoCompositeSyncCountsShareARegister)
{
    auto cam = NewRecord();
    ASSERT_EQ(Put(mp_dig_nbr_csync_missed, cam.get(), 0x1FF), 0);
    ASSERT_EQ(Put(mp_dig_nbr_csync_found, cam.get(), 0x2AB), 0);
    EXPECT_EQ(Get(cam.get(), DIG_NGCSFM), 0xFFABu);
    ASSERT_EQ(Put(mp_dig_nbr_csync_missed, cam.get(), 0x12), 0);
    EXPECT_EQ(Get(cam.get(), DIG_NGCSFM), 0x12ABu);
    EXPECT_EQ(Ask(mp_dig_nbr_csync_missed, cam.get()), 0x12);
    EXPECT_EQ(Ask(mp_dig_nbr_csync_found, cam.get()), 0xAB);
    ASSERT_EQ(Put(mp_dig_vsync_sample, cam.get(), 0x1ABC), 0);
    EXPECT_EQ(Get(cam.get(), DIG_DTCVSR), 0xABCu) << "12 bits";
}

TEST(SyncTimingRecord, CountersRefuseARecordAndOtherModesDoNothing)
{
    auto cam = NewRecord();
    double v = 7.0;
    EXPECT_EQ(mp_dig_hcnt(cam.get(), 40, &v, 0), -1);
    EXPECT_EQ(mp_dig_hcnt(cam.get(), 40, &v, 1), -1);
    EXPECT_EQ(mp_dig_vcnt(cam.get(), 42, &v, 2), -1);
    EXPECT_EQ(mp_dig_htotal_cnt(cam.get(), 44, &v, 2), 0);
    EXPECT_EQ(mp_dig_htotal_cnt(cam.get(), 44, &v, 3), 0);
    EXPECT_EQ(v, 7.0);
    EXPECT_EQ(Get(cam.get(), DIG_HTOTAL), 0u);
}

// ---- live ------------------------------------------------------------------------------------------

class SyncTimingLive : public chipsfixture::GrabModuleTest {};

TEST_F(SyncTimingLive, ASetWritesTheRegisterAndAnInquiryReadsTheShadow)
{
    ASSERT_EQ(Put(mp_dig_htotal_cnt, nullptr, 1016), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 1016);
    EXPECT_EQ(Values(grabregs::DIG_HTOTAL).size(), 1u);
    // The hardware changes on its own: the inquiry still answers the shadow.
    boardsim::BoardSim::instance().setReadFilter([](const boardsim::HwAccess& a) -> uint32_t {
        return a.area == boardsim::HwArea::PrimaryPort ? 0x77 : a.value;
    });
    EXPECT_EQ(Ask(mp_dig_htotal_cnt, nullptr), 1016.0);
    boardsim::BoardSim::instance().setReadFilter(nullptr);
}

TEST_F(SyncTimingLive, CompositeSyncBytesNeverDisturbEachOther)
{
    ASSERT_EQ(Put(mp_dig_nbr_csync_found, nullptr, 0x34), 0);
    ASSERT_EQ(Put(mp_dig_nbr_csync_missed, nullptr, 0x12), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_NGCSFM), 0x1234);
    ASSERT_EQ(Put(mp_dig_nbr_csync_found, nullptr, 0x5FF), 0);
    EXPECT_EQ(Grab().reg(grabregs::DIG_NGCSFM), 0x12FF);
}

TEST_F(SyncTimingLive, ACounterReadSetsTheResyncBitAndPutsTheRegisterBack)
{
    mpPrvSetExtReg(DIG_SRCCFG, 0x1234);
    Grab().clearLog();
    Grab().setCounters(321, 654);
    EXPECT_EQ(Ask(mp_dig_hcnt, nullptr), 321.0);
    EXPECT_EQ(Values(grabregs::DIG_SRCCFG), (std::vector<uint16_t>{0x5234, 0x1234})) << "written exactly twice";
    EXPECT_EQ(Live(DIG_SRCCFG)->value & 0xFFFF, 0x1234u);
    EXPECT_EQ(Ask(mp_dig_vcnt, nullptr), 654.0);
    EXPECT_EQ(Values(grabregs::DIG_SRCCFG).size(), 4u);
    // A set of a counter changes nothing.
    Grab().clearLog();
    ASSERT_EQ(Put(mp_dig_hcnt, nullptr, 5.0), 0);
    EXPECT_EQ(AllWrites(), 0u);
}

} // namespace
