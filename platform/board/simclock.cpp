// The machine's clock and its event queue.
#include "simclock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <sys/prctl.h>

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

} // namespace

SimClock::SimClock(ClockMode mode) : mode_(mode)
{
    if (mode_ == ClockMode::FreeRunning) markReal_ = realNanos();
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
    // Since the last spend the machine moves on by the larger of this bus time and the
    // real time elapsed: the bus time of an access passes while real time does.
    const uint64_t real = realNanos();
    const uint64_t elapsed = real > markReal_ ? real - markReal_ : 0;
    const uint64_t before = now_ + elapsed;
    now_ += std::max(nanos, elapsed);
    markReal_ = real;
    // The machine's thread sleeps until real time alone would bring the next event; bus
    // time that reaches it first wakes the thread.
    if (!events_.empty()) {
        const uint64_t next = events_.begin()->first.first;
        if (next > before && next <= now_) wake_.notify_all();
    }
}

uint64_t SimClock::realNanos() const
{
    return RealSinceEpoch();
}

double SimClock::seconds() const
{
    return static_cast<double>(mode_ == ClockMode::Virtual ? now_ : realNanos()) * 1e-9;
}

uint64_t SimClock::schedule(uint64_t at, std::string name, Action action)
{
    const uint64_t sequence = ++sequence_;
    events_.emplace(std::make_pair(at, sequence), Event{std::move(name), std::move(action)});
    wake_.notify_all();
    return sequence;
}

bool SimClock::cancel(uint64_t sequence)
{
    for (auto it = events_.begin(); it != events_.end(); ++it)
        if (it->first.second == sequence) {
            events_.erase(it);
            return true;
        }
    return false;
}

bool SimClock::popDue(uint64_t limit, Event& event, uint64_t& at)
{
    if (events_.empty() || events_.begin()->first.first > limit) return false;
    auto first = events_.begin();
    at = first->first.first;
    event = std::move(first->second);
    events_.erase(first);
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
    if (mode_ == ClockMode::Virtual) return now_;
    // Between spends the machine flows with real time.
    const uint64_t real = realNanos();
    return now_ + (real > markReal_ ? real - markReal_ : 0);
}

void SimClock::startThread(std::recursive_mutex& lock)
{
    if (mode_ != ClockMode::FreeRunning || thread_.joinable()) return;
    lock_ = &lock;
    thread_ = std::thread([this] {
        // A timed sleep of this thread ends when its time is up, not up to the kernel's
        // default slack of 50 us later: the next event may be a few microseconds away.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::unique_lock<std::recursive_mutex> hold(*lock_);
        while (!stopping_) {
            // One due event at a time, the machine left to others between events: a
            // machine that falls behind its events would otherwise hold it until it caught
            // up, and the library's register accesses would wait all that time.
            Event event;
            uint64_t due = 0;
            if (popDue(nowNanos(), event, due)) {
                fire(due, event);
                caughtUp_.notify_all();
                hold.unlock();
                std::this_thread::yield();
                hold.lock();
                continue;
            }
            caughtUp_.notify_all();
            if (events_.empty()) {
                wake_.wait(hold);
                continue;
            }
            // Real time alone brings the machine to the next event after the machine time
            // left; bus time may bring it sooner (spend() wakes the thread).
            const uint64_t now = nowNanos();
            const uint64_t at = events_.begin()->first.first;
            if (at <= now) continue;
            wake_.wait_for(hold, std::chrono::nanoseconds(at - now));
        }
        caughtUp_.notify_all();
    });
}

void SimClock::catchUp(std::unique_lock<std::recursive_mutex>& hold)
{
    if (mode_ != ClockMode::FreeRunning || !thread_.joinable() || std::this_thread::get_id() == thread_.get_id())
        return;
    const uint64_t target = nowNanos();
    if (stopping_ || !dueBy(target)) return;
    ++catchingUp_;
    wake_.notify_all();
    caughtUp_.wait_for(hold, std::chrono::nanoseconds(kCatchUpNanos), [&] { return stopping_ || !dueBy(target); });
    --catchingUp_;
    caughtUp_.notify_all();
}

void SimClock::stop()
{
    if (!thread_.joinable()) return;
    {
        // A library thread still waiting in catchUp() leaves before the clock goes.
        std::unique_lock<std::recursive_mutex> hold(*lock_);
        stopping_ = true;
        wake_.notify_all();
        caughtUp_.notify_all();
        caughtUp_.wait(hold, [&] { return catchingUp_ == 0; });
    }
    wake_.notify_all();
    thread_.join();
}

} // namespace boardsim
