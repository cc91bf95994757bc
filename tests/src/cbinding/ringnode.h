#pragma once
// A host node with a communication ring in host memory for the message tests: a simulated
// board with its primary Orlo mapped, the node record and node state in the node list's
// hooks, the core's lock and doorbell services, and a ring of kRingNodeSlots slots whose
// slot 0 is reserved.
#include "im_msgio.h"

#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace ringnode {

inline constexpr uint32_t kNode = 0x11;
inline constexpr uint32_t kRingNodeSlots = 4;

inline _NODE_MAIN_RESOURCE_ST g_record;
inline _NODE_ST g_host;
inline _NODE_ST g_nodeState;
inline CRITICAL_SECTION g_section;
alignas(8) inline uint32_t g_header[16];
alignas(8) inline uint8_t g_ring[64 + 256 * kRingNodeSlots];

inline _NODE_MAIN_RESOURCE_ST* Resource(uint32_t node) { return node == kNode ? &g_record : nullptr; }
// The board table as this node list overrides it; the wired table comes back at tear-down.
inline std::optional<HlcBoardHookOverride>& RingHooks()
{
    static std::optional<HlcBoardHookOverride> hooks;
    return hooks;
}
inline _NODE_ST* HostState() { return &g_host; }
inline uint32_t Addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
inline _MSG_BODY_ST* Slot(uint32_t i) { return reinterpret_cast<_MSG_BODY_ST*>(g_ring + 64 + 256 * i); }

// Builds the node; timeouts is the host's time-out table (11 entries). Returns the node's
// driver device, kInvalidDevice on failure.
inline DeviceHandle SetUpRingNode(double* timeouts)
{
    boardsim::Topology t;
    t.boards[0].primaryOrlo = true;
    boardsim::BoardSim::instance().configure(t);
    const DeviceHandle device = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
    if (device == kInvalidDevice) return device;
    g_record = _NODE_MAIN_RESOURCE_ST{};
    g_record.nodeNumber = kNode;
    g_record.device = device;
    g_nodeState = _NODE_ST{};
    g_record.nodeState = &g_nodeState;
    InitializeCriticalSection(&g_section);
    g_record.section = &g_section;
    EXPECT_TRUE(HlcDrvMap(device, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &g_record.primaryRegs));
    g_host = _NODE_ST{};
    g_host.timeouts = timeouts;
    g_host.own.next = &g_record;
    // The library's wiring over this node list.
    HlcWireLibrary();
    RingHooks().emplace();
    RingHooks()->table.nodeResource = Resource;
    RingHooks()->table.hostNodeState = HostState;
    EXPECT_EQ(RingHooks()->Install(), 0);
    std::memset(g_ring, 0, sizeof g_ring);
    std::memset(g_header, 0, sizeof g_header);
    g_header[kRingHead] = g_header[kRingTail] = 0xFFFFFFFFu;
    g_header[kRingReserved] = 0;
    g_header[kRingSlots] = kRingNodeSlots;
    Slot(0)->inUse = 1;
    g_record.ringHeader = Addr(g_header);
    g_record.commRing = Addr(g_ring);
    im_msg_reset_application();
    return device;
}

inline void TearDownRingNode(DeviceHandle device)
{
    mp_core_forget_nodes();
    RingHooks().reset();
    DeviceClose(device);
    boardsim::BoardSim::instance().configure();
    DeleteCriticalSection(&g_section);
}

}  // namespace ringnode
