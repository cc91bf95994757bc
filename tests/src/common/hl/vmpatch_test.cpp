// Corrections of VM transfers without a node: each case worked out by hand from the rules
// for buffers at known addresses, the receiving side computed before the sending side as
// a copy does.
#include "vmpatch.h"
#include "vmcopy.h"

#include "bufid.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBoardBus = 0x03C00000u;    // a multiple of 8
constexpr uint32_t kDisplayBus = 0x01000000u;
constexpr uint32_t kLocDisplay = 2;

struct Buffer {
    _MP_BUF_ST d{};
    _MP_BAND_ST bands[4]{};
    std::vector<_MP_FIELD_ST> fields;

    Buffer(int32_t x, int32_t y, uint32_t type, uint32_t location, uint32_t bus, uint32_t count = 1)
    {
        d.node = 0x11;
        d.type = type;
        d.kind = kBufKindImage;
        d.sizeX = x;
        d.sizeY = y;
        d.bits = type & 255;
        d.bands = count;
        d.location = location;
        d.pitch = static_cast<uint32_t>(x) * (d.bits >= 8 ? d.bits / 8 : 1);
        for (uint32_t i = 0; i < count; ++i) bands[i].physical = bus + i * d.pitch * static_cast<uint32_t>(y);
        d.bandTable = bands;
        fields.reserve(8);
    }
    void Field(uint32_t key, double value)
    {
        fields.push_back(_MP_FIELD_ST{});
        fields.back().key = key;
        std::memcpy(fields.back().value, &value, sizeof value);
        for (size_t i = 0; i + 1 < fields.size(); ++i) fields[i].link = &fields[i + 1];
        d.fieldList = fields.data();
    }
};

class VmPatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&record_, 0, sizeof record_);
        record_.resource = &resource_;
        record_.b(blk::kRecvModeX) = record_.b(blk::kRecvModeY) = 1;
        record_.b(blk::kSendFactorX) = record_.b(blk::kRecvFactorX) = 1;
        std::memset(&image_, 0, sizeof image_);
    }
    // One side of a copy from source to destination; the window's X stop as vmWindow left it.
    DMATX_ST Side(int side, Buffer& source, Buffer& destination, int32_t stopX = 99)
    {
        record_.source = &source.d;
        record_.destination = &destination.d;
        record_.thisBuf = side == 2 ? &source.d : &destination.d;
        record_.otherBuf = side == 2 ? &destination.d : &source.d;
        record_.control1 = control1_.fields.empty() ? nullptr : &control1_.d;
        record_.control2 = control2_.fields.empty() ? nullptr : &control2_.d;
        record_.b(blk::kSendWidth) = source.d.sizeX;
        window_ = XferWindow{};
        window_.stopX = stopX;
        DMATX_ST patch{};
        PatchVM(&record_, &patch, &window_, side, 0, &image_);
        return patch;
    }

    MP_RESOURCE_ST resource_{};
    _CPYPARAM record_{};
    CopyImage image_{};
    XferWindow window_{};
    Buffer control1_{1, 1, 8, kLocSdram, 0};
    Buffer control2_{1, 1, 8, kLocSdram, 0};
};

#define EXPECT_PATCH(p, stop_, board_, start_, burst_) \
    do {                                               \
        EXPECT_EQ((p).stop, (stop_));                  \
        EXPECT_EQ((p).board, (board_));                \
        EXPECT_EQ((p).start, (start_));                \
        EXPECT_EQ((p).burst, (burst_));                \
        EXPECT_EQ((p).host, 0);                        \
    } while (0)

TEST(VmStepping, CountsStepsUntilThePhaseLeavesItsRange)
{
    static constexpr uint16_t ranges[][2] = {{0x1A1, 0x1A9}, {0x1B1, 0x1CC}, {0xEA, 0xFA}};
    EXPECT_EQ(XferStepping(0x1A1, 9, ranges, 3), 9);          // 0x1A1 -> 0x1AA
    EXPECT_EQ(XferStepping(0x1A9, 9, ranges, 3), 1);
    EXPECT_EQ(XferStepping(0x200 + 0xEA, 9, ranges, 3), 17);  // the phase counts, not the value
    EXPECT_EQ(XferStepping(0x100, 9, ranges, 3), 0);
    EXPECT_EQ(XferStepping(0x1A1, 9, ranges, 3, 4), 3);       // 0x1A5, 0x1A9, 0x1AD
}

TEST_F(VmPatchTest, SixtyFourBitBuffersTakeTheirBurstByTagAndMemory)
{
    Buffer s(100, 10, 0x20000040u, kLocSdram, kBoardBus), d(100, 10, 0x20000040u, kLocSdram, kBoardBus + 0x10000);
    EXPECT_PATCH(Side(1, s, d), 99, 0, 0, 7);    // receiving: the window's stop, burst 7
    EXPECT_PATCH(Side(2, s, d), 0, 0, 0, 4);     // sending from board memory
    control2_.Field(10007, 5);
    EXPECT_PATCH(Side(1, s, d), 99, 0, 0, 4);    // a tag buffer on the receiving side
    Buffer sd(100, 10, 0x20000040u, kLocDisplay, kDisplayBus);
    EXPECT_EQ(Side(2, sd, d).burst, 3);          // a tag buffer on the receiver: 3 from display memory
}

