// The system commands end to end on a served node: the node's clock, time stamps into a
// buffer's fields, and the memory maps of a heap and of the descriptor table; and the
// used-block listing that never writes past the room it is given.
#include "servednode.h"
#include "syshandlers.h"

#include "bufchild.h"
#include "heap.h"
#include "hlc_errors.h"
#include "im_param.h"
#include "imsys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using servednode::ServedNodeTest;
using servednode::kMain;
using ringnode::g_record;
using ringnode::g_nodeState;
using ringnode::kNode;

namespace {

constexpr uint32_t kFakeBoardMemory = 0x200000;   // the heap never touches what it manages
constexpr uint32_t kFakeBoardBytes = 0x10000;

uint32_t W(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

std::string LastMessage()
{
    char text[80] = {};
    imAppGetError(4, text);
    return text;
}

std::string LastFunction()
{
    char text[32] = {};
    imAppGetError(8, text);
    return text;
}

class SysCommandTest : public ServedNodeTest {
protected:
    void InstallHandlers() override { mp_sys_install(); }
    void TearDown() override
    {
        if (g_record.heaps[0] && g_record.heaps[0] != g_record.heaps[5]) mp_mem_delete_heap(g_record.heaps[0]);
        g_record.heaps[0] = nullptr;
        ServedNodeTest::TearDown();
    }
    // A heap over board memory with blocks of 128, 256 and 64 bytes, the middle one freed.
    void BoardHeap()
    {
        heap* h = mp_mem_new_heap(nullptr, kFakeBoardMemory, kFakeBoardBytes, 0);
        ASSERT_NE(h, nullptr);
        mp_mem_lock();
        first_ = mp_mem_malloc(h, 128);
        const uint32_t middle = mp_mem_malloc(h, 256);
        third_ = mp_mem_malloc(h, 64);
        mp_mem_free(h, middle);
        mp_mem_unlock();
        g_record.heaps[0] = h;
    }
    uint32_t first_ = 0, third_ = 0;
};

TEST_F(SysCommandTest, ClockRunsOnTheNodeAndCountsFromTheStart)
{
    const double now = imSysClock(kMain, 0.0);
    EXPECT_GT(now, 0.0);
    const double since = imSysClock(kMain, now);
    EXPECT_GE(since, 0.0);
    EXPECT_LT(since, 5.0);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
}

TEST_F(SysCommandTest, TimeStampBecomesAFieldOfTheBuffer)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 16, 4, 1, 8, kLocInline);
    ASSERT_NE(b, nullptr);
    const uint32_t id = mp_buf_alloc_id(b);
    const double start = imSysClock(kMain, 0.0);
    EXPECT_EQ(imSysTimeStamp(kMain, id, 5001, start), 0);
    // Commands of one thread object are served in order: once this one is answered the
    // stamp is in.
    const double after = imSysClock(kMain, start);
    double stamp = -1.0;
    ASSERT_EQ(mp_buf_get_field_double(b, 5001, &stamp), 0);
    EXPECT_GE(stamp, 0.0);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    mp_buf_free(b);
}

TEST_F(SysCommandTest, TimeStampIntoNoBufferReachesTheNextWaitingCommand)
{
    EXPECT_EQ(imSysTimeStamp(kMain, (kNode << 16) | 0x7777, 5001, 0.0), 0);
    // The clock command as imSysClock sends it: its reply carries the stamp's error.
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSysClock, 1, "imSysClock");
    im_msg_put_double(&msg, 0, 0.0);
    im_msg_send(&msg, 0, kMain, 0, IM_SYNC_POLL);
    EXPECT_EQ(msg.body.err.code, HLC_ERR_INVALID_BUFFER);
    ASSERT_NE(msg.body.err.message, nullptr);
    EXPECT_STREQ(msg.body.err.message, "Invalid buffer ID");
    ASSERT_NE(msg.body.err.function, nullptr);
    EXPECT_STREQ(msg.body.err.function, "SysTimeStamp");
    im_msg_reset_application();
    im_msg_end(&msg);
    // The earlier command's error reaches the caller through this reply.
    EXPECT_EQ(im_Application.error.code, HLC_ERR_INVALID_BUFFER);
    EXPECT_STREQ(im_Application.messageBuffer, "Invalid buffer ID");
    im_msg_reset_application();
    // Delivered once: the next command is clean.
    _MSG_ST again{};
    im_msg_start(&again, kOpSysClock, 1, "imSysClock");
    im_msg_put_double(&again, 0, 0.0);
    im_msg_send(&again, 0, kMain, 0, IM_SYNC_POLL);
    EXPECT_EQ(again.body.err.code, 0);
}

