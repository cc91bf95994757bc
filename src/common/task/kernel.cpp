// Kernel life: the per-thread globals and their process-wide list, start and end of a
// kernel, the kernel mutex, memory functions, hooks and handle numbering.

#include "task_internal.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

CRITICAL_SECTION ExecutiveCriticalSection;
_NODE_TASK_GLOBALS* NodeTaskGlobals = nullptr;

namespace taskdetail {

std::atomic<uint32_t> gListGeneration{1};
__thread Globals* tlsGlobals = nullptr;
__thread uint32_t tlsGeneration = 0;

Globals* LookUpGlobals() {
    uint32_t generation = gListGeneration.load(std::memory_order_acquire);
    uint32_t self = TaskOsThreadId();
    Globals* found = nullptr;
    EnterCriticalSection(&ExecutiveCriticalSection);
    for (Globals* g = NodeTaskGlobals; g; g = g->nextGlobals) {
        if (g->osThreadId == self) {
            found = g;
            break;
        }
    }
    LeaveCriticalSection(&ExecutiveCriticalSection);
    tlsGlobals = found;
    tlsGeneration = generation;
    return found;
}

namespace {

void ListChanged() { gListGeneration.fetch_add(1, std::memory_order_acq_rel); }

void* DefaultAlignedAlloc(size_t alignment, size_t size) {
    void* p = nullptr;
    if (alignment < sizeof(void*)) alignment = sizeof(void*);
    return posix_memalign(&p, alignment, size) == 0 ? p : nullptr;
}

} // namespace

void RunPendingWork(Globals* g) {
    if (!(g->current->flags & kTaskFlagReclaim)) return;
    EnterCriticalSection(&ExecutiveCriticalSection);
    TaskBlock* list = g->exited;
    g->exited = nullptr;
    g->current->flags = static_cast<uint8_t>((g->current->flags & ~kTaskFlagReclaim) | kTaskFlagReclaiming);
    LeaveCriticalSection(&ExecutiveCriticalSection);
    while (list) {
        TaskBlock* next = list->next;
        g->release(list);
        list = next;
    }
    g->current->flags &= static_cast<uint8_t>(~kTaskFlagReclaiming);
}

SemaRecord* FindSema(Globals* g, int32_t handle) {
    uint32_t index = static_cast<uint32_t>(handle) & 0xFFFF;
    if (index >= static_cast<uint32_t>(kTaskSemaTableSize)) return nullptr;
    SemaRecord* s = g->semaTable[index];
    return s && s->handle == handle ? s : nullptr;
}

PortRecord* FindPort(Globals* g, int32_t handle) {
    handle = LocalPortHandle(g, handle);
    uint32_t index = static_cast<uint32_t>(handle) & 0xFFFF;
    if (index >= static_cast<uint32_t>(kTaskPortTableSize)) return nullptr;
    PortRecord* p = g->portTable[index];
    return p && p->handle == handle ? p : nullptr;
}

SemaRecord* FindSemaOrFail(Globals* g, int32_t handle) {
    SemaRecord* s = FindSema(g, handle);
    if (!s) SetError(g, kTaskErrorSemaNotFound);
    return s;
}

PortRecord* FindPortOrFail(Globals* g, int32_t handle) {
    PortRecord* p = FindPort(g, handle);
    if (!p) SetError(g, kTaskErrorPortNotFound);
    return p;
}

bool ClaimEventBit(Globals* g, TaskBlock* t, int bit) {
    if (bit < 0 || bit > 31 || !(t->freeEvents & (1u << bit))) {
        SetError(g, kTaskErrorEventInUse);
        return false;
    }
    t->freeEvents &= ~(1u << bit);
    return true;
}

TaskBlock* FindTask(Globals* g, int32_t handle) {
    uint32_t index = static_cast<uint32_t>(handle) & 0xFFFF;
    if (index >= static_cast<uint32_t>(kTaskTaskTableSize)) return nullptr;
    TaskBlock* t = g->taskTable[index];
    return t && t->handle == handle ? t : nullptr;
}

int32_t LocalPortHandle(Globals* g, int32_t handle) {
    uint32_t top = static_cast<uint32_t>(handle) >> 24;
    if (g->ownNode >= 0 && handle != -1 && top == (static_cast<uint32_t>(g->ownNode) & 0xFF))
        return static_cast<int32_t>((kTaskTypePort << 24) | (static_cast<uint32_t>(handle) & 0xFFFFFF));
    return handle;
}

int32_t ChooseHandle(Globals* g, const TaskResourceTable& table, uint32_t type, int32_t wanted) {
    if (wanted == -1) {
        for (uint32_t i = table.size; i-- > 0;) {
            if (!table.table[i]) {
                --g->tagCounter;
                uint32_t tag = static_cast<uint32_t>(g->tagCounter) & 0xFF;
                return static_cast<int32_t>((type << 24) | (tag << 16) | i);
            }
        }
        SetError(g, kTaskErrorTableFull);
        return -1;
    }
    uint32_t w = static_cast<uint32_t>(wanted);
    uint32_t index = w & 0xFFFF;
    if ((w >> 24) != type || index >= table.size || table.table[index]) {
        SetError(g, kTaskErrorBadHandle);
        return -1;
    }
    return wanted;
}

} // namespace taskdetail

