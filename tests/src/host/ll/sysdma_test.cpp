#include "boardsim.h"
#include "hlc_wiring.h"
#include "hwaccess.h"
#include "qvlservice.h"
#include "sysdma.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using boardsim::BoardSim;
using boardsim::Topology;

namespace {

// The library core's side, faked.
HlcNodeLink g_link;
bool g_haveNode = true;
std::string g_printed;
SysBufferInfo g_buffer;
bool g_describeFails = false;
std::vector<uint32_t> g_list;
uint32_t g_listId = 0;
std::vector<uint32_t> g_freed;
std::vector<std::pair<uint32_t, double>> g_controls;

HlcNodeLink* NodeLink(uint32_t node)
{
    return g_haveNode && node == g_link.node ? &g_link : nullptr;
}
int IniReadInt(uint32_t, const char* key, int32_t* value)
{
    if (std::string(key) != "LargestDmaBlock") return -1;
    *value = 0x100000;
    return 0;
}
void Print(const char* text)
{
    g_printed += text;
}
int Describe(uint32_t, uint32_t, SysBufferInfo* info)
{
    if (g_describeFails) return -1;
    *info = g_buffer;
    return 0;
}
uint32_t AllocList(uint32_t, uint32_t words, uint32_t lines, uint32_t** address)
{
    if (g_listId == 0) return 0;
    g_list.assign(static_cast<size_t>(words) * lines, 0xEEEEEEEEu);
    *address = g_list.data();
    return g_listId;
}
void FreeBuffer(uint32_t, uint32_t id)
{
    g_freed.push_back(id);
}
void Control(uint32_t, uint32_t id, int32_t control, double value)
{
    g_controls.emplace_back(id * 100 + static_cast<uint32_t>(control), value);
}

// The links sit unaligned in the 19-byte records: read them by value.
_PCI_FOUND_DEVICE* Next(const _PCI_FOUND_DEVICE* p)
{
    return p->next;
}
_PCI_FOUND_DEVICE* Previous(const _PCI_FOUND_DEVICE* p)
{
    return p->previous;
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

class SysDmaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BoardSim::instance().configure();
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        g_link = HlcNodeLink{};
        g_link.node = 0x11;
        g_link.device = node_;
        g_link.overlapped = &overlapped_;
        overlapped_.event = &event_;
        g_haveNode = true;
        g_printed.clear();
        std::memset(&g_buffer, 0, sizeof g_buffer);
        g_describeFails = false;
        g_list.clear();
        g_listId = 77;
        g_freed.clear();
        g_controls.clear();
        HlcWireLibrary();
        host_.emplace();
        HlcHostHooks& hooks = host_->table;
        hooks.nodeLink = NodeLink;
        hooks.iniReadInt = IniReadInt;
        hooks.print = Print;
        hooks.describeBuffer = Describe;
        hooks.allocListBuffer = AllocList;
        hooks.freeBuffer = FreeBuffer;
        hooks.controlBuffer = Control;
        ASSERT_EQ(host_->Install(), 0);
        BoardSim::instance().clearRequests();
    }
    void TearDown() override
    {
        host_.reset();
        DeviceClose(node_);
    }
    std::optional<HlcHostHookOverride> host_;
    bool Sent(uint32_t code)
    {
        for (const auto& r : BoardSim::instance().requests())
            if (r.code == code) return true;
        return false;
    }

    DeviceHandle node_ = kInvalidDevice;
    DeviceOverlapped overlapped_;
    DeviceEvent event_{true, false};
};

