// The initial Orlo state of a node on the simulated board: the shadow words that the
// start-up reads, the VM and grab engine writes, and the register lists.
#include "predef.h"

#include "bringup.h"
#include "heap.h"
#include "hwaccess.h"
#include "nodelist.h"
#include "regaccess.h"

#include "../../../host/ll/initest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;

constexpr uint32_t kNode = 0x11;
constexpr int32_t kNotShadowed = -1;

// The shadowed Orlo registers and their start flags, as the register map gives them.
int32_t ExpectedFlags(uint32_t offset)
{
    if (offset % 8) return kNotShadowed;
    if (offset <= 0x30) return 0;
    if (offset >= 0x800 && offset <= 0x818) return 0;
    if (offset == 0x1000 || offset == 0x1008) return 16;
    if (offset >= 0x1800 && offset <= 0x1850) return 4;
    if (offset >= 0x2000 && offset <= 0x2080) {
        switch (offset) {
        case 0x2008:
        case 0x2010: return 4;
        case 0x2018: return 16 | 4;
        case 0x2028: return 16 | 8 | 4;
        case 0x2030:
        case 0x2038:
        case 0x2040:
        case 0x2048:
        case 0x2070:
        case 0x2080: return 16;
        case 0x2060:
        case 0x2068:
        case 0x2078: return 8;
        default: return 0;
        }
    }
    if (offset >= 0x2800 && offset <= 0x28E8) {
        if (offset >= 0x2808 && offset <= 0x2860) return 4;
        if (offset >= 0x28A8) return 8;
        return 0;
    }
    if (offset >= 0x3000 && offset <= 0x3040) {
        if (offset == 0x3020) return 0;
        if (offset == 0x3038) return 16 | 8;
        return 8;
    }
    if (offset >= 0x3800 && offset <= 0x3838) return 8;
    return kNotShadowed;
}

TEST(OrloRegisterOffsetTableTest, ListsEachShadowedRegisterOnceInOrderWithItsFlags)
{
    std::vector<uint32_t> expected;
    for (uint32_t offset = 0; offset < kOrloShadowBytes; offset += 8)
        if (ExpectedFlags(offset) != kNotShadowed) expected.push_back(offset);
    ASSERT_EQ(expected.size(), 88u);
    ASSERT_EQ(OrloRegisterOffsetTable[kOrloShadowedRegisters].offset, -1);
    for (uint32_t i = 0; i < kOrloShadowedRegisters; ++i) {
        const OrloRegisterOffset& e = OrloRegisterOffsetTable[i];
        EXPECT_EQ(static_cast<uint32_t>(e.offset), expected[i]) << i;
        EXPECT_EQ(static_cast<int32_t>(e.flags), ExpectedFlags(expected[i])) << std::hex << expected[i];
    }
}

TEST(DispModeTest, SixRowsWithTheirBandsAndLeastMemory)
{
    const DispModeRow expected[6] = {{0x40000020u, 1, 0x200000}, {0x40000030u, 3, 0x600000},
                                     {0x40000040u, 1, 0x600000}, {0x40000050u, 1, 0x600000},
                                     {0x40000060u, 1, 0x600000}, {0x40000070u, 1, 0x200000}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(DispMode[i].id, expected[i].id) << i;
        EXPECT_EQ(DispMode[i].bands, expected[i].bands) << i;
        EXPECT_EQ(DispMode[i].minimumMemory, expected[i].minimumMemory) << i;
    }
}

// A host-served board with both Orlos, brought up through the library's wiring (without
// its runtime threads' start-up), with the Orlo state area and register control that
// "DevAlloc" gives it.
class OrloStateTest : public initest::WiredBoardTest {
protected:
    void SetUp() override
    {
        topology_.boards[0].displayOrlo = true;
        StartWired();
        board_->table.initNodeRuntime = [](uint32_t) { return 0; };
        board_->table.exitNodeRuntime = [](uint32_t) {};
        ASSERT_EQ(board_->Install(), 0);
        WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n");
        _NODE_MAIN_RESOURCE_ST scratch{};
        ASSERT_EQ(im_board_init(0, 0, nullptr, 3, &scratch), -3);
        record_ = mp_sys_node_resource_ptr(kNode);
        ASSERT_NE(record_, nullptr);
        ASSERT_NE(record_->primaryRegs, 0u);
        ASSERT_NE(record_->displayRegs, 0u);
        state_ = static_cast<uint8_t*>(std::aligned_alloc(64, kOrloStateBytes));
        ASSERT_NE(state_, nullptr);
        std::memset(state_, 0xEE, kOrloStateBytes);
        record_->orloState = state_;
        SetHwRegCtrlPtr(record_, nullptr);
        ASSERT_NE(record_->hwRegCtrl, nullptr);
    }
    void TearDown() override
    {
        if (record_ && record_->hwRegCtrl) {
            for (uint32_t orlo : {0u, 1u}) {
                SetToOrlo(kNode, orlo, nullptr);
                CreateArp(kArpGrab, 0);
                CreateArp(kArpVm, 0);
            }
            CreateArp(kArpPimbra, 0);
            FreeHwRegCtrl(record_);
        }
        if (record_) record_->orloState = nullptr;
        initest::WiredBoardTest::TearDown();
        std::free(state_);
    }

