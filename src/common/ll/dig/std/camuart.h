// Camera serial port of the standard grab module: a UART chip with a 16-bit serial command
// interface, driven bit by bit through three lines of the module's user I/O register
// (register 43, the shadow slot at byte 344).  There is no interrupt: the receiver is
// polled into a 2000-byte ring whenever the port is used.
//
// The port state lives in a 2092-byte area that the node information (the node state from
// word 25 on) points at; only the Sorvik II module types (2 and 34) have it, and every
// control refuses (-1) on a node without it.
//
// Threads: the port is used only from the digitizer requests of the node's command server,
// with the node's digitizer registers selected (SetToExt); nothing here takes a lock.
// Every wait runs on the library clock (mp_time_clock / mp_time_sleep) and is bounded.
#pragma once

#include "nodeinfo.h"
#include "nodeopen.h"

#include <cstddef>
#include <cstdint>

// Port state: 32-bit words 0-10, then the receive ring.
struct MP_UART_ST {
    int32_t baudRate;      // 0: requested rate (14400 after a reset)
    uint32_t parity;       // 1: kUartParityNone, 0 odd, 1 even
    uint32_t dataBits;     // 2
    uint32_t stopBits;     // 3
    uint32_t writeLength;  // 4: kUartLengthDefault = write up to the terminating NUL
    uint32_t readLength;   // 5: kUartLengthDefault = reads do not wait
    uint32_t readMax;      // 6: read maximum length
    int32_t timeout;       // 7: seconds, -1 no limit
    uint32_t readIndex;    // 8
    uint32_t writeIndex;   // 9
    uint32_t status;       // 10: kUartStatus* bits
    uint8_t ring[2000];    // 11..
};
constexpr uint32_t kUartAreaBytes = 2092;
constexpr uint32_t kUartRingBytes = 2000;
static_assert(sizeof(MP_UART_ST) == 44 + kUartRingBytes && sizeof(MP_UART_ST) <= kUartAreaBytes,
              "the port state fits its area");

constexpr uint32_t kUartParityNone = 0x20000000u;
constexpr uint32_t kUartLengthDefault = 0x10000000u;

// Status bits (word 10).
constexpr uint32_t kUartStatusReceiveError = 0x01;
constexpr uint32_t kUartStatusParityError = 0x02;
constexpr uint32_t kUartStatusRingFull = 0x04;
constexpr uint32_t kUartStatusTimeout = 0x08;
constexpr uint32_t kUartStatusFlowStopped = 0x10;
constexpr uint32_t kUartStatusPeerNotReady = 0x20;

// The port state of a node information record; null when the node has none or its module
// is not of a type that carries the port.
MP_UART_ST* mp_uart_area(uint32_t* nodeInfo);

// Frames: kind 0 a configuration write, any other kind a data write.
void mp_write_2_uart(uint32_t word, int kind);
// kind 1 reads the configuration, 0 reads data; the chip's 16-bit answer.
void mp_read_uart(uint16_t* answer, int kind);

// Port reset to its defaults; -1 without a port.
int mp_config_uart(uint32_t* nodeInfo);
// One receiver poll into the ring; 0 (-1 without a port).
int mp_uart_irq_process(uint32_t* nodeInfo);
// The baud code a requested rate selects (kUartLengthDefault: the reset rate's code 4).
int mp_uart_baud_code(int32_t rate);
// Puts the code of the rate into the chip's configuration; returns the code.
int mp_uart_set_baud_rate(int32_t rate);
// The rate of the chip's configured baud code.
int32_t mp_uart_inq_baud_rate();

// Controls 30038-30055: (node information, address of the value, mode 0 set / 1 inquire);
// 0 done, -1 refused (no port).
int mp_uart_baud_rate(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_parity(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_stop_bits(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_data_bits(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_timeout(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_read_length(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_read_max_length(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_write_length(uint32_t* nodeInfo, double* value, int32_t mode);
int mp_uart_data_present(uint32_t* nodeInfo, double* value, int32_t mode);
// 30054 answers status bits 0-3; 30055 also clears them.
int mp_uart_error(uint32_t* nodeInfo, int32_t control, double* value);
// 30099: the configuration word read from the chip.
int mp_uart_read_config(double* value);

// One byte out: 0 sent, -1 not sent (ring full while the peer is not ready, time-out, no
// port).
int mp_uart_write_char(uint32_t* nodeInfo, uint8_t byte);
// The next received byte: 0 at once on an empty ring with the read length at its default,
// '?' with the time-out bit after a wait that got nothing; -1 without a port.
int mp_uart_read_char(uint32_t* nodeInfo);
// Longest string the port moves in one call: reads are clamped to this many bytes, and a
// string written up to its NUL ends here when it has none.
constexpr uint32_t kUartReadClamp = 255;
constexpr uint32_t kUartWriteScanLimit = 1024;
// Bytes into the caller's buffer (at most kUartReadClamp of them); 0, -1 without a port.
int mp_uart_read_string(uint32_t* nodeInfo, char* buffer);
// Bytes from the caller's buffer; stops at the first byte not sent; 0, -1 without a port.
int mp_uart_write_string(uint32_t* nodeInfo, const char* bytes);
