// Buffer banks of the second grab-module family: per Orlo grab path one bank of five
// buffers in board memory (transfer lists, line data, dummy targets) and the start-up
// transfer lists the Orlo runs, kept in the node's KVX_INFO with the four per-channel live
// register copies of the module.  Also the transfer-list primitives the lists are built
// with: terminator fill, list entries and PCI addresses.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct KVX_INFO;
struct MP_RESOURCE_ST;
struct _MP_CAM_ST_1;

// ---- transfer lists -------------------------------------------------------------------------
// One list entry: the value, then the command (0x2000000 | Orlo register address).
struct ARP_ENTRY {
    uint32_t value;
    uint32_t command;
};
static_assert(sizeof(ARP_ENTRY) == 8, "list entries are 8 bytes");

constexpr uint32_t kArpJump = 0x2002008;          // continue at the value (a PCI address)
constexpr uint32_t kArpControl = 0x2002010;       // list control; 0 in a terminator
constexpr uint32_t kArpOrloControl = 0x2002020;   // Orlo control register 0x2020
constexpr uint32_t kArpIntClear = 0x2002028;      // interrupt-clear register 0x2028
constexpr uint32_t kArpDoorbell = 0x2002030;      // interrupt/doorbell register 0x2030
constexpr uint32_t kArpAddressMask = 0x3FFFFFF;   // PCI addresses in list entries

// Fills `bytes` at `address` with terminator entries {0, kArpControl}: the start moved up to
// an 8-byte boundary (the count lowered by 4 per 4-byte step), then (count + 7) / 8 entries.
void clearMem(uint32_t bytes, void* address);
// Stores {value, command} at the cursor and advances it by one entry.
void loadARP(ARP_ENTRY** cursor, uint32_t command, uint32_t value);
// The PCI address of host-mapped memory of the node of the selected register window.
uint32_t convertAddr(const void* address);

// ---- banks --------------------------------------------------------------------------------
// Bank entry types and bank memory attributes.
constexpr uint32_t kKvxPlainType = 8;
constexpr uint32_t kKvxAlignedType = 0x80000008u;
constexpr uint32_t kKvxBank0Location = 0x10000000u;
constexpr uint32_t kKvxBank1Location = 2;
// Offsets of the dummy target in entry 1 and of the second start-up list.
constexpr uint32_t kKvxDummyOffset = 32512;
constexpr uint32_t kKvxSecondListOffset = 98048;


// Builds the node's banks and KVX_INFO for a camera allocation: register copies, bank
// buffers (the old banks are reused when they are whole, else freed and allocated anew),
// the start-up lists and, unless mode is 99 or without a camera, the controller's registers
// in the current copy and the record.  0, or -1 after logging -4 when a bank could not be
// allocated: that bank's buffers are freed (a whole bank stays for the next attempt), the
// node is marked not loaded and the caller fails the camera allocation.  The register
// window of the node must be selected.
int kvxAlloc(MP_RESOURCE_ST* res, _MP_CAM_ST_1* camera, int32_t mode);
// Frees the node's banks and its KVX_INFO (node shut-down).
void mpPrvKvxFree(uint32_t node);

// Clears the largest free block of the board memories 0x40000040, 0x40000050 and
// 0x40000060 of the node.
void heapInit(uint32_t node);
// The largest buffer (bytes) that can be allocated with the attribute on the node: doubles
// from 1024 while allocations succeed (capped, so the size never overflows), then refines
// down to 8-byte steps.  0 when not even 1024 bytes can be had.
uint32_t findSize(uint32_t node, uint32_t attribute);
