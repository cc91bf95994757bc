// The standard grab module's port window: register lanes, the id byte, the write log and
// the read-backs, and the GrabView inspection calls.
#include "simgrab.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace boardsim {

using namespace grabregs;

namespace {

uint32_t WidthMask(int width)
{
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
}

bool StandardType(uint8_t type)
{
    return type == 1 || type == 2 || type == 34;
}

} // namespace

GrabModuleChip::GrabModuleChip(Board* board)
    : FpgaPortChip(board), board_(board), fitted_(StandardType(board->spec.moduleType))
{
    dac1.clock = kDac1Clock;
    dac1.data = kDac1Data;
    dac1.load = kDac1Load;
    dac2.clock = kDac2Clock;
    dac2.data = kDac2Data;
    dac2.load = kDac2Load;
    lut[0].first = kLutPort1;
    lut[1].first = kLutPort2;
}

uint64_t GrabModuleChip::now() const
{
    return board_->clock ? board_->clock->nowNanos() : 0;
}

uint8_t GrabModuleChip::idByte() const
{
    switch (board_->spec.moduleType) {
    case 1: return kModuleIdType1;
    case 2: return kModuleIdType2;
    case 34: return kModuleIdType34;
    default: return 0xFF;
    }
}

uint16_t GrabModuleChip::readBack(uint32_t n)
{
    if (n >= kRegisterCount) return 0;
    const uint64_t t = now();
    uint16_t v = regs_[n];
    switch (n) {
    case kHorizontalCounter: return counter[0];
    case kVerticalCounter:
        // In the clock test the register counts the pixel clock during timer 1's window.
        return (regs_[DIG_PSGCFG] & kPsgCfgClockTest) ? pclk.count(t) : counter[1];
    case kEepromPort:
        eeprom.settle(t);
        return static_cast<uint16_t>((v & ~kEepromDataOut) | (eeprom.out(t) ? kEepromDataOut : 0));
    case kUartPort: return static_cast<uint16_t>((v & ~kUartDataOut) | (uart.out() ? kUartDataOut : 0));
    case kEepromPresentPort: {
        const bool open = (regs_[DIG_SRCCFG] & kSrcCfgAccess) == kSrcCfgAccess;
        if (!open) return v;
        return static_cast<uint16_t>((v & ~(kEepromPresent | kModuleStatusMask)) | (eeprom.fitted ? kEepromPresent : 0) |
                                     moduleStatus);
    }
    case DIG_PLLCTL: return static_cast<uint16_t>((v & ~kPllStatusMask) | pllStatus());
    case kLutPort1 + kLutRegStatus:
    case kLutPort2 + kLutRegStatus: {
        LutPortModel& p = lut[n >= kLutPort2 ? 1 : 0];
        return static_cast<uint16_t>((v & ~kLutFifoBusy) | (p.holdsData(t) ? kLutFifoBusy : 0));
    }
    case DIG_DICTL: return static_cast<uint16_t>((v & ~kDimSelect) | (dim.fitted ? kDimSelect : 0));
    case DIG_USRREG:
        if (!userInputsDriven) return v;
        return static_cast<uint16_t>((v & ~(kUserInput0 | kUserInput1)) | ((userInputs & 1) ? kUserInput0 : 0) |
                                     ((userInputs & 2) ? kUserInput1 : 0));
    case DIG_T1CTL:
        return static_cast<uint16_t>((v & ~kTimerOutput) | (timerOutput[0] || pclk.busy(t) ? kTimerOutput : 0));
    case DIG_T2CTL: return static_cast<uint16_t>((v & ~kTimerOutput) | (timerOutput[1] ? kTimerOutput : 0));
    default: return v;
    }
}

