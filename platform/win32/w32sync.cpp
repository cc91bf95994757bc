// Handle table, critical sections, events, semaphores, named mutexes and waits.

#include "w32object.h"
#include "w32sync.h"
#include "spinwait.h"
#include "w32thread.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/futex.h>
#include <map>
#include <shared_mutex>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

// The futex calls pass the system's own time-spec: no 64-bit time on 32-bit systems.
static_assert(sizeof(time_t) == sizeof(long), "futex time-outs use the native time-spec");

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

// The table's lock is taken shared by every look-up (which only takes a reference) and
// exclusively only to enter or remove a handle, so look-ups of different threads run side
// by side; the objects' state is guarded by their own locks.
struct Table {
    std::shared_mutex lock;
    std::vector<Slot> slots;
    std::vector<uint32_t> freeSlots;
};

// Made on first use and never destroyed: threads may still close handles while the
// process runs its exit handlers.
Table& TheTable() {
    static Table* table = new Table;
    return *table;
}

// The calling thread's waiter, made at its first wait.  The thread holds one reference,
// dropped by a thread-specific destructor when the thread ends.  Not a thread-local object
// with a destructor: the main thread's would be gone while exit handlers still wait (for a
// node's threads, say); the main thread's waiter simply stays.
thread_local Waiter* tlsWaiter = nullptr;

void DropThreadWaiter(void* waiter) {
    tlsWaiter = nullptr;
    static_cast<Waiter*>(waiter)->Unref();
}

pthread_key_t WaiterKey() {
    static const pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, DropThreadWaiter);
        return k;
    }();
    return key;
}

Waiter* ThreadWaiter() {
    Waiter* w = tlsWaiter;
    if (!w) {
        w = new Waiter;
        tlsWaiter = w;
        pthread_setspecific(WaiterKey(), w);
    }
    return w;
}

void FutexWake(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Sleeps while the word is 0, at most until the deadline (none: without limit).
void FutexWaitUntil(std::atomic<uint32_t>* word, const timespec* deadline) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_BITSET_PRIVATE, 0u, deadline, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

} // namespace

void Waiter::Wake() {
    woken.store(1, std::memory_order_release);
    FutexWake(&woken);
}

