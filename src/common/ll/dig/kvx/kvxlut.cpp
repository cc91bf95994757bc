// Input LUTs and camera controls of the second grab-module family.
#include "kvxlut.h"

#include "bufid.h"
#include "digvalue.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "lutview.h"
#include "regaccess.h"
#include "reqres.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

using namespace cam1;

constexpr int32_t kSet = 0;
constexpr int32_t kInquire = 1;

// ---- record access -------------------------------------------------------------------------

uint32_t Get(const _MP_CAM_ST_1* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->value;
}

uint32_t File(const _MP_CAM_ST_1* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->file;
}

void Put(_MP_CAM_ST_1* cam, uint32_t offset, uint32_t value)
{
    CamSlotAt(cam, offset)->value = value;
}

uint32_t Info(const _MP_CAM_ST_1* cam, uint32_t standardInfo)
{
    return Get(cam, KvxInfo(standardInfo));
}

uint32_t Taps(const _MP_CAM_ST_1* cam)
{
    return Info(cam, cam0::INFO_XTAPSPERCH) * Info(cam, cam0::INFO_YTAPSPERCH) *
           Info(cam, cam0::INFO_XTAPSPERCHADJ) * Info(cam, cam0::INFO_YTAPSPERCHADJ);
}

// The DAC working bytes of a record: CH0POSREF, CH0LVL, CH1POSREF, CH1LVL.
uint8_t* DacBytes(_MP_CAM_ST_1* cam)
{
    return cam->bytes + DAC_BYTES;
}
constexpr uint32_t kDacCh0Ref = 0;
constexpr uint32_t kDacCh0Lvl = 1;
constexpr uint32_t kDacCh1Ref = 2;
constexpr uint32_t kDacCh1Lvl = 3;

// ---- value conventions ---------------------------------------------------------------------

// A percent value as a register byte: trunc(p x 0.01 x 256), held to 0-255 (100 % would
// give 256, which an 8-bit register cannot take).
uint32_t PercentByte(double percent)
{
    const int32_t n = mpPrvToInt(percent * 0.01 * 256);
    return static_cast<uint32_t>(std::clamp(n, 0, 255));
}

double ByteToPercent(uint32_t raw)
{
    return static_cast<double>(raw & 0xFF) * (1.0 / 256) * 100;
}

// ---- module registers --------------------------------------------------------------------

// The port window of the selected module (0 when none is selected).
uint32_t Port()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    return c->extCurrentPort ? c->extCurrentPort : c->extPort;
}

// One 32-bit access to the low byte lane of module register r.
void LaneWrite(uint32_t port, uint32_t reg, uint32_t value)
{
    HwWrite32(port, 2 * reg, value & 0xFF);
}

uint8_t LaneRead(uint32_t port, uint32_t reg)
{
    return static_cast<uint8_t>(HwRead32(port, 2 * reg) & 0xFF);
}

// ---- decoder picture controls --------------------------------------------------------------

// A decoder byte set from percent with an offset of 128 (0 for the AGC), default from the
// camera file; inquiry in percent of the raw byte.
int DecoderPercent(_MP_CAM_ST_1* camera, uint32_t reg, uint32_t offset, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t slot = KvxDecSlot(reg);
    if (mode == kSet) {
        // With the offset the byte is (n + 128) mod 256 for a negative percent too; only n
        // above 255 is held (the AGC, without offset, is held to 0-255).
        const int32_t n = offset ? std::min(mpPrvToInt(*value * 0.01 * 256), 255) : static_cast<int32_t>(PercentByte(*value));
        const uint32_t byte = mpPrvIsDefault(*value) ? File(camera, slot) & 0xFF : static_cast<uint32_t>(n + static_cast<int32_t>(offset)) & 0xFFu;
        Put(camera, slot, (Get(camera, slot) & ~0xFFu) | byte);
    } else if (mode == kInquire) {
        *value = ByteToPercent(Get(camera, slot));
    }
    return 0;
}

