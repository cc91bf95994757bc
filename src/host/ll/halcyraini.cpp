// Reading "halcyra.ini": finding the file, joining its lines, scanning them against the
// keyword table into the global record and one record per [Node] section, linking the
// connection rings, and the accessors by keyword.
//
// Accessors:
// - HalcyraIniReadTag (node, keyword, out). A setting keyword: with out null the word at
//   the keyword's offset in the node's record; with out given that word is stored in *out
//   and the result is 1. A register field keyword without prefix works the same on the
//   group's ppb value word. A field keyword behind "display.", "primary." or "ppb.": with
//   out null the field's value shifted down to bit 0; with out given, and only when the
//   file set every bit of the field, the field's bits of *out are replaced by the value
//   bits (in place), and the result is 1 either way. 0 for a null keyword, no loaded data,
//   an unknown keyword, a "pci." field, and rows that are no setting (sections, symbols,
//   conditionals, echo).
// - HalcyraIniWriteTag (node, keyword, value): a setting (or unprefixed field) keyword
//   stores value at its offset; a prefixed field keyword replaces the field's bits in the
//   prefix's value word ("display.", "primary.", else the ppb word) by value (clipped to
//   the field). The set-mask is not changed. 1 done, 0 as for the reads.
#include "halcyraini.h"

#include "consolepipe.h"
#include "hosthooks.h"
#include "hostutil.h"
#include "pci.h"
#include "qvlservice.h"
#include "regularfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// ---- keyword table ------------------------------------------------------------------------

namespace {
constexpr uint32_t kNum = INI_TYPE_NUMBER;
constexpr uint32_t kList = INI_TYPE_LIST;
constexpr uint32_t kSec = INI_KIND_SECTION;
constexpr uint32_t kSym = INI_KIND_SYMBOL;
constexpr uint32_t kPre = INI_KIND_PREFIX;
constexpr uint32_t kCond = INI_KIND_CONDITIONAL;

// Register group offsets.
constexpr uint32_t gPcStatusCmd = 0xEC, gPcHdtTmr = 0x104, gPcPpbCtrl = 0x11C, gPcPpbRetry = 0x134,
                   gHwfTrsh = 0x14C, gHrfTrsh = 0x164, gVrfTrsh = 0x17C, gMrfTrsh = 0x194, gHbusCtrl = 0x1AC,
                   gMemCtrl = 0x1C4, gMacctMng = 0x1DC, gDclkSel = 0x1F4, gDhDelay = 0x20C;
constexpr uint32_t kFirstGroup = gPcStatusCmd;
constexpr uint32_t kGroupsEnd = 0x224;
}  // namespace

