#include "../kvxfixture.h"

#include "hwaccess.h"
#include "nodelist.h"
#include "reqres.h"

using namespace kvxfixture;
using namespace kvxregs;

namespace {

class KvxIoTest : public KvxModuleTest {};

// ---- decoder ---------------------------------------------------------------------------

TEST_F(KvxIoTest, DecoderWriteIsOneHundredEighteenEdgesOnTheChannelsRegister)
{
    mp_kvx_set_dec_reg(1, 30, 0x20);
    const auto v = Kvx().values(DevProg(1));
    ASSERT_EQ(v.size(), 118u);
    EXPECT_EQ(v.front(), kSdaDrive) << "drive enable alone first";
    EXPECT_EQ(v.back(), 0) << "drive enable off at the end";
    // One rise with data low opens, then the three bytes each with their acknowledge clock
    // (data held low), then the rise of the stop condition.
    std::vector<int> expected{0};
    for (uint32_t byte : {0xD8u, 30u, 0x20u}) expected = Join(Join(expected, MsbFirst(byte, 8)), {0});
    expected.push_back(0);
    EXPECT_EQ(BitsAtRisingEdges(v, kScl, kSdaOut), expected);
    EXPECT_EQ(Kvx().decoder(1, 30), 0x20);
    EXPECT_EQ(Kvx().decoderWrites(1), (std::vector<std::pair<uint8_t, uint8_t>>{{30, 0x20}}));
    EXPECT_TRUE(Kvx().values(DevProg(0)).empty()) << "other channels untouched";
    EXPECT_EQ(Kvx().writeCount(), 2u * 118u) << "both lanes of the one register, nothing else";
    EXPECT_EQ(Live(1, cam1::FAF_DEVPROG) & 0xFFFF, 0u);
}

TEST_F(KvxIoTest, DecoderReadTakesTheFirstReceivedBitAsBitSeven)
{
    Kvx().setDecoder(2, 5, 0x01);
    Kvx().setDecoder(2, 6, 0xC4);
    EXPECT_EQ(mp_kvx_read_dec_reg(2, 5), 0x01u);
    EXPECT_EQ(mp_kvx_read_dec_reg(2, 6), 0xC4u);
    EXPECT_EQ(Kvx().decoderReads(2), 2u);
    EXPECT_TRUE(Kvx().decoderWrites(2).empty()) << "a read writes no register";
    EXPECT_EQ(Kvx().values(DevProg(2)).back(), 0);
}

TEST_F(KvxIoTest, DecoderWriteThenReadRoundTrips)
{
    for (uint32_t reg : {0u, 63u, 64u, 127u}) {
        mp_kvx_set_dec_reg(0, reg, 0x5A ^ reg);
        EXPECT_EQ(mp_kvx_read_dec_reg(0, reg), (0x5A ^ reg) & 0xFF) << reg;
    }
}

// ---- DAC and PLL ---------------------------------------------------------------------------

TEST_F(KvxIoTest, DacSendsAddressAndValueMsbFirstAndLatchesOnTheLoadPulse)
{
    Live(0, cam1::FAF_DEVPROG) = kPllStrobe;   // another device's line stays as it is
    mp_kvx_set_dac_reg(0x3C, 5);
    EXPECT_EQ(Kvx().dac(5), 0x3C);
    EXPECT_EQ(Kvx().dacLoads(), (std::vector<std::pair<int, uint8_t>>{{5, 0x3C}}));
    const auto v = Kvx().values(DevProg(0));
    EXPECT_EQ(BitsAtRisingEdges(v, kDacClock, kDacData, kDacLoad), Join(MsbFirst(5, 3), MsbFirst(0x3C, 8)));
    EXPECT_EQ(v.back(), kPllStrobe);
    EXPECT_EQ(Live(0, cam1::FAF_DEVPROG) & 0xFFFF, kPllStrobe);
}

TEST_F(KvxIoTest, PllSendsNumberAndValueLsbFirstBetweenZeroClocks)
{
    mp_kvx_set_pll_reg(3, 0x5A3, 2);
    EXPECT_EQ(Kvx().pll(3, 2), 0x5A3);
    const auto v = Kvx().values(DevProg(3));
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v[0], kPllStrobe) << "data and clock low, strobe high in one write";
    EXPECT_EQ(v[1], 0) << "then the strobe falls";
    const auto bits = Join(Join(Join({0}, LsbFirst(2, 3)), LsbFirst(0x5A3, 11)), {0});
    EXPECT_EQ(BitsAtRisingEdges(v, kPllClock, kPllData), bits);
    EXPECT_EQ(v.back(), kPllStrobe) << "the strobe stays high, clock and data low";
    EXPECT_EQ(v.size(), 2u + 4u * 15u + 1u + 4u);
}

