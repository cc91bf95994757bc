// Programming of bus-master transfers without a node: the host start phases, the PCI
// corrections, the pixel format, the three-band start, the field checks with their texts,
// the window of one side, the whole register image of a board-to-host window and the
// scatter-gather list of a host band, each against values worked out by hand from the
// rules.
#include "vmprog.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
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

    // The list memory the engine would play: the test's own, at a made-up bus address.
    void GiveList(uint32_t entries)
    {
        list_.assign(2 * entries, 0xDEADDEADu);
        auto* band = reinterpret_cast<_MP_BAND_ST*>(record_.list);
        *band = _MP_BAND_ST{-1, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(list_.data())), 0, 0x07000000u};
        record_.listRoom = entries;
    }
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
    EXPECT_EQ(image_[kListAddress], 0x07000000u);
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
    const auto* list = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(record_.list[1]));
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
    XferFreeList(&record_);

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
    XferFreeList(&record_);

    // Another pitch than the board buffer's: -14 before any list.
    Buffer other(4096, 3, 8, kLocHostDma, 0x07F81000u, 4100);
    SetUp();
    Sides(&board.d, &other.d, nullptr, 2);
    GiveList(4);
    EXPECT_EQ(vmUpdtShScatterGather(&record_, 0, 2, &image_), -1);
    EXPECT_EQ(Code(), HLC_ERR_BUFFER_ATTRIBUTE);
    EXPECT_EQ(list_[0], 0xDEADDEADu) << "no entry written";
}

}  // namespace
