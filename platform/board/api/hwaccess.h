// Hardware accessor layer: the only way the library reads or writes a board register,
// port, chip or board memory.  A window address is the 32-bit address that a map request
// of the board driver handed out; it is never dereferenced.  Each access names the window
// and a byte offset in it (a computed address with offset 0 works as well).
//
// Threads: any thread may call these.  Each access holds the machine lock for its run,
// so accesses of several threads reach the chips one at a time and each is traced and
// filtered whole; each spends its bus time on the machine's clock, and the board's state
// follows only that clock (simclock.h).  No machine event runs inside an access: under the
// virtual clock events run only in HwClockSeconds, HwSleep and the test's clock calls;
// under the free-running clock they run on the machine's own thread, and an access first
// waits until the events already due have run.  Under the free-running clock a thread that
// accesses holds the machine's time until it waits, so a poll loop of N accesses sees
// exactly N bus times pass, on any thread and under any load.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

uint8_t HwRead8(uint32_t window, uint32_t offset);
uint16_t HwRead16(uint32_t window, uint32_t offset);
uint32_t HwRead32(uint32_t window, uint32_t offset);
void HwWrite8(uint32_t window, uint32_t offset, uint8_t value);
void HwWrite16(uint32_t window, uint32_t offset, uint16_t value);
void HwWrite32(uint32_t window, uint32_t offset, uint32_t value);

// Block transfers to and from a memory window, as a sequence of 32-bit accesses (and
// single bytes at an unaligned head or tail).
void HwReadBlock(uint32_t window, uint32_t offset, void* destination, uint32_t bytes);
void HwWriteBlock(uint32_t window, uint32_t offset, const void* source, uint32_t bytes);

// True when the address lies in a mapped hardware window.
bool HwIsWindowAddress(uint32_t address);

// The library's clock: seconds of the machine's clock (virtual), or real time when the
// machine runs free; a read then lets go of the machine's time as a wait does
// (HwHostWaits), so a wait bounded by the clock sees at least that much machine time.  Every clock and sleep of the library goes through these two, so a
// test that runs the machine on a virtual clock controls all time the library sees.
double HwClockSeconds();
// Lets time pass for a sleeping caller.  Under the virtual clock the time moves on by
// seconds (at least 1 ms), running the machine's events due on the way, and the call
// returns at once; under the free-running clock the thread yields (below 1 ms) or sleeps
// 1 ms, and the caller checks its clock again.
void HwSleep(double seconds);
// The calling thread is about to block in a wait of the host (an event, a semaphore, a
// sleep): under the free-running clock the machine's time, held still while the thread
// polled the bus, flows with real time again (simclock.h).  Cheap when the thread holds
// nothing.
void HwHostWaits();
