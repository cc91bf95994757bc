// The second-family grab module behind the primary Orlo's 2 KB port window (module types
// 3-6): 16-bit registers at their offsets r below 0x400 (low byte at port offset 2r, high
// byte at 2r + 8, the low 8 bits of each access counting), the module id byte at word 0
// while the Orlo's port option is off, and the chips that hang on its registers, each
// decoding the line protocol the library drives:
//   FAF_DEVPROG of channel c   a two-wire video decoder (device 0xD8 / 0xD9, 128 registers)
//                              and the channel's ICS1522; on channel 0 also the 8-channel
//                              serial DAC (3 address and 8 data bits MSB first, taken on
//                              the load pulse);
//   0x300 / 0x320 + 0x40 c     the channel's timing chip through its index and data ports
//                              (a byte index, auto-incremented by each data access);
//   BTC_EEPPRG                 the 1024 x 16 three-wire EEPROM;
//   ISF_LUTEN/LUTIDX/LUTDATA   six 256-entry input LUTs.
//   FAF_GRBCTL0 / FAF_TSTSTS   the buffer controller's grab path (KvxGrabChannel): a start
//                              (bit 3, a command cleared as it is taken, or bit 1)
//                              digitises the pattern block by block into the line buffer
//                              as the BTC_* registers plan it, holds each block for the
//                              board's Orlos (simkvxxfer.cpp) and toggles the channel's word
//                              of the status line in board memory at each frame's end.
// Every other register only stores what was written.  Guarded by SimState::mutex like the
// rest of the machine.
#pragma once

#include "simcore.h"
#include "simmodchips.h"
#include "regmap/kvx_regs.h"

#include <array>
#include <deque>
#include <cstdint>
#include <utility>
#include <vector>

namespace boardsim {

// The two-wire decoder: a start (data falling while the clock is high) opens a transfer,
// bits are taken on rising clocks MSB first with a ninth (acknowledge) clock per byte, a
// stop (data rising while the clock is high) ends it.  0xD8 writes the sub-address and then
// registers from it on; 0xD9 sends registers from the sub-address, each bit presented until
// the clock falls after the master sampled it.
struct KvxDecoderModel {
    enum class Phase : uint8_t { Idle, Address, Write, Read, Ignore };
    std::array<uint8_t, kvxregs::kDecoderRegisters> reg{};
    Phase phase = Phase::Idle;
    uint32_t shift = 0;
    int bits = 0;             // bits of the byte in progress; 8: the acknowledge clock is next
    bool subSet = false;
    uint8_t sub = 0;
    int readBit = 0;          // bit of the byte being sent (0 = MSB)
    bool readRisen = false;   // a clock rose since the bit was presented
    bool scl = false;
    bool sda = true;
    std::vector<std::pair<uint8_t, uint8_t>> writes;   // {register, value}
    uint32_t reads = 0;       // bytes sent

    bool drives() const;      // the decoder drives the data line (a bit of a read)
    // The data line's level as the decoder leaves it: the bit it drives, else low (the
    // module's pull-down holds an undriven line at 0).
    bool out() const;
    void lines(bool newScl, bool newSda);
    void byteDone(uint8_t byte);
};

// ICS1522 on a channel's lines: a strobe fall opens a frame; on rising clocks a 0 bit, then
// the register number (3 bits) and the value (11 bits), both LSB first; the strobe's rise
// loads it.
struct KvxPllModel {
    std::array<uint16_t, 7> value{};
    std::vector<uint32_t> bits;
    bool open = false;
    std::vector<std::pair<int, uint16_t>> loads;
    void lines(const LineChange& c);
};

// A timing chip behind its index/data ports.
struct KvxTimingModel {
    std::array<uint8_t, kvxregs::kTimingBytes> bytes{};
    uint32_t index = 0;
    std::vector<std::pair<uint32_t, uint8_t>> written;   // {byte index, byte}
};

// The buffer controller of one channel while it digitises: the block plan it took from its
// BTC_* registers at the start, the frame and block in progress, and the line buffer that
// holds the last block digitised (the channel's samples through its first input LUT).
struct KvxGrabChannel {
    bool active = false;          // FAF_TSTSTS bit 6
    bool continuous = false;      // started with FAF_GRBCTL0 bit 1
    uint32_t lineBytes = 0;       // (BTC_GWRPT + 2) x 4
    uint32_t blockLines = 0;      // BTC_GLINE + 1
    uint32_t blocks = 0;          // (BTC_DFULL & 0x1FF) + 1
    bool interlaced = false;      // BTC_DFULL bit 9
    uint32_t statusAddress = 0;   // bus address of the status line (the Orlo's idle start - 2)
    int statusFeed = 0;           // the Orlo whose memory holds it: 0 primary, 1 display
    uint64_t frame = 0;           // pattern frame being digitised
    uint32_t block = 0;           // next block of the frame
    // Frames ended since power-up through each Orlo (0 primary, 1 display): the status line
    // an Orlo takes reports bit 0 of its own count, so each Orlo's frame toggle follows the
    // grabs that Orlo served.
    uint32_t fields[2] = {0, 0};
    uint64_t frames = 0, blocksDone = 0;
    uint64_t event = 0;           // the scheduled next block, 0 none
    std::vector<uint8_t> lines;   // blockLines x lineBytes
    std::vector<uint16_t> samples;   // the frame's samples, taken at its first block
};

// A block the buffer controller holds for the Orlo: digitised, not yet taken.
struct KvxHeldBlock {
    uint32_t channel = 0;
    uint32_t block = 0;           // its place in the frame: the entry of the channel's grab map
    uint32_t lines = 0;           // BTC_GLINE + 1
    uint32_t lineBytes = 0;
    bool interlaced = false;
    bool last = false;            // the frame's last block
    std::vector<uint8_t> data;    // lines x lineBytes
};

// The Orlo's idle grab set, which takes the module's status line rather than a block.
constexpr uint32_t kIdleLinePitch = 0x100;
constexpr uint32_t kIdlePlaneOffset = 0x108;
// Blocks the buffer controller holds before it drops the oldest.
constexpr size_t kKvxHeldBlocks = 64;

class KvxModuleChip : public FpgaPortChip {
public:
    explicit KvxModuleChip(Board* board);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

