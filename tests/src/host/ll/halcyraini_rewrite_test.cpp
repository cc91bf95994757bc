// Matching the [Node] sections with the simulated boards, and rewriting them: probing,
// port rings, systems and board numbers, the written sections and port map, and that the
// file is never lost.
#include "initest.h"

#include <dirent.h>
#include <sys/stat.h>

#include <map>

using initest::IniTest;
using initest::ReadFile;

namespace {

// Port wiring between simulated boards: while a board drives its port lines (bits 22-23
// of its control word set), a board wired to it reads the grab line (bit 12) in bit 3 and
// the VM line (bit 13) in bit 2 of its own control word.
struct Wiring {
    std::set<std::pair<int, int>> grab, vm;
    void Both(int a, int b)
    {
        grab.insert({a, b});
        vm.insert({a, b});
    }
    bool Wired(const std::set<std::pair<int, int>>& s, int a, int b) const
    {
        return s.count({a, b}) != 0 || s.count({b, a}) != 0;
    }
};

void InstallWiring(const Wiring& wiring, int boards)
{
    auto& sim = boardsim::BoardSim::instance();
    sim.setReadFilter([wiring, boards](const boardsim::HwAccess& a) -> uint32_t {
        if (a.op != boardsim::HwOp::Read || a.offset != kOrloControl ||
            (a.area != boardsim::HwArea::PrimaryRegs && a.area != boardsim::HwArea::DisplayRegs))
            return a.value;
        uint32_t v = a.value & ~0xCu;
        for (int p = 0; p < boards; ++p) {
            if (p == a.board)
                continue;
            const uint32_t control = boardsim::BoardSim::instance().orlo(p, false).reg(kOrloControl);
            if ((control & 0xC00000u) != 0xC00000u)
                continue;
            if (wiring.Wired(wiring.grab, a.board, p))
                v = (v & ~0x8u) | (((control >> 12) & 1) << 3);
            if (wiring.Wired(wiring.vm, a.board, p))
                v = (v & ~0x4u) | (((control >> 13) & 1) << 2);
        }
        return v;
    });
}

std::map<const _PCI_FOUND_DEVICE*, uint32_t> g_products;
uint32_t g_productDefault = 1;
int g_sleeps = 0;
uint32_t g_displayMode = IM_SINGLE_SCREEN;
std::vector<uint32_t> g_processorBits;

uint32_t TestProductId(const _PCI_FOUND_DEVICE* device, uint32_t processor)
{
    g_processorBits.push_back(processor);
    auto it = g_products.find(device);
    return it != g_products.end() ? it->second : g_productDefault;
}
uint32_t TestDisplayMode(const _PCI_FOUND_DEVICE*) { return g_displayMode; }
void TestSleep(double seconds)
{
    EXPECT_DOUBLE_EQ(seconds, 0.01);
    ++g_sleeps;
}

class IniRewriteTest : public IniTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        g_products.clear();
        g_productDefault = 1;
        g_sleeps = 0;
        g_displayMode = IM_SINGLE_SCREEN;
        g_processorBits.clear();
        const HalcyraIniProbe probe{nullptr, nullptr, TestProductId, TestDisplayMode, TestSleep, nullptr};
        HalcyraIniSetProbe(&probe);
    }

    void Boards(int n, const boardsim::BoardSpec& spec = boardsim::BoardSpec{})
    {
        topology_.boards.assign(static_cast<size_t>(n), spec);
        boardsim::BoardSim::instance().configure(topology_);
        HalcyraIniForgetPciFoundDevices();
    }

    // The file's text from the first [Node] line on.
    std::string Sections()
    {
        const std::string text = ReadFile(path_);
        const size_t at = text.find("[Node]\n");
        return at == std::string::npos ? std::string() : text.substr(at);
    }

    static std::string NodeLine(uint32_t id)
    {
        char line[128];
        std::snprintf(line, sizeof line, "NodeId=0x%2x%37s# System=%d  Node=%d\n", id, "",
                      static_cast<int>(id >> 4) - 1, static_cast<int>(id & 15) - 1);
        return line;
    }

    static std::string Section(uint32_t id, int slot, uint32_t deviceNbr, const std::string& grab,
                               const std::string& vm, const std::string& product = "IM_DEV_HALCYRA",
                               int speed = 25)
    {
        char number[16];
        std::snprintf(number, sizeof number, "0x%06x", deviceNbr);
        return "[Node]\n" + NodeLine(id) + "ProductId=" + product + "\nSlotNbr=" + std::to_string(slot) +
               "\nDeviceNbr=" + number +
               "\nMvpPresent=NO\nDisplayMode=IM_NONE\nVmBusSpeed=" + std::to_string(speed) +
               "\nGrabModulePresent=YES\nExtModuleType=IM_EXTDEV_HALCYRA_GRAB\nFpgaName=hlcgrab1.res\n"
               "GrabPortConnection=" + grab + "\nVmPortConnection=" + vm +
               "\nVmExternalDeviceId=0\nScanHurlerConnection=0\n\n\n";
    }

    static std::string Row(const char* label, const std::string& cells)
    {
        char head[32];
        std::snprintf(head, sizeof head, "#%15s ", label);
        return head + cells + "\n";
    }
};

