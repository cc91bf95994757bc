// The registry file: persistence, its text format, atomic replacement, damaged and
// unreadable files, and where it lives.

#include "registry.h"

#include "../../fuzz/namedpipe.h"
#include "../../fuzz/seeds.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qsrf::registry;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "regtest.XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        dir = root + "/vistrel";
        path = dir + "/registry.ini";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(root, ec);
    }

    // Writes one integer through a fresh registry object and stores it.
    static void Put(const std::shared_ptr<RegistryBackend>& b, const std::string& key,
                    const std::string& name, int32_t v)
    {
        Registry reg(b);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteInteger(name, v);
        reg.CloseKey();
    }
    static int32_t Get(const std::shared_ptr<RegistryBackend>& b, const std::string& key,
                       const std::string& name)
    {
        Registry reg(b);
        if (!reg.OpenKey(key, false))
            throw RegistryError("no key");
        return reg.ReadInteger(name);
    }

    std::string root, dir, path;
};

// ---- persistence ------------------------------------------------------------------------

TEST_F(RegistryFileTest, ValuesSurviveReopening)
{
    {
        auto b = std::make_shared<FileBackend>(path);
        Registry reg(b);
        ASSERT_TRUE(reg.OpenKey("Software\\Kestrove NT\\Qsrf\\0.01\\PI\\Ch1", true));
        reg.WriteFloat("CountPerUm", 16.89110196616);
        reg.WriteBool("Direction", false);
        reg.WriteInteger("Channel", static_cast<int32_t>(0x80000000u));
        reg.WriteString("last", "/home/op/measurements");
        reg.WriteBinaryData("raw", {});
        reg.CloseKey();
    }
    qsrf_fuzz::SaveFuzzSeed("registry", path);
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_EQ(b->LoadProblem(), "");
    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("software\\kestrove nt\\qsrf\\0.01\\pi\\ch1", false));
    EXPECT_EQ(reg.ReadFloat("CountPerUm"), 16.89110196616);
    EXPECT_FALSE(reg.ReadBool("Direction"));
    EXPECT_EQ(static_cast<uint32_t>(reg.ReadInteger("Channel")), 0x80000000u);
    EXPECT_EQ(reg.ReadString("last"), "/home/op/measurements");
    EXPECT_TRUE(reg.ReadBinaryData("raw").empty());
    EXPECT_THROW(reg.ReadInteger("CountPerUm"), WrongTypeError);
    EXPECT_THROW(reg.ReadInteger("Absent"), MissingValueError);
}

TEST_F(RegistryFileTest, TheFileIsReadableText)
{
    auto b = std::make_shared<FileBackend>(path);
    Put(b, "Software\\Kestrove NT\\Qsrf\\0.01\\Quorvel", "BoardType", 5);
    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Kestrove NT\\Qsrf\\0.01\\PI\\Ch1", true));
    reg.WriteFloat("HomePos", 0.5);
    reg.WriteString("Name", "say \"hi\"\\");
    reg.CloseKey();

    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\n[Software\\Kestrove NT\\Qsrf\\0.01\\Quorvel]\n\"BoardType\"=dword:00000005\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"HomePos\"=hex:000000000000e03f\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Name\"=sz:\"say \\\"hi\\\"\\\\\"\n"), std::string::npos) << text;
}

TEST_F(RegistryFileTest, ReadingAloneWritesNoFile)
{
    auto b = std::make_shared<FileBackend>(path);
    Registry reg(b);
    EXPECT_FALSE(reg.OpenKey("Software\\Missing", false));
    EXPECT_EQ(reg.ReadString("x"), "");
    reg.CloseKey();
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(RegistryFileTest, EmptyKeysAndRootValuesSurvive)
{
    {
        auto b = std::make_shared<FileBackend>(path);
        Registry reg(b);
        ASSERT_TRUE(reg.OpenKey("Software\\Empty Group", true));
        reg.CloseKey();
        reg.WriteInteger("atRoot", 3);
        reg.CloseKey();
    }
    auto b = std::make_shared<FileBackend>(path);
    Registry reg(b);
    EXPECT_TRUE(reg.KeyExists("Software\\Empty Group"));
    EXPECT_EQ(reg.ReadInteger("atRoot"), 3);
}

TEST_F(RegistryFileTest, OddNamesAndTextsRoundTrip)
{
    const std::string key = "Software\\Brackets [x] and \"quotes\" = ok]";
    const std::string name = "tab\there, line\nfeed, \x01 byte, back\\slash, =";
    const std::string text = "r\xc3\xa9sum\xc3\xa9\r\n\"\x7f";
    {
        auto b = std::make_shared<FileBackend>(path);
        Registry reg(b);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(name, text);
        reg.WriteString("", "default value");
        reg.CloseKey();
    }
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_EQ(b->LoadProblem(), "");
    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey(key, false));
    EXPECT_EQ(reg.ReadString(name), text);
    EXPECT_EQ(reg.ReadString(""), "default value");
}

