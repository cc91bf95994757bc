// Camera records of both grab-module families: allocation from a camera file's entries
// (with the standard module's load), cloning and saving back into camera-file entries.
//
// A camera record is band 0 of a camera buffer (kind 2, one band of 4544 or 5760 one-byte
// elements, type 0x10000008, location attribute 6) whose field 20000 holds the module type
// it was made for.  Its slots are laid out in camrec.h.
//
// Threads: the node's command-server task that serves the request.
#pragma once

#include "camdispatch.h"
#include "camrec.h"

#include <cstdint>

// Sizes of saved entry lists (the record buffer's attributes are in camrec.h).
constexpr int32_t kCamSaveCountStd = 200;
constexpr int32_t kCamSaveCountAsync = 336;

// Allocation modes.
constexpr int32_t kCamAllocNormal = 0;
constexpr int32_t kCamAllocForceLoad = 2;
constexpr int32_t kCamAllocEmpty = 99;

// Camera type strings of the two families.
extern const char kCamTypeStd[];    // "HALCYRA_GRAB_0"
extern const char kCamTypeAsync[];  // "HALCYRA_GRAB_1"

uint32_t mpCamAlloc_Std(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode);
// The second family's allocation: the record, the node's banks and the full download of
// channel 0.  0 when the banks cannot be had (the node is then not loaded).
uint32_t mpCamAlloc_Async(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode);
_MP_BUF_ST* mpCamClone_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t n);
_MP_BUF_ST* mpCamClone_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t n);
void mpCamSave_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount);
void mpCamSave_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount);

// The Sorvik II control word (register 47) rebuilt from a standard record's DIG_GRABCTL,
// DIG_DICTL and DIMREG0 (current words); bits the rebuild does not own keep `previous`.
uint32_t mpPrvSorvik2Control(uint32_t previous, uint32_t grabctl, uint32_t dictl, uint32_t dimreg);

// Frees the node's camera-UART area, if any (node shut-down).
void mpPrvFreeCamUartArea(uint32_t* nodeInfo);
