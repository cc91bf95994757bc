// Input format of the camera UART's receive-path fuzz target, shared by the target and the
// tests that write its seeds.
//
//   byte 0  options (kRx* bits)
//   byte 1  read length (used with kRxReadLength; else the length stays at its default)
//   byte 2  read maximum length / 4
//   then operations: a byte whose low three bits name it (kOp*), some followed by one
//   argument byte.
#pragma once

#include <cstdint>
#include <vector>

namespace uartrx {

constexpr uint8_t kRxParity = 0x01;       // parity checked by the library
constexpr uint8_t kRxEven = 0x02;         // even parity (else odd), library and peer
constexpr uint8_t kRxNoFlow = 0x04;       // the peer ignores the library's ready bit
constexpr uint8_t kRxPeerBusy = 0x08;     // the peer reports not ready
constexpr uint8_t kRxReadLength = 0x10;   // reads wait for byte 1's count
constexpr uint8_t kRxSevenBits = 0x20;
constexpr uint8_t kRxPeerParity = 0x40;   // the peer sends parity bits

constexpr uint8_t kOpQueue = 0;       // + byte: one peer byte; op bit 3 receive error, bit 4 parity error
constexpr uint8_t kOpBurst = 1;       // + n: 8n counting peer bytes
constexpr uint8_t kOpPoll = 2;
constexpr uint8_t kOpReadChar = 3;
constexpr uint8_t kOpReadString = 4;
constexpr uint8_t kOpDataPresent = 5;
constexpr uint8_t kOpErrors = 6;      // inquiry that clears the error bits
constexpr uint8_t kOpPeer = 7;        // op bit 3: peer ready, bit 4: peer flow control on

constexpr uint8_t kOpReceiveError = 0x08;
constexpr uint8_t kOpParityError = 0x10;

// Bytes the receive path may move for one input (peer bytes queued plus bytes read), so
// that one input stays short under emulation.
constexpr uint32_t kRxBudget = 4096;

struct RxInput {
    std::vector<uint8_t> bytes;
    explicit RxInput(uint8_t options, uint8_t readLength = 0, uint8_t readMaxQuarter = 255 / 4)
        : bytes{options, readLength, readMaxQuarter} {}
    RxInput& op(uint8_t code) { bytes.push_back(code); return *this; }
    RxInput& op(uint8_t code, uint8_t argument)
    {
        bytes.push_back(code);
        bytes.push_back(argument);
        return *this;
    }
};

} // namespace uartrx
