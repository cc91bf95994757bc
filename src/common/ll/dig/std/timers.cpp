// Timer fields, clock-source frequencies and the exposure conversion.
#include "timers.h"

#include "analog.h"
#include "serialchips.h"

#include <cmath>

using namespace cam0;

namespace {

constexpr uint32_t kExposureTimeControl = IM_DIG_EXP_ACTIVE;
constexpr uint32_t kTimerAddsCounts = 2;      // the exposure register holds counts + 2
constexpr uint32_t kSourceMask = 0x7;         // control bits 0-2
constexpr uint32_t kTrigShift = 4;            // control bits 4-6
constexpr uint32_t kTrigMask = 0x70;
constexpr uint32_t kTriggered = 0x100;        // control bit 8
constexpr uint32_t kOutputState = 0x8000;     // control bit 15
constexpr uint32_t kOutputPolarity = 0x4000;  // control bit 14
constexpr int kMaxTries = 6;

struct Timer {
    uint32_t period;
    uint32_t exposure;
    uint32_t control;
    uint32_t delay;
    uint32_t trigSource;
    uint32_t clockSources;
};
constexpr Timer kTimers[2] = {
    {DIG_T1SCNT, DIG_EXP1S, DIG_T1CTL, INFO_T1DELAY, INFO_T1TRGSRC, INFO_T1CLKSRC},
    {DIG_T2SCNT, DIG_EXP2S, DIG_T2CTL, INFO_T2DELAY, INFO_T2TRGSRC, INFO_T2CLKSRC},
};

uint32_t Rec(const _MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
void SetRec(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t value) { CamSlotAt(camera, offset)->value = value; }

// Counts of an exposure register value: the 2 the timer adds come off only where they were
// added, so a count below 2 is not made negative.
// Mend: a stored count of 1 reads as 1, not as -1 counts (a negative exposure time).
uint32_t ExposureCounts(uint32_t stored) { return stored >= kTimerAddsCounts ? stored - kTimerAddsCounts : stored; }

bool SetsIn(int32_t mode) { return mode == 0 || mode == 2; }
bool InquiresIn(int32_t mode) { return mode == 1 || mode == 3; }

double Frequency(_MP_CAM_ST_0* camera, int timer, uint32_t source, int depth)
{
    if (!camera) return 0.0;
    if (source == kTimerOwnSource) source = Rec(camera, kTimers[timer].control) & kSourceMask;
    const double pixel = Rec(camera, INFO_PIXCLK);
    const double line = pixel / (static_cast<double>(Rec(camera, DIG_HTOTAL)) + 8.0);
    switch (source) {
    case 0:
    case 1: {
        const uint32_t f = Rec(camera, INFO_CONTPCLK);
        return f == 1 ? 0.0 : f;
    }
    case 2:
        return line;
    case 3: {
        const uint32_t type = Rec(camera, INFO_TYPE);
        if (type == 1 || type == 2) return 0.0;
        const double frame = line / (static_cast<double>(Rec(camera, DIG_VTOTAL)) + 1.0);
        return Rec(camera, INFO_MODE) == 1 ? 2.0 * frame : frame;
    }
    case 4: {
        // The other timer's period: followed one level, so two timers that count each
        // other's periods do not chase each other for ever.
        // Mend: the chain stops after one level, so two timers clocked by each other cannot recurse without end.
        if (depth > 0) return 0.0;
        const int other = 1 - timer;
        const double f = Frequency(camera, other, kTimerOwnSource, depth + 1);
        return f / (static_cast<double>(Rec(camera, kTimers[other].period)) + 1.0);
    }
    case 5:
        return Rec(camera, INFO_USRCLK0);
    case 6:
        return pixel;
    case 7:
        return Rec(camera, INFO_GRBSYSCLK);
    default:
        return 0.0;
    }
}

// Counts of one candidate source; false when they do not fit 16 bits.  The products are
// checked before truncation, so a large time cannot wrap into a small count.
// A time recomputed from a kept count (count / f) comes back through f * time as that count
// within rounding: it is taken to the nearest whole count, so a kept value stays unchanged
// (195 / 19531.25 * 19531.25 is 194.99999999999997 in doubles, which would truncate to 194).
// Mend: a kept time keeps its count, so setting only the delay does not shrink the exposure by one count each time.
double KeptCount(double product, bool kept)
{
    if (!kept) return product;
    const double nearest = std::nearbyint(product);
    return std::fabs(product - nearest) <= 1e-9 * std::fmax(1.0, std::fabs(nearest)) ? nearest : product;
}

bool Counts(double f, double exposure, double delay, bool keptE, bool keptD, uint32_t* expCount, uint32_t* delayCount,
            uint32_t* period)
{
    double e = KeptCount(f * exposure, keptE);
    if (!(e >= 1.0)) e = 1.0;
    double d = KeptCount(f * delay, keptD);
    if (!(d >= 8.0)) d = 8.0;
    const double t = e + d;
    constexpr double kLimit = 1e9;
    if (!(e < kLimit) || !(d < kLimit) || !(t < kLimit)) return false;
    const int64_t te = static_cast<int64_t>(e);
    const int64_t td = static_cast<int64_t>(d);
    const int64_t tt = static_cast<int64_t>(t);
    const int64_t exp = te + 2;
    const int64_t per = (tt == te || tt == td) ? tt : tt - 4;
    if (exp > kTimerMaxCount || per > kTimerMaxCount) return false;
    *expCount = static_cast<uint32_t>(exp);
    *delayCount = static_cast<uint32_t>(td);
    *period = static_cast<uint32_t>(per);
    return true;
}

int HandleExposure(_MP_CAM_ST_0* camera, int timer, double exposure, double delay)
{
    if (!camera) return -1;
    const Timer& t = kTimers[timer];
    const bool keepE = mpPrvIsDefault(exposure);
    const bool keepD = mpPrvIsDefault(delay);
    double current = 0.0;
    if (keepE || keepD) {
        current = Frequency(camera, timer, kTimerOwnSource, 0);
        if (current == 0.0) {
            mpPrvDigPut(camera, t.exposure, 0xFFFF, 0);
            mpPrvDigPut(camera, t.period, 0xFFFF, 0);
            SetRec(camera, t.delay, 0);
            if (keepE) exposure = 0.0;
            if (keepD) delay = 0.0;
        } else {
            if (keepE) exposure = ExposureCounts(Rec(camera, t.exposure)) / current;
            if (keepD) delay = Rec(camera, t.delay) / current;
        }
    }
    const uint32_t allowed = Rec(camera, t.clockSources);
    const uint32_t currentSource = Rec(camera, t.control) & kSourceMask;
    struct Candidate {
        uint32_t source;
        bool allowed;
    };
    const Candidate candidates[] = {
        {currentSource, current > 0.0},
        {6, (allowed & (1u << 6)) != 0},
        {5, (allowed & (1u << 5)) != 0},
        {7, (allowed & (1u << 7)) != 0},
        {2, (allowed & (1u << 2)) != 0},
        {3, (allowed & (1u << 3)) != 0},
    };
    int tries = 0;
    for (const Candidate& c : candidates) {
        if (!c.allowed) continue;
        if (tries++ >= kMaxTries) break;
        const double f = Frequency(camera, timer, c.source, 0);
        uint32_t exp = 0, del = 0, per = 0;
        if (!(f > 0.0) || !Counts(f, exposure, delay, keepE, keepD, &exp, &del, &per)) continue;
        mpPrvDigPut(camera, t.period, 0xFFFF, per);
        mpPrvDigPut(camera, t.exposure, 0xFFFF, exp);
        SetRec(camera, t.delay, del);
        mpPrvDigPut(camera, t.control, kSourceMask, c.source);
        return 0;
    }
    return -1;
}

int PeriodCount(_MP_CAM_ST_0* camera, int timer, double* value, int32_t mode)
{
    if (mode == 0 && value && mpPrvToInt(*value) > static_cast<int32_t>(kTimerMaxCount)) return -1;
    return mpPrvFieldControl(camera, MpDigField{kTimers[timer].period, 0, 16}, value, mode);
}

int ExposureActive(_MP_CAM_ST_0* camera, int timer, int32_t type, double* value, int32_t mode)
{
    if (!SetsIn(mode) && !InquiresIn(mode)) return 0;
    if (!value) return -1;
    const Timer& t = kTimers[timer];
    if ((static_cast<uint32_t>(type) & 0xFFFF) == kExposureTimeControl) {
        if (!camera) return -1;
        if (SetsIn(mode)) return HandleExposure(camera, timer, *value, kDigDefault);
        const double f = Frequency(camera, timer, kTimerOwnSource, 0);
        *value = f == 0.0 ? 0.0 : ExposureCounts(Rec(camera, t.exposure) & 0xFFFF) / f;
        return 0;
    }
    if (SetsIn(mode)) {
        if (mpPrvToInt(*value) > static_cast<int32_t>(kTimerMaxCount)) return -1;
        mpPrvDigPut(camera, t.exposure, 0xFFFF, static_cast<uint32_t>(mpPrvToInt(*value)));
        return 0;
    }
    *value = ExposureCounts(mpPrvDigGet(camera, t.exposure) & 0xFFFF);
    return 0;
}

int ExposureOutput(_MP_CAM_ST_0* camera, int timer, double* value, int32_t mode)
{
    if (mode != 1) return 0;
    if (camera || !value) return -1;
    *value = (mpPrvReadExtReg(kTimers[timer].control) & kOutputState) ? 1.0 : 0.0;
    return 0;
}

int ExposureDelay(_MP_CAM_ST_0* camera, int timer, double* value, int32_t mode)
{
    if (!SetsIn(mode) && !InquiresIn(mode)) return 0;
    if (!camera || !value) return -1;
    if (SetsIn(mode)) return HandleExposure(camera, timer, kDigDefault, *value);
    const double f = Frequency(camera, timer, kTimerOwnSource, 0);
    *value = f == 0.0 ? 0.0 : Rec(camera, kTimers[timer].delay) / f;
    return 0;
}

// The trigger-source code of a set value (not the default).
uint32_t TriggerCode(_MP_CAM_ST_0* camera, double value, int32_t v)
{
    if (value == kDigNone) return 7;
    const uint32_t bits = static_cast<uint32_t>(v);
    if ((bits & 0xFFFF) == 1) {
        const uint32_t selector = bits & 0xFFFF0000u;
        if (selector == 0x100000) return 1;
        if (selector == 0x200000) return 0;
        return Rec(camera, INFO_INPUT) == 0 ? 1 : 0;
    }
    if (value == 3.0) return 2;
    if (value == 2.0) return 3;
    if (value == 131072.0) return 5;
    if (value == 5.0) return 4;
    if (value == -1.0) return 6;
    if (value == 0.0) return 7;
    return bits & 7;
}

int TriggerSource(_MP_CAM_ST_0* camera, int timer, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!camera || !value) return -1;
    const Timer& t = kTimers[timer];
    if (mode == 1) {
        *value = static_cast<int32_t>(Rec(camera, t.trigSource));
        return 0;
    }
    uint32_t code;
    if (mpPrvIsDefault(*value)) {
        SetRec(camera, t.trigSource, mpPrvDigFile(camera, t.trigSource));
        code = (mpPrvDigFile(camera, t.control) & kTrigMask) >> kTrigShift;
    } else {
        const int32_t v = mpPrvToInt(*value);
        SetRec(camera, t.trigSource, static_cast<uint32_t>(v));
        code = TriggerCode(camera, *value, v);
    }
    const uint32_t triggered = code == 6 ? 0 : kTriggered;
    mpPrvDigPut(camera, t.control, kTrigMask | kTriggered, (code << kTrigShift) | triggered);
    return 0;
}

int OutputPolarity(_MP_CAM_ST_0* camera, int timer, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    const Timer& t = kTimers[timer];
    if (mode == 1) {
        *value = (mpPrvDigGet(camera, t.control) & kOutputPolarity) ? 2.0 : 3.0;
        return 0;
    }
    uint32_t bit;
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        bit = mpPrvDigFile(camera, t.control) & kOutputPolarity;
    } else if (*value == 3.0) {
        bit = 0;
    } else if (*value == 2.0) {
        bit = kOutputPolarity;
    } else {
        return -1;
    }
    mpPrvDigPut(camera, t.control, kOutputPolarity, bit);
    return 0;
}

} // namespace

