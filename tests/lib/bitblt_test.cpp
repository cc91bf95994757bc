// Copies inside one board's display memory through the shared library: the display
// Orlo's engine used as a blitter, overlapping moves in the direction and strips that keep
// every pixel, a buffer copied onto itself, bands of wide pixels.  Through hlclib.h and
// libhlclib.so only, with the simulated display Orlo's engine read back.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kDisplayHeap = 0x40000020u;   // any display heap

using libsandbox::LastText;

boardsim::BoardSim& Sim()
{
    return boardsim::BoardSim::instance();
}

// A pattern that differs at every byte of a line and between lines.
std::vector<uint8_t> Pattern(size_t bytes, uint32_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251 + seed) & 0xFF);
    return v;
}

class BitBltLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.write("halcyra.ini", libsandbox::kOwnScreenIni);
        box_.write("mode.vcf", libsandbox::Mode640Vcf());
        // The desktop's one screen lies on another board: this board runs its own.
        libsandbox::ConfigureDisplayBoard(true);
        uint32_t device = 0;
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device), 0u) << LastText();
        device_ = device;
        // The display heaps follow the shown display's size.
        uint32_t display = 0;
        ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display), 0u) << LastText();
        display_ = display;
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (auto it = ids_.rbegin(); it != ids_.rend(); ++it) imBufFree(kThread, *it);
        if (display_) imDispFree(kThread, display_);
        if (device_) imDevFree(device_);
        Sim().configure();
    }
    uint32_t Alloc(int32_t x, int32_t y, uint32_t bands, uint32_t bits)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(kThread, x, y, bands, bits, kDisplayHeap, &id), 0u) << LastText();
        if (id) ids_.push_back(id);
        return id;
    }
    uint32_t Child(uint32_t parent, int32_t x, int32_t y, int32_t sx, int32_t sy)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufChild(kThread, parent, x, y, sx, sy, &id), 0u) << LastText();
        if (id) ids_.push_back(id);
        return id;
    }
    static uint64_t Blits() { return Sim().vmTransfer(0, true).transfers(); }

    libsandbox::Sandbox box_{"hlcbitblt"};
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    std::vector<uint32_t> ids_;
};

TEST_F(BitBltLibTest, ADisplayBufferCopiedOntoItselfReturnsZeroWithoutTheEngine)
{
    const uint32_t a = Alloc(64, 8, 1, 8);
    const std::vector<uint8_t> data = Pattern(64 * 8, 3);
    ASSERT_EQ(imBufPut(kThread, a, data.data()), 0) << LastText();
    const uint64_t before = Blits();
    EXPECT_EQ(imBufCopy(kThread, a, a, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, a, back.data()), 0) << LastText();
    EXPECT_EQ(Blits(), before);
    EXPECT_EQ(back, data);
}

TEST_F(BitBltLibTest, TwoDisplayBuffersAreCopiedExactly)
{
    const uint32_t a = Alloc(100, 20, 1, 8), b = Alloc(100, 20, 1, 8);
    const std::vector<uint8_t> data = Pattern(100 * 20, 11);
    ASSERT_EQ(imBufPut(kThread, a, data.data()), 0) << LastText();
    const uint64_t before = Blits();
    EXPECT_EQ(imBufCopy(kThread, a, b, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, b, back.data()), 0) << LastText();
    EXPECT_EQ(Blits(), before + 1);
    EXPECT_EQ(back, data);
}

TEST_F(BitBltLibTest, OverlappingRightShiftRunsRightToLeftInStrips)
{
    // 2000 pixels shifted right by 10 inside one buffer: four strips of 500 pixels, each
    // no wider than the 512 bytes the engine holds, the right-most first.
    const uint32_t frame = Alloc(2010, 6, 1, 8);
    const std::vector<uint8_t> data = Pattern(2010 * 6, 5);
    ASSERT_EQ(imBufPut(kThread, frame, data.data()), 0) << LastText();
    const uint32_t from = Child(frame, 0, 0, 2000, 6), to = Child(frame, 10, 0, 2000, 6);
    const uint64_t before = Blits();
    EXPECT_EQ(imBufCopy(kThread, from, to, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, frame, back.data()), 0) << LastText();
    EXPECT_EQ(Blits(), before + 4);
    std::vector<uint8_t> expected = data;
    for (size_t y = 0; y < 6; ++y)
        for (size_t x = 0; x < 2000; ++x) expected[y * 2010 + 10 + x] = data[y * 2010 + x];
    EXPECT_EQ(back, expected);
}

TEST_F(BitBltLibTest, OverlappingDownwardMoveRunsBottomUp)
{
    const uint32_t frame = Alloc(40, 30, 1, 8);
    const std::vector<uint8_t> data = Pattern(40 * 30, 9);
    ASSERT_EQ(imBufPut(kThread, frame, data.data()), 0) << LastText();
    const uint32_t from = Child(frame, 0, 0, 40, 20), to = Child(frame, 0, 7, 40, 20);
    EXPECT_EQ(imBufCopy(kThread, from, to, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, frame, back.data()), 0) << LastText();
    std::vector<uint8_t> expected = data;
    for (size_t y = 0; y < 20; ++y)
        for (size_t x = 0; x < 40; ++x) expected[(y + 7) * 40 + x] = data[y * 40 + x];
    EXPECT_EQ(back, expected);
}

