// Second-family grabs into display memory as a program makes them: a board with the module,
// a display Orlo and a display chip; a display allocated so that the board holds display
// heaps; a second-family camera file through imCamAlloc, imDigGrab into a display heap,
// every pixel read back with imBufGet and compared with the simulated camera's pattern
// through the identity ramp.  The display Orlo's lists place the blocks in its own memory;
// the primary Orlo takes none of them.  After each grab nothing is left armed or stray, and
// a board-memory grab on the same board afterwards still arrives whole.
// Only hlclib.h and libhlclib.so are used, plus the simulator's inspection calls.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "framegen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
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
constexpr uint32_t kWidth = 640, kHeight = 480;
constexpr const char* kIni = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=1\n";
using libsandbox::LastText;

// A 640 x 480 display mode: CRTC 0x00-0x18 and the pixel PLL.
constexpr uint8_t kCrtc[25] = {0x5F, 0x4F, 0x50, 0x82, 0x54, 0x80, 0x0B, 0x3E, 0x00, 0x40, 0x00, 0x00, 0x00,
                               0x00, 0x00, 0x00, 0xEA, 0x0C, 0xDF, 0x50, 0x00, 0xE7, 0x04, 0xE3, 0xFF};

std::string VcfText()
{
    std::string text = "/ 640 x 480 at 75 MHz\n[REG_DIGIT]\nINFO_XSIZE 640\nINFO_YSIZE 480\nMISC 0xEF\n";
    char line[64];
    for (int i = 0; i < 25; ++i) {
        std::snprintf(line, sizeof line, "CRTC_(%02X) 0x%02X\n", i, kCrtc[i]);
        text += line;
    }
    return text + "PCLK_(00) 48\nPCLK_(01) 52\nPCLK_(02) 1\n[EOF]\n";
}

class KvxDisplayGrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", kIni);
        box_.write("mode.vcf", VcfText());
        libsandbox::ConfigureKvxDisplayBoard(4);
        Kvx().setFrameNanos(100000000);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        // The display heaps follow the shown display's size.
        ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (sync_) imSyncFree(kThread, sync_);
        if (camera_) imCamFree(kThread, camera_);
        if (display_) imDispFree(kThread, display_);
        int32_t closed = device_ ? imDevFree(device_) : 0;
        for (int i = 0; i < 5 && closed == IM_ERR_TIMEOUT; ++i) closed = imDevFree(device_);
        EXPECT_EQ(closed, 0) << LastText();
        boardsim::BoardSim::instance().configure();
    }
    // A one-channel 8-bit camera whose download loads the identity ramp.
    uint32_t Camera(const std::vector<std::pair<std::string, uint32_t>>& extra = {})
    {
        std::vector<std::pair<std::string, uint32_t>> lines = {{"DESCRIPTION_INFO_XSIZE", kWidth},
                                                               {"DESCRIPTION_INFO_YSIZE", kHeight},
                                                               {"DESCRIPTION_INFO_BITSPERLOGCH", 8},
                                                               {"DESCRIPTION_INFO_CHANNEL", 1},
                                                               {"DESCRIPTION_INFO_XTAPSPERCH", 1},
                                                               {"DESCRIPTION_INFO_YTAPSPERCH", 1},
                                                               {"DESCRIPTION_INFO_XTAPSPERCHADJ", 1},
                                                               {"DESCRIPTION_INFO_YTAPSPERCHADJ", 1},
                                                               {"DESCRIPTION_INFO_LUTPROG", 1},
                                                               {"FAF_OPAMPCTL", 0x2}};
        lines.insert(lines.end(), extra.begin(), extra.end());
        box_.write("kvx.dcf", libsandbox::KvxCameraFile(lines));
        imAppGetError(1, nullptr);
        EXPECT_NE(imCamAlloc(kThread, box_.path("kvx.dcf").c_str(), 1, &camera_), 0u) << LastText();
        return camera_;
    }
    uint32_t Buffer(uint32_t kind)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, kWidth, kHeight, 1, 8, kind, &id), 0u) << LastText();
        if (id) buffers_.push_back(id);
        return id;
    }
    uint32_t Sync()
    {
        EXPECT_NE(imSyncAlloc(kThread, &sync_), 0u) << LastText();
        EXPECT_EQ(imSyncControl(kThread, sync_, 18001, 2.0), 0);
        return sync_;
    }
    template <class F>
    static bool WaitFor(F done)
    {
        for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    }
    // The destination's pixels against frame `frame` of the pattern (identity ramp).
    void ExpectFrame(uint32_t destination, uint64_t frame)
    {
        std::vector<uint8_t> pixels(kWidth * kHeight, 0xEE);
        ASSERT_EQ(imBufGet(device_, destination, pixels.data()), 0) << LastText();
        uint32_t wrong = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint32_t want = boardsim::TestPatternGenerator::value(x, y, frame, 0, 8);
                if (pixels[y * kWidth + x] != want && ++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(pixels[y * kWidth + x]) << " not " << want;
            }
        EXPECT_EQ(wrong, 0u) << "pixels that differ";
    }
    // Nothing armed or stray on the module and on either Orlo; neither Orlo's own grab
    // engine ran (the module is the video source of both).
    static void ExpectNothingArmed()
    {
        EXPECT_FALSE(Kvx().grabActive(0));
        EXPECT_EQ(Kvx().reg(0x318) & 0x60, 0) << "FAF_TSTSTS: neither active nor armed";
        EXPECT_EQ(Kvx().reg(0x308) & 0xA, 0) << "FAF_GRBCTL0: no single or continuous start left";
        EXPECT_FALSE(Kvx().holdsBlock()) << "every block digitised was taken";
        EXPECT_EQ(Kvx().blocksDropped(), 0u);
        EXPECT_EQ(Kvx().transferStrays(), 0u);
        for (bool display : {false, true}) {
            EXPECT_EQ(Sim().grabList(0, display).strays(), 0u) << (display ? "display" : "primary");
            EXPECT_FALSE(Sim().grabEngine(0, display).armed());
            EXPECT_EQ(Sim().grabEngine(0, display).framesStarted(), 0u);
        }
    }
    static boardsim::BoardSim& Sim() { return boardsim::BoardSim::instance(); }
    static boardsim::KvxView Kvx() { return Sim().kvx(0); }

    libsandbox::Sandbox box_{"hlckvxdisp"};
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    uint32_t camera_ = 0;
    uint32_t sync_ = 0;
    std::vector<uint32_t> buffers_;
};

