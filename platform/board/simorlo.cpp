// The Orlo's own machinery on the machine's clock: the board driver taking the
// doorbells, the 50 MHz timer, and the VM engine's sends and port set-up.  Writes of the
// grab control and the line interrupt go to the grab engine (simgrabengine.cpp).
//
// The driver model.  A doorbell bit (0x20, or the alternate 0x2) written into the
// interrupt set register is taken by the board driver at the same machine time, as an
// event of the machine's clock: on the machine's own thread when the clock runs free
// (SimClock wakes that thread through its condition variable the moment the event is
// scheduled), or on the thread that moves the virtual clock on.  Never inside the
// register write: the
// writer still holds the machine lock and may itself be the thread that serves the
// interrupt.  Taking a doorbell clears its bit and delivers its source (37 or 33 on the
// primary Orlo, 69 or 65 on the display Orlo; the transfer lists' doorbell, bit 7: 39 or
// 71) as every board source is delivered: the special word first (the process thread
// signals the signal bound to the source), then the plain word (it runs the functions
// hooked on it).  The driver delivers only while
// the node has an enabled source; until then the bit stays set, so the library's
// doorbell wait sees a doorbell not taken, and the first enabled source takes it.
// Taking changes only the interrupt registers: the writer's next accesses to the Orlo's
// other registers (the section release after the doorbell) go on without waiting for the
// machine's thread; an access to the interrupt registers waits until it has run.
// Writes of the timing control and the list control also go to the transfer engine
// (simvmxfer.cpp).
#include "boardsim.h"
#include "simcore.h"
#include "simgrabengine.h"
#include "simgrablist.h"
#include "simkvx.h"
#include "simvmxfer.h"

#include <algorithm>
#include <string>

