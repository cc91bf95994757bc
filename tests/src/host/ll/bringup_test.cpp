#include "bringup.h"
#include "consolepipe.h"
#include "disphooks.h"
#include "hwaccess.h"
#include "initest.h"
#include "inthooks.h"
#include "nodecore.h"
#include "shellload.h"
#include "shellfile.h"
#include "w32thread.h"

#include "../../common/ll/fakeconsole.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using boardsim::BoardSim;
using boardsim::CpuStartup;

namespace {

using shellfile::ShellFile;

void NoSpinSleep(double) {}

// The stand-in core's node list in the order the nodes were first listed.
uint32_t ListedNodes(uint32_t* nodes, uint32_t capacity)
{
    const nodecore::Core& c = *nodecore::Current();
    uint32_t count = 0;
    for (uint32_t word : c.inserted) {
        const uint32_t node = word & 0xFF;
        if (count < capacity && c.nodes.count(node) && std::find(nodes, nodes + count, node) == nodes + count)
            nodes[count++] = node;
    }
    return count;
}

class BringUpTest : public initest::IniTest {
protected:
    void SetUp() override
    {
        topology_.boards[0].processor = true;
        IniTest::SetUp();
        installed_ = std::make_unique<nodecore::Installed>(core_);
        display_.emplace();
        display_->table.nodeList = ListedNodes;
        ASSERT_EQ(display_->Install(), 0);
        im_set_spin_sleep(NoSpinSleep);
        shell_ = root_ + "/etc/shell.out";
        WriteShell(5);
        WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nMvpPresent=1\n");
        name_.assign(shell_.begin(), shell_.end());
        name_.push_back('\0');
    }
    void TearDown() override
    {
        BrdShutDown();
        BrdShutDown();   // nodes opened twice
        im_close_pipe();
        unsetenv("COFFLOADOPTION");
        display_.reset();
        HlcFreeDmaRegionTable();
        HlcCloseProcessShared();
        LdShellToLocalCpu(0, nullptr, 0, 0, 0, nullptr);
        installed_.reset();
        im_set_spin_sleep(nullptr);
        IniTest::TearDown();
    }
    void WriteShell(int32_t value)
    {
        FILE* f = std::fopen(shell_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::vector<uint8_t> bytes = ShellFile(value);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    void Machine(const boardsim::BoardSpec& spec)
    {
        topology_.boards = {spec};
        BoardSim::instance().configure(topology_);
    }
    int32_t Init(uint32_t mode, _NODE_MAIN_RESOURCE_ST* record = nullptr)
    {
        char* name = name_.data();
        return im_board_init(0, 0, &name, mode, record ? record : &record_);
    }
    bool Printed(const std::string& text) const { return core_.printed.find(text) != std::string::npos; }

    nodecore::Core core_;
    std::unique_ptr<nodecore::Installed> installed_;
    std::optional<HlcDisplayHookOverride> display_;
    _NODE_MAIN_RESOURCE_ST record_{};
    std::string shell_;
    std::vector<char> name_;
};

// ---------------------------------------------------------------- bring-up

TEST_F(BringUpTest, RestartDownloadsTheShellAndRunsTheHandshake)
{
    const int priority = GetThreadPriority(GetCurrentThread());
    core_.host.counters[0] = 7;
    core_.host.counters[kNodeCounterWords - 1] = 9;
    EXPECT_EQ(Init(2), 5);
    EXPECT_EQ(core_.host.counters[0], 0u);
    EXPECT_EQ(core_.host.counters[kNodeCounterWords - 1], 0u);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), priority);
    EXPECT_TRUE(BoardSim::instance().cpu(0).running());
    EXPECT_TRUE(Printed("'DSP just started with shell " + shell_ + ".\n")) << core_.printed;
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloMailbox), 0u);
    EXPECT_EQ(core_.doorbells, (std::vector<uint32_t>{0x11}));
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 0u);        // consumed and reset
    _NODE_MAIN_RESOURCE_ST* listed = nodecore::Resource(0x11);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->openCount, 1);
    EXPECT_EQ(listed->nodeState->started, 1u);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloMemControl) & kMemControlStart, kMemControlStart);
    // The shell is in local RAM, its reset vector at the top.
    uint8_t vector[8];
    ASSERT_TRUE(BoardSim::instance().orlo(0, false).readMemory(0x400000 - 8, vector, 8));
    EXPECT_EQ(vector[0], 129);
    EXPECT_NE(HalcyraGetHookList(0x11, 160), nullptr);
    EXPECT_EQ(BoardSim::instance().strayAccesses(), 0u);
}

