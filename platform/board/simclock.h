// The clock of one simulated machine and the events scheduled on it.
//
// The board's hardware changes only with the machine's time, a count of nanoseconds that
// every hardware access and driver request moves on by the bus time it takes.
// Virtual mode: time moves only as it is spent (accesses, requests, reads of the clock by
// the library, sleeps, a test's advance()); events due on the way run in time order
// (equal times in the order they were scheduled), so a test gets the same events at the
// same times on every run.
// Free-running mode: a library thread that touches the bus holds the machine's time: from
// its first access on, machine time moves only by the bus time of accesses and requests,
// so a loop of N polls sees exactly N bus times pass whatever the speed of the host, the
// build, the thread or the load (a thread that is preempted still holds it).  A thread
// lets go when it waits: explicitly in the board's own waits, sleeps and clock reads and
// in the host's waits (HwHostWaits), and otherwise when the machine's thread sees that it
// has neither touched the bus since its last look (every kHolderLookNanos of real time)
// nor is runnable, or that it has computed for kHolderCpuNanos of its own CPU time without
// an access.  While no thread holds it, machine time flows with real time, so frames come
// while the host waits.  The machine's own thread runs each event once machine time
// reaches it.  The library's clock and sleeps stay on real time in this mode; a read of
// that clock lets go too, so a wait bounded by real time sees at least that much machine
// time.
#pragma once

#include "boardsim.h"
#include "spinwait.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace boardsim {

// The machine lock: recursive.  A thread that finds it taken (by the machine's thread
// running an event, say, for a few microseconds) spins a little before it sleeps.
class MachineMutex {
public:
    void lock()
    {
        if (mutex_.try_lock() || spinwait::SpinUntil([this] { return mutex_.try_lock(); })) return;
        mutex_.lock();
    }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Bus time of one hardware access, of one driver or service request and of one read of
// the clock; the shortest sleep.
constexpr uint64_t kAccessNanos = 1000;
constexpr uint64_t kRequestNanos = 10000;
constexpr uint64_t kClockReadNanos = 1000;
constexpr uint64_t kSleepTickNanos = 1000000;
// Free-running mode: the longest real time an access waits for the machine's thread.
constexpr uint64_t kCatchUpNanos = 5000000000ull;
// Free-running mode: how often the machine's thread looks at the threads that hold its
// time, and the CPU time a holder may spend without an access before it lets go.
constexpr uint64_t kHolderLookNanos = 200000;
constexpr uint64_t kHolderCpuNanos = 2000000;
constexpr size_t kReservedHolders = 32;

// A library thread as the free-running clock sees it.  Shared by the thread and the
// clocks it holds, so a clock may look at a thread that has ended.
struct BusThread {
    int tid = 0;
    std::atomic<int> inAccess{0};        // accesses under way, the wait for the lock included
    std::atomic<uint64_t> accesses{0};   // accesses and requests made
    std::atomic<bool> holding{false};    // holds a clock's time (set and cleared under its lock)
};

// True when the calling thread may hold a free-running clock's time; false makes a
// release unnecessary without taking the machine lock.
bool MayHoldMachineTime();

// Marks the calling thread as inside an access for its scope: a thread that waits for
// the machine lock or for the machine's thread is not waiting for the machine's time.
class BusMark {
public:
    BusMark();
    ~BusMark();
    BusMark(const BusMark&) = delete;
    BusMark& operator=(const BusMark&) = delete;

private:
    BusThread& thread_;
};

// Wake-ups owed by a machine's thread.  Work the thread does under the machine lock (an
// event completing a driver request) changes its waiters' state at once but wakes them
// only when the thread lets the lock go: a woken thread's next access would otherwise
// sleep on the lock straight away.  DeferWakeup returns false on any other thread, which
// then wakes its waiters itself; a wake-up owed twice is paid once.
using Wakeup = void (*)();
bool DeferWakeup(Wakeup wake);

// The registers an event can change, for library accesses that wait for the events due
// (SimClock::catchUp): bytes [from, to) of one chip.  An event without one (chip null) can
// change anything, and every access waits for it.  An access to other registers, or a
// register access while the event only completes driver requests, need not wait.
struct EventScope {
    const void* chip = nullptr;
    uint32_t from = 0;
    uint32_t to = 0;
    bool covers(const EventScope& access) const
    {
        return !chip || !access.chip || (chip == access.chip && from < access.to && access.from < to);
    }
};

// Event records a clock keeps for reuse, and the name length each of them holds.
constexpr size_t kSpareEvents = 64;
constexpr size_t kSpareNameBytes = 64;

class SimClock {
public:
    using Action = std::function<void()>;

    explicit SimClock(ClockMode mode);
    ~SimClock();
    SimClock(const SimClock&) = delete;
    SimClock& operator=(const SimClock&) = delete;

