// The buffer exports on a simulated host-served node opened with imDevAlloc: allocation in
// board memory, host DMA memory and paged memory, pixel round trips, clear, children,
// fields, host copies, lock and unlock, free, and the errors of each.
//
// The node serves every command with the handlers the library wires; the tests count
// what reached it and record the parameters of the last command where the slot order
// matters.
#include "imbuf.h"
#include "imdev.h"
#include "imsys.h"

#include "../host/ll/openednode.h"
#include "../testwait.h"

#include "bufchild.h"
#include "consolepipe.h"
#include "bufid.h"
#include "cmdserver.h"
#include "hostbuf.h"
#include "im_msgio.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "regmap/service_requests.h"
#include "reqres.h"
#include "sysutil.h"

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;

// Commands the node received, by opcode.
std::atomic<int> g_received[225];

// The handlers the wiring installed, by opcode, and a pass-through that counts each
// command before the real handler serves it.
MpHandler g_real[225];

void Counted(_MSG_BODY_ST* m)
{
    ++g_received[m->opcode];
    g_real[m->opcode](m);
}

void CountCommands(std::initializer_list<uint32_t> opcodes, MpHandler through = Counted)
{
    for (uint32_t op : opcodes) {
        const MpHandler old = mp_server_set_handler(op, through);
        if (old != Counted && old != through) g_real[op] = old;
    }
}

// What the node last received for the commands whose handling is left to it, with fixed
// replies for those that have results.
struct Received {
    uint32_t opcode = 0, sent = 0, control = 0;
    uint8_t param[kMsgMaxParams][8] = {};
    uint32_t Word(uint32_t slot) const
    {
        uint32_t w;
        std::memcpy(&w, param[slot], 4);
        return w;
    }
    double Double(uint32_t slot) const
    {
        double d;
        std::memcpy(&d, param[slot], 8);
        return d;
    }
};
std::mutex g_recordLock;
Received g_record;

// Records the command, then the real handler serves it.
void Recorder(_MSG_BODY_ST* m)
{
    {
        std::lock_guard<std::mutex> hold(g_recordLock);
        g_record.opcode = m->opcode;
        g_record.sent = m->counts & 0xFFFF;
        g_record.control = m->control;
        std::memcpy(g_record.param, m->param, sizeof g_record.param);
    }
    Counted(m);
}

Received LastReceived()
{
    std::lock_guard<std::mutex> hold(g_recordLock);
    return g_record;
}

class BufferTest : public openednode::OpenedNodeTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        im_msg_reset_application();
        // The default time-out: the node opens and closes of other test programs, which
        // take "MUTEX_imDev_" in turn, end within it.
        imAppControl(1, 15.0);
        for (auto& n : g_received) n = 0;
        CountCommands({kOpBufAlloc, kOpBufAlloc2d, kOpBufAlloc1d, kOpBufCreate, kOpBufChild, kOpBufChildBand,
                       kOpBufClear, kOpBufFree, kOpBufPutField, kOpBufGetField, kOpBufGetFieldDouble, kOpBufInquire,
                       kOpBufControl, kOpBufClone});
        OpenNode();
        if (HasFatalFailure()) return;
    }
    // A synchronous command on the node's system thread: every command posted before it
    // has been served when it returns.
    int32_t Settle() { return imDevInquire(device_, 3, nullptr) == 1 ? 0 : -1; }
    uint32_t Inq(uint32_t id, uint32_t type) { return static_cast<uint32_t>(imBufInquire(device_, id, type, nullptr)); }
    static size_t DmaRequests(uint32_t code)
    {
        size_t n = 0;
        for (const auto& r : boardsim::BoardSim::instance().requests()) n += r.code == code;
        return n;
    }
    static std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
    {
        std::vector<uint8_t> v(bytes);
        for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
        return v;
    }

};

// ---- allocation and pixels --------------------------------------------------------------

