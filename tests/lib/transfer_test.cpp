// Bus-master transfers as a program sees them, through hlclib.h and libhlclib.so only:
// imBufCopy between simulated board memory and host DMA memory and paged caller memory,
// with exact bytes and the engine's own counts, the processor copy of small windows, a
// line run in pieces, the refusals with their codes and texts, and a transfer that never
// ends, after which the node still copies.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr const char* kOneBoard = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
constexpr uint32_t kBoard = 1, kHostDma = 3, kCallerMemory = 4;
constexpr int32_t kLock = 1;
constexpr double kDefault = 268435456.0;
// Fields of a control buffer.
constexpr uint32_t kRefuseBands = 10000, kFactorX = 10005, kMode = 10008, kContiguous = 10036;
constexpr uint32_t kLineInterrupt = 10026, kFrameCount = 10032;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 13 + i / 253);
    return v;
}

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

using libsandbox::ExpectError;
using libsandbox::ExpectNoError;
using libsandbox::LastFunction;
using libsandbox::LastText;

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.write("halcyra.ini", kOneBoard);
        boardsim::Topology topology;
        topology.service.dmaRegions = {0x800000};
        boardsim::BoardSim::instance().configure(topology);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        Engine().setNeverEnds(false);
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0) << LastText();
        }
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        boardsim::BoardSim::instance().configure();
    }
    static boardsim::VmTransferView Engine() { return boardsim::BoardSim::instance().vmTransfer(0); }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    void Settle() { ASSERT_EQ(imDevInquire(device_, 3, nullptr), 1u); }
    uint32_t Alloc(int32_t x, int32_t y, uint32_t location)
    {
        const uint32_t id = imBufAlloc2d(device_, x, y, 8, location, nullptr);
        EXPECT_NE(id, 0u) << LastText();
        return id;
    }
    uint32_t Control(std::initializer_list<std::pair<uint32_t, double>> fields)
    {
        return libsandbox::ControlBuffer(device_, fields);
    }
    std::vector<uint8_t> Get(uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_EQ(imBufGet(device_, id, out.data()), 0) << LastText();
        return out;
    }
    // Copies and waits for the node's answer; the engine's count of ended transfers since.
    uint64_t Copy(uint32_t source, uint32_t destination, uint32_t control = 0)
    {
        const uint64_t before = Engine().transfers();
        EXPECT_EQ(imBufCopy(device_, source, destination, control, 0), 0) << LastText();
        Settle();
        return Engine().transfers() - before;
    }

    libsandbox::Sandbox box_{"hlcxfer"};
    uint32_t device_ = 0;
};

TEST_F(TransferTest, BoardMemoryGoesToHostDmaMemoryAndBackByTheEngine)
{
    constexpr int32_t kX = 640, kY = 48;
    const uint32_t board = Alloc(kX, kY, kBoard);
    const uint32_t dma = Alloc(kX, kY, kHostDma);
    const std::vector<uint8_t> in = Pattern(size_t{kX} * kY, 5);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);

    // 30,720 bytes from a page boundary or not: page by page through the list.
    EXPECT_GE(Copy(board, dma), 8u) << "one transfer per page touched";
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    EXPECT_GT(Engine().listEntries(), 0u);

    const std::vector<uint8_t> back = Pattern(in.size(), 77);
    ASSERT_EQ(imBufPut(device_, dma, back.data()), 0);
    EXPECT_GE(Copy(dma, board), 8u);
    ExpectNoError();
    EXPECT_EQ(Get(board, back.size()), back);
    EXPECT_EQ(Engine().droppedBytes(), 0u);
    EXPECT_FALSE(Engine().busy());
    for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
}