// ---- golden sections and maps --------------------------------------------------------------

TEST_F(IniRewriteTest, TwoWiredBoardsFormOneSystem)
{
    Boards(2);
    Wiring w;
    w.Both(0, 1);
    InstallWiring(w, 2);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);

    const std::string expected =
        Section(0x11, 1, 0x000d04, "0x000d04,0x000e04", "0x000d04,0x000e04") +
        Section(0x12, 2, 0x000e04, "0x000e04,0x000d04", "0x000e04,0x000d04") +
        Row("Slot", "1   2   ") + Row(" ", "") + Row("Bus", "0   0   ") + Row(" ", "") +
        Row("NodeId", "11  12  ") + Row(" ", "") + Row(" ", "|   |   ") + Row("Grab Port", "*---*   ") +
        Row(" ", "|   |   ") + Row("Scan Hurler", "|   |   ") + Row(" ", "|   |   ") +
        Row("Vm Port", "*---*   ") + Row(" ", "|   |   ") + Row(" ", "|   |   ") + Row(" ", "|   |   ") +
        "\n\n";
    EXPECT_EQ(Sections(), expected);
    EXPECT_EQ(g_sleeps, 4);   // two levels for the pair, one after each driving board
}

TEST_F(IniRewriteTest, UnwiredBoardIsASystemOfItsOwn)
{
    Boards(3);
    Wiring w;
    w.Both(0, 2);
    InstallWiring(w, 3);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);

    const std::string expected =
        Section(0x11, 1, 0x000d04, "0x000d04,0x000f04", "0x000d04,0x000f04") +
        Section(0x21, 2, 0x000e04, "0", "0") +
        Section(0x12, 3, 0x000f04, "0x000f04,0x000d04", "0x000f04,0x000d04") +
        Row("Slot", "1   2   3   ") + Row(" ", "") + Row("Bus", "0   0   0   ") + Row(" ", "") +
        Row("NodeId", "11  21  12  ") + Row(" ", "") + Row(" ", "|   |   |   ") +
        Row("Grab Port", "*-> | <-*   ") + Row(" ", "|   |   |   ") + Row("Scan Hurler", "|   |   |   ") +
        Row(" ", "|   |   |   ") + Row("Vm Port", "*-> | <-*   ") + Row(" ", "|   |   |   ") +
        Row(" ", "|   |   |   ") + Row(" ", "|   |   |   ") + "\n\n";
    EXPECT_EQ(Sections(), expected);
}

