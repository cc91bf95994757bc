// Host handlers of the display commands: allocation in four phases (display object,
// parameter store, video path stopped, video path restarted), control in five phases,
// free and inquiry.  The register programming of a display mode, the palette, the keying
// and the zoomed timing is done by the caller's thread between the phases; these handlers
// keep the display objects and the node's display state and drive the display Orlo.
//
// Each runs on the command server task of the addressed thread object, in the handler
// frame of every host-served command (request resource taken, checked, released).
#pragma once

#include "im_msgio.h"

#include <cstdint>

constexpr uint32_t kOpDispAlloc = 60;
constexpr uint32_t kOpDispControl = 61;
constexpr uint32_t kOpDispFree = 62;
constexpr uint32_t kOpDispInquire = 63;

// Phase 0's board parameter with this bit asks for no display check.
constexpr uint32_t kDispAllocNoCheck = 0x80000000u;
// The display command block: bytes, buffer type.
constexpr uint32_t kDispBlockBytes = 3188;
constexpr uint32_t kDispBlockType = 0x10000008u;
// The stored video parameters: bytes.
constexpr uint32_t kDispStoreBytes = 432;
// Node clock the restart of the video path waits after its stop, seconds.
constexpr double kDispRestartDelay = 0.03;

void mp_DispAlloc(_MSG_BODY_ST* msg);
void mp_DispControl(_MSG_BODY_ST* msg);
void mp_DispFree(_MSG_BODY_ST* msg);
void mp_DispInquire(_MSG_BODY_ST* msg);

// Puts the four handlers into the opcode table (while no node serves).
void mp_disp_install();