const _REG_TABLE_ST defaultKeyWords[kIniKeywordCount + 1] = {
    {"[GlobalSetting]", kSec, INI_SECTION_GLOBAL},
    {"IgnoreEnvVar", 0x90, kNum},
    {"ApplicationMessaging", 0x94, kNum},
    {"AutoRescanIni", 0x98, kNum},
    {"MaxVmDevicesAt33", 0x9C, kNum},
    {"VmSpeedLimit", 0xA0, kNum},
    {"DisplayBoardInfo", 0xA4, kNum},
    {"CommunicationDebugMode", 0xA8, kNum},
    {"LargestDmaBlock", 0xAC, kNum},
    {"DisableDefaultMappingOfVirtualBuffer", 0xB0, kNum},
    {"ReservedHostSpaceForLcBuffers", 0xB4, kNum},
    {"SizeOfTmpBufferForHostGrab", 0xB8, kNum},
    {"[EnvSetting]", kSec, INI_SECTION_ENV},
    {"CoffPath", 0xBC, kNum},
    {"CoffName", 0xC0, kNum},
    {"CoffLoadOption", 0xC4, kNum},
    {"TifPath", 0xC8, kNum},
    {"JpgPath", 0xCC, kNum},
    {"OimPath", 0xD0, kNum},
    {"DcfPath", 0xD4, kNum},
    {"DcfName", 0xD8, kNum},
    {"VcfPath", 0xDC, kNum},
    {"VcfName", 0xE0, kNum},
    {"FpgaPath", 0xE4, kNum},
    {"DiagDumpFile", 0xE8, kNum},
    {"[PrivateGlobalSetting]", kSec, INI_SECTION_PRIVATE},
    {"hbusctrl.intseen", gHbusCtrl, 0x100},
    {"hbusctrl.intpeen", gHbusCtrl, 0x80},
    {"hbusctrl.pe2seen", gHbusCtrl, 0x40},
    {"hbusctrl.orlorcmd", gHbusCtrl, 0x0C},
    {"hbusctrl.mvprcmd", gHbusCtrl, 0x03},
    {"memctrl.refrate", gMemCtrl, 0xFF},
    {"memctrl.reqprty", gMemCtrl, 0x7000},
    {"macctmng.disctmr", gMacctMng, 0x0F000000},
    {"macctmng.mrasmax", gMacctMng, 0x00FFF000},
    {"macctmng.mmingnt", gMacctMng, 0x00000FFF},
    {"dclksel.dclksel", gDclkSel, 0x3FF},
    {"dhdelay.dhdelay", gDhDelay, 0xFF},
    {"hwftrsh.hwfrtrsh", gHwfTrsh, 0xFFFF0000},
    {"hrftrsh.hrfwtrsh", gHrfTrsh, 0xFFFF},
    {"vrftrsh.vrfwtrsh", gVrfTrsh, 0xFFFF},
    {"vrftrsh.vrfrtrsh", gVrfTrsh, 0xFFFF0000},
    {"hrftrsh.hrfrtrsh", gHrfTrsh, 0xFFFF0000},
    {"mrftrsh.mrfwtrsh", gMrfTrsh, 0xFFFF},
    {"mrftrsh.mrfrtrsh", gMrfTrsh, 0xFFFF0000},
    {"pcstatuscmd.serren", gPcStatusCmd, 0x100},
    {"pcstatuscmd.perrsp", gPcStatusCmd, 0x40},
    {"pcstatuscmd.bsmstr", gPcStatusCmd, 0x04},
    {"pcstatuscmd.memspc", gPcStatusCmd, 0x02},
    {"pcstatuscmd.dpardctd", gPcStatusCmd, 0x01000000},
    {"pcstatuscmd.rtrgtab", gPcStatusCmd, 0x10000000},
    {"pcstatuscmd.rmstrab", gPcStatusCmd, 0x20000000},
    {"pcstatuscmd.ssyserr", gPcStatusCmd, 0x40000000},
    {"pcstatuscmd.dctdperr", gPcStatusCmd, 0x80000000},
    {"pchdttmr.pcchlnsz", gPcHdtTmr, 0xFF},
    {"pchdttmr.pclattmr", gPcHdtTmr, 0xFF00},
    {"pcppbctrl.pwipostm", gPcPpbCtrl, 0x300},
    {"pcppbctrl.pwpostm", gPcPpbCtrl, 0xC00},
    {"pcppbctrl.prmprefm", gPcPpbCtrl, 0x3000},
    {"pcppbctrl.prprefm", gPcPpbCtrl, 0xC000},
    {"pcppbctrl.swipostm", gPcPpbCtrl, 0x30000},
    {"pcppbctrl.swpostm", gPcPpbCtrl, 0xC0000},
    {"pcppbctrl.srmprefm", gPcPpbCtrl, 0x300000},
    {"pcppbctrl.srprefm", gPcPpbCtrl, 0xC00000},
    {"pcppbretry.retrycross", gPcPpbRetry, 0x40000},
    {"[Node]", kSec, INI_SECTION_NODE},
    {"NodeId", 0x08, kNum},
    {"ProductId", 0x0C, kNum},
    {"SlotNbr", 0x10, kNum},
    {"DeviceNbr", 0x14, kNum},
    {"MvpPresent", 0x18, kNum},
    {"DisplayMode", 0x1C, kNum},
    {"VmBusSpeed", 0x20, kNum},
    {"GrabModulePresent", 0x24, kNum},
    {"ExtModuleType", 0x28, kNum},
    {"FpgaName", 0x2C, kNum},
    {"GrabPortConnection", 0x30, kList},
    {"VmPortConnection", 0x34, kList},
    {"VmExternalDeviceId", 0x38, kList},
    {"ScanHurlerConnection", 0x3C, kList},
    {"[Define]", kSec, INI_SECTION_OTHER},
    {"FORCE", kSym, 2},
    {"YES", kSym, 1},
    {"NO", kSym, 0},
    {"_IM_NO_PIPE", kSym, 0xFFFFFFFF},
    {"_IM_DEFAULT_PIPE", kSym, 0},
    {"_IM_KEEP_PIPE", kSym, 2},
    {"IM_SINGLE_SCREEN", kSym, 0},
    {"IM_DUAL_SCREEN", kSym, 1},
    {"IM_DUAL_HEAD", kSym, 2},
    {"IM_NONE", kSym, 0x20000000},
    {"IM_DEV_HALCYRA_PRO", kSym, 2},
    {"IM_DEV_HALCYRA_LC", kSym, 3},
    {"IM_DEV_HALCYRA_MEMORY", kSym, 4},
    {"IM_DEV_HALCYRA_UNDEF", kSym, 0x63},
    {"IM_DEV_HALCYRA", kSym, 1},
    {"IM_DEV_SORVIK_II_DIG", kSym, 5},
    {"IM_DEV_DAC", kSym, 6},
    {"IM_DEV_KORVEX_IV", kSym, 7},
    {"IM_EXTDEV_NONE", kSym, 0},
    {"IM_EXTDEV_HALCYRA_GRAB", kSym, 1},
    {"IM_EXTDEV_SORVIK_II_DIG_MJPEG", kSym, 0x22},
    {"IM_EXTDEV_SORVIK_II_DIG", kSym, 2},
    {"IM_EXTDEV_DAC_R0", kSym, 3},
    {"IM_EXTDEV_DAC_R1", kSym, 4},
    {"IM_EXTDEV_DAC_R2", kSym, 5},
    {"IM_EXTDEV_KORVEX_IV", kSym, 6},
    {"IM_EXTDEV_SCAN_HURLER", kSym, 0x80},
    {"[DeviceName]", kSec, INI_SECTION_OTHER},
    {"pci.", kPre, INI_PREFIX_PCI},
    {"ppb.", kPre, INI_PREFIX_PPB},
    {"primary.", kPre, INI_PREFIX_PRIMARY},
    {"display.", kPre, INI_PREFIX_DISPLAY},
    {"[FlowControl]", kSec, INI_SECTION_OTHER},
    {"!if0", kCond, 0},
    {"!if1", kCond, 1},
    {"!if430FX", kCond, 0x122D8086},
    {"!if430HX", kCond, 0x12508086},
    {"!if430VX", kCond, 0x70308086},
    {"!if430TX", kCond, 0x00008086},
    {"!if440FX", kCond, 0x12378086},
    {"!if440LX", kCond, 0x71808086},
    {"!if450KX", kCond, 0x84C48086},
    {"!ENDif", kCond, INI_ENDIF},
    {"@echo.", INI_KIND_ECHO, 0},
    {nullptr, 0, 0},
};

_HALCYRA_INI_ST* HalcyraIniSt = nullptr;
uint32_t HostBridgeId = 0;

// ---- helpers ------------------------------------------------------------------------------

namespace {

bool g_notFoundListed = false;   // the not-found listing, once per process
bool g_useReported = false;      // "HlcLib use Ini file", once per process
thread_local bool t_searching = false;   // FindHalcyraIniFile runs: environment only

// The record being read: the console setting that "@echo." and "pci." lines use.
_HALCYRA_INI_ST* g_reading = nullptr;

std::mutex g_numberTextMutex;
// Never destroyed: a node's threads may still use it while the process ends.
std::map<std::pair<const void*, uint32_t>, std::string>& g_numberTexts = *new std::map<std::pair<const void*, uint32_t>, std::string>;   // texts of numbers for im_getenv

bool IsSettingRow(const _REG_TABLE_ST* row)
{
    return row->KindOrOffset < INI_KIND_ECHO && (row->ValueOrType == kNum || row->ValueOrType == kList);
}
bool IsFieldRow(const _REG_TABLE_ST* row)
{
    return row->KindOrOffset >= kFirstGroup && row->KindOrOffset < kGroupsEnd && !IsSettingRow(row);
}

uint32_t LowBit(uint32_t mask)
{
    return mask == 0 ? 0 : static_cast<uint32_t>(__builtin_ctz(mask));
}

// Length of the keyword when the text begins with it: equal characters regardless of
// case, and then no letter (unless the keyword ends with a point). 0 otherwise.
size_t MatchAt(const char* text, const char* keyword)
{
    size_t n = 0;
    for (; keyword[n] != '\0'; ++n) {
        if (text[n] == '\0' ||
            std::tolower(static_cast<unsigned char>(text[n])) != std::tolower(static_cast<unsigned char>(keyword[n])))
            return 0;
    }
    if (n > 0 && keyword[n - 1] == '.')
        return n;
    if (std::isalpha(static_cast<unsigned char>(text[n])))
        return 0;
    return n;
}

// First table row that matches at text.
const _REG_TABLE_ST* FindRow(const char* text, size_t* length)
{
    for (const _REG_TABLE_ST* row = defaultKeyWords; row->KeyWord != nullptr; ++row) {
        const size_t n = MatchAt(text, row->KeyWord);
        if (n > 0) {
            *length = n;
            return row;
        }
    }
    return nullptr;
}

// The row whose keyword is exactly the text (regardless of case).
const _REG_TABLE_ST* FindExactRow(const char* text)
{
    for (const _REG_TABLE_ST* row = defaultKeyWords; row->KeyWord != nullptr; ++row)
        if (strcasecmp(row->KeyWord, text) == 0)
            return row;
    return nullptr;
}

uint32_t ToWord(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
template <typename T> T* FromWord(uint32_t w)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(w));
}

