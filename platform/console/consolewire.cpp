// Records of the console output pipe, the pipe's path and the console options.
#include "consolewire.h"

#include "registry.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hlccon {

std::string Record::Text() const
{
    size_t n = 0;
    while (n < kTextBytes && text[n] != '\0')
        ++n;
    return std::string(text, n);
}

Record Record::Make(int32_t command, const char* text, size_t length)
{
    Record r;
    r.command = command;
    if (length > kTextBytes)
        length = kTextBytes;
    if (text != nullptr && length > 0)
        std::memcpy(r.text, text, length);
    return r;
}

void EncodeRecord(const Record& record, unsigned char out[kRecordBytes])
{
    const uint32_t c = static_cast<uint32_t>(record.command);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(c >> (8 * i));
    std::memcpy(out + 4, record.text, kTextBytes);
}

Record DecodeRecord(const unsigned char in[kRecordBytes])
{
    Record r;
    uint32_t c = 0;
    for (int i = 3; i >= 0; --i)
        c = (c << 8) | in[i];
    r.command = static_cast<int32_t>(c);
    std::memcpy(r.text, in + 4, kTextBytes);
    return r;
}

std::string PipePath()
{
    std::string path;
    const char* forced = std::getenv("HLCCOUT_PIPE");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (forced != nullptr && forced[0] != '\0')
        path = forced;
    else if (runtime != nullptr && runtime[0] == '/')
        path = std::string(runtime) + "/halcyrapipe";
    else
        path = "/tmp/halcyrapipe-" + std::to_string(static_cast<unsigned long>(getuid()));
    if (path.size() >= sizeof(sockaddr_un{}.sun_path))
        return std::string();
    return path;
}

bool WriteAll(int fd, const void* data, size_t bytes)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = send(fd, p, bytes, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t bytes)
{
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
        const ssize_t n = recv(fd, p, bytes, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool SendRecord(int fd, int32_t command, const char* text, size_t length)
{
    unsigned char wire[kRecordBytes];
    EncodeRecord(Record::Make(command, text, length), wire);
    return WriteAll(fd, wire, sizeof wire);
}

bool ReceiveRecord(int fd, Record* record)
{
    unsigned char wire[kRecordBytes];
    if (!ReadAll(fd, wire, sizeof wire))
        return false;
    *record = DecodeRecord(wire);
    return true;
}

bool SendAnswer(int fd, const char* text, size_t bytes)
{
    char answer[32] = {};
    if (bytes > sizeof answer)
        bytes = sizeof answer;
    std::strncpy(answer, text, bytes - 1);
    return WriteAll(fd, answer, bytes);
}

ConsoleOptions ReadConsoleOptions()
{
    ConsoleOptions options;
    try {
        qsrf::registry::Registry registry;
        if (!registry.OpenKey("\\Software\\Quorvel\\Halcyra\\Hlccout\\Options", false) &&
            !registry.OpenKey("\\Software\\Quorvel\\Hlccout\\Options", false))
            return options;
        options.keyFound = true;
        auto flag = [&registry](const char* name) {
            try {
                return registry.ValueExists(name) && registry.ReadInteger(name) == 1;
            } catch (const qsrf::registry::RegistryError&) {
                return false;   // another type than a 32-bit value: not set
            }
        };
        options.snooze = flag("Snooze");
        options.dontClose = flag("DontClose");
    } catch (const qsrf::registry::RegistryError&) {
        // No settings readable: the defaults.
    }
    return options;
}

}  // namespace hlccon
