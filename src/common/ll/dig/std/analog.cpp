// Analog front end: gain and filter fields of DIG_ANACTL, the level and reference DACs
// behind the two serial DAC8800s, the sample-mode and clock-phase code in DIG_GRABCTL, and
// the channel mapping that the load sequence and the grab share.
#include "analog.h"

#include "camrec.h"
#include "regaccess.h"
#include "serialchips.h"

#include <cmath>
#include <cstring>

using namespace cam0;

namespace {

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;

// Channel index 0 red, 1 green, 2 blue, 3 alpha; bit 16 + index in a mask.
constexpr uint32_t ChannelBit(int c) { return kChanRed << c; }
// Gain field shift and filter bit in DIG_ANACTL.
constexpr uint32_t kGainShift[4] = {2, 4, 6, 0};
constexpr uint32_t kFilterBit[4] = {9, 10, 11, 8};
// DAC register of a channel: the coarse level on the first DAC and the reference on the
// second are registers 1 red, 2 green, 3 blue, 0 alpha; the fine level is 4 above.
constexpr int32_t DacRegister(int c) { return (c + 1) & 3; }
constexpr uint32_t CoarseSlot(int c) { return DAC8800LVL_ALPHAC + 8 * DacRegister(c); }
constexpr uint32_t FineSlot(int c) { return DAC8800LVL_ALPHAF + 8 * DacRegister(c); }
constexpr uint32_t RefSlot(int c) { return DAC8800REF_ALPHAR + 8 * DacRegister(c); }
constexpr uint32_t WhitePercentSlot(int c) { return WHITE_REF_RED + 8 * c; }
constexpr int32_t kNrefRegister = 4;

constexpr uint32_t kSampleCodeShift = 8;   // DIG_GRABCTL bits 8-11
constexpr uint32_t kSampleCodeMask = 0xF00;
constexpr uint32_t kSyncShift = 4;         // DIG_GRABCTL bits 4-5
constexpr uint32_t kSyncMask = 0x30;
constexpr uint32_t kMiscPercentRefs = 0x2;  // INFO_MISC bit 1
constexpr double kSyncFollowsGrab = 16777216.0;

uint32_t Info(_MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
void SetInfo(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t value) { CamSlotAt(camera, offset)->value = value; }

int FirstChannel(uint32_t mask)
{
    for (int c = 0; c < 4; ++c)
        if (mask & ChannelBit(c)) return c;
    return -1;
}

uint32_t Taps(_MP_CAM_ST_0* camera)
{
    return Info(camera, INFO_XTAPSPERCH) * Info(camera, INFO_YTAPSPERCH) * Info(camera, INFO_XTAPSPERCHADJ) *
           Info(camera, INFO_YTAPSPERCHADJ);
}

int32_t Clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Sample mode of a sample-mode and clock-phase code.
uint32_t SampleModeOfCode(uint32_t code)
{
    if (code >= 12) return 0;
    if (code >= 4 && code <= 7) return 3;
    if (code == 0 || code == 1 || code == 8 || code == 9) return 1;
    return 2;
}

// The record's sample mode, or the one the live code gives.
uint32_t SampleMode(_MP_CAM_ST_0* camera)
{
    if (camera) return Info(camera, INFO_SAMPLEMODE);
    return SampleModeOfCode((mpPrvDigGet(nullptr, DIG_GRABCTL) & kSampleCodeMask) >> kSampleCodeShift);
}

bool TenBitLogical(_MP_CAM_ST_0* camera, bool physical) { return !physical && SampleMode(camera) == 3; }

// A DAC value into its slot; on the live path the slot's flags are cleared and the DAC
// written through its serial lines.
void SetLevelDac(_MP_CAM_ST_0* camera, uint32_t slot, int32_t reg, uint32_t value)
{
    mpPrvDigPut(camera, slot, 0xFFFF, value, false);
    if (!camera) mp_dig_set_dac1_reg(static_cast<uint8_t>(value), reg);
}

void SetRefDac(_MP_CAM_ST_0* camera, uint32_t slot, int32_t reg, uint32_t value)
{
    mpPrvDigPut(camera, slot, 0xFFFF, value, false);
    if (!camera) mp_dig_set_dac2_reg(static_cast<uint8_t>(value), reg);
}

// DAC value of a reference given in percent with a record: the percent itself when the
// load sequence works in percent, else the share between the black reference and the
// channel's reference that the camera file gave.
int32_t PercentToDac(_MP_CAM_ST_0* camera, double percent, uint32_t channelRefSlot)
{
    if (!camera) return mpPrvToInt(percent * 255 * 0.01 + 0.5);
    if (Info(camera, INFO_MISC) & kMiscPercentRefs) return mpPrvToInt(percent);
    const double r = static_cast<int32_t>(mpPrvDigFile(camera, channelRefSlot));
    const double n = static_cast<int32_t>(mpPrvDigFile(camera, DAC8800REF_NREF));
    return mpPrvToInt((r - n) * percent * 0.01 + n + 0.5);
}

uint32_t RoundedWidth(uint32_t bits)
{
    if (bits <= 8) return 8;
    if (bits <= 16) return 16;
    if (bits <= 24) return 24;
    return 32;
}

int LevelControl(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode, bool fine)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    uint32_t mask;
    bool physical;
    if (mp_dig_get_chan_mode(camera, type, &mask, &physical) != 0) return -1;
    if (mode == 1) {
        const int c = FirstChannel(mask);
        if (c < 0) return -1;
        *value = mpPrvDigGet(camera, fine ? FineSlot(c) : CoarseSlot(c)) & 0xFFFF;
        return 0;
    }
    const bool derive = TenBitLogical(camera, physical);
    if (derive) mask = kChanRed;  // the other channels follow red
    const bool restore = mpPrvIsDefault(*value);
    if (restore && !camera) return -1;
    const uint32_t level = static_cast<uint32_t>(Clamp255(mpPrvToInt(*value)));
    for (int c = 0; c < 4; ++c) {
        if (!(mask & ChannelBit(c))) continue;
        const uint32_t slot = fine ? FineSlot(c) : CoarseSlot(c);
        SetLevelDac(camera, slot, DacRegister(c) + (fine ? 4 : 0), restore ? mpPrvDigFile(camera, slot) : level);
    }
    if (derive) mp_dig_adjust_level_10bit(camera);
    return 0;
}

} // namespace