// A description field set from the value (default: the camera file) or inquired.
int DescriptionField(_MP_CAM_ST_1* camera, uint32_t standardInfo, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t slot = KvxInfo(standardInfo);
    if (mode == kSet)
        Put(camera, slot, mpPrvIsDefault(*value) ? File(camera, slot) : static_cast<uint32_t>(mpPrvToInt(*value)));
    else if (mode == kInquire)
        *value = static_cast<double>(static_cast<int32_t>(Get(camera, slot)));
    return 0;
}

// Two bits of a record slot as a format: first bit set 0, second bit set 1, neither -9999.
int FormatBits(_MP_CAM_ST_1* camera, uint32_t slot, uint32_t first, uint32_t second, bool input, double* value,
               int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t both = first | second;
    uint32_t word = Get(camera, slot);
    if (mode == kSet) {
        uint32_t bits = 0;
        if (mpPrvIsDefault(*value)) {
            bits = File(camera, slot) & both;
        } else if (*value == 0.0) {
            bits = first;
        } else if (*value == 1.0) {
            bits = second;
        } else if (*value == -9999.0) {
            bits = 0;
        } else if (input) {
            bits = (mpPrvToInt(*value) & 1) ? both : 0;
        } else {
            bits = both;
        }
        Put(camera, slot, (word & ~both) | bits);
    } else if (mode == kInquire) {
        *value = (word & first) ? 0.0 : (word & second) ? 1.0 : -9999.0;
    }
    return 0;
}

}  // namespace

// ---- LUT programming -----------------------------------------------------------------------

void mp_kvx_ramp(KVX_LUT_INFO* info, uint8_t* area)
{
    for (uint32_t i = 0; i < kKvxLutEntries; ++i) area[i] = static_cast<uint8_t>(i);
    for (const uint8_t*& s : info->source) s = area;
    info->mask = 63;
    info->count = kKvxLutEntries;
}

void mp_kvx_address(const _MP_CAM_ST_1* camera, _MP_BUF_ST* lut, KVX_LUT_INFO* info, LutBufferView* view)
{
    if (!camera || !lut || !info) return;
    const uint32_t n = lut->bands;
    const uint32_t b = lut->bits;
    info->count = static_cast<uint32_t>(std::clamp<int32_t>(lut->sizeX, 0, static_cast<int32_t>(kKvxLutEntries)));
    auto band = [&](uint32_t k) -> const uint8_t* {
        if (k >= n) return nullptr;
        return view ? view->band(k) : static_cast<const uint8_t*>(mp_buf_address_band_internal(lut, k));
    };
    const uint8_t* a = band(0);
    const uint32_t in = Info(camera, cam0::INFO_INPUT);
    const uint32_t c = Info(camera, cam0::INFO_BITSPERLOGCH);
    const uint32_t t = Taps(camera);
    auto p = [&](uint32_t k, const uint8_t* x) { info->source[k] = x; };
    auto offset = [&](uint32_t bytes) -> const uint8_t* { return a ? a + bytes : nullptr; };
    const uint32_t ch = info->channel;

    if (in == 0) {
        if (ch > 1) return;
        const uint32_t base = ch == 0 ? 0 : 3;
        if (n > 1) {
            p(base, a);
            p(base + 1, band(1));
            if (n > 2) p(base + 2, band(2));
        } else if (n == 1 && b == 8) {
            p(base, a);
            p(base + 1, a);
            p(base + 2, a);
            info->mask = ch == 0 ? 7 : 56;
            if (ch == 0 && t == 2) {
                p(3, a);
                p(4, a);
                p(5, a);
                info->mask = 63;
            }
        } else {
            p(base, a);
            if (b > 8 && c > 8) {
                p(base + 1, offset(1));
                ++info->pitch;
            }
            if (b > 16 && c > 16) {
                p(base + 2, offset(2));
                ++info->pitch;
            }
        }
        return;
    }
    if (in != 4 && in != 5) return;
    if (ch == 1) {
        p(3, a);
        if (c > 8) {
            if (n > 1) {
                p(4, band(1));
            } else if (b == 8 && n == 1) {
                p(4, a);
                info->mask = 24;
            } else if (b > 8) {
                p(4, offset(1));
                ++info->pitch;
            }
        }
        return;
    }
    if (ch != 0) return;
    uint32_t j = 1;
    // 1.
    p(0, a);
    if (t == 2 && c <= 8) {
        p(3, a);
        info->mask = 9;
    }
    // 2.
    if (c > 8) {
        if (t == 2) {
            p(0, a);
            p(1, a);
            p(3, a);
            p(4, a);
            info->mask = 27;
        }
        if (n > 1) {
            p(1, band(1));
            j = 2;
        } else if (b == 8 && n == 1) {
            p(1, a);
            info->mask = 3;
        } else if (b > 8) {
            p(1, offset(1));
            ++info->pitch;
        }
    }
    // 3.
    if (c > 16) {
        if (n > j) {
            p(3, band(j));
            ++j;
        } else if (b == 8 && n == 1) {
            info->mask |= 8;
        } else if (b > 16) {
            p(3, offset(2));
            ++info->pitch;
        }
    }
    // 4.
    if (c > 24) {
        if (n > j) {
            p(4, band(j));
        } else if (b == 8 && n == 1) {
            p(4, a);
            info->mask |= 16;
        } else if (b > 24) {
            p(4, offset(3));
            ++info->pitch;
        }
    }
}

