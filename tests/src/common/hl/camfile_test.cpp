// Camera files: the reader's file and memory roads, the line and search helpers, and the
// writer, with the round trip between them.
#include "camfile.h"

#include "im_msgio.h"
#include "../../../fuzz/seeds.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Loaded {
    int32_t result = 0;
    int32_t code = 0;
    std::string text;
    int32_t count = 0;
    std::vector<_DCF_ENTRY> entries;
    bool listGiven = false;

    std::string Name(size_t i) const { return std::string(entries[i].name, strnlen(entries[i].name, 32)); }
    uint32_t Value(size_t i) const { return entries[i].value; }
    // The filled entries from 3 on, as "keyword=value".
    std::vector<std::string> Registers() const
    {
        std::vector<std::string> lines;
        for (size_t i = 3; i < entries.size() && entries[i].name[0]; ++i)
            lines.push_back(Name(i) + "=" + std::to_string(Value(i)));
        return lines;
    }
};

Loaded Load(const char* source, int32_t fileFlag)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 49, 3, "imCamAlloc");
    _DCF_ENTRY* entries = reinterpret_cast<_DCF_ENTRY*>(1);
    Loaded l;
    l.result = im_cam_load(&msg, &entries, &l.count, source, fileFlag);
    l.code = msg.body.err.code;
    if (msg.body.err.message) l.text = msg.body.err.message;
    l.listGiven = entries != nullptr;
    if (entries) l.entries.assign(entries, entries + l.count);
    std::free(entries);
    return l;
}

std::string Header(const char* type = "HALCYRA_GRAB_0")
{
    return std::string("[CONFIG_FILE]\n50CF\n") + type + "\nWed Dec  9 10:00:00 2026\n\n";
}

class CamFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hlccamXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override
    {
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) {
                    const std::string p = dir_ + "/" + e->d_name;
                    if (rmdir(p.c_str()) != 0) std::remove(p.c_str());
                }
            closedir(d);
        }
        rmdir(dir_.c_str());
    }
    std::string Write(const std::string& text, const char* name = "camera.dcf")
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        // Every camera file a test writes seeds the reader's fuzz target, under the test's
        // name (the file itself always has the same name).
        if (std::getenv("QSRF_FUZZ_SEEDS")) {
            const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
            const std::string seed = dir_ + "/" + info->test_suite_name() + "." + info->name() + "." +
                                     std::to_string(++seeds_) + ".dcf";
            std::ofstream(seed, std::ios::binary) << text;
            qsrf_fuzz::SaveFuzzSeed("camfile", seed);
            std::remove(seed.c_str());
        }
        return path;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
    Loaded LoadFile(const std::string& text) { return Load(Write(text).c_str(), 1); }

    std::string dir_;
    int seeds_ = 0;
};

// ---------------------------------------------------------------- file road

TEST_F(CamFileTest, AFileWithoutAmplitudeGetsTheDefaultLevelsAndKeepsEveryRegisterLine)
{
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\nDIG_HTOTAL 858\nSYN_AMPL 0x120\nDIG_VTOTAL 0x20D\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    ASSERT_EQ(l.count, 200);
    EXPECT_EQ(l.Name(0), "HALCYRA_GRAB_0");
    EXPECT_EQ(l.Value(0), 0u);
    EXPECT_EQ(l.Name(1), "VDL_AMPL");
    EXPECT_EQ(l.Value(1), 700u);
    EXPECT_EQ(l.Name(2), "VDL_PED_AMP");
    EXPECT_EQ(l.Value(2), 0u);
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=858", "SYN_AMPL=288", "DIG_VTOTAL=525"}));
    // The tail travels as all-zero entries.
    for (size_t i = 6; i < l.entries.size(); ++i) {
        EXPECT_EQ(l.entries[i].name[0], 0) << i;
        EXPECT_EQ(l.entries[i].value, 0u) << i;
    }
}

TEST_F(CamFileTest, LevelsBeforeTheRegisterSectionAreTakenAndTheSectionKeepsItsLines)
{
    const Loaded l = LoadFile(Header() +
                              "VDL_AMPL 714mV\nVDL_PEDEST 1\nVDL_PED_AMP 54\n[REG_DIGIT]\nSYN_AMPL 300\n"
                              "DIG_HTOTAL 010\n[REG_MODIF_STATE]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Name(1), "VDL_AMPL");
    EXPECT_EQ(l.Value(1), 714u);   // the digits that begin the word
    EXPECT_EQ(l.Value(2), 54u);
    // Octal by its leading 0; SYN_AMPL stays because the levels stood before the section.
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"SYN_AMPL=300", "DIG_HTOTAL=8"}));
}