TEST_F(KvxIoTest, OutOfRangeAddressesWriteNothing)
{
    mp_kvx_set_dac_reg(0x11, 8);
    mp_kvx_set_pll_reg(0, 0x123, 7);
    EXPECT_EQ(Kvx().writeCount(), 0u);
}

TEST_F(KvxIoTest, ChannelsFromFourOnAreRefused)
{
    mp_kvx_set_dec_reg(4, 1, 2);
    EXPECT_EQ(mp_kvx_read_dec_reg(7, 1), 0u);
    mp_kvx_set_pll_reg(4, 1, 0);
    mp_kvx_set_pll_bit(0x80000000u, 1);
    EXPECT_EQ(Kvx().writeCount(), 0u);
    boardsim::BoardSim::instance().setTracing(true);
    mp_kvx_set_dec_reg(1000, 1, 2);
    EXPECT_TRUE(boardsim::BoardSim::instance().trace().empty());
}

TEST_F(KvxIoTest, WithoutTheNodesRecordNothingIsWritten)
{
    mpPrvSetKvxInfo(kNode, nullptr);
    mp_kvx_set_dec_reg(0, 1, 2);
    mp_kvx_set_dac_reg(1, 0);
    mp_kvx_set_pll_reg(0, 1, 0);
    EXPECT_EQ(mp_kvx_read_dec_reg(0, 1), 0u);
    EXPECT_EQ(Kvx().writeCount(), 0u);
}

// ---- serial access of the family ---------------------------------------------------------

TEST_F(KvxIoTest, SerialAccessOperations)
{
    MP_RESOURCE_ST res{};
    res.node = kNode;
    res.record = &chipsfixture::Record();
    EXPECT_EQ(mpDigSerAccess_Async(&res, 256, 1, 0x77, 12), 0u);
    EXPECT_EQ(Kvx().decoder(1, 12), 0x77);
    EXPECT_EQ(mpDigSerAccess_Async(&res, 0, 1, 0, 12), 0x77u);
    EXPECT_EQ(mpDigSerAccess_Async(&res, 1024, 9, 0x42, 6), 0u) << "the DAC ignores the channel";
    EXPECT_EQ(Kvx().dac(6), 0x42);
    EXPECT_EQ(mpDigSerAccess_Async(&res, 2048, 2, 0x3FF, 4), 0u);
    EXPECT_EQ(Kvx().pll(2, 4), 0x3FF);
    Kvx().clearLog();
    EXPECT_EQ(mpDigSerAccess_Async(&res, 512, 1, 0x55, 12), 0u);
    EXPECT_EQ(mpDigSerAccess_Async(&res, 0x300, 1, 0x55, 12), 0u);
    EXPECT_EQ(Kvx().writeCount(), 0u);
}

// ---- register primitives -------------------------------------------------------------------

