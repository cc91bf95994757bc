// Reference and level values of the standard module's two DAC8800 trim DACs: straight from
// the camera record, or, in the calibrated mode (INFO_MISC bit 1), computed from the
// requested video levels and the module's factory calibration, which the record's first
// load reads from the module EEPROM.
#pragma once

#include "camrec.h"

#include <cstdint>

// One calibration table of the EEPROM image: one pixel-clock band and sample-mode table.
struct STRUCT_DATA {
    uint8_t unused;
    uint8_t fineSteps;       // fine steps per coarse step
    uint8_t coarseMin;
    uint8_t coarseMax;
    uint8_t nrefMin;
    uint8_t nrefMax;
    uint8_t refMinusNrefMin;
    uint8_t refMinusNrefMax;
    struct Channel {         // 0 red, 1 green, 2 blue, 3 alpha
        float vOffset;
        float gExp;
        float gLog;
        float aExp;
        float aLog;
        float bExp;
        float bLog;
    } channel[4];
};
static_assert(sizeof(STRUCT_DATA) == 120, "calibration tables are 120 bytes");

// Byte offsets in the calibration image (calData).
constexpr uint32_t kCalFormat = 0;       // 16-bit: 1 calibration present
constexpr uint32_t kCalGainCode = 2;     // gain code at calibration: 21, 27, 33 or 41
constexpr uint32_t kCalTables = 8;
constexpr uint32_t kCalBandBytes = 484;
constexpr uint32_t CalTableOffset(uint32_t band, uint32_t table) { return kCalTables + kCalBandBytes * band + 120 * table; }

// Most redos of one channel with a moved NREF; NREF stays within its byte long before.
constexpr int kMaxNrefRedos = 128;

// The thirteen DAC values of the record for its next load: 0, -4 when some value lies
// outside its calibrated bounds (the values are still stored), -1 when no usable
// calibration exists or a value leaves 0-255.
int calcRefs(_MP_CAM_ST_0* cam);
// The calibrated computation of refDacBytes; results as calcRefs.
int mpPrvCalcVals(_MP_CAM_ST_0* cam);
// The calibration table in the record's image for a channel's gain setting, sample-mode
// code and pixel-clock band, or null; gain (may be null) receives the channel's gain (2.1,
// 2.7, 3.3 or 4.1).  Null also for a gain code other than the calibrated one, unless
// INFO_MISC bit 11 accepts it.
const STRUCT_DATA* mpPrvEEpromDataPtr(const _MP_CAM_ST_0* cam, uint32_t channel, double* gain);