TEST_F(CamFileTest, APedestalSwitchedOffGivesAZeroPedestalAmplitude)
{
    const Loaded l = LoadFile(Header() + "VDL_AMPL 700\nVDL_PEDEST 0\nVDL_PED_AMP 54\n[REG_DIGIT]\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Name(2), "VDL_PED_AMP");
    EXPECT_EQ(l.Value(2), 0u);
}

TEST_F(CamFileTest, APedestalAmplitudeBeforeItsSwitchIsFound)
{
    // The order the writer uses: VDL_PED_AMP, then VDL_PEDEST.
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\nVDL_AMPL 0x2bc\nVDL_PED_AMP 0x36\nVDL_PEDEST 0x1\n"
                                         "DIG_HTOTAL 0x35a\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Value(1), 700u);
    EXPECT_EQ(l.Value(2), 54u);
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=858"}));
}

TEST_F(CamFileTest, LevelLinesInsideTheSectionAreDroppedFromTheRegisterList)
{
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\nDIG_HTOTAL 1\nSYN_AMPL 0x11e\nVDL_AMPL 0x2bc\n"
                                         "VDL_PED_AMP 0x0\nVDL_PEDEST 0x0\nDIG_VTOTAL 2\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Value(1), 700u);
    EXPECT_EQ(l.Value(2), 0u);
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=1", "DIG_VTOTAL=2"}));
}

TEST_F(CamFileTest, ALowerCaseTypeIsStoredUpperCased)
{
    const Loaded l = LoadFile(Header("halcyra_grab_1 second family") + "[REG_DIGIT]\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Name(0), "HALCYRA_GRAB_1");
}

TEST_F(CamFileTest, ATypeLongerThanAnEntryIsCutToThirtyOneCharacters)
{
    const Loaded l = LoadFile(Header("halcyra_grab_0_with_a_very_long_suffix") + "[REG_DIGIT]\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Name(0), "HALCYRA_GRAB_0_WITH_A_VERY_LONG");
    EXPECT_EQ(l.entries[0].name[31], '\0');
}

TEST_F(CamFileTest, AnotherFamilyTypeIsRefused)
{
    const Loaded l = LoadFile(Header("OTHER_GRAB_0") + "[REG_DIGIT]\n[EOF]\n");
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.code, -3);
    EXPECT_EQ(l.text, "Non-Halcyra DCF");
    EXPECT_FALSE(l.listGiven);
    EXPECT_EQ(l.count, 0);
}

TEST_F(CamFileTest, AFileWithoutConfigSectionIsRefused)
{
    const Loaded l = LoadFile("[REG_DIGIT]\nDIG_HTOTAL 1\n[EOF]\n");
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.code, -3);
    EXPECT_EQ(l.text, "Non-Halcyra DCF");
}

TEST_F(CamFileTest, ARegisterSectionRunningToTheEndOfFileFails)
{
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\nDIG_HTOTAL 858\n");
    EXPECT_EQ(l.result, -1);
    EXPECT_EQ(l.code, -3);
    EXPECT_EQ(l.text, "Reading DCF");
    EXPECT_FALSE(l.listGiven);
}

TEST_F(CamFileTest, AFileWithoutRegisterSectionFails)
{
    const Loaded l = LoadFile(Header() + "DIG_HTOTAL 858\n");
    EXPECT_EQ(l.code, -3);
    EXPECT_EQ(l.text, "Reading DCF");
}

TEST_F(CamFileTest, BadRegisterLinesAreSkippedOrKeptWithValueZero)
{
    const Loaded l = LoadFile(Header() +
                              "[REG_DIGIT]\nDIG_HTOTAL 858abc\nDIG_VTOTAL\n//DIG_HSSYNC 4\n/DIG_HESYNC 5\n\n"
                              "   \nDIG_HSBLNK\t0x10\r\nDIG_FLDEG 0x\nDIG_VSSYNC 99999999999\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=0", "DIG_HSBLNK=16", "DIG_FLDEG=0",
                                                       "DIG_VSSYNC=0"}));
}

