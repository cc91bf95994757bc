#include "buftest.h"

#include <cstdlib>

namespace {

using namespace buftest;

alignas(64) uint8_t g_frame[0x600000 / 64];   // the first bytes of a frame window

using BufIdTest = BufTest;

// ---------------------------------------------------------------- sizes

TEST(BufSizes, DescriptorBlocksEndOnA64ByteBoundary)
{
    EXPECT_EQ(mp_buf_descriptor_bytes(3), 192u);
    EXPECT_EQ(mp_buf_descriptor_bytes(0), 128u);
    EXPECT_EQ(mp_buf_descriptor_bytes(1), 128u);
    EXPECT_EQ(mp_buf_descriptor_bytes(2), 192u);
    EXPECT_EQ(mp_buf_descriptor_bytes(6), 256u);
    for (uint32_t n = 0; n < 40; ++n) {
        EXPECT_EQ(mp_buf_descriptor_bytes(n) % 64, 0u) << n;
        EXPECT_GE(mp_buf_descriptor_bytes(n), sizeof(_MP_BUF_ST) + n * sizeof(_MP_BAND_ST)) << n;
    }
}

TEST(BufSizes, PitchRoundsTheLineUpToFourBytes)
{
    EXPECT_EQ(mp_buf_new_pitch(8, 640), 640u);
    EXPECT_EQ(mp_buf_new_pitch(1, 100), 16u);
    EXPECT_EQ(mp_buf_new_pitch(8, 641), 644u);
    EXPECT_EQ(mp_buf_new_pitch(16, 3), 8u);
    EXPECT_EQ(mp_buf_new_pitch(1, 1), 4u);
    EXPECT_EQ(mp_buf_new_pitch(32, 5), 20u);
}

TEST(BufSizes, IdKindBitsFollowTheLocation)
{
    EXPECT_EQ(mp_buf_id_kind_bits(kLocHostDma), 0x1000000u);
    EXPECT_EQ(mp_buf_id_kind_bits(kLocPaged), 0xC000000u);
    EXPECT_EQ(mp_buf_id_kind_bits(kLocSdram), 0u);
    EXPECT_EQ(mp_buf_id_kind_bits(kLocControllerHeap), 0x7000000u);
    EXPECT_EQ(mp_buf_id_kind_bits(kLocInline), 0x2000000u);
    EXPECT_EQ(mp_buf_id_kind_bits(kLocDisplay0), 0x2000000u);
}

// ---------------------------------------------------------------- allocation

TEST_F(BufIdTest, ThreeBandSdramBufferFillsItsHeader)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 64, 8, 3, 8, kLocSdram);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->node, kNode);
    EXPECT_EQ(b->id, 0u);
    EXPECT_EQ(b->kind, kBufKindImage);
    EXPECT_EQ(b->pitch, 64u);
    EXPECT_EQ(b->bands, 3u);
    EXPECT_EQ(b->bits, 8u);
    EXPECT_EQ(b->location, kLocSdram);
    EXPECT_EQ(W(b) % 64, 0u);
    EXPECT_EQ(W(b->bandTable), W(b) + 96);
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t a = W(mp_buf_address_band_internal(b, i));
        EXPECT_GE(a, W(g_sdram));
        EXPECT_LT(a, W(g_sdram) + sizeof g_sdram);
    }
    EXPECT_EQ(mp_buf_address_band_internal(b, 3), nullptr);
    mp_buf_free(b);
}

TEST_F(BufIdTest, TypeClassAndDefaultLocation)
{
    _MP_BUF_ST* f = mp_buf_alloc_on_node(kNode, 4, 4, 1, 0x20000020u, kLocDefault);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->location, kLocSdram);   // the node has a mapped board memory window
    EXPECT_EQ(f->bits, 32u);
    EXPECT_EQ(f->typeClass, 0x20000000u);
    _MP_BUF_ST* s = mp_buf_alloc_on_node(kNode, 4, 4, 0, 0x10000010u, kLocNoBands);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->typeClass, 0x10000000u);
    EXPECT_EQ(s->bandTable, nullptr);
    EXPECT_EQ(s->location, kLocNoBands);
    mp_buf_free(f);
    mp_buf_free(s);
    EXPECT_EQ(mp_buf_alloc_on_node(0, 4, 4, 1, 8, kLocSdram), nullptr);
}

