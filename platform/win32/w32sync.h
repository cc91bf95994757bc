// Critical sections, events, semaphores, mutexes and waits.
#pragma once

#include "w32base.h"

#include <pthread.h>

// ---- critical sections ----------------------------------------------------------------
//
// Recursive and owned by the OS thread, not by a fiber: a section entered by one fiber
// may be left by another fiber of the same thread.  A section defined at namespace
// scope exists from program load on (constant initialisation), before any constructor
// runs, so it can be entered at any time.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

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
// returns WAIT_ABANDONED.  Names may not be empty nor hold '/'.
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
