// Simulated board family behind the board driver and the kernel service.
//
// A test chooses the machine with BoardSim::instance().configure(topology): how many
// boards, which functions each carries, whether the firmware configured the board's PCI
// bridge.  The simulation then answers the driver devices ("\\.\HALCYRA" for the board
// list, "\\.\HALCYRA" plus the board suffix per board) and the kernel service
// ("\\.\QVLSERVICE0"), keeps a PCI configuration space, backs the mapped windows with
// register models and memory, and offers the inspection and fault-injection hooks below.
// Each configure() destroys the machine and builds a new one from the topology, so no
// state of one test reaches the next.  The machine runs on its own clock (simclock.h):
// free-running by default, virtual for tests that need events at exact times.  The
// default topology is one board.
#pragma once

#include "hlc_arch.h"
#include "framegen.h"
#include "regmap/display_regs.h"
#include "regmap/orlo_regs.h"
#include "regmap/pci_ids.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// PCI identifiers of the simulated machine: the board's from regmap/pci_ids.h, the host's
// own here.
constexpr uint16_t kMakerVendor = kPciMakerVendor;
constexpr uint16_t kBridgeDeviceId = kPciBoardBridge;
constexpr uint16_t kPrimaryOrloDeviceId = kPciPrimaryOrlo;
constexpr uint16_t kDisplayOrloDeviceId = kPciDisplayOrlo;
constexpr uint16_t kChipVendor = kPciChipVendor;
constexpr uint16_t kChipDeviceId = kPciChipDevice;
constexpr uint16_t kChipFunction1DeviceId = kPciChipFunction1Device;   // on bus 0
constexpr uint16_t kHostVendor = 0x1AE0;
constexpr uint16_t kHostBridgeDeviceId = 0x0600;
constexpr uint16_t kSystemDeviceId = 0x0200;        // a firmware-configured device on bus 0

// Window sizes and region offsets: regmap/orlo_regs.h and regmap/display_regs.h.
constexpr uint32_t kChipFrameBarSize = 0x400000;

// How the board processor answers the start-up handshake.
enum class CpuStartup : uint8_t {
    Normal,
    NoReply,       // the mailbox stays 0
    BadStartup,    // it stays at 0xCAFEFADE
    NoInterrupt,   // the second start leaves 0xDEADBEEF
};

// One board of the machine.
struct BoardSpec {
    bool primaryOrlo = true;
    bool displayOrlo = false;
    bool displayChip = false;      // display chip (needs the display Orlo)
    // Expansion ROM of the display chip's function 1 (simrom.cpp): signature 0xAA55, the
    // offset of the board information record in the word at 0x7FFC, and the 64-byte
    // record: size 64, serial "SIM" and the board index, date, revision, PCB id, options
    // and a nonzero check word.  romPcbId 0: no ROM signature.
    uint16_t romPcbId = 0x4701;
    uint8_t romOptions = 0;
    bool processor = false;        // the board carries its own processor (status bit 6)
    bool bridgeDecode = true;      // firmware numbered the bridge and assigned the addresses
    bool boardCache = false;       // the primary Orlo has a board cache to flush
    bool heldByOtherProcess = false; // attach answers that another process holds the node
    uint8_t slot = 0;              // 0: 1 + board index
    uint8_t slotDevice = 0xFF;     // device number of the board on bus 0; 0xFF: 0x0D + index
    uint8_t bridgeFunction = 0;    // function of the board's bridge at that device
    uint8_t moduleType = 1;        // grab-module type byte of the board record
    uint8_t family = 0;            // family byte of the board record
    // Second-family module (moduleType 3-6, simkvx.h): the id byte type 4 answers, 32 or
    // 253 (0: 32).  Type 3 answers no id byte, so the library finds no module; a test gives
    // the node type 3 by setting its module type word after the open.
    uint8_t kvxIdByte = 0;
    uint32_t primaryMemory = 0x400000;
    uint32_t displayMemory = 0x200000;
    int32_t flushLatency = 2;      // reads that still see a cache flush running; < 0: never ends
    // Board processor (simcpu.cpp): reset when the reset bit of the memory control word
    // rises and held while it is set; the end of a pulse steps its reset states (4 to 10)
    // on the machine's bus time; started by the start bit of the interrupt set register.
    // After a start it boots from the reset vector (the top 8 bytes of the primary
    // memory; all zero: no boot): the mailbox reads 0 for cpuBootReads reads, then
    // 0xCAFEFADE for two reads, then 0xDEADBEEF; a second start answers 0xFEEDDEAD and
    // signals driver semaphore 33.  Register names: regmap/orlo_regs.h.
    CpuStartup cpuStartup = CpuStartup::Normal;
    uint32_t cpuBootReads = 2;
    bool emulatorActive = false;   // bit 4 of the control word reads 0
    // Grab-module FPGA (simcpu.cpp): bit 30 of the control word is the program pulse,
    // bit 5 the done bit; the data port is word 0 of the Orlo's 2 KB window.
    uint32_t fpgaBytes = 64;       // data bytes a configuration takes (the 64 of examples/hlcgrab1.res); 0: never configures
    bool fpgaConfigured = false;   // done bit set at power-up
    bool fpgaDoneStuck = false;    // the done bit stays set through the program pulse
    // VM engine of each Orlo (simorlo.cpp): a send sets the send-busy status bit, clears
    // it after a short machine time and raises the command-done source.  vmSilent: the
    // engine never answers (the busy bit stays set, no source), for time-out tests.
    // vmClockOption: bit 9 of the option register at power-up, with which the library's VM
    // set-up takes its full path (VM clock, reset pulse, port set-up conversation).
    bool vmSilent = false;
    bool vmClockOption = false;
    // VM port (simvmport.cpp): boards with the same non-zero vmRing are joined by their
    // VM ports, which move 4 bytes a clock of vmPortMHz (the ini file's VmBusSpeed).
    uint8_t vmRing = 0;
    uint32_t vmPortMHz = 33;
};

