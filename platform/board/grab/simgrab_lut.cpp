// The standard grab module's input LUTs behind their FIFO ports (LUT 1 at registers 64-71,
// LUT 2 at 72-79) and the Sorvik II module's LUT port (registers 56-60).  A FIFO port takes
// one byte per band and entry on its data port's high lane; a whole entry waits in the
// FIFO until it drains into the memory on the machine's clock.  Reads answer from the
// memory, band after band, on the data port's high lane.
#include "simgrab.h"

namespace boardsim {

using namespace grabregs;

LutPortModel::LutPortModel()
{
    for (auto& b : band) b.assign(kLutMemoryEntries, 0);
}

void LutPortModel::settle(uint64_t now)
{
    if (neverDrains) return;
    while (!fifo.empty() && fifo.front().due <= now) {
        const LutEntryWrite& e = fifo.front();
        for (uint32_t b = 0; b < kLutBands; ++b) band[b][e.address] = e.bytes[b];
        ++written;
        fifo.pop_front();
    }
}

bool LutPortModel::holdsData(uint64_t now)
{
    settle(now);
    return neverDrains || !fifo.empty();
}

SorvikLutModel::SorvikLutModel()
{
    for (auto& b : band) b.assign(kLutMemoryEntries, 0);
}

bool GrabModuleChip::sorvikPort() const
{
    return board_->spec.moduleType == 2 || board_->spec.moduleType == 34;
}

LutPortModel* GrabModuleChip::lutPort(int memory)
{
    return memory == 1 || memory == 2 ? &lut[memory - 1] : nullptr;
}

bool GrabModuleChip::lutOpen() const
{
    return (regs_[DIG_SRCCFG] & kSrcCfgAccess) == kSrcCfgAccess;
}

void GrabModuleChip::lutRegisterWritten(uint32_t n, bool high, uint8_t byte)
{
    const uint64_t t = now();
    if (n >= kLutPort1 && n < kLutPort2 + 8) {
        LutPortModel& p = lut[n >= kLutPort2 ? 1 : 0];
        const uint32_t r = n - p.first;
        if (!lutOpen()) return;
        switch (r) {
        case kLutRegAddressLow:
        case kLutRegAddressPage:
            if (!high) return;
            p.address = (static_cast<uint32_t>(regs_[p.first + kLutRegAddressPage] >> 8) << 8) |
                        (regs_[p.first + kLutRegAddressLow] >> 8);
            p.next = 0;
            return;
        case kLutRegFifoControl:
            if (!high) return;
            p.reading = false;
            p.next = 0;
            return;
        case kLutRegReadControl:
            if (!high) return;
            p.reading = true;
            p.next = 0;
            return;
        case kLutRegData: {
            if (!high || p.reading) return;
            p.assembling[p.next] = byte;
            if (++p.next < static_cast<int>(kLutBands)) return;
            p.next = 0;
            const uint32_t at = p.address++;
            if (at >= kLutMemoryEntries) {
                ++p.strays;
                return;
            }
            p.settle(t);
            if (p.fifo.size() >= kLutFifoDepth) {
                ++p.overruns;
                return;
            }
            LutEntryWrite e;
            e.address = at;
            for (uint32_t b = 0; b < kLutBands; ++b) e.bytes[b] = p.assembling[b];
            e.due = (p.fifo.empty() ? t : std::max(t, p.fifo.back().due)) + kLutDrainNanos;
            p.fifo.push_back(e);
            return;
        }
        default: return;
        }
    }
    if (!sorvikPort() || high) return;
    SorvikLutModel& v = sorvik;
    switch (n) {
    case kSorvikLutAddress: v.offset = byte; break;
    case kSorvikLutSelect: v.bandOpened = true; break;
    case kSorvikLutData:
        if (regs_[kSorvikLutControl] & kSorvikWrite) {
            const uint32_t b = (regs_[kSorvikLutSelect] & kSorvikBandMask) >> kSorvikBandShift;
            const uint32_t page = regs_[kSorvikLutPage] & kSorvikPageMask;
            v.band[b][page * kLutEntriesPerPage + v.offset] = byte;
            v.offset = (v.offset + 1) % kLutEntriesPerPage;   // the counter wraps within its page
            sorvikEntryPassed();
        }
        break;
    default: break;
    }
}

void GrabModuleChip::sorvikEntryPassed()
{
    SorvikLutModel& v = sorvik;
    if (!v.bandOpened) return;
    v.bandOpened = false;
    if (board_->spec.moduleType != 34 || v.repeatsLeft == 0) return;
    regs_[kSorvikLutControl] |= kSorvikRepeat;
    ++v.repeatsRaised;
    if (v.repeatsLeft > 0) --v.repeatsLeft;
}

uint8_t GrabModuleChip::lutDataRead(uint32_t n, bool high)
{
    const uint64_t t = now();
    if (n == kSorvikLutData) {
        const uint8_t low = static_cast<uint8_t>(regs_[n]);
        if (!sorvikPort() || !(regs_[kSorvikLutControl] & kSorvikRead)) return high ? regs_[n] >> 8 : low;
        if (high) return 0;
        const uint32_t b = (regs_[kSorvikLutSelect] & kSorvikBandMask) >> kSorvikBandShift;
        const uint32_t page = regs_[kSorvikLutPage] & kSorvikPageMask;
        const uint8_t v = sorvik.band[b][page * kLutEntriesPerPage + sorvik.offset];
        sorvik.offset = (sorvik.offset + 1) % kLutEntriesPerPage;
        sorvikEntryPassed();
        return v;
    }
    LutPortModel& p = lut[n >= kLutPort2 ? 1 : 0];
    if (!high) return static_cast<uint8_t>(regs_[n]);
    if (!lutOpen() || !p.reading) return static_cast<uint8_t>(regs_[n] >> 8);
    p.settle(t);
    uint8_t v = 0;
    if (p.address < kLutMemoryEntries) {
        v = p.band[p.next][p.address];
    } else {
        ++p.strays;
    }
    if (++p.next == static_cast<int>(kLutBands)) {
        p.next = 0;
        ++p.address;
    }
    return v;
}

// ---------------------------------------------------------------- inspection

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

int GrabView::lut(int memory, int band, uint32_t entry) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    LutPortModel* p = g ? g->lutPort(memory) : nullptr;
    if (!p || band < 0 || band >= static_cast<int>(kLutBands) || entry >= kLutMemoryEntries) return -1;
    p->settle(g->now());
    return p->band[band][entry];
}

