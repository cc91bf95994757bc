// Grabs on a second-family grab module as a program makes them: a second-family camera file
// through imCamAlloc (which downloads it), imDigGrab into board memory (and, where the two
// run alike, into a display heap), and every pixel read back with imBufGet, compared with
// the simulated camera's pattern through the module's input LUT; decimation, single frames
// in a row, an interlaced frame, a grab of several frames, continuous grabs halted, a host
// memory destination refused; after each grab nothing is left running on the board.
// Only hlclib.h and libhlclib.so are used, plus the simulator's inspection calls.
#include "kvxgrabfixture.h"

namespace {

class KvxGrabTest : public KvxGrabFixture {
protected:
    KvxGrabTest() : KvxGrabFixture("hlckvxgrab", false) {}
};

// The grabs that run alike into board memory, where the primary Orlo places the blocks, and
// into a display heap of a board that runs its own screen, where the display Orlo does.
class KvxGrabDestinationTest : public KvxGrabFixture, public ::testing::WithParamInterface<uint32_t> {
protected:
    KvxGrabDestinationTest() : KvxGrabFixture("hlckvxdest", GetParam() != kBoardMemory) {}
    uint32_t Destination() { return Buffer(GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(BoardAndDisplayMemory, KvxGrabDestinationTest, ::testing::Values(kBoardMemory, kDisplayHeap4M),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return std::string(info.param == kBoardMemory ? "Board" : "Display");
                         });

TEST_F(KvxGrabTest, ASingleFrameReachesBoardMemoryExactlyThroughTheDownloadedRamp)
{
    ASSERT_NE(Camera(), 0u);
    for (uint32_t e = 0; e < 256; e += 51)
        EXPECT_EQ(Kvx().lut(0, e), static_cast<int>(e)) << "the download loads the identity ramp";
    const uint32_t destination = Buffer(kBoardMemory);
    ASSERT_NE(destination, 0u);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    // Done only once the module digitised the whole frame and the Orlo took every block.
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    EXPECT_EQ(Kvx().blocksDigitised(0), 20u) << "480 lines in blocks of 24";
    EXPECT_EQ(Kvx().blocksTaken(), 20u);
    ExpectFrame(destination, 0, Same);
    // Nothing more runs afterwards.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    EXPECT_EQ(Kvx().blocksTaken(), 20u);
    ExpectNothingArmed();
}

TEST_F(KvxGrabTest, AnInvertingLutIsWhatTheDestinationReceives)
{
    ASSERT_NE(Camera(), 0u);
    // A LUT buffer of the caller replaces the ramp: inverted.
    const uint32_t lut = Buffer(kHostDma, 256, 1);
    ASSERT_NE(lut, 0u);
    std::vector<uint8_t> inverted(256);
    for (uint32_t e = 0; e < 256; ++e) inverted[e] = static_cast<uint8_t>(255 - e);
    ASSERT_EQ(imBufPut(device_, lut, inverted.data()), 0) << LastText();
    // Control 30005 names the camera's LUT buffer; the grab's download loads it.
    ASSERT_EQ(imCamControl(kThread, camera_, 30005, lut), 0) << LastText();

    const uint32_t destination = Buffer(kBoardMemory);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    for (uint32_t e = 0; e < 256; e += 51) EXPECT_EQ(Kvx().lut(0, e), static_cast<int>(255 - e)) << e;
    ExpectFrame(destination, 0, Inverted);
    ExpectNothingArmed();
}

TEST_P(KvxGrabDestinationTest, AnInterlacedFrameArrivesWithItsFieldsInterleaved)
{
    ASSERT_NE(Camera({{"DESCRIPTION_INFO_MODE", 1}}), 0u);
    const uint32_t destination = Destination();
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Kvx().reg(0x50) & 0x200, 0x200) << "BTC_DFULL_0 bit 9: two fields";
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    ExpectFrame(destination, 0, Same);
    ExpectNothingArmed();
}

// Decimation takes every second or third line of the frame, whichever block it lies in.
TEST_F(KvxGrabTest, DecimationByTwoAndThreeTakesEveryNthLineAndPixel)
{
    ASSERT_NE(Camera(), 0u);
    for (uint32_t vdec : {2u, 3u}) {
        SCOPED_TRACE(vdec);
        Geometry g;
        g.width = kWidth / 2;
        g.height = kHeight / vdec;
        g.hdec = 2;
        g.vdec = vdec;
        const uint32_t destination = Buffer(kBoardMemory, g.width, g.height);
        ASSERT_NE(destination, 0u);
        const uint64_t frame = Kvx().framesDigitised(0);
        ASSERT_EQ(GrabWith(destination, {{10005, 2}, {10006, vdec}}), static_cast<int32_t>(kDone)) << LastText();
        EXPECT_EQ(Kvx().framesDigitised(0), frame + 1);
        ExpectFrame(destination, frame, Same, g);
        ExpectNothingArmed();
    }
}

// Blocks of 24 lines and a decimation of 5 from line 5: the grid carries over from block to
// block (lines 5 .. 20, then 25, 30 ..), so no line is taken twice or out of step.
TEST_F(KvxGrabTest, ADecimationThatDoesNotDivideTheBlockCarriesItsGridAcrossBlocks)
{
    ASSERT_NE(Camera(), 0u);
    Geometry g;
    g.y0 = 5;
    g.vdec = 5;
    g.height = 90;
    const uint32_t destination = Buffer(kBoardMemory, g.width, g.height);
    ASSERT_NE(destination, 0u);
    ASSERT_EQ(GrabWith(destination, {{10006, 5}, {10020, 5}, {10022, 5 + 5 * 90 - 1}}), static_cast<int32_t>(kDone))
        << LastText();
    ExpectFrame(destination, 0, Same, g);
    EXPECT_EQ(Kvx().blocksTaken(), 20u) << "every block of the frame is taken, in the window or not";
    ExpectNothingArmed();
}

// Interlaced and decimated by 2: every second line of each field, the fields interleaved.
TEST_F(KvxGrabTest, AnInterlacedFrameIsDecimatedFieldByField)
{
    ASSERT_NE(Camera({{"DESCRIPTION_INFO_MODE", 1}}), 0u);
    Geometry g;
    g.vdec = 2;
    g.height = kHeight / 2;
    g.interlaced = true;
    const uint32_t destination = Buffer(kBoardMemory, g.width, g.height);
    ASSERT_NE(destination, 0u);
    ASSERT_EQ(GrabWith(destination, {{10006, 2}}), static_cast<int32_t>(kDone)) << LastText();
    ExpectFrame(destination, 0, Same, g);
    ExpectNothingArmed();
}

TEST_P(KvxGrabDestinationTest, SingleFramesInARowEachEndAfterTheirOwnFrame)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Destination();
    Sync();
    for (uint64_t frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
        ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << frame << ": " << LastText();
        EXPECT_EQ(Kvx().framesDigitised(0), frame + 1) << "reported done after its frame, not before";
        EXPECT_EQ(Kvx().blocksTaken(), 20u * (frame + 1));
        ExpectFrame(destination, frame, Same);
    }
    ExpectNothingArmed();
}

// A grab of three frames: the module digitises exactly three, the sync object reaches its
// end after the third, and the destination holds the last one.
TEST_P(KvxGrabDestinationTest, AGrabOfThreeFramesEndsAfterTheThird)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Destination();
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 3, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); })) << "the module stops after the third frame";
    EXPECT_EQ(Kvx().framesDigitised(0), 3u);
    EXPECT_EQ(Kvx().blocksTaken(), 60u);
    ExpectFrame(destination, 2, Same);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().framesDigitised(0), 3u) << "nothing runs afterwards";
    ExpectNothingArmed();

    // The next grab of two frames starts afresh.
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 2, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); }));
    EXPECT_EQ(Kvx().framesDigitised(0), 5u);
    ExpectFrame(destination, 4, Same);
    ExpectNothingArmed();

    // A continuous grab after them still starts, and ends with its halt.
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 7; }));
    EXPECT_EQ(imThrHalt(kThread, 2), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); }));
    ExpectNothingArmed();
}

