// The system calls as a program sees them, through hlclib.h and libhlclib.so only: the
// ini file's systems and nodes, a node's clock, time stamps into a buffer's fields, the
// memory map of the node's heap and descriptors, and the dump of its communication ring.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "../fuzz/namedpipe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kSystemThread = 0x40000010u | (kNode << 16);
using libsandbox::kOneBoard;
using libsandbox::LastFunction;
using libsandbox::LastText;
constexpr uint32_t kBoard = 1;
constexpr uint32_t kHostDma = 3;
// Memory-map lines: the id, the node, descriptor words, the parent, the field count, then
// the fields and the band addresses.
constexpr uint32_t kMapFixedValues = 17;

class SystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcsys");
        boardsim::BoardSim::instance().configure();
    }
    void TearDown() override
    {
        // A node left open by a failed test is shut down, a bounded number of times.
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    void WriteIni(const char* text) { sandbox_->write("halcyra.ini", text); }
    uint32_t Open()
    {
        WriteIni(kOneBoard);
        uint32_t id = 0;
        EXPECT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u) << LastText();
        imAppGetError(1, nullptr);
        return id;
    }
    std::string File(const std::string& name) const { return sandbox_->path(name); }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    static std::vector<uint8_t> Read(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

    std::unique_ptr<libsandbox::Sandbox> sandbox_;
};

