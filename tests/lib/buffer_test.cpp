// Buffers as a program sees them: allocated on a simulated host-served node through
// hlclib.h and libhlclib.so only, in board memory, host DMA memory and paged memory;
// pixels, clears, children, fields, copies and files with exact bytes back, the node's
// errors with their texts, and nothing left once everything is freed.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kSystemThread = 0x40000010u | (kNode << 16);
constexpr const char* kOneBoard = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

// Memory locations of a buffer, and the memory kind of a buffer over the caller's memory.
constexpr uint32_t kBoard = 1;
constexpr uint32_t kHostDma = 3;
constexpr uint32_t kPaged = 4;
constexpr uint32_t kCallerMemory = 4;
// Buffer types.
constexpr uint32_t kSigned8 = 0x10000008u;
constexpr uint32_t kSigned16 = 0x10000010u;
// Inquiry types.
constexpr uint32_t kSizeX = 3, kSizeY = 4, kBands = 6, kType = 8, kParent = 30, kOffsetX = 32, kOffsetY = 33,
                   kFieldCount = 38, kLocation = 200, kPitch = 202;
// Lock and unlock of a paged buffer, and the default control value.
constexpr int32_t kLock = 1, kUnlock = 2;
constexpr double kDefault = 268435456.0;
// File formats.
constexpr int32_t kRaw = 1, kTiff = 2, kTiffWithFields = 10;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
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

class BufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcbuf");
        sandbox_->write("halcyra.ini", kOneBoard);
        unsetenv("TIFPATH");
        boardsim::BoardSim::instance().configure();
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setTracing(false);
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0) << LastText();
        }
        // A node left open by a failed test is shut down, a bounded number of times.
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    uint32_t Inq(uint32_t id, uint32_t type) { return static_cast<uint32_t>(imBufInquire(device_, id, type, nullptr)); }
    // A synchronous command: every command posted before it has been served when it returns.
    void Settle() { ASSERT_EQ(imDevInquire(device_, 3, nullptr), 1u); }
    std::string File(const std::string& name) const { return sandbox_->path(name); }
    // The whole buffer, packed: lines back to back, band after band.
    std::vector<uint8_t> Pixels(uint32_t id)
    {
        const size_t bytes = size_t{Inq(id, kSizeX)} * Inq(id, kSizeY) * Inq(id, kBands) * ((Inq(id, kType) & 255) / 8);
        std::vector<uint8_t> out(bytes);
        EXPECT_EQ(imBufGet(device_, id, out.data()), 0) << LastText();
        return out;
    }
    // The fields of a buffer in list order, {key, value}.
    std::vector<std::pair<uint32_t, double>> Fields(uint32_t id)
    {
        std::vector<std::pair<uint32_t, double>> fields;
        int32_t cursor = -1;
        uint32_t key = 0;
        double value = 0;
        while (fields.size() < 64 && imBufGetNextField(device_, id, &cursor, &key, &value) == 0) {
            fields.emplace_back(key, value);
            if (cursor == 0) break;
        }
        return fields;
    }

    std::unique_ptr<libsandbox::Sandbox> sandbox_;
    uint32_t device_ = 0;
};

// ---- allocation and pixels -------------------------------------------------------------

TEST_F(BufferTest, EveryMemoryDepthAndBandCountRoundTripsItsPixelsExactly)
{
    constexpr int32_t kX = 13, kY = 5;
    const size_t dmaBefore = boardsim::BoardSim::instance().dmaBuffers().size();
    for (uint32_t location : {kBoard, kHostDma, kPaged}) {
        for (uint32_t bits : {8u, 16u, 32u}) {
            for (uint32_t bands : {1u, 3u}) {
                SCOPED_TRACE("location " + std::to_string(location) + ", " + std::to_string(bits) + " bits, " +
                             std::to_string(bands) + " bands");
                uint32_t stored = 0;
                const uint32_t id = bands == 1 ? imBufAlloc2d(device_, kX, kY, bits, location, &stored)
                                               : imBufAlloc(device_, kX, kY, bands, bits, location, &stored);
                ASSERT_NE(id, 0u) << LastText();
                EXPECT_EQ(stored, id);
                EXPECT_EQ((id >> 16) & 0xFF, kNode);
                // Kind bits by memory: none for board memory, 0x1000000 host DMA memory,
                // 0xD000000 paged memory the library allocated.
                EXPECT_EQ(id & 0xF000000u, location == kBoard ? 0u : location == kHostDma ? 0x1000000u : 0xD000000u);
                EXPECT_EQ(Inq(id, kSizeX), uint32_t{kX});
                EXPECT_EQ(Inq(id, kSizeY), uint32_t{kY});
                EXPECT_EQ(Inq(id, kBands), bands);
                EXPECT_EQ(Inq(id, kType), bits);
                EXPECT_EQ(Inq(id, kLocation), location);

                const size_t line = size_t{bits / 8} * kX;
                const size_t bytes = line * kY * bands;
                const std::vector<uint8_t> in = Pattern(bytes, static_cast<uint8_t>(bits + bands + location));
                ASSERT_EQ(imBufPut(device_, id, in.data()), 0) << LastText();
                std::vector<uint8_t> out(bytes + 1, 0xEE);
                ASSERT_EQ(imBufGet(device_, id, out.data()), 0) << LastText();
                EXPECT_EQ(0, std::memcmp(in.data(), out.data(), bytes));
                EXPECT_EQ(out[bytes], 0xEE) << "nothing past the packed data";

                // A rectangle written in the middle of every band comes back, and only it
                // changed: line 0 and the columns left of it are as they were.
                const size_t rect = size_t{bits / 8} * 4 * 2 * bands;
                const std::vector<uint8_t> patch = Pattern(rect, 0x80);
                ASSERT_EQ(imBufPut2d(device_, id, 3, 2, 4, 2, patch.data()), 0) << LastText();
                std::vector<uint8_t> back(rect);
                ASSERT_EQ(imBufGet2d(device_, id, 3, 2, 4, 2, back.data()), 0);
                EXPECT_EQ(patch, back);
                const std::vector<uint8_t> after = Pixels(id);
                for (uint32_t b = 0; b < bands; ++b) {
                    const size_t band = b * line * kY;
                    EXPECT_EQ(0, std::memcmp(after.data() + band, in.data() + band, line)) << "line 0 untouched";
                    EXPECT_EQ(0, std::memcmp(after.data() + band + 2 * line, in.data() + band + 2 * line, 3 * (bits / 8)));
                }
                // One line segment through the 1d forms.
                const std::vector<uint8_t> segment = Pattern(size_t{bits / 8} * 5 * bands, 0x31);
                ASSERT_EQ(imBufPut1d(device_, id, 2, 5, segment.data()), 0) << LastText();
                std::vector<uint8_t> segmentBack(segment.size());
                ASSERT_EQ(imBufGet1d(device_, id, 2, 5, segmentBack.data()), 0);
                EXPECT_EQ(segment, segmentBack);

                EXPECT_EQ(imBufFree(device_, id), 0) << LastText();
                Settle();
                ExpectNoError();
                EXPECT_EQ(imBufInquire(device_, id, kSizeX, nullptr), 0) << "freed";
                ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufInquire");
            }
        }
    }
    EXPECT_EQ(boardsim::BoardSim::instance().dmaBuffers().size(), dmaBefore) << "every host DMA block went back";
}

