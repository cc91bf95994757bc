// Every file reader asks here before it opens a path: only a regular file (after
// following links) may be opened, so a named pipe, a device or a directory given as a
// file name is refused at once instead of blocking the reader or reading without end.
//
// Thread safety: both functions are reentrant; they keep no state.
#pragma once

#include <string>

namespace qsrf {

// True when `path` names an existing regular file. A null or empty path is false.
bool IsRegularFile(const char* path);
inline bool IsRegularFile(const std::string& path) { return IsRegularFile(path.c_str()); }

// The reason a path is refused, for a reader's message: "" when it is a regular file,
// otherwise "not found", "a directory", "a named pipe", "a device", "a socket" or
// "not a regular file".
std::string WhyNotRegularFile(const char* path);

}  // namespace qsrf
