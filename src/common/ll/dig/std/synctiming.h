// Sync-generator timing controls of the standard grab module (control types 40-86): the two
// position counters, which can only be read, the horizontal and vertical totals, the start
// and end positions of the sync, blank, clamp, PLL-feedback, noise-gate, composite-sync
// gate, phase-detect and field-gate windows, the composite-sync counts, the vertical-sync
// sample point and the fields of DIG_HVRCTL and DIG_OUTCTL.  Also the one-field handler
// that the bit controls of strobes.h reuse.
//
// Every handler takes (camera record or null, control type, address of the value, mode
// 0 set / 1 inquire; other modes do nothing) and returns 0 done or -1 refused.  With a
// camera record a set changes word 0 of the slot only; without one it changes the live
// shadow of the selected module and writes the register at once.  Values are truncated
// toward zero and masked to the field: nothing is range-checked and no sentinel has a
// meaning of its own here.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); nothing here takes a lock.
#pragma once

#include "camrec.h"

#include <cstdint>

// A field of one slot: bits shift .. shift + width - 1 (a 16-bit register is 0, 16).
struct MpDigField {
    uint32_t slot;
    uint32_t shift;
    uint32_t width;
};

// The one-field handler: set (mode 0) stores the truncated value masked to the field;
// inquire (mode 1) answers the field of the record's word 0, or of the live shadow's
// 16-bit value.  Other modes return 0 and write nothing.  -1 only for a null value address
// in modes 0 and 1.
int mpPrvFieldControl(_MP_CAM_ST_0* camera, const MpDigField& field, double* value, int32_t mode);
// The set half alone (the strobes of strobes.h).
int mpPrvFieldSet(_MP_CAM_ST_0* camera, const MpDigField& field, double* value);

// The handlers of this file: type, name, field (slot, first bit, width).
#define MP_DIG_SYNC_FIELDS(X)                                            \
    X(41, mp_dig_shcnt, cam0::DIG_SHCNT, 0, 16)                          \
    X(43, mp_dig_svcnt, cam0::DIG_SVCNT, 0, 16)                          \
    X(44, mp_dig_htotal_cnt, cam0::DIG_HTOTAL, 0, 16)                    \
    X(45, mp_dig_vtotal_cnt, cam0::DIG_VTOTAL, 0, 16)                    \
    X(46, mp_dig_hstart_sync, cam0::DIG_HSSYNC, 0, 16)                   \
    X(47, mp_dig_hend_sync, cam0::DIG_HESYNC, 0, 16)                     \
    X(48, mp_dig_vstart_sync, cam0::DIG_VSSYNC, 0, 16)                   \
    X(49, mp_dig_vend_sync, cam0::DIG_VESYNC, 0, 16)                     \
    X(50, mp_dig_hstart_blank, cam0::DIG_HSBLNK, 0, 16)                  \
    X(51, mp_dig_hend_blank, cam0::DIG_HEBLNK, 0, 16)                    \
    X(52, mp_dig_vstart_blank, cam0::DIG_VSBLNK, 0, 16)                  \
    X(53, mp_dig_vend_blank, cam0::DIG_VEBLNK, 0, 16)                    \
    X(54, mp_dig_hstart_clamp, cam0::DIG_HSCLMP, 0, 16)                  \
    X(55, mp_dig_hend_clamp, cam0::DIG_HECLMP, 0, 16)                    \
    X(56, mp_dig_vstart_clamp, cam0::DIG_VSCLMP, 0, 16)                  \
    X(57, mp_dig_vend_clamp, cam0::DIG_VECLMP, 0, 16)                    \
    X(58, mp_dig_hstart_pll_feedback, cam0::DIG_HSPLLF, 0, 16)           \
    X(59, mp_dig_hend_pll_feedback, cam0::DIG_HEPLLF, 0, 16)             \
    X(60, mp_dig_vstart_ngate_vreset, cam0::DIG_VSNGVR, 0, 16)           \
    X(61, mp_dig_vend_ngate_vreset, cam0::DIG_VENGVR, 0, 16)             \
    X(62, mp_dig_hstart_csync_gate, cam0::DIG_HSCSGT, 0, 16)             \
    X(63, mp_dig_hend_csync_gate, cam0::DIG_HECSGT, 0, 16)               \
    X(64, mp_dig_vstart_phase_detect, cam0::DIG_VSPDTC, 0, 16)           \
    X(65, mp_dig_vend_phase_detect, cam0::DIG_VEPDTC, 0, 16)             \
    X(66, mp_dig_end_csync_ngate, cam0::DIG_ECSNGT, 0, 16)               \
    X(67, mp_dig_nbr_csync_missed, cam0::DIG_NGCSFM, 8, 8)               \
    X(68, mp_dig_nbr_csync_found, cam0::DIG_NGCSFM, 0, 8)                \
    X(69, mp_dig_vsync_sample, cam0::DIG_DTCVSR, 0, 12)                  \
    X(70, mp_dig_start_field_gate, cam0::DIG_FLDSG, 0, 16)               \
    X(71, mp_dig_end_field_gate, cam0::DIG_FLDEG, 0, 16)                 \
    X(72, mp_dig_vreset_ngate_enable, cam0::DIG_HVRCTL, 15, 1)           \
    X(73, mp_dig_align_vrst_sel, cam0::DIG_HVRCTL, 13, 2)                \
    X(74, mp_dig_vrst_enable, cam0::DIG_HVRCTL, 12, 1)                   \
    X(75, mp_dig_vrst_polarity, cam0::DIG_HVRCTL, 11, 1)                 \
    X(76, mp_dig_vrst_src, cam0::DIG_HVRCTL, 8, 3)                       \
    X(77, mp_dig_hrst_enable, cam0::DIG_HVRCTL, 4, 1)                    \
    X(78, mp_dig_hrst_polarity, cam0::DIG_HVRCTL, 3, 1)                  \
    X(79, mp_dig_hrst_src, cam0::DIG_HVRCTL, 0, 3)                       \
    X(80, mp_dig_field_control, cam0::DIG_OUTCTL, 13, 3)                 \
    X(81, mp_dig_hsync_polarity, cam0::DIG_OUTCTL, 7, 1)                 \
    X(82, mp_dig_vsync_polarity, cam0::DIG_OUTCTL, 6, 1)                 \
    X(83, mp_dig_csync_polarity, cam0::DIG_OUTCTL, 5, 1)                 \
    X(84, mp_dig_blank_polarity, cam0::DIG_OUTCTL, 4, 1)                 \
    X(85, mp_dig_clamp_polarity, cam0::DIG_OUTCTL, 3, 1)                 \
    X(86, mp_dig_field_polarity, cam0::DIG_OUTCTL, 2, 1)

#define MP_DIG_DECLARE_FIELD(type, name, slot, shift, width) \
    int name(_MP_CAM_ST_0* camera, int32_t type_, double* value, int32_t mode);
// A one-field handler's definition.
#define MP_DIG_DEFINE_FIELD(type, name, slot, shift, width)                  \
    int name(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)     \
    {                                                                        \
        static constexpr MpDigField kField{slot, shift, width};              \
        return mpPrvFieldControl(camera, kField, value, mode);               \
    }
MP_DIG_SYNC_FIELDS(MP_DIG_DECLARE_FIELD)

// Position counters (registers 1 and 3), read from the hardware while DIG_SRCCFG bit 14 is
// set; the DIG_SRCCFG shadow is put back as it was.  Refused (-1) with a camera record in
// every mode; a live set does nothing.
int mp_dig_hcnt(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 40
int mp_dig_vcnt(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 42
