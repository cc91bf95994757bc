// Request resources and error records of host-served commands.
//
// Every command handler works through the request resource of its thread object: it
// carries the message, the handler's name, the sync object and the command's first
// error, and when released it files the error and replies to the sender or completes
// the slot.  The error-record operations and the default texts live here as well.
//
// Threads and locks.  A thread object's request resource and error records belong to its
// command server task: the resource functions below are called only from a handler
// running on that task (mp_res_alloc finds the resource through the task argument), one
// command at a time, so they take no lock.  The error-record functions act on the
// caller's records only and may be called from any thread.  The replies publish the
// status word last (release order), so a sender on another thread that sees the status
// also sees the reply.  The sync-object table of mp_res_set_sync_ops is installed while
// no node serves and only read afterwards.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"

#include <cstddef>
#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;
struct MP_THREAD_ST;

// Reply size of a command's resource.
constexpr uint32_t kResReplySize = 256;
// Longest text of mp_res_log_error_debug, with its zero.
constexpr uint32_t kResDebugTextBytes = 160;
// Distinct texts mp_res_log_error_debug keeps; past them it logs
// "Insufficient memory to log the error".
constexpr uint32_t kResDebugTexts = 1024;

struct MP_RESOURCE_ST {
    uint32_t node;
    uint32_t boardProcessor;            // the node runs its own processor
    _NODE_MAIN_RESOURCE_ST* record;
    uint32_t threadId;
    MP_THREAD_ST* thread;
    uint32_t vmCount;                   // VM sections held
    uint32_t vmNode[2];
    uint32_t vmKind[2];
    const char* name;                   // handler name
    uint32_t size;
    void* sync;                         // sync object of the message's control word
    _MSG_BODY_ST* msg;
    _MSG_ERR_ST err;                    // the command's first error
};

// Thread object state as the servers use it: the thread object's band after its owner
// device id and stack size (MP_THREAD_OBJ_ST), its fields in the band's order; the node and
// id the servers keep beside them come after the band's own fields.  The command server's
// task argument is the object's descriptor, which begins with the node word and the id as
// every task argument of a node's kernel (mp_sys_this_node_id and the buffer owner read
// them there).
// Every field is used only by tasks of the node's kernel (one OS thread), except where
// noted; ports and semaphores are handles of that kernel.
struct MP_THREAD_ST {
    int32_t commandPort;                // event bit 0
    int32_t secondPort;                 // event bit 1
    int32_t firstSema;
    int32_t secondSema;                 // event bit 2
    int32_t priority;                   // 15002
    uint32_t checked;                   // 15001, never kept: reads 0
    int32_t value;                      // 15005
    int32_t enable;                     // 15007
    int32_t task;                       // command server task handle
    uint32_t pendingHalt;               // changed under the kernel critical section
    volatile uint32_t cancel;           // set by the ring server, cleared by the command server
    volatile uint32_t hold;             // set and cleared by the handlers that hold the object
    uint32_t mode;
    uint32_t created;                   // 1 once creation is complete
    MP_RESOURCE_ST resource;            // the command server's current command
    _MSG_ERR_ST firstError;             // written by mp_res_free on the command server
    _MSG_ERR_ST pendingError;           // written by mp_res_free on the command server
    uint32_t boardProcessor;
    uint32_t queued;                    // sent to the command port by the ring server, not yet taken
    uint32_t node;
    uint32_t id;                        // thread id
};
static_assert(offsetof(MP_THREAD_ST, commandPort) == 0 && offsetof(MP_THREAD_ST, secondPort) == 4 &&
                  offsetof(MP_THREAD_ST, firstSema) == 8 && offsetof(MP_THREAD_ST, secondSema) == 12 &&
                  offsetof(MP_THREAD_ST, priority) == 16 && offsetof(MP_THREAD_ST, checked) == 20 &&
                  offsetof(MP_THREAD_ST, value) == 24 && offsetof(MP_THREAD_ST, enable) == 28 &&
                  offsetof(MP_THREAD_ST, task) == 32 && offsetof(MP_THREAD_ST, pendingHalt) == 36 &&
                  offsetof(MP_THREAD_ST, cancel) == 40 && offsetof(MP_THREAD_ST, hold) == 44 &&
                  offsetof(MP_THREAD_ST, mode) == 48 && offsetof(MP_THREAD_ST, created) == 52 &&
                  offsetof(MP_THREAD_ST, resource) == 56,
              "the band's order from the command port to the request resource");
