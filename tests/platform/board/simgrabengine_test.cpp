// The Orlo's grab engine on the virtual clock: arming by the grab control, the start,
// line and end sources delivered as events after the write, frames written through the
// module's LUTs with the window, decimation, bands, write mask and tags, continuous
// grabbing and its stop, triggers, and the lost-grab and overrun faults.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/grab_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

constexpr double kPeriod = 0.001;                    // 1 ms frames
constexpr uint32_t kMemoryFirst = kPrimaryMemoryTop - 0x400000;   // PCI address of memory byte 0
constexpr uint32_t kDest = 0x1000;                   // destination offset in board memory
constexpr uint32_t kWidth = 64, kHeight = 8;

std::vector<uint32_t> Join(std::initializer_list<std::vector<uint32_t>> parts)
{
    std::vector<uint32_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Every pixel has the same value, so a test sees which generator the engine used.
class FlatGenerator : public FrameGenerator {
public:
    void render(uint64_t, uint32_t width, uint32_t height, uint8_t* pixels) override
    {
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) pixels[i] = 0x5A;
    }
};

class SimGrabEngineTest : public ::testing::Test {
protected:
    void SetUp() override { Use(); }
    void TearDown() override
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        node_ = kInvalidDevice;
        BoardSim::instance().configure();
    }
    void Use(std::shared_ptr<FrameGenerator> frames = nullptr, ClockMode clock = ClockMode::Virtual)
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        Topology t;
        t.clock = clock;
        t.frames = frames;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        words_.reset(new InterruptWords(node_));
        ASSERT_TRUE(words_->enable(kGrabStartSourcePrimary));
        ASSERT_TRUE(words_->enable(kGrabEndSourcePrimary));
        ASSERT_TRUE(words_->enable(kGrabLineSourcePrimary));
        regs_ = Map(kOrloRegisterOffset, kOrloRegisterSize);
        port_ = Map(kOrloPortOffset, kOrloPortSize);
        engine().setFramePeriod(kPeriod);
        // An inverting LUT 1 (mode 0, palette 0: entry = sample) so that a pixel shows it
        // went through the LUT.
        for (uint32_t e = 0; e < 1024; ++e)
            for (int band = 0; band < 3; ++band)
                BoardSim::instance().grab(0).setLut(1, band, e, static_cast<uint8_t>(255 - (e & 0xFF) + band));
    }
    uint32_t Map(uint32_t offset, uint32_t size)
    {
        uint32_t request[5] = {0, 0x11, HLC_REGION_PRIMARY, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        EXPECT_NE(request[0], 0u);
        return request[0];
    }
    GrabEngineView engine() const { return BoardSim::instance().grabEngine(0); }
    uint32_t Reg(uint32_t offset) const { return BoardSim::instance().orlo(0).reg(offset); }
    void Write(uint32_t offset, uint32_t value) { HwWrite32(regs_, offset, value); }
    void ModuleReg(uint32_t n, uint16_t value)
    {
        HwWrite32(port_, 16 * n, value & 0xFF);
        HwWrite32(port_, 16 * n + 8, value >> 8);
    }
    // A 64 x 8 raster grabbed whole into one 8-bit band at kDest, pitch 64.
    void Program(uint32_t format = 0x008 /* 1 byte, channel 0, one sample */)
    {
        Write(kOrloGrabControl, kGrabControlStop);
        Write(kOrloGHTOTAL, kWidth - 2);
        Write(kOrloGVTOTAL, kHeight - 1);
        Write(kOrloGHWSTART, 0);
        Write(kOrloGHWSTOP, kWidth - 1);
        Write(kOrloGVWSTART, 0);
        Write(kOrloGVWSTOP, kHeight - 1);
        Write(kOrloGHSCLNG, 0);
        Write(kOrloGVSCLNG, 0);
        Write(kOrloGPIXFMT, format);
        Write(kOrloGDWRTMSK, 0xFFFFFF);
        Write(kOrloGFSTART, kMemoryFirst + kDest);
        Write(kOrloGLPITCH, kWidth);
    }
    std::vector<uint8_t> Memory(uint32_t offset, uint32_t bytes) const
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_TRUE(BoardSim::instance().orlo(0).readMemory(offset, out.data(), bytes));
        return out;
    }
    static uint8_t Inverted(uint32_t sample) { return static_cast<uint8_t>(255 - (sample & 0xFF)); }
    // Frame 1 of the pattern, kWidth x lines, through the inverting LUT at kDest.
    void ExpectFirstFrame(uint32_t lines) const
    {
        const std::vector<uint8_t> pixels = Memory(kDest, kWidth * lines);
        const std::vector<uint16_t> p = engine().patternBlock(1, 0, kWidth, lines);
        for (uint32_t i = 0; i < kWidth * lines; ++i) ASSERT_EQ(pixels[i], Inverted(p[i])) << "pixel " << i;
    }

    DeviceHandle node_ = kInvalidDevice;
    std::unique_ptr<InterruptWords> words_;
    uint32_t regs_ = 0, port_ = 0;
};

