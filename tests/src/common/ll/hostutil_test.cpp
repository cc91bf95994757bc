#include "hostutil.h"

#include "fakeconsole.h"
#include "../../../fuzz/namedpipe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

namespace {

// ---- im_getenv -------------------------------------------------------------------------

std::map<std::string, std::string> g_iniValues;
int g_iniState = -1;

int IniState() { return g_iniState; }
const char* IniText(uint32_t node, const char* name)
{
    auto it = g_iniValues.find(std::to_string(node) + ":" + name);
    return it == g_iniValues.end() ? nullptr : it->second.c_str();
}
const HlcIniLookup kIni{IniState, IniText};

class GetEnvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_iniValues.clear();
        g_iniState = -1;
        im_set_ini_lookup(&kIni);
        setenv("HLCTEST_BOTH", "from-env", 1);
        unsetenv("HLCTEST_INI");
        unsetenv("HLCTEST_NONE");
        g_iniValues["0:HLCTEST_BOTH"] = "from-ini";
        g_iniValues["0:HLCTEST_INI"] = "ini-only";
        g_iniValues["17:HLCTEST_BOTH"] = "node-17";
    }
    void TearDown() override
    {
        im_set_ini_lookup(nullptr);
        unsetenv("HLCTEST_BOTH");
    }
};

TEST_F(GetEnvTest, WithoutIniDataOnlyTheEnvironmentIsAsked)
{
    EXPECT_STREQ(im_getenv(0, "HLCTEST_BOTH"), "from-env");
    EXPECT_EQ(im_getenv(0, "HLCTEST_INI"), nullptr);
}

TEST_F(GetEnvTest, EnvironmentFirstThenIni)
{
    g_iniState = 0;
    EXPECT_STREQ(im_getenv(0, "HLCTEST_BOTH"), "from-env");
    EXPECT_STREQ(im_getenv(0, "HLCTEST_INI"), "ini-only");
    EXPECT_EQ(im_getenv(0, "HLCTEST_NONE"), nullptr);
}

TEST_F(GetEnvTest, IgnoreEnvVarAsksIniFirst)
{
    g_iniState = 1;
    EXPECT_STREQ(im_getenv(0, "HLCTEST_BOTH"), "from-ini");
    EXPECT_STREQ(im_getenv(17, "HLCTEST_BOTH"), "node-17");
    setenv("HLCTEST_NONE", "env-fallback", 1);
    EXPECT_STREQ(im_getenv(0, "HLCTEST_NONE"), "env-fallback");
    unsetenv("HLCTEST_NONE");
}

TEST_F(GetEnvTest, NoLookupInstalledMeansEnvironment)
{
    im_set_ini_lookup(nullptr);
    EXPECT_STREQ(im_getenv(0, "HLCTEST_BOTH"), "from-env");
    EXPECT_EQ(im_getenv(0, nullptr), nullptr);
    EXPECT_EQ(im_getenv(0, ""), nullptr);
}

// ---- im_search_env ---------------------------------------------------------------------

class SearchEnvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hlcsearchXXXXXX";
        root_ = mkdtemp(dir);
        ASSERT_EQ(mkdir((root_ + "/a").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root_ + "/b").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root_ + "/cwd").c_str(), 0755), 0);
        getcwd(oldCwd_, sizeof oldCwd_);
        ASSERT_EQ(chdir((root_ + "/cwd").c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(oldCwd_), 0);
        testing_console::RemoveTree(root_);
        unsetenv("HLCTEST_PATH");
    }
    void Touch(const std::string& relative)
    {
        std::ofstream(root_ + "/" + relative) << "x";
    }

    std::string root_;
    char oldCwd_[1024] = {};
};

TEST_F(SearchEnvTest, NullNameReportsInAllocatedBuffer)
{
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, nullptr, ".ini", "HLCTEST_PATH", "r", &path), 0);
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "No file name specified");
    std::free(path);
}

TEST_F(SearchEnvTest, EmptyNameFails)
{
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "", nullptr, nullptr, nullptr, &path), 0);
    EXPECT_STREQ(path, "");
    std::free(path);
}

