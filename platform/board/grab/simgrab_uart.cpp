// The camera UART on register 43 and its scripted peer.  A frame is 16 bits MSB first
// between chip select low (bit 1 of the register, active low) and high: the chip takes
// data in (bit 2) on each rising clock (bit 3) and answers on the read-back's bit 0, bit
// 15 of the answer first (after the first rising clock), bit 0 after the sixteenth.  Bits
// 15 and 14 of every answer are "a byte was received" and "transmitter empty"; the rest
// follows from the command in the frame's first two bits.  Only a frame of exactly 16
// clocks acts, when chip select rises.
#include "simgrab.h"

#include <bitset>

namespace boardsim {

using namespace grabregs;

namespace {

uint32_t Ones(uint32_t v)
{
    return static_cast<uint32_t>(std::bitset<32>(v).count());
}

} // namespace

void UartModel::pump(uint64_t now)
{
    while (inChip < queue.size() && inChip < kUartReceiverDepth && queue[inChip].due <= now &&
           (hostReady || !peerFlowControl))
        ++inChip;
}

// The low 14 bits of the answer to a data read.
uint16_t UartModel::dataAnswer() const
{
    uint16_t a = peerReady ? 0 : kUartRxPeerBusy;
    if (!headPresent || queue.empty()) return a;
    const UartPeerByte& b = queue.front();
    const bool seven = (config & kUartCfgSevenBits) != 0;
    const uint8_t byte = seven ? (b.byte & 0x7F) : b.byte;
    bool parity = false;
    if (peerParity == UartParity::Odd) parity = Ones(byte) % 2 == 0;
    if (peerParity == UartParity::Even) parity = Ones(byte) % 2 == 1;
    if (b.parityError) parity = !parity;
    a |= byte;
    if (parity) a |= kUartRxParity;
    if (b.receiveError) a |= kUartRxError;
    return a;
}

bool UartModel::out() const
{
    if (!selected || count > 16) return false;
    const int bit = count == 0 ? 15 : 16 - count;
    return (answer >> bit) & 1;
}

void UartModel::lines(const LineChange& c, uint64_t now)
{
    pump(now);
    if (c.fell(kUartSelect)) {
        selected = true;
        count = 0;
        in = 0;
        headPresent = inChip > 0;
        answer = static_cast<uint16_t>((headPresent ? kUartRxPresent : 0) | (now >= txBusyUntil ? kUartCfgTxEmpty : 0));
    }
    if (c.rose(kUartSelect)) {
        if (selected) finish(now);
        selected = false;
        return;
    }
    if (!selected || !c.rose(kUartClock)) return;
    in = static_cast<uint16_t>((in << 1) | (c.high(kUartDataIn) ? 1 : 0));
    ++count;
    if (count == 2) {
        // The command is known: the rest of the answer.
        const uint16_t command = static_cast<uint16_t>(in << 14);
        if (command == kUartCmdReadConfig) answer |= config & 0x3FFF;
        if (command == kUartCmdReadData) answer |= dataAnswer();
    }
}

void UartModel::finish(uint64_t now)
{
    UartFrame f;
    f.sent = in;
    f.answer = answer;
    f.complete = count == 16;
    Remember(frames, f);
    if (!f.complete) return;
    switch (in & kUartCmdMask) {
    case kUartCmdWriteConfig: config = in & 0x3FFF; break;
    case kUartCmdWriteData:
        hostReady = (in & kUartTxReady) != 0;
        if (!(in & kUartTxReadyOnly)) {
            const bool seven = (config & kUartCfgSevenBits) != 0;
            Remember(sent, static_cast<uint8_t>(seven ? (in & 0x7F) : (in & 0xFF)));
            // The transmitter is busy for one character: start, data, parity and stop bits.
            const uint32_t bits = 1 + (seven ? 7 : 8) + ((config & kUartCfgParity) ? 1 : 0) +
                                  ((config & kUartCfgTwoStop) ? 2 : 1);
            txBusyUntil = now + static_cast<uint64_t>(bits) * 1000000000ull / kUartBaudRates[config & kUartCfgBaudMask];
        }
        break;
    case kUartCmdReadData:
        if (headPresent && !queue.empty()) {
            queue.pop_front();
            if (inChip > 0) --inChip;
        }
        break;
    default: break;
    }
    pump(now);
}

} // namespace boardsim