// A transfer finds the buffer's descriptor on the caller's side after its first one; that
// never outlives the buffer: after a modify the transfers use the new layout, after a free
// they are refused as for an id never seen.  (The node modifies no paged buffer.)
TEST_F(BufferTest, PixelTransfersFollowAModifyAndAFreeOfTheirBuffer)
{
    for (uint32_t location : {kBoard, kHostDma, kPaged}) {
        SCOPED_TRACE("location " + std::to_string(location));
        const uint32_t id = imBufAlloc2d(device_, 16, 4, 8, location, nullptr);
        ASSERT_NE(id, 0u) << LastText();
        const std::vector<uint8_t> in = Pattern(64, 9);
        ASSERT_EQ(imBufPut(device_, id, in.data()), 0) << LastText();
        EXPECT_EQ(Pixels(id), in);
        std::vector<uint8_t> out(65, 0xEE);
        if (location != kPaged) {
            ASSERT_EQ(imBufModify(device_, id, 8, 2, 8), 0);
            Settle();
            ExpectNoError();
            const uint32_t pitch = Inq(id, kPitch);
            ASSERT_EQ(imBufGet(device_, id, out.data()), 0) << LastText();
            EXPECT_EQ(out[16], 0xEE) << "8 x 2 pixels, nothing more";
            for (uint32_t y = 0; y < 2; ++y)
                for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(out[y * 8 + x], in[y * pitch + x]) << x << ", " << y;
            const std::vector<uint8_t> small = Pattern(16, 0x40);
            ASSERT_EQ(imBufPut(device_, id, small.data()), 0) << LastText();
            EXPECT_EQ(Pixels(id), small);
        }

        EXPECT_EQ(imBufFree(device_, id), 0) << LastText();
        Settle();
        ExpectNoError();
        EXPECT_EQ(imBufPut(device_, id, in.data()), IM_ERR_INVALID_PARAMETER);
        ExpectError(IM_ERR_INVALID_PARAMETER, "Error in function parameters", "imBufPut");
        EXPECT_EQ(imBufGet(device_, id, out.data()), IM_ERR_INVALID_PARAMETER);
        ExpectError(IM_ERR_INVALID_PARAMETER, "Error in function parameters", "imBufGet");
    }
}

TEST_F(BufferTest, ClearFillsEveryBandOfEveryMemoryTheNodeClears)
{
    for (uint32_t location : {kBoard, kHostDma}) {
        SCOPED_TRACE("location " + std::to_string(location));
        const uint32_t bytes8 = imBufAlloc(device_, 7, 3, 3, 8, location, nullptr);
        const uint32_t bytes16 = imBufAlloc(device_, 5, 2, 2, 16, location, nullptr);
        const uint32_t bytes32 = imBufAlloc2d(device_, 3, 4, 32, location, nullptr);
        ASSERT_NE(bytes8, 0u) << LastText();
        ASSERT_NE(bytes16, 0u) << LastText();
        ASSERT_NE(bytes32, 0u) << LastText();
        EXPECT_EQ(imBufClear(device_, bytes8, 90.0, 0), 0);
        EXPECT_EQ(imBufClear(device_, bytes16, 4660.0, 0), 0);
        EXPECT_EQ(imBufClear(device_, bytes32, 305419896.0, 0), 0);
        Settle();
        for (uint8_t v : Pixels(bytes8)) ASSERT_EQ(v, 90);
        const std::vector<uint8_t> p16 = Pixels(bytes16);
        ASSERT_EQ(p16.size(), 5u * 2 * 2 * 2);
        for (size_t i = 0; i < p16.size(); i += 2) ASSERT_EQ(p16[i] | p16[i + 1] << 8, 0x1234);
        const std::vector<uint8_t> p32 = Pixels(bytes32);
        ASSERT_EQ(p32.size(), 3u * 4 * 4);
        for (size_t i = 0; i < p32.size(); i += 4) {
            uint32_t v;
            std::memcpy(&v, p32.data() + i, 4);
            ASSERT_EQ(v, 0x12345678u);
        }
        for (uint32_t id : {bytes8, bytes16, bytes32}) EXPECT_EQ(imBufFree(device_, id), 0);
        Settle();
        ExpectNoError();
    }
    // Paged memory is the host's: the node's clear refuses it and leaves it as it was.
    const uint32_t paged = imBufAlloc2d(device_, 6, 2, 8, kPaged, nullptr);
    ASSERT_NE(paged, 0u);
    const std::vector<uint8_t> in = Pattern(12, 4);
    ASSERT_EQ(imBufPut(device_, paged, in.data()), 0);
    EXPECT_EQ(imBufClear(device_, paged, 1.0, 0), 0) << "posted";
    Settle();
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufClear");
    EXPECT_EQ(Pixels(paged), in);
    EXPECT_EQ(imBufFree(device_, paged), 0);
}

