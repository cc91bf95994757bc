// The host's command serving for nodes without a processor of their own: the ring server
// of a node, the command server of each thread object and the opcode table.
//
// The ring server walks the node's communication ring after each doorbell and hands every
// slot, as a kernel message (its 24-byte header lies just before the slot body), to the
// command port of the addressed thread object; the command server dispatches it through
// the opcode table.  Both are task entries of the node's kernel.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "reqres.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

constexpr uint32_t mp_max_opcode = 225;
constexpr uint32_t mp_max_opcode_user = 1;
constexpr uint32_t kOpcodeUserBase = 10000;

constexpr uint32_t kOpThrCancel = 5;
constexpr uint32_t kOpThrFree = 7;
constexpr uint32_t kOpThrHalt = 9;

// Board-to-host interrupt sources whose semaphore wakes the ring server.
constexpr uint32_t kRingSignalPrimary = 37;
constexpr uint32_t kRingSignalDisplay = 69;

// Bytes of the kernel message each ring slot is (the header before the body included).
constexpr int32_t kRingSlotMsgBytes = 216;

using MpHandler = void (*)(_MSG_BODY_ST* msg);

extern MpHandler mp_opcode[mp_max_opcode];
extern MpHandler mp_opcode_user[mp_max_opcode_user];

// Puts a handler into the table (null: mp_InvalidOpcode) and returns the previous one;
// opcodes outside both tables are refused (null returned).
MpHandler mp_server_set_handler(uint32_t opcode, MpHandler handler);
// Every entry back to mp_InvalidOpcode.
void mp_server_reset_handlers();

// Logs -6 under the name "Command decoder".
void mp_InvalidOpcode(_MSG_BODY_ST* msg);

// Thread objects the ring server can address.  The default lookup keeps a table filled
// by mp_server_add_thread; another one (the thread-object layer) may be installed.
using MpThreadLookupFn = MP_THREAD_ST* (*)(uint32_t threadId);
MpThreadLookupFn mp_server_set_thread_lookup(MpThreadLookupFn fn);   // null: the table
MP_THREAD_ST* mp_server_thread(uint32_t threadId);
// 0 added, -1 table full or no thread.
int mp_server_add_thread(MP_THREAD_ST* thread);
void mp_server_remove_thread(uint32_t threadId);

// The halt preparation of a halted thread object (the grab layer's part); default none.
using MpPrvHaltFn = void (*)(MP_THREAD_ST* thread, int32_t parameter);
MpPrvHaltFn mp_server_set_prv_halt(MpPrvHaltFn fn);

// Writes the kernel message header before every slot body of the node's ring.  0, or -1
// when the node has no ring.
int mp_server_init_ring_msgs(_NODE_MAIN_RESOURCE_ST* record);

// Ends a thread object's serving: it is no longer addressable, the commands still queued
// on its command port are completed unexecuted with -10 (a synchronous sender is
// answered), its ports and second semaphore are closed, so that its command server ends.
void mp_server_stop_thread(MP_THREAD_ST* thread);

// Task entries.  Both end when their semaphore or ports are closed.
void MpNimServer(void* nodeRecord);
void mpFunctionServer(void* threadObject);
