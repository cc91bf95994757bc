// The machine's clock and its event queue.
#include "simclock.h"
#include "spinwait.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace boardsim {

namespace {

// Real time of the process, for the free-running clock: one epoch for every machine, so
// the library's clock never runs backwards across a configure().
std::chrono::steady_clock::time_point ProcessEpoch()
{
    static const auto epoch = std::chrono::steady_clock::now();
    return epoch;
}

uint64_t RealSinceEpoch()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - ProcessEpoch()).count());
}

// The calling thread's record, made at its first access.  It is owned through a
// thread-specific value, not a thread-local object: exit handlers and destructors of
// other thread-specific values may still access or wait after a thread's thread-local
// objects are gone, and then find a fresh record.
thread_local std::shared_ptr<BusThread>* t_busThread = nullptr;

pthread_key_t BusThreadKey()
{
    static const pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, [](void* record) {
            t_busThread = nullptr;
            delete static_cast<std::shared_ptr<BusThread>*>(record);
        });
        return k;
    }();
    return key;
}

const std::shared_ptr<BusThread>& ThisBusThreadShared()
{
    if (!t_busThread) {
        auto record = std::make_unique<std::shared_ptr<BusThread>>(std::make_shared<BusThread>());
        (*record)->tid = static_cast<int>(syscall(SYS_gettid));
        pthread_setspecific(BusThreadKey(), record.get());
        t_busThread = record.release();
    }
    return *t_busThread;
}

BusThread& ThisBusThread()
{
    return *ThisBusThreadShared();
}

// Reads a small file of /proc into text; false when it is gone (the thread has ended).
bool ReadProc(const char* path, char* text, size_t size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t got = ::read(fd, text, size - 1);
    ::close(fd);
    if (got <= 0) return false;
    text[got] = '\0';
    return true;
}

// A thread's scheduling state ('R' runnable, 'S' or 'D' waiting, ...) and the CPU time it
// has run (0 where the kernel does not count it); false when the thread has ended.
bool ThreadState(int tid, char& state, uint64_t& cpuNanos)
{
    char path[64];
    char text[512];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", tid);
    if (!ReadProc(path, text, sizeof text)) return false;
    const char* close = std::strrchr(text, ')');   // the name in parentheses may hold anything
    if (!close || close[1] != ' ' || !close[2]) return false;
    state = close[2];
    cpuNanos = 0;
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
    if (ReadProc(path, text, sizeof text)) cpuNanos = std::strtoull(text, nullptr, 10);
    return true;
}

constexpr uint64_t kCpuUnknown = UINT64_MAX;

// The wake-ups a machine's thread owes (see DeferWakeup); only that thread defers.
constexpr size_t kOwedWakeups = 4;
thread_local bool t_defersWakeups = false;
thread_local Wakeup t_owed[kOwedWakeups] = {};
thread_local size_t t_owedCount = 0;

// Pays the wake-ups owed; called once the machine lock is let go.
void PayWakeups()
{
    const size_t count = t_owedCount;
    t_owedCount = 0;
    for (size_t i = 0; i < count; ++i) t_owed[i]();
}

} // namespace

bool DeferWakeup(Wakeup wake)
{
    if (!t_defersWakeups) return false;
    for (size_t i = 0; i < t_owedCount; ++i)
        if (t_owed[i] == wake) return true;
    if (t_owedCount == kOwedWakeups) return false;   // the caller wakes at once
    t_owed[t_owedCount++] = wake;
    return true;
}

bool MayHoldMachineTime()
{
    return t_busThread && (*t_busThread)->holding.load(std::memory_order_relaxed);
}

BusMark::BusMark() : thread_(ThisBusThread())
{
    thread_.inAccess.fetch_add(1, std::memory_order_relaxed);
}

BusMark::~BusMark()
{
    thread_.inAccess.fetch_sub(1, std::memory_order_relaxed);
}

SimClock::SimClock(ClockMode mode) : mode_(mode)
{
    if (mode_ == ClockMode::FreeRunning) markReal_ = realNanos();
    holders_.reserve(kReservedHolders);   // a thread's first access allocates nothing here
    spare_.reserve(kSpareEvents);
    Events made;
    for (size_t i = 0; i < kSpareEvents; ++i) {
        Event& event = made[{0, i}];
        event.name.reserve(kSpareNameBytes);
        spare_.push_back(made.extract(made.begin()));
    }
}

