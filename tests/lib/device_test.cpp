// Devices and the application's error calls as a program sees them: through hlclib.h and
// libhlclib.so only, with the simulated board driven through the platform object.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/driver_requests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
using libsandbox::kFpgaBytes;
using libsandbox::kOneBoard;
using libsandbox::LastText;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcdev");
        // The grab module's FPGA file: every open loads it, unless a test says otherwise.
        sandbox_->useFpgaFile();
        topology_.boards[0].fpgaBytes = kFpgaBytes;
        boardsim::BoardSim::instance().configure(topology_);
        // The default 15 s: the opens and closes of other test programs, which take
        // "MUTEX_imDev_" in turn, end within it.  A test that waits for a reply that never
        // comes shortens it around that open only.
        imAppControl(1, 15.0);
    }
    void TearDown() override
    {
        // A node left open by a failed test is shut down, a bounded number of times.
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    void WriteIni(const char* text) { sandbox_->write("halcyra.ini", text); }
    void WriteFpga(const char* text) { sandbox_->write("module.res", text); }
    void Reconfigure() { boardsim::BoardSim::instance().configure(topology_); }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    // Opens (system, board).  An open that found "MUTEX_imDev_" held by another test
    // program for longer than the time-out is tried again: the open under test is the
    // one that got the mutex.
    static uint32_t Open(uint32_t system = 0, uint32_t board = 0, uint32_t mode = 3)
    {
        uint32_t id = 7;
        for (int attempt = 0; attempt < 20; ++attempt) {
            const uint32_t returned = imDevAlloc(system, board, mode, 0, &id);
            // Read before any application call, which makes the global state again.
            globalAfterOpen_ = imNodeSt;
            EXPECT_EQ(returned, id);
            if (id || LastText() != "Another node open did not end in time") break;
            imAppGetError(1, nullptr);
        }
        return id;
    }
    // An open that fails: no id, the error and its text, and nothing left open.
    static void ExpectOpenFails(int32_t code, const char* text, uint32_t board = 0, uint32_t mode = 3)
    {
        EXPECT_EQ(Open(0, board, mode), 0u);
        EXPECT_EQ(LastError(), code);
        if (text) {
            EXPECT_EQ(LastText(), text);
        }
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        EXPECT_EQ(globalAfterOpen_, nullptr);
        // Nor the process's mapped DMA regions, which a node never listed has no shut-down
        // to let go.
        EXPECT_TRUE(boardsim::BoardSim::instance().dmaBuffers().empty());
    }
    std::unique_ptr<libsandbox::Sandbox> sandbox_;
    boardsim::Topology topology_;
    // The global state as the last open left it.
    inline static _NODE_ST* globalAfterOpen_ = nullptr;
};

TEST_F(DeviceTest, OpenInquireEveryTypeControlAndFree)
{
    WriteIni(kOneBoard);
    const uint32_t id = Open();
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ((id >> 16) & 0xFF, kNode);
    EXPECT_EQ(LastError(), 0) << LastText();

    EXPECT_EQ(imDevInquire(id, 1, nullptr), 0u);       // the host serves the node
    EXPECT_EQ(imDevInquire(id, 2, nullptr), 50u);      // board timer, MHz
    EXPECT_EQ(imDevInquire(id, 3, nullptr), 1u);       // primary Orlo
    EXPECT_EQ(imDevInquire(id, 4, nullptr), 0u);       // no display Orlo
    EXPECT_EQ(imDevInquire(id, 5, nullptr), 0u);
    EXPECT_EQ(imDevInquire(id, 6, nullptr), 4u);       // 4 MB memory window
    EXPECT_EQ(imDevInquire(id, 7, nullptr), 0u);
    EXPECT_EQ(imDevInquire(id, 8, nullptr), 0u);
    EXPECT_EQ(imDevInquire(id, 9, nullptr), 0u);       // system, from the id
    EXPECT_EQ(imDevInquire(id, 10, nullptr), 0u);      // board, from the id
    EXPECT_EQ(imDevInquire(id, 11, nullptr), 64u);     // ring slots
    EXPECT_GT(imDevInquire(id, 12, nullptr), 0u);
    EXPECT_GT(imDevInquire(id, 13, nullptr), 0u);      // free SDRAM heap bytes
    EXPECT_EQ(imDevInquire(id, 14, nullptr), 0u);      // no display heaps
    EXPECT_EQ(imDevInquire(id, 15, nullptr), 3u);      // board model of the simulated record, no processor
    EXPECT_EQ(imDevInquire(id, 16, nullptr), 0u);      // no BIOS record without a display chip
    EXPECT_EQ(imDevInquire(id, 17, nullptr), 0u);
    uint32_t sent = 12345;
    EXPECT_EQ(imDevInquire(id, 18, &sent), 0u);        // sent with the value, answered 0
    EXPECT_EQ(sent, 0u);
    // The kernel service's DMA counters: blocks taken, and free bytes of its regions.
    const uint32_t blocks = imDevInquire(id, 20, nullptr);
    const uint32_t free = imDevInquire(id, 21, nullptr);
    EXPECT_GE(blocks, 1u);   // the descriptor heap's block
    EXPECT_LT(free, 0x400000u);
    const uint32_t buffer = imBufAlloc2d(id, 256, 64, 8, 3, nullptr);   // 16 KB of host DMA memory
    ASSERT_NE(buffer, 0u) << LastText();
    EXPECT_EQ(imDevInquire(id, 20, nullptr), blocks + 1);
    EXPECT_EQ(imDevInquire(id, 21, nullptr), free - 256 * 64);
    EXPECT_EQ(imBufFree(id, buffer), 0);
    EXPECT_EQ(imDevInquire(id, 20, nullptr), blocks);
    EXPECT_EQ(imDevInquire(id, 21, nullptr), free);
    uint32_t value = 0xDEAD;
    const uint32_t heap = imDevInquire(id, 13, &value);
    EXPECT_EQ(value, heap);
    EXPECT_EQ(imDevInquire(id, 99, nullptr), 0u);
    EXPECT_EQ(LastError(), 0) << LastText();

    EXPECT_EQ(imDevControl(id, 5, 1.0), 0);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_EQ(LastError(), 0) << LastText();
    EXPECT_TRUE(boardsim::BoardSim::instance().dmaBuffers().empty());
}

