// The Orlo's machinery on the virtual clock: doorbells taken by the driver after the
// write and delivered as special-then-plain words, the 50 MHz timer, the VM engine's
// sends and the port set-up conversation, and sources raised by a test.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

std::vector<uint32_t> Repeat(const std::vector<uint32_t>& words, int times)
{
    std::vector<uint32_t> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), words.begin(), words.end());
    return all;
}

class SimOrloTest : public ::testing::Test {
protected:
    void SetUp() override { Use(true, false); }
    void TearDown() override
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        node_ = kInvalidDevice;
        BoardSim::instance().configure();
    }
    void Use(bool primary, bool display, bool silent = false, bool clockOption = false,
             ClockMode clock = ClockMode::Virtual)
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        Topology t;
        t.clock = clock;
        t.boards[0].primaryOrlo = primary;
        t.boards[0].displayOrlo = display;
        t.boards[0].vmSilent = silent;
        t.boards[0].vmClockOption = clockOption;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        words_.reset(new InterruptWords(node_));
    }
    uint32_t Registers(bool display = false)
    {
        uint32_t request[5] = {0, 0x11, display ? HLC_REGION_DISPLAY : HLC_REGION_PRIMARY, kOrloRegisterSize,
                               kOrloRegisterOffset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        EXPECT_NE(request[0], 0u);
        return request[0];
    }
    uint32_t Reg(uint32_t offset, bool display = false) { return BoardSim::instance().orlo(0, display).reg(offset); }

    DeviceHandle node_ = kInvalidDevice;
    std::unique_ptr<InterruptWords> words_;
};

// ---------------------------------------------------------------- doorbells

TEST_F(SimOrloTest, DoorbellIsTakenAfterTheWriteAsSpecialThenPlainWord)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    ASSERT_TRUE(words_->enable(kDoorbellSourcePrimary));
    // What the driver had delivered while the write was being made.
    std::vector<uint32_t> duringWrite{0xFFFFFFFFu};
    sim.setWriteFilter([&](HwAccess& a) {
        if (a.offset == kOrloInterruptSet) duringWrite = words_->take();
        return true;
    });
    sim.setTracing(true);
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
    const double rung = sim.now();
    EXPECT_TRUE(duringWrite.empty());
    EXPECT_TRUE(words_->take().empty());     // not inside the write either
    EXPECT_EQ(Reg(kOrloInterruptSet) & kInterruptDoorbell, kInterruptDoorbell);
    ASSERT_EQ(sim.trace().size(), 1u);
    EXPECT_EQ(sim.trace()[0], Write(HwArea::PrimaryRegs, kOrloInterruptSet, kInterruptDoorbell));

    sim.advance(10e-6);
    EXPECT_EQ(words_->take(), SourceWords(37));
    EXPECT_EQ(Reg(kOrloInterruptSet) & kInterruptDoorbell, 0u);
    ASSERT_EQ(sim.events().size(), 1u);
    EXPECT_EQ(sim.events()[0].name, "primary doorbell board 0");
    // Taken at the machine time of the write, after the write has ended.
    EXPECT_NEAR(sim.events()[0].seconds, rung, 1.01e-6);
}

// On the free-running machine the doorbell is taken on the machine's thread while the
// writer goes on; an access to the interrupt registers waits for it, so it never sees a
// doorbell still pending, and the delivery is made by then.
TEST_F(SimOrloTest, FreeRunningDoorbellIsTakenBeforeTheInterruptRegistersAreReadAgain)
{
    Use(true, false, false, false, ClockMode::FreeRunning);
    ASSERT_TRUE(words_->enable(kDoorbellSourcePrimary));
    const uint32_t regs = Registers();
    for (int ring = 0; ring < 200; ++ring) {
        HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
        HwRead32(regs, kOrloMailbox);
        ASSERT_EQ(HwRead32(regs, kOrloInterruptSet) & kInterruptDoorbell, 0u) << "ring " << ring;
        ASSERT_EQ(words_->take(), SourceWords(37)) << "ring " << ring;
    }
}

TEST_F(SimOrloTest, AlternateDoorbellRaisesSource33AndDisplayOrloDoorbellsRaise69And65)
{
    BoardSim& sim = BoardSim::instance();
    ASSERT_TRUE(words_->enable(kDoorbellAlternateSourcePrimary));
    HwWrite32(Registers(), kOrloInterruptSet, kInterruptDoorbellAlternate);
    sim.advance(10e-6);
    EXPECT_EQ(words_->take(), SourceWords(33));
    EXPECT_EQ(Reg(kOrloInterruptSet), 0u);

    Use(false, true);
    ASSERT_TRUE(words_->enable(kDoorbellSourceDisplay));
    const uint32_t regs = Registers(true);
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
    sim.advance(10e-6);
    EXPECT_EQ(words_->take(), SourceWords(69));
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbellAlternate);
    sim.advance(10e-6);
    EXPECT_EQ(words_->take(), SourceWords(65));
    EXPECT_EQ(Reg(kOrloInterruptSet, true), 0u);
}