struct ServiceSpec {
    bool present = true;
    uint32_t revision = 3;
    uint32_t guid = 0x5EC7D00Du;
    std::vector<uint32_t> dmaRegions{0x400000}; // reserved DMA regions (bytes each)
    uint32_t firstPhysical = 0x07F80000u;       // physical address of the first region
    uint32_t biosMechanism = 1;                 // bit 0: 32 devices per bus
    uint32_t biosLevel = 0x0210;
    uint32_t driverVersionMs = 0x00030002u;
    uint32_t driverVersionLs = 0x00000007u;
};

struct HostSpec {
    uint16_t vendor = kHostVendor;
    uint16_t device = kHostBridgeDeviceId;
    uint8_t revision = 3;
    uint8_t slotDevice = 0;        // device number of the host bridge on bus 0
    bool multiFunction = false;    // header type bit 7 of the host bridge
    bool systemDevice = true;      // the bus-0 device with firmware-assigned addresses
};

// How the machine's clock runs (simclock.h).  Either way the board's state follows the
// machine's time, which every access and request moves on by its bus time.  FreeRunning:
// the machine's time also flows at least as fast as real time, and the library's clock
// and sleeps follow real time, for the example program and benchmarks.  Virtual: time moves
// only as the library and the test spend it, so a test's events happen at the same
// virtual times, in the same order, on every run; a library sleep of seconds ends at once.
enum class ClockMode : uint8_t { FreeRunning, Virtual };

// One event as the machine's clock ran it.
struct FiredEvent {
    double seconds = 0;
    std::string name;
    bool operator==(const FiredEvent& o) const { return seconds == o.seconds && name == o.name; }
};

struct Topology {
    std::vector<BoardSpec> boards = std::vector<BoardSpec>(1);
    ClockMode clock = ClockMode::FreeRunning;
    std::shared_ptr<FrameGenerator> frames;   // null: the test pattern
    ServiceSpec service;
    HostSpec host;
    bool driverPresent = true;
};

// Where an access landed.
enum class HwArea : uint8_t {
    PrimaryRegs, PrimaryMemory, PrimaryPort, PrimaryShadow,
    DisplayRegs, DisplayMemory, DisplayPort, DisplayShadow,
    ChipRegs, ChipFrame, Stray
};
enum class HwOp : uint8_t { Read, Write };

struct HwAccess {
    HwOp op = HwOp::Read;
    uint8_t width = 4;          // bytes
    uint8_t board = 0;
    HwArea area = HwArea::Stray;
    uint32_t offset = 0;        // byte offset in the area (the address itself for Stray)
    uint32_t value = 0;
    bool viaDriver = false;     // reached through a driver request instead of a window

    bool operator==(const HwAccess& o) const;
    std::string toString() const;
};
HwAccess Read(HwArea area, uint32_t offset, uint32_t value, uint8_t width = 4, uint8_t board = 0);
HwAccess Write(HwArea area, uint32_t offset, uint32_t value, uint8_t width = 4, uint8_t board = 0);

// One request as a device received it.
struct RequestRecord {
    std::string device;
    uint32_t code = 0;
    std::vector<uint8_t> input;
    uint32_t outSize = 0;
};

struct DmaBufferInfo {
    uint32_t id = 0;
    uint32_t physical = 0;
    uint32_t size = 0;
    uint32_t owner = 0;
    uint32_t pid = 0;
    bool created = false;       // an id over existing region memory, not an allocation
};

// Display chip registers behind index/data pairs, for inspection and preset.
enum class VgaGroup : uint8_t { Sequencer, Crtc, Graphics, Attribute, CrtcExt, Misc, Feature };
// The DAC's clock PLLs; sub-address 0 N, 1 M, 2 P, 3 status.
enum class DacPll : uint8_t { Pixel, Memory, Loop };

// The desktop's display driver as the dual-head tests see it.  Without the private
// escapes it answers neither; with them, escape 0x51564C7F reports columns x rows and
// escape 0x51564CF0 reports screen i's memory base (the last word of 60 bytes) for
// every i below screenBases.size().
struct DisplayDriverSpec {
    bool privateEscapes = false;
    uint32_t columns = 1;
    uint32_t rows = 1;
    std::vector<uint32_t> screenBases;
};

// Input and output bytes the simulated driver accepts for a request code; false for a
// code it does not know.
bool DriverRequestSizes(uint32_t code, uint32_t* inSize, uint32_t* outSize);

// Functions of a board, for inspection.
enum class BoardFunction : uint8_t { Bridge, PrimaryOrlo, DisplayOrlo, Chip, ChipFunction1 };

// Per-chip views of one board of the current machine.  A view holds only the board's
// index: every call reaches the machine that is current at that moment, under its lock,
// so a view taken before a configure() reads the new machine afterwards.  Unknown
// boards and absent chips read as the comment of each call says and ignore writes.
class OrloView {
public:
    OrloView(int board, bool display) : board(board), display(display) {}
    uint32_t reg(uint32_t offset) const;              // 32-bit word, no side effects; ~0u: no Orlo
    void setReg(uint32_t offset, uint32_t value) const;
    bool readMemory(uint32_t offset, void* destination, uint32_t bytes) const; // board memory
    const int board;
    const bool display;
};

