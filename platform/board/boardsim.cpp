// Building the simulated machine from a topology, the firmware's PCI set-up, and the
// inspection and fault-injection interface used by tests.
#include "boardsim.h"
#include "simcore.h"
#include "simgrab.h"
#include "simkvx.h"

#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace boardsim {

namespace {

const char* AreaName(HwArea area)
{
    switch (area) {
    case HwArea::PrimaryRegs: return "primary.regs";
    case HwArea::PrimaryMemory: return "primary.memory";
    case HwArea::PrimaryPort: return "primary.port";
    case HwArea::PrimaryShadow: return "primary.shadow";
    case HwArea::DisplayRegs: return "display.regs";
    case HwArea::DisplayMemory: return "display.memory";
    case HwArea::DisplayPort: return "display.port";
    case HwArea::DisplayShadow: return "display.shadow";
    case HwArea::ChipRegs: return "chip.regs";
    case HwArea::ChipFrame: return "chip.frame";
    case HwArea::Stray: return "stray";
    }
    return "?";
}

// Firmware address allocation: downward, each range aligned to its size.
uint32_t AllocateDown(uint32_t& cursor, uint32_t size)
{
    const uint32_t address = (cursor - size) & ~(size - 1);
    cursor = address;
    return address;
}

void SetCommand(PciFunction* f, uint16_t bits)
{
    f->write(0x04, bits, 0x3);
}

void SetWindow(PciFunction* bridge, uint8_t reg, uint32_t base, uint32_t top)
{
    // base..top-1, in 1 MB units (bits 31-20 in bits 15-4 of each half).
    const uint32_t value = ((base >> 16) & 0xFFF0u) | ((((top - 1) >> 16) & 0xFFF0u) << 16);
    bridge->write(reg, value, 0xF);
}

} // namespace

bool HwAccess::operator==(const HwAccess& o) const
{
    return op == o.op && width == o.width && board == o.board && area == o.area && offset == o.offset &&
           value == o.value && viaDriver == o.viaDriver;
}

std::string HwAccess::toString() const
{
    char text[96];
    std::snprintf(text, sizeof text, "%s%d b%u %s+0x%x = 0x%x%s", op == HwOp::Read ? "R" : "W", 8 * width, board,
                  AreaName(area), offset, value, viaDriver ? " (driver)" : "");
    return text;
}

HwAccess Read(HwArea area, uint32_t offset, uint32_t value, uint8_t width, uint8_t board)
{
    HwAccess a;
    a.op = HwOp::Read;
    a.area = area;
    a.offset = offset;
    a.value = value;
    a.width = width;
    a.board = board;
    return a;
}

HwAccess Write(HwArea area, uint32_t offset, uint32_t value, uint8_t width, uint8_t board)
{
    HwAccess a = Read(area, offset, value, width, board);
    a.op = HwOp::Write;
    return a;
}

// ---------------------------------------------------------------- building

SimState& SimState::get()
{
    static SimState* state = [] {
        auto* s = new SimState;
        s->machine = std::make_unique<Machine>(*s, Topology{});
        return s;
    }();
    return *state;
}

std::unique_ptr<Machine> SimState::configure(const Topology& topology)
{
    // The next machine is built before the old one goes: a topology it refuses leaves
    // the old machine in place.
    auto next = std::make_unique<Machine>(*this, topology);
    for (auto& p : pending) complete(p, kDeviceErrorCancelled, 0);
    pending.clear();
    std::swap(machine, next);
    freeRunning.store(topology.clock == ClockMode::FreeRunning, std::memory_order_release);
    ++generation;
    return next;
}

Machine::~Machine()
{
    clock->stop();
    for (auto& entry : windows) munmap(entry.second.reservation, entry.second.reservedBytes);
    for (auto& r : regions) munmap(r.host, r.size);
}