// ---------------------------------------------------------------- single grabs

TEST_F(SimGrabEngineTest, SingleGrabArmsAtTheWriteAndRunsItsEventsOnTheClockAfterIt)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    sim.advance(0.0004);   // inside camera frame 0: the grab waits for frame 1
    Write(kOrloGrabControl, kGrabControlSingle);
    // Nothing but the arming happened inside the write.
    EXPECT_TRUE(engine().armed());
    EXPECT_FALSE(engine().inFlight());
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), kGrabStatusArmed);
    EXPECT_TRUE(words_->take().empty());
    EXPECT_EQ(engine().framesStarted(), 0u);

    sim.advance(0.0007);   // frame 1 began at 1 ms and is in flight
    EXPECT_TRUE(engine().inFlight());
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), kGrabStatusInFlight);
    EXPECT_EQ(Reg(kOrloInterruptSet) & (kInterruptGrabStart | kInterruptGrabEnd), kInterruptGrabStart);
    EXPECT_EQ(words_->take(), SourceWords(kGrabStartSourcePrimary));

    sim.advance(0.001);
    EXPECT_FALSE(engine().inFlight());
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), 0u);
    EXPECT_EQ(Reg(kOrloInterruptSet) & (kInterruptGrabStart | kInterruptGrabEnd),
              kInterruptGrabStart | kInterruptGrabEnd);
    EXPECT_EQ(words_->take(), SourceWords(kGrabEndSourcePrimary));
    EXPECT_EQ(engine().framesWritten(), 1u);
    EXPECT_EQ(engine().lastFrame(), 1);
    EXPECT_DOUBLE_EQ(engine().lastFrameSeconds(), kPeriod);

    ExpectFirstFrame(kHeight);
    // No more frames without another arm.
    sim.advance(0.005);
    EXPECT_EQ(engine().framesStarted(), 1u);
}

TEST_F(SimGrabEngineTest, VgaFrameIsWrittenWholeThroughTheLut)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t w = 640, h = 480;
    Program();
    Write(kOrloGHTOTAL, w - 2);
    Write(kOrloGVTOTAL, h - 1);
    Write(kOrloGHWSTOP, w - 1);
    Write(kOrloGVWSTOP, h - 1);
    Write(kOrloGLPITCH, w);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    ASSERT_EQ(engine().framesWritten(), 1u);
    const std::vector<uint8_t> m = Memory(kDest, w * h);
    const std::vector<uint16_t> p = engine().patternBlock(engine().lastFrame(), 0, w, h);
    size_t wrong = 0;
    for (size_t i = 0; i < m.size(); ++i) wrong += m[i] != Inverted(p[i]);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(Memory(kDest + w * h, 1)[0], 0) << "past the frame";
    EXPECT_EQ(engine().strayBytes(), 0u);
}

TEST_F(SimGrabEngineTest, PatternIsTheTestPatternOrTheInjectedGenerator)
{
    EXPECT_EQ(engine().pattern(3, 2, 5, 0), (3u + 2 + 5) & 0xFF);
    EXPECT_EQ(engine().pattern(3, 2, 5, 1), (3u + 2 + 5 + 64) & 0xFF);
    engine().setSampleBits(10);
    EXPECT_EQ(engine().pattern(300, 100, 7, 2), (300u + 400 + 7 + 512) & 0x3FF);

    Use(std::make_shared<FlatGenerator>());
    Program();
    Write(kOrloGrabControl, kGrabControlSingle);
    BoardSim::instance().runUntilIdle();
    EXPECT_EQ(engine().pattern(10, 3, 0, 0), 0x5Au);
    EXPECT_EQ(Memory(kDest, 4), std::vector<uint8_t>(4, Inverted(0x5A)));
}

TEST_F(SimGrabEngineTest, PeriodZeroStartsAtOnceAndNumbersFramesInOrder)
{
    BoardSim& sim = BoardSim::instance();
    engine().setFramePeriod(0);
    EXPECT_EQ(engine().framePeriod(), 0.0);
    EXPECT_EQ(engine().frameSeconds(), 1e-6);
    Program();
    const double before = sim.now();
    for (int n = 0; n < 3; ++n) {
        Write(kOrloGrabControl, kGrabControlSingle);
        sim.runUntilIdle();
        EXPECT_EQ(engine().lastFrame(), n);
    }
    EXPECT_EQ(engine().framesWritten(), 3u);
    EXPECT_LT(sim.now() - before, 0.001);
    EXPECT_EQ(Memory(kDest + 5, 1)[0], Inverted(5 + 2));   // frame 2, pixel (5, 0)
}

