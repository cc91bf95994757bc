// Camera serial port: frames clocked through the user I/O register, the polled receive
// ring with its flow control, and the port's controls.
#include "camuart.h"

#include "camrec.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "serialchips.h"
#include "regmap/grab_regs.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// Lines of the user I/O register (register 43) and the chip's frame bits.
using namespace grabregs;
constexpr uint32_t kFramePayload = 0x3FFF;  // bits below the command

constexpr uint32_t kConfigReset = 0x0004;  // 14400 baud, 8 data bits, no parity, 1 stop bit
constexpr int32_t kResetBaud = 14400;
constexpr uint32_t kResetReadMax = 255;

// Flow control of the receive ring.
constexpr uint32_t kStopPeerAbove = 1500;
constexpr uint32_t kResumePeerBelow = 1000;

// Bounds of the waits and loops.  The chip holds a few bytes; a reset drains at most this
// many answers.  A "no limit" time-out waits this long at most.  Waits poll at least every
// millisecond apart, however fast the line.
// Mend: every wait and drain has a bound, so a silent or jammed chip cannot hold the command server for ever.
constexpr int kDrainLimit = 256;
constexpr double kNoLimitWait = 10.0;
constexpr double kTransmitEmptyWait = 1.0;
constexpr double kMinimumStep = 0.001;
constexpr double kNoLimitStep = 0.01;

bool IsDefault(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits == 0x41B0000000000000ull;
}

// Truncation toward zero, saturated to the 32-bit range (NaN gives 0).
int32_t ToInt(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(value);
}

uint32_t Lines()
{
    const uint32_t* slot = mpPrvExtSlot(cam0::UART_CONTROL);
    return slot ? slot[0] & 0xFFFF : 0;
}

void SetLines(uint32_t lines) { mpPrvSetExtReg(cam0::UART_CONTROL, lines); }

uint32_t ReadBack() { return mpPrvReadExtReg(cam0::UART_CONTROL); }

uint16_t ReadFrame(int kind)
{
    uint16_t answer = 0;
    mp_read_uart(&answer, kind);
    return answer;
}

double HalfBit(const MP_UART_ST* u)
{
    return 0.5 / (u->baudRate > 0 ? u->baudRate : static_cast<int32_t>(kUartBaudRates[15]));
}

uint32_t Unread(const MP_UART_ST* u)
{
    return (u->writeIndex + kUartRingBytes - u->readIndex) % kUartRingBytes;
}

bool ParityEnabled(const MP_UART_ST* u) { return u->parity != kUartParityNone; }

// Reads a configuration, changes the bits under the mask and writes it back.
void ChangeConfig(uint32_t mask, uint32_t bits)
{
    const uint32_t config = ReadFrame(1);
    mp_write_2_uart((config & ~mask) | (bits & mask), 0);
}

// One byte from the ring, waiting as the read length and time-out say; `timedOut` tells
// whether this read ended by its time-out.
int ReadByte(uint32_t* nodeInfo, MP_UART_ST* u, bool* timedOut)
{
    *timedOut = false;
    mp_uart_irq_process(nodeInfo);
    if (Unread(u) == 0) {
        if (u->readLength == kUartLengthDefault) return 0;
        const bool noLimit = u->timeout == -1;
        const double limit = noLimit ? kNoLimitWait : u->timeout;
        const double step = noLimit ? kNoLimitStep : std::fmax(HalfBit(u), kMinimumStep);
        const double start = mp_time_clock(0.0);
        while (Unread(u) == 0 && mp_time_clock(start) <= limit) {
            mp_time_sleep(step);
            mp_uart_irq_process(nodeInfo);
        }
        if (Unread(u) == 0) {
            u->status |= kUartStatusTimeout;
            *timedOut = true;
            return '?';
        }
    }
    const uint8_t byte = u->ring[u->readIndex];
    u->readIndex = (u->readIndex + 1) % kUartRingBytes;
    if ((u->status & kUartStatusFlowStopped) && Unread(u) < kResumePeerBelow) {
        mp_write_2_uart(kUartTxReadyOnly | kUartTxReady, 1);
        u->status &= ~kUartStatusFlowStopped;
    }
    return byte;
}

} // namespace

