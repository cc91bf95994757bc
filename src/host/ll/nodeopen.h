// Node open: the board found on PCI matched with the ini file, its PCI defaults, the
// node's driver device and attachment, the shared DMA region table, the two Orlo
// register spaces and the board memory windows (InitNewNode); the node state block and
// the node's registration once the processor's state is known (InitRemoteNode).
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "driverreq.h"
#include "hosthooks.h"
#include "w32sync.h"

#include <cstddef>
#include <cstdint>

struct _NODE_ST;
struct HwRegCtrl_ST;
struct heap;

// The per-node record; the platform fields come first, the rest belongs to the core.
// The whole record is the buffer of the driver's node-record request.
struct _NODE_MAIN_RESOURCE_ST {
    int32_t nodeNumber;            // 0x000; -5 when the ini file was not found
    int32_t openCount;             // 0x004; -1 remote record
    DeviceHandle device;           // 0x008 node driver device
    uint32_t accessMode;           // 0x00C 0 direct windows, 1 driver requests
    CRITICAL_SECTION* section;     // 0x010 the node's critical section
    uint32_t reserved[2];          // 0x014
    DeviceOverlapped nodeEvent;    // 0x01C node event record (manual-reset event)
    uint32_t primaryRegs;          // 0x030 16 KB register window
    uint32_t primaryShadow;        // 0x034 48-byte PCI shadow
    uint32_t primaryPort;          // 0x038 2 KB window
    uint32_t primaryMemory;        // 0x03C board memory window
    uint32_t primaryMemorySize;    // 0x040
    uint32_t displayRegs;          // 0x044
    uint32_t displayShadow;        // 0x048
    uint32_t displayPort;          // 0x04C
    uint32_t displayMemory;        // 0x050
    uint32_t displayMemorySize;    // 0x054
    uint32_t chipRegs;             // 0x058 display chip register window (16 KB)
    uint32_t chipFrame;            // 0x05C display chip frame window (0x210000 bytes)
    uint32_t boardControl;         // 0x060 board control word
    uint8_t* nodeArea;             // 0x064 308-byte node area
    _MP_DMA_REGION_ST* dmaRegions; // 0x068 shared DMA region table
    _NODE_ST* nodeState;           // 0x06C node state block
    uint32_t displayMemoryWord;    // 0x070
    uint32_t boardWord;            // 0x074
    uint32_t moduleType;           // 0x078 grab-module type
    uint32_t product;              // 0x07C
    uint32_t commRing;             // 0x080 communication ring (host address)
    uint32_t doorbellArea;         // 0x084
    uint32_t initBlock[3];         // 0x088 init-information entries 8, 9, 10
    uint32_t displayState;         // 0x094
    uint32_t core[(0x71C - 0x98) / 4]; // the core's part
    void* biosInfo;                // 0x71C (word 455) BIOS information record once read
    _MP_DMA_REGION_ST* dmaTable;   // 0x720 (word 456) list head: the process's DMA region table
    uint32_t coreBeforeRegCtrl[1]; // 0x724
    uint8_t* orloState;            // 0x728 (word 458) Orlo state area: shadow blocks, grab and VM state
    HwRegCtrl_ST* hwRegCtrl;       // 0x72C (word 459) the node's register-control record
    uint32_t coreAfterRegCtrl[3];  // 0x730
    heap* heaps[6];                // 0x73C (words 463-468) SDRAM heap, display heaps 464-467
    uint32_t coreAfterHeaps[2];    // 0x754
    int32_t* signalTable;          // 0x75C (word 471) interrupt signal table, 160 x 4 words
    _NODE_MAIN_RESOURCE_ST* next;     // 0x760 (word 472) next record in the node list
    _NODE_MAIN_RESOURCE_ST* previous; // 0x764 (word 473) previous record
};
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, biosInfo) == 455 * 4, "BIOS record at word 455");
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, heaps) == 463 * 4, "heaps at words 463-468");
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, next) == 472 * 4, "list links at words 472, 473");
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, orloState) == 458 * 4, "Orlo state area at word 458");
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, hwRegCtrl) == 459 * 4, "register control at word 459");
static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, signalTable) == 471 * 4, "signal table at word 471");
static_assert(sizeof(_NODE_MAIN_RESOURCE_ST) == HLC_NODE_RECORD_BYTES, "node records are 1896 bytes");