TEST_F(BringUpTest, RunningShellThatMatchesIsJoined)
{
    ASSERT_EQ(Init(2), 5);
    const uint32_t starts = BoardSim::instance().cpu(0).starts();
    core_.printed.clear();
    _NODE_MAIN_RESOURCE_ST second{};
    EXPECT_EQ(Init(3, &second), 5);
    EXPECT_TRUE(Printed("'DSP already active with shell " + shell_ + ".\n")) << core_.printed;
    EXPECT_EQ(BoardSim::instance().cpu(0).starts(), starts);
    EXPECT_EQ(nodecore::Resource(0x11)->openCount, 2);
    // The first shut-down only counts the open down.
    EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
    EXPECT_NE(nodecore::Resource(0x11), nullptr);
    EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
    EXPECT_EQ(nodecore::Resource(0x11), nullptr);
}

TEST_F(BringUpTest, ShellValuesOfZeroOrBelowStillReportSuccessAboveZero)
{
    // Whatever the shell's header holds, a board that came up answers above 0, apart from
    // the failure codes -1, -3, -4 and -5.
    for (int32_t value : {0, -1, -3, -4, -5}) {
        WriteShell(value);
        record_ = _NODE_MAIN_RESOURCE_ST{};
        EXPECT_EQ(Init(2), 1) << value;
        EXPECT_TRUE(BoardSim::instance().cpu(0).running()) << value;
        _NODE_MAIN_RESOURCE_ST second{};
        EXPECT_EQ(Init(3, &second), 1) << value;   // joined
        EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
        EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
        EXPECT_EQ(nodecore::Resource(0x11), nullptr);
    }
    WriteShell(9);
    record_ = _NODE_MAIN_RESOURCE_ST{};
    EXPECT_EQ(Init(2), 9);
}

TEST_F(BringUpTest, HostModeOpensWithoutTheProcessor)
{
    boardsim::BoardSpec spec;
    Machine(spec);
    WriteIni("[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n");
    EXPECT_EQ(Init(0), -3);
    EXPECT_EQ(BoardSim::instance().cpu(0).starts(), 0u);
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 1u); // halted
    EXPECT_EQ(core_.inserted, (std::vector<uint32_t>{0x11}));
    EXPECT_EQ(nodecore::Resource(0x11)->openCount, 1);
    EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
    EXPECT_EQ(HalcyraGetIsrInfo(0x11), nullptr);
    EXPECT_EQ(HlcDmaRegionTable, nullptr);
    EXPECT_EQ(CoffFileName, nullptr);

    record_ = _NODE_MAIN_RESOURCE_ST{};
    EXPECT_EQ(Init(1), -4);
    // Mode 1 registers the node without handing the record to the driver.
    EXPECT_EQ(HalcyraGetHookList(0x11, 160), nullptr);
}

TEST_F(BringUpTest, MissingIniFile)
{
    std::remove(path_.c_str());
    EXPECT_EQ(Init(2), -5);
    EXPECT_EQ(record_.nodeNumber, -5);
}

TEST_F(BringUpTest, InvalidShellIsNotDownloaded)
{
    name_ = {'n', 'o', 's', 'h', 'e', 'l', 'l', '\0'};
    EXPECT_EQ(Init(2), -1);
    // A shell file that is not found leaves the loader's name "UNKNOWN".
    EXPECT_TRUE(Printed("COFF file UNKNOWN is invalid, no download performed.\n")) << core_.printed;
    EXPECT_TRUE(core_.inserted.empty());
}

// ---------------------------------------------------------------- failures

struct Stall {
    CpuStartup startup;
    const char* message;
};

TEST_F(BringUpTest, StalledProcessorFailsAndClosesTheNode)
{
    const Stall stalls[] = {
        {CpuStartup::NoReply, "'DSP stalled - unable to restart!\n"},
        {CpuStartup::BadStartup, "'DSP stalled - unable to restart because of bad Pimbra startup!\n"},
        {CpuStartup::NoInterrupt, "'DSP stalled - cannot receive interrupt properly!\n"},
    };
    for (const Stall& s : stalls) {
        boardsim::BoardSpec spec;
        spec.processor = true;
        spec.cpuStartup = s.startup;
        Machine(spec);
        core_.printed.clear();
        record_ = _NODE_MAIN_RESOURCE_ST{};
        EXPECT_EQ(Init(2), -1) << s.message;
        EXPECT_TRUE(Printed(s.message)) << core_.printed;
        EXPECT_EQ(record_.device, kInvalidDevice);
        EXPECT_EQ(nodecore::Resource(0x11), nullptr);
        EXPECT_FALSE(BoardSim::instance().cpu(0).running());
    }
}