// The grab engine of an Orlo (simgrabengine.cpp): the grab registers 0x1800-0x1850 and
// 0x2808-0x2860, the grab status 0x2018 and the grab control 0x1830 (names and bits in
// regmap/orlo_regs.h).
//
// The camera runs free: with a frame period T > 0 camera frame n begins at n x T of the
// machine's clock; with T = 0 every grab begins at once and frames are numbered in the
// order the engine takes them.  An armed grab (bit 2 written, or bit 1 held) takes the
// next frame that begins, after a trigger() when grab control bit 6 or 7 is set.  It
// latches the registers at the frame's start: the start event sets interrupt bit 12 and
// raises source 44 (76 on the display Orlo); line L of the raster is written at (L + 1) /
// (lines + 1) of the frame, and the line interrupt (source 43 / 75) comes when line GLNINT is
// written while grab control bits 20-21 are set (a new GLNINT written during the frame
// sets up the next one); the end event sets interrupt bit 13 and raises source 45 (77).
// Arming from idle clears interrupt bits 12 and 13.  With grab control bit 14 (a frame of
// two fields) the even lines are written first, then the odd ones; the count mode (bits
// 10-12) is kept as written and every code grabs whole frames.  Every event runs on the
// machine's clock, never inside a register write.
//
// Pixels: the raster is (GHTOTAL + 2) x (GVTOTAL + 1) samples of the machine's frame
// generator (FrameGenerator::renderSamples, per channel, at sampleBits() bits); the
// window [GHWSTART, GHWSTOP] x [GVWSTART, GVWSTOP] is taken every (GHSCLNG & 15) + 1
// pixels and (GVSCLNG & 15) + 1 lines, each repeated by its zoom.  Each sample of channel
// c passes the grab module's input LUT: in LUT mode m (DIG_LUTPAL bits 13-14) 1-3, byte
// band (c & 1) of LUT 1 (c < 2) or LUT 2 at entry (28 + m) x 256 + the sample's top 8 bits;
// in mode 0 the three bands of the entry palette x 256 + sample (palette: DIG_LUTPAL bits
// 0-4 for LUT 1, bits 8-12 for LUT 2), band 0 the low byte.  GPIXFMT gives B bytes per
// pixel, n samples from the channels of its channel nibble: one sample fills the pixel
// with its low B bytes; n <= B samples share it, B / n bytes each; n > B samples go to
// planes k = 0..n-1 at GFSTART + GCkFOFF.  In blue mode (mode 0 with DIG_GPCTL bit 5) only
// the nibble's first channel is digitized; it, like a nibble of one channel with n > 1,
// gives byte k of its LUT entry to sample k.  A one-byte sample of a two-byte entry takes
// bits 2-9, 4-11 or 6-13 by GPIXFMT bits 11-12.  Grab control bit 15 reverses 3-byte
// samples.  Destination line j is at GFSTART + j x GLPITCH; each byte keeps the bits the
// write mask (GDWRTMSK, 8 bits per byte 0-2) clears; with GTAGCTL bit 26 a pixel is written
// only where its bit (LSB first) in the tag plane at GTAGCTL's address (+ GCkTOFF with
// bit 28) + j x GTLPITCH is set.  Addresses are the low 26 bits of a PCI address of the
// Orlo's board memory, which ends at 0x4000000 (the display Orlo's at 0x600000); bytes
// outside it are dropped and counted.  Without a standard grab module the samples pass
// unchanged; a Sorvik II module's one LUT gives band c of the entry page x 256 + sample
// (page 28 + m, or the LUT 1 palette in mode 0).
//
// Faults: a lost grab writes nothing, marks 0xDEAD in the low 26 bits of 0x28C0 and ends
// as usual; an overrun writes the frame and sets status bit 0 (or 3) at its end.
// Settings, faults and counts belong to the machine: configure() starts them afresh.
class GrabEngineView {
public:
    GrabEngineView(int board, bool display) : board(board), display(display) {}
    void setFramePeriod(double seconds) const;        // default 1/30 s; 0: as fast as possible
    double framePeriod() const;
    // How long a frame lasts from its start event to its end event: the period, or with
    // period 0 1 us on the virtual clock and 250 us on the free-running clock.
    double frameSeconds() const;
    // Time of the machine's clock from the start event to the end event of the last frame
    // that ended: on the free-running clock it holds the engine's own work on the frame.
    double lastFrameSeconds() const;
    void setSampleBits(uint32_t bits) const;          // 8 (default) or 10
    uint32_t sampleBits() const;
    void trigger() const;                             // one trigger pulse for a triggered grab
    void loseGrabs(uint32_t count) const;             // the next count frames are lost
    // The next count frames end with an overrun: status bit 0, or bit 3 when late.
    void overrunGrabs(uint32_t count, bool late = false) const;
    uint64_t framesStarted() const;
    uint64_t framesWritten() const;                   // ended with their pixels written
    uint64_t framesLost() const;
    uint64_t framesAborted() const;                   // dropped by a stop in flight
    uint64_t lineInterrupts() const;
    int64_t lastFrame() const;                        // camera frame number last begun; -1 none
    bool inFlight() const;
    bool armed() const;
    uint64_t strayBytes() const;                      // pixel bytes outside board memory
    // The sample of channel c at raster (x, y) of camera frame n, at sampleBits() bits,
    // and a whole width x height block of them (row after row).
    uint32_t pattern(uint32_t x, uint32_t y, uint64_t frame, uint32_t channel) const;
    std::vector<uint16_t> patternBlock(uint64_t frame, uint32_t channel, uint32_t width, uint32_t height) const;
    const int board;
    const bool display;
};

