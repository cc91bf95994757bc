// Predefined thread objects and buffers, their release, the display heaps and the
// host-grab buffers, on a task kernel of a test thread with the nodes in the node list.
#include "predef.h"

#include "bufchild.h"
#include "bufid.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodelist.h"
#include "servinfo.h"
#include "task.h"
#include "thread.h"

#include "../../../testwait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <set>
#include <vector>

namespace {

constexpr uint32_t kMaxNodes = 18;
constexpr uint32_t kArenaBytes = 65536;
constexpr uint32_t kSdramBytes = 8192;
constexpr uint32_t kDisplayBytes = 0x200000;

alignas(65536) uint8_t g_arena[kMaxNodes][kArenaBytes];
alignas(64) uint8_t g_sdram[kMaxNodes][kSdramBytes];
alignas(64) uint8_t g_displayMemory[kDisplayBytes];
uint32_t g_arenaOf[256];
std::vector<uint32_t> g_nodes;   // the listed nodes of the running test
std::vector<std::string> g_printed;

// A descriptor block of its own for each node.
int32_t Arena(uint32_t node, uint32_t bytes, _MP_BAND_ST* band)
{
    const uint32_t i = g_arenaOf[node & 0xFF];
    if (bytes > kArenaBytes || i == 0) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_arena[i - 1]));
    band->physical = 0x10000000u + (i - 1) * kArenaBytes;
    return 7;
}

void Capture(const char* text)
{
    g_printed.emplace_back(text ? text : "");
}

uint32_t W(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

_MP_BUF_ST* At(uint32_t index)
{
    const uint32_t e = PreDefBufAddress[index];
    return e > 1 ? reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(e)) : nullptr;
}

const uint32_t kThreadBases[3] = {kPredefServiceThreadC, kPredefServiceThreadD, kPredefSystemThread};

class PredefTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
        HlcWireLibrary();
        host_.emplace();
        host_->table.print = Capture;
        ASSERT_EQ(host_->Install(), 0);
        g_printed.clear();
        std::memset(g_arenaOf, 0, sizeof g_arenaOf);
        std::memset(PreDefBufAddress, 0, sizeof PreDefBufAddress);
        mp_buf_set_descriptor_memory(Arena);
    }
    void TearDown() override
    {
        std::memset(PreDefBufAddress, 0, sizeof PreDefBufAddress);
        mp_buf_exit_all();
        for (uint32_t n : nodes_) {
            _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(n);
            if (!r) continue;
            for (int i = 0; i < 5; ++i) {
                mp_mem_delete_heap(r->heaps[i]);
                r->heaps[i] = nullptr;
            }
        }
        for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) mp_sys_remove_node(*it);
        mp_buf_set_descriptor_memory(nullptr);
        host_.reset();
        imNodeSt = nullptr;
    }

    // A host-served node with its state block, descriptor block and SDRAM heap.
    _NODE_MAIN_RESOURCE_ST* AddNode(uint32_t node)
    {
        blocks_.push_back(std::make_unique<_NODE_ST>());
        _NODE_ST* block = blocks_.back().get();
        EXPECT_EQ(mp_sys_insert_node(node, block), 0);
        _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
        EXPECT_NE(r, nullptr);
        if (!r) return nullptr;
        r->nodeState = block;
        nodes_.push_back(node);
        g_nodes = nodes_;
        g_arenaOf[node] = static_cast<uint32_t>(nodes_.size());
        r->heaps[0] = mp_mem_new_heap(nullptr, W(g_sdram[nodes_.size() - 1]), kSdramBytes, 0);
        EXPECT_EQ(mp_buf_init(node, 100, 50), 0);
        return r;
    }

    // A display: chip, frame window (never written), board memory window of 2 MB.
    static void GiveDisplay(_NODE_MAIN_RESOURCE_ST* r, uint32_t width, uint32_t height)
    {
        r->nodeState->chip.present = 1;
        r->nodeState->orlo[1].memorySize = 0x200000;
        r->nodeState->displayWidth = width;
        r->nodeState->displayHeight = height;
        r->chipFrame = 0x60000000u;
        r->displayMemory = W(g_displayMemory);
        r->displayMemorySize = kDisplayBytes;
    }

    // Runs body as the root task of a kernel on a test thread; the thread objects that
    // were made go before the kernel ends.
    static void OnKernel(const std::function<void()>& body)
    {
        testwait::Thread kernel;
        kernel.Start(
            [&] {
                ASSERT_EQ(TaskInitTasking(), 1);
                body();
                DestroyThreads();
                TaskExitTasking();
            },
            "the node's kernel thread");
        kernel.Join();
    }

    // Calls f with every id a predefined thread object of a listed node, or of none, may
    // have.
    template <typename F>
    static void ForEachThreadId(F f)
    {
        std::vector<uint32_t> nodes = g_nodes;
        nodes.push_back(0);   // objects not bound to a node
        for (uint32_t node : nodes)
            for (uint32_t base : kThreadBases)
                for (uint32_t slot = 0; slot < kPredefSlots; ++slot) f((base + slot) | (node << 16));
    }

    static void DestroyThreads()
    {
        ForEachThreadId([](uint32_t id) {
            while (MP_THREAD_OBJ_ST* t = mp_thr_object(id)) mp_thr_destroy(t);
        });
        mp_thr_reap();
    }

    // The first call for nodes 0x11 and 0x12, in this order.
    static bool BothUp() { return mp_init_predef_buffers(0x11, 0x11) == 0 && mp_init_predef_buffers(0x12, 0x12) == 0; }

    // Distinct thread objects: a node's base id also finds its object in another slot.
    static size_t LiveThreadObjects()
    {
        std::set<const MP_THREAD_OBJ_ST*> objects;
        ForEachThreadId([&objects](uint32_t id) {
            if (const MP_THREAD_OBJ_ST* t = mp_thr_object(id)) objects.insert(t);
        });
        return objects.size();
    }

    std::unique_ptr<_NODE_ST> global_;
    std::vector<std::unique_ptr<_NODE_ST>> blocks_;
    std::vector<uint32_t> nodes_;
    std::optional<HlcHostHookOverride> host_;
};

// ---------------------------------------------------------------- thread objects

TEST_F(PredefTest, EachNodeGetsItsThreadObjectsAndTagBufferInItsSlot)
{
    AddNode(0x11);
    AddNode(0x12);
    OnKernel([] {
        ASSERT_TRUE(BothUp());
        for (uint32_t slot : {0u, 1u}) {
            const uint32_t node = 0x11 + slot;
            for (uint32_t base : kThreadBases) {
                _MP_BUF_ST* b = At((base & 0xFF) + slot);
                ASSERT_NE(b, nullptr) << std::hex << base << " slot " << slot;
                EXPECT_EQ(b->id, (base + slot) | (node << 16));
                EXPECT_EQ(b->kind, kBufKindThread);
                EXPECT_EQ(b->node & 0xFF, node);
                MP_THREAD_OBJ_ST* t = mp_thr_object((base + slot) | (node << 16));
                ASSERT_NE(t, nullptr);
                EXPECT_EQ(t->server.node, node);
                EXPECT_NE(t->server.task, -1);
            }
            _MP_BUF_ST* tag = At(0xA0 + slot);
            ASSERT_NE(tag, nullptr);
            EXPECT_EQ(tag->id, (0x400000A0u + slot) | (node << 16));
            EXPECT_EQ(tag->node & 0xFF, node);
            EXPECT_EQ(tag->sizeX, 512);
            EXPECT_EQ(tag->sizeY, 1);
            EXPECT_EQ(tag->pitch, 64u);
            EXPECT_EQ(tag->type, 0x40000001u);
            EXPECT_EQ(tag->location, kLocSdram);
            const auto* bytes = static_cast<const uint8_t*>(mp_buf_address_band_internal(tag, 0));
            ASSERT_NE(bytes, nullptr);
            EXPECT_GE(bytes, g_sdram[slot]);
            EXPECT_LT(bytes, g_sdram[slot] + kSdramBytes);
            for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(bytes[i], 0xFF) << "byte " << i;
        }
        // A third slot is untouched, and no display object exists after the first call.
        EXPECT_EQ(PreDefBufAddress[0x12], 0u);
        EXPECT_EQ(PreDefBufAddress[0xB0], 0u);
        for (uint32_t row = 0x20; row <= 0x7F; ++row) EXPECT_EQ(PreDefBufAddress[row], 0u) << std::hex << row;
    });
    EXPECT_TRUE(g_printed.empty());
}

