// When node open rewrites the [Node] sections (AutoRescanIni NO, YES, FORCE against files
// that do and do not fit the boards), that a process rewrites at most once, and the
// library start-up that the reader runs before its first PCI access.
#include "initest.h"
#include "hosthooks.h"
#include "nodeopen.h"
#include "qvlservice.h"

#include <string>
#include <vector>

using initest::IniTest;
using initest::ReadFile;

namespace {

// The simulated machine holds one board in slot 1 with device number 0x000d04.
const char kFits[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
// Hand-edited: a second section for a board that is no longer in the computer.
const char kStale[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n"
                      "[Node]\nNodeId=0x21\nSlotNbr=5\nDeviceNbr=0x050004\n";

class IniRescanTest : public IniTest {
protected:
    std::string Text(const char* setting, const char* sections)
    {
        return std::string("[GlobalSetting]\nAutoRescanIni=") + setting + "\n" + sections;
    }
    // Node open's ini step for node 0x11, the ini data read afresh from the file.
    int OpenNode()
    {
        HalcyraIniFree(nullptr);
        _NODE_MAIN_RESOURCE_ST record{};
        device_ = nullptr;
        return InitNodePciInfo(&record, 0, 0, &device_);
    }
    static bool Rewritten(const std::string& text)
    {
        return text.find("# System=0  Node=0") != std::string::npos;
    }
    _PCI_FOUND_DEVICE* device_ = nullptr;
};

TEST_F(IniRescanTest, SettingDecidesWhetherNodeOpenRewritesTheSections)
{
    struct Case {
        const char* setting;
        const char* sections;
        bool rewritten;
    };
    const Case cases[] = {
        {"NO", kFits, false},   {"NO", kStale, false},   {"YES", kFits, false},
        {"YES", kStale, true},  {"FORCE", kFits, true},  {"FORCE", kStale, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + (c.sections == kFits ? " fitting" : " stale"));
        HalcyraIniForgetRescan();
        const std::string original = Text(c.setting, c.sections);
        WriteIni(original);
        ASSERT_EQ(OpenNode(), 1);
        ASSERT_NE(device_, nullptr);
        EXPECT_EQ(device_->slot, 1);
        EXPECT_EQ(MakeDeviceNbr(device_), 0x000d04u);
        const std::string now = ReadFile(path_);
        if (!c.rewritten) {
            EXPECT_EQ(now, original);
            continue;
        }
        EXPECT_TRUE(Rewritten(now)) << now;
        // The global settings stay, the stale section is gone, one section per board.
        const std::string head = std::string("[GlobalSetting]\nAutoRescanIni=") + c.setting + "\n";
        EXPECT_EQ(now.compare(0, head.size(), head), 0) << now;
        EXPECT_EQ(now.find("SlotNbr=5"), std::string::npos);
        EXPECT_EQ(now.find("[Node]"), now.rfind("[Node]"));
        // Memory says no further rewrite; the file keeps its setting.
        for (const _HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
            EXPECT_EQ(r->AutoRescanIni, 0u);
    }
}

TEST_F(IniRescanTest, NoTrustsTheFileEvenWithoutTheNode)
{
    const std::string original = Text("NO", "[Node]\nNodeId=0x11\nSlotNbr=6\nDeviceNbr=0x060004\n");
    WriteIni(original);
    EXPECT_EQ(OpenNode(), 0);
    EXPECT_EQ(device_, nullptr);
    EXPECT_EQ(ReadFile(path_), original);
}

TEST_F(IniRescanTest, ProcessRewritesAtMostOnce)
{
    for (const char* setting : {"YES", "FORCE"}) {
        SCOPED_TRACE(setting);
        HalcyraIniForgetRescan();
        WriteIni(Text(setting, kStale));
        ASSERT_EQ(OpenNode(), 1);
        ASSERT_TRUE(Rewritten(ReadFile(path_)));
        // Edited by hand again and read afresh: the file's setting would ask again, but this
        // process has rewritten once already and now trusts the file.
        const std::string edited = Text(setting, kStale);
        WriteIni(edited);
        ASSERT_EQ(OpenNode(), 1);
        EXPECT_EQ(device_->slot, 1);
        EXPECT_EQ(ReadFile(path_), edited);
    }
}

// ---- library start-up before the first PCI access -------------------------------------------

struct StartUpCall {
    uint32_t system, board, mode, option;
    uint32_t bridge;   // host bridge id when the start-up ran
};
std::vector<StartUpCall> g_startUps;

int RecordStartUp(uint32_t system, uint32_t board, uint32_t mode, uint32_t option, uint32_t* id)
{
    g_startUps.push_back({system, board, mode, option, HostBridgeId});
    *id = 0;
    return 0;
}

_NODE_ST g_nodeTable{};
_NODE_ST* NodeTable() { return &g_nodeTable; }

class IniStartUpTest : public IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        g_startUps.clear();
        HalcyraIniProbe probe{};
        probe.devAlloc = RecordStartUp;
        HalcyraIniSetProbe(&probe);
    }
};

TEST_F(IniStartUpTest, ReaderStartsTheLibraryWhenItHasNoNodeTable)
{
    HlcBoardHookOverride board;
    board.table.hostNodeState = HlcBuiltinBoardHooks().hostNodeState;
    ASSERT_EQ(board.Install(), 0);
    ASSERT_EQ(board.table.hostNodeState(), nullptr);
    ASSERT_NE(Load("VmSpeedLimit=33\n"), nullptr);
    ASSERT_EQ(g_startUps.size(), 1u);
    EXPECT_EQ(g_startUps[0].system, 14u);
    EXPECT_EQ(g_startUps[0].board, 14u);
    EXPECT_EQ(g_startUps[0].mode, 0u);
    EXPECT_EQ(g_startUps[0].option, 1u);
    EXPECT_EQ(g_startUps[0].bridge, 0u);   // before the host bridge was read
    EXPECT_NE(HostBridgeId, 0u);
    EXPECT_EQ(HalcyraIniSt->VmSpeedLimit, 33u);

    // Later reads know the host bridge and start nothing.
    ASSERT_EQ(HalcyraIniGetFile(0), HalcyraIniSt);
    EXPECT_EQ(g_startUps.size(), 1u);
}

TEST_F(IniStartUpTest, ReaderLeavesARunningLibraryAlone)
{
    ASSERT_TRUE(QvlSerManager.Valid());
    HlcBoardHookOverride board;
    board.table.hostNodeState = NodeTable;
    ASSERT_EQ(board.Install(), 0);
    ASSERT_NE(Load("VmSpeedLimit=33\n"), nullptr);
    EXPECT_TRUE(g_startUps.empty());
}

TEST_F(IniStartUpTest, WithoutDeviceOpenTheReaderGoesOn)
{
    HalcyraIniSetProbe(nullptr);
    ASSERT_NE(Load("VmSpeedLimit=33\n"), nullptr);
    EXPECT_TRUE(g_startUps.empty());
    EXPECT_EQ(HalcyraIniSt->VmSpeedLimit, 33u);
}

}  // namespace
