// The standard grab module behind the primary Orlo's port window, driven through the
// accessor layer as the library drives it: the id byte and the FPGA port on word 0, the
// register lanes and the write log, the read-backs, and each chip decoding the line
// sequences it is sent (and nothing when a sequence breaks its protocol).
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "regmap/driver_requests.h"
#include "regmap/grab_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace boardsim;
using namespace grabregs;

namespace {

class SimGrabTest : public ::testing::Test {
protected:
    void SetUp() override { Use(BoardSpec{}); }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        node_ = kInvalidDevice;
        BoardSim::instance().configure();
    }
    void Use(const BoardSpec& spec)
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        Topology t;
        t.boards = {spec};
        t.clock = ClockMode::Virtual;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        regs_ = Map(kOrloRegisterOffset, kOrloRegisterSize);
        port_ = Map(kOrloPortOffset, kOrloPortSize);
        PortOption(true);
        dp_ = eep_ = uart_ = 0;
    }
    uint32_t Map(uint32_t offset, uint32_t size)
    {
        uint32_t request[5] = {0, 0x11, 4, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    void PortOption(bool on)
    {
        const uint32_t v = HwRead32(regs_, kOrloStatus);
        HwWrite32(regs_, kOrloStatus, on ? (v | kStatusPortOption) : (v & ~kStatusPortOption));
    }
    GrabView Grab() const { return BoardSim::instance().grab(0); }

    // A register write as the shadow writer makes it: low lane, then high lane.
    void Set(uint32_t n, uint16_t v)
    {
        HwWrite32(port_, PortLow(n), v & 0xFF);
        HwWrite32(port_, PortHigh(n), v >> 8);
    }
    uint16_t Get(uint32_t n)
    {
        return static_cast<uint16_t>((HwRead32(port_, PortLow(n)) & 0xFF) | ((HwRead32(port_, PortHigh(n)) & 0xFF) << 8));
    }

    // ---- device-programming register: one write per line change
    void Dp(uint16_t v)
    {
        dp_ = v;
        Set(kSerialPort, v);
    }
    void Raise(uint16_t m) { Dp(dp_ | m); }
    void Lower(uint16_t m) { Dp(dp_ & ~m); }
    void Put(uint16_t m, bool on) { on ? Raise(m) : Lower(m); }

    // DAC8800: load high; 3 address + 8 data bits (MSB first unless told), each: clock low,
    // data, clock high, clock low; load low and high; clock low; 0.
    void SendDac(int which, uint8_t value, int channel, bool lsbFirst = false, int bits = 11)
    {
        const uint16_t load = which == 1 ? kDac1Load : kDac2Load;
        const uint16_t clock = which == 1 ? kDac1Clock : kDac2Clock;
        const uint16_t data = which == 1 ? kDac1Data : kDac2Data;
        const uint32_t word = (static_cast<uint32_t>(channel & 7) << 8) | value;
        Dp(0);
        Raise(load);
        for (int i = 0; i < bits; ++i) {
            const int bit = lsbFirst ? i : bits - 1 - i;   // a longer word has leading 0s
            Lower(clock);
            Put(data, bit < 11 && ((word >> bit) & 1));
            Raise(clock);
            Lower(clock);
        }
        Lower(load);
        Raise(load);
        Lower(clock);
        Dp(0);
    }
    // ICS1522: strobe pulse, one clock with data low, 3 register and 11 value bits LSB
    // first, strobe high, one more clock, 0.
    void SendIcs(uint16_t value, int reg, bool leadingZero = true, bool msbFirst = false)
    {
        Dp(0);
        Raise(kIcsStrobe);
        Lower(kIcsStrobe);
        if (leadingZero) {
            Lower(kIcsClock);
            Lower(kIcsData);
            Raise(kIcsClock);
            Lower(kIcsClock);
        }
        const uint32_t word = (static_cast<uint32_t>(value & 0x7FF) << 3) | (reg & 7);
        for (int i = 0; i < 14; ++i) {
            const int bit = msbFirst ? 13 - i : i;
            Lower(kIcsClock);
            Put(kIcsData, (word >> bit) & 1);
            Raise(kIcsClock);
            Lower(kIcsClock);
        }
        Raise(kIcsStrobe);
        Lower(kIcsClock);
        Lower(kIcsData);
        Raise(kIcsClock);
        Lower(kIcsClock);
        Dp(0);
    }
    // DS1020: enable low then high; 8 bits MSB first (clock low, data, clock high); clock
    // low, enable low, 0.
    void SendDs1020(uint8_t value, int bits = 8)
    {
        Dp(0);
        Lower(kDs1020Enable);
        Raise(kDs1020Enable);
        for (int i = 0; i < bits; ++i) {
            Lower(kDs1020Clock);
            Put(kDs1020Data, (value >> (7 - i)) & 1);
            Raise(kDs1020Clock);
        }
        Lower(kDs1020Clock);
        Lower(kDs1020Enable);
        Dp(0);
    }
    // ICD2061A: unlock (data high, five clock pulses), start bit, 24 bits LSB first (data
    // the inverse, clock low, data the bit, clock high), stop, three writes with clock low,
    // the selection, 0.  unlockOnes and a bit to break let the tests spoil the protocol.
    void SendIcd(uint32_t word, uint32_t selection = 0, int unlockOnes = 5, int brokenBit = -1)
    {
        Dp(0);
        Lower(kIcdClock);
        Raise(kIcdData);
        for (int i = 0; i < unlockOnes; ++i) {
            Raise(kIcdClock);
            Lower(kIcdClock);
        }
        Lower(kIcdData);
        Raise(kIcdClock);
        Lower(kIcdClock);
        Raise(kIcdClock);
        for (int i = 0; i < 24; ++i) {
            const bool bit = (word >> i) & 1;
            Put(kIcdData, i == brokenBit ? bit : !bit);
            Lower(kIcdClock);
            Put(kIcdData, bit);
            Raise(kIcdClock);
        }
        Raise(kIcdData);
        Lower(kIcdClock);
        Raise(kIcdClock);
        Lower(kIcdClock);
        for (int i = 0; i < 3; ++i) Dp(dp_);
        Dp(static_cast<uint16_t>((dp_ & ~(kIcdData | kIcdClock)) | ((selection & 2) ? kIcdData : 0) |
                                 ((selection & 1) ? kIcdClock : 0)));
        Dp(0);
    }

    // ---- EEPROM lines on register 42
    void E(uint16_t v)
    {
        eep_ = v;
        Set(kEepromPort, v);
    }
    void ESelect(bool on) { E(on ? (eep_ | kEepromSelect) : (eep_ & ~kEepromSelect)); }
    void EData(bool on) { E(on ? (eep_ | kEepromDataIn) : (eep_ & ~kEepromDataIn)); }
    void EToggle()
    {
        E(eep_ | kEepromClock);
        E(eep_ & ~kEepromClock);
    }
    bool EOut() { return (Get(kEepromPort) & kEepromDataOut) != 0; }
    void ESend(const std::string& bits)
    {
        for (char c : bits) {
            EData(c == '1');
            EToggle();
        }
    }
    static std::string Bits(uint32_t v, int n)
    {
        std::string s;
        for (int i = n - 1; i >= 0; --i) s += ((v >> i) & 1) ? '1' : '0';
        return s;
    }
    uint16_t ERead(uint32_t address)
    {
        E(0);
        ESelect(true);
        ESend("110" + Bits(address, 10));
        EData(false);
        EOut();   // the dummy 0
        uint16_t v = 0;
        for (int i = 0; i < 16; ++i) {
            EToggle();
            v = static_cast<uint16_t>((v << 1) | (EOut() ? 1 : 0));
        }
        EToggle();
        ESelect(false);
        E(0);
        return v;
    }
    // A command framed by chip select, then chip select high again for the status.
    void ECommand(const std::string& bits)
    {
        E(0);
        ESelect(true);
        ESend(bits);
        EData(false);
        ESelect(false);
        ESelect(true);
    }
    // Polls data out every 1 ms of the machine's clock; true once it reads 1.
    bool EWaitReady(double limit)
    {
        const double start = BoardSim::instance().now();
        while (!EOut()) {
            if (BoardSim::instance().now() - start >= limit) return false;
            BoardSim::instance().advance(0.001);
        }
        return true;
    }
    void EEnd()
    {
        ESelect(false);
        E(0);
    }
    static const std::string kEnable, kDisable, kEraseAll, kWriteAll;

    // ---- UART lines on register 43 (chip select active low)
    void U(uint16_t v)
    {
        uart_ = v;
        Set(kUartPort, v);
    }
    // One frame: clock low, select low, 16 bits MSB first (data, clock high, sample, clock
    // low), select high; the answer as sampled after each rising clock.
    uint16_t Frame(uint16_t word, int clocks = 16)
    {
        U(uart_ & ~kUartClock);
        U(uart_ & ~kUartSelect);
        uint16_t answer = 0;
        for (int i = 0; i < clocks; ++i) {
            const bool bit = (word >> (15 - i)) & 1;
            U(bit ? (uart_ | kUartDataIn) : (uart_ & ~kUartDataIn));
            U(uart_ | kUartClock);
            answer = static_cast<uint16_t>((answer << 1) | (Get(kUartPort) & kUartDataOut));
            U(uart_ & ~kUartClock);
        }
        U(uart_ | kUartSelect);
        return answer;
    }

    DeviceHandle node_ = kInvalidDevice;
    uint32_t regs_ = 0, port_ = 0;
    uint16_t dp_ = 0, eep_ = 0, uart_ = 0;
};

const std::string SimGrabTest::kEnable = "0100" "11" "00000000";
const std::string SimGrabTest::kDisable = "0100" "00" "00000000";
const std::string SimGrabTest::kEraseAll = "0100" "10" "00000000";
const std::string SimGrabTest::kWriteAll = "0100" "01" "00000000";

// ---------------------------------------------------------------- register map

TEST(GrabRegisterMap, SlotsAndLanesAndBaudCodesAreTheModulesOwn)
{
    // The record slots of the unnamed registers: EEPROM lines, UART control, Sorvik II word.
    EXPECT_EQ(Slot(kEepromPort), 336u);
    EXPECT_EQ(Slot(kUartPort), 344u);
    EXPECT_EQ(Slot(kSorvikControl), 376u);
    EXPECT_EQ(PortLow(kSerialPort), 1632u);
    EXPECT_EQ(PortHigh(kSerialPort), 1640u);
    EXPECT_EQ(PortHigh(kRegisterCount - 1) + 8, kOrloPortSize);
    const uint32_t rates[16] = {230400, 115200, 57600, 28800, 14400, 7200, 3600, 1800,
                                76800,  38400,  19200, 9600,  4800,  2400, 1200, 600};
    for (int code = 0; code < 16; ++code) EXPECT_EQ(kUartBaudRates[code], rates[code]) << code;
    // Every line of the device-programming register belongs to one chip only.
    const uint16_t lines[] = {kIcdClock,    kIcdData,   kIcsClock,  kIcsData,   kIcsStrobe,
                              kDs1020Enable, kDs1020Data, kDs1020Clock, kDac2Clock, kDac2Data,
                              kDac2Load,    kDac1Clock, kDac1Data,  kDac1Load};
    uint16_t seen = 0;
    for (uint16_t l : lines) {
        EXPECT_EQ(seen & l, 0) << std::hex << l;
        seen |= l;
    }
    EXPECT_EQ(seen, 0xEEFFu);   // bits 8 and 12 carry no line
}

// ---------------------------------------------------------------- port window

TEST_F(SimGrabTest, WordZeroAnswersTheIdByteOfEachTypeWhileThePortOptionIsOff)
{
    const std::pair<uint8_t, uint32_t> cases[] = {{1, 254}, {2, 28}, {34, 24}, {0, 255}, {7, 255}};
    for (const auto& c : cases) {
        BoardSpec spec;
        spec.moduleType = c.first;
        spec.fpgaConfigured = true;
        Use(spec);
        PortOption(false);
        EXPECT_EQ(HwRead32(port_, 0), c.second) << "type " << int(c.first);
        EXPECT_EQ(Grab().idByte(), c.second);
        EXPECT_EQ(Grab().fitted(), c.second != 255);
        // With the option on, word 0 is register 0's low lane.
        PortOption(true);
        if (Grab().fitted()) {
            Set(DIG_SHCNT, 0x1234);
            EXPECT_EQ(Get(DIG_SHCNT), 0x1234u);
        }
    }
}

TEST_F(SimGrabTest, WordZeroFeedsTheFpgaUntilItIsDone)
{
    BoardSpec spec;
    spec.fpgaBytes = 2;
    Use(spec);
    HwWrite32(port_, 0, 0x11);
    HwWrite32(port_, 0, 0x22);
    EXPECT_TRUE(BoardSim::instance().fpga(0).done());
    HwWrite32(port_, 0, 0x33);   // now register 0's low lane
    EXPECT_EQ(BoardSim::instance().fpga(0).data(), (std::vector<uint8_t>{0x11, 0x22}));
    EXPECT_EQ(Grab().reg(DIG_SHCNT), 0x33u);
    ASSERT_EQ(Grab().writes(DIG_SHCNT).size(), 1u);
}

TEST_F(SimGrabTest, OnlyTheLowByteOfEachLaneCountsAndEveryLaneWriteIsLogged)
{
    HwWrite32(port_, PortLow(DIG_HTOTAL), 0xABCD12);
    HwWrite32(port_, PortHigh(DIG_HTOTAL), 0xFF05);
    HwWrite32(port_, PortLow(DIG_HTOTAL) + 4, 0x77);   // between the lanes: nothing
    EXPECT_EQ(Grab().reg(DIG_HTOTAL), 0x0512u);
    EXPECT_EQ(HwRead32(port_, PortLow(DIG_HTOTAL)), 0x12u);
    EXPECT_EQ(HwRead32(port_, PortHigh(DIG_HTOTAL)), 0x05u);
    EXPECT_EQ(Grab().writes(DIG_HTOTAL),
              (std::vector<GrabWrite>{{false, 0x12, 0x0012}, {true, 0x05, 0x0512}}));
    Set(DIG_HTOTAL, 0x0600);
    EXPECT_EQ(Grab().values(DIG_HTOTAL), (std::vector<uint16_t>{0x0512, 0x0600}));
    Grab().clearLog();
    EXPECT_TRUE(Grab().writes(DIG_HTOTAL).empty());
    EXPECT_EQ(Grab().reg(DIG_HTOTAL), 0x0600u);
}

TEST_F(SimGrabTest, ReadBacksCarryTheModulesOwnBits)
{
    // Counters, user inputs and timer outputs.
    Grab().setCounters(0x1234, 0x0567);
    EXPECT_EQ(Get(kHorizontalCounter), 0x1234u);
    EXPECT_EQ(Get(kVerticalCounter), 0x0567u);
    Set(DIG_USRREG, 0x00F0);
    EXPECT_EQ(Get(DIG_USRREG), 0x00F0u);   // inputs not driven: the latch
    Grab().setUserInputs(false, true);
    EXPECT_EQ(Get(DIG_USRREG), 0x00E0u);
    Grab().setUserInputs(true, false);
    EXPECT_EQ(Get(DIG_USRREG), 0x00D0u);
    Set(DIG_T1CTL, 0x0123);
    Set(DIG_T2CTL, 0x8123);
    Grab().setTimerOutput(1, true);
    EXPECT_EQ(Get(DIG_T1CTL), 0x8123u);
    EXPECT_EQ(Get(DIG_T2CTL), 0x0123u);
    // DIM fitted on bit 3 of DIG_DICTL whatever was written.
    Set(DIG_DICTL, 0);
    EXPECT_EQ(Get(DIG_DICTL), kDimSelect);
    Grab().setDimFitted(false);
    Set(DIG_DICTL, kDimSelect | kDimEnable);
    EXPECT_EQ(Get(DIG_DICTL), kDimEnable);
    // EEPROM present only while DIG_SRCCFG bits 13 and 14 are both set.
    Set(DIG_SRCCFG, 0x2000);
    EXPECT_EQ(Get(kEepromPresentPort) & kEepromPresent, 0u);
    Set(DIG_SRCCFG, 0x6000);
    EXPECT_EQ(Get(kEepromPresentPort) & kEepromPresent, kEepromPresent);
    Grab().setEepromFitted(false);
    EXPECT_EQ(Get(kEepromPresentPort) & kEepromPresent, 0u);
}

TEST_F(SimGrabTest, ABoardWithoutAStandardModuleKeepsPlainMemoryAndAnswersNothing)
{
    BoardSpec spec;
    spec.moduleType = 4;
    Use(spec);
    Set(kSerialPort, 0x8000);
    EXPECT_EQ(Get(kSerialPort), 0x8000u);
    EXPECT_TRUE(Grab().writes(kSerialPort).empty());
    EXPECT_EQ(Grab().dac(1, 0), -1);
    EXPECT_EQ(Grab().eeprom(0), -1);
}

// ---------------------------------------------------------------- DAC8800s

TEST_F(SimGrabTest, EachDac8800DecodesAddressAndValueMsbFirst)
{
    SendDac(1, 0xA7, 5);
    SendDac(2, 0x3C, 7);
    SendDac(1, 0x01, 0);
    EXPECT_EQ(Grab().dac(1, 5), 0xA7);
    EXPECT_EQ(Grab().dac(1, 0), 0x01);
    EXPECT_EQ(Grab().dac(2, 7), 0x3C);
    EXPECT_EQ(Grab().dacLoads(1), (std::vector<std::pair<int, uint8_t>>{{5, 0xA7}, {0, 0x01}}));
    EXPECT_EQ(Grab().dacLoads(2), (std::vector<std::pair<int, uint8_t>>{{7, 0x3C}}));
    const auto v = Grab().values(kSerialPort);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.front(), 0u);
    EXPECT_EQ(v.back(), 0u);
    // 2 + 11 x 4 + 2 + 2 writes per word.
    EXPECT_EQ(v.size(), 3u * 50u);
}

