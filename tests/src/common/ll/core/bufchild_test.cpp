#include "buftest.h"

#include <cstdlib>

namespace {

using namespace buftest;

using BufChildTest = BufTest;

// ---------------------------------------------------------------- children

TEST_F(BufChildTest, AChildOfAChildPointsAtTheRootAndAddsBothOffsets)
{
    _MP_BUF_ST* root = mp_buf_alloc_on_node(kNode, 64, 16, 2, 8, kLocSdram);
    ASSERT_NE(root, nullptr);
    _MP_BUF_ST* c1 = mp_buf_child(root, 8, 2, 32, 8);
    ASSERT_NE(c1, nullptr);
    _MP_BUF_ST* c2 = mp_buf_child(c1, 4, 3, 8, 4);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(c2->parent, root);
    EXPECT_EQ(c2->offsetX, 12);
    EXPECT_EQ(c2->offsetY, 5);
    EXPECT_EQ(c2->sizeX, 8);
    EXPECT_EQ(c2->pitch, 64u);
    EXPECT_EQ(root->children, 2);
    EXPECT_EQ(c2->children, 1);
    for (uint32_t i = 0; i < 2; ++i)
        EXPECT_EQ(W(mp_buf_address_band_internal(c2, i)), W(mp_buf_address_band_internal(root, i)) + 5 * 64 + 12);
    mp_buf_put_pix(c2, 1, 0, 0, 77);
    EXPECT_EQ(mp_buf_get_pix(root, 1, 12, 5), 77);
    const uint32_t sdramFree = record_->heaps[0]->freeBytes;
    mp_buf_free(c2);
    mp_buf_free(c1);
    EXPECT_EQ(root->children, 0);
    EXPECT_EQ(record_->heaps[0]->freeBytes, sdramFree);
    EXPECT_EQ(mp_buf_get_pix(root, 1, 12, 5), 77);
    mp_buf_free(root);
}

TEST_F(BufChildTest, AChildOutsideItsParentIsRefused)
{
    _MP_BUF_ST* root = mp_buf_alloc_on_node(kNode, 64, 16, 1, 8, kLocSdram);
    ASSERT_NE(root, nullptr);
    _MP_BUF_ST* c = mp_buf_child(root, 32, 8, 32, 8);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(mp_buf_child(root, 33, 0, 32, 1), nullptr);
    EXPECT_EQ(mp_buf_child(root, 0, 9, 1, 8), nullptr);
    EXPECT_EQ(mp_buf_child(root, -1, 0, 1, 1), nullptr);
    EXPECT_EQ(mp_buf_child(c, 0, 0, 33, 1), nullptr);   // the parent's own size counts
    EXPECT_EQ(mp_buf_child(nullptr, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(root->children, 1);
    // Moves keep the region inside the root.
    EXPECT_EQ(mp_buf_child_move(c, 1, 0, -1, -1), -1);
    EXPECT_EQ(c->offsetX, 32);
    EXPECT_EQ(mp_buf_child_move(c, -32, -8, 16, -1), 0);
    EXPECT_EQ(c->offsetX, 0);
    EXPECT_EQ(c->offsetY, 0);
    EXPECT_EQ(c->sizeX, 16);
    EXPECT_EQ(c->sizeY, 8);
    EXPECT_EQ(mp_buf_address_band_internal(c, 0), mp_buf_address_band_internal(root, 0));
    EXPECT_EQ(mp_buf_child_move(root, 0, 0, -1, -1), -1);   // no child
    mp_buf_free(c);
    mp_buf_free(root);
}

TEST_F(BufChildTest, ABandChildTakesTheAddressesOfItsBand)
{
    _MP_BUF_ST* root = mp_buf_alloc_on_node(kNode, 16, 4, 3, 8, kLocSdram);
    ASSERT_NE(root, nullptr);
    root->bandTable[2].physical = 0xA0000000u;
    _MP_BUF_ST* b = mp_buf_child_band(root, 2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->bands, 1u);
    EXPECT_EQ(b->firstBand, 2u);
    EXPECT_EQ(b->parent, root);
    EXPECT_EQ(b->sizeX, 16);
    EXPECT_EQ(mp_buf_address_band_internal(b, 0), mp_buf_address_band_internal(root, 2));
    EXPECT_EQ(b->bandTable[0].physical, 0xA0000000u);
    EXPECT_EQ(mp_buf_child_band(root, 3), nullptr);
    EXPECT_EQ(mp_buf_child_band(root, -1), nullptr);
    EXPECT_EQ(root->children, 1);
    mp_buf_free(b);
    EXPECT_EQ(root->children, 0);
    mp_buf_free(root);
}

// ---------------------------------------------------------------- fields

TEST_F(BufChildTest, FieldsKeepInsertionOrderAndUniqueKeys)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
    ASSERT_NE(b, nullptr);
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    uint32_t key = 0;
    double value = 0;
    EXPECT_EQ(mp_buf_next_field(b, &cursor, &key, &value), -1);
    ASSERT_EQ(mp_buf_put_field(b, 30, 3.5), 0);
    ASSERT_EQ(mp_buf_put_field(b, 10, -2.7), 0);
    ASSERT_EQ(mp_buf_put_field(b, 20, 1e10), 0);
    ASSERT_EQ(mp_buf_put_field(b, 30, 4.25), 0);   // replaces
    EXPECT_EQ(b->fieldCount, 3u);
    std::vector<uint32_t> keys;
    std::vector<double> values;
    while (mp_buf_next_field(b, &cursor, &key, &value) == 0) {
        keys.push_back(key);
        values.push_back(value);
        if (keys.size() > 5) break;
    }
    EXPECT_EQ(keys, (std::vector<uint32_t>{30, 10, 20}));
    EXPECT_EQ(values, (std::vector<double>{4.25, -2.7, 1e10}));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(mp_buf_next_field(b, &cursor, &key, &value), -3);
    int32_t i = 0;
    EXPECT_EQ(mp_buf_get_field(b, 10, &i), 0);
    EXPECT_EQ(i, -2);
    EXPECT_EQ(mp_buf_get_field(b, 11, &i), -1);
    _MP_FIELD_ST* prev = nullptr;
    _MP_FIELD_ST* f = mp_buf_find_field(b, 20, &prev);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(prev, mp_buf_find_field(b, 10));
    EXPECT_EQ(mp_buf_find_field(b, 30, &prev), mp_buf_field(b));
    EXPECT_EQ(prev, nullptr);
    cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    EXPECT_EQ(mp_buf_get_next_field(b, &cursor, &key, &i), 0);
    EXPECT_EQ(i, 4);
    // Removing the middle, then the rest.
    EXPECT_EQ(mp_buf_remove_field(b, 10), 0);
    EXPECT_EQ(mp_buf_field_link(b, mp_buf_field(b)), mp_buf_find_field(b, 20));
    EXPECT_EQ(mp_buf_remove_field(b, 10), -1);
    EXPECT_EQ(mp_buf_remove_field(b, 30), 0);
    EXPECT_EQ(mp_buf_remove_field(b, 20), 0);
    EXPECT_EQ(b->fieldCount, 0u);
    EXPECT_EQ(b->fieldList, nullptr);
    double d = 0;
    EXPECT_EQ(mp_buf_get_field_double(b, 20, &d), -1);
    EXPECT_EQ(mp_buf_put_field(nullptr, 1, 1), -1);
    mp_buf_free(b);
}

TEST_F(BufChildTest, FieldChangesOnARemoteNodeAreSentThere)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 1, 1, 0, 8, kLocNoBands);
    ASSERT_NE(b, nullptr);
    g_reply[0] = 0x1000;
    g_reply[2] = W(b);
    _MP_BUF_ST* r = mp_buf_pointer(0x120003u);   // a descriptor the remote node names
    ASSERT_EQ(r, b);
    b->node = kRemoteNode;
    b->id = 0x120003u;
    g_calls.clear();
    g_reply[0] = 0;
    EXPECT_EQ(mp_buf_put_field(b, 77, 2.5), 0);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].opcode, 44u);
    EXPECT_EQ(g_calls[0].name, "mp_buf_put_field");
    ASSERT_EQ(g_calls[0].params.size(), 4u);
    double v;
    std::memcpy(&v, &g_calls[0].params[2], sizeof v);
    EXPECT_EQ(v, 2.5);
    EXPECT_EQ(b->fieldCount, 0u);
    EXPECT_EQ(mp_buf_remove_field(b, 77), 0);
    EXPECT_EQ(g_calls[1].opcode, 46u);
    EXPECT_EQ(g_calls[1].params, (std::vector<uint32_t>{0x120003u, 77u}));
    EXPECT_EQ(mp_buf_modify(b, 1, 1, 8), 0);
    EXPECT_EQ(g_calls[2].opcode, 39u);
    g_remoteResult = -1;
    EXPECT_EQ(mp_buf_put_field(b, 77, 2.5), -1);
    b->node = kNode;
    b->id = 0;
    mp_buf_free(b);
}

