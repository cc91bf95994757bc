// Host handlers of the system commands: the node's clock, a time stamp into a buffer's
// fields and the memory map of a heap or of the buffer descriptors.  They run on the
// command server task of the addressed thread object, in the handler frame of every
// host-served command (request resource taken, checked, released).
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"

#include <cstdint>

// Opcodes of the system commands.
constexpr uint32_t kOpSysClock = 115;
constexpr uint32_t kOpGetMemoryMap = 210;
constexpr uint32_t kOpSysTimeStamp = 223;

// Memory-map modes.
constexpr uint32_t kMemMapWindowSize = 0;
constexpr uint32_t kMemMapUsedBlocks = 2;
constexpr uint32_t kMemMapDescriptors = 3;
// Fixed values of a descriptor line of mode 3 (W = bands + 2 x fields + this).
constexpr uint32_t kMemMapFixedValues = 17;
// Type of the mode-3 table: 64-bit floating point.
constexpr uint32_t kMemMapTableType = 0x20000040u;

struct heap;

// Writes {first address, last address} of each allocated block of the heap, in address
// order, into out (two words a block), leaving out the block that holds the address
// `skip` (0: none).  Writes at most `room` pairs: the number written, or -1 when the heap
// holds more used blocks than that (nothing is written past the room).  The caller holds
// the memory lock.
int32_t mp_sys_used_block_pairs(const heap* h, uint32_t skip, uint32_t* out, uint32_t room);

// Replies the node's clock since the start (slot 0, a double), one reply slot.
void mp_SysClock(_MSG_BODY_ST* msg);
// Stores the node's clock since the start (slot 2) as the field (key in slot 1) of the
// buffer (id in slot 0); nothing is replied.
void mp_SysTimeStamp(_MSG_BODY_ST* msg);
// Heap index (slot 0) and mode (slot 1); see the modes above.
void mp_GetMemoryMap(_MSG_BODY_ST* msg);

// Puts the three handlers into the opcode table.  While no node serves.
void mp_sys_install();