TEST_F(BringUpTest, ShellThatNeverSignalsFailsTheRestartCheck)
{
    // The processor runs, but the start-up check sees no state change after the doorbell.
    core_.answerDoorbell = false;
    EXPECT_EQ(Init(2), -1);
    EXPECT_TRUE(Printed("'DSP stalled or defective interrupts!\n")) << core_.printed;
    EXPECT_EQ(nodecore::Resource(0x11), nullptr);   // listed by the check, shut down again
    EXPECT_EQ(HalcyraGetIsrInfo(0x11), nullptr);
}

TEST_F(BringUpTest, ActiveEmulatorBlocksTheRestart)
{
    boardsim::BoardSpec spec;
    spec.processor = true;
    spec.emulatorActive = true;
    Machine(spec);
    EXPECT_EQ(Init(2), -1);
    EXPECT_TRUE(Printed("'DSP JTAG Emulation is active.\n"));
    EXPECT_TRUE(Printed("Do an EMURESET now before proceeding with download.\n"));
    EXPECT_TRUE(Printed("'DSP cannot be restarted while emulator is active.\n"));
    EXPECT_EQ(BoardSim::instance().cpu(0).starts(), 0u);
}

// ---------------------------------------------------------------- prompting

// Texts of the console's text records, and the number of prompt records.
std::string ConsoleText(const std::vector<hlccon::Record>& records, int* prompts)
{
    std::string text;
    *prompts = 0;
    for (const hlccon::Record& r : records) {
        if (r.command == hlccon::kCommandPrompt)
            ++*prompts;
        else
            text += r.Text();
    }
    return text;
}

TEST_F(BringUpTest, OptionWPromptsTheStartMessagesOnTheConsole)
{
    testing_console::FakeConsole console;
    ASSERT_EQ(im_open_pipe(2), 0);
    ASSERT_TRUE(im_pipe_is_open());
    setenv("COFFLOADOPTION", "W+", 1);
    EXPECT_EQ(Init(2), 5);
    int prompts = 0;
    const std::string text = ConsoleText(console.Records(), &prompts);
    EXPECT_NE(text.find("'DSP not started yet - ready to go to main!\n"), std::string::npos) << text;
    EXPECT_NE(text.find("'DSP just started with shell " + shell_ + ".\n"), std::string::npos) << text;
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(console.Answered(), 2);
    // Prompted texts went to the console, not the plain route.
    EXPECT_FALSE(Printed("ready to go to main")) << core_.printed;
    im_close_pipe();
}

TEST_F(BringUpTest, OptionWPromptsTheStallMessage)
{
    boardsim::BoardSpec spec;
    spec.processor = true;
    spec.cpuStartup = CpuStartup::NoReply;
    Machine(spec);
    testing_console::FakeConsole console;
    ASSERT_EQ(im_open_pipe(2), 0);
    setenv("COFFLOADOPTION", "W+", 1);
    EXPECT_EQ(Init(2), -1);
    int prompts = 0;
    const std::string text = ConsoleText(console.Records(), &prompts);
    EXPECT_NE(text.find("'DSP stalled - unable to restart!\n"), std::string::npos) << text;
    EXPECT_EQ(prompts, 1);
    im_close_pipe();
}

TEST_F(BringUpTest, AJoinThatFailsPromptsAsTheDebugModeSetting)
{
    const char* const node = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nMvpPresent=1\n";
    for (int debugMode : {0, 1}) {
        WriteIni(std::string("[GlobalSetting]\nCommunicationDebugMode=") + std::to_string(debugMode) + "\n" + node);
        record_ = _NODE_MAIN_RESOURCE_ST{};
        ASSERT_EQ(Init(2), 5);
        testing_console::FakeConsole console;
        ASSERT_EQ(im_open_pipe(2), 0);
        core_.printed.clear();
        core_.refuseInsert = true;   // the join cannot list the node
        _NODE_MAIN_RESOURCE_ST second{};
        EXPECT_EQ(Init(3, &second), -1);
        core_.refuseInsert = false;
        int prompts = 0;
        const std::string text = ConsoleText(console.Records(), &prompts);
        const std::string stalled = "'DSP stalled or defective interrupts!\n";
        if (debugMode) {
            EXPECT_NE(text.find(stalled), std::string::npos) << text;
            EXPECT_EQ(prompts, 1);
        } else {
            EXPECT_TRUE(Printed(stalled)) << core_.printed;
            EXPECT_EQ(prompts, 0);
        }
        im_close_pipe();
        BrdShutDown();
        BrdShutDown();
    }
}

