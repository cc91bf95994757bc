// Inner state of the simulated board family, shared by the files of this directory.
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include "boardsim.h"
#include "device.h"
#include "simclock.h"

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace boardsim {

// ---------------------------------------------------------------- PCI configuration

enum class FnRole : uint8_t { HostBridge, SystemDevice, Bridge, PrimaryOrlo, DisplayOrlo, Chip, ChipFunction1 };

struct Segment;
struct Machine;

// One function's 256-byte configuration space.  Bits outside the write mask are fixed;
// the masks of the base-address registers follow from their sizes, so writing all ones
// reads back the size.
struct PciFunction {
    FnRole role = FnRole::SystemDevice;
    int board = -1;
    uint8_t cfg[256] = {};
    uint8_t wmask[256] = {};
    uint32_t barSize[6] = {};
    PciFunction* upstream = nullptr;     // bridge above (null on bus 0)
    std::unique_ptr<Segment> below;      // bus behind a bridge

    void setup(uint16_t vendor, uint16_t device, uint32_t classCode, uint8_t revision, bool bridge,
               bool multiFunction);
    void setBar(int index, uint32_t size, uint32_t typeBits);  // typeBits: 0, 8 (prefetch) or 1 (I/O)
    void setRom(uint32_t size);
    bool isBridge() const { return (cfg[0x0E] & 0x7F) == 1; }
    uint32_t read32(uint8_t reg) const;
    void write(uint8_t reg, uint32_t value, uint32_t byteMask); // reg dword-aligned
    uint32_t barBase(int index) const;
    uint16_t command() const { return static_cast<uint16_t>(cfg[4] | (cfg[5] << 8)); }
};

struct Segment {
    std::map<uint8_t, PciFunction*> functions; // key: device << 3 | function
};

// ---------------------------------------------------------------- chips behind windows

struct Board;

class SimChip {
public:
    virtual ~SimChip() = default;
    virtual uint32_t read(uint32_t offset, int width) = 0;
    virtual void write(uint32_t offset, int width, uint32_t value) = 0;
};

class RamChip : public SimChip {
public:
    explicit RamChip(uint32_t size) : size_(size) {}
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    bool copyOut(uint32_t offset, void* destination, uint32_t bytes) const;
    uint32_t size() const { return size_; }
    // The whole memory for the board's own writers (the grab engine); size() bytes.
    uint8_t* data();

private:
    uint32_t size_;
    mutable std::vector<uint8_t> bytes_; // allocated at the first access
};

// Frame memory of the display chip; while the chip's function 1 enables its expansion
// ROM at the frame base + 0x200000, the ROM's bytes show there (simrom.cpp).
class FrameChip : public RamChip {
public:
    FrameChip(Board* board, uint32_t size) : RamChip(size), board_(board) {}
    uint32_t read(uint32_t offset, int width) override;

private:
    Board* board_;
};

// Register block of an Orlo: plain registers plus those that act on access.  The
// doorbells, the timer and the VM engine (simorlo.cpp) act on the machine's clock: a
// write only schedules what follows, which runs as an event, never inside the write.
class GrabEngine;   // simgrabengine.h
struct GrabEngineDelete {
    void operator()(GrabEngine* engine) const;
};

class OrloChip : public SimChip {
public:
    OrloChip(Board* board, bool display);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    uint32_t peek(uint32_t offset) const; // 32-bit word, without side effects
    void poke(uint32_t offset, uint32_t value);
    // A source became enabled at the driver: doorbells kept pending are taken now.
    void sourceEnabled();
    GrabEngine& grabEngine();   // built at its first use (simgrabengine.cpp)

private:
    friend class GrabEngine;
    uint32_t readWord(uint32_t dword);
    void writeWord(uint32_t dword, uint32_t bits, uint32_t laneMask);

    // simorlo.cpp
    void afterWrite(uint32_t dword, uint32_t bits, uint32_t laneMask, uint32_t before);
    uint32_t source(int primarySource, int displaySource) const;
    void scheduleDoorbells();
    void takeDoorbells();
    void timerWritten();
    void scheduleTimerTick();
    uint32_t timerCount() const;
    void vmSend();
    void vmSendDone(uint32_t command);
    void vmReset();

    Board* board_;
    bool display_;
    std::vector<uint32_t> regs_;
    uint32_t interrupts_ = 0;   // status behind 0x2028 / 0x2030
    bool lock_ = false;
    bool flushRunning_ = false;
    int32_t flushRemaining_ = 0;
    uint64_t doorbellEvent_ = 0;  // the scheduled taking of the doorbells, 0 none
    uint64_t timerEvent_ = 0;     // the scheduled end of the timer's period, 0 none
    uint64_t timerStart_ = 0;     // clock time the running timer started counting
    uint64_t timerPeriods_ = 0;   // periods it ran since
    bool timerRunning_ = false;
    uint64_t vmEvent_ = 0;        // the scheduled end of a send, 0 none
    bool vmStepOpen_ = false;     // a set-up step was started and not yet acknowledged
    bool vmSetUp_ = false;        // the port set-up was restarted since power-up
    std::unique_ptr<GrabEngine, GrabEngineDelete> grabEngine_;
};

// Configuration bytes 0x40-0x6F of an Orlo seen through its PCI shadow window.
class ShadowChip : public SimChip {
public:
    explicit ShadowChip(PciFunction* function) : function_(function) {}
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    PciFunction* function_;
};

// Register window of a board's display chip: plain memory for every access, with the
// VGA index/data pairs, the DAC's palette, cursor and indexed registers, its three clock
// PLLs and the vertical-retrace status acting on byte accesses (simdisplay.cpp).
struct DisplayChipState;
class DisplayChip : public RamChip {
public:
    DisplayChip();
    ~DisplayChip() override;
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    DisplayChipState& state() { return *state_; }

private:
    std::unique_ptr<DisplayChipState> state_;
};

// What the desktop's display driver answers to the private escapes (simdisplay.cpp).
struct DisplayDriverState {
    DisplayDriverSpec spec;
    std::set<uint32_t> contexts;
    uint32_t nextContext = 0x4D00;
};

// Board processor and grab-module FPGA state of a board (simcpu.cpp).
enum class CpuPhase : uint8_t { Halted, Booting, Ready, Running };
struct CpuModel {
    CpuPhase phase = CpuPhase::Halted;
    uint32_t bootReads = 0;     // mailbox reads left that still see 0
    uint32_t fadeReads = 0;     // mailbox reads left that still see 0xCAFEFADE
    uint32_t starts = 0;
    uint32_t resets = 0;
    // Reset states in bits 8-11 of the memory control word: the end of a reset pulse
    // starts the sequence at 4, which advances by one every kResetStateNanos of bus time
    // up to 10; a pulse at 10 halts the processor in state 11.
    uint32_t resetState = 0;
    uint64_t sequenceStart = 0;   // bus time at the end of the pulse
};
struct FpgaModel {
    bool done = false;
    bool programming = false;   // program pulse bit held set
    uint32_t pulses = 0;
    std::vector<uint8_t> received;
};

// Orlo registers with the processor's reset, start and mailbox and the FPGA's control
// bits acting on access.
class BoardOrloChip : public OrloChip {
public:
    BoardOrloChip(Board* board, bool display);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    uint32_t resetState() const;

    Board* board_;
};

// The Orlo's 2 KB window: memory whose word 0 is also the FPGA's data port.
class FpgaPortChip : public RamChip {
public:
    explicit FpgaPortChip(Board* board);
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    Board* board_;
};

// ---------------------------------------------------------------- boards and devices

class GrabModuleChip;   // simgrab.h

struct Board {
    int index = 0;
    Machine* machine = nullptr;     // the machine the board belongs to
    SimClock* clock = nullptr;      // the machine's
    BoardSpec spec;
    uint8_t slotDevice = 0;
    uint8_t slot = 0;
    PciFunction* bridge = nullptr;
    PciFunction* primary = nullptr;
    PciFunction* display = nullptr;
    PciFunction* chip = nullptr;
    PciFunction* chipFunction1 = nullptr;
    std::unique_ptr<OrloChip> primaryRegs, displayRegs;
    std::unique_ptr<RamChip> primaryMemory, displayMemory, primaryPort, displayPort;
    std::unique_ptr<ShadowChip> primaryShadow, displayShadow;
    std::unique_ptr<RamChip> chipRegs, chipFrame;
    std::vector<uint8_t> nodeRecord;
    std::map<uint32_t, uint32_t> semaphores;
    std::set<uint32_t> enabledSources;
    std::list<uint32_t> interruptWords;
    uint32_t droppedInterrupts = 0;   // raised while no source was enabled
    uint32_t displayKey[3] = {};
    DisplayChip* displayChip = nullptr; // the model behind chipRegs, when there is a chip
    CpuModel cpu;
    FpgaModel fpga;
    GrabModuleChip* grab = nullptr;     // the model behind primaryPort, when one is fitted

    uint8_t kind() const;
    uint8_t secondKind() const;
    uint32_t suffix() const { return (static_cast<uint32_t>(slotDevice) << 8) | kind(); }
    void boardRecord(uint8_t record[19]) const;
};

enum class DeviceKind : uint8_t { BoardList, Node, Service };

struct OpenDevice {
    DeviceKind kind = DeviceKind::BoardList;
    int board = -1;
    uint32_t generation = 0;   // topology generation at open
    std::string name;
    uint32_t overviewSeen = 0; // DMA overview change count last reported
};

struct PendingRequest {
    uint32_t id = 0;
    DeviceHandle handle = kInvalidDevice;
    uint32_t code = 0;
    std::vector<uint8_t> buffer;
    uint32_t inSize = 0;
    void* out = nullptr;
    uint32_t outSize = 0;
    DeviceOverlapped* overlapped = nullptr;
    bool held = false;
};

// A window handed out by a map request: reserved address space that nothing else can
// occupy and that faults if it is ever dereferenced.
struct Window {
    uint32_t base = 0;
    uint32_t size = 0;
    void* reservation = nullptr;
    size_t reservedBytes = 0;
    SimChip* chip = nullptr;
    uint32_t chipOffset = 0;
    uint8_t board = 0;
    HwArea area = HwArea::Stray;
};

struct DmaRegion {
    uint32_t physical = 0;
    uint32_t size = 0;
    uint8_t* host = nullptr;
};

struct DmaBuffer {
    DmaBufferInfo info;
    uint32_t tag = 0;
};

enum class Outcome : uint8_t { Done, Pending, Refused, Unsupported, BadParameter };

// ---------------------------------------------------------------- the whole machine

struct SimState;

// One simulated machine, built from a topology and destroyed whole by the next
// configure(): nothing of it outlives a configure, so no state can leak from one test
// into the next.  Guarded by SimState::mutex; every member function expects it held.
struct Machine {
    Machine(SimState& owner, const Topology& topology);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    SimState& sim;
    Topology topology;
    std::unique_ptr<SimClock> clock;
    std::shared_ptr<FrameGenerator> frames;   // the topology's, or the test pattern

    // PCI
    std::vector<std::unique_ptr<PciFunction>> functions;
    Segment root;
    std::vector<std::unique_ptr<Board>> boards;

    // requests as the devices see them
    bool logRequests = true;
    std::vector<RequestRecord> requestLog;
    std::map<uint32_t, int> failing;     // code -> remaining refusals (-1 forever)
    std::set<uint32_t> holding;
    std::set<uint32_t> nodeSet;

    // windows and accesses
    std::map<uint32_t, Window> windows;  // by base
    bool tracing = false;
    std::vector<HwAccess> traceLog;
    uint32_t strays = 0;
    std::function<uint32_t(const HwAccess&)> readFilter;
    std::function<bool(HwAccess&)> writeFilter;

    // kernel service
    std::vector<DmaRegion> regions;
    std::map<uint32_t, DmaBuffer> dmaBuffers;   // by id
    uint32_t nextDmaId = 1;
    uint32_t overviewChanges = 0;
    std::map<uint32_t, uint32_t> hostToPhys;    // page maps
    std::map<uint32_t, uint32_t> physToHost;
    uint32_t nextFakePage = 0x40000000u;

    // process
    uint32_t workingSetMin = 0x32000;
    uint32_t workingSetMax = 0x159000;
    std::multimap<uint32_t, uint32_t> locked;

    // desktop display driver
    DisplayDriverState displayDriver;

    Board* board(int index) const
    {
        return index >= 0 && index < static_cast<int>(boards.size()) ? boards[index].get() : nullptr;
    }

    // PCI
    PciFunction* lookup(uint8_t bus, uint8_t device, uint8_t function) const;
    bool location(const PciFunction* f, uint8_t* bus, uint8_t* device, uint8_t* function) const;
    bool reachable(const PciFunction* f, int bar) const;
    PciFunction* boardFunction(int board, BoardFunction which) const;

    // windows
    uint32_t mapRegion(Board& board, uint32_t region, uint32_t offset, uint32_t size);
    uint32_t mapWindow(Board& board, HwArea area, SimChip* chip, uint32_t chipOffset, uint32_t size);
    uint32_t access(HwOp op, uint32_t address, int width, uint32_t value);
    uint32_t chipAccess(HwOp op, uint8_t board, HwArea area, SimChip* chip, uint32_t offset, int width,
                        uint32_t value, bool viaDriver);

    // requests
    Outcome driverRequest(OpenDevice& device, uint32_t code, std::vector<uint8_t>& buffer, uint32_t inSize,
                          uint32_t outSize, uint32_t& bytes);
    Outcome serviceRequest(OpenDevice& device, uint32_t code, std::vector<uint8_t>& buffer, uint32_t inSize,
                           uint32_t outSize, uint32_t& bytes);
    void completeInterruptWaits(int board);
    void completeOverviewWaits();
    void dmaChanged();

    // service memory
    uint32_t physicalOf(uint32_t hostAddress);  // assigns a fake page when needed
    uint8_t* hostOf(uint32_t physical, uint32_t bytes) const;
    DmaBuffer* dmaBuffer(uint32_t id);
    uint32_t allocateDma(uint32_t bytes);       // physical address, 0 when no room
    bool insideRegion(uint32_t physical, uint32_t bytes) const;
    std::string overviewText() const;

    // Raises an interrupt word as the driver delivers it: only while the board has an
    // enabled source; false when dropped.
    bool deliverInterrupt(int board, uint32_t word);
    // Delivers a source raised by the board: its special word, then its plain word.
    bool deliverSource(int board, uint32_t source);
    // Schedules a board event at a time of the machine's clock (simclock.h) and makes
    // sure the machine's thread runs it when the clock runs free.
    uint64_t scheduleEvent(uint64_t at, std::string name, std::function<void()> action);
};

// What outlives a machine: the lock, the open devices (the kernel service's handle,
// opened once when the library loads, stays valid from one machine to the next) and the
// requests still pending on them.  Never destroyed: library objects built at load time
// close their devices at exit.
struct SimState {
    // Guards every member here and the whole machine.  Recursive: a filter installed by
    // a test may itself inspect the machine.
    mutable std::recursive_mutex mutex;
    uint32_t generation = 1;             // of the machine; board devices of older ones are stale
    std::map<DeviceHandle, OpenDevice> devices;
    DeviceHandle nextHandle = 0x100;
    std::list<PendingRequest> pending;
    uint32_t nextRequestId = 1;
    std::unique_ptr<Machine> machine;

    static SimState& get();
    Machine& m() const { return *machine; }
    // Cancels the pending requests and builds the next machine; returns the old one,
    // which the caller destroys after releasing the lock (its clock thread needs it).
    std::unique_ptr<Machine> configure(const Topology& topology);
    void complete(PendingRequest& request, uint32_t status, uint32_t bytes);
};

inline uint32_t LoadWord(const std::vector<uint8_t>& b, size_t offset)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b[offset + i];
    return v;
}
inline void StoreWord(std::vector<uint8_t>& b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace boardsim
