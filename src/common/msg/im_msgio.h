// Command messages and the communication ring: the message layout, the ring header and
// slot formats, posting a message into a node's ring, the reply wait, error items and
// the process-wide last-error record, and the list of reply events that the
// board-to-host interrupt sets.
//
// The ring lies in memory that the host and the node both see: host memory for a node
// the host serves, a mapped board window for a board with its own processor.  Every
// ring access goes through RingRead32/RingWrite32 (and the block forms), which use the
// hardware accessor layer for window addresses and plain memory otherwise.
#pragma once

#include "hlc_arch.h"
#include "w32base.h"

#include <cstddef>
#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;
struct _HALCYRA_HOOK_LIST;

// ---- message layout -------------------------------------------------------------------

constexpr uint32_t kMsgMaxParams = 15;
constexpr uint32_t kMsgHeaderBytes = 56;
constexpr uint32_t kMsgSlotBytes = 256;
constexpr uint32_t kMsgRingHeaderBytes = 64;

// Reply modes (low 16 bits of the reply mode word): IM_REPLY_NOWAIT, IM_REPLY_POLL and
// IM_REPLY_POLL_FOR_READY of hlclib_defs.h.

// Reply mode word, bit 31: set by the node with one compare-and-swap when it takes on the
// reply of a slot whose sender waits (modes 120 and 125).  A sender that gives up waiting
// turns the mode into 110 with one compare-and-swap on the same word instead.  Whichever
// swap comes first decides who frees the slot: a node that answered leaves it to the
// sender (which finds the reply and frees it); a sender that gave up leaves it to the
// node (which then completes it as a mode-110 message and frees it).  The reply node
// (bits 16-23) and the mode (bits 0-15) keep their places.
constexpr uint32_t kReplyModeAnswered = 0x80000000u;
// Reply mode word, bit 30: set with the sender's swap to 110, so that the node tells a
// sender that gave up from one that never waited.  A command whose sender gave up ends
// any wait it holds for that sender, and its late result is dropped rather than handed to
// the thread object's next command.
constexpr uint32_t kReplyModeAbandoned = 0x40000000u;

// Slot status.
constexpr uint32_t kMsgPosted = 10;
constexpr uint32_t kMsgReceived = 20;
constexpr uint32_t kMsgReceivedCancelled = 25;
constexpr uint32_t kMsgReady = 30;
constexpr uint32_t kMsgDone = 50;

constexpr uint32_t kMsgFlags = 10;

// Error record: the two pointers belong to the address space of `node`.
struct _MSG_ERR_ST {
    int32_t code;
    uint32_t node;
    const char* function;
    const char* message;
};
static_assert(sizeof(_MSG_ERR_ST) == 16, "error records are 16 bytes");

struct _MSG_BODY_ST {
    int32_t id;             // 0: -1 built; posted: sequence << 16 | next slot
    uint32_t inUse;         // 4
    uint32_t flags;         // 8
    uint32_t replyMode;     // 12: reply node << 16 | mode
    uint32_t control;       // 16: sync object id or 0
    uint32_t status;        // 20
    int32_t error;          // 24
    uint32_t threadId;      // 28
    uint32_t counts;        // 32: low 16 sent slots, high 16 reply slots
    uint32_t opcode;        // 36
    _MSG_ERR_ST err;        // 40
    uint8_t param[kMsgMaxParams][8]; // 56
};
static_assert(offsetof(_MSG_BODY_ST, id) == 0, "id at 0");
static_assert(offsetof(_MSG_BODY_ST, inUse) == 4, "in-use at 4");
static_assert(offsetof(_MSG_BODY_ST, flags) == 8, "flags at 8");
static_assert(offsetof(_MSG_BODY_ST, replyMode) == 12, "reply mode at 12");
static_assert(offsetof(_MSG_BODY_ST, control) == 16, "control at 16");
static_assert(offsetof(_MSG_BODY_ST, status) == 20, "status at 20");
static_assert(offsetof(_MSG_BODY_ST, error) == 24, "error at 24");
static_assert(offsetof(_MSG_BODY_ST, threadId) == 28, "thread id at 28");
static_assert(offsetof(_MSG_BODY_ST, counts) == 32, "counts at 32");
static_assert(offsetof(_MSG_BODY_ST, opcode) == 36, "opcode at 36");
static_assert(offsetof(_MSG_BODY_ST, err) == 40, "error record at 40");
static_assert(offsetof(_MSG_BODY_ST, param) == kMsgHeaderBytes, "parameters at 56");
static_assert(sizeof(_MSG_BODY_ST) == 176, "bodies are 176 bytes");

