// Hardware accessor layer: the only way the library reads or writes a board register,
// port, chip or board memory.  A window address is the 32-bit address that a map request
// of the board driver handed out; it is never dereferenced.  Each access names the window
// and a byte offset in it (a computed address with offset 0 works as well).
#pragma once

#include "hlc_arch.h"

#include <cstdint>

uint8_t HwRead8(uint32_t window, uint32_t offset);
uint16_t HwRead16(uint32_t window, uint32_t offset);
uint32_t HwRead32(uint32_t window, uint32_t offset);
void HwWrite8(uint32_t window, uint32_t offset, uint8_t value);
void HwWrite16(uint32_t window, uint32_t offset, uint16_t value);
void HwWrite32(uint32_t window, uint32_t offset, uint32_t value);

// Block transfers to and from a memory window, as a sequence of 32-bit accesses (and
// single bytes at an unaligned head or tail).
void HwReadBlock(uint32_t window, uint32_t offset, void* destination, uint32_t bytes);
void HwWriteBlock(uint32_t window, uint32_t offset, const void* source, uint32_t bytes);

// True when the address lies in a mapped hardware window.
bool HwIsWindowAddress(uint32_t address);
