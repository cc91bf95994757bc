#include "../../../host/ll/initest.h"
#include "bringup.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "hwaccess.h"
#include "nodelist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

namespace {

class NodeListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
    }
    void TearDown() override
    {
        for (int n = 1; n < 255; ++n) mp_sys_remove_node(static_cast<uint32_t>(n));
        imNodeSt = nullptr;
    }
    _NODE_MAIN_RESOURCE_ST* Head() { return mp_sys_own_record(global_.get()); }

    std::unique_ptr<_NODE_ST> global_;
    _NODE_ST blockA_{}, blockB_{};
};

// ---------------------------------------------------------------- node list

TEST_F(NodeListTest, LookupOfNothingIsNull)
{
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);
    EXPECT_EQ(mp_sys_node_resource_ptr(static_cast<uint32_t>(-1)), nullptr);
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(0), nullptr);
    imNodeSt = nullptr;
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);
    EXPECT_EQ(mp_sys_insert_node(0x12, &blockA_), 1);
    EXPECT_EQ(mp_sys_opened_node(), 0);
    imNodeSt = global_.get();
}

TEST_F(NodeListTest, TheEmptyHeadTakesTheFirstNodeThenRecordsAreAppended)
{
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), Head());
    EXPECT_EQ(Head()->nodeState, &blockA_);
    ASSERT_EQ(mp_sys_insert_node(0x12, &blockB_), 0);
    _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(0x12);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, Head());
    EXPECT_EQ(r->nodeNumber, 0x12);
    EXPECT_EQ(r->nodeState, &blockB_);
    EXPECT_EQ(r->openCount, 0);
    EXPECT_EQ(Head()->next, r);
    EXPECT_EQ(r->previous, Head());
    // Bit 31 of the argument does not matter; -1 gives the first listed node.
    EXPECT_EQ(mp_sys_node_resource_ptr(0x80000012u), r);
    EXPECT_EQ(mp_sys_node_resource_ptr(static_cast<uint32_t>(-1)), Head());
}

TEST_F(NodeListTest, MinusOneSkipsAnEmptyHead)
{
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x21, &blockB_), 0);
    ASSERT_EQ(mp_sys_remove_node(0x11), 0);
    EXPECT_EQ(Head()->nodeNumber, 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(static_cast<uint32_t>(-1)), mp_sys_node_resource_ptr(0x21));
}

TEST_F(NodeListTest, InsertingAListedNodeChangesNothingWithoutTheOwnRecordFlag)
{
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x12, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x12, &blockB_), 0);
    _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(0x12);
    EXPECT_EQ(r->nodeState, &blockA_);
    EXPECT_EQ(r->openCount, 0);
    EXPECT_EQ(r->next, nullptr);
    ASSERT_EQ(mp_sys_insert_node(0x12 | kOwnRecordFlag, &blockB_), 0);
    EXPECT_EQ(r->openCount, 1);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x12), r);
}

TEST_F(NodeListTest, TheOwnRecordOfABlockIsLinkedWithoutAllocation)
{
    ASSERT_EQ(mp_sys_insert_node(0x11 | kOwnRecordFlag, global_.get()), 0);
    EXPECT_EQ(Head()->openCount, 1);
    // A block copied from another keeps stale links in its own record.
    mp_sys_own_record(&blockA_)->next = Head();
    ASSERT_EQ(mp_sys_insert_node(0x12 | kOwnRecordFlag, &blockA_), 0);
    _NODE_MAIN_RESOURCE_ST* own = mp_sys_own_record(&blockA_);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x12), own);
    EXPECT_EQ(own->openCount, 1);
    EXPECT_EQ(own->next, nullptr);
    EXPECT_EQ(own->previous, Head());
    ASSERT_EQ(mp_sys_insert_node(0x12 | kOwnRecordFlag, &blockA_), 0);
    EXPECT_EQ(own->openCount, 2);
    EXPECT_EQ(mp_sys_opened_node(), 2);
    // Removing it unlinks and clears it; the block is not freed (it is a member here).
    ASSERT_EQ(mp_sys_remove_node(0x12), 0);
    EXPECT_EQ(Head()->next, nullptr);
    EXPECT_EQ(own->nodeNumber, 0);
}