MP_DIG_TIMER_FIELDS(MP_DIG_DEFINE_FIELD)

int mp_dig_timer1_cnt(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return PeriodCount(camera, 0, value, mode); }
int mp_dig_timer2_cnt(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return PeriodCount(camera, 1, value, mode); }

int mp_dig_exp1_active(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    return ExposureActive(camera, 0, type, value, mode);
}
int mp_dig_exp2_active(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    return ExposureActive(camera, 1, type, value, mode);
}

int mp_dig_exp1_output(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureOutput(camera, 0, value, mode); }
int mp_dig_exp2_output(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureOutput(camera, 1, value, mode); }

int mp_dig_exp1_delay(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureDelay(camera, 0, value, mode); }
int mp_dig_exp2_delay(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return ExposureDelay(camera, 1, value, mode); }

int mp_dig_timer1_trig_src(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return TriggerSource(camera, 0, value, mode); }
int mp_dig_timer2_trig_src(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return TriggerSource(camera, 1, value, mode); }

int mp_dig_timer1_pol(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return OutputPolarity(camera, 0, value, mode); }
int mp_dig_timer2_pol(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return OutputPolarity(camera, 1, value, mode); }

double mp_dig_get_timer1_freq(_MP_CAM_ST_0* camera, uint32_t source) { return Frequency(camera, 0, source, 0); }
double mp_dig_get_timer2_freq(_MP_CAM_ST_0* camera, uint32_t source) { return Frequency(camera, 1, source, 0); }

int mp_dig_handle_exp1(_MP_CAM_ST_0* camera, double exposure, double delay) { return HandleExposure(camera, 0, exposure, delay); }
int mp_dig_handle_exp2(_MP_CAM_ST_0* camera, double exposure, double delay) { return HandleExposure(camera, 1, exposure, delay); }
