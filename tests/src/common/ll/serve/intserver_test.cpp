// The interrupt servers woken by their signals, the grab chain and the grab events.
#include "intservertest.h"

using namespace inttest;

namespace {

// A test family whose end of grab runs the grab chain, as the grab modules' handlers do.
std::vector<std::pair<uint32_t, uint32_t>> g_starts, g_ends;
void CountingEnd(SERVINFO_ST* s, uint32_t c)
{
    g_ends.emplace_back(s->index, c);
    mpPrvGrabServerBody(s, c);
}
void RecordStart(SERVINFO_ST* s, uint32_t c)
{
    g_starts.emplace_back(s->index, c);
}
void RecordEnd(SERVINFO_ST* s, uint32_t c)
{
    g_ends.emplace_back(s->index, c);
}
int StandardFamily(uint32_t node)
{
    return node == kNode ? kGrabFamilyStd : kGrabFamilyNone;
}

class ServerTest : public IntServerTest {
protected:
    void SetUp() override
    {
        IntServerTest::SetUp();
        g_starts.clear();
        g_ends.clear();
    }
    void Family(GrabEventFn start, GrabEventFn end)
    {
        MpGrabFamilyHandlers h;
        h.startOfGrab = start;
        h.endOfGrab = end;
        mpPrvSetGrabFamily(kGrabFamilyStd, h);
        mpPrvSetGrabFamilyOf(StandardFamily);
    }
    static bool EventSet(uint32_t word)
    {
        return WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(word)), 0) == WAIT_OBJECT_0;
    }
    static int32_t Count(uint32_t sema) { return TaskResetSema(static_cast<int32_t>(sema)); }
    // Servers on a node whose family's end of grab runs the grab chain; the primary Orlo's
    // channel 0 completion semaphore emptied.
    uint32_t ChainOnChannel0()
    {
        Family(nullptr, CountingEnd);
        StartServers();
        const uint32_t sema = State(0)->slot(0, kSlotDoneSema);
        Count(sema);
        return sema;
    }
    // The second family's start and end handlers (recording), the servers started and the
    // module's status block found through _NODE_ST word 255 (record word 1: the primary Orlo's).
    void SecondFamilyServers(uint8_t* block, uint32_t* status)
    {
        Family(nullptr, nullptr);
        MpGrabFamilyHandlers h;
        h.startOfGrab = RecordStart;
        h.endOfGrab = RecordEnd;
        mpPrvSetGrabFamily(kGrabFamilyAsync, h);
        mpPrvSetGrabFamilyOf([](uint32_t) { return kGrabFamilyAsync; });
        StartServers();
        status[1] = buftest::W(block);
        reinterpret_cast<uint32_t*>(block_.get())[255] = buftest::W(status);
    }
};

TEST_F(ServerTest, StartFillsBothStatesOpensTheServersObjectsAndRunsOnce)
{
    StartServers();
    for (uint32_t o = 0; o < 2; ++o) {
        SERVINFO_ST* s = State(o);
        EXPECT_EQ(s->started, 1u);
        EXPECT_EQ(s->node & 0xFF, kNode);
        EXPECT_EQ(s->index, o);
        EXPECT_EQ(s->registers, o ? record_->displayRegs : record_->primaryRegs);
        EXPECT_EQ(s->shadow, buftest::W(state_.get()) + (o ? 0x4000u : 0u));
        for (uint32_t c = 0; c < kServSlots; ++c) {
            EXPECT_EQ(static_cast<int32_t>(s->slot(c, kSlotRemaining)), -2);
            EXPECT_EQ(static_cast<int32_t>(s->slot(c, kSlotRequested)), -2);
            EXPECT_EQ(s->slot(c, kSlotChannelMask), 15u);
            EXPECT_EQ(Count(s->slot(c, kSlotDoneSema)), 1) << "completion semaphores start with one count";
            EXPECT_NE(s->slot(c, kSlotDoneEvent), 0u);
            EXPECT_FALSE(EventSet(s->slot(c, kSlotDoneEvent)));
            EXPECT_TRUE(TaskValidateSema(static_cast<int32_t>(s->slot(c, kSlotLineSema))));
        }
        EXPECT_TRUE(TaskValidateSema(s->endOfTransferSema));
        EXPECT_TRUE(TaskValidateSema(s->vmLineSema)) << "the display-line server leaves the VM-line semaphores";
    }
    EXPECT_TRUE(TaskValidateSema(State(1)->displayLineSema));
    EXPECT_EQ(State(0)->displayLineSema, 0);

    const uint32_t sema = State(0)->slot(0, kSlotDoneSema);
    State(0)->started = 0;
    State(1)->started = 1;
    StartServers();
    EXPECT_EQ(State(0)->slot(0, kSlotDoneSema), sema) << "a started node is not started again";
}

