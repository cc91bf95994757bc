// The live register shadow of the grab module whose register window the caller selected
// (SetToOrlo, SetToExt): its slots, and immediate writes and reads of single registers.
// Both families reach their module's registers through it; nothing here takes a lock.
#pragma once

#include <cstdint>

// The shadow of the selected external port (null when nothing is selected).
uint8_t* mpPrvExtShadow();
// The 32-bit slot at a byte offset of that shadow (null when nothing is selected).
uint32_t* mpPrvExtSlot(uint32_t offset);
// Clears the written and list flags of a shadow slot and writes it to the module at once.
void mpPrvWriteExtSlot(uint32_t offset);
// Stores a 16-bit value in a shadow slot (the upper half of the value word kept) and writes it.
void mpPrvSetExtReg(uint32_t offset, uint32_t value);
// A module register read from the hardware (both byte lanes), by its slot offset.
uint32_t mpPrvReadExtReg(uint32_t offset);
