// Buffer copies on a served node: the processor copy between board, host DMA and paged
// buffers (exact bytes of 8-, 16- and 32-bit buffers, one and three bands, children, the
// common part of unequal sizes), the choice of the display bitblit and of the bus-master
// ways with the in-line transfer message, the refusals, and the bounded wait for the
// system-wide copy mutex.
#include "servednode.h"
#include "bufcopy.h"

#include "bufchild.h"
#include "heap.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "im_param.h"
#include "w32base.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

using servednode::ServedNodeTest;
using servednode::kMain;
using ringnode::g_record;
using ringnode::kNode;

namespace {

constexpr uint32_t kBoardBytes = 0x8000;
constexpr uint32_t kDmaPhysical = 0x30000000u;

alignas(64) uint8_t g_board[kBoardBytes];
alignas(64) uint8_t g_display[kBoardBytes];
alignas(64) uint8_t g_controller[kBoardBytes];
alignas(64) uint8_t g_dma[kBoardBytes];
_MP_DMA_REGION_ST g_regions[2];
// Heap words of the node record: board memory, the first display heap, the last one.
constexpr int kBoardHeaps[] = {0, 1, 4};

uint32_t W(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

std::string Text(const char* p)
{
    return p ? p : "";
}

// What the caller of one copy command gets back.
struct Reply {
    int32_t code;
    std::string message;
    std::string function;
};

// Pixel values that differ by band, line and column (and by the seed between buffers).
double Pattern(uint32_t seed, uint32_t band, int32_t x, int32_t y, uint32_t bits)
{
    const uint64_t v = seed * 0x9E37u + band * 0x3011u + static_cast<uint32_t>(y) * 0x101u + static_cast<uint32_t>(x) * 7u;
    const uint64_t mask = bits >= 32 ? 0x7FFFFFFFu : ((1ull << bits) - 1);
    return static_cast<double>(v & mask);
}

void Fill(_MP_BUF_ST* b, uint32_t seed)
{
    for (uint32_t band = 0; band < b->bands; ++band)
        for (int32_t y = 0; y < b->sizeY; ++y)
            for (int32_t x = 0; x < b->sizeX; ++x) mp_buf_put_pix(b, band, x, y, Pattern(seed, band, x, y, b->bits));
}

class BufCopyTest : public ServedNodeTest {
protected:
    void InstallHandlers() override { mp_bufcopy_install(); }

    void SetUp() override
    {
        ServedNodeTest::SetUp();
        if (HasFatalFailure()) return;
        heaps_[0] = mp_mem_new_heap(nullptr, W(g_board), kBoardBytes, 0);
        heaps_[1] = mp_mem_new_heap(nullptr, W(g_display), kBoardBytes, 1);
        heaps_[4] = mp_mem_new_heap(nullptr, W(g_controller), kBoardBytes, 4);
        ASSERT_TRUE(heaps_[0] && heaps_[1] && heaps_[4]);
        // Word 5 is the node's descriptor heap: it stays.
        for (int i : kBoardHeaps) g_record.heaps[i] = heaps_[i];
        g_record.chipFrame = W(g_display);
        g_regions[0] = _MP_DMA_REGION_ST{1, kDmaPhysical, kBoardBytes, W(g_dma)};
        g_regions[1] = _MP_DMA_REGION_ST{};
        g_record.dmaRegions = g_regions;
    }
    void TearDown() override
    {
        mp_bufcopy_set_bitblt(nullptr);
        for (int i : kBoardHeaps) {
            if (heaps_[i]) mp_mem_delete_heap(heaps_[i]);
            heaps_[i] = nullptr;
            g_record.heaps[i] = nullptr;
        }
        g_record.chipFrame = 0;
        g_record.dmaRegions = nullptr;
        ServedNodeTest::TearDown();
    }

    // A buffer of a heap location with an id, filled with the seed's pattern.
    _MP_BUF_ST* Make(int32_t x, int32_t y, uint32_t bands, uint32_t type, uint32_t location, uint32_t seed)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, x, y, bands, type, location);
        return Finish(b, seed);
    }
    // A host DMA buffer over the node's DMA region.
    _MP_BUF_ST* MakeDma(int32_t x, int32_t y, uint32_t bands, uint32_t type, uint32_t seed)
    {
        const uint32_t pitch = mp_buf_new_pitch(type & 255, static_cast<uint32_t>(x));
        std::vector<uint32_t> addresses;
        for (uint32_t i = 0; i < bands; ++i) {
            addresses.push_back(kDmaPhysical + dmaUsed_);
            dmaUsed_ += (pitch * static_cast<uint32_t>(y) + 63) & ~63u;
        }
        if (dmaUsed_ > kBoardBytes) return nullptr;
        return Finish(mp_buf_create(kNode, x, y, bands, type, 5, pitch, addresses.data()), seed);
    }
    // A paged buffer over memory of the test; a band of `missing` gets no memory.
    _MP_BUF_ST* MakePaged(int32_t x, int32_t y, uint32_t bands, uint32_t type, uint32_t pitch, uint32_t seed,
                          uint32_t missing = 0xFFFFFFFFu)
    {
        std::vector<uint32_t> addresses;
        for (uint32_t i = 0; i < bands; ++i) {
            paged_.emplace_back(pitch * static_cast<uint32_t>(y) + 8, 0);
            addresses.push_back(i == missing ? 0 : W(paged_.back().data()));
        }
        return Finish(mp_buf_create(kNode, x, y, bands, type, 7, pitch, addresses.data()), seed);
    }
    _MP_BUF_ST* Finish(_MP_BUF_ST* b, uint32_t seed)
    {
        if (!b) return nullptr;
        EXPECT_NE(mp_buf_alloc_id(b), 0u);
        Fill(b, seed);
        return b;
    }

