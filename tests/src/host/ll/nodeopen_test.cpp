#include <algorithm>
#include "bringup.h"
#include "hwaccess.h"
#include "inthooks.h"
#include "initest.h"
#include "nodecore.h"
#include "nodeopen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;

namespace {

const char kOneBoard[] =
    "[GlobalSetting]\nLargestDmaBlock=0x100000\n[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class NodeOpenTest : public initest::IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        installed_ = std::make_unique<nodecore::Installed>(core_);
        WriteIni(kOneBoard);
        record_ = _NODE_MAIN_RESOURCE_ST{};
    }
    void TearDown() override
    {
        // Close what the tests opened: listed nodes through shut-down, the rest by hand.
        const bool listed = nodecore::Resource(0x11) != nullptr;
        for (uint32_t node = 254; node >= 1; --node)
            if (nodecore::Resource(node)) im_board_shutdown(node << 16);
        if (record_.device > 0 && !listed) BrdCloseNodeRecord(&record_);
        HlcFreeDmaRegionTable();
        HlcCloseProcessShared();
        installed_.reset();
        IniTest::TearDown();
    }
    void Machine(const boardsim::BoardSpec& spec)
    {
        topology_.boards = {spec};
        BoardSim::instance().configure(topology_);
    }
    uint32_t RegisterWrites()
    {
        uint32_t n = 0;
        for (const auto& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && (a.area == HwArea::PrimaryRegs || a.area == HwArea::PrimaryShadow)) ++n;
        return n;
    }

    // Neither the display memory window nor the display chip's windows are mapped; the
    // primary Orlo's 2 KB window is.
    void ExpectNoDisplayMemoryOrChip()
    {
        EXPECT_EQ(record_.displayMemory, 0u);
        EXPECT_EQ(record_.chipRegs, 0u);
        EXPECT_EQ(record_.chipFrame, 0u);
        EXPECT_NE(record_.primaryPort, 0u);
    }

    nodecore::Core core_;
    std::unique_ptr<nodecore::Installed> installed_;
    _NODE_MAIN_RESOURCE_ST record_{};
};

// ---------------------------------------------------------------- node numbers

TEST(NodeNumber, FollowsSystemAndBoard)
{
    EXPECT_EQ(HlcNodeNumber(0, 0), 0x11u);
    EXPECT_EQ(HlcNodeNumber(1, 2), 0x23u);
    EXPECT_EQ(HlcNodeNumber(14, 13), 0xFEu);
    EXPECT_EQ(HlcNodeNumber(14, 14), 0xFFu);
    EXPECT_EQ(HlcNodeNumber(15, 0), 0xFFu);
    EXPECT_EQ(HlcNodeNumber(0, 15), 0xFFu);
}

// ---------------------------------------------------------------- InitNewNode

TEST_F(NodeOpenTest, OpensAttachesAndMapsTheWindowsOfAPrimaryOrloBoard)
{
    _PCI_FOUND_DEVICE* device = nullptr;
    const uint32_t status = InitNewNode(0, 0, 3, &record_, &device);
    EXPECT_EQ(status, NODE_NO_DISPLAY | NODE_NO_PROCESSOR);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->slot, 1);
    EXPECT_EQ(record_.nodeNumber, 0x11);
    EXPECT_GT(record_.device, 0);
    EXPECT_NE(record_.primaryRegs, 0u);
    EXPECT_NE(record_.primaryShadow, 0u);
    EXPECT_NE(record_.primaryPort, 0u);
    EXPECT_NE(record_.primaryMemory, 0u);
    EXPECT_EQ(record_.primaryMemorySize, 0x400000u);
    EXPECT_EQ(record_.displayRegs, 0u);
    EXPECT_EQ(record_.nodeState, &core_.host);
    EXPECT_EQ(core_.host.boardWord, BoardSim::instance().boardSuffix(0));
    EXPECT_EQ(core_.host.product, 1u);
    // The product table was given the found-device record itself.
    EXPECT_NE(std::find(core_.calls.begin(), core_.calls.end(), "product"), core_.calls.end());
    EXPECT_EQ(core_.host.orlo[0].memorySize, 0x400000u);
    EXPECT_TRUE(core_.host.orlo[0].present);
    EXPECT_FALSE(core_.host.orlo[1].present);
    EXPECT_EQ(core_.host.savedHeaders[0][0], 0x3A); // vendor 0x1F3A of the primary Orlo
    // The attach request names the node.
    bool attached = false;
    for (const auto& r : BoardSim::instance().requests())
        if (r.code == HLC_DRV_ATTACH) {
            ASSERT_EQ(r.input.size(), 16u);
            EXPECT_EQ(r.input[8], 0x11);
            attached = true;
        }
    EXPECT_TRUE(attached);
    // The mapped windows are real: the memory window reaches board memory.
    HwWrite32(record_.primaryMemory, 0x100, 0xA5A5F00Du);
    uint32_t word = 0;
    ASSERT_TRUE(BoardSim::instance().orlo(0, false).readMemory(0x100, &word, 4));
    EXPECT_EQ(word, 0xA5A5F00Du);
}