// ---------------------------------------------------------------- pixels

TEST_F(BufChildTest, PixelsOfEveryListedType)
{
    struct Case {
        uint32_t type;
        double put, get;
    } cases[] = {
        {8, 257.9, 1.0},           {0x10000008u, -3.0, -3.0},    {8, 255.0, 255.0},
        {16, 70000.0, 4464.0},     {0x10000010u, -2.0, -2.0},    {16, 65535.0, 65535.0},
        {32, 4294967295.0, -1.0},  {0x10000020u, -5.9, -5.0},    {0x20000020u, 1.5, 1.5},
        {0x20000040u, -0.125, -0.125},
    };
    for (const Case& c : cases) {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 5, 3, 1, c.type, kLocSdram);
        ASSERT_NE(b, nullptr) << std::hex << c.type;
        mp_buf_put_pix(b, 0, 4, 2, c.put);
        EXPECT_EQ(mp_buf_get_pix_double(b, 0, 4, 2), c.get) << std::hex << c.type;
        EXPECT_EQ(mp_buf_get_pix(b, 0, 4, 2), static_cast<int32_t>(c.get));
        mp_buf_free(b);
    }
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 5, 3, 1, 32, kLocSdram);
    ASSERT_NE(b, nullptr);
    auto* p = static_cast<uint32_t*>(mp_buf_address_band_internal(b, 0));
    p[2 * 5 + 4] = 0xFFFFFFFFu;   // pitch 20 bytes: 5 pixels a line
    EXPECT_EQ(mp_buf_get_pix_double(b, 0, 4, 2), -1.0);
    mp_buf_free(b);
}