constexpr uint32_t kNodeAreaBytes = 308;
constexpr uint32_t kNodeStateBytes = 4952;
constexpr uint32_t kNodeCounterWords = 3 + 2 + 1 + 20 + 20 + 23 + 33 + 124;

// Orlo window descriptor of a node state block.
struct _NODE_ORLO_WINDOWS {
    uint32_t registers;
    uint32_t port;
    uint32_t memory;
    uint32_t memorySize;
};

// The node state block; the host's own is the core's imNodeSt.
struct _NODE_ST {
    double* timeouts;                       // time-out table (seconds)
    _MP_DMA_REGION_ST* dmaRegions;
    _PCI_FOUND_DEVICE* boardList;
    int32_t commState;                      // -1 waiting, 1 running
    int32_t openCount;                      // open (user) counter
    _NODE_MAIN_RESOURCE_ST* next;           // chain of node records
    _NODE_MAIN_RESOURCE_ST* previous;
    uint32_t primaryPresent;
    uint32_t displayPresent;
    uint32_t chipPresent;
    uint32_t bridgePresent;
    _NODE_ORLO_WINDOWS orlo[2];             // primary, display
    uint32_t chipWindows[2];                // registers, frame
    uint32_t cpuFrequency;                  // Hz, 0 not measured
    uint32_t interruptWord;
    uint32_t boardWord;
    uint32_t product;
    uint32_t memorySize[2];
    uint32_t ready;                         // the block is marked ready
    uint32_t started;                       // the processor was started
    uint32_t iniWords[20];                  // ini words 16-35 of the node's record
    uint32_t displayBlock[4];               // mode, flag, flag, memory code
    uint8_t savedHeaders[4][64];            // primary, display, chip function 1, bridge
    uint32_t bridgeDwords[16];              // bridge configuration dwords 0x40-0x7C
    uint32_t counters[kNodeCounterWords];   // communication counters
    uint8_t core[kNodeStateBytes - 4 * 29 - 4 * 20 - 16 - 256 - 64 - 4 * kNodeCounterWords];
};
static_assert(sizeof(_NODE_ST) == kNodeStateBytes, "node state blocks are 4952 bytes");

// Status bits of InitNewNode.
constexpr uint32_t NODE_NO_DISPLAY = 0x01;
constexpr uint32_t NODE_NO_PRIMARY = 0x02;
constexpr uint32_t NODE_NO_SERVICE = 0x04;
constexpr uint32_t NODE_BAD_NODE = 0x08;
constexpr uint32_t NODE_OPEN_HERE = 0x10;
constexpr uint32_t NODE_OTHER_PROCESS = 0x20;
constexpr uint32_t NODE_NO_PROCESSOR = 0x40;

// Register offsets in an Orlo's register window.
constexpr uint32_t kOrloMailbox = 0x0808;
constexpr uint32_t kOrloSectionWord = 0x0810;
constexpr uint32_t kOrloDhDelay = 0x0818;
constexpr uint32_t kOrloControl = 0x2020;
constexpr uint32_t kOrloInterruptClear = 0x2028;
constexpr uint32_t kOrloInterruptSet = 0x2030;
constexpr uint32_t kOrloLock = 0x2040;
constexpr uint32_t kOrloMemControl = 0x2058;
constexpr uint32_t kOrloBusControl = 0x2868;
constexpr uint32_t kOrloStatus = 0x2870;
constexpr uint32_t kOrloAccessTiming = 0x28A0;

// Node number of (system, board); 255 for out-of-range pairs.
uint32_t HlcNodeNumber(uint32_t system, uint32_t board);

uint32_t InitNewNode(uint32_t system, uint32_t board, uint32_t mode, _NODE_MAIN_RESOURCE_ST* record,
                     _PCI_FOUND_DEVICE** device);
_NODE_ST* InitRemoteNode(_NODE_MAIN_RESOURCE_ST* record, uint32_t kind);
int InitNodePciInfo(_NODE_MAIN_RESOURCE_ST* record, uint32_t system, uint32_t board, _PCI_FOUND_DEVICE** device);
void InitPrimaryPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);
void InitDisplayPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);
void InitPpbPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);

// The shared DMA region table (null until the first node built it) and its release.
extern _MP_DMA_REGION_ST* HlcDmaRegionTable;
void HlcFreeDmaRegionTable();
// The host's node state block: the core's, or the layer's own while the core has none.
_NODE_ST* HlcHostNodeState();
// Closes what the first node of the process opened (own process, shared event).
void HlcCloseProcessShared();