MP_UART_ST* mp_uart_area(uint32_t* nodeInfo)
{
    if (!nodeInfo) return nullptr;
    const uint32_t type = nodeInfo[kNodeInfoModuleType];
    if (type != 2 && type != 34) return nullptr;
    return reinterpret_cast<MP_UART_ST*>(static_cast<uintptr_t>(nodeInfo[kNodeInfoUartArea]));
}

// ---- frames ----------------------------------------------------------------------------

void mp_write_2_uart(uint32_t word, int kind)
{
    const uint32_t frame = (kind == 0 ? kUartCmdWriteConfig : kUartCmdWriteData) | (word & kFramePayload);
    uint32_t lines = Lines() & ~kUartClock;
    SetLines(lines);
    lines &= ~kUartSelect;
    SetLines(lines);
    for (int bit = 15; bit >= 0; --bit) {
        ReadBack();
        lines = (frame >> bit) & 1 ? lines | kUartDataIn : lines & ~kUartDataIn;
        SetLines(lines);
        SetLines(lines | kUartClock);
        SetLines(lines);
    }
    SetLines(lines | kUartSelect);
}

void mp_read_uart(uint16_t* answer, int kind)
{
    uint32_t lines = Lines() & ~kUartClock;
    SetLines(lines);
    lines &= ~kUartSelect;
    SetLines(lines);
    lines &= ~kUartDataIn;
    SetLines(lines);
    uint32_t value = 0;
    for (int bit = 0; bit < 16; ++bit) {
        SetLines(lines | kUartClock);
        value = (value << 1) | (ReadBack() & kUartDataOut);
        SetLines(lines);
        // The second command bit is 1 for a configuration read (01), 0 for data (00).
        if (bit == 0 && kind == 1) {
            lines |= kUartDataIn;
            SetLines(lines);
        }
    }
    SetLines(lines | kUartSelect);
    if (answer) *answer = static_cast<uint16_t>(value);
}

// ---- reset and receiver ------------------------------------------------------------------

int mp_config_uart(uint32_t* nodeInfo)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u) return -1;
    u->baudRate = kResetBaud;
    u->parity = kUartParityNone;
    u->dataBits = 8;
    u->stopBits = 1;
    u->writeLength = kUartLengthDefault;
    u->readLength = kUartLengthDefault;
    u->readMax = kResetReadMax;
    u->timeout = -1;
    u->readIndex = 0;
    u->writeIndex = 0;
    u->status = 0;
    mp_write_2_uart(kUartTxReadyOnly, 1);
    for (int i = 0; i < kDrainLimit; ++i)
        if (!(ReadFrame(0) & kUartRxPresent)) break;
    std::memset(u->ring, 0, sizeof u->ring);
    mp_write_2_uart(kConfigReset, 0);
    mp_write_2_uart(kUartTxReadyOnly | kUartTxReady, 1);
    ReadFrame(1);
    return 0;
}

int mp_uart_irq_process(uint32_t* nodeInfo)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u) return -1;
    if (u->readIndex >= kUartRingBytes || u->writeIndex >= kUartRingBytes) u->readIndex = u->writeIndex = 0;
    // Every pass stores a byte or ends the poll, so a ring's worth of passes is the most.
    for (uint32_t pass = 0; pass < kUartRingBytes; ++pass) {
        const uint32_t next = (u->writeIndex + 1) % kUartRingBytes;
        const uint32_t answer = ReadFrame(0);
        u->status = (answer & kUartRxPeerBusy) ? u->status | kUartStatusPeerNotReady
                                               : u->status & ~kUartStatusPeerNotReady;
        const bool full = next == u->readIndex;
        u->status = full ? u->status | kUartStatusRingFull : u->status & ~kUartStatusRingFull;
        if (!(answer & kUartRxPresent) || full) break;  // nothing received, or the byte is dropped
        if (answer & kUartRxError) u->status |= kUartStatusReceiveError;
        if (ParityEnabled(u) && u->parity <= 1) {
            const bool odd = (__builtin_popcount(answer & 0x1FF) & 1) != 0;
            if (odd != (u->parity == 0)) u->status |= kUartStatusParityError;
        }
        u->ring[u->writeIndex] = static_cast<uint8_t>(answer & 0xFF);
        u->writeIndex = next;
    }
    if (Unread(u) > kStopPeerAbove) {
        mp_write_2_uart(kUartTxReadyOnly, 1);
        u->status |= kUartStatusFlowStopped;
    }
    return 0;
}