HANDLE AddHandle(Object* object) {
    Table& t = TheTable();
    std::unique_lock<std::shared_mutex> guard(t.lock);
    uint32_t index;
    if (!t.freeSlots.empty()) {
        index = t.freeSlots.back();
        t.freeSlots.pop_back();
    } else {
        if (t.slots.size() >= kMaxSlots) {
            guard.unlock();
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
// The slot a handle names, or null.  The table's lock must be held.
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

Object* Lookup(HANDLE handle) {
    std::shared_lock<std::shared_mutex> guard(TheTable().lock);
    Slot* s = SlotOf(handle);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    s->object->refs.fetch_add(1, std::memory_order_relaxed);
    return s->object;
}

void Release(Object* object) {
    if (object->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

void NotifyAndUnlock(Object* object, std::unique_lock<std::mutex>& held) {
    // Few threads wait for one object: their waiters are taken out of the list with a
    // reference each and woken once the lock is released.
    constexpr size_t kInline = 8;
    Waiter* inlineList[kInline];
    std::vector<Waiter*> more;
    size_t n = 0;
    for (Waiter* w : object->waiters) {
        w->refs.fetch_add(1, std::memory_order_relaxed);
        if (n < kInline)
            inlineList[n++] = w;
        else
            more.push_back(w);
    }
    held.unlock();
    for (size_t i = 0; i < n; ++i) {
        inlineList[i]->Wake();
        inlineList[i]->Unref();
    }
    for (Waiter* w : more) {
        w->Wake();
        w->Unref();
    }
}

} // namespace w32detail

using namespace w32detail;

BOOL CloseHandle(HANDLE handle) {
    Object* object;
    {
        Table& t = TheTable();
        std::unique_lock<std::shared_mutex> guard(t.lock);
        Slot* s = SlotOf(handle);
        if (!s) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = s->object;
        s->object = nullptr;
        s->generation = static_cast<uint16_t>((s->generation % 0x7FFF) + 1);
        t.freeSlots.push_back(static_cast<uint32_t>(s - t.slots.data()));
    }
    Release(object);
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
// Looks up a handle of the given kind; null with ERROR_INVALID_HANDLE.
Object* LookupKind(HANDLE handle, Kind kind) {
    Object* o = Lookup(handle);
    if (o && o->kind != kind) {
        Release(o);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return o;
}

BOOL ChangeEvent(HANDLE event, bool set) {
    Object* o = LookupKind(event, Kind::Event);
    if (!o) return FALSE;
    {
        std::unique_lock<std::mutex> held(o->lock);
        o->set = set;
        if (set && !o->waiters.empty())
            NotifyAndUnlock(o, held);
    }
    Release(o);
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
    Object* o = LookupKind(semaphore, Kind::Semaphore);
    if (!o) return FALSE;
    BOOL ok = FALSE;
    {
        std::unique_lock<std::mutex> held(o->lock);
        if (count <= 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
        } else if (count > o->maximum - o->count) {
            SetLastError(ERROR_TOO_MANY_POSTS);
        } else {
            if (previousCount) *previousCount = o->count;
            o->count += count;
            ok = TRUE;
            if (!o->waiters.empty()) NotifyAndUnlock(o, held);
        }
    }
    Release(o);
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
        block->holder = block->thread = block->depth = 0;
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

bool Passed(const timespec& deadline) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
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

// A mutex whose holder's process is gone without its release being seen (the owner-
// died state of robust mutexes is not delivered everywhere, user-mode emulation among
// them) is set up afresh by one waiter: true when this caller did so.  The holder's last
// release clears its name, so a process that has just taken the mutex and not yet named
// itself is never taken for the dead one that released it before.
bool RecoverFromDeadHolder(SharedMutexBlock* block) {
    int32_t holder = __atomic_load_n(&block->holder, __ATOMIC_ACQUIRE);
    if (holder <= 0 || holder == getpid()) return false;
    if (kill(holder, 0) == 0 || errno != ESRCH) return false;
    if (!__atomic_compare_exchange_n(&block->holder, &holder, -1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        return false;
    __atomic_store_n(&block->thread, 0, __ATOMIC_RELAXED);
    block->depth = 0;
    InitSharedMutex(&block->mutex);
    return true;
}

int32_t ThisThreadId() {
    return static_cast<int32_t>(syscall(SYS_gettid));
}

// The caller has just taken the mutex: once more, or afresh from a holder that ended.
void TakeHolder(SharedMutexBlock* block, bool afresh) {
    if (afresh || __atomic_load_n(&block->thread, __ATOMIC_RELAXED) != ThisThreadId()) block->depth = 0;
    ++block->depth;
    __atomic_store_n(&block->thread, ThisThreadId(), __ATOMIC_RELAXED);
    __atomic_store_n(&block->holder, static_cast<int32_t>(getpid()), __ATOMIC_RELEASE);
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
        TakeHolder(block, recovered);
        return recovered ? WAIT_ABANDONED : WAIT_OBJECT_0;
    case EOWNERDEAD:
        // The holder ended without releasing: the caller owns it now.
        pthread_mutex_consistent(&block->mutex);
        TakeHolder(block, true);
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
    Object* o = LookupKind(mutex, Kind::Mutex);
    if (!o) return FALSE;
    SharedMutexBlock* block = o->mutex;   // blocks are never freed
    Release(o);
    // Only the holding thread reads its own id there.
    if (__atomic_load_n(&block->holder, __ATOMIC_ACQUIRE) != static_cast<int32_t>(getpid()) ||
        __atomic_load_n(&block->thread, __ATOMIC_RELAXED) != ThisThreadId() || block->depth <= 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--block->depth == 0) {
        __atomic_store_n(&block->thread, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&block->holder, 0, __ATOMIC_RELEASE);
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

void UnregisterAll(Object** objects, DWORD count, Waiter* w) {
    for (DWORD i = 0; i < count; ++i) {
        std::lock_guard<std::mutex> held(objects[i]->lock);
        Unregister(objects[i], w);
    }
}

// Checks the objects once, taking what the wait takes when it is satisfied: the index of
// the signalled object (0 for a wait for all), or -1.  With `self` given, the waiter is
// registered on every object it checks and finds not signalled, under the same lock, so
// a change after the check wakes it.  `byAddress` lists a wait-for-all's objects in
// address order (they are locked together, in that order).
int CheckOnce(Object** objects, Object** byAddress, DWORD count, bool waitAll, Waiter* self) {
    if (waitAll) {
        for (DWORD i = 0; i < count; ++i) byAddress[i]->lock.lock();
        bool all = true;
        for (DWORD i = 0; i < count && all; ++i) all = Signalled(objects[i]);
        for (DWORD i = 0; i < count; ++i) {
            if (all)
                Consume(objects[i]);
            else if (self)
                objects[i]->waiters.push_back(self);
        }
        for (DWORD i = count; i-- > 0;) byAddress[i]->lock.unlock();
        return all ? 0 : -1;
    }
    for (DWORD i = 0; i < count; ++i) {
        std::lock_guard<std::mutex> held(objects[i]->lock);
        if (Signalled(objects[i])) {
            Consume(objects[i]);
            return static_cast<int>(i);
        }
        if (self) objects[i]->waiters.push_back(self);
    }
    return -1;
}

// Waits for objects that all are events, semaphores or threads.  No lock is held.
DWORD WaitObjects(Object** objects, DWORD count, bool waitAll, DWORD timeoutMs) {
    Object* byAddress[MAXIMUM_WAIT_OBJECTS];
    if (waitAll) {
        std::copy(objects, objects + count, byAddress);
        std::sort(byAddress, byAddress + count, std::less<Object*>());
    }
    int found = CheckOnce(objects, byAddress, count, waitAll, nullptr);
    if (found >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(found);
    if (timeoutMs == 0) return WAIT_TIMEOUT;
    const bool limited = timeoutMs != INFINITE;
    const timespec deadline = limited ? DeadlineAfter(timeoutMs) : timespec{};
    NotifyBlocking();
    // A change that comes within a few microseconds is taken without sleeping.
    if (spinwait::SpinUntil([&] { return (found = CheckOnce(objects, byAddress, count, waitAll, nullptr)) >= 0; }))
        return WAIT_OBJECT_0 + static_cast<DWORD>(found);
    Waiter* self = ThreadWaiter();
    // Each round: clear the wake-up word, check (registering the waiter), and sleep until
    // woken or the deadline.  A wake-up between the check and the sleep leaves the word set,
    // so the sleep returns at once.
    for (bool registered = false;;) {
        self->woken.store(0, std::memory_order_relaxed);
        if (registered) UnregisterAll(objects, count, self);
        found = CheckOnce(objects, byAddress, count, waitAll, self);
        registered = true;
        if (found >= 0) {
            // The objects checked before the signalled one carry the waiter.
            UnregisterAll(objects, waitAll ? 0 : static_cast<DWORD>(found), self);
            return WAIT_OBJECT_0 + static_cast<DWORD>(found);
        }
        if (limited && Passed(deadline)) break;
        while (self->woken.load(std::memory_order_acquire) == 0) {
            FutexWaitUntil(&self->woken, limited ? &deadline : nullptr);
            if (limited && Passed(deadline)) break;
        }
    }
    UnregisterAll(objects, count, self);
    return WAIT_TIMEOUT;
}

} // namespace

DWORD WaitForSingleObject(HANDLE object, DWORD timeoutMs) {
    Object* o = Lookup(object);
    if (!o) return WAIT_FAILED;
    DWORD r;
    if (o->kind == Kind::Mutex) {
        SharedMutexBlock* block = o->mutex;
        Release(o);
        return LockSharedMutex(block, timeoutMs);
    }
    r = WaitObjects(&o, 1, false, timeoutMs);
    Release(o);
    return r;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD timeoutMs) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !objects) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Object* found[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    DWORD result = WAIT_FAILED;
    bool ok = true;
    while (n < count) {
        Object* o = Lookup(objects[n]);
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
    if (ok) result = WaitObjects(found, count, waitAll != FALSE, timeoutMs);
    for (DWORD i = 0; i < n; ++i) Release(found[i]);
    return result;
}