TEST_F(VmPatchTest, ThreeBandBoardCopyShiftsBothSidesAndEndsWithBurstFour)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus, 3), d(100, 10, 8, kLocSdram, kBoardBus + 0x100000, 3);
    image_[vmreg::kHStart] = 1;
    // Receiving: shift of 1 (source at phase 0); window start 1 + stop 1 = 2, so 8 more and
    // the shift flag; then the window's stop 99.
    EXPECT_PATCH(Side(1, s, d), 1 + 8 + 99, 0, 1 + 8, 4);
    EXPECT_EQ(record_.state[kStateThreeBandShift], 1u);
    // Sending: shift of 1 byte, then 8 x 1 x 1 for the flag the receiver left.
    EXPECT_PATCH(Side(2, s, d), 1 + 8, 1 + 8, 0, 4);
}

TEST_F(VmPatchTest, ThreeBandBoardCopyWithoutThePhaseKeepsTheShiftFlagClear)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus, 3), d(100, 10, 8, kLocSdram, kBoardBus + 0x100000, 3);
    EXPECT_PATCH(Side(1, s, d), 1 + 99, 0, 1, 4);
    EXPECT_EQ(record_.state[kStateThreeBandShift], 0u);
    EXPECT_PATCH(Side(2, s, d), 1, 1, 0, 4);
}

TEST_F(VmPatchTest, ScaledEightBitSourceDropsTheShiftForBurstFour)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus), d(100, 10, 8, kLocSdram, kBoardBus + 0x10000);
    EXPECT_PATCH(Side(2, s, d), 1, 1, 0, 0);     // unscaled: a shift of one byte
    control1_.Field(10005, 4);
    EXPECT_PATCH(Side(2, s, d), 0, 0, 0, 4);
}

TEST_F(VmPatchTest, ScaledSixteenBitSourceShiftsOnlyForOddFactors)
{
    Buffer s(100, 10, 0x10, kLocSdram, kBoardBus), d(100, 10, 0x10, kLocSdram, kBoardBus + 0x10000);
    control1_.Field(10005, 2);
    EXPECT_PATCH(Side(2, s, d), 0, 0, 0, 4);
    control1_.fields.clear();
    control1_.Field(10005, 3);
    EXPECT_PATCH(Side(2, s, d), 3, 3 * 2, 0, 0);
}

TEST_F(VmPatchTest, FieldSelectionOnTheReceiverChoosesBothBursts)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus), d(100, 10, 8, kLocSdram, kBoardBus + 0x10000);
    control2_.Field(10009, 1);
    EXPECT_PATCH(Side(1, s, d), 99, 0, 0, 5);
    EXPECT_PATCH(Side(2, s, d), 0, 0, 0, 3);
    control2_.Field(10012, 4);
    EXPECT_EQ(Side(2, s, d).burst, 5);
}

TEST_F(VmPatchTest, DisplaySourceLineEndLeavesTheBadPhase)
{
    // 421 = 0x1A5: five steps to 0x1AA.
    Buffer s(421, 10, 8, kLocDisplay, kDisplayBus), d(421, 10, 8, kLocSdram, kBoardBus);
    EXPECT_PATCH(Side(2, s, d), 5, 0, 0, 0);
}

TEST_F(VmPatchTest, WideLinesTakeNoPhaseCorrection)
{
    Buffer s(512, 10, 8, kLocSdram, kBoardBus), d(512, 10, 8, kLocSdram, kBoardBus + 0x10000);
    EXPECT_PATCH(Side(2, s, d), 0, 0, 0, 0);
    EXPECT_PATCH(Side(1, s, d), 99, 0, 0, 0);
}

TEST_F(VmPatchTest, ReceivingPortTakesTheWindowStopAndItsBurst)
{
    Buffer s(100, 10, 0x20, kLocSdram, kBoardBus), d(100, 10, 0x20, kLocSdram, kBoardBus + 0x10000);
    control2_.Field(10018, 3);
    EXPECT_PATCH(Side(1, s, d, 63), 63 + 63, 0, 0, 6);   // the port skips the phase rules
}

TEST_F(VmPatchTest, ScaledReceiverNarrowsTheSendingWindow)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus + 4), d(40, 10, 8, kLocSdram, kBoardBus + 0x10000);
    control2_.Field(10005, 2);
    Side(2, s, d);
    EXPECT_EQ(window_.stopX, 2 * 40 - 1);   // 40 < 100 / 2
}

TEST_F(VmPatchTest, UnknownPeerWordIsNotFollowed)
{
    Buffer s(100, 10, 8, kLocSdram, kBoardBus), d(100, 10, 8, kLocSdram, kBoardBus + 0x10000);
    d.d.node = 0x12;
    record_.peer = 0xDEADBEE0u;   // no record of this process lies there
    EXPECT_EQ(XferPeerRecord(record_.peer), nullptr);
    EXPECT_PATCH(Side(2, s, d), 1, 1, 0, 0);
}

}  // namespace

namespace {

// A block that looks like a copy-parameter record (tag, size) but is none of the areas a
// node made: a remote request naming it, by bus word or host word, reaches nothing.
TEST(VmPeerTest, RecordShapedMemoryOutsideTheNodesAreasIsNotTaken)
{
    alignas(8) static uint32_t fake[96];
    fake[0] = 0xCAFEFADEu;
    fake[1] = 384;
    const uint32_t word = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(fake));
    EXPECT_EQ(XferVmPeer(0x11, word), nullptr);
    EXPECT_EQ(XferVmPeer(0, word), nullptr);
    EXPECT_EQ(XferVmPeer(0x11, 0), nullptr);
    EXPECT_EQ(fake[21], 0u) << "nothing was written into the block";
}

}  // namespace
