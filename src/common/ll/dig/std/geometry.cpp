// Geometry, user input/output and PLL range handlers of the standard grab module.
#include "geometry.h"

#include "analog.h"
#include "camrec.h"
#include "frontdev.h"
#include "serialchips.h"

#include <cmath>
#include <cstring>

using namespace cam0;

namespace {

constexpr uint32_t kTypeComposite = 0x8;        // INFO_TYPE bit 3
constexpr uint32_t kDictlWidthAdjust = 0x1100;  // DIG_DICTL bits 8 and 12

uint32_t Word(_MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
uint32_t File(_MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->file; }
uint32_t Reg(_MP_CAM_ST_0* camera, uint32_t offset) { return Word(camera, offset) & 0xFFFF; }
void SetWord(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t value) { CamSlotAt(camera, offset)->value = value; }
// A 16-bit register value into a record slot (the upper half of the word kept).
void SetReg(_MP_CAM_ST_0* camera, uint32_t offset, int64_t value)
{
    CamSlot* slot = CamSlotAt(camera, offset);
    slot->value = (slot->value & 0xFFFF0000u) | (static_cast<uint32_t>(value) & 0xFFFF);
}

bool IsSorvik2(_MP_CAM_ST_0* camera) { return camera && Word(camera, SORVIK2_FLAG) != 0; }
uint32_t SamplingConfig(uint32_t grabctl) { return (grabctl >> 12) & 7; }
uint32_t Sorvik2Sampling(uint32_t control) { return (control >> 4) & 7; }

// Truncation toward zero of a scaled value.
int64_t Trunc(double v) { return static_cast<int64_t>(v); }

bool IsInquiry(int32_t mode) { return (mode & 1) != 0; }
bool SecondPath(int32_t mode) { return (mode & 2) != 0; }

// ---- width ---------------------------------------------------------------------------------

bool WidthRescales(_MP_CAM_ST_0* camera)
{
    if (IsSorvik2(camera)) {
        const uint32_t s = Sorvik2Sampling(Word(camera, SORVIK2_CONTROL));
        return s != 0 && s != 2 && s != 3;
    }
    const uint32_t grabctl = Word(camera, DIG_GRABCTL);
    const uint32_t g = SamplingConfig(grabctl);
    return (grabctl & 0x8000) != 0 || (g != 0 && g != 3);
}

// Width change without rescaling: the horizontal timing grows by the width difference d.
int WidthShift(_MP_CAM_ST_0* cam, uint32_t value, uint32_t w, uint32_t n)
{
    if (!(Word(cam, DIG_DICTL) & kDictlWidthAdjust)) return 0;
    const int64_t d = static_cast<int64_t>(n) - static_cast<int64_t>(w);
    const int64_t htotal = static_cast<int64_t>(Reg(cam, DIG_HTOTAL)) + d;
    if (htotal < 1 || htotal > 65535) return -1;
    SetReg(cam, DIG_HTOTAL, htotal);
    SetReg(cam, DIG_HEBLNK, Reg(cam, DIG_HEBLNK) + d);
    if (Word(cam, INFO_INPUT) == 0) {
        const uint32_t hssync = Reg(cam, DIG_HSSYNC);
        if (hssync != 0 && hssync != 6) SetReg(cam, DIG_HSSYNC, htotal + 4);
    }
    if ((File(cam, DIG_HSCLMP) & 0xFFFF) >= (File(cam, DIG_HEBLNK) & 0xFFFF) && !IsSorvik2(cam)) {
        SetReg(cam, DIG_HSCLMP, Reg(cam, DIG_HSCLMP) + d);
        SetReg(cam, DIG_HECLMP, Reg(cam, DIG_HECLMP) + d);
    }
    SetReg(cam, ORLOGREG_GHTOTAL, Reg(cam, ORLOGREG_GHTOTAL) + d);
    SetReg(cam, ORLOGREG_GHWSTOP, Reg(cam, ORLOGREG_GHWSTOP) + d);
    SetWord(cam, INFO_XSIZE, value);
    return 0;
}

// One timer in exposure mode 6 follows the new line length.
int ScaleTimer(_MP_CAM_ST_0* cam, uint32_t ctl, uint32_t count, uint32_t exposure, uint32_t delay, double r)
{
    if ((Word(cam, ctl) & 7) != 6) return 0;
    const uint32_t c = Reg(cam, count);
    if (static_cast<double>(c) * r > 65535.0) return -1;
    const uint32_t c1 = (c + 1) & 0xFFFF;
    const uint32_t e1 = (Reg(cam, exposure) + 1) & 0xFFFF;
    const uint32_t d1 = (Word(cam, delay) + 1) & 0xFFFF;
    SetReg(cam, count, Trunc((c1 + 4.0) * r - 4) - 1);
    SetReg(cam, exposure, Trunc((e1 - 2.0) * r + 2) - 1);
    SetWord(cam, delay, static_cast<uint32_t>(Trunc(d1 * r) - 1));
    return 0;
}

// Width change with rescaling: the whole horizontal timing and the pixel clock scale by r.
int WidthRescale(_MP_CAM_ST_0* cam, double r)
{
    const bool sorvik = IsSorvik2(cam);
    const uint32_t oldClock = Word(cam, INFO_PIXCLK);
    const int64_t clock = Trunc(oldClock * r + 0.5);
    if (clock > kDigMaxPixelClock) return -1;
    const int64_t htotal = Trunc((Reg(cam, DIG_HTOTAL) + 9.0) * r + 0.5 - 9);
    if (htotal >= 65536 || htotal < 1) return -1;
    SetReg(cam, DIG_HTOTAL, htotal);
    if (!sorvik) {
        SetReg(cam, DIG_HSCLMP, Trunc(Reg(cam, DIG_HSCLMP) * r + 0.5));
        SetReg(cam, DIG_HECLMP, Trunc((Reg(cam, DIG_HECLMP) + 1.0) * r + 0.5) - 1);
    }
    const double start = Reg(cam, ORLOGREG_GHWSTART);
    const double stop1 = Reg(cam, ORLOGREG_GHWSTOP) + 1.0;
    if (Word(cam, INFO_INPUT) == 0 && SamplingConfig(Word(cam, DIG_GRABCTL)) == 1) {
        SetReg(cam, ORLOGREG_GHWSTART, Trunc((start - 7) * r + 7.5));
        SetReg(cam, ORLOGREG_GHWSTOP, Trunc((stop1 - 7) * r + 7.5) - 1);
    } else {
        SetReg(cam, ORLOGREG_GHWSTART, Trunc(start * r + 0.5));
        SetReg(cam, ORLOGREG_GHWSTOP, Trunc(stop1 * r + 0.5) - 1);
    }
    SetReg(cam, ORLOGREG_GHTOTAL, Trunc((Reg(cam, ORLOGREG_GHTOTAL) + 1.0 + 2) * r + 0.5 - 2) - 1);
    if (!sorvik) mp_dig_update_ics1522(cam, oldClock, 0, r);
    SetWord(cam, INFO_XSIZE, static_cast<uint32_t>(Trunc(Word(cam, INFO_XSIZE) * r + 0.5)));
    SetWord(cam, INFO_PIXCLK, static_cast<uint32_t>(clock));
    if ((!sorvik && SamplingConfig(Word(cam, DIG_GRABCTL)) == 1) ||
        (sorvik && Sorvik2Sampling(Word(cam, SORVIK2_CONTROL)) == 1))
        SetWord(cam, INFO_USRCLK0, static_cast<uint32_t>(Trunc(Word(cam, INFO_USRCLK0) * r + 0.5)));
    if (ScaleTimer(cam, DIG_T1CTL, DIG_T1SCNT, DIG_EXP1S, INFO_T1DELAY, r) != 0) return -1;
    if (ScaleTimer(cam, DIG_T2CTL, DIG_T2SCNT, DIG_EXP2S, INFO_T2DELAY, r) != 0) return -1;
    return 0;
}

// ---- height --------------------------------------------------------------------------------

int HeightShift(_MP_CAM_ST_0* cam, uint32_t total, int64_t d)
{
    const bool sorvik = IsSorvik2(cam);
    auto add = [cam, d](uint32_t offset) { SetReg(cam, offset, Reg(cam, offset) + d); };
    const bool vtotalFromFile = (File(cam, DIG_VTOTAL) & 0xFFFF) != 0;
    if ((File(cam, DIG_PSGCFG) & 0x4) || ((File(cam, ORLOGREG_GRABCTRL) >> 8) & 3) == 2) {
        const int64_t gvtotal = static_cast<int64_t>(Reg(cam, ORLOGREG_GVTOTAL)) + d;
        if (gvtotal < 0 || gvtotal > 65535) return -1;
        if (vtotalFromFile) add(DIG_VTOTAL);
    } else {
        const uint32_t g = SamplingConfig(File(cam, DIG_GRABCTL));
        if ((g == 1 && !sorvik) || (sorvik && Sorvik2Sampling(File(cam, SORVIK2_CONTROL)) == 1)) {
            if (vtotalFromFile) add(DIG_VTOTAL);
        } else if (!(Word(cam, DIG_DICTL) & kDictlWidthAdjust)) {
            const int64_t stop = static_cast<int64_t>(Reg(cam, ORLOGREG_GVWSTOP)) + d;
            if (stop < 0 || stop > static_cast<int64_t>(File(cam, ORLOGREG_GVWSTOP) & 0xFFFF)) return -1;
            SetWord(cam, INFO_YSIZE, total);
            SetReg(cam, ORLOGREG_GVWSTOP, stop);
            return 0;
        } else {
            if (vtotalFromFile) {
                add(DIG_VTOTAL);
                add(DIG_VEBLNK);
            }
            if (g != 1 && !sorvik && (File(cam, DIG_VSCLMP) & 0xFFFF) != 0) {
                add(DIG_VSCLMP);
                add(DIG_VECLMP);
            }
        }
    }
    const int64_t stop = static_cast<int64_t>(Reg(cam, ORLOGREG_GVWSTOP)) + d;
    if (stop < 0 || stop > 65535) return -1;
    add(ORLOGREG_GVTOTAL);
    SetWord(cam, INFO_YSIZE, total);
    SetReg(cam, ORLOGREG_GVWSTOP, stop);
    return 0;
}

// Runs a record change on a copy and keeps it only when it succeeds.
template <typename Change>
int Staged(_MP_CAM_ST_0* camera, Change change)
{
    _MP_CAM_ST_0 work;
    std::memcpy(&work, camera, sizeof work);
    const int result = change(&work);
    if (result == 0) std::memcpy(camera, &work, sizeof work);
    return result;
}

// ---- user outputs ---------------------------------------------------------------------------

// One output level to or from a bit of a record or of the live shadow (written at once).
int LevelBit(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t bit, double* value, int32_t mode)
{
    if (IsInquiry(mode)) {
        *value = (mpPrvDigGet(camera, offset) >> bit) & 1;
        return 0;
    }
    uint32_t level;
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        level = (mpPrvDigFile(camera, offset) >> bit) & 1;
    } else {
        level = mpPrvToInt(*value) != 0 ? 1 : 0;
    }
    mpPrvDigPut(camera, offset, 1u << bit, level << bit);
    return 0;
}

// Outputs 2, 3 and 4: DIG_DICTL bits 2, 1, 0, or the DIM's DIMREG0 bits when it is fitted,
// or the Sorvik II control word's bits 8, 9, 10.
int UserOutLow(_MP_CAM_ST_0* camera, double* value, int32_t mode, uint32_t dictlBit, uint32_t sorvikBit)
{
    if (mode < 0 || mode > 3) return 0;
    if (!value) return -1;
    if (SecondPath(mode) || IsSorvik2(camera)) {
        if (SecondPath(mode) && camera) return 0;  // the second path is live only
        return LevelBit(camera, SORVIK2_CONTROL, sorvikBit, value, mode);
    }
    if (camera) {
        if (IsInquiry(mode)) return LevelBit(camera, DIG_DICTL, dictlBit, value, mode);
        double dim = *value;
        if (LevelBit(camera, DIG_DICTL, dictlBit, value, mode) != 0) return -1;
        return LevelBit(camera, DIMREG0, dictlBit, &dim, mode);
    }
    if (!mp_dig_dim_present(nullptr)) return LevelBit(nullptr, DIG_DICTL, dictlBit, value, mode);
    if (IsInquiry(mode)) return LevelBit(nullptr, DIMREG0, dictlBit, value, mode);
    if (mpPrvIsDefault(*value)) return -1;
    const uint32_t level = mpPrvToInt(*value) != 0 ? 1 : 0;
    const uint32_t dictl = mpPrvDigGet(nullptr, DIG_DICTL);
    mpPrvDigPut(nullptr, DIMREG0, 1u << dictlBit, level << dictlBit, false);
    mp_dig_set_dimreg(mpPrvDigGet(nullptr, DIMREG0) & 0xFF);
    mpPrvDigPut(nullptr, DIG_DICTL, 0xFFFF, dictl);
    return 0;
}

int UserIn(_MP_CAM_ST_0* camera, double* value, int32_t mode, uint32_t bit)
{
    if (camera) return -1;
    if (!value) return -1;
    if (mode == 1 || mode == 3) *value = (mpPrvReadExtReg(DIG_USRREG) >> bit) & 1;
    return 0;
}

// Bits b0 and b1 of DIG_DICTL from a format value: 0 -> 1/0, 1 -> 0/1, -9999 -> 0/0, others
// both from bit 0.
void FormatBits(int32_t v, uint32_t* b0, uint32_t* b1)
{
    if (v == 0) {
        *b0 = 1;
        *b1 = 0;
    } else if (v == 1) {
        *b0 = 0;
        *b1 = 1;
    } else if (v == static_cast<int32_t>(kDigDisable)) {
        *b0 = *b1 = 0;
    } else {
        *b0 = *b1 = static_cast<uint32_t>(v) & 1;
    }
}

double FormatAnswer(uint32_t dictl, uint32_t bit0, uint32_t bit1)
{
    if (dictl & (1u << bit0)) return 0;
    if (dictl & (1u << bit1)) return 1;
    return kDigDisable;
}

// Ten-bit sampling of an eight-bit analog record: sample mode 3, the LUTs no longer
// programmed from the record, and green, blue and alpha take red's analog settings.
int TenBitSampling(_MP_CAM_ST_0* cam)
{
    SetWord(cam, INFO_SAMPLEMODE, 3);
    SetWord(cam, INFO_LUTPROG, 0);
    const int32_t red = static_cast<int32_t>(kChanRed | kChanPhysical);
    const int32_t others = static_cast<int32_t>((kChanGreen | kChanBlue | kChanAlpha) | kChanPhysical);
    using Handler = int (*)(_MP_CAM_ST_0*, int32_t, double*, int32_t);
    const struct {
        Handler handler;
        int32_t control;
    } copies[] = {{mp_dig_gain, 0}, {mp_dig_filters, 8}, {mp_dig_level_coarse, 6}, {mp_dig_level_fine, 7}};
    for (const auto& c : copies) {
        double v = 0;
        if (c.handler(cam, c.control | red, &v, 1) != 0) return -1;
        if (c.handler(cam, c.control | others, &v, 0) != 0) return -1;
    }
    double white = Reg(cam, DAC8800REF_REDR);
    return mp_dig_ref_white(cam, 4 | others, &white, 0);
}

} // namespace

