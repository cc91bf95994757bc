#include "wiring_parts.h"

#include "dispops.h"
#include "nodelist.h"

namespace {

// The display view of a listed node.
HlcDisplayLink* DisplayLink(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* record = HlcListedRecord(node);
    if (!record) return nullptr;
    HlcDisplayLink& link = HlcThreadView<HlcDisplayLink>(node);
    // Record access mode 0: the mapped windows are used directly.
    link.accessMode = record->accessMode == 0 && record->chipRegs ? 1 : 0;
    link.chipRegs = record->chipRegs;
    link.device = record->device;
    link.overlapped = record->nodeEvent;
    // The node keeps no display shadow: reads go to the chip.
    link.shadow = nullptr;
    // The display state words are the first words of the node's state block.
    link.state = reinterpret_cast<int32_t*>(record->nodeState);
    // A node is a display when its state block found the display chip on the board (or,
    // without a state block, when the chip's registers are mapped).
    link.isDisplay = record->nodeState ? (record->nodeState->chip.present ? 1 : 0) : (record->chipRegs ? 1 : 0);
    // Where the chip takes its configuration cycles, as node open found it on the board.
    link.chipBus = link.chipDevice = link.chipFunction = 0;
    link.chipPci = HlcNodeChipPci(node, &link.chipBus, &link.chipDevice, &link.chipFunction) ? 1 : 0;
    return &link;
}

// The node numbers of the host's node list in list order, at most capacity of them.
uint32_t NodeList(uint32_t* nodes, uint32_t capacity)
{
    if (!imNodeSt || !nodes) return 0;
    uint32_t count = 0;
    for (const _NODE_MAIN_RESOURCE_ST* r = mp_sys_own_record(imNodeSt); r && count < capacity; r = r->next)
        if (r->nodeNumber > 0) nodes[count++] = static_cast<uint32_t>(r->nodeNumber);
    return count;
}

} // namespace

_NODE_MAIN_RESOURCE_ST* HlcListedRecord(uint32_t node)
{
    node &= 0xFF;
    return node ? mp_sys_node_resource_ptr(node) : nullptr;
}

HlcDisplayHooks HlcLibraryDisplayHooks()
{
    HlcDisplayHooks h{};
    h.displayLink = DisplayLink;
    h.nodeList = NodeList;
    return h;
}

uint32_t HlcLibraryDisplayMode(const _PCI_FOUND_DEVICE* device)
{
    return mp_disp_get_mode(device, nullptr);
}
