// The VM engine's commands and set-up, the VM server's updates, the overrun tests and the
// bounded waits of the grab channel operations.
#include "intservertest.h"

#include <algorithm>
#include <functional>

using namespace inttest;
using boardsim::BoardSim;
using boardsim::HwAccess;
using boardsim::HwArea;
using boardsim::HwOp;

namespace {

class VmTest : public IntServerTest {
protected:
    // Answers reads of one primary Orlo register with the function's value.
    void Answer(uint32_t offset, std::function<uint32_t()> value)
    {
        answers_.emplace_back(offset, std::move(value));
        auto* answers = &answers_;
        BoardSim::instance().setReadFilter([answers](const HwAccess& a) {
            if (a.area == HwArea::PrimaryRegs)
                for (const auto& [offset, value] : *answers)
                    if (a.offset == offset) return value();
            return a.value;
        });
    }
    void Answer(uint32_t offset, uint32_t value)
    {
        Answer(offset, [value] { return value; });
    }
    // A received VM command as the status and command registers show it.
    void Received(uint32_t status, uint32_t command, int32_t sema)
    {
        answers_.clear();
        Answer(kOrloVpStatus, status);
        Answer(kOrloVmCommand, command);
        Answer(kOrloVmData1, 0x3FFFFFC);
        Answer(kOrloVmData2, static_cast<uint32_t>(sema));
    }
    std::vector<std::pair<uint32_t, std::function<uint32_t()>>> answers_;
};

// ---- commands ---------------------------------------------------------------------------

TEST_F(VmTest, CommandWritesItsDataAndCodeAndCompletesOnTheDoneSignal)
{
    SERVINFO_ST* s = Header();
    MP_RESOURCE_ST resource{};
    Raise(kVmDoneSourcePrimary);
    Trace();
    const uint32_t data[2] = {0x1234, 0};
    EXPECT_EQ(mpPrvVMCommand(&resource, s, 192, 1, data), 0);
    EXPECT_EQ(Writes(kOrloVmData1), (std::vector<uint32_t>{0x1234}));
    EXPECT_TRUE(Writes(kOrloVmData2).empty());
    EXPECT_EQ(Writes(kOrloVmCommand), (std::vector<uint32_t>{0x1C1}));
    EXPECT_EQ(Writes(kOrloVpControl), (std::vector<uint32_t>{kVmControlSend}));
    EXPECT_EQ(resource.err.code, 0);

    Raise(kVmDoneSourcePrimary);
    BoardSim::instance().clearTrace();
    EXPECT_EQ(mpPrvVMCommand(nullptr, s, 176, 5, nullptr), 0);
    EXPECT_EQ(Writes(kOrloVmCommand), (std::vector<uint32_t>{176})) << "176 takes no argument; no data clears both flags";
}

TEST_F(VmTest, CommandThatNeverCompletesLogsOnlyWithAResource)
{
    SERVINFO_ST* s = Header();
    MP_RESOURCE_ST resource{};
    const double start = HwClockSeconds();
    EXPECT_EQ(mpPrvVMCommand(&resource, s, 128, 3, nullptr), -1);
    EXPECT_GE(HwClockSeconds() - start, kVmCommandSeconds);
    EXPECT_LT(HwClockSeconds() - start, 1.5);
    EXPECT_EQ(resource.err.code, HLC_ERR_TIMEOUT);
    EXPECT_STREQ(mp_err_msg(&resource.err), "VM send command timed out");
    EXPECT_EQ(mpPrvVMCommand(nullptr, s, 128, 3, nullptr), -1);
}

TEST_F(VmTest, CommandWhoseSendStaysBusyFails)
{
    SERVINFO_ST* s = Header();
    Answer(kOrloVpStatus, kVmStatusSendBusy);
    MP_RESOURCE_ST resource{};
    EXPECT_EQ(vmengine::sendCommand(s), -1);
    EXPECT_EQ(mpPrvVMCommand(&resource, s, 144, 0, nullptr), -1);
}

// ---- command received -------------------------------------------------------------------

TEST_F(VmTest, PeerCommandWakesTheTaskSemaphoreNamedInItsSecondWord)
{
    StartServers();
    const int32_t sema = TaskOpenSema(-1, 0);
    Received(kVmStatusCommand, 0x95, sema);
    Trace();
    Raise(kSignalVmCommand);
    EXPECT_EQ(TaskCheckSema(sema), 1);
    EXPECT_EQ(Writes(kOrloVpStatus), (std::vector<uint32_t>{kVmStatusCommand}));

    // Another command, or another marker, wakes nobody.
    Received(kVmStatusCommand, 0xA5, sema);
    Raise(kSignalVmCommand);
    EXPECT_EQ(TaskCheckSema(sema), 0);
}

TEST_F(VmTest, ReceivedWordIsAcknowledgedWithoutWakingAnyone)
{
    StartServers();
    const int32_t sema = TaskOpenSema(-1, 0);
    Received(kVmStatusCommand | kVmStatusWord, 0x95, sema);
    Trace();
    Raise(kSignalVmCommand);
    EXPECT_EQ(TaskCheckSema(sema), 0);
    EXPECT_EQ(Writes(kOrloVpStatus), (std::vector<uint32_t>{kVmStatusWord, kVmStatusCommand}));
    bool acknowledged = false;
    for (const auto& a : BoardSim::instance().trace())
        acknowledged |= a.op == HwOp::Read && a.area == HwArea::PrimaryRegs && a.offset == kOrloVmReceived;
    EXPECT_TRUE(acknowledged);
}

// ---- VM server ----------------------------------------------------------------------------

TEST_F(VmTest, VmServerSetsTheEngineUpAgainOnStatusBit2)
{
    StartServers();
    SERVINFO_ST* s = State(0);
    s->slot(0, kServVmPending) = 7;
    SetReg(kOrloVmNodeId, 1);
    Answer(kOrloVpStatus, kVmStatusSetupAgain | kVmStatusStepDone | kVmStatusPortReady);
    Trace();
    Raise(kSignalVm);
    EXPECT_EQ(s->slot(0, kServVmPending), 0u);
    const std::vector<uint32_t> status = Writes(kOrloVpStatus);
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.front(), kVmStatusSendBusy);
    EXPECT_NE(std::find(status.begin(), status.end(), kVmStatusSetupAgain), status.end());
    EXPECT_EQ(Reg(kOrloVmChannelControl) & 0xFF, 0xFFu) << "the VM registers were reset";
}

