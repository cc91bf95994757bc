// Grabs into host memory as a program makes them: a camera file through imCamAlloc, a
// destination in host DMA memory or in locked caller memory, imDigGrab with a sync object
// and a bounded wait, through hlclib.h and libhlclib.so only.  The board grabs the frame
// block by block into its temporary buffer and copies each block out by register lists;
// every pixel that arrives is checked against the simulated camera's test pattern of the
// frame the engine took, through the module's ramp lookup table.  The simulated machine is
// read back through the platform object: its grab and VM list engines must be idle after
// each grab and no access may go astray.
#include "hostgrabfixture.h"

namespace {

// ---------------------------------------------------------------- one camera channel

TEST_F(HostGrabTest, OneFrameArrivesInHostDmaMemoryThroughTheLists)
{
    UseCamera({});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    ASSERT_NE(dma, 0u);
    const uint64_t lists = List().listsStarted();
    const uint64_t copies = Copier().transfers();
    ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_GT(List().listsStarted(), lists) << "the grab list ran";
    EXPECT_GT(Copier().transfers(), copies + 2) << "blocks were copied one by one";
    const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
    ExpectIdle();

    // A second grab takes a later frame into the same buffer, exactly.
    const uint64_t first = LastFrame();
    ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_GT(LastFrame(), first);
    const std::vector<uint8_t> again = Read(dma, kWidth * kHeight);
    EXPECT_EQ(Mismatches(again.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
    ExpectIdle();
}

// Only host DMA memory is grabbed through the temporary buffer: locked caller memory is no
// destination the grab engine can reach, so the grab is refused as an invalid destination,
// the sync object still ends and nothing is written into the caller's pages.
TEST_F(HostGrabTest, LockedCallerMemoryIsRefusedAsADestination)
{
    UseCamera({});
    std::vector<uint8_t> memory;
    const uint32_t paged = Paged(kWidth, kHeight, &memory);
    ASSERT_NE(paged, 0u);
    const uint64_t lists = List().listsStarted();
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, paged, 1, 0, sync), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
    imSyncFree(kThread, sync);
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), IM_ERR_INVALID_BUFFER);
    EXPECT_EQ(LastText(), "Invalid buffer ID");
    imAppGetError(1, nullptr);
    EXPECT_EQ(List().listsStarted(), lists) << "no grab list ran";
    const std::vector<uint8_t> pixels = Read(paged, kWidth * kHeight);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), kWidth * kHeight);
    ExpectIdle();

    // The node still grabs into host DMA memory afterwards.
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> frame = Read(dma, kWidth * kHeight);
    EXPECT_EQ(Mismatches(frame.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
    ExpectIdle();
}

// ---------------------------------------------------------------- taps

// A camera of taps delivers every tap of a window line at once, each digitized on a
// channel of its own (two taps on channels 0 and 1, four on 0-3), so tap t of window line j
// is the test pattern of channel t at raster line j.  The host grab puts tap t where the
// tap table says: line taps on neighbouring destination lines, part taps in parts of the
// destination.
struct TapCase {
    const char* name;
    CameraSpec camera;
    uint32_t taps;
    // Destination row -> raster row of the window and the tap it comes from.
    std::function<std::pair<uint32_t, uint32_t>(uint32_t row)> source;
};

TEST_F(HostGrabTest, TapsReachTheirPlacesInTheDestination)
{
    const std::vector<TapCase> cases = {
        {"0x1111", CameraSpec{}, 1, [](uint32_t r) { return std::make_pair(r, 0u); }},
        {"0x1112", CameraSpec{kRed, 1, 1, 1, 2, 0}, 2, [](uint32_t r) { return std::make_pair(r / 2, r % 2); }},
        {"0x1121", CameraSpec{kRed, 1, 1, 2, 1, 0}, 2,
         [](uint32_t r) { return std::make_pair(r % (kHeight / 2), r / (kHeight / 2)); }},
        {"0x1114", CameraSpec{kRed, 1, 1, 1, 4, 0}, 4, [](uint32_t r) { return std::make_pair(r / 4, r % 4); }},
    };
    for (const TapCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (camera_) imCamFree(kThread, camera_);
        camera_ = 0;
        UseCamera(c.camera);
        const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
        ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
        const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
        const uint32_t top = windowY_;
        const auto source = c.source;
        const auto from = [top, source](uint32_t row, uint32_t) {
            const auto [line, tap] = source(row);
            return Source{false, top + line, tap};
        };
        EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(), from), 0);
        ExpectIdle();
        if (c.taps != 2 || c.camera.yTapsAdj != 2) continue;
        // Into board memory the same camera needs a band a tap; its first band then holds
        // what the host grab gave (a window of the engine's lines, two camera lines each).
        // The second band is not written: nothing runs past the first.
        const uint32_t board = Buffer(kWidth, kHeight, 2, 8, kBoardMemory);
        ASSERT_EQ(imBufClear(device_, board, 7.0, 0), 0) << LastText();
        ASSERT_EQ(Grab(board, 1), static_cast<int32_t>(kDone)) << LastText();
        const std::vector<uint8_t> boardPixels = Read(board, size_t{kWidth} * kHeight * 2);
        EXPECT_EQ(Mismatches(boardPixels.data(), kWidth, kHeight, 1, 0, LastFrame(), from), 0);
        EXPECT_EQ(std::count(boardPixels.begin() + kWidth * kHeight, boardPixels.end(), 7), kWidth * kHeight);
        ExpectIdle();
    }
}

