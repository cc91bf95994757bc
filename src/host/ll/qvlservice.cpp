#include "qvlservice.h"

#include <cstdio>
#include <cstring>
#include <vector>

// Never destroyed: a node's threads may still use it while the process ends.
CQvlService& QvlSerManager = *new CQvlService;

namespace {

// Bytes the service is asked for to hold an x × y block of the given bits per pixel:
// n + (n mod 8) with n the whole bytes of the block, never less than n.  False when it
// does not fit 32 bits.
bool ByteSize(uint32_t x, uint32_t y, uint32_t bits, uint32_t* bytes)
{
    const uint64_t pixels = static_cast<uint64_t>(x) * y;
    if (pixels > (0xFFFFFFFFull * 8) / (bits ? bits : 1)) return false;
    const uint64_t n = pixels * bits / 8;
    const uint64_t size = n + n % 8;
    if (size > 0xFFFFFFFFull) return false;
    *bytes = static_cast<uint32_t>(size);
    return true;
}

constexpr uint32_t kDefaultWaitLimit = 10000;

} // namespace

CQvlService::CQvlService()
    : m_guid(0), m_device(QVL_DEFAULT_DEVICE), m_handle(kInvalidDevice), m_pid(DeviceProcessId()),
      m_process(DeviceOpenOwnProcess()), m_valid(0), m_waitLimit(kDefaultWaitLimit)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\QVLSERVICE%x", 0u);
    m_handle = DeviceOpen(name);
    uint32_t revision = 0, a = 0, last = 0;
    if (m_handle != kInvalidDevice && m_process && GetRevision(&revision, &a, &last))
        m_valid = revision == QVL_REVISION ? 1u : 0u;
    if (m_valid) GetGUID(&m_guid);
}

CQvlService::~CQvlService()
{
    if (m_handle != kInvalidDevice) DeviceClose(m_handle);
    m_handle = kInvalidDevice;
    if (m_process) DeviceCloseOwnProcess(m_process);
    m_process = 0;
}

int CQvlService::Valid() const
{
    return m_handle != kInvalidDevice && m_process != 0 && m_valid == 1;
}

void CQvlService::SetDeviceToTalkTo(int board)
{
    m_device = static_cast<uint32_t>(board + 1) << 16;
}

int CQvlService::GetFileVersion(uint32_t* mostSignificant, uint32_t* leastSignificant, const char* fileName)
{
    if (fileName) return 0;
    uint32_t ms = 0, ls = 0;
    if (!DeviceGetDriverFileVersion(&ms, &ls)) return 0;
    if (mostSignificant) *mostSignificant = ms;
    if (leastSignificant) *leastSignificant = ls;
    return 1;
}

// Sends one request and waits, at most the wait limit, for its completion or for the
// extra event.  A request that did not complete is cancelled before the buffer (the
// caller's local) can go away.
int CQvlService::SendIoControl(uint32_t code, void* buffer, uint32_t size, DeviceEvent* extra, bool bidirectional)
{
    if (m_handle == kInvalidDevice) return 0;
    DeviceEvent own(false, false);
    DeviceOverlapped overlapped;
    overlapped.event = &own;
    uint32_t bytes = 0;
    const DeviceResult result = DeviceIoControl(m_handle, code, buffer, size, bidirectional ? buffer : nullptr,
                                                bidirectional ? size : 0, &bytes, &overlapped);
    if (result == kDeviceDone) return 1;
    if (result != kDevicePending) return 0;
    DeviceEvent* events[2] = {&own, extra};
    const int which = DeviceEvent::waitAny(events, extra ? 2 : 1, m_waitLimit);
    if (which == 0) return DeviceGetOverlappedResult(m_handle, &overlapped, &bytes, false) ? 1 : 0;
    DeviceCancelIo(m_handle, &overlapped);
    DeviceGetOverlappedResult(m_handle, &overlapped, &bytes, true);
    return 0;
}