TEST_F(DeviceTest, OpenTwiceFreeTwice)
{
    WriteIni(kOneBoard);
    const uint32_t first = Open();
    ASSERT_NE(first, 0u) << LastText();
    const uint32_t second = Open();
    ASSERT_NE(second, 0u) << LastText();
    EXPECT_NE(second, first);
    EXPECT_EQ(imDevFree(first), 0);
    EXPECT_NE(imNodeSt, nullptr);
    EXPECT_EQ(imDevInquire(second, 3, nullptr), 1u);
    EXPECT_EQ(imDevFree(second), 0);
    EXPECT_EQ(imNodeSt, nullptr);
    EXPECT_EQ(LastError(), 0) << LastText();
    // A third free has no node.
    EXPECT_EQ(imDevFree(second), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(LastText(), "Invalid device ID");
}

TEST_F(DeviceTest, ErrorsOfTheOpen)
{
    // No ini file.
    ExpectOpenFails(-12, "HlcLib was unable to locate Ini file");
    imAppGetError(1, nullptr);
    // An ini file beyond its limit (1.5 GB, sparse) is refused unread, as one that cannot
    // be read; the next open goes on.
    WriteIni(kOneBoard);
    ASSERT_EQ(truncate(sandbox_->path("halcyra.ini").c_str(), 1536LL << 20), 0);
    ExpectOpenFails(-12, "HlcLib was unable to locate Ini file");
    imAppGetError(1, nullptr);
    WriteIni(kOneBoard);
    // Numbers outside 0-14 touch no board.
    EXPECT_EQ(imDevAlloc(15, 0, 3, 0, nullptr), 0u);
    EXPECT_EQ(LastText(), "Invalid System or Node ID");
    imAppGetError(1, nullptr);
    // A board the ini file does not list.
    EXPECT_EQ(Open(0, 1), 0u);
    EXPECT_EQ(LastError(), IM_ERR_RESTRICTED);
    EXPECT_EQ(LastText(), "Could not open communication with device");
    EXPECT_EQ(mp_sys_node_resource_ptr(0x12), nullptr);
    EXPECT_EQ(globalAfterOpen_, nullptr);
}

// ---- a failure at each step of the bring-up: nothing stays open -------------------------

TEST_F(DeviceTest, WithoutTheBoardDriverNothingOpens)
{
    WriteIni(kOneBoard);
    topology_.driverPresent = false;
    Reconfigure();
    ExpectOpenFails(IM_ERR_RESTRICTED, "Could not open communication with device");
}

TEST_F(DeviceTest, ABoardProcessorWithoutItsShellOpensNothing)
{
    WriteIni(kOneBoard);
    topology_.boards[0].processor = true;
    Reconfigure();
    // No shell file to download: the board cannot be brought up.
    ExpectOpenFails(IM_ERR_RESTRICTED, "Could not open communication with device");
}

TEST_F(DeviceTest, ABoardProcessorLeftOutAndNotServedByTheHostOpensNothing)
{
    WriteIni(kOneBoard);
    topology_.boards[0].processor = true;
    Reconfigure();
    // Init mode 0 leaves the processor out; the board's option says it serves its ring
    // itself, so nobody answers the first command within the time-out.
    imAppControl(1, 1.0);
    ExpectOpenFails(IM_ERR_TIMEOUT, "Error incomplete response", 0, 0);
    imAppControl(1, 15.0);
}

TEST_F(DeviceTest, ABoardProcessorIgnoredInHostModeOneGivesTheIdWithItsError)
{
    WriteIni(kOneBoard);
    topology_.boards[0].processor = true;
    Reconfigure();
    // Init mode 1 leaves the processor as it is: the board is open for register access.
    EXPECT_EQ(Open(0, 0, 1), kNode << 16);
    EXPECT_EQ(LastError(), IM_ERR_RESTRICTED);
    EXPECT_EQ(LastText(), "DSP is ignored");
}

TEST_F(DeviceTest, ARefusedInterruptWaitOpensNothing)
{
    WriteIni(kOneBoard);
    // The node's interrupt threads cannot keep a wait pending: its runtime is taken down
    // again and the first command finds no ring.
    boardsim::BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT);
    ExpectOpenFails(IM_ERR_INVALID_PARAMETER, "No LOCAL processor to establish communication with");
}