Machine::Machine(SimState& owner, const Topology& t)
    : sim(owner), clock(std::make_unique<SimClock>(t.clock)),
      frames(t.frames ? t.frames : std::make_shared<TestPatternGenerator>())
{
    if (t.boards.size() > 16) throw std::invalid_argument("at most 16 boards");
    topology = t;
    auto add = [&](Segment& segment, uint8_t device, uint8_t function, PciFunction* upstream) {
        const uint8_t key = static_cast<uint8_t>(device << 3 | function);
        if (segment.functions.count(key)) throw std::invalid_argument("two functions at one PCI position");
        functions.push_back(std::make_unique<PciFunction>());
        PciFunction* f = functions.back().get();
        f->upstream = upstream;
        segment.functions[key] = f;
        return f;
    };

    if (t.host.slotDevice > 31) throw std::invalid_argument("bad host bridge position");
    PciFunction* host = add(root, t.host.slotDevice, 0, nullptr);
    host->role = FnRole::HostBridge;
    host->setup(t.host.vendor, t.host.device, 0x060000, t.host.revision, false, t.host.multiFunction);
    SetCommand(host, 6);

    uint32_t memory = 0xFEC00000u;
    uint32_t io = 0xF000;
    if (t.host.systemDevice) {
        PciFunction* sys = add(root, 7, 0, nullptr);
        sys->role = FnRole::SystemDevice;
        sys->setup(kHostVendor, kSystemDeviceId, 0x020000, 1, false, false);
        sys->setBar(0, 0x1000, 0);
        sys->setBar(1, 0x100, 1);
        sys->write(0x10, AllocateDown(memory, 0x1000), 0xF);
        sys->write(0x14, AllocateDown(io, 0x100) | 1, 0xF);
        sys->cfg[0x3C] = 11;
        SetCommand(sys, 7);
    }

    for (size_t i = 0; i < t.boards.size(); ++i) {
        auto board = std::make_unique<Board>();
        Board& b = *board;
        b.index = static_cast<int>(i);
        b.machine = this;
        b.clock = clock.get();
        b.spec = t.boards[i];
        const BoardSpec& spec = b.spec;
        if (spec.displayChip && !spec.displayOrlo) throw std::invalid_argument("a display chip needs the display Orlo");
        if (spec.displayChip && spec.bridgeFunction != 0)
            throw std::invalid_argument("a display chip needs the bridge at function 0");
        b.slotDevice = spec.slotDevice == 0xFF ? static_cast<uint8_t>(0x0D + i) : spec.slotDevice;
        b.slot = spec.slot ? spec.slot : static_cast<uint8_t>(i + 1);
        if (b.slotDevice > 31 || spec.bridgeFunction > 7) throw std::invalid_argument("bad board position");
        if (spec.bridgeFunction != 0 && !root.functions.count(static_cast<uint8_t>(b.slotDevice << 3)))
            throw std::invalid_argument("a bridge at a function other than 0 needs function 0");

        b.bridge = add(root, b.slotDevice, spec.bridgeFunction, nullptr);
        b.bridge->role = FnRole::Bridge;
        b.bridge->board = b.index;
        b.bridge->setup(kMakerVendor, kBridgeDeviceId, 0x060400, 1, true, spec.displayChip);
        b.bridge->below = std::make_unique<Segment>();
        Segment& behind = *b.bridge->below;
        if (spec.primaryOrlo) {
            b.primary = add(behind, 0, 0, b.bridge);
            b.primary->role = FnRole::PrimaryOrlo;
            b.primary->setup(kMakerVendor, kPrimaryOrloDeviceId, 0x048000, 2, false, false);
            b.primary->setBar(0, kOrloBarSize, 8);
            b.primaryRegs = std::make_unique<BoardOrloChip>(&b, false);
            b.primaryMemory = std::make_unique<RamChip>(spec.primaryMemory);
            if (spec.moduleType >= 3 && spec.moduleType <= 6) {
                auto kvx = std::make_unique<KvxModuleChip>(&b);
                b.kvx = kvx.get();
                b.primaryPort = std::move(kvx);
            } else {
                auto grab = std::make_unique<GrabModuleChip>(&b);
                b.grab = grab.get();
                b.primaryPort = std::move(grab);
            }
            b.primaryShadow = std::make_unique<ShadowChip>(b.primary);
        }
        if (spec.displayOrlo) {
            b.display = add(behind, 1, 0, b.bridge);
            b.display->role = FnRole::DisplayOrlo;
            b.display->setup(kMakerVendor, kDisplayOrloDeviceId, 0x048000, 2, false, false);
            b.display->setBar(0, kOrloBarSize, 8);
            b.displayRegs = std::make_unique<BoardOrloChip>(&b, true);
            b.displayMemory = std::make_unique<RamChip>(spec.displayMemory);
            b.displayPort = std::make_unique<FpgaPortChip>(&b);
            b.displayShadow = std::make_unique<ShadowChip>(b.display);
        }
        if (spec.displayChip) {
            b.chip = add(behind, 2, 0, b.bridge);
            b.chip->role = FnRole::Chip;
            b.chip->setup(kChipVendor, kChipDeviceId, 0x030000, 1, false, false);
            b.chip->setBar(0, 0x10000, 0);
            b.chip->setBar(1, 0x100, 1);
            b.chipFunction1 = add(root, b.slotDevice, 1, nullptr);
            b.chipFunction1->role = FnRole::ChipFunction1;
            b.chipFunction1->setup(kChipVendor, kChipFunction1DeviceId, 0x038000, 1, false, false);
            b.chipFunction1->setBar(0, kChipRegisterSize, 0);
            b.chipFunction1->setBar(1, kChipFrameBarSize, 8);
            b.chipFunction1->setRom(kChipRomSize);
            b.chipFunction1->write(0x10, AllocateDown(memory, kChipRegisterSize), 0xF);
            b.chipFunction1->write(0x14, AllocateDown(memory, kChipFrameBarSize) | 8, 0xF);
            SetCommand(b.chipFunction1, 7);
            auto displayChip = std::make_unique<DisplayChip>();
            b.displayChip = displayChip.get();
            b.chipRegs = std::move(displayChip);
            b.chipFrame = std::make_unique<FrameChip>(&b, kChipFrameSize);
        }
        for (PciFunction* f : {b.primary, b.display, b.chip, b.chipFunction1})
            if (f) f->board = b.index;
        boards.push_back(std::move(board));
    }

    // Firmware set-up of the boards whose bridge it configured: bus numbers, addresses
    // downward below the bus-0 devices, bridge windows in 1 MB and 4 KB units.
    uint8_t nextBus = 1;
    for (auto& board : boards) {
        Board& b = *board;
        if (!b.spec.bridgeDecode) continue;
        PciFunction* bridge = b.bridge;
        const uint8_t bus = nextBus++;
        bridge->write(0x18, 0u | (static_cast<uint32_t>(bus) << 8) | (static_cast<uint32_t>(bus) << 16) | (0x40u << 24), 0xF);
        memory &= ~0xFFFFFu;
        const uint32_t memoryTop = memory;
        if (b.chip) b.chip->write(0x10, AllocateDown(memory, 0x10000), 0xF);
        memory &= ~0xFFFFFu;
        if (memory != memoryTop) SetWindow(bridge, 0x20, memory, memoryTop);
        const uint32_t prefetchTop = memory;
        for (PciFunction* f : {b.primary, b.display})
            if (f) f->write(0x10, AllocateDown(memory, kOrloBarSize) | 8, 0xF);
        memory &= ~0xFFFFFu;
        if (memory != prefetchTop) SetWindow(bridge, 0x24, memory, prefetchTop);
        if (b.chip) {
            io &= ~0xFFFu;
            const uint32_t ioTop = io;
            b.chip->write(0x14, AllocateDown(io, 0x100) | 1, 0xF);
            io &= ~0xFFFu;
            bridge->write(0x1C, ((io >> 8) & 0xF0) | ((((ioTop - 1) >> 8) & 0xF0) << 8), 0x3);
        }
        for (PciFunction* f : {b.primary, b.display, b.chip}) {
            if (!f) continue;
            SetCommand(f, 7);
            f->cfg[0x3C] = static_cast<uint8_t>(10 + (b.index & 1));
        }
        SetCommand(bridge, 7);
    }

    uint32_t physical = t.service.firstPhysical & ~0xFFFu;
    for (uint32_t size : t.service.dmaRegions) {
        if (size == 0) continue;
        size = (size + 0xFFF) & ~0xFFFu;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::runtime_error("no memory for a DMA region");
        DmaRegion r;
        r.physical = physical;
        r.size = size;
        r.host = static_cast<uint8_t*>(p);
        regions.push_back(r);
        physical = (physical + size + 0xFFFFF) & ~0xFFFFFu;
    }
}