TEST_F(SimOrloTest, DoorbellStaysPendingUntilASourceIsEnabled)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
    sim.advance(0.01);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet) & kInterruptDoorbell, kInterruptDoorbell);   // not taken
    EXPECT_TRUE(words_->take().empty());
    // The library's doorbell wait sees it pending; ringing again changes nothing.
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
    sim.advance(0.01);
    EXPECT_EQ(Reg(kOrloInterruptSet), kInterruptDoorbell);

    ASSERT_TRUE(words_->enable(kDoorbellSourcePrimary));
    sim.advance(10e-6);
    EXPECT_EQ(words_->take(), SourceWords(37));   // one doorbell, taken once
    EXPECT_EQ(Reg(kOrloInterruptSet), 0u);
}

TEST_F(SimOrloTest, TwoDoorbellsInARowAreTwoDeliveries)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    ASSERT_TRUE(words_->enable(kDoorbellSourcePrimary));
    for (int i = 0; i < 2; ++i) {
        HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell);
        sim.advance(10e-6);
    }
    EXPECT_EQ(words_->take(), Repeat(SourceWords(37), 2));
    // Both bits at once: the lower source first.
    HwWrite32(regs, kOrloInterruptSet, kInterruptDoorbell | kInterruptDoorbellAlternate | kInterruptTimer);
    sim.advance(10e-6);
    std::vector<uint32_t> both = SourceWords(33);
    for (uint32_t w : SourceWords(37)) both.push_back(w);
    EXPECT_EQ(words_->take(), both);
    EXPECT_EQ(Reg(kOrloInterruptSet), kInterruptTimer);   // other bits stay
}

// ---------------------------------------------------------------- timer

TEST_F(SimOrloTest, TimerCountsDownAt50MHzRaisesItsSourceEachPeriodAndReloads)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t regs = Registers();
    ASSERT_TRUE(words_->enable(kTimerSourcePrimary));
    HwWrite32(regs, kOrloTimerControl, kTimerControlRun | 50000);   // 1 ms
    const double start = sim.now();
    // The count at the machine's present time: 50000 less the 20 ns ticks since the start.
    auto expected = [&] {
        const auto ticks = static_cast<uint64_t>((sim.now() - start) * 50e6 + 0.5);
        return 50000u - static_cast<uint32_t>(ticks % 50000);
    };
    EXPECT_EQ(Reg(kOrloTimerCounter), 50000u);
    sim.advance(200e-6);
    EXPECT_EQ(Reg(kOrloTimerCounter), 40000u);                     // 10000 ticks of 20 ns
    EXPECT_EQ(HwRead32(regs, kOrloTimerCounter), 40000u - 50);     // the read's own microsecond
    EXPECT_TRUE(words_->take().empty());
    EXPECT_EQ(Reg(kOrloInterruptSet), 0u);

    sim.advance(1e-3);   // past the first period's end: reloaded
    EXPECT_EQ(words_->take(), SourceWords(42));
    EXPECT_EQ(Reg(kOrloInterruptSet), kInterruptTimer);
    EXPECT_EQ(Reg(kOrloTimerCounter), expected());
    EXPECT_GT(Reg(kOrloTimerCounter), 50000u - 11000u);
    HwWrite32(regs, kOrloInterruptClear, kInterruptTimer);
    sim.advance(2e-3);
    EXPECT_EQ(words_->take(), Repeat(SourceWords(42), 2));   // once per period

    // Clearing bit 31 stops the count where it stands.
    HwWrite32(regs, kOrloTimerControl, 50000);
    const uint32_t stopped = Reg(kOrloTimerCounter);
    sim.advance(5e-3);
    EXPECT_EQ(Reg(kOrloTimerCounter), stopped);
    EXPECT_TRUE(words_->take().empty());
    EXPECT_EQ(sim.runUntilIdle(), 0);
}

TEST_F(SimOrloTest, DisplayOrloTimerRaisesSource74)
{
    BoardSim& sim = BoardSim::instance();
    Use(false, true);
    ASSERT_TRUE(words_->enable(kTimerSourceDisplay));
    HwWrite32(Registers(true), kOrloTimerControl, kTimerControlRun | 5000);   // 100 us
    sim.advance(250e-6);
    EXPECT_EQ(words_->take(), Repeat(SourceWords(74), 2));
    EXPECT_EQ(sim.events().back().name, "display timer");
}

// ---------------------------------------------------------------- VM engine

