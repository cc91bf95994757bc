#pragma once
// The phase unwrapper: turns a wrapped phase map (radians, -pi..pi) into a continuous one.
//
// Steps, in the order UnwrapPhase runs them:
//   Prepare        marker := copy of the mask (or zeros), output := copy of the phase, and
//                  the residues of every 2 x 2 loop marked (MarkResidues);
//   Unwrap         a breadth-first flood fill from the start pixel that never enters a
//                  marked or masked pixel (FloodFill, CorrectPixel), then every marked run of
//                  a row replaced from its good neighbours (FillMaskedRuns), and with a mask
//                  every masked pixel set to the map's minimum (FillMaskedMinimum).
// Measured() then tells the pixels whose output is their own phase unwrapped along a path
// from the start pixel from those the fills gave their values or that no path reached.
// All arithmetic on phase values is 32-bit float; whole turns are added as 6.28318530718.
//
// Plain C++: no GUI. Errors are EAppError with a message for the operator.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>

// One queued pixel of the flood fill: the pixel, the pixel it was reached from (-2, -2 for
// the start pixel) and the number of whole turns added on the path that reached it.
struct TUnwrapNode {
    int32_t x;
    int32_t y;
    int32_t fromX;
    int32_t fromY;
    int32_t count;
};

// First-in first-out queue of flood-fill nodes in one ring allocated up front: pushing and
// popping never allocate. The flood fill needs at most one entry per pixel plus four.
//
// A node is kept in 8 bytes: the pixel (x and y below 65536), the side of the pixel it was
// reached from (always a neighbour, or none for the start pixel, pushed as -2, -2) and its
// turn count (|count| below 2^28). Push refuses anything else.
class TUnwrapQueue {
public:
    explicit TUnwrapQueue(size_t capacity);

    void Push(int32_t x, int32_t y, int32_t fromX, int32_t fromY, int32_t count)
    {
        if (count_ == capacity_) throw std::length_error("unwrap queue overflow");
        int32_t from;
        if (fromX == -2 && fromY == -2) from = kFromNone;
        else if (fromX == x && fromY == y + 1) from = kFromBelow;
        else if (fromX == x + 1 && fromY == y) from = kFromRight;
        else if (fromX == x && fromY == y - 1) from = kFromAbove;
        else if (fromX == x - 1 && fromY == y) from = kFromLeft;
        else throw std::invalid_argument("unwrap queue: a node must be reached from a neighbour");
        if (x < 0 || x > 0xFFFF || y < 0 || y > 0xFFFF || count <= -kMaxCount || count >= kMaxCount)
            throw std::invalid_argument("unwrap queue: pixel or count out of range");
        size_t tail = head_ + count_;
        if (tail >= capacity_) tail -= capacity_;
        ring_[tail] = Entry{static_cast<uint16_t>(x), static_cast<uint16_t>(y), count * 8 + from};
        ++count_;
    }
    // Removes the head and returns it.
    TUnwrapNode Pop()
    {
        if (count_ == 0) throw std::length_error("unwrap queue is empty");
        const Entry e = ring_[head_];
        if (++head_ == capacity_) head_ = 0;
        --count_;
        const int32_t from = e.countAndFrom & 7;
        const int32_t x = e.x, y = e.y;
        TUnwrapNode node{x, y, x, y, (e.countAndFrom - from) / 8};
        switch (from) {
        case kFromNone: node.fromX = node.fromY = -2; break;
        case kFromBelow: node.fromY = y + 1; break;
        case kFromRight: node.fromX = x + 1; break;
        case kFromAbove: node.fromY = y - 1; break;
        default: node.fromX = x - 1; break;
        }
        return node;
    }
    bool IsEmpty() const { return count_ == 0; }
    size_t Count() const { return count_; }
    size_t Capacity() const { return capacity_; }

    static constexpr int32_t kMaxCount = int32_t(1) << 28;

private:
    friend class TNewUnwrapForm;
    enum : int32_t { kFromNone, kFromBelow, kFromRight, kFromAbove, kFromLeft };
    struct Entry {
        uint16_t x;
        uint16_t y;
        int32_t countAndFrom;   // count * 8 + side
    };
    // For the flood fill, which pushes each pixel at most once and only from a neighbour:
    // the checks of Push are known to hold there.
    void PushChecked(int32_t x, int32_t y, int32_t from, int32_t count)
    {
        size_t tail = head_ + count_;
        if (tail >= capacity_) tail -= capacity_;
        ring_[tail] = Entry{static_cast<uint16_t>(x), static_cast<uint16_t>(y), count * 8 + from};
        ++count_;
    }
    // The entry `ahead` places behind the head (ahead < Count()).
    const Entry& PeekEntry(size_t ahead) const
    {
        size_t at = head_ + ahead;
        if (at >= capacity_) at -= capacity_;
        return ring_[at];
    }
    Entry PopEntry()
    {
        const Entry e = ring_[head_];
        if (++head_ == capacity_) head_ = 0;
        --count_;
        return e;
    }
    std::unique_ptr<Entry[]> ring_;
    size_t capacity_;
    size_t head_ = 0;
    size_t count_ = 0;
};