TEST_F(SimGrabEngineTest, LutModeOneTakesTheEightBitPageOfTheChannelsBand)
{
    BoardSim& sim = BoardSim::instance();
    GrabView grab = sim.grab(0);
    for (uint32_t s = 0; s < 256; ++s) grab.setLut(1, 0, 29 * 256 + s, static_cast<uint8_t>(s ^ 0x0F));
    ModuleReg(grabregs::DIG_LUTPAL, 1u << 13);
    Program();
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> pixels = Memory(kDest, kWidth);
    for (uint32_t x = 0; x < kWidth; ++x)
        ASSERT_EQ(pixels[x], engine().pattern(x, 0, f, 0) ^ 0x0F) << "pixel " << x;
}

// ---------------------------------------------------------------- geometry

TEST_F(SimGrabEngineTest, WindowAndDecimationCutTheRaster)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGHWSTART, 4);
    Write(kOrloGHWSTOP, 19);   // 16 pixels, every second: 8
    Write(kOrloGVWSTART, 2);
    Write(kOrloGVWSTOP, 6);    // 5 lines, every second: 3
    Write(kOrloGHSCLNG, 1);
    Write(kOrloGVSCLNG, 1);
    Write(kOrloGLPITCH, 16);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, 16 * 4);
    for (uint32_t j = 0; j < 3; ++j) {
        for (uint32_t i = 0; i < 8; ++i)
            EXPECT_EQ(m[j * 16 + i], Inverted(engine().pattern(4 + 2 * i, 2 + 2 * j, f, 0))) << i << "," << j;
        for (uint32_t i = 8; i < 16; ++i) EXPECT_EQ(m[j * 16 + i], 0) << "beyond the line, " << i;
    }
    EXPECT_EQ(m[3 * 16], 0) << "a fourth line";
}

TEST_F(SimGrabEngineTest, NegativePitchWritesTheLinesUpwards)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    const uint32_t lastLine = kDest + (kHeight - 1) * kWidth;
    Write(kOrloGFSTART, kMemoryFirst + lastLine);
    Write(kOrloGLPITCH, static_cast<uint32_t>(-static_cast<int32_t>(kWidth)) & kGrabAddressMask);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, kWidth * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
        EXPECT_EQ(m[(kHeight - 1 - y) * kWidth + 5], Inverted(engine().pattern(5, y, f, 0))) << "line " << y;
    EXPECT_EQ(engine().strayBytes(), 0u);
}

TEST_F(SimGrabEngineTest, ZoomRepeatsPixelsAndLines)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGHWSTOP, 3);
    Write(kOrloGVWSTOP, 1);
    Write(kOrloGHSCLNG, 0x10);   // zoom 2
    Write(kOrloGVSCLNG, 0x10);
    Write(kOrloGLPITCH, 8);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, 8 * 4);
    for (uint32_t j = 0; j < 4; ++j)
        for (uint32_t i = 0; i < 8; ++i)
            EXPECT_EQ(m[j * 8 + i], Inverted(engine().pattern(i / 2, j / 2, f, 0))) << i << "," << j;
}

TEST_F(SimGrabEngineTest, ThreeSamplesGoToThreePlanesAtTheBandOffsets)
{
    BoardSim& sim = BoardSim::instance();
    GrabView grab = sim.grab(0);
    // Mode 1: channel 0 LUT 1 band 0, channel 1 LUT 1 band 1, channel 2 LUT 2 band 0.
    for (uint32_t s = 0; s < 256; ++s) {
        grab.setLut(1, 0, 29 * 256 + s, static_cast<uint8_t>(s));
        grab.setLut(1, 1, 29 * 256 + s, static_cast<uint8_t>(s + 1));
        grab.setLut(2, 0, 29 * 256 + s, static_cast<uint8_t>(s + 2));
    }
    ModuleReg(grabregs::DIG_LUTPAL, 1u << 13);
    const uint32_t plane = kWidth * kHeight;
    Program(0x200 | 0x38);   // 1 byte, channels 0-2, 3 samples
    Write(kOrloGC1FOFF, plane);
    Write(kOrloGC2FOFF, 2 * plane);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, 3 * plane);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < plane; i += 37)
            EXPECT_EQ(m[c * plane + i], static_cast<uint8_t>(engine().pattern(i % kWidth, i / kWidth, f, c) + c))
                << "plane " << c << " pixel " << i;
}

