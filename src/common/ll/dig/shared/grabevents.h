// Start and end of a standard-family grab, and the halt of a thread's grab.
//
// The interrupt servers call the start- and end-of-grab steps with the grab path's event
// state (SERVINFO_ST) and the slot index; they advance the grab's sync objects (40 at the
// start, 50 at the end), count the grab sequence, take the grab off its thread's count,
// release the grab channels and the grab's temporary buffers and restart the engines.  The
// halt stops a thread's grab and runs the start and end events the stopped engine will not
// raise any more.
//
// Threads: the start and end steps run on the node's interrupt-server tasks, the halt on
// the task that takes the halt command, the grab requests on command-server tasks; all are
// fibers of one OS thread and interleave only where they yield or sleep.  Register changes
// that must not interleave with an interrupt are made with the node's external interrupt
// disabled; the thread's grab count changes under the task kernel's short lock.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct SERVINFO_ST;
struct MP_THREAD_ST;

// Slot words the grab drivers use besides the core's names (servinfo.h).
constexpr uint32_t kSlotNoCounter = 28;        // set: the end leaves the sync counter alone
constexpr uint32_t kSlotSingleNext = 29;       // single-frame flag of the armed grab
constexpr uint32_t kSlotChannelBitsNext = 31;  // grab channel mask of the armed grab
constexpr uint32_t kSlotTempBuffer = 33;       // temporary buffer of the grab in flight
constexpr uint32_t kSlotTempBufferNext = 34;   // the armed grab's (a mask tag buffer it made)
constexpr uint32_t kSlotLinesPerMs = 25;
// Further temporary buffers of the grab in flight, freed at its end (in this order).
constexpr uint32_t kSlotTempBuffers[5] = {33, 38, 42, 39, 43};
// kSlotDeferred bits.
constexpr uint32_t kDeferLineCount = 0x1;   // one-field grab with the count in the line register
constexpr uint32_t kDeferHalt = 0x2;        // a halt came while a grab was in flight
constexpr uint32_t kDeferRepeat = 0x4;      // run start and end once more

// Passes of one end-of-grab event (each pass handles at most one remembered start or one
// repeat); more means the slot words went wrong, and the event stops there.
constexpr int kEogMaxPasses = 16;

// Halt modes.
constexpr int32_t kHaltNow = 1;
constexpr int32_t kHaltAtEnd = 2;
constexpr int32_t kHaltNowQuiet = 5;

void mpPrvUpdateSoG_Std(SERVINFO_ST* state, uint32_t slot);
void mpPrvUpdateEoG_Std(SERVINFO_ST* state, uint32_t slot);
// The end steps with another test of whether the grab is still active (the second family
// reads its module's status instead of the Orlo's grab status), and with the family's own
// stop of the slot's grab, run besides the Orlo's when a deferred halt ends the sequence
// (null: the Orlo's alone).
void mpPrvUpdateEoG_With(SERVINFO_ST* state, uint32_t slot, bool (*active)(SERVINFO_ST*, uint32_t),
                         void (*stop)(SERVINFO_ST*, uint32_t) = nullptr);
// mode: kHaltNow, kHaltAtEnd or kHaltNowQuiet.
void mpPrvHalt_Std(MP_THREAD_ST* thread, int32_t mode);

// The start- and end-of-grab interrupts pending on a grab path (interrupt register bits 12
// and 13; a host DMA grab's end also shows in bit 13 of the VM status register).
void mpPrvHaltSeenEvents(SERVINFO_ST* state, bool host, bool* startSeen, bool* endSeen);
// The events a halted grab is still owed once its engine has stopped: the stopped engine
// raises no more, so the halt runs them itself.  Shared by both grab-module families.
struct HALT_OWED {
    bool start;      // run the start steps
    bool end;        // run the end steps
    bool extraEnd;   // run the end steps once more (the extra end of a grab halted in flight)
    bool repeat;     // defer instead: set kDeferRepeat and run nothing now
};
// mode: kHaltNow or kHaltAtEnd (any other mode owes nothing); startSeen / endSeen: the
// start- and end-of-grab interrupts are pending (interrupt register bits 12 and 13);
// inFlight: the engine was grabbing when halted; continuous: the slot's grab is in flight
// and endless; wasEndless: the sequence count was -1; extraEnd: an extra end is owed.
HALT_OWED mpPrvHaltOwed(int32_t mode, bool startSeen, bool endSeen, bool inFlight, bool continuous, bool wasEndless,
                        bool extraEnd);