int CQvlService::GetRevision(uint32_t* revision, uint32_t* a, uint32_t* lastRegion)
{
    uint32_t w[4] = {QVL_DEFAULT_DEVICE, QVL_REVISION, 0, 0};
    if (!SendIoControl(QVL_GET_REVISION, w, sizeof w, nullptr, true)) return 0;
    if (revision) *revision = w[1];
    if (a) *a = w[2];
    if (lastRegion) *lastRegion = w[3];
    return 1;
}

int CQvlService::GetDriverInfo(uint32_t region, uint32_t* start, uint32_t* size)
{
    uint32_t w[4] = {(region + 1) << 16, 0, 0, 0};
    if (!SendIoControl(QVL_GET_DRIVER_INFO, w, sizeof w, nullptr, true)) return 0;
    if (start) *start = w[1];
    if (size) *size = w[2];
    return 1;
}

int CQvlService::GetGUID(uint32_t* guid)
{
    uint32_t w[2] = {QVL_DEFAULT_DEVICE, 0};
    if (!SendIoControl(QVL_GET_GUID, w, sizeof w, nullptr, true)) return 0;
    if (guid) *guid = w[1];
    return 1;
}

int CQvlService::DmaGetStat(uint32_t* a, uint32_t* b, uint32_t* c)
{
    uint32_t w[4] = {m_device, 0, 0, 0};
    if (!SendIoControl(QVL_DMA_GET_STAT, w, sizeof w, nullptr, true)) return 0;
    if (a) *a = w[1];
    if (b) *b = w[2];
    if (c) *c = w[3];
    return 1;
}

int CQvlService::DmaAddToPool(uint32_t tag, uint32_t x, uint32_t y, uint32_t bits, uint32_t* id, uint32_t owner,
                              uint32_t pid)
{
    uint32_t bytes = 0;
    if (!ByteSize(x, y, bits, &bytes)) return 0;
    uint32_t w[7] = {m_device, 0, tag, bytes, m_process, Pid(pid), Owner(owner)};
    if (!SendIoControl(QVL_DMA_ADD_TO_POOL, w, sizeof w, nullptr, true)) return 0;
    if (id) *id = w[1];
    return 1;
}

int CQvlService::DmaBufferAlloc(uint32_t x, uint32_t y, uint32_t bits, uint32_t* id, uint32_t owner, uint32_t a,
                                uint32_t b, uint32_t c, uint32_t d, uint32_t* extra, uint32_t pid)
{
    uint32_t bytes = 0;
    if (!ByteSize(x, y, bits, &bytes)) return 0;
    uint32_t w[11] = {m_device, 0, bytes, m_process, Pid(pid), Owner(owner), a, b, c, d, 0};
    if (!SendIoControl(QVL_DMA_BUFFER_ALLOC, w, sizeof w, nullptr, true)) return 0;
    if (id) *id = w[1];
    if (extra) *extra = w[10];
    return 1;
}

int CQvlService::DmaBufferCreateId(uint32_t physical, uint32_t x, uint32_t y, uint32_t bits, uint32_t* record,
                                   uint32_t owner, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t* extra,
                                   uint32_t pid)
{
    uint32_t bytes = 0;
    if (!ByteSize(x, y, bits, &bytes)) return 0;
    uint32_t w[12] = {m_device, 0, physical, bytes, m_process, Pid(pid), Owner(owner), a, b, c, d, 0};
    if (!SendIoControl(QVL_DMA_BUFFER_CREATE_ID, w, sizeof w, nullptr, true)) return 0;
    if (record) *record = w[1];
    if (extra) *extra = w[11];
    return 1;
}

int CQvlService::DmaBufferCreateIdFromHandle(uint32_t id, uint32_t* record, uint32_t owner, uint32_t pid)
{
    uint32_t physical = 0, size = 0;
    if (!DmaBufferGetPhysAddress(id, &physical, &size, pid)) return 0;
    return DmaBufferCreateId(physical, size, 1, 8, record, owner, 0, 0, 0, 0, nullptr, pid);
}