TEST_F(SysDmaTest, BandBytesArePerLineWithOverflowChecks)
{
    struct Case {
        uint32_t x, y, bits, bytes;
    };
    const Case cases[] = {
        {100, 10, 1, 130},   // 13 bytes per line of 100 one-bit pixels
        {96, 10, 1, 120},
        {100, 10, 8, 1000},
        {100, 10, 12, 2000},
        {100, 10, 24, 3000},
        {100, 10, 32, 4000},
        // Codes 0, 2-8 and those above 32 take the size as bytes.
        {10, 3, 64, 30},
        {10, 3, 33, 30},
        {10, 3, 0, 30},
        {10, 3, 2, 30},
    };
    uint32_t bytes = 0;
    for (const Case& c : cases) {
        EXPECT_TRUE(SysDmaBandBytes(c.x, c.y, c.bits, &bytes)) << c.bits;
        EXPECT_EQ(bytes, c.bytes) << c.x << "x" << c.y << "x" << c.bits;
    }
    bytes = 5;
    EXPECT_FALSE(SysDmaBandBytes(0x10000, 0x10000, 8, &bytes));
    EXPECT_FALSE(SysDmaBandBytes(0xFFFFFFFFu, 2, 32, &bytes));
    EXPECT_EQ(bytes, 5u);
}

TEST_F(SysDmaTest, AllocateWriteThroughTheMappingReadPhysicalAndFree)
{
    _MP_BAND_ST d = {0, 0xAAAA0000u, 0, 0};
    const int32_t id = SysDmaBufferAlloc(0x11 << 16, 100, 10, 1, &d);
    ASSERT_GT(id, 0);
    EXPECT_EQ(d.id, id);
    EXPECT_EQ(d.third, 0xAAAA0000u); // the caller's second word moves to the third
    EXPECT_EQ(d.physical, BoardSim::instance().dmaRegionPhysical(0));
    ASSERT_NE(d.mapped, 0u);

    // The request: 130 bytes asked as 130 + 130 mod 8 = 132, owner = node, third spare = LargestDmaBlock.
    bool seen = false;
    for (const auto& r : BoardSim::instance().requests())
        if (r.code == QVL_DMA_BUFFER_ALLOC) {
            uint32_t w[11];
            ASSERT_EQ(r.input.size(), sizeof w);
            std::memcpy(w, r.input.data(), sizeof w);
            EXPECT_EQ(w[2], 132u);
            EXPECT_EQ(w[5], 0x11u);
            EXPECT_EQ(w[8], 0x100000u);
            seen = true;
        }
    EXPECT_TRUE(seen);

    auto* host = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(d.mapped));
    for (int i = 0; i < 130; ++i) host[i] = static_cast<uint8_t>(i ^ 0x5A);
    std::vector<uint8_t> back(130);
    ASSERT_TRUE(BoardSim::instance().readPhysical(d.physical, back.data(), 130));
    for (int i = 0; i < 130; ++i) ASSERT_EQ(back[i], static_cast<uint8_t>(i ^ 0x5A)) << i;

    EXPECT_EQ(SysDmaBufferFree(0x11 << 16, &d), 0);
    EXPECT_EQ(d.id, 0);
    EXPECT_EQ(d.mapped, 0u);
    EXPECT_EQ(d.physical, 0u);
    EXPECT_TRUE(BoardSim::instance().dmaBuffers().empty());
}

TEST_F(SysDmaTest, AllocationWithoutANodeHasNoMappingAndSizeZeroHasNoBuffer)
{
    g_haveNode = false;
    _MP_BAND_ST d = {};
    ASSERT_GT(SysDmaBufferAlloc(0x11 << 16, 16, 16, 16, &d), 0);
    EXPECT_EQ(d.mapped, 0u);
    EXPECT_NE(d.physical, 0u);
    EXPECT_EQ(SysDmaBufferFree(0x11 << 16, &d), 0);

    _MP_BAND_ST none = {5, 6, 7, 8};
    EXPECT_EQ(SysDmaBufferAlloc(0x11 << 16, 0, 10, 8, &none), -1);
    EXPECT_EQ(none.id, -1);
    EXPECT_EQ(none.mapped, 0u);
    EXPECT_EQ(none.physical, 0u);
    EXPECT_EQ(SysDmaBufferFree(0x11 << 16, &none), 0); // frees nothing
    EXPECT_EQ(none.id, 0);

    _MP_BAND_ST huge = {};
    EXPECT_EQ(SysDmaBufferAlloc(0x11 << 16, 0x10000, 0x10000, 32, &huge), 0);
    EXPECT_EQ(huge.id, -1);
    EXPECT_EQ(SysDmaBufferAlloc(0x11 << 16, 0x1000, 0x1000, 8, &huge), 0); // more than the region
}

