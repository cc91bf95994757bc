#include "../../../fuzz/seeds.h"
#include "../../../fuzz/namedpipe.h"
#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "shellload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

namespace {

constexpr uint32_t kRam = 0x400000;
constexpr uint32_t kLow = 0xFFC00000u; // 2^32 - local RAM size

std::string g_printed;
void Capture(const char* text)
{
    g_printed += text;
}

// ---------------------------------------------------------------- COFF builder

struct TestSection {
    std::string name;
    uint32_t address = 0;
    std::vector<uint8_t> data;
    uint16_t flags = 0;
    uint32_t sizeOverride = 0;     // header size when non-zero
    uint32_t offsetOverride = 0;   // data offset when non-zero
};

struct Coff {
    bool swapped = false;  // header in the other byte order, big-endian data flag
    bool oldHeader = false;
    uint16_t target = 0x95;
    uint16_t optionalBytes = 28;
    uint16_t magic = 0x0108;
    uint32_t timeStamp = 0x5F00AA11;
    int flags = -1;        // file header flags when not negative
    std::vector<TestSection> sections;

    void put16(std::vector<uint8_t>& b, uint16_t v) const
    {
        if (swapped) v = static_cast<uint16_t>((v >> 8) | (v << 8));
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    void put32(std::vector<uint8_t>& b, uint32_t v) const
    {
        if (swapped) v = __builtin_bswap32(v);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> b;
        if (oldHeader)
            put16(b, target);
        else
            put16(b, 0x00C1);
        put16(b, static_cast<uint16_t>(sections.size()));
        put32(b, timeStamp);
        put32(b, 0);
        put32(b, 7);
        put16(b, optionalBytes);
        put16(b, flags >= 0 ? static_cast<uint16_t>(flags) : swapped ? 0x200 : 0x100);
        if (!oldHeader) put16(b, target);
        put16(b, magic);
        put16(b, 1);
        for (int i = 0; i < 3; ++i) put32(b, 0x100);
        put32(b, kLow + 0x40);  // entry
        put32(b, kLow);         // code start
        put32(b, kLow + 0x10000);
        size_t dataAt = b.size() + 40 * sections.size();
        std::vector<size_t> offsets;
        for (const auto& s : sections) {
            offsets.push_back(dataAt);
            dataAt += s.data.size();
        }
        for (size_t i = 0; i < sections.size(); ++i) {
            const TestSection& s = sections[i];
            char name[8] = {};
            std::memcpy(name, s.name.data(), std::min<size_t>(8, s.name.size()));
            b.insert(b.end(), name, name + 8);
            put32(b, s.address);
            put32(b, s.address);
            put32(b, s.sizeOverride ? s.sizeOverride : static_cast<uint32_t>(s.data.size()));
            put32(b, s.offsetOverride ? s.offsetOverride : static_cast<uint32_t>(offsets[i]));
            put32(b, 0);
            put32(b, 0);
            put16(b, 0);
            put16(b, 0);
            put16(b, s.flags);
            b.push_back(0);
            b.push_back(0);
        }
        for (const auto& s : sections) b.insert(b.end(), s.data.begin(), s.data.end());
        return b;
    }
};

// The bytes as local RAM holds them when the file's order differs from the host's.
std::vector<uint8_t> UnitsReversed(std::vector<uint8_t> data)
{
    for (size_t u = 0; u + 8 <= data.size(); u += 8) std::reverse(data.begin() + u, data.begin() + u + 8);
    return data;
}

void SetWord(std::vector<uint8_t>& data, size_t word, uint32_t v, bool big = false)
{
    if (big) v = __builtin_bswap32(v);
    std::memcpy(&data[4 * word], &v, 4);
}

// A shell .text: header words 2 = 64, 4 = 0x1234, 6 = identification at 64, 8 = reset
// vector at 128; the rest a counting pattern.
std::vector<uint8_t> ShellText(size_t bytes = 256, bool big = false)
{
    std::vector<uint8_t> t(bytes);
    for (size_t i = 0; i < bytes; ++i) t[i] = static_cast<uint8_t>(i * 7 + 3);
    std::memset(t.data(), 0, 64);
    SetWord(t, 2, 64, big);
    SetWord(t, 4, 0x1234, big);
    SetWord(t, 6, 64, big);
    SetWord(t, 8, 128, big);
    std::memcpy(&t[64], "Test shell 1.0", 15);
    return t;
}

Coff StandardShell()
{
    Coff c;
    c.sections.push_back({".text", kLow, ShellText()});
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    c.sections.push_back({".data", kLow + 0x10000, data});
    c.sections.push_back({".bss", kLow + 0x20000, std::vector<uint8_t>(16, 0xEE), 0x80});
    return c;
}

class ShellLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BoardSim::instance().configure(Topology{});
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, 0x11, HLC_REGION_PRIMARY, kRam, 0x4000000 - kRam, &ram_));
        char dir[] = "/tmp/shellloadXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        HlcWireLibrary();
        host_.emplace();
        host_->table.print = Capture;
        ASSERT_EQ(host_->Install(), 0);
        g_printed.clear();
        unsetenv("COFFLOADOPTION");
        unsetenv("COFFPATH");
        unsetenv("COFFNAME");
    }
    void TearDown() override
    {
        LdShellToLocalCpu(0x11, nullptr, 0, 0, 0, nullptr);
        EXPECT_EQ(CoffFileName, nullptr);
        DeviceClose(device_);
        host_.reset();
        unsetenv("COFFLOADOPTION");
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        qsrf_fuzz::SaveFuzzSeed("coff", path);
        return path;
    }
    uint32_t Load(const std::string& path, uint32_t mode, int32_t* value = nullptr)
    {
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        char* p = name.data();
        const uint32_t status = LdShellToLocalCpu(0x11, &p, mode, ram_, kRam, value);
        EXPECT_EQ(p, CoffFileName);
        return status;
    }
    std::vector<uint8_t> Ram(uint32_t offset, uint32_t bytes)
    {
        std::vector<uint8_t> v(bytes);
        EXPECT_TRUE(BoardSim::instance().orlo(0, false).readMemory(offset, v.data(), bytes));
        return v;
    }
    uint32_t MemoryWrites()
    {
        uint32_t n = 0;
        for (const auto& a : BoardSim::instance().trace())
            if (a.op == HwOp::Write && a.area == HwArea::PrimaryMemory) ++n;
        return n;
    }

    DeviceHandle device_ = kInvalidDevice;
    uint32_t ram_ = 0;
    std::string dir_;
    std::optional<HlcHostHookOverride> host_;
};