// The bus-master transfer engine of an Orlo and its register-list engine (simvmxfer.cpp).
//
// A write of the timing control 0x3820 with transfer kind 4 (board memory to the bus) or 5
// (the bus to board memory) in bits 8-11, bit 0 clear and bit 1 or 2 set starts a transfer;
// a write with bit 0 set stops a running one and its list.  The transfer latches at its
// start: lines 0x3830-0x3838 (low 16 bits, inclusive), line length 0x3810 + 1 units of
// (0x3818 bits 0-2) + 1 bytes (at most 4), the board address 0x28D0 (low 26 bits of a PCI
// address of the Orlo's board memory) with the 26-bit signed pitch 0x28D8, and the host
// physical address 0x2888 (27 bits) with bits 27-31 from 0x2898 bits 1-5, taken down to a
// 32-bit word, with the pitch 0x2890.  Kind 4 writes a line's bytes to the host except
// those of the first 16 whose bit is set in 0x3808; kind 5 reads the line from the host
// and leaves out the first 0x3808 units.  Bit 14 of 0x3820 takes the board's pixels from
// the last one of the line backwards.  Host addresses are resolved through the kernel
// service's memory (DMA regions and listed pages); the bytes move at the end of the
// transfer, 2 us plus the bytes at 132 MB/s of the machine's clock after its start.
// At its end, when 0x2068 bits 0-1 are 3, the list engine plays entries {value, register
// offset} from the bus address 0x2060 on: each writes its register (a write of 0x3820
// may start the next transfer); {3, 0x2068} waits for the running transfer's end and
// then goes on; {0, 0x2068} ends the list.  When a transfer ends with no list armed or
// running, 0x2068 reads 0 and the Orlo raises source 48 (80 on the display Orlo).
// Faults: a transfer that never ends (until a reset pulse, or until the fault is cleared:
// it then ends its bus time later), host pages whose bytes are dropped.  Settings and counts belong to the machine.
class VmTransferView {
public:
    VmTransferView(int board, bool display) : board(board), display(display) {}
    void setNeverEnds(bool on) const;
    void setBadPage(uint32_t physical, bool bad = true) const;
    uint64_t transfers() const;        // ended
    uint64_t bytesMoved() const;
    uint64_t droppedBytes() const;     // to or from a bad or unknown host page
    uint64_t strayBytes() const;       // outside board memory, or list entries not reached
    uint64_t listEntries() const;      // played
    bool busy() const;                 // a transfer runs (or hangs)
    // VM port (simvmport.cpp): the engine is armed as a receiver; transfers sent and
    // received over the port, and their bytes.
    bool receiverArmed() const;
    uint64_t portSends() const;
    uint64_t portReceives() const;
    uint64_t portBytes() const;
    const int board;
    const bool display;
};

// The grab-list engine of an Orlo (simgrablist.cpp): register lists that steer the grab
// engine block by block, for grabs into host memory through a temporary buffer.
//
// A write of the list control 0x2010 with bit 0 set starts the list at the bus address in
// 0x2008 (a PCI address of the Orlo's own board memory, or host physical memory through
// the kernel service's map; the VM list engine reads its lists the same way); a write
// with bit 0 clear stops it (and, without a second-family module, drops the frame it was
// placing or had armed: the grab engine writes no more of it and raises no event).
// 0x2010 reads 0 while the engine is idle, and 0x2008 holds the address of the next
// entry.  On a board with a second-family module, an address written into 0x2008 while
// the engine runs is taken at the engine's next start.  The engine plays entries {32-bit value, 32-bit target} on the machine's clock,
// never inside a register write.  The target is an Orlo register
// offset, or the command form 0x02000000 | offset (offsets 0x80000-0x807FF reach the
// port window), or the library's own mapped address of a register; each entry writes its
// register as a write of the library would.  The list's own registers steer the run:
//   {v, 255}          ends the list (any v: the list set);
//   {0, 0x2010}       ends the list too (the terminator of the second family's lists);
//   {3, 0x2010}       between steps: waits until the grab engine has written the last
//                     line (0x1850) of the window of the frame in flight (or of the frame
//                     armed; of the next frame when this one has passed it);
//   {a, 0x2008}       goes on at address a;
//   {3, 0x2068}       hands the list at 0x2060 to the VM list engine: it plays at once
//                     when no transfer or VM list runs, else when the running VM list
//                     has ended (one list waits; a later one replaces it).
// A list address where nothing answers is a stray access (strayAccesses()) and stops the
// list; a target that is no register of the Orlo is a stray access and is skipped.
//
// A frame that begins while the list runs is grabbed block by block: its lines pass at
// the frame's pace and each is placed by the window and frame registers as they stand
// when it is written (line y of the window at 0x2848 + (y - 0x1848) x 0x2850, taps 1-3 at
// the channel offsets), so the list moves the window from block to block while the frame
// goes on.  Lines the list has not placed yet wait for it: a list that falls behind the
// machine's clock (the free-running clock under a slow host) still places every block, and
// the frame ends when the list arms the next one or stops.  A window's end also waits while
// a VM list handed over by the grab list has not begun, so no block overwrites a half of
// the temporary buffer before its copy.  In a frame of two fields
// (grab control bit 14) the window counts the lines of
// each field: a window that begins at or before the line that ended the last wait lies
// in the next field.  The end of each window sets interrupt bit 13 and, on the primary
// Orlo, bit 13 of 0x2800 (both cleared when a grab is armed from idle).  The frame raises
// its start source as usual but no end source of its own: a write of bit 13 into the
// interrupt set register 0x2030 (by the list or anyone) raises the end source (45, 77 on
// the display Orlo) as an event.
class GrabListView {
public:
    GrabListView(int board, bool display) : board(board), display(display) {}
    bool running() const;
    bool waiting() const;              // paused between steps
    uint64_t listsStarted() const;
    uint64_t entriesPlayed() const;
    uint64_t waits() const;            // {3, 0x2010} entries played
    uint64_t strays() const;           // list addresses or targets where nothing answered
    const int board;
    const bool display;
};