TEST_F(BufferTest, EveryMemoryDepthAndBandCountRoundTripsItsPixelsExactly)
{
    constexpr int32_t kX = 13, kY = 5;
    boardsim::BoardSim::instance().clearRequests();
    for (uint32_t location : {kLocSdram, kLocHostDma, kLocPaged}) {
        for (uint32_t bits : {8u, 16u, 32u}) {
            for (uint32_t bands : {1u, 3u}) {
                SCOPED_TRACE("location " + std::to_string(location) + ", " + std::to_string(bits) + " bits, " +
                             std::to_string(bands) + " bands");
                const uint32_t id = bands == 1 ? imBufAlloc2d(device_, kX, kY, bits, location, nullptr)
                                               : imBufAlloc(device_, kX, kY, bands, bits, location, nullptr);
                ASSERT_NE(id, 0u) << LastText();
                EXPECT_EQ((id >> 16) & 0xFF, kNode);
                const uint32_t kinds[] = {0, 0, 0, 0x1000000u, 0xD000000u};
                if (location != kLocSdram) {
                    EXPECT_EQ(id & 0xF000000u, kinds[location]);
                    EXPECT_EQ(Inq(id, 200), location);
                }
                EXPECT_EQ(Inq(id, 6), bands);

                const size_t bytes = size_t{bits / 8} * kX * kY * bands;
                const std::vector<uint8_t> in = Pattern(bytes, static_cast<uint8_t>(bits + bands));
                ASSERT_EQ(imBufPut(device_, id, in.data()), 0) << LastText();
                std::vector<uint8_t> out(bytes + 1, 0xEE);
                ASSERT_EQ(imBufGet(device_, id, out.data()), 0) << LastText();
                EXPECT_EQ(0, std::memcmp(in.data(), out.data(), bytes));
                EXPECT_EQ(out[bytes], 0xEE) << "nothing past the packed data";

                // A rectangle written in the middle comes back, and only it changed.
                const size_t rect = size_t{bits / 8} * 4 * 2 * bands;
                const std::vector<uint8_t> patch = Pattern(rect, 0x80);
                ASSERT_EQ(imBufPut2d(device_, id, 3, 2, 4, 2, patch.data()), 0) << LastText();
                std::vector<uint8_t> back(rect);
                ASSERT_EQ(imBufGet2d(device_, id, 3, 2, 4, 2, back.data()), 0);
                EXPECT_EQ(patch, back);
                std::vector<uint8_t> line(size_t{bits / 8} * kX * bands);
                ASSERT_EQ(imBufGet1d(device_, id, 0, kX, line.data()), 0);
                EXPECT_EQ(0, std::memcmp(line.data(), in.data(), size_t{bits / 8} * kX)) << "line 0 untouched";

                EXPECT_EQ(imBufFree(device_, id), 0);
                ASSERT_EQ(Settle(), 0);
                EXPECT_EQ(imBufInquire(device_, id, 3, nullptr), 0) << "freed";
                im_msg_reset_application();
            }
        }
    }
    EXPECT_EQ(DmaRequests(QVL_DMA_BUFFER_ALLOC) - DmaRequests(QVL_DMA_BUFFER_FREE), 0u)
        << "every host DMA block was given back";
}

TEST_F(BufferTest, PagedBufferOverCallerMemoryWritesThatMemoryAndLeavesItToTheCaller)
{
    std::vector<uint8_t> memory(16 * 4 + 4096, 0);
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory.data()));
    uint32_t id = 0;
    ASSERT_NE(imBufCreate(device_, 16, 4, 1, 8, kBufMemoryCaller, &address, 16, &id), 0u) << LastText();
    EXPECT_EQ(id & 0xF000000u, 0xC000000u);
    const std::vector<uint8_t> in = Pattern(64, 3);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
    EXPECT_EQ(0, std::memcmp(memory.data(), in.data(), 64));
    std::vector<uint8_t> out(64);
    ASSERT_EQ(imBufGet(device_, id, out.data()), 0);
    EXPECT_EQ(in, out);
    EXPECT_EQ(imBufFree(device_, id), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, NineBandsTravelInAnAddressBufferThatIsFreedAfterTheReply)
{
    std::vector<std::vector<uint8_t>> memory(9, std::vector<uint8_t>(8 * 2));
    uint32_t addresses[9];
    for (int i = 0; i < 9; ++i) addresses[i] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory[i].data()));
    const uint32_t id = imBufCreate(device_, 8, 2, 9, 8, kBufMemoryCaller, addresses, 8, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(g_received[kOpBufAlloc], 1) << "the address buffer";
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(g_received[kOpBufFree], 1) << "and its free";
    std::vector<uint8_t> in = Pattern(16 * 9, 1), out(16 * 9);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(0, std::memcmp(memory[i].data(), in.data() + 16 * i, 16));
    ASSERT_EQ(imBufGet(device_, id, out.data()), 0);
    EXPECT_EQ(in, out);
    imBufFree(device_, id);
}