TEST_F(SimGrabEngineTest, BlueModeFeedsEveryPlaneFromTheFirstChannel)
{
    BoardSim& sim = BoardSim::instance();
    ModuleReg(grabregs::DIG_GPCTL, 0x20);
    const uint32_t plane = kWidth * kHeight;
    Program(0x200 | 0x38);   // 1 byte, channels 0-2, 3 samples: planar
    Write(kOrloGC1FOFF, plane);
    Write(kOrloGC2FOFF, 2 * plane);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, 3 * plane);
    for (uint32_t band = 0; band < 3; ++band)
        for (uint32_t i = 0; i < plane; i += 29)
            EXPECT_EQ(m[band * plane + i],
                      static_cast<uint8_t>(Inverted(engine().pattern(i % kWidth, i / kWidth, f, 0)) + band))
                << "plane " << band << " pixel " << i;
}

TEST_F(SimGrabEngineTest, OneChannelIntoThreeBytesGivesTheEntrysBands)
{
    BoardSim& sim = BoardSim::instance();
    Program(0x2 | 0x08);   // 3 bytes, channel 0, one sample: the entry's three bands
    Write(kOrloGLPITCH, 3 * kWidth);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const uint32_t p = engine().pattern(1, 0, engine().lastFrame(), 0);
    EXPECT_EQ(Memory(kDest + 3, 3), (std::vector<uint8_t>{Inverted(p), static_cast<uint8_t>(Inverted(p) + 1),
                                                          static_cast<uint8_t>(Inverted(p) + 2)}));
    // The alternate order reverses them.
    Write(kOrloGrabControl, kGrabControlStop);
    Write(kOrloGrabControl, kGrabControlSingle | kGrabControlAltOrder);
    sim.runUntilIdle();
    const uint32_t q = engine().pattern(1, 0, engine().lastFrame(), 0);
    EXPECT_EQ(Memory(kDest + 3, 3), (std::vector<uint8_t>{static_cast<uint8_t>(Inverted(q) + 2),
                                                          static_cast<uint8_t>(Inverted(q) + 1), Inverted(q)}));
}

TEST_F(SimGrabEngineTest, TenBitSamplesThroughAWideLutKeepTheChosenBits)
{
    BoardSim& sim = BoardSim::instance();
    GrabView grab = sim.grab(0);
    engine().setSampleBits(10);
    for (uint32_t e = 0; e < 1024; ++e) {   // ramp: low byte, high byte
        grab.setLut(1, 0, e, static_cast<uint8_t>(e));
        grab.setLut(1, 1, e, static_cast<uint8_t>(e >> 8));
    }
    // 16-bit destination: the whole sample.
    Program(0x1 | 0x08);
    Write(kOrloGLPITCH, 2 * kWidth);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    int64_t f = engine().lastFrame();
    std::vector<uint8_t> m = Memory(kDest, 2 * kWidth * 2);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint32_t s = engine().pattern(x, y, f, 0);
            const size_t at = 2 * (y * kWidth + x);
            ASSERT_EQ(m[at] | (m[at + 1] << 8), s) << x << "," << y;
        }
    // 8-bit destination with bit 11: bits 2-9.
    Program(0x08 | (1u << kPixFmtShiftShift));
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    f = engine().lastFrame();
    m = Memory(kDest, kWidth);
    for (uint32_t x = 0; x < kWidth; ++x) ASSERT_EQ(m[x], (engine().pattern(x, 0, f, 0) >> 2) & 0xFF) << x;
}

TEST_F(SimGrabEngineTest, WriteMaskAndTagsKeepBytes)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t tagOffset = 0x8000;
    Program();
    // The destination holds 0xEE before the grab; the tag plane (one bit per pixel, LSB
    // first, 8 bytes per line) tags pixels 0, 2, 4 and 6 of every line.
    const uint32_t memory = Map(kMemoryFirst, 0x400000);
    for (uint32_t i = 0; i < kWidth * kHeight; i += 4) HwWrite32(memory, kDest + i, 0xEEEEEEEEu);
    for (uint32_t y = 0; y < kHeight; ++y) HwWrite8(memory, tagOffset + 8 * y, 0x55);
    Write(kOrloGDWRTMSK, 0x0F);
    Write(kOrloGTAGCTL, kTagControlEnable | (kMemoryFirst + tagOffset));
    Write(kOrloGTLPITCH, 8);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    const int64_t f = engine().lastFrame();
    const std::vector<uint8_t> m = Memory(kDest, kWidth * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint8_t v = Inverted(engine().pattern(x, y, f, 0));
            const bool tagged = x < 8 && (x & 1) == 0;
            const uint8_t expected = tagged ? static_cast<uint8_t>(0xE0 | (v & 0x0F)) : 0xEE;
            ASSERT_EQ(m[y * kWidth + x], expected) << x << "," << y;
        }
}

