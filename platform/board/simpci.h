// PCI configuration space of the simulated machine: one function's registers and the
// segments behind bridges (simpci.cpp).
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace boardsim {

enum class FnRole : uint8_t { HostBridge, SystemDevice, Bridge, PrimaryOrlo, DisplayOrlo, Chip, ChipFunction1 };

struct Segment;
struct Machine;

// One function's 256-byte configuration space.  Bits outside the write mask are fixed;
// the masks of the base-address registers follow from their sizes, so writing all ones
// reads back the size.
struct PciFunction {
    FnRole role = FnRole::SystemDevice;
    int board = -1;
    uint8_t cfg[256] = {};
    uint8_t wmask[256] = {};
    uint32_t barSize[6] = {};
    PciFunction* upstream = nullptr;     // bridge above (null on bus 0)
    std::unique_ptr<Segment> below;      // bus behind a bridge

    void setup(uint16_t vendor, uint16_t device, uint32_t classCode, uint8_t revision, bool bridge,
               bool multiFunction);
    void setBar(int index, uint32_t size, uint32_t typeBits);  // typeBits: 0, 8 (prefetch) or 1 (I/O)
    void setRom(uint32_t size);
    bool isBridge() const { return (cfg[0x0E] & 0x7F) == 1; }
    uint32_t read32(uint8_t reg) const;
    void write(uint8_t reg, uint32_t value, uint32_t byteMask); // reg dword-aligned
    uint32_t barBase(int index) const;
    uint16_t command() const { return static_cast<uint16_t>(cfg[4] | (cfg[5] << 8)); }
};

struct Segment {
    std::map<uint8_t, PciFunction*> functions; // key: device << 3 | function
};

} // namespace boardsim
