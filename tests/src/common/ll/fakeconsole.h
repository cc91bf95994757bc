// An in-process console program for tests: listens on a temporary pipe path (exported
// as HLCCOUT_PIPE), accepts connections, records every record it receives and answers
// prompts and abort questions. Also gives the test an in-memory registry so that the
// user's console options do not leak in, and a HALCYRA that names no console program.
#pragma once

#include "consolewire.h"
#include "registry.h"

#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_console {

// Removes a directory tree (without a shell: tests may change PATH).
inline void RemoveTree(const std::string& path)
{
    nftw(
        path.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

// Creates a directory and the missing ones above it; true when it exists afterwards.
inline bool MakeDirs(const std::string& path)
{
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/')
            mkdir(path.substr(0, i).c_str(), 0755);
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FakeConsole {
public:
    // listen false: the pipe path is exported, but nothing serves it. delayMs > 0: the
    // pipe appears only after that time (a console program that takes a while to start).
    explicit FakeConsole(bool listen = true, int delayMs = 0)
    {
        char dir[] = "/tmp/hlcconXXXXXX";
        dir_ = mkdtemp(dir);
        path_ = dir_ + "/pipe";
        setenv("HLCCOUT_PIPE", path_.c_str(), 1);
        setenv("HALCYRA", (dir_ + "/noinstall").c_str(), 1);
        if (!listen)
            return;
        if (delayMs == 0)
            Bind();
        thread_ = std::thread([this, delayMs] {
            if (delayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                Bind();
            }
            Run();
        });
    }

    ~FakeConsole()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
        unlink(path_.c_str());
        RemoveTree(dir_);
        unsetenv("HLCCOUT_PIPE");
        unsetenv("HALCYRA");
    }

    const std::string& Dir() const { return dir_; }

    // The answer given to the next abort questions.
    void SetAbortAnswer(const std::string& answer)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abortAnswer_ = answer;
    }

    // Waits until at least n records have arrived (or five seconds have passed).
    std::vector<hlccon::Record> WaitRecords(size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return records_.size() >= n; });
        return records_;
    }
    // Lets every record already written to the pipe arrive, then returns all of them: waits
    // until the listener has seen its sockets idle (no connection or byte pending) after this
    // call began. Without a listener the records are those there are.
    std::vector<hlccon::Record> Records()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (thread_.joinable()) {
            const uint64_t wanted = ++drainRequested_;
            changed_.wait_for(lock, std::chrono::seconds(5), [&] { return drained_ >= wanted; });
        }
        return records_;
    }
    int Connections()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_;
    }
    int Answered()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return answered_;
    }

private:
    void Bind()
    {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
    }

    void Run()
    {
        std::vector<int> clients;
        while (!stop_) {
            uint64_t requested;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requested = drainRequested_;
            }
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (int c : clients)
                fds.push_back({c, POLLIN, 0});
            const int ready = poll(fds.data(), fds.size(), 10);
            if (ready == 0) {
                // Idle since the request was read: everything written before it has arrived.
                std::lock_guard<std::mutex> lock(mutex_);
                drained_ = requested;
                changed_.notify_all();
            }
            if (ready <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    clients.push_back(c);
                    std::lock_guard<std::mutex> lock(mutex_);
                    ++connections_;
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                hlccon::Record r;
                if (!hlccon::ReceiveRecord(fds[i].fd, &r)) {
                    close(fds[i].fd);
                    clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
                    break;
                }
                std::string abort;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    records_.push_back(r);
                    abort = abortAnswer_;
                }
                if (r.command == hlccon::kCommandPrompt) {
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        ++answered_;
                    }
                    hlccon::SendAnswer(fds[i].fd, "Ok", hlccon::kPromptAnswerBytes);
                } else if (r.command == hlccon::kCommandAbortQuery) {
                    hlccon::SendAnswer(fds[i].fd, abort.c_str(), hlccon::kAbortAnswerBytes);
                }
                changed_.notify_all();
            }
        }
        for (int c : clients)
            close(c);
    }

    std::string dir_, path_;
    int listener_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<hlccon::Record> records_;
    std::string abortAnswer_ = "Continue";
    int connections_ = 0;
    int answered_ = 0;
    uint64_t drainRequested_ = 0;
    uint64_t drained_ = 0;
};

// An in-memory registry for the console options.
inline std::shared_ptr<qsrf::registry::MemoryBackend> ConsoleRegistry()
{
    return std::make_shared<qsrf::registry::MemoryBackend>();
}

inline void SetConsoleOption(qsrf::registry::RegistryBackend& backend, const std::string& key,
                             const std::string& name, int32_t value)
{
    qsrf::registry::Registry r(std::shared_ptr<qsrf::registry::RegistryBackend>(
        &backend, [](qsrf::registry::RegistryBackend*) {}));
    r.OpenKey(key, true);
    r.WriteInteger(name, value);
    r.CloseKey();
}

constexpr const char* kOptionsKey = "\\Software\\Quorvel\\Halcyra\\Hlccout\\Options";
constexpr const char* kFallbackOptionsKey = "\\Software\\Quorvel\\Hlccout\\Options";

}  // namespace testing_console
