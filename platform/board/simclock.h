// The clock of one simulated machine and the events scheduled on it.
//
// Virtual mode: time is a count of nanoseconds that moves only when something spends it:
// a hardware access or a driver request (the bus time it takes), a read of the clock by
// the library, a sleep, or a test's advance().  Events due on the way run in time order
// (equal times in the order they were scheduled), so a test gets the same events at the
// same times on every run.  Free-running mode: the library's clock and sleeps follow
// real time and a thread of the machine runs each event when real time reaches it; the
// bus time still counts accesses, so the board's own sequences stay the same.
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
// Free-running mode: how close a due event is waited for by yielding instead of sleeping.
constexpr uint64_t kSpinNanos = 100000;

class SimClock {
public:
    using Action = std::function<void()>;

    explicit SimClock(ClockMode mode) : mode_(mode) {}
    ~SimClock();
    SimClock(const SimClock&) = delete;
    SimClock& operator=(const SimClock&) = delete;

    ClockMode mode() const { return mode_; }
    // Bus time since the machine was built: the virtual clock, and in free-running mode
    // the time of the board's own sequences.
    uint64_t busNanos() const { return now_; }
    // Moves the bus time on without running events (the caller runs them at a safe point).
    void spend(uint64_t nanos) { now_ += nanos; }
    // The time events are scheduled in: the bus time, or real time in free-running mode.
    uint64_t nowNanos() const;
    // Seconds as the library reads them: the virtual time, or real time in free-running mode.
    double seconds() const;

    // Schedules an action at an absolute time (nanoseconds of the machine's clock); an
    // earlier time runs at the next safe point.  Returns the event's sequence number.
    uint64_t schedule(uint64_t at, std::string name, Action action);
    // Drops a scheduled event that has not run; false when there is none of that number.
    bool cancel(uint64_t sequence);
    // Runs the events due by the bus time (virtual) or by real time (free-running).
    int runDue();
    // Virtual mode: moves the time on by nanos, running the events due on the way.
    void advance(uint64_t nanos);
    // Virtual mode: runs events until none is left (at most limit), the time jumping to each.
    int runUntilIdle(int limit);
    bool idle() const { return events_.empty(); }
    std::vector<FiredEvent> log() const { return log_; }

    // Free-running mode: the machine's thread, started by the first event, runs events
    // under lock when real time reaches them.  It sleeps on a condition variable that
    // every schedule() signals; an event due within kSpinNanos is waited for by yielding
    // without the lock, since a timed sleep that short ends only after the kernel's timer
    // slack (tens of microseconds).  stop() ends it; the caller must not hold the lock.
    void startThread(std::recursive_mutex& lock);
    void stop();

private:
    struct Event {
        std::string name;
        Action action;
    };
    uint64_t realNanos() const;
    bool popDue(uint64_t limit, Event& event, uint64_t& at);
    void fire(uint64_t at, Event& event);

    const ClockMode mode_;
    uint64_t now_ = 0;
    uint64_t sequence_ = 0;
    std::map<std::pair<uint64_t, uint64_t>, Event> events_;   // by {time, sequence}
    std::vector<FiredEvent> log_;

    std::recursive_mutex* lock_ = nullptr;
    std::thread thread_;
    std::condition_variable_any wake_;
    std::atomic<bool> stopping_{false};
};

} // namespace boardsim