uint32_t GrabModuleChip::read(uint32_t offset, int width)
{
    // While the Orlo's port option is off, word 0 answers the module id byte (255 when no
    // standard module is fitted).
    if (offset < 4 && !(board_->primaryRegs->peek(kOrloStatus) & kStatusPortOption))
        return (static_cast<uint32_t>(idByte()) >> (8 * offset)) & WidthMask(width);
    if (!fitted_) return FpgaPortChip::read(offset, width);
    if (offset >= kOrloPortSize) return WidthMask(width);
    if (offset % 8 != 0) return 0;
    const uint32_t n = offset / 16;
    const bool high = offset % 16 != 0;
    if (n == kLutPort1 + kLutRegData || n == kLutPort2 + kLutRegData || n == kSorvikLutData) return lutDataRead(n, high);
    if (n == kPixelCount && (regs_[DIG_PSGCFG] & kPsgCfgClockTest)) {
        // The running count is latched by its low byte's read, so the two lanes agree.
        if (!high) pclk.latched = pclk.count(now());
        return high ? (pclk.latched >> 8) : (pclk.latched & 0xFFu);
    }
    const uint16_t v = readBack(n);
    return (offset % 16 == 0) ? (v & 0xFFu) : (v >> 8);
}

void GrabModuleChip::write(uint32_t offset, int width, uint32_t value)
{
    if (!fitted_ || (offset == 0 && !board_->fpga.done)) {
        FpgaPortChip::write(offset, width, value);   // the FPGA's data port until it is done
        return;
    }
    if (offset >= kOrloPortSize || offset % 8 != 0) return;
    registerWritten(offset / 16, offset % 16 != 0, static_cast<uint8_t>(value));
}

void GrabModuleChip::registerWritten(uint32_t n, bool high, uint8_t byte)
{
    const uint64_t t = now();
    LineChange c;
    c.before = regs_[n];
    if (n == kUartPort && !uartWritten) {
        c.before |= kUartSelect;   // pulled up: the first write that drives it low selects the chip
        uartWritten = true;
    }
    c.after = high ? static_cast<uint16_t>((c.before & 0x00FF) | (byte << 8))
                   : static_cast<uint16_t>((c.before & 0xFF00) | byte);
    regs_[n] = c.after;
    if (logged < kGrabLogLimit) {
        log[n].push_back(GrabWrite{high, byte, c.after});
        ++logged;
    } else {
        ++dropped;
    }

    switch (n) {
    case kSerialPort: {
        dac1.lines(c);
        dac2.lines(c);
        uint16_t before[8];
        std::copy(std::begin(ics.value), std::end(ics.value), before);
        ics.lines(c);
        // A new divider or setting sends the PLL looking for its lock again.
        if (!std::equal(std::begin(ics.value), std::end(ics.value), before)) pclk.dropLock();
        pclk.divider = ics.value[0];
        ds1020.lines(c);
        icd.lines(c);
        break;
    }
    case kBt261Address:
    case kBt261Data:
        // The chip answers only while DIG_SRCCFG opens it; the byte is in bits 8-15.
        if (!high || (regs_[DIG_SRCCFG] & kSrcCfgAccess) != kSrcCfgAccess) break;
        if (n == kBt261Address) {
            bt261.address = byte;
        } else {
            bt261.reg[bt261.address] = byte;
            Remember(bt261.writes, std::make_pair(bt261.address, byte));
        }
        break;
    case DIG_DICTL: dim.lines(c); break;
    case kEepromPort: eeprom.lines(c, t); break;
    case kUartPort: uart.lines(c, t); break;
    case DIG_MISCTL:
    case DIG_PSGCFG:
    case DIG_PLLCTL: clockRegisterWritten(n, c); break;
    default:
        if ((n >= kLutPort1 && n < kLutPort2 + 8) || (n >= kSorvikLutAddress && n <= kSorvikLutControl))
            lutRegisterWritten(n, high, byte);
        break;
    }
}

// ---------------------------------------------------------------- ICD2061A frequencies

GrabClock DecodeIcdClock(uint32_t word, uint32_t reg, uint32_t control)
{
    GrabClock g;
    g.loaded = true;
    g.word = word & kIcdDataMask;
    g.q = (word & kIcdQMask) + 2;
    g.m = (word >> kIcdMShift) & kIcdMMask;
    g.p = ((word >> kIcdPShift) & kIcdPMask) + 3;
    g.index = (word >> kIcdIndexShift) & kIcdIndexMask;
    g.prescale = (reg < 3 && (control & (1u << (kIcdControlPrescaleShift + reg)))) ? 4 : 2;
    g.vcoHz = 2.0 * kIcdReferenceHz * g.p / g.q * (g.prescale / 2.0);
    g.outputHz = g.vcoHz / std::ldexp(1.0, static_cast<int>(g.m));
    return g;
}

