// Semaphores, event bits and their bindings.

#include "task_internal.h"

#include <cstring>

namespace taskdetail {

void RaiseEvent(Globals* g, TaskBlock* owner, int bit, bool* preempt) {
    owner->pendingEvents |= 1u << bit;
    if ((owner->state == kTaskBlocked || owner->state == kTaskBlockedSuspended) &&
        owner->waitKind == kTaskWaitEvents && (owner->waitedEvents & (1u << bit)))
        WakeWith(g, owner, static_cast<intptr_t>(owner->pendingEvents), 0, preempt);
}

namespace {
// Takes a bound resource off its owner; an owner waiting for its bit wakes with 0.
template <typename Record>
void Unbind(Globals* g, Record* r, Record*& list, uint8_t error, bool* preempt) {
    TaskBlock* owner = r->boundTask;
    for (Record** link = &list; *link; link = &(*link)->next) {
        if (*link == r) {
            *link = r->next;
            break;
        }
    }
    r->next = nullptr;
    uint32_t bit = 1u << r->boundBit;
    bool waiting = (owner->state == kTaskBlocked || owner->state == kTaskBlockedSuspended) &&
                   owner->waitKind == kTaskWaitEvents && (owner->waitedEvents & bit);
    owner->freeEvents |= bit;
    owner->pendingEvents &= ~bit;
    r->boundTask = nullptr;
    r->boundBit = 0;
    if (waiting) WakeWith(g, owner, 0, error, preempt);
}
} // namespace

void UnbindSema(Globals* g, SemaRecord* s, uint8_t error, bool* preempt) {
    if (s->boundTask) Unbind(g, s, s->boundTask->boundSemas, error, preempt);
}

void UnbindPort(Globals* g, PortRecord* p, uint8_t error, bool* preempt) {
    if (p->boundTask) Unbind(g, p, p->boundTask->boundPorts, error, preempt);
}

} // namespace taskdetail

using namespace taskdetail;

int32_t TaskOpenSema(int32_t handle, int32_t initialCount) {
    Globals* g = FindGlobals();
    if (!g) return -1;
    SemaRecord* s = static_cast<SemaRecord*>(g->allocate(sizeof(SemaRecord)));
    KernelCall k;
    if (!s) {
        SetError(g, kTaskErrorNoMemory);
        return -1;
    }
    int32_t h = ChooseHandle(g, g->semas, kTaskTypeSema, handle);
    if (h == -1) {
        g->release(s);
        return -1;
    }
    std::memset(s, 0, sizeof *s);
    s->handle = h;
    s->count = initialCount < 0 ? 0 : initialCount;
    g->semaTable[static_cast<uint32_t>(h) & 0xFFFF] = s;
    return h;
}

int TaskCloseSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return 0;
    g->semaTable[static_cast<uint32_t>(sema) & 0xFFFF] = nullptr;
    bool preempt = false;
    while (TaskBlock* t = QueuePop(s->waiters)) WakeWith(g, t, 0, kTaskErrorSemaClosed, &preempt);
    UnbindSema(g, s, kTaskErrorSemaClosed, &preempt);
    if (g->memLockSema == sema) g->memLockSema = -1;
    if (g->timerLockSema == sema) g->timerLockSema = -1;
    g->release(s);
    if (preempt) _preempt(g);
    return 1;
}

int TaskWaitSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return 0;
    if (s->count > 0) {
        if (--s->count == 0 && s->boundTask) ClearEvent(s->boundTask, s->boundBit);
        return 1;
    }
    TaskBlock* self = g->current;
    if (self == &g->root) {
        SetError(g, kTaskErrorRootBlocks);
        return 0;
    }
    self->waitKind = kTaskWaitSema;
    self->waitObject = s;
    self->waitResult = 0;
    _blockTask(g, &s->waiters);
    return static_cast<int>(self->waitResult);
}

int TaskSignalSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return 0;
    if (TaskBlock* t = QueuePop(s->waiters)) {
        t->waitResult = 1;
        _readyNow(g, t);
        return 1;
    }
    if (s->count++ == 0 && s->boundTask) {
        bool preempt = false;
        RaiseEvent(g, s->boundTask, s->boundBit, &preempt);
        if (preempt) _preempt(g);
    }
    return 1;
}

int TaskCheckSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return 0;
    if (s->count <= 0) return 0;
    if (--s->count == 0 && s->boundTask) ClearEvent(s->boundTask, s->boundBit);
    return 1;
}

int32_t TaskResetSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return -1;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return -1;
    int32_t old = s->count;
    s->count = 0;
    if (s->boundTask) ClearEvent(s->boundTask, s->boundBit);
    return old;
}

int TaskValidateSema(int32_t sema) {
    KernelCall k;
    Globals* g = k.g();
    return g && FindSema(g, sema) ? 1 : 0;
}

int TaskBindSema(int32_t sema, int bit) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    SemaRecord* s = FindSemaOrFail(g, sema);
    if (!s) return 0;
    if (s->boundTask) {
        SetError(g, kTaskErrorSemaBound);
        return 0;
    }
    TaskBlock* self = g->current;
    if (!ClaimEventBit(g, self, bit)) return 0;
    s->boundTask = self;
    s->boundBit = bit;
    s->next = self->boundSemas;
    self->boundSemas = s;
    if (s->count > 0)
        self->pendingEvents |= 1u << bit;
    else
        self->pendingEvents &= ~(1u << bit);
    return 1;
}

uint32_t TaskWaitEvents(uint32_t mask) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    TaskBlock* self = g->current;
    if (mask == 0 || (mask & self->freeEvents)) {   // nothing bound to wait for: never blocks
        SetError(g, kTaskErrorEventNotBound);
        return 0;
    }
    if ((self->pendingEvents & mask) || self == &g->root) return self->pendingEvents;
    self->waitKind = kTaskWaitEvents;
    self->waitedEvents = mask;
    self->waitResult = 0;
    _blockTask(g, nullptr);
    self->waitedEvents = 0;
    return static_cast<uint32_t>(self->waitResult);
}