TEST_F(IniRewriteTest, GrabOnlyWiringKeepsSeparateSystems)
{
    Boards(2);
    Wiring w;
    w.grab.insert({0, 1});
    InstallWiring(w, 2);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    _HALCYRA_INI_ST* a = HalcyraIniSt->Next;
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->Next, nullptr);
    EXPECT_EQ(a->NodeId, 0x11u);
    EXPECT_EQ(a->Next->NodeId, 0x21u);
    EXPECT_EQ(a->GrabPortConnection, reinterpret_cast<uintptr_t>(a->Next));
    EXPECT_EQ(a->VmPortConnection, 0u);
}

TEST_F(IniRewriteTest, SixteenBoardsGiveFifteenRecords)
{
    Boards(16);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string text = ReadFile(path_);
    size_t count = 0;
    for (size_t at = text.find("[Node]\n"); at != std::string::npos; at = text.find("[Node]\n", at + 1))
        ++count;
    EXPECT_EQ(count, 15u);
    EXPECT_NE(text.find("DeviceNbr=0x001b04\n"), std::string::npos);   // the fifteenth board
    EXPECT_EQ(text.find("DeviceNbr=0x001c04\n"), std::string::npos);   // the sixteenth has none
    uint32_t expectedId = 0x11;
    int records = 0;
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next, expectedId += 0x10, ++records)
        EXPECT_EQ(r->NodeId, expectedId);
    EXPECT_EQ(records, 15);
    EXPECT_NE(text.find(NodeLine(0xF1)), std::string::npos);
    // Fifteen columns fill a map row up to 77 characters.
    size_t start = text.find("#           Slot ");
    ASSERT_NE(start, std::string::npos);
    const std::string row = text.substr(start, text.find('\n', start) - start);
    EXPECT_EQ(row, "#           Slot 1   2   3   4   5   6   7   8   9   10  11  12  13  14  15  ");
}

TEST_F(IniRewriteTest, VmRingOfEightAt33RunsAt25)
{
    Boards(8);
    Wiring w;
    for (int a = 0; a < 8; ++a)
        for (int b = a + 1; b < 8; ++b)
            w.Both(a, b);
    InstallWiring(w, 8);
    WriteIni("VmSpeedLimit=33\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string text = ReadFile(path_);
    size_t at = 0;
    int at25 = 0;
    while ((at = text.find("VmBusSpeed=25\n", at + 1)) != std::string::npos)
        ++at25;
    EXPECT_EQ(at25, 8);
    EXPECT_EQ(text.find("VmBusSpeed=33"), std::string::npos);
    uint32_t id = 0x11;
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next)
        EXPECT_EQ(r->NodeId, id++);
    EXPECT_NE(text.find("VmPortConnection=0x000d04,0x000e04,0x000f04,0x001004,0x001104,0x001204,0x001304,"
                        "0x001404\n"),
              std::string::npos);
    EXPECT_NE(text.find("#        Vm Port *---*---*---*---*---*---*---*   \n"), std::string::npos);
}

