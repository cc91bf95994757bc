// The standard grab module's pixel-clock measurement, its line-lock PLL's lock and the
// input LUTs behind the FIFO ports and the Sorvik II port, driven through the accessor
// layer as the library drives them, on the virtual clock; and poll loops that wait for
// the module's states on either clock, at any pace.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "regmap/driver_requests.h"
#include "regmap/grab_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace boardsim;
using namespace grabregs;

namespace {

class SimGrabClockTest : public ::testing::Test {
protected:
    void SetUp() override { Use(1, ClockMode::Virtual); }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        node_ = kInvalidDevice;
        BoardSim::instance().configure();
    }
    void Use(uint8_t moduleType, ClockMode clock = ClockMode::Virtual)
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSpec spec;
        spec.moduleType = moduleType;
        spec.fpgaConfigured = true;
        Topology t;
        t.boards = {spec};
        t.clock = clock;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        uint32_t request[5] = {0, 0x11, 4, kOrloRegisterSize, kOrloRegisterOffset};
        uint32_t bytes = 0;
        ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        const uint32_t regs = request[0];
        uint32_t portRequest[5] = {0, 0x11, 4, kOrloPortSize, kOrloPortOffset};
        ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, portRequest, 20, portRequest, 20, &bytes, nullptr), kDeviceDone);
        port_ = portRequest[0];
        HwWrite32(regs, kOrloStatus, HwRead32(regs, kOrloStatus) | kStatusPortOption);
        dp_ = 0;
    }
    GrabView Grab() const { return BoardSim::instance().grab(0); }
    double Now() const { return BoardSim::instance().now(); }

    // A register write as the shadow writer makes it (low lane, then high lane) and a read
    // as the library's register read makes it (the same order).
    void Set(uint32_t n, uint16_t v)
    {
        HwWrite32(port_, PortLow(n), v & 0xFF);
        HwWrite32(port_, PortHigh(n), v >> 8);
    }
    uint16_t Get(uint32_t n)
    {
        return static_cast<uint16_t>((HwRead32(port_, PortLow(n)) & 0xFF) | ((HwRead32(port_, PortHigh(n)) & 0xFF) << 8));
    }

    // The clock test as the library runs it: test mode, timer 1 as the measuring window,
    // the timer cleared and the counters reset, then the software trigger.
    void StartMeasurement()
    {
        Set(DIG_VTOTAL, 0xFFFF);
        Set(DIG_PSGCFG, kPsgCfgClockTest);
        Set(DIG_T1SCNT, 20000);
        Set(DIG_EXP1S, 10002);
        Set(DIG_T1CTL, 0x175);
        Set(DIG_MISCTL, kMiscT1Arm);
        Set(DIG_TMRCLR, 0x0007);
        Set(DIG_TMRCLR, 0x0107);
        Set(DIG_SRSCTL, 0x0000);
        Set(DIG_SRSCTL, 0x0100);
        Set(DIG_SRSCTL, 0x0000);
        Set(DIG_TMRCLR, 0x0007);
        Set(DIG_SRSCTL, 0x0001);
        Set(DIG_SRSCTL, 0x0000);
        Set(DIG_MISCTL, kMiscT1Arm);
        Set(DIG_MISCTL, kMiscT1Arm | kMiscT1SwTrigger);
    }
    // Polls timer 1's status until it falls (bounded) and answers the count then.
    uint16_t Measure(int* busyPolls = nullptr)
    {
        StartMeasurement();
        int busy = 0;
        for (int i = 0; i < 100000 && (Get(DIG_T1CTL) & kTimerOutput); ++i) ++busy;
        if (busyPolls) *busyPolls = busy;
        return Get(kPixelCount);
    }

    // ICS1522 word on the device-programming register: strobe fall, a 0 bit, register and
    // value LSB first on rising clocks, strobe rise.
    void Dp(uint16_t v)
    {
        dp_ = v;
        Set(kSerialPort, v);
    }
    void SendIcs(uint16_t value, int reg)
    {
        Dp(kIcsStrobe);
        Dp(0);
        Dp(kIcsClock);
        const uint32_t word = (static_cast<uint32_t>(value & 0x7FF) << 3) | (reg & 7);
        for (int i = 0; i < 14; ++i) {
            const uint16_t data = ((word >> i) & 1) ? kIcsData : 0;
            Dp(data);
            Dp(data | kIcsClock);
        }
        Dp(kIcsStrobe);
        Dp(0);
    }

    // FIFO port of LUT 1 or 2: the first register of the port.
    static uint32_t Port(int memory) { return memory == 1 ? kLutPort1 : kLutPort2; }
    void OpenLuts() { Set(DIG_SRCCFG, kSrcCfgAccess); }
    void Address(int memory, uint32_t page)
    {
        Set(Port(memory) + kLutRegAddressLow, 0);
        Set(Port(memory) + kLutRegAddressPage, static_cast<uint16_t>(page << 8));
    }
    void WriteEntry(int memory, uint8_t b0, uint8_t b1, uint8_t b2)
    {
        for (uint8_t b : {b0, b1, b2}) Set(Port(memory) + kLutRegData, static_cast<uint16_t>(b << 8));
    }
    // Polls the status as the writer does after each 64 entries; the polls that saw it busy.
    int Drain(int memory)
    {
        int busy = 0;
        while (busy < 1023 && (Get(Port(memory) + kLutRegStatus) & kLutFifoBusy)) ++busy;
        return busy;
    }

    int node_ = kInvalidDevice;
    uint32_t port_ = 0;
    uint16_t dp_ = 0;
};