TEST_F(SimGrabEngineTest, BytesOutsideBoardMemoryAreDroppedAndCounted)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGFSTART, kPrimaryMemoryTop - 16);   // the last 16 bytes of memory, then beyond
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    EXPECT_EQ(engine().framesWritten(), 1u);
    EXPECT_EQ(engine().strayBytes(), kWidth * kHeight - 16u);
    const uint32_t p = engine().pattern(15, 0, engine().lastFrame(), 0);
    EXPECT_EQ(Memory(0x400000 - 1, 1)[0], Inverted(p));
}

// ---------------------------------------------------------------- ramp rows

// The test pattern as any other generator gives it: rendered sample by sample.
class RenderedPattern : public TestPatternGenerator {
public:
    bool ramps(uint64_t, uint32_t, uint32_t, RampRows&) const override { return false; }
};

constexpr uint32_t kWide = 600, kTall = 6, kPitch = 4 * kWide, kPlane = kPitch * kTall;

struct RampLayout {
    const char* name;
    uint32_t format;
    uint32_t sampleBits;
    uint32_t hstart, hstop, hscale;
    uint32_t lutpal;
};

class RampRowsTest : public SimGrabEngineTest, public ::testing::WithParamInterface<RampLayout> {
protected:
    std::vector<uint8_t> GrabFrame(std::shared_ptr<FrameGenerator> frames)
    {
        const RampLayout& l = GetParam();
        Use(std::move(frames));
        engine().setSampleBits(l.sampleBits);
        // LUT mode 1 takes page 29 of each channel's band.
        GrabView grab = BoardSim::instance().grab(0);
        for (uint32_t v = 0; v < 256; ++v) {
            grab.setLut(1, 0, 29 * 256 + v, static_cast<uint8_t>(v ^ 0x0F));
            grab.setLut(1, 1, 29 * 256 + v, static_cast<uint8_t>(v + 1));
            grab.setLut(2, 0, 29 * 256 + v, static_cast<uint8_t>(v + 2));
        }
        ModuleReg(grabregs::DIG_LUTPAL, static_cast<uint16_t>(l.lutpal));
        Program(l.format);
        Write(kOrloGHTOTAL, kWide - 2);
        Write(kOrloGVTOTAL, kTall - 1);
        Write(kOrloGHWSTART, l.hstart);
        Write(kOrloGHWSTOP, l.hstop);
        Write(kOrloGVWSTOP, kTall - 1);
        Write(kOrloGHSCLNG, l.hscale);
        Write(kOrloGLPITCH, kPitch);
        Write(kOrloGC1FOFF, kPlane);
        Write(kOrloGC2FOFF, 2 * kPlane);
        Write(kOrloGrabControl, kGrabControlSingle);
        BoardSim::instance().runUntilIdle();
        EXPECT_EQ(engine().framesWritten(), 1u);
        return Memory(kDest, 3 * kPlane);
    }
};

// The test pattern's rows are not rendered: the engine writes them from its ramp, which
// must give the very bytes that rendered samples give, across the sample range's wrap.
TEST_P(RampRowsTest, AFrameOfRampRowsIsWrittenAsItsRenderedSamplesAre)
{
    const std::vector<uint8_t> ramped = GrabFrame(nullptr);
    const std::vector<uint8_t> rendered = GrabFrame(std::make_shared<RenderedPattern>());
    ASSERT_EQ(ramped.size(), rendered.size());
    size_t differ = 0, written = 0;
    for (size_t i = 0; i < ramped.size(); ++i) {
        differ += ramped[i] != rendered[i];
        written += rendered[i] != 0;
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(written, kWide / 2) << "the frame was written";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RampRowsTest,
    ::testing::Values(RampLayout{"PlaneThroughTheLut", 0x008, 8, 0, kWide - 1, 0, 0},
                      RampLayout{"DecimatedWindow", 0x008, 8, 5, 590, 2, 0},
                      RampLayout{"LutModeOne", 0x008, 8, 0, kWide - 1, 0, 1u << 13},
                      RampLayout{"TenBitsIntoEightWithTheShift", 0x08 | (1u << kPixFmtShiftShift), 10, 3, 580, 0, 0},
                      RampLayout{"TenBitsIntoSixteen", 0x1 | 0x08, 10, 0, kWide - 1, 0, 0},
                      RampLayout{"ThreePlanes", 0x200 | 0x38, 8, 1, 599, 1, 1u << 13},
                      RampLayout{"ZoomedIntoThreeBytes", 0x2 | 0x08, 8, 0, 200, 0x10, 0}),
    [](const ::testing::TestParamInfo<RampLayout>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- continuous, stop, trigger

TEST_F(SimGrabEngineTest, ContinuousGrabsEveryFrameUntilItsBitIsCleared)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGrabControl, kGrabControlContinuous);
    sim.advance(0.0045);   // armed inside frame 0: frames 1, 2, 3 written, frame 4 in flight
    EXPECT_EQ(engine().framesWritten(), 3u);
    EXPECT_TRUE(engine().inFlight());
    EXPECT_EQ(words_->take(), Join({SourceWords(44), SourceWords(45), SourceWords(44), SourceWords(45),
                                    SourceWords(44), SourceWords(45), SourceWords(44)}));
    // Clearing bit 1 lets the frame in flight end, and no other begins.
    Write(kOrloGrabControl, 0);
    sim.advance(0.003);
    EXPECT_EQ(engine().framesWritten(), 4u);
    EXPECT_EQ(engine().framesStarted(), 4u);
    EXPECT_EQ(engine().lastFrame(), 4);
    EXPECT_EQ(words_->take(), SourceWords(45));
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), 0u);
}

