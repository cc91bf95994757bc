#include "qflw32d.h"

#include "bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

class StageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qflsim::reset();
        bench::reset();
        ASSERT_NE(QflOpen(), 0);
        qflsim::clearCallLog();
    }
    void TearDown() override
    {
        qflsim::reset();
        bench::reset();
    }
};

TEST_F(StageTest, RelativeMovesAccumulateCountsAndReachTheBench)
{
    EXPECT_EQ(QflMoveRelative(1, 51), 1);
    EXPECT_EQ(QflMoveRelative(1, -1689), 1);
    EXPECT_EQ(QflMoveRelative(2, 7), 1);
    EXPECT_EQ(qflsim::position(1), 51 - 1689);
    EXPECT_EQ(qflsim::position(2), 7);
    EXPECT_EQ(qflsim::position(3), 0);
    EXPECT_EQ(bench::axisCounts(1), 51 - 1689);
    EXPECT_EQ(bench::axisCounts(2), 7);
    EXPECT_EQ(QflMoveRelative(4, 0), 1);  // a zero move is a move
    EXPECT_EQ(bench::axisCounts(4), 0);
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
    QflCommand(nullptr, reply);
    EXPECT_EQ(qflsim::callLog(), (std::vector<std::string>{"QflConfigure(9)", "QflInitialize()", "QflSelectAxis(3)",
                                                          "QflMoveRelative(3, -422)", "QflExecute(3)",
                                                          "QflCommand(\"3DH\")", "QflCommand(null)"}));
    EXPECT_EQ(qflsim::selectedAxis(), 3);
    qflsim::clearCallLog();
    EXPECT_TRUE(qflsim::callLog().empty());
    EXPECT_EQ(qflsim::position(3), 0);  // clearing the log moves nothing (3DH made -422 the home)
    EXPECT_EQ(qflsim::absolutePosition(3), -422);
}

TEST_F(StageTest, DefineHomeAndGoHome)
{
    char reply[128];
    QflMoveRelative(1, 100);
    EXPECT_EQ(QflCommand("1DH", reply), 1);
    EXPECT_STREQ(reply, "OK");
    EXPECT_EQ(qflsim::position(1), 0);
    EXPECT_EQ(qflsim::absolutePosition(1), 100);
    EXPECT_EQ(bench::axisCounts(1), 100);  // defining home does not move the axis
    QflMoveRelative(1, 30);
    QflMoveRelative(2, -40);
    EXPECT_EQ(QflCommand("1GH", reply), 1);
    EXPECT_EQ(qflsim::absolutePosition(1), 100);
    EXPECT_EQ(bench::axisCounts(1), 100);
    EXPECT_EQ(qflsim::absolutePosition(2), -40);
    EXPECT_EQ(QflCommand("GH", reply), 1);
    EXPECT_EQ(qflsim::absolutePosition(1), 100);
    EXPECT_EQ(qflsim::absolutePosition(2), 0);
    EXPECT_EQ(bench::axisCounts(2), 0);
}

TEST_F(StageTest, UnknownCommandsAreRefusedWithAReply)
{
    char reply[128];
    for (const char* bad : {"5GH", "0DH", "XYZ", "", "1DHX", "gh"}) {
        std::memset(reply, 'x', sizeof reply);
        EXPECT_EQ(QflCommand(bad, reply), 0) << bad;
        EXPECT_STREQ(reply, "ERR unknown command") << bad;
    }
    EXPECT_EQ(QflCommand("XYZ", nullptr), 0);  // no reply buffer: nothing written
    EXPECT_EQ(QflCommand(nullptr, reply), 0);
    for (int a = 1; a <= 4; ++a) EXPECT_EQ(qflsim::absolutePosition(a), 0);
}

