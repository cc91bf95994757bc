// Board bring-up as the library assembles it: the library's own wiring and node list, the
// ini reader and its rewrite with the wiring's probe, the shell loader's kept name.
#include "bringup.h"
#include "consolepipe.h"
#include "im_msgio.h"
#include "initest.h"
#include "nodeinit.h"
#include "shellfile.h"
#include "shellload.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using initest::ReadFile;

namespace {

// The simulated machine holds one board in slot 1 with device number 0x000d04 and no
// processor: a node open in mode 3 answers -3 (the host serves it).
const char kFits[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";
// Hand-edited: a second section for a board that is no longer in the computer.
const char kStale[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n"
                      "[Node]\nNodeId=0x21\nSlotNbr=5\nDeviceNbr=0x050004\n";

class WiredBringUpTest : public initest::WiredBoardTest {
protected:
    void SetUp() override { StartWired(); }

    int32_t Open(char** shellName = nullptr)
    {
        _NODE_MAIN_RESOURCE_ST record{};
        return im_board_init(0, 0, shellName, 3, &record);
    }
    static std::string Settings(const char* rescan, const char* sections)
    {
        return std::string("[GlobalSetting]\nAutoRescanIni=") + rescan + "\n" + sections;
    }
    static bool Rewritten(const std::string& text)
    {
        return text.find("# System=0  Node=0") != std::string::npos;
    }
};

// ---------------------------------------------------------------- the shell's kept name

TEST_F(WiredBringUpTest, MissingShellNamedThroughTheKeptNameIsReportedAsUnknown)
{
    WriteIni(std::string("ApplicationMessaging=2\n") + kFits + "MvpPresent=1\n");
    const std::string shell = root_ + "/etc/shell.out";
    ASSERT_TRUE(shellfile::WriteShellFile(shell));
    std::vector<char> given(shell.begin(), shell.end());
    given.push_back('\0');
    char* name = given.data();
    ASSERT_EQ(Open(&name), -3);
    ASSERT_NE(CoffFileName, nullptr);
    EXPECT_EQ(name, CoffFileName);
    EXPECT_EQ(std::string(CoffFileName), shell);

    // The shell goes away; the next bring-up is handed the loader's own name.
    ASSERT_EQ(std::remove(shell.c_str()), 0);
    char* kept = CoffFileName;
    EXPECT_EQ(Open(&kept), -1);
    EXPECT_EQ(kept, CoffFileName);
    EXPECT_STREQ(kept, "UNKNOWN");
    EXPECT_NE(ConsoleOutput().find("COFF file UNKNOWN is invalid, no download performed.\n"), std::string::npos)
        << ConsoleOutput();
    // The failed open leaves the node that is up as it was.
    _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(0x11);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->openCount, 1);

    // The last shut-down frees the kept name.
    EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);
    EXPECT_EQ(CoffFileName, nullptr);
}

// ---------------------------------------------------------------- AutoRescanIni

TEST_F(WiredBringUpTest, AutoRescanIniDecidesWhetherBringUpRewritesTheSections)
{
    struct Case {
        const char* setting;
        const char* sections;
        bool rewritten;
    };
    const Case cases[] = {
        {"NO", kFits, false},   {"NO", kStale, false},   {"YES", kFits, false},
        {"YES", kStale, true},  {"FORCE", kFits, true},  {"FORCE", kStale, true},
        {"0", kStale, false},   {"1", kStale, true},     {"2", kFits, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + (c.sections == kFits ? " fitting" : " stale"));
        HalcyraIniForgetRescan();
        const std::string original = Settings(c.setting, c.sections);
        WriteIni(original);
        ASSERT_EQ(Open(), -3);
        ASSERT_NE(HalcyraIniSt, nullptr);
        const std::string now = ReadFile(path_);
        if (c.rewritten) {
            EXPECT_TRUE(Rewritten(now)) << now;
            // The global settings stay as written, the stale section is gone.
            const std::string head = std::string("[GlobalSetting]\nAutoRescanIni=") + c.setting + "\n";
            EXPECT_EQ(now.compare(0, head.size(), head), 0) << now;
            EXPECT_EQ(now.find("SlotNbr=5"), std::string::npos) << now;
            EXPECT_EQ(now.find("[Node]"), now.rfind("[Node]")) << now;
            // In memory the setting is off; the file keeps its own.
            for (const _HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
                EXPECT_EQ(r->AutoRescanIni, 0u);
        } else {
            EXPECT_EQ(now, original);
        }
        // The node came up on the board in slot 1.
        _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(0x11);
        ASSERT_NE(listed, nullptr);
        EXPECT_NE(listed->primaryRegs, 0u);
        // The last shut-down unloads the ini data: the next case reads its file afresh.
        EXPECT_EQ(im_board_shutdown(0x11 << 16), 0);
        EXPECT_EQ(HalcyraIniSt, nullptr);
    }
}

TEST_F(WiredBringUpTest, AProcessRewritesTheSectionsAtMostOnce)
{
    for (const char* setting : {"YES", "FORCE"}) {
        SCOPED_TRACE(setting);
        HalcyraIniForgetRescan();
        WriteIni(Settings(setting, kStale));
        ASSERT_EQ(Open(), -3);
        ASSERT_TRUE(Rewritten(ReadFile(path_)));
        ASSERT_EQ(im_board_shutdown(0x11 << 16), 0);

        // Edited by hand again: its setting would ask for a rewrite, but this process has
        // rewritten once and now trusts the file, on every later bring-up.
        const std::string edited = Settings(setting, kStale);
        for (int open = 0; open < 2; ++open) {
            WriteIni(edited);
            ASSERT_EQ(Open(), -3);
            EXPECT_EQ(ReadFile(path_), edited);
            ASSERT_EQ(im_board_shutdown(0x11 << 16), 0);
        }
    }
}

TEST_F(WiredBringUpTest, NoKeepsAFileThatLacksTheBoardAndTheOpenFails)
{
    const std::string original = Settings("NO", "[Node]\nNodeId=0x11\nSlotNbr=6\nDeviceNbr=0x060004\n");
    WriteIni(original);
    EXPECT_EQ(Open(), -1);
    EXPECT_EQ(ReadFile(path_), original);
    EXPECT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);
}

// ---------------------------------------------------------------- the reader's start-up

class WiredIniStartUpTest : public initest::IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        HlcWireLibrary();   // the wiring's own ini probe, which the ini fixture set aside
        ASSERT_EQ(imNodeSt, nullptr);
    }
    void TearDown() override
    {
        mp_exit_global();
        IniTest::TearDown();
    }
};

TEST_F(WiredIniStartUpTest, FirstReadStartsTheLibraryBeforeItReadsTheHostBridge)
{
    ASSERT_EQ(HostBridgeId, 0u);
    const int32_t errorBefore = im_Application.error.code;
    WriteIni("VmSpeedLimit=33\n");
    ASSERT_NE(HalcyraIniGetFile(0), nullptr);
    EXPECT_EQ(HalcyraIniSt->VmSpeedLimit, 33u);
    // The global node state stands, and with it the host bridge was found.
    ASSERT_NE(imNodeSt, nullptr);
    EXPECT_NE(HostBridgeId, 0u);
    EXPECT_NE(HostBridgeId, 0xFFFFFFFFu);
    // The start-up is no open of a node: it leaves no error behind for the caller.
    EXPECT_EQ(im_Application.error.code, errorBefore);

    // Read again after a free: the library runs, nothing is started a second time.
    _NODE_ST* state = imNodeSt;
    HalcyraIniFree(nullptr);
    ASSERT_NE(HalcyraIniGetFile(0), nullptr);
    EXPECT_EQ(imNodeSt, state);
}

} // namespace