// ---------------------------------------------------------------- inspection

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

GrabModuleChip* FittedGrab(SimState& s, int board)
{
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return nullptr;
    GrabModuleChip* g = s.m().boards[board]->grab;
    return g && g->fitted() ? g : nullptr;
}

namespace {
GrabModuleChip* Grab(SimState& s, int board) { return FittedGrab(s, board); }
} // namespace

bool GrabView::fitted() const
{
    LOCKED;
    return Grab(s, board) != nullptr;
}

uint8_t GrabView::moduleType() const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return 0;
    return s.m().boards[board]->spec.moduleType;
}

uint8_t GrabView::idByte() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->idByte() : 0xFF;
}

uint16_t GrabView::reg(uint32_t n) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->reg(n) : 0;
}

uint16_t GrabView::readBack(uint32_t n) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->readBack(n) : 0;
}

std::vector<GrabWrite> GrabView::writes(uint32_t n) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && n < kRegisterCount ? g->log[n] : std::vector<GrabWrite>{};
}

std::vector<uint16_t> GrabView::values(uint32_t n) const
{
    std::vector<uint16_t> v;
    for (const GrabWrite& w : writes(n))
        if (w.high) v.push_back(w.value);
    return v;
}

void GrabView::clearLog() const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) {
        for (auto& l : g->log) l.clear();
        g->logged = 0;
        g->dropped = 0;
    }
}

int GrabView::dac(int which, int channel) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g || (which != 1 && which != 2) || channel < 0 || channel > 7) return -1;
    return (which == 1 ? g->dac1 : g->dac2).value[channel];
}

std::vector<std::pair<int, uint8_t>> GrabView::dacLoads(int which) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g || (which != 1 && which != 2)) return {};
    return (which == 1 ? g->dac1 : g->dac2).loads;
}

int GrabView::ics1522(int reg) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && reg >= 0 && reg <= 6 ? g->ics.value[reg] : -1;
}

std::vector<std::pair<int, uint16_t>> GrabView::ics1522Loads() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->ics.loads : std::vector<std::pair<int, uint16_t>>{};
}

int GrabView::ds1020() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->ds1020.delay : -1;
}

std::vector<uint8_t> GrabView::ds1020Loads() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->ds1020.loads : std::vector<uint8_t>{};
}

std::vector<uint32_t> GrabView::icdWords() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->icd.words : std::vector<uint32_t>{};
}

GrabClock GrabView::icdClock(int reg) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g || reg < 0 || reg > 3 || !g->icd.clockLoaded[reg]) return GrabClock{};
    return DecodeIcdClock(g->icd.clockWord[reg], static_cast<uint32_t>(reg), g->icd.control);
}

int64_t GrabView::icdControl() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && g->icd.controlLoaded ? static_cast<int64_t>(g->icd.control) : -1;
}

uint32_t GrabView::icdPowerDown() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->icd.powerDown : 0;
}

int GrabView::bt261(int index) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && index >= 0 && index < 256 ? g->bt261.reg[index] : -1;
}

std::vector<std::pair<uint8_t, uint8_t>> GrabView::bt261Writes() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->bt261.writes : std::vector<std::pair<uint8_t, uint8_t>>{};
}

void GrabView::setDimFitted(bool fitted) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) g->dim.fitted = fitted;
}

int GrabView::dim() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->dim.value : -1;
}

std::vector<uint8_t> GrabView::dimLoads() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->dim.loads : std::vector<uint8_t>{};
}

int GrabView::eeprom(uint32_t address) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g || address >= kEepromWords) return -1;
    g->eeprom.settle(g->now());
    return g->eeprom.words[address];
}

void GrabView::setEeprom(uint32_t address, uint16_t value) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (g && address < kEepromWords) g->eeprom.words[address] = value;
}

void GrabView::preloadEeprom(const std::vector<uint16_t>& image, uint32_t first) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return;
    for (size_t i = 0; i < image.size() && first + i < kEepromWords; ++i) g->eeprom.words[first + i] = image[i];
}

