// Shared set-up of the ini tests: a temporary directory with the ini file (found through
// HLCINIPATH), an empty current directory, the simulated machine, an in-memory registry,
// a console that cannot be started (or a fake one that records), and a clean ini state.
#pragma once

#include "bringup.h"
#include "halcyraini.h"
#include "hlc_wiring.h"
#include "heap.h"
#include "hosthooks.h"
#include "nodelist.h"
#include "nodeopen.h"

#include "../../../fuzz/seeds.h"
#include "../../common/ll/fakeconsole.h"
#include "boardsim.h"
#include "consolepipe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace initest {

// Board hooks for bringing a host-served node up quickly: its shell answers the doorbell at
// once, communication waits are short and sleeps return at once.
inline void QuickHostServedShell(HlcBoardHooks& table)
{
    table.interruptSend = [](uint32_t node) {
        _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node & 0xFF);
        if (r && r->nodeState) r->nodeState->commState = 1;
        return 1;
    };
    table.timeout = [](int) { return 0.2; };
    table.sleep = [](double) {};
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class IniTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HalcyraIniFree(nullptr);
        HalcyraIniForgetPciFoundDevices();
        HalcyraIniForgetRescan();
        // The library's wiring, with the ini rewrite's probe on its own driver access.
        HlcWireLibrary();
        HalcyraIniSetProbe(nullptr);
        im_close_pipe();
        char dir[] = "/tmp/hlciniXXXXXX";
        root_ = mkdtemp(dir);
        ASSERT_EQ(mkdir((root_ + "/etc").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root_ + "/cwd").c_str(), 0755), 0);
        ASSERT_NE(getcwd(oldCwd_, sizeof oldCwd_), nullptr);
        ASSERT_EQ(chdir((root_ + "/cwd").c_str()), 0);
        path_ = root_ + "/etc/halcyra.ini";
        saved_ = {Save("HLCINIPATH"), Save("HALCYRA"), Save("COFFPATH"), Save("PATH")};
        setenv("HLCINIPATH", (root_ + "/etc").c_str(), 1);
        unsetenv("COFFPATH");
        setenv("PATH", (root_ + "/nowhere").c_str(), 1);
        registry_ = std::make_unique<qsrf::registry::ScopedProcessBackend>(
            std::make_shared<qsrf::registry::MemoryBackend>());
        console_ = std::make_unique<testing_console::FakeConsole>(listen_);
        boardsim::BoardSim::instance().configure(topology_);
    }

    void TearDown() override
    {
        HalcyraIniFree(nullptr);
        HalcyraIniForgetPciFoundDevices();
        HalcyraIniForgetRescan();
        HalcyraIniSetProbe(nullptr);
        im_close_pipe();
        boardsim::BoardSim::instance().configure();
        console_.reset();
        registry_.reset();
        for (const auto& [name, value] : saved_) {
            if (value.first)
                setenv(name.c_str(), value.second.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        ASSERT_EQ(chdir(oldCwd_), 0);
        testing_console::RemoveTree(root_);
    }

    void WriteIni(const std::string& text)
    {
        std::ofstream(path_, std::ios::binary) << text;
        SaveSeed(text);
    }

    // Every ini text a test writes (up to 64 KB) seeds the ini fuzz target, named after the
    // test: the file itself always has the same name.
    void SaveSeed(const std::string& text)
    {
        if (text.size() > 65536 || std::getenv("QSRF_FUZZ_SEEDS") == nullptr)
            return;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string copy = root_ + "/" + info->test_suite_name() + "." + info->name() + "." +
                                 std::to_string(++seeds_) + ".ini";
        std::ofstream(copy, std::ios::binary) << text;
        qsrf_fuzz::SaveFuzzSeed("ini", copy);
        std::remove(copy.c_str());
    }

    _HALCYRA_INI_ST* Load(const std::string& text)
    {
        WriteIni(text);
        return HalcyraIniGetFile(0);
    }

    std::vector<std::string> ConsoleTexts()
    {
        std::vector<std::string> texts;
        const auto records = console_->Records();
        for (size_t i = 1; i < records.size(); ++i)
            texts.push_back(records[i].Text());
        return texts;
    }
    std::string ConsoleOutput()
    {
        std::string out;
        for (const std::string& t : ConsoleTexts())
            out += t;
        return out;
    }

    static std::pair<std::string, std::pair<bool, std::string>> Save(const char* name)
    {
        const char* v = std::getenv(name);
        return {name, {v != nullptr, v != nullptr ? v : ""}};
    }

    std::string root_, path_;
    char oldCwd_[1024] = {};
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
    std::unique_ptr<qsrf::registry::ScopedProcessBackend> registry_;
    std::unique_ptr<testing_console::FakeConsole> console_;
    boardsim::Topology topology_;
    bool listen_ = true;
    int seeds_ = 0;
};

// An ini fixture that brings boards up through the library's own wiring and the core's
// node list, with a host-served shell that answers at once (QuickHostServedShell).
class WiredBoardTest : public IniTest {
protected:
    void StartWired()
    {
        IniTest::SetUp();
        imNodeSt = static_cast<_NODE_ST*>(safe_memalign(sizeof(_NODE_ST)));
        std::memset(static_cast<void*>(imNodeSt), 0, sizeof(_NODE_ST));
        HlcWireLibrary();
        board_.emplace();
        QuickHostServedShell(board_->table);
        ASSERT_EQ(board_->Install(), 0);
    }
    void TearDown() override
    {
        if (!board_) {
            IniTest::TearDown();
            return;
        }
        BrdShutDown();
        HlcFreeDmaRegionTable();
        HlcCloseProcessShared();
        board_.reset();
        safe_free(imNodeSt);
        imNodeSt = nullptr;
        IniTest::TearDown();
    }
    std::optional<HlcBoardHookOverride> board_;
};

}  // namespace initest
