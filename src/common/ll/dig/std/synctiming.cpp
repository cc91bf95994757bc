// Sync-generator timing fields and the one-field handler.
#include "synctiming.h"

#include "analog.h"
#include "serialchips.h"

using namespace cam0;

namespace {

constexpr uint32_t kResyncBit = 0x4000;  // DIG_SRCCFG bit 14: the counters may be read

uint32_t FieldMask(const MpDigField& f)
{
    return (f.width >= 32 ? 0xFFFFFFFFu : ((1u << f.width) - 1u)) << f.shift;
}

int CounterRead(_MP_CAM_ST_0* camera, uint32_t reg, double* value, int32_t mode)
{
    if (camera) return -1;
    if (mode != 1) return 0;
    if (!value) return -1;
    const uint32_t saved = mpPrvDigGet(nullptr, DIG_SRCCFG) & 0xFFFF;
    mpPrvDigPut(nullptr, DIG_SRCCFG, kResyncBit, kResyncBit);
    const uint32_t count = mpPrvReadExtReg(grabregs::Slot(reg)) & 0xFFFF;
    mpPrvDigPut(nullptr, DIG_SRCCFG, 0xFFFF, saved);
    *value = static_cast<double>(count);
    return 0;
}

} // namespace

int mpPrvFieldSet(_MP_CAM_ST_0* camera, const MpDigField& field, double* value)
{
    if (!value) return -1;
    const uint32_t bits = static_cast<uint32_t>(mpPrvToInt(*value)) << field.shift;
    mpPrvDigPut(camera, field.slot, FieldMask(field), bits);
    return 0;
}

int mpPrvFieldControl(_MP_CAM_ST_0* camera, const MpDigField& field, double* value, int32_t mode)
{
    if (mode == 0) return mpPrvFieldSet(camera, field, value);
    if (mode != 1) return 0;
    if (!value) return -1;
    uint32_t word = mpPrvDigGet(camera, field.slot);
    if (!camera) word &= 0xFFFF;
    *value = static_cast<double>((word & FieldMask(field)) >> field.shift);
    return 0;
}

MP_DIG_SYNC_FIELDS(MP_DIG_DEFINE_FIELD)

int mp_dig_hcnt(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return CounterRead(camera, grabregs::kHorizontalCounter, value, mode);
}

int mp_dig_vcnt(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return CounterRead(camera, grabregs::kVerticalCounter, value, mode);
}
