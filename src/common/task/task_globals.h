// The records of the task kernel: the per-thread kernel globals, task control blocks,
// semaphore and port records, the kernel message header and the timer records.
#pragma once

#include "hlc_arch.h"
#include "task.h"

#include <cstdint>

struct TaskBlock;
struct PortRecord;
struct SemaRecord;

// Flags of a task control block.
constexpr uint8_t kTaskFlagReclaim = 1;     // free the blocks of exited tasks
constexpr uint8_t kTaskFlagReclaiming = 2;

// What a blocked task waits for.
enum TaskWaitKind : uint8_t { kTaskWaitNone = 0, kTaskWaitSema = 1, kTaskWaitPort = 2, kTaskWaitEvents = 3 };

// First-in first-out queue of tasks, linked through TaskBlock::next.
struct TaskQueue {
    TaskBlock* head;
    TaskBlock* tail;
};

struct TaskBlock {
    TaskBlock* next;            // ready or wait queue link
    int32_t handle;
    void* fiber;
    uint8_t priority;           // 0-31
    uint8_t state;              // TaskState
    uint8_t flags;
    uint8_t error;              // last failure of a kernel call made by this task
    intptr_t waitResult;        // 1/0 of a semaphore wait, a message, a pending set
    uint32_t pendingEvents;
    uint32_t waitedEvents;
    uint32_t freeEvents;        // bits not bound to a port or semaphore
    PortRecord* boundPorts;
    SemaRecord* boundSemas;
    void* argument;
    TaskEntry entry;
    uint32_t stackSize;
    uint8_t waitKind;           // TaskWaitKind while blocked
    void* waitObject;           // the semaphore or port record waited on
    _NODE_TASK_GLOBALS* globals;
};

struct SemaRecord {
    SemaRecord* next;           // link in the bound task's list
    int32_t handle;
    TaskQueue waiters;
    TaskBlock* boundTask;
    int32_t boundBit;
    int32_t count;
};

struct MsgHeader;

struct PortRecord {
    PortRecord* next;           // link in the bound task's list
    int32_t handle;
    TaskQueue receivers;
    TaskBlock* boundTask;
    int32_t boundBit;
    MsgHeader* head;            // queued messages
    MsgHeader* tail;
};

// Kernel message header, immediately before the user area (a shared-memory format).
struct MsgHeader {
    MsgHeader* next;            // 0: queue link
    int8_t sourceNode;          // 4
    uint8_t kind;               // 5: TaskMsgKind
    uint16_t totalSize;         // 6: header included
    int32_t homePort;           // 8: -1 none
    int32_t destination;        // 12: node << 24 | port (node 0xFF local)
    int32_t reserved;           // 16: -1
    uint16_t magic;             // 20: 0x5A69
    uint16_t userSize;          // 22: totalSize - 24
};
static_assert(sizeof(MsgHeader) == kTaskMsgHeaderSize, "kernel message header is 24 bytes");

// States of a timer record (kept past the record's five words).
enum TimerState : uint32_t { kTimerUnlinked = 0, kTimerRunning = 1, kTimerFree = 2, kTimerClock = 3, kTimerEnd = 4 };

struct TimerRecord {
    TimerRecord* next;
    TimerRecord* previous;
    int32_t delta;              // ticks after the predecessor (clock record: the tick count)
    int32_t period;             // 0: one-shot
    int32_t sema;               // signalled when due, -1 none
    uint32_t state;             // TimerState
};

constexpr int kTaskPriorities = 32;
constexpr int kTaskPortTableSize = 256;
constexpr int kTaskSemaTableSize = 1024;
constexpr int kTaskTaskTableSize = 256;
constexpr int kTaskRoutes = 256;
constexpr int kTaskHooks = 16;
constexpr int kTimerRecords = 18;   // clock, end and 16 for timers

struct TaskResourceTable {
    void** table;
    uint32_t size;
};

// The kernel of one OS thread, zeroed at creation and chained in the process-wide list.
struct _NODE_TASK_GLOBALS {
    int32_t ownNode;                    // -1 until set; messages take its low byte
    int32_t memLockSema;                // -1 until TaskInstallMalloc
    TaskAllocFunction allocate;
    TaskAlignedAllocFunction allocateAligned;
    TaskFreeFunction release;
    int32_t tagCounter;                 // decremented per numbered handle; low byte = tag
    uint32_t readyBitmap;               // bit p: ready queue p not empty
    TaskBlock* current;
    TaskResourceTable ports;
    TaskResourceTable semas;
    TaskResourceTable tasks;
    int32_t timerLockSema;              // -1 until TimerInit
    TimerRecord* timerClock;            // null until TimerInit
    TimerRecord* timerEnd;
    TaskBlock* exited;                  // blocks of ended tasks waiting to be freed
    void* lastBadMessage;
    MsgHeader* poolFree;
    uint32_t startHookCount;
    uint32_t exitHookCount;
    void* exitingFiber;                 // fiber of an ended task, deleted by the next task
    uint32_t osThreadId;
    _NODE_TASK_GLOBALS* previous;
    _NODE_TASK_GLOBALS* nextGlobals;
    TaskQueue ready[kTaskPriorities];
    PortRecord* portTable[kTaskPortTableSize];
    SemaRecord* semaTable[kTaskSemaTableSize];
    TaskBlock* taskTable[kTaskTaskTableSize];
    int32_t routes[kTaskRoutes];        // -1: no route
    alignas(8) uint8_t pool[kTaskPoolBlocks][kTaskPoolBlockSize];
    TaskHook startHooks[kTaskHooks];
    TaskHook exitHooks[kTaskHooks];
    TaskBlock root;
    TimerRecord timers[kTimerRecords];  // [0] clock, [1] end, then the free ones
    bool convertedThread;               // the kernel made the thread a fiber
};

// The process-wide list of kernels (guarded by the kernel critical section).
extern _NODE_TASK_GLOBALS* NodeTaskGlobals;
