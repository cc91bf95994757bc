// Second-family grabs: the block plan, the buffer-controller values and the entries of the
// transfer lists, built into host memory with PCI addresses equal to the host addresses.
#include "bufchild.h"
#include "camrec.h"
#include "eeprom.h"
#include "grab.h"
#include "grabengine.h"
#include "heap.h"
#include "hlc_errors.h"
#include "intserver.h"
#include "intserverio.h"
#include "kvxgrab.h"
#include "kvxio.h"
#include "kvxlut.h"
#include "../lutfixture.h"
#include "reqres.h"
#include "servinfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// ---- block plan ----------------------------------------------------------------------------

TEST(KvxPlan, VgaEightBitSplitsIntoTwentyBlocksOfTwentyFourLines)
{
    KVX_BLOCK_PLAN plan{};
    ASSERT_EQ(mpPrvKvxPlan(640, 480, 8, 0, &plan), 0);
    EXPECT_EQ(plan.lineBytes, 640u);
    // 16384 / 640 = 25 lines leave 5 (< 12) in a last block: 24 lines divide 480.
    EXPECT_EQ(plan.lines, 24u);
    EXPECT_EQ(plan.blocks, 20u);
    EXPECT_EQ(plan.blockBytes, 24u * 640u);
    EXPECT_EQ(plan.perHalfMeg, 0x80000u / (24u * 640u));
    EXPECT_EQ(plan.lists, 1u);
    const KVX_BTC_VALUES v = mpPrvKvxBtcValues(plan);
    EXPECT_EQ(v.gdbuf, 1u);
    EXPECT_EQ(v.wrpt, 640u / 4 - 2);
    EXPECT_EQ(v.rdpt, v.wrpt);
    EXPECT_EQ(v.gline, 23u);
    EXPECT_EQ(v.gblck, 19u);
    EXPECT_EQ(v.dfull, 19u);
    EXPECT_EQ(v.dblck, 0u);
}

TEST(KvxPlan, TwentyFourBitPixelsTakeFourBytes)
{
    KVX_BLOCK_PLAN plan{};
    ASSERT_EQ(mpPrvKvxPlan(640, 480, 24, 0, &plan), 0);
    EXPECT_EQ(plan.bytesPerPixel, 4u);
    EXPECT_EQ(plan.lineBytes, 2560u);
    EXPECT_EQ(plan.lines, 6u);
    EXPECT_EQ(plan.blocks, 80u);
    ASSERT_EQ(mpPrvKvxPlan(100, 10, 10, 0, &plan), 0);
    EXPECT_EQ(plan.bytesPerPixel, 2u) << "a bit count that is not a multiple of 8 takes one byte more";
    EXPECT_EQ(plan.lineBytes, 200u);
}

TEST(KvxPlan, InterlacedDoublesTheBufferAndMarksTheFullCount)
{
    KVX_BLOCK_PLAN plan{};
    ASSERT_EQ(mpPrvKvxPlan(640, 480, 8, 1, &plan), 0);
    const KVX_BTC_VALUES v = mpPrvKvxBtcValues(plan);
    EXPECT_EQ(v.gdbuf, 3u);
    EXPECT_EQ(v.dfull, (plan.blocks - 1) | 0x200u);
    EXPECT_EQ(v.gblck, (plan.blocks >> 1) - 1);
}

TEST(KvxPlan, AnUnevenHeightGetsOneBlockMore)
{
    KVX_BLOCK_PLAN plan{};
    ASSERT_EQ(mpPrvKvxPlan(640, 490, 8, 0, &plan), 0);
    // 25 lines: 19 blocks leave 15 >= 12 lines for a last, partial block.
    EXPECT_EQ(plan.lines, 25u);
    EXPECT_EQ(plan.blocks, 20u);
    EXPECT_GE(plan.blocks * plan.lines, 490u);
    ASSERT_EQ(mpPrvKvxPlan(640, 490, 8, 1, &plan), 0);
    EXPECT_EQ(plan.blocks, 21u) << "interlaced: one block more for the second field";
}

TEST(KvxPlan, PlansThatCannotBeBuiltAreRefused)
{
    KVX_BLOCK_PLAN plan{};
    EXPECT_EQ(mpPrvKvxPlan(0, 480, 8, 0, &plan), -1) << "an empty line divides nothing";
    EXPECT_EQ(mpPrvKvxPlan(20000, 480, 8, 0, &plan), -1) << "a line above the line buffer";
    // One 4-byte line per entry: 4096 lines per block.
    EXPECT_EQ(mpPrvKvxPlan(1, 4096u * 4064u, 8, 0, &plan), 0);
    EXPECT_EQ(plan.blocks, 4064u);
    EXPECT_EQ(mpPrvKvxPlan(1, 4096u * 4065u, 8, 0, &plan), -1) << "more than 4064 blocks";
    EXPECT_EQ(mpPrvKvxPlan(640, 480, 8, 0, nullptr), -1);
}