TEST_F(ServerTest, PrimaryVmLineSemaphoreStaysUsableForItsWaiters)
{
    StartServers();
    const int32_t sema = State(0)->vmLineSema;
    ASSERT_TRUE(TaskValidateSema(sema));
    EXPECT_EQ(TaskSignalSema(sema), 1);
    EXPECT_EQ(TaskCheckSema(sema), 1);
}

TEST_F(ServerTest, SingleGrabSignalsCompletionOnceAndSetsTheEventFromTheSecondCompletion)
{
    const uint32_t sema = ChainOnChannel0();
    SERVINFO_ST* s = State(0);
    const uint32_t sync = NewSync();
    s->slot(0, kSlotRemaining) = 1;
    s->slot(0, kSlotRequested) = 1;
    s->slot(0, kSlotSyncNext) = sync;
    s->slot(0, kSlotLineNext) = 77;

    Raise(kSignalEndOfGrab);
    ASSERT_EQ(g_ends.size(), 1u);
    EXPECT_EQ(g_ends[0], std::make_pair(0u, 0u));
    EXPECT_EQ(Count(sema), 1);
    EXPECT_FALSE(EventSet(s->slot(0, kSlotDoneEvent)));
    EXPECT_EQ(s->slot(0, kSlotInFlight), 1u);
    EXPECT_EQ(s->slot(0, kSlotRemaining), 0u);
    EXPECT_EQ(s->slot(0, kSlotSequence), 0u);
    EXPECT_EQ(s->slot(0, kSlotSyncCurrent), sync) << "the pending set-up moved into place";
    EXPECT_EQ(s->slot(0, kSlotSyncNext), 0u);
    EXPECT_EQ(s->slot(0, kSlotLineCurrent), 77u);

    Raise(kSignalEndOfGrab);
    EXPECT_EQ(Count(sema), 0) << "a finished single grab completes once";
    EXPECT_EQ(static_cast<int32_t>(s->slot(0, kSlotRemaining)), -1);

    s->slot(0, kSlotRemaining) = 1;
    Raise(kSignalEndOfGrab);
    EXPECT_EQ(Count(sema), 1);
    EXPECT_TRUE(EventSet(s->slot(0, kSlotDoneEvent))) << "set from the second completion on";
}

TEST_F(ServerTest, EndlessGrabStaysContinuousWithoutCounting)
{
    const uint32_t sema = ChainOnChannel0();
    SERVINFO_ST* s = State(0);
    s->slot(0, kSlotRemaining) = static_cast<uint32_t>(-1);
    s->slot(0, kSlotRequested) = static_cast<uint32_t>(-1);
    Raise(kSignalEndOfGrab);
    Raise(kSignalEndOfGrab);
    EXPECT_EQ(g_ends.size(), 2u);
    EXPECT_EQ(s->slot(0, kSlotSequence), 1u);
    EXPECT_EQ(static_cast<int32_t>(s->slot(0, kSlotRemaining)), -1);
    EXPECT_EQ(Count(sema), 0);
}

TEST_F(ServerTest, SequenceCountsDownAndStopsTheContinuousGrabAtItsLast)
{
    Family(nullptr, CountingEnd);
    StartServers();
    SERVINFO_ST* s = State(1);
    s->slot(2, kSlotRemaining) = 3;
    s->slot(2, kSlotRequested) = 3;
    mpPrvGrabServerBody(s, 2);
    EXPECT_EQ(s->slot(2, kSlotRemaining), 2u);
    EXPECT_EQ(s->slot(2, kSlotSequence), 1u);
    Trace();
    SetReg(kOrloGrabControl, 0x3, true);
    mpPrvGrabServerBody(s, 2);
    mpPrvGrabServerBody(s, 2);
    EXPECT_EQ(s->slot(2, kSlotRemaining), 0u);
    EXPECT_EQ(Reg(kOrloGrabControl, true) & 0x2, 0u) << "the continuous grab is stopped";
    EXPECT_EQ(Count(s->slot(2, kSlotDoneSema)), 2);
}

TEST_F(ServerTest, NodeWithOnlyADisplayOrloServesTheDisplaySignalsAlone)
{
    Use(false, true);
    Family(RecordStart, RecordEnd);
    StartServers();
    EXPECT_EQ(mp_interrupt_get_signal(kNode, kSignalEndOfGrab), -1);
    Raise(kSignalEndOfGrab + kSignalDisplayOffset);
    Raise(kSignalStartOfGrab + kSignalDisplayOffset);
    ASSERT_EQ(g_ends.size(), 1u);
    EXPECT_EQ(g_ends[0].first, 1u);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0].first, 1u);
}

