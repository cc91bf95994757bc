#include "../kvxfixture.h"

#include "kvxload.h"

#include <cstring>

using namespace kvxfixture;
using kvxregs::BurstPort;
using kvxregs::GrabControl;
using kvxregs::SinglePort;
using kvxregs::TestStatus;
using namespace cam1;

namespace {

constexpr uint32_t DESCRIPTION_INFO_INPUT = cam0::INFO_INPUT + kInfoToStandard;
constexpr uint32_t SFAF(uint32_t slot) { return slot + kSecondTimingSet; }

class KvxLoadTest : public KvxModuleTest {
protected:
    void SetUp() override
    {
        KvxModuleTest::SetUp();
        // A camera with a distinct value in every timing register and PLL register.
        for (uint32_t slot = FAF_PTOTAL; slot <= FAF_TSTSTS; slot += 8) Set(slot, 0x100 + (slot - FAF_PTOTAL) / 8);
        // The device lines at rest: the PLL protocol leaves its strobe high.
        Set(FAF_DEVPROG, kvxregs::kPllStrobe);
        Set(FAF_CLOCKCTL, 0x3);
        for (uint32_t n = 0; n < 7; ++n) {
            Set(PLL_ICS1522REG(n), 0x200 + n);
            Set(SPLL_ICS1522REG(n), 0x300 + n);
        }
        Set(DAC_CH0POSREF, 0x11);
        Set(DAC_CH0LVL, 0x22);
        Set(DAC_CH1POSREF, 0x33);
        Set(DAC_CH1LVL, 0x44);
        Set(BTC_BTCBPASS, 0);
        Set(DEC_STAT + 8 * 2, 0x5A);
    }
    void Set(uint32_t slot, uint32_t value)
    {
        CamSlotAt(cam_.get(), slot)->value = value;
        CamSlotAt(cam_.get(), slot)->file = value;
    }
    int Load(uint32_t channel, int32_t mode) { return mp_kvx_load(cam_.get(), nullptr, channel, mode); }
    static double Now() { return boardsim::BoardSim::instance().now(); }
    static std::vector<uint32_t> PllValues(int channel)
    {
        std::vector<uint32_t> v;
        for (const auto& [reg, value] : Kvx().pllLoads(channel)) v.push_back(value);
        return v;
    }
    static std::vector<uint32_t> Run(uint32_t first)
    {
        std::vector<uint32_t> v;
        for (uint32_t n = 0; n < 7; ++n) v.push_back(first + n);
        return v;
    }

