// The system inquiry through hlclib.h and libhlclib.so only: the ini rewrite each inquiry
// decides afresh from the data it reads.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Three nodes of system 0, where the machine has one board.
std::string ThreeNodeIni(int autoRescan)
{
    return "[GlobalSetting]\nAutoRescanIni=" + std::to_string(autoRescan) +
           "\n[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n"
           "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n"
           "[Node]\nNodeId=0x13\nSlotNbr=3\nDeviceNbr=0x000f04\n";
}

class AppSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcapp");
        boardsim::BoardSim::instance().configure();
    }
    void TearDown() override
    {
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    std::unique_ptr<libsandbox::Sandbox> sandbox_;
};

// AutoRescanIni of the second reading, and the nodes then counted.
struct Rescan {
    int autoRescan;
    int32_t nodes;
};
class SystemRescanTest : public AppSystemTest, public ::testing::WithParamInterface<Rescan> {};

TEST_P(SystemRescanTest, EachInquiryRewritesTheNodesAsTheIniDataAsks)
{
    HalcyraIniFree(nullptr);
    sandbox_->write("halcyra.ini", ThreeNodeIni(2));
    EXPECT_EQ(imSysInquire(0, 1, nullptr), 1) << "rewritten from the one board";
    HalcyraIniFree(nullptr);
    sandbox_->write("halcyra.ini", ThreeNodeIni(GetParam().autoRescan));
    EXPECT_EQ(imSysInquire(0, 1, nullptr), GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(AutoRescanIni, SystemRescanTest,
                         ::testing::Values(Rescan{0, 3}, Rescan{1, 1}, Rescan{2, 1}));

} // namespace