// ---------------------------------------------------------------- download

TEST_F(ShellLoaderTest, DownloadsSectionsSignatureAndResetVector)
{
    const Coff coff = StandardShell();
    const std::string path = Write("shell.out", coff.bytes());
    int32_t value = 0;
    const uint32_t status = Load(path, 0, &value);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_TRUE(status & LDSHELL_DIFFERS);
    EXPECT_TRUE(status & LDSHELL_LITTLE_FILE);
    EXPECT_FALSE(status & (LDSHELL_BIG_FILE | LDSHELL_ORDER_DIFFERS | LDSHELL_RESTART));
    EXPECT_EQ(value, -0x1234);
    EXPECT_STREQ(CoffFileName, path.c_str());

    EXPECT_EQ(Ram(0, 256), coff.sections[0].data);
    std::vector<uint8_t> data = Ram(0x10000, 104);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 100), coff.sections[1].data);
    EXPECT_EQ(Ram(0x20000, 16), std::vector<uint8_t>(16, 0)); // not loadable: skipped

    const std::vector<uint8_t> sig = Ram(kRam - 96, 88);
    uint32_t w[22];
    std::memcpy(w, sig.data(), 88);
    EXPECT_EQ(w[0], 0x1234u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sig[16])), "SHELL");
    EXPECT_EQ(w[8], 0x5F00AA11u);
    EXPECT_EQ(w[12], 96u);
    EXPECT_EQ(Ram(kRam - 8, 8), std::vector<uint8_t>(coff.sections[0].data.begin() + 128,
                                                       coff.sections[0].data.begin() + 136));
    EXPECT_NE(g_printed.find("Downloaded file identification:\nTest shell 1.0\n"), std::string::npos) << g_printed;
}