TEST_F(SimOrloTest, VmSendSetsAndClearsTheBusyBitAndRaisesCommandDone)
{
    BoardSim& sim = BoardSim::instance();
    Use(true, true);
    ASSERT_TRUE(words_->enable(kVmDoneSourcePrimary));
    for (bool display : {false, true}) {
        SCOPED_TRACE(display);
        const uint32_t regs = Registers(display);
        HwWrite32(regs, kOrloVmCommand, 0xC1);
        HwWrite32(regs, kOrloVpControl, kVmControlSend);
        EXPECT_EQ(Reg(kOrloVpStatus, display) & kVmStatusSendBusy, kVmStatusSendBusy);
        EXPECT_TRUE(words_->take().empty());
        sim.advance(10e-6);
        EXPECT_EQ(HwRead32(regs, kOrloVpStatus) & kVmStatusSendBusy, 0u);
        EXPECT_EQ(words_->take(), SourceWords(display ? 83 : 51));
    }
    // Status bits are cleared by writing them.
    const uint32_t regs = Registers();
    BoardSim::instance().orlo(0).setReg(kOrloVpStatus, kVmStatusOverrun | kVmStatusPortReady);
    HwWrite32(regs, kOrloVpStatus, kVmStatusOverrun);
    EXPECT_EQ(Reg(kOrloVpStatus), kVmStatusPortReady);
}

TEST_F(SimOrloTest, SilentVmEngineNeverEndsASend)
{
    BoardSim& sim = BoardSim::instance();
    Use(true, false, true);
    ASSERT_TRUE(words_->enable(kVmDoneSourcePrimary));
    HwWrite32(Registers(), kOrloVpControl, kVmControlSend);
    sim.advance(2.0);
    EXPECT_EQ(Reg(kOrloVpStatus) & kVmStatusSendBusy, kVmStatusSendBusy);
    EXPECT_TRUE(words_->take().empty());
}

// The VM port set-up as the library converses with the engine: the reset pulse, the
// search and id steps, the closing send; each send waits for the busy bit to clear.
class VmSetUp {
public:
    VmSetUp(uint32_t primary, uint32_t display) : regs_(primary), display_(display) {}
    bool send()
    {
        HwWrite32(regs_, kOrloVmCommand, command_);
        HwWrite32(regs_, kOrloVpControl, HwRead32(regs_, kOrloVpControl) | kVmControlSend);
        const double start = HwClockSeconds();
        while (HwRead32(regs_, kOrloVpStatus) & kVmStatusSendBusy)
            if (HwClockSeconds() - start > 1.0) return false;
        HwWrite32(regs_, kOrloVpControl, HwRead32(regs_, kOrloVpControl) & ~kVmControlSend);
        ++sends;
        return true;
    }
    bool acknowledged() { return (HwRead32(regs_, kOrloVpStatus) & kVmStatusStepDone) != 0; }
    void set(uint32_t bits, uint32_t cleared) { command_ = (command_ & ~cleared) | bits; }
    // Steps 3 to 6 of the set-up on the first path; false where the library gives -1.
    bool run()
    {
        for (uint32_t r : orlos()) {
            HwWrite32(r, kOrloVpStatus, kVmStatusSendBusy);
            HwWrite32(r, kOrloVtControl, (HwRead32(r, kOrloVtControl) | kVtControlReset) & ~kVtControlContinuous);
            HwWrite32(r, kOrloVtControl, HwRead32(r, kOrloVtControl) & ~kVtControlReset);
        }
        HwWrite32(regs_, kOrloStatus, HwRead32(regs_, kOrloStatus) | kStatusVmResend);
        if (!acknowledged()) return false;
        const uint32_t port = HwRead32(regs_, kOrloVmPort);
        HwWrite32(regs_, kOrloVmPort, 1023);
        command_ = 0;
        set(kVmCommandSetup | 0x80 | kVmCommandStepMark | kVmCommandStepStart,
            kVmCommandData1Valid | kVmCommandData2Valid | kVmCommandStepRepeat | kVmCommandStepStartAlt);
        if (!send()) return false;
        set(kVmCommandStepRepeat, kVmCommandStepMark | kVmCommandStepStart | kVmCommandStepStartAlt);
        for (int i = 0; i < 16; ++i)
            if (!send()) return false;
        uint32_t id = 0;
        if (!acknowledged()) {
            set(kVmCommandStepMark | kVmCommandStepRepeat | kVmCommandStepStartAlt, 0);
            for (int i = 0; i < 15 && !acknowledged(); ++i) {
                command_ = (command_ & ~kVmCommandCode) | 0x80 | ++id;
                if (!send()) return false;
                set(0, kVmCommandStepStartAlt);
            }
        }
        set(kVmCommandStepMark | kVmCommandStepRepeat | kVmCommandStepStart, 0);
        bool done = false;
        for (int i = 0; i < 15 && !done; ++i) {
            command_ = (command_ & ~kVmCommandCode) | 0x80 | ++id;
            if (!send()) return false;
            set(0, kVmCommandStepStart);
            done = acknowledged();
        }
        if (!done) return false;
        command_ = (command_ & ~(kVmCommandSetup | kVmCommandCode)) | 0x80;
        set(kVmCommandStepMark | kVmCommandStepRepeat, kVmCommandStepStart | kVmCommandStepStartAlt);
        if (!send()) return false;
        set(0, kVmCommandStepMark | kVmCommandStepRepeat);
        HwWrite32(regs_, kOrloVmPort, port);
        for (uint32_t r : orlos())
            if (!(HwRead32(r, kOrloVpStatus) & kVmStatusPortReady)) return false;
        for (uint32_t r : orlos()) HwWrite32(r, kOrloVpStatus, kVmStatusSetupAgain);
        return true;
    }
    int sends = 0;

private:
    std::vector<uint32_t> orlos() const
    {
        std::vector<uint32_t> all{regs_};
        if (display_) all.push_back(display_);
        return all;
    }
    uint32_t regs_, display_;
    uint32_t command_ = 0;
};

