// Systems, digitizers and grabs from the simulated bench.
#include "orbcore.h"

#include <cmath>

using namespace orbcore;

// Board driver entries: only their addresses matter, they tell the board kind apart.
extern "C" {
OrbInt ORBSVK_orbBoardDriverEntry() { return 1; }
OrbInt ORBSVK2_orbBoardDriverEntry() { return 2; }
OrbInt ORBDRV_orbBoardDriverEntry() { return 3; }
OrbInt ORBLMB_orbBoardDriverEntry() { return 4; }
OrbInt ORBHLC_orbBoardDriverEntry() { return 5; }
OrbInt ORBVGA_orbBoardDriverEntry() { return 6; }
}

namespace {

using Clock = std::chrono::steady_clock;

struct DriverName {
    OrbBoardDriverEntry entry;
    Board board;
};
const DriverName kDrivers[] = {
    {&ORBSVK_orbBoardDriverEntry, Board::Sorvik},   {&ORBSVK2_orbBoardDriverEntry, Board::Sorvik2},
    {&ORBDRV_orbBoardDriverEntry, Board::Drevan},   {&ORBLMB_orbBoardDriverEntry, Board::Lumbra},
    {&ORBHLC_orbBoardDriverEntry, Board::Halcyra}, {&ORBVGA_orbBoardDriverEntry, Board::Vga},
};

bool boardOf(OrbBoardDriverEntry driver, Board& out)
{
    if (!driver) {
        out = Board::Host;
        return true;
    }
    for (const DriverName& d : kDrivers)
        if (d.entry == driver) {
            out = d.board;
            return true;
        }
    return false;
}

std::string driverText(OrbBoardDriverEntry driver)
{
    Board b;
    return boardOf(driver, b) ? boardName(b) : "ptr";
}

bool validChannel(uint32_t ch)
{
    for (uint32_t c : {0x20000000u, 0x40000000u, 0x80000000u, 0x1000000u, 0x2000000u, 0x4000000u, 0x8000000u, 0x200000u})
        if (c == ch) return true;
    return false;
}

bool isOneOf(double v, std::initializer_list<double> allowed)
{
    for (double a : allowed)
        if (v == a) return true;
    return false;
}

Clock::duration periodOf(int ms) { return std::chrono::milliseconds(ms); }

// Stops every continuous grab before the process's static objects go away.
struct LiveShutdown {
    ~LiveShutdown()
    {
        std::vector<std::shared_ptr<LiveGrab>> grabs;
        {
            State& s = state();
            std::lock_guard<std::mutex> lk(s.m);
            for (auto& [id, d] : s.digitizers)
                if (d.live) {
                    signalStop(*d.live);
                    grabs.push_back(std::move(d.live));
                }
        }
        for (auto& g : grabs) joinLive(g);
    }
};

void ensureShutdownGuard()
{
    static const bool once = [] {
        // Let the bench set up its own state first, so that it outlives the guard.
        uint8_t px = 0;
        bench::captureFrame(bench::CameraSettings{}, 1, 1, &px);
        static LiveShutdown guard;
        return true;
    }();
    (void)once;
}

void liveLoop(std::shared_ptr<LiveGrab> g, OrbId digId, OrbId bufId)
{
    State& s = state();
    std::vector<uint8_t> frame;
    Clock::time_point next = Clock::now();
    for (;;) {
        bench::CameraSettings cs;
        int w = 0, h = 0;
        {
            std::lock_guard<std::mutex> lk(s.m);
            if (g->stop) return;
            auto d = s.digitizers.find(digId);
            auto b = s.buffers.find(bufId);
            if (d == s.digitizers.end() || b == s.buffers.end()) return;
            cs = d->second.camera();
            w = b->second.width;
            h = b->second.height;
            const Clock::duration p = periodOf(s.framePeriodMs > 0 ? s.framePeriodMs : 1);
            next += p;
            if (next < Clock::now()) next = Clock::now() + p;
        }
        frame.resize(size_t(w) * size_t(h));
        bench::captureFrame(cs, w, h, frame.data());
        std::vector<Frame> frames;
        {
            std::lock_guard<std::mutex> lk(s.m);
            if (g->stop) return;
            auto b = s.buffers.find(bufId);
            if (b == s.buffers.end() || b->second.width != w || b->second.height != h) return;
            writeFrame(b->second, frame);
            auto d = s.digitizers.find(digId);
            if (d != s.digitizers.end()) ++d->second.frames;
            collectFrames(s, bufId, frames);
        }
        deliver(frames);
        std::unique_lock<std::mutex> lk(g->m);
        if (g->cv.wait_until(lk, next, [&] { return g->stop.load(); })) return;
    }
}

}  // namespace

