// Exposure generators, software triggers, capture source and polarity, the capture arming
// of a grab and the triggered capture.
#include "exposure.h"

#include "analog.h"
#include "bufid.h"
#include "camrec.h"
#include "camuart.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "reqres.h"
#include "serialchips.h"

using namespace cam0;

namespace {

// DIG_MISCTL bits of the capture logic.
constexpr uint32_t kMiscCaptureTrigger = 1u << 13;  // capture software trigger line
constexpr uint32_t kMiscCaptureEnable = 1u << 14;
// DIG_CPTCTL fields.
constexpr uint32_t kCaptPolarity = 1u << 9;
constexpr uint32_t kCaptSourceShift = 10;
constexpr uint32_t kCaptSourceMask = 0x7u << kCaptSourceShift;
constexpr uint32_t kCaptSoftware = 5;
// Timer control register fields.
constexpr uint32_t kCtlTrigShift = 4;
constexpr uint32_t kCtlTrigMask = 0x7u << kCtlTrigShift;
constexpr uint32_t kCtlTrigPolarity = 1u << 7;
constexpr uint32_t kCtlTriggered = 1u << 8;
constexpr uint32_t kTrigChained = 5;   // started by the other timer
constexpr uint32_t kTrigArmedCode = 6;
constexpr uint32_t kTrigSoftware = 7;
// ORLOGREG_GRABCTRL trigger polarity pair.
constexpr uint32_t kGrabTrig6 = 1u << 6;
constexpr uint32_t kGrabTrig7 = 1u << 7;

constexpr double kFire = -9997.0;

struct TimerBits {
    uint32_t control;      // slot of the timer control register
    uint32_t trigEnable;   // DIG_MISCTL bits
    uint32_t arm;
    uint32_t software;
    uint32_t run;
    uint32_t captureCode;  // capture source code of the timer
    uint32_t softMask;     // mask bit of mp_dig_sw_toggle_signals
    uint32_t strobe;       // clear strobe in DIG_TMRCLR and DIG_SRSCTL
    uint32_t clearPolarity;
    uint32_t clearSource;
};
constexpr TimerBits kTimers[2] = {
    {DIG_T1CTL, 1u << 0, 1u << 1, 1u << 2, 1u << 3, 2, 1, 1u << 8, 1u << 3, 0x07},
    {DIG_T2CTL, 1u << 4, 1u << 5, 1u << 6, 1u << 7, 3, 2, 1u << 9, 1u << 7, 0x70},
};

uint32_t Live(uint32_t slot) { return mpPrvDigGet(nullptr, slot) & 0xFFFF; }
void Write(uint32_t slot, uint32_t value) { mpPrvDigPut(nullptr, slot, 0xFFFF, value); }
uint32_t TrigCode(_MP_CAM_ST_0* camera, int timer)
{
    return (mpPrvDigGet(camera, kTimers[timer].control) & kCtlTrigMask) >> kCtlTrigShift;
}
int32_t Rec(_MP_CAM_ST_0* camera, uint32_t slot) { return static_cast<int32_t>(CamSlotAt(camera, slot)->value); }

// Generators handled so far in one call: bit 0 timer 1, bit 1 timer 2.
bool FirstVisit(uint32_t* handled, int timer)
{
    if (*handled & (1u << timer)) return false;
    *handled |= 1u << timer;
    return true;
}

void StartGenerator(_MP_CAM_ST_0* camera, int timer, uint32_t* handled)
{
    if (!FirstVisit(handled, timer)) return;
    const TimerBits& t = kTimers[timer];
    if (((Live(DIG_CPTCTL) & kCaptSourceMask) >> kCaptSourceShift) == t.captureCode)
        Write(DIG_MISCTL, Live(DIG_MISCTL) | kMiscCaptureEnable);
    const uint32_t control = Live(t.control);
    if (!(control & kCtlTriggered)) {
        Write(DIG_MISCTL, Live(DIG_MISCTL) | t.run | t.arm);
        return;
    }
    Write(DIG_MISCTL, Live(DIG_MISCTL) | t.trigEnable);
    const uint32_t code = (control & kCtlTrigMask) >> kCtlTrigShift;
    if (code == kTrigChained)
        StartGenerator(camera, 1 - timer, handled);
    else if (code == kTrigSoftware)
        mp_dig_sw_toggle_signals(camera, t.softMask);
}

// Stops a generator and pulses its clear strobe; `restoreMisc` puts DIG_MISCTL back
// afterwards instead of following a chain.
void StopGenerator(_MP_CAM_ST_0* camera, int timer, uint32_t* handled, bool restoreMisc)
{
    if (!FirstVisit(handled, timer)) return;
    const TimerBits& t = kTimers[timer];
    const uint32_t found = Live(DIG_MISCTL);
    Write(DIG_MISCTL, found & ~(t.run | t.trigEnable | t.arm));

    const uint32_t clear = Live(DIG_TMRCLR);
    const uint32_t resets = Live(DIG_SRSCTL);
    Write(DIG_TMRCLR, (clear | t.strobe) & ~t.clearPolarity);
    Write(DIG_TMRCLR, Live(DIG_TMRCLR) | t.clearSource);
    Write(DIG_SRSCTL, resets | t.strobe);

    const uint32_t code = TrigCode(nullptr, timer);
    if (code == kTrigArmedCode) {
        // An armed timer is stopped by one software trigger on a triggered set-up.
        const uint32_t misc = Live(DIG_MISCTL);
        const uint32_t control = Live(t.control);
        Write(t.control, (control | kCtlTrigMask) & ~kCtlTrigPolarity);
        Write(DIG_MISCTL, (misc | t.trigEnable) & ~t.arm);
        Write(DIG_MISCTL, Live(DIG_MISCTL) & ~t.software);
        Write(DIG_MISCTL, Live(DIG_MISCTL) | t.software);
        Write(t.control, control);
        Write(DIG_MISCTL, misc);
    }
    Write(DIG_TMRCLR, clear);
    Write(DIG_SRSCTL, resets);
    if (restoreMisc)
        Write(DIG_MISCTL, found);
    else if (code == kTrigChained)
        StopGenerator(camera, 1 - timer, handled, false);
}

void Start(_MP_CAM_ST_0* camera, int timer)
{
    uint32_t handled = 0;
    StartGenerator(camera, timer, &handled);
}

void Stop(_MP_CAM_ST_0* camera, int timer)
{
    uint32_t handled = 0;
    StopGenerator(camera, timer, &handled, false);
}

// The end of an arming or a triggered capture: starts the generators that the capture-source
// choice left (both together when the timers are synchronised and neither was started).
void StartRemaining(int sync, uint32_t marks, int32_t s1, int32_t s2)
{
    if (sync == 1 && marks == 0) {
        mp_dig_gen_exp_sync(nullptr);
        return;
    }
    if (s1 != kTrigNone && !(marks & 1)) {
        marks |= 1;
        if (s1 == kTrigTimer1) marks |= 2;
        mp_dig_gen_exp1(nullptr);
    }
    if (s2 != kTrigNone && !(marks & 2)) {
        marks |= 2;
        if (s2 == kTrigTimer2) marks |= 1;
        mp_dig_gen_exp2(nullptr);
    }
}

int ExposureSwitch(_MP_CAM_ST_0* camera, double* value, int32_t mode, int which)
{
    if (camera || !value) return -1;
    if (mode != 0) return 0;
    const bool enable = *value == kDigEnable;
    if (!enable && *value != kDigDisable) return 0;
    if (which == 2) {
        enable ? mp_dig_gen_exp_sync(nullptr) : mp_dig_dis_exp_sync(nullptr);
        return 0;
    }
    // A generator chained to this one (the other's trigger source code 5) is the one run.
    const int other = 1 - which;
    const int timer = TrigCode(nullptr, other) == kTrigChained ? other : which;
    enable ? Start(nullptr, timer) : Stop(nullptr, timer);
    return 0;
}

} // namespace

