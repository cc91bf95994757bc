#include "driverreq.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::atomic<uint32_t> g_waitLimit{10000};

} // namespace

void HlcNodeDeviceName(uint32_t suffix, char* name, uint32_t size)
{
    if (name && size) std::snprintf(name, size, "\\\\.\\HALCYRA%x", suffix);
}

void HlcDriverSetWaitLimit(uint32_t milliseconds)
{
    g_waitLimit = milliseconds;
}

uint32_t HlcDriverWaitLimit()
{
    return g_waitLimit;
}

// The request works on a copy: when it fails, or is cancelled, the caller's buffer still
// holds what the caller put there, and a late completion can only reach the copy, which
// lives until the request has ended.
bool HlcDriverRequest(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t code, void* buffer,
                      uint32_t inSize, uint32_t outSize, uint32_t* returned)
{
    if (device == kInvalidDevice || ((inSize || outSize) && !buffer)) return false;
    std::vector<uint8_t> copy(inSize > outSize ? inSize : outSize);
    if (inSize) std::memcpy(copy.data(), buffer, inSize);

    DeviceOverlapped local;
    DeviceEvent localEvent(true, false);
    DeviceOverlapped* record = overlapped ? overlapped : &local;
    DeviceEvent* savedEvent = record->event;
    if (!record->event) record->event = &localEvent;

    uint32_t bytes = 0;
    bool ok = false;
    const DeviceResult result =
        DeviceIoControl(device, code, copy.data(), inSize, outSize ? copy.data() : nullptr, outSize, &bytes, record);
    if (result == kDeviceDone) {
        ok = true;
    } else if (result == kDevicePending) {
        if (record->event->wait(g_waitLimit)) {
            ok = DeviceGetOverlappedResult(device, record, &bytes, false);
        } else {
            DeviceCancelIo(device, record);
            DeviceGetOverlappedResult(device, record, &bytes, true);
            ok = false;
        }
    }
    record->event = savedEvent;
    if (!ok) return false;
    if (bytes > outSize) bytes = outSize;
    if (bytes) std::memcpy(buffer, copy.data(), bytes);
    if (returned) *returned = bytes;
    return true;
}

bool HlcDrvInterfaceCheck(DeviceHandle device, DeviceOverlapped* overlapped)
{
    uint32_t word = HLC_INTERFACE_MAGIC;
    uint32_t bytes = 0;
    return HlcDriverRequest(device, overlapped, HLC_DRV_INTERFACE_CHECK, &word, 4, 4, &bytes) && bytes == 4 &&
           word == HLC_INTERFACE_MAGIC;
}

bool HlcDrvAttach(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t processHandle, uint32_t processId,
                  uint32_t node, int32_t* reply)
{
    HLC_ATTACH_REQ request = {processHandle, processId, node, 0};
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_ATTACH, &request, sizeof request, sizeof request)) return false;
    if (reply) *reply = request.reply;
    return true;
}

bool HlcDrvCancelInterruptWait(DeviceHandle device, DeviceOverlapped* overlapped, const HLC_WAIT_BUFFER* current)
{
    uint32_t words[2] = {current ? current->type : 0u, current ? current->count : 0u};
    return HlcDriverRequest(device, overlapped, HLC_DRV_CANCEL_WAIT, words, sizeof words, 0);
}

bool HlcDrvMap(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t region, uint32_t size,
               uint32_t offset, uint32_t* address)
{
    HLC_MAP_REQ request = {0, node, region, size, offset};
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_MAP, &request, sizeof request, sizeof request)) return false;
    if (address) *address = request.address;
    return true;
}

bool HlcDrvNodeRecord(DeviceHandle device, DeviceOverlapped* overlapped, void* record)
{
    return HlcDriverRequest(device, overlapped, HLC_DRV_NODE_RECORD, record, HLC_NODE_RECORD_BYTES,
                            HLC_NODE_RECORD_BYTES);
}