// ---------------------------------------------------------------- BoardSim

BoardSim::BoardSim() = default;

BoardSim& BoardSim::instance()
{
    static BoardSim* sim = new BoardSim;
    SimState::get();
    return *sim;
}

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

void BoardSim::configure(const Topology& topology)
{
    std::unique_ptr<Machine> old;
    {
        LOCKED;
        old = s.configure(topology);
    }
    old.reset();   // outside the lock: its clock thread may be waiting for it
}

double BoardSim::now() const
{
    LOCKED;
    return s.m().clock->seconds();
}

size_t BoardSim::holders() const
{
    LOCKED;
    return s.m().clock->holders();
}

void BoardSim::advance(double seconds)
{
    if (seconds < 0) return;
    const auto nanos = static_cast<uint64_t>(seconds * 1e9 + 0.5);
    {
        LOCKED;
        if (s.m().clock->mode() == ClockMode::Virtual) {
            s.m().clock->advance(nanos);
            return;
        }
        s.m().clock->release();
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(nanos));
    AccessLock caughtUp(SimState::get());   // the events due by now have run
}

int BoardSim::runUntilIdle()
{
    LOCKED;
    if (s.m().clock->mode() != ClockMode::Virtual) return 0;
    return s.m().clock->runUntilIdle(100000);
}