TEST_F(SystemTest, IniTopologiesCountSystemsNodesDigitizersAndDisplays)
{
    // System 0: two boards, one with a grab module, one without a display; system 1: one
    // board with both.
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nProductId=2\nGrabModulePresent=1\n"
             "ExtModuleType=1\n"
             "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\nProductId=3\nDisplayMode=536870912\n"
             "[Node]\nNodeId=0x21\nSlotNbr=3\nDeviceNbr=0x000f04\nProductId=4\nGrabModulePresent=1\n"
             "ExtModuleType=2\n");
    int32_t out = 0;
    EXPECT_EQ(imSysInquire(0, 1, &out), 2);
    EXPECT_EQ(out, 2);
    EXPECT_EQ(imSysInquire(1, 1, nullptr), 1);
    EXPECT_EQ(imSysInquire(2, 1, nullptr), 0);
    EXPECT_EQ(imSysInquire(0, 2, nullptr), 1) << "one node of system 0 has a digitizer";
    EXPECT_EQ(imSysInquire(1, 2, nullptr), 1);
    EXPECT_EQ(imSysInquire(0, 3, nullptr), 1) << "a node whose display mode is none has no display";
    EXPECT_EQ(imSysInquire(1, 3, nullptr), 1);
    EXPECT_EQ(imSysInquire(14, 4, nullptr), 2) << "systems, whatever system is given";
    EXPECT_EQ(imSysInquire(0, 6, nullptr), 0);

    // The node table: six words a node, then six zero words.  It is the caller's to free.
    const int32_t address = imSysInquire(0, 5, nullptr);
    ASSERT_NE(address, 0);
    auto* table = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
    const std::vector<uint32_t> words(table, table + 4 * 6);
    std::free(table);
    EXPECT_EQ(words, (std::vector<uint32_t>{0, 0, 0x11, 2, 1, 1,    //
                                            0, 1, 0x12, 3, 0, 0,    //
                                            1, 0, 0x21, 4, 1, 2,    //
                                            0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
}

TEST_F(SystemTest, TheNodesClockCountsFromTheStartGiven)
{
    ASSERT_NE(Open(), 0u);
    const double first = imSysClock(kSystemThread, 0.0);
    EXPECT_GE(first, 0.0);
    const double since = imSysClock(kSystemThread, first);
    EXPECT_GE(since, 0.0);
    EXPECT_LT(since, 5.0) << "seconds since the first reading";
    const double later = imSysClock(kSystemThread, 0.0);
    EXPECT_GE(later, first);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(SystemTest, TimeStampsBecomeFieldsOfTheBuffer)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u);
    const uint32_t buffer = imBufAlloc2d(device, 8, 8, 8, kBoard, nullptr);
    ASSERT_NE(buffer, 0u) << LastText();
    const double start = imSysClock(kSystemThread, 0.0);
    EXPECT_EQ(imSysTimeStamp(kSystemThread, buffer, 42, start), 0);
    EXPECT_EQ(imSysTimeStamp(kSystemThread, buffer, 43, 0.0), 0);
    double stamp = -1.0, absolute = -1.0;
    EXPECT_EQ(imBufGetFieldDouble(device, buffer, 42, &stamp), 0) << "the reading waits for the stamps";
    EXPECT_EQ(imBufGetFieldDouble(device, buffer, 43, &absolute), 0);
    EXPECT_GE(stamp, 0.0);
    EXPECT_LT(stamp, 5.0);
    EXPECT_GE(absolute, start) << "the node's clock itself";
    EXPECT_EQ(LastError(), 0) << LastText();

    // A stamp into no buffer: its error comes with the thread's next waiting command.
    EXPECT_EQ(imSysTimeStamp(kSystemThread, (kNode << 16) | 0x777u, 1, 0.0), 0) << "posted";
    EXPECT_GE(imSysClock(kSystemThread, 0.0), 0.0);
    EXPECT_EQ(LastError(), IM_ERR_INVALID_BUFFER);
    EXPECT_EQ(LastText(), "Invalid buffer ID");
    EXPECT_EQ(LastFunction(), "SysTimeStamp");
    imAppGetError(1, nullptr);
    EXPECT_EQ(imBufFree(device, buffer), 0);
}

TEST_F(SystemTest, MemoryMapsListTheHeapsUsedBlocksAndEveryDescriptor)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u);
    const uint32_t board = imBufAlloc(device, 100, 10, 2, 8, kBoard, nullptr);
    const uint32_t host = imBufAlloc2d(device, 16, 4, 16, kHostDma, nullptr);
    ASSERT_NE(board, 0u) << LastText();
    ASSERT_NE(host, 0u) << LastText();
    EXPECT_EQ(imBufPutField(device, board, 7, 0.5), 0);
    EXPECT_EQ(imBufPutField(device, board, 8, -2.0), 0);
    uint32_t bandAddress[2] = {};
    for (uint32_t band = 0; band < 2; ++band) {
        uint32_t pitch = 0, lines = 0;
        EXPECT_EQ(imBufMap(device, board, band, 0, &bandAddress[band], &pitch, &lines), 10);
        EXPECT_EQ(pitch, 100u);
    }

    // Mode 2: {first, last} of each used block of the board heap; each band lies in one.
    uint32_t map = 0;
    const int32_t pairs = imSysGetMemoryMap(kSystemThread, 2, &map);
    ASSERT_GT(pairs, 0) << LastText();
    ASSERT_NE(map, 0u);
    EXPECT_EQ(imBufInquire(device, map, 3, nullptr), 2);
    EXPECT_EQ(imBufInquire(device, map, 4, nullptr), pairs);
    std::vector<uint32_t> blocks(2 * size_t(pairs));
    ASSERT_EQ(imBufGet(device, map, blocks.data()), 0);
    EXPECT_EQ(imBufFree(device, map), 0);
    for (uint32_t band = 0; band < 2; ++band) {
        int holding = 0;
        for (int32_t i = 0; i < pairs; ++i) {
            EXPECT_LE(blocks[2 * i], blocks[2 * i + 1]);
            holding += blocks[2 * i] <= bandAddress[band] && bandAddress[band] + 999 <= blocks[2 * i + 1];
        }
        EXPECT_EQ(holding, 1) << "band " << band;
    }

    // Mode 3: one line per id slot: -1 for an empty slot; the buffer's own line with its
    // shape, fields and band addresses.
    map = 0;
    const int32_t slots = imSysGetMemoryMap(kSystemThread, 3, &map);
    ASSERT_GT(slots, 0) << LastText();
    ASSERT_NE(map, 0u);
    const auto width = static_cast<uint32_t>(imBufInquire(device, map, 3, nullptr));
    EXPECT_GE(width, kMapFixedValues + 2 * 2 + 2) << "room for two fields and two bands";
    EXPECT_EQ(imBufInquire(device, map, 4, nullptr), slots);
    EXPECT_EQ(imBufInquire(device, map, 8, nullptr), static_cast<int32_t>(0x20000040u)) << "doubles";
    std::vector<double> lines(size_t(width) * slots);
    ASSERT_EQ(imBufGet(device, map, lines.data()), 0);
    EXPECT_EQ(imBufFree(device, map), 0);
    const double* line = nullptr;
    int empty = 0;
    for (int32_t s = 0; s < slots; ++s) {
        const double* l = &lines[size_t(s) * width];
        if (l[0] == -1.0) ++empty;
        if (l[0] == static_cast<double>(board)) line = l;
    }
    EXPECT_GT(empty, 0);
    ASSERT_NE(line, nullptr) << "the board buffer has its line";
    EXPECT_EQ(line[1], double(kNode));
    EXPECT_EQ(line[12], -1.0) << "no parent";
    EXPECT_EQ(line[16], 2.0) << "two fields";
    EXPECT_EQ(line[17], 7.0);
    EXPECT_EQ(line[18], 0.5);
    EXPECT_EQ(line[19], 8.0);
    EXPECT_EQ(line[20], -2.0);
    EXPECT_EQ(line[21], double(bandAddress[0]));
    EXPECT_EQ(line[22], double(bandAddress[1]));

    // Other modes give -1, and the first reply value: none.
    uint32_t none = 7;
    EXPECT_EQ(imSysGetMemoryMap(kSystemThread, 1, &none), -1);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(LastError(), 0) << LastText();

    // Freed, the blocks are no longer listed.
    EXPECT_EQ(imBufFree(device, board), 0);
    EXPECT_EQ(imBufFree(device, host), 0);
    map = 0;
    const int32_t left = imSysGetMemoryMap(kSystemThread, 2, &map);
    ASSERT_NE(map, 0u);
    std::vector<uint32_t> after(2 * size_t(std::max(left, 1)));
    ASSERT_EQ(imBufGet(device, map, after.data()), 0);
    EXPECT_EQ(imBufFree(device, map), 0);
    for (int32_t i = 0; i < left; ++i)
        EXPECT_FALSE(after[2 * i] <= bandAddress[0] && bandAddress[0] <= after[2 * i + 1]);
    EXPECT_EQ(left, pairs - 2);
}