class TNewUnwrapForm {
public:
    // Whole turn and half turn as the unwrapper adds them.
    static constexpr double kTwoPi = 6.28318530718;
    static constexpr double kPi = 3.14159265359;
    // The jump limit: the float nearest to pi.
    static constexpr float kThreshold = 3.14159274f;
    // A 2 x 2 loop whose wrapped differences sum to more than this holds a residue.
    static constexpr double kResidueLimit = 0.01;
    // Largest map: the queue keeps columns and rows in 16 bits and turn counts below 2^28.
    static constexpr int32_t kMaxSide = 65535;
    static constexpr int64_t kMaxPixels = (int64_t(1) << 28) - 1;

    // phase: width x height wrapped values (borrowed, row-major); mask: width x height
    // bytes, 255 invalid (borrowed, may be null). Raises EAppError for a map without pixels,
    // one of more than kMaxSide pixels a side or kMaxPixels in all, and for a start pixel
    // outside the map.
    TNewUnwrapForm(int32_t width, int32_t height, const uint8_t* mask, const float* phase,
                   int32_t startX, int32_t startY);

    TNewUnwrapForm(const TNewUnwrapForm&) = delete;
    TNewUnwrapForm& operator=(const TNewUnwrapForm&) = delete;

    void Prepare();
    void MarkResidues(float limit, double residueLimit);
    // Runs the flood fill and the fills; needs Prepare first.
    void Unwrap();
    void FloodFill(int32_t startX, int32_t startY, float limit);
    // Adds k turns to pixel (x, y), then one turn more or less when it still differs from
    // the pixel it was reached from by more than limit; returns its new turn count.
    int32_t CorrectPixel(int32_t x, int32_t y, int32_t fx, int32_t fy, float limit, int32_t k)
    {
        if (fx < 0 || fy < 0) return 0;
        return CorrectAt(static_cast<size_t>(y) * width_ + x, static_cast<size_t>(fy) * width_ + fx,
                         limit, k);
    }
    void FillMaskedRuns();
    void FillMaskedMinimum();

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t StartX() const { return startX_; }
    int32_t StartY() const { return startY_; }
    float Threshold() const { return threshold_; }
    // Valid after Prepare.
    const uint8_t* Marker() const { return marker_.get(); }
    uint8_t* Marker() { return marker_.get(); }
    const float* Output() const { return output_.get(); }
    float* Output() { return output_.get(); }
    // After FloodFill: 1 where the output is the pixel's own phase plus the whole turns of
    // the path that reached it, 0 where no path reached the pixel (it keeps its wrapped
    // phase) or FillMaskedRuns replaced its value from its neighbours. Null before.
    const uint8_t* Measured() const { return measured_.get(); }
    // Hands the output over (the unwrapper holds none afterwards).
    std::unique_ptr<float[]> TakeOutput() { return std::move(output_); }
    // Frees the marker.
    void FreeMarker() { marker_.reset(); }

private:
    size_t Pixels() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    void RequirePrepared(const char* step) const;
    // CorrectPixel on output indices.
    int32_t CorrectAt(size_t i, size_t from, float limit, int32_t k)
    {
        float* out = output_.get();
        float& b = out[i];
        b += k * 2 * kPi;
        const float c = out[from];
        if (std::fabs(b - c) > limit) {
            if (b > c) {
                b = static_cast<float>(b - kTwoPi);
                return k - 1;
            }
            b = static_cast<float>(b + kTwoPi);
            return k + 1;
        }
        return k;
    }

    int32_t width_;
    int32_t height_;
    const uint8_t* mask_;
    const float* phase_;
    int32_t startX_;
    int32_t startY_;
    float threshold_ = kThreshold;
    std::unique_ptr<uint8_t[]> marker_;
    std::unique_ptr<float[]> output_;
    std::unique_ptr<uint8_t[]> measured_;
};