TEST_F(NodeListTest, RemovingTheHeadKeepsItsNextLinkAndRegionTable)
{
    _MP_DMA_REGION_ST table[1]{};
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x12, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x13, &blockA_), 0);
    Head()->dmaRegions = table;
    Head()->openCount = 3;
    ASSERT_EQ(mp_sys_remove_node(0x11), 0);
    EXPECT_EQ(Head()->nodeNumber, 0);
    EXPECT_EQ(Head()->openCount, 0);
    EXPECT_EQ(Head()->nodeState, nullptr);
    EXPECT_EQ(Head()->dmaRegions, table);
    ASSERT_NE(mp_sys_node_resource_ptr(0x13), nullptr);
    // The middle record goes; its neighbours are joined.
    ASSERT_EQ(mp_sys_remove_node(0x12), 0);
    EXPECT_EQ(Head()->next, mp_sys_node_resource_ptr(0x13));
    EXPECT_EQ(mp_sys_node_resource_ptr(0x13)->previous, Head());
    EXPECT_EQ(mp_sys_remove_node(0x12), 1);
    EXPECT_EQ(mp_sys_remove_node(0), 1);
    // The empty head takes the next node again.
    ASSERT_EQ(mp_sys_insert_node(0x14, &blockB_), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x14), Head());
}

TEST_F(NodeListTest, OpenedNodesCountNumberedRecordsWithAnOpenCount)
{
    ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x12, &blockA_), 0);
    ASSERT_EQ(mp_sys_insert_node(0x13, &blockA_), 0);
    EXPECT_EQ(mp_sys_opened_node(), 0);
    mp_sys_node_resource_ptr(0x11)->openCount = 1;
    mp_sys_node_resource_ptr(0x13)->openCount = -1;
    EXPECT_EQ(mp_sys_opened_node(), 2);
}

TEST_F(NodeListTest, OutsideATaskThereIsNoOwnNode)
{
    EXPECT_EQ(mp_sys_this_node_id(), 0u);
}

// ---------------------------------------------------------------- board queries

_PCI_FOUND_DEVICE Found(uint8_t b4, uint8_t b5, uint8_t b6)
{
    _PCI_FOUND_DEVICE d{};
    d.kind = b4;
    d.family = b5;
    d.moduleType = b6;
    return d;
}

TEST(ProductId, TheFirstMatchingRowWins)
{
    struct Case {
        uint8_t b4, b5, b6;
        uint32_t cpu, product;
    } cases[] = {
        {0x02, 0x00, 0x80, 0, 4},  {0x02, 0x33, 0x80, 1, 2}, {0x04, 0x00, 0x00, 1, 1},
        {0x04, 0x00, 0x01, 1, 1},  {0x04, 0x00, 0x01, 0, 3}, {0x08, 0x00, 0x01, 1, 3},
        {0x08, 0x00, 0x04, 0, 6},  {0x04, 0x00, 0x05, 0, 6}, {0x08, 0x00, 0x06, 1, 7},
        {0x04, 0x00, 0x06, 1, 99}, {0x33, 0x01, 0x02, 0, 5}, {0x33, 0x01, 0x22, 1, 5},
        {0x33, 0x02, 0x02, 0, 99}, {0x08, 0x00, 0x00, 1, 99}, {0x06, 0x00, 0x00, 0, 4},
    };
    for (const Case& c : cases) {
        const _PCI_FOUND_DEVICE d = Found(c.b4, c.b5, c.b6);
        EXPECT_EQ(mp_sys_get_product_id(&d, c.cpu), c.product)
            << std::hex << +c.b4 << " " << +c.b5 << " " << +c.b6 << " cpu " << c.cpu;
    }
    EXPECT_EQ(mp_sys_get_product_id(nullptr, 0), IM_DEV_HALCYRA_UNDEF);
}