int mp_kvx_lut_write(const _MP_CAM_ST_1*, const KVX_LUT_INFO* info)
{
    const uint32_t port = Port();
    if (!info || !port) return 0;
    const uint32_t count = std::min(info->count, kKvxLutEntries);
    if (info->mask == 0) {
        for (uint32_t k = 0; k < 6; ++k) {
            const uint8_t* s = info->source[k];
            if (!s) continue;
            LaneWrite(port, kKvxIsfLutEn, 1u << k);
            LaneWrite(port, kKvxIsfLutIdx, 0);
            for (uint32_t i = 0; i < count; ++i, s += info->pitch) LaneWrite(port, kKvxIsfLutData, *s);
        }
        return 0;
    }
    // The LUTs of the mask load together from one source, stepping by the record's pitch
    // (a wide LUT buffer interleaves its bytes, and its first byte is the one these take).
    // Mend: the pitch is kept, so an interleaved buffer does not load its high bytes as entries.
    const uint8_t* s = info->channel ? info->source[3] : info->source[0];
    LaneWrite(port, kKvxIsfLutEn, info->mask);
    LaneWrite(port, kKvxIsfLutIdx, 0);
    if (!s) return 0;
    const uint32_t pitch = info->pitch ? info->pitch : 1;
    for (uint32_t i = 0; i < count; ++i, s += pitch) LaneWrite(port, kKvxIsfLutData, *s);
    return 0;
}

int mp_kvx_lut_read(const _MP_CAM_ST_1*, KVX_LUT_INFO* info)
{
    const uint32_t port = Port();
    if (!info || !port) return 0;
    const uint32_t step = info->channel ? 8 : 1;
    for (uint32_t k = 0; k < 3; ++k) {
        // A read fills the source it names: only the caller's own writable area.
        auto* target = const_cast<uint8_t*>(info->source[k]);
        if (!target) continue;
        LaneWrite(port, kKvxIsfLutEn, step << k);
        LaneWrite(port, kKvxIsfLutIdx, 0);
        for (uint32_t i = 0; i < kKvxLutEntries; ++i) target[i] = LaneRead(port, kKvxIsfLutData);
    }
    return 0;
}

