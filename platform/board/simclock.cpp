// The machine's clock and its event queue.
#include "simclock.h"

#include <chrono>
#include <thread>

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

SimClock::~SimClock()
{
    stop();
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
    const uint64_t limit = mode_ == ClockMode::Virtual ? now_ : realNanos();
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
    return mode_ == ClockMode::Virtual ? now_ : realNanos();
}

void SimClock::startThread(std::recursive_mutex& lock)
{
    if (mode_ != ClockMode::FreeRunning || thread_.joinable()) return;
    lock_ = &lock;
    thread_ = std::thread([this] {
        std::unique_lock<std::recursive_mutex> hold(*lock_);
        while (!stopping_) {
            // One due event at a time, the machine left to others between events: a
            // machine that falls behind its events would otherwise hold it until it caught
            // up, and the library's register accesses would wait all that time.
            Event event;
            uint64_t due = 0;
            if (popDue(realNanos(), event, due)) {
                fire(due, event);
                hold.unlock();
                std::this_thread::yield();
                hold.lock();
                continue;
            }
            if (events_.empty()) {
                wake_.wait(hold);
            } else {
                const uint64_t at = events_.begin()->first.first;
                const uint64_t now = realNanos();
                if (at <= now) continue;
                if (at - now > kSpinNanos) {
                    wake_.wait_for(hold, std::chrono::nanoseconds(at - now - kSpinNanos / 2));
                } else {
                    hold.unlock();
                    while (!stopping_ && realNanos() < at) std::this_thread::yield();
                    hold.lock();
                }
            }
        }
    });
}

void SimClock::stop()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::recursive_mutex> hold(*lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

} // namespace boardsim