TEST_F(SimGrabTest, ADac8800WordSentOtherwiseIsNotLoadedAsSent)
{
    SendDac(1, 0x80, 1, true);   // LSB first: another channel and value
    ASSERT_EQ(Grab().dacLoads(1).size(), 1u);
    EXPECT_NE(Grab().dacLoads(1)[0], (std::pair<int, uint8_t>{1, 0x80}));
    SendDac(2, 0x55, 2, false, 10);   // a bit short
    SendDac(2, 0x55, 2, false, 12);   // a bit long
    EXPECT_TRUE(Grab().dacLoads(2).empty());
    // Clock pulses with load low are not taken, and no transfer without the load pulse.
    Dp(0);
    for (int i = 0; i < 11; ++i) {
        Raise(kDac2Clock);
        Lower(kDac2Clock);
    }
    Raise(kDac2Load);
    Dp(0);
    EXPECT_TRUE(Grab().dacLoads(2).empty());
}

// ---------------------------------------------------------------- ICS1522

TEST_F(SimGrabTest, Ics1522DecodesRegisterAndElevenBitsLsbFirst)
{
    SendIcs(0x5A3, 4);
    SendIcs(0x7FF, 0);
    SendIcs(0x001, 6);
    EXPECT_EQ(Grab().ics1522(4), 0x5A3);
    EXPECT_EQ(Grab().ics1522(0), 0x7FF);
    EXPECT_EQ(Grab().ics1522(6), 0x001);
    EXPECT_EQ(Grab().ics1522Loads(),
              (std::vector<std::pair<int, uint16_t>>{{4, 0x5A3}, {0, 0x7FF}, {6, 0x001}}));
    EXPECT_EQ(Grab().values(kSerialPort).back(), 0u);
}