TEST_F(CamFileTest, KeywordsLongerThanAnEntryHoldsArePassedOver)
{
    const std::string longKeyword(32, 'K');
    const std::string fits(31, 'F');
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\n" + longKeyword + " 1\n" + fits + " 2\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{fits + "=2"}));
}

TEST_F(CamFileTest, CommentLinesAreSkippedWhileSearching)
{
    const Loaded l = LoadFile("/[CONFIG_FILE]\n[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\n/VDL_AMPL 500\n"
                              "/[REG_DIGIT]\nDIG_WRONG 1\n[REG_DIGIT]\nDIG_HTOTAL 3\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Value(1), 700u);
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=3"}));
}

TEST_F(CamFileTest, TheListGrowsByFiftyOnceFull)
{
    std::string lines;
    for (int i = 0; i < 197; ++i) lines += "K" + std::to_string(i) + " " + std::to_string(i) + "\n";
    const Loaded full = LoadFile(Header() + "[REG_DIGIT]\n" + lines + "[EOF]\n");
    ASSERT_EQ(full.result, 0) << full.text;
    EXPECT_EQ(full.count, 200);
    EXPECT_EQ(full.Name(199), "K196");
    EXPECT_EQ(full.Value(199), 196u);

    const Loaded grown = LoadFile(Header() + "[REG_DIGIT]\n" + lines + "K197 197\n[EOF]\n");
    ASSERT_EQ(grown.result, 0) << grown.text;
    EXPECT_EQ(grown.count, 250);
    EXPECT_EQ(grown.Name(3), "K0");
    EXPECT_EQ(grown.Name(200), "K197");
    EXPECT_EQ(grown.Value(200), 197u);
    EXPECT_EQ(grown.entries[201].name[0], 0);
}

// The list grows by doubling: four times the lines cost about four times the entry
// copies (growing by fifty entries would cost sixteen times), and the count the node is
// given is still the capacity that growing by fifty reaches, its tail all zero.
TEST_F(CamFileTest, EntryCopiesGrowWithTheLinesAndTheCountStaysInStepsOfFifty)
{
    const auto copies = [&](int lines, int32_t count) {
        std::string text = Header() + "[REG_DIGIT]\n";
        text.reserve(text.size() + static_cast<size_t>(lines) * 4 + 8);
        for (int i = 0; i < lines; ++i) text += "K 1\n";
        text += "[EOF]\n";
        const uint64_t before = im_cam_entry_copies();
        const Loaded l = LoadFile(text);
        const uint64_t made = im_cam_entry_copies() - before;
        EXPECT_EQ(l.result, 0) << l.text;
        EXPECT_EQ(l.count, count);
        EXPECT_EQ(l.Name(static_cast<size_t>(lines) + 2), "K");
        EXPECT_EQ(l.entries[static_cast<size_t>(lines) + 3].name[0], 0);
        EXPECT_EQ(l.entries[static_cast<size_t>(count) - 1].name[0], 0);
        return made;
    };
    const uint64_t small = copies(100000, 100050);
    const uint64_t large = copies(400000, 400050);
    EXPECT_LE(small, 2u * 100000u);
    EXPECT_LE(large, small * 9 / 2) << "100k lines: " << small << " copies, 400k lines: " << large;
}

TEST_F(CamFileTest, ALineLongerThanTheBufferDoesNotBecomeALineOfItsOwn)
{
    const std::string longComment = "/" + std::string(400, 'x') + "[EOF]\n";
    const Loaded l = LoadFile(Header() + "[REG_DIGIT]\n" + longComment + "DIG_HTOTAL 7\n[EOF]\n");
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=7"}));
}

TEST_F(CamFileTest, OnlyRegularFilesAreRead)
{
    Loaded missing = Load((dir_ + "/absent.dcf").c_str(), 1);
    EXPECT_EQ(missing.result, -1);
    EXPECT_EQ(missing.code, -8);
    EXPECT_EQ(missing.text, "Invalid file name");

    Loaded directory = Load(dir_.c_str(), 1);
    EXPECT_EQ(directory.code, -8);
    EXPECT_EQ(directory.text, "Invalid file name");

    const std::string fifo = dir_ + "/pipe.dcf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Loaded pipe = Load(fifo.c_str(), 1);   // would block in fopen if it were opened
    EXPECT_EQ(pipe.code, -8);
    EXPECT_EQ(pipe.text, "Invalid file name");

    Loaded none = Load(nullptr, 1);
    EXPECT_EQ(none.code, -8);

    // A file beyond the limit (sparse) is refused unread, as one that cannot be opened.
    const std::string huge = Write(Header() + "[REG_DIGIT]\nDIG_HTOTAL 7\n[EOF]\n", "huge.dcf");
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kCamMaxFileBytes) + 1), 0);
    Loaded tooLarge = Load(huge.c_str(), 1);
    EXPECT_EQ(tooLarge.code, -8);
    EXPECT_EQ(tooLarge.text, "Invalid file name");
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kCamMaxFileBytes)), 0);
    EXPECT_EQ(Load(huge.c_str(), 1).result, 0);
}

