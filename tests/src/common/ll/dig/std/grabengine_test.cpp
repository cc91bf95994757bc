// Grab-engine programming: the register image of a grab without a camera, the grab control
// fields and their error texts, the pixel format and the window of a camera, and arming
// the engine on the simulated Orlo.
#include "grabengine.h"

#include "../../serve/intservertest.h"
#include "bufchild.h"
#include "camdispatch.h"
#include "camuart.h"
#include "camrec.h"
#include "grab.h"
#include "grabevents.h"
#include "thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using inttest::kNode;

constexpr const char* kFieldText = "A non-buffer parameter was invalid or unacceptable, errno: ";

class GrabEngineTest : public inttest::IntServerTest {
protected:
    void SetUp() override
    {
        inttest::IntServerTest::SetUp();
        if (HasFatalFailure()) return;
        res_.node = kNode;
        res_.record = record_;
        res_.name = "DigGrab";
        args_.count = 1;
        p_.node = kNode;
        p_.res = &res_;
        p_.record = record_;
        p_.path = Header(0);
        p_.pathIndex = 0;
        p_.args = &args_;
        cam_ = std::make_unique<_MP_CAM_ST_0>();
        std::memset(cam_.get(), 0, sizeof(_MP_CAM_ST_0));
    }
    void TearDown() override
    {
        std::free(p_.work);
        p_.work = nullptr;
        inttest::IntServerTest::TearDown();
    }

    _MP_BUF_ST* Dest(int32_t x, int32_t y, uint32_t bands = 1, uint32_t bits = 8)
    {
        // Descriptor only; the bands are placed at board addresses by hand (the engine only
        // computes with them).
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, x, y, bands, bits, kLocHostDma);
        EXPECT_NE(b, nullptr);
        if (!b) return nullptr;
        b->location = kLocSdram;
        for (uint32_t i = 0; i < bands; ++i) {
            b->bandTable[i].mapped = 0;
            b->bandTable[i].physical = kBoardBase + next_ + i * b->pitch * static_cast<uint32_t>(y);
        }
        next_ += bands * b->pitch * static_cast<uint32_t>(y);
        return b;
    }
    _MP_BUF_ST* Options(std::initializer_list<std::pair<uint32_t, double>> fields)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1, 1, 1, 8, kLocInline);
        EXPECT_NE(b, nullptr);
        for (const auto& f : fields) EXPECT_EQ(mp_buf_put_field(b, f.first, f.second), 0);
        return b;
    }
    void Info(uint32_t offset, uint32_t value) { CamSlotAt(cam_.get(), offset)->value = value; }
    // A 640 x 480 monochrome 8-bit camera on channel 0.
    void MonoCamera()
    {
        Info(cam0::INFO_XSIZE, 640);
        Info(cam0::INFO_YSIZE, 480);
        Info(cam0::INFO_TYPE, 3);
        Info(cam0::INFO_CHANNEL, 0x10000);
        Info(cam0::INFO_BITSPERLOGCH, 8);
        Info(cam0::INFO_TIMEMULTICH, 1);
        Info(cam0::INFO_XTAPSPERCH, 1);
        Info(cam0::INFO_YTAPSPERCH, 1);
        Info(cam0::INFO_XTAPSPERCHADJ, 1);
        Info(cam0::INFO_YTAPSPERCHADJ, 1);
        Info(cam0::INFO_TRIGSRC, 0x20000000);
        Info(cam0::ORLOGREG_GHWSTART, 16);
        Info(cam0::ORLOGREG_GHWSTOP, 16 + 639);
        Info(cam0::ORLOGREG_GVWSTART, 4);
        Info(cam0::ORLOGREG_GVWSTOP, 4 + 479);
        Info(cam0::ORLOGREG_GHTOTAL, 798);
        Info(cam0::ORLOGREG_GVTOTAL, 524);
        p_.cam = cam_.get();
    }
    uint32_t* Image() { return static_cast<uint32_t*>(p_.work); }
    uint32_t ImageReg(grbimg::GrabReg r) { return grbimg::Reg(Image(), r); }
    void NewImage()
    {
        std::free(p_.work);
        p_.work = std::calloc(1, 4096);
    }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }
    // A thread object whose grab the request counted, a sync object and a destination of
    // width x height in board memory, on a node whose standard module's events reach this
    // family; the servers started.  Returns the thread (null on failure).
    MP_THREAD_OBJ_ST* ArmedThread(int32_t width, int32_t height, uint32_t offset, uint32_t* sync)
    {
        MP_THREAD_OBJ_ST* thread = mpThrAlloc(nullptr, kNode, 0, nullptr);
        if (!thread) return nullptr;
        thread->grab.count = 1;
        thread->grab.location = kLocSdram;
        p_.thread = &thread->server;
        p_.thrGrab = &thread->grab;
        *sync = NewSync();
        p_.sync = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(*sync));
        p_.destination = Dest(width, height);
        p_.destination->bandTable[0].physical = kPrimaryMemoryTop - 0x400000 + offset;
        (&record_->nodeState->nodeInfo)[kNodeInfoModuleType] = 1;
        StartServers();
        return thread;
    }

    static constexpr uint32_t kBoardBase = 0x02000000;
    uint32_t next_ = 0;
    MP_RESOURCE_ST res_{};
    MpGrabArgs args_{};
    DIGPARAM p_{};
    std::unique_ptr<_MP_CAM_ST_0> cam_;
};

