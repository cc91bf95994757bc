// Frames of the scene in front of the simulated camera.  The machine asks the generator
// of its topology for each frame it needs; a test injects its own generator to control
// what the board sees.  Threads: render() runs with the machine lock held, on the thread
// that asked for the frame, and must not reach the board.
#pragma once

#include <cstdint>

namespace boardsim {

class FrameGenerator {
public:
    virtual ~FrameGenerator() = default;
    // Fills width x height 8-bit pixels, row after row, of frame number frame.
    virtual void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) = 0;
};

// Diagonal stripes that move one pixel per frame: pixel (x, y) of frame n is
// (x + y + n) mod 256, so every row, column and frame can be told apart.
class TestPatternGenerator : public FrameGenerator {
public:
    void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) override;
};

} // namespace boardsim