// ---------------------------------------------------------------- memory road

TEST(CamTextTest, TextInMemoryIsTheStandardFamilyFromItsRegisterSectionOn)
{
    const Loaded l = Load("anything\nVDL_AMPL 500\n[REG_DIGIT]\nDIG_HTOTAL 0x35A\nVDL_AMPL 600\n[EOF]", 0);
    ASSERT_EQ(l.result, 0) << l.text;
    EXPECT_EQ(l.count, 200);
    EXPECT_EQ(l.Name(0), "HALCYRA_GRAB_0");
    EXPECT_EQ(l.entries[1].name[0], 0);
    EXPECT_EQ(l.entries[2].name[0], 0);
    EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=858", "VDL_AMPL=600"}));
}

TEST(CamTextTest, TextEndingEarlyFailsWithoutReadingPastItsEnd)
{
    const Loaded noSection = Load("[CONFIG_FILE]\nDIG_HTOTAL 1\n", 0);
    EXPECT_EQ(noSection.result, -1);
    EXPECT_EQ(noSection.code, -3);
    EXPECT_EQ(noSection.text, "Reading DCF");
    EXPECT_FALSE(noSection.listGiven);

    const Loaded unclosed = Load("[REG_DIGIT]\nDIG_HTOTAL 1\n", 0);
    EXPECT_EQ(unclosed.code, -3);
    EXPECT_EQ(unclosed.text, "Reading DCF");

    const Loaded empty = Load("", 0);
    EXPECT_EQ(empty.code, -3);
    const Loaded null = Load(nullptr, 0);
    EXPECT_EQ(null.code, -3);
}

TEST(CamTextTest, MemGetsTakesOneLineAtATime)
{
    char line[kCamMemLineChars + 1];
    int32_t consumed = -1;
    EXPECT_EQ(im_mem_gets(line, "ab c\nnext", &consumed), 0);
    EXPECT_STREQ(line, "ab c");
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(im_mem_gets(line, "last", &consumed), 0);
    EXPECT_STREQ(line, "last");
    EXPECT_EQ(consumed, 4);
    EXPECT_EQ(im_mem_gets(line, "\n", &consumed), 0);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(consumed, 1);
    EXPECT_EQ(im_mem_gets(line, "", &consumed), -1);
    EXPECT_EQ(consumed, 0);

    // A longer line: 150 characters copied, the whole line consumed.
    const std::string longLine = std::string(200, 'x') + "\nrest";
    EXPECT_EQ(im_mem_gets(line, longLine.c_str(), &consumed), 0);
    EXPECT_EQ(std::strlen(line), kCamMemLineChars);
    EXPECT_EQ(consumed, 201);
}

TEST_F(CamFileTest, FindSkipsCommentsAndStopsAtTheEnd)
{
    const std::string path = Write("/DIG_A 1\nx DIG_A 2\nDIG_B 3\n");
    FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[kCamLineBytes];
    ASSERT_EQ(find("DIG_A", f, line), 1);
    EXPECT_STREQ(line, "x DIG_A 2\n");
    EXPECT_EQ(find("DIG_A", f, line), 0);
    std::fclose(f);
}

// ---------------------------------------------------------------- writer

std::vector<_DCF_ENTRY> List(std::initializer_list<std::pair<const char*, uint32_t>> lines)
{
    std::vector<_DCF_ENTRY> list;
    for (const auto& l : lines) {
        _DCF_ENTRY e{};
        std::strncpy(e.name, l.first, sizeof e.name - 1);
        e.value = l.second;
        list.push_back(e);
    }
    return list;
}

