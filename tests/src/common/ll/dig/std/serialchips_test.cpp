#include "../chipsfixture.h"

#include <cmath>

using namespace chipsfixture;

namespace {

constexpr uint32_t kDevPrg = grabregs::kSerialPort;

// ---- the ICD2061A program word ---------------------------------------------------------

TEST(Icd2061Word, GoldenWordsForKnownFrequencies)
{
    struct Case {
        uint32_t address, kHz, word;
    } cases[] = {
        {3, 14318, 0x646D0D},    // I 2, P 30, M 2, Q 15, prescale 2
        {0, 28636, 0x046C8D},    // I 2, P 30, M 1, Q 15
        {3, 20000, 0x717120},    // I 8, P 95, M 2, Q 34
        {0, 10000, 0x011155BD},  // I 8, P 88, M 3, Q 63, prescale 4 (bit 24)
        {0, 391, 0x01017BED},    // I 0, P 97, M 7, Q 111, prescale 4
        {2, 120000, 0x5D5413},   // VCO exactly 120 MHz: I 14
    };
    for (const Case& c : cases)
        EXPECT_EQ(mp_dig_calc_icd2061(c.address, c.kHz, 0), c.word) << c.address << " " << c.kHz;
}

TEST(Icd2061Word, FrequenciesAndAddressesOutOfRangeGiveNoWord)
{
    EXPECT_EQ(mp_dig_calc_icd2061(0, 390, 0), 0u);
    EXPECT_EQ(mp_dig_calc_icd2061(0, 120001, 0), 0u);
    EXPECT_EQ(mp_dig_calc_icd2061(4, 14318, 0), 0u);
    // 4,295,000 kHz x 1000 wraps to 32,704,000 Hz in 32 bits; the range check comes first.
    EXPECT_EQ(mp_dig_calc_icd2061(0, 4295000, 0), 0u);
    EXPECT_EQ(mp_dig_calc_icd2061(0, 0xFFFFFFFFu, 0), 0u);
}

TEST(Icd2061Word, ExtraControlBitsGoToTheTopOfClockRegisterWordsOnly)
{
    EXPECT_EQ(mp_dig_calc_icd2061(0, 28636, 0x000F8000), 0xF8046C8Du);
    EXPECT_EQ(mp_dig_calc_icd2061(0, 28636, 0x00007FFF), 0x046C8Du) << "bits below 15 are not used";
    EXPECT_EQ(mp_dig_calc_icd2061(3, 14318, 0x000F8000), 0x646D0Du) << "the system clock register has no control bits";
    // Register 1 at 10 MHz takes prescale 4: bit 25.
    EXPECT_EQ(mp_dig_calc_icd2061(1, 10000, 0), 0x023155BDu);
}

TEST(Icd2061Word, VcoRangeIndex)
{
    EXPECT_EQ(mpPrvIcd2061Index(50000000), 0u);
    EXPECT_EQ(mpPrvIcd2061Index(53199999), 1u);
    EXPECT_EQ(mpPrvIcd2061Index(57272000), 2u);
    EXPECT_EQ(mpPrvIcd2061Index(119999999), 12u) << "13 (120 MHz itself) counts as 14";
    EXPECT_EQ(mpPrvIcd2061Index(120000000), 14u);
}

// ---- writers against the module --------------------------------------------------------

using SerialChipsTest = GrabModuleTest;

TEST_F(SerialChipsTest, LevelDacTakesAddressAndValueMsbFirst)
{
    mp_dig_set_dac1_reg(0xA5, 5);
    const auto v = Values(kDevPrg);
    ASSERT_EQ(v.size(), 50u) << "clear, load, 11 bits of four writes, the load pulse, clock low, clear";
    EXPECT_EQ(v.front(), 0);
    EXPECT_EQ(v.back(), 0);
    EXPECT_EQ(BitsAtRisingEdges(v, grabregs::kDac1Clock, grabregs::kDac1Data),
              Join(MsbFirst(5, 3), MsbFirst(0xA5, 8)));
    EXPECT_EQ(Grab().dac(1, 5), 0xA5);
    EXPECT_EQ(Grab().dacLoads(1), (std::vector<std::pair<int, uint8_t>>{{5, 0xA5}}));
    EXPECT_TRUE(Grab().dacLoads(2).empty());
    EXPECT_EQ(Grab().reg(kDevPrg), 0);
}

TEST_F(SerialChipsTest, ReferenceDacUsesItsOwnLines)
{
    mp_dig_set_dac2_reg(0x3C, 7);
    mp_dig_set_dac2_reg(0x01, 0);
    EXPECT_EQ(Grab().dacLoads(2), (std::vector<std::pair<int, uint8_t>>{{7, 0x3C}, {0, 0x01}}));
    EXPECT_TRUE(Grab().dacLoads(1).empty());
    for (uint16_t v : Values(kDevPrg)) EXPECT_EQ(v & ~0x0E00, 0) << "only the second DAC's lines move";
}

TEST_F(SerialChipsTest, DacChannelsOutsideZeroToSevenWriteNothing)
{
    mp_dig_set_dac1_reg(1, 8);
    mp_dig_set_dac1_reg(1, -1);
    mp_dig_set_dac2_reg(1, 8);
    EXPECT_TRUE(Values(kDevPrg).empty());
}

TEST_F(SerialChipsTest, Ics1522TakesRegisterAndElevenBitsLsbFirst)
{
    mp_dig_set_ics1522_reg(0xFA5, 3);
    const auto v = Values(kDevPrg);
    ASSERT_EQ(v.size(), 69u);
    EXPECT_EQ(v.front(), 0);
    EXPECT_EQ(v.back(), 0);
    EXPECT_EQ(BitsAtRisingEdges(v, grabregs::kIcsClock, grabregs::kIcsData),
              Join(Join({0}, LsbFirst(3, 3)), Join(LsbFirst(0x7A5, 11), {0})));
    EXPECT_EQ(Grab().ics1522(3), 0x7A5) << "a value above 2047 sends its low eleven bits";
    mp_dig_set_ics1522_reg(1, 7);
    mp_dig_set_ics1522_reg(1, -1);
    EXPECT_EQ(Values(kDevPrg).size(), 69u);
    EXPECT_EQ(Grab().ics1522Loads().size(), 1u);
}

TEST_F(SerialChipsTest, Ds1020TakesEightBitsMsbFirst)
{
    mp_dig_set_1020_delay(0x3C);
    const auto v = Values(kDevPrg);
    ASSERT_EQ(v.size(), 30u);
    EXPECT_EQ(v.front(), 0);
    EXPECT_EQ(v.back(), 0);
    EXPECT_EQ(BitsAtRisingEdges(v, grabregs::kDs1020Clock, grabregs::kDs1020Data), MsbFirst(0x3C, 8));
    EXPECT_EQ(Grab().ds1020(), 0x3C);
}

TEST_F(SerialChipsTest, LineHelpersWriteOnceEach)
{
    set_clk();
    set_data();
    clr_clk();
    clr_data();
    mp_dig_rst_devprg();
    EXPECT_EQ(Values(kDevPrg), (std::vector<uint16_t>{1, 3, 2, 0, 0}));
}

TEST_F(SerialChipsTest, ClockRegisterWordSendsTheControlWordFirst)
{
    const uint32_t word = mp_dig_calc_icd2061(1, 10000, 0);
    ASSERT_EQ(word, 0x023155BDu);
    mp_dig_set_icd2061(word);
    // Control: bit 13 (register 1's prescale) from the word's bit 25, address 6.
    EXPECT_EQ(Grab().icdWords(), (std::vector<uint32_t>{0xC02000, 0x3155BD}));
    EXPECT_EQ(Grab().icdControl(), 0x2000);
    EXPECT_EQ(Live(cam0::ICD2061CONTROL)->value, 0x2000u);
    const boardsim::GrabClock clock = Grab().icdClock(1);
    ASSERT_TRUE(clock.loaded);
    EXPECT_EQ(clock.p, 88u);
    EXPECT_EQ(clock.q, 63u);
    EXPECT_EQ(clock.m, 3u);
    EXPECT_EQ(clock.prescale, 4u);
    EXPECT_NEAR(clock.outputHz, 10e6, 10e3);
    const auto v = Values(kDevPrg);
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v[v.size() - 2], grabregs::kIcdClock) << "clock high, data low: selection 1";
    EXPECT_EQ(v.back(), 0);
}

