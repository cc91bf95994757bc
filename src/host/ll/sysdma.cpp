#include "sysdma.h"

#include "qvlservice.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kPage = 4096;

uint32_t NodeOf(uint32_t nodeArg)
{
    return (nodeArg >> 16) & 0xFF;
}

void SetNone(_MP_BAND_ST* d)
{
    d->id = -1;
    d->mapped = 0;
    d->third = 0;
    d->physical = 0;
}

uint32_t AddressWord(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

bool SysDmaBandBytes(uint32_t sizeX, uint32_t sizeY, uint32_t bits, uint32_t* bytes)
{
    uint64_t line;
    if (bits == 1)
        line = (static_cast<uint64_t>(sizeX) + 7) / 8;
    else if (bits <= 8)
        line = sizeX;
    else if (bits <= 16)
        line = 2ull * sizeX;
    else if (bits <= 24)
        line = 3ull * sizeX;
    else if (bits <= 32)
        line = 4ull * sizeX;
    else
        line = sizeX;   // codes above 32 give the size in bytes, as codes 0 and 2-8 do
    const uint64_t total = line * sizeY;
    if (total > 0xFFFFFFFFull) return false;
    *bytes = static_cast<uint32_t>(total);
    return true;
}

int32_t SysDmaBufferAlloc(uint32_t nodeArg, uint32_t sizeX, uint32_t sizeY, uint32_t bits, _MP_BAND_ST* descriptor)
{
    if (!descriptor) return 0;
    const uint32_t node = NodeOf(nodeArg);
    const uint32_t callerSecond = descriptor->mapped;
    uint32_t bytes = 0;
    if (!SysDmaBandBytes(sizeX, sizeY, bits, &bytes)) {
        SetNone(descriptor);
        return 0;
    }
    if (bytes == 0) {
        SetNone(descriptor);
        return -1;
    }
    const HlcHostHooks& hooks = HlcGetHostHooks();
    int32_t largest = 0;
    if (hooks.iniReadInt(node, "LargestDmaBlock", &largest) != 0) largest = 0;
    uint32_t id = 0;
    if (!QvlSerManager.DmaBufferAlloc(bytes, 1, 8, &id, node, 0, 0, static_cast<uint32_t>(largest), 0, nullptr, 0) ||
        id == 0) {
        SetNone(descriptor);
        return 0;
    }
    uint32_t physical = 0;
    if (!QvlSerManager.DmaBufferGetPhysAddress(id, &physical, nullptr, 0)) {
        QvlSerManager.DmaBufferFree(id, 0, node, 0);
        SetNone(descriptor);
        return 0;
    }
    descriptor->id = static_cast<int32_t>(id);
    descriptor->third = callerSecond;
    descriptor->physical = physical;
    const HlcNodeLink* link = hooks.nodeLink(node);
    descriptor->mapped = link ? mp_sys_map_hw_physical_address(link, HLC_REGION_DMA, physical, bytes) : 0;
    return static_cast<int32_t>(id);
}

int32_t SysDmaBufferFree(uint32_t nodeArg, _MP_BAND_ST* descriptor)
{
    if (!descriptor) return -1;
    if (descriptor->id == -1 && descriptor->mapped == 0) {
        std::memset(descriptor, 0, sizeof *descriptor);
        return 0;
    }
    if (!QvlSerManager.DmaBufferFree(static_cast<uint32_t>(descriptor->id), 0, NodeOf(nodeArg), 0)) return -1;
    std::memset(descriptor, 0, sizeof *descriptor);
    return 0;
}

uint32_t SysPageLineWords(uint32_t address, uint32_t length)
{
    if (length == 0) return 0;
    const uint32_t last = length - 1;
    return ((address % kPage) + (last % kPage)) / kPage + last / kPage + 2;
}

int LockPagedBuffer(const void* address, uint32_t length)
{
    if (!address || length == 0) return 0;
    const uint64_t grow = ((static_cast<uint64_t>(length) + kPage - 1) & ~static_cast<uint64_t>(kPage - 1)) + kPage;
    uint32_t minimum = 0, maximum = 0;
    DeviceGetWorkingSet(&minimum, &maximum);
    if (maximum + grow > 0xFFFFFFFFull) return 0;
    if (!DeviceSetWorkingSet(minimum + static_cast<uint32_t>(grow), maximum + static_cast<uint32_t>(grow))) return 0;
    if (!DeviceLockPages(address, length)) {
        DeviceSetWorkingSet(minimum, maximum);
        return 0;
    }
    return 1;
}

int UnlockPagedBuffer(const void* address, uint32_t length)
{
    if (!address || length == 0 || !DeviceUnlockPages(address, length)) return 0;
    const uint32_t shrink = ((length + kPage - 1) & ~(kPage - 1)) + kPage;
    uint32_t minimum = 0, maximum = 0;
    DeviceGetWorkingSet(&minimum, &maximum);
    if (minimum >= shrink && maximum >= shrink) DeviceSetWorkingSet(minimum - shrink, maximum - shrink);
    return 1;
}

int32_t MapVirtualToPhysical(uint32_t, const void* address, uint32_t length, uint32_t* line, uint32_t words)
{
    if (!address) {
        HlcPrint("Got a NULL ptr\n\n");
        return -1;
    }
    if (!line || words < 2 || length == 0) return -1;
    line[0] = AddressWord(address);
    line[1] = length;
    uint32_t result = 0;
    if (!QvlSerManager.GetPages(AddressWord(address), length, line + 1, words - 1, &result)) return -1;
    line[0] = result;
    return 1;
}

int32_t SysGetPhysicalAddr(const void* address, uint32_t* physical)
{
    if (!QvlSerManager.Valid() || !address) return 1;
    uint32_t page = 0, result = 0;
    if (!QvlSerManager.GetPages(AddressWord(address), 1, &page, 1, &result)) return 1;
    if (physical) *physical = page | (AddressWord(address) & (kPage - 1));
    return 0;
}

int32_t SysLockBuffer(uint32_t system, uint32_t buffer, uint32_t* listId)
{
    const HlcHostHooks& hooks = HlcGetHostHooks();
    SysBufferInfo info;
    std::memset(&info, 0, sizeof info);
    if (hooks.describeBuffer(system, buffer, &info) != 0 || info.bands == 0 || info.bands > kSysMaxBands) return -1;
    uint32_t lineWords = 0;
    for (uint32_t i = 0; i < info.bands; ++i) {
        const uint32_t words = SysPageLineWords(AddressWord(info.band[i].address), info.band[i].length);
        if (!info.band[i].address || words == 0) return -1;
        if (words > lineWords) lineWords = words;
    }
    if (static_cast<uint64_t>(lineWords) * info.bands > 0x3FFFFFFFull) return -1;
    const bool child = info.parent != 0;
    if (child) hooks.controlBuffer(system, info.parent, 1, 268435456.0);
    uint32_t* list = nullptr;
    const uint32_t id = hooks.allocListBuffer(system, lineWords, info.bands, &list);
    if (id == 0 || !list) {
        if (id) hooks.freeBuffer(system, id);
        return -1;
    }
    uint32_t locked = 0;
    bool ok = true;
    for (uint32_t i = 0; i < info.bands && ok; ++i) {
        if (!child) {
            if (!LockPagedBuffer(info.band[i].address, info.band[i].length)) {
                ok = false;
                break;
            }
            ++locked;
        }
        ok = MapVirtualToPhysical(system, info.band[i].address, info.band[i].length, list + i * lineWords,
                                  lineWords) == 1;
    }
    if (!ok) {
        for (uint32_t i = 0; i < locked; ++i) UnlockPagedBuffer(info.band[i].address, info.band[i].length);
        hooks.freeBuffer(system, id);
        return -1;
    }
    if (listId) *listId = id;
    return 0;
}

int32_t SysUnlockBuffer(uint32_t system, uint32_t buffer)
{
    const HlcHostHooks& hooks = HlcGetHostHooks();
    SysBufferInfo info;
    std::memset(&info, 0, sizeof info);
    if (hooks.describeBuffer(system, buffer, &info) != 0 || info.bands > kSysMaxBands) return -1;
    if (info.parent) return 0;
    int32_t result = 0;
    for (uint32_t i = 0; i < info.bands; ++i)
        if (!UnlockPagedBuffer(info.band[i].address, info.band[i].length)) result = -1;
    return result;
}

uint32_t mp_sys_map_hw_physical_address(const HlcNodeLink* record, uint32_t region, uint32_t offset, uint32_t size)
{
    if (!record) return 0;
    if (region == HLC_REGION_DMA && record->dmaRegions) {
        for (const _MP_DMA_REGION_ST* e = record->dmaRegions; e->physical != 0; ++e) {
            if (e->user && e->physical <= offset &&
                static_cast<uint64_t>(offset) + size <= static_cast<uint64_t>(e->physical) + e->size)
                return e->user - e->physical + offset;
        }
    }
    uint32_t address = 0;
    if (!HlcDrvMap(record->device, record->overlapped, record->node, region, size, offset, &address)) return 0;
    return address;
}

uint32_t mp_sys_unmap_hw_physical_address(const HlcNodeLink*, uint32_t, uint32_t, uint32_t)
{
    return 0;
}

int32_t PciGetHalcyraList(_PCI_FOUND_DEVICE** list)
{
    if (!list) return 1;
    const DeviceHandle device = DeviceOpen("\\\\.\\HALCYRA");
    if (device == kInvalidDevice) return 1;
    uint8_t records[HLC_BOARD_LIST_BYTES];
    uint32_t count = 0;
    const bool ok = HlcDrvInterfaceCheck(device, nullptr) && HlcDrvBoardList(device, nullptr, records, &count);
    DeviceClose(device);
    if (!ok) return 1;
    if (count > HLC_MAX_BOARD_RECORDS) count = HLC_MAX_BOARD_RECORDS;
    _PCI_FOUND_DEVICE* last = *list;
    while (last && last->next) last = last->next;
    uint32_t added = 0;
    for (uint32_t i = 0; i < count; ++i) {
        auto* node = static_cast<_PCI_FOUND_DEVICE*>(std::malloc(sizeof(_PCI_FOUND_DEVICE)));
        if (!node) break;
        std::memcpy(node, records + HLC_BOARD_RECORD_BYTES * i, HLC_BOARD_RECORD_BYTES);
        node->next = nullptr;
        node->previous = last;
        if (last)
            last->next = node;
        else
            *list = node;
        last = node;
        ++added;
    }
    return added ? 0 : 1;
}

void PciFreeHalcyraList(_PCI_FOUND_DEVICE** list)
{
    if (!list) return;
    _PCI_FOUND_DEVICE* node = *list;
    while (node) {
        _PCI_FOUND_DEVICE* next = node->next;
        std::free(node);
        node = next;
    }
    *list = nullptr;
}
