// Register models and memory behind the mapped windows, the window table, and the
// accessor layer that routes every library access through them.
#include "hwaccess.h"
#include "simcore.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <typeinfo>

namespace boardsim {

namespace {
uint32_t WidthMask(int width)
{
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
}
} // namespace

// ---------------------------------------------------------------- memory

uint32_t RamChip::read(uint32_t offset, int width)
{
    if (offset >= size_ || size_ - offset < static_cast<uint32_t>(width)) return WidthMask(width);
    if (bytes_.empty()) return 0;
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | bytes_[offset + i];
    return v;
}

void RamChip::write(uint32_t offset, int width, uint32_t value)
{
    if (offset >= size_ || size_ - offset < static_cast<uint32_t>(width)) return;
    if (bytes_.empty()) bytes_.assign(size_, 0);
    for (int i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool RamChip::copyOut(uint32_t offset, void* destination, uint32_t bytes) const
{
    if (offset > size_ || size_ - offset < bytes) return false;
    if (bytes_.empty())
        std::memset(destination, 0, bytes);
    else
        std::memcpy(destination, bytes_.data() + offset, bytes);
    return true;
}

// ---------------------------------------------------------------- Orlo registers

OrloChip::OrloChip(Board* board, bool display)
    : board_(board),
      display_(display),
      doorbellName_(std::string(display ? "display" : "primary") + " doorbell board " + std::to_string(board->index)),
      timerName_(display ? "display timer" : "primary timer"),
      vmSendName_(display ? "display VM send" : "primary VM send"),
      regs_(kOrloRegisterSize / 4, 0)
{
    regs_[kOrloControl / 4] = kControlEmulatorAbsent;   // no JTAG emulator attached
    regs_[kOrloStatus / 4] = ((board->spec.processor && !display) ? kStatusProcessor : 0u) |
                             (board->spec.vmClockOption ? kStatusVmClockSetup : 0u);
    // The memory configuration bits report the primary Orlo's board memory: 2 or 4 MB in
    // bits 3-4 (in units of 1 MB shifted by 18), anything else the 6 MB default (0).
    if (!display && (board->spec.primaryMemory == 0x200000 || board->spec.primaryMemory == 0x400000))
        regs_[kOrloMemControl / 4] = board->spec.primaryMemory >> 18;
}

uint32_t OrloChip::peek(uint32_t offset) const
{
    const uint32_t dword = offset & ~3u;
    if (dword >= kOrloRegisterSize) return 0xFFFFFFFFu;
    if (dword == kOrloInterruptClear || dword == kOrloInterruptSet) return interrupts_;
    if (dword == kOrloLock) return lock_ ? 1u : 0u;
    if (dword == kOrloTimerCounter && timerRunning_) return timerCount();
    return regs_[dword / 4];
}

void OrloChip::poke(uint32_t offset, uint32_t value)
{
    const uint32_t dword = offset & ~3u;
    if (dword >= kOrloRegisterSize) return;
    if (dword == kOrloInterruptClear || dword == kOrloInterruptSet)
        interrupts_ = value;
    else if (dword == kOrloLock)
        lock_ = (value & 1) != 0;
    else
        regs_[dword / 4] = value;
}

uint32_t OrloChip::readWord(uint32_t dword)
{
    switch (dword) {
    case kOrloLock: {
        // Read-to-take: answers 1 when already held, else takes it and answers 0.
        const uint32_t was = lock_ ? 1u : 0u;
        lock_ = true;
        return was;
    }
    case kOrloInterruptSet:
        if (flushRunning_) {
            if (flushRemaining_ == 0) {
                flushRunning_ = false;
                interrupts_ &= ~kInterruptCacheFlush;
            } else if (flushRemaining_ > 0) {
                --flushRemaining_;
            }
        }
        return interrupts_;
    case kOrloInterruptClear:
        return interrupts_;
    case kOrloTimerCounter:
        return timerRunning_ ? timerCount() : regs_[dword / 4];
    default:
        return regs_[dword / 4];
    }
}

void OrloChip::writeWord(uint32_t dword, uint32_t bits, uint32_t laneMask)
{
    switch (dword) {
    case kOrloInterruptClear: // write 1 to clear
        interrupts_ &= ~(bits & laneMask);
        if (bits & laneMask & kInterruptCacheFlush) flushRunning_ = false;
        break;
    case kOrloInterruptSet: // write 1 to set
        interrupts_ |= bits & laneMask;
        if (bits & laneMask & kInterruptCacheFlush) {
            if (!display_ && board_->spec.boardCache) {
                flushRunning_ = true;
                flushRemaining_ = board_->spec.flushLatency;
            } else {
                interrupts_ &= ~kInterruptCacheFlush; // nothing to flush
            }
        }
        break;
    case kOrloLock:
        if (laneMask & 1) lock_ = (bits & 1) != 0;
        break;
    case kOrloVpStatus: // write 1 to clear
        regs_[dword / 4] &= ~(bits & laneMask);
        break;
    default:
        regs_[dword / 4] = (regs_[dword / 4] & ~laneMask) | (bits & laneMask);
        break;
    }
}

uint32_t OrloChip::read(uint32_t offset, int width)
{
    if (offset >= kOrloRegisterSize) return WidthMask(width);
    const uint32_t shift = 8 * (offset & 3);
    return (readWord(offset & ~3u) >> shift) & WidthMask(width);
}

void OrloChip::write(uint32_t offset, int width, uint32_t value)
{
    if (offset >= kOrloRegisterSize) return;
    const uint32_t shift = 8 * (offset & 3);
    const uint32_t lanes = (WidthMask(width) << shift);
    const uint32_t dword = offset & ~3u;
    const uint32_t before = peek(dword);
    const uint32_t bits = (value & WidthMask(width)) << shift;
    writeWord(dword, bits, lanes);
    afterWrite(dword, bits, lanes, before);
}

// ---------------------------------------------------------------- PCI shadow

uint32_t ShadowChip::read(uint32_t offset, int width)
{
    if (offset >= kOrloShadowSize || kOrloShadowSize - offset < static_cast<uint32_t>(width)) return WidthMask(width);
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | function_->cfg[0x40 + offset + i];
    return v;
}

void ShadowChip::write(uint32_t offset, int width, uint32_t value)
{
    if (offset >= kOrloShadowSize || kOrloShadowSize - offset < static_cast<uint32_t>(width)) return;
    for (int i = 0; i < width; ++i) {
        const uint8_t reg = static_cast<uint8_t>(0x40 + offset + i);
        const uint8_t m = function_->wmask[reg];
        function_->cfg[reg] = static_cast<uint8_t>((function_->cfg[reg] & ~m) | (static_cast<uint8_t>(value >> (8 * i)) & m));
    }
}

// ---------------------------------------------------------------- windows

uint32_t Machine::mapWindow(Board& board, HwArea area, SimChip* chip, uint32_t chipOffset, uint32_t size)
{
    for (const auto& entry : windows) {
        const Window& w = entry.second;
        if (w.board == board.index && w.area == area && w.chipOffset == chipOffset && w.size == size) return w.base;
    }
    const size_t page = 4096;
    const size_t bytes = (static_cast<size_t>(size) + page - 1) / page * page;
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return 0;
    Window w;
    w.base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    w.size = size;
    w.reservation = p;
    w.reservedBytes = bytes;
    w.chip = chip;
    w.chipOffset = chipOffset;
    w.board = static_cast<uint8_t>(board.index);
    w.area = area;
    windows[w.base] = w;
    return w.base;
}

// Driver regions: 4 the primary Orlo, 8 the display Orlo, 1 the display chip (offset 0
// its registers, 1 its frame memory), -1 physical DMA memory.
uint32_t Machine::mapRegion(Board& board, uint32_t region, uint32_t offset, uint32_t size)
{
    if (size == 0) return 0;
    const uint64_t end = static_cast<uint64_t>(offset) + size;
    if (region == 0xFFFFFFFFu) {
        uint8_t* host = hostOf(offset, size);
        return host ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host)) : 0;
    }
    if (region == 4 || region == 8) {
        const bool display = region == 8;
        PciFunction* f = display ? board.display : board.primary;
        if (!f || !reachable(f, 0)) return 0;
        RamChip* memory = display ? board.displayMemory.get() : board.primaryMemory.get();
        const uint32_t top = display ? kDisplayMemoryTop : kPrimaryMemoryTop;
        const uint32_t memoryStart = top - memory->size();
        if (offset >= memoryStart && end <= top)
            return mapWindow(board, display ? HwArea::DisplayMemory : HwArea::PrimaryMemory, memory,
                             offset - memoryStart, size);
        if (offset >= kOrloRegisterOffset && end <= kOrloRegisterOffset + kOrloRegisterSize)
            return mapWindow(board, display ? HwArea::DisplayRegs : HwArea::PrimaryRegs,
                             display ? board.displayRegs.get() : board.primaryRegs.get(),
                             offset - kOrloRegisterOffset, size);
        if (offset >= kOrloPortOffset && end <= kOrloPortOffset + kOrloPortSize)
            return mapWindow(board, display ? HwArea::DisplayPort : HwArea::PrimaryPort,
                             display ? board.displayPort.get() : board.primaryPort.get(), offset - kOrloPortOffset,
                             size);
        if (offset >= kOrloShadowOffset && end <= kOrloShadowOffset + kOrloShadowSize)
            return mapWindow(board, display ? HwArea::DisplayShadow : HwArea::PrimaryShadow,
                             display ? board.displayShadow.get() : board.primaryShadow.get(),
                             offset - kOrloShadowOffset, size);
        return 0;
    }
    if (region == 1 && board.chipFunction1) {
        if (offset == 0 && size <= kChipRegisterSize && reachable(board.chipFunction1, 0))
            return mapWindow(board, HwArea::ChipRegs, board.chipRegs.get(), 0, size);
        if (offset == 1 && size <= kChipFrameSize && reachable(board.chipFunction1, 1))
            return mapWindow(board, HwArea::ChipFrame, board.chipFrame.get(), 0, size);
    }
    return 0;
}

uint32_t Machine::chipAccess(HwOp op, uint8_t board, HwArea area, SimChip* chip, uint32_t offset, int width,
                              uint32_t value, bool viaDriver)
{
    clock->spend(kAccessNanos);   // the bus time of the access
    HwAccess a;
    a.op = op;
    a.width = static_cast<uint8_t>(width);
    a.board = board;
    a.area = area;
    a.offset = offset;
    a.viaDriver = viaDriver;
    if (op == HwOp::Write) {
        a.value = value & WidthMask(width);
        bool keep = true;
        if (writeFilter) keep = writeFilter(a);
        if (keep && chip) chip->write(a.offset, width, a.value);
        if (tracing) traceLog.push_back(a);
        return 0;
    }
    a.value = chip ? chip->read(offset, width) : WidthMask(width);
    if (readFilter) a.value = readFilter(a) & WidthMask(width);
    if (tracing) traceLog.push_back(a);
    return a.value;
}

uint32_t Machine::access(HwOp op, uint32_t address, int width, uint32_t value)
{
    auto it = windows.upper_bound(address);
    if (it != windows.begin()) {
        --it;
        const Window& w = it->second;
        const uint32_t offset = address - w.base;
        if (offset < w.size && w.size - offset >= static_cast<uint32_t>(width))
            return chipAccess(op, w.board, w.area, w.chip, w.chipOffset + offset, width, value, false);
    }
    ++strays;
    return chipAccess(op, 0, HwArea::Stray, nullptr, address, width, value, false);
}

uint8_t* Machine::blockRun(uint32_t address, uint32_t bytes, uint32_t accesses)
{
    if (bytes == 0 || tracing || readFilter || writeFilter) return nullptr;
    auto it = windows.upper_bound(address);
    if (it == windows.begin()) return nullptr;
    --it;
    const Window& w = it->second;
    const uint32_t offset = address - w.base;
    if (offset >= w.size || w.size - offset < bytes) return nullptr;
    // Plain memory only: the chips built on it (ports, frame and display chips) act on
    // their accesses.
    if (!w.chip || typeid(*w.chip) != typeid(RamChip)) return nullptr;
    auto* ram = static_cast<RamChip*>(w.chip);
    if (w.chipOffset + offset > ram->size() || ram->size() - (w.chipOffset + offset) < bytes) return nullptr;
    clock->spend(static_cast<uint64_t>(accesses) * kAccessNanos);
    return ram->data() + w.chipOffset + offset;
}

// ---------------------------------------------------------------- boards

uint8_t Board::kind() const
{
    if (spec.primaryOrlo) return 4;
    if (spec.displayOrlo) return 8;
    return 0;
}

uint8_t Board::secondKind() const
{
    return (spec.primaryOrlo && spec.displayOrlo) ? 8 : 0;
}

// Board record of the board list: 0 slot, 1 bus, 2 device, 3 function flags (bit 0
// primary Orlo, 1 display Orlo, 2 bridge, 3 display chip function 1), 4 kind, 5 family,
// 6 module type, 7 second kind, 8 display-chip device number, 9 secondary bus,
// 10 bridge function, 11-18 list links (left 0 by the driver).
void Board::boardRecord(uint8_t record[19]) const
{
    std::memset(record, 0, 19);
    record[0] = slot;
    record[1] = 0;
    record[2] = slotDevice;
    record[3] = static_cast<uint8_t>((primary ? 1 : 0) | (display ? 2 : 0) | (bridge ? 4 : 0) | (chipFunction1 ? 8 : 0));
    record[4] = kind();
    record[5] = spec.family;
    record[6] = spec.moduleType;
    record[7] = secondKind();
    record[8] = chipFunction1 ? 1 : 0;
    record[9] = bridge ? bridge->cfg[0x19] : 0;
    record[10] = spec.bridgeFunction;
}

namespace {
thread_local int t_accessDepth = 0;   // accesses of this thread that hold the lock
} // namespace

AccessLock::AccessLock(SimState& state) : mark_(), hold_(state.mutex)
{
    if (t_accessDepth++ == 0 && state.machine) state.machine->clock->catchUp(hold_);
}

AccessLock::AccessLock(SimState& state, uint32_t address, uint32_t bytes) : mark_(), hold_(state.mutex)
{
    if (t_accessDepth++ == 0 && state.machine)
        state.machine->clock->catchUp(hold_, state.machine->accessScope(address, bytes));
}

EventScope Machine::accessScope(uint32_t address, uint32_t bytes) const
{
    auto it = windows.upper_bound(address);
    if (it == windows.begin() || bytes == 0) return {};
    const Window& w = (--it)->second;
    const uint32_t offset = address - w.base;
    if (!w.chip || offset >= w.size || w.size - offset < bytes) return {};
    return {w.chip, w.chipOffset + offset, w.chipOffset + offset + bytes};
}

AccessLock::~AccessLock()
{
    --t_accessDepth;
}

void ReleaseMachineTime()
{
    if (!MayHoldMachineTime()) return;
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    if (s.machine) s.m().clock->release();
}

} // namespace boardsim

