#include "regularfile.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/fileguard-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        path = made ? made : "";
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

TEST(RegularFile, OnlyARegularFileOrALinkToOneIsAccepted)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string file = dir.path + "/plain.txt";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("x", f);
    std::fclose(f);
    const std::string link = dir.path + "/link";
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);

    EXPECT_TRUE(qsrf::IsRegularFile(file));
    EXPECT_TRUE(qsrf::IsRegularFile(link));
    EXPECT_EQ(qsrf::WhyNotRegularFile(file.c_str()), "");
}

TEST(RegularFile, PipesDevicesDirectoriesAndMissingPathsAreRefusedWithTheirReason)
{
    TempDir dir;
    const std::string fifo = dir.path + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sock = dir.path + "/sock";
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    EXPECT_FALSE(qsrf::IsRegularFile(fifo));
    EXPECT_EQ(qsrf::WhyNotRegularFile(fifo.c_str()), "a named pipe");
    EXPECT_FALSE(qsrf::IsRegularFile("/dev/null"));
    EXPECT_EQ(qsrf::WhyNotRegularFile("/dev/null"), "a device");
    EXPECT_FALSE(qsrf::IsRegularFile(dir.path));
    EXPECT_EQ(qsrf::WhyNotRegularFile(dir.path.c_str()), "a directory");
    EXPECT_EQ(qsrf::WhyNotRegularFile(sock.c_str()), "a socket");
    EXPECT_FALSE(qsrf::IsRegularFile(dir.path + "/missing"));
    EXPECT_EQ(qsrf::WhyNotRegularFile((dir.path + "/missing").c_str()), "not found");
    EXPECT_FALSE(qsrf::IsRegularFile(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(qsrf::IsRegularFile(""));
    ::close(s);
}

}  // namespace
