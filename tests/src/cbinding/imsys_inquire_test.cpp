// imSysInquire over ini topologies: nodes, digitizers, displays and systems counted from
// the [Node] sections, the node table, and the rewrite of the sections that AutoRescanIni
// asks for before counting.
#include "imsys.h"

#include "../host/ll/initest.h"

#include <cstdlib>
#include <string>

using initest::IniTest;
using initest::ReadFile;

namespace {

// System 0: three nodes, two with a grab module, two with a display; system 2: one node
// with a grab module and no display.
const char kTopology[] =
    "[GlobalSetting]\nAutoRescanIni=NO\n"
    "[Node]\nNodeId=0x11\nProductId=1\nDisplayMode=0\nGrabModulePresent=1\nExtModuleType=1\n"
    "[Node]\nNodeId=0x12\nProductId=4\nDisplayMode=536870912\nGrabModulePresent=0\nExtModuleType=0\n"
    "[Node]\nNodeId=0x13\nProductId=3\nDisplayMode=1\nGrabModulePresent=1\nExtModuleType=4\n"
    "[Node]\nNodeId=0x31\nProductId=2\nDisplayMode=536870912\nGrabModulePresent=1\nExtModuleType=2\n";

// The simulated machine holds one board in slot 1 with device number 0x000d04; these
// sections name a second board that is no longer there.
const char kStale[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n"
                      "[Node]\nNodeId=0x21\nSlotNbr=5\nDeviceNbr=0x050004\n";
const char kFits[] = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class SysInquireTest : public IniTest {
protected:
    int32_t Ask(int32_t system, int32_t type)
    {
        int32_t out = -77;
        const int32_t value = imSysInquire(system, type, &out);
        EXPECT_EQ(out, value) << "system " << system << " type " << type;
        return value;
    }
    // The ini data read afresh from the file, as by a new process.
    void Reload() { HalcyraIniFree(nullptr); }
};

TEST_F(SysInquireTest, CountsNodesDigitizersAndDisplaysOfASystem)
{
    WriteIni(kTopology);
    EXPECT_EQ(Ask(0, IM_SYS_NODES), 3);
    EXPECT_EQ(Ask(0, IM_SYS_DIGITIZERS), 2);
    // The node whose DisplayMode is IM_NONE has no display.
    EXPECT_EQ(Ask(0, IM_SYS_DISPLAYS), 2);
    EXPECT_EQ(Ask(2, IM_SYS_NODES), 1);
    EXPECT_EQ(Ask(2, IM_SYS_DIGITIZERS), 1);
    EXPECT_EQ(Ask(2, IM_SYS_DISPLAYS), 0);
    EXPECT_EQ(Ask(1, IM_SYS_NODES), 0);
    EXPECT_EQ(Ask(-1, IM_SYS_NODES), 0);
    EXPECT_EQ(imSysInquire(0, IM_SYS_NODES, nullptr), 3);
}

TEST_F(SysInquireTest, SystemsAreCountedWhateverSystemIsGiven)
{
    WriteIni(kTopology);
    for (int32_t system : {0, 1, 2, 7, -1})
        EXPECT_EQ(Ask(system, IM_SYS_SYSTEMS), 2) << system;
}

TEST_F(SysInquireTest, OtherTypesAndNoIniGiveZero)
{
    WriteIni(kTopology);
    for (int32_t type : {0, 6, -1, 100}) EXPECT_EQ(Ask(0, type), 0) << type;
    Reload();
    std::remove(path_.c_str());
    for (int32_t type = IM_SYS_NODES; type <= IM_SYS_NODE_TABLE; ++type) EXPECT_EQ(Ask(0, type), 0) << type;
}

TEST_F(SysInquireTest, NodeTableListsEveryNodeAndEndsWithZeros)
{
    WriteIni(kTopology);
    const int32_t address = Ask(5, IM_SYS_NODE_TABLE);
    ASSERT_NE(address, 0);
    auto* table = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
    const uint32_t expected[5][kSysNodeTableWords] = {
        {0, 0, 0x11, 1, 1, 1}, {0, 1, 0x12, 4, 0, 0}, {0, 2, 0x13, 3, 1, 4}, {2, 0, 0x31, 2, 1, 2}, {0, 0, 0, 0, 0, 0}};
    for (uint32_t line = 0; line < 5; ++line)
        for (uint32_t word = 0; word < kSysNodeTableWords; ++word)
            EXPECT_EQ(table[line * kSysNodeTableWords + word], expected[line][word]) << line << "," << word;
    // The table is the caller's.
    std::free(table);
}

TEST_F(SysInquireTest, RescanYesRewritesChangedSectionsBeforeCounting)
{
    const std::string stale = std::string("[GlobalSetting]\nAutoRescanIni=YES\n") + kStale;
    WriteIni(stale);
    // One board is found: one node of one system.
    EXPECT_EQ(Ask(0, IM_SYS_SYSTEMS), 1);
    EXPECT_EQ(Ask(0, IM_SYS_NODES), 1);
    EXPECT_EQ(Ask(1, IM_SYS_NODES), 0);
    const std::string now = ReadFile(path_);
    EXPECT_NE(now.find("# System=0  Node=0"), std::string::npos) << now;
    EXPECT_EQ(now.find("SlotNbr=5"), std::string::npos) << now;
}

TEST_F(SysInquireTest, RescanForceRewritesWheneverTheDataIsRead)
{
    const std::string stale = std::string("[GlobalSetting]\nAutoRescanIni=FORCE\n") + kStale;
    WriteIni(stale);
    EXPECT_EQ(Ask(0, IM_SYS_SYSTEMS), 1);
    ASSERT_NE(ReadFile(path_).find("# System=0  Node=0"), std::string::npos);
    // Edited by hand again and read afresh (as after the last node closed): rewritten again.
    WriteIni(stale);
    Reload();
    EXPECT_EQ(Ask(0, IM_SYS_SYSTEMS), 1);
    EXPECT_NE(ReadFile(path_).find("# System=0  Node=0"), std::string::npos);
}

TEST_F(SysInquireTest, SectionsThatFitOrRescanNoAreUsedAsTheyAre)
{
    const std::string fits = std::string("[GlobalSetting]\nAutoRescanIni=YES\n") + kFits;
    WriteIni(fits);
    EXPECT_EQ(Ask(0, IM_SYS_NODES), 1);
    EXPECT_EQ(ReadFile(path_), fits);

    Reload();
    const std::string stale = std::string("[GlobalSetting]\nAutoRescanIni=NO\n") + kStale;
    WriteIni(stale);
    EXPECT_EQ(Ask(0, IM_SYS_SYSTEMS), 2);
    EXPECT_EQ(ReadFile(path_), stale);
}

}  // namespace