std::vector<uint8_t> GrabView::lutBand(int memory, int band) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    LutPortModel* p = g ? g->lutPort(memory) : nullptr;
    if (!p || band < 0 || band >= static_cast<int>(kLutBands)) return {};
    p->settle(g->now());
    return p->band[band];
}

void GrabView::setLut(int memory, int band, uint32_t entry, uint8_t value) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    LutPortModel* p = g ? g->lutPort(memory) : nullptr;
    if (p && band >= 0 && band < static_cast<int>(kLutBands) && entry < kLutMemoryEntries)
        p->band[band][entry] = value;
}

void GrabView::setLutNeverDrains(bool on, int memory) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (!g) return;
    for (int m = 1; m <= 2; ++m) {
        if (memory != 0 && memory != m) continue;
        LutPortModel* p = g->lutPort(m);
        if (!on && p->neverDrains) {
            // The held entries drain from now on, one after another.
            uint64_t due = g->now();
            for (LutEntryWrite& e : p->fifo) e.due = (due += kLutDrainNanos);
        }
        p->neverDrains = on;
    }
}

uint32_t GrabView::lutEntriesWritten(int memory) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    LutPortModel* p = g ? g->lutPort(memory) : nullptr;
    if (!p) return 0;
    p->settle(g->now());
    return p->written;
}

uint32_t GrabView::lutStrays(int memory) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    LutPortModel* p = g ? g->lutPort(memory) : nullptr;
    return p ? p->strays : 0;
}

int GrabView::sorvikLut(int band, uint32_t entry) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (!g || !g->sorvikPort() || band < 0 || band >= static_cast<int>(kSorvikBands) || entry >= kLutMemoryEntries)
        return -1;
    return g->sorvik.band[band][entry];
}

std::vector<uint8_t> GrabView::sorvikLutBand(int band) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (!g || !g->sorvikPort() || band < 0 || band >= static_cast<int>(kSorvikBands)) return {};
    return g->sorvik.band[band];
}

void GrabView::setSorvikLut(int band, uint32_t entry, uint8_t value) const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    if (g && g->sorvikPort() && band >= 0 && band < static_cast<int>(kSorvikBands) && entry < kLutMemoryEntries)
        g->sorvik.band[band][entry] = value;
}

void GrabView::setSorvikRepeatRequests(int count) const
{
    LOCKED;
    if (GrabModuleChip* g = FittedGrab(s, board)) g->sorvik.repeatsLeft = count < 0 ? -1 : count;
}

uint32_t GrabView::sorvikRepeatRequests() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    return g ? g->sorvik.repeatsRaised : 0;
}

uint16_t GrabView::sorvikControl() const
{
    LOCKED;
    GrabModuleChip* g = FittedGrab(s, board);
    return g ? g->reg(kSorvikControl) : 0;
}

} // namespace boardsim
