#include "Readablefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

}  // namespace

TReadableFile::TReadableFile(const std::string& path)
{
    // O_NONBLOCK: opening a named pipe for reading returns at once instead of waiting for
    // a writer; it changes nothing for a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        errno_ = errno;
        why_ = std::strerror(errno_);
        return;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        errno_ = errno;
        why_ = std::strerror(errno_);
        ::close(fd);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        kind_ = KindOf(st.st_mode);
        why_ = "It is " + (kind_ == "not a regular file" ? kind_ : kind_ + ", not a regular file") + ".";
        ::close(fd);
        return;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
}

TReadableFile::~TReadableFile()
{
    if (fd_ >= 0) ::close(fd_);
}

int TReadableFile::Release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

TReadResult ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what, std::string& text,
                          std::string& why)
{
    text.clear();
    TReadableFile file(path);
    if (!file.IsOpen()) {
        why = file.Why();
        return TReadResult::Refused;
    }
    auto tooLong = [&](const std::string& size) {
        why = "It is " + size + " bytes long; " + what + " holds at most " + std::to_string(limit) + " bytes.";
        text.clear();
        return TReadResult::Refused;
    };
    if (file.Size() > limit) return tooLong(std::to_string(file.Size()));
    text.resize(static_cast<size_t>(file.Size()));
    size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            // Room for one byte beyond the limit tells a file that grew past it.
            if (done > limit) return tooLong("more than " + std::to_string(limit));
            text.resize(static_cast<size_t>(std::min<uint64_t>(limit + 1, done + 65536)));
        }
        const ssize_t n = ::read(file.Fd(), &text[done], text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            why = std::strerror(errno);
            text.clear();
            return TReadResult::ReadFailed;
        }
    }
    text.resize(done);
    return TReadResult::Done;
}
