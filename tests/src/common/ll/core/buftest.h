#pragma once
// The buffer tests' node: a host node and a node with its own processor in the node list,
// a descriptor arena in place of the DMA block, board memory with its heap, and a double
// that records the command messages sent to the remote node.
#include "bufid.h"
#include "bufchild.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodelist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace buftest {


inline constexpr uint32_t kNode = 0x11;
inline constexpr uint32_t kRemoteNode = 0x12;
inline constexpr uint32_t kDescBytes = 65536;
inline constexpr uint32_t kDescPhysical = 0x10000000;

alignas(65536) inline uint8_t g_descArena[kDescBytes];
alignas(64) inline uint8_t g_sdram[8192];

inline int32_t ArenaMemory(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > kDescBytes) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_descArena));
    band->physical = kDescPhysical;
    return 7;
}

struct RemoteCall {
    uint32_t node, opcode;
    std::string name;
    std::vector<uint32_t> params;
};
inline std::vector<RemoteCall> g_calls;
inline uint32_t g_reply[4];
inline int g_remoteResult = 0;

inline int RemoteDouble(uint32_t node, uint32_t opcode, const char* name, const uint32_t* params, uint32_t count,
                 uint32_t* reply, uint32_t replyWords)
{
    g_calls.push_back({node, opcode, name, std::vector<uint32_t>(params, params + count)});
    for (uint32_t i = 0; i < replyWords && i < 4; ++i) reply[i] = g_reply[i];
    return g_remoteResult;
}

inline uint32_t W(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

class BufTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
        HlcWireLibrary();
        ASSERT_EQ(mp_sys_insert_node(kNode, &block_), 0);
        ASSERT_EQ(mp_sys_insert_node(kRemoteNode, &remote_), 0);
        remote_.started = 1;
        record_ = mp_sys_node_resource_ptr(kNode);
        ASSERT_NE(record_, nullptr);
        record_->nodeState = &block_;
        mp_buf_set_descriptor_memory(ArenaMemory);
        mp_buf_set_remote(RemoteDouble);
        g_calls.clear();
        std::memset(g_reply, 0, sizeof g_reply);
        g_remoteResult = 0;
        record_->heaps[0] = mp_mem_new_heap(nullptr, W(g_sdram), sizeof g_sdram, 0);
        record_->primaryMemory = W(g_sdram);
        ASSERT_EQ(mp_buf_init(kNode, 100, 50), 0);
    }
    void TearDown() override
    {
        mp_buf_exit_all();
        if (record_ && record_->heaps[0]) mp_mem_delete_heap(record_->heaps[0]);
        if (record_) record_->heaps[0] = nullptr;
        mp_buf_set_descriptor_memory(nullptr);
        mp_buf_set_remote(nullptr);
        std::memset(PreDefBufAddress, 0, sizeof PreDefBufAddress);
        mp_sys_remove_node(kNode);
        mp_sys_remove_node(kRemoteNode);
        imNodeSt = nullptr;
    }
    uint32_t DescFree() const { return record_->heaps[5] ? record_->heaps[5]->freeBytes : 0; }

    std::unique_ptr<_NODE_ST> global_;
    _NODE_ST block_{}, remote_{};
    _NODE_MAIN_RESOURCE_ST* record_ = nullptr;
};

}  // namespace buftest