TEST_F(KvxDisplayGrabTest, ASingleFrameReachesDisplayMemoryExactlyThroughTheDisplayOrlo)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kDisplayHeap4M);
    ASSERT_NE(destination, 0u);
    Sync();
    const uint64_t displayEntries = Sim().grabList(0, true).entriesPlayed();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    EXPECT_EQ(Kvx().blocksDigitised(0), 20u) << "480 lines in blocks of 24";
    EXPECT_EQ(Kvx().blocksTaken(), 20u);
    EXPECT_GT(Sim().grabList(0, true).entriesPlayed(), displayEntries) << "the display Orlo's lists ran";
    EXPECT_FALSE(Sim().grabList(0, false).running()) << "the primary Orlo's lists take no block meanwhile";
    ExpectFrame(destination, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().framesDigitised(0), 1u) << "nothing more runs afterwards";
    EXPECT_EQ(Kvx().blocksTaken(), 20u);
    ExpectNothingArmed();
}

TEST_F(KvxDisplayGrabTest, SingleFramesInARowEachEndAfterTheirOwnFrame)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kDisplayHeap4M);
    Sync();
    for (uint64_t frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
        ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << frame << ": " << LastText();
        EXPECT_EQ(Kvx().framesDigitised(0), frame + 1) << "reported done after its frame, not before";
        EXPECT_EQ(Kvx().blocksTaken(), 20u * (frame + 1));
        ExpectFrame(destination, frame);
    }
    ExpectNothingArmed();
}

TEST_F(KvxDisplayGrabTest, AnInterlacedFrameArrivesWithItsFieldsInterleaved)
{
    ASSERT_NE(Camera({{"DESCRIPTION_INFO_MODE", 1}}), 0u);
    const uint32_t destination = Buffer(kDisplayHeap4M);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    ExpectFrame(destination, 0);
    ExpectNothingArmed();
}

TEST_F(KvxDisplayGrabTest, AContinuousGrabIntoDisplayMemoryRunsUntilTheHalt)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kDisplayHeap4M);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 2; })) << "frames follow each other";
    EXPECT_GE(Kvx().blocksTaken(), 40u) << "every frame goes to the destination";
    EXPECT_EQ(imThrHalt(kThread, 2), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); }));
    EXPECT_EQ(Kvx().blocksDigitised(0) % 20, 0u) << "no frame cut short";
    EXPECT_EQ(Kvx().blocksTaken(), Kvx().blocksDigitised(0));
    ExpectFrame(destination, Kvx().framesDigitised(0) - 1);
    ExpectNothingArmed();
}

TEST_F(KvxDisplayGrabTest, AnImmediateHaltStopsTheModuleAndTheNextGrabArrivesWhole)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kDisplayHeap4M);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 1; }));
    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); })) << "the abort stops the channel";
    const uint64_t blocks = Kvx().blocksDigitised(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().blocksDigitised(0), blocks) << "no block after the halt";
    ExpectNothingArmed();
    // The display Orlo's lists start afresh: the next frame arrives whole.
    const uint64_t frame = Kvx().framesDigitised(0);
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Kvx().framesDigitised(0), frame + 1);
    ExpectFrame(destination, frame);
    ExpectNothingArmed();
}

