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
// Display Orlo: its video path.  The control word (register 0) holds the zoom code in
// bits 0-1, a restart at the display line in bits 2-3 (bit 3 raises source 84 when the
// scan reaches the line register's line), interlace in bit 4 and the video enable in
// bit 6; start and pitch use their low 21 bits.
constexpr uint32_t kOrloDisplayControl = kOrloConfig;
constexpr uint32_t kOrloDisplayLine = 0x0008;       // bits 0-11
constexpr uint32_t kOrloDisplayStart = 0x2000;
constexpr uint32_t kOrloDisplayPitch = 0x2800;
constexpr uint32_t kOrloDisplayKey = 0x2878;        // key colour
constexpr uint32_t kDisplayControlRestart = 0x08;
constexpr int kDisplayLineSource = 84;
constexpr uint32_t kOrloDisplayClock = 0x0800;      // display Orlo: dot-clock selection word
constexpr uint32_t kOrloMailbox = 0x0808;           // board processor's start-up handshake
constexpr uint32_t kOrloSectionWord = 0x0810;       // one bit per section, set = held
constexpr uint32_t kOrloDhDelay = 0x0818;
constexpr uint32_t kOrloGrabDisable = 0x0820;     // bit 0: grab disabled while set (pulsed)
constexpr uint32_t kOrloGrabEngine = 0x1800;        // grab-engine block 0x1800-0x1850
// Grab-engine registers, 8 apart (the camera record's ORLOGREG_ slots of the same names).
constexpr uint32_t kOrloGHSCLNG = 0x1800;           // bits 0-3 horizontal reduction - 1, 4-5 zoom - 1
constexpr uint32_t kOrloGHTOTAL = 0x1808;           // pixels per line - 2
constexpr uint32_t kOrloGHWSTART = 0x1810;          // first pixel of the window
constexpr uint32_t kOrloGHWSTOP = 0x1818;           // last pixel of the window
constexpr uint32_t kOrloGLNINT = 0x1820;            // bits 0-15 the line of the line interrupt
constexpr uint32_t kOrloGPIXFMT = 0x1828;           // destination pixel format
constexpr uint32_t kOrloGrabControl = 0x1830;
constexpr uint32_t kOrloGRABCTRL = kOrloGrabControl;
constexpr uint32_t kOrloGVSCLNG = 0x1838;           // bits 0-3 vertical reduction - 1, 4-5 zoom - 1
constexpr uint32_t kOrloGVTOTAL = 0x1840;           // lines per frame - 1
constexpr uint32_t kOrloGVWSTART = 0x1848;          // first line of the window
constexpr uint32_t kOrloGVWSTOP = 0x1850;           // last line of the window
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
constexpr uint32_t kOrloVmLineCounter = 0x2078;
constexpr uint32_t kOrloVmBlock = 0x2800;           // VM block 0x2808-0x2860
// Frame registers of the grab engine in the VM block.  Addresses use the low 26 bits (a
// PCI address of the board's memory window); the bits above are kept as written.
constexpr uint32_t kOrloGBLENGTH = 0x2808;          // bits 0-2 the transfer mode
constexpr uint32_t kOrloGC1FOFF = 0x2810;           // band 1-3 offsets from the frame start
constexpr uint32_t kOrloGC1TOFF = 0x2818;           // tag band 1-3 offsets from the first tag address
constexpr uint32_t kOrloGC2FOFF = 0x2820;
constexpr uint32_t kOrloGC2TOFF = 0x2828;
constexpr uint32_t kOrloGC3FOFF = 0x2830;
constexpr uint32_t kOrloGC3TOFF = 0x2838;
constexpr uint32_t kOrloGDWRTMSK = 0x2840;          // write mask, 8 bits per pixel byte 0-2
constexpr uint32_t kOrloGFSTART = 0x2848;           // address of the window's first pixel
constexpr uint32_t kOrloGLPITCH = 0x2850;           // bytes from line to line (26-bit signed)
constexpr uint32_t kOrloGTAGCTL = 0x2858;           // bit 26 tags on, bit 28 one tag plane per band
constexpr uint32_t kOrloGTLPITCH = 0x2860;          // tag bytes from line to line (26-bit signed)
constexpr uint32_t kOrloGrabCheck = 0x28C0;         // low 26 bits kLostGrabMark: a grab was lost
constexpr uint32_t kOrloBusControl = 0x2868;        // write posting: flush and busy bits
constexpr uint32_t kOrloStatus = 0x2870;            // options and capabilities
constexpr uint32_t kOrloAccessTiming = 0x28A0;
// VM engine: the command and its two data words go out over the VM port on a send.
constexpr uint32_t kOrloVmCommand = 0x3000;         // low byte the command code, bits 8-15 flags
constexpr uint32_t kOrloVmData1 = 0x3008;
constexpr uint32_t kOrloVmData2 = 0x3010;
constexpr uint32_t kOrloVmNodeId = 0x3018;          // bits 0-3: the port id the board was given
constexpr uint32_t kOrloVmReceived = 0x3020;        // received word (read to acknowledge)
constexpr uint32_t kOrloVmPort = 0x3028;            // VM port register, bits 0-9
constexpr uint32_t kOrloVpControl = 0x3030;         // VM control
constexpr uint32_t kOrloVpStatus = 0x3038;          // VM status: bits are cleared by writing them
constexpr uint32_t kOrloVmChannelControl = 0x3040;  // bits 4-7 channel mask
constexpr uint32_t kOrloVtControl = 0x3820;         // VM timing control
constexpr uint32_t kOrloVmLastLine = 0x3838;

