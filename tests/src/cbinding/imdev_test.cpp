// Opening, inquiring, controlling and closing devices on the simulated board, and the
// errors of every road that does not end with a device.
#include "imdev.h"
#include "imsys.h"

#include "../host/ll/initest.h"
#include "../testwait.h"

#include "driverreq.h"
#include "grabfamily.h"
#include "hlc_errors.h"
#include "im_msgio.h"
#include "inthooks.h"
#include "intserver.h"
#include "nodeinit.h"
#include "nodelist.h"

#include <atomic>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr const char* kOneBoard = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class DeviceTest : public initest::IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        im_msg_reset_application();
        // The default 15 s: the opens and closes of other test programs, which take
        // "MUTEX_imDev_" in turn, end within it.  A test that waits for a reply that never
        // comes shortens it around that open only.
        imAppControl(1, 15.0);
    }
    void TearDown() override
    {
        // Each shut-down lowers the open count by one; a node that stays listed after as
        // many shut-downs as it can have opens fails the test instead of looping.
        for (int opens = 0; opens < 256 && mp_sys_node_resource_ptr(kNode); ++opens) im_board_shutdown(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr) << "the node stayed open";
        mp_exit_global();
        imAppControl(1, 15.0);
        im_msg_reset_application();
        IniTest::TearDown();
    }
    static int32_t LastError() { return im_Application.error.code; }
    static std::string LastText() { return im_Application.messageBuffer; }
    // No FPGA file is named for the board's grab module: an open of the node reports the
    // load code beside its id.  The record is read and cleared.
    static void ExpectNoFpgaFile()
    {
        EXPECT_EQ(LastError(), HLC_ERR_RESTRICTED);
        EXPECT_EQ(LastText(), "LDFPGA: File not found or invalid file");
        imAppGetError(1, nullptr);
    }
    // Nothing of the node is left: no listed record, no interrupt threads, no global state.
    static void ExpectNothingOpen()
    {
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        EXPECT_EQ(HalcyraGetIsrInfo(kNode), nullptr);
        EXPECT_EQ(mp_sys_opened_node(), 0);
        EXPECT_EQ(imNodeSt, nullptr);
    }
    // Opens (system, board) and expects the open to fail: no id and nothing left open.
    static void ExpectOpenFails(uint32_t system = 0, uint32_t board = 0, uint32_t mode = 3)
    {
        uint32_t id = 7;
        EXPECT_EQ(imDevAlloc(system, board, mode, 0, &id), 0u);
        EXPECT_EQ(id, 0u);
        ExpectNothingOpen();
    }
};

TEST_F(DeviceTest, OpenInquireControlAndFree)
{
    WriteIni(kOneBoard);
    uint32_t id = 0;
    const uint32_t returned = imDevAlloc(0, 0, 3, 0, &id);
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ(returned, id);
    EXPECT_EQ((id >> 16) & 0xFF, kNode);
    ExpectNoFpgaFile();

    // Answered by the node.
    EXPECT_EQ(imDevInquire(id, 1, nullptr), 0u);                  // the host serves the node
    EXPECT_EQ(imDevInquire(id, 2, nullptr), 50u);                 // board timer in MHz
    EXPECT_EQ(imDevInquire(id, 3, nullptr), 1u);                  // primary Orlo present
    EXPECT_EQ(imDevInquire(id, 4, nullptr), 0u);                  // no display Orlo
    EXPECT_EQ(imDevInquire(id, 9, nullptr), 0u);                  // system from the id
    EXPECT_EQ(imDevInquire(id, 10, nullptr), 0u);                 // board from the id
    uint32_t stored = 0xDEAD;
    const uint32_t memory = imDevInquire(id, 6, &stored);
    EXPECT_EQ(stored, memory);
    EXPECT_GT(imDevInquire(id, 13, nullptr), 0u);                 // free SDRAM heap bytes
    EXPECT_EQ(imDevInquire(id, 99, nullptr), 0u);
    // Answered on the caller's thread from the ring.
    EXPECT_EQ(imDevInquire(id, 11, nullptr), kHostRingSlots);
    EXPECT_EQ(imDevInquire(id, 16, nullptr), 0u);                 // no BIOS record without a display chip
    EXPECT_EQ(LastError(), 0) << LastText();

    EXPECT_EQ(imDevControl(id, 5, 1.0), 0);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
    ExpectNothingOpen();
}