TEST_F(BufIdTest, InlineBandsFollowTheHeaderAndTheBlockIsRounded)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 64, 2, 2, 8, kLocInline);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(W(mp_buf_address_band_internal(a, 0)), W(a) + 192);
    EXPECT_EQ(W(mp_buf_address_band_internal(a, 1)), W(a) + 320);
    EXPECT_EQ(a->bandTable[1].physical, W(a) + 320 - W(g_descArena) + kDescPhysical);
    const uint32_t before = DescFree();
    mp_buf_free(a);
    EXPECT_EQ(DescFree() - before, 512u);
}

TEST_F(BufIdTest, AFailingBandGivesBackTheBandsAlreadyTaken)
{
    const uint32_t sdramFree = record_->heaps[0]->freeBytes;
    const uint32_t descFree = DescFree();
    // Three 3 KB bands do not fit 8 KB less its reserved tail.
    EXPECT_EQ(mp_buf_alloc_on_node(kNode, 1024, 3, 3, 8, kLocSdram), nullptr);
    EXPECT_EQ(record_->heaps[0]->freeBytes, sdramFree);
    if (descFree) {
        EXPECT_EQ(DescFree(), descFree);
    }
    // A display heap location needs the frame window.
    EXPECT_EQ(mp_buf_alloc_on_node(kNode, 16, 1, 1, 8, kLocDisplay0), nullptr);
    EXPECT_EQ(mp_buf_alloc_on_node(kNode, 16, 1, 1, 8, kLocAutoDisplay), nullptr);
}

TEST_F(BufIdTest, AutomaticDisplayMemoryMovesToTheNextHeap)
{
    record_->chipFrame = W(g_frame);
    block_.frameWindow = 0x80000000u;
    record_->displayMemoryWord = 0x600000;
    record_->heaps[1] = mp_mem_new_heap(nullptr, W(g_frame), 1024, 0);           // too small
    record_->heaps[2] = mp_mem_new_heap(nullptr, W(g_frame) + 4096, 16384, 0);
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1024, 2, 2, 8, kLocAutoDisplay);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->location, kLocDisplay2M);
    EXPECT_EQ(b->bandTable[0].physical, b->bandTable[0].mapped - W(g_frame) + 0x80000000u);
    EXPECT_EQ(record_->heaps[1]->freeBytes, record_->heaps[1]->size);
    mp_buf_free(b);
    EXPECT_EQ(record_->heaps[2]->freeBytes, record_->heaps[2]->size);
    mp_mem_delete_heap(record_->heaps[1]);
    mp_mem_delete_heap(record_->heaps[2]);
    record_->heaps[1] = record_->heaps[2] = nullptr;
}

// A display heap's bands as the display Orlo's engines address them: its window onto its
// 2 MB of memory maps the top of the Orlo's region (0x400000-0x5FFFFF).  The frame start
// moves with band 0; a band offset only by what its band moves differently, so the offsets
// between bands of one heap stay as they were.
TEST_F(BufIdTest, DisplayHeapBandsMoveIntoTheDisplayOrlosMemory)
{
    record_->chipFrame = W(g_frame);
    block_.frameWindow = 0x80000000u;
    record_->displayMemory = W(g_frame);
    record_->displayMemorySize = 0x200000;
    record_->heaps[2] = mp_mem_new_heap(nullptr, W(g_frame) + 4096, 16384, 0);
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1024, 2, 3, 8, kLocDisplay2M);
    ASSERT_NE(b, nullptr);
    const uint32_t offset0 = b->bandTable[0].mapped - W(g_frame);
    EXPECT_EQ(mp_buf_display_orlo_address(b, 0), 0x400000u + offset0);
    EXPECT_EQ(mp_buf_display_orlo_address(b, 3), 0u) << "no such band";

    const uint32_t bus0 = b->bandTable[0].physical, bus1 = b->bandTable[1].physical;
    uint32_t start = 0xFC000000u | (bus0 & 0x3FFFFFF), offset1 = bus1 - bus0, offset2 = 0x123, unused = 7;
    uint32_t* const frame[4] = {&start, &offset1, &offset2, &unused};
    mp_buf_place_on_display_orlo(b, frame);
    EXPECT_EQ(start, 0xFC000000u | (0x400000u + offset0)) << "the bits above the address stay";
    EXPECT_EQ(offset1, bus1 - bus0) << "both bands moved alike";
    EXPECT_EQ(offset2, 0x123u);
    EXPECT_EQ(unused, 7u) << "band 3 does not exist";

    // A buffer outside that memory keeps its addresses.
    record_->displayMemorySize = 0x100;
    uint32_t kept = 0x1234;
    uint32_t* const only[4] = {&kept, nullptr, nullptr, nullptr};
    mp_buf_place_on_display_orlo(b, only);
    EXPECT_EQ(kept, 0x1234u);
    mp_buf_free(b);
    record_->displayMemory = 0;
    record_->displayMemorySize = 0;
    mp_mem_delete_heap(record_->heaps[2]);
    record_->heaps[2] = nullptr;
}

