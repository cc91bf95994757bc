#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "inthooks.h"
#include "w32sync.h"
#include "w32thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::BoardSpec;
using boardsim::Topology;

namespace {

constexpr uint32_t kNode = 0x11;

HlcNodeLink g_link;
std::mutex g_mutex;
std::vector<uint32_t> g_calls;            // source of each call, in order
std::vector<DWORD> g_callThreads;
std::atomic<int> g_runtimeStarts{0}, g_exits{0};
std::atomic<DWORD> g_runtimeThread{0}, g_exitThread{0};
std::atomic<int> g_pending{0};            // pending count of the bound signal
std::vector<int32_t> g_signalled, g_checked;
std::vector<int> g_priorities;
std::atomic<bool> g_block{false};

HlcNodeLink* Link(uint32_t node)
{
    return node == kNode ? &g_link : nullptr;
}
int Runtime(uint32_t node)
{
    EXPECT_EQ(node, kNode);
    ++g_runtimeStarts;
    g_runtimeThread = GetCurrentThreadId();
    return 0;
}
void Exit()
{
    ++g_exits;
    g_exitThread = GetCurrentThreadId();
}
int Priority(int p)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_priorities.push_back(p);
    return 7;
}
int32_t Signal(uint32_t, uint32_t source)
{
    return source == 2 ? 44 : -1;   // only source 2 of the special group is bound
}
int TakePending(uint32_t, uint32_t source)
{
    if (source != 2 || g_pending <= 0) return 0;
    --g_pending;
    return 1;
}
void SemaSignal(uint32_t, int32_t signal)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_signalled.push_back(signal);
}
int32_t SemaCheck(uint32_t, int32_t signal)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_checked.push_back(signal);
    return 0;
}

void Record(_HALCYRA_HOOK_LIST* list)
{
    // Blocked while a test holds it, 5 s at most.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_block && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back(HalcyraGetHookInterruptType(list));
    g_callThreads.push_back(GetCurrentThreadId());
}
void Other(_HALCYRA_HOOK_LIST* list)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back(1000 + HalcyraGetHookInterruptType(list));
}

size_t Calls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls.size();
}

bool WaitForCalls(size_t n)
{
    for (int i = 0; i < 4000 && Calls() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Calls() >= n;
}

class InterruptHookTest : public ::testing::Test {
protected:
    void SetUp() override { Use(true, false); }
    void TearDown() override
    {
        g_block = false;
        HalcyraHookInterruptFunction(kNode, nullptr, -1, nullptr, nullptr);
        EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
        EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
        if (g_link.device != kInvalidDevice) DeviceClose(g_link.device);
        board_.reset();
        host_.reset();
    }
    void Use(bool primary, bool display, boardsim::ClockMode clock = boardsim::ClockMode::FreeRunning)
    {
        Topology t;
        t.clock = clock;
        t.boards[0].primaryOrlo = primary;
        t.boards[0].displayOrlo = display;
        BoardSim::instance().configure(t);
        g_link = HlcNodeLink{};
        g_link.node = kNode;
        g_link.device = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(g_link.device, kInvalidDevice);
        if (primary) {
            ASSERT_TRUE(HlcDrvMap(g_link.device, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000,
                                  &g_link.primaryOrloRegs));
        }
        if (display) {
            ASSERT_TRUE(HlcDrvMap(g_link.device, nullptr, kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000,
                                  &g_link.displayOrloRegs));
        }
        HlcWireLibrary();
        host_.emplace();
        host_->table.nodeLink = Link;
        ASSERT_EQ(host_->Install(), 0);
        board_.emplace();
        HlcBoardHooks& board = board_->table;
        board.initNodeRuntime = Runtime;
        board.exitTasking = Exit;
        // The node runtime's end is only the task kernel's end here (the table's member).
        board.exitNodeRuntime = HlcBuiltinBoardHooks().exitNodeRuntime;
        board.setTaskPriority = Priority;
        board.getSignal = Signal;
        board.takeSignalPending = TakePending;
        board.semaSignal = SemaSignal;
        board.semaCheck = SemaCheck;
        ASSERT_EQ(board_->Install(), 0);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_calls.clear();
        g_callThreads.clear();
        g_signalled.clear();
        g_checked.clear();
        g_priorities.clear();
        g_runtimeStarts = g_exits = 0;
        g_pending = 0;
    }
    std::optional<HlcHostHookOverride> host_;
    std::optional<HlcBoardHookOverride> board_;
};

// ---------------------------------------------------------------- sources

TEST_F(InterruptHookTest, RefusesSourcesOutsideTheGroups)
{
    for (int32_t s : {0, 31, 96, 100, 159, 161, 500})
        EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, s, nullptr, nullptr), 1) << s;
    EXPECT_EQ(HalcyraHookInterruptFunction(0x22, Record, 40, nullptr, nullptr), 1); // no such node
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 70, nullptr, nullptr), 1); // no display Orlo
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(HalcyraGetHookList(kNode, 100), nullptr);
}

