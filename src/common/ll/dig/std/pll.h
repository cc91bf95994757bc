// Pixel clock and line-lock PLL of the standard grab module: the pixel-clock measurement
// through timer 1 that serves as lock test, the lock waits built on it, the two PLL start
// procedures (prelock timing), the relock decision of a camera switch, the ICS1522
// register loaders, the final lock after the prelock, the PLL feedback toggle and the
// ICD2061A clock update.
//
// Everything acts on the live shadow and registers of the module selected in the
// register-control record (SetToExt); a camera record is read, never written, unless said.
// Threads: the node's command-server task (load sequence, controls, LUT transfer); no lock
// is taken.  Every wait is bounded and runs on the library clock.
#pragma once

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_CAM_ST_0;

// Live-shadow slots holding the ICD2061A program word last sent to a clock register
// (register r's word at the slot 8 r past the first; 0 user clock 0, 3 grab-system clock).
constexpr uint32_t kIcd2061WordSlot0 = 1216;
constexpr uint32_t IcdWordSlot(uint32_t reg) { return kIcd2061WordSlot0 + 8 * reg; }
constexpr uint32_t kUsrClkWordSlot = IcdWordSlot(0);     // 1216, follows DS1020DLY
constexpr uint32_t kGrbSysClkWordSlot = IcdWordSlot(3);  // 1240

// Counter read back at register 3 during the pixel-clock test; timer 1 status at DIG_T1CTL.
constexpr uint32_t kPclkCounterSlot = 24;
// Counts above this are a failed measurement.
constexpr uint32_t kPclkCounterLimit = 65000;
// Reference clock of the second start procedure, kHz.
constexpr uint32_t kPrelockRefKHz = 20266;

// ---- measurement and waits ------------------------------------------------------------
// 1 when the measured pixel clock lies within tolerance percent of the expected kHz, else
// 0; the measured count is stored when one was read (measured may be null).  An expected
// clock of 0 is never met.  Every register changed is put back.
int mp_dig_pclk_ok(uint32_t expectedKHz, double tolerance, uint32_t* measured);
// 0 locked (0.5 %), -1 after 21 failed tests 0.04 s apart.
int mp_dig_wait_pll_lock(uint32_t expectedKHz);
// 0 locked, -4 after 10 failed tests 10 line times apart (the pause bounded to 1 s).
int mp_dig_wait_pll_lock_new(uint32_t expectedKHz, double lineTime, double tolerance, uint32_t* measured);
// The live pixel clock in MHz when it runs within 0.5 % of the live INFO_PIXCLK, else 0.0;
// always 0.
int mp_dig_get_pclk(double* mhz);

// ---- PLL start and lock -----------------------------------------------------------------
// Sets *relock to 1 when switching from the live camera to this record needs a new lock;
// never clears it.
void prelock(_MP_CAM_ST_0* camera, int* relock);
// The first start procedure: the record's SDIG_* prelock timing and SICS1522 registers.
void mp_dig_start_pll(_MP_CAM_ST_0* camera);
// The second start procedure: the fixed prelock set (the record is not read).
void mp_dig_start_pll_new(_MP_CAM_ST_0* camera);
// Final lock after the prelock: record ICS1522 registers and timing, lock waits; warnings
// logged on the resource (may be null) when none is recorded yet.  Never fails.
void mp_dig_set_pll(MP_RESOURCE_ST* resource, _MP_CAM_ST_0* camera);
// ICS1522 registers from the record (mode 0: all, adjusted; other modes: the changed ones,
// then 0.05 s unless mode 3) or from its prelock set (mode 0 all, else the changed ones).
void mp_dig_load_ics1522(_MP_CAM_ST_0* camera, int32_t mode);
void mp_dig_load_start_ics1522(_MP_CAM_ST_0* camera, int32_t mode);
// Toggles the PLL feedback polarity (DIG_PLLCTL bit 3) and back.
void mp_dig_togPllFB();
// Grab-system and user clock from the record (mode 0 both, else the changed ones).
void mp_dig_load_icd2061(_MP_CAM_ST_0* camera, int32_t mode);

// The ICD2061A word for user clock 0 at 10000 kHz, computed once.
uint32_t mpPrvDefaultFreq();
// One ICS1522 register: stored in the live shadow's slot (flags cleared), then written.
void mpPrvLoadIcs1522Reg(uint32_t value, int32_t reg);
// One ICD2061A word: stored in the live shadow's word slot of its register, then sent.
void mpPrvSendIcd2061(uint32_t word);