TEST_F(BufferTest, PagedPitchIsPackedFor2dAndRoundedForTheBandedForm)
{
    const uint32_t packed = imBufAlloc2d(device_, 641, 10, 8, kLocPaged, nullptr);
    const uint32_t banded = imBufAlloc(device_, 641, 10, 1, 8, kLocPaged, nullptr);
    const uint32_t line = imBufAlloc1d(device_, 641, 16, kLocPaged, nullptr);
    ASSERT_NE(packed, 0u);
    ASSERT_NE(banded, 0u);
    ASSERT_NE(line, 0u);
    EXPECT_EQ(Inq(packed, 202), 641u);
    EXPECT_EQ(Inq(banded, 202), 644u);
    EXPECT_EQ(Inq(line, 202), 1282u);
    EXPECT_EQ(g_received[kOpBufAlloc] + g_received[kOpBufAlloc2d] + g_received[kOpBufAlloc1d], 0)
        << "paged memory is the host's: the node only describes it";
    for (uint32_t id : {packed, banded, line}) EXPECT_EQ(imBufFree(device_, id), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, OneBitBuffersPackEightPixelsToTheByte)
{
    // Paged 1-bit buffers need whole bytes per line: refused before anything is sent.
    EXPECT_EQ(imBufAlloc2d(device_, 100, 2, 0x40000001u, kLocPaged, nullptr), 0u);
    ExpectError(-8, "Parameter invalid or unacceptable", "imBufAlloc2d");
    EXPECT_EQ(imBufAlloc(device_, 12, 2, 1, 0x40000001u, kLocPaged, nullptr), 0u);
    ExpectError(-8, "Parameter invalid or unacceptable", "imBufAlloc");
    EXPECT_EQ(g_received[kOpBufCreate], 0);

    const uint32_t id = imBufAlloc2d(device_, 100, 2, 0x40000001u, kLocSdram, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    const std::vector<uint8_t> in = Pattern(26, 9);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
    std::vector<uint8_t> out(27, 0xEE);
    ASSERT_EQ(imBufGet(device_, id, out.data()), 0);
    EXPECT_EQ(0, std::memcmp(in.data(), out.data(), 26)) << "13 bytes a line, 26 in all";
    EXPECT_EQ(out[26], 0xEE);

    // A host copy of 1-bit lines takes the last, partly used byte too.
    const uint32_t a = imBufAlloc2d(device_, 100, 2, 0x40000001u, kLocHostDma, nullptr);
    const uint32_t b = imBufAlloc2d(device_, 100, 2, 0x40000001u, kLocHostDma, nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_EQ(imBufPut(device_, a, in.data()), 0);
    EXPECT_EQ(imBufCopy(device_, a, b, 0, 0), 0) << LastText();
    std::vector<uint8_t> copied(26);
    ASSERT_EQ(imBufGet(device_, b, copied.data()), 0);
    EXPECT_EQ(in, copied);
    for (uint32_t x : {id, a, b}) imBufFree(device_, x);
}

// ---- clear, children, fields ---------------------------------------------------------------

TEST_F(BufferTest, ClearFillsEveryBandWithTheValue)
{
    const uint32_t id = imBufAlloc(device_, 7, 3, 2, 16, kLocHostDma, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(imBufClear(device_, id, 4660.0, 0), 0);
    ASSERT_EQ(Settle(), 0);
    std::vector<uint16_t> out(7 * 3 * 2, 0);
    ASSERT_EQ(imBufGet(device_, id, out.data()), 0);
    for (uint16_t v : out) EXPECT_EQ(v, 0x1234);
    imBufFree(device_, id);
}

TEST_F(BufferTest, ChildrenSeeTheirParentsPixelsAndFieldsKeepTheirValues)
{
    const uint32_t parent = imBufAlloc(device_, 8, 4, 3, 8, kLocSdram, nullptr);
    ASSERT_NE(parent, 0u) << LastText();
    const std::vector<uint8_t> in = Pattern(8 * 4 * 3, 0);
    ASSERT_EQ(imBufPut(device_, parent, in.data()), 0);

    const uint32_t child = imBufChild(device_, parent, 2, 1, 4, 3, nullptr);
    ASSERT_NE(child, 0u) << LastText();
    EXPECT_EQ(Inq(child, 3), 4u);
    std::vector<uint8_t> region(4 * 3 * 3);
    ASSERT_EQ(imBufGet(device_, child, region.data()), 0);
    for (uint32_t band = 0; band < 3; ++band)
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 4; ++x)
                EXPECT_EQ(region[band * 12 + y * 4 + x], in[band * 32 + (y + 1) * 8 + x + 2]);

    uint32_t bandChild = 0;
    ASSERT_NE(imBufChildBand(device_, parent, 2, &bandChild), 0u);
    EXPECT_EQ(Inq(bandChild, 6), 1u);
    std::vector<uint8_t> band2(32);
    ASSERT_EQ(imBufGet(device_, bandChild, band2.data()), 0);
    EXPECT_EQ(0, std::memcmp(band2.data(), in.data() + 64, 32));

    EXPECT_EQ(imBufPutField(device_, parent, 77, 12.75), 0);
    double d = 0;
    int32_t i = 0;
    EXPECT_EQ(imBufGetFieldDouble(device_, parent, 77, &d), 0);
    EXPECT_EQ(d, 12.75);
    EXPECT_EQ(imBufGetField(device_, parent, 77, &i), 0);
    EXPECT_EQ(i, 12);
    i = 99;
    EXPECT_EQ(imBufGetField(device_, parent, 78, &i), -5);
    EXPECT_EQ(i, 99) << "nothing stored for an absent field";
    EXPECT_EQ(LastError(), 0) << LastText();

    for (uint32_t id : {bandChild, child, parent}) EXPECT_EQ(imBufFree(device_, id), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, AFieldOfAnInvalidBufferIsAbsentNotZero)
{
    int32_t value = 99;
    double d = 1.5;
    EXPECT_EQ(imBufGetField(device_, (kNode << 16) | 0x2000777u, 5, &value), -1);
    EXPECT_EQ(value, 99);
    ExpectError(-1, "Invalid buffer ID", "BufGetField");
    EXPECT_EQ(imBufGetFieldDouble(device_, (kNode << 16) | 0x2000777u, 5, &d), -1);
    EXPECT_EQ(d, 1.5);
    ExpectError(-1, "Invalid buffer ID", "BufGetFieldDouble");
}

// ---- host copies ---------------------------------------------------------------------------

TEST_F(BufferTest, HostCopyTakesSignednessButNotDepthDifferences)
{
    const uint32_t u8 = imBufAlloc2d(device_, 10, 3, 8, kLocHostDma, nullptr);
    const uint32_t s8 = imBufAlloc2d(device_, 12, 2, 0x10000008u, kLocPaged, nullptr);
    const uint32_t u16 = imBufAlloc2d(device_, 10, 3, 16, kLocHostDma, nullptr);
    ASSERT_NE(u8, 0u);
    ASSERT_NE(s8, 0u);
    ASSERT_NE(u16, 0u);
    const std::vector<uint8_t> in = Pattern(30, 5);
    ASSERT_EQ(imBufPut(device_, u8, in.data()), 0);
    std::vector<uint8_t> zero(24, 0);
    ASSERT_EQ(imBufPut(device_, s8, zero.data()), 0);
    EXPECT_EQ(imBufCopy(device_, u8, s8, 0, 0), 0) << LastText();
    std::vector<uint8_t> out(24);
    ASSERT_EQ(imBufGet(device_, s8, out.data()), 0);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(0, std::memcmp(out.data() + 12 * y, in.data() + 10 * y, 10)) << "the narrower width";
        EXPECT_EQ(out[12 * y + 10], 0);
        EXPECT_EQ(out[12 * y + 11], 0);
    }
    EXPECT_EQ(LastError(), 0) << LastText();

    EXPECT_EQ(imBufCopy(device_, u8, u16, 0, 0), -9);
    ExpectError(-9, "Incompatible buffer", "imBufCopy");
    EXPECT_EQ(imBufCopy(device_, (kNode << 16) | 0x1000777u, u16, 0, 0), -8);
    ExpectError(-8, "Error in function parameters", "imBufCopy");
    for (uint32_t id : {u8, s8, u16}) imBufFree(device_, id);
}

// ---- lock and unlock -----------------------------------------------------------------------

TEST_F(BufferTest, ADoubleLockLocksOnceAndTheSecondUnlockReleasesThePages)
{
    const uint32_t id = imBufAlloc2d(device_, 64, 4, 8, kLocPaged, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    _MP_BUF_ST* b = im_buf_descriptor(device_, id);
    ASSERT_NE(b, nullptr);

    EXPECT_EQ(imBufControl(device_, id, kBufControlLock, kHostBufControlDefault), 0) << LastText();
    EXPECT_EQ(b->lockCount, 1u);
    EXPECT_EQ(imBufControl(device_, id, kBufControlLock, kHostBufControlDefault), 0);
    EXPECT_EQ(b->lockCount, 2u);
    EXPECT_EQ(g_received[kOpBufControl], 1) << "one lock message";

    EXPECT_EQ(imBufControl(device_, id, kBufControlUnlock, kHostBufControlDefault), 0);
    EXPECT_EQ(b->lockCount, 1u);
    EXPECT_EQ(imBufControl(device_, id, kBufControlUnlock, kHostBufControlDefault), 0);
    EXPECT_EQ(b->lockCount, 0u);
    EXPECT_EQ(g_received[kOpBufControl], 3) << "each unlock is sent";
    EXPECT_EQ(LastError(), 0) << LastText();

    // An unlock without a lock is refused instead of wrapping the count.
    EXPECT_EQ(imBufControl(device_, id, kBufControlUnlock, kHostBufControlDefault), -12);
    ExpectError(-12, "Cannot unlock buffer", "imBufControl");
    EXPECT_EQ(b->lockCount, 0u);
    EXPECT_EQ(g_received[kOpBufControl], 3);
    imBufFree(device_, id);
}

TEST_F(BufferTest, FreeingALockedPagedBufferUnlocksItFirst)
{
    const uint32_t id = imBufAlloc2d(device_, 64, 4, 8, kLocPaged, nullptr);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(imBufControl(device_, id, kBufControlLock, kHostBufControlDefault), 0) << LastText();
    ASSERT_EQ(imBufControl(device_, id, kBufControlLock, kHostBufControlDefault), 0);
    EXPECT_EQ(imBufFree(device_, id), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(g_received[kOpBufControl], 3) << "one lock, two unlocks";
    EXPECT_EQ(g_received[kOpBufFree], 2) << "the page list after the lock, then the buffer";
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, OnlyPagedBuffersLock)
{
    const uint32_t id = imBufAlloc2d(device_, 8, 2, 8, kLocSdram, nullptr);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(im_open_pipe(0), 0);
    EXPECT_EQ(imBufControl(device_, id, kBufControlLock, kHostBufControlDefault), 0);
    EXPECT_EQ(imBufControl(device_, id, kBufControlUnlock, kHostBufControlDefault), 0);
    EXPECT_EQ(g_received[kOpBufControl], 0);
    const auto printed = [this](const char* text) {
        return testwait::WaitUntil([&] { return ConsoleOutput().find(text) != std::string::npos; });
    };
    EXPECT_TRUE(printed("Cannot lock a buffer other than a paged one\n")) << ConsoleOutput();
    EXPECT_TRUE(printed("Cannot unlock a buffer other than a paged one\n")) << ConsoleOutput();
    EXPECT_EQ(imBufControl(device_, (kNode << 16) | 0xC000777u, kBufControlLock, kHostBufControlDefault), -1);
    ExpectError(-1, "Invalid buffer ID", "imBufControl");
    imBufFree(device_, id);
}

// ---- free and errors -------------------------------------------------------------------------

TEST_F(BufferTest, FreeOfAHostDmaRootFreesItsBlocksAndOfAChildNone)
{
    boardsim::BoardSim::instance().clearRequests();
    const uint32_t root = imBufAlloc(device_, 16, 4, 3, 8, kLocHostDma, nullptr);
    ASSERT_NE(root, 0u) << LastText();
    EXPECT_EQ(DmaRequests(QVL_DMA_BUFFER_ALLOC), 3u);
    const uint32_t child = imBufChild(device_, root, 0, 0, 8, 2, nullptr);
    ASSERT_NE(child, 0u);
    EXPECT_EQ(imBufFree(device_, child), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(DmaRequests(QVL_DMA_BUFFER_FREE), 0u);
    EXPECT_EQ(imBufFree(device_, root), 0);
    EXPECT_EQ(DmaRequests(QVL_DMA_BUFFER_FREE), 3u) << "freed on the host before the node frees the descriptor";
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, AHostDmaFailureFreesWhatWasTakenAndSendsNothing)
{
    boardsim::BoardSim::instance().clearRequests();
    // The second band's block is refused: the first goes back, no buffer is asked for.
    int calls = 0;
    for (const auto& r : boardsim::BoardSim::instance().requests()) calls += r.code == QVL_DMA_BUFFER_ALLOC;
    EXPECT_EQ(calls, 0);
    const uint32_t first = imBufAlloc(device_, 16, 4, 1, 8, kLocHostDma, nullptr);
    ASSERT_NE(first, 0u);
    boardsim::BoardSim::instance().clearRequests();
    g_received[kOpBufAlloc] = 0;
    boardsim::BoardSim::instance().failRequests(QVL_DMA_BUFFER_ALLOC, 1);
    EXPECT_EQ(imBufAlloc(device_, 16, 4, 2, 8, kLocHostDma, nullptr), 0u);
    ExpectError(-4, "Not enough DMA HOST memory", "imBufAlloc");
    EXPECT_EQ(g_received[kOpBufAlloc], 0);
    EXPECT_EQ(imBufFree(device_, first), 0);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(DmaRequests(QVL_DMA_BUFFER_FREE), 1u);
}

TEST_F(BufferTest, PixelTransfersRefuseWhatLiesOutsideTheBuffer)
{
    const uint32_t id = imBufAlloc2d(device_, 10, 10, 8, kLocSdram, nullptr);
    ASSERT_NE(id, 0u);
    std::vector<uint8_t> data(100, 0xAB);
    // The whole buffer only from its origin: from (5, 5) it would run 55 bytes past its end.
    EXPECT_EQ(imBufGet2d(device_, id, 5, 5, 0, 0, data.data()), -8);
    ExpectError(-8, "Error in function parameters", "imBufGet2d");
    EXPECT_EQ(imBufPut2d(device_, id, 5, 5, 0, 0, data.data()), -8);
    ExpectError(-8, "Error in function parameters", "imBufPut2d");
    EXPECT_EQ(imBufPut2d(device_, id, 8, 0, 3, 1, data.data()), -8);
    ExpectError(-8, "Error in function parameters", "imBufPut2d");
    EXPECT_EQ(imBufGet1d(device_, id, -1, 4, data.data()), -8);
    ExpectError(-8, "Error in function parameters", "imBufGet1d");
    EXPECT_EQ(imBufGet(device_, 0, data.data()), -8);
    ExpectError(-8, "Error in function parameters", "imBufGet");
    for (uint8_t v : data) ASSERT_EQ(v, 0xAB);

    // A band whose memory is missing.
    const uint32_t none = 0;
    const uint32_t hollow = imBufCreate(device_, 4, 4, 1, 8, kBufMemoryCaller, &none, 4, nullptr);
    ASSERT_NE(hollow, 0u) << LastText();
    EXPECT_EQ(imBufPut(device_, hollow, data.data()), -4);
    ExpectError(-4, "Invalid address", "imBufPut");
    imBufFree(device_, hollow);
    imBufFree(device_, id);
}

TEST_F(BufferTest, FreeOfAHostBufferWithoutDescriptorIsRefusedOnTheHost)
{
    EXPECT_EQ(imBufFree(device_, (kNode << 16) | 0x1000777u), -1);
    ExpectError(-1, "Invalid buffer ID", "imBufFree");
    EXPECT_EQ(imBufFree(device_, (kNode << 16) | 0xD000777u), -1);
    ExpectError(-1, "Invalid buffer ID", "imBufFree");
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(g_received[kOpBufFree], 0);
}

TEST_F(BufferTest, NothingIsLeftBehindWhenTheDeviceCloses)
{
    boardsim::BoardSim::instance().clearRequests();
    ASSERT_NE(imBufAlloc(device_, 8, 8, 2, 8, kLocHostDma, nullptr), 0u);
    ASSERT_NE(imBufAlloc2d(device_, 8, 8, 8, kLocSdram, nullptr), 0u);
    const uint32_t paged = imBufAlloc2d(device_, 8, 8, 8, kLocPaged, nullptr);
    ASSERT_NE(paged, 0u);
    EXPECT_EQ(imBufFree(device_, paged), 0);
    // Left for the close to take: host DMA blocks and library paged memory.
    ASSERT_NE(imBufAlloc(device_, 8, 8, 2, 8, kLocPaged, nullptr), 0u);
    EXPECT_EQ(imDevFree(device_), 0);
    device_ = 0;
    EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    EXPECT_EQ(boardsim::BoardSim::instance().dmaBuffers().size(), 0u) << "no DMA block outlives the node";
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, CommandsOnlyABoardProcessorRunsAreInvalidOnAHostServedNode)
{
    uint32_t layout[4] = {1, 2, 3, 4};
    EXPECT_EQ(im_buf_get_formatted_inquire(device_, 1, layout), -6);
    EXPECT_EQ(LastError(), -6);
    EXPECT_EQ(LastText(), "Invalid opcode received");
    im_msg_reset_application();
    EXPECT_EQ(layout[3], 0u);
    const uint8_t data[4] = {};
    EXPECT_EQ(imBufPutFormatted(device_, 1, 0.0, data), 0) << "no layout, nothing written";
    im_msg_reset_application();
}

// ---- marshalling ---------------------------------------------------------------------------

TEST_F(BufferTest, CommandsCarryTheirParametersInSlotOrder)
{
    CountCommands({kOpBufAllocControl, kOpBufChildMove, kOpBufCopyPCI, kOpBufCopyVM, kOpBufCopyField,
                   kOpBufGetNextField, kOpBufModify, kOpBufRemoveField, kOpBufCopy, kOpBufMap},
                  Recorder);

    uint32_t control = 0;
    const uint32_t made = imBufAllocControl(device_, &control);
    EXPECT_NE(made, 0u) << LastText();
    EXPECT_EQ(control, made);
    EXPECT_EQ((made >> 16) & 0xFF, kNode);
    EXPECT_EQ(LastReceived().opcode, kOpBufAllocControl);
    EXPECT_EQ(LastReceived().sent, 0u);

    const uint32_t parent = imBufAlloc2d(device_, 32, 16, 8, kLocSdram, nullptr);
    const uint32_t child = imBufChild(device_, parent, 4, 2, 8, 8, nullptr);
    ASSERT_NE(child, 0u) << LastText();
    EXPECT_EQ(imBufChildMove(device_, child, 0x4000000A, -1, 5, -9999), 0);
    ASSERT_EQ(Settle(), 0);
    Received r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufChildMove);
    EXPECT_EQ(r.sent, 5u);
    EXPECT_EQ(r.Word(0), child);
    EXPECT_EQ(r.Word(1), 0x4000000Au);
    EXPECT_EQ(static_cast<int32_t>(r.Word(2)), -1);
    EXPECT_EQ(r.Word(3), 5u);
    EXPECT_EQ(static_cast<int32_t>(r.Word(4)), -9999);
    EXPECT_EQ(LastError(), 0) << LastText();
    EXPECT_EQ(Inq(child, 32), 10u) << "placed at x 10 of the parent";
    EXPECT_EQ(Inq(child, 33), 1u) << "moved up by one";
    EXPECT_EQ(Inq(child, 3), 5u);
    EXPECT_EQ(Inq(child, 4), 8u) << "-9999 keeps the size";

    // The node's host serves no VM transfer of its own: the command is invalid there.
    EXPECT_EQ(imBufCopyVM(device_, 1, 2, 3, 4, 0), 0);
    ASSERT_EQ(Settle(), 0);
    r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufCopyVM);
    EXPECT_EQ(r.sent, 4u);
    EXPECT_EQ(r.Word(0), 1u);
    EXPECT_EQ(r.Word(3), 4u);
    im_msg_reset_application();

    EXPECT_EQ(imBufPutField(device_, parent, 5, 2.5), 0);
    EXPECT_EQ(imBufCopyField(device_, parent, 5, child, 6), 0);
    ASSERT_EQ(Settle(), 0);
    r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufCopyField);
    EXPECT_EQ(r.sent, 4u);
    EXPECT_EQ(r.Word(0), parent);
    EXPECT_EQ(r.Word(1), 5u);
    EXPECT_EQ(r.Word(2), child);
    EXPECT_EQ(r.Word(3), 6u);
    double copied = 0;
    EXPECT_EQ(imBufGetFieldDouble(device_, child, 6, &copied), 0);
    EXPECT_EQ(copied, 2.5);

    const uint32_t other = imBufAlloc2d(device_, 32, 16, 8, kLocSdram, nullptr);
    ASSERT_NE(other, 0u);
    // The same line bytes as 16 pixels of 16 bits.
    EXPECT_EQ(imBufModify(device_, other, 16, -9999, 16), 0);
    ASSERT_EQ(Settle(), 0);
    r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufModify);
    EXPECT_EQ(r.Word(0), other);
    EXPECT_EQ(r.Word(1), 16u);
    EXPECT_EQ(static_cast<int32_t>(r.Word(2)), -9999);
    EXPECT_EQ(r.Word(3), 16u);
    EXPECT_EQ(Inq(other, 3), 16u);
    EXPECT_EQ(Inq(other, 8), 16u);
    EXPECT_EQ(Inq(other, 4), 16u) << "-9999 keeps the lines";
    EXPECT_EQ(LastError(), 0) << LastText();

    // A copy that involves a board buffer is the node's.
    const uint32_t host = imBufAlloc2d(device_, 32, 16, 8, kLocHostDma, nullptr);
    ASSERT_NE(host, 0u);
    EXPECT_EQ(imBufCopy(device_, parent, host, 9, 0), 0);
    ASSERT_EQ(Settle(), 0);
    r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufCopy);
    EXPECT_EQ(r.sent, 3u);
    EXPECT_EQ(r.Word(0), parent);
    EXPECT_EQ(r.Word(1), host);
    EXPECT_EQ(r.Word(2), 9u);
    im_msg_reset_application();

    int32_t cursor = -1;
    uint32_t key = 0;
    double value = 0;
    EXPECT_EQ(imBufPutField(device_, other, 9, 2.5), 0);
    EXPECT_EQ(imBufGetNextField(device_, other, &cursor, &key, &value), 0);
    EXPECT_EQ(cursor, 0) << "the only field: no field after it";
    EXPECT_EQ(key, 9u);
    EXPECT_EQ(value, 2.5);
    EXPECT_EQ(LastReceived().Word(0), other);
    EXPECT_EQ(static_cast<int32_t>(LastReceived().Word(1)), -1) << "the cursor goes to the node";

    // The map of a paged buffer gives the address as the node returned it: the band's
    // host address plus the lines before the one asked for.
    const uint32_t paged = imBufAlloc2d(device_, 16, 4, 8, kLocPaged, nullptr);
    ASSERT_NE(paged, 0u);
    const _MP_BUF_ST* descriptor = im_buf_descriptor(device_, paged);
    ASSERT_NE(descriptor, nullptr);
    const uint32_t band = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mp_buf_address_band_internal(descriptor, 0)));
    uint32_t address = 0, pitch = 0, lines = 0;
    EXPECT_EQ(imBufMap(device_, paged, 0, 1, &address, &pitch, &lines), 3);
    r = LastReceived();
    EXPECT_EQ(r.opcode, kOpBufMap);
    EXPECT_EQ(r.Word(0), paged);
    EXPECT_EQ(r.Word(1), 1u) << "line";
    EXPECT_EQ(r.Word(2), 0u) << "band";
    EXPECT_EQ(pitch, 16u);
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(address, band + 16);
    for (uint32_t id : {paged, host, other, child, parent, made}) imBufFree(device_, id);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(BufferTest, AHostDmaCloneGetsItsDestinationFromTheHost)
{
    CountCommands({kOpBufClone}, Recorder);
    const uint32_t source = imBufAlloc(device_, 6, 2, 2, 16, kLocHostDma, nullptr);
    ASSERT_NE(source, 0u);
    EXPECT_EQ(imBufPutField(device_, source, 4, 8.5), 0);
    const int before = g_received[kOpBufAlloc];
    uint32_t clone = 0;
    const uint32_t made = imBufClone(device_, source, kLocDefault, &clone);
    EXPECT_EQ(g_received[kOpBufAlloc], before + 1) << "the destination";
    ASSERT_NE(made, 0u);
    EXPECT_EQ(made, clone);
    EXPECT_EQ(LastReceived().Word(2), made) << "sent as the destination";
    EXPECT_EQ(made & 0xF000000u, 0x1000000u);
    EXPECT_EQ(Inq(made, 6), 2u);
    EXPECT_EQ(Inq(made, 3), 6u);
    double field = 0;
    EXPECT_EQ(imBufGetFieldDouble(device_, made, 4, &field), 0);
    EXPECT_EQ(field, 8.5) << "the clone has the source's fields";

    // A board buffer's clone is the node's alone.
    const uint32_t board = imBufAlloc2d(device_, 8, 4, 8, kLocSdram, nullptr);
    ASSERT_NE(board, 0u);
    const int boardAllocs = g_received[kOpBufAlloc] + g_received[kOpBufAlloc2d];
    clone = 0;
    const uint32_t boardClone = imBufClone(device_, board, kLocDefault, &clone);
    ASSERT_NE(boardClone, 0u) << LastText();
    EXPECT_EQ(boardClone, clone);
    EXPECT_EQ(boardClone & 0xF000000u, 0u) << "in board memory, as its source";
    EXPECT_EQ(Inq(boardClone, 200), static_cast<uint32_t>(kLocSdram));
    EXPECT_EQ(LastReceived().Word(2), 0u);
    EXPECT_EQ(g_received[kOpBufAlloc] + g_received[kOpBufAlloc2d], boardAllocs);

    EXPECT_EQ(imBufClone(device_, (kNode << 16) | 0x1000777u, kLocHostDma, &clone), 0u);
    ExpectError(-8, "Error in function parameters", "imBufClone");
    for (uint32_t id : {made, source, boardClone, board}) imBufFree(device_, id);
}

