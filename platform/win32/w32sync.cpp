// Handle table, critical sections, events, semaphores, named mutexes and waits.

#include "w32object.h"
#include "w32sync.h"
#include "w32thread.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <signal.h>
#include <unistd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace w32detail {
namespace {

struct Slot {
    Object* object = nullptr;
    uint16_t generation = 1;
};

// Handle value: generation (15 bits) << 16 | (slot index + 1).  The top bit stays clear,
// so no handle equals the pseudo handle or INVALID_HANDLE_VALUE, and a closed handle is
// not found again when its slot is reused (the generation has moved on).
constexpr uint32_t kMaxSlots = 0xFFFE;

struct Table {
    std::mutex lock;
    std::vector<Slot> slots;
    std::vector<uint32_t> freeSlots;
};

// Made on first use and never destroyed: threads may still close handles while the
// process runs its exit handlers.
Table& TheTable() {
    static Table* table = new Table;
    return *table;
}

thread_local Waiter tlsWaiter;

} // namespace

std::mutex& Lock() { return TheTable().lock; }

HANDLE AddHandle(Object* object) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    uint32_t index;
    if (!t.freeSlots.empty()) {
        index = t.freeSlots.back();
        t.freeSlots.pop_back();
    } else {
        if (t.slots.size() >= kMaxSlots) {
            delete object;
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        index = static_cast<uint32_t>(t.slots.size());
        t.slots.emplace_back();
    }
    t.slots[index].object = object;
    uint32_t value = (uint32_t(t.slots[index].generation) << 16) | (index + 1);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

namespace {
// The slot a handle names, or null.  The lock must be held.
Slot* SlotOf(HANDLE handle) {
    Table& t = TheTable();
    uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
    uint32_t index = (value & 0xFFFF);
    uint32_t generation = value >> 16;
    if (index == 0 || index > t.slots.size()) return nullptr;
    Slot& s = t.slots[index - 1];
    if (!s.object || s.generation != generation) return nullptr;
    return &s;
}
} // namespace

Object* LookupLocked(HANDLE handle) {
    Slot* s = SlotOf(handle);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ++s->object->refs;
    return s->object;
}

void ReleaseLocked(Object* object) {
    if (--object->refs == 0) delete object;
}

void NotifyLocked(Object* object) {
    for (Waiter* w : object->waiters) w->wake.notify_one();
}

} // namespace w32detail

using namespace w32detail;

BOOL CloseHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(Lock());
    Slot* s = SlotOf(handle);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Object* object = s->object;
    s->object = nullptr;
    s->generation = static_cast<uint16_t>((s->generation % 0x7FFF) + 1);
    Table& t = TheTable();
    t.freeSlots.push_back(static_cast<uint32_t>(s - t.slots.data()));
    ReleaseLocked(object);
    return TRUE;
}

// ---- events and semaphores --------------------------------------------------------------

HANDLE CreateEventA(BOOL manualReset, BOOL initiallySet) {
    Object* o = new Object(Kind::Event);
    o->manualReset = manualReset != FALSE;
    o->set = initiallySet != FALSE;
    return AddHandle(o);
}