TEST_F(BufIdTest, FixedFrameBufferLinesOf800BytesGetPitch960)
{
    record_->chipFrame = W(g_frame);
    block_.frameWindow = 0x80000000u;
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 800, 4, 1, 8, 0x60000040u);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->pitch, 960u);
    EXPECT_EQ(b->location, 0x40000040u);
    EXPECT_EQ(b->bandTable[0].mapped, W(g_frame));
    EXPECT_EQ(b->bandTable[0].physical, 0x80000000u);
    _MP_BUF_ST* c = mp_buf_alloc_on_node(kNode, 640, 4, 2, 8, 0x60000035u);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->location, 0x40000030u);
    EXPECT_EQ(c->pitch, 640u);
    EXPECT_EQ(c->bandTable[1].physical, 0x80200000u);
    mp_buf_free(b);
    mp_buf_free(c);
}

// ---------------------------------------------------------------- ids

TEST_F(BufIdTest, IdsCarrySlotNodeAndKindBits)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocSdram);
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocInline);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(mp_buf_alloc_id(a), 0x110001u);
    EXPECT_EQ(mp_buf_alloc_id(a), 0x110001u);   // unchanged on a second call
    EXPECT_EQ(mp_buf_alloc_id(b), 0x2110002u);
    EXPECT_EQ(mp_buf_pointer(0x110001u), a);
    EXPECT_EQ(mp_buf_pointer(0x2110002u), b);
    EXPECT_EQ(mp_buf_is_id_valid(0x110001u), 1);
    // Slot bits 0 name nothing; a slot past the table neither.
    EXPECT_EQ(mp_buf_is_id_valid(0x110000u), 0);
    EXPECT_EQ(mp_buf_pointer(0x110000u), nullptr);
    EXPECT_EQ(mp_buf_pointer(0x110000u + 500), nullptr);
    EXPECT_EQ(mp_buf_pointer(0x130001u), nullptr);   // a node without table
    // The right slot with other kind bits is not the buffer.
    EXPECT_EQ(mp_buf_pointer(0x1110001u), nullptr);
    mp_buf_free(a);
    mp_buf_free(b);
    EXPECT_EQ(mp_buf_alloc_id(nullptr), 0u);
}

TEST_F(BufIdTest, TheHundredAndFirstIdGrowsTheTableBy50)
{
    std::vector<_MP_BUF_ST*> all;
    for (int i = 0; i < 101; ++i) {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
        ASSERT_NE(b, nullptr);
        ASSERT_NE(mp_buf_alloc_id(b), 0u);
        all.push_back(b);
    }
    EXPECT_EQ(all[100]->id, 0x2110000u + 101);
    for (int i = 0; i < 101; ++i) EXPECT_EQ(mp_buf_pointer(all[static_cast<size_t>(i)]->id), all[static_cast<size_t>(i)]);
    EXPECT_EQ(mp_buf_is_id_valid(0x110000u + 150), 0);
    EXPECT_EQ(mp_buf_pointer(0x2110000u + 151), nullptr);
    for (_MP_BUF_ST* b : all) mp_buf_free(b);
}

