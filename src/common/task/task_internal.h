// Inside the task kernel: the calling thread's kernel, the scheduler primitives and the
// handle lookups shared by the kernel's source files.
#pragma once

#include "task_globals.h"
#include "win32.h"

#include <atomic>

// The one critical section of every kernel of the process.  Constant-initialised, so it
// exists from the library's load on and may be entered by any thread at any time.
extern CRITICAL_SECTION ExecutiveCriticalSection;

namespace taskdetail {

using Globals = _NODE_TASK_GLOBALS;

// The calling thread's kernel is looked up in the list once and then kept per thread;
// every change of the list (a kernel started, ended or re-keyed) moves the generation
// on, which makes each thread look again.
extern std::atomic<uint32_t> gListGeneration;
extern __thread Globals* tlsGlobals;
extern __thread uint32_t tlsGeneration;
Globals* LookUpGlobals();

// The calling thread's kernel, or null.
inline Globals* FindGlobals() {
    if (tlsGeneration == gListGeneration.load(std::memory_order_acquire)) return tlsGlobals;
    return LookUpGlobals();
}

// Frees the blocks of ended tasks when the current task is marked to do so.  Runs with
// the critical section released.
void RunPendingWork(Globals* g);

// One kernel call: finds the calling thread's kernel and holds the critical section
// for the call's length (nothing is entered without a kernel).
class KernelCall {
public:
    KernelCall() : g_(FindGlobals()) {
        if (g_) EnterCriticalSection(&ExecutiveCriticalSection);
    }
    ~KernelCall() {
        if (g_) {
            LeaveCriticalSection(&ExecutiveCriticalSection);
            if (g_->current->flags & kTaskFlagReclaim) RunPendingWork(g_);
        }
    }
    KernelCall(const KernelCall&) = delete;
    KernelCall& operator=(const KernelCall&) = delete;
    Globals* g() const { return g_; }

private:
    Globals* g_;
};

inline void SetError(Globals* g, uint8_t code) { g->current->error = code; }

// ---- queues -------------------------------------------------------------------------------

inline void QueueAppend(TaskQueue& q, TaskBlock* t) {
    t->next = nullptr;
    if (q.tail)
        q.tail->next = t;
    else
        q.head = t;
    q.tail = t;
}

inline TaskBlock* QueuePop(TaskQueue& q) {
    TaskBlock* t = q.head;
    if (t) {
        q.head = t->next;
        if (!q.head) q.tail = nullptr;
        t->next = nullptr;
    }
    return t;
}

// The first task of the highest non-empty ready queue (the root task keeps one ready).
inline TaskBlock* HighestHead(Globals* g) {
    int p = 31 - __builtin_clz(g->readyBitmap);
    return g->ready[p].head;
}

// ---- scheduling -----------------------------------------------------------------------------

// Makes a task ready.  True when it should preempt the current task (its queue was empty
// and its priority is above the current task's); the caller then switches (or, when it
// readies several tasks, does so once at the end with _preempt).
bool _readyTask(Globals* g, TaskBlock* t);
// Readies a task and preempts at once when due.
void _readyNow(Globals* g, TaskBlock* t);
// Lets the first task of the highest non-empty queue run.
void _preempt(Globals* g);
// Takes the current task out of its ready queue (onto the wait queue, when given) and
// runs the next one; returns when the task has been readied and runs again.
void _blockTask(Globals* g, TaskQueue* waitQueue);
// Switches to another task, the critical section held; returns when the calling task
// runs again.
void _switchTasks(Globals* g, TaskBlock* next);
// Readies a blocked task with a wait result.
void WakeWith(Globals* g, TaskBlock* t, intptr_t result, uint8_t error, bool* preempt);

// ---- events ---------------------------------------------------------------------------------

// Raises an owner's event bit; an owner waiting for it is readied with its pending set.
void RaiseEvent(Globals* g, TaskBlock* owner, int bit, bool* preempt);
inline void ClearEvent(TaskBlock* owner, int bit) { owner->pendingEvents &= ~(1u << bit); }
// Removes a resource's binding from its owner (bit freed and cleared); an owner waiting
// for that bit is readied with result 0 and the error.
void UnbindSema(Globals* g, SemaRecord* s, uint8_t error, bool* preempt);
void UnbindPort(Globals* g, PortRecord* p, uint8_t error, bool* preempt);

// ---- handles --------------------------------------------------------------------------------

// The record a handle names, or null: the index must lie inside the table and its entry
// hold exactly that handle.
SemaRecord* FindSema(Globals* g, int32_t handle);
PortRecord* FindPort(Globals* g, int32_t handle);
TaskBlock* FindTask(Globals* g, int32_t handle);
// The same, recording "not found" as the kernel's error when there is none.
SemaRecord* FindSemaOrFail(Globals* g, int32_t handle);
PortRecord* FindPortOrFail(Globals* g, int32_t handle);
// Takes event bit 0-31 of task t for a binding; false (error "event in use") when the bit
// is out of range or already taken.
bool ClaimEventBit(Globals* g, TaskBlock* t, int bit);

// A port handle carrying the kernel's own node number as its type byte names a local port.
int32_t LocalPortHandle(Globals* g, int32_t handle);

// Chooses the handle for a new resource: the wanted one when its type byte is right and
// its index inside the table and free (else error 4), or with -1 the highest free index
// and the next tag (error 13 when none is free).  Returns the handle or -1.
int32_t ChooseHandle(Globals* g, const TaskResourceTable& table, uint32_t type, int32_t wanted);

// Messages queued on a port that is being closed or torn down go back through this.
void ReclaimMessage(Globals* g, MsgHeader* h, bool* preempt, int depth);

} // namespace taskdetail