TEST_F(InterruptHookTest, PrimarySourceNeedsThePrimaryOrlo)
{
    Use(false, true);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 1);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 70, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 160, nullptr, nullptr), 0);
    EXPECT_NE(HalcyraGetHookList(kNode, 70), nullptr);
}

// ---------------------------------------------------------------- threads

TEST_F(InterruptHookTest, FirstHookStartsBothThreadsAndLastUnhookStopsThem)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    _HALCYRA_ISR_INFO* context = HalcyraGetIsrInfo(kNode);
    ASSERT_NE(context, nullptr);
    EXPECT_NE(context->processThread, nullptr);
    EXPECT_NE(context->interruptThread, nullptr);
    EXPECT_EQ(g_runtimeStarts.load(), 1);
    EXPECT_EQ(g_runtimeThread.load(), context->processThreadId);
    EXPECT_NE(g_runtimeThread.load(), GetCurrentThreadId());
    EXPECT_TRUE(BoardSim::instance().sourceEnabled(0, 40));
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 1); // the pended interrupt-word wait
    const DWORD processId = context->processThreadId;

    // A second source joins the same context and threads.
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 41, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), context);
    EXPECT_EQ(g_runtimeStarts.load(), 1);

    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 41, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), context);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 40, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(g_exits.load(), 1);
    EXPECT_EQ(g_exitThread.load(), processId);
    EXPECT_FALSE(BoardSim::instance().sourceEnabled(0, 40));
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
}

TEST_F(InterruptHookTest, InterruptWaitCarriesTheFirstSourceAsType)
{
    BoardSim::instance().clearRequests();
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 45, nullptr, nullptr), 0);
    bool seen = false;
    for (const auto& r : BoardSim::instance().requests())
        if (r.code == HLC_DRV_INTERRUPT_WAIT) {
            ASSERT_EQ(r.input.size(), 8u);
            EXPECT_EQ(r.input[0], 45);
            EXPECT_EQ(r.outSize, 520u);
            seen = true;
        }
    EXPECT_TRUE(seen);
}

TEST_F(InterruptHookTest, RefusedInterruptWaitUndoesTheHook)
{
    BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT, -1);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 1);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_FALSE(BoardSim::instance().sourceEnabled(0, 40));
    EXPECT_EQ(g_exits.load(), 1); // the process thread had started and was stopped again
    BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT, 0);
}

TEST_F(InterruptHookTest, RefusedSourceEnableStartsNoThread)
{
    BoardSim::instance().failRequests(HLC_DRV_SOURCE_ENABLE, 1);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 1);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(g_runtimeStarts.load(), 0);
}

TEST_F(InterruptHookTest, DriverFailureEndsTheInterruptThreadButKeepsItsWords)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    _HALCYRA_ISR_INFO* context = HalcyraGetIsrInfo(kNode);
    BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT, -1);
    BoardSim::instance().postInterruptWords(0, {(1u << 22) | (1u << 8), (1u << 22) | (1u << 8)});
    ASSERT_TRUE(WaitForCalls(2));
    EXPECT_EQ(WaitForSingleObject(context->interruptThread, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(context->driverFailed.load(), 1u);
    BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT, 0);
    // Unhooking still stops the process thread and frees everything.
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 40, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(g_exits.load(), 1);
}

TEST_F(InterruptHookTest, ShutDownWhileWordsArePending)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    g_block = true;
    for (int i = 0; i < 20; ++i) BoardSim::instance().raiseInterrupt(0, 40);
    std::thread release([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_block = false;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, -1, nullptr, nullptr), 0);
    release.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    EXPECT_LE(Calls(), 20u);
}

// ---------------------------------------------------------------- the stop wait on the library clock

std::atomic<bool> g_stuck{false};     // the exit hook below holds the process thread