TEST_F(BufferTest, BoardMemoryBecomesInlineOnANodeWithoutAnSdramWindow)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(kNode);
    ASSERT_NE(record, nullptr);
    const uint32_t window = record->primaryMemory;
    record->primaryMemory = 0;
    const uint32_t id = imBufAlloc(device_, 8, 2, 1, 8, kLocSdram, nullptr);
    record->primaryMemory = window;
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(Inq(id, 200), static_cast<uint32_t>(kLocInline));
    const uint32_t board = imBufAlloc(device_, 8, 2, 1, 8, kLocSdram, nullptr);
    if (window) {
        EXPECT_EQ(Inq(board, 200), static_cast<uint32_t>(kLocSdram));
    }
    for (uint32_t x : {id, board}) imBufFree(device_, x);
}

// A node that has no room for the buffer it is asked for.
void Refuse(_MSG_BODY_ST* m)
{
    ++g_received[m->opcode];
    MP_RESOURCE_ST* res = mp_res_alloc(m, kResReplySize, "BufAlloc");
    if (mp_res_ok(res)) {
        _mp_res_log_error(res, -4, nullptr);
        mp_msg_put_reply(m, 0, 0);
    }
    mp_res_free(res);
}

TEST_F(BufferTest, HostDmaBlocksGoBackWhenTheNodeRefusesTheBufferOrItsInfo)
{
    auto& sim = boardsim::BoardSim::instance();
    const size_t live = sim.dmaBuffers().size();
    mp_server_set_handler(kOpBufAlloc, Refuse);
    EXPECT_EQ(imBufAlloc(device_, 16, 4, 2, 8, kLocHostDma, nullptr), 0u);
    EXPECT_EQ(LastError(), -4);
    im_msg_reset_application();
    EXPECT_EQ(g_received[kOpBufAlloc], 1);
    EXPECT_EQ(sim.dmaBuffers().size(), live) << "the node has no buffer to free them with";
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(g_received[kOpBufFree], 1) << "the info buffer";
    g_received[kOpBufFree] = 0;

    // No info buffer: the blocks go back and the buffer is not asked for.
    mp_server_set_handler(kOpBufAlloc1d, Refuse);
    EXPECT_EQ(imBufAlloc(device_, 16, 4, 2, 8, kLocHostDma, nullptr), 0u);
    EXPECT_EQ(LastError(), -4);
    im_msg_reset_application();
    EXPECT_EQ(g_received[kOpBufAlloc], 1);
    EXPECT_EQ(sim.dmaBuffers().size(), live);
    ASSERT_EQ(Settle(), 0);
    EXPECT_EQ(g_received[kOpBufFree], 0) << "no info buffer was left to free";
}

}  // namespace
