// Host grabs through the temporary buffers: the list sizes, the tap tables, the reduction
// rules, the RGB packing codes, the entries of both lists for one grab and their overflow,
// and two grabs in a row on one thread (alternating list sets, chaining, a late chain).
#include "hostgrab.h"

#include "../../serve/intservertest.h"
#include "bufchild.h"
#include "camrec.h"
#include "grab.h"
#include "grabengine.h"
#include "predef.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using inttest::kNode;

// ---- list sizes ------------------------------------------------------------------------------

_HOST_TEMP_PARAMETER_ST Blocks(uint32_t n, uint32_t taps = 1)
{
    _HOST_TEMP_PARAMETER_ST p{};
    p.blocks = n;
    p.tapCount = taps;
    p.vZoom = 1;
    return p;
}

TEST(HostListSizes, FollowTheBlockCountsAndDoubleForTwoSets)
{
    uint32_t grab = 0, vm = 0;
    // 6 blocks, one tap: grab 49 + 4 x 6 + (12 - 6) = 79, VM 5 + 4 x 15 = 65.
    _HOST_TEMP_PARAMETER_ST p = Blocks(6);
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(grab, 2u * 79u);
    EXPECT_EQ(vm, 2u * 65u);
    // Two taps: grab 62 + 6 x 2 + 24 + 6 = 104, VM 5 + 4 x 15 x 2 = 125.
    p = Blocks(6, 2);
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(grab, 2u * 104u);
    EXPECT_EQ(vm, 2u * 125u);
    // Zoom 2 and 4 and an RGB packing cost 25, 30 and 27 VM entries a block.
    p = Blocks(6);
    p.vZoom = 2;
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(vm, 2u * (5u + 4u * 25u));
    p.vZoom = 4;
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(vm, 2u * (5u + 4u * 30u));
    p.vZoom = 1;
    p.rgbCode = 36;
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(vm, 2u * (5u + 4u * 27u));
    // A dual grab costs 3 grab entries a block; a remainder 5 more and two block costs plus 4.
    p = Blocks(6);
    p.dual = 1;
    p.remainder = 7;
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(grab, 2u * (49u + 4u * 3u + 6u + 5u));
    EXPECT_EQ(vm, 2u * (5u + 4u * 15u + 2u * 15u + 4u));
    // A second field: 20 + 8 a block in the grab list, the blocks again in the VM list.
    p = Blocks(6);
    p.secondField = 1;
    HostListSizes(&p, &grab, &vm);
    EXPECT_EQ(grab, 2u * (79u + 20u + 4u * 8u));
    EXPECT_EQ(vm, 2u * (65u + 4u * 15u));
}

TEST(HostListSizes, FewerThanTwoBlocksCountNoNegativeBlocks)
{
    uint32_t grab = 0, vm = 0;
    for (uint32_t n : {0u, 1u, 2u}) {
        _HOST_TEMP_PARAMETER_ST p = Blocks(n);
        p.secondField = 1;
        HostListSizes(&p, &grab, &vm);
        EXPECT_EQ(grab, 2u * (49u + 20u)) << n;
        EXPECT_EQ(vm, 2u * 5u) << n;
    }
}

// ---- taps --------------------------------------------------------------------------------------

TEST(HostTaps, TheTapTableGivesCountsAndSteps)
{
    struct Case {
        uint32_t code, channels, bands, count, step;
    };
    const Case ok[] = {
        {0x1111, 0x10000, 1, 1, 0}, {0x1111, 0x30000, 2, 2, 0}, {0x1211, 0xF0000, 4, 4, 0},
        {0x2111, 0x30000, 1, 1, 0}, {0x1112, 0x10000, 1, 2, 1}, {0x1121, 0x30000, 2, 4, 1},
        {0x1114, 0x10000, 1, 4, 2}, {0x1141, 0x10000, 1, 4, 2}, {0x1221, 0x10000, 1, 2, 1},
        {0x2121, 0x10000, 1, 2, 1}, {0x1411, 0x10000, 1, 1, 0}, {0x2211, 0x10000, 1, 1, 0},
        {0x4111, 0x10000, 1, 1, 0},
    };
    for (const Case& c : ok) {
        uint32_t count = 99, step = 99;
        ASSERT_EQ(SetTap(c.code, c.channels, c.bands, 1, 0, &count, &step), 0) << std::hex << c.code;
        EXPECT_EQ(count, c.count) << std::hex << c.code;
        EXPECT_EQ(step, c.step) << std::hex << c.code;
    }
    uint32_t count = 0, step = 0;
    // Three channels into three bands, more than two channels on 0x1112, unknown codes.
    EXPECT_EQ(SetTap(0x1111, 0x70000, 3, 1, 0, &count, &step), -1);
    EXPECT_EQ(SetTap(0x1112, 0x70000, 3, 1, 0, &count, &step), -1);
    EXPECT_EQ(SetTap(0x1113, 0x10000, 1, 1, 0, &count, &step), -1);
    EXPECT_EQ(SetTap(0x3111, 0x10000, 1, 1, 0, &count, &step), -1);
    // An RGB packing grabs three planes into three bands, one plane of packed pixels else.
    ASSERT_EQ(SetTap(0x1111, 0x70000, 3, 1, 36, &count, &step), 0);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(SetTap(0x1111, 0x70000, 1, 1, 18, &count, &step), 0);
    EXPECT_EQ(count, 1u);
    // A factor multiplies the step.
    ASSERT_EQ(SetTap(0x1114, 0x10000, 1, 2, 0, &count, &step), 0);
    EXPECT_EQ(step, 4u);
}

