// Grabs on a second-family grab module as a program makes them: a second-family camera file
// through imCamAlloc (which downloads it), imDigGrab into board memory, and every pixel read
// back with imBufGet, compared with the simulated camera's pattern through the module's
// input LUT; single frames in a row, an interlaced frame, a continuous grab halted, a host
// memory destination refused; after each grab nothing is left running on the board.
// Only hlclib.h and libhlclib.so are used, plus the simulator's inspection calls.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "framegen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kBoardMemory = 1, kHostDma = 3;
constexpr uint32_t kDone = 50;
constexpr uint32_t kWidth = 640, kHeight = 480;
using libsandbox::LastText;

class KvxGrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(libsandbox::KvxModuleBoard(4));
        // Ten frames a second: every frame of a continuous grab ends in an event the
        // interrupt servers handle, which a loaded host must keep up with.
        Kvx().setFrameNanos(100000000);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (sync_) imSyncFree(kThread, sync_);
        if (camera_) imCamFree(kThread, camera_);
        int32_t closed = device_ ? imDevFree(device_) : 0;
        for (int i = 0; i < 5 && closed == IM_ERR_TIMEOUT; ++i) closed = imDevFree(device_);
        EXPECT_EQ(closed, 0) << LastText();
        boardsim::BoardSim::instance().configure();
    }
    // A one-channel 8-bit camera, its LUT loaded from the camera's own table (identity).
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
    uint32_t Buffer(uint32_t kind, uint32_t width = kWidth, uint32_t height = kHeight)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, width, height, 1, 8, kind, &id), 0u) << LastText();
        if (id) buffers_.push_back(id);
        return id;
    }
    uint32_t Sync()
    {
        EXPECT_NE(imSyncAlloc(kThread, &sync_), 0u) << LastText();
        EXPECT_EQ(imSyncControl(kThread, sync_, 18001, 2.0), 0);
        return sync_;
    }
    // Polls a condition for up to two seconds of real time (the machine runs free).
    template <class F>
    static bool WaitFor(F done)
    {
        for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    }
    // Where the destination's pixels come from: a window from (x0, y0) of `width` x `height`
    // destination pixels, every hdec-th camera pixel and every vdec-th line (of each field,
    // the fields interleaved, when interlaced).
    struct Geometry {
        uint32_t width = kWidth, height = kHeight;
        uint32_t x0 = 0, y0 = 0;
        uint32_t hdec = 1, vdec = 1;
        bool interlaced = false;
        uint32_t CameraLine(uint32_t y) const
        {
            return interlaced ? y0 + 2 * ((y >> 1) * vdec) + (y & 1) : y0 + y * vdec;
        }
    };
    // The destination's pixels against frame `frame` of the pattern through a LUT.
    template <class Lut>
    void ExpectFrame(uint32_t destination, uint64_t frame, Lut lut, const Geometry& g = Geometry())
    {
        std::vector<uint8_t> pixels(g.width * g.height, 0xEE);
        ASSERT_EQ(imBufGet(device_, destination, pixels.data()), 0) << LastText();
        uint32_t wrong = 0;
        for (uint32_t y = 0; y < g.height; ++y)
            for (uint32_t x = 0; x < g.width; ++x) {
                const uint32_t cx = g.x0 + x * g.hdec, cy = g.CameraLine(y);
                const uint32_t want = lut(boardsim::TestPatternGenerator::value(cx, cy, frame, 0, 8));
                const uint32_t got = pixels[y * g.width + x];
                if (got != want && ++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " (camera " << cx << "," << cy << "): " << got
                                  << " not " << want;
            }
        EXPECT_EQ(wrong, 0u) << "pixels that differ";
    }
    // One frame into `destination` with the options of a control buffer; the sync state.
    int32_t GrabWith(uint32_t destination, const std::vector<std::pair<uint32_t, double>>& fields)
    {
        const uint32_t options = libsandbox::ControlBuffer(device_, fields);
        if (options) buffers_.push_back(options);
        if (!sync_) Sync();
        EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, options, sync_), 0) << LastText();
        return imSyncHost(kThread, sync_, kDone);
    }
    static uint32_t Same(uint32_t v) { return v; }
    static uint32_t Inverted(uint32_t v) { return 255 - v; }
    // After a grab nothing is left armed: the channel neither digitises nor is armed, its
    // grab control keeps neither start bit, no block waits for the Orlo, nothing strayed.
    static void ExpectNothingArmed()
    {
        EXPECT_FALSE(Kvx().grabActive(0));
        EXPECT_EQ(Kvx().reg(0x318) & 0x60, 0) << "FAF_TSTSTS: neither active nor armed";
        EXPECT_EQ(Kvx().reg(0x308) & 0xA, 0) << "FAF_GRBCTL0: no single or continuous start left";
        EXPECT_FALSE(Kvx().holdsBlock()) << "every block digitised was taken";
        EXPECT_EQ(Kvx().blocksDropped(), 0u);
        EXPECT_EQ(Kvx().transferStrays(), 0u);
        EXPECT_EQ(List().strays(), 0u);
        // The Orlo's own grab engine never ran: the module is its video source.
        EXPECT_FALSE(boardsim::BoardSim::instance().grabEngine(0).armed());
        EXPECT_EQ(boardsim::BoardSim::instance().grabEngine(0).framesStarted(), 0u);
    }
    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }
    static boardsim::GrabListView List() { return boardsim::BoardSim::instance().grabList(0); }

    libsandbox::Sandbox box_{"hlckvxgrab"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
    uint32_t sync_ = 0;
    std::vector<uint32_t> buffers_;
};

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

TEST_F(KvxGrabTest, AnInterlacedFrameArrivesWithItsFieldsInterleaved)
{
    ASSERT_NE(Camera({{"DESCRIPTION_INFO_MODE", 1}}), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
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

TEST_F(KvxGrabTest, SingleFramesInARowEachEndAfterTheirOwnFrame)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
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
TEST_F(KvxGrabTest, AGrabOfThreeFramesEndsAfterTheThird)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
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

TEST_F(KvxGrabTest, AContinuousGrabRunsUntilTheHaltStopsTheModuleAndTheNextGrabStartsAfresh)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 2; })) << "frames follow each other";
    EXPECT_TRUE(Kvx().grabActive(0));
    EXPECT_GE(Kvx().blocksTaken(), 40u) << "every frame goes to the destination";
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

TEST_F(KvxGrabTest, AHaltAtTheEndLetsTheContinuousGrabFinishItsFrameWhole)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
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
