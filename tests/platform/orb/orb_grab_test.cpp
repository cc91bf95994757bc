#include "orbsink.h"
#include "orbtest.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <thread>

using namespace orbtest;

namespace {

class OrbDigitizers : public OrbTest {
protected:
    void SetUp() override
    {
        OrbTest::SetUp();
        orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &dig);
        ASSERT_NE(dig, 0u);
    }
    std::vector<uint8_t> pixels(OrbId id)
    {
        auto info = orbsim::bufferInfo(id);
        std::vector<uint8_t> px(size_t(info->width) * size_t(info->height) * size_t(info->bytesPerPixel));
        orbBufGet(id, px.data());
        return px;
    }
    static std::vector<uint8_t> benchFrame(const bench::CameraSettings& cs, int w, int h)
    {
        std::vector<uint8_t> f(size_t(w) * size_t(h));
        bench::captureFrame(cs, w, h, f.data());
        return f;
    }
    OrbId dig = 0;
};

// ---- input, controls and levels ----

TEST_F(OrbDigitizers, SelectsEveryInputChannel)
{
    for (uint32_t ch : {0x20000000u, 0x40000000u, 0x80000000u, 0x1000000u, 0x2000000u, 0x4000000u, 0x8000000u, 0x200000u}) {
        orbDigSelectInput(dig, ch);
        EXPECT_EQ(orbsim::digitizerState(dig)->channel, ch);
        EXPECT_EQ(orbsim::digitizerState(dig)->camera.channel, ch);
    }
    EXPECT_EQ(errorCount(), 0u);
    for (uint32_t bad : {0u, 0x10000000u, 0x20000001u}) {
        orbDigSelectInput(dig, bad);
        EXPECT_EQ(lastReported().message, "Invalid input channel");
        EXPECT_EQ(orbsim::digitizerState(dig)->channel, 0x200000u);
    }
    orbDigSelectInput(0x4321, 0x20000000);
    EXPECT_EQ(lastReported().message, "Invalid digitizer id");
}

TEST_F(OrbDigitizers, PanelControlsAreAcceptedAndKept)
{
    const std::pair<int, double> sent[] = {{4016, 1.0}, {4016, 2.0}, {4011, 0.5}, {4012, 0.25}, {4017, 1.0},
                                           {4018, 3.0}, {4074, 11.0}, {4074, 12.0}, {4074, 10.0}, {4061, -9997.0},
                                           {4061, -9999.0}};
    for (auto [type, value] : sent) orbDigControl(dig, type, value);
    EXPECT_EQ(errorCount(), 0u);
    auto st = orbsim::digitizerState(dig);
    const std::map<int, double> expected = {{4016, 2.0}, {4011, 0.5}, {4012, 0.25}, {4017, 1.0},
                                            {4018, 3.0}, {4074, 10.0}, {4061, -9999.0}};
    EXPECT_EQ(st->controls, expected);
    EXPECT_EQ(st->scaleX, 0.5);
    EXPECT_EQ(st->scaleY, 0.25);
    orbDigControl(dig, 4010, 1.0);
    st = orbsim::digitizerState(dig);
    EXPECT_EQ(st->scaleX, 1.0);
    EXPECT_EQ(st->scaleY, 1.0);
    EXPECT_EQ(st->controls.at(4010), 1.0);
}

TEST_F(OrbDigitizers, BadControlsAreRefusedAndChangeNothing)
{
    const std::pair<int, double> bad[] = {{4011, 0.3}, {4010, 2.0}, {4016, 3.0}, {4017, 0.0},
                                          {4018, 2.5}, {4018, 101.0}, {4061, 0.0}, {4074, 13.0}};
    for (auto [type, value] : bad) {
        clearReported();
        orbDigControl(dig, type, value);
        ASSERT_EQ(errorCount(), 1u) << type;
        EXPECT_EQ(lastReported().function, "orbDigControl");
        EXPECT_EQ(lastReported().message, "Invalid parameter");
    }
    EXPECT_TRUE(orbsim::digitizerState(dig)->controls.empty());
    orbDigControl(dig, 4099, 1.0);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown digitizer control type 4099");
    orbDigControl(dig, 4011, 0.3);
    EXPECT_EQ(lastReported().subs.at(0), "Value 0.3 is not accepted by control type 4011");
}

