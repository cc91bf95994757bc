// Entry points of the grab-module drivers.  Every digitizer request of the library (camera
// records, digitizer controls and inquiries, grabs, captures, lookup tables, serial access,
// the start- and end-of-grab events and halts) asks which grab-module family the node
// carries and goes to that family's implementation: the standard family (module types 1,
// 2 and 34) or the second family (types 3-6).  A node with any other module type gets
// nothing: each dispatcher then returns the value its comment names.
//
// The family functions are reached only through these dispatchers.  They run on the task
// that serves the request (a command server, an interrupt server or the halt server).
#pragma once

#include "hlc_arch.h"

#include "nodeopen.h"

#include <cstddef>
#include <cstdint>

struct MP_RESOURCE_ST;
struct MP_THREAD_ST;
struct SERVINFO_ST;
struct _MP_BUF_ST;

// One camera-file line: a keyword and its value.  Entry 0 of a list is the camera type
// string ("HALCYRA_GRAB_0" standard family, "HALCYRA_GRAB_1" second family).
struct _DCF_ENTRY {
    char name[32];   // NUL-terminated
    uint32_t value;
};
static_assert(sizeof(_DCF_ENTRY) == 36, "a camera-file entry is 36 bytes");

// Families as ForGrabModule gives them.
constexpr int kGrabModuleNone = 0;
constexpr int kGrabModuleStd = 1;
constexpr int kGrabModuleAsync = 2;

// The family of the node of a request resource or, for an argument below 256, of that node
// number: 1 standard, 2 second family, 0 none.  A node whose module sits on another node
// (device type 2 or 4, or 1 with module type 0) takes the family of the linked node; such
// a node without a usable link counts as standard.
int ForGrabModule(const void* resourceOrNode);
inline int ForGrabModuleOfNode(uint32_t node)
{
    return ForGrabModule(reinterpret_cast<const void*>(static_cast<uintptr_t>(node & 0xFF)));
}

// ---- camera records --------------------------------------------------------------------
// Builds a camera record from `count` entries 36 bytes apart (entry 0 the type string) and,
// when the node's module is present, loads it.  Modes: 0 normal, 2 load even when the node
// is loaded already, 99 an empty record.  Calls mp_sys_alloc_dig(res, -1, -1) first so the
// node's digitizer object exists.  The new camera buffer's id, 0 on failure or without a
// family.
uint32_t mpCamAlloc(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode);
// A new camera buffer holding a copy of `camera` (the last argument is not used); null on
// failure or without a family.  The new buffer has no id yet.
_MP_BUF_ST* mpCamClone(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t n);
// Changes the record by control type (low 16 bits the control, high 16 a selector).
void mpCamControl(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value);
// Writes the inquired value to the 8 bytes at `out`.
void mpCamInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out);
// Both outputs 0 first; on success the id of a new buffer holding the record as camera-file
// entries (entry 0 the type string) and the entry count (200 standard, 336 second family).
void mpCamSave(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount);

// ---- digitizer -------------------------------------------------------------------------
// `digitizer` may be null: the request then acts on the live registers of the node's module.
// Triggered capture; the command -9997 fires.
void mpDigCapture(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, int32_t command);
void mpDigControl(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value);
// The inquiry that reads a string from the camera's serial port into a caller's buffer.
constexpr uint32_t kDigInquireUartString = IM_DIG_UART_READ_STRING;
// Bytes of that string block (the port's longest read and a zero).
constexpr uint32_t kDigUartStringBytes = 256;
// Writes the inquired value to `out` (8 bytes; inquiry 30050 writes a text block there).
void mpDigInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out);
// One grab request (or one phase of a grab split across nodes): 0 or -1 (error logged); 0
// without a family.
int32_t mpDigGrab(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                  int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase);
// Reads the input lookup table into `lut`: band mask bits 0-2 the first LUT's bands, bits
// 3-5 the second's; start and count in entries.
void mpDigLutGet(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                 int32_t bandMask, int32_t start, int32_t count);
// Writes the input lookup table (mode 1: from the camera's own LUT buffer); 0 without a
// family.
int32_t mpDigLutSet(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                    int32_t bandMask, int32_t start, int32_t count, int32_t mode);
// Serial access to the module's chips (operation 0 read, 256, 1024, 2048 writes).  The
// standard family returns 0; a node without a family gets `reg` back.
uint32_t mpDigSerAccess(MP_RESOURCE_ST* res, uint32_t operation, uint32_t channel, uint32_t data, uint32_t reg);
// The device control's serial access (control code 19 in bits 0-7 of the type): the
// operation in bits 8-11 of the type; the value's bit pattern carries the channel in bits
// 16-31 of its low word, the register in bits 0-7 of its low word and the data in its high
// word.  mpDigSerAccess's result.
uint32_t mpDigSerAccessOfDevControl(MP_RESOURCE_ST* res, uint32_t type, double value);

// ---- grab events and halt ----------------------------------------------------------------
// The family rule of the interrupt servers' start- and end-of-grab dispatch (the core's
// mpPrvUpdateSoG / mpPrvUpdateEoG): the family of the node named in a grab path's first word.
int mpPrvGrabFamilyOfNode(uint32_t node);
// Halt of a thread object's grab (mode 1 now, 2 at the end of the grab in flight, 5 as 1
// without signalling the VM servers), by the family of the thread object's node.
void mpPrvHalt(MP_THREAD_ST* thread, int32_t mode);
// Installs the family rule, both families' grab-event handlers and the halt step into the
// core's servers.  Called by the library's wiring while no node serves.
void mpPrvWireGrabModules();

// Node information words (the node state from word 25 on) that the routing reads besides
// the module type, present, loaded and camera-UART words: the device type (state word 27),
// the address of the word that holds the linked grab node's number (state word 293), and
// the second family's Orlo selection (state word 294; non-zero selects the primary Orlo).
constexpr uint32_t kNodeInfoDeviceType = (offsetof(_NODE_ST, product) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoLinkedNode = (offsetof(_NODE_ST, linkedGrabNode) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoOrloSelect = (offsetof(_NODE_ST, orloSelect) - offsetof(_NODE_ST, nodeInfo)) / 4;