TEST_F(SerialChipsTest, ControlWordKeepsTheOtherPrescaleBits)
{
    mp_dig_set_icd2061(mp_dig_calc_icd2061(0, 10000, 0));   // register 0 at prescale 4: bit 12
    mp_dig_set_icd2061(mp_dig_calc_icd2061(1, 28636, 0));   // register 1 at prescale 2: bit 13 clear
    EXPECT_EQ(Grab().icdControl(), 0x1000);
    mp_dig_set_icd2061(mp_dig_calc_icd2061(2, 391, 0));     // register 2 at prescale 4: bit 14
    EXPECT_EQ(Grab().icdControl(), 0x5000);
    const auto v = Values(kDevPrg);
    EXPECT_EQ(v[v.size() - 2], grabregs::kIcdClock | grabregs::kIcdData) << "register 2 leaves selection 3";
    EXPECT_NEAR(Grab().icdClock(2).outputHz, 391e3, 1e3);
}

TEST_F(SerialChipsTest, SystemClockWordGoesAloneAndLeavesSelectionZero)
{
    mp_dig_set_icd2061(0x646D0D);
    EXPECT_EQ(Grab().icdWords(), (std::vector<uint32_t>{0x646D0D}));
    EXPECT_NEAR(Grab().icdClock(3).outputHz, 14318e3, 20e3);
    const auto v = Values(kDevPrg);
    EXPECT_EQ(v[v.size() - 2], 0);
    EXPECT_EQ(Grab().reg(kDevPrg), 0);
}

TEST_F(SerialChipsTest, WordZeroIsNeverSent)
{
    mp_dig_set_icd2061(mp_dig_calc_icd2061(0, 390, 0));
    EXPECT_TRUE(Values(kDevPrg).empty());
    EXPECT_FALSE(Grab().icdClock(0).loaded);
}

} // namespace
