// Host grabs frame after frame: a continuous grab halted mid-frame, single frames in a
// row at any frame period, and the camera variant that also writes the Orlo's control
// word, through hlclib.h and libhlclib.so only.
#include "hostgrabfixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

TEST_F(HostGrabTest, AContinuousGrabHaltedMidFrameEndsWithWholeLines)
{
    UseCamera({});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    const uint32_t sync = Sync();
    const uint64_t before = Engine().framesWritten();
    // The camera frames the grab may have taken lie between the frame in flight when it
    // was asked for and the last one before the halt (numbered by the clock, so not one
    // after the other, and more than the few the loop sees).  The oldest is read before the
    // call: the clock goes on while the call runs, and the grab may start on the frame in
    // flight at its start.
    const uint64_t oldest = LastFrame();
    ASSERT_EQ(imDigGrab(kThread, 0, camera_, dma, 0xFFFFFFFFu, 0, sync), 0) << LastText();
    // Let a few frames pass, then stop in the middle of one.
    auto& sim = boardsim::BoardSim::instance();
    for (int i = 0; i < 2000 && Engine().framesWritten() < before + 3; ++i) sim.advance(kFramePeriod / 10);
    ASSERT_GE(Engine().framesWritten(), before + 3);
    sim.advance(kFramePeriod / 2);
    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    imSyncFree(kThread, sync);
    const uint64_t newest = LastFrame();
    sim.advance(1.0);
    ExpectIdle();
    // Every line holds one whole line of one of those frames.  The camera's pattern moves by
    // one a frame, so a line's first pixel against frame 0's names its frame (modulo 256)
    // and the rest of the line must agree with it.
    const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
    const std::vector<uint16_t> zero = Engine().patternBlock(0, 0, windowX_ + kWidth, windowY_ + kHeight);
    const uint64_t span = newest - oldest;
    int lines = 0, bad = 0;
    for (int32_t j = 0; j < kHeight; ++j) {
        const uint16_t* ref = zero.data() + static_cast<size_t>(windowY_ + j) * (windowX_ + kWidth) + windowX_;
        const uint8_t* got = pixels.data() + static_cast<size_t>(j) * kWidth;
        const uint8_t shift = static_cast<uint8_t>(got[0] - ref[0]);
        bool whole = true;
        for (int32_t i = 0; i < kWidth && whole; ++i) whole = got[i] == static_cast<uint8_t>(ref[i] + shift);
        const uint8_t since = static_cast<uint8_t>(shift - static_cast<uint8_t>(oldest));
        const bool inRange = span >= 255 || since <= span;
        if (whole && inRange) {
            ++lines;
        } else if (bad++ < 4) {
            ADD_FAILURE() << "line " << j << (whole ? " is of a frame the grab did not run over" : " is torn")
                          << " (frame " << int(since) << " after the oldest, " << span << " in the grab)";
        }
    }
    EXPECT_EQ(lines, kHeight);

    // The node grabs again after the halt.
    ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
    const std::vector<uint8_t> again = Read(dma, kWidth * kHeight);
    EXPECT_EQ(Mismatches(again.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
    ExpectIdle();
}

// Single frames one after the other, at the camera's pace and with frames as fast as the
// board takes them: every grab ends without a time-out and brings a whole later frame.
// The list arms each frame and copies each block with the VM registers, so the library
// starts it only after it has written those and released the grab engine: the access
// trace of every grab shows the list's start after the last write of the grab control and
// of the copy geometry.
TEST_F(HostGrabTest, SingleFramesInARowEachArriveWholeAtAnyFramePeriod)
{
    UseCamera({});
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    ASSERT_NE(dma, 0u);
    auto& sim = boardsim::BoardSim::instance();
    for (const double period : {0.0, kFramePeriod}) {
        Engine().setFramePeriod(period);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "period " << period << ", grab " << i);
            const uint64_t aborted = Engine().framesAborted(), started = Engine().framesStarted();
            sim.clearTrace();
            sim.setTracing(true);
            ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
            sim.setTracing(false);
            EXPECT_EQ(Engine().framesStarted(), started + 1) << "one frame a grab";
            EXPECT_EQ(Engine().framesAborted(), aborted) << "no frame of the grab was dropped";
            const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
            EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
            ExpectIdle();

            // The order of the library's writes: the list's start last of the programming.
            size_t start = 0, control = 0, geometry = 0;
            const std::vector<boardsim::HwAccess> trace = sim.trace();
            for (size_t k = 0; k < trace.size(); ++k) {
                const boardsim::HwAccess& a = trace[k];
                if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryRegs) continue;
                if (a.offset == kOrloGrabListControl && (a.value & 3) == 3 && !start) start = k + 1;
                if (a.offset == kOrloGrabControl && !start) control = k + 1;
                if ((a.offset == kOrloVmHostPitch || a.offset == kOrloVmLastLine) && !start) geometry = k + 1;
            }
            ASSERT_NE(start, 0u) << "the library started the grab list";
            EXPECT_GT(start, control);
            EXPECT_GT(start, geometry);
            EXPECT_NE(control, 0u);
            EXPECT_NE(geometry, 0u);
        }
    }
}

