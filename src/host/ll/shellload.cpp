// The board processor's shell loader.  The whole file is read into memory first and
// every header, section and piece is checked against the file's size and against local
// RAM before anything is written, so a malformed or truncated file never reaches past
// either.
#include "shellload.h"
#include "hostutil.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "regularfile.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

char* CoffFileName = nullptr;

namespace {

const char kProduct[] = "Halcyra";
constexpr uint32_t kPiece = 8192;
constexpr uint32_t kMaxReportedErrors = 16;

enum : uint32_t {
    OPT_VERIFY = 1u << 0,
    OPT_ALL = 1u << 1,
    OPT_PRINT = 1u << 2,
    OPT_IDENT = 1u << 3,
    OPT_MESSAGES = 1u << 4,
    OPT_CHECK = 1u << 5,
    OPT_FORCE = 1u << 6,
    OPT_RESTART = 1u << 7,
    OPT_WANT_MESSAGES = 1u << 8,
    OPT_HOST = 1u << 9,
};

struct FileHeader {
    uint16_t version;   // 0 for the old header
    uint16_t sections;
    uint32_t timeStamp;
    uint32_t symbolOffset;
    uint32_t symbols;
    uint16_t optionalBytes;
    uint16_t flags;
    uint16_t target;
};

struct OptionalHeader {
    uint16_t magic, stamp;
    uint32_t codeSize, dataSize, bssSize, entry, codeStart, dataStart;
};

struct SectionHeader {
    char name[9];
    uint32_t physical, virt, size, dataOffset, relocOffset, lineOffset;
    uint16_t relocs, lines, flags;
    uint8_t reserved, page;
};

// The loader context of one call.
struct Loader {
    uint32_t options = 0;
    int32_t eValue = -1;
    std::vector<uint8_t> file;
    bool swapHeader = false;    // the file is in the other byte order than the host
    bool bigFlag = false;       // the file's flags mark its data big-endian
    FileHeader header{};
    OptionalHeader optional{};
    uint32_t base = 0, size = 0;
    uint32_t shell[16] = {};
    bool messages() const { return options & OPT_MESSAGES; }
};

void Say(const Loader& l, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Say(const Loader& l, const char* format, ...)
{
    if (!l.messages()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    HlcGetHostHooks().print(text);
}

uint16_t Get16(const Loader& l, size_t at)
{
    const uint16_t v = static_cast<uint16_t>(l.file[at] | (l.file[at + 1] << 8));
    return l.swapHeader ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t Get32(const Loader& l, size_t at)
{
    uint32_t v;
    std::memcpy(&v, &l.file[at], 4);
    return l.swapHeader ? Swap32(v) : v;
}

bool Fits(const Loader& l, uint64_t at, uint64_t bytes)
{
    return at <= l.file.size() && bytes <= l.file.size() - at;
}

bool ReadFile(const char* path, std::vector<uint8_t>& out)
{
    // Opened without blocking and checked on the opened file: a pipe, a device or a file
    // beyond the limit is refused before anything is read.
    FILE* f = qsrf::OpenRegularStream(path, "rb", kShellMaxFileBytes);
    if (!f) return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long length = ok ? std::ftell(f) : -1;
    ok = ok && length >= 0 && static_cast<unsigned long>(length) <= kShellMaxFileBytes && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        out.resize(static_cast<size_t>(length));
        ok = length == 0 || std::fread(out.data(), 1, out.size(), f) == out.size();
    }
    std::fclose(f);
    return ok;
}

// Copies before freeing: the name given may be CoffFileName itself.
void KeepName(const char* path)
{
    char* kept = strdup(path ? path : "UNKNOWN");
    std::free(CoffFileName);
    CoffFileName = kept;
}

// Host offset in local RAM of a processor address, or false when outside.
bool LocalOffset(const Loader& l, uint32_t address, uint32_t* offset)
{
    if (l.size == 0) return false;
    const uint64_t lowest = (1ull << 32) - l.size;
    if (address < lowest) return false;
    *offset = static_cast<uint32_t>(address - lowest);
    return true;
}

void Signature(const Loader& l, const char* path, uint8_t record[kShellSignatureBytes])
{
    std::memset(record, 0, kShellSignatureBytes);
    std::memcpy(record, &l.shell[4], 4);
    const char* slash = std::strrchr(path, '/');
    const char* back = std::strrchr(path, '\\');
    const char* base = slash > back ? slash + 1 : back ? back + 1 : path;
    for (int i = 0; i < 16 && base[i] && base[i] != '.'; ++i)
        record[16 + i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(base[i])));
    std::memcpy(record + 32, &l.header.timeStamp, 4);
    const uint32_t top = kShellSignatureTop;
    std::memcpy(record + 48, &top, 4);
}

SectionHeader Section(const Loader& l, size_t at)
{
    SectionHeader s{};
    std::memcpy(s.name, &l.file[at], 8);
    s.physical = Get32(l, at + 8);
    s.virt = Get32(l, at + 12);
    s.size = Get32(l, at + 16);
    s.dataOffset = Get32(l, at + 20);
    s.relocOffset = Get32(l, at + 24);
    s.lineOffset = Get32(l, at + 28);
    s.relocs = Get16(l, at + 32);
    s.lines = Get16(l, at + 34);
    s.flags = Get16(l, at + 36);
    s.reserved = l.file[at + 38];
    s.page = l.file[at + 39];
    return s;
}

// Parses the headers; 0 or an error.
uint32_t ParseHeaders(Loader& l, const char* path, size_t* sectionStart)
{
    if (l.file.size() < 2) {
        Say(l, "\n%s: error reading %s.\n", kProduct, path);
        return LDSHELL_READ_FAILED;
    }
    const uint16_t first = static_cast<uint16_t>(l.file[0] | (l.file[1] << 8));
    bool versioned;
    if (first == 0x00C1 || first == 0xC100) {
        versioned = true;
        l.swapHeader = first == 0xC100;
    } else if (first == 0x0095 || first == 0x9500) {
        versioned = false;
        l.swapHeader = first == 0x9500;
    } else {
        Say(l, "\n%s: %s not a COFF file.\n", kProduct, path);
        return LDSHELL_NOT_COFF;
    }
    const size_t headerBytes = versioned ? 22 : 20;
    if (!Fits(l, 0, headerBytes + 28)) {
        Say(l, "\n%s: error reading %s.\n", kProduct, path);
        return LDSHELL_READ_FAILED;
    }
    size_t at = 0;
    FileHeader& h = l.header;
    if (versioned) {
        h.version = Get16(l, 0);
        at = 2;
    } else {
        h.target = Get16(l, 0);
        at = 2;
    }
    h.sections = Get16(l, at);
    h.timeStamp = Get32(l, at + 2);
    h.symbolOffset = Get32(l, at + 6);
    h.symbols = Get32(l, at + 10);
    h.optionalBytes = Get16(l, at + 14);
    h.flags = Get16(l, at + 16);
    if (versioned) h.target = Get16(l, at + 18);
    at = headerBytes;
    const uint16_t magic = Get16(l, at);
    if ((versioned && h.target != 0x95) || h.optionalBytes != 28 || magic != 0x0108) {
        Say(l, "\n%s: %s not a COFF file.\n", kProduct, path);
        return LDSHELL_NOT_COFF;
    }
    OptionalHeader& o = l.optional;
    o.magic = magic;
    o.stamp = Get16(l, at + 2);
    o.codeSize = Get32(l, at + 4);
    o.dataSize = Get32(l, at + 8);
    o.bssSize = Get32(l, at + 12);
    o.entry = Get32(l, at + 16);
    o.codeStart = Get32(l, at + 20);
    o.dataStart = Get32(l, at + 24);
    l.bigFlag = (h.flags & 0x200) != 0;
    *sectionStart = at + 28;
    if (!Fits(l, *sectionStart, 40ull * h.sections)) {
        Say(l, "\n%s: error reading %s.\n", kProduct, path);
        return LDSHELL_READ_FAILED;
    }
    return 0;
}

// The file helpers' seek step: a position past the end of the file fails.
bool SeekData(const Loader& l, uint64_t at)
{
    if (at <= l.file.size()) return true;
    Say(l, "\n%s: Data seek failure\n", kProduct);
    return false;
}

// Seeks to the position and reads the bytes; false after the helper's failure message.
bool ReadData(const Loader& l, uint64_t at, uint32_t bytes, uint8_t* out)
{
    if (!SeekData(l, at)) return false;
    if (!Fits(l, at, bytes)) {
        Say(l, "\n%s: Data read failure\n", kProduct);
        return false;
    }
    std::memcpy(out, &l.file[static_cast<size_t>(at)], bytes);
    return true;
}

// Copies the bytes of a section that lie in the file, zero beyond its size; false when
// the section's data is not all in the file.
// Mend: the pad up to 8 bytes is zeros, not what follows in the file: a section at the
// file's end would otherwise fail to read.
bool SectionBytes(const Loader& l, const SectionHeader& s, uint32_t from, uint32_t bytes, uint8_t* out)
{
    std::memset(out, 0, bytes);
    if (from >= s.size) return true;
    const uint32_t real = bytes < s.size - from ? bytes : s.size - from;
    return ReadData(l, static_cast<uint64_t>(s.dataOffset) + from, real, out);
}

void ReverseUnits(uint8_t* data, uint32_t bytes)
{
    for (uint32_t u = 0; u + 8 <= bytes; u += 8)
        for (int i = 0; i < 4; ++i) std::swap(data[u + i], data[u + 7 - i]);
}

// Downloads one section (already cut to local RAM); 0 or an error.
uint32_t Download(Loader& l, const SectionHeader& s, uint32_t offset, uint32_t bytes, int* spinner)
{
    static const char kSpin[] = "|/-\\";
    std::vector<uint8_t> piece(kPiece);
    for (uint32_t done = 0; done < bytes; done += kPiece) {
        const uint32_t n = bytes - done < kPiece ? bytes - done : kPiece;
        if (!SectionBytes(l, s, done, n, piece.data())) return LDSHELL_READ_FAILED;
        if (l.swapHeader) ReverseUnits(piece.data(), n);
        HwWriteBlock(l.base, offset + done, piece.data(), n);
        if (!(l.options & OPT_PRINT)) Say(l, "%c\b", kSpin[(*spinner)++ & 3]);
    }
    if (!(l.options & OPT_VERIFY)) return 0;
    // What went in: the section's own bytes, as far as local RAM took them.
    const uint32_t checked = (s.size < bytes ? s.size : bytes) & ~7u;
    uint32_t errors = 0;
    std::vector<uint8_t> back(kPiece);
    for (uint32_t done = 0; done < checked; done += kPiece) {
        const uint32_t n = checked - done < kPiece ? checked - done : kPiece;
        SectionBytes(l, s, done, n, piece.data());
        if (l.swapHeader) ReverseUnits(piece.data(), n);
        HwReadBlock(l.base, offset + done, back.data(), n);
        for (uint32_t w = 0; w + 4 <= n; w += 4) {
            uint32_t expected, read;
            std::memcpy(&expected, &piece[w], 4);
            std::memcpy(&read, &back[w], 4);
            if (expected == read) continue;
            if (++errors > kMaxReportedErrors) {
                Say(l, "\n%s: More than %d errors detected.\n", kProduct, static_cast<int>(kMaxReportedErrors));
                return LDSHELL_VERIFY_FAILED;
            }
            Say(l, "\n%s: Bad transfer at offset %.8lxh: read: %.8lxh, expected: %.8lxh\n", kProduct,
                static_cast<unsigned long>(done + w), static_cast<unsigned long>(read),
                static_cast<unsigned long>(expected));
        }
    }
    return errors ? LDSHELL_VERIFY_FAILED : 0;
}

void PrintHeader(const Loader& l)
{
    const char* host = "LITTLE";
    const char* local = l.swapHeader ? "BIG" : "LITTLE";
    Say(l, "----------------------------------------------------------------\n");
    Say(l, "File header:\n");
    Say(l, "Number of sections = %d\n", l.header.sections);
    Say(l, "Number of entries in symbol table = %ld\n", static_cast<long>(l.header.symbols));
    Say(l, "File header flags = 0x%04x\n", l.header.flags);
    Say(l, "Entry point address = 0x%08lx\n", static_cast<unsigned long>(l.optional.entry));
    Say(l, "Endians:  HOST - %s    LOCAL - %s\n", host, local);
    Say(l, "----------------------------------------------------------------\n");
}

uint32_t Run(Loader& l, const char* path, int32_t* shellValue)
{
    if (!ReadFile(path, l.file)) {
        Say(l, "\n%s: error reading %s.\n", kProduct, path);
        return LDSHELL_READ_FAILED;
    }
    size_t sections = 0;
    if (uint32_t e = ParseHeaders(l, path, &sections)) return e;

    // The shell header: the first 64 bytes of ".text".
    size_t textAt = 0;
    bool haveText = false;
    SectionHeader text{};
    for (uint32_t i = 0; i < l.header.sections; ++i) {
        const SectionHeader s = Section(l, sections + 40ull * i);
        if (std::strncmp(s.name, ".text", 8) == 0) {
            text = s;
            textAt = sections + 40ull * i;
            haveText = true;
            break;
        }
    }
    (void)textAt;
    if (!haveText || text.size < kShellHeaderBytes) {
        Say(l, "\n%s: Data read failure\n", kProduct);
        return LDSHELL_NOT_COFF;
    }
    if (!ReadData(l, text.dataOffset, kShellHeaderBytes, reinterpret_cast<uint8_t*>(l.shell))) return LDSHELL_NOT_COFF;
    if (l.swapHeader)
        for (uint32_t& w : l.shell) w = Swap32(w);
    if (l.shell[2] != kShellHeaderBytes && !(l.options & OPT_CHECK)) {
        Say(l, "\nIncompatibility between COFF file and HOST downloader\n");
        return LDSHELL_NOT_COFF;
    }

    uint32_t status = 0;
    uint8_t signature[kShellSignatureBytes];
    Signature(l, path, signature);
    const bool haveRam = l.base != 0 && l.size >= kShellSignatureTop;
    if (haveRam) {
        uint8_t present[kShellSignatureBytes];
        HwReadBlock(l.base, l.size - kShellSignatureTop, present, kShellSignatureBytes);
        if ((l.options & OPT_FORCE) || std::memcmp(present, signature, kShellSignatureBytes) != 0)
            status |= LDSHELL_DIFFERS;
    }

    if ((status & LDSHELL_DIFFERS) && !(l.options & OPT_CHECK)) {
        if ((l.options & OPT_PRINT) && l.messages()) PrintHeader(l);
        if ((l.options & OPT_IDENT) && l.messages() && l.optional.entry != l.optional.codeStart) {
            std::string ident;
            for (uint64_t at = static_cast<uint64_t>(text.dataOffset) + l.shell[6];
                 l.shell[6] < text.size && at < l.file.size() && l.file[at] && ident.size() < 256; ++at)
                ident += static_cast<char>(l.file[at]);
            Say(l, "Downloaded file identification:\n");
            Say(l, "%s\n", ident.c_str());
            Say(l, "%lu\n", static_cast<unsigned long>(l.header.timeStamp));
        }
        int spinner = 0;
        for (uint32_t i = 0; i < l.header.sections; ++i) {
            const SectionHeader s = Section(l, sections + 40ull * i);
            const bool skip = ((s.flags & 0x83) && !(l.options & OPT_ALL)) || !s.size || !s.physical || !s.dataOffset;
            if (l.options & OPT_PRINT)
                Say(l, "Section %-8.8s (%8ld bytes, starts at 0x%08lX) ", s.name, static_cast<long>(s.size),
                    static_cast<unsigned long>(s.physical));
            if (skip) {
                if (l.options & OPT_PRINT) Say(l, "not downloaded.\n");
                continue;
            }
            uint32_t offset = 0;
            if (!LocalOffset(l, s.physical, &offset)) {
                Say(l, "\n%s: load address is not in local RAM.\n", kProduct);
                return status | LDSHELL_DOWNLOAD_FAILED;
            }
            // Cut at the top of the address space, which is the top of local RAM.
            const uint64_t room = l.size - offset;
            uint64_t bytes = s.size < room ? s.size : room;
            bytes = (bytes + 7) & ~7ull;
            if (bytes > room) bytes = room;
            if (uint32_t e = Download(l, s, offset, static_cast<uint32_t>(bytes), &spinner)) return status | e;
            if (l.options & OPT_PRINT) Say(l, "downloaded.\n");

            if (std::strncmp(s.name, ".text", 8) == 0) {
                HwWriteBlock(l.base, l.size - kShellSignatureTop, signature, kShellSignatureBytes);
                uint8_t vector[kShellResetVectorBytes];
                if (static_cast<uint64_t>(l.shell[8]) + kShellResetVectorBytes > s.size) {
                    Say(l, "\n%s: Data read failure\n", kProduct);
                    return status | LDSHELL_DOWNLOAD_FAILED;
                }
                if (!SectionBytes(l, s, l.shell[8], kShellResetVectorBytes, vector))
                    return status | LDSHELL_DOWNLOAD_FAILED;
                HwWriteBlock(l.base, l.size - kShellResetVectorBytes, vector, kShellResetVectorBytes);
                if (l.eValue >= 0 && offset + 60ull <= l.size) HwWrite32(l.base, offset + 56, static_cast<uint32_t>(l.eValue));
            }
        }
        if (!(l.options & OPT_PRINT)) Say(l, " \b");
    }

    // Negated in unsigned arithmetic: a word of 0x80000000 has no positive counterpart.
    if (shellValue) *shellValue = static_cast<int32_t>(0u - l.shell[4]);
    status |= l.bigFlag ? LDSHELL_BIG_FILE : LDSHELL_LITTLE_FILE;
    if (l.swapHeader) status |= LDSHELL_ORDER_DIFFERS;
    if (l.options & OPT_RESTART) status |= LDSHELL_RESTART;
    if (l.options & OPT_WANT_MESSAGES) status |= LDSHELL_MESSAGES;
    if (l.options & OPT_HOST) status |= LDSHELL_HOST_MODE;
    return status;
}

} // namespace

uint32_t LdShellOptions(uint32_t mode, const char* letters, int32_t* eValue)
{
    uint32_t o = 0;
    if (!(mode & 0x01)) o |= OPT_VERIFY;
    if (mode & 0x02) o |= OPT_ALL;
    if (mode & 0x04) o |= OPT_PRINT;
    if (!(mode & 0x10)) o |= OPT_IDENT;
    if (!(mode & 0x20)) o |= OPT_MESSAGES;
    if (mode & 0x40) o |= OPT_CHECK;
    if (mode & 0x08) o |= OPT_FORCE;
    if (mode & 0x80) o |= OPT_RESTART;
    if (mode & 0x200) o |= OPT_WANT_MESSAGES;
    if (mode & 0x400) o |= OPT_HOST;
    if (eValue) *eValue = -1;
    for (const char* p = letters; p && *p; ++p) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        if (c == 'E' && std::isdigit(static_cast<unsigned char>(p[1]))) {
            unsigned long v = 0;
            while (std::isdigit(static_cast<unsigned char>(p[1]))) {
                if (v < 65535) v = v * 10 + static_cast<unsigned long>(p[1] - '0');
                ++p;
            }
            if (eValue) *eValue = static_cast<int32_t>(v > 65535 ? 65535 : v);
            continue;
        }
        const char sign = p[1];
        if (sign != '+' && sign != '-') continue;
        const bool plus = sign == '+';
        uint32_t bit = 0;
        bool plusClears = false;
        switch (c) {
        case 'S': bit = OPT_VERIFY; plusClears = true; break;
        case 'B': bit = OPT_ALL; break;
        case 'P': bit = OPT_PRINT; break;
        case 'Q': bit = OPT_IDENT; plusClears = true; break;
        case 'M': bit = OPT_MESSAGES; plusClears = true; break;
        case 'F': bit = OPT_FORCE; break;
        case 'R': bit = OPT_RESTART; break;
        case 'W': bit = OPT_WANT_MESSAGES; break;
        case 'I': bit = OPT_HOST; break;
        default: break;
        }
        if (bit) {
            if (plus != plusClears)
                o |= bit;
            else
                o &= ~bit;
        }
        ++p;
    }
    return o;
}

