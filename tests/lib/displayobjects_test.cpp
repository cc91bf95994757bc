// A board that runs its own screen, as a program sees it through hlclib.h and
// libhlclib.so: a display whose size leaves its display heaps too small for the display's
// predefined line buffer still comes up with its predefined display buffers, and the
// display bitblit takes the display Orlo with the node's own bitblit token.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kDisplayHeap = 0x40000020u;
// Predefined ids: the buffer shown, the one-band display buffer and the display's line
// buffer in a display heap.
constexpr uint32_t kShown = 2, kDisplayBuffer = 0x40000020u, kDisplayLine = 0x400000B0u;
// Words of the node record and of the node state block.
constexpr uint32_t kRecordStateWord = 470, kBitBltTokenWord = 283;

using libsandbox::ExpectNoError;
using libsandbox::LastText;

boardsim::BoardSim& Sim()
{
    return boardsim::BoardSim::instance();
}

// The 640 x 480 mode's timing with 1512 x 1387 pixels shown: CRTC 0x01 ends the line at
// 189 x 8 pixels, CRTC 0x12 with bit 8 of CRTC 0x07 and bit 10 of extension 0x02 ends the
// frame after line 1386.
std::string LargeModeVcf()
{
    std::string text = libsandbox::Mode640Vcf();
    const auto replace = [&text](const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    replace("INFO_XSIZE 640\nINFO_YSIZE 480\n", "INFO_XSIZE 1512\nINFO_YSIZE 1387\n");
    replace("CRTC_(01) 0x4F\n", "CRTC_(01) 0xBC\n");
    replace("CRTC_(12) 0xDF\n", "CRTC_(12) 0x6A\n");
    replace("PCLK_(00)", "CRTC_EXT_(02) 0x04\nPCLK_(00)");
    return text;
}

class OwnScreenTest : public ::testing::Test {
protected:
    void Open(const std::string& mode)
    {
        box_.write("halcyra.ini", libsandbox::kOwnScreenIni);
        box_.write("mode.vcf", mode);
        libsandbox::ConfigureDisplayBoard(true);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (auto it = ids_.rbegin(); it != ids_.rend(); ++it) imBufFree(kThread, *it);
        if (display_) imDispFree(kThread, display_);
        if (device_) imDevFree(device_);
        Sim().configure();
    }
    uint32_t Alloc(int32_t x, int32_t y)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(kThread, x, y, 1, 8, kDisplayHeap, &id), 0u) << LastText();
        if (id) ids_.push_back(id);
        return id;
    }
    // A child of the buffer with an id can be made: the buffer is there.
    static bool HasChild(uint32_t id, int32_t x, int32_t y)
    {
        uint32_t child = 0;
        if (imBufChild(kThread, id, 0, 0, x, y, &child) == 0) return false;
        imBufFree(kThread, child);
        return true;
    }

    libsandbox::Sandbox box_{"hlcdispobj"};
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    std::vector<uint32_t> ids_;
};

// 1512 x 1387 pixels take all but 8 bytes of each display heap: the display's 64-byte line
// buffer cannot be had there, its slot stays empty, and the display comes up without an
// error, its predefined buffers of the mode's size in place.
TEST_F(OwnScreenTest, ADisplayHeapThatRefusesTheLineBufferLeavesOnlyThatSlotEmpty)
{
    constexpr int32_t kWidth = 1512, kHeight = 1387;
    static_assert(kWidth * kHeight == 0x200000 - 8, "8 bytes of each display heap are left");
    Open(LargeModeVcf());
    ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display_), 0u) << LastText();
    ExpectNoError();
    EXPECT_TRUE(HasChild(kShown, 64, 32)) << LastText();
    EXPECT_TRUE(HasChild(kDisplayBuffer, kWidth, kHeight)) << LastText();
    EXPECT_FALSE(HasChild(kDisplayLine, 64, 1)) << "no line buffer";
    EXPECT_EQ(imAppGetError(0, nullptr), -1);
    imAppGetError(1, nullptr);
    // The node serves on.
    uint32_t id = 0;
    ASSERT_NE(imBufAlloc(kThread, 64, 4, 1, 8, 1, &id), 0u) << LastText();
    ids_.push_back(id);
}

// While the node's own bitblit token holds the display Orlo, a bitblit of the node goes
// ahead: every bitblit of the node takes the Orlo with that one token.
TEST_F(OwnScreenTest, TheBitbltTakesTheDisplayOrloWithTheNodesOwnToken)
{
    Open(libsandbox::Mode640Vcf());
    ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display_), 0u) << LastText();
    constexpr int32_t kX = 96, kY = 6;
    const uint32_t source = Alloc(kX, kY);
    const uint32_t destination = Alloc(kX, kY);
    std::vector<uint8_t> in(size_t{kX} * kY);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 5 + 3);
    ASSERT_EQ(imBufPut(kThread, source, in.data()), 0);
    const uint64_t blits = Sim().vmTransfer(0, true).transfers();

    auto* record = reinterpret_cast<uint32_t* const*>(mp_sys_node_resource_ptr(kNode));
    ASSERT_NE(record, nullptr);
    uint32_t* token = record[kRecordStateWord] + kBitBltTokenWord;
    SetToOrlo(kNode, 1, token);
    imAppControl(1, 2.0);
    EXPECT_EQ(imBufCopy(kThread, source, destination, 0, 0), 0);
    EXPECT_EQ(imDevInquire(device_, 3, nullptr), 1u);
    imAppControl(1, 10.0);
    ReleaseAccessOrlo();
    ExpectNoError();
    EXPECT_GT(Sim().vmTransfer(0, true).transfers(), blits);
    std::vector<uint8_t> out(in.size());
    ASSERT_EQ(imBufGet(kThread, destination, out.data()), 0);
    EXPECT_EQ(out, in);
}

}  // namespace