// A camera whose INFO_MISC has bit 12 set takes the variant of the host grab that also
// writes the Orlo's control word 0x2058: once a grab, with the value it holds, before the
// list starts; the frame arrives as with any other camera.  Without the bit the word is not
// written.
TEST_F(HostGrabTest, TheControlWordVariantWritesTheControlWordAsItStands)
{
    auto& sim = boardsim::BoardSim::instance();
    for (const uint32_t misc : {0x1000u, 0u}) {
        SCOPED_TRACE(testing::Message() << "INFO_MISC " << misc);
        if (camera_) imCamFree(kThread, camera_);
        camera_ = 0;
        CameraSpec spec;
        spec.misc = misc;
        UseCamera(spec);
        const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
        const uint32_t before = Orlo().reg(kOrloMemControl);
        sim.clearTrace();
        sim.setTracing(true);
        ASSERT_EQ(Grab(dma, 1), static_cast<int32_t>(kDone)) << LastText();
        sim.setTracing(false);
        std::vector<uint32_t> values;
        size_t written = 0, start = 0;
        const std::vector<boardsim::HwAccess> trace = sim.trace();
        for (size_t k = 0; k < trace.size(); ++k) {
            const boardsim::HwAccess& a = trace[k];
            if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryRegs) continue;
            if (a.offset == kOrloMemControl) {
                values.push_back(a.value);
                written = k + 1;
            }
            if (a.offset == kOrloGrabListControl && (a.value & 3) == 3 && !start) start = k + 1;
        }
        if (misc) {
            ASSERT_EQ(values.size(), 1u);
            EXPECT_EQ(values[0], before);
            EXPECT_LT(written, start) << "written before the list starts";
        } else {
            EXPECT_TRUE(values.empty());
        }
        EXPECT_EQ(Orlo().reg(kOrloMemControl), before);
        const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
        EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
        ExpectIdle();
    }
}