    uint32_t* Shadow(uint32_t orlo, uint32_t offset) const
    {
        return reinterpret_cast<uint32_t*>(state_ + (orlo ? kStateDisplayShadow : kStatePrimaryShadow) + offset);
    }
    static boardsim::OrloView View(uint32_t orlo) { return BoardSim::instance().orlo(0, orlo == 1); }

    // The writes the library made to the given registers, in order, with their Orlo.
    static std::vector<std::pair<HwArea, std::pair<uint32_t, uint32_t>>> Writes(const std::set<uint32_t>& offsets)
    {
        std::vector<std::pair<HwArea, std::pair<uint32_t, uint32_t>>> out;
        for (const boardsim::HwAccess& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && (a.area == HwArea::PrimaryRegs || a.area == HwArea::DisplayRegs) &&
                offsets.count(a.offset))
                out.push_back({a.area, {a.offset, a.value}});
        return out;
    }

    _NODE_MAIN_RESOURCE_ST* record_ = nullptr;
    uint8_t* state_ = nullptr;
};

TEST_F(OrloStateTest, ShadowsTakeTheRegistersExceptThoseNeverReadAndTheirListFlags)
{
    // Every shadowed register of both Orlos holds a value of its own.
    for (uint32_t orlo : {0u, 1u})
        for (uint32_t i = 0; i < kOrloShadowedRegisters; ++i) {
            const auto offset = static_cast<uint32_t>(OrloRegisterOffsetTable[i].offset);
            if (offset == kOrloLock) continue;   // a read would take the lock
            View(orlo).setReg(offset, 0x5A000000u | (orlo << 20) | offset);
        }
    // What the library read, as the machine answered it.
    BoardSim::instance().setTracing(true);
    BoardSim::instance().clearTrace();
    mp_init_global_shadows(kNode);
    BoardSim::instance().setTracing(false);
    std::map<uint32_t, uint32_t> seen[2];
    for (const boardsim::HwAccess& a : BoardSim::instance().trace()) {
        if (a.op != HwOp::Read || (a.area != HwArea::PrimaryRegs && a.area != HwArea::DisplayRegs)) continue;
        const uint32_t orlo = a.area == HwArea::DisplayRegs ? 1 : 0;
        EXPECT_EQ(seen[orlo].count(a.offset), 0u) << "read twice: " << orlo << std::hex << " " << a.offset;
        seen[orlo][a.offset] = a.value;
    }
    for (uint32_t orlo : {0u, 1u}) {
        EXPECT_EQ(seen[orlo].size(), 77u) << orlo;   // 11 of the 88 are never read
        for (uint32_t offset = 0; offset < kOrloShadowBytes; offset += 8) {
            const int32_t flags = ExpectedFlags(offset);
            const uint32_t* slot = Shadow(orlo, offset);
            if (flags == kNotShadowed) {
                ASSERT_EQ(slot[0], 0u) << orlo << std::hex << " " << offset;
                ASSERT_EQ(slot[1], 0u) << orlo << std::hex << " " << offset;
                continue;
            }
            EXPECT_EQ(seen[orlo].count(offset), (flags & 16) ? 0u : 1u) << orlo << std::hex << " " << offset;
            const uint32_t value = (flags & 16) ? 0u : seen[orlo][offset];
            EXPECT_EQ(slot[0], value) << orlo << std::hex << " " << offset;
            // Apart from the machine's own bits, the register gave its preset value.
            if (!(flags & 16) && offset != kOrloControl) {
                EXPECT_EQ(value, 0x5A000000u | (orlo << 20) | offset) << orlo << std::hex << " " << offset;
            }
            const uint32_t flagWord = ((flags & 4) ? 0x20000000u : 0u) | ((flags & 8) ? 0x10000000u : 0u);
            EXPECT_EQ(slot[1], flagWord) << orlo << std::hex << " " << offset;
        }
    }
    // Registers marked never read hold values, yet their shadows stay zero.
    for (uint32_t offset : {0x1000u, 0x2030u, 0x2048u, 0x3038u}) {
        EXPECT_NE(View(0).reg(offset), 0u) << std::hex << offset;
        EXPECT_EQ(Shadow(0, offset)[0], 0u) << std::hex << offset;
    }
}

