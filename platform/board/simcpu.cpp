// The board processor as the host sees it through the primary Orlo (reset, start, the
// start-up handshake on the mailbox word), and the grab module's FPGA configuration
// (program pulse, data port, done bit).
#include "boardsim.h"
#include "simcore.h"
#include "simfirmware.h"

#include <algorithm>

namespace boardsim {

namespace {

// Bus time the processor stays in each reset state.
constexpr uint64_t kResetStateNanos = 4 * kAccessNanos;

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
    if (board->spec.emulatorActive) poke(kOrloControl, peek(kOrloControl) & ~kControlEmulatorAbsent);
    board->fpga.done = board->spec.fpgaConfigured;
}

uint32_t BoardOrloChip::read(uint32_t offset, int width)
{
    const uint32_t dword = offset & ~3u;
    Board& b = *board_;
    if (dword == kOrloMailbox && b.primaryRegs.get() == this && b.cpu.phase == CpuPhase::Booting) {
        if (b.cpu.bootReads > 0) {
            --b.cpu.bootReads;
            poke(kOrloMailbox, 0);
        } else if (b.cpu.fadeReads > 0) {
            --b.cpu.fadeReads;
            poke(kOrloMailbox, kMailboxBooting);
        } else if (b.spec.cpuStartup == CpuStartup::BadStartup) {
            poke(kOrloMailbox, kMailboxBooting);
        } else {
            poke(kOrloMailbox, kMailboxReady);
            b.cpu.phase = CpuPhase::Ready;
        }
    }
    if (dword == kOrloMemControl && b.primaryRegs.get() == this && b.spec.processor)
        poke(kOrloMemControl, (peek(kOrloMemControl) & ~kMemControlResetStateMask) |
                                  (resetState() << kMemControlResetStateShift));
    uint32_t value = OrloChip::read(offset, width);
    if (dword == kOrloControl) {
        const uint32_t shift = 8 * (offset & 3);
        const uint32_t done = (b.fpga.done ? kControlFpgaDone : 0) >> shift;
        value = (value & ~(kControlFpgaDone >> shift)) | done;
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
    const bool held = (peek(kOrloMemControl) & kMemControlCpuReset) != 0;

    // The processor resets when bit 16 of the memory control word rises and stays
    // halted while it is held.
    if (dword == kOrloMemControl && primary && (lanes & kMemControlCpuReset) && (word & kMemControlCpuReset) &&
        !(before & kMemControlCpuReset)) {
        b.cpu.phase = CpuPhase::Halted;
        ++b.cpu.resets;
        poke(kOrloMailbox, 0);
        if (b.cpu.firmware) b.cpu.firmware->halt();
    }
    // The reset states move on when the pulse ends.
    if (dword == kOrloMemControl && primary && (lanes & kMemControlCpuReset) && !(word & kMemControlCpuReset) &&
        (before & kMemControlCpuReset)) {
        b.cpu.resetState = resetState() == kResetStateLast ? kResetStateHalted : kResetStateFirst;
        b.cpu.sequenceStart = b.clock->busNanos();
    }
    if (dword == kOrloControl) {
        if (lanes & kControlFpgaProgram) {
            if (word & kControlFpgaProgram) {
                if (!b.fpga.programming) ++b.fpga.pulses;
                b.fpga.programming = true;
                b.fpga.done = b.spec.fpgaDoneStuck;
                b.fpga.received.clear();
            } else {
                b.fpga.programming = false;
            }
        }
    }
    if (dword == kOrloInterruptSet && primary && !held && (lanes & kInterruptCpuStart) && (word & kInterruptCpuStart)) {
        ++b.cpu.starts;
        if (b.cpu.phase == CpuPhase::Halted) {
            if (ResetVectorPresent(b) && b.spec.cpuStartup != CpuStartup::NoReply) {
                b.cpu.phase = CpuPhase::Booting;
                b.cpu.bootReads = b.spec.cpuBootReads;
                b.cpu.fadeReads = 2;
            }
        } else if (b.cpu.phase == CpuPhase::Ready && b.spec.cpuStartup != CpuStartup::NoInterrupt) {
            b.cpu.phase = CpuPhase::Running;
            poke(kOrloMailbox, kMailboxRunning);
            ++b.semaphores[kProcessorStartedSignal];
            if (!b.cpu.firmware) b.cpu.firmware = std::make_shared<Firmware>(&b);
            b.cpu.firmware->boot();
        } else if (b.cpu.phase == CpuPhase::Running && b.cpu.firmware) {
            // The same input is the running processor's doorbell.
            b.cpu.firmware->doorbell();
        }
    }
}

// The state of the reset sequence at the current bus time.
uint32_t BoardOrloChip::resetState() const
{
    const CpuModel& c = board_->cpu;
    if (c.resetState < kResetStateFirst || c.resetState >= kResetStateLast) return c.resetState;
    const uint64_t steps = (board_->clock->busNanos() - c.sequenceStart) / kResetStateNanos;
    return static_cast<uint32_t>(std::min<uint64_t>(c.resetState + steps, kResetStateLast));
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
    return board >= 0 && board < static_cast<int>(s.m().boards.size()) ? s.m().boards[board].get() : nullptr;
}
} // namespace

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

uint32_t CpuView::starts() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->cpu.starts : 0;
}

uint32_t CpuView::resets() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->cpu.resets : 0;
}

bool CpuView::running() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b && b->cpu.phase == CpuPhase::Running;
}

std::vector<uint8_t> FpgaView::data() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->fpga.received : std::vector<uint8_t>{};
}

uint32_t FpgaView::pulses() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b ? b->fpga.pulses : 0;
}

bool FpgaView::done() const
{
    LOCKED;
    Board* b = Find(s, board);
    return b && b->fpga.done;
}

} // namespace boardsim
