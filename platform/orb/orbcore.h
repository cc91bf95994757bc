// Inner state of the imaging-library stand-in, shared by its source files.
//
// One mutex guards all objects. Every call runs inside a Call: it takes the lock, logs the
// call, and on leaving releases the lock and only then delivers display frames and calls
// the error hook, so that neither ever runs under the lock. Display sinks are reached
// through a per-display slot with a lock of its own, which lets orbDispFree wait for a
// delivery in progress and guarantees that no frame reaches a sink after it was detached.
#pragma once

#include "bench.h"
#include "orb.h"
#include "orbsim.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orbcore {

enum class Board { Sorvik, Sorvik2, Drevan, Lumbra, Halcyra, Vga, Host };
const char* boardName(Board b);
bool boardHasDigitizer(Board b);

struct System {
    Board board = Board::Host;
};

// A continuous grab: its thread and the flag that ends it.
struct LiveGrab {
    std::thread thread;
    std::mutex m;
    std::condition_variable cv;
    std::atomic<bool> stop{false};
    OrbId buffer = 0;
};

struct Digitizer {
    OrbId system = 0;
    uint32_t channel = 0x20000000;
    std::map<int, double> controls;
    std::map<int, int> levels;
    double scaleX = 1.0, scaleY = 1.0;
    std::chrono::steady_clock::time_point epoch;  // start of the camera's frame clock
    std::shared_ptr<LiveGrab> live;
    uint64_t frames = 0;
    bench::CameraSettings camera() const;
};

struct Buffer {
    OrbId system = 0;
    int width = 0, height = 0;
    uint32_t type = 8, attributes = 0;
    int bpp = 1;
    std::vector<uint8_t> data;
    size_t pixelCount() const { return size_t(width) * size_t(height); }
};

// Where a display's frames go. Guarded by its own lock, never taken under the main lock.
struct SinkSlot {
    std::recursive_mutex m;
    OrbDisplaySink* sink = nullptr;
    uint64_t generation = 0;  // of the sink now attached
    uint64_t lastSeq = 0;     // newest frame delivered
};

struct Display {
    OrbId system = 0;
    OrbId buffer = 0;
    int zoomX = 1, zoomY = 1;
    std::map<int, double> controls;
    OrbDisplaySink* window = nullptr;   // the sink as last set (main-lock view)
    uint64_t generation = 0;
    std::shared_ptr<SinkSlot> slot = std::make_shared<SinkSlot>();
};

struct ErrorRecord {
    OrbId id = 0;
    std::string function, message;
    std::vector<std::string> subs;
};

// One frame on its way to a sink.
struct Frame {
    std::shared_ptr<SinkSlot> slot;
    uint64_t generation = 0, seq = 0;
    std::shared_ptr<const std::vector<uint8_t>> grey;
    int width = 0, height = 0, zoomX = 1, zoomY = 1;
};

// A sink change to apply outside the main lock (attach, replace or detach).
struct SinkChange {
    std::shared_ptr<SinkSlot> slot;
    OrbDisplaySink* sink = nullptr;
    uint64_t generation = 0;
};

struct State {
    std::mutex m;
    OrbId nextId = 1;
    OrbId nextErrorId = 1;
    OrbId app = 0;
    std::map<int, int> appControls;
    OrbErrorHook hook = nullptr;
    void* hookUser = nullptr;
    std::map<OrbId, System> systems;
    std::map<OrbId, Digitizer> digitizers;
    std::map<OrbId, Buffer> buffers;
    std::map<OrbId, Display> displays;
    std::deque<ErrorRecord> errors;  // the most recent ones
    size_t errorCount = 0;
    std::deque<std::string> log;
    uint64_t frameSeq = 0;
    std::map<orbsim::AllocKind, int> failAllocs;
    int framePeriodMs = 40;
};

State& state();

// Argument formatting for the call log.
std::string hex(uint64_t v);
std::string dec(int64_t v);
std::string dbl(double v);
std::string str(const char* s);
std::string ptr(const void* p);

class Call {
public:
    // Takes the lock and logs "name(args...)".
    Call(const char* function, std::initializer_list<std::string> args);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    State& s() { return s_; }
    // Records the call's error (the first one wins); reported once the call ends.
    void fail(std::string message, std::vector<std::string> subs = {});
    bool failed() const { return failed_; }
    // Lets the lock go while the call waits or works outside it, and takes it back.
    void unlock() { lock_.unlock(); }
    void relock() { lock_.lock(); }
    bool locked() const { return lock_.owns_lock(); }

    // Lookups that report an unknown id as this call's error.
    System* system(OrbId id);
    Digitizer* digitizer(OrbId id);
    Buffer* buffer(OrbId id);
    Display* display(OrbId id);
    bool appOpen();
    // Consumes one injected allocation failure of the kind; reports it.
    bool allocFails(orbsim::AllocKind kind, const char* what);
    OrbId newId() { return s_.nextId++; }

    // Frames for every sink showing the buffer, delivered when the call ends.
    void bufferChanged(OrbId buffer);
    void displayChanged(OrbId display);
    void sinkChange(SinkChange c) { sinkChanges_.push_back(std::move(c)); }
    // Live grabs to stop (and wait for) when the call ends.
    void stopLive(std::shared_ptr<LiveGrab> g);

private:
    State& s_;
    std::unique_lock<std::mutex> lock_;
    const char* function_;
    bool failed_ = false;
    ErrorRecord error_;
    std::vector<Frame> frames_;
    std::vector<SinkChange> sinkChanges_;
    std::vector<std::shared_ptr<LiveGrab>> stops_;
};

// Frames of the displays showing a buffer (main lock held).
void collectFrames(State& s, OrbId buffer, std::vector<Frame>& out);
Frame frameOf(State& s, Display& d, const Buffer& b);
void deliver(const std::vector<Frame>& frames);
void applySinkChange(const SinkChange& c);
// Ends a live grab: flags it (main lock held or not) ...
void signalStop(LiveGrab& g);
// ... and waits for its thread (main lock not held).
void joinLive(const std::shared_ptr<LiveGrab>& g);

// Frees objects (main lock held): what must happen outside the lock goes into the call.
void freeBuffer(Call& c, OrbId id);
void freeDisplay(Call& c, OrbId id);
void freeDigitizer(Call& c, OrbId id);
void closeSystem(Call& c, OrbId id);

// Writes an 8-bit camera frame into a buffer of any type.
void writeFrame(Buffer& b, const std::vector<uint8_t>& frame);

}  // namespace orbcore