    uint8_t idByte() const;
    uint16_t reg(uint32_t r) const { return r < kvxregs::kRegisterSpace ? regs_[r / 8] : 0; }
    void preset(uint32_t r, uint16_t value) { if (r < kvxregs::kRegisterSpace) regs_[r / 8] = value; }
    uint64_t now() const;

    // Write log: every lane write, per register.
    std::vector<GrabWrite> log[kvxregs::kRegisterSpace / 8];
    uint32_t logged = 0;

    KvxDecoderModel decoder[kvxregs::kChannels];
    KvxPllModel pll[kvxregs::kChannels];
    KvxTimingModel timing[kvxregs::kChannels];
    Dac8800Model dac;
    EepromModel eeprom;
    std::array<std::array<uint8_t, kvxregs::kLutEntries>, kvxregs::kLutCount> lut{};
    uint32_t lutIndex = 0;
    KvxGrabChannel grab[kvxregs::kChannels];
    uint64_t frameNanos = 33333333;   // one frame of the channel's camera

    // The module as the video source of the board's Orlos, the primary and the display one
    // alike (simkvxxfer.cpp).  A write of an Orlo's grab control that releases its stop bit
    // (bit 0 from 1 to 0, bit 1 or 2 set) arms one transfer of that Orlo; it starts, in an
    // event, once the module holds a block: with the Orlo on its idle grab set the module
    // sends its status line (the dispatch words of the block it holds), else it sends that
    // block through the Orlo's registers as they stand, into that Orlo's board memory.
    // Either sets the Orlo's interrupt bits 12 and 13.  A block goes to the first Orlo whose
    // transfer takes it: the library runs the lists of one Orlo per grab.  The list
    // engines' waits take the module's word for it: with bit 23 of the Orlo control word
    // set a wait lasts until the module holds a block, else until interrupt bit 12.
    void orloGrabControl(OrloChip* orlo, uint32_t before);
    bool holdsBlock() const { return !held_.empty(); }
    uint64_t blocksTaken = 0, statusLines = 0, blocksDropped = 0, transferStrays = 0;

private:
    // What the module keeps for each Orlo it feeds: 0 the primary, 1 the display Orlo.
    struct OrloFeed {
        bool armed = false;
        uint64_t event = 0;         // the scheduled transfer, 0 none
        uint32_t statusBlock = 0;   // where this Orlo's status line went last (bus address)
    };
    OrloChip* orloOf(int feed) const;
    int feedOf(const OrloChip* orlo) const;
    bool onIdleSet(int feed) const;
    void scheduleTransfer(int feed);
    void scheduleTransfers();
    void transfer(int feed);
    void sendStatusLine(int feed, uint32_t status);
    void sendBlock(int feed, const KvxHeldBlock& b);
    void writeStatusWord(int feed, uint32_t offset, uint16_t value);
    uint8_t* memoryAt(int feed, uint32_t address, uint32_t bytes);
    void frameReportTaken();
    uint16_t frameDispatch() const;

    void grabControlWritten(uint32_t channel);
    void grabCommand(uint32_t channel);
    void startGrab(uint32_t channel);
    void stopGrab(uint32_t channel);
    void dropHeld(uint32_t channel);
    void scheduleBlock(uint32_t channel, uint64_t at);
    void digitiseBlock(uint32_t channel);
    void writeStatus(uint32_t channel);
    void registerWritten(uint32_t r, bool high, uint8_t byte);
    void devProgWritten(uint32_t channel, const LineChange& c);
    uint16_t readBack(uint32_t r);
    bool sdaLine(uint32_t channel, uint16_t value) const;
    int channelOfPort(uint32_t r) const;

    Board* board_;
    uint16_t regs_[kvxregs::kRegisterSpace / 8] = {};
    std::deque<KvxHeldBlock> held_;
    OrloFeed feeds_[2];
    int lastFeed_ = 0;            // the Orlo that took the last transfer
    int reportChannel_ = -1;      // a frame end the lists have not taken yet
};

// The fitted second-family module of a board, or null (the caller holds the machine lock).
KvxModuleChip* FittedKvx(SimState& s, int board);

} // namespace boardsim