TEST_F(SimGrabTest, Ics1522RefusesAWordWithoutItsLeadingZeroAndReadsMsbFirstWrongly)
{
    SendIcs(0x123, 2, false);
    EXPECT_TRUE(Grab().ics1522Loads().empty());
    SendIcs(0x001, 1, true, true);   // MSB first: the bits land reversed
    ASSERT_EQ(Grab().ics1522Loads().size(), 1u);
    EXPECT_NE(Grab().ics1522Loads()[0], (std::pair<int, uint16_t>{1, 0x001}));
}

// ---------------------------------------------------------------- DS1020

TEST_F(SimGrabTest, Ds1020TakesEightBitsMsbFirstAndOnlyEight)
{
    EXPECT_EQ(Grab().ds1020(), -1);
    SendDs1020(0xC5);
    EXPECT_EQ(Grab().ds1020(), 0xC5);
    SendDs1020(0x12, 7);
    EXPECT_EQ(Grab().ds1020(), 0xC5);
    EXPECT_EQ(Grab().ds1020Loads(), (std::vector<uint8_t>{0xC5}));
}

// ---------------------------------------------------------------- ICD2061A

TEST_F(SimGrabTest, Icd2061ReceivesAWordAndGivesItsFrequency)
{
    // Register 3: I 2, P 30, M 2, Q 15: VCO = 2 x 14318180 x 30 / 15, output / 4.
    SendIcd(0x646D0D);
    EXPECT_EQ(Grab().icdWords(), (std::vector<uint32_t>{0x646D0D}));
    const GrabClock c = Grab().icdClock(3);
    ASSERT_TRUE(c.loaded);
    EXPECT_EQ(c.p, 30u);
    EXPECT_EQ(c.q, 15u);
    EXPECT_EQ(c.m, 2u);
    EXPECT_EQ(c.index, 2u);
    EXPECT_EQ(c.prescale, 2u);
    EXPECT_DOUBLE_EQ(c.vcoHz, 57272720.0);
    EXPECT_DOUBLE_EQ(c.outputHz, 14318180.0);
    EXPECT_EQ(Grab().values(kSerialPort).back(), 0u);
}

