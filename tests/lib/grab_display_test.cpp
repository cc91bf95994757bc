// Standard-module grabs into display memory as a program makes them: a board with the
// grab module, a display Orlo and a display chip; a display allocated so that the board
// holds display heaps; a camera file through imCamAlloc and imDigGrab into a display heap,
// every pixel read back with imBufGet and compared with the pattern of the frame the
// display Orlo's engine took, through the module's ramp LUT.  The primary Orlo's engine
// takes no frame meanwhile; after each grab nothing is armed, in flight or stray.
// Only hlclib.h and libhlclib.so are used, plus the simulator's inspection calls.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kBoardMemory = 1;
constexpr uint32_t kDisplayHeap4M = 0x40000060u;   // the display Orlo's heap at 4 MB
constexpr uint32_t kDone = 50;
constexpr uint32_t kRed = 0x10000, kGreen = 0x20000, kBlue = 0x40000;
constexpr int32_t kWidth = 640, kHeight = 480;
using libsandbox::LastText;

std::string CameraFile(uint32_t channels)
{
    return libsandbox::StandardCameraFile(libsandbox::Camera640Lines(channels));
}

class GrabDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOwnScreenIni);
        box_.write("mode.vcf", libsandbox::Mode640Vcf());
        box_.write("mono.dcf", CameraFile(kRed));
        box_.write("rgb.dcf", CameraFile(kRed | kGreen | kBlue));
        boardsim::Topology topology = libsandbox::GrabModuleBoard();
        topology.boards[0].displayOrlo = true;
        topology.boards[0].displayChip = true;
        Sim().configure(topology);
        libsandbox::SetDesktop(true);
        for (bool display : {false, true}) Sim().grabEngine(0, display).setFramePeriod(0.0);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        // The display heaps follow the shown display's size.
        ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (camera_) imCamFree(kThread, camera_);
        if (display_) imDispFree(kThread, display_);
        libsandbox::FreeDevice(device_);
        Sim().configure();
    }
    static boardsim::BoardSim& Sim() { return boardsim::BoardSim::instance(); }
    static boardsim::GrabEngineView Engine(bool display) { return Sim().grabEngine(0, display); }

    uint32_t Camera(const char* name)
    {
        EXPECT_NE(imCamAlloc(kThread, name, 1, &camera_), 0u) << LastText();
        return camera_;
    }
    uint32_t Buffer(uint32_t bands, uint32_t kind)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, kWidth, kHeight, bands, 8, kind, &id), 0u) << LastText();
        if (id) buffers_.push_back(id);
        return id;
    }
    // One grab of count frames, waited for: the sync state reached.
    int32_t Grab(uint32_t destination, int32_t count)
    {
        return libsandbox::GrabAndWait(kThread, camera_, destination, count);
    }
    std::vector<uint8_t> Read(uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> data(bytes, 0xEE);
        EXPECT_EQ(imBufGet(device_, id, data.data()), 0) << LastText();
        return data;
    }

    // The pixels of one plane that differ from the pattern of the last frame the given
    // Orlo's engine took on channel c, from its window's first column and line (the
    // module's LUT is the ramp); prints the first few.
    static int Mismatches(const uint8_t* plane, uint32_t channel, bool display)
    {
        const boardsim::OrloView orlo = Sim().orlo(0, display);
        const uint32_t x0 = orlo.reg(kOrloGHWSTART) & 0xFFFF, y0 = orlo.reg(kOrloGVWSTART) & 0xFFFF;
        const boardsim::GrabEngineView engine = Engine(display);
        const uint64_t frame = static_cast<uint64_t>(engine.lastFrame());
        const uint32_t spanX = x0 + kWidth, spanY = y0 + kHeight;
        const std::vector<uint16_t> raster = engine.patternBlock(frame, channel, spanX, spanY);
        int bad = 0;
        for (uint32_t j = 0; j < static_cast<uint32_t>(kHeight); ++j)
            for (uint32_t i = 0; i < static_cast<uint32_t>(kWidth); ++i) {
                const uint8_t want = static_cast<uint8_t>(raster[(y0 + j) * spanX + x0 + i]);
                const uint8_t got = plane[j * kWidth + i];
                if (got != want && bad++ < 4)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") band " << channel << ": " << int(got)
                                  << " instead of " << int(want);
            }
        return bad;
    }

    // After a grab has ended: neither Orlo's engine armed or in flight, no byte outside its
    // memory, no access outside the board's windows.
    static void ExpectIdle()
    {
        for (bool display : {false, true}) {
            EXPECT_FALSE(Engine(display).armed()) << (display ? "display" : "primary");
            EXPECT_FALSE(Engine(display).inFlight()) << (display ? "display" : "primary");
            EXPECT_EQ(Engine(display).strayBytes(), 0u) << (display ? "display" : "primary");
        }
        EXPECT_EQ(Sim().strayAccesses(), 0u);
    }

    libsandbox::Sandbox box_{"hlcgrabdisp"};
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    uint32_t camera_ = 0;
    std::vector<uint32_t> buffers_;
};

