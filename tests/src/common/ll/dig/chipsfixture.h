// A node with the standard grab module behind its primary Orlo's port window, on the
// machine's virtual clock: the register-control record selected (SetToOrlo, SetToExt) so
// the chip writers reach the simulated module, whose decoded values the tests read through
// BoardSim's grab view.
#pragma once

#include "boardsim.h"
#include "camrec.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "nodelist.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"
#include "serialchips.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace chipsfixture {

constexpr uint32_t kNode = 0x11;

inline _NODE_MAIN_RESOURCE_ST& Record()
{
    static _NODE_MAIN_RESOURCE_ST record;
    return record;
}
inline std::vector<uint8_t>& State()
{
    static std::vector<uint8_t> state;
    return state;
}
inline _NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return (node & 0xFF) == kNode ? &Record() : nullptr;
}

// Rising edges of a line in a register's value sequence: the value of another line at
// each, in order.
inline std::vector<int> BitsAtRisingEdges(const std::vector<uint16_t>& values, uint16_t clock, uint16_t data,
                                          uint16_t frame = 0)
{
    std::vector<int> bits;
    uint16_t previous = 0;
    for (uint16_t v : values) {
        if (!(previous & clock) && (v & clock) && (frame == 0 || (v & frame))) bits.push_back((v & data) ? 1 : 0);
        previous = v;
    }
    return bits;
}

// The bits of a value, most significant first.
inline std::vector<int> MsbFirst(uint32_t value, int count)
{
    std::vector<int> bits;
    for (int b = count - 1; b >= 0; --b) bits.push_back((value >> b) & 1);
    return bits;
}
inline std::vector<int> LsbFirst(uint32_t value, int count)
{
    std::vector<int> bits;
    for (int b = 0; b < count; ++b) bits.push_back((value >> b) & 1);
    return bits;
}
inline std::vector<int> Join(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class GrabModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::Topology t;
        t.clock = boardsim::ClockMode::Virtual;
        t.boards[0].moduleType = moduleType_;
        t.boards[0].displayOrlo = displayOrlo_;
        boardsim::BoardSim::instance().configure(t);
        device_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        _NODE_MAIN_RESOURCE_ST& r = Record();
        r = _NODE_MAIN_RESOURCE_ST{};
        r.nodeNumber = kNode;
        State().assign(kOrloStateBytes, 0);
        r.orloState = State().data();
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &r.primaryRegs));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x800, 0x4080000, &r.primaryPort));
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        ASSERT_EQ(board_->Install(), 0);
        SetHwRegCtrlPtr(&r, nullptr);
        SetToOrlo(kNode, 0, nullptr);
        SetToExt(0);
        Grab().clearLog();
    }
    void TearDown() override
    {
        ReleaseAccessOrlo();
        FreeHwRegCtrl(&Record());
        board_.reset();
        DeviceClose(device_);
        boardsim::BoardSim::instance().configure();
    }

    static boardsim::GrabView Grab() { return boardsim::BoardSim::instance().grab(0); }
    // The live shadow slot of a byte offset (register n: 8n).
    static CamSlot* Live(uint32_t offset) { return reinterpret_cast<CamSlot*>(mpPrvExtSlot(offset)); }
    static _MP_CAM_ST_0* LiveRecord() { return reinterpret_cast<_MP_CAM_ST_0*>(mpPrvExtShadow()); }
    static std::vector<uint16_t> Values(uint32_t reg) { return Grab().values(reg); }
    // Register writes (low and high lane) of the whole module since the last clearLog.
    static size_t AllWrites()
    {
        size_t n = 0;
        for (uint32_t reg = 0; reg < grabregs::kRegisterCount; ++reg) n += Grab().values(reg).size();
        return n;
    }

    uint8_t moduleType_ = 1;
    bool displayOrlo_ = false;  // the board carries its display Orlo as well
    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcBoardHookOverride> board_;
};

// A zeroed standard camera record.
inline std::unique_ptr<_MP_CAM_ST_0> NewRecord()
{
    return std::make_unique<_MP_CAM_ST_0>();
}
inline void Set(_MP_CAM_ST_0* cam, uint32_t offset, uint32_t value)
{
    CamSlotAt(cam, offset)->value = value;
    CamSlotAt(cam, offset)->file = value;
}
inline uint32_t Get(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->value;
}

} // namespace chipsfixture
