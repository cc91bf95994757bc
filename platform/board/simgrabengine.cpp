// The Orlo's grab engine on the machine's clock (see simgrabengine.h and GrabEngineView).
//
// Life of a grab: a write of the grab control that arms it (bit 2, or bit 1 held) with
// bit 0 clear sets the armed status bit and schedules the start at the next frame that
// begins (after a trigger in triggered mode).  The start latches the registers, takes the
// frame's samples from the generator and passes them through the module's LUTs as they
// stand then, and raises the start source.  Lines are written as the frame's time passes
// them: at the line interrupt (which raises the line source) and at the end, which raises
// the end source and, while bit 1 stays set or another frame was armed, arms the next;
// in between, a band of lines at a time as the scan passes it, so that the end has only
// the last band to write.
// A stop (bit 0) drops all of it without events.
#include "simgrabengine.h"

#include "boardsim.h"
#include "simgrab.h"
#include "simgrablist.h"
#include "simvmxfer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>

namespace boardsim {

namespace {

constexpr uint32_t kRasterLimit = kMaxRasterPixels;
// Raster lines of a band.
constexpr uint32_t kBandLines = 64;

int32_t Signed26(uint32_t value)
{
    const uint32_t v = value & kGrabAddressMask;
    return (v & 0x2000000u) ? static_cast<int32_t>(v) - 0x4000000 : static_cast<int32_t>(v);
}

uint32_t Channels(uint32_t format)
{
    return (format & kPixFmtChannelMask) >> kPixFmtChannelShift;
}

} // namespace

// ---------------------------------------------------------------- frame generators

void FrameGenerator::renderSamples(uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width, uint32_t height,
                                   uint16_t* samples)
{
    (void)channel;
    // The pixels of the last frame of this thread stay allocated for the next.
    thread_local std::vector<uint8_t> pixels;
    pixels.resize(static_cast<size_t>(width) * height);
    if (pixels.empty()) return;
    render(frame, width, height, pixels.data());
    const uint32_t shift = bits > 8 ? bits - 8 : 0;
    for (size_t i = 0; i < pixels.size(); ++i) samples[i] = static_cast<uint16_t>(pixels[i] << shift);
}

uint32_t TestPatternGenerator::value(uint32_t x, uint32_t y, uint64_t frame, uint32_t channel, uint32_t bits)
{
    if (bits > 8) return static_cast<uint32_t>((x + 4ull * y + frame + 256ull * channel) & 0x3FF);
    return static_cast<uint32_t>((x + static_cast<uint64_t>(y) + frame + 64ull * channel) & 0xFF);
}

bool FrameGenerator::ramps(uint64_t, uint32_t, uint32_t, RampRows&) const
{
    return false;
}

RampRows TestPatternGenerator::rows(uint64_t frame, uint32_t channel, uint32_t bits)
{
    return RampRows{value(0, 0, frame, channel, bits), bits > 8 ? 4u : 1u, bits > 8 ? 0x3FFu : 0xFFu};
}

bool TestPatternGenerator::ramps(uint64_t frame, uint32_t channel, uint32_t bits, RampRows& ramp) const
{
    ramp = rows(frame, channel, bits);
    return true;
}

void TestPatternGenerator::renderSamples(uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width,
                                         uint32_t height, uint16_t* samples)
{
    // A row is its first value counting up, modulo the sample range: every row is a run of
    // one table of the range followed by a row's width.
    const RampRows ramp = rows(frame, channel, bits);
    thread_local std::vector<uint16_t> table;
    table.resize(size_t{ramp.mask} + 1 + width);
    for (size_t k = 0; k < table.size(); ++k) table[k] = static_cast<uint16_t>(k & ramp.mask);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(samples + static_cast<size_t>(y) * width, table.data() + ((ramp.first + ramp.step * y) & ramp.mask),
                    width * sizeof(uint16_t));
}

void RenderSamples(FrameGenerator& generator, uint64_t frame, uint32_t channel, uint32_t bits, uint32_t width,
                   uint32_t height, std::vector<uint16_t>& samples)
{
    samples.resize(static_cast<size_t>(width) * height);
    if (!samples.empty()) generator.renderSamples(frame, channel, bits, width, height, samples.data());
}

std::vector<uint16_t> RenderSamples(FrameGenerator& generator, uint64_t frame, uint32_t channel, uint32_t bits,
                                    uint32_t width, uint32_t height)
{
    std::vector<uint16_t> samples;
    RenderSamples(generator, frame, channel, bits, width, height, samples);
    return samples;
}

// ---------------------------------------------------------------- the Orlo's side

void GrabEngineDelete::operator()(GrabEngine* engine) const
{
    delete engine;
}

GrabEngine& OrloChip::grabEngine()
{
    if (!grabEngine_) grabEngine_.reset(new GrabEngine(this));
    return *grabEngine_;
}

uint8_t* RamChip::data()
{
    if (bytes_.empty()) bytes_.assign(size_, 0);
    return bytes_.data();
}

// ---------------------------------------------------------------- engine

uint32_t GrabEngine::reg(uint32_t offset) const
{
    return orlo_->regs_[offset / 4];
}

uint32_t& GrabEngine::status()
{
    return orlo_->regs_[kOrloGrabStatus / 4];
}

Board& GrabEngine::board() const
{
    return *orlo_->board_;
}

uint32_t GrabEngine::source(int primary, int display) const
{
    return orlo_->source(primary, display);
}

uint64_t GrabEngine::fastFrameNanos() const
{
    return board().clock->mode() == ClockMode::FreeRunning ? kFastFrameFreeNanos : kFastFrameNanos;
}

bool GrabEngine::stopped() const
{
    return (reg(kOrloGrabControl) & kGrabControlStop) != 0;
}

void GrabEngine::written(uint32_t dword, uint32_t before)
{
    if (dword == kOrloGLNINT) {
        scheduleLine();
        return;
    }
    const uint32_t control = reg(kOrloGrabControl);
    if (control & kGrabControlStop) {
        if (armed_ || flight_.active || startEvent_) stop();
        return;
    }
    if (control & (kGrabControlSingle | kGrabControlContinuous)) {
        arm();
        return;
    }
    // Triggering switched off while a frame waited for its trigger: it starts now.
    if (armed_ && !(control & kGrabControlTrigger) && (before & kGrabControlTrigger)) scheduleStart();
}

void GrabEngine::arm()
{
    if (armed_) return;   // armed again before the armed frame began: the arm latch is set
    if (flight_.active && scanDone_) finish();   // the list has gone on to the next frame
    if (flight_.active) {
        // A frame in flight: a single arm waits for its end; continuous grabbing goes on
        // by itself.
        if (reg(kOrloGrabControl) & kGrabControlSingle) {
            armed_ = true;
            status() |= kGrabStatusArmed;
        }
        return;
    }
    armed_ = true;
    triggered_ = false;
    status() |= kGrabStatusArmed;
    orlo_->interrupts_ &= ~(kInterruptGrabStart | kInterruptGrabEnd);
    if (!orlo_->display_) orlo_->regs_[kOrloBlockStatus / 4] &= ~kBlockStatusEnd;
    scheduleStart();
}

void GrabEngine::trigger()
{
    if (!armed_ || triggered_ || !(reg(kOrloGrabControl) & kGrabControlTrigger)) return;
    triggered_ = true;
    scheduleStart();
}

void GrabEngine::scheduleStart()
{
    if (startEvent_ || !armed_ || flight_.active) return;
    if ((reg(kOrloGrabControl) & kGrabControlTrigger) && !triggered_) return;
    SimClock& clock = *board().clock;
    const uint64_t now = clock.nowNanos();
    uint64_t at = now;
    uint64_t frame = 0;
    if (periodNanos == 0) {
        frame = fastFrames_++;
    } else {
        frame = (now + periodNanos - 1) / periodNanos;
        at = frame * periodNanos;
    }
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab start board " +
                             std::to_string(board().index);
    startEvent_ = board().machine->scheduleEvent(at, name, [this, frame, at] {
        startEvent_ = 0;
        start(frame, at);
    });
}

void GrabEngine::start(uint64_t frame, uint64_t at)
{
    if (stopped() || !armed_) return;
    armed_ = false;
    triggered_ = false;
    flight_.begun = board().clock->nowNanos();
    Latched& r = flight_.regs;
    r.hscale = reg(kOrloGHSCLNG);
    r.htotal = reg(kOrloGHTOTAL);
    r.hstart = reg(kOrloGHWSTART) & 0xFFFF;
    r.hstop = reg(kOrloGHWSTOP) & 0xFFFF;
    r.vscale = reg(kOrloGVSCLNG);
    r.vtotal = reg(kOrloGVTOTAL);
    r.vstart = reg(kOrloGVWSTART) & 0xFFFF;
    r.vstop = reg(kOrloGVWSTOP) & 0xFFFF;
    r.format = reg(kOrloGPIXFMT);
    r.control = reg(kOrloGrabControl);
    r.mask = reg(kOrloGDWRTMSK);
    r.frameStart = reg(kOrloGFSTART);
    r.pitch = reg(kOrloGLPITCH);
    r.offsets[0] = reg(kOrloGC1FOFF);
    r.offsets[1] = reg(kOrloGC2FOFF);
    r.offsets[2] = reg(kOrloGC3FOFF);
    r.tagControl = reg(kOrloGTAGCTL);
    r.tagOffsets[0] = reg(kOrloGC1TOFF);
    r.tagOffsets[1] = reg(kOrloGC2TOFF);
    r.tagOffsets[2] = reg(kOrloGC3TOFF);
    r.tagPitch = reg(kOrloGTLPITCH);

    flight_.active = true;
    flight_.frame = frame;
    flight_.length = periodNanos ? periodNanos : fastFrameNanos();
    flight_.lines = std::min<uint32_t>((r.vtotal & 0xFFFF) + 1, kRasterLimit);
    flight_.rasterWidth = std::min<uint32_t>((r.htotal & 0xFFFF) + 2, kRasterLimit);
    flight_.linesDone = 0;
    flight_.listed = listRunning();
    flight_.lost = loseNext > 0;
    if (loseNext) --loseNext;
    flight_.overrun = overrunNext > 0 ? overrunBit : 0;
    if (overrunNext) --overrunNext;
    for (auto& v : samples_) v.clear();
    // A frame under the grab list takes every raster line: its window moves block by block.
    if (!flight_.lost) sampleFrame(flight_.listed ? flight_.lines : std::min(flight_.lines, r.vstop + 1));
    // Timed from the end of the work: on the free-running clock the machine's thread then
    // lets go of the machine between frames.
    flight_.start = std::max(at, board().clock->nowNanos());

    status() = (status() & ~kGrabStatusArmed) | kGrabStatusInFlight;
    orlo_->interrupts_ = (orlo_->interrupts_ & ~kInterruptGrabEnd) | kInterruptGrabStart;
    ++started;
    lastFrame = static_cast<int64_t>(frame);
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab end board " +
                             std::to_string(board().index);
    endEvent_ = board().machine->scheduleEvent(flight_.start + flight_.length, name, [this] {
        endEvent_ = 0;
        end();
    });
    board().machine->deliverSource(board().index, source(kGrabStartSourcePrimary, kGrabStartSourceDisplay));
    scheduleLine();
    scheduleBand();
    scheduleWindowEnd();
}

// Raster position of a line: a frame of two fields writes the even lines first.
uint32_t GrabEngine::position(uint32_t line) const
{
    if (!(flight_.regs.control & kGrabControlFrame)) return line;
    const uint32_t even = (flight_.lines + 1) / 2;
    return (line & 1) ? even + line / 2 : line / 2;
}

uint32_t GrabEngine::lineAt(uint32_t position) const
{
    if (!(flight_.regs.control & kGrabControlFrame)) return position;
    const uint32_t even = (flight_.lines + 1) / 2;
    return position < even ? 2 * position : 2 * (position - even) + 1;
}

uint64_t GrabEngine::positionTime(uint32_t position) const
{
    // Every line is written before the end event of the frame.
    return flight_.start + flight_.length * (static_cast<uint64_t>(position) + 1) / (flight_.lines + 1);
}

void GrabEngine::scheduleLine()
{
    if (lineEvent_) board().clock->cancel(lineEvent_);
    lineEvent_ = 0;
    if (!flight_.active) return;
    if (!(reg(kOrloGrabControl) & kGrabControlLineMask)) return;
    const uint32_t line = reg(kOrloGLNINT) & 0xFFFF;
    if (line >= flight_.lines) return;
    const uint32_t pos = position(line);
    if (pos < flight_.linesDone) return;   // already behind the beam
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab line board " +
                             std::to_string(board().index);
    lineEvent_ = board().machine->scheduleEvent(positionTime(pos), name, [this, pos] {
        lineEvent_ = 0;
        writeLines(pos + 1);
        ++lineEvents;
        board().machine->deliverSource(board().index, source(kGrabLineSourcePrimary, kGrabLineSourceDisplay));
    });
}

// The next band of the frame's lines, written when the scan has passed it.  A frame under
// the grab list writes its lines block by block as the list places them, a lost frame none.
void GrabEngine::scheduleBand()
{
    if (bandEvent_) board().clock->cancel(bandEvent_);
    bandEvent_ = 0;
    if (!flight_.active || flight_.listed || flight_.lost) return;
    const uint32_t upTo = (flight_.linesDone / kBandLines + 1) * kBandLines;
    if (upTo >= flight_.lines) return;   // the end writes the last band
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab band board " +
                             std::to_string(board().index);
    bandEvent_ = board().machine->scheduleEvent(positionTime(upTo - 1), name, [this, upTo] {
        bandEvent_ = 0;
        writeLines(upTo);
        scheduleBand();
    });
}

void GrabEngine::end()
{
    for (uint64_t* event : {&lineEvent_, &bandEvent_}) {
        if (*event) board().clock->cancel(*event);
        *event = 0;
    }
    if (flight_.listed && listRunning() && !armed_) {
        // The scan has passed the frame's last line, but the list has not placed all of
        // it yet (it has not armed the next frame): the lines wait for the list's windows,
        // so a list that falls behind the machine's clock loses no block.  The frame ends
        // when the list is done with it.
        scanDone_ = true;
        status() &= ~kGrabStatusInFlight;
        scheduleWindowEnd();
        return;
    }
    finish();
}

void GrabEngine::finish()
{
    scanDone_ = false;
    if (flight_.lost) {
        ++lost;
        uint32_t& check = orlo_->regs_[kOrloGrabCheck / 4];
        check = (check & ~kGrabAddressMask) | kLostGrabMark;
    } else {
        writeLines(flight_.lines);
        ++written_;
    }
    status() |= flight_.overrun;
    status() &= ~kGrabStatusInFlight;
    flight_.active = false;
    lastFrameNanos = board().clock->nowNanos() - flight_.begun;
    // The frame's samples are dropped, their room is kept for the next frame: handing a
    // frame's worth of memory back to the system and taking it again cost more than the
    // grab's own end-of-frame work, between the frame's end and its interrupt.
    for (auto& v : samples_) v.clear();
    // A frame under the grab list has no end event of its own: the list raises it.
    if (!flight_.listed) {
        orlo_->interrupts_ |= kInterruptGrabEnd;
        board().machine->deliverSource(board().index, source(kGrabEndSourcePrimary, kGrabEndSourceDisplay));
    }
    if (stopped()) return;
    if (armed_ || (reg(kOrloGrabControl) & kGrabControlContinuous)) {
        armed_ = true;
        status() |= kGrabStatusArmed;
        scheduleStart();
    }
}

// ---------------------------------------------------------------- under the grab list

bool GrabEngine::listRunning() const
{
    return orlo_->grabList().running();
}

// The window's line number of a raster line: in a frame of two fields under the grab list
// the window counts the lines of each field.
uint32_t GrabEngine::windowLine(uint32_t line) const
{
    return (flight_.listed && (flight_.regs.control & kGrabControlFrame)) ? line / 2 : line;
}

void GrabEngine::listWaits()
{
    listWaiting_ = true;
    scheduleWindowEnd();
}

void GrabEngine::listStopped()
{
    listWaiting_ = false;
    heldBlock_ = false;
    if (windowEvent_) board().clock->cancel(windowEvent_);
    windowEvent_ = 0;
    if (flight_.active && scanDone_) finish();
}

void GrabEngine::listHalted()
{
    // A frame armed while the list ran is the list's too (the library arms none of its own
    // while a list runs).
    if ((flight_.active && flight_.listed) || armed_) stop();
}

// The list waits for the window's last line: the next raster line still ahead of the scan
// whose window line it is (in the next field when this field has passed it).  When the
// frame holds none, the wait goes on into the next frame.
void GrabEngine::scheduleWindowEnd()
{
    if (windowEvent_) board().clock->cancel(windowEvent_);
    windowEvent_ = 0;
    if (!listWaiting_ || !flight_.active || !flight_.listed) return;
    const uint32_t last = reg(kOrloGVWSTOP) & 0xFFFF;
    for (uint32_t p = flight_.linesDone; p < flight_.lines; ++p) {
        if (windowLine(lineAt(p)) != last) continue;
        const uint64_t at = std::max(positionTime(p), board().clock->nowNanos());
        const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab block board " +
                                 std::to_string(board().index);
        windowEvent_ = board().machine->scheduleEvent(at, name, [this, p] {
            windowEvent_ = 0;
            windowEnded(p);
        });
        return;
    }
}

// The window's last line is written: the block's end bits, and the list goes on.
void GrabEngine::windowEnded(uint32_t position)
{
    // A block goes into the half whose copy was handed over two blocks before: while a
    // handed-over copy has not begun, the block waits, so a scan faster than the copies
    // (frame period 0, or a list late behind the free-running clock) never overwrites a
    // half before it is copied.
    if (orlo_->transferEngine().listQueued()) {
        heldBlock_ = true;   // copyBegun() takes it on
        heldPosition_ = position;
        return;
    }
    heldBlock_ = false;
    writeLines(position + 1);
    orlo_->interrupts_ |= kInterruptGrabEnd;
    if (!orlo_->display_) orlo_->regs_[kOrloBlockStatus / 4] |= kBlockStatusEnd;
    listWaiting_ = false;
    orlo_->grabList().grabEvent();
}

// A VM list handed over by the grab list has begun: a block held for it goes on.
void GrabEngine::copyBegun()
{
    if (!heldBlock_ || windowEvent_) return;
    const uint32_t position = heldPosition_;
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab block board " +
                             std::to_string(board().index);
    windowEvent_ = board().machine->scheduleEvent(board().clock->nowNanos(), name, [this, position] {
        windowEvent_ = 0;
        windowEnded(position);
    });
}

void GrabEngine::endRaised()
{
    if (raiseEvent_) return;
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab end raised board " +
                             std::to_string(board().index);
    raiseEvent_ = board().machine->scheduleEvent(board().clock->nowNanos(), name, [this] {
        raiseEvent_ = 0;
        board().machine->deliverSource(board().index, source(kGrabEndSourcePrimary, kGrabEndSourceDisplay));
    });
}

void GrabEngine::stop()
{
    SimClock& clock = *board().clock;
    for (uint64_t* event : {&startEvent_, &lineEvent_, &bandEvent_, &endEvent_, &windowEvent_}) {
        if (*event) clock.cancel(*event);
        *event = 0;
    }
    if (flight_.active) ++aborted;
    flight_.active = false;
    scanDone_ = false;
    heldBlock_ = false;
    for (auto& v : samples_) v.clear();
    armed_ = false;
    triggered_ = false;
    status() &= ~(kGrabStatusInFlight | kGrabStatusArmed);
}

// ---------------------------------------------------------------- pixels

// Takes the frame's samples of every channel the pixel format uses and passes them
// through the module's LUTs as they stand at the frame's start.
void GrabEngine::sampleFrame(uint32_t height)
{
    const Latched& r = flight_.regs;
    const uint32_t width = flight_.rasterWidth;
    uint32_t nibble = Channels(r.format);
    if (nibble == 0) nibble = 1;
    Board& b = board();
    GrabModuleChip* module = b.grab && b.grab->fitted() ? b.grab : nullptr;
    const uint64_t now = b.clock->nowNanos();
    if (module)
        for (auto& port : module->lut) port.settle(now);
    const uint32_t bits = sampleBits > 8 ? 10 : 8;
    const uint32_t lutpal = module ? module->reg(grabregs::DIG_LUTPAL) : 0;
    const uint32_t mode = (lutpal >> 13) & 3;
    // Blue mode: the first channel's sample addresses every band of the LUT.
    blue_ = module && !module->sorvikPort() && mode == 0 && (module->reg(grabregs::DIG_GPCTL) & 0x20);
    if (blue_) nibble &= ~(nibble - 1);
    for (uint32_t c = 0; c < 4; ++c) {
        if (!(nibble & (1u << c))) continue;
        // Ramp rows are not rendered: a sample is worked out where it is needed, and a
        // plain line is copied from the table of the LUT's outputs along the ramp.
        ramped_[c] = b.machine->frames->ramps(flight_.frame, c, bits, ramp_[c]);
        if (ramped_[c])
            samples_[c].clear();
        else
            RenderSamples(*b.machine->frames, flight_.frame, c, bits, width, height, samples_[c]);
        std::vector<uint32_t>& map = maps_[c];
        if (!module) {
            map.clear();   // the samples as they are
        } else {
            // The LUT as it maps each possible sample value at the frame's start; the lines
            // look their samples up in it as they are written.
            const uint32_t palette = c < 2 ? (lutpal & 0x1F) : ((lutpal >> 8) & 0x1F);
            map.resize(size_t{1} << bits);
            for (uint32_t s = 0; s < map.size(); ++s) {
                if (module->sorvikPort()) {
                    const uint32_t page = mode ? 28 + mode : palette;
                    map[s] = module->sorvik.band[c][(page * 256 + s) % grabregs::kLutMemoryEntries];
                } else if (mode) {
                    const LutPortModel& lut = module->lut[c < 2 ? 0 : 1];
                    map[s] = lut.band[c & 1][(28 + mode) * 256 + (s >> (bits - 8))];
                } else {
                    const LutPortModel& lut = module->lut[c < 2 ? 0 : 1];
                    const uint32_t entry = (palette * 256 + s) % grabregs::kLutMemoryEntries;
                    map[s] = lut.band[0][entry] | (lut.band[1][entry] << 8) | (lut.band[2][entry] << 16);
                }
            }
        }
        if (ramped_[c]) fillRuns(c);
    }
    twoByteEntries_ = module ? (!module->sorvikPort() && mode == 0) : bits > 8;
}

// The low byte of each output along the ramp of a channel, over the sample range and a
// raster line beyond it, so that any line's window is one run of it.
void GrabEngine::fillRuns(uint32_t channel)
{
    const RampRows& ramp = ramp_[channel];
    const std::vector<uint32_t>& map = maps_[channel];
    std::vector<uint8_t>& runs = runs_[channel];
    runs.resize(size_t{ramp.mask} + 1 + flight_.rasterWidth);
    const uint32_t mapMask = map.empty() ? 0 : static_cast<uint32_t>(map.size() - 1);
    for (size_t k = 0; k < runs.size(); ++k) {
        const uint32_t sample = static_cast<uint32_t>(k) & ramp.mask;
        runs[k] = static_cast<uint8_t>(map.empty() ? sample : map[sample & mapMask]);
    }
}

void GrabEngine::writeLines(uint32_t upTo)
{
    if (flight_.lost) {
        flight_.linesDone = std::max(flight_.linesDone, std::min(upTo, flight_.lines));
        return;
    }
    while (flight_.linesDone < upTo && flight_.linesDone < flight_.lines) writeLine(lineAt(flight_.linesDone++));
}

void GrabEngine::writeLine(uint32_t y)
{
    // Under the grab list the window and the frame addresses are the registers as they
    // stand when the line is written.
    Latched live = flight_.regs;
    if (flight_.listed) {
        live.vstart = reg(kOrloGVWSTART) & 0xFFFF;
        live.vstop = reg(kOrloGVWSTOP) & 0xFFFF;
        live.frameStart = reg(kOrloGFSTART);
        live.pitch = reg(kOrloGLPITCH);
        live.offsets[0] = reg(kOrloGC1FOFF);
        live.offsets[1] = reg(kOrloGC2FOFF);
        live.offsets[2] = reg(kOrloGC3FOFF);
    }
    const Latched& r = live;
    const uint32_t wy = windowLine(y);
    const uint32_t dy = (r.vscale & 15) + 1, zy = ((r.vscale >> 4) & 3) + 1;
    const uint32_t dx = (r.hscale & 15) + 1, zx = ((r.hscale >> 4) & 3) + 1;
    if (wy < r.vstart || wy > r.vstop || (wy - r.vstart) % dy) return;
    const uint32_t width = flight_.rasterWidth;
    if (r.hstart >= width) return;

    // Pixel layout.
    const uint32_t bytes = (r.format & kPixFmtBytesMask) + 1;
    const uint32_t samplesPerPixel = ((r.format & kPixFmtSamplesMask) >> kPixFmtSamplesShift) + 1;
    uint32_t nibble = Channels(r.format);
    if (nibble == 0) nibble = 1;
    if (blue_) nibble &= ~(nibble - 1);
    uint32_t channel[4] = {};
    uint32_t found = 0;
    for (uint32_t c = 0; c < 4 && found < 4; ++c)
        if (nibble & (1u << c)) channel[found++] = c;
    const bool oneEntry = found == 1 && samplesPerPixel > 1;
    for (uint32_t k = found; k < 4; ++k) channel[k] = channel[found ? found - 1 : 0];
    const bool planar = samplesPerPixel > bytes;
    const uint32_t sampleBytes = samplesPerPixel == 1 ? bytes : planar ? bytes : bytes / samplesPerPixel;
    const uint32_t shift = (r.format & kPixFmtShiftMask) >> kPixFmtShiftShift;
    const bool reverse = (r.control & kGrabControlAltOrder) && sampleBytes == 3;
    const bool tags = (r.tagControl & kTagControlEnable) != 0;

    Board& b = board();
    RamChip* memory = orlo_->display_ ? b.displayMemory.get() : b.primaryMemory.get();
    if (!memory) return;
    const uint32_t top = orlo_->display_ ? kDisplayMemoryTop : kPrimaryMemoryTop;
    const uint32_t size = memory->size();
    const uint32_t first = top - size;
    uint8_t* mem = memory->data();
    auto locate = [&](int64_t address, uint8_t** at) {
        const uint32_t a = static_cast<uint32_t>(address) & kGrabAddressMask;
        if (a < first || a >= top) return false;
        *at = mem + (a - first);
        return true;
    };

    const size_t row = static_cast<size_t>(y) * width;
    const int64_t pitch = Signed26(r.pitch);
    const int64_t tagPitch = Signed26(r.tagPitch);
    const uint32_t lineBase = (wy - r.vstart) / dy * zy;
    const uint32_t last = std::min(r.hstop, width - 1);
    const uint32_t count = r.hstop >= r.hstart ? (last - r.hstart) / dx + 1 : 0;
    // The common line: one plain byte per pixel, every bit written, inside the memory.
    const bool plain = bytes == 1 && samplesPerPixel == 1 && zx == 1 && !tags && (r.mask & 0xFF) == 0xFF &&
                       !(shift && twoByteEntries_);
    for (uint32_t ry = 0; ry < zy; ++ry) {
        const int64_t j = lineBase + ry;
        if (plain && count) {
            const int64_t base = (r.frameStart & kGrabAddressMask) + j * pitch;
            uint8_t* from = nullptr;
            uint8_t* to = nullptr;
            if (locate(base, &from) && locate(base + count - 1, &to) && to - from == static_cast<std::ptrdiff_t>(count) - 1) {
                if (ramped_[channel[0]]) {
                    const RampRows& ramp = ramp_[channel[0]];
                    const uint8_t* run = runs_[channel[0]].data() + ((ramp.first + ramp.step * y + r.hstart) & ramp.mask);
                    if (dx == 1) {
                        std::memcpy(from, run, count);
                    } else {
                        for (uint32_t i = 0; i < count; ++i) from[i] = run[i * dx];
                    }
                    continue;
                }
                const uint16_t* v = samples_[channel[0]].data() + row;
                const std::vector<uint32_t>& map = maps_[channel[0]];
                if (map.empty()) {
                    for (uint32_t i = 0, x = r.hstart; i < count; ++i, x += dx) from[i] = static_cast<uint8_t>(v[x]);
                } else {
                    const uint32_t* m = map.data();
                    const uint32_t mask = static_cast<uint32_t>(map.size() - 1);
                    for (uint32_t i = 0, x = r.hstart; i < count; ++i, x += dx)
                        from[i] = static_cast<uint8_t>(m[v[x] & mask]);
                }
                continue;
            }
        }
        uint32_t i = 0;
        for (uint32_t x = r.hstart; x <= r.hstop && x < width; x += dx) {
            uint8_t pixel[4][8] = {};
            for (uint32_t k = 0; k < samplesPerPixel; ++k) {
                uint32_t v = value(channel[k], row + x);
                if (oneEntry) v = (v >> (8 * k)) & 0xFF;
                else if (sampleBytes == 1 && shift && twoByteEntries_) v = (v >> (2 * shift)) & 0xFF;
                uint8_t* out = planar ? pixel[k] : pixel[0] + k * sampleBytes;
                for (uint32_t n = 0; n < sampleBytes && n < 4; ++n) out[n] = static_cast<uint8_t>(v >> (8 * n));
                if (reverse) std::swap(out[0], out[2]);
            }
            const uint32_t planes = planar ? samplesPerPixel : 1;
            for (uint32_t rx = 0; rx < zx; ++rx, ++i) {
                for (uint32_t p = 0; p < planes; ++p) {
                    if (tags) {
                        int64_t tagAddress = r.tagControl & kGrabAddressMask;
                        if (p && (r.tagControl & kTagControlPlanes)) tagAddress += r.tagOffsets[p - 1] & kGrabAddressMask;
                        uint8_t* tag = nullptr;
                        if (!locate(tagAddress + j * tagPitch + i / 8, &tag) || !((*tag >> (i & 7)) & 1)) continue;
                    }
                    int64_t address = r.frameStart & kGrabAddressMask;
                    if (p) address += r.offsets[p - 1] & kGrabAddressMask;
                    address += j * pitch + static_cast<int64_t>(i) * bytes;
                    for (uint32_t n = 0; n < bytes; ++n) {
                        uint8_t* at = nullptr;
                        if (!locate(address + n, &at)) {
                            ++strays;
                            continue;
                        }
                        const uint8_t keep = n < 3 ? static_cast<uint8_t>(r.mask >> (8 * n)) : 0xFF;
                        *at = static_cast<uint8_t>((*at & ~keep) | (pixel[p][n] & keep));
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------- facade

namespace {

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

GrabEngine* Engine(SimState& s, int board, bool display)
{
    Board* b = s.m().board(board);
    if (!b) return nullptr;
    OrloChip* orlo = display ? b->displayRegs.get() : b->primaryRegs.get();
    return orlo ? &orlo->grabEngine() : nullptr;
}

} // namespace

void GrabEngineView::setFramePeriod(double seconds) const
{
    LOCKED;
    if (GrabEngine* e = Engine(s, board, display))
        e->periodNanos = seconds > 0 ? static_cast<uint64_t>(seconds * 1e9 + 0.5) : 0;
}

double GrabEngineView::framePeriod() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e ? static_cast<double>(e->periodNanos) / 1e9 : 0;
}

void GrabEngineView::setSampleBits(uint32_t bits) const
{
    LOCKED;
    if (GrabEngine* e = Engine(s, board, display)) e->sampleBits = bits > 8 ? 10 : 8;
}

uint32_t GrabEngineView::sampleBits() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e ? e->sampleBits : 0;
}

void GrabEngineView::trigger() const
{
    LOCKED;
    if (GrabEngine* e = Engine(s, board, display)) e->trigger();
}

void GrabEngineView::loseGrabs(uint32_t count) const
{
    LOCKED;
    if (GrabEngine* e = Engine(s, board, display)) e->loseNext = count;
}

void GrabEngineView::overrunGrabs(uint32_t count, bool late) const
{
    LOCKED;
    if (GrabEngine* e = Engine(s, board, display)) {
        e->overrunNext = count;
        e->overrunBit = late ? kGrabStatusLate : kGrabStatusOverrun;
    }
}

#define ENGINE_COUNT(name, member)                                                                                     \
    uint64_t GrabEngineView::name() const                                                                              \
    {                                                                                                                  \
        LOCKED;                                                                                                        \
        GrabEngine* e = Engine(s, board, display);                                                                     \
        return e ? e->member : 0;                                                                                      \
    }
ENGINE_COUNT(framesStarted, started)
ENGINE_COUNT(framesWritten, written_)
ENGINE_COUNT(framesLost, lost)
ENGINE_COUNT(framesAborted, aborted)
ENGINE_COUNT(lineInterrupts, lineEvents)
ENGINE_COUNT(strayBytes, strays)
#undef ENGINE_COUNT

double GrabEngineView::frameSeconds() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    if (!e) return 0;
    return static_cast<double>(e->periodNanos ? e->periodNanos : e->fastFrameNanos()) / 1e9;
}

double GrabEngineView::lastFrameSeconds() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e ? static_cast<double>(e->lastFrameNanos) / 1e9 : 0;
}

int64_t GrabEngineView::lastFrame() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e ? e->lastFrame : -1;
}

bool GrabEngineView::inFlight() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e && e->inFlight();
}

bool GrabEngineView::armed() const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    return e && e->armed();
}

uint32_t GrabEngineView::pattern(uint32_t x, uint32_t y, uint64_t frame, uint32_t channel) const
{
    const std::vector<uint16_t> block = patternBlock(frame, channel, x + 1, y + 1);
    return block.empty() ? 0 : block.back();
}

std::vector<uint16_t> GrabEngineView::patternBlock(uint64_t frame, uint32_t channel, uint32_t width,
                                                   uint32_t height) const
{
    LOCKED;
    GrabEngine* e = Engine(s, board, display);
    const uint32_t bits = e ? e->sampleBits : 8;
    return RenderSamples(*s.m().frames, frame, channel, bits, width, height);
}

} // namespace boardsim