// ---- PLL range ---------------------------------------------------------------------------------

uint32_t mpPrvIcsDivider(double hz)
{
    if (hz < 3145728) return 8;
    if (hz < 6291456) return 4;
    if (hz < 14680064) return 2;
    return 1;
}

uint32_t mpPrvIcsDividerCode(double hz)
{
    if (hz < 3145728) return 0;
    if (hz < 6291456) return 1;
    if (hz < 14680064) return 2;
    return 3;
}

void mp_dig_update_ics1522(_MP_CAM_ST_0* camera, double f, int32_t flag, double r)
{
    const double f2 = static_cast<double>(Trunc(f * r + 0.5));
    const uint32_t file0 = mpPrvDigFile(camera, ICS1522REG(0)) & 0xFFFF;
    if (!camera || (file0 != 1024 && file0 != 79)) {
        const uint32_t reg0 = mpPrvDigGet(camera, ICS1522REG(0)) & 0xFFFF;
        const uint32_t scaled = static_cast<uint32_t>(
            Trunc(static_cast<double>(reg0 / mpPrvIcsDivider(f)) * mpPrvIcsDivider(f2) * r));
        mpPrvDigPut(camera, ICS1522REG(0), 0xFFFF, scaled, false);
    }
    const uint32_t range = mpPrvDigGet(camera, ICS1522REG(4)) & 7;
    if (f2 >= 26214400)
        mpPrvDigPut(camera, ICS1522REG(4), 7, (range & ~2u) | 5, false);
    else if (range != 5)
        mpPrvDigPut(camera, ICS1522REG(4), 7, (range & ~3u) | 4, false);
    if (!flag) mpPrvDigPut(camera, ICS1522REG(5), 0x30, mpPrvIcsDividerCode(f2) << 4, false);
}