uint32_t LdShellToLocalCpu(uint32_t node, char** name, uint32_t mode, uint32_t localBase, uint32_t localSize,
                           int32_t* shellValue)
{
    if (!name) {
        std::free(CoffFileName);
        CoffFileName = nullptr;
        return 0;
    }
    Loader* context = new (std::nothrow) Loader;
    if (!context) return LDSHELL_READ_FAILED;
    Loader& l = *context;
    l.options = LdShellOptions(mode, im_getenv(node, "COFFLOADOPTION"), &l.eValue);
    l.base = localBase;
    l.size = localSize;

    const char* wanted = (*name && **name) ? *name : im_getenv(node, "COFFNAME");
    char* path = nullptr;
    const bool found = wanted && im_search_env(node, wanted, ".out", "COFFPATH", "r", &path);
    uint32_t status;
    if (!found) {
        if (!(l.options & OPT_CHECK)) {
            if (!wanted) {
                Say(l, "NULL file name used and environment variable %s not set.\n", "COFFNAME");
            } else {
                Say(l, "\n%s: unable to open file %s.\n", kProduct, wanted);
                const char c = wanted[0];
                if (im_getenv(node, "COFFPATH"))
                    Say(l, "%s not found in current directory or\nin search path environment variable %s\n", wanted,
                        "COFFPATH");
                else if (c == '~' || c == '.' || c == '/' || c == '\\' || (c && wanted[1] == ':'))
                    Say(l, "%s not found.\n", wanted);
                else
                    Say(l, "%s not found in current directory.\n", wanted);
            }
        }
        KeepName(nullptr);
        status = LDSHELL_NOT_FOUND;
    } else {
        KeepName(path);
        status = Run(l, path, shellValue);
    }
    std::free(path);
    delete context;
    *name = CoffFileName;
    return status;
}
