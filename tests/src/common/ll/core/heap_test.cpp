#include "hlc_wiring.h"
#include "heap.h"
#include "task.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <set>
#include <vector>

namespace {

struct Block {
    uint32_t start, size;
    int32_t state;
};

// The blocks of the address chain in order.
std::vector<Block> Chain(const heap* h)
{
    std::vector<Block> out;
    for (int32_t i = 0; i != -1; i = h->pool[i].nextAddress)
        out.push_back({h->pool[i].start, h->pool[i].size, h->pool[i].state});
    return out;
}

uint32_t UsedHeaders(const heap* h)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < h->capacity; ++i) n += h->pool[i].state != kBlockUnused;
    return n;
}

// Every invariant of the bookkeeping: the chain tiles the heap in 64-byte units, no two
// free neighbours, the free list holds exactly the free blocks sorted by size, and the
// free byte count matches.
void ExpectConsistent(const heap* h)
{
    const std::vector<Block> chain = Chain(h);
    ASSERT_FALSE(chain.empty());
    uint32_t at = chain.front().start;
    uint32_t freeBytes = 0;
    std::multiset<uint32_t> freeSizes;
    for (size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i].start, at);
        EXPECT_EQ(chain[i].start % 64, 0u);
        EXPECT_EQ(chain[i].size % 64, 0u);
        EXPECT_NE(chain[i].state, kBlockUnused);
        if (chain[i].state == kBlockFree) {
            freeBytes += chain[i].size;
            freeSizes.insert(chain[i].size);
            if (i > 0) {
                EXPECT_NE(chain[i - 1].state, kBlockFree) << "unmerged free neighbours at " << at;
            }
        }
        at += chain[i].size;
    }
    EXPECT_EQ(at, h->end);
    EXPECT_EQ(freeBytes, h->freeBytes);
    std::multiset<uint32_t> listed;
    uint32_t last = 0;
    int32_t prev = -1;
    for (int32_t i = h->freeList; i != -1; i = h->pool[i].nextFree) {
        EXPECT_EQ(h->pool[i].state, kBlockFree);
        EXPECT_GE(h->pool[i].size, last);
        EXPECT_EQ(h->pool[i].prevFree, prev);
        last = h->pool[i].size;
        listed.insert(last);
        prev = i;
    }
    EXPECT_EQ(listed, freeSizes);
}

class HeapTest : public ::testing::Test {
protected:
    void SetUp() override { HlcWireLibrary(); }
    void TearDown() override
    {
        for (heap* h : heaps_) mp_mem_delete_heap(h);
    }
    heap* Make(uint32_t base, uint32_t size, uint32_t tag = 0)
    {
        heap* h = mp_mem_new_heap(nullptr, base, size, tag);
        if (h) heaps_.push_back(h);
        return h;
    }
    std::vector<heap*> heaps_;
};

// ---------------------------------------------------------------- creation

TEST_F(HeapTest, CreationRaisesTheBaseToA64ByteBoundary)
{
    heap* h = Make(0x1010, 0x10000, 3);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mp_mem_heap_start(h), 0x1040u);
    EXPECT_EQ(h->size, 0xFFC0u);
    EXPECT_EQ(h->usable, 0xFFC0u);
    EXPECT_EQ(h->freeBytes, 0xFFC0u);
    EXPECT_EQ(h->end, 0x1040u + 0xFFC0u);
    EXPECT_EQ(h->limit, h->end);
    EXPECT_EQ(h->highWater, 0x1040u);
    EXPECT_EQ(h->flags, 0x80000003u);
    EXPECT_EQ(h->capacity, 1000u);
    EXPECT_EQ(UsedHeaders(h), 1u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, TheTagKeepsOnlyItsLow30Bits)
{
    heap* h = Make(0x1000, 0x1000, 0xC0000001u);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->flags, 0x80000001u);
}