// ---------------------------------------------------------------- accessor layer

using boardsim::HwOp;
using boardsim::SimState;

uint8_t HwRead8(uint32_t window, uint32_t offset)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 1);
    return static_cast<uint8_t>(s.m().access(HwOp::Read, window + offset, 1, 0));
}

uint16_t HwRead16(uint32_t window, uint32_t offset)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 2);
    return static_cast<uint16_t>(s.m().access(HwOp::Read, window + offset, 2, 0));
}

uint32_t HwRead32(uint32_t window, uint32_t offset)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 4);
    return s.m().access(HwOp::Read, window + offset, 4, 0);
}

void HwWrite8(uint32_t window, uint32_t offset, uint8_t value)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 1);
    s.m().access(HwOp::Write, window + offset, 1, value);
}

void HwWrite16(uint32_t window, uint32_t offset, uint16_t value)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 2);
    s.m().access(HwOp::Write, window + offset, 2, value);
}

void HwWrite32(uint32_t window, uint32_t offset, uint32_t value)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, 4);
    s.m().access(HwOp::Write, window + offset, 4, value);
}

// The accesses a block makes access by access: single bytes up to a word boundary, words,
// then the bytes left.
static uint32_t BlockAccesses(uint32_t address, uint32_t bytes)
{
    const uint32_t head = std::min(bytes, (4u - (address & 3u)) & 3u);
    return head + (bytes - head) / 4 + (bytes - head) % 4;
}