TEST(HostTaps, ReductionsOfTheLineTapsAndTheZoom)
{
    uint32_t code = 0x1114, g = 6, lines = 480;
    EXPECT_EQ(HostReduction(&code, &g, 1, &lines), -1);
    for (uint32_t bad : {2u, 3u, 10u, 12u, 14u}) {
        code = 0x1114;
        g = bad;
        EXPECT_EQ(HostReduction(&code, &g, 1, &lines), -1) << bad;
    }
    // Every reduction of the register (1-16): what the line taps leave, 0 for refused.
    const uint32_t halved[17] = {0, 1, 1, 1, 2, 2, 0, 0, 4, 4, 0, 0, 6, 6, 0, 0, 8};
    const uint32_t quartered[17] = {0, 1, 0, 0, 1, 1, 0, 1, 2, 2, 0, 2, 0, 0, 0, 0, 4};
    for (uint32_t r = 1; r <= 16; ++r) {
        for (const auto& [tap, left] : {std::make_pair(0x1112u, halved[r]), std::make_pair(0x1114u, quartered[r])}) {
            code = tap;
            g = r;
            EXPECT_EQ(HostReduction(&code, &g, 1, nullptr), left ? 0 : -1) << std::hex << tap << std::dec << " " << r;
            if (left) {
                EXPECT_EQ(g, left) << std::hex << tap << std::dec << " " << r;
            }
        }
    }
    code = 0x1114;
    g = 8;
    lines = 480;
    ASSERT_EQ(HostReduction(&code, &g, 1, &lines), 0);
    EXPECT_EQ(g, 2u);
    EXPECT_EQ(code, 0x1111u);
    EXPECT_EQ(lines, 120u);
    code = 0x1112;
    g = 4;
    lines = 480;
    ASSERT_EQ(HostReduction(&code, &g, 1, &lines), 0);
    EXPECT_EQ(g, 2u);
    EXPECT_EQ(code, 0x1111u);
    EXPECT_EQ(lines, 240u);
    // Without a reduction the taps stay.
    code = 0x1112;
    g = 1;
    ASSERT_EQ(HostReduction(&code, &g, 1, nullptr), 0);
    EXPECT_EQ(code, 0x1112u);
    // An odd reduction other than 1, and a zoom of 3, cannot be grabbed.
    code = 0x1111;
    g = 3;
    EXPECT_EQ(HostReduction(&code, &g, 1, nullptr), -1);
    g = 1;
    EXPECT_EQ(HostReduction(&code, &g, 3, nullptr), -1);
    EXPECT_EQ(HostReduction(&code, &g, 2, nullptr), 0);
    EXPECT_EQ(HostReduction(&code, &g, 4, nullptr), 0);
}

// A destination described by its descriptor: up to four bands at fixed addresses.
struct FakeBuffer {
    _MP_BUF_ST d{};
    _MP_BAND_ST bands[4] = {};
    FakeBuffer(uint32_t pitch, int32_t lines, uint32_t count, uint32_t bits = 8, uint32_t base = 0x100000)
    {
        d.pitch = pitch;
        d.sizeX = static_cast<int32_t>(pitch);
        d.sizeY = lines;
        d.bands = count;
        d.bits = bits;
        d.bandTable = bands;
        for (uint32_t b = 0; b < 4; ++b) bands[b] = _MP_BAND_ST{-1, 0, 0, base + b * 0x100000};
    }
};

TEST(HostTaps, EachTapHasItsPlaceInTheDestination)
{
    FakeBuffer dest(640, 480, 2);
    const uint32_t S = 0x100000, B1 = 0x200000, P = 640;
    _HOST_TEMP_PARAMETER_ST p{};
    _HOST_TEMP_REGISTER_ST r{};
    r.destLines = 480;
    struct Case {
        uint32_t code, taps, field;
        uint32_t t[4];
    };
    const Case cases[] = {
        {0x1111, 2, 0, {S, B1, 0, 0}},
        {0x1111, 2, 1, {S + P, B1 + P, 0, 0}},
        {0x1112, 4, 0, {S, S + P, B1, B1 + P}},
        {0x1112, 2, 1, {S + 2 * P, S + 3 * P, 0, 0}},
        {0x1114, 4, 1, {S + 4 * P, S + 5 * P, S + 6 * P, S + 7 * P}},
        {0x1121, 4, 0, {S, S + 240 * P, B1, B1 + 240 * P}},
        {0x1141, 4, 1, {S + P, S + P + 120 * P, S + P + 240 * P, S + P + 360 * P}},
        {0x1221, 2, 0, {S, S + 240 * P, 0, 0}},
        {0x2121, 2, 1, {S + P, S + P + 240 * P, 0, 0}},
    };
    for (const Case& c : cases) {
        p.tapCode = c.code;
        p.tapCount = c.taps;
        InitVfstart(&r, &p, &dest.d, c.field);
        for (uint32_t t = 0; t < 4; ++t) EXPECT_EQ(r.tapAddress[t], c.t[t]) << std::hex << c.code << " tap " << t;
    }
    // Each block steps on by the destination step.
    p.tapCode = 0x1111;
    p.tapCount = 1;
    p.destStep = 640 * 80;
    InitVfstart(&r, &p, &dest.d, 0);
    EXPECT_EQ(SetHfstart(&r, &p, 0, 3), S + 3 * 640 * 80);
}

TEST(HostTaps, TheTemporaryHalvesAlternateFromBlockToBlock)
{
    _HOST_TEMP_PARAMETER_ST p{};
    p.tapCount = 2;
    p.blocks = 6;
    _HOST_TEMP_REGISTER_ST r{};
    for (uint32_t h = 0; h < 2; ++h)
        for (uint32_t t = 0; t < 4; ++t) r.tempAddress[h][t] = 0x02000000 + (4 * h + t) * 0x4000;
    for (uint32_t k = 0; k < 6; ++k) {
        EXPECT_EQ(ComputeGfstart(&r, k), k % 2 ? 0x02010000u : 0x02000000u) << k;
        EXPECT_EQ(SetCopyFrameAddr(&r, 1, k), k % 2 ? 0x02014000u : 0x02004000u) << k;
    }
    // The second field goes on alternating after the first field's blocks.
    EXPECT_EQ(SetSecondFieldGfstart(&r, &p, 0), 0x02000000u);
    p.blocks = 5;
    EXPECT_EQ(SetSecondFieldGfstart(&r, &p, 0), 0x02010000u);
    // A dual grab takes every block from its place in the second buffer.
    r.sourceStep = 0x8000;
    EXPECT_EQ(ComputeGfstart(&r, 3), 0x02000000u);
    EXPECT_EQ(SetCopyFrameAddr(&r, 1, 3), 0x02004000u + 3u * 0x8000u);
    // Descriptors that are not live buffers are no temporary buffers.
    FakeBuffer fake(16384, 1, 1);
    uint32_t words[8];
    for (uint32_t& w : words) w = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&fake.d));
    EXPECT_EQ(CalculateTempGrabAddr(&r, &p, words), -1);
}

