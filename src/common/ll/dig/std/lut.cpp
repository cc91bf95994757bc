// Input lookup tables: the LUT mode decision, the table geometry, table building from the
// camera's LUT buffer or as a ramp, the ICS1522 defaults of the new programming path and
// the LUT controls.
#include "lut.h"

#include "hwaccess.h"

#include "analog.h"
#include "bufid.h"
#include "camrec.h"
#include "heap.h"
#include "lutport.h"
#include "pll.h"
#include "regmap/grab_regs.h"

#include <cstring>
#include <vector>

using namespace cam0;

namespace {

// DIG_LUTPAL fields.
constexpr uint32_t kPal1Mask = 0x1F;
constexpr uint32_t kPal2Shift = 8;
constexpr uint32_t kPal2Mask = 0x1F << kPal2Shift;
constexpr uint32_t kTriShift = 5;
constexpr uint32_t kTriMask = 0x7 << kTriShift;
constexpr uint32_t kModeShift = 13;
constexpr uint32_t kModeMask = 0x3 << kModeShift;
// DIG_GPCTL bit 5: blue mode.
constexpr uint32_t kGpBlue = 1u << 5;
// DIMREG0 bits 5 and 7.
constexpr uint32_t kDimLutBits = (1u << 5) | (1u << 7);
// Destination location of packed 32-bit colour.
constexpr uint32_t kLocPacked = 0x40000030;
constexpr uint32_t kLocPlain = 1;

constexpr int32_t kCtlTriState = 13;

uint32_t Rec(const _MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
void Put(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t mask, uint32_t bits)
{
    CamSlot* slot = CamSlotAt(camera, offset);
    slot->value = (slot->value & ~mask) | (bits & mask);
}
bool IsSorvik2(const _MP_CAM_ST_0* camera) { return Rec(camera, SORVIK2_FLAG) != 0; }
uint32_t Taps(const _MP_CAM_ST_0* camera)
{
    return Rec(camera, INFO_XTAPSPERCH) * Rec(camera, INFO_YTAPSPERCH) * Rec(camera, INFO_XTAPSPERCHADJ) *
           Rec(camera, INFO_YTAPSPERCHADJ);
}
uint32_t& LutModeSeen(_MP_CAM_ST_0* camera)
{
    return *reinterpret_cast<uint32_t*>(camera->bytes + kLutModeSeen);
}

// The camera's LUT buffer: null when none is named; invalid names fail through *bad.
_MP_BUF_ST* CameraLut(const _MP_CAM_ST_0* camera, bool* bad)
{
    *bad = false;
    const uint32_t id = Rec(camera, INFO_LUTBUFID);
    if (id == 0) return nullptr;
    _MP_BUF_ST* lut = mp_buf_pointer(id);
    if (!lut || !mp_buf_valid(lut, kBufKindImage)) {
        *bad = true;
        return nullptr;
    }
    return lut;
}

// Physical channel bits of a logical mask: analog or digital mapping by the input kind.
uint32_t MapChannel(_MP_CAM_ST_0* camera, uint32_t mask)
{
    return Rec(camera, INFO_INPUT) == 0 ? mp_dig_map_analog_channel(camera, mask)
                                        : mp_dig_map_digital_channel(camera, mask);
}

// Entries of a mode-0 table: 256 per bit above 8 (widths below 8 count as 8); 0 when the
// table would not fit the LUT memory.
uint32_t WideEntries(uint32_t width)
{
    if (width < 8) width = 8;
    // Mend: a width above 13 bits is refused, so a table never runs past the 8192 entries of a LUT band.
    if (width > 13) return 0;
    return kLutPageEntries << (width - 8);
}

// The tri-state code a channel width asks for by default.
uint32_t DefaultTriState(uint32_t width)
{
    if (width < 8 || width > 12) return 0;
    return 13 - width;
}

// The mode-0 or other-mode register changes of a LUT mode (blue untouched).
void ApplyMode(_MP_CAM_ST_0* camera, uint32_t mode)
{
    Put(camera, DIG_LUTPAL, kModeMask, mode << kModeShift);
    if (mode == 0) {
        Put(camera, DIG_GRABCTL, 0xB, 0x3);
        double value = kDigDefault;
        mp_dig_lut_tri_state(camera, kCtlTriState, &value, 0);
    } else if (Rec(camera, INFO_INPUT) != 0) {
        Put(camera, DIG_LUTPAL, kTriMask, 0);
    } else {
        Put(camera, DIG_GRABCTL, 0xA, 0x8);
    }
}

// Binds a LUT buffer's bands to the selected LUT bands in channel order (LUT1 first):
// a buffer of more than 8 bits per entry gives its bytes, low byte first, to successive
// selected bands; a buffer with fewer bands than needed gives its last band again.
void BindBuffer(_MP_BUF_ST* lut, LutBufferView& view, uint8_t** slots[], uint32_t slotCount, _MP_LUT_INFO* info)
{
    const uint32_t bytes = lut->bits > 8 ? (lut->bits + 7) / 8 : 1;
    info->stride = bytes;
    const uint32_t bands = lut->bands ? lut->bands : 1;
    for (uint32_t i = 0; i < slotCount; ++i) {
        uint32_t band = i / bytes;
        if (band >= bands) band = bands - 1;
        uint8_t* base = view.band(band);
        *slots[i] = base ? base + (i % bytes) : nullptr;
    }
}

// The selected band slots of an info, in channel order.
uint32_t SelectedSlots(_MP_LUT_INFO* info, uint8_t** slots[7])
{
    uint32_t n = 0;
    if (info->lutSelect & 1)
        for (uint32_t b = 0; b < 3; ++b)
            if (info->lut1Mask & (1u << b)) slots[n++] = &info->lut1Band[b];
    if (info->lutSelect & 2)
        for (uint32_t b = 0; b < 3; ++b)
            if (info->lut2Mask & (1u << b)) slots[n++] = &info->lut2Band[b];
    return n;
}

// Entries a LUT buffer holds contiguously in each band: size x times size y, or one line
// when the lines are padded.
uint32_t BufferEntries(const _MP_BUF_ST* lut)
{
    if (lut->sizeX <= 0 || lut->sizeY <= 0) return 0;
    const uint32_t bytes = lut->bits > 8 ? (lut->bits + 7) / 8 : 1;
    const uint32_t x = static_cast<uint32_t>(lut->sizeX);
    const uint32_t y = static_cast<uint32_t>(lut->sizeY);
    // Mend: padded lines give one line of entries, so the table never takes the padding bytes as entries.
    if (y > 1 && lut->pitch != x * bytes) return x;
    return x * y;
}

// Fills a ramp: plane 0 (and plane 1 for a wide unpacked table).
void FillRamp(uint8_t* plane0, uint8_t* plane1, uint32_t entries, uint32_t kind, bool packed, uint32_t width)
{
    const uint32_t shift = width > 8 ? width - 8 : 0;
    for (uint32_t i = 0; i < entries; ++i) {
        if (kind == kLutBlue || packed)
            plane0[i] = static_cast<uint8_t>(i >> shift);
        else if (kind == kLutWide) {
            plane0[i] = static_cast<uint8_t>(i & 0xFF);
            if (plane1) plane1[i] = static_cast<uint8_t>(i >> 8);
        } else {
            plane0[i] = static_cast<uint8_t>(i & 0xFF);
        }
    }
}

void ClearLutProg(_MP_CAM_ST_0* camera)
{
    CamSlotAt(camera, INFO_LUTPROG)->value = 0;
    mpPrvDigPut(nullptr, INFO_LUTPROG, 0xFFFFFFFFu, 0, false);
}

int ProgSorvik2(_MP_CAM_ST_0* camera, uint32_t chanBits, int32_t accessMode)
{
    _MP_LUT_INFO info{};
    if (mp_dig_lut_info(camera, &info, chanBits) != 0) return -1;
    bool bad = false;
    _MP_BUF_ST* lut = CameraLut(camera, &bad);
    if (bad) return -1;
    std::vector<uint8_t> ramp;
    LutBufferView view(lut);
    if (lut) {
        info.count = BufferEntries(lut);
        uint8_t** slots[4];
        uint32_t n = 0;
        for (uint32_t b = 0; b < 4; ++b)
            if (info.s2Mask & (1u << b)) slots[n++] = &info.s2Band[b];
        BindBuffer(lut, view, slots, n, &info);
    } else {
        const bool twoPlanes = info.kind == kLutWide;
        ramp.assign(info.count * (twoPlanes ? 2 : 1), 0);
        uint8_t* plane1 = twoPlanes ? ramp.data() + info.count : nullptr;
        FillRamp(ramp.data(), plane1, info.count, info.kind, false, info.width);
        for (uint32_t b = 0; b < 4; ++b) {
            if (!(info.s2Mask & (1u << b))) continue;
            // Mend: each pair's second band takes the high byte (not band 1 alone): LUT2's table keeps its high bytes.
            info.s2Band[b] = (plane1 && (b & 1)) ? plane1 : ramp.data();
        }
        info.stride = 1;
    }
    const int result = mp_dig_lut_access_sorvik2(camera, &info, 0, accessMode);
    ClearLutProg(camera);
    return result;
}

} // namespace

// ---- mode decision ---------------------------------------------------------------------

void mp_dig_update_mode(_MP_CAM_ST_0* camera, uint32_t mode, uint32_t blue)
{
    Put(camera, DIG_GPCTL, kGpBlue, blue ? kGpBlue : 0);
    ApplyMode(camera, mode);
}

int mp_dig_get_lut_mode(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest)
{
    uint32_t& seen = LutModeSeen(camera);
    if (seen == 0)
        seen = 1;
    else if (mpPrvDigGet(nullptr, INFO_BITSPERLOGCH) != Rec(camera, INFO_BITSPERLOGCH))
        CamSlotAt(camera, INFO_LUTPROG)->value = 1;
    if (IsSorvik2(camera)) return 0;

    bool bad = false;
    const _MP_BUF_ST* lut = CameraLut(camera, &bad);
    if (bad) return -1;
    if (lut && dest) {
        if (lut->bits != dest->bits) return -1;
        if (Rec(camera, INFO_CHANNEL) == kChanRed && dest->bands == 3 && lut->bits != 8) return -1;
    }

    const uint32_t width = mp_dig_chan_phys_width(camera);
    const uint32_t taps = Taps(camera);
    uint32_t mode = 1;
    uint32_t blue = 0;
    const bool eightToSixteen = dest && dest->bits == 16 && width == 8 && taps == 1;
    const bool plainColour = dest && Rec(camera, INFO_CHANNEL) == kChanRed && dest->bands == 3 &&
                             dest->location == kLocPlain && taps == 1;
    const uint32_t input = Rec(camera, INFO_INPUT);
    if (input == 0) {
        if (dest) {
            if (Rec(camera, INFO_SAMPLEMODE) == 0 && plainColour) {
                mode = 0;
                blue = 1;
            } else if (eightToSixteen) {
                mode = 0;
            }
        }
    } else if (width < 14) {
        if (width > 8) mode = 0;
        if (dest) {
            if (plainColour && Rec(camera, INFO_TIMEMULTICH) == 1) {
                mode = 0;
                blue = 1;
            } else if (eightToSixteen) {
                mode = 0;
            }
        }
        if (input == 5) {
            if (mode == 1 || width != 8)
                Put(camera, DIMREG0, kDimLutBits, CamSlotAt(camera, DIMREG0)->file);
            else
                Put(camera, DIMREG0, kDimLutBits, kDimLutBits);
        }
    }
    mp_dig_update_mode(camera, mode, blue);
    return 0;
}

// ---- geometry --------------------------------------------------------------------------

int mp_dig_lut_info(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, uint32_t chanBits)
{
    const uint32_t width = mp_dig_chan_phys_width(camera);
    info->width = width;
    info->stride = 1;
    if (IsSorvik2(camera)) {
        const bool wide = width == 10 || width == 12;
        const uint32_t scale = width == 10 ? 4 : width == 12 ? 16 : 1;
        info->kind = wide ? kLutWide : kLutEight;
        info->count = wide ? WideEntries(width) : kLutPageEntries;
        info->s2Page = (Rec(camera, grabregs::Slot(58)) & 0x1F) * scale;
        if (wide) {
            info->s2Mask = ((chanBits & kLut1Chan) ? 0x3 : 0) | ((chanBits & kLut2Chan) ? 0xC : 0);
        } else {
            info->s2Mask = (chanBits >> 16) & 0xF;
        }
        // Mend: a start page past the last page is refused, so the table is not written beyond the LUT memory.
        if (info->s2Page >= kLutPages) return -1;
        return 0;
    }

    const uint32_t mode = (Rec(camera, DIG_LUTPAL) & kModeMask) >> kModeShift;
    const bool blue = (Rec(camera, DIG_GPCTL) & kGpBlue) != 0;
    const uint32_t pal = Rec(camera, DIG_LUTPAL);
    if (mode == 0) {
        info->count = WideEntries(width);
        if (info->count == 0) return -1;
        info->kind = blue ? kLutBlue : kLutWide;
        uint32_t page1 = pal & kPal1Mask;
        uint32_t page2 = (pal & kPal2Mask) >> kPal2Shift;
        if (Rec(camera, INFO_INPUT) == 5 && (Rec(camera, DIMREG0) & kDimLutBits) != kDimLutBits &&
            Rec(camera, INFO_BITSPERLOGCH) > 8) {
            page1 = page2 = ((kLutEntries / info->count) - 1) * info->count / kLutPageEntries;
        }
        if (chanBits & kLut1Chan) {
            info->lutSelect |= 1;
            info->lut1Mask = 7;
            info->lut1Page = page1;
        }
        if ((chanBits & kLut2Chan) && info->kind != kLutBlue) {
            info->lutSelect |= 2;
            info->lut2Mask = 7;
            info->lut2Page = page2;
        }
        return 0;
    }
    // Modes 1-3 have eight-bit tables only; the blue bit with them defines no table.
    if (blue) return -1;
    info->kind = kLutEight;
    info->count = kLutPageEntries;
    const uint32_t page = 28 + mode;
    if (chanBits & kLut1Chan) {
        info->lutSelect |= 1;
        info->lut1Page = page;
        info->lut1Mask = ((chanBits & 0x10000) ? 1 : 0) | ((chanBits & 0x20000) ? 2 : 0);
    }
    if (chanBits & kLut2Chan) {
        info->lutSelect |= 2;
        info->lut2Page = page;
        info->lut2Mask = ((chanBits & 0x40000) ? 1 : 0) | ((chanBits & 0x80000) ? 2 : 0);
    }
    return 0;
}

// ---- programming ---------------------------------------------------------------------------

int mp_dig_load_lut(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest, int32_t mode)
{
    const uint32_t logical = mode == 2 ? mp_dig_channel_extend(camera) : Rec(camera, INFO_CHANNEL);
    const uint32_t chanBits = MapChannel(camera, logical);
    if (mp_dig_get_lut_mode(camera, dest) != 0) return -1;
    return mp_dig_prog_lut(camera, dest, chanBits, mode);
}

int mp_dig_prog_lut(_MP_CAM_ST_0* camera, _MP_BUF_ST* dest, uint32_t chanBits, int32_t accessMode)
{
    if (IsSorvik2(camera)) return ProgSorvik2(camera, chanBits, accessMode);

    _MP_LUT_INFO info{};
    info.packed = dest && Rec(camera, INFO_CHANNEL) == kChanRed && dest->bands == 3 && dest->location == kLocPacked &&
                  Taps(camera) == 1;
    if (mp_dig_lut_info(camera, &info, chanBits) != 0) return -1;

    bool bad = false;
    _MP_BUF_ST* lut = CameraLut(camera, &bad);
    if (bad) return -1;
    uint8_t* ramp = nullptr;
    LutBufferView view(lut);
    if (lut) {
        info.count = BufferEntries(lut);
        uint8_t** slots[7];
        const uint32_t n = SelectedSlots(&info, slots);
        BindBuffer(lut, view, slots, n, &info);
    } else {
        const bool twoPlanes = info.kind == kLutWide && !info.packed;
        ramp = static_cast<uint8_t*>(safe_malloc(info.count * (twoPlanes ? 2 : 1)));
        if (!ramp) return -1;
        uint8_t* plane1 = twoPlanes ? ramp + info.count : nullptr;
        FillRamp(ramp, plane1, info.count, info.kind, info.packed != 0, info.width);
        for (uint32_t b = 0; b < 3; ++b) {
            uint8_t* plane = (plane1 && b == 1) ? plane1 : ramp;
            if (info.lut1Mask & (1u << b)) info.lut1Band[b] = plane;
            if (info.lut2Mask & (1u << b)) info.lut2Band[b] = plane;
        }
    }
    const int result = mp_dig_lut_access(camera, &info, 0, accessMode);
    ClearLutProg(camera);
    safe_free(ramp);
    return result;
}

void mp_dig_init_ics1522()
{
    static const uint32_t kDefaults[7] = {79, 3, 6, 19, 1436, 1473, 71};
    for (int32_t r = 0; r < 7; ++r) mpPrvLoadIcs1522Reg(kDefaults[r], r);
}

// ---- controls --------------------------------------------------------------------------------

int mp_dig_lut_mode(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = (Rec(camera, DIG_LUTPAL) & kModeMask) >> kModeShift;
        return 0;
    }
    if (mode != 0) return 0;
    int32_t m;
    if (mpPrvIsDefault(*value))
        m = static_cast<int32_t>((CamSlotAt(camera, DIG_LUTPAL)->file & kModeMask) >> kModeShift);
    else
        m = mpPrvToInt(*value);
    if (m < 0 || m > 3) return -1;
    if (m == 0) {
        const uint32_t channel = Rec(camera, INFO_CHANNEL);
        const uint32_t taps = Taps(camera);
        const uint32_t width = mp_dig_chan_phys_width(camera);
        if (Rec(camera, INFO_INPUT) == 0) {
            if ((channel & 0xC0000) || Rec(camera, INFO_SAMPLEMODE) != 0 || taps >= 2) return -1;
        } else {
            if (width >= 14 || taps >= 2) return -1;
            if (width == 8 && (channel & 0xA0000)) return -1;
            if (width > 8 && (channel & 0xC0000)) return -1;
        }
    }
    ApplyMode(camera, static_cast<uint32_t>(m));
    return 0;
}