TEST_F(SystemTest, DiagnosisDumpsTheRingHeaderAndEverySlot)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u);
    const uint32_t slots = imDevInquire(device, 11, nullptr);
    ASSERT_GT(slots, 0u);
    const std::string path = File("ring.dump");
    imSysDiag(0, 0, 0, path.c_str());
    const std::vector<uint8_t> dump = Read(path);
    ASSERT_EQ(dump.size(), 64 + 256 * size_t(slots));
    uint32_t headerSlots = 0;
    std::memcpy(&headerSlots, dump.data() + 4 * 4, 4);
    EXPECT_EQ(headerSlots, slots) << "header word 4";

    // Only mode 0 dumps; a node that is not open has no ring to dump.
    const std::string other = File("other.dump");
    imSysDiag(0, 0, 1, other.c_str());
    imSysDiag(0, 1, 0, other.c_str());
    EXPECT_TRUE(Read(other).empty());
    EXPECT_EQ(std::fopen(other.c_str(), "rb"), nullptr) << "no file made";
    imSysDiag(0, 0, 0, nullptr);   // no path: nothing written, no failure
    EXPECT_EQ(LastError(), 0) << LastText();
}

// The dump never follows a link onto another file and never waits for a pipe's reader:
// a link, a pipe without a reader and a pipe with one are all refused, and what they
// lead to is left as it was.
TEST_F(SystemTest, DiagnosisRefusesALinkAndAPipe)
{
    ASSERT_NE(Open(), 0u);
    sandbox_->write("kept.txt", "kept");
    const std::string link = File("link.dump");
    ASSERT_EQ(symlink(File("kept.txt").c_str(), link.c_str()), 0);
    imSysDiag(0, 0, 0, link.c_str());
    EXPECT_EQ(Read(File("kept.txt")), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));

    const std::string pipe = File("pipe.dump");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        imSysDiag(0, 0, 0, pipe.c_str());
        return std::string();
    }).has_value());
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        imSysDiag(0, 0, 0, pipe.c_str());
        return std::string();
    }).has_value());
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing written into the pipe";
    ::close(reader);
}

}  // namespace