TEST(KvxPlan, WindowBlocksAndRemainders)
{
    KVX_BLOCK_PLAN plan{};
    ASSERT_EQ(mpPrvKvxPlan(640, 480, 8, 0, &plan), 0);
    mpPrvKvxPlanWindow(&plan, 30, 479);
    EXPECT_EQ(plan.startBlock, 1u);
    EXPECT_EQ(plan.startRemainder, 6u);
    EXPECT_EQ(plan.endBlock, 19u);
    EXPECT_EQ(plan.endRemainder, 23u);
}

// ---- lists ---------------------------------------------------------------------------------

// One arena holds the bank and the list buffers; a PCI address is the offset in it plus a
// base, so that list entries (26-bit addresses) name every position.
constexpr uint32_t kPciBase = 0x200000;
std::vector<uint8_t>& Arena()
{
    static std::vector<uint8_t> arena(4u << 20);
    return arena;
}
uint32_t Host(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
uint32_t ToPci(uint32_t address)
{
    return address - Host(Arena().data()) + kPciBase;
}
uint32_t ToHost(uint32_t pci)
{
    return pci - kPciBase + Host(Arena().data());
}

// Host memory standing in for the bank and the list buffers.
struct Lists {
    uint32_t bank[5] = {};
    uint32_t grab = 0, dma = 0;
    uint32_t grabBytes = 0, dmaBytes = 0;
    uint32_t image[kGrbImageWords] = {};
    KVX_BLOCK_PLAN plan{};
    KVX_LIST_INPUT in{};

    explicit Lists(uint32_t height = 480, int32_t count = 1, uint32_t channel = 0, uint32_t interlaced = 0)
    {
        std::fill(Arena().begin(), Arena().end(), 0);
        uint32_t at = Host(Arena().data());
        for (uint32_t e = 0; e < 5; ++e) {
            bank[e] = at;
            at += (kKvxEntryBytes[e] + 15) & ~15u;
        }
        mpPrvKvxPlan(640, height, 8, interlaced, &plan);
        grabBytes = mpPrvKvxGrabListBytes(plan);
        dmaBytes = mpPrvKvxDmaListBytes(plan);
        grab = at;
        dma = grab + ((grabBytes + 15) & ~15u);
        clearMem(grabBytes, reinterpret_cast<void*>(static_cast<uintptr_t>(grab)));
        clearMem(dmaBytes, reinterpret_cast<void*>(static_cast<uintptr_t>(dma)));
        Reg(grbimg::GFSTART) = 0x100000;
        Reg(grbimg::GLPITCH) = 640;
        Reg(grbimg::GVWSTART) = 0;
        Reg(grbimg::GVWSTOP) = height - 1;
        Reg(grbimg::GPIXFMT) = 0x1234;
        Reg(grbimg::GHTOTAL) = 639;
        in.plan = &plan;
        in.image = image;
        in.bitsPerChannel = 8;
        in.channel = channel;
        in.count = count;
        in.orloControl = 0x12002;
        for (uint32_t e = 0; e < 5; ++e) in.bank[e] = bank[e];
        in.doorbellFirstBlock = true;
        in.dmaDoorbell = false;
        in.moduleAck = true;
        in.pci = ToPci;
    }
    uint32_t& Reg(grbimg::GrabReg r) { return image[2 * r]; }
    // The channel's grab map and end-of-frame map in bank buffer 1.
    uint32_t Map() const { return bank[1] + 32768 * in.channel; }
    uint32_t DmaMap() const { return bank[1] + 65536 + 32768 * in.channel; }
    static ARP_ENTRY At(uint32_t address)
    {
        ARP_ENTRY e{};
        std::memcpy(&e, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), sizeof e);
        return e;
    }
    // The program a jump value (a PCI address) leads to, entry by entry up to its closing jump.
    static std::vector<ARP_ENTRY> Program(uint32_t pci)
    {
        std::vector<ARP_ENTRY> out;
        for (uint32_t a = ToHost(pci);; a += 8) {
            out.push_back(At(a));
            if (out.back().command == kArpJump || out.size() > 64) break;
        }
        return out;
    }
    static uint32_t Find(const std::vector<ARP_ENTRY>& p, uint32_t command)
    {
        for (const ARP_ENTRY& e : p)
            if (e.command == command) return e.value;
        return 0xFFFFFFFFu;
    }
};

constexpr uint32_t kGfstart = kArpVmReg + 0x40;
constexpr uint32_t kGlpitch = kArpVmReg + 0x48;
constexpr uint32_t kGblength = kArpVmReg + 0x00;
constexpr uint32_t kGvtotal = kArpGrabReg + 0x40;
constexpr uint32_t kGvwstart = kArpGrabReg + 0x48;
constexpr uint32_t kGvwstop = kArpGrabReg + 0x50;
constexpr uint32_t kGrabctrl = kArpGrabReg + 0x30;