// The process thread's last call on its way out: stays while a test holds it, 20 s at most.
void StuckExit()
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_stuck && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(InterruptHookTest, VirtualClockThreadThatNeverEndsIsGivenUpAfterTenSeconds)
{
    Use(true, false, boardsim::ClockMode::Virtual);
    board_->table.exitTasking = StuckExit;
    ASSERT_EQ(board_->Install(), 0);
    BoardSim& sim = BoardSim::instance();
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    g_stuck = true;
    const double start = sim.now();
    const auto real = std::chrono::steady_clock::now();
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 40, nullptr, nullptr), 0);
    const double waited = sim.now() - start;
    const double realWaited = std::chrono::duration<double>(std::chrono::steady_clock::now() - real).count();
    g_stuck = false;
    EXPECT_GE(waited, 10.0);
    EXPECT_LT(waited, 10.5);   // the interrupt thread ends within a few slices
    EXPECT_LT(realWaited, 3.0);
    // Given up: the source is disabled and the node has no context any more.
    EXPECT_FALSE(sim.sourceEnabled(0, 40));
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
}

TEST_F(InterruptHookTest, VirtualClockThreadsThatEndAreNotGivenUp)
{
    Use(true, false, boardsim::ClockMode::Virtual);
    BoardSim& sim = BoardSim::instance();
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    const double start = sim.now();
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 40, nullptr, nullptr), 0);
    EXPECT_LT(sim.now() - start, 5.0);
    EXPECT_EQ(g_exits.load(), 1);
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
    EXPECT_FALSE(sim.sourceEnabled(0, 40));
}

// ---------------------------------------------------------------- dispatch

TEST_F(InterruptHookTest, PlainWordCallsTheSourcesLowestFirst)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 33, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 32, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Other, 32, nullptr, nullptr), 0);
    BoardSim::instance().postInterruptWords(0, {(1u << 22) | 3u | (1u << 5)}); // 37 has no list
    ASSERT_TRUE(WaitForCalls(3));
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_calls, (std::vector<uint32_t>{32, 1032, 33}));
    EXPECT_EQ(g_callThreads[0], HalcyraGetIsrInfo(kNode)->processThreadId);
    // Each hook without a semaphore consumes the source's driver semaphore first.
    EXPECT_EQ(g_checked, (std::vector<int32_t>{32, 32, 33}));
    // Priority 21 around each source, the old one restored after it.
    EXPECT_EQ(g_priorities, (std::vector<int>{21, 7, 21, 7}));
}

TEST_F(InterruptHookTest, RaisedInterruptsArriveInOrderAcrossManyWaits)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 41, nullptr, nullptr), 0);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(BoardSim::instance().raiseInterrupt(0, i % 2 ? 41 : 40));
    ASSERT_TRUE(WaitForCalls(100));
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(g_calls[i], i % 2 ? 41u : 40u) << i;
}

TEST_F(InterruptHookTest, SpecialWordWithoutSource160ListCallsNothing)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 32, nullptr, nullptr), 0);
    BoardSim::instance().postInterruptWords(0, {0x80000003u, (1u << 22) | 1u});
    ASSERT_TRUE(WaitForCalls(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_calls, (std::vector<uint32_t>{32}));
}

TEST_F(InterruptHookTest, SpecialWordSignalsBoundSourcesAndCallsSource160)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, HalcyraListOnly(), 160, nullptr, nullptr), 0);
    _HALCYRA_HOOK_LIST* list = HalcyraGetHookList(kNode, 160);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(HalcyraGetNextHookFunction(list, nullptr), nullptr); // the list alone
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 160, nullptr, nullptr), 0);
    g_pending = 1;
    ASSERT_TRUE(BoardSim::instance().raiseSpecial(0, 0, 0x6)); // sources 1 and 2
    ASSERT_TRUE(WaitForCalls(2));
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_calls, (std::vector<uint32_t>{160, 160}));
    EXPECT_EQ(g_signalled, (std::vector<int32_t>{2}));   // by its number, not its handle
    EXPECT_EQ(g_pending.load(), 0);
    EXPECT_EQ(g_checked, (std::vector<int32_t>{1})); // source 2 has its bound signal
}

// ---------------------------------------------------------------- records and queries

