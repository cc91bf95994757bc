// LUT transfer and FIFO ports: copies per page, clock switch and restore, the FIFO waits,
// the Sorvik II port and the get and set requests, against the simulated module.
#include "../lutfixture.h"

#include "hlc_errors.h"
#include "hwlock.h"
#include "reqres.h"

#include <cstring>
#include <memory>
#include <string>

using namespace cam0;
using chipsfixture::Get;
using chipsfixture::Set;
using lutfixture::ClockWords;
using lutfixture::EightBitCamera;
using lutfixture::LutTest;

namespace {

constexpr uint32_t kLut1Page = 65;
constexpr uint32_t kLut1Data = 66;
constexpr uint32_t kLut1Ctl = 67;
constexpr uint32_t kLut2Page = 73;

std::vector<uint16_t> Pages(std::initializer_list<uint32_t> pages)
{
    std::vector<uint16_t> out;
    for (uint32_t p : pages) out.push_back(static_cast<uint16_t>(p << 8));
    return out;
}

class LutPortTest : public LutTest {
protected:
    // A camera buffer on the node holding a copy of a record.
    _MP_BUF_ST* CameraBuffer(const _MP_CAM_ST_0* record)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(chipsfixture::kNode, cam0::kRecordBytes, 1, 1, 0x10000008u, kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kBufKindCamera;
        std::memcpy(Band(b, 0), record->bytes, cam0::kRecordBytes);
        return b;
    }
    static _MP_CAM_ST_0* Record(_MP_BUF_ST* camera) { return static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(camera, 0)); }

    MP_RESOURCE_ST Resource()
    {
        MP_RESOURCE_ST r{};
        r.node = chipsfixture::kNode;
        r.name = "DigLut";
        return r;
    }
};

} // namespace

// ---- copies and pages -----------------------------------------------------------------------

TEST_F(LutPortTest, KindZeroTableOf256EntriesIsWrittenAtAllThirtyTwoPages)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_LUTPROG, 1);
    mpPrvDigPut(nullptr, INFO_LUTPROG, 0xFFFFFFFFu, 1, false);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x30000, 0), 0);

    EXPECT_EQ(Values(kLut1Page), Pages({0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                        16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}));
    EXPECT_EQ(Values(kLut1Ctl), std::vector<uint16_t>(32, 0x0300));
    EXPECT_TRUE(Values(kLut2Page).empty()) << "LUT2 not selected";
    const std::vector<uint16_t> data = Values(kLut1Data);
    ASSERT_EQ(data.size(), 32u * 256 * 3);
    // Entry 1 of the ramp: band 0 low byte, band 1 high byte, band 2 low byte again.
    EXPECT_EQ(data[3], 0x0100);
    EXPECT_EQ(data[4], 0x0000);
    EXPECT_EQ(data[5], 0x0100);
    EXPECT_EQ(data[3 * 255], 0xFF00);
    for (uint32_t i = 0; i < kLutEntries; ++i) {
        ASSERT_EQ(Copy(0, 0)[i], i & 0xFF) << i;
        ASSERT_EQ(Copy(0, 1)[i], 0) << i;
        ASSERT_EQ(Copy(0, 2)[i], i & 0xFF) << i;
    }
    EXPECT_EQ(Get(cam.get(), INFO_LUTPROG), 0u);
    EXPECT_EQ(Live(INFO_LUTPROG)->value, 0u);
}

TEST_F(LutPortTest, OneCopyOnlyGoesToPageKTimesPagesSquared)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_MISC, (1u << 2) | (5u << 3));
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    EXPECT_EQ(Values(kLut1Page), Pages({5}));
    EXPECT_EQ(Values(kLut1Data).size(), 256u * 3);

    // A 10-bit table spans 4 pages: copy 3 would start at page 48, past the LUT.
    Grab().clearLog();
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    Set(cam.get(), INFO_MISC, (1u << 2) | (3u << 3));
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_TRUE(Values(kLut1Data).empty());
    EXPECT_TRUE(Values(grabregs::DIG_GRABCTL).empty()) << "refused before any register changes";
}

TEST_F(LutPortTest, ModeOneEightBitTableIsWrittenOnceAtPage29)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_LUTPAL, 1u << 13);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    EXPECT_EQ(Values(kLut1Page), Pages({29}));
    const std::vector<uint16_t> data = Values(kLut1Data);
    ASSERT_EQ(data.size(), 256u * 3);
    EXPECT_EQ(data[3 * 200], 200u << 8) << "band 0 takes the ramp";
    EXPECT_EQ(Copy(0, 0)[29 * 256 + 200], 200);
    EXPECT_EQ(Copy(0, 1)[29 * 256 + 200], 0) << "unselected bands re-send their stored byte";
}

