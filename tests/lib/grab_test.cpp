// Grabs as a program makes them: a camera file through imCamAlloc, a destination in board
// memory, imDigGrab with a sync object and a bounded wait, through hlclib.h and
// libhlclib.so only.  The simulated camera's frames are the machine's test pattern, so
// every pixel grabbed is checked against the pattern of the frame the engine took, through
// the module's lookup table.  The simulated machine is read back through the platform
// object: the engine's frame counts, its arming and the board's stray accesses.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;
constexpr uint32_t kBoardMemory = 1;   // buffer location: board memory
constexpr uint32_t kDone = 50;         // sync state of a completed command
constexpr uint32_t kRed = 0x10000, kGreen = 0x20000, kBlue = 0x40000;
constexpr int32_t kWidth = 640, kHeight = 480;

std::string CameraFile(uint32_t channels)
{
    return libsandbox::StandardCameraFile(libsandbox::Camera640Lines(channels));
}

class GrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("mono.dcf", CameraFile(kRed));
        box_.write("rgb.dcf", CameraFile(kRed | kGreen | kBlue));
        Configure();
        Engine().setFramePeriod(0.0);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (camera_) imCamFree(kThread, camera_);
        // The node must be shut before the machine is rebuilt under it: a close that found
        // the open lock held by another program is tried again.
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }

    // The ini file and the simulated machine: one board with a standard grab module.
    virtual void Configure()
    {
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
    }
    static boardsim::GrabEngineView Engine() { return boardsim::BoardSim::instance().grabEngine(0, false); }
    static boardsim::OrloView Orlo() { return boardsim::BoardSim::instance().orlo(0); }

    uint32_t Camera(const char* name)
    {
        EXPECT_NE(imCamAlloc(kThread, name, 1, &camera_), 0u) << LastText();
        return camera_;
    }
    uint32_t Buffer(int32_t width, int32_t height, uint32_t bands)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, width, height, bands, 8, kBoardMemory, &id), 0u) << LastText();
        if (id) buffers_.push_back(id);
        return id;
    }
    // A grab control buffer holding the given fields.
    uint32_t Options(const std::vector<std::pair<uint32_t, double>>& fields)
    {
        const uint32_t id = libsandbox::ControlBuffer(device_, fields);
        if (id) buffers_.push_back(id);
        return id;
    }
    static uint32_t Sync() { return libsandbox::HeldSyncObject(kThread); }
    // One grab of count frames, waited for up to the communication time-out: the sync
    // state reached.
    int32_t Grab(uint32_t destination, int32_t count, uint32_t options = 0)
    {
        return libsandbox::GrabAndWait(kThread, camera_, destination, count, options);
    }
    std::vector<uint8_t> Read(uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> data(bytes);
        EXPECT_EQ(imBufGet(device_, id, data.data()), 0) << LastText();
        return data;
    }
    // Where the full-frame window begins in the raster.
    static uint32_t WindowX() { return Orlo().reg(kOrloGHWSTART) & 0xFFFF; }
    static uint32_t WindowY() { return Orlo().reg(kOrloGVWSTART) & 0xFFFF; }

    // Counts the pixels of a width x height plane that differ from lut(P(x0 + step i,
    // y0 + step j)) of the engine's last frame on channel c; prints the first few.
    template <typename Lut>
    static int Mismatches(const uint8_t* plane, int32_t width, int32_t height, uint32_t x0, uint32_t y0,
                          uint32_t step, uint32_t channel, Lut lut, int board = 0)
    {
        const boardsim::GrabEngineView engine = boardsim::BoardSim::instance().grabEngine(board, false);
        const uint64_t frame = static_cast<uint64_t>(engine.lastFrame());
        // The raster block from (0, 0) that covers the window, row after row.
        const uint32_t spanX = x0 + step * static_cast<uint32_t>(width);
        const uint32_t spanY = y0 + step * static_cast<uint32_t>(height);
        const std::vector<uint16_t> raster = engine.patternBlock(frame, channel, spanX, spanY);
        int bad = 0;
        for (int32_t j = 0; j < height; ++j)
            for (int32_t i = 0; i < width; ++i) {
                const size_t x = x0 + step * static_cast<uint32_t>(i), y = y0 + step * static_cast<uint32_t>(j);
                const uint32_t expected = lut(raster[y * spanX + x]);
                const uint8_t got = plane[static_cast<size_t>(j) * static_cast<size_t>(width) + static_cast<size_t>(i)];
                if (got != static_cast<uint8_t>(expected) && bad++ < 4)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") band " << channel << ": " << int(got)
                                  << " instead of " << expected;
            }
        return bad;
    }
    static uint32_t Ramp(uint32_t sample) { return sample; }

    // After a grab has ended: nothing armed, nothing in flight, no byte outside board
    // memory, no access outside the board's windows.
    static void ExpectIdle()
    {
        EXPECT_FALSE(Engine().armed());
        EXPECT_FALSE(Engine().inFlight());
        EXPECT_EQ(Engine().strayBytes(), 0u);
        EXPECT_EQ(boardsim::BoardSim::instance().strayAccesses(), 0u);
    }

    libsandbox::Sandbox box_{"hlcgrablib"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
    std::vector<uint32_t> buffers_;
};