TEST_F(PredefTest, ASecondCallKeepsTheObjectsItFindsBoundToTheNode)
{
    AddNode(0x11);
    OnKernel([] {
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        const uint32_t before[3] = {PreDefBufAddress[0xC0], PreDefBufAddress[0xD0], PreDefBufAddress[0x10]};
        const size_t objects = LiveThreadObjects();
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        EXPECT_EQ(PreDefBufAddress[0xC0], before[0]);
        EXPECT_EQ(PreDefBufAddress[0xD0], before[1]);
        EXPECT_EQ(PreDefBufAddress[0x10], before[2]);
        EXPECT_EQ(LiveThreadObjects(), objects);
        EXPECT_EQ(PreDefBufAddress[0x11], 0u);
    });
}

TEST_F(PredefTest, AnUnboundObjectIsBoundToTheNodeInsteadOfANewOne)
{
    AddNode(0x11);
    _NODE_MAIN_RESOURCE_ST* second = AddNode(0x12);
    GiveDisplay(second, 640, 480);
    OnKernel([] {
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        // Objects without a node: node word, node byte of the id and the server's node 0.
        for (uint32_t base : kThreadBases) {
            MP_THREAD_OBJ_ST* t = mp_thr_object(base | (0x11 << 16));
            ASSERT_NE(t, nullptr);
            At(base & 0xFF)->node = 0;
            At(base & 0xFF)->id = base;
            t->server.node = 0;
            t->server.id = base;
        }
        const size_t objects = LiveThreadObjects();
        ASSERT_EQ(mp_init_predef_buffers(0x12, 0x12), 0);
        EXPECT_EQ(LiveThreadObjects(), objects);
        for (uint32_t base : kThreadBases) {
            EXPECT_EQ(At(base & 0xFF)->node, 0x12u);
            EXPECT_EQ(At(base & 0xFF)->id, base | (0x12 << 16));
            MP_THREAD_OBJ_ST* t = mp_thr_object(base | (0x12 << 16));
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->server.node, 0x12u);
            EXPECT_EQ(PreDefBufAddress[(base & 0xFF) + 1], 0u);
        }
        // The system thread was bound only now: no display part on this call.
        EXPECT_EQ(PreDefBufAddress[0x20], 0u);
        EXPECT_EQ(PreDefBufAddress[0xB0], 0u);
    });
}

TEST_F(PredefTest, ANodeWhoseProcessorRunsTheShellGetsNothing)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    r->nodeState->started = 1;
    GiveDisplay(r, 640, 480);
    OnKernel([] {
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        EXPECT_EQ(LiveThreadObjects(), 0u);
    });
    for (uint32_t i = 0; i < kPredefEntries; ++i) EXPECT_EQ(PreDefBufAddress[i], 0u) << i;
}

