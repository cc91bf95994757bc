// Register map of the standard grab module: 128 16-bit registers behind the Orlo's 2 KB
// port window.  Register n's low byte is at port offset 16n and its high byte at 16n + 8
// (the low 8 bits of a 32-bit access count); its shadow slot lies at byte 8n of the
// external shadow, which is also the slot layout of the standard camera record.  The
// library and the simulated module include this one file.
#pragma once

#include <cstdint>

namespace grabregs {

constexpr uint32_t kRegisterCount = 128;

// Port offsets of a register's two byte lanes, and its shadow/record slot offset.
constexpr uint32_t PortLow(uint32_t reg) { return 16 * reg; }
constexpr uint32_t PortHigh(uint32_t reg) { return 16 * reg + 8; }
constexpr uint32_t Slot(uint32_t reg) { return 8 * reg; }

// Module id byte read at word 0 while the FPGA is not yet configured (Orlo status bit 15
// clear), by module type.
constexpr uint8_t kModuleIdType1 = 254;
constexpr uint8_t kModuleIdType2 = 28;
constexpr uint8_t kModuleIdType34 = 24;

// ---- registers (numbers; the slot offset is 8 x the number) ---------------------------
constexpr uint32_t DIG_SHCNT = 0;
constexpr uint32_t kHorizontalCounter = 1;   // read-back counter
constexpr uint32_t DIG_SVCNT = 2;
constexpr uint32_t kVerticalCounter = 3;     // read-back counter
constexpr uint32_t DIG_HTOTAL = 4;
constexpr uint32_t DIG_VTOTAL = 6;
constexpr uint32_t DIG_HSSYNC = 8;
constexpr uint32_t DIG_HESYNC = 9;
constexpr uint32_t DIG_VSSYNC = 10;
constexpr uint32_t DIG_VESYNC = 11;
constexpr uint32_t DIG_HSBLNK = 12;
constexpr uint32_t DIG_HEBLNK = 13;
constexpr uint32_t DIG_VSBLNK = 14;
constexpr uint32_t DIG_VEBLNK = 15;
constexpr uint32_t DIG_HSCLMP = 16;
constexpr uint32_t DIG_HECLMP = 17;
constexpr uint32_t DIG_VSCLMP = 18;
constexpr uint32_t DIG_VECLMP = 19;
constexpr uint32_t DIG_HSPLLF = 20;
constexpr uint32_t DIG_HEPLLF = 21;
constexpr uint32_t DIG_VSNGVR = 22;
constexpr uint32_t DIG_VENGVR = 23;
constexpr uint32_t DIG_HSCSGT = 24;
constexpr uint32_t DIG_HECSGT = 25;
constexpr uint32_t DIG_VSPDTC = 26;
constexpr uint32_t DIG_VEPDTC = 27;
constexpr uint32_t DIG_HVRCTL = 32;
constexpr uint32_t DIG_PLLCTL = 33;
constexpr uint32_t DIG_SRSCTL = 34;
constexpr uint32_t DIG_OUTCTL = 35;
constexpr uint32_t DIG_NGCSFM = 36;
constexpr uint32_t DIG_PSGCFG = 38;
constexpr uint32_t DIG_ANACTL = 40;
constexpr uint32_t DIG_GRABCTL = 41;
constexpr uint32_t kEepromPort = 42;         // three-wire EEPROM lines
constexpr uint32_t kUartPort = 43;           // camera UART lines (UART control slot 344)
constexpr uint32_t DIG_DTCVSR = 46;
constexpr uint32_t kSorvikControl = 47;      // Sorvik II control word (slot 376)
constexpr uint32_t kEepromPresentPort = 70;  // bit 12: EEPROM fitted
constexpr uint32_t DIG_T1SCNT = 80;
constexpr uint32_t DIG_EXP1S = 81;
constexpr uint32_t DIG_T1CTL = 82;
constexpr uint32_t DIG_T2SCNT = 84;
constexpr uint32_t DIG_EXP2S = 85;
constexpr uint32_t DIG_T2CTL = 86;
constexpr uint32_t DIG_FLDSG = 88;
constexpr uint32_t DIG_FLDEG = 89;
constexpr uint32_t DIG_ECSNGT = 90;
constexpr uint32_t DIG_NGCTL = 92;
constexpr uint32_t DIG_TMRCLR = 94;
constexpr uint32_t DIG_MISCTL = 95;
constexpr uint32_t DIG_CPTCTL = 96;
constexpr uint32_t DIG_USRREG = 97;
constexpr uint32_t DIG_INTCTL = 98;
constexpr uint32_t DIG_LUTPAL = 99;
constexpr uint32_t DIG_DICTL = 100;
constexpr uint32_t DIG_GPCTL = 101;
constexpr uint32_t kSerialPort = 102;        // bit-serial lines of the DACs, PLLs and delay line
constexpr uint32_t DIG_DLYLN = 103;
constexpr uint32_t DIG_SRCCFG = 105;
constexpr uint32_t kBt261Address = 106;      // line-lock controller: address and data
constexpr uint32_t kBt261Data = 107;

// ---- device-programming register 102: one line per bit; 0 between sequences -----------
// ICD2061A clock synthesizer: data is taken on the rising clock edge; the two lines also
// carry the register selection left on them after a word.
constexpr uint16_t kIcdClock = 0x0001;
constexpr uint16_t kIcdData = 0x0002;
// ICS1522 line-lock PLL: data on the rising clock edge, LSB first; strobe frames a word.
constexpr uint16_t kIcsClock = 0x0004;
constexpr uint16_t kIcsData = 0x0008;
constexpr uint16_t kIcsStrobe = 0x0010;
// DS1020 delay line: enable frames the word; data on the rising clock edge, MSB first.
constexpr uint16_t kDs1020Enable = 0x0020;
constexpr uint16_t kDs1020Data = 0x0040;
constexpr uint16_t kDs1020Clock = 0x0080;
// Second DAC8800 (reference DAC): data on the rising clock edge, MSB first; load low then
// high transfers the shifted address and value.
constexpr uint16_t kDac2Clock = 0x0200;
constexpr uint16_t kDac2Data = 0x0400;
constexpr uint16_t kDac2Load = 0x0800;
// First DAC8800 (level DAC).
constexpr uint16_t kDac1Clock = 0x2000;
constexpr uint16_t kDac1Data = 0x4000;
constexpr uint16_t kDac1Load = 0x8000;

// ICD2061A program word fields (24 bits sent, bit 0 first).
constexpr uint32_t kIcdAddressShift = 21;     // bits 21-23
constexpr uint32_t kIcdAddressMask = 0x7;
constexpr uint32_t kIcdIndexShift = 17;       // bits 17-20: VCO range index I
constexpr uint32_t kIcdIndexMask = 0xF;
constexpr uint32_t kIcdPShift = 10;           // bits 10-16: P - 3
constexpr uint32_t kIcdPMask = 0x7F;
constexpr uint32_t kIcdMShift = 7;            // bits 7-9: post-divider exponent M
constexpr uint32_t kIcdMMask = 0x7;
constexpr uint32_t kIcdQMask = 0x7F;          // bits 0-6: Q - 2
constexpr uint32_t kIcdDataMask = 0x1FFFFF;   // the 21 data bits below the address
constexpr uint32_t kIcdPrescaleShift = 24;    // bits 24-31 of a clock-register word
constexpr uint32_t kIcdControlPrescaleShift = 12;  // control bits 12-19 (bit 12 + n: register n)
constexpr uint32_t kIcdAddressPowerDown = 4;
constexpr uint32_t kIcdAddressControl = 6;
constexpr uint32_t kIcdSystemClockRegister = 3;
constexpr uint32_t kIcdReferenceHz = 14318180;
constexpr uint32_t kIcdUnlockOnes = 5;        // data-high clock pulses before the start bit

// ---- EEPROM lines on register 42 (three-wire, 1024 x 16, commands MSB first) ----------
constexpr uint16_t kEepromClock = 0x0010;     // bit 4
constexpr uint16_t kEepromDataIn = 0x0020;    // bit 5: data to the EEPROM
constexpr uint16_t kEepromDataOut = 0x0040;   // bit 6 of the read-back: data from the EEPROM
constexpr uint16_t kEepromSelect = 0x0080;    // bit 7: chip select, active high
constexpr uint32_t kEepromWords = 1024;
constexpr uint32_t kEepromAddressBits = 10;
// Start bit and opcode (3 bits after the start's leading 0), then 10 address bits; the
// extended commands carry their code in the two top address bits.
constexpr uint32_t kEepromOpRead = 0x6;       // 1 1 0
constexpr uint32_t kEepromOpWrite = 0x5;      // 1 0 1
constexpr uint32_t kEepromOpErase = 0x7;      // 1 1 1
constexpr uint32_t kEepromOpExtended = 0x4;   // 1 0 0
constexpr uint32_t kEepromExtEraseAll = 0x2;  // 1 0
constexpr uint32_t kEepromExtWriteAll = 0x1;  // 0 1
constexpr uint32_t kEepromExtEnable = 0x3;    // 1 1
constexpr uint32_t kEepromExtDisable = 0x0;   // 0 0
// Register 70, read with DIG_SRCCFG bits 13 and 14 set: bit 12 set when an EEPROM is fitted.
constexpr uint16_t kEepromPresent = 0x1000;

// ---- camera UART lines on register 43 (16-bit frames, MSB first) ----------------------
constexpr uint16_t kUartDataOut = 0x0001;     // bit 0 of the read-back: data from the chip
constexpr uint16_t kUartSelect = 0x0002;      // chip select, active low
constexpr uint16_t kUartDataIn = 0x0004;      // data to the chip, taken on the rising edge
constexpr uint16_t kUartClock = 0x0008;
// Frame bits 15-14: the command.
constexpr uint16_t kUartCmdMask = 0xC000;
constexpr uint16_t kUartCmdWriteConfig = 0xC000;
constexpr uint16_t kUartCmdWriteData = 0x8000;
constexpr uint16_t kUartCmdReadConfig = 0x4000;
constexpr uint16_t kUartCmdReadData = 0x0000;
// Configuration word.
constexpr uint16_t kUartCfgBaudMask = 0x000F;
constexpr uint16_t kUartCfgSevenBits = 0x0010;
constexpr uint16_t kUartCfgParity = 0x0020;
constexpr uint16_t kUartCfgTwoStop = 0x0040;
constexpr uint16_t kUartCfgTxEmpty = 0x4000;  // in the answer to a configuration read
// Data write.
constexpr uint16_t kUartTxByteMask = 0x00FF;
constexpr uint16_t kUartTxParity = 0x0100;
constexpr uint16_t kUartTxReady = 0x0200;     // the library is ready to receive
constexpr uint16_t kUartTxReadyOnly = 0x0400; // change the ready bit, send no byte
// Data read answer.
constexpr uint16_t kUartRxPresent = 0x8000;
constexpr uint16_t kUartRxError = 0x0400;
constexpr uint16_t kUartRxPeerBusy = 0x0200;  // clear while the peer is ready
constexpr uint16_t kUartRxParity = 0x0100;
constexpr uint16_t kUartRxByteMask = 0x00FF;
// Baud rate of each configuration code 0-15.
constexpr uint32_t kUartBaudRates[16] = {230400, 115200, 57600, 28800, 14400, 7200, 3600, 1800,
                                         76800,  38400,  19200, 9600,  4800,  2400, 1200, 600};

// ---- DIM shift register on DIG_DICTL (8 bits, LSB first) ------------------------------
constexpr uint16_t kDimData = 0x0001;
constexpr uint16_t kDimClock = 0x0002;        // shifts on the rising edge while enabled
constexpr uint16_t kDimLatch = 0x0004;        // rising edge latches the shifted byte
constexpr uint16_t kDimSelect = 0x0008;       // read back: set when a DIM register is fitted
constexpr uint16_t kDimEnable = 0x0010;

// ---- Bt261 on registers 106 (address) and 107 (data): the byte in bits 8-15 -----------
constexpr uint32_t kBt261Shift = 8;
constexpr uint32_t kBt261RegisterCount = 30;  // indices 0-29 (7 is never written)
// DIG_SRCCFG bits that open the Bt261 and the EEPROM status (also the counter read).
constexpr uint16_t kSrcCfgAccess = 0x6000;    // bits 13 and 14
constexpr uint16_t kSrcCfgCounterRead = 0x4000;

// ---- other read-backs -----------------------------------------------------------------
constexpr uint16_t kUserInput0 = 0x0010;      // DIG_USRREG bit 4
constexpr uint16_t kUserInput1 = 0x0020;      // DIG_USRREG bit 5
constexpr uint16_t kUserOutput0 = 0x0040;     // DIG_USRREG bit 6
constexpr uint16_t kUserOutput1 = 0x0080;     // DIG_USRREG bit 7
constexpr uint16_t kTimerOutput = 0x8000;     // DIG_T1CTL / DIG_T2CTL bit 15

// ---- exposure and capture bits (DIG_MISCTL, DIG_CPTCTL, timer control) ----------------
constexpr uint16_t kMiscT1Trigger = 0x0001;
constexpr uint16_t kMiscT1Arm = 0x0002;
constexpr uint16_t kMiscT1SwTrigger = 0x0004;
constexpr uint16_t kMiscT1Run = 0x0008;
constexpr uint16_t kMiscT2Trigger = 0x0010;
constexpr uint16_t kMiscT2Arm = 0x0020;
constexpr uint16_t kMiscT2SwTrigger = 0x0040;
constexpr uint16_t kMiscT2Run = 0x0080;
constexpr uint16_t kMiscCaptureSwTrigger = 0x2000;
constexpr uint16_t kMiscCaptureEnable = 0x4000;
constexpr uint16_t kCptPolarity = 0x0200;     // DIG_CPTCTL bit 9
constexpr uint32_t kCptSourceShift = 10;      // DIG_CPTCTL bits 10-12
constexpr uint16_t kCptSourceMask = 0x1C00;
constexpr uint16_t kTimerTriggered = 0x0100;  // timer control bit 8: triggered mode
constexpr uint16_t kTimerTrigPolarity = 0x0080;  // bit 7
constexpr uint32_t kTimerSourceShift = 4;     // bits 4-6: trigger source code
constexpr uint16_t kTimerSourceMask = 0x0070;
constexpr uint16_t kTimerOutPolarity = 0x4000;   // bit 14

// ---- pixel-clock measurement and PLL lock status ------------------------------------
constexpr uint16_t kPsgCfgClockTest = 0x0010;   // DIG_PSGCFG bit 4: register 3 counts pixels
constexpr uint16_t kClockTestTimer = 0x0175;    // DIG_T1CTL of the measuring window
constexpr uint32_t kPixelCount = 3;             // read back in the clock test: kHz
constexpr uint16_t kPixelCountOverflow = 65000; // counts above this are an overrun
constexpr uint16_t kPllFeedbackPolarity = 0x0008;  // DIG_PLLCTL bit 3
constexpr uint16_t kPllLockStatus0 = 0x0100;    // DIG_PLLCTL bit 8: locked
constexpr uint16_t kPllLockLost0 = 0x0200;      // bit 9: lock lost since bit 12 rose
constexpr uint16_t kPllLockStatus1 = 0x0400;    // bit 10: locked
constexpr uint16_t kPllLockLost1 = 0x0800;      // bit 11: lock lost since bit 13 rose
constexpr uint16_t kPllLockReset0 = 0x1000;     // bit 12
constexpr uint16_t kPllLockReset1 = 0x2000;     // bit 13
constexpr uint16_t kPllStatusMask = 0x0F00;

// ---- module status, register 70 (read with DIG_SRCCFG bits 13 and 14 set) -------------
constexpr uint32_t kModuleStatusPort = kEepromPresentPort;
constexpr uint16_t kModuleStatusListMode = 0x4000;  // bit 14
constexpr uint16_t kModuleStatusLutClock = 0x0700;  // bits 8-10: 001 needs no clock refresh
constexpr uint16_t kModuleStatusMask = 0x4700;

// ---- LUT FIFO ports: LUT 1 at registers 64-71, LUT 2 at 72-79 (fields in the high byte) -
constexpr uint32_t kLutPort1 = 64;
constexpr uint32_t kLutPort2 = 72;
constexpr uint32_t kLutRegAddressLow = 0;       // register offsets within a port
constexpr uint32_t kLutRegAddressPage = 1;
constexpr uint32_t kLutRegData = 2;
constexpr uint32_t kLutRegFifoControl = 3;
constexpr uint32_t kLutRegStatus = 4;
constexpr uint32_t kLutRegReadControl = 7;
constexpr uint16_t kLutFifoWrite = 0x0300;      // FIFO control before a write transfer
constexpr uint16_t kLutFifoBusy = 0x0400;       // status bit 10: the FIFO holds data
constexpr uint32_t kLutBands = 3;
constexpr uint32_t kLutEntriesPerPage = 256;
constexpr uint32_t kLutMemoryEntries = 8192;

// ---- Sorvik II LUT port (module types 2 and 34) ----------------------------------------
constexpr uint32_t kSorvikLutAddress = 56;      // low byte: entry within the page
constexpr uint32_t kSorvikLutData = 57;         // low byte
constexpr uint32_t kSorvikLutPage = 58;         // bits 0-4
constexpr uint32_t kSorvikLutSelect = 59;       // bits 0-2 width mode, bits 3-4 band
constexpr uint32_t kSorvikLutControl = 60;
constexpr uint16_t kSorvikPageMask = 0x001F;
constexpr uint16_t kSorvikWidthMask = 0x0007;
constexpr uint32_t kSorvikBandShift = 3;
constexpr uint16_t kSorvikBandMask = 0x0018;
constexpr uint16_t kSorvikWrite = 0x0001;
constexpr uint16_t kSorvikRead = 0x0002;
constexpr uint16_t kSorvikIdle = 0x0004;
constexpr uint16_t kSorvikRepeat = 0x0008;      // module type 34: send the band again
constexpr uint32_t kSorvikBands = 4;

} // namespace grabregs