void BoardSim::after(double seconds, const std::string& name, std::function<void()> action)
{
    LOCKED;
    SimClock& c = *s.m().clock;
    const uint64_t delay = seconds > 0 ? static_cast<uint64_t>(seconds * 1e9 + 0.5) : 0;
    c.schedule(c.nowNanos() + delay, name, std::move(action));
    c.startThread(s.mutex);
}

void BoardSim::interruptAfter(double seconds, int board, uint32_t source)
{
    char name[48];
    std::snprintf(name, sizeof name, "interrupt %u board %d", source, board);
    after(seconds, name, [this, board, source] { raiseInterrupt(board, source); });
}

void TestPatternGenerator::render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels)
{
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(x + y + frame);
}

std::vector<uint8_t> BoardSim::frame(uint64_t n, uint32_t width, uint32_t height) const
{
    LOCKED;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    if (!pixels.empty()) s.m().frames->render(n, width, height, pixels.data());
    return pixels;
}

std::vector<FiredEvent> BoardSim::events() const
{
    LOCKED;
    return s.m().clock->log();
}

Topology BoardSim::topology() const
{
    LOCKED;
    return s.m().topology;
}

uint32_t BoardSim::boardSuffix(int board) const
{
    LOCKED;
    return board >= 0 && board < static_cast<int>(s.m().boards.size()) ? s.m().boards[board]->suffix() : 0;
}

std::string BoardSim::boardDeviceName(int board) const
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\HALCYRA%x", boardSuffix(board));
    return name;
}

void BoardSim::setTracing(bool on)
{
    LOCKED;
    s.m().tracing = on;
}

std::vector<HwAccess> BoardSim::trace() const
{
    LOCKED;
    return s.m().traceLog;
}

void BoardSim::clearTrace()
{
    LOCKED;
    s.m().traceLog.clear();
}

uint32_t BoardSim::strayAccesses() const
{
    LOCKED;
    return s.m().strays;
}

void BoardSim::setReadFilter(std::function<uint32_t(const HwAccess&)> filter)
{
    LOCKED;
    s.m().readFilter = std::move(filter);
}

void BoardSim::setWriteFilter(std::function<bool(HwAccess&)> filter)
{
    LOCKED;
    s.m().writeFilter = std::move(filter);
}

void BoardSim::setRequestLogging(bool on)
{
    LOCKED;
    s.m().logRequests = on;
}

