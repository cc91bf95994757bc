// Reference levels and calibration of the standard grab module.
#include "calrefs.h"

#include "eeprom.h"
#include "regmap/grab_regs.h"
#include "serialchips.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kMiscCalibrated = 0x002;
constexpr uint32_t kMiscAnyGain = 0x800;
constexpr uint32_t kSrcCfgPortBits = grabregs::kSrcCfgAccess;
constexpr uint32_t kEepromFitted = grabregs::kEepromPresent;
constexpr uint32_t kFormatPresent = 1;

// The thirteen DAC slots in the order of refDacBytes.
constexpr uint32_t kDacSlots[cam0::kRefDacCount] = {
    cam0::DAC8800REF_NREF,
    cam0::DAC8800REF_REDR,   cam0::DAC8800LVL_REDC,   cam0::DAC8800LVL_REDF,
    cam0::DAC8800REF_GREENR, cam0::DAC8800LVL_GREENC, cam0::DAC8800LVL_GREENF,
    cam0::DAC8800REF_BLUER,  cam0::DAC8800LVL_BLUEC,  cam0::DAC8800LVL_BLUEF,
    cam0::DAC8800REF_ALPHAR, cam0::DAC8800LVL_ALPHAC, cam0::DAC8800LVL_ALPHAF,
};

// The fields whose change makes the next load compute the values again.
constexpr uint32_t kLevelFields[] = {
    cam0::BLACK_REF,      cam0::WHITE_REF_RED, cam0::WHITE_REF_GREEN, cam0::WHITE_REF_BLUE,
    cam0::WHITE_REF_ALPHA, cam0::VDL_AMPL,     cam0::VDL_PED_AMP,     cam0::SYN_AMPL,
    cam0::BLACK_LEVEL,    cam0::WHITE_LEVEL,
};
constexpr uint32_t kWhiteRefs[4] = {cam0::WHITE_REF_RED, cam0::WHITE_REF_GREEN, cam0::WHITE_REF_BLUE,
                                    cam0::WHITE_REF_ALPHA};

uint32_t Word(const _MP_CAM_ST_0* cam, uint32_t offset) { return CamSlotAt(cam, offset)->value; }
int32_t Signed(const _MP_CAM_ST_0* cam, uint32_t offset) { return static_cast<int32_t>(Word(cam, offset)); }

uint8_t* RefDacBytes(_MP_CAM_ST_0* cam) { return cam->bytes + cam0::REF_DAC_BYTES; }
uint8_t* CalData(_MP_CAM_ST_0* cam) { return cam->bytes + cam0::CAL_DATA; }
const uint8_t* CalData(const _MP_CAM_ST_0* cam) { return cam->bytes + cam0::CAL_DATA; }

uint16_t CalWord(const _MP_CAM_ST_0* cam, uint32_t index)
{
    const uint8_t* d = CalData(cam) + 2 * index;
    return static_cast<uint16_t>(d[0] | (d[1] << 8));
}
void SetCalWord(_MP_CAM_ST_0* cam, uint32_t index, uint16_t value)
{
    uint8_t* d = CalData(cam) + 2 * index;
    d[0] = static_cast<uint8_t>(value);
    d[1] = static_cast<uint8_t>(value >> 8);
}

void RecordDacBytes(_MP_CAM_ST_0* cam)
{
    for (uint32_t i = 0; i < cam0::kRefDacCount; ++i)
        RefDacBytes(cam)[i] = static_cast<uint8_t>(Word(cam, kDacSlots[i]));
}

// Reads the module's calibration on a record's first load: the format word, the check
// that an EEPROM is fitted at all (register 70 bit 12 while DIG_SRCCFG bits 13 and 14 are
// set) and, when the format says so, words 0-969.
void ReadCalibration(_MP_CAM_ST_0* cam)
{
    SetCalWord(cam, 0, static_cast<uint16_t>(mp_dig_get_eeprom(0) & 0xFF));
    const uint32_t srcCfg = grabregs::Slot(grabregs::DIG_SRCCFG);
    const uint32_t* live = mpPrvExtSlot(srcCfg);
    if (!live) return;
    const uint32_t kept = live[0];
    mpPrvSetExtReg(srcCfg, kept | kSrcCfgPortBits);
    const uint32_t status = mpPrvReadExtReg(grabregs::Slot(grabregs::kEepromPresentPort));
    mpPrvSetExtReg(srcCfg, kept);
    if (!(status & kEepromFitted)) SetCalWord(cam, 0, 0x00FF);
    if (CalWord(cam, 0) == kFormatPresent)
        for (uint32_t i = 0; i < cam0::kCalWords; ++i) SetCalWord(cam, i, mp_dig_get_eeprom(i));
}

bool LevelsChanged(const _MP_CAM_ST_0* cam)
{
    const uint8_t* live = mpPrvExtShadow();
    if (!live) return true;
    const _MP_CAM_ST_0* shadow = reinterpret_cast<const _MP_CAM_ST_0*>(live);
    for (uint32_t offset : kLevelFields)
        if (Word(cam, offset) != Word(shadow, offset)) return true;
    return ((Word(cam, cam0::INFO_MISC) ^ Word(shadow, cam0::INFO_MISC)) & kMiscCalibrated) != 0;
}

} // namespace

