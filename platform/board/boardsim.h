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

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// PCI identifiers of the simulated machine.
constexpr uint16_t kMakerVendor = 0x1F3A;
constexpr uint16_t kBridgeDeviceId = 0x0A7C;
constexpr uint16_t kPrimaryOrloDeviceId = 0x3E91;
constexpr uint16_t kDisplayOrloDeviceId = 0x3E92;
constexpr uint16_t kChipVendor = 0x1C5B;
constexpr uint16_t kChipDeviceId = 0x3D07;          // display chip, function behind the bridge
constexpr uint16_t kChipFunction1DeviceId = 0x3D08; // its second function on bus 0
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
    uint32_t fpgaBytes = 0;        // data bytes a configuration takes; 0: never configures
    bool fpgaConfigured = false;   // done bit set at power-up
    bool fpgaDoneStuck = false;    // the done bit stays set through the program pulse
    // VM engine of each Orlo (simorlo.cpp): a send sets the send-busy status bit, clears
    // it after a short machine time and raises the command-done source.  vmSilent: the
    // engine never answers (the busy bit stays set, no source), for time-out tests.
    // vmClockOption: bit 9 of the option register at power-up, with which the library's VM
    // set-up takes its full path (VM clock, reset pulse, port set-up conversation).
    bool vmSilent = false;
    bool vmClockOption = false;
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

// How the machine's clock runs (simclock.h).  FreeRunning: the library's clock and
// sleeps follow real time, for the example program and benchmarks.  Virtual: time moves
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

// The board processor (simcpu.cpp).
class CpuView {
public:
    explicit CpuView(int board) : board(board) {}
    uint32_t starts() const;
    uint32_t resets() const;
    bool running() const;                             // the handshake reached 0xFEEDDEAD
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
    // thread, in time order, and returns how many ran; under the free-running
    // clock advance() sleeps and the machine's own thread runs events when they fall due.
    // Events never run inside a register access.  after() schedules an action; an
    // interrupt scheduled with interruptAfter() is raised as raiseInterrupt() does.  A
    // running Orlo timer raises its timer source every period, a doorbell is taken a few
    // microseconds after it was rung, a VM send ends a few microseconds after it began,
    // under either clock (simorlo.cpp).
    double now() const;
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

private:
    BoardSim();
};

} // namespace boardsim