TEST_F(DeviceTest, SecondOpenSendsPhaseOneOnlyAndTheLastFreeCloses)
{
    WriteIni(kOneBoard);
    uint32_t first = 0, second = 0;
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &first), 0u) << LastText();
    ExpectNoFpgaFile();
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(kNode);
    ASSERT_NE(record, nullptr);
    const SERVINFO_ST* primary = mp_servinfo(record, 0);
    EXPECT_EQ(primary->started, 1u);
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &second), 0u) << LastText();
    EXPECT_NE(second, first);
    EXPECT_EQ((second >> 16) & 0xFF, kNode);
    EXPECT_EQ(primary->started, 1u);
    ExpectNoFpgaFile();   // each open loads the FPGA

    EXPECT_EQ(imDevFree(first), 0);
    EXPECT_NE(mp_sys_node_resource_ptr(kNode), nullptr);   // still open once
    EXPECT_EQ(imDevInquire(second, 3, nullptr), 1u);
    EXPECT_EQ(imDevFree(second), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
    ExpectNothingOpen();
}

// Grab events as a family's end-of-grab handler sees them.
std::atomic<int> g_endsOfGrab{0};
std::atomic<uint32_t> g_grabsLeft{0};

TEST_F(DeviceTest, RaisedEndOfGrabReachesItsServerThroughTheInterruptPath)
{
    WriteIni(kOneBoard);
    uint32_t id = 0;
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u) << LastText();
    // A standard-family node whose end of grab counts the sequence down.
    const GrabFamilyOfFn rule = mpPrvSetGrabFamilyOf([](uint32_t) { return kGrabFamilyStd; });
    MpGrabFamilyHandlers family;
    family.endOfGrab = [](SERVINFO_ST* state, uint32_t channel) {
        mpPrvGrabServerBody(state, channel);
        g_grabsLeft = state->slot(channel, kSlotRemaining);
        ++g_endsOfGrab;
    };
    const MpGrabFamilyHandlers saved = mpPrvSetGrabFamily(kGrabFamilyStd, family);
    SERVINFO_ST* primary = mp_servinfo(mp_sys_node_resource_ptr(kNode), 0);
    primary->slot(0, kSlotRemaining) = 2;
    primary->slot(0, kSlotRequested) = 2;
    g_endsOfGrab = 0;
    // End of grab of the primary Orlo: source 45, through the driver's words, the process
    // thread's signal and the end-of-grab server.
    ASSERT_TRUE(boardsim::BoardSim::instance().raiseSource(0, 45));
    EXPECT_TRUE(testwait::WaitUntil([] { return g_endsOfGrab.load() == 1; }));
    EXPECT_EQ(g_grabsLeft.load(), 1u);
    ASSERT_TRUE(boardsim::BoardSim::instance().raiseSource(0, 45));
    EXPECT_TRUE(testwait::WaitUntil([] { return g_endsOfGrab.load() == 2; }));
    EXPECT_EQ(g_grabsLeft.load(), 0u);
    mpPrvSetGrabFamily(kGrabFamilyStd, saved);
    mpPrvSetGrabFamilyOf(rule);
    EXPECT_EQ(imDevFree(id), 0);
}

