// The ring snooper as a program sees it, through hlclib.h and libhlclib.so: with the ring
// header's debug word set on a host-served node, the posts, receipts and completions of a
// sequence of commands are counted in the header, the last slot of each and the first slot
// that carried an error are named, and each slot is stamped with the library clock.  The
// node record's words 460 and 462 give the ring; a tool thread takes the snoop-busy bit.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kSystemThread = 0x40000010u | (kNode << 16);
// Words of the node record and of the ring header.
constexpr uint32_t kRecordRing = 460, kRecordRingHeader = 462;
constexpr uint32_t kDebug = 7, kPosted = 8, kReceived = 9, kCompleted = 10, kPosts = 11, kReceipts = 12,
                   kCompletions = 13, kFirstError = 14;
constexpr uint32_t kNone = 0xFFFFFFFFu;
// Slot byte offsets of the time stamps: completion, and posting or receipt.
constexpr uint32_t kCompletionStamp = 176, kPostStamp = 184;
// The primary Orlo's interrupt set register, whose bit 0x10 the snooper raises.
constexpr uint32_t kInterruptSet = 0x2030, kSnoopBusy = 0x10;

class SnooperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure();
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << libsandbox::LastText();
        imAppGetError(1, nullptr);
        const auto* record = reinterpret_cast<const uint32_t*>(mp_sys_node_resource_ptr(kNode));
        ASSERT_NE(record, nullptr);
        ring_ = record[kRecordRing];
        header_ = reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(record[kRecordRingHeader]));
        ASSERT_NE(ring_, 0u);
        ASSERT_NE(header_, nullptr);
        // The snooping tool: takes the busy bit back as soon as the library raises it.
        tool_ = std::thread([this] {
            const boardsim::OrloView orlo = boardsim::BoardSim::instance().orlo(0);
            while (!stop_) {
                if (collect_) {
                    // Takes the last offsets as a handshaking tool does: read, then free.
                    std::lock_guard<std::mutex> lock(taken_mutex_);
                    for (uint32_t w : {kPosted, kReceived, kCompleted}) {
                        const uint32_t v = header_[w];
                        if (v == kNone) continue;
                        taken_[w - kPosted].push_back(v);
                        header_[w] = kNone;
                    }
                }
                const uint32_t set = orlo.reg(kInterruptSet);
                if (set != kNone && (set & kSnoopBusy)) orlo.setReg(kInterruptSet, set & ~kSnoopBusy);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    void TearDown() override
    {
        if (header_) header_[kDebug] = 0;
        stop_ = true;
        if (tool_.joinable()) tool_.join();
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0);
        }
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        boardsim::BoardSim::instance().configure();
    }
    bool WaitForCompletions(uint32_t n) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (header_[kCompletions] != n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return header_[kCompletions] == n;
    }
    // The offset of the slot after the one at offset: slot i's body lies 64 + 256 i bytes
    // from the slot base.
    uint32_t Next(uint32_t offset) const
    {
        const uint32_t slots = imDevInquire(device_, 11, nullptr);
        return slots ? (offset - 64 + 256) % (256 * slots) + 64 : 0;
    }
    double Stamp(uint32_t offset, uint32_t at) const
    {
        double v = 0;
        std::memcpy(&v, reinterpret_cast<const void*>(static_cast<uintptr_t>(ring_ + offset + at)), sizeof v);
        return v;
    }

    libsandbox::Sandbox box_{"hlcsnoop"};
    uint32_t device_ = 0;
    uint32_t ring_ = 0;
    volatile uint32_t* header_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> collect_{false};
    std::mutex taken_mutex_;
    std::vector<uint32_t> taken_[3];   // offsets the tool took from words 8, 9 and 10
    std::thread tool_;
};