uint32_t mpPrvDigGet(_MP_CAM_ST_0* camera, uint32_t offset)
{
    if (camera) return CamSlotAt(camera, offset)->value;
    const uint32_t* slot = mpPrvExtSlot(offset);
    return slot ? slot[0] : 0;
}

void mpPrvDigPut(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t mask, uint32_t bits, bool write)
{
    if (camera) {
        CamSlot* slot = CamSlotAt(camera, offset);
        slot->value = (slot->value & ~mask) | (bits & mask);
        return;
    }
    uint32_t* slot = mpPrvExtSlot(offset);
    if (!slot) return;
    slot[0] = (slot[0] & ~mask) | (bits & mask);
    slot[1] &= ~kFlagBits;
    if (write) SetExtShInHw(slot);
}

uint32_t mpPrvDigFile(_MP_CAM_ST_0* camera, uint32_t offset) { return camera ? CamSlotAt(camera, offset)->file : 0; }

// ---- channel mapping ------------------------------------------------------------------------

int mp_dig_get_chan_mode(_MP_CAM_ST_0* camera, int32_t type, uint32_t* mask, bool* physical)
{
    const uint32_t word = static_cast<uint32_t>(type);
    uint32_t m = word & 0xFF0000;
    *physical = (word & kChanPhysical) != 0;
    if (m == 0) {
        if (!camera) return -1;
        m = Info(camera, INFO_CHANNEL);
    }
    if (camera && !*physical) m = mp_dig_map_analog_channel(camera, m);
    *mask = m;
    return 0;
}

uint32_t mp_dig_chan_phys_width(_MP_CAM_ST_0* camera)
{
    const uint32_t logical = Info(camera, INFO_BITSPERLOGCH);
    const uint32_t pixels = Info(camera, INFO_TIMEMULTIPIX);
    if (pixels < 2) return logical;
    return (logical <= 8 ? logical : RoundedWidth(logical)) / pixels;
}

