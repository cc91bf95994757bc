// Two decisions of the grab path that rest on hardware knowledge.
//
// The camera comparison tells whether a grab must reload the digitizer: a camera record is
// reloaded only when it differs from what the live registers hold.  The line-length rule
// knows which grab line lengths the Orlo's transfer engine cannot carry in a transfer mode
// for a pixel size, and names the nearest safe length; the patch applies it to a grab
// window: it lowers the transfer mode, or widens the window and masks the extra bytes with
// a one-bit tag buffer, or narrows the window and clears the destination columns lost.
//
// Threads: the command-server task of a grab request, with the digitizer registers
// selected (SetToExt) for the comparison; nothing here takes a lock.
#pragma once

#include "camrec.h"

#include <cstdint>

struct DIGPARAM;
struct MP_RESOURCE_ST;
struct WININFO_ST;
struct _MP_BUF_ST;

// The record's compared-once word (non-zero once compared with the live registers).
constexpr uint32_t kCamComparedOnce = cam0::COMPARED_ONCE;

// ---- camera comparison ------------------------------------------------------------------
// 1 when the record must be loaded for the channels of the mask, 0 when the live shadow of
// the selected digitizer matches.  otherLoadedLast: the digitizer whose camera was loaded
// last is not the grab's digitizer; hostDestination: the destination lies in host DMA
// memory.  Sets the record's compared-once word.  In the calibrated level mode the DAC
// values compared are those the load computed and sends.  1 when no digitizer is selected.
int mpPrvCamCompare(_MP_CAM_ST_0* camera, bool otherLoadedLast, bool hostDestination, uint32_t channelMask);
// The same for a grab request: its camera record (1 without one), whether its digitizer
// info names another digitizer as the one loaded last, and its destination's location.
int grbCamCompare(DIGPARAM* param, uint32_t channelMask);

// ---- line lengths -------------------------------------------------------------------------
// 0 when a grab line of `length` (the window width) is safe in transfer mode `mode` for pixel size code
// `sizeCode` (1-4), -1 when it is not; the safe length goes to *safe when given.  Rounding
// 2 stores the safe length rounded down to a multiple of 128 (128 less when it is one
// already; 0 when that is negative).
int mpPrvValid(uint32_t mode, uint32_t length, uint32_t sizeCode, uint32_t* safe, int32_t rounding);

// The grab registers the patch reads and rewrites, as words of a register image.
struct GrabPatchRegs {
    uint32_t* ghwstart;
    uint32_t* ghwstop;
    uint32_t* gpixfmt;
    uint32_t* gblength;
    uint32_t* gtagctl;
    uint32_t* gc1toff;
    uint32_t* gc2toff;
    uint32_t* gc3toff;
    uint32_t* gtlpitch;
};

// What the patch needs of a grab request.
struct GrabPatchJob {
    MP_RESOURCE_ST* resource;   // errors are logged here
    _MP_BUF_ST* destination;
    uint32_t node;              // where a mask tag buffer is made
    bool tagInBoardMemory;      // board memory 1, else the display heap 0x40000040
    GrabPatchRegs regs;
    uint32_t bandFactor;        // product of the window's three band factors (1 when none)
    _MP_BUF_ST** tagRecord;     // the image's tag buffer word: the tag buffer in use
    _MP_BUF_ST** madeTag;       // a mask tag buffer made here; the grab's owner frees it
};

// Applies the line-length rule to a grab window (the register programming fills the job
// from its DIGPARAM and register image): mode is the transfer mode of the
// transfer-length computation, sourceWidth INFO_XSIZE (the destination's width without a
// camera), clipped whether the window was clipped to the destination.  0, or -1 with the
// error logged; a mask tag buffer made here is freed again on failure.
int mpPrvGrabPatchJob(const GrabPatchJob& job, WININFO_ST* window, uint32_t mode, uint32_t sourceWidth,
                      int32_t clipped, int32_t noPatch, _MP_BUF_ST* tag);