TEST_F(OrbDigitizers, LevelsSetTheCameraBrightnessAndContrast)
{
    auto cs = orbsim::digitizerState(dig)->camera;
    EXPECT_DOUBLE_EQ(cs.brightness, 0.0);
    EXPECT_DOUBLE_EQ(cs.contrast, 1.0);
    // The Lumbra reset values are the neutral setting.
    orbDigSetLevel(dig, 4009, 160);
    orbDigSetLevel(dig, 4008, 148);
    cs = orbsim::digitizerState(dig)->camera;
    EXPECT_DOUBLE_EQ(cs.brightness, 0.0);
    EXPECT_DOUBLE_EQ(cs.contrast, 1.0);
    orbDigSetLevel(dig, 4009, 200);
    orbDigSetLevel(dig, 4008, 160);
    cs = orbsim::digitizerState(dig)->camera;
    EXPECT_DOUBLE_EQ(cs.contrast, 1.25);
    EXPECT_DOUBLE_EQ(cs.brightness, 12.0);
    // Black and white levels stretch the range between them to 0-255.
    orbDigSetLevel(dig, 4003, 10);
    orbDigSetLevel(dig, 4005, 95);
    cs = orbsim::digitizerState(dig)->camera;
    EXPECT_DOUBLE_EQ(cs.contrast, 1.25 * 3.0);
    EXPECT_DOUBLE_EQ(cs.brightness, (12.0 - 10.0) * 3.0);
    const std::map<int, int> levels = {{4003, 10}, {4005, 95}, {4008, 160}, {4009, 200}};
    EXPECT_EQ(orbsim::digitizerState(dig)->levels, levels);
    // White at or below black does not divide by zero.
    orbDigSetLevel(dig, 4005, 10);
    EXPECT_DOUBLE_EQ(orbsim::digitizerState(dig)->camera.contrast, 1.25 * 255.0);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbDigitizers, BadLevelsAreRefused)
{
    orbDigSetLevel(dig, 4009, 256);
    EXPECT_EQ(lastReported().subs, (std::vector<std::string>{"Level 256 outside 0 to 255", "Level type 4009"}));
    orbDigSetLevel(dig, 4008, -1);
    orbDigSetLevel(dig, 4001, 5);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown digitizer level type 4001");
    EXPECT_EQ(errorCount(), 3u);
    EXPECT_TRUE(orbsim::digitizerState(dig)->levels.empty());
}

// ---- single grabs ----

TEST_F(OrbDigitizers, SingleGrabGivesTheBenchFrame)
{
    orbDigSelectInput(dig, 0x40000000);
    orbDigSetLevel(dig, 4009, 180);
    orbDigSetLevel(dig, 4008, 140);
    const OrbId buf = alloc(768, 576, 8, 60);
    orbBufClear(buf, 7);
    orbDigGrab(dig, buf);
    const auto cs = orbsim::digitizerState(dig)->camera;
    EXPECT_EQ(pixels(buf), benchFrame(cs, 768, 576));
    EXPECT_EQ(orbsim::digitizerState(dig)->framesGrabbed, 1u);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbDigitizers, GrabFillsBuffersOfAnySizeAndDepth)
{
    const bench::CameraSettings cs = orbsim::digitizerState(dig)->camera;
    const OrbId small = alloc(320, 200);
    orbDigGrab(dig, small);
    EXPECT_EQ(pixels(small), benchFrame(cs, 320, 200));

    const OrbId wide = alloc(64, 48, 16);
    orbDigGrab(dig, wide);
    const std::vector<uint8_t> f = benchFrame(cs, 64, 48), p = pixels(wide);
    for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(p[2 * i] | p[2 * i + 1] << 8, f[i] * 257) << i;
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbDigitizers, GrabErrors)
{
    const OrbId buf = alloc(8, 8);
    orbDigGrab(0x777, buf);
    EXPECT_EQ(lastReported().message, "Invalid digitizer id");
    orbDigGrab(dig, 0x777);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    orbDigGrabLive(dig, 0x777);
    EXPECT_EQ(lastReported().function, "orbDigGrabLive");
    EXPECT_FALSE(orbsim::digitizerState(dig)->live);
    orbDigStopGrab(0x777);
    EXPECT_EQ(lastReported().function, "orbDigStopGrab");
    orbDigStopGrab(dig);  // nothing running: no error
    EXPECT_EQ(errorCount(), 4u);
}

TEST_F(OrbDigitizers, SingleGrabsFollowTheFramePeriod)
{
    orbsim::setFramePeriodMs(40);
    const OrbId buf = alloc(16, 16);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) orbDigGrab(dig, buf);
    // Each grab waits for its own frame boundary: three grabs span at least two periods.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
}

// ---- continuous grabs ----

class OrbLive : public OrbDigitizers {
protected:
    void SetUp() override
    {
        OrbDigitizers::SetUp();
        orbsim::setFramePeriodMs(5);
        buf = alloc(64, 48, 8, 60);
        orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
        orbDispShowInWindow(disp, buf, &sink);
    }
    void TearDown() override
    {
        orbsim::reset();  // before the sink goes away
        OrbDigitizers::TearDown();
    }
    OrbId buf = 0, disp = 0;
    RecordingSink sink;
};

