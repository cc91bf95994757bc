// A host-served node brought up by the library's own code on the simulated board: the
// global state, the runtime on the node's interrupt process thread, commands answered
// through the real doorbell, interrupt words, ring server, command server and reply path,
// and the shut-down that leaves nothing behind.
#include "nodeinit.h"
#include "syncobj.h"

#include "../../host/ll/initest.h"
#include "../../testwait.h"

#include "bufid.h"
#include "cmdserver.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "inthooks.h"
#include "nodelist.h"

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kMain = 0x40000010u | (kNode << 16);
constexpr const char* kIni = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class NodeRuntimeTest : public initest::IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        ASSERT_EQ(imNodeSt, nullptr);
        WriteIni(kIni);
    }
    void TearDown() override
    {
        if (mp_sys_node_resource_ptr(kNode)) im_board_shutdown(kNode << 16);
        mp_exit_global();
        IniTest::TearDown();
    }
    // The global start-up, then the board brought up with its processor left out: the
    // host serves the node.
    void BringUp()
    {
        ASSERT_EQ(mp_init_halcyra(0), 0);
        ASSERT_NE(imNodeSt, nullptr);
        _NODE_MAIN_RESOURCE_ST record{};
        ASSERT_EQ(im_board_init(0, 0, nullptr, 3, &record), -3);
        ASSERT_NE(mp_sys_node_resource_ptr(kNode), nullptr);
    }
    static uint32_t RingHeader(uint32_t word)
    {
        return RingHeaderWord(mp_sys_node_resource_ptr(kNode)->ringHeader, word);
    }
    static void ExpectRoundTrip()
    {
        uint32_t sync = 0;
        ASSERT_NE(imSyncAlloc(kMain, &sync), 0u);
        // The object keeps its done state after the wait (no re-arming).
        EXPECT_EQ(imSyncControl(kMain, sync, kSyncControlMode, 2), 0);
        EXPECT_EQ(imThrNop(kMain, sync), 0);
        EXPECT_EQ(imSyncHost(kMain, sync, kSyncDone), 50);
        EXPECT_EQ(imSyncFree(kMain, sync), 0);
        EXPECT_EQ(im_Application.error.code, 0) << im_Application.messageBuffer;
    }
};

TEST_F(NodeRuntimeTest, GlobalStartUpMakesTheTimeOutTableOnce)
{
    ASSERT_EQ(mp_init_halcyra(0), 0);
    _NODE_ST* first = imNodeSt;
    ASSERT_NE(first, nullptr);
    const double expected[11] = {5.0, 5.0, 1.0, 15.0, 15.0, 15.0, 0.0, -1.0, 0.0, 0.0, 5.0};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(first->timeouts[i], expected[i]) << "entry " << i;
    EXPECT_EQ(mp_sys_timeout(3), 15.0);
    EXPECT_EQ(mp_init_halcyra(0), 0);
    EXPECT_EQ(imNodeSt, first);
    mp_exit_global();
    EXPECT_EQ(imNodeSt, nullptr);
}

TEST_F(NodeRuntimeTest, HostServedNodeAnswersThroughTheDoorbellAndInterruptPath)
{
    BringUp();
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(kNode);
    // The runtime made the ring, the shell semaphores and the interrupt threads; the ring
    // server announced itself.
    EXPECT_NE(record->ringHeader, 0u);
    EXPECT_NE(record->commRing, 0u);
    EXPECT_EQ(RingHeader(kRingSlots), kHostRingSlots);
    EXPECT_EQ(record->nodeState->commState, 1);
    EXPECT_NE(record->nodeState->bufferSema, 0);
    EXPECT_NE(HalcyraGetIsrInfo(kNode), nullptr);
    // The board-to-host message handler is hooked on source 33, not on the special source.
    EXPECT_NE(HalcyraGetNextHookFunction(HalcyraGetHookList(kNode, 33), nullptr), nullptr);
    EXPECT_EQ(HalcyraGetNextHookFunction(HalcyraGetHookList(kNode, 160), nullptr), nullptr);

    boardsim::BoardSim::instance().setTracing(true);
    const uint32_t served = RingHeader(kRingServed);
    ExpectRoundTrip();
    // The served count rises after each reply: the last one may still be on its way.
    EXPECT_TRUE(testwait::WaitUntil([&] { return RingHeader(kRingServed) >= served + 5; }));
    // Every command rang the host doorbell; the replies rang the board-to-host one.
    int doorbells = 0, replies = 0;
    for (const boardsim::HwAccess& a : boardsim::BoardSim::instance().trace()) {
        if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryRegs || a.offset != kOrloInterruptSet)
            continue;
        doorbells += a.value == 0x20;
        replies += a.value == 0x2;
    }
    EXPECT_GE(doorbells, 1);
    EXPECT_GE(replies, 1);
}

TEST_F(NodeRuntimeTest, ShutDownLeavesNothingAndASecondBringUpWorks)
{
    BringUp();
    ExpectRoundTrip();
    EXPECT_EQ(im_board_shutdown(kNode << 16), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(mp_sys_opened_node(), 0);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_TRUE(boardsim::BoardSim::instance().dmaBuffers().empty());

    BringUp();
    ExpectRoundTrip();
}

} // namespace