    std::unique_ptr<_MP_CAM_ST_1> cam_ = std::make_unique<_MP_CAM_ST_1>();
};

TEST_F(KvxLoadTest, TimingIndicesFollowTheSlotOffsets)
{
    EXPECT_EQ(KvxTimingIndex(FAF_PTOTAL), 0u);
    EXPECT_EQ(KvxTimingIndex(FAF_PSVAL), 2u);
    EXPECT_EQ(KvxTimingIndex(FAF_IOENCTL0), 74u);
    EXPECT_EQ(KvxTimingIndex(FAF_OPAMPCTL), 78u);
}

TEST_F(KvxLoadTest, FullDownloadPutsEveryTimingRegisterAtItsIndex)
{
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    for (uint32_t slot = FAF_PTOTAL; slot <= FAF_USERO; slot += 8)
        EXPECT_EQ(Kvx().timing(0, KvxTimingIndex(slot)), static_cast<int>(CamSlotAt(cam_.get(), slot)->value)) << slot;
    // Bit 3 of the grab control (one frame) is a command the module clears as it starts.
    EXPECT_EQ(Kvx().reg(GrabControl(0)), (0x100 + (FAF_GRBCTL0 - FAF_PTOTAL) / 8) & ~0x8);
    // The status register's grab bits (5 and 6) are the module's own: the control value
    // written here starts a frame, which sets them.
    constexpr int kGrabStatusBits = 0x60;
    EXPECT_EQ(Kvx().reg(TestStatus(0)) & ~kGrabStatusBits, (0x100 + (FAF_TSTSTS - FAF_PTOTAL) / 8) & ~kGrabStatusBits);
    // The I/O-enable pair through the single port at index 74, the rest as a burst from
    // index 0 and from index 78.
    const auto burst = Kvx().writes(BurstPort(0));
    ASSERT_FALSE(burst.empty());
    EXPECT_FALSE(burst.front().high);
    EXPECT_EQ(burst.front().byte, 0);
    EXPECT_EQ(burst.size(), 1u + 2u * 37u + 1u + 2u * 3u);
    EXPECT_EQ(burst[75].byte, 78) << "second index";
    const auto single = Kvx().writes(SinglePort(0));
    ASSERT_GE(single.size(), 5u);
    EXPECT_EQ(single[0].byte, 74);
    EXPECT_EQ(Kvx().pll(0, 6), 0x206);
    EXPECT_EQ(Kvx().decoder(0, 2), 0x5A);
}

TEST_F(KvxLoadTest, FullDownloadOfChannelOneLeavesChannelZerosShadow)
{
    ASSERT_EQ(Load(1, kKvxLoadFull), 0);
    EXPECT_EQ(Live(1, FAF_HTOTAL), 0x103u);
    EXPECT_EQ(Live(0, FAF_HTOTAL), 0u) << "only what was written is in a shadow";
    EXPECT_EQ(Kvx().timing(1, KvxTimingIndex(FAF_HTOTAL)), 0x103);
    EXPECT_EQ(Kvx().timing(0, KvxTimingIndex(FAF_HTOTAL)), 0);
    // A later difference download of channel 0 therefore still writes its timing chip.
    ASSERT_EQ(Load(0, kKvxLoadAdded), 0);
    EXPECT_EQ(Kvx().timing(0, KvxTimingIndex(FAF_HTOTAL)), 0x103);
}

TEST_F(KvxLoadTest, RefusedChannelsWriteNothing)
{
    EXPECT_EQ(Load(2, kKvxLoadFull), -1) << "a full download of channel 2";
    EXPECT_EQ(Load(3, kKvxLoadFull), -1);
    EXPECT_EQ(Load(4, kKvxLoadAdded), -1);
    EXPECT_EQ(Load(0xFFFFFFFFu, kKvxLoadFull), -1);
    EXPECT_EQ(Kvx().writeCount(), 0u);
    uint32_t loadedOnce = 1;
    std::memcpy(&loadedOnce, cam_->bytes + LOADED_ONCE, 4);
    EXPECT_EQ(loadedOnce, 0u) << "a refused download leaves the record as it was";
}

TEST_F(KvxLoadTest, SecondIdenticalDownloadWritesOnlyTheBypassRegister)
{
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    Kvx().clearLog();
    const double before = Now();
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_EQ(Kvx().writeCount(), 2u);
    EXPECT_EQ(Kvx().writes(BTC_BTCBPASS).size(), 2u);
    EXPECT_LT(Now() - before, 0.01) << "no settling sleeps";
    Set(BTC_BTCBPASS, 1);
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_EQ(Kvx().reg(BTC_BTCBPASS), 1);
    EXPECT_EQ(Live(0, BTC_BTCBPASS), 1u);
}

TEST_F(KvxLoadTest, DifferenceDownloadWritesOnlyChangedRegisters)
{
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    Kvx().clearLog();
    Set(FAF_HSVAL, 0xABCD);
    Set(DEC_STAT + 8 * 40, 0x99);
    Set(PLL_ICS1522REG(3), 0x7FF);
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    const uint32_t index = KvxTimingIndex(FAF_HSVAL);
    const auto t = Kvx().timingWrites(0);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0], std::make_pair(index, uint8_t{0xCD}));
    EXPECT_EQ(t[1], std::make_pair(index + 1, uint8_t{0xAB}));
    EXPECT_EQ(Kvx().decoderWrites(0), (std::vector<std::pair<uint8_t, uint8_t>>{{40, 0x99}}));
    EXPECT_EQ(PllValues(0), std::vector<uint32_t>{0x7FF});
    EXPECT_EQ(Live(0, FAF_HSVAL), 0xABCDu);
}

