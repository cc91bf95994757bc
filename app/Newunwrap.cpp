#include "Newunwrap.h"

#include <cstring>
#include <string>

#include "Apperror.h"

TUnwrapQueue::TUnwrapQueue(size_t capacity)
    : ring_(capacity ? new Entry[capacity] : nullptr), capacity_(capacity)
{
}

TNewUnwrapForm::TNewUnwrapForm(int32_t width, int32_t height, const uint8_t* mask,
                               const float* phase, int32_t startX, int32_t startY)
    : width_(width), height_(height), mask_(mask), phase_(phase), startX_(startX),
      startY_(startY)
{
    if (width <= 0 || height <= 0)
        throw EAppError("The phase map has no pixels to unwrap");
    if (width > kMaxSide || height > kMaxSide || int64_t(width) * height > kMaxPixels)
        throw EAppError("A phase map of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels is too large to unwrap");
    if (!phase) throw EAppError("There is no phase to unwrap");
    if (startX < 0 || startX >= width || startY < 0 || startY >= height)
        throw EAppError("The unwrap start point (" + std::to_string(startX) + ", " +
                        std::to_string(startY) + ") lies outside the image of " +
                        std::to_string(width) + " x " + std::to_string(height) + " pixels");
}

void TNewUnwrapForm::RequirePrepared(const char* step) const
{
    if (!marker_ || !output_)
        throw std::logic_error(std::string("TNewUnwrapForm::") + step + " before Prepare");
}

void TNewUnwrapForm::Prepare()
{
    const size_t n = Pixels();
    marker_.reset(new uint8_t[n]);
    if (mask_)
        std::memcpy(marker_.get(), mask_, n);
    else
        std::memset(marker_.get(), 0, n);
    output_.reset(new float[n]);
    std::memcpy(output_.get(), phase_, n * sizeof(float));
    measured_.reset();
    MarkResidues(threshold_, kResidueLimit);
}

void TNewUnwrapForm::MarkResidues(float limit, double residueLimit)
{
    RequirePrepared("MarkResidues");
    const float* p = output_.get();
    uint8_t* mk = marker_.get();
    const size_t w = static_cast<size_t>(width_);
    // Wraps one difference of the loop into -pi..pi.
    auto wrap = [limit](float d) -> float {
        if (std::fabs(d) > limit) return static_cast<float>(d >= 0 ? d - kTwoPi : d + kTwoPi);
        return d;
    };
    for (int32_t y = 0; y + 1 < height_; ++y) {
        const float* r0 = p + y * w;
        const float* r1 = r0 + w;
        uint8_t* m0 = mk + y * w;
        uint8_t* m1 = m0 + w;
        for (int32_t x = 0; x + 1 < width_; ++x) {
            // Once around the loop (x, y) -> (x, y+1) -> (x+1, y+1) -> (x+1, y) -> (x, y).
            const float d1 = wrap(r1[x] - r0[x]);
            const float d2 = wrap(r1[x + 1] - r1[x]);
            const float d3 = wrap(r0[x + 1] - r1[x + 1]);
            const float d4 = wrap(r0[x] - r0[x + 1]);
            const float sum = d4 + (d3 + (d2 + (d1 + 0.0f)));
            if (std::fabs(sum) > residueLimit) {
                m0[x] = 255;
                m0[x + 1] = 255;
                m1[x] = 255;
                m1[x + 1] = 255;
            }
        }
    }
}

void TNewUnwrapForm::Unwrap()
{
    RequirePrepared("Unwrap");
    // The flood fill is blocked where the marker or the mask is 255. The marker starts as a
    // copy of the mask and residue marking only ever sets bytes to 255, so the marker itself
    // is that blocking map, with or without a mask.
    FloodFill(startX_, startY_, threshold_);
    FillMaskedRuns();
}