TEST_F(SysDmaTest, AFreeTheServiceRefusesKeepsTheDescriptor)
{
    _MP_BAND_ST d = {};
    ASSERT_GT(SysDmaBufferAlloc(0x11 << 16, 64, 1, 8, &d), 0);
    const _MP_BAND_ST kept = d;
    BoardSim::instance().failRequests(QVL_DMA_BUFFER_FREE, 1);
    EXPECT_EQ(SysDmaBufferFree(0x11 << 16, &d), -1);
    EXPECT_EQ(std::memcmp(&d, &kept, sizeof d), 0);
    EXPECT_EQ(SysDmaBufferFree(0x11 << 16, &d), 0);
}

TEST_F(SysDmaTest, RegionMinusOneResolvesThroughTheDmaRegionTable)
{
    std::vector<uint8_t> user(0x2000);
    const _MP_DMA_REGION_ST table[2] = {{3, 0x20000000u, 0x2000, Word(user.data())}, {0, 0, 0, 0}};
    g_link.dmaRegions = table;
    EXPECT_EQ(mp_sys_map_hw_physical_address(&g_link, HLC_REGION_DMA, 0x20000100u, 0x100), Word(user.data()) + 0x100);
    EXPECT_EQ(mp_sys_map_hw_physical_address(&g_link, HLC_REGION_DMA, 0x20000000u, 0x2000), Word(user.data()));
    EXPECT_FALSE(Sent(HLC_DRV_MAP));
    // Past the end of the entry the driver is asked, and knows no such memory.
    EXPECT_EQ(mp_sys_map_hw_physical_address(&g_link, HLC_REGION_DMA, 0x20001F00u, 0x200), 0u);
    EXPECT_TRUE(Sent(HLC_DRV_MAP));
    // The driver maps the service's DMA regions and the board's windows.
    const uint32_t region = BoardSim::instance().dmaRegionPhysical(0);
    EXPECT_NE(mp_sys_map_hw_physical_address(&g_link, HLC_REGION_DMA, region + 0x10, 0x10), 0u);
    const uint32_t regs = mp_sys_map_hw_physical_address(&g_link, HLC_REGION_PRIMARY, 0x4000000, 0x4000);
    ASSERT_NE(regs, 0u);
    EXPECT_EQ(HwRead32(regs, kOrloControl), 0x10u);
    EXPECT_EQ(mp_sys_map_hw_physical_address(nullptr, HLC_REGION_PRIMARY, 0x4000000, 0x4000), 0u);
    EXPECT_EQ(mp_sys_unmap_hw_physical_address(&g_link, HLC_REGION_PRIMARY, 0x4000000, 0x4000), 0u);
}

TEST_F(SysDmaTest, PageLineWordsCountEveryPageTouched)
{
    EXPECT_EQ(SysPageLineWords(0x10000, 4096), 2u);
    EXPECT_EQ(SysPageLineWords(0x10000, 4097), 3u);
    EXPECT_EQ(SysPageLineWords(0x10FFF, 2), 3u);
    EXPECT_EQ(SysPageLineWords(0x10800, 0x2001), 4u);
    EXPECT_EQ(SysPageLineWords(0x10000, 1), 2u);
    EXPECT_EQ(SysPageLineWords(0x10000, 0), 0u);
}

