// The digitizer load of the standard grab module: one camera record put into the live
// module (references and level DACs, lookup tables, clock synthesizer, line-lock PLL,
// register shadow and hardware, line-lock controller, delay line, trim DACs, DIM register
// and camera description), then the wait for the video timing to settle.
//
// Everything acts on the module selected in the register-control record (SetToExt); no
// lock is taken here: the callers (camera allocation, the grab request) serialise access
// to the module.  Sleeps run on the library clock.
#pragma once

#include "camrec.h"

#include <cstdint>
#include <string>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;

// Load modes.
constexpr int32_t kDigLoadFull = 0;
constexpr int32_t kDigLoadAddChannels = 1;
constexpr int32_t kDigLoadOtherCamera = 2;

// Messages of the load (logged with code -9).
extern const char kLoadTextDacBounds[];        // "Warning: DAC values programmed are out of bounds"
extern const char kLoadTextReferences[];       // "Error programming grab module references"
extern const char kLoadTextLutFirst[];         // "Error programming LUTs (first time)"
extern const char kLoadTextLutPclkNotOk[];     // "Error programming LUTs (pclk was not ok)"
extern const char kLoadTextPrelockWarning[];   // "Warning: PLL prelock not successful; PLL freq (kHz): "
extern const char kLoadTextPrelockFailed[];    // "PLL prelock not successful"
extern const char kLoadTextLutPclkOk[];        // "Error programming LUTs (pclk was ok)"

// Loads the record into the live module.  lut: lookup-table buffer for the LUT programming
// (may be null); chanBits: channels of modes 1 and 2 (0x10000 red, 0x20000 green, 0x40000
// blue, 0x80000 alpha); mode 0 full load, 1 add channels, 2 other camera.  0, or -1 after
// a fatal step (logged on res, which may be null).
int mp_dig_load(MP_RESOURCE_ST* res, _MP_CAM_ST_0* cam, _MP_BUF_ST* lut, uint32_t chanBits, int32_t mode);

// Shadow loaders.  loadShPrelock copies every register the PLL start does not set into the
// live shadow (flags cleared, nothing written); loadSh copies only registers whose 16-bit
// value differs; loadHw sends the shadow slots whose written flag is clear; loadPLLSh copies
// the seven ICS1522 words without writing the chip; restoreSdig copies and writes the
// registers the PLL start had loaded with the prelock timing.
void loadShPrelock(const _MP_CAM_ST_0* cam);
void loadSh(const _MP_CAM_ST_0* cam);
void loadHw(const _MP_CAM_ST_0* cam);
void loadPLLSh(const _MP_CAM_ST_0* cam);
void restoreSdig(const _MP_CAM_ST_0* cam);

// The text followed by the number in decimal (a new string per call).
std::string convert(const char* text, uint32_t number);

// The settle wait of the load in seconds for a record: line time T = DIG_HTOTAL /
// INFO_PIXCLK, T x (DIG_VESYNC - DIG_VSSYNC) + T x DIG_VTOTAL / 2 + 0.001; a sync end
// before its start counts 0 lines; 0 when the record gives no pixel clock.
double mpPrvSettleTime(const _MP_CAM_ST_0* cam);