void TNewUnwrapForm::FloodFill(int32_t startX, int32_t startY, float limit)
{
    RequirePrepared("FloodFill");
    if (startX < 0 || startX >= width_ || startY < 0 || startY >= height_)
        throw EAppError("The unwrap start point (" + std::to_string(startX) + ", " +
                        std::to_string(startY) + ") lies outside the image of " +
                        std::to_string(width_) + " x " + std::to_string(height_) + " pixels");
    const size_t n = Pixels();
    const size_t w = static_cast<size_t>(width_);
    const uint8_t* block = marker_.get();

    // closed: blocked, or already queued. The start pixel is queued without being closed, so
    // when it is not blocked a neighbour queues it once more and it is corrected against
    // that neighbour.
    std::unique_ptr<uint8_t[]> closed(new uint8_t[n]);
    for (size_t i = 0; i < n; ++i) closed[i] = block[i] == 255;

    measured_.reset(new uint8_t[n]());
    uint8_t* measured = measured_.get();

    TUnwrapQueue queue(n + 4);
    queue.PushChecked(startX, startY, TUnwrapQueue::kFromNone, 0);
    // Where the pixel a node was reached from lies, by the side code of the queue.
    const ptrdiff_t fromOffset[5] = {0, ptrdiff_t(w), 1, -ptrdiff_t(w), -1};
    float* out = output_.get();
    while (!queue.IsEmpty()) {
        // The fill walks the map along diagonal fronts, so each pixel is a cache miss of its
        // own: fetch the pixels a few nodes ahead early.
        constexpr size_t kAhead = 24;
        if (queue.Count() > kAhead) {
            const TUnwrapQueue::Entry& later = queue.PeekEntry(kAhead);
            const size_t j = static_cast<size_t>(later.y) * w + later.x;
            __builtin_prefetch(out + j, 1);
            __builtin_prefetch(closed.get() + j - (j >= w ? w : 0), 1);
            __builtin_prefetch(closed.get() + j + (j + w < n ? w : 0), 1);
        }
        const TUnwrapQueue::Entry node = queue.PopEntry();
        const int32_t x = node.x;
        const int32_t y = node.y;
        const int32_t side = node.countAndFrom & 7;
        const size_t i = static_cast<size_t>(y) * w + static_cast<size_t>(x);
        const int32_t k = side == TUnwrapQueue::kFromNone
                              ? 0
                              : CorrectAt(i, i + fromOffset[side], limit, (node.countAndFrom - side) / 8);
        measured[i] = 1;
        // Neighbours in the order up, left, down, right; each is reached from (x, y).
        if (y > 0 && !closed[i - w]) {
            closed[i - w] = 1;
            queue.PushChecked(x, y - 1, TUnwrapQueue::kFromBelow, k);
        }
        if (x > 0 && !closed[i - 1]) {
            closed[i - 1] = 1;
            queue.PushChecked(x - 1, y, TUnwrapQueue::kFromRight, k);
        }
        if (y + 1 < height_ && !closed[i + w]) {
            closed[i + w] = 1;
            queue.PushChecked(x, y + 1, TUnwrapQueue::kFromAbove, k);
        }
        if (x + 1 < width_ && !closed[i + 1]) {
            closed[i + 1] = 1;
            queue.PushChecked(x + 1, y, TUnwrapQueue::kFromLeft, k);
        }
    }
}

// Row by row, every run of marked pixels (a 255 marker byte starts it, it goes on over
// non-zero marker bytes) is replaced from its good neighbours: interpolated between the
// pixel left of it (L) and the pixel right of it (R), or extended from the one that exists.
// Column 0 never starts a run; a run from column 1 with column 0 marked takes R for columns
// 0 onwards. The scan restarts the fill at every further 255 byte inside a run, with L the
// value just filled left of it; only the last fill started at or before a column counts, so
// each run is filled in one pass giving exactly the values of the repeated fills.
void TNewUnwrapForm::FillMaskedRuns()
{
    RequirePrepared("FillMaskedRuns");
    const int32_t w = width_;
    enum Mode { Interpolate, ExtendLeft, TakeRight, Keep };
    for (int32_t y = 0; y < height_; ++y) {
        float* row = output_.get() + static_cast<size_t>(y) * w;
        const uint8_t* mk = marker_.get() + static_cast<size_t>(y) * w;
        // A value filled here is no longer the pixel's own measured one.
        uint8_t* filled = measured_ ? measured_.get() + static_cast<size_t>(y) * w : nullptr;
        int32_t x = 1;
        while (x < w) {
            if (mk[x] != 255) {
                ++x;
                continue;
            }
            int32_t e = x;
            while (e + 1 < w && mk[e + 1] != 0) ++e;
            const bool toRowEnd = e == w - 1;
            const float R = toRowEnd ? 0.0f : row[e + 1];
            Mode mode = Keep;
            int32_t s = x;
            float L = 0.0f;
            for (int32_t c = x; c <= e; ++c) {
                if (mk[c] == 255) {
                    // A fill starts at column c.
                    s = c;
                    L = row[s - 1];
                    if (s > 1 || mk[0] != 255) {
                        mode = toRowEnd ? ExtendLeft : Interpolate;
                    } else {
                        mode = toRowEnd ? Keep : TakeRight;
                        if (mode == TakeRight) {
                            row[0] = R;
                            if (filled) filled[0] = 0;
                        }
                    }
                }
                if (filled && mode != Keep) filled[c] = 0;
                switch (mode) {
                case Interpolate:
                    row[c] = (c - (s - 1)) * (L - R) / ((s - 1) - (e + 1)) + L;
                    break;
                case ExtendLeft:
                    row[c] = L;
                    break;
                case TakeRight:
                    row[c] = R;
                    break;
                case Keep:
                    break;
                }
            }
            x = e + 1;
        }
    }
    if (mask_) FillMaskedMinimum();
}

void TNewUnwrapForm::FillMaskedMinimum()
{
    RequirePrepared("FillMaskedMinimum");
    if (!mask_) return;
    const size_t n = Pixels();
    float* out = output_.get();
    float m = 1e15f;
    for (size_t i = 0; i < n; ++i)
        if (out[i] < m) m = out[i];
    for (size_t i = 0; i < n; ++i)
        if (mask_[i] == 255) out[i] = m;
}
