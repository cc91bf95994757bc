// Simulated PCI configuration space: functions, their write masks, base-address sizing,
// bridge bus routing and the address windows through which memory accesses pass.
#include "simcore.h"

namespace boardsim {

namespace {
void SetMask(uint8_t* mask, uint8_t reg, uint32_t bits, int bytes)
{
    for (int i = 0; i < bytes; ++i) mask[reg + i] = static_cast<uint8_t>(bits >> (8 * i));
}
void SetBytes(uint8_t* cfg, uint8_t reg, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) cfg[reg + i] = static_cast<uint8_t>(value >> (8 * i));
}
} // namespace

void PciFunction::setup(uint16_t vendor, uint16_t device, uint32_t classCode, uint8_t revision, bool bridge,
                        bool multiFunction)
{
    for (auto& b : cfg) b = 0;
    for (auto& b : wmask) b = 0;
    SetBytes(cfg, 0x00, vendor, 2);
    SetBytes(cfg, 0x02, device, 2);
    cfg[0x08] = revision;
    SetBytes(cfg, 0x09, classCode, 3);
    cfg[0x0E] = static_cast<uint8_t>((bridge ? 1 : 0) | (multiFunction ? 0x80 : 0));
    SetMask(wmask, 0x04, 0x0547, 2);   // command: I/O, memory, master, parity, SERR, INTx off
    wmask[0x0C] = 0xFF;                // cache line size
    wmask[0x0D] = 0xFF;                // latency timer
    wmask[0x3C] = 0xFF;                // interrupt line
    if (bridge) {
        SetMask(wmask, 0x18, 0xFFFFFFFF, 4); // primary, secondary, subordinate, secondary latency
        wmask[0x1C] = 0xF0;                  // I/O base and limit, 16-bit decode
        wmask[0x1D] = 0xF0;
        SetMask(wmask, 0x20, 0xFFF0FFF0, 4); // memory base and limit
        SetMask(wmask, 0x24, 0xFFF0FFF0, 4); // prefetchable base and limit, 32-bit
        SetMask(wmask, 0x3E, 0x0FFF, 2);     // bridge control
        cfg[0x24] = 0xF0;                    // windows closed at power-on
        cfg[0x20] = 0xF0;
        cfg[0x1C] = 0xF0;
    } else {
        cfg[0x3D] = 1;                       // interrupt pin A
    }
    for (int r = 0x40; r < 0x100; ++r) wmask[r] = 0xFF; // device-specific registers
}

void PciFunction::setBar(int index, uint32_t size, uint32_t typeBits)
{
    const uint8_t reg = static_cast<uint8_t>(0x10 + 4 * index);
    barSize[index] = size;
    uint32_t mask = 0;
    if (size != 0) {
        if (typeBits & 1)
            mask = ~(size - 1) & 0xFFFCu;   // 16-bit I/O decode: upper half reads 0
        else
            mask = ~(size - 1) & 0xFFFFFFF0u;
    }
    SetMask(wmask, reg, mask, 4);
    SetBytes(cfg, reg, typeBits, 4);
}

void PciFunction::setRom(uint32_t size)
{
    SetMask(wmask, 0x30, size ? ((~(size - 1) & 0xFFFFF800u) | 1u) : 0u, 4);
    SetBytes(cfg, 0x30, 0, 4);
}

uint32_t PciFunction::read32(uint8_t reg) const
{
    reg &= 0xFC;
    return static_cast<uint32_t>(cfg[reg]) | (static_cast<uint32_t>(cfg[reg + 1]) << 8) |
           (static_cast<uint32_t>(cfg[reg + 2]) << 16) | (static_cast<uint32_t>(cfg[reg + 3]) << 24);
}

void PciFunction::write(uint8_t reg, uint32_t value, uint32_t byteMask)
{
    reg &= 0xFC;
    for (int i = 0; i < 4; ++i) {
        if (!(byteMask & (1u << i))) continue;
        const uint8_t m = wmask[reg + i];
        const uint8_t v = static_cast<uint8_t>(value >> (8 * i));
        cfg[reg + i] = static_cast<uint8_t>((cfg[reg + i] & ~m) | (v & m));
    }
}