OrbId orbSysOpen(OrbBoardDriverEntry driver, OrbInt systemNumber, OrbInt initFlag, OrbId* systemId)
{
    Call c("orbSysOpen", {driverText(driver), hex(uint32_t(systemNumber)), hex(uint32_t(initFlag)), ptr(systemId)});
    if (systemId) *systemId = 0;
    if (!c.appOpen()) return 0;
    Board board;
    if (!boardOf(driver, board)) {
        c.fail("Invalid parameter", {"Unknown board driver entry"});
        return 0;
    }
    if (systemNumber != ORB_DEFAULT && (systemNumber < 0 || systemNumber > 15)) {
        c.fail("No such system", {"System number " + std::to_string(systemNumber)});
        return 0;
    }
    if (initFlag != ORB_DEFAULT && initFlag != 0) {
        c.fail("Invalid parameter", {"Unsupported initialisation flag " + hex(uint32_t(initFlag))});
        return 0;
    }
    if (c.allocFails(orbsim::AllocKind::System, "system")) return 0;
    const OrbId id = c.newId();
    c.s().systems[id].board = board;
    if (systemId) *systemId = id;
    return id;
}

void orbSysClose(OrbId systemId)
{
    Call c("orbSysClose", {hex(systemId)});
    if (!c.system(systemId)) return;
    closeSystem(c, systemId);
}

OrbId orbDigAlloc(OrbId systemId, OrbInt deviceNumber, const char* format, OrbInt initFlag, OrbId* digitizerId)
{
    Call c("orbDigAlloc", {hex(systemId), hex(uint32_t(deviceNumber)), str(format), hex(uint32_t(initFlag)), ptr(digitizerId)});
    if (digitizerId) *digitizerId = 0;
    System* sys = c.system(systemId);
    if (!sys) return 0;
    if (!boardHasDigitizer(sys->board)) {
        c.fail("No digitizer on this system", {std::string("The board \"") + boardName(sys->board) + "\" has no digitizer"});
        return 0;
    }
    if (deviceNumber != 0 && deviceNumber != ORB_DEFAULT) {
        c.fail("Invalid device number", {"Device number " + std::to_string(deviceNumber) + "; the board has digitizer 0 only"});
        return 0;
    }
    if (!format || std::string(format) != "O_CCIR") {
        c.fail("Unsupported digitizer format", {std::string("Format ") + str(format), "The digitizer knows \"O_CCIR\""});
        return 0;
    }
    if (initFlag != ORB_DEFAULT && initFlag != 0) {
        c.fail("Invalid parameter", {"Unsupported initialisation flag " + hex(uint32_t(initFlag))});
        return 0;
    }
    for (auto& [id, d] : c.s().digitizers)
        if (d.system == systemId) {
            c.fail("Digitizer already allocated", {"Digitizer id " + hex(id) + " uses device 0"});
            return 0;
        }
    if (c.allocFails(orbsim::AllocKind::Digitizer, "digitizer")) return 0;
    const OrbId id = c.newId();
    Digitizer& d = c.s().digitizers[id];
    d.system = systemId;
    d.epoch = Clock::now();
    if (digitizerId) *digitizerId = id;
    return id;
}

void orbDigFree(OrbId digitizerId)
{
    Call c("orbDigFree", {hex(digitizerId)});
    if (!c.digitizer(digitizerId)) return;
    freeDigitizer(c, digitizerId);
}