TEST_F(SysDmaTest, PageLineEqualsTheSimulationsPageMap)
{
    std::vector<uint8_t> memory(0x6000);
    const uint8_t* start = memory.data() + 0x123;
    const uint32_t length = 0x3456;
    const uint32_t words = SysPageLineWords(Word(start), length);
    std::vector<uint32_t> line(words + 1, 0xDDDDDDDDu);
    ASSERT_EQ(MapVirtualToPhysical(1, start, length, line.data(), words), 1);
    const uint32_t pages = words - 1;
    EXPECT_EQ(line[0], pages);
    for (uint32_t i = 0; i < pages; ++i) {
        const uint32_t hostPage = (Word(start) & ~0xFFFu) + 0x1000 * i;
        EXPECT_EQ(line[1 + i], BoardSim::instance().pagePhysical(reinterpret_cast<void*>(static_cast<uintptr_t>(hostPage))));
    }
    EXPECT_EQ(line[words], 0xDDDDDDDDu); // nothing written past the line
    const auto map = BoardSim::instance().pageMap();
    for (uint32_t i = 0; i < pages; ++i) {
        bool found = false;
        for (const auto& e : map)
            if (e.second == line[1 + i]) found = e.first == (Word(start) & ~0xFFFu) + 0x1000 * i;
        EXPECT_TRUE(found) << i;
    }
    uint32_t physical = 0;
    ASSERT_EQ(SysGetPhysicalAddr(start, &physical), 0);
    EXPECT_EQ(physical, line[1] | (Word(start) & 0xFFF));
}

TEST_F(SysDmaTest, PageLinesRefuseNullPointersEmptyLinesAndShortLines)
{
    uint32_t line[4] = {9, 9, 9, 9};
    EXPECT_EQ(MapVirtualToPhysical(1, nullptr, 100, line, 4), -1);
    EXPECT_EQ(g_printed, "Got a NULL ptr\n\n");
    std::vector<uint8_t> memory(0x3000);
    EXPECT_EQ(MapVirtualToPhysical(1, memory.data(), 0, line, 4), -1);
    EXPECT_EQ(MapVirtualToPhysical(1, memory.data(), 100, line, 1), -1);
    EXPECT_EQ(MapVirtualToPhysical(1, memory.data(), 100, line, 0), -1);
    EXPECT_EQ(line[0], 9u);
    EXPECT_EQ(MapVirtualToPhysical(1, memory.data(), 0x2001, line, 2), -1); // needs at least 3 pages
}

TEST_F(SysDmaTest, LockBufferLocksEachBandAndWritesItsLine)
{
    std::vector<uint8_t> band0(0x1800), band1(0x2800);
    g_buffer.bands = 2;
    g_buffer.band[0] = {band0.data(), 0x1800};
    g_buffer.band[1] = {band1.data(), 0x2800};
    uint32_t min0 = 0, max0 = 0;
    DeviceGetWorkingSet(&min0, &max0);
    const uint32_t lineWords = std::max(SysPageLineWords(Word(band0.data()), 0x1800), SysPageLineWords(Word(band1.data()), 0x2800));

    uint32_t listId = 0;
    ASSERT_EQ(SysLockBuffer(1, 5, &listId), 0);
    EXPECT_EQ(listId, 77u);
    ASSERT_EQ(g_list.size(), 2u * lineWords);
    EXPECT_EQ(g_list[0], SysPageLineWords(Word(band0.data()), 0x1800) - 1);
    EXPECT_EQ(g_list[lineWords], SysPageLineWords(Word(band1.data()), 0x2800) - 1);
    EXPECT_EQ(g_list[lineWords + 1], BoardSim::instance().pagePhysical(band1.data()));
    EXPECT_EQ(BoardSim::instance().lockedRanges().size(), 2u);
    uint32_t min1 = 0, max1 = 0;
    DeviceGetWorkingSet(&min1, &max1);
    EXPECT_EQ(min1 - min0, (0x2000u + 0x1000) + (0x3000u + 0x1000));
    EXPECT_EQ(max1 - max0, min1 - min0);
    EXPECT_TRUE(g_controls.empty());

    EXPECT_EQ(SysUnlockBuffer(1, 5), 0);
    EXPECT_TRUE(BoardSim::instance().lockedRanges().empty());
    DeviceGetWorkingSet(&min1, &max1);
    EXPECT_EQ(min1, min0);
    EXPECT_EQ(max1, max0);
    EXPECT_EQ(SysUnlockBuffer(1, 5), -1); // nothing locked any more
}