using namespace taskdetail;

// ---- kernel life ------------------------------------------------------------------------

uint32_t TaskOsThreadId() { return GetCurrentThreadId(); }

int TaskInitTasking() {
    if (FindGlobals()) return 0;
    Globals* g = static_cast<Globals*>(std::calloc(1, sizeof(Globals)));
    if (!g) return 0;
    g->ownNode = -1;
    g->memLockSema = -1;
    g->timerLockSema = -1;
    g->allocate = std::malloc;
    g->allocateAligned = DefaultAlignedAlloc;
    g->release = std::free;
    g->ports = {reinterpret_cast<void**>(g->portTable), kTaskPortTableSize};
    g->semas = {reinterpret_cast<void**>(g->semaTable), kTaskSemaTableSize};
    g->tasks = {reinterpret_cast<void**>(g->taskTable), kTaskTaskTableSize};
    for (int i = 0; i < kTaskRoutes; ++i) g->routes[i] = -1;
    for (size_t i = kTaskPoolBlocks; i-- > 0;) {
        MsgHeader* h = reinterpret_cast<MsgHeader*>(g->pool[i]);
        h->next = g->poolFree;
        g->poolFree = h;
    }
    TaskBlock* root = &g->root;
    root->handle = -1;
    root->priority = 0;
    root->state = kTaskReady;
    root->freeEvents = 0xFFFFFFFFu;
    root->globals = g;
    root->fiber = GetCurrentFiber();
    if (!root->fiber) {
        root->fiber = ConvertThreadToFiber(root);
        g->convertedThread = true;
        if (!root->fiber) {
            std::free(g);
            return 0;
        }
    }
    QueueAppend(g->ready[0], root);
    g->readyBitmap = 1;
    g->current = root;
    g->osThreadId = TaskOsThreadId();

    EnterCriticalSection(&ExecutiveCriticalSection);
    g->nextGlobals = NodeTaskGlobals;
    if (NodeTaskGlobals) NodeTaskGlobals->previous = g;
    NodeTaskGlobals = g;
    ListChanged();
    LeaveCriticalSection(&ExecutiveCriticalSection);
    return 1;
}