bool IsTextWord(const _HALCYRA_INI_ST* record, uint32_t word)
{
    if (record == nullptr || record->Text == nullptr)
        return false;
    const uint32_t start = ToWord(record->Text);
    return word >= start && word < start + record->TextSize + 1;   // the text's terminator too
}

// Every record alive, so that a connection word can be told from a number or a text
// pointer at once, however long the chain.
std::mutex g_recordsMutex;
// Never destroyed: a node's threads may still use it while the process ends.
std::unordered_set<uint32_t>& g_records = *new std::unordered_set<uint32_t>;

void ForgetRecord(const _HALCYRA_INI_ST* r)
{
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    g_records.erase(ToWord(r));
}

// True when word is the address of a live record.
bool IsRecordWord(uint32_t word)
{
    if (word == 0)
        return false;
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    return g_records.count(word) != 0;
}

// Links followed by the ring walks, for the tests that check a load's work.
std::atomic<uint64_t> g_linkSteps{0};
void CountIniLinkStep()
{
    g_linkSteps.fetch_add(1, std::memory_order_relaxed);
}

// Opens the console with the file's console setting (unless that is -1).
void OpenConsoleForMessages()
{
    const _HALCYRA_INI_ST* g = g_reading != nullptr ? g_reading : HalcyraIniSt;
    const uint32_t mode = g != nullptr ? g->ApplicationMessaging : 0xFFFFFFFFu;
    if (mode != 0xFFFFFFFFu)
        im_open_pipe(static_cast<int32_t>(mode));
}

void SetDefaults(_HALCYRA_INI_ST* g)
{
    g->ApplicationMessaging = 0xFFFFFFFFu;
    g->MaxVmDevicesAt33 = 7;
    g->VmSpeedLimit = 25;
    g->LargestDmaBlock = 0x4000000;
    g->ReservedHostSpaceForLcBuffers = 0x10000;
    g->SizeOfTmpBufferForHostGrab = 16384;
}

// Joins the file's lines: comment lines dropped, comments cut, trailing blanks and line
// ends removed, blanks and tabs removed unless the line begins with "@", each line ended
// by a line feed.
void JoinLine(std::string line, std::string& joined)
{
    if (!line.empty() && line[0] == '#')
        return;
    const size_t hash = line.find('#');
    if (hash != std::string::npos)
        line.erase(hash);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty() || line[0] != '@') {
        std::string packed;
        for (char c : line)
            if (c != ' ' && c != '\t')
                packed += c;
        line.swap(packed);
    }
    joined += line;
    joined += '\n';
}

bool ReadJoinedFile(const char* path, std::string& joined)
{
    // Opened without blocking and checked on the opened file: a pipe, a device or a file
    // beyond the limit is refused before anything is read.
    FILE* f = qsrf::OpenRegularStream(path, "r", kIniMaxFileBytes);
    if (f == nullptr)
        return false;
    std::string line;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') {
            JoinLine(line, joined);
            line.clear();
        }
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (!line.empty())
        JoinLine(line, joined);
    return !failed;
}

void JoinText(const std::string& content, std::string& joined)
{
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        end = (end == std::string::npos) ? content.size() : end + 1;
        JoinLine(content.substr(start, end - start), joined);
        start = end;
    }
}

void ReadHostBridge()
{
    if (HostBridgeId != 0)
        return;
    // PCI access needs the library's node table and the kernel service: without either the
    // library's global start-up runs first.
    if (HlcGetBoardHooks().hostNodeState() == nullptr || !QvlSerManager.Valid())
        HalcyraIniLibraryStartUp();
    uint8_t bus = 0, device = 0, function = 0;
    uint32_t id = 0;
    if (FindPciClassCode(PCI_ACCESS_DEFAULT, 0x06, 0x00, 0, &bus, &device, &function) == 0 &&
        PciConfigReadDword(PCI_ACCESS_DEFAULT, bus, device, function, 0, &id) == 0)
        HostBridgeId = id;
    else
        HostBridgeId = 0xFFFFFFFFu;
}

uint32_t GetWord(const _HALCYRA_INI_ST* r, uint32_t offset)
{
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const char*>(r) + offset, sizeof v);
    return v;
}
void SetWord(_HALCYRA_INI_ST* r, uint32_t offset, uint32_t v)
{
    std::memcpy(reinterpret_cast<char*>(r) + offset, &v, sizeof v);
}

// Offsets of a group pair's value word by prefix code (ppb for any other prefix).
uint32_t PairOffset(uint32_t group, uint32_t prefix)
{
    if (prefix == INI_PREFIX_DISPLAY)
        return group + 16;
    if (prefix == INI_PREFIX_PRIMARY)
        return group + 8;
    return group;
}

// Stores a field value into one pair (value word and set-mask word).  The shifted value
// is not cut to the field: a wider value reaches the bits above it, as the file says.
void StoreField(_HALCYRA_INI_ST* r, uint32_t pair, uint32_t mask, uint32_t value)
{
    const uint32_t low = LowBit(mask);
    SetWord(r, pair, (GetWord(r, pair) & ~mask) | (value << low));
    SetWord(r, pair + 4, GetWord(r, pair + 4) | mask);
}

// Parses one "%i" number at p (any sign, decimal, 0x hexadecimal, leading 0 octal).
bool ParseNumber(const char*& p, uint32_t* value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(p, &end, 0);
    if (end == p)
        return false;
    *value = static_cast<uint32_t>(v);
    p = end;
    return true;
}