TEST_F(SysDmaTest, ChildBufferMarksItsParentAndLocksNothing)
{
    std::vector<uint8_t> band(0x1000);
    g_buffer.bands = 1;
    g_buffer.band[0] = {band.data(), 0x1000};
    g_buffer.parent = 9;
    uint32_t listId = 0;
    ASSERT_EQ(SysLockBuffer(1, 5, &listId), 0);
    ASSERT_EQ(g_controls.size(), 1u);
    EXPECT_EQ(g_controls[0].first, 901u);
    EXPECT_EQ(g_controls[0].second, 268435456.0);
    EXPECT_TRUE(BoardSim::instance().lockedRanges().empty());
    EXPECT_EQ(g_list[1], BoardSim::instance().pagePhysical(band.data()));
    EXPECT_EQ(SysUnlockBuffer(1, 5), 0);
}

TEST_F(SysDmaTest, AFailedLockFreesTheListAndLeavesNothingLocked)
{
    std::vector<uint8_t> band0(0x1000), band1(0x1000);
    g_buffer.bands = 2;
    g_buffer.band[0] = {band0.data(), 0x1000};
    g_buffer.band[1] = {band1.data(), 0x1000};
    uint32_t min0 = 0, max0 = 0;
    DeviceGetWorkingSet(&min0, &max0);
    BoardSim::instance().failRequests(QVL_GET_PAGES, 1);
    uint32_t listId = 123;
    EXPECT_EQ(SysLockBuffer(1, 5, &listId), -1);
    EXPECT_EQ(listId, 123u);
    EXPECT_EQ(g_freed, std::vector<uint32_t>{77});
    EXPECT_TRUE(BoardSim::instance().lockedRanges().empty());
    uint32_t min1 = 0, max1 = 0;
    DeviceGetWorkingSet(&min1, &max1);
    EXPECT_EQ(min1, min0);

    g_listId = 0;
    EXPECT_EQ(SysLockBuffer(1, 5, &listId), -1);
    g_listId = 77;
    g_buffer.band[1].length = 0;
    EXPECT_EQ(SysLockBuffer(1, 5, &listId), -1);
    g_describeFails = true;
    EXPECT_EQ(SysLockBuffer(1, 5, &listId), -1);
    HlcWireLibrary(); // the library's own table offers no host buffers yet
    EXPECT_EQ(SysLockBuffer(1, 5, &listId), -1);
}

TEST_F(SysDmaTest, BoardListBuildsALinkedListOfRecords)
{
    Topology t;
    t.boards.resize(2);
    t.boards[1].displayOrlo = true;
    t.boards[1].displayChip = true;
    BoardSim::instance().configure(t);
    _PCI_FOUND_DEVICE* list = nullptr;
    ASSERT_EQ(PciGetHalcyraList(&list), 0);
    ASSERT_NE(list, nullptr);
    _PCI_FOUND_DEVICE* second = Next(list);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Next(second), nullptr);
    EXPECT_EQ(Previous(second), list);
    EXPECT_EQ(Previous(list), nullptr);
    EXPECT_EQ(list->device, 0x0D);
    EXPECT_EQ(second->device, 0x0E);
    EXPECT_EQ(second->secondKind, 8);
    EXPECT_EQ(second->chipDevice, 1);
    EXPECT_EQ(second->functions, 0x0F);
    // A second call appends.
    ASSERT_EQ(PciGetHalcyraList(&list), 0);
    ASSERT_NE(Next(second), nullptr);
    EXPECT_EQ(Next(second)->device, 0x0D);
    EXPECT_EQ(Previous(Next(second)), second);
    PciFreeHalcyraList(&list);
    EXPECT_EQ(list, nullptr);

    t.boards.clear();
    BoardSim::instance().configure(t);
    EXPECT_EQ(PciGetHalcyraList(&list), 1);
    EXPECT_EQ(list, nullptr);
    t.driverPresent = false;
    BoardSim::instance().configure(t);
    EXPECT_EQ(PciGetHalcyraList(&list), 1);
}

} // namespace
