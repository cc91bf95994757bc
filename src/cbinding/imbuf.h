// Buffer exports.  The first argument of each is a device id (its node in bits 16-23),
// or a thread id (bit 30 set) whose thread object then executes the command; a device id
// addresses the system thread object of its node.
//
// Most exports only build a command message and leave the work to the node.  The host
// itself allocates host DMA memory and paged memory, moves pixels of buffers it can
// address, copies between two host buffers, frees host memory, and locks and unlocks the
// pages of paged buffers, all on the caller's thread.  Errors reach the caller's
// last-error record and error hook through im_buf_end; every export names itself
// ("imBufAlloc", ...) in that record, also for what went wrong in the buffer exports it
// called on the way (see ImBufInnerCalls).
//
// Threads: any caller's thread.  Host-to-host copies of every process follow one another
// through the named mutex "MUTEX_imBufCopy".
#pragma once

#include "bufhandlers.h"
#include "hlc_arch.h"

#include <cstdint>

struct _MSG_ST;
struct _MP_BUF_ST;

// ---- allocation (the id, also stored through `id` when given; 0 on failure) -------------
HLC_API uint32_t imBufAlloc(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                            uint32_t location, uint32_t* id);
HLC_API uint32_t imBufAlloc2d(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t location,
                              uint32_t* id);
HLC_API uint32_t imBufAlloc1d(uint32_t device, int32_t sizeX, uint32_t type, uint32_t location, uint32_t* id);
HLC_API uint32_t imBufAllocControl(uint32_t device, uint32_t* id);
// Addresses: one per band (host addresses for the paged kinds 4 and 7).
HLC_API uint32_t imBufCreate(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                             uint32_t memoryKind, const uint32_t* addresses, uint32_t pitch, uint32_t* id);
HLC_API uint32_t imBufChild(uint32_t device, uint32_t parent, int32_t offsetX, int32_t offsetY, int32_t sizeX,
                            int32_t sizeY, uint32_t* id);
HLC_API uint32_t imBufChildBand(uint32_t device, uint32_t parent, int32_t band, uint32_t* id);
// `id` carries the destination of a host DMA clone in and the clone's id out.
HLC_API uint32_t imBufClone(uint32_t device, uint32_t source, uint32_t location, uint32_t* id);

// ---- commands without a result (the message's error, 0 when it was posted) ---------------
HLC_API int32_t imBufChildMove(uint32_t device, uint32_t child, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY);
HLC_API int32_t imBufClear(uint32_t device, uint32_t id, double value, uint32_t sync);
HLC_API int32_t imBufFree(uint32_t device, uint32_t id);
HLC_API int32_t imBufModify(uint32_t device, uint32_t id, int32_t sizeX, int32_t sizeY, uint32_t type);
HLC_API int32_t imBufCopyField(uint32_t device, uint32_t source, uint32_t sourceKey, uint32_t destination,
                               uint32_t destinationKey);
HLC_API int32_t imBufPutField(uint32_t device, uint32_t id, uint32_t key, double value);
HLC_API int32_t imBufRemoveField(uint32_t device, uint32_t id, uint32_t key);
HLC_API int32_t imBufCopyPCI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t sync);
HLC_API int32_t imBufCopyVM(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
HLC_API int32_t imBufPack(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
HLC_API int32_t imBufCopyROI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
// Between two host buffers on the caller's thread; otherwise sent to the node.
HLC_API int32_t imBufCopy(uint32_t device, uint32_t source, uint32_t destination, uint32_t value, uint32_t sync);
// Lock (1) and unlock (2) of paged buffers, and the node's other control types; the
// default value is 268435456.0.
HLC_API int32_t imBufControl(uint32_t device, uint32_t id, int32_t type, double value);

// ---- fields (status 0, -5 when the field is absent, or the error of a failed command) ----
HLC_API int32_t imBufGetNextField(uint32_t device, uint32_t id, int32_t* cursor, uint32_t* key, double* value);
HLC_API int32_t imBufGetField(uint32_t device, uint32_t id, uint32_t key, int32_t* value);
HLC_API int32_t imBufGetFieldDouble(uint32_t device, uint32_t id, uint32_t key, double* value);

// ---- inquiry and map ------------------------------------------------------------------------
// The node's first result, also stored through `out` (32 bits) when given.  Types 400 and
// 401 give the descriptor's host address (0: no descriptor).
HLC_API int32_t imBufInquire(uint32_t device, uint32_t id, uint32_t type, void* out);
// The lines from `line` to the end; pitch, lines and the line's host address are stored
// through the pointers that are given.
HLC_API int32_t imBufMap(uint32_t device, uint32_t id, uint32_t band, uint32_t line, uint32_t* address,
                         uint32_t* pitch, uint32_t* lines);

// ---- pixels (0, or the code of the error filed) -----------------------------------------------
// The caller's data is packed: lines back to back, then band after band.
HLC_API int32_t imBufGet(uint32_t device, uint32_t id, void* data);
HLC_API int32_t imBufGet1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, void* data);
HLC_API int32_t imBufGet2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY,
                           void* data);
HLC_API int32_t imBufPut(uint32_t device, uint32_t id, const void* data);
HLC_API int32_t imBufPut1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, const void* data);
HLC_API int32_t imBufPut2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY,
                           const void* data);
// Writes the data in the layout the node gives for the buffer; returns the lines.
HLC_API int32_t imBufPutFormatted(uint32_t device, uint32_t id, double value, const void* data);
// The formatted layout: size X, bits, lines, address (board firmware only).
HLC_API int32_t im_buf_get_formatted_inquire(uint32_t device, uint32_t id, uint32_t results[4]);

// ---- host-side steps ------------------------------------------------------------------------
constexpr uint32_t kTransRead = 1;
constexpr uint32_t kTransWrite = 2;
// Moves pixels between the caller's packed data and a rectangle of the buffer; sizes 0, 0
// mean the whole buffer (then only from 0, 0).  With a function name the id is a buffer id
// and errors are filed under that name; without one, `id` is a descriptor pointer.  0, or
// the error's code (-8 "Error in function parameters" for no buffer, no data or a
// rectangle outside the buffer, -4 "Invalid address" for a band without memory).
int32_t im_buf_trans_data(const char* function, uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX,
                          int32_t sizeY, uint32_t direction, void* data);
// Allocates the DMA blocks of a host DMA buffer and the info buffer carrying their table:
// 0 with the info buffer's id, -1 with the error logged on the message.
int32_t im_buf_alloc_host(_MSG_ST* msg, uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands,
                          uint32_t type, uint32_t* infoId);
// The descriptor of a buffer (inquiry 400), null when there is none.
_MP_BUF_ST* im_buf_descriptor(uint32_t device, uint32_t id);
