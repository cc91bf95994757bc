// Camera comparison before a grab, the transfer engine's unsafe line lengths, and the
// patch of a grab window: a lower transfer mode, a widened line with a mask tag buffer, a
// narrowed line with its lost columns cleared.
#include "../camerafixture.h"
#include "../chipsfixture.h"
#include "load.h"

#include "../../serve/intservertest.h"
#include "bufchild.h"
#include "grab.h"
#include "grabpatch.h"
#include "heap.h"
#include "servinfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace cam0;

namespace {

// ---- safe line lengths ------------------------------------------------------------------------

struct Case {
    uint32_t sizeCode, mode, length;
    int result;
    uint32_t safe;
};

TEST(GrabLineLength, UnsafeLengthsNameTheNextSafeOne)
{
    const Case cases[] = {
        {1, 4, 130, -1, 249},   // 2 into its 128 block: (128, 248]
        {1, 4, 256, 0, 256},
        {2, 3, 640, 0, 640},
        {2, 3, 650, -1, 704},
        {2, 5, 300, -1, 305},   // 44 into its 256 block
        {2, 5, 200, -1, 201},   // (128, 200] holds below 256 as well
        {2, 5, 40, 0, 40},      // the 256-block ranges need 256 or more
        {2, 4, 100, -1, 121},   // (64, 101] and (64, 120]: the last listed wins
        {3, 4, 80, -1, 106},
        {3, 4, 150, -1, 177},   // both rows' ranges hold: the 128-block one wins
        {3, 3, 270, -1, 281},   // (256, 280]
        {3, 3, 284, 0, 284},
        {3, 3, 290, -1, 299},   // (288, 298]
        {4, 5, 210, -1, 211},
        {4, 3, 64, 0, 64},
        {1, 3, 77, -1, 1},      // every length
        {1, 6, 260, -1, 265},   // odd 256 block: (256, 264]
        {1, 6, 300, 0, 300},
        {1, 6, 600, -1, 640},   // even 256 block: (512, 639]
        {1, 6, 770, -1, 777},   // odd 256 block: (768, 776]
        {1, 7, 600, -1, 640},
        {1, 2, 130, 0, 130},    // no row
        {5, 4, 130, 0, 130},
    };
    for (const Case& c : cases) {
        uint32_t safe = 0;
        EXPECT_EQ(mpPrvValid(c.mode, c.length, c.sizeCode, &safe, 0), c.result)
            << c.sizeCode << "/" << c.mode << "/" << c.length;
        EXPECT_EQ(safe, c.safe) << c.sizeCode << "/" << c.mode << "/" << c.length;
    }
    EXPECT_EQ(mpPrvValid(4, 130, 1, nullptr, 0), -1);
}

TEST(GrabLineLength, RoundingTwoStepsBelowTheSafeLength)
{
    uint32_t safe = 7;
    EXPECT_EQ(mpPrvValid(3, 650, 2, &safe, 2), -1);  // 704 -> 640
    EXPECT_EQ(safe, 640u);
    EXPECT_EQ(mpPrvValid(3, 600, 2, &safe, 2), -1);  // 640 is a multiple of 128 -> 512
    EXPECT_EQ(safe, 512u);
    EXPECT_EQ(mpPrvValid(3, 5, 1, &safe, 2), -1);    // 1 -> 0
    EXPECT_EQ(safe, 0u);
}

// ---- camera comparison --------------------------------------------------------------------------

class CamCompareTest : public chipsfixture::GrabModuleTest {
protected:
    void SetUp() override
    {
        GrabModuleTest::SetUp();
        if (HasFatalFailure()) return;
        cam_ = chipsfixture::NewRecord();
        chipsfixture::Set(cam_.get(), DIG_HTOTAL, 800);
        chipsfixture::Set(cam_.get(), INFO_CHANNEL, kChanRed);
        chipsfixture::Set(cam_.get(), DAC8800LVL_REDC, 40);
        chipsfixture::Set(cam_.get(), DAC8800LVL_GREENC, 41);
        chipsfixture::Set(cam_.get(), ICS1522REG(2), 300);
        for (uint32_t slot = 0; slot < 254; ++slot) Live(slot * 8)->value = chipsfixture::Get(cam_.get(), slot * 8);
    }
    int Compare(uint32_t mask, bool other = false, bool host = false)
    {
        return mpPrvCamCompare(cam_.get(), other, host, mask);
    }
    uint32_t Compared() const
    {
        uint32_t w;
        std::memcpy(&w, cam_->bytes + kCamComparedOnce, 4);
        return w;
    }
    std::unique_ptr<_MP_CAM_ST_0> cam_;
};

TEST_F(CamCompareTest, MatchingRecordNeedsNoReloadEvenWithAnotherChannel)
{
    EXPECT_EQ(Compare(kChanRed), 0);
    EXPECT_EQ(Compared(), 1u);
    Live(INFO_CHANNEL)->value = kChanGreen;
    Live(INFO_LUTBUFID)->value = 5;
    Live(DIG_MISCTL)->value = 0x4000;
    EXPECT_EQ(Compare(kChanRed | kChanGreen), 0);
}

TEST_F(CamCompareTest, FirstComparisonAfterAnotherDigitizerReloads)
{
    EXPECT_EQ(Compare(kChanRed, true), 1);
    EXPECT_EQ(Compared(), 1u);
    EXPECT_EQ(Compare(kChanRed, true), 0);  // compared once: the registers decide
}

TEST_F(CamCompareTest, RegisterAndChannelDifferencesReload)
{
    Live(DIG_HTOTAL)->value = 801;
    EXPECT_EQ(Compare(kChanRed), 1);
    Live(DIG_HTOTAL)->value = 800;
    // Level DACs count only for the grab's channels.
    Live(DAC8800LVL_GREENC)->value = 99;
    EXPECT_EQ(Compare(kChanRed), 0);
    EXPECT_EQ(Compare(kChanGreen), 1);
    Live(DAC8800LVL_GREENC)->value = 0x100 | 41;  // only the low byte counts
    EXPECT_EQ(Compare(kChanGreen), 0);
    Live(DIG_ANACTL)->value = 0x4;  // red's gain bits
    EXPECT_EQ(Compare(kChanGreen), 0);
    EXPECT_EQ(Compare(kChanRed), 1);
    Live(DIG_ANACTL)->value = 0;
    // Output and capture control count unless the destination is in host memory.
    Live(DIG_OUTCTL)->value = 0x10;
    EXPECT_EQ(Compare(kChanRed, false, true), 0);
    EXPECT_EQ(Compare(kChanRed), 1);
    Live(DIG_OUTCTL)->value = 0;
    // The hardware's DIG_GPCTL bit 5 against its shadow.
    Live(DIG_GPCTL)->value = 0x20;
    EXPECT_EQ(Compare(kChanRed), 1);
}

TEST_F(CamCompareTest, CalibratedRecordsCompareTheDacValuesTheLoadSends)
{
    chipsfixture::Set(cam_.get(), INFO_MISC, 0x2);
    Live(INFO_MISC)->value = 0x2;
    const uint32_t once = 1;
    std::memcpy(cam_->bytes + LOADED_ONCE, &once, 4);
    cam_->bytes[REF_DAC_BYTES + RefDacIndex(0, 1)] = 77;  // red coarse level computed: 77
    EXPECT_EQ(Compare(kChanRed), 1);                      // the live DAC holds the file's 40
    Live(DAC8800LVL_REDC)->value = 77;
    EXPECT_EQ(Compare(kChanRed), 0);
}

TEST_F(CamCompareTest, SorvikRecordsSkipThePllAndCompareTheControlWord)
{
    Live(ICS1522REG(2))->value = 301;
    EXPECT_EQ(Compare(kChanRed), 1);
    chipsfixture::Set(cam_.get(), SORVIK2_FLAG, 2);
    EXPECT_EQ(Compare(kChanRed), 0);
    Live(SORVIK2_CONTROL)->value = 0x1;
    EXPECT_EQ(Compare(kChanRed), 0);
    Live(SORVIK2_CONTROL)->value = 0x80;
    EXPECT_EQ(Compare(kChanRed), 1);
}

TEST_F(CamCompareTest, GrabRequestTakesItsDigitizerInfo)
{
    uint32_t info[16] = {};
    info[kDigWordLastLoaded] = 0x40000003;
    DIGPARAM p{};
    p.cam = cam_.get();
    p.digId = 0x40000004;
    p.digInfo = info;
    EXPECT_EQ(grbCamCompare(&p, kChanRed), 1);
    EXPECT_EQ(grbCamCompare(&p, kChanRed), 0);
    p.cam = nullptr;
    EXPECT_EQ(grbCamCompare(&p, kChanRed), 1);
}

// A record the load has just put into the module matches it: the next grab does not
// reload, whichever of its channels it uses.
class LoadedCompareTest : public camerafixture::CameraNodeTest {};

TEST_F(LoadedCompareTest, FreshlyLoadedRecordMatchesTheLiveRegisters)
{
    auto cam = lutfixture::EightBitCamera();
    _MP_CAM_ST_0* c = cam.get();
    chipsfixture::Set(c, DIG_HTOTAL, 858);
    chipsfixture::Set(c, DIG_VTOTAL, 525);
    chipsfixture::Set(c, DIG_OUTCTL, 0x2000);
    chipsfixture::Set(c, DIG_ANACTL, 0x0F0F);
    chipsfixture::Set(c, DAC8800LVL_REDC, 30);
    chipsfixture::Set(c, INFO_PIXCLK, 13500000);
    ASSERT_EQ(mp_dig_load(&res_, c, nullptr, kChanRed, kDigLoadFull), 0) << Text();
    EXPECT_EQ(mpPrvCamCompare(c, false, false, kChanRed), 0);
    chipsfixture::Set(c, INFO_CHANNEL, kChanGreen);
    EXPECT_EQ(mpPrvCamCompare(c, false, false, kChanRed), 0);
    chipsfixture::Set(c, DIG_VTOTAL, 526);
    EXPECT_EQ(mpPrvCamCompare(c, false, false, kChanRed), 1);
}

// ---- the patch ------------------------------------------------------------------------------------

constexpr char kTagsInUse[] = "Temporary restriction: tags requested while tags are already being used";

class GrabPatchTest : public inttest::IntServerTest {
protected:
    void SetUp() override
    {
        inttest::IntServerTest::SetUp();
        if (HasFatalFailure()) return;
        // Board memory and the first display heap, in host arrays.
        for (int i = 0; i < 2; ++i) {
            memory_[i].assign(kHeapBytes + 64, 0);
            const uintptr_t base = (reinterpret_cast<uintptr_t>(memory_[i].data()) + 63) & ~uintptr_t{63};
            heaps_[i] = mp_mem_new_heap(nullptr, static_cast<uint32_t>(base), kHeapBytes, static_cast<uint32_t>(i));
            ASSERT_NE(heaps_[i], nullptr);
            record_->heaps[i] = heaps_[i];
        }
        res_.node = inttest::kNode;
        res_.name = "DigGrab";
        job_.resource = &res_;
        job_.node = inttest::kNode;
        job_.tagInBoardMemory = true;
        job_.bandFactor = 1;
        job_.regs = GrabPatchRegs{&ghwstart_, &ghwstop_, &gpixfmt_, &gblength_, &gtagctl_,
                                  &gc1toff_, &gc2toff_, &gc3toff_, &gtlpitch_};
        job_.tagRecord = &tagWord_;
        job_.madeTag = &made_;
        win_.decimationX = win_.decimationY = 1;
        win_.replicationX = win_.replicationY = 1;
        win_.lastLine = 3;
    }
    void TearDown() override
    {
        if (made_) mp_buf_free(made_);
        for (_MP_BUF_ST* b : buffers_) mp_buf_free(b);
        for (int i = 0; i < 2; ++i) {
            if (record_) record_->heaps[i] = nullptr;
            if (heaps_[i]) mp_mem_delete_heap(heaps_[i]);
        }
        inttest::IntServerTest::TearDown();
    }
    _MP_BUF_ST* Buffer(int32_t x, int32_t y, uint32_t bands, uint32_t type, uint32_t location)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(inttest::kNode, x, y, bands, type, kLocInline);
        EXPECT_NE(b, nullptr);
        if (b) {
            b->location = location;
            buffers_.push_back(b);
        }
        return b;
    }
    // A window of `width` pixels from column `start`.
    void Window(uint32_t start, uint32_t width)
    {
        ghwstart_ = start;
        ghwstop_ = start + width - 1;
        win_.firstColumn = start;
        win_.lastColumn = start + width - 1;
    }
    int Patch(uint32_t mode, uint32_t source, int32_t clipped = 0, int32_t noPatch = 0, _MP_BUF_ST* tag = nullptr)
    {
        return mpPrvGrabPatchJob(job_, &win_, mode, source, clipped, noPatch, tag);
    }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }

    MP_RESOURCE_ST res_{};
    GrabPatchJob job_{};
    WININFO_ST win_{};
    uint32_t ghwstart_ = 0, ghwstop_ = 0, gpixfmt_ = 0, gblength_ = 0x70, gtagctl_ = 0;
    uint32_t gc1toff_ = 0, gc2toff_ = 0, gc3toff_ = 0, gtlpitch_ = 0;
    _MP_BUF_ST* tagWord_ = nullptr;
    _MP_BUF_ST* made_ = nullptr;
    std::vector<_MP_BUF_ST*> buffers_;
    static constexpr uint32_t kHeapBytes = 0x10000;
    std::vector<uint8_t> memory_[2];
    heap* heaps_[2] = {nullptr, nullptr};
};

