// Register map of the second grab-module family: 16-bit registers named by their offset r
// in the module's register space (0-0x3FF; the slot offsets of the family's camera record
// for the registers that have slots).  Register r's low byte is at port offset 2r and its
// high byte at 2r + 8 (the low 8 bits of a 32-bit access count).  The library and the
// simulated module include this one file.
#pragma once

#include <cstdint>

namespace kvxregs {

constexpr uint32_t kRegisterSpace = 0x400;   // every register lies below this offset
constexpr uint32_t kRegisterStep = 8;        // registers are 8 apart

// Port offsets of a register's two byte lanes.
constexpr uint32_t PortLow(uint32_t r) { return 2 * r; }
constexpr uint32_t PortHigh(uint32_t r) { return 2 * r + 8; }

// Module id bytes read at word 0 of the port window while the Orlo's port option is off.
// Type 3 answers no id byte (the lines float to 0xFF).
constexpr uint8_t kModuleIdType4 = 32;
constexpr uint8_t kModuleIdType4Alt = 253;
constexpr uint8_t kModuleIdType5 = 252;
constexpr uint8_t kModuleIdType6 = 33;

// ---- buffer and transfer controller ------------------------------------------------------
// Per-buffer registers of buffer n (0-3), 128 apart.
constexpr uint32_t kBufferStride = 0x80;
constexpr uint32_t BTC_GDBUF(uint32_t n) { return 0x18 + kBufferStride * n; }
constexpr uint32_t BTC_GWRPT(uint32_t n) { return 0x30 + kBufferStride * n; }
constexpr uint32_t BTC_GRDPT(uint32_t n) { return 0x38 + kBufferStride * n; }
constexpr uint32_t BTC_GLINE(uint32_t n) { return 0x40 + kBufferStride * n; }
constexpr uint32_t BTC_GBLCK(uint32_t n) { return 0x48 + kBufferStride * n; }
constexpr uint32_t BTC_DFULL(uint32_t n) { return 0x50 + kBufferStride * n; }
constexpr uint32_t BTC_DBLCK(uint32_t n) { return 0x58 + kBufferStride * n; }
constexpr uint32_t BTC_START(uint32_t n) { return 0x60 + kBufferStride * n; }
constexpr uint32_t BTC_NODMA(uint32_t n) { return 0x68 + kBufferStride * n; }
constexpr uint32_t BTC_AIDCYC = 0x200;
constexpr uint32_t BTC_GGRBIX = 0x208;
constexpr uint32_t BTC_GDUMID = 0x210;
constexpr uint32_t BTC_DDMAIX = 0x218;
constexpr uint32_t BTC_DDUMID = 0x220;
constexpr uint32_t BTC_BTCBPASS = 0x238;
constexpr uint32_t BTC_CLKSEL = 0x268;
constexpr uint32_t BTC_GBUFCTL = 0x270;
constexpr uint32_t BTC_EEPPRG = 0x278;

// Transfer-list side of the buffer controller.  The module steers the Orlo's list engine
// by 16-bit dispatch words in its status block (bank buffer 0 of the library's bank): the
// low half of the jump entry at + 520 (grab dispatch: the grab map entry of the block it
// holds) and at + 256 (end-of-frame dispatch); the high halves name a 64 KB half of bank
// buffer 1, whose dummy targets (BTC_GDUMID, BTC_DDUMID) lie 0x7F00 into the half, the
// channels' maps 0x8000 apart from its start.  A write of 1 to the low lane of
// kFrameReportAck (the lists' module-side register) takes the end-of-frame report.
constexpr uint32_t kFrameReportAck = 0x228;
constexpr uint32_t kStatusDmaDispatch = 256;
constexpr uint32_t kStatusGrabDispatch = 520;
constexpr uint32_t kDummyInHalf = 0x7F00;
constexpr uint32_t kMapStride = 0x8000;
// Field count of channel c in the status block: bits 3-14 of the 16-bit word here + 0x20 c.
constexpr uint32_t kStatusFieldCount = 0x128;
constexpr uint32_t kStatusChannelStride = 0x20;

// EEPROM lines of BTC_EEPPRG (data out is read back).
constexpr uint16_t kEepromClock = 0x1;
constexpr uint16_t kEepromDataIn = 0x2;
constexpr uint16_t kEepromDataOut = 0x4;
constexpr uint16_t kEepromSelect = 0x8;

// ---- input LUTs: six of 256 entries, single 32-bit accesses to the low lane --------------
constexpr uint32_t ISF_LUTEN = 0x280;     // bits 0-5: the LUTs a data access reaches
constexpr uint32_t ISF_LUTIDX = 0x288;    // entry index, advanced by each data access
constexpr uint32_t ISF_LUTDATA = 0x290;   // entry data
constexpr uint32_t ISF_BMODE = 0x298;
constexpr uint32_t kLutCount = 6;
constexpr uint32_t kLutEntries = 256;

// ---- timing chip, ICS1522 and serial devices of channel c (0-3) ---------------------------
constexpr uint32_t kChannels = 4;
constexpr uint32_t kChannelStride = 0x40;
// Index/data ports: an index to the low lane, then bytes to the high lane, each to the next
// chip byte (a 16-bit register is two bytes: low, then high).
constexpr uint32_t SinglePort(uint32_t c) { return 0x300 + kChannelStride * c; }
constexpr uint32_t BurstPort(uint32_t c) { return 0x320 + kChannelStride * c; }
constexpr uint32_t GrabControl(uint32_t c) { return 0x308 + kChannelStride * c; }   // FAF_GRBCTL0
constexpr uint32_t DevProg(uint32_t c) { return 0x310 + kChannelStride * c; }       // FAF_DEVPROG
constexpr uint32_t TestStatus(uint32_t c) { return 0x318 + kChannelStride * c; }    // FAF_TSTSTS
// Timing-chip registers behind the ports: 45 of them, FAF_PTOTAL (index 0) to FAF_TSTSTS.
constexpr uint32_t kTimingRegisters = 45;
constexpr uint32_t kTimingBytes = 2 * kTimingRegisters;

// FAF_DEVPROG lines.
constexpr uint16_t kDacLoad = 0x0001;     // channel 0's register only
constexpr uint16_t kDacClock = 0x0002;
constexpr uint16_t kDacData = 0x0004;
constexpr uint16_t kPllStrobe = 0x0008;
constexpr uint16_t kPllClock = 0x0010;
constexpr uint16_t kPllData = 0x0020;
constexpr uint16_t kSdaOut = 0x0040;      // decoder data line, driven value
constexpr uint16_t kScl = 0x0080;         // decoder clock line
constexpr uint16_t kSdaIn = 0x0100;       // read back: the data line as sampled
constexpr uint16_t kSdaDrive = 0x0200;    // 1: the module drives the data line

// Two-wire video decoder.
constexpr uint8_t kDecoderWrite = 0xD8;
constexpr uint8_t kDecoderRead = 0xD9;
constexpr uint32_t kDecoderRegisters = 128;
constexpr uint32_t kDacChannels = 8;

} // namespace kvxregs
