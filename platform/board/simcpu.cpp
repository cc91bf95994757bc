// The board processor as the host sees it through the primary Orlo (reset, start, the
// start-up handshake on the mailbox word), and the grab module's FPGA configuration
// (program pulse, data port, done bit).
#include "boardsim.h"
#include "simcore.h"

namespace boardsim {

namespace {

constexpr uint32_t kCpuResetBit = 0x10000;   // bit 16 of the memory control word
constexpr uint32_t kCpuStartBit = 0x400000;
constexpr uint32_t kFpgaProgramBit = 0x40000000u;
constexpr uint32_t kFpgaDoneBit = 0x20;
constexpr uint32_t kEmulatorAbsentBit = 0x10;
constexpr uint32_t kMailboxBooting = 0xCAFEFADEu;
constexpr uint32_t kMailboxReady = 0xDEADBEEFu;
constexpr uint32_t kMailboxRunning = 0xFEEDDEADu;
constexpr uint32_t kStartedSemaphore = 33;
constexpr uint32_t kResetStateShift = 8;
constexpr uint32_t kResetStateMask = 0xF00;
constexpr uint32_t kResetStateReads = 4;
constexpr uint32_t kFirstResetState = 4;
constexpr uint32_t kLastResetState = 10;
constexpr uint32_t kHaltedState = 11;

bool ResetVectorPresent(const Board& board)
{
    if (!board.primaryMemory) return false;
    uint8_t vector[8];
    if (!board.primaryMemory->copyOut(board.primaryMemory->size() - 8, vector, 8)) return false;
    for (uint8_t b : vector)
        if (b) return true;
    return false;
}

} // namespace

BoardOrloChip::BoardOrloChip(Board* board, bool display) : OrloChip(board, display), board_(board)
{
    if (board->spec.emulatorActive) poke(kControl, peek(kControl) & ~kEmulatorAbsentBit);
    board->fpga.done = board->spec.fpgaConfigured;
}

uint32_t BoardOrloChip::read(uint32_t offset, int width)
{
    const uint32_t dword = offset & ~3u;
    Board& b = *board_;
    if (dword == kMailbox && b.primaryRegs.get() == this && b.cpu.phase == CpuPhase::Booting) {
        if (b.cpu.bootReads > 0) {
            --b.cpu.bootReads;
            poke(kMailbox, 0);
        } else if (b.cpu.fadeReads > 0) {
            --b.cpu.fadeReads;
            poke(kMailbox, kMailboxBooting);
        } else if (b.spec.cpuStartup == CpuStartup::BadStartup) {
            poke(kMailbox, kMailboxBooting);
        } else {
            poke(kMailbox, kMailboxReady);
            b.cpu.phase = CpuPhase::Ready;
        }
    }
    if (dword == kMemControl && b.primaryRegs.get() == this && b.spec.processor) {
        CpuModel& c = b.cpu;
        if (c.resetState >= kFirstResetState && c.resetState < kLastResetState &&
            ++c.stateReads % kResetStateReads == 0)
            ++c.resetState;
        poke(kMemControl, (peek(kMemControl) & ~kResetStateMask) | (c.resetState << kResetStateShift));
    }
    uint32_t value = OrloChip::read(offset, width);
    if (dword == kControl) {
        const uint32_t shift = 8 * (offset & 3);
        const uint32_t done = (b.fpga.done ? kFpgaDoneBit : 0) >> shift;
        value = (value & ~(kFpgaDoneBit >> shift)) | done;
    }
    return value;
}

void BoardOrloChip::write(uint32_t offset, int width, uint32_t value)
{
    const uint32_t dword = offset & ~3u;
    const uint32_t shift = 8 * (offset & 3);
    const uint32_t word = value << shift;
    const uint32_t lanes = (width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u)) << shift;
    Board& b = *board_;
    const bool primary = b.primaryRegs.get() == this;
    const uint32_t before = peek(dword);
    OrloChip::write(offset, width, value);
    const bool held = (peek(kMemControl) & kCpuResetBit) != 0;

    // The processor resets when bit 16 of the memory control word rises and stays
    // halted while it is held.
    if (dword == kMemControl && primary && (lanes & kCpuResetBit) && (word & kCpuResetBit) &&
        !(before & kCpuResetBit)) {
        b.cpu.phase = CpuPhase::Halted;
        ++b.cpu.resets;
        poke(kMailbox, 0);
    }
    // The reset states move on when the pulse ends.
    if (dword == kMemControl && primary && (lanes & kCpuResetBit) && !(word & kCpuResetBit) &&
        (before & kCpuResetBit)) {
        b.cpu.resetState = b.cpu.resetState == kLastResetState ? kHaltedState : kFirstResetState;
        b.cpu.stateReads = 0;
    }
    if (dword == kControl) {
        if (lanes & kFpgaProgramBit) {
            if (word & kFpgaProgramBit) {
                if (!b.fpga.programming) ++b.fpga.pulses;
                b.fpga.programming = true;
                b.fpga.done = b.spec.fpgaDoneStuck;
                b.fpga.received.clear();
            } else {
                b.fpga.programming = false;
            }
        }
    }
    if (dword == kInterruptSet && primary && !held && (lanes & kCpuStartBit) && (word & kCpuStartBit)) {
        ++b.cpu.starts;
        if (b.cpu.phase == CpuPhase::Halted) {
            if (ResetVectorPresent(b) && b.spec.cpuStartup != CpuStartup::NoReply) {
                b.cpu.phase = CpuPhase::Booting;
                b.cpu.bootReads = b.spec.cpuBootReads;
                b.cpu.fadeReads = 2;
            }
        } else if (b.cpu.phase == CpuPhase::Ready && b.spec.cpuStartup != CpuStartup::NoInterrupt) {
            b.cpu.phase = CpuPhase::Running;
            poke(kMailbox, kMailboxRunning);
            ++b.semaphores[kStartedSemaphore];
        }
    }
}

FpgaPortChip::FpgaPortChip(Board* board) : RamChip(kOrloPortSize), board_(board) {}

void FpgaPortChip::write(uint32_t offset, int width, uint32_t value)
{
    RamChip::write(offset, width, value);
    FpgaModel& f = board_->fpga;
    if (offset != 0 || width != 4 || f.programming || f.done) return;
    f.received.push_back(static_cast<uint8_t>(value));
    if (board_->spec.fpgaBytes && f.received.size() >= board_->spec.fpgaBytes) f.done = true;
}

// ---------------------------------------------------------------- inspection

namespace {
Board* Find(SimState& s, int board)
{
    return board >= 0 && board < static_cast<int>(s.boards.size()) ? s.boards[board].get() : nullptr;
}
} // namespace

#define LOCKED SimState& s = SimState::get(); std::lock_guard<std::recursive_mutex> guard(s.mutex)

uint32_t BoardSim::cpuStarts(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->cpu.starts : 0;
}

uint32_t BoardSim::cpuResets(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->cpu.resets : 0;
}

bool BoardSim::cpuRunning(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b && b->cpu.phase == CpuPhase::Running;
}

std::vector<uint8_t> BoardSim::fpgaData(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->fpga.received : std::vector<uint8_t>{};
}

uint32_t BoardSim::fpgaPulses(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->fpga.pulses : 0;
}

bool BoardSim::fpgaDone(int board) const
{
    LOCKED;
    Board* b = Find(s, board);
    return b && b->fpga.done;
}

} // namespace boardsim
