// Register download of the second grab-module family: brings the chips of one channel (the
// video decoder, the channel's timing chip and ICS1522 PLL, the input LUTs, the bypass
// register, the level DAC) and the channel's descriptor words into the state a camera
// record describes.  A full download (mode 0) writes everything; a difference download
// (modes 1 added channels, 2 another camera, 4 same camera) writes only registers whose
// camera value differs from the channel's live shadow.  The live shadow is updated with
// each register written, so it always equals what the hardware was last given.
//
// Callers select the module's register window (SetToOrlo, SetToExt) and hold the node's
// KVX_INFO (kvxAlloc); without it nothing is written.
#pragma once

#include "camrec.h"
#include "hlc_arch.h"

#include <cstdint>

struct _MP_BUF_ST;
struct _MP_CAM_ST_1;

// Download modes.
constexpr int32_t kKvxLoadFull = 0;
constexpr int32_t kKvxLoadAdded = 1;
constexpr int32_t kKvxLoadOther = 2;
constexpr int32_t kKvxLoadSame = 4;

// Timing-chip register index of a slot: (slot offset - FAF_PTOTAL) / 4, so FAF_PTOTAL 0,
// FAF_PSVAL 2, FAF_IOENCTL0 74, FAF_OPAMPCTL 78.
constexpr uint32_t KvxTimingIndex(uint32_t slot)
{
    return (slot - cam1::FAF_PTOTAL) >> 2;
}

// Downloads the camera to channel 0-3.  The LUT buffer argument is not used (the camera
// names its own).  0, or -1 when the LUT programming failed, the channel is outside 0-3, or
// a full download names channel 2 or 3 (whose timing shadow a full download cannot fill).
int mp_kvx_load(_MP_CAM_ST_1* camera, _MP_BUF_ST* lut, uint32_t channel, int32_t mode);

// The steps, each on (camera, channel, mode).
void mp_kvx_load_dec(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_load_faf(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_prelock_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_set_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_load_dac(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_load_dim(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
void mp_kvx_load_descr(_MP_CAM_ST_1* camera, uint32_t channel);
// 1 when at least one PLL register (start set for the prelock) was written, else 0.
int mp_kvx_load_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);
int mp_kvx_load_prelock_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode);

// Pixel-clock check on channel 0: 1 when the count read over 0.1 s stays at or below 65000
// and lies within 0.5 % of the expected count, else 0 (also for an expected count of 0).
int mp_kvx_check_pclk_ok(uint32_t expected);
// The check once and then up to 20 more times 0.04 s apart: 0 at the first success, else -1.
int mp_kvx_check_pll_lock(uint32_t expected);