// ---- generators ------------------------------------------------------------------------

void mp_dig_gen_exp1(_MP_CAM_ST_0* camera) { Start(camera, 0); }
void mp_dig_gen_exp2(_MP_CAM_ST_0* camera) { Start(camera, 1); }
void mp_dig_dis_exp1(_MP_CAM_ST_0* camera) { Stop(camera, 0); }
void mp_dig_dis_exp2(_MP_CAM_ST_0* camera) { Stop(camera, 1); }

void mp_dig_reset_timer1(_MP_CAM_ST_0* camera)
{
    uint32_t handled = 0;
    StopGenerator(camera, 0, &handled, true);
}

void mp_dig_reset_timer2(_MP_CAM_ST_0* camera)
{
    uint32_t handled = 0;
    StopGenerator(camera, 1, &handled, true);
}

void mp_dig_gen_exp_sync(_MP_CAM_ST_0* camera)
{
    const uint32_t source = (Live(DIG_CPTCTL) & kCaptSourceMask) >> kCaptSourceShift;
    if (source == kTimers[0].captureCode || source == kTimers[1].captureCode)
        Write(DIG_MISCTL, Live(DIG_MISCTL) | kMiscCaptureEnable);
    const bool triggered1 = (Live(DIG_T1CTL) & kCtlTriggered) != 0;
    const bool triggered2 = (Live(DIG_T2CTL) & kCtlTriggered) != 0;
    if (triggered1 && triggered2) {
        Write(DIG_MISCTL, Live(DIG_MISCTL) | kTimers[0].trigEnable | kTimers[1].trigEnable);
        if (TrigCode(nullptr, 0) == kTrigSoftware && TrigCode(nullptr, 1) == kTrigSoftware)
            mp_dig_sw_toggle_signals(camera, 3);
    } else if (!triggered1 && !triggered2) {
        Write(DIG_MISCTL, Live(DIG_MISCTL) | kTimers[0].run | kTimers[1].run | kTimers[0].arm | kTimers[1].arm);
    }
}