TEST_F(BufChildTest, PixelsOutsideTheBufferAreNeverTouched)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 4, 2, 1, 8, kLocInline);
    ASSERT_NE(b, nullptr);
    auto* p = static_cast<uint8_t*>(mp_buf_address_band_internal(b, 0));
    std::memset(p, 0, 8);
    mp_buf_put_pix(b, 0, 4, 0, 9);
    mp_buf_put_pix(b, 0, 0, 2, 9);
    mp_buf_put_pix(b, 0, -1, 0, 9);
    mp_buf_put_pix(b, 1, 0, 0, 9);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(mp_buf_get_pix_double(b, 0, 4, 0), 0.0);
    EXPECT_EQ(mp_buf_get_pix_double(b, 1, 0, 0), 0.0);
    mp_buf_put_pix(b, 0, 3, 1, 9);
    EXPECT_EQ(p[7], 9);
    mp_buf_free(b);
}

TEST_F(BufChildTest, OneBitPixelsCountFromTheChildsBitOffset)
{
    _MP_BUF_ST* root = mp_buf_alloc_on_node(kNode, 64, 2, 1, 0x40000001u, kLocSdram);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->pitch, 8u);
    auto* p = static_cast<uint8_t*>(mp_buf_address_band_internal(root, 0));
    std::memset(p, 0, 16);
    mp_buf_put_pix(root, 0, 9, 1, 1);
    EXPECT_EQ(p[8 + 1], 0x02);
    EXPECT_EQ(mp_buf_get_pix_double(root, 0, 9, 1), 1.0);
    _MP_BUF_ST* c = mp_buf_child(root, 11, 0, 8, 2);
    ASSERT_NE(c, nullptr);
    mp_buf_put_pix(c, 0, 2, 0, 256);   // low byte 0 clears
    mp_buf_put_pix(c, 0, 2, 0, 3);
    EXPECT_EQ(p[1], 0x20);             // bit 13 of the line
    EXPECT_EQ(mp_buf_get_pix_double(root, 0, 13, 0), 1.0);
    mp_buf_put_pix(c, 0, 2, 0, 0);
    EXPECT_EQ(p[1], 0);
    mp_buf_free(c);
    mp_buf_free(root);
}

