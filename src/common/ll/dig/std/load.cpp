// The digitizer load sequence of the standard grab module.
#include "load.h"

#include "calrefs.h"
#include "frontdev.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "lut.h"
#include "pll.h"
#include "regaccess.h"
#include "reqres.h"
#include "serialchips.h"

#include <cstring>

using namespace cam0;

const char kLoadTextDacBounds[] = "Warning: DAC values programmed are out of bounds";
const char kLoadTextReferences[] = "Error programming grab module references";
const char kLoadTextLutFirst[] = "Error programming LUTs (first time)";
const char kLoadTextLutPclkNotOk[] = "Error programming LUTs (pclk was not ok)";
const char kLoadTextPrelockWarning[] = "Warning: PLL prelock not successful; PLL freq (kHz): ";
const char kLoadTextPrelockFailed[] = "PLL prelock not successful";
const char kLoadTextLutPclkOk[] = "Error programming LUTs (pclk was ok)";

namespace {

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;

// Record bits that steer the load.
constexpr uint32_t kGrabPll = 0x8000;          // DIG_GRABCTL: the line-lock PLL is used
constexpr uint32_t kMiscIcsInit = 0x100;       // INFO_MISC: ICS1522 init and feedback toggle
constexpr uint32_t kMiscNewStart = 0x200;      // INFO_MISC: with 0x100, the second start procedure
constexpr uint32_t kMiscNoDacWarning = 0x800;  // INFO_MISC: no out-of-bounds warning
constexpr uint32_t kVresetEnable = 0x1000;     // DIG_HVRCTL
constexpr uint32_t kVcountReset = 0x1;         // DIG_SRSCTL
constexpr uint32_t kInterlace = 0x1;           // DIG_PSGCFG
constexpr uint32_t kFieldControl = 0xE000;     // DIG_OUTCTL bits 13-15
constexpr uint32_t kClockSelect = 0xE0;        // DIG_DICTL bits 5-7
constexpr uint32_t kLutPalTrigger = 0x6000;    // DIG_LUTPAL bits 13-14
constexpr uint32_t kGpctlTrigger = 0x20;       // DIG_GPCTL bit 5

// Registers that loadShPrelock copies, in order.
constexpr uint32_t kPrelockList[] = {
    DIG_SHCNT,  DIG_SVCNT,  DIG_VTOTAL, DIG_VSSYNC, DIG_VESYNC, DIG_HSBLNK, DIG_HEBLNK, DIG_VSBLNK,
    DIG_VEBLNK, DIG_HSCLMP, DIG_HECLMP, DIG_VSCLMP, DIG_VECLMP, DIG_VSNGVR, DIG_VENGVR, DIG_HSCSGT,
    DIG_HECSGT, DIG_VSPDTC, DIG_VEPDTC, DIG_ECSNGT, DIG_NGCSFM, DIG_DTCVSR, DIG_FLDSG,  DIG_FLDEG,
    DIG_T1SCNT, DIG_EXP1S,  DIG_T1CTL,  DIG_OUTCTL, DIG_CPTCTL, DIG_PLLCTL, DIG_NGCTL,  DIG_SRCCFG,
    DIG_ANACTL, DIG_DICTL,  DIG_DLYLN,  DIG_USRREG, DIG_INTCTL, DIG_LUTPAL,
};

// Registers that loadSh compares and copies, in order (the 24 timing registers first).
constexpr uint32_t kDifferenceList[] = {
    DIG_SHCNT,  DIG_SVCNT,  DIG_HTOTAL, DIG_VTOTAL, DIG_HSSYNC, DIG_HESYNC, DIG_VSSYNC, DIG_VESYNC,
    DIG_HSBLNK, DIG_HEBLNK, DIG_VSBLNK, DIG_VEBLNK, DIG_HSCLMP, DIG_HECLMP, DIG_VSCLMP, DIG_VECLMP,
    DIG_HSPLLF, DIG_HEPLLF, DIG_VSNGVR, DIG_VENGVR, DIG_HSCSGT, DIG_HECSGT, DIG_VSPDTC, DIG_VEPDTC,
    DIG_ECSNGT, DIG_NGCSFM, DIG_DTCVSR, DIG_FLDSG,  DIG_FLDEG,  DIG_T1SCNT, DIG_T2SCNT, DIG_EXP1S,
    DIG_EXP2S,  DIG_T1CTL,  DIG_T2CTL,  DIG_HVRCTL, DIG_OUTCTL, DIG_CPTCTL, DIG_SRSCTL, DIG_PLLCTL,
    DIG_NGCTL,  DIG_PSGCFG, DIG_SRCCFG, DIG_GRABCTL, DIG_DICTL, DIG_DLYLN,  DIG_USRREG, DIG_INTCTL,
    DIG_LUTPAL,
};

// Registers that loadHw sends, in order.
constexpr uint32_t kHardwareList[] = {
    DIG_SHCNT,  DIG_SVCNT,  DIG_HTOTAL, DIG_VTOTAL, DIG_HSSYNC, DIG_HESYNC, DIG_VSSYNC, DIG_VESYNC,
    DIG_HSBLNK, DIG_HEBLNK, DIG_VSBLNK, DIG_VEBLNK, DIG_HSCLMP, DIG_HECLMP, DIG_VSCLMP, DIG_VECLMP,
    DIG_HSPLLF, DIG_HEPLLF, DIG_VSNGVR, DIG_VENGVR, DIG_HSCSGT, DIG_HECSGT, DIG_VSPDTC, DIG_VEPDTC,
    DIG_ECSNGT, DIG_NGCSFM, DIG_DTCVSR, DIG_FLDSG,  DIG_FLDEG,  DIG_T1SCNT, DIG_T2SCNT, DIG_EXP1S,
    DIG_EXP2S,  DIG_T1CTL,  DIG_T2CTL,  DIG_TMRCLR, DIG_HVRCTL, DIG_OUTCTL, DIG_CPTCTL, DIG_SRSCTL,
    DIG_PLLCTL, DIG_NGCTL,  DIG_PSGCFG, DIG_SRCCFG, DIG_GRABCTL, DIG_ANACTL, DIG_DICTL, DIG_DLYLN,
    DIG_USRREG, DIG_INTCTL, DIG_GPCTL,  DIG_LUTPAL,
};

// Registers that restoreSdig copies and writes, in order.
constexpr uint32_t kRestoreList[] = {
    DIG_HTOTAL, DIG_GRABCTL, DIG_HSSYNC, DIG_HESYNC, DIG_T2SCNT, DIG_MISCTL, DIG_EXP2S,
    DIG_T2CTL,  DIG_HVRCTL,  DIG_HSPLLF, DIG_HEPLLF, DIG_PSGCFG, DIG_TMRCLR, DIG_SRSCTL,
};

// Registers the second start procedure leaves to the record, copied and written in order.
constexpr uint32_t kNewStartList[] = {
    DIG_HTOTAL, DIG_PSGCFG, DIG_HSSYNC, DIG_HESYNC, DIG_HVRCTL, DIG_HSPLLF, DIG_HEPLLF,
};

// The Sorvik II registers that follow the others.
constexpr uint32_t kSorvik2List[] = {SORVIK2_CONTROL, UART_CONTROL};

uint32_t Rec(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->value;
}
uint32_t Rec16(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    return Rec(cam, offset) & 0xFFFF;
}
uint32_t RecWord(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    uint32_t word = 0;
    std::memcpy(&word, cam->bytes + offset, sizeof word);
    return word;
}
void SetRecWord(_MP_CAM_ST_0* cam, uint32_t offset, uint32_t word)
{
    std::memcpy(cam->bytes + offset, &word, sizeof word);
}
bool IsSorvik2(const _MP_CAM_ST_0* cam)
{
    return Rec(cam, SORVIK2_FLAG) != 0;
}

uint32_t Live(uint32_t offset)
{
    const uint32_t* slot = mpPrvExtSlot(offset);
    return slot ? slot[0] : 0;
}
uint32_t Live16(uint32_t offset)
{
    return Live(offset) & 0xFFFF;
}

// The record's 16-bit value into the live slot, flags cleared; nothing is written.
void CopyToShadow(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    uint32_t* slot = mpPrvExtSlot(offset);
    if (!slot) return;
    slot[0] = (slot[0] & ~0xFFFFu) | Rec16(cam, offset);
    slot[1] &= ~kFlagBits;
}

void SendSlot(uint32_t offset)
{
    if (uint32_t* slot = mpPrvExtSlot(offset)) SetExtShInHw(slot);
}

void Log(MP_RESOURCE_ST* res, const char* text)
{
    if (res) _mp_res_log_error(res, HLC_ERR_RESTRICTED, text);
}

// Step 11: the lock wait after a PLL start, then the switch to the record's own timing.
// The clock select of DIG_DICTL is put back before any return.  0, or -1 (logged).
int LockWait(MP_RESOURCE_ST* res, _MP_CAM_ST_0* cam)
{
    const uint32_t keptDictl = Live16(DIG_DICTL);
    const bool clockChanged = (keptDictl & kClockSelect) == 0x80;
    if (clockChanged) mpPrvSetExtReg(DIG_DICTL, (keptDictl & ~kClockSelect) | 0x20);
    auto restore = [&] {
        if (clockChanged) mpPrvSetExtReg(DIG_DICTL, keptDictl);
    };

    const uint32_t misc = Rec(cam, INFO_MISC);
    const uint32_t spixclk = Rec(cam, INFO_SPIXCLK);
    if (misc & kMiscIcsInit) {
        const uint32_t reference = (misc & kMiscNewStart) ? kPrelockRefKHz : spixclk / 1000;
        uint32_t measured = 0;
        // A record without a prelock clock gives nothing to lock to: the wait is not made
        // and the warning tells the failed lock.
        int result = -4;
        if (reference != 0) {
            const double lineTime = spixclk ? static_cast<double>(Rec16(cam, SDIG_HTOTAL)) / spixclk : 0.0;
            result = mp_dig_wait_pll_lock_new(reference, lineTime, 1.0, &measured);
        }
        // The error layer keeps its own copy of a built text.
        if (result == -4 && res)
            mp_res_log_error_debug(res, HLC_ERR_RESTRICTED, convert(kLoadTextPrelockWarning, measured).c_str(),
                                   nullptr, 0);
    } else {
        const uint32_t reference = spixclk / 1000;
        if (reference == 0 || mp_dig_wait_pll_lock(reference) == -1) {
            restore();
            Log(res, kLoadTextPrelockFailed);
            return -1;
        }
    }
    mp_dig_set_pll(res, cam);
    restore();
    return 0;
}

}  // namespace

