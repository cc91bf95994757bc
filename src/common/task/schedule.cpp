// Scheduling: ready queues, blocking, switching, task creation, start and end, priorities
// and yields.

#include "task_internal.h"

#include <cstring>

namespace taskdetail {

bool _readyTask(Globals* g, TaskBlock* t) {
    if (t->state == kTaskBlockedSuspended) {
        t->state = kTaskCreated;
        return false;
    }
    t->state = kTaskReady;
    t->waitKind = kTaskWaitNone;
    t->waitObject = nullptr;
    TaskQueue& q = g->ready[t->priority];
    bool wasEmpty = q.head == nullptr;
    QueueAppend(q, t);
    if (!wasEmpty) return false;
    g->readyBitmap |= 1u << t->priority;
    return t->priority > g->current->priority;
}

void _preempt(Globals* g) { _switchTasks(g, HighestHead(g)); }

void _readyNow(Globals* g, TaskBlock* t) {
    if (_readyTask(g, t)) _preempt(g);
}

void WakeWith(Globals* g, TaskBlock* t, intptr_t result, uint8_t error, bool* preempt) {
    t->waitResult = result;
    if (error) t->error = error;
    if (_readyTask(g, t)) *preempt = true;
}

namespace {
// Takes the current task, the first of its queue, out of its ready queue.
void LeaveReadyQueue(Globals* g, TaskBlock* self) {
    TaskQueue& q = g->ready[self->priority];
    if (q.head == self) {
        QueuePop(q);
    } else {
        // Not first (another task of its queue was yielded past it meanwhile): unlink.
        for (TaskBlock* p = q.head; p; p = p->next) {
            if (p->next == self) {
                p->next = self->next;
                if (q.tail == self) q.tail = p;
                self->next = nullptr;
                break;
            }
        }
    }
    if (!q.head) g->readyBitmap &= ~(1u << self->priority);
}
} // namespace

void _blockTask(Globals* g, TaskQueue* waitQueue) {
    TaskBlock* self = g->current;
    LeaveReadyQueue(g, self);
    self->state = kTaskBlocked;
    if (waitQueue) QueueAppend(*waitQueue, self);
    _switchTasks(g, HighestHead(g));
}

void _switchTasks(Globals* g, TaskBlock* next) {
    TaskBlock* self = g->current;
    if (next == self) return;
    g->current = next;
    SwitchToFiber(next->fiber);
    // Running again.  A task that ended meanwhile left its fiber to be deleted here.
    if (g->exitingFiber) {
        DeleteFiber(g->exitingFiber);
        g->exitingFiber = nullptr;
    }
}

namespace {

// First code of every task's fiber, entered from a switch with the section held.
void _launchFiber(void* parameter) {
    TaskBlock* self = static_cast<TaskBlock*>(parameter);
    Globals* g = self->globals;
    if (g->exitingFiber) {
        DeleteFiber(g->exitingFiber);
        g->exitingFiber = nullptr;
    }
    LeaveCriticalSection(&ExecutiveCriticalSection);
    RunPendingWork(g);
    for (uint32_t i = 0; i < g->startHookCount; ++i) g->startHooks[i]();
    self->entry(self->argument);
    TaskExit();
}

// Releases the bindings of an ending task, so that no port or semaphore points at its block.
void UnbindAll(Globals* g, TaskBlock* t) {
    bool unused = false;
    while (t->boundSemas) UnbindSema(g, t->boundSemas, 0, &unused);
    while (t->boundPorts) UnbindPort(g, t->boundPorts, 0, &unused);
}

} // namespace
} // namespace taskdetail

using namespace taskdetail;

