// The grab engine of one Orlo: arming by the grab control, frames on the machine's clock,
// the start, line and end events, and the pixels of each frame written into the Orlo's
// board memory through the grab module's input LUTs.  What the registers mean is told at
// GrabEngineView (boardsim.h) and in regmap/orlo_regs.h.
//
// A register write only records and schedules: the Orlo calls written() after a write of
// the grab control or the line interrupt, and everything else happens in events of the
// machine's clock.  Guarded by SimState::mutex like the rest of the machine.
#pragma once

#include "simcore.h"

#include <cstdint>
#include <vector>

namespace boardsim {

// Default frame period of the simulated camera, and the length of a frame with period 0
// under the virtual and the free-running clock.  A free-running frame lasts long enough
// for the machine's thread to sleep without the machine lock while it waits for the
// frame's end, so library threads reach the board between frames instead of waiting for
// a lock the thread takes back at once.
constexpr uint64_t kDefaultFrameNanos = 33333333;
constexpr uint64_t kFastFrameNanos = 1000;
constexpr uint64_t kFastFrameFreeNanos = 250000;
// Largest raster the engine digitizes; a window beyond it is cut to it.
constexpr uint32_t kMaxRasterPixels = 8192;

class GrabEngine {
public:
    explicit GrabEngine(OrloChip* orlo) : orlo_(orlo) {}
    GrabEngine(const GrabEngine&) = delete;
    GrabEngine& operator=(const GrabEngine&) = delete;

    // A write of a grab register has landed (dword: its offset; before: the old value).
    void written(uint32_t dword, uint32_t before);
    void trigger();
    // The grab list waits for the last line of the window (simgrablist.cpp): the engine
    // tells it through GrabListEngine::grabEvent() once that line has been written.
    void listWaits();
    // The grab list stopped: its wait is over.
    void listStopped();
    // The library stopped the running list (a write of 0x2010 with bit 0 clear): the frame it
    // was placing block by block has no windows left and is dropped, like a stop, and so is
    // a frame the list had armed.
    void listHalted();
    // Bit 13 was written into the interrupt set register: the end source follows.
    void endRaised();
    // A VM list handed over by the grab list has begun (simvmxfer.cpp).
    void copyBegun();

    uint64_t periodNanos = kDefaultFrameNanos;
    uint32_t sampleBits = 8;
    uint32_t loseNext = 0;
    uint32_t overrunNext = 0;
    uint32_t overrunBit = kGrabStatusOverrun;   // the status bit the injected overruns set
    uint64_t started = 0, written_ = 0, lost = 0, aborted = 0, lineEvents = 0, strays = 0;
    int64_t lastFrame = -1;
    uint64_t lastFrameNanos = 0;   // start event to end event of the last frame that ended
    bool armed() const { return armed_; }
    uint64_t fastFrameNanos() const;
    bool inFlight() const { return flight_.active; }

private:
    // The registers a frame latches at its start.
    struct Latched {
        uint32_t hscale = 0, htotal = 0, hstart = 0, hstop = 0;
        uint32_t vscale = 0, vtotal = 0, vstart = 0, vstop = 0;
        uint32_t format = 0, control = 0, mask = 0, frameStart = 0, pitch = 0;
        uint32_t offsets[3] = {};
        uint32_t tagControl = 0, tagOffsets[3] = {}, tagPitch = 0;
    };
    struct Flight {
        bool active = false;
        bool lost = false;
        uint32_t overrun = 0;        // status bit set at the end
        uint64_t frame = 0;
        uint64_t begun = 0;          // clock time the start event ran
        uint64_t start = 0;          // clock time the frame's lines are timed from
        uint64_t length = 0;         // its duration
        uint32_t lines = 0;          // raster lines
        uint32_t linesDone = 0;      // raster lines written so far
        Latched regs;
        uint32_t rasterWidth = 0;
        bool listed = false;         // begun under the grab list: its window follows the registers
    };

    uint32_t reg(uint32_t offset) const;
    uint32_t& status();
    Board& board() const;
    uint32_t source(int primary, int display) const;
    bool stopped() const;
    void arm();
    void scheduleStart();
    void start(uint64_t frame, uint64_t at);
    void scheduleLine();
    void scheduleBand();
    void end();
    void finish();
    void stop();
    void sampleFrame(uint32_t height);
    uint32_t position(uint32_t line) const;      // order in which the frame writes a line
    uint32_t lineAt(uint32_t position) const;
    uint64_t positionTime(uint32_t position) const;
    void writeLines(uint32_t upTo);               // positions below upTo
    void writeLine(uint32_t line);
    bool listRunning() const;
    uint32_t windowLine(uint32_t line) const;
    void scheduleWindowEnd();
    void windowEnded(uint32_t position);

    OrloChip* orlo_;
    bool armed_ = false;            // a frame is armed (single or continuous) and waits
    bool triggered_ = false;        // a trigger came for the armed frame
    uint64_t startEvent_ = 0, lineEvent_ = 0, endEvent_ = 0;
    uint64_t bandEvent_ = 0;        // the next band of lines written while the frame passes
    bool listWaiting_ = false;      // the grab list waits for the end of the window
    bool scanDone_ = false;         // a listed frame's scan has passed its last line
    bool heldBlock_ = false;        // a window's end waits for a handed-over copy to begin
    uint32_t heldPosition_ = 0;
    uint64_t windowEvent_ = 0;      // the scheduled end of the window it waits for
    uint64_t raiseEvent_ = 0;       // the scheduled end source a write of bit 13 raised
    uint64_t fastFrames_ = 0;       // frames numbered under period 0
    Flight flight_;
    // The frame's LUT outputs, per channel, per raster sample (up to 3 bytes each).
    // The frame's samples of each channel and the LUT that maps them as it stood at the
    // frame's start (empty: the samples as they are); kept from frame to frame.
    std::vector<uint16_t> samples_[4];
    std::vector<uint32_t> maps_[4];
    // A channel of ramp rows keeps no samples: its ramp, and the low bytes of its outputs
    // along the ramp (fillRuns()).
    bool ramped_[4] = {};
    RampRows ramp_[4];
    std::vector<uint8_t> runs_[4];
    void fillRuns(uint32_t channel);
    uint32_t sample(uint32_t channel, size_t index) const
    {
        if (!ramped_[channel]) return samples_[channel][index];
        const RampRows& r = ramp_[channel];
        const size_t width = flight_.rasterWidth;
        return (r.first + r.step * static_cast<uint32_t>(index / width) + static_cast<uint32_t>(index % width)) & r.mask;
    }
    uint32_t value(uint32_t channel, size_t index) const
    {
        const uint32_t s = sample(channel, index);
        const std::vector<uint32_t>& map = maps_[channel];
        return map.empty() ? s : map[s & (map.size() - 1)];
    }
    bool twoByteEntries_ = false;   // the values are 16-bit (a wide LUT, or raw 10-bit samples)
    bool blue_ = false;             // blue mode: the first channel feeds every sample
};

// Samples of a width x height block of a frame from the machine's generator.
std::vector<uint16_t> RenderSamples(FrameGenerator& generator, uint64_t frame, uint32_t channel, uint32_t bits,
                                    uint32_t width, uint32_t height);
// The same into samples, whose storage is kept from call to call.
void RenderSamples(FrameGenerator& generator, uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width,
                   uint32_t height, std::vector<uint16_t>& samples);

} // namespace boardsim