void HwReadBlock(uint32_t window, uint32_t offset, void* destination, uint32_t bytes)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, bytes);
    auto* d = static_cast<uint8_t*>(destination);
    uint32_t address = window + offset;
    if (const uint8_t* run = s.m().blockRun(address, bytes, BlockAccesses(address, bytes))) {
        std::memcpy(d, run, bytes);
        return;
    }
    while (bytes > 0 && (address & 3)) {
        *d++ = static_cast<uint8_t>(s.m().access(HwOp::Read, address++, 1, 0));
        --bytes;
    }
    for (; bytes >= 4; bytes -= 4, address += 4, d += 4) {
        const uint32_t v = s.m().access(HwOp::Read, address, 4, 0);
        std::memcpy(d, &v, 4);
    }
    while (bytes-- > 0) *d++ = static_cast<uint8_t>(s.m().access(HwOp::Read, address++, 1, 0));
}

void HwWriteBlock(uint32_t window, uint32_t offset, const void* source, uint32_t bytes)
{
    SimState& s = SimState::get();
    boardsim::AccessLock lock(s, window + offset, bytes);
    const auto* p = static_cast<const uint8_t*>(source);
    uint32_t address = window + offset;
    if (uint8_t* run = s.m().blockRun(address, bytes, BlockAccesses(address, bytes))) {
        std::memcpy(run, p, bytes);
        return;
    }
    while (bytes > 0 && (address & 3)) {
        s.m().access(HwOp::Write, address++, 1, *p++);
        --bytes;
    }
    for (; bytes >= 4; bytes -= 4, address += 4, p += 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        s.m().access(HwOp::Write, address, 4, v);
    }
    while (bytes-- > 0) s.m().access(HwOp::Write, address++, 1, *p++);
}