TEST(KvxLists, EveryBlockWritesItsOwnLinesAndJumpsBackToTheMap)
{
    Lists l;
    const uint32_t list = l.grab;
    const uint32_t end = grabARP(l.in, list);
    EXPECT_LE(end, list + l.grabBytes) << "the programs stay inside the list buffer";
    const uint32_t mapStart = l.Map();
    for (uint32_t b = 0; b < l.plan.blocks; ++b) {
        const ARP_ENTRY map = Lists::At(mapStart + 8 * b);
        ASSERT_EQ(map.command, kArpJump) << b;
        EXPECT_GE(ToHost(map.value), list) << "the program lies in the list buffer";
        EXPECT_LT(ToHost(map.value), list + l.grabBytes);
        const auto p = Lists::Program(map.value);
        EXPECT_EQ(p.front().command, kArpOrloControl);
        EXPECT_EQ(p.front().value, (0x12002u | 0x800000u) & ~0x2000u) << "bit 23 set, bit 13 clear";
        EXPECT_EQ(Lists::Find(p, kGfstart), 0x100000u + b * 24u * 640u) << b;
        EXPECT_EQ(Lists::Find(p, kGlpitch), 640u);
        EXPECT_EQ(Lists::Find(p, kGvtotal), 23u);
        EXPECT_EQ(Lists::Find(p, kGvwstart), 0u);
        EXPECT_EQ(Lists::Find(p, kGvwstop), 23u);
        EXPECT_EQ(Lists::Find(p, kGblength), 6u) << "below 17 bits per channel";
        EXPECT_EQ(Lists::Find(p, kArpGrabReg + 0x28), 0x1234u) << "GPIXFMT from the image";
        EXPECT_EQ(Lists::Find(p, kArpDoorbell), b == 0 ? 0x80u : 0xFFFFFFFFu) << "only the first block rings";
        // After the last block the grab goes on in the start-up list's second half, which
        // takes the last block, rings and follows the end-of-frame dispatch: no terminator.
        const uint32_t next = b + 1 < l.plan.blocks ? mapStart + 8 * (b + 1) : l.bank[1] + 32512 + 8;
        EXPECT_EQ(p.back().value, ToPci(next)) << "back to the next map entry, after the last to the frame's end";
        EXPECT_LE(p.size() * 8, 256u);
    }
    EXPECT_EQ(Lists::At(mapStart + 8 * l.plan.blocks).command, 0u) << "nothing written after the map";
    EXPECT_EQ(Lists::At(l.bank[0] + 520).command, 0u) << "the module's dispatch words are not the builder's";
}

// The largest plan: channel 0's map of 4064 blocks fills bank buffer 1 up to the start-up
// list, whose entries stay as the bank set them up.
TEST(KvxLists, AMapOfTheMostBlocksLeavesTheStartUpListWhole)
{
    Lists l(24 * 4064);
    ASSERT_EQ(l.plan.blocks, 4064u);
    const uint32_t startup = l.bank[1] + 32512;
    const ARP_ENTRY first{0x1234567, kArpJump};
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(startup)), &first, sizeof first);
    const uint32_t end = grabARP(l.in, l.grab);
    EXPECT_LE(end, l.grab + l.grabBytes);
    const ARP_ENTRY kept = Lists::At(startup);
    EXPECT_EQ(kept.command, kArpJump);
    EXPECT_EQ(kept.value, 0x1234567u) << "the start-up list's first entry";
    const ARP_ENTRY last = Lists::At(l.Map() + 8 * 4063);
    ASSERT_EQ(last.command, kArpJump);
    EXPECT_EQ(Lists::Program(last.value).back().value, ToPci(startup + 8)) << "the last block ends the frame";
    // The last block's lines: 24 x 4063 lines below the frame start.
    EXPECT_EQ(Lists::Find(Lists::Program(last.value), kGfstart), 0x100000u + 4063u * 24u * 640u);
}

TEST(KvxLists, EachChannelHasItsOwnMapsInBankBufferOne)
{
    Lists l(480, 1, 1);
    grabARP(l.in, l.grab);
    dmaARP(l.in, l.dma);
    EXPECT_EQ(Lists::At(l.bank[1] + 32768).command, kArpJump) << "channel 1's grab map";
    EXPECT_EQ(Lists::At(l.bank[1] + 65536 + 32768).command, kArpJump) << "channel 1's end-of-frame map";
    EXPECT_EQ(Lists::At(l.bank[1]).command, 0u) << "channel 0's maps untouched";
    EXPECT_EQ(Lists::At(l.bank[1] + 65536).command, 0u);
    EXPECT_EQ(Lists::At(l.grab).command, kArpOrloControl) << "the list buffer starts with the first program";
}

