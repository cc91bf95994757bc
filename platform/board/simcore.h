// Inner state of the simulated board family, shared by the files of this directory: the
// boards, their windows and requests, the whole machine (the chip models have their own
// headers).
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include "boardsim.h"
#include "device.h"
#include "simclock.h"
#include "simchip.h"
#include "simcpu.h"
#include "simdisplay.h"
#include "simorlo.h"
#include "simpci.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace boardsim {

// ---------------------------------------------------------------- boards and devices

class GrabModuleChip;   // simgrab.h
class KvxModuleChip;    // simkvx.h

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
    bool displayLineSilent = false;     // the display Orlo raises no line interrupt
    uint32_t displayLines = 0;          // line interrupts raised
    DisplayChip* displayChip = nullptr; // the model behind chipRegs, when there is a chip
    CpuModel cpu;
    FpgaModel fpga;
    GrabModuleChip* grab = nullptr;     // the model behind primaryPort, when one is fitted
    KvxModuleChip* kvx = nullptr;       // the second-family model behind primaryPort (types 3-6)

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
    // The registers an access of bytes at address reaches, as an event scope (scope
    // without a chip when it is not one window's).
    EventScope accessScope(uint32_t address, uint32_t bytes) const;
    uint32_t mapRegion(Board& board, uint32_t region, uint32_t offset, uint32_t size);
    uint32_t mapWindow(Board& board, HwArea area, SimChip* chip, uint32_t chipOffset, uint32_t size);
    uint32_t access(HwOp op, uint32_t address, int width, uint32_t value);
    // A block access of bytes at address as one run: when the whole block lies in one
    // window of plain memory and no filter or trace watches the accesses, the bytes are
    // copied at once and the bus time of the accesses it stands for (`accesses`) is spent;
    // the memory's bytes, or null (the caller then goes access by access).
    uint8_t* blockRun(uint32_t address, uint32_t bytes, uint32_t accesses);
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
    // sure the machine's thread runs it when the clock runs free.  With a name the caller
    // keeps, and an action held in place, it allocates nothing once the thread runs.
    uint64_t scheduleEvent(uint64_t at, const char* name, std::function<void()> action, EventScope scope = {});
    uint64_t scheduleEvent(uint64_t at, const std::string& name, std::function<void()> action,
                           EventScope scope = {})
    {
        return scheduleEvent(at, name.c_str(), std::move(action), scope);
    }
};

// What outlives a machine: the lock, the open devices (the kernel service's handle,
// opened once when the library loads, stays valid from one machine to the next) and the
// requests still pending on them.  Never destroyed: library objects built at load time
// close their devices at exit.
struct SimState {
    // Guards every member here and the whole machine.  Recursive: a filter installed by
    // a test may itself inspect the machine.
    mutable boardsim::MachineMutex mutex;
    uint32_t generation = 1;             // of the machine; board devices of older ones are stale
    // The machine's clock runs free (set with the machine; read without the lock).
    std::atomic<bool> freeRunning{true};
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

// The machine lock as a library access or request takes it (hwaccess.h, device.h): on
// the free-running clock the events due by the machine's time have run before the access
// goes on (SimClock::catchUp), unless the thread already holds it through an outer access.
class AccessLock {
public:
    explicit AccessLock(SimState& state);
    // A register or memory access of bytes at a machine address: waits only for the due
    // events that can change what it reaches.
    AccessLock(SimState& state, uint32_t address, uint32_t bytes);
    ~AccessLock();
    AccessLock(const AccessLock&) = delete;
    AccessLock& operator=(const AccessLock&) = delete;

private:
    BusMark mark_;
    std::unique_lock<boardsim::MachineMutex> hold_;
};

// The calling thread is about to wait, sleep or time itself against real time: it lets
// go of the free-running machine's time (SimClock::release).  Takes the machine lock.
void ReleaseMachineTime();

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
