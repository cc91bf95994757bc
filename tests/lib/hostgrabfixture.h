// Shared surroundings of the host-grab tests: a node with the grab module, camera files
// made to measure, host destinations, the simulated camera's expected pixels and the
// checks that every grab leaves the list engines idle and no access astray.
#pragma once

#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;
constexpr uint32_t kBoardMemory = 1, kHostDma = 3, kCallerMemory = 4;
constexpr uint32_t kDone = 50;
constexpr uint32_t kRed = 0x10000, kGreen = 0x20000, kBlue = 0x40000;
constexpr int32_t kWidth = 640, kHeight = 480;
constexpr double kDefault = 268435456.0;      // a field's "default" value
constexpr uint32_t kFieldVZoom = 10012;       // grab control field: vertical zoom
constexpr uint32_t kFieldSecondBuffer = 16003;
constexpr uint32_t kRgbPacked = 0x40000018u;  // packed colour pixels
constexpr double kFramePeriod = 1.0 / 30;     // the camera's pace: a block takes longer than its copy

// What sets a camera apart from the plain 8-bit one of 640 x 480 at 13.5 MHz.
struct CameraSpec {
    uint32_t channels = kRed;
    uint32_t xTaps = 1, xTapsAdj = 1, yTaps = 1, yTapsAdj = 1;
    uint32_t mode = 0;           // 1: interlaced, grabbed as two fields
    uint32_t misc = 0;           // INFO_MISC
};

std::string CameraFile(const CameraSpec& c)
{
    std::vector<std::pair<std::string, uint32_t>> lines = libsandbox::Camera640Lines(c.channels);
    for (auto& [keyword, value] : lines) {
        if (keyword == "INFO_XTAPSPERCH") value = c.xTaps;
        if (keyword == "INFO_YTAPSPERCH") value = c.yTaps;
        if (keyword == "INFO_XTAPSPERCHADJ") value = c.xTapsAdj;
        if (keyword == "INFO_YTAPSPERCHADJ") value = c.yTapsAdj;
    }
    lines.push_back({"INFO_MODE", c.mode});
    lines.push_back({"INFO_MISC", c.misc});
    return libsandbox::StandardCameraFile(lines);
}

// Where a destination pixel comes from: the raster line and the sample's channel, or none
// (the pixel is expected to be 0).
struct Source {
    bool none = false;
    uint32_t y = 0;
    uint32_t channel = 0;
};

class HostGrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
        Engine().setFramePeriod(kFramePeriod);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
    }
    void TearDown() override
    {
        for (uint32_t id : buffers_) imBufFree(device_, id);
        if (camera_) imCamFree(kThread, camera_);
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }
    static boardsim::GrabEngineView Engine() { return boardsim::BoardSim::instance().grabEngine(0, false); }
    static boardsim::GrabListView List() { return boardsim::BoardSim::instance().grabList(0, false); }
    static boardsim::VmTransferView Copier() { return boardsim::BoardSim::instance().vmTransfer(0, false); }
    static boardsim::OrloView Orlo() { return boardsim::BoardSim::instance().orlo(0); }

    // Loads the camera; a first grab into board memory tells where its window lies in the
    // raster (the host grab moves the window registers block by block).  Several taps or
    // channels of one byte do not fit an 8-bit board pixel (the grab refuses them, -9), so
    // such a camera learns its window from the same camera with one channel and no taps,
    // which has the same raster.
    void UseCamera(const CameraSpec& spec)
    {
        CameraSpec plain = spec;
        plain.xTaps = plain.xTapsAdj = plain.yTaps = plain.yTapsAdj = 1;
        plain.channels = kRed;
        const bool tapped =
            spec.xTaps * spec.xTapsAdj * spec.yTaps * spec.yTapsAdj > 1 || spec.channels != kRed;
        box_.write("cam.dcf", CameraFile(plain));
        ASSERT_NE(imCamAlloc(kThread, "cam", 1, &camera_), 0u) << LastText();
        const uint32_t board = Buffer(kWidth, kHeight, 1, 8, kBoardMemory);
        ASSERT_EQ(Grab(board, 1), static_cast<int32_t>(kDone)) << LastText();
        windowX_ = Orlo().reg(kOrloGHWSTART) & 0xFFFF;
        windowY_ = Orlo().reg(kOrloGVWSTART) & 0xFFFF;
        if (!tapped) return;
        imCamFree(kThread, camera_);
        camera_ = 0;
        box_.write("cam.dcf", CameraFile(spec));
        ASSERT_NE(imCamAlloc(kThread, "cam", 1, &camera_), 0u) << LastText();
        // The board refuses that camera into one byte a pixel.
        const uint32_t sync = Sync();
        EXPECT_EQ(imDigGrab(kThread, 0, camera_, board, 1, 0, sync), 0);
        EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
        imSyncFree(kThread, sync);
        EXPECT_EQ(imThrGetError(kThread, 1, nullptr), IM_ERR_RESTRICTED);
        EXPECT_STREQ(LastText().c_str(), "Operation unable to execute due to a restriction");
        imAppGetError(1, nullptr);
    }
    uint32_t Buffer(int32_t width, int32_t height, uint32_t bands, uint32_t type, uint32_t location)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, width, height, bands, type, location, &id), 0u) << LastText();
        if (id) buffers_.push_back(id);
        return id;
    }
    // A buffer over locked caller memory: page after page of the process.
    uint32_t Paged(int32_t width, int32_t height, std::vector<uint8_t>* memory)
    {
        memory->assign(static_cast<size_t>(width) * height + 4096, 0);
        const uint32_t base = (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory->data())) + 4095u) & ~4095u;
        const uint32_t addresses[1] = {base};
        uint32_t id = 0;
        EXPECT_NE(imBufCreate(device_, width, height, 1, 8, kCallerMemory, addresses, width, &id), 0u) << LastText();
        if (!id) return 0;
        buffers_.push_back(id);
        EXPECT_EQ(imBufControl(device_, id, 1, kDefault), 0) << LastText();
        return id;
    }
    uint32_t Options(const std::vector<std::pair<uint32_t, double>>& fields)
    {
        const uint32_t id = libsandbox::ControlBuffer(device_, fields);
        if (id) buffers_.push_back(id);
        return id;
    }
    static uint32_t Sync() { return libsandbox::HeldSyncObject(kThread); }
    int32_t Grab(uint32_t destination, int32_t count, uint32_t options = 0)
    {
        const int32_t state = libsandbox::GrabAndWait(kThread, camera_, destination, count, options);
        // The grab's own error reaches the thread's record.
        const int32_t error = imThrGetError(kThread, 1, nullptr);
        EXPECT_EQ(error, 0) << LastText();
        return error ? error : state;
    }
    std::vector<uint8_t> Read(uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> data(bytes);
        EXPECT_EQ(imBufGet(device_, id, data.data()), 0) << LastText();
        return data;
    }

    // Counts the bytes of a width x height plane (unit bytes per pixel, the byte `byte` of
    // each checked) that differ from the pattern of camera frame n where `from` says each
    // row comes from; prints the first few.
    int Mismatches(const uint8_t* plane, int32_t width, int32_t height, uint32_t unit, uint32_t byte, uint64_t frame,
                   const std::function<Source(uint32_t row, uint32_t band)>& from, uint32_t band = 0) const
    {
        int bad = 0;
        for (int32_t j = 0; j < height; ++j) {
            const Source s = from(static_cast<uint32_t>(j), band);
            std::vector<uint16_t> raster;
            if (!s.none) raster = Engine().patternBlock(frame, s.channel, windowX_ + width, s.y + 1);
            for (int32_t i = 0; i < width; ++i) {
                const uint32_t expected =
                    s.none ? 0 : raster[static_cast<size_t>(s.y) * (windowX_ + width) + windowX_ + i] & 0xFF;
                const uint8_t got = plane[(static_cast<size_t>(j) * width + i) * unit + byte];
                if (got != expected && bad++ < 4)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") band " << band << ": " << int(got)
                                  << " instead of " << expected;
            }
        }
        return bad;
    }
    // Rows of a plain frame: row j is window line j of channel c.
    std::function<Source(uint32_t, uint32_t)> Rows(uint32_t channel = 0) const
    {
        const uint32_t top = windowY_;
        return [top, channel](uint32_t row, uint32_t) { return Source{false, top + row, channel}; };
    }
    uint64_t LastFrame() const { return static_cast<uint64_t>(Engine().lastFrame()); }

    // After a host grab: both list engines and the grab engine idle, nothing astray.  The
    // grab ends with the last line of its window; the camera's frame may still run past it
    // for a while, and is let end first.
    static void ExpectIdle()
    {
        for (int i = 0; i < 100 && Engine().inFlight(); ++i) boardsim::BoardSim::instance().advance(kFramePeriod / 10);
        EXPECT_FALSE(List().running());
        EXPECT_EQ(Orlo().reg(kOrloGrabListControl), 0u) << "the grab list reads 0 when idle";
        EXPECT_EQ(Orlo().reg(kOrloVmListControl), 0u) << "the VM list reads 0 when idle";
        EXPECT_FALSE(Copier().busy());
        EXPECT_FALSE(Engine().armed());
        EXPECT_FALSE(Engine().inFlight());
        EXPECT_EQ(Engine().strayBytes(), 0u);
        EXPECT_EQ(Copier().droppedBytes(), 0u);
        EXPECT_EQ(List().strays(), 0u);
        EXPECT_EQ(boardsim::BoardSim::instance().strayAccesses(), 0u);
    }

    libsandbox::Sandbox box_{"hlchostgrab"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
    uint32_t windowX_ = 0, windowY_ = 0;
    std::vector<uint32_t> buffers_;
};

}  // namespace
