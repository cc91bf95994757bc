// The input of a fuzz target as a file: the readers under test take a path, so each input
// is written to one regular file of this process (made once, rewritten for every input,
// removed when the process ends) and its path handed to the reader.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qsrf_fuzz {

inline std::string& InputPath()
{
    static std::string path;
    return path;
}

inline void RemoveInputFile()
{
    if (!InputPath().empty())
        ::unlink(InputPath().c_str());
}

// Writes data to the process's input file and returns its path; aborts (a fuzzing setup
// fault, not a finding) when the file cannot be written.
inline const std::string& WriteFuzzInput(const uint8_t* data, size_t size)
{
    std::string& path = InputPath();
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/qsrf-fuzz-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::perror("qsrf fuzz: cannot create the input file");
            std::abort();
        }
        ::close(fd);
        path = name;
        std::atexit(RemoveInputFile);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (fd < 0 || done != size || ::close(fd) != 0) {
        std::perror("qsrf fuzz: cannot write the input file");
        std::abort();
    }
    return path;
}

}  // namespace qsrf_fuzz