int mp_kvx_lut_access(const _MP_CAM_ST_1* camera, KVX_LUT_INFO* info, int32_t operation)
{
    if (operation == 0) return mp_kvx_lut_write(camera, info);
    return mp_kvx_lut_read(camera, info);
}

int mp_kvx_prog_lut(_MP_CAM_ST_1* camera, uint32_t channel)
{
    if (!camera) return -1;
    KVX_LUT_INFO info{};
    info.pitch = 1;
    info.channel = channel;
    if (Taps(camera) > 2) return -1;
    const uint32_t lutId = Info(camera, cam0::INFO_LUTBUFID);
    if (lutId != 0) {
        _MP_BUF_ST* lut = mp_buf_pointer(lutId);
        // Mend: an id with no buffer behind it loads nothing, so a freed LUT buffer is not read.
        if (!lut) return 0;
        LutBufferView view(lut);
        mp_kvx_address(camera, lut, &info, &view);
        return mp_kvx_lut_access(camera, &info, 0);
    }
    auto* ramp = static_cast<uint8_t*>(std::malloc(kKvxLutEntries));
    if (!ramp) return -1;
    mp_kvx_ramp(&info, ramp);
    const int result = mp_kvx_lut_access(camera, &info, 0);
    std::free(ramp);
    return result;
}

// ---- controls ------------------------------------------------------------------------------

int mp_kvx_channel(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    return DescriptionField(camera, cam0::INFO_CHANNEL, value, mode);
}

int mp_kvx_size_x(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    return DescriptionField(camera, cam0::INFO_XSIZE, value, mode);
}

int mp_kvx_size_y(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    return DescriptionField(camera, cam0::INFO_YSIZE, value, mode);
}

int mp_kvx_size_bit(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == kInquire) *value = static_cast<double>(Info(camera, cam0::INFO_BITSPERLOGCH));
    return 0;
}

int mp_kvx_num_bands(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value || mode != kInquire) return -1;
    *value = Info(camera, cam0::INFO_BITSPERLOGCH) == 24 ? 3.0 : 1.0;
    return 0;
}

// Mend: answers the buffer type of the camera's grabs (the standard rule over these bands), not 0.
int mp_kvx_type(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value || mode != kInquire) return -1;
    const uint32_t bits = Info(camera, cam0::INFO_BITSPERLOGCH);
    const uint32_t bytes = (bits + 7) / 8;
    static const double kOneBand[5] = {8, 8, 16, 1073741848.0, 32};
    *value = bits == 24 ? 8.0 : kOneBand[bytes < 4 ? bytes : 4];
    return 0;
}

int mp_kvx_scan_mode(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value || mode != kInquire) return -1;
    if (Info(camera, cam0::INFO_TYPE) == 1) *value = 4.0;
    else *value = Info(camera, cam0::INFO_MODE) == 1 ? 1.0 : 0.0;
    return 0;
}

int mp_kvx_lut_buf(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value) return 0;
    const uint32_t slot = KvxInfo(cam0::INFO_LUTBUFID);
    if (mode == kSet) {
        Put(camera, slot, static_cast<uint32_t>(mpPrvToInt(*value)));
        Put(camera, KvxInfo(cam0::INFO_LUTPROG), 1);
    } else if (mode == kInquire) {
        *value = static_cast<double>(Get(camera, slot));
    }
    return 0;
}

int mp_kvx_gain(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t word = Get(camera, FAF_OPAMPCTL);
    if (mode == kSet) {
        uint32_t code;
        if (mpPrvIsDefault(*value)) code = File(camera, FAF_OPAMPCTL) & 3;
        else if (*value <= 25) code = 0;
        else if (*value <= 50) code = 1;
        else if (*value <= 75) code = 2;
        else code = 3;
        Put(camera, FAF_OPAMPCTL, (word & ~3u) | code);
    } else if (mode == kInquire) {
        *value = 25.0 * static_cast<double>((word & 3) + 1);
    }
    return 0;
}