TEST_F(GrabTest, OneFrameHoldsThePatternThroughTheRampLut)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(kWidth, kHeight, 1);
    ASSERT_NE(destination, 0u);
    const uint64_t before = Engine().framesWritten();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Engine().framesWritten(), before + 1);
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    ExpectIdle();

    // A second grab into the same buffer takes a later frame and holds it exactly.
    const int64_t first = Engine().lastFrame();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_GT(Engine().lastFrame(), first);
    const std::vector<uint8_t> again = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(again.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastText();
    ExpectIdle();
}

// The thread that loads the camera and grabs: the node's own predefined thread, or one the
// program allocates.
enum class GrabThread { Node, Allocated };

class GrabThreadTest : public GrabTest, public ::testing::WithParamInterface<GrabThread> {};

// Loading the camera writes the whole input LUT through its FIFO and polls the FIFO's
// status a bounded number of times: it drains within those reads whatever the host's speed
// and whichever thread loads it.
TEST_P(GrabThreadTest, CameraLoadsAndOneFrameHoldsThePattern)
{
    uint32_t thread = kThread;
    if (GetParam() == GrabThread::Allocated) {
        ASSERT_NE(imThrAlloc(device_, 0, &thread), 0u) << LastText();
    }
    uint32_t camera = 0;
    EXPECT_NE(imCamAlloc(thread, "mono", 1, &camera), 0u) << LastText();
    const uint32_t destination = Buffer(kWidth, kHeight, 1);
    if (camera && destination) {
        EXPECT_EQ(libsandbox::GrabAndWait(thread, camera, destination, 1), static_cast<int32_t>(kDone)) << LastText();
        const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
        EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
        EXPECT_EQ(imCamFree(thread, camera), 0) << LastText();
    }
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastText();
    if (thread != kThread) {
        EXPECT_EQ(imThrFree(thread), 0) << LastText();
    }
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(Threads, GrabThreadTest, ::testing::Values(GrabThread::Node, GrabThread::Allocated),
                         [](const ::testing::TestParamInfo<GrabThread>& info) {
                             return std::string(info.param == GrabThread::Node ? "NodeThread" : "AllocatedThread");
                         });

TEST_F(GrabTest, AnInvertingLutSetByImDigLutSetInvertsEveryPixel)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(kWidth, kHeight, 1);
    const uint32_t lut = Buffer(256, 1, 1);
    ASSERT_NE(lut, 0u);
    std::vector<uint8_t> inverted(256);
    for (uint32_t i = 0; i < 256; ++i) inverted[i] = static_cast<uint8_t>(255 - i);
    ASSERT_EQ(imBufPut(device_, lut, inverted.data()), 0) << LastText();

    // The camera's LUT buffer, then the whole LUT programmed from it.
    EXPECT_EQ(imCamControl(kThread, camera_, 30005, lut), 0) << LastText();
    EXPECT_EQ(imDigLutSet(kThread, 0, camera_, lut, 1, 0, 256, 0), 0) << LastText();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), 0);
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0,
                         [](uint32_t sample) { return 255 - sample; }),
              0);

    // Without a LUT buffer the LUT is a ramp again.
    EXPECT_EQ(imCamControl(kThread, camera_, 30005, 0), 0) << LastText();
    EXPECT_EQ(imDigLutSet(kThread, 0, camera_, lut, 1, 0, 256, 0), 0) << LastText();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> ramp = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(ramp.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    ExpectIdle();
}

