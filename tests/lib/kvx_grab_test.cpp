// Grabs on a second-family grab module as a program makes them: a second-family camera file
// through imCamAlloc (which downloads it), imDigGrab into a buffer, and the pixels read back
// with imBufGet, compared with the simulated camera's pattern through the module's input
// LUT; a continuous grab halted; after each grab nothing is left running on the board.
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
    uint32_t Camera()
    {
        box_.write("kvx.dcf", libsandbox::KvxCameraFile({{"DESCRIPTION_INFO_XSIZE", kWidth},
                                                         {"DESCRIPTION_INFO_YSIZE", kHeight},
                                                         {"DESCRIPTION_INFO_BITSPERLOGCH", 8},
                                                         {"DESCRIPTION_INFO_CHANNEL", 1},
                                                         {"DESCRIPTION_INFO_XTAPSPERCH", 1},
                                                         {"DESCRIPTION_INFO_YTAPSPERCH", 1},
                                                         {"DESCRIPTION_INFO_XTAPSPERCHADJ", 1},
                                                         {"DESCRIPTION_INFO_YTAPSPERCHADJ", 1},
                                                         {"DESCRIPTION_INFO_LUTPROG", 1},
                                                         {"FAF_OPAMPCTL", 0x2}}));
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
    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }
    static boardsim::GrabListView List() { return boardsim::BoardSim::instance().grabList(0); }

    libsandbox::Sandbox box_{"hlckvxgrab"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
    uint32_t sync_ = 0;
    std::vector<uint32_t> buffers_;
};

TEST_F(KvxGrabTest, ASingleFrameDigitisesOneFrameThroughTheDownloadedRampAndStops)
{
    ASSERT_NE(Camera(), 0u);
    for (uint32_t e = 0; e < 256; e += 51)
        EXPECT_EQ(Kvx().lut(0, e), static_cast<int>(e)) << "the download loads the identity ramp";
    const uint32_t destination = Buffer(kBoardMemory);
    ASSERT_NE(destination, 0u);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync_), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0) << LastText();
    // The module digitises the frame block by block at the camera's pace, then stops.
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) == 1 && !Kvx().grabActive(0); }));
    EXPECT_EQ(Kvx().blocksDigitised(0), 20u) << "480 lines in blocks of 24";
    EXPECT_EQ(Kvx().reg(0x318) & 0x40, 0) << "FAF_TSTSTS: no grab active";
    // Its last block is lines 456-479 of frame 0 through the ramp.
    const std::vector<uint8_t> block = Kvx().lineBuffer(0);
    ASSERT_EQ(block.size(), 24u * kWidth);
    for (uint32_t k = 0; k < 24; k += 23)
        for (uint32_t x = 0; x < kWidth; x += 101)
            EXPECT_EQ(block[k * kWidth + x], boardsim::TestPatternGenerator::value(x, 456 + k, 0, 0, 8)) << k << "," << x;
    // Nothing more runs afterwards and nothing strayed.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().framesDigitised(0), 1u);
    // (The Orlo itself stays on the idle grab set the library leaves it on.)
    EXPECT_EQ(boardsim::BoardSim::instance().grabEngine(0).strayBytes(), 0u);
    EXPECT_EQ(List().strays(), 0u);
}

TEST_F(KvxGrabTest, AnInvertingLutIsWhatTheModuleDigitisesThrough)
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
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    for (uint32_t e = 0; e < 256; e += 51) EXPECT_EQ(Kvx().lut(0, e), static_cast<int>(255 - e)) << e;
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) == 1 && !Kvx().grabActive(0); }));
    const std::vector<uint8_t> block = Kvx().lineBuffer(0);
    ASSERT_EQ(block.size(), 24u * kWidth);
    for (uint32_t k = 0; k < 24; ++k)
        for (uint32_t x = 0; x < kWidth; x += 37)
            EXPECT_EQ(block[k * kWidth + x], 255 - boardsim::TestPatternGenerator::value(x, 456 + k, 0, 0, 8));
}

TEST_F(KvxGrabTest, AContinuousGrabRunsUntilTheHaltStopsTheModule)
{
    ASSERT_NE(Camera(), 0u);
    const uint32_t destination = Buffer(kBoardMemory);
    Sync();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync_), 0) << LastText();
    ASSERT_TRUE(WaitFor([] { return Kvx().framesDigitised(0) >= 2; })) << "frames follow each other";
    EXPECT_TRUE(Kvx().grabActive(0));
    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync_, kDone), static_cast<int32_t>(kDone)) << LastText();
    ASSERT_TRUE(WaitFor([] { return !Kvx().grabActive(0); })) << "the abort stops the channel";
    EXPECT_EQ(Kvx().reg(0x318) & 0x60, 0) << "FAF_TSTSTS: neither active nor armed";
    const uint64_t blocks = Kvx().blocksDigitised(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Kvx().blocksDigitised(0), blocks) << "no block after the halt";
    EXPECT_EQ(List().strays(), 0u);
}

} // namespace
