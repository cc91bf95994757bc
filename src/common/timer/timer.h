// Tick timers of the task kernel.
//
// The timers of a kernel form a delta list: each running timer's delta counts the ticks
// after its predecessor, the first one's the ticks after the current clock.  A due timer
// signals its semaphore; a periodic one is then put back by its period.  The timer
// server (timersrv.h) advances the clock from the board's timer interrupt.  Every list
// change happens under the timer-list lock, a task semaphore.
#pragma once

#include "hlc_arch.h"
#include "task_globals.h"

#include <cstdint>

// Builds the kernel's 18 timer records (clock = startTick, no timer running) and opens
// the timer-list lock.  1, or 0 without kernel or when the lock cannot be opened.
int TimerInit(int32_t startTick);

// Advances the clock by n ticks (n >= 0) and signals every timer that is due, twice when
// a periodic timer lands exactly on its next period.  1, or 0 (no timers, n negative, or
// the lock could not be taken).
int TimerAddTicks(int32_t n);

// Takes a running timer off the list (its remaining delta passes to its successor);
// a timer that is not running is left as it is.  1, or 0 for a record that is not one of
// the kernel's timers.
int TimerDisable(TimerRecord* timer);

// Takes the timer off the list, returns it to the free records, closes its semaphore and
// clears it.  1, or 0 as for TimerDisable.
int TimerFree(TimerRecord* timer);

// The current tick count (0 without kernel or before TimerInit).
int32_t TimerGetClock();

// Arms a free timer record: due after delta ticks, then every period ticks (0: once),
// signalling sema (-1: none).  The record, or null when none is free, the period is
// negative or sema is neither -1 nor an open semaphore.
TimerRecord* TimerArm(int32_t delta, int32_t period, int32_t sema);

// Links a timer into the running list delta ticks after the current clock, after any
// timer due at the same tick.  The timer-list lock must be held.
void _insertTimer(TimerRecord* timer, int32_t delta);