TEST(KvxLists, ContinuousGrabEndsEachFrameThroughTheStartUpListWithoutAFirstBlockDoorbell)
{
    Lists l(480, -1);
    grabARP(l.in, l.grab);
    const uint32_t map = l.Map();
    const uint32_t B = l.plan.blocks;
    // Each frame ends with the start-up list's doorbell and goes back to the idle program.
    const auto last = Lists::Program(Lists::At(map + 8 * (B - 1)).value);
    EXPECT_EQ(last.back().value, ToPci(l.bank[1] + 32512 + 8));
    EXPECT_EQ(Lists::At(map + 8 * B).command, 0u) << "the map is not extended";
    EXPECT_EQ(Lists::Find(Lists::Program(Lists::At(map).value), kArpDoorbell), 0xFFFFFFFFu);
}

// A grab of several frames starts and ends at its frames' ends, as an endless one: only a
// single frame's first block rings.
TEST(KvxLists, OnlyASingleFramesFirstBlockRings)
{
    for (int32_t count : {1, 2, 5}) {
        Lists l(480, count);
        grabARP(l.in, l.grab);
        const auto first = Lists::Program(Lists::At(l.Map()).value);
        EXPECT_EQ(Lists::Find(first, kArpDoorbell), count == 1 ? 0x80u : 0xFFFFFFFFu) << count;
    }
}

TEST(KvxLists, BlocksOutsideTheWindowWriteOntoTheScratchLine)
{
    Lists l;
    l.Reg(grbimg::GVWSTART) = 30;
    l.Reg(grbimg::GVWSTOP) = 59;
    grabARP(l.in, l.grab);
    const uint32_t list = l.Map();
    const auto block0 = Lists::Program(Lists::At(list).value);
    EXPECT_EQ(Lists::Find(block0, kGfstart), ToPci(l.in.bank[3]));
    EXPECT_EQ(Lists::Find(block0, kGlpitch), 0u) << "every line lands on the one scratch line";
    const auto block1 = Lists::Program(Lists::At(list + 8).value);
    EXPECT_EQ(Lists::Find(block1, kGfstart), 0x100000u) << "line 30 is the destination's first line";
    EXPECT_EQ(Lists::Find(block1, kGvwstart), 6u);
    const auto block2 = Lists::Program(Lists::At(list + 16).value);
    EXPECT_EQ(Lists::Find(block2, kGfstart), 0x100000u + 18u * 640u);
    EXPECT_EQ(Lists::Find(block2, kGvwstop), 11u);
    const auto block3 = Lists::Program(Lists::At(list + 24).value);
    EXPECT_EQ(Lists::Find(block3, kGfstart), ToPci(l.in.bank[3]));
}

TEST(KvxLists, EndOfBlockProgramsRingAndReturnToTheIdlePrograms)
{
    Lists l;
    l.in.dmaDoorbell = true;
    const uint32_t list = l.dma;
    const uint32_t end = dmaARP(l.in, list);
    EXPECT_LE(end, list + l.dmaBytes);
    for (uint32_t e = 0; e < 2; ++e) {
        const auto p = Lists::Program(Lists::At(l.DmaMap() + 8 * e).value);
        ASSERT_EQ(p.size(), 2u + 21u + 1u);
        EXPECT_EQ(p[0].command, kArpDoorbell);
        EXPECT_EQ(p[0].value, 0x80u);
        EXPECT_EQ(p[1].command, kArpModuleReg);
        EXPECT_EQ(p[1].value, 1u);
        // The idle grab set before the idle program: its status line lands in bank buffer 0.
        EXPECT_EQ(Lists::Find(p, kGfstart), ToPci(l.in.bank[0] + 2));
        EXPECT_EQ(Lists::Find(p, kGlpitch), 0x100u);
        EXPECT_EQ(p.back().value, ToPci(l.in.bank[4] + (e == 0 ? 64u : 312u)));
    }
    // Room for both programs and the id program's head in the list buffer.
    EXPECT_LE(end + 8 * 8, list + l.dmaBytes);
    l.in.dmaDoorbell = false;
    l.in.moduleAck = false;
    dmaARP(l.in, list);
    const auto bare = Lists::Program(Lists::At(l.DmaMap()).value);
    ASSERT_EQ(bare.size(), 22u) << "the first Orlo's list: the idle set and the jump";
    EXPECT_EQ(bare.front().command, kArpGrabReg + 0x28) << "GPIXFMT first";
    // The frame rings once: lists whose end-of-frame programs ring end the frame in the
    // start-up list's first half, the others in its second, which rings.
    for (const bool rings : {true, false}) {
        l.in.dmaDoorbell = rings;
        grabARP(l.in, l.grab);
        const auto last = Lists::Program(Lists::At(l.Map() + 8 * (l.plan.blocks - 1)).value);
        EXPECT_EQ(last.back().value, ToPci(l.bank[1] + 32512 + (rings ? 0 : 8))) << rings;
    }
}