TEST_F(SimGrabEngineTest, StopDropsTheFrameInFlightWithoutItsEndEvent)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGrabControl, kGrabControlContinuous);
    sim.advance(0.0015);
    ASSERT_TRUE(engine().inFlight());
    Write(kOrloGrabControl, kGrabControlStop);
    sim.advance(0.005);
    EXPECT_EQ(engine().framesAborted(), 1u);
    EXPECT_EQ(engine().framesWritten(), 0u);
    EXPECT_FALSE(engine().inFlight());
    EXPECT_FALSE(engine().armed());
    EXPECT_EQ(words_->take(), SourceWords(44));
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), 0u);
    // An arm written together with the stop arms nothing.
    Write(kOrloGrabControl, kGrabControlStop | kGrabControlSingle);
    sim.advance(0.005);
    EXPECT_EQ(engine().framesStarted(), 1u);
}

TEST_F(SimGrabEngineTest, SingleArmDuringAFlightTakesTheNextFrame)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.advance(0.0015);
    ASSERT_TRUE(engine().inFlight());
    Write(kOrloGrabControl, kGrabControlSingle);
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusArmed | kGrabStatusInFlight), kGrabStatusArmed | kGrabStatusInFlight);
    // A second arm while one waits is the same latch: one more frame, no overrun.
    Write(kOrloGrabControl, kGrabControlSingle);
    EXPECT_EQ(Reg(kOrloGrabStatus) & kGrabStatusOverruns, 0u);
    sim.advance(0.005);
    EXPECT_EQ(engine().framesWritten(), 2u);
    EXPECT_EQ(engine().lastFrame(), 2);
    EXPECT_EQ(words_->take(), Join({SourceWords(44), SourceWords(45), SourceWords(44), SourceWords(45)}));
}

TEST_F(SimGrabEngineTest, TriggeredGrabWaitsForItsTrigger)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGrabControl, kGrabControlSingle | 0x40);
    sim.advance(0.005);
    EXPECT_EQ(engine().framesStarted(), 0u);
    EXPECT_TRUE(engine().armed());
    engine().trigger();
    sim.advance(0.0025);
    EXPECT_EQ(engine().framesWritten(), 1u);
    EXPECT_EQ(engine().lastFrame(), 6);   // the first frame to begin after the trigger at 5 ms
    engine().trigger();                   // nothing armed: no frame
    sim.advance(0.005);
    EXPECT_EQ(engine().framesStarted(), 1u);
}

TEST_F(SimGrabEngineTest, LineInterruptComesBetweenStartAndEndWithTheLinesWritten)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGLNINT, 3);
    uint8_t atLine[2] = {};
    Write(kOrloGrabControl, kGrabControlSingle | (1u << kGrabControlLineShift));
    // Watch the memory at the line event: line 3 written, line 4 not yet.
    while (engine().lineInterrupts() == 0 && sim.now() < 0.01) sim.advance(0.00005);
    ASSERT_EQ(engine().lineInterrupts(), 1u);
    atLine[0] = Memory(kDest + 3 * kWidth, 1)[0];
    atLine[1] = Memory(kDest + 4 * kWidth, 1)[0];
    EXPECT_EQ(atLine[0], Inverted(engine().pattern(0, 3, engine().lastFrame(), 0)));
    EXPECT_EQ(atLine[1], 0);
    sim.runUntilIdle();
    EXPECT_EQ(words_->take(), Join({SourceWords(44), SourceWords(43), SourceWords(45)}));
}

