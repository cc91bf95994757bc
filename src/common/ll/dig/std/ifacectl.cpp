// Interface, interrupt, DIM, description, user-clock, grab-disable and pixel-clock controls.
#include "ifacectl.h"

#include "analog.h"
#include "ctrlcontext.h"
#include "frontdev.h"
#include "pll.h"
#include "regaccess.h"
#include "serialchips.h"
#include "hwlock.h"

using namespace cam0;

namespace {

constexpr MpDigField kDelayLine{DIG_DLYLN, 0, 4};
constexpr uint32_t kInputDigital = 4;
constexpr double kUserClockSettle = 0.01;

int DimOutput(_MP_CAM_ST_0* camera, uint32_t bit, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    const MpDigField field{DIMREG0, bit, 1};
    if (camera) return mpPrvFieldControl(camera, field, value, mode);
    if (!mp_dig_dim_present(nullptr)) {
        if (mode == 1) *value = 0.0;
        return 0;
    }
    if (mode == 1) return mpPrvFieldControl(nullptr, field, value, 1);
    const uint32_t dictl = mpPrvDigGet(nullptr, DIG_DICTL) & 0xFFFF;
    const uint32_t on = (static_cast<uint32_t>(mpPrvToInt(*value)) & 1u) << bit;
    mpPrvDigPut(nullptr, DIMREG0, 1u << bit, on, false);
    mp_dig_set_dimreg(mpPrvDigGet(nullptr, DIMREG0) & 0xFF);
    mpPrvDigPut(nullptr, DIG_DICTL, 0xFFFF, dictl);
    return 0;
}

int InfoField(_MP_CAM_ST_0* camera, uint32_t slot, double* value, int32_t mode)
{
    if (!camera) return -1;
    if (mode == 0 && value) {
        CamSlotAt(camera, slot)->value = static_cast<uint32_t>(mpPrvToInt(*value));
    } else if (mode == 1 && value) {
        *value = static_cast<double>(CamSlotAt(camera, slot)->value);
    }
    return 0;
}

// One pulse of the grab-disable bit of an Orlo of the control's node.  A value other than
// exactly 1.0 only takes and releases the Orlo.
void GrabDisable(uint32_t orlo, const double* value)
{
    uint32_t token = 0;
    SetToOrlo(mpPrvCtrlNode(), orlo, &token);
    HwRegCtrl_ST* c = HwRegCtrl;
    if (value && *value == 1.0 && c && c->shadow) {
        auto* slot = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + kOrloGrabDisable));
        slot[0] |= kDigGrabDisableBit;
        slot[1] &= ~(kShadowWritten | kShadowListMode);
        SetShInHw(slot);
        slot[0] &= ~kDigGrabDisableBit;
        slot[1] &= ~(kShadowWritten | kShadowListMode);
        SetShInHw(slot);
    }
    ReleaseAccessOrlo();
}

} // namespace

MP_DIG_IFACE_FIELDS(MP_DIG_DEFINE_FIELD)

int mp_dig_clock_delay(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode == 0 && value && mpPrvToInt(*value) <= 0) return 0;
    return mpPrvFieldControl(camera, kDelayLine, value, mode);
}

int mp_dig_dim_alf422ou(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return DimOutput(camera, 7, value, mode); }
int mp_dig_dim_blu422ou(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return DimOutput(camera, 6, value, mode); }
int mp_dig_dim_grn422ou(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return DimOutput(camera, 5, value, mode); }
int mp_dig_dim_red422ou(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return DimOutput(camera, 4, value, mode); }
int mp_dig_dim_dimsynsl(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode) { return DimOutput(camera, 3, value, mode); }

#define MP_DIG_DEFINE_INFO(type, name, slot)                              \
    int name(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)  \
    {                                                                     \
        return InfoField(camera, slot, value, mode);                      \
    }
MP_DIG_INFO_FIELDS(MP_DIG_DEFINE_INFO)

int mp_dig_user_clock(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    if (mode == 1) {
        *value = static_cast<double>(mpPrvDigGet(camera, INFO_USRCLK0));
        return 0;
    }
    const int32_t hz = mpPrvToInt(*value);
    if (camera) {
        CamSlotAt(camera, INFO_USRCLK0)->value = static_cast<uint32_t>(hz);
        return 0;
    }
    const uint32_t word = mp_dig_calc_icd2061(0, static_cast<uint32_t>(hz / 1000), 0);
    // No program word (a clock beyond the synthesizer's range): nothing is sent or kept.
    if (word == 0) return -1;
    mpPrvDigPut(nullptr, INFO_USRCLK0, 0xFFFFFFFFu, static_cast<uint32_t>(hz), false);
    mpPrvDigPut(nullptr, kUsrClkWordSlot, 0xFFFFFFFFu, word, false);
    mp_dig_set_icd2061(word);
    mp_time_sleep(kUserClockSettle);
    return 0;
}

int mp_dig_display_grabadis(_MP_CAM_ST_0*, int32_t, double* value, int32_t)
{
    GrabDisable(1, value);
    return 0;
}

int mp_dig_primary_grabadis(_MP_CAM_ST_0*, int32_t, double* value, int32_t)
{
    GrabDisable(0, value);
    return 0;
}

int mp_dig_pixel_clock(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!value) return mode == 0 || mode == 1 ? -1 : 0;
    if (mode == 1) {
        *value = static_cast<double>(mpPrvDigGet(camera, INFO_PIXCLK));
    } else if (mode == 0 && camera) {
        CamSlotAt(camera, INFO_PIXCLK)->value = static_cast<uint32_t>(mpPrvToInt(*value));
    }
    return 0;
}

int mp_dig_input_mode(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera) return -1;
    if (mode == 0 && value) {
        CamSlotAt(camera, INFO_INPUT)->value = *value != 0.0 ? kInputDigital : 0;
    } else if (mode == 1 && value) {
        *value = CamSlotAt(camera, INFO_INPUT)->value != 0 ? 1.0 : 0.0;
    }
    return 0;
}
