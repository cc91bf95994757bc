// Programming of bus-master transfers without a node: the host start phases, the PCI
// corrections, the pixel format, the three-band start, the field checks with their texts,
// the window of one side, the whole register image of a board-to-host window and the
// scatter-gather list of a host band, each against values worked out by hand from the
// rules.
#include "vmprog.h"

#include "hlc_wiring.h"
#include "intserver.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "pcicopy.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "regaccess.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace vmreg;

constexpr uint32_t kBoardBus = 0x03C00000u;
constexpr uint32_t kHostBus = 0x07F80000u;

// A descriptor built by hand: one band at the given bus address.
struct Buffer {
    _MP_BUF_ST d{};
    _MP_BAND_ST bands[4]{};
    std::vector<_MP_FIELD_ST> fields;

    Buffer(int32_t x, int32_t y, uint32_t type, uint32_t location, uint32_t bus, uint32_t pitch = 0,
           uint32_t count = 1)
    {
        d.node = 0x11;
        d.type = type;
        d.kind = kBufKindImage;
        d.sizeX = x;
        d.sizeY = y;
        d.bits = type & 255;
        d.bands = count;
        d.location = location;
        d.pitch = pitch ? pitch : static_cast<uint32_t>(x) * (d.bits >= 8 ? d.bits / 8 : 1);
        for (uint32_t i = 0; i < count; ++i) bands[i].physical = bus + i * d.pitch * static_cast<uint32_t>(y);
        d.bandTable = bands;
        fields.reserve(8);
    }
    // Keyed fields in list order.
    void Field(uint32_t key, double value)
    {
        fields.push_back(_MP_FIELD_ST{});
        fields.back().key = key;
        std::memcpy(fields.back().value, &value, sizeof value);
        for (size_t i = 0; i + 1 < fields.size(); ++i) fields[i].link = &fields[i + 1];
        d.fieldList = fields.data();
    }
};

class XferProgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&record_, 0, sizeof record_);
        resource_ = MP_RESOURCE_ST{};
        record_.resource = &resource_;
        record_.direct = 1;
        record_.b(blk::kRecvModeX) = record_.b(blk::kRecvModeY) = 1;
        record_.b(blk::kSendFactorX) = record_.b(blk::kRecvFactorX) = 1;
        std::memset(&image_, 0, sizeof image_);
    }
    void Sides(_MP_BUF_ST* self, _MP_BUF_ST* other, _MP_BUF_ST* control, int side)
    {
        record_.thisBuf = self;
        record_.otherBuf = other;
        record_.controlA = record_.controlB = record_.control1 = record_.control2 = control;
        record_.source = side == 2 ? self : other;
        record_.destination = side == 2 ? other : self;
    }
    int32_t Code() const { return resource_.err.code; }
    std::string Text() const { return resource_.err.message ? resource_.err.message : ""; }

    MP_RESOURCE_ST resource_{};
    _CPYPARAM record_;
    CopyImage image_;
    std::vector<uint32_t> list_;

    HwRegCtrl_ST control_{};
    HwRegCtrl_ST* savedControl_ = HwRegCtrl;
    void TearDown() override { HwRegCtrl = savedControl_; }

    // The list memory the engine would play: the test's own, as the selected Orlo's VM list.
    void GiveList(uint32_t entries)
    {
        list_.assign(2 * entries, 0xDEADDEADu);
        const uint32_t start = ListAddress();
        control_ = HwRegCtrl_ST{};
        control_.vmList[0] = ARPInfo_ST{start, start + 8 * (entries - 1), start, entries, 0};
        control_.vm = &control_.vmList[0];
        HwRegCtrl = &control_;
    }
    uint32_t ListAddress() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(list_.data())); }
};

