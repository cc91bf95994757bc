#include "orbcore.h"

#include "orbpixels.h"

#include <algorithm>
#include <cstdio>

namespace orbcore {

namespace {
constexpr size_t kLogLimit = 20000;
constexpr size_t kErrorLimit = 256;
}  // namespace

const char* boardName(Board b)
{
    switch (b) {
    case Board::Sorvik: return "ORBSVK";
    case Board::Sorvik2: return "ORBSVK2";
    case Board::Drevan: return "ORBDRV";
    case Board::Lumbra: return "ORBLMB";
    case Board::Halcyra: return "ORBHLC";
    case Board::Vga: return "ORBVGA";
    case Board::Host: return "null";
    }
    return "null";
}

bool boardHasDigitizer(Board b) { return b != Board::Vga && b != Board::Host; }

bench::CameraSettings Digitizer::camera() const
{
    auto level = [this](int type, int fallback) {
        auto it = levels.find(type);
        return it == levels.end() ? fallback : it->second;
    };
    const int black = level(4003, 0), white = level(4005, 255);
    const int brightness = level(4008, 148), contrast = level(4009, 160);
    const double k = 255.0 / std::max(white - black, 1);
    bench::CameraSettings cs;
    cs.channel = channel;
    cs.contrast = contrast / 160.0 * k;
    cs.brightness = (brightness - 148 - black) * k;
    return cs;
}

State& state()
{
    // Never destroyed: callers may still reach the library from static destructors.
    static State* s = new State;
    return *s;
}

std::string hex(uint64_t v)
{
    char t[24];
    std::snprintf(t, sizeof t, "0x%llx", static_cast<unsigned long long>(v));
    return t;
}
std::string dec(int64_t v) { return std::to_string(v); }
std::string dbl(double v)
{
    char t[40];
    std::snprintf(t, sizeof t, "%g", v);
    return t;
}
std::string str(const char* s) { return s ? "\"" + std::string(s) + "\"" : "null"; }
std::string ptr(const void* p) { return p ? "ptr" : "null"; }

Call::Call(const char* function, std::initializer_list<std::string> args)
    : s_(state()), lock_(s_.m), function_(function)
{
    std::string entry = function;
    entry += '(';
    bool first = true;
    for (const std::string& a : args) {
        if (!first) entry += ", ";
        entry += a;
        first = false;
    }
    entry += ')';
    s_.log.push_back(std::move(entry));
    if (s_.log.size() > kLogLimit) s_.log.pop_front();
}

Call::~Call()
{
    OrbErrorHook hook = nullptr;
    void* user = nullptr;
    OrbId errorId = 0;
    if (!lock_.owns_lock()) lock_.lock();
    if (failed_) {
        error_.id = s_.nextErrorId++;
        errorId = error_.id;
        error_.function = function_;
        s_.errors.push_back(std::move(error_));
        if (s_.errors.size() > kErrorLimit) s_.errors.pop_front();
        ++s_.errorCount;
        hook = s_.hook;
        user = s_.hookUser;
    }
    for (auto& g : stops_) signalStop(*g);
    lock_.unlock();
    for (auto& g : stops_) joinLive(g);
    for (auto& c : sinkChanges_) applySinkChange(c);
    deliver(frames_);
    if (hook) hook(ORB_ERROR_HOOK, errorId, user);
}

void Call::fail(std::string message, std::vector<std::string> subs)
{
    if (failed_) return;
    failed_ = true;
    error_.message = std::move(message);
    if (subs.size() > 3) subs.resize(3);
    error_.subs = std::move(subs);
}

System* Call::system(OrbId id)
{
    auto it = s_.systems.find(id);
    if (it != s_.systems.end()) return &it->second;
    fail("Invalid system id", {"System id " + hex(id) + " is not allocated"});
    return nullptr;
}

Digitizer* Call::digitizer(OrbId id)
{
    auto it = s_.digitizers.find(id);
    if (it != s_.digitizers.end()) return &it->second;
    fail("Invalid digitizer id", {"Digitizer id " + hex(id) + " is not allocated"});
    return nullptr;
}

Buffer* Call::buffer(OrbId id)
{
    auto it = s_.buffers.find(id);
    if (it != s_.buffers.end()) return &it->second;
    fail("Invalid buffer id", {"Buffer id " + hex(id) + " is not allocated"});
    return nullptr;
}

Display* Call::display(OrbId id)
{
    auto it = s_.displays.find(id);
    if (it != s_.displays.end()) return &it->second;
    fail("Invalid display id", {"Display id " + hex(id) + " is not allocated"});
    return nullptr;
}

bool Call::appOpen()
{
    if (s_.app != 0) return true;
    fail("No application allocated", {"Call orbAppOpen first"});
    return false;
}

bool Call::allocFails(orbsim::AllocKind kind, const char* what)
{
    for (auto k : {kind, orbsim::AllocKind::Any}) {
        auto it = s_.failAllocs.find(k);
        if (it != s_.failAllocs.end() && it->second > 0) {
            if (--it->second == 0) s_.failAllocs.erase(it);
            fail("Insufficient memory", {std::string("Cannot allocate the ") + what});
            return true;
        }
    }
    return false;
}

void Call::bufferChanged(OrbId buffer) { collectFrames(s_, buffer, frames_); }

void Call::displayChanged(OrbId id)
{
    auto d = s_.displays.find(id);
    if (d == s_.displays.end() || !d->second.window || d->second.buffer == 0) return;
    auto b = s_.buffers.find(d->second.buffer);
    if (b == s_.buffers.end()) return;
    frames_.push_back(frameOf(s_, d->second, b->second));
}

void Call::stopLive(std::shared_ptr<LiveGrab> g)
{
    if (!g) return;
    signalStop(*g);  // no frame is written from now on
    stops_.push_back(std::move(g));
}

Frame frameOf(State& s, Display& d, const Buffer& b)
{
    Frame f;
    f.slot = d.slot;
    f.generation = d.generation;
    f.seq = ++s.frameSeq;
    f.grey = std::make_shared<const std::vector<uint8_t>>(orbpix::toGrey(b.data.data(), b.type, b.pixelCount()));
    f.width = b.width;
    f.height = b.height;
    f.zoomX = d.zoomX;
    f.zoomY = d.zoomY;
    return f;
}

void collectFrames(State& s, OrbId buffer, std::vector<Frame>& out)
{
    auto b = s.buffers.find(buffer);
    if (b == s.buffers.end()) return;
    std::shared_ptr<const std::vector<uint8_t>> grey;
    for (auto& [id, d] : s.displays) {
        if (d.buffer != buffer || !d.window) continue;
        Frame f = frameOf(s, d, b->second);
        if (grey) f.grey = grey;  // displays of one buffer share the pixels
        grey = f.grey;
        out.push_back(std::move(f));
    }
}

void deliver(const std::vector<Frame>& frames)
{
    for (const Frame& f : frames) {
        std::lock_guard<std::recursive_mutex> lk(f.slot->m);
        if (!f.slot->sink || f.slot->generation != f.generation || f.seq <= f.slot->lastSeq) continue;
        f.slot->lastSeq = f.seq;
        f.slot->sink->orbFrame(f.grey->data(), f.width, f.height, f.zoomX, f.zoomY);
    }
}

void applySinkChange(const SinkChange& c)
{
    OrbDisplaySink* old = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(c.slot->m);
        if (c.generation < c.slot->generation) return;  // a newer change came first
        old = c.slot->sink;
        c.slot->sink = c.sink;
        c.slot->generation = c.generation;
    }
    if (old && old != c.sink) old->orbDetached();
}

