// The [Node] sections of "halcyra.ini" against the boards found on PCI: matching, and
// the rewrite that probes the boards, works out how they are wired (grab, VM and
// ScanHurler port rings), numbers them into systems and writes the sections back with a
// drawn map of the ports.
//
// The rewrite never loses the file: it reads it, probes the boards, and only then writes
// the text before the first [Node] line plus the new sections to a temporary file in the
// same directory, which replaces the file by a rename. A file without [Node] keeps its
// whole text. When anything fails the file stays as it was.
#include "halcyraini.h"

#include "consolepipe.h"
#include "driverreq.h"
#include "hwaccess.h"
#include "regmap/orlo_regs.h"
#include "regularfile.h"
#include "sysdma.h"
#include "win32.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int pciScanDirection = -1;

namespace {

_PCI_FOUND_DEVICE* g_found = nullptr;

constexpr uint32_t kGrab = 0x30, kVm = 0x34, kScanHurler = 0x3C;
constexpr uint32_t kUnnumbered = 0xFFFFFFFFu;
constexpr int kMaxNodes = 15;

uint32_t ToWord(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t GetLink(const _HALCYRA_INI_ST* r, uint32_t offset)
{
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const char*>(r) + offset, sizeof v);
    return v;
}
void SetLink(_HALCYRA_INI_ST* r, uint32_t offset, uint32_t v)
{
    std::memcpy(reinterpret_cast<char*>(r) + offset, &v, sizeof v);
}

// The record a link word names, when it is one of the chain.
_HALCYRA_INI_ST* LinkedRecord(uint32_t word)
{
    for (_HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
        if (ToWord(r) == word)
            return r;
    return nullptr;
}

// Members of the record's ring in ring order, the record first; empty without a ring.
std::vector<_HALCYRA_INI_ST*> RingOf(_HALCYRA_INI_ST* record, uint32_t offset)
{
    std::vector<_HALCYRA_INI_ST*> members;
    if (LinkedRecord(GetLink(record, offset)) == nullptr)
        return members;
    _HALCYRA_INI_ST* r = record;
    do {
        members.push_back(r);
        r = LinkedRecord(GetLink(r, offset));
    } while (r != nullptr && r != record && members.size() <= static_cast<size_t>(kMaxNodes) + 1);
    return members;
}

bool InRing(const std::vector<_HALCYRA_INI_ST*>& ring, const _HALCYRA_INI_ST* r)
{
    return std::find(ring.begin(), ring.end(), r) != ring.end();
}

// ---- probe defaults ----------------------------------------------------------------------

struct ProbeDevice {
    uint32_t node;
    DeviceHandle handle;
};
std::vector<ProbeDevice> g_probeDevices;

int DefaultOpen(uint32_t system, uint32_t board, const _PCI_FOUND_DEVICE* device, uint32_t windows[2])
{
    windows[0] = windows[1] = 0;
    char name[32];
    HlcNodeDeviceName(HlcBoardSuffix(*device), name, sizeof name);
    const DeviceHandle handle = DeviceOpen(name);
    if (handle == kInvalidDevice)
        return 0;
    if (!HlcDrvInterfaceCheck(handle, nullptr)) {
        DeviceClose(handle);
        return 0;
    }
    const uint32_t node = ((system + 1) << 4) | (board + 1);
    if (device->functions & 1)
        HlcDrvMap(handle, nullptr, node, HLC_REGION_PRIMARY, kOrloRegisterSize, kOrloRegisterOffset, &windows[0]);
    if (device->functions & 2)
        HlcDrvMap(handle, nullptr, node, HLC_REGION_DISPLAY, kOrloRegisterSize, kOrloRegisterOffset, &windows[1]);
    g_probeDevices.push_back({node, handle});
    return 1;
}

void DefaultShutdown(uint32_t deviceId)
{
    const uint32_t node = (deviceId >> 16) & 0xFF;
    for (auto it = g_probeDevices.begin(); it != g_probeDevices.end(); ++it) {
        if (it->node == node) {
            DeviceClose(it->handle);
            g_probeDevices.erase(it);
            return;
        }
    }
}

uint32_t DefaultProductId(const _PCI_FOUND_DEVICE*, uint32_t) { return 0x63; }
uint32_t DefaultDisplayMode(const _PCI_FOUND_DEVICE*) { return IM_SINGLE_SCREEN; }
void DefaultSleep(double seconds)
{
    // On the library clock: a machine on a virtual clock ends the pause at once.
    const double end = HwClockSeconds() + seconds;
    do
        HwSleep(end - HwClockSeconds());
    while (HwClockSeconds() < end);
}

const HalcyraIniProbe kDefaultProbe{DefaultOpen, DefaultShutdown, DefaultProductId, DefaultDisplayMode,
                                    DefaultSleep, nullptr};
HalcyraIniProbe g_probe = kDefaultProbe;

// Set once a rewrite has been written: AutoRescanIni is 0 in memory only until the data is
// read again, and the process must not rewrite a second time.
bool g_rescanned = false;
bool g_startingUp = false;

// ---- the probed boards ---------------------------------------------------------------------

struct Probed {
    _HALCYRA_INI_ST* record = nullptr;
    _PCI_FOUND_DEVICE* device = nullptr;
    uint32_t windows[2] = {0, 0};
    uint32_t probeNode = 0;
    bool shutDown = false;   // opened: shut down again at the end

    bool HasRegisters() const { return windows[0] != 0 || windows[1] != 0; }
    uint32_t Window() const { return windows[0] != 0 ? windows[0] : windows[1]; }
    uint8_t Kind() const { return static_cast<uint8_t>(record->DeviceNbr); }
    uint32_t Control() const { return HwRead32(Window(), kOrloControl); }
    void SetControl(uint32_t v) const { HwWrite32(Window(), kOrloControl, v); }
};

const char* const kFpgaNames[] = {"hlcgrab1.res", "svkiidig.res", "dac.res", "dac_r2.res", "korvex_iv.res",
                                  "shurler.res"};

const char* FpgaFor(uint32_t moduleType, uint32_t* grabModulePresent)
{
    *grabModulePresent = 1;
    switch (moduleType) {
    case 1: return kFpgaNames[0];
    case 2:
    case 34: return kFpgaNames[1];
    case 3:
    case 4: return kFpgaNames[2];
    case 5: return kFpgaNames[3];
    case 6: return kFpgaNames[4];
    case 0x80: *grabModulePresent = 0; return kFpgaNames[5];
    default: return nullptr;
    }
}

uint32_t SystemOf(const _HALCYRA_INI_ST* r) { return (r->NodeId >> 4) - 1; }
uint32_t BoardOf(const _HALCYRA_INI_ST* r) { return r->NodeId & 0x0F; }
uint32_t MakeNodeId(uint32_t system, uint32_t board) { return ((system + 1) << 4) + board; }

// Step 8: every record opens a system of its own with the records that lie both in its
// grab ring and in its VM ring.
void NumberSystems()
{
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next)
        r->NodeId = kUnnumbered;
    uint32_t system = 0;
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr && system < kMaxNodes; r = r->Next) {
        if (r->NodeId != kUnnumbered)
            continue;
        const std::vector<_HALCYRA_INI_ST*> grab = RingOf(r, kGrab);
        const std::vector<_HALCYRA_INI_ST*> vm = RingOf(r, kVm);
        std::vector<_HALCYRA_INI_ST*> members{r};
        for (_HALCYRA_INI_ST* m : grab)
            if (m != r && InRing(vm, m) && m->NodeId == kUnnumbered)
                members.push_back(m);
        std::sort(members.begin(), members.end(),
                  [](const _HALCYRA_INI_ST* a, const _HALCYRA_INI_ST* b) { return a->SeqIndex < b->SeqIndex; });
        uint32_t board = 1;
        for (_HALCYRA_INI_ST* m : members)
            m->NodeId = MakeNodeId(system, board++);
        ++system;
    }
}