TEST_F(DeviceTest, BadSystemOrBoardNumbersTouchNoBoard)
{
    WriteIni(kOneBoard);
    // Made by the application call of SetUp.
    _NODE_ST* const global = imNodeSt;
    ASSERT_NE(global, nullptr);
    uint32_t id = 7;
    EXPECT_EQ(imDevAlloc(15, 0, 3, 0, &id), 0u);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(LastError(), -9);
    EXPECT_EQ(LastText(), "Invalid System or Node ID");
    im_msg_reset_application();
    EXPECT_EQ(imDevAlloc(0, 0xFFFFFFFFu, 3, 0, &id), 0u);
    EXPECT_EQ(LastText(), "Invalid System or Node ID");
    EXPECT_EQ(imNodeSt, global);
    EXPECT_EQ(mp_sys_opened_node(), 0);
}

TEST_F(DeviceTest, NodeTheIniFileDoesNotListIsNoNode)
{
    WriteIni(kOneBoard);
    ExpectOpenFails(0, 1);
    EXPECT_NE(LastError(), 0);
    EXPECT_FALSE(LastText().empty());
}

TEST_F(DeviceTest, WithoutIniFileTheOpenSaysSo)
{
    ExpectOpenFails();
    EXPECT_EQ(LastError(), -12);
    EXPECT_EQ(LastText(), "HlcLib was unable to locate Ini file");
}

TEST_F(DeviceTest, WithoutTheBoardDriverNothingOpens)
{
    WriteIni(kOneBoard);
    topology_.driverPresent = false;
    boardsim::BoardSim::instance().configure(topology_);
    ExpectOpenFails();
    EXPECT_EQ(LastError(), -9);
    EXPECT_EQ(LastText(), "Could not open communication with device");
}

TEST_F(DeviceTest, ANodeWhoseInterruptsCannotBeHookedOpensNothing)
{
    WriteIni(kOneBoard);
    // The driver refuses the interrupt wait: the node's runtime never comes up.
    boardsim::BoardSim::instance().failRequests(HLC_DRV_INTERRUPT_WAIT);
    ExpectOpenFails();
    EXPECT_NE(LastError(), 0);
}

TEST_F(DeviceTest, ABoardProcessorWithoutItsShellOpensNothing)
{
    WriteIni(kOneBoard);
    topology_.boards[0].processor = true;
    topology_.boards[0].fpgaConfigured = true;
    boardsim::BoardSim::instance().configure(topology_);
    imAppControl(1, 1.0);
    ExpectOpenFails(0, 0, 0);
    imAppControl(1, 15.0);
    EXPECT_NE(LastError(), 0);
}

TEST_F(DeviceTest, AMissingFpgaFileIsTheErrorOfAnOpenThatGoesOn)
{
    WriteIni(kOneBoard);
    setenv("FPGANAME", "absent", 1);
    uint32_t id = 0;
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u) << LastText();
    unsetenv("FPGANAME");
    // The grab module's FPGA is not loaded, but the node opened: the load code beside the id.
    ExpectNoFpgaFile();
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(DeviceTest, AnInstalledHookSurvivesOpensAndClosesAndTheTimeOutEndsWithTheLastClose)
{
    WriteIni(kOneBoard);
    static int calls = 0;
    calls = 0;
    imAppCatchError(0, [](int32_t, int32_t, uint32_t) -> int32_t { ++calls; return 0; }, 0);
    imAppControl(1, 2.0);
    uint32_t id = 0;
    ASSERT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u) << LastText();
    ExpectNoFpgaFile();
    double timeout = 0;
    EXPECT_EQ(imAppInquire(1, &timeout), 2);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(imAppInquire(1, &timeout), 15);
    EXPECT_EQ(timeout, 15.0);
    // The hook still reports: a second free of the closed device is an error.
    EXPECT_NE(imDevFree(id), 0);
    EXPECT_EQ(calls, 2);   // the open's load code, then the free
    EXPECT_EQ(LastText(), "Invalid device ID");
    imAppCatchError(0, nullptr, 0);
}

} // namespace
