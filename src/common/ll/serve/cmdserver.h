// The host's command serving for nodes without a processor of their own: the ring server
// of a node, the command server of each thread object and the opcode table.
//
// The ring server walks the node's communication ring after each doorbell and hands every
// slot, as a kernel message (its 24-byte header lies just before the slot body), to the
// command port of the addressed thread object; the command server dispatches it through
// the opcode table.  Both are task entries of the node's kernel.
//
// Threads and locks.  A node's ring server and all its command servers are tasks of one
// kernel, on the node's interrupt process thread; they never run at the same time, so the
// thread object fields they share (cancel word, queued count, request resource, error
// records) need no lock as long as only that kernel touches them.  What other threads
// reach is guarded as follows:
//   - the thread-object table of mp_server_add_thread: the kernel critical section
//     (TaskBeginMutex), taken by add, remove and the default lookup; callable from any
//     thread;
//   - the ring header's served-commands word: the kernel critical section;
//   - the ring's head and tail: node section 1, shared with the posters;
//   - a thread object's pending-halt count: lowered by its command server under the
//     kernel critical section;
//   - the opcode tables, the thread lookup and the halt preparation: no lock.  They are
//     filled by the install functions before any node's servers run (node start-up, or a
//     test's set-up) and only read while serving; changing them while a node serves is
//     not supported.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "reqres.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

constexpr uint32_t mp_max_opcode = 225;
constexpr uint32_t mp_max_opcode_user = 1;
constexpr uint32_t kOpcodeUserBase = IM_OPCODE_USER;

constexpr uint32_t kOpThrCancel = 5;
constexpr uint32_t kOpThrFree = 7;
constexpr uint32_t kOpThrHalt = 9;

// Board-to-host interrupt sources whose semaphore wakes the ring server.
constexpr uint32_t kRingSignalPrimary = 37;
constexpr uint32_t kRingSignalDisplay = 69;

// Bytes of the kernel message each ring slot is (the header before the body included).
constexpr int32_t kRingSlotMsgBytes = 216;

using MpHandler = void (*)(_MSG_BODY_ST* msg);

// Read by the command servers of every node; written only while no node serves.
extern MpHandler mp_opcode[mp_max_opcode];
extern MpHandler mp_opcode_user[mp_max_opcode_user];

// Puts a handler into the table (null: mp_InvalidOpcode) and returns the previous one;
// opcodes outside both tables are refused (null returned).  Any thread, while no node
// serves (no lock).
MpHandler mp_server_set_handler(uint32_t opcode, MpHandler handler);
// Every entry back to mp_InvalidOpcode.  As mp_server_set_handler.
void mp_server_reset_handlers();

// Logs -6 under the name "Command decoder".  A command server's task; called elsewhere
// (no thread object in the task argument) it answers the message directly.
void mp_InvalidOpcode(_MSG_BODY_ST* msg);

// Thread objects the ring server can address.  The default lookup keeps a table filled
// by mp_server_add_thread; another one (the thread-object layer) may be installed.
using MpThreadLookupFn = MP_THREAD_ST* (*)(uint32_t threadId);
// Installed while no node serves (no lock).
MpThreadLookupFn mp_server_set_thread_lookup(MpThreadLookupFn fn);   // null: the table
// Any thread; the installed lookup guards its own table (the default one takes the
// kernel critical section).
MP_THREAD_ST* mp_server_thread(uint32_t threadId);
// 0 added, -1 table full or no thread.  Any thread (kernel critical section).
int mp_server_add_thread(MP_THREAD_ST* thread);
// Any thread (kernel critical section).
void mp_server_remove_thread(uint32_t threadId);

// The halt preparation of a halted thread object (the grab layer's part); default none.
// Installed while no node serves (no lock); run by the ring server.
using MpPrvHaltFn = void (*)(MP_THREAD_ST* thread, int32_t parameter);
MpPrvHaltFn mp_server_set_prv_halt(MpPrvHaltFn fn);

// Writes the kernel message header before every slot body of the node's ring.  0, or -1
// when the node has no ring.  The ring server, before it serves.
int mp_server_init_ring_msgs(_NODE_MAIN_RESOURCE_ST* record);

// Ends a thread object's serving: it is no longer addressable, the commands still queued
// on its command port are completed unexecuted with -10 (a synchronous sender is
// answered), its ports and second semaphore are closed, so that its command server ends.
// Only on the thread running the node's kernel (a task of it or its root task): the ports
// and the queued count belong to that kernel.
void mp_server_stop_thread(MP_THREAD_ST* thread);

// Task entries of the node's kernel.  Both end when their semaphore or ports are closed.
void MpNimServer(void* nodeRecord);
void mpFunctionServer(void* descriptor);
