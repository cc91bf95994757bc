// FPGA loading from ".res" bit files: one byte of the image per '0'/'1' character, one
// bit lane per "Generic" line, each lane's run followed by the trailer 1, 0, 1.
#include "fpgaload.h"
#include "hostutil.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "nodeopen.h"
#include "regularfile.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kIgnoredOption = 0x20000000u;
constexpr double kPulseWait = 0.040;
const char kGeneric[] = "Generic";
constexpr size_t kGenericLength = sizeof kGeneric - 1;

struct Windows {
    uint32_t control = 0;   // register window holding the control word
    uint32_t port = 0;      // 2 KB window whose word 0 is the data port
};

bool FpgaWindows(uint32_t node, Windows* w)
{
    _NODE_MAIN_RESOURCE_ST* record = HlcGetBoardHooks().nodeResource(node);
    if (!record) return false;
    if (record->primaryRegs) {
        w->control = record->primaryRegs;
        w->port = record->primaryPort;
    } else {
        w->control = record->displayRegs;
        w->port = record->displayPort;
    }
    return w->control && w->port;
}

bool Done(const Windows& w)
{
    return (HwRead32(w.control, kOrloControl) & kControlFpgaDone) != 0;
}

// "F+" in the setting "COFFLOADOPTION", letters in either case.
bool ForcedByOption(uint32_t node)
{
    const char* letters = im_getenv(node, "COFFLOADOPTION");
    for (const char* p = letters; p && *p; ++p)
        if (std::toupper(static_cast<unsigned char>(p[0])) == 'F' && p[1] == '+') return true;
    return false;
}

// Where "Generic" starts a data line at text[at]: '=' directly after it or after any
// three characters, the lane written as "[d]".
bool GenericAt(const std::string& text, size_t at)
{
    if (text.compare(at, kGenericLength, kGeneric) != 0) return false;
    const size_t after = at + kGenericLength;
    if (after < text.size() && text[after] == '=') return true;
    return after + 3 < text.size() && text[after + 3] == '=';
}

double VersionAfter(const std::string& text, size_t at)
{
    const std::string number = text.substr(at, 6);
    return std::atof(number.c_str());
}

bool ReadAll(FILE* file, std::string* text)
{
    char piece[4096];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) {
        if (text->size() + n > static_cast<size_t>(kFpgaMaxFileBytes)) return false;
        text->append(piece, n);
    }
    return !std::ferror(file);
}

} // namespace

long PrFileSize(FILE* file)
{
    if (!file) return -1;
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return size;
}

uint32_t PrFpgaSeekGeneric(uint32_t, const char* path, FILE** file, double* softwareVersion, double* hardwareVersion)
{
    *file = nullptr;
    // Opened without blocking and checked on the opened file: a pipe or a device is
    // refused, and so is a file beyond the limit, before anything is read.
    qsrf::OpenRefusal why = qsrf::OpenRefusal::kNone;
    FILE* f = qsrf::OpenRegularStream(path, "rb", static_cast<uint64_t>(kFpgaMaxFileBytes), &why);
    if (!f) return why == qsrf::OpenRefusal::kTooLarge ? FPGA_READ_TOO_LARGE : FPGA_READ_NO_DATA;
    const long size = PrFileSize(f);
    if (size < 0) {
        std::fclose(f);
        return FPGA_READ_NO_DATA;
    }
    std::string text;
    if (!ReadAll(f, &text)) {
        std::fclose(f);
        return FPGA_READ_NO_DATA;
    }
    size_t at = 0;
    bool found = false;
    for (; at < text.size(); ++at) {
        if (GenericAt(text, at)) {
            found = true;
            break;
        }
        if (softwareVersion && text.compare(at, 11, "SW_Version ") == 0) *softwareVersion = VersionAfter(text, at + 11);
        if (hardwareVersion && text.compare(at, 11, "HW_Version ") == 0) *hardwareVersion = VersionAfter(text, at + 11);
    }
    if (!found || std::fseek(f, static_cast<long>(at), SEEK_SET) != 0) {
        std::fclose(f);
        return FPGA_READ_NO_DATA;
    }
    *file = f;
    return 0;
}

