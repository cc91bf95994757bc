#pragma once
// The interrupt-server tests' node: a listed node with the simulated board's Orlo register
// windows, its Orlo state area, buffer ids (descriptors in the buffer tests' arena), the
// machine on its virtual clock, and a task kernel on the test's thread with the node's
// signals bound as the runtime start-up binds them.  The test's thread is the kernel's root
// task: signalling a semaphore there runs the server it wakes before the call returns, as
// on the node's interrupt process thread.
#include "boardsim.h"
#include "../core/buftest.h"
#include "device.h"
#include "driverreq.h"
#include "grabfamily.h"
#include "hlc_errors.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "intserver.h"
#include "intserverio.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "syncobj.h"
#include "task.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace inttest {

inline constexpr uint32_t kNode = buftest::kNode;
inline constexpr uint32_t kDevice = kNode << 16;

inline std::vector<std::string> g_printed;

class IntServerTest : public ::testing::Test {
protected:
    void SetUp() override { Use(true, true); }
    void TearDown() override { Drop(); }

    void Use(bool primary, bool display)
    {
        Drop();
        boardsim::Topology t;
        t.clock = boardsim::ClockMode::Virtual;
        t.boards[0].primaryOrlo = primary;
        t.boards[0].displayOrlo = display;
        boardsim::BoardSim::instance().configure(t);
        global_ = std::make_unique<_NODE_ST>();
        global_->timeouts = timeouts_;
        imNodeSt = global_.get();
        HlcWireLibrary();
        print_.emplace();
        print_->table.print = [](const char* text) { g_printed.emplace_back(text); };
        ASSERT_EQ(print_->Install(), 0);
        g_printed.clear();
        block_ = std::make_unique<_NODE_ST>();
        ASSERT_EQ(mp_sys_insert_node(kNode, block_.get()), 0);
        record_ = mp_sys_node_resource_ptr(kNode);
        ASSERT_NE(record_, nullptr);
        record_->nodeState = block_.get();
        device_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        record_->device = device_;
        if (primary) {
            ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &record_->primaryRegs));
        }
        if (display) {
            ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_DISPLAY, 0x4000, 0x4000000, &record_->displayRegs));
        }
        state_.reset(static_cast<uint8_t*>(std::aligned_alloc(64, kOrloStateBytes)));
        std::memset(state_.get(), 0, kOrloStateBytes);
        record_->orloState = state_.get();
        mp_buf_set_descriptor_memory(buftest::ArenaMemory);
        ASSERT_EQ(mp_buf_init(kNode, 100, 50), 0);
        ASSERT_EQ(TaskInitTasking(), 1);
        kernel_ = true;
        TaskSetMsgRoute(kNode, -1);
        ASSERT_EQ(mp_interrupt_alloc(kNode), 0);
    }

    void Drop()
    {
        if (!record_) return;
        for (uint32_t o = 0; o < 2; ++o)
            for (uint32_t c = 0; c < kServSlots; ++c)
                if (uint32_t& event = mp_servinfo(record_, o)->slot(c, kSlotDoneEvent)) {
                    CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event)));
                    event = 0;
                }
        if (kernel_) TaskExitTasking();
        kernel_ = false;
        mpPrvSetGrabFamily(kGrabFamilyStd, {});
        mpPrvSetGrabFamily(kGrabFamilyAsync, {});
        mpPrvSetGrabFamilyOf(nullptr);
        mpPrvSetThreadGrabLocation(nullptr);
        boardsim::BoardSim::instance().setReadFilter(nullptr);
        boardsim::BoardSim::instance().setWriteFilter(nullptr);
        mp_core_forget_nodes();
        mp_time_reset_prev_time();
        mp_buf_exit_all();
        mp_buf_set_descriptor_memory(nullptr);
        record_->orloState = nullptr;
        mp_sys_remove_node(kNode);
        record_ = nullptr;
        if (device_ != kInvalidDevice) DeviceClose(device_);
        device_ = kInvalidDevice;
        print_.reset();
        imNodeSt = nullptr;
        boardsim::BoardSim::instance().configure();
    }

    SERVINFO_ST* State(uint32_t orlo = 0) { return mp_servinfo(record_, orlo); }
    // The header words as the servers' start fills them, without starting the servers.
    SERVINFO_ST* Header(uint32_t orlo = 0)
    {
        SERVINFO_ST* s = State(orlo);
        s->node = kNode;
        s->index = orlo;
        s->registers = orlo ? record_->displayRegs : record_->primaryRegs;
        s->shadow = buftest::W(state_.get()) + (orlo ? 0x4000 : 0);
        return s;
    }
    void StartServers() { mpPrvInitInterruptServer(kDevice); }
    // Raises a signal as the interrupt process thread does: the bound semaphore is signalled.
    void Raise(uint32_t signal) { ASSERT_EQ(mp_sys_sema_signal(kNode, signal), 0) << "signal " << signal; }

    uint32_t NewObject(uint32_t kind, int32_t bytes)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, bytes, 1, 1, 8, kLocInline);
        EXPECT_NE(b, nullptr);
        if (!b) return 0;
        b->kind = kind;
        std::memset(mp_buf_address_band_internal(b, 0), 0, static_cast<size_t>(bytes));
        return buftest::W(b);
    }
    uint32_t NewSync() { return NewObject(kBufKindSync, 28); }
    static MP_SYNC_ST* Sync(uint32_t word)
    {
        return static_cast<MP_SYNC_ST*>(
            mp_buf_address_band_internal(reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(word)), 0));
    }

    static uint32_t Reg(uint32_t offset, bool display = false)
    {
        return boardsim::BoardSim::instance().orlo(0, display).reg(offset);
    }
    static void SetReg(uint32_t offset, uint32_t value, bool display = false)
    {
        boardsim::BoardSim::instance().orlo(0, display).setReg(offset, value);
    }
    // Values the library wrote to one register of an Orlo while tracing was on.
    static std::vector<uint32_t> Writes(uint32_t offset, bool display = false)
    {
        std::vector<uint32_t> values;
        const auto area = display ? boardsim::HwArea::DisplayRegs : boardsim::HwArea::PrimaryRegs;
        for (const auto& a : boardsim::BoardSim::instance().trace())
            if (a.op == boardsim::HwOp::Write && a.area == area && a.offset == offset) values.push_back(a.value);
        return values;
    }
    static void Trace()
    {
        boardsim::BoardSim::instance().clearTrace();
        boardsim::BoardSim::instance().setTracing(true);
    }
    static bool Printed(const std::string& text)
    {
        for (const std::string& p : g_printed)
            if (p.find(text) != std::string::npos) return true;
        return false;
    }

    // Time-out table: a short communication limit keeps the bounded waits quick.
    double timeouts_[11] = {5.0, 5.0, 1.0, 0.05, 0.05, 0.05, 0.0, -1.0, 0.0, 0.0, 5.0};
    std::unique_ptr<_NODE_ST> global_, block_;
    struct FreeArea {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, FreeArea> state_;
    _NODE_MAIN_RESOURCE_ST* record_ = nullptr;
    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcHostHookOverride> print_;
    bool kernel_ = false;
};

}  // namespace inttest