TEST_F(ShellLoaderTest, MatchingShellIsNotLoadedAgainUnlessForced)
{
    const std::string path = Write("shell.out", StandardShell().bytes());
    ASSERT_EQ(Load(path, 0x20) & LDSHELL_ERROR_MASK, 0u);
    BoardSim::instance().setTracing(true);
    uint32_t status = Load(path, 0x20);
    EXPECT_EQ(status & (LDSHELL_ERROR_MASK | LDSHELL_DIFFERS), 0u);
    EXPECT_EQ(MemoryWrites(), 0u);
    status = Load(path, 0x20 | 0x40 | 0x08); // check only, forced
    EXPECT_TRUE(status & LDSHELL_DIFFERS);
    EXPECT_EQ(MemoryWrites(), 0u);
    status = Load(path, 0x20 | 0x08);
    EXPECT_TRUE(status & LDSHELL_DIFFERS);
    EXPECT_GT(MemoryWrites(), 0u);
}

TEST_F(ShellLoaderTest, CheckOnlyComparesWithoutWriting)
{
    const std::string path = Write("shell.out", StandardShell().bytes());
    BoardSim::instance().setTracing(true);
    const uint32_t status = Load(path, 0x40 | 0x20);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_TRUE(status & LDSHELL_DIFFERS);
    EXPECT_EQ(MemoryWrites(), 0u);
}

TEST_F(ShellLoaderTest, BigEndianFileIsSwappedAndReported)
{
    Coff coff;
    coff.swapped = true;
    coff.sections.push_back({".text", kLow, ShellText(256, true)});
    const std::string path = Write("big.out", coff.bytes());
    int32_t value = 0;
    const uint32_t status = Load(path, 0x20, &value);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_TRUE(status & LDSHELL_BIG_FILE);
    EXPECT_TRUE(status & LDSHELL_ORDER_DIFFERS);
    EXPECT_EQ(value, -0x1234);
    EXPECT_EQ(Ram(0, 256), UnitsReversed(coff.sections[0].data));
}

// The data order follows the order the header is written in; the flag only chooses
// which of the two file bits is reported.
TEST_F(ShellLoaderTest, DataOrderFollowsTheHeaderNotTheFlag)
{
    Coff big;
    big.swapped = true;
    big.flags = 0x100;
    big.sections.push_back({".text", kLow, ShellText(256, true)});
    int32_t value = 0;
    uint32_t status = Load(Write("bignoflag.out", big.bytes()), 0x20, &value);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_TRUE(status & LDSHELL_LITTLE_FILE);
    EXPECT_FALSE(status & LDSHELL_BIG_FILE);
    EXPECT_TRUE(status & LDSHELL_ORDER_DIFFERS);
    EXPECT_EQ(value, -0x1234);
    EXPECT_EQ(Ram(0, 256), UnitsReversed(big.sections[0].data));

    Coff little = StandardShell();
    little.flags = 0x200;
    status = Load(Write("littleflag.out", little.bytes()), 0x20, &value);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_TRUE(status & LDSHELL_BIG_FILE);
    EXPECT_FALSE(status & LDSHELL_ORDER_DIFFERS);
    EXPECT_EQ(value, -0x1234);
    EXPECT_EQ(Ram(0, 256), little.sections[0].data);
}

