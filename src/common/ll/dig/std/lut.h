// Input lookup tables of the standard grab module: the LUT mode decision for a camera and
// a destination, the table geometry, table building (from the camera's LUT buffer or as a
// ramp) handed to the transfer, the ICS1522 defaults of the new programming path and the
// controls on the LUT fields (types 9-13 and 30005).
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); nothing here takes a lock.
#pragma once

#include "camrec.h"
#include "lutview.h"

#include <cstdint>
#include <vector>

struct _MP_BUF_ST;

// Transfer descriptor of one LUT transfer (23 words, zeroed before use).
struct _MP_LUT_INFO {
    uint32_t lutSelect;     // 0: bit 0 LUT1, bit 1 LUT2
    uint32_t kind;          // 1: 0 wide (two bytes per entry), 1 blue, 2 eight-bit
    uint32_t stride;        // 2: bytes between successive entries of one source band
    uint32_t width;         // 3: channel physical width in bits
    uint32_t count;         // 4: entries
    uint32_t packed;        // 5: packed-colour flag
    uint8_t* copyArea;      // 6: the node's LUT copy area
    uint32_t lut1Page;      // 7
    uint32_t lut1Mask;      // 8: bands 0-2
    uint8_t* lut1Band[3];   // 9-11
    uint32_t lut2Page;      // 12
    uint32_t lut2Mask;      // 13
    uint8_t* lut2Band[3];   // 14-16
    uint32_t s2Page;        // 17: Sorvik II
    uint32_t s2Mask;        // 18: bands 0-3
    uint8_t* s2Band[4];     // 19-22
};
#if defined(__i386__)
static_assert(sizeof(_MP_LUT_INFO) == 23 * 4, "the LUT descriptor is 23 words");
#endif

// Table kinds.
constexpr uint32_t kLutWide = 0;
constexpr uint32_t kLutBlue = 1;
constexpr uint32_t kLutEight = 2;

// LUT memory geometry.
constexpr uint32_t kLutEntries = 8192;
constexpr uint32_t kLutPageEntries = 256;
constexpr uint32_t kLutPages = 32;

// The record's working word that is 0 until its first LUT mode decision.
constexpr uint32_t kLutModeSeen = cam0::LUT_MODE_SEEN;

// Channel bits of the LUT bands: 0x10000/0x20000 LUT1 bands 0 and 1, 0x40000/0x80000 LUT2.
constexpr uint32_t kLut1Chan = 0x30000;
constexpr uint32_t kLut2Chan = 0xC0000;

// Programs the LUTs for a camera: channel bits from the channel mapping (mode 2: of the
// extended channel), the mode decision, then mp_dig_prog_lut.  0, or -1.
int mp_dig_load_lut(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest, int32_t mode);
// Builds the table (camera LUT buffer or ramp) and transfers it; access mode 0 before the
// clock work, 1 deferred, 2 the record's first load.  0, or -1.
int mp_dig_prog_lut(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest, uint32_t chanBits, int32_t accessMode);
// The LUT mode decision for a camera and destination (may be null); 0, or -1 for an
// invalid or mismatched camera LUT buffer.
int mp_dig_get_lut_mode(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest);
// Stores a LUT mode and blue flag in the record with the register changes they need.
void mp_dig_update_mode(_MP_CAM_ST_0* camera, uint32_t mode, uint32_t blue);
// Table geometry of the record's mode for the channel bits; 0, or -1 when the mode has no
// table (a mode other than 0 with the blue bit).
int mp_dig_lut_info(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, uint32_t chanBits);
// ICS1522 defaults of the new programming path into the live shadow and the chip.
void mp_dig_init_ics1522();

// Controls (camera record or null, control type, address of the value, mode 0 set /
// 1 inquire); 0 done or -1 refused.
int mp_dig_lut_mode(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);       // 9
int mp_dig_lut_blue_mode(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 10
int mp_dig_lut1_palette(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);   // 11
int mp_dig_lut2_palette(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);   // 12
int mp_dig_lut_tri_state(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 13
int mp_dig_lut_buf(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);        // 30005
