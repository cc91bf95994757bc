// Finding halcyra.ini along its path variables, and the reader's console messages.
// The two messages that appear once per process are checked by the first tests of this
// program, before any other test has read a file.
#include "initest.h"

#include "../../../fuzz/namedpipe.h"
#include "hostutil.h"

#include <sys/stat.h>

#include <functional>

using initest::IniTest;

namespace {

class IniFindTest : public IniTest {
protected:
    std::string Make(const std::string& dir)
    {
        const std::string full = root_ + "/" + dir;
        EXPECT_TRUE(testing_console::MakeDirs(full));
        std::ofstream(full + "/halcyra.ini") << "VmSpeedLimit=30\n";
        char* real = realpath((full + "/halcyra.ini").c_str(), nullptr);
        std::string r = real != nullptr ? real : "";
        std::free(real);
        return r;
    }
    std::string Found()
    {
        char* p = FindHalcyraIniFile();
        std::string r = p != nullptr ? p : "";
        std::free(p);
        return r;
    }
    // Runs a read that must not block on a named pipe at the file's place; its result.
    _HALCYRA_INI_ST* ReadBesidePipe(const std::function<_HALCYRA_INI_ST*()>& read)
    {
        _HALCYRA_INI_ST* g = reinterpret_cast<_HALCYRA_INI_ST*>(1);
        EXPECT_TRUE(qsrf_test::ReadWithDeadline(path_, [&] {
            g = read();
            return std::string();
        }).has_value());
        return g;
    }
    // The data was read from the current directory's file, which sets VmSpeedLimit=31.
    void ExpectCurrentDirectoryFile(const _HALCYRA_INI_ST* g)
    {
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->VmSpeedLimit, 31u);
        char* real = realpath((root_ + "/cwd/halcyra.ini").c_str(), nullptr);
        EXPECT_STREQ(g->FilePath, real);
        std::free(real);
    }
};

TEST_F(IniFindTest, UseMessageIsPrintedOncePerProcess)
{
    ASSERT_NE(Load("ApplicationMessaging=2\n"), nullptr);
    char* real = realpath(path_.c_str(), nullptr);
    EXPECT_EQ(ConsoleOutput(), std::string("\nHlcLib use Ini file '") + real + "'\n\n");
    std::free(real);
    EXPECT_EQ(console_->Records()[0].command, 2);
    HalcyraIniFree(nullptr);
    const size_t before = console_->Records().size();
    ASSERT_NE(HalcyraIniGetFile(0), nullptr);
    EXPECT_EQ(console_->Records().size(), before);
}

TEST_F(IniFindTest, NotFoundListingIsPrintedOncePerProcess)
{
    // A directory of HLCINIPATH that does not exist is named as such.
    setenv("HLCINIPATH", (root_ + "/etc;" + root_ + "/missing").c_str(), 1);
    EXPECT_EQ(HalcyraIniGetFile(0), nullptr);
    EXPECT_EQ(HalcyraIniSt, nullptr);
    const std::string cwd = root_ + "/cwd";
    char* realCwd = realpath(cwd.c_str(), nullptr);
    const std::string expected =
        "\nHlcLib was unable to locate file 'halcyra.ini' in any of the following path(s):\n"
        "HLCINIPATH=" + root_ + "/etc;" + root_ + "/missing\n"
        "HLCINIPATH names no directory '" + root_ + "/missing'\n" +
        std::getenv("HALCYRA") + "/shell/\n" +
        realCwd + "\n"
        "COFFPATH is not set\n"
        "PATH=" + root_ + "/nowhere\n";
    std::free(realCwd);
    EXPECT_EQ(ConsoleOutput(), expected);
    EXPECT_EQ(console_->Records()[0].command, 2);   // opened with mode 2

    const size_t before = console_->Records().size();
    EXPECT_EQ(HalcyraIniGetFile(0), nullptr);
    EXPECT_EQ(console_->Records().size(), before);
}

