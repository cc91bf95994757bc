// Interface, interrupt and information controls of the standard grab module (control types
// 134-161 and 163-166, control 30023): the digital-interface drivers and receivers and the
// input clock select of DIG_DICTL, the clock delay line, interrupt polarity and source, the
// general-purpose enables of DIG_GPCTL, the outputs of the DIM serial register, the
// description fields of a digital camera's pixel arrival, the user clock, the grab-disable
// pulses of the two Orlos and the pixel clock.
//
// Handlers follow synctiming.h (camera record or null, control type, address of the value,
// mode) and return 0 done or -1 refused.  Only the description fields and the input mode
// need a camera record; a user clock the synthesizer cannot make is refused.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); the grab-disable pulses take and release the Orlo's protect lock.
#pragma once

#include "synctiming.h"

#include <cstdint>

// Orlo register whose bit 0 disables the grab while set; a pulse (set, then clear) is what
// controls 164 and 165 send.
constexpr uint32_t kDigGrabDisableBit = 0x1;

// One-field members: type, name, field.
#define MP_DIG_IFACE_FIELDS(X)                                   \
    X(134, mp_dig_usr422out, cam0::DIG_DICTL, 15, 1)             \
    X(135, mp_dig_usr422in, cam0::DIG_DICTL, 14, 1)              \
    X(136, mp_dig_syn422out, cam0::DIG_DICTL, 13, 1)             \
    X(137, mp_dig_syn422in, cam0::DIG_DICTL, 12, 1)              \
    X(138, mp_dig_usrttlout, cam0::DIG_DICTL, 11, 1)             \
    X(139, mp_dig_usrttlin, cam0::DIG_DICTL, 10, 1)              \
    X(140, mp_dig_synttlout, cam0::DIG_DICTL, 9, 1)              \
    X(141, mp_dig_synttlin, cam0::DIG_DICTL, 8, 1)               \
    X(142, mp_dig_iclksel, cam0::DIG_DICTL, 5, 3)                \
    X(144, mp_dig_int_pol, cam0::DIG_INTCTL, 12, 1)              \
    X(145, mp_dig_int_src, cam0::DIG_INTCTL, 8, 3)               \
    X(146, mp_dig_gpouen, cam0::DIG_GPCTL, 2, 1)                 \
    X(147, mp_dig_gpinen, cam0::DIG_GPCTL, 1, 1)                 \
    X(148, mp_dig_gbouen, cam0::DIG_GPCTL, 0, 1)
MP_DIG_IFACE_FIELDS(MP_DIG_DECLARE_FIELD)

// Type 143, DIG_DLYLN bits 0-3: a set value of 0 or below is ignored.
int mp_dig_clock_delay(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);

// DIM outputs (DIMREG0 bits 7-3): on a record word 0; live only with the DIM fitted, shifted
// out through DIG_DICTL, which ends as it was.  Without the DIM a live inquiry answers 0.
int mp_dig_dim_alf422ou(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 149
int mp_dig_dim_blu422ou(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 150
int mp_dig_dim_grn422ou(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 151
int mp_dig_dim_red422ou(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 152
int mp_dig_dim_dimsynsl(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 153

// Description fields (camera record required): type, name, INFO_ slot.
#define MP_DIG_INFO_FIELDS(X)                                            \
    X(154, mp_dig_bits_per_channel, cam0::INFO_BITSPERLOGCH)             \
    X(155, mp_dig_time_multi_channel, cam0::INFO_TIMEMULTICH)            \
    X(156, mp_dig_time_multi_pixel, cam0::INFO_TIMEMULTIPIX)             \
    X(157, mp_dig_xtaps_per_channel, cam0::INFO_XTAPSPERCH)              \
    X(158, mp_dig_ytaps_per_channel, cam0::INFO_YTAPSPERCH)              \
    X(159, mp_dig_xtaps_per_channel_adj, cam0::INFO_XTAPSPERCHADJ)       \
    X(160, mp_dig_ytaps_per_channel_adj, cam0::INFO_YTAPSPERCHADJ)       \
    X(161, mp_dig_packed_pixels, cam0::INFO_PACKEDPIXELS)
#define MP_DIG_DECLARE_INFO(type, name, slot) \
    int name(_MP_CAM_ST_0* camera, int32_t type_, double* value, int32_t mode);
MP_DIG_INFO_FIELDS(MP_DIG_DECLARE_INFO)

// Type 163, Hz: a record stores INFO_USRCLK0; live, the ICD2061A's register 0 is programmed
// (kHz) and the live INFO_USRCLK0 and synthesizer-word slots follow, then 0.01 s pass.  A
// clock the synthesizer cannot make (above 120 MHz) is refused and nothing changes.
int mp_dig_user_clock(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Types 164 (display Orlo) and 165 (primary Orlo) of the control's node: a value of exactly
// 1.0 pulses the Orlo's grab-disable bit; the record and the mode are not looked at.
int mp_dig_display_grabadis(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_primary_grabadis(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Type 166: a record's INFO_PIXCLK (Hz); a live set does nothing.
int mp_dig_pixel_clock(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Control 30023 (camera record required): set non-zero makes INFO_INPUT 4 (digital), 0
// makes it 0 (analog); inquiry 1 for digital, else 0.
int mp_dig_input_mode(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
