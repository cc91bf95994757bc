// Performance counter and millisecond timer, both on the system's monotonic clock.

#include "w32time.h"

#include <time.h>

BOOL QueryPerformanceCounter(int64_t* count) {
    if (!count) return FALSE;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *count = int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(int64_t* frequency) {
    if (!frequency) return FALSE;
    *frequency = 1000000000LL;
    return TRUE;
}

DWORD timeGetTime() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}