TEST_F(SysCommandTest, WindowSizeIsRoundedUpToWholeMegabytes)
{
    BoardHeap();
    g_nodeState.orlo[0].memorySize = 0x3FFF000;
    int32_t out = 0;
    EXPECT_EQ(imSysGetMemoryMap(kMain, 0, &out), -1);
    EXPECT_EQ(out, 0x4000000);
    g_nodeState.orlo[0].memorySize = 0x200000;
    EXPECT_EQ(imSysGetMemoryMap(kMain, 0, &out), -1);
    EXPECT_EQ(out, 0x200000);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
}

TEST_F(SysCommandTest, UnknownModeAnswersNothing)
{
    BoardHeap();
    int32_t out = 77;
    EXPECT_EQ(imSysGetMemoryMap(kMain, 1, &out), -1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
}

TEST_F(SysCommandTest, MissingHeapIsAnInvalidHeap)
{
    int32_t out = 77;
    EXPECT_EQ(imSysGetMemoryMap(kMain, 2, &out), 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(imAppGetError(0, nullptr), HLC_ERR_NO_SYSTEM);
    EXPECT_EQ(LastMessage(), "Invalid heap");
    EXPECT_EQ(LastFunction(), "getMemory");
}

TEST_F(SysCommandTest, UsedBlocksOfTheBoardHeapComeAsPairs)
{
    BoardHeap();
    int32_t id = 0;
    ASSERT_EQ(imSysGetMemoryMap(kMain, 2, &id), 2);
    _MP_BUF_ST* map = mp_buf_pointer(static_cast<uint32_t>(id));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->sizeX, 2);
    EXPECT_EQ(map->bits, 32u);
    const auto* pairs = static_cast<const uint32_t*>(mp_buf_address_band_internal(map, 0));
    EXPECT_EQ(pairs[0], first_);
    EXPECT_EQ(pairs[1], first_ + 127);
    EXPECT_EQ(pairs[2], third_);
    EXPECT_EQ(pairs[3], third_ + 63);
    mp_buf_free(map);
}

TEST_F(SysCommandTest, EmptyHeapGivesAMapOfNoPairs)
{
    g_record.heaps[0] = mp_mem_new_heap(nullptr, kFakeBoardMemory, kFakeBoardBytes, 0);
    ASSERT_NE(g_record.heaps[0], nullptr);
    int32_t id = 0;
    EXPECT_EQ(imSysGetMemoryMap(kMain, 2, &id), 0);
    _MP_BUF_ST* map = mp_buf_pointer(static_cast<uint32_t>(id));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    mp_buf_free(map);
}

TEST_F(SysCommandTest, MapOfTheHeapHoldingItLeavesItsOwnBlockOut)
{
    // Heap 0 is the descriptor heap itself: the map lands in the heap it lists.
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocInline);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(g_record.heaps[5], nullptr);
    g_record.heaps[0] = g_record.heaps[5];
    std::vector<uint32_t> before(2 * 64);
    mp_mem_lock();
    const int32_t used = mp_sys_used_block_pairs(g_record.heaps[5], 0, before.data(), 64);
    mp_mem_unlock();
    ASSERT_GT(used, 0);
    int32_t id = 0;
    ASSERT_EQ(imSysGetMemoryMap(kMain, 2, &id), used);
    _MP_BUF_ST* map = mp_buf_pointer(static_cast<uint32_t>(id));
    ASSERT_NE(map, nullptr);
    const auto* pairs = static_cast<const uint32_t*>(mp_buf_address_band_internal(map, 0));
    for (int32_t i = 0; i < used; ++i) {
        EXPECT_EQ(pairs[2 * i], before[2 * i]) << i;
        EXPECT_EQ(pairs[2 * i + 1], before[2 * i + 1]) << i;
        EXPECT_FALSE(W(map) >= pairs[2 * i] && W(map) <= pairs[2 * i + 1]) << i;
    }
    g_record.heaps[0] = nullptr;
    mp_buf_free(map);
    mp_buf_free(b);
}