TEST_F(OrloStateTest, WithoutAStateAreaOrARegisterBlockNothingIsRead)
{
    record_->displayRegs = 0;
    View(1).setReg(0x0800, 0x1234);
    mp_init_global_shadows(kNode);
    EXPECT_EQ(Shadow(1, 0x0800)[0], 0u);
    EXPECT_EQ(Shadow(1, 0x1800)[1], 0u);
    EXPECT_NE(Shadow(0, 0x1800)[1], 0u);
    // No area: nothing is written, not even cleared.
    std::memset(state_, 0xEE, kOrloStateBytes);
    record_->orloState = nullptr;
    mp_init_global_shadows(kNode);
    EXPECT_EQ(Shadow(0, 0)[0], 0xEEEEEEEEu);
    record_->orloState = state_;
}

TEST_F(OrloStateTest, TheVmAndGrabEnginesStartInTheirKnownState)
{
    for (uint32_t orlo : {0u, 1u}) {
        View(orlo).setReg(0x3028, 0xFFFFFFFFu);
        View(orlo).setReg(kOrloVpControl, 0xA7);      // bits 7, 5, 2, 1, 0
        View(orlo).setReg(kOrloVmListControl, 0x3);
        View(orlo).setReg(0x3040, 0x100);
        View(orlo).setReg(kOrloGrabControl, 0x4);
        View(orlo).setReg(kOrloGrabListControl, 0x3);
    }
    View(0).setReg(kOrloSectionWord, 0xF001);
    mp_init_global_shadows(kNode);
    // A slot already marked written is written again: the start-up clears the mark.
    Shadow(0, kOrloGrabControl)[1] |= kShadowWritten | kShadowListMode;
    BoardSim::instance().setTracing(true);
    BoardSim::instance().clearTrace();
    mpPrvInitVmState(kNode);
    mpPrvInitGrabState(kNode);
    BoardSim::instance().setTracing(false);

    using W = std::pair<HwArea, std::pair<uint32_t, uint32_t>>;
    std::vector<W> expected;
    for (HwArea area : {HwArea::PrimaryRegs, HwArea::DisplayRegs}) {
        expected.push_back({area, {0x3028, 0xFFFFFC00u}});
        expected.push_back({area, {kOrloVpControl, 0x5B}});     // 7, 5, 2 cleared; 6, 4, 3 set
        expected.push_back({area, {kOrloVpStatus, 0x1FC}});     // bits 2-8
        expected.push_back({area, {kOrloVmListControl, 0x2}});
        expected.push_back({area, {0x3040, 0x1FF}});
    }
    for (HwArea area : {HwArea::PrimaryRegs, HwArea::DisplayRegs}) {
        expected.push_back({area, {kOrloGrabControl, 0x5}});
        expected.push_back({area, {kOrloGrabListControl, 0x2}});
        expected.push_back({area, {kOrloGrabStatus, 0x9}});
    }
    EXPECT_EQ(Writes({0x3028, kOrloVpControl, kOrloVpStatus, kOrloVmListControl, 0x3040, kOrloGrabControl,
                      kOrloGrabListControl, kOrloGrabStatus}),
              expected);
    // The fixed writers leave their command bits cleared in the shadows.
    for (uint32_t orlo : {0u, 1u}) {
        EXPECT_EQ(Shadow(orlo, kOrloVpControl)[0], 0x58u) << orlo;   // bits 0, 1 and 8 cleared
        EXPECT_EQ(Shadow(orlo, kOrloVpStatus)[0], 0u) << orlo;
        EXPECT_EQ(Shadow(orlo, kOrloVmListControl)[0], 0u) << orlo;
        EXPECT_EQ(Shadow(orlo, kOrloGrabControl)[0], 0x1u) << orlo;
        EXPECT_EQ(Shadow(orlo, kOrloGrabStatus)[0], 0u) << orlo;
        EXPECT_EQ(Shadow(orlo, 0x3040)[0], 0x1FFu) << orlo;
        EXPECT_EQ(View(orlo).reg(0x3040), 0x1FFu) << orlo;
    }
    // The four grab channel sections are free; the ring's section stays held.
    EXPECT_EQ(View(0).reg(kOrloSectionWord), 0x1u);
}