SimClock::~SimClock()
{
    stop();
}

void SimClock::spend(uint64_t nanos)
{
    bus_ += nanos;
    if (mode_ == ClockMode::Virtual) {
        now_ += nanos;
        return;
    }
    const uint64_t before = nowNanos();
    if (onMachineThread()) {
        // The machine's own sequences: their bus time passes while real time does.
        if (holders_.empty()) {
            const uint64_t real = realNanos();
            const uint64_t elapsed = real > markReal_ ? real - markReal_ : 0;
            now_ += std::max(nanos, elapsed);
            markReal_ = real;
        } else {
            now_ += nanos;
        }
    } else {
        BusThread& self = ThisBusThread();
        self.accesses.fetch_add(1, std::memory_order_relaxed);
        const bool held = std::any_of(holders_.begin(), holders_.end(),
                                      [&](const Holder& h) { return h.thread.get() == &self; });
        if (!held) {
            // From here on the machine's time moves only as the holders spend it.
            now_ = before;
            holders_.push_back({ThisBusThreadShared(), self.accesses.load(std::memory_order_relaxed), kCpuUnknown});
            self.holding.store(true, std::memory_order_relaxed);
        }
        now_ += nanos;
    }
    // The machine's thread sleeps until the next event; bus time that reaches it wakes it.
    if (!events_.empty()) {
        const uint64_t next = events_.begin()->first.first;
        if (next > before && next <= now_) kick();
    }
}

void SimClock::release()
{
    BusThread* self = &ThisBusThread();
    const auto it = std::find_if(holders_.begin(), holders_.end(), [&](const Holder& h) { return h.thread.get() == self; });
    if (it != holders_.end()) {
        dropHolder(static_cast<size_t>(it - holders_.begin()), realNanos());
        // The machine's thread needs to hear of it only when the machine's time flows with
        // real time again and an event waits for that time; while other threads hold it,
        // only their bus time moves it, and that wakes the thread itself.
        if (holders_.empty() && !events_.empty()) kick();
    }
    self->holding.store(false, std::memory_order_relaxed);   // also a mark left by an older machine
}

void SimClock::dropHolder(size_t index, uint64_t real)
{
    holders_[index].thread->holding.store(false, std::memory_order_relaxed);
    holders_.erase(holders_.begin() + static_cast<std::ptrdiff_t>(index));
    if (holders_.empty()) markReal_ = real;   // machine time flows with real time again
}

void SimClock::kick()
{
    kicks_.fetch_add(1, std::memory_order_release);
    wake_.notify_all();
}

bool SimClock::spinFor(std::unique_lock<boardsim::MachineMutex>& hold)
{
    const uint32_t kicks = kicks_.load(std::memory_order_acquire);
    // While machine time flows with real time, the next event comes due at a real time of
    // its own: the spin ends then too, so that an event a few microseconds away is fired
    // on time instead of after the whole spin.
    uint64_t dueReal = UINT64_MAX;
    if (holders_.empty() && !events_.empty()) {
        const uint64_t now = nowNanos();
        const uint64_t at = events_.begin()->first.first;
        if (at <= now) return true;
        dueReal = realNanos() + (at - now);
    }
    hold.unlock();
    const bool kicked = spinwait::SpinUntil([&] {
        return stopping_ || kicks_.load(std::memory_order_acquire) != kicks ||
               realNanos() >= dueReal;
    });
    hold.lock();
    return kicked;
}

bool SimClock::onMachineThread() const
{
    return thread_.joinable() && std::this_thread::get_id() == thread_.get_id();
}