TEST_F(RegistryFileTest, TheFirstSpellingIsKept)
{
    auto b = std::make_shared<FileBackend>(path);
    Put(b, "Software\\Kestrove NT", "BoardType", 1);
    Put(b, "SOFTWARE\\KESTROVE NT", "BOARDTYPE", 2);
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("[Software\\Kestrove NT]\n\"BoardType\"=dword:00000002\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("KESTROVE"), std::string::npos);
    EXPECT_EQ(text.find("BOARDTYPE"), std::string::npos);
}

TEST_F(RegistryFileTest, ChangesOfAnotherBackendAreSeen)
{
    auto writer = std::make_shared<FileBackend>(path);
    auto reader = std::make_shared<FileBackend>(path);
    Put(writer, "Software\\Quorvel\\Hlccout\\Options", "Snooze", 1);
    EXPECT_EQ(Get(reader, "Software\\Quorvel\\Hlccout\\Options", "Snooze"), 1);
    Put(writer, "Software\\Quorvel\\Hlccout\\Options", "Snooze", 0);
    EXPECT_EQ(Get(reader, "Software\\Quorvel\\Hlccout\\Options", "Snooze"), 0);
}

TEST_F(RegistryFileTest, UnstoredChangesAreNotReplacedByTheFile)
{
    auto a = std::make_shared<FileBackend>(path);
    auto b = std::make_shared<FileBackend>(path);
    Put(a, "K", "v", 1);
    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteInteger("mine", 7);   // not yet stored
    Put(a, "K", "v", 2);
    EXPECT_EQ(reg.ReadInteger("mine"), 7);
    reg.CloseKey();
    auto c = std::make_shared<FileBackend>(path);
    EXPECT_EQ(Get(c, "K", "mine"), 7);
}

TEST_F(RegistryFileTest, TheFileIsPrivateToTheUser)
{
    auto b = std::make_shared<FileBackend>(path);
    Put(b, "K", "v", 1);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// ---- atomic replacement -----------------------------------------------------------------

TEST_F(RegistryFileTest, NoTemporaryFileIsLeftBehind)
{
    auto b = std::make_shared<FileBackend>(path);
    for (int i = 0; i < 5; ++i)
        Put(b, "K", "v" + std::to_string(i), i);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"registry.ini"});
}

TEST_F(RegistryFileTest, AnUnwritableDirectoryLeavesTheOldFile)
{
    auto b = std::make_shared<FileBackend>(path);
    Put(b, "K", "v", 1);
    const std::string before = ReadAll(path);
    ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
    if (::access(dir.c_str(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore directory permissions";

    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("K", false));
    reg.WriteInteger("v", 2);
    EXPECT_THROW(reg.CloseKey(), RegistryIoError);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"registry.ini"});

    // The change is kept and stored once the directory is writable again.
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    b->Flush();
    EXPECT_EQ(Get(std::make_shared<FileBackend>(path), "K", "v"), 2);
}

// Limits the size of files this process may write, so that writing the new file fails
// half-way whatever the process's rights.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = old_;
        lim.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    struct rlimit old_;
    void (*oldHandler_)(int);
    bool ok_ = false;
};

TEST_F(RegistryFileTest, AWriteFailingHalfWayLeavesTheOldFile)
{
    auto b = std::make_shared<FileBackend>(path);
    Put(b, "K", "v", 1);
    const std::string before = ReadAll(path);

    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("K", false));
    reg.WriteString("big", std::string(20000, 'x'));
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.ok());
        try {
            reg.CloseKey();
            FAIL() << "storing more than the file size limit must fail";
        } catch (const RegistryIoError& e) {
            EXPECT_NE(std::string(e.what()).find("writing failed"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"registry.ini"});

    b->Flush();   // nothing was lost in memory
    Registry again(std::make_shared<FileBackend>(path));
    ASSERT_TRUE(again.OpenKey("K", false));
    EXPECT_EQ(again.ReadString("big").size(), 20000u);
}

// ---- damaged and unreadable files -------------------------------------------------------