TEST(KvxLists, IdProgramFillsTheChannelsIdleAreaExactly)
{
    for (uint32_t channel : {0u, 1u}) {
        Lists l(480, 1, channel);
        // Channel 0's idle program is in place when channel 1's is built.
        if (channel == 1) {
            Lists first(480, 1, 0);
            idARP(first.in, first.dma, kKvxIdOption);
        }
        const uint32_t tail = l.dma;
        idARP(l.in, tail, kKvxIdOption);
        const auto head = Lists::Program(ToPci(tail));
        ASSERT_EQ(head.size(), 8u);
        EXPECT_EQ(head[2].command, kGrabctrl);
        EXPECT_EQ(head[2].value, kKvxGrabCtlStart);
        EXPECT_EQ(head.back().value, ToPci(l.in.bank[4] + 64 + 248 * channel));
        const auto idle = Lists::Program(head.back().value);
        EXPECT_EQ(idle.size() * 8, 248u) << "31 entries: the idle area of one channel";
        EXPECT_EQ(idle.front().value, 0x12002u | 0x800000u);
        EXPECT_EQ(idle.back().value, ToPci(l.in.bank[0] + 520));
        EXPECT_EQ(Lists::Find(idle, kGfstart), ToPci(l.in.bank[0] + 2));
        // The second start-up list's jump at bank buffer 1 + 98048.
        const ARP_ENTRY last = Lists::At(l.in.bank[1] + kKvxSecondListOffset);
        EXPECT_EQ(last.command, kArpJump);
        EXPECT_EQ(last.value, ToPci(l.in.bank[4] + 64)) << "channel 0's idle program is there";
    }
    // Channel 1 alone (nothing at channel 0's idle area) closes on its own idle program.
    Lists l(480, 1, 1);
    idARP(l.in, l.dma, kKvxIdOption);
    EXPECT_EQ(Lists::At(l.in.bank[1] + kKvxSecondListOffset).value, ToPci(l.in.bank[4] + 312));
}

TEST(KvxLists, InterlacedBlocksUseTheFieldGrabControl)
{
    Lists l(480, 1, 0, 1);
    grabARP(l.in, l.grab);
    const uint32_t list = l.Map();
    const auto first = Lists::Program(Lists::At(list).value);
    EXPECT_EQ(Lists::Find(first, kGvtotal), (l.plan.lines << 1));
    EXPECT_EQ(Lists::Find(first, kGlpitch), 1280u) << "a field's lines are two destination lines apart";
    const auto second = Lists::Program(Lists::At(list + 8 * (l.plan.blocks >> 1)).value);
    EXPECT_EQ(Lists::Find(second, kGfstart), 0x100000u + 640u) << "the second field starts one line down";
    size_t fieldControls = 0;
    for (const ARP_ENTRY& e : first)
        if (e.command == kGrabctrl && e.value == kKvxGrabCtlIdleField) ++fieldControls;
    EXPECT_EQ(fieldControls, 1u);
}

// ---- the module: buffer controller, start and bypass ------------------------------------------

namespace module {

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;

// A second-family node on the chips fixture's Orlo: the node's record with its bank in host
// memory and four live register copies, a camera record and a destination.
class KvxGrabModule : public lutfixture::LutTest {
protected:
    KvxGrabModule() { moduleType_ = 4; }
    void SetUp() override
    {
        lutfixture::LutTest::SetUp();
        if (HasFatalFailure()) return;
        _NODE_MAIN_RESOURCE_ST& r = chipsfixture::Record();
        server_ = mp_servinfo(&r, 0);
        intsrv::FillHeader(server_, chipsfixture::kNode, &r, 0);
        // Board memory: a heap over host memory, so lists and bank read back directly.
        boardMemory_.assign(4u << 20, 0);
        r.heaps[0] = mp_mem_new_heap(nullptr, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(boardMemory_.data())),
                                     static_cast<uint32_t>(boardMemory_.size()), 0);
        ASSERT_NE(r.heaps[0], nullptr);
        for (uint32_t e = 0; e < 5; ++e) {
            _MP_BUF_ST* b = mp_buf_alloc_on_node(chipsfixture::kNode, static_cast<int32_t>(kKvxEntryBytes[e]), 1, 1,
                                                 kKvxPlainType, kLocSdram);
            ASSERT_NE(b, nullptr) << e;
            info_.bank[0][e].buffer = b;
            info_.bank[0][e].address = static_cast<uint8_t*>(mp_buf_address_band_internal(b, 0));
            clearMem(kKvxEntryBytes[e], info_.bank[0][e].address);
        }
        for (uint32_t c = 0; c < 4; ++c) info_.regs[c] = shadows_[c].bytes;
        mpPrvSetKvxInfo(chipsfixture::kNode, &info_);

