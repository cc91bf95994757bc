// The clock of one simulated machine and the events scheduled on it.
//
// The board's hardware changes only with the machine's time, a count of nanoseconds that
// every hardware access and driver request moves on by the bus time it takes, so a loop
// of N polls sees at least N bus times pass whatever the speed of the host or the thread.
// Virtual mode: time moves only as it is spent (accesses, requests, reads of the clock by
// the library, sleeps, a test's advance()); events due on the way run in time order
// (equal times in the order they were scheduled), so a test gets the same events at the
// same times on every run.  Free-running mode: the machine never runs slower than real
// time either.  From one spend to the next machine time moves on by the larger of the bus
// time spent and the real time elapsed, and between spends it flows with real time; both
// are worked out when the time is read or spent.  A tight poll loop on a fast host is thus driven by bus time
// alone; on a slow host the flow only adds time; a wait bounded by real time sees at least
// that much machine time.  The machine's own thread runs each event once machine time
// reaches it: it sleeps for the machine time left (which real time alone makes pass) and
// is woken early when bus time crosses the next event.  The library's clock and sleeps
// stay on real time in this mode.
#pragma once

#include "boardsim.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace boardsim {

// Bus time of one hardware access, of one driver or service request and of one read of
// the clock; the shortest sleep.
constexpr uint64_t kAccessNanos = 1000;
constexpr uint64_t kRequestNanos = 10000;
constexpr uint64_t kClockReadNanos = 1000;
constexpr uint64_t kSleepTickNanos = 1000000;
// Free-running mode: the longest real time an access waits for the machine's thread.
constexpr uint64_t kCatchUpNanos = 5000000000ull;

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
    // at a safe point; in free-running mode the machine's thread is woken for them).
    void spend(uint64_t nanos);
    // The machine's time: what every piece of hardware state and every event follows.
    uint64_t nowNanos() const;
    // Seconds as the library reads them: the virtual time, or real time in free-running
    // mode (the library's own waits are real-time waits there).
    double seconds() const;

    // Schedules an action at an absolute time (nanoseconds of the machine's clock); an
    // earlier time runs at the next safe point.  Returns the event's sequence number.
    uint64_t schedule(uint64_t at, std::string name, Action action);
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
    void startThread(std::recursive_mutex& lock);
    void stop();
    // Free-running mode, from a library thread that holds the lock once (hold): when
    // events are due by the machine's time, hands the machine to its thread and waits
    // (at most kCatchUpNanos of real time) until it has run them, so an access sees the
    // hardware as its events left it however late the thread gets scheduled.
    void catchUp(std::unique_lock<std::recursive_mutex>& hold);

private:
    struct Event {
        std::string name;
        Action action;
    };
    uint64_t realNanos() const;
    bool dueBy(uint64_t limit) const { return !events_.empty() && events_.begin()->first.first <= limit; }
    bool popDue(uint64_t limit, Event& event, uint64_t& at);
    void fire(uint64_t at, Event& event);

    const ClockMode mode_;
    uint64_t now_ = 0;        // virtual: the time; free-running: the time at the last spend
    uint64_t markReal_ = 0;   // free-running: real time at the last spend
    uint64_t bus_ = 0;        // bus time spent
    uint64_t sequence_ = 0;
    std::map<std::pair<uint64_t, uint64_t>, Event> events_;   // by {time, sequence}
    std::vector<FiredEvent> log_;

    std::recursive_mutex* lock_ = nullptr;
    std::thread thread_;
    std::condition_variable_any wake_;
    std::condition_variable_any caughtUp_;   // signalled after every event the thread runs
    int catchingUp_ = 0;                     // library threads waiting in catchUp()
    std::atomic<bool> stopping_{false};
};

} // namespace boardsim