// A host grab asked for while a copy runs on the Orlo's VM engine waits for that copy
// before it programs the engine: the copy, held by the board until the test lets it go,
// is neither stopped nor cut short, and both arrive whole.
TEST_F(HostGrabTest, AHostGrabWaitsForACopyRunningOnItsOrloAndBothArriveWhole)
{
    UseCamera({});
    constexpr int32_t kLines = 16;
    const uint32_t dma = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    const uint32_t board = Buffer(kWidth, kLines, 1, 8, kBoardMemory);
    const uint32_t out = Buffer(kWidth, kLines, 1, 8, kHostDma);
    std::vector<uint8_t> in(static_cast<size_t>(kWidth) * kLines);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + i / 251);
    ASSERT_EQ(imBufPut(device_, board, in.data()), 0) << LastText();
    uint32_t thread = 0;
    ASSERT_NE(imThrAlloc(device_, 0, &thread), 0u) << LastText();

    Copier().setNeverEnds(true);
    EXPECT_EQ(imBufCopy(device_, board, out, 0, 0), 0) << "posted";
    for (int i = 0; i < 2000 && !Copier().busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(Copier().busy());
    const uint32_t sync = libsandbox::HeldSyncObject(thread);
    ASSERT_EQ(imDigGrab(thread, 0, camera_, dma, 1, 0, sync), 0) << LastText();
    // Time for the grab request to reach the engine: a reset of it would end the held copy.
    for (int i = 0; i < 200 && Copier().busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Copier().busy()) << "the copy still runs";
    Copier().setNeverEnds(false);

    EXPECT_EQ(imSyncHost(thread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    imSyncFree(thread, sync);
    EXPECT_EQ(imThrGetError(thread, 1, nullptr), 0) << LastText();
    EXPECT_EQ(imDevInquire(device_, 3, nullptr), 1u) << "the copy was answered";
    EXPECT_EQ(imAppGetError(1, nullptr), 0) << LastText();
    EXPECT_EQ(Read(out, in.size()), in);
    const std::vector<uint8_t> pixels = Read(dma, kWidth * kHeight);
    EXPECT_EQ(Mismatches(pixels.data(), kWidth, kHeight, 1, 0, LastFrame(), Rows()), 0);
    EXPECT_EQ(imThrFree(thread), 0) << LastText();
    ExpectIdle();
}

// The programming of one grab writes the engine's registers in one order: the frame
// addresses straight, the status, the window and format registers, then for a board grab
// the grab list control and the grab control; for a host grab the list address, the VM
// registers with their list control, the timing control as a reset pulse and then without
// its start bits, the VM control, the grab control, and the list's start last.  Registers a
// grab leaves unchanged are not written again, so each write must come no earlier than
// the one before it in that order.
TEST_F(HostGrabTest, TheProgrammingWritesTheEngineRegistersInTheirOrder)
{
    UseCamera({});
    constexpr uint32_t kAnyVm = 1;   // a register of the VM copy geometry
    const std::vector<uint32_t> window = {kOrloGrabStatus, kOrloGPIXFMT,  kOrloGTAGCTL,  kOrloGC1TOFF,  kOrloGC2TOFF,
                                          kOrloGC3TOFF,    kOrloGTLPITCH, kOrloGLPITCH,  kOrloGBLENGTH, kOrloGHSCLNG,
                                          kOrloGVSCLNG,    kOrloGHWSTART, kOrloGHWSTOP,  kOrloGVTOTAL,  kOrloGHTOTAL,
                                          kOrloGVWSTART,   kOrloGVWSTOP,  kOrloGDWRTMSK};
    struct Path {
        uint32_t location;
        std::vector<uint32_t> tail;   // after the window registers
    };
    const Path paths[] = {
        {kBoardMemory, {kOrloGrabListControl, kOrloGrabControl}},
        {kHostDma,
         {kOrloGrabListPointer, kAnyVm, kOrloVmListControl, kOrloVtControl, kOrloVmChannelControl, kOrloGrabControl,
          kOrloGrabListControl}},
    };
    auto& sim = boardsim::BoardSim::instance();
    for (const Path& path : paths) {
        SCOPED_TRACE(testing::Message() << "location " << path.location);
        std::vector<uint32_t> order = {kOrloGFSTART, kOrloGC1FOFF, kOrloGC2FOFF, kOrloGC3FOFF};
        order.insert(order.end(), window.begin(), window.end());
        order.insert(order.end(), path.tail.begin(), path.tail.end());
        const uint32_t destination = Buffer(kWidth, kHeight, 1, 8, path.location);
        sim.clearTrace();
        sim.setTracing(true);
        ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
        sim.setTracing(false);
        size_t at = 0;
        bool begun = false, armed = false;
        std::vector<uint32_t> timing, reached;
        for (const boardsim::HwAccess& a : sim.trace()) {
            if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryRegs) continue;
            begun = begun || a.offset == kOrloGFSTART;
            if (!begun) continue;
            const bool vm = a.offset >= kOrloVmHostStart && a.offset <= kOrloVmLastLine && a.offset != kOrloVtControl;
            size_t k = at;
            while (k < order.size() && order[k] != a.offset && !(order[k] == kAnyVm && vm)) ++k;
            if (k == order.size()) continue;   // not a register of the programming, or written again later
            at = k;
            if (reached.empty() || reached.back() != order[k]) reached.push_back(order[k]);
            if (a.offset == kOrloVtControl) timing.push_back(a.value);
            if (a.offset == path.tail.back() && (path.location == kHostDma ? (a.value & 3) == 3 : (a.value & 6) != 0)) {
                armed = true;
                break;
            }
        }
        EXPECT_TRUE(armed) << "the grab was armed in that order";
        EXPECT_NE(std::find(reached.begin(), reached.end(), kOrloGFSTART), reached.end());
        EXPECT_NE(std::find(reached.begin(), reached.end(), kOrloGrabControl), reached.end());
        if (path.location == kHostDma) {
            EXPECT_NE(std::find(reached.begin(), reached.end(), kAnyVm), reached.end());
            ASSERT_EQ(timing.size(), 2u);
            EXPECT_EQ(timing[0] & 1, 1u) << "a reset pulse first";
            EXPECT_EQ(timing[1] & 7, 0u) << "then the value without its start bits";
            EXPECT_EQ(timing[0] & ~7u, timing[1] & ~7u);
        } else {
            EXPECT_TRUE(timing.empty());
        }
        ExpectIdle();
    }
}

}  // namespace
