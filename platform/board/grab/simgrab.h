// The standard grab module behind the primary Orlo's 2 KB port window: 128 16-bit
// registers (register n: low byte at 16n, high byte at 16n + 8, the low 8 bits of each
// access counting), the module id byte at word 0 while the Orlo's port option is off, and
// the chips that hang on its registers, each decoding exactly the line protocol the
// library drives:
//   register 102   two DAC8800 trim DACs (simmodchips.cpp), the ICS1522 PLL, the DS1020
//                  delay line and the ICD2061A synthesizer (simgrab_serial.cpp);
//   106 / 107      the Bt261 line-lock controller (simgrab_serial.cpp);
//   DIG_DICTL      the 8-bit DIM shift register (simgrab_serial.cpp);
//   42             the 1024 x 16 three-wire EEPROM (simmodeeprom.cpp);
//   43             the camera UART and its scripted peer (simgrab_uart.cpp);
//   3, 82, 33      the pixel-clock test of timer 1 and the line-lock PLL's lock status
//                  (simgrab_clock.cpp);
//   64-79, 56-60   the input LUTs behind their FIFO ports and the Sorvik II LUT port
//                  (simgrab_lut.cpp).
// Word 0 stays the FPGA's data port until the FPGA is done.  A register write only records
// and decodes; everything that takes time (EEPROM programming, the UART's transmitter, the
// peer's bytes, the clock test's window, the LUT FIFOs' draining) is a state on the
// machine's clock, read when the module is next accessed.
// Guarded by SimState::mutex like the rest of the machine.
#pragma once

#include "simcore.h"
#include "simmodchips.h"
#include "regmap/grab_regs.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <utility>
#include <vector>

namespace boardsim {

// ICS1522: a strobe fall opens a frame; on rising clocks a 0 bit, then the register number
// (3 bits) and the value (11 bits), both LSB first; the strobe's rise loads it.
struct Ics1522Model {
    uint16_t value[8] = {};
    std::vector<uint32_t> bits;
    bool open = false;
    std::vector<std::pair<int, uint16_t>> loads;
    void lines(const LineChange& c);
};

// DS1020: enable high frames 8 bits MSB first on rising clocks; enable's fall loads them.
struct Ds1020Model {
    int delay = -1;
    uint32_t shift = 0;
    int bits = -1;
    std::vector<uint8_t> loads;
    void lines(const LineChange& c);
};

// ICD2061A: at least five rising clocks with data high unlock it, a rising clock with data
// low is the start bit, and after the clock's next rise each bit is a falling clock with
// the bit's inverse on data and a rising clock with the bit; 24 bits LSB first, then a
// stop (data high on both edges).  A pair that is neither complementary nor a stop, or a
// stop before 24 bits, drops the word.
struct Icd2061Model {
    enum class Phase : uint8_t { Unlock, Start, Bits };
    Phase phase = Phase::Unlock;
    int ones = 0;
    int fallData = -1;        // data at the last falling clock of a bit; -1 none yet
    uint32_t word = 0;
    int bits = 0;
    uint32_t control = 0;     // the last control word's 21 data bits
    bool controlLoaded = false;
    uint32_t clockWord[4] = {};
    bool clockLoaded[4] = {};
    uint32_t powerDown = 0;
    std::vector<uint32_t> words;
    void lines(const LineChange& c);
    void commit(uint32_t w);
};

struct Bt261Model {
    uint8_t address = 0;
    uint8_t reg[256] = {};
    std::vector<std::pair<uint8_t, uint8_t>> writes;
};

struct DimModel {
    bool fitted = true;
    uint8_t shift = 0;
    int value = -1;
    std::vector<uint8_t> loads;
    void lines(const LineChange& c);
};

// Camera UART and its scripted peer (simgrab_uart.cpp).
struct UartPeerByte {
    uint8_t byte = 0;
    bool receiveError = false;
    bool parityError = false;
    uint64_t due = 0;
};

struct UartModel {
    uint16_t config = 0;
    bool hostReady = true;          // bit 9 of the last data write
    bool peerReady = true;
    bool peerFlowControl = true;    // the peer holds its bytes while the host is not ready
    UartParity peerParity = UartParity::None;
    uint64_t txBusyUntil = 0;
    std::deque<UartPeerByte> queue;
    std::vector<uint8_t> sent;
    std::vector<UartFrame> frames;
    // the frame in progress
    bool selected = false;
    int count = 0;
    uint16_t in = 0;
    uint16_t answer = 0;
    bool headPresent = false;

    size_t inChip = 0;              // queue bytes [0, inChip) sit in the chip's receiver