void GrabView::setEepromFitted(bool fitted) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) g->eeprom.fitted = fitted;
}

void GrabView::setEepromNeverReady(bool on) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return;
    EepromModel& e = g->eeprom;
    e.neverReady = on;
    if (!on && e.busy && e.busyUntil == UINT64_MAX) {
        e.busy = false;   // the stuck cycle ends without writing
        e.busyUntil = 0;
    }
}

bool GrabView::eepromWriteEnabled() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && g->eeprom.writeEnabled;
}

bool GrabView::eepromBusy() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return false;
    g->eeprom.settle(g->now());
    return g->eeprom.busy;
}

bool GrabView::eepromSelected() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && g->eeprom.selected;
}

uint32_t GrabView::eepromCycles() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return 0;
    g->eeprom.settle(g->now());
    return g->eeprom.cycles;
}

std::vector<EepromCommand> GrabView::eepromCommands() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->eeprom.commands : std::vector<EepromCommand>{};
}

void GrabView::uartQueue(const std::vector<uint8_t>& bytes, double spacingSeconds) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return;
    const uint64_t t = g->now();
    const double step = spacingSeconds > 0 ? spacingSeconds * 1e9 : 0;
    uint64_t last = g->uart.queue.empty() ? t : std::max(t, g->uart.queue.back().due);
    for (size_t i = 0; i < bytes.size(); ++i) {
        UartPeerByte b;
        b.byte = bytes[i];
        last += static_cast<uint64_t>(step);
        b.due = last;
        g->uart.queue.push_back(b);
    }
}

void GrabView::uartQueueByte(uint8_t byte, bool receiveError, bool parityError) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (!g) return;
    UartPeerByte b;
    b.byte = byte;
    b.receiveError = receiveError;
    b.parityError = parityError;
    b.due = g->uart.queue.empty() ? g->now() : std::max(g->now(), g->uart.queue.back().due);
    g->uart.queue.push_back(b);
}

size_t GrabView::uartQueued() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->uart.queue.size() : 0;
}

void GrabView::setUartPeerParity(UartParity parity) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) g->uart.peerParity = parity;
}

void GrabView::setUartPeerReady(bool ready) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) g->uart.peerReady = ready;
}

void GrabView::setUartPeerFlowControl(bool on) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) g->uart.peerFlowControl = on;
}

std::vector<uint8_t> GrabView::uartSent() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->uart.sent : std::vector<uint8_t>{};
}

std::vector<uint16_t> GrabView::uartSentWords() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    std::vector<uint16_t> v;
    if (!g) return v;
    for (const UartFrame& f : g->uart.frames)
        if (f.complete && (f.sent & kUartCmdMask) == kUartCmdWriteData && !(f.sent & kUartTxReadyOnly))
            v.push_back(f.sent);
    return v;
}

std::vector<UartFrame> GrabView::uartFrames() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->uart.frames : std::vector<UartFrame>{};
}

void GrabView::clearUartFrames() const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) {
        g->uart.frames.clear();
        g->uart.sent.clear();
    }
}

uint16_t GrabView::uartConfig() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g ? g->uart.config : 0;
}

bool GrabView::uartHostReady() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && g->uart.hostReady;
}

bool GrabView::uartTransmitting() const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    return g && g->now() < g->uart.txBusyUntil;
}

void GrabView::setUserInputs(bool input0, bool input1) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) {
        g->userInputs = static_cast<uint8_t>((input0 ? 1 : 0) | (input1 ? 2 : 0));
        g->userInputsDriven = true;
    }
}

void GrabView::setCounters(uint16_t horizontal, uint16_t vertical) const
{
    LOCKED;
    if (GrabModuleChip* g = Grab(s, board)) {
        g->counter[0] = horizontal;
        g->counter[1] = vertical;
    }
}

void GrabView::setTimerOutput(int timer, bool high) const
{
    LOCKED;
    GrabModuleChip* g = Grab(s, board);
    if (g && (timer == 1 || timer == 2)) g->timerOutput[timer - 1] = high;
}

} // namespace boardsim