TEST_F(PredefTest, NodeZeroTakesTheFirstListedNodeWithoutTheDisplayPart)
{
    GiveDisplay(AddNode(0x11), 640, 480);
    AddNode(0x12);
    OnKernel([] {
        ASSERT_EQ(mp_init_predef_buffers(0, 0x12), 0);
        ASSERT_NE(At(0x10), nullptr);
        EXPECT_EQ(At(0x10)->node, 0x11u);
        EXPECT_EQ(PreDefBufAddress[0x11], 0u);
        ASSERT_EQ(mp_init_predef_buffers(0, 0x11), 0);
        EXPECT_EQ(PreDefBufAddress[0x20], 0u);
        EXPECT_EQ(PreDefBufAddress[0xB0], 0u);
    });
}

// ---------------------------------------------------------------- failures

TEST_F(PredefTest, TheSeventeenthNodeFailsCleanlyAndSaysWhy)
{
    std::vector<uint32_t> numbers;
    for (uint32_t board = 1; board <= 15; ++board) numbers.push_back(0x10 | board);
    numbers.push_back(0x21);
    numbers.push_back(0x22);
    for (uint32_t n : numbers) AddNode(n);
    OnKernel([&] {
        for (size_t i = 0; i < 16; ++i) ASSERT_EQ(mp_init_predef_buffers(numbers[i], numbers[i]), 0) << i;
        EXPECT_EQ(LiveThreadObjects(), 48u);
        ASSERT_TRUE(g_printed.empty());
        // The service threads' slots stay empty unreported; without its system thread the
        // node fails, and says why.
        EXPECT_EQ(mp_init_predef_buffers(0x22, 0x22), -1);
        ASSERT_EQ(g_printed.size(), 1u);
        EXPECT_EQ(g_printed[0], "Node 0x22: predefined thread object 0x40220010 not created: all 16 slots are in use\n");
        EXPECT_EQ(LiveThreadObjects(), 48u);
        for (uint32_t i = 0; i < kPredefEntries; ++i) {
            if (_MP_BUF_ST* b = At(i)) {
                EXPECT_NE(b->node & 0xFF, 0x22u) << i;
            }
        }
        // The sixteenth node holds the last slot of each kind.
        EXPECT_EQ(At(0x1F)->node, 0x21u);
    });
}

TEST_F(PredefTest, AFailureLaterInTheCallTakesBackWhatTheCallMade)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    // Every system-thread slot is reserved: the service threads and the tag buffer are
    // made first, then the system thread finds no slot.
    for (uint32_t slot = 0; slot < kPredefSlots; ++slot) PreDefBufAddress[0x10 + slot] = 1;
    OnKernel([r] {
        // The descriptor heap exists before, so its free bytes can be compared.
        void* probe = mp_buf_desc_alloc(0x11, 64);
        ASSERT_NE(probe, nullptr);
        mp_buf_desc_free(0x11, probe);
        const uint32_t descriptorsFree = r->heaps[5]->freeBytes;
        const uint32_t sdramFree = r->heaps[0]->freeBytes;
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), -1);
        ASSERT_EQ(g_printed.size(), 1u);
        EXPECT_EQ(g_printed[0], "Node 0x11: predefined thread object 0x40110010 not created: all 16 slots are in use\n");
        EXPECT_EQ(PreDefBufAddress[0xC0], 0u);
        EXPECT_EQ(PreDefBufAddress[0xD0], 0u);
        EXPECT_EQ(PreDefBufAddress[0xA0], 0u);
        EXPECT_EQ(LiveThreadObjects(), 0u);
        EXPECT_EQ(r->heaps[5]->freeBytes, descriptorsFree);
        EXPECT_EQ(r->heaps[0]->freeBytes, sdramFree);
        for (uint32_t slot = 0; slot < kPredefSlots; ++slot) EXPECT_EQ(PreDefBufAddress[0x10 + slot], 1u);
    });
}

TEST_F(PredefTest, AServiceThreadWithoutASlotStaysEmptyAndTheNodeComesUp)
{
    AddNode(0x11);
    for (uint32_t slot = 0; slot < kPredefSlots; ++slot) PreDefBufAddress[0xC0 + slot] = 1;
    OnKernel([] {
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        EXPECT_TRUE(g_printed.empty());
        EXPECT_EQ(LiveThreadObjects(), 2u);
        ASSERT_NE(At(0xD0), nullptr);
        ASSERT_NE(At(0x10), nullptr);
        EXPECT_EQ(At(0x10)->id, 0x40110010u);
    });
}