TEST_F(SimGrabTest, Icd2061ControlWordSelectsThePrescaleOfAClockRegister)
{
    // Control word (address 6) with bit 12 set: register 0 prescales by 4; then the
    // 10 MHz word of register 0 (I 8, P 88, M 3, Q 63).
    SendIcd((6u << 21) | 0x1000);
    SendIcd(0x1155BD, 0);
    EXPECT_EQ(Grab().icdControl(), 0x1000);
    const GrabClock c = Grab().icdClock(0);
    ASSERT_TRUE(c.loaded);
    EXPECT_EQ(c.p, 88u);
    EXPECT_EQ(c.q, 63u);
    EXPECT_EQ(c.m, 3u);
    EXPECT_EQ(c.index, 8u);
    EXPECT_EQ(c.prescale, 4u);
    EXPECT_NEAR(c.outputHz, 10.0e6, 2.0);
    EXPECT_FALSE(Grab().icdClock(1).loaded);
    SendIcd(4u << 21 | 0x15);
    EXPECT_EQ(Grab().icdPowerDown(), 0x15u);
}

TEST_F(SimGrabTest, Icd2061DropsAWordWithAShortUnlockOrABrokenBit)
{
    SendIcd(0x646D0D, 0, 4);
    SendIcd(0x646D0D, 0, 5, 7);
    EXPECT_TRUE(Grab().icdWords().empty());
    EXPECT_FALSE(Grab().icdClock(3).loaded);
    EXPECT_EQ(Grab().icdControl(), -1);
    // The selection left on the lines before the clear does not disturb the next word.
    SendIcd(0x246D0D, 3);
    SendIcd(0x646D0D, 1);
    EXPECT_EQ(Grab().icdWords(), (std::vector<uint32_t>{0x246D0D, 0x646D0D}));
}