void signalStop(LiveGrab& g)
{
    {
        std::lock_guard<std::mutex> lk(g.m);
        g.stop = true;
    }
    g.cv.notify_all();
}

void joinLive(const std::shared_ptr<LiveGrab>& g)
{
    if (!g->thread.joinable()) return;
    if (g->thread.get_id() == std::this_thread::get_id()) {
        g->thread.detach();  // stopped from its own thread: it ends after this pass
        return;
    }
    g->thread.join();
}

void freeBuffer(Call& c, OrbId id)
{
    State& s = c.s();
    for (auto& [did, dig] : s.digitizers) {
        if (dig.live && dig.live->buffer == id) c.stopLive(std::move(dig.live));
    }
    for (auto& [did, d] : s.displays) {
        if (d.buffer == id) d.buffer = 0;
    }
    s.buffers.erase(id);
}

void freeDisplay(Call& c, OrbId id)
{
    State& s = c.s();
    auto it = s.displays.find(id);
    if (it == s.displays.end()) return;
    if (it->second.window) c.sinkChange({it->second.slot, nullptr, it->second.generation + 1});
    s.displays.erase(it);
}

void freeDigitizer(Call& c, OrbId id)
{
    State& s = c.s();
    auto it = s.digitizers.find(id);
    if (it == s.digitizers.end()) return;
    c.stopLive(std::move(it->second.live));
    s.digitizers.erase(it);
}

