// Console output pipe: connecting (and starting the console program), text records,
// prompts, the abort question of long waits and the turning bar.
#include "consolepipe.h"

#include "consolewire.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// The connection. The mutex keeps the records of one message together and pairs each
// question with its answer; the descriptor itself is read without it for the quick
// "console off" checks.
std::mutex g_pipeMutex;
std::atomic<int> g_pipe{-1};

std::mutex g_spinMutex;
// Never destroyed: a node's threads may still use it while the process ends.
std::string& g_waitStart = *new std::string;   // asctime text of the first round of the current wait
std::atomic<void (*)(double)> g_spinSleep{nullptr};

void DefaultSleep(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Connects to the pipe; -1 with errno when there is no console there.
int TryConnect(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}

// An executable hlccout in the directory; empty when there is none.
std::string ProgramIn(std::string dir)
{
    if (dir.empty())
        dir = ".";
    const std::string candidate = dir + "/hlccout";
    return access(candidate.c_str(), X_OK) == 0 ? candidate : std::string();
}

// The console program installed with this library: the library in <prefix>/lib, the
// program in <prefix>/bin.  Empty when the library's own file is not known or no program
// lies there.
std::string ProgramBesideLibrary()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&im_open_pipe), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    const std::string library = info.dli_fname;
    const size_t slash = library.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return ProgramIn(library.substr(0, slash) + "/../bin");
}

// The console program: $HALCYRA/util/winnt/hlccout, else hlccout found on the PATH, else
// the one installed beside the library (so that an installed library finds its console
// without any setting).  Empty when it cannot be found.
std::string ConsoleProgram()
{
    const char* base = std::getenv("HALCYRA");
    if (base != nullptr) {
        std::string path = base;
        if (path.empty() || path.back() != '/')
            path += '/';
        return path + "util/winnt/hlccout";
    }
    const char* search = std::getenv("PATH");
    std::string list = search != nullptr ? search : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string found = ProgramIn(list.substr(start, end - start));
        if (!found.empty())
            return found;
        start = end + 1;
    }
    return ProgramBesideLibrary();
}

// The console program's environment: this process's, with the variable that names the
// process that started it (hlccout.cpp), so that a console this process started and
// never reached does not outlive it.
std::vector<std::string> ConsoleEnvironment()
{
    static const char kStarter[] = "HLCCOUT_STARTER=";
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (std::strncmp(*e, kStarter, sizeof kStarter - 1) != 0)
            env.emplace_back(*e);
    env.push_back(kStarter + std::to_string(static_cast<long>(getpid())));
    return env;
}

// Starts the console program detached from this process (it is not our child, so it
// needs no reaping). On success *alive is a descriptor that reports end of file once the
// program has ended. False when the program could not be started.
bool StartConsole(int* alive)
{
    const std::string program = ConsoleProgram();
    if (program.empty())
        return false;

    int status[2];   // exec failure report: closed by a successful exec
    int life[2];     // the program keeps the write end open for its whole life
    if (pipe2(status, O_CLOEXEC) != 0)
        return false;
    if (pipe2(life, O_CLOEXEC) != 0) {
        close(status[0]);
        close(status[1]);
        return false;
    }
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    // Made before the fork: the child may only make async-signal-safe calls.
    std::vector<std::string> environment = ConsoleEnvironment();
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t middle = fork();
    if (middle == 0) {
        // Only async-signal-safe calls from here on.
        setsid();
        const pid_t child = fork();
        if (child == 0) {
            const int keep = dup(life[1]);   // a duplicate is not closed by exec
            (void)keep;
            execve(program.c_str(), argv, envp.data());
            const int error = errno;
            ssize_t ignored = write(status[1], &error, sizeof error);
            (void)ignored;
            _exit(127);
        }
        _exit(child > 0 ? 0 : 1);
    }
    close(status[1]);
    close(life[1]);
    bool started = false;
    if (middle > 0) {
        int middleStatus = 0;
        while (waitpid(middle, &middleStatus, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(middleStatus) && WEXITSTATUS(middleStatus) == 0) {
            int error = 0;
            ssize_t n;
            do {
                n = read(status[0], &error, sizeof error);
            } while (n < 0 && errno == EINTR);
            started = (n == 0);   // end of file: the exec went through
        }
    }
    close(status[0]);
    if (!started) {
        close(life[0]);
        return false;
    }
    *alive = life[0];
    return true;
}

// True once the started program has ended.
bool ConsoleEnded(int alive)
{
    pollfd p{alive, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}

// Sends text records for the text (see im_print_msg). Called with the mutex held.
void SendText(int fd, const char* text, size_t length)
{
    size_t start = 0;
    while (start < length) {
        size_t n = 0;
        while (start + n < length && n < hlccon::kMaxTextChars && text[start + n] != '\n')
            ++n;
        if (start + n < length && text[start + n] == '\n')
            ++n;   // the line feed ends the record, also right after 79 characters
        hlccon::SendRecord(fd, hlccon::kCommandText, text + start, n);
        start += n;
    }
}

}  // namespace

int im_open_pipe(int32_t mode)
{
    std::lock_guard<std::mutex> lock(g_pipeMutex);
    if (g_pipe.load() >= 0)
        return 0;
    if (mode == -1)
        return 0;
    if (mode == 0) {
        const hlccon::ConsoleOptions options = hlccon::ReadConsoleOptions();
        if (options.snooze)
            return 0;
        if (options.dontClose)
            mode = hlccon::kCommandKeepOpen;
    }
    const std::string path = hlccon::PipePath();
    if (path.empty())
        return 0;

    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(kConsoleConnectLimit));
    int alive = -1;
    bool started = false;
    int fd = TryConnect(path);
    while (fd < 0) {
        const int error = errno;
        if (!started && (error == ENOENT || error == ECONNREFUSED)) {
            // No console serves the pipe: start one (once).
            if (!StartConsole(&alive))
                return 0;
            started = true;
        }
        // A started program that has ended gets one last attempt (another console may
        // have taken the pipe meanwhile).
        const bool ended = started && ConsoleEnded(alive);
        if (ended || std::chrono::steady_clock::now() >= deadline) {
            fd = TryConnect(path);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fd = TryConnect(path);
    }
    if (alive >= 0)
        close(alive);
    if (fd < 0)
        return 0;   // the console stays off
    hlccon::SendRecord(fd, mode, "", 0);
    g_pipe.store(fd);
    return 0;
}

void im_close_pipe()
{
    std::lock_guard<std::mutex> lock(g_pipeMutex);
    const int fd = g_pipe.exchange(-1);
    if (fd >= 0)
        close(fd);
}

bool im_pipe_is_open() { return g_pipe.load() >= 0; }

int im_print_msg(int prompt, const char* format, ...)
{
    if (g_pipe.load() < 0 || format == nullptr)
        return 0;
    char small[200];
    std::vector<char> large;
    const char* text = small;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(length) + 1);
        length = std::vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (length < 0)
        return 0;

    std::lock_guard<std::mutex> lock(g_pipeMutex);
    const int fd = g_pipe.load();
    if (fd < 0)
        return 0;
    SendText(fd, text, static_cast<size_t>(length));
    if (prompt != 0 && hlccon::SendRecord(fd, hlccon::kCommandPrompt, "", 0)) {
        char answer[hlccon::kPromptAnswerBytes];
        hlccon::ReadAll(fd, answer, sizeof answer);   // content not used
    }
    return length;
}