// A whole 640 x 480 frame (75 pages) outgrows the Orlo's VM list of 256 entries: the list
// is made again, of 75 x 6 + 3 entries, in the node's SDRAM heap, and the engine plays it
// at its bus address there.
TEST_F(TransferTest, ThePageListIsTheOrlosVmListInTheSdramHeap)
{
    constexpr int32_t kX = 640, kY = 480;
    const uint32_t board = Alloc(kX, kY, kBoard);
    const uint32_t dma = Alloc(kX, kY, kHostDma);
    const std::vector<uint8_t> in = Pattern(size_t{kX} * kY, 31);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    const uint32_t freeBefore = imDevInquire(device_, 13, nullptr);
    const uint64_t entriesBefore = Engine().listEntries();
    EXPECT_GE(Copy(board, dma), 75u);
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    // 453 entries take 3,648 bytes in place of the 2,112 of 256.
    EXPECT_EQ(freeBefore - imDevInquire(device_, 13, nullptr), 3648u - 2112u) << "the list came from the SDRAM heap";
    EXPECT_GE(Engine().listEntries() - entriesBefore, 74u * 6);
    // The list register holds the list's address in board memory (0x3C00000 to 0x4000000),
    // where its first entries are the page list's header.
    const boardsim::OrloView orlo = boardsim::BoardSim::instance().orlo(0);
    const uint32_t list = orlo.reg(0x2060) & 0x3FFFFFF;
    constexpr uint32_t kMemoryStart = 0x4000000 - 0x400000;
    ASSERT_GE(list, kMemoryStart);
    uint32_t header[6] = {};
    ASSERT_TRUE(orlo.readMemory(list - kMemoryStart, header, sizeof header));
    EXPECT_EQ(header[0], 0x10000u);
    EXPECT_EQ(header[1], 0x2028u);
    EXPECT_EQ(header[3], 0x3808u);
    EXPECT_EQ(header[4], 1023u);
    EXPECT_EQ(header[5], 0x3810u);
    for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, BoardMemoryGoesIntoPagedCallerMemoryWithAMisalignedStart)
{
    constexpr int32_t kX = 1024, kY = 12;   // 12,288 bytes from one byte into a page: four pages
    constexpr size_t kBytes = size_t{kX} * kY;
    // The band starts one byte past a page boundary, with guard bytes around it.
    std::vector<uint8_t> memory(kBytes + 3 * 4096, 0xEE);
    const uint32_t base = (Address(memory.data()) + 4095u) & ~4095u;
    uint8_t* band = memory.data() + (base - Address(memory.data())) + 1;
    const uint32_t addresses[1] = {Address(band)};
    uint32_t paged = 0;
    ASSERT_NE(imBufCreate(device_, kX, kY, 1, 8, kCallerMemory, addresses, kX, &paged), 0u) << LastText();
    ASSERT_EQ(imBufControl(device_, paged, kLock, kDefault), 0) << LastText();
    const uint32_t board = Alloc(kX, kY, kBoard);
    const std::vector<uint8_t> in = Pattern(kBytes, 9);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);

    EXPECT_EQ(Copy(board, paged), 4u) << "the rest of the first page, two whole pages, the last piece";
    ExpectNoError();
    EXPECT_EQ(0, std::memcmp(band, in.data(), kBytes));
    EXPECT_EQ(band[-1], 0xEE) << "nothing before the band";
    EXPECT_EQ(band[kBytes], 0xEE) << "nothing after it";
    EXPECT_EQ(Engine().droppedBytes(), 0u);

    // And back into board memory.
    const std::vector<uint8_t> back = Pattern(kBytes, 200);
    std::memcpy(band, back.data(), kBytes);
    EXPECT_EQ(Copy(paged, board), 4u);
    ExpectNoError();
    EXPECT_EQ(Get(board, kBytes), back);
    for (uint32_t id : {board, paged}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, SmallWindowsAreCopiedByTheProcessorAndLargerOnesByTheEngine)
{
    // Contiguous host memory without the page list: the window rules decide.
    const uint32_t control = Control({{kContiguous, 1.0}});
    for (int32_t width : {16, 17}) {
        SCOPED_TRACE(width);
        const uint32_t board = Alloc(width, 1, kBoard);
        const uint32_t dma = Alloc(width, 1, kHostDma);
        const std::vector<uint8_t> in = Pattern(size_t(width), uint8_t(width));
        ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
        ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);
        // A 16-byte line is below the engine's 17; 17 bytes go as one transfer.
        EXPECT_EQ(Copy(board, dma, control), width == 16 ? 0u : 1u);
        ExpectNoError();
        EXPECT_EQ(Get(dma, in.size()), in);
        for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
    }
    EXPECT_EQ(imBufFree(device_, control), 0);
}

