// The library's wiring: every table between the layers filled with the library's own
// functions, the same tables on every wiring, the overrides that tests use, and the
// wired tables at work over the core's node list.
#include "hlc_wiring.h"
#include "nodeinit.h"

#include "boardsim.h"
#include "cmdserver.h"
#include "disphooks.h"
#include "driverreq.h"
#include "dispops.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodelist.h"
#include "procstubs.h"
#include "syncobj.h"
#include "task.h"
#include "thread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace {

using Member = void (*)();

// The members of a table as words, in declaration order.
template <typename Table>
std::vector<Member> Members(const Table& table)
{
    std::vector<Member> members(sizeof(Table) / sizeof(Member));
    std::memcpy(members.data(), &table, sizeof table);
    return members;
}

// Positions whose wired member is still the built-in one.
template <typename Table>
std::vector<size_t> BuiltinPositions(const Table& wired, const Table& builtin)
{
    const std::vector<Member> w = Members(wired), b = Members(builtin);
    std::vector<size_t> same;
    for (size_t i = 0; i < w.size(); ++i)
        if (w[i] == b[i]) same.push_back(i);
    return same;
}

template <typename Table, typename Field>
size_t PositionOf(Field Table::*field)
{
    static const Table probe{};
    return static_cast<size_t>(reinterpret_cast<const char*>(&(probe.*field)) -
                               reinterpret_cast<const char*>(&probe)) /
           sizeof(Member);
}