TEST_F(NodeOpenTest, DmaRegionTableIsCutAtTheLargestBlock)
{
    ASSERT_EQ(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_BAD_NODE, 0u);
    ASSERT_NE(HlcDmaRegionTable, nullptr);
    EXPECT_EQ(record_.dmaRegions, HlcDmaRegionTable);
    const uint32_t start = BoardSim::instance().dmaRegionPhysical(0);
    ASSERT_EQ(start % 0x100000, 0x80000u); // the machine's first region starts mid-block
    const uint32_t sizes[] = {0x80000, 0x100000, 0x100000, 0x100000, 0x80000};
    uint32_t at = start;
    for (int i = 0; i < 5; ++i) {
        const _MP_DMA_REGION_ST& e = HlcDmaRegionTable[i];
        EXPECT_EQ(e.physical, at) << i;
        EXPECT_EQ(e.size, sizes[i]) << i;
        EXPECT_NE(e.id, 0u) << i;
        EXPECT_NE(e.user, 0u) << i;
        at += sizes[i];
    }
    EXPECT_EQ(HlcDmaRegionTable[5].physical, 0u);
    EXPECT_EQ(BoardSim::instance().dmaBuffers().size(), 5u);
}

TEST_F(NodeOpenTest, ProcessorBoardReportsItsProcessor)
{
    boardsim::BoardSpec spec;
    spec.processor = true;
    Machine(spec);
    EXPECT_EQ(InitNewNode(0, 0, 3, &record_, nullptr), NODE_NO_DISPLAY);
}

TEST_F(NodeOpenTest, DisplayBoardMapsTheChipUnlessWindowsAreOff)
{
    boardsim::BoardSpec spec;
    spec.displayOrlo = true;
    spec.displayChip = true;
    Machine(spec);
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=0\n");
    EXPECT_EQ(InitNewNode(0, 0, 3, &record_, nullptr), NODE_NO_PROCESSOR);
    EXPECT_NE(record_.displayRegs, 0u);
    EXPECT_NE(record_.displayMemory, 0u);
    EXPECT_NE(record_.chipRegs, 0u);
    EXPECT_NE(record_.chipFrame, 0u);
    EXPECT_EQ(record_.displayMemoryWord, 0x200000u);

    BrdCloseNodeRecord(&record_);
    record_ = _NODE_MAIN_RESOURCE_ST{};
    EXPECT_EQ(InitNewNode(0, 0, 0x20000003u, &record_, nullptr), NODE_NO_PROCESSOR);
    EXPECT_EQ(record_.primaryMemory, 0u);
    ExpectNoDisplayMemoryOrChip();
    EXPECT_NE(record_.displayPort, 0u);
}

TEST_F(NodeOpenTest, DisplayOrloWithoutDisplayChipMapsNoDisplayWindows)
{
    boardsim::BoardSpec spec;
    spec.displayOrlo = true;
    spec.displayChip = false;
    Machine(spec);
    const uint32_t status = InitNewNode(0, 0, 3, &record_, nullptr);
    EXPECT_EQ(status, NODE_NO_DISPLAY | NODE_NO_PROCESSOR);
    EXPECT_NE(record_.displayRegs, 0u);   // the Orlo answers: its registers stay mapped
    EXPECT_EQ(record_.displayPort, 0u);
    EXPECT_EQ(record_.displayMemorySize, 0u);
    EXPECT_EQ(record_.displayMemoryWord, 0u);
    ExpectNoDisplayMemoryOrChip();
}

