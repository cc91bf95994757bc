// Reading halcyra.ini: keyword table, defaults, values, conditionals, register fields,
// connection rings, the accessors and the "pci." lines.
#include "initest.h"

#include "hostutil.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using initest::IniTest;

namespace {

int RowIndex(const char* keyword)
{
    for (int i = 0; defaultKeyWords[i].KeyWord != nullptr; ++i)
        if (std::strcmp(defaultKeyWords[i].KeyWord, keyword) == 0)
            return i;
    return -1;
}

std::string TextOf(uint32_t word)
{
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(word));
}

bool PointsIntoText(const _HALCYRA_INI_ST* r, uint32_t word)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(r->Text);
    return word >= start && word <= start + r->TextSize;
}

// ---- keyword table -------------------------------------------------------------------------

TEST(IniKeywordTable, HasItsRowsInBindingOrder)
{
    int n = 0;
    while (defaultKeyWords[n].KeyWord != nullptr)
        ++n;
    EXPECT_EQ(n, 125);
    EXPECT_EQ(defaultKeyWords[125].KindOrOffset, 0u);
    EXPECT_EQ(defaultKeyWords[125].ValueOrType, 0u);
    EXPECT_EQ(RowIndex("[GlobalSetting]"), 0);
    EXPECT_EQ(RowIndex("SizeOfTmpBufferForHostGrab"), 11);
    EXPECT_EQ(RowIndex("[EnvSetting]"), 12);
    EXPECT_EQ(RowIndex("DiagDumpFile"), 24);
    EXPECT_EQ(RowIndex("[PrivateGlobalSetting]"), 25);
    EXPECT_EQ(RowIndex("hbusctrl.intseen"), 26);
    EXPECT_EQ(RowIndex("pcppbretry.retrycross"), 64);
    EXPECT_EQ(RowIndex("[Node]"), 65);
    EXPECT_EQ(RowIndex("ScanHurlerConnection"), 79);
    EXPECT_EQ(RowIndex("[Define]"), 80);
    EXPECT_EQ(RowIndex("IM_EXTDEV_SCAN_HURLER"), 107);
    EXPECT_EQ(RowIndex("[DeviceName]"), 108);
    EXPECT_EQ(RowIndex("pci."), 109);
    EXPECT_EQ(RowIndex("display."), 112);
    EXPECT_EQ(RowIndex("[FlowControl]"), 113);
    EXPECT_EQ(RowIndex("!if0"), 114);
    EXPECT_EQ(RowIndex("!ENDif"), 123);
    EXPECT_EQ(RowIndex("@echo."), 124);
    // Longer keywords before their own prefixes.
    EXPECT_LT(RowIndex("IM_DEV_HALCYRA_PRO"), RowIndex("IM_DEV_HALCYRA"));
    EXPECT_LT(RowIndex("IM_DEV_HALCYRA_UNDEF"), RowIndex("IM_DEV_HALCYRA"));
    EXPECT_LT(RowIndex("IM_EXTDEV_SORVIK_II_DIG_MJPEG"), RowIndex("IM_EXTDEV_SORVIK_II_DIG"));
}

TEST(IniKeywordTable, FieldRowsInOrderWithGroupsAndMasks)
{
    struct Field {
        const char* keyword;
        uint32_t group;
        uint32_t mask;
    };
    const Field expected[] = {
        {"hbusctrl.intseen", 0x1AC, 0x100}, {"hbusctrl.intpeen", 0x1AC, 0x80}, {"hbusctrl.pe2seen", 0x1AC, 0x40},
        {"hbusctrl.orlorcmd", 0x1AC, 0x0C}, {"hbusctrl.mvprcmd", 0x1AC, 0x03}, {"memctrl.refrate", 0x1C4, 0xFF},
        {"memctrl.reqprty", 0x1C4, 0x7000}, {"macctmng.disctmr", 0x1DC, 0x0F000000},
        {"macctmng.mrasmax", 0x1DC, 0x00FFF000}, {"macctmng.mmingnt", 0x1DC, 0xFFF},
        {"dclksel.dclksel", 0x1F4, 0x3FF}, {"dhdelay.dhdelay", 0x20C, 0xFF}, {"hwftrsh.hwfrtrsh", 0x14C, 0xFFFF0000},
        {"hrftrsh.hrfwtrsh", 0x164, 0xFFFF}, {"vrftrsh.vrfwtrsh", 0x17C, 0xFFFF},
        {"vrftrsh.vrfrtrsh", 0x17C, 0xFFFF0000}, {"hrftrsh.hrfrtrsh", 0x164, 0xFFFF0000},
        {"mrftrsh.mrfwtrsh", 0x194, 0xFFFF}, {"mrftrsh.mrfrtrsh", 0x194, 0xFFFF0000},
        {"pcstatuscmd.serren", 0xEC, 0x100}, {"pcstatuscmd.perrsp", 0xEC, 0x40}, {"pcstatuscmd.bsmstr", 0xEC, 0x04},
        {"pcstatuscmd.memspc", 0xEC, 0x02}, {"pcstatuscmd.dpardctd", 0xEC, 0x01000000},
        {"pcstatuscmd.rtrgtab", 0xEC, 0x10000000}, {"pcstatuscmd.rmstrab", 0xEC, 0x20000000},
        {"pcstatuscmd.ssyserr", 0xEC, 0x40000000}, {"pcstatuscmd.dctdperr", 0xEC, 0x80000000},
        {"pchdttmr.pcchlnsz", 0x104, 0xFF}, {"pchdttmr.pclattmr", 0x104, 0xFF00},
        {"pcppbctrl.pwipostm", 0x11C, 0x300}, {"pcppbctrl.pwpostm", 0x11C, 0xC00},
        {"pcppbctrl.prmprefm", 0x11C, 0x3000}, {"pcppbctrl.prprefm", 0x11C, 0xC000},
        {"pcppbctrl.swipostm", 0x11C, 0x30000}, {"pcppbctrl.swpostm", 0x11C, 0xC0000},
        {"pcppbctrl.srmprefm", 0x11C, 0x300000}, {"pcppbctrl.srprefm", 0x11C, 0xC00000},
        {"pcppbretry.retrycross", 0x134, 0x40000},
    };
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        const _REG_TABLE_ST& row = defaultKeyWords[26 + i];
        EXPECT_STREQ(row.KeyWord, expected[i].keyword);
        EXPECT_EQ(row.KindOrOffset, expected[i].group) << row.KeyWord;
        EXPECT_EQ(row.ValueOrType, expected[i].mask) << row.KeyWord;
    }
}