TEST_F(SysCommandTest, DescriptorTableHasOneLinePerIdSlot)
{
    BoardHeap();
    _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 32, 2, 2, 16, kLocInline);
    ASSERT_NE(b, nullptr);
    const uint32_t id = mp_buf_alloc_id(b);
    ASSERT_EQ(mp_buf_put_field(b, 7, 2.5), 0);
    ASSERT_EQ(mp_buf_put_field(b, 9, -1.25), 0);
    _MP_BUF_ST* child = mp_buf_child(b, 4, 1, 8, 1);
    ASSERT_NE(child, nullptr);
    const uint32_t childId = mp_buf_alloc_id(child);

    const uint32_t slots = mp_buf_id_slots(kNode);
    uint32_t maxBands = 0, maxFields = 0;
    for (uint32_t s = 0; s < slots; ++s)
        if (const _MP_BUF_ST* d = mp_buf_id_slot(kNode, s)) {
            maxBands = std::max(maxBands, d->bandTable ? d->bands : 0u);
            maxFields = std::max(maxFields, d->fieldCount);
        }
    const uint32_t width = maxBands + 2 * maxFields + kMemMapFixedValues;

    int32_t tableId = 0;
    ASSERT_EQ(imSysGetMemoryMap(kMain, 3, &tableId), static_cast<int32_t>(slots));
    _MP_BUF_ST* table = mp_buf_pointer(static_cast<uint32_t>(tableId));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->type, kMemMapTableType);
    EXPECT_EQ(table->sizeX, static_cast<int32_t>(width));
    EXPECT_EQ(table->sizeY, static_cast<int32_t>(slots));
    const auto* base = static_cast<const uint8_t*>(mp_buf_address_band_internal(table, 0));
    auto line = [&](uint32_t id) {
        return reinterpret_cast<const double*>(base + ((id & 0xFFFF) - 1) * table->pitch);
    };

    const double* l = line(id);
    const double expected[] = {double(id), double(kNode), double(b->owner), 16, 1, 32, 2, 16, double(b->pitch), 2,
                               double(kLocInline), 0, -1.0, 0, 0, 1, 2, 7, 2.5, 9, -1.25};
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) EXPECT_EQ(l[i], expected[i]) << i;
    EXPECT_EQ(l[17 + 4], double(b->bandTable[0].mapped));
    EXPECT_EQ(l[17 + 5], double(b->bandTable[1].mapped));

    const double* c = line(childId);
    EXPECT_EQ(c[0], double(childId));
    EXPECT_EQ(c[12], double(id));   // the parent's id
    EXPECT_EQ(c[13], 4.0);
    EXPECT_EQ(c[14], 1.0);

    // The slot after the table's own (still without an id when it was built) is empty.
    const double* empty = line(static_cast<uint32_t>(tableId) + 1);
    EXPECT_EQ(empty[0], -1.0);
    mp_buf_free(table);
    mp_buf_free(child);
    mp_buf_free(b);
}

// ---- the used-block listing ---------------------------------------------------------------

TEST(UsedBlockPairs, NeverWritesPastItsRoom)
{
    heap* h = mp_mem_new_heap(nullptr, kFakeBoardMemory, kFakeBoardBytes, 0);
    ASSERT_NE(h, nullptr);
    mp_mem_lock();
    const uint32_t a = mp_mem_malloc(h, 64);
    const uint32_t b = mp_mem_malloc(h, 128);
    const uint32_t c = mp_mem_malloc(h, 192);
    uint32_t out[8];
    std::fill(out, out + 8, 0xEEEEEEEEu);
    // Three used blocks into room for two: refused, nothing past the room touched.
    EXPECT_EQ(mp_sys_used_block_pairs(h, 0, out, 2), -1);
    EXPECT_EQ(out[4], 0xEEEEEEEEu);
    EXPECT_EQ(out[5], 0xEEEEEEEEu);
    // The block holding `skip` is left out.
    EXPECT_EQ(mp_sys_used_block_pairs(h, b + 64, out, 2), 2);
    EXPECT_EQ(out[0], a);
    EXPECT_EQ(out[1], a + 63);
    EXPECT_EQ(out[2], c);
    EXPECT_EQ(out[3], c + 191);
    EXPECT_EQ(mp_sys_used_block_pairs(h, 0, nullptr, 0xFFFFFFFFu), 3);
    mp_mem_unlock();
    mp_mem_delete_heap(h);
    EXPECT_EQ(mp_sys_used_block_pairs(nullptr, 0, out, 2), 0);
}

}  // namespace
