#pragma once
// The program's one exception class: an error with a message text for the operator.
// Commands throw it; the application's default handler shows its message.

#include <stdexcept>
#include <string>

class EAppError : public std::runtime_error {
public:
    explicit EAppError(const std::string& message) : std::runtime_error(message) {}
    explicit EAppError(const char* message) : std::runtime_error(message) {}

    // The message text, as the default handler shows it.
    std::string Message() const { return what(); }
};