namespace boardsim {

namespace {

// Machine time from a send to the engine ending it.
constexpr uint64_t kVmSendNanos = 2000;
constexpr uint64_t kTimerTickNanos = 1000000000ull / kOrloTimerHz;   // 20 ns at 50 MHz
constexpr uint32_t kDoorbells = kInterruptDoorbell | kInterruptDoorbellAlternate | kInterruptListDoorbell;

} // namespace

uint32_t OrloChip::source(int primarySource, int displaySource) const
{
    return static_cast<uint32_t>(display_ ? displaySource : primarySource);
}

void OrloChip::afterWrite(uint32_t dword, uint32_t bits, uint32_t laneMask, uint32_t before)
{
    const uint32_t written = bits & laneMask;
    switch (dword) {
    case kOrloInterruptSet:
        if (written & kDoorbells) scheduleDoorbells();
        if (written & kInterruptGrabEnd) grabEngine().endRaised();
        break;
    case kOrloDisplayControl:
        displayControlWritten(before);
        break;
    case kOrloTimerControl:
        timerWritten();
        break;
    case kOrloVpControl:
        if (written & kVmControlSend) vmSend();
        break;
    case kOrloGrabControl:
        // A second-family module is the video source of both Orlos of its board: it takes
        // the grab control's arming (simkvxxfer.cpp).
        if (board_->kvx) {
            board_->kvx->orloGrabControl(this, before);
            break;
        }
        grabEngine().written(dword, before);
        break;
    case kOrloGLNINT:
        grabEngine().written(dword, before);
        break;
    case kOrloGrabStatus:
        // Bits 0 and 3 latch until written with 1; the flight and armed bits are the
        // engine's own.
        regs_[dword / 4] = before & ~(written & kGrabStatusOverruns);
        break;
    case kOrloVtControl:
        // The end of a reset pulse restarts the port set-up.
        if ((laneMask & kVtControlReset) && (before & kVtControlReset) && !(written & kVtControlReset)) vmReset();
        transferEngine().timingWritten(before, written);
        break;
    case kOrloVmListControl:
        transferEngine().listWritten();
        break;
    case kOrloGrabListPointer:
        // A second-family board's engine takes an address written while it runs at its next
        // start (simgrablist.cpp).
        if (board_->kvx) grabList().addressWritten(before);
        break;
    case kOrloGrabListControl:
        grabList().controlWritten();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- doorbells

void OrloChip::scheduleDoorbells()
{
    if (doorbellEvent_ || !(interrupts_ & kDoorbells)) return;
    SimClock& clock = *board_->clock;
    // Taking the doorbells changes only the interrupt registers (and the driver's
    // requests): an access to any other register goes on without waiting for it.
    const EventScope interruptRegisters{static_cast<const SimChip*>(this), std::min(kOrloInterruptClear, kOrloInterruptSet),
                                        std::max(kOrloInterruptClear, kOrloInterruptSet) + 4};
    doorbellEvent_ = board_->machine->scheduleEvent(clock.nowNanos(), doorbellName_, [this] {
        doorbellEvent_ = 0;
        takeDoorbells();
    }, interruptRegisters);
}

void OrloChip::takeDoorbells()
{
    const uint32_t pending = interrupts_ & kDoorbells;
    if (!pending || board_->enabledSources.empty()) return;   // kept until a source is enabled
    interrupts_ &= ~pending;
    // Lowest source first, as the driver reports a word's bits.
    if (pending & kInterruptDoorbellAlternate)
        board_->machine->deliverSource(board_->index,
                                       source(kDoorbellAlternateSourcePrimary, kDoorbellAlternateSourceDisplay));
    if (pending & kInterruptDoorbell)
        board_->machine->deliverSource(board_->index, source(kDoorbellSourcePrimary, kDoorbellSourceDisplay));
    if (pending & kInterruptListDoorbell)
        board_->machine->deliverSource(board_->index, source(kListDoorbellSourcePrimary, kListDoorbellSourceDisplay));
}

void OrloChip::sourceEnabled()
{
    scheduleDoorbells();
}

// ---------------------------------------------------------------- timer

// The counter runs down from the period at 50 MHz and reloads; every end of a period
// raises bit 0 of the interrupt register and the Orlo's timer source.  Any write of the
// control word with bit 31 and a period restarts the count from the period; clearing bit
// 31 stops it where it stands, and the counter register then reads that value.
void OrloChip::timerWritten()
{
    SimClock& clock = *board_->clock;
    if (timerEvent_) clock.cancel(timerEvent_);
    timerEvent_ = 0;
    if (timerRunning_) regs_[kOrloTimerCounter / 4] = timerCount();
    timerRunning_ = false;
    const uint32_t control = regs_[kOrloTimerControl / 4];
    if (!(control & kTimerControlRun) || (control & kTimerControlPeriod) == 0) return;
    timerRunning_ = true;
    timerStart_ = clock.nowNanos();
    timerPeriods_ = 0;
    scheduleTimerTick();
}

void OrloChip::scheduleTimerTick()
{
    const uint64_t period = static_cast<uint64_t>(regs_[kOrloTimerControl / 4] & kTimerControlPeriod) * kTimerTickNanos;
    const uint64_t at = timerStart_ + (timerPeriods_ + 1) * period;
    timerEvent_ = board_->machine->scheduleEvent(at, timerName_, [this] {
        timerEvent_ = 0;
        ++timerPeriods_;
        interrupts_ |= kInterruptTimer;
        board_->machine->deliverSource(board_->index, source(kTimerSourcePrimary, kTimerSourceDisplay));
        scheduleTimerTick();
    });
}

uint32_t OrloChip::timerCount() const
{
    const uint32_t period = regs_[kOrloTimerControl / 4] & kTimerControlPeriod;
    if (period == 0) return 0;
    const uint64_t now = board_->clock->nowNanos();
    const uint64_t ticks = now > timerStart_ ? (now - timerStart_) / kTimerTickNanos : 0;
    return period - static_cast<uint32_t>(ticks % period);
}

// ---------------------------------------------------------------- VM engine

// A send takes the command word as it stands, sets the send-busy bit and ends
// kVmSendNanos later: the busy bit clears, the command takes effect and the Orlo raises
// its command-done source.  The send bit itself is a command bit: it reads back as
// written, and a write with it set while a send is running starts nothing.
void OrloChip::vmSend()
{
    uint32_t& status = regs_[kOrloVpStatus / 4];
    if (status & kVmStatusSendBusy) return;
    status |= kVmStatusSendBusy;
    if (board_->spec.vmSilent) return;   // the engine never answers
    const uint32_t command = regs_[kOrloVmCommand / 4];
    vmEvent_ = board_->machine->scheduleEvent(board_->clock->nowNanos() + kVmSendNanos,
                                              vmSendName_,
                                              [this, command] {
                                                  vmEvent_ = 0;
                                                  vmSendDone(command);
                                              });
}

// The port set-up as the engine answers it: a set-up send that starts a step (bit 10 or
// 11) withdraws the acknowledgement, the next set-up send of the step (bit 12) gives it;
// a closing send (bits 13 and 12 without the set-up bit) after an acknowledged step makes
// the port ready on every Orlo of the board whose set-up was restarted, since they share
// the board's VM port.
void OrloChip::vmSendDone(uint32_t command)
{
    uint32_t& status = regs_[kOrloVpStatus / 4];
    status &= ~kVmStatusSendBusy;
    const uint32_t start = kVmCommandStepStart | kVmCommandStepStartAlt;
    const uint32_t closing = kVmCommandStepMark | kVmCommandStepRepeat;
    if ((command & kVmCommandSetup) && (command & start)) {
        status &= ~kVmStatusStepDone;
        vmStepOpen_ = true;
    } else if ((command & kVmCommandSetup) && (command & kVmCommandStepRepeat) && vmStepOpen_) {
        status |= kVmStatusStepDone;
        vmStepOpen_ = false;
    } else if (!(command & kVmCommandSetup) && (command & closing) == closing && vmSetUp_ &&
               (status & kVmStatusStepDone)) {
        for (OrloChip* orlo : {board_->primaryRegs.get(), board_->displayRegs.get()})
            if (orlo && orlo->vmSetUp_) orlo->regs_[kOrloVpStatus / 4] |= kVmStatusPortReady;
    }
    board_->machine->deliverSource(board_->index, source(kVmDoneSourcePrimary, kVmDoneSourceDisplay));
}

// A reset pulse of the timing control: the port is no longer ready and the engine
// acknowledges the restart at once.
void OrloChip::vmReset()
{
    uint32_t& status = regs_[kOrloVpStatus / 4];
    status = (status & ~kVmStatusPortReady) | kVmStatusStepDone;
    vmStepOpen_ = false;
    vmSetUp_ = true;
}

} // namespace boardsim
