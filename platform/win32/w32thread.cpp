// Threads, thread ids, thread priorities, sleep and the per-thread last error.

#include "w32object.h"
#include "w32thread.h"

#include <cerrno>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

thread_local DWORD tlsLastError = 0;

std::once_flag gForkHandlerOnce;

// A forked child's thread has another id than the parent's thread that forked it.
void ForgetThreadIdInChild() { w32detail::tlsThreadId = 0; }

// Priority record: a thread started by CreateThread uses its thread object's record,
// any other thread one of its own.
thread_local w32detail::ThreadInfo* tlsInfo = nullptr;
thread_local w32detail::ThreadInfo tlsOwnInfo;

HANDLE const kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

} // namespace

namespace w32detail {
__thread DWORD tlsThreadId = 0;   // fetched once per thread
} // namespace w32detail

DWORD GetLastError() { return tlsLastError; }
void SetLastError(DWORD code) { tlsLastError = code; }

DWORD GetCurrentThreadId() {
    using w32detail::tlsThreadId;
    if (tlsThreadId == 0) {
        std::call_once(gForkHandlerOnce, [] { pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild); });
        tlsThreadId = static_cast<DWORD>(syscall(SYS_gettid));
    }
    return tlsThreadId;
}

HANDLE GetCurrentThread() { return kCurrentThreadPseudo; }

namespace w32detail {
ThreadInfo* CurrentThreadInfo() {
    ThreadInfo* info = tlsInfo ? tlsInfo : &tlsOwnInfo;
    if (info->tid == 0) info->tid = static_cast<int>(GetCurrentThreadId());
    return info;
}
} // namespace w32detail

using namespace w32detail;

// ---- threads ----------------------------------------------------------------------------

namespace {

struct StartBlock {
    Object* object;
    ThreadStartRoutine start;
    void* parameter;
    sem_t started;
    int startNice;   // the scheduling weight the thread starts with, to be dropped; or kKeepNice
};

constexpr int kKeepNice = 100;

void* ThreadMain(void* p) {
    StartBlock* block = static_cast<StartBlock*>(p);
    Object* object = block->object;
    ThreadStartRoutine start = block->start;
    void* parameter = block->parameter;
    // Whatever weight the thread took from its creator, it runs at the normal priority of a
    // new thread.
    if (block->startNice != kKeepNice) setpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()), block->startNice);
    {
        std::lock_guard<std::mutex> guard(object->lock);
        tlsInfo = &object->info;
        object->info.tid = static_cast<int>(GetCurrentThreadId());
    }
    sem_post(&block->started);   // block is gone after this
    DWORD code = start(parameter);
    {
        std::unique_lock<std::mutex> held(object->lock);
        tlsInfo = nullptr;
        object->ended = true;
        object->exitCode = code;
        NotifyAndUnlock(object, held);
    }
    Release(object);      // the thread's own reference
    return nullptr;
}

// Raises the calling thread to the time-critical scheduling weight when the process may
// and it runs below it; returns the nice value to restore, or kKeepNice when nothing changed.
int LendTimeCriticalNice();
// The nice value of a thread at the normal priority, or kKeepNice when the process passes
// no priorities on.
int NormalNice();

} // namespace