TEST_F(GrabPatchTest, SafeOrUnpatchedLinesKeepTheirMode)
{
    Window(0, 640);
    ASSERT_EQ(Patch(7, 640), 0);
    EXPECT_EQ(gblength_, 0x77u);  // the mode in the low 3 bits, the rest kept
    EXPECT_EQ(ghwstop_, 639u);
    Window(0, 130);
    ASSERT_EQ(Patch(4, 640, 0, 1), 0);
    EXPECT_EQ(gblength_ & 7, 4u);
    EXPECT_EQ(ghwstop_, 129u);
    EXPECT_EQ(gtagctl_, 0u);
    EXPECT_EQ(made_, nullptr);
}

TEST_F(GrabPatchTest, ALowerModeThatCarriesTheLineIsTaken)
{
    gpixfmt_ = 0x100;  // two bytes per pixel
    Window(0, 100);
    ASSERT_EQ(Patch(4, 640), 0);
    EXPECT_EQ(gblength_ & 7, 2u);  // 100 is unsafe in 4 and 3, safe in 2
    EXPECT_EQ(ghwstop_, 99u);
}

TEST_F(GrabPatchTest, ClippedDecimatedLineGrowsByOneColumn)
{
    Window(0, 130);
    win_.decimationX = 2;
    ASSERT_EQ(Patch(4, 640, 1), 0);
    EXPECT_EQ(ghwstop_, 130u);
    EXPECT_EQ(gblength_ & 7, 4u);
}