TEST(IniKeywordTable, KindsAndCodes)
{
    EXPECT_EQ(defaultKeyWords[RowIndex("[Node]")].ValueOrType, 0xBFFFFFF7u);
    EXPECT_EQ(defaultKeyWords[RowIndex("[Define]")].ValueOrType, 0xBFFFFFF6u);
    EXPECT_EQ(defaultKeyWords[RowIndex("[FlowControl]")].ValueOrType, 0xBFFFFFF6u);
    EXPECT_EQ(defaultKeyWords[RowIndex("[PrivateGlobalSetting]")].ValueOrType, 0xBFFFFFFBu);
    EXPECT_EQ(defaultKeyWords[RowIndex("primary.")].ValueOrType, 0xBFFFFFF3u);
    EXPECT_EQ(defaultKeyWords[RowIndex("!if430TX")].ValueOrType, 0x00008086u);
    EXPECT_EQ(defaultKeyWords[RowIndex("!if440LX")].KindOrOffset, 0xBFFFFFF1u);
    EXPECT_EQ(defaultKeyWords[RowIndex("IM_NONE")].ValueOrType, 0x20000000u);
    EXPECT_EQ(defaultKeyWords[RowIndex("_IM_NO_PIPE")].ValueOrType, 0xFFFFFFFFu);
    EXPECT_EQ(defaultKeyWords[RowIndex("VmPortConnection")].ValueOrType, 0xBFFFFFEBu);
    EXPECT_EQ(defaultKeyWords[RowIndex("FpgaName")].ValueOrType, 0xBFFFFFECu);
    EXPECT_EQ(defaultKeyWords[RowIndex("DiagDumpFile")].KindOrOffset, 0xE8u);
}

// ---- defaults ------------------------------------------------------------------------------

TEST_F(IniTest, EmptyFileGivesTheDefaults)
{
    _HALCYRA_INI_ST* g = Load("");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g, HalcyraIniSt);
    EXPECT_EQ(g->Next, nullptr);
    char* real = realpath(path_.c_str(), nullptr);
    EXPECT_STREQ(g->FilePath, real);
    std::free(real);
    const std::pair<const char*, uint32_t> defaults[] = {
        {"IgnoreEnvVar", 0}, {"ApplicationMessaging", 0xFFFFFFFF}, {"AutoRescanIni", 0},
        {"MaxVmDevicesAt33", 7}, {"VmSpeedLimit", 25}, {"DisplayBoardInfo", 0}, {"CommunicationDebugMode", 0},
        {"LargestDmaBlock", 0x4000000}, {"DisableDefaultMappingOfVirtualBuffer", 0},
        {"ReservedHostSpaceForLcBuffers", 0x10000}, {"SizeOfTmpBufferForHostGrab", 16384}, {"CoffPath", 0},
        {"FpgaPath", 0}, {"NodeId", 0}, {"DeviceNbr", 0}, {"GrabPortConnection", 0},
    };
    for (const auto& [keyword, value] : defaults)
        EXPECT_EQ(HalcyraIniReadTag(0, keyword, nullptr), value) << keyword;
    EXPECT_EQ(HalcyraIniGetFile(0), g);   // read once
}

TEST_F(IniTest, CommentsBlanksAndLineEnds)
{
    _HALCYRA_INI_ST* g = Load("# a comment line\r\n"
                              "Vm Speed Limit = 30   # trailing comment\r\n"
                              "   MaxVmDevicesAt33\t=\t9\r\n"
                              "#VmSpeedLimit=99\n"
                              "DisplayBoardInfo=1");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 30u);
    EXPECT_EQ(g->MaxVmDevicesAt33, 9u);
    EXPECT_EQ(g->DisplayBoardInfo, 1u);   // last line without a line end
}