        camera_ = mp_buf_alloc_on_node(chipsfixture::kNode, static_cast<int32_t>(cam1::kRecordBytes), 1, 1,
                                       0x10000008, kLocInline);
        ASSERT_NE(camera_, nullptr);
        camera_->kind = kBufKindCamera;
        cam_ = static_cast<_MP_CAM_ST_1*>(mp_buf_address_band_internal(camera_, 0));
        std::memset(cam_, 0, sizeof *cam_);
        SetDesc(cam0::INFO_XSIZE, 640);
        SetDesc(cam0::INFO_YSIZE, 480);
        SetDesc(cam0::INFO_BITSPERLOGCH, 8);
        for (uint32_t t : {cam0::INFO_XTAPSPERCH, cam0::INFO_YTAPSPERCH, cam0::INFO_XTAPSPERCHADJ, cam0::INFO_YTAPSPERCHADJ})
            SetDesc(t, 1);
        destination_ = mp_buf_alloc_on_node(chipsfixture::kNode, 640, 480, 1, 8, kLocSdram);
        ASSERT_NE(destination_, nullptr);
        destination_->kind = kBufKindImage;

        image_.assign(kGrbImageWords, 0);
        image_[2 * grbimg::GVWSTOP] = 479;
        image_[2 * grbimg::GLPITCH] = 640;
        p_.node = chipsfixture::kNode;
        p_.res = &res_;
        p_.record = &r;
        p_.path = server_;
        p_.camera = camera_;
        p_.destination = destination_;
        p_.work = image_.data();
        p_.args = &args_;
        BoardSim::instance().setTracing(true);
        BoardSim::instance().clearTrace();
    }
    void TearDown() override
    {
        mpPrvKvxGrabFree(chipsfixture::kNode);
        mpPrvSetKvxInfo(chipsfixture::kNode, nullptr);
        chipsfixture::Record().nodeState = nullptr;
        for (auto& e : info_.bank[0])
            if (e.buffer) mp_buf_free(e.buffer);
        if (camera_) mp_buf_free(camera_);
        if (destination_) mp_buf_free(destination_);
        if (chipsfixture::Record().heaps[0]) mp_mem_delete_heap(chipsfixture::Record().heaps[0]);
        chipsfixture::Record().heaps[0] = nullptr;
        lutfixture::LutTest::TearDown();
    }
    void SetDesc(uint32_t standardInfo, uint32_t value) { CamSlotAt(cam_, KvxInfo(standardInfo))->value = value; }
    // Values written to a module register's low and high lane, as 16-bit values in order.
    static std::vector<uint32_t> Written(uint32_t reg)
    {
        std::vector<uint32_t> out;
        uint32_t low = 0;
        bool haveLow = false;
        for (const boardsim::HwAccess& a : BoardSim::instance().trace()) {
            if (a.op != HwOp::Write || a.area != HwArea::PrimaryPort) continue;
            if (a.offset == 2 * reg) {
                low = a.value & 0xFF;
                haveLow = true;
            } else if (a.offset == 2 * reg + 8 && haveLow) {
                out.push_back(low | ((a.value & 0xFF) << 8));
                haveLow = false;
            }
        }
        return out;
    }
    uint32_t Live(uint32_t reg, uint32_t channel = 0) { return CamSlotAt(shadows_[channel].bytes, reg)->value & 0xFFFF; }

    SERVINFO_ST* server_ = nullptr;
    std::vector<uint8_t> boardMemory_;
    std::unique_ptr<_NODE_ST> nodeState_;
    KVX_INFO info_{};
    _MP_CAM_ST_1 shadows_[4] = {};
    _MP_BUF_ST* camera_ = nullptr;
    _MP_BUF_ST* destination_ = nullptr;
    _MP_CAM_ST_1* cam_ = nullptr;
    std::vector<uint32_t> image_;
    MpGrabArgs args_{1, nullptr, nullptr, 0};
    MP_RESOURCE_ST res_{};
    DIGPARAM p_{};
};