// Frees the records from r on.
void FreeRecords(_HALCYRA_INI_ST* r)
{
    while (r != nullptr) {
        _HALCYRA_INI_ST* next = r->Next;
        ForgetRecord(r);
        std::free(r);
        r = next;
    }
}

// Frees the chain from record on; the texts go with the global record.
void FreeChain(_HALCYRA_INI_ST* global)
{
    char* path = global->FilePath;
    char* text = global->Text;
    FreeRecords(global);
    std::free(path);
    std::free(text);
}

// One scan position.
struct Scan {
    _HALCYRA_INI_ST* global;
    _HALCYRA_INI_ST* current;   // also the last record of the chain
    char* text;
    size_t size;
    int quiet;
    bool skipping = false;
    uint32_t prefix = 0;   // 0 none
};

size_t LineEnd(const Scan& s, size_t pos)
{
    while (pos < s.size && s.text[pos] != '\n' && s.text[pos] != '\0')
        ++pos;
    return pos;
}

// Settings whose values are texts in practice: FpgaName and the [EnvSetting] paths and
// names. Every other setting row, and every register field, takes numbers only.
bool IsTextSetting(const _REG_TABLE_ST* row)
{
    return IsSettingRow(row) && row->ValueOrType == kNum &&
           (row->KindOrOffset == 0x2C || (row->KindOrOffset >= 0xBC && row->KindOrOffset <= 0xE8));
}

// A whole 32-bit number in "%i" form (optional sign, decimal, 0x hexadecimal, leading 0
// octal) filling [v, end).
bool WholeNumber(const char* v, const char* end, uint32_t* value)
{
    const char* digits = (*v == '-' || *v == '+') ? v + 1 : v;
    if (digits >= end || !std::isdigit(static_cast<unsigned char>(*digits)))
        return false;
    char* stop = nullptr;
    errno = 0;
    const long long n = std::strtoll(v, &stop, 0);
    if (stop != end || errno == ERANGE || n < INT32_MIN || n > static_cast<long long>(UINT32_MAX))
        return false;
    *value = static_cast<uint32_t>(n);
    return true;
}

enum class ValueKind { Number, Text, Refused };

// Value of a setting or field. A number-only setting or field takes a whole number, a
// symbol's value, or 0 for another keyword; anything else is refused. A text setting
// takes a number that begins with a digit and fills the value, and a connection list
// keeps its text when it begins with a digit; otherwise both take a symbol's value, 0 for
// another keyword, else their text.
uint32_t ParseValue(Scan& s, const _REG_TABLE_ST* row, size_t start, size_t end, ValueKind* kind)
{
    char* v = s.text + start;
    *kind = ValueKind::Number;
    auto keepText = [&]() {
        *kind = ValueKind::Text;
        if (end < s.size)
            s.text[end] = '\0';
        return ToWord(v);
    };
    const bool isList = IsSettingRow(row) && row->ValueOrType == kList;
    const bool numbersOnly = !isList && !IsTextSetting(row);
    const bool digit = start < end && std::isdigit(static_cast<unsigned char>(*v));
    uint32_t number = 0;
    const bool triesNumber = numbersOnly || (digit && !isList);
    if (triesNumber && WholeNumber(v, s.text + end, &number))
        return number;
    if (!digit && start < end) {
        size_t length = 0;
        const _REG_TABLE_ST* symbol = FindRow(v, &length);
        if (symbol != nullptr)
            return symbol->KindOrOffset == kSym ? symbol->ValueOrType : 0;
    }
    if (numbersOnly) {
        *kind = ValueKind::Refused;
        return 0;
    }
    return keepText();
}

// Appends a [Node] record: a copy of the global record as it stands.
bool NewNodeRecord(Scan& s)
{
    _HALCYRA_INI_ST* r = HalcyraIniNewRecord(s.global);
    if (r == nullptr)
        return false;
    s.current->Next = r;   // the current record is the chain's last
    s.current = r;
    return true;
}

// A number-only setting or field given something else keeps its value (the value word's
// field bits for a field: the prefix's pair, the primary pair without prefix), and the
// user is told so.
void ReportRefusedValue(const Scan& s, const _REG_TABLE_ST* row, size_t start, size_t end)
{
    uint32_t kept = 0;
    if (IsSettingRow(row)) {
        kept = GetWord(s.current, row->KindOrOffset);
    } else {
        const uint32_t low = LowBit(row->ValueOrType);
        const uint32_t pair = PairOffset(row->KindOrOffset, s.prefix != 0 ? s.prefix : INI_PREFIX_PRIMARY);
        kept = (GetWord(s.current, pair) & row->ValueOrType) >> low;
    }
    im_open_pipe(2);
    im_print_msg(0, "\nHlcLib Ini file '%s': %s=%s is not a number, %s keeps %u\n\n", s.global->FilePath,
                 row->KeyWord, std::string(s.text + start, end - start).c_str(), row->KeyWord, kept);
}

// Scans the joined text into the records. False when a record could not be allocated.
bool ScanText(Scan& s)
{
    size_t pos = 0;
    while (pos < s.size) {
        const char c = s.text[pos];
        if (c == '\n' || c == '\0') {
            ++pos;   // a prefix holds until the next value is stored
            continue;
        }
        size_t length = 0;
        const _REG_TABLE_ST* row = FindRow(s.text + pos, &length);
        const size_t eol = LineEnd(s, pos);
        if (row == nullptr) {
            pos = eol;   // unknown word: rest of the line ignored
            continue;
        }
        const uint32_t kind = row->KindOrOffset;
        if (kind == kCond) {
            const uint32_t id = row->ValueOrType;
            if (id == 1 || id == INI_ENDIF)
                s.skipping = false;
            else
                s.skipping = (id != HostBridgeId && HostBridgeId != 0);
            pos += length;
            continue;
        }
        if (kind == kSec) {
            if (!s.skipping && row->ValueOrType == INI_SECTION_NODE && !NewNodeRecord(s))
                return false;
            pos += length;
            continue;
        }
        if (kind == kPre) {
            // A prefix in a skipped block must not redirect a field stored after it.
            if (!s.skipping) s.prefix = row->ValueOrType;
            if (row->ValueOrType == INI_PREFIX_PCI) {
                if (!s.skipping)
                    AccessPciConfig(std::string(s.text + pos + length, eol - pos - length).c_str());
                pos = eol;
            } else {
                pos += length;
            }
            continue;
        }
        if (kind == INI_KIND_ECHO) {
            if (!s.skipping && !s.quiet) {
                size_t start = pos + length;
                if (start < eol && s.text[start] == ' ')
                    ++start;
                OpenConsoleForMessages();
                im_print_msg(0, "%s\n", std::string(s.text + start, eol - start).c_str());
            }
            pos = eol;
            continue;
        }
        if (s.skipping || kind == kSym || pos + length >= eol || s.text[pos + length] != '=') {
            pos = eol;
            continue;
        }
        ValueKind valueKind = ValueKind::Number;
        const uint32_t value = ParseValue(s, row, pos + length + 1, eol, &valueKind);
        if (valueKind == ValueKind::Refused) {
            ReportRefusedValue(s, row, pos + length + 1, eol);
        } else if (IsSettingRow(row)) {
            SetWord(s.current, kind, value);
        } else if (valueKind == ValueKind::Number) {
            // A register field.
            const uint32_t mask = row->ValueOrType;
            if (s.prefix == 0) {
                StoreField(s.current, PairOffset(kind, INI_PREFIX_PRIMARY), mask, value);
                StoreField(s.current, PairOffset(kind, INI_PREFIX_DISPLAY), mask, value);
            } else {
                StoreField(s.current, PairOffset(kind, s.prefix), mask, value);
            }
        }
        s.prefix = 0;
        pos = eol;
    }
    return true;
}

