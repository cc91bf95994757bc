#pragma once
// A host node served by the command server, for the tests that send commands through the
// real sender: the ring node of the message tests, the buffer service over a descriptor
// arena, the sync and thread objects installed, the ring server on its own task kernel
// thread with the node's main thread object, and a thread standing in for the interrupt
// threads (doorbells to the ring server's semaphore, reply doorbells to the senders).
#include "syncobj.h"
#include "thread.h"

#include "bufid.h"
#include "cmdserver.h"
#include "im_msgio.h"
#include "../../cbinding/ringnode.h"
#include "../../testwait.h"

#include "hwaccess.h"
#include "nodeopen.h"
#include "task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace servednode {

using namespace ringnode;

inline constexpr uint32_t kMain = 0x40000010u | (kNode << 16);
inline constexpr uint32_t kDevice = kNode << 16;

inline double g_timeouts[11] = {5.0, 5.0, 0.2, 5.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};
alignas(65536) inline uint8_t g_arena[65536];

inline int32_t Arena(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > sizeof g_arena) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_arena));
    band->physical = 0x10000000u;
    return 7;
}

class ServedNodeTest : public ::testing::Test {
protected:
    // Further handlers, installed before the servers start.
    virtual void InstallHandlers() {}

    void SetUp() override
    {
        // Handlers that a test put in go; the ring node's set-up wires the library, whose
        // opcode handlers, thread lookup and sync operations the node then serves with.
        mp_server_reset_handlers();
        device_ = SetUpRingNode(g_timeouts);
        ASSERT_NE(device_, kInvalidDevice);
        mp_buf_set_descriptor_memory(Arena);
        ASSERT_EQ(mp_buf_init(kNode, 100, 50), 0);
        InstallHandlers();
        interrupts_.Start([this] { Interrupts(); }, "the interrupt thread");
        server_.Start([this] { Server(); }, "the node's kernel thread");
        ASSERT_TRUE(testwait::WaitUntil([this] { return ready_ || !server_.Running(); }) && ready_)
            << "the node's kernel thread ended, or did not start serving within 5 s";
        ASSERT_NE(main_, nullptr);
    }
    void TearDown() override
    {
        stop_ = true;
        server_.Join();
        interrupts_.Join();
        // The id tables and the descriptor heap go while the node list still names this
        // node's record, which holds the heap: the library's own list knows no such node.
        mp_buf_exit_all();
        mp_server_reset_handlers();
        HlcWireLibrary();
        mp_buf_set_descriptor_memory(nullptr);
        TearDownRingNode(device_);
    }
    void Interrupts()
    {
        while (!stop_) {
            const uint32_t regs = g_record.primaryRegs;
            const uint32_t pending = HwRead32(regs, kOrloInterruptSet);
            if (pending & 32u) {
                HwWrite32(regs, kOrloInterruptClear, 32u);
                ++doorbells_;
            }
            if (pending & 2u) {
                HwWrite32(regs, kOrloInterruptClear, 2u);
                SyncCmdList.PostEvent(kNode);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    void Server()
    {
        ASSERT_EQ(TaskInitTasking(), 1);
        const int32_t sema = TaskOpenSema(-1, 0);
        mp_interrupt_set_signal(kNode, kRingSignalPrimary, sema);
        main_ = mpThrAlloc(nullptr, kNode, 0, nullptr, kMain);
        TaskResume(TaskCreate(-1, MpNimServer, &g_record, 20, 256 * 1024));
        ready_ = true;
        while (!stop_) {
            for (int n = doorbells_.exchange(0); n > 0; --n) TaskSignalSema(sema);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        mp_thr_reap();
        for (MP_THREAD_OBJ_ST* t : extra_)
            if (t) mp_thr_destroy(t);
        if (main_) mp_thr_destroy(main_);
        TaskCloseSema(sema);
        TaskExitTasking();
    }
    // True once done() holds; false after 5 s (the test asserts it).
    [[nodiscard]] static bool WaitUntil(const std::function<bool()>& done) { return testwait::WaitUntil(done); }

    DeviceHandle device_ = kInvalidDevice;
    testwait::Thread server_, interrupts_;
    std::atomic<bool> ready_{false}, stop_{false};
    std::atomic<int> doorbells_{0};
    MP_THREAD_OBJ_ST* main_ = nullptr;
    MP_THREAD_OBJ_ST* extra_[4]{};   // further thread objects, destroyed with the node
};

}  // namespace servednode
