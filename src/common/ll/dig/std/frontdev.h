// The devices around the standard module's digitizer, programmed at the end of a load:
// the Bt261 line-lock controller (through registers 106 and 107), the DS1020 delay line,
// the two DAC8800 trim DACs, the 8-bit DIM register (shifted in through DIG_DICTL) and
// the camera description in the live shadow.  Mode 0 writes everything; modes 1 and 2
// only what differs from the live shadow (the DAC loaders also only the requested
// channels).  Sorvik II records are only mirrored into the live shadow.
//
// All act on the module selected in the register-control record; callers serialise.
#pragma once

#include "camrec.h"

#include <cstdint>

// The Bt261 register index of each record slot: indices 0-6 and 8-29 (7 is never written).
constexpr uint32_t kBt261Count = 29;
uint32_t mpPrvBt261Slot(uint32_t index);

void mp_dig_load_bt261(const _MP_CAM_ST_0* cam, uint32_t mode);
void mp_dig_load_ds1020(const _MP_CAM_ST_0* cam, uint32_t mode);
// The change counter grows by 1 after a full load, else by 1 per value sent.
void mp_dig_load_dac1(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode, uint32_t* changes);
void mp_dig_load_dac2(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode, uint32_t* changes);
void mp_dig_load_dimreg(const _MP_CAM_ST_0* cam, uint32_t mode);
// 1 when a DIM register is fitted (DIG_DICTL bit 3 read back with bit 4 clear), else 0.
// The record is not read.
int mp_dig_dim_present(const _MP_CAM_ST_0* cam);
// Shifts an 8-bit value into the DIM register, least significant bit first.
void mp_dig_set_dimreg(uint32_t value);
// Copies the camera description into the live shadow (no hardware write).
void mp_dig_load_descr(const _MP_CAM_ST_0* cam);
// The live-shadow mirror of a Sorvik II record's serial devices; nothing is sent.
void load_serial_dev_2_sh(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode);