void closeSystem(Call& c, OrbId id)
{
    State& s = c.s();
    std::vector<OrbId> ids;
    for (auto& [k, v] : s.digitizers)
        if (v.system == id) ids.push_back(k);
    for (OrbId k : ids) freeDigitizer(c, k);
    ids.clear();
    for (auto& [k, v] : s.displays)
        if (v.system == id) ids.push_back(k);
    for (OrbId k : ids) freeDisplay(c, k);
    ids.clear();
    for (auto& [k, v] : s.buffers)
        if (v.system == id) ids.push_back(k);
    for (OrbId k : ids) freeBuffer(c, k);
    s.systems.erase(id);
}

void writeFrame(Buffer& b, const std::vector<uint8_t>& frame)
{
    const size_t n = b.pixelCount();
    if (b.bpp == 1 && orbpix::bitsOf(b.type) == 8) {
        std::copy(frame.begin(), frame.begin() + std::ptrdiff_t(n), b.data.begin());
        return;
    }
    const int bits = orbpix::bitsOf(b.type);
    for (size_t i = 0; i < n; ++i) orbpix::store(&b.data[i * size_t(b.bpp)], b.bpp, orbpix::rescale(frame[i], 8, bits));
}

}  // namespace orbcore

// ---------------------------------------------------------------------------------------
// Application calls

using namespace orbcore;

void orbAppOpen(OrbInt initFlag, OrbId* appId)
{
    Call c("orbAppOpen", {hex(uint32_t(initFlag)), ptr(appId)});
    if (appId) *appId = 0;
    if (!appId) return c.fail("The application id pointer is null");
    if (initFlag != ORB_DEFAULT && initFlag != 0)
        return c.fail("Invalid parameter", {"Unsupported initialisation flag " + hex(uint32_t(initFlag))});
    if (c.s().app != 0)
        return c.fail("Application already allocated", {"Application id " + hex(c.s().app) + " is open"});
    c.s().app = c.newId();
    *appId = c.s().app;
}

void orbAppControl(OrbInt type, OrbInt value)
{
    Call c("orbAppControl", {hex(uint32_t(type)), dec(value)});
    if (!c.appOpen()) return;
    if (type != 0x40000000)
        return c.fail("Invalid parameter", {"Unknown application control type " + hex(uint32_t(type))});
    c.s().appControls[type] = value;
}

void orbAppClose(OrbId appId)
{
    Call c("orbAppClose", {hex(appId)});
    State& s = c.s();
    if (s.app == 0 || appId != s.app)
        return c.fail("Invalid application id", {"Application id " + hex(appId) + " is not allocated"});
    std::vector<OrbId> ids;
    for (auto& [k, v] : s.systems) ids.push_back(k);
    for (OrbId k : ids) closeSystem(c, k);
    s.app = 0;
    s.appControls.clear();
    // The hook belongs to the application: a new application starts without one.
    s.hook = nullptr;
    s.hookUser = nullptr;
}

OrbInt orbAppGetError(OrbId errorId, OrbInt code, void* out)
{
    Call c("orbAppGetError", {hex(errorId), hex(uint32_t(code)), ptr(out)});
    if (!out) return -1;
    const ErrorRecord* rec = nullptr;
    for (const ErrorRecord& e : c.s().errors)
        if (e.id == errorId) rec = &e;
    if (!rec) return -1;
    auto text = [out](const std::string& t) {
        char* dst = static_cast<char*>(out);
        const size_t n = std::min(t.size(), size_t(ORB_ERROR_TEXT_SIZE - 1));
        std::copy(t.begin(), t.begin() + std::ptrdiff_t(n), dst);
        dst[n] = '\0';
        return 0;
    };
    switch (code) {
    case ORB_ERR_MESSAGE: return text(rec->message);
    case ORB_ERR_FUNCTION: return text(rec->function);
    case ORB_ERR_SUBMESSAGE1:
    case ORB_ERR_SUBMESSAGE2:
    case ORB_ERR_SUBMESSAGE3: {
        const size_t i = size_t(code - ORB_ERR_SUBMESSAGE1);
        return text(i < rec->subs.size() ? rec->subs[i] : std::string());
    }
    case ORB_ERR_SUBMESSAGE_COUNT: {
        const OrbInt n = OrbInt(rec->subs.size());
        std::copy(reinterpret_cast<const char*>(&n), reinterpret_cast<const char*>(&n) + sizeof n,
                  static_cast<char*>(out));
        return 0;
    }
    default: return -1;
    }
}