uint32_t mp_dig_map_analog_channel(_MP_CAM_ST_0* camera, uint32_t mask)
{
    if (!camera) return 0xFFFFFFFFu;
    const uint32_t s = Info(camera, INFO_SAMPLEMODE);
    const uint32_t t = Taps(camera);
    uint32_t out = 0;
    if (mask & kChanRed) {
        if (s == 2 || s == 3 || t >= 4) return kChanMask;
        if (s == 1 || t == 3)
            out |= t == 1 ? 0x50000 : t == 2 ? 0xF0000 : t == 3 ? 0x70000 : 0;
        else
            out |= t == 2 ? 0x30000 : t == 1 ? 0x10000 : 0;
    }
    if (mask & kChanGreen) {
        if (t == 1) {
            out |= kChanGreen;
            if (s == 1) out |= kChanAlpha;
        } else if (t == 2 && s == 0) {
            out |= kChanBlue | kChanAlpha;
        }
    }
    if (mask & kChanBlue) out |= kChanBlue;
    if (mask & kChanAlpha) out |= kChanAlpha;
    return out;
}

uint32_t mp_dig_map_digital_channel(_MP_CAM_ST_0* camera, uint32_t mask)
{
    if (!camera) return 0xFFFFFFFFu;
    if (Info(camera, INFO_PACKEDPIXELS) == 1) {
        const uint32_t m = mask & kChanMask;
        return m == 0x70000 ? 0xF0000 : m == 0x30000 ? 0x70000 : 0;
    }
    const uint32_t w = RoundedWidth(mp_dig_chan_phys_width(camera));
    const uint32_t a = Info(camera, INFO_XTAPSPERCH) * Info(camera, INFO_YTAPSPERCH);
    const uint32_t b = Info(camera, INFO_XTAPSPERCHADJ) * Info(camera, INFO_YTAPSPERCHADJ);
    const uint32_t n = (w / 8) * a * b;
    uint32_t out = 0;
    if (mask & kChanRed) {
        out |= 0x10000;
        if (w > 8 || n >= 2) out |= 0x30000;
        if (w > 16 || n >= 3) out |= 0x70000;
        if (w > 24 || n >= 4) out |= 0x80000;
    }
    if (mask & kChanGreen) {
        if (w == 8 && a == 1 && b == 1)
            out |= kChanGreen;
        else if (!(w == 8 && a != 2 && b != 2))
            out |= kChanBlue | kChanAlpha;
    }
    if (mask & kChanBlue) out |= kChanBlue;
    if (mask & kChanAlpha) out |= kChanAlpha;
    return out;
}

uint32_t mp_dig_map_sync_log_to_phys(_MP_CAM_ST_0* camera, uint32_t mask)
{
    const int c = FirstChannel(mp_dig_map_analog_channel(camera, mask) & kChanMask);
    return c >= 0 && c <= 2 ? static_cast<uint32_t>(c) + 1 : 0;
}

uint32_t mp_dig_map_sync_phys_to_log(_MP_CAM_ST_0* camera, uint32_t input)
{
    const uint32_t s = camera ? Info(camera, INFO_SAMPLEMODE) : 0;
    const uint32_t t = camera ? Taps(camera) : 1;
    switch (input) {
    case 0:
        if (s == 0 && t == 1) return kChanAlpha;
        if ((s == 0 && t == 2) || (s == 1 && t == 1)) return kChanGreen;
        return kChanRed;
    case 2: return (s <= 1 && t == 1) ? kChanGreen : kChanRed;
    case 3:
        if (s == 0 && t == 1) return kChanBlue;
        if (s == 0 && t == 2) return kChanGreen;
        return kChanRed;
    default: return kChanRed;
    }
}

uint32_t mp_dig_channel_extend(_MP_CAM_ST_0* camera)
{
    const uint32_t s = Info(camera, INFO_SAMPLEMODE);
    const uint32_t t = Taps(camera);
    const bool digital = Info(camera, INFO_INPUT) != 0;
    const uint32_t w = digital ? mp_dig_chan_phys_width(camera) : 0;
    if ((digital && w == 8) || (!digital && s == 0)) return t == 1 ? 0xF0000 : t == 2 ? 0x30000 : 0x10000;
    if (digital) return (w > 8 && w <= 16) ? 0x30000 : 0x10000;
    if (s == 1) return t == 1 ? 0x30000 : 0x10000;
    return 0x10000;
}

int mp_dig_nbr_chan(_MP_CAM_ST_0* camera, uint32_t mask)
{
    if (mask == static_cast<uint32_t>(kDigDefault) && camera) mask = Info(camera, INFO_CHANNEL);
    return __builtin_popcount(mask & kChanMask);
}

