// Analog front end of the standard grab module and the mapping between logical channels
// (what an application selects) and physical channels (the converter inputs that carry
// them): gain, input filters, white and black references, coarse and fine levels, clock
// phase, sample mode, the current channel and the sync channel.
//
// Every handler takes (camera record or null, control type, address of the value, mode
// 0 set / 1 inquire; other modes do nothing) and returns 0 done or -1 refused.  With a
// camera record a set changes the record only; without one it changes the live register
// shadow of the selected module and writes the register (or the serial DAC) at once.
//
// Threads: the node's command-server task, with the module's registers selected
// (SetToExt); nothing here takes a lock.
#pragma once

#include "camrec.h"
#include "digvalue.h"

#include <cstdint>

struct _MP_CAM_ST_0;

// Word 0 of a slot of the record, or of the live shadow without a record (0 when neither).
uint32_t mpPrvDigGet(_MP_CAM_ST_0* camera, uint32_t offset);
// Changes the bits under the mask of a slot's word 0; without a record the slot's flags are
// cleared and the register is written (write false: the live slot only changes).
void mpPrvDigPut(_MP_CAM_ST_0* camera, uint32_t offset, uint32_t mask, uint32_t bits, bool write = true);
// Word 1 (the camera-file value) of a record slot.
uint32_t mpPrvDigFile(_MP_CAM_ST_0* camera, uint32_t offset);

// ---- channel masks -----------------------------------------------------------------------
constexpr uint32_t kChanMask = 0xF0000;
constexpr uint32_t kChanPhysical = 0x1000000;

// The channel mask a channel-aware control acts on: the type's bits 16-23, or the record's
// current channel; a logical mask taken with a record is mapped to physical channels.
// -1 without a mask and without a record; `physical` tells whether bit 24 was set.
int mp_dig_get_chan_mode(_MP_CAM_ST_0* camera, int32_t type, uint32_t* mask, bool* physical);
// Logical to physical masks (-1 without a record).
uint32_t mp_dig_map_analog_channel(_MP_CAM_ST_0* camera, uint32_t mask);
uint32_t mp_dig_map_digital_channel(_MP_CAM_ST_0* camera, uint32_t mask);
// Bits per physical channel.
uint32_t mp_dig_chan_phys_width(_MP_CAM_ST_0* camera);
// Sync input (0-3) of a logical mask, and the logical mask of a sync input.
uint32_t mp_dig_map_sync_log_to_phys(_MP_CAM_ST_0* camera, uint32_t mask);
uint32_t mp_dig_map_sync_phys_to_log(_MP_CAM_ST_0* camera, uint32_t input);
// The channels the camera can use, and the number of channels in a mask (the default:
// the current channel).
uint32_t mp_dig_channel_extend(_MP_CAM_ST_0* camera);
int mp_dig_nbr_chan(_MP_CAM_ST_0* camera, uint32_t mask);
// Ten-bit sample mode: green, blue and alpha levels derived from red and the references.
void mp_dig_adjust_level_10bit(_MP_CAM_ST_0* camera);

// ---- controls ----------------------------------------------------------------------------
int mp_dig_gain(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);            // 0, 30002
int mp_dig_sync_channel(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);    // 1, 30001
int mp_dig_sample_mode(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);     // 2
int mp_dig_clock_phase(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);     // 3
int mp_dig_ref_white(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);       // 4, 30003
int mp_dig_ref_black(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);       // 5, 30004
int mp_dig_level_coarse(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);    // 6
int mp_dig_level_fine(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);      // 7
int mp_dig_filters(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);         // 8
int mp_dig_map_channel(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);     // 162
int mp_dig_channel(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);         // 30000
int mp_dig_nbr_max_channel(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode); // 30022