// ---- RGB packing --------------------------------------------------------------------------------

TEST(HostRgb, PackingCodesOfTheDestinationAndTheSecondBuffer)
{
    auto cam = std::make_unique<_MP_CAM_ST_0>();
    std::memset(cam.get(), 0, sizeof(_MP_CAM_ST_0));
    CamSlotAt(cam.get(), cam0::INFO_CHANNEL)->value = 0x70000;
    FakeBuffer packed(2560, 480, 1, 32);
    FakeBuffer three(640, 480, 3, 8);
    FakeBuffer rgb24(1920, 480, 1, 24);
    rgb24.d.type = 0x40000018;
    FakeBuffer mono(640, 480, 1, 8);
    const _MP_BUF_ST* second = nullptr;
    EXPECT_EQ(grbCheckRGB(&packed.d, &second, cam.get()), 18u);
    EXPECT_EQ(grbCheckRGB(&three.d, &second, cam.get()), 36u);
    EXPECT_EQ(grbCheckRGB(&rgb24.d, &second, cam.get()), 9u);
    second = &three.d;
    EXPECT_EQ(grbCheckRGB(&packed.d, &second, cam.get()), 34u);
    EXPECT_EQ(second, &three.d);
    second = &three.d;
    EXPECT_EQ(grbCheckRGB(&rgb24.d, &second, cam.get()), 33u);
    // A second buffer that does not complete the first is dropped.
    second = &mono.d;
    EXPECT_EQ(grbCheckRGB(&packed.d, &second, cam.get()), 18u);
    EXPECT_EQ(second, nullptr);
    second = &rgb24.d;
    EXPECT_EQ(grbCheckRGB(&packed.d, &second, cam.get()), 18u);   // 2 | 8 = 10
    EXPECT_EQ(second, nullptr);
    // A monochrome camera packs nothing.
    CamSlotAt(cam.get(), cam0::INFO_CHANNEL)->value = 0x10000;
    second = nullptr;
    EXPECT_EQ(grbCheckRGB(&packed.d, &second, cam.get()), 0u);
}

TEST(HostRgb, TheVmPixelFormatFollowsTheCode)
{
    uint32_t image[kGrbImageWords] = {};
    image[84] = 0x7F;
    ASSERT_EQ(SetVpixfmt(image, 36, 0), 0);
    EXPECT_EQ(image[58] & 7, 7u);
    EXPECT_EQ(image[84] & 0x7F, 0u);
    ASSERT_EQ(SetVpixfmt(image, 0, kHostCopyExact), 0);
    EXPECT_EQ(image[58] & 7, 5u);
    EXPECT_EQ(image[84] & 0x7F, 0x33u);
    grbimg::Reg(image, grbimg::GPIXFMT) = 0x3F;
    ASSERT_EQ(SetVpixfmt(image, 33, 0), 0);
    EXPECT_EQ(image[84] & 0x7F, 0x20u);
    EXPECT_EQ(grbimg::Reg(image, grbimg::GPIXFMT), 0x38u);
    ASSERT_EQ(SetVpixfmt(image, 34, 0), 0);
    EXPECT_EQ(image[84] & 0x7F, 0x28u);
    EXPECT_EQ(SetVpixfmt(image, 10, 0), -1);
}

// ---- the lists of one grab --------------------------------------------------------------------

// A grab of 8 lines of 64 bytes in 4 blocks of 2, one tap, into a destination at 0x100000.
class HostLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        p_.blocks = p_.blocksBeforeExtra = 4;
        p_.linesPerBlock = 2;
        p_.lineBytes = 64;
        p_.tapCount = 1;
        p_.vReduction = 1;
        p_.vZoom = 1;
        p_.destStep = 2 * 640;
        r_.yStart = 10;
        r_.tapAddress[0] = 0x100000;
        r_.tempAddress[0][0] = 0x02000000;
        r_.tempAddress[1][0] = 0x02004000;
        r_.destPitch = 640;
        grbimg::Reg(image_, grbimg::GVTOTAL) = 524;
        // The first block's window, as the grab registers are loaded with it.
        grbimg::Reg(image_, grbimg::GVWSTART) = 10;
        grbimg::Reg(image_, grbimg::GVWSTOP) = 11;
        grbimg::Reg(image_, grbimg::GRABCTRL) = 0xC04006;
        image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVtControl)] = 0x4C4;
        image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmHStop)] = 15;
    }
    int Build(uint32_t grabRoom, uint32_t vmRoom)
    {
        grabMem_.assign(2 * grabRoom + 2, 0xA5A5A5A5u);
        vmMem_.assign(2 * vmRoom + 2, 0xA5A5A5A5u);
        grab_ = ArpList{grabMem_.data(), 0x8000000, grabRoom, 0, false};
        vm_ = ArpList{vmMem_.data(), 0x9000000, vmRoom, 0, false};
        return BuildHostLists(&res_, &p_, &r_, image_, 1, &grab_, &vm_, &chain_);
    }
    std::vector<uint32_t> Entry(const std::vector<uint32_t>& mem, uint32_t i) const
    {
        return {mem[2 * i], mem[2 * i + 1]};
    }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }

    _HOST_TEMP_PARAMETER_ST p_{};
    _HOST_TEMP_REGISTER_ST r_{};
    uint32_t image_[kGrbImageWords] = {};
    std::vector<uint32_t> grabMem_, vmMem_;
    ArpList grab_{}, vm_{};
    uint32_t chain_ = 0;
    MP_RESOURCE_ST res_{};
};

using E = std::vector<uint32_t>;