TEST_F(HostGrabTest, FourTapsRefuseAVerticalReductionOfSixAndGrabWithEight)
{
    UseCamera(CameraSpec{kRed, 1, 1, 1, 4, 0});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    const uint32_t six = Options({{10006, 6}});
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, dma, 1, six, sync), 0);
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
    imSyncFree(kThread, sync);
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), IM_ERR_RESTRICTED);
    ExpectIdle();
    imAppGetError(1, nullptr);

    // A reduction of 8 takes every eighth camera line: tap 0 (channel 0) of every second
    // window line, each window line bringing four camera lines.
    const uint32_t eight = Options({{10006, 8}});
    const uint32_t small = Buffer(kWidth, kHeight / 8, 1, 8, kHostDma);
    ASSERT_EQ(Grab(small, 1, eight), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), 0);
    const std::vector<uint8_t> pixels = Read(small, kWidth * kHeight / 8);
    const uint32_t top = windowY_;
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight / 8, 1, 0, LastFrame(),
                         [top](uint32_t row, uint32_t) { return Source{false, top + 2 * row, 0}; }),
              0);
    ExpectIdle();
}

// Line taps take a vertical reduction halved (two taps) or quartered (four taps): reduction
// g grabs tap 0 (channel 0) of every (g / taps)-th window line.  What is left must be 1 or
// even, and four taps refuse 2, 6, 10, 12 and 14 (-9).  An odd reduction, or one that does
// not divide the camera's lines, never reaches the host grab: the window refuses it (-8).
struct ReductionCase {
    uint32_t yTapsAdj;
    std::vector<uint32_t> accepted;
    std::vector<std::pair<uint32_t, int32_t>> refused;  // reduction, error
};

TEST_F(HostGrabTest, LineTapsGrabEveryReductionTheyCanHalveOrQuarter)
{
    const std::vector<ReductionCase> cases = {
        {2, {2, 4, 8, 12, 16}, {{6, IM_ERR_RESTRICTED}, {10, IM_ERR_RESTRICTED}, {3, -8}}},
        {4, {4, 8, 16}, {{2, IM_ERR_RESTRICTED}, {10, IM_ERR_RESTRICTED}, {12, IM_ERR_RESTRICTED}, {5, -8}}},
    };
    for (const ReductionCase& c : cases) {
        SCOPED_TRACE(c.yTapsAdj);
        if (camera_) imCamFree(kThread, camera_);
        camera_ = 0;
        UseCamera(CameraSpec{kRed, 1, 1, 1, c.yTapsAdj, 0});
        for (uint32_t g : c.accepted) {
            SCOPED_TRACE(g);
            const uint32_t step = g / c.yTapsAdj;
            const int32_t rows = kHeight / static_cast<int32_t>(c.yTapsAdj * step);
            const uint32_t dma = Buffer(kWidth, rows, 1, 8, kHostDma);
            ASSERT_EQ(Grab(dma, 1, Options({{10006, g}})), static_cast<int32_t>(kDone)) << LastText();
            const std::vector<uint8_t> pixels = Read(dma, static_cast<size_t>(kWidth) * rows);
            const uint32_t top = windowY_;
            EXPECT_EQ(Mismatches(pixels.data(), kWidth, rows, 1, 0, LastFrame(),
                                 [top, step](uint32_t row, uint32_t) { return Source{false, top + step * row, 0}; }),
                      0);
            ExpectIdle();
        }
        const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
        for (const auto& [g, error] : c.refused) {
            SCOPED_TRACE(g);
            const uint32_t sync = Sync();
            EXPECT_EQ(imDigGrab(kThread, 0, camera_, dma, 1, Options({{10006, g}}), sync), 0);
            EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
            imSyncFree(kThread, sync);
            EXPECT_EQ(imThrGetError(kThread, 1, nullptr), error);
            imAppGetError(1, nullptr);
            ExpectIdle();
        }
    }
}

// ---------------------------------------------------------------- fields and zoom

TEST_F(HostGrabTest, TwoFieldsInterleaveInTheDestination)
{
    UseCamera(CameraSpec{kRed, 1, 1, 1, 1, 1});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
    // Row r is line r / 2 of field r % 2, counted from the window's first field line.
    const uint32_t first = (windowY_ + 1) / 2;
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(),
                         [first](uint32_t row, uint32_t) {
                             return Source{false, 2 * (first + row / 2) + row % 2, 0};
                         }),
              0);
    ExpectIdle();
}

TEST_F(HostGrabTest, ZoomTwoRepeatsEveryLine)
{
    UseCamera({});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    const uint32_t zoom = Options({{kFieldVZoom, 2}});
    ASSERT_EQ(Grab(dma, 1, zoom), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
    const uint32_t top = windowY_;
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(),
                         [top](uint32_t row, uint32_t) { return Source{false, top + row / 2, 0}; }),
              0);
    ExpectIdle();
}

}  // namespace