TEST_F(VmTest, VmServerResendsWhenThePortIsFree)
{
    StartServers();
    SetReg(kOrloStatus, kStatusVmResend);
    Raise(kVmDoneSourcePrimary);
    Trace();
    Raise(kSignalVm);
    EXPECT_EQ(Writes(kOrloVmCommand), (std::vector<uint32_t>{0xC1}));

    // A port that stays busy for 1 s gets no command.
    Answer(kOrloVpStatus, kVmStatusBusy);
    BoardSim::instance().clearTrace();
    Raise(kSignalVm);
    EXPECT_TRUE(Writes(kOrloVmCommand).empty());
}

// ---- set-up -------------------------------------------------------------------------------

TEST_F(VmTest, SetUpOnTheClockPathRunsThePortConfiguration)
{
    SetReg(kOrloStatus, kStatusVmClockSetup);
    SetReg(kOrloVmPort, 0x155);
    reinterpret_cast<uint32_t*>(block_.get())[257] = 33;
    int reads = 0;
    // The port is not ready before the set-up and is after it; every step is acknowledged.
    BoardSim::instance().setReadFilter([&reads](const HwAccess& a) {
        if (a.area == HwArea::PrimaryRegs && a.offset == kOrloVpStatus)
            return ++reads == 1 ? kVmStatusStepDone : kVmStatusStepDone | kVmStatusPortReady;
        if (a.area == HwArea::DisplayRegs && a.offset == kOrloVpStatus) return kVmStatusPortReady;
        return a.value;
    });
    Raise(kSignalVm);
    Trace();
    EXPECT_EQ(mpPrvVMConfig(kNode), 0);
    EXPECT_EQ(mp_sys_sema_check(kNode, kSignalVm), 0) << "pending VM signals were taken";
    const std::vector<uint32_t> clock = Writes(kOrloControl);
    ASSERT_EQ(clock.size(), 4u);
    EXPECT_EQ(clock[0], 1u << 31);
    EXPECT_EQ(clock[2], (1u << 31) | (3u << 20) | (1u << 10) | (1u << 11)) << "code 33 sets bit 10";
    EXPECT_EQ(clock[3], (3u << 20) | (1u << 10) | (1u << 11));
    EXPECT_NE(Reg(kOrloMemControl) & (1u << 18), 0u);
    EXPECT_NE(Reg(kOrloMemControl, true) & (1u << 18), 0u);
    ASSERT_EQ(Writes(kOrloStatus).size(), 1u);
    EXPECT_NE(Writes(kOrloStatus)[0] & kStatusVmResend, 0u) << "the resend option is set on this path";
    const std::vector<uint32_t> commands = Writes(kOrloVmCommand);
    ASSERT_EQ(commands.size(), 19u);
    EXPECT_EQ(commands[0], kVmCommandSetup | kVmCommandStepMark | kVmCommandStepStart | 0x80);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(commands[i], kVmCommandSetup | kVmCommandStepRepeat | 0x80) << i;
    EXPECT_EQ(commands[17], kVmCommandSetup | kVmCommandStepMark | kVmCommandStepRepeat | kVmCommandStepStart | 0x81)
        << "the first free id";
    EXPECT_EQ(commands[18], kVmCommandStepMark | kVmCommandStepRepeat | 0x80);
    const std::vector<uint32_t> port = Writes(kOrloVmPort);
    EXPECT_EQ(port, (std::vector<uint32_t>{1023, 0x155, 0})) << "opened, restored, then cleared by the reset";
}