// Step 9: VM speed of crowded rings, and which ring member is board 1.
void OrderSystems()
{
    for (uint32_t s = 0; s < kMaxNodes; ++s) {
        _HALCYRA_INI_ST* first = nullptr;
        for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr && first == nullptr; r = r->Next)
            if (r->NodeId != kUnnumbered && SystemOf(r) == s)
                first = r;
        if (first == nullptr)
            return;
        const std::vector<_HALCYRA_INI_ST*> vm = RingOf(first, kVm);
        if (vm.empty())
            continue;
        if (first->VmBusSpeed == 33) {
            uint32_t count = 0;
            for (const _HALCYRA_INI_ST* m : vm)
                count += (m->MvpPresent != 0 && m->DisplayMode != IM_NONE) ? 2 : 1;
            if (count > first->MaxVmDevicesAt33)
                for (_HALCYRA_INI_ST* m : vm)
                    m->VmBusSpeed = 25;
        }
        _HALCYRA_INI_ST* picked = nullptr;
        static const uint32_t kKinds[] = {4, 8};
        static const uint32_t kModes[] = {IM_SINGLE_SCREEN, IM_DUAL_HEAD, IM_DUAL_SCREEN};
        for (uint32_t kind : kKinds)
            for (uint32_t mode : kModes)
                for (_HALCYRA_INI_ST* m : vm)
                    if (picked == nullptr && (m->DeviceNbr & 0xFF) == kind && m->DisplayMode == mode)
                        picked = m;
        if (picked == nullptr)
            continue;
        const std::vector<_HALCYRA_INI_ST*> fromPicked = RingOf(picked, kVm);
        uint32_t board = 1;
        for (_HALCYRA_INI_ST* m : fromPicked)
            if (m->NodeId != kUnnumbered && SystemOf(m) == s)
                m->NodeId = MakeNodeId(s, board++);
    }
}