// ---------------------------------------------------------------- Bt261

TEST_F(SimGrabTest, Bt261TakesAddressAndDataFromTheHighBytesWhileSrcCfgOpensIt)
{
    Set(kBt261Address, 0x0500);   // closed: nothing
    Set(kBt261Data, 0x7700);
    EXPECT_TRUE(Grab().bt261Writes().empty());
    Set(DIG_SRCCFG, 0x6000);
    Set(kBt261Address, 0x0811);   // index 8; the low byte is not the chip's
    Set(kBt261Data, 0xA522);
    Set(kBt261Address, 0x1D00);
    Set(kBt261Data, 0x3C00);
    EXPECT_EQ(Grab().bt261(8), 0xA5);
    EXPECT_EQ(Grab().bt261(29), 0x3C);
    EXPECT_EQ(Grab().bt261(5), 0);
    EXPECT_EQ(Grab().bt261Writes(), (std::vector<std::pair<uint8_t, uint8_t>>{{8, 0xA5}, {29, 0x3C}}));
}

// ---------------------------------------------------------------- DIM register

TEST_F(SimGrabTest, DimShiftsLsbFirstAndLatchesOnTheLatchLine)
{
    uint16_t v = kDimSelect;
    Set(DIG_DICTL, v);
    v |= kDimEnable;
    Set(DIG_DICTL, v);
    std::vector<int> data;
    const uint8_t value = 0xA5;
    for (int i = 0; i < 8; ++i) {
        v = static_cast<uint16_t>((v & ~kDimData) | ((value >> i) & 1));
        Set(DIG_DICTL, v);
        data.push_back(v & kDimData);
        Set(DIG_DICTL, v | kDimClock);
        Set(DIG_DICTL, v);
    }
    EXPECT_EQ(Grab().dim(), -1);   // shifted, not latched
    Set(DIG_DICTL, v | kDimLatch);
    Set(DIG_DICTL, v);
    Set(DIG_DICTL, v & ~kDimEnable);
    EXPECT_EQ(data, (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(Grab().dim(), 0xA5);
    // Without enable the lines do nothing.
    Set(DIG_DICTL, kDimSelect | kDimClock);
    Set(DIG_DICTL, kDimSelect | kDimLatch);
    EXPECT_EQ(Grab().dimLoads(), (std::vector<uint8_t>{0xA5}));
}

// ---------------------------------------------------------------- EEPROM

TEST_F(SimGrabTest, EepromReadsAWordMsbFirstAfterADummyZero)
{
    Grab().setEeprom(1023, 0xB00F);
    Grab().setEeprom(0, 0x1234);
    EXPECT_EQ(ERead(1023), 0xB00Fu);
    EXPECT_EQ(ERead(0), 0x1234u);
    const auto cmds = Grab().eepromCommands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].op, EepromOp::Read);
    EXPECT_EQ(cmds[0].address, 1023u);
    EXPECT_FALSE(Grab().eepromSelected());
    // A calibration image preloaded from word 10 on.
    Grab().preloadEeprom({1, 2, 3}, 10);
    EXPECT_EQ(ERead(11), 2u);
    EXPECT_EQ(Grab().eeprom(12), 3);
    EXPECT_EQ(Grab().eeprom(1024), -1);
}

