// Bit-serial writers of the standard grab module's serial devices: the two DAC8800 trim
// DACs, the ICS1522 line-lock PLL, the DS1020 delay line and the ICD2061A clock
// synthesizer, whose clock, data and strobe pins hang on the bits of one module register
// (the device-programming register, 102).  Every line change is one immediate register
// write through the live shadow; the register is 0 before and after each sequence.
//
// The writers act on the grab module whose register window the caller selected
// (SetToOrlo, SetToExt) and take no lock; callers serialise access to the module.
#pragma once

#include "extshadow.h"
#include "hlc_arch.h"

#include <cstdint>

// ---- line helpers of the ICD2061A (bit 0 clock, bit 1 data), one write each ------------
void set_data();
void clr_data();
void set_clk();
void clr_clk();
// The whole device-programming register to 0, one write.
void mp_dig_rst_devprg();

// VCO range limits of the ICD2061A in Hz; the index I is the position of the last entry not
// above the VCO frequency (14 at 120 MHz and above).
extern const uint32_t limit_vco[14];
uint32_t mpPrvIcd2061Index(uint32_t vco);

// ---- exported writers ------------------------------------------------------------------
// One channel (0-7) of the first (level) or second (reference) DAC8800; other channels
// write nothing.
HLC_API void mp_dig_set_dac1_reg(uint8_t value, int32_t channel);
HLC_API void mp_dig_set_dac2_reg(uint8_t value, int32_t channel);
// One ICS1522 register (0-6; others write nothing), the low 11 bits of the value.
HLC_API void mp_dig_set_ics1522_reg(uint32_t value, int32_t reg);
// The DS1020 delay (8 bits).
HLC_API void mp_dig_set_1020_delay(uint8_t value);
// The ICD2061A program word for register address 0-3 and a frequency in kHz (391 to
// 120000), with bits 15-19 of extra in bits 27-31; 0 when no word qualifies.
HLC_API uint32_t mp_dig_calc_icd2061(uint32_t address, uint32_t kHz, uint32_t extra);
// Sends a program word (for clock registers 0-2 the control word first).  A word of 0 is
// no program word (P and Q out of range) and is not sent.
HLC_API void mp_dig_set_icd2061(uint32_t word);