TEST_F(IniTest, LongLinesAreReadWhole)
{
    const std::string comment = "# " + std::string(9000, 'x') + "VmSpeedLimit=99\n";
    const std::string path = "CoffPath=/" + std::string(9000, 'p') + "\n";
    _HALCYRA_INI_ST* g = Load(comment + path + "VmSpeedLimit=30\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 30u);
    EXPECT_EQ(TextOf(g->CoffPath), "/" + std::string(9000, 'p'));
}

TEST_F(IniTest, KeywordsMatchRegardlessOfCase)
{
    _HALCYRA_INI_ST* g = Load("VMSPEEDLIMIT=31\nlargestdmablock=0x1000\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 31u);
    EXPECT_EQ(HalcyraIniReadTag(0, "largestDMAblock", nullptr), 0x1000u);
}

TEST_F(IniTest, KeywordFollowedByLettersIsUnknown)
{
    _HALCYRA_INI_ST* g = Load("VmSpeedLimitX=31\nFoo=3\nVmSpeedLimit:32\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 25u);
}

// ---- values --------------------------------------------------------------------------------

TEST_F(IniTest, SymbolValuesTakeTheLongestName)
{
    _HALCYRA_INI_ST* g = Load("[Node]\nNodeId=0x11\nProductId=IM_DEV_HALCYRA_PRO\n"
                              "ExtModuleType=IM_EXTDEV_SORVIK_II_DIG_MJPEG\nDisplayMode=IM_NONE\n"
                              "[Node]\nNodeId=0x21\nProductId=IM_DEV_HALCYRA\nMvpPresent=YES\n");
    ASSERT_NE(g, nullptr);
    ASSERT_NE(g->Next, nullptr);
    EXPECT_EQ(g->Next->ProductId, 2u);
    EXPECT_EQ(g->Next->ExtModuleType, 0x22u);
    EXPECT_EQ(g->Next->DisplayMode, 0x20000000u);
    ASSERT_NE(g->Next->Next, nullptr);
    EXPECT_EQ(g->Next->Next->ProductId, 1u);
    EXPECT_EQ(g->Next->Next->MvpPresent, 1u);
}

TEST_F(IniTest, NegativeNumberAndNoPipeSymbolAreBothMinusOne)
{
    _HALCYRA_INI_ST* g = Load("ApplicationMessaging=-1\nAutoRescanIni=_IM_NO_PIPE\nDisplayBoardInfo=-0x2\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->ApplicationMessaging, 0xFFFFFFFFu);
    EXPECT_EQ(g->AutoRescanIni, 0xFFFFFFFFu);
    EXPECT_EQ(g->DisplayBoardInfo, 0xFFFFFFFEu);
}

TEST_F(IniTest, NumbersWithBaseDetectionAndTextsForPaths)
{
    _HALCYRA_INI_ST* g = Load("MaxVmDevicesAt33=12abc\nVmSpeedLimit=0x21\nDisplayBoardInfo=010\n"
                              "CommunicationDebugMode=08\nLargestDmaBlock=99999999999\nIgnoreEnvVar=VmSpeedLimit\n"
                              "DcfPath=\nCoffName=my cam.dcf\nCoffLoadOption=12\nVcfName=12.vcf\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->MaxVmDevicesAt33, 7u);            // refused: the default stays
    EXPECT_EQ(g->VmSpeedLimit, 33u);
    EXPECT_EQ(g->DisplayBoardInfo, 8u);            // octal
    EXPECT_EQ(g->CommunicationDebugMode, 0u);      // "08" is no octal number
    EXPECT_EQ(g->LargestDmaBlock, 0x4000000u);     // does not fit a word
    EXPECT_EQ(g->IgnoreEnvVar, 0u);                // another keyword gives 0
    EXPECT_EQ(TextOf(g->DcfPath), "");
    EXPECT_EQ(TextOf(g->CoffName), "mycam.dcf");   // blanks are removed
    EXPECT_EQ(g->CoffLoadOption, 12u);
    EXPECT_TRUE(PointsIntoText(g, g->VcfName));
    EXPECT_EQ(TextOf(g->VcfName), "12.vcf");
}

TEST_F(IniTest, NumberSettingRefusesTextAndKeepsItsValueWithAMessage)
{
    _HALCYRA_INI_ST* g = Load("VmSpeedLimit=abc\nLargestDmaBlock=4294967296\n"
                              "[Node]\nNodeId=0x11\nSlotNbr=7\nSlotNbr=7x\nDisplayMode=\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 25u);
    EXPECT_EQ(g->LargestDmaBlock, 0x4000000u);
    ASSERT_NE(g->Next, nullptr);
    EXPECT_EQ(g->Next->SlotNbr, 7u);   // the earlier value stays
    EXPECT_EQ(g->Next->DisplayMode, 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "VmSpeedLimit", nullptr), 25u);
    const std::string out = ConsoleOutput();
    const std::string file = "\nHlcLib Ini file '" + path_ + "': ";
    EXPECT_NE(out.find(file + "VmSpeedLimit=abc is not a number, VmSpeedLimit keeps 25\n"), std::string::npos) << out;
    EXPECT_NE(out.find(file + "LargestDmaBlock=4294967296 is not a number, LargestDmaBlock keeps 67108864\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(file + "SlotNbr=7x is not a number, SlotNbr keeps 7\n"), std::string::npos) << out;
    EXPECT_NE(out.find(file + "DisplayMode= is not a number, DisplayMode keeps 0\n"), std::string::npos) << out;
}

TEST_F(IniTest, FieldRefusesTextAndKeepsItsBits)
{
    _HALCYRA_INI_ST* g = Load("display.memctrl.refrate=0x12\ndisplay.memctrl.refrate=fast\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(HalcyraIniReadTag(0, "display.memctrl.refrate", nullptr), 0x12u);
    EXPECT_NE(ConsoleOutput().find("memctrl.refrate=fast is not a number, memctrl.refrate keeps 18\n"),
              std::string::npos);
}

TEST_F(IniTest, FpgaPathTakesCoffPathWhenUnset)
{
    _HALCYRA_INI_ST* g = Load("CoffPath=/opt/shell\n[Node]\nNodeId=0x11\n[Node]\nNodeId=0x21\nFpgaPath=/opt/fpga\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(TextOf(g->FpgaPath), "/opt/shell");
    EXPECT_EQ(TextOf(g->Next->FpgaPath), "/opt/shell");
    EXPECT_EQ(TextOf(g->Next->Next->FpgaPath), "/opt/fpga");
    EXPECT_EQ(TextOf(g->Next->Next->CoffPath), "/opt/shell");
}

TEST_F(IniTest, GlobalSettingAfterFirstNodeChangesThatNodeOnly)
{
    _HALCYRA_INI_ST* g = Load("VmSpeedLimit=30\n[Node]\nNodeId=0x11\n[GlobalSetting]\nVmSpeedLimit=33\n"
                              "[Node]\nNodeId=0x21\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->VmSpeedLimit, 30u);
    EXPECT_EQ(g->Next->VmSpeedLimit, 33u);
    EXPECT_EQ(g->Next->Next->VmSpeedLimit, 30u);   // a copy of the global record
    EXPECT_EQ(HalcyraIniReadTag(0x11, "VmSpeedLimit", nullptr), 33u);
    EXPECT_EQ(HalcyraIniReadTag(0x21, "VmSpeedLimit", nullptr), 30u);
}

TEST_F(IniTest, NodeRecordsKeepSavedCopies)
{
    _HALCYRA_INI_ST* g = Load("SizeOfTmpBufferForHostGrab=4096\n[Node]\nNodeId=0x11\nDisplayMode=IM_DUAL_HEAD\n"
                              "VmBusSpeed=33\nGrabModulePresent=YES\n");
    ASSERT_NE(g, nullptr);
    const _HALCYRA_INI_ST* n = g->Next;
    EXPECT_EQ(n->SavedDisplayMode, 2u);
    EXPECT_EQ(n->SavedVmBusSpeed, 33u);
    EXPECT_EQ(n->SavedGrabModulePresent, 1u);
    EXPECT_EQ(n->SavedSizeOfTmpBufferForHostGrab, 4096u);
    EXPECT_EQ(n->FilePath, g->FilePath);
    EXPECT_EQ(n->Text, g->Text);
}

TEST_F(IniTest, ForThisNodePicksRecordOrGlobal)
{
    EXPECT_EQ(HalcyraIniForThisNode(0), nullptr);
    _HALCYRA_INI_ST* g = Load("[Node]\nNodeId=0x11\n[Node]\nNodeId=0x21\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(HalcyraIniForThisNode(0), g);
    EXPECT_EQ(HalcyraIniForThisNode(0x21), g->Next->Next);
    EXPECT_EQ(HalcyraIniForThisNode(0x55), g);
}

// ---- register fields -----------------------------------------------------------------------

TEST_F(IniTest, DisplayPrefixSetsOnlyTheDisplayPairWithoutPrefixBoth)
{
    _HALCYRA_INI_ST* g = Load("display.dclksel.dclksel=5\n");
    ASSERT_NE(g, nullptr);
    const _HALCYRA_INI_GROUP& d = g->Groups[11];
    EXPECT_EQ(d.DisplayValue, 5u);
    EXPECT_EQ(d.DisplaySet, 0x3FFu);
    EXPECT_EQ(d.PrimaryValue, 0u);
    EXPECT_EQ(d.PrimarySet, 0u);
    EXPECT_EQ(d.PpbSet, 0u);
    HalcyraIniFree(nullptr);

    g = Load("dclksel.dclksel=7\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Groups[11].PrimaryValue, 7u);
    EXPECT_EQ(g->Groups[11].DisplayValue, 7u);
    EXPECT_EQ(g->Groups[11].PrimarySet, 0x3FFu);
    EXPECT_EQ(g->Groups[11].DisplaySet, 0x3FFu);
    EXPECT_EQ(g->Groups[11].PpbValue, 0u);
    EXPECT_EQ(g->Groups[11].PpbSet, 0u);
}

TEST_F(IniTest, FieldsShareTheirGroupWord)
{
    _HALCYRA_INI_ST* g = Load("primary.hbusctrl.orlorcmd=2\nprimary.hbusctrl.mvprcmd=1\nppb.hbusctrl.intseen=YES\n"
                              "primary.macctmng.mrasmax=0xABC\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Groups[8].PrimaryValue, 0x9u);
    EXPECT_EQ(g->Groups[8].PrimarySet, 0x0Fu);
    EXPECT_EQ(g->Groups[8].PpbValue, 0x100u);
    EXPECT_EQ(g->Groups[10].PrimaryValue, 0xABC000u);
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.hbusctrl.orlorcmd", nullptr), 2u);
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.macctmng.mrasmax", nullptr), 0xABCu);
    EXPECT_EQ(HalcyraIniReadTag(0, "hbusctrl.intseen", nullptr), 0x100u);   // the ppb value word
}

TEST_F(IniTest, ReadTagWithOutWordReplacesOnlyFieldsTheFileSet)
{
    ASSERT_NE(Load("primary.hbusctrl.orlorcmd=2\n"), nullptr);
    uint32_t word = 0xFFFFFFF3u;
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.hbusctrl.orlorcmd", &word), 1u);
    EXPECT_EQ(word, 0xFFFFFFFBu);   // bits 2-3 now 10b
    word = 0x12345678u;
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.hbusctrl.mvprcmd", &word), 1u);
    EXPECT_EQ(word, 0x12345678u);   // not set by the file
    EXPECT_EQ(HalcyraIniReadTag(0, "display.hbusctrl.orlorcmd", &word), 1u);
    EXPECT_EQ(word, 0x12345678u);
}

TEST_F(IniTest, FieldValueIsShiftedButNotCutToItsField)
{
    ASSERT_NE(Load("primary.hbusctrl.mvprcmd=7\nprimary.dclksel.dclksel=/not/a/number\n"
                   "display.hbusctrl.orlorcmd=5\n"), nullptr);
    EXPECT_EQ(HalcyraIniSt->Groups[8].PrimaryValue, 0x7u);
    EXPECT_EQ(HalcyraIniSt->Groups[8].PrimarySet, 0x3u);
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.hbusctrl.mvprcmd", nullptr), 3u);
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.hbusctrl.orlorcmd", nullptr), 1u);   // the bit above
    EXPECT_EQ(HalcyraIniSt->Groups[8].DisplayValue, 0x14u);                    // 5 << 2
    EXPECT_EQ(HalcyraIniReadTag(0, "display.hbusctrl.intseen", nullptr), 0u);
    uint32_t word = 0;
    HalcyraIniReadTag(0, "primary.dclksel.dclksel", &word);
    EXPECT_EQ(word, 0u);   // a text is no field value
    EXPECT_EQ(HalcyraIniSt->Groups[11].PrimarySet, 0u);
}

TEST_F(IniTest, PrefixHoldsUntilTheNextStoredValue)
{
    ASSERT_NE(Load("display.\n# comment\nunknown words\ndclksel.dclksel=9\ndhdelay.dhdelay=3\n"), nullptr);
    EXPECT_EQ(HalcyraIniReadTag(0, "display.dclksel.dclksel", nullptr), 9u);
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.dclksel.dclksel", nullptr), 0u);
    EXPECT_EQ(HalcyraIniSt->Groups[11].PrimarySet, 0u);
    // Used by the first value: the next field goes to both pairs again.
    EXPECT_EQ(HalcyraIniReadTag(0, "primary.dhdelay.dhdelay", nullptr), 3u);
    EXPECT_EQ(HalcyraIniReadTag(0, "display.dhdelay.dhdelay", nullptr), 3u);
    HalcyraIniFree(nullptr);

    // A setting uses it up as well.
    ASSERT_NE(Load("ppb.\nVmSpeedLimit=30\ndclksel.dclksel=2\n"), nullptr);
    EXPECT_EQ(HalcyraIniSt->VmSpeedLimit, 30u);
    EXPECT_EQ(HalcyraIniSt->Groups[11].PpbSet, 0u);
    EXPECT_EQ(HalcyraIniSt->Groups[11].PrimaryValue, 2u);
    EXPECT_EQ(HalcyraIniSt->Groups[11].DisplayValue, 2u);
}

TEST_F(IniTest, WriteTagSetsWordsAndFields)
{
    ASSERT_NE(Load("[Node]\nNodeId=0x11\n"), nullptr);
    EXPECT_EQ(HalcyraIniWriteTag(0, "display.dclksel.dclksel", 1023), 1u);
    EXPECT_EQ(HalcyraIniReadTag(0, "display.dclksel.dclksel", nullptr), 1023u);
    EXPECT_EQ(HalcyraIniSt->Groups[11].DisplaySet, 0u);   // the set-mask is not changed
    uint32_t word = 0;
    HalcyraIniReadTag(0, "display.dclksel.dclksel", &word);
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(HalcyraIniWriteTag(0, "primary.hbusctrl.orlorcmd", 0xFF), 1u);   // clipped to the field
    EXPECT_EQ(HalcyraIniSt->Groups[8].PrimaryValue, 0x0Cu);
    EXPECT_EQ(HalcyraIniWriteTag(0, "pci.hbusctrl.mvprcmd", 1), 1u);   // other prefixes: the ppb word
    EXPECT_EQ(HalcyraIniSt->Groups[8].PpbValue, 0x1u);
    EXPECT_EQ(HalcyraIniWriteTag(0x11, "VmBusSpeed", 33), 1u);
    EXPECT_EQ(HalcyraIniSt->Next->VmBusSpeed, 33u);
    EXPECT_EQ(HalcyraIniSt->VmBusSpeed, 0u);
    EXPECT_EQ(HalcyraIniWriteTag(0, "NoSuchKey", 1), 0u);
    EXPECT_EQ(HalcyraIniWriteTag(0, nullptr, 1), 0u);
}

TEST_F(IniTest, AccessorsRefuseWhatIsNoSetting)
{
    EXPECT_EQ(HalcyraIniReadTag(0, "VmSpeedLimit", nullptr), 0u);   // nothing loaded
    EXPECT_EQ(HalcyraIniWriteTag(0, "VmSpeedLimit", 3), 0u);
    ASSERT_NE(Load("VmSpeedLimit=30\n"), nullptr);
    uint32_t word = 77;
    EXPECT_EQ(HalcyraIniReadTag(0, nullptr, &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "NoSuchKey", &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "[Node]", &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "IM_NONE", &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "!if1", &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "pci.dclksel.dclksel", &word), 0u);
    EXPECT_EQ(HalcyraIniReadTag(0, "display.VmSpeedLimit", &word), 0u);
    EXPECT_EQ(word, 77u);
    EXPECT_EQ(HalcyraIniReadTag(0, "VmSpeedLimit", &word), 1u);
    EXPECT_EQ(word, 30u);
}

// ---- conditionals --------------------------------------------------------------------------

class IniIntelHostTest : public IniTest {
protected:
    void SetUp() override
    {
        topology_.host.vendor = 0x8086;
        topology_.host.device = 0x7180;
        IniTest::SetUp();
    }
};

TEST_F(IniIntelHostTest, BlockForThisHostBridgeIsReadOthersSkipped)
{
    _HALCYRA_INI_ST* g = Load("!if440LX\nVmSpeedLimit=33\n!if430FX\nMaxVmDevicesAt33=3\n!ENDif\n"
                              "!if0\nDisplayBoardInfo=1\n!if1\nLargestDmaBlock=0x1000\n!if430TX\nIgnoreEnvVar=1\n"
                              "!ENDif\nAutoRescanIni=2\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(HostBridgeId, 0x71808086u);
    EXPECT_EQ(g->VmSpeedLimit, 33u);
    EXPECT_EQ(g->MaxVmDevicesAt33, 7u);
    EXPECT_EQ(g->DisplayBoardInfo, 0u);
    EXPECT_EQ(g->LargestDmaBlock, 0x1000u);
    EXPECT_EQ(g->IgnoreEnvVar, 0u);   // 430TX compares with 0x00008086
    EXPECT_EQ(g->AutoRescanIni, 2u);
}

TEST_F(IniTest, OtherHostSkipsIntelBlocksAndSkippedNodesAreNotMade)
{
    _HALCYRA_INI_ST* g = Load("!if440LX\n[Node]\nNodeId=0x11\ndisplay.\n!ENDif\ndclksel.dclksel=4\n[Node]\nNodeId=0x21\n");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(HostBridgeId, 0x06001AE0u);   // the simulated host bridge
    ASSERT_NE(g->Next, nullptr);
    EXPECT_EQ(g->Next->NodeId, 0x21u);
    EXPECT_EQ(g->Next->Next, nullptr);
    EXPECT_EQ(g->Groups[11].PrimaryValue, 4u);   // the skipped prefix does not linger
    EXPECT_EQ(g->Groups[11].DisplayValue, 4u);
}

// ---- echo ----------------------------------------------------------------------------------

TEST_F(IniTest, EchoPrintsRestOfLineOnTheConsole)
{
    ASSERT_NE(Load("ApplicationMessaging=2\n@echo. Hello  World # not shown\n@echo.x\n"), nullptr);
    const std::vector<std::string> texts = ConsoleTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Hello  World\n");
    EXPECT_EQ(texts[1], "x\n");
    EXPECT_EQ(console_->Records()[0].command, 2);   // opened with the file's console setting
}

TEST_F(IniTest, QuietReadPrintsNoEcho)
{
    WriteIni("ApplicationMessaging=2\n@echo. Hello\n");
    ASSERT_NE(HalcyraIniGetFile(1), nullptr);
    for (const std::string& t : ConsoleTexts())
        EXPECT_EQ(t.find("Hello"), std::string::npos);
}

TEST_F(IniTest, EchoWithoutConsoleSettingStaysSilent)
{
    ASSERT_NE(Load("@echo. Hello\n"), nullptr);
    EXPECT_EQ(console_->Connections(), 0);
}

// ---- connection rings ----------------------------------------------------------------------

const char kTwoBoards[] = "[Node]\nNodeId=0x11\nDeviceNbr=0x000d04\nGrabPortConnection=0x000d04,0x000e04\n"
                          "VmPortConnection=0\nVmExternalDeviceId=5,0x22,7\n"
                          "[Node]\nNodeId=0x12\nDeviceNbr=0x000e04\nGrabPortConnection=0x000d04,0x000e04\n";

TEST_F(IniTest, SameListOnBothDevicesLinksOneRing)
{
    _HALCYRA_INI_ST* g = Load(kTwoBoards);
    ASSERT_NE(g, nullptr);
    _HALCYRA_INI_ST* a = g->Next;
    _HALCYRA_INI_ST* b = a->Next;
    EXPECT_EQ(a->GrabPortConnection, reinterpret_cast<uintptr_t>(b));
    EXPECT_EQ(b->GrabPortConnection, reinterpret_cast<uintptr_t>(a));
    EXPECT_EQ(a->VmPortConnection, 0u);
    EXPECT_EQ(std::vector<uint8_t>(a->GrabPartners, a->GrabPartners + 3), (std::vector<uint8_t>{0x12, 0x11, 0}));
    EXPECT_EQ(std::vector<uint8_t>(b->GrabPartners, b->GrabPartners + 3), (std::vector<uint8_t>{0x11, 0x12, 0}));
    EXPECT_EQ(std::vector<uint8_t>(a->VmExternalDevices, a->VmExternalDevices + 4),
              (std::vector<uint8_t>{5, 0x22, 7, 0}));
}

TEST_F(IniTest, IteratorsWalkTheRing)
{
    ASSERT_NE(Load(kTwoBoards), nullptr);
    _HALCYRA_INI_ST* cursor = HalcyraIniSt;
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x000d04), 0x11u);
    EXPECT_EQ(cursor, HalcyraIniSt->Next);
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x000d04), 0x12u);
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x000d04), 0u);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x000d04), 0u);
    EXPECT_EQ(HalcyraIniGrabLink(nullptr, 0x000d04), 0u);

    cursor = HalcyraIniSt;
    EXPECT_EQ(HalcyraIniLink(&cursor, 0x000e04, 0x30), 0x12u);
    EXPECT_EQ(HalcyraIniLink(&cursor, 0x000e04, 0x30), 0x11u);
    EXPECT_EQ(HalcyraIniLink(&cursor, 0x000e04, 0x30), 0u);

    cursor = HalcyraIniSt;   // no VM ring
    EXPECT_EQ(HalcyraIniVmLink(&cursor, 0x000d04), 0u);
    EXPECT_EQ(cursor, nullptr);
    cursor = HalcyraIniSt;   // no such device
    EXPECT_EQ(HalcyraIniScanHurlerLink(&cursor, 0x123456), 0u);
    EXPECT_EQ(cursor, nullptr);
    cursor = HalcyraIniSt;
    EXPECT_EQ(HalcyraIniLink(&cursor, 0x000d04, 0x38), 0u);   // not a ring word
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(IniTest, ThreeBoardRingAndUnlistedPartner)
{
    _HALCYRA_INI_ST* g = Load("[Node]\nNodeId=0x11\nDeviceNbr=0x10\nVmPortConnection=0x10,0x20,0x30\n"
                              "[Node]\nNodeId=0x12\nDeviceNbr=0x20\nVmPortConnection=0x20\n"
                              "[Node]\nNodeId=0x13\nDeviceNbr=0x30\nVmPortConnection=0x30\n"
                              "[Node]\nNodeId=0x21\nDeviceNbr=0x40\n");
    ASSERT_NE(g, nullptr);
    _HALCYRA_INI_ST* a = g->Next;
    std::vector<uint8_t> partners(a->VmPartners, a->VmPartners + 4);
    EXPECT_EQ(partners, (std::vector<uint8_t>{0x13, 0x12, 0x11, 0}));
    const _HALCYRA_INI_ST* lone = a->Next->Next->Next;
    EXPECT_EQ(lone->VmPortConnection, 0u);
    EXPECT_EQ(lone->VmPartners[0], 0u);
}

TEST_F(IniTest, ZeroAfterPartnersOnlyEndsTheList)
{
    _HALCYRA_INI_ST* g = Load("[Node]\nNodeId=0x11\nDeviceNbr=0x10\nGrabPortConnection=0x20,0,0x30\n"
                              "[Node]\nNodeId=0x12\nDeviceNbr=0x20\nGrabPortConnection=0x20\n"
                              "[Node]\nNodeId=0x13\nDeviceNbr=0x30\nGrabPortConnection=0\n");
    ASSERT_NE(g, nullptr);
    _HALCYRA_INI_ST* a = g->Next;
    EXPECT_EQ(a->GrabPortConnection, reinterpret_cast<uintptr_t>(a->Next));
    EXPECT_EQ(a->Next->GrabPortConnection, reinterpret_cast<uintptr_t>(a));
    EXPECT_EQ(a->Next->Next->GrabPortConnection, 0u);
}

TEST_F(IniTest, PartnerArraysAreBounded)
{
    std::string text;
    std::string list, ids;
    for (int i = 1; i <= 17; ++i)
        list += (i > 1 ? "," : "") + std::to_string(0x100 * i);
    for (int i = 1; i <= 20; ++i)
        ids += (i > 1 ? "," : "") + std::to_string(i);
    for (int i = 1; i <= 17; ++i)
        text += "[Node]\nNodeId=" + std::to_string(i) + "\nDeviceNbr=" + std::to_string(0x100 * i) +
                "\nGrabPortConnection=" + list + "\nVmExternalDeviceId=" + ids + "\n";
    _HALCYRA_INI_ST* g = Load(text);
    ASSERT_NE(g, nullptr);
    const _HALCYRA_INI_ST* a = g->Next;
    EXPECT_EQ(a->GrabPartners[15], 1u);   // fifteen partners, then the own NodeId
    EXPECT_EQ(a->VmPartners[0], 0u);       // the next array untouched
    EXPECT_EQ(a->VmExternalDevices[0], 1u);
    EXPECT_EQ(a->VmExternalDevices[15], 16u);   // the first sixteen numbers
    EXPECT_EQ(a->ScanHurlerPartners[0], 0u);    // the next array untouched
}

// Walks a ring until the iterator gives 0, at most `limit` steps; the NodeIds met.
std::vector<uint32_t> Walk(_HALCYRA_INI_ST* cursor, uint32_t deviceNbr, size_t limit = 64)
{
    std::vector<uint32_t> ids;
    for (uint32_t id; ids.size() < limit && (id = HalcyraIniGrabLink(&cursor, deviceNbr)) != 0;)
        ids.push_back(id);
    return ids;
}

TEST_F(IniTest, WalkThatCannotCloseEndsAtOnce)
{
    ASSERT_NE(Load(kTwoBoards), nullptr);
    _HALCYRA_INI_ST* a = HalcyraIniSt->Next;
    _HALCYRA_INI_ST* b = a->Next;
    // A device that is not in the ring: the walk from a member would never meet it.
    EXPECT_EQ(Walk(a, 0x000f04), std::vector<uint32_t>{});
    // A member linked to itself: the ring no longer leads back to the first board.
    ASSERT_EQ(HalcyraIniWriteTag(0x12, "GrabPortConnection", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b))), 1u);
    EXPECT_EQ(Walk(HalcyraIniSt, 0x000d04), std::vector<uint32_t>{0x11});
    EXPECT_EQ(Walk(b, 0x000e04), std::vector<uint32_t>{});   // closes on itself
    // The intact ring still walks whole.
    ASSERT_EQ(HalcyraIniWriteTag(0x12, "GrabPortConnection", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(a))), 1u);
    EXPECT_EQ(Walk(HalcyraIniSt, 0x000d04), (std::vector<uint32_t>{0x11, 0x12}));
}

// A node without DeviceNbr (device 0, the global record's) that lists a board: it joins
// no ring, the board's own list still links its ring, and every walk ends.
TEST_F(IniTest, ANodeWithoutDeviceNumberJoinsNoRingAndEveryWalkEnds)
{
    ASSERT_NE(Load("[Node]\nNodeId=0x21\nGrabPortConnection=0x100\n"
                   "[Node]\nNodeId=0x11\nDeviceNbr=0x100\nGrabPortConnection=0x100,0x200\n"
                   "[Node]\nNodeId=0x12\nDeviceNbr=0x200\nGrabPortConnection=0x200\n"),
              nullptr);
    _HALCYRA_INI_ST* z = HalcyraIniSt->Next;
    _HALCYRA_INI_ST* a = z->Next;
    EXPECT_EQ(z->GrabPortConnection, 0u);
    EXPECT_EQ(z->GrabPartners[0], 0u);
    EXPECT_EQ(Walk(a, 0x100), std::vector<uint32_t>{0x12});
    EXPECT_EQ(Walk(HalcyraIniSt, 0x100), (std::vector<uint32_t>{0x11, 0x12}));
    EXPECT_EQ(std::vector<uint8_t>(a->GrabPartners, a->GrabPartners + 3), (std::vector<uint8_t>{0x12, 0x11, 0}));
    EXPECT_EQ(Walk(z, 0), std::vector<uint32_t>{});
    EXPECT_EQ(Walk(HalcyraIniSt, 0), std::vector<uint32_t>{});
}

// Linking follows each link of a ring about once however large the ring: 50,000 nodes in
// rings of 255 take about as many link steps as in pairs, and every member still gets the
// fifteen members after it, as the iterator walks them, for its partners.
TEST_F(IniTest, LinkStepsGrowWithTheNodesNotWithTheRingSize)
{
    constexpr int kNodes = 50000;
    const auto steps = [&](int ring) {
        std::string t;
        t.reserve(static_cast<size_t>(kNodes) * 48);
        for (int i = 0; i < kNodes; ++i) {
            t += "[Node]\nNodeId=" + std::to_string(i % 250 + 1) + "\nDeviceNbr=" + std::to_string(0x1000 + i) + "\n";
            t += "GrabPortConnection=";
            if (i % ring != 0) {
                t += std::to_string(0x1000 + i) + "\n";   // linked by the ring's first member
                continue;
            }
            for (int k = i; k < std::min(i + ring, kNodes); ++k)
                t += (k > i ? "," : "") + std::to_string(0x1000 + k);
            t += "\n";
        }
        HalcyraIniFree(nullptr);
        const uint64_t before = HalcyraIniLinkSteps();
        EXPECT_NE(Load(t), nullptr);
        return HalcyraIniLinkSteps() - before;
    };
    const uint64_t pairs = steps(2);
    const uint64_t rings = steps(255);
    EXPECT_LE(pairs, 2u * kNodes);
    EXPECT_LE(rings, pairs + pairs / 10) << "pairs: " << pairs << " rings of 255: " << rings;

    _HALCYRA_INI_ST* r = HalcyraIniSt->Next;
    for (int i = 0; i < 300; ++i, r = r->Next) {
        if (i != 0 && i != 7 && i != 254 && i != 255)
            continue;
        const std::vector<uint32_t> walked = Walk(r, r->DeviceNbr, 15);
        ASSERT_EQ(walked.size(), 15u) << i;
        for (size_t k = 0; k < walked.size(); ++k)
            EXPECT_EQ(r->GrabPartners[k], static_cast<uint8_t>(walked[k])) << i << " partner " << k;
        EXPECT_EQ(r->GrabPartners[15], static_cast<uint8_t>(i % 250 + 1)) << i;
    }
}

TEST_F(IniTest, FiftyThousandNodeSectionsAreReadAndLinked)
{
    constexpr int kNodes = 50000;
    std::string text;
    text.reserve(kNodes * 80);
    for (int i = 0; i < kNodes; ++i) {
        const int pair = i & ~1;
        text += "[Node]\nNodeId=" + std::to_string(i + 1) + "\nDeviceNbr=" + std::to_string(0x1000 + i) +
                "\nGrabPortConnection=" + std::to_string(0x1000 + pair) + "," + std::to_string(0x1001 + pair) + "\n";
    }
    _HALCYRA_INI_ST* g = Load(text);
    ASSERT_NE(g, nullptr);
    std::vector<_HALCYRA_INI_ST*> records;
    for (_HALCYRA_INI_ST* r = g->Next; r != nullptr; r = r->Next)
        records.push_back(r);
    ASSERT_EQ(records.size(), static_cast<size_t>(kNodes));
    for (int i : {0, 1, 24998, 24999, kNodes - 2, kNodes - 1}) {
        const _HALCYRA_INI_ST* r = records[i];
        const _HALCYRA_INI_ST* partner = records[i ^ 1];
        EXPECT_EQ(r->NodeId, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(r->DeviceNbr, static_cast<uint32_t>(0x1000 + i));
        EXPECT_EQ(r->GrabPortConnection, reinterpret_cast<uintptr_t>(partner)) << i;
        EXPECT_EQ(r->GrabPartners[0], static_cast<uint8_t>(i ^ 1) + 1) << i;
        EXPECT_EQ(r->GrabPartners[1], static_cast<uint8_t>(i + 1)) << i;
        EXPECT_EQ(r->GrabPartners[2], 0u) << i;
    }
    EXPECT_EQ(HalcyraIniForThisNode(kNodes), records.back());
    _HALCYRA_INI_ST* cursor = HalcyraIniSt;
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x1000 + kNodes - 1), static_cast<uint32_t>(kNodes));
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x1000 + kNodes - 1), static_cast<uint32_t>(kNodes - 1));
    EXPECT_EQ(HalcyraIniGrabLink(&cursor, 0x1000 + kNodes - 1), 0u);
}

// Reading and linking grow with the number of sections, not with its square: five times as
// many sections take about five times as long (a search of the chain per link or per
// section would take twenty-five times as long).
TEST_F(IniTest, ReadingTimeGrowsLinearlyWithTheNodeSections)
{
    const auto text = [](int nodes) {
        std::string t;
        t.reserve(static_cast<size_t>(nodes) * 80);
        for (int i = 0; i < nodes; ++i) {
            const int pair = i & ~1;
            t += "[Node]\nNodeId=" + std::to_string(i + 1) + "\nDeviceNbr=" + std::to_string(0x1000 + i) +
                 "\nGrabPortConnection=" + std::to_string(0x1000 + pair) + "," + std::to_string(0x1001 + pair) + "\n";
        }
        return t;
    };
    // The fastest of three reads, so that a pause of the machine does not count.
    const auto seconds = [&](int nodes) {
        WriteIni(text(nodes));
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            HalcyraIniFree(nullptr);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_NE(HalcyraIniGetFile(0), nullptr);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    };
    const double small = seconds(3000);
    const double large = seconds(15000);
    EXPECT_LT(large, 12 * small) << "3000 sections: " << small << " s, 15000 sections: " << large << " s";
}

// ---- freeing -------------------------------------------------------------------------------

TEST_F(IniTest, FreeUnloadsEverything)
{
    ASSERT_NE(Load(kTwoBoards), nullptr);
    EXPECT_NE(HostBridgeId, 0u);
    HalcyraIniFree(nullptr);
    EXPECT_EQ(HalcyraIniSt, nullptr);
    EXPECT_EQ(HostBridgeId, 0u);
    EXPECT_EQ(HalcyraIniReadTag(0x11, "NodeId", nullptr), 0u);
    EXPECT_EQ(HalcyraIniForThisNode(0x11), nullptr);
    ASSERT_NE(HalcyraIniGetFile(0), nullptr);   // the next call reads again
    EXPECT_EQ(HalcyraIniReadTag(0x12, "NodeId", nullptr), 0x12u);
}

TEST_F(IniTest, FreeFromANodeRecordCutsTheChain)
{
    _HALCYRA_INI_ST* g = Load("[Node]\nNodeId=0x11\n[Node]\nNodeId=0x21\n[Node]\nNodeId=0x31\n");
    ASSERT_NE(g, nullptr);
    HalcyraIniFree(g->Next->Next);
    EXPECT_EQ(HalcyraIniSt, g);
    EXPECT_EQ(g->Next->Next, nullptr);
    EXPECT_EQ(HalcyraIniForThisNode(0x31), g);
}

// ---- environment ---------------------------------------------------------------------------

TEST_F(IniTest, GetEnvFallsBackToIniTexts)
{
    unsetenv("DCFPATH");
    unsetenv("COFFLOADOPTION");
    setenv("VCFPATH", "/env/vcf", 1);
    ASSERT_NE(Load("DcfPath=/ini/dcf\nVcfPath=/ini/vcf\nCoffLoadOption=3\n[Node]\nNodeId=0x11\nDcfPath=/node\n"), nullptr);
    EXPECT_STREQ(im_getenv(0, "DCFPATH"), "/ini/dcf");
    EXPECT_STREQ(im_getenv(0x11, "DCFPATH"), "/node");
    EXPECT_STREQ(im_getenv(0, "VCFPATH"), "/env/vcf");
    EXPECT_STREQ(im_getenv(0, "COFFLOADOPTION"), "3");
    EXPECT_EQ(im_getenv(0, "TIFPATH"), nullptr);
    unsetenv("VCFPATH");
}

TEST_F(IniTest, IgnoreEnvVarAsksTheIniFirst)
{
    setenv("VCFPATH", "/env/vcf", 1);
    setenv("JPGPATH", "/env/jpg", 1);
    ASSERT_NE(Load("IgnoreEnvVar=YES\nVcfPath=/ini/vcf\n"), nullptr);
    EXPECT_STREQ(im_getenv(0, "VCFPATH"), "/ini/vcf");
    EXPECT_STREQ(im_getenv(0, "JPGPATH"), "/env/jpg");
    HalcyraIniFree(nullptr);
    EXPECT_STREQ(im_getenv(0, "VCFPATH"), "/env/vcf");   // nothing loaded: environment only
    unsetenv("VCFPATH");
    unsetenv("JPGPATH");
}

// ---- "pci." lines --------------------------------------------------------------------------

class IniPciTest : public IniTest {
protected:
    void SetUp() override
    {
        topology_.boards.assign(2, boardsim::BoardSpec{});
        IniTest::SetUp();
    }
    static std::pair<int, int> Location(int board)
    {
        uint8_t bus = 0, device = 0, function = 0;
        boardsim::BoardSim::instance().functionLocation(board, boardsim::BoardFunction::PrimaryOrlo, &bus, &device,
                                                        &function);
        return {bus, device};
    }
};

TEST_F(IniPciTest, WriteAndMaskedWriteReachEveryDeviceWithThatId)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t before = sim.functionConfig(0, boardsim::BoardFunction::PrimaryOrlo, 0x0C);
    ASSERT_NE(Load("pci.0x3E911F3A.0x0D.0xFF00=0x20\npci.0x3E911F3A.0x3C=0x1FF\n"), nullptr);
    for (int board = 0; board < 2; ++board) {
        const uint32_t latency = sim.functionConfig(board, boardsim::BoardFunction::PrimaryOrlo, 0x0C);
        EXPECT_EQ(latency & 0xFF00u, 0x2000u) << board;
        EXPECT_EQ(latency & 0xFFFF00FFu, before & 0xFFFF00FFu) << board;   // other bits kept
        EXPECT_EQ(sim.functionConfig(board, boardsim::BoardFunction::PrimaryOrlo, 0x3C) & 0xFF, 0xFFu) << board;
    }
}