TEST_F(SimGrabTest, EepromRefusesWritesUntilEnabledAndProgramsBusyThenReady)
{
    ECommand("0101" + Bits(5, 10) + Bits(0x4321, 16));
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(Grab().eeprom(5), 0xFFFF);
    ASSERT_EQ(Grab().eepromCommands().size(), 1u);
    EXPECT_TRUE(Grab().eepromCommands()[0].refused);

    ECommand(kEnable);
    EEnd();
    EXPECT_TRUE(Grab().eepromWriteEnabled());
    ECommand("0101" + Bits(5, 10) + Bits(0x4321, 16));
    EXPECT_FALSE(EOut());   // busy while programming
    EXPECT_TRUE(Grab().eepromBusy());
    EXPECT_EQ(Grab().eeprom(5), 0xFFFF);
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(Grab().eeprom(5), 0x4321);
    EXPECT_EQ(ERead(5), 0x4321u);
    EXPECT_EQ(Grab().eepromCycles(), 1u);

    ECommand("0111" + Bits(5, 10));   // erase
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(ERead(5), 0xFFFFu);

    ECommand(kDisable);
    EEnd();
    EXPECT_FALSE(Grab().eepromWriteEnabled());
    ECommand("0101" + Bits(6, 10) + Bits(0, 16));
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(Grab().eeprom(6), 0xFFFF);
}

