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

// The opened file decides: a link to a regular file within the limit is read; a pipe
// (never waited for), a device, a missing path and a file beyond the limit (sparse) are
// refused with their reason.
TEST(RegularFile, OpenKeepsOnlyARegularFileWithinItsLimit)
{
    TempDir dir;
    const std::string file = dir.path + "/plain.txt";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("abc", f);
    std::fclose(f);
    const std::string link = dir.path + "/link";
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    const std::string fifo = dir.path + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sparse = dir.path + "/sparse";
    std::fclose(std::fopen(sparse.c_str(), "w"));
    ASSERT_EQ(::truncate(sparse.c_str(), 1537LL << 20), 0);

    std::FILE* read = qsrf::OpenRegularStream(link.c_str(), "r", 3);
    ASSERT_NE(read, nullptr);
    char text[8] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, read), 3u);
    EXPECT_STREQ(text, "abc");
    std::fclose(read);

    const struct {
        std::string path;
        uint64_t limit;
        qsrf::OpenRefusal why;
    } refused[] = {
        {fifo, 0, qsrf::OpenRefusal::kNotRegular},
        {"/dev/null", 0, qsrf::OpenRefusal::kNotRegular},
        {dir.path + "/missing", 0, qsrf::OpenRefusal::kNotFound},
        {file, 2, qsrf::OpenRefusal::kTooLarge},
        {sparse, 4u << 20, qsrf::OpenRefusal::kTooLarge},
    };
    for (const auto& r : refused) {
        qsrf::OpenRefusal why = qsrf::OpenRefusal::kNone;
        EXPECT_EQ(qsrf::OpenRegularFile(r.path.c_str(), r.limit, &why), -1) << r.path;
        EXPECT_EQ(why, r.why) << r.path;
    }
    const int fd = qsrf::OpenRegularFile(sparse.c_str(), 0);
    EXPECT_GE(fd, 0);
    ::close(fd);
}

}  // namespace