template <typename Table>
bool SameTable(const Table& a, const Table& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void NoPrint(const char*) {}
double TenSeconds(int)
{
    return 10.0;
}
HlcDisplayLink* NoDisplay(uint32_t)
{
    return nullptr;
}

// ---------------------------------------------------------------- the wired tables

TEST(WiringTest, LoadingTheLibraryWiresEveryTable)
{
    // No call yet in this test: the library wired itself when it was loaded.
    EXPECT_EQ(HlcGetBoardHooks().sleep, mp_time_sleep);
    EXPECT_EQ(HlcGetBoardHooks().interruptSend, mp_interrupt_send);
    EXPECT_NE(mp_opcode[kOpSyncAlloc], mp_InvalidOpcode);
    EXPECT_NE(mp_opcode[kOpThrAlloc], mp_InvalidOpcode);
}

TEST(WiringTest, EveryMemberOfEveryTableIsSet)
{
    HlcWireLibrary();
    EXPECT_TRUE(HlcEveryMemberSet(HlcGetHostHooks()));
    EXPECT_TRUE(HlcEveryMemberSet(HlcGetBoardHooks()));
    EXPECT_TRUE(HlcEveryMemberSet(HlcGetDisplayHooks()));
}

TEST(WiringTest, EveryMemberIsTheLibrarysOwn)
{
    HlcWireLibrary();
    EXPECT_TRUE(BuiltinPositions(HlcGetHostHooks(), HlcBuiltinHostHooks()).empty());
    EXPECT_TRUE(BuiltinPositions(HlcGetBoardHooks(), HlcBuiltinBoardHooks()).empty());
    EXPECT_EQ(HlcGetBoardHooks().initNodeRuntime, mp_init_halcyra);
    EXPECT_EQ(HlcGetBoardHooks().exitNodeRuntime, HlcExitNodeRuntime);
    EXPECT_EQ(HlcGetBoardHooks().hookMessageHandler, im_msg_hook_handler);
    EXPECT_TRUE(BuiltinPositions(HlcGetDisplayHooks(), HlcBuiltinDisplayHooks()).empty());
}

TEST(WiringTest, BoardMembersAreTheCoresServices)
{
    HlcWireLibrary();
    const HlcBoardHooks& b = HlcGetBoardHooks();
    EXPECT_EQ(b.setTaskPriority, TaskSetPriority);
    EXPECT_EQ(b.timeout, mp_sys_timeout);
    EXPECT_EQ(b.sleep, mp_time_sleep);
    EXPECT_EQ(b.interruptSend, mp_interrupt_send);
    EXPECT_EQ(b.takeSignalPending, mp_interrupt_take_pending);
    EXPECT_EQ(b.resetHaltBoard, mp_sys_rst_hlt_board);
    EXPECT_EQ(b.startLocalCpu, mp_sys_start_local_cpu);
    EXPECT_EQ(b.externalBoardId, mp_sys_external_board_id);
    // The built-in timeouts answer without a node state; the core's come from its table.
    EXPECT_EQ(b.timeout(3), 15.0);
    EXPECT_EQ(HlcBuiltinBoardHooks().timeout(3), -1.0);
}

TEST(WiringTest, WiringAgainGivesTheSameTablesAndPutsReplacedMembersBack)
{
    HlcWireLibrary();
    const HlcHostHooks host = HlcGetHostHooks();
    const HlcBoardHooks board = HlcGetBoardHooks();
    const HlcDisplayHooks display = HlcGetDisplayHooks();
    HlcBoardHooks changed = board;
    changed.timeout = TenSeconds;
    ASSERT_EQ(HlcSetBoardHooks(changed), 0);
    mp_server_set_handler(kOpSyncAlloc, nullptr);
    HlcWireLibrary();
    EXPECT_TRUE(SameTable(HlcGetHostHooks(), host));
    EXPECT_TRUE(SameTable(HlcGetBoardHooks(), board));
    EXPECT_TRUE(SameTable(HlcGetDisplayHooks(), display));
    EXPECT_EQ(mp_opcode[kOpSyncAlloc], mp_SyncAlloc);
    EXPECT_EQ(mp_opcode[kOpThrAlloc], mp_ThrAlloc);
    for (uint32_t opcode : kProcStubOpcodes) EXPECT_EQ(mp_opcode[opcode], mp_InvalidOpcode) << opcode;
}

TEST(WiringTest, WiringAfterAResetFillsTheWholeOpcodeTableAgain)
{
    HlcWireLibrary();
    const std::vector<MpHandler> wired(mp_opcode, mp_opcode + mp_max_opcode);
    size_t served = 0;
    for (uint32_t op = 0; op < mp_max_opcode; ++op) {
        EXPECT_NE(wired[op], nullptr) << op;
        if (wired[op] != mp_InvalidOpcode) ++served;
    }
    // The thread, sync, device, system, buffer and copy handlers at least.
    EXPECT_GT(served, 20u);
    mp_server_reset_handlers();
    EXPECT_EQ(mp_opcode[kOpThrAlloc], mp_InvalidOpcode);
    HlcWireLibrary();
    for (uint32_t op = 0; op < mp_max_opcode; ++op) EXPECT_EQ(mp_opcode[op], wired[op]) << op;
    for (uint32_t op = 0; op < mp_max_opcode_user; ++op) EXPECT_NE(mp_opcode_user[op], nullptr) << op;
}

// What the tables held when main began, before any test wired them.
struct AtStart : ::testing::Environment {
    void SetUp() override
    {
        threadAlloc = mp_opcode[kOpThrAlloc];
        boardTimeout = HlcGetBoardHooks().timeout;
    }
    static inline std::remove_reference_t<decltype(mp_opcode[0])> threadAlloc = nullptr;
    static inline decltype(HlcGetBoardHooks().timeout) boardTimeout = nullptr;
};
const auto* const g_atStart = ::testing::AddGlobalTestEnvironment(new AtStart);

// A program that links the wiring is wired before main, as the library is when it is
// loaded: no lower layer calls up into the wiring for it.
TEST(WiringTest, AProgramThatLinksTheWiringIsWiredBeforeMain)
{
    EXPECT_NE(AtStart::threadAlloc, mp_InvalidOpcode);
    EXPECT_NE(AtStart::boardTimeout, HlcBuiltinBoardHooks().timeout);
    HlcWireLibrary();
    EXPECT_EQ(AtStart::threadAlloc, mp_opcode[kOpThrAlloc]);
    EXPECT_EQ(AtStart::boardTimeout, HlcGetBoardHooks().timeout);
}

// ---------------------------------------------------------------- setters and overrides

TEST(WiringTest, SettersRefuseTablesWithAMissingMember)
{
    HlcWireLibrary();
    const HlcHostHooks wiredHost = HlcGetHostHooks();
    HlcHostHooks host = wiredHost;
    host.print = nullptr;
    EXPECT_EQ(HlcSetHostHooks(host), -1);
    EXPECT_TRUE(SameTable(HlcGetHostHooks(), wiredHost));

    const HlcBoardHooks wiredBoard = HlcGetBoardHooks();
    HlcBoardHooks board = wiredBoard;
    board.sleep = nullptr;
    EXPECT_EQ(HlcSetBoardHooks(board), -1);
    EXPECT_TRUE(SameTable(HlcGetBoardHooks(), wiredBoard));

    HlcDisplayHooks display = HlcGetDisplayHooks();
    display.nodeList = nullptr;
    EXPECT_EQ(HlcSetDisplayHooks(display), -1);
    EXPECT_NE(HlcGetDisplayHooks().nodeList, nullptr);
}

TEST(WiringTest, BoardProcessorMembersAndTheMessageHandlerMayBeLeftToTheBuiltInSequences)
{
    HlcWireLibrary();
    HlcBoardHookOverride board;
    board.table.resetHaltBoard = nullptr;
    board.table.startLocalCpu = nullptr;
    board.table.lockCheck = nullptr;
    board.table.lockReset = nullptr;
    board.table.hookMessageHandler = nullptr;
    EXPECT_EQ(board.Install(), 0);
    EXPECT_EQ(HlcGetBoardHooks().lockCheck, nullptr);
}

TEST(WiringTest, OverridesPutTheWiredTablesBackWhenTheyGo)
{
    HlcWireLibrary();
    const HlcHostHooks host = HlcGetHostHooks();
    const HlcDisplayHooks display = HlcGetDisplayHooks();
    {
        HlcHostHookOverride h;
        h.table.print = NoPrint;
        ASSERT_EQ(h.Install(), 0);
        HlcDisplayHookOverride d;
        d.table.displayLink = NoDisplay;
        ASSERT_EQ(d.Install(), 0);
        EXPECT_EQ(HlcGetHostHooks().print, NoPrint);
        EXPECT_EQ(HlcGetHostHooks().nodeLink, host.nodeLink);
        EXPECT_EQ(HlcGetDisplayHooks().displayLink, NoDisplay);
    }
    EXPECT_TRUE(SameTable(HlcGetHostHooks(), host));
    EXPECT_TRUE(SameTable(HlcGetDisplayHooks(), display));
}

TEST(WiringTest, AnOverrideWithAMissingMemberLeavesTheTableAsItWas)
{
    HlcWireLibrary();
    const HlcHostHooks host = HlcGetHostHooks();
    HlcHostHookOverride h;
    h.table.nodeLink = nullptr;
    EXPECT_EQ(h.Install(), -1);
    EXPECT_TRUE(SameTable(HlcGetHostHooks(), host));
}

// ---------------------------------------------------------------- at work on the node list

constexpr uint32_t kNode = 0x12;       // system 0, board 1
constexpr uint32_t kOther = 0x23;      // system 1, board 2

class WiredNodeListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
        // The node list takes the blocks and frees them when the nodes are removed.
        block_ = new _NODE_ST{};
        ASSERT_EQ(HlcGetBoardHooks().insertNode(kNode, block_, nullptr), 0);
        ASSERT_EQ(HlcGetBoardHooks().insertNode(kOther, new _NODE_ST{}, nullptr), 0);
        record_ = mp_sys_node_resource_ptr(kNode);
        other_ = mp_sys_node_resource_ptr(kOther);
        ASSERT_NE(record_, nullptr);
        ASSERT_NE(other_, nullptr);
    }
    void TearDown() override
    {
        if (device_ != kInvalidDevice) DeviceClose(device_);
        mp_core_forget_nodes();
        HlcGetBoardHooks().removeNode(kNode);
        HlcGetBoardHooks().removeNode(kOther);
        imNodeSt = nullptr;
    }
    DeviceHandle device_ = kInvalidDevice;
    std::unique_ptr<_NODE_ST> global_;
    _NODE_ST* block_ = nullptr;
    _NODE_MAIN_RESOURCE_ST* record_ = nullptr;
    _NODE_MAIN_RESOURCE_ST* other_ = nullptr;
};

