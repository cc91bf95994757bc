#include "videomode.h"

#include "disphooks.h"
#include "dispreg.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "pci.h"
#include "regularfile.h"
#include "w32time.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

// Rows in file-name order; CRTC_(22)-(26) follow CRTC_(18) here although their words
// stand after the graphics controller's.
_VCF_REGISTERS VcfRegTable[kVcfRegisterRows + 1] = {
    {"INFO_XSIZE", VCF_STORE_LONG, 0 * 4, kVcfNotGiven},
    {"INFO_YSIZE", VCF_STORE_LONG, 1 * 4, kVcfNotGiven},
    {"INFO_MODE", VCF_STORE_LONG, 2 * 4, kVcfNotGiven},
    {"INFO_DEPTH", VCF_STORE_LONG, 3 * 4, kVcfNotGiven},
    {"INFO_BAND", VCF_STORE_LONG, 4 * 4, kVcfNotGiven},
    {"COLUMN", VCF_STORE_LONG, 5 * 4, kVcfNotGiven},
    {"ROW", VCF_STORE_LONG, 6 * 4, kVcfNotGiven},
    {"POINTS", VCF_STORE_LONG, 7 * 4, kVcfNotGiven},
    {"VIDSIZE", VCF_STORE_LONG, 8 * 4, kVcfNotGiven},
    {"SEQUENCER_(00)", VCF_STORE_LONG, 9 * 4, kVcfNotGiven},
    {"SEQUENCER_(01)", VCF_STORE_LONG, 10 * 4, kVcfNotGiven},
    {"SEQUENCER_(02)", VCF_STORE_LONG, 11 * 4, kVcfNotGiven},
    {"SEQUENCER_(03)", VCF_STORE_LONG, 12 * 4, kVcfNotGiven},
    {"SEQUENCER_(04)", VCF_STORE_LONG, 13 * 4, kVcfNotGiven},
    {"MISC", VCF_STORE_LONG, 14 * 4, kVcfNotGiven},
    {"CRTC_(00)", VCF_STORE_LONG, 15 * 4, kVcfNotGiven},
    {"CRTC_(01)", VCF_STORE_LONG, 16 * 4, kVcfNotGiven},
    {"CRTC_(02)", VCF_STORE_LONG, 17 * 4, kVcfNotGiven},
    {"CRTC_(03)", VCF_STORE_LONG, 18 * 4, kVcfNotGiven},
    {"CRTC_(04)", VCF_STORE_LONG, 19 * 4, kVcfNotGiven},
    {"CRTC_(05)", VCF_STORE_LONG, 20 * 4, kVcfNotGiven},
    {"CRTC_(06)", VCF_STORE_LONG, 21 * 4, kVcfNotGiven},
    {"CRTC_(07)", VCF_STORE_LONG, 22 * 4, kVcfNotGiven},
    {"CRTC_(08)", VCF_STORE_LONG, 23 * 4, kVcfNotGiven},
    {"CRTC_(09)", VCF_STORE_LONG, 24 * 4, kVcfNotGiven},
    {"CRTC_(0A)", VCF_STORE_LONG, 25 * 4, kVcfNotGiven},
    {"CRTC_(0B)", VCF_STORE_LONG, 26 * 4, kVcfNotGiven},
    {"CRTC_(0C)", VCF_STORE_LONG, 27 * 4, kVcfNotGiven},
    {"CRTC_(0D)", VCF_STORE_LONG, 28 * 4, kVcfNotGiven},
    {"CRTC_(0E)", VCF_STORE_LONG, 29 * 4, kVcfNotGiven},
    {"CRTC_(0F)", VCF_STORE_LONG, 30 * 4, kVcfNotGiven},
    {"CRTC_(10)", VCF_STORE_LONG, 31 * 4, kVcfNotGiven},
    {"CRTC_(11)", VCF_STORE_LONG, 32 * 4, kVcfNotGiven},
    {"CRTC_(12)", VCF_STORE_LONG, 33 * 4, kVcfNotGiven},
    {"CRTC_(13)", VCF_STORE_LONG, 34 * 4, kVcfNotGiven},
    {"CRTC_(14)", VCF_STORE_LONG, 35 * 4, kVcfNotGiven},
    {"CRTC_(15)", VCF_STORE_LONG, 36 * 4, kVcfNotGiven},
    {"CRTC_(16)", VCF_STORE_LONG, 37 * 4, kVcfNotGiven},
    {"CRTC_(17)", VCF_STORE_LONG, 38 * 4, kVcfNotGiven},
    {"CRTC_(18)", VCF_STORE_LONG, 39 * 4, kVcfNotGiven},
    {"CRTC_(22)", VCF_STORE_LONG, 70 * 4, kVcfNotGiven},
    {"CRTC_(23)", VCF_STORE_LONG, 71 * 4, kVcfNotGiven},
    {"CRTC_(24)", VCF_STORE_LONG, 72 * 4, kVcfNotGiven},
    {"CRTC_(25)", VCF_STORE_LONG, 73 * 4, kVcfNotGiven},
    {"CRTC_(26)", VCF_STORE_LONG, 74 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(00)", VCF_STORE_LONG, 40 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(01)", VCF_STORE_LONG, 41 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(02)", VCF_STORE_LONG, 42 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(03)", VCF_STORE_LONG, 43 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(04)", VCF_STORE_LONG, 44 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(05)", VCF_STORE_LONG, 45 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(06)", VCF_STORE_LONG, 46 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(07)", VCF_STORE_LONG, 47 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(08)", VCF_STORE_LONG, 48 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(09)", VCF_STORE_LONG, 49 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0A)", VCF_STORE_LONG, 50 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0B)", VCF_STORE_LONG, 51 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0C)", VCF_STORE_LONG, 52 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0D)", VCF_STORE_LONG, 53 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0E)", VCF_STORE_LONG, 54 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(0F)", VCF_STORE_LONG, 55 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(10)", VCF_STORE_LONG, 56 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(11)", VCF_STORE_LONG, 57 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(12)", VCF_STORE_LONG, 58 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(13)", VCF_STORE_LONG, 59 * 4, kVcfNotGiven},
    {"ATTRIBUTE_(14)", VCF_STORE_LONG, 60 * 4, kVcfNotGiven},
    {"GAPHCTL_(00)", VCF_STORE_LONG, 61 * 4, kVcfNotGiven},
    {"GAPHCTL_(01)", VCF_STORE_LONG, 62 * 4, kVcfNotGiven},
    {"GAPHCTL_(02)", VCF_STORE_LONG, 63 * 4, kVcfNotGiven},
    {"GAPHCTL_(03)", VCF_STORE_LONG, 64 * 4, kVcfNotGiven},
    {"GAPHCTL_(04)", VCF_STORE_LONG, 65 * 4, kVcfNotGiven},
    {"GAPHCTL_(05)", VCF_STORE_LONG, 66 * 4, kVcfNotGiven},
    {"GAPHCTL_(06)", VCF_STORE_LONG, 67 * 4, kVcfNotGiven},
    {"GAPHCTL_(07)", VCF_STORE_LONG, 68 * 4, kVcfNotGiven},
    {"GAPHCTL_(08)", VCF_STORE_LONG, 69 * 4, kVcfNotGiven},
    {"CRTC_EXT_(00)", VCF_STORE_LONG, 75 * 4, kVcfNotGiven},
    {"CRTC_EXT_(01)", VCF_STORE_LONG, 76 * 4, kVcfNotGiven},
    {"CRTC_EXT_(02)", VCF_STORE_LONG, 77 * 4, kVcfNotGiven},
    {"CRTC_EXT_(03)", VCF_STORE_LONG, 78 * 4, kVcfNotGiven},
    {"CRTC_EXT_(04)", VCF_STORE_LONG, 79 * 4, kVcfNotGiven},
    {"CRTC_EXT_(05)", VCF_STORE_LONG, 80 * 4, kVcfNotGiven},
    {"PCLK_(00)", VCF_STORE_LONG, 81 * 4, kVcfNotGiven},
    {"PCLK_(01)", VCF_STORE_LONG, 82 * 4, kVcfNotGiven},
    {"PCLK_(02)", VCF_STORE_LONG, 83 * 4, kVcfNotGiven},
    {"MCLK_(00)", VCF_STORE_LONG, 84 * 4, kVcfNotGiven},
    {"MCLK_(01)", VCF_STORE_LONG, 85 * 4, kVcfNotGiven},
    {"MCLK_(02)", VCF_STORE_LONG, 86 * 4, kVcfNotGiven},
    {"LCLK_(00)", VCF_STORE_LONG, 87 * 4, kVcfNotGiven},
    {"LCLK_(01)", VCF_STORE_LONG, 88 * 4, kVcfNotGiven},
    {"LCLK_(02)", VCF_STORE_LONG, 89 * 4, kVcfNotGiven},
    {"TVP_(06)", VCF_STORE_LONG, 90 * 4, kVcfNotGiven},
    {"TVP_(07)", VCF_STORE_LONG, 91 * 4, kVcfNotGiven},
    {"TVP_(0F)", VCF_STORE_LONG, 92 * 4, kVcfNotGiven},
    {"TVP_(18)", VCF_STORE_LONG, 93 * 4, kVcfNotGiven},
    {"TVP_(19)", VCF_STORE_LONG, 94 * 4, kVcfNotGiven},
    {"TVP_(1A)", VCF_STORE_LONG, 95 * 4, kVcfNotGiven},
    {"TVP_(1D)", VCF_STORE_LONG, 96 * 4, kVcfNotGiven},
    {"TVP_(1E)", VCF_STORE_LONG, 97 * 4, kVcfNotGiven},
    {"TVP_(30)", VCF_STORE_LONG, 98 * 4, kVcfNotGiven},
    {"TVP_(31)", VCF_STORE_LONG, 99 * 4, kVcfNotGiven},
    {"TVP_(32)", VCF_STORE_LONG, 100 * 4, kVcfNotGiven},
    {"TVP_(33)", VCF_STORE_LONG, 101 * 4, kVcfNotGiven},
    {"TVP_(34)", VCF_STORE_LONG, 102 * 4, kVcfNotGiven},
    {"TVP_(35)", VCF_STORE_LONG, 103 * 4, kVcfNotGiven},
    {"TVP_(36)", VCF_STORE_LONG, 104 * 4, kVcfNotGiven},
    {"TVP_(37)", VCF_STORE_LONG, 105 * 4, kVcfNotGiven},
    {"TVP_(38)", VCF_STORE_LONG, 106 * 4, kVcfNotGiven},
    {"TVP_(39)", VCF_STORE_LONG, 107 * 4, kVcfNotGiven},
    {nullptr, 0, 0, 0},
};

