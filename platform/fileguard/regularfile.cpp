#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qsrf {

bool IsRegularFile(const char* path)
{
    struct stat st;
    return path && *path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

std::string WhyNotRegularFile(const char* path)
{
    struct stat st;
    if (!path || !*path || ::stat(path, &st) != 0)
        return "not found";
    if (S_ISREG(st.st_mode))
        return "";
    if (S_ISDIR(st.st_mode))
        return "a directory";
    if (S_ISFIFO(st.st_mode))
        return "a named pipe";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "a device";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    return "not a regular file";
}

namespace {

// Takes O_NONBLOCK off again: it only kept the open from waiting for a pipe's writer.
bool MakeBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

int Refuse(int fd, OpenRefusal reason, OpenRefusal* why)
{
    if (fd >= 0)
        ::close(fd);
    if (why)
        *why = reason;
    return -1;
}

}  // namespace

int OpenRegularFile(const char* path, uint64_t maxBytes, OpenRefusal* why)
{
    if (why)
        *why = OpenRefusal::kNone;
    if (!path || !*path)
        return Refuse(-1, OpenRefusal::kNotFound, why);
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return Refuse(-1, OpenRefusal::kNotFound, why);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return Refuse(fd, OpenRefusal::kNotRegular, why);
    if (maxBytes != 0 && static_cast<uint64_t>(st.st_size) > maxBytes)
        return Refuse(fd, OpenRefusal::kTooLarge, why);
    if (!MakeBlocking(fd))
        return Refuse(fd, OpenRefusal::kNotFound, why);
    return fd;
}

std::FILE* OpenRegularStream(const char* path, const char* mode, uint64_t maxBytes, OpenRefusal* why)
{
    const int fd = OpenRegularFile(path, maxBytes, why);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, mode);
    if (!file) {
        Refuse(fd, OpenRefusal::kNotFound, why);
        return nullptr;
    }
    return file;
}

std::FILE* OpenDiagnosticFile(const char* path)
{
    if (!path || !*path)
        return nullptr;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return nullptr;   // a link (ELOOP), a pipe without reader (ENXIO), a directory
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0 || !MakeBlocking(fd)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file)
        ::close(fd);
    return file;
}

}  // namespace qsrf
