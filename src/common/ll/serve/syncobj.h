// Sync objects (operation status blocks): kind-7 buffer descriptors whose one 28-byte
// inline band tells how far an asynchronous command has come.  A command names its sync
// object in its control word; the request resource moves it to "received" and "done",
// callers wait for a state on the host (imSyncHost) or make a thread object wait for it
// (imSyncThread).  The host-node handlers, the operations on the record and the exports.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"

#include <cstddef>
#include <cstdint>

struct _MP_BUF_ST;

constexpr uint32_t kOpThrNop = 11;
constexpr uint32_t kOpSyncAlloc = 12;
constexpr uint32_t kOpSyncFree = 13;
constexpr uint32_t kOpSyncGetError = 14;
constexpr uint32_t kOpSyncHost = 15;
constexpr uint32_t kOpSyncThread = 16;
constexpr uint32_t kOpSyncControl = 121;

// States.
constexpr uint32_t kSyncNew = IM_OSB_NEW;
constexpr uint32_t kSyncReceived = IM_OSB_RECEIVED;
constexpr uint32_t kSyncReady = IM_OSB_READY;
constexpr uint32_t kSyncStarted = IM_OSB_STARTED;
constexpr uint32_t kSyncDone = IM_OSB_DONE;

// State requests beside the states.
constexpr uint32_t kSyncCountBit = IM_OSB_COUNT;   // low 16 bits: a count
constexpr uint32_t kSyncCountNone = IM_OSB_COUNT_NONE;   // sets the count to -1
constexpr uint32_t kSyncAskState = IM_OSB_ASK_STATE;   // imSyncHost only: the state, no wait
constexpr uint32_t kSyncAskCount = IM_OSB_ASK_COUNT;   // the count, no wait

// Modes.
constexpr uint32_t kSyncModeRearm = IM_OSB_MODE_REARM;   // a wait for 50 re-arms the object
constexpr uint32_t kSyncModeKeep = IM_OSB_MODE_KEEP;

// imSyncControl types.
constexpr uint32_t kSyncControlState = IM_SYNC_STATE;
constexpr uint32_t kSyncControlMode = IM_SYNC_MODE;

struct MP_SYNC_ST {
    uint32_t state;
    int32_t count;        // 16-bit, -1 none
    uint32_t mode;
    _MSG_ERR_ST err;
};
static_assert(sizeof(MP_SYNC_ST) == 28, "sync records are 28 bytes");
static_assert(offsetof(MP_SYNC_ST, err) == 12, "error record after three words");

// The record of a sync object id, null when the id is not a live kind-7 object.
MP_SYNC_ST* mp_osb_object(uint32_t id);
// 0 does nothing; bit 24 sets the count (0xFFFFF in the low 20 bits: -1); anything else
// becomes the state (20 also clears the count).  Returns 0.
int mp_osb_update_state(MP_SYNC_ST* sync, uint32_t value);
// Lets the node's other tasks run until the state (or, with bit 24, the count) reaches
// the value; a wait for 50 on an object in mode 1 then re-arms it (state 10, count -1).
// With a message given, the wait also ends, without re-arming, once that message's
// sender has given up waiting.  True when the value was reached.
bool mp_osb_wait(MP_SYNC_ST* sync, uint32_t value, const _MSG_BODY_ST* sender = nullptr);
// Files an error into the object's record; the first error is kept until it is read.
void mp_osb_log_error(MP_SYNC_ST* sync, const _MSG_ERR_ST* error);

// Host-node handlers.
void mp_ThrNop(_MSG_BODY_ST* msg);
void mp_SyncAlloc(_MSG_BODY_ST* msg);
void mp_SyncFree(_MSG_BODY_ST* msg);
void mp_SyncGetError(_MSG_BODY_ST* msg);
void mp_SyncHost(_MSG_BODY_ST* msg);
void mp_SyncThread(_MSG_BODY_ST* msg);
void mp_SyncControl(_MSG_BODY_ST* msg);

// Puts the handlers into the opcode table and the sync operations into the request
// resources.
void mp_sync_install();

// Puts an error record into reply slots as the get-error commands answer: code in slot
// 0, message and function pointers in slots 1 and 2 by mode; an odd mode then clears the
// record's code and message.
void mp_sync_reply_error_item(_MSG_BODY_ST* msg, _MSG_ERR_ST* record, uint32_t mode);

// ---- exports ----------------------------------------------------------------------------
HLC_API uint32_t imSyncAlloc(uint32_t thread, uint32_t* sync);
HLC_API int32_t imSyncFree(uint32_t thread, uint32_t sync);
HLC_API int32_t imSyncGetError(uint32_t thread, uint32_t sync, uint32_t mode, void* out);
HLC_API int32_t imSyncHost(uint32_t thread, uint32_t sync, uint32_t state);
HLC_API int32_t imSyncThread(uint32_t thread, uint32_t sync, uint32_t state);
HLC_API int32_t imSyncControl(uint32_t thread, uint32_t sync, uint32_t type, double value);
HLC_API int32_t imThrNop(uint32_t thread, uint32_t sync);