TEST_F(GrabTest, WindowFieldsCutTheFrame)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t full = Buffer(kWidth, kHeight, 1);
    ASSERT_EQ(Grab(full, 1), static_cast<int32_t>(kDone)) << LastText();
    const uint32_t x0 = WindowX(), y0 = WindowY();

    // Pixels 100-299 of lines 50-149 of the camera's frame.
    const uint32_t window = Buffer(200, 100, 1);
    const uint32_t options = Options({{10019, 100}, {10020, 50}, {10021, 299}, {10022, 149}});
    ASSERT_EQ(Grab(window, 1, options), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(window, 200 * 100);
    EXPECT_EQ(Mismatches(pixels.data(), 200, 100, x0 + 100, y0 + 50, 1, 0, Ramp), 0);
    ExpectIdle();
}

TEST_F(GrabTest, DecimationTakesEverySecondPixelAndLine)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t full = Buffer(kWidth, kHeight, 1);
    ASSERT_EQ(Grab(full, 1), static_cast<int32_t>(kDone)) << LastText();
    const uint32_t x0 = WindowX(), y0 = WindowY();

    const uint32_t half = Buffer(kWidth / 2, kHeight / 2, 1);
    const uint32_t options = Options({{10005, 2}, {10006, 2}});
    ASSERT_EQ(Grab(half, 1, options), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(half, (kWidth / 2) * (kHeight / 2));
    EXPECT_EQ(Mismatches(pixels.data(), kWidth / 2, kHeight / 2, x0, y0, 2, 0, Ramp), 0);
    ExpectIdle();
}

TEST_F(GrabTest, ColourCameraFillsEachBandFromItsChannel)
{
    ASSERT_NE(Camera("rgb"), 0u);
    const uint32_t destination = Buffer(kWidth, kHeight, 3);
    ASSERT_NE(destination, 0u);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    const size_t plane = static_cast<size_t>(kWidth) * kHeight;
    const std::vector<uint8_t> pixels = Read(destination, 3 * plane);
    for (uint32_t band = 0; band < 3; ++band)
        EXPECT_EQ(Mismatches(pixels.data() + band * plane, kWidth, kHeight, WindowX(), WindowY(), 1, band, Ramp), 0)
            << "band " << band;
    // The bands lie at the offsets the engine was given from the frame start.
    EXPECT_NE(Orlo().reg(kOrloGC1FOFF), Orlo().reg(kOrloGC2FOFF));
    ExpectIdle();
}

TEST_F(GrabTest, ContinuousGrabEndsWithTheHalt)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(kWidth, kHeight, 1);
    Engine().setFramePeriod(0.002);
    const uint32_t sync = Sync();
    const uint64_t before = Engine().framesWritten();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync), 0) << LastText();

    // Frames keep coming until the halt.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Engine().framesWritten() < before + 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(Engine().framesWritten(), before + 3);

    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    imSyncFree(kThread, sync);
    EXPECT_FALSE(Engine().armed());
    // No frame begins after the halt.
    const uint64_t started = Engine().framesStarted();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Engine().framesStarted(), started);
    ExpectIdle();

    // The thread is free for the next grab, which is exact.
    Engine().setFramePeriod(0.0);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    ExpectIdle();
}

TEST_F(GrabTest, RefusalsLeaveTheThreadUsable)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = Buffer(kWidth, kHeight, 1);

    // A scale of 17 is refused with the field's number in the text.
    const uint32_t bad = Options({{10005, 17}});
    uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, bad, sync), 0);
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
    char text[200] = {};
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), -8);
    imThrGetError(kThread, 4 | 1, text);
    EXPECT_STREQ(text, "A non-buffer parameter was invalid or unacceptable, errno: 4");
    imSyncFree(kThread, sync);

    // A destination id that names nothing.
    sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, 0x00110777u, 1, 0, sync), 0);
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), -1);
    imSyncFree(kThread, sync);
    EXPECT_FALSE(Engine().armed());

    imAppGetError(1, nullptr);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(destination, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    ExpectIdle();
}