// ---- register image --------------------------------------------------------------------

TEST_F(GrabEngineTest, WithoutACameraTheImageTakesTheFixedGrabControlAndTheDestinationsSize)
{
    p_.destination = Dest(320, 200);
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    // 276504 = 0x43818: bits 0, 6, 7 and 19 are clear already; bits 22-23 are added.
    EXPECT_EQ(ImageReg(grbimg::GRABCTRL), 0xC43818u);
    EXPECT_EQ(ImageReg(grbimg::GHTOTAL), 318u);
    EXPECT_EQ(ImageReg(grbimg::GHWSTOP), 320u);
    EXPECT_EQ(ImageReg(grbimg::GVTOTAL), 199u);
    EXPECT_EQ(ImageReg(grbimg::GVWSTOP), 200u);
    EXPECT_EQ((Image()[grbimg::kVmRestartWord] >> 4) & 0xF, 15u);
}

TEST_F(GrabEngineTest, ACameraImageTakesTheCamerasWindowAndClearsTheCommandBits)
{
    MonoCamera();
    Info(cam0::ORLOGREG_GRABCTRL, 0x800C7);   // stop, continuous, single, trigger bits, bit 19
    p_.destination = Dest(640, 480);
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    EXPECT_EQ(ImageReg(grbimg::GRABCTRL), 0xC00006u);
    EXPECT_EQ(ImageReg(grbimg::GHWSTART), 16u);
    EXPECT_EQ(ImageReg(grbimg::GVWSTOP), 483u);
    EXPECT_EQ(ImageReg(grbimg::GHTOTAL), 798u);
}

// ---- grab control fields -------------------------------------------------------------------

TEST_F(GrabEngineTest, AHorizontalReductionOf17IsRefusedWithErrorNumber4)
{
    p_.destination = Dest(320, 200);
    p_.options = Options({{10005, 17}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 1;
    EXPECT_EQ(grbUpdtSh(&p_, &ready), -1);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), std::string(kFieldText) + "4");
}

TEST_F(GrabEngineTest, EachFieldNamesItsOwnErrorNumber)
{
    const std::pair<uint32_t, double> bad[] = {{10001, 3}, {10006, 0}, {10011, 3}, {10024, 1}, {10032, -5}};
    const char* numbers[] = {"2", "5", "6", "11", "16"};
    for (size_t i = 0; i < 5; ++i) {
        res_.err = _MSG_ERR_ST{};
        p_.destination = Dest(320, 200);
        p_.options = Options({bad[i]});
        NewImage();
        grbInitSh(&p_, 0, kGrbDefault);
        int ready = 0;
        EXPECT_EQ(grbUpdtSh(&p_, &ready), -1) << bad[i].first;
        EXPECT_EQ(Text(), std::string(kFieldText) + numbers[i]) << bad[i].first;
    }
}