TEST_F(SimGrabTest, EepromWriteAllAndEraseAllCoverEveryWord)
{
    ECommand(kEnable);
    EEnd();
    ECommand(kWriteAll + Bits(0x5AA5, 16));
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(ERead(0), 0x5AA5u);
    EXPECT_EQ(ERead(1023), 0x5AA5u);
    ECommand(kEraseAll);
    EXPECT_TRUE(EWaitReady(0.1));
    EEnd();
    EXPECT_EQ(Grab().eeprom(512), 0xFFFF);
    const auto cmds = Grab().eepromCommands();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[1].op, EepromOp::WriteAll);
    EXPECT_EQ(cmds[1].data, 0x5AA5u);
}

TEST_F(SimGrabTest, EepromThatNeverGetsReadyStaysBusyAndWritesNothing)
{
    Grab().setEepromNeverReady(true);
    ECommand(kEnable);
    EEnd();
    ECommand("0101" + Bits(7, 10) + Bits(0x1111, 16));
    EXPECT_FALSE(EWaitReady(1.0));
    // Chip select low, write disable, register 0: the chip, still busy, takes nothing.
    EEnd();
    ECommand(kDisable);
    EEnd();
    EXPECT_FALSE(Grab().eepromSelected());
    EXPECT_TRUE(Grab().eepromBusy());
    EXPECT_EQ(Grab().eeprom(7), 0xFFFF);
    Grab().setEepromNeverReady(false);
    EXPECT_FALSE(Grab().eepromBusy());
    EXPECT_EQ(Grab().eeprom(7), 0xFFFF);
}

// ---------------------------------------------------------------- camera UART

TEST_F(SimGrabTest, UartTakesConfigurationAndAnswersItWithTransmitterEmpty)
{
    Frame(0xC000 | 0x0064);   // write configuration: 14400 baud, parity, two stop bits
    EXPECT_EQ(Grab().uartConfig(), 0x0064u);
    // A configuration read as the library clocks it: data low for the first clock only.
    const uint16_t answer = Frame(0x7FFF);
    EXPECT_EQ(answer & 0x3FFF, 0x0064u);
    EXPECT_EQ(answer & kUartCfgTxEmpty, kUartCfgTxEmpty);
    const auto frames = Grab().uartFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[1].complete);
    EXPECT_EQ(frames[1].answer, answer);
}