TEST_F(ShellLoaderTest, OldHeaderWithoutVersionIsAccepted)
{
    Coff coff = StandardShell();
    coff.oldHeader = true;
    const std::string path = Write("old.out", coff.bytes());
    EXPECT_EQ(Load(path, 0x20) & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(Ram(0, 256), coff.sections[0].data);
}

TEST_F(ShellLoaderTest, EValueGoesIntoShellHeaderWord14)
{
    setenv("COFFLOADOPTION", "E70000", 1);
    const std::string path = Write("shell.out", StandardShell().bytes());
    ASSERT_EQ(Load(path, 0x20) & LDSHELL_ERROR_MASK, 0u);
    const std::vector<uint8_t> header = Ram(56, 4);
    uint32_t e;
    std::memcpy(&e, header.data(), 4);
    EXPECT_EQ(e, 65535u);
}

// ---------------------------------------------------------------- refusals

TEST_F(ShellLoaderTest, MissingFileReportsWhereItLooked)
{
    char name[] = "nothere";
    char* p = name;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0, ram_, kRam, nullptr), LDSHELL_NOT_FOUND);
    EXPECT_EQ(g_printed, "\nHalcyra: unable to open file nothere.\nnothere not found in current directory.\n");
    g_printed.clear();
    setenv("COFFPATH", dir_.c_str(), 1);
    p = name;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0, ram_, kRam, nullptr), LDSHELL_NOT_FOUND);
    EXPECT_NE(g_printed.find("nothere not found in current directory or\nin search path environment variable COFFPATH\n"),
              std::string::npos);
    unsetenv("COFFPATH");
    g_printed.clear();
    p = nullptr;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0, ram_, kRam, nullptr), LDSHELL_NOT_FOUND);
    EXPECT_EQ(g_printed, "NULL file name used and environment variable COFFNAME not set.\n");
    EXPECT_STREQ(p, "UNKNOWN");
    g_printed.clear();
    p = name;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0x40, ram_, kRam, nullptr), LDSHELL_NOT_FOUND);
    EXPECT_EQ(g_printed, ""); // check only: silent
}

// Board bring-up hands the loader's own kept name back to it; a shell file that has
// gone since must be reported by that name and leave "UNKNOWN".
TEST_F(ShellLoaderTest, MissingShellNamedThroughTheKeptName)
{
    const std::string path = Write("gone.out", StandardShell().bytes());
    ASSERT_EQ(Load(path, 0x20) & LDSHELL_ERROR_MASK, 0u);
    ASSERT_NE(CoffFileName, nullptr);
    EXPECT_EQ(std::string(CoffFileName), path);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    g_printed.clear();
    char* p = CoffFileName;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0, ram_, kRam, nullptr), LDSHELL_NOT_FOUND);
    EXPECT_EQ(p, CoffFileName);
    EXPECT_STREQ(p, "UNKNOWN");
    EXPECT_EQ(g_printed, "\nHalcyra: unable to open file " + path + ".\n" + path + " not found.\n");
    EXPECT_EQ(LdShellToLocalCpu(0x11, nullptr, 0, ram_, kRam, nullptr), 0u);
    EXPECT_EQ(CoffFileName, nullptr);
}

TEST_F(ShellLoaderTest, FileFoundAlongCoffPathWithDefaultExtension)
{
    Write("pathshell.out", StandardShell().bytes());
    setenv("COFFPATH", dir_.c_str(), 1);
    char name[] = "pathshell";
    char* p = name;
    EXPECT_EQ(LdShellToLocalCpu(0x11, &p, 0x20, ram_, kRam, nullptr) & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(std::string(p), dir_ + "/pathshell.out");
    unsetenv("COFFPATH");
}

TEST_F(ShellLoaderTest, RefusesFilesThatAreNotShells)
{
    EXPECT_EQ(Load(Write("junk.out", {'h', 'e', 'l', 'l', 'o', 0, 0, 0}), 0), LDSHELL_NOT_COFF);
    EXPECT_NE(g_printed.find(" not a COFF file.\n"), std::string::npos);
    EXPECT_EQ(Load(Write("empty.out", {}), 0), LDSHELL_READ_FAILED);
    Coff c = StandardShell();
    c.target = 0x96;
    EXPECT_EQ(Load(Write("target.out", c.bytes()), 0), LDSHELL_NOT_COFF);
    c = StandardShell();
    c.magic = 0x0107;
    EXPECT_EQ(Load(Write("magic.out", c.bytes()), 0), LDSHELL_NOT_COFF);
    c = StandardShell();
    c.optionalBytes = 30;
    EXPECT_EQ(Load(Write("opt.out", c.bytes()), 0), LDSHELL_NOT_COFF);
    c = StandardShell();
    SetWord(c.sections[0].data, 2, 48);
    g_printed.clear();
    EXPECT_EQ(Load(Write("hdr.out", c.bytes()), 0), LDSHELL_NOT_COFF);
    EXPECT_NE(g_printed.find("\nIncompatibility between COFF file and HOST downloader\n"), std::string::npos);
    c = StandardShell();
    c.sections[0].name = ".code";
    EXPECT_EQ(Load(Write("notext.out", c.bytes()), 0), LDSHELL_NOT_COFF);
}

TEST_F(ShellLoaderTest, TruncatedFileIsRefusedWithoutWriting)
{
    std::vector<uint8_t> bytes = StandardShell().bytes();
    BoardSim::instance().setTracing(true);
    // Cut inside the section table.
    EXPECT_EQ(Load(Write("t1.out", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 60)), 0x20),
              LDSHELL_READ_FAILED);
    // Cut inside the .data section's bytes: .text goes in, .data is refused.
    const uint32_t status = Load(Write("t2.out", std::vector<uint8_t>(bytes.begin(), bytes.end() - 60)), 0x20);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, LDSHELL_READ_FAILED);
    EXPECT_EQ(Ram(0x10000, 8), std::vector<uint8_t>(8, 0));
    // A section claiming more bytes than the file holds.
    Coff c = StandardShell();
    c.sections[1].sizeOverride = 0x100000;
    EXPECT_EQ(Load(Write("t3.out", c.bytes()), 0x20) & LDSHELL_ERROR_MASK, LDSHELL_READ_FAILED);
    EXPECT_EQ(BoardSim::instance().strayAccesses(), 0u);
}