TEST_F(LutPortTest, TenBitRampHoldsLowAndHighBytesOfEachEntry)
{
    auto cam = EightBitCamera();
    Set(cam.get(), INFO_BITSPERLOGCH, 10);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    EXPECT_EQ(Values(kLut1Page), Pages({0, 4, 8, 12, 16, 20, 24, 28}));
    for (uint32_t i : {0u, 255u, 256u, 700u, 1023u}) {
        EXPECT_EQ(Copy(0, 0)[i], i & 0xFF) << i;
        EXPECT_EQ(Copy(0, 1)[i], i >> 8) << i;
        EXPECT_EQ(Copy(0, 0)[7 * 1024 + i], i & 0xFF) << "last copy " << i;
    }
}

TEST_F(LutPortTest, FifoWriteFromPage31IsClampedToTheLutEnd)
{
    std::vector<uint8_t> source(512, 0x5A);
    _MP_LUT_INFO info{};
    info.count = 512;
    info.stride = 1;
    info.lutSelect = 1;
    info.lut1Page = 31;
    info.lut1Mask = 1;
    info.lut1Band[0] = source.data();
    info.copyArea = mpPrvLutCopyArea();
    ASSERT_NE(info.copyArea, nullptr);
    ASSERT_EQ(mp_dig_lut1_write(nullptr, &info, 0), 0);
    EXPECT_EQ(Values(kLut1Data).size(), 256u * 3);
    EXPECT_EQ(Copy(0, 0)[8191], 0x5A);

    info.lut1Page = 32;
    EXPECT_EQ(mp_dig_lut1_write(nullptr, &info, 0), -1) << "a start past the end";
    info.lut1Page = 0;
    info.lut1Band[0] = nullptr;
    EXPECT_EQ(mp_dig_lut1_write(nullptr, &info, 0), -1) << "a selected band without an address";
}

TEST_F(LutPortTest, NoTransferWithModuleOutputsOffOrAnEmptyTable)
{
    auto cam = EightBitCamera();
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), 0);
    std::vector<uint8_t> ramp(256);
    info.lut1Band[0] = info.lut1Band[1] = info.lut1Band[2] = ramp.data();
    info.count = 0;
    EXPECT_EQ(mp_dig_lut_access(cam.get(), &info, 0, 0), -1) << "count 0";
    info.count = 256;
    mpPrvDigPut(nullptr, DIG_GPCTL, 0xFFFF, 0x0004);
    EXPECT_EQ(mp_dig_lut_access(cam.get(), &info, 0, 0), -1) << "outputs off";
    EXPECT_TRUE(Values(kLut1Data).empty());
}

TEST_F(LutPortTest, NodeWithoutCopyAreaIsRefused)
{
    auto cam = EightBitCamera();
    chipsfixture::Record().orloState = nullptr;
    EXPECT_EQ(mpPrvLutCopyArea(), nullptr);
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    chipsfixture::Record().orloState = chipsfixture::State().data();
    EXPECT_TRUE(Values(kLut1Data).empty());
}

// ---- clocks and registers around a transfer --------------------------------------------------

TEST_F(LutPortTest, ClockWordsSwitchAroundATransferAndTheRecordClocksReturn)
{
    auto cam = EightBitCamera();
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    const std::vector<uint32_t> expected = {0x646D0D, 0x046C8D, mp_dig_calc_icd2061(3, 40000, 0) & 0xFFFFFF,
                                            mp_dig_calc_icd2061(0, 10000, 0) & 0xFFFFFF};
    EXPECT_EQ(ClockWords(), expected);
    EXPECT_EQ(Live(INFO_GRBSYSCLK)->value, 40000000u);
    EXPECT_EQ(Live(INFO_USRCLK0)->value, 10000000u);
    EXPECT_EQ(Live(kGrbSysClkWordSlot)->value, mp_dig_calc_icd2061(3, 40000, 0));
    EXPECT_EQ(Live(kUsrClkWordSlot)->value, mp_dig_calc_icd2061(0, 10000, 0));
    // During the transfer DIG_GRABCTL takes clock source 1 without the PLL; then the record's.
    const std::vector<uint16_t> grab = Values(grabregs::DIG_GRABCTL);
    ASSERT_GE(grab.size(), 3u);
    EXPECT_EQ(grab[1] & 0xF000, 0x1000);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL), Get(cam.get(), DIG_GRABCTL));
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRCCFG) & 0x6000, 0u) << "port access closed again";
}

