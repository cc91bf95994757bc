// Camera and digitizer exports.  The first argument of each is a thread id (bit 30 set),
// whose thread object executes the command, or a device id, whose node's system thread
// object does.
//
// A camera is made from a camera file (or camera-file text in memory) that the caller's
// thread reads into an entry list; the node builds the camera record from it and loads
// the digitizer.  A camera is saved by asking the node for its entry list and writing it
// as a camera file on the caller's thread.  Everything else only builds a command
// message.  Errors reach the caller's last-error record and error hook; every export
// names itself ("imCamAlloc", ...) in that record.
//
// Threads: any caller's thread; the exports share no state.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Inquiry types (low 16 bits) whose result is stored through `out` as a double; for every
// other type a 32-bit integer is stored.
bool im_cam_inquire_is_double(uint32_t type);
bool im_dig_inquire_is_double(uint32_t type);

// Makes a camera from a camera file found along "DCFPATH" (fileFlag non-zero; a name
// without extension gets ".dcf"; no name: the setting "DCFNAME") or from camera-file text
// in memory (fileFlag 0).  The flag also goes to the node, where 2 forces the digitizer to
// be loaded again and 99 makes an empty camera.  The camera id, also stored through
// `camera`; 0 on failure.
HLC_API uint32_t imCamAlloc(uint32_t thread, const char* name, int32_t fileFlag, uint32_t* camera);
// A copy of a camera: its id, also stored through `clone`; 0 on failure.
HLC_API uint32_t imCamClone(uint32_t thread, uint32_t camera, int32_t value, uint32_t* clone);
// Changes a value of the camera (posted without waiting): the message's error, 0 posted.
HLC_API int32_t imCamControl(uint32_t thread, uint32_t camera, int32_t type, double value);
HLC_API int32_t imCamFree(uint32_t thread, uint32_t camera);
// A value of the camera, truncated; stored through `out` when given (a double or a 32-bit
// integer by type).
HLC_API int32_t imCamInquire(uint32_t thread, uint32_t camera, int32_t type, void* out);
// Writes the camera as a camera file (a name without extension gets ".dcf").  The old file
// is replaced only once the new one is complete.  0, or the error code.
HLC_API int32_t imCamSave(uint32_t thread, const char* name, uint32_t camera);

// A digitizer object (a, b: system and digitizer number, -1 for the node's own): its id,
// also stored through `digitizer`; 0 on failure.
HLC_API uint32_t imDigAlloc(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t* digitizer);
HLC_API int32_t imDigControl(uint32_t thread, uint32_t digitizer, int32_t type, double value);
HLC_API int32_t imDigFree(uint32_t thread, uint32_t digitizer);
// A grab (posted): digitizer, camera, destination, count and grab control buffer; the
// sync object `control` follows the grab.
HLC_API int32_t imDigGrab(uint32_t thread, uint32_t digitizer, uint32_t buffer, uint32_t p2, uint32_t p3,
                          uint32_t p4, uint32_t control);
// A value of the digitizer (id 0: the node's live one), truncated; stored through `out`
// when given.  Type 30050 reads a string from the camera's serial port into `out` and
// returns its length.
HLC_API int32_t imDigInquire(uint32_t thread, uint32_t digitizer, int32_t type, void* out);
// Served only by a board's own processor.
HLC_API int32_t imDigConvert(uint32_t thread, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t control);
HLC_API int32_t imDigCapture(uint32_t thread, uint32_t digitizer, uint32_t camera, int32_t value);
// Input lookup table into (Get) or from (Set) the LUT buffer: a band selection, start and
// count in entries, and for Set a mode.  Get waits until the node has read it.  0.
HLC_API int32_t imDigLutGet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                            int32_t c);
HLC_API int32_t imDigLutSet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                            int32_t c, int32_t d);