TEST_F(NodeOpenTest, TheDisplayChipsPciPlaceIsKeptUntilTheProcessCloses)
{
    boardsim::BoardSpec spec;
    spec.displayOrlo = true;
    spec.displayChip = true;
    spec.slotDevice = 0x0A;
    Machine(spec);
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000a04\n");
    uint8_t bus = 0xEE, device = 0xEE, function = 0xEE;
    EXPECT_FALSE(HlcNodeChipPci(0x11, &bus, &device, &function));
    ASSERT_EQ(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_BAD_NODE, 0u);
    uint8_t simBus = 0, simDevice = 0, simFunction = 0;
    ASSERT_TRUE(BoardSim::instance().functionLocation(0, boardsim::BoardFunction::ChipFunction1, &simBus,
                                                      &simDevice, &simFunction));
    ASSERT_TRUE(HlcNodeChipPci(0x11, &bus, &device, &function));
    EXPECT_EQ(bus, simBus);
    EXPECT_EQ(device, 0x0A);
    EXPECT_EQ(device, simDevice);
    EXPECT_EQ(function, simFunction);
    EXPECT_FALSE(HlcNodeChipPci(0x12, &bus, &device, &function));
    HlcCloseProcessShared();
    EXPECT_FALSE(HlcNodeChipPci(0x11, &bus, &device, &function));
}

TEST_F(NodeOpenTest, ABoardWithoutDisplayChipHasNoChipPciPlace)
{
    boardsim::BoardSpec spec;
    spec.displayOrlo = true;
    Machine(spec);
    ASSERT_EQ(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_BAD_NODE, 0u);
    EXPECT_FALSE(HlcNodeChipPci(0x11, nullptr, nullptr, nullptr));
}

TEST_F(NodeOpenTest, NodeOpenShowsTheEchoLinesOfTheFile)
{
    WriteIni(std::string("ApplicationMessaging=2\n@echo. opening the board\n") + kOneBoard);
    ASSERT_EQ(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_BAD_NODE, 0u);
    const std::vector<std::string> texts = ConsoleTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "opening the board\n"), texts.end());
}

TEST_F(NodeOpenTest, IniRegisterFieldsPresetTheOrlo)
{
    BoardSim::instance().orlo(0, false).setReg(kOrloMemControl, 0xAB00FF00u);
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nprimary.memctrl.refrate=0x42\n");
    ASSERT_EQ(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_NO_PRIMARY, 0u);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloMemControl), 0xAB00FF42u);
}

TEST_F(NodeOpenTest, OrloThatFailsThePresenceTestIsAbsent)
{
    BoardSim::instance().setReadFilter([](const boardsim::HwAccess& a) {
        return (a.area == HwArea::PrimaryRegs && a.offset == kOrloInterruptSet) ? 0u : a.value;
    });
    const uint32_t status = InitNewNode(0, 0, 3, &record_, nullptr);
    EXPECT_EQ(status, NODE_NO_DISPLAY | NODE_NO_PRIMARY | NODE_NO_PROCESSOR);
    EXPECT_EQ(record_.primaryRegs, 0u);
    EXPECT_EQ(record_.primaryMemory, 0u);
}

TEST_F(NodeOpenTest, NodeHeldByAnotherProcessIsNotRewritten)
{
    boardsim::BoardSpec spec;
    spec.heldByOtherProcess = true;
    Machine(spec);
    BoardSim::instance().setTracing(true);
    const uint32_t status = InitNewNode(0, 0, 3, &record_, nullptr);
    EXPECT_TRUE(status & NODE_OTHER_PROCESS);
    EXPECT_EQ(status & NODE_NO_PRIMARY, 0u);
    EXPECT_EQ(RegisterWrites(), 0u);
}

TEST_F(NodeOpenTest, RefusalsAreStatusBits)
{
    EXPECT_EQ(InitNewNode(15, 0, 3, &record_, nullptr), NODE_BAD_NODE);
    BoardSim::instance().failRequests(HLC_DRV_ATTACH, 1);
    EXPECT_EQ(InitNewNode(0, 0, 3, &record_, nullptr), NODE_BAD_NODE);
    BrdCloseNodeRecord(&record_);
    record_ = _NODE_MAIN_RESOURCE_ST{};
    BoardSim::instance().failRequests(HLC_DRV_INTERFACE_CHECK, 1);
    EXPECT_EQ(InitNewNode(0, 0, 3, &record_, nullptr), NODE_NO_SERVICE);
    BrdCloseNodeRecord(&record_);
    record_ = _NODE_MAIN_RESOURCE_ST{};
}