namespace {
// Looks up a handle of the given kind with the lock held; null with ERROR_INVALID_HANDLE.
Object* LookupKind(HANDLE handle, Kind kind) {
    Object* o = LookupLocked(handle);
    if (o && o->kind != kind) {
        ReleaseLocked(o);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return o;
}

BOOL ChangeEvent(HANDLE event, bool set) {
    std::lock_guard<std::mutex> guard(Lock());
    Object* o = LookupKind(event, Kind::Event);
    if (!o) return FALSE;
    o->set = set;
    if (set) NotifyLocked(o);
    ReleaseLocked(o);
    return TRUE;
}
} // namespace

BOOL SetEvent(HANDLE event) { return ChangeEvent(event, true); }
BOOL ResetEvent(HANDLE event) { return ChangeEvent(event, false); }

HANDLE CreateSemaphoreA(LONG initialCount, LONG maximumCount) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Object* o = new Object(Kind::Semaphore);
    o->count = initialCount;
    o->maximum = maximumCount;
    return AddHandle(o);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previousCount) {
    std::lock_guard<std::mutex> guard(Lock());
    Object* o = LookupKind(semaphore, Kind::Semaphore);
    if (!o) return FALSE;
    BOOL ok = FALSE;
    if (count <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else if (count > o->maximum - o->count) {
        SetLastError(ERROR_TOO_MANY_POSTS);
    } else {
        if (previousCount) *previousCount = o->count;
        o->count += count;
        NotifyLocked(o);
        ok = TRUE;
    }
    ReleaseLocked(o);
    return ok;
}

// ---- named mutexes ----------------------------------------------------------------------

namespace {

constexpr uint32_t kMutexMagic = 0x584D5351; // "QSMX"

struct NamedMutexes {
    std::mutex lock;
    std::map<std::string, SharedMutexBlock*> blocks;
};

NamedMutexes& TheNamedMutexes() {
    static NamedMutexes* m = new NamedMutexes;
    return *m;
}

void InitSharedMutex(pthread_mutex_t* mutex);

// The processes that share named objects: every process of the user, or, when
// QSRF_SHARED_SCOPE names a scope (letters and digits, at most 32), those that name the
// same one.  Separate test runs on one machine thus keep out of each other's node opens.
std::string SharedScope() {
    const char* scope = std::getenv("QSRF_SHARED_SCOPE");
    std::string kept;
    for (const char* c = scope; c && *c && kept.size() < 32; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) kept += *c;
    return kept.empty() ? std::string() : kept + "-";
}

// Opens (creating when needed) the shared block of a name; existed tells whether the
// name's block was there before.  Null with the last error set on failure.
SharedMutexBlock* OpenNamedBlock(const std::string& name, bool* existed) {
    NamedMutexes& m = TheNamedMutexes();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.blocks.find(name);
    if (it != m.blocks.end()) {
        *existed = true;
        return it->second;
    }
    std::string path = "/qsrf-mutex-" + std::to_string(getuid()) + "-" + SharedScope() + name;
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    *existed = false;
    if (fd < 0 && errno == EEXIST) {
        *existed = true;
        fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        SetLastError(errno == ENAMETOOLONG ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The file lock makes the set-up of a new block one process's job; the system drops
    // it when that process dies half-way, and the next opener finishes the set-up.
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    SharedMutexBlock* block = nullptr;
    struct stat st;
    bool sized = fstat(fd, &st) == 0 &&
                 (st.st_size >= static_cast<off_t>(sizeof(SharedMutexBlock)) ||
                  ftruncate(fd, sizeof(SharedMutexBlock)) == 0);
    if (sized) {
        void* p = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) block = static_cast<SharedMutexBlock*>(p);
    }
    if (block && (__atomic_load_n(&block->magic, __ATOMIC_ACQUIRE) != kMutexMagic ||
                  block->layout != sizeof(SharedMutexBlock))) {
        InitSharedMutex(&block->mutex);
        block->holder = 0;
        block->layout = sizeof(SharedMutexBlock);
        __atomic_store_n(&block->magic, kMutexMagic, __ATOMIC_RELEASE);
    }
    flock(fd, LOCK_UN);
    close(fd);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    m.blocks.emplace(name, block);
    return block;
}

timespec DeadlineAfter(DWORD ms) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += long(ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

void InitSharedMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

// A mutex whose last holder's process is gone without its release being seen (the owner-
// died state of robust mutexes is not delivered everywhere, user-mode emulation among
// them) is set up afresh by one waiter: true when this caller did so.
bool RecoverFromDeadHolder(SharedMutexBlock* block) {
    int32_t holder = __atomic_load_n(&block->holder, __ATOMIC_ACQUIRE);
    if (holder <= 0 || holder == getpid()) return false;
    if (kill(holder, 0) == 0 || errno != ESRCH) return false;
    if (!__atomic_compare_exchange_n(&block->holder, &holder, -1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        return false;
    InitSharedMutex(&block->mutex);
    return true;
}

int TimedLock(SharedMutexBlock* block, DWORD timeoutMs) {
    if (timeoutMs == 0) return pthread_mutex_trylock(&block->mutex);
    timespec deadline = DeadlineAfter(timeoutMs);
    return pthread_mutex_clocklock(&block->mutex, CLOCK_MONOTONIC, &deadline);
}

DWORD LockSharedMutex(SharedMutexBlock* block, DWORD timeoutMs) {
    constexpr DWORD kHolderCheckMs = 500;
    int rc;
    bool recovered = false;
    if (timeoutMs == INFINITE) {
        // Waits in slices, so that a holder that died is noticed.
        while ((rc = TimedLock(block, kHolderCheckMs)) == ETIMEDOUT)
            recovered = RecoverFromDeadHolder(block) || recovered;
    } else if (timeoutMs == 0) {
        rc = TimedLock(block, 0);
        if (rc == EBUSY && RecoverFromDeadHolder(block)) {
            recovered = true;
            rc = pthread_mutex_trylock(&block->mutex);
        }
    } else {
        // In slices too, within the time-out: a dead holder is taken over at the next
        // slice instead of after the whole wait.
        const timespec deadline = DeadlineAfter(timeoutMs);
        for (;;) {
            timespec slice = DeadlineAfter(kHolderCheckMs);
            const bool last = slice.tv_sec > deadline.tv_sec ||
                              (slice.tv_sec == deadline.tv_sec && slice.tv_nsec >= deadline.tv_nsec);
            if (last) slice = deadline;
            rc = pthread_mutex_clocklock(&block->mutex, CLOCK_MONOTONIC, &slice);
            if (rc != ETIMEDOUT) break;
            if (RecoverFromDeadHolder(block)) {
                recovered = true;
                rc = pthread_mutex_trylock(&block->mutex);
                if (rc != EBUSY) break;
            }
            if (last) break;
        }
        if (rc == EBUSY) rc = ETIMEDOUT;
    }
    switch (rc) {
    case 0:
        __atomic_store_n(&block->holder, static_cast<int32_t>(getpid()), __ATOMIC_RELEASE);
        return recovered ? WAIT_ABANDONED : WAIT_OBJECT_0;
    case EOWNERDEAD:
        // The holder ended without releasing: the caller owns it now.
        pthread_mutex_consistent(&block->mutex);
        __atomic_store_n(&block->holder, static_cast<int32_t>(getpid()), __ATOMIC_RELEASE);
        return WAIT_ABANDONED;
    case EBUSY:
    case ETIMEDOUT:
        return WAIT_TIMEOUT;
    default:
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
}

} // namespace

HANDLE CreateMutexA(BOOL initialOwner, const char* name) {
    if (!name || !*name || std::strchr(name, '/')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool existed = false;
    SharedMutexBlock* block = OpenNamedBlock(name, &existed);
    if (!block) return nullptr;
    Object* o = new Object(Kind::Mutex);
    o->mutex = block;
    HANDLE h = AddHandle(o);
    if (!h) return nullptr;
    if (initialOwner && !existed) LockSharedMutex(block, INFINITE);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
    SharedMutexBlock* block;
    {
        std::lock_guard<std::mutex> guard(Lock());
        Object* o = LookupKind(mutex, Kind::Mutex);
        if (!o) return FALSE;
        block = o->mutex;   // blocks are never freed
        ReleaseLocked(o);
    }
    if (pthread_mutex_unlock(&block->mutex) != 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

// ---- waits ------------------------------------------------------------------------------

namespace {

bool Signalled(const Object* o) {
    switch (o->kind) {
    case Kind::Event: return o->set;
    case Kind::Semaphore: return o->count > 0;
    case Kind::Thread: return o->ended;
    case Kind::Mutex: return false;
    }
    return false;
}

void Consume(Object* o) {
    if (o->kind == Kind::Event && !o->manualReset) o->set = false;
    if (o->kind == Kind::Semaphore) --o->count;
}

void Unregister(Object* o, Waiter* w) {
    for (size_t i = 0; i < o->waiters.size(); ++i) {
        if (o->waiters[i] == w) {
            o->waiters.erase(o->waiters.begin() + static_cast<long>(i));
            return;
        }
    }
}

// Waits for objects that all are events, semaphores or threads.  The lock is held.
DWORD WaitObjectsLocked(std::unique_lock<std::mutex>& lock, Object** objects, DWORD count,
                        bool waitAll, DWORD timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Waiter* self = &tlsWaiter;
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (DWORD i = 0; i < count && all; ++i) all = Signalled(objects[i]);
            if (all) {
                for (DWORD i = 0; i < count; ++i) Consume(objects[i]);
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (Signalled(objects[i])) {
                    Consume(objects[i]);
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (timeoutMs == 0) return WAIT_TIMEOUT;
        if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
        for (DWORD i = 0; i < count; ++i) objects[i]->waiters.push_back(self);
        if (timeoutMs == INFINITE)
            self->wake.wait(lock);
        else
            self->wake.wait_until(lock, deadline);
        for (DWORD i = 0; i < count; ++i) Unregister(objects[i], self);
    }
}

} // namespace

DWORD WaitForSingleObject(HANDLE object, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(Lock());
    Object* o = LookupLocked(object);
    if (!o) return WAIT_FAILED;
    if (o->kind == Kind::Mutex) {
        SharedMutexBlock* block = o->mutex;
        ReleaseLocked(o);
        lock.unlock();
        return LockSharedMutex(block, timeoutMs);
    }
    DWORD r = WaitObjectsLocked(lock, &o, 1, false, timeoutMs);
    ReleaseLocked(o);
    return r;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD timeoutMs) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !objects) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(Lock());
    Object* found[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    DWORD result = WAIT_FAILED;
    bool ok = true;
    while (n < count) {
        Object* o = LookupLocked(objects[n]);
        if (!o) {
            ok = false;
            break;
        }
        found[n++] = o;
        if (o->kind == Kind::Mutex) {
            SetLastError(ERROR_NOT_SUPPORTED);
            ok = false;
            break;
        }
        for (DWORD j = 0; waitAll && j + 1 < n; ++j) {
            if (found[j] == o) {
                SetLastError(ERROR_INVALID_PARAMETER); // the same object twice in a wait for all
                ok = false;
            }
        }
        if (!ok) break;
    }
    if (ok) result = WaitObjectsLocked(lock, found, count, waitAll != FALSE, timeoutMs);
    for (DWORD i = 0; i < n; ++i) ReleaseLocked(found[i]);
    return result;
}