// Bus-master transfers of the VM engine between board memory and the PCI bus, and the
// register-list engine that reprograms them (what they mean: VmTransferView, boardsim.h).
constexpr uint32_t kOrloVmHostStart = 0x2888;       // host start address, bits 0-26
constexpr uint32_t kOrloVmHostPitch = 0x2890;
constexpr uint32_t kOrloVmHostPage = 0x2898;        // bits 1-5: host address bits 27-31
constexpr uint32_t kOrloVmBurst = 0x28A8;
constexpr uint32_t kOrloVmBand1 = 0x28B0;           // offsets of bands 1-3 from band 0
constexpr uint32_t kOrloVmBand2 = 0x28B8;
constexpr uint32_t kOrloVmBand3 = 0x28C0;           // the grab check word between grabs
constexpr uint32_t kOrloVmWriteMask = 0x28C8;
constexpr uint32_t kOrloVmBoardStart = 0x28D0;      // low 26 bits: PCI address of board memory
constexpr uint32_t kOrloVmBoardPitch = 0x28D8;      // 26-bit signed
constexpr uint32_t kOrloVmTag0 = 0x28E0;
constexpr uint32_t kOrloVmTag1 = 0x28E8;
constexpr uint32_t kOrloVmHFactor = 0x3800;
constexpr uint32_t kOrloVmHStart = 0x3808;          // transfers: the start word (mask or skip)
constexpr uint32_t kOrloVmHStop = 0x3810;           // line length - 1, in units
constexpr uint32_t kOrloVmFormat = 0x3818;          // bits 0-2: bytes per unit - 1
constexpr uint32_t kOrloVmVFactor = 0x3828;
constexpr uint32_t kOrloVmVStart = 0x3830;
constexpr uint32_t kVtKindShift = 8;                // kOrloVtControl bits 8-11: transfer kind
constexpr uint32_t kVtKindPciSend = 4;              // board memory to the bus
constexpr uint32_t kVtKindPciReceive = 5;           // the bus to board memory
constexpr uint32_t kVtKindBlit = 10;                // within the Orlo's own memory (display bitblit)
constexpr uint32_t kVtKindVmReceive = 0;            // the VM port to board memory (armed until a sender runs)
constexpr uint32_t kVtKindVmSend = 1;               // board memory to the VM port
constexpr uint32_t kVtMirror = 0x4000;
constexpr int kXferDoneSourcePrimary = 48;
constexpr int kXferDoneSourceDisplay = 80;

// ---- bits -------------------------------------------------------------------------------

// Grab registers of the list block under their record names.
constexpr uint32_t kOrloGARPADDR = kOrloGrabListPointer;
constexpr uint32_t kOrloGARPCTRL = kOrloGrabListControl;
constexpr uint32_t kOrloGSTATUS = kOrloGrabStatus;

