// The console program itself, run as a separate process.
#include "consolepipe.h"
#include "consolewire.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

extern char** environ;

namespace {

void RemoveTree(const std::string& path)
{
    nftw(
        path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

bool MakeDirs(const std::string& path)
{
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            mkdir(path.substr(0, i).c_str(), 0755);
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class HlccoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hlccoutXXXXXX";
        dir_ = mkdtemp(dir);
        pipePath_ = dir_ + "/pipe";
        setenv("HLCCOUT_PIPE", pipePath_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (input_ >= 0)
            close(input_);
        if (output_ >= 0)
            close(output_);
        unsetenv("HLCCOUT_PIPE");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("HALCYRA");
        RemoveTree(dir_);
    }

    void WriteOption(const std::string& name, int32_t value)
    {
        auto backend = std::make_shared<qsrf::registry::FileBackend>(
            qsrf::registry::FileBackend::DefaultPath());
        qsrf::registry::Registry r(backend);
        ASSERT_TRUE(r.OpenKey("\\Software\\Quorvel\\Halcyra\\Hlccout\\Options", true));
        r.WriteInteger(name, value);
        r.CloseKey();
    }

    // Starts hlccout with its standard input and output on pipes of ours.
    void Start()
    {
        int in[2], out[2];
        ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            char* const argv[] = {const_cast<char*>(HLCCOUT_PROGRAM), nullptr};
            execve(HLCCOUT_PROGRAM, argv, environ);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        output_ = out[0];
        fcntl(output_, F_SETFL, O_NONBLOCK);
    }

    // Connects to the program's pipe, waiting for it to appear (15 s: a loaded machine).
    int Connect()
    {
        for (int attempt = 0; attempt < 1500; ++attempt) {
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, pipePath_.c_str());
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                return fd;
            close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Reads the program's output until it holds `wanted` (or five seconds have passed).
    std::string ReadOutputUntil(const std::string& wanted)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (output_text_.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{output_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buffer[256];
                const ssize_t n = read(output_, buffer, sizeof buffer);
                if (n > 0)
                    output_text_.append(buffer, static_cast<size_t>(n));
                else if (n == 0)
                    break;
            }
        }
        return output_text_;
    }

    // Waits for the program to end; its exit status, or -1 when it still runs after 5 s.
    int WaitExit()
    {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    bool PipeExists() const
    {
        struct stat st;
        return stat(pipePath_.c_str(), &st) == 0;
    }

    std::string dir_, pipePath_;
    pid_t pid_ = -1;
    int input_ = -1, output_ = -1;
    std::string output_text_;
};

TEST_F(HlccoutTest, PrintsAnswersAndEndsWithItsLastClient)
{
    Start();
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandText, "", 0));   // mode 0
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandText, "hello console\n", 14));
    EXPECT_NE(ReadOutputUntil("hello console\n").find("hello console\n"), std::string::npos);

    // A prompt is answered once the user pressed Enter.
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandPrompt, "", 0));
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 100), 0);   // still waiting for the user
    ASSERT_EQ(write(input_, "\n", 1), 1);
    char ack[hlccon::kPromptAnswerBytes];
    ASSERT_TRUE(hlccon::ReadAll(fd, ack, sizeof ack));

    // Abort questions: "Continue" until the user typed abort.
    const char since[] = "Mon Dec  8 21:02:00 2025\n";
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandAbortQuery, since, sizeof since - 1));
    char answer[hlccon::kAbortAnswerBytes];
    ASSERT_TRUE(hlccon::ReadAll(fd, answer, sizeof answer));
    EXPECT_STREQ(answer, "Continue");
    EXPECT_NE(ReadOutputUntil("abort").find(since), std::string::npos);
    ASSERT_EQ(write(input_, "abort\n", 6), 6);
    ReadOutputUntil("Abort requested.\n");
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandAbortQuery, "z", 1));
    ASSERT_TRUE(hlccon::ReadAll(fd, answer, sizeof answer));
    EXPECT_STREQ(answer, "Abort");
    ASSERT_TRUE(hlccon::SendRecord(fd, hlccon::kCommandAbortQuery, "z", 1));
    ASSERT_TRUE(hlccon::ReadAll(fd, answer, sizeof answer));
    EXPECT_STREQ(answer, "Continue");   // one abort per request

    close(fd);
    EXPECT_EQ(WaitExit(), 0);
    EXPECT_FALSE(PipeExists());
}