TEST_F(SimGrabTest, UartSendsADataByteAndIsBusyForOneCharacter)
{
    Frame(0xC000 | 0x0004);   // 14400 baud, 8N1: 10 bits, 694 us
    Frame(0x8000 | kUartTxReady | kUartTxParity | 0xE9);
    EXPECT_EQ(Grab().uartSent(), (std::vector<uint8_t>{0xE9}));
    EXPECT_EQ(Grab().uartSentWords(), (std::vector<uint16_t>{0x8000 | 0x0300 | 0xE9}));
    EXPECT_EQ(Frame(0x4000) & kUartCfgTxEmpty, 0u);
    BoardSim::instance().advance(0.0007);
    EXPECT_EQ(Frame(0x4000) & kUartCfgTxEmpty, kUartCfgTxEmpty);
    // Bit 10: only the ready bit changes, no byte goes out.
    Frame(0x8000 | kUartTxReadyOnly);
    EXPECT_FALSE(Grab().uartHostReady());
    EXPECT_EQ(Grab().uartSent().size(), 1u);
    // A frame of 15 clocks does nothing.
    Frame(0x8000 | kUartTxReady | 0x41, 15);
    EXPECT_EQ(Grab().uartSent().size(), 1u);
    EXPECT_FALSE(Grab().uartFrames().back().complete);
}

TEST_F(SimGrabTest, UartPeerBytesArriveInOrderWithTheirErrorAndParityBits)
{
    EXPECT_EQ(Frame(0x0000) & kUartRxPresent, 0u);
    Grab().setUartPeerParity(UartParity::Odd);
    Grab().uartQueue({0x41});
    Grab().uartQueueByte(0x03, true, false);
    Grab().uartQueueByte(0x07, false, true);
    uint16_t a = Frame(0x0000);
    EXPECT_EQ(a & kUartRxPresent, kUartRxPresent);
    EXPECT_EQ(a & 0x07FF, kUartRxParity | 0x41);   // two ones: the parity bit makes them odd
    a = Frame(0x0000);
    EXPECT_EQ(a & 0x07FF, kUartRxError | kUartRxParity | 0x03);
    a = Frame(0x0000);
    EXPECT_EQ(a & 0x07FF, kUartRxParity | 0x07);   // three ones need none: the error sets it
    EXPECT_EQ(Frame(0x0000) & kUartRxPresent, 0u);
    EXPECT_EQ(Grab().uartQueued(), 0u);
    // A configuration read does not take a byte.
    Grab().uartQueue({0x55});
    EXPECT_EQ(Frame(0x4000) & kUartRxPresent, kUartRxPresent);
    EXPECT_EQ(Grab().uartQueued(), 1u);
}

TEST_F(SimGrabTest, UartPeerHoldsItsBytesWhileTheLibraryIsNotReadyAndAnswersItsOwnReadiness)
{
    Frame(0x8000 | kUartTxReadyOnly);   // not ready
    Grab().uartQueue({1, 2, 3});
    EXPECT_EQ(Frame(0x0000) & kUartRxPresent, 0u);
    Frame(0x8000 | kUartTxReadyOnly | kUartTxReady);
    EXPECT_EQ(Frame(0x0000) & 0x80FF, kUartRxPresent | 1);
    Grab().setUartPeerReady(false);
    EXPECT_EQ(Frame(0x0000) & (kUartRxPeerBusy | 0xFF), kUartRxPeerBusy | 2);
    Grab().setUartPeerFlowControl(false);
    Frame(0x8000 | kUartTxReadyOnly);
    EXPECT_EQ(Frame(0x0000) & 0x80FF, kUartRxPresent | 3);
}

TEST_F(SimGrabTest, UartPeerBytesComeAtTheirTimes)
{
    Grab().uartQueue({0x10, 0x20}, 0.001);
    EXPECT_EQ(Frame(0x0000) & kUartRxPresent, 0u);
    BoardSim::instance().advance(0.001);
    EXPECT_EQ(Frame(0x0000) & 0x80FF, kUartRxPresent | 0x10);
    EXPECT_EQ(Frame(0x0000) & kUartRxPresent, 0u);
    BoardSim::instance().advance(0.001);
    EXPECT_EQ(Frame(0x0000) & 0x80FF, kUartRxPresent | 0x20);
}

TEST_F(SimGrabTest, UartDeliversTwoThousandQueuedBytesOneReadAtATime)
{
    std::vector<uint8_t> bytes(2000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    Grab().uartQueue(bytes);
    std::vector<uint8_t> got;
    for (int i = 0; i < 2100; ++i) {
        const uint16_t a = Frame(0x0000);
        if (!(a & kUartRxPresent)) break;
        got.push_back(static_cast<uint8_t>(a));
    }
    EXPECT_EQ(got, bytes);
}

} // namespace