TEST_F(IniRewriteTest, VmRingOfSevenAt33KeepsItsSpeed)
{
    Boards(7);
    Wiring w;
    for (int a = 0; a < 7; ++a)
        for (int b = a + 1; b < 7; ++b)
            w.Both(a, b);
    InstallWiring(w, 7);
    WriteIni("VmSpeedLimit=33\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next)
        EXPECT_EQ(r->VmBusSpeed, 33u);
}

TEST_F(IniRewriteTest, ProcessorBoardsWithDisplayCountTwice)
{
    boardsim::BoardSpec spec;
    spec.processor = true;
    spec.displayOrlo = true;
    spec.displayChip = true;
    Boards(4, spec);
    Wiring w;
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            w.Both(a, b);
    InstallWiring(w, 4);
    WriteIni("VmSpeedLimit=33\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next) {
        EXPECT_EQ(r->MvpPresent, 1u);
        EXPECT_EQ(r->DisplayMode, IM_SINGLE_SCREEN);
        EXPECT_EQ(r->VmBusSpeed, 25u);   // 4 × 2 > 7
    }
    EXPECT_EQ(g_processorBits, (std::vector<uint32_t>{1, 1, 1, 1}));
}

TEST_F(IniRewriteTest, DisplayBoardBecomesBoardOne)
{
    topology_.boards.assign(2, boardsim::BoardSpec{});
    topology_.boards[1].displayOrlo = true;
    topology_.boards[1].displayChip = true;
    boardsim::BoardSim::instance().configure(topology_);
    HalcyraIniForgetPciFoundDevices();
    Wiring w;
    w.Both(0, 1);
    InstallWiring(w, 2);
    g_displayMode = IM_DUAL_HEAD;
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const _HALCYRA_INI_ST* a = HalcyraIniSt->Next;
    EXPECT_EQ(a->NodeId, 0x12u);
    EXPECT_EQ(a->DisplayMode, IM_NONE);
    EXPECT_EQ(a->Next->NodeId, 0x11u);
    EXPECT_EQ(a->Next->DisplayMode, IM_DUAL_HEAD);
    EXPECT_NE(Sections().find("DisplayMode=IM_DUAL_HEAD\n"), std::string::npos);
}

TEST_F(IniRewriteTest, DigitizerOnlySystemsComeAfterTheOthers)
{
    Boards(2);
    Wiring w;
    w.vm.insert({0, 1});   // one VM ring, two systems
    InstallWiring(w, 2);
    g_products[GetFirstPciFoundDevice()] = 5;
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const _HALCYRA_INI_ST* a = HalcyraIniSt->Next;
    EXPECT_EQ(a->ProductId, 5u);
    EXPECT_EQ(a->NodeId, 0x21u);
    EXPECT_EQ(a->Next->NodeId, 0x11u);
    const std::string text = Sections();
    EXPECT_NE(text.find(NodeLine(0x21) + "ProductId=IM_DEV_SORVIK_II_DIG\n"), std::string::npos);
}

TEST_F(IniRewriteTest, ModuleTypesChooseTheFpgaFile)
{
    topology_.boards.assign(4, boardsim::BoardSpec{});
    topology_.boards[0].moduleType = 2;
    topology_.boards[1].moduleType = 0x80;
    topology_.boards[2].moduleType = 0x40;
    topology_.boards[3].moduleType = 5;
    topology_.boards[3].processor = true;
    boardsim::BoardSim::instance().configure(topology_);
    HalcyraIniForgetPciFoundDevices();
    g_productDefault = 2;
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const _HALCYRA_INI_ST* r = HalcyraIniSt->Next;
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(r->FpgaName)), "svkiidig.res");
    EXPECT_EQ(r->ExtModuleType, 2u);
    EXPECT_EQ(r->GrabModulePresent, 1u);
    r = r->Next;
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(r->FpgaName)), "shurler.res");
    EXPECT_EQ(r->GrabModulePresent, 0u);
    EXPECT_EQ(r->ExtModuleType, 0x80u);
    r = r->Next;
    EXPECT_EQ(r->FpgaName, 0u);
    EXPECT_EQ(r->GrabModulePresent, 0u);
    EXPECT_EQ(r->ExtModuleType, 0u);
    r = r->Next;
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(r->FpgaName)), "dac_r2.res");
    EXPECT_EQ(r->MvpPresent, 1u);
    EXPECT_EQ(g_processorBits, (std::vector<uint32_t>{0, 0, 0, 1}));
    const std::string text = Sections();
    EXPECT_NE(text.find("ProductId=IM_DEV_HALCYRA_PRO\n"), std::string::npos);
    EXPECT_NE(text.find("ExtModuleType=IM_EXTDEV_SCAN_HURLER\nFpgaName=shurler.res\n"), std::string::npos);
    EXPECT_NE(text.find("GrabModulePresent=NO\nExtModuleType=IM_EXTDEV_NONE\nGrabPortConnection=0\n"),
              std::string::npos);
    EXPECT_NE(text.find("MvpPresent=YES\n"), std::string::npos);
}