std::string convert(const char* text, uint32_t number)
{
    std::string result = text ? text : "";
    result += std::to_string(number);
    return result;
}

double mpPrvSettleTime(const _MP_CAM_ST_0* cam)
{
    const uint32_t pixclk = Rec(cam, INFO_PIXCLK);
    if (pixclk == 0) return 0.0;
    const double line = static_cast<double>(Rec16(cam, DIG_HTOTAL)) / pixclk;
    const uint32_t start = Rec16(cam, DIG_VSSYNC);
    const uint32_t end = Rec16(cam, DIG_VESYNC);
    const double syncLines = end > start ? static_cast<double>(end - start) : 0.0;
    return line * syncLines + line * Rec16(cam, DIG_VTOTAL) * 0.5 + 0.001;
}

void loadShPrelock(const _MP_CAM_ST_0* cam)
{
    for (uint32_t offset : kPrelockList) CopyToShadow(cam, offset);
    if (IsSorvik2(cam))
        for (uint32_t offset : kSorvik2List) CopyToShadow(cam, offset);
}

void loadSh(const _MP_CAM_ST_0* cam)
{
    auto difference = [&](uint32_t offset) {
        if (Live16(offset) != Rec16(cam, offset)) CopyToShadow(cam, offset);
    };
    for (uint32_t offset : kDifferenceList) difference(offset);
    if (IsSorvik2(cam))
        for (uint32_t offset : kSorvik2List) difference(offset);
}