// Links the connection lists of every node record into rings.
void LinkRings(_HALCYRA_INI_ST* global)
{
    static const uint32_t kOffsets[] = {0x30, 0x34, 0x3C};
    // The first record (global record first) of each device number.
    std::unordered_map<uint32_t, _HALCYRA_INI_ST*> byDevice;
    for (_HALCYRA_INI_ST* r = global; r != nullptr; r = r->Next)
        byDevice.emplace(r->DeviceNbr, r);
    for (_HALCYRA_INI_ST* r = global->Next; r != nullptr; r = r->Next) {
        for (uint32_t off : kOffsets) {
            const uint32_t word = GetWord(r, off);
            if (!IsTextWord(r, word))
                continue;
            if (r->DeviceNbr == 0) {
                // A node without a device number is no board of a ring: the ring walks
                // tell the global record by device 0, and would take it for that.
                SetWord(r, off, 0);
                continue;
            }
            const char* p = FromWord<const char>(word);
            SetWord(r, off, ToWord(r));   // a ring of itself
            bool joined = false;
            uint32_t number = 0;
            while (ParseNumber(p, &number)) {
                if (number == 0) {
                    // No connection. Once partners are in the ring it only ends the list:
                    // clearing the word then would leave them pointing into a broken ring.
                    if (!joined)
                        SetWord(r, off, 0);
                    break;
                }
                if (number != r->DeviceNbr) {
                    const auto found = byDevice.find(number);
                    _HALCYRA_INI_ST* other = found != byDevice.end() ? found->second : nullptr;
                    if (other != nullptr && IsTextWord(other, GetWord(other, off))) {
                        SetWord(other, off, GetWord(r, off));
                        SetWord(r, off, ToWord(other));
                        joined = true;
                    }
                }
                if (*p != ',')
                    break;
                ++p;
            }
        }
    }
}

// The partner bytes of one record by the ring iterator, for rings that are not plain
// cycles of distinct devices.
void FillPartnersByWalk(_HALCYRA_INI_ST* r, uint32_t offset, uint8_t* bytes)
{
    _HALCYRA_INI_ST* cursor = r;
    int n = 0;
    uint32_t id;
    while (n < kIniPartnerBytes - 1 && (id = HalcyraIniLink(&cursor, r->DeviceNbr, offset)) != 0)
        bytes[n++] = static_cast<uint8_t>(id);
    bytes[n] = static_cast<uint8_t>(r->NodeId);
}

uint8_t* PartnerBytes(_HALCYRA_INI_ST* r, uint32_t offset)
{
    return offset == 0x30 ? r->GrabPartners : offset == 0x34 ? r->VmPartners : r->ScanHurlerPartners;
}

// Fills the partner bytes of every record for one connection word, walking each ring
// once: a member's partners are the members that follow it in ring order (up to the
// first without a NodeId, at most kIniPartnerBytes - 1), then its own NodeId byte. The
// iterator would walk the ring anew for every member and every step.
void FillPartners(_HALCYRA_INI_ST* global, uint32_t offset, size_t records)
{
    std::unordered_set<const _HALCYRA_INI_ST*> done;
    std::unordered_set<uint32_t> devices;
    std::vector<_HALCYRA_INI_ST*> ring;
    for (_HALCYRA_INI_ST* r = global->Next; r != nullptr; r = r->Next) {
        if (r->DeviceNbr == 0 || done.count(r) != 0 || !IsRecordWord(GetWord(r, offset)))
            continue;
        ring.clear();
        devices.clear();
        bool cycle = false;
        for (_HALCYRA_INI_ST* m = r; ring.size() <= records;) {
            ring.push_back(m);
            if (m->DeviceNbr == 0 || !devices.insert(m->DeviceNbr).second)
                break;
            const uint32_t link = GetWord(m, offset);
            CountIniLinkStep();
            if (!IsRecordWord(link))
                break;
            m = FromWord<_HALCYRA_INI_ST>(link);
            if (m == r) {
                cycle = true;
                break;
            }
        }
        if (!cycle) {
            FillPartnersByWalk(r, offset, PartnerBytes(r, offset));
            continue;
        }
        const size_t members = ring.size();
        for (size_t i = 0; i < members; ++i) {
            _HALCYRA_INI_ST* member = ring[i];
            done.insert(member);
            uint8_t* bytes = PartnerBytes(member, offset);
            int n = 0;
            for (size_t k = 1; k < members && n < kIniPartnerBytes - 1; ++k) {
                const uint32_t id = ring[(i + k) % members]->NodeId;
                if (id == 0)
                    break;
                bytes[n++] = static_cast<uint8_t>(id);
            }
            bytes[n] = static_cast<uint8_t>(member->NodeId);
        }
    }
}