TEST_F(OrloStateTest, TheWholeStartUpSelectsTheProcessingChipLast)
{
    HwRegCtrl_ST* c = record_->hwRegCtrl;
    c->pimbraShadow = 0x1234;
    c->pimbraValue = 0x77;
    View(0).setReg(kOrloGrabControl, 0);
    mp_init_orlo_state(kNode);
    EXPECT_EQ(HwRegCtrl, c);
    EXPECT_EQ(c->pimbraSelection, kNode);
    EXPECT_EQ(c->pimbraCurrentShadow, 0x1234u);
    EXPECT_EQ(c->pimbraCopy, 0x77u);
    EXPECT_EQ(c->pimbraListPtr, &c->pimbraList);
    // The grab engine was started on the way.
    EXPECT_EQ(View(0).reg(kOrloGrabControl) & 1u, 1u);
    EXPECT_EQ(View(1).reg(kOrloGrabControl) & 1u, 1u);
}

TEST_F(OrloStateTest, AnOrloWithoutRegistersIsLeftAlone)
{
    record_->hwRegCtrl->displayRegs = 0;
    View(1).setReg(kOrloGrabControl, 0);
    mp_init_global_shadows(kNode);
    BoardSim::instance().setTracing(true);
    BoardSim::instance().clearTrace();
    mpPrvInitGrabState(kNode);
    BoardSim::instance().setTracing(false);
    for (const boardsim::HwAccess& a : BoardSim::instance().trace()) EXPECT_NE(a.area, HwArea::DisplayRegs);
    EXPECT_EQ(View(1).reg(kOrloGrabControl), 0u);
    EXPECT_EQ(View(0).reg(kOrloGrabControl) & 1u, 1u);
}

// ---------------------------------------------------------------- register lists

TEST_F(OrloStateTest, BothOrlosGetGrabAndVmListsOf256Entries)
{
    mp_init_arp_space(kNode);
    HwRegCtrl_ST* c = record_->hwRegCtrl;
    for (uint32_t orlo : {0u, 1u}) {
        for (const auto& [list, pointer] : {std::pair<ARPInfo_ST*, uint32_t>{&c->grabList[orlo], kOrloGrabListPointer},
                                            std::pair<ARPInfo_ST*, uint32_t>{&c->vmList[orlo], kOrloVmListPointer}}) {
            ASSERT_NE(list->start, 0u) << orlo;
            EXPECT_EQ(list->count, 256u);
            EXPECT_EQ(list->current, list->start);
            EXPECT_EQ(list->end, list->start + 8 * 255);
            EXPECT_EQ(list->mark, 0u);
            // The link entry closes the ring; the engine's pointer register holds the list.
            const auto* link = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(list->end));
            EXPECT_EQ(link[0], (orlo ? record_->displayRegs : record_->primaryRegs) + pointer);
            EXPECT_EQ(link[1], list->start);
            EXPECT_EQ(View(orlo).reg(pointer), list->start) << orlo << std::hex << " " << pointer;
        }
    }
    EXPECT_NE(c->grabList[0].start, c->grabList[1].start);
    EXPECT_NE(c->grabList[0].start, c->vmList[0].start);
    // No processing-chip shadow: no third list.
    EXPECT_EQ(c->pimbraList.start, 0u);
    // Lists that exist are kept by a second call.
    const uint32_t first = c->grabList[0].start;
    mp_init_arp_space(kNode);
    EXPECT_EQ(c->grabList[0].start, first);
}

TEST_F(OrloStateTest, ANodeWithoutADisplayOrloGetsThePrimaryListsAndTheProcessingChipsList)
{
    HwRegCtrl_ST* c = record_->hwRegCtrl;
    c->displayRegs = 0;
    c->pimbraShadow = 0x1234;
    c->pimbraListPtr = nullptr;
    mp_init_arp_space(kNode);
    EXPECT_NE(c->grabList[0].start, 0u);
    EXPECT_NE(c->vmList[0].start, 0u);
    EXPECT_EQ(c->grabList[1].start, 0u);
    EXPECT_EQ(c->vmList[1].start, 0u);
    EXPECT_EQ(c->pimbraListPtr, &c->pimbraList);
    ASSERT_NE(c->pimbraList.start, 0u);
    EXPECT_EQ(c->pimbraList.count, 256u);
    const auto* link = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(c->pimbraList.end));
    EXPECT_EQ(link[1], c->pimbraList.start);
}

} // namespace
