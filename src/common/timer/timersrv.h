// The timer server: the task that drives a node's tick timers from the board timer of
// one of the node's Orlos.
//
// The server learns what it needs of its node through a hook that the node layer
// installs (TimerSetServerNodeHook): the node's timer frequency word, which Orlos exist,
// their register blocks and tick words, and the interrupt signal of a timer source.  It
// reaches the Orlo's timer registers only through the accessor layer (hwaccess.h).
#pragma once

#include "hlc_arch.h"
#include "regmap/orlo_regs.h"

#include <cstdint>

constexpr uint32_t kTimerDefaultFrequency = kOrloTimerHz;

// What the timer server needs of one node.
struct TimerServerNode {
    uint32_t* frequency = nullptr;          // the node's timer frequency word (0: default)
    bool primaryPresent = false;            // the node has a primary Orlo
    bool displayPresent = false;            // the node has a display Orlo
    uint32_t primaryRegisters = 0;          // register blocks as window addresses of the
    uint32_t displayRegisters = 0;          //  accessor layer (0 when not mapped)
    uint32_t* primaryTickCounter = nullptr; // tick counter and pending-tick words kept
    uint32_t* primaryPendingTicks = nullptr;//  with each Orlo's register block
    uint32_t* displayTickCounter = nullptr;
    uint32_t* displayPendingTicks = nullptr;
    uint32_t* timerRunning = nullptr;       // the node's "timer running" word (_NODE_ST word 278)
    // The task semaphore of an interrupt source of the node (-1 or an invalid handle when none).
    int32_t (*getSignal)(void* nodeRecord, int source) = nullptr;
    // Resets the library clock's previous time (may be null).
    void (*resetPreviousTime)() = nullptr;
};

// Fills in the description of a node record; false when the node is unknown.
using TimerServerNodeHook = bool (*)(void* nodeRecord, TimerServerNode* node);

void TimerSetServerNodeHook(TimerServerNodeHook hook);

// Task entry of the timer server (argument: the node record).  Starts the chosen Orlo's
// timer, then for every timer interrupt advances the kernel's timers by the pending
// ticks.  Returns (ending the task) when the node has no usable timer or its signal goes.
void MpTimerServer(void* nodeRecord);