// ---------------------------------------------------------------- pixel clock

TEST_F(SimGrabClockTest, MeasurementWindowRunsItsExposureTicksAndEndsOnTheClockInKhz)
{
    Grab().setPixelClockKhz(13500);
    StartMeasurement();
    const double start = Now();
    EXPECT_TRUE(Get(DIG_T1CTL) & kTimerOutput) << "busy once triggered";
    // Inside the window the count climbs and stays below the clock.
    uint16_t previous = 0;
    int climbs = 0;
    while (Get(DIG_T1CTL) & kTimerOutput) {
        const uint16_t c = Get(kPixelCount);
        EXPECT_LE(c, 13500);
        if (c > previous) ++climbs;
        previous = c;
        ASSERT_LT(Now() - start, 0.01) << "the window never ended";
    }
    const double window = Now() - start;
    // 10002 ticks of 100 ns from the trigger's write, seen within the microseconds of a poll.
    EXPECT_GT(window, 0.0010002 - 5e-6);
    EXPECT_LT(window, 0.0010002 + 10e-6);
    EXPECT_GT(climbs, 10);
    EXPECT_EQ(Get(kPixelCount), 13500);
    EXPECT_EQ(Get(kPixelCount), 13500) << "the count holds after the window";
    EXPECT_EQ(Grab().clockMeasurements(), 1u);
    EXPECT_EQ(Grab().measuredKhz(), 13500u);
}

TEST_F(SimGrabClockTest, MeasurementNeedsTestModeArmedTimerAndRisingTrigger)
{
    Grab().setCounters(0x0111, 0x0222);
    // Test mode off: register 3 is the vertical counter and the trigger measures nothing.
    Set(DIG_T1CTL, 0x175);
    Set(DIG_EXP1S, 10002);
    Set(DIG_MISCTL, kMiscT1Arm);
    Set(DIG_MISCTL, kMiscT1Arm | kMiscT1SwTrigger);
    EXPECT_EQ(Get(kPixelCount), 0x0222);
    EXPECT_FALSE(Get(DIG_T1CTL) & kTimerOutput);
    // Test mode on, timer not armed.
    Set(DIG_PSGCFG, kPsgCfgClockTest);
    Set(DIG_MISCTL, 0);
    Set(DIG_MISCTL, kMiscT1SwTrigger);
    // Armed, but timer 1 set for something else.
    Set(DIG_T1CTL, 0x174);
    Set(DIG_MISCTL, kMiscT1Arm);
    Set(DIG_MISCTL, kMiscT1Arm | kMiscT1SwTrigger);
    // The trigger held high is no new edge.
    Set(DIG_T1CTL, 0x175);
    Set(DIG_MISCTL, kMiscT1Arm | kMiscT1SwTrigger);
    EXPECT_EQ(Grab().clockMeasurements(), 0u);
    EXPECT_EQ(Get(kPixelCount), 0) << "nothing counted in test mode yet";
    EXPECT_EQ(Measure(), 13500);
    // Leaving test mode gives register 3 back to the vertical counter.
    Set(DIG_PSGCFG, 0);
    EXPECT_EQ(Get(kPixelCount), 0x0222);
    EXPECT_EQ(Grab().measuredKhz(), 13500u);
}