TEST_P(KvxGrabDestinationTest, AContinuousGrabRunsUntilTheHaltStopsTheModuleAndTheNextGrabStartsAfresh)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Destination();
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 2; })) << "frames follow each other";
    EXPECT_TRUE(Kvx().grabActive(0));
    // Every block digitised goes to the destination (the last one a moment after).
    EXPECT_TRUE(WaitFor([] { return Kvx().blocksTaken() >= 40; })) << Kvx().blocksTaken();
    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); })) << "the abort stops the channel";
    const uint64_t blocks = Kvx().blocksDigitised(0);
    const uint64_t taken = Kvx().blocksTaken();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().blocksDigitised(0), blocks) << "no block after the halt";
    EXPECT_EQ(Kvx().blocksTaken(), taken);
    ExpectNothingArmed();

    // The lists halted mid-frame are not where the next grab begins: its frame arrives whole.
    // (The module numbers the frames it completes; the aborted one's number comes again.)
    const uint64_t frame = Kvx().framesDigitised(0);
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    ASSERT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Kvx().framesDigitised(0), frame + 1) << "reported done after its frame, not before";
    ExpectFrame(destination, frame, Same);
    ExpectNothingArmed();
}

TEST_P(KvxGrabDestinationTest, AHaltAtTheEndLetsTheContinuousGrabFinishItsFrameWhole)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Destination();
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 1; }));
    EXPECT_EQ(imThrHalt(kThread, 2), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); }));
    EXPECT_EQ(Kvx().blocksDigitised(0) % 20, 0u) << "no frame cut short";
    EXPECT_EQ(Kvx().blocksTaken(), Kvx().blocksDigitised(0));
    ExpectFrame(destination, Kvx().framesDigitised(0) - 1, Same);
    ExpectNothingArmed();
}

TEST_F(KvxGrabTest, AHostMemoryDestinationIsRefusedAndNothingStarts)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kHostDma);
    ASSERT_NE(destination, 0u);
    Sync();
    imAppGetError(1, nullptr);
    imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_);
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), -14) << LastText();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().blocksDigitised(0), 0u) << "the module was not started";
    ExpectNothingArmed();
}

} // namespace
