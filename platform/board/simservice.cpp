// The simulated kernel service: reserved DMA regions in host memory with their own
// physical addresses, DMA buffers inside them, page lists of user memory with fake
// physical pages (kept in both directions), and PCI configuration access.
#include "simcore.h"
#include "regmap/service_requests.h"

#include <cstdio>
#include <cstring>

namespace boardsim {

namespace {

constexpr uint32_t kNotFound = 0x86;

bool SizeIs(uint32_t inSize, uint32_t outSize, uint32_t want)
{
    return inSize == want && (outSize == 0 || outSize == want);
}

} // namespace

DmaBuffer* Machine::dmaBuffer(uint32_t id)
{
    auto it = dmaBuffers.find(id);
    return it == dmaBuffers.end() ? nullptr : &it->second;
}

bool Machine::insideRegion(uint32_t physical, uint32_t bytes) const
{
    for (const auto& r : regions)
        if (physical >= r.physical && static_cast<uint64_t>(physical) + bytes <= static_cast<uint64_t>(r.physical) + r.size)
            return true;
    return false;
}

// First fit, page aligned, among the allocations (not the created ids) of each region.
uint32_t Machine::allocateDma(uint32_t bytes)
{
    const uint64_t need = (static_cast<uint64_t>(bytes) + 0xFFF) & ~0xFFFull;
    for (const auto& r : regions) {
        uint64_t candidate = r.physical;
        bool moved = true;
        while (moved) {
            moved = false;
            for (const auto& entry : dmaBuffers) {
                const DmaBufferInfo& b = entry.second.info;
                if (b.created) continue;
                const uint64_t end = b.physical + ((static_cast<uint64_t>(b.size) + 0xFFF) & ~0xFFFull);
                if (b.physical < candidate + need && candidate < end) {
                    candidate = end;
                    moved = true;
                }
            }
        }
        if (candidate + need <= static_cast<uint64_t>(r.physical) + r.size) return static_cast<uint32_t>(candidate);
    }
    return 0;
}

uint32_t Machine::physicalOf(uint32_t hostAddress)
{
    for (const auto& r : regions) {
        const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(r.host));
        if (hostAddress >= base && hostAddress - base < r.size) return r.physical + (hostAddress - base);
    }
    const uint32_t page = hostAddress & ~0xFFFu;
    auto it = hostToPhys.find(page);
    if (it == hostToPhys.end()) {
        const uint32_t physical = nextFakePage;
        nextFakePage += 0x1000;
        it = hostToPhys.emplace(page, physical).first;
        physToHost.emplace(physical, page);
    }
    return it->second | (hostAddress & 0xFFF);
}

uint8_t* Machine::hostOf(uint32_t physical, uint32_t bytes) const
{
    if (bytes == 0) return nullptr;
    for (const auto& r : regions)
        if (physical >= r.physical && static_cast<uint64_t>(physical) + bytes <= static_cast<uint64_t>(r.physical) + r.size)
            return r.host + (physical - r.physical);
    // Listed user pages: the range must map to contiguous host memory.
    const uint32_t first = physical & ~0xFFFu;
    auto it = physToHost.find(first);
    if (it == physToHost.end()) return nullptr;
    const uint32_t host = it->second | (physical & 0xFFF);
    const uint64_t last = static_cast<uint64_t>(physical) + bytes - 1;
    for (uint64_t page = first + 0x1000ull; page <= (last & ~0xFFFull); page += 0x1000) {
        auto next = physToHost.find(static_cast<uint32_t>(page));
        if (next == physToHost.end() || next->second != it->second + static_cast<uint32_t>(page - first)) return nullptr;
    }
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(host));
}

std::string Machine::overviewText() const
{
    std::string text;
    char line[96];
    for (const auto& entry : dmaBuffers) {
        const DmaBufferInfo& b = entry.second.info;
        std::snprintf(line, sizeof line, "id=%u phys=0x%08x size=%u owner=0x%x pid=%u%s\n", b.id, b.physical, b.size,
                      b.owner, b.pid, b.created ? " region" : "");
        text += line;
    }
    return text;
}

void Machine::dmaChanged()
{
    ++overviewChanges;
    completeOverviewWaits();
}

