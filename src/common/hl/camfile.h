// Camera files: the reader that turns a camera file (or camera-file text in memory) into
// the entry list a node builds a camera record from, and the writer that stores a saved
// entry list as a camera file.
//
// A camera file is text: a [CONFIG_FILE] section whose type line names the grab-module
// family, then a [REG_DIGIT] section of "keyword value" lines that ends at the next line
// beginning with "[".  Lines beginning with "/" are comments.
//
// Threads: the caller's thread; no shared state.  Errors go into the caller's message.
#pragma once

#include "camdispatch.h"

#include <cstdint>
#include <cstdio>

struct _MSG_ST;

// Entry list sizes: the count a list reports starts at 200 and grows by 50.
constexpr int32_t kCamEntriesInitial = 200;
constexpr int32_t kCamEntriesStep = 50;
// The largest camera file read. A camera file names a few hundred registers; a file
// beyond this is refused before it is read, as a file that cannot be opened is.
constexpr uint64_t kCamMaxFileBytes = 4u << 20;
// Longest line of camera-file text taken from memory.
constexpr uint32_t kCamMemLineChars = 150;
// Line buffer of the file reader.
constexpr uint32_t kCamLineBytes = 256;
// Longest keyword an entry holds (with its NUL: 32 bytes).
constexpr uint32_t kCamKeywordChars = 31;
// Amplitude given when a camera file names none.
constexpr uint32_t kCamDefaultAmplitude = 700;

// Texts of the reader and the writer.
inline constexpr const char* kCamTextBadName = "Invalid file name";
inline constexpr const char* kCamTextNoHostMemory = "Not enough HOST memory";
inline constexpr const char* kCamTextNotOurs = "Non-Halcyra DCF";
inline constexpr const char* kCamTextReading = "Reading DCF";
inline constexpr const char* kCamTextCannotOpen = "Cannot open file";
inline constexpr const char* kCamTextExecution = "Error in execution";

// Reads a camera file (fileFlag non-zero: `source` is a path) or camera-file text in
// memory (fileFlag 0: `source` is the text itself, read from its [REG_DIGIT] line on, the
// type taken as the standard family's).  On success returns 0 with *entries a list of
// *count entries (the list's capacity: 200, 250, ...; unused entries all zero) that the
// caller frees with free(); on failure returns -1 with the error logged in `msg` and
// *entries null.  A path that is not a regular file, or a file beyond kCamMaxFileBytes,
// is refused (-8 "Invalid file name") before anything is read.
int32_t im_cam_load(_MSG_ST* msg, _DCF_ENTRY** entries, int32_t* count, const char* source, int32_t fileFlag);

// Entries copied while entry lists grew, in this process so far: a list of n lines
// costs fewer than 2n.
uint64_t im_cam_entry_copies();

// Copies one line of in-memory text (up to its line feed, at most kCamMemLineChars
// characters; the rest of a longer line is passed over) into `line`, which must hold
// kCamMemLineChars + 1 bytes, and NUL-terminates it.  *consumed receives the characters
// taken from `text`, the line feed included.  Returns 0, or -1 at the end of the text
// (nothing left to read).
int32_t im_mem_gets(char* line, const char* text, int32_t* consumed);

// Reads lines (kCamLineBytes buffer) from the file's current position until one contains
// `needle` and does not begin with "/": 1 with that line in `line`, 0 at the end of file.
int find(const char* needle, FILE* file, char* line);

// Writes a saved entry list as a camera file at `path`: the [CONFIG_FILE] header with
// entry 0's keyword as the type and `timeText` (a ctime text, its line feed included) as
// the save time, then entries 1..count-1 (after an entry "VDL_PED_AMP" a "VDL_PEDEST"
// line of 1 or 0), then the closing sections.  The text goes to a temporary file beside
// `path` that replaces it only once complete: a failed save leaves the old file as it
// was.  0 on success; -1 with -3 "Cannot open file" or -9 "Error in execution" logged.
int32_t im_cam_write(_MSG_ST* msg, const char* path, const _DCF_ENTRY* entries, int32_t count,
                     const char* timeText);