// Step 10: systems of a VM ring with digitizer-only boards (product 5) come after the
// others.
void RotateDigitizerSystems()
{
    for (_HALCYRA_INI_ST* p = HalcyraIniSt->Next; p != nullptr; p = p->Next) {
        if (p->ProductId != 5)
            continue;
        std::vector<_HALCYRA_INI_ST*> ring = RingOf(p, kVm);
        if (ring.empty())
            continue;
        // Walk from the first board-1 member.
        auto start = std::find_if(ring.begin(), ring.end(), [](const _HALCYRA_INI_ST* m) {
            return m->NodeId != kUnnumbered && BoardOf(m) == 1;
        });
        if (start == ring.end())
            continue;
        std::rotate(ring.begin(), start, ring.end());
        struct Entry {
            uint32_t system;
            bool marked;
        };
        std::vector<Entry> list;
        for (const _HALCYRA_INI_ST* m : ring)
            if (m->NodeId != kUnnumbered && BoardOf(m) == 1)
                list.push_back({SystemOf(m), m->ProductId == 5});
        int highestUnmarked = -1, lowestMarked = 1 << 30;
        for (const Entry& e : list) {
            if (e.marked)
                lowestMarked = std::min(lowestMarked, static_cast<int>(e.system));
            else
                highestUnmarked = std::max(highestUnmarked, static_cast<int>(e.system));
        }
        if (highestUnmarked <= lowestMarked)
            continue;
        const size_t n = list.size();
        size_t k = 0;
        while (k < n && list[k].marked)
            ++k;
        std::vector<Entry> rotated(n);
        for (size_t j = 0; j < n; ++j)
            rotated[(k + j) % n] = list[j];
        int index = -1;
        for (_HALCYRA_INI_ST* m : ring) {
            if (m->NodeId == kUnnumbered)
                continue;
            if (BoardOf(m) == 1)
                ++index;
            if (index >= 0)
                m->NodeId = MakeNodeId(rotated[static_cast<size_t>(index)].system, BoardOf(m));
        }
    }
}

// Offset of the first line that begins (after blanks) with "[Node]"; the text's size
// when there is none.
size_t FirstNodeSection(const std::string& text)
{
    size_t line = 0;
    while (line < text.size()) {
        size_t p = line;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
            ++p;
        if (strncasecmp(text.c_str() + p, "[Node]", 6) == 0)
            return line;
        const size_t end = text.find('\n', line);
        if (end == std::string::npos)
            break;
        line = end + 1;
    }
    return text.size();
}

bool ReadWholeFile(const std::string& path, std::string& content)
{
    // Opened without blocking and checked on the opened file, within the ini file's limit.
    FILE* f = qsrf::OpenRegularStream(path.c_str(), "rb", kIniMaxFileBytes);
    if (f == nullptr)
        return false;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Writes the kept text, the node sections and the map to a temporary file beside the
// file and renames it over the file.
bool WriteFileSafely(const std::string& path, const std::string& kept)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    FILE* f = fdopen(fd, "w");
    if (f == nullptr) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    bool ok = std::fwrite(kept.data(), 1, kept.size(), f) == kept.size();
    if (!kept.empty() && kept.back() != '\n')
        ok = ok && std::fputc('\n', f) != EOF;
    PrintEachNode(f);
    PrintMapping(f);
    ok = ok && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    ok = (std::fclose(f) == 0) && ok;
    if (ok)
        ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

void ClearAutoRescan()
{
    for (_HALCYRA_INI_ST* r = HalcyraIniSt; r != nullptr; r = r->Next)
        r->AutoRescanIni = 0;
}

}  // namespace

// ---- found devices -------------------------------------------------------------------------

uint32_t MakeDeviceNbr(const _PCI_FOUND_DEVICE* device)
{
    if (device == nullptr)
        return 0;
    return (static_cast<uint32_t>(device->bus) << 16) | (static_cast<uint32_t>(device->device) << 8) | device->kind;
}

bool IsDisplayPciFoundDevice(const _PCI_FOUND_DEVICE* device)
{
    return device != nullptr && device->chipDevice == 1 && (device->kind == 8 || device->secondKind == 8);
}