int mp_kvx_dec_gain(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if ((static_cast<uint32_t>(type) & 0xFFFF) == IM_DIG_GAIN) return DecoderPercent(camera, kvxdec::AGC, 0, value, mode);
    const uint32_t slot = KvxDecSlot(kvxdec::CMDB);
    const uint32_t word = Get(camera, slot);
    if (mode == kSet) {
        const bool on = mpPrvIsDefault(*value) || *value == kDigEnable;
        Put(camera, slot, on ? word & ~0x10u : word | 0x10u);
    } else if (mode == kInquire) {
        *value = (word & 0x10) ? 1.0 : 0.0;
    }
    return 0;
}

namespace {

// A reference: the DAC working bytes of both channels (default: the camera file's DAC
// slots); inquiry the channel-0 byte in percent.
int Reference(_MP_CAM_ST_1* camera, uint32_t index0, uint32_t index1, uint32_t slot0, uint32_t slot1, double* value,
              int32_t mode)
{
    if (!camera || !value) return -1;
    uint8_t* dac = DacBytes(camera);
    if (mode == kSet) {
        if (mpPrvIsDefault(*value)) {
            dac[index0] = static_cast<uint8_t>(File(camera, slot0));
            dac[index1] = static_cast<uint8_t>(File(camera, slot1));
        } else {
            const auto n = static_cast<uint8_t>(PercentByte(*value));
            dac[index0] = n;
            dac[index1] = n;
        }
    } else if (mode == kInquire) {
        *value = ByteToPercent(dac[index0]);
    }
    return 0;
}

}  // namespace

int mp_kvx_ref_white(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return Reference(camera, kDacCh0Ref, kDacCh1Ref, DAC_CH0POSREF, DAC_CH1POSREF, value, mode);
}

int mp_kvx_ref_black(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return Reference(camera, kDacCh0Lvl, kDacCh1Lvl, DAC_CH0LVL, DAC_CH1LVL, value, mode);
}

int mp_kvx_brightness(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return DecoderPercent(camera, kvxdec::BRT, 128, value, mode);
}

int mp_kvx_contrast(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return DecoderPercent(camera, kvxdec::CON, 128, value, mode);
}

int mp_kvx_hue(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return DecoderPercent(camera, kvxdec::HUE, 128, value, mode);
}

int mp_kvx_saturation(_MP_CAM_ST_1* camera, int32_t, double* value, int32_t mode)
{
    return DecoderPercent(camera, kvxdec::SAT, 128, value, mode);
}

int mp_kvx_user_in_format(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    return FormatBits(camera, FAF_IOENCTL0, 1u << 1, 1u << 9, true, value, mode);
}

int mp_kvx_user_out_format(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    return FormatBits(camera, FAF_IOENCTL0, 1u << 6, 1u << 7, false, value, mode);
}

int mp_kvx_user_out(_MP_CAM_ST_1* camera, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t word = Get(camera, FAF_USERO);
    if (mode == kSet) Put(camera, FAF_USERO, mpPrvToInt(*value) ? word | 1u : word & ~1u);
    else if (mode == kInquire) *value = (word & 1) ? 1.0 : 0.0;
    return 0;
}

int mp_kvx_user_in(_MP_CAM_ST_1*, double*, int32_t)
{
    return -1;
}

// ---- requests without hardware behind them -------------------------------------------------

void mpDigLutGet_Async(MP_RESOURCE_ST* res)
{
    if (res) _mp_res_log_error(res, HLC_ERR_RESTRICTED, nullptr);
}

void mpDigLutSet_Async(MP_RESOURCE_ST* res)
{
    if (res) _mp_res_log_error(res, HLC_ERR_RESTRICTED, nullptr);
}

void mpDigCapture_Async(MP_RESOURCE_ST* res)
{
    if (res) _mp_res_log_error(res, HLC_ERR_RESTRICTED, nullptr);
}