TEST_F(XferProgTest, HostStartPhasesBecomeCorrectionsByPixelSize)
{
    Buffer board(64, 4, 8, kLocSdram, kBoardBus);
    Buffer host(64, 4, 8, kLocHostDma, kHostBus + 1);
    Sides(&board.d, &host.d, nullptr, 2);
    DMATX_ST p{};
    uint32_t address = 0, pitch = 0;
    // One-byte pixels one byte into a word: one unit ahead, its byte masked.
    ASSERT_EQ(calcHfstart(&record_, &p, kKindPciSend, &address, &pitch), 0);
    EXPECT_EQ(address, kHostBus + 1);
    EXPECT_EQ(pitch, 64u);
    EXPECT_EQ(p.stop, 1);
    EXPECT_EQ(p.host, 1);
    EXPECT_EQ(p.board, 1);
    EXPECT_EQ(p.start, 1);
    // Receiving: the start counts the skipped unit and the board start stays.
    p = DMATX_ST{};
    ASSERT_EQ(calcHfstart(&record_, &p, kKindPciReceive, &address, &pitch), 0);
    EXPECT_EQ(p.start, 1);
    EXPECT_EQ(p.board, 0);

    // Two-byte pixels two bytes into a word: one pixel, mask 3, board back two bytes.
    Buffer board16(64, 4, 16, kLocSdram, kBoardBus);
    Buffer host16(64, 4, 16, kLocHostDma, kHostBus + 2);
    Sides(&board16.d, &host16.d, nullptr, 2);
    p = DMATX_ST{};
    ASSERT_EQ(calcHfstart(&record_, &p, kKindPciSend, &address, &pitch), 0);
    EXPECT_EQ(p.host, 1);
    EXPECT_EQ(p.start, 3);
    EXPECT_EQ(p.board, 2);

    // Refused: a two-byte pixel one byte in, and a pitch that is no multiple of 4.
    Buffer odd16(64, 4, 16, kLocHostDma, kHostBus + 1);
    Sides(&board16.d, &odd16.d, nullptr, 2);
    EXPECT_EQ(calcHfstart(&record_, &p, kKindPciSend, &address, &pitch), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    resource_.err = _MSG_ERR_ST{};
    Buffer narrow(511, 4, 16, kLocHostDma, kHostBus, 1022);
    Sides(&board16.d, &narrow.d, nullptr, 2);
    EXPECT_EQ(calcHfstart(&record_, &p, kKindPciSend, &address, &pitch), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(XferProgTest, PciCorrectionsAlignTheStartAndChooseBursts)
{
    XferWindow w{};
    // A board line starting on an 8-byte boundary, host start aligned: a whole word ahead.
    Buffer board(100, 4, 8, kLocSdram, kBoardBus);
    Buffer host(100, 4, 8, kLocHostDma, kHostBus, 100);
    Sides(&board.d, &host.d, nullptr, 2);
    w.address[0] = kBoardBus;
    DMATX_ST p{};
    PatchPCI(&record_, &p, &w, 2, 0, kHostBus);
    EXPECT_EQ(p.board, 4);
    EXPECT_EQ(p.stop, 4);
    EXPECT_EQ(p.host, 4);
    EXPECT_EQ(p.start, 0x0F);
    // Line end 100 + 4 = 0x68 lies in 0x15-0x90: burst 4.
    EXPECT_EQ(p.burst, 4);

    // A start one byte into the host word and board phase 1: with calcHfstart's one byte
    // the phase becomes 0, and the whole word is added on top.
    p = DMATX_ST{1, 1, 1, 1, 0};
    w.address[0] = kBoardBus + 1;
    PatchPCI(&record_, &p, &w, 2, 0, kHostBus + 1);
    EXPECT_EQ(p.board, 5);
    EXPECT_EQ(p.stop, 5);
    EXPECT_EQ(p.host, 5);
    EXPECT_EQ((kHostBus + 1 - static_cast<uint32_t>(p.host)) % 4, 0u) << "the phase is taken once: on a word";
    EXPECT_EQ(p.start, 0x1F);

    // A line end of 512 + 4 bytes (phase 4) takes no burst code.
    Buffer wide(512, 4, 8, kLocSdram, kBoardBus);
    Buffer wideHost(512, 4, 8, kLocHostDma, kHostBus);
    Sides(&wide.d, &wideHost.d, nullptr, 2);
    w.address[0] = kBoardBus;
    p = DMATX_ST{};
    PatchPCI(&record_, &p, &w, 2, 0, kHostBus);
    EXPECT_EQ(p.burst, 0);

    // Mirrored horizontally: the board correction runs backwards.
    Buffer control(1, 1, 8, kLocSdram, 0);
    control.Field(10001, 2.0);
    Sides(&board.d, &host.d, &control.d, 2);
    SetUp();
    Sides(&board.d, &host.d, &control.d, 2);
    p = DMATX_ST{};
    PatchPCI(&record_, &p, &w, 2, 0, kHostBus);
    EXPECT_EQ(record_.b(blk::kSendMirrorX), 1);
    EXPECT_EQ(p.board, -4);
    EXPECT_EQ(p.stop, 4);
    EXPECT_EQ(p.start, 0x0F);

    // Plain PCI (16-bit pixels on both sides, unscaled): the pixel counts as one byte for
    // the word ahead, and the line ends at size X x 2 bytes: 100 x 2 + 4 = 0xCC, in
    // 0xB5-0x128: burst 4.
    SetUp();
    Buffer board16(100, 4, 16, kLocSdram, kBoardBus);
    Buffer host16(100, 4, 16, kLocHostDma, kHostBus, 200);
    Sides(&board16.d, &host16.d, nullptr, 2);
    w.address[0] = kBoardBus;
    p = DMATX_ST{};
    PatchPCI(&record_, &p, &w, 2, 0, kHostBus);
    EXPECT_EQ(record_.b(blk::kPlainPci), 1);
    EXPECT_EQ(p.board, 4);
    EXPECT_EQ(p.stop, 4);
    EXPECT_EQ(p.burst, 4);
}

// A scaled sending side takes its burst from the board phase for every pixel type: 32-bit
// pixels at phase 0 get burst 4 from board memory and 3 from display memory.
TEST_F(XferProgTest, AScaledSenderTakesItsBurstFromTheBoardPhaseForEveryPixelType)
{
    const struct {
        uint32_t location;
        int32_t burst;
    } cases[] = {{kLocSdram, 4}, {kLocDisplay0, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        SetUp();
        Buffer control(1, 1, 8, kLocSdram, 0);
        control.Field(10005, 2.0);
        Buffer self(128, 4, 32, c.location, kBoardBus);
        Buffer host(128, 4, 32, kLocHostDma, kHostBus, 512);
        Sides(&self.d, &host.d, &control.d, 2);
        XferWindow w{};
        w.address[0] = kBoardBus;
        DMATX_ST p{};
        PatchPCI(&record_, &p, &w, 2, 0, kHostBus);
        EXPECT_EQ(record_.b(blk::kSendFactorX), 2);
        EXPECT_EQ(p.burst, c.burst);
    }
}

TEST_F(XferProgTest, PixelFormatWordsAndTheirRefusals)
{
    Buffer one(64, 4, 8, kLocSdram, kBoardBus);
    Buffer three(64, 4, 8, kLocSdram, kBoardBus, 0, 3);
    Buffer wide(64, 4, 16, kLocSdram, kBoardBus);
    Buffer host(64, 4, 8, kLocHostDma, kHostBus);
    Buffer host3(64, 4, 8, kLocHostDma, kHostBus, 0, 3);
    uint32_t mode = 0;
    Sides(&one.d, &host.d, nullptr, 2);
    ASSERT_EQ(vmPixFormat(&record_, 2, kUnset, &mode), 0);
    EXPECT_EQ(mode, 0u);
    Sides(&three.d, &host3.d, nullptr, 2);
    mode = 0;
    ASSERT_EQ(vmPixFormat(&record_, 2, kUnset, &mode), 0);
    EXPECT_EQ(mode, 0x20u) << "three bands of one byte";
    Buffer wideHost(64, 4, 16, kLocHostDma, kHostBus);
    Sides(&wide.d, &wideHost.d, nullptr, 2);
    mode = 0;
    ASSERT_EQ(vmPixFormat(&record_, 2, kUnset, &mode), 0);
    EXPECT_EQ(mode, 1u);
    // A one-band receiver of a three-band copy counts as code 5.
    Sides(&one.d, &host3.d, nullptr, 1);
    mode = 0;
    ASSERT_EQ(vmPixFormat(&record_, 1, kUnset, &mode), 0);
    EXPECT_EQ(mode & 7, 5u);
    // Packing selector 1 on a one-band sending side: -8.
    Sides(&one.d, &host.d, nullptr, 2);
    mode = 0;
    EXPECT_EQ(vmPixFormat(&record_, 2, 1, &mode), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
}

TEST_F(XferProgTest, ThreeBandStartCorrectionMovesTheHostStartOrHandsAFlagOn)
{
    image_[kTiming] = kKindPciReceive << kKindShift;
    image_[kHStart] = 2;
    image_[kHStop] = 100;
    image_[kFormat] = 0x20;
    image_[kHostStart] = 0x100;
    PatchRGB(&record_, &image_);
    EXPECT_EQ(image_[kHostStart], 0x100u - 12);
    EXPECT_EQ(image_[kHStart], 6u);
    EXPECT_EQ(image_[kHStop], 104u);
    EXPECT_EQ(record_.threeBand, 0u);

    // A receiving VM side sets the flag; the sending side then moves its board start back.
    image_[kTiming] = 0;
    image_[kHStart] = 2;
    image_[kHStop] = 100;
    PatchRGB(&record_, &image_);
    EXPECT_EQ(image_[kHStart], 3u);
    EXPECT_EQ(image_[kHStop], 101u);
    EXPECT_EQ(record_.threeBand, 1u);
    image_[kTiming] = kKindPciSend << kKindShift;
    image_[kHStart] = 0;
    image_[kBoardStart] = 0x1000;
    PatchRGB(&record_, &image_);
    EXPECT_EQ(image_[kBoardStart], 0x1000u - 1) << "three bands of one byte: back by one";
    EXPECT_EQ(image_[kHStop], 102u);
    EXPECT_EQ(record_.threeBand, 0u);
}

TEST_F(XferProgTest, TheFirstUnacceptableFieldIsNamedByItsNumber)
{
    Buffer board(640, 480, 8, kLocSdram, kBoardBus);
    Buffer host(640, 480, 8, kLocHostDma, kHostBus);
    Buffer control(1, 1, 8, kLocSdram, 0);
    control.Field(10005, 17.0);
    control.Field(10002, 7.0);
    Sides(&board.d, &host.d, &control.d, 2);
    EXPECT_EQ(vmUpdtSh(&record_, 0, 2, &image_), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), "A non-buffer parameter was invalid or unacceptable, errno: 6");

    Buffer other(1, 1, 8, kLocSdram, 0);
    other.Field(10002, 7.0);
    other.Field(10005, 17.0);
    SetUp();
    Sides(&board.d, &host.d, &other.d, 2);
    EXPECT_EQ(vmUpdtSh(&record_, 0, 2, &image_), -1);
    EXPECT_EQ(Text(), "A non-buffer parameter was invalid or unacceptable, errno: 3");
    // The texts stay: each error record keeps its own.
    EXPECT_STREQ(XferFieldText(6), "A non-buffer parameter was invalid or unacceptable, errno: 6");
    EXPECT_NE(XferFieldText(6), XferFieldText(3));
}

TEST_F(XferProgTest, TheRegisterImageOfABoardToHostWindow)
{
    // 640 x 480 8-bit board buffer on an 8-byte boundary into aligned host DMA memory.
    Buffer board(640, 480, 8, kLocSdram, kBoardBus);
    Buffer host(640, 480, 8, kLocHostDma, kHostBus);
    Sides(&board.d, &host.d, nullptr, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    // The whole word ahead of the line: host and board back by 4, four bytes masked.
    EXPECT_EQ(image_[kHostStart], kHostBus - 4);
    EXPECT_EQ(image_[kHostPage], 0u);
    EXPECT_EQ(image_[kHostPitch], 640u);
    EXPECT_EQ(image_[kBoardStart], kBoardBus - 4);
    EXPECT_EQ(image_[kBoardPitch], 640u);
    EXPECT_EQ(image_[kHStart], 0x0Fu);
    EXPECT_EQ(image_[kHStop], 639u + 4);
    EXPECT_EQ(image_[kVStart], 0u);
    EXPECT_EQ(image_[kVStop], 479u);
    EXPECT_EQ(image_[kFormat], 0u);
    EXPECT_EQ(image_[kWriteMask], 0xFFFFFFu);
    // Line end 644 = 0x84 mod 512: burst 4.
    EXPECT_EQ(image_[kBurst], 4u);
    // 0x80000, kind 4, count mode 6, one transfer, field bit 16.
    EXPECT_EQ(image_[kTiming], 0x80000u | 0x400u | 0xC0u | 0x4u | 0x10000u);
    EXPECT_EQ(Code(), 0);
}

TEST_F(XferProgTest, TheOrlosVmSyncObjectTakesTheFrameCountAndTheLineInterrupt)
{
    Buffer board(640, 480, 8, kLocSdram, kBoardBus);
    Buffer host(640, 480, 8, kLocHostDma, kHostBus);
    VmSyncObject* sync = XferVmSync(board.d.node, 0);
    // No control fields: no frame count, no line interrupt, no copy synchronisation.
    Sides(&board.d, &host.d, nullptr, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(sync->frames, kUnset);
    EXPECT_EQ(sync->countMode, 0u);
    EXPECT_EQ(sync->selector, -1);
    EXPECT_EQ(image_[kLine], 0u);
    EXPECT_EQ(XferLineStep(sync->frames), 0u);

    // A frame count of 12 and a line interrupt at line 7.
    Buffer control(1, 1, 8, kLocHostDma, 0);
    control.Field(10032, 12);
    control.Field(10026, 7);
    Sides(&board.d, &host.d, &control.d, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(image_[kLine], 7u);
    // A line number reports at that line alone: the frame count becomes 0.
    EXPECT_EQ(sync->frames, 0);

    // Every line (-1) with the frame count given: the reports start at line 0, 12 apart.
    Buffer every(1, 1, 8, kLocHostDma, 0);
    every.Field(10032, 12);
    every.Field(10026, -1);
    Sides(&board.d, &host.d, &every.d, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(image_[kLine], 0u);
    EXPECT_EQ(sync->frames, 12);
    EXPECT_EQ(XferLineStep(sync->frames), 12u);

    // Every line without a frame count on a node whose bus clock is unknown: at least 1.
    Buffer plain(1, 1, 8, kLocHostDma, 0);
    plain.Field(10026, -1);
    Sides(&board.d, &host.d, &plain.d, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(sync->frames, 1);
    EXPECT_EQ(Code(), 0);
}

TEST_F(XferProgTest, FrameCountsAndLineNumbersOutsideTheirRangesAreRefusedByNumber)
{
    Buffer board(64, 4, 8, kLocSdram, kBoardBus);
    Buffer host(64, 4, 8, kLocHostDma, kHostBus);
    const struct {
        uint32_t key;
        double value;
        const char* text;
    } cases[] = {
        {10032, 0, "A non-buffer parameter was invalid or unacceptable, errno: 22"},
        {10032, -5, "A non-buffer parameter was invalid or unacceptable, errno: 22"},
        {10026, 4, "A non-buffer parameter was invalid or unacceptable, errno: 20"},
        {10026, -2, "A non-buffer parameter was invalid or unacceptable, errno: 20"},
    };
    for (const auto& c : cases) {
        SetUp();
        Buffer control(1, 1, 8, kLocHostDma, 0);
        control.Field(c.key, c.value);
        Sides(&board.d, &host.d, &control.d, 2);
        vmInitSh(2, 1, &host.d, &board.d, &image_);
        EXPECT_EQ(vmUpdtSh(&record_, 0, 2, &image_), -1) << c.key << " " << c.value;
        EXPECT_EQ(Code(), HLC_ERR_INVALID_PARAMETER);
        EXPECT_EQ(Text(), c.text);
    }
    // The largest accepted values pass, and a frame count beyond the line counter's 16
    // bits steps by the most it can.
    SetUp();
    Buffer control(1, 1, 8, kLocHostDma, 0);
    control.Field(10032, 100000);
    control.Field(10026, 3);
    Sides(&board.d, &host.d, &control.d, 2);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    EXPECT_EQ(vmUpdtSh(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(image_[kLine], 3u);
    EXPECT_EQ(XferLineStep(100000), 0xFFFFu);
    EXPECT_EQ(XferLineStep(kUnset), 0u);
    EXPECT_EQ(XferLineStep(-1), 0u);
}

TEST_F(XferProgTest, WindowsOfOneBitAndDoubleBuffers)
{
    // A receiving one-bit buffer starting 4 pixels in: not on a byte.
    Buffer bits(64, 4, 0x40000001u, kLocSdram, kBoardBus, 8);
    Buffer host(64, 4, 0x40000001u, kLocHostDma, kHostBus, 8);
    Sides(&bits.d, &host.d, nullptr, 1);
    XferWindow w{};
    w.mirrorX = w.mirrorY = 1;
    w.factorX = w.factorY = w.modeX = w.modeY = 1;
    w.startX = 4;
    w.stopX = w.stopY = kUnset;
    EXPECT_EQ(vmWindow(&record_, &w, 0, 1), -1);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    // From byte 8 it is counted in bytes.
    resource_.err = _MSG_ERR_ST{};
    w.startX = 8;
    w.stopX = kUnset;
    ASSERT_EQ(vmWindow(&record_, &w, 0, 1), 0);
    EXPECT_EQ(w.startX, 1);
    // A partner narrower than its step of 256 pixels limits the line to that step: 32 bytes.
    EXPECT_EQ(w.stopX, 31);

    // A sending 64-bit float buffer of 100 pixels: X stop 199.
    Buffer wide(100, 2, 0x20000040u, kLocSdram, kBoardBus, 800);
    Buffer wideHost(100, 2, 0x20000040u, kLocHostDma, kHostBus, 800);
    SetUp();
    Sides(&wide.d, &wideHost.d, nullptr, 2);
    XferWindow s{};
    s.mirrorX = s.mirrorY = 1;
    s.factorX = s.factorY = s.modeX = s.modeY = 1;
    s.stopX = s.stopY = kUnset;
    record_.direct = 0;
    ASSERT_EQ(vmWindow(&record_, &s, 0, 2), 0);
    EXPECT_EQ(s.stopX, 199);
    // A sending window that is not at its defaults: -9.
    SetUp();
    Sides(&wide.d, &wideHost.d, nullptr, 2);
    s = XferWindow{};
    s.factorX = s.factorY = s.modeX = s.modeY = 1;
    s.startX = 5;
    s.stopX = s.stopY = kUnset;
    EXPECT_EQ(vmWindow(&record_, &s, 0, 2), -1);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
}

TEST_F(XferProgTest, APageByPageListForThreePagesOfHostDmaMemory)
{
    // 12,288 bytes from a page boundary: header, one middle page, the last page, the end.
    Buffer board(4096, 3, 8, kLocSdram, kBoardBus);
    Buffer host(4096, 3, 8, kLocHostDma, 0x07F81000u);
    Sides(&board.d, &host.d, nullptr, 2);
    GiveList(3 * 6 + 3);
    vmInitSh(2, 1, &host.d, &board.d, &image_);
    ASSERT_EQ(vmUpdtShScatterGather(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(image_[kListAddress], ListAddress()) << "the Orlo's VM list";
    EXPECT_EQ(image_[kHStart], 0u);
    EXPECT_EQ(image_[kBoardStart], kBoardBus);
    EXPECT_EQ(image_[kHostStart], 0x07F81000u);
    EXPECT_EQ(image_[kHStop], 1023u) << "4096 bytes in words";
    EXPECT_EQ(image_[kFormat], 0x33u);
    EXPECT_EQ(image_[kBurst], 5u);
    EXPECT_EQ(image_[kListControl] & 3, 3u);
    const uint32_t control = image_[kTiming];
    EXPECT_EQ((control >> kKindShift) & 15, kKindPciSend);
    const uint32_t page = (control & ~(0x1u | 0x2u | 0x20u | 0x2000u | 0x40000u)) | 0x4u | 0x40u | 0x80u | 0x80000u;
    const uint32_t* list = list_.data();
    ASSERT_NE(list, nullptr);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x10000, kIntClear},       {0, kHStart},          {1023, kHStop},
        {kBoardBus + 4096, kBoardStart}, {0x07F82000u, kHostStart}, {0, kHostPage}, {page, kTiming},
        {3, kListControl},          {0x10000, kIntClear},
        {kBoardBus + 8192, kBoardStart}, {0x07F83000u, kHostStart}, {0, kHostPage}, {1023, kHStop},
        {page, kTiming},            {0, kListControl}};
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[2 * i], expected[i].first);
        EXPECT_EQ(list[2 * i + 1], expected[i].second);
    }
    EXPECT_EQ(list_[2 * expected.size()], 0xDEADDEADu) << "nothing past the end entry";

    // One byte past a page boundary: mask 1, board back by 1, the rest of the page first.
    Buffer late(4096, 3, 8, kLocHostDma, 0x07F81001u);
    SetUp();
    Sides(&board.d, &late.d, nullptr, 2);
    GiveList(4 * 6 + 3);
    ASSERT_EQ(vmUpdtShScatterGather(&record_, 0, 2, &image_), 0) << Text();
    EXPECT_EQ(image_[kHStart], 1u);
    EXPECT_EQ(image_[kBoardStart], kBoardBus - 1);
    EXPECT_EQ(image_[kHStop], 4095u) << "1 + 4095 bytes - 1";
    EXPECT_EQ(image_[kFormat], 0u);
    EXPECT_EQ(image_[kBurst], 7u);

    // Another pitch than the board buffer's: -14 before any list.
    Buffer other(4096, 3, 8, kLocHostDma, 0x07F81000u, 4100);
    SetUp();
    Sides(&board.d, &other.d, nullptr, 2);
    GiveList(4);
    EXPECT_EQ(vmUpdtShScatterGather(&record_, 0, 2, &image_), -1);
    EXPECT_EQ(Code(), HLC_ERR_BUFFER_ATTRIBUTE);
    EXPECT_EQ(list_[0], 0xDEADDEADu) << "no entry written";
}

TEST_F(XferProgTest, TheTagMaskClearsTheWindowsLeadingPixelsAndKeepsTheLast)
{
    uint32_t words[4] = {0xAAAAAAAAu, 0xAAAAAAAAu, 0xAAAAAAAAu, 0xAAAAAAAAu};
    // 64 pixels, 20 written: one word of 0, then 20 bits ending at the high end (44
    // zeros = one word and 12 bits).
    ASSERT_EQ(XferTagMask(words, 4, 64, 20, 32, false), 2u);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(words[1], 0xFFFFF000u);
    EXPECT_EQ(words[2], 0xAAAAAAAAu) << "nothing past the window";
    // Mirrored: the partial word's bits from the low end.
    ASSERT_EQ(XferTagMask(words, 4, 64, 20, 32, true), 2u);
    EXPECT_EQ(words[1], 0x000FFFFFu);
    // 16 pixels a word (field 10013): 40 pixels in 3 words, 20 written: 28 zeros = one
    // word and 12 bits, 4 bits of the second word, the third whole.
    ASSERT_EQ(XferTagMask(words, 4, 40, 20, 16, false), 3u);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(words[1], 0xF000u);
    EXPECT_EQ(words[2], 0xFFFFFFFFu);
    ASSERT_EQ(XferTagMask(words, 4, 40, 20, 16, true), 3u);
    EXPECT_EQ(words[1], 0xFu);
    // Every pixel written: words of -1 only; a window wider than the room is cut.
    ASSERT_EQ(XferTagMask(words, 4, 64, 64, 32, false), 2u);
    EXPECT_EQ(words[0], 0xFFFFFFFFu);
    EXPECT_EQ(words[1], 0xFFFFFFFFu);
    words[1] = 0x55u;
    EXPECT_EQ(XferTagMask(words, 1, 64, 20, 32, false), 1u);
    EXPECT_EQ(words[0], 0u);
    EXPECT_EQ(words[1], 0x55u);
    // Nothing for an empty window or an impossible word size.
    EXPECT_EQ(XferTagMask(words, 4, 0, 0, 32, false), 0u);
    EXPECT_EQ(XferTagMask(words, 4, 64, 20, 33, false), 0u);
}

TEST_F(XferProgTest, TheReceivingSidesOwnTagBufferTakesTheMaskOfItsWindow)
{
    // A partner line of 20 pixels into a 32-pixel window: 12 leading pixels masked.
    Buffer board(32, 4, 8, kLocSdram, kBoardBus);
    Buffer host(20, 4, 8, kLocHostDma, kHostBus);
    std::vector<uint32_t> memory(8, 0xAAAAAAAAu);
    Buffer tag(256, 1, 0x40000001u, kLocSdram, 0);
    tag.d.bits = 1;
    tag.d.pitch = 16;
    tag.bands[0].physical = 0;
    tag.bands[0].mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory.data()));
    Sides(&board.d, &host.d, nullptr, 1);
    record_.b(blk::kPredefTagDesc) = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&tag.d));
    XferWindow w{};
    w.startX = 0;
    w.stopX = 31;
    XferFillTagMask(&record_, &w, kUnset);
    EXPECT_EQ(memory[0], 0xFFFFF000u);
    EXPECT_EQ(memory[1], 0xAAAAAAAAu) << "one word for 32 pixels";
    // Mirrored receiving side, sender scaled by 2: 10 pixels arrive.
    record_.b(blk::kRecvMirrorX) = 1;
    record_.b(blk::kSendFactorX) = 2;
    XferFillTagMask(&record_, &w, kUnset);
    EXPECT_EQ(memory[0], 0x000003FFu);
    // Without a tag buffer of its own the side leaves memory alone.
    record_.b(blk::kPredefTagDesc) = 0;
    memory[0] = 0x12345678u;
    XferFillTagMask(&record_, &w, kUnset);
    EXPECT_EQ(memory[0], 0x12345678u);
}

TEST_F(XferProgTest, TheExternalModuleFollowsTheEnginesPortAndDirection)
{
    // The module's first four registers in 8-byte shadow slots, no port behind them.
    std::vector<uint32_t> shadow(8, 0);
    HwRegCtrl_ST control{};
    control.extShadow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(shadow.data()));
    HwRegCtrl_ST* saved = HwRegCtrl;
    HwRegCtrl = &control;
    shadow[0] = 0x30;
    shadow[2] = 0xC;
    shadow[4] = 0x4;
    shadow[6] = 0x1;
    // Port 5, sending side, field pairing on: port in the first, on and the pairing bit
    // in the second (bits 2-3 off), the direction 2 in the third and fourth.
    XferExtModule(0x11, 2, 5, 2, 0x10);
    EXPECT_EQ(shadow[0], 0x35u);
    EXPECT_EQ(shadow[2], 0x3u);
    EXPECT_EQ(shadow[4], 0x6u);
    EXPECT_EQ(shadow[6], 0x2u);
    // Without field pairing the second has bit 1 clear.
    XferExtModule(0x11, 1, 5, 2, 0);
    EXPECT_EQ(shadow[2], 0x1u);
    // -9999: bit 3 of the second, bit 0 of the third and fourth; the first stays.
    shadow[0] = 0x35;
    shadow[2] = 0;
    shadow[4] = 0x6;
    shadow[6] = 0x2;
    XferExtModule(0x11, -9999, 5, 2, 0);
    EXPECT_EQ(shadow[0], 0x35u);
    EXPECT_EQ(shadow[2], 0x8u);
    EXPECT_EQ(shadow[4], 0x7u);
    EXPECT_EQ(shadow[6], 0x3u);
    HwRegCtrl = saved;
}

TEST_F(XferProgTest, AMeasuredCopyLowersTheRateEstimateOnlyToAPlausibleRate)
{
    XferRate() = XferRateState{};
    // First use: 108 MB/s on a 33 MHz bus, else 84; the first value stays.
    EXPECT_EQ(XferRateEstimate(33), 108);
    EXPECT_EQ(XferRateEstimate(66), 108);
    XferRate() = XferRateState{};
    EXPECT_EQ(XferRateEstimate(66), 84);

    constexpr uint32_t k100MB = 100u * 1048576u;
    // 100 MB in 2 s: 50 MB/s replaces 84, and the measurement is disarmed.
    XferRateArm(k100MB, 10.0);
    EXPECT_EQ(XferRate().armed, 1);
    XferRateUpdate(12.0);
    EXPECT_EQ(XferRate().armed, 0);
    EXPECT_EQ(XferRate().estimate, 50);
    // A faster copy (200 MB/s) does not raise it.
    XferRateArm(k100MB, 0.0);
    XferRateUpdate(0.5);
    EXPECT_EQ(XferRate().estimate, 50);
    // Below 26 MB/s (10 MB/s) is no measurement; 26 is.
    XferRateArm(k100MB, 0.0);
    XferRateUpdate(10.0);
    EXPECT_EQ(XferRate().estimate, 50);
    XferRateArm(26u * 1048576u, 0.0);
    XferRateUpdate(1.0);
    EXPECT_EQ(XferRate().estimate, 26);
    // Not armed, or no time passed: nothing changes.
    XferRateUpdate(100.0);
    EXPECT_EQ(XferRate().estimate, 26);
    XferRateArm(k100MB, 5.0);
    XferRateUpdate(5.0);
    EXPECT_EQ(XferRate().estimate, 26);
    EXPECT_EQ(XferRate().armed, 0);
    XferRate() = XferRateState{};
}

// Two nodes of system 0 in the node list: one without a display Orlo, one that shows the
// system's display.
class DisplayNodeTest : public ::testing::Test {
protected:
    static constexpr uint32_t kPlain = 0x11, kDisplay = 0x12;
    void SetUp() override
    {
        HlcWireLibrary();
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
        display_ = new _NODE_ST{};
        ASSERT_EQ(HlcGetBoardHooks().insertNode(kPlain, new _NODE_ST{}, nullptr), 0);
        ASSERT_EQ(HlcGetBoardHooks().insertNode(kDisplay, display_, nullptr), 0);
        plain_ = mp_sys_node_resource_ptr(kPlain);
        ASSERT_NE(plain_, nullptr);
    }
    void TearDown() override
    {
        mp_core_forget_nodes();
        HlcGetBoardHooks().removeNode(kPlain);
        HlcGetBoardHooks().removeNode(kDisplay);
        imNodeSt = nullptr;
    }
    std::unique_ptr<_NODE_ST> global_;
    _NODE_ST* display_ = nullptr;
    _NODE_MAIN_RESOURCE_ST* plain_ = nullptr;
};

TEST_F(DisplayNodeTest, ABufferOutsideBoardAndDmaMemoryOfANodeWithoutDisplayIsServedByTheDisplayNode)
{
    Buffer heap(64, 4, 8, 0x40000040u, kBoardBus);
    heap.d.node = kPlain;
    // No display node in the system yet: the buffer's own node.
    EXPECT_EQ(XferDisplayNodeFor(kPlain, &heap.d), kPlain);
    display_->chip.present = 1;
    EXPECT_EQ(XferDisplayNodeFor(kPlain, &heap.d), kDisplay);
    uint32_t node = kPlain, kind = 0;
    actualBuf(&heap.d, &node, &kind);
    EXPECT_EQ(node, kDisplay);
    EXPECT_EQ(kind, 1u);
    // Board memory, host DMA memory and a node with its own display Orlo stay.
    for (uint32_t location : {kLocSdram, kLocHostDma}) {
        Buffer b(64, 4, 8, location, kBoardBus);
        b.d.node = kPlain;
        EXPECT_EQ(XferDisplayNodeFor(kPlain, &b.d), kPlain) << location;
    }
    plain_->displayRegs = 0x2000;
    EXPECT_EQ(XferDisplayNodeFor(kPlain, &heap.d), kPlain);
    plain_->displayRegs = 0;
    // A node not in the list stays as it is.
    EXPECT_EQ(XferDisplayNodeFor(0x13, &heap.d), 0x13u);
}

TEST_F(DisplayNodeTest, EveryLineReportsComeAboutOnceAMillisecondOfTheNodesBusClock)
{
    ASSERT_NE(plain_->nodeState, nullptr);
    plain_->nodeState->iniWords[1] = 33;   // VmBusSpeed
    Buffer board(640, 480, 8, kLocSdram, kBoardBus);
    Buffer host(640, 480, 8, kLocHostDma, kHostBus);
    board.d.node = host.d.node = kPlain;
    Buffer control(1, 1, 8, kLocHostDma, 0);
    control.Field(10026, -1);
    MP_RESOURCE_ST resource{};
    auto record = std::make_unique<_CPYPARAM>();
    std::memset(record.get(), 0, sizeof *record);
    record->resource = &resource;
    record->direct = 1;
    record->b(blk::kRecvModeX) = record->b(blk::kRecvModeY) = 1;
    record->b(blk::kSendFactorX) = record->b(blk::kRecvFactorX) = 1;
    record->thisBuf = record->source = &board.d;
    record->otherBuf = record->destination = &host.d;
    record->controlA = record->controlB = record->control1 = record->control2 = &control.d;
    auto image = std::make_unique<CopyImage>();
    vmInitSh(2, 1, &host.d, &board.d, image.get());
    ASSERT_EQ(vmUpdtSh(record.get(), 0, 2, image.get()), 0);
    // 33 MHz x 1000 / 640 bytes = 51.56: a report every 51 lines from line 0.
    EXPECT_EQ((*image)[kLine], 0u);
    EXPECT_EQ(XferVmSync(kPlain, 0)->frames, 51);
    EXPECT_EQ(XferLineStep(XferVmSync(kPlain, 0)->frames), 51u);
}

TEST_F(DisplayNodeTest, AStartedSideHandsItsSyncObjectAndFrameCountToTheVmLineServer)
{
    Buffer board(640, 8, 8, kLocSdram, kBoardBus);
    Buffer host(640, 8, 8, kLocHostDma, kHostBus);
    board.d.node = host.d.node = kPlain;
    _MP_BUF_ST syncObject{};
    MP_RESOURCE_ST resource{};
    resource.sync = &syncObject;
    resource.threadId = (kPlain << 16) | 0x42;
    auto record = std::make_unique<_CPYPARAM>();
    auto program = [&](_MP_BUF_ST* control, int side) {
        std::memset(record.get(), 0, sizeof *record);
        record->resource = &resource;
        record->direct = 1;
        record->b(blk::kRecvModeX) = record->b(blk::kRecvModeY) = 1;
        record->b(blk::kSendFactorX) = record->b(blk::kRecvFactorX) = 1;
        record->thisBuf = &board.d;
        record->otherBuf = &host.d;
        record->source = side == 2 ? &board.d : &host.d;
        record->destination = side == 2 ? &host.d : &board.d;
        record->controlA = record->controlB = record->control1 = record->control2 = control;
        return vmSetOrlo(record.get(), 0, side, 0);
    };
    SERVINFO_ST* events = mp_servinfo(plain_, 0);
    ASSERT_NE(events, nullptr);
    const uint32_t operation = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&syncObject));

    // Sending with a frame count of 12 from line 0 on.
    Buffer stepped(1, 1, 8, kLocHostDma, 0);
    stepped.Field(10036, 1);
    stepped.Field(10032, 12);
    stepped.Field(10026, -1);
    ASSERT_EQ(program(&stepped.d, 2), 0) << (resource.err.message ? resource.err.message : "");
    EXPECT_EQ(events->vmLineSync, operation);
    EXPECT_EQ(events->vmLineStep, 12u);
    const VmSyncObject* sync = XferVmSync(kPlain, 0);
    EXPECT_EQ(sync->operation, operation);
    EXPECT_EQ(sync->owner, resource.threadId);
    EXPECT_EQ(sync->frames, 12);

    // Receiving side of a bus-master transfer: the request's sync object still reports;
    // a single line number stops the stepping.
    Buffer single(1, 1, 8, kLocHostDma, 0);
    single.Field(10036, 1);
    single.Field(10026, 5);
    ASSERT_EQ(program(&single.d, 1), 0) << (resource.err.message ? resource.err.message : "");
    EXPECT_EQ(events->vmLineSync, operation);
    EXPECT_EQ(events->vmLineStep, 0u);
    EXPECT_EQ(sync->frames, 0);

    // A request without a sync object takes the reports away from the last one's.
    resource.sync = nullptr;
    ASSERT_EQ(program(&stepped.d, 2), 0);
    EXPECT_EQ(events->vmLineSync, 0u);
    EXPECT_EQ(events->vmLineStep, 12u);
}

}  // namespace

namespace {

// Field 10034 = -9997 on a VM sending side asks to start with the receiving display's scan;
// it counts without a tag buffer and for a receiving buffer outside board and DMA memory.
TEST_F(DisplayNodeTest, AVmSenderWaitsForTheDisplayScanOnlyIntoDisplayMemory)
{
    Buffer board(320, 8, 8, kLocSdram, kBoardBus);
    Buffer screen(320, 8, 8, 0x40000040u, kBoardBus + 0x100000);
    Buffer other(320, 8, 8, kLocSdram, kBoardBus + 0x200000);
    board.d.node = screen.d.node = kPlain;
    other.d.node = kDisplay;
    MP_RESOURCE_ST resource{};
    auto record = std::make_unique<_CPYPARAM>();
    auto image = std::make_unique<CopyImage>();
    auto program = [&](Buffer* into, Buffer* control) {
        std::memset(record.get(), 0, sizeof *record);
        record->resource = &resource;
        record->direct = 0;
        record->syncCopy = 7;
        record->b(blk::kRecvModeX) = record->b(blk::kRecvModeY) = 1;
        record->b(blk::kSendFactorX) = record->b(blk::kRecvFactorX) = 1;
        record->thisBuf = record->source = &board.d;
        record->otherBuf = record->destination = &into->d;
        record->controlA = record->control1 = control ? &control->d : nullptr;
        vmInitSh(2, 0, &into->d, &board.d, image.get());
        return vmUpdtSh(record.get(), 0, 2, image.get());
    };
    Buffer asks(1, 1, 8, kLocHostDma, 0);
    asks.Field(10034, -9997);
    Buffer declines(1, 1, 8, kLocHostDma, 0);
    declines.Field(10034, -9999);
    ASSERT_EQ(program(&screen, &asks), 0) << (resource.err.message ? resource.err.message : "");
    EXPECT_EQ(record->syncCopy, 1u);
    ASSERT_EQ(program(&screen, &declines), 0);
    EXPECT_EQ(record->syncCopy, 0u);
    ASSERT_EQ(program(&screen, nullptr), 0);
    EXPECT_EQ(record->syncCopy, 0u);
    ASSERT_EQ(program(&other, &asks), 0);
    EXPECT_EQ(record->syncCopy, 0u) << "board memory has no scan to wait for";
}

}  // namespace
