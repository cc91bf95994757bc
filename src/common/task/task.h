// The task kernel: a priority-driven cooperative kernel that runs tasks as fibers of one
// OS thread, with counting semaphores, per-task event bits, ports and kernel messages.
//
// Every OS thread may run one kernel of its own (TaskInitTasking .. TaskExitTasking); a
// call acts on the calling thread's kernel.  A task runs until it blocks, yields, lowers
// its priority or readies a task of higher priority; there is no time slicing.  The
// calling thread itself is the root task: priority 0 at first, it never blocks (a call
// that would block it fails with error 9) and never ends.
//
// Handles are 32-bit: bits 24-31 the type (0xFF port, 0xFE semaphore, 0xFD task), bits
// 16-23 a tag, bits 0-15 the index into the kernel's table.  A handle is accepted only
// when its table entry is open and holds exactly that handle.
//
// A failing call stores its error code (TaskError) in the current task's error byte
// (TaskGetError) and returns 0, -1 or null.
#pragma once

#include "hlc_arch.h"

#include <cstddef>
#include <cstdint>

struct _NODE_TASK_GLOBALS;

using TaskEntry = void (*)(void* argument);
using TaskHook = void (*)();
using TaskAllocFunction = void* (*)(size_t size);
using TaskAlignedAllocFunction = void* (*)(size_t alignment, size_t size);
using TaskFreeFunction = void (*)(void* block);

// Handle types (bits 24-31).
constexpr uint32_t kTaskTypePort = 0xFF;
constexpr uint32_t kTaskTypeSema = 0xFE;
constexpr uint32_t kTaskTypeTask = 0xFD;

// TaskCreate's handle argument: -1 lets the kernel number the task, -2 also asks for a
// task unique by entry and argument.
constexpr int32_t kTaskAnyHandle = -1;
constexpr int32_t kTaskUniqueHandle = -2;

// Error codes of the current task's error byte.
enum TaskError : uint8_t {
    kTaskErrorNone = 0,
    kTaskErrorPortNotFound = 1,     // port not found (close, bind, route, send, receive)
    kTaskErrorSemaNotFound = 2,     // semaphore not found
    kTaskErrorTaskNotFound = 3,     // task not found (resume)
    kTaskErrorBadHandle = 4,        // requested handle out of range, used, or of the wrong type
    kTaskErrorRouteNode = 6,        // route node number outside 0-255
    kTaskErrorRootBlocks = 9,       // the root task would have to block
    kTaskErrorEventNotBound = 10,   // waiting for event bits that are not all bound
    kTaskErrorPortClosed = 11,      // woken because the port was closed
    kTaskErrorSemaClosed = 12,      // woken because the semaphore was closed
    kTaskErrorTableFull = 13,       // resource table full
    kTaskErrorNoMemory = 15,        // no memory for a block, or no fiber
    kTaskErrorPortBound = 17,       // port already bound to a task
    kTaskErrorSemaBound = 18,       // semaphore already bound to a task
    kTaskErrorEventInUse = 19,      // event bit already in use (or outside 0-31)
    kTaskErrorMessageSize = 22,     // message size outside 24-32792, or no memory given
};

// Task states.
enum TaskState : uint8_t {
    kTaskEnded = 0,
    kTaskCreated = 1,           // suspended, never resumed
    kTaskReady = 2,
    kTaskBlocked = 3,
    kTaskBlockedSuspended = 4,  // readying it makes it created, resuming it blocked
};

// ---- kernel life ------------------------------------------------------------------------

// Starts a kernel on the calling thread, which becomes the root task.  1, or 0 when the
// thread runs a kernel already or no memory is left.
int TaskInitTasking();

// Ends the calling thread's kernel: frees its ports, semaphores and tasks (their fibers
// deleted) and its globals.  Must be called from the root task; 1, or 0 (no kernel, or
// called from another task: refused, nothing is freed).
int TaskExitTasking();

// The calling thread's kernel globals (null without a kernel).
_NODE_TASK_GLOBALS* TaskGetNodeTaskGlobals();
// Looks the calling thread's globals up again in the process-wide list and returns them.
_NODE_TASK_GLOBALS* TaskSetNodeTaskGlobals();
// The calling thread's OS id.
uint32_t TaskOsThreadId();
// Re-keys the calling thread's globals to another OS thread id.  1, or 0 without kernel.
int TaskSetNewThread(uint32_t threadId);
// 1 when the calling thread runs a kernel.
int TaskTaskingState(int any = 0);

// Enter and leave the one critical section of every kernel of the process; usable from
// any thread at any time, also without a kernel.  Recursive.
void TaskBeginMutex();
void TaskEndMutex();

// Installs memory functions (a null one keeps the current) and, the first time, opens
// the memory-lock semaphore (count 1).  1, or 0 without kernel.
int TaskInstallMalloc(TaskAllocFunction allocate, TaskAlignedAllocFunction allocateAligned,
                      TaskFreeFunction release);
// Wait on and signal the memory-lock semaphore, when it is open.
void TaskMemLock();
void TaskMemUnlock();

// Start hooks run in every new task before its entry, exit hooks (in reverse order of
// installation) when a task ends; up to 16 of each per kernel.  1, or 0 when full or
// without kernel.
int TaskAddStartHook(TaskHook hook);
int TaskAddExitHook(TaskHook hook);

// The current task's error byte (0 without kernel).
int TaskGetError();

// ---- tasks ------------------------------------------------------------------------------