TEST_F(BufferTest, APagedBufferOverCallerMemoryIsThatMemoryAndStaysTheCallers)
{
    constexpr int32_t kX = 16, kY = 4;
    std::vector<uint8_t> band0(kX * kY, 0), band1(kX * kY, 0);
    const uint32_t addresses[2] = {Address(band0.data()), Address(band1.data())};
    uint32_t id = 0;
    ASSERT_NE(imBufCreate(device_, kX, kY, 2, 8, kCallerMemory, addresses, kX, &id), 0u) << LastText();
    EXPECT_EQ(id & 0xF000000u, 0xC000000u) << "paged, over memory the caller gave";
    EXPECT_EQ(Inq(id, kBands), 2u);
    EXPECT_EQ(Inq(id, kPitch), uint32_t{kX});
    const std::vector<uint8_t> in = Pattern(2 * kX * kY, 3);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0) << LastText();
    EXPECT_EQ(0, std::memcmp(band0.data(), in.data(), band0.size()));
    EXPECT_EQ(0, std::memcmp(band1.data(), in.data() + band0.size(), band1.size()));
    // What the caller writes into its memory the buffer reads.
    band1[5] = 0xA5;
    EXPECT_EQ(Pixels(id)[kX * kY + 5], 0xA5);
    EXPECT_EQ(imBufFree(device_, id), 0);
    Settle();
    ExpectNoError();
    EXPECT_EQ(band0[1], in[1]) << "the memory is the caller's again, untouched";
}

TEST_F(BufferTest, BoardMemoryIsWrittenAndReadThroughTheAccessor)
{
    auto& sim = boardsim::BoardSim::instance();
    constexpr int32_t kX = 32, kY = 8;   // a pitch of exactly one line: the band is one block
    const uint32_t id = imBufAlloc2d(device_, kX, kY, 8, kBoard, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    const std::vector<uint8_t> in = Pattern(kX * kY, 0x41);
    sim.clearTrace();
    sim.setTracing(true);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0) << LastText();
    std::vector<boardsim::HwAccess> writes;
    for (const boardsim::HwAccess& a : sim.trace())
        if (a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryMemory) writes.push_back(a);
    ASSERT_FALSE(writes.empty()) << "the pixels went to board memory through the accessor";
    // The written bytes, in board-memory order, are the pixels.
    std::map<uint32_t, uint8_t> written;
    for (const boardsim::HwAccess& a : writes)
        for (uint32_t i = 0; i < a.width; ++i) written[a.offset + i] = static_cast<uint8_t>(a.value >> (8 * i));
    ASSERT_EQ(written.size(), in.size());
    const uint32_t start = written.begin()->first;
    std::vector<uint8_t> seen;
    for (const auto& [offset, byte] : written) {
        EXPECT_EQ(offset, start + seen.size()) << "one contiguous band";
        seen.push_back(byte);
    }
    EXPECT_EQ(seen, in);
    // The board memory itself holds them.
    std::vector<uint8_t> board(in.size());
    ASSERT_TRUE(sim.orlo(0).readMemory(start, board.data(), static_cast<uint32_t>(board.size())));
    EXPECT_EQ(board, in);

    // Reading back is board-memory reads, nothing else of the board.
    sim.clearTrace();
    std::vector<uint8_t> out(in.size());
    ASSERT_EQ(imBufGet(device_, id, out.data()), 0);
    sim.setTracing(false);
    EXPECT_EQ(out, in);
    uint32_t readBytes = 0;
    for (const boardsim::HwAccess& a : sim.trace()) {
        if (a.area != boardsim::HwArea::PrimaryMemory) continue;
        EXPECT_EQ(a.op, boardsim::HwOp::Read);
        EXPECT_GE(a.offset, start);
        EXPECT_LT(a.offset, start + in.size());
        readBytes += a.width;
    }
    EXPECT_EQ(readBytes, in.size());
    EXPECT_EQ(sim.strayAccesses(), 0u);
    EXPECT_EQ(imBufFree(device_, id), 0);
}

// ---- children and fields -----------------------------------------------------------------

