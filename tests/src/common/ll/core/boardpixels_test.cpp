// Pixel transfers and fills over board memory: lines in a mapped board memory window go
// through the hardware accessor (the simulated board sees each access) and arrive byte
// for byte as the host copy would write them; host memory never reaches the board.
#include "hlc_wiring.h"
#include "boardsim.h"
#include "driverreq.h"
#include "regmap/orlo_regs.h"
#include "sysutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kBytes = 0x10000;

class BoardPixelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        boardsim::Topology t;
        t.boards[0].displayOrlo = true;
        BoardSim::instance().configure(t);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, kBytes, kPrimaryMemoryTop - kBytes, &primary_));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_DISPLAY, kBytes, kDisplayMemoryTop - kBytes, &display_));
        BoardSim::instance().setTracing(true);
        BoardSim::instance().clearTrace();
    }
    void TearDown() override
    {
        BoardSim::instance().setTracing(false);
        if (device_ != kInvalidDevice) DeviceClose(device_);
        BoardSim::instance().configure();
    }
    static void* At(uint32_t window, uint32_t offset)
    {
        return reinterpret_cast<void*>(static_cast<uintptr_t>(window + offset));
    }
    static int Count(HwArea area, HwOp op)
    {
        int n = 0;
        for (const auto& a : BoardSim::instance().trace()) n += a.area == area && a.op == op;
        return n;
    }
    // Board memory bytes as the chip holds them.
    static std::vector<uint8_t> Board(bool display, uint32_t offset, uint32_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_TRUE(BoardSim::instance().orlo(0, display).readMemory(offset + (display ? 0x200000 - kBytes : 0x400000 - kBytes), out.data(), bytes));
        return out;
    }
    DeviceHandle device_ = kInvalidDevice;
    uint32_t primary_ = 0, display_ = 0;
};

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> p(bytes);
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(seed + 37 * i + (i >> 3));
    return p;
}

// Round trips of 8-, 16- and 32-bit images of one and three bands: host lines to board
// memory with the board's pitch and back with another pitch.
TEST_F(BoardPixelsTest, LinesRoundTripThroughBoardMemoryByteForByte)
{
    constexpr uint32_t kWidth = 7, kLines = 3;
    for (uint32_t bytesPerPixel : {1u, 2u, 4u}) {
        for (uint32_t bands : {1u, 3u}) {
            const uint32_t line = kWidth * bytesPerPixel;
            const uint32_t boardPitch = (line + 3) & ~3u;
            const int32_t hostPitch = static_cast<int32_t>(line + 5);
            for (uint32_t b = 0; b < bands; ++b) {
                const auto source = Pattern(hostPitch * kLines, static_cast<uint8_t>(bytesPerPixel * 16 + b));
                void* band = At(primary_, 0x1000 * b);
                BoardSim::instance().clearTrace();
                im_doLoadSwapStore(source.data(), band, line, kLines, hostPitch, static_cast<int32_t>(boardPitch), 0);
                EXPECT_GT(Count(HwArea::PrimaryMemory, HwOp::Write), 0);
                const auto chip = Board(false, 0x1000 * b, boardPitch * kLines);
                for (uint32_t y = 0; y < kLines; ++y)
                    for (uint32_t x = 0; x < line; ++x)
                        ASSERT_EQ(chip[y * boardPitch + x], source[y * hostPitch + x])
                            << bytesPerPixel << " bytes, band " << b << ", line " << y;
                std::vector<uint8_t> back(hostPitch * kLines, 0xEE);
                BoardSim::instance().clearTrace();
                im_doLoadSwapStore(band, back.data(), line, kLines, static_cast<int32_t>(boardPitch), hostPitch, 0);
                EXPECT_GT(Count(HwArea::PrimaryMemory, HwOp::Read), 0);
                EXPECT_EQ(Count(HwArea::PrimaryMemory, HwOp::Write), 0);
                for (uint32_t y = 0; y < kLines; ++y) {
                    for (uint32_t x = 0; x < line; ++x) ASSERT_EQ(back[y * hostPitch + x], source[y * hostPitch + x]);
                    for (uint32_t x = line; x < static_cast<uint32_t>(hostPitch); ++x) ASSERT_EQ(back[y * hostPitch + x], 0xEE);
                }
            }
        }
    }
}

TEST_F(BoardPixelsTest, SwappedCopyToBoardMatchesTheHostCopy)
{
    const auto source = Pattern(2 * 20, 3);
    std::vector<uint8_t> host(2 * 20);
    im_doLoadSwapStore(source.data(), host.data(), 19, 2, 20, 20, 1);
    im_doLoadSwapStore(source.data(), At(display_, 0x40), 19, 2, 20, 20, 1);
    EXPECT_GT(Count(HwArea::DisplayMemory, HwOp::Write), 0);
    const auto chip = Board(true, 0x40, 40);
    for (uint32_t i = 0; i < 40; ++i) {
        if (i % 20 == 19) continue;   // past the line
        ASSERT_EQ(chip[i], host[i]) << i;
    }
    // Board to board: both sides through the accessor.
    im_doLoadSwapStore(At(display_, 0x40), At(primary_, 0x800), 19, 2, 20, 20, 0);
    const auto copy = Board(false, 0x800, 40);
    for (uint32_t i = 0; i < 40; ++i) {
        if (i % 20 == 19) continue;   // past the line
        ASSERT_EQ(copy[i], host[i]) << i;
    }
}

TEST_F(BoardPixelsTest, FillsOfBoardMemoryMatchTheHostFill)
{
    constexpr uint32_t kPixels = 9, kLines = 2, kPitch = 76;
    for (uint32_t bytesPerPixel : {0u, 1u, 2u, 3u, 4u, 8u}) {
        std::vector<uint8_t> host(kPitch * kLines, 0x5A);
        im_doMemset(host.data(), kPixels, kLines, kPitch, 0x1A2B3C4D, bytesPerPixel);
        const std::vector<uint8_t> before(kPitch * kLines, 0x5A);
        im_doLoadSwapStore(before.data(), At(primary_, 0x2000), kPitch, kLines, kPitch, kPitch, 0);
        BoardSim::instance().clearTrace();
        im_doMemset(At(primary_, 0x2000), kPixels, kLines, kPitch, 0x1A2B3C4D, bytesPerPixel);
        EXPECT_GT(Count(HwArea::PrimaryMemory, HwOp::Write), 0) << bytesPerPixel;
        EXPECT_EQ(Count(HwArea::PrimaryMemory, HwOp::Read), 0) << bytesPerPixel;
        EXPECT_EQ(Board(false, 0x2000, kPitch * kLines), host) << bytesPerPixel << " bytes a pixel";
    }
}

TEST_F(BoardPixelsTest, HostMemoryNeverReachesTheBoard)
{
    const auto source = Pattern(64, 9);
    std::vector<uint8_t> destination(64);
    im_doLoadSwapStore(source.data(), destination.data(), 64, 1, 64, 64, 0);
    im_doMemset(destination.data(), 16, 1, 64, 3.0, 4);
    EXPECT_TRUE(BoardSim::instance().trace().empty());
    EXPECT_EQ(destination[4], 3u);
}

} // namespace