int mp_dig_lut_blue_mode(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = (Rec(camera, DIG_GPCTL) & kGpBlue) ? 1 : 0;
        return 0;
    }
    if (mode != 0) return 0;
    uint32_t blue;
    if (mpPrvIsDefault(*value))
        blue = (CamSlotAt(camera, DIG_GPCTL)->file & kGpBlue) ? 1 : 0;
    else
        blue = mpPrvToInt(*value) ? 1 : 0;
    if (blue) {
        const bool analog = Rec(camera, INFO_INPUT) == 0;
        const bool ok = Rec(camera, INFO_CHANNEL) == kChanRed && Taps(camera) <= 1 &&
                        (analog ? Rec(camera, INFO_SAMPLEMODE) == 0 : mp_dig_chan_phys_width(camera) < 14);
        if (!ok) return -1;
    }
    Put(camera, DIG_GPCTL, kGpBlue, blue ? kGpBlue : 0);
    return 0;
}

namespace {

// A palette (start page 0-31) in DIG_LUTPAL, on a record or on the live register.
int Palette(_MP_CAM_ST_0* camera, double* value, int32_t mode, uint32_t shift)
{
    if (!value) return -1;
    const uint32_t mask = kPal1Mask << shift;
    if (mode == 1) {
        *value = (mpPrvDigGet(camera, DIG_LUTPAL) & mask) >> shift;
        return 0;
    }
    if (mode != 0) return 0;
    int32_t page;
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        page = static_cast<int32_t>((CamSlotAt(camera, DIG_LUTPAL)->file & mask) >> shift);
    } else {
        page = mpPrvToInt(*value);
    }
    // The LUT memory has 32 pages.
    if (page < 0 || page >= static_cast<int32_t>(kLutPages)) return -1;
    mpPrvDigPut(camera, DIG_LUTPAL, mask, static_cast<uint32_t>(page) << shift);
    return 0;
}

} // namespace