void mp_dig_dis_exp_sync(_MP_CAM_ST_0*)
{
    const TimerBits& a = kTimers[0];
    const TimerBits& b = kTimers[1];
    Write(DIG_MISCTL, Live(DIG_MISCTL) & ~(a.run | b.run | a.arm | b.arm | a.trigEnable | b.trigEnable));
    const uint32_t clear = Live(DIG_TMRCLR);
    const uint32_t resets = Live(DIG_SRSCTL);
    Write(DIG_TMRCLR, (clear | a.strobe | b.strobe) & ~(a.clearPolarity | b.clearPolarity));
    Write(DIG_TMRCLR, Live(DIG_TMRCLR) | a.clearSource | b.clearSource);
    Write(DIG_SRSCTL, resets | a.strobe | b.strobe);
    Write(DIG_TMRCLR, clear);
    Write(DIG_SRSCTL, resets);
}

void mp_dig_sw_toggle_signals(_MP_CAM_ST_0* camera, uint32_t mask)
{
    if (camera) return;
    uint32_t lines = 0, active = 0;
    if (mask & 1) {
        lines |= kTimers[0].software;
        if (Live(DIG_T1CTL) & kCtlTrigPolarity) active |= kTimers[0].software;
    }
    if (mask & 2) {
        lines |= kTimers[1].software;
        if (Live(DIG_T2CTL) & kCtlTrigPolarity) active |= kTimers[1].software;
    }
    if (mask & 4) {
        lines |= kMiscCaptureTrigger;
        if (Live(DIG_CPTCTL) & kCaptPolarity) active |= kMiscCaptureTrigger;
    }
    if (!lines) return;
    Write(DIG_MISCTL, (Live(DIG_MISCTL) & ~lines) | active);
    Write(DIG_MISCTL, (Live(DIG_MISCTL) & ~lines) | (~active & lines));
}