TEST_F(HostLists, GoldenEntriesOfASimpleGrab)
{
    ASSERT_EQ(Build(200, 200), 0) << Text();
    // VM list: per block its source half, its destination, start, wait, clear, segment end.
    ASSERT_EQ(vm_.count, 4u * 6u + 1u);
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t at = 6 * k;
        EXPECT_EQ(Entry(vmMem_, at), (E{k % 2 ? 0x02004000u : 0x02000000u, kOrloVmBoardStart})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 1), (E{0x100000u + k * 1280u, kOrloVmHostStart})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 2), (E{0x4C4u, kOrloVtControl})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 3), (E{3u, kOrloVmListControl})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 4), (E{0u, kOrloInterruptClear})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 5), (E{0u, kOrloVmListControl})) << k;
    }
    EXPECT_EQ(Entry(vmMem_, 24), (E{1u, kArpEndRegister}));
    EXPECT_EQ(vmMem_[2 * 25], 0xA5A5A5A5u);

    // Grab list: the total, block 0 with the arm, blocks 1-3 with the copy of the one before,
    // the last copy, block 0's window back as the shadows hold it, the end of grab.
    const std::vector<E> golden = {
        {524, kOrloGVTOTAL},
        {10, kOrloGVWSTART}, {11, kOrloGVWSTOP}, {0x02000000, kOrloGFSTART}, {0x3000, kOrloInterruptClear},
        {0xC04004, kOrloGrabControl}, {3, kOrloGrabListControl},
        {12, kOrloGVWSTART}, {13, kOrloGVWSTOP}, {0x02004000, kOrloGFSTART}, {0x3000, kOrloInterruptClear},
        {0x9000000, kOrloVmListPointer}, {3, kOrloVmListControl}, {3, kOrloGrabListControl},
        {14, kOrloGVWSTART}, {15, kOrloGVWSTOP}, {0x02000000, kOrloGFSTART}, {0x3000, kOrloInterruptClear},
        {0x9000000 + 6 * 8, kOrloVmListPointer}, {3, kOrloVmListControl}, {3, kOrloGrabListControl},
        {16, kOrloGVWSTART}, {17, kOrloGVWSTOP}, {0x02004000, kOrloGFSTART}, {0x3000, kOrloInterruptClear},
        {0x9000000 + 12 * 8, kOrloVmListPointer}, {3, kOrloVmListControl}, {3, kOrloGrabListControl},
        {0x9000000 + 18 * 8, kOrloVmListPointer}, {3, kOrloVmListControl},
        {10, kOrloGVWSTART}, {11, kOrloGVWSTOP},
        {0x2000, kOrloInterruptSet},
        {0x8000000 + 34 * 8, kOrloGrabListPointer},
        {1, kArpEndRegister},
    };
    ASSERT_EQ(grab_.count, golden.size());
    for (uint32_t i = 0; i < golden.size(); ++i) EXPECT_EQ(Entry(grabMem_, i), golden[i]) << "grab entry " << i;
    EXPECT_EQ(chain_, 33u);
}

TEST_F(HostLists, ARemainderBlockReprogramsTheCopySize)
{
    p_.blocks = p_.blocksBeforeExtra = 3;
    p_.remainder = 1;
    image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmBoardPitch)] = 64;
    image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmHostPitch)] = 640;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    // Block 0 restores the whole block's line count; block 3 copies the one line left.
    EXPECT_EQ(Entry(vmMem_, 0), (E{1u, kOrloVmLastLine}));
    const uint32_t partial = 1 + 6 + 6 + 6;
    EXPECT_EQ(Entry(vmMem_, partial), (E{15u, kOrloVmHStop}));
    EXPECT_EQ(Entry(vmMem_, partial + 1), (E{64u, kOrloVmBoardPitch}));
    EXPECT_EQ(Entry(vmMem_, partial + 2), (E{640u, kOrloVmHostPitch}));
    EXPECT_EQ(Entry(vmMem_, partial + 3), (E{0u, kOrloVmLastLine}));
    EXPECT_EQ(Entry(vmMem_, partial + 4), (E{0x02004000u, kOrloVmBoardStart}));
    // Its window is one line.
    bool found = false;
    for (uint32_t i = 0; i + 1 < grab_.count; ++i)
        if (Entry(grabMem_, i) == E{16u, kOrloGVWSTART}) {
            EXPECT_EQ(Entry(grabMem_, i + 1), (E{16u, kOrloGVWSTOP}));
            found = true;
        }
    EXPECT_TRUE(found);
}

TEST_F(HostLists, AZoomCopiesEachBlockToZoomManyLines)
{
    p_.vZoom = 2;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    EXPECT_EQ(Entry(vmMem_, 0), (E{1u, kOrloVmLastLine}));
    EXPECT_EQ(Entry(vmMem_, 1), (E{0x02000000u, kOrloVmBoardStart}));
    EXPECT_EQ(Entry(vmMem_, 2), (E{0x100000u, kOrloVmHostStart}));
    EXPECT_EQ(Entry(vmMem_, 6), (E{0x02000000u, kOrloVmBoardStart}));
    EXPECT_EQ(Entry(vmMem_, 7), (E{0x100000u + 640u, kOrloVmHostStart}));
}

TEST_F(HostLists, TheSecondFieldGoesToTheLinesBetween)
{
    p_.fieldMode = p_.secondField = 1;
    p_.destStep = 2 * 2 * 640;
    r_.fieldTapAddress[0] = 0x100000 + 640;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    ASSERT_EQ(vm_.count, 8u * 6u + 1u);
    for (uint32_t f = 0; f < 2; ++f)
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t at = 6 * (4 * f + k);
            // The halves go on alternating through the second field.
            EXPECT_EQ(Entry(vmMem_, at)[0], k % 2 ? 0x02004000u : 0x02000000u) << f << " " << k;
            EXPECT_EQ(Entry(vmMem_, at + 1)[0], 0x100000u + f * 640u + k * 2560u) << f << " " << k;
        }
    // The second field's blocks take the same field lines again (and the end puts the first
    // block's window back).
    uint32_t starts = 0;
    for (uint32_t i = 0; i < grab_.count; ++i)
        if (Entry(grabMem_, i) == E{10u, kOrloGVWSTART}) ++starts;
    EXPECT_EQ(starts, 3u);
}

// Blocks after the window are grabbed but not copied: both go into the half of the first of
// them, never into the half whose copy was handed over last.
TEST_F(HostLists, TheBlocksAfterTheWindowShareOneHalf)
{
    p_.blocks = 6;
    p_.extraBlocks = 1;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    std::vector<uint32_t> starts;
    for (uint32_t i = 0; i < grab_.count; ++i)
        if (Entry(grabMem_, i)[1] == kOrloGFSTART) starts.push_back(grabMem_[2 * i]);
    EXPECT_EQ(starts, (std::vector<uint32_t>{0x02000000u, 0x02004000u, 0x02000000u, 0x02004000u, 0x02000000u,
                                             0x02000000u}));
    // Their windows follow the image's lines; only the four blocks of the window are copied.
    EXPECT_EQ(vm_.count, 4u * 6u + 1u);
}