void im_print_not_found(const char* what, const char* name, const char* variable, const char* value)
{
    im_open_pipe(2);
    if (name == nullptr) {
        im_print_msg(0, "\nHlcLib has no %s name: %s is not set\n", what, variable);
        return;
    }
    im_print_msg(0, "\nHlcLib was unable to locate %s '%s' in any of the following path(s):\n", what, name);
    char cwd[4096];
    im_print_msg(0, "%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".");
    if (value != nullptr)
        im_print_msg(0, "%s=%s\n", variable, value);
    else
        im_print_msg(0, "%s is not set\n", variable);
}

int im_spin_while(int32_t* counter, int32_t stillWaiting)
{
    if (counter == nullptr)
        return 0;
    if (stillWaiting == 0) {
        *counter = 0;
        return 0;
    }
    if (*counter == -1) {
        *counter = 0;
        return -1;
    }
    const bool firstRound = (*counter == 0);
    std::string question;
    if (firstRound) {
        im_print_msg(0, "WARNING: Host is waiting for a local resource.\n");
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[64];
        std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &local);   // asctime form
        std::lock_guard<std::mutex> lock(g_spinMutex);
        g_waitStart = text;
        question = g_waitStart;
    } else {
        question = "z";
    }
    *counter = *counter % 20 + 1;
    if (*counter == 1) {
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        const int fd = g_pipe.load();
        if (fd >= 0 &&
            hlccon::SendRecord(fd, hlccon::kCommandAbortQuery, question.c_str(), question.size())) {
            char answer[hlccon::kAbortAnswerBytes] = {};
            if (hlccon::ReadAll(fd, answer, sizeof answer) &&
                std::memcmp(answer, hlccon::kAbortAnswer, sizeof hlccon::kAbortAnswer) == 0) {
                *counter = -1;
                return -1;
            }
        }
    }
    void (*sleep)(double) = g_spinSleep.load();
    if (sleep == nullptr)
        sleep = DefaultSleep;
    sleep(0.25);
    return 1;
}

void im_spin_prompt(int32_t* state)
{
    if (state == nullptr || g_pipe.load() < 0)
        return;
    switch (*state) {
    case 1: im_print_msg(0, "\\"); *state = '\\'; break;
    case '\\': im_print_msg(0, "\b-"); *state = '-'; break;
    case '-': im_print_msg(0, "\b/"); *state = '/'; break;
    case '/': im_print_msg(0, "\b|"); *state = '|'; break;
    case '|': im_print_msg(0, "\b\\"); *state = '\\'; break;
    case 0: im_print_msg(0, "\b"); break;
    default: break;
    }
}

void im_set_spin_sleep(void (*sleep)(double seconds)) { g_spinSleep.store(sleep); }
