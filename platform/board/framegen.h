// Frames of the scene in front of the simulated camera.  The machine asks the generator
// of its topology for each frame it needs; a test injects its own generator to control
// what the board sees.  Threads: render() and renderSamples() run with the machine lock
// held, on the thread that asked for the frame (a grab's start event: the machine's own
// thread, or the thread moving the virtual clock on), and must not reach the board.
#pragma once

#include <cstdint>

namespace boardsim {

// Rows whose samples count up by one per pixel: sample (x, y) is (first + step * y + x) & mask,
// mask + 1 a power of two.
struct RampRows {
    uint32_t first = 0;
    uint32_t step = 0;
    uint32_t mask = 0;
};

class FrameGenerator {
public:
    virtual ~FrameGenerator() = default;
    // Fills width x height 8-bit pixels, row after row, of frame number frame.
    virtual void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) = 0;
    // Fills width x height samples of camera channel 0-3, bits wide (8 or 10), of frame
    // number frame, as the grab engine digitizes them.  The default takes render()'s
    // pixels for every channel, shifted up to the width.
    virtual void renderSamples(uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width, uint32_t height,
                               uint16_t* samples);
    // True when the samples renderSamples() gives are the ramp rows of ramp, whatever the
    // frame's size: the grab engine then writes a line's runs from one table instead of
    // taking every sample.  The default: false.
    virtual bool ramps(uint64_t frame, uint32_t channel, uint32_t bits, RampRows& ramp) const;
};

// Diagonal stripes that move one pixel per frame: pixel (x, y) of frame n is
// (x + y + n) mod 256, so every row, column and frame can be told apart.
// Samples of channel c: (x + y + n + 64c) mod 256 at 8 bits, and the 10-bit variant
// (x + 4y + n + 256c) mod 1024, whose values use all ten bits within a 256-pixel line.
class TestPatternGenerator : public FrameGenerator {
public:
    void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) override;
    void renderSamples(uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width, uint32_t height,
                       uint16_t* samples) override;
    bool ramps(uint64_t frame, uint32_t channel, uint32_t bits, RampRows& ramp) const override;
    static uint32_t value(uint32_t x, uint32_t y, uint64_t frame, uint32_t channel, uint32_t bits);
    static RampRows rows(uint64_t frame, uint32_t channel, uint32_t bits);
};

} // namespace boardsim