void Finish(_HALCYRA_INI_ST* global)
{
    size_t records = 0;
    for (const _HALCYRA_INI_ST* r = global; r != nullptr; r = r->Next)
        ++records;
    for (uint32_t offset : {0x30u, 0x34u, 0x3Cu})
        FillPartners(global, offset, records);
    for (_HALCYRA_INI_ST* r = global->Next; r != nullptr; r = r->Next) {
        if (IsTextWord(r, r->VmExternalDeviceId)) {
            const char* p = FromWord<const char>(r->VmExternalDeviceId);
            uint32_t number;
            for (int n = 0; n < kIniPartnerBytes && ParseNumber(p, &number); ++n) {
                r->VmExternalDevices[n] = static_cast<uint8_t>(number);
                if (*p != ',')
                    break;
                ++p;
            }
        }
        r->SavedDisplayMode = r->DisplayMode;
        r->SavedVmBusSpeed = r->VmBusSpeed;
        r->SavedGrabModulePresent = r->GrabModulePresent;
        r->SavedSizeOfTmpBufferForHostGrab = r->SizeOfTmpBufferForHostGrab;
        if (r->FpgaPath == 0)
            r->FpgaPath = r->CoffPath;
    }
    if (global->FpgaPath == 0)
        global->FpgaPath = global->CoffPath;
}

int LookupState()
{
    if (t_searching || HalcyraIniSt == nullptr)
        return -1;
    return HalcyraIniSt->IgnoreEnvVar != 0 ? 1 : 0;
}
const char* LookupText(uint32_t node, const char* name)
{
    return t_searching ? nullptr : HalcyraIniReadText(node, name);
}
const HlcIniLookup kLookup{LookupState, LookupText};

// The directories of a path list (";" or ":" between them).
std::vector<std::string> Directories(const char* list)
{
    std::vector<std::string> dirs;
    const std::string text = list != nullptr ? list : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(";:", start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            dirs.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return dirs;
}

// True when the file (its full path) is the halcyra.ini of one of the list's directories.
bool FoundAlong(const char* path, const char* list)
{
    for (const std::string& dir : Directories(list)) {
        char* real = realpath((dir + "/halcyra.ini").c_str(), nullptr);
        const bool here = real != nullptr && std::strcmp(real, path) == 0;
        std::free(real);
        if (here)
            return true;
    }
    return false;
}

// Names on the console each directory of the variable's list that does not exist.
void PrintMissingDirectories(const char* variable, const char* list)
{
    for (const std::string& dir : Directories(list)) {
        struct stat st {};
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            im_print_msg(0, "%s names no directory '%s'\n", variable, dir.c_str());
    }
}

void ReportFailure(const char* path)
{
    im_open_pipe(2);
    if (path != nullptr)
        im_print_msg(0, "\nHlcLib error while handling Ini file '%s'\n\n", path);
}

}  // namespace

_HALCYRA_INI_ST* HalcyraIniNewRecord(const _HALCYRA_INI_ST* from)
{
    auto* r = static_cast<_HALCYRA_INI_ST*>(std::calloc(1, sizeof(_HALCYRA_INI_ST)));
    if (r == nullptr)
        return nullptr;
    if (from != nullptr) {
        *r = *from;
        r->Next = nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(g_recordsMutex);
        g_records.insert(ToWord(r));
    } catch (...) {
        // Not known as a record: nobody would free it.
        std::free(r);
        throw;
    }
    return r;
}

_HALCYRA_INI_ST* HalcyraIniLoad(const char* knownPath, const std::string* content, int quiet)
{
    _HALCYRA_INI_ST* global = HalcyraIniNewRecord(nullptr);
    if (global == nullptr) {
        im_open_pipe(2);
        im_print_msg(0, "\nHlcLib error while handling Ini file or Ini file not found.\n\n");
        return nullptr;
    }
    // A step that throws (no memory) leaves no half-read chain behind.
    try {
        SetDefaults(global);
        global->FilePath = knownPath != nullptr ? strdup(knownPath) : FindHalcyraIniFile();
        if (global->FilePath == nullptr) {
            ReportFailure(nullptr);   // the not-found listing was printed by the search
            FreeRecords(global);
            return nullptr;
        }

        std::string joined;
        bool read = true;
        if (content != nullptr)
            JoinText(*content, joined);
        else
            read = ReadJoinedFile(global->FilePath, joined);
        if (read) {
            global->Text = static_cast<char*>(std::malloc(joined.size() + 1));
            read = global->Text != nullptr;
        }
        if (!read) {
            ReportFailure(global->FilePath);
            FreeChain(global);
            return nullptr;
        }
        std::memcpy(global->Text, joined.data(), joined.size());
        global->Text[joined.size()] = '\0';
        global->TextSize = static_cast<uint32_t>(joined.size());

        ReadHostBridge();

        Scan scan{global, global, global->Text, joined.size(), quiet};
        g_reading = global;
        const bool scanned = ScanText(scan);
        if (!scanned) {
            g_reading = nullptr;
            ReportFailure(global->FilePath);
            FreeChain(global);
            return nullptr;
        }
        LinkRings(global);
        Finish(global);
        g_reading = nullptr;
    } catch (...) {
        g_reading = nullptr;
        FreeChain(global);
        throw;
    }

    HalcyraIniSt = global;
    im_set_ini_lookup(&kLookup);
    if (!g_useReported) {
        g_useReported = true;
        OpenConsoleForMessages();
        im_print_msg(0, "\nHlcLib use Ini file '%s'\n\n", global->FilePath);
    }
    return global;
}

_HALCYRA_INI_ST* HalcyraIniGetFile(int quiet)
try {
    if (HalcyraIniSt != nullptr)
        return HalcyraIniSt;
    return HalcyraIniLoad(nullptr, nullptr, quiet);
}
HLC_EXPORT_CATCH(HalcyraIniGetFile)

