// Inside the kernel-service layer: the handle table and the waitable objects behind it.
// Not for callers of the layer.
#pragma once

#include "w32base.h"
#include "w32sync.h"

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace w32detail {

// Calls the blocking hook (w32thread.h), if one is set.
void NotifyBlocking();

enum class Kind : uint8_t { Event, Semaphore, Mutex, Thread };

// The waiting thread's wake-up word, registered on every object it waits for.  One per
// thread, reused by each of its waits and kept alive by counted references: a thread
// that wakes it holds one until the wake-up is done, so a waiter that has already left
// its wait (or ended) is never touched after it is freed.  A late wake-up from an
// earlier wait only makes the next wait check its objects once more.
struct Waiter {
    std::atomic<uint32_t> woken{0};   // futex word: 1 once woken
    std::atomic<int> refs{1};
    void Wake();
    void Unref() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
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
    int32_t holder;     // process that holds the mutex (0 none, -1 being recovered)
    int32_t thread;     // thread of the holder
    int32_t depth;      // the holder's entries (written by the holder only)
};

// Each object has a lock of its own: threads working on unrelated handles never wait for
// one another.  A thread that holds the lock of one object takes no other lock, except a
// wait for all of several objects, which takes theirs in address order.
struct Object {
    explicit Object(Kind k) : kind(k) {}
    const Kind kind;
    std::atomic<int> refs{1};       // open handles plus users in flight
    std::mutex lock;                // guards everything below
    std::vector<Waiter*> waiters;   // threads waiting for this object
    // Event
    bool manualReset = false;
    bool set = false;
    // Semaphore
    LONG count = 0;
    LONG maximum = 0;
    // Mutex (set at creation, never changed)
    SharedMutexBlock* mutex = nullptr;
    // Thread
    bool ended = false;
    DWORD exitCode = 0;
    ThreadInfo info;
};

// Enters a new object into the handle table (the caller's reference becomes the handle's).
// Null with ERROR_NOT_ENOUGH_MEMORY when the table is full.
HANDLE AddHandle(Object* object);

// The object behind a handle with one more reference, or null (last error
// ERROR_INVALID_HANDLE).
Object* Lookup(HANDLE handle);

// Drops one reference; the object is freed with its last.
void Release(Object* object);

// Wakes every thread waiting for the object after its state changed: `held` holds the
// object's lock and is released before any waiter is woken, so a woken waiter finds the
// lock free.
void NotifyAndUnlock(Object* object, std::unique_lock<std::mutex>& held);

// The calling thread's priority record.
ThreadInfo* CurrentThreadInfo();

} // namespace w32detail
