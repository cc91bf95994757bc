// The interrupt words the simulated driver delivers on one board device, collected as
// the library's interrupt thread does: one pended wait at a time, pended again as soon as
// it completes.
#pragma once

#include "device.h"
#include "regmap/driver_requests.h"

#include <cstdint>
#include <vector>

namespace boardtest {

class InterruptWords {
public:
    explicit InterruptWords(DeviceHandle node) : node_(node) { overlapped_.event = &done_; }
    ~InterruptWords()
    {
        if (pended_ && !done_.isSet()) DeviceCancelIo(node_, &overlapped_);
    }
    InterruptWords(const InterruptWords&) = delete;
    InterruptWords& operator=(const InterruptWords&) = delete;

    // Enables a source at the driver (the driver delivers only while one is enabled) and
    // pends the wait; false when the driver refused either.
    bool enable(uint32_t source)
    {
        uint32_t request[2] = {source, 1};
        uint32_t bytes = 0;
        if (DeviceIoControl(node_, HLC_DRV_SOURCE_ENABLE, request, 8, request, 8, &bytes, nullptr) != kDeviceDone)
            return false;
        source_ = source;
        return pended_ || pend();
    }
    // Every word delivered since the last call, in order.
    std::vector<uint32_t> take()
    {
        std::vector<uint32_t> words;
        while (pended_ && done_.isSet()) {
            const uint32_t count = buffer_[1] <= HLC_WAIT_WORDS ? buffer_[1] : 0;
            words.insert(words.end(), buffer_ + 2, buffer_ + 2 + count);
            done_.reset();
            pended_ = false;
            if (!pend()) break;
        }
        return words;
    }

private:
    bool pend()
    {
        buffer_[0] = source_;
        buffer_[1] = 0;
        uint32_t bytes = 0;
        const DeviceResult r =
            DeviceIoControl(node_, HLC_DRV_INTERRUPT_WAIT, buffer_, 8, buffer_, HLC_WAIT_BUFFER_BYTES, &bytes, &overlapped_);
        pended_ = r != kDeviceFailed;
        return pended_;
    }

    DeviceHandle node_;
    uint32_t source_ = 0;
    uint32_t buffer_[HLC_WAIT_BUFFER_BYTES / 4] = {};
    DeviceEvent done_{true, false};
    DeviceOverlapped overlapped_;
    bool pended_ = false;
};

// The words a board source is delivered as: its special word, then its plain word.
inline std::vector<uint32_t> SourceWords(uint32_t source)
{
    const uint32_t word = ((source / 32) << 22) | (1u << (source % 32));
    return {0x80000000u | word, word};
}

} // namespace boardtest