TEST_F(SearchEnvTest, NameWithoutDotGetsExtensionThenEachDirectoryInOrder)
{
    Touch("a/cam.dcf");
    Touch("b/cam.dcf");
    Touch("b/other.dcf");
    setenv("HLCTEST_PATH", (root_ + "/nowhere;" + root_ + "/a;" + root_ + "/b/").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "cam", ".dcf", "HLCTEST_PATH", "r", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/a/cam.dcf");
    EXPECT_EQ(im_search_env(0, "other", ".dcf", "HLCTEST_PATH", "r", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/b/other.dcf");
    std::free(path);
}

TEST_F(SearchEnvTest, NameAsGivenIsTriedFirst)
{
    Touch("cwd/cam.dcf");
    Touch("a/cam.dcf");
    setenv("HLCTEST_PATH", (root_ + "/a").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "cam", ".dcf", "HLCTEST_PATH", "r", &path), 1);
    EXPECT_STREQ(path, "cam.dcf");
    std::free(path);
}

TEST_F(SearchEnvTest, NameWithDotKeepsItsExtension)
{
    Touch("a/cam.txt");
    Touch("a/cam.txt.dcf");
    setenv("HLCTEST_PATH", (root_ + "/a").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "cam.txt", ".dcf", "HLCTEST_PATH", nullptr, &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/a/cam.txt");
    std::free(path);
}

TEST_F(SearchEnvTest, NameBeginningWithDotIsTriedOnlyAsGiven)
{
    Touch("a/.hidden.ini");
    Touch("a/.hidden");
    setenv("HLCTEST_PATH", (root_ + "/a").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, ".hidden", ".ini", "HLCTEST_PATH", "r", &path), 0);
    EXPECT_STREQ(path, ".hidden");
    Touch("cwd/.hidden.ini");
    EXPECT_EQ(im_search_env(0, ".hidden", ".ini", "HLCTEST_PATH", "r", &path), 1);
    EXPECT_STREQ(path, ".hidden.ini");   // the extension was added
    std::free(path);
}

TEST_F(SearchEnvTest, AbsoluteAndHomeNamesAreNotSearched)
{
    Touch("a/x.ini");
    setenv("HLCTEST_PATH", (root_ + "/a").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "/nonexistent/x.ini", nullptr, "HLCTEST_PATH", "r", &path), 0);
    EXPECT_STREQ(path, "/nonexistent/x.ini");
    EXPECT_EQ(im_search_env(0, "~x.ini", nullptr, "HLCTEST_PATH", "r", &path), 0);
    EXPECT_EQ(im_search_env(0, "c:x.ini", nullptr, "HLCTEST_PATH", "r", &path), 0);
    std::free(path);
}

TEST_F(SearchEnvTest, NotFoundLeavesNameAsGiven)
{
    setenv("HLCTEST_PATH", (root_ + "/a;" + root_ + "/b").c_str(), 1);
    char buffer[kSearchPathBytes];
    char* path = buffer;
    EXPECT_EQ(im_search_env(0, "absent", ".ini", "HLCTEST_PATH", "r", &path), 0);
    EXPECT_EQ(path, buffer);   // the caller's buffer was used
    EXPECT_STREQ(buffer, "absent");
}

TEST_F(SearchEnvTest, ColonSeparatedListsWorkToo)
{
    Touch("b/f.res");
    setenv("HLCTEST_PATH", (root_ + "/a:" + root_ + "/b").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "f.res", nullptr, "HLCTEST_PATH", "r", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/b/f.res");
    std::free(path);
}

TEST_F(SearchEnvTest, DirectoriesThatWouldNotFitAreSkipped)
{
    Touch("b/f.res");
    const std::string huge = "/" + std::string(600, 'd');
    setenv("HLCTEST_PATH", (huge + ";" + root_ + "/b").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "f.res", nullptr, "HLCTEST_PATH", "r", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/b/f.res");
    std::free(path);
}

TEST_F(SearchEnvTest, OverlongNameIsCutInTheResult)
{
    const std::string name(700, 'n');
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, name.c_str(), nullptr, "HLCTEST_PATH", "r", &path), 0);
    EXPECT_EQ(std::strlen(path), kSearchPathBytes - 1);
    std::free(path);
}

TEST_F(SearchEnvTest, ExistenceWithoutModeFindsRegularFilesOnly)
{
    char* path = nullptr;
    setenv("HLCTEST_PATH", root_.c_str(), 1);
    EXPECT_EQ(im_search_env(0, "a", nullptr, "HLCTEST_PATH", "", &path), 0);   // a directory
    EXPECT_STREQ(path, "a");
    Touch("a/f");
    EXPECT_EQ(im_search_env(0, "a/f", nullptr, "HLCTEST_PATH", "", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/a/f");
    std::free(path);
}

TEST_F(SearchEnvTest, NamedPipeIsPassedOverForTheNextDirectory)
{
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(root_ + "/a/cam.dcf"));
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(root_ + "/cwd/pipe.dcf"));
    Touch("b/cam.dcf");
    setenv("HLCTEST_PATH", (root_ + "/a;" + root_ + "/b").c_str(), 1);
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "cam", ".dcf", "HLCTEST_PATH", "r", &path), 1);
    EXPECT_EQ(std::string(path), root_ + "/b/cam.dcf");
    EXPECT_EQ(im_search_env(0, "pipe", ".dcf", "HLCTEST_PATH", "r", &path), 0);
    EXPECT_STREQ(path, "pipe");
    EXPECT_EQ(im_search_env(0, (root_ + "/a/cam.dcf").c_str(), nullptr, "HLCTEST_PATH", nullptr, &path), 0);
    std::free(path);
}

TEST_F(SearchEnvTest, UnsetVariableOnlyTriesTheName)
{
    Touch("a/f.res");
    char* path = nullptr;
    EXPECT_EQ(im_search_env(0, "f.res", nullptr, "HLCTEST_PATH", "r", &path), 0);
    EXPECT_EQ(im_search_env(0, "f.res", nullptr, nullptr, "r", &path), 0);
    std::free(path);
}

}  // namespace