// Two boards of one system: the camera on the first board's module, the destination in the
// second board's memory.  The grab's engine phase is forwarded to the second node as an
// "imDigGrab" message.
class ForwardedGrabTest : public GrabTest {
protected:
    void Configure() override
    {
        box_.write("halcyra.ini", std::string(libsandbox::kOneBoard) + "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n");
        boardsim::Topology topology = libsandbox::GrabModuleBoard();
        topology.boards.resize(2);
        topology.boards[1].moduleType = 0;
        topology.service.dmaRegions = {0x400000, 0x400000};
        boardsim::BoardSim::instance().configure(topology);
        boardsim::BoardSim::instance().grabEngine(1, false).setFramePeriod(0.0);
    }
    void SetUp() override
    {
        GrabTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NE(imDevAlloc(0, 1, 0, 0, &second_), 0u) << LastText();
    }
    void TearDown() override
    {
        for (uint32_t id : secondBuffers_) imBufFree(second_, id);
        if (second_) {
            EXPECT_EQ(imDevFree(second_), 0) << LastText();
        }
        GrabTest::TearDown();
    }
    // A frame-sized buffer in the second board's memory, freed with the fixture.
    uint32_t RemoteDestination()
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(second_, kWidth, kHeight, 1, 8, kBoardMemory, &id), 0u) << LastText();
        if (id) secondBuffers_.push_back(id);
        return id;
    }
    uint32_t second_ = 0;
    std::vector<uint32_t> secondBuffers_;
};

TEST_F(ForwardedGrabTest, AFrameLandsInTheOtherBoardsMemory)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = RemoteDestination();
    ASSERT_NE(destination, 0u);
    const boardsim::GrabEngineView remote = boardsim::BoardSim::instance().grabEngine(1, false);
    const uint64_t before = remote.framesWritten();
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), 0);
    EXPECT_EQ(remote.framesWritten(), before + 1);
    EXPECT_EQ(Engine().framesWritten(), 0u);
    std::vector<uint8_t> pixels(kWidth * kHeight);
    EXPECT_EQ(imBufGet(second_, destination, pixels.data()), 0) << LastText();
    const boardsim::OrloView orlo = boardsim::BoardSim::instance().orlo(1);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, orlo.reg(kOrloGHWSTART) & 0xFFFF,
                         orlo.reg(kOrloGVWSTART) & 0xFFFF, 1, 0, Ramp, 1),
              0);
    EXPECT_FALSE(remote.armed());
    EXPECT_FALSE(remote.inFlight());
    EXPECT_EQ(boardsim::BoardSim::instance().strayAccesses(), 0u);

    // The first board's own grabs go on as before.
    const uint32_t local = Buffer(kWidth, kHeight, 1);
    ASSERT_EQ(Grab(local, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> own = Read(local, kWidth * kHeight);
    EXPECT_EQ(Mismatches(own.data(), kWidth, kHeight, WindowX(), WindowY(), 1, 0, Ramp), 0);
    ExpectIdle();
}

TEST_F(ForwardedGrabTest, AnEnginePhaseRefusedByTheOtherBoardEndsTheGrabWithItsError)
{
    ASSERT_NE(Camera("mono"), 0u);
    const uint32_t destination = RemoteDestination();
    ASSERT_NE(destination, 0u);
    const boardsim::GrabEngineView remote = boardsim::BoardSim::instance().grabEngine(1, false);
    const uint64_t before = remote.framesWritten();

    // The second board refuses a scale of 17 when it programs its engine: the caller's sync
    // object ends all the same, with that board's error.
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, Options({{10005, 17}}), sync), 0);
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), -8);
    char text[200] = {};
    imThrGetError(kThread, 4 | 1, text);
    EXPECT_STREQ(text, "A non-buffer parameter was invalid or unacceptable, errno: 4");
    imSyncFree(kThread, sync);
    EXPECT_FALSE(remote.armed());
    EXPECT_EQ(remote.framesWritten(), before);

    // The thread and the channels are free for the next grab, whose frame lands.
    imAppGetError(1, nullptr);
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    char after[200] = {};
    imThrGetError(kThread, 4, after);
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), 0) << after;
    EXPECT_EQ(remote.framesWritten(), before + 1);
}

}  // namespace