TEST_F(InterruptHookTest, SemaphoresAreCreatedOrTakenAsGiven)
{
    HANDLE created = nullptr;
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 50, &created, reinterpret_cast<void*>(0x1234)), 0);
    EXPECT_NE(created, nullptr);
    HANDLE mine = CreateSemaphoreA(0, 4);
    HANDLE given = mine;
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Other, 50, &given, nullptr), 0);
    EXPECT_EQ(given, mine);

    _HALCYRA_HOOK_LIST* list = HalcyraGetHookList(kNode, 50);
    ASSERT_NE(list, nullptr);
    _HALCYRA_HOOK_REC* cursor = nullptr;
    _HALCYRA_HOOK_REC* first = HalcyraGetNextHookFunction(list, &cursor);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(cursor, first);
    EXPECT_EQ(HalcyraGetFuncPtr(first), &Record);
    EXPECT_EQ(HalcyraGetHandleEvent(first), created);
    EXPECT_EQ(HalcyraGetUsrDataPtr(first), reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(HalcyraGetInterruptType(first), 50u);
    _HALCYRA_HOOK_REC* second = HalcyraGetNextHookFunction(list, &cursor);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(HalcyraGetFuncPtr(second), &Other);
    EXPECT_EQ(HalcyraGetHandleEvent(second), mine);
    EXPECT_EQ(HalcyraGetNextHookFunction(list, &cursor), nullptr);

    // The created semaphore works and a hook with a semaphore skips the driver check.
    EXPECT_TRUE(ReleaseSemaphore(created, 1, nullptr));
    BoardSim::instance().raiseInterrupt(0, 50);
    ASSERT_TRUE(WaitForCalls(2));
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_TRUE(g_checked.empty());
}

TEST_F(InterruptHookTest, OneFunctionStandsOncePerSource)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 60, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 60, nullptr, nullptr), 0);
    _HALCYRA_HOOK_LIST* list = HalcyraGetHookList(kNode, 60);
    int n = 0;
    for (_HALCYRA_HOOK_REC* c = nullptr; HalcyraGetNextHookFunction(list, &c);) ++n;
    EXPECT_EQ(n, 1);
}

TEST_F(InterruptHookTest, QueriesAnswerZeroForNothing)
{
    EXPECT_EQ(HalcyraGetNextHookFunction(nullptr, nullptr), nullptr);
    EXPECT_EQ(HalcyraGetHandleEvent(nullptr), nullptr);
    EXPECT_EQ(HalcyraGetFuncPtr(nullptr), nullptr);
    EXPECT_EQ(HalcyraGetUsrDataPtr(nullptr), nullptr);
    EXPECT_EQ(HalcyraGetHookInterruptType(nullptr), 0u);
    EXPECT_EQ(HalcyraGetInterruptType(nullptr), 0u);
    EXPECT_EQ(HalcyraGetHookList(kNode, 40), nullptr);
    EXPECT_EQ(ScanAndSetHalcyraHookList(kNode, nullptr, 40, nullptr, nullptr), nullptr);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, 40, nullptr, nullptr), 0);
}

TEST_F(InterruptHookTest, UnhookingEverythingCoversSources32To160)
{
    Use(true, true);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 32, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 95, nullptr, nullptr), 0);
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 160, nullptr, nullptr), 0);
    EXPECT_EQ(HalcyraHookInterruptFunction(kNode, nullptr, -1, nullptr, nullptr), 0);
    for (int32_t s : {32, 95, 160}) EXPECT_EQ(HalcyraGetHookList(kNode, s), nullptr) << s;
    EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
}

TEST_F(InterruptHookTest, FullRingKeepsUnreadWordsAndCountsTheRest)
{
    ASSERT_EQ(HalcyraHookInterruptFunction(kNode, Record, 40, nullptr, nullptr), 0);
    // Taken before the words arrive: the lookup waits for the hook lock, which the process
    // thread holds while the blocked hook runs.
    _HALCYRA_ISR_INFO* context = HalcyraGetIsrInfo(kNode);
    ASSERT_NE(context, nullptr);
    g_block = true;
    std::vector<uint32_t> words(300, (1u << 22) | (1u << 8));
    BoardSim::instance().postInterruptWords(0, words);
    for (int i = 0; i < 4000 && context->writeIndex.load() + context->lostWords.load() < 300; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint32_t lost = context->lostWords.load();
    EXPECT_TRUE(lost == 43 || lost == 44) << lost;
    g_block = false;
    ASSERT_TRUE(WaitForCalls(300 - lost));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Calls(), 300u - lost);
}

} // namespace
