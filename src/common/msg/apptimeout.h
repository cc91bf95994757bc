// The communication time-out of the time-out table (entry 3), as imAppControl type 1
// sets it.  It lives in the global state: after the last node's shut-down the next
// global start-up makes the table afresh with its default of 15 s.
//
// Threads: any thread; one process-wide lock guards the table entry.
#pragma once

#include "hlc_arch.h"

// Writes `seconds` into the time-out table when the global state exists.
void mp_app_choose_comm_timeout(double seconds);
// The communication time-out in force: the table's entry when the global state exists,
// else the default of entry 3.
double mp_app_comm_timeout_in_force();
