// Clocks: the high-resolution performance counter and the millisecond system timer.
#pragma once

#include "w32base.h"

// Monotonic counter and its ticks per second (constant while the process runs).
BOOL QueryPerformanceCounter(int64_t* count);
BOOL QueryPerformanceFrequency(int64_t* frequency);

// Milliseconds of a monotonic clock, wrapping at 2^32.
DWORD timeGetTime();