TEST_F(KvxDisplayGrabTest, BoardAndDisplayMemoryGrabsTakeTurnsOnOneBoard)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t board = Buffer(kBoardMemory);
    const uint32_t display = Buffer(kDisplayHeap4M);
    ASSERT_NE(board, 0u);
    ASSERT_NE(display, 0u);
    Sync();
    // Board memory first: the primary Orlo takes the blocks and the display Orlo none.
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, board, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_FALSE(Sim().grabList(0, true).running()) << "the display Orlo's lists take no block meanwhile";
    ExpectFrame(board, 0);
    // Then display memory, then board memory again: each frame whole where it was asked.
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, display, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ExpectFrame(display, 1);
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, board, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ExpectFrame(board, 2);
    ExpectFrame(display, 1);
    EXPECT_EQ(Kvx().framesDigitised(0), 3u);
    EXPECT_EQ(Kvx().blocksTaken(), 60u);
    ExpectNothingArmed();
}

} // namespace

namespace {

// Two boards of one system: the module on the first, the display (and so the system's
// display node) on the second.  A grab into the second board's display heap goes to the
// display node, whose Orlos the first board's module does not reach.
class KvxForwardedDisplayGrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", std::string(libsandbox::kOneBoard) +
                                      "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\nDisplayMode=1\n");
        box_.write("mode.vcf", VcfText());
        boardsim::Topology topology = libsandbox::KvxModuleBoard(4);
        topology.boards.resize(2);
        topology.boards[1].moduleType = 0;
        topology.boards[1].displayOrlo = true;
        topology.boards[1].displayChip = true;
        boardsim::BoardSim::instance().configure(topology);
        libsandbox::SetDesktop(true);
        boardsim::BoardSim::instance().kvx(0).setFrameNanos(100000000);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        ASSERT_NE(imDevAlloc(0, 1, 0, 0, &second_), 0u) << LastText();
        ASSERT_NE(imDispAlloc(kDisplayThread, 0, 1, "mode", 0x10000000u, &display_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (destination_) imBufFree(second_, destination_);
        if (sync_) imSyncFree(kThread, sync_);
        if (camera_) imCamFree(kThread, camera_);
        if (display_) imDispFree(kDisplayThread, display_);
        if (second_) {
            EXPECT_EQ(imDevFree(second_), 0) << LastText();
        }
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0) << LastText();
        }
        boardsim::BoardSim::instance().configure();
    }
    static constexpr uint32_t kDisplayThread = 0x40000010u | (0x12u << 16);
    libsandbox::Sandbox box_{"hlckvxfwd"};
    uint32_t device_ = 0, second_ = 0, display_ = 0, camera_ = 0, sync_ = 0, destination_ = 0;
};

TEST_F(KvxForwardedDisplayGrabTest, AGrabIntoTheDisplayNodesHeapIsRefusedAtOnceAndNothingStarts)
{
    box_.write("kvx.dcf", libsandbox::KvxCameraFile({{"DESCRIPTION_INFO_XSIZE", kWidth},
                                                    {"DESCRIPTION_INFO_YSIZE", kHeight},
                                                    {"DESCRIPTION_INFO_BITSPERLOGCH", 8},
                                                    {"DESCRIPTION_INFO_CHANNEL", 1},
                                                    {"DESCRIPTION_INFO_LUTPROG", 1}}));
    ASSERT_NE(imCamAlloc(kThread, box_.path("kvx.dcf").c_str(), 1, &camera_), 0u) << LastText();
    ASSERT_NE(imBufAlloc(second_, kWidth, kHeight, 1, 8, kDisplayHeap4M, &destination_), 0u) << LastText();
    ASSERT_NE(imSyncAlloc(kThread, &sync_), 0u) << LastText();
    // The display node has no second-family module and no banks for this camera: the
    // request fails there and the error comes back; nobody waits for a frame.
    imDigGrab(kThread, 0, camera_, destination_, 1, 0, sync_);
    EXPECT_NE(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << "no frame is reported";
    EXPECT_NE(imThrGetError(kThread, 0, nullptr), 0);
    char function[40] = {};
    imThrGetError(kThread, 8, function);
    EXPECT_STREQ(function, "DigGrab");
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    EXPECT_EQ(sim.kvx(0).blocksDigitised(0), 0u) << "the module was not started";
    EXPECT_FALSE(sim.kvx(0).grabActive(0));
    EXPECT_EQ(sim.kvx(0).blocksTaken(), 0u);
    for (int board : {0, 1}) {
        EXPECT_FALSE(sim.grabList(board, true).running()) << board;
        EXPECT_FALSE(sim.grabEngine(board, true).armed()) << board;
    }
}

} // namespace
