// What the grab-module models of both families share: the edges of a register's lines,
// the chip models both modules carry (a DAC8800 and the three-wire EEPROM), and the
// limits of the chips' histories and of the register logs.
// Guarded by SimState::mutex like the rest of the machine.
#pragma once

#include "boardsim.h"
#include "regmap/grab_regs.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace boardsim {

// The chips' histories (loads, words, commands, frames) keep at most this many entries
// each, so that a long run on the free-running clock does not grow without end.
constexpr size_t kGrabHistoryLimit = 1000000;
template <typename T, typename V>
void Remember(std::vector<T>& history, V&& entry)
{
    if (history.size() < kGrabHistoryLimit) history.push_back(T(std::forward<V>(entry)));
}

// Edges of the lines of one register between two values.
struct LineChange {
    uint16_t before = 0;
    uint16_t after = 0;
    bool high(uint16_t mask) const { return (after & mask) != 0; }
    bool rose(uint16_t mask) const { return !(before & mask) && (after & mask); }
    bool fell(uint16_t mask) const { return (before & mask) && !(after & mask); }
};

// DAC8800: load high frames a word; 3 address and 8 data bits MSB first, each taken on a
// rising clock; load low then high again transfers it.  Any other bit count is dropped.
struct Dac8800Model {
    uint16_t clock = 0, data = 0, load = 0;
    uint8_t value[8] = {};
    uint32_t shift = 0;
    int bits = -1;            // bits taken since load rose; -1 outside a frame
    int pending = -1;         // word waiting for load to rise again; -1 none
    std::vector<std::pair<int, uint8_t>> loads;
    void lines(const LineChange& c);
};

// 1024 x 16 three-wire EEPROM (simmodeeprom.cpp).
struct EepromModel {
    enum class Phase : uint8_t { Idle, Opcode, Address, Data, Output, Ready };
    std::array<uint16_t, grabregs::kEepromWords> words;
    bool fitted = true;
    bool neverReady = false;
    bool writeEnabled = false;
    bool selected = false;
    Phase phase = Phase::Idle;
    uint32_t op = 0, address = 0, data = 0;
    int count = 0;
    bool dataOut = false;      // output bit of a read
    bool programPending = false;
    bool busy = false;
    uint64_t busyUntil = 0;
    uint32_t pendingOp = 0, pendingAddress = 0, pendingData = 0;
    bool statusShown = false;   // chip select rose after a programming start
    uint32_t cycles = 0;
    std::vector<EepromCommand> commands;

    EepromModel() { words.fill(0xFFFF); }
    void lines(const LineChange& c, uint64_t now);
    void settle(uint64_t now);
    bool out(uint64_t now);
    void command();
};

// Maximum lane writes the log keeps (all registers together); later ones are counted only.
constexpr uint32_t kGrabLogLimit = 4000000;
// Self-timed programming cycle of the EEPROM.
constexpr uint64_t kEepromProgramNanos = 2000000;

} // namespace boardsim