TEST_F(RegistryFileTest, ADamagedFileIsReportedKeptAndItsGoodPartUsed)
{
    fs::create_directories(dir);
    const std::string damaged =
        "# settings\n"
        "[Software\\Good]\n"
        "\"a\"=dword:0000002a\n"
        "\"b\"=dword:zz\n"
        "garbage line\n"
        "\"c\"=sz:\"fine\"\n";
    WriteAll(path, damaged);

    auto b = std::make_shared<FileBackend>(path);
    const std::string problem = b->LoadProblem();
    EXPECT_NE(problem.find("is damaged"), std::string::npos) << problem;
    EXPECT_NE(problem.find("line 4"), std::string::npos) << problem;
    EXPECT_NE(problem.find("line 5"), std::string::npos) << problem;
    EXPECT_NE(problem.find(path + ".bad"), std::string::npos) << problem;
    EXPECT_EQ(ReadAll(path + ".bad"), damaged);
    qsrf_fuzz::SaveFuzzSeed("registry", path + ".bad");

    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("Software\\Good", false));
    EXPECT_EQ(reg.ReadInteger("a"), 42);
    EXPECT_FALSE(reg.ValueExists("b"));
    EXPECT_EQ(reg.ReadString("c"), "fine");

    // Storing rewrites the file cleanly; the damaged copy stays.
    reg.WriteInteger("d", 4);
    reg.CloseKey();
    EXPECT_EQ(std::make_shared<FileBackend>(path)->LoadProblem(), "");
    EXPECT_EQ(ReadAll(path + ".bad"), damaged);
}

