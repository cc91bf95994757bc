// Camera-file reader and writer.
#include "camfile.h"

#include "hlc_errors.h"
#include "im_msgio.h"
#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char kConfigSection[] = "[CONFIG_FILE]";
constexpr const char kRegisterSection[] = "[REG_DIGIT]";
constexpr const char kTypeMark[] = "HALCYRA_GRAB_";
constexpr const char kStdType[] = "HALCYRA_GRAB_0";
constexpr const char kAmplitude[] = "VDL_AMPL";
constexpr const char kPedestalOn[] = "VDL_PEDEST";
constexpr const char kPedestalAmplitude[] = "VDL_PED_AMP";
constexpr const char kSyncAmplitude[] = "SYN_AMPL";
constexpr const char kSeparators[] = " \t\r\n";
constexpr int32_t kKeywordField = 48;

// Reads one line of the file into `line` (kCamLineBytes); the rest of a longer line is
// passed over so that it never reads as a line of its own.  False at end of file.
bool ReadLine(FILE* file, char* line)
{
    if (!std::fgets(line, static_cast<int>(kCamLineBytes), file)) return false;
    const size_t length = std::strlen(line);
    if (length && line[length - 1] != '\n') {
        int c;
        while ((c = std::fgetc(file)) != EOF && c != '\n') {
        }
    }
    return true;
}

// Copies a word into an entry's keyword, cut to kCamKeywordChars characters.
void SetKeyword(_DCF_ENTRY& entry, const char* word)
{
    std::memset(entry.name, 0, sizeof entry.name);
    std::strncpy(entry.name, word, kCamKeywordChars);
}

// The first and second words of a line (null when missing); the line is cut up.
void SplitWords(char* line, char** first, char** second)
{
    char* save = nullptr;
    *first = strtok_r(line, kSeparators, &save);
    *second = *first ? strtok_r(nullptr, kSeparators, &save) : nullptr;
}

// The number that the word begins with (automatic base), 0 when it begins with none.
uint32_t LeadingNumber(const char* word)
{
    return word ? static_cast<uint32_t>(std::strtoul(word, nullptr, 0)) : 0;
}