uint32_t PciFunction::barBase(int index) const
{
    const uint32_t v = read32(static_cast<uint8_t>(0x10 + 4 * index));
    return (v & 1) ? (v & ~3u) : (v & ~0xFu);
}

// A configuration cycle for (bus, device, function) reaches the function when every
// bridge on the way claims the bus number: the secondary bus directly, a bus up to the
// subordinate one further down.
PciFunction* Machine::lookup(uint8_t bus, uint8_t device, uint8_t function) const
{
    if (device > 31 || function > 7) return nullptr;
    const Segment* segment = &root;
    uint8_t segmentBus = 0;
    for (int depth = 0; depth < 16; ++depth) {
        if (bus == segmentBus) {
            auto it = segment->functions.find(static_cast<uint8_t>(device << 3 | function));
            return it == segment->functions.end() ? nullptr : it->second;
        }
        const Segment* next = nullptr;
        uint8_t nextBus = 0;
        for (const auto& entry : segment->functions) {
            const PciFunction* f = entry.second;
            if (!f->isBridge() || !f->below) continue;
            const uint8_t secondary = f->cfg[0x19], subordinate = f->cfg[0x1A];
            if (secondary != 0 && secondary > segmentBus && secondary <= bus && bus <= subordinate) {
                next = f->below.get();
                nextBus = secondary;
                break;
            }
        }
        if (!next) return nullptr;
        segment = next;
        segmentBus = nextBus;
    }
    return nullptr;
}

bool Machine::location(const PciFunction* f, uint8_t* bus, uint8_t* device, uint8_t* function) const
{
    // Walk up: the bus of a function behind a bridge is that bridge's secondary bus.
    const Segment* home = f->upstream ? f->upstream->below.get() : &root;
    for (const auto& entry : home->functions) {
        if (entry.second != f) continue;
        uint8_t b = f->upstream ? f->upstream->cfg[0x19] : 0;
        if (f->upstream && b == 0) return false;
        if (bus) *bus = b;
        if (device) *device = static_cast<uint8_t>(entry.first >> 3);
        if (function) *function = static_cast<uint8_t>(entry.first & 7);
        return lookup(b, static_cast<uint8_t>(entry.first >> 3), static_cast<uint8_t>(entry.first & 7)) == f;
    }
    return false;
}

// A memory access to the base-address range reaches the function when the function
// decodes memory, the range is assigned, and every bridge above forwards memory with a
// window (plain or prefetchable) that covers the range.
bool Machine::reachable(const PciFunction* f, int bar) const
{
    if (!f || bar < 0 || bar > 5 || f->barSize[bar] == 0) return false;
    const uint32_t raw = f->read32(static_cast<uint8_t>(0x10 + 4 * bar));
    if (raw & 1) return false;
    const uint32_t base = f->barBase(bar);
    const uint64_t last = static_cast<uint64_t>(base) + f->barSize[bar] - 1;
    if (base == 0 || last > 0xFFFFFFFFull) return false;
    if (!(f->command() & 2)) return false;
    for (const PciFunction* b = f->upstream; b; b = b->upstream) {
        if (!(b->command() & 2)) return false;
        auto window = [&](uint8_t reg) {
            const uint32_t lo = (static_cast<uint32_t>(b->cfg[reg] | (b->cfg[reg + 1] << 8)) & 0xFFF0u) << 16;
            const uint32_t hi = ((static_cast<uint32_t>(b->cfg[reg + 2] | (b->cfg[reg + 3] << 8)) & 0xFFF0u) << 16) |
                                0xFFFFFu;
            return lo <= base && last <= hi && lo <= hi;
        };
        if (!window(0x20) && !window(0x24)) return false;
    }
    return true;
}

PciFunction* Machine::boardFunction(int board, BoardFunction which) const
{
    if (board < 0 || board >= static_cast<int>(boards.size())) return nullptr;
    const Board& b = *boards[board];
    switch (which) {
    case BoardFunction::Bridge: return b.bridge;
    case BoardFunction::PrimaryOrlo: return b.primary;
    case BoardFunction::DisplayOrlo: return b.display;
    case BoardFunction::Chip: return b.chip;
    case BoardFunction::ChipFunction1: return b.chipFunction1;
    }
    return nullptr;
}

} // namespace boardsim