void loadHw(const _MP_CAM_ST_0* cam)
{
    for (uint32_t offset : kHardwareList) SendSlot(offset);
    if (IsSorvik2(cam))
        for (uint32_t offset : kSorvik2List) SendSlot(offset);
}

void loadPLLSh(const _MP_CAM_ST_0* cam)
{
    for (uint32_t reg = 0; reg < 7; ++reg) {
        uint32_t* slot = mpPrvExtSlot(ICS1522REG(reg));
        if (!slot) return;
        slot[0] = Rec(cam, ICS1522REG(reg));
        slot[1] &= ~kFlagBits;
    }
}

void restoreSdig(const _MP_CAM_ST_0* cam)
{
    for (uint32_t offset : kRestoreList) {
        CopyToShadow(cam, offset);
        SendSlot(offset);
    }
}

int mp_dig_load(MP_RESOURCE_ST* res, _MP_CAM_ST_0* cam, _MP_BUF_ST* lut, uint32_t chanBits, int32_t mode)
{
    if (!cam) return -1;
    // Step 1.
    const uint32_t entryOutctl = Live16(DIG_OUTCTL);
    const uint32_t entryHvrctl = Live16(DIG_HVRCTL);
    int relock = 0;
    const bool sorvik2 = IsSorvik2(cam);

    // Step 2: references.
    const int refs = calcRefs(cam);
    if (refs == -1) {
        Log(res, kLoadTextReferences);
        return -1;
    }
    if (refs == -4 && !(Rec(cam, INFO_MISC) & kMiscNoDacWarning)) Log(res, kLoadTextDacBounds);

    // Step 3: lookup tables and clocks.
    if (RecWord(cam, LOADED_ONCE) == 0) {
        if (mp_dig_load_lut(cam, lut, 2) == -1) {
            Log(res, kLoadTextLutFirst);
            return -1;
        }
        mode = kDigLoadFull;
        SetRecWord(cam, LOADED_ONCE, 1);
    } else if (mode == kDigLoadOtherCamera) {
        CamSlot* lutprog = CamSlotAt(cam, INFO_LUTPROG);
        if (sorvik2) {
            if (Live(INFO_BITSPERLOGCH) != Rec(cam, INFO_BITSPERLOGCH)) lutprog->value = 1;
        } else if (((Rec16(cam, DIG_LUTPAL) ^ Live16(DIG_LUTPAL)) & kLutPalTrigger) ||
                   ((Rec16(cam, DIG_GPCTL) ^ Live16(DIG_GPCTL)) & kGpctlTrigger)) {
            lutprog->value = 1;
        }
        if (lutprog->value) {
            uint32_t measured = 0;
            const bool clockRuns =
                Rec(cam, INFO_CONTPCLK) != 0 && mp_dig_pclk_ok(Rec(cam, INFO_PIXCLK) / 1000, 0.5, &measured) == 1;
            if (!clockRuns) {
                if (!sorvik2 && (Rec16(cam, DIG_GRABCTL) & kGrabPll)) relock = 1;
                if (mp_dig_prog_lut(cam, lut, chanBits, 0) == -1) {
                    Log(res, kLoadTextLutPclkNotOk);
                    return -1;
                }
            }
        }
        mp_dig_load_icd2061(cam, 2);
    }

    const bool pllUsed = (Rec16(cam, DIG_GRABCTL) & kGrabPll) != 0;
    const uint32_t misc = Rec(cam, INFO_MISC);
    if (!sorvik2) {
        // Step 5: PLL start.
        if (pllUsed) {
            bool start = mode == kDigLoadFull;
            if (mode == kDigLoadOtherCamera) {
                prelock(cam, &relock);
                if (relock)
                    start = true;
                else
                    mp_dig_load_ics1522(cam, 3);
            }
            if (start) {
                if (misc & kMiscIcsInit) {
                    mp_dig_init_ics1522();
                    mp_dig_togPllFB();
                    mp_time_sleep(0.001);
                }
                if ((misc & (kMiscIcsInit | kMiscNewStart)) == (kMiscIcsInit | kMiscNewStart)) {
                    mp_dig_start_pll_new(cam);
                    for (uint32_t offset : kNewStartList) CopyToShadow(cam, offset);
                    for (uint32_t offset : kNewStartList) SendSlot(offset);
                } else {
                    mp_dig_start_pll(cam);
                }
                if (misc & kMiscIcsInit) mp_dig_togPllFB();
            }
        } else {
            loadPLLSh(cam);
        }

        // Step 6: the requested channels' gain and filter bits.
        if (mode == kDigLoadAddChannels || mode == kDigLoadOtherCamera) {
            static constexpr struct {
                uint32_t chan;
                uint32_t bits;
            } kMerge[] = {{0x80000, 0x103}, {0x10000, 0x20C}, {0x20000, 0x430}, {0x40000, 0x8C0}};
            uint32_t anactl = Live16(DIG_ANACTL);
            const uint32_t record = Rec16(cam, DIG_ANACTL);
            for (const auto& m : kMerge)
                if (chanBits & m.chan) anactl = (anactl & ~m.bits) | (record & m.bits);
            mpPrvSetExtReg(DIG_ANACTL, anactl);
        }
    }

    // Step 7: registers.
    if (mode == kDigLoadFull || relock) {
        loadShPrelock(cam);
        loadHw(cam);
    } else if (mode == kDigLoadOtherCamera) {
        loadSh(cam);
        loadHw(cam);
    }

    // Step 8: devices.
    const uint32_t deviceMode = static_cast<uint32_t>(mode);
    if (sorvik2) {
        load_serial_dev_2_sh(cam, chanBits, deviceMode);
    } else {
        mp_dig_load_bt261(cam, deviceMode);
        if (mode != kDigLoadAddChannels) mp_dig_load_ds1020(cam, deviceMode);
        uint32_t changes = 0;
        mp_dig_load_dac1(cam, chanBits, deviceMode, &changes);
        mp_dig_load_dac2(cam, chanBits, deviceMode, &changes);
        if (changes) mp_time_sleep(0.1);
        mp_dig_load_dimreg(cam, deviceMode);
    }

    // Step 9: camera description.
    if (mode != kDigLoadAddChannels) mp_dig_load_descr(cam);

    // Steps 10-12: lock wait, or the registers the PLL start had set to the prelock timing.
    if (mode == kDigLoadFull || relock) {
        if (!sorvik2 && pllUsed) {
            if (LockWait(res, cam) == -1) return -1;
        } else {
            restoreSdig(cam);
        }
    }

    // Step 13: deferred LUTs.
    if (Rec(cam, INFO_LUTPROG)) {
        if (mp_dig_prog_lut(cam, lut, chanBits, 1) == -1) {
            Log(res, kLoadTextLutPclkOk);
            return -1;
        }
    }

    // Step 14: vertical count reset.
    if (!(Rec16(cam, DIG_HVRCTL) & kVresetEnable)) {
        const uint32_t srsctl = Live16(DIG_SRSCTL);
        mpPrvSetExtReg(DIG_SRSCTL, srsctl | kVcountReset);
        mpPrvSetExtReg(DIG_SRSCTL, srsctl & ~kVcountReset);
    }

    // Step 15: settle wait.
    if (Rec16(cam, DIG_PSGCFG) & kInterlace) {
        const bool same = !relock && (Rec16(cam, DIG_OUTCTL) & kFieldControl) == (entryOutctl & kFieldControl) &&
                          Rec16(cam, DIG_HVRCTL) == entryHvrctl;
        if (!same) {
            const double settle = mpPrvSettleTime(cam);
            if (settle > 0.0) mp_time_sleep(settle);
        }
    }
    return 0;
}