void orbAppSetErrorHook(OrbInt type, OrbErrorHook hook, void* user)
{
    Call c("orbAppSetErrorHook", {hex(uint32_t(type)), hook ? "hook" : "null", ptr(user)});
    if (type != ORB_ERROR_HOOK)
        return c.fail("Invalid parameter", {"Unknown hook type " + hex(uint32_t(type))});
    c.s().hook = hook;
    c.s().hookUser = user;
}

OrbInt orbAppInquire(OrbInt type, void* out)
{
    Call c("orbAppInquire", {dec(type), ptr(out)});
    if (!out) {
        c.fail("The result pointer is null");
        return -1;
    }
    if (type == ORB_INQ_ERROR_HOOK) {
        *static_cast<OrbErrorHook*>(out) = c.s().hook;
        return 0;
    }
    if (type == ORB_INQ_ERROR_HOOK_USER) {
        *static_cast<void**>(out) = c.s().hookUser;
        return 0;
    }
    c.fail("Invalid parameter", {"Unknown inquire type " + std::to_string(type)});
    return -1;
}

// ---------------------------------------------------------------------------------------
// Test control

namespace orbsim {

void reset()
{
    // Close everything as orbAppClose would, then forget the rest.
    std::vector<std::shared_ptr<LiveGrab>> stops;
    std::vector<SinkChange> changes;
    {
        State& s = state();
        std::lock_guard<std::mutex> lk(s.m);
        for (auto& [k, d] : s.digitizers)
            if (d.live) {
                signalStop(*d.live);
                stops.push_back(std::move(d.live));
            }
        for (auto& [k, d] : s.displays)
            if (d.window) changes.push_back({d.slot, nullptr, d.generation + 1});
        s.digitizers.clear();
        s.displays.clear();
        s.buffers.clear();
        s.systems.clear();
        s.app = 0;
        s.appControls.clear();
        s.hook = nullptr;
        s.hookUser = nullptr;
        s.errors.clear();
        s.errorCount = 0;
        s.log.clear();
        s.failAllocs.clear();
        s.nextId = 1;
        s.nextErrorId = 1;
        s.framePeriodMs = 40;
    }
    for (auto& g : stops) joinLive(g);
    for (auto& ch : changes) applySinkChange(ch);
}

std::vector<std::string> callLog()
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    return {s.log.begin(), s.log.end()};
}

void clearCallLog()
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    s.log.clear();
}

std::optional<ErrorInfo> lastError()
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    if (s.errors.empty()) return std::nullopt;
    const ErrorRecord& e = s.errors.back();
    return ErrorInfo{e.id, e.function, e.message, e.subs};
}

size_t errorCount()
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    return s.errorCount;
}

std::optional<DigitizerState> digitizerState(OrbId id)
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.digitizers.find(id);
    if (it == s.digitizers.end()) return std::nullopt;
    const Digitizer& d = it->second;
    DigitizerState r;
    r.system = d.system;
    r.channel = d.channel;
    r.controls = d.controls;
    r.levels = d.levels;
    r.scaleX = d.scaleX;
    r.scaleY = d.scaleY;
    r.camera = d.camera();
    r.live = d.live != nullptr;
    r.liveBuffer = d.live ? d.live->buffer : 0;
    r.framesGrabbed = d.frames;
    return r;
}

std::optional<BufferInfo> bufferInfo(OrbId id)
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.buffers.find(id);
    if (it == s.buffers.end()) return std::nullopt;
    const Buffer& b = it->second;
    return BufferInfo{b.system, b.width, b.height, b.type, b.attributes, b.bpp};
}

std::optional<DisplayState> displayState(OrbId id)
{
    State& s = state();
    std::lock_guard<std::mutex> lk(s.m);
    auto it = s.displays.find(id);
    if (it == s.displays.end()) return std::nullopt;
    const Display& d = it->second;
    return DisplayState{d.system, d.buffer, d.zoomX, d.zoomY, d.controls, d.window != nullptr};
}

size_t bufferCount()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().buffers.size();
}
size_t displayCount()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().displays.size();
}
size_t digitizerCount()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().digitizers.size();
}
size_t systemCount()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().systems.size();
}
bool applicationOpen()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().app != 0;
}

void failNextAlloc(AllocKind kind, int count)
{
    std::lock_guard<std::mutex> lk(state().m);
    if (count > 0)
        state().failAllocs[kind] = count;
    else
        state().failAllocs.erase(kind);
}

void setFramePeriodMs(int milliseconds)
{
    std::lock_guard<std::mutex> lk(state().m);
    state().framePeriodMs = milliseconds < 0 ? 0 : milliseconds;
}

int framePeriodMs()
{
    std::lock_guard<std::mutex> lk(state().m);
    return state().framePeriodMs;
}

}  // namespace orbsim