_PCI_FOUND_DEVICE* GetFirstPciFoundDevice()
{
    if (g_found == nullptr)
        PciGetHalcyraList(&g_found);
    _PCI_FOUND_DEVICE* head = g_found;
    if (head == nullptr)
        return nullptr;
    if (pciScanDirection == -1)
        pciScanDirection = (head->next != nullptr && head->next->slot < head->slot) ? 0 : 1;
    if (pciScanDirection == 1)
        return head;
    while (head->next != nullptr)
        head = head->next;
    return head;
}

_PCI_FOUND_DEVICE* NextPciFoundDevice(_PCI_FOUND_DEVICE* device)
{
    if (device == nullptr)
        return nullptr;
    return pciScanDirection == 0 ? device->previous : device->next;
}

_PCI_FOUND_DEVICE* GetThisPciFoundDevice(uint32_t deviceNbr)
{
    if (g_found == nullptr)
        GetFirstPciFoundDevice();
    for (_PCI_FOUND_DEVICE* d = g_found; d != nullptr; d = d->next)
        if (MakeDeviceNbr(d) == deviceNbr)
            return d;
    return nullptr;
}

void HalcyraIniForgetPciFoundDevices()
{
    PciFreeHalcyraList(&g_found);
    pciScanDirection = -1;
}

void HalcyraIniSetProbe(const HalcyraIniProbe* probe)
{
    g_probe = kDefaultProbe;
    if (probe == nullptr)
        return;
    if (probe->open != nullptr)
        g_probe.open = probe->open;
    if (probe->shutdown != nullptr)
        g_probe.shutdown = probe->shutdown;
    if (probe->productId != nullptr)
        g_probe.productId = probe->productId;
    if (probe->displayMode != nullptr)
        g_probe.displayMode = probe->displayMode;
    if (probe->sleep != nullptr)
        g_probe.sleep = probe->sleep;
    if (probe->devAlloc != nullptr)
        g_probe.devAlloc = probe->devAlloc;
}

void HalcyraIniLibraryStartUp()
{
    if (g_probe.devAlloc == nullptr || g_startingUp)
        return;
    // The start-up may read the ini data itself; the nested read must not start it again.
    g_startingUp = true;
    uint32_t id = 0;
    g_probe.devAlloc(14, 14, 0, 1, &id);
    g_startingUp = false;
}

const char* stristr(const char* text, const char* pattern)
{
    if (text == nullptr || pattern == nullptr)
        return nullptr;
    const size_t n = std::strlen(pattern);
    for (const char* p = text; *p != '\0'; ++p)
        if (strncasecmp(p, pattern, n) == 0)
            return p;
    return n == 0 ? text : nullptr;
}

// ---- matching ------------------------------------------------------------------------------

int HalcyraIniCheckIfNodesMatch(uint32_t nodeId, int check, _PCI_FOUND_DEVICE** device, _HALCYRA_INI_ST** record)
try {
    if (device != nullptr)
        *device = nullptr;
    if (record != nullptr)
        *record = nullptr;
    _PCI_FOUND_DEVICE* first = GetFirstPciFoundDevice();
    if (first == nullptr || HalcyraIniSt == nullptr)
        return 0;
    if (HalcyraIniSt->Next == nullptr)
        return 0;
    if (check != 0) {
        int devices = 0, records = 0;
        for (_PCI_FOUND_DEVICE* d = first; d != nullptr; d = NextPciFoundDevice(d))
            ++devices;
        for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next)
            ++records;
        if (devices != records)
            return 0;
        for (_PCI_FOUND_DEVICE* d = first; d != nullptr; d = NextPciFoundDevice(d)) {
            const _HALCYRA_INI_ST* match = nullptr;
            for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr && match == nullptr; r = r->Next)
                if (r->SlotNbr == d->slot && r->DeviceNbr == MakeDeviceNbr(d))
                    match = r;
            if (match == nullptr)
                return 0;
            if (IsDisplayPciFoundDevice(d) && g_probe.displayMode(d) != match->DisplayMode)
                return 0;
        }
    }
    _HALCYRA_INI_ST* mine = nullptr;
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr && mine == nullptr; r = r->Next)
        if (r->NodeId == nodeId)
            mine = r;
    _PCI_FOUND_DEVICE* found = nullptr;
    if (mine != nullptr)
        for (_PCI_FOUND_DEVICE* d = first; d != nullptr && found == nullptr; d = NextPciFoundDevice(d))
            if (d->slot == mine->SlotNbr && MakeDeviceNbr(d) == mine->DeviceNbr)
                found = d;
    if (mine != nullptr && found != nullptr) {
        if (device != nullptr)
            *device = found;
        if (record != nullptr)
            *record = mine;
    }
    return 1;
}
HLC_EXPORT_CATCH_AS(HalcyraIniCheckIfNodesMatch, 0)

