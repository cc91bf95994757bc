// Bit controls of the standard grab module (control types 87-133): the reset strobes of
// DIG_SRSCTL, PLL settings, lock-status resets and lock status of DIG_PLLCTL, the external
// sync polarities of DIG_NGCTL, the scan configuration of DIG_PSGCFG, the FIFO and
// resynchronisation bits of DIG_SRCCFG and the grab control DIG_GRABCTL, whose PLL-used
// bit and pixel-clock source relock the line-lock PLL when they change on the live module.
//
// Handlers follow synctiming.h (camera record or null, control type, address of the value,
// mode) and return 0, except the status inquiries given a camera record, which hold no
// status and refuse (-1).  Strobes are set-only and stay as written.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); the relock runs inside the request and waits on the library clock.
#pragma once

#include "synctiming.h"

#include <cstdint>

// One-field members (set and inquire, record or live): type, name, field.
#define MP_DIG_BIT_FIELDS(X)                                        \
    X(101, mp_dig_pll_pdtcouen, cam0::DIG_PLLCTL, 7, 1)             \
    X(102, mp_dig_pll_pdtcpol, cam0::DIG_PLLCTL, 6, 1)              \
    X(103, mp_dig_pll_phdtsel, cam0::DIG_PLLCTL, 4, 2)              \
    X(104, mp_dig_pll_fbpol, cam0::DIG_PLLCTL, 3, 1)                \
    X(105, mp_dig_pll_refpol, cam0::DIG_PLLCTL, 2, 1)               \
    X(106, mp_dig_xhsync_pol, cam0::DIG_NGCTL, 15, 1)               \
    X(107, mp_dig_xvsync_pol, cam0::DIG_NGCTL, 14, 1)               \
    X(108, mp_dig_xcsync_pol, cam0::DIG_NGCTL, 13, 1)               \
    X(109, mp_dig_vcsync_pol, cam0::DIG_NGCTL, 12, 1)               \
    X(111, mp_dig_ext_sync, cam0::DIG_NGCTL, 8, 3)                  \
    X(112, mp_dig_delay_pllref, cam0::DIG_NGCTL, 1, 1)              \
    X(113, mp_dig_ngate_ccen, cam0::DIG_NGCTL, 0, 1)                \
    X(114, mp_dig_psgcfg_nbfscnd, cam0::DIG_PSGCFG, 8, 2)           \
    X(115, mp_dig_psgcfg_vgrstmd, cam0::DIG_PSGCFG, 6, 1)           \
    X(116, mp_dig_psgcfg_vclpdfn, cam0::DIG_PSGCFG, 5, 1)           \
    X(117, mp_dig_psgcfg_pclktest, cam0::DIG_PSGCFG, 4, 1)          \
    X(118, mp_dig_psgcfg_frmscan, cam0::DIG_PSGCFG, 3, 1)           \
    X(119, mp_dig_psgcfg_lnscan, cam0::DIG_PSGCFG, 2, 1)            \
    X(120, mp_dig_psgcfg_rmvhlfln, cam0::DIG_PSGCFG, 1, 1)          \
    X(121, mp_dig_psgcfg_interlace, cam0::DIG_PSGCFG, 0, 1)         \
    X(123, mp_dig_strc_resync, cam0::DIG_SRCCFG, 14, 1)             \
    X(124, mp_dig_strc_holdsys, cam0::DIG_SRCCFG, 13, 1)            \
    X(125, mp_dig_strc_dlkprtcn, cam0::DIG_SRCCFG, 12, 1)           \
    X(128, mp_dig_valid_src, cam0::DIG_GRABCTL, 7, 1)               \
    X(129, mp_dig_hvsynsel, cam0::DIG_GRABCTL, 6, 1)                \
    X(130, mp_dig_adgaen, cam0::DIG_GRABCTL, 3, 1)                  \
    X(131, mp_dig_adrben, cam0::DIG_GRABCTL, 2, 1)                  \
    X(132, mp_dig_diouen, cam0::DIG_GRABCTL, 1, 1)                  \
    X(133, mp_dig_didir, cam0::DIG_GRABCTL, 0, 1)

// Strobes: mode 0 writes the bit (record or live) and leaves it set; other modes nothing.
#define MP_DIG_STROBES(X)                                           \
    X(87, mp_dig_hsync_reset, cam0::DIG_SRSCTL, 7, 1)               \
    X(88, mp_dig_vsync_reset, cam0::DIG_SRSCTL, 6, 1)               \
    X(89, mp_dig_ngvr_reset, cam0::DIG_SRSCTL, 5, 1)                \
    X(90, mp_dig_blank_reset, cam0::DIG_SRSCTL, 4, 1)               \
    X(91, mp_dig_clamp_reset, cam0::DIG_SRSCTL, 3, 1)               \
    X(92, mp_dig_phdetect_reset, cam0::DIG_SRSCTL, 2, 1)            \
    X(93, mp_dig_hcount_reset, cam0::DIG_SRSCTL, 1, 1)              \
    X(94, mp_dig_vcount_reset, cam0::DIG_SRSCTL, 0, 1)              \
    X(95, mp_dig_pll_lksts1_rst, cam0::DIG_PLLCTL, 13, 1)           \
    X(96, mp_dig_pll_lksts0_rst, cam0::DIG_PLLCTL, 12, 1)

// Status bits: mode 1 reads the register from the hardware (live only; -1 with a camera
// record); other modes nothing.
#define MP_DIG_STATUS_BITS(X)                                       \
    X(97, mp_dig_pll_lckst3, cam0::DIG_PLLCTL, 11, 1)               \
    X(98, mp_dig_pll_lckst2, cam0::DIG_PLLCTL, 10, 1)               \
    X(99, mp_dig_pll_lckst1, cam0::DIG_PLLCTL, 9, 1)                \
    X(100, mp_dig_pll_lckst0, cam0::DIG_PLLCTL, 8, 1)               \
    X(122, mp_dig_strc_fifofull, cam0::DIG_SRCCFG, 15, 1)

MP_DIG_BIT_FIELDS(MP_DIG_DECLARE_FIELD)
MP_DIG_STROBES(MP_DIG_DECLARE_FIELD)
MP_DIG_STATUS_BITS(MP_DIG_DECLARE_FIELD)

// Type 110: inquiry answers 0.0, a set changes nothing.
int mp_dig_btsync_pol(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Type 126, DIG_GRABCTL bit 15: a live set from 0 to exactly 1 relocks the PLL.
int mp_dig_pll_used(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// Type 127: DIG_GRABCTL bits 12-14, or bits 4-6 of the Sorvik II control word (register 47)
// on a Sorvik II record and on the live second path (modes 2 and 3).  A live first-path
// change while the PLL is used relocks it.
int mp_dig_pixel_clock_src(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);

// The PLL relock after a live DIG_GRABCTL change, with the camera record loaded on the
// digitizer of the running control (null: no relock).  The input clock select 4 of
// DIG_DICTL is set to 1 for the relock and put back.  1 locked, 0 not locked (nothing is
// logged), -1 skipped for want of a camera record.
int mpPrvRelockPll(_MP_CAM_ST_0* camera);