TEST_F(StageTest, InvalidAxesAndOverflowingMovesAreRefusedWithoutMoving)
{
    EXPECT_EQ(QflMoveRelative(0, 10), 0);
    EXPECT_EQ(QflMoveRelative(5, 10), 0);
    EXPECT_EQ(QflSelectAxis(9), 0);
    EXPECT_EQ(QflExecute(0), 0);
    EXPECT_EQ(qflsim::selectedAxis(), 1);
    for (int a = 1; a <= 4; ++a) EXPECT_EQ(qflsim::position(a), 0);
    EXPECT_EQ(qflsim::position(7), 0);

    EXPECT_EQ(QflMoveRelative(2, INT32_MAX), 1);
    EXPECT_EQ(QflMoveRelative(2, 1), 0);  // past the counter's range: refused, not cut short
    EXPECT_EQ(qflsim::absolutePosition(2), INT32_MAX);
    EXPECT_EQ(QflMoveRelative(2, INT32_MIN), 1);
    EXPECT_EQ(qflsim::absolutePosition(2), -1);
    EXPECT_EQ(bench::axisCounts(2), -1);
}

TEST_F(StageTest, MeasurementMovesShiftTheGratingByQuarterPeriods)
{
    // The measurement's moves with the default parameters: back by 4 steps of 422 counts
    // plus the pre-move of 200 µm (3378 counts), forward by the pre-move, then four steps.
    QflMoveRelative(1, -(4 * 422 + 3378));
    QflExecute(1);
    QflMoveRelative(1, 3378);
    QflExecute(1);
    const double quarter = M_PI / 2;
    EXPECT_NEAR(bench::currentPhaseShift(), -4 * quarter, 1e-12);
    for (int k = 1; k <= 4; ++k) {
        QflMoveRelative(1, 422);
        QflExecute(1);
        EXPECT_NEAR(bench::currentPhaseShift(), (k - 4) * quarter, 1e-12) << k;
    }
    EXPECT_EQ(qflsim::position(1), 0);  // the axis ends where it started
}

TEST_F(StageTest, ConcurrentMovesAllCount)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int k = 0; k < 500; ++k) QflMoveRelative(t % 2 + 1, t < 2 ? 3 : -1);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(qflsim::position(1), 500 * 3 - 500);
    EXPECT_EQ(qflsim::position(2), 500 * 3 - 500);
    EXPECT_EQ(bench::axisCounts(1), 1000);
    EXPECT_EQ(qflsim::callLog().size(), 2000u);
}

TEST(StageOpen, OpenCanBeMadeToFailAndThenNothingMoves)
{
    qflsim::reset();
    qflsim::setOpenFails(true);
    EXPECT_EQ(QflOpen(), 0);
    EXPECT_FALSE(qflsim::isOpen());
    // The program goes on calling the controller; every call is refused and logged.
    EXPECT_EQ(QflConfigure(9), 0);
    EXPECT_EQ(QflInitialize(), 0);
    EXPECT_EQ(QflSelectAxis(1), 0);
    EXPECT_EQ(QflMoveRelative(1, 10), 0);
    EXPECT_EQ(QflExecute(1), 0);
    EXPECT_EQ(qflsim::position(1), 0);
    EXPECT_EQ(bench::axisCounts(1), 0);
    char reply[128];
    EXPECT_EQ(QflCommand("GH", reply), 0);
    EXPECT_STREQ(reply, "ERR not open");
    EXPECT_EQ(qflsim::callLog(), (std::vector<std::string>{"QflOpen()", "QflConfigure(9)", "QflInitialize()",
                                                          "QflSelectAxis(1)", "QflMoveRelative(1, 10)",
                                                          "QflExecute(1)", "QflCommand(\"GH\")"}));
    // Switching the failure off lets the next open succeed; reset clears the switch too.
    qflsim::setOpenFails(false);
    EXPECT_NE(QflOpen(), 0);
    EXPECT_TRUE(qflsim::isOpen());
    qflsim::setOpenFails(true);
    qflsim::reset();
    EXPECT_FALSE(qflsim::isOpen());
    EXPECT_NE(QflOpen(), 0);
    qflsim::reset();
}

TEST(StageReset, ResetPutsEveryAxisBackAtZeroOnTheBench)
{
    qflsim::reset();
    ASSERT_NE(QflOpen(), 0);
    char reply[128];
    QflMoveRelative(3, 77);
    QflCommand("3DH", reply);
    QflMoveRelative(3, 5);
    qflsim::reset();
    EXPECT_EQ(qflsim::absolutePosition(3), 0);
    EXPECT_EQ(qflsim::position(3), 0);
    EXPECT_EQ(bench::axisCounts(3), 0);
    EXPECT_TRUE(qflsim::callLog().empty());
}

}  // namespace