TEST_F(SimGrabClockTest, LockModesGiveTheClockHalfOfItOrAnOverrun)
{
    Grab().setPixelClockKhz(20266);
    EXPECT_EQ(Measure(), 20266) << "locks at once by default";
    EXPECT_TRUE(Grab().pllLocked());

    Grab().setPllLock(GrabPllLock::Never);
    EXPECT_FALSE(Grab().pllLocked());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Measure(), 10133) << i;
    EXPECT_FALSE(Grab().pllLocked());

    Grab().setPllLock(GrabPllLock::Overflow);
    EXPECT_EQ(Measure(), 65001);
    EXPECT_GT(65001, kPixelCountOverflow);

    Grab().setPllLock(GrabPllLock::Immediate);
    EXPECT_EQ(Measure(), 20266);
    EXPECT_EQ(Grab().clockMeasurements(), 6u);
}

TEST_F(SimGrabClockTest, AfterTestsLocksOnTheMeasurementFollowingTheCountAndAgainAfterANewIcsWord)
{
    Grab().setPllLock(GrabPllLock::AfterTests, 2);
    EXPECT_EQ(Measure(), 6750);
    EXPECT_EQ(Measure(), 6750);
    EXPECT_FALSE(Grab().pllLocked());
    EXPECT_EQ(Measure(), 13500) << "the third measurement finds the lock";
    EXPECT_TRUE(Grab().pllLocked());
    EXPECT_EQ(Measure(), 13500);

    // The same word again keeps the lock; a new divider drops it.
    SendIcs(0, 0);
    EXPECT_EQ(Grab().ics1522(0), 0);
    EXPECT_TRUE(Grab().pllLocked());
    SendIcs(858, 0);
    EXPECT_EQ(Grab().ics1522(0), 858);
    EXPECT_FALSE(Grab().pllLocked());
    EXPECT_EQ(Measure(), 6750);
    EXPECT_EQ(Measure(), 6750);
    EXPECT_EQ(Measure(), 13500);
}

TEST_F(SimGrabClockTest, LockFollowsTheDividerOfIcsRegisterZero)
{
    Grab().setPixelClockKhz(13500);
    Grab().setPixelClockForIcsDivider(160, 20266);
    SendIcs(160, 0);
    EXPECT_EQ(Measure(), 20266) << "the prelock divider";
    SendIcs(160, 5);
    EXPECT_EQ(Measure(), 20266) << "another register leaves the divider";
    SendIcs(858, 0);
    EXPECT_EQ(Measure(), 13500) << "a divider without its own clock";
    Grab().setPllLock(GrabPllLock::Never);
    SendIcs(160, 0);
    EXPECT_EQ(Measure(), 10133) << "unlocked: half the divider's clock";
}

TEST_F(SimGrabClockTest, PllControlReadsLockAndLatchedLossUntilItsResetRises)
{
    Set(DIG_PLLCTL, 0x0008);
    EXPECT_EQ(Get(DIG_PLLCTL), 0x0008 | kPllLockStatus0 | kPllLockStatus1);
    EXPECT_EQ(Grab().reg(DIG_PLLCTL), 0x0008) << "the status is not stored";

    Grab().setPllLock(GrabPllLock::AfterTests, 0);
    EXPECT_EQ(Get(DIG_PLLCTL), 0x0008 | kPllLockLost0 | kPllLockLost1);
    Measure();
    EXPECT_EQ(Get(DIG_PLLCTL), 0x0008 | kPllLockStatus0 | kPllLockStatus1 | kPllLockLost0 | kPllLockLost1);
    Set(DIG_PLLCTL, 0x0008 | kPllLockReset0);
    EXPECT_EQ(Get(DIG_PLLCTL) & kPllStatusMask, kPllLockStatus0 | kPllLockStatus1 | kPllLockLost1);
    Set(DIG_PLLCTL, 0x0008 | kPllLockReset0 | kPllLockReset1);
    EXPECT_EQ(Get(DIG_PLLCTL) & kPllStatusMask, kPllLockStatus0 | kPllLockStatus1);
}