TEST(BoardMemSize, SecondFamilyDecodesTheConfigurationByte)
{
    struct Case {
        uint8_t c;
        uint32_t bytes;
    } cases[] = {{0, 0x200000}, {2, 0x200000}, {16, 0x400000}, {1, 0}, {4, 0x800000},
                 {5, 0x2000000}, {12, 0x1000000}, {13, 0x3FFF000}, {8, 0}, {17, 0}};
    for (const Case& k : cases) EXPECT_EQ(mp_sys_get_board_mem_size(5, &k.c), k.bytes) << +k.c;
}

TEST(BoardMemSize, OtherModelsDecodeTheConfigurationWord)
{
    struct Case {
        uint32_t w;
        uint32_t bytes;
    } cases[] = {
        {0, 0x600000},           {8, 0x200000},  {16, 0x400000}, {24, 0x600000},
        {32, 0},                 // bit 5 set, nothing in bits 3-4: 0 MiB
        {32 | 8, 8u << 20},      {32 | 16, 16u << 20},           {32 | 8 | 1, 32u << 20},
        {32 | 16 | 1, 0x3FFF000}, {32 | 16 | 4, 4u << 20},       {32 | 24 | 1 | 4, 24u << 20},
    };
    for (const Case& k : cases) EXPECT_EQ(mp_sys_get_board_mem_size(1, &k.w), k.bytes) << k.w;
    EXPECT_EQ(mp_sys_get_board_mem_size(1, nullptr), 0u);
}

TEST(ExternalBoardId, ANodeWithoutAPortIsNoneOfTheModuleTypes)
{
    _NODE_MAIN_RESOURCE_ST r{};
    EXPECT_EQ(mp_sys_external_board_id(&r), kModuleNoPort);
    EXPECT_EQ(mp_sys_external_board_id(nullptr), kModuleNoPort);
}

TEST(RegisterBlocks, GettersReadTheRecord)
{
    _NODE_MAIN_RESOURCE_ST r{};
    r.primaryRegs = 0x1000;
    r.primaryPort = 0x2000;
    r.displayRegs = 0x3000;
    r.displayPort = 0x4000;
    EXPECT_EQ(mp_adr_porlo_reg(&r), 0x1000u);
    EXPECT_EQ(mp_adr_porlo_extp(&r), 0x2000u);
    EXPECT_EQ(mp_adr_dorlo_reg(&r), 0x3000u);
    EXPECT_EQ(mp_adr_dorlo_extp(&r), 0x4000u);
    EXPECT_EQ(mp_adr_pimbra_reg(&r), 0u);
    EXPECT_EQ(mp_adr_porlo_reg(nullptr), 0u);
    EXPECT_EQ(mp_adr_dorlo_extp(nullptr), 0u);
}

TEST(Utilities, SumCountsOneBits)
{
    EXPECT_EQ(mp_util_sum(0), 0);
    EXPECT_EQ(mp_util_sum(1), 1);
    EXPECT_EQ(mp_util_sum(0x7FFFFFFF), 31);
    EXPECT_EQ(mp_util_sum(0x1010), 2);
}

// ---------------------------------------------------------------- address conversion

class ConversionTest : public NodeListTest {
protected:
    void SetUp() override
    {
        NodeListTest::SetUp();
        ASSERT_EQ(mp_sys_insert_node(0x11, &blockA_), 0);
        record_ = mp_sys_node_resource_ptr(0x11);
        record_->device = kInvalidDevice;
        blockA_.orlo[0].present = 1;
        blockA_.orlo[0].base = 0xE0000000u;
        blockA_.primaryWindow = 0xE0000000u + 0x4000000 - 0x400000;   // top 4 MB below the registers
        blockA_.orlo[0].memorySize = 0x400000;
        record_->primaryMemory = 0x50000000u;
        blockA_.orlo[1].base = 0xE8000000u;
        blockA_.displayWindow = 0xE8400000u;
        blockA_.orlo[1].memorySize = 0x200000;
        record_->displayMemory = 0x60000000u;
    }
    _NODE_MAIN_RESOURCE_ST* record_ = nullptr;
};

