// Second-family grabs into display memory as a program makes them: a board with the module,
// a display Orlo and a display chip; a display allocated so that the board holds display
// heaps; a second-family camera file through imCamAlloc, imDigGrab into a display heap,
// every pixel read back with imBufGet and compared with the simulated camera's pattern
// through the identity ramp.  The display Orlo's lists place the blocks in its own memory;
// the primary Orlo takes none of them.  After each grab nothing is left armed or stray, and
// a board-memory grab on the same board afterwards still arrives whole.
// Only hlclib.h and libhlclib.so are used, plus the simulator's inspection calls.
#include "kvxgrabfixture.h"

namespace {

class KvxDisplayGrabTest : public KvxGrabFixture {
protected:
    KvxDisplayGrabTest() : KvxGrabFixture("hlckvxdisp", true) {}
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
        box_.write("mode.vcf", libsandbox::Mode640Vcf());
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