TEST_F(VmTest, SetUpWithoutTheClockOptionOnlyPreparesASecondModule)
{
    block_->moduleType = 2;
    Trace();
    EXPECT_EQ(mpPrvVMConfig(kNode), -1);
    EXPECT_EQ(Reg(kOrloControl) & ((1u << 22) | (1u << 21) | (1u << 11)), (1u << 21) | (1u << 11));
    EXPECT_EQ(Reg(kOrloMemControl) & (1u << 18), 1u << 18);
    EXPECT_TRUE(Writes(kOrloVmCommand).empty());
    block_->moduleType = 1;
    BoardSim::instance().clearTrace();
    EXPECT_EQ(mpPrvVMConfig(kNode), -1);
    EXPECT_TRUE(Writes(kOrloControl).empty());
}

TEST_F(VmTest, SetUpOfAReadyPortOnlySwitchesTheVmMemoryOn)
{
    SetReg(kOrloVmNodeId, 2);
    Trace();
    EXPECT_EQ(mpPrvVMConfig(kNode), 0);
    EXPECT_EQ(Reg(kOrloMemControl) & (1u << 18), 1u << 18);
    EXPECT_EQ(Reg(kOrloMemControl, true) & (1u << 18), 1u << 18);
    EXPECT_TRUE(Writes(kOrloVmCommand).empty());
    EXPECT_TRUE(Writes(kOrloVpStatus).empty());
}

TEST_F(VmTest, SetUpWaitingForAPortThatNeverBecomesReadyEnds)
{
    SetReg(kOrloVmNodeId, 2);
    Answer(kOrloVpStatus, kVmStatusSetupAgain | kVmStatusStepDone);
    const double start = HwClockSeconds();
    EXPECT_EQ(mpPrvVMConfig(kNode), -1);
    EXPECT_GE(HwClockSeconds() - start, timeouts_[3]);
    EXPECT_LT(HwClockSeconds() - start, 1.0);
}

TEST_F(VmTest, SetUpFailsWhenTheStepIsNotAcknowledgedOrWithoutAnOrlo)
{
    SetReg(kOrloVmNodeId, 2);
    Answer(kOrloVpStatus, kVmStatusSetupAgain);
    EXPECT_EQ(mpPrvVMConfig(kNode), -1);
    EXPECT_EQ(mpPrvVMConfig(0x22), -1);
}

