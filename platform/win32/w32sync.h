// Critical sections, events, semaphores, mutexes and waits.
#pragma once

#include "w32base.h"

#include <atomic>

// ---- critical sections ----------------------------------------------------------------
//
// Recursive and owned by the OS thread, not by a fiber: a section entered by one fiber
// may be left by another fiber of the same thread.  A section defined at namespace
// scope exists from program load on (constant initialisation), before any constructor
// runs, so it can be entered at any time.  Entering a free section and leaving it cost
// one atomic operation each and no system call; a thread that finds it taken sleeps
// until it is left.
struct CRITICAL_SECTION {
    std::atomic<uint32_t> lock{0};      // 0 free, 1 taken, 2 taken and waited for
    std::atomic<uint32_t> owner{0};     // thread id of the holder
    uint32_t recursion = 0;             // entries of the holder
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
inline void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
inline void LeaveCriticalSection(CRITICAL_SECTION* section);

namespace w32detail {
extern __thread DWORD tlsThreadId;              // the calling thread's id once fetched, else 0
DWORD CurrentThreadIdSlow();
void EnterCriticalSectionContended(CRITICAL_SECTION* section);
void WakeCriticalSectionWaiter(CRITICAL_SECTION* section);
inline DWORD Self() {
    DWORD id = tlsThreadId;
    return id ? id : CurrentThreadIdSlow();
}
} // namespace w32detail

// The uncontended paths are inline: the kernel enters and leaves its section on every call.
inline void EnterCriticalSection(CRITICAL_SECTION* section) {
    DWORD self = w32detail::Self();
    if (section->owner.load(std::memory_order_relaxed) == self) {   // only the holder finds its id
        ++section->recursion;
        return;
    }
    uint32_t expected = 0;
    if (!section->lock.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
        w32detail::EnterCriticalSectionContended(section);
    section->owner.store(self, std::memory_order_relaxed);
    section->recursion = 1;
}

// Leaving a section the thread does not hold does nothing.
inline void LeaveCriticalSection(CRITICAL_SECTION* section) {
    if (section->owner.load(std::memory_order_relaxed) != w32detail::Self() || section->recursion == 0) return;
    if (--section->recursion != 0) return;
    section->owner.store(0, std::memory_order_relaxed);
    if (section->lock.exchange(0, std::memory_order_release) == 2) w32detail::WakeCriticalSectionWaiter(section);
}

// ---- events -----------------------------------------------------------------------------
//
// A manual-reset event stays set until ResetEvent and releases every waiter; an
// auto-reset event releases one waiter and is reset by that wait.
HANDLE CreateEventA(BOOL manualReset, BOOL initiallySet);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// ---- semaphores -------------------------------------------------------------------------
//
// Counting semaphore with a maximum count; a wait takes one count.  Null with
// ERROR_INVALID_PARAMETER unless 0 <= initial <= maximum and maximum > 0.
HANDLE CreateSemaphoreA(LONG initialCount, LONG maximumCount);
// Adds count (> 0) to the semaphore; refused with ERROR_TOO_MANY_POSTS when the sum
// would pass the maximum.  previousCount (may be null) receives the count before.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previousCount);

// ---- mutexes ----------------------------------------------------------------------------
//
// Recursive and owned by the thread that waited for it.  A named mutex is one object for
// every process of the user that names it: creating it again opens the existing one and
// leaves ERROR_ALREADY_EXISTS as the last error (with a valid handle).  When a holder
// ends (thread or whole process) without releasing it, the next wait obtains it and
// returns WAIT_ABANDONED.  Every mutex is named (the library uses no other kind): a null
// or empty name, one holding '/', or one too long gives null with ERROR_INVALID_PARAMETER.
// The initial ownership is taken only by the call that creates the mutex.
HANDLE CreateMutexA(BOOL initialOwner, const char* name);
BOOL ReleaseMutex(HANDLE mutex);

// ---- waits ------------------------------------------------------------------------------
//
// Waits until the object is signalled: an event set, a semaphore count available, a
// mutex free or owned by the caller, a thread ended.  WAIT_OBJECT_0, WAIT_ABANDONED (a
// mutex whose holder died), WAIT_TIMEOUT after timeoutMs milliseconds (INFINITE: no
// limit; 0: test only), WAIT_FAILED with the last error for a bad handle.
DWORD WaitForSingleObject(HANDLE object, DWORD timeoutMs);

// Waits for any (WAIT_OBJECT_0 + index of the first signalled) or all of 1..64 events,
// semaphores and threads; mutexes are refused here (ERROR_NOT_SUPPORTED).  With waitAll
// every object is taken together or none.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD timeoutMs);
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