// True with the value when the whole word is one number (automatic base, 32 bits).
bool WholeNumber(const char* word, uint32_t* value)
{
    errno = 0;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(word, &end, 0);
    if (end == word || *end != '\0' || errno == ERANGE) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// Entries copied by the list's growth in this process.
std::atomic<uint64_t> g_entryCopies{0};

// The entry list and its growth. The list doubles when full, so a file of n lines costs
// fewer than 2n entry copies; the count it reports is the capacity that growing from
// kCamEntriesInitial by kCamEntriesStep would have reached (200, 250, ...), which is what
// travels to the node, and every entry past the filled ones is zero.
struct EntryList {
    _DCF_ENTRY* entries = nullptr;
    int32_t capacity = 0;
    int32_t used = 0;

    bool Init()
    {
        entries = static_cast<_DCF_ENTRY*>(std::calloc(kCamEntriesInitial, sizeof(_DCF_ENTRY)));
        capacity = entries ? kCamEntriesInitial : 0;
        used = 3;
        return entries != nullptr;
    }
    bool Grow()
    {
        if (capacity > INT32_MAX / 2) return false;
        const int32_t grown = capacity * 2;
        auto* larger = static_cast<_DCF_ENTRY*>(std::calloc(static_cast<size_t>(grown), sizeof(_DCF_ENTRY)));
        if (!larger) return false;
        std::memcpy(larger, entries, sizeof(_DCF_ENTRY) * static_cast<size_t>(capacity));
        g_entryCopies.fetch_add(static_cast<uint64_t>(capacity), std::memory_order_relaxed);
        std::free(entries);
        entries = larger;
        capacity = grown;
        return true;
    }
    int32_t Reported() const
    {
        if (used <= kCamEntriesInitial) return kCamEntriesInitial;
        const int32_t steps = (used - kCamEntriesInitial + kCamEntriesStep - 1) / kCamEntriesStep;
        return kCamEntriesInitial + steps * kCamEntriesStep;
    }
    void Release()
    {
        std::free(entries);
        entries = nullptr;
        capacity = used = 0;
    }
};

enum class LineResult { Added, Skipped, NoMemory };

// One register line: keyword and value into the next entry.  With `skipLevels` the
// amplitude and pedestal lines are passed over (they were taken before the section).
LineResult AddRegisterLine(EntryList& list, char* line, bool skipLevels)
{
    char* keyword = nullptr;
    char* value = nullptr;
    SplitWords(line, &keyword, &value);
    if (!keyword || !value || keyword[0] == '/') return LineResult::Skipped;
    // A keyword longer than an entry holds names no register: passed over rather than cut
    // into another keyword.
    if (std::strlen(keyword) > kCamKeywordChars) return LineResult::Skipped;
    if (skipLevels && (std::strcmp(keyword, kSyncAmplitude) == 0 || std::strcmp(keyword, kAmplitude) == 0 ||
                       std::strcmp(keyword, kPedestalAmplitude) == 0 || std::strcmp(keyword, kPedestalOn) == 0))
        return LineResult::Skipped;
    if (list.used == list.capacity && !list.Grow()) return LineResult::NoMemory;
    _DCF_ENTRY& entry = list.entries[list.used++];
    SetKeyword(entry, keyword);
    uint32_t number = 0;
    if (WholeNumber(value, &number)) entry.value = number;
    return LineResult::Added;
}

// Finds a line by `find`; the file position is left after it.  With a start position the
// search begins there.
bool FindFrom(FILE* file, long start, const char* needle, char* line)
{
    if (start >= 0 && std::fseek(file, start, SEEK_SET) != 0) return false;
    return find(needle, file, line) == 1;
}

// The three level entries of a file that names VDL_AMPL (the line is in `line`); the
// file is left where the search for [REG_DIGIT] goes on.
void ReadLevels(FILE* file, char* line, EntryList& list)
{
    char* keyword = nullptr;
    char* value = nullptr;
    SplitWords(line, &keyword, &value);
    SetKeyword(list.entries[1], keyword ? keyword : kAmplitude);
    list.entries[1].value = LeadingNumber(value);
    SetKeyword(list.entries[2], kPedestalAmplitude);

    const long afterAmplitude = std::ftell(file);
    long furthest = afterAmplitude;
    uint32_t pedestalOn = 0;
    if (FindFrom(file, -1, kPedestalOn, line)) {
        furthest = std::max(furthest, std::ftell(file));
        SplitWords(line, &keyword, &value);
        pedestalOn = LeadingNumber(value);
    }
    if (pedestalOn != 0) {
        // The pedestal amplitude usually follows VDL_PEDEST, but files this library
        // writes put VDL_PEDEST after it: both orders are looked at, so that a saved
        // pedestal is kept.
        bool found = FindFrom(file, -1, kPedestalAmplitude, line);
        if (!found) found = FindFrom(file, afterAmplitude, kPedestalAmplitude, line);
        if (found) {
            furthest = std::max(furthest, std::ftell(file));
            SplitWords(line, &keyword, &value);
            list.entries[2].value = LeadingNumber(value);
        }
    }
    std::clearerr(file);
    std::fseek(file, furthest, SEEK_SET);
}

int32_t LoadFile(_MSG_ST* msg, EntryList& list, const char* path)
{
    // Opened without blocking and checked on the opened file: a pipe, a device or a file
    // beyond the limit is refused as a file that cannot be opened.
    FILE* file = qsrf::OpenRegularStream(path, "r", kCamMaxFileBytes);
    if (!file) {
        im_msg_log_error(msg, HLC_ERR_INVALID_PARAMETER, kCamTextBadName);
        return -1;
    }
    char* line = static_cast<char*>(std::calloc(kCamLineBytes, 1));
    if (!line || !list.Init()) {
        std::free(line);
        std::fclose(file);
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory);
        return -1;
    }

    int32_t result = -1;
    bool skipLevels = false;
    bool typed = find(kConfigSection, file, line) == 1 && ReadLine(file, line) && ReadLine(file, line);
    if (typed) {
        char* type = nullptr;
        char* rest = nullptr;
        SplitWords(line, &type, &rest);
        if (type) SetKeyword(list.entries[0], type);
        for (char* c = list.entries[0].name; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        typed = std::strstr(list.entries[0].name, kTypeMark) != nullptr;
    }
    if (!typed) {
        im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextNotOurs);
    } else {
        bool inSection;
        if (find(kAmplitude, file, line) == 1) {
            ReadLevels(file, line, list);
            inSection = find(kRegisterSection, file, line) == 1;
            if (!inSection) {
                // The level lines stood inside or after the register section: read it
                // from the start, without them.
                skipLevels = true;
                inSection = FindFrom(file, 0, kRegisterSection, line);
            }
        } else {
            SetKeyword(list.entries[1], kAmplitude);
            list.entries[1].value = kCamDefaultAmplitude;
            SetKeyword(list.entries[2], kPedestalAmplitude);
            std::clearerr(file);
            inSection = FindFrom(file, 0, kRegisterSection, line);
        }
        bool closed = false;
        bool memory = true;
        while (inSection && ReadLine(file, line)) {
            if (line[0] == '[') {
                closed = true;
                break;
            }
            if (AddRegisterLine(list, line, skipLevels) == LineResult::NoMemory) {
                memory = false;
                break;
            }
        }
        if (!memory)
            im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory);
        else if (!closed)
            im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextReading);
        else
            result = 0;
    }
    std::free(line);
    std::fclose(file);
    return result;
}

