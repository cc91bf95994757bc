// The delta list of tick timers.

#include "timer.h"

#include "task.h"

namespace {

using Globals = _NODE_TASK_GLOBALS;

// Holds the timer-list lock of the calling thread's kernel for a scope.
class TimerLock {
public:
    TimerLock() : g_(TaskGetNodeTaskGlobals()) {
        if (g_ && g_->timerClock && TaskWaitSema(g_->timerLockSema)) held_ = true;
    }
    ~TimerLock() {
        if (held_) TaskSignalSema(g_->timerLockSema);
    }
    TimerLock(const TimerLock&) = delete;
    TimerLock& operator=(const TimerLock&) = delete;
    Globals* g() const { return held_ ? g_ : nullptr; }

private:
    Globals* g_;
    bool held_ = false;
};

void Unlink(TimerRecord* t) {
    t->previous->next = t->next;
    t->next->previous = t->previous;
    t->next = t->previous = nullptr;
}

void LinkAfter(TimerRecord* at, TimerRecord* t) {
    t->previous = at;
    t->next = at->next;
    at->next->previous = t;
    at->next = t;
}

// One of the kernel's timer records that can carry a timer (not the clock or end record).
bool IsTimer(Globals* g, TimerRecord* t) {
    return t && t >= &g->timers[2] && t < &g->timers[kTimerRecords] &&
           (reinterpret_cast<uintptr_t>(t) - reinterpret_cast<uintptr_t>(&g->timers[2])) % sizeof(TimerRecord) == 0;
}

// Takes a running timer off the list, leaving its remaining delta with its successor.
void TakeOff(Globals* g, TimerRecord* t) {
    if (t->state != kTimerRunning) return;
    if (t->next != g->timerEnd) t->next->delta += t->delta;
    Unlink(t);
    t->state = kTimerUnlinked;
}

void Signal(int32_t sema) {
    if (sema != -1) TaskSignalSema(sema);
}

} // namespace

void _insertTimer(TimerRecord* timer, int32_t delta) {
    Globals* g = TaskGetNodeTaskGlobals();
    TimerRecord* at = g->timerClock;
    int32_t left = delta;
    while (at->next != g->timerEnd && left - at->next->delta >= 0) {
        left -= at->next->delta;
        at = at->next;
    }
    LinkAfter(at, timer);
    timer->delta = left;
    timer->state = kTimerRunning;
    if (timer->next != g->timerEnd) timer->next->delta -= left;
}

int TimerInit(int32_t startTick) {
    Globals* g = TaskGetNodeTaskGlobals();
    if (!g) return 0;
    if (g->timerLockSema != -1) TaskCloseSema(g->timerLockSema);
    g->timerLockSema = -1;
    g->timerClock = nullptr;
    int32_t lock = TaskOpenSema(-1, 1);
    if (lock == -1) return 0;
    TimerRecord* clock = &g->timers[0];
    TimerRecord* end = &g->timers[1];
    // clock -> (running timers) -> end -> free records -> clock
    for (int i = 0; i < kTimerRecords; ++i) {
        TimerRecord* t = &g->timers[i];
        TimerRecord* next = i == 0 ? end : i == 1 ? &g->timers[2] : i + 1 < kTimerRecords ? &g->timers[i + 1] : clock;
        t->next = next;
        next->previous = t;
        t->delta = 0;
        t->period = 0;
        t->sema = -1;
        t->state = kTimerFree;
    }
    clock->delta = startTick;
    clock->state = kTimerClock;
    end->delta = 0x7FFFFFFF;
    end->state = kTimerEnd;
    g->timerEnd = end;
    g->timerLockSema = lock;
    g->timerClock = clock;
    return 1;
}

int TimerAddTicks(int32_t n) {
    if (n < 0) return 0;
    TimerLock lock;
    Globals* g = lock.g();
    if (!g) return 0;
    TimerRecord* clock = g->timerClock;
    TimerRecord* end = g->timerEnd;
    clock->delta += n;

    // Walk the running timers; each expired one leaves with its time left (<= 0), and the
    // first one still running keeps what is left of its delta.
    TimerRecord* due[kTimerRecords];
    int32_t left[kTimerRecords];
    int count = 0;
    int32_t consumed = n;
    while (clock->next != end) {
        TimerRecord* t = clock->next;
        int32_t remaining = t->delta - consumed;
        if (remaining > 0) {
            t->delta = remaining;
            break;
        }
        Unlink(t);
        t->state = kTimerUnlinked;
        due[count] = t;
        left[count] = remaining;
        ++count;
        consumed = -remaining;
    }

    // Put the periodic ones back first, so that the list is whole before any signal lets
    // another task run.
    int signals[kTimerRecords];
    for (int i = 0; i < count; ++i) {
        TimerRecord* t = due[i];
        signals[i] = 1;
        if (t->period == 0) continue;
        int32_t next = left[i] + t->period;
        if (next == 0) {
            signals[i] = 2;
            next += t->period;
        }
        _insertTimer(t, next);
    }
    for (int i = 0; i < count; ++i) {
        int32_t sema = due[i]->sema;
        for (int s = 0; s < signals[i]; ++s) Signal(sema);
    }
    return 1;
}

int TimerDisable(TimerRecord* timer) {
    TimerLock lock;
    Globals* g = lock.g();
    if (!g || !IsTimer(g, timer)) return 0;
    TakeOff(g, timer);
    return 1;
}

int TimerFree(TimerRecord* timer) {
    TimerLock lock;
    Globals* g = lock.g();
    if (!g || !IsTimer(g, timer)) return 0;
    TakeOff(g, timer);
    if (timer->state != kTimerFree) {
        LinkAfter(g->timerEnd, timer);
        timer->state = kTimerFree;
    }
    if (timer->sema != -1) TaskCloseSema(timer->sema);
    timer->sema = -1;
    timer->delta = 0;
    timer->period = 0;
    return 1;
}

int32_t TimerGetClock() {
    Globals* g = TaskGetNodeTaskGlobals();
    return g && g->timerClock ? g->timerClock->delta : 0;
}

TimerRecord* TimerArm(int32_t delta, int32_t period, int32_t sema) {
    if (period < 0) return nullptr;
    if (sema != -1 && !TaskValidateSema(sema)) return nullptr;
    TimerLock lock;
    Globals* g = lock.g();
    if (!g) return nullptr;
    TimerRecord* t = g->timerEnd->next;
    if (t == g->timerClock) return nullptr;   // no free record
    Unlink(t);
    t->period = period;
    t->sema = sema;
    _insertTimer(t, delta);
    return t;
}