void SimClock::lookAtHolders(std::unique_lock<boardsim::MachineMutex>& hold)
{
    // A holder that made an access since the last look is busy with the bus and keeps the
    // time; its state is not read (a few system calls each, while the machine's thread may
    // be wanted for a doorbell).  Only the others are looked at; their CPU time is counted
    // from the first look that finds them idle.
    struct Look {
        std::shared_ptr<BusThread> thread;
        bool alive = false;
        char state = 'R';
        uint64_t cpu = 0;
    };
    // True, with the holder's marks renewed, when it made an access since the last look.
    const auto busy = [](Holder& h) {
        const uint64_t accesses = h.thread->accesses.load(std::memory_order_relaxed);
        if (accesses == h.accessesSeen && h.thread->inAccess.load(std::memory_order_relaxed) == 0) return false;
        h.accessesSeen = accesses;
        h.cpuSeen = kCpuUnknown;
        return true;
    };
    std::vector<Look> looks;
    looks.reserve(holders_.size());
    for (Holder& h : holders_)
        if (!busy(h)) looks.push_back({h.thread});
    if (looks.empty()) return;
    hold.unlock();
    for (Look& l : looks) l.alive = ThreadState(l.thread->tid, l.state, l.cpu);
    hold.lock();
    const uint64_t real = realNanos();
    for (const Look& l : looks) {
        auto it = std::find_if(holders_.begin(), holders_.end(), [&](const Holder& h) { return h.thread == l.thread; });
        if (it == holders_.end() || busy(*it)) continue;   // busy again while its state was read
        // No access since the last look: a thread that waits, has ended or computes
        // without the bus lets the machine's time go.
        if (it->cpuSeen == kCpuUnknown && l.alive) it->cpuSeen = l.cpu;
        const bool computing = l.cpu > it->cpuSeen + kHolderCpuNanos;
        if (!l.alive || l.state != 'R' || computing) dropHolder(static_cast<size_t>(it - holders_.begin()), real);
    }
}

uint64_t SimClock::realNanos() const
{
    return RealSinceEpoch();
}

double SimClock::realSeconds()
{
    return static_cast<double>(RealSinceEpoch()) * 1e-9;
}

double SimClock::seconds() const
{
    return static_cast<double>(mode_ == ClockMode::Virtual ? now_ : realNanos()) * 1e-9;
}

uint64_t SimClock::schedule(uint64_t at, const char* name, Action action, EventScope scope)
{
    const uint64_t sequence = ++sequence_;
    const size_t length = std::strlen(name);
    if (!spare_.empty() && length <= spare_.back().mapped().name.capacity()) {
        Events::node_type node = std::move(spare_.back());
        spare_.pop_back();
        node.key() = {at, sequence};
        node.mapped().name.assign(name, length);
        node.mapped().action = std::move(action);
        node.mapped().scope = scope;
        events_.insert(std::move(node));
    } else {
        Event event;
        event.name.reserve(std::max(length, kSpareNameBytes));
        event.name.assign(name, length);
        event.action = std::move(action);
        event.scope = scope;
        events_.emplace(std::make_pair(at, sequence), std::move(event));
    }
    kick();
    return sequence;
}

// Keeps an event's record for a later schedule(), unless enough are kept or its name
// buffer is too short to take a name without allocating.
void SimClock::recycle(Events::node_type node)
{
    node.mapped().action = nullptr;
    if (spare_.size() < kSpareEvents && node.mapped().name.capacity() >= kSpareNameBytes)
        spare_.push_back(std::move(node));
}

bool SimClock::cancel(uint64_t sequence)
{
    for (auto it = events_.begin(); it != events_.end(); ++it)
        if (it->first.second == sequence) {
            recycle(events_.extract(it));
            return true;
        }
    return false;
}

bool SimClock::popDue(uint64_t limit, Event& event, uint64_t& at)
{
    if (events_.empty() || events_.begin()->first.first > limit) return false;
    Events::node_type node = events_.extract(events_.begin());
    at = node.key().first;
    // The name is copied, not moved: the record keeps its buffer for its next use.
    event.name = node.mapped().name;
    event.action = std::move(node.mapped().action);
    recycle(std::move(node));
    return true;
}

// Runs one event that fell due at time at; the virtual clock stands at that time while it runs.
void SimClock::fire(uint64_t at, Event& event)
{
    if (mode_ == ClockMode::Virtual && at > now_) now_ = at;
    log_.push_back({static_cast<double>(mode_ == ClockMode::Virtual ? now_ : at) * 1e-9, event.name});
    if (event.action) event.action();
}

int SimClock::runDue()
{
    const uint64_t limit = nowNanos();
    int ran = 0;
    Event event;
    uint64_t at = 0;
    for (; popDue(limit, event, at); ++ran) fire(at, event);
    return ran;
}

void SimClock::advance(uint64_t nanos)
{
    const uint64_t target = now_ + nanos;
    Event event;
    uint64_t at = 0;
    while (popDue(target, event, at)) fire(at, event);
    now_ = target;
}