namespace {

// The table's states belong to one load at a time.
std::mutex g_loadLock;

const char kBlockHeader[] = "[REG_DIGIT]";
const char kEndOfFile[] = "[EOF]";

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Next token of the text: its start and length; false at the end.
bool NextToken(const char** cursor, const char** start, size_t* length)
{
    const char* p = *cursor;
    while (*p && IsSeparator(*p)) ++p;
    if (!*p) {
        *cursor = p;
        return false;
    }
    const char* q = p;
    while (*q && !IsSeparator(*q)) ++q;
    *start = p;
    *length = static_cast<size_t>(q - p);
    *cursor = q;
    return true;
}

// Appends text to the collected block; false when it would not fit (with the NUL).
bool Append(char* buffer, size_t* used, const char* text)
{
    const size_t n = std::strlen(text);
    if (*used + n + 1 > kVcfBufferBytes) return false;
    std::memcpy(buffer + *used, text, n + 1);
    *used += n;
    return true;
}

// Register word of a TVIDEO_PARAM as a byte.
uint32_t Low(int32_t word)
{
    return static_cast<uint32_t>(word) & 0xFF;
}

const uint8_t kInitCrtc[0x27] = {0xA3, 0x7F, 0x7F, 0x07, 0x83, 0x93, 0x24, 0xF5, 0x00, 0x60, 0x20, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x02, 0x86, 0xFF, 0x80, 0x00, 0xFF, 0x25, 0xC3, 0xFF, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x80, 0x00, 0x34};
const uint8_t kInitSequencer[5] = {0x03, 0x01, 0x0F, 0x00, 0x0E};
const uint8_t kInitCrtcExt[6] = {0x00, 0x00, 0x00, 0x81, 0x00, 0x00};
const uint8_t kInitGraphics[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x05, 0x0F, 0xFF};

// DAC indexed registers of the TVP_ words, in word order; TVP_(39) goes to 0xB9 apart.
const uint8_t kTvpRegisters[kVcfTvpWords - 1] = {0x86, 0x87, 0x8F, 0x98, 0x99, 0x9A, 0x9D, 0x9E, 0xB0,
                                                 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8};

// The display chip's PCI function as the node's display view locates it; false when the
// node is not open or its chip's place on the bus is not known.
bool ChipPciFunction(uint32_t node, uint8_t* bus, uint8_t* device, uint8_t* function)
{
    const HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(node);
    if (!link || !link->chipPci) return false;
    *bus = link->chipBus;
    *device = link->chipDevice;
    *function = link->chipFunction;
    return true;
}

// Read-modify-write of the chip's configuration dword 0x40; left alone when it cannot be read.
void PciModify(uint32_t node, uint32_t keep, uint32_t set)
{
    uint8_t bus, device, function;
    if (!ChipPciFunction(node, &bus, &device, &function)) return;
    uint32_t v = 0;
    if (PciConfigReadDword(DefaultAccessType, bus, device, function, 0x40, &v)) return;
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x40, (v & keep) | set);
}