// ---- rings ---------------------------------------------------------------------------------

void InsertInLinkList(int grabCount, int vmCount, int scanHurlerCount, _HALCYRA_INI_ST* record,
                      _HALCYRA_INI_ST* other)
{
    if (record == nullptr || other == nullptr || record == other)
        return;
    const int counts[] = {grabCount, vmCount, scanHurlerCount};
    const uint32_t offsets[] = {kGrab, kVm, kScanHurler};
    for (int i = 0; i < 3; ++i) {
        if (counts[i] < 2)
            continue;
        const uint32_t off = offsets[i];
        if (LinkedRecord(GetLink(record, off)) == nullptr)
            SetLink(record, off, ToWord(record));   // a ring of itself
        if (LinkedRecord(GetLink(other, off)) != nullptr)
            continue;   // already in a ring
        _HALCYRA_INI_ST* at = record;
        for (int steps = 0; steps <= kMaxNodes; ++steps) {
            _HALCYRA_INI_ST* next = LinkedRecord(GetLink(at, off));
            if (next == nullptr || next == record || next->SeqIndex <= at->SeqIndex ||
                next->SeqIndex >= other->SeqIndex)
                break;
            at = next;
        }
        SetLink(other, off, GetLink(at, off));
        SetLink(at, off, ToWord(other));
    }
}

// ---- writing -------------------------------------------------------------------------------

namespace {

const char* ProductName(uint32_t id)
{
    switch (id) {
    case 1: return "IM_DEV_HALCYRA";
    case 2: return "IM_DEV_HALCYRA_PRO";
    case 3: return "IM_DEV_HALCYRA_LC";
    case 4: return "IM_DEV_HALCYRA_MEMORY";
    case 5: return "IM_DEV_SORVIK_II_DIG";
    case 6: return "IM_DEV_DAC";
    case 7: return "IM_DEV_KORVEX_IV";
    default: return "IM_DEV_HALCYRA_UNDEF";
    }
}

const char* DisplayModeName(uint32_t mode)
{
    switch (mode) {
    case 0: return "IM_SINGLE_SCREEN";
    case 1: return "IM_DUAL_SCREEN";
    case 2: return "IM_DUAL_HEAD";
    default: return "IM_NONE";
    }
}

const char* ModuleName(uint32_t type)
{
    switch (type) {
    case 1: return "IM_EXTDEV_HALCYRA_GRAB";
    case 2: return "IM_EXTDEV_SORVIK_II_DIG";
    case 3: return "IM_EXTDEV_DAC_R0";
    case 4: return "IM_EXTDEV_DAC_R1";
    case 5: return "IM_EXTDEV_DAC_R2";
    case 6: return "IM_EXTDEV_KORVEX_IV";
    case 34: return "IM_EXTDEV_SORVIK_II_DIG_MJPEG";
    case 128: return "IM_EXTDEV_SCAN_HURLER";
    default: return "IM_EXTDEV_NONE";
    }
}

bool IsText(const _HALCYRA_INI_ST* r, uint32_t word)
{
    const uint32_t start = ToWord(r->Text);
    return r->Text != nullptr && word >= start && word <= start + r->TextSize;
}

// The FPGA file name of a record: a text of the file or one the rewrite chose; null for
// anything else (unset, or a number where a name belongs).
const char* FpgaNameOf(const _HALCYRA_INI_ST* r)
{
    if (IsText(r, r->FpgaName))
        return reinterpret_cast<const char*>(static_cast<uintptr_t>(r->FpgaName));
    for (const char* name : kFpgaNames)
        if (ToWord(name) == r->FpgaName)
            return name;
    return nullptr;
}

void PrintRing(FILE* file, const char* keyword, _HALCYRA_INI_ST* r, uint32_t offset)
{
    const std::vector<_HALCYRA_INI_ST*> ring = RingOf(r, offset);
    if (ring.empty()) {
        std::fprintf(file, "%s=%d\n", keyword, 0);
        return;
    }
    std::fprintf(file, "%s=0x%06x", keyword, r->DeviceNbr);
    for (size_t i = 1; i < ring.size(); ++i)
        std::fprintf(file, ",0x%06x", ring[i]->DeviceNbr);
    std::fprintf(file, "\n");
}

}  // namespace