TEST_F(BufferTest, ChildrenSeeTheirParentsPixelsWhereverTheParentLies)
{
    for (uint32_t location : {kBoard, kHostDma, kPaged}) {
        SCOPED_TRACE("location " + std::to_string(location));
        const uint32_t parent = imBufAlloc(device_, 8, 6, 3, 8, location, nullptr);
        ASSERT_NE(parent, 0u) << LastText();
        const std::vector<uint8_t> in = Pattern(8 * 6 * 3, 0);
        ASSERT_EQ(imBufPut(device_, parent, in.data()), 0);
        const auto at = [&](uint32_t band, uint32_t x, uint32_t y) { return in[band * 48 + y * 8 + x]; };

        uint32_t child = 0;
        ASSERT_NE(imBufChild(device_, parent, 2, 1, 4, 3, &child), 0u) << LastText();
        EXPECT_EQ(Inq(child, kSizeX), 4u);
        EXPECT_EQ(Inq(child, kSizeY), 3u);
        EXPECT_EQ(Inq(child, kBands), 3u);
        EXPECT_EQ(Inq(child, kParent), parent);
        EXPECT_EQ(Inq(child, kOffsetX), 2u);
        EXPECT_EQ(Inq(child, kOffsetY), 1u);
        std::vector<uint8_t> region = Pixels(child);
        ASSERT_EQ(region.size(), 4u * 3 * 3);
        for (uint32_t b = 0; b < 3; ++b)
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(region[b * 12 + y * 4 + x], at(b, x + 2, y + 1));

        // A child of the child points at the root and adds both offsets.
        const uint32_t grandchild = imBufChild(device_, child, 1, 1, 2, 2, nullptr);
        ASSERT_NE(grandchild, 0u) << LastText();
        EXPECT_EQ(Inq(grandchild, kParent), parent);
        EXPECT_EQ(Inq(grandchild, kOffsetX), 3u);
        EXPECT_EQ(Inq(grandchild, kOffsetY), 2u);
        EXPECT_EQ(Pixels(grandchild)[0], at(0, 3, 2));

        // Writing through the child changes the parent inside its region only.
        const std::vector<uint8_t> ones(4 * 3 * 3, 0xFF);
        ASSERT_EQ(imBufPut(device_, child, ones.data()), 0);
        const std::vector<uint8_t> whole = Pixels(parent);
        for (uint32_t b = 0; b < 3; ++b)
            for (uint32_t y = 0; y < 6; ++y)
                for (uint32_t x = 0; x < 8; ++x) {
                    const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
                    ASSERT_EQ(whole[b * 48 + y * 8 + x], inside ? 0xFF : at(b, x, y)) << b << " " << x << " " << y;
                }

        // A band child has one band, the parent's band 2.
        uint32_t band2 = 0;
        ASSERT_NE(imBufChildBand(device_, parent, 2, &band2), 0u) << LastText();
        EXPECT_EQ(Inq(band2, kBands), 1u);
        EXPECT_EQ(Pixels(band2), std::vector<uint8_t>(whole.begin() + 96, whole.end()));

        // A moved child shows the region at its new place; 0x40000000 + x is a place in
        // the parent, -9999 keeps a size.  The node moves children in the memory it
        // addresses itself, not in paged memory.
        EXPECT_EQ(imBufChildMove(device_, child, 0x40000000 + 4, 0x40000000 + 3, -9999, -9999), 0);
        Settle();
        if (location == kPaged) {
            ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufChildMove");
            EXPECT_EQ(Inq(child, kOffsetX), 2u);
        } else {
            ExpectNoError();
            EXPECT_EQ(Inq(child, kOffsetX), 4u);
            EXPECT_EQ(Inq(child, kOffsetY), 3u);
            EXPECT_EQ(Inq(child, kSizeX), 4u);
            const std::vector<uint8_t> moved = Pixels(child);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(moved[y * 4 + x], whole[(y + 3) * 8 + x + 4]);
        }

        for (uint32_t id : {band2, grandchild, child}) EXPECT_EQ(imBufFree(device_, id), 0);
        // Freeing the children left the parent's pixels alone.
        EXPECT_EQ(Pixels(parent), whole);
        EXPECT_EQ(imBufFree(device_, parent), 0);
        Settle();
        ExpectNoError();
    }
}

