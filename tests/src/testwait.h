// Deadlines for the waits of the library tests: a wait that does not end fails the test
// instead of hanging the test program.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <utility>

namespace testwait {

inline constexpr std::chrono::milliseconds kDeadline{5000};

// Polls done() every millisecond: true once it holds, false when it still does not hold
// after the deadline (it is asked once more at the deadline).
[[nodiscard]] inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kDeadline)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A thread that is joined with a deadline.  One that has not ended by then cannot be
// left behind, since it still uses the test's objects: the test program says which
// thread hung and ends with a failure.
class Thread {
public:
    Thread() = default;
    template <typename Body>
    explicit Thread(Body&& body) { Start(std::forward<Body>(body)); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { Join(); }

    template <typename Body>
    void Start(Body&& body, const char* name = "a test thread")
    {
        Join();
        name_ = name;
        ended_ = false;
        thread_ = std::thread([this, body = std::forward<Body>(body)]() mutable {
            body();
            ended_ = true;
        });
    }

    bool Running() const { return thread_.joinable() && !ended_; }

    // Joins the thread once it has ended; see above for one that does not.
    void Join(std::chrono::milliseconds limit = kDeadline)
    {
        if (!thread_.joinable()) return;
        if (!WaitUntil([this] { return ended_.load(); }, limit)) {
            std::fprintf(stderr, "%s did not end within %lld ms: ending the test program\n", name_,
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        }
        thread_.join();
    }

private:
    const char* name_ = "a test thread";
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace testwait
