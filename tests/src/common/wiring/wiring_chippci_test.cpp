// The display chip's PCI configuration space, reached through the library's own wiring
// once a board has been brought up through node open.
#include "../../host/ll/initest.h"
#include "bringup.h"
#include "disphooks.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "nodelist.h"
#include "videomode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace {

using boardsim::BoardFunction;
using boardsim::BoardSim;

constexpr uint32_t kNode = 0x11;

class ChipPciTest : public initest::WiredBoardTest {
protected:
    void Start(bool displayChip)
    {
        topology_.boards[0].displayOrlo = true;
        topology_.boards[0].displayChip = displayChip;
        ASSERT_NO_FATAL_FAILURE(StartWired());
        WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=0\n");
        _NODE_MAIN_RESOURCE_ST record{};
        im_board_init(0, 0, nullptr, 3, &record);
        ASSERT_NE(mp_sys_node_resource_ptr(kNode), nullptr);
    }
    void SetUp() override {}
};

TEST_F(ChipPciTest, TheDisplayViewLocatesTheChipNodeOpenFound)
{
    ASSERT_NO_FATAL_FAILURE(Start(true));
    uint8_t bus = 0xEE, device = 0xEE, function = 0xEE;
    ASSERT_TRUE(BoardSim::instance().functionLocation(0, BoardFunction::ChipFunction1, &bus, &device, &function));
    const HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(kNode);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->chipPci, 1u);
    EXPECT_EQ(link->chipBus, bus);
    EXPECT_EQ(link->chipDevice, device);
    EXPECT_EQ(link->chipFunction, function);
}

TEST_F(ChipPciTest, ConfigurationReadsAndWritesReachTheChip)
{
    ASSERT_NO_FATAL_FAILURE(Start(true));
    const uint32_t id = BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0);
    EXPECT_EQ(id, (uint32_t{boardsim::kChipFunction1DeviceId} << 16) | boardsim::kChipVendor);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0), id);
    HlcPyxWrPciConfig(kNode, 0x40, 0x00120034u);
    EXPECT_EQ(BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x40), 0x00120034u);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0x40), 0x00120034u);
    // The display Orlo's configuration is left alone.
    EXPECT_NE(BoardSim::instance().functionConfig(0, BoardFunction::DisplayOrlo, 0x40), 0x00120034u);
    // A node that is not open answers nothing.
    EXPECT_EQ(HlcPyxRdPciConfig(0x33, 0), 0xFFFFFFFFu);
}

TEST_F(ChipPciTest, MemoryInitialisationUpdatesTheChipsDword40)
{
    ASSERT_NO_FATAL_FAILURE(Start(true));
    HlcPyxWrPciConfig(kNode, 0x40, 0x00060001u);
    HlcWramInit(kNode);
    // Bit 21 set, bits 17-18 replaced by bit 16 and 19; the rest kept.
    EXPECT_EQ(BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x40), 0x00290001u);
}

TEST_F(ChipPciTest, AfterShutDownTheChipIsNoLongerReached)
{
    ASSERT_NO_FATAL_FAILURE(Start(true));
    HlcPyxWrPciConfig(kNode, 0x40, 0x00000011u);
    BrdShutDown();
    EXPECT_EQ(HlcGetDisplayHooks().displayLink(kNode), nullptr);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0), 0xFFFFFFFFu);
    HlcPyxWrPciConfig(kNode, 0x40, 0x00000022u);
    EXPECT_EQ(BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x40), 0x00000011u);
}

TEST_F(ChipPciTest, ABoardWithoutADisplayChipHasNoChipPlace)
{
    ASSERT_NO_FATAL_FAILURE(Start(false));
    const HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(kNode);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->chipPci, 0u);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0), 0xFFFFFFFFu);
    uint8_t bus = 0;
    EXPECT_FALSE(HlcNodeChipPci(kNode, &bus, nullptr, nullptr));
}

} // namespace