// ---------------------------------------------------------------- module status

TEST_F(SimGrabClockTest, ModuleStatusShowsWhileTheAccessBitsAreSet)
{
    Set(kModuleStatusPort, 0);
    EXPECT_EQ(Get(kModuleStatusPort), 0) << "closed: the register as written";
    Set(DIG_SRCCFG, kSrcCfgAccess);
    EXPECT_EQ(Get(kModuleStatusPort), 0x0100 | kEepromPresent);
    Grab().setModuleStatus(0x4200 | 0x0001);
    EXPECT_EQ(Get(kModuleStatusPort), 0x4200 | kEepromPresent) << "only bits 14 and 8-10 are status";
}

// ---------------------------------------------------------------- LUT FIFO ports

TEST_F(SimGrabClockTest, FifoWriteFillsEveryBandOfThePageAndDrainsOnTheClock)
{
    OpenLuts();
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 5);
    int busyPolls = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        WriteEntry(1, static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i ^ 0x5A));
        if (i % 64 == 63) busyPolls += Drain(1);
    }
    EXPECT_GT(busyPolls, 0) << "the last entry of a block is still in the FIFO";
    EXPECT_EQ(Grab().lutEntriesWritten(1), 256u);
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(Grab().lut(1, 0, 5 * 256 + i), static_cast<int>(i & 0xFF)) << i;
        ASSERT_EQ(Grab().lut(1, 1, 5 * 256 + i), static_cast<int>(255 - i)) << i;
        ASSERT_EQ(Grab().lut(1, 2, 5 * 256 + i), static_cast<int>(i ^ 0x5A)) << i;
    }
    EXPECT_EQ(Grab().lut(1, 0, 5 * 256 - 1), 0) << "the page before";
    EXPECT_EQ(Grab().lut(1, 0, 6 * 256 + 1), 0) << "the page after (entry 0 of it was written 255 - 255)";
    EXPECT_EQ(Grab().lutEntriesWritten(2), 0u);
    EXPECT_EQ(Grab().lutBand(2, 0), std::vector<uint8_t>(8192, 0));
    // Outside the memories.
    EXPECT_EQ(Grab().lut(3, 0, 0), -1);
    EXPECT_EQ(Grab().lut(1, 3, 0), -1);
    EXPECT_EQ(Grab().lut(1, 0, 8192), -1);
    EXPECT_TRUE(Grab().lutBand(0, 0).empty());
}

TEST_F(SimGrabClockTest, FifoStatusHoldsWhileEntriesWaitAndTheMemoryFollowsOnlyAfter)
{
    OpenLuts();
    Set(kLutPort2 + kLutRegFifoControl, kLutFifoWrite);
    Address(2, 0);
    WriteEntry(2, 7, 8, 9);
    EXPECT_TRUE(Get(kLutPort2 + kLutRegStatus) & kLutFifoBusy);
    EXPECT_FALSE(Get(kLutPort1 + kLutRegStatus) & kLutFifoBusy) << "the other LUT's FIFO is empty";
    BoardSim::instance().advance(10e-6);
    EXPECT_FALSE(Get(kLutPort2 + kLutRegStatus) & kLutFifoBusy);
    EXPECT_EQ(Grab().lut(2, 0, 0), 7);
    EXPECT_EQ(Grab().lut(2, 1, 0), 8);
    EXPECT_EQ(Grab().lut(2, 2, 0), 9);
    EXPECT_EQ(Grab().lut(1, 0, 0), 0);
}

