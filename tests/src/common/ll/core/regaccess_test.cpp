#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

namespace {

constexpr uint32_t kNode = 0x11;
_NODE_MAIN_RESOURCE_ST g_record;
std::vector<uint8_t> g_state;

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return node == kNode ? &g_record : nullptr;
}

class RegAccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Topology t;
        t.boards[0].displayOrlo = true;
        BoardSim::instance().configure(t);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        g_record = _NODE_MAIN_RESOURCE_ST{};
        g_record.nodeNumber = kNode;
        g_state.assign(kOrloStateBytes, 0);
        g_record.orloState = g_state.data();
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &g_record.primaryRegs));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x800, 0x4080000, &g_record.primaryPort));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000, &g_record.displayRegs));
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        ASSERT_EQ(board_->Install(), 0);
        SetHwRegCtrlPtr(&g_record, nullptr);
        SetToOrlo(kNode, 0, nullptr);
        SetToExt(0);
    }
    void TearDown() override
    {
        if (HwRegCtrl) {
            SetToOrlo(kNode, 0, nullptr);
            CreateArp(kArpGrab, 0);
            CreateArp(kArpVm, 0);
        }
        FreeHwRegCtrl(&g_record);
        board_.reset();
        DeviceClose(device_);
        BoardSim::instance().configure();
    }
    std::optional<HlcBoardHookOverride> board_;
    uint32_t* Slot(uint32_t offset) { return reinterpret_cast<uint32_t*>(g_state.data() + offset); }
    uint32_t* ExtSlot(uint32_t offset) { return reinterpret_cast<uint32_t*>(g_state.data() + kStateExtShadow + offset); }
    std::vector<boardsim::HwAccess> Writes(HwArea area) const
    {
        std::vector<boardsim::HwAccess> out;
        for (const auto& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && a.area == area) out.push_back(a);
        return out;
    }
    const uint32_t* Entries(const ARPInfo_ST& d) const
    {
        return reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(d.start));
    }
    DeviceHandle device_ = kInvalidDevice;
};

TEST_F(RegAccessTest, SetUpFillsTheRecordFromTheOrloStateArea)
{
    const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_state.data()));
    ASSERT_EQ(g_record.hwRegCtrl, HwRegCtrl);
    EXPECT_EQ(HwRegCtrl->primaryShadow, base);
    EXPECT_EQ(HwRegCtrl->displayShadow, base + 0x4000);
    EXPECT_EQ(HwRegCtrl->extShadow, base + 0xC800);
    EXPECT_EQ(HwRegCtrl->furtherShadow, base + 0x1C800);
    EXPECT_EQ(HwRegCtrl->primaryRegs, g_record.primaryRegs);
    EXPECT_EQ(HwRegCtrl->displayRegs, g_record.displayRegs);
    EXPECT_EQ(HwRegCtrl->extPort, g_record.primaryPort);
}

TEST_F(RegAccessTest, OrloSelection)
{
    EXPECT_EQ(WhichOrlo(), 0);
    SetToOrlo(kNode, 1, nullptr);
    EXPECT_EQ(WhichOrlo(), 1);
    EXPECT_EQ(HwRegCtrl->shadow, HwRegCtrl->displayShadow);
    EXPECT_EQ(HwRegCtrl->grab, &HwRegCtrl->grabList[1]);
    SetToOrlo(kNode, 255, nullptr);
    EXPECT_EQ(WhichOrlo(), 2);
    SetToOrlo(kNode, 2, nullptr);
    EXPECT_EQ(HwRegCtrl->orlo, 255u) << "Orlo 2 with a node does nothing";
}

TEST_F(RegAccessTest, ImmediateWriteMarksTheSlotAndWritesOnce)
{
    uint32_t* slot = Slot(kOrloGrabControl);
    slot[0] = 0xA5A5;
    BoardSim::instance().setTracing(true);
    SetShInHw(slot);
    SetShInHw(slot);
    const auto w = Writes(HwArea::PrimaryRegs);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].offset, kOrloGrabControl);
    EXPECT_EQ(w[0].value, 0xA5A5u);
    EXPECT_EQ(slot[1], kShadowWritten);
    uint32_t outside[2] = {1, 0};
    SetShInHw(outside);
    EXPECT_EQ(outside[1], 0u);
    EXPECT_EQ(Writes(HwArea::PrimaryRegs).size(), 1u);
}