TEST_F(BufferTest, FieldsArePutReadWalkedCopiedAndRemoved)
{
    const uint32_t a = imBufAlloc2d(device_, 4, 4, 8, kHostDma, nullptr);
    const uint32_t b = imBufAlloc2d(device_, 4, 4, 8, kBoard, nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(imBufPutField(device_, a, 77, 12.75), 0);
    EXPECT_EQ(imBufPutField(device_, a, 5, -3.5), 0);
    EXPECT_EQ(imBufPutField(device_, a, 77, 13.25), 0) << "an existing key takes the new value";
    Settle();
    EXPECT_EQ(Inq(a, kFieldCount), 2u);
    double d = 0;
    int32_t i = 0;
    EXPECT_EQ(imBufGetFieldDouble(device_, a, 77, &d), 0);
    EXPECT_EQ(d, 13.25);
    EXPECT_EQ(imBufGetField(device_, a, 5, &i), 0);
    EXPECT_EQ(i, -3) << "truncated toward zero";
    i = 99;
    EXPECT_EQ(imBufGetField(device_, a, 6, &i), IM_ERR_NOT_PRESENT);
    EXPECT_EQ(i, 99) << "nothing stored for an absent field";
    EXPECT_EQ(Fields(a), (std::vector<std::pair<uint32_t, double>>{{77, 13.25}, {5, -3.5}})) << "in the order put";
    ExpectNoError();

    // One field under another key, then all of them under their own keys.
    EXPECT_EQ(imBufCopyField(device_, a, 5, b, 9), 0);
    Settle();
    EXPECT_EQ(Fields(b), (std::vector<std::pair<uint32_t, double>>{{9, -3.5}}));
    EXPECT_EQ(imBufCopyField(device_, a, 0, b, 0), 0);
    Settle();
    EXPECT_EQ(Fields(b), (std::vector<std::pair<uint32_t, double>>{{9, -3.5}, {77, 13.25}, {5, -3.5}}));
    ExpectNoError();

    EXPECT_EQ(imBufRemoveField(device_, b, 77), 0);
    EXPECT_EQ(imBufRemoveField(device_, b, 1234), 0) << "a missing key is no error";
    Settle();
    ExpectNoError();
    EXPECT_EQ(Fields(b), (std::vector<std::pair<uint32_t, double>>{{9, -3.5}, {5, -3.5}}));
    EXPECT_EQ(Inq(b, kFieldCount), 2u);
    for (uint32_t id : {a, b}) EXPECT_EQ(imBufFree(device_, id), 0);
}

// ---- copies ------------------------------------------------------------------------------

TEST_F(BufferTest, CopiesBetweenEveryKindTheHostReaches)
{
    constexpr int32_t kY = 5;
    struct Kind {
        const char* name;
        uint32_t location;
        int32_t width;
    };
    // Board memory and host DMA memory 12 pixels wide (a pitch of 24 bytes), paged memory
    // 13 (a pitch of 28): a paged buffer of another pitch than a board buffer is copied by
    // the host.
    const Kind kinds[] = {{"board", kBoard, 12}, {"host DMA", kHostDma, 12}, {"paged", kPaged, 13}};
    for (const Kind& from : kinds) {
        for (const Kind& into : kinds) {
            const bool boardAndDma = (from.location == kBoard && into.location == kHostDma) ||
                                     (from.location == kHostDma && into.location == kBoard);
            if (boardAndDma) continue;   // a bus-master transfer, not a copy the host makes
            SCOPED_TRACE(std::string(from.name) + " into " + into.name);
            const std::vector<uint8_t> in = Pattern(size_t{2} * from.width * kY * 2, 9);
            const uint32_t source = imBufAlloc(device_, from.width, kY, 2, 16, from.location, nullptr);
            const uint32_t destination = imBufAlloc(device_, into.width, kY, 2, kSigned16, into.location, nullptr);
            ASSERT_NE(source, 0u) << LastText();
            ASSERT_NE(destination, 0u) << LastText();
            ASSERT_EQ(imBufPut(device_, source, in.data()), 0);
            const std::vector<uint8_t> zero(size_t{2} * into.width * kY * 2, 0);
            ASSERT_EQ(imBufPut(device_, destination, zero.data()), 0);
            // Signed and unsigned 16-bit buffers copy; the common top-left part goes.
            EXPECT_EQ(imBufCopy(device_, source, destination, 0, 0), 0) << LastText();
            Settle();
            ExpectNoError();
            const std::vector<uint8_t> out = Pixels(destination);
            const size_t outLine = size_t{2} * into.width, inLine = size_t{2} * from.width;
            const size_t common = std::min(outLine, inLine);
            for (uint32_t band = 0; band < 2; ++band)
                for (uint32_t y = 0; y < kY; ++y) {
                    EXPECT_EQ(0, std::memcmp(out.data() + (band * kY + y) * outLine, in.data() + (band * kY + y) * inLine,
                                             common))
                        << "band " << band << " line " << y;
                    if (outLine > common) {
                        EXPECT_EQ(out[(band * kY + y) * outLine + common], 0) << "past the source";
                    }
                }
            for (uint32_t id : {source, destination}) EXPECT_EQ(imBufFree(device_, id), 0);
        }
    }
    Settle();
    ExpectNoError();
}

TEST_F(BufferTest, CopiesRefuseBuffersOfAnotherDepthWithTheirText)
{
    const uint32_t u8 = imBufAlloc2d(device_, 10, 3, 8, kHostDma, nullptr);
    const uint32_t s8 = imBufAlloc2d(device_, 10, 3, kSigned8, kPaged, nullptr);
    const uint32_t u16 = imBufAlloc2d(device_, 10, 3, 16, kHostDma, nullptr);
    const uint32_t b8 = imBufAlloc2d(device_, 10, 3, 8, kBoard, nullptr);
    const uint32_t b16 = imBufAlloc2d(device_, 10, 3, 16, kBoard, nullptr);
    for (uint32_t id : {u8, s8, u16, b8, b16}) ASSERT_NE(id, 0u) << LastText();
    const std::vector<uint8_t> in = Pattern(30, 1);
    ASSERT_EQ(imBufPut(device_, u8, in.data()), 0);
    EXPECT_EQ(imBufCopy(device_, u8, s8, 0, 0), 0);
    EXPECT_EQ(Pixels(s8), in);
    ExpectNoError();

    // On the host: the export's own check.
    EXPECT_EQ(imBufCopy(device_, u8, u16, 0, 0), IM_ERR_RESTRICTED);
    ExpectError(IM_ERR_RESTRICTED, "Incompatible buffer", "imBufCopy");
    // On the node, two board buffers of one node: the processor copy wants equal depths.
    EXPECT_EQ(imBufCopy(device_, b8, b16, 0, 0), 0) << "posted";
    Settle();
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufCopy");
    // A source that is no buffer.
    EXPECT_EQ(imBufCopy(device_, (kNode << 16) | 0x777u, b8, 0, 0), 0);
    Settle();
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufCopy");
    for (uint32_t id : {u8, s8, u16, b8, b16}) EXPECT_EQ(imBufFree(device_, id), 0);
}

// ---- files -------------------------------------------------------------------------------

TEST_F(BufferTest, RawFilesHoldThePixelsAndLoadBackExactly)
{
    for (uint32_t location : {kBoard, kHostDma, kPaged}) {
        SCOPED_TRACE("location " + std::to_string(location));
        const uint32_t id = imBufAlloc(device_, 9, 4, 3, 16, location, nullptr);
        ASSERT_NE(id, 0u) << LastText();
        const std::vector<uint8_t> in = Pattern(9 * 4 * 3 * 2, static_cast<uint8_t>(location));
        ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
        const std::string path = File("raw" + std::to_string(location) + ".raw");
        ASSERT_EQ(imBufSave(device_, path.c_str(), kRaw, id), 0) << LastText();
        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, in) << "the bands one after another, lines packed, no header";

        const uint32_t again = imBufAlloc(device_, 9, 4, 3, 16, kBoard, nullptr);
        ASSERT_NE(again, 0u);
        ASSERT_EQ(imBufLoad(device_, path.c_str(), kRaw, again), 0) << LastText();
        EXPECT_EQ(Pixels(again), in);
        for (uint32_t x : {id, again}) EXPECT_EQ(imBufFree(device_, x), 0);
        ExpectNoError();
    }
}

