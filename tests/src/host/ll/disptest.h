// Fixture of the display tests: one display board, its chip register window mapped, and
// the display view of node 0x11 installed through the display hooks.
#pragma once

#include "boardsim.h"
#include "disphooks.h"
#include "driverreq.h"
#include "hlc_wiring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace disptest {

constexpr uint32_t kNode = 0x11;

inline HlcDisplayLink g_link;
inline bool g_linked = true;
inline std::vector<uint32_t> g_nodes;
inline std::vector<uint32_t> g_displays;

inline HlcDisplayLink* LinkOf(uint32_t node)
{
    if (node == kNode && g_linked) return &g_link;
    for (uint32_t d : g_displays)
        if (d == node) return &g_link;
    return nullptr;
}

inline uint32_t NodesOf(uint32_t* nodes, uint32_t capacity)
{
    uint32_t n = 0;
    for (uint32_t v : g_nodes)
        if (n < capacity) nodes[n++] = v;
    return n;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::Topology t;
        t.boards[0].displayOrlo = true;
        t.boards[0].displayChip = true;
        t.clock = clock_;
        sim().configure(t);
        device_ = DeviceOpen(sim().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        uint32_t window = 0;
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_CHIP, kChipRegisterSize, 0, &window));
        ASSERT_NE(window, 0u);
        std::memset(shadow_, 0, sizeof shadow_);
        std::memset(state_, 0, sizeof state_);
        g_link = HlcDisplayLink{};
        g_link.accessMode = 1;
        g_link.chipRegs = window;
        g_link.device = device_;
        g_link.shadow = shadow_;
        g_link.state = state_;
        g_link.isDisplay = 1;
        g_linked = true;
        g_nodes.clear();
        g_displays.clear();
        HlcWireLibrary();
        display_.emplace();
        display_->table.displayLink = LinkOf;
        display_->table.nodeList = NodesOf;
        ASSERT_EQ(display_->Install(), 0);
    }
    void TearDown() override
    {
        display_.reset();
        if (device_ != kInvalidDevice) DeviceClose(device_);
    }
    std::optional<HlcDisplayHookOverride> display_;
    static boardsim::BoardSim& sim() { return boardsim::BoardSim::instance(); }
    // Chip accesses since the trace was started, as (op, offset, value) of the chip window.
    static std::vector<boardsim::HwAccess> ChipTrace()
    {
        std::vector<boardsim::HwAccess> list;
        for (const auto& a : sim().trace())
            if (a.area == boardsim::HwArea::ChipRegs) list.push_back(a);
        return list;
    }
    static boardsim::HwAccess W8(uint32_t offset, uint32_t value)
    {
        return boardsim::Write(boardsim::HwArea::ChipRegs, offset, value, 1);
    }
    static boardsim::HwAccess R8(uint32_t offset, uint32_t value)
    {
        return boardsim::Read(boardsim::HwArea::ChipRegs, offset, value, 1);
    }

    boardsim::ClockMode clock_ = boardsim::ClockMode::FreeRunning;   // set before SetUp
    DeviceHandle device_ = kInvalidDevice;
    uint8_t shadow_[kPyxShadowBytes];
    int32_t state_[kDispStateWords];
};

} // namespace disptest
