// Predefined objects of a host-served node and the initial state of its Orlo chips.
//
// Predefined objects have fixed ids shared by all nodes of the process: each kind has 16
// slots in PreDefBufAddress, one per node; an object's id is its kind's base plus the
// slot, with the node in bits 16-23 like every id.  They are the system thread object
// (0x40000010 + slot) and two service thread objects (0x400000C0 + slot, 0x400000D0 +
// slot), each with its command server task; a one-line tag buffer per slot (0x400000A0 +
// slot) and one for the display (0x400000B0 + slot); and the display buffers of DispMode,
// whose ids carry the node's slot in their low four bits.  A node whose own processor runs
// the shell makes its predefined objects itself: the host makes none for it.
//
// The Orlo state covers the register shadows, the VM engine, the grab engine and the
// register lists of both Orlos of the node.
//
// Threads: everything here runs on the node's task kernel (its interrupt process thread
// at the runtime start-up, the "DevAlloc" handler later) or, for
// mp_free_predef_buffers, during the node's shut-down.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct _MP_BUF_ST;

// Predefined id bases; the slot (0-15) is added.
constexpr uint32_t kPredefSystemThread = 0x40000010u;
constexpr uint32_t kPredefServiceThreadC = 0x400000C0u;
constexpr uint32_t kPredefServiceThreadD = 0x400000D0u;
constexpr uint32_t kPredefTagBuffer = 0x400000A0u;
constexpr uint32_t kPredefDisplayTag = 0x400000B0u;
constexpr uint32_t kPredefSlots = 16;

// A predefined thread object's id, of any node and any slot.
inline bool mp_is_predefined_thread(uint32_t id)
{
    const uint32_t base = id & ~0x00FF000Fu;
    return base == kPredefSystemThread || base == kPredefServiceThreadC || base == kPredefServiceThreadD;
}
// Table index of a predefined id (node byte and bit 30 cleared), and of a display buffer
// id (bit 29 cleared too).
constexpr uint32_t kPredefIndexMask = 0xBF00FFFFu;
constexpr uint32_t kPredefDisplayIndexMask = 0x9F00FFFFu;
// The tag buffers: 512 one-bit pixels in one line, all set.
constexpr int32_t kPredefTagWidth = 512;
constexpr uint32_t kPredefTagType = 0x40000001u;
constexpr uint32_t kPredefTagBytes = 64;

// One predefined display buffer: its id (low four bits replaced by the node's slot), its
// bands of 8 bits, and the least board memory (display Orlo, bytes) it needs.
struct DispModeRow {
    uint32_t id;
    uint32_t bands;
    uint32_t minimumMemory;
};
constexpr uint32_t kDispModeRows = 6;
extern const DispModeRow DispMode[kDispModeRows];

// The Orlo registers that have shadow slots and how each slot starts.
constexpr uint32_t kShadowInitNoRead = 16;  // the slot keeps 0: the register is not read
constexpr uint32_t kShadowInitGrab = 4;     // flag word bit 0x20000000 (grab list)
constexpr uint32_t kShadowInitVm = 8;       // flag word bit 0x10000000 (VM list)
struct OrloRegisterOffset {
    int32_t offset;     // register byte offset; -1 ends the table
    uint32_t flags;
};
constexpr uint32_t kOrloShadowedRegisters = 88;
// 88 registers, then the entry with offset -1.
extern const OrloRegisterOffset OrloRegisterOffsetTable[kOrloShadowedRegisters + 1];

// The predefined thread objects of the node (node or 0: the first listed node), and on
// the second call, once the node's system thread exists, its display buffers; the display
// heaps and the display tag buffer only when both arguments name the same node.  An object
// or buffer that cannot be made leaves its slot empty and the call goes on.  0 done (or
// nothing to do); -1 only when the node's system thread object could not be made: the
// console names the node and the object, and what this call made is freed again.
int mp_init_predef_buffers(uint32_t nodeOrZero, uint32_t node);
// Gives a predefined buffer a new size or type; -9999 keeps a value.  A width of 800
// takes a pitch of 960.  A descriptor without a node takes this node.
void mp_buf_resize_predef(uint32_t node, _MP_BUF_ST* buffer, int32_t width, int32_t height, int32_t type);
// Empties every predefined slot that holds a descriptor of the node (the descriptors
// themselves are not freed here).  0.
int mp_free_predef_buffers(uint32_t node);
// The one-line host-grab buffers of both Orlos of the device's node.
void mpPrvInitTmpBufferForHostGrab(uint32_t device);

// The initial Orlo state: mp_init_global_shadows, mpPrvVMConfig, mpPrvInitVmState,
// mpPrvInitGrabState, mpPrvInitPimbraState, in this order.
void mp_init_orlo_state(uint32_t node);
void mp_init_global_shadows(uint32_t node);
void mpPrvInitVmState(uint32_t node);
void mpPrvInitGrabState(uint32_t node);
void mpPrvInitPimbraState(uint32_t node);
// The grab and VM register lists of both Orlos (256 entries each), and the processing
// chip's list where the node has its shadow.
void mp_init_arp_space(uint32_t node);

// The display heaps of a node with a display chip (node 0: the running task's node, else
// the first listed node).  0 made, already there or no display chip; -1 when a heap could
// not be made.
int mp_init_display_heaps(uint32_t node);
