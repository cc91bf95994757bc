// Display chip register access, the DAC's registers and its three clock PLLs.
//
// Every chip access goes through the six Pyx functions: directly on the mapped register
// window when the node's access mode is 1, else one board driver request waited for
// without limit.  Writes to 0x1C00-0x1FFF are mirrored in the node's display shadow,
// and reads of 0x1C00-0x1DFF and 0x1E80-0x1EBF are answered from it.  No function
// reports a failure; an unknown node reads 0 and ignores writes.
#pragma once

#include "hlc_arch.h"
#include "regmap/display_regs.h"

#include <cstdint>

constexpr uint32_t kDacReferenceKHz = 114544;    // 8 x 14318 kHz
constexpr uint32_t kDacMinimumKHz = 14320;

HLC_API uint32_t PyxReadRegisterByByte(uint32_t node, uint32_t offset);
HLC_API uint32_t PyxReadRegisterByShort(uint32_t node, uint32_t offset);
HLC_API uint32_t PyxReadRegisterByLong(uint32_t node, uint32_t offset);
HLC_API void PyxWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);
HLC_API void PyxWriteRegisterByShort(uint32_t node, uint32_t offset, uint32_t value);
HLC_API void PyxWriteRegisterByLong(uint32_t node, uint32_t offset, uint32_t value);

// Palette (1) and cursor colours (64-67) are 24-bit triples 0xRRGGBB addressed by index;
// the cursor RAM (11) takes a 10-bit index.
HLC_API uint32_t DacReadRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index);
HLC_API uint32_t DacReadRegisterByByte(uint32_t node, uint32_t reg);   // low 8 bits
HLC_API uint32_t DacReadRegisterByLong(uint32_t node, uint32_t reg);
HLC_API void DacWriteRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index, uint32_t value);
HLC_API void DacWriteRegisterByByte(uint32_t node, uint32_t reg, uint32_t value);
HLC_API void DacWriteRegisterByLong(uint32_t node, uint32_t reg, uint32_t value);

HLC_API uint32_t VgaReadRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index);
HLC_API uint32_t VgaReadRegisterByByte(uint32_t node, uint32_t offset);
HLC_API void VgaWriteRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index, uint32_t value);
HLC_API void VgaWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);

// M, N and P for a frequency; returns the frequency reached in kHz.  A request of 0,
// which no doubling brings into the VCO range, is computed for kDacMinimumKHz.
HLC_API uint32_t HlcDacCalculFMNP(uint32_t kHz, uint32_t* m, uint32_t* n, uint32_t* p);
// 0 done, 1 unknown select, 2 the PLL did not lock.  Frequencies below kDacMinimumKHz
// are set as kDacMinimumKHz.
HLC_API uint32_t HlcDacSetClk(uint32_t node, uint32_t select, uint32_t kHz, uint32_t bitsPerPixel, uint32_t busMode);
// 0 locked, 1 unknown select, 2 time-out.
HLC_API uint32_t HlcDacWaitPllLock(uint32_t node, uint32_t select);
HLC_API void HlcDacReadFreqParam(uint32_t node, uint32_t select, uint32_t* m, uint32_t* n, uint32_t* p);
// Returns the lock wait's result (0 locked, 1 unknown select, 2 time-out).
HLC_API uint32_t HlcDacWriteFreqParam(uint32_t node, uint32_t select, uint32_t m, uint32_t n, uint32_t p);