TEST_F(PredefTest, ADescriptorHeapThatRunsOutIsReportedAsNoResources)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    OnKernel([r] {
        // Take the descriptor heap's memory until one thread object no longer fits.
        std::vector<void*> taken;
        while (void* p = mp_buf_desc_alloc(0x11, 64)) taken.push_back(p);
        ASSERT_FALSE(taken.empty());
        ASSERT_NE(r->heaps[5], nullptr);
        // The service threads that cannot be made leave their slots empty unreported; the
        // system thread's failure fails the call.
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), -1);
        ASSERT_EQ(g_printed.size(), 1u);
        EXPECT_EQ(g_printed[0],
                  "Node 0x11: predefined thread object 0x40110010 not created: "
                  "Insufficient resources to carry out the operation\n");
        EXPECT_EQ(PreDefBufAddress[0xC0], 0u);
        EXPECT_EQ(LiveThreadObjects(), 0u);
        for (void* p : taken) mp_buf_desc_free(0x11, p);
        // With memory again the same node comes up.
        g_printed.clear();
        EXPECT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        EXPECT_TRUE(g_printed.empty());
        EXPECT_NE(At(0x10), nullptr);
    });
}

// ---------------------------------------------------------------- display part

TEST_F(PredefTest, TheDisplayPartComesWithTheSecondCallInTheNodesSlot)
{
    AddNode(0x11);
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x12);
    GiveDisplay(r, 640, 480);
    OnKernel([r] {
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        ASSERT_EQ(mp_init_predef_buffers(0x12, 0x12), 0);
        for (uint32_t row = 0x20; row <= 0x7F; ++row) ASSERT_EQ(PreDefBufAddress[row], 0u) << std::hex << row;
        EXPECT_EQ(r->heaps[1], nullptr);
        ASSERT_EQ(mp_init_predef_buffers(0x12, 0x12), 0);
        // Rows of at most 2 MB fit the 2 MB board and carry slot 1 in their ids; the
        // others are marked reserved.
        for (uint32_t row : {0x20u, 0x70u}) {
            _MP_BUF_ST* b = At(row + 1);
            ASSERT_NE(b, nullptr) << std::hex << row;
            EXPECT_EQ(b->id, 0x40120000u + row + 1);
            EXPECT_EQ(b->sizeX, 640);
            EXPECT_EQ(b->sizeY, 480);
            EXPECT_EQ(b->bands, 1u);
            EXPECT_EQ(b->bits, 8u);
            EXPECT_EQ(b->location, 0x40000000u + row);
        }
        for (uint32_t row : {0x30u, 0x40u, 0x50u, 0x60u}) EXPECT_EQ(PreDefBufAddress[row + 1], 1u) << std::hex << row;
        for (uint32_t row = 0x20; row <= 0x70; row += 0x10) EXPECT_EQ(PreDefBufAddress[row], 0u) << std::hex << row;
        // The display heaps: the first over the frame window past the display, the one in
        // the board memory window; the two others need a 6 MB board.
        const uint32_t shown = 640 * 480;
        ASSERT_NE(r->heaps[1], nullptr);
        EXPECT_EQ(mp_mem_heap_start(r->heaps[1]), 0x60000000u + shown);
        ASSERT_NE(r->heaps[4], nullptr);
        EXPECT_EQ(mp_mem_heap_start(r->heaps[4]), W(g_displayMemory) + shown);
        EXPECT_EQ(r->heaps[2], nullptr);
        EXPECT_EQ(r->heaps[3], nullptr);
        // The display's tag buffer lies in the display heap, its first 64 bytes set.
        _MP_BUF_ST* tag = At(0xB1);
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->id, 0x401200B1u);
        EXPECT_EQ(tag->type, 0x40000001u);
        EXPECT_EQ(tag->sizeX, 512);
        const auto* bytes = static_cast<const uint8_t*>(mp_buf_address_band_internal(tag, 0));
        ASSERT_GE(bytes, g_displayMemory + shown);
        ASSERT_LT(bytes, g_displayMemory + kDisplayBytes);
        for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(bytes[i], 0xFF) << "byte " << i;
        EXPECT_EQ(PreDefBufAddress[0xB0], 0u);

        // A later call resizes the display buffers it finds to the display's new size.
        _MP_BUF_ST* row20 = At(0x21);
        r->nodeState->displayWidth = 800;
        r->nodeState->displayHeight = 600;
        ASSERT_EQ(mp_init_predef_buffers(0x12, 0x12), 0);
        EXPECT_EQ(At(0x21), row20);
        EXPECT_EQ(row20->sizeX, 800);
        EXPECT_EQ(row20->sizeY, 600);
        EXPECT_EQ(row20->pitch, 960u);
    });
}