TEST_F(SnooperTest, PostsReceiptsAndCompletionsAreCountedAndStamped)
{
    for (uint32_t w : {kPosted, kReceived, kCompleted, kFirstError}) header_[w] = kNone;
    for (uint32_t w : {kPosts, kReceipts, kCompletions}) header_[w] = 0;
    // The node stamps on its board timer, the sender on the caller's clock: two clocks.
    const double nodeBefore = imSysClock(kSystemThread, 0.0), callerBefore = mp_time_clock(0.0);
    header_[kDebug] = 1;

    // Waited for: the node's reply and the sender's release both complete the slot.
    uint32_t id = 0;
    ASSERT_NE(imBufAlloc1d(device_, 16, 8, 6, &id), 0u) << libsandbox::LastText();
    const uint32_t allocSlot = header_[kPosted];
    EXPECT_EQ(header_[kPosts], 1u);
    ASSERT_TRUE(WaitForCompletions(2));
    EXPECT_EQ(header_[kCompleted], allocSlot);
    EXPECT_EQ(header_[kFirstError], kNone);
    // Posted only: one completion.
    EXPECT_EQ(imBufFree(device_, id), 0);
    ASSERT_TRUE(WaitForCompletions(3));
    const uint32_t freeSlot = header_[kPosted];
    EXPECT_EQ(freeSlot, Next(allocSlot));
    // A command the node refuses, waited for.
    EXPECT_EQ(imJpegAlloc(kSystemThread, 0, nullptr), 0u);
    EXPECT_EQ(imAppGetError(0, nullptr), -6);
    imAppGetError(1, nullptr);
    ASSERT_TRUE(WaitForCompletions(5));
    header_[kDebug] = 0;

    const uint32_t refusedSlot = Next(freeSlot);
    EXPECT_EQ(header_[kPosts], 3u);
    EXPECT_EQ(header_[kReceipts], 3u);
    EXPECT_EQ(header_[kCompletions], 5u);
    EXPECT_EQ(header_[kPosted], refusedSlot);
    EXPECT_EQ(header_[kReceived], refusedSlot);
    EXPECT_EQ(header_[kCompleted], refusedSlot);
    EXPECT_EQ(header_[kFirstError], refusedSlot);
    // Each clock's stamps: taken in order, within the test.  The node stamps every receipt
    // and completes the posted-only slot; the sender's release completes a waited-for one last.
    const double nodeNow = imSysClock(kSystemThread, 0.0), callerNow = mp_time_clock(0.0);
    const double nodeStamps[] = {nodeBefore,
                                 Stamp(allocSlot, kPostStamp),
                                 Stamp(freeSlot, kPostStamp),
                                 Stamp(freeSlot, kCompletionStamp),
                                 Stamp(refusedSlot, kPostStamp),
                                 nodeNow};
    const double callerStamps[] = {callerBefore, Stamp(allocSlot, kCompletionStamp),
                                   Stamp(refusedSlot, kCompletionStamp), callerNow};
    EXPECT_TRUE(std::is_sorted(std::begin(nodeStamps), std::end(nodeStamps))) << ::testing::PrintToString(nodeStamps);
    EXPECT_TRUE(std::is_sorted(std::begin(callerStamps), std::end(callerStamps)))
        << ::testing::PrintToString(callerStamps);
}

TEST_F(SnooperTest, InHandshakeModeTheToolTakesEveryOffsetBeforeTheNext)
{
    for (uint32_t w : {kPosted, kReceived, kCompleted, kFirstError}) header_[w] = kNone;
    for (uint32_t w : {kPosts, kReceipts, kCompletions}) header_[w] = 0;
    collect_ = true;
    header_[kDebug] = 2;
    uint32_t id = 0;
    ASSERT_NE(imBufAlloc1d(device_, 16, 8, 6, &id), 0u) << libsandbox::LastText();
    EXPECT_EQ(imBufFree(device_, id), 0);
    uint32_t second = 0;
    ASSERT_NE(imBufAlloc1d(device_, 8, 8, 6, &second), 0u) << libsandbox::LastText();
    ASSERT_TRUE(WaitForCompletions(5));
    header_[kDebug] = 0;
    // The last completion is written once the tool has taken the one before it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (header_[kCompleted] != kNone && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    collect_ = false;
    EXPECT_EQ(imBufFree(device_, second), 0);

    std::lock_guard<std::mutex> lock(taken_mutex_);
    const uint32_t a = taken_[0].empty() ? 0 : taken_[0][0];
    const uint32_t f = Next(a), b = Next(f);
    // Nothing written over before the tool took it: every post, receipt and completion.
    EXPECT_EQ(taken_[0], (std::vector<uint32_t>{a, f, b}));
    EXPECT_EQ(taken_[1], (std::vector<uint32_t>{a, f, b}));
    EXPECT_EQ(taken_[2], (std::vector<uint32_t>{a, a, f, b, b}));
    EXPECT_EQ(header_[kPosts], 3u);
    EXPECT_EQ(header_[kReceipts], 3u);
    EXPECT_EQ(header_[kFirstError], kNone);
}

TEST_F(SnooperTest, WithoutADebugModeNothingIsRecorded)
{
    for (uint32_t w : {kPosted, kReceived, kCompleted, kFirstError}) header_[w] = kNone;
    for (uint32_t w : {kPosts, kReceipts, kCompletions}) header_[w] = 0;
    header_[kDebug] = 0;
    uint32_t id = 0;
    ASSERT_NE(imBufAlloc1d(device_, 16, 8, 6, &id), 0u);
    EXPECT_EQ(imBufFree(device_, id), 0);
    EXPECT_EQ(imJpegAlloc(kSystemThread, 0, nullptr), 0u);
    imAppGetError(1, nullptr);
    EXPECT_EQ(header_[kPosts], 0u);
    EXPECT_EQ(header_[kCompletions], 0u);
    EXPECT_EQ(header_[kPosted], kNone);
    EXPECT_EQ(header_[kFirstError], kNone);
}

} // namespace
