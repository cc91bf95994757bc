// The timer server task.

#include "timersrv.h"

#include "hwaccess.h"
#include "task.h"
#include "timer.h"

#include <atomic>
#include <cmath>

namespace {

std::atomic<TimerServerNodeHook> gNodeHook{nullptr};

} // namespace

void TimerSetServerNodeHook(TimerServerNodeHook hook) { gNodeHook.store(hook); }

void MpTimerServer(void* nodeRecord) {
    TimerServerNodeHook hook = gNodeHook.load();
    TimerServerNode node;
    if (!hook || !hook(nodeRecord, &node) || !node.frequency) return;

    if (*node.frequency == 0) *node.frequency = kTimerDefaultFrequency;

    // The primary Orlo's timer when the node has that Orlo, else the display Orlo's.
    int source;
    uint32_t registers;
    uint32_t* tickCounter;
    uint32_t* pendingTicks;
    if (node.primaryPresent) {
        source = kTimerSourcePrimary;
        registers = node.primaryRegisters;
        tickCounter = node.primaryTickCounter;
        pendingTicks = node.primaryPendingTicks;
    } else if (node.displayPresent) {
        source = kTimerSourceDisplay;
        registers = node.displayRegisters;
        tickCounter = node.displayTickCounter;
        pendingTicks = node.displayPendingTicks;
    } else {
        return;
    }
    if (!registers || !tickCounter || !pendingTicks || *pendingTicks != 0 || !node.getSignal) return;

    int32_t signal = node.getSignal(nodeRecord, source);
    if (!TaskValidateSema(signal)) {
        HwWrite32(registers, kOrloTimerCounter, 0);
        HwWrite32(registers, kOrloTimerControl, 0);
        return;
    }

    // The reload value is one period of the timer frequency.  Going through the period in
    // floating point and truncating would give frequency - 1 for many frequencies (and
    // differ between x87 and SSE arithmetic), so the result is rounded.
    double frequency = *node.frequency;
    uint32_t reload = static_cast<uint32_t>(std::llround(1.0 / (1.0 / frequency))) & 0x7FFFFFFFu;
    HwWrite32(registers, kOrloTimerCounter, reload);
    HwWrite32(registers, kOrloTimerControl, reload);
    *tickCounter = 0;
    HwWrite32(registers, kOrloTimerControl, reload);
    HwWrite32(registers, kOrloTimerControl, reload | kTimerControlRun);
    TimerInit(0);
    *pendingTicks = 1;
    if (node.timerRunning) *node.timerRunning = 1;
    if (node.resetPreviousTime) node.resetPreviousTime();

    // One round per timer interrupt.  A signal that is closed ends the server instead of
    // letting it spin on a wait that no longer blocks.
    while (TaskWaitSema(signal)) {
        TimerAddTicks(static_cast<int32_t>(*pendingTicks));
        *pendingTicks = 1;
        ++*tickCounter;
    }
}
