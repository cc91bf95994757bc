// The console output pipe: the records that the library and the console program
// `hlccout` exchange, and where the pipe lives.
//
// The pipe is a Unix domain stream socket. Its path is taken from HLCCOUT_PIPE when that
// is set (tests, or several consoles side by side), else $XDG_RUNTIME_DIR/halcyrapipe,
// else /tmp/halcyrapipe-<uid>.
//
// Every record is 84 bytes: a 32-bit command (little-endian) and 80 bytes of text. The
// text is zero-terminated, except that a text of exactly 79 characters plus a line feed
// fills all 80 bytes. The first record after connecting carries the connection's mode as
// its command and an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hlccon {

constexpr size_t kRecordBytes = 84;
constexpr size_t kTextBytes = 80;
constexpr size_t kMaxTextChars = 79;        // characters of a record that ends without a line feed

enum Command : int32_t {
    kCommandText = 0,          // one line of text; also the default connection mode
    kCommandKeepOpen = 2,      // connection mode: the console stays open after the library leaves
    kCommandPrompt = 3,        // wait for the user, answer kPromptAnswerBytes
    kCommandAbortQuery = 5,    // ask whether to abort a wait, answer kAbortAnswerBytes
};

constexpr size_t kPromptAnswerBytes = 8;
constexpr size_t kAbortAnswerBytes = 10;
constexpr const char kAbortAnswer[] = "Abort";      // zero-terminated in the answer
constexpr const char kContinueAnswer[] = "Continue";
constexpr const char kPromptAnswer[] = "Ok";

struct Record {
    int32_t command = 0;
    char text[kTextBytes] = {};

    // The text's characters: up to the terminator, or all 80 bytes when there is none.
    std::string Text() const;
    // A record with up to 80 bytes of text (longer texts are cut); the rest is zeroed.
    static Record Make(int32_t command, const char* text, size_t length);
};

// Wire form of a record and back.
void EncodeRecord(const Record& record, unsigned char out[kRecordBytes]);
Record DecodeRecord(const unsigned char in[kRecordBytes]);

// The pipe's path (see above). Empty when no path fits a socket address.
std::string PipePath();

// Whole reads and writes on a socket: false when the peer is gone or an error occurred
// (interrupted calls are resumed; writes never raise SIGPIPE).
bool WriteAll(int fd, const void* data, size_t bytes);
bool ReadAll(int fd, void* data, size_t bytes);

bool SendRecord(int fd, int32_t command, const char* text, size_t length);
bool ReceiveRecord(int fd, Record* record);

// A fixed-size answer holding a zero-terminated text.
bool SendAnswer(int fd, const char* text, size_t bytes);

// Options of the console program in the registry (HKEY_CURRENT_USER), looked up in
// "Software\Quorvel\Halcyra\Hlccout\Options", else "Software\Quorvel\Hlccout\Options".
struct ConsoleOptions {
    bool keyFound = false;
    bool snooze = false;       // "Snooze" is 1
    bool dontClose = false;    // "DontClose" is 1
};
ConsoleOptions ReadConsoleOptions();

}  // namespace hlccon
