// Register I/O of the second grab-module family and its bit-serial chips.
//
// The module's 16-bit registers are named by their offset r in the module's register space
// (0-0x3FF, the slot offsets of the second family's camera record).  A register address is
// the external register base B of the selected register window plus r; the register's low
// byte sits at the window lane W + 2r and its high byte at W + 2r + 8, each reached as a
// 32-bit access of which the low 8 bits count.
//
// Three serial devices hang on the device-programming register FAF_DEVPROG of a channel
// (r = 0x310 + 0x40 x channel): the video decoder on a two-wire bus (device 0xD8 / 0xD9),
// the 8-channel serial DAC (channel 0's register only) and one ICS1522 PLL per channel.
// Every protocol keeps the register's working value in the FAF_DEVPROG slot of the
// channel's live shadow (the node's KVX_INFO register copies) and writes the whole 16-bit
// value after each change.
//
// Callers select the module's register window (SetToOrlo, SetToExt) and serialise access;
// nothing here takes a lock.  Without a KVX_INFO for the selected node, or for a channel
// outside 0-3, the serial operations touch nothing.
#pragma once

#include "hlc_arch.h"
#include "regmap/kvx_regs.h"

#include <cstdint>

struct MP_RESOURCE_ST;

// Channels of the module and the register offsets of a channel's ports (regmap/kvx_regs.h).
constexpr uint32_t kKvxChannels = kvxregs::kChannels;
constexpr uint32_t KvxSinglePort(uint32_t channel) { return kvxregs::SinglePort(channel); }
constexpr uint32_t KvxBurstPort(uint32_t channel) { return kvxregs::BurstPort(channel); }
constexpr uint32_t KvxGrabControl(uint32_t channel) { return kvxregs::GrabControl(channel); }
constexpr uint32_t KvxDevProg(uint32_t channel) { return kvxregs::DevProg(channel); }
constexpr uint32_t KvxTestStatus(uint32_t channel) { return kvxregs::TestStatus(channel); }

// ---- register primitives ----------------------------------------------------------------
// The register address B + r of the selected window (0 when nothing is selected).
uint32_t KvxRegAddr(uint32_t r);
// The live shadow of a channel (0-3) of the selected node: null without a KVX_INFO or for
// another channel.
uint8_t* mpPrvKvxShadow(uint32_t channel);

// Waits the processor-scaled delay, then writes value & 0xFF to the low lane and value >> 8
// (arithmetic) to the high lane of the register at `address`.
void flushHw(uint32_t address, int32_t value);
// Writes (slotAddress - baseSlotAddress) >> 2 to the low lane of the port.  No delay.
void flushIndexHw(uint32_t portAddress, uint32_t slotAddress, uint32_t baseSlotAddress);
// Writes value, then value >> 8, both to the high lane of the port.  No delay.
void flushDataHw(uint32_t portAddress, uint32_t value);
// Reads the port's high lane twice: low byte first, then high byte.
uint32_t readDataHw(uint32_t portAddress);
// Delay loop iterations of flushHw: a quarter of the processor speed in MHz (250 when the
// speed is unknown).
uint32_t mpPrvKvxFlushLoops();

// ---- serial chips -------------------------------------------------------------------------
// Exported.  A channel outside 0-3 is refused: nothing is written and a read gives 0.
HLC_API void mp_kvx_set_dec_reg(uint32_t channel, uint32_t reg, uint32_t value);
HLC_API uint32_t mp_kvx_read_dec_reg(uint32_t channel, uint32_t reg);
// DAC channel 0-7 (any other address writes nothing), always on channel 0's register.
HLC_API void mp_kvx_set_dac_reg(uint32_t value, uint32_t address);
// ICS1522 register 0-6 of the channel (any other writes nothing), the low 11 bits of value.
HLC_API void mp_kvx_set_pll_reg(uint32_t channel, uint32_t value, uint32_t reg);
// Clocks one bit into the channel's PLL serial port.
void mp_kvx_set_pll_bit(uint32_t channel, uint32_t bit);

// Serial access of the second family (operation = control type & 0xF00): 256 decoder write,
// 0 decoder read (the register value), 1024 DAC write (channel ignored), 2048 PLL write;
// any other operation does nothing.  0 except for the read.  Selects the register window of
// the request's node for the call.
uint32_t mpDigSerAccess_Async(MP_RESOURCE_ST* res, uint32_t operation, uint32_t channel, uint32_t value,
                              uint32_t reg);
