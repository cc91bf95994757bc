#pragma once
// A file opened for reading so that the file examined is the file read: the path is opened
// without blocking (a named pipe or a device put in its place opens at once instead of
// waiting for a writer), the opened descriptor is examined, and anything but a regular file
// is refused before a byte is read from it. Links are followed.

#include <cstdint>
#include <string>

class TReadableFile {
public:
    explicit TReadableFile(const std::string& path);
    ~TReadableFile();
    TReadableFile(const TReadableFile&) = delete;
    TReadableFile& operator=(const TReadableFile&) = delete;

    // True when a regular file was opened; Fd() then reads it.
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The opened file's size in bytes when it was opened.
    uint64_t Size() const { return size_; }
    // Why it is not open: "" when it is; the system's error text when it could not be
    // opened (Errno() gives the code); "It is a named pipe, not a regular file." (a
    // directory, a device, a socket; "It is not a regular file." for anything else).
    const std::string& Why() const { return why_; }
    int Errno() const { return errno_; }
    // What the opened path is when it is not a regular file: "a named pipe", "a directory",
    // "a device", "a socket" or "not a regular file"; "" otherwise.
    const std::string& NotRegular() const { return kind_; }
    // Hands the descriptor over to the caller (who closes it); the object keeps none.
    int Release();

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    int errno_ = 0;
    std::string why_;
    std::string kind_;
};

// Reads a whole regular file of at most limit bytes into text. Done: read. Refused: the
// file was not opened or is too long, nothing was read (why says why: the reasons above, or
// "It is N bytes long; <what> holds at most M bytes."; a file that grows past the limit
// while it is read is refused too). ReadFailed: reading failed (why: the system's text).
enum class TReadResult { Done, Refused, ReadFailed };
TReadResult ReadWholeFile(const std::string& path, uint64_t limit, const std::string& what, std::string& text,
                          std::string& why);