// ---- geometry ---------------------------------------------------------------------------------

int mp_dig_size_x(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t x = Word(camera, INFO_XTAPSPERCH);
    const uint32_t w = (Reg(camera, ORLOGREG_GHWSTOP) - Reg(camera, ORLOGREG_GHWSTART) + 1) & 0xFFFF;
    if (mode == 1) {
        // Mend: without a grab window (both registers 0) the width is INFO_XSIZE, as grabs make it.
        const bool noWindow = Reg(camera, ORLOGREG_GHWSTART) == 0 && Reg(camera, ORLOGREG_GHWSTOP) == 0;
        const double answer = noWindow && Word(camera, INFO_XSIZE) != 0 ? Word(camera, INFO_XSIZE)
                                                                        : static_cast<double>(x) * w;
        *value = (Word(camera, INFO_TYPE) & kTypeComposite) ? 640.0 : answer;
        return 0;
    }
    if (x == 0 || w == 0) return -1;
    uint32_t width;
    uint32_t n;
    if (mpPrvIsDefault(*value)) {
        n = ((File(camera, ORLOGREG_GHWSTOP) & 0xFFFF) - (File(camera, ORLOGREG_GHWSTART) & 0xFFFF) + 1) & 0xFFFF;
        width = File(camera, INFO_XSIZE) != 0 ? File(camera, INFO_XSIZE) : n * x;
    } else {
        const int32_t v = mpPrvToInt(*value);
        if (v < 1) return -1;
        width = static_cast<uint32_t>(v);
        n = width / x;
    }
    if (width == 0) return -1;
    const double r = static_cast<double>(width) / (static_cast<double>(x) * w);
    return Staged(camera, [&](_MP_CAM_ST_0* cam) {
        return WidthRescales(cam) ? WidthRescale(cam, r) : WidthShift(cam, width, w, n);
    });
}

