// A display sink for the tests: keeps every frame it is given.
#pragma once

#include "orb.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orbtest {

class RecordingSink : public OrbDisplaySink {
public:
    struct Frame {
        std::vector<uint8_t> grey;
        int width, height, zoomX, zoomY;
    };

    void orbFrame(const uint8_t* grey, int width, int height, int zoomX, int zoomY) override
    {
        std::lock_guard<std::mutex> lk(m_);
        if (detached_) afterDetach_ = true;
        frames_.push_back({std::vector<uint8_t>(grey, grey + size_t(width) * size_t(height)), width, height, zoomX, zoomY});
        cv_.notify_all();
    }
    void orbDetached() override
    {
        std::lock_guard<std::mutex> lk(m_);
        detached_ = true;
        ++detachCount_;
    }

    size_t count() const
    {
        std::lock_guard<std::mutex> lk(m_);
        return frames_.size();
    }
    Frame last() const
    {
        std::lock_guard<std::mutex> lk(m_);
        return frames_.empty() ? Frame{{}, 0, 0, 0, 0} : frames_.back();
    }
    bool detached() const
    {
        std::lock_guard<std::mutex> lk(m_);
        return detached_;
    }
    int detachCount() const
    {
        std::lock_guard<std::mutex> lk(m_);
        return detachCount_;
    }
    bool frameAfterDetach() const
    {
        std::lock_guard<std::mutex> lk(m_);
        return afterDetach_;
    }
    // Waits (at most a few seconds) until at least n frames came.
    bool waitFor(size_t n) const
    {
        std::unique_lock<std::mutex> lk(m_);
        return cv_.wait_for(lk, std::chrono::seconds(5), [&] { return frames_.size() >= n; });
    }

private:
    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::vector<Frame> frames_;
    bool detached_ = false, afterDetach_ = false;
    int detachCount_ = 0;
};

}  // namespace orbtest