// ---- probing -------------------------------------------------------------------------------

std::vector<std::pair<uint32_t, uint32_t>> g_opened;
std::vector<uint32_t> g_shutDown;
int RecordingOpen(uint32_t system, uint32_t board, const _PCI_FOUND_DEVICE*, uint32_t windows[2])
{
    g_opened.push_back({system, board});
    windows[0] = windows[1] = 0;
    return system != 1;   // the second node failed to open: nothing to shut down
}
void RecordingShutdown(uint32_t deviceId) { g_shutDown.push_back(deviceId); }

TEST_F(IniRewriteTest, ProbedNodesAreShutDownNewestFirstAndUnopenedOnesKeepNoModule)
{
    Boards(3);
    g_opened.clear();
    g_shutDown.clear();
    const HalcyraIniProbe probe{RecordingOpen, RecordingShutdown, TestProductId, TestDisplayMode, TestSleep, nullptr};
    HalcyraIniSetProbe(&probe);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    EXPECT_EQ(g_opened, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(g_shutDown, (std::vector<uint32_t>{0x310000, 0x110000}));
    EXPECT_EQ(g_sleeps, 0);
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next) {
        EXPECT_EQ(r->GrabModulePresent, 0u);
        EXPECT_EQ(r->FpgaName, 0u);
        EXPECT_EQ(r->MvpPresent, 0u);
        EXPECT_EQ(r->GrabPortConnection, 0u);
    }
    EXPECT_NE(Sections().find("ProductId=IM_DEV_HALCYRA_UNDEF\n"), std::string::npos);
}

TEST_F(IniRewriteTest, PortDriversAreOffAfterTheProbe)
{
    Boards(2);
    auto& sim = boardsim::BoardSim::instance();
    sim.orlo(0, false).setReg(kOrloControl, 0x10 | 0xC03000u);
    WriteIni("");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    EXPECT_EQ(sim.orlo(0, false).reg(kOrloControl) & 0xC00000u, 0u);
    EXPECT_EQ(sim.orlo(1, false).reg(kOrloControl) & 0xC00000u, 0u);
    EXPECT_EQ(sim.orlo(0, false).reg(kOrloControl) & 0x10u, 0x10u);   // other bits kept
}

// ---- the file ------------------------------------------------------------------------------

TEST_F(IniRewriteTest, FileWithoutNodeKeepsAllItsText)
{
    Boards(1);
    const std::string original = "# site settings\r\n[GlobalSetting]\r\nAutoRescanIni = YES   # rescan\r\n"
                                 "@echo. keep me [Node] inside a line\r\nCoffPath=/opt/shell";
    WriteIni(original);
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string text = ReadFile(path_);
    ASSERT_GE(text.size(), original.size());
    EXPECT_EQ(text.substr(0, original.size() + 1), original + "\n");
    EXPECT_EQ(text.substr(original.size() + 1, 7), "[Node]\n");
}