std::vector<RequestRecord> BoardSim::requests() const
{
    LOCKED;
    return s.m().requestLog;
}

void BoardSim::clearRequests()
{
    LOCKED;
    s.m().requestLog.clear();
}

void BoardSim::failRequests(uint32_t code, int count)
{
    LOCKED;
    if (count == 0)
        s.m().failing.erase(code);
    else
        s.m().failing[code] = count;
}

void BoardSim::holdRequests(uint32_t code, bool hold)
{
    LOCKED;
    if (hold)
        s.m().holding.insert(code);
    else
        s.m().holding.erase(code);
}

int BoardSim::releaseHeld()
{
    LOCKED;
    int released = 0;
    for (auto p = s.pending.begin(); p != s.pending.end();) {
        if (!p->held) {
            ++p;
            continue;
        }
        ++released;
        p->held = false;
        auto d = s.devices.find(p->handle);
        Outcome outcome = Outcome::Refused;
        uint32_t bytes = 0;
        if (d != s.devices.end())
            outcome = d->second.kind == DeviceKind::Service
                          ? s.m().serviceRequest(d->second, p->code, p->buffer, p->inSize, p->outSize, bytes)
                          : s.m().driverRequest(d->second, p->code, p->buffer, p->inSize, p->outSize, bytes);
        if (outcome == Outcome::Pending) {
            ++p;
            continue;
        }
        s.complete(*p, outcome == Outcome::Done ? kDeviceErrorNone : kDeviceErrorRefused, bytes);
        p = s.pending.erase(p);
    }
    return released;
}

int BoardSim::pendingRequests() const
{
    LOCKED;
    return static_cast<int>(s.pending.size());
}

namespace {
OrloChip* Orlo(SimState& s, int board, bool display)
{
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return nullptr;
    return display ? s.m().boards[board]->displayRegs.get() : s.m().boards[board]->primaryRegs.get();
}
} // namespace

uint32_t OrloView::reg(uint32_t offset) const
{
    LOCKED;
    OrloChip* chip = Orlo(s, board, display);
    return chip ? chip->peek(offset) : 0xFFFFFFFFu;
}

void OrloView::setReg(uint32_t offset, uint32_t value) const
{
    LOCKED;
    if (OrloChip* chip = Orlo(s, board, display)) chip->poke(offset, value);
}

bool OrloView::readMemory(uint32_t offset, void* destination, uint32_t bytes) const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return false;
    RamChip* memory = display ? s.m().boards[board]->displayMemory.get() : s.m().boards[board]->primaryMemory.get();
    return memory && memory->copyOut(offset, destination, bytes);
}

uint32_t ChipView::reg(uint32_t offset) const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size()) || !s.m().boards[board]->chipRegs) return 0xFFFFFFFFu;
    return s.m().boards[board]->chipRegs->read(offset & ~3u, 4);
}

std::vector<uint8_t> BoardSim::nodeRecord(int board) const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return {};
    return s.m().boards[board]->nodeRecord;
}

uint32_t BoardSim::driverSemaphore(int board, uint32_t signal) const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return 0;
    auto it = s.m().boards[board]->semaphores.find(signal);
    return it == s.m().boards[board]->semaphores.end() ? 0 : it->second;
}

void BoardSim::signalDriverSemaphore(int board, uint32_t signal)
{
    LOCKED;
    if (board >= 0 && board < static_cast<int>(s.m().boards.size())) ++s.m().boards[board]->semaphores[signal];
}

bool BoardSim::nodeInSet(uint32_t node) const
{
    LOCKED;
    return s.m().nodeSet.count(node) != 0;
}

bool BoardSim::sourceEnabled(int board, uint32_t source) const
{
    LOCKED;
    return board >= 0 && board < static_cast<int>(s.m().boards.size()) && s.m().boards[board]->enabledSources.count(source);
}

void BoardSim::postInterruptWords(int board, const std::vector<uint32_t>& words)
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return;
    for (uint32_t w : words) s.m().boards[board]->interruptWords.push_back(w);
    s.m().completeInterruptWaits(board);
}