void VgaOr(uint32_t node, uint32_t offset, uint32_t index, uint32_t bits)
{
    VgaWriteRegisterByByteIndex(node, offset, index, VgaReadRegisterByByteIndex(node, offset, index) | bits);
}

} // namespace

// ---------------------------------------------------------------- VCF files

int im_file_peek(FILE* file)
{
    const int c = std::fgetc(file);
    if (c != EOF) std::ungetc(c, file);
    return c;
}

int im_file_extract_line(FILE* file, char* line, uint32_t size)
{
    if (!file || !line || size == 0) return 0;
    if (im_file_peek(file) == EOF) {
        line[0] = '\0';
        return 0;
    }
    uint32_t n = 0;
    bool cut = false;
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
        if (c == '\r') cut = true;
        if (!cut && n + 1 < size) line[n++] = static_cast<char>(c);
    }
    line[n] = '\0';
    return 1;
}

int im_file_extract_comments(FILE* file, char* line, uint32_t size)
{
    while (im_file_extract_line(file, line, size))
        if (line[0] != '/') return 1;
    return 0;
}

char* im_vcf_read_file_to_buf(const char* path)
{
    // Opened without blocking and checked on the opened file: a pipe, a device or a file
    // beyond the limit is refused before anything is read.
    FILE* file = qsrf::OpenRegularStream(path, "r", kVcfMaxFileBytes);
    if (!file) return nullptr;
    char line[kVcfLineBytes];
    bool inBlock = false, tooLong = false;
    char* buffer = static_cast<char*>(std::malloc(kVcfBufferBytes));
    size_t used = 0;
    if (buffer) buffer[0] = '\0';
    bool first = true;
    while (buffer && im_file_extract_comments(file, line, sizeof line)) {
        if (!inBlock) {
            // A file that opens with its close holds nothing; later lines before the
            // block are passed over, whatever they say.
            if (first && StartsWith(line, kEndOfFile)) break;
            first = false;
            if (StartsWith(line, kBlockHeader)) {
                inBlock = true;
                Append(buffer, &used, "[REG_DIGIT]\n");
            }
            continue;
        }
        if (line[0] == '[') break;
        if (!Append(buffer, &used, line) || !Append(buffer, &used, "\n")) {
            tooLong = true;
            break;
        }
    }
    std::fclose(file);
    if (!buffer) return nullptr;
    if (tooLong || !inBlock || !Append(buffer, &used, "[EOF]\n")) {
        if (tooLong || inBlock)
            HlcPrint("Video configuration file %s: register block longer than %u bytes\n", path,
                     static_cast<unsigned>(kVcfBufferBytes));
        std::free(buffer);
        return nullptr;
    }
    return buffer;
}