TEST_F(IniPciTest, ReadAndListLinesPrintOnTheConsole)
{
    ASSERT_NE(Load("ApplicationMessaging=2\npci.0x3E911F3A\npci.0x3E911F3A.0x01\n"), nullptr);
    const auto [bus0, dev0] = Location(0);
    const auto [bus1, dev1] = Location(1);
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "DeviceId=0x3e91  VendorId=0x1f3a  Bus=0x%02x  DeviceNb=0x%02x\n"
                  "DeviceId=0x3e91  VendorId=0x1f3a  Bus=0x%02x  DeviceNb=0x%02x\n"
                  "DeviceId=0x3e91  VendorId=0x1f3a  Register(0x00)=0x3e911f3a\n"
                  "DeviceId=0x3e91  VendorId=0x1f3a  Register(0x00)=0x3e911f3a\n",
                  bus0, dev0, bus1, dev1);
    EXPECT_NE(ConsoleOutput().find(expected), std::string::npos) << ConsoleOutput();
}

TEST_F(IniPciTest, SkippedPciLineIsNotRun)
{
    auto& sim = boardsim::BoardSim::instance();
    const uint32_t before = sim.functionConfig(0, boardsim::BoardFunction::PrimaryOrlo, 0x3C);
    ASSERT_NE(Load("!if440LX\npci.0x3E911F3A.0x3C=0x1FF\n!ENDif\n"), nullptr);
    EXPECT_EQ(sim.functionConfig(0, boardsim::BoardFunction::PrimaryOrlo, 0x3C), before);
}

TEST_F(IniPciTest, AccessPciConfigFormsDirectly)
{
    auto& sim = boardsim::BoardSim::instance();
    AccessPciConfig("0x3E911F3A.0x3C.0x0F=5");
    EXPECT_EQ(sim.functionConfig(1, boardsim::BoardFunction::PrimaryOrlo, 0x3C) & 0x0F, 5u);
    AccessPciConfig("0x3E911F3A.0x3C.0x0=9");   // empty mask: nothing changes
    EXPECT_EQ(sim.functionConfig(1, boardsim::BoardFunction::PrimaryOrlo, 0x3C) & 0x0F, 5u);
    AccessPciConfig("junk");
    AccessPciConfig("0x12345678.0x3C=1");   // no such device
    AccessPciConfig(nullptr);
}

}  // namespace