TEST_F(IniRewriteTest, FileWithNodeLosesEverythingFromTheFirstNodeOn)
{
    Boards(1);
    const std::string kept = "VmSpeedLimit=30\n# the [Node] sections follow\n";
    WriteIni(kept + "  [node]\nNodeId=0x55\nDeviceNbr=0x123456\n[Node]\nNodeId=0x66\n# old map\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string text = ReadFile(path_);
    EXPECT_EQ(text.substr(0, kept.size()), kept);
    EXPECT_EQ(text.substr(kept.size(), 7), "[Node]\n");
    EXPECT_EQ(text.find("0x55"), std::string::npos);
    EXPECT_EQ(text.find("old map"), std::string::npos);
    EXPECT_EQ(HalcyraIniSt->VmSpeedLimit, 30u);
}

TEST_F(IniRewriteTest, RewriteThenReadRoundTrip)
{
    Boards(3);
    Wiring w;
    w.Both(0, 1);
    InstallWiring(w, 3);
    WriteIni("AutoRescanIni=FORCE\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string first = ReadFile(path_);
    EXPECT_NE(first.find("AutoRescanIni=FORCE\n"), std::string::npos);   // the file keeps its value
    for (const _HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
        EXPECT_EQ(r->AutoRescanIni, 0u);   // memory says: no second rewrite

    // The data in memory is the rewritten file's.
    HalcyraIniFree(nullptr);
    _HALCYRA_INI_ST* g = HalcyraIniGetFile(0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->AutoRescanIni, 2u);
    std::vector<uint32_t> ids, devices;
    for (const _HALCYRA_INI_ST* r = g->Next; r != nullptr; r = r->Next) {
        ids.push_back(r->NodeId);
        devices.push_back(r->DeviceNbr);
    }
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x11, 0x12, 0x21}));
    EXPECT_EQ(devices, (std::vector<uint32_t>{0x000d04, 0x000e04, 0x000f04}));
    const _HALCYRA_INI_ST* a = g->Next;
    EXPECT_EQ(a->GrabPortConnection, reinterpret_cast<uintptr_t>(a->Next));
    EXPECT_EQ(a->Next->VmPortConnection, reinterpret_cast<uintptr_t>(a));
    EXPECT_EQ(a->GrabPartners[0], 0x12u);
    EXPECT_EQ(a->GrabPartners[1], 0x11u);
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(a->FpgaName)), "hlcgrab1.res");
    EXPECT_EQ(a->ProductId, 1u);
    EXPECT_EQ(a->Next->Next->GrabPortConnection, 0u);

    // The boards match the file now; a second rewrite writes the same text.
    _PCI_FOUND_DEVICE* device = nullptr;
    _HALCYRA_INI_ST* record = nullptr;
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x12, 1, &device, &record), 1);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(record, a->Next);
    EXPECT_EQ(device->slot, 2);
    EXPECT_EQ(MakeDeviceNbr(device), 0x000e04u);
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    EXPECT_EQ(ReadFile(path_), first);
}

TEST_F(IniRewriteTest, NoBoardLeavesTheFileAsItWas)
{
    topology_.boards.clear();
    boardsim::BoardSim::instance().configure(topology_);
    HalcyraIniForgetPciFoundDevices();
    const std::string original = "VmSpeedLimit=30\n[Node]\nNodeId=0x11\nDeviceNbr=0x000d04\n";
    WriteIni(original);
    EXPECT_EQ(HalcyraIniSetNode(), nullptr);
    EXPECT_EQ(ReadFile(path_), original);
    EXPECT_EQ(HalcyraIniSt, nullptr);
}

TEST_F(IniRewriteTest, NoFileNoRewrite)
{
    Boards(1);
    EXPECT_EQ(HalcyraIniSetNode(), nullptr);
    struct stat st;
    EXPECT_NE(stat(path_.c_str(), &st), 0);
}

TEST_F(IniRewriteTest, ReplacementKeepsModeAndLeavesNoTemporaryFile)
{
    Boards(1);
    WriteIni("VmSpeedLimit=30\n");
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    DIR* dir = opendir((root_ + "/etc").c_str());
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.')
            ++entries;
    closedir(dir);
    EXPECT_EQ(entries, 1);
}

TEST_F(IniRewriteTest, DisplayBoardInfoShowsTheMapOnTheConsole)
{
    Boards(2);
    Wiring w;
    w.Both(0, 1);
    InstallWiring(w, 2);
    WriteIni("ApplicationMessaging=2\nDisplayBoardInfo=1\n");
    ASSERT_NE(HalcyraIniSetNode(), nullptr);
    const std::string rule = "#" + std::string(78, '=') + "\n";
    const std::string out = ConsoleOutput();
    const size_t open = out.find(rule);
    ASSERT_NE(open, std::string::npos) << out;
    EXPECT_EQ(out.substr(open + rule.size(), Row("Slot", "1   2   ").size()), Row("Slot", "1   2   "));
    EXPECT_NE(out.find(Row("Grab Port", "*---*   ")), std::string::npos);
    EXPECT_NE(out.find(rule, open + 1), std::string::npos);
}