void Machine::completeOverviewWaits()
{
    for (auto p = sim.pending.begin(); p != sim.pending.end();) {
        auto d = sim.devices.find(p->handle);
        if (!p->held && p->code == QVL_WAIT_DMA_OVERVIEW && d != sim.devices.end()) {
            d->second.overviewSeen = overviewChanges;
            sim.complete(*p, kDeviceErrorNone, 4);
            p = sim.pending.erase(p);
        } else {
            ++p;
        }
    }
}

Outcome Machine::serviceRequest(OpenDevice& device, uint32_t code, std::vector<uint8_t>& b, uint32_t inSize,
                                 uint32_t outSize, uint32_t& bytes)
{
    const ServiceSpec& spec = topology.service;
    bytes = inSize;
    switch (code) {
    case QVL_GET_REVISION:
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        StoreWord(b, 4, spec.revision);
        StoreWord(b, 8, 1);
        StoreWord(b, 12, regions.empty() ? 0 : static_cast<uint32_t>(regions.size() - 1));
        return Outcome::Done;
    case QVL_GET_DRIVER_INFO: {
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        const uint32_t region = (LoadWord(b, 0) >> 16) - 1;
        if (region >= regions.size()) return Outcome::Refused;
        StoreWord(b, 4, regions[region].physical);
        StoreWord(b, 8, regions[region].size);
        return Outcome::Done;
    }
    case QVL_GET_GUID:
        if (!SizeIs(inSize, outSize, 8)) return Outcome::BadParameter;
        StoreWord(b, 4, spec.guid);
        return Outcome::Done;
    case QVL_DMA_GET_STAT: {
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        uint32_t count = 0, used = 0, total = 0;
        for (const auto& r : regions) total += r.size;
        for (const auto& e : dmaBuffers)
            if (!e.second.info.created) {
                ++count;
                used += (e.second.info.size + 0xFFF) & ~0xFFFu;
            }
        StoreWord(b, 4, count);
        StoreWord(b, 8, used);
        StoreWord(b, 12, total - used);
        return Outcome::Done;
    }
    case QVL_DMA_BUFFER_ALLOC:
    case QVL_DMA_ADD_TO_POOL: {
        const bool pool = code == QVL_DMA_ADD_TO_POOL;
        if (!SizeIs(inSize, outSize, pool ? 28 : 44)) return Outcome::BadParameter;
        const uint32_t size = LoadWord(b, pool ? 12 : 8);
        if (size == 0) return Outcome::Refused;
        const uint32_t physical = allocateDma(size);
        if (physical == 0) return Outcome::Refused;
        DmaBuffer buffer;
        buffer.info.id = nextDmaId++;
        buffer.info.physical = physical;
        buffer.info.size = size;
        buffer.info.pid = LoadWord(b, pool ? 20 : 16);
        buffer.info.owner = LoadWord(b, pool ? 24 : 20);
        buffer.tag = pool ? LoadWord(b, 8) : 0;
        dmaBuffers[buffer.info.id] = buffer;
        StoreWord(b, 4, buffer.info.id);
        if (!pool) StoreWord(b, 40, 0);
        dmaChanged();
        return Outcome::Done;
    }
    case QVL_DMA_BUFFER_CREATE_ID: {
        if (!SizeIs(inSize, outSize, 48)) return Outcome::BadParameter;
        const uint32_t physical = LoadWord(b, 8), size = LoadWord(b, 12);
        if (size == 0 || !insideRegion(physical, size)) return Outcome::Refused;
        DmaBuffer buffer;
        buffer.info.id = nextDmaId++;
        buffer.info.physical = physical;
        buffer.info.size = size;
        buffer.info.pid = LoadWord(b, 20);
        buffer.info.owner = LoadWord(b, 24);
        buffer.info.created = true;
        dmaBuffers[buffer.info.id] = buffer;
        StoreWord(b, 4, buffer.info.id);
        StoreWord(b, 44, 0);
        dmaChanged();
        return Outcome::Done;
    }
    case QVL_DMA_BUFFER_FREE:
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        if (!dmaBuffers.erase(LoadWord(b, 0))) return Outcome::Refused;
        dmaChanged();
        return Outcome::Done;
    case QVL_DMA_BUFFER_CLEANUP: {
        if (!SizeIs(inSize, outSize, 24)) return Outcome::BadParameter;
        const uint32_t pid = LoadWord(b, 4), owner = LoadWord(b, 8);
        for (auto it = dmaBuffers.begin(); it != dmaBuffers.end();) {
            if (it->second.info.owner == owner && (pid == 0 || it->second.info.pid == pid))
                it = dmaBuffers.erase(it);
            else
                ++it;
        }
        dmaChanged();
        return Outcome::Done;
    }
    case QVL_DMA_BUFFER_GET_PTR: {
        if (!SizeIs(inSize, outSize, 12)) return Outcome::BadParameter;
        DmaBuffer* buffer = dmaBuffer(LoadWord(b, 0));
        if (!buffer) return Outcome::Refused;
        StoreWord(b, 8, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hostOf(buffer->info.physical, buffer->info.size))));
        return Outcome::Done;
    }
    case QVL_DMA_BUFFER_GET_PHYS: {
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        DmaBuffer* buffer = dmaBuffer(LoadWord(b, 0));
        if (!buffer) return Outcome::Refused;
        StoreWord(b, 8, buffer->info.physical);
        StoreWord(b, 12, buffer->info.size);
        return Outcome::Done;
    }
    case QVL_PCI_CONFIG_READ:
    case QVL_PCI_CONFIG_WRITE: {
        if (!SizeIs(inSize, outSize, 14)) return Outcome::BadParameter;
        const uint8_t bus = b[5], dev = b[6], fn = b[7], reg = b[8], width = b[9];
        if ((width != 1 && width != 2 && width != 4) || (reg & (width - 1))) return Outcome::BadParameter;
        const int shift = 8 * (reg & 3);
        PciFunction* f = lookup(bus, dev, fn);
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | b[10 + i];
        const uint32_t widthMask = width == 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
        if (code == QVL_PCI_CONFIG_READ) {
            value = f ? (f->read32(reg) >> shift) & widthMask : widthMask;
            for (int i = 0; i < 4; ++i) b[10 + i] = static_cast<uint8_t>(value >> (8 * i));
        } else if (f) {
            f->write(reg, (value & widthMask) << shift, ((1u << width) - 1) << (reg & 3));
        }
        return Outcome::Done;
    }
    case QVL_PCI_CONFIG_ACCESS: {
        if (!SizeIs(inSize, outSize, 296)) return Outcome::BadParameter;
        const uint32_t kind = LoadWord(b, 4), bus = LoadWord(b, 8), dev = LoadWord(b, 12), fn = LoadWord(b, 16);
        const uint32_t reg = LoadWord(b, 20), mode = LoadWord(b, 24), count = LoadWord(b, 32);
        uint32_t status = 0;
        PciFunction* f = (bus < 256 && dev < 32 && fn < 8) ? lookup(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn)) : nullptr;
        if (kind != 0 || (mode != 1 && mode != 2) || count > 64 || (reg & 3) || reg + 4 * count > 256)
            status = 0x81;
        else if (!f)
            status = kNotFound;
        else
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t r = static_cast<uint8_t>(reg + 4 * i);
                if (mode == 1)
                    StoreWord(b, 36 + 4 * i, f->read32(r));
                else
                    f->write(r, LoadWord(b, 36 + 4 * i), 0xF);
            }
        StoreWord(b, 292, status);
        return Outcome::Done;
    }
    case QVL_PCI_GET_INT_OPTION: {
        if (!SizeIs(inSize, outSize, 265)) return Outcome::BadParameter;
        std::fill(b.begin() + 4, b.end(), 0);
        b[6] = 0x20;  // interrupts 5, 9, 10 and 11 routable
        b[7] = 0x0E;
        for (size_t i = 0; i < boards.size() && i < 16; ++i) {
            uint8_t* record = b.data() + 9 + 16 * i;
            record[0] = 0;
            record[1] = static_cast<uint8_t>(boards[i]->slotDevice << 3);
            record[2] = static_cast<uint8_t>(0x60 + (i & 3));
            record[3] = 0x20;
            record[4] = 0x0E;
            record[14] = boards[i]->slot;
        }
        return Outcome::Done;
    }
    case QVL_PCI_FIND_DEVICE: {
        if (!SizeIs(inSize, outSize, 32)) return Outcome::BadParameter;
        const uint32_t vendor = LoadWord(b, 4) & 0xFFFF, id = LoadWord(b, 8) & 0xFFFF;
        uint32_t index = LoadWord(b, 12);
        StoreWord(b, 28, kNotFound);
        for (uint32_t bus = 0; bus < 256; ++bus)
            for (uint8_t dev = 0; dev < 32; ++dev)
                for (uint8_t fn = 0; fn < 8; ++fn) {
                    const PciFunction* f = lookup(static_cast<uint8_t>(bus), dev, fn);
                    if (!f || (f->read32(0) & 0xFFFF) != vendor || (f->read32(0) >> 16) != id) continue;
                    if (index-- != 0) continue;
                    StoreWord(b, 16, bus);
                    StoreWord(b, 20, dev);
                    StoreWord(b, 24, fn);
                    StoreWord(b, 28, 0);
                    return Outcome::Done;
                }
        return Outcome::Done;
    }
    case QVL_PCI_BIOS_SUPPORT: {
        if (!SizeIs(inSize, outSize, 16)) return Outcome::BadParameter;
        uint32_t lastBus = 0;
        for (const auto& f : functions)
            if (f->isBridge() && f->cfg[0x1A] != 0xFF && f->cfg[0x1A] > lastBus) lastBus = f->cfg[0x1A];
        StoreWord(b, 4, spec.biosMechanism);
        StoreWord(b, 8, spec.biosLevel);
        StoreWord(b, 12, lastBus);
        return Outcome::Done;
    }
    case QVL_PCI_BRIDGE_CONFIG_ALL:
        if (!SizeIs(inSize, outSize, 8)) return Outcome::BadParameter;
        return Outcome::Done;
    case QVL_GET_DMA_OVERVIEW: {
        if (inSize < 29 || (outSize != 0 && outSize != inSize)) return Outcome::BadParameter;
        const uint32_t length = LoadWord(b, 24);
        if (static_cast<uint64_t>(length) + 29 != inSize) return Outcome::BadParameter;
        const std::string text = overviewText();
        const uint32_t copy = static_cast<uint32_t>(std::min<size_t>(length, text.size()));
        std::memcpy(b.data() + 28, text.data(), copy);
        b[28 + copy] = 0;
        StoreWord(b, 20, static_cast<uint32_t>(text.size()));
        device.overviewSeen = overviewChanges;
        return Outcome::Done;
    }
    case QVL_WAIT_DMA_OVERVIEW:
        if (!SizeIs(inSize, outSize, 4)) return Outcome::BadParameter;
        if (device.overviewSeen != overviewChanges) {
            device.overviewSeen = overviewChanges;
            return Outcome::Done;
        }
        return Outcome::Pending;
    case QVL_GET_PAGES: {
        if (inSize < 28 || (outSize != 0 && outSize != inSize)) return Outcome::BadParameter;
        const uint32_t count = LoadWord(b, 16);
        if (static_cast<uint64_t>(count) * 4 + 28 != inSize || LoadWord(b, 4) != inSize ||
            LoadWord(b, inSize - 4) != QVL_PAGE_LIST_END)
            return Outcome::BadParameter;
        const uint32_t address = LoadWord(b, 8), length = LoadWord(b, 12);
        if (address == 0 || length == 0) return Outcome::Refused;
        const uint64_t pages = ((address & 0xFFFull) + length + 0xFFF) >> 12;
        if (pages > count || (address & ~0xFFFull) + (pages << 12) > 0x100000000ull) return Outcome::Refused;
        for (uint32_t i = 0; i < pages; ++i)
            StoreWord(b, 24 + 4 * i, physicalOf((address & ~0xFFFu) + 0x1000u * i) & ~0xFFFu);
        StoreWord(b, 20, static_cast<uint32_t>(pages));
        return Outcome::Done;
    }
    default:
        return Outcome::Unsupported;
    }
}

} // namespace boardsim