// Creates a suspended task (state created) running entry(argument) at priority
// (low five bits) on a fiber with a stack of stackSize bytes.  handle: a wanted handle
// (type byte 0xFD, index free and below 256), -1, or -2 for a task unique by entry and
// argument (-1 without an error when such a task exists).  Returns the handle or -1.
int32_t TaskCreate(int32_t handle, TaskEntry entry, void* argument, int32_t priority, uint32_t stackSize);
// Makes a created task ready (it runs at once when its priority is above the caller's)
// and a blocked-and-suspended one blocked.  1, or 0 with error 3.
int TaskResume(int32_t task);
// Ends the calling task; returns only to the root task, which cannot end.
void TaskExit();
// The current task's argument (null for the root task or without kernel).
void* TaskGetTaskArg();
// The current priority (0 without kernel).
int TaskGetPriority();
// Sets the current task's priority to the value's low five bits, putting it first in
// that priority's queue; the first task of the highest non-empty queue then runs.
// Returns the old priority (0 without kernel).
int TaskSetPriority(int priority);
// Moves the first task of priority's queue (-1: the caller's own) to its end; when that
// was the caller, the new first task runs.
void TaskYield(int priority);
// As TaskYield when priority is the caller's own and another task of it is ready;
// otherwise lets the first task of the highest non-empty queue below priority run, with
// no queue changed (the caller runs again when that task blocks or readies a higher one).
void TaskYieldOtherPriority(int priority);

// ---- semaphores -------------------------------------------------------------------------

// Opens a semaphore with a count (handle: a wanted one of type 0xFE, or -1).  The handle
// or -1 (errors 4, 13, 15).
int32_t TaskOpenSema(int32_t handle, int32_t initialCount);
// Wakes its waiters (result 0, error 12) and frees it.  1, or 0 with error 2.
int TaskCloseSema(int32_t sema);
// Takes a count, blocking while there is none.  1 when taken; 0 when the semaphore was
// closed meanwhile (error 12), is not open (error 2), or the root task would block (9).
int TaskWaitSema(int32_t sema);
// Hands the signal to the first waiter, else adds a count (raising the bound event bit).
// 1, or 0 with error 2.
int TaskSignalSema(int32_t sema);
// Takes a count without blocking: 1 or 0 (error 2 when not open).
int TaskCheckSema(int32_t sema);
// Sets the count to 0 and returns the old count (-1 with error 2 when not open).
int32_t TaskResetSema(int32_t sema);
// 1 when sema names an open semaphore of the calling thread's kernel.
int TaskValidateSema(int32_t sema);

// ---- event bits -------------------------------------------------------------------------

// Bind a semaphore (pending while it has a count) or a port (pending while it holds
// messages) to one of the calling task's event bits 0-31.  1, or 0 with error 2/1,
// 18/17 (already bound) or 19 (bit in use or outside 0-31).
int TaskBindSema(int32_t sema, int bit);
int TaskBindPort(int32_t port, int bit);
// Returns the pending event bits once any bit of mask is pending (blocking until then;
// the root task gets its pending set at once).  0 with error 10 when a bit of the mask is
// not bound, 0 with error 11/12 when the resource of a waited bit was closed.
uint32_t TaskWaitEvents(uint32_t mask);

// ---- ports and kernel messages ----------------------------------------------------------

// The header that precedes a message's user area.
constexpr size_t kTaskMsgHeaderSize = 24;
constexpr int32_t kTaskMsgMinSize = 24;
constexpr int32_t kTaskMsgMaxSize = 32792;
constexpr uint16_t kTaskMsgMagic = 0x5A69;
constexpr size_t kTaskPoolBlocks = 24;
constexpr size_t kTaskPoolBlockSize = 64;

// Message kinds.
enum TaskMsgKind : uint8_t {
    kTaskMsgCallerMemory = 0,
    kTaskMsgAllocated = 1,      // allocated with the kernel's allocation function
    kTaskMsgPool = 2,           // a block of the kernel's message pool
};

// Opens a port (handle: a wanted one of type 0xFF, or with the kernel's own node number as
// its type byte, or -1).  The handle or -1 (errors 4, 13, 15).
int32_t TaskOpenPort(int32_t handle);
// Wakes its receivers (null, error 11), reclaims every queued message and frees it.  1,
// or 0 with error 1.
int TaskClosePort(int32_t port);
// Writes a message header at memory (size bytes in all, header included; home port or
// -1) and returns the user area, memory + 24.  Null with error 22 for a size outside
// 24-32792 or no memory, error 1 for a home port that is not open.
void* TaskInitMsg(void* memory, int32_t size, int32_t homePort);
// Hands the message to the port's first waiting receiver, else queues it.  1, or 0 (error
// 1 for a port that is not open; a message without a valid header is refused and recorded
// as the last bad message).
int TaskSendMsg(void* message, int32_t port);
// The first queued message, blocking while there is none.  Null when the port is not open
// (1), was closed meanwhile (11), or the root task would block (9).
void* TaskReceiveMsg(int32_t port);
// port -1: the kernel's own node number becomes node.  Otherwise the open port becomes
// the route for messages to node.  1, or 0 with error 6 (node outside 0-255) or 1.
int TaskSetMsgRoute(int32_t node, int32_t port);
// Sends the message towards its destination (local port, or route of its node).  1, or 0
// for a message without a valid header (recorded as the last bad message).
int TaskRelayMsg(void* message);
// Gives a used message back: to its source node, its home port, or freed.  1 or 0 as above.
int TaskReclaimMsg(void* message);
// Frees a message of this node: allocated ones with the free function, pool blocks to
// the pool; caller memory is only marked dead.  1 when freed, 0 otherwise (recorded as
// the last bad message).
int TaskFreeMsg(void* message);
