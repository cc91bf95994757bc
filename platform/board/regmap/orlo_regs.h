// Register map of the Orlo, the board's PCI bridge chip: the layout of the windows a map
// request hands out, the byte offsets of its registers in the 16 KB register block, and
// the bits that the library and the simulated board both act on.  The library and the
// simulator include this one file, so a register has one name and one number.
#pragma once

#include <cstdint>

// ---- windows of one Orlo (offsets of a map request in regions 4 and 8) -------------------

constexpr uint32_t kOrloBarSize = 0x8000000;        // 128 MB per Orlo
constexpr uint32_t kOrloBarAlign = 0xF8000000u;     // the base's address bits
constexpr uint32_t kOrloRegisterOffset = 0x4000000; // 16 KB register block
constexpr uint32_t kOrloRegisterSize = 0x4000;
constexpr uint32_t kOrloPortOffset = 0x4080000;     // 2 KB port window
constexpr uint32_t kOrloPortSize = 0x800;
constexpr uint32_t kOrloShadowOffset = 0x8000000;   // PCI shadow: configuration bytes 0x40-0x6F
constexpr uint32_t kOrloShadowSize = 48;
constexpr uint32_t kPrimaryMemoryTop = 0x4000000;   // board memory ends here, below the registers
constexpr uint32_t kDisplayMemoryTop = 0x600000;
constexpr uint32_t kProcessorOffset = 0x4000000;    // board-processor addresses lie this far below PCI

// ---- registers (byte offsets in the register block) --------------------------------------

constexpr uint32_t kOrloConfig = 0x0000;            // bits 2-3 cleared at interrupt set-up
constexpr uint32_t kOrloDisplayClock = 0x0800;      // display Orlo: dot-clock selection word
constexpr uint32_t kOrloMailbox = 0x0808;           // board processor's start-up handshake
constexpr uint32_t kOrloSectionWord = 0x0810;       // one bit per section, set = held
constexpr uint32_t kOrloDhDelay = 0x0818;
constexpr uint32_t kOrloGrabEngine = 0x1800;        // grab-engine block 0x1800-0x1850
constexpr uint32_t kOrloGrabControl = 0x1830;
constexpr uint32_t kOrloListBlock = 0x2000;
constexpr uint32_t kOrloGrabListPointer = 0x2008;
constexpr uint32_t kOrloGrabListControl = 0x2010;
constexpr uint32_t kOrloGrabStatus = 0x2018;
constexpr uint32_t kOrloControl = 0x2020;
constexpr uint32_t kOrloInterruptClear = 0x2028;    // write 1 bits to clear
constexpr uint32_t kOrloInterruptSet = 0x2030;      // write 1 bits to set; doorbells, bit 0 timer
constexpr uint32_t kOrloInterruptMask = 0x2038;
constexpr uint32_t kOrloLock = 0x2040;              // read takes the lock (bit 0: was held), write 0 frees
constexpr uint32_t kOrloTimerCounter = 0x2048;      // bits 0-30, counting down from the period
constexpr uint32_t kOrloTimerControl = 0x2050;      // bit 31 running, bits 0-30 the period
constexpr uint32_t kOrloMemControl = 0x2058;
constexpr uint32_t kOrloVmListPointer = 0x2060;
constexpr uint32_t kOrloVmListControl = 0x2068;
constexpr uint32_t kOrloVmBlock = 0x2800;           // VM block 0x2808-0x2860
constexpr uint32_t kOrloBusControl = 0x2868;        // write posting: flush and busy bits
constexpr uint32_t kOrloStatus = 0x2870;            // options and capabilities
constexpr uint32_t kOrloAccessTiming = 0x28A0;
constexpr uint32_t kOrloVpControl = 0x3030;
constexpr uint32_t kOrloVpStatus = 0x3038;
constexpr uint32_t kOrloVtControl = 0x3820;

// ---- bits -------------------------------------------------------------------------------

// kOrloControl
constexpr uint32_t kControlEmulatorAbsent = 0x10;   // reads 0 while a JTAG emulator is attached
constexpr uint32_t kControlFpgaDone = 0x20;
constexpr uint32_t kControlFpgaProgram = 0x40000000u;
// kOrloInterruptSet / kOrloInterruptClear
constexpr uint32_t kInterruptTimer = 0x1;
constexpr uint32_t kInterruptCpuStart = 0x400000;   // starts the board processor
constexpr uint32_t kInterruptEmulatorClear = 0x1000000;
constexpr uint32_t kInterruptCacheFlush = 0x40000000u;
// kOrloMemControl
constexpr uint32_t kMemControlCpuReset = 0x10000;   // held: the processor stays in reset
constexpr uint32_t kMemControlResetStateShift = 8;  // bits 8-11: the processor's reset state
constexpr uint32_t kMemControlResetStateMask = 0xF00;
constexpr uint32_t kMemControlStart = 0x100000;
// kOrloTimerControl; the timer counts at 50 MHz and raises its Orlo's timer source
constexpr uint32_t kOrloTimerHz = 50000000u;
constexpr int kTimerSourcePrimary = 42;
constexpr int kTimerSourceDisplay = 74;
constexpr uint32_t kTimerControlRun = 0x80000000u;
constexpr uint32_t kTimerControlPeriod = 0x7FFFFFFFu;
// kOrloBusControl
constexpr uint32_t kBusWritePostingFlush = 0x200;
constexpr uint32_t kBusWritePostingBusy = 0x400;
// kOrloStatus
constexpr uint32_t kStatusProcessor = 0x40;         // the board carries its own processor
constexpr uint32_t kStatusCapability = 0x100;
constexpr uint32_t kStatusPortOption = 0x8000;

// Mailbox words of the board processor's start-up handshake.
constexpr uint32_t kMailboxBooting = 0xCAFEFADEu;
constexpr uint32_t kMailboxReady = 0xDEADBEEFu;
constexpr uint32_t kMailboxRunning = 0xFEEDDEADu;
// Driver semaphore the processor signals when it runs.
constexpr uint32_t kProcessorStartedSignal = 33;
// Reset states the processor passes through after a reset pulse, and the halted state.
constexpr uint32_t kResetStateFirst = 4;
constexpr uint32_t kResetStateLast = 10;
constexpr uint32_t kResetStateHalted = 11;
