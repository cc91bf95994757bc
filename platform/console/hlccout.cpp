// hlccout: the console output program of the board library.
//
// Serves the console pipe (consolewire.h): prints the text records of every connected
// library process on standard output, waits for the Enter key on a prompt record, and
// answers the abort questions of long waits: "Abort" when the user typed "abort" (or "a")
// and Enter since the last question, else "Continue".
//
// Options (registry, see ReadConsoleOptions): "Snooze" 1 ends the program at once, so
// the console stays off; "DontClose" 1 keeps it running after the last library process
// has left, as does a connection made in mode 2. Otherwise the program ends when its last
// client disconnects. SIGINT and SIGTERM end it too; the pipe is removed on the way out.
#include "consolewire.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

struct Client {
    int fd = -1;
    bool gotMode = false;
    std::vector<unsigned char> pending;   // bytes of a record not yet complete
};

struct Console {
    bool keepOpen = false;
    bool served = false;         // a library process has connected (sent its mode record)
    bool stdinOpen = true;
    bool abortRequested = false;
    std::string stdinLine;
};

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
        if (record.command == hlccon::kCommandKeepOpen)
            console.keepOpen = true;
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
    std::vector<Client> clients;

    while (!g_stop) {
        // A connection that never sent its mode record (another console checking
        // whether the pipe is served) does not count.
        if (console.served && clients.empty() && !console.keepOpen)
            break;
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        fds.push_back({console.stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            console.stdinOpen = ReadInput(console);
        // Clients first, so that a connection made now is not dropped by the index shift.
        std::vector<Client> kept;
        for (size_t i = 0; i < clients.size(); ++i) {
            const short ev = fds[i + 2].revents;
            if (ev == 0 || Serve(console, clients[i])) {
                kept.push_back(std::move(clients[i]));
            } else {
                close(clients[i].fd);
            }
        }
        clients.swap(kept);
        if (fds[0].revents & POLLIN) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Client c;
                c.fd = fd;
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