TEST_F(SimGrabClockTest, FifoPortIgnoresDataWhileTheAccessBitsAreClear)
{
    Set(DIG_SRCCFG, 0x2000);   // one of the two bits only
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 0);
    WriteEntry(1, 1, 2, 3);
    BoardSim::instance().advance(1e-3);
    EXPECT_EQ(Grab().lutEntriesWritten(1), 0u);
    EXPECT_EQ(Grab().lut(1, 0, 0), 0);
}

TEST_F(SimGrabClockTest, EntriesPastTheLastPageAreStraysAndNeverWrapToEntryZero)
{
    OpenLuts();
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 31);
    for (uint32_t i = 0; i < 512; ++i) {
        WriteEntry(1, 0xEE, 0xEE, 0xEE);
        if (i % 64 == 63) Drain(1);
    }
    EXPECT_EQ(Grab().lutEntriesWritten(1), 256u);
    EXPECT_EQ(Grab().lutStrays(1), 256u);
    EXPECT_EQ(Grab().lut(1, 0, 8191), 0xEE);
    EXPECT_EQ(Grab().lut(1, 0, 0), 0);
    EXPECT_EQ(Grab().lut(1, 2, 7935), 0) << "the page before 31";
}

TEST_F(SimGrabClockTest, NeverDrainingFifoStaysBusyAndWritesNothingUntilCleared)
{
    Grab().setLutNeverDrains(true, 1);
    OpenLuts();
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 2);
    WriteEntry(1, 4, 5, 6);
    EXPECT_EQ(Drain(1), 1023) << "the writer's poll limit runs out";
    BoardSim::instance().advance(1.0);
    EXPECT_TRUE(Get(kLutPort1 + kLutRegStatus) & kLutFifoBusy);
    EXPECT_FALSE(Get(kLutPort2 + kLutRegStatus) & kLutFifoBusy) << "the fault was set on LUT 1 only";
    EXPECT_EQ(Grab().lut(1, 0, 512), 0);
    Grab().setLutNeverDrains(false);
    BoardSim::instance().advance(10e-6);
    EXPECT_FALSE(Get(kLutPort1 + kLutRegStatus) & kLutFifoBusy);
    EXPECT_EQ(Grab().lut(1, 0, 512), 4);
    EXPECT_EQ(Grab().lut(1, 2, 512), 6);
}

TEST_F(SimGrabClockTest, FifoReadAnswersEachBandOfEachEntryOnTheHighLane)
{
    for (uint32_t i = 0; i < 300; ++i)
        for (int b = 0; b < 3; ++b) Grab().setLut(2, b, 768 + i, static_cast<uint8_t>(i * 3 + b));
    OpenLuts();
    Address(2, 3);
    ASSERT_FALSE(Get(kLutPort2 + kLutRegStatus) & kLutFifoBusy);
    Set(kLutPort2 + kLutRegReadControl, 0);
    for (uint32_t i = 0; i < 300; ++i)
        for (int b = 0; b < 3; ++b)
            ASSERT_EQ(Get(kLutPort2 + kLutRegData) >> 8, static_cast<uint8_t>(i * 3 + b)) << i << " " << b;
    Get(kLutPort2 + kLutRegReadControl);
    EXPECT_EQ(Grab().lutStrays(2), 0u);
    // A read past the last entry answers 0 and counts as a stray.
    Address(2, 31);
    Set(kLutPort2 + kLutRegReadControl, 0);
    for (int i = 0; i < 3 * 257; ++i) Get(kLutPort2 + kLutRegData);
    EXPECT_EQ(Grab().lutStrays(2), 3u);
}

TEST_F(SimGrabClockTest, WriteThenReadRoundTripsThroughTheSamePort)
{
    OpenLuts();
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 10);
    for (uint32_t i = 0; i < 64; ++i) WriteEntry(1, static_cast<uint8_t>(i), static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 2));
    Drain(1);
    Address(1, 10);
    Set(kLutPort1 + kLutRegReadControl, 0);
    for (uint32_t i = 0; i < 64; ++i)
        for (uint32_t b = 0; b < 3; ++b) ASSERT_EQ(Get(kLutPort1 + kLutRegData) >> 8, i + b) << i;
}

