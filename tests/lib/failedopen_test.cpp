// Opens that fail after the node's runtime came up, over and over with every core busy:
// the node's threads tear their runtime down while the open gives everything back, and
// neither may free what the other still reads.  Through the public header only.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using libsandbox::LastText;

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kDoorbellRegister = 0x2030;
constexpr uint32_t kHostDoorbell = 0x20;
// The host doorbells of an open: the handshake, then one per "DevAlloc" phase.
constexpr int kSecondStageDoorbell = 3;

// Threads that keep every core busy while they live.
class BusyCores {
public:
    BusyCores()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i)
            spinners_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyCores()
    {
        stop_ = true;
        for (std::thread& t : spinners_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> spinners_;
};

std::atomic<int> g_doorbells{0};

TEST(FailedOpenTest, RefusedSecondStagesUnderLoadLeaveTheNextOpenAsTheFirst)
{
    libsandbox::Sandbox sandbox("hlcfailopen");
    sandbox.useFpgaFile();
    sandbox.write("halcyra.ini", libsandbox::kOneBoard);
    boardsim::BoardSim& sim = boardsim::BoardSim::instance();
    sim.configure(libsandbox::GrabModuleBoard());
    // The node never hears of the second stage: its runtime is up, and the open waits in
    // vain for the reply and shuts the node down again.
    sim.setWriteFilter([](boardsim::HwAccess& a) {
        const bool doorbell = a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryRegs &&
                              a.offset == kDoorbellRegister && (a.value & kHostDoorbell);
        return !doorbell || ++g_doorbells != kSecondStageDoorbell;
    });
    {
        BusyCores busy;
        for (int round = 0; round < 200; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            g_doorbells = 0;
            imAppGetError(1, nullptr);
            // Set anew each round: the failed open before gave the global state back.
            imAppControl(1, 0.01);
            uint32_t id = 7;
            ASSERT_EQ(imDevAlloc(0, 0, 3, 0, &id), 0u);
            ASSERT_EQ(id, 0u);
            ASSERT_EQ(imAppGetError(0, nullptr), IM_ERR_TIMEOUT) << LastText();
            ASSERT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        }
    }
    sim.setWriteFilter(nullptr);
    imAppControl(1, 15.0);
    imAppGetError(1, nullptr);
    uint32_t id = 0;
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u) << LastText();
    EXPECT_EQ(imDevInquire(id, 3, nullptr), 1u);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_TRUE(sim.dmaBuffers().empty());
    sim.configure();
}

} // namespace