void PrintEachNode(FILE* file)
{
    if (file == nullptr || HalcyraIniSt == nullptr)
        return;
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next) {
        std::fprintf(file, "%s\n", "[Node]");
        std::fprintf(file, "%s=0x%2x%37s# System=%d  Node=%d\n", "NodeId", r->NodeId, "",
                     static_cast<int>(r->NodeId >> 4) - 1, static_cast<int>(r->NodeId & 0x0F) - 1);
        std::fprintf(file, "%s=%s\n", "ProductId", ProductName(r->ProductId));
        std::fprintf(file, "%s=%d\n", "SlotNbr", static_cast<int>(r->SlotNbr));
        std::fprintf(file, "%s=0x%06x\n", "DeviceNbr", r->DeviceNbr);
        std::fprintf(file, "%s=%s\n", "MvpPresent", r->MvpPresent != 0 ? "YES" : "NO");
        std::fprintf(file, "%s=%s\n", "DisplayMode", DisplayModeName(r->DisplayMode));
        std::fprintf(file, "%s=%d\n", "VmBusSpeed", static_cast<int>(r->VmBusSpeed));
        std::fprintf(file, "%s=%s\n", "GrabModulePresent", r->GrabModulePresent != 0 ? "YES" : "NO");
        std::fprintf(file, "%s=%s\n", "ExtModuleType", ModuleName(r->ExtModuleType));
        if (const char* fpga = FpgaNameOf(r))
            std::fprintf(file, "%s=%s\n", "FpgaName", fpga);
        PrintRing(file, "GrabPortConnection", r, kGrab);
        PrintRing(file, "VmPortConnection", r, kVm);
        if (IsText(r, r->VmExternalDeviceId))
            std::fprintf(file, "%s=%s\n", "VmExternalDeviceId",
                         reinterpret_cast<const char*>(static_cast<uintptr_t>(r->VmExternalDeviceId)));
        else
            std::fprintf(file, "%s=%d\n", "VmExternalDeviceId", static_cast<int>(r->VmExternalDeviceId));
        PrintRing(file, "ScanHurlerConnection", r, kScanHurler);
        std::fprintf(file, "\n\n");
    }
}

void PrintMapping(FILE* file)
{
    if (file == nullptr || HalcyraIniSt == nullptr)
        return;
    std::vector<_HALCYRA_INI_ST*> columns;
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next)
        columns.push_back(r);
    auto columnOf = [&columns](const _HALCYRA_INI_ST* r) -> int {
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i] == r)
                return static_cast<int>(i);
        return -1;
    };

    static const char* const kLabels[15] = {"Slot", " ", "Bus", " ", "NodeId", " ", " ", "Grab Port", " ",
                                            "Scan Hurler", " ", "Vm Port", " ", " ", " "};
    std::vector<std::string> rows;
    for (int row = 0; row < 15; ++row) {
        char head[32];
        std::snprintf(head, sizeof head, "#%15s ", kLabels[row]);
        std::string text = head;
        const size_t base = text.size();
        for (const _HALCYRA_INI_ST* r : columns) {
            char cell[16] = "";
            switch (row) {
            case 0: std::snprintf(cell, sizeof cell, "%-4d", static_cast<int>(r->SlotNbr)); break;
            case 2: std::snprintf(cell, sizeof cell, "%-4d", static_cast<int>((r->DeviceNbr >> 16) & 0xFF)); break;
            case 4: std::snprintf(cell, sizeof cell, "%-2x  ", r->NodeId); break;
            case 1:
            case 3:
            case 5: break;
            default: std::snprintf(cell, sizeof cell, "|   "); break;
            }
            text += cell;
        }
        // Rings: row 8 grab port, 10 ScanHurler port, 12 VM port.
        const uint32_t offset = row == 7 ? kGrab : row == 9 ? kScanHurler : row == 11 ? kVm : 0;
        if (offset != 0) {
            auto put = [&text](size_t at, char c) {
                if (at < text.size())
                    text[at] = c;
            };
            for (size_t i = 0; i < columns.size(); ++i) {
                const size_t col = base + 4 * i;
                const std::vector<_HALCYRA_INI_ST*> ring = RingOf(columns[i], offset);
                if (ring.empty() || col >= text.size() || text[col] != '|')
                    continue;
                text[col] = '*';
                size_t current = col;
                for (size_t m = 1; m < ring.size(); ++m) {
                    const int c = columnOf(ring[m]);
                    if (c < 0)
                        continue;
                    const size_t target = base + 4 * static_cast<size_t>(c);
                    if (target <= current) {
                        current = target;   // a member to the left is not drawn
                        continue;
                    }
                    put(current + 1, '-');
                    if (target == current + 4) {
                        put(current + 2, '-');
                        put(current + 3, '-');
                    } else {
                        put(current + 2, '>');
                        put(target - 2, '<');
                        put(target - 1, '-');
                    }
                    put(target, '*');
                    current = target;
                }
            }
        }
        if (text.size() > 78)
            text.resize(78);
        rows.push_back(text);
    }
    for (const std::string& text : rows)
        std::fprintf(file, "%s\n", text.c_str());
    std::fprintf(file, "\n\n");
    if (HalcyraIniSt->DisplayBoardInfo != 0) {
        if (HalcyraIniSt->ApplicationMessaging != 0xFFFFFFFFu)
            im_open_pipe(static_cast<int32_t>(HalcyraIniSt->ApplicationMessaging));
        const std::string rule = "#" + std::string(78, '=');
        im_print_msg(0, "%s\n", rule.c_str());
        for (const std::string& text : rows)
            im_print_msg(0, "%s\n", text.c_str());
        im_print_msg(0, "%s\n", rule.c_str());
    }
}