TEST_F(GrabPatchTest, NoModeLeftFailsWithRestriction)
{
    Window(0, 130);
    EXPECT_EQ(Patch(4, 640), -1);  // mode 3 is the lowest for one byte per pixel
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
}

TEST_F(GrabPatchTest, WidenedLineGetsAMaskTagBuffer)
{
    job_.destination = Buffer(640, 4, 1, 8, kLocSdram);
    Window(0, 130);  // unsafe in modes 5 and 4: widened to mode 4's safe 249
    ASSERT_EQ(Patch(5, 640), 0) << res_.err.code << " " << Text();
    EXPECT_EQ(ghwstop_, 248u);
    EXPECT_EQ(gblength_ & 7, 4u);
    ASSERT_NE(made_, nullptr);
    EXPECT_EQ(tagWord_, made_);
    EXPECT_EQ(made_->sizeX, 249);
    EXPECT_EQ(made_->type, 0x40000001u);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, 0, 0), 0);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, 129, 0), 0);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, 130, 0), 1);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, 248, 0), 1);
    EXPECT_EQ(gtagctl_ & 0x1C000000u, 0x4000000u);  // bit 26 set, 27 and 28 clear
    EXPECT_EQ(gtagctl_ & 0x3FFFFFFu, win_.address[0] & 0x3FFFFFFu);
}

