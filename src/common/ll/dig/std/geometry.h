// Image geometry of a standard-family camera (width with rescaling of the horizontal
// timing, height, bits per pixel, buffer type, band count, scan mode), the user outputs
// and inputs of the grab module with their electrical formats, and the line-lock PLL range
// update that a pixel-clock change needs.
//
// Every handler takes (camera record or null, control type, address of the value, mode
// 0 set / 1 inquire; 2 and 3 the Sorvik II second path where a handler says so) and
// returns 0 done or -1 refused.  With a camera record a set changes the record only;
// without one it changes the live register shadow of the selected module and writes the
// register at once.  A width or height set that is refused leaves the record as it was.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); nothing here takes a lock.
#pragma once

#include <cstdint>

struct _MP_CAM_ST_0;

// Highest pixel clock the module samples at, Hz.
constexpr uint32_t kDigMaxPixelClock = 36700160;

// Line-lock PLL range update after a pixel-clock change from f by the ratio r: the PLL
// feedback divider (ICS1522REG0, unless the camera file fixed it at 1024 or 79), the VCO
// range bits 0-2 of ICS1522REG4 and, unless flag is non-zero, the post-divider code in
// bits 4-5 of ICS1522REG5.  Acts on the record, or on the live shadow without one (the
// PLL itself is programmed by the next load).
void mp_dig_update_ics1522(_MP_CAM_ST_0* camera, double f, int32_t flag, double r);

// Post-divider of the line-lock PLL for an output frequency in Hz (8, 4, 2 or 1) and its
// two-bit code (00, 01, 10, 11).
uint32_t mpPrvIcsDivider(double hz);
uint32_t mpPrvIcsDividerCode(double hz);

// ---- geometry (camera record required) --------------------------------------------------
int mp_dig_size_x(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);     // 30016
int mp_dig_size_y(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);     // 30017
int mp_dig_size_bit(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);   // 30018
int mp_dig_type(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);       // 30019
int mp_dig_num_bands(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30020
int mp_dig_scan_mode(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30021

// ---- user outputs (30007, selectors 0, 1, 2, 4, 8) and inputs (30006, selectors 0, 1) --
int mp_dig_user_out_0(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_out_1(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_out_2(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_out_3(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_out_4(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Live only: refused with a record; modes 1 and 3 read the hardware, others answer 0.
int mp_dig_user_in_0(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_in_1(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_user_in_format(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);   // 30024
int mp_dig_user_out_format(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30025
