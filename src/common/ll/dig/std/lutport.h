// LUT transfer between the host and the LUT memories of the standard grab module: the
// transfer with its register save and restore and the clock switch the LUT ports need,
// the FIFO write and read of LUT1 and LUT2, the Sorvik II port, and the LUT get and set
// requests.  Every entry written is first stored in the node's LUT copy area, so one band
// can be rewritten without reading the others back.
//
// Threads: the node's command-server task (requests) or the digitizer load; no lock is
// taken.  Every FIFO wait is bounded.
#pragma once

#include "lut.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;

// The node's LUT copy area: 49152 bytes at this offset of its Orlo state area.
constexpr uint32_t kLutCopyOffset = 117760;
constexpr uint32_t kLutCopyBytes = 49152;

// LUT port registers, by shadow slot offset (register n at 8 n).
constexpr uint32_t kLut1Port = 64 * 8;  // LUT2 port registers 8 further (72-79)
constexpr uint32_t kLut2Port = 72 * 8;
constexpr uint32_t kLutAddrLow = 0;     // + port: start address bits 0-7 (high byte)
constexpr uint32_t kLutAddrPage = 8;    // start page (high byte)
constexpr uint32_t kLutData = 16;       // data port (high byte)
constexpr uint32_t kLutFifoCtl = 24;    // 0x0300 before a write
constexpr uint32_t kLutStatus = 32;     // bit 10: FIFO holds data
constexpr uint32_t kLutReadCtl = 56;    // high byte 0 before a read
constexpr uint32_t kModuleStatus = 70 * 8;
// Sorvik II port registers.
constexpr uint32_t kS2Addr = 56 * 8;
constexpr uint32_t kS2Data = 57 * 8;
constexpr uint32_t kS2Page = 58 * 8;
constexpr uint32_t kS2Mode = 59 * 8;
constexpr uint32_t kS2Ctl = 60 * 8;

// Write-side FIFO polls after every 64 entries; read-side wait in seconds.
constexpr uint32_t kLutWritePolls = 1023;
constexpr double kLutReadWait = 5.0;

// The node's copy area for the selected module (null when the node has none).
uint8_t* mpPrvLutCopyArea();
// Cached clock words, computed once: grab-system clock 14318 kHz, user clock 28636 kHz,
// Sorvik II grab-system clock 20000 kHz.
uint32_t mpPrvGrbSysClk();
uint32_t mpPrvUsrClk();
uint32_t mpPrvGrbSysClkSorvik2();

// The transfer: direction 0 write, 1 read; access mode as in mp_dig_prog_lut.  0, or -1.
int mp_dig_lut_access(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode);
int mp_dig_lut_access_new(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode);
// One LUT's FIFO write (with clock refresh: the user clock re-sent every 256 entries) and read.
int mp_dig_lut1_write(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int clockRefresh);
int mp_dig_lut2_write(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int clockRefresh);
int mp_dig_lut1_read(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info);
int mp_dig_lut2_read(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info);
// 0 when the FIFO drained, 1 after 5 s on the library clock.
int mp_dig_lut1_fifo_empty();
int mp_dig_lut2_fifo_empty();
// The Sorvik II transfer.
int mp_dig_lut_access_sorvik2(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode);

// Requests (opcodes 144 and 145): errors are logged on the resource.
void mpDigLutGet_Std(MP_RESOURCE_ST* resource, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                     int32_t bandMask, int32_t start, int32_t count);
void mpDigLutSet_Std(MP_RESOURCE_ST* resource, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                     int32_t bandMask, int32_t start, int32_t count, int32_t mode);
