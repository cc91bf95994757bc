// Tests that give a reader a named pipe instead of a file: the reader must refuse it at
// once, but a reader that does not would block for ever in open() or read(). The read
// therefore runs on its own thread with a deadline; when the deadline passes, the pipe's
// write end is opened and closed until the reader sees end of file and returns, so a
// faulty reader fails its test instead of hanging it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>

namespace qsrf_test {

// Makes a named pipe at path; false when it cannot be made.
inline bool MakeNamedPipe(const std::string& path)
{
    ::unlink(path.c_str());
    return ::mkfifo(path.c_str(), 0600) == 0;
}

// Runs read (which returns what the reader reported, e.g. its error message) and gives its
// result, or nullopt when it did not return within the deadline.
inline std::optional<std::string> ReadWithDeadline(
    const std::string& pipePath, std::function<std::string()> read,
    std::chrono::milliseconds deadline = std::chrono::seconds(5))
{
    std::future<std::string> done = std::async(std::launch::async, std::move(read));
    if (done.wait_for(deadline) == std::future_status::ready)
        return done.get();
    // Unblock the reader: a writer that opens and closes the pipe ends its open() and
    // gives its read() end of file. Repeat in case it opens the pipe more than once.
    for (int i = 0; i < 200 && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready; ++i) {
        const int fd = ::open(pipePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        done.get();
    return std::nullopt;
}

}  // namespace qsrf_test