// The board processor (simcpu.cpp).
class CpuView {
public:
    explicit CpuView(int board) : board(board) {}
    uint32_t starts() const;
    uint32_t resets() const;
    bool running() const;                             // the handshake reached 0xFEEDDEAD
    // The firmware's pattern or blob result `id` takes these bytes as its result block in
    // board memory (simfirmware.h); false for another id or a processor that serves nothing.
    bool placeResult(uint32_t id, const std::vector<uint8_t>& bytes) const;
    const int board;
};

// The grab module's FPGA (simcpu.cpp).
class FpgaView {
public:
    explicit FpgaView(int board) : board(board) {}
    std::vector<uint8_t> data() const;                // bytes received since the last program pulse
    uint32_t pulses() const;
    bool done() const;
    const int board;
};

// The display chip (boards with displayChip; others read 0 and ignore writes).
class ChipView {
public:
    explicit ChipView(int board) : board(board) {}
    uint32_t reg(uint32_t offset) const;              // 32-bit word at a byte offset; ~0u: no chip
    uint8_t vga(VgaGroup group, uint8_t index) const;
    void setVga(VgaGroup group, uint8_t index, uint8_t value) const;
    uint8_t dac(uint8_t index) const;                 // DAC indexed register
    void setDac(uint8_t index, uint8_t value) const;
    uint32_t palette(uint8_t entry) const;            // 0xRRGGBB
    void setPalette(uint8_t entry, uint32_t rgb) const;
    uint32_t cursorColour(uint8_t entry) const;       // entries 0-3
    uint8_t cursorRam(uint32_t address) const;        // 0-1023
    uint8_t pll(DacPll pll, int sub) const;
    void setPllLocks(DacPll pll, bool locks) const;   // false: never reports lock
    const int board;
};

// The standard grab module behind the primary Orlo's port window (simgrab*.cpp), for
// boards whose moduleType is 1, 2 or 34; others read as no module (every call answers
// 0, empty or -1 and ignores settings).

// One lane write of a module register: the lane, the byte and the register's 16-bit value
// after it.  The library writes a register as its low lane, then its high lane.
struct GrabWrite {
    bool high = false;
    uint8_t byte = 0;
    uint16_t value = 0;
    bool operator==(const GrabWrite& o) const { return high == o.high && byte == o.byte && value == o.value; }
};

// One command the EEPROM received whole.  refused: a write, erase, erase-all or write-all
// while writing was not enabled (or while a programming cycle was still running).
enum class EepromOp : uint8_t { Read, Write, Erase, EraseAll, WriteAll, Enable, Disable };
struct EepromCommand {
    EepromOp op = EepromOp::Read;
    uint32_t address = 0;
    uint16_t data = 0;
    bool refused = false;
};

// One 16-bit frame of the camera UART: what the library sent and what the chip answered;
// complete: 16 clocks between chip select low and high (only such frames act).
struct UartFrame {
    uint16_t sent = 0;
    uint16_t answer = 0;
    bool complete = false;
};
// Parity the scripted peer puts on its bytes (answer bit 8): none (0), odd or even count of
// ones over the byte and the parity bit.
enum class UartParity : uint8_t { None, Odd, Even };

// An ICD2061A clock register as loaded: its word's fields and the frequencies they give
// with the prescale factor the control word selects (register 3: always 2).
struct GrabClock {
    bool loaded = false;
    uint32_t word = 0;       // the 21 data bits
    uint32_t p = 0, q = 0, m = 0, index = 0, prescale = 2;
    double vcoHz = 0;
    double outputHz = 0;
};

// How the simulated line-lock PLL locks: at once, after a number of measurements, never,
// or never with a measurement counter that overruns to 65001.
enum class GrabPllLock : uint8_t { Immediate, AfterTests, Never, Overflow };

// The second-family module of a board (module types 3-6, simkvx.h).  Registers by their
// offset r below 0x400; channels 0-3.  Calls on a board without the module read -1, 0 or
// empty and ignore writes.
class KvxView {
public:
    explicit KvxView(int board) : board(board) {}
    bool fitted() const;
    uint8_t idByte() const;                                   // 255: no module
    uint16_t reg(uint32_t r) const;                           // as last written
    void preset(uint32_t r, uint16_t value) const;            // what a read answers from now
    std::vector<GrabWrite> writes(uint32_t r) const;          // every lane write
    std::vector<uint16_t> values(uint32_t r) const;           // the value after each high-lane write
    size_t writeCount() const;                                // lane writes of all registers
    void clearLog() const;                                    // write logs of registers and chips