    // One copy command through the sender and the node's command server.
    Reply Copy(uint32_t source, uint32_t destination, uint32_t control = 0)
    {
        _MSG_ST msg{};
        im_msg_start(&msg, kOpBufCopy, 3, "imBufCopy");
        im_msg_put_long(&msg, 0, static_cast<int32_t>(source));
        im_msg_put_long(&msg, 1, static_cast<int32_t>(destination));
        im_msg_put_long(&msg, 2, static_cast<int32_t>(control));
        im_msg_send(&msg, 0, kMain, 0, IM_SYNC_POLL);
        Reply r{msg.body.err.code, Text(msg.body.err.message), Text(msg.body.err.function)};
        im_msg_end(&msg);
        im_msg_reset_application();
        return r;
    }

    // Every pixel of the destination: the source's in the common top-left part (source
    // band 0 for every band when the band counts differ), its own pattern elsewhere.
    static void ExpectCopied(const _MP_BUF_ST* src, uint32_t srcSeed, const _MP_BUF_ST* dst, uint32_t dstSeed)
    {
        const int32_t w = std::min(src->sizeX, dst->sizeX), h = std::min(src->sizeY, dst->sizeY);
        for (uint32_t band = 0; band < dst->bands; ++band) {
            const uint32_t from = src->bands == dst->bands ? band : 0;
            for (int32_t y = 0; y < dst->sizeY; ++y)
                for (int32_t x = 0; x < dst->sizeX; ++x) {
                    const bool inside = x < w && y < h;
                    const double want = inside ? Pattern(srcSeed, from, x, y, src->bits)
                                               : Pattern(dstSeed, band, x, y, dst->bits);
                    ASSERT_EQ(mp_buf_get_pix_double(dst, band, x, y), want)
                        << "band " << band << " x " << x << " y " << y;
                }
        }
    }

    heap* heaps_[6]{};
    uint32_t dmaUsed_ = 0;
    std::vector<std::vector<uint8_t>> paged_;
};

// ---- processor copies ------------------------------------------------------------------

TEST_F(BufCopyTest, BoardBuffersOfOneNodeAreCopiedByTheProcessor)
{
    // 8-bit, 13 wide: the pitch (16) has padding that the copy leaves alone.
    _MP_BUF_ST* a = Make(13, 5, 1, 8, kLocSdram, 1);
    _MP_BUF_ST* b = Make(13, 5, 1, 8, kLocSdram, 2);
    ASSERT_TRUE(a && b);
    auto* pad = static_cast<uint8_t*>(mp_buf_address_band_internal(b, 0)) + 13;
    *pad = 0xA5;
    const Reply r = Copy(a->id, b->id);
    EXPECT_EQ(r.code, 0) << r.message;
    ExpectCopied(a, 1, b, 2);
    EXPECT_EQ(*pad, 0xA5);
    // The source is only read.
    ExpectCopied(a, 1, a, 1);
}