// The file is taken from the current directory although HLCINIPATH names another place (a
// directory without the file, or none at all): the console says so.
TEST_F(IniFindTest, FileFoundBesideHlcIniPathIsReported)
{
    std::ofstream(root_ + "/cwd/halcyra.ini") << "VmSpeedLimit=31\n";
    char* real = realpath((root_ + "/cwd/halcyra.ini").c_str(), nullptr);
    const std::string taken = std::string("HlcLib takes '") + real + "' instead\n\n";
    std::free(real);
    const struct {
        std::string iniPath, lines;
    } cases[] = {
        {root_ + "/etc", ""},
        {root_ + "/none", "HLCINIPATH names no directory '" + root_ + "/none'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.iniPath);
        setenv("HLCINIPATH", c.iniPath.c_str(), 1);
        const size_t before = ConsoleTexts().size();
        ExpectCurrentDirectoryFile(HalcyraIniGetFile(0));
        std::string printed;
        const std::vector<std::string> texts = ConsoleTexts();
        for (size_t i = before; i < texts.size(); ++i)
            printed += texts[i];
        // (the reader's use message, once per process, may follow)
        const std::string expected =
            "\nHlcLib found no file 'halcyra.ini' along HLCINIPATH=" + c.iniPath + "\n" + c.lines + taken;
        EXPECT_EQ(printed.substr(0, expected.size()), expected);
        HalcyraIniFree(nullptr);
    }
}

TEST_F(IniFindTest, UnreadableFileIsReportedWithItsPath)
{
    ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);   // a directory where the file should be
    EXPECT_EQ(HalcyraIniGetFile(0), nullptr);    // the search passes it over
    const std::string error = "\nHlcLib error while handling Ini file '" + path_ + "'\n\n";
    EXPECT_EQ(ConsoleOutput().find(error), std::string::npos);
    EXPECT_EQ(HalcyraIniLoad(path_.c_str(), nullptr, 0), nullptr);
    EXPECT_NE(ConsoleOutput().find(error), std::string::npos);
    EXPECT_EQ(HalcyraIniSt, nullptr);
}

TEST_F(IniFindTest, SearchOrderOfThePathVariables)
{
    const std::string ini = Make("ini");
    const std::string shell = Make("inst/shell");
    const std::string cwd = Make("cwd");
    const std::string coff = Make("coff");
    const std::string path = Make("bin");
    ASSERT_EQ(unlink((root_ + "/cwd/halcyra.ini").c_str()), 0);

    setenv("HLCINIPATH", (root_ + "/none;" + root_ + "/ini").c_str(), 1);
    setenv("HALCYRA", (root_ + "/inst").c_str(), 1);
    setenv("COFFPATH", (root_ + "/coff").c_str(), 1);
    setenv("PATH", (root_ + "/bin").c_str(), 1);
    EXPECT_EQ(Found(), ini);
    unsetenv("HLCINIPATH");
    EXPECT_EQ(Found(), shell);
    unsetenv("HALCYRA");
    EXPECT_EQ(Found(), coff);
    Make("cwd");
    EXPECT_EQ(Found(), cwd);   // the current directory comes before COFFPATH
    ASSERT_EQ(unlink((root_ + "/cwd/halcyra.ini").c_str()), 0);
    unsetenv("COFFPATH");
    EXPECT_EQ(Found(), path);
    unsetenv("PATH");
    EXPECT_EQ(Found(), "");
}

TEST_F(IniFindTest, SearchSeesTheEnvironmentOnly)
{
    // The loaded file asks for its own settings first and names a directory holding
    // another halcyra.ini as CoffPath: the search still takes COFFPATH from the
    // environment.
    Make("other");
    ASSERT_NE(Load("IgnoreEnvVar=1\nCoffPath=" + root_ + "/other\n"), nullptr);
    setenv("COFFPATH", (root_ + "/none").c_str(), 1);
    EXPECT_STREQ(im_getenv(0, "COFFPATH"), (root_ + "/other").c_str());
    setenv("HLCINIPATH", (root_ + "/none").c_str(), 1);
    unsetenv("PATH");
    EXPECT_EQ(Found(), "");
}

TEST_F(IniFindTest, FoundPathIsFullEvenFromTheCurrentDirectory)
{
    unsetenv("HLCINIPATH");
    std::ofstream(root_ + "/cwd/halcyra.ini") << "VmSpeedLimit=31\n";
    ExpectCurrentDirectoryFile(HalcyraIniGetFile(0));
}

// ---- named pipes in place of the file ---------------------------------------------------------

TEST_F(IniFindTest, PipeOnTheSearchPathIsPassedOverForTheNextFile)
{
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(path_));
    std::ofstream(root_ + "/cwd/halcyra.ini") << "VmSpeedLimit=31\n";
    ExpectCurrentDirectoryFile(ReadBesidePipe([] { return HalcyraIniGetFile(0); }));
}

TEST_F(IniFindTest, PipeAloneIsNotFoundAndAPipeGivenByPathIsRefused)
{
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(path_));
    EXPECT_EQ(ReadBesidePipe([] { return HalcyraIniGetFile(0); }), nullptr);
    EXPECT_EQ(ReadBesidePipe([this] { return HalcyraIniLoad(path_.c_str(), nullptr, 0); }), nullptr);
    EXPECT_EQ(HalcyraIniSt, nullptr);
    EXPECT_NE(ConsoleOutput().find("\nHlcLib error while handling Ini file '" + path_ + "'\n\n"), std::string::npos);
}

}  // namespace
