// Pixel clock and line-lock PLL: the timer-1 measurement of the pixel clock, the lock
// waits, the PLL start procedures, the relock decision, the ICS1522 and ICD2061A loaders
// and the final lock after the prelock.
#include "pll.h"

#include "analog.h"
#include "camrec.h"
#include "exposure.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "load.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"
#include "reqres.h"
#include "serialchips.h"
#include "task.h"

#include <new>
#include <set>
#include <string>


using namespace cam0;

namespace {

static_assert(kPclkCounterSlot == grabregs::Slot(grabregs::kVerticalCounter), "the counter is read at register 3");

// INFO_MISC bits of the PLL handling.
constexpr uint32_t kMiscNewPath = 1u << 8;
constexpr uint32_t kMiscSecondStart = 1u << 9;
// DIG_GRABCTL: PLL in use, pixel-clock source.
constexpr uint32_t kGrabPll = 1u << 15;
constexpr uint32_t kGrabSourceShift = 12;
constexpr uint32_t kGrabSourceMask = 0x7u << kGrabSourceShift;
// DIG_PSGCFG bit 4: pixel-clock test mode.
constexpr uint32_t kPsgPclkTest = 1u << 4;
// DIG_PLLCTL bit 3: PLL feedback polarity.
constexpr uint32_t kPllFeedback = 1u << 3;
// DIG_HVRCTL bit 4: horizontal reset enable.
constexpr uint32_t kHvrHorizontalReset = 1u << 4;
// DIG_SRSCTL pulses: bit 0 vertical count reset, bit 1 horizontal count reset.
constexpr uint32_t kSrsVerticalReset = 1u << 0;
constexpr uint32_t kSrsHorizontalReset = 1u << 1;

// The user clock every measurement runs at, Hz.
constexpr uint32_t kMeasureUsrClkHz = 10000000;
// Measurement window and poll limit.
constexpr double kMeasureWindow = 0.1;
constexpr int kStablePolls = 10;
// The longest pause between two lock tests of mp_dig_wait_pll_lock_new: 10 line times of
// even the slowest camera stay far below it.
constexpr double kMaxLockPause = 1.0;

// Fixed prelock set of the second start procedure.
constexpr uint32_t kFixedT2Scnt = 1816;
constexpr uint32_t kFixedExp2s = 174;
constexpr uint32_t kFixedT2Ctl = 0x4067;
constexpr uint32_t kFixedMisctl = 0xA0;
constexpr uint32_t kFixedGrabctl = 0xFC00;
constexpr uint32_t kFixedIcs[7] = {160, 48, 6, 1024, 1909, 1315, 1272};

uint32_t g_defaultFreq = 0;

uint32_t Rec(const _MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
uint32_t Rec16(const _MP_CAM_ST_0* camera, uint32_t offset) { return Rec(camera, offset) & 0xFFFF; }
uint32_t Live(uint32_t offset) { return mpPrvDigGet(nullptr, offset); }
uint32_t Live16(uint32_t offset) { return Live(offset) & 0xFFFF; }
// A register of the live shadow: flags cleared, the 16-bit value stored and written.
void Write(uint32_t offset, uint32_t value) { mpPrvDigPut(nullptr, offset, 0xFFFF, value); }
void Bits(uint32_t offset, uint32_t set, uint32_t clear) { Write(offset, (Live16(offset) & ~clear) | set); }
// A whole shadow word, flags cleared, not written (description and device slots).
void Store(uint32_t offset, uint32_t value) { mpPrvDigPut(nullptr, offset, 0xFFFFFFFFu, value, false); }
uint32_t Hardware(uint32_t offset) { return mpPrvReadExtReg(offset) & 0xFFFF; }

// Seconds of one line: HTOTAL / pixel clock; 0 without a clock.
double LineTime(uint32_t htotal, uint32_t pixclk)
{
    return pixclk ? static_cast<double>(htotal) / static_cast<double>(pixclk) : 0.0;
}

// 10 line times, bounded: a corrupt record must not stall the node's command server.
double TenLines(double lineTime)
{
    const double t = 10.0 * lineTime;
    if (!(t > 0.0)) return 0.0;
    return t < kMaxLockPause ? t : kMaxLockPause;
}

// A warning text that outlives the request: error records keep a pointer to their text
// and are copied on into replies, threads and sync objects.  Each distinct text is kept
// once until the library unloads; past the limit the text without its count stands in.
const char* KeptText(const char* text, uint32_t measured)
{
    // Never destroyed: a node's threads may still use it while the process ends.
    static std::set<std::string>& texts = *new std::set<std::string>;
    const char* kept = text;
    TaskBeginMutex();
    try {
        const std::string full = convert(text, measured);
        auto found = texts.find(full);
        if (found == texts.end() && texts.size() < kResDebugTexts) found = texts.insert(full).first;
        if (found != texts.end()) kept = found->c_str();
    } catch (const std::bad_alloc&) {
        kept = text;
    }
    TaskEndMutex();
    return kept;
}

// Logs a lock warning when a resource is given and it has no error yet.
void Warn(MP_RESOURCE_ST* resource, const char* text, uint32_t measured)
{
    if (!resource || resource->err.code != 0) return;
    _mp_res_log_error(resource, HLC_ERR_RESTRICTED, KeptText(text, measured));
}

// Programs one clock register of the ICD2061A from a frequency in Hz.
void ProgramClock(uint32_t reg, uint32_t hz)
{
    mpPrvSendIcd2061(mp_dig_calc_icd2061(reg, hz / 1000, 0));
}

// Steps 1-7 of both start procedures: timer 2 and the timer/reset lines.
void StartTimers(uint32_t t2scnt, uint32_t exp2s, uint32_t t2ctl, uint32_t misctl)
{
    Write(DIG_T2SCNT, t2scnt);
    Write(DIG_EXP2S, exp2s);
    Write(DIG_T2CTL, t2ctl);
    Write(DIG_MISCTL, misctl);
    Bits(DIG_MISCTL, 0, 0x30);
    Bits(DIG_MISCTL, 0, 0x80);
    Bits(DIG_T2CTL, 0x60, 0x90);
    Bits(DIG_MISCTL, 0x20, 0x10);
    Bits(DIG_TMRCLR, 0x70, 0x80);
    Bits(DIG_TMRCLR, 0x200, 0);
    Bits(DIG_SRSCTL, 0x200, 0);
    Bits(DIG_SRSCTL, 0, 0x200);
    Bits(DIG_TMRCLR, 0, 0x200);
    Bits(DIG_MISCTL, 0x80, 0);
}

} // namespace

// ---- chip writes through the shadow ------------------------------------------------------

uint32_t mpPrvDefaultFreq()
{
    if (g_defaultFreq == 0) g_defaultFreq = mp_dig_calc_icd2061(0, kMeasureUsrClkHz / 1000, 0);
    return g_defaultFreq;
}

void mpPrvLoadIcs1522Reg(uint32_t value, int32_t reg)
{
    if (reg < 0 || reg > 6) return;
    Store(ICS1522REG(static_cast<uint32_t>(reg)), value);
    mp_dig_set_ics1522_reg(value, reg);
}

void mpPrvSendIcd2061(uint32_t word)
{
    const uint32_t reg = (word >> grabregs::kIcdAddressShift) & grabregs::kIcdAddressMask;
    if (reg <= 3) Store(IcdWordSlot(reg), word);
    mp_dig_set_icd2061(word);
}

// ---- measurement ---------------------------------------------------------------------------

int mp_dig_pclk_ok(uint32_t expectedKHz, double tolerance, uint32_t* measured)
{
    const uint32_t vtotal = Live(DIG_VTOTAL);
    const uint32_t exp1s = Live(DIG_EXP1S);
    const uint32_t t1scnt = Live(DIG_T1SCNT);
    const uint32_t t1ctl = Live(DIG_T1CTL);
    const uint32_t misctl = Live(DIG_MISCTL);
    const uint32_t srsctl = Live(DIG_SRSCTL);
    const uint32_t tmrclr = Live(DIG_TMRCLR);

    Write(DIG_VTOTAL, 0xFFFF);
    Bits(DIG_PSGCFG, kPsgPclkTest, 0);

    const uint32_t usrclk = Live(INFO_USRCLK0);
    const bool switchClock = usrclk != kMeasureUsrClkHz;
    if (switchClock) {
        mpPrvSendIcd2061(mpPrvDefaultFreq());
        mp_time_sleep(0.01);
    }

    // Timer 1 opens a window of known length over which the module counts pixel clocks.
    Write(DIG_T1SCNT, 20000);
    Write(DIG_EXP1S, 10002);
    Write(DIG_T1CTL, 0x175);
    Bits(DIG_MISCTL, 0x2, 0x1);
    Bits(DIG_TMRCLR, 0x7, 0x8);
    Bits(DIG_TMRCLR, 0x100, 0);
    Bits(DIG_SRSCTL, 0, 0x100);
    Bits(DIG_SRSCTL, 0x100, 0);
    Bits(DIG_SRSCTL, 0, 0x100);
    Bits(DIG_TMRCLR, 0, 0x100);
    Bits(DIG_SRSCTL, kSrsVerticalReset, 0);
    Bits(DIG_SRSCTL, 0, kSrsVerticalReset);

    const double start = mp_time_clock(0.0);
    Bits(DIG_MISCTL, 0, 0x4);
    Bits(DIG_MISCTL, 0x4, 0);

    bool failed = false;
    bool timedOut = false;
    uint32_t started = 0;
    uint32_t running = 1;
    int stable = 0;
    uint32_t last = 0;
    for (;;) {
        const uint32_t status = (Hardware(DIG_T1CTL) & grabregs::kTimerOutput) ? 1 : 0;
        const uint32_t counter = Hardware(kPclkCounterSlot);
        if (counter > kPclkCounterLimit) {
            Bits(DIG_SRSCTL, kSrsVerticalReset, 0);
            failed = true;
        }
        if (counter != 0 && counter == last)
            ++stable;
        else
            stable = 0;
        if (started == 0 && stable < kStablePolls)
            started = status;
        else
            running = status;
        if (counter != 0) last = counter;
        if (running == 0) break;
        if (mp_time_clock(start) >= kMeasureWindow) {
            timedOut = true;
            break;
        }
    }

    bool passed = false;
    if (!timedOut && !failed) {
        const uint32_t counter = Hardware(kPclkCounterSlot);
        if (measured) *measured = counter;
        // A clock expected at 0 kHz cannot be told from a stopped one: never a pass.
        if (expectedKHz != 0) {
            const double deviation = (static_cast<double>(expectedKHz) - static_cast<double>(counter)) /
                                     static_cast<double>(expectedKHz) * 100.0;
            passed = deviation >= -tolerance && deviation <= tolerance;
        }
    }

    if (switchClock) {
        mpPrvSendIcd2061(mp_dig_calc_icd2061(0, usrclk / 1000, 0));
        mp_time_sleep(0.01);
    }
    Write(DIG_EXP1S, exp1s);
    Write(DIG_T1SCNT, t1scnt);
    Write(DIG_VTOTAL, vtotal);
    Store(DIG_MISCTL, misctl);
    Store(DIG_TMRCLR, tmrclr);
    Store(DIG_SRSCTL, srsctl);
    Store(DIG_T1CTL, t1ctl);
    mp_dig_reset_timer1(nullptr);
    Bits(DIG_PSGCFG, 0, kPsgPclkTest);
    Bits(DIG_SRSCTL, kSrsVerticalReset, 0);
    Bits(DIG_SRSCTL, 0, kSrsVerticalReset);
    return passed ? 1 : 0;
}

int mp_dig_wait_pll_lock(uint32_t expectedKHz)
{
    uint32_t measured = 0;
    if (mp_dig_pclk_ok(expectedKHz, 0.5, &measured)) return 0;
    for (int i = 0; i < 20; ++i) {
        mp_time_sleep(0.04);
        if (mp_dig_pclk_ok(expectedKHz, 0.5, &measured)) return 0;
    }
    return -1;
}

int mp_dig_wait_pll_lock_new(uint32_t expectedKHz, double lineTime, double tolerance, uint32_t* measured)
{
    if (mp_dig_pclk_ok(expectedKHz, tolerance, measured)) return 0;
    const double pause = TenLines(lineTime);
    for (int i = 0; i < 9; ++i) {
        mp_time_sleep(pause);
        if (mp_dig_pclk_ok(expectedKHz, tolerance, measured)) return 0;
    }
    return -4;
}

int mp_dig_get_pclk(double* mhz)
{
    uint32_t measured = 0;
    const bool ok = mp_dig_pclk_ok(Live(INFO_PIXCLK) / 1000, 0.5, &measured) != 0;
    if (mhz) *mhz = ok ? measured * 0.001 : 0.0;
    return 0;
}

// ---- relock decision and start procedures ----------------------------------------------------

void prelock(_MP_CAM_ST_0* camera, int* relock)
{
    if (!camera || !relock) return;
    const uint32_t misc = Rec(camera, INFO_MISC);
    if (misc & kMiscNewPath) {
        for (uint32_t r = 0; r < 7; ++r)
            if (Rec(camera, ICS1522REG(r)) != Live(ICS1522REG(r))) *relock = 1;
        const uint32_t x = (Rec16(camera, DIG_GRABCTL) ^ Live16(DIG_GRABCTL)) & 0xFFFF;
        const uint32_t extSync = (Rec16(camera, DIG_NGCTL) >> 8) & 0x7;
        if ((x & 0xF000) || Rec16(camera, DIG_NGCTL) != Live16(DIG_NGCTL) || ((x & 0x30) && extSync > 2)) {
            if (!(Rec(camera, SICS1522REG(5)) & 1)) {
                if (Rec16(camera, DIG_HTOTAL) != Live16(DIG_HTOTAL) || Rec16(camera, DIG_HSPLLF) != Live16(DIG_HSPLLF) ||
                    Rec16(camera, DIG_HEPLLF) != Live16(DIG_HEPLLF) || Rec16(camera, DIG_HVRCTL) != Live16(DIG_HVRCTL))
                    *relock = 1;
            } else if (Rec16(camera, DIG_GPCTL) != Live16(DIG_GPCTL)) {
                *relock = 1;
            }
        }
        return;
    }
    if (!(Rec16(camera, DIG_GRABCTL) & kGrabPll)) return;
    const uint32_t live = Live16(DIG_GRABCTL);
    if (((Rec16(camera, DIG_GRABCTL) ^ live) & kGrabSourceMask) || !(live & kGrabPll)) *relock = 1;
    const uint32_t p = Rec(camera, INFO_PIXCLK);
    const uint32_t liveP = Live(INFO_PIXCLK);
    const uint32_t h = Rec16(camera, DIG_HTOTAL);
    const uint32_t liveH = Live16(DIG_HTOTAL);
    // Within a tenth of the live clock and line length the running lock holds.
    const bool nearP = p >= liveP - liveP / 10 && p <= liveP + liveP / 10;
    const bool nearH = h >= liveH - liveH / 10 && h <= liveH + liveH / 10;
    if (!nearP || !nearH) *relock = 1;
}

void mp_dig_start_pll(_MP_CAM_ST_0* camera)
{
    StartTimers(Rec16(camera, SDIG_T2SCNT), Rec16(camera, SDIG_EXP2S), Rec16(camera, SDIG_T2CTL),
                Rec16(camera, SDIG_MISCTL));
    Write(DIG_HTOTAL, Rec16(camera, SDIG_HTOTAL));
    Write(DIG_GRABCTL, Rec16(camera, SDIG_GRABCTL));
    Write(DIG_PSGCFG, Rec16(camera, SDIG_PSGCFG));
    mp_dig_load_start_ics1522(camera, 0);
    Write(DIG_HSSYNC, Rec16(camera, SDIG_HSSYNC));
    Write(DIG_HESYNC, Rec16(camera, SDIG_HESYNC));
    Write(DIG_HVRCTL, Rec16(camera, SDIG_HVRCTL));
    Write(DIG_HSPLLF, Rec16(camera, SDIG_HSPLLF));
    Write(DIG_HEPLLF, Rec16(camera, SDIG_HEPLLF));
}

void mp_dig_start_pll_new(_MP_CAM_ST_0* /*camera*/)
{
    StartTimers(kFixedT2Scnt, kFixedExp2s, kFixedT2Ctl, kFixedMisctl);
    Write(DIG_GRABCTL, kFixedGrabctl);
    for (int32_t r = 0; r < 7; ++r) mpPrvLoadIcs1522Reg(kFixedIcs[r], r);
}

// ---- ICS1522 and ICD2061A loaders ----------------------------------------------------------

void mp_dig_load_start_ics1522(_MP_CAM_ST_0* camera, int32_t mode)
{
    for (uint32_t r = 0; r < 7; ++r) {
        const uint32_t value = Rec(camera, SICS1522REG(r));
        if (mode == 0 || value != Live(ICS1522REG(r))) mpPrvLoadIcs1522Reg(value, static_cast<int32_t>(r));
    }
}

void mp_dig_load_ics1522(_MP_CAM_ST_0* camera, int32_t mode)
{
    if (mode == 0) {
        uint32_t v[7];
        for (uint32_t r = 0; r < 7; ++r) v[r] = Rec(camera, ICS1522REG(r));
        const uint32_t misc = Rec(camera, INFO_MISC);
        const bool prelockBit = (Rec(camera, SICS1522REG(5)) & 1) != 0;
        if ((misc & kMiscNewPath) && (misc & kMiscSecondStart) && prelockBit) {
            // The feedback divider follows the line length; longer lines divide the
            // reference down through register 5's post-scaler bits 6-7.
            const uint32_t h = Rec16(camera, DIG_HTOTAL);
            uint32_t divider = 0;
            int range = -1;
            if (h < 64) {
                divider = h;
            } else if (h <= 2048) {
                divider = h;
                range = 0xC0;
            } else if (h <= 4096) {
                divider = h / 2;
                range = 0x80;
            } else if (h <= 8192) {
                divider = h / 4;
                range = 0x40;
            } else if (h <= 16384) {
                divider = h / 8;
                range = 0x00;
            } else {
                range = -2;
            }
            if (range != -2) {
                v[0] = (v[0] & ~0x7FFu) | (divider & 0x7FF);
                if (range >= 0) v[5] = (v[5] & ~0xC0u) | static_cast<uint32_t>(range);
            }
        } else if ((misc & kMiscNewPath) && !(misc & kMiscSecondStart) && prelockBit) {
            v[5] |= 1;
        }
        for (int32_t r = 0; r < 7; ++r) mpPrvLoadIcs1522Reg(v[r], r);
        return;
    }
    bool changed = false;
    for (uint32_t r = 0; r < 7; ++r) {
        const uint32_t value = Rec(camera, ICS1522REG(r));
        if (value == Live(ICS1522REG(r))) continue;
        mpPrvLoadIcs1522Reg(value, static_cast<int32_t>(r));
        changed = true;
    }
    if (changed && mode != 3) mp_time_sleep(0.05);
}

void mp_dig_load_icd2061(_MP_CAM_ST_0* camera, int32_t mode)
{
    const uint32_t sys = Rec(camera, INFO_GRBSYSCLK);
    const uint32_t usr = Rec(camera, INFO_USRCLK0);
    bool programmed = false;
    if (mode == 0 || sys != Live(INFO_GRBSYSCLK)) {
        Store(INFO_GRBSYSCLK, sys);
        ProgramClock(grabregs::kIcdSystemClockRegister, sys);
        programmed = true;
    }
    if (mode == 0 || usr != Live(INFO_USRCLK0)) {
        Store(INFO_USRCLK0, usr);
        ProgramClock(0, usr);
        programmed = true;
    }
    if (programmed) mp_time_sleep(0.01);
}

void mp_dig_togPllFB()
{
    const uint32_t b = Live16(DIG_PLLCTL) & kPllFeedback;
    Bits(DIG_PLLCTL, b, kPllFeedback);
    mp_time_sleep(0.001);
    Bits(DIG_PLLCTL, b ^ kPllFeedback, kPllFeedback);
    mp_time_sleep(0.001);
    Bits(DIG_PLLCTL, b, kPllFeedback);
}

// ---- final lock ----------------------------------------------------------------------------

void mp_dig_set_pll(MP_RESOURCE_ST* resource, _MP_CAM_ST_0* camera)
{
    static const char kNotLocked[] = "Warning: PLL not locked; PLL freq (kHz): ";
    static const char kIntermediate[] = "Warning: PLL intermediate lock not successful; PLL freq (kHz): ";

    mp_dig_load_ics1522(camera, 0);
    restoreSdig(camera);
    const uint32_t misc = Rec(camera, INFO_MISC);
    if (!(misc & kMiscNewPath)) {
        mp_time_sleep(0.1);
        return;
    }
    const uint32_t pixclk = Rec(camera, INFO_PIXCLK);
    const double t = LineTime(Rec16(camera, DIG_HTOTAL), pixclk);
    const uint32_t reference = pixclk / 1000;
    uint32_t measured = 0;

    if (!(Rec16(camera, DIG_GRABCTL) & kGrabPll)) {
        if (!(Rec16(camera, DIG_HVRCTL) & kHvrHorizontalReset)) {
            Bits(DIG_SRSCTL, kSrsHorizontalReset, 0);
            Bits(DIG_SRSCTL, 0, kSrsHorizontalReset);
        }
        return;
    }
    if (!(Rec(camera, SICS1522REG(5)) & 1) && !(misc & kMiscSecondStart)) {
        mp_time_sleep(TenLines(t));
        if (mp_dig_wait_pll_lock_new(reference, t, 1.0, &measured) == -4) Warn(resource, kNotLocked, measured);
        return;
    }
    // Intermediate lock: the horizontal reset taken from the source the clock follows.
    const uint32_t k = (Rec16(camera, DIG_GRABCTL) & kGrabSourceMask) >> kGrabSourceShift;
    uint32_t hvr = Live16(DIG_HVRCTL);
    if (k == 2)
        hvr = (hvr & ~0x7u) | 0x8;
    else if (k == 4)
        hvr = (hvr & ~0x2u) | 0x5;
    else if (k == 5)
        hvr = (hvr & ~0x3u) | 0xC;
    Write(DIG_HVRCTL, hvr);
    mp_time_sleep(TenLines(t));
    if (mp_dig_wait_pll_lock_new(reference, t, 5.0, &measured) == -4) Warn(resource, kIntermediate, measured);

    Write(DIG_HVRCTL, Rec16(camera, DIG_HVRCTL));
    const uint32_t reg5 = Rec(camera, ICS1522REG(5));
    mpPrvLoadIcs1522Reg(reg5, 5);
    if (!(reg5 & 1)) {
        mp_time_sleep(TenLines(t));
        if (mp_dig_wait_pll_lock_new(reference, t, 1.0, &measured) == -4) Warn(resource, kNotLocked, measured);
    }
}