// The copy engine takes host address bits 27-31 from a register of its own: a destination
// across a 128 MB boundary sets them at the start of each block's copy and wherever they
// change; one within a page leaves them as the grab registers loaded them.
TEST_F(HostLists, ADestinationAcrossA128MegabyteBoundarySetsTheHighAddressBits)
{
    r_.tapAddress[0] = 0x7FFF800;
    r_.pageEntries = 1;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    ASSERT_EQ(vm_.count, 4u * 7u + 1u);
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t at = 7 * k;
        const uint32_t destination = 0x7FFF800u + k * 1280u;
        EXPECT_EQ(Entry(vmMem_, at + 1), (E{(destination >> 27) << 1, kOrloVmHostPage})) << k;
        EXPECT_EQ(Entry(vmMem_, at + 2), (E{destination & 0x7FFFFFFu, kOrloVmHostStart})) << k;
    }
    EXPECT_EQ(Entry(vmMem_, 22)[0], 2u);   // block 3 lies above the boundary
    // Within one page no such entry is written.
    r_.pageEntries = 0;
    ASSERT_EQ(Build(200, 200), 0) << Text();
    for (uint32_t i = 0; i < vm_.count; ++i) EXPECT_NE(Entry(vmMem_, i)[1], kOrloVmHostPage) << i;
}

TEST_F(HostLists, OverflowsAreFoundBeforeAnEntryIsWritten)
{
    // A list is full one entry before its capacity: nothing is written at or past it.
    EXPECT_EQ(Build(200, 10), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), "Arp VM overflow");
    EXPECT_EQ(vm_.count, 9u);
    EXPECT_EQ(vmMem_[18], 0xA5A5A5A5u);
    EXPECT_EQ(vmMem_[20], 0xA5A5A5A5u);
    res_ = MP_RESOURCE_ST{};
    EXPECT_EQ(Build(20, 200), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), "Arp Grab overflow");
    EXPECT_EQ(grab_.count, 19u);
    EXPECT_EQ(grabMem_[38], 0xA5A5A5A5u);
    // The 35 grab and 25 VM entries of this grab need room for 36 and 26.
    res_ = MP_RESOURCE_ST{};
    EXPECT_EQ(Build(36, 26), 0) << Text();
    EXPECT_EQ(Build(35, 26), -1);
    EXPECT_EQ(Text(), "Arp Grab overflow");
    res_ = MP_RESOURCE_ST{};
    EXPECT_EQ(Build(36, 25), -1);
    EXPECT_EQ(Text(), "Arp VM overflow");
}

TEST(HostSubBlock, TheRestartEntriesInTheirOrder)
{
    uint32_t image[kGrbImageWords] = {};
    image[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVtControl)] = 0x4C7;
    grbimg::Reg(image, grbimg::GRABCTRL) = 0xC04003;
    uint32_t work[14] = {};
    SetupSubBlock(work, image, 0x1234560);
    const uint32_t regs[7] = {kOrloVtControl,       kOrloVmListControl,   kOrloInterruptClear, kOrloGrabControl,
                              kOrloGrabListPointer, kOrloInterruptClear, kOrloVmListControl};
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(work[2 * i + 1], regs[i]) << i;
    EXPECT_EQ(work[0], 0x4C4u);          // start, without the reset and bit 1
    EXPECT_EQ(work[6], 0xC04004u);       // one frame armed
    EXPECT_EQ(work[8], 0x1234560u);
}

// ---- two grabs on one thread --------------------------------------------------------------------

class HostGrabTest : public inttest::IntServerTest {
protected:
    void SetUp() override
    {
        inttest::IntServerTest::SetUp();
        if (HasFatalFailure()) return;
        res_.node = kNode;
        res_.record = record_;
        res_.name = "DigGrab";
        block_->hostGrabFirstPath = 1;
        SERVINFO_ST* path = Header(0);
        for (uint32_t i = 0; i < 8; ++i) temp_[i] = Board(16384, 1);
        for (uint32_t i = 0; i < 8; ++i) path->hostGrab[i] = temp_[i];
        cam_ = std::make_unique<_MP_CAM_ST_0>();
        std::memset(cam_.get(), 0, sizeof(_MP_CAM_ST_0));
        Info(cam0::INFO_XSIZE, 640);
        Info(cam0::INFO_YSIZE, 480);
        Info(cam0::INFO_TYPE, 3);
        Info(cam0::INFO_CHANNEL, 0x10000);
        Info(cam0::INFO_XTAPSPERCH, 1);
        Info(cam0::INFO_YTAPSPERCH, 1);
        Info(cam0::INFO_XTAPSPERCHADJ, 1);
        Info(cam0::INFO_YTAPSPERCHADJ, 1);
        dest_ = mp_buf_alloc_on_node(kNode, 640, 480, 1, 8, kLocHostDma);
        ASSERT_NE(dest_, nullptr);
    }
    void TearDown() override
    {
        FreeNodeGrabGlobals();
        boardsim::BoardSim::instance().setReadFilter(nullptr);
        inttest::IntServerTest::TearDown();
    }
    // A one-band board buffer described at a board address (only its address is used).
    uint32_t Board(int32_t x, int32_t y)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, x, y, 1, 8, kLocHostDma);
        EXPECT_NE(b, nullptr);
        if (!b) return 0;
        b->location = kLocSdram;
        b->bandTable[0].mapped = 0;
        b->bandTable[0].physical = 0x02000000 + next_;
        next_ += b->pitch * static_cast<uint32_t>(y);
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b));
    }
    void Info(uint32_t offset, uint32_t value) { CamSlotAt(cam_.get(), offset)->value = value; }
    void FreshImage()
    {
        std::memset(image_, 0, sizeof image_);
        grbimg::Reg(image_, grbimg::GHWSTART) = 16;
        grbimg::Reg(image_, grbimg::GHWSTOP) = 16 + 639;
        grbimg::Reg(image_, grbimg::GVWSTART) = 4;
        grbimg::Reg(image_, grbimg::GVWSTOP) = 4 + 479;
        grbimg::Reg(image_, grbimg::GVTOTAL) = 524;
        grbimg::Reg(image_, grbimg::GRABCTRL) = 0xC00004;
    }
    int Grab(int* chained, _MP_BUF_ST* destination = nullptr)
    {
        FreshImage();
        return hostGrab(&res_, destination ? destination : dest_, image_, cam_.get(), nullptr, chained,
                        Header(0)->hostGrab);
    }
    // The grab list control reads `value` (the real register is left alone).
    void ListControlReads(std::function<uint32_t()> value)
    {
        boardsim::BoardSim::instance().setReadFilter([value](const boardsim::HwAccess& a) {
            if (a.area == boardsim::HwArea::PrimaryRegs && a.offset == kOrloGrabListControl) return value();
            return a.value;
        });
    }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }

    uint32_t next_ = 0;
    uint32_t temp_[8] = {};
    MP_RESOURCE_ST res_{};
    std::unique_ptr<_MP_CAM_ST_0> cam_;
    _MP_BUF_ST* dest_ = nullptr;
    uint32_t image_[kGrbImageWords] = {};
};