TEST_F(OrbLive, DeliversFramesUntilStoppedAndNoneAfter)
{
    const size_t initial = sink.count();
    EXPECT_EQ(initial, 1u);  // shown once when attached
    orbDigGrabLive(dig, buf);
    auto st = orbsim::digitizerState(dig);
    EXPECT_TRUE(st->live);
    EXPECT_EQ(st->liveBuffer, buf);
    ASSERT_TRUE(sink.waitFor(initial + 3));
    const auto frame = sink.last();
    EXPECT_EQ(frame.width, 64);
    EXPECT_EQ(frame.height, 48);
    EXPECT_EQ(frame.grey, benchFrame(orbsim::digitizerState(dig)->camera, 64, 48));

    orbDigStopGrab(dig);
    st = orbsim::digitizerState(dig);
    EXPECT_FALSE(st->live);
    const uint64_t grabbed = st->framesGrabbed;
    const size_t delivered = sink.count();
    EXPECT_GE(grabbed, 3u);
    // A marker written after the stop must survive: no frame is written any more.
    orbBufClear(buf, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(orbsim::digitizerState(dig)->framesGrabbed, grabbed);
    EXPECT_EQ(sink.count(), delivered + 1);  // only the clear
    std::vector<uint8_t> p = pixels(buf);
    EXPECT_TRUE(std::all_of(p.begin(), p.end(), [](uint8_t v) { return v == 1; }));
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbLive, ChannelChangesReachTheRunningGrab)
{
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(sink.waitFor(2));
    orbDigSelectInput(dig, 0x1000000);
    const size_t n = sink.count();
    ASSERT_TRUE(sink.waitFor(n + 2));
    orbDigStopGrab(dig);
    bench::CameraSettings cs;
    cs.channel = 0x1000000;
    EXPECT_EQ(sink.last().grey, benchFrame(cs, 64, 48));
}

TEST_F(OrbLive, SingleGrabEndsTheContinuousGrab)
{
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(sink.waitFor(2));
    const OrbId other = alloc(64, 48);
    orbDigGrab(dig, other);
    EXPECT_FALSE(orbsim::digitizerState(dig)->live);
    const size_t n = sink.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(sink.count(), n);
}

TEST_F(OrbLive, RestartIntoAnotherBufferMovesTheGrab)
{
    const OrbId second = alloc(64, 48);
    RecordingSink sink2;
    OrbId disp2 = 0;
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp2);
    orbDispShowInWindow(disp2, second, &sink2);
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(sink.waitFor(2));
    orbDigGrabLive(dig, second);
    const size_t n = sink.count();
    ASSERT_TRUE(sink2.waitFor(3));
    EXPECT_EQ(sink.count(), n);
    EXPECT_EQ(orbsim::digitizerState(dig)->liveBuffer, second);
    orbsim::reset();
}

TEST_F(OrbLive, FreeingTheBufferDigitizerOrSystemStopsTheGrab)
{
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(sink.waitFor(2));
    orbBufFree(buf);
    EXPECT_FALSE(orbsim::digitizerState(dig)->live);
    EXPECT_EQ(orbsim::displayState(disp)->buffer, 0u);

    const OrbId b2 = alloc(32, 32);
    orbDigGrabLive(dig, b2);
    orbDigFree(dig);
    EXPECT_FALSE(orbsim::digitizerState(dig));

    OrbId d2 = 0;
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &d2);
    orbDigGrabLive(d2, b2);
    orbSysClose(sys);
    EXPECT_EQ(orbsim::digitizerCount(), 0u);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbLive, GrabsAndTransfersFromSeveralThreads)
{
    // A second board with its own digitizer for single grabs while the first runs live.
    OrbId sys2 = 0, dig2 = 0;
    orbSysOpen(&ORBHLC_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys2);
    orbDigAlloc(sys2, 0, "O_CCIR", ORB_DEFAULT, &dig2);
    const OrbId now = alloc(64, 48), result = alloc(64, 48);
    orbDispShowInWindow(disp, result, &sink);
    orbDigGrabLive(dig, buf);

    std::atomic<bool> run{true};
    std::atomic<int> passes{0};
    std::thread worker([&] {
        // The live-difference pattern: grab, read, combine, write.
        std::vector<uint8_t> live(64 * 48), start(64 * 48, 100);
        while (run) {
            orbDigGrab(dig2, now);
            orbBufGet(now, live.data());
            for (size_t k = 0; k < live.size(); ++k) live[k] = uint8_t(std::abs(int(live[k]) - int(start[k])));
            orbBufPut(result, live.data());
            ++passes;
        }
    });
    std::thread reader([&] {
        std::vector<uint8_t> px(64 * 48);
        uint8_t one = 0;
        while (run) {
            orbBufGet(buf, px.data());
            orbBufGet2d(buf, 10, 10, 1, 1, &one);
            orbBufInquire(buf, ORB_BUF_SIZE_X, nullptr);
            orbDispSetZoom(disp, 2, 2);
            orbDispSetZoom(disp, 1, 1);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    run = false;
    worker.join();
    reader.join();
    orbDigStopGrab(dig);
    EXPECT_GT(passes.load(), 0);
    EXPECT_GT(orbsim::digitizerState(dig)->framesGrabbed, 0u);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbLive, DisplayFreedDuringLiveFramesGetsNoFrameAfterwards)
{
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(sink.waitFor(3));
    std::thread t([&] { orbDispFree(disp); });
    t.join();
    EXPECT_TRUE(sink.detached());
    const size_t n = sink.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sink.count(), n);
    EXPECT_FALSE(sink.frameAfterDetach());
    orbDigStopGrab(dig);
}

}  // namespace