TEST_F(TransferTest, TheRegistersOfAContiguousWindowAsTheOrloSeesThem)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t control = Control({{kContiguous, 1.0}});
    const uint32_t board = Alloc(640, 4, kBoard);
    const uint32_t dma = Alloc(640, 4, kHostDma);
    sim.clearTrace();
    sim.setTracing(true);
    EXPECT_EQ(Copy(board, dma, control), 1u);
    sim.setTracing(false);
    ExpectNoError();
    std::vector<std::pair<uint32_t, uint32_t>> writes;   // {register, value}
    for (const boardsim::HwAccess& a : sim.trace())
        if (a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryRegs) writes.emplace_back(a.offset, a.value);
    auto last = [&](uint32_t reg) {
        for (auto it = writes.rbegin(); it != writes.rend(); ++it)
            if (it->first == reg) return it->second;
        return 0xFFFFFFFFu;
    };
    // Board and host start a word early with four bytes masked: 640 + 4 bytes a line.
    EXPECT_EQ(last(0x3810), 643u);
    EXPECT_EQ(last(0x3808), 0x0Fu);
    EXPECT_EQ(last(0x3838), 3u);
    EXPECT_EQ(last(0x2890), 640u);
    EXPECT_EQ(last(0x28D8), 640u);
    EXPECT_EQ(last(0x28A8), 4u) << "line end 644 = 0x84 mod 512";
    // The timing control: reset pulse, then the start (0x80000, kind 4, count mode 6,
    // field bit 16, one transfer).
    std::vector<uint32_t> timing;
    for (const auto& [reg, value] : writes)
        if (reg == 0x3820) timing.push_back(value);
    ASSERT_GE(timing.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(timing.end() - 3, timing.end()),
              (std::vector<uint32_t>{0x904C1u, 0x904C0u, 0x904C4u}));
    for (uint32_t id : {board, dma, control}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, TheLineInterruptIsArmedAtItsLineOrFromLineZeroForEveryLine)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t board = Alloc(640, 4, kBoard);
    const uint32_t dma = Alloc(640, 4, kHostDma);
    const std::vector<uint8_t> in = Pattern(640 * 4, 5);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    auto lastLineWrite = [&sim] {
        uint32_t value = 0xFFFFFFFFu;
        for (const boardsim::HwAccess& a : sim.trace())
            if (a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryRegs && a.offset == 0x2078)
                value = a.value;
        return value;
    };
    const uint32_t atLine = Control({{kContiguous, 1.0}, {kLineInterrupt, 2.0}, {kFrameCount, 3.0}});
    sim.clearTrace();
    sim.setTracing(true);
    EXPECT_EQ(Copy(board, dma, atLine), 1u);
    sim.setTracing(false);
    ExpectNoError();
    EXPECT_EQ(lastLineWrite(), 2u);
    // Every line: the counter starts again at line 0; the bytes still arrive whole.
    const uint32_t everyLine = Control({{kContiguous, 1.0}, {kLineInterrupt, -1.0}});
    ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);
    sim.clearTrace();
    sim.setTracing(true);
    EXPECT_EQ(Copy(board, dma, everyLine), 1u);
    sim.setTracing(false);
    ExpectNoError();
    EXPECT_EQ(lastLineWrite(), 0u);
    EXPECT_EQ(Get(dma, in.size()), in);
    for (uint32_t id : {board, dma, atLine, everyLine}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, AHundredThousandByteLineRunsInTwoPieces)
{
    constexpr int32_t kX = 100000, kY = 3;
    const uint32_t control = Control({{kContiguous, 1.0}});
    const uint32_t board = Alloc(kX, kY, kBoard);
    const uint32_t dma = Alloc(kX, kY, kHostDma);
    const std::vector<uint8_t> in = Pattern(size_t{kX} * kY, 31);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);
    // 64,512 bytes of each line, then the other 35,488.
    EXPECT_EQ(Copy(board, dma, control), 2u);
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    for (uint32_t id : {board, dma, control}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, RefusalsCarryTheirCodesAndTexts)
{
    const uint32_t board = Alloc(64, 4, kBoard);
    const uint32_t other = Alloc(64, 4, kBoard);
    const uint32_t dma = Alloc(64, 4, kHostDma);
    struct Case {
        const char* what;
        uint32_t control;
        int32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"a mode other than 3 or 4", Control({{kMode, 5.0}}), -8, "Parameter invalid or unacceptable"},
        {"a horizontal factor of 17", Control({{kContiguous, 1.0}, {kFactorX, 17.0}}), -8,
         "A non-buffer parameter was invalid or unacceptable, errno: 6"},
        {"a frame count of 0", Control({{kContiguous, 1.0}, {kFrameCount, 0.0}}), -8,
         "A non-buffer parameter was invalid or unacceptable, errno: 22"},
        {"a line interrupt below the window", Control({{kContiguous, 1.0}, {kLineInterrupt, 4.0}}), -8,
         "A non-buffer parameter was invalid or unacceptable, errno: 20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Copy(board, dma, c.control), 0u);
        ExpectError(c.code, c.text, "BufCopy");
        EXPECT_EQ(imBufFree(device_, c.control), 0);
    }
    // The transfer's own request: two buffers of one node's board memory.
    EXPECT_EQ(imBufCopyPCI(device_, board, other, 0, 0), 0);
    Settle();
    ExpectError(-9, "Operation unable to execute due to a restriction", "BufCopyPCI");
    // Multi-band copies refused by the control buffer.
    const uint32_t three = imBufAlloc(device_, 64, 4, 3, 8, kBoard, nullptr);
    const uint32_t threeDma = imBufAlloc(device_, 64, 4, 3, 8, kHostDma, nullptr);
    const uint32_t refuse = Control({{kRefuseBands, -9997.0}});
    EXPECT_EQ(imBufCopyPCI(device_, three, threeDma, refuse, 0), 0);
    Settle();
    ExpectError(-9, "Operation unable to execute due to a restriction", "BufCopyPCI");
    // A buffer that is none.
    EXPECT_EQ(imBufCopyPCI(device_, (kNode << 16) | 0x777u, dma, 0, 0), 0);
    Settle();
    ExpectError(-1, "Invalid buffer ID", "BufCopyPCI");
    // Paged memory of another pitch than the board buffer: no list can carry it.
    std::vector<uint8_t> memory(68 * 4);
    const uint32_t addresses[1] = {Address(memory.data())};
    uint32_t paged = 0;
    ASSERT_NE(imBufCreate(device_, 64, 4, 1, 8, kCallerMemory, addresses, 68, &paged), 0u);
    ASSERT_EQ(imBufControl(device_, paged, kLock, kDefault), 0);
    EXPECT_EQ(imBufCopyPCI(device_, board, paged, 0, 0), 0);
    Settle();
    ExpectError(-14, "Unacceptable buffer attribute (size, type, etc.)", "BufCopyPCI");
    for (uint32_t id : {board, other, dma, three, threeDma, refuse, paged}) EXPECT_EQ(imBufFree(device_, id), 0);
    Settle();
    ExpectNoError();
}