TEST_F(RegAccessTest, WrittenSlotsAreSkippedWhateverTheOtherBits)
{
    CreateArp(kArpGrab, 8);
    uint32_t* slot = Slot(0x1838);
    slot[1] = kShadowWritten | kShadowListMode | kShadowGrabList;
    BoardSim::instance().setTracing(true);
    SetShInHw(slot);
    EXPECT_TRUE(Writes(HwArea::PrimaryRegs).empty());
    EXPECT_EQ(HwRegCtrl->grab->current, HwRegCtrl->grab->start);
}

TEST_F(RegAccessTest, ListModeAppendsToBothListsOrNowhere)
{
    CreateArp(kArpGrab, 8);
    CreateArp(kArpVm, 8);
    const ARPInfo_ST& grab = *HwRegCtrl->grab;
    const ARPInfo_ST& vm = *HwRegCtrl->vm;
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloGrabListPointer), grab.start);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloVmListPointer), vm.start);
    EXPECT_EQ(Entries(grab)[7 * 2], g_record.primaryRegs + kOrloGrabListPointer);
    EXPECT_EQ(Entries(grab)[7 * 2 + 1], grab.start);
    EXPECT_EQ(Slot(kOrloVmListPointer)[0], vm.start & 0x03FFFFFFu);

    uint32_t* slot = Slot(0x1840);
    slot[0] = 0x77;
    slot[1] = kShadowListMode | kShadowGrabList | kShadowVmList;
    BoardSim::instance().setTracing(true);
    SetShInHw(slot);
    EXPECT_TRUE(Writes(HwArea::PrimaryRegs).empty());
    EXPECT_TRUE(slot[1] & kShadowWritten);
    EXPECT_EQ(Entries(grab)[0], 0x77u);
    EXPECT_EQ(Entries(grab)[1], g_record.primaryRegs + 0x1840);
    EXPECT_EQ(Entries(vm)[0], 0x77u);
    EXPECT_EQ(vm.current, vm.start + 8);

    uint32_t* only = Slot(0x1848);
    only[1] = kShadowListMode;
    SetShInHw(only);
    EXPECT_EQ(only[1], kShadowListMode);
    EXPECT_EQ(grab.current, grab.start + 8);
}

TEST_F(RegAccessTest, FourEntryListTakesThreeEntriesThenIsFull)
{
    CreateArp(kArpGrab, 4);
    ARPInfo_ST& grab = *HwRegCtrl->grab;
    EXPECT_EQ(grab.count, 4u);
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t* slot = Slot(0x100 + 8 * i);
        slot[0] = i + 1;
        slot[1] = kShadowListMode | kShadowGrabList;
        SetShInHw(slot);
        EXPECT_TRUE(slot[1] & kShadowWritten) << i;
    }
    uint32_t* fourth = Slot(0x200);
    fourth[1] = kShadowListMode | kShadowGrabList;
    SetShInHw(fourth);
    EXPECT_FALSE(fourth[1] & kShadowWritten);
    EXPECT_EQ(grab.mark, kArpOverflowMark);
    EXPECT_EQ(grab.current, grab.start);
    EXPECT_EQ(Entries(grab)[6], g_record.primaryRegs + kOrloGrabListPointer) << "the link entry is intact";
    // Once the engine has moved on the slot goes in.
    BoardSim::instance().orlo(0, false).setReg(kOrloGrabListPointer, grab.start + 16);
    SetShInHw(fourth);
    EXPECT_TRUE(fourth[1] & kShadowWritten);
}