// ---------------------------------------------------------------- Sorvik II port

TEST_F(SimGrabClockTest, SorvikPortWritesBandPagesAndWrapsWithinAPage)
{
    Use(2);
    Set(kSorvikLutControl, kSorvikWrite);
    Set(kSorvikLutSelect, 3 | (2 << kSorvikBandShift));
    Set(kSorvikLutPage, 4);
    Set(kSorvikLutAddress, 0);
    for (uint32_t i = 0; i < 512; ++i) {
        if (i == 256) {
            Set(kSorvikLutPage, 5);
            Set(kSorvikLutAddress, 0);
        }
        Set(kSorvikLutData, static_cast<uint16_t>(i & 0xFF) ^ 0x33);
    }
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(Grab().sorvikLut(2, 1024 + i), static_cast<int>((i & 0xFF) ^ 0x33)) << i;
    EXPECT_EQ(Grab().sorvikLut(1, 1024), 0) << "another band";
    // Without a new page the address wraps within the page.
    Set(kSorvikLutAddress, 0xFF);
    Set(kSorvikLutData, 0x11);
    Set(kSorvikLutData, 0x22);
    EXPECT_EQ(Grab().sorvikLut(2, 5 * 256 + 255), 0x11);
    EXPECT_EQ(Grab().sorvikLut(2, 5 * 256), 0x22);
    EXPECT_EQ(Grab().sorvikRepeatRequests(), 0u) << "module type 2 never asks for a repeat";
    // Read back with the read direction.
    Set(kSorvikLutControl, kSorvikRead);
    Set(kSorvikLutPage, 4);
    Set(kSorvikLutAddress, 0);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(Get(kSorvikLutData) & 0xFF, (i ^ 0x33)) << i;
    // Idle: data writes change nothing.
    Set(kSorvikLutControl, kSorvikIdle);
    Set(kSorvikLutAddress, 0);
    Set(kSorvikLutData, 0x99);
    EXPECT_EQ(Grab().sorvikLut(2, 1024), 0x33);
}

TEST_F(SimGrabClockTest, SorvikTypeThirtyFourAsksForTheGivenRepeatsOnTheFirstEntryOfABand)
{
    Use(34);
    Grab().setSorvikRepeatRequests(1);
    Set(kSorvikLutControl, kSorvikWrite);
    Set(kSorvikLutSelect, 3);
    Set(kSorvikLutPage, 0);
    Set(kSorvikLutAddress, 0);
    EXPECT_FALSE(Get(kSorvikLutControl) & kSorvikRepeat);
    Set(kSorvikLutData, 1);
    Set(kSorvikLutData, 2);
    EXPECT_TRUE(Get(kSorvikLutControl) & kSorvikRepeat);
    Set(kSorvikLutControl, kSorvikWrite);   // the library clears the request and sends again
    Set(kSorvikLutSelect, 3);
    Set(kSorvikLutAddress, 0);
    Set(kSorvikLutData, 1);
    EXPECT_FALSE(Get(kSorvikLutControl) & kSorvikRepeat) << "one repeat asked for";
    EXPECT_EQ(Grab().sorvikRepeatRequests(), 1u);

    Grab().setSorvikRepeatRequests(-1);
    for (int band = 0; band < 4; ++band) {
        Set(kSorvikLutControl, kSorvikWrite);
        Set(kSorvikLutSelect, static_cast<uint16_t>(3 | (band << kSorvikBandShift)));
        Set(kSorvikLutAddress, 0);
        Set(kSorvikLutData, 9);
        EXPECT_TRUE(Get(kSorvikLutControl) & kSorvikRepeat) << band;
    }
    EXPECT_EQ(Grab().sorvikRepeatRequests(), 5u);
}