TEST_F(LutPortTest, DeferredProgrammingWithThePllRunningKeepsTheClocks)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_LUTPAL, 1u << 13);
    _MP_LUT_INFO info{};
    ASSERT_EQ(mp_dig_lut_info(cam.get(), &info, 0x10000), 0);
    std::vector<uint8_t> ramp(256, 1);
    info.lut1Band[0] = ramp.data();
    // Access mode 1 with the PLL in use and no programming mark: no clock switch.  The PLL
    // restart that follows finds no clock in the simulated module and fails.
    Set(cam.get(), DIG_GRABCTL, 0x8000);
    NoPixelClock();
    EXPECT_EQ(mp_dig_lut_access(cam.get(), &info, 0, 1), -1);
    for (uint32_t w : ClockWords()) EXPECT_NE(w, 0x646D0Du) << "no switch to the port clock";
    EXPECT_EQ(Values(kLut1Data).size(), 256u * 3) << "the table itself went in";
}

TEST_F(LutPortTest, PortsWithoutFastInterfaceRefreshTheUserClockEveryPage)
{
    auto cam = EightBitCamera();
    Answer(70, 0x0000);
    const double start = mp_time_clock(0.0);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    const std::vector<uint32_t> words = ClockWords();
    ASSERT_EQ(words.size(), 2u + 32u + 2u);
    for (size_t i = 2; i < 34; ++i) EXPECT_EQ(words[i], 0x046C8Du) << i;
    EXPECT_GE(mp_time_clock(start), 32 * 0.01) << "a pause after each refreshed copy";
}

TEST_F(LutPortTest, AlternatePortRaisesThePsgFlagOnlyForTheTransfer)
{
    auto cam = EightBitCamera();
    Answer(70, 0x4000);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    const std::vector<uint16_t> psg = Values(grabregs::DIG_PSGCFG);
    ASSERT_EQ(psg.size(), 2u);
    EXPECT_EQ(psg[0] & 0x8000, 0x8000);
    EXPECT_EQ(psg[1] & 0x8000, 0);
    EXPECT_EQ(Get(cam.get(), DIG_PSGCFG) & 0x8000, 0u);
}

TEST_F(LutPortTest, InputClockFourIsSwitchedToOneAndBack)
{
    auto cam = EightBitCamera();
    mpPrvDigPut(nullptr, DIG_DICTL, 0xFFFF, 0x0081, false);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    EXPECT_EQ(Values(grabregs::DIG_DICTL), (std::vector<uint16_t>{0x0021, 0x0081}));
}

TEST_F(LutPortTest, FailedLockAfterTheTransferStillRestoresDictlAndPsg)
{
    auto cam = EightBitCamera();
    Set(cam.get(), DIG_GRABCTL, 0x8000);
    Set(cam.get(), INFO_SPIXCLK, 13500000);
    mpPrvDigPut(nullptr, DIG_DICTL, 0xFFFF, 0x0080, false);
    Answer(70, 0x4100);
    NoPixelClock();
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(Grab().reg(grabregs::DIG_DICTL), 0x0080);
    EXPECT_EQ(Grab().reg(grabregs::DIG_PSGCFG) & 0x8000, 0);
    EXPECT_EQ(Get(cam.get(), DIG_PSGCFG) & 0x8000, 0u);
}

// ---- FIFO waits ------------------------------------------------------------------------------------

TEST_F(LutPortTest, WriteFifoThatNeverDrainsFailsAfterItsPolls)
{
    auto cam = EightBitCamera();
    Answer(68, 0x0400);
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(Values(kLut1Page), Pages({0})) << "the first copy fails, the others are skipped";
    EXPECT_EQ(Values(kLut1Data).size(), 64u * 3);
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRCCFG) & 0x6000, 0u) << "restored after the failure";
    EXPECT_EQ(ClockWords().size(), 4u) << "clocks restored too";
}

TEST_F(LutPortTest, WriteFifoStatusIsPolledAtMost1023Times)
{
    auto cam = EightBitCamera();
    auto reads = std::make_shared<uint32_t>(0);
    boardsim::BoardSim::instance().setReadFilter([reads](const boardsim::HwAccess& a) -> uint32_t {
        if (a.area != boardsim::HwArea::PrimaryPort || a.op != boardsim::HwOp::Read) return a.value;
        if (a.offset == 70 * 16 + 8) return 0x01;
        if (a.offset == 68 * 16) ++*reads;
        return a.offset == 68 * 16 + 8 ? 0x04 : a.value;
    });
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(*reads, kLutWritePolls);
}

