// Host buffer memory without a node: line and paged layouts, the page-locking view of a
// descriptor, and the lock and unlock decisions that need no node.
#include "hostbuf.h"

#include "bufid.h"
#include "im_msgio.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

TEST(HostBufLayout, LineBytesPackBitsAndCountWholeBytesOtherwise)
{
    EXPECT_EQ(mp_hostbuf_line_bytes(1, 100), 13u);
    EXPECT_EQ(mp_hostbuf_line_bytes(1, 8), 1u);
    EXPECT_EQ(mp_hostbuf_line_bytes(8, 641), 641u);
    EXPECT_EQ(mp_hostbuf_line_bytes(16, 7), 14u);
    EXPECT_EQ(mp_hostbuf_line_bytes(32, 3), 12u);
    EXPECT_EQ(mp_hostbuf_line_bytes(8, 0), 0u);
    EXPECT_EQ(mp_hostbuf_line_bytes(8, -4), 0u);
}

TEST(HostBufLayout, PagedPitchAndBandBytesOfBothForms)
{
    uint32_t pitch = 0, bytes = 0;
    ASSERT_EQ(mp_hostbuf_paged_layout(false, 641, 10, 8, &pitch, &bytes), 0);
    EXPECT_EQ(pitch, 641u);
    EXPECT_EQ(bytes, 6410u + 4096u);
    ASSERT_EQ(mp_hostbuf_paged_layout(true, 641, 10, 8, &pitch, &bytes), 0);
    EXPECT_EQ(pitch, 644u);
    EXPECT_EQ(bytes, 6440u + 4096u);
    ASSERT_EQ(mp_hostbuf_paged_layout(false, 5, 2, 0x10000020u, &pitch, &bytes), 0);
    EXPECT_EQ(pitch, 20u);
    ASSERT_EQ(mp_hostbuf_paged_layout(false, 96, 3, 0x40000001u, &pitch, &bytes), 0);
    EXPECT_EQ(pitch, 12u);
    EXPECT_EQ(bytes, 36u + 4096u);

    pitch = bytes = 77;
    EXPECT_EQ(mp_hostbuf_paged_layout(false, 100, 3, 0x40000001u, &pitch, &bytes), -8);
    EXPECT_EQ(mp_hostbuf_paged_layout(true, 100, 3, 0x40000001u, &pitch, &bytes), -8);
    EXPECT_EQ(mp_hostbuf_paged_layout(false, 0, 3, 8, &pitch, &bytes), -8);
    EXPECT_EQ(mp_hostbuf_paged_layout(false, 4, -1, 8, &pitch, &bytes), -8);
    EXPECT_EQ(mp_hostbuf_paged_layout(false, 0x40000000, 0x40, 32, &pitch, &bytes), -8) << "too large";
    EXPECT_EQ(pitch, 77u) << "nothing stored on refusal";
    EXPECT_EQ(bytes, 77u);
}

TEST(HostBufPaged, BandsComeZeroedAndGoBackWithTheirRoot)
{
    uint32_t addresses[3] = {};
    ASSERT_EQ(mp_hostbuf_paged_alloc(3, 64, addresses), 0);
    for (uint32_t a : addresses) {
        ASSERT_NE(a, 0u);
        const auto* p = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(a));
        for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
    }
    // A root's bands go back to the heap and are forgotten; a child has none of its own.
    std::vector<_MP_BAND_ST> table(3);
    for (int i = 0; i < 3; ++i) table[i].third = addresses[i];
    _MP_BUF_ST child{};
    _MP_BUF_ST root{};
    root.location = child.location = kLocPaged;
    root.bands = child.bands = 3;
    root.bandTable = child.bandTable = table.data();
    child.parent = &root;
    EXPECT_EQ(mp_hostbuf_paged_free_root(&child), 0u);
    EXPECT_EQ(mp_hostbuf_paged_free_root(&root), 3u);
    for (const _MP_BAND_ST& band : table) EXPECT_EQ(band.third, 0u);
    EXPECT_EQ(mp_hostbuf_paged_free_root(&root), 0u) << "freed once only";
}

TEST(HostBufLocking, DescribeGivesEachBandsAddressAndLengthAndTheParent)
{
    std::vector<uint8_t> memory(2 * 40 * 3);
    std::vector<_MP_BAND_ST> table(2);
    table[0].third = Word(memory.data());
    table[1].third = Word(memory.data() + 120);
    _MP_BUF_ST root{};
    root.id = 0xC110005u;
    root.location = kLocPaged;
    root.bands = 2;
    root.pitch = 40;
    root.sizeX = 37;
    root.sizeY = 3;
    root.bandTable = table.data();
    SysBufferInfo info{};
    ASSERT_EQ(HostBufDescribe(0x110000, Word(&root), &info), 0);
    EXPECT_EQ(info.bands, 2u);
    EXPECT_EQ(info.band[0].address, memory.data());
    EXPECT_EQ(info.band[1].address, memory.data() + 120);
    EXPECT_EQ(info.band[0].length, 120u);
    EXPECT_EQ(info.parent, 0u);

    _MP_BUF_ST child = root;
    child.parent = &root;
    ASSERT_EQ(HostBufDescribe(0x110000, Word(&child), &info), 0);
    EXPECT_EQ(info.parent, root.id);

    _MP_BUF_ST wide = root;
    wide.bands = kSysMaxBands + 1;
    EXPECT_EQ(HostBufDescribe(0x110000, Word(&wide), &info), -1);
    EXPECT_EQ(HostBufDescribe(0x110000, 0, &info), -1);
}

TEST(HostBufLocking, OnlyPagedBuffersCountLocksAndAnUnlockNeedsALock)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 214, 3, "imBufControl");
    _MP_BUF_ST board{};
    board.location = kLocSdram;
    uint32_t list = 5;
    EXPECT_EQ(mp_hostbuf_lock(&msg, 0x110000, &board, &list), kHostBufSendNothing);
    EXPECT_EQ(list, 0u);
    EXPECT_EQ(mp_hostbuf_unlock(&msg, 0x110000, &board), kHostBufSendNothing);
    EXPECT_EQ(board.lockCount, 0u);
    EXPECT_EQ(im_msg_cmd_error(&msg), 0) << "a refusal on the console, not an error";

    _MP_BUF_ST paged{};
    paged.location = kLocPaged;
    paged.lockCount = 1;
    EXPECT_EQ(mp_hostbuf_lock(&msg, 0x110000, &paged, &list), kHostBufSendNothing);
    EXPECT_EQ(paged.lockCount, 2u);
    EXPECT_EQ(mp_hostbuf_unlock(&msg, 0x110000, &paged), kHostBufSend);
    EXPECT_EQ(paged.lockCount, 1u);

    paged.lockCount = 0;
    EXPECT_EQ(mp_hostbuf_unlock(&msg, 0x110000, &paged), kHostBufSendNothing);
    EXPECT_EQ(paged.lockCount, 0u) << "no wrap below zero";
    EXPECT_EQ(im_msg_cmd_error(&msg), -12);
    EXPECT_STREQ(msg.body.err.message, "Cannot unlock buffer");
}

}  // namespace