TEST_F(HostGrabTest, TheFirstGrabProgramsTheFirstBlockAndItsLists)
{
    int chained = 7;
    ASSERT_EQ(hostGrab(&res_, dest_, (FreshImage(), image_), cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0)
        << Text();
    EXPECT_EQ(chained, 0);
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->work, nullptr);   // the work allocation is given back
    // 16384 bytes hold 25 lines of 640: 24 lines, 20 blocks.
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVWSTART), 4u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVWSTOP), 27u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GLPITCH) & 0x3FFFFFF, 640u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GARPCTRL) & 3, 3u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GARPADDR), rec->grabBus[rec->selector]);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GRABCTRL) & 0x16, 0u);   // no command: the list arms
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmLastLine)], 23u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmHostPitch)], 640u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmListPointer)], rec->vmBus[rec->selector]);
    EXPECT_EQ((image_[grbimg::kVmRestartWord] >> 4) & 0xF, 15u);
    // The grab list ends with the selector and 255.
    const auto* list = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(rec->grabList[rec->selector]));
    const uint32_t chain = (rec->chainBus[rec->selector] - rec->grabBus[rec->selector]) / 8;
    EXPECT_EQ(list[2 * chain + 1], kOrloGrabListPointer);
    EXPECT_EQ(list[2 * chain], rec->chainBus[rec->selector] + 8);   // no chain: the next entry
    EXPECT_EQ(list[2 * chain + 2], rec->selector);
    EXPECT_EQ(list[2 * chain + 3], kArpEndRegister);
}

TEST_F(HostGrabTest, TwoGrabsAlternateListSetsAndTheSecondIsChained)
{
    int chained = 0;
    ASSERT_EQ(Grab(&chained), 0) << Text();
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    ASSERT_NE(rec, nullptr);
    const uint32_t first = rec->selector;
    // The first grab still runs its lists; the second goes into a buffer of another pitch.
    ListControlReads([] { return 3u; });
    _MP_BUF_ST* wide = mp_buf_alloc_on_node(kNode, 704, 480, 1, 8, kLocHostDma);
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(Grab(&chained, wide), 0) << Text();
    EXPECT_EQ(chained, 1);
    const uint32_t second = rec->selector;
    EXPECT_NE(second, first);
    // The first set's chaining word leads to the second set's grab list.
    EXPECT_EQ(*rec->chainWord[first], rec->grabBus[second]);
    EXPECT_NE(rec->grabBus[first], rec->grabBus[second]);
    // The chained lists run with the first grab's registers: each block's copy sets the high
    // bits of its own destination; the first grab's copies leave them to the registers.
    auto pageEntries = [rec](uint32_t set) {
        const auto* vm = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(rec->vmList[set]));
        std::vector<uint32_t> values;
        for (uint32_t i = 0; i < rec->vmCapacity && vm[2 * i + 1] != kArpEndRegister; ++i)
            if (vm[2 * i + 1] == kOrloVmHostPage) values.push_back(vm[2 * i]);
        return values;
    };
    const uint32_t page = ((static_cast<uint32_t>(wide->bandTable[0].physical) >> 27) & 0x1F) << 1;
    EXPECT_TRUE(pageEntries(first).empty());
    EXPECT_EQ(pageEntries(second), std::vector<uint32_t>(20, page));   // 20 blocks
    // Nor do they hold the second grab's line layout: its lists load it before the first
    // block is grabbed (the line pitch of the 640-byte lines in the temporary buffer) and
    // before the first copy (the destination pitch 704, 24 lines a copy of 640 bytes).
    auto before = [](uint32_t list, uint32_t capacity, uint32_t until, uint32_t reg) {
        const auto* e = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(list));
        for (uint32_t i = 0; i < capacity && e[2 * i + 1] != until; ++i)
            if (e[2 * i + 1] == reg) return static_cast<int64_t>(e[2 * i]);
        return int64_t{-1};
    };
    EXPECT_EQ(before(rec->vmList[second], rec->vmCapacity, kOrloVmBoardStart, kOrloVmHostPitch), 704);
    EXPECT_EQ(before(rec->vmList[second], rec->vmCapacity, kOrloVmBoardStart, kOrloVmLastLine), 23);
    EXPECT_EQ(before(rec->vmList[second], rec->vmCapacity, kOrloVmBoardStart, kOrloVmHStop), 159);
    EXPECT_EQ(before(rec->grabList[second], rec->grabCapacity, kOrloGVWSTART, kOrloGLPITCH), 640);
    EXPECT_EQ(before(rec->vmList[first], rec->vmCapacity, kOrloVmBoardStart, kOrloVmHostPitch), -1);
    EXPECT_EQ(before(rec->grabList[first], rec->grabCapacity, kOrloGVWSTART, kOrloGLPITCH), -1);
    mp_buf_free(wide);
    // Idle again: the next grab starts fresh in the other set.
    ListControlReads([] { return 0u; });
    ASSERT_EQ(Grab(&chained), 0) << Text();
    EXPECT_EQ(chained, 0);
    EXPECT_EQ(rec->selector, first);
}

