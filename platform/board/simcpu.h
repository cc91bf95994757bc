// The board processor and the grab-module FPGA of a board (simcpu.cpp).
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace boardsim {

class Firmware;   // simfirmware.h

// Board processor and grab-module FPGA state of a board (simcpu.cpp).
enum class CpuPhase : uint8_t { Halted, Booting, Ready, Running };
struct CpuModel {
    CpuPhase phase = CpuPhase::Halted;
    uint32_t bootReads = 0;     // mailbox reads left that still see 0
    uint32_t fadeReads = 0;     // mailbox reads left that still see 0xCAFEFADE
    uint32_t starts = 0;
    uint32_t resets = 0;
    // Reset states in bits 8-11 of the memory control word: the end of a reset pulse
    // starts the sequence at 4, which advances by one every kResetStateNanos of bus time
    // up to 10; a pulse at 10 halts the processor in state 11.
    uint32_t resetState = 0;
    uint64_t sequenceStart = 0;   // bus time at the end of the pulse
    // What the shell runs once the handshake is done: made at the first such start.
    std::shared_ptr<Firmware> firmware;
};
struct FpgaModel {
    bool done = false;
    bool programming = false;   // program pulse bit held set
    uint32_t pulses = 0;
    std::vector<uint8_t> received;
};

} // namespace boardsim