TEST_F(GrabEngineTest, AnUnknownKeyIsSkippedAndTheReductionsReachTheScalingRegisters)
{
    MonoCamera();
    p_.destination = Dest(320, 240);
    p_.options = Options({{4711, 1}, {10005, 2}, {10006, 2}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    ASSERT_EQ(grbUpdtSh(&p_, &ready), 0) << Text();
    EXPECT_EQ(ImageReg(grbimg::GHSCLNG) & 0xF, 1u);
    EXPECT_EQ(ImageReg(grbimg::GVSCLNG) & 0xF, 1u);
    // The whole 640 x 480 source reaches the half-size destination: no clipping.
    EXPECT_EQ(ImageReg(grbimg::GHWSTART), 16u);
    EXPECT_EQ(ImageReg(grbimg::GHWSTOP), 16u + 639u);
    EXPECT_EQ(ImageReg(grbimg::GVWSTOP), 4u + 479u);
}

TEST_F(GrabEngineTest, AWindowMovesTheCamerasStartAndStop)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    p_.options = Options({{10019, 100}, {10020, 50}, {10021, 419}, {10022, 249}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    ASSERT_EQ(grbUpdtSh(&p_, &ready), 0) << Text();
    EXPECT_EQ(ImageReg(grbimg::GHWSTART), 116u);
    EXPECT_EQ(ImageReg(grbimg::GHWSTOP), 16u + 419u);
    EXPECT_EQ(ImageReg(grbimg::GVWSTART), 54u);
    EXPECT_EQ(ImageReg(grbimg::GVWSTOP), 4u + 249u);
    // Single frame: bit 2, not bit 1; the pitch is the destination's.
    EXPECT_EQ(ImageReg(grbimg::GRABCTRL) & 0x6u, 0x4u);
    EXPECT_EQ(ImageReg(grbimg::GLPITCH) & 0x3FFFFFF, p_.destination->pitch);
}

TEST_F(GrabEngineTest, AWindowOutsideTheSourceOrReversedIsRefused)
{
    MonoCamera();
    for (auto fields : {std::initializer_list<std::pair<uint32_t, double>>{{10021, 640}},
                        std::initializer_list<std::pair<uint32_t, double>>{{10019, 200}, {10021, 100}}}) {
        res_.err = _MSG_ERR_ST{};
        p_.destination = Dest(640, 480);
        p_.options = Options(fields);
        NewImage();
        grbInitSh(&p_, 0, kGrbDefault);
        int ready = 0;
        EXPECT_EQ(grbUpdtSh(&p_, &ready), -1);
        EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    }
}

TEST_F(GrabEngineTest, AReductionThatDoesNotDivideTheWidthIsRefused)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    p_.options = Options({{10005, 3}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    EXPECT_EQ(grbUpdtSh(&p_, &ready), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
}

// ---- window --------------------------------------------------------------------------------

TEST_F(GrabEngineTest, AWindowWiderThanTheDestinationIsClippedToIt)
{
    MonoCamera();
    p_.destination = Dest(320, 480);
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    WININFO_ST win{};
    int clipped = 0;
    ASSERT_EQ(grbWindow(&p_, &win, &clipped), 0) << Text();
    EXPECT_EQ(clipped, 1);
    EXPECT_EQ(win.firstColumn, 0u);
    EXPECT_EQ(win.lastColumn, 319u);
    EXPECT_EQ(win.lastLine, 479u);
}

TEST_F(GrabEngineTest, ACameraWithoutTapsDoesNotDivideByZero)
{
    MonoCamera();
    Info(cam0::INFO_XTAPSPERCH, 0);
    Info(cam0::INFO_YTAPSPERCH, 0);
    p_.destination = Dest(640, 480);
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    WININFO_ST win{};
    int clipped = 0;
    ASSERT_EQ(grbWindow(&p_, &win, &clipped), 0) << Text();
    EXPECT_EQ(win.lastColumn, 639u);
}

TEST_F(GrabEngineTest, ALineOfFewerThanNineBytesIsRestricted)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    p_.options = Options({{10021, 7}});
    NewImage();
    WININFO_ST win{};
    int clipped = 0;
    // The walk fills the window fields; the window itself then refuses.
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    EXPECT_EQ(grbUpdtSh(&p_, &ready), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    (void)win;
    (void)clipped;
}

// ---- pixel format ----------------------------------------------------------------------------

TEST_F(GrabEngineTest, PixelFormatsOfMonochromeAndPlanarColourDestinations)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    NewImage();
    uint32_t fmt = 0;
    ASSERT_EQ(grbPixFormat(&p_, 0x10000, &fmt, 1), 0);
    EXPECT_EQ(fmt, 0x8u);   // one byte, channel 0, one sample

    p_.destination = Dest(640, 480, 3);
    fmt = 0;
    ASSERT_EQ(grbPixFormat(&p_, 0x10000, &fmt, 1), 0);
    EXPECT_EQ(fmt, 0x238u);   // planar: three samples, channel nibble 7

    p_.cam = nullptr;
    fmt = 0;
    ASSERT_EQ(grbPixFormat(&p_, 0x70000, &fmt, 1), 0);
    EXPECT_EQ(fmt, 0x278u);   // without a camera: samples = bands, all channels
}

TEST_F(GrabEngineTest, ATenBitCameraIntoEightBitsKeepsTheShiftSelection)
{
    MonoCamera();
    Info(cam0::INFO_BITSPERLOGCH, 10);
    p_.destination = Dest(640, 480);
    NewImage();
    uint32_t fmt = 0x800;
    ASSERT_EQ(grbPixFormat(&p_, 0x10000, &fmt, 1), 0);
    EXPECT_EQ(fmt, 0x808u);
    // An eight-bit camera has no bits to shift: the selection is refused.
    Info(cam0::INFO_BITSPERLOGCH, 8);
    fmt = 0x800;
    EXPECT_EQ(grbPixFormat(&p_, 0x10000, &fmt, 1), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
}

TEST_F(GrabEngineTest, AWidePixelInSeveralBandsIsRestricted)
{
    MonoCamera();
    p_.destination = Dest(64, 16, 2, 32);
    uint32_t fmt = 0;
    EXPECT_EQ(grbPixFormat(&p_, 0x10000, &fmt, 1), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
}

// ---- arming the engine -------------------------------------------------------------------------

TEST_F(GrabEngineTest, AnIdleEngineIsArmedForOneFrameAndTheSlotHoldsTheGrab)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    const uint32_t sync = NewSync();
    p_.sync = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(sync));
    p_.grabMask = 0x10000;
    Trace();
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    SERVINFO_ST* s = State(0);
    EXPECT_EQ(static_cast<int32_t>(s->slot(0, kSlotRemaining)), 1);
    EXPECT_EQ(static_cast<int32_t>(s->slot(0, kSlotRequested)), 1);
    EXPECT_EQ(s->slot(0, kSlotSyncNext), sync);
    EXPECT_EQ(s->slot(0, kSlotChannelBitsNext), 0x10000u);
    EXPECT_EQ(Sync(sync)->state, kSyncReady);
    const std::vector<uint32_t> controls = Writes(kOrloGrabControl);
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls.back() & 0x7u, 0x4u);   // armed for one frame, not stopped
    EXPECT_EQ(Reg(0x1810), 16u);
    EXPECT_EQ(Reg(0x1818), 655u);
    EXPECT_EQ(Reg(0x2850) & 0x3FFFFFF, p_.destination->pitch);
}

TEST_F(GrabEngineTest, ARunningEngineKeepsItsVmEngineAndLineBits)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    p_.options = Options({{10018, 15}});
    // A continuous grab runs: its grab control has bit 1 and line bits 20-21.
    SERVINFO_ST* s = State(0);
    intsrv::Set(s, kOrloGrabControl, 0x200002);
    Trace();
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    for (uint32_t v : Writes(kOrloGrabControl)) EXPECT_EQ(v & (1u << 26), 0u) << std::hex << v;
    const std::vector<uint32_t> controls = Writes(kOrloGrabControl);
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls.back() & 0x300000u, 0x200000u);
}

TEST_F(GrabEngineTest, AHostDestinationWithACameraIsRestricted)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    p_.destination->location = kLocHostDma;
    EXPECT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
}

