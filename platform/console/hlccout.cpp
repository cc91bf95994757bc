// hlccout: the console output program of the board library.
//
// Serves the console pipe (consolewire.h): prints the text records of every connected
// library process on standard output, waits for the Enter key on a prompt record, and
// answers the abort questions of long waits: "Abort" when the user typed "abort" (or "a")
// and Enter since the last question, else "Continue".
//
// Options (registry, see ReadConsoleOptions): "Snooze" 1 ends the program at once, so
// the console stays off.  The program ends when the programs that used it have ended: once
// its last client has disconnected, or, for a client that connected in mode 2 (or every
// client when "DontClose" is 1), once that client's process has ended too, so that a
// program may close the pipe and connect again meanwhile.  Started by the library
// (HLCCOUT_STARTER names the starting process), it also ends when that process has ended
// without connecting.  SIGINT and SIGTERM end it too; the pipe is removed on the way out.
#include "consolewire.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

// How often the program looks whether the processes it waits for have ended (ms).
constexpr int kWatchMs = 100;

struct Client {
    int fd = -1;
    pid_t pid = 0;               // the connected process; 0 when not known
    bool gotMode = false;
    bool keepOpen = false;       // the console outlives this connection while its process runs
    std::vector<unsigned char> pending;   // bytes of a record not yet complete
};

struct Console {
    bool keepOpen = false;       // "DontClose": every connection keeps the console open
    bool served = false;         // a library process has connected (sent its mode record)
    pid_t starter = 0;           // the library process that started the program; 0 none
    std::vector<pid_t> lingering;   // processes of closed keep-open connections
    bool stdinOpen = true;
    bool abortRequested = false;
    std::string stdinLine;
};

// The process at the other end of a connection; 0 when it cannot be told.
pid_t PeerProcess(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return 0;
    return credentials.pid;
}

// True while the process runs: it exists and has not ended (an ended process whose parent
// has not collected it yet still has its entry, in state Z).
bool ProcessRuns(pid_t pid)
{
    if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM))
        return false;
    const std::string path = "/proc/" + std::to_string(static_cast<long>(pid)) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return true;
    struct stat st {};
    char text[512] = {};
    ssize_t n = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return true;
    text[n] = '\0';
    // "pid (name) state ...": the name may hold anything, the state follows its last ')'.
    const char* end = std::strrchr(text, ')');
    return end == nullptr || end[1] != ' ' || (end[2] != 'Z' && end[2] != 'X');
}

void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Takes one line typed by the user.
void TakeInputLine(Console& console, std::string line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    for (char& c : line)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line == "abort" || line == "a") {
        console.abortRequested = true;
        Print("Abort requested.\n");
    }
}

// Reads what is available on standard input; false at its end.
bool ReadInput(Console& console)
{
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0)
        return false;
    for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
            TakeInputLine(console, console.stdinLine);
            console.stdinLine.clear();
        } else if (console.stdinLine.size() < 200) {
            console.stdinLine += buffer[i];
        }
    }
    return true;
}

// Waits for the user to press Enter (nothing to wait for once standard input has ended).
void WaitForEnter(Console& console)
{
    while (console.stdinOpen && !g_stop) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            console.stdinOpen = false;
            break;
        }
        if (c == '\n')
            break;
    }
}

// Handles one record; false when the client is to be dropped.
bool Handle(Console& console, Client& client, const hlccon::Record& record)
{
    if (!client.gotMode) {
        client.gotMode = true;
        console.served = true;
        client.keepOpen = record.command == hlccon::kCommandKeepOpen || console.keepOpen;
        return true;
    }
    switch (record.command) {
    case hlccon::kCommandText:
        Print(record.Text());
        return true;
    case hlccon::kCommandPrompt:
        Print(record.Text());
        WaitForEnter(console);
        return hlccon::SendAnswer(client.fd, hlccon::kPromptAnswer, hlccon::kPromptAnswerBytes);
    case hlccon::kCommandAbortQuery: {
        const std::string since = record.Text();
        if (since != "z")
            Print("The host is waiting since " + since +
                  (since.empty() || since.back() != '\n' ? "\n" : "") +
                  "Type \"abort\" and Enter to abort the wait.\n");
        const bool abort = console.abortRequested;
        console.abortRequested = false;
        return hlccon::SendAnswer(client.fd, abort ? hlccon::kAbortAnswer : hlccon::kContinueAnswer,
                                  hlccon::kAbortAnswerBytes);
    }
    default:
        return true;   // unknown commands are passed over
    }
}