int32_t LoadText(_MSG_ST* msg, EntryList& list, const char* text)
{
    if (!text) {
        im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextReading);
        return -1;
    }
    if (!list.Init()) {
        im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory);
        return -1;
    }
    char line[kCamMemLineChars + 1];
    int32_t consumed = 0;
    bool inSection = false;
    while (im_mem_gets(line, text, &consumed) == 0) {
        text += consumed;
        if (line[0] != '/' && std::strstr(line, kRegisterSection)) {
            inSection = true;
            break;
        }
    }
    SetKeyword(list.entries[0], kStdType);
    while (inSection && im_mem_gets(line, text, &consumed) == 0) {
        text += consumed;
        if (line[0] == '[') return 0;
        if (AddRegisterLine(list, line, false) == LineResult::NoMemory) {
            im_msg_log_error(msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory);
            return -1;
        }
    }
    // The text ended before [REG_DIGIT] or before the line that closes the section.
    im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextReading);
    return -1;
}

// A keyword of a list from the node, NUL-terminated whatever the node put there.
std::string Keyword(const _DCF_ENTRY& entry)
{
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

}  // namespace

int find(const char* needle, FILE* file, char* line)
{
    if (!needle || !file || !line) return 0;
    while (ReadLine(file, line))
        if (line[0] != '/' && std::strstr(line, needle)) return 1;
    return 0;
}

int32_t im_mem_gets(char* line, const char* text, int32_t* consumed)
{
    if (consumed) *consumed = 0;
    if (!line) return -1;
    line[0] = '\0';
    if (!text || *text == '\0') return -1;
    int32_t taken = 0;
    uint32_t copied = 0;
    while (text[taken] != '\0') {
        const char c = text[taken++];
        if (c == '\n') break;
        if (copied < kCamMemLineChars) line[copied++] = c;
    }
    line[copied] = '\0';
    if (consumed) *consumed = taken;
    return 0;
}

int32_t im_cam_load(_MSG_ST* msg, _DCF_ENTRY** entries, int32_t* count, const char* source, int32_t fileFlag)
{
    if (entries) *entries = nullptr;
    if (count) *count = 0;
    EntryList list;
    const int32_t result = fileFlag ? LoadFile(msg, list, source) : LoadText(msg, list, source);
    if (result != 0 || !entries || !count) {
        list.Release();
        return result != 0 ? -1 : 0;
    }
    *entries = list.entries;
    *count = list.Reported();
    return 0;
}

uint64_t im_cam_entry_copies()
{
    return g_entryCopies.load(std::memory_order_relaxed);
}

int32_t im_cam_write(_MSG_ST* msg, const char* path, const _DCF_ENTRY* entries, int32_t count,
                     const char* timeText)
{
    if (!path || !*path || !entries || count < 1) {
        im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextCannotOpen);
        return -1;
    }
    // An existing destination must be a regular file; its permissions pass to the new
    // file, a new file gets the usual ones.
    mode_t permissions;
    struct stat existing {};
    if (::stat(path, &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextCannotOpen);
            return -1;
        }
        permissions = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        permissions = 0666 & ~mask;
    }
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!file) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
        }
        im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextCannotOpen);
        return -1;
    }
    ::fchmod(fd, permissions);

    bool good = std::fprintf(file, "[CONFIG_FILE]\n50CF\n%s\n%s\n[REG_DIGIT]\n", Keyword(entries[0]).c_str(),
                             timeText ? timeText : "") >= 0;
    for (int32_t i = 1; good && i < count; ++i) {
        const std::string keyword = Keyword(entries[i]);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", entries[i].value);
        good = std::fprintf(file, "%-*s0x%s\n", kKeywordField, keyword.c_str(), hex) >= 0;
        if (good && keyword == kPedestalAmplitude)
            good = std::fprintf(file, "%-*s0x%s\n", kKeywordField, kPedestalOn, entries[i].value ? "1" : "0") >= 0;
    }
    if (good) good = std::fputs("\n[REG_MODIF_STATE]\n\n[EOF]\n", file) >= 0;
    if (good) good = std::fflush(file) == 0 && !std::ferror(file);
    if (std::fclose(file) != 0) good = false;
    if (!good) {
        ::unlink(temporary.c_str());
        im_msg_log_error(msg, HLC_ERR_RESTRICTED, kCamTextExecution);
        return -1;
    }
    if (std::rename(temporary.c_str(), path) != 0) {
        ::unlink(temporary.c_str());
        im_msg_log_error(msg, HLC_ERR_FILE_ACCESS, kCamTextCannotOpen);
        return -1;
    }
    return 0;
}