TEST_F(LutPortTest, ReadFifoWaitEndsAfterFiveSeconds)
{
    Answer(68, 0x0400);
    const double start = mp_time_clock(0.0);
    EXPECT_EQ(mp_dig_lut1_fifo_empty(), 1);
    const double waited = mp_time_clock(start);
    EXPECT_GE(waited, 5.0);
    EXPECT_LT(waited, 5.5);
    Answer(68, 0x0000);
    EXPECT_EQ(mp_dig_lut1_fifo_empty(), 0);
}

TEST_F(LutPortTest, FifoReadTakesTheHighBytesOfSelectedBandsClampedToTheEnd)
{
    Answer(kLut1Data, 0xA700);
    std::vector<uint8_t> band0(512, 0), band2(512, 0);
    _MP_LUT_INFO info{};
    info.count = 512;
    info.stride = 1;
    info.lut1Page = 31;
    info.lut1Mask = 5;
    info.lut1Band[0] = band0.data();
    info.lut1Band[2] = band2.data();
    ASSERT_EQ(mp_dig_lut1_read(nullptr, &info), 0);
    EXPECT_EQ(band0[255], 0xA7);
    EXPECT_EQ(band2[255], 0xA7);
    EXPECT_EQ(band0[256], 0) << "clamped to 256 entries";
    EXPECT_EQ(Values(71).size(), 1u) << "read control set once before the data";
}

// ---- Sorvik II port --------------------------------------------------------------------------------

TEST_F(LutPortTest, SorvikTwoTransferUsesItsOwnClockAndPort)
{
    auto cam = EightBitCamera();
    Set(cam.get(), SORVIK2_FLAG, 2);
    Set(cam.get(), SORVIK2_CONTROL, 0x0060);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    const std::vector<uint32_t> words = ClockWords();
    ASSERT_GE(words.size(), 2u);
    EXPECT_EQ(words[0], 0x717120u);
    EXPECT_EQ(words[1], 0x046C8Du);
    EXPECT_EQ(Values(grabregs::kSorvikControl), (std::vector<uint16_t>{0x0010, 0x0060}));
    const std::vector<uint16_t> data = Values(57);
    ASSERT_EQ(data.size(), 256u);
    EXPECT_EQ(data[77] & 0xFF, 77);
    EXPECT_EQ(Grab().reg(59) & 0x7, 3) << "8-bit width mode";
    EXPECT_EQ(Grab().reg(60) & 0x7, 0x4) << "idle, no direction";
    EXPECT_EQ(Get(cam.get(), INFO_LUTPROG), 0u);
}

TEST_F(LutPortTest, SorvikTwoPortRestoresItsPageBeforeGoingIdle)
{
    auto cam = EightBitCamera();
    Set(cam.get(), SORVIK2_FLAG, 2);
    boardsim::BoardSim::instance().setTracing(true);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    size_t page = 0, control = 0, at = 0;
    for (const auto& a : boardsim::BoardSim::instance().trace()) {
        ++at;
        if (a.op != boardsim::HwOp::Write || a.area != boardsim::HwArea::PrimaryPort) continue;
        if (a.offset == 58 * 16) page = at;
        if (a.offset == 60 * 16) control = at;
    }
    EXPECT_LT(page, control) << "register 58 written, then register 60";
    boardsim::BoardSim::instance().setTracing(false);
}

TEST_F(LutPortTest, SorvikTwoBandThatKeepsAskingForRepeatFails)
{
    auto cam = EightBitCamera();
    Set(cam.get(), SORVIK2_FLAG, 34);
    Answer(60, 0x0008);
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(Values(57).size(), 3u * 256) << "three attempts, then the band fails";
}

// ---- get and set requests ---------------------------------------------------------------------------

TEST_F(LutPortTest, GetFillsTheBuffersBandsFromTheLut)
{
    auto cam = EightBitCamera();
    _MP_BUF_ST* camera = CameraBuffer(cam.get());
    _MP_BUF_ST* lut = LutBuffer(256, 3, 8);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(lut, nullptr);
    Answer(kLut1Data, 0x3C00);
    MP_RESOURCE_ST res = Resource();
    mpDigLutGet_Std(&res, nullptr, camera, lut, 7, 0, 256);
    EXPECT_EQ(res.err.code, 0);
    for (uint32_t b = 0; b < 3; ++b) EXPECT_EQ(Band(lut, b)[100], 0x3C) << b;
    EXPECT_EQ(Values(kLut1Page).size(), 32u) << "a kind-0 request follows the copy rule";
}