// ---- matching ------------------------------------------------------------------------------

class IniMatchTest : public IniRewriteTest {
protected:
    void SetUp() override
    {
        IniRewriteTest::SetUp();
        topology_.boards.assign(2, boardsim::BoardSpec{});
        topology_.boards[1].displayOrlo = true;
        topology_.boards[1].displayChip = true;
        boardsim::BoardSim::instance().configure(topology_);
        HalcyraIniForgetPciFoundDevices();
    }
    static std::string Node(uint32_t id, int slot, uint32_t device, const char* mode)
    {
        char text[256];
        std::snprintf(text, sizeof text, "[Node]\nNodeId=0x%x\nSlotNbr=%d\nDeviceNbr=0x%06x\nDisplayMode=%s\n", id,
                      slot, device, mode);
        return text;
    }
};

TEST_F(IniMatchTest, MatchingSectionsGiveRecordAndDevice)
{
    ASSERT_NE(Load(Node(0x11, 1, 0x000d04, "IM_NONE") + Node(0x21, 2, 0x000e04, "IM_SINGLE_SCREEN")), nullptr);
    _PCI_FOUND_DEVICE* device = nullptr;
    _HALCYRA_INI_ST* record = nullptr;
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x21, 1, &device, &record), 1);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->slot, 2);
    EXPECT_TRUE(IsDisplayPciFoundDevice(device));
    EXPECT_EQ(record, HalcyraIniSt->Next->Next);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x31, 1, &device, &record), 1);   // no such node: both null
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(record, nullptr);
}

TEST_F(IniMatchTest, DisplayModeMustMatchForDisplayDevices)
{
    ASSERT_NE(Load(Node(0x11, 1, 0x000d04, "IM_NONE") + Node(0x21, 2, 0x000e04, "IM_SINGLE_SCREEN")), nullptr);
    g_displayMode = IM_DUAL_SCREEN;
    _PCI_FOUND_DEVICE* device = reinterpret_cast<_PCI_FOUND_DEVICE*>(1);
    _HALCYRA_INI_ST* record = reinterpret_cast<_HALCYRA_INI_ST*>(1);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 1, &device, &record), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 0, &device, &record), 1);   // no check
    EXPECT_NE(record, nullptr);
}

TEST_F(IniMatchTest, CountSlotAndDeviceNumberMustMatch)
{
    ASSERT_NE(Load(Node(0x11, 1, 0x000d04, "IM_NONE")), nullptr);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 1, nullptr, nullptr), 0);   // one record, two boards
    HalcyraIniFree(nullptr);
    ASSERT_NE(Load(Node(0x11, 3, 0x000d04, "IM_NONE") + Node(0x21, 2, 0x000e04, "IM_SINGLE_SCREEN")), nullptr);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 1, nullptr, nullptr), 0);   // slot differs
    HalcyraIniFree(nullptr);
    ASSERT_NE(Load(Node(0x11, 1, 0x010d04, "IM_NONE") + Node(0x21, 2, 0x000e04, "IM_SINGLE_SCREEN")), nullptr);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 1, nullptr, nullptr), 0);   // bus differs
}

TEST_F(IniMatchTest, NothingToMatch)
{
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 0, nullptr, nullptr), 0);   // no ini data
    ASSERT_NE(Load("VmSpeedLimit=30\n"), nullptr);
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 0, nullptr, nullptr), 0);   // no node records
    HalcyraIniFree(nullptr);
    ASSERT_NE(Load(Node(0x11, 1, 0x000d04, "IM_NONE")), nullptr);
    topology_.boards.clear();
    boardsim::BoardSim::instance().configure(topology_);
    HalcyraIniForgetPciFoundDevices();
    EXPECT_EQ(HalcyraIniCheckIfNodesMatch(0x11, 0, nullptr, nullptr), 0);   // no PCI board
}