// A section whose data offset lies past the end of the file fails the seek: the shell
// header of ".text" as a bad shell (4), the download of ".data" as a read failure (8).
TEST_F(ShellLoaderTest, SeekPastTheFileEndIsReported)
{
    for (const auto& [section, error] : {std::pair<size_t, uint32_t>{0, LDSHELL_NOT_COFF}, {1, LDSHELL_READ_FAILED}}) {
        SCOPED_TRACE(section);
        Coff c = StandardShell();
        c.sections[section].offsetOverride = 0x100000;
        g_printed.clear();
        EXPECT_EQ(Load(Write("seek.out", c.bytes()), 0) & LDSHELL_ERROR_MASK, error);
        EXPECT_NE(g_printed.find("\nHalcyra: Data seek failure\n"), std::string::npos) << g_printed;
        EXPECT_EQ(g_printed.find("Data read failure"), std::string::npos);
        EXPECT_EQ(Ram(0x10000, 8), std::vector<uint8_t>(8, 0));
    }
}

TEST_F(ShellLoaderTest, SectionsOutsideLocalRamAreRefusedOrCut)
{
    Coff c = StandardShell();
    c.sections[1].address = 0x1000;
    g_printed.clear();
    EXPECT_EQ(Load(Write("low.out", c.bytes()), 0) & LDSHELL_ERROR_MASK, LDSHELL_DOWNLOAD_FAILED);
    EXPECT_NE(g_printed.find("\nHalcyra: load address is not in local RAM.\n"), std::string::npos);

    // A section reaching past the top of the address space is cut there.
    c = StandardShell();
    c.sections[1].address = 0xFFFFFF00u;
    c.sections[1].data.assign(0x1000, 0x5A);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(Load(Write("high.out", c.bytes()), 0x20) & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(BoardSim::instance().strayAccesses(), 0u);
    for (const auto& a : BoardSim::instance().trace()) {
        if (a.op == HwOp::Write) {
            EXPECT_LT(a.offset, kRam);
        }
    }
    EXPECT_EQ(Ram(kRam - 0x100, 8), std::vector<uint8_t>(8, 0x5A));
}

TEST_F(ShellLoaderTest, VerifyReportsBadTransfers)
{
    BoardSim::instance().setWriteFilter([](boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryMemory && a.offset >= 0x10000 && a.offset < 0x10000 + 100) a.value ^= 1;
        return true;
    });
    const std::string path = Write("shell.out", StandardShell().bytes());
    const uint32_t status = Load(path, 0);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, LDSHELL_VERIFY_FAILED);
    EXPECT_NE(g_printed.find("\nHalcyra: Bad transfer at offset 00000000h: read: a3a2a1a1h, expected: a3a2a1a0h\n"),
              std::string::npos)
        << g_printed;
    EXPECT_NE(g_printed.find("\nHalcyra: More than 16 errors detected.\n"), std::string::npos);
    BoardSim::instance().setWriteFilter(nullptr);
    // With verification off (mode bit 0) the same load passes.
    BoardSim::instance().setWriteFilter([](boardsim::HwAccess& a) {
        if (a.area == HwArea::PrimaryMemory && a.offset == 0x10000) a.value ^= 1;
        return true;
    });
    EXPECT_EQ(Load(path, 0x01 | 0x08) & LDSHELL_ERROR_MASK, 0u);
    BoardSim::instance().setWriteFilter(nullptr);
}

