// Device exports: a device id carries its node number in bits 16-23.
//
// Threads: any caller's thread.  Opens and closes of every process follow one another
// through the system-wide mutex "MUTEX_imDev_", waited for at most the communication
// time-out.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

// Opens board `board` of system `system` (each 0-14): the device id, also stored through
// `device`; 0 with the error in the last-error record and the hook.
HLC_API uint32_t imDevAlloc(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption, uint32_t* device);
// Closes a device: the node's open count falls, the last close shuts the node down.
HLC_API int32_t imDevFree(uint32_t device);
// A 32-bit value of the device, also stored through `value` when given; for types 18 and
// 19 the value at `value` goes to the node as a third parameter.
HLC_API uint32_t imDevInquire(uint32_t device, uint32_t type, uint32_t* value);
HLC_API int32_t imDevControl(uint32_t device, uint32_t type, double value);

// The open step of imDevAlloc: 0, a load code (1, 2, 4, 8, 16) or a negative open
// result; word 0 of the scratch record gets the node number or that negative result.
int32_t im_open_communication(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption,
                              _NODE_MAIN_RESOURCE_ST* scratch);