TEST_F(BitBltLibTest, EveryBandOfWidePixelsIsCopied)
{
    const uint32_t a = Alloc(30, 5, 3, 16), b = Alloc(30, 5, 3, 16);
    const std::vector<uint8_t> data = Pattern(30 * 5 * 2 * 3, 21);
    ASSERT_EQ(imBufPut(kThread, a, data.data()), 0) << LastText();
    EXPECT_EQ(imBufCopy(kThread, a, b, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, b, back.data()), 0) << LastText();
    EXPECT_EQ(back, data);
}

TEST_F(BitBltLibTest, DifferentPixelSizesAreRefusedAndTheNodeStillCopies)
{
    const uint32_t a = Alloc(16, 4, 1, 8), b = Alloc(16, 4, 1, 16), c = Alloc(16, 4, 1, 8);
    const std::vector<uint8_t> data = Pattern(16 * 4, 1);
    ASSERT_EQ(imBufPut(kThread, a, data.data()), 0) << LastText();
    const std::vector<uint8_t> zeros(16 * 4 * 2, 0);
    ASSERT_EQ(imBufPut(kThread, b, zeros.data()), 0) << LastText();
    const uint64_t before = Blits();
    imBufCopy(kThread, a, b, 0, 0);
    std::vector<uint8_t> wide(zeros.size());
    imAppGetError(1, nullptr);
    ASSERT_EQ(imBufGet(kThread, b, wide.data()), 0) << LastText();
    EXPECT_EQ(wide, zeros);          // nothing written into the 16-bit buffer
    EXPECT_EQ(Blits(), before);      // the engine never started
    EXPECT_EQ(imBufCopy(kThread, a, c, 0, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, c, back.data()), 0) << LastText();
    EXPECT_EQ(back, data);
}

// A synchronised copy (field 10034 = -9997) starts only once the display's scan has left
// the lines the copy would tear.  The 640 x 480 mode: 525 lines a frame counted from the
// retrace at line 490 (scan offset V = 35), 800 pixels a line at 74894 kHz (93617 lines a
// second).  A blit of 20 lines of 100 pixels is far faster than that (at least 840000
// lines a second, 1770000 at the engine's rate): it must not start from 20 lines above its
// window to its end less the lines the scan passes during the copy, 100 - 20 + 35 = 115 to
// 100 + 20 - 1 + 35 = 154.  The scan, read as 115 and one line further at every read, is
// read up to line 155.  An interlaced display counts the scan in field lines.
TEST_F(BitBltLibTest, ASynchronisedCopyWaitsForTheScanToLeaveItsLines)
{
    const uint32_t frame = Alloc(100, 140, 1, 8), from = Alloc(100, 20, 1, 8);
    const std::vector<uint8_t> data = Pattern(100 * 20, 13);
    ASSERT_EQ(imBufPut(kThread, from, data.data()), 0) << LastText();
    const uint32_t to = Child(frame, 0, 100, 100, 20);
    const uint32_t control = libsandbox::ControlBuffer(kThread, {{10034, -9997.0}});
    ids_.push_back(control);
    uint32_t reads = 0, lastLine = 0;
    Sim().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area != boardsim::HwArea::DisplayRegs || a.offset != 0x30) return a.value;
        lastLine = 115 + reads++;
        return lastLine;
    });
    EXPECT_EQ(imBufCopy(kThread, from, to, control, 0), 0) << LastText();
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(imBufGet(kThread, to, back.data()), 0) << LastText();
    Sim().setReadFilter(nullptr);
    EXPECT_EQ(back, data);
    EXPECT_EQ(lastLine, 155u);
    EXPECT_EQ(reads, 41u);

    // Interlaced (control word bit 4), field bit 5 set: the margin is 40 lines, the line
    // rate doubles (187234, 2 lines pass during the copy) and the scan counts field lines:
    // (100 - 40 + 35) / 2 = 47 to (100 + 20 - 2 + 35) / 2 = 76, so the scan read from 47 on
    // is read up to line 77.
    reads = 0;
    Sim().setReadFilter([&](const boardsim::HwAccess& a) {
        if (a.area != boardsim::HwArea::DisplayRegs) return a.value;
        if (a.offset == 0) return a.value | 0x30u;
        if (a.offset != 0x30) return a.value;
        lastLine = 47 + reads++;
        return lastLine;
    });
    EXPECT_EQ(imBufCopy(kThread, from, to, control, 0), 0) << LastText();
    ASSERT_EQ(imBufGet(kThread, to, back.data()), 0) << LastText();
    Sim().setReadFilter(nullptr);
    EXPECT_EQ(back, data);
    EXPECT_EQ(lastLine, 77u);
    EXPECT_EQ(reads, 31u);
}

}  // namespace