TEST_F(GrabEngineTest, QuickReaimChangesOnlyTheFrameAddresses)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    const uint32_t hstop = Reg(0x1818);
    _MP_BUF_ST* other = Dest(640, 480);
    p_.destination = other;
    Trace();
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, 1), 0) << Text();
    EXPECT_TRUE(Writes(0x1818).empty());
    EXPECT_TRUE(Writes(0x1800).empty());
    EXPECT_EQ(Reg(0x1818), hstop);
    const std::vector<uint32_t> starts = Writes(0x2848);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.back() & 0x3FFFFFF, other->bandTable[0].physical & 0x3FFFFFF);
}

// ---- a frame through the simulated engine ------------------------------------------------------

TEST_F(GrabEngineTest, AnArmedGrabWritesTheFrameThroughTheLutIntoTheDestination)
{
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    const boardsim::GrabEngineView engine = sim.grabEngine(0);
    engine.setFramePeriod(0.001);
    for (int lut = 1; lut <= 2; ++lut)
        for (int band = 0; band < 3; ++band)
            for (uint32_t e = 0; e < 1024; ++e) sim.grab(0).setLut(lut, band, e, static_cast<uint8_t>(255 - (e & 0xFF)));
    constexpr uint32_t kWidth = 64, kHeight = 8, kOffset = 0x1000;
    p_.destination = Dest(kWidth, kHeight);
    p_.destination->bandTable[0].physical = kPrimaryMemoryTop - 0x400000 + kOffset;
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    sim.advance(0.01);
    ASSERT_EQ(engine.framesWritten(), 1u);
    const int64_t frame = engine.lastFrame();
    ASSERT_GE(frame, 0);
    std::vector<uint8_t> pixels(kWidth * kHeight);
    ASSERT_TRUE(sim.orlo(0).readMemory(kOffset, pixels.data(), static_cast<uint32_t>(pixels.size())));
    int wrong = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint8_t want = static_cast<uint8_t>(255 - (engine.pattern(x, y, static_cast<uint64_t>(frame), 0) & 0xFF));
            if (pixels[y * kWidth + x] != want && wrong++ < 4)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << int(pixels[y * kWidth + x]) << " want " << int(want);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(engine.strayBytes(), 0u);
}

