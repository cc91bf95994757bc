// Display and cursor exports.
//
// A display is allocated, controlled, inquired and freed in a conversation of phases
// with the display node's command server; the register programming between the phases
// (video mode from a VCF file, keying, byte routing, palette, pan, zoom, overlay) runs on
// the caller's thread.  The hardware cursor lives on the caller's thread entirely: a
// cursor record in host memory, the DAC's cursor registers and cursor RAM.
//
// Threads: any caller's thread.  A cursor record belongs to its caller between
// imCurAlloc and imCurFree; the cursor calls of one display node are not serialised
// against each other (the DAC's address registers are shared), so one thread drives a
// node's cursor.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// The cursor record.
constexpr uint32_t kCursorSide = 64;
constexpr uint32_t kCursorPlaneBytes = kCursorSide * kCursorSide / 8;
struct IM_CURSOR_ST {
    uint32_t mode;          // 0 off, 1-3 the DAC's cursor modes
    uint32_t width;
    uint32_t height;
    uint32_t hotX;
    uint32_t hotY;
    uint32_t colour[4];     // 0xRRGGBB
    uint8_t plane[2][kCursorPlaneBytes];   // 64 rows of 64 bits, leftmost pixel in the high bit
};
static_assert(sizeof(IM_CURSOR_ST) == 1060, "cursor records are 1060 bytes");

// DAC registers and display-chip offsets of the cursor.
constexpr uint32_t kDacCursorControl = 134;
constexpr uint32_t kDacCursorHotX = 178;
constexpr uint32_t kDacCursorHotY = 179;
constexpr uint32_t kChipDacAddress = 15360;
constexpr uint32_t kChipCursorRam = 15371;
constexpr uint32_t kChipCursorPosition = 15372;   // x in bits 0-15, y in 16-31, each + 64
constexpr uint32_t kCursorWideBit = 0x10;          // control: displays wider than 1280

// The display modes of imDispAlloc.
constexpr uint32_t kDispAllocDefault = 0x10000000u;   // keep a running mode equal to the file's
constexpr uint32_t kDispAllocForce = 2;              // set the controller up again

// The display id (also stored through `display`), 0 on failure with the error in the
// last-error record.
HLC_API uint32_t imDispAlloc(uint32_t thread, uint32_t system, uint32_t board, const char* vcf, uint32_t mode,
                             uint32_t* display);
// Applies the controls of a control buffer (fields keyed by control type); type 2 first
// restarts the display at its vertical sync.  0 or the error code.
HLC_API int32_t imDispControl(uint32_t thread, uint32_t display, uint32_t controls, uint32_t type);
// One word of the display state, also stored through `value` when given.
HLC_API int32_t imDispInquire(uint32_t thread, uint32_t display, uint32_t type, int32_t* value);
HLC_API int32_t imDispFree(uint32_t thread, uint32_t display);

// The record through `record` (null when no memory); 0, or -4.
HLC_API int32_t imCurAlloc(uint32_t thread, uint32_t mode, void** record);
HLC_API int32_t imCurFree(uint32_t thread, void* record);
// Builds the record's image planes from width x height pixel bytes (bit 0 plane 0, bit 1
// plane 1).  0; -8 for a size above 64 x 64 (the record keeps its image).
HLC_API int32_t imCurDefine(uint32_t thread, void* record, uint32_t width, uint32_t height, uint32_t hotX,
                            uint32_t hotY, const uint8_t* pixels);
HLC_API int32_t imCurSetColor(uint32_t thread, void* record, uint32_t index, uint32_t red, uint32_t green,
                              uint32_t blue);
// Loads the record (null: the built-in arrow) into the DAC.
HLC_API int32_t imCurSelect(uint32_t thread, const void* record);
HLC_API int32_t imCurEnable(uint32_t thread, int32_t mode);
HLC_API int32_t imCurSetPosition(uint32_t thread, int32_t x, int32_t y);
// The y position; both through the out arguments when given.
HLC_API int32_t imCurGetPosition(uint32_t thread, int32_t* x, int32_t* y);

// The built-in arrow's image.
void im_cur_builtin(IM_CURSOR_ST* record);