int mp_dig_size_y(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    if (mode == 1) {
        *value = (Word(camera, INFO_TYPE) & kTypeComposite) ? 480.0 : static_cast<double>(Word(camera, INFO_YSIZE));
        return 0;
    }
    const uint32_t taps = Word(camera, INFO_YTAPSPERCH) * Word(camera, INFO_YTAPSPERCHADJ);
    if (taps == 0) return -1;
    uint32_t total;
    if (mpPrvIsDefault(*value)) {
        total = File(camera, INFO_YSIZE);
    } else {
        const int32_t v = mpPrvToInt(*value);
        if (v < 1) return -1;
        total = static_cast<uint32_t>(v);
    }
    // Lines per tap, old and new: the registers count the lines of one tap.
    const int64_t d = static_cast<int64_t>(total / taps) - static_cast<int64_t>(Word(camera, INFO_YSIZE) / taps);
    return Staged(camera, [&](_MP_CAM_ST_0* cam) { return HeightShift(cam, total, d); });
}

int mp_dig_size_bit(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    uint32_t s = Word(camera, INFO_SAMPLEMODE);
    if (mode == 1) {
        *value = s == 3 ? 10.0 : static_cast<double>(Word(camera, INFO_BITSPERLOGCH));
        return 0;
    }
    int32_t bits;
    if (mpPrvIsDefault(*value)) {
        s = File(camera, INFO_SAMPLEMODE);
        if (s == 3) bits = 10;
        else if (s == 0) bits = 8;
        else return -1;
    } else {
        bits = mpPrvToInt(*value);
    }
    if (bits == 8) {
        if (s == 3) {
            SetWord(camera, INFO_SAMPLEMODE, 0);
            return 0;
        }
        return (s == 0 && Word(camera, INFO_BITSPERLOGCH) == 8) ? 0 : -1;
    }
    if (bits != 10) return -1;
    if (s == 3) return 0;
    if (s != 0) return -1;
    return Staged(camera, [](_MP_CAM_ST_0* cam) { return TenBitSampling(cam); });
}

