#include "pci.h"

#include "qvlservice.h"
#include "regmap/pci_ids.h"

#include <algorithm>
#include <cstring>
#include <vector>

uint8_t DefaultAccessType = 0;
_TPciBios GtPciBios = {0, 0, 0};
uint32_t wNbBusInSys = 0;
uint32_t PciNextBus = 0;
int RedoInit = 1;

namespace {

// A host function that is skipped on every bus but bus 0.
constexpr uint32_t kSkippedFunctionId = 0x10001042u;   // device 0x1000, vendor 0x1042
constexpr uint32_t kMaxSearchBus = 63;

// The BIOS record is fetched once, when a search first needs it (a zero record means
// not fetched yet).
uint32_t DevicesPerBus()
{
    if (GtPciBios.level == 0 && CheckPciBios(&GtPciBios) != 0) return 32;
    return (GtPciBios.mechanism & 1) ? 32 : 16;
}

uint8_t Resolve(uint8_t access)
{
    if (access == PCI_ACCESS_DEFAULT) {
        if (DefaultAccessType == 0) InitDefaultAccessType(0);
        return DefaultAccessType;
    }
    if (access == PCI_ACCESS_32 || access == PCI_ACCESS_INT) InitDefaultAccessType(access);
    return access;
}

bool Present(uint8_t access, uint32_t bus, uint32_t device, uint32_t function, uint32_t* id)
{
    return PciConfigReadDword(access, static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                              static_cast<uint8_t>(function), 0, id) == 0 &&
           (*id & 0xFFFF) != 0xFFFF;
}

uint32_t ClassOf(uint8_t access, uint32_t bus, uint32_t device, uint32_t function)
{
    uint32_t v = 0xFFFFFFFF;
    PciConfigReadDword(access, static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                       static_cast<uint8_t>(function), 0x08, &v);
    return v >> 8; // class << 16 | subclass << 8 | interface
}

uint8_t HeaderOf(uint8_t access, uint32_t bus, uint32_t device)
{
    uint8_t h = 0;
    PciConfigReadByte(access, static_cast<uint8_t>(bus), static_cast<uint8_t>(device), 0, 0x0E, &h);
    return h;
}

bool IsAnyBridge(uint32_t classCode)
{
    const uint32_t cs = classCode >> 8;
    return cs == 0x0600 || cs == 0x0604;
}

// The common walk of the two searches.
template <class Match>
int Search(uint8_t access, Match match, uint32_t index, uint8_t* bus, uint8_t* device, uint8_t* function)
{
    if (!bus || !device || !function || !QvlSerManager.Valid()) return 1;
    const bool erratum = PciCheckIntelHostBridgeBug(access);
    const uint32_t devices = DevicesPerBus();
    const uint32_t startBus = *bus, startDevice = *device, startFunction = *function;
    uint32_t maxBus = startBus;
    uint32_t count = 0;
    for (uint32_t b = startBus; b <= maxBus && b <= kMaxSearchBus; ++b) {
        if (erratum && (b & 2)) {
            ++b; // this bus and the next are skipped
            continue;
        }
        for (uint32_t d = (b == startBus ? startDevice : 0); d < devices; ++d) {
            if (erratum && d == 0) continue;
            uint32_t id0 = 0;
            if (!Present(access, b, d, 0, &id0)) continue;
            const uint32_t functions = ((b == 0 && d == 0) || (HeaderOf(access, b, d) & 0x80)) ? 8 : 1;
            for (uint32_t f = (b == startBus && d == startDevice ? startFunction : 0); f < functions; ++f) {
                uint32_t id = id0;
                if (f != 0 && !Present(access, b, d, f, &id)) continue;
                const uint32_t cls = ClassOf(access, b, d, f);
                if (IsAnyBridge(cls) && maxBus < kMaxSearchBus) ++maxBus;
                if (!match(id, cls)) continue;
                if (count++ != index) continue;
                *bus = static_cast<uint8_t>(b);
                *device = static_cast<uint8_t>(d);
                *function = static_cast<uint8_t>(f);
                return 0;
            }
        }
    }
    return 1;
}

struct ScanContext {
    uint8_t access;
    _TPciDevInfo* records;
    uint32_t capacity;
    uint32_t count;
    uint32_t flags;
    bool erratum;
    uint32_t devices;
};

void Identity(uint8_t access, uint32_t bus, uint32_t device, uint32_t function, uint32_t id, _TPciDevInfo* r)
{
    std::memset(r, 0, sizeof *r);
    r->bus = static_cast<uint16_t>(bus);
    r->device = static_cast<uint16_t>(device);
    r->function = static_cast<uint16_t>(function);
    r->vendorId = static_cast<uint16_t>(id);
    r->deviceId = static_cast<uint16_t>(id >> 16);
    uint32_t v = 0;
    const auto b = static_cast<uint8_t>(bus), d = static_cast<uint8_t>(device), f = static_cast<uint8_t>(function);
    PciConfigReadDword(access, b, d, f, 0x08, &v);
    r->revision = static_cast<uint8_t>(v);
    r->classCode[0] = static_cast<uint8_t>(v >> 8);
    r->classCode[1] = static_cast<uint8_t>(v >> 16);
    r->classCode[2] = static_cast<uint8_t>(v >> 24);
    PciConfigReadByte(access, b, d, f, 0x0E, &r->headerType);
    PciConfigReadByte(access, b, d, f, 0x3C, &r->interruptLine);
    PciConfigReadByte(access, b, d, f, 0x3D, &r->interruptPin);
}

void ScanBus(ScanContext& c, uint32_t bus, int depth)
{
    if (depth > 32) return;
    uint32_t previous = 0xFFFFFFFFu;
    for (int d = static_cast<int>(c.devices) - 1; d >= 0; --d) {
        uint32_t id0 = 0;
        if (!Present(c.access, bus, d, 0, &id0)) continue;
        const uint32_t functions = ((bus == 0 && d == 0) || (HeaderOf(c.access, bus, d) & 0x80)) ? 8 : 1;
        for (uint32_t f = 0; f < functions; ++f) {
            uint32_t id = id0;
            if (f != 0 && !Present(c.access, bus, d, f, &id)) continue;
            if (id == previous) continue;
            previous = id;
            const uint32_t cls = ClassOf(c.access, bus, d, f);
            if ((cls >> 8) == 0x0604) {
                _TPciDevInfo* slot = (c.records && c.count < c.capacity) ? &c.records[c.count] : nullptr;
                if (slot) Identity(c.access, bus, d, f, id, slot);
                ++c.count;
                ++wNbBusInSys;
                if (PciNextBus >= 255) continue;
                const uint8_t secondary = static_cast<uint8_t>(++PciNextBus);
                ResetPPBridge(c.access, static_cast<uint8_t>(bus), secondary, static_cast<uint8_t>(d),
                              static_cast<uint8_t>(f), c.flags);
                ScanBus(c, secondary, depth + 1);
                PciConfigWriteByte(c.access, static_cast<uint8_t>(bus), static_cast<uint8_t>(d),
                                   static_cast<uint8_t>(f), 0x1A, static_cast<uint8_t>(PciNextBus));
                if (c.erratum) PciNextBus = std::min<uint32_t>(PciNextBus + 2, 254);
                continue;
            }
            if (id == kSkippedFunctionId && bus != 0) continue;
            if (c.records && c.count < c.capacity)
                PciFillDeviceInfo(c.access, static_cast<uint8_t>(bus), static_cast<uint8_t>(d),
                                  static_cast<uint8_t>(f), &c.records[c.count]);
            ++c.count;
        }
    }
}

uint32_t AlignDown(uint32_t value, uint32_t alignment)
{
    return value & ~(alignment - 1);
}

// Highest address at or below cursor - size that is a multiple of size; false when the
// cursor cannot make room.
bool TakeDown(uint32_t& cursor, uint32_t size, uint32_t* address)
{
    if (size == 0 || cursor < size) return false;
    *address = (cursor - size) / size * size;
    cursor = *address;
    return true;
}

bool IsIo(uint32_t sizeWord)
{
    return (sizeWord & 1) != 0;
}

bool IsPrefetchable(uint32_t sizeWord)
{
    return !IsIo(sizeWord) && (sizeWord & 8) != 0;
}

} // namespace