void orbDigSelectInput(OrbId digitizerId, uint32_t channel)
{
    Call c("orbDigSelectInput", {hex(digitizerId), hex(channel)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    if (!validChannel(channel)) return c.fail("Invalid input channel", {"Channel code " + hex(channel)});
    d->channel = channel;
}

void orbDigControl(OrbId digitizerId, OrbInt controlType, double value)
{
    Call c("orbDigControl", {hex(digitizerId), dec(controlType), dbl(value)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    bool ok;
    switch (controlType) {
    case 4010:
    case 4011:
    case 4012: ok = isOneOf(value, {0.25, 0.5, 1.0}); break;
    case 4016: ok = isOneOf(value, {1.0, 2.0}); break;
    case 4017:
    case 4018: ok = value >= 1 && value <= 100 && value == std::floor(value); break;
    case 4061: ok = isOneOf(value, {-9997.0, -9999.0}); break;
    case 4074: ok = isOneOf(value, {10.0, 11.0, 12.0}); break;
    default: return c.fail("Invalid parameter", {"Unknown digitizer control type " + std::to_string(controlType)});
    }
    if (!ok)
        return c.fail("Invalid parameter",
                      {"Value " + dbl(value) + " is not accepted by control type " + std::to_string(controlType)});
    d->controls[controlType] = value;
    if (controlType == 4010 || controlType == 4011) d->scaleX = value;
    if (controlType == 4010 || controlType == 4012) d->scaleY = value;
}

void orbDigSetLevel(OrbId digitizerId, OrbInt levelType, OrbInt value)
{
    Call c("orbDigSetLevel", {hex(digitizerId), dec(levelType), dec(value)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    if (levelType != 4003 && levelType != 4005 && levelType != 4008 && levelType != 4009)
        return c.fail("Invalid parameter", {"Unknown digitizer level type " + std::to_string(levelType)});
    if (value < 0 || value > 255)
        return c.fail("Invalid parameter", {"Level " + std::to_string(value) + " outside 0 to 255",
                                            "Level type " + std::to_string(levelType)});
    d->levels[levelType] = value;
}

void orbDigGrab(OrbId digitizerId, OrbId bufferId)
{
    Call c("orbDigGrab", {hex(digitizerId), hex(bufferId)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    // A single grab ends a continuous grab of the digitizer.
    std::shared_ptr<LiveGrab> live = std::move(d->live);
    if (live) signalStop(*live);
    const bench::CameraSettings cs = d->camera();
    const int w = b->width, h = b->height;
    const Clock::time_point epoch = d->epoch;
    const int periodMs = c.s().framePeriodMs;
    c.unlock();
    if (live) joinLive(live);
    if (periodMs > 0) {
        // The frame comes with the camera's next frame boundary.
        const Clock::duration p = periodOf(periodMs);
        const auto k = (Clock::now() - epoch) / p + 1;
        std::this_thread::sleep_until(epoch + k * p);
    }
    std::vector<uint8_t> frame(size_t(w) * size_t(h));
    bench::captureFrame(cs, w, h, frame.data());
    c.relock();
    b = c.buffer(bufferId);
    if (!b) return;
    if (b->width != w || b->height != h) return c.fail("Buffer changed during the grab");
    writeFrame(*b, frame);
    auto di = c.s().digitizers.find(digitizerId);
    if (di != c.s().digitizers.end()) ++di->second.frames;
    c.bufferChanged(bufferId);
}

void orbDigGrabLive(OrbId digitizerId, OrbId bufferId)
{
    Call c("orbDigGrabLive", {hex(digitizerId), hex(bufferId)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    if (!c.buffer(bufferId)) return;
    c.stopLive(std::move(d->live));
    c.unlock();
    ensureShutdownGuard();
    c.relock();
    d = c.digitizer(digitizerId);
    if (!d || !c.buffer(bufferId)) return;
    if (d->live) c.stopLive(std::move(d->live));  // another thread started one meanwhile
    auto g = std::make_shared<LiveGrab>();
    g->buffer = bufferId;
    g->thread = std::thread(liveLoop, g, digitizerId, bufferId);
    d->live = std::move(g);
}

void orbDigStopGrab(OrbId digitizerId)
{
    Call c("orbDigStopGrab", {hex(digitizerId)});
    Digitizer* d = c.digitizer(digitizerId);
    if (!d) return;
    c.stopLive(std::move(d->live));
}