int mp_dig_type(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value || mode != 1) return -1;
    if (Word(camera, INFO_SAMPLEMODE) == 3) {
        *value = 268435472.0;
        return 0;
    }
    const uint32_t c = __builtin_popcount(Word(camera, INFO_CHANNEL) & 0xF0000) * Word(camera, INFO_TIMEMULTICH);
    const uint32_t b = (Word(camera, INFO_BITSPERLOGCH) + 7) / 8;
    if (c == 1) {
        static const double kOneChannel[5] = {8, 8, 16, 1073741848.0, 32};
        *value = kOneChannel[b < 4 ? b : 4];
    } else {
        *value = b <= 1 ? 8 : 16;
    }
    return 0;
}

int mp_dig_num_bands(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value || mode != 1) return -1;
    *value = (Word(camera, INFO_TYPE) & kTypeComposite)
                 ? 3.0
                 : static_cast<double>(__builtin_popcount(Word(camera, INFO_CHANNEL) & 0xF0000) *
                                       Word(camera, INFO_TIMEMULTICH));
    return 0;
}

int mp_dig_scan_mode(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (!camera || !value || mode != 1) return -1;
    *value = Word(camera, INFO_TYPE) == 1 ? 4.0 : Word(camera, INFO_MODE) == 1 ? 1.0 : 0.0;
    return 0;
}