int im_get_register_map_index(const char* name)
{
    if (!name) return -1;
    for (uint32_t i = 0; i < kVcfRegisterRows && VcfRegTable[i].name; ++i)
        if (std::strcmp(VcfRegTable[i].name, name) == 0) return static_cast<int>(i);
    return -1;
}

void im_put_register_value(uint32_t row, int32_t value, VIDEO_PARAM* param)
{
    if (row >= kVcfRegisterRows || !param) return;
    const _VCF_REGISTERS& r = VcfRegTable[row];
    auto* bytes = reinterpret_cast<uint8_t*>(param);
    const uint32_t width = r.kind == VCF_STORE_BYTE ? 1 : r.kind == VCF_STORE_SHORT ? 2 : 4;
    if (r.offset + width > sizeof(VIDEO_PARAM)) return;
    const uint32_t v = static_cast<uint32_t>(value);
    for (uint32_t i = 0; i < width; ++i) bytes[r.offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

int im_verify_register_value(const char* text, int32_t* value)
{
    if (!text) return VCF_BAD_VALUE;
    const size_t length = std::strlen(text);
    if (length < 1 || length > 10) return VCF_BAD_VALUE;
    // The whole text must be a number that fits the 32-bit word; the largest word is
    // taken only when written in hexadecimal.
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0') return VCF_BAD_VALUE;
    if (v > 0x7FFFFFFFLL || v < -0x80000000LL) return VCF_BAD_VALUE;
    if (v == 0x7FFFFFFFLL && !std::strchr(text, 'f') && !std::strchr(text, 'F')) return VCF_BAD_VALUE;
    if (value) *value = static_cast<int32_t>(v);
    return VCF_OK;
}

int im_load_register_block(const char** cursor, VIDEO_PARAM* param)
{
    if (!cursor || !*cursor || !param) return VCF_NOT_READ;
    for (;;) {
        const char* start = nullptr;
        size_t length = 0;
        if (!NextToken(cursor, &start, &length)) return VCF_OK;
        if (start[0] == '[') {
            *cursor = start;
            return VCF_OK;
        }
        char name[kVcfLineBytes];
        const size_t nameLength = length < sizeof name - 1 ? length : sizeof name - 1;
        std::memcpy(name, start, nameLength);
        name[nameLength] = '\0';

        // A name without a value (the block's end or the next name) is a bad value.
        if (!NextToken(cursor, &start, &length)) return VCF_BAD_VALUE;
        if (length > 10) return VCF_BAD_VALUE;
        char text[11];
        std::memcpy(text, start, length);
        text[length] = '\0';
        int32_t value = 0;
        if (im_verify_register_value(text, &value) != VCF_OK) return VCF_BAD_VALUE;

        const int row = im_get_register_map_index(name);
        if (row < 0) {
            if (StartsWith(name, "INFO_")) continue;
            HlcPrint("Video configuration file: unknown register %s\n", name);
            return VCF_NOT_READ;
        }
        if (VcfRegTable[row].state == kVcfGiven) continue;   // the first value stays
        im_put_register_value(static_cast<uint32_t>(row), value, param);
        VcfRegTable[row].state = kVcfGiven;
    }
}

int im_vcf_load_file(const char* path, VIDEO_PARAM* param)
{
    if (!param) return VCF_NOT_READ;
    std::lock_guard<std::mutex> guard(g_loadLock);
    for (uint32_t i = 0; i < kVcfRegisterRows; ++i) VcfRegTable[i].state = kVcfNotGiven;
    for (uint32_t i = 0; i < kVcfTvpWords; ++i) param->Video.Tvp[i] = kTvpNotGiven;

    char* buffer = im_vcf_read_file_to_buf(path);
    if (!buffer) return VCF_NOT_READ;
    int result = VCF_OK;
    const char* cursor = buffer;
    while ((cursor = std::strchr(cursor, '[')) != nullptr) {
        if (StartsWith(cursor, kEndOfFile)) break;
        const bool block = StartsWith(cursor, kBlockHeader);
        cursor = std::strchr(cursor, '\n');
        if (!cursor) break;
        ++cursor;
        if (!block) continue;
        result = im_load_register_block(&cursor, param);
        if (result != VCF_OK) break;
    }
    std::free(buffer);
    return result;
}

// ---------------------------------------------------------------- the chip

constexpr double kRetraceWaitSeconds = 1.0;

// Polls the status register for the retrace bit for at most kRetraceWaitSeconds of the
// library clock; between polls the thread gives up the processor (a zero sleep), so on a
// virtual clock the wait moves time on in the shortest sleep steps and ends at once.
int HlcPyxWaitVerticalRetrace(uint32_t node)
{
    const double start = HwClockSeconds();
    for (;;) {
        if (PyxReadRegisterByByte(node, PYX_STATUS) & PYX_STATUS_RETRACE) return 1;
        if (HwClockSeconds() - start >= kRetraceWaitSeconds) return 0;
        HwSleep(0.0);
    }
}

void HlcPyxScreenOff(uint32_t node)
{
    VgaOr(node, VGA_SEQUENCER, 1, 0x20);
}

void HlcPyxScreenOn(uint32_t node)
{
    VgaWriteRegisterByByteIndex(node, VGA_SEQUENCER, 1, VgaReadRegisterByByteIndex(node, VGA_SEQUENCER, 1) & ~0x20u);
}

uint32_t HlcPyxRdPciConfig(uint32_t node, uint32_t reg)
{
    uint8_t bus, device, function;
    uint32_t value = 0;
    if (!ChipPciFunction(node, &bus, &device, &function) ||
        PciConfigReadDword(DefaultAccessType, bus, device, function, static_cast<uint8_t>(reg), &value))
        return 0xFFFFFFFFu;   // what the bus answers for a function that is not there
    return value;
}

void HlcPyxWrPciConfig(uint32_t node, uint32_t reg, uint32_t value)
{
    uint8_t bus, device, function;
    if (ChipPciFunction(node, &bus, &device, &function))
        PciConfigWriteDword(DefaultAccessType, bus, device, function, static_cast<uint8_t>(reg), value);
}

uint32_t HlcWramInit(uint32_t node)
{
    // Any failure of the memory clock (an unknown select or no lock) is reported as 1.
    const uint32_t clock = HlcDacSetClk(node, PLL_MEMORY, 75000, 8, 0) != 0 ? 1 : 0;

    PciModify(node, 0xFFFFFFFFu, 0x200000);
    VgaOr(node, VGA_CRTC_EXT, 3, 0x80);
    HlcPyxScreenOff(node);

    for (uint32_t i = 0; i < 5; ++i) VgaWriteRegisterByByteIndex(node, VGA_SEQUENCER, i, kInitSequencer[i]);
    for (uint32_t i = 0; i < 15; ++i) VgaWriteRegisterByByteIndex(node, VGA_ATTRIBUTE, i, i);
    VgaOr(node, VGA_MISC_READ, 0, 1);
    VgaOr(node, VGA_CRTC, 0x11, 0x80);

    for (uint32_t i = 0; i < sizeof kInitCrtc; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC, i, kInitCrtc[i]);
    for (uint32_t i = 0; i < 6; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC_EXT, i, kInitCrtcExt[i]);

    PyxWriteRegisterByByte(node, VGA_MISC_WRITE, 0x70);
    PyxWriteRegisterByByte(node, VGA_DAC_STATE, 0);
    VgaWriteRegisterByByte(node, VGA_MISC_READ, 0xEF);
    VgaWriteRegisterByByte(node, VGA_FEATURE_READ, 0);
    PyxWriteRegisterByByte(node, VGA_STATUS1, 0);

    for (uint32_t i = 0; i < 9; ++i) VgaWriteRegisterByByteIndex(node, VGA_GRAPHICS, i, kInitGraphics[i]);

    PciModify(node, 0xFFF9FFFFu, 0x90000);
    return clock;
}

void HlcDacWriteParam(uint32_t node, const TVIDEO_PARAM* param)
{
    if (!param) return;
    for (uint32_t i = 0; i < kVcfTvpWords - 1; ++i)
        if (param->Tvp[i] >= 0 && param->Tvp[i] < kTvpNotGiven)
            DacWriteRegisterByByte(node, kTvpRegisters[i], static_cast<uint32_t>(param->Tvp[i]));
}

void HlcPyxSetVideoParam(uint32_t node, const TVIDEO_PARAM* param)
{
    if (!param) return;
    HlcPyxWaitVerticalRetrace(node);
    for (uint32_t i = 0; i < 5; ++i) VgaWriteRegisterByByteIndex(node, VGA_SEQUENCER, i, Low(param->Sequencer[i]));
    VgaWriteRegisterByByte(node, VGA_MISC_READ, Low(param->Misc));
    for (uint32_t i = 0; i < 6; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC_EXT, i, Low(param->CrtcExt[i]));
    for (uint32_t i = 0; i < 21; ++i) VgaWriteRegisterByByteIndex(node, VGA_ATTRIBUTE, i, Low(param->Attribute[i]));
    for (uint32_t i = 0; i < 9; ++i) VgaWriteRegisterByByteIndex(node, VGA_GRAPHICS, i, Low(param->Graphics[i]));
    for (uint32_t i = 0; i < 25; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC, i, Low(param->Crtc[i]));
    for (uint32_t i = 0; i < 5; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC, 0x22 + i, Low(param->CrtcHigh[i]));
    const int32_t b9 = param->Tvp[kVcfTvpWords - 1];
    DacWriteRegisterByByte(node, 0xB9, b9 >= 0 && b9 < kTvpNotGiven ? static_cast<uint32_t>(b9) : 0x38);
    HlcDacWriteFreqParam(node, PLL_MEMORY, Low(param->Mclk[0]), Low(param->Mclk[1]), Low(param->Mclk[2]));
    HlcDacWriteFreqParam(node, PLL_PIXEL, Low(param->Pclk[0]), Low(param->Pclk[1]), Low(param->Pclk[2]));
    HlcDacWriteFreqParam(node, PLL_LOOP, Low(param->Lclk[0]), Low(param->Lclk[1]), Low(param->Lclk[2]));
    HlcDacWriteParam(node, param);
    HlcPyxWaitVerticalRetrace(node);
}

void HlcPyxGetVideoParam(uint32_t node, TVIDEO_PARAM* param)
{
    if (!param) return;
    HlcPyxWaitVerticalRetrace(node);
    for (uint32_t i = 0; i < 5; ++i)
        param->Sequencer[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_SEQUENCER, i));
    param->Misc = static_cast<int32_t>(VgaReadRegisterByByte(node, VGA_MISC_READ));
    for (uint32_t i = 0; i < 25; ++i) param->Crtc[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_CRTC, i));
    for (uint32_t i = 0; i < 5; ++i)
        param->CrtcHigh[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_CRTC, 0x22 + i));
    for (uint32_t i = 0; i < 21; ++i)
        param->Attribute[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_ATTRIBUTE, i));
    for (uint32_t i = 0; i < 9; ++i)
        param->Graphics[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_GRAPHICS, i));
    for (uint32_t i = 0; i < 6; ++i)
        param->CrtcExt[i] = static_cast<int32_t>(VgaReadRegisterByByteIndex(node, VGA_CRTC_EXT, i));
    uint32_t m = 0, n = 0, p = 0;
    HlcDacReadFreqParam(node, PLL_MEMORY, &m, &n, &p);
    param->Mclk[0] = static_cast<int32_t>(m), param->Mclk[1] = static_cast<int32_t>(n), param->Mclk[2] = static_cast<int32_t>(p);
    HlcDacReadFreqParam(node, PLL_PIXEL, &m, &n, &p);
    param->Pclk[0] = static_cast<int32_t>(m), param->Pclk[1] = static_cast<int32_t>(n), param->Pclk[2] = static_cast<int32_t>(p);
    HlcDacReadFreqParam(node, PLL_LOOP, &m, &n, &p);
    param->Lclk[0] = static_cast<int32_t>(m), param->Lclk[1] = static_cast<int32_t>(n), param->Lclk[2] = static_cast<int32_t>(p);
}