TEST_F(HostGrabTest, AChainThatComesTooLateIsRedoneAsAFreshGrab)
{
    int chained = 0;
    ASSERT_EQ(Grab(&chained), 0) << Text();
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    const uint32_t first = rec->selector;
    // Running when the grab looks, ended by the time the chain is written.
    int reads = 0;
    ListControlReads([&reads] { return ++reads <= 2 ? 3u : 0u; });
    ASSERT_EQ(Grab(&chained), 0) << Text();
    EXPECT_EQ(chained, 0);
    EXPECT_NE(rec->selector, first);
    // The ended list's chaining word is back to its own next entry.
    EXPECT_EQ(*rec->chainWord[first], rec->chainBus[first] + 8);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GARPADDR), rec->grabBus[rec->selector]);
    // Redone once: two looks and the check after the chain, then one look of the fresh grab.
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(rec->work, nullptr);
}

TEST_F(HostGrabTest, TheOrloPhaseLoadsTheFirstBlockAndStartsTheGrabList)
{
    MpGrabArgs args{};
    args.count = 1;
    DIGPARAM p{};
    p.node = kNode;
    p.res = &res_;
    p.record = record_;
    p.path = Header(0);
    p.pathIndex = 0;
    p.args = &args;
    p.cam = cam_.get();
    p.destination = dest_;
    Info(cam0::INFO_BITSPERLOGCH, 8);
    Info(cam0::INFO_TIMEMULTICH, 1);
    Info(cam0::INFO_TRIGSRC, 0x20000000);
    Info(cam0::ORLOGREG_GHWSTART, 16);
    Info(cam0::ORLOGREG_GHWSTOP, 16 + 639);
    Info(cam0::ORLOGREG_GVWSTART, 4);
    Info(cam0::ORLOGREG_GVWSTOP, 4 + 479);
    Info(cam0::ORLOGREG_GHTOTAL, 798);
    Info(cam0::ORLOGREG_GVTOTAL, 524);
    Trace();
    ASSERT_EQ(grbSetOrlo(&p, 0x10000, kGrbDefault), 0) << Text();
    std::free(p.work);
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    ASSERT_NE(rec, nullptr);
    // The grab list's address, then its start; the first block's window and frame start.
    const std::vector<uint32_t> addresses = Writes(kOrloGrabListPointer);
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.back(), rec->grabBus[rec->selector]);
    const std::vector<uint32_t> starts = Writes(kOrloGrabListControl);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.back() & 3, 3u);
    EXPECT_EQ(Writes(kOrloGVWSTOP).back(), 27u);
    EXPECT_EQ(Writes(kOrloGFSTART).back() & 0x3FFFFFF, 0x02000000u);
    // The copy geometry: 640 bytes a line in units of 4, 24 lines, the pitches.
    EXPECT_EQ(Writes(kOrloVmHStop).back(), 159u);
    EXPECT_EQ(Writes(kOrloVmFormat).back() & 7, 3u);
    EXPECT_EQ(Writes(kOrloVmLastLine).back(), 23u);
    EXPECT_EQ(Writes(kOrloVmBoardPitch).back(), 640u);
    EXPECT_EQ(Writes(kOrloVmHostPitch).back(), 640u);
    EXPECT_EQ(Writes(kOrloVmListPointer).back(), rec->vmBus[rec->selector]);
    // The VM timing control is reset and left without a start: the VM list starts copies.
    const std::vector<uint32_t> timing = Writes(kOrloVtControl);
    ASSERT_GE(timing.size(), 2u);
    EXPECT_EQ(timing[timing.size() - 2] & 1, 1u);
    EXPECT_EQ(timing.back() & 7, 0u);
    EXPECT_EQ((timing.back() >> 8) & 15, 4u);
    // The grab control armed by the library carries no command bit: the list arms.
    for (uint32_t v : Writes(kOrloGrabControl)) EXPECT_EQ(v & 0x6, 0u) << std::hex << v;
}

TEST_F(HostGrabTest, AContinuousGrabLoopsOnItsListUntilItsEndIsNamed)
{
    int chained = 0;
    FreshImage();
    grbimg::Reg(image_, grbimg::GRABCTRL) = 0xC00002;   // continuous
    ASSERT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0) << Text();
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    const uint32_t set = rec->selector;
    EXPECT_EQ(*rec->chainWord[set], rec->grabBus[set]);
    // The path names the chaining entry and the end entry for the grab's end to break the loop.
    SERVINFO_ST* path = Header(0);
    EXPECT_EQ(path->listDescriptor, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(rec->chainWord[set])));
    EXPECT_EQ(path->listEnd, rec->chainBus[set] + 8);
    const auto* end = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(path->listEnd - rec->grabBus[set] +
                                                                                  rec->grabList[set]));
    EXPECT_EQ(end[1], kArpEndRegister);
    // A single grab afterwards names none.
    ASSERT_EQ(Grab(&chained), 0) << Text();
    EXPECT_EQ(path->listDescriptor, 0u);
    EXPECT_EQ(path->listEnd, 0u);
}

// The window registers count the engine's lines, each of which brings every tap: a block is
// L window lines, and each tap's plane takes L lines of it.
TEST_F(HostGrabTest, TapCamerasTakeLWindowLinesPerBlockIntoEachTapsPlane)
{
    int chained = 0;
    const uint32_t base = static_cast<uint32_t>(dest_->bandTable[0].physical) & 0x7FFFFFF;
    // The first two copies of the VM list: tap 0 and tap 1 of block 0.
    auto firstDestinations = [this] {
        _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
        const auto* vm = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(rec->vmList[rec->selector]));
        std::vector<uint32_t> found;
        for (uint32_t i = 0; i < rec->vmCapacity && found.size() < 2; ++i)
            if (vm[2 * i + 1] == kOrloVmHostStart) found.push_back(vm[2 * i]);
        return found;
    };
    // Line taps: 240 window lines bring 480 camera lines; 24 lines a block into each tap's
    // buffer, tap 1 on the line below tap 0, both stepping two destination lines a line.
    Info(cam0::INFO_YTAPSPERCHADJ, 2);
    FreshImage();
    grbimg::Reg(image_, grbimg::GVWSTOP) = 4 + 239;
    ASSERT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0) << Text();
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVWSTART), 4u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVWSTOP), 4u + 24u - 1u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmLastLine)], 23u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmHostPitch)], 2u * 640u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GC1FOFF) & 0x3FFFFFF, 16384u);   // tap 1 in its own buffer
    EXPECT_EQ(firstDestinations(), (std::vector<uint32_t>{base, base + 640u}));
    // Part taps: the same window brings the two halves of the image; tap 1 goes to the lower.
    Info(cam0::INFO_YTAPSPERCHADJ, 1);
    Info(cam0::INFO_YTAPSPERCH, 2);
    FreshImage();
    grbimg::Reg(image_, grbimg::GVWSTOP) = 4 + 239;
    ASSERT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0) << Text();
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVWSTOP), 4u + 24u - 1u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmLastLine)], 23u);
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmHostPitch)], 640u);
    EXPECT_EQ(firstDestinations(), (std::vector<uint32_t>{base, base + 240u * 640u}));
}