// ---------------------------------------------------------------- options

TEST(ShellLoaderOptions, ModeBitsAndLetters)
{
    int32_t e = 0;
    EXPECT_EQ(LdShellOptions(0, nullptr, &e), 0x19u); // verify, identification, messages
    EXPECT_EQ(e, -1);
    EXPECT_EQ(LdShellOptions(0x01 | 0x10 | 0x20, nullptr, &e), 0u);
    EXPECT_EQ(LdShellOptions(0x02 | 0x04 | 0x08 | 0x40 | 0x80 | 0x200 | 0x400, nullptr, &e), 0x3FFu);
    EXPECT_EQ(LdShellOptions(0, "S+M+Q+", &e), 0u);
    EXPECT_EQ(LdShellOptions(0x31, "s-m-", &e), 0x11u);
    EXPECT_EQ(LdShellOptions(0, "B+P+F+R+W+I+", &e), 0x19u | 0x2u | 0x4u | 0x40u | 0x80u | 0x100u | 0x200u);
    EXPECT_EQ(LdShellOptions(0x80, "R-E12", &e), 0x19u);
    EXPECT_EQ(e, 12);
}

TEST_F(ShellLoaderTest, ReportsRestartMessagesAndHostLetters)
{
    setenv("COFFLOADOPTION", "R+W+I+", 1);
    const uint32_t status = Load(Write("shell.out", StandardShell().bytes()), 0x20);
    EXPECT_EQ(status & (LDSHELL_RESTART | LDSHELL_MESSAGES | LDSHELL_HOST_MODE),
              LDSHELL_RESTART | LDSHELL_MESSAGES | LDSHELL_HOST_MODE);
}

TEST_F(ShellLoaderTest, ShellValueOfTheLowestWordIsReportedWithoutOverflow)
{
    Coff c = StandardShell();
    SetWord(c.sections[0].data, 4, 0x80000000u);
    int32_t value = 0;
    const uint32_t status = Load(Write("lowest.out", c.bytes()), 0x20, &value);
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(value, INT32_MIN);   // -(0x80000000) in 32 bits is itself
    SetWord(c.sections[0].data, 4, 0xFFFFFFFFu);
    EXPECT_EQ(Load(Write("minus.out", c.bytes()), 0x20, &value) & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(value, 1);
}

TEST_F(ShellLoaderTest, NamedPipeIsRefusedAtOnce)
{
    const std::string pipe = dir_ + "/pipe.out";
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    BoardSim::instance().setTracing(true);
    uint32_t status = 0;
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        status = Load(pipe, 0);
        return std::string();
    }).has_value());
    EXPECT_EQ(status, LDSHELL_NOT_FOUND);
    EXPECT_NE(g_printed.find("\nHalcyra: unable to open file " + pipe + ".\n"), std::string::npos) << g_printed;
    EXPECT_EQ(MemoryWrites(), 0u);
    // Along COFFPATH a pipe is passed over for the shell behind it.
    ASSERT_EQ(mkdir((dir_ + "/a").c_str(), 0755), 0);
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(dir_ + "/a/pathshell.out"));
    Write("pathshell.out", StandardShell().bytes());
    setenv("COFFPATH", (dir_ + "/a;" + dir_).c_str(), 1);
    char name[] = "pathshell";
    char* p = name;
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(dir_ + "/a/pathshell.out", [&] {
        status = LdShellToLocalCpu(0x11, &p, 0x20, ram_, kRam, nullptr);
        return std::string();
    }).has_value());
    EXPECT_EQ(status & LDSHELL_ERROR_MASK, 0u);
    EXPECT_EQ(std::string(p), dir_ + "/pathshell.out");
    unsetenv("COFFPATH");
}

} // namespace