int CQvlService::DmaBufferFree(uint32_t id, uint32_t a, uint32_t owner, uint32_t pid)
{
    uint32_t w[4] = {id, Pid(pid), a, Owner(owner)};
    return SendIoControl(QVL_DMA_BUFFER_FREE, w, sizeof w, nullptr, false);
}

int CQvlService::DmaBufferCleanup(uint32_t a, uint32_t b)
{
    uint32_t w[6] = {m_device, b, a, 0, 0, 0};
    return SendIoControl(QVL_DMA_BUFFER_CLEANUP, w, sizeof w, nullptr, false);
}

int CQvlService::DmaBufferGetPtr(uint32_t id, uint32_t* address, uint32_t pid)
{
    uint32_t w[3] = {id, Pid(pid), 0};
    if (!SendIoControl(QVL_DMA_BUFFER_GET_PTR, w, sizeof w, nullptr, true)) return 0;
    if (address) *address = w[2];
    return 1;
}

int CQvlService::DmaBufferGetPhysAddress(uint32_t id, uint32_t* physical, uint32_t* size, uint32_t pid)
{
    uint32_t w[4] = {id, Pid(pid), 0, 0};
    if (!SendIoControl(QVL_DMA_BUFFER_GET_PHYS, w, sizeof w, nullptr, true)) return 0;
    if (physical) *physical = w[2];
    if (size) *size = w[3];
    return 1;
}

int CQvlService::PciConfigRead(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg,
                               uint32_t* value)
{
    QVL_PCI_CONFIG_REQ r = {m_device, access, bus, device, function, reg, 4, 0};
    if (!SendIoControl(QVL_PCI_CONFIG_READ, &r, sizeof r, nullptr, true)) return 0;
    if (value) *value = r.value;
    return 1;
}

int CQvlService::PciConfigWrite(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg,
                                uint32_t value)
{
    QVL_PCI_CONFIG_REQ r = {m_device, access, bus, device, function, reg, 4, value};
    return SendIoControl(QVL_PCI_CONFIG_WRITE, &r, sizeof r, nullptr, false);
}

int CQvlService::PciConfigAccess(uint32_t kind, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mode,
                                 uint32_t e, uint32_t count, uint32_t* data)
{
    if (count > QVL_CONFIG_ACCESS_WORDS || (count && !data)) return 0;
    uint32_t w[9 + QVL_CONFIG_ACCESS_WORDS + 1] = {m_device, kind & 0xFF, a, b, c, d, mode, e, count};
    if (mode == 2 && count) std::memcpy(&w[9], data, 4 * count);
    if (!SendIoControl(QVL_PCI_CONFIG_ACCESS, w, sizeof w, nullptr, true)) return 0;
    if (w[9 + QVL_CONFIG_ACCESS_WORDS] != 0) return 0;
    if (mode == 1 && count) std::memcpy(data, &w[9], 4 * count);
    return 1;
}

// Buffer: device word, then the status bytes {bus in / status out, error, 16-bit mask,
// reserved}, then 16 routing records of 16 bytes.
int CQvlService::PciGetIntOption(uint8_t bus, uint8_t* table, uint16_t* mask)
{
    uint8_t b[265] = {};
    std::memcpy(b, &m_device, 4);
    b[4] = bus;
    if (!SendIoControl(QVL_PCI_GET_INT_OPTION, b, sizeof b, nullptr, true)) return 0;
    if ((b[4] & 1) || b[5]) return 0;
    if (table) std::memcpy(table, b + 9, QVL_INT_ROUTING_BYTES);
    if (mask) *mask = static_cast<uint16_t>(b[6] | (b[7] << 8));
    return 1;
}

int CQvlService::PciFindDevice(uint32_t, uint32_t vendor, uint32_t deviceId, uint32_t index, uint32_t* bus,
                               uint32_t* device, uint32_t* function)
{
    uint32_t w[8] = {m_device, vendor, deviceId, index, bus ? *bus : 0u, device ? *device : 0u,
                     function ? *function : 0u, 0};
    if (!SendIoControl(QVL_PCI_FIND_DEVICE, w, sizeof w, nullptr, true) || w[7] != 0) return 0;
    if (bus) *bus = w[4];
    if (device) *device = w[5];
    if (function) *function = w[6];
    return 1;
}