// Two fields of three blocks each hold more entries than the block counts give them room
// for: the lists are made as large as they are, and the grab goes on.
TEST_F(HostGrabTest, TwoFieldsOfThreeBlocksFindRoomInTheirLists)
{
    int chained = 0;
    Info(cam0::INFO_MODE, 1);
    FreshImage();
    // 120 lines, 60 a field: three blocks of 20; no blanking after the window.
    grbimg::Reg(image_, grbimg::GVWSTOP) = 4 + 119;
    grbimg::Reg(image_, grbimg::GVTOTAL) = 4 + 120;
    grbimg::Reg(image_, grbimg::GRABCTRL) |= kGctlFrame;
    _HOST_TEMP_PARAMETER_ST p{};
    p.blocks = 3;
    p.secondField = 1;
    p.vZoom = 1;
    p.tapCount = 1;
    uint32_t grabEntries = 0, vmEntries = 0;
    HostListSizes(&p, &grabEntries, &vmEntries);
    ASSERT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0) << Text();
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    ASSERT_NE(rec, nullptr);
    // Six copies of six entries and the end: more than the 35 the block counts give.
    EXPECT_EQ(vmEntries / 2, 35u);
    EXPECT_GE(rec->vmCapacity, 6u * 6u + 2u);
    const auto* vm = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(rec->vmList[rec->selector]));
    uint32_t copies = 0, at = 0;
    while (at < rec->vmCapacity && vm[2 * at + 1] != kArpEndRegister) {
        if (vm[2 * at + 1] == kOrloVmHostStart) ++copies;
        ++at;
    }
    EXPECT_EQ(copies, 6u);
    EXPECT_LT(at, rec->vmCapacity);
}

TEST_F(HostGrabTest, RefusedCombinationsAndTheirCodes)
{
    int chained = 0;
    // Tap code 0x1114 with a vertical reduction of 6.
    Info(cam0::INFO_YTAPSPERCHADJ, 4);
    FreshImage();
    grbimg::Reg(image_, grbimg::GVSCLNG) = 5;
    EXPECT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    // With 8 it grabs with a reduction of 2: 120 lines, every second one copied.
    res_ = MP_RESOURCE_ST{};
    res_.node = kNode;
    res_.record = record_;
    FreshImage();
    grbimg::Reg(image_, grbimg::GVSCLNG) = 7;
    grbimg::Reg(image_, grbimg::GPIXFMT) = 0x308;   // four samples, one a tap
    ASSERT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), 0) << Text();
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GVSCLNG) & 0x3F, 0u);
    EXPECT_EQ(grbimg::Reg(image_, grbimg::GPIXFMT), 0x008u);   // one sample left
    EXPECT_EQ(image_[grbimg::kVmFirstWord + 2 * HostVmSlot(kOrloVmBoardPitch)], 2u * 640u);
    // A vertical zoom of 3.
    Info(cam0::INFO_YTAPSPERCHADJ, 1);
    FreshImage();
    grbimg::Reg(image_, grbimg::GVSCLNG) = 0x20;
    EXPECT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, Header(0)->hostGrab), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    // Temporary buffers too small for a line.
    res_ = MP_RESOURCE_ST{};
    res_.node = kNode;
    res_.record = record_;
    uint32_t small[8];
    for (uint32_t& w : small) w = Board(100, 1);
    FreshImage();
    EXPECT_EQ(hostGrab(&res_, dest_, image_, cam_.get(), nullptr, &chained, small), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(Text(), "Grab temporary buffer too small");
}

TEST_F(HostGrabTest, TheThreadsRecordIsFreedAndMadeAgain)
{
    int chained = 0;
    ASSERT_EQ(Grab(&chained), 0) << Text();
    ASSERT_NE(GetNodeGrabGlobals(), nullptr);
    FreeNodeGrabGlobals();
    EXPECT_EQ(GetNodeGrabGlobals(), nullptr);
    EXPECT_EQ(NodeHstGrabGlobals, nullptr);
    ASSERT_EQ(Grab(&chained), 0) << Text();
    ASSERT_NE(GetNodeGrabGlobals(), nullptr);
    // Another thread's record is its own, and goes when that thread ends.
    std::thread other([] {
        SetNodeGrabGlobals();
        EXPECT_NE(GetNodeGrabGlobals(), nullptr);
    });
    other.join();
    uint32_t records = 0;
    for (_NODE_GRAB_GLOBALS* r = NodeHstGrabGlobals; r; r = r->next) ++records;
    EXPECT_EQ(records, 1u);
}

TEST_F(HostGrabTest, TemporaryBuffersTakeTheIniSizeWhenTheNodeNamesNone)
{
    SERVINFO_ST* path = Header(0);
    for (uint32_t& w : path->hostGrab) w = 0;
    block_->hostGrabWidth = 0;
    mpPrvInitTmpBufferForHostGrab(inttest::kDevice);
    EXPECT_EQ(block_->hostGrabWidth, 16384u);
    for (uint32_t i = 0; i < 8; ++i) {
        const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(path->hostGrab[i]));
        if (!b) continue;   // board memory may be short in this node
        EXPECT_EQ(b->sizeX, 16384) << i;
    }
}

}  // namespace