TEST_F(PredefTest, ASixMegabyteBoardGetsEveryDisplayRowAndHeap)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    GiveDisplay(r, 1024, 768);
    r->nodeState->orlo[1].memorySize = 0x600000;
    // A 6 MB window that nothing here writes: the display buffers of fixed locations
    // take no data, and no tag buffer is made for the display on these calls.
    r->displayMemory = 0x50000000u;
    r->displayMemorySize = 0x600000;
    OnKernel([r] {
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        // Arguments that name different nodes: the display buffers, but no heaps and no
        // display tag buffer.
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x12), 0);
        for (uint32_t row = 0x20; row <= 0x70; row += 0x10) {
            _MP_BUF_ST* b = At(row);
            ASSERT_NE(b, nullptr) << std::hex << row;
            EXPECT_EQ(b->id, 0x40110000u + row);
            EXPECT_EQ(b->bands, row == 0x30 ? 3u : 1u);
        }
        EXPECT_EQ(r->heaps[1], nullptr);
        EXPECT_EQ(PreDefBufAddress[0xB0], 0u);
        ASSERT_EQ(mp_init_display_heaps(0x11), 0);
        const uint32_t shown = 1024 * 768;
        const uint32_t starts[4] = {0x60000000u + shown, 0x50000000u + shown, 0x50200000u + shown,
                                    0x50400000u + shown};
        for (int i = 0; i < 4; ++i) {
            ASSERT_NE(r->heaps[1 + i], nullptr) << i;
            EXPECT_EQ(mp_mem_heap_start(r->heaps[1 + i]), starts[i]) << i;
            EXPECT_EQ(r->heaps[1 + i]->flags & kHeapTagMask, static_cast<uint32_t>(1 + i)) << i;
        }
        // Made once: a second call keeps them.
        heap* first = r->heaps[1];
        EXPECT_EQ(mp_init_display_heaps(0x11), 0);
        EXPECT_EQ(r->heaps[1], first);
    });
}

TEST_F(PredefTest, DisplayHeapsNeedAChipAndTakeTheDefaultSizeForLowDisplays)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    EXPECT_EQ(mp_init_display_heaps(0x11), 0);
    EXPECT_EQ(r->heaps[1], nullptr);
    GiveDisplay(r, 640, 400);
    ASSERT_EQ(mp_init_display_heaps(0x11), 0);
    ASSERT_NE(r->heaps[1], nullptr);
    EXPECT_EQ(mp_mem_heap_start(r->heaps[1]), 0x60000000u + 1920000);
    // A display that fills the whole span leaves no room for a heap.
    _NODE_MAIN_RESOURCE_ST* big = AddNode(0x12);
    GiveDisplay(big, 2048, 1024);
    EXPECT_EQ(mp_init_display_heaps(0x12), -1);
    EXPECT_EQ(big->heaps[1], nullptr);
    EXPECT_EQ(mp_init_display_heaps(0x13), -1);
}