TEST_F(BufIdTest, AFreedIdResolvesToNullAndItsSlotIsReused)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocSdram);
    ASSERT_NE(a, nullptr);
    const uint32_t id = mp_buf_alloc_id(a);
    const uint32_t sdramFree = record_->heaps[0]->freeBytes;
    mp_buf_free(a);
    EXPECT_GT(record_->heaps[0]->freeBytes, sdramFree);
    EXPECT_EQ(mp_buf_pointer(id), nullptr);
    EXPECT_EQ(mp_buf_is_id_valid(id), 0);
    EXPECT_EQ(mp_buf_valid(a, 0), 0);   // refused without being read
    mp_buf_free(a);                     // a second free does nothing
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocInline);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(mp_buf_alloc_id(b), 0x2110001u);
    EXPECT_EQ(mp_buf_pointer(id), nullptr);
    mp_buf_free(b);
}

TEST_F(BufIdTest, WithoutATableAnIdHasOnlyItsKindBits)
{
    ASSERT_EQ(mp_sys_insert_node(0x13, &block_), 0);
    _MP_BUF_ST* b = mp_buf_alloc_on_node(0x13, 1, 1, 0, 8, kLocNoBands);
    // Node 0x13 has its descriptor heap in the same arena double.
    if (b) {
        EXPECT_EQ(mp_buf_alloc_id(b), 0x2000000u);
        mp_buf_free(b);
    }
    mp_buf_exit_all();
    mp_sys_remove_node(0x13);
}

// ---------------------------------------------------------------- validity

TEST_F(BufIdTest, ValidityChecksKindLocationAndPredefinedBits)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocSdram);
    ASSERT_NE(a, nullptr);
    mp_buf_alloc_id(a);
    EXPECT_EQ(mp_buf_valid(a, 0), 1);
    EXPECT_EQ(mp_buf_valid(a, kBufKindImage), 1);
    EXPECT_EQ(mp_buf_valid(a, kBufKindThread), 0);
    a->kind = kBufKindThread;
    EXPECT_EQ(mp_buf_valid(a, kBufKindThread | 0x40000000u), 1);
    a->kind = kBufKindImage;
    a->id |= 0x40000000u;
    EXPECT_EQ(mp_buf_valid(a, 0), 0);
    EXPECT_EQ(mp_buf_valid(a, 0x40000000u), 1);
    a->id &= ~0x40000000u;
    a->location = kLocPaged;
    EXPECT_EQ(mp_buf_valid(a, 0), 0);
    EXPECT_EQ(mp_buf_valid(a, 0x80000000u), 1);
    a->location = kLocSdram;
    mp_buf_free(a);
}

TEST_F(BufIdTest, SmallReferencesAndForeignMemoryAreNeverRead)
{
    EXPECT_EQ(mp_buf_valid(nullptr, 0x40000000u), 0);
    EXPECT_EQ(mp_buf_valid(reinterpret_cast<_MP_BUF_ST*>(16), 0x40000000u), 1);
    EXPECT_EQ(mp_buf_valid(reinterpret_cast<_MP_BUF_ST*>(16), 0), 0);
    // A block that looks like a descriptor but was not made here.
    _MP_BUF_ST fake{};
    fake.node = kNode;
    fake.kind = kBufKindImage;
    fake.location = kLocSdram;
    EXPECT_EQ(mp_buf_valid(&fake, 0), 0);
    EXPECT_EQ(mp_buf_child(&fake, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(mp_buf_put_field(&fake, 1, 1.0), -1);
    mp_buf_free(&fake);   // nothing happens
    EXPECT_EQ(mp_buf_ref_to_id(nullptr), 0u);
    EXPECT_EQ(mp_buf_ref_to_id(reinterpret_cast<_MP_BUF_ST*>(16)), 0x40000010u);
}

// ---------------------------------------------------------------- predefined and remote

TEST_F(BufIdTest, PredefinedIdsResolveThroughTheTable)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
    ASSERT_NE(a, nullptr);
    PreDefBufAddress[0x20] = W(a);
    PreDefBufAddress[0x21] = 1;
    EXPECT_EQ(mp_buf_pointer(0x40000020u), a);
    EXPECT_EQ(mp_buf_pointer(0x40000021u), nullptr);
    // An empty entry gives back the small predefined number; kind bits are ignored.
    EXPECT_EQ(W(mp_buf_pointer(0x40000030u)), 0x30u);
    EXPECT_EQ(mp_buf_pointer(0x47000020u), a);
    EXPECT_EQ(mp_buf_pointer(0x40000000u + 300), nullptr);
    mp_buf_free(a);
}

TEST_F(BufIdTest, ARemoteIdIsAskedOfItsNode)
{
    _MP_BUF_ST* a = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
    ASSERT_NE(a, nullptr);
    g_reply[0] = 0x1234;
    g_reply[1] = 0;
    g_reply[2] = W(a);
    EXPECT_EQ(mp_buf_pointer(0x120005u), a);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].node, kRemoteNode);
    EXPECT_EQ(g_calls[0].opcode, 36u);
    EXPECT_EQ(g_calls[0].name, "mp_buf_buf_pointer");
    EXPECT_EQ(g_calls[0].params, (std::vector<uint32_t>{0x120005u, 400u}));
    g_reply[0] = 0;
    EXPECT_EQ(mp_buf_pointer(0x120005u), nullptr);
    g_remoteResult = -1;
    g_reply[0] = 0x1234;
    EXPECT_EQ(mp_buf_pointer(0x120005u), nullptr);
    mp_buf_free(a);
}

