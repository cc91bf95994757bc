// Strobes, status bits, PLL and grab-control bits, with the live PLL relock.
#include "strobes.h"

#include "analog.h"
#include "ctrlcontext.h"
#include "hlc_errors.h"
#include "pll.h"
#include "reqres.h"
#include "serialchips.h"

using namespace cam0;

namespace {

constexpr uint32_t kPllUsedBit = 0x8000;      // DIG_GRABCTL bit 15
constexpr MpDigField kPllUsed{DIG_GRABCTL, 15, 1};
constexpr MpDigField kClockSource{DIG_GRABCTL, 12, 3};
constexpr MpDigField kSorvikClockSource{SORVIK2_CONTROL, 4, 3};
constexpr uint32_t kClockSelectMask = 0xE0;   // DIG_DICTL bits 5-7, the input clock select
constexpr uint32_t kClockSelectShift = 5;

int StatusBit(_MP_CAM_ST_0* camera, const MpDigField& field, double* value, int32_t mode)
{
    if (mode != 1) return 0;
    // A record holds no status: the inquiry is refused rather than answered with a guess.
    if (camera || !value) return -1;
    const uint32_t word = mpPrvReadExtReg(field.slot) & 0xFFFF;
    *value = ((word >> field.shift) & 1u) ? 1.0 : 0.0;
    return 0;
}

int Strobe(_MP_CAM_ST_0* camera, const MpDigField& field, double* value, int32_t mode)
{
    return mode == 0 ? mpPrvFieldSet(camera, field, value) : 0;
}

} // namespace

MP_DIG_BIT_FIELDS(MP_DIG_DEFINE_FIELD)

#define MP_DIG_DEFINE_STROBE(type, name, slot, shift, width)              \
    int name(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)  \
    {                                                                     \
        static constexpr MpDigField kField{slot, shift, width};           \
        return Strobe(camera, kField, value, mode);                       \
    }
MP_DIG_STROBES(MP_DIG_DEFINE_STROBE)

#define MP_DIG_DEFINE_STATUS(type, name, slot, shift, width)              \
    int name(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)  \
    {                                                                     \
        static constexpr MpDigField kField{slot, shift, width};           \
        return StatusBit(camera, kField, value, mode);                    \
    }
MP_DIG_STATUS_BITS(MP_DIG_DEFINE_STATUS)

int mp_dig_btsync_pol(_MP_CAM_ST_0*, int32_t, double* value, int32_t mode)
{
    if (mode == 1 && value) *value = 0.0;
    return 0;
}

int mpPrvRelockPll(_MP_CAM_ST_0* camera)
{
    if (!camera) return -1;
    const uint32_t dictl = mpPrvDigGet(nullptr, DIG_DICTL) & 0xFFFF;
    const bool select4 = ((dictl & kClockSelectMask) >> kClockSelectShift) == 4;
    if (select4) mpPrvDigPut(nullptr, DIG_DICTL, kClockSelectMask, 1u << kClockSelectShift);
    mp_dig_start_pll(camera);
    const int locked = mp_dig_wait_pll_lock(CamSlotAt(camera, INFO_SPIXCLK)->value / 1000u);
    mp_dig_set_pll(nullptr, camera);
    if (select4) mpPrvDigPut(nullptr, DIG_DICTL, 0xFFFF, dictl);
    // A relock that did not lock is neither reported nor logged: the control succeeds.
    return locked == 0 ? 1 : 0;
}

int mp_dig_pll_used(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode == 1 || camera) return mpPrvFieldControl(camera, kPllUsed, value, mode);
    if (mode != 0) return 0;
    if (!value) return -1;
    const bool wasUsed = (mpPrvDigGet(nullptr, DIG_GRABCTL) & kPllUsedBit) != 0;
    mpPrvFieldSet(nullptr, kPllUsed, value);
    if (!wasUsed && mpPrvToInt(*value) == 1) mpPrvRelockPll(mpPrvCtrlLiveCamera());
    return 0;
}

int mp_dig_pixel_clock_src(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode < 0 || mode > 3) return 0;
    const int32_t plain = mode & 1;  // 0 set, 1 inquire
    if (camera) {
        const bool sorvik = CamSlotAt(camera, SORVIK2_FLAG)->value != 0;
        return mpPrvFieldControl(camera, sorvik ? kSorvikClockSource : kClockSource, value, plain);
    }
    if (mode & 2) return mpPrvFieldControl(nullptr, kSorvikClockSource, value, plain);
    if (mode == 1) return mpPrvFieldControl(nullptr, kClockSource, value, 1);
    if (!value) return -1;
    const uint32_t before = mpPrvDigGet(nullptr, DIG_GRABCTL) & 0xFFFF;
    mpPrvFieldSet(nullptr, kClockSource, value);
    const int32_t wanted = mpPrvToInt(*value);
    if ((before & kPllUsedBit) && wanted != static_cast<int32_t>((before >> 12) & 7))
        mpPrvRelockPll(mpPrvCtrlLiveCamera());
    return 0;
}