// Without a line interrupt the lines still reach memory as the scan passes them, a band of
// 64 at a time: never ahead of the scan, and all of them by the end.
TEST_F(SimGrabEngineTest, LinesAreWrittenBandByBandAsTheScanPassesThem)
{
    BoardSim& sim = BoardSim::instance();
    constexpr uint32_t kLines = 200;
    Program();
    Write(kOrloGVTOTAL, kLines - 1);
    Write(kOrloGVWSTOP, kLines - 1);
    Write(kOrloGrabControl, kGrabControlSingle);
    const auto written = [&](uint32_t line) {
        return Memory(kDest + line * kWidth, 1)[0] == Inverted(engine().pattern(0, line, 1, 0));
    };
    while (!written(0) && sim.now() < 0.003) sim.advance(0.00001);
    ASSERT_TRUE(written(0));
    EXPECT_GE(sim.now(), kPeriod + kPeriod * 64 / (kLines + 1));   // frame 1 began at 1 ms
    EXPECT_TRUE(engine().inFlight());
    EXPECT_TRUE(written(63));
    EXPECT_FALSE(written(64));
    sim.runUntilIdle();
    EXPECT_EQ(engine().framesWritten(), 1u);
    ExpectFirstFrame(kLines);
}

TEST_F(SimGrabEngineTest, LineMovedOnAfterItsInterruptRaisesAnotherInTheSameFrame)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGLNINT, 2);
    Write(kOrloGrabControl, kGrabControlSingle | (2u << kGrabControlLineShift));
    while (engine().lineInterrupts() == 0 && sim.now() < 0.01) sim.advance(0.00005);
    ASSERT_EQ(engine().lineInterrupts(), 1u);
    Write(kOrloGLNINT, 5);
    Write(kOrloGLNINT, 1);   // behind the beam now: moved on again below
    Write(kOrloGLNINT, 6);
    sim.runUntilIdle();
    EXPECT_EQ(engine().lineInterrupts(), 2u);
    EXPECT_EQ(words_->take(), Join({SourceWords(44), SourceWords(43), SourceWords(43), SourceWords(45)}));
}

TEST_F(SimGrabEngineTest, FrameOfTwoFieldsWritesTheEvenLinesFirst)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    Write(kOrloGLNINT, 1);
    Write(kOrloGrabControl, kGrabControlSingle | kGrabControlFrame | (1u << kGrabControlLineShift));
    while (engine().lineInterrupts() == 0 && sim.now() < 0.01) sim.advance(0.00005);
    ASSERT_EQ(engine().lineInterrupts(), 1u);
    const int64_t f = engine().lastFrame();
    EXPECT_EQ(Memory(kDest + 6 * kWidth, 1)[0], Inverted(engine().pattern(0, 6, f, 0)));
    EXPECT_EQ(Memory(kDest + 1 * kWidth, 1)[0], Inverted(engine().pattern(0, 1, f, 0)));
    EXPECT_EQ(Memory(kDest + 3 * kWidth, 1)[0], 0);
    sim.runUntilIdle();
    EXPECT_EQ(Memory(kDest + 7 * kWidth, 1)[0], Inverted(engine().pattern(0, 7, f, 0)));
}