void mp_dig_adjust_level_10bit(_MP_CAM_ST_0* camera)
{
    auto reg = [camera](uint32_t slot) { return static_cast<double>(mpPrvDigGet(camera, slot) & 0xFFFF); };
    const double d = (reg(DAC8800REF_REDR) - reg(DAC8800REF_NREF)) / 255;
    const double l = (reg(DAC8800LVL_REDF) * 0.1563 + reg(DAC8800LVL_REDC) * 2.5) / 256;
    const double levels[4] = {l, l + d / 4, l + d / 2, l + 3 * d / 4};
    for (int c = 1; c < 4; ++c) {
        const int32_t coarse = mpPrvToInt(levels[c] * 256 * 0.4);
        const int32_t fine = mpPrvToInt((levels[c] - coarse * 2.5 / 256) * 256 * 6.397952655150352);
        SetLevelDac(camera, CoarseSlot(c), DacRegister(c), static_cast<uint32_t>(Clamp255(coarse)));
        SetLevelDac(camera, FineSlot(c), DacRegister(c) + 4, static_cast<uint32_t>(Clamp255(fine)));
    }
}

// ---- controls -------------------------------------------------------------------------------

int mp_dig_gain(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    uint32_t mask;
    bool physical;
    if (mp_dig_get_chan_mode(camera, type, &mask, &physical) != 0) return -1;
    const bool percent = (type & 0xFFFF) == IM_DIG_GAIN;
    if (mode == 1) {
        const int c = FirstChannel(mask);
        if (c < 0) return -1;
        const uint32_t code = (mpPrvDigGet(camera, DIG_ANACTL) >> kGainShift[c]) & 3;
        *value = percent ? 25.0 * (code + 1) : code;
        return 0;
    }
    const bool restore = mpPrvIsDefault(*value);
    uint32_t code = 0;
    if (restore) {
        if (!camera && percent) return -1;
        // A code (type 0) ignores the default on a record; on the live registers it is code 0.
        if (camera && !percent) return 0;
    } else if (percent) {
        code = *value <= 25 ? 0 : *value <= 50 ? 1 : *value <= 75 ? 2 : 3;
    } else {
        const int32_t v = mpPrvToInt(*value);
        if (v < 0 || v > 3) return 0;  // not a gain code: ignored
        code = static_cast<uint32_t>(v);
    }
    const uint32_t file = mpPrvDigFile(camera, DIG_ANACTL);
    uint32_t fields = 0, bits = 0;
    for (int c = 0; c < 4; ++c) {
        if (!(mask & ChannelBit(c))) continue;
        const uint32_t field = 3u << kGainShift[c];
        fields |= field;
        bits |= restore && camera ? file & field : code << kGainShift[c];
    }
    if (fields) mpPrvDigPut(camera, DIG_ANACTL, fields, bits);
    return 0;
}

int mp_dig_filters(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    uint32_t mask;
    bool physical;
    if (mp_dig_get_chan_mode(camera, type, &mask, &physical) != 0) return -1;
    if (mode == 1) {
        const int c = FirstChannel(mask);
        if (c < 0) return -1;
        *value = (mpPrvDigGet(camera, DIG_ANACTL) >> kFilterBit[c]) & 1;
        return 0;
    }
    const uint32_t on = static_cast<uint32_t>(mpPrvToInt(*value)) & 1;
    uint32_t fields = 0;
    for (int c = 0; c < 4; ++c)
        if (mask & ChannelBit(c)) fields |= 1u << kFilterBit[c];
    if (fields) mpPrvDigPut(camera, DIG_ANACTL, fields, on ? fields : 0);
    return 0;
}