char* FindHalcyraIniFile()
try {
    struct Searching {
        Searching() { t_searching = true; }
        ~Searching() { t_searching = false; }
    } searching;

    static const char kName[] = "halcyra.ini";
    char* path = nullptr;
    bool found = false;
    if (std::getenv("HLCINIPATH") != nullptr)
        found = im_search_env(0, kName, nullptr, "HLCINIPATH", "rw", &path) != 0;
    if (!found && std::getenv("HALCYRA") != nullptr)
        found = im_search_env(0, "shell/halcyra.ini", nullptr, "HALCYRA", "rw", &path) != 0;
    if (!found)
        found = im_search_env(0, kName, nullptr, nullptr, "rw", &path) != 0;
    if (!found && std::getenv("COFFPATH") != nullptr)
        found = im_search_env(0, kName, nullptr, "COFFPATH", "rw", &path) != 0;
    if (!found && std::getenv("PATH") != nullptr)
        found = im_search_env(0, kName, nullptr, "PATH", "rw", &path) != 0;
    if (found) {
        // Keep the full path: the file is rewritten there even after a change of directory.
        char* full = realpath(path, nullptr);
        if (full != nullptr) {
            std::free(path);
            path = full;
        }
        // The file was taken from further down the search although HLCINIPATH names where
        // it should be: the user is told, or a stale setting would pass unnoticed.
        if (const char* iniPath = std::getenv("HLCINIPATH"); iniPath != nullptr && !FoundAlong(path, iniPath)) {
            im_open_pipe(2);
            im_print_msg(0, "\nHlcLib found no file '%s' along HLCINIPATH=%s\n", kName, iniPath);
            PrintMissingDirectories("HLCINIPATH", iniPath);
            im_print_msg(0, "HlcLib takes '%s' instead\n\n", path);
        }
        return path;
    }
    std::free(path);

    if (!g_notFoundListed) {
        g_notFoundListed = true;
        im_open_pipe(2);
        im_print_msg(0, "\nHlcLib was unable to locate file '%s' in any of the following path(s):\n", kName);
        auto variable = [](const char* name) {
            const char* value = std::getenv(name);
            if (value != nullptr)
                im_print_msg(0, "%s=%s\n", name, value);
            else
                im_print_msg(0, "%s is not set\n", name);
        };
        variable("HLCINIPATH");
        if (const char* iniPath = std::getenv("HLCINIPATH"))
            PrintMissingDirectories("HLCINIPATH", iniPath);
        const char* halcyra = std::getenv("HALCYRA");
        if (halcyra != nullptr)
            im_print_msg(0, "%s/%s\n", halcyra, "shell/");
        else
            im_print_msg(0, "%s is not set\n", "HALCYRA");
        char cwd[4096];
        im_print_msg(0, "%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".");
        variable("COFFPATH");
        variable("PATH");
    }
    return nullptr;
}
HLC_EXPORT_CATCH(FindHalcyraIniFile)

_HALCYRA_INI_ST* HalcyraIniForThisNode(uint32_t node)
try {
    if (HalcyraIniSt == nullptr)
        return nullptr;
    for (_HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
        if (r->NodeId == node)
            return r;
    return HalcyraIniSt;
}
HLC_EXPORT_CATCH(HalcyraIniForThisNode)

namespace {

// Splits a keyword into an optional prefix and its row. False when it names no setting
// or field.
bool ResolveKeyword(const char* keyword, uint32_t* prefix, const _REG_TABLE_ST** row)
{
    *prefix = 0;
    size_t length = 0;
    const _REG_TABLE_ST* first = FindRow(keyword, &length);
    if (first != nullptr && first->KindOrOffset == kPre) {
        *prefix = first->ValueOrType;
        *row = FindExactRow(keyword + length);
        return *row != nullptr && IsFieldRow(*row);
    }
    *row = FindExactRow(keyword);
    return *row != nullptr && (IsSettingRow(*row) || IsFieldRow(*row));
}

}  // namespace

uint32_t HalcyraIniReadTag(uint32_t node, const char* keyword, uint32_t* out)
try {
    if (keyword == nullptr || HalcyraIniSt == nullptr)
        return 0;
    uint32_t prefix;
    const _REG_TABLE_ST* row;
    if (!ResolveKeyword(keyword, &prefix, &row) || prefix == INI_PREFIX_PCI)
        return 0;
    const _HALCYRA_INI_ST* r = HalcyraIniForThisNode(node);
    if (prefix == 0) {
        const uint32_t word = GetWord(r, row->KindOrOffset);
        if (out == nullptr)
            return word;
        *out = word;
        return 1;
    }
    const uint32_t mask = row->ValueOrType;
    const uint32_t pair = PairOffset(row->KindOrOffset, prefix);
    const uint32_t value = GetWord(r, pair);
    const uint32_t low = LowBit(mask);
    if (out == nullptr)
        return (value >> low) & (mask >> low);
    if ((GetWord(r, pair + 4) & mask) == mask)
        *out = (*out & ~mask) | (value & mask);
    return 1;
}
HLC_EXPORT_CATCH(HalcyraIniReadTag)

uint32_t HalcyraIniWriteTag(uint32_t node, const char* keyword, uint32_t value)
try {
    if (keyword == nullptr || HalcyraIniSt == nullptr)
        return 0;
    uint32_t prefix;
    const _REG_TABLE_ST* row;
    if (!ResolveKeyword(keyword, &prefix, &row))
        return 0;
    _HALCYRA_INI_ST* r = HalcyraIniForThisNode(node);
    if (prefix == 0) {
        SetWord(r, row->KindOrOffset, value);
        return 1;
    }
    const uint32_t mask = row->ValueOrType;
    const uint32_t low = LowBit(mask);
    const uint32_t pair = PairOffset(row->KindOrOffset, prefix);
    SetWord(r, pair, (GetWord(r, pair) & ~mask) | ((value & (mask >> low)) << low));
    return 1;
}
HLC_EXPORT_CATCH(HalcyraIniWriteTag)

const char* HalcyraIniReadText(uint32_t node, const char* keyword)
{
    if (keyword == nullptr || HalcyraIniSt == nullptr)
        return nullptr;
    const _REG_TABLE_ST* row = FindExactRow(keyword);
    if (row == nullptr || !IsSettingRow(row))
        return nullptr;
    const _HALCYRA_INI_ST* r = HalcyraIniForThisNode(node);
    const uint32_t word = GetWord(r, row->KindOrOffset);
    if (IsTextWord(r, word))
        return FromWord<const char>(word);
    if (word == 0 || row->ValueOrType == kList)
        return nullptr;   // unset, or a linked ring
    std::lock_guard<std::mutex> lock(g_numberTextMutex);
    std::string& text = g_numberTexts[{r, row->KindOrOffset}];
    text = std::to_string(word);
    return text.c_str();
}

void HalcyraIniFree(_HALCYRA_INI_ST* record)
try {
    _HALCYRA_INI_ST* global = HalcyraIniSt;
    if (global == nullptr)
        return;
    if (record == nullptr || record == global) {
        im_set_ini_lookup(nullptr);
        HalcyraIniSt = nullptr;
        HostBridgeId = 0;
        {
            std::lock_guard<std::mutex> lock(g_numberTextMutex);
            g_numberTexts.clear();
        }
        FreeChain(global);
        return;
    }
    // Part of the chain: cut it off before the record; the texts stay with the global
    // record.
    for (_HALCYRA_INI_ST* r = global; r->Next != nullptr; r = r->Next) {
        if (r->Next == record) {
            r->Next = nullptr;
            FreeRecords(record);
            return;
        }
    }
}
HLC_EXPORT_CATCH(HalcyraIniFree)

// ---- connection rings ----------------------------------------------------------------------

namespace {

// A ring has at most one member per node number, and node numbers are below 255.
constexpr int kMaxRingMembers = 256;

// True when the ring from r reaches the record of deviceNbr within a ring's length. A
// record without a device number is no ring member: the ring ends there.
bool LeadsTo(const _HALCYRA_INI_ST* r, uint32_t deviceNbr, uint32_t offset)
{
    for (int step = 0; step < kMaxRingMembers; ++step) {
        if (r->DeviceNbr == deviceNbr)
            return true;
        if (r->DeviceNbr == 0)
            return false;
        const uint32_t link = GetWord(r, offset);
        CountIniLinkStep();
        if (!IsRecordWord(link))
            return false;
        r = FromWord<const _HALCYRA_INI_ST>(link);
    }
    return false;
}

}  // namespace

uint64_t HalcyraIniLinkSteps()
{
    return g_linkSteps.load(std::memory_order_relaxed);
}

uint32_t HalcyraIniLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr, uint32_t offset)
try {
    if (offset != 0x30 && offset != 0x34 && offset != 0x3C) {
        if (cursor != nullptr)
            *cursor = nullptr;
        return 0;
    }
    if (cursor == nullptr || *cursor == nullptr)
        return 0;
    _HALCYRA_INI_ST* r = *cursor;
    if (r->DeviceNbr == 0) {
        // From the global record: the record of that device first. Device 0 names no
        // board, so a walk for it ends here rather than find the same record again.
        while (r != nullptr && deviceNbr != 0 && r->DeviceNbr != deviceNbr)
            r = r->Next;
        if (r == nullptr || deviceNbr == 0 || !IsRecordWord(GetWord(r, offset))) {
            *cursor = nullptr;
            return 0;
        }
        *cursor = r;
        return r->NodeId;
    }
    const uint32_t link = GetWord(r, offset);
    CountIniLinkStep();
    if (!IsRecordWord(link)) {
        *cursor = nullptr;
        return 0;
    }
    _HALCYRA_INI_ST* next = FromWord<_HALCYRA_INI_ST>(link);
    // The walk ends where the ring closes; a ring that never leads back to the device
    // (a member linked to itself, a loop that leaves the device out, a member without a
    // device number) ends it at once, so that a caller walking it until 0 always stops.
    if (next->DeviceNbr == deviceNbr || !LeadsTo(next, deviceNbr, offset)) {
        *cursor = nullptr;
        return 0;
    }
    *cursor = next;
    return next->NodeId;
}
HLC_EXPORT_CATCH(HalcyraIniLink)

uint32_t HalcyraIniGrabLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr)
try {
    return HalcyraIniLink(cursor, deviceNbr, 0x30);
}
HLC_EXPORT_CATCH(HalcyraIniGrabLink)
uint32_t HalcyraIniVmLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr)
try {
    return HalcyraIniLink(cursor, deviceNbr, 0x34);
}
HLC_EXPORT_CATCH(HalcyraIniVmLink)
uint32_t HalcyraIniScanHurlerLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr)
try {
    return HalcyraIniLink(cursor, deviceNbr, 0x3C);
}
HLC_EXPORT_CATCH(HalcyraIniScanHurlerLink)

