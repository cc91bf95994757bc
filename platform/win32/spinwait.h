// A short bounded spin before a blocking wait.
//
// A thread that is woken on an idle CPU waits for that CPU to come out of its idle state
// (40-50 us on a virtual machine, for a thread that slept as little as 20 us) before it
// runs; a thread that spins instead is running when the change it waits for comes.  So a
// wait whose change usually comes soon first looks for it for a while, then blocks: long
// enough for the hops of a command's round trip, which come 100-150 us apart when the
// threads are spread over CPUs.  It spins only when the thread may run on more than one
// CPU: on one CPU the spin would only keep the thread it waits for from running.
#pragma once

#include <chrono>
#include <cstdint>

#include <sched.h>

namespace spinwait {

// The longest a wait spins before it blocks.
constexpr std::chrono::nanoseconds kSpinLimit{150000};

// True when the calling thread may run on more than one CPU.  The answer is kept for the
// thread's next kAffinityReuse spins and then asked again (the program may pin its
// threads at any time): a round trip spins a dozen times, and asking each time would
// cost it a dozen system calls.  A thread pinned meanwhile spins in vain at most that many
// times before it notices.
constexpr uint32_t kAffinityReuse = 64;

inline bool Worthwhile()
{
    thread_local uint32_t left = 0;
    thread_local bool answer = false;
    if (left == 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        answer = sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
        left = kAffinityReuse;
    }
    --left;
    return answer;
}

inline void Pause()
{
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() answers true or the spin limit has passed; ready() is asked every
// few pauses.  Every few microseconds the spinner yields its CPU: a thread it has just
// woken may have been queued on that CPU and would otherwise wait out the whole spin.
// Returns the last answer (at once, false, where spinning is not worthwhile).
template <typename Ready>
bool SpinUntil(Ready ready)
{
    if (!Worthwhile()) return false;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t round = 1;; ++round) {
        for (int i = 0; i < 16; ++i) Pause();
        if (ready()) return true;
        if ((round & 3) == 0) {
            sched_yield();
            if (std::chrono::steady_clock::now() - start >= kSpinLimit) return false;
        }
    }
}

} // namespace spinwait