// A band mask that leaves bands out moves only the selected bands between the buffer and
// the LUT; the others are sent again from the copy area.
TEST_F(LutPortTest, GetOrSetOfFewerThanThreeBandsMovesOnlyTheSelectedBands)
{
    auto cam = EightBitCamera();
    _MP_BUF_ST* camera = CameraBuffer(cam.get());
    _MP_BUF_ST* lut = LutBuffer(256, 1, 8);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(lut, nullptr);
    Answer(kLut1Data, 0x3C00);
    MP_RESOURCE_ST res = Resource();
    mpDigLutGet_Std(&res, nullptr, camera, lut, 1, 0, 256);
    EXPECT_EQ(res.err.code, 0);
    EXPECT_EQ(Band(lut, 0)[100], 0x3C);

    for (uint32_t i = 0; i < 256; ++i) Band(lut, 0)[i] = static_cast<uint8_t>(255 - i);
    for (int band : {0, 2}) std::memset(const_cast<uint8_t*>(Copy(0, band)), 7, kLutEntries);
    Set(Record(camera), INFO_LUTBUFID, lut->id);
    MP_RESOURCE_ST res2 = Resource();
    mpDigLutSet_Std(&res2, nullptr, camera, nullptr, 2, 0, 256, 1);
    EXPECT_EQ(res2.err.code, 0);
    EXPECT_EQ(Copy(0, 1)[1], 254) << "band 1 from the buffer";
    EXPECT_EQ(Copy(0, 1)[8191], 0) << "in every copy";
    EXPECT_EQ(Copy(0, 0)[1], 7) << "band 0 kept";
    const std::vector<uint16_t> data = Values(kLut1Data);
    ASSERT_EQ(data.size(), 32u * 256 * 3);
    EXPECT_EQ(data[3], 0x0700) << "entry 1, band 0 sent again from the copy area";
    EXPECT_EQ(data[4], 0xFE00) << "entry 1, band 1 from the buffer";
}

TEST_F(LutPortTest, SetModeOneWritesTheCamerasOwnBufferWithinItsSize)
{
    auto cam = EightBitCamera();
    _MP_BUF_ST* camera = CameraBuffer(cam.get());
    _MP_BUF_ST* lut = LutBuffer(512, 1, 8);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(lut, nullptr);
    for (uint32_t i = 0; i < 512; ++i) Band(lut, 0)[i] = static_cast<uint8_t>(255 - (i & 0xFF));
    Set(Record(camera), INFO_LUTBUFID, lut->id);
    MP_RESOURCE_ST res = Resource();
    mpDigLutSet_Std(&res, nullptr, camera, nullptr, 7, 0, 8192, 1);
    EXPECT_EQ(res.err.code, 0);
    EXPECT_EQ(Values(kLut1Page).size(), 16u) << "512 entries (the buffer's size) at every second page";
    EXPECT_EQ(Copy(0, 0)[8191], 0);
    EXPECT_EQ(Copy(0, 0)[1], 254);
}

TEST_F(LutPortTest, SetOtherModesReprogramsTheWholeLut)
{
    auto cam = EightBitCamera();
    _MP_BUF_ST* camera = CameraBuffer(cam.get());
    _MP_BUF_ST* lut = LutBuffer(256, 1, 8);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(lut, nullptr);
    MP_RESOURCE_ST res = Resource();
    mpDigLutSet_Std(&res, nullptr, camera, lut, 0, 0, 0, 0);
    EXPECT_EQ(res.err.code, 0);
    EXPECT_EQ(Values(kLut1Page), Pages({29})) << "8-bit camera, no destination: mode 1";
}