    int decoder(int channel, uint32_t reg) const;             // -1: bad channel or register
    void setDecoder(int channel, uint32_t reg, uint8_t value) const;
    std::vector<std::pair<uint8_t, uint8_t>> decoderWrites(int channel) const;   // {register, value}
    uint32_t decoderReads(int channel) const;                 // bytes the decoder sent
    int dac(int channel) const;                               // DAC output 0-7; -1 bad channel
    std::vector<std::pair<int, uint8_t>> dacLoads() const;    // {channel, value}
    int pll(int channel, int reg) const;                      // ICS1522 register 0-6; -1 bad
    std::vector<std::pair<int, uint16_t>> pllLoads(int channel) const;   // {register, value}
    // Timing chip: the 16-bit register at an even byte index (FAF_PTOTAL 0, FAF_PSVAL 2 ...).
    int timing(int channel, uint32_t index) const;            // -1: bad channel or index
    void setTiming(int channel, uint32_t index, uint16_t value) const;
    std::vector<std::pair<uint32_t, uint8_t>> timingWrites(int channel) const;   // {byte index, byte}
    int lut(int which, uint32_t entry) const;                 // LUT 0-5, entry 0-255; -1 bad
    int eeprom(uint32_t address) const;                       // -1 outside 0-1023
    void setEeprom(uint32_t address, uint16_t value) const;
    // Grab path of channel 0-3: FAF_TSTSTS bit 6, whole frames and blocks digitised, the
    // line buffer (the last block: BTC_GLINE + 1 lines of (BTC_GWRPT + 2) x 4 bytes), and
    // the frame time the channel's blocks are spread over.  FAF_GRBCTL0 bit 3 (one frame)
    // clears as the module takes it.  The 16-bit word of channel c at 0x128 + 0x20 c of the
    // status block toggles between 0 and 1 (bits 3-14) at the end of each of its frames.
    //
    // The module is the video source of both Orlos of its board: an Orlo's grab control does
    // not run the grab engine of GrabEngineView.  A write of it that releases the stop bit
    // (bit 0 from 1 to 0 with bit 1 or 2 set) arms one transfer of that Orlo, which starts
    // once the module holds a block (a block goes to the first Orlo that takes it): with the Orlo on its idle grab set (GLPITCH 0x100, GC1FOFF 0x108) the module
    // sends its status line to GFSTART - 2: the grab dispatch word at + 520 (BTC_GDUMID -
    // 0x7F00 + 0x8000 c + 8 b for block b of channel c, the low half of the jump entry the
    // library keeps there), the end-of-frame dispatch at + 256 (BTC_DDUMID, or BTC_DDUMID -
    // 0x7F00 + 0x8000 c + 8 c from the transfer of a frame's last block until the lists
    // write 1 to module register 0x228) and the status words; otherwise it sends the block
    // through the registers as they stand (window lines (k << i) + i of block line k, i = 1
    // for a field; pixels of GPIXFMT's bytes; GFSTART + row x GLPITCH, low 26 bits, in the
    // Orlo's own board memory; bytes outside it are counted as strays).  A transfer sets the
    // Orlo's interrupt bits 12 and 13; an abort drops
    // the channel's blocks.  The grab list's waits {3, 0x2010} follow the module: with bit
    // 23 of the Orlo control word 0x2020 set until it holds a block, else until bit 12.
    bool grabActive(int channel) const;
    uint64_t framesDigitised(int channel) const;
    uint64_t blocksDigitised(int channel) const;
    std::vector<uint8_t> lineBuffer(int channel) const;
    void setFrameNanos(uint64_t nanos) const;
    // The module as the Orlo's video source: blocks the Orlo took (each through its window
    // and frame registers), status lines sent, blocks dropped because the Orlo did not take
    // them, bytes that found no memory, and whether a block waits to be taken.
    uint64_t blocksTaken() const;
    uint64_t statusLines() const;
    uint64_t blocksDropped() const;
    uint64_t transferStrays() const;
    bool holdsBlock() const;

private:
    int board;
};

class GrabView {
public:
    explicit GrabView(int board) : board(board) {}
    bool fitted() const;
    uint8_t moduleType() const;
    uint8_t idByte() const;                           // 255: no module
    // Registers: as last written, and as a read answers now (read-backs, no side effects
    // beyond letting the module's clock-driven states move on).
    uint16_t reg(uint32_t n) const;
    uint16_t readBack(uint32_t n) const;
    std::vector<GrabWrite> writes(uint32_t n) const;
    std::vector<uint16_t> values(uint32_t n) const;   // the value after each high-lane write
    void clearLog() const;

    // DAC8800s: which 1 (level DAC, bits 13-15) or 2 (reference DAC, bits 9-11).
    int dac(int which, int channel) const;            // -1: bad which or channel
    std::vector<std::pair<int, uint8_t>> dacLoads(int which) const;   // {channel, value}
    int ics1522(int reg) const;                       // 11-bit value, -1 bad register
    std::vector<std::pair<int, uint16_t>> ics1522Loads() const;
    int ds1020() const;                               // -1: never loaded
    std::vector<uint8_t> ds1020Loads() const;
    std::vector<uint32_t> icdWords() const;           // every word received whole
    GrabClock icdClock(int reg) const;                // clock registers 0-3
    int64_t icdControl() const;                       // 21 bits; -1 never loaded
    uint32_t icdPowerDown() const;
    int bt261(int index) const;                       // -1 bad index
    std::vector<std::pair<uint8_t, uint8_t>> bt261Writes() const;  // {index, value}
    void setDimFitted(bool fitted) const;             // default fitted
    int dim() const;                                  // the latched byte; -1 never latched
    std::vector<uint8_t> dimLoads() const;

    // EEPROM: erased (0xFFFF) at power-up.
    int eeprom(uint32_t address) const;               // -1 outside 0-1023
    void setEeprom(uint32_t address, uint16_t value) const;
    void preloadEeprom(const std::vector<uint16_t>& image, uint32_t first = 0) const;
    void setEepromFitted(bool fitted) const;          // register 70 bit 12; default fitted
    // A programming cycle that never ends: data out stays 0 (busy) and nothing is written;
    // clearing the fault ends the cycle without writing.
    void setEepromNeverReady(bool on) const;
    bool eepromWriteEnabled() const;
    bool eepromBusy() const;
    bool eepromSelected() const;
    uint32_t eepromCycles() const;                    // programming cycles completed
    std::vector<EepromCommand> eepromCommands() const;