TEST_F(RegAccessTest, ExternalImmediateWriteUsesTwoByteLanes)
{
    uint32_t* slot = ExtSlot(0x308);
    slot[0] = 0x1234;
    BoardSim::instance().setTracing(true);
    SetExtShInHw(slot);
    const auto w = Writes(HwArea::PrimaryPort);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].offset, 0x610u);
    EXPECT_EQ(w[0].value, 0x1234u);
    EXPECT_EQ(w[1].offset, 0x618u);
    EXPECT_EQ(w[1].value, 0x12u);
    EXPECT_TRUE(slot[1] & kShadowWritten);
    EXPECT_EQ(ReadVExtRegHW(g_record.primaryPort + 0x308), 0x1234u);
}

TEST_F(RegAccessTest, ExternalListWriteAppendsBothLanesOrNeither)
{
    CreateArp(kArpGrab, 4);
    const ARPInfo_ST& grab = *HwRegCtrl->grab;
    uint32_t* slot = ExtSlot(0x308);
    slot[0] = 0x1234;
    slot[1] = kShadowListMode | kShadowGrabList;
    SetExtShInHw(slot);
    EXPECT_TRUE(slot[1] & kShadowWritten);
    EXPECT_EQ(Entries(grab)[0], 0x1234u);
    EXPECT_EQ(Entries(grab)[1], 0x80610u);
    EXPECT_EQ(Entries(grab)[2], 0x12u);
    EXPECT_EQ(Entries(grab)[3], 0x80618u);
    // One free entry is left: a second register needs two and waits.
    uint32_t* next = ExtSlot(0x310);
    next[1] = kShadowListMode | kShadowGrabList;
    SetExtShInHw(next);
    EXPECT_FALSE(next[1] & kShadowWritten);
    EXPECT_EQ(grab.current, grab.start + 16);
    EXPECT_EQ(Entries(grab)[6], g_record.primaryRegs + kOrloGrabListPointer);
}

TEST_F(RegAccessTest, FixedWritersClearTheirCommandBits)
{
    Slot(kOrloVpControl)[0] = 0x1FF;
    Slot(kOrloInterruptClear)[0] = 0x55;
    Slot(kOrloGrabListControl)[0] = 0x7;
    WrVpctrlInHW();
    WrHintclrInHW();
    WrGarpctrlInHW();
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloVpControl), 0x1FFu);
    EXPECT_EQ(Slot(kOrloVpControl)[0], 0xFCu);
    EXPECT_EQ(Slot(kOrloInterruptClear)[0], 0u);
    EXPECT_EQ(Slot(kOrloGrabListControl)[0], 0x4u);
}

TEST_F(RegAccessTest, CreateArpWithZeroFreesTheList)
{
    CreateArp(kArpVm, 16);
    const uint32_t start = HwRegCtrl->vm->start;
    EXPECT_NE(start, 0u);
    EXPECT_EQ(start % 64, 0u);
    CreateArp(kArpVm, 32);
    EXPECT_EQ(HwRegCtrl->vm->start, start) << "an existing list is kept";
    CreateArp(kArpVm, 0);
    EXPECT_EQ(HwRegCtrl->vm->start, 0u);
    EXPECT_EQ(HwRegCtrl->vm->count, 0u);
    EXPECT_EQ(checkARPPtrs(HwRegCtrl->vm), -1);
}

TEST_F(RegAccessTest, ProtectLockTakesAndGivesBackTheOwnersSemaphore)
{
    ASSERT_EQ(TaskInitTasking(), 1);
    uint32_t token = static_cast<uint32_t>(TaskOpenSema(-1, 1));
    SetToOrlo(kNode, 0, &token);
    EXPECT_EQ(CurrentProtectSemaId, &token);
    EXPECT_EQ(TaskCheckSema(static_cast<int32_t>(token)), 0) << "the owner's count was taken";
    ReleaseAccessOrlo();
    EXPECT_EQ(CurrentProtectSemaId, nullptr);
    EXPECT_EQ(TaskCheckSema(static_cast<int32_t>(token)), 1);
    TaskExitTasking();
}

} // namespace