TEST_F(ConversionTest, ProcessorAndBusAddressesAreTiedToThePrimaryWindow)
{
    EXPECT_EQ(mp_util_mvp_to_pci(0x11, 0xFFC00000u), 0xE3C00000u);
    EXPECT_EQ(mp_util_pci_to_mvp(0x11, 0xE3C00000u), 0xFFC00000u);
    EXPECT_EQ(mp_util_mvp_to_virtual(0x11, 0xFFC00010u), 0x50000010u);
    EXPECT_EQ(mp_util_virtual_to_mvp(0x11, 0x50000010u), 0xFFC00010u);
    EXPECT_EQ(mp_util_mvp_to_mvp(0x11, 0x11, 0xFFC00040u), 0xFFC00040u);
}

TEST_F(ConversionTest, BusAndHostAddressesRoundTripThroughEachWindow)
{
    for (uint32_t bus : {0xE3C00000u, 0xE3FFFFFCu, 0xE8400000u, 0xE85FFFFCu}) {
        const uint32_t host = mp_util_pci_to_virtual(0x11, bus);
        ASSERT_NE(host, 0u) << std::hex << bus;
        EXPECT_EQ(mp_util_virtual_to_pci(0x11, host), bus) << std::hex << bus;
    }
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE3C00000u), 0x50000000u);
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE8400100u), 0x60000100u);
}

// A board of 4 MiB: its window is mapped 2 MiB above the display Orlo's base, and every bus
// address of it reaches the mapping (from the base, the top half would fall past it).
TEST_F(ConversionTest, AFourMegabyteBoardWindowMapsWholeAndNothingBesideIt)
{
    blockA_.orlo[1].memorySize = 0x400000;
    blockA_.displayWindow = 0xE8000000u + 0x600000 - 0x400000;
    for (uint32_t offset : {0u, 0x1FFFFCu, 0x200000u, 0x3FFFFCu}) {
        const uint32_t bus = 0xE8200000u + offset;
        EXPECT_EQ(mp_util_pci_to_virtual(0x11, bus), 0x60000000u + offset) << std::hex << bus;
        EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x60000000u + offset), bus) << std::hex << bus;
    }
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE8000000u), 0u) << "the base below the window maps nothing";
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE8600000u), 0u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x60400000u), 0u);
}

// The frame window converts both ways from its own start, whatever the chip's base word.
TEST_F(ConversionTest, TheFrameWindowRoundTripsFromItsOwnStart)
{
    blockA_.chip.present = 1;
    blockA_.chip.frameSize = 0x210000;
    blockA_.chip.base = 0xF0000000u;
    blockA_.frameWindow = 0xF0000000u;
    record_->chipFrame = 0x70000000u;
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xF0000100u), 0x70000100u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x70000100u), 0xF0000100u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x70210000u), 0u);
}

TEST_F(ConversionTest, ZeroOutsideAndMissingNodesGiveZero)
{
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0), 0u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0), 0u);
    EXPECT_EQ(mp_util_mvp_to_pci(0x11, 0), 0u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x50400000u), 0u);   // one past the window
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x12345678u), 0u);
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0x12345678u), 0u);   // nothing maps it
    EXPECT_EQ(mp_util_pci_to_virtual(0x22, 0xE3C00000u), 0u);
    EXPECT_EQ(mp_util_translate_pstr(0x22, 0x100), 0u);
    blockA_.orlo[0].present = 0;
    EXPECT_EQ(mp_util_mvp_to_pci(0x11, 0xFFC00000u), 0u);
    EXPECT_EQ(mp_util_pci_to_mvp(0x11, 0xE3C00000u), 0u);
}