// ---------------------------------------------------------------- given memory

TEST_F(BufIdTest, BuffersOverGivenMemory)
{
    alignas(8) static uint8_t host[2][64];
    const uint32_t addresses[2] = {W(host[0]), W(host[1])};
    _MP_BUF_ST* p = mp_buf_create(kNode, 16, 4, 2, 8, 4, 16, addresses);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->location, kLocPaged);
    EXPECT_EQ(p->pitch, 16u);
    EXPECT_EQ(mp_buf_address_band_internal(p, 1), host[1]);
    EXPECT_EQ(p->bandTable[1].mapped, 0u);
    mp_buf_alloc_id(p);
    EXPECT_EQ(p->id & 0xF000000u, 0xC000000u);

    _MP_BUF_ST* src = mp_buf_alloc_on_node(kNode, 8, 2, 1, 16, kLocSdram);
    ASSERT_NE(src, nullptr);
    const uint32_t srcId = mp_buf_alloc_id(src);
    const uint32_t ids[1] = {srcId};
    _MP_BUF_ST* over = mp_buf_create(kNode, 1, 1, 1, 8, 0x10000000u, 4, ids);
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(over->sizeX, 8);
    EXPECT_EQ(over->bits, 16u);
    EXPECT_EQ(over->pitch, 16u);
    EXPECT_EQ(over->location, kLocSdram);
    EXPECT_EQ(over->bandTable[0].mapped, src->bandTable[0].mapped);
    const uint32_t none[1] = {0x110063u};
    EXPECT_EQ(mp_buf_create(kNode, 1, 1, 1, 8, 0x10000000u, 4, none), nullptr);

    const uint32_t bus[1] = {0xE0001000u};
    _MP_BUF_ST* dma = mp_buf_create(kNode, 16, 1, 1, 8, 5, 16, bus);
    ASSERT_NE(dma, nullptr);
    EXPECT_EQ(dma->location, kLocHostDma);
    EXPECT_EQ(dma->bandTable[0].physical, 0xE0001000u);
    mp_buf_free(p);
    mp_buf_free(over);
    mp_buf_free(dma);
    mp_buf_free(src);
}

TEST_F(BufIdTest, FreeingReturnsFieldsAndDescriptorToTheHeap)
{
    _MP_BUF_ST* first = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
    ASSERT_NE(first, nullptr);
    const uint32_t before = DescFree();
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocSdram);
    ASSERT_NE(b, nullptr);
    for (uint32_t k = 1; k <= 5; ++k) ASSERT_EQ(mp_buf_put_field(b, k, k * 1.5), 0);
    EXPECT_EQ(b->fieldCount, 5u);
    EXPECT_EQ(DescFree(), before - 128 - 5 * 64);
    mp_buf_free(b);
    EXPECT_EQ(DescFree(), before);
    mp_buf_free(first);
}

} // namespace