TEST_F(BufCopyTest, HostDmaBuffersCopyEveryBandOfEveryDepth)
{
    for (uint32_t type : {8u, 16u, 32u})
        for (uint32_t bands : {1u, 3u}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", bands " + std::to_string(bands));
            // 7 pixels: lines of 7, 14 and 28 bytes in pitches of 8, 16 and 28.
            _MP_BUF_ST* a = MakeDma(7, 4, bands, type, 3);
            _MP_BUF_ST* b = MakeDma(7, 4, bands, type, 4);
            ASSERT_TRUE(a && b);
            EXPECT_EQ(a->location, kLocHostDma);
            const Reply r = Copy(a->id, b->id);
            EXPECT_EQ(r.code, 0) << r.message;
            ExpectCopied(a, 3, b, 4);
        }
}

TEST_F(BufCopyTest, PagedAndBoardBuffersOfOtherPitchMeetInAHostCopy)
{
    // 32-bit, 5 wide: the board buffer's pitch is 20, the paged one's 24.
    _MP_BUF_ST* paged = MakePaged(5, 3, 1, 32, 24, 5);
    _MP_BUF_ST* board = Make(5, 3, 1, 32, kLocSdram, 6);
    ASSERT_TRUE(paged && board);
    Reply r = Copy(paged->id, board->id);
    EXPECT_EQ(r.code, 0) << r.message;
    ExpectCopied(paged, 5, board, 6);

    Fill(board, 7);
    r = Copy(board->id, paged->id);
    EXPECT_EQ(r.code, 0) << r.message;
    ExpectCopied(board, 7, paged, 5);
}

TEST_F(BufCopyTest, OneBandSourceFillsEveryDestinationBand)
{
    _MP_BUF_ST* one = Make(6, 3, 1, 8, kLocSdram, 8);
    _MP_BUF_ST* three = Make(6, 3, 3, 8, kLocSdram, 9);
    _MP_BUF_ST* two = Make(6, 3, 2, 8, kLocSdram, 10);
    ASSERT_TRUE(one && three && two);
    EXPECT_EQ(Copy(one->id, three->id).code, 0);
    ExpectCopied(one, 8, three, 9);
    // Two bands into three: band 0 goes everywhere.
    Fill(three, 9);
    EXPECT_EQ(Copy(two->id, three->id).code, 0);
    ExpectCopied(two, 10, three, 9);
    EXPECT_EQ(mp_buf_get_pix(three, 2, 1, 1), static_cast<int32_t>(Pattern(10, 0, 1, 1, 8)));
}

TEST_F(BufCopyTest, UnequalSizesCopyTheCommonTopLeftPart)
{
    _MP_BUF_ST* wide = Make(9, 2, 1, 16, kLocSdram, 11);
    _MP_BUF_ST* tall = Make(4, 6, 1, 16, kLocSdram, 12);
    ASSERT_TRUE(wide && tall);
    EXPECT_EQ(Copy(wide->id, tall->id).code, 0);
    ExpectCopied(wide, 11, tall, 12);
    EXPECT_EQ(mp_buf_get_pix(tall, 0, 3, 1), static_cast<int32_t>(Pattern(11, 0, 3, 1, 16)));
    EXPECT_EQ(mp_buf_get_pix(tall, 0, 0, 2), static_cast<int32_t>(Pattern(12, 0, 0, 2, 16)));
}

TEST_F(BufCopyTest, ChildrenCopyOnlyTheirRegion)
{
    _MP_BUF_ST* src = Make(8, 6, 1, 8, kLocSdram, 13);
    _MP_BUF_ST* dst = Make(10, 8, 1, 8, kLocSdram, 14);
    ASSERT_TRUE(src && dst);
    _MP_BUF_ST* from = mp_buf_child(src, 1, 2, 3, 2);
    _MP_BUF_ST* into = mp_buf_child(dst, 4, 5, 3, 2);
    ASSERT_TRUE(from && into);
    ASSERT_NE(mp_buf_alloc_id(from), 0u);
    ASSERT_NE(mp_buf_alloc_id(into), 0u);
    EXPECT_EQ(Copy(from->id, into->id).code, 0);
    for (int32_t y = 0; y < dst->sizeY; ++y)
        for (int32_t x = 0; x < dst->sizeX; ++x) {
            const bool inside = x >= 4 && x < 7 && y >= 5 && y < 7;
            const double want = inside ? Pattern(13, 0, x - 4 + 1, y - 5 + 2, 8) : Pattern(14, 0, x, y, 8);
            ASSERT_EQ(mp_buf_get_pix_double(dst, 0, x, y), want) << x << "," << y;
        }
}

