// Threads, thread priorities and sleep.
#pragma once

#include "w32base.h"

using ThreadStartRoutine = DWORD (*)(void* parameter);

// Starts a thread running start(parameter).  The handle is signalled when the thread has
// ended; GetExitCodeThread gives the routine's result.  threadId (may be null) receives
// the thread's id.
HANDLE CreateThread(ThreadStartRoutine start, void* parameter, DWORD* threadId);

// Pseudo handle naming the calling thread; it needs no CloseHandle.
HANDLE GetCurrentThread();

// The calling thread's id (the system's thread id; no system call after the first).
DWORD GetCurrentThreadId();

// STILL_ACTIVE while the thread runs.
constexpr DWORD STILL_ACTIVE = 259;
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// Thread priorities, -15 (idle) .. 15 (time critical), 0 normal.  The value is recorded
// per thread and returned by GetThreadPriority; it is passed on to the system scheduler
// only where the process is allowed to undo it later (a lowered priority that could not
// be raised again is never applied).
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Suspends the calling thread for ms milliseconds; 0 gives up the rest of its time slice.
void Sleep(DWORD ms);

// Called on a thread that is about to block in a wait of this layer that is not satisfied
// at once, or in a Sleep of 1 ms or more.  The library's wiring points it at the board's
// accessor layer, whose free-running machine lets its time flow while the host waits.
// Null (the default): nothing is called.  The hook must not wait itself.
using BlockingHook = void (*)();
void SetBlockingHook(BlockingHook hook);