// A message as built by an export: 64 bytes the message functions leave alone, the body,
// and room up to the 256 bytes of a slot.
struct _MSG_ST {
    uint8_t lead[64];
    _MSG_BODY_ST body;
    uint8_t tail[16];
};
static_assert(offsetof(_MSG_ST, body) == 64, "the body follows 64 bytes");
static_assert(sizeof(_MSG_ST) == 256, "messages are 256 bytes");

// Byte offsets inside a ring slot (from the body start).
constexpr uint32_t kSlotCompletionStamp = 176;
constexpr uint32_t kSlotPostStamp = 184;

// Ring header words.
enum RingWord : uint32_t {
    kRingHead = 1,
    kRingTail = 2,
    kRingReserved = 3,
    kRingSlots = 4,
    kRingSequence = 5,
    kRingServed = 6,
    kRingDebug = 7,
    kRingSnoopPosted = 8,
    kRingSnoopReceived = 9,
    kRingSnoopCompleted = 10,
    kRingSnoopPosts = 11,
    kRingSnoopReceipts = 12,
    kRingSnoopCompletions = 13,
    kRingSnoopError = 14,
};

// The body address of slot i of a ring whose slot base is `base`.
inline uint32_t RingSlotAddress(uint32_t base, uint32_t slot)
{
    return base + kMsgRingHeaderBytes + kMsgSlotBytes * slot;
}

// Ring memory access (window addresses through the hardware accessors).
uint32_t RingRead32(uint32_t address);
void RingWrite32(uint32_t address, uint32_t value);
void RingReadBlock(uint32_t address, void* destination, uint32_t bytes);
void RingWriteBlock(uint32_t address, const void* source, uint32_t bytes);
// Compare-and-swap of one ring word: true when it held `expected` and now holds `desired`;
// false with the word's value in `expected` otherwise.  Atomic for a ring in host memory;
// on a board window it is a read and a write, the board's processor being outside the
// host's atomic operations.
bool RingCompareExchange32(uint32_t address, uint32_t& expected, uint32_t desired);
inline uint32_t RingHeaderWord(uint32_t header, uint32_t word)
{
    return RingRead32(header + 4 * word);
}
inline void RingSetHeaderWord(uint32_t header, uint32_t word, uint32_t value)
{
    RingWrite32(header + 4 * word, value);
}

// ---- application record ---------------------------------------------------------------

using ImErrorHook = int32_t (*)(int32_t hookType, int32_t errorCode, uint32_t user);

struct _APPLICATION_LAST_ERROR {
    int32_t code;
    uint32_t node;
    char* function;     // the 32-byte name buffer
    char* message;      // the 80-byte message buffer
};

struct _APPLICATION_ST {
    uint32_t reserved;
    ImErrorHook hook;
    uint32_t hookUser;
    _APPLICATION_LAST_ERROR error;
    char functionBuffer[32];
    char messageBuffer[80];
};
static_assert(offsetof(_APPLICATION_ST, error) == 12, "last error after three words");
static_assert(offsetof(_APPLICATION_ST, functionBuffer) == 28, "name buffer after the record");
static_assert(sizeof(_APPLICATION_ST) == 140, "application records are 140 bytes");

// The process-wide last-error record and hook.  im_msg_end files an error into it under
// the kernel critical section, from any sender's thread.
extern _APPLICATION_ST im_Application;
// Clears the record and points its error record at the two buffers.
void im_msg_reset_application();

// ---- building, sending, errors --------------------------------------------------------

// Sync types of im_msg_send: IM_SYNC_POLL, IM_SYNC_NOWAIT and IM_SYNC_READY of
// hlclib_defs.h.

