// The library's global node state and a node's runtime: the global start-up (imNodeSt
// and its time-out table), the runtime that a node's interrupt process thread brings up
// before it serves interrupts (task kernel, heaps, shell semaphores, interrupt signals,
// request resources, buffer ids, predefined objects, communication ring, timer and ring
// servers) and its end, and the board processor's information blocks.
//
// Threads: mp_init_global and mp_exit_global run on the caller of the node open or
// shut-down (under "MUTEX_imDev_"); mp_init_halcyra (node) and mp_exit_halcyra run on the
// node's interrupt process thread, which becomes the node's task kernel.
#pragma once

#include "hlc_arch.h"
#include "hostring.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

// The time-out table's entries (seconds) as the global start-up makes them.
constexpr uint32_t kTimeoutEntries = 11;
extern const double kDefaultTimeouts[kTimeoutEntries];

// Node 0: the global start-up.  A node number: that node's runtime start-up on the
// calling thread (its interrupt process thread).  0 when done, -1 when the node's runtime
// could not be brought up (what was made for it is undone; the node does not answer).
int mp_init_halcyra(uint32_t node);
// Makes imNodeSt and the time-out table once.  1 when they exist afterwards, 0 when the
// block could not be allocated (imNodeSt stays null).
int mp_init_global();
// The shell semaphores of a node (none when its own processor runs the shell).
void mp_init_shell(uint32_t node);
// Creates and resumes the timer server and, unless the board serves its ring itself, the
// ring server of a node.
void mp_init_server(uint32_t node);

// The end of a node's runtime on its interrupt process thread: what the start-up made for
// the node is freed, then the thread's task kernel ends.
void mp_exit_halcyra(uint32_t node);
// After the last node: the time-out table, the global block and imNodeSt itself go.  An
// error hook that the application installed stays.
void mp_exit_global();

// The board processor's information block (types 1, 8, 9, 10); 0 when there is none.
uint32_t mp_inquire_init_info(_NODE_MAIN_RESOURCE_ST* record, uint32_t type);
// Ring addresses and the number of a node (types 1, 2, 3, 6); 0 otherwise.
uint32_t mp_inquire_node_info(uint32_t node, uint32_t type);
