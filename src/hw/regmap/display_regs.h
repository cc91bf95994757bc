// Register map of the display chip: byte offsets in its 16 KB register window, the DAC's
// register numbers and the clock PLLs' selects.  The library and the simulated chip both
// include this file.
#pragma once

#include <cstdint>

// Window sizes (region 1 of a map request: offset 0 the registers, 1 the frame memory).
constexpr uint32_t kChipRegisterSize = 0x4000;
constexpr uint32_t kChipFrameSize = 0x210000;       // frame memory and the expansion ROM behind it
constexpr uint32_t kChipRomOffset = 0x200000;       // the ROM shows here in the frame window
constexpr uint32_t kChipRomSize = 0x10000;
constexpr uint16_t kChipRomSignature = 0xAA55;      // first word of the ROM
constexpr uint32_t kChipRomInfoPointer = 0x7FFC;    // 16-bit offset of the board information record

// Chip offsets.
enum : uint32_t {
    PYX_DAC_BASE = 0x3C00,        // DAC direct register r at PYX_DAC_BASE + r
    PYX_DAC_INDEX = 0x3C00,
    PYX_DAC_DATA = 0x3C0A,
    PYX_STATUS = 0x1E14,          // bit 3: vertical retrace
    VGA_ATTRIBUTE = 0x1FC0,
    VGA_ATTRIBUTE_DATA = 0x1FC1,
    VGA_MISC_WRITE = 0x1FC2,
    VGA_DAC_STATE = 0x1FC7,
    VGA_SEQUENCER = 0x1FC4,
    VGA_FEATURE_READ = 0x1FCA,
    VGA_MISC_READ = 0x1FCC,
    VGA_GRAPHICS = 0x1FCE,
    VGA_CRTC_MONO = 0x1FB4,
    VGA_CRTC = 0x1FD4,
    VGA_STATUS1_MONO = 0x1FBA,
    VGA_STATUS1 = 0x1FDA,
    VGA_CRTC_EXT = 0x1FDE,
};

constexpr uint32_t PYX_STATUS_RETRACE = 0x08;

// DAC register numbers (0-127 direct, 128-255 indexed by number & 127).
enum : uint32_t {
    DAC_PALETTE_WRITE = 0,
    DAC_PALETTE_DATA = 1,
    DAC_PIXEL_MASK = 2,
    DAC_PALETTE_READ = 3,
    DAC_COLOUR_WRITE = 4,
    DAC_COLOUR_DATA = 5,
    DAC_COLOUR_READ = 7,
    DAC_INDEXED_DATA = 10,        // direct register behind PYX_DAC_DATA
    DAC_CURSOR_RAM = 11,
    DAC_CURSOR_COLOUR_FIRST = 64,
    DAC_CURSOR_COLOUR_LAST = 67,
    DAC_INDEXED = 0x80,
    DAC_CURSOR_CONTROL = 0x86,    // indexed register 6: cursor RAM address bits 8-9 in bits 2-3
    DAC_PLL_ADDRESS = 0xAC,
    DAC_PIXEL_PLL_DATA = 0xAD,
    DAC_MEMORY_PLL_DATA = 0xAE,
    DAC_LOOP_PLL_DATA = 0xAF,
};

// PLL selects.
enum : uint32_t {
    PLL_PIXEL = 0xFC,
    PLL_MEMORY = 0xF3,
    PLL_LOOP = 0xCF,
};
constexpr uint32_t PLL_STATUS_LOCKED = 0x40;   // bit 6 of a PLL's status sub-address