TEST_F(KvxLoadTest, DecoderOrderSkipsRegistersZeroThirtyThreeAndThirtyFour)
{
    for (uint32_t n = 0; n < 64; ++n) Set(DEC_STAT + 8 * n, n | 0x40);
    Set(DEC_STAT + 8, 0x40);   // DEC_CMDA without bit 7: an analogue decoder set-up
    for (uint32_t k = 0; k < 32; ++k) {
        Set(DEC_GAMMA + 8 * k, 0xA0 + k);
        Set(DEC_GAMMAD + 8 * k, 0xC0 + k);
    }
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    const auto w = Kvx().decoderWrites(0);
    ASSERT_EQ(w.size(), 32u + 29u + 64u);
    EXPECT_EQ(w[0].first, 1);
    EXPECT_EQ(w[31].first, 32);
    EXPECT_EQ(w[32].first, 35);
    EXPECT_EQ(w[60].first, 63);
    EXPECT_EQ(w[61], std::make_pair(uint8_t{64}, uint8_t{0xA0}));
    EXPECT_EQ(w[62], std::make_pair(uint8_t{96}, uint8_t{0xC0}));
    EXPECT_EQ(w.back(), std::make_pair(uint8_t{127}, uint8_t{0xDF}));
}

TEST_F(KvxLoadTest, DigitalInputSetsTwoDecoderRegistersAndTouchesNoPll)
{
    Set(DESCRIPTION_INFO_INPUT, 1);
    Set(FAF_CLOCKCTL, 0x5);
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    EXPECT_EQ(Kvx().decoderWrites(0), (std::vector<std::pair<uint8_t, uint8_t>>{{1, 0x80}, {30, 0x20}}));
    EXPECT_TRUE(Kvx().pllLoads(0).empty());
    EXPECT_EQ(Kvx().timing(0, KvxTimingIndex(FAF_HTOTAL)), 0x103) << "the timing chip is still loaded";
    EXPECT_EQ(Live(0, DEC_STAT + 8) & 0xFF, 0x80u);
    EXPECT_EQ(Live(0, DEC_STAT + 8 * 30) & 0xFF, 0x20u);
    // Whatever the mode, again.
    Kvx().clearLog();
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_EQ(Kvx().decoderWrites(0).size(), 2u);
}

TEST_F(KvxLoadTest, ClockNibbleOneOrFiveOnAFirstDownloadRunsTheStartLock)
{
    for (uint32_t nibble : {0x1u, 0x5u}) {
        Set(FAF_CLOCKCTL, 0x20 | nibble);
        std::memset(cam_->bytes + LOADED_ONCE, 0, 4);
        Kvx().clearLog();
        ASSERT_EQ(Load(0, kKvxLoadSame), 0);
        auto expected = Run(0x300);
        const auto final = Run(0x200);
        expected.insert(expected.end(), final.begin(), final.end());
        EXPECT_EQ(PllValues(0), expected) << "start set, then the final set: nibble " << nibble;
        EXPECT_EQ(Live(0, SFAF(FAF_CLOCKCTL) - kSecondTimingSet), 0x20u | nibble) << "clock control from the start set";
    }
    // Not on a later download with unchanged PLL control bits.
    Kvx().clearLog();
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_TRUE(Kvx().pllLoads(0).empty());
}

TEST_F(KvxLoadTest, OtherClockNibblesSetOnlyTheFinalPll)
{
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_EQ(PllValues(0), Run(0x200));
}

TEST_F(KvxLoadTest, ChangedPllControlBitsRunTheStartLockAgain)
{
    Set(FAF_CLOCKCTL, 0x1);
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    Kvx().clearLog();
    Set(FAF_PLLCTL, (Live(0, FAF_PLLCTL) & ~7u) | ((Live(0, FAF_PLLCTL) + 1) & 7u));
    Set(SPLL_ICS1522REG(0), 0x3AA);
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_EQ(PllValues(0), std::vector<uint32_t>{0x3AA}) << "only the start register that changed";
}

