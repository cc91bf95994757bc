// Timers 1 and 2 of the standard grab module, which make the camera exposure signals EXP1
// and EXP2 and the trigger delay before them: their register fields (control types 14-39),
// the frequency each clock source runs a timer at, the conversion of an exposure time and
// delay in seconds into counts with an automatic choice of clock source (controls 30008 and
// 30009), and the trigger-source and output-polarity controls (30010, 30011).
//
// Handlers follow synctiming.h (camera record or null, control type, address of the value,
// mode) and return 0 done or -1 refused.  The exposure handlers also serve modes 2 (set)
// and 3 (inquire) of controls 30008 and 30009.  Exposure time, delay and trigger source
// change the camera record only; the live timers take them at the record's next load or
// grab.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); nothing here takes a lock.
#pragma once

#include "synctiming.h"

#include <cstdint>

// The clock-source argument that names the source in the timer's control register.
constexpr uint32_t kTimerOwnSource = 0x10000000;
// Largest period or exposure count of a 16-bit timer.
constexpr uint32_t kTimerMaxCount = 65535;

// Register-field members: type, name, field (record or live, modes 0 and 1).
#define MP_DIG_TIMER_FIELDS(X)                                        \
    X(20, mp_dig_timer1_combine, cam0::DIG_T1CTL, 12, 2)              \
    X(21, mp_dig_timer2_combine, cam0::DIG_T2CTL, 12, 2)              \
    X(22, mp_dig_timer1_trig_prescal, cam0::DIG_T1CTL, 11, 1)         \
    X(23, mp_dig_timer2_trig_prescal, cam0::DIG_T2CTL, 11, 1)         \
    X(24, mp_dig_timer1_trig_scaler, cam0::DIG_T1CTL, 9, 2)           \
    X(25, mp_dig_timer2_trig_scaler, cam0::DIG_T2CTL, 9, 2)           \
    X(26, mp_dig_timer1_mode, cam0::DIG_T1CTL, 8, 1)                  \
    X(27, mp_dig_timer2_mode, cam0::DIG_T2CTL, 8, 1)                  \
    X(28, mp_dig_timer1_trig_pol, cam0::DIG_T1CTL, 7, 1)              \
    X(29, mp_dig_timer2_trig_pol, cam0::DIG_T2CTL, 7, 1)              \
    X(30, mp_dig_timer1_clk_pol, cam0::DIG_T1CTL, 3, 1)               \
    X(31, mp_dig_timer2_clk_pol, cam0::DIG_T2CTL, 3, 1)               \
    X(32, mp_dig_timer1_clk_src, cam0::DIG_T1CTL, 0, 3)               \
    X(33, mp_dig_timer2_clk_src, cam0::DIG_T2CTL, 0, 3)               \
    X(34, mp_dig_timer1_clear_pol, cam0::DIG_TMRCLR, 3, 1)            \
    X(35, mp_dig_timer2_clear_pol, cam0::DIG_TMRCLR, 7, 1)            \
    X(36, mp_dig_timer1_clear_src, cam0::DIG_TMRCLR, 0, 3)            \
    X(37, mp_dig_timer2_clear_src, cam0::DIG_TMRCLR, 4, 3)            \
    X(38, mp_dig_timer1_armen, cam0::DIG_MISCTL, 1, 1)                \
    X(39, mp_dig_timer2_armen, cam0::DIG_MISCTL, 5, 1)
MP_DIG_TIMER_FIELDS(MP_DIG_DECLARE_FIELD)

// Types 14, 15: the period count; a value above 65535 is refused.
int mp_dig_timer1_cnt(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_timer2_cnt(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Types 16, 17: the exposure count (stored as given, refused above 65535; inquired less
// the 2 counts the timer adds).  With control type 30008: the exposure time in seconds
// (camera record required).
int mp_dig_exp1_active(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_exp2_active(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Types 18, 19: inquire only, the timer's output state read from the hardware; refused with
// a camera record, which holds no state.
int mp_dig_exp1_output(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_exp2_output(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Control 30009: the delay before the exposure, seconds (camera record required).
int mp_dig_exp1_delay(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_exp2_delay(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Control 30010: the trigger source (camera record required).
int mp_dig_timer1_trig_src(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_timer2_trig_src(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Control 30011: the output polarity, 3.0 for 0 and 2.0 for 1 (record or live; the default
// needs a record; other values are refused).
int mp_dig_timer1_pol(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
int mp_dig_timer2_pol(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);

// Frequency in Hz at which a clock source (0-7, or kTimerOwnSource) runs the timer of a
// camera record; 0 for a source without a frequency.  Source 4 (the other timer's period)
// follows the other timer one level only: two timers on each other's period run at 0.
double mp_dig_get_timer1_freq(_MP_CAM_ST_0* camera, uint32_t source);
double mp_dig_get_timer2_freq(_MP_CAM_ST_0* camera, uint32_t source);
// Exposure time and delay in seconds (268435456.0 keeps either) into the record's counts and
// clock source; 0, or -1 when no allowed clock source gives counts within 16 bits.
int mp_dig_handle_exp1(_MP_CAM_ST_0* camera, double exposure, double delay);
int mp_dig_handle_exp2(_MP_CAM_ST_0* camera, double exposure, double delay);