int SimClock::runUntilIdle(int limit)
{
    int ran = 0;
    Event event;
    uint64_t at = 0;
    for (; ran < limit && popDue(UINT64_MAX, event, at); ++ran) fire(at, event);
    return ran;
}

uint64_t SimClock::nowNanos() const
{
    if (mode_ == ClockMode::Virtual || !holders_.empty()) return now_;
    // No thread holds the machine's time: it flows with real time.
    const uint64_t real = realNanos();
    return now_ + (real > markReal_ ? real - markReal_ : 0);
}

void SimClock::startThread(boardsim::MachineMutex& lock)
{
    if (mode_ != ClockMode::FreeRunning || thread_.joinable()) return;
    lock_ = &lock;
    thread_ = std::thread([this] {
        // A timed sleep of this thread ends when its time is up, not up to the kernel's
        // default slack of 50 us later: the next event may be a few microseconds away.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        t_defersWakeups = true;
        std::unique_lock<boardsim::MachineMutex> hold(*lock_);
        while (!stopping_) {
            // One due event at a time, the machine left to others between events: a
            // machine that falls behind its events would otherwise hold it until it caught
            // up, and the library's register accesses would wait all that time.
            Event event;
            uint64_t due = 0;
            if (popDue(nowNanos(), event, due)) {
                fire(due, event);
                fired_.fetch_add(1, std::memory_order_release);
                // Threads catching up are told once the lock is free: woken under it,
                // they would sleep on it again at once.
                hold.unlock();
                caughtUp_.notify_all();
                PayWakeups();
                std::this_thread::yield();
                hold.lock();
                continue;
            }
            caughtUp_.notify_all();
            PayWakeups();   // none is owed here (every event is followed by a let-go); kept safe
            // Work that comes within a few microseconds (a doorbell, an access that
            // reaches the next event) is taken without sleeping.
            // The lock was let go meanwhile: a stop that came then is seen here, before a
            // sleep that its wake-up would no longer end.
            if (spinFor(hold) || stopping_) continue;
            if (events_.empty()) {
                wake_.wait(hold);
                continue;
            }
            // Real time alone brings the machine to the next event after the machine time
            // left; bus time may bring it sooner (spend() wakes the thread).  While threads
            // hold the machine's time, only they move it: the thread looks at them now and
            // then and lets go for those that wait.
            const uint64_t now = nowNanos();
            const uint64_t at = events_.begin()->first.first;
            if (at <= now) continue;
            if (holders_.empty()) {
                wake_.wait_for(hold, std::chrono::nanoseconds(at - now));
            } else {
                wake_.wait_for(hold, std::chrono::nanoseconds(kHolderLookNanos));
                if (!stopping_ && !holders_.empty()) lookAtHolders(hold);
            }
        }
        caughtUp_.notify_all();
        hold.unlock();
        PayWakeups();
        t_defersWakeups = false;
    });
}

bool SimClock::dueFor(uint64_t limit, const EventScope& access) const
{
    for (auto it = events_.begin(); it != events_.end() && it->first.first <= limit; ++it)
        if (it->second.scope.covers(access)) return true;
    return false;
}

void SimClock::catchUp(std::unique_lock<boardsim::MachineMutex>& hold, const EventScope& access)
{
    if (mode_ != ClockMode::FreeRunning || !thread_.joinable() || std::this_thread::get_id() == thread_.get_id())
        return;
    const uint64_t target = nowNanos();
    if (stopping_ || !dueFor(target, access)) return;
    ++catchingUp_;
    kick();
    // The machine's thread, running on another CPU, is usually done within microseconds.
    const uint32_t fired = fired_.load(std::memory_order_acquire);
    hold.unlock();
    spinwait::SpinUntil([&] { return fired_.load(std::memory_order_acquire) != fired; });
    hold.lock();
    caughtUp_.wait_for(hold, std::chrono::nanoseconds(kCatchUpNanos),
                       [&] { return stopping_ || !dueFor(target, access); });
    --catchingUp_;
    caughtUp_.notify_all();
}

void SimClock::stop()
{
    if (!thread_.joinable()) return;
    {
        // A library thread still waiting in catchUp() leaves before the clock goes.
        std::unique_lock<boardsim::MachineMutex> hold(*lock_);
        stopping_ = true;
        kick();
        caughtUp_.notify_all();
        caughtUp_.wait(hold, [&] { return catchingUp_ == 0; });
    }
    kick();
    thread_.join();
}

} // namespace boardsim
