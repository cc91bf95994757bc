#include "regularfile.h"

#include <sys/stat.h>

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

}  // namespace qsrf
