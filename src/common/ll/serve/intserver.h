// The interrupt servers of a node (ten tasks of its kernel that wait for the Orlo
// interrupt signals and update the grab and VM event state), the grab channel
// operations, the VM engine's command protocol and set-up, and the window address
// arithmetic of grabs and VM copies.
#pragma once

#include "hlc_arch.h"
#include "regmap/orlo_regs.h"
#include "servinfo.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;
struct _MP_BUF_ST;
struct MP_RESOURCE_ST;

// Orlo registers of the grab events (byte offsets in the register block) that the board's
// register map does not name.
namespace orloev {
constexpr uint32_t kGrabLine = 0x1820;          // grab line interrupt
constexpr uint32_t kGrabCheck = 0x28C0;         // low 26 bits kLostGrab: a grab was lost
constexpr uint32_t kLostGrab = 0xDEAD;
}  // namespace orloev

// Interrupt signals of the servers on the primary Orlo; the display Orlo's are 32 above.
constexpr uint32_t kSignalKvx = 39;
constexpr uint32_t kSignalGrabLine = 43;
constexpr uint32_t kSignalStartOfGrab = 44;
constexpr uint32_t kSignalEndOfGrab = 45;
constexpr uint32_t kSignalVmLine = 46;
constexpr uint32_t kSignalStartOfTransfer = 47;
constexpr uint32_t kSignalEndOfTransfer = 48;
constexpr uint32_t kSignalVm = 49;
constexpr uint32_t kSignalVmCommand = 50;
constexpr uint32_t kSignalDisplayLine = 84;     // display Orlo only
constexpr uint32_t kSignalDisplayOffset = 32;

constexpr int kIntServerPriority = 22;
constexpr uint32_t kIntServerStack = 4096;
constexpr double kVmCommandSeconds = 1.0;      // limit of a VM command's send and completion

// The event state of one Orlo of a node record (orlo 0 primary, 1 display).
SERVINFO_ST* mp_servinfo(_NODE_MAIN_RESOURCE_ST* record, uint32_t orlo);

// Starts the ten interrupt-server tasks of the device's node once (node kernel).
void mpPrvInitInterruptServer(uint32_t device);

// Server tasks (argument: the node record).
void mpVMServer(void* record);
void mpCrServer(void* record);
void mpEotServer(void* record);
void mpSotServer(void* record);
void mpEogServer(void* record);
void mpSogServer(void* record);
void mpGlineServer(void* record);
void mpVlineServer(void* record);
void mpKvxServer(void* record);
void mpDlineServer(void* record);

// Grab channel operations.
void mpPrvGrabServerBody(SERVINFO_ST* state, uint32_t channel);
void mpPrvBeforeToLast(SERVINFO_ST* state, uint32_t channel);
void mpPrvDisableContinuousGrab(SERVINFO_ST* state, uint32_t channel);
void mpPrvFreeCh(SERVINFO_ST* state, uint32_t channel);
void mpPrvStartVm(SERVINFO_ST* state);
void mpPrvUdtLint(SERVINFO_ST* state, uint32_t channel);
int mpPrvTestGrabOverrun(SERVINFO_ST* state, uint32_t which, uint32_t channel);
int mpPrvTestVMOverrun(SERVINFO_ST* state);
void mpPrvDisableContinuousVm(SERVINFO_ST* state);

// VM engine: 0 or -1.
int mpPrvVMConfig(uint32_t node);
// data: two words or null.
int mpPrvVMCommand(MP_RESOURCE_ST* resource, SERVINFO_ST* state, uint32_t command, uint32_t argument,
                   const uint32_t* data);

// Updates run by the servers for the Orlo whose signal fired.
void mpPrvUpdateVM(SERVINFO_ST* state);
void mpPrmUpdateCr(SERVINFO_ST* state);
void mpPrvUpdateEoT(SERVINFO_ST* state);
void mpPrvUpdateGline(SERVINFO_ST* state, uint32_t channel);
void mpPrvUpdateVline(SERVINFO_ST* state);
void mpPrvUpdateDline(SERVINFO_ST* state);
// The second grab-module family's start and end decisions for channels 0 and 1.
void mpPrvUpdateKvx(SERVINFO_ST* state);

// The VM engine's steps.  An Orlo is named by the first words of its event state (node,
// index, register block, shadow area); config and vmClk also take views that
// mpPrvVMConfig makes before the servers have filled the state.
namespace vmengine {
struct VmIdCounter {
    uint32_t value = 0;
    int32_t reserved = -1;     // reserved ids of the node, counted at the first call
};
int sendCommand(SERVINFO_ST* orlo);
int config(uint32_t node, SERVINFO_ST* orlo, SERVINFO_ST* display);
uint32_t nextId(uint32_t node, VmIdCounter* counter);
void vmClk(SERVINFO_ST* orlo, uint32_t code);
void initVM(uint32_t node);
}  // namespace vmengine

// ---- windows ------------------------------------------------------------------------------

// 0, or -1 after logging -9 into the resource (when given).
int mpPrvFrameAddr(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer, WININFO_ST* window, uint32_t frames,
                   uint32_t fields, uint32_t planes, uint32_t packing, uint32_t bandsWanted, uint32_t bits,
                   uint32_t tag, uint32_t decimationMode, uint32_t keep);
int mpPrvTagAddr(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer, const _MP_BUF_ST* tag, WININFO_ST* window,
                 uint32_t flag);
// exponent: in/out burst exponent.  0, or -1 after logging -8 (no exponent of 3 or more
// fits) or -14.
int mpPrvBlength(MP_RESOURCE_ST* resource, const WININFO_ST* window, uint32_t mode, uint32_t bands,
                 const _MP_BUF_ST* buffer, uint32_t kind, int32_t* exponent);
void mpPrvCountMode(uint32_t fieldMode, uint32_t single, int32_t count, int32_t* fieldWord, uint32_t* code);