TEST_F(ServerTest, EventsWithoutAKnownFamilyDoNothing)
{
    StartServers();
    State(0)->slot(0, kSlotRemaining) = 1;
    State(0)->slot(0, kSlotRequested) = 1;
    Raise(kSignalEndOfGrab);
    Raise(kSignalStartOfGrab);
    EXPECT_EQ(State(0)->slot(0, kSlotRemaining), 1u);
    EXPECT_TRUE(g_ends.empty());
}

TEST_F(ServerTest, BothOrlosFiredRunPrimaryFirst)
{
    Family(RecordStart, nullptr);
    StartServers();
    // Both signals arrive while a task above the servers runs, so the server wakes to both.
    const int32_t task = TaskCreate(
        -1,
        [](void*) {
            mp_sys_sema_signal(kNode, kSignalStartOfGrab + kSignalDisplayOffset);
            mp_sys_sema_signal(kNode, kSignalStartOfGrab);
        },
        nullptr, 25, 4096);
    ASSERT_NE(task, -1);
    TaskResume(task);
    ASSERT_EQ(g_starts.size(), 2u);
    EXPECT_EQ(g_starts[0].first, 0u);
    EXPECT_EQ(g_starts[1].first, 1u);
}

TEST_F(ServerTest, GrabLineAdvancesTheLineInterruptAndCountsTheSyncObject)
{
    StartServers();
    SERVINFO_ST* s = State(0);
    const uint32_t sync = NewSync();
    s->slot(0, kSlotSyncCurrent) = sync;
    s->slot(0, kSlotRemaining) = 1;
    s->slot(0, kSlotLineStep) = 10;
    s->slot(0, kSlotWindowEnd) = 100;
    s->slot(0, kSlotDeferred) = 1;
    SetReg(orloev::kGrabLine, 50);
    Trace();
    Raise(kSignalGrabLine);
    EXPECT_EQ(Sync(sync)->count, 50);
    EXPECT_EQ(Reg(orloev::kGrabLine), 60u);
    EXPECT_EQ(Writes(kOrloGrabControl), (std::vector<uint32_t>{1u, 0u})) << "bit 0 pulsed";
    EXPECT_EQ(s->slot(0, kSlotDeferred), 0u);
    EXPECT_EQ(TaskCheckSema(static_cast<int32_t>(s->slot(0, kSlotLineSema))), 1);

    SetReg(orloev::kGrabLine, 95);
    Raise(kSignalGrabLine);
    EXPECT_EQ(Reg(orloev::kGrabLine), 99u) << "the window's last line";
    Raise(kSignalGrabLine);
    EXPECT_EQ(Reg(orloev::kGrabLine), 10u) << "from the last line back to the first step";
}

TEST_F(ServerTest, GrabLineInOddLineModeKeepsOddLines)
{
    Header();
    SERVINFO_ST* s = State(0);
    s->slot(0, kSlotLineStep) = 4;
    s->slot(0, kSlotWindowEnd) = 100;
    SetReg(kOrloGrabControl, 0x100);
    SetReg(orloev::kGrabLine, 21);
    mpPrvUpdateGline(s, 0);
    EXPECT_EQ(Reg(orloev::kGrabLine), 25u);
    SetReg(orloev::kGrabLine, 20);
    mpPrvUpdateGline(s, 0);
    EXPECT_EQ(Reg(orloev::kGrabLine), 25u) << "an even next line becomes the odd one after it";
}

TEST_F(ServerTest, VmLineStepsTheLineCounterToTheLastLineAndBack)
{
    StartServers();
    SERVINFO_ST* s = State(1);
    const uint32_t sync = NewSync();
    // The transfer hands over the object's record, and the line reports reach it only while
    // a transfer runs.
    s->vmLineSync = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Sync(sync)));
    s->vmLineStep = 16;
    SetReg(kOrloVmLastLine, 40, true);
    SetReg(kOrloVmLineCounter, 0xAB0000 | 8, true);
    Raise(kSignalVmLine + kSignalDisplayOffset);
    EXPECT_NE(Sync(sync)->count, 8) << "no transfer runs";
    s->vmTransfer = 1;
    SetReg(kOrloVmLineCounter, 0xAB0000 | 16, true);
    Raise(kSignalVmLine + kSignalDisplayOffset);
    EXPECT_EQ(Sync(sync)->count, 16);
    EXPECT_EQ(Reg(kOrloVmLineCounter, true), 0xAB0000u | 32);
    Raise(kSignalVmLine + kSignalDisplayOffset);
    EXPECT_EQ(Reg(kOrloVmLineCounter, true), 0xAB0000u | 40);
    Raise(kSignalVmLine + kSignalDisplayOffset);
    EXPECT_EQ(Reg(kOrloVmLineCounter, true), 0xAB0000u);
    s->vmTransfer = 0;
}