    void lines(const LineChange& c, uint64_t now);
    bool out() const;
    void pump(uint64_t now);        // moves due peer bytes into the receiver
    uint16_t dataAnswer() const;
    void finish(uint64_t now);
};

// Depth of the UART's receiver: the peer waits while it is full, so no byte is lost there.
constexpr size_t kUartReceiverDepth = 8;

// Pixel-clock measurement and the line-lock PLL's lock (simgrab_clock.cpp).
struct PixelClockModel {
    GrabPllLock mode = GrabPllLock::Immediate;
    uint32_t testsToLock = 0;        // AfterTests: measurements that still see no lock
    uint32_t testsSinceChange = 0;   // measurements since the lock was last dropped
    bool locked = true;
    bool lostLatch[2] = {};          // DIG_PLLCTL bits 9 and 11
    uint32_t khz = 13500;            // the camera's pixel clock
    std::map<uint16_t, uint32_t> khzByDivider;   // by ICS1522 register 0
    uint16_t divider = 0;            // ICS1522 register 0 as loaded
    // the measurement in progress or last ended
    bool active = false;
    uint64_t start = 0, end = 0;
    uint32_t result = 0;
    uint32_t measurements = 0;
    uint32_t lastKhz = 0;
    uint16_t latched = 0;            // the count a low-lane read took, for its high lane

    void dropLock();
    void begin(uint64_t now, uint16_t exposureTicks);
    bool busy(uint64_t now) const { return active && now < end; }
    uint16_t count(uint64_t now);
};
// One tick of timer 1's exposure count in the clock test: the measuring window is
// DIG_EXP1S ticks long.
constexpr uint64_t kClockTestTickNanos = 100;

// One LUT behind its FIFO port (simgrab_lut.cpp).
struct LutEntryWrite {
    uint32_t address = 0;
    uint8_t bytes[3] = {};
    uint64_t due = 0;
};

struct LutPortModel {
    uint32_t first = 0;              // register number of the port's address-low register
    std::vector<uint8_t> band[3];
    uint32_t address = 0;            // entry the next data-port access reaches
    int next = 0;                    // band the next data-port access reaches
    bool reading = false;            // read control written since the last FIFO control
    uint8_t assembling[3] = {};
    std::deque<LutEntryWrite> fifo;
    bool neverDrains = false;
    uint32_t written = 0;            // entries that reached the memory
    uint32_t strays = 0;             // data-port accesses past the last entry
    uint32_t overruns = 0;           // entries lost to a full FIFO

    LutPortModel();
    void settle(uint64_t now);
    bool holdsData(uint64_t now);
};
constexpr uint64_t kLutDrainNanos = 4000;   // one entry leaves the FIFO every 4 us
constexpr size_t kLutFifoDepth = 512;

// The Sorvik II module's one LUT of four bands and its port (simgrab_lut.cpp).
struct SorvikLutModel {
    std::vector<uint8_t> band[4];
    uint32_t offset = 0;             // entry within the current page
    bool bandOpened = false;         // register 59 written, no entry passed yet
    int repeatsLeft = 0;             // -1: every band
    uint32_t repeatsRaised = 0;

    SorvikLutModel();
};

class GrabModuleChip : public FpgaPortChip {
public:
    explicit GrabModuleChip(Board* board);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

    // A standard module (types 1, 2, 34) is fitted; any other type leaves the window memory.
    bool fitted() const { return fitted_; }
    uint8_t idByte() const;
    uint16_t reg(uint32_t n) const { return n < grabregs::kRegisterCount ? regs_[n] : 0; }
    uint16_t readBack(uint32_t n);           // what a read of the register answers now
    uint64_t now() const;

    // Write log: every lane write, per register.
    std::vector<GrabWrite> log[grabregs::kRegisterCount];
    uint32_t logged = 0;
    uint32_t dropped = 0;

    Dac8800Model dac1, dac2;
    Ics1522Model ics;
    Ds1020Model ds1020;
    Icd2061Model icd;
    Bt261Model bt261;
    DimModel dim;
    EepromModel eeprom;
    UartModel uart;
    bool uartWritten = false;        // the UART's select line idles high until first written
    uint8_t userInputs = 0;
    bool userInputsDriven = false;
    uint16_t counter[2] = {};
    bool timerOutput[2] = {};
    PixelClockModel pclk;
    uint16_t moduleStatus = 0x0100;    // register 70 bits 14 and 8-10
    LutPortModel lut[2];
    SorvikLutModel sorvik;
    bool sorvikPort() const;           // module types 2 and 34
    LutPortModel* lutPort(int memory); // 1 or 2; null otherwise
    uint16_t pllStatus() const;        // DIG_PLLCTL bits 8-11

private:
    void registerWritten(uint32_t n, bool high, uint8_t byte);
    void clockRegisterWritten(uint32_t n, const LineChange& c);
    void lutRegisterWritten(uint32_t n, bool high, uint8_t byte);
    uint8_t lutDataRead(uint32_t n, bool high);
    void sorvikEntryPassed();
    bool lutOpen() const;

    Board* board_;
    bool fitted_;
    uint16_t regs_[grabregs::kRegisterCount] = {};
};

// Output frequency of an ICD2061A clock register from its word and the control word.
GrabClock DecodeIcdClock(uint32_t word, uint32_t reg, uint32_t control);

// The fitted standard module of a board, or null (for the GrabView calls; the caller holds
// the machine lock).
GrabModuleChip* FittedGrab(SimState& s, int board);

} // namespace boardsim