int mp_dig_sync_timers()
{
    const uint32_t a = TrigCode(nullptr, 0);
    return a == TrigCode(nullptr, 1) && a != kTrigChained ? 1 : 0;
}

uint32_t mp_dig_sync_hw_trigger(_MP_CAM_ST_0* camera)
{
    const uint32_t source = (mpPrvDigGet(camera, DIG_CPTCTL) & kCaptSourceMask) >> kCaptSourceShift;
    if (source > 1) return 0;
    return (TrigCode(camera, 0) == source ? 1u : 0u) | (TrigCode(camera, 1) == source ? 2u : 0u);
}

// ---- controls ------------------------------------------------------------------------------

int mp_dig_exp1(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureSwitch(camera, value, mode, 0); }
int mp_dig_exp2(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureSwitch(camera, value, mode, 1); }
int mp_dig_exp_sync(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return ExposureSwitch(camera, value, mode, 2);
}

int mp_dig_capt_src(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = Rec(camera, INFO_TRIGSRC);
        return 0;
    }
    if (mode != 0) return 0;
    if (mpPrvIsDefault(*value)) {
        CamSlotAt(camera, INFO_TRIGSRC)->value = mpPrvDigFile(camera, INFO_TRIGSRC);
        mpPrvDigPut(camera, DIG_CPTCTL, kCaptSourceMask, mpPrvDigFile(camera, DIG_CPTCTL));
        return 0;
    }
    const int32_t v = mpPrvToInt(*value);
    const uint32_t low = static_cast<uint32_t>(v) & 0xFFFF;
    const uint32_t selector = static_cast<uint32_t>(v) & 0xFFFF0000u;
    uint32_t code;
    bool computed = false;
    if (*value == kDigNone || *value == 0.0) {
        code = kCaptSoftware;
    } else if (low == 4) {
        code = selector == 0 || selector == 0x10000 ? 2 : selector == 0x20000 ? 3 : 4;
        computed = true;
    } else if (low == 1) {
        code = selector == 0x100000 ? 1 : selector == 0x200000 ? 0 : (Rec(camera, INFO_INPUT) == 0 ? 1 : 0);
        computed = true;
    } else {
        code = static_cast<uint32_t>(v) & 7;
    }
    CamSlotAt(camera, INFO_TRIGSRC)->value = static_cast<uint32_t>(v);
    mpPrvDigPut(camera, DIG_CPTCTL, kCaptSourceMask, code << kCaptSourceShift);
    if (computed) *value = code;
    return 0;
}

int mp_dig_capt_pol(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!value) return -1;
    if (mode == 1) {
        const bool high = (mpPrvDigGet(camera, DIG_CPTCTL) & kCaptPolarity) != 0;
        const uint32_t pair = camera ? CamSlotAt(camera, ORLOGREG_GRABCTRL)->value & (kGrabTrig6 | kGrabTrig7)
                                     : kGrabTrig6 | kGrabTrig7;
        const bool single = pair == kGrabTrig7;
        *value = high ? (single ? 2.0 : 0.0) : (single ? 3.0 : 1.0);
        return 0;
    }
    if (mode != 0) return 0;
    uint32_t polarity;
    uint32_t pair = 0;
    bool changePair = true;
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        polarity = mpPrvDigFile(camera, DIG_CPTCTL) & kCaptPolarity;
        changePair = false;
    } else if (*value == 0.0 || *value == 1.0) {
        polarity = *value == 0.0 ? kCaptPolarity : 0;
        pair = kGrabTrig6 | kGrabTrig7;
    } else if (*value == 2.0 || *value == 3.0) {
        polarity = *value == 2.0 ? kCaptPolarity : 0;
        pair = kGrabTrig7;
    } else {
        return 0;  // not a polarity: ignored
    }
    mpPrvDigPut(camera, DIG_CPTCTL, kCaptPolarity, polarity);
    if (camera && changePair) {
        CamSlot* grab = CamSlotAt(camera, ORLOGREG_GRABCTRL);
        grab->value = (grab->value & ~(kGrabTrig6 | kGrabTrig7)) | pair;
    }
    return 0;
}

