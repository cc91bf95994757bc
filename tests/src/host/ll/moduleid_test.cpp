// Bring-up identifies the grab module from the id byte that the module itself answers on
// word 0 of the Orlo's port window, with no help from the test.
#include "bringup.h"
#include "initest.h"
#include "nodelist.h"

#include "boardsim.h"
#include "hwaccess.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

namespace {

const char kOneBoard[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class ModuleIdTest : public initest::WiredBoardTest {
protected:
    void SetUp() override {}
    // Brings a host-served board with the given module up and answers the node's type;
    // present: the node's module-present flag.
    uint32_t BringUp(uint8_t moduleType, uint32_t* present = nullptr)
    {
        topology_.boards[0].moduleType = moduleType;
        StartWired();
        WriteIni(kOneBoard);
        _NODE_MAIN_RESOURCE_ST record{};
        EXPECT_EQ(im_board_init(0, 0, nullptr, 3, &record), -3);
        _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(0x11);
        if (!listed || !listed->nodeState) {
            ADD_FAILURE() << "the node was not listed";
            return 0xFFFFFFFFu;
        }
        // The port option is on again after the id reads.
        EXPECT_EQ(HwRead32(listed->primaryRegs, kOrloStatus) & kStatusPortOption, kStatusPortOption);
        EXPECT_EQ(mp_sys_external_board_id(listed), listed->nodeState->moduleType);
        if (present) *present = listed->nodeState->modulePresent;
        return listed->nodeState->moduleType;
    }
};

TEST_F(ModuleIdTest, ATypeTwoModuleIsTypeTwoAndPresent)
{
    uint32_t present = 0;
    EXPECT_EQ(BringUp(2, &present), 2u);
    EXPECT_EQ(present, 1u);
}

TEST_F(ModuleIdTest, ATypeThirtyFourModuleAnswers24AndIsTypeThirtyFour)
{
    EXPECT_EQ(BringUp(34), 34u);
    EXPECT_EQ(boardsim::BoardSim::instance().grab(0).idByte(), 24u);
}

TEST_F(ModuleIdTest, ATypeOneModuleIsTypeOne)
{
    EXPECT_EQ(BringUp(1), 1u);
}

TEST_F(ModuleIdTest, ABoardWithoutAModuleAnswers255AndHasNone)
{
    uint32_t present = 1;
    EXPECT_EQ(BringUp(0, &present), 0u);
    EXPECT_EQ(present, 0u);
    EXPECT_FALSE(boardsim::BoardSim::instance().grab(0).fitted());
}

} // namespace
