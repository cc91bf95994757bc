// What the display code needs from the library core: the display view of an open node
// (how its display chip is reached, the display shadow, the display state words, where
// the chip sits on PCI) and the host's node list.  The built-in table answers "no node"
// and an empty node list; the library's wiring (HlcWireLibrary) replaces both members.
//
// Thread contract: as for the tables of hosthooks.h, the table is written only by the
// wiring (at library load and start-up, before any node is opened) and by
// HlcDisplayHookOverride in tests while no node thread runs; no lock guards the reads.  Both members are called on the caller's thread of
// the display functions and on the node's tasks that serve display requests.
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "hosthooks.h"

#include <cstdint>

constexpr uint32_t kPyxShadowFirst = 0x1C00;   // the display shadow mirrors 0x1C00-0x1FFF
constexpr uint32_t kPyxShadowBytes = 0x400;
constexpr uint32_t kDispStateWords = 149 + 103; // board description words up to the TVIDEO_PARAM's end

struct HlcDisplayLink {
    uint32_t accessMode = 0;                  // 1: the chip's register window is mapped and used directly
    uint32_t chipRegs = 0;                    // mapped register window of the display chip
    DeviceHandle device = kInvalidDevice;     // node driver device, for requests when not direct
    DeviceOverlapped* overlapped = nullptr;   // node event record
    uint8_t* shadow = nullptr;                // kPyxShadowBytes, null on boards without one
    int32_t* state = nullptr;                 // board description, kDispStateWords words; null: no display state
    uint32_t isDisplay = 0;                   // the node record marks a display
    uint32_t chipPci = 0;                     // 1 when the three fields below locate the chip's PCI function
    uint8_t chipBus = 0;
    uint8_t chipDevice = 0;
    uint8_t chipFunction = 0;
};

struct HlcDisplayHooks {
    // null: node not open.  The record is the calling thread's own copy, valid until its
    // next call for the same node.
    HlcDisplayLink* (*displayLink)(uint32_t node);
    uint32_t (*nodeList)(uint32_t* nodes, uint32_t capacity); // node numbers of the host's node list; count
};

// Replaces the whole table.  A table with a null member is refused: -1, and the current
// table stays; 0 when installed.
int HlcSetDisplayHooks(const HlcDisplayHooks& hooks);
const HlcDisplayHooks& HlcGetDisplayHooks();
// The built-in table that is in place until the library wires its own.
const HlcDisplayHooks& HlcBuiltinDisplayHooks();
using HlcDisplayHookOverride = HlcHookOverride<HlcDisplayHooks, HlcGetDisplayHooks, HlcSetDisplayHooks>;