TEST_F(KvxIoTest, PortsWriteAndReadSuccessiveTimingBytes)
{
    const uint32_t port = KvxRegAddr(SinglePort(2));
    flushIndexHw(port, cam1::FAF_PSVAL, cam1::FAF_PTOTAL);
    flushDataHw(port, 0x1234);
    flushDataHw(port, 0xBEEF);
    EXPECT_EQ(Kvx().timing(2, 2), 0x1234);
    EXPECT_EQ(Kvx().timing(2, 4), 0xBEEF) << "the next register follows";
    flushIndexHw(KvxRegAddr(BurstPort(2)), cam1::FAF_PSVAL, cam1::FAF_PTOTAL);
    EXPECT_EQ(readDataHw(KvxRegAddr(BurstPort(2))), 0x1234u) << "both ports reach the one chip";
    EXPECT_EQ(Kvx().timing(1, 2), 0) << "each channel has its own";
}

TEST_F(KvxIoTest, FlushWritesBothLanesAndShiftsArithmetically)
{
    flushHw(KvxRegAddr(BTC_CLKSEL), 0x1A09);
    EXPECT_EQ(Kvx().reg(BTC_CLKSEL), 0x1A09);
    const auto w = Kvx().writes(BTC_CLKSEL);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_FALSE(w[0].high);
    EXPECT_TRUE(w[1].high);
    flushHw(KvxRegAddr(BTC_CLKSEL), -2);
    EXPECT_EQ(Kvx().reg(BTC_CLKSEL), 0xFFFE);
}

TEST_F(KvxIoTest, FlushDelayIsAQuarterOfTheSpeedInMegahertz)
{
    _NODE_ST* saved = imNodeSt;
    imNodeSt = nullptr;
    EXPECT_EQ(mpPrvKvxFlushLoops(), 250u);
    auto state = std::make_unique<_NODE_ST>();
    imNodeSt = state.get();
    EXPECT_EQ(mpPrvKvxFlushLoops(), 250u) << "an unmeasured speed counts as 1 GHz";
    state->cpuFrequency = 2000000000u;
    EXPECT_EQ(mpPrvKvxFlushLoops(), 500u);
    imNodeSt = saved;
}

// ---- EEPROM and input LUTs of the module ----------------------------------------------------

TEST_F(KvxIoTest, EepromOnTheControllersRegisterRoundTrips)
{
    EXPECT_EQ(mp_kvx_set_eeprom(17, 0xC0DE), 0);
    EXPECT_EQ(Kvx().eeprom(17), 0xC0DE);
    Kvx().setEeprom(18, 0x1234);
    EXPECT_EQ(mp_kvx_get_eeprom(18), 0x1234);
    EXPECT_EQ(mp_kvx_erase_eeprom(17), 0);
    EXPECT_EQ(Kvx().eeprom(17), 0xFFFF);
}

TEST_F(KvxIoTest, LutDataReachesEveryEnabledLutAndAdvancesTheIndex)
{
    const uint32_t port = KvxRegAddr(0);
    auto low = [&](uint32_t r, uint32_t v) { HwWrite32(port, PortLow(r), v); };
    low(ISF_LUTEN, 0x05);   // LUTs 0 and 2
    low(ISF_LUTIDX, 254);
    low(ISF_LUTDATA, 0x11);
    low(ISF_LUTDATA, 0x22);
    low(ISF_LUTDATA, 0x33);   // the index wraps to entry 0
    EXPECT_EQ(Kvx().lut(0, 254), 0x11);
    EXPECT_EQ(Kvx().lut(2, 255), 0x22);
    EXPECT_EQ(Kvx().lut(0, 0), 0x33);
    EXPECT_EQ(Kvx().lut(1, 254), 0) << "a LUT not enabled keeps its entries";
    low(ISF_LUTEN, 0x04);
    low(ISF_LUTIDX, 255);
    EXPECT_EQ(HwRead32(port, PortLow(ISF_LUTDATA)) & 0xFF, 0x22u);
    low(ISF_LUTEN, 0x01);
    EXPECT_EQ(HwRead32(port, PortLow(ISF_LUTDATA)) & 0xFF, 0x33u) << "a read advances the index too";
    EXPECT_EQ(HwRead32(port, PortLow(ISF_LUTIDX)) & 0xFF, 255u) << "the index register reads what was written";
}

} // namespace