// ---- "pci." lines --------------------------------------------------------------------------

namespace {

// Reads "%i" numbers separated by the given characters; the number of values read, as a
// scan with that format would report it.
int ScanForm(const char* text, const char* separators, uint32_t* values)
{
    const char* p = text;
    int n = 0;
    for (const char* sep = separators;; ++sep) {
        if (!ParseNumber(p, &values[n]))
            return n;
        ++n;
        if (*sep == '\0')
            return n;
        if (*p != *sep)
            return n;
        ++p;
    }
}

}  // namespace

void AccessPciConfig(const char* line)
{
    if (line == nullptr)
        return;
    uint32_t v[4] = {};
    uint32_t id = 0, reg = 0, mask = 0xFFFFFFFFu, value = 0;
    bool haveReg = false, haveValue = false, haveMask = false;
    if (ScanForm(line, "..=", v) == 4) {
        id = v[0], reg = v[1], mask = v[2], value = v[3];
        haveReg = haveValue = haveMask = true;
    } else if (ScanForm(line, ".=", v) == 3) {
        id = v[0], reg = v[1], value = v[2];
        haveReg = haveValue = true;
    } else if (ScanForm(line, ".", v) == 2) {
        id = v[0], reg = v[1];
        haveReg = true;
    } else if (ScanForm(line, "", v) == 1) {
        id = v[0];
    } else {
        return;
    }
    reg &= ~3u;
    const uint16_t vendor = static_cast<uint16_t>(id & 0xFFFF);
    const uint16_t device = static_cast<uint16_t>(id >> 16);
    if (!haveValue)
        OpenConsoleForMessages();
    for (uint32_t index = 0; index < 256; ++index) {
        uint8_t bus = 0, dev = 0, function = 0;
        if (FindPciDevice(PCI_ACCESS_DEFAULT, device, vendor, index, &bus, &dev, &function) != 0)
            break;
        const uint8_t r = static_cast<uint8_t>(reg);
        if (!haveReg) {
            im_print_msg(0, "DeviceId=0x%04x  VendorId=0x%04x  Bus=0x%02x  DeviceNb=0x%02x\n", device, vendor, bus,
                         dev);
        } else if (!haveValue) {
            uint32_t word = 0;
            PciConfigReadDword(PCI_ACCESS_DEFAULT, bus, dev, function, r, &word);
            im_print_msg(0, "DeviceId=0x%04x  VendorId=0x%04x  Register(0x%02x)=0x%08x\n", device, vendor, r, word);
        } else if (!haveMask) {
            PciConfigWriteDword(PCI_ACCESS_DEFAULT, bus, dev, function, r, value);
        } else if (mask != 0) {
            uint32_t word = 0;
            if (PciConfigReadDword(PCI_ACCESS_DEFAULT, bus, dev, function, r, &word) == 0) {
                word = (word & ~mask) | ((value << LowBit(mask)) & mask);
                PciConfigWriteDword(PCI_ACCESS_DEFAULT, bus, dev, function, r, word);
            }
        }
    }
}