TEST_F(BringUpTest, WithoutOptionWNothingPromptsAndWithoutConsoleTextsStayPlain)
{
    {
        testing_console::FakeConsole console;
        ASSERT_EQ(im_open_pipe(2), 0);
        EXPECT_EQ(Init(2), 5);
        int prompts = 0;
        ConsoleText(console.Records(), &prompts);
        EXPECT_EQ(prompts, 0);
        EXPECT_FALSE(Printed("ready to go to main")) << core_.printed;
        BrdShutDown();
        im_close_pipe();
    }
    // Option W without a console: the texts take the plain route.
    setenv("COFFLOADOPTION", "W+", 1);
    core_.printed.clear();
    record_ = _NODE_MAIN_RESOURCE_ST{};
    EXPECT_EQ(Init(2), 5);
    EXPECT_TRUE(Printed("'DSP not started yet - ready to go to main!\n")) << core_.printed;
    EXPECT_TRUE(Printed("'DSP just started with shell " + shell_ + ".\n")) << core_.printed;
}

// ---------------------------------------------------------------- shut-down

TEST_F(BringUpTest, ShutDownOfAnUnknownNode)
{
    EXPECT_EQ(im_board_shutdown(0x33 << 16), 1);
}

TEST_F(BringUpTest, ExitHandlerClosesANodeOnce)
{
    ASSERT_EQ(Init(2), 5);
    BrdShutDown();
    EXPECT_TRUE(core_.nodes.empty());
    EXPECT_EQ(core_.removed, (std::vector<uint32_t>{0x11}));
    EXPECT_EQ(HalcyraGetIsrInfo(0x11), nullptr);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
}

TEST_F(BringUpTest, ExitHandlerLowersTheCountOfANodeOpenedTwice)
{
    ASSERT_EQ(Init(2), 5);
    _NODE_MAIN_RESOURCE_ST second{};
    ASSERT_EQ(Init(3, &second), 5);
    ASSERT_EQ(nodecore::Resource(0x11)->openCount, 2);
    // Each run of the handler closes one open of each listed node.
    BrdShutDown();
    ASSERT_NE(nodecore::Resource(0x11), nullptr);
    EXPECT_EQ(nodecore::Resource(0x11)->openCount, 1);
    EXPECT_TRUE(core_.removed.empty());
    BrdShutDown();
    EXPECT_EQ(nodecore::Resource(0x11), nullptr);
    EXPECT_EQ(core_.removed, (std::vector<uint32_t>{0x11}));
    EXPECT_EQ(HalcyraGetIsrInfo(0x11), nullptr);
}

TEST_F(BringUpTest, ExitHandlerWalksTheNodeListFromItsEnd)
{
    ASSERT_EQ(Init(2), 5);
    // Two further listed records stand behind the board's node, out of numeric order: a
    // node opened once, then a remote record (count -1).
    for (uint32_t node : {0x32u, 0x21u}) {
        _NODE_MAIN_RESOURCE_ST r{};
        r.nodeNumber = static_cast<int32_t>(node);
        ASSERT_EQ(nodecore::Insert(node | (node == 0x21 ? 0x80000000u : 0u), &core_.host, &r), 0);
    }
    nodecore::Resource(0x32)->openCount = 1;
    BrdShutDown();
    EXPECT_EQ(core_.removed, (std::vector<uint32_t>{0x21, 0x32, 0x11}));
    EXPECT_TRUE(core_.nodes.empty());
}

TEST(EmulatorCheck, ClearsBit24AndReadsBit4)
{
    BoardSim::instance().configure();
    DeviceHandle d = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
    _NODE_MAIN_RESOURCE_ST r{};
    ASSERT_TRUE(HlcDrvMap(d, nullptr, 0x11, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &r.primaryRegs));
    BoardSim::instance().orlo(0, false).setReg(kOrloControl, 0x01000010u);
    EXPECT_EQ(IsEmulatorActive(&r), 0);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloControl), 0x10u);
    BoardSim::instance().orlo(0, false).setReg(kOrloControl, 0);
    EXPECT_EQ(IsEmulatorActive(&r), 1);
    // Lock: busy while held, released by the reset.
    EXPECT_EQ(BrdLockCheck(&r), 0);   // the read takes the free lock
    EXPECT_EQ(BrdLockCheck(&r), 1);
    BrdLockReset(&r);
    EXPECT_EQ(BrdLockCheck(&r), 0);
    DeviceClose(d);
}

} // namespace
