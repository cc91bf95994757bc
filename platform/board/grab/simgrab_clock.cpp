// The standard grab module's pixel-clock measurement and the line-lock PLL's lock: what
// the clock test of timer 1 counts in register 3, how long its window runs, and the lock
// status of DIG_PLLCTL.  The window and the count move with the machine's clock; a
// register write only starts or ends them.
#include "simgrab.h"

namespace boardsim {

using namespace grabregs;

void PixelClockModel::dropLock()
{
    testsSinceChange = 0;
    if (mode == GrabPllLock::Immediate) return;
    if (locked) {
        lostLatch[0] = true;
        lostLatch[1] = true;
    }
    locked = false;
}

void PixelClockModel::begin(uint64_t now, uint16_t exposureTicks)
{
    switch (mode) {
    case GrabPllLock::Immediate: locked = true; break;
    case GrabPllLock::AfterTests:
        if (!locked && testsSinceChange >= testsToLock) locked = true;
        break;
    case GrabPllLock::Never:
    case GrabPllLock::Overflow: locked = false; break;
    }
    ++testsSinceChange;
    ++measurements;
    if (mode == GrabPllLock::Overflow) {
        result = kPixelCountOverflow + 1u;
    } else {
        // An unlocked VCO runs far from the line's multiple: half the pixel clock.
        const auto it = khzByDivider.find(divider);
        const uint32_t target = it != khzByDivider.end() ? it->second : khz;
        result = locked ? target : target / 2;
        if (result > 0xFFFF) result = 0xFFFF;
    }
    active = true;
    start = now;
    end = now + (exposureTicks ? exposureTicks : 1u) * kClockTestTickNanos;
}

uint16_t PixelClockModel::count(uint64_t now)
{
    if (!active) return 0;
    if (now >= end) {
        lastKhz = result;
        return static_cast<uint16_t>(result);
    }
    // Pixels counted so far in the window.
    const uint64_t part = static_cast<uint64_t>(result) * (now - start) / (end - start);
    return static_cast<uint16_t>(part);
}

void GrabModuleChip::clockRegisterWritten(uint32_t n, const LineChange& c)
{
    const uint64_t t = now();
    switch (n) {
    case DIG_MISCTL:
        // A rising software trigger of armed timer 1 in the clock test opens the window.
        if (c.rose(kMiscT1SwTrigger) && c.high(kMiscT1Arm) && (regs_[DIG_PSGCFG] & kPsgCfgClockTest) &&
            (regs_[DIG_T1CTL] & ~kTimerOutput) == kClockTestTimer)
            pclk.begin(t, regs_[DIG_EXP1S]);
        break;
    case DIG_PSGCFG:
        if (c.fell(kPsgCfgClockTest)) {
            if (pclk.active && t >= pclk.end) pclk.lastKhz = pclk.result;
            pclk.active = false;
        }
        break;
    case DIG_PLLCTL:
        if (c.rose(kPllLockReset0)) pclk.lostLatch[0] = false;
        if (c.rose(kPllLockReset1)) pclk.lostLatch[1] = false;
        break;
    default: break;
    }
}

uint16_t GrabModuleChip::pllStatus() const
{
    uint16_t v = 0;
    if (pclk.locked) v |= kPllLockStatus0 | kPllLockStatus1;
    if (pclk.lostLatch[0]) v |= kPllLockLost0;
    if (pclk.lostLatch[1]) v |= kPllLockLost1;
    return v;
}

// ---------------------------------------------------------------- inspection

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

void GrabView::setPllLock(GrabPllLock mode, uint32_t tests) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (!g) return;
    g->pclk.mode = mode;
    g->pclk.testsToLock = tests;
    g->pclk.testsSinceChange = 0;
    if (mode == GrabPllLock::Immediate) {
        g->pclk.locked = true;
    } else if (g->pclk.locked) {
        g->pclk.dropLock();
    }
}

void GrabView::setPixelClockKhz(uint32_t khz) const
{
    LOCKED;
    if (GrabModuleChip* g = FittedGrab(s, board)) g->pclk.khz = khz;
}

void GrabView::setPixelClockForIcsDivider(uint16_t register0, uint32_t khz) const
{
    LOCKED;
    if (GrabModuleChip* g = FittedGrab(s, board)) g->pclk.khzByDivider[register0 & 0x7FF] = khz;
}

uint32_t GrabView::pixelClockKhz() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    return g ? g->pclk.khz : 0;
}

bool GrabView::pllLocked() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    return g && g->pclk.locked;
}

uint32_t GrabView::clockMeasurements() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    return g ? g->pclk.measurements : 0;
}

uint32_t GrabView::measuredKhz() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (!g) return 0;
    if (g->pclk.active && g->now() >= g->pclk.end) g->pclk.lastKhz = g->pclk.result;
    return g->pclk.lastKhz;
}

void GrabView::setModuleStatus(uint16_t bits) const
{
    LOCKED;
    if (GrabModuleChip* g = FittedGrab(s, board)) g->moduleStatus = bits & kModuleStatusMask;
}

} // namespace boardsim