// ---------------------------------------------------------------- modify

TEST_F(BufChildTest, ModifyKeepsWhatIsMinus9999AndRepitchesNaturalLines)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 16, 4, 1, 8, kLocSdram);
    ASSERT_NE(b, nullptr);
    const _MP_BUF_ST before = *b;
    EXPECT_EQ(mp_buf_modify(b, kBufKeep, kBufKeep, kBufKeep), 0);
    EXPECT_EQ(std::memcmp(&before, b, sizeof before), 0);
    EXPECT_EQ(mp_buf_modify(b, 8, kBufKeep, 16), 0);
    EXPECT_EQ(b->pitch, 16u);
    EXPECT_EQ(b->bits, 16u);
    EXPECT_EQ(b->sizeX, 8);
    EXPECT_EQ(mp_buf_modify(b, kBufKeep, 2, 0x20000020), 0);
    EXPECT_EQ(b->typeClass, 0x20000000u);
    EXPECT_EQ(b->pitch, 32u);
    EXPECT_EQ(b->sizeY, 2);
    // More than the band holds is refused and changes nothing.
    EXPECT_EQ(mp_buf_modify(b, 16, 4, 32), -1);
    EXPECT_EQ(b->sizeX, 8);
    EXPECT_EQ(mp_buf_modify(nullptr, 1, 1, 8), -1);
    mp_buf_free(b);
}

// ---------------------------------------------------------------- paged

TEST_F(BufChildTest, PagedBuffersKeepPrivatePageListCopies)
{
    alignas(8) static uint8_t host[2][4096];
    const uint32_t addresses[2] = {W(host[0]), W(host[1])};
    _MP_BUF_ST* p = mp_buf_create(kNode, 64, 4, 2, 8, 4, 64, addresses);
    ASSERT_NE(p, nullptr);
    _MP_BUF_ST* list = mp_buf_alloc_on_node(kNode, 4, 1, 2, 32, kLocInline);
    ASSERT_NE(list, nullptr);
    auto* l0 = static_cast<uint32_t*>(mp_buf_address_band_internal(list, 0));
    auto* l1 = static_cast<uint32_t*>(mp_buf_address_band_internal(list, 1));
    l0[0] = 2; l0[1] = 0x1000; l0[2] = 0x2000;
    l1[0] = 9;   // more entries than the band holds: not copied
    mp_buf_lock_paged(p, list);
    ASSERT_NE(p->bandTable[0].mapped, 0u);
    const uint32_t* copy = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(p->bandTable[0].mapped));
    EXPECT_EQ(copy[0], 2u);
    EXPECT_EQ(copy[2], 0x2000u);
    EXPECT_EQ(p->bandTable[1].mapped, 0u);
    mp_buf_unlock_paged(p);
    EXPECT_EQ(p->bandTable[0].mapped, 0u);
    mp_buf_free(list);
    mp_buf_free(p);
}

} // namespace