TEST_F(BufCopyTest, SignedAndUnsignedAreCompatibleOtherDepthsAreNot)
{
    _MP_BUF_ST* u8 = Make(4, 2, 1, 8, kLocSdram, 15);
    _MP_BUF_ST* s8 = Make(4, 2, 1, 8 | kBufTypeSigned, kLocSdram, 16);
    _MP_BUF_ST* u16 = Make(4, 2, 1, 16, kLocSdram, 17);
    ASSERT_TRUE(u8 && s8 && u16);
    EXPECT_EQ(Copy(u8->id, s8->id).code, 0);
    // Bytes as they are: 0xF0 stays 0xF0 (read back as -16).
    for (int32_t y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(mp_buf_address_band_internal(u8, 0)) + y * u8->pitch,
                              static_cast<uint8_t*>(mp_buf_address_band_internal(s8, 0)) + y * s8->pitch, 4),
                  0);
    mp_buf_put_pix(u8, 0, 0, 0, 0xF0);
    EXPECT_EQ(Copy(u8->id, s8->id).code, 0);
    EXPECT_EQ(mp_buf_get_pix(s8, 0, 0, 0), -16);

    // Different depths in the board group: the same-location check refuses them first.
    Reply r = Copy(u8->id, u16->id);
    EXPECT_EQ(r.code, HLC_ERR_INVALID_BUFFER);
    EXPECT_EQ(r.message, "Invalid buffer ID");
    EXPECT_EQ(r.function, "BufCopy");
    ExpectCopied(u16, 17, u16, 17);

    // Through the host copy itself (paged of another pitch): the types must match.
    _MP_BUF_ST* paged16 = MakePaged(4, 2, 1, 16, 12, 18);
    ASSERT_NE(paged16, nullptr);
    r = Copy(u8->id, paged16->id);
    EXPECT_EQ(r.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(r.message, kBufCopyTextIncompatible);
    ExpectCopied(paged16, 18, paged16, 18);
}

TEST_F(BufCopyTest, BandWithoutMemoryIsReportedAndTheOthersStillCopied)
{
    _MP_BUF_ST* src = MakePaged(4, 2, 3, 8, 8, 19, 1);
    _MP_BUF_ST* dst = Make(4, 2, 3, 8, kLocSdram, 20);
    ASSERT_TRUE(src && dst);
    const Reply r = Copy(src->id, dst->id);
    EXPECT_EQ(r.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(r.message, kBufCopyTextNoAddress);
    for (uint32_t band : {0u, 2u})
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(mp_buf_get_pix_double(dst, band, x, 1), Pattern(19, band, x, 1, 8));
    EXPECT_EQ(mp_buf_get_pix_double(dst, 1, 2, 1), Pattern(20, 1, 2, 1, 8));
}

// ---- refusals ------------------------------------------------------------------------------

TEST_F(BufCopyTest, UnknownBuffersAndControlBuffersAreInvalidIds)
{
    _MP_BUF_ST* a = Make(4, 2, 1, 8, kLocSdram, 21);
    _MP_BUF_ST* b = Make(4, 2, 1, 8, kLocSdram, 22);
    ASSERT_TRUE(a && b);
    const uint32_t unknown = (kNode << 16) | 0x7777;
    for (const auto& ids : {std::vector<uint32_t>{unknown, b->id, 0}, std::vector<uint32_t>{a->id, unknown, 0},
                            std::vector<uint32_t>{0, b->id, 0}, std::vector<uint32_t>{a->id, b->id, unknown},
                            std::vector<uint32_t>{a->id, b->id, kMain}}) {
        const Reply r = Copy(ids[0], ids[1], ids[2]);
        EXPECT_EQ(r.code, HLC_ERR_INVALID_BUFFER) << ids[0] << " " << ids[1] << " " << ids[2];
        EXPECT_EQ(r.message, "Invalid buffer ID");
    }
    ExpectCopied(b, 22, b, 22);
    // A valid control buffer is taken.
    _MP_BUF_ST* control = Make(1, 1, 1, 8, kLocInline, 0);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(Copy(a->id, b->id, control->id).code, 0);
    ExpectCopied(a, 21, b, 22);
}

TEST_F(BufCopyTest, PagedBuffersOfEqualPitchAreRefused)
{
    _MP_BUF_ST* a = MakePaged(4, 2, 1, 8, 8, 23);
    _MP_BUF_ST* b = MakePaged(4, 2, 1, 8, 8, 24);
    ASSERT_TRUE(a && b);
    const Reply r = Copy(a->id, b->id);
    EXPECT_EQ(r.code, HLC_ERR_INVALID_BUFFER);
    ExpectCopied(b, 24, b, 24);
    // Of other pitches they are copied.
    _MP_BUF_ST* c = MakePaged(4, 2, 1, 8, 12, 25);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Copy(a->id, c->id).code, 0);
    ExpectCopied(a, 23, c, 25);
}