int mp_dig_ref_white(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    uint32_t mask;
    bool physical;
    if (mp_dig_get_chan_mode(camera, type, &mask, &physical) != 0) return -1;
    const bool percent = (type & 0xFFFF) == IM_DIG_REF_WHITE;
    const int first = FirstChannel(mask);
    if (mode == 1) {
        if (first < 0) return -1;
        if (camera) {
            *value = static_cast<int32_t>(Info(camera, WhitePercentSlot(first)));
        } else {
            const uint32_t dac = mpPrvDigGet(nullptr, RefSlot(first)) & 0xFFFF;
            *value = percent ? dac * 100.0 / 255 : dac;
        }
        return 0;
    }
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        for (int c = 0; c < 4; ++c)
            if (mask & ChannelBit(c)) SetRefDac(camera, RefSlot(c), DacRegister(c), mpPrvDigFile(camera, RefSlot(c)));
        if (Info(camera, INFO_MISC) & kMiscPercentRefs)
            for (int c = 0; c < 4; ++c) SetInfo(camera, WhitePercentSlot(c), mpPrvDigFile(camera, WhitePercentSlot(c)));
    } else {
        int32_t dac = mpPrvToInt(*value);
        if (percent) {
            if (camera)
                for (int c = 0; c < 4; ++c)
                    if (mask & ChannelBit(c)) SetInfo(camera, WhitePercentSlot(c), static_cast<uint32_t>(mpPrvToInt(*value)));
            dac = PercentToDac(camera, *value, RefSlot(first < 0 ? 0 : first));
        }
        const uint32_t level = static_cast<uint32_t>(Clamp255(dac));
        for (int c = 0; c < 4; ++c)
            if (mask & ChannelBit(c)) SetRefDac(camera, RefSlot(c), DacRegister(c), level);
    }
    if (TenBitLogical(camera, physical)) mp_dig_adjust_level_10bit(camera);
    return 0;
}

int mp_dig_ref_black(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    uint32_t mask;
    bool physical;
    if (mp_dig_get_chan_mode(camera, type, &mask, &physical) != 0) return -1;
    const bool percent = (type & 0xFFFF) == IM_DIG_REF_BLACK;
    if (mode == 1) {
        if (camera) {
            *value = static_cast<int32_t>(Info(camera, BLACK_REF));
        } else {
            const uint32_t dac = mpPrvDigGet(nullptr, DAC8800REF_NREF) & 0xFFFF;
            *value = percent ? dac * 100.0 / 255 : dac;
        }
        return 0;
    }
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        SetRefDac(camera, DAC8800REF_NREF, kNrefRegister, mpPrvDigFile(camera, DAC8800REF_NREF));
        if (Info(camera, INFO_MISC) & kMiscPercentRefs) SetInfo(camera, BLACK_REF, mpPrvDigFile(camera, BLACK_REF));
    } else {
        int32_t dac = mpPrvToInt(*value);
        if (percent) {
            if (camera) SetInfo(camera, BLACK_REF, static_cast<uint32_t>(mpPrvToInt(*value)));
            dac = PercentToDac(camera, *value, DAC8800REF_REDR);
        }
        SetRefDac(camera, DAC8800REF_NREF, kNrefRegister, static_cast<uint32_t>(Clamp255(dac)));
    }
    if (TenBitLogical(camera, physical)) mp_dig_adjust_level_10bit(camera);
    return 0;
}

int mp_dig_level_coarse(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    return LevelControl(camera, type, value, mode, false);
}

int mp_dig_level_fine(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    return LevelControl(camera, type, value, mode, true);
}

int mp_dig_sample_mode(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    if (mode == 1) {
        *value = camera ? static_cast<int32_t>(Info(camera, INFO_SAMPLEMODE)) : static_cast<int32_t>(SampleMode(nullptr));
        return 0;
    }
    const int32_t s = mpPrvToInt(*value);
    static const uint32_t kCodes[4] = {12, 8, 2, 4};
    const uint32_t code = s >= 0 && s <= 3 ? kCodes[s] : static_cast<uint32_t>(s) & 0xF;
    mpPrvDigPut(camera, DIG_GRABCTL, kSampleCodeMask, code << kSampleCodeShift);
    if (camera) SetInfo(camera, INFO_SAMPLEMODE, static_cast<uint32_t>(s));
    return 0;
}

int mp_dig_clock_phase(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    if (mode == 1) {
        const uint32_t code = (mpPrvDigGet(camera, DIG_GRABCTL) & kSampleCodeMask) >> kSampleCodeShift;
        static const int kPhases[4] = {0, 2, 1, 3};
        *value = (code >= 12 || (code >= 4 && code <= 7)) ? kPhases[code & 3] : 0;
        return 0;
    }
    const uint32_t s = SampleMode(camera);
    if (s != 0 && s != 3) return 0;  // the phase is fixed in sample modes 1 and 2
    const int32_t p = mpPrvToInt(*value);
    static const uint32_t kCodes[2][4] = {{12, 14, 13, 15}, {4, 6, 5, 7}};
    const uint32_t code = p >= 0 && p <= 3 ? kCodes[s == 3][p] : static_cast<uint32_t>(p) & 0xF;
    mpPrvDigPut(camera, DIG_GRABCTL, kSampleCodeMask, code << kSampleCodeShift);
    return 0;
}