TEST_F(WiredNodeListTest, NodeLinkShowsTheListedRecord)
{
    other_->primaryRegs = 0x1000;
    other_->displayRegs = 0x2000;
    // The list head holds the shared region table.
    _MP_DMA_REGION_ST regions[1] = {};
    mp_sys_own_record(imNodeSt)->dmaRegions = regions;
    const HlcNodeLink* link = HlcGetHostHooks().nodeLink(kOther);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->node, kOther);
    EXPECT_EQ(link->primaryOrloRegs, 0x1000u);
    EXPECT_EQ(link->displayOrloRegs, 0x2000u);
    EXPECT_EQ(link->device, other_->device);
    EXPECT_EQ(link->dmaRegions, regions);
    // A record with a table of its own shows that one.
    _MP_DMA_REGION_ST own[1] = {};
    other_->dmaRegions = own;
    EXPECT_EQ(HlcGetHostHooks().nodeLink(kOther)->dmaRegions, own);
    other_->dmaRegions = nullptr;
    mp_sys_own_record(imNodeSt)->dmaRegions = nullptr;
    // Bits above the node number are ignored; unknown nodes and node 0 have no view.
    EXPECT_EQ(HlcGetHostHooks().nodeLink(0x80000000u | kNode)->node, kNode);
    EXPECT_EQ(HlcGetHostHooks().nodeLink(0x44), nullptr);
    EXPECT_EQ(HlcGetHostHooks().nodeLink(0), nullptr);
}