uint32_t PrFpgaReadGeneric(FILE* file, uint8_t** image, uint32_t* length)
{
    *image = nullptr;
    *length = 0;
    std::string text;
    if (!file || !ReadAll(file, &text)) return FPGA_READ_NO_DATA;
    std::string bytes;   // the image, grown as lanes need it
    bool any = false;
    for (size_t at = 0; at < text.size(); ++at) {
        if (!GenericAt(text, at)) continue;
        size_t p = at + kGenericLength;
        int lane = 3;
        if (text[p] != '=') {
            // Three characters before '=', the middle one the lane digit.
            if (!std::isdigit(static_cast<unsigned char>(text[p + 1])) || text[p + 1] > '7') return FPGA_READ_NO_DATA;
            lane = text[p + 1] - '0';
            p += 3;
        }
        ++p; // '='
        size_t count = 0;
        for (; p < text.size(); ++p) {
            const char c = text[p];
            if (c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '=') continue;
            if (c != '0' && c != '1') break;
            if (count >= bytes.size()) {
                if (bytes.size() + 3 >= static_cast<size_t>(kFpgaMaxFileBytes)) return FPGA_READ_TOO_LARGE;
                bytes.push_back('\0');
            }
            if (c == '1') bytes[count] = static_cast<char>(bytes[count] | (1 << lane));
            ++count;
        }
        static const int kTrailer[3] = {1, 0, 1};
        for (int i = 0; i < 3; ++i, ++count) {
            if (count >= bytes.size()) bytes.push_back('\0');
            if (kTrailer[i]) bytes[count] = static_cast<char>(bytes[count] | (1 << lane));
        }
        any = true;
        at = p - 1;
    }
    if (!any) return FPGA_READ_NO_DATA;
    *image = static_cast<uint8_t*>(std::malloc(bytes.size()));
    if (!*image) return FPGA_READ_TOO_LARGE;
    std::memcpy(*image, bytes.data(), bytes.size());
    *length = static_cast<uint32_t>(bytes.size());
    return 0;
}

uint32_t PrFpgaWrite(uint32_t node, const uint8_t* image, uint32_t length)
{
    Windows w;
    if (!FpgaWindows(node, &w)) return FPGA_NO_WINDOW;
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    HwWrite32(w.control, kOrloControl, HwRead32(w.control, kOrloControl) | kControlFpgaProgram);
    hooks.sleep(kPulseWait);
    HwWrite32(w.control, kOrloControl, HwRead32(w.control, kOrloControl) & ~kControlFpgaProgram);
    hooks.sleep(kPulseWait);
    if (Done(w)) return FPGA_NO_MODULE;
    for (uint32_t i = 0; i < length; ++i) {
        HwWrite32(w.port, 0, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(image[i]))));
        HwRead32(w.control, kOrloControl);
    }
    return Done(w) ? 0 : FPGA_NOT_DONE;
}

uint32_t mp_sys_load_fpga(uint32_t node, const char* name, uint32_t option)
{
    option &= ~kIgnoredOption;
    Windows w;
    if (!FpgaWindows(node, &w)) return FPGA_NO_WINDOW;
    _NODE_MAIN_RESOURCE_ST* record = HlcGetBoardHooks().nodeResource(node);
    if (HlcGetBoardHooks().externalBoardId(record) == 0) return FPGA_NO_MODULE;
    if (!name || !*name) name = im_getenv(node, "FPGANAME");

    // A configured FPGA is kept unless the option asks for a load, whether or not a
    // file is named.
    if (Done(w)) {
        if ((option == 0x10000000u || option == 1) && ForcedByOption(node)) option = 2;
        if (option != 0 && option != 2) return 0;
    }
    if (!name || !*name) return FPGA_NO_FILE;

    char* path = nullptr;
    if (!im_search_env(node, name, ".res", "FPGAPATH", "r", &path)) {
        std::free(path);
        return FPGA_NO_FILE;
    }
    FILE* file = nullptr;
    uint32_t status = PrFpgaSeekGeneric(node, path, &file, nullptr, nullptr);
    std::free(path);
    if (status) return status;
    uint8_t* image = nullptr;
    uint32_t length = 0;
    status = PrFpgaReadGeneric(file, &image, &length);
    std::fclose(file);
    if (status) return status;
    status = PrFpgaWrite(node, image, length);
    std::free(image);
    return status;
}