TEST_F(VmTest, IdsSkipTheReservedOnes)
{
    auto* bytes = reinterpret_cast<uint8_t*>(block_.get());
    bytes[1072] = 1;
    bytes[1080] = 9;
    bytes[1087] = 3;
    vmengine::VmIdCounter counter;
    std::vector<uint32_t> ids;
    for (uint32_t id; (id = vmengine::nextId(kNode, &counter)) != 0;) ids.push_back(id);
    EXPECT_EQ(counter.reserved, 3);
    EXPECT_EQ(ids.size(), 12u);
    EXPECT_EQ(ids.front(), 1u);
    EXPECT_EQ(ids.back(), 12u);
}

// ---- overruns -----------------------------------------------------------------------------

TEST_F(VmTest, VmOverrunLogsIntoTheTransfersResourceAndClearsTheBit)
{
    SERVINFO_ST* s = Header();
    MP_RESOURCE_ST resource{};
    VMXFER_ST transfer{};
    transfer.resource = buftest::W(&resource);
    s->vmTransfer = buftest::W(&transfer);
    Answer(kOrloVpStatus, kVmStatusOverrun);
    Trace();
    EXPECT_EQ(mpPrvTestVMOverrun(s), 1);
    EXPECT_EQ(Writes(kOrloVpStatus), (std::vector<uint32_t>{256}));
    EXPECT_EQ(resource.err.code, HLC_ERR_NOT_PRESENT);
    EXPECT_STREQ(mp_err_msg(&resource.err), "VM interrupt overrun");
    answers_.clear();
    Answer(kOrloVpStatus, 0u);
    EXPECT_EQ(mpPrvTestVMOverrun(s), 0);
    s->vmTransfer = 0;
    answers_.clear();
    Answer(kOrloVpStatus, kVmStatusOverrun);
    EXPECT_EQ(mpPrvTestVMOverrun(s), 1) << "an overrun without a transfer logs nowhere";
}

TEST_F(VmTest, LostGrabCountsAsOverrunAndLogsOncePerSyncObject)
{
    SERVINFO_ST* s = Header();
    const uint32_t current = NewSync(), next = NewSync();
    s->slot(1, kSlotSyncCurrent) = current;
    s->slot(1, kSlotSyncNext) = next;
    s->slot(1, kSlotRemaining) = 2;
    s->slot(1, kSlotThreadNext) = NewObject(kBufKindThread, 64);
    SetReg(orloev::kGrabCheck, 0x4000000u | orloev::kLostGrab);
    Trace();
    EXPECT_EQ(mpPrvTestGrabOverrun(s, 0, 1), 1) << "a lost grab with a next grab is repeated";
    EXPECT_EQ(Reg(orloev::kGrabCheck), 0x4000000u);
    EXPECT_EQ(Writes(kOrloGrabStatus), (std::vector<uint32_t>{9}));
    EXPECT_EQ(Sync(next)->err.code, HLC_ERR_MISCELLANEOUS);
    EXPECT_STREQ(mp_err_msg(&Sync(next)->err), "Grab overrun");
    EXPECT_STREQ(mp_err_func(&Sync(next)->err), "DigGrab");
    EXPECT_EQ(Sync(current)->err.code, 0);

    // A second overrun keeps the first error of the object.
    Sync(next)->err.function = "kept";
    SetReg(kOrloGrabStatus, 0x9);
    EXPECT_EQ(mpPrvTestGrabOverrun(s, 0, 1), 0);
    EXPECT_STREQ(Sync(next)->err.function, "kept");

    // Without grabs left the grab in flight has the overrun.
    s->slot(1, kSlotRemaining) = 0;
    SetReg(kOrloGrabStatus, 0x1);
    mpPrvTestGrabOverrun(s, 0, 1);
    EXPECT_EQ(Sync(current)->err.code, HLC_ERR_MISCELLANEOUS);
}