// ---- found devices and rings ---------------------------------------------------------------

TEST_F(IniRewriteTest, FoundDevicesAreWalkedInSlotOrder)
{
    topology_.boards.assign(3, boardsim::BoardSpec{});
    topology_.boards[0].slot = 9;
    topology_.boards[1].slot = 5;
    topology_.boards[2].slot = 2;
    boardsim::BoardSim::instance().configure(topology_);
    HalcyraIniForgetPciFoundDevices();
    std::vector<int> slots;
    for (_PCI_FOUND_DEVICE* d = GetFirstPciFoundDevice(); d != nullptr; d = NextPciFoundDevice(d))
        slots.push_back(d->slot);
    EXPECT_EQ(slots, (std::vector<int>{2, 5, 9}));
    EXPECT_EQ(pciScanDirection, 0);
    const _PCI_FOUND_DEVICE* d = GetThisPciFoundDevice(0x000e04);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->slot, 5);
    EXPECT_EQ(GetThisPciFoundDevice(0x123456), nullptr);
}

TEST_F(IniRewriteTest, InsertKeepsRingsInSequenceOrder)
{
    ASSERT_NE(Load("[Node]\nNodeId=1\n[Node]\nNodeId=2\n[Node]\nNodeId=3\n[Node]\nNodeId=4\n"), nullptr);
    std::vector<_HALCYRA_INI_ST*> r;
    uint32_t index = 0;
    for (_HALCYRA_INI_ST* p = HalcyraIniSt->Next; p != nullptr; p = p->Next) {
        p->SeqIndex = index++;
        r.push_back(p);
    }
    InsertInLinkList(2, 1, 0, r[0], r[3]);
    InsertInLinkList(2, 0, 0, r[0], r[1]);
    InsertInLinkList(2, 0, 0, r[0], r[2]);
    InsertInLinkList(2, 0, 0, r[1], r[2]);   // already in a ring: not again
    auto next = [](const _HALCYRA_INI_ST* p) {
        return reinterpret_cast<_HALCYRA_INI_ST*>(static_cast<uintptr_t>(p->GrabPortConnection));
    };
    EXPECT_EQ(next(r[0]), r[1]);
    EXPECT_EQ(next(r[1]), r[2]);
    EXPECT_EQ(next(r[2]), r[3]);
    EXPECT_EQ(next(r[3]), r[0]);
    EXPECT_EQ(r[0]->VmPortConnection, 0u);   // a count below 2 links nothing
    InsertInLinkList(0, 3, 0, r[2], r[3]);
    EXPECT_EQ(r[2]->VmPortConnection, reinterpret_cast<uintptr_t>(r[3]));
    EXPECT_EQ(r[3]->VmPortConnection, reinterpret_cast<uintptr_t>(r[2]));
}

TEST(IniHelpers, StristrAndDeviceNumbers)
{
    const char* text = "abc [NODE] def";
    EXPECT_EQ(stristr(text, "[node]"), text + 4);
    EXPECT_EQ(stristr(text, "[Nodes]"), nullptr);
    EXPECT_EQ(stristr(nullptr, "x"), nullptr);
    _PCI_FOUND_DEVICE d{};
    d.bus = 2;
    d.device = 0x0D;
    d.kind = 8;
    EXPECT_EQ(MakeDeviceNbr(&d), 0x020D08u);
    EXPECT_FALSE(IsDisplayPciFoundDevice(&d));
    d.chipDevice = 1;
    EXPECT_TRUE(IsDisplayPciFoundDevice(&d));
    d.kind = 4;
    d.secondKind = 8;
    EXPECT_TRUE(IsDisplayPciFoundDevice(&d));
    d.secondKind = 0;
    EXPECT_FALSE(IsDisplayPciFoundDevice(&d));
}

}  // namespace
