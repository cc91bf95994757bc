// Client of the kernel service that owns DMA memory, PCI configuration access and page
// locking ("\\.\QVLSERVICE0").  One instance, QvlSerManager, is built when the library is
// loaded.  Every method returns non-zero for success and 0 for failure; on failure the
// caller's outputs are left as they were.
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "regmap/service_requests.h"

#include <cstdint>

#pragma pack(push, 1)
// The 14-byte PCI configuration record.
struct QVL_PCI_CONFIG_REQ {
    uint32_t device;
    uint8_t access;
    uint8_t bus;
    uint8_t deviceNumber;
    uint8_t function;
    uint8_t reg;
    uint8_t width;      // always 4
    uint32_t value;
};
#pragma pack(pop)
static_assert(sizeof(QVL_PCI_CONFIG_REQ) == 14, "PCI configuration records are 14 bytes");

class CQvlService {
public:
    CQvlService();
    ~CQvlService();
    CQvlService(const CQvlService&) = delete;
    CQvlService& operator=(const CQvlService&) = delete;

    int Valid() const;
    void SetDeviceToTalkTo(int board);
    int GetFileVersion(uint32_t* mostSignificant, uint32_t* leastSignificant, const char* fileName);

    int GetRevision(uint32_t* revision, uint32_t* a, uint32_t* lastRegion);
    int GetDriverInfo(uint32_t region, uint32_t* start, uint32_t* size);
    int GetGUID(uint32_t* guid);
    int DmaGetStat(uint32_t* a, uint32_t* b, uint32_t* c);
    int DmaAddToPool(uint32_t tag, uint32_t x, uint32_t y, uint32_t bits, uint32_t* id, uint32_t owner, uint32_t pid);
    int DmaBufferAlloc(uint32_t x, uint32_t y, uint32_t bits, uint32_t* id, uint32_t owner, uint32_t a, uint32_t b,
                       uint32_t c, uint32_t d, uint32_t* extra, uint32_t pid);
    int DmaBufferCreateId(uint32_t physical, uint32_t x, uint32_t y, uint32_t bits, uint32_t* record, uint32_t owner,
                          uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t* extra, uint32_t pid);
    int DmaBufferCreateIdFromHandle(uint32_t id, uint32_t* record, uint32_t owner, uint32_t pid);
    int DmaBufferFree(uint32_t id, uint32_t a, uint32_t owner, uint32_t pid);
    int DmaBufferCleanup(uint32_t a, uint32_t b);
    int DmaBufferGetPtr(uint32_t id, uint32_t* address, uint32_t pid);
    int DmaBufferGetPhysAddress(uint32_t id, uint32_t* physical, uint32_t* size, uint32_t pid);
    int PciConfigRead(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t* value);
    int PciConfigWrite(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);
    int PciConfigAccess(uint32_t kind, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mode, uint32_t e,
                        uint32_t count, uint32_t* data);
    int PciGetIntOption(uint8_t bus, uint8_t* table, uint16_t* mask);
    int PciFindDevice(uint32_t x, uint32_t vendor, uint32_t deviceId, uint32_t index, uint32_t* bus, uint32_t* device,
                      uint32_t* function);
    int PciBiosSupport(uint32_t* a, uint32_t* b, uint32_t* c);
    int PciBridgeConfigAll(uint32_t flags);
    int GetDmaOverview(uint32_t node, uint32_t a, uint32_t b, uint32_t c, uint8_t* bytes, uint32_t* length);
    int WaitForDmaOverview(uint32_t node, DeviceEvent* event);
    int PollForDmaOverview(uint32_t node);
    int GetPages(uint32_t address, uint32_t length, uint32_t* pages, uint32_t count, uint32_t* result);

    int PagedBufferLock(const void* address, uint32_t size);
    int PagedBufferUnlock(const void* address, uint32_t size);

    // Longest wait for one request (milliseconds); a request still running then is cancelled.
    void SetWaitLimit(uint32_t milliseconds) { m_waitLimit = milliseconds; }

private:
    int SendIoControl(uint32_t code, void* buffer, uint32_t size, DeviceEvent* extra, bool bidirectional);
    uint32_t Pid(uint32_t pid) const { return pid ? pid : m_pid; }
    uint32_t Owner(uint32_t owner) const { return owner ? owner : m_guid; }

    uint32_t m_guid;
    uint32_t m_device;
    DeviceHandle m_handle;
    uint32_t m_pid;
    uint32_t m_process;
    uint32_t m_valid;
    uint32_t m_waitLimit;
};

extern CQvlService& QvlSerManager;
