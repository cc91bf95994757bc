// A stand-in for the library core's node services in the node-open and bring-up tests:
// a node list of record copies with their blocks, the platform view of each listed node,
// a host node state block, the product table, and a doorbell that lets the simulated
// shell answer the start-up check.
#pragma once

#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodeopen.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nodecore {

struct Listed {
    std::unique_ptr<_NODE_MAIN_RESOURCE_ST> record;
    _NODE_ST* block = nullptr;
    std::vector<_NODE_ST*> blocks;   // every block inserted for the node (the core owns them)
    uint32_t inserts = 0;
    HlcNodeLink link;
};

struct Core {
    std::map<uint32_t, Listed> nodes;
    _NODE_ST host{};
    std::string printed;
    std::vector<uint32_t> inserted;   // node words as inserted (bit 31 remote)
    std::vector<uint32_t> removed;
    std::vector<uint32_t> doorbells;
    std::vector<std::string> calls;
    uint32_t product = 1;
    uint32_t memory = 0x400000;
    uint32_t module = 1;
    bool refuseInsert = false;
    bool answerDoorbell = true;
    bool messageHandler = true;
};

inline Core*& Current()
{
    static Core* core = nullptr;
    return core;
}

inline HlcNodeLink* NodeLink(uint32_t node)
{
    auto it = Current()->nodes.find(node & 0xFF);
    if (it == Current()->nodes.end()) return nullptr;
    Listed& l = it->second;
    l.link.node = node & 0xFF;
    l.link.device = l.record->device;
    l.link.overlapped = l.record->nodeEvent;
    l.link.dmaRegions = l.record->dmaRegions;
    l.link.primaryOrloRegs = l.record->primaryRegs;
    l.link.displayOrloRegs = l.record->displayRegs;
    return &l.link;
}
inline void Print(const char* text)
{
    Current()->printed += text;
}
inline _NODE_ST* HostState()
{
    return &Current()->host;
}
inline _NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    auto it = Current()->nodes.find(node & 0xFF);
    return it == Current()->nodes.end() ? nullptr : it->second.record.get();
}
inline int Insert(uint32_t node, _NODE_ST* block, const _NODE_MAIN_RESOURCE_ST* record)
{
    Core& c = *Current();
    if (c.refuseInsert) return 1;
    c.inserted.push_back(node);
    Listed& l = c.nodes[node & 0xFF];
    if (!l.record) {
        l.record = std::make_unique<_NODE_MAIN_RESOURCE_ST>(*record);
        l.record->openCount = (node & 0x80000000u) ? -1 : 0;
        l.record->nodeState = block;
    }
    l.block = block;
    if (block != &c.host) l.blocks.push_back(block);
    ++l.inserts;
    return 0;
}
inline void Free(Listed& l)
{
    for (size_t i = 0; i < l.blocks.size(); ++i) {
        bool again = false;
        for (size_t j = 0; j < i; ++j) again = again || l.blocks[j] == l.blocks[i];
        if (!again) delete l.blocks[i];
    }
    l.blocks.clear();
}
inline int Remove(uint32_t node)
{
    Core& c = *Current();
    auto it = c.nodes.find(node & 0xFF);
    if (it == c.nodes.end()) return 1;
    Free(it->second);
    c.nodes.erase(it);
    c.removed.push_back(node);
    return 0;
}
inline int Opened()
{
    return static_cast<int>(Current()->nodes.size());
}
inline int Doorbell(uint32_t node)
{
    Core& c = *Current();
    c.doorbells.push_back(node);
    auto it = c.nodes.find(node & 0xFF);
    if (c.answerDoorbell && it != c.nodes.end() && it->second.block) it->second.block->commState = 1;
    return 1;
}
inline uint32_t Product(const _PCI_FOUND_DEVICE* device, uint32_t)
{
    Current()->calls.push_back(device ? "product" : "product of nothing");
    return Current()->product;
}
inline uint32_t MemorySize(uint32_t, const void* config)
{
    if (!config) return 0;
    return Current()->memory;
}
inline uint32_t Module(_NODE_MAIN_RESOURCE_ST*)
{
    return Current()->module;
}
inline void NoSleep(double) {}
// Short time-outs keep the failing waits quick.
inline double Timeout(int entry)
{
    return entry == 2 ? 0.1 : 0.5;
}
inline void MessageHandler(_HALCYRA_HOOK_LIST*)
{
    Current()->calls.push_back("message");
}
// Hooks the stand-in message handler where the library hooks its own: source 33, or 65
// without a primary Orlo.
inline int HookMessageHandler(uint32_t node)
{
    Current()->calls.push_back("hook message handler");
    auto it = Current()->nodes.find(node & 0xFF);
    const _NODE_MAIN_RESOURCE_ST* record = it != Current()->nodes.end() ? it->second.record.get() : nullptr;
    const int32_t source = record && record->primaryRegs ? 33 : 65;
    return HalcyraHookInterruptFunction(node & 0xFF, MessageHandler, source, nullptr, nullptr);
}

// Wires the library and puts this stand-in in the place of the core's node services; the
// destructor of the returned guard puts the wired tables back.
struct Installed {
    explicit Installed(Core& core)
    {
        Current() = &core;
        core.host.commState = -1;
        HlcHostHooks& host = host_.table;
        host.nodeLink = NodeLink;
        host.print = Print;
        EXPECT_EQ(host_.Install(), 0);
        HlcBoardHooks& b = board_.table;
        // The stand-in keeps its own node list: the members that would look nodes up in
        // the core's list take the platform's built-in versions, which reach the nodes
        // through the stand-in's view (signals, driver semaphores, addresses, board
        // information) or act on the record as given (board processor, lock).
        const HlcBoardHooks& builtin = HlcBuiltinBoardHooks();
        b.getSignal = builtin.getSignal;
        b.setSignal = builtin.setSignal;
        b.takeSignalPending = builtin.takeSignalPending;
        b.semaCheck = builtin.semaCheck;
        b.semaReset = builtin.semaReset;
        b.semaSignal = builtin.semaSignal;
        b.freeNodeResources = builtin.freeNodeResources;
        b.resetHaltBoard = builtin.resetHaltBoard;
        b.startLocalCpu = builtin.startLocalCpu;
        b.lockCheck = builtin.lockCheck;
        b.lockReset = builtin.lockReset;
        b.initInfo = builtin.initInfo;
        b.mvpToVirtual = builtin.mvpToVirtual;
        b.pciToMvp = builtin.pciToMvp;
        b.biosInfo = builtin.biosInfo;
        b.hostNodeState = HostState;
        b.nodeResource = Resource;
        b.insertNode = Insert;
        b.removeNode = Remove;
        b.openedNodes = Opened;
        b.interruptSend = Doorbell;
        b.productId = Product;
        b.boardMemSize = MemorySize;
        b.externalBoardId = Module;
        b.sleep = NoSleep;
        b.timeout = Timeout;
        b.hookMessageHandler = core.messageHandler ? HookMessageHandler : nullptr;
        EXPECT_EQ(board_.Install(), 0);
    }
    ~Installed()
    {
        Core& c = *Current();
        for (auto& n : c.nodes) Free(n.second);
        c.nodes.clear();
        Current() = nullptr;
    }

private:
    // The library is wired first, so that the overrides start from its tables.
    struct Wired {
        Wired() { HlcWireLibrary(); }
    } wired_;
    HlcHostHookOverride host_;
    HlcBoardHookOverride board_;
};

} // namespace nodecore