int CQvlService::PciBiosSupport(uint32_t* a, uint32_t* b, uint32_t* c)
{
    uint32_t w[4] = {m_device, 0, 0, 0};
    if (!SendIoControl(QVL_PCI_BIOS_SUPPORT, w, sizeof w, nullptr, true)) return 0;
    if (a) *a = w[1];
    if (b) *b = w[2];
    if (c) *c = w[3];
    return 1;
}

int CQvlService::PciBridgeConfigAll(uint32_t flags)
{
    uint32_t w[2] = {m_device, flags};
    return SendIoControl(QVL_PCI_BRIDGE_CONFIG_ALL, w, sizeof w, nullptr, false);
}

int CQvlService::GetDmaOverview(uint32_t node, uint32_t a, uint32_t b, uint32_t c, uint8_t* bytes, uint32_t* length)
{
    if (!length || *length > 0x100000u - 29 || (*length && !bytes)) return 0;
    const uint32_t wanted = *length;
    std::vector<uint8_t> buffer(wanted + 29, 0);
    const uint32_t head[7] = {(node + 1) << 16, a, b, c, 0, 0, wanted};
    std::memcpy(buffer.data(), head, sizeof head);
    if (!SendIoControl(QVL_GET_DMA_OVERVIEW, buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, true))
        return 0;
    if (wanted) std::memcpy(bytes, buffer.data() + 28, wanted);
    std::memcpy(length, buffer.data() + 20, 4);
    return 1;
}

int CQvlService::WaitForDmaOverview(uint32_t node, DeviceEvent* event)
{
    uint32_t w = (node + 1) << 16;
    return SendIoControl(QVL_WAIT_DMA_OVERVIEW, &w, sizeof w, event, false);
}

int CQvlService::PollForDmaOverview(uint32_t node)
{
    uint32_t w = (node + 1) << 16;
    return SendIoControl(QVL_WAIT_DMA_OVERVIEW, &w, sizeof w, nullptr, false);
}

int CQvlService::GetPages(uint32_t address, uint32_t length, uint32_t* pages, uint32_t count, uint32_t* result)
{
    if (count > (0x100000u - 28) / 4) return 0;
    const uint32_t size = 4 * count + 28;
    std::vector<uint32_t> w(size / 4, 0);
    w[0] = m_device;
    w[1] = size;
    w[2] = address;
    w[3] = length;
    w[4] = count;
    w[5] = 0;
    if (pages && count) std::memcpy(&w[6], pages, 4 * count);
    w[6 + count] = QVL_PAGE_LIST_END;
    if (!SendIoControl(QVL_GET_PAGES, w.data(), size, nullptr, true)) return 0;
    if (pages && count) std::memcpy(pages, &w[6], 4 * count);
    if (result) *result = w[5];
    return 1;
}

int CQvlService::PagedBufferLock(const void* address, uint32_t size)
{
    uint32_t minimum = 0, maximum = 0;
    DeviceGetWorkingSet(&minimum, &maximum);
    if (minimum + static_cast<uint64_t>(size) > 0xFFFFFFFFull || maximum + static_cast<uint64_t>(size) > 0xFFFFFFFFull)
        return 0;
    if (!DeviceSetWorkingSet(minimum + size, maximum + size)) return 0;
    if (!DeviceLockPages(address, size)) {
        DeviceSetWorkingSet(minimum, maximum);
        return 0;
    }
    return 1;
}

int CQvlService::PagedBufferUnlock(const void* address, uint32_t size)
{
    if (!DeviceUnlockPages(address, size)) return 0;
    uint32_t minimum = 0, maximum = 0;
    DeviceGetWorkingSet(&minimum, &maximum);
    if (minimum >= size && maximum >= size) DeviceSetWorkingSet(minimum - size, maximum - size);
    return 1;
}