TEST_F(ConversionTest, SecondFamilyBoardsHaveOnlyTheProcessorWindow)
{
    blockA_.product = IM_DEV_SORVIK_II_DIG;
    blockA_.orlo[0].memorySize = 0x200000;
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE3300000u), 0x50000000u);
    EXPECT_EQ(mp_util_pci_to_virtual(0x11, 0xE34FFFFCu), 0x501FFFFCu);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x50000040u), 0xE3300040u);
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x60000000u), 0u);   // the board window is not used
    blockA_.orlo[0].memorySize = 0x400000;
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x50000000u), 0xE3200000u);
    blockA_.orlo[0].memorySize = 0x800000;
    EXPECT_EQ(mp_util_virtual_to_pci(0x11, 0x50000000u), 0u);
}

TEST_F(ConversionTest, TranslationKeepsAddressesOfHostServedNodes)
{
    EXPECT_EQ(mp_util_translate_pstr(0x11, 0xFFC00010u), 0xFFC00010u);
    EXPECT_EQ(mp_util_translate_pstr(0x11, 0), 0u);
    blockA_.started = 1;   // the board processor serves the node
    EXPECT_EQ(mp_util_translate_pstr(0x11, 0xFFC00010u), 0x50000010u);
}

TEST_F(ConversionTest, TheSdramHeapCoversTheWholeWindowOnce)
{
    ASSERT_EQ(mp_init_sdram_heap(0x11), 0);
    heap* h = record_->heaps[0];
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mp_mem_heap_start(h), 0x50000000u);
    EXPECT_EQ(h->size, 0x400000u);
    EXPECT_EQ(h->flags, 0x80000000u);
    ASSERT_EQ(mp_init_sdram_heap(0x11), 0);
    EXPECT_EQ(record_->heaps[0], h);
    mp_mem_delete_heap(h);
    record_->heaps[0] = nullptr;
    EXPECT_EQ(mp_init_sdram_heap(0x22), -1);
    blockA_.orlo[0].present = 0;
    EXPECT_EQ(mp_init_sdram_heap(0x11), -1);
}

TEST_F(ConversionTest, AlignedHeapFitsAlignOnTheBus)
{
    // A heap over the board window whose host base is 64 bytes past a page, while the bus
    // address is page aligned at a different offset: the fit aligns the bus address.
    record_->displayMemory = 0x60000040u;
    heap* h = mp_mem_new_heap(nullptr, 0x60000040u, 0x100000, 1);
    ASSERT_NE(h, nullptr);
    // Without a task the current node is 0 and addresses are aligned as they are.
    EXPECT_EQ(mp_mem_memalign(h, 4096, 64), 0x60001000u);
    mp_mem_delete_heap(h);
}

// ---------------------------------------------------------------- bring-up

class CoreBringUpTest : public initest::WiredBoardTest {
protected:
    void SetUp() override { StartWired(); }
};

TEST_F(CoreBringUpTest, AHostServedBoardIsListedIdentifiedAndShutDown)
{
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n");
    // The grab module answers 254 on the external port: module type 1.
    boardsim::BoardSim::instance().setReadFilter([](const boardsim::HwAccess& a) {
        return a.area == boardsim::HwArea::PrimaryPort && a.offset == 0 ? 0xFEu : a.value;
    });
    _NODE_MAIN_RESOURCE_ST record{};
    EXPECT_EQ(im_board_init(0, 0, nullptr, 3, &record), -3);
    _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(0x11);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed, mp_sys_own_record(imNodeSt));   // the empty head took the node
    EXPECT_EQ(listed->openCount, 1);
    EXPECT_NE(listed->primaryRegs, 0u);
    ASSERT_NE(listed->nodeState, nullptr);
    EXPECT_EQ(listed->nodeState->moduleType, 1u);
    EXPECT_EQ(mp_sys_opened_node(), 1);
    EXPECT_EQ(mp_sys_external_board_id(listed), 1u);
    // Bit 15 of the option register is restored after the port reads.
    EXPECT_EQ(HwRead32(listed->primaryRegs, kOrloStatus) & 0x8000, 0x8000u);
    EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);
    EXPECT_EQ(mp_sys_opened_node(), 0);
}

} // namespace
