// The grab modules' serial EEPROMs: 1024 16-bit words on a three-wire interface (chip
// select, clock, data in, data out read back) driven bit by bit through one module
// register.  The standard family uses digitizer register 42 of the selected module; the
// second family its buffer controller's EEPROM register, kept in the node's KVX_INFO
// register copy.  Writing operations wait for the device's ready signal for at most the
// library's EEPROM time-out.
//
// Callers hold the module's register window (SetToOrlo, SetToExt) for the whole call.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct KVX_INFO;

// The node's second-family record, null when the node has none.  Kept per node until the
// node's record carries it; the buffer banks attach it at allocation.
KVX_INFO* mpPrvKvxInfo(uint32_t node);
void mpPrvSetKvxInfo(uint32_t node, KVX_INFO* info);

// Busy-loop iterations of one bit delay: the processor speed in Hz (1e9 when unknown)
// x 9e-7 x 0.25.
uint32_t mpPrvEepromBitLoops();

// Standard family.  Get: the word at address (bits above 9 ignored).  The others: 0 done,
// 1 when the device did not signal ready within the time-out (chip select is then dropped,
// writing disabled again and the register cleared).
HLC_API uint16_t mp_dig_get_eeprom(uint32_t address);
HLC_API int mp_dig_set_eeprom(uint32_t address, uint16_t data);
HLC_API int mp_dig_erase_eeprom(uint32_t address);
HLC_API int mp_dig_erase_eeprom_all(void);
HLC_API int mp_dig_set_eeprom_all(uint16_t data);

// Second family, the same operations.  Without a KVX_INFO for the node of the selected
// register window they touch nothing: get returns 0, the others 1.
HLC_API uint16_t mp_kvx_get_eeprom(uint32_t address);
HLC_API int mp_kvx_set_eeprom(uint32_t address, uint16_t data);
HLC_API int mp_kvx_erase_eeprom(uint32_t address);
HLC_API int mp_kvx_erase_eeprom_all(void);
HLC_API int mp_kvx_set_eeprom_all(uint16_t data);