    // Camera UART and its peer.  The peer's bytes reach the chip's receiver in order, each
    // at its due time; while the library's ready bit is off a flow-controlled peer holds
    // them.  The library's ready bit is on at power-up.
    void uartQueue(const std::vector<uint8_t>& bytes, double spacingSeconds = 0) const;
    void uartQueueByte(uint8_t byte, bool receiveError = false, bool parityError = false) const;
    size_t uartQueued() const;                        // peer bytes not yet read by the library
    void setUartPeerParity(UartParity parity) const;
    void setUartPeerReady(bool ready) const;          // answer bit 9 set while not ready
    void setUartPeerFlowControl(bool on) const;       // default on
    std::vector<uint8_t> uartSent() const;            // bytes the library sent
    std::vector<uint16_t> uartSentWords() const;      // their data-write words (parity, ready)
    std::vector<UartFrame> uartFrames() const;
    void clearUartFrames() const;
    uint16_t uartConfig() const;
    bool uartHostReady() const;
    bool uartTransmitting() const;

    // Inputs the module reads: user inputs 0 and 1 (DIG_USRREG bits 4 and 5; until set, the
    // register reads back what was written), the position counters of registers 1 and 3,
    // and the timer outputs (bit 15 of DIG_T1CTL / DIG_T2CTL, timer 1 or 2).
    void setUserInputs(bool input0, bool input1) const;
    void setCounters(uint16_t horizontal, uint16_t vertical) const;
    void setTimerOutput(int timer, bool high) const;

    // Pixel clock and line-lock PLL.  A measurement starts when DIG_MISCTL bit 2 rises
    // while DIG_PSGCFG bit 4 (clock test) is set, DIG_T1CTL holds 0x175 and DIG_MISCTL bit
    // 1 arms timer 1: DIG_T1CTL bit 15 then reads set for DIG_EXP1S ticks of 100 ns and
    // register 3 counts up to the measured clock in kHz, where it stays until the next
    // measurement or until the test mode ends.  What it measures is the PLL's output:
    // the camera's pixel clock once locked, half of it while unlocked; 65001 in the
    // overflow mode.  A change of an ICS1522 register's value drops the lock; AfterTests
    // then needs that many measurements before it locks again.  DIG_PLLCTL reads back its
    // lock status: bits 8 and 10 locked now, bits 9 and 11 a loss of lock latched since
    // the last rise of bit 12 or bit 13.  Default: locks immediately, 13500 kHz.
    void setPllLock(GrabPllLock mode, uint32_t tests = 0) const;
    void setPixelClockKhz(uint32_t khz) const;
    // The clock a lock gives while ICS1522 register 0 holds the given divider word (the
    // prelock and the final registers of one camera lock at different clocks); any other
    // word locks at the pixel clock above.
    void setPixelClockForIcsDivider(uint16_t register0, uint32_t khz) const;
    uint32_t pixelClockKhz() const;
    bool pllLocked() const;
    uint32_t clockMeasurements() const;               // measurements started
    uint32_t measuredKhz() const;                     // the count of the last one ended; 0 none

    // Module status of register 70 (bits 14 and 8-10), read with DIG_SRCCFG bits 13 and
    // 14 set; default 0x0100.
    void setModuleStatus(uint16_t bits) const;

    // Input LUTs behind the FIFO ports (registers 64-71 for LUT 1, 72-79 for LUT 2), while
    // DIG_SRCCFG bits 13 and 14 are set.  Each entry carries one byte per band; it reaches
    // the memory when the FIFO drains it (one entry every 4 us of the clock), and the status
    // bit 10 of register 68 (76) reads set while entries wait.  The never-drains fault keeps
    // the status set and the memory unchanged (lut 0: both).  memory: 1 or 2, band 0-2,
    // entry 0-8191; -1 outside.
    int lut(int memory, int band, uint32_t entry) const;
    std::vector<uint8_t> lutBand(int memory, int band) const;   // 8192 entries; empty outside
    void setLut(int memory, int band, uint32_t entry, uint8_t value) const;
    void setLutNeverDrains(bool on, int memory = 0) const;
    uint32_t lutEntriesWritten(int memory) const;      // entries that reached the memory
    uint32_t lutStrays(int memory) const;              // data-port accesses past entry 8191

    // Sorvik II LUT port (registers 56-60, module types 2 and 34): one LUT of 4 bands x
    // 8192 entries; band 0-3.  Type 34 answers the given number of bands with the repeat
    // request (register 60 bit 3) as their first entry passes (-1: every band).
    int sorvikLut(int band, uint32_t entry) const;
    std::vector<uint8_t> sorvikLutBand(int band) const;
    void setSorvikLut(int band, uint32_t entry, uint8_t value) const;
    void setSorvikRepeatRequests(int count) const;
    uint32_t sorvikRepeatRequests() const;             // repeat requests raised
    uint16_t sorvikControl() const;                    // register 47 as last written

    const int board;
};

// The facade of the simulated machine.
//
// Threads: every member may be called from any thread.  Each call holds the machine lock
// (SimState::mutex, recursive) for its whole run, so it sees one machine and never half
// of a configure().  The library's accesses (hwaccess.h) and requests (device.h) take the
// same lock.  The read and write filters run with that lock held, on the thread that made
// the access: a filter may inspect the machine through this facade but must not wait for
// another thread that reaches the board.  configure() is for a test's set-up and
// tear-down, while no library thread still uses the old machine's windows (such accesses
// land as strays on the new machine).
class BoardSim {
public:
    static BoardSim& instance();

    // Rebuilds the machine; open board devices become invalid, pending requests are
    // cancelled, windows are unmapped, DMA buffers and page maps are dropped.
    void configure(const Topology& topology);
    void configure() { configure(Topology{}); }
    Topology topology() const;

    // Board records and device names.
    uint32_t boardSuffix(int board) const;
    std::string boardDeviceName(int board) const;