TEST_F(TransferTest, ATransferThatNeverEndsGivesUpAfterTheTimeOutAndTheNodeCopiesOn)
{
    const uint32_t board = Alloc(256, 4, kBoard);
    const uint32_t dma = Alloc(256, 4, kHostDma);
    const std::vector<uint8_t> in = Pattern(1024, 3);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    Engine().setNeverEnds(true);
    imAppControl(1, 0.05);
    EXPECT_EQ(imBufCopy(device_, board, dma, 0, 0), 0) << "posted";
    // Once the node waits on the hung engine its own limit is set: the caller's wait for
    // the answer may take the usual time-out again.
    for (int i = 0; i < 2000 && !Engine().busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(Engine().busy());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    imAppControl(1, 15.0);
    Settle();
    ExpectError(-11, "Board did not respond within the timeout period", "BufCopy");
    EXPECT_FALSE(Engine().busy()) << "the engine was stopped";

    Engine().setNeverEnds(false);
    EXPECT_GE(Copy(board, dma), 1u);
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, ANarrowHostLineIntoBoardMemoryIsDrivenByTheBoardWithItsTagMask)
{
    // 20 pixels a line: below the 32 pixels of a tag word, so the board's side drives with
    // its own tag buffer masking the 12 pixels the engine adds.
    constexpr int32_t kX = 20, kY = 4;
    const uint32_t control = Control({{kContiguous, 1.0}});
    const uint32_t dma = Alloc(kX, kY, kHostDma);
    const uint32_t board = Alloc(kX, kY, kBoard);
    const std::vector<uint8_t> in = Pattern(size_t{kX} * kY, 17);
    ASSERT_EQ(imBufPut(device_, dma, in.data()), 0);
    ASSERT_EQ(imBufPut(device_, board, std::vector<uint8_t>(in.size(), 0).data()), 0);
    auto& sim = boardsim::BoardSim::instance();
    sim.clearTrace();
    sim.setTracing(true);
    EXPECT_EQ(Copy(dma, board, control), 1u);
    sim.setTracing(false);
    ExpectNoError();
    EXPECT_EQ(Get(board, in.size()), in);
    // The receiving kind and the tag address with its enable bit.
    uint32_t timing = 0, tag = 0;
    for (const boardsim::HwAccess& a : sim.trace()) {
        if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryRegs) continue;
        if (a.offset == 0x3820) timing = a.value;
        if (a.offset == 0x28E0) tag = a.value;
    }
    EXPECT_EQ((timing >> 8) & 15, 5u);
    EXPECT_EQ(tag & 0xC000000u, 0x4000000u);
    // The mask: a 32-pixel window of which the last 20 pixels come from the host.
    uint32_t mask = 0;
    ASSERT_TRUE(sim.orlo(0).readMemory((tag & 0x3FFFFFFu) % 0x400000u, &mask, 4));
    EXPECT_EQ(mask, 0xFFFFF000u);
    for (uint32_t id : {board, dma, control}) EXPECT_EQ(imBufFree(device_, id), 0);
}