TEST_F(SimOrloTest, VmPortSetUpReachesPortReadyOnOneAndTwoOrlos)
{
    for (bool two : {false, true}) {
        SCOPED_TRACE(two);
        Use(true, two, false, true);
        const uint32_t regs = Registers();
        ASSERT_TRUE(words_->enable(kVmDoneSourcePrimary));
        // The first path: no port id yet, port not ready, the clock option set.
        EXPECT_EQ(HwRead32(regs, kOrloVmNodeId) & 0xF, 0u);
        EXPECT_EQ(HwRead32(regs, kOrloVpStatus) & kVmStatusPortReady, 0u);
        EXPECT_EQ(HwRead32(regs, kOrloStatus) & kStatusVmClockSetup, kStatusVmClockSetup);
        HwWrite32(regs, kOrloVpControl, HwRead32(regs, kOrloVpControl) | kVmControlEnable);
        VmSetUp setUp(regs, two ? Registers(true) : 0);
        ASSERT_TRUE(setUp.run());
        EXPECT_EQ(setUp.sends, 1 + 16 + 2 + 1);
        EXPECT_EQ(Reg(kOrloVpStatus) & kVmStatusPortReady, kVmStatusPortReady);
        if (two) {
            EXPECT_EQ(Reg(kOrloVpStatus, true) & kVmStatusPortReady, kVmStatusPortReady);
        }
        EXPECT_EQ(Reg(kOrloVmPort), 0u);   // restored
        EXPECT_EQ(words_->take(), Repeat(SourceWords(51), setUp.sends));
    }
}

TEST_F(SimOrloTest, ClosingSendWithoutAResetPulseLeavesThePortNotReady)
{
    const uint32_t regs = Registers();
    VmSetUp setUp(regs, 0);
    setUp.set(0x80 | kVmCommandStepMark | kVmCommandStepRepeat, 0);
    ASSERT_TRUE(setUp.send());
    EXPECT_EQ(Reg(kOrloVpStatus) & kVmStatusPortReady, 0u);
    // A reset pulse withdraws readiness that a previous set-up gave.
    BoardSim::instance().orlo(0).setReg(kOrloVpStatus, kVmStatusPortReady);
    HwWrite32(regs, kOrloVtControl, kVtControlReset);
    EXPECT_EQ(Reg(kOrloVpStatus), kVmStatusPortReady);   // not before the pulse ends
    HwWrite32(regs, kOrloVtControl, 0);
    EXPECT_EQ(Reg(kOrloVpStatus), kVmStatusStepDone);
}

// ---------------------------------------------------------------- sources raised by a test

TEST_F(SimOrloTest, RaiseSourceDeliversSpecialThenPlainWordOnlyWhileASourceIsEnabled)
{
    BoardSim& sim = BoardSim::instance();
    EXPECT_FALSE(sim.raiseSource(0, 40));
    EXPECT_EQ(sim.droppedInterrupts(0), 1u);
    ASSERT_TRUE(words_->enable(40));
    EXPECT_TRUE(sim.raiseSource(0, 40));
    EXPECT_TRUE(sim.raiseSource(0, 95 - 10));
    EXPECT_EQ(words_->take(), (std::vector<uint32_t>{0x80000000u | (1u << 22) | (1u << 8), (1u << 22) | (1u << 8),
                                                     0x80000000u | (2u << 22) | (1u << 21), (2u << 22) | (1u << 21)}));
    for (uint32_t refused : {31u, 54u, 96u, 160u}) EXPECT_FALSE(sim.raiseSource(0, refused)) << refused;
    EXPECT_FALSE(sim.raiseSource(3, 40));   // no such board
    EXPECT_TRUE(words_->take().empty());
}

} // namespace