// ---- the rewrite ---------------------------------------------------------------------------

_HALCYRA_INI_ST* HalcyraIniSetNode()
try {
    std::string path;
    if (HalcyraIniSt != nullptr && HalcyraIniSt->FilePath != nullptr) {
        path = HalcyraIniSt->FilePath;
    } else {
        char* found = FindHalcyraIniFile();
        if (found == nullptr)
            return nullptr;
        path = found;
        std::free(found);
    }
    HalcyraIniFree(nullptr);

    // 1. The text before the first [Node] keeps the global settings.
    std::string content;
    if (!ReadWholeFile(path, content))
        return nullptr;
    const std::string kept = content.substr(0, FirstNodeSection(content));
    if (HalcyraIniLoad(path.c_str(), &kept, 1) == nullptr)
        return nullptr;
    ClearAutoRescan();
    _HALCYRA_INI_ST* global = HalcyraIniSt;

    // 2. One system per board, at most 15.
    std::vector<Probed> nodes;
    _HALCYRA_INI_ST* last = global;
    auto addRecord = [&](_PCI_FOUND_DEVICE* device, uint32_t nodeId) -> bool {
        _HALCYRA_INI_ST* r = HalcyraIniNewRecord(global);
        if (r == nullptr)
            return false;
        r->SeqIndex = static_cast<uint32_t>(nodes.size());
        r->NodeId = nodeId;
        r->SlotNbr = device->slot;
        r->DeviceNbr = MakeDeviceNbr(device);
        last->Next = r;
        last = r;
        Probed p;
        p.record = r;
        p.device = device;
        p.probeNode = nodeId;
        nodes.push_back(p);
        return true;
    };
    _PCI_FOUND_DEVICE* device = GetFirstPciFoundDevice();
    if (device == nullptr) {
        HalcyraIniFree(nullptr);
        return nullptr;
    }
    bool built = true;
    for (uint32_t system = 1; device != nullptr && system <= kMaxNodes && built; ++system) {
        _PCI_FOUND_DEVICE* next = NextPciFoundDevice(device);
        if (next != nullptr && (MakeDeviceNbr(next) >> 8) == (MakeDeviceNbr(device) >> 8)) {
            // Two devices of one board: the kind-6 one second.
            _PCI_FOUND_DEVICE* a = device;
            _PCI_FOUND_DEVICE* b = next;
            if (a->kind == 6)
                std::swap(a, b);
            built = addRecord(a, (system << 4) + 1) && addRecord(b, (system << 4) + 2);
            device = NextPciFoundDevice(next);
        } else {
            built = addRecord(device, (system << 4) + 1);
            device = next;
        }
    }
    if (!built) {
        HalcyraIniFree(nullptr);
        return nullptr;
    }

    // 3. Probe under the node mutex.
    HANDLE mutex = CreateMutexA(FALSE, "MUTEX_imDev_");
    if (mutex != nullptr)
        WaitForSingleObject(mutex, INFINITE);
    for (Probed& p : nodes)
        p.shutDown = g_probe.open((p.probeNode >> 4) - 1, (p.probeNode & 0x0F) - 1, p.device, p.windows) != 0;

    // 4. Port drivers off on both windows.
    for (const Probed& p : nodes)
        for (uint32_t w : p.windows)
            if (w != 0)
                HwWrite32(w, kOrloControl, HwRead32(w, kOrloControl) & ~0xC00000u);

    // 5. What each board is.
    for (Probed& p : nodes) {
        _HALCYRA_INI_ST* r = p.record;
        r->DisplayMode = IM_NONE;
        r->VmBusSpeed = global->VmSpeedLimit;
        if (!p.HasRegisters())
            continue;
        if (p.windows[0] != 0 && (HwRead32(p.windows[0], kOrloStatus) & kStatusProcessor) != 0)
            r->MvpPresent = 1;
        r->ProductId = g_probe.productId(p.device, r->MvpPresent);
        if (r->ProductId == 2 && p.Kind() == 6)
            continue;
        uint32_t present = 0;
        const char* fpga = FpgaFor(p.device->moduleType, &present);
        if (fpga != nullptr) {
            r->GrabModulePresent = present;
            r->ExtModuleType = p.device->moduleType;
            r->FpgaName = ToWord(fpga);
        } else {
            r->GrabModulePresent = 0;
            r->ExtModuleType = 0;
            r->FpgaName = 0;
        }
    }

    // 6. Port probing: R drives its port lines, every later board B reports what it sees.
    for (size_t i = 0; i < nodes.size(); ++i) {
        Probed& R = nodes[i];
        if (!R.HasRegisters())
            continue;
        R.SetControl(R.Control() | 0xC00000u);
        int lastVm = 0;
        for (size_t j = i + 1; j < nodes.size(); ++j) {
            Probed& B = nodes[j];
            if (B.Kind() == 6 && (B.record->DeviceNbr >> 8) == (R.record->DeviceNbr >> 8)) {
                InsertInLinkList(3, 3, 0, R.record, B.record);
                continue;
            }
            if (!B.HasRegisters())
                continue;
            int grab = 0, vm = 0;
            for (uint32_t level = 0; level <= 1; ++level) {
                const uint32_t lines = level != 0 ? 0x3000u : 0u;
                R.SetControl((R.Control() & ~0x3000u) | lines);
                g_probe.sleep(0.01);
                const uint32_t seen = B.Control();
                if (((seen >> 3) & 1) == level)
                    ++grab;
                if (((seen >> 2) & 1) == level)
                    ++vm;
            }
            InsertInLinkList(grab, vm, 0, R.record, B.record);
            lastVm = vm;
        }
        R.SetControl(R.Control() & ~0xC00000u);
        g_probe.sleep(0.01);
        if (lastVm == 2 && !RingOf(R.record, kVm).empty() && (R.Control() & 0x4) != 0)
            R.record->VmBusSpeed = 25;
        if (R.record->ProductId == 2 && R.Kind() == 2) {
            for (Probed& other : nodes) {
                if (other.Kind() == 6 && (other.record->DeviceNbr >> 8) == (R.record->DeviceNbr >> 8)) {
                    other.record->VmBusSpeed = R.record->VmBusSpeed;
                    other.record->GrabModulePresent = R.record->GrabModulePresent;
                }
            }
        }
    }

    // 7. Display modes.
    for (Probed& p : nodes)
        if (IsDisplayPciFoundDevice(p.device))
            p.record->DisplayMode = g_probe.displayMode(p.device);

    // 8.-10. Systems and board numbers.
    NumberSystems();
    OrderSystems();
    RotateDigitizerSystems();

    // 11. Shut the probed nodes down again, newest first.
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
        if (it->shutDown)
            g_probe.shutdown(it->probeNode << 16);
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }

    const bool written = WriteFileSafely(path, kept);
    HalcyraIniFree(nullptr);
    if (!written)
        return nullptr;
    g_rescanned = true;
    if (HalcyraIniLoad(path.c_str(), nullptr, 1) == nullptr)
        return nullptr;
    ClearAutoRescan();
    return HalcyraIniSt;
}
HLC_EXPORT_CATCH(HalcyraIniSetNode)

int HalcyraIniMatchNode(uint32_t nodeId, _PCI_FOUND_DEVICE** device, _HALCYRA_INI_ST** record)
{
    *device = nullptr;
    *record = nullptr;
    if (HalcyraIniSt == nullptr)
        return 0;
    const uint32_t rescan = g_rescanned ? 0 : HalcyraIniSt->AutoRescanIni;
    bool rewrite = rescan >= 2;
    if (rescan == 1)
        rewrite = HalcyraIniCheckIfNodesMatch(nodeId, 1, device, record) != 1 || *device == nullptr;
    if (rewrite && HalcyraIniSetNode() == nullptr) {
        *device = nullptr;
        *record = nullptr;
        return 0;
    }
    if (HalcyraIniCheckIfNodesMatch(nodeId, 0, device, record) != 1 || *device == nullptr) {
        *device = nullptr;
        *record = nullptr;
        return 0;
    }
    return 1;
}

void HalcyraIniForgetRescan()
{
    g_rescanned = false;
}

bool HalcyraIniRescanned()
{
    return g_rescanned;
}