int mp_dig_sw_capt(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (camera) return 0;
    if (!value) return -1;
    if (mode != 0) return 0;
    if (*value == kDigEnable) {
        Write(DIG_MISCTL, Live(DIG_MISCTL) | kMiscCaptureEnable);
        mp_dig_sw_toggle_signals(nullptr, 4);
    } else if (*value == kDigDisable) {
        const uint32_t level = (Live(DIG_CPTCTL) & kCaptPolarity) ? kMiscCaptureTrigger : 0;
        Write(DIG_MISCTL, (Live(DIG_MISCTL) & ~kMiscCaptureTrigger) | level);
    }
    return 0;
}

// ---- capture arming and triggered capture ----------------------------------------------------

uint32_t calcVar(_MP_CAM_ST_0* camera, int32_t t, int sync, int32_t s1, int32_t s2, uint32_t marks)
{
    if (t == 0x20004) {
        marks |= 2;
        if (sync != 1) {
            if (s2 == kTrigTimer2) marks |= 1;
            mp_dig_gen_exp2(nullptr);
        } else {
            marks |= 1;
            mp_dig_gen_exp_sync(nullptr);
        }
    } else if (t == 4 || t == 0x10004) {
        marks |= 1;
        if (sync != 1) {
            if (s1 == kTrigTimer1) marks |= 2;
            mp_dig_gen_exp1(nullptr);
        } else {
            marks |= 2;
            mp_dig_gen_exp_sync(nullptr);
        }
    } else if (t == 1 || t == 0x100001 || t == 0x200001) {
        const uint32_t h = mp_dig_sync_hw_trigger(camera);
        uint32_t misc = Live(DIG_MISCTL);
        if (h == 3) {
            marks |= 3;
            misc |= kTimers[0].trigEnable | kTimers[1].trigEnable;
        } else if (h == 1) {
            marks |= 1;
            if (s2 == kTrigTimer2) marks |= 2;
            misc |= kTimers[0].trigEnable;
        } else if (h == 2) {
            marks |= 2;
            if (s1 == kTrigTimer1) marks |= 1;
            misc |= kTimers[1].trigEnable;
        }
        Write(DIG_MISCTL, misc | kMiscCaptureEnable);
    }
    return marks;
}

void GrbCapt(_MP_CAM_ST_0* camera, int32_t captureMode, int32_t count, uint32_t timerFlags)
{
    if (!camera) return;
    Write(DIG_TMRCLR, Rec(camera, DIG_TMRCLR) & 0xFFFF);
    uint32_t m = static_cast<uint32_t>(Rec(camera, DIG_MISCTL)) & 0xFFFF;
    const int32_t t = Rec(camera, INFO_TRIGSRC);
    const int32_t s1 = Rec(camera, INFO_T1TRGSRC);
    const int32_t s2 = Rec(camera, INFO_T2TRGSRC);
    if (captureMode != 1 && t == kTrigNone && s1 == kTrigNone && s2 == kTrigNone) {
        Write(DIG_MISCTL, m);
        return;
    }
    if (s1 != kTrigNone && (timerFlags & 1)) {
        Write(DIG_MISCTL, m);
        mp_dig_reset_timer1(nullptr);
    }
    if (s2 != kTrigNone && (timerFlags & 2)) {
        Write(DIG_MISCTL, m);
        mp_dig_reset_timer2(nullptr);
    }
    const bool software = captureMode == 1 || s1 == 0 || s2 == 0 || t == 0;

    // A software capture on a single-edge trigger pair starts with the capture line at its
    // active level.
    const uint32_t grab = CamSlotAt(camera, ORLOGREG_GRABCTRL)->value;
    const bool lineHigh = (captureMode == 1 || t == 0) && (grab & kGrabTrig7) && !(grab & kGrabTrig6) &&
                          (Rec(camera, DIG_CPTCTL) & kCaptPolarity);
    CamSlot* recordMisc = CamSlotAt(camera, DIG_MISCTL);
    if (lineHigh) {
        m |= kMiscCaptureTrigger;
        recordMisc->value |= kMiscCaptureTrigger;
    } else {
        m &= ~kMiscCaptureTrigger;
        recordMisc->value &= ~kMiscCaptureTrigger;
    }

    uint32_t w = m;
    const bool manyFrames = Rec(camera, INFO_TYPE) == 1 || count == -1 || count > 1;
    if (s1 != kTrigNone) {
        if (s1 == kTrigTimer1 || s1 == kTrigArmed || manyFrames) w |= kTimers[0].arm;
        if (s1 == kTrigArmed) w |= kTimers[0].run;
    }
    if (s2 != kTrigNone) {
        if (s2 == kTrigTimer2 || s2 == kTrigArmed || manyFrames) w |= kTimers[1].arm;
        if (s2 == kTrigArmed) w |= kTimers[1].run;
    }
    if (software) {
        Write(DIG_MISCTL, m);
        mpPrvDigPut(nullptr, DIG_MISCTL, 0xFFFF, w, false);  // the arm bits wait in the shadow
        return;
    }
    Write(DIG_MISCTL, w);
    const int sync = s1 != kTrigNone && s2 != kTrigNone ? mp_dig_sync_timers() : 0;
    StartRemaining(sync, calcVar(camera, t, sync, s1, s2, 0), s1, s2);
}