TEST_F(DeviceTest, AFailedFpgaLoadIsTheErrorOfAnOpenThatFails)
{
    WriteIni(kOneBoard);
    // The grab module's FPGA takes no configuration, and the node then does not answer:
    // the load code is the first error of the open.
    topology_.boards[0].fpgaBytes = 0;
    Reconfigure();
    boardsim::BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT);
    ExpectOpenFails(IM_ERR_RESTRICTED, "LDFPGA: FPGA on external port defective");
}

// A load code does not stop the open: the node opens, and the code is the open's error.
TEST_F(DeviceTest, AFailedFpgaLoadDoesNotStopAnOpenThatSucceeds)
{
    WriteIni(kOneBoard);
    topology_.boards[0].fpgaBytes = 0;
    Reconfigure();
    const uint32_t id = Open();
    ASSERT_NE(id, 0u) << LastText();
    libsandbox::ExpectError(IM_ERR_RESTRICTED, "LDFPGA: FPGA on external port defective", "imDevAlloc");
    EXPECT_EQ(imDevInquire(id, 3, nullptr), 1u);   // the node answers: its primary Orlo
    libsandbox::ExpectNoError();
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(imNodeSt, nullptr);
}

// Every failed open is undone completely: a later open of the same node, and of a board
// with its own processor, finds nothing left of it.
TEST_F(DeviceTest, FailuresAtEveryStepLeaveTheNextOpenAsTheFirst)
{
    WriteIni(kOneBoard);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        boardsim::BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT);
        ExpectOpenFails(IM_ERR_INVALID_PARAMETER, "No LOCAL processor to establish communication with");
        imAppGetError(1, nullptr);

        topology_.boards[0].processor = true;
        Reconfigure();
        imAppControl(1, 1.0);
        ExpectOpenFails(IM_ERR_TIMEOUT, "Error incomplete response", 0, 0);
        imAppControl(1, 15.0);
        imAppGetError(1, nullptr);
        ExpectOpenFails(IM_ERR_RESTRICTED, "Could not open communication with device");
        imAppGetError(1, nullptr);
        topology_.boards[0].processor = false;

        topology_.driverPresent = false;
        Reconfigure();
        ExpectOpenFails(IM_ERR_RESTRICTED, "Could not open communication with device");
        imAppGetError(1, nullptr);
        topology_.driverPresent = true;
        Reconfigure();

        const uint32_t id = Open();
        ASSERT_NE(id, 0u) << LastText();
        EXPECT_EQ(LastError(), 0) << LastText();
        EXPECT_EQ(imDevInquire(id, 3, nullptr), 1u);
        EXPECT_EQ(imDevFree(id), 0);
        EXPECT_EQ(imNodeSt, nullptr);
        EXPECT_TRUE(boardsim::BoardSim::instance().dmaBuffers().empty());
    }
}

TEST_F(DeviceTest, AMissingFpgaFileDoesNotStopTheOpen)
{
    WriteIni(kOneBoard);
    setenv("FPGANAME", "absent", 1);
    const uint32_t id = Open();
    unsetenv("FPGANAME");
    ASSERT_NE(id, 0u) << LastText();
    libsandbox::ExpectError(IM_ERR_RESTRICTED, libsandbox::kNoFpgaFile, "imDevAlloc");
    EXPECT_EQ(imDevFree(id), 0);
}

// What the error hook saw.
struct Seen {
    int calls = 0;
    int32_t code = 0;
    uint32_t user = 0;
    std::string function, message;
};
Seen g_seen;

