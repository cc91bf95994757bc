#include "../chipsfixture.h"
#include "frontdev.h"

using namespace chipsfixture;

namespace {

using DacLoads = std::vector<std::pair<int, uint8_t>>;

class FrontDevTest : public GrabModuleTest {
protected:
    // A record whose 29 Bt261 slots hold 3 x index + 1.
    static std::unique_ptr<_MP_CAM_ST_0> Bt261Record()
    {
        auto cam = NewRecord();
        for (uint32_t i = 0; i <= 29; ++i)
            if (i != 7) Set(cam.get(), mpPrvBt261Slot(i), 3 * i + 1);
        Set(cam.get(), cam0::DIG_SRCCFG, 0x2000);
        return cam;
    }
    // refDacBytes: NREF 40; red 50 51 52, green 60 61 62, blue 70 71 72, alpha 80 81 82.
    static std::unique_ptr<_MP_CAM_ST_0> DacRecord()
    {
        auto cam = NewRecord();
        const uint8_t bytes[13] = {40, 50, 51, 52, 60, 61, 62, 70, 71, 72, 80, 81, 82};
        std::memcpy(cam->bytes + cam0::REF_DAC_BYTES, bytes, sizeof bytes);
        Set(cam.get(), cam0::DAC8800REF_PLLFINE, 0x1F7);
        Set(cam.get(), cam0::DAC8800REF_EXPFCTL, 0x11);
        Set(cam.get(), cam0::DAC8800REF_EXPGCTL, 0x22);
        return cam;
    }
};

// ---- Bt261 ------------------------------------------------------------------------------

TEST_F(FrontDevTest, Bt261FullLoadWritesEveryRegisterButSevenInOrder)
{
    auto cam = Bt261Record();
    mp_dig_load_bt261(cam.get(), 0);
    std::vector<std::pair<uint8_t, uint8_t>> expected;
    for (uint8_t i = 0; i <= 29; ++i)
        if (i != 7) expected.push_back({i, uint8_t(3 * i + 1)});
    EXPECT_EQ(Grab().bt261Writes(), expected);
    for (uint32_t i = 0; i <= 29; ++i) {
        if (i == 7) continue;
        EXPECT_EQ(Live(mpPrvBt261Slot(i))->value, 3 * i + 1) << i;
    }
    const auto srccfg = Values(grabregs::DIG_SRCCFG);
    ASSERT_EQ(srccfg.size(), 2u);
    EXPECT_EQ(srccfg[0] & 0x6000, 0x6000) << "opened for the chip";
    EXPECT_EQ(srccfg[1] & 0x6000, 0x2000) << "back to the record's bits";
    EXPECT_EQ(Live(grabregs::Slot(grabregs::kBt261Address))->value & 0xFF00, 0u);
    EXPECT_EQ(Live(grabregs::Slot(grabregs::kBt261Data))->value & 0xFF00, 0u);
}

TEST_F(FrontDevTest, Bt261DifferenceLoadsWriteOnlyWhatChanged)
{
    auto cam = Bt261Record();
    mp_dig_load_bt261(cam.get(), 0);
    Grab().clearLog();
    mp_dig_load_bt261(cam.get(), 2);
    EXPECT_EQ(AllWrites(), 0u) << "all equal: neither the chip nor DIG_SRCCFG is written";
    EXPECT_EQ(Grab().bt261Writes().size(), 29u);
    Set(cam.get(), mpPrvBt261Slot(3), 0x99);
    Set(cam.get(), mpPrvBt261Slot(20), 0x42);
    mp_dig_load_bt261(cam.get(), 1);
    const auto writes = Grab().bt261Writes();
    ASSERT_EQ(writes.size(), 31u);
    EXPECT_EQ(writes[29], (std::pair<uint8_t, uint8_t>{3, 0x99}));
    EXPECT_EQ(writes[30], (std::pair<uint8_t, uint8_t>{20, 0x42}));
    EXPECT_EQ(Values(grabregs::kBt261Address).size(), 2u) << "one address per changed register";
}

// ---- DS1020 -----------------------------------------------------------------------------

TEST_F(FrontDevTest, DelayLineIsSentInModeZeroAndOnlyWhenChangedOtherwise)
{
    auto cam = NewRecord();
    Set(cam.get(), cam0::DS1020DLY, 0x33);
    mp_dig_load_ds1020(cam.get(), 0);
    mp_dig_load_ds1020(cam.get(), 1);
    mp_dig_load_ds1020(cam.get(), 2);
    EXPECT_EQ(Grab().ds1020Loads(), (std::vector<uint8_t>{0x33}));
    mp_dig_load_ds1020(cam.get(), 0);
    Set(cam.get(), cam0::DS1020DLY, 0x34);
    mp_dig_load_ds1020(cam.get(), 1);
    EXPECT_EQ(Grab().ds1020Loads(), (std::vector<uint8_t>{0x33, 0x33, 0x34}));
    EXPECT_EQ(Live(cam0::DS1020DLY)->value, 0x34u);
}

// ---- DAC8800s ---------------------------------------------------------------------------

TEST_F(FrontDevTest, FullDacLoadsSendEveryChannelInTheirOrder)
{
    auto cam = DacRecord();
    uint32_t changes = 0;
    mp_dig_load_dac1(cam.get(), 0, 0, &changes);
    mp_dig_load_dac2(cam.get(), 0, 0, &changes);
    EXPECT_EQ(changes, 2u) << "one per full load";
    EXPECT_EQ(Grab().dacLoads(1), (DacLoads{{0, 81}, {4, 82}, {1, 51}, {5, 52}, {2, 61}, {6, 62}, {3, 71}, {7, 72}}));
    EXPECT_EQ(Grab().dacLoads(2), (DacLoads{{0, 80}, {1, 50}, {2, 60}, {3, 70}, {4, 40}, {7, 0xF7}}));
    EXPECT_EQ(Live(cam0::DAC8800LVL_ALPHAF)->value, 82u);
    EXPECT_EQ(Live(cam0::DAC8800REF_PLLFINE)->value, 0xF7u) << "the byte sent";
    EXPECT_EQ(Live(cam0::DAC8800REF_EXPFCTL)->value, 0u) << "channels 5 and 6 are not written";
}

TEST_F(FrontDevTest, DifferenceDacLoadsSendRequestedChannelsThatDiffer)
{
    auto cam = DacRecord();
    uint32_t changes = 0;
    mp_dig_load_dac1(cam.get(), 0, 0, &changes);
    mp_dig_load_dac2(cam.get(), 0, 0, &changes);
    Grab().clearLog();
    changes = 0;
    cam->bytes[cam0::REF_DAC_BYTES + cam0::RefDacIndex(0, 1)] = 99;   // red coarse
    cam->bytes[cam0::REF_DAC_BYTES + cam0::RefDacIndex(1, 2)] = 98;   // green fine (green not requested)
    mp_dig_load_dac1(cam.get(), kChanRed | kChanBlue, 1, &changes);
    EXPECT_EQ(Grab().dacLoads(1), (DacLoads{{0, 81}, {4, 82}, {1, 51}, {5, 52}, {2, 61}, {6, 62}, {3, 71}, {7, 72}, {1, 99}}));
    EXPECT_EQ(changes, 1u);
    // NREF and PLL fine go whatever the channel bits.
    cam->bytes[cam0::REF_DAC_BYTES + cam0::kRefNref] = 41;
    Set(cam.get(), cam0::DAC8800REF_PLLFINE, 0x10);
    cam->bytes[cam0::REF_DAC_BYTES + cam0::RefDacIndex(3, 0)] = 90;   // alpha reference, not requested
    mp_dig_load_dac2(cam.get(), 0, 2, &changes);
    const auto loads = Grab().dacLoads(2);
    ASSERT_EQ(loads.size(), 8u);
    EXPECT_EQ(loads[6], (std::pair<int, uint8_t>{4, 41}));
    EXPECT_EQ(loads[7], (std::pair<int, uint8_t>{7, 0x10}));
    EXPECT_EQ(changes, 3u);
}

// ---- DIM register -----------------------------------------------------------------------

TEST_F(FrontDevTest, DimValueIsShiftedLsbFirstAndLatched)
{
    mp_dig_set_dimreg(0xA5);
    EXPECT_EQ(BitsAtRisingEdges(Values(grabregs::DIG_DICTL), grabregs::kDimClock, grabregs::kDimData),
              (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(Grab().dim(), 0xA5);
    const uint16_t last = Grab().reg(grabregs::DIG_DICTL);
    EXPECT_NE(last & grabregs::kDimSelect, 0) << "select stays set";
    EXPECT_EQ(last & (grabregs::kDimClock | grabregs::kDimLatch | grabregs::kDimEnable), 0);
    EXPECT_EQ(Values(grabregs::DIG_DICTL).size(), 2u + 24u + 3u);
}

TEST_F(FrontDevTest, DimPresenceIsReadWithEnableClearAndDictlPutBack)
{
    Live(grabregs::Slot(grabregs::DIG_DICTL))->value = 0x0310;
    EXPECT_EQ(mp_dig_dim_present(nullptr), 1);
    const auto v = Values(grabregs::DIG_DICTL);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], 0x0300);
    EXPECT_EQ(v[1], 0x0310);
    Grab().setDimFitted(false);
    EXPECT_EQ(mp_dig_dim_present(nullptr), 0);
}

TEST_F(FrontDevTest, DimRegisterLoads)
{
    auto cam = NewRecord();
    Set(cam.get(), cam0::DIMREG0, 0x5C);
    mp_dig_load_dimreg(cam.get(), 0);
    EXPECT_EQ(Grab().dimLoads(), (std::vector<uint8_t>{0x5C}));
    mp_dig_load_dimreg(cam.get(), 1);
    EXPECT_EQ(Grab().dimLoads().size(), 1u) << "unchanged in a difference load";
    Set(cam.get(), cam0::DIMREG0, 0x5D);
    mp_dig_load_dimreg(cam.get(), 2);
    EXPECT_EQ(Grab().dimLoads(), (std::vector<uint8_t>{0x5C, 0x5D}));
    EXPECT_EQ(Live(cam0::DIMREG0)->value, 0x5Du);
}

TEST_F(FrontDevTest, WithoutADimRegisterOnlyDictlIsRewritten)
{
    Grab().setDimFitted(false);
    Live(grabregs::Slot(grabregs::DIG_DICTL))->value = 0x0012;
    auto cam = NewRecord();
    Set(cam.get(), cam0::DIMREG0, 0x5C);
    mp_dig_load_dimreg(cam.get(), 0);
    EXPECT_TRUE(Grab().dimLoads().empty());
    EXPECT_EQ(Values(grabregs::DIG_DICTL), (std::vector<uint16_t>{0x0002, 0x0012, 0x0012}));
    EXPECT_EQ(AllWrites(), 3u);
}

// ---- description and the Sorvik II mirror ----------------------------------------------

TEST_F(FrontDevTest, DescriptionReachesTheLiveShadowOnly)
{
    auto cam = NewRecord();
    for (uint32_t off = cam0::INFO_XSIZE; off <= cam0::WHITE_REF_ALPHA; off += 8) Set(cam.get(), off, off);
    Live(cam0::INFO_MISC)->file = kShadowWritten;
    mp_dig_load_descr(cam.get());
    for (uint32_t off = cam0::INFO_XSIZE; off <= cam0::INFO_XYSIZEMOD; off += 8) EXPECT_EQ(Live(off)->value, off);
    for (uint32_t off : {cam0::INFO_CLAMP, cam0::INFO_LINEDELAY, cam0::INFO_MISC, cam0::VDL_AMPL, cam0::SYN_AMPL,
                         cam0::BLACK_LEVEL, cam0::WHITE_LEVEL, cam0::BLACK_REF, cam0::WHITE_REF_ALPHA})
        EXPECT_EQ(Live(off)->value, off);
    EXPECT_EQ(Live(cam0::INFO_MISC)->file, 0u) << "flags cleared";
    EXPECT_EQ(AllWrites(), 0u);
}

TEST_F(FrontDevTest, SorvikMirrorSendsNothing)
{
    auto cam = Bt261Record();
    const uint8_t bytes[13] = {40, 50, 51, 52, 60, 61, 62, 70, 71, 72, 80, 81, 82};
    std::memcpy(cam->bytes + cam0::REF_DAC_BYTES, bytes, sizeof bytes);
    Live(grabregs::Slot(grabregs::kBt261Address))->value = 0x1234;
    load_serial_dev_2_sh(cam.get(), 0, 0);
    EXPECT_EQ(AllWrites(), 0u);
    EXPECT_EQ(Live(mpPrvBt261Slot(29))->value, 88u);
    EXPECT_EQ(Live(grabregs::Slot(grabregs::kBt261Address))->value, 0x0034u);
    EXPECT_EQ(Live(cam0::DAC8800LVL_ALPHAC)->value, 81u);
    EXPECT_EQ(Live(cam0::DAC8800LVL_BLUEF)->value, 72u);
    EXPECT_EQ(Live(cam0::DAC8800REF_NREF)->value, 0u) << "a full mirror sets the level DACs only";
    load_serial_dev_2_sh(cam.get(), kChanGreen, 1);
    EXPECT_EQ(Live(cam0::DAC8800REF_GREENR)->value, 60u);
    EXPECT_EQ(Live(cam0::DAC8800REF_NREF)->value, 40u);
    EXPECT_EQ(Live(cam0::DAC8800REF_REDR)->value, 0u) << "red not requested";
    EXPECT_EQ(AllWrites(), 0u);
}

} // namespace