TEST_F(PredefTest, ResizingKeepsWhatIsNotGivenAndFillsAnEmptyNode)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    (void)r;
    _MP_BUF_ST* b = mp_buf_alloc_on_node(0x11, 64, 4, 1, 8, kLocInline);
    ASSERT_NE(b, nullptr);
    mp_buf_resize_predef(0x11, b, 800, kBufKeep, kBufKeep);
    EXPECT_EQ(b->sizeX, 800);
    EXPECT_EQ(b->pitch, 960u);
    EXPECT_EQ(b->sizeY, 4);
    EXPECT_EQ(b->type, 8u);
    mp_buf_resize_predef(0x11, b, 1024, 768, 0x10000010);
    EXPECT_EQ(b->sizeX, 1024);
    EXPECT_EQ(b->pitch, 1024u);
    EXPECT_EQ(b->sizeY, 768);
    EXPECT_EQ(b->type, 0x10000010u);
    EXPECT_EQ(b->bits, 16u);
    EXPECT_EQ(b->node, 0x11u);
    b->node = 0x80000000u;
    mp_buf_resize_predef(0x80000012u, b, kBufKeep, kBufKeep, kBufKeep);
    EXPECT_EQ(b->node, 0x12u);
    EXPECT_EQ(b->sizeX, 1024);
    mp_buf_resize_predef(0x11, b, kBufKeep, kBufKeep, kBufKeep);
    EXPECT_EQ(b->node, 0x12u);
    mp_buf_resize_predef(0x11, nullptr, 800, 600, 8);
    b->node = 0x11;
    mp_buf_free(b);
}

// ---------------------------------------------------------------- release

TEST_F(PredefTest, FreeingEmptiesTheNodesSlotsOnlyAndALaterOpenBindsThemAgain)
{
    AddNode(0x11);
    AddNode(0x12);
    OnKernel([] {
        ASSERT_TRUE(BothUp());
        PreDefBufAddress[0x33] = 1;
        const std::vector<uint32_t> kept = {PreDefBufAddress[0xC1], PreDefBufAddress[0xD1], PreDefBufAddress[0x11],
                                            PreDefBufAddress[0xA1]};
        _MP_BUF_ST* system = At(0x10);
        EXPECT_EQ(mp_free_predef_buffers(0x11), 0);
        for (uint32_t index : {0xC0u, 0xD0u, 0x10u, 0xA0u}) EXPECT_EQ(PreDefBufAddress[index], 0u) << std::hex << index;
        EXPECT_EQ(kept, (std::vector<uint32_t>{PreDefBufAddress[0xC1], PreDefBufAddress[0xD1], PreDefBufAddress[0x11],
                                               PreDefBufAddress[0xA1]}));
        EXPECT_EQ(PreDefBufAddress[0x33], 1u);
        // The descriptors themselves stay.
        EXPECT_EQ(mp_buf_valid(system, 0x40000000u | kBufKindThread), 1);
        EXPECT_EQ(system->node, 0x11u);
        // The node opened again takes the first free slots.
        ASSERT_EQ(mp_init_predef_buffers(0x11, 0x11), 0);
        ASSERT_NE(At(0x10), nullptr);
        EXPECT_NE(At(0x10), system);
        EXPECT_EQ(At(0x10)->node, 0x11u);
        EXPECT_EQ(At(0x10)->id, 0x40110010u);
    });
}

// ---------------------------------------------------------------- host-grab buffers