TEST_F(SimGrabClockTest, StandardModuleHasNoSorvikPortAndKeepsItsControlWord)
{
    Set(kSorvikLutControl, kSorvikWrite);
    Set(kSorvikLutSelect, 3);
    Set(kSorvikLutAddress, 0);
    Set(kSorvikLutData, 0x42);
    EXPECT_EQ(Get(kSorvikLutData), 0x42) << "a plain register on module type 1";
    EXPECT_EQ(Grab().sorvikLut(0, 0), -1);
    EXPECT_TRUE(Grab().sorvikLutBand(0).empty());
    Set(kSorvikControl, 0x0417);
    EXPECT_EQ(Grab().sorvikControl(), 0x0417);
    Use(34);
    EXPECT_EQ(Grab().sorvikLut(3, 8191), 0);
    EXPECT_EQ(Grab().sorvikLut(4, 0), -1);
    Grab().setSorvikLut(3, 8191, 0x7E);
    EXPECT_EQ(Grab().sorvikLutBand(3)[8191], 0x7E);
}

// ---------------------------------------------------------------- poll loops

// A poll loop's pace: reads back to back, or a pause of real time between reads.
struct PollPace {
    ClockMode clock;
    int pauseMicros;
};

// The module's states follow only the machine's time, which every read moves on: a loop
// of reads sees a state change after the reads whose bus time covers it (exactly so on the
// virtual clock), and never later for running slower on the free-running clock.
class SimGrabPollTest : public SimGrabClockTest, public ::testing::WithParamInterface<PollPace> {
protected:
    void SetUp() override { Use(1, GetParam().clock); }
    // Reads register n until the bits clear (at most 100000 reads): the reads that saw them set.
    int PollsWhileSet(uint32_t n, uint16_t bits)
    {
        int polls = 0;
        for (; polls < 100000 && (Get(n) & bits); ++polls)
            if (GetParam().pauseMicros) std::this_thread::sleep_for(std::chrono::microseconds(GetParam().pauseMicros));
        return polls;
    }
    static void ExpectPolls(int polls, int busReads)
    {
        if (GetParam().clock == ClockMode::Virtual)
            EXPECT_EQ(polls, busReads);
        else
            EXPECT_LE(polls, busReads);
    }
};

TEST_P(SimGrabPollTest, LutFifoDrainsWithinTheReadsOfItsBusTime)
{
    OpenLuts();
    Set(kLutPort1 + kLutRegFifoControl, kLutFifoWrite);
    Address(1, 0);
    WriteEntry(1, 1, 2, 3);
    // The entry leaves 4 us after its last write: the first status read (2 us) still sees it.
    ExpectPolls(PollsWhileSet(kLutPort1 + kLutRegStatus, kLutFifoBusy), 1);
    EXPECT_EQ(Grab().lut(1, 2, 0), 3);
    // 64 entries, as the writer sends them before it polls at most 1023 times: their own
    // bus time drains all but the last.
    for (uint32_t i = 0; i < 64; ++i) WriteEntry(1, 4, 5, static_cast<uint8_t>(i));
    ExpectPolls(PollsWhileSet(kLutPort1 + kLutRegStatus, kLutFifoBusy), 1);
    EXPECT_EQ(Grab().lutEntriesWritten(1), 65u);
    EXPECT_EQ(Grab().lut(1, 2, 64), 63);
}

TEST_P(SimGrabPollTest, ClockMeasurementEndsWithinTheReadsOfItsWindow)
{
    Grab().setPixelClockKhz(13500);
    StartMeasurement();
    // A window of 10002 ticks of 100 ns from the trigger's write, read 2 us at a time.
    ExpectPolls(PollsWhileSet(DIG_T1CTL, kTimerOutput), 499);
    EXPECT_EQ(Get(kPixelCount), 13500);
    EXPECT_EQ(Grab().measuredKhz(), 13500u);
}

INSTANTIATE_TEST_SUITE_P(Paces, SimGrabPollTest,
                         ::testing::Values(PollPace{ClockMode::Virtual, 0}, PollPace{ClockMode::FreeRunning, 0},
                                           PollPace{ClockMode::FreeRunning, 300}),
                         [](const ::testing::TestParamInfo<PollPace>& info) {
                             return std::string(info.param.clock == ClockMode::Virtual ? "Virtual" : "FreeRunning") +
                                    (info.param.pauseMicros ? "Paused" : "BackToBack");
                         });

} // namespace