    ClockMode mode() const { return mode_; }
    // Machine time without the flow of real time: the time of the board's sequences
    // that follow the accesses one by one (the virtual clock itself in virtual mode).
    uint64_t busNanos() const { return mode_ == ClockMode::Virtual ? now_ : bus_; }
    // Moves the machine time on by bus time without running events (the caller runs them
    // at a safe point; in free-running mode the machine's thread is woken for them).  In
    // free-running mode the calling library thread holds the machine's time from here on.
    void spend(uint64_t nanos);
    // Free-running mode: the calling thread is about to wait or to time itself against
    // real time, and lets go of the machine's time.
    void release();
    // Free-running mode: the number of threads that hold the machine's time.
    size_t holders() const { return holders_.size(); }
    // The machine's time: what every piece of hardware state and every event follows.
    uint64_t nowNanos() const;
    // Seconds as the library reads them: the virtual time, or real time in free-running
    // mode (the library's own waits are real-time waits there).
    double seconds() const;
    // Real time in seconds, as the library reads it from a free-running clock.
    static double realSeconds();

    // Schedules an action at an absolute time (nanoseconds of the machine's clock); an
    // earlier time runs at the next safe point.  Returns the event's sequence number.
    // The clock keeps the records of events that ran or were cancelled (it starts with
    // kSpareEvents of them): while it has one, scheduling allocates nothing for a name
    // shorter than kSpareNameBytes and an action held in place (a lambda capturing a
    // pointer or two), so a register write that schedules an event does not fail for
    // want of memory.
    // An event with a scope changes only those registers (and driver requests).
    uint64_t schedule(uint64_t at, const char* name, Action action, EventScope scope = {});
    uint64_t schedule(uint64_t at, const std::string& name, Action action, EventScope scope = {})
    {
        return schedule(at, name.c_str(), std::move(action), scope);
    }
    // Drops a scheduled event that has not run; false when there is none of that number.
    bool cancel(uint64_t sequence);
    // Runs the events due by the machine's time.
    int runDue();
    // Virtual mode: moves the time on by nanos, running the events due on the way.
    void advance(uint64_t nanos);
    // Virtual mode: runs events until none is left (at most limit), the time jumping to each.
    int runUntilIdle(int limit);
    bool idle() const { return events_.empty(); }
    std::vector<FiredEvent> log() const { return log_; }

    // Free-running mode: the machine's thread, started by the first event, runs events
    // under lock when machine time reaches them.  It sleeps on a condition variable that
    // every schedule() and every spend() that crosses the next event signals, with the
    // thread's timer slack at its least so that a short sleep ends on time.
    // stop() ends it; the caller must not hold the lock.
    void startThread(MachineMutex& lock);
    void stop();
    // Free-running mode, from a library thread that holds the lock once (hold): when
    // events are due by the machine's time, hands the machine to its thread and waits
    // (at most kCatchUpNanos of real time) until it has run them, so an access sees the
    // hardware as its events left it however late the thread gets scheduled.  With the
    // scope of a register access, only the due events that can change those registers
    // are waited for (the machine's thread runs the others in time order all the same);
    // without one, every due event.
    void catchUp(std::unique_lock<MachineMutex>& hold, const EventScope& access = {});

private:
    struct Event {
        std::string name;
        Action action;
        EventScope scope;
    };
    struct Holder {
        std::shared_ptr<BusThread> thread;
        uint64_t accessesSeen = 0;   // at the last look that found it busy
        uint64_t cpuSeen = 0;        // its CPU time at the first look that found it idle since
    };
    using Events = std::map<std::pair<uint64_t, uint64_t>, Event>;   // by {time, sequence}
    uint64_t realNanos() const;
    bool onMachineThread() const;
    void dropHolder(size_t index, uint64_t real);
    // The machine's thread: lets go for the holders that are waiting or that compute
    // without touching the bus; the lock is let go while their states are read.
    void lookAtHolders(std::unique_lock<MachineMutex>& hold);
    bool dueBy(uint64_t limit) const { return !events_.empty() && events_.begin()->first.first <= limit; }
    // True when an event due by limit can change what the access reaches.
    bool dueFor(uint64_t limit, const EventScope& access) const;
    bool popDue(uint64_t limit, Event& event, uint64_t& at);
    void fire(uint64_t at, Event& event);
    void recycle(Events::node_type node);

    const ClockMode mode_;
    uint64_t now_ = 0;        // virtual: the time; free-running: the time when held, or at markReal_
    uint64_t markReal_ = 0;   // free-running: real time from which machine time flows when not held
    uint64_t bus_ = 0;        // bus time spent
    uint64_t sequence_ = 0;
    Events events_;
    std::vector<Events::node_type> spare_;   // records kept for reuse, at most kSpareEvents
    std::vector<FiredEvent> log_;
    std::vector<Holder> holders_;   // free-running: the threads that hold the machine's time

    MachineMutex* lock_ = nullptr;
    std::thread thread_;
    std::condition_variable_any wake_;
    std::condition_variable_any caughtUp_;   // signalled after every event the thread runs
    int catchingUp_ = 0;                     // library threads waiting in catchUp()
    std::atomic<bool> stopping_{false};
    std::atomic<uint32_t> kicks_{0};   // every wake-up of the machine's thread
    std::atomic<uint32_t> fired_{0};   // every event its thread has run
    // Wakes the machine's thread (it may be sleeping or spinning).
    void kick();
    // The machine's thread, before it sleeps: spins a little with the lock let go; true
    // when it was woken meanwhile or the next event came due.
    bool spinFor(std::unique_lock<MachineMutex>& hold);
};

} // namespace boardsim
