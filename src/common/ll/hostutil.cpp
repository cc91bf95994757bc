// Settings lookup (environment and ini file) and the file search along path variables.
#include "hostutil.h"

#include "regularfile.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<const HlcIniLookup*> g_ini{nullptr};

const char* FromEnvironment(const char* name)
{
    return std::getenv(name);
}

const char* FromIni(uint32_t node, const char* name)
{
    const HlcIniLookup* ini = g_ini.load();
    if (ini == nullptr || ini->text == nullptr)
        return nullptr;
    return ini->text(node, name);
}

// Writes text into the 512-byte result buffer, cut to fit.
void StoreResult(char* out, const std::string& text)
{
    const size_t n = text.size() < kSearchPathBytes - 1 ? text.size() : kSearchPathBytes - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Only a regular file counts as found: a named pipe, a device or a directory of that
// name would block or mislead the reader that opens the path next.
bool Accessible(const std::string& path, int how)
{
    return access(path.c_str(), how) == 0 && qsrf::IsRegularFile(path);
}

}  // namespace

void im_set_ini_lookup(const HlcIniLookup* lookup)
{
    g_ini.store(lookup);
}

const char* im_getenv(uint32_t node, const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return nullptr;
    const HlcIniLookup* ini = g_ini.load();
    const int state = (ini != nullptr && ini->state != nullptr) ? ini->state() : -1;
    if (state < 0)
        return FromEnvironment(name);
    if (state > 0) {
        const char* value = FromIni(node, name);
        return value != nullptr ? value : FromEnvironment(name);
    }
    const char* value = FromEnvironment(name);
    return value != nullptr ? value : FromIni(node, name);
}

int im_search_env(uint32_t node, const char* name, const char* extension, const char* variable,
                  const char* mode, char** path)
{
    if (path == nullptr)
        return 0;
    if (*path == nullptr) {
        *path = static_cast<char*>(std::malloc(kSearchPathBytes));
        if (*path == nullptr)
            return 0;
    }
    char* out = *path;
    if (name == nullptr) {
        StoreResult(out, "No file name specified");
        return 0;
    }
    StoreResult(out, name);
    if (name[0] == '\0')
        return 0;

    std::string file = name;
    const char* afterDots = name;
    while (*afterDots == '.')
        ++afterDots;
    if (std::strchr(afterDots, '.') == nullptr && extension != nullptr)
        file += extension;
    if (file.size() >= kSearchPathBytes)
        return 0;

    int how = 0;
    if (mode != nullptr) {
        for (const char* m = mode; *m != '\0'; ++m) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*m)));
            if (c == 'r')
                how |= R_OK;
            else if (c == 'w')
                how |= W_OK;
        }
    }
    if (how == 0)
        how = F_OK;

    if (Accessible(file, how)) {
        StoreResult(out, file);
        return 1;
    }
    const char first = file[0];
    if (first == '~' || first == '.' || first == '/' || first == '\\' || (file.size() > 1 && file[1] == ':'))
        return 0;

    if (variable != nullptr) {
        const char* value = im_getenv(node, variable);
        const std::string list = value != nullptr ? value : "";
        size_t start = 0;
        while (start < list.size()) {
            size_t end = list.find_first_of(";:", start);
            if (end == std::string::npos)
                end = list.size();
            std::string dir = list.substr(start, end - start);
            start = end + 1;
            if (dir.empty())
                continue;
            if (dir.back() != '/')
                dir += '/';
            const std::string candidate = dir + file;
            if (candidate.size() >= kSearchPathBytes)
                continue;   // would not fit the result buffer
            if (Accessible(candidate, how)) {
                StoreResult(out, candidate);
                return 1;
            }
        }
    }
    return 0;
}