uint32_t BoardSim::displayKey(int board, int word) const
{
    LOCKED;
    if (board < 0 || board >= static_cast<int>(s.m().boards.size()) || word < 0 || word > 2) return 0;
    return s.m().boards[board]->displayKey[word];
}

uint32_t BoardSim::configRead(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) const
{
    LOCKED;
    const PciFunction* f = s.m().lookup(bus, device, function);
    return f ? f->read32(reg) : 0xFFFFFFFFu;
}

void BoardSim::configWrite(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value)
{
    LOCKED;
    if (PciFunction* f = s.m().lookup(bus, device, function)) f->write(reg, value, 0xF);
}

bool BoardSim::functionLocation(int board, BoardFunction which, uint8_t* bus, uint8_t* device,
                                uint8_t* function) const
{
    LOCKED;
    const PciFunction* f = s.m().boardFunction(board, which);
    return f && s.m().location(f, bus, device, function);
}

uint32_t BoardSim::functionConfig(int board, BoardFunction which, uint8_t reg) const
{
    LOCKED;
    const PciFunction* f = s.m().boardFunction(board, which);
    return f ? f->read32(reg) : 0xFFFFFFFFu;
}

bool BoardSim::memoryReachable(int board, BoardFunction which, int bar) const
{
    LOCKED;
    return s.m().reachable(s.m().boardFunction(board, which), bar);
}

uint32_t BoardSim::dmaRegionPhysical(int region) const
{
    LOCKED;
    return region >= 0 && region < static_cast<int>(s.m().regions.size()) ? s.m().regions[region].physical : 0;
}

uint32_t BoardSim::dmaRegionSize(int region) const
{
    LOCKED;
    return region >= 0 && region < static_cast<int>(s.m().regions.size()) ? s.m().regions[region].size : 0;
}

std::vector<DmaBufferInfo> BoardSim::dmaBuffers() const
{
    LOCKED;
    std::vector<DmaBufferInfo> list;
    for (const auto& entry : s.m().dmaBuffers) list.push_back(entry.second.info);
    return list;
}

bool BoardSim::readPhysical(uint32_t physical, void* destination, uint32_t bytes) const
{
    LOCKED;
    auto* d = static_cast<uint8_t*>(destination);
    while (bytes > 0) {
        const uint32_t chunk = std::min<uint32_t>(bytes, 0x1000 - (physical & 0xFFF));
        const uint8_t* host = s.m().hostOf(physical, chunk);
        if (!host) return false;
        std::memcpy(d, host, chunk);
        d += chunk;
        physical += chunk;
        bytes -= chunk;
    }
    return true;
}

bool BoardSim::writePhysical(uint32_t physical, const void* source, uint32_t bytes)
{
    LOCKED;
    const auto* p = static_cast<const uint8_t*>(source);
    while (bytes > 0) {
        const uint32_t chunk = std::min<uint32_t>(bytes, 0x1000 - (physical & 0xFFF));
        uint8_t* host = s.m().hostOf(physical, chunk);
        if (!host) return false;
        std::memcpy(host, p, chunk);
        p += chunk;
        physical += chunk;
        bytes -= chunk;
    }
    return true;
}

void* BoardSim::physicalToHost(uint32_t physical, uint32_t bytes) const
{
    LOCKED;
    return s.m().hostOf(physical, bytes);
}

uint32_t BoardSim::pagePhysical(const void* address) const
{
    LOCKED;
    const uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    for (const auto& r : s.m().regions) {
        const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(r.host));
        if (a >= base && a - base < r.size) return (r.physical + (a - base)) & ~0xFFFu;
    }
    auto it = s.m().hostToPhys.find(a & ~0xFFFu);
    return it == s.m().hostToPhys.end() ? 0 : it->second;
}

std::vector<std::pair<uint32_t, uint32_t>> BoardSim::pageMap() const
{
    LOCKED;
    return {s.m().hostToPhys.begin(), s.m().hostToPhys.end()};
}

std::vector<std::pair<uint32_t, uint32_t>> BoardSim::lockedRanges() const
{
    LOCKED;
    return {s.m().locked.begin(), s.m().locked.end()};
}

} // namespace boardsim