int im_disp_set_pyx_mode(uint32_t node, VIDEO_PARAM* param)
{
    if (!param || !HlcGetDisplayHooks().displayLink(node)) return 0;
    if (HlcWramInit(node) != 0) HlcPrint("Display memory clock did not lock\n");
    DacWriteRegisterByByte(node, 0x98, 0x07);
    DacWriteRegisterByByte(node, 0x99, 0x5D);
    DacWriteRegisterByByte(node, 0x9A, 0x25);
    DacWriteRegisterByByte(node, 0x9E, DacReadRegisterByByte(node, 0x9E) | 0x08);
    DacWriteRegisterByByte(node, DAC_PIXEL_MASK, 0xFF);
    HlcDacSetClk(node, PLL_PIXEL, 75000, 8, 0);
    for (uint32_t i = 0; i < 256; ++i) DacWriteRegisterByLongIndex(node, DAC_PALETTE_DATA, i, i << 16 | i << 8 | i);
    HlcPyxSetVideoParam(node, &param->Video);
    HlcPyxScreenOn(node);
    return 0;
}

void GetDispResolution(uint32_t node, uint32_t* width, uint32_t* height)
{
    const uint32_t c1 = VgaReadRegisterByByteIndex(node, VGA_CRTC, 1);
    const uint32_t c7 = VgaReadRegisterByByteIndex(node, VGA_CRTC, 7);
    const uint32_t c12 = VgaReadRegisterByByteIndex(node, VGA_CRTC, 0x12);
    const uint32_t x0 = VgaReadRegisterByByteIndex(node, VGA_CRTC_EXT, 0);
    const uint32_t x2 = VgaReadRegisterByByteIndex(node, VGA_CRTC_EXT, 2);
    const uint32_t end = c12 | ((c7 >> 1) & 1) << 8 | ((c7 >> 6) & 1) << 9 | ((x2 >> 2) & 1) << 10;
    uint32_t h = end ? end + 1 : 0;
    if (x0 & 0x80) h *= 2;
    if (width) *width = c1 ? (c1 + 1) * 8 : 0;
    if (height) *height = h;
}

uint32_t PowerGraphEnabled(uint32_t node)
{
    return (VgaReadRegisterByByteIndex(node, VGA_CRTC_EXT, 3) >> 7) & 1;
}
