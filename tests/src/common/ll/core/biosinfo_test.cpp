// The board information record read from the display chip's expansion ROM of the
// simulated board.
#include "boardsim.h"
#include "driverreq.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "nodelist.h"
#include "pci.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

using boardsim::BoardFunction;
using boardsim::BoardSim;
using boardsim::Topology;

constexpr uint32_t kNode = 0x11;
_NODE_MAIN_RESOURCE_ST g_record;
_NODE_ST g_state;

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return (node & 0xFF) == kNode ? &g_record : nullptr;
}

class BiosInfoTest : public ::testing::Test {
protected:
    void Use(uint16_t pcbId)
    {
        Topology t;
        t.boards[0].displayOrlo = true;
        t.boards[0].displayChip = true;
        t.boards[0].romPcbId = pcbId;
        BoardSim::instance().configure(t);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        g_record = _NODE_MAIN_RESOURCE_ST{};
        g_state = _NODE_ST{};
        g_record.nodeNumber = kNode;
        g_record.openCount = -1;     // no console print
        g_record.device = device_;
        g_record.nodeState = &g_state;
        g_state.orlo[0].present = 1;
        g_state.orlo[1].present = 1;
        g_state.chip.present = 1;
        g_state.boardWord = BoardSim::instance().boardSuffix(0);
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000, &g_record.displayRegs));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_CHIP, 0x210000, 1, &g_record.chipFrame));
        DefaultAccessType = InitDefaultAccessType(0);
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        ASSERT_EQ(board_->Install(), 0);
    }
    void TearDown() override
    {
        safe_free(g_record.biosInfo);
        g_record.biosInfo = nullptr;
        board_.reset();
        if (device_ != kInvalidDevice) DeviceClose(device_);
        BoardSim::instance().configure();
    }
    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcBoardHookOverride> board_;
};

TEST_F(BiosInfoTest, RecordComesFromTheExpansionRomAndIsCached)
{
    Use(0x4701);
    const uint32_t rom = BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x30);
    const uint32_t option = BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x40);
    _VgaBiosInfoSt* info = mp_sys_get_bios_info(kNode, &g_record);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->size, 64);
    EXPECT_EQ(info->pcbId, 0x4701);
    EXPECT_EQ(info->revision, 2);
    EXPECT_EQ(std::string(info->serial, 10), "SIM0000000");
    EXPECT_EQ(info->date & 31, 15);
    EXPECT_EQ((info->date >> 5) & 15, 6);
    EXPECT_EQ((info->date >> 9) + 1900, 2001);
    EXPECT_EQ(info->check, 0x5A5A);
    EXPECT_EQ(g_record.biosInfo, info);    // cached in the record
    // The ROM is switched off again and the option register restored.
    EXPECT_EQ(BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x30), rom);
    EXPECT_EQ(BoardSim::instance().functionConfig(0, BoardFunction::ChipFunction1, 0x40), option);
    // Hidden again: the frame window shows frame memory at the ROM's place.
    EXPECT_NE(HwRead16(g_record.chipFrame, 0x200000), 0xAA55);
    EXPECT_EQ(mp_sys_get_bios_info(kNode, &g_record), info);
}

TEST_F(BiosInfoTest, NoRecordWithoutSignatureOrDisplayChip)
{
    Use(0);
    EXPECT_EQ(mp_sys_get_bios_info(kNode, &g_record), nullptr);
    EXPECT_EQ(g_record.biosInfo, nullptr);
    g_state.chip.present = 0;
    EXPECT_EQ(mp_sys_get_bios_info(kNode, &g_record), nullptr);
}

} // namespace