// Reads what the client sent; false when it has gone.
bool Serve(Console& console, Client& client)
{
    unsigned char buffer[1024];
    const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0)
        return false;
    client.pending.insert(client.pending.end(), buffer, buffer + n);
    size_t used = 0;
    while (client.pending.size() - used >= hlccon::kRecordBytes) {
        const hlccon::Record record = hlccon::DecodeRecord(client.pending.data() + used);
        used += hlccon::kRecordBytes;
        if (!Handle(console, client, record))
            return false;
    }
    client.pending.erase(client.pending.begin(), client.pending.begin() + static_cast<long>(used));
    return true;
}

// Creates the listening socket; -1 when another console already serves the path.
int Listen(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        const bool served = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        if (served)
            return -1;
    }
    unlink(path.c_str());   // a pipe left behind by a console that ended

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main()
{
    const hlccon::ConsoleOptions options = hlccon::ReadConsoleOptions();
    if (options.snooze)
        return 0;

    const std::string path = hlccon::PipePath();
    if (path.empty()) {
        std::fprintf(stderr, "hlccout: no usable path for the console pipe\n");
        return 1;
    }
    const int listener = Listen(path);
    if (listener < 0) {
        std::fprintf(stderr, "hlccout: the console pipe %s is served already or cannot be created\n",
                     path.c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Console console;
    console.keepOpen = options.dontClose;
    if (const char* starter = std::getenv("HLCCOUT_STARTER"))
        console.starter = static_cast<pid_t>(std::strtol(starter, nullptr, 10));
    std::vector<Client> clients;

    while (!g_stop) {
        // The end is decided only when nothing is pending (a poll that found nothing), so
        // that the records and connections a program made before it ended are served
        // first.  A connection that never sent its mode record (another console checking
        // whether the pipe is served) does not count.
        const bool unclaimed = console.served && clients.empty() && console.lingering.empty();
        const bool watching = !console.lingering.empty() || (!console.served && console.starter > 0);
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        fds.push_back({console.stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), unclaimed ? 0 : watching ? kWatchMs : -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            auto& l = console.lingering;
            l.erase(std::remove_if(l.begin(), l.end(), [](pid_t pid) { return !ProcessRuns(pid); }), l.end());
            if (console.served && clients.empty() && l.empty())
                break;
            if (!console.served && console.starter > 0 && !ProcessRuns(console.starter))
                break;   // the program that started this one has ended without connecting
            continue;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            console.stdinOpen = ReadInput(console);
        // Clients first, so that a connection made now is not dropped by the index shift.
        std::vector<Client> kept;
        for (size_t i = 0; i < clients.size(); ++i) {
            const short ev = fds[i + 2].revents;
            if (ev == 0 || Serve(console, clients[i])) {
                kept.push_back(std::move(clients[i]));
                continue;
            }
            close(clients[i].fd);
            const Client& gone = clients[i];
            auto& l = console.lingering;
            if (gone.gotMode && gone.keepOpen && gone.pid > 0 && std::find(l.begin(), l.end(), gone.pid) == l.end())
                l.push_back(gone.pid);
        }
        clients.swap(kept);
        if (fds[0].revents & POLLIN) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Client c;
                c.fd = fd;
                c.pid = PeerProcess(fd);
                clients.push_back(std::move(c));
            }
        }
    }

    for (const Client& c : clients)
        close(c.fd);
    close(listener);
    unlink(path.c_str());
    return 0;
}