void mpDigCaptureOnNode(uint32_t* nodeInfo, uint32_t node, _MP_CAM_ST_0* camera, int32_t command)
{
    if (!nodeInfo || !camera || command != static_cast<int32_t>(kFire)) return;
    if (!nodeInfo[kNodeInfoModulePresent] || !nodeInfo[kNodeInfoModuleLoaded]) return;
    SetToExt(node);
    const int32_t t = Rec(camera, INFO_TRIGSRC);
    const int32_t s1 = Rec(camera, INFO_T1TRGSRC);
    const int32_t s2 = Rec(camera, INFO_T2TRGSRC);
    const int sync = s1 != kTrigNone && s2 != kTrigNone ? mp_dig_sync_timers() : 0;
    uint32_t marks = 0;
    if (t == 0 || t == kTrigNone) {
        const uint32_t kept = mpPrvReadExtReg(DIG_CPTCTL) & 0xFFFF;
        Write(DIG_CPTCTL, (kept & ~kCaptSourceMask) | (kCaptSoftware << kCaptSourceShift));
        uint32_t misc = Live(DIG_MISCTL) | kMiscCaptureEnable;
        uint32_t mask = 4;
        if (s1 == 0) {
            mask = 5;
            marks |= 1;
            if (s2 == kTrigTimer2) marks |= 2;
            misc |= kTimers[0].trigEnable;
        }
        if (s2 == 0) {
            mask = s1 == 0 ? 7 : 6;
            marks |= 2;
            if (s1 == kTrigTimer1) marks |= 1;
            misc |= kTimers[1].trigEnable;
        }
        Write(DIG_MISCTL, misc);
        mp_dig_sw_toggle_signals(nullptr, mask);
        Write(DIG_CPTCTL, (Live(DIG_CPTCTL) & ~kCaptSourceMask) | (kept & kCaptSourceMask));
    } else {
        marks = calcVar(camera, t, sync, s1, s2, marks);
    }
    StartRemaining(sync, marks, s1, s2);
}

void mpDigCapture_Std(MP_RESOURCE_ST* resource, uint32_t, uint32_t camera, int32_t command)
{
    if (!resource || !resource->record || !resource->record->nodeState) return;
    _MP_BUF_ST* buffer = mp_buf_pointer(camera);
    if (!buffer || !mp_buf_valid(buffer, 2)) return;
    auto* record = static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(buffer, 0));
    uint32_t* nodeInfo = &resource->record->nodeState->nodeInfo;
    mpDigCaptureOnNode(nodeInfo, static_cast<uint32_t>(resource->record->nodeNumber) & 0xFF, record, command);
}
