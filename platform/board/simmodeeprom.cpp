// A grab module's 1024 x 16 three-wire EEPROM (the standard module's register 42, the
// second family's buffer-controller EEPROM register): chip select high frames a
// command; data in is taken on each rising clock, MSB first: leading 0s, the start bit 1,
// two opcode bits, ten address bits (and 16 data bits for the writes).  A read answers a 0
// and then the word (and the following ones) on the next rising clocks.  A write, erase,
// erase-all or write-all is refused unless writing was enabled; otherwise the fall of chip
// select starts a self-timed programming cycle, during which data out reads 0 (busy)
// while chip select is high and 1 once it has ended.
#include "simmodchips.h"

#include <cstdint>

namespace boardsim {

using namespace grabregs;

void EepromModel::settle(uint64_t now)
{
    if (!busy || now < busyUntil) return;
    busy = false;
    ++cycles;
    switch (pendingOp) {
    case kEepromOpWrite: words[pendingAddress] = static_cast<uint16_t>(pendingData); break;
    case kEepromOpErase: words[pendingAddress] = 0xFFFF; break;
    case kEepromExtEraseAll << 8: words.fill(0xFFFF); break;
    case kEepromExtWriteAll << 8: words.fill(static_cast<uint16_t>(pendingData)); break;
    default: break;
    }
}

bool EepromModel::out(uint64_t now)
{
    settle(now);
    if (!fitted || !selected) return false;
    if (phase == Phase::Output) return dataOut;
    return !busy;
}

// The command's last address bit arrived.
void EepromModel::command()
{
    address &= kEepromWords - 1;
    switch (op) {
    case kEepromOpRead:
        Remember(commands, EepromCommand{EepromOp::Read, address, 0, false});
        phase = Phase::Output;
        dataOut = false;   // the dummy 0 before the word
        count = 0;
        return;
    case kEepromOpWrite:
        phase = Phase::Data;
        data = 0;
        count = 0;
        return;
    case kEepromOpErase: {
        const bool refused = !writeEnabled;
        Remember(commands, EepromCommand{EepromOp::Erase, address, 0, refused});
        programPending = !refused;
        pendingOp = kEepromOpErase;
        pendingAddress = address;
        phase = Phase::Ready;
        return;
    }
    default: break;
    }
    // The extended commands carry their code in the two top address bits.
    const uint32_t code = (address >> (kEepromAddressBits - 2)) & 3;
    switch (code) {
    case kEepromExtEnable:
        writeEnabled = true;
        Remember(commands, EepromCommand{EepromOp::Enable, 0, 0, false});
        phase = Phase::Ready;
        return;
    case kEepromExtDisable:
        writeEnabled = false;
        Remember(commands, EepromCommand{EepromOp::Disable, 0, 0, false});
        phase = Phase::Ready;
        return;
    case kEepromExtEraseAll: {
        const bool refused = !writeEnabled;
        Remember(commands, EepromCommand{EepromOp::EraseAll, 0, 0, refused});
        programPending = !refused;
        pendingOp = kEepromExtEraseAll << 8;
        phase = Phase::Ready;
        return;
    }
    default:   // write all: the data follow
        phase = Phase::Data;
        data = 0;
        count = 0;
        return;
    }
}

void EepromModel::lines(const LineChange& c, uint64_t now)
{
    settle(now);
    if (!fitted) return;
    if (c.rose(kEepromSelect)) {
        selected = true;
        phase = Phase::Idle;
        programPending = false;
        count = 0;
    }
    if (c.fell(kEepromSelect)) {
        selected = false;
        if (programPending && !busy) {
            busy = true;
            busyUntil = neverReady ? UINT64_MAX : now + kEepromProgramNanos;
        }
        programPending = false;
        phase = Phase::Idle;
        return;
    }
    if (!selected || !c.rose(kEepromClock) || busy) return;
    const uint32_t bit = c.high(kEepromDataIn) ? 1u : 0u;
    switch (phase) {
    case Phase::Idle:
        if (bit) {   // the start bit; 0s before it are ignored
            op = 1;
            count = 1;
            phase = Phase::Opcode;
        }
        break;
    case Phase::Opcode:
        op = (op << 1) | bit;
        if (++count == 3) {
            phase = Phase::Address;
            address = 0;
            count = 0;
        }
        break;
    case Phase::Address:
        address = (address << 1) | bit;
        if (++count == static_cast<int>(kEepromAddressBits)) command();
        break;
    case Phase::Data:
        data = (data << 1) | bit;
        if (++count == 16) {
            const bool refused = !writeEnabled;
            const bool all = op != kEepromOpWrite;
            Remember(commands, EepromCommand{all ? EepromOp::WriteAll : EepromOp::Write, all ? 0 : address,
                                             static_cast<uint16_t>(data), refused});
            programPending = !refused;
            pendingOp = all ? (kEepromExtWriteAll << 8) : kEepromOpWrite;
            pendingAddress = address;
            pendingData = data;
            phase = Phase::Ready;
        }
        break;
    case Phase::Output: {
        // Each rising clock presents the next bit, MSB first, running on into the next word.
        const uint32_t word = (address + static_cast<uint32_t>(count) / 16) & (kEepromWords - 1);
        dataOut = (words[word] >> (15 - count % 16)) & 1;
        ++count;
        break;
    }
    case Phase::Ready: break;
    }
}

} // namespace boardsim
