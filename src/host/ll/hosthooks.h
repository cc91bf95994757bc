// What the host platform layer needs from the library core, reached through one table of
// functions that the core installs at start-up: the platform view of an open node, the
// ini settings, console messages and host buffers.  Until the core installs its table
// the defaults answer "no node", "no setting", print to stderr and refuse buffers.
#pragma once

#include "hlc_arch.h"
#include "device.h"

#include <cstdint>

// One entry of the shared DMA region table; the table ends with an entry whose physical
// address is 0.
struct _MP_DMA_REGION_ST {
    uint32_t id;        // service buffer id (0 when the service could not register it)
    uint32_t physical;
    uint32_t size;
    uint32_t user;      // host address of the region
};
static_assert(sizeof(_MP_DMA_REGION_ST) == 16, "DMA region entries are 16 bytes");

// The platform fields of a node record that this layer reads.
struct HlcNodeLink {
    uint32_t node = 0;
    DeviceHandle device = kInvalidDevice;          // node driver device
    DeviceOverlapped* overlapped = nullptr;        // node event record
    const _MP_DMA_REGION_ST* dmaRegions = nullptr; // shared DMA region table
    uint32_t primaryOrloRegs = 0;                  // mapped primary Orlo register window, 0 none
    uint32_t boardCache = 0;                       // the node state marks a board cache
};

constexpr uint32_t kSysMaxBands = 16;

struct SysBufferBand {
    void* address;
    uint32_t length;    // bytes
};

// A host buffer as the page locking sees it.
struct SysBufferInfo {
    uint32_t bands;
    SysBufferBand band[kSysMaxBands];
    uint32_t parent;    // parent buffer id, 0 when the buffer has none
};

struct HlcHostHooks {
    HlcNodeLink* (*nodeLink)(uint32_t node);                                  // null: node not open
    int (*iniReadInt)(uint32_t node, const char* key, int32_t* value);       // 0 when the setting exists
    void (*print)(const char* text);                                         // console message
    int (*describeBuffer)(uint32_t system, uint32_t buffer, SysBufferInfo* info);            // 0 ok
    uint32_t (*allocListBuffer)(uint32_t system, uint32_t words, uint32_t lines, uint32_t** address); // id, 0 failed
    void (*freeBuffer)(uint32_t system, uint32_t id);
    void (*controlBuffer)(uint32_t system, uint32_t id, int32_t control, double value);
};

// Installs the table (null members keep their defaults); null restores every default.
void HlcSetHostHooks(const HlcHostHooks* hooks);
const HlcHostHooks& HlcGetHostHooks();

// Formats a console message and hands it to the print hook.
void HlcPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
