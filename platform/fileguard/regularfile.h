// Every file reader opens its file here: the path is opened without blocking (a named
// pipe or a device given as a file name, or swapped in for the file at any moment, never
// holds the open), the opened descriptor is looked at, and only a regular file (after
// following links) within the reader's size limit is kept. The check and the read so
// concern the same file. The path checks below serve searches and messages only.
//
// Diagnostic files are written through OpenDiagnosticFile: it never follows a link onto
// another file and never blocks on a pipe.
//
// Thread safety: every function is reentrant; none keeps state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qsrf {

// True when `path` names an existing regular file. A null or empty path is false.
bool IsRegularFile(const char* path);
inline bool IsRegularFile(const std::string& path) { return IsRegularFile(path.c_str()); }

// The reason a path is refused, for a reader's message: "" when it is a regular file,
// otherwise "not found", "a directory", "a named pipe", "a device", "a socket" or
// "not a regular file".
std::string WhyNotRegularFile(const char* path);

// Why OpenRegularFile refused a path.
enum class OpenRefusal {
    kNone,         // opened
    kNotFound,     // null or empty path, or the open failed
    kNotRegular,   // a pipe, device, directory or socket
    kTooLarge,     // larger than the reader's limit
};

// Opens `path` for reading and returns the descriptor (blocking reads, close-on-exec),
// or -1 with the reason in *why (when given). maxBytes is the reader's size limit,
// checked on the opened file before anything is read; 0 means none.
int OpenRegularFile(const char* path, uint64_t maxBytes, OpenRefusal* why = nullptr);

// The same as a stream for the C library's reads; `mode` is "r" or "rb". Null when
// refused.
std::FILE* OpenRegularStream(const char* path, const char* mode, uint64_t maxBytes, OpenRefusal* why = nullptr);

// Creates or empties the regular file `path` for writing and returns its stream, or null
// when the path is a link, a pipe, a device or a directory, or cannot be opened. The file
// is emptied only after it is known to be a regular file.
std::FILE* OpenDiagnosticFile(const char* path);

}  // namespace qsrf