const STRUCT_DATA* mpPrvEEpromDataPtr(const _MP_CAM_ST_0* cam, uint32_t channel, double* gain)
{
    static const uint32_t kShift[4] = {2, 4, 6, 0};
    static const uint8_t kCodes[4] = {21, 27, 33, 41};
    static const double kGains[4] = {2.1, 2.7, 3.3, 4.1};
    if (channel > 3) return nullptr;
    const uint32_t setting = (Word(cam, cam0::DIG_ANACTL) >> kShift[channel]) & 3;
    if (gain) *gain = kGains[setting];

    const uint32_t clock = Word(cam, cam0::INFO_PIXCLK);
    const uint32_t band = clock < 16000000 ? 0 : clock < 23500000 ? 1 : clock < 31000000 ? 2 : 3;

    uint32_t table;
    switch ((Word(cam, cam0::DIG_GRABCTL) >> 8) & 0xF) {
    case 12: table = 0; break;
    case 0: case 1: case 8: case 9: table = 1; break;
    case 2: case 3: case 10: case 11: table = 2; break;
    case 4: table = 3; break;
    default: return nullptr;
    }
    if (kCodes[setting] != CalData(cam)[kCalGainCode] && !(Word(cam, cam0::INFO_MISC) & kMiscAnyGain))
        return nullptr;
    return reinterpret_cast<const STRUCT_DATA*>(CalData(cam) + CalTableOffset(band, table));
}

int mpPrvCalcVals(_MP_CAM_ST_0* cam)
{
    uint8_t* bytes = RefDacBytes(cam);
    std::memset(bytes, 0, cam0::kRefDacCount);
    int result = 0;

    const double span = (Signed(cam, cam0::WHITE_LEVEL) - Signed(cam, cam0::BLACK_LEVEL)) * 0.001;
    if (!(span > 0)) return -1;
    const double ped = Signed(cam, cam0::VDL_PED_AMP) * 0.001;
    const double sync = Signed(cam, cam0::SYN_AMPL) * 0.001;
    const double black = Signed(cam, cam0::BLACK_REF) * span * 0.01 + ped;
    double nrefV = 0.35;
    bool raised = false;
    bool lowered = false;

    for (uint32_t c = 0; c < 4; ++c) {
        const STRUCT_DATA* table = mpPrvEEpromDataPtr(cam, c, nullptr);
        if (!table) return -1;
        const STRUCT_DATA::Channel& k = table->channel[c];
        const double white = Signed(cam, kWhiteRefs[c]) * span * 0.01 + ped;
        // White at or below black has no gain (the logarithm below needs a positive
        // ratio), and an exponent of 0 none either.
        if (!(white > black) || k.gExp == 0.0f) return -1;

        for (int redo = 0;; ++redo) {
            if (redo > kMaxNrefRedos) return -1;
            if (nrefV < 0) return -1;
            // The byte holds NREF only up to 255; above it the value would wrap to 0.
            const double nrefScaled = std::trunc(nrefV * 102.4);
            if (nrefScaled > 255) return -1;
            const uint32_t nref = static_cast<uint32_t>(nrefScaled);
            bytes[cam0::kRefNref] = static_cast<uint8_t>(nref);
            if (nref < table->nrefMin || nref > table->nrefMax) result = -4;

            const double x = 256.0 / (white - black);
            const double g = std::exp((std::log(x) - k.gLog) / k.gExp);
            const double ref = std::floor(nref + g + 0.5);
            const double a = std::exp(k.aExp * std::log(g) + k.aLog);
            const double b = std::exp(k.bExp * std::log(g) + k.bLog);
            const double level = ((k.vOffset - black) * x - b) / a + nref;
            if (!std::isfinite(ref) || !std::isfinite(level)) return -1;
            const double coarse = std::floor(level);
            const double fine = std::floor(table->fineSteps * (level - coarse) + 0.5);
            const double whole = std::trunc(level);

            if (fine * 0.000610546875 + coarse * 0.009765625 - sync < -0.3 || whole < table->coarseMin) {
                if (lowered) return -1;
                nrefV += 0.025;
                raised = true;
                continue;
            }
            if (whole > table->coarseMax) {
                if (!raised) {
                    nrefV -= 0.025;
                    lowered = true;
                    continue;
                }
                result = -4;
            }
            const double refOverNref = std::trunc(ref) - nref;
            if (refOverNref < table->refMinusNrefMin || refOverNref > table->refMinusNrefMax) result = -4;
            if (ref < 0 || ref > 255 || coarse < 0 || coarse > 255 || fine < 0 || fine > 255) return -1;
            bytes[cam0::RefDacIndex(c, 0)] = static_cast<uint8_t>(ref);
            bytes[cam0::RefDacIndex(c, 1)] = static_cast<uint8_t>(coarse);
            bytes[cam0::RefDacIndex(c, 2)] = static_cast<uint8_t>(fine);
            break;
        }
    }
    return result;
}

int calcRefs(_MP_CAM_ST_0* cam)
{
    const bool firstLoad = Word(cam, cam0::LOADED_ONCE) == 0;
    if (firstLoad) {
        if (Word(cam, cam0::SORVIK2_FLAG) == 0)
            ReadCalibration(cam);
        else
            RecordDacBytes(cam);
    }
    if (firstLoad || LevelsChanged(cam)) {
        RecordDacBytes(cam);
        if (Word(cam, cam0::INFO_MISC) & kMiscCalibrated)
            return CalWord(cam, 0) == kFormatPresent ? mpPrvCalcVals(cam) : -1;
    }
    return 0;
}