TEST_F(GrabEngineTest, ADecimatedCameraWindowTakesEverySecondPixelFromTheWindowStart)
{
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    const boardsim::GrabEngineView engine = sim.grabEngine(0);
    engine.setFramePeriod(0.001);
    for (uint32_t e = 0; e < 1024; ++e) sim.grab(0).setLut(1, 0, e, static_cast<uint8_t>(e & 0xFF));
    MonoCamera();
    constexpr uint32_t kWidth = 64, kHeight = 16, kOffset = 0x2000;
    p_.destination = Dest(kWidth, kHeight);
    p_.destination->bandTable[0].physical = kPrimaryMemoryTop - 0x400000 + kOffset;
    // Source window x 100-227, y 40-71, every second pixel and line.
    p_.options = Options({{10005, 2}, {10006, 2}, {10019, 100}, {10020, 40}, {10021, 227}, {10022, 71}});
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    sim.advance(0.01);
    ASSERT_EQ(engine.framesWritten(), 1u);
    const auto frame = static_cast<uint64_t>(engine.lastFrame());
    std::vector<uint8_t> pixels(kWidth * kHeight);
    ASSERT_TRUE(sim.orlo(0).readMemory(kOffset, pixels.data(), static_cast<uint32_t>(pixels.size())));
    int wrong = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            // Raster coordinates: the camera's window start (16, 4) plus the grab window.
            const uint8_t want = static_cast<uint8_t>(engine.pattern(16 + 100 + 2 * x, 4 + 40 + 2 * y, frame, 0) & 0xFF);
            if (pixels[y * kWidth + x] != want && wrong++ < 4)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << int(pixels[y * kWidth + x]) << " want " << int(want);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(engine.strayBytes(), 0u);
}