int mp_dig_lut1_palette(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return Palette(camera, value, mode, 0);
}

int mp_dig_lut2_palette(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return Palette(camera, value, mode, kPal2Shift);
}

int mp_dig_lut_tri_state(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = (Rec(camera, DIG_LUTPAL) & kTriMask) >> kTriShift;
        return 0;
    }
    if (mode != 0) return 0;
    uint32_t code;
    if (mpPrvIsDefault(*value)) {
        code = DefaultTriState(mp_dig_chan_phys_width(camera));
    } else {
        const int32_t v = mpPrvToInt(*value);
        if (v < 0 || v > 7) return -1;
        code = static_cast<uint32_t>(v);
    }
    Put(camera, DIG_LUTPAL, kTriMask, code << kTriShift);
    return 0;
}

int mp_dig_lut_buf(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return 0;
    if (mode == 1) {
        *value = Rec(camera, INFO_LUTBUFID);
        return 0;
    }
    if (mode != 0) return 0;
    uint32_t id;
    if (mpPrvIsDefault(*value))
        id = CamSlotAt(camera, INFO_LUTBUFID)->file;
    else
        id = static_cast<uint32_t>(mpPrvToInt(*value));
    CamSlotAt(camera, INFO_LUTBUFID)->value = id;
    CamSlotAt(camera, INFO_LUTPROG)->value = 1;
    return 0;
}