int32_t TaskCreate(int32_t handle, TaskEntry entry, void* argument, int32_t priority, uint32_t stackSize) {
    Globals* g = FindGlobals();
    if (!g) return -1;
    if (!entry) {
        KernelCall k;
        SetError(g, kTaskErrorNoMemory);
        return -1;
    }
    if (stackSize < 256) stackSize = 256;
    // Block and fiber are made before the tables are touched: the allocation function may
    // itself be a kernel call that lets other tasks run.
    TaskBlock* t = static_cast<TaskBlock*>(g->allocate(sizeof(TaskBlock)));
    if (!t) {
        KernelCall k;
        SetError(g, kTaskErrorNoMemory);
        return -1;
    }
    std::memset(t, 0, sizeof *t);
    t->fiber = CreateFiber(stackSize, _launchFiber, t);
    if (!t->fiber) {
        g->release(t);
        KernelCall k;
        SetError(g, kTaskErrorNoMemory);
        return -1;
    }
    int32_t result = -1;
    {
        KernelCall k;
        bool duplicate = false;
        if (handle == kTaskUniqueHandle) {
            for (int i = 0; i < kTaskTaskTableSize && !duplicate; ++i) {
                TaskBlock* o = g->taskTable[i];
                duplicate = o && o->entry == entry && o->argument == argument;
            }
            handle = kTaskAnyHandle;
        }
        if (!duplicate) result = ChooseHandle(g, g->tasks, kTaskTypeTask, handle);
        if (result != -1) {
            t->handle = result;
            t->priority = static_cast<uint8_t>(priority & 31);
            t->state = kTaskCreated;
            t->freeEvents = 0xFFFFFFFFu;
            t->argument = argument;
            t->entry = entry;
            t->stackSize = stackSize;
            t->globals = g;
            g->taskTable[static_cast<uint32_t>(result) & 0xFFFF] = t;
        }
    }
    if (result == -1) {
        DeleteFiber(t->fiber);
        g->release(t);
    }
    return result;
}

int TaskResume(int32_t task) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    TaskBlock* t = FindTask(g, task);
    if (!t) {
        SetError(g, kTaskErrorTaskNotFound);
        return 0;
    }
    if (t->state == kTaskCreated)
        _readyNow(g, t);
    else if (t->state == kTaskBlockedSuspended)
        t->state = kTaskBlocked;
    return 1;
}

void TaskExit() {
    Globals* g = FindGlobals();
    if (!g || g->current == &g->root) return;
    for (uint32_t i = g->exitHookCount; i-- > 0;) g->exitHooks[i]();
    EnterCriticalSection(&ExecutiveCriticalSection);
    TaskBlock* self = g->current;
    UnbindAll(g, self);
    LeaveReadyQueue(g, self);
    g->taskTable[static_cast<uint32_t>(self->handle) & 0xFFFF] = nullptr;
    self->state = kTaskEnded;
    self->next = g->exited;
    g->exited = self;
    TaskBlock* next = HighestHead(g);
    next->flags |= kTaskFlagReclaim;
    g->exitingFiber = self->fiber;
    g->current = next;
    SwitchToFiber(next->fiber);
    // Never resumed: the next task deletes this fiber.
}

void* TaskGetTaskArg() {
    Globals* g = FindGlobals();
    return g ? g->current->argument : nullptr;
}

int TaskGetPriority() {
    Globals* g = FindGlobals();
    return g ? g->current->priority : 0;
}

int TaskSetPriority(int priority) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    TaskBlock* self = g->current;
    int old = self->priority;
    LeaveReadyQueue(g, self);
    self->priority = static_cast<uint8_t>(priority & 31);
    TaskQueue& q = g->ready[self->priority];
    self->next = q.head;
    q.head = self;
    if (!q.tail) q.tail = self;
    g->readyBitmap |= 1u << self->priority;
    _preempt(g);
    return old;
}

namespace {
void YieldQueue(Globals* g, int priority) {
    TaskQueue& q = g->ready[priority];
    if (!q.head || q.head == q.tail) return;
    TaskBlock* first = QueuePop(q);
    QueueAppend(q, first);
    if (first == g->current) _switchTasks(g, q.head);
}
} // namespace

void TaskYield(int priority) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return;
    if (priority == -1) priority = g->current->priority;
    if (priority < 0 || priority >= kTaskPriorities) return;
    YieldQueue(g, priority);
}

void TaskYieldOtherPriority(int priority) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return;
    TaskBlock* self = g->current;
    if (priority == -1) priority = self->priority;
    if (priority < 0 || priority >= kTaskPriorities) return;
    TaskQueue& own = g->ready[priority];
    if (priority == self->priority && own.head && own.head != own.tail) {
        YieldQueue(g, priority);
        return;
    }
    uint32_t below = g->readyBitmap & ((1u << priority) - 1u);
    if (!below) return;
    TaskBlock* next = g->ready[31 - __builtin_clz(below)].head;
    if (next != self) _switchTasks(g, next);
}
