// Input lookup tables and camera controls of the second grab-module family.
//
// The module has six 256-entry input LUTs, three per channel (LUTs 0-2 channel 0, 3-5
// channel 1), programmed through three module registers: ISF_LUTEN (one enable bit per
// LUT), ISF_LUTIDX (entry index, advanced by every data access) and ISF_LUTDATA.  They are
// plain 32-bit accesses to the register's low byte lane, with no delay and no shadow.
//
// The controls edit a second-family camera record only; the module follows at the record's
// next download.  Every handler returns 0 done or -1 refused (the entry point logs -8).
// Percent values p become n = trunc(p x 2.56), held to 0-255 so that 100 % stays inside
// the 8-bit registers; inquiries answer register x 100 / 256 from the raw byte.
//
// Threads: the node's command-server task that serves the request, with the module's
// registers selected (SetToExt) for the LUT transfer; nothing here takes a lock.
#pragma once

#include "camrec.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;
class LutBufferView;

// The LUT transfer record of the second family: which LUTs, where their data is.
struct KVX_LUT_INFO {
    uint32_t mask;              // LUTs written together (bit k = LUT k); 0 = each pointer's LUT on its own
    uint32_t pitch;             // byte step between entries in a source
    uint32_t count;             // entries (at most 256)
    uint32_t channel;           // 0 or 1: which half of the six LUTs
    const uint8_t* source[6];   // one source per LUT, null = not written
};

// LUT registers (module register offsets) and the entries per LUT.
constexpr uint32_t kKvxIsfLutEn = 0x280;
constexpr uint32_t kKvxIsfLutIdx = 0x288;
constexpr uint32_t kKvxIsfLutData = 0x290;
constexpr uint32_t kKvxLutEntries = 256;

// Video decoder register n (0-63) lies in record slot DEC_STAT + 8 n.
constexpr uint32_t KvxDecSlot(uint32_t reg) { return cam1::DEC_STAT + 8 * reg; }
namespace kvxdec {
constexpr uint32_t CMDA = 1;
constexpr uint32_t CMDB = 2;
constexpr uint32_t AGC = 11;
constexpr uint32_t CON = 16;
constexpr uint32_t BRT = 17;
constexpr uint32_t SAT = 21;
constexpr uint32_t HUE = 22;
constexpr uint32_t OFMTA = 30;
}  // namespace kvxdec
static_assert(KvxDecSlot(13) == cam1::DEC_CDEM && KvxDecSlot(64) == cam1::DEC_GAMMA, "decoder slots");

// The second record's description field of a standard INFO_ offset.
constexpr uint32_t KvxInfo(uint32_t standardInfo) { return standardInfo + cam1::kInfoToStandard; }

// ---- LUT programming ---------------------------------------------------------------------
// Loads the camera's LUT buffer (DESCRIPTION_INFO_LUTBUFID), or without one an identity
// ramp into all six LUTs, for a channel of the download.  0, or -1 when the camera has more
// than two taps in total or the ramp cannot be allocated.
int mp_kvx_prog_lut(_MP_CAM_ST_1* camera, uint32_t channel);
// Fills the record's sources from the LUT buffer by the camera's input kind, bits per
// channel and taps; an input kind other than 0, 4 and 5 leaves the record empty.  `view`,
// when given, supplies host copies of bands in board memory.  The record's channel must be
// set first.
void mp_kvx_address(const _MP_CAM_ST_1* camera, _MP_BUF_ST* lut, KVX_LUT_INFO* info, LutBufferView* view = nullptr);
// The identity ramp in `area` (256 bytes) as the source of all six LUTs.
void mp_kvx_ramp(KVX_LUT_INFO* info, uint8_t* area);
// Operation 0 writes the LUTs from the record, 1 reads LUTs 0-2 of the record's channel
// half into its sources.  0.
int mp_kvx_lut_access(const _MP_CAM_ST_1* camera, KVX_LUT_INFO* info, int32_t operation);
int mp_kvx_lut_write(const _MP_CAM_ST_1* camera, const KVX_LUT_INFO* info);
int mp_kvx_lut_read(const _MP_CAM_ST_1* camera, KVX_LUT_INFO* info);

// ---- controls (camera record or null, value address, mode 0 set / 1 inquire) --------------
int mp_kvx_channel(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_lut_buf(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_size_x(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_size_y(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_size_bit(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_num_bands(_MP_CAM_ST_1* camera, double* value, int32_t mode);
// Buffer type of a grab (inquiry only): 8 for three 8-bit bands at 24 bits, else by the
// bytes of one band: 8, 16, 0x40000018 or 32.
int mp_kvx_type(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_scan_mode(_MP_CAM_ST_1* camera, double* value, int32_t mode);
// Amplifier gain (FAF_OPAMPCTL bits 0-1): 25, 50, 75 or 100 %.
int mp_kvx_gain(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
// Decoder gain: type 30002 the AGC register in percent, 30036 the gain switch (DEC_CMDB
// bit 4: 0 for the default or enable, 1 otherwise).
int mp_kvx_dec_gain(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
// White and black references: the DAC working bytes of both channels.
int mp_kvx_ref_white(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
int mp_kvx_ref_black(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
// Decoder picture controls, stored as (n + 128) mod 256.
int mp_kvx_brightness(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
int mp_kvx_contrast(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
int mp_kvx_hue(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
int mp_kvx_saturation(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);
// User input and output formats (FAF_IOENCTL0 bits 1/9 and 6/7) and the user output
// (FAF_USERO bit 0) of a camera record; the user input has no record value (-1 with one).
// Without a record all four refuse: the live module has no channel to name here.
int mp_kvx_user_in_format(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_user_out_format(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_user_out(_MP_CAM_ST_1* camera, double* value, int32_t mode);
int mp_kvx_user_in(_MP_CAM_ST_1* camera, double* value, int32_t mode);

// ---- requests without hardware behind them -------------------------------------------------
// The LUT get and set and the capture requests of the second family: each fails with -9.
void mpDigLutGet_Async(MP_RESOURCE_ST* res);
void mpDigLutSet_Async(MP_RESOURCE_ST* res);
void mpDigCapture_Async(MP_RESOURCE_ST* res);