TEST_F(ServerTest, DisplayLineSignalsTheDisplayOrlosSemaphore)
{
    StartServers();
    Raise(kSignalDisplayLine);
    EXPECT_EQ(TaskCheckSema(State(1)->displayLineSema), 1);
}

TEST_F(ServerTest, EndOfTransferSignalsTheTransfersEnd)
{
    StartServers();
    VMXFER_ST transfer{};
    transfer.pending = 1;
    SERVINFO_ST* s = State(0);
    s->vmTransfer = buftest::W(&transfer);
    Raise(kSignalEndOfTransfer);
    EXPECT_EQ(transfer.pending, 0u);
    EXPECT_EQ(TaskCheckSema(s->endOfTransferSema), 1);

    // A continuous transfer with one outstanding end stops its continuous mode.
    transfer.continuous = 1;
    transfer.sema = TaskOpenSema(-1, 1);
    s->vmContinuous = 1;
    SetReg(kOrloVtControl, 0x2);
    intsrv::Shadow(s, kOrloVtControl) = 0x2;
    Raise(kSignalEndOfTransfer);
    EXPECT_EQ(transfer.continuous, 0);
    EXPECT_EQ(s->vmContinuous, 0u);
    EXPECT_EQ(Reg(kOrloVtControl) & 0x2, 0u);
    EXPECT_EQ(TaskCheckSema(s->endOfTransferSema), 1);
}

TEST_F(ServerTest, SecondFamilyDecidesStartAndEndFromTheFieldCount)
{
    alignas(4) uint8_t block[0x200] = {};
    uint32_t status[20] = {};
    SecondFamilyServers(block, status);
    SERVINFO_ST* s = State(0);
    // Channel 0: a single grab not yet started, field count 5 over threshold 4.
    s->slot(0, kSlotRemaining) = 1;
    s->slot(0, kSlotRequested) = 1;
    s->slot(0, kSlotFieldThreshold) = 4;
    *reinterpret_cast<uint16_t*>(block + 0x128) = 5 << 3;
    Raise(kSignalKvx);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_starts[0], std::make_pair(0u, 0u));
    EXPECT_TRUE(g_ends.empty()) << "no completion wanted yet";

    // In flight: the end comes with the count at or over the threshold, and the toggle flips.
    s->slot(0, kSlotInFlight) = 1;
    Raise(kSignalKvx);
    ASSERT_EQ(g_ends.size(), 1u);
    EXPECT_EQ(s->slot(0, kSlotFieldToggle), 1u);
    *reinterpret_cast<uint16_t*>(block + 0x128) = 9 << 3;
    Raise(kSignalKvx);
    EXPECT_EQ(g_ends.size(), 1u) << "with the toggle set the end needs a count up to the threshold";
    *reinterpret_cast<uint16_t*>(block + 0x128) = 4 << 3;
    Raise(kSignalKvx);
    EXPECT_EQ(g_ends.size(), 2u);
    EXPECT_EQ(s->slot(0, kSlotFieldToggle), 0u);
}

// A grab of three frames on the second family: its one start comes with the first event,
// its ends with every event after, whatever the field count says.
TEST_F(ServerTest, SecondFamilyStartsASequenceOnceAndEndsEachOfItsFrames)
{
    alignas(4) uint8_t block[0x200] = {};
    uint32_t status[20] = {};
    SecondFamilyServers(block, status);
    SERVINFO_ST* s = State(0);
    s->slot(0, kSlotRemaining) = 3;
    s->slot(0, kSlotRequested) = 3;
    s->slot(0, kSlotSequence) = 1;   // left over from an earlier grab
    Raise(kSignalKvx);
    EXPECT_EQ(g_starts.size(), 1u) << "the sequence's start, with its field count 0";
    EXPECT_EQ(g_ends.size(), 1u);
    // The handlers here count nothing: the remaining count as the start and ends left it.
    s->slot(0, kSlotRemaining) = 1;
    Raise(kSignalKvx);
    EXPECT_EQ(g_starts.size(), 1u) << "started once";
    EXPECT_EQ(g_ends.size(), 2u);
    s->slot(0, kSlotRemaining) = 0;
    s->slot(0, kSlotInFlight) = 1;
    Raise(kSignalKvx);
    EXPECT_EQ(g_ends.size(), 3u) << "the last frame's end";
    // Done: nothing in flight and nothing left, so a further event ends nothing.
    s->slot(0, kSlotInFlight) = 0;
    Raise(kSignalKvx);
    EXPECT_EQ(g_starts.size(), 1u);
    EXPECT_EQ(g_ends.size(), 3u);
}

TEST_F(ServerTest, StartOfTransferOnlyTakesTheSignal)
{
    StartServers();
    Raise(kSignalStartOfTransfer);
    EXPECT_EQ(mp_sys_sema_check(kNode, kSignalStartOfTransfer), 0);
}

}  // namespace
