// Node services on the Orlo register block: the one-bit hardware lock, the 32 sections
// in the shared section word, the doorbell to the node's ring reader, the interrupt
// signals tasks wait on, and the library clock and sleep.
//
// A node's Orlo is its primary Orlo when it has one, else its display Orlo.  Every
// function taking a node returns -1 for an unknown node (one the node list does not
// know, or one without a register block).
#pragma once

#include "hlc_arch.h"
#include "regmap/orlo_regs.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;


// Section bits of the library.
constexpr uint32_t kSectionRing = 1;
constexpr uint32_t kSectionVmPrimary = 8;
constexpr uint32_t kSectionVmDisplay = 16;
constexpr uint32_t kSectionDoorbellPrimary = 128;
constexpr uint32_t kSectionDoorbellDisplay = 256;
constexpr uint32_t kSectionGrab = 2048;
constexpr uint32_t kSectionChannel0 = 0x1000;   // shifted left by the channel number

// Task priority of a holder during a section-word update.
constexpr int kSectionPriority = 27;

// Signal table: 160 entries of four words; word 1 the handle, word 2 the ready flag.
constexpr uint32_t kSignalEntries = 160;
constexpr uint32_t kSignalWords = 4;
// First task semaphore id of the signals opened at start-up.
constexpr uint32_t kSignalSemaBase = 0xFEA50000u;

// ---- hardware lock ----------------------------------------------------------------------

// 0 lock taken, 1 busy, -1 no record or Orlo.  A value below 256 is a node number,
// anything else the address of a node record.
HLC_API int mp_sys_lock_check(uint32_t nodeOrRecord);
// Takes the lock, waiting up to time-out entry 4 and then on the operator's prompt.
// 0 taken, -1 failure (node 0, no Orlo, or the operator aborted).
HLC_API int mp_sys_lock_wait(uint32_t node);
HLC_API void mp_sys_lock_reset(uint32_t nodeOrRecord);

// ---- sections ---------------------------------------------------------------------------

// 0 taken, 1 busy (held by another holder), -1 failure.
HLC_API int mp_sys_section_check(uint32_t node, uint32_t bits);
// 0 taken, -1 failure.  Section 1 also enters the node's critical section, which stays
// entered until mp_sys_section_unlock.
HLC_API int mp_sys_section_wait(uint32_t node, uint32_t bits);
// 0, or -1.
HLC_API int mp_sys_section_unlock(uint32_t node, uint32_t bits);

// ---- doorbell and signals ---------------------------------------------------------------

// Clears a host-served node's interrupt registers and opens and binds the start-up
// signals.  0, or -1 for an unknown node.
HLC_API int mp_interrupt_alloc(uint32_t node);
// Rings the node's doorbell (bit 31 of the argument: the alternate bit).  1 rung, -1
// time-out (the previous doorbell was not taken within entry 2) or unknown node.
HLC_API int mp_interrupt_send(uint32_t node);
// Wait for or test the board-to-host doorbell signal (33 with a primary Orlo, else 65).
HLC_API int mp_interrupt_wait(uint32_t node);
HLC_API int mp_interrupt_check(uint32_t node);
// Binds a handle (-1 none, below -1 a task semaphore, 0 or more a board-driver semaphore)
// to a signal number (taken modulo 160).  0, or -1.
HLC_API int mp_interrupt_set_signal(uint32_t node, uint32_t signal, int32_t handle);
// The handle bound to the signal, -1 for none or an unknown node.
HLC_API int32_t mp_interrupt_get_signal(uint32_t node, uint32_t signal);
// The interrupt-enable mask word of the node's primary (display 0) or display Orlo
// signals; null for an unknown node.
uint32_t* mp_interrupt_mask_word(uint32_t node, int display);
// Marks a driver-side signal ready (the interrupt thread's part); 1 when the signal is
// bound to a task semaphore, which the caller then signals.
int mp_interrupt_take_pending(uint32_t node, uint32_t signal);
// Node 0: the running task's node.
void disableExtInt(uint32_t node);
void enableExtInt(uint32_t node);

// Wait, test, reset and signal the semaphore bound to a signal.  Wait and check give 1
// when a count was taken, 0 when none, -1 for no binding or a driver-side signal that
// did not become ready within time-out entry 5.
HLC_API int mp_sys_sema_wait(uint32_t node, uint32_t signal);
HLC_API int mp_sys_sema_check(uint32_t node, uint32_t signal);
HLC_API int mp_sys_sema_reset(uint32_t node, uint32_t signal);
HLC_API int mp_sys_sema_signal(uint32_t node, uint32_t signal);

// ---- time -------------------------------------------------------------------------------

// Seconds since start on the board timer inside a task kernel, else on the multimedia
// timer.  A start of exactly 0.0 gives the absolute time.
HLC_API double mp_time_clock(double start);
HLC_API void mp_time_sleep(double seconds);
HLC_API double mp_time_cpu_frequency();
HLC_API void mp_time_calibrate();
HLC_API void mp_time_reset_prev_time();
// The last clock value handed to a task with a nonzero start.
double mp_time_prev_time();

// Entry of the time-out table of the host node state (seconds); the built-in table
// when there is no node state yet.
double mp_sys_timeout(int entry);

// The node record of a node number (bit 31 ignored), null when unknown.
_NODE_MAIN_RESOURCE_ST* mp_core_node_record(uint32_t node);
// Register block of the node's Orlo (primary, else display), 0 none.
uint32_t mp_core_orlo_regs(const _NODE_MAIN_RESOURCE_ST* record);
// 1 when the board's own processor serves the node.
int mp_core_board_processor(const _NODE_MAIN_RESOURCE_ST* record);
// Forgets the per-node state (signal tables, mask words) of every node.
void mp_core_forget_nodes();

// Installs the lock, doorbell, signal and sleep functions into the board hooks, keeping
// every other member as it is.
void HlcInstallCoreLockHooks();