TEST_F(BufCopyTest, PagedCopyNeverWritesIntoWhatIsNoImage)
{
    _MP_BUF_ST* paged = MakePaged(300, 1, 1, 8, 304, 46);
    ASSERT_NE(paged, nullptr);
    // The node's thread object and no buffer at all, on either side of a paged copy.
    for (const auto& ids : {std::vector<uint32_t>{paged->id, kMain}, std::vector<uint32_t>{kMain, paged->id},
                            std::vector<uint32_t>{paged->id, 0}}) {
        const Reply r = Copy(ids[0], ids[1]);
        EXPECT_EQ(r.code, HLC_ERR_INVALID_BUFFER) << ids[0] << " " << ids[1];
    }
    ExpectCopied(paged, 46, paged, 46);
    // The thread object still serves.
    _MP_BUF_ST* board = Make(300, 1, 1, 8, kLocSdram, 47);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(Copy(paged->id, board->id).code, 0);
    ExpectCopied(paged, 46, board, 47);
}

TEST_F(BufCopyTest, OneBitBuffersMustBeByteAligned)
{
    _MP_BUF_ST* narrow = Make(100, 2, 1, 0x40000001u, kLocSdram, 0);
    _MP_BUF_ST* display = Make(104, 2, 1, 0x40000001u, kLocDisplay0, 0);
    ASSERT_TRUE(narrow && display);
    Reply r = Copy(narrow->id, display->id);
    EXPECT_EQ(r.code, HLC_ERR_BUFFER_ATTRIBUTE);
    EXPECT_EQ(r.message, "Unacceptable buffer attribute (size, type, etc.)");
    // A child at a bit offset that is no whole byte.
    _MP_BUF_ST* board = Make(104, 2, 1, 0x40000001u, kLocSdram, 0);
    ASSERT_NE(board, nullptr);
    _MP_BUF_ST* child = mp_buf_child(board, 4, 0, 96, 2);
    ASSERT_NE(child, nullptr);
    ASSERT_NE(mp_buf_alloc_id(child), 0u);
    EXPECT_EQ(Copy(child->id, display->id).code, HLC_ERR_BUFFER_ATTRIBUTE);
    // Aligned ones pass on to the transfer (taken out here: the dispatch answers for it).
    const MpHandler vm = mp_server_set_handler(kOpBufCopyVM, nullptr);
    r = Copy(board->id, display->id);
    mp_server_set_handler(kOpBufCopyVM, vm);
    EXPECT_EQ(r.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(r.message, kBufCopyTextNoVm);
}

// ---- the display bitblit and the bus-master ways -------------------------------------------

struct BitBltCall {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> source{0}, destination{0}, control{0};
    std::atomic<int> result{0};
};
BitBltCall g_blt;

int RecordBitBlt(MP_RESOURCE_ST*, _MP_BUF_ST* s, _MP_BUF_ST* d, _MP_BUF_ST* c)
{
    ++g_blt.calls;
    g_blt.source = s->id;
    g_blt.destination = d->id;
    g_blt.control = c ? c->id : 0;
    return g_blt.result;
}

TEST_F(BufCopyTest, DisplayMemoryOfOneNodeGoesToTheBitBlit)
{
    _MP_BUF_ST* a = Make(8, 2, 1, 8, kLocDisplay0, 26);
    _MP_BUF_ST* b = Make(8, 2, 1, 8, kLocDisplay0, 27);
    _MP_BUF_ST* c1 = Make(8, 2, 1, 8, kLocControllerHeap, 28);
    _MP_BUF_ST* c2 = Make(8, 2, 1, 8, kLocControllerHeap, 29);
    _MP_BUF_ST* control = Make(1, 1, 1, 8, kLocInline, 0);
    ASSERT_TRUE(a && b && c1 && c2 && control);

    // Without a blitter the way is refused with its reason.
    mp_bufcopy_set_bitblt(nullptr);
    Reply r = Copy(a->id, b->id);
    EXPECT_EQ(r.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(r.message, kBufCopyTextNoBitBlt);

    g_blt.calls = 0;
    g_blt.result = 0;
    mp_bufcopy_set_bitblt(RecordBitBlt);
    EXPECT_EQ(Copy(a->id, b->id, control->id).code, 0);
    EXPECT_EQ(g_blt.calls.load(), 1);
    EXPECT_EQ(g_blt.source.load(), a->id);
    EXPECT_EQ(g_blt.destination.load(), b->id);
    EXPECT_EQ(g_blt.control.load(), control->id);
    // The last display heap is a group of its own; two of its buffers blit too.
    EXPECT_EQ(Copy(c1->id, c2->id).code, 0);
    EXPECT_EQ(g_blt.calls.load(), 2);
    // Board memory never reaches the blitter.
    _MP_BUF_ST* s1 = Make(8, 2, 1, 8, kLocSdram, 30);
    _MP_BUF_ST* s2 = Make(8, 2, 1, 8, kLocSdram, 31);
    ASSERT_TRUE(s1 && s2);
    EXPECT_EQ(Copy(s1->id, s2->id).code, 0);
    EXPECT_EQ(g_blt.calls.load(), 2);
    // Different depths are refused before the blitter.
    _MP_BUF_ST* wide = Make(8, 2, 1, 16, kLocDisplay0, 32);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(Copy(a->id, wide->id).code, HLC_ERR_INVALID_BUFFER);
    EXPECT_EQ(g_blt.calls.load(), 2);
}

TEST_F(BufCopyTest, FailedBitBlitReachesTheCaller)
{
    _MP_BUF_ST* a = Make(8, 2, 1, 8, kLocDisplay0, 33);
    _MP_BUF_ST* b = Make(8, 2, 1, 8, kLocDisplay0, 34);
    ASSERT_TRUE(a && b);
    g_blt.result = -1;   // fails without a record of its own
    mp_bufcopy_set_bitblt(RecordBitBlt);
    const Reply r = Copy(a->id, b->id);
    g_blt.result = 0;
    EXPECT_EQ(r.code, HLC_ERR_MISCELLANEOUS);
    EXPECT_EQ(r.message, kBufCopyTextFailed);
}

TEST_F(BufCopyTest, BusMasterWaysWithoutTheirHandlerAreRefusedWithTheirReason)
{
    // The wiring installs both transfers: taken out here, the dispatch answers for them.
    const MpHandler pci = mp_server_set_handler(kOpBufCopyPCI, nullptr);
    const MpHandler vm = mp_server_set_handler(kOpBufCopyVM, nullptr);
    // Host DMA and board memory: over PCI.
    _MP_BUF_ST* dma = MakeDma(8, 2, 1, 8, 35);
    _MP_BUF_ST* board = Make(8, 2, 1, 8, kLocSdram, 36);
    // Paged and board memory of one pitch: over PCI.
    _MP_BUF_ST* paged = MakePaged(8, 2, 1, 8, 8, 37);
    // Display and board memory of one node: through the VM port.
    _MP_BUF_ST* display = Make(8, 2, 1, 8, kLocDisplay0, 38);
    // The last display heap never uses the VM port.
    _MP_BUF_ST* controller = Make(8, 2, 1, 8, kLocControllerHeap, 39);
    ASSERT_TRUE(dma && board && paged && display && controller);
    struct Case {
        uint32_t source, destination;
        const char* text;
    };
    for (const Case& c : {Case{dma->id, board->id, kBufCopyTextNoPci}, Case{paged->id, board->id, kBufCopyTextNoPci},
                          Case{display->id, board->id, kBufCopyTextNoVm}, Case{board->id, display->id, kBufCopyTextNoVm},
                          Case{controller->id, display->id, kBufCopyTextNoPci}}) {
        const Reply r = Copy(c.source, c.destination);
        EXPECT_EQ(r.code, HLC_ERR_RESTRICTED) << c.text;
        EXPECT_EQ(r.message, c.text);
        EXPECT_EQ(r.function, "BufCopy");
    }
    mp_server_set_handler(kOpBufCopyPCI, pci);
    mp_server_set_handler(kOpBufCopyVM, vm);
    ExpectCopied(board, 36, board, 36);
}

// The transfer handlers as the in-line call reaches them: what they saw.
struct TransferCall {
    std::atomic<int> calls{0};
    _MSG_BODY_ST body{};
    std::atomic<int32_t> result{0};
};
TransferCall g_transfer;

void RecordTransfer(_MSG_BODY_ST* body)
{
    g_transfer.body = *body;
    ++g_transfer.calls;
    const uint32_t slot = body->counts == kBufCopyInlinePciParams ? 4 : 6;
    MP_RESOURCE_ST* resource = reinterpret_cast<MP_RESOURCE_ST*>(static_cast<uintptr_t>(mp_msg_param(body, slot)));
    if (g_transfer.result != 0) _mp_res_log_error(resource, g_transfer.result, "transfer refused");
    body->error = g_transfer.result;
}

uint32_t SlotWord(const _MSG_BODY_ST& body, uint32_t slot, uint32_t word)
{
    uint32_t v;
    std::memcpy(&v, body.param[slot] + 4 * word, 4);
    return v;
}

class BufCopyTransferTest : public BufCopyTest {
protected:
    void InstallHandlers() override
    {
        BufCopyTest::InstallHandlers();
        mp_server_set_handler(kOpBufCopyPCI, RecordTransfer);
        mp_server_set_handler(kOpBufCopyVM, RecordTransfer);
        g_transfer.calls = 0;
        g_transfer.result = 0;
    }
};

TEST_F(BufCopyTransferTest, PciTransferGetsTheInlineMessage)
{
    _MP_BUF_ST* dma = MakeDma(8, 2, 1, 8, 40);
    _MP_BUF_ST* board = Make(8, 2, 1, 8, kLocSdram, 41);
    _MP_BUF_ST* control = Make(1, 1, 1, 8, kLocInline, 0);
    ASSERT_TRUE(dma && board && control);
    EXPECT_EQ(Copy(dma->id, board->id, control->id).code, 0);
    ASSERT_EQ(g_transfer.calls.load(), 1);
    const _MSG_BODY_ST& m = g_transfer.body;
    EXPECT_EQ(m.opcode, kOpBufCopyPCI);
    EXPECT_EQ(m.counts, kBufCopyInlinePciParams);
    EXPECT_EQ(m.inUse, 1u);
    EXPECT_EQ(m.status, 10u);
    EXPECT_EQ(m.err.code, 0);
    EXPECT_EQ(m.err.node, kNode);
    EXPECT_STREQ(m.err.function, "imBufCopyPCI");
    EXPECT_EQ(m.threadId, kMain);
    EXPECT_EQ(SlotWord(m, 0, 0), dma->id);
    EXPECT_EQ(SlotWord(m, 0, 1), W(dma));
    EXPECT_EQ(SlotWord(m, 1, 0), board->id);
    EXPECT_EQ(SlotWord(m, 1, 1), W(board));
    EXPECT_EQ(SlotWord(m, 2, 0), control->id);
    EXPECT_EQ(SlotWord(m, 2, 1), W(control));
    EXPECT_EQ(SlotWord(m, 3, 0), 0u);
    EXPECT_NE(SlotWord(m, 4, 0), 0u);   // the request resource
}

TEST_F(BufCopyTransferTest, VmTransferGetsTheInlineMessageAndItsErrorReachesTheCaller)
{
    _MP_BUF_ST* display = Make(8, 2, 1, 8, kLocDisplay0, 42);
    _MP_BUF_ST* board = Make(8, 2, 1, 8, kLocSdram, 43);
    ASSERT_TRUE(display && board);
    g_transfer.result = HLC_ERR_TIMEOUT;
    const Reply r = Copy(display->id, board->id);
    EXPECT_EQ(r.code, HLC_ERR_TIMEOUT);
    EXPECT_EQ(r.message, "transfer refused");
    ASSERT_EQ(g_transfer.calls.load(), 1);
    const _MSG_BODY_ST& m = g_transfer.body;
    EXPECT_EQ(m.opcode, kOpBufCopyVM);
    EXPECT_EQ(m.counts, kBufCopyInlineVmParams);
    EXPECT_STREQ(m.err.function, "imBufCopyVM");
    EXPECT_EQ(SlotWord(m, 0, 0), display->id);
    EXPECT_EQ(SlotWord(m, 1, 0), board->id);
    EXPECT_EQ(SlotWord(m, 2, 0), 0u);
    EXPECT_EQ(SlotWord(m, 2, 1), 0u);
    for (uint32_t slot : {3u, 4u, 5u}) EXPECT_EQ(SlotWord(m, slot, 0) | SlotWord(m, slot, 1), 0u) << slot;
    EXPECT_NE(SlotWord(m, 6, 0), 0u);
}

uint8_t g_ports[16];
const uint8_t* Ports(const _NODE_MAIN_RESOURCE_ST*)
{
    return g_ports;
}

TEST_F(BufCopyTransferTest, TwoNodesUseTheVmPortOnlyWhenBothAreJoinedToIt)
{
    _MP_BUF_ST* display = Make(8, 2, 1, 8, kLocDisplay0, 49);
    _MP_BUF_ST* board = Make(8, 2, 1, 8, kLocSdram, 50);
    ASSERT_TRUE(display && board);
    // The board buffer stands for one of node 0x12.
    board->node = 0x12;
    struct Case {
        uint8_t list[3];
        uint32_t opcode;
    };
    const MpBufVmPortsFn before = mp_bufcopy_set_vm_ports(Ports);
    for (const Case& c : {Case{{0x11, 0x12, 0}, kOpBufCopyVM}, Case{{0x12, 0x11, 0}, kOpBufCopyVM},
                          Case{{0x12, 0, 0}, kOpBufCopyPCI}, Case{{0x11, 0, 0x12}, kOpBufCopyPCI},
                          Case{{0, 0, 0}, kOpBufCopyPCI}}) {
        std::memset(g_ports, 0, sizeof g_ports);
        std::memcpy(g_ports, c.list, sizeof c.list);
        g_transfer.calls = 0;
        EXPECT_EQ(Copy(display->id, board->id).code, 0);
        ASSERT_EQ(g_transfer.calls.load(), 1);
        EXPECT_EQ(g_transfer.body.opcode, c.opcode) << int(c.list[0]) << "," << int(c.list[1]) << "," << int(c.list[2]);
    }
    // Without a list two nodes go over PCI.
    mp_bufcopy_set_vm_ports(nullptr);
    EXPECT_EQ(Copy(display->id, board->id).code, 0);
    EXPECT_EQ(g_transfer.body.opcode, kOpBufCopyPCI);
    mp_bufcopy_set_vm_ports(before);
    board->node = kNode;
}

// ---- the system-wide copy mutex ------------------------------------------------------------

TEST_F(BufCopyTest, CopyMutexHeldElsewhereEndsInATimeOut)
{
    _MP_BUF_ST* a = Make(4, 2, 1, 8, kLocSdram, 44);
    _MP_BUF_ST* b = Make(4, 2, 1, 8, kLocSdram, 45);
    ASSERT_TRUE(a && b);
    std::atomic<bool> held{false}, release{false};
    testwait::Thread holder;
    holder.Start(
        [&] {
            HANDLE m = CreateMutexA(FALSE, kBufCopyMutex);
            if (!m) return;
            if (WaitForSingleObject(m, 5000) == WAIT_OBJECT_0) {
                held = true;
                (void)testwait::WaitUntil([&] { return release.load(); });
                ReleaseMutex(m);
            }
            CloseHandle(m);
        },
        "the mutex holder");
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));

    const double saved = servednode::g_timeouts[kBufCopyMutexTimeoutEntry];
    servednode::g_timeouts[kBufCopyMutexTimeoutEntry] = 0.2;
    MP_RESOURCE_ST resource{};
    resource.name = "BufCopy";
    const auto start = std::chrono::steady_clock::now();
    const int result = mpBufCopySpecialHost(&resource, a, b);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    servednode::g_timeouts[kBufCopyMutexTimeoutEntry] = saved;
    release = true;
    holder.Join();

    EXPECT_EQ(result, HLC_ERR_TIMEOUT);
    EXPECT_EQ(resource.err.code, HLC_ERR_TIMEOUT);
    EXPECT_STREQ(resource.err.message, kBufCopyTextMutexTimeout);
    EXPECT_GE(waited, 0.15);
    EXPECT_LT(waited, 4.0);
    ExpectCopied(b, 45, b, 45);

    // Once it is free again the copy goes through.
    MP_RESOURCE_ST again{};
    EXPECT_EQ(mpBufCopySpecialHost(&again, a, b), 0);
    EXPECT_EQ(again.err.code, 0);
    ExpectCopied(a, 44, b, 45);
}

TEST_F(BufCopyTest, HostCopyWithoutBuffersIsRefused)
{
    MP_RESOURCE_ST resource{};
    EXPECT_EQ(mpBufCopySpecialHost(&resource, nullptr, nullptr), HLC_ERR_INVALID_BUFFER);
    EXPECT_EQ(resource.err.code, HLC_ERR_INVALID_BUFFER);
    _MSG_BODY_ST body{};
    MP_RESOURCE_ST other{};
    const MpHandler pci = mp_server_set_handler(kOpBufCopyPCI, nullptr);
    EXPECT_EQ(DoSpecializedCopy(0, &body, nullptr, nullptr, nullptr, &other), HLC_ERR_RESTRICTED);
    mp_server_set_handler(kOpBufCopyPCI, pci);
    EXPECT_STREQ(other.err.message, kBufCopyTextNoPci);
}

} // namespace