TEST_F(VmTest, OverrunNeverWritesThroughAWordThatHoldsNoSyncObject)
{
    SERVINFO_ST* s = Header();
    std::vector<uint32_t> words(16, 0x5A5A5A5Au);
    const uint32_t thread = NewObject(kBufKindThread, 64);
    std::vector<uint8_t> before(64);
    std::memcpy(before.data(), mp_buf_address_band_internal(reinterpret_cast<_MP_BUF_ST*>(thread), 0), 64);
    s->slot(0, kSlotRemaining) = 1;
    for (uint32_t word : {buftest::W(words.data()), 5u, thread}) {
        s->slot(0, kSlotSyncNext) = word;
        SetReg(kOrloGrabStatus, 0x9);
        SetReg(orloev::kGrabCheck, orloev::kLostGrab);
        EXPECT_EQ(mpPrvTestGrabOverrun(s, 1, 0), 0);
    }
    EXPECT_EQ(words, std::vector<uint32_t>(16, 0x5A5A5A5Au));
    EXPECT_EQ(std::memcmp(before.data(), mp_buf_address_band_internal(reinterpret_cast<_MP_BUF_ST*>(thread), 0), 64), 0);
}

// ---- bounded waits --------------------------------------------------------------------------

TEST_F(VmTest, LostGrabWaitForRunningListsEndsWithItsError)
{
    SERVINFO_ST* s = Header();
    const uint32_t current = NewSync();
    s->slot(0, kSlotSyncCurrent) = current;
    SetReg(orloev::kGrabCheck, orloev::kLostGrab);
    SetReg(kOrloGrabListControl, 1);
    const double start = HwClockSeconds();
    EXPECT_EQ(mpPrvTestGrabOverrun(s, 0, 0), 0);
    EXPECT_GE(HwClockSeconds() - start, timeouts_[3]);
    EXPECT_LT(HwClockSeconds() - start, 1.0);
    EXPECT_EQ(Sync(current)->err.code, HLC_ERR_TIMEOUT);
    EXPECT_TRUE(Printed("Timeout in mpPrvTestGrabOverrun()"));
}

TEST_F(VmTest, StoppingAHostListGrabWaitsBoundedThenPatchesTheList)
{
    SERVINFO_ST* s = Header();
    mpPrvSetThreadGrabLocation([](uint32_t) { return 0x80000003u; });
    s->slot(0, kSlotThreadCurrent) = 0x1234;
    s->slot(0, kSlotSyncCurrent) = NewSync();
    uint32_t patched[2] = {0, 0};
    uint32_t entry[2] = {0, 0};
    s->listEnd = 0x100000;
    s->patchAddress[0] = buftest::W(&patched[0]);
    s->patchAddress[1] = buftest::W(&patched[1]);
    s->patchValue[0] = 0x11;
    s->patchValue[1] = 0x22;
    s->listDescriptor = buftest::W(entry);
    SetReg(kOrloGrabListPointer, 0x100000 - 88);
    SetReg(kOrloGrabListControl, 1);
    const double start = HwClockSeconds();
    mpPrvDisableContinuousGrab(s, 0);
    EXPECT_GE(HwClockSeconds() - start, timeouts_[3]);
    EXPECT_LT(HwClockSeconds() - start, 1.0);
    EXPECT_TRUE(Printed("Timeout in mpPrvDisableContinuousGrab()"));
    EXPECT_EQ(Sync(s->slot(0, kSlotSyncCurrent))->err.code, HLC_ERR_TIMEOUT);
    EXPECT_EQ(patched[0], 0x11u);
    EXPECT_EQ(patched[1], 0x22u);
    EXPECT_EQ(entry[0], 0x100000u);
    EXPECT_EQ(entry[1], record_->primaryRegs + kOrloGrabListPointer);

    // A list short of its end is patched at once.
    g_printed.clear();
    SetReg(kOrloGrabListPointer, 0x100000 - 96);
    const double again = HwClockSeconds();
    mpPrvDisableContinuousGrab(s, 0);
    EXPECT_LT(HwClockSeconds() - again, timeouts_[3]);
    EXPECT_FALSE(Printed("Timeout"));
}