// kOrloGrabControl.  Stop wins: while bit 0 is set nothing is armed and a frame in flight
// is dropped without its end event.  With bit 0 clear, a write with bit 2 arms one frame
// (a latch: a second arm before the frame starts adds nothing), and bit 1 keeps grabbing
// frame after frame for as long as it stays set.
constexpr uint32_t kGrabControlStop = 0x1;
constexpr uint32_t kGrabControlContinuous = 0x2;
constexpr uint32_t kGrabControlSingle = 0x4;        // command bit: arms one frame
constexpr uint32_t kGrabControlSingleFrame = 0x10;  // the library's single-frame flag
constexpr uint32_t kGrabControlTrigger = 0xC0;      // either bit: each frame waits for a trigger
constexpr uint32_t kGrabControlOddLine = 0x300;     // bits 8-9 = 1: odd-line mode
constexpr uint32_t kGrabControlCountShift = 10;     // bits 10-12: count mode 0-6
constexpr uint32_t kGrabControlCountMask = 0x1C00;
constexpr uint32_t kGrabControlFrame = 0x4000;      // frame of two fields (even lines first)
constexpr uint32_t kGrabControlAltOrder = 0x8000;   // 3-byte pixels in the alternate byte order
constexpr uint32_t kGrabControlLineShift = 20;      // bits 20-21: line-interrupt kind, 0 none
constexpr uint32_t kGrabControlLineMask = 0x300000;
// kOrloGPIXFMT
constexpr uint32_t kPixFmtBytesMask = 0x7;          // bytes per destination pixel - 1
constexpr uint32_t kPixFmtChannelShift = 3;         // bits 3-6: channels 0-3 that deliver samples
constexpr uint32_t kPixFmtChannelMask = 0x78;
constexpr uint32_t kPixFmtPacking = 0x80;
constexpr uint32_t kPixFmtSamplesShift = 8;         // bits 8-9: samples per pixel - 1
constexpr uint32_t kPixFmtSamplesMask = 0x300;
constexpr uint32_t kPixFmtEnable = 0x400;
constexpr uint32_t kPixFmtShiftShift = 11;          // bits 11-12: 1 bits 2-9, 2 bits 4-11, 3 bits 6-13
constexpr uint32_t kPixFmtShiftMask = 0x1800;
// kOrloGrabStatus: bits 0 and 3 latch overruns until written with 1 (the library writes 9).
constexpr uint32_t kGrabStatusOverrun = 0x1;
constexpr uint32_t kGrabStatusLate = 0x8;           // a frame's data came too late
constexpr uint32_t kGrabStatusInFlight = 0x10;      // a frame is being written
constexpr uint32_t kGrabStatusArmed = 0x20;         // a frame is armed and waits for its start
constexpr uint32_t kGrabStatusOverruns = kGrabStatusOverrun | kGrabStatusLate;
// kOrloGTAGCTL
constexpr uint32_t kTagControlEnable = 0x4000000;
constexpr uint32_t kTagControlPlanes = 0x10000000;
// Low 26 bits of the address registers; the lost-grab mark of kOrloGrabCheck.
constexpr uint32_t kGrabAddressMask = 0x3FFFFFF;
constexpr uint32_t kLostGrabMark = 0xDEAD;
// kOrloInterruptSet bits of the grab engine: set at the start and at the end of the
// current grab, both cleared when a grab is armed (and by writing them to the clear
// register).
constexpr uint32_t kInterruptGrabStart = 0x1000;
constexpr uint32_t kInterruptGrabEnd = 0x2000;
// Primary Orlo: bit 13 of 0x2800 is set with interrupt bit 13 at the end of every block
// that a grab list grabs, and cleared when a grab is armed from idle.
constexpr uint32_t kOrloBlockStatus = 0x2800;
constexpr uint32_t kBlockStatusEnd = 0x2000;
// Register lists of the grab-list and VM list engines: entries {value, target}.  Target
// 255 ends a list; the command form is bit 25 with the register's offset in the bits
// below, where offsets from 0x80000 reach the 2 KB port window.
constexpr uint32_t kListEndRegister = 255;
constexpr uint32_t kListCommandBit = 0x02000000;
constexpr uint32_t kListCommandMask = 0x01FFFFFF;
constexpr uint32_t kListPortBase = 0x80000;
// Interrupt sources of the grab engine (primary Orlo, display Orlo).
constexpr int kGrabLineSourcePrimary = 43;
constexpr int kGrabLineSourceDisplay = 75;
constexpr int kGrabStartSourcePrimary = 44;
constexpr int kGrabStartSourceDisplay = 76;
constexpr int kGrabEndSourcePrimary = 45;
constexpr int kGrabEndSourceDisplay = 77;