TEST_F(GrabDisplayTest, OneFrameReachesDisplayMemoryExactlyThroughTheDisplayOrlo)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(1, kDisplayHeap4M);
    ASSERT_NE(destination, 0u);
    const uint64_t before = Engine(true).framesWritten();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    EXPECT_EQ(Engine(true).framesWritten(), before + 1);
    EXPECT_EQ(Engine(false).framesStarted(), 0u) << "the primary Orlo takes no frame";
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), 0, true), 0);
    ExpectIdle();

    // A second grab takes a later frame and holds it exactly.
    const int64_t first = Engine(true).lastFrame();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_GT(Engine(true).lastFrame(), first);
    const std::vector<uint8_t> again = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(again.data(), 0, true), 0);
    ExpectIdle();
}

}  // namespace

namespace {

TEST_F(GrabDisplayTest, ColourCameraFillsEachDisplayBandFromItsChannel)
{
    ASSERT_NE(Camera("rgb"), 0u);
    const uint32_t destination = Buffer(3, kDisplayHeap4M);
    ASSERT_NE(destination, 0u);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    const size_t plane = static_cast<size_t>(kWidth) * kHeight;
    const std::vector<uint8_t> pixels = Read(destination, 3 * plane);
    for (uint32_t band = 0; band < 3; ++band)
        EXPECT_EQ(Mismatches(pixels.data() + band * plane, band, true), 0) << "band " << band;
    ExpectIdle();
}

TEST_F(GrabDisplayTest, ContinuousGrabIntoDisplayMemoryEndsWithTheHalt)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(1, kDisplayHeap4M);
    Engine(true).setFramePeriod(0.002);
    const uint32_t sync = libsandbox::HeldSyncObject(kThread);
    const uint64_t before = Engine(true).framesWritten();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync), 0) << LastText();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Engine(true).framesWritten() < before + 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(Engine(true).framesWritten(), before + 3);

    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    imSyncFree(kThread, sync);
    const uint64_t started = Engine(true).framesStarted();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Engine(true).framesStarted(), started) << "no frame begins after the halt";
    ExpectIdle();

    // The thread is free for the next grab, which is exact.
    Engine(true).setFramePeriod(0.0);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), 0, true), 0);
    ExpectIdle();
}

TEST_F(GrabDisplayTest, BoardAndDisplayMemoryGrabsTakeTurnsOnTheirOwnOrlos)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t board = Buffer(1, kBoardMemory);
    const uint32_t display = Buffer(1, kDisplayHeap4M);
    ASSERT_NE(board, 0u);
    ASSERT_NE(display, 0u);
    ASSERT_EQ(Grab(board, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Engine(false).framesWritten(), 1u);
    EXPECT_EQ(Engine(true).framesStarted(), 0u);
    const std::vector<uint8_t> first = Read(board, kWidth * kHeight);
    EXPECT_EQ(Mismatches(first.data(), 0, false), 0);

    ASSERT_EQ(Grab(display, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Engine(true).framesWritten(), 1u);
    EXPECT_EQ(Engine(false).framesWritten(), 1u);
    const std::vector<uint8_t> second = Read(display, kWidth * kHeight);
    EXPECT_EQ(Mismatches(second.data(), 0, true), 0);

    // Board memory again: the primary Orlo's frame is exact and the display frame untouched.
    ASSERT_EQ(Grab(board, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Engine(false).framesWritten(), 2u);
    const std::vector<uint8_t> third = Read(board, kWidth * kHeight);
    EXPECT_EQ(Mismatches(third.data(), 0, false), 0);
    EXPECT_EQ(Read(display, kWidth * kHeight), second);
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    ExpectIdle();
}

TEST_F(GrabDisplayTest, ARegrabWithoutReprogrammingTakesTheNewDisplayBuffer)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t first = Buffer(1, kDisplayHeap4M);
    const uint32_t second = Buffer(1, kDisplayHeap4M);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    ASSERT_EQ(Grab(first, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> kept = Read(first, kWidth * kHeight);
    EXPECT_EQ(Mismatches(kept.data(), 0, true), 0);

    // Field 10033 = 1 moves only the frame addresses: the frame lands in the second buffer.
    const uint32_t options = libsandbox::ControlBuffer(device_, {{10033, 1}});
    ASSERT_NE(options, 0u);
    buffers_.push_back(options);
    const uint32_t sync = libsandbox::HeldSyncObject(kThread);
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, second, 1, options, sync), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    imSyncFree(kThread, sync);
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    const std::vector<uint8_t> pixels = Read(second, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), 0, true), 0);
    EXPECT_EQ(Read(first, kWidth * kHeight), kept) << "the first buffer keeps its frame";
    ExpectIdle();
}

}  // namespace