void HwHostWaits()
{
    boardsim::ReleaseMachineTime();
}

double HwClockSeconds()
{
    SimState& s = SimState::get();
    // A free-running machine whose time this thread does not hold: real time, without
    // the machine lock that a busy poll of the clock would contend for.
    if (s.freeRunning.load(std::memory_order_acquire) && !boardsim::MayHoldMachineTime())
        return boardsim::SimClock::realSeconds();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    boardsim::SimClock& clock = *s.m().clock;
    if (clock.mode() == boardsim::ClockMode::Virtual) {
        // Reading the clock takes time, so that a wait that only polls the clock ends.
        clock.spend(boardsim::kClockReadNanos);
        clock.runDue();
    } else {
        // A thread that times itself against real time lets the machine's time flow.
        clock.release();
    }
    return clock.seconds();
}

void HwSleep(double seconds)
{
    {
        SimState& s = SimState::get();
        std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
        boardsim::SimClock& clock = *s.m().clock;
        if (clock.mode() == boardsim::ClockMode::Virtual) {
            const double nanos = seconds * 1e9;
            clock.advance(nanos > boardsim::kSleepTickNanos ? static_cast<uint64_t>(nanos) : boardsim::kSleepTickNanos);
            return;
        }
        clock.release();
    }
    if (seconds < 0.001)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool HwIsWindowAddress(uint32_t address)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    auto it = s.m().windows.upper_bound(address);
    if (it == s.m().windows.begin()) return false;
    --it;
    return address - it->second.base < it->second.size;
}