// kOrloControl
constexpr uint32_t kControlEmulatorAbsent = 0x10;   // reads 0 while a JTAG emulator is attached
constexpr uint32_t kControlFpgaDone = 0x20;
constexpr uint32_t kControlFpgaProgram = 0x40000000u;
constexpr uint32_t kControlEmulatorClear = 0x1000000;  // cleared before the emulator check
// kOrloInterruptSet / kOrloInterruptClear
constexpr uint32_t kInterruptTimer = 0x1;
constexpr uint32_t kInterruptDoorbellAlternate = 0x2;  // board-to-host doorbell of a host-served node
constexpr uint32_t kInterruptDoorbell = 0x20;          // host doorbell of a host-served node
constexpr uint32_t kInterruptCpuStart = 0x400000;   // starts the board processor
// Doorbells of a node its board processor serves: the processor's own interrupt inputs
// (the plain one is the bit that also starts it).
constexpr uint32_t kInterruptBoardDoorbell = kInterruptCpuStart;
constexpr uint32_t kInterruptBoardDoorbellAlternate = 0x1000000;
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
// Interrupt sources the board driver raises for the doorbells (primary Orlo, display Orlo).
constexpr int kDoorbellSourcePrimary = 37;
constexpr int kDoorbellSourceDisplay = 69;
constexpr int kDoorbellAlternateSourcePrimary = 33;
constexpr int kDoorbellAlternateSourceDisplay = 65;
// The doorbell a grab module's transfer lists ring (bit 7 of the interrupt set register),
// taken like the others and delivered as the module's source.
constexpr uint32_t kInterruptListDoorbell = 0x80;
constexpr int kListDoorbellSourcePrimary = 39;
constexpr int kListDoorbellSourceDisplay = 71;
// kOrloVpControl
constexpr uint32_t kVmControlEnable = 0x1;
constexpr uint32_t kVmControlSend = 0x2;            // writing it starts a send of the command
// kOrloVpStatus
constexpr uint32_t kVmStatusStepDone = 0x2;         // the set-up step was acknowledged
constexpr uint32_t kVmStatusSetupAgain = 0x4;       // the VM port needs its set-up again
constexpr uint32_t kVmStatusSendBusy = 0x8;
constexpr uint32_t kVmStatusCommand = 0x10;         // a command was received
constexpr uint32_t kVmStatusWord = 0x20;            // a word was received
constexpr uint32_t kVmStatusBusy = 0x80;
constexpr uint32_t kVmStatusOverrun = 0x100;
constexpr uint32_t kVmStatusPortReady = 0x800;
// kOrloVmCommand flags
constexpr uint32_t kVmCommandCode = 0xFF;
constexpr uint32_t kVmCommandData1Valid = 0x100;
constexpr uint32_t kVmCommandData2Valid = 0x200;
constexpr uint32_t kVmCommandStepStart = 0x400;     // set-up: first send of an id step
constexpr uint32_t kVmCommandStepStartAlt = 0x800;  // set-up: first send of a search step
constexpr uint32_t kVmCommandStepRepeat = 0x1000;   // set-up: a following send of the step
constexpr uint32_t kVmCommandStepMark = 0x2000;
constexpr uint32_t kVmCommandSetup = 0x4000;        // the command belongs to the port set-up
// kOrloVtControl
constexpr uint32_t kVtControlReset = 0x1;           // a pulse restarts the port set-up
constexpr uint32_t kVtControlContinuous = 0x2;
constexpr uint32_t kVtControlOddLine = 0x10;
// The VM engine raises its command-done source when a send completes.
constexpr int kVmDoneSourcePrimary = 51;
constexpr int kVmDoneSourceDisplay = 83;
// kOrloBusControl
constexpr uint32_t kBusWritePostingFlush = 0x200;
constexpr uint32_t kBusWritePostingBusy = 0x400;
// kOrloStatus
constexpr uint32_t kStatusProcessor = 0x40;         // the board carries its own processor
constexpr uint32_t kStatusCapability = 0x100;
constexpr uint32_t kStatusVmClockSetup = 0x200;     // the VM set-up programs the VM clock first
constexpr uint32_t kStatusVmResend = 0x2000;        // the VM server resends after a busy port
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

// ---- external port: grab interrupt sources of the grab module (byte offsets in the port
// window; each byte register sits in the low byte of its own 8-byte step) -----------------

// Module type 1: source word at 0x620 (low byte) and 0x628 (high byte), control pair at
// 0x5F0/0x5F8; its grab source is bit 11, acknowledged by a pulse of control bit 15.
constexpr uint32_t kExtGrabSourceLow1 = 0x620;
constexpr uint32_t kExtGrabSourceHigh1 = 0x628;
constexpr uint32_t kExtGrabControlLow = 0x5F0;
constexpr uint32_t kExtGrabControlHigh = 0x5F8;
// Module types 2 and 34: source word at 0x2F0/0x2F8 (bit 15).
constexpr uint32_t kExtGrabSourceLow2 = 0x2F0;
constexpr uint32_t kExtGrabSourceHigh2 = 0x2F8;
constexpr uint32_t kExtGrabAckBit = 0x8000;
// Module types 3-5: two status bytes (sources from bit 16 and from bit 21) and one clear
// register per source 16, 21, 26 and 31, 0x100 apart.
constexpr uint32_t kExtGrabStatusA = 0x10;
constexpr uint32_t kExtGrabStatusB = 0x110;
constexpr uint32_t kExtGrabClearFirst = 0x20;
constexpr uint32_t kExtGrabClearStep = 0x100;