TEST_F(HeapTest, ACallersRecordIsMarkedAndNotFreedWithTheHeap)
{
    heap record{};
    ASSERT_EQ(mp_mem_new_heap(&record, 0x4000, 0x4000, 0x80000005u), &record);
    EXPECT_EQ(record.flags, 0xC0000005u);
    const uint32_t a = mp_mem_malloc(&record, 100);
    EXPECT_EQ(a, 0x4000u);
    mp_mem_delete_heap(&record);   // frees the pool only; the record on the stack stays
    EXPECT_EQ(record.pool, nullptr);
}

TEST_F(HeapTest, ACallersRecordWithoutTheBoundsFlagNeverAllocates)
{
    heap record{};
    ASSERT_EQ(mp_mem_new_heap(&record, 0x4000, 0x4000, 5), &record);
    EXPECT_EQ(mp_mem_malloc(&record, 64), 0u);
    mp_mem_delete_heap(&record);
}

TEST_F(HeapTest, ARangeSmallerThanItsPaddingHoldsNothing)
{
    heap* h = Make(0x1001, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->size, 0u);
    EXPECT_EQ(mp_mem_malloc(h, 1), 0u);
}

TEST_F(HeapTest, ARangePastTheAddressSpaceIsRefused)
{
    EXPECT_EQ(Make(0xFFFFF000u, 0x10000), nullptr);
}

TEST_F(HeapTest, NullArgumentsAreHarmless)
{
    EXPECT_EQ(mp_mem_malloc(nullptr, 64), 0u);
    EXPECT_EQ(mp_mem_memalign(nullptr, 4096, 64), 0u);
    mp_mem_free(nullptr, 0x1000);
    mp_mem_delete_heap(nullptr);
}

// ---------------------------------------------------------------- plain fits