int32_t Hook(int32_t, int32_t code, uint32_t user)
{
    ++g_seen.calls;
    g_seen.code = code;
    g_seen.user = user;
    char text[80] = {};
    imAppGetError(8, text);
    g_seen.function = text;
    imAppGetError(4, text);
    g_seen.message = text;
    return 0;
}

TEST_F(DeviceTest, TheErrorHookAndTheLastErrorRecord)
{
    g_seen = Seen{};
    imAppCatchError(0, Hook, 0x5EED);
    EXPECT_EQ(imDevFree(0x00770000u), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.code, IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(g_seen.user, 0x5EEDu);
    EXPECT_EQ(g_seen.function, "imDevFree");
    EXPECT_EQ(g_seen.message, "Invalid device ID");

    // Every mode: the code, the message, the function name, the joined text; an odd mode
    // clears the record afterwards.
    int32_t code = 0;
    EXPECT_EQ(imAppGetError(2, &code), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(code, IM_ERR_INVALID_DEVICE);
    char text[256] = {};
    EXPECT_EQ(imAppGetError(4, text), IM_ERR_INVALID_DEVICE);
    EXPECT_STREQ(text, "Invalid device ID");
    EXPECT_EQ(imAppGetError(8, text), IM_ERR_INVALID_DEVICE);
    EXPECT_STREQ(text, "imDevFree");
    EXPECT_EQ(imAppGetError(12, text), IM_ERR_INVALID_DEVICE);
    EXPECT_STREQ(text, "Error in imDevFree():\n<Invalid device ID>");
    EXPECT_EQ(imAppGetError(3, &code), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    // Mode 5 writes the message, returns the code and clears; mode 1 without an output
    // returns the code and clears.
    EXPECT_EQ(imDevFree(0x00770000u), IM_ERR_INVALID_DEVICE);
    std::memset(text, 0, sizeof text);
    EXPECT_EQ(imAppGetError(5, text), IM_ERR_INVALID_DEVICE);
    EXPECT_STREQ(text, "Invalid device ID");
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    EXPECT_EQ(imDevFree(0x00770000u), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(imAppGetError(1, nullptr), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    EXPECT_EQ(imAppGetError(4, text), 0);
    EXPECT_STREQ(text, "") << "both texts emptied";
    g_seen.calls = 1;
    code = 7;
    EXPECT_EQ(imAppGetError(2, &code), 0);
    EXPECT_EQ(code, 0);   // no error: a 32-bit 0

    // The first error wins until it is cleared; the hook is called for it only.
    EXPECT_EQ(imDevFree(0x00770000u), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(imDevAlloc(15, 0, 3, 0, nullptr), 0u);
    EXPECT_EQ(g_seen.calls, 2);
    EXPECT_EQ(imAppGetError(4, text), IM_ERR_INVALID_DEVICE);
}

TEST_F(DeviceTest, TheHookSurvivesOpensAndClosesAndTheTimeOutEndsWithTheLastClose)
{
    WriteIni(kOneBoard);
    imAppControl(1, -1);
    double seconds = 0;
    EXPECT_EQ(imAppInquire(1, &seconds), 31536000);
    EXPECT_EQ(seconds, 31536000.0);
    imAppControl(1, 2.5);
    EXPECT_EQ(imAppInquire(1, &seconds), 2) << "truncated";
    imAppControl(1, 0);
    EXPECT_EQ(imAppInquire(1, nullptr), 31536000);
    imAppControl(7, 3.0);   // other types do nothing
    EXPECT_EQ(imAppInquire(1, nullptr), 31536000);
    EXPECT_EQ(imAppInquire(7, &seconds), 0);
    g_seen = Seen{};
    imAppCatchError(0, Hook, 1);
    // Long enough that a loaded machine still closes the node within it.
    imAppControl(1, 20.0);
    const uint32_t id = Open();
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(imAppInquire(1, &seconds), 20);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(imAppInquire(1, &seconds), 15) << "a new time-out table";
    EXPECT_EQ(imDevFree(id), IM_ERR_INVALID_DEVICE);
    EXPECT_EQ(g_seen.calls, 1);
}

TEST_F(DeviceTest, SystemInquiryCountsTheIniNodes)
{
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n"
             "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n"
             "[Node]\nNodeId=0x21\nSlotNbr=3\nDeviceNbr=0x000f04\n");
    int32_t out = 0;
    EXPECT_EQ(imSysInquire(0, 1, &out), 2);   // nodes of system 0
    EXPECT_EQ(out, 2);
    EXPECT_EQ(imSysInquire(1, 1, nullptr), 1);
    EXPECT_EQ(imSysInquire(9, 4, nullptr), 2);   // systems, whatever system is given
}

} // namespace
