// A program linked to libhlclib.so and libhlcplatform.so: it calls the library only
// through hlclib.h and drives the simulated board through the platform object, and both
// see one machine.
#include "hlclib.h"
#include "hlclib_board.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr uint32_t kDevice = 0x02110002u;   // system 0, board 0: node 0x11
constexpr uint32_t kSystemThread = 0x40110010u;

class SharedBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hlcsharedXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        std::ofstream(root_ + "/halcyra.ini") << "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
        setenv("HLCINIPATH", root_.c_str(), 1);
        setenv("HALCYRA", (root_ + "/noinstall").c_str(), 1);
        boardsim::BoardSim::instance().configure();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setTracing(false);
        std::remove((root_ + "/halcyra.ini").c_str());
        std::remove(root_.c_str());
    }
    std::string root_;
};

TEST_F(SharedBoardTest, TheLibraryWorksOnTheProgramsSimulatedBoard)
{
    boardsim::BoardSim::instance().setTracing(true);
    uint32_t device = 0;
    ASSERT_EQ(imDevAlloc(0, 0, 0, 0, &device), kDevice);
    EXPECT_EQ(device, kDevice);
    ASSERT_NE(imNodeSt, nullptr);
    // No FPGA file is named for the board's grab module: the open's error is the load code.
    EXPECT_EQ(imAppGetError(1, nullptr), IM_ERR_RESTRICTED);

    // One command and its reply: the node's doorbell rings on the program's machine.
    uint32_t sync = 0;
    ASSERT_NE(imSyncAlloc(kSystemThread, &sync), 0u);
    imSyncControl(kSystemThread, sync, 18001, 2);
    EXPECT_EQ(imThrNop(kSystemThread, sync), 0);
    EXPECT_EQ(imSyncHost(kSystemThread, sync, 50), 50);
    EXPECT_EQ(imSyncFree(kSystemThread, sync), 0);
    int doorbells = 0;
    for (const boardsim::HwAccess& a : boardsim::BoardSim::instance().trace())
        doorbells += a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryRegs &&
                     a.offset == kOrloInterruptSet && a.value == 0x20;
    EXPECT_GE(doorbells, 1);

    EXPECT_EQ(imDevFree(device), 0);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_TRUE(boardsim::BoardSim::instance().dmaBuffers().empty());
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
}

}  // namespace