HANDLE CreateThread(ThreadStartRoutine start, void* parameter, DWORD* threadId) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Object* object = new Object(Kind::Thread);
    object->refs = 2;   // the handle and the running thread
    HANDLE h = AddHandle(object);
    if (!h) return nullptr;
    StartBlock block{object, start, parameter, {}, kKeepNice};
    sem_init(&block.started, 0, 0);
    // A new thread inherits its creator's scheduling weight.  The creator lends it the
    // time-critical one for the creation, so that on a busy system the thread starts at
    // once instead of queueing behind every other runnable program; it drops to the
    // normal priority as its first act.
    const int creatorNice = LendTimeCriticalNice();
    block.startNice = NormalNice();
    pthread_t thread;
    const int created = pthread_create(&thread, nullptr, ThreadMain, &block);
    if (creatorNice != kKeepNice) setpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()), creatorNice);
    if (created != 0) {
        sem_destroy(&block.started);
        {
            std::lock_guard<std::mutex> guard(object->lock);
            object->ended = true;
        }
        Release(object);
        CloseHandle(h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pthread_detach(thread);
    while (sem_wait(&block.started) != 0 && errno == EINTR) {
    }
    sem_destroy(&block.started);
    if (threadId) {
        std::lock_guard<std::mutex> guard(object->lock);
        *threadId = static_cast<DWORD>(object->info.tid);
    }
    return h;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (thread == kCurrentThreadPseudo) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    Object* o = Lookup(thread);
    if (!o) return FALSE;
    BOOL ok = FALSE;
    if (o->kind == Kind::Thread) {
        std::lock_guard<std::mutex> guard(o->lock);
        *exitCode = o->ended ? o->exitCode : STILL_ACTIVE;
        ok = TRUE;
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    Release(o);
    return ok;
}

// ---- priorities -------------------------------------------------------------------------

namespace {

// Whether the process may raise a thread's scheduling priority (lower its nice value).
// Only then is any priority passed on: a lowered priority must be undoable.
std::once_flag gProbeOnce;
bool gCanRaise = false;
int gBaseNice = 0;

void ProbeScheduler() {
    int tid = static_cast<int>(GetCurrentThreadId());
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (nice == -1 && errno != 0) return;
    gBaseNice = nice;
    if (nice <= -20) {
        gCanRaise = true;
        return;
    }
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice - 1) == 0) {
        gCanRaise = true;
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    }
}

int NiceFor(int priority) {
    int delta = priority >= 3 ? -15 : priority <= -3 ? 19 : -5 * priority;
    int nice = gBaseNice + delta;
    return nice < -20 ? -20 : nice > 19 ? 19 : nice;
}

int NormalNice() {
    std::call_once(gProbeOnce, ProbeScheduler);
    return gCanRaise ? NiceFor(THREAD_PRIORITY_NORMAL) : kKeepNice;
}

int LendTimeCriticalNice() {
    std::call_once(gProbeOnce, ProbeScheduler);
    if (!gCanRaise) return kKeepNice;
    const id_t tid = static_cast<id_t>(GetCurrentThreadId());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0) return kKeepNice;
    const int lent = NiceFor(THREAD_PRIORITY_TIME_CRITICAL);
    if (nice <= lent || setpriority(PRIO_PROCESS, tid, lent) != 0) return kKeepNice;
    return nice;
}

} // namespace

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (priority < THREAD_PRIORITY_IDLE || priority > THREAD_PRIORITY_TIME_CRITICAL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::call_once(gProbeOnce, ProbeScheduler);
    // A priority the thread already has costs no system call: callers raise and restore
    // around every command they post.
    int tid;
    if (thread == kCurrentThreadPseudo) {
        ThreadInfo* info = CurrentThreadInfo();
        if (info->priority == priority) return TRUE;
        info->priority = priority;
        tid = info->tid;
    } else {
        Object* o = Lookup(thread);
        if (!o) return FALSE;
        if (o->kind != Kind::Thread) {
            Release(o);
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        {
            std::lock_guard<std::mutex> guard(o->lock);
            const bool same = o->info.priority == priority;
            o->info.priority = priority;
            tid = o->ended || same ? 0 : o->info.tid;
        }
        Release(o);
    }
    if (gCanRaise && tid != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority));
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    if (thread == kCurrentThreadPseudo) return CurrentThreadInfo()->priority;
    Object* o = Lookup(thread);
    if (!o) return THREAD_PRIORITY_ERROR_RETURN;
    int priority = THREAD_PRIORITY_ERROR_RETURN;
    if (o->kind == Kind::Thread)
        priority = o->info.priority;
    else
        SetLastError(ERROR_INVALID_HANDLE);
    Release(o);
    return priority;
}

// ---- sleep ------------------------------------------------------------------------------

namespace {
std::atomic<BlockingHook> g_blockingHook{nullptr};
} // namespace

void SetBlockingHook(BlockingHook hook) { g_blockingHook.store(hook, std::memory_order_release); }

void w32detail::NotifyBlocking() {
    if (const BlockingHook hook = g_blockingHook.load(std::memory_order_acquire)) hook();
}

void Sleep(DWORD ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    w32detail::NotifyBlocking();
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