TEST_F(VmTest, StoppingABoardGrabClearsTheContinuousBit)
{
    SERVINFO_ST* s = Header();
    SetReg(kOrloGrabControl, 0x3);
    intsrv::Shadow(s, kOrloGrabControl) = 0x3;
    mpPrvDisableContinuousGrab(s, 0);
    EXPECT_EQ(Reg(kOrloGrabControl), 0x1u);
    SetReg(kOrloGrabControl, 0x3);
    intsrv::Shadow(s, kOrloGrabControl) = 0x3;
    block_->moduleType = 4;
    mpPrvDisableContinuousGrab(s, 0);
    EXPECT_EQ(Reg(kOrloGrabControl), 0x3u) << "the second family stops its own grabs";
}

class FreeChannelTest : public VmTest {
protected:
    void SetUp() override
    {
        VmTest::SetUp();
        head_ = NewObject(kBufKindDigitizer, 128);
        block_->digitizerList[2] = head_;
        words_ = static_cast<uint32_t*>(mp_buf_address_band_internal(reinterpret_cast<_MP_BUF_ST*>(head_), 0));
        s_ = Header();
        s_->slot(0, kSlotChannelBits) = 0x30000;
        words_[7] = 1;
        words_[9] = 1;
        words_[10] = 2;
    }
    uint32_t head_ = 0;
    uint32_t* words_ = nullptr;
    SERVINFO_ST* s_ = nullptr;
};

TEST_F(FreeChannelTest, AllChannelsLowersTheUsersAndReleasesTheFreedSections)
{
    SetReg(kOrloVmChannelControl, 0xF0);
    SetReg(kOrloSectionWord, 0x3000);
    mpPrvFreeCh(s_, 0);
    EXPECT_EQ(words_[9], 0u);
    EXPECT_EQ(words_[10], 1u);
    EXPECT_EQ(words_[7], 1u);
    EXPECT_EQ(Reg(kOrloSectionWord), 0x2000u);
    EXPECT_EQ(mp_sys_lock_check(kNode), 0) << "the lock was released";
    mp_sys_lock_reset(kNode);

    mpPrvFreeCh(s_, 0);
    EXPECT_EQ(words_[10], 0u);
    EXPECT_EQ(words_[7], 0u) << "no channel in use any more";
    EXPECT_EQ(Reg(kOrloSectionWord), 0u);
}

TEST_F(FreeChannelTest, HeldLockEndsTheWaitWithItsErrorAndChangesNothing)
{
    SetReg(kOrloVmChannelControl, 0xF0);
    s_->slot(0, kSlotSyncCurrent) = NewSync();
    ASSERT_EQ(mp_sys_lock_check(kNode), 0);
    const double start = HwClockSeconds();
    mpPrvFreeCh(s_, 0);
    EXPECT_GE(HwClockSeconds() - start, timeouts_[3]);
    EXPECT_LT(HwClockSeconds() - start, 1.0);
    EXPECT_EQ(words_[9], 1u);
    EXPECT_EQ(words_[10], 2u);
    EXPECT_TRUE(Printed("Timeout in mpPrvFreeCh()"));
    EXPECT_EQ(Sync(s_->slot(0, kSlotSyncCurrent))->err.code, HLC_ERR_TIMEOUT);
    mp_sys_lock_reset(kNode);
}

TEST_F(VmTest, StartVmAndLineInterruptUpdateProgramTheGrabControl)
{
    SERVINFO_ST* s = Header();
    s->slot(0, kSlotChannelMask) = 0x5;
    Trace();
    mpPrvStartVm(s);
    EXPECT_EQ(Reg(kOrloVmChannelControl) & 0xF0, 0x50u);
    EXPECT_EQ(Writes(kOrloGrabControl),
              (std::vector<uint32_t>{0x1, 0x4000001, 0x4000001, 0x4000000, 0x4000004}));
    EXPECT_EQ(intsrv::Shadow(s, kOrloGrabControl), 0x4000000u);

    BoardSim::instance().clearTrace();
    s->slot(2, kSlotLineNext) = 123;
    s->slot(2, kSlotLineMode) = 2;
    intsrv::Shadow(s, kOrloGrabControl) = 3u << 20;
    mpPrvUdtLint(s, 2);
    EXPECT_EQ(Writes(kOrloGrabControl), (std::vector<uint32_t>{0, 2u << 20}));
    EXPECT_EQ(Reg(orloev::kGrabLine), 123u);
}

}  // namespace