// A widened 130-pixel line (mode 5 to mode 4's 249): one mask bit per destination byte,
// the mask in board memory also for host memory when the first grab path serves host grabs.
struct MaskCase {
    uint32_t gpixfmt;     // low bits: destination bytes per pixel less one
    uint32_t location;    // of the destination
    uint32_t bits;
    int32_t length, valid;
};
class MaskTagTest : public GrabPatchTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(MaskTagTest, MaskCoversEveryDestinationByteInBoardMemory)
{
    const MaskCase& c = GetParam();
    record_->nodeState->hostGrabFirstPath = 1;
    job_.tagInBoardMemory = c.location == kLocSdram;
    job_.destination = Buffer(640, 4, 1, c.bits, c.location);
    gpixfmt_ = c.gpixfmt;
    Window(0, 130);
    ASSERT_EQ(Patch(5, 640), 0) << res_.err.code << " " << Text();
    ASSERT_NE(made_, nullptr);
    EXPECT_EQ(made_->location, kLocSdram);
    EXPECT_EQ(made_->sizeX, c.length);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, c.valid - 1, 0), 0);
    EXPECT_EQ(mp_buf_get_pix(made_, 0, c.valid, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(Destinations, MaskTagTest,
                         ::testing::Values(MaskCase{0x001, kLocSdram, 16, 498, 260},
                                           MaskCase{0x000, kLocHostDma, 8, 249, 130}));

TEST_F(GrabPatchTest, MaskTagWithoutRoomFailsAndLeavesTheWindow)
{
    // Other destinations take their mask tag from display heap 0, which this node (no
    // display chip) cannot give.
    job_.destination = Buffer(640, 4, 1, 8, kLocSdram);
    job_.tagInBoardMemory = false;
    Window(0, 130);
    EXPECT_EQ(Patch(5, 640), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(ghwstop_, 129u);
    EXPECT_EQ(made_, nullptr);
}

TEST_F(GrabPatchTest, MaskTagIsFreedWhenItsAddressesFail)
{
    // A vertically replicated window cannot carry tags: the tag made for the widened line
    // is released again and nothing names it.
    job_.destination = Buffer(640, 4, 1, 8, kLocSdram);
    win_.replicationY = 2;
    Window(0, 130);
    EXPECT_EQ(Patch(5, 640), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(made_, nullptr);
    EXPECT_EQ(tagWord_, nullptr);
}

TEST_F(GrabPatchTest, WideningWithATagAlreadyGivenIsRefused)
{
    job_.destination = Buffer(640, 4, 1, 8, kLocSdram);
    _MP_BUF_ST* tag = Buffer(640, 1, 1, 0x40000001, kLocSdram);
    Window(0, 130);
    EXPECT_EQ(Patch(5, 640, 0, 0, tag), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text(), kTagsInUse);
    EXPECT_EQ(made_, nullptr);
    EXPECT_EQ(ghwstop_, 129u);
}

TEST_F(GrabPatchTest, NarrowedLineClearsTheColumnsLost)
{
    _MP_BUF_ST* d = Buffer(200, 4, 1, 8, kLocSdram);
    job_.destination = d;
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 200; ++x) mp_buf_put_pix(d, 0, x, y, 0xAA);
    Window(0, 130);  // 249 does not fit a 200-pixel source: 249 rounded down to 128
    ASSERT_EQ(Patch(5, 200), 0) << Text();
    EXPECT_EQ(ghwstop_, 127u);
    EXPECT_EQ(gblength_ & 7, 4u);
    EXPECT_EQ(made_, nullptr);
    for (int32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(mp_buf_get_pix(d, 0, 127, y), 0xAA);
        EXPECT_EQ(mp_buf_get_pix(d, 0, 128, y), 0);
        EXPECT_EQ(mp_buf_get_pix(d, 0, 129, y), 0);
        EXPECT_EQ(mp_buf_get_pix(d, 0, 130, y), 0xAA);
    }
}

TEST_F(GrabPatchTest, GivenTagsAreCheckedAndAddressed)
{
    job_.destination = Buffer(640, 4, 1, 8, kLocSdram);
    Window(0, 640);
    _MP_BUF_ST* two = Buffer(640, 1, 2, 0x40000001, kLocSdram);
    EXPECT_EQ(Patch(7, 640, 0, 0, two), -1);  // two bands for a one-band destination
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(tagWord_, nullptr);

    res_.err = {};
    _MP_BUF_ST* one = Buffer(640, 1, 1, 0x40000001, kLocSdram);
    win_.replicationX = 2;
    EXPECT_EQ(Patch(7, 640, 0, 0, one), -1);
    win_.replicationX = 1;
    ASSERT_EQ(Patch(7, 640, 0, 0, one), 0) << Text();
    EXPECT_EQ(tagWord_, one);
    EXPECT_EQ(gtagctl_ & 0x1C000000u, 0x4000000u);
    EXPECT_EQ(gtlpitch_, 0u);  // one-line tag buffer
}

} // namespace