HLC_API uint32_t im_msg_start(_MSG_ST* msg, uint32_t opcode, uint32_t count, const char* function);
HLC_API void im_msg_send(_MSG_ST* msg, uint32_t deviceId, uint32_t threadId, uint32_t control, uint32_t syncType);
HLC_API int32_t im_msg_cmd_error(const _MSG_ST* msg);
HLC_API void im_msg_log_error(_MSG_ST* msg, int32_t code, const char* text);
HLC_API void im_msg_end(_MSG_ST* msg);
// Files an error into the application's last-error record (unless one is there) and calls
// the error hook: for an error of a command whose sender waits for no reply.
void im_msg_file_error(const _MSG_ERR_ST& record);
// The exports' boundary (hlc_export.h): files -4 with its default text under the export's
// name, into msg when given (its owner files it), else into the last-error record.
void im_msg_record_export_failure(const char* function, _MSG_ST* msg);

// Reads the reply of a get-error command; see the modes below.  `out` must hold 4 bytes
// (mode 2), 80 (mode 4), 32 (mode 8) or kMsgErrorTextBytes (mode 12).  Only the reply's
// own slots count (the high half of the counts word): a text whose slot the reply did
// not fill is empty, and a reply without slots gives code 0.
constexpr uint32_t kMsgErrorTextBytes = 128;
HLC_API int32_t im_msg_get_error_item(_MSG_ST* msg, uint32_t mode, void* out);

HLC_API int im_msg_hook_handler(uint32_t node);
int MvpToHostHandler(_HALCYRA_HOOK_LIST* list);

// Internal steps, callable for tests and the ring server.
int32_t im_msg_get_free_buffer(_NODE_MAIN_RESOURCE_ST* record, int* savedPriority);
int im_msg_get(_NODE_MAIN_RESOURCE_ST* record, uint32_t slot, _MSG_ST* msg, uint32_t mode, HANDLE event);
int im_msg_queue_synch_cmd(uint32_t node, uint32_t slotBody, uint32_t mode, HANDLE* event);
void im_msg_dequeue_synch_cmd(HANDLE* event);

// Services of other layers that the reply wait uses, with safe defaults.
struct ImMsgHooks {
    // the board's diagnostic dump after a time-out (imSysDiag); 0 done
    int (*sysDiag)(uint32_t system, uint32_t board, uint32_t mode, const char* file);
};
// Installs the table (null members keep their defaults); null restores the defaults.
void im_msg_set_hooks(const ImMsgHooks* hooks);

// ---- reply events ---------------------------------------------------------------------
//
// A synchronous sender that is a plain thread takes a reply event for its slot before it
// waits; the board-to-host interrupt (MvpToHostHandler, on the node's interrupt process
// thread) sets the events of the slots whose status has reached the expected one.
//
// Threads and locks: every member function may be called from any thread.  The two lists
// and every field of their entries are guarded by the kernel critical section
// (TaskBeginMutex), which each function takes itself; the event handle of an entry is
// waited on, outside the lock, only by the sender that took it, until it gives it back
// with FreeEntry.  The constructor and destructor run with the library's static objects,
// when no other thread uses the list.

struct _SYNC_CMD_LIST {
    uint32_t node;
    uint32_t busy;
    uint32_t slotBody;      // address of the ring slot's body
    uint32_t expected;      // status that completes the wait
    HANDLE event;           // auto-reset
    _SYNC_CMD_LIST* next;
    _SYNC_CMD_LIST* previous;
};
static_assert(sizeof(_SYNC_CMD_LIST) == 28, "reply-event entries are seven words");

class CSyncCmdList {
public:
    CSyncCmdList();
    ~CSyncCmdList();
    CSyncCmdList(const CSyncCmdList&) = delete;
    CSyncCmdList& operator=(const CSyncCmdList&) = delete;

    // The sender, before it waits: an auto-reset event for the slot (from the free list, or
    // a new one), null when no event can be made.
    HANDLE GetEvent(uint32_t node, uint32_t slotBody, uint32_t mode);
    // The interrupt process thread: sets the event of every entry of the node whose slot
    // status is the expected one.
    void PostEvent(uint32_t node);
    // The sender, after its wait: the entry goes back to the free list, its event reset.
    void FreeEntry(HANDLE event);

    // Counts of the two lists (for diagnostics), taken under the lock.
    uint32_t ActiveCount() const;
    uint32_t FreeCount() const;

private:
    // Closes and deletes a chain of entries (destructor only).
    void DeleteEntry(_SYNC_CMD_LIST* entry);

    // Both guarded by the kernel critical section.
    _SYNC_CMD_LIST* free_ = nullptr;
    _SYNC_CMD_LIST* active_ = nullptr;
};

extern CSyncCmdList& SyncCmdList;
