// The host node's PCI copy (opcode 27): a bus-master transfer between board memory and
// host memory (or another board) driven by one node's Orlo.  The handler takes a
// copy-parameter record of the node, chooses which side drives the transfer, splits it
// into bands and line pieces, programs each piece (vmprog.h) and waits for its end.
//
// Threads: the handler runs on the command-server task of the addressed thread object,
// or in line on the buffer copy's task (the message then carries the caller's request
// resource).  One transfer request runs per node at a time (the node's copy semaphore);
// every wait is bounded by the communication time-out.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "vmprog.h"
#include "vmsection.h"

#include <cstdint>

struct _MP_BUF_ST;
struct MP_RESOURCE_ST;

// Texts of the transfer's own errors.
inline constexpr char kXferTextRemotePci[] = "Remote PCI error";
inline constexpr char kXferTextNoRecord[] = "No copy-parameter record became free";

// Handler of opcode 27: API form (3 slots: source, destination, control ids), remote form
// (4: {id, descriptor bus address} and 1), in-line form (5: {id, descriptor}, slot 4 the
// request resource).  Reply slot 0: 0, or the first failure (-1, or 1 for a band child
// that could not be made).
void mp_BufCopyPCI(_MSG_BODY_ST* msg);

// One transfer of the record's buffers: 0 or -1 (logged).  A non-zero extra argument
// gives -1 at once.
int mpBufCopyPCI(_CPYPARAM* record, int extra);

// Descriptor of a message slot (see the handler's forms): 0 with *descriptor set (null
// when the slot names none and mayBeNone), -1 for an id that is no buffer.
int convert(MP_RESOURCE_ST* resource, uint32_t id, _MP_BUF_ST** descriptor, int remote, const _MSG_BODY_ST* msg,
            uint32_t slot, int mayBeNone);
// 0, or -1 when the two buffers cannot be transferred between (same node and location, or
// one-bit buffers off byte boundaries).
int vmErrors(const _MP_BUF_ST* source, const _MP_BUF_ST* destination);
// A band child of a buffer of another node, made and freed there.
_MP_BUF_ST* remoteChild(_CPYPARAM* record, uint32_t id, uint32_t node, uint32_t band);
void remoteBufFree(_CPYPARAM* record, uint32_t id, uint32_t node);
// A one-band child of band `band` of a buffer, made on the buffer's node (null when it
// could not be made), and its release there.
_MP_BUF_ST* XferBandChild(_CPYPARAM* record, _MP_BUF_ST* buffer, uint32_t band);
void XferFreeBandChild(_CPYPARAM* record, _MP_BUF_ST* child);
// The remote PCI request to the node that drives the transfer: its reply slot 0, or -1
// when it did not answer within the communication time-out; node 0 sends nothing.
int sendPCIMsg(_CPYPARAM* record, uint32_t node);
// Waits for the end of the running transfer: 0, or -1 after logging -11 when it did not
// end within the communication time-out (the engine is then stopped).
int WaitForEndOfTransfer(_CPYPARAM* record);
// Returns a receiving Orlo to idle after a failed sending side.
void CleanReceiverOnError(_CPYPARAM* record, int side, const _MP_BUF_ST* destination, int continued);

// ---- shared by the PCI and VM copy requests ----------------------------------------------

// The node's copy semaphore (one transfer request per node at a time), -1 when it has none;
// taking it polls for a count until the communication time-out: true when taken.
int32_t XferCopySema(uint32_t node);
bool XferTakeCopySema(int32_t sema);
// The second word of a message slot ({id, descriptor} forms): 0 outside the slots.
uint32_t XferSlotSecond(const _MSG_BODY_ST* msg, uint32_t slot);
// The request resource of a copy message into *resource: the caller's (slot inlineSlot) for
// the in-line form, else a new one (*own set).  False when a new one could not be made (the
// message is then answered).
bool XferRequestResource(_MSG_BODY_ST* msg, uint32_t inlineSlot, const char* name, MP_RESOURCE_ST** resource,
                         bool* own);
// Answers a copy message with its result and releases a resource the request made.
void XferReply(_MSG_BODY_ST* msg, MP_RESOURCE_ST* resource, bool own, int32_t result);
// Line pieces of a transfer whose source and destination lines are both longer than one
// piece: sets the record's piece length and last-piece words and returns the count (1, and
// nothing set, when either line fits one piece).
uint32_t XferSplitLines(_CPYPARAM* record, const _MP_BUF_ST* source, const _MP_BUF_ST* destination,
                        uint32_t* length, uint32_t* last);
// Makes piece `piece` (1 on) of `pieces` the record's current one.
void XferSetPiece(_CPYPARAM* record, uint32_t piece, uint32_t pieces, uint32_t length, uint32_t last);
// Copies band `band` of the record's buffers through their band children with copy(record):
// 0, -1 when the copy failed, 1 (error `missingCode` logged) when a child could not be made.
// With byId the children are given ids, for a side served by another node.
int32_t XferCopyBand(_CPYPARAM* record, uint32_t band, int32_t missingCode, bool byId, int (*copy)(_CPYPARAM*));

// Puts mp_BufCopyPCI into the opcode table.  While no node serves.
void mp_pcicopy_install();