TEST_F(SimGrabEngineTest, DisplayOrloGrabsIntoItsMemoryWithItsOwnSources)
{
    BoardSim& sim = BoardSim::instance();
    words_.reset();
    DeviceClose(node_);
    Topology t;
    t.clock = ClockMode::Virtual;
    t.boards[0].displayOrlo = true;
    sim.configure(t);
    node_ = DeviceOpen(sim.boardDeviceName(0).c_str());
    ASSERT_NE(node_, kInvalidDevice);
    words_.reset(new InterruptWords(node_));
    ASSERT_TRUE(words_->enable(kGrabStartSourceDisplay));
    uint32_t request[5] = {0, 0x11, HLC_REGION_DISPLAY, kOrloRegisterSize, kOrloRegisterOffset};
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
    const uint32_t regs = request[0];
    GrabEngineView display = sim.grabEngine(0, true);
    display.setFramePeriod(0);
    const uint32_t first = kDisplayMemoryTop - t.boards[0].displayMemory;
    HwWrite32(regs, kOrloGrabControl, kGrabControlStop);
    HwWrite32(regs, kOrloGHTOTAL, 14);
    HwWrite32(regs, kOrloGVTOTAL, 1);
    HwWrite32(regs, kOrloGHWSTOP, 15);
    HwWrite32(regs, kOrloGVWSTOP, 1);
    HwWrite32(regs, kOrloGPIXFMT, 0x08);
    HwWrite32(regs, kOrloGDWRTMSK, 0xFFFFFF);
    HwWrite32(regs, kOrloGFSTART, first + 0x100);
    HwWrite32(regs, kOrloGLPITCH, 16);
    // The board's module feeds both Orlos' grab engines.
    for (uint32_t e = 0; e < 256; ++e) sim.grab(0).setLut(1, 0, e, static_cast<uint8_t>(255 - e));
    HwWrite32(regs, kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    EXPECT_EQ(display.framesWritten(), 1u);
    EXPECT_EQ(engine().framesStarted(), 0u);
    EXPECT_EQ(words_->take(), Join({SourceWords(kGrabStartSourceDisplay), SourceWords(kGrabEndSourceDisplay)}));
    std::vector<uint8_t> m(32);
    ASSERT_TRUE(sim.orlo(0, true).readMemory(0x100, m.data(), 32));
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(m[i], Inverted(display.pattern(i % 16, i / 16, 0, 0))) << i;
}

TEST_F(SimGrabEngineTest, FreeRunningClockGrabsContinuouslyOnTheMachinesThread)
{
    Use(nullptr, ClockMode::FreeRunning);
    engine().setFramePeriod(0);
    EXPECT_EQ(engine().frameSeconds(), 250e-6);
    Program();
    Write(kOrloGrabControl, kGrabControlContinuous);
    // Bounded wait in real time for the machine's thread to write frames.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine().framesWritten() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Write(kOrloGrabControl, kGrabControlStop);
    EXPECT_GE(engine().framesWritten(), 5u);
    EXPECT_GE(engine().lastFrameSeconds(), 250e-6);
    const uint64_t written = engine().framesWritten();
    const int64_t f = engine().lastFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine().framesWritten(), written);
    EXPECT_FALSE(engine().inFlight());
    EXPECT_FALSE(engine().armed());
    // The last whole frame is the one before a frame the stop dropped, or the last begun.
    const int64_t whole = engine().framesAborted() ? f - 1 : f;
    EXPECT_EQ(Memory(kDest + kWidth + 2, 1)[0], Inverted(engine().pattern(2, 1, whole, 0)));
}

// ---------------------------------------------------------------- faults

TEST_F(SimGrabEngineTest, LostGrabMarksTheCheckWordAndWritesNothing)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    BoardSim::instance().orlo(0).setReg(kOrloGrabCheck, 0xFC000000u);
    engine().loseGrabs(1);
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    EXPECT_EQ(engine().framesLost(), 1u);
    EXPECT_EQ(engine().framesWritten(), 0u);
    EXPECT_EQ(Reg(kOrloGrabCheck), 0xFC000000u | kLostGrabMark);
    EXPECT_EQ(Memory(kDest, kWidth), std::vector<uint8_t>(kWidth, 0));
    EXPECT_EQ(words_->take(), Join({SourceWords(44), SourceWords(45)}));
    // The next grab is whole again.
    Write(kOrloGrabControl, kGrabControlSingle);
    sim.runUntilIdle();
    EXPECT_EQ(engine().framesWritten(), 1u);
}

TEST_F(SimGrabEngineTest, OverrunLatchesStatusBitZeroUntilWrittenWithNine)
{
    BoardSim& sim = BoardSim::instance();
    Program();
    engine().overrunGrabs(1);
    Write(kOrloGrabControl, kGrabControlContinuous);
    sim.advance(0.0025);   // frame 1 ended with the overrun, frame 2 in flight
    EXPECT_EQ(Reg(kOrloGrabStatus), kGrabStatusOverrun | kGrabStatusInFlight);
    EXPECT_EQ(engine().framesWritten(), 1u);
    Write(kOrloGrabStatus, 9);
    EXPECT_EQ(Reg(kOrloGrabStatus), kGrabStatusInFlight);
    Write(kOrloGrabStatus, 0);   // writing 0 clears nothing, sets nothing
    EXPECT_EQ(Reg(kOrloGrabStatus), kGrabStatusInFlight);
    sim.advance(0.001);
    EXPECT_EQ(Reg(kOrloGrabStatus) & kGrabStatusOverruns, 0u);
    // The late kind latches bit 3.
    engine().overrunGrabs(1, true);   // frame 3 is in flight: frame 4 overruns
    sim.advance(0.002);
    EXPECT_EQ(Reg(kOrloGrabStatus) & kGrabStatusOverruns, kGrabStatusLate);
    Write(kOrloGrabStatus, 9);
    EXPECT_EQ(Reg(kOrloGrabStatus) & kGrabStatusOverruns, 0u);
}

TEST_F(SimGrabEngineTest, AViewOfAnAbsentOrloAnswersNothing)
{
    GrabEngineView none = BoardSim::instance().grabEngine(5);
    none.setFramePeriod(1);
    none.trigger();
    EXPECT_EQ(none.framesStarted(), 0u);
    EXPECT_EQ(none.lastFrame(), -1);
    EXPECT_FALSE(none.inFlight());
    EXPECT_EQ(none.sampleBits(), 0u);
}

} // namespace