uint8_t InitDefaultAccessType(uint8_t request)
{
    if (request != 0 && request == DefaultAccessType) return DefaultAccessType;
    uint32_t mechanism = 0, level = 0, last = 0;
    const bool bios = QvlSerManager.PciBiosSupport(&mechanism, &level, &last) != 0;
    uint8_t chosen;
    if (request != PCI_ACCESS_IO && request != PCI_ACCESS_INT && bios)
        chosen = level < 0x0210 ? PCI_ACCESS_IO : PCI_ACCESS_32;
    else if (request == PCI_ACCESS_32 || request == PCI_ACCESS_IO)
        chosen = PCI_ACCESS_IO;
    else if (!bios)
        chosen = PCI_ACCESS_IO;
    else
        chosen = level < 0x0210 ? PCI_ACCESS_IO : PCI_ACCESS_INT;
    DefaultAccessType = chosen;
    return chosen;
}

int PciConfigReadDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t* value)
try {
    if (!value || !QvlSerManager.Valid()) return 1;
    const uint8_t type = Resolve(access);
    uint32_t v = 0;
    if (!QvlSerManager.PciConfigRead(type, bus, device, function, static_cast<uint8_t>(reg & ~3u), &v)) return 1;
    *value = v;
    return 0;
}
HLC_EXPORT_CATCH_AS(PciConfigReadDword, 1)

int PciConfigReadWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t* value)
try {
    uint32_t v = 0;
    if (!value || PciConfigReadDword(access, bus, device, function, reg, &v)) return 1;
    *value = static_cast<uint16_t>(v >> ((reg & 2) * 8));
    return 0;
}
HLC_EXPORT_CATCH_AS(PciConfigReadWord, 1)

int PciConfigReadByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t* value)
try {
    uint32_t v = 0;
    if (!value || PciConfigReadDword(access, bus, device, function, reg, &v)) return 1;
    *value = static_cast<uint8_t>(v >> ((reg & 3) * 8));
    return 0;
}
HLC_EXPORT_CATCH_AS(PciConfigReadByte, 1)

int PciConfigWriteDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value)
try {
    if (!QvlSerManager.Valid()) return 1;
    const uint8_t type = Resolve(access);
    return QvlSerManager.PciConfigWrite(type, bus, device, function, static_cast<uint8_t>(reg & ~3u), value) ? 0 : 1;
}
HLC_EXPORT_CATCH_AS(PciConfigWriteDword, 1)

int PciConfigWriteWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t value)
try {
    uint32_t v = 0;
    if (PciConfigReadDword(access, bus, device, function, reg, &v)) return 1;
    const uint32_t shift = (reg & 2) * 8;
    v = (v & ~(0xFFFFu << shift)) | (static_cast<uint32_t>(value) << shift);
    return PciConfigWriteDword(access, bus, device, function, reg, v);
}
HLC_EXPORT_CATCH_AS(PciConfigWriteWord, 1)

int PciConfigWriteByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value)
try {
    uint32_t v = 0;
    if (PciConfigReadDword(access, bus, device, function, reg, &v)) return 1;
    const uint32_t shift = (reg & 3) * 8;
    v = (v & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
    return PciConfigWriteDword(access, bus, device, function, reg, v);
}
HLC_EXPORT_CATCH_AS(PciConfigWriteByte, 1)

namespace {
int SizedRead(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
              uint32_t* value)
{
    if (!value) return 1;
    if (size == 1) {
        uint8_t v = 0;
        if (PciConfigReadByte(access, bus, device, function, reg, &v)) return 1;
        *value = v;
        return 0;
    }
    if (size == 2) {
        uint16_t v = 0;
        if (PciConfigReadWord(access, bus, device, function, reg, &v)) return 1;
        *value = v;
        return 0;
    }
    if (size == 4) return PciConfigReadDword(access, bus, device, function, reg, value);
    return 1;
}

int SizedWrite(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
               uint32_t value)
{
    if (size == 1) return PciConfigWriteByte(access, bus, device, function, reg, static_cast<uint8_t>(value));
    if (size == 2) return PciConfigWriteWord(access, bus, device, function, reg, static_cast<uint16_t>(value));
    if (size == 4) return PciConfigWriteDword(access, bus, device, function, reg, value);
    return 1;
}
} // namespace

int PciConfigRead32(uint32_t, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
                    uint32_t* value)
try {
    return SizedRead(PCI_ACCESS_32, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigRead32, 1)

int PciConfigWrite32(uint32_t, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
                     uint32_t value)
try {
    return SizedWrite(PCI_ACCESS_32, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigWrite32, 1)

int PciConfigReadInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value)
try {
    return SizedRead(PCI_ACCESS_INT, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigReadInt, 1)

int PciConfigWriteInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value)
try {
    return SizedWrite(PCI_ACCESS_INT, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigWriteInt, 1)

int PciConfigReadIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value)
try {
    return SizedRead(PCI_ACCESS_IO, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigReadIo, 1)

int PciConfigWriteIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value)
try {
    return SizedWrite(PCI_ACCESS_IO, bus, device, function, reg, size, value);
}
HLC_EXPORT_CATCH_AS(PciConfigWriteIo, 1)

int CallPciBiosService(uint32_t, void*)
try {
    return 1;
}
HLC_EXPORT_CATCH_AS(CallPciBiosService, 1)

int CallPciBiosService32(uint32_t, void*)
try {
    return 1;
}
HLC_EXPORT_CATCH_AS(CallPciBiosService32, 1)

int GetBios32Service(uint32_t, void*)
try {
    return 1;
}
HLC_EXPORT_CATCH_AS(GetBios32Service, 1)

uint32_t GetBios32EntryPoint()
try {
    return 0;
}
HLC_EXPORT_CATCH(GetBios32EntryPoint)

int PciSetHwInt(uint8_t, uint8_t, uint8_t, uint8_t)
try {
    return 1;
}
HLC_EXPORT_CATCH_AS(PciSetHwInt, 1)

int CheckPciBios(_TPciBios* record)
try {
    if (!record || !QvlSerManager.Valid()) return 1;
    uint32_t a = 0, b = 0, c = 0;
    if (!QvlSerManager.PciBiosSupport(&a, &b, &c)) return 1;
    record->mechanism = a;
    record->level = b;
    record->lastBus = c;
    return 0;
}
HLC_EXPORT_CATCH_AS(CheckPciBios, 1)

int CheckPciBios32(void* record12)
try {
    if (!record12) return 1;
    std::memset(record12, 0, 12);
    _TPciBios bios = {0, 0, 0};
    if (CheckPciBios(&bios)) return 1;
    std::memcpy(record12, &bios, 12);
    return 0;
}
HLC_EXPORT_CATCH_AS(CheckPciBios32, 1)

int FindPciDevice(uint8_t access, uint16_t deviceId, uint16_t vendorId, uint32_t index, uint8_t* bus,
                  uint8_t* device, uint8_t* function)
try {
    const uint32_t wanted = static_cast<uint32_t>(deviceId) << 16 | vendorId;
    return Search(access, [&](uint32_t id, uint32_t) { return id == wanted; }, index, bus, device, function);
}
HLC_EXPORT_CATCH_AS(FindPciDevice, 1)

int FindPciClassCode(uint8_t access, uint8_t classCode, uint8_t subclass, uint32_t index, uint8_t* bus,
                     uint8_t* device, uint8_t* function)
try {
    const uint32_t wanted = static_cast<uint32_t>(classCode) << 8 | subclass;
    return Search(access, [&](uint32_t, uint32_t cls) { return (cls >> 8) == wanted; }, index, bus, device,
                  function);
}
HLC_EXPORT_CATCH_AS(FindPciClassCode, 1)

int PciGetIntOption(uint8_t bus, uint8_t* table, uint16_t* mask)
try {
    return QvlSerManager.PciGetIntOption(bus, table, mask) ? 0 : 1;
}
HLC_EXPORT_CATCH_AS(PciGetIntOption, 1)

bool PciCheckIntelHostBridgeBug(uint8_t access)
try {
    uint32_t id = 0, cls = 0;
    if (PciConfigReadDword(access, 0, 0, 0, 0x00, &id) || PciConfigReadDword(access, 0, 0, 0, 0x08, &cls)) return false;
    return id == 0x04A38086u && (cls & 0xFF) < 16;
}
HLC_EXPORT_CATCH(PciCheckIntelHostBridgeBug)

bool PciIsBridge(const _TPciDevInfo& r)
{
    return r.classCode[2] == 0x06 && r.classCode[1] == 0x04;
}

uint32_t PciBarSize(uint32_t sizeWord)
{
    if (sizeWord == 0) return 0;
    if (IsIo(sizeWord)) {
        const uint32_t low = sizeWord & 0xFFFCu;
        return low ? 0x10000u - low : 0;
    }
    const uint32_t mask = sizeWord & ~0xFu;
    return mask ? ~mask + 1 : 0;
}

int PciFillDeviceInfo(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, _TPciDevInfo* r)
{
    uint32_t id = 0;
    if (!r || !Present(access, bus, device, function, &id)) return 0;
    if (id == kSkippedFunctionId && bus != 0) return 0;
    Identity(access, bus, device, function, id, r);
    if (PciIsBridge(*r)) return 1;
    for (int i = 0; i < 6; ++i) {
        const auto reg = static_cast<uint8_t>(0x10 + 4 * i);
        uint32_t saved = 0, probe = 0;
        PciConfigReadDword(access, bus, device, function, reg, &saved);
        PciConfigWriteDword(access, bus, device, function, reg, 0xFFFFFFFFu);
        PciConfigReadDword(access, bus, device, function, reg, &probe);
        PciConfigWriteDword(access, bus, device, function, reg, saved);
        r->baseAddress[i] = saved;
        r->sizeWord[i] = (probe & 1) ? (probe & 0xFFFFu) : probe;
    }
    uint32_t rom = 0, probe = 0;
    PciConfigReadDword(access, bus, device, function, 0x30, &rom);
    PciConfigWriteDword(access, bus, device, function, 0x30, 0xFFFFFFFEu);
    PciConfigReadDword(access, bus, device, function, 0x30, &probe);
    PciConfigWriteDword(access, bus, device, function, 0x30, rom);
    r->romAddress = rom;
    r->romSize = (probe & ~0x7FFu) ? ~(probe & ~0x7FFu) + 1 : 0;
    return 1;
}

uint32_t ScanPciBus(uint8_t access, _TPciDevInfo* records)
try {
    if (!QvlSerManager.Valid()) return 0;
    const uint32_t devices = DevicesPerBus();
    uint32_t maxBus = 0, count = 0;
    for (uint32_t b = 0; b <= maxBus && b <= kMaxSearchBus; ++b) {
        for (uint32_t d = 0; d < devices; ++d) {
            uint32_t id = 0;
            if (!Present(access, b, d, 0, &id)) continue;
            const uint32_t cls = ClassOf(access, b, d, 0);
            if (IsAnyBridge(cls) && maxBus < kMaxSearchBus) ++maxBus;
            if (records && count < kPciMaxScanRecords) {
                if ((cls >> 8) == 0x0604)
                    Identity(access, b, d, 0, id, &records[count]);
                else if (!PciFillDeviceInfo(access, static_cast<uint8_t>(b), static_cast<uint8_t>(d), 0, &records[count]))
                    continue;
            }
            ++count;
        }
    }
    return count;
}
HLC_EXPORT_CATCH(ScanPciBus)

uint32_t PciScanBus(uint8_t access, _TPciDevInfo* records, uint32_t capacity, uint32_t flags)
{
    ScanContext c = {access, records, records ? capacity : 0, 0, flags, PciCheckIntelHostBridgeBug(access),
                     DevicesPerBus()};
    PciNextBus = 0;
    wNbBusInSys = 0;
    ScanBus(c, 0, 0);
    return c.count;
}

void ResetPPBridge(uint8_t access, uint8_t bus, uint8_t secondary, uint8_t device, uint8_t function, uint32_t flags)
{
    PciConfigWriteByte(access, bus, device, function, 0x0D, 0);
    PciConfigWriteByte(access, bus, device, function, 0x1B, 0);
    PciConfigWriteByte(access, bus, device, function, 0x18, bus);
    PciConfigWriteByte(access, bus, device, function, 0x19, secondary);
    PciConfigWriteByte(access, bus, device, function, 0x1A, 0xFF);
    if (flags != 3) {
        PciConfigWriteByte(access, bus, device, function, 0x1C, 0xFF);
        PciConfigWriteByte(access, bus, device, function, 0x1D, 0);
        PciConfigWriteDword(access, bus, device, function, 0x20, 0x0000FFFFu);
        PciConfigWriteDword(access, bus, device, function, 0x24, 0x0000FFFFu);
        PciConfigWriteDword(access, bus, device, function, 0x28, 0);
        PciConfigWriteDword(access, bus, device, function, 0x2C, 0);
        PciConfigWriteWord(access, bus, device, function, 0x30, 0);
        PciConfigWriteWord(access, bus, device, function, 0x32, 0);
    }
    PciConfigWriteByte(access, bus, device, function, 0x0C, 0);
    PciConfigWriteWord(access, bus, device, function, 0x04, 7);
}

void DisableAllPPBridge(uint8_t access)
{
    for (uint32_t i = 0; i < 255; ++i) {
        uint8_t bus = 0, device = 0, function = 0;
        if (FindPciClassCode(access, 0x06, 0x04, i, &bus, &device, &function)) break;
        PciConfigWriteByte(access, bus, device, function, 0x18, 0xFF);
        PciConfigWriteByte(access, bus, device, function, 0x19, 0);
        PciConfigWriteByte(access, bus, device, function, 0x1A, 0);
    }
}

void GetMapStartAddr(const _TPciDevInfo* records, uint32_t count, uint32_t flags, uint32_t* memory, uint32_t* io)
{
    uint32_t lowMemory = 0xFFFFFFFFu, lowIo = 0xFFFFFFFFu;
    for (uint32_t r = 0; records && r < count; ++r) {
        const _TPciDevInfo& d = records[r];
        if (PciIsBridge(d) || (flags != 3 && d.bus != 0)) continue;
        for (int i = 0; i < 6; ++i) {
            if (d.sizeWord[i] == 0) continue;
            const uint32_t v = d.baseAddress[i];
            if (IsIo(d.sizeWord[i])) {
                const uint32_t a = v & ~3u;
                if (a && a < lowIo) lowIo = a;
            } else {
                const uint32_t a = v & ~0xFu;
                if (a && a < lowMemory) lowMemory = a;
            }
        }
    }
    // Nothing in use: start below the usual top of PCI memory and of the I/O space.
    if (memory) *memory = lowMemory != 0xFFFFFFFFu ? lowMemory : 0xFEC00000u;
    if (io) *io = lowIo != 0xFFFFFFFFu ? lowIo : 0x10000u;
}

int MapAllPciDevices(uint8_t access, _TPciDevInfo* records, uint32_t count, uint32_t memory, uint32_t io,
                     uint32_t flags)
{
    if (!records) return count ? 1 : 0;
    std::vector<uint32_t> busLowest(256, 0);
    std::vector<uint16_t> command(count, 0);
    if (flags == 3)
        for (uint32_t r = 0; r < count; ++r) {
            const _TPciDevInfo& d = records[r];
            if (PciIsBridge(d) || d.bus == 0) continue;
            for (int i = 0; i < 6; ++i) {
                if (d.sizeWord[i] == 0 || IsIo(d.sizeWord[i]) || d.baseAddress[i] < 16) continue;
                const uint32_t a = d.baseAddress[i] & ~0xFu;
                if (busLowest[d.bus & 0xFF] == 0 || a < busLowest[d.bus & 0xFF]) busLowest[d.bus & 0xFF] = a;
            }
        }

    int failed = 0;
    uint32_t memoryCursor = memory, ioCursor = io;
    int currentBus = -1;
    auto busChange = [&](uint16_t bus) {
        if (bus == currentBus) return;
        currentBus = bus;
        memoryCursor = AlignDown(memoryCursor, 0x100000);
        ioCursor = AlignDown(ioCursor, 0x1000);
    };
    auto writeBar = [&](const _TPciDevInfo& d, int i, uint32_t value) {
        PciConfigWriteDword(access, static_cast<uint8_t>(d.bus), static_cast<uint8_t>(d.device),
                            static_cast<uint8_t>(d.function), static_cast<uint8_t>(0x10 + 4 * i), value);
    };

    // Pass 1: prefetchable memory.
    for (uint32_t r = 0; r < count; ++r) {
        _TPciDevInfo& d = records[r];
        if (PciIsBridge(d) || d.bus == 0) continue;
        busChange(d.bus);
        for (int i = 0; i < 6; ++i) {
            if (!IsPrefetchable(d.sizeWord[i])) continue;
            const uint32_t size = PciBarSize(d.sizeWord[i]);
            if (size == 0) continue;
            if (!(flags == 3 && d.baseAddress[i] >= 16)) {
                uint32_t address = 0;
                if (!TakeDown(memoryCursor, size, &address)) {
                    failed = 1;
                    continue;
                }
                writeBar(d, i, address | (d.sizeWord[i] & 0xF));
            }
            command[r] |= 6;
        }
    }
    // Pass 2: the other registers of functions other than device 0.
    for (uint32_t r = 0; r < count; ++r) {
        _TPciDevInfo& d = records[r];
        if (PciIsBridge(d) || d.bus == 0 || d.device == 0) continue;
        busChange(d.bus);
        for (int i = 0; i < 6; ++i) {
            const uint32_t word = d.sizeWord[i];
            const uint32_t size = PciBarSize(word);
            if (size == 0 || IsPrefetchable(word)) continue;
            uint32_t address = 0;
            if (IsIo(word)) {
                const uint32_t rounded = (size + 0x3FF) & ~0x3FFu;
                // The range lies below the cursor, aligned to its size, so that it never
                // overlaps the range the cursor started from.
                if (!TakeDown(ioCursor, rounded, &address)) {
                    failed = 1;
                    continue;
                }
                writeBar(d, i, address | (word & 3));
                command[r] |= 5;
                continue;
            }
            if (flags == 3 && d.baseAddress[i] >= 16 && size > 15) {
                command[r] |= 6;
                continue;
            }
            uint32_t& lowest = busLowest[d.bus & 0xFF];
            if (flags == 3 && lowest) {
                if (lowest < size) {
                    failed = 1;
                    continue;
                }
                address = (lowest - size) / size * size;
                lowest = address;
            } else if (!TakeDown(memoryCursor, size, &address)) {
                failed = 1;
                continue;
            }
            writeBar(d, i, address | (word & 0xF));
            command[r] |= 6;
        }
    }
    // Commands and the per-function settings.
    for (uint32_t r = 0; r < count; ++r) {
        const _TPciDevInfo& d = records[r];
        if (PciIsBridge(d) || d.bus == 0) continue;
        const auto b = static_cast<uint8_t>(d.bus), dv = static_cast<uint8_t>(d.device),
                   f = static_cast<uint8_t>(d.function);
        uint16_t old = 0;
        PciConfigReadWord(access, b, dv, f, 0x04, &old);
        if (d.device == 0) {
            if (command[r]) PciConfigWriteWord(access, b, dv, f, 0x04, static_cast<uint16_t>(old | command[r]));
            continue;
        }
        uint16_t cmd = command[r];
        if (d.classCode[2] == 0x03 && d.classCode[1] == 0x00) cmd |= 1;
        if (flags == 3) cmd |= old;
        PciConfigWriteWord(access, b, dv, f, 0x04, cmd);
        uint8_t line = 0;
        PciConfigReadByte(access, b, dv, f, 0x3C, &line);
        if (line == 0 || line > 16) PciConfigWriteByte(access, b, dv, f, 0x3C, 0xFF);
        PciConfigWriteByte(access, b, dv, f, 0x0D, 0xF8);
        PciConfigWriteByte(access, b, dv, f, 0x0C, 0);
    }
    return failed;
}

void ConfigPPBridge(uint8_t access, const _TPciDevInfo* records, uint32_t count)
{
    for (uint32_t r = 0; records && r < count; ++r) {
        const _TPciDevInfo& bridge = records[r];
        if (!PciIsBridge(bridge)) continue;
        const auto b = static_cast<uint8_t>(bridge.bus), dv = static_cast<uint8_t>(bridge.device),
                   f = static_cast<uint8_t>(bridge.function);
        uint8_t secondary = 0, subordinate = 0;
        if (PciConfigReadByte(access, b, dv, f, 0x19, &secondary) || PciConfigReadByte(access, b, dv, f, 0x1A, &subordinate))
            continue;
        uint32_t low[3] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}; // memory, prefetchable, I/O
        uint32_t high[3] = {0, 0, 0};
        for (uint32_t k = 0; k < count; ++k) {
            const _TPciDevInfo& d = records[k];
            if (PciIsBridge(d) || d.bus < secondary || d.bus > subordinate) continue;
            for (int i = 0; i < 6; ++i) {
                const uint32_t size = PciBarSize(d.sizeWord[i]);
                if (size == 0) continue;
                uint32_t v = 0;
                PciConfigReadDword(access, static_cast<uint8_t>(d.bus), static_cast<uint8_t>(d.device),
                                   static_cast<uint8_t>(d.function), static_cast<uint8_t>(0x10 + 4 * i), &v);
                const int kind = IsIo(d.sizeWord[i]) ? 2 : (IsPrefetchable(d.sizeWord[i]) ? 1 : 0);
                const uint32_t base = kind == 2 ? (v & ~3u) : (v & ~0xFu);
                if (base == 0) continue;
                const uint32_t last = base + (size - 1);
                low[kind] = std::min(low[kind], base);
                high[kind] = std::max(high[kind], last);
            }
        }
        if (low[2] != 0xFFFFFFFFu) {
            PciConfigWriteByte(access, b, dv, f, 0x1C, static_cast<uint8_t>((low[2] >> 8) & 0xF0));
            PciConfigWriteByte(access, b, dv, f, 0x1D, static_cast<uint8_t>((high[2] >> 8) & 0xF0));
        }
        if (low[0] != 0xFFFFFFFFu) {
            PciConfigWriteWord(access, b, dv, f, 0x20, static_cast<uint16_t>((low[0] >> 16) & 0xFFF0));
            PciConfigWriteWord(access, b, dv, f, 0x22, static_cast<uint16_t>((high[0] >> 16) & 0xFFF0));
        }
        if (low[1] != 0xFFFFFFFFu) {
            PciConfigWriteWord(access, b, dv, f, 0x24, static_cast<uint16_t>((low[1] >> 16) & 0xFFF0));
            PciConfigWriteWord(access, b, dv, f, 0x26, static_cast<uint16_t>((high[1] >> 16) & 0xFFF0));
        }
        uint16_t control = 0;
        PciConfigReadWord(access, b, dv, f, 0x3E, &control);
        PciConfigWriteWord(access, b, dv, f, 0x3E, static_cast<uint16_t>(control | 4));
        PciConfigWriteByte(access, b, dv, f, 0x0C, 0);
    }
}

uint32_t ConfigAllPciDevices(uint32_t flags)
try {
    if (flags >= 0xFFFE) RedoInit = 1;
    if (!RedoInit) return 0;
    uint32_t result = 0;
    const uint8_t access = PCI_ACCESS_DEFAULT;
    uint8_t bus = 0, device = 0, function = 0;
    if (FindPciClassCode(access, 0x06, 0x04, 0, &bus, &device, &function)) return PCI_CONFIG_NO_BRIDGE;
    uint32_t id = 0;
    PciConfigReadDword(access, bus, device, function, 0x00, &id);
    const bool hostBridge = id == 0x71808086u || id == 0x71818086u || id == 0x71908086u || id == 0x71918086u;
    if (bus == 0 && device == 0 && !hostBridge) {
        uint16_t cmd = 0;
        if (flags != 0xFFFFFFFFu) PciConfigReadWord(access, bus, device, function, 0x04, &cmd);
        if ((cmd & 3) == 0 || flags == 3) {
            DisableAllPPBridge(access);
            const uint32_t counted = PciScanBus(access, nullptr, 0, flags);
            std::vector<_TPciDevInfo> records;
            bool haveRecords = true;
            try {
                records.resize(counted);
            } catch (...) {
                haveRecords = false;
                result |= PCI_CONFIG_NO_MEMORY;
            }
            if (haveRecords) {
                const uint32_t found = PciScanBus(access, records.data(), counted, flags);
                if (found != counted) result |= PCI_CONFIG_COUNT_CHANGED;
                const uint32_t stored = std::min(found, counted);
                uint32_t memoryStart = 0, ioStart = 0;
                GetMapStartAddr(records.data(), stored, flags, &memoryStart, &ioStart);
                if (MapAllPciDevices(access, records.data(), stored, memoryStart, ioStart, flags))
                    result |= PCI_CONFIG_ASSIGN_FAILED;
                ConfigPPBridge(access, records.data(), stored);
            }
        } else {
            uint8_t b = 1, d = 0, f = 0;
            if (FindPciDevice(access, kPciPrimaryOrlo, kPciMakerVendor, 0, &b, &d, &f) == 0) {
                uint32_t base = 0;
                PciConfigReadDword(access, b, d, f, 0x10, &base);
                if (base < 16) return ConfigAllPciDevices(3);
            }
        }
    }
    if (flags != 1) {
        uint8_t b = 0, d = 0, f = 0;
        for (int i = 0; i < 256; ++i) {
            if (FindPciDevice(access, kPciBoardBridge, kPciMakerVendor, 0, &b, &d, &f)) break;
            PciConfigWriteDword(access, b, d, f, 0x44, 0x1E00);
            if (++d >= 32) {
                d = 0;
                if (++b > 63) break;
            }
            f = 0;
        }
    }
    RedoInit = 0;
    return result;
}
HLC_EXPORT_CATCH(ConfigAllPciDevices)
