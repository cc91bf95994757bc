#include "qflw32d.h"

#include "bench.h"

#include <gtest/gtest.h>

namespace {

class StageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qflsim::reset();
        ASSERT_NE(QflOpen(), 0);
        qflsim::clearCallLog();
    }
    void TearDown() override { qflsim::reset(); }
};

TEST_F(StageTest, RelativeMovesAccumulateCountsAndReachTheBench)
{
    QflMoveRelative(1, 51);
    QflMoveRelative(1, -1689);
    QflMoveRelative(2, 7);
    EXPECT_EQ(qflsim::position(1), 51 - 1689);
    EXPECT_EQ(qflsim::position(2), 7);
    EXPECT_EQ(bench::axisCounts(1), 51 - 1689);
    EXPECT_EQ(bench::axisCounts(2), 7);
}

TEST_F(StageTest, CallLogRecordsEveryCallWithItsArguments)
{
    QflConfigure(9);
    QflInitialize();
    QflSelectAxis(3);
    QflMoveRelative(3, -422);
    QflExecute(3);
    char reply[128];
    QflCommand("3DH", reply);
    EXPECT_EQ(qflsim::callLog(), (std::vector<std::string>{"QflConfigure(9)", "QflInitialize()", "QflSelectAxis(3)",
                                                          "QflMoveRelative(3, -422)", "QflExecute(3)",
                                                          "QflCommand(\"3DH\")"}));
    EXPECT_STREQ(reply, "OK");
}

TEST_F(StageTest, DefineHomeAndGoHome)
{
    char reply[128];
    QflMoveRelative(1, 100);
    QflCommand("1DH", reply);
    EXPECT_EQ(qflsim::position(1), 0);
    EXPECT_EQ(qflsim::absolutePosition(1), 100);
    QflMoveRelative(1, 30);
    QflMoveRelative(2, -40);
    QflCommand("1GH", reply);
    EXPECT_EQ(qflsim::absolutePosition(1), 100);
    EXPECT_EQ(qflsim::absolutePosition(2), -40);
    QflCommand("GH", reply);
    EXPECT_EQ(qflsim::absolutePosition(2), 0);
    EXPECT_EQ(bench::axisCounts(2), 0);
    EXPECT_EQ(QflCommand("5GH", reply), 0);
    EXPECT_STREQ(reply, "ERR unknown command");
    EXPECT_EQ(QflCommand("XYZ", nullptr), 0);
}

TEST_F(StageTest, InvalidAxesAreRefusedWithoutMoving)
{
    EXPECT_EQ(QflMoveRelative(0, 10), 0);
    EXPECT_EQ(QflMoveRelative(5, 10), 0);
    EXPECT_EQ(QflSelectAxis(9), 0);
    for (int a = 1; a <= 4; ++a) EXPECT_EQ(qflsim::position(a), 0);
}

TEST(StageOpen, OpenCanBeMadeToFailAndThenNothingMoves)
{
    qflsim::reset();
    qflsim::setOpenFails(true);
    EXPECT_EQ(QflOpen(), 0);
    EXPECT_FALSE(qflsim::isOpen());
    EXPECT_EQ(QflMoveRelative(1, 10), 0);
    EXPECT_EQ(qflsim::position(1), 0);
    char reply[128];
    EXPECT_EQ(QflCommand("GH", reply), 0);
    EXPECT_STREQ(reply, "ERR not open");
    qflsim::reset();
    EXPECT_NE(QflOpen(), 0);
    EXPECT_TRUE(qflsim::isOpen());
    qflsim::reset();
}

}  // namespace
