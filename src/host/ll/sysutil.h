// Host CPU identification and clock, the board cache flush, and the block primitives:
// byte-order swap, 2-D copy (optionally swapping) and 2-D fill.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// 1 when the CPUID instruction exists (bit 21 of the flags register can be toggled).
uint32_t SysCpuIdSupport();
// Low 16 bits of CPUID leaf 1 EAX (stepping, model, family); 0 without leaf 1.
uint32_t SysCpuIdExt();
// CPUID leaf 1 EDX feature bits; 0 without leaf 1.
uint32_t SysCpuFeatures();
// Time-stamp counter rate in Hz measured over a fixed busy loop; 0 without the counter.
// Rates beyond 32 bits are reported as 0xFFFFFFFF.
uint32_t SysCpuFreq();

// Flushes the board cache of a node that has one: 0 done or nothing to flush, 1 when
// the flush bit did not clear within 100,000 polls (reported on the console).
int mp_util_cache_flush(uint32_t node);

// Reverses the byte order of each 8-byte unit of the buffer in place, for lengths of 4
// bytes or more.  The unit count is the length rounded up to a multiple of 8: the buffer
// must reach that far.
void im_doSwapEndians(void* buffer, uint32_t bytes);

// Copies lines of bytesPerLine bytes, advancing source and destination by their pitches.
// With swap each whole 8-byte unit is byte-reversed and the bytes after the last whole
// unit are copied as they are.  A side that lies in a mapped board memory window is read
// or written line by line through the hardware accessor; host memory is copied directly.
void im_doLoadSwapStore(const void* source, void* destination, uint32_t bytesPerLine, uint32_t lines,
                        int32_t sourcePitch, int32_t destinationPitch, int swap);

// Fills lines of pixels with a value.  bytesPerPixel 0 means 1-bit pixels (a line of
// (pixels + 7) / 8 bytes, each byte the value's low 8 bits); 1, 2 and 4 replicate the
// value's low 8, 16 or 32 bits; 3 writes the value's three low bytes per pixel; 8 writes
// the double itself.  Exactly the line's pixels are written; other sizes do nothing.  A
// destination in a mapped board memory window is written through the hardware accessor.
void im_doMemset(void* destination, uint32_t pixelsPerLine, uint32_t lines, int32_t pitch, double value,
                 uint32_t bytesPerPixel);