int mp_dig_channel(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = Info(camera, INFO_CHANNEL);
        return 0;
    }
    if (mode != 0) return 0;
    const bool restore = mpPrvIsDefault(*value);
    const uint32_t v = restore ? mpPrvDigFile(camera, INFO_CHANNEL) : static_cast<uint32_t>(mpPrvToInt(*value));
    if (!restore && !(v & kChanMask)) return -1;
    const uint32_t t = Taps(camera);
    const bool upper = (v & (kChanBlue | kChanAlpha)) != 0;           // channel 2 or 3
    const bool beyondFirst = (v & (kChanGreen | kChanBlue | kChanAlpha)) != 0;  // any of 1-3
    if (Info(camera, INFO_INPUT) != 0) {
        const uint32_t w = mp_dig_chan_phys_width(camera);
        if (Info(camera, INFO_PACKEDPIXELS) == 1 && v != Info(camera, INFO_CHANNEL)) return -1;
        if (t > 4) return -1;
        if (w == 8 && ((t > 1 && upper) || (t > 2 && beyondFirst))) return -1;
        if (w > 8 && ((t == 1 && upper) || (t > 1 && beyondFirst) || (w > 16 && beyondFirst))) return -1;
    } else {
        const uint32_t s = Info(camera, INFO_SAMPLEMODE);
        if (!restore && (v & kChanMask) != kChanRed) {
            if (s == 2 || s == 3 || (s == 1 && t > 1) || t > 2 || (upper && (s == 1 || t > 1))) return -1;
        }
        if (Info(camera, INFO_SYNCGRABCHAN) == 1)
            mpPrvDigPut(camera, DIG_GRABCTL, kSyncMask, mp_dig_map_sync_log_to_phys(camera, v) << kSyncShift);
    }
    SetInfo(camera, INFO_CHANNEL, v);
    return 0;
}

int mp_dig_sync_channel(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    if ((type & 0xFFFF) != IM_DIG_SYNC_CHANNEL) {
        if (mode == 1)
            *value = (mpPrvDigGet(camera, DIG_GRABCTL) & kSyncMask) >> kSyncShift;
        else
            mpPrvDigPut(camera, DIG_GRABCTL, kSyncMask, (static_cast<uint32_t>(mpPrvToInt(*value)) & 3) << kSyncShift);
        return 0;
    }
    if (!camera) return 0;  // logical channels need a record
    if (mode == 1) {
        *value = mp_dig_map_sync_phys_to_log(camera, (Info(camera, DIG_GRABCTL) & kSyncMask) >> kSyncShift);
        return 0;
    }
    uint32_t bits;
    if (*value == kSyncFollowsGrab) {
        bits = mp_dig_map_sync_log_to_phys(camera, Info(camera, INFO_CHANNEL)) << kSyncShift;
        SetInfo(camera, INFO_SYNCGRABCHAN, 1);
    } else {
        bits = mpPrvIsDefault(*value)
                   ? mpPrvDigFile(camera, DIG_GRABCTL)
                   : mp_dig_map_sync_log_to_phys(camera, static_cast<uint32_t>(mpPrvToInt(*value))) << kSyncShift;
        SetInfo(camera, INFO_SYNCGRABCHAN, 0);
    }
    mpPrvDigPut(camera, DIG_GRABCTL, kSyncMask, bits);
    return 0;
}

int mp_dig_nbr_max_channel(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) *value = __builtin_popcount(mp_dig_channel_extend(camera) & kChanMask);
    return 0;
}

int mp_dig_map_channel(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        const uint32_t channel = Info(camera, INFO_CHANNEL);
        *value = Info(camera, INFO_INPUT) == 0 ? mp_dig_map_analog_channel(camera, channel)
                                               : mp_dig_map_digital_channel(camera, channel);
    }
    return 0;
}