TEST_F(KvxGrabModule, SingleFrameStartsWithBitThreeAndContinuousWithBitOne)
{
    ASSERT_EQ(grbSetKvx(&p_, 0), 0) << res_.err.code;
    EXPECT_EQ(Written(0x308), std::vector<uint32_t>{0x8});
    EXPECT_EQ(Live(cam1::FAF_GRBCTL0) & 0x8, 0u) << "the single-frame bit is not kept";
    EXPECT_EQ(Written(0x60), std::vector<uint32_t>{1}) << "BTC_START_0";
    BoardSim::instance().clearTrace();
    args_.count = -1;
    ASSERT_EQ(grbSetKvx(&p_, 1), 0);
    EXPECT_EQ(Written(0x348), std::vector<uint32_t>{0x2}) << "channel 1's FAF_GRBCTL0";
    EXPECT_EQ(Written(0xE0), std::vector<uint32_t>{1}) << "BTC_START_1";
}

TEST_F(KvxGrabModule, BufferControllerTakesThePlan)
{
    ASSERT_EQ(grbSetKvx(&p_, 0), 0);
    EXPECT_EQ(Written(0x18), std::vector<uint32_t>{1});
    EXPECT_EQ(Written(0x30), std::vector<uint32_t>{158});
    EXPECT_EQ(Written(0x40), std::vector<uint32_t>{23});
    EXPECT_EQ(Written(0x48), std::vector<uint32_t>{19});
    EXPECT_EQ(Written(0x50), std::vector<uint32_t>{19});
    EXPECT_EQ(Written(0x268), std::vector<uint32_t>{9}) << "no channel ran: clock 9";
}

TEST_F(KvxGrabModule, InterlacedSetsTheDoubleBufferAndBitNineOfTheFullCount)
{
    SetDesc(cam0::INFO_MODE, 1);
    ASSERT_EQ(grbSetKvx(&p_, 0), 0);
    EXPECT_EQ(Written(0x18), std::vector<uint32_t>{3});
    EXPECT_EQ(Written(0x50), std::vector<uint32_t>{0x213});
}

TEST_F(KvxGrabModule, BypassBuildsNoListsAndClearsTheLutModes)
{
    CamSlotAt(shadows_[0].bytes, cam1::BTC_BTCBPASS)->value = 1;
    CamSlotAt(shadows_[0].bytes, 0x298)->value = 0x3F;
    ASSERT_EQ(grbSetKvx(&p_, 0), 0);
    EXPECT_TRUE(Written(0x18).empty()) << "no plan: the buffer controller keeps its blocks";
    const auto bmode = Written(0x298);
    ASSERT_FALSE(bmode.empty());
    EXPECT_EQ(bmode.front() & 0xF, 0u);
}

TEST_F(KvxGrabModule, ChannelsWithoutAnIdleAreaAndUnplannableCamerasAreRefused)
{
    EXPECT_EQ(setARP(&p_, 2), -1);
    SetDesc(cam0::INFO_XSIZE, 0);
    EXPECT_EQ(grbSetKvx(&p_, 0), -1);
    EXPECT_EQ(res_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_TRUE(Written(0x308).empty()) << "nothing started";
}

TEST_F(KvxGrabModule, RepeatedGrabsKeepBuildingTheirLists)
{
    // Two build passes per call (no field 10036): many grabs in a row all get lists.
    for (int i = 0; i < 4; ++i) {
        BoardSim::instance().clearTrace();
        ASSERT_EQ(setARP(&p_, 0), 0) << i;
        EXPECT_EQ(Written(0x18).size(), 1u) << i;
    }
    int32_t one = 1;
    mp_buf_put_field(destination_, 10036, one);
    EXPECT_EQ(setARP(&p_, 0), 0);
}

TEST_F(KvxGrabModule, ListsOfAnEarlierPlanAreGivenBackNotLeaked)
{
    heap* board = chipsfixture::Record().heaps[0];
    ASSERT_EQ(setARP(&p_, 0), 0);
    const uint32_t freeAfterFirst = board->freeBytes;
    // Another height: another plan, lists of other sizes in place of the first ones.
    SetDesc(cam0::INFO_YSIZE, 240);
    ASSERT_EQ(setARP(&p_, 0), 0);
    SetDesc(cam0::INFO_YSIZE, 480);
    ASSERT_EQ(setARP(&p_, 0), 0);
    EXPECT_EQ(board->freeBytes, freeAfterFirst) << "the same plan again takes the same memory";
    mpPrvKvxGrabFree(chipsfixture::kNode);
    EXPECT_GT(board->freeBytes, freeAfterFirst) << "shut-down gives the lists back";
}

// Values written to an Orlo register of the primary Orlo, in order.
std::vector<uint32_t> OrloWrites(uint32_t offset)
{
    std::vector<uint32_t> out;
    for (const boardsim::HwAccess& a : BoardSim::instance().trace())
        if (a.op == HwOp::Write && a.area == HwArea::PrimaryRegs && a.offset == offset) out.push_back(a.value);
    return out;
}

TEST_F(KvxGrabModule, TheListEngineStartsOnTheStartUpListWheneverTheModuleIsIdle)
{
    const uint32_t startUp =
        mp_util_virtual_to_pci(chipsfixture::kNode, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(
                                                        info_.bank[0][1].address + 32512))) & 0x3FFFFFF;
    const uint32_t idleArea =
        mp_util_virtual_to_pci(chipsfixture::kNode, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(
                                                        info_.bank[0][4].address + 8))) & 0x3FFFFFF;
    // A new plan with nothing running points the engine at bank buffer 4 + 8 first.
    BoardSim::instance().clearTrace();
    ASSERT_EQ(setARP(&p_, 0), 0);
    EXPECT_EQ(OrloWrites(0x2008), (std::vector<uint32_t>{idleArea, startUp}));
    EXPECT_EQ(OrloWrites(0x2010), (std::vector<uint32_t>{0, 1, 0, 1}));
    // The same plan again: stopped, then started afresh on the start-up list.
    BoardSim::instance().clearTrace();
    ASSERT_EQ(setARP(&p_, 0), 0);
    EXPECT_EQ(OrloWrites(0x2008), std::vector<uint32_t>{startUp});
    EXPECT_EQ(OrloWrites(0x2010), (std::vector<uint32_t>{0, 1}));
    // While a channel digitises the running lists are left alone.
    BoardSim::instance().kvx(0).preset(0x318, 0x40);
    BoardSim::instance().clearTrace();
    EXPECT_EQ(setARP(&p_, 0), 0);
    EXPECT_TRUE(OrloWrites(0x2010).empty());
}