static_assert(offsetof(MP_THREAD_ST, firstError) == offsetof(MP_THREAD_ST, resource) + sizeof(MP_RESOURCE_ST) &&
                  offsetof(MP_THREAD_ST, pendingError) == offsetof(MP_THREAD_ST, firstError) + sizeof(_MSG_ERR_ST),
              "the two error records follow the request resource");

// The command server state of a thread object from its descriptor (the command server's
// task argument); null without one.
MP_THREAD_ST* mp_thr_server_of_descriptor(void* descriptor);

// Sync objects as the resources use them; the defaults know none.
struct MpSyncOps {
    void* (*lookup)(uint32_t id);                           // null: none
    void (*setState)(void* sync, uint32_t state);
    void (*setError)(void* sync, const _MSG_ERR_ST* error); // clears, then takes the error
    void (*release)(void* sync);
};
// Installs the table (null members keep the defaults); null restores the defaults.
// While no node serves (no lock).
void mp_res_set_sync_ops(const MpSyncOps* ops);

// ---- errors (any thread) ------------------------------------------------------------

// Default text of a code: null for 0, "Unknown/Undefined error code" outside -1..-15.
HLC_API const char* mp_err_default(int32_t code);
// First error wins: only an empty record takes code, this node and the text (or the
// default text); the function only when given.
HLC_API void mp_err_log(_MSG_ERR_ST* record, int32_t code, const char* text, const char* function);
// Copies an error of source (when it holds one) with the node set to this node.
HLC_API void mp_err_update(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
// Copies an error into buffers: the message (79 characters and a zero) into
// destination->message and the name (31 and a zero) into destination->function, which
// must point at buffers of 80 and 32 bytes.
HLC_API void mp_err_copy(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
// The message or function pointer in this address space, null when the code is 0.
HLC_API const char* mp_err_msg(const _MSG_ERR_ST* record);
HLC_API const char* mp_err_func(const _MSG_ERR_ST* record);

// ---- replies (the command server's task, or whoever completes a slot) ---------------

// Answers the slot with the code.  A sender that waits (reply mode 120, or 125 for
// "ready") gets its reply: the mode word is marked answered (kReplyModeAnswered), then
// error word = code and status 50 (30 for mode 125); a slot still in use rings the reply
// node's doorbell with the alternate bit; the sender frees the slot.  Returns 1.  When
// nobody waits (mode 110, or a sender that gave up waiting and turned the mode into 110)
// the slot is completed and freed here (status 50, in-use 0), and when the slot was
// already answered it is left alone; both return 0.
int mp_msg_reply(_MSG_BODY_ST* msg, int32_t code);
// Completes a slot with its own error word: as mp_msg_reply, so that a sender that still
// waits is answered and any other slot is freed (status 50, in-use 0).
void mp_msg_complete(_MSG_BODY_ST* msg);
// True once the slot's sender has given up waiting for its reply (its communication
// time-out): a handler that waits on the sender's behalf may stop.
bool mp_msg_sender_gave_up(const _MSG_BODY_ST* msg);
// Waits until the node's Orlo has no write posting left.
void mp_msg_wait_for_wr_posting_empty(_NODE_MAIN_RESOURCE_ST* record);

// ---- request resources (a handler on its thread object's command server task) -------

// The calling task's resource, set up for the message; null when the task has no thread
// object as its argument.
MP_RESOURCE_ST* mp_res_alloc(_MSG_BODY_ST* msg, uint32_t size, const char* name);
// 1 when the handler may work: no error yet and no other task holding the thread object
// (it waits, yielding, until the hold is let go).
int mp_res_ok(MP_RESOURCE_ST* resource);
// Files the command's error and replies or completes the slot.
void mp_res_free(MP_RESOURCE_ST* resource);
// First error wins.
void _mp_res_log_error(MP_RESOURCE_ST* resource, int32_t code, const char* text);
// As _mp_res_log_error, with the source file's base name and the line appended (each
// part only while the text stays within kResDebugTextBytes).  Every error record keeps its
// own text: the texts are kept unchanged until the library unloads, one copy of each.
void mp_res_log_error_debug(MP_RESOURCE_ST* resource, int32_t code, const char* text, const char* file, int line);
int mp_res_init(uint32_t node);

// A handler's view of its command's parameter slots: the word or double in a slot (0 for a
// slot outside the message), and a reply word into a slot, the reply count grown to cover
// it (a slot outside the message is left alone).
uint32_t mp_msg_param(const _MSG_BODY_ST* msg, uint32_t slot);
double mp_msg_param_double(const _MSG_BODY_ST* msg, uint32_t slot);
void mp_msg_put_reply(_MSG_BODY_ST* msg, uint32_t slot, uint32_t value);