TEST_F(GrabEngineTest, TheServersCarryAnArmedGrabFromProgrammedToDoneAndTheThreadToIdle)
{
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    sim.grabEngine(0).setFramePeriod(0.001);
    uint32_t sync = 0;
    MP_THREAD_OBJ_ST* thread = ArmedThread(64, 8, 0x3000, &sync);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    EXPECT_EQ(Sync(sync)->state, kSyncReady);
    sim.advance(0.01);
    Raise(kSignalStartOfGrab);
    EXPECT_EQ(Sync(sync)->state, kSyncStarted);
    Raise(kSignalEndOfGrab);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(thread->grab.count, 0);
    EXPECT_EQ(thread->grab.location, 0u);
    EXPECT_EQ(Reg(kOrloGrabControl) & kGctlStop, kGctlStop);
    mp_thr_destroy(thread);
}

// Arming puts the window's end and the line step in the slot's next words, and the start of
// the grab moves them into place: the grab-line server then steps from the window's first
// line (10) by the rate (50) to line 60, within the window's last line (99).
TEST_F(GrabEngineTest, AfterTheStartOfAGrabTheGrabLineStepsThroughTheArmedWindow)
{
    MonoCamera();
    Info(cam0::INFO_YSIZE, 90);
    Info(cam0::ORLOGREG_GVWSTART, 10);
    Info(cam0::ORLOGREG_GVWSTOP, 99);
    uint32_t sync = 0;
    MP_THREAD_OBJ_ST* thread = ArmedThread(640, 90, 0x3000, &sync);
    ASSERT_NE(thread, nullptr);
    p_.options = Options({{10026, -1}, {10032, 50}});
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    Raise(kSignalStartOfGrab);
    SetReg(orloev::kGrabLine, 10);
    Raise(kSignalGrabLine);
    EXPECT_EQ(Reg(orloev::kGrabLine), 60u);
    mpPrvHalt(&thread->server, kHaltNow);
    mp_thr_destroy(thread);
}

TEST_F(GrabEngineTest, AContinuousGrabRunsUntilItsThreadIsHaltedAndThenEndsClean)
{
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    sim.grabEngine(0).setFramePeriod(0.001);
    uint32_t sync = 0;
    MP_THREAD_OBJ_ST* thread = ArmedThread(64, 8, 0x4000, &sync);
    ASSERT_NE(thread, nullptr);
    args_.count = -1;
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    EXPECT_EQ(Reg(kOrloGrabControl) & (kGctlContinuous | kGctlSingle | kGctlStop), kGctlContinuous);
    for (int frame = 0; frame < 3; ++frame) {
        sim.advance(0.002);
        Raise(kSignalStartOfGrab);
        Raise(kSignalEndOfGrab);
    }
    EXPECT_EQ(Sync(sync)->state, kSyncStarted);
    EXPECT_EQ(thread->grab.count, 1);
    EXPECT_GE(sim.grabEngine(0).framesWritten(), 3u);

    mpPrvHalt(&thread->server, kHaltNow);
    EXPECT_EQ(Reg(kOrloGrabControl) & (kGctlContinuous | kGctlStop), kGctlStop);
    EXPECT_EQ(Sync(sync)->state, kSyncDone);
    EXPECT_EQ(thread->grab.count, 0);
    EXPECT_EQ(thread->grab.location, 0u);
    const uint64_t written = sim.grabEngine(0).framesWritten();
    sim.advance(0.01);
    EXPECT_LE(sim.grabEngine(0).framesWritten(), written + 1) << "the engine stopped";
    mp_thr_destroy(thread);
}