TEST_F(LutPortTest, RequestsRefuseBadBuffersAndEmptyRanges)
{
    auto cam = EightBitCamera();
    _MP_BUF_ST* camera = CameraBuffer(cam.get());
    _MP_BUF_ST* lut = LutBuffer(256, 3, 8);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(lut, nullptr);
    MP_RESOURCE_ST res = Resource();
    mpDigLutGet_Std(&res, nullptr, lut, lut, 7, 0, 256);
    EXPECT_EQ(res.err.code, HLC_ERR_INVALID_BUFFER);
    res = Resource();
    mpDigLutGet_Std(&res, camera, camera, lut, 7, 0, 256);
    EXPECT_EQ(res.err.code, HLC_ERR_INVALID_BUFFER) << "a digitizer given must be one";
    res = Resource();
    mpDigLutGet_Std(&res, nullptr, camera, lut, 7, 0, 0);
    EXPECT_EQ(res.err.code, HLC_ERR_INVALID_PARAMETER) << "count 0";
    res = Resource();
    mpDigLutSet_Std(&res, nullptr, camera, lut, 7, 8192, 256, 1);
    EXPECT_EQ(res.err.code, HLC_ERR_INVALID_BUFFER) << "mode 1 without the camera's own buffer";
    Set(Record(camera), INFO_LUTBUFID, lut->id);
    res = Resource();
    mpDigLutSet_Std(&res, nullptr, camera, nullptr, 7, 8192, 256, 1);
    EXPECT_EQ(res.err.code, HLC_ERR_INVALID_PARAMETER) << "start past the LUT";
    EXPECT_TRUE(Values(kLut1Data).empty());
}

// ---- against the module's LUT memories --------------------------------------------------------------

namespace {

class LutMemoryTest : public LutPortTest {
protected:
    void SetUp() override
    {
        LutPortTest::SetUp();
        boardsim::BoardSim::instance().setReadFilter(nullptr);  // the module answers itself
    }
};

class SorvikMemoryTest : public LutMemoryTest {
protected:
    SorvikMemoryTest() { moduleType_ = 34; }
};

} // namespace

TEST_F(LutMemoryTest, RampReachesEveryEntryOfTheSelectedBands)
{
    auto cam = EightBitCamera();
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x30000, 2), 0);
    const std::vector<uint8_t> b0 = Grab().lutBand(1, 0), b1 = Grab().lutBand(1, 1), b2 = Grab().lutBand(1, 2);
    ASSERT_EQ(b0.size(), kLutEntries);
    for (uint32_t i = 0; i < kLutEntries; ++i) {
        ASSERT_EQ(b0[i], i & 0xFF) << i;
        ASSERT_EQ(b1[i], 0) << i;
        ASSERT_EQ(b2[i], i & 0xFF) << i;
    }
    EXPECT_EQ(Grab().lutEntriesWritten(2), 0u);
    EXPECT_EQ(Grab().lutStrays(1), 0u);
}

TEST_F(LutMemoryTest, ReadBackReturnsWhatTheMemoryHolds)
{
    for (uint32_t i = 0; i < 256; ++i) Grab().setLut(2, 1, 31 * 256 + i, static_cast<uint8_t>(i ^ 0x55));
    mpPrvDigPut(nullptr, DIG_SRCCFG, 0xFFFF, 0x6000);
    std::vector<uint8_t> band1(512, 0);
    _MP_LUT_INFO info{};
    info.count = 512;
    info.stride = 1;
    info.lut2Page = 31;
    info.lut2Mask = 2;
    info.lut2Band[1] = band1.data();
    ASSERT_EQ(mp_dig_lut2_read(nullptr, &info), 0);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(band1[i], i ^ 0x55) << i;
    EXPECT_EQ(Grab().lutStrays(2), 0u) << "the read stops at the LUT's end";
}

TEST_F(LutMemoryTest, MemoryThatNeverDrainsFailsTheProgramming)
{
    auto cam = EightBitCamera();
    Grab().setLutNeverDrains(true, 1);
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(Grab().lutEntriesWritten(1), 0u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_SRCCFG) & 0x6000, 0u);
}

TEST_F(SorvikMemoryTest, RepeatedBandsAreWrittenAgainAndEndlessRepeatsFail)
{
    auto cam = EightBitCamera();
    Set(cam.get(), SORVIK2_FLAG, 34);
    Grab().setSorvikRepeatRequests(1);
    ASSERT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), 0);
    EXPECT_EQ(Grab().sorvikRepeatRequests(), 1u);
    for (uint32_t i : {0u, 1u, 128u, 255u}) EXPECT_EQ(Grab().sorvikLut(0, i), static_cast<int>(i)) << i;

    Grab().setSorvikRepeatRequests(-1);
    EXPECT_EQ(mp_dig_prog_lut(cam.get(), nullptr, 0x10000, 0), -1);
    EXPECT_EQ(Grab().sorvikControl(), 0) << "control word back to the record's";
}