TEST_F(BufferTest, TiffFilesRestoreTheSameBufferWithItsFields)
{
    struct Case {
        uint32_t bands, type, location;
    };
    for (const Case c : {Case{1, 8, kBoard}, Case{3, 8, kHostDma}, Case{1, 16, kHostDma}, Case{2, kSigned16, kBoard},
                         Case{1, 32, kBoard}}) {
        SCOPED_TRACE(std::to_string(c.bands) + " bands, type " + std::to_string(c.type) + ", location " +
                     std::to_string(c.location));
        const uint32_t id = imBufAlloc(device_, 11, 7, c.bands, c.type, c.location, nullptr);
        ASSERT_NE(id, 0u) << LastText();
        const std::vector<uint8_t> in = Pattern(size_t{11} * 7 * c.bands * ((c.type & 255) / 8), 0x17);
        ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
        EXPECT_EQ(imBufPutField(device_, id, 3, 1.25), 0);
        EXPECT_EQ(imBufPutField(device_, id, 1000, -7.0e9), 0);
        Settle();

        for (int32_t format : {kTiff, kTiffWithFields}) {
            SCOPED_TRACE("format " + std::to_string(format));
            const std::string path = File("image" + std::to_string(format) + ".tif");
            ASSERT_EQ(imBufSave(device_, path.c_str(), format, id), 0) << LastText();
            uint32_t restored = 0;
            ASSERT_NE(imBufRestore(device_, path.c_str(), format, c.location, &restored), 0u) << LastText();
            ASSERT_NE(restored, 0u);
            EXPECT_EQ(Inq(restored, kSizeX), 11u);
            EXPECT_EQ(Inq(restored, kSizeY), 7u);
            EXPECT_EQ(Inq(restored, kBands), c.bands);
            EXPECT_EQ(Inq(restored, kType), c.type);
            EXPECT_EQ(Inq(restored, kLocation), c.location);
            EXPECT_EQ(Pixels(restored), in);
            if (format == kTiffWithFields) {
                EXPECT_EQ(Fields(restored), (std::vector<std::pair<uint32_t, double>>{{3, 1.25}, {1000, -7.0e9}}));
            } else {
                EXPECT_TRUE(Fields(restored).empty());
            }
            // Loaded into an existing buffer, the same pixels and fields.
            const uint32_t loaded = imBufAlloc(device_, 11, 7, c.bands, c.type, kBoard, nullptr);
            ASSERT_NE(loaded, 0u);
            ASSERT_EQ(imBufLoad(device_, path.c_str(), format, loaded), 0) << LastText();
            EXPECT_EQ(Pixels(loaded), in);
            EXPECT_EQ(Fields(loaded).size(), format == kTiffWithFields ? 2u : 0u);
            for (uint32_t x : {restored, loaded}) EXPECT_EQ(imBufFree(device_, x), 0);
            ExpectNoError();
        }
        EXPECT_EQ(imBufFree(device_, id), 0);
    }
}

