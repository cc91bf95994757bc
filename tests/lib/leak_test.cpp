// What a program's open, objects and close take from the process heap is given back: a
// node with a grab module, a display Orlo and a display chip, and a board opened for
// register access only, are opened, used and closed again and again, through hlclib.h and
// libhlclib.so only, and the sanitizer allocator's count of live bytes after each cycle
// is compared with the count after the first one (which settles the allocations made
// once per process).  This check works where the leak checker cannot run, such as under
// an emulator.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#else
// The compiler ships the runtime without its public headers: the one call used here.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kBoardMemory = 1, kHostDma = 3;
constexpr uint32_t kDone = 50;
constexpr uint32_t kRed = 0x10000;
constexpr int kCycles = 20;
constexpr const char* kMutexBusy = "Another node open did not end in time";
using libsandbox::LastText;

// Threads of the process.
size_t ThreadCount()
{
    std::error_code error;
    size_t threads = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end; it.increment(error))
        ++threads;
    return threads;
}

// The live bytes once the threads that a cycle started have left the process (2 s at
// most): a node's thread reports its end before it has left, and its thread-local blocks
// are freed as it leaves.
size_t LiveBytesOnceThreadsLeft(size_t threads)
{
    for (int i = 0; i < 400 && ThreadCount() > threads; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return __sanitizer_get_current_allocated_bytes();
}

struct LeakCycle {
    const char* name;
    void (*run)();
};

class LeakTest : public ::testing::TestWithParam<LeakCycle> {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOwnScreenIni);
        box_.write("mode.vcf", libsandbox::Mode640Vcf());
        box_.write("mono.dcf", libsandbox::StandardCameraFile(libsandbox::Camera640Lines(kRed)));
    }
    void TearDown() override { boardsim::BoardSim::instance().configure(); }

public:
    // One open, every kind of object made, used and freed, and the close, on a machine
    // built for the cycle and taken down after it, so that what the simulator records of
    // its own work is not counted.
    static void Cycle()
    {
        boardsim::Topology topology = libsandbox::GrabModuleBoard();
        topology.boards[0].displayOrlo = true;
        topology.boards[0].displayChip = true;
        boardsim::BoardSim::instance().configure(topology);
        libsandbox::SetDesktop(true);
        for (bool display : {false, true}) boardsim::BoardSim::instance().grabEngine(0, display).setFramePeriod(0.0);
        uint32_t device = 0, second = 0, display = 0, camera = 0, digitizer = 0, board = 0, host = 0, thread = 0,
                 sync = 0;
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device), 0u) << LastText();
        // A second open of the node, closed again before the first.
        EXPECT_NE(imDevAlloc(0, 0, 3, 0, &second), 0u) << LastText();
        EXPECT_NE(imDispAlloc(kThread, 0, 0, "mode", 0x10000000u, &display), 0u) << LastText();
        EXPECT_NE(imCamAlloc(kThread, "mono", 1, &camera), 0u) << LastText();
        EXPECT_NE(imDigAlloc(kThread, -1, -1, 0, &digitizer), 0u) << LastText();
        EXPECT_NE(imBufAlloc(device, 64, 48, 1, 8, kBoardMemory, &board), 0u) << LastText();
        EXPECT_NE(imBufAlloc(device, 64, 48, 1, 8, kHostDma, &host), 0u) << LastText();
        EXPECT_EQ(libsandbox::GrabAndWait(kThread, camera, board, 1), static_cast<int32_t>(kDone)) << LastText();
        EXPECT_EQ(libsandbox::GrabAndWait(kThread, camera, host, 1), static_cast<int32_t>(kDone)) << LastText();
        EXPECT_EQ(imBufCopy(device, board, host, 0, 0), 0) << LastText();
        EXPECT_NE(imThrAlloc(device, 0, &thread), 0u) << LastText();
        EXPECT_NE(imSyncAlloc(thread, &sync), 0u) << LastText();
        EXPECT_EQ(imSyncFree(thread, sync), 0) << LastText();
        EXPECT_EQ(imThrFree(thread), 0) << LastText();
        EXPECT_EQ(imBufFree(device, host), 0) << LastText();
        EXPECT_EQ(imBufFree(device, board), 0) << LastText();
        EXPECT_EQ(imDigFree(kThread, digitizer), 0) << LastText();
        EXPECT_EQ(imCamFree(kThread, camera), 0) << LastText();
        EXPECT_EQ(imDispFree(kThread, display), 0) << LastText();
        // A paged buffer still locked is left to the close, with the node's copies of its
        // page lists.
        uint32_t paged = 0;
        EXPECT_NE(imBufAlloc(device, 64, 48, 1, 8, IM_LOC_HOST_PAGED, &paged), 0u) << LastText();
        EXPECT_EQ(imBufControl(device, paged, IM_BUF_LOCK, IM_DEFAULT), 0) << LastText();
        libsandbox::FreeDevice(second);
        libsandbox::FreeDevice(device);
        boardsim::BoardSim::instance().configure();
    }

    // A board whose own processor the open leaves as it is (init mode 1): open for register
    // access only, with no node runtime behind it, and closed.
    static void RegisterAccessCycle()
    {
        boardsim::Topology topology = libsandbox::GrabModuleBoard();
        topology.boards[0].processor = true;
        boardsim::BoardSim::instance().configure(topology);
        // Other test programs open and close nodes under the same named mutex: a call that
        // timed out waiting for it is made again.
        const auto retried = [](const auto& call) {
            std::string text = kMutexBusy;
            for (int i = 0; i < 20 && text == kMutexBusy; ++i) {
                call();
                text = LastText();
                imAppGetError(1, nullptr);
            }
            return text;
        };
        uint32_t device = 0;
        EXPECT_EQ(retried([&] { imDevAlloc(0, 0, 1, 0, &device); }), "DSP is ignored");
        EXPECT_EQ(device, kNode << 16);
        // No node runtime answers the close's message; the close is the shut-down.
        retried([&] { imDevFree(device); });
        boardsim::BoardSim::instance().configure();
    }

private:
    libsandbox::Sandbox box_{"hlcleak"};
};

TEST_P(LeakTest, OpenUseAndCloseGiveBackWhatTheyTook)
{
    const size_t threads = ThreadCount();
    std::vector<size_t> live;
    live.reserve(kCycles);
    for (int i = 0; i < kCycles; ++i) {
        GetParam().run();
        if (HasFatalFailure()) return;
        live.push_back(LiveBytesOnceThreadsLeft(threads));
    }
    std::string counts;
    for (size_t bytes : live) counts += " " + std::to_string(bytes);
    EXPECT_EQ(live.back(), live.front()) << "live bytes after each cycle:" << counts;
}

INSTANTIATE_TEST_SUITE_P(Cycles, LeakTest,
                         ::testing::Values(LeakCycle{"NodeWithEveryObject", &LeakTest::Cycle},
                                           LeakCycle{"RegisterAccessOnly", &LeakTest::RegisterAccessCycle}),
                         [](const ::testing::TestParamInfo<LeakCycle>& info) { return std::string(info.param.name); });

} // namespace