// ---- baud rate ---------------------------------------------------------------------------

int mp_uart_baud_code(int32_t rate)
{
    if (static_cast<uint32_t>(rate) == kUartLengthDefault) return 4;
    static const struct {
        int32_t upTo;
        int code;
    } kRows[] = {{900, 15},   {1500, 14},  {2100, 7},   {3000, 13},  {4200, 6},   {6000, 12},
                 {8400, 5},   {12000, 11}, {16800, 4},  {24000, 10}, {33600, 3},  {48000, 9},
                 {67200, 2},  {96000, 8},  {172800, 1}};
    for (const auto& row : kRows)
        if (rate <= row.upTo) return row.code;
    return 0;
}

int mp_uart_set_baud_rate(int32_t rate)
{
    const int code = mp_uart_baud_code(rate);
    ChangeConfig(kUartCfgBaudMask, static_cast<uint32_t>(code));
    return code;
}

int32_t mp_uart_inq_baud_rate() { return static_cast<int32_t>(kUartBaudRates[ReadFrame(1) & kUartCfgBaudMask]); }

// ---- controls ----------------------------------------------------------------------------

int mp_uart_baud_rate(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0) {
        const int32_t rate = IsDefault(*value) ? static_cast<int32_t>(kUartLengthDefault) : ToInt(*value);
        u->baudRate = IsDefault(*value) ? kResetBaud : rate;
        mp_uart_set_baud_rate(rate);
    } else if (mode == 1) {
        *value = mp_uart_inq_baud_rate();
    }
    return 0;
}

int mp_uart_parity(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0) {
        u->parity = IsDefault(*value) ? kUartParityNone : static_cast<uint32_t>(ToInt(*value));
        ChangeConfig(kUartCfgParity, u->parity != kUartParityNone ? kUartCfgParity : 0);
    } else if (mode == 1) {
        *value = u->parity;
    }
    return 0;
}

int mp_uart_stop_bits(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0) {
        u->stopBits = static_cast<uint32_t>(ToInt(*value));
        ChangeConfig(kUartCfgTwoStop, *value == 2.0 ? kUartCfgTwoStop : 0);
    } else if (mode == 1) {
        *value = ((ReadFrame(1) & kUartCfgTwoStop) ? 1 : 0) + 1;
    }
    return 0;
}

int mp_uart_data_bits(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0) {
        u->dataBits = static_cast<uint32_t>(ToInt(*value));
        ChangeConfig(kUartCfgSevenBits, *value == 7.0 ? kUartCfgSevenBits : 0);
    } else if (mode == 1) {
        *value = 8 - ((ReadFrame(1) & kUartCfgSevenBits) ? 1 : 0);
    }
    return 0;
}

int mp_uart_timeout(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0)
        u->timeout = IsDefault(*value) ? -1 : ToInt(*value);
    else if (mode == 1)
        *value = u->timeout;
    return 0;
}

namespace {

int LengthControl(uint32_t* nodeInfo, double* value, int32_t mode, uint32_t MP_UART_ST::*word)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0)
        u->*word = static_cast<uint32_t>(ToInt(*value));
    else if (mode == 1)
        *value = u->*word;
    return 0;
}

} // namespace

int mp_uart_read_length(uint32_t* nodeInfo, double* value, int32_t mode)
{
    return LengthControl(nodeInfo, value, mode, &MP_UART_ST::readLength);
}

int mp_uart_write_length(uint32_t* nodeInfo, double* value, int32_t mode)
{
    return LengthControl(nodeInfo, value, mode, &MP_UART_ST::writeLength);
}

int mp_uart_read_max_length(uint32_t* nodeInfo, double* value, int32_t mode)
{
    if (mode == 0 && value && IsDefault(*value)) {
        double reset = kResetReadMax;
        return LengthControl(nodeInfo, &reset, mode, &MP_UART_ST::readMax);
    }
    return LengthControl(nodeInfo, value, mode, &MP_UART_ST::readMax);
}

