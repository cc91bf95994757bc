#pragma once
// The program's one exception class: an error with a message text for the operator.
// Commands throw it; the application's default handler shows its message.

#include "regularfile.h"

#include <stdexcept>
#include <string>

class EAppError : public std::runtime_error {
public:
    explicit EAppError(const std::string& message) : std::runtime_error(message) {}
    explicit EAppError(const char* message) : std::runtime_error(message) {}

    // The message text, as the default handler shows it.
    std::string Message() const { return what(); }
};

// Raises EAppError "Cannot open file "<path>". It is a named pipe, not a regular file."
// (a directory, a device, ...) when path names something that is not a regular file.
// Readers call it before they open a path: opening a named pipe or a device would block
// the program, reading one might never end. A path that does not exist passes, so that
// the open itself reports it as before.
inline void RefuseNonRegularFile(const std::string& path)
{
    const std::string why = qsrf::WhyNotRegularFile(path.c_str());
    if (why.empty() || why == "not found") return;
    throw EAppError("Cannot open file \"" + path + "\". It is " +
                    (why == "not a regular file" ? why : why + ", not a regular file") + ".");
}
