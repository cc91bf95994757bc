// The host node's VM copy (opcode 28): a transfer between boards (or within one board)
// through the Orlos' VM ports, one Orlo sending and one receiving.  The handler takes a
// copy-parameter record, the VM sections of both sides, splits the copy into bands and
// line pieces, programs the receiving side first (here or, as a remote request, on its
// node) and then the sending side, and waits for the end of the transfer where the
// sender runs.
//
// Threads: the handler runs on the command-server task of the addressed thread object,
// or in line on the buffer copy's task (the message then carries the caller's request
// resource).  A remote request relies on the sending node's copy semaphore and takes
// none.  Every wait is bounded by the communication time-out.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "vmprog.h"

#include <cstdint>

struct _MP_BUF_ST;
struct MP_RESOURCE_ST;

// Texts of the VM copy's own errors.
inline constexpr char kXferTextRemoteVm[] = "Remote VM error";
inline constexpr char kXferTextBadPeer[] = "Copy-parameter record of the peer not found";

// Stands for a buffer that is not known on this node (the other side of a VM device).
constexpr uint32_t kVmUnknownBuffer = 0x40000000u;
// Words of a record exchanged with the peer record of a remote VM request, from the
// peer-record word on: the receiving side takes 59 (words 21-79) from the sender's record
// and gives 64 (words 21-84) back.
constexpr uint32_t kVmPeerWord = 21;
constexpr uint32_t kVmExchangeWords = 59;
constexpr uint32_t kVmReturnWords = 64;
// Sync-object states of the request while a VM copy between two nodes runs.
constexpr uint32_t kVmStateArmed = 30;
constexpr uint32_t kVmStateSending = 40;

// Handler of opcode 28: API form (4 slots: source, destination, control 1 and 2 ids),
// remote form (6: {id, descriptor bus address} x 4, the sender's record address, side),
// in-line form (7: {id, descriptor} x 4, slot 6 the request resource).  Reply slot 0: 0,
// or the first failure (-1, or 1 for a band child that could not be made).
void mp_BufCopyVM(_MSG_BODY_ST* msg);

// One transfer of the record's buffers: 0 or -1 (logged).  Non-zero extra arguments give
// -1 at once.
int mpBufCopyVM(_CPYPARAM* record, int extra1, int extra2);

// The remote VM request to the node that serves one side: its reply slot 0, or -1 when it
// did not answer within the communication time-out; node 0 sends nothing.
int sendVMMsg(_CPYPARAM* record, uint32_t node, int side);

// The copy-parameter record a word from a message or a peer names: the word is a bus
// address of `node` or, for records without one, a host address; only one of the records
// this process knows is taken (null otherwise).
_CPYPARAM* XferVmPeer(uint32_t node, uint32_t word);

// Puts mp_BufCopyVM into the opcode table.  While no node serves.
void mp_vmcopy_install();
