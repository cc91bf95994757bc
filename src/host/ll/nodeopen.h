// Node open: the board found on PCI matched with the ini file, its PCI defaults, the
// node's driver device and attachment, the shared DMA region table, the two Orlo
// register spaces and the board memory windows (InitNewNode); the node state block and
// the node's registration once the processor's state is known (InitRemoteNode).
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "driverreq.h"
#include "regmap/display_regs.h"
#include "regmap/orlo_regs.h"
#include "hosthooks.h"
#include "w32sync.h"

#include <cstddef>
#include <cstdint>

struct _NODE_ST;
struct HwRegCtrl_ST;
struct heap;

// The per-node record: 474 words at fixed word positions, since the record is copied
// word for word between nodes and handed whole to the driver's node-record request.
// Words the library does not name are kept as reserved padding.
struct _NODE_MAIN_RESOURCE_ST {
    int32_t nodeNumber;               // word 0; -5 when the ini file was not found
    int32_t openCount;                // word 1; -1 a record that is not counted
    DeviceHandle device;              // word 2 node driver device
    uint32_t accessMode;              // word 3: 0 direct windows, 1 driver requests
    DeviceOverlapped* nodeEvent;      // word 4 node event record (its fifth word the event)
    CRITICAL_SECTION* section;        // word 5 the node's critical section
    uint32_t boardControl;            // word 6 board control word
    // Orlo resource of the primary Orlo (words 7-229)
    uint32_t primaryShadow;           // word 7 48-byte PCI shadow window
    uint32_t primaryMemorySize;       // word 8
    uint32_t primaryMemory;           // word 9 board memory window
    uint32_t primaryRegs;             // word 10 16 KB register window
    uint32_t primaryTimerTicks;       // word 11 interrupts counted by the timer server
    uint32_t primaryPort;             // word 12 2 KB window (external port)
    uint32_t* primaryIrqMask;         // word 13 interrupt-enable mask word
    uint32_t primaryServer[216];      // words 14-229 interrupt server state; 16 servers started
    // Orlo resource of the display Orlo (words 230-452)
    uint32_t displayShadow;           // word 230
    uint32_t displayMemorySize;       // word 231
    uint32_t displayMemory;           // word 232
    uint32_t displayRegs;             // word 233
    uint32_t displayTimerTicks;       // word 234
    uint32_t displayPort;             // word 235
    uint32_t* displayIrqMask;         // word 236
    uint32_t displayServer[216];      // words 237-452; 239 servers started
    uint32_t chipRegs;                // word 453 display chip register window (16 KB)
    uint32_t chipFrame;               // word 454 display chip frame window (0x210000 bytes)
    void* biosInfo;                   // word 455 BIOS information record once read
    _MP_DMA_REGION_ST* dmaRegions;    // word 456 the shared DMA region table (kept in the list head)
    uint8_t* nodeArea;                // word 457 308-byte node area
    uint8_t* orloState;               // word 458 Orlo state area: shadow blocks, grab and VM state
    HwRegCtrl_ST* hwRegCtrl;          // word 459 the node's register-control record
    uint32_t commRing;                // word 460 first communication ring slot (host address)
    uint32_t doorbellArea;            // word 461 second ring address word
    uint32_t ringHeader;              // word 462 ring header (host address)
    heap* heaps[6];                   // words 463-468 SDRAM heap, display heaps 464-467
    uint32_t displayMemoryWord;       // word 469 display memory in bytes
    _NODE_ST* nodeState;              // word 470 node state block
    int32_t* signalTable;             // word 471 interrupt signal table, 160 x 4 words
    _NODE_MAIN_RESOURCE_ST* next;     // word 472 next record in the node list
    _NODE_MAIN_RESOURCE_ST* previous; // word 473 previous record
};
#define HLC_RECORD_WORD(field, word) \
    static_assert(offsetof(_NODE_MAIN_RESOURCE_ST, field) == (word) * 4, #field " at word " #word)
HLC_RECORD_WORD(nodeNumber, 0);
HLC_RECORD_WORD(openCount, 1);
HLC_RECORD_WORD(device, 2);
HLC_RECORD_WORD(accessMode, 3);
HLC_RECORD_WORD(nodeEvent, 4);
HLC_RECORD_WORD(section, 5);
HLC_RECORD_WORD(boardControl, 6);
HLC_RECORD_WORD(primaryShadow, 7);
HLC_RECORD_WORD(primaryMemorySize, 8);
HLC_RECORD_WORD(primaryMemory, 9);
HLC_RECORD_WORD(primaryRegs, 10);
HLC_RECORD_WORD(primaryPort, 12);
HLC_RECORD_WORD(primaryIrqMask, 13);
HLC_RECORD_WORD(primaryServer, 14);
HLC_RECORD_WORD(displayShadow, 230);
HLC_RECORD_WORD(displayMemorySize, 231);
HLC_RECORD_WORD(displayMemory, 232);
HLC_RECORD_WORD(displayRegs, 233);
HLC_RECORD_WORD(displayPort, 235);
HLC_RECORD_WORD(displayIrqMask, 236);
HLC_RECORD_WORD(displayServer, 237);
HLC_RECORD_WORD(chipRegs, 453);
HLC_RECORD_WORD(chipFrame, 454);
HLC_RECORD_WORD(biosInfo, 455);
HLC_RECORD_WORD(dmaRegions, 456);
HLC_RECORD_WORD(nodeArea, 457);
HLC_RECORD_WORD(orloState, 458);
HLC_RECORD_WORD(hwRegCtrl, 459);
HLC_RECORD_WORD(commRing, 460);
HLC_RECORD_WORD(doorbellArea, 461);
HLC_RECORD_WORD(ringHeader, 462);
HLC_RECORD_WORD(heaps, 463);
HLC_RECORD_WORD(displayMemoryWord, 469);
HLC_RECORD_WORD(nodeState, 470);
HLC_RECORD_WORD(signalTable, 471);
HLC_RECORD_WORD(next, 472);
HLC_RECORD_WORD(previous, 473);
#undef HLC_RECORD_WORD
static_assert(sizeof(_NODE_MAIN_RESOURCE_ST) == HLC_NODE_RECORD_BYTES, "node records are 1896 bytes");

// Copies what node open fills (handles, windows, areas, ring addresses) from one record
// into another; the list links, the node state, the open count and what the core keeps
// per record (heaps, register control, Orlo state, signals, BIOS record) stay.
void HlcCopyPlatformFields(_NODE_MAIN_RESOURCE_ST* to, const _NODE_MAIN_RESOURCE_ST* from);

constexpr uint32_t kNodeAreaBytes = 308;
constexpr uint32_t kNodeStateBytes = 4952;
// Communication counters: 3, 2, 1, 20, 20, 23 and 33 words, then 124 words.
constexpr uint32_t kNodeCounterWords = 3 + 2 + 1 + 20 + 20 + 23 + 33;
constexpr uint32_t kNodeCounterWords2 = 124;

// Bus record of one Orlo in a node state block (20 words).
struct _NODE_ORLO_WINDOWS {
    uint32_t present;       // +0
    uint32_t registers;     // +1 bus (or processor) address of the register window
    uint32_t port;          // +2 of the 2 KB window
    uint32_t memorySize;    // +3 memory window bytes (display Orlo: board memory)
    uint32_t reserved4[4];
    uint32_t base;          // +8 bus base of the Orlo (its top 5 bits are used)
    uint32_t reserved9[11];
};
static_assert(sizeof(_NODE_ORLO_WINDOWS) == 80, "Orlo bus records are 20 words");

// Bus record of the display chip (23 words).
struct _NODE_CHIP_WINDOWS {
    uint32_t present;       // +0
    uint32_t registers;     // +1 bus address of the register window
    uint32_t reserved2;
    uint32_t frameSize;     // +3 frame memory bytes
    uint32_t reserved4[4];
    uint32_t base;          // +8 base word
    uint32_t reserved9[14];
};
static_assert(sizeof(_NODE_CHIP_WINDOWS) == 92, "the chip's bus record is 23 words");

// The node state block: 764 words of node state and the node's own record.  The host's
// own is the core's imNodeSt.
struct _NODE_ST {
    uint32_t driverHandles[3];              // words 0-2 (global block)
    uint32_t dmaMemory[22];                 // words 3-24 the node's DMA memory record
    uint32_t nodeInfo;                      // word 25 start of the node information
    uint32_t boardWord;                     // word 26 board suffix; bits 8-15 PCI device number
    uint32_t product;                       // word 27 board model
    double* timeouts;                       // word 28 time-out table (seconds, global block)
    void* freedBlocks;                      // word 29 (global block)
    uint32_t started;                       // word 30 the board processor runs the shell
    uint32_t cpuFrequency;                  // word 31 Hz, 0 not measured
    _NODE_ORLO_WINDOWS orlo[2];             // words 32-51 primary, 52-71 display
    _NODE_CHIP_WINDOWS chip;                // words 72-94
    uint32_t interruptWord;                 // word 95
    uint32_t ready;                         // word 96 the block is marked ready
    uint32_t bridgePresent;                 // word 97
    _MP_DMA_REGION_ST* dmaRegions;          // word 98
    _PCI_FOUND_DEVICE* boardList;           // word 99
    uint32_t iniWords[20];                  // words 100-119 ini words 16-35 of the node's record:
                                            // DisplayMode, VmBusSpeed, GrabModulePresent and
                                            // SizeOfTmpBufferForHostGrab as read, then the
                                            // four node-number arrays
    uint32_t displayBlock[4];               // words 120-123 mode, flag, flag, memory code
    uint32_t reserved124[4];
    uint32_t displayWidth;                  // word 128
    uint32_t displayHeight;                 // word 129
    uint32_t counters[kNodeCounterWords];   // words 130-231 communication counters
    uint32_t reserved232[20];
    uint32_t digitizerList[3];              // words 252-254 buffer id, bus address, host address
    uint32_t kvxStatus;                     // word 255 second-family status record: word 1 the primary Orlo's
                                            // status block, word 16 the display Orlo's (bank buffer 0 of each)
    uint32_t reserved256[2];
    uint32_t digitizerShared;               // word 258
    uint32_t hostGrabWidth;                 // word 259
    uint32_t reserved260[4];
    uint8_t vmPortList[16];                 // words 264-267 the nodes joined to the VM port, 0-ended
    uint8_t vmNumbers[16];                  // words 268-271 the VM numbers reserved on that port, 0 none
    uint32_t reserved272[5];
    uint32_t keepInterrupts;                // word 277
    uint32_t timerRunning;                  // word 278 the timer server runs the Orlo timer
    int32_t commState;                      // word 279 -1 waiting, 1 running (shell ready)
    uint32_t pendingTimerTicks[2];          // words 280-281 ticks for the timer server: primary, display
    uint32_t boardState;                    // word 282 window address of the processor's own state block, 0 none
    uint32_t bitbltToken;                   // word 283 owner token of the node's display bitblits (holds no semaphore)
    int32_t protectSema;                    // word 284
    int32_t bufferSema;                     // word 285
    int32_t copySema;                       // word 286
    uint32_t shellSemasConsidered;          // word 287
    uint32_t inquiryWord;                   // word 288
    uint32_t moduleType;                    // word 289 external module type
    uint32_t modulePresent;                 // word 290 a grab module (types 1-6) answered
    uint32_t moduleLoaded;                  // word 291 the module was loaded from a camera record
    uint32_t uartArea;                      // word 292 camera-UART area (second family: its bank record)
    uint32_t linkedGrabNode;                // word 293 word holding the node whose module serves this one
    uint32_t orloSelect;                    // word 294 non-zero: the second family loads through the first Orlo
    uint32_t localGrab;                     // word 295 a grab into a display heap runs on this node
    uint32_t hostGrabFirstPath;             // word 296 the first grab path serves host DMA destinations
    uint32_t reserved297[2];
    uint32_t primaryWindow;                 // word 299 bus start of the processor memory window
    uint32_t counters2[kNodeCounterWords2]; // words 300-423 communication counters
    uint8_t savedHeaders[4][64];            // words 424-487 primary, display, chip function 1, bridge
    uint32_t bridgeDwords[16];              // words 488-503 bridge configuration dwords 0x40-0x7C
    uint32_t reserved504[18];
    uint32_t displayWindow;                 // word 522 bus start of the board memory window
    uint32_t reserved523[221];
    uint32_t frameWindow;                   // word 744 bus start of the frame memory window
    uint32_t reserved745[19];
    _NODE_MAIN_RESOURCE_ST own;             // words 764-1237 the node's own record
};
#define HLC_STATE_WORD(field, word) static_assert(offsetof(_NODE_ST, field) == (word) * 4, #field " at word " #word)
HLC_STATE_WORD(dmaMemory, 3);
HLC_STATE_WORD(nodeInfo, 25);
HLC_STATE_WORD(bitbltToken, 283);
HLC_STATE_WORD(boardWord, 26);
HLC_STATE_WORD(product, 27);
HLC_STATE_WORD(timeouts, 28);
HLC_STATE_WORD(freedBlocks, 29);
HLC_STATE_WORD(started, 30);
HLC_STATE_WORD(cpuFrequency, 31);
HLC_STATE_WORD(orlo[0].present, 32);
HLC_STATE_WORD(orlo[0].memorySize, 35);
HLC_STATE_WORD(orlo[0].base, 40);
HLC_STATE_WORD(orlo[1].present, 52);
HLC_STATE_WORD(orlo[1].memorySize, 55);
HLC_STATE_WORD(orlo[1].base, 60);
HLC_STATE_WORD(chip.present, 72);
HLC_STATE_WORD(chip.frameSize, 75);
HLC_STATE_WORD(chip.base, 80);
HLC_STATE_WORD(interruptWord, 95);
HLC_STATE_WORD(ready, 96);
HLC_STATE_WORD(bridgePresent, 97);
HLC_STATE_WORD(dmaRegions, 98);
HLC_STATE_WORD(boardList, 99);
HLC_STATE_WORD(iniWords, 100);
HLC_STATE_WORD(displayBlock, 120);
HLC_STATE_WORD(displayWidth, 128);
HLC_STATE_WORD(displayHeight, 129);
HLC_STATE_WORD(counters, 130);
HLC_STATE_WORD(digitizerList, 252);
HLC_STATE_WORD(kvxStatus, 255);
HLC_STATE_WORD(digitizerShared, 258);
HLC_STATE_WORD(hostGrabWidth, 259);
HLC_STATE_WORD(vmPortList, 264);
HLC_STATE_WORD(vmNumbers, 268);
HLC_STATE_WORD(keepInterrupts, 277);
HLC_STATE_WORD(timerRunning, 278);
HLC_STATE_WORD(commState, 279);
HLC_STATE_WORD(boardState, 282);
HLC_STATE_WORD(protectSema, 284);
HLC_STATE_WORD(bufferSema, 285);
HLC_STATE_WORD(copySema, 286);
HLC_STATE_WORD(shellSemasConsidered, 287);
HLC_STATE_WORD(inquiryWord, 288);
HLC_STATE_WORD(moduleType, 289);
HLC_STATE_WORD(modulePresent, 290);
HLC_STATE_WORD(moduleLoaded, 291);
HLC_STATE_WORD(uartArea, 292);
HLC_STATE_WORD(linkedGrabNode, 293);
HLC_STATE_WORD(orloSelect, 294);
HLC_STATE_WORD(localGrab, 295);
HLC_STATE_WORD(hostGrabFirstPath, 296);
HLC_STATE_WORD(primaryWindow, 299);
HLC_STATE_WORD(counters2, 300);
HLC_STATE_WORD(savedHeaders, 424);
HLC_STATE_WORD(bridgeDwords, 488);
HLC_STATE_WORD(displayWindow, 522);
HLC_STATE_WORD(frameWindow, 744);
HLC_STATE_WORD(own, 764);
HLC_STATE_WORD(own.openCount, 765);
HLC_STATE_WORD(own.previous, 1237);

// The node's VM bus clock in MHz (25 or 33), as the ini file gave it.
inline uint32_t NodeBusClock(const _NODE_ST* state)
{
    return state->iniWords[1];
}
#undef HLC_STATE_WORD
static_assert(sizeof(_NODE_ST) == kNodeStateBytes, "node state blocks are 4952 bytes");

// Status bits of InitNewNode.
constexpr uint32_t NODE_NO_DISPLAY = 0x01;
constexpr uint32_t NODE_NO_PRIMARY = 0x02;
constexpr uint32_t NODE_NO_SERVICE = 0x04;
constexpr uint32_t NODE_BAD_NODE = 0x08;
constexpr uint32_t NODE_OPEN_HERE = 0x10;
constexpr uint32_t NODE_OTHER_PROCESS = 0x20;
constexpr uint32_t NODE_NO_PROCESSOR = 0x40;

// Node number of (system, board); 255 for out-of-range pairs.
uint32_t HlcNodeNumber(uint32_t system, uint32_t board);

uint32_t InitNewNode(uint32_t system, uint32_t board, uint32_t mode, _NODE_MAIN_RESOURCE_ST* record,
                     _PCI_FOUND_DEVICE** device);
_NODE_ST* InitRemoteNode(_NODE_MAIN_RESOURCE_ST* record, uint32_t kind);
// The communication state word (279) of a node state block: for a node whose processor
// keeps its own block in board memory, the word of that block, read through the window;
// else the block's own word.  0 without a block.
int32_t HlcNodeCommState(const _NODE_ST* block);
int InitNodePciInfo(_NODE_MAIN_RESOURCE_ST* record, uint32_t system, uint32_t board, _PCI_FOUND_DEVICE** device);
void InitPrimaryPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);
void InitDisplayPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);
void InitPpbPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function);
// Where the display chip of the board that node open matched for the node takes its PCI
// configuration cycles (the chip's function beside the board's bridge); false when the
// node's board has no display chip or no board was matched for it.
bool HlcNodeChipPci(uint32_t node, uint8_t* bus, uint8_t* device, uint8_t* function);

// The shared DMA region table (null until the first node built it) and its release.
extern _MP_DMA_REGION_ST* HlcDmaRegionTable;
void HlcFreeDmaRegionTable();
// The host's node state block: the core's, or the layer's own while the core has none.
_NODE_ST* HlcHostNodeState();
// Closes what the first node of the process opened (own process, shared event).
void HlcCloseProcessShared();
