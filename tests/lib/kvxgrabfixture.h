// Shared surroundings of the second-family grab tests: a node whose board carries the module
// (and, when the test asks for it, a display Orlo with its own screen), a one-channel 8-bit
// camera file loaded through imCamAlloc, destinations, the simulated camera's expected
// pixels through the module's LUT, and the checks that nothing is left armed or astray.
#pragma once

#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "framegen.h"

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
constexpr uint32_t kBoardMemory = 1, kHostDma = 3;
constexpr uint32_t kDisplayHeap4M = 0x40000060u;   // the display Orlo's heap at 4 MB
constexpr uint32_t kDone = 50;
constexpr uint32_t kWidth = 640, kHeight = 480;
using libsandbox::LastText;

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

class KvxGrabFixture : public ::testing::Test {
protected:
    // withDisplay: the board has a display Orlo and a display chip and runs its own screen,
    // so that it holds display heaps.
    KvxGrabFixture(const char* sandbox, bool withDisplay) : box_(sandbox), withDisplay_(withDisplay) {}

    void SetUp() override
    {
        box_.useFpgaFile();
        if (withDisplay_) {
            box_.write("halcyra.ini", libsandbox::kOwnScreenIni);
            box_.write("mode.vcf", libsandbox::Mode640Vcf());
            libsandbox::ConfigureKvxDisplayBoard(4);
        } else {
            box_.write("halcyra.ini", libsandbox::kOneBoard);
            Sim().configure(libsandbox::KvxModuleBoard(4));
        }
        // Ten frames a second: every frame of a continuous grab ends in an event the
        // interrupt servers handle, which a loaded host must keep up with.
        Kvx().setFrameNanos(100000000);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        // The display heaps follow the shown display's size.
        if (withDisplay_) {
            ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display_), 0u) << LastText();
        }
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (sync_) imSyncFree(kThread, sync_);
        if (camera_) imCamFree(kThread, camera_);
        if (display_) imDispFree(kThread, display_);
        libsandbox::FreeDevice(device_);
        Sim().configure();
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
    // One frame into `destination` with the options of a control buffer; the sync state.
    int32_t GrabWith(uint32_t destination, const std::vector<std::pair<uint32_t, double>>& fields)
    {
        const uint32_t options = libsandbox::ControlBuffer(device_, fields);
        if (options) buffers_.push_back(options);
        if (!sync_) Sync();
        EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, options, sync_), 0) << LastText();
        return imSyncHost(kThread, sync_, kDone);
    }
    // Polls a condition for up to two seconds of real time (the machine runs free).
    template <class F>
    static bool WaitFor(F done)
    {
        for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    }
    static uint32_t Same(uint32_t v) { return v; }
    static uint32_t Inverted(uint32_t v) { return 255 - v; }
    // The destination's pixels against frame `frame` of the pattern through a LUT.
    void ExpectFrame(uint32_t destination, uint64_t frame, uint32_t (*lut)(uint32_t) = Same,
                     const Geometry& g = Geometry())
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
    // After a grab nothing is left armed: the channel neither digitises nor is armed, its
    // grab control keeps neither start bit, no block waits for an Orlo, nothing strayed, and
    // no Orlo's own grab engine ran (the module is their video source).
    void ExpectNothingArmed() const
    {
        EXPECT_FALSE(Kvx().grabActive(0));
        EXPECT_EQ(Kvx().reg(0x318) & 0x60, 0) << "FAF_TSTSTS: neither active nor armed";
        EXPECT_EQ(Kvx().reg(0x308) & 0xA, 0) << "FAF_GRBCTL0: no single or continuous start left";
        EXPECT_FALSE(Kvx().holdsBlock()) << "every block digitised was taken";
        EXPECT_EQ(Kvx().blocksDropped(), 0u);
        EXPECT_EQ(Kvx().transferStrays(), 0u);
        for (bool display : {false, true}) {
            if (display && !withDisplay_) continue;
            EXPECT_EQ(Sim().grabList(0, display).strays(), 0u) << (display ? "display" : "primary");
            EXPECT_FALSE(Sim().grabEngine(0, display).armed());
            EXPECT_EQ(Sim().grabEngine(0, display).framesStarted(), 0u);
        }
    }
    static boardsim::BoardSim& Sim() { return boardsim::BoardSim::instance(); }
    static boardsim::KvxView Kvx() { return Sim().kvx(0); }

    libsandbox::Sandbox box_;
    const bool withDisplay_;
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    uint32_t camera_ = 0;
    uint32_t sync_ = 0;
    std::vector<uint32_t> buffers_;
};

} // namespace