TEST_F(PredefTest, ThePrimaryOrloGetsEightSdramLinesAndKeepsFilledSlots)
{
    _NODE_MAIN_RESOURCE_ST* r = AddNode(0x11);
    r->primaryRegs = 0x7F000000u;   // present; never accessed here
    r->nodeState->hostGrabWidth = 64;
    auto* primary = reinterpret_cast<SERVINFO_ST*>(r->primaryServer);
    auto* display = reinterpret_cast<SERVINFO_ST*>(r->displayServer);
    _MP_BUF_ST* existing = mp_buf_alloc_on_node(0x11, 16, 1, 1, 8, kLocInline);
    ASSERT_NE(existing, nullptr);
    primary->hostGrab[3] = W(existing);
    mpPrvInitTmpBufferForHostGrab(0x11 << 16);
    for (uint32_t i = 0; i < kServHostGrabBuffers; ++i) {
        ASSERT_NE(primary->hostGrab[i], 0u) << i;
        const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(primary->hostGrab[i]));
        if (i == 3) {
            EXPECT_EQ(b, existing);
            continue;
        }
        EXPECT_EQ(b->sizeX, 64) << i;
        EXPECT_EQ(b->sizeY, 1) << i;
        EXPECT_EQ(b->bands, 1u) << i;
        EXPECT_EQ(b->bits, 8u) << i;
        EXPECT_EQ(b->location, kLocSdram) << i;
    }
    for (uint32_t i = 0; i < kServHostGrabBuffers; ++i) EXPECT_EQ(display->hostGrab[i], 0u) << i;
    // A second call keeps them all.
    const uint32_t first = primary->hostGrab[0];
    mpPrvInitTmpBufferForHostGrab(0x11 << 16);
    EXPECT_EQ(primary->hostGrab[0], first);
}

TEST_F(PredefTest, ADisplayOnlyNodeGetsItsLinesInTheDisplayHeaps)
{
    _NODE_MAIN_RESOURCE_ST* small = AddNode(0x11);
    _NODE_MAIN_RESOURCE_ST* full = AddNode(0x12);
    for (_NODE_MAIN_RESOURCE_ST* r : {small, full}) {
        GiveDisplay(r, 640, 480);
        r->displayRegs = 0x7E000000u;   // present; never accessed here
        r->nodeState->hostGrabWidth = 128;
    }
    full->nodeState->orlo[1].memorySize = 0x600000;
    full->displayMemory = 0x50000000u;
    full->displayMemorySize = 0x600000;
    ASSERT_EQ(mp_init_display_heaps(0x11), 0);
    ASSERT_EQ(mp_init_display_heaps(0x12), 0);
    mpPrvInitTmpBufferForHostGrab(0x11 << 16);
    mpPrvInitTmpBufferForHostGrab(0x12 << 16);
    auto location = [](const _NODE_MAIN_RESOURCE_ST* r, uint32_t i) -> uint32_t {
        const auto* info = reinterpret_cast<const SERVINFO_ST*>(r->displayServer);
        const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(info->hostGrab[i]));
        return b ? b->location : 0;
    };
    const uint32_t expectedFull[8] = {kLocDisplay4M, kLocDisplay4M, kLocDisplay0, kLocDisplay0,
                                      kLocDisplay2M, kLocDisplay2M, kLocDisplay0, kLocDisplay2M};
    for (uint32_t i = 0; i < kServHostGrabBuffers; ++i) {
        EXPECT_EQ(location(full, i), expectedFull[i]) << i;
        EXPECT_EQ(location(small, i), i < 2 ? kLocDisplay4M : 0u) << i;
    }
    const auto* info = reinterpret_cast<const SERVINFO_ST*>(full->displayServer);
    const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(info->hostGrab[0]));
    EXPECT_EQ(b->sizeX, 128);
    EXPECT_EQ(b->sizeY, 1);
    // With a primary Orlo the display Orlo gets none.
    auto* withPrimary = AddNode(0x13);
    GiveDisplay(withPrimary, 640, 480);
    withPrimary->displayRegs = 0x7E000000u;
    withPrimary->primaryRegs = 0x7F000000u;
    mpPrvInitTmpBufferForHostGrab(0x13 << 16);
    EXPECT_EQ(reinterpret_cast<const SERVINFO_ST*>(withPrimary->displayServer)->hostGrab[0], 0u);
}

} // namespace
