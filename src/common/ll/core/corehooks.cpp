// The node list, board queries and address conversion as the host platform reaches them.
#include "heap.h"
#include "hosthooks.h"
#include "nodelist.h"
#include "regaccess.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

// Node state blocks that the platform made for listed nodes; they go with the node.
// Never destroyed: a node's threads may still use it while the process ends.
std::vector<std::pair<uint32_t, _NODE_ST*>>& g_blocks = *new std::vector<std::pair<uint32_t, _NODE_ST*>>;

_NODE_ST* HostState()
{
    return imNodeSt;
}

// Lists the node with a copy of the platform part of its record; bit 31 marks a record
// that is not counted as an open.
int InsertNode(uint32_t node, _NODE_ST* block, const _NODE_MAIN_RESOURCE_ST* record)
{
    const uint32_t number = node & 0xFF;
    _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(number);
    if (!listed) {
        if (mp_sys_insert_node(number, block) != 0) return 1;
        listed = mp_sys_node_resource_ptr(number);
        if (!listed) return 1;
        if (record && record != listed) HlcCopyPlatformFields(listed, record);
        listed->nodeNumber = static_cast<int32_t>(number);
        listed->openCount = (node & kOwnRecordFlag) ? -1 : 0;
    }
    listed->nodeState = block;
    if (block && block != imNodeSt) {
        const auto board = reinterpret_cast<_NODE_ST*>(
            static_cast<uintptr_t>(HlcGetBoardHooks().initInfo(listed, 9)));
        bool known = block == board;
        for (const auto& b : g_blocks) known = known || b.second == block;
        if (!known) g_blocks.emplace_back(number, block);
    }
    return 0;
}

int RemoveNode(uint32_t node)
{
    const uint32_t number = node & 0xFF;
    const int result = mp_sys_remove_node(number);
    for (auto it = g_blocks.begin(); it != g_blocks.end();) {
        if (it->first == number) {
            delete it->second;
            it = g_blocks.erase(it);
        } else {
            ++it;
        }
    }
    return result;
}

int OpenedNodes()
{
    return mp_sys_opened_node();
}

_NODE_MAIN_RESOURCE_ST* NodeResource(uint32_t node)
{
    return mp_sys_node_resource_ptr(node);
}

// The register control, the heaps and the BIOS record of a node that is shut down.
void FreeNodeResources(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return;
    // The node's runtime gives its register control back when its thread ends; a node
    // opened for register access only ("DSP is ignored") has no such thread, and its
    // control was made by the open on the caller's thread.  Its lists lie in the heaps
    // below, so it goes first.
    FreeHwRegCtrl(record);
    for (heap*& h : record->heaps) {
        mp_mem_delete_heap(h);
        h = nullptr;
    }
    safe_free(record->biosInfo);
    record->biosInfo = nullptr;
}

uint32_t ProductOf(const _PCI_FOUND_DEVICE* device, uint32_t processor)
{
    return mp_sys_get_product_id(device, processor);
}

uint32_t BoardMemSize(uint32_t product, const void* config)
{
    return mp_sys_get_board_mem_size(product, config);
}

uint32_t PciToMvp(uint32_t node, uint32_t address)
{
    return mp_util_pci_to_mvp(node, address);
}

void BiosInfo(_NODE_MAIN_RESOURCE_ST* record)
{
    if (record) mp_sys_get_bios_info(static_cast<uint32_t>(record->nodeNumber) & 0xFF, record);
}

} // namespace

void mp_sys_install_board_hooks()
{
    HlcBoardHooks hooks = HlcGetBoardHooks();
    hooks.hostNodeState = HostState;
    hooks.nodeResource = NodeResource;
    hooks.insertNode = InsertNode;
    hooks.removeNode = RemoveNode;
    hooks.openedNodes = OpenedNodes;
    hooks.freeNodeResources = FreeNodeResources;
    hooks.startLocalCpu = mp_sys_start_local_cpu;
    hooks.resetHaltBoard = mp_sys_rst_hlt_board;
    hooks.productId = ProductOf;
    hooks.boardMemSize = BoardMemSize;
    hooks.pciToMvp = PciToMvp;
    hooks.externalBoardId = mp_sys_external_board_id;
    hooks.biosInfo = BiosInfo;
    HlcSetBoardHooks(hooks);
}