int TaskExitTasking() {
    Globals* g = FindGlobals();
    if (!g || g->current != &g->root) return 0;
    EnterCriticalSection(&ExecutiveCriticalSection);
    // Tasks first: their fibers go, and no task is left to wake.
    for (int i = 0; i < kTaskTaskTableSize; ++i) {
        TaskBlock* t = g->taskTable[i];
        if (!t) continue;
        g->taskTable[i] = nullptr;
        DeleteFiber(t->fiber);
        g->release(t);
    }
    while (TaskBlock* t = g->exited) {
        g->exited = t->next;
        g->release(t);
    }
    if (g->exitingFiber) {
        DeleteFiber(g->exitingFiber);
        g->exitingFiber = nullptr;
    }
    for (int i = 0; i < kTaskPortTableSize; ++i) {
        PortRecord* p = g->portTable[i];
        if (!p) continue;
        g->portTable[i] = nullptr;
        // Allocated messages of this kernel still queued are freed with the port.
        for (MsgHeader* h = p->head; h;) {
            MsgHeader* next = h->next;
            if (h->magic == kTaskMsgMagic && h->kind == kTaskMsgAllocated &&
                h->sourceNode == static_cast<int8_t>(g->ownNode & 0xFF)) {
                h->magic = 0;
                g->release(h);
            }
            h = next;
        }
        g->release(p);
    }
    // The memory-lock semaphore goes last: the free function may still take it.
    int32_t memLock = g->memLockSema;
    for (int i = 0; i < kTaskSemaTableSize; ++i) {
        SemaRecord* s = g->semaTable[i];
        if (!s || s->handle == memLock) continue;
        g->semaTable[i] = nullptr;
        g->release(s);
    }
    if (SemaRecord* s = FindSema(g, memLock)) {
        g->semaTable[static_cast<uint32_t>(memLock) & 0xFFFF] = nullptr;
        g->memLockSema = -1;
        g->release(s);
    }
    if (g->previous)
        g->previous->nextGlobals = g->nextGlobals;
    else
        NodeTaskGlobals = g->nextGlobals;
    if (g->nextGlobals) g->nextGlobals->previous = g->previous;
    ListChanged();
    LeaveCriticalSection(&ExecutiveCriticalSection);
    if (g->convertedThread) ConvertFiberToThread();
    std::free(g);
    return 1;
}

_NODE_TASK_GLOBALS* TaskGetNodeTaskGlobals() { return FindGlobals(); }

_NODE_TASK_GLOBALS* TaskSetNodeTaskGlobals() { return LookUpGlobals(); }

int TaskSetNewThread(uint32_t threadId) {
    Globals* g = FindGlobals();
    if (!g) return 0;
    EnterCriticalSection(&ExecutiveCriticalSection);
    g->osThreadId = threadId;
    ListChanged();
    LeaveCriticalSection(&ExecutiveCriticalSection);
    return 1;
}

int TaskTaskingState(int) { return FindGlobals() ? 1 : 0; }

void TaskBeginMutex() { EnterCriticalSection(&ExecutiveCriticalSection); }

void TaskEndMutex() { LeaveCriticalSection(&ExecutiveCriticalSection); }

int TaskGetError() {
    Globals* g = FindGlobals();
    return g ? g->current->error : 0;
}

// ---- memory -----------------------------------------------------------------------------

int TaskInstallMalloc(TaskAllocFunction allocate, TaskAlignedAllocFunction allocateAligned,
                      TaskFreeFunction release) {
    Globals* g = FindGlobals();
    if (!g) return 0;
    if (g->memLockSema == -1) {
        int32_t s = TaskOpenSema(-1, 1);
        if (s == -1) return 0;
        g->memLockSema = s;
    }
    TaskBeginMutex();
    if (allocate) g->allocate = allocate;
    if (allocateAligned) g->allocateAligned = allocateAligned;
    if (release) g->release = release;
    TaskEndMutex();
    return 1;
}

void TaskMemLock() {
    Globals* g = FindGlobals();
    if (g && TaskValidateSema(g->memLockSema)) TaskWaitSema(g->memLockSema);
}

void TaskMemUnlock() {
    Globals* g = FindGlobals();
    if (g && TaskValidateSema(g->memLockSema)) TaskSignalSema(g->memLockSema);
}

// ---- hooks ------------------------------------------------------------------------------

int TaskAddStartHook(TaskHook hook) {
    KernelCall k;
    Globals* g = k.g();
    if (!g || !hook || g->startHookCount >= static_cast<uint32_t>(kTaskHooks)) return 0;
    g->startHooks[g->startHookCount++] = hook;
    return 1;
}

int TaskAddExitHook(TaskHook hook) {
    KernelCall k;
    Globals* g = k.g();
    if (!g || !hook || g->exitHookCount >= static_cast<uint32_t>(kTaskHooks)) return 0;
    g->exitHooks[g->exitHookCount++] = hook;
    return 1;
}