TEST_F(HlccoutTest, FullRecordWithoutTerminatorIsPrintedWhole)
{
    Start();
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    hlccon::SendRecord(fd, hlccon::kCommandText, "", 0);
    const std::string line = std::string(79, 'w') + "\n";
    hlccon::SendRecord(fd, hlccon::kCommandText, line.data(), line.size());
    hlccon::SendRecord(fd, hlccon::kCommandText, "after\n", 6);
    EXPECT_EQ(ReadOutputUntil("after\n"), line + "after\n");
    close(fd);
    EXPECT_EQ(WaitExit(), 0);
}

TEST_F(HlccoutTest, SnoozeEndsAtOnceWithoutPipe)
{
    WriteOption("Snooze", 1);
    Start();
    EXPECT_EQ(WaitExit(), 0);
    EXPECT_FALSE(PipeExists());
}

TEST_F(HlccoutTest, KeepOpenModeOutlivesTheClient)
{
    Start();
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    hlccon::SendRecord(fd, hlccon::kCommandKeepOpen, "", 0);
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);   // still running
    const int again = Connect();
    EXPECT_GE(again, 0);
    close(again);
    kill(pid_, SIGTERM);
    EXPECT_EQ(WaitExit(), 0);
    EXPECT_FALSE(PipeExists());
}

TEST_F(HlccoutTest, DontCloseOptionOutlivesTheClient)
{
    WriteOption("DontClose", 1);
    Start();
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    hlccon::SendRecord(fd, hlccon::kCommandText, "", 0);
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);
    kill(pid_, SIGTERM);
    EXPECT_EQ(WaitExit(), 0);
}

TEST_F(HlccoutTest, SecondConsoleLeavesTheServedPipeAlone)
{
    Start();
    const int fd = Connect();
    ASSERT_GE(fd, 0);
    hlccon::SendRecord(fd, hlccon::kCommandText, "", 0);
    const pid_t first = pid_;
    const int firstInput = input_, firstOutput = output_;
    Start();
    EXPECT_EQ(WaitExit(), 1);   // the pipe is served already
    pid_ = first;
    close(input_);
    close(output_);
    input_ = firstInput;
    output_ = firstOutput;
    EXPECT_TRUE(PipeExists());
    hlccon::SendRecord(fd, hlccon::kCommandText, "still here\n", 11);
    EXPECT_NE(ReadOutputUntil("still here\n").find("still here\n"), std::string::npos);
    close(fd);
    EXPECT_EQ(WaitExit(), 0);
}

TEST_F(HlccoutTest, LibraryStartsTheProgramFromItsInstallation)
{
    // $HALCYRA/util/winnt/hlccout, started by the library's first open.
    ASSERT_TRUE(MakeDirs(dir_ + "/inst/util/winnt"));
    ASSERT_EQ(symlink(HLCCOUT_PROGRAM, (dir_ + "/inst/util/winnt/hlccout").c_str()), 0);
    setenv("HALCYRA", (dir_ + "/inst").c_str(), 1);
    qsrf::registry::ScopedProcessBackend scoped(std::make_shared<qsrf::registry::MemoryBackend>());

    im_open_pipe(0);
    ASSERT_TRUE(im_pipe_is_open());
    EXPECT_TRUE(PipeExists());
    EXPECT_EQ(im_print_msg(0, "from the library\n"), 17);
    im_close_pipe();
    // The program ends with its last client and removes the pipe.
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = !PipeExists();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

}  // namespace