int mp_uart_data_present(uint32_t* nodeInfo, double* value, int32_t mode)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    if (mode == 0 || mode == 1) {
        mp_uart_irq_process(nodeInfo);
        *value = Unread(u) > 0 ? 1.0 : 0.0;
    }
    return 0;
}

int mp_uart_error(uint32_t* nodeInfo, int32_t control, double* value)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !value) return -1;
    constexpr uint32_t kErrorBits = kUartStatusReceiveError | kUartStatusParityError | kUartStatusRingFull |
                                    kUartStatusTimeout;
    *value = u->status & kErrorBits;
    if ((control & 0xFFFF) == IM_DIG_UART_ERROR_CLEAR) u->status &= ~kErrorBits;
    return 0;
}

int mp_uart_read_config(double* value)
{
    if (!value) return -1;
    *value = ReadFrame(1);
    return 0;
}

// ---- bytes and strings -------------------------------------------------------------------

int mp_uart_write_char(uint32_t* nodeInfo, uint8_t byte)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u) return -1;
    const double h = HalfBit(u);
    const double step = std::fmax(h, kMinimumStep);

    // The chip takes a byte only with its transmit buffer empty.
    const double start = mp_time_clock(0.0);
    while (!(ReadFrame(1) & kUartCfgTxEmpty)) {
        if (mp_time_clock(start) > kTransmitEmptyWait) {
            u->status |= kUartStatusTimeout;
            return -1;
        }
        mp_time_sleep(step);
    }

    uint32_t frame = byte;
    if (!(u->status & kUartStatusFlowStopped)) frame |= kUartTxReady;
    if (ParityEnabled(u) && u->parity <= 1) {
        const bool even = (__builtin_popcount(byte) & 1) == 0;
        if (even == (u->parity == 0)) frame |= kUartTxParity;
    }

    mp_uart_irq_process(nodeInfo);
    const bool noLimit = u->timeout == -1;
    const double limit = noLimit ? kNoLimitWait : u->timeout;
    const double waitStep = noLimit ? kNoLimitStep : step;
    double waited = 0.0;
    while (u->status & kUartStatusPeerNotReady) {
        if (u->status & kUartStatusRingFull) return -1;
        const double t0 = mp_time_clock(0.0);
        mp_time_sleep(waitStep);
        waited += std::fmax(mp_time_clock(t0), h);
        mp_uart_irq_process(nodeInfo);
        if (waited > limit && (u->status & kUartStatusPeerNotReady)) {
            u->status |= kUartStatusTimeout;
            return -1;
        }
    }
    mp_write_2_uart(frame, 1);
    return 0;
}

int mp_uart_read_char(uint32_t* nodeInfo)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u) return -1;
    bool timedOut;
    return ReadByte(nodeInfo, u, &timedOut);
}

int mp_uart_read_string(uint32_t* nodeInfo, char* buffer)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !buffer) return -1;
    const bool waitless = u->readLength == kUartLengthDefault;
    uint32_t count = (waitless || u->readLength >= u->readMax) ? u->readMax : u->readLength;
    // Mend: at most 255 bytes, so a raised read maximum cannot write past the caller's buffer.
    if (count > kUartReadClamp) count = kUartReadClamp;
    for (uint32_t n = 0; n < count; ++n) {
        bool timedOut;
        const int byte = ReadByte(nodeInfo, u, &timedOut);
        buffer[n] = static_cast<char>(byte);
        if (timedOut || (waitless && byte == 0)) break;
    }
    return 0;
}

int mp_uart_write_string(uint32_t* nodeInfo, const char* bytes)
{
    MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (!u || !bytes) return -1;
    uint32_t count;
    if (u->writeLength == kUartLengthDefault)
        // Mend: the scan for the NUL stops after 1024 bytes, so an unterminated text is not read past its end.
        count = static_cast<uint32_t>(strnlen(bytes, kUartWriteScanLimit));
    else
        count = static_cast<int32_t>(u->writeLength) < 1 ? 0 : u->writeLength;
    for (uint32_t i = 0; i < count; ++i)
        if (mp_uart_write_char(nodeInfo, static_cast<uint8_t>(bytes[i])) == -1) break;
    return 0;
}