int32_t WriteList(const std::string& path, const std::vector<_DCF_ENTRY>& list, std::string* text = nullptr)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 54, 2, "imCamSave");
    const int32_t r = im_cam_write(&msg, path.c_str(), list.data(), static_cast<int32_t>(list.size()),
                                   "Wed Dec  9 10:00:00 2026\n");
    if (text) *text = msg.body.err.message ? msg.body.err.message : "";
    if (r == 0) qsrf_fuzz::SaveFuzzSeed("camfile", path);
    return r ? msg.body.err.code : 0;
}

TEST_F(CamFileTest, TheWriterPutsTheHeaderOneLinePerEntryAndTheClosingSections)
{
    const std::string path = dir_ + "/out.dcf";
    ASSERT_EQ(WriteList(path, List({{"HALCYRA_GRAB_0", 0}, {"DIG_HTOTAL", 858}, {"VDL_AMPL", 700},
                                    {"VDL_PED_AMP", 54}, {"VDL_ZERO", 0}})),
              0);
    auto line = [](const char* k, const char* v) { return std::string(k) + std::string(48 - std::strlen(k), ' ') + v + "\n"; };
    EXPECT_EQ(Read(path), "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\nWed Dec  9 10:00:00 2026\n\n[REG_DIGIT]\n" +
                              line("DIG_HTOTAL", "0x35a") + line("VDL_AMPL", "0x2bc") + line("VDL_PED_AMP", "0x36") +
                              line("VDL_PEDEST", "0x1") + line("VDL_ZERO", "0x0") +
                              "\n[REG_MODIF_STATE]\n\n[EOF]\n");
    EXPECT_EQ(Files(), std::vector<std::string>{"out.dcf"});
}

TEST_F(CamFileTest, APedestalSurvivesWriteAndRead)
{
    const std::string path = dir_ + "/round.dcf";
    for (uint32_t pedestal : {54u, 0u}) {
        ASSERT_EQ(WriteList(path, List({{"HALCYRA_GRAB_0", 0}, {"DIG_HTOTAL", 858}, {"SYN_AMPL", 286},
                                        {"VDL_AMPL", 714}, {"VDL_PED_AMP", pedestal}, {"DIG_VTOTAL", 525}})),
                  0);
        const Loaded l = Load(path.c_str(), 1);
        ASSERT_EQ(l.result, 0) << l.text;
        EXPECT_EQ(l.Value(1), 714u);
        EXPECT_EQ(l.Name(2), "VDL_PED_AMP");
        EXPECT_EQ(l.Value(2), pedestal);
        EXPECT_EQ(l.Registers(), (std::vector<std::string>{"DIG_HTOTAL=858", "DIG_VTOTAL=525"}));
    }
}

TEST_F(CamFileTest, AFailedWriteLeavesTheOldFileAsItWas)
{
    const std::string path = Write("old contents\n", "keep.dcf");
    std::vector<_DCF_ENTRY> list = List({{"HALCYRA_GRAB_0", 0}});
    for (int i = 0; i < 199; ++i) list.push_back(List({{"DIG_HTOTAL", 858}})[0]);

    // Files may not grow beyond 1 KiB: the writer's text does not fit.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string text;
    const int32_t code = WriteList(path, list, &text);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);

    EXPECT_EQ(code, -9);
    EXPECT_EQ(text, "Error in execution");
    EXPECT_EQ(Read(path), "old contents\n");
    EXPECT_EQ(Files(), std::vector<std::string>{"keep.dcf"});   // no temporary file left
}

TEST_F(CamFileTest, TheWriterRefusesADestinationThatIsNotARegularFile)
{
    std::string text;
    EXPECT_EQ(WriteList(dir_, List({{"HALCYRA_GRAB_0", 0}}), &text), -3);
    EXPECT_EQ(text, "Cannot open file");
    EXPECT_EQ(WriteList(dir_ + "/no/such/dir.dcf", List({{"HALCYRA_GRAB_0", 0}}), &text), -3);
    EXPECT_EQ(text, "Cannot open file");
}

TEST_F(CamFileTest, AReplacedFileKeepsItsPermissions)
{
    const std::string path = Write("old\n", "mode.dcf");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(WriteList(path, List({{"HALCYRA_GRAB_0", 0}})), 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