TEST_F(NodeOpenTest, NodeOpenInThisProcessIsCopied)
{
    ASSERT_NE(InitNewNode(0, 0, 3, &record_, nullptr) & NODE_NO_PROCESSOR, 0u);
    ASSERT_NE(InitRemoteNode(&record_, 3), nullptr);
    _NODE_MAIN_RESOURCE_ST copy{};
    const uint32_t status = InitNewNode(0, 0, 3, &copy, nullptr);
    EXPECT_EQ(status, NODE_NO_DISPLAY | NODE_OPEN_HERE | NODE_NO_PROCESSOR);
    EXPECT_EQ(copy.device, record_.device);
    EXPECT_EQ(copy.primaryRegs, record_.primaryRegs);
}

// ---------------------------------------------------------------- InitRemoteNode

TEST_F(NodeOpenTest, HostModeRegistersTheNodeAndHooksItsMessages)
{
    ASSERT_NE(InitNewNode(0, 0, 3, &record_, nullptr), 0u);
    BoardSim::instance().clearRequests();
    _NODE_ST* block = InitRemoteNode(&record_, 3);
    ASSERT_NE(block, nullptr);
    EXPECT_NE(block, &core_.host);      // a copy of the host block
    EXPECT_EQ(block->interruptWord, 0x20000000u);
    EXPECT_EQ(core_.inserted, (std::vector<uint32_t>{0x11}));
    _NODE_MAIN_RESOURCE_ST* listed = nodecore::Resource(0x11);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->nodeArea, record_.nodeArea);
    EXPECT_NE(record_.nodeArea, nullptr);
    EXPECT_EQ(block->moduleType, 1u);
    // The copy of the host block carries the node's record as its own.
    EXPECT_EQ(block->own.nodeNumber, 0x11);
    EXPECT_EQ(block->own.primaryRegs, record_.primaryRegs);
    // The record went to the driver.
    EXPECT_EQ(BoardSim::instance().nodeRecord(0).size(), 1896u);
    // Source 160 has its list without a function, the message handler is hooked on the
    // board-to-host source 33; interrupts are enabled.
    _HALCYRA_HOOK_LIST* special = HalcyraGetHookList(0x11, 160);
    ASSERT_NE(special, nullptr);
    EXPECT_EQ(HalcyraGetNextHookFunction(special, nullptr), nullptr);
    _HALCYRA_HOOK_LIST* list = HalcyraGetHookList(0x11, 33);
    ASSERT_NE(list, nullptr);
    _HALCYRA_HOOK_REC* hook = HalcyraGetNextHookFunction(list, nullptr);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(HalcyraGetFuncPtr(hook), &nodecore::MessageHandler);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloInterruptSet) & 1, 1u);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloStatus) & 0x8000, 0x8000u);
    // Windows of the block follow the Orlo's base address.
    const uint32_t bar = BoardSim::instance().functionConfig(0, boardsim::BoardFunction::PrimaryOrlo, 0x10) & 0xF8000000u;
    EXPECT_EQ(block->orlo[0].registers, bar + 0x4000000);
    EXPECT_EQ(block->orlo[0].port, bar + 0x4080000);
    EXPECT_EQ(block->primaryWindow, bar + 0x4000000 - 0x400000);
    EXPECT_EQ(block->orlo[0].base, bar);
}

TEST_F(NodeOpenTest, HostModeWithoutDriverRecordSendsNothing)
{
    ASSERT_NE(InitNewNode(0, 0, 3, &record_, nullptr), 0u);
    BoardSim::instance().clearRequests();
    ASSERT_NE(InitRemoteNode(&record_, 2), nullptr);
    for (const auto& r : BoardSim::instance().requests()) EXPECT_NE(r.code, HLC_DRV_NODE_RECORD);
    EXPECT_EQ(HalcyraGetHookList(0x11, 160), nullptr);
}

TEST_F(NodeOpenTest, RefusedRegistrationFails)
{
    ASSERT_NE(InitNewNode(0, 0, 3, &record_, nullptr), 0u);
    core_.refuseInsert = true;
    EXPECT_EQ(InitRemoteNode(&record_, 3), nullptr);
    EXPECT_TRUE(core_.nodes.empty());
    core_.refuseInsert = false;
    BoardSim::instance().failRequests(HLC_DRV_NODE_RECORD, 1);
    EXPECT_EQ(InitRemoteNode(&record_, 3), nullptr);
}

} // namespace
