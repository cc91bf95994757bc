// Inside the kernel-service layer: the handle table and the waitable objects behind it.
// Not for callers of the layer.
#pragma once

#include "w32base.h"
#include "w32sync.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace w32detail {

enum class Kind : uint8_t { Event, Semaphore, Mutex, Thread };

// One thread waiting in WaitForSingleObject or WaitForMultipleObjects.
struct Waiter {
    std::condition_variable wake;
};

// Priority record of one thread (see SetThreadPriority).
struct ThreadInfo {
    std::atomic<int> priority{0};   // as recorded
    int tid = 0;        // system thread id, 0 until known
};

// Cross-process mutex: lives in shared memory and is never unmapped, so that the
// system's list of robust mutexes held by a thread never points at freed memory.
struct SharedMutexBlock {
    uint32_t magic;
    uint32_t layout;
    pthread_mutex_t mutex;
    int32_t holder;     // process that took the mutex last (0 never, -1 being recovered)
};

struct Object {
    explicit Object(Kind k) : kind(k) {}
    Kind kind;
    int refs = 1;                   // open handles plus users in flight
    std::vector<Waiter*> waiters;   // threads waiting for this object
    // Event
    bool manualReset = false;
    bool set = false;
    // Semaphore
    LONG count = 0;
    LONG maximum = 0;
    // Mutex
    SharedMutexBlock* mutex = nullptr;
    // Thread
    bool ended = false;
    DWORD exitCode = 0;
    ThreadInfo info;
};

// The lock that guards the handle table and the state of every event, semaphore and
// thread object.
std::mutex& Lock();

// Enters a new object into the handle table (the caller's reference becomes the handle's).
// Null with ERROR_NOT_ENOUGH_MEMORY when the table is full.
HANDLE AddHandle(Object* object);

// The object behind a handle with one more reference, or null (last error
// ERROR_INVALID_HANDLE).  The lock must be held.
Object* LookupLocked(HANDLE handle);

// Drops one reference; the object is freed with its last.  The lock must be held.
void ReleaseLocked(Object* object);

// Wakes every thread waiting for the object.  The lock must be held.
void NotifyLocked(Object* object);

// The calling thread's priority record.
ThreadInfo* CurrentThreadInfo();

} // namespace w32detail