TEST_F(BufferTest, APagedBufferSavesAndRestoresItsPixels)
{
    const uint32_t id = imBufAlloc(device_, 10, 6, 3, 8, kPaged, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    const std::vector<uint8_t> in = Pattern(10 * 6 * 3, 0x66);
    ASSERT_EQ(imBufPut(device_, id, in.data()), 0);
    const std::string path = File("paged.tif");
    ASSERT_EQ(imBufSave(device_, path.c_str(), kTiff, id), 0) << LastText();
    uint32_t restored = 0;
    ASSERT_NE(imBufRestore(device_, path.c_str(), kTiff, kPaged, &restored), 0u) << LastText();
    EXPECT_EQ(restored & 0xF000000u, 0xD000000u);
    EXPECT_EQ(Inq(restored, kBands), 3u);
    EXPECT_EQ(Pixels(restored), in);
    for (uint32_t x : {restored, id}) EXPECT_EQ(imBufFree(device_, x), 0);
    Settle();
    ExpectNoError();
}

TEST_F(BufferTest, FileErrorsHaveTheirTexts)
{
    const uint32_t id = imBufAlloc2d(device_, 4, 4, 8, kBoard, nullptr);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(imBufLoad(device_, nullptr, kTiff, id), IM_ERR_INVALID_PARAMETER);
    ExpectError(IM_ERR_INVALID_PARAMETER, "Invalid file name", "imBufLoad");
    EXPECT_EQ(imBufLoad(device_, File("x.tif").c_str(), 3, id), IM_ERR_RESTRICTED);
    ExpectError(IM_ERR_RESTRICTED, "Invalid file format", "imBufLoad");
    uint32_t restored = 7;
    EXPECT_EQ(imBufRestore(device_, File("absent.tif").c_str(), kTiff, kBoard, &restored), 0u);
    EXPECT_EQ(restored, 0u);
    ExpectError(IM_ERR_FILE_ACCESS, "Cannot find file in path", "imBufRestore");
    EXPECT_EQ(imBufSave(device_, File("y.tif").c_str(), kTiff, (kNode << 16) | 0x777u), IM_ERR_INVALID_PARAMETER);
    ExpectError(IM_ERR_INVALID_PARAMETER, "Invalid buffer ID", "imBufSave");
    EXPECT_EQ(imBufSave(device_, File("no/such/dir/z.raw").c_str(), kRaw, id), IM_ERR_FILE_ACCESS);
    ExpectError(IM_ERR_FILE_ACCESS, "Opening file", "imBufSave");
    EXPECT_EQ(imBufFree(device_, id), 0);
}

// ---- the node's errors -------------------------------------------------------------------

TEST_F(BufferTest, TheNodesErrorsReachTheCallerWithTheirTexts)
{
    const uint32_t parent = imBufAlloc2d(device_, 64, 48, 8, kBoard, nullptr);
    ASSERT_NE(parent, 0u) << LastText();
    const uint32_t unknown = (kNode << 16) | 0x777u;

    // A wrong id.
    EXPECT_EQ(imBufFree(device_, unknown), 0) << "posted";
    Settle();
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufFree");
    EXPECT_EQ(imBufChild(device_, unknown, 0, 0, 4, 4, nullptr), 0u);
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufChild");
    double d = 4.5;
    EXPECT_EQ(imBufGetFieldDouble(device_, unknown, 1, &d), IM_ERR_INVALID_BUFFER);
    EXPECT_EQ(d, 4.5);
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufGetFieldDouble");

    // A wrong kind: the node's thread object is no image buffer; a root is no child.
    EXPECT_EQ(imBufPutField(device_, kSystemThread, 1, 1.0), 0);
    Settle();
    ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufPutField");
    EXPECT_EQ(imBufChildMove(device_, parent, 1, 1, -9999, -9999), 0);
    Settle();
    ExpectError(IM_ERR_BUFFER_ATTRIBUTE, "Unacceptable buffer attribute (size, type, etc.)", "BufChildMove");

    // A child outside its parent; an offset past the edge leaves no size.
    EXPECT_EQ(imBufChild(device_, parent, 64, 0, 0, 0, nullptr), 0u);
    ExpectError(IM_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufChild");
    // Clamped instead: a size of 0 or past the edge is what is left of the parent.
    const uint32_t corner = imBufChild(device_, parent, 60, 40, 0, 100, nullptr);
    ASSERT_NE(corner, 0u) << LastText();
    EXPECT_EQ(Inq(corner, kSizeX), 4u);
    EXPECT_EQ(Inq(corner, kSizeY), 8u);
    // Moved outside its parent.
    EXPECT_EQ(imBufChildMove(device_, corner, 8, 0, -9999, -9999), 0);
    Settle();
    ExpectError(IM_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufChildMove");
    EXPECT_EQ(Inq(corner, kOffsetX), 60u) << "the child stayed";

    // Fields keyed 0 on one side only.
    EXPECT_EQ(imBufCopyField(device_, parent, 5, corner, 0), 0);
    Settle();
    ExpectError(IM_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufCopyField");

    // Lock and unlock are for paged buffers only: a board buffer is refused on the node
    // when asked directly.
    EXPECT_EQ(imBufControl(device_, parent, kLock, kDefault), 0) << "refused on the host with a notice";
    ExpectNoError();
    EXPECT_EQ(imBufFree(device_, corner), 0);
    EXPECT_EQ(imBufFree(device_, parent), 0);
    Settle();
    ExpectNoError();
}

TEST_F(BufferTest, EveryBandOfAPagedBufferLocks)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t id = imBufAlloc(device_, 3000, 3, 3, 8, kPaged, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(imBufControl(device_, id, kLock, kDefault), 0) << LastText();
    ExpectNoError();
    uint32_t bytes = 0;
    for (const auto& [address, length] : sim.lockedRanges()) bytes += length;
    EXPECT_GE(bytes, 3u * 3000 * 3) << "the pages of all three bands";
    // The node took each band's page list: the descriptor map shows a list for every band
    // (its band addresses, after the 17 fixed values of a line without fields).
    const auto bandLists = [&]() {
        uint32_t map = 0;
        const int32_t slots = imSysGetMemoryMap(kSystemThread, 3, &map);
        const uint32_t width = Inq(map, kSizeX);
        std::vector<double> values(size_t(width) * std::max(slots, 0));
        EXPECT_EQ(imBufGet(device_, map, values.data()), 0);
        EXPECT_EQ(imBufFree(device_, map), 0);
        std::vector<double> lists;
        for (int32_t slot = 0; slot < slots; ++slot)
            if (values[size_t(slot) * width] == double(id))
                lists.assign(values.begin() + slot * width + 17, values.begin() + slot * width + 20);
        return lists;
    };
    std::vector<double> lists = bandLists();
    ASSERT_EQ(lists.size(), 3u);
    for (double list : lists) EXPECT_NE(list, 0.0);
    EXPECT_EQ(imBufControl(device_, id, kUnlock, kDefault), 0);
    EXPECT_TRUE(sim.lockedRanges().empty());
    lists = bandLists();
    ASSERT_EQ(lists.size(), 3u);
    for (double list : lists) EXPECT_EQ(list, 0.0) << "the node let the lists go";
    EXPECT_EQ(imBufFree(device_, id), 0);
    Settle();
    ExpectNoError();
}

TEST_F(BufferTest, APagedBufferLockedTwiceIsUnlockedByTheSecondUnlock)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t id = imBufAlloc2d(device_, 64, 32, 8, kPaged, nullptr);
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_TRUE(sim.lockedRanges().empty());
    EXPECT_EQ(imBufControl(device_, id, kLock, kDefault), 0) << LastText();
    const auto locked = sim.lockedRanges();
    EXPECT_FALSE(locked.empty()) << "the buffer's pages are locked";
    EXPECT_EQ(imBufControl(device_, id, kLock, kDefault), 0);
    EXPECT_EQ(sim.lockedRanges(), locked) << "a second lock counts, nothing more is locked";
    EXPECT_EQ(imBufControl(device_, id, kUnlock, kDefault), 0);
    EXPECT_EQ(sim.lockedRanges(), locked) << "still locked once";
    EXPECT_EQ(imBufControl(device_, id, kUnlock, kDefault), 0);
    EXPECT_TRUE(sim.lockedRanges().empty());
    ExpectNoError();
    // An unlock without a lock.
    EXPECT_EQ(imBufControl(device_, id, kUnlock, kDefault), IM_ERR_NO_SYSTEM);
    ExpectError(IM_ERR_NO_SYSTEM, "Cannot unlock buffer", "imBufControl");
    // Freed while locked: unlocked first.
    EXPECT_EQ(imBufControl(device_, id, kLock, kDefault), 0);
    EXPECT_FALSE(sim.lockedRanges().empty());
    EXPECT_EQ(imBufFree(device_, id), 0);
    Settle();
    EXPECT_TRUE(sim.lockedRanges().empty());
    ExpectNoError();
}

// ---- nothing left behind -----------------------------------------------------------------

TEST_F(BufferTest, FreedBuffersLeaveNoBlockAndNoDescriptorAndTheCloseLeavesNoMemory)
{
    auto& sim = boardsim::BoardSim::instance();
    // The node's used heap blocks and its descriptor slots in use, through the memory map.
    const auto usedBlocks = [&]() {
        uint32_t map = 0;
        const int32_t pairs = imSysGetMemoryMap(kSystemThread, 2, &map);
        EXPECT_GE(pairs, 0);
        EXPECT_NE(map, 0u) << LastText();
        std::vector<uint32_t> words(size_t(std::max(pairs, 1)) * 2);
        if (map) {
            EXPECT_EQ(imBufGet(device_, map, words.data()), 0);
            EXPECT_EQ(imBufFree(device_, map), 0);
        }
        words.resize(size_t(std::max(pairs, 0)) * 2);
        return words;
    };
    const auto usedSlots = [&]() {
        uint32_t map = 0;
        const int32_t slots = imSysGetMemoryMap(kSystemThread, 3, &map);
        EXPECT_GT(slots, 0);
        const uint32_t width = Inq(map, kSizeX);
        std::vector<double> values(size_t(width) * slots);
        if (map) {
            EXPECT_EQ(imBufGet(device_, map, values.data()), 0);
            EXPECT_EQ(imBufFree(device_, map), 0);
        }
        Settle();
        std::vector<uint32_t> ids;
        for (int32_t s = 0; s < slots; ++s)
            if (values[size_t(s) * width] != -1.0 && static_cast<uint32_t>(values[size_t(s) * width]) != map)
                ids.push_back(static_cast<uint32_t>(values[size_t(s) * width]));
        return ids;
    };
    const std::vector<uint32_t> blocksBefore = usedBlocks();
    const std::vector<uint32_t> slotsBefore = usedSlots();
    const size_t dmaBefore = sim.dmaBuffers().size();

    std::vector<uint32_t> ids;
    for (uint32_t location : {kBoard, kHostDma, kPaged}) {
        ids.push_back(imBufAlloc(device_, 20, 10, 3, 16, location, nullptr));
        ids.push_back(imBufChild(device_, ids.back(), 1, 1, 5, 5, nullptr));
        ids.push_back(imBufAlloc2d(device_, 7, 7, 8, location, nullptr));
    }
    for (uint32_t id : ids) ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(imBufPutField(device_, ids[0], 1, 2.0), 0);
    Settle();
    // The board buffers' blocks are listed; their ids hold descriptor slots.
    EXPECT_GT(usedBlocks().size(), blocksBefore.size());
    const std::vector<uint32_t> slotsWith = usedSlots();
    for (uint32_t id : ids) EXPECT_NE(std::find(slotsWith.begin(), slotsWith.end(), id), slotsWith.end()) << std::hex << id;
    EXPECT_GT(sim.dmaBuffers().size(), dmaBefore);

    for (auto it = ids.rbegin(); it != ids.rend(); ++it) EXPECT_EQ(imBufFree(device_, *it), 0);
    Settle();
    ExpectNoError();
    EXPECT_EQ(usedBlocks(), blocksBefore);
    EXPECT_EQ(usedSlots(), slotsBefore);
    EXPECT_EQ(sim.dmaBuffers().size(), dmaBefore);

    // Buffers left to the close go with the node: no DMA block, no locked page outlives it.
    ASSERT_NE(imBufAlloc(device_, 8, 8, 2, 8, kHostDma, nullptr), 0u);
    const uint32_t locked = imBufAlloc2d(device_, 8, 8, 8, kPaged, nullptr);
    ASSERT_NE(locked, 0u);
    EXPECT_EQ(imBufControl(device_, locked, kLock, kDefault), 0);
    EXPECT_EQ(imDevFree(device_), 0) << LastText();
    device_ = 0;
    EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_TRUE(sim.dmaBuffers().empty());
    ExpectNoError();
}

}  // namespace
