// Register access through shadows: every Orlo, processing-chip and external register has
// an 8-byte shadow slot {value, flags} in host memory.  A driver changes the shadow and
// asks this layer to put it into the hardware; depending on the flags the value goes to
// the register at once or into the register lists that the Orlo's list engines run.
//
// Callers select first (SetToOrlo, then SetToExt for external registers), change
// shadows, call the write functions and release the protect lock at the end.
#pragma once

#include "hlc_arch.h"
#include "regmap/orlo_regs.h"

#include <cstddef>
#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

// Shadow slot flag bits.
constexpr uint32_t kShadowWritten = 0x80000000u;   // in the hardware or in a list
constexpr uint32_t kShadowListMode = 0x40000000u;  // append to lists instead of writing
constexpr uint32_t kShadowGrabList = 0x20000000u;
constexpr uint32_t kShadowVmList = 0x10000000u;
constexpr uint32_t kShadowPimbraList = 0x08000000u;

// List selectors of CreateArp and SetARPListPtr.
constexpr uint32_t kArpGrab = 0x20000000u;
constexpr uint32_t kArpVm = 0x10000000u;
constexpr uint32_t kArpPimbra = 0x08000000u;

constexpr uint32_t kOrloShadowBytes = 0x4000;
constexpr uint32_t kExtShadowBytes = 0x10000;
constexpr uint32_t kExtListBase = 0x80000;         // list address of external register lanes
constexpr uint32_t kArpOverflowMark = 0xDEADBEEFu;

// Offsets of the shadow blocks in a node's Orlo state area.
constexpr uint32_t kStatePrimaryShadow = 0;
constexpr uint32_t kStateDisplayShadow = 0x4000;
constexpr uint32_t kStateExtShadow = 0xC800;
constexpr uint32_t kStateFurther = 0x1C800;
constexpr uint32_t kOrloStateBytes = 166912;

// A register list: a ring of {value, register address} entries whose last entry links
// back to the start.
struct ARPInfo_ST {
    uint32_t start;    // first entry
    uint32_t end;      // the position the writer may not reach
    uint32_t current;  // next entry to write
    uint32_t count;    // entries, the link entry included
    uint32_t mark;     // kArpOverflowMark after an overflow
};
static_assert(sizeof(ARPInfo_ST) == 20, "list descriptors are five words");

// The register-control record of one node.
struct HwRegCtrl_ST {
    uint32_t primaryShadow;        // 0
    uint32_t displayShadow;        // 1
    uint32_t reserved2;
    uint32_t pimbraShadow;         // 3
    uint32_t reserved4;
    uint32_t extShadow;            // 5
    uint32_t reserved6;
    uint32_t furtherShadow;        // 7
    uint32_t primaryRegs;          // 8
    uint32_t displayRegs;          // 9
    uint32_t reserved10;
    uint32_t pimbraValue;          // 11
    uint32_t reserved12;
    uint32_t extPort;              // 13
    uint32_t reserved14;
    uint32_t nodeWord;             // 15
    ARPInfo_ST grabList[2];        // 16-25 primary, display
    uint32_t reserved26[5];
    ARPInfo_ST vmList[2];          // 31-40 primary, display
    uint32_t reserved41[5];
    ARPInfo_ST pimbraList;         // 46-50
    uint32_t reserved51[10];
    uint32_t node;                 // 61 selected node
    uint32_t orlo;                 // 62 selected Orlo: 0 primary, 1 display
    uint32_t shadow;               // 63 current shadow block
    uint32_t regs;                 // 64 current register base
    ARPInfo_ST* grab;              // 65 current grab list
    ARPInfo_ST* vm;                // 66 current VM list
    uint32_t pimbraSelection;      // 67
    uint32_t pimbraCurrentShadow;  // 68
    uint32_t pimbraCopy;           // 69
    ARPInfo_ST* pimbraListPtr;     // 70
    uint32_t extNode;              // 71
    uint32_t extOrlo;              // 72
    uint32_t extCurrentShadow;     // 73
    uint32_t extCurrentPort;       // 74
};
static_assert(sizeof(HwRegCtrl_ST) == 75 * 4, "register-control records are 75 words");
static_assert(offsetof(HwRegCtrl_ST, grabList) == 16 * 4 && offsetof(HwRegCtrl_ST, vmList) == 31 * 4 &&
                  offsetof(HwRegCtrl_ST, pimbraList) == 46 * 4 && offsetof(HwRegCtrl_ST, node) == 61 * 4 &&
                  offsetof(HwRegCtrl_ST, extCurrentPort) == 74 * 4,
              "register-control words at their positions");

// The current register-control record (the static one before any node exists).
extern HwRegCtrl_ST* HwRegCtrl;
// Owner token of the Orlo protect lock: the address of a word holding the owner's task
// semaphore; 0 when free.
extern uint32_t* CurrentProtectSemaId;

// Makes the node's register-control record current and fills it: the given record, or
// the node record's own (made when it has none), or the static record without a node.
void SetHwRegCtrlPtr(_NODE_MAIN_RESOURCE_ST* record, HwRegCtrl_ST* control);
// Frees the register lists of the node record's register-control record, and that record
// when the node record made it for itself.
void FreeHwRegCtrl(_NODE_MAIN_RESOURCE_ST* record);

// Orlo 0 primary, 1 display, 2 (only with node 0), 255 none; token 0: no lock.
HLC_API void SetToOrlo(uint32_t node, uint32_t orlo, uint32_t* token);
HLC_API void ReleaseAccessOrlo();
HLC_API int WhichOrlo();
HLC_API void SetToPimbra(uint32_t selection);
HLC_API void SetToExt(uint32_t node);

HLC_API void SetShInHw(uint32_t* slot);
HLC_API void SetExtShInHw(uint32_t* slot);
// address: external port base + the register's shadow offset.
HLC_API uint32_t ReadVExtRegHW(uint32_t address);

void WrVpctrlInHW();
void WrVstatusInHW();
void WrVtctrlInHW();
void WrVarpctrlInHW();
void WrHintclrInHW();
void WrGrabctrlInHW();
void WrGstatusInHW();
void WrGarpctrlInHW();

// Lists of the primary Orlo come from the node's SDRAM heap, those of the display Orlo from
// its display heap at 4 MB, other lists (or without such a heap) from the process heap.
void CreateArp(uint32_t list, uint32_t entries);
void SetARPListPtr(uint32_t memory, uint32_t entries, uint32_t list);
// The bus address at which the engines follow the list (its start; for a list in process
// memory its host address), and the host address of a bus address inside the list.
uint32_t ArpListBus(const ARPInfo_ST* list);
uint32_t ArpListHost(const ARPInfo_ST* list, uint32_t address);
int checkARPPtrs(ARPInfo_ST* list);
int testOF(ARPInfo_ST* list);