// The node's copy-parameter records: field 10035 of the node's base buffer (slot 1, kind
// bits of its memory) holds the address of the eight 384-byte records; word 4 of each is
// its busy word.
uint32_t* CopyRecords(uint32_t device)
{
    double area = 0;
    if (imBufGetFieldDouble(device, 0x02000000u | (kNode << 16) | 1u, 10035, &area) != 0 || area == 0) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(static_cast<uint32_t>(area)));
}

TEST_F(TransferTest, ACopyThatFindsEveryRecordBusyGivesUpAfterTheTimeOut)
{
    const uint32_t board = Alloc(256, 4, kBoard);
    const uint32_t dma = Alloc(256, 4, kHostDma);
    const std::vector<uint8_t> in = Pattern(1024, 41);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    EXPECT_GE(Copy(board, dma), 1u) << "the first transfer makes the records";
    ExpectNoError();
    uint32_t* records = CopyRecords(device_);
    ASSERT_NE(records, nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(records[i * 96], 0xCAFEFADEu);
        EXPECT_EQ(records[i * 96 + 4], 0u) << "handed back";
    }
    for (int i = 0; i < 8; ++i) records[i * 96 + 4] = 1;

    imAppControl(1, 0.05);
    EXPECT_EQ(imBufCopy(device_, board, dma, 0, 0), 0) << "posted";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    imAppControl(1, 15.0);
    Settle();
    ExpectError(-11, "No copy-parameter record became free", "BufCopy");

    // One record handed back: the node copies again, and hands it back once more.
    records[3 * 96 + 4] = 0;
    ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);
    EXPECT_GE(Copy(board, dma), 1u);
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    EXPECT_EQ(records[3 * 96 + 4], 0u);
    for (int i = 0; i < 8; ++i) records[i * 96 + 4] = 0;
    for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
}

TEST_F(TransferTest, AHostGrabThatNeverEndsStopsTheTransferAfterTheTimeOut)
{
    const uint32_t board = Alloc(256, 4, kBoard);
    const uint32_t dma = Alloc(256, 4, kHostDma);
    const std::vector<uint8_t> in = Pattern(1024, 57);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0);
    ASSERT_EQ(imBufPut(device_, dma, std::vector<uint8_t>(in.size(), 0).data()), 0);
    // The primary Orlo's grab list stays running: a host grab holds the engine.
    const boardsim::OrloView orlo(0, false);
    orlo.setReg(0x2010, 1);
    for (double contiguous : {0.0, 1.0}) {
        SCOPED_TRACE(contiguous ? "contiguous host memory" : "page by page");
        const uint32_t control = contiguous ? Control({{kContiguous, 1.0}}) : 0;
        const uint64_t before = Engine().transfers();
        imAppControl(1, 0.05);
        EXPECT_EQ(imBufCopy(device_, board, dma, control, 0), 0) << "posted";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        imAppControl(1, 15.0);
        Settle();
        ExpectError(-11, "A host grab did not end", "BufCopy");
        EXPECT_EQ(Engine().transfers(), before) << "nothing started";
        if (control) {
            EXPECT_EQ(imBufFree(device_, control), 0);
        }
    }
    EXPECT_EQ(Get(dma, in.size()), std::vector<uint8_t>(in.size(), 0));

    // The grab ends: the same copy runs, the Orlo was given back.
    orlo.setReg(0x2010, 0);
    EXPECT_GE(Copy(board, dma), 1u);
    ExpectNoError();
    EXPECT_EQ(Get(dma, in.size()), in);
    for (uint32_t id : {board, dma}) EXPECT_EQ(imBufFree(device_, id), 0);
}

}  // namespace