TEST_F(RegistryFileTest, AFileThatCannotBeReadIsNeverOverwritten)
{
    fs::create_directories(path);   // a directory where the file should be: reading fails
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_NE(b->LoadProblem().find("cannot be read"), std::string::npos) << b->LoadProblem();

    Registry reg(b);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteInteger("v", 1);
    try {
        reg.CloseKey();
        FAIL();
    } catch (const RegistryIoError& e) {
        EXPECT_NE(std::string(e.what()).find("not overwritten"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(RegistryFileTest, AFileWithoutReadPermissionIsNeverOverwritten)
{
    auto b0 = std::make_shared<FileBackend>(path);
    Put(b0, "K", "v", 1);
    const std::string before = ReadAll(path);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    if (::access(path.c_str(), R_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore file permissions";
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_NE(b->LoadProblem(), "");
    EXPECT_THROW(Put(b, "K", "v", 2), RegistryIoError);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(RegistryFileTest, ANamedPipeIsRefusedAtOnceAndNeverReplaced)
{
    fs::create_directories(dir);
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(path));
    std::shared_ptr<FileBackend> b;
    const auto problem = qsrf_test::ReadWithDeadline(path, [&] {
        b = std::make_shared<FileBackend>(path);
        return b->LoadProblem();
    });
    ASSERT_TRUE(problem.has_value()) << "reading a named pipe as the settings file blocked";
    EXPECT_EQ(*problem, "The settings file \"" + path +
                            "\" cannot be read: it is a named pipe, not a regular file. Settings "
                            "are not stored, so that the file is not overwritten.");
    EXPECT_THROW(Put(b, "K", "v", 1), RegistryIoError);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(RegistryFileTest, AFileTooLongIsNeitherReadNorCopiedNorOverwritten)
{
    fs::create_directories(dir);
    const unsigned long long size = 2ull << 30;   // sparse: it takes no room on disk
    {
        std::ofstream(path) << "[K]\n";
    }
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_EQ(b->LoadProblem(), "The settings file \"" + path + "\" cannot be read: it is " + std::to_string(size) +
                                    " bytes long; a settings file holds at most 4194304 bytes. Settings are not "
                                    "stored, so that the file is not overwritten.");
    EXPECT_FALSE(fs::exists(path + ".bad"));
    EXPECT_THROW(Put(b, "K", "v", 1), RegistryIoError);
    EXPECT_EQ(fs::file_size(path), size);
}

// ---- key depth --------------------------------------------------------------------------

// A key path of `depth` names "k".
std::string DeepKey(size_t depth)
{
    std::string key;
    key.reserve(2 * depth);
    for (size_t i = 0; i < depth; ++i)
        key += i ? "\\k" : "k";
    return key;
}

TEST_F(RegistryFileTest, AKeyTooDeepInTheFileIsRefusedAndTheRestKept)
{
    fs::create_directories(dir);
    const std::string text = "[Software\\Good]\n\"a\"=dword:00000007\n"
                             "[" + DeepKey(300000) + "]\n\"lost\"=dword:00000001\n"
                             "[Software\\After]\n\"b\"=dword:00000008\n";
    WriteAll(path, text);

    auto b = std::make_shared<FileBackend>(path);
    const std::string problem = b->LoadProblem();
    EXPECT_NE(problem.find("line 3: Registry key \"k\\k\\k\\...\" is 300000 levels deep; keys may "
                           "be at most 64 levels deep."),
              std::string::npos)
        << problem.substr(0, 400);
    EXPECT_EQ(ReadAll(path + ".bad"), text);
    EXPECT_EQ(Get(b, "Software\\Good", "a"), 7);
    EXPECT_EQ(Get(b, "Software\\After", "b"), 8);
    EXPECT_FALSE(Registry(b).KeyExists("k"));

    // Storing writes the readable part only, which reads back without complaint.
    Put(b, "Software\\Good", "c", 9);
    EXPECT_LT(ReadAll(path).size(), 1000u);
    auto again = std::make_shared<FileBackend>(path);
    EXPECT_EQ(again->LoadProblem(), "");
    EXPECT_EQ(Get(again, "Software\\Good", "c"), 9);
}

TEST_F(RegistryFileTest, KeysUpToTheLimitAreStoredAndReadBack)
{
    {
        auto b = std::make_shared<FileBackend>(path);
        Put(b, DeepKey(kMaxKeyDepth), "deepest", 64);
        Put(b, "Software\\Kestrove NT\\Qsrf\\0.01\\PSM\\ControlPara", "WaitingTime", 500);
    }
    auto b = std::make_shared<FileBackend>(path);
    EXPECT_EQ(b->LoadProblem(), "");
    EXPECT_EQ(Get(b, DeepKey(kMaxKeyDepth), "deepest"), 64);
    EXPECT_EQ(Get(b, "Software\\Kestrove NT\\Qsrf\\0.01\\PSM\\ControlPara", "WaitingTime"), 500);
    // Every level above the deepest key is a key line of its own.
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\n[k]\n"), std::string::npos);
    EXPECT_NE(text.find("\n[" + DeepKey(kMaxKeyDepth - 1) + "]\n\n[" + DeepKey(kMaxKeyDepth) +
                        "]\n\"deepest\"=dword:00000040\n"),
              std::string::npos);
}

// ---- where the file lives ---------------------------------------------------------------

class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name)
    {
        const char* v = std::getenv(name);
        had_ = v != nullptr;
        if (v)
            value_ = v;
    }
    ~EnvGuard()
    {
        if (had_)
            ::setenv(name_, value_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

TEST(RegistryFileLocation, FollowsXdgConfigHomeThenHome)
{
    EnvGuard xdg("XDG_CONFIG_HOME"), home("HOME");
    ::setenv("HOME", "/home/op", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/conf/", 1);
    EXPECT_EQ(FileBackend::DefaultPath(), "/srv/conf/vistrel/registry.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/conf", 1);   // not absolute: ignored
    EXPECT_EQ(FileBackend::DefaultPath(), "/home/op/.config/vistrel/registry.ini");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(FileBackend::DefaultPath(), "/home/op/.config/vistrel/registry.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(FileBackend::DefaultPath(), "/home/op/.config/vistrel/registry.ini");
}

TEST_F(RegistryFileTest, TheDefaultProcessBackendIsTheFileUnderXdgConfigHome)
{
    EnvGuard xdg("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", root.c_str(), 1);
    SetProcessBackend(nullptr);
    {
        Registry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Quorvel\\Halcyra\\Hlccout\\Options", true));
        reg.WriteInteger("DontClose", 1);
        reg.CloseKey();
    }
    SetProcessBackend(nullptr);
    EXPECT_EQ(Get(std::make_shared<FileBackend>(path), "Software\\Quorvel\\Halcyra\\Hlccout\\Options",
                  "DontClose"),
              1);
}

// ---- the text format --------------------------------------------------------------------

std::vector<std::string> ParseErrors(const std::string& text)
{
    std::vector<std::string> errors;
    ParseTree(text, errors);
    return errors;
}

TEST(RegistryFormat, AcceptsCommentsBlanksCrLfAndTheRootKey)
{
    std::vector<std::string> errors;
    auto tree = ParseTree("# c\r\n\r\n   # indented comment\n[]\r\n\"top\"=dword:1\r\n"
                          "[A\\B]\n\"x\"=hex:\n\"y\"=sz:\"\"  \n",
                          errors);
    EXPECT_TRUE(errors.empty()) << errors[0];
    ASSERT_EQ(tree->values.count("TOP"), 1u);
    EXPECT_EQ(tree->values.at("top"), Value::OfInteger(1));
    const auto& b = *tree->subkeys.at("a")->subkeys.at("b");
    EXPECT_EQ(b.values.at("x"), Value::OfBinary({}));
    EXPECT_EQ(b.values.at("y"), Value::OfString(""));
}

TEST(RegistryFormat, ReportsEachBadLineByNumber)
{
    EXPECT_EQ(ParseErrors("\"v\"=dword:1\n"),
              std::vector<std::string>{"line 1: a value before the first key"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=dword:123456789\n"),
              std::vector<std::string>{"line 2: dword: must be followed by 1 to 8 hex digits"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=hex:abc\n"),
              std::vector<std::string>{"line 2: hex: must be followed by pairs of hex digits"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=qword:1\n"),
              std::vector<std::string>{"line 2: the value type must be dword:, hex: or sz:"});
    EXPECT_EQ(ParseErrors("[K]\n\"v=dword:1\n"),
              std::vector<std::string>{"line 2: the quoted text is not closed"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=sz:\"\\q\"\n"),
              std::vector<std::string>{"line 2: unknown escape \\q"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=sz:\"\\x4\"\n"),
              std::vector<std::string>{"line 2: \\x must be followed by two hex digits"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\" dword:1\n"),
              std::vector<std::string>{"line 2: '=' must follow the value name"});
    EXPECT_EQ(ParseErrors("[K\n"), std::vector<std::string>{"line 1: a key line must end with ']'"});
    EXPECT_EQ(ParseErrors("[A\\\\B]\n\"v\"=dword:1\n"),
              std::vector<std::string>{"line 1: \"A\\\\B\" is not a key path"});
    EXPECT_EQ(ParseErrors("[K]\n\"v\"=sz:\"a\" b\n"),
              std::vector<std::string>{"line 2: unexpected characters after the text"});
}

TEST(RegistryFormat, DwordIsTwosComplement)
{
    std::vector<std::string> errors;
    auto tree = ParseTree("[K]\n\"neg\"=dword:ffffffff\n\"top\"=dword:80000000\n", errors);
    ASSERT_TRUE(errors.empty());
    EXPECT_EQ(tree->subkeys.at("K")->values.at("neg").integer, -1);
    EXPECT_EQ(static_cast<uint32_t>(tree->subkeys.at("K")->values.at("top").integer), 0x80000000u);
}

TEST(RegistryFormat, AKeyDeeperThanTheLimitIsOneBadLine)
{
    std::string key;
    for (size_t i = 0; i <= kMaxKeyDepth; ++i)
        key += i ? "\\n" : "n";
    EXPECT_EQ(ParseErrors("[" + key + "]\n\"v\"=dword:1\n[K]\n"),
              std::vector<std::string>{"line 1: Registry key \"n\\n\\n\\...\" is 65 levels deep; "
                                       "keys may be at most 64 levels deep."});
}

TEST(RegistryFormat, AVeryDeepTreeIsFreedWithoutExhaustingTheStack)
{
    auto root = std::make_unique<MemoryBackend::Node>();
    MemoryBackend::Node* n = root.get();
    for (int i = 0; i < 200000; ++i) {
        auto& child = n->subkeys["k"];
        child = std::make_unique<MemoryBackend::Node>();
        n = child.get();
    }
    n->values["leaf"] = Value::OfInteger(1);
    root.reset();   // a recursive destructor overflows the stack here
    SUCCEED();
}

TEST(RegistryFormat, SerializeThenParseGivesTheSameTree)
{
    auto original = std::make_unique<MemoryBackend::Node>();
    original->values["r"] = Value::OfFloat(-2.5);
    auto& k = original->subkeys["Software"];
    k = std::make_unique<MemoryBackend::Node>();
    k->values["i"] = Value::OfInteger(-7);
    k->values["s"] = Value::OfString(std::string("a\0b", 3));
    k->values["b"] = Value::OfBinary({0xde, 0xad});
    k->subkeys["Empty"] = std::make_unique<MemoryBackend::Node>();

    const std::string text = SerializeTree(*original);
    std::vector<std::string> errors;
    auto parsed = ParseTree(text, errors);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(SerializeTree(*parsed), text);
    EXPECT_EQ(parsed->subkeys.at("software")->values.at("s").text, std::string("a\0b", 3));
    EXPECT_EQ(parsed->subkeys.at("software")->subkeys.count("empty"), 1u);
}

}  // namespace
