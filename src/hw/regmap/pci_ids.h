// PCI identifiers of the board's functions: the maker's vendor id with the device ids of
// the board bridge and the two Orlos, and the display chip's vendor and device ids.  The
// library's bus walk and the simulated machine both include this file.
#pragma once

#include <cstdint>

constexpr uint16_t kPciMakerVendor = 0x1F3A;
constexpr uint16_t kPciBoardBridge = 0x0A7C;
constexpr uint16_t kPciPrimaryOrlo = 0x3E91;
constexpr uint16_t kPciDisplayOrlo = 0x3E92;
constexpr uint16_t kPciChipVendor = 0x1C5B;
constexpr uint16_t kPciChipDevice = 0x3D07;          // display chip, function behind the bridge
constexpr uint16_t kPciChipFunction1Device = 0x3D08; // its second function
