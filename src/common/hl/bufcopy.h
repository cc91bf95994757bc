// The host node's buffer copy (opcode 116): the choice between a processor copy line by
// line, a blit inside display memory and a bus-master transfer, and the host copy itself.
//
// The handler runs on the command-server task of the addressed thread object.  A PCI or
// VM transfer is not sent as a second message: a message body is filled in memory and the
// transfer handler of opcode 27 or 28 is called on the same task, under the same request
// resource.  While no transfer handler is installed for those opcodes the bus-master way
// answers -9.
//
// Host copies of the whole system are serialised by the named mutex "MUTEX_imBufCopy"
// (shared with the export's own host-to-host copy); it is waited for with the
// communication time-out (time-out table entry 3) and a copy that does not get it in time
// reports -11.
#pragma once

#include "hlc_arch.h"
#include "bufhandlers.h"
#include "im_msgio.h"
#include "reqres.h"

#include <cstdint>

struct _MP_BUF_ST;

// The copy's opcode (kOpBufCopy) and those of the two transfers it may call in line
// (kOpBufCopyPCI, kOpBufCopyVM) are the buffer interface's (imbuf.h).

// Parameter counts by which the transfer handlers recognise the in-line call.
constexpr uint32_t kBufCopyInlinePciParams = 5;
constexpr uint32_t kBufCopyInlineVmParams = 7;

// The system-wide lock of host copies and the time-out table entry of its wait.
inline constexpr char kBufCopyMutex[] = "MUTEX_imBufCopy";
constexpr int kBufCopyMutexTimeoutEntry = 3;

// Texts of the copy's own errors.
inline constexpr char kBufCopyTextIncompatible[] = "Incompatible buffer";
inline constexpr char kBufCopyTextNoAddress[] = "Invalid buffer address";
inline constexpr char kBufCopyTextMutexTimeout[] = "Timed out waiting for MUTEX_imBufCopy";
inline constexpr char kBufCopyTextNoMutex[] = "Cannot open MUTEX_imBufCopy";
inline constexpr char kBufCopyTextNoPci[] = "Bus-master copy over PCI is not available";
inline constexpr char kBufCopyTextNoVm[] = "Bus-master copy through the VM port is not available";
inline constexpr char kBufCopyTextNoBitBlt[] = "Display bitblit is not available";
inline constexpr char kBufCopyTextFailed[] = "Buffer copy failed";

// Handler of opcode 116: slot 0 source id, slot 1 destination id, slot 2 control buffer
// id (0 none).  Request resource name "BufCopy"; every way ends with the resource
// released, so that the sender always gets its reply.
void mp_BufCopy(_MSG_BODY_ST* msg);

// The choice of way for one request; errors go to the resource.
void mpBufCopy(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination, _MP_BUF_ST* control);

// Copy between two buffers in the same location group of one node: a host copy when
// either lies in board memory (1) or host DMA memory (3), else the display bitblit.
// 0, or -1 with the error in the resource (the host copy's failures included).
int mpBufCopySpecialBitBlit(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                            _MP_BUF_ST* control);

// Fills body as the in-line PCI (useVm 0) or VM (useVm 1) copy message and calls the
// handler of opcode 27 or 28 on this task.  The handler's result word (the body's error
// word) is returned; without a handler -9 is logged and returned.
int DoSpecializedCopy(int useVm, _MSG_BODY_ST* body, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                      _MP_BUF_ST* control, MP_RESOURCE_ST* resource);

// The processor copy: the common top-left part of every band (a one-band source fills
// every destination band; with other unequal counts band 0 of the source does), under
// the system-wide mutex.  Types must match apart from the signed bit.  0, or the first
// error code (also logged into the resource): -9 incompatible types or a band without
// an address (the other bands are still copied), -11 the mutex not had in time, -4 the
// mutex could not be opened.  Any thread; the resource may be one of the caller's own.
int mpBufCopySpecialHost(MP_RESOURCE_ST* resource, const _MP_BUF_ST* source, const _MP_BUF_ST* destination);

// Copies lines (the width in bytes, advancing by the pitches) while holding the
// system-wide mutex: 0, -4 when the mutex cannot be opened, -11 when it is not had
// within the communication time-out (nothing copied then).  Any thread.
int32_t mpPrvBufCopyLocked(const void* source, void* destination, uint32_t width, uint32_t lines, int32_t sourcePitch,
                           int32_t destinationPitch);

// The display bitblit of two display-memory buffers of one node: 0 or -1 with the error
// in the resource.  The default logs -9 and returns -1 until one is installed; null
// restores it.  Installed while no node serves (no lock).
using MpBufBitBltFn = int (*)(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                              _MP_BUF_ST* control);
MpBufBitBltFn mp_bufcopy_set_bitblt(MpBufBitBltFn fn);

// The nodes joined to a node's VM port: up to 16 node numbers, ended by the first 0 (or
// null for none).  The default knows no list (two-node copies go over PCI); null
// restores it.  Installed while no node serves (no lock).
using MpBufVmPortsFn = const uint8_t* (*)(const _NODE_MAIN_RESOURCE_ST* record);
MpBufVmPortsFn mp_bufcopy_set_vm_ports(MpBufVmPortsFn fn);

// Puts mp_BufCopy into the opcode table.  While no node serves.
void mp_bufcopy_install();