// ---- user outputs and inputs ---------------------------------------------------------------

int mp_dig_user_out_0(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    return LevelBit(camera, DIG_USRREG, 6, value, mode);
}

int mp_dig_user_out_1(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode != 0 && mode != 1) return 0;
    if (!value) return -1;
    return LevelBit(camera, DIG_USRREG, 7, value, mode);
}

int mp_dig_user_out_2(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return UserOutLow(camera, value, mode, 2, 8);
}

int mp_dig_user_out_3(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return UserOutLow(camera, value, mode, 1, 9);
}

int mp_dig_user_out_4(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return UserOutLow(camera, value, mode, 0, 10);
}

int mp_dig_user_in_0(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return UserIn(camera, value, mode, 4);
}

int mp_dig_user_in_1(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    return UserIn(camera, value, mode, 5);
}

int mp_dig_user_in_format(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode < 0 || mode > 3) return 0;
    if (!value) return -1;
    const bool second = (SecondPath(mode) && !camera) || IsSorvik2(camera);
    if (IsInquiry(mode)) {
        const uint32_t dictl = mpPrvDigGet(camera, DIG_DICTL);
        *value = second ? static_cast<double>((dictl >> 14) & 1) : FormatAnswer(dictl, 10, 14);
        return 0;
    }
    uint32_t b10, b14;
    if (mpPrvIsDefault(*value)) {
        if (!camera) return -1;
        const uint32_t file = mpPrvDigFile(camera, DIG_DICTL);
        b10 = IsSorvik2(camera) ? (mpPrvDigFile(camera, SORVIK2_CONTROL) >> 3) & 1 : (file >> 10) & 1;
        b14 = (file >> 14) & 1;
    } else {
        FormatBits(mpPrvToInt(*value), &b10, &b14);
    }
    if (second) {
        if (b10) mpPrvDigPut(camera, SORVIK2_CONTROL, 0x8, 0x8);
        else if (b14) mpPrvDigPut(camera, SORVIK2_CONTROL, 0x8, 0);
    }
    if (second && !camera) mpPrvDigPut(nullptr, DIG_DICTL, 0x4000, b14 << 14);
    else mpPrvDigPut(camera, DIG_DICTL, 0x4400, (b10 << 10) | (b14 << 14));
    return 0;
}