TEST_F(HeapTest, RequestsAreRoundedTo64Bytes)
{
    heap* h = Make(0x10000, 0x10000);
    EXPECT_EQ(mp_mem_malloc(h, 0), 0u);
    const uint32_t a = mp_mem_malloc(h, 1);
    const uint32_t b = mp_mem_malloc(h, 65);
    const uint32_t c = mp_mem_malloc(h, 64);
    EXPECT_EQ(a, 0x10000u);
    EXPECT_EQ(b, 0x10040u);
    EXPECT_EQ(c, 0x100C0u);
    EXPECT_EQ(h->freeBytes, 0x10000u - 256);
    EXPECT_EQ(h->highWater, 0x10100u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, TheLast256BytesAreNeverHandedOut)
{
    heap* h = Make(0x20000, 1024);
    EXPECT_EQ(mp_mem_malloc(h, 1024), 0u);
    EXPECT_EQ(mp_mem_malloc(h, 768), 0u);
    EXPECT_EQ(h->freeBytes, 1024u);   // the failures changed nothing
    ExpectConsistent(h);
    EXPECT_EQ(mp_mem_malloc(h, 704), 0x20000u);
    EXPECT_EQ(mp_mem_malloc(h, 64), 0u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, BestFitTakesTheNewestOfEqualBlocks)
{
    heap* h = Make(0x40000, 0x10000);
    const uint32_t a = mp_mem_malloc(h, 128);
    mp_mem_malloc(h, 64);
    const uint32_t b = mp_mem_malloc(h, 128);
    mp_mem_malloc(h, 64);
    const uint32_t c = mp_mem_malloc(h, 192);
    mp_mem_malloc(h, 64);
    mp_mem_free(h, a);
    mp_mem_free(h, c);
    mp_mem_free(h, b);
    ExpectConsistent(h);
    EXPECT_EQ(mp_mem_malloc(h, 100), b);
    EXPECT_EQ(mp_mem_malloc(h, 100), a);
    EXPECT_EQ(mp_mem_malloc(h, 100), c);   // the 192-byte block, cut
    ExpectConsistent(h);
}

TEST_F(HeapTest, ExhaustionReturnsZeroAndChangesNothing)
{
    heap* h = Make(0x40000, 64 * 20);
    std::vector<uint32_t> got;
    for (uint32_t a; (a = mp_mem_malloc(h, 64)) != 0;) got.push_back(a);
    EXPECT_EQ(got.size(), 15u);   // 20 units less the 4 of the tail, and the fit must end below it
    const uint32_t before = h->freeBytes;
    EXPECT_EQ(mp_mem_malloc(h, 64), 0u);
    EXPECT_EQ(h->freeBytes, before);
    ExpectConsistent(h);
}

// ---------------------------------------------------------------- free and merge

TEST_F(HeapTest, FreeingThreeNeighboursLeavesOneBlock)
{
    heap* h = Make(0x40000, 0x10000);
    const uint32_t x = mp_mem_malloc(h, 64);
    const uint32_t y = mp_mem_malloc(h, 128);
    const uint32_t z = mp_mem_malloc(h, 192);
    const uint32_t w = mp_mem_malloc(h, 64);   // keeps z apart from the free rest
    EXPECT_EQ(UsedHeaders(h), 5u);
    mp_mem_free(h, y);
    mp_mem_free(h, x);
    mp_mem_free(h, z);
    ExpectConsistent(h);
    const std::vector<Block> chain = Chain(h);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(chain[0].start, x);
    EXPECT_EQ(chain[0].size, 384u);
    EXPECT_EQ(chain[0].state, kBlockFree);
    EXPECT_EQ(chain[1].start, w);
    EXPECT_EQ(UsedHeaders(h), 3u);   // two headers went back unused
    EXPECT_EQ(h->highWater, w + 64);
}

TEST_F(HeapTest, FreeingTheTopBlockLowersTheHighWaterMark)
{
    heap* h = Make(0x40000, 0x10000);
    const uint32_t a = mp_mem_malloc(h, 64);
    const uint32_t b = mp_mem_malloc(h, 64);
    const uint32_t c = mp_mem_malloc(h, 64);
    mp_mem_free(h, b);
    EXPECT_EQ(h->highWater, c + 64);
    mp_mem_free(h, c);
    EXPECT_EQ(h->highWater, b);   // c merged into the free b
    mp_mem_free(h, a);
    EXPECT_EQ(h->highWater, a);
    EXPECT_EQ(h->freeBytes, h->size);
    EXPECT_EQ(Chain(h).size(), 1u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, ForeignInteriorAndDoubleFreesAreIgnored)
{
    heap* h = Make(0x8000, 0x10000);
    const uint32_t a = mp_mem_malloc(h, 256);
    const uint32_t b = mp_mem_malloc(h, 64);
    const uint32_t freeBytes = h->freeBytes;
    mp_mem_free(h, a + 64);          // inside a block
    mp_mem_free(h, 0x100000);        // not in this heap
    mp_mem_free(h, 0);
    EXPECT_EQ(h->freeBytes, freeBytes);
    mp_mem_free(h, a);
    const std::vector<Block> once = Chain(h);
    mp_mem_free(h, a);               // twice
    const std::vector<Block> twice = Chain(h);
    ASSERT_EQ(once.size(), twice.size());
    for (size_t i = 0; i < once.size(); ++i) {
        EXPECT_EQ(once[i].start, twice[i].start);
        EXPECT_EQ(once[i].size, twice[i].size);
        EXPECT_EQ(once[i].state, twice[i].state);
    }
    EXPECT_EQ(h->freeBytes, freeBytes + 256);
    ExpectConsistent(h);
    // The freed block is handed out again, not the still allocated one.
    EXPECT_EQ(mp_mem_malloc(h, 256), a);
    EXPECT_NE(mp_mem_malloc(h, 64), b);
}

TEST_F(HeapTest, The1001stHeaderGrowsThePoolAndKeepsEveryBlock)
{
    heap* h = Make(0x100000, 0x100000);
    std::vector<uint32_t> got;
    for (int i = 0; i < 999; ++i) got.push_back(mp_mem_malloc(h, 64));
    EXPECT_EQ(h->capacity, 1000u);   // 999 blocks and the free rest use every header
    got.push_back(mp_mem_malloc(h, 64));
    EXPECT_EQ(h->capacity, 1100u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], 0x100000u + 64 * i) << i;
    ExpectConsistent(h);
    for (size_t i = 0; i < got.size(); i += 2) mp_mem_free(h, got[i]);
    for (size_t i = 1; i < got.size(); i += 2) mp_mem_free(h, got[i]);
    EXPECT_EQ(h->freeBytes, h->size);
    EXPECT_EQ(Chain(h).size(), 1u);
    EXPECT_EQ(UsedHeaders(h), 1u);
}

// ---------------------------------------------------------------- aligned fits

TEST_F(HeapTest, AlignedFitLeavesTheGapFree)
{
    heap* h = Make(0x10040, 0x10000);
    const uint32_t a = mp_mem_memalign(h, 4096, 256);
    EXPECT_EQ(a, 0x11000u);
    const std::vector<Block> chain = Chain(h);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(chain[0].start, 0x10040u);
    EXPECT_EQ(chain[0].size, 4032u);
    EXPECT_EQ(chain[0].state, kBlockFree);
    EXPECT_EQ(chain[1].start, a);
    EXPECT_EQ(chain[1].size, 256u);
    EXPECT_EQ(chain[1].state, kBlockAllocated);
    EXPECT_EQ(chain[2].start, a + 256);
    EXPECT_EQ(h->highWater, a + 256);
    EXPECT_EQ(h->freeBytes, h->size - 256);
    ExpectConsistent(h);
    mp_mem_free(h, a);
    EXPECT_EQ(Chain(h).size(), 1u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, AlignedFitOnAnAlignedBlockUsesNoExtraHeader)
{
    heap* h = Make(0x10000, 0x10000);
    EXPECT_EQ(mp_mem_memalign(h, 4096, 100), 0x10000u);
    EXPECT_EQ(UsedHeaders(h), 2u);
    EXPECT_EQ(mp_mem_memalign(h, 4096, 64), 0x11000u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, SmallOrOddAlignmentsAreAPlainFit)
{
    heap* h = Make(0x10040, 0x10000);
    EXPECT_EQ(mp_mem_memalign(h, 64, 64), 0x10040u);
    EXPECT_EQ(mp_mem_memalign(h, 3000, 64), 0x10080u);
    ExpectConsistent(h);
}

TEST_F(HeapTest, AnAlignedFitThatDoesNotFitReturnsZeroAndChangesNothing)
{
    heap* h = Make(0x10040, 0x2000);
    const uint32_t used = UsedHeaders(h);
    EXPECT_EQ(mp_mem_memalign(h, 0x4000, 64), 0u);
    EXPECT_EQ(UsedHeaders(h), used);
    EXPECT_EQ(h->freeBytes, h->size);
    ExpectConsistent(h);
}

// ---------------------------------------------------------------- process heap

TEST(SafeHeap, MemalignRoundsDownAndAddsOneUnit)
{
    EXPECT_EQ(SafeMemalignBytes(100), 128u);
    EXPECT_EQ(SafeMemalignBytes(128), 192u);
    EXPECT_EQ(SafeMemalignBytes(0), 64u);
    void* p = safe_memalign(100);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(malloc_usable_size(p), 128u);
    safe_free(p);
}

TEST(SafeHeap, WorksWithAndWithoutAKernel)
{
    char* p = static_cast<char*>(safe_malloc(10));
    ASSERT_NE(p, nullptr);
    p[9] = 'x';
    p = static_cast<char*>(safe_realloc(p, 1000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[9], 'x');
    safe_free(p);

    ASSERT_EQ(TaskInitTasking(), 1);
    safe_mem_init();
    // The kernel now allocates through the memory lock; it must still work and the
    // lock must be free again after each call.
    const int32_t s = TaskOpenSema(-1, 1);
    EXPECT_NE(s, -1);
    void* q = safe_malloc(32);
    ASSERT_NE(q, nullptr);
    mp_mem_lock();
    mp_mem_unlock();
    safe_free(q);
    EXPECT_EQ(TaskCloseSema(s), 1);
    EXPECT_EQ(TaskExitTasking(), 1);
}

} // namespace