TEST_F(GrabEngineTest, ALineInterruptAtTheWindowStartOnACameraWithoutALineTotalTakesOneLinePerMillisecond)
{
    MonoCamera();
    Info(cam0::INFO_PIXCLK, 25000000);
    CamSlotAt(cam_.get(), cam0::DIG_HTOTAL)->value = 0;
    p_.destination = Dest(640, 480);
    p_.options = Options({{10026, -1}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    ASSERT_EQ(grbUpdtSh(&p_, &ready), 0) << Text();
    EXPECT_EQ(Image()[grbimg::kLinesPerMsWord], 1u);
    EXPECT_EQ(ImageReg(grbimg::GLNINT) & 0xFFFF, 4u);   // the camera's first window line
    EXPECT_EQ(Image()[grbimg::kLineKindWord], 1u);

    // With a line total the rate is the pixel clock over it.
    CamSlotAt(cam_.get(), cam0::DIG_HTOTAL)->value = 800;
    grbInitSh(&p_, 0, kGrbDefault);
    ASSERT_EQ(grbUpdtSh(&p_, &ready), 0) << Text();
    EXPECT_EQ(Image()[grbimg::kLinesPerMsWord], 31u);   // 25e6 x 0.001 / 800 = 31.25
}

// Without a camera the rate comes from the digitizer's clock word (MHz) over the width.
TEST_F(GrabEngineTest, ALineInterruptAtTheWindowStartWithoutACameraTakesTheClockOverTheWidth)
{
    record_->nodeState->iniWords[1] = 33;
    p_.destination = Dest(640, 480);
    p_.options = Options({{10026, -1}});
    NewImage();
    grbInitSh(&p_, 0, kGrbDefault);
    int ready = 0;
    ASSERT_EQ(grbUpdtSh(&p_, &ready), 0) << Text();
    EXPECT_EQ(Image()[grbimg::kLinesPerMsWord], 51u);   // 33e6 x 0.001 / 640 = 51.6
}

// A slot whose earlier grab never gave its semaphore back fails the request with a
// time-out and leaves the engine and the slot as they were.
TEST_F(GrabEngineTest, ASlotStillHeldPastTheTimeOutFailsTheRequestWithoutArmingIt)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    StartServers();
    SERVINFO_ST* s = State(0);
    const int32_t sema = static_cast<int32_t>(s->slot(0, kSlotDoneSema));
    ASSERT_EQ(TaskCheckSema(sema), 1);   // the earlier grab holds it
    s->slot(0, kSlotRequested) = 7;
    Trace();
    EXPECT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_TIMEOUT);
    EXPECT_TRUE(Writes(kOrloGrabControl).empty());
    EXPECT_EQ(s->slot(0, kSlotRequested), 7u);
    EXPECT_EQ(TaskCheckSema(sema), 0) << "the semaphore is not given back by the failed request";
}

TEST_F(GrabEngineTest, ABusyGrabRegisterListEndsTheProgrammingWithATimeOutInsteadOfWaitingForEver)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    SetReg(kOrloGrabListControl, 1);
    EXPECT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_TIMEOUT);
    // The Orlo is free again for the next request.
    SetReg(kOrloGrabListControl, 0);
    res_.err = _MSG_ERR_ST{};
    EXPECT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
}

TEST_F(GrabEngineTest, AHostDestinationWithoutThePathsTemporaryBuffersIsRestricted)
{
    p_.destination = Dest(64, 8);
    p_.destination->location = kLocHostDma;
    Trace();
    EXPECT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_TRUE(Writes(kOrloGrabControl).empty());
    EXPECT_TRUE(Writes(0x2848).empty());
}

TEST_F(GrabEngineTest, TheSlotStepsTheLineInterruptOnlyWhenOneIsRequested)
{
    MonoCamera();
    p_.destination = Dest(640, 480);
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    EXPECT_EQ(State(0)->slot(0, kSlotLinesPerMs), 0u);
    EXPECT_EQ(State(0)->slot(0, kSlotLineMode), 0u);

    p_.options = Options({{10026, 10}, {10032, 3}});
    ASSERT_EQ(grbSetOrlo(&p_, 0x10000, kGrbDefault), 0) << Text();
    EXPECT_EQ(State(0)->slot(0, kSlotLinesPerMs), 3u);
    EXPECT_EQ(State(0)->slot(0, kSlotLineMode), 1u);
    EXPECT_EQ(State(0)->slot(0, kSlotLineNext), 4u + 10u);
}

}  // namespace