int mp_dig_user_out_format(_MP_CAM_ST_0* camera, int32_t, double* value, int32_t mode)
{
    if (mode < 0 || mode > 3) return 0;
    if (!value) return -1;
    const bool second = (SecondPath(mode) && !camera) || IsSorvik2(camera);
    if (IsInquiry(mode)) {
        const uint32_t dictl = mpPrvDigGet(camera, DIG_DICTL);
        if (!second) {
            *value = FormatAnswer(dictl, 11, 15);
        } else if ((mpPrvDigGet(camera, SORVIK2_CONTROL) & 0x1800) != 0x1800) {
            *value = 0;
        } else {
            *value = (dictl & 0x8000) ? 1.0 : kDigDisable;
        }
        return 0;
    }
    const bool restore = mpPrvIsDefault(*value);
    if (restore && !camera) return -1;
    if (!second) {
        uint32_t b11, b15;
        if (restore) {
            const uint32_t file = mpPrvDigFile(camera, DIG_DICTL);
            b11 = (file >> 11) & 1;
            b15 = (file >> 15) & 1;
        } else {
            const int32_t v = mpPrvToInt(*value);
            FormatBits(v, &b11, &b15);
            if (v != 0 && v != 1 && v != static_cast<int32_t>(kDigDisable)) b11 = b15 = 1;
        }
        mpPrvDigPut(camera, DIG_DICTL, 0x8800, (b11 << 11) | (b15 << 15));
        return 0;
    }
    uint32_t b15, control;
    if (restore) {
        b15 = mpPrvDigFile(camera, DIG_DICTL) & 0x8000;
        control = mpPrvDigFile(camera, SORVIK2_CONTROL) & 0x1800;
    } else {
        const int32_t v = mpPrvToInt(*value);
        b15 = v == 1 ? 0x8000 : 0;
        control = v != 0 ? 0x1800 : 0;
    }
    mpPrvDigPut(camera, SORVIK2_CONTROL, 0x1800, control);
    mpPrvDigPut(camera, DIG_DICTL, 0x8000, b15);
    return 0;
}
