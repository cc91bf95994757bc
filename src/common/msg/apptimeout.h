// The communication time-out the application chose (imAppControl type 1).  It is the
// process's, not a node's, so that opening and closing nodes keeps it: the global start-up
// puts it into the time-out table it makes (entry 3).
//
// Threads: any thread; one process-wide lock guards the choice and the table entry written
// with it.
#pragma once

#include "hlc_arch.h"

// Keeps `seconds` as the chosen time-out and writes it into the time-out table when the
// global state exists.
void mp_app_choose_comm_timeout(double seconds);
// The communication time-out in force: the table's entry when the global state exists,
// else the chosen one, else the default of entry 3.
double mp_app_comm_timeout_in_force();
// True when the application chose a communication time-out; its value in seconds through
// `seconds`.  The global start-up uses it for the time-out table.
bool mp_app_comm_timeout(double* seconds);