TEST_F(KvxLoadTest, DacFollowsTheChannel)
{
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    EXPECT_EQ(Kvx().dacLoads(), (std::vector<std::pair<int, uint8_t>>{{0, 0x11}, {4, 0x22}, {1, 0x33}, {5, 0x44}}));
    uint8_t* dac = cam_->bytes + DAC_BYTES;
    dac[0] = 0x55;
    dac[2] = 0x66;
    Kvx().clearLog();
    ASSERT_EQ(Load(2, kKvxLoadAdded), 0);
    EXPECT_TRUE(Kvx().dacLoads().empty()) << "channel 2 writes no DAC";
    ASSERT_EQ(Load(1, kKvxLoadAdded), 0);
    EXPECT_EQ(Kvx().dacLoads(), (std::vector<std::pair<int, uint8_t>>{{1, 0x66}}));
    ASSERT_EQ(Load(0, kKvxLoadAdded), 0);
    EXPECT_EQ(Kvx().dacLoads().back(), (std::pair<int, uint8_t>{0, 0x55}));
    EXPECT_EQ(Kvx().dac(0), 0x55);
}

TEST_F(KvxLoadTest, FirstDownloadFixesTheDacBytes)
{
    ASSERT_EQ(Load(0, kKvxLoadFull), 0);
    Set(DAC_CH0POSREF, 0x77);
    Kvx().clearLog();
    ASSERT_EQ(Load(0, kKvxLoadSame), 0);
    EXPECT_TRUE(Kvx().dacLoads().empty()) << "later downloads take the working bytes";
}

TEST_F(KvxLoadTest, DescriptorWordsReachTheShadowOnFullDownloadsOnly)
{
    Set(DESCRIPTION_INFO_XSIZE, 640);
    Set(DESCRIPTION_CH3LVL, 9);
    ASSERT_EQ(Load(1, kKvxLoadSame), 0) << "a first download counts as full";
    EXPECT_EQ(Live(1, DESCRIPTION_INFO_XSIZE), 640u);
    EXPECT_EQ(Live(1, DESCRIPTION_CH3LVL), 9u);
    Set(DESCRIPTION_INFO_XSIZE, 768);
    ASSERT_EQ(Load(1, kKvxLoadSame), 0);
    EXPECT_EQ(Live(1, DESCRIPTION_INFO_XSIZE), 640u);
}

// ---- pixel-clock check ---------------------------------------------------------------------

TEST_F(KvxLoadTest, PixelClockCheckComparesTheLastCount)
{
    const uint32_t vcnt = KvxTimingIndex(FAF_VCNT);
    Live(0, FAF_VTOTAL) = 525;
    Kvx().setTiming(0, vcnt, 1000);
    EXPECT_EQ(mp_kvx_check_pclk_ok(1000), 1);
    EXPECT_EQ(mp_kvx_check_pclk_ok(1004), 1) << "0.4 % off";
    EXPECT_EQ(mp_kvx_check_pclk_ok(1010), 0) << "1 % off";
    EXPECT_EQ(Kvx().timing(0, KvxTimingIndex(FAF_VTOTAL)), 525) << "restored afterwards";
    Kvx().setTiming(0, vcnt, 65001);
    EXPECT_EQ(mp_kvx_check_pclk_ok(65001), 0) << "an overrun count fails";
}

TEST_F(KvxLoadTest, PixelClockCheckWithoutAnExpectedCountFailsWithoutTouchingTheModule)
{
    EXPECT_EQ(mp_kvx_check_pclk_ok(0), 0);
    EXPECT_EQ(Kvx().writeCount(), 0u);
}

TEST_F(KvxLoadTest, PllLockRetriesTwentyTimes)
{
    Kvx().setTiming(0, KvxTimingIndex(FAF_VCNT), 2000);
    EXPECT_EQ(mp_kvx_check_pll_lock(2000), 0);
    const double before = Now();
    EXPECT_EQ(mp_kvx_check_pll_lock(1000), -1);
    EXPECT_GE(Now() - before, 21 * 0.1 + 20 * 0.04 - 0.01);
}

} // namespace