TEST_F(WiredNodeListTest, NodeListAndDisplayViewFindTheSystemsDisplayNode)
{
    uint32_t nodes[4] = {};
    EXPECT_EQ(HlcGetDisplayHooks().nodeList(nodes, 4), 2u);
    EXPECT_EQ(nodes[0], kNode);
    EXPECT_EQ(nodes[1], kOther);
    EXPECT_EQ(HlcGetDisplayHooks().nodeList(nodes, 1), 1u);

    uint32_t found = 99;
    EXPECT_EQ(mp_disp_get_node_id(0, 0, &found), -1);   // no display chip yet
    EXPECT_EQ(found, 0u);
    block_->chip.present = 1;
    record_->chipRegs = 0x3000;
    EXPECT_EQ(mp_disp_get_node_id(0, 0, &found), 0);
    EXPECT_EQ(found, kNode);
    EXPECT_EQ(mp_disp_get_node_id(1, 0, &found), -1);

    const HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(kNode);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->accessMode, 1u);
    EXPECT_EQ(link->chipRegs, 0x3000u);
    EXPECT_EQ(link->state, reinterpret_cast<int32_t*>(block_));
    record_->accessMode = 1;   // driver requests
    EXPECT_EQ(HlcGetDisplayHooks().displayLink(kNode)->accessMode, 0u);
    EXPECT_EQ(HlcGetDisplayHooks().displayLink(0x44), nullptr);
}

TEST_F(WiredNodeListTest, RemovedNodesLeaveTheViews)
{
    EXPECT_EQ(HlcGetBoardHooks().removeNode(kOther), 0);
    EXPECT_EQ(HlcGetBoardHooks().nodeResource(kOther), nullptr);
    EXPECT_EQ(HlcGetHostHooks().nodeLink(kOther), nullptr);
    EXPECT_EQ(HlcGetDisplayHooks().displayLink(kOther), nullptr);
    uint32_t nodes[4] = {};
    EXPECT_EQ(HlcGetDisplayHooks().nodeList(nodes, 4), 1u);
    EXPECT_EQ(nodes[0], kNode);
}

TEST_F(WiredNodeListTest, DriverSemaphoresGoThroughTheListedNodesDevice)
{
    boardsim::BoardSim::instance().configure(boardsim::Topology{});
    device_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
    ASSERT_NE(device_, kInvalidDevice);
    other_->device = device_;
    const HlcBoardHooks& b = HlcGetBoardHooks();
    EXPECT_EQ(b.semaCheck(kOther, 33), 0);
    b.semaSignal(kOther, 33);
    b.semaSignal(kOther, 33);
    EXPECT_EQ(boardsim::BoardSim::instance().driverSemaphore(0, 33), 2u);
    EXPECT_EQ(b.semaCheck(kOther, 33), 1);   // one count taken
    EXPECT_EQ(boardsim::BoardSim::instance().driverSemaphore(0, 33), 1u);
    b.semaReset(kOther, 33);
    EXPECT_EQ(b.semaCheck(kOther, 33), 0);
    EXPECT_EQ(b.semaCheck(0x44, 33), -1);    // no such node
}

TEST(WiringTest, NoNodeStateMeansNoNodesInTheViews)
{
    HlcWireLibrary();
    ASSERT_EQ(imNodeSt, nullptr);
    uint32_t nodes[2] = {};
    EXPECT_EQ(HlcGetDisplayHooks().nodeList(nodes, 2), 0u);
    EXPECT_EQ(HlcGetHostHooks().nodeLink(kNode), nullptr);
    int32_t value = 7;
    EXPECT_EQ(HlcGetHostHooks().iniReadInt(kNode, "LargestDmaBlock", &value), -1);   // no ini data
    EXPECT_EQ(value, 7);
}

} // namespace
