// Board driver requests: codes, byte images and one helper per request.  The driver is
// opened as "\\.\HALCYRA" (board list) or "\\.\HALCYRA" plus the lower-case hexadecimal
// board suffix (one node).  Each request is buffered: one buffer carries the input and
// receives the output.  Every helper returns true only when the driver completed the
// request; on failure the caller's outputs are left as they were.
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "regmap/driver_requests.h"

#include <cstdint>

struct HLC_ATTACH_REQ {
    uint32_t processHandle;
    uint32_t processId;
    uint32_t node;
    int32_t reply;      // < 0 refused, > 0 another process holds the node
};
static_assert(sizeof(HLC_ATTACH_REQ) == 16, "attach request is 16 bytes");

struct HLC_MAP_REQ {
    uint32_t address;   // out: mapped address, 0 = not mapped
    uint32_t node;
    uint32_t region;
    uint32_t size;
    uint32_t offset;
};
static_assert(sizeof(HLC_MAP_REQ) == 20, "map request is 20 bytes");

// Buffer of the pended interrupt-word wait (its first 8 bytes are the input).
struct HLC_WAIT_BUFFER {
    uint32_t type;      // source number of the node's first source list
    uint32_t count;
    uint32_t words[HLC_WAIT_WORDS];
};
static_assert(sizeof(HLC_WAIT_BUFFER) == 520, "interrupt wait buffer is 520 bytes");

struct HLC_SOURCE_REQ {
    uint32_t source;
    uint32_t enable;
};
static_assert(sizeof(HLC_SOURCE_REQ) == 8, "source request is 8 bytes");

#pragma pack(push, 1)
struct HLC_CHIP_REG32 {
    uint32_t index;     // byte offset / 4
    uint32_t value;
};
struct HLC_CHIP_REG16 {
    uint32_t index;     // byte offset / 2
    uint16_t value;
};
struct HLC_CHIP_REG8 {
    uint32_t index;     // byte offset
    uint8_t value;
};

// One record of the board list.  The driver leaves the links 0; the library chains the
// records it copies through them.
struct _PCI_FOUND_DEVICE {
    uint8_t slot;           // 0: slot number
    uint8_t bus;            // 1: bus of the board's PCI entry
    uint8_t device;         // 2: device number of the board's PCI entry
    uint8_t functions;      // 3: bit 0 primary Orlo, 1 display Orlo, 2 bridge, 3 display chip function 1
    uint8_t kind;           // 4: 4 primary Orlo board, 8 display Orlo board
    uint8_t family;         // 5
    uint8_t moduleType;     // 6: grab-module type
    uint8_t secondKind;     // 7: 8 when a display Orlo stands beside the primary one
    uint8_t chipDevice;     // 8: 1 when the display chip's function 1 is present
    uint8_t secondaryBus;   // 9: bus behind the board's bridge
    uint8_t bridgeFunction; // 10
    _PCI_FOUND_DEVICE* next;     // 11
    _PCI_FOUND_DEVICE* previous; // 15
};
#pragma pack(pop)
static_assert(sizeof(HLC_CHIP_REG32) == 8 && sizeof(HLC_CHIP_REG16) == 6 && sizeof(HLC_CHIP_REG8) == 5,
              "display-chip register requests are 8, 6 and 5 bytes");
static_assert(sizeof(_PCI_FOUND_DEVICE) == 19, "board records are 19 bytes");

struct HLC_DISPLAY_KEY_REQ {
    uint32_t key;
    uint32_t mask;
    uint32_t mode;
};
static_assert(sizeof(HLC_DISPLAY_KEY_REQ) == 12, "display key request is 12 bytes");

// Suffix of the node device: byte 2 × 256 + byte 4 of the board record.
inline uint32_t HlcBoardSuffix(const _PCI_FOUND_DEVICE& record)
{
    return static_cast<uint32_t>(record.device) * 256u + record.kind;
}
// "\\.\HALCYRA" plus the suffix in lower-case hexadecimal; name must hold 24 characters.
void HlcNodeDeviceName(uint32_t suffix, char* name, uint32_t size);

// Sends one request and waits for it on the completion record (or a private one when
// overlapped is null), at most the driver wait limit.  A wait that runs out cancels the
// request before returning.  The output reaches buffer only on success.
bool HlcDriverRequest(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t code, void* buffer,
                      uint32_t inSize, uint32_t outSize, uint32_t* returned = nullptr);
void HlcDriverSetWaitLimit(uint32_t milliseconds);
uint32_t HlcDriverWaitLimit();

bool HlcDrvInterfaceCheck(DeviceHandle device, DeviceOverlapped* overlapped);
bool HlcDrvAttach(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t processHandle, uint32_t processId,
                  uint32_t node, int32_t* reply);
bool HlcDrvCancelInterruptWait(DeviceHandle device, DeviceOverlapped* overlapped, const HLC_WAIT_BUFFER* current);
bool HlcDrvMap(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t region, uint32_t size,
               uint32_t offset, uint32_t* address);
bool HlcDrvNodeRecord(DeviceHandle device, DeviceOverlapped* overlapped, void* record);
bool HlcDrvSemaCheck(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal, uint32_t* answer);
bool HlcDrvSemaReset(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal, uint32_t* answer);
bool HlcDrvSemaSignal(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t signal);
// Pends the interrupt-word wait on buffer; the caller owns the completion and must keep
// buffer alive until it completes or is cancelled.
DeviceResult HlcDrvPendInterruptWait(DeviceHandle device, DeviceOverlapped* overlapped, HLC_WAIT_BUFFER* buffer);
bool HlcDrvEnableSource(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t source, uint32_t enable);
bool HlcDrvNodeSetAdd(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t* answer);
bool HlcDrvNodeSetRemove(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t node, uint32_t* answer);
// records must hold HLC_BOARD_LIST_BYTES; count receives bytes returned / 19.
bool HlcDrvBoardList(DeviceHandle device, DeviceOverlapped* overlapped, uint8_t* records, uint32_t* count);
// Display-chip registers by byte offset (the request carries offset / width).
bool HlcDrvChipWrite32(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint32_t value);
bool HlcDrvChipWrite16(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint16_t value);
bool HlcDrvChipWrite8(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint8_t value);
bool HlcDrvChipRead32(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint32_t* value);
bool HlcDrvChipRead16(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint16_t* value);
bool HlcDrvChipRead8(DeviceHandle device, DeviceOverlapped* overlapped, uint32_t offset, uint8_t* value);
bool HlcDrvDisplayKey(DeviceHandle device, DeviceOverlapped* overlapped, HLC_DISPLAY_KEY_REQ* request);