namespace {
bool Word(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t code, uint32_t argument, uint32_t* answer,
          bool withAnswer)
{
    uint32_t word = argument;
    if (!HlcDriverRequest(device, overlapped, code, &word, 4, withAnswer ? 4 : 0)) return false;
    if (answer && withAnswer) *answer = word;
    return true;
}
} // namespace

bool HlcDrvSemaCheck(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal, uint32_t* answer)
{
    return Word(device, overlapped, HLC_DRV_SEMA_CHECK, signal, answer, true);
}

bool HlcDrvSemaReset(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal, uint32_t* answer)
{
    return Word(device, overlapped, HLC_DRV_SEMA_RESET, signal, answer, true);
}

bool HlcDrvSemaSignal(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal)
{
    return Word(device, overlapped, HLC_DRV_SEMA_SIGNAL, signal, nullptr, false);
}

DeviceResult HlcDrvPendInterruptWait(DeviceHandle device, DeviceOverlapped* overlapped, HLC_WAIT_BUFFER* buffer)
{
    uint32_t bytes = 0;
    return DeviceIoControl(device, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, sizeof *buffer, &bytes, overlapped);
}

bool HlcDrvEnableSource(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t source, uint32_t enable)
{
    HLC_SOURCE_REQ request = {source, enable};
    return HlcDriverRequest(device, overlapped, HLC_DRV_SOURCE_ENABLE, &request, sizeof request, sizeof request);
}

bool HlcDrvNodeSetAdd(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t* answer)
{
    return Word(device, overlapped, HLC_DRV_NODESET_ADD, node, answer, true);
}

bool HlcDrvNodeSetRemove(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t* answer)
{
    return Word(device, overlapped, HLC_DRV_NODESET_REMOVE, node, answer, true);
}

bool HlcDrvBoardList(DeviceHandle device, DeviceOverlapped* overlapped, uint8_t* records, uint32_t* count)
{
    if (!records) return false;
    std::memset(records, 0, HLC_BOARD_LIST_BYTES);
    uint32_t bytes = 0;
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_BOARD_LIST, records, HLC_BOARD_LIST_BYTES, HLC_BOARD_LIST_BYTES,
                          &bytes))
        return false;
    if (count) *count = bytes / HLC_BOARD_RECORD_BYTES;
    return true;
}

bool HlcDrvChipWrite32(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint32_t value)
{
    HLC_CHIP_REG32 request = {offset / 4, value};
    return HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_WRITE32, &request, sizeof request, 0);
}

bool HlcDrvChipWrite16(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint16_t value)
{
    HLC_CHIP_REG16 request = {offset / 2, value};
    return HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_WRITE16, &request, sizeof request, 0);
}

bool HlcDrvChipWrite8(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint8_t value)
{
    HLC_CHIP_REG8 request = {offset, value};
    return HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_WRITE8, &request, sizeof request, 0);
}

bool HlcDrvChipRead32(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint32_t* value)
{
    HLC_CHIP_REG32 request = {offset / 4, 0};
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_READ32, &request, sizeof request, sizeof request))
        return false;
    if (value) *value = request.value;
    return true;
}

bool HlcDrvChipRead16(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint16_t* value)
{
    HLC_CHIP_REG16 request = {offset / 2, 0};
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_READ16, &request, sizeof request, sizeof request))
        return false;
    if (value) *value = request.value;
    return true;
}

bool HlcDrvChipRead8(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint8_t* value)
{
    HLC_CHIP_REG8 request = {offset, 0};
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_CHIP_READ8, &request, sizeof request, sizeof request))
        return false;
    if (value) *value = request.value;
    return true;
}

bool HlcDrvDisplayKey(DeviceHandle device, DeviceOverlapped* overlapped, HLC_DISPLAY_KEY_REQ* request)
{
    if (!request) return false;
    HLC_DISPLAY_KEY_REQ copy = *request;
    if (!HlcDriverRequest(device, overlapped, HLC_DRV_DISPLAY_KEY, &copy, sizeof copy, sizeof copy)) return false;
    *request = copy;
    return true;
}