    // Access trace and fault injection.  The read filter sees the chip's answer in
    // access.value and returns what the library gets; the write filter may change
    // access.value and returns false to drop the write.
    void setTracing(bool on);
    std::vector<HwAccess> trace() const;
    void clearTrace();
    uint32_t strayAccesses() const;
    void setReadFilter(std::function<uint32_t(const HwAccess&)> filter);
    void setWriteFilter(std::function<bool(HwAccess&)> filter);

    // Requests: log, refusal, holding.
    void setRequestLogging(bool on);
    std::vector<RequestRecord> requests() const;
    void clearRequests();
    void failRequests(uint32_t code, int count = -1);   // refuse the next count (-1: all)
    void holdRequests(uint32_t code, bool hold);        // leave them pending
    int releaseHeld();                                  // complete held requests now
    int pendingRequests() const;

    // The machine's clock.  now() is the library's time (virtual, or real when free-running).
    // Under the virtual clock advance() moves the time on and runUntilIdle() runs the
    // scheduled events (at most 100000: a running timer never idles), each on the calling
    // thread, in time order, and returns how many ran; under the free-running clock
    // advance() sleeps (the machine's time flows on by at least as much) and returns once
    // the machine's own thread has run the events due by then.  after() schedules on the
    // machine's time.
    // Events never run inside a register access.  after() schedules an action; an
    // interrupt scheduled with interruptAfter() is raised as raiseInterrupt() does.  A
    // running Orlo timer raises its timer source every period, a doorbell is taken a few
    // microseconds after it was rung, a VM send ends a few microseconds after it began,
    // under either clock (simorlo.cpp).  holders() counts the library threads that hold
    // the free-running machine's time (simclock.h).
    double now() const;
    size_t holders() const;
    void advance(double seconds);
    int runUntilIdle();
    void after(double seconds, const std::string& name, std::function<void()> action);
    void interruptAfter(double seconds, int board, uint32_t source);
    std::vector<FiredEvent> events() const;

    // Frame n of the scene, width x height 8-bit pixels, from the topology's generator.
    std::vector<uint8_t> frame(uint64_t n, uint32_t width, uint32_t height) const;

    // Per-chip views of a board.
    OrloView orlo(int board, bool display = false) const { return OrloView(board, display); }
    CpuView cpu(int board) const { return CpuView(board); }
    FpgaView fpga(int board) const { return FpgaView(board); }
    ChipView chip(int board) const { return ChipView(board); }
    GrabView grab(int board) const { return GrabView(board); }
    KvxView kvx(int board) const { return KvxView(board); }
    GrabEngineView grabEngine(int board, bool display = false) const { return GrabEngineView(board, display); }
    VmTransferView vmTransfer(int board, bool display = false) const { return VmTransferView(board, display); }
    GrabListView grabList(int board, bool display = false) const { return GrabListView(board, display); }

    // Board state.
    std::vector<uint8_t> nodeRecord(int board) const;          // last record handed to the driver
    uint32_t driverSemaphore(int board, uint32_t signal) const;
    void signalDriverSemaphore(int board, uint32_t signal);
    bool nodeInSet(uint32_t node) const;
    bool sourceEnabled(int board, uint32_t source) const;
    void postInterruptWords(int board, const std::vector<uint32_t>& words);
    // Interrupts as the driver delivers them (simirq.cpp): only while the node has an
    // enabled source.  raiseInterrupt posts the word of source 32-95 (group and bit, bits 0-21 only);
    // raiseSpecial posts a special word (bit 31) with a group and a bit set of 22 bits;
    // raiseSource delivers a source as the board's own events do (doorbells, the Orlo
    // timer, the VM engine): its special word, then its plain word.  All return false
    // when nothing was delivered.
    bool raiseInterrupt(int board, uint32_t source);
    bool raiseSpecial(int board, uint32_t group, uint32_t bits);
    bool raiseSource(int board, uint32_t source);
    uint32_t droppedInterrupts(int board) const;
    uint32_t displayKey(int board, int word) const;

    // PCI configuration space as the service reaches it.
    uint32_t configRead(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) const;
    void configWrite(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);
    bool functionLocation(int board, BoardFunction which, uint8_t* bus, uint8_t* device, uint8_t* function) const;
    uint32_t functionConfig(int board, BoardFunction which, uint8_t reg) const; // regardless of routing
    bool memoryReachable(int board, BoardFunction which, int bar) const;

    // Kernel service memory.
    uint32_t dmaRegionPhysical(int region) const;
    uint32_t dmaRegionSize(int region) const;
    std::vector<DmaBufferInfo> dmaBuffers() const;
    bool readPhysical(uint32_t physical, void* destination, uint32_t bytes) const;
    bool writePhysical(uint32_t physical, const void* source, uint32_t bytes);
    void* physicalToHost(uint32_t physical, uint32_t bytes) const; // contiguous range or null
    uint32_t pagePhysical(const void* address) const;             // 0 when never listed
    std::vector<std::pair<uint32_t, uint32_t>> pageMap() const;    // {host page, physical page}

    // Process memory state.
    std::vector<std::pair<uint32_t, uint32_t>> lockedRanges() const; // {address, bytes}

    // The desktop's display driver.
    void setDisplayDriver(const DisplayDriverSpec& spec);       // reset by configure()
    uint32_t openDisplayContexts() const;
    // The display Orlo's line interrupt (source 84, raised when the scan reaches the line
    // of a restart): silent boards never raise it (reset by configure()); the count raised.
    void setDisplayLineSilent(int board, bool silent);
    uint32_t displayLineInterrupts(int board) const;

private:
    BoardSim();
};

} // namespace boardsim