// A stopped engine (bit 0 set, bit 1 clear) is released with the grab data's grab-control
// word: bits 1-2 cleared and bit 0 set, then bit 0 cleared too.
TEST_F(KvxGrabModule, AStoppedEngineIsReleasedWithTheGrabDatasControlWord)
{
    intsrv::Set(server_, kOrloGrabControl, 0x1);
    image_[2 * grbimg::GRABCTRL] = 0x00300006;
    BoardSim::instance().clearTrace();
    ASSERT_EQ(grbSetKvx(&p_, 0), 0) << res_.err.code;
    const std::vector<uint32_t> writes = OrloWrites(kOrloGrabControl);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0], 0x00300001u);
    EXPECT_EQ(writes[1], 0x00300000u);
}

TEST_F(KvxGrabModule, TheStatusRecordNamesEachOrlosStatusBlockUntilShutDown)
{
    nodeState_ = std::make_unique<_NODE_ST>();
    chipsfixture::Record().nodeState = nodeState_.get();
    mpPrvKvxPinStatus(chipsfixture::kNode, &chipsfixture::Record());
    ASSERT_NE(nodeState_->kvxStatus, 0u);
    const auto* record = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(nodeState_->kvxStatus));
    EXPECT_EQ(record[1], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info_.bank[0][0].address)));
    EXPECT_EQ(record[16], 0u) << "no display Orlo bank";
    mpPrvKvxGrabFree(chipsfixture::kNode);
    EXPECT_EQ(nodeState_->kvxStatus, 0u);
}

}  // namespace module

// ---- display heaps ------------------------------------------------------------------------

TEST(KvxDisplayHeap, BoardAndHostMemoryAndADisplayHeapOfALocalGrabNodeAreGrabbedHere)
{
    DIGPARAM p{};
    p.node = 0x11;
    int32_t result = 7;
    EXPECT_FALSE(mpPrvGrabOnDisplayNode(&p, kLocSdram, false, kGrabPhaseAll, &result));
    EXPECT_FALSE(mpPrvGrabOnDisplayNode(&p, kLocHostDma, false, kGrabPhaseAll, &result));
    EXPECT_EQ(p.forwarded, 0u) << "board and host memory are no display heap";
    EXPECT_FALSE(mpPrvGrabOnDisplayNode(&p, kLocDisplay0, true, kGrabPhaseAll, &result));
    EXPECT_EQ(p.forwarded, 1u);
    EXPECT_EQ(result, 7) << "nothing was sent";
}

TEST(KvxDisplayHeap, AGrabTheDisplayNodeWasSentRunsThereAndOneWithoutADisplayNodeRunsHere)
{
    DIGPARAM sent{};
    sent.node = 0x11;
    int32_t result = 7;
    EXPECT_FALSE(mpPrvGrabOnDisplayNode(&sent, kLocDisplay0, false, kGrabPhaseForwarded, &result));
    EXPECT_EQ(sent.forwarded, 1u);
    // No display node is known on a node without a display system.
    DIGPARAM alone{};
    alone.node = 0x11;
    EXPECT_FALSE(mpPrvGrabOnDisplayNode(&alone, kLocDisplay0, false, kGrabPhaseAll, &result));
    EXPECT_EQ(alone.displayNode, 0u);
    EXPECT_EQ(alone.forwarded, 1u);
    EXPECT_EQ(result, 7);
}

}  // namespace
