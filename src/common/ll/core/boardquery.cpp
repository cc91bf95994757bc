// Board identification, the board processor's start, the SDRAM heap and address
// conversion between the host, the PCI bus and the board processor.
#include "heap.h"
#include "hwlock.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "regmap/display_regs.h"
#include "halcyraini.h"
#include "nodelist.h"
#include "pci.h"
#include "sysdma.h"

#include <cstring>

namespace {


_NODE_ST* State(uint32_t node, _NODE_MAIN_RESOURCE_ST** record)
{
    _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
    *record = r;
    return r ? r->nodeState : nullptr;
}

// Bus base of the primary Orlo's window (its top five bits).
uint32_t BusBase(const _NODE_ST* s)
{
    return s->orlo[0].base & kOrloBarAlign;
}

bool Inside(uint32_t address, uint32_t start, uint32_t size)
{
    return size && address >= start && static_cast<uint64_t>(address) < static_cast<uint64_t>(start) + size;
}

// The processor window of a second-family board starts here above the bus base.
uint32_t ModelFiveOffset(uint32_t size)
{
    return size == 0x200000 ? 0x3300000 : 0x3200000;
}

} // namespace

// ---------------------------------------------------------------- board queries

uint32_t mp_sys_external_board_id(_NODE_MAIN_RESOURCE_ST* record)
try {
    if (!record) return kModuleNoPort;
    uint32_t regs = 0, port = 0;
    if (record->primaryRegs && record->primaryPort) {
        regs = record->primaryRegs;
        port = record->primaryPort;
    } else if (record->displayRegs && record->displayPort) {
        regs = record->displayRegs;
        port = record->displayPort;
    } else {
        return kModuleNoPort;
    }
    const uint32_t option = HwRead32(regs, kOrloStatus);
    HwWrite32(regs, kOrloStatus, option & ~kStatusPortOption);
    if (regs == record->primaryRegs && record->displayRegs)
        HwWrite32(record->displayRegs, kOrloStatus, HwRead32(record->displayRegs, kOrloStatus) & ~kStatusPortOption);
    uint32_t value = 0;
    for (int i = 0; i < 16; ++i) value = HwRead32(port, 0);
    HwWrite32(regs, kOrloStatus, (HwRead32(regs, kOrloStatus) & ~kStatusPortOption) | (option & kStatusPortOption));
    switch (value & 0xFF) {
    case 24: return 34;
    case 28: return 2;
    case 32:
    case 253: return 4;
    case 33: return 6;
    case 127: return 128;
    case 252: return 5;
    case 254: return 1;
    case 255: return kModuleNone;
    default: return kModuleUnknown;
    }
}
HLC_EXPORT_CATCH(mp_sys_external_board_id)

const TProductIdSt ProductId[24] = {
    {{0x02, 0xFF, 0x80}, 0, 4},    {{0x06, 0xFF, 0x00}, 0, 4},    {{0x04, 0xFF, 0x00}, 0, 4},
    {{0x08, 0xFF, 0x00}, 0, 4},    {{0x02, 0xFF, 0x80}, 1, 2},    {{0x02, 0xFF, 0x00}, 1, 2},
    {{0x06, 0xFF, 0x00}, 1, 2},    {{0x04, 0xFF, 0x00}, 1, 1},    {{0x04, 0xFF, 0x01}, 1, 1},
    {{0x04, 0xFF, 0x03}, 1, 1},    {{0x04, 0xFF, 0x04}, 1, 1},    {{0x04, 0xFF, 0x05}, 1, 1},
    {{0x08, 0xFF, 0x01}, 0xFF, 3}, {{0x04, 0xFF, 0x01}, 0, 3},    {{0x08, 0xFF, 0x03}, 0xFF, 6},
    {{0x08, 0xFF, 0x04}, 0xFF, 6}, {{0x08, 0xFF, 0x05}, 0xFF, 6}, {{0x04, 0xFF, 0x03}, 0, 6},
    {{0x04, 0xFF, 0x04}, 0, 6},    {{0x04, 0xFF, 0x05}, 0, 6},    {{0x08, 0xFF, 0x06}, 0xFF, 7},
    {{0x04, 0xFF, 0x06}, 0, 7},    {{0xFF, 0x01, 0x02}, 0xFF, 5}, {{0xFF, 0x01, 0x22}, 0xFF, 5},
};

uint32_t mp_sys_get_product_id(const _PCI_FOUND_DEVICE* device, uint32_t processor)
try {
    if (!device) return IM_DEV_HALCYRA_UNDEF;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(device);
    for (const TProductIdSt& row : ProductId) {
        bool match = row.processor == 0xFF || row.processor == processor;
        for (int i = 0; i < 3 && match; ++i) match = row.id[i] == 0xFF || row.id[i] == bytes[4 + i];
        if (match) return row.product;
    }
    return IM_DEV_HALCYRA_UNDEF;
}
HLC_EXPORT_CATCH(mp_sys_get_product_id)

uint32_t mp_sys_get_board_mem_size(uint32_t model, const void* config)
try {
    if (!config) return 0;
    if (model == IM_DEV_SORVIK_II_DIG) {
        const uint8_t c = *static_cast<const uint8_t*>(config);
        if ((c & 29) == 0) return 0x200000;
        if ((c & 29) == 16) return 0x400000;
        switch (c & 13) {
        case 4: return 0x800000;
        case 5: return 0x2000000;
        case 12: return 0x1000000;
        case 13: return 0x3FFF000;
        default: return 0;
        }
    }
    uint32_t w = 0;
    std::memcpy(&w, config, sizeof w);
    if (!(w & 32)) return (w & 24) == 0 ? 0x600000 : (w & 24) << 18;
    const uint32_t mib = ((w & 24) << (2 * (w & 1))) >> ((w >> 1) & 2);
    return mib == 64 ? 0x3FFF000 : mib << 20;
}
HLC_EXPORT_CATCH(mp_sys_get_board_mem_size)

namespace {

// Reads the information block from the expansion ROM of the display chip's second
// function, which shows in the frame window while enabled.
_VgaBiosInfoSt* ReadRom(_NODE_MAIN_RESOURCE_ST* record)
{
    // The board word of the node state holds the PCI device number in bits 8-15.
    const uint8_t device = static_cast<uint8_t>(record->nodeState->boardWord >> 8);
    uint32_t rom = 0, option = 0, bar = 0;
    PciConfigReadDword(DefaultAccessType, 0, device, 1, 0x30, &rom);
    PciConfigReadDword(DefaultAccessType, 0, device, 1, 0x40, &option);
    PciConfigWriteDword(DefaultAccessType, 0, device, 1, 0x40, option | 0x40000000u);
    PciConfigReadDword(DefaultAccessType, 0, device, 1, 0x14, &bar);
    PciConfigWriteDword(DefaultAccessType, 0, device, 1, 0x30, ((bar & ~15u) + kChipRomOffset) | 1u);
    _VgaBiosInfoSt* info = nullptr;
    if (HwRead16(record->chipFrame, kChipRomOffset) == kChipRomSignature) {
        const uint32_t at = HwRead16(record->chipFrame, kChipRomOffset + kChipRomInfoPointer);
        // The block must lie inside the window.
        if (kChipRomOffset + at + sizeof(_VgaBiosInfoSt) <= kChipFrameSize) {
            info = static_cast<_VgaBiosInfoSt*>(safe_malloc(sizeof(_VgaBiosInfoSt)));
            if (info) HwReadBlock(record->chipFrame, kChipRomOffset + at, info, sizeof *info);
        }
    }
    PciConfigWriteDword(DefaultAccessType, 0, device, 1, 0x40, option);
    PciConfigWriteDword(DefaultAccessType, 0, device, 1, 0x30, rom);
    if (info && (info->size != 64 || info->check == 0)) {
        safe_free(info);
        info = nullptr;
    }
    return info;
}

void PrintBiosInfo(uint32_t node, const _VgaBiosInfoSt& info)
{
    char serial[11];
    std::memcpy(serial, info.serial, 10);
    serial[10] = '\0';
    HlcPrint("Halcyra Baseboard at Node Id 0x%02x\n", node);
    HlcPrint("============================================================\n");
    HlcPrint("PCB ID: %d-%02d  Rev. %c\n", info.pcbId >> 5, info.pcbId & 31, 64 + info.revision);
    HlcPrint("Serial #: %s\n", serial);
    HlcPrint("Manufacturing date: %2d/%2d/%4d\n", (info.date >> 5) & 15, info.date & 31, (info.date >> 9) + 1900);
    if (info.pcbId == 0x4700 && (info.options & 1)) HlcPrint("This board has display interlace capability.\n");
    if ((info.pcbId & 0xFFE0) == 0x4700 && (info.options & 2)) HlcPrint("This board has a fix for display problem.\n");
    HlcPrint("------------------------------------------------------------\n\n");
}

} // namespace

_VgaBiosInfoSt* mp_sys_get_bios_info(uint32_t node, _NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) record = mp_sys_node_resource_ptr(node);
    if (!record || !record->nodeState || !record->chipFrame) return nullptr;
    node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    auto* info = static_cast<_VgaBiosInfoSt*>(record->biosInfo);
    if (!info && record->displayRegs && record->nodeState->orlo[1].present && record->nodeState->chip.present) {
        info = ReadRom(record);
        if (info) {
            if ((info->pcbId & 0xFFE0) == 0x4700 && (info->options & 2))
                HalcyraIniWriteTag(node, "display.dclksel.dclksel", 1023);
            record->biosInfo = info;
            if (record->openCount != -1 && HalcyraIniReadTag(node, "DisplayBoardInfo", nullptr))
                PrintBiosInfo(node, *info);
        }
    }
    if (record->displayRegs) {
        uint32_t word = HwRead32(record->displayRegs, kOrloDisplayClock);
        HalcyraIniReadTag(node, "display.dclksel.dclksel", &word);
        HwWrite32(record->displayRegs, kOrloDisplayClock, word);
    }
    return info;
}

namespace {


uint32_t CpuState(uint32_t regs)
{
    return (HwRead32(regs, kOrloMemControl) & kMemControlResetStateMask) >> kMemControlResetStateShift;
}

void SetReset(uint32_t regs, bool on)
{
    const uint32_t v = HwRead32(regs, kOrloMemControl);
    HwWrite32(regs, kOrloMemControl, on ? v | kMemControlCpuReset : v & ~kMemControlCpuReset);
}

// Stops the grab and VM engines of one Orlo and clears its doorbells, lock and timer.
void QuietOrlo(uint32_t regs, bool primary)
{
    for (uint32_t list : {kOrloGrabListControl, kOrloVmListControl}) {
        HwWrite32(regs, list, HwRead32(regs, list) & ~1u);
        HwWrite32(regs, list, HwRead32(regs, list) & ~2u);
    }
    for (uint32_t control : {kOrloGrabControl, kOrloVtControl}) {
        const uint32_t v = HwRead32(regs, control) & ~2u;
        HwWrite32(regs, control, v | 1u);
        HwWrite32(regs, control, v & ~1u);
    }
    HwWrite32(regs, kOrloInterruptClear, 0xFFFFFFFFu);
    for (uint32_t r : {kOrloInterruptMask, kOrloLock, kOrloMailbox, kOrloSectionWord, kOrloTimerControl, kOrloTimerCounter})
        HwWrite32(regs, r, 0);
    for (uint32_t r : {kOrloListBlock, kOrloVmBlock}) HwWrite32(regs, r, primary ? 0 : HwRead32(regs, r) & 0x1FFFFFu);
}

} // namespace

void mp_sys_rst_hlt_board(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return;
    const uint32_t primary = record->primaryRegs;
    if (primary) SetReset(primary, true);
    if (record->displayRegs) QuietOrlo(record->displayRegs, false);
    if (primary) QuietOrlo(primary, true);
    if (!primary || !(HwRead32(primary, kOrloStatus) & kStatusProcessor)) {
        mp_sys_lock_reset(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
        return;
    }
    mp_sys_lock_check(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
    SetReset(primary, true);
    SetReset(primary, false);
    HwWrite32(primary, kOrloInterruptSet, 0x80000000u);
    // Follow the processor through its reset states.
    uint32_t last = CpuState(primary);
    for (;;) {
        int reads = 10000;
        while (reads > 0 && (last < 4 || last > 10)) {
            last = CpuState(primary);
            --reads;
        }
        uint32_t now = last;
        int more = 1000;
        while (more > 0 && now == last) {
            now = CpuState(primary);
            --more;
        }
        const bool advanced = now == last + 1;
        last = now;
        if (!advanced || more == 0) break;
    }
    SetReset(primary, true);
    SetReset(primary, false);
    for (int reads = 0; reads < 1000 && CpuState(primary) <= last; ++reads) {
    }
}

void mp_sys_start_local_cpu(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record || !record->primaryRegs) return;
    HwWrite32(record->primaryRegs, kOrloInterruptClear, kInterruptCpuStart);
    HwWrite32(record->primaryRegs, kOrloInterruptSet, kInterruptCpuStart);
    HwWrite32(record->primaryRegs, kOrloInterruptClear, kInterruptCpuStart);
}

// ---------------------------------------------------------------- heaps

int mp_init_sdram_heap(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = nullptr;
    _NODE_ST* s = State(node, &record);
    if (!s || !s->orlo[0].present || !record->primaryMemory || !s->orlo[0].memorySize) return -1;
    int result = 0;
    mp_mem_lock();
    if (!record->heaps[0]) {
        record->heaps[0] = mp_mem_new_heap(nullptr, record->primaryMemory, s->orlo[0].memorySize, 0);
        if (!record->heaps[0]) result = -1;
    }
    mp_mem_unlock();
    return result;
}

// ---------------------------------------------------------------- address conversion

uint32_t mp_util_pci_to_mvp(uint32_t node, uint32_t bus)
try {
    _NODE_MAIN_RESOURCE_ST* r = nullptr;
    const _NODE_ST* s = State(node, &r);
    if (!s || !s->orlo[0].present || !bus) return 0;
    return bus - BusBase(s) - kProcessorOffset;
}
HLC_EXPORT_CATCH(mp_util_pci_to_mvp)

uint32_t mp_util_mvp_to_pci(uint32_t node, uint32_t processor)
try {
    _NODE_MAIN_RESOURCE_ST* r = nullptr;
    const _NODE_ST* s = State(node, &r);
    if (!s || !s->orlo[0].present || !processor) return 0;
    return BusBase(s) + processor + kProcessorOffset;
}
HLC_EXPORT_CATCH(mp_util_mvp_to_pci)

uint32_t mp_util_mvp_to_mvp(uint32_t destination, uint32_t source, uint32_t processor)
try {
    return mp_util_pci_to_mvp(destination, mp_util_mvp_to_pci(source, processor));
}
HLC_EXPORT_CATCH(mp_util_mvp_to_mvp)

uint32_t mp_util_pci_to_virtual(uint32_t node, uint32_t bus)
try {
    _NODE_MAIN_RESOURCE_ST* r = nullptr;
    const _NODE_ST* s = State(node, &r);
    if (!s || !bus) return 0;
    const uint32_t base = BusBase(s);
    const uint32_t size = s->orlo[0].memorySize;
    if (s->product == IM_DEV_SORVIK_II_DIG) {
        if (size != 0x200000 && size != 0x400000) return 0;
        const uint32_t start = base + ModelFiveOffset(size);
        return r->primaryMemory && Inside(bus, start, size) ? r->primaryMemory + (bus - start) : 0;
    }
    if (r->primaryMemory && Inside(bus, s->primaryWindow, size))
        return r->primaryMemory - base + size + bus - kProcessorOffset;
    // Mend: from the window's start (word 522), not word 60's base, which lies 0x600000 - size below it.
    if (r->displayMemory && Inside(bus, s->displayWindow, s->orlo[1].memorySize))
        return r->displayMemory - s->displayWindow + bus;
    if (r->chipFrame && s->chip.present && Inside(bus, s->frameWindow, s->chip.frameSize))
        return r->chipFrame - s->frameWindow + bus;
    HlcNodeLink link;
    link.node = static_cast<uint32_t>(r->nodeNumber);
    link.device = r->device;
    link.overlapped = r->nodeEvent;
    link.dmaRegions = r->dmaRegions;
    return mp_sys_map_hw_physical_address(&link, static_cast<uint32_t>(-1), bus, 1);
}
HLC_EXPORT_CATCH(mp_util_pci_to_virtual)

uint32_t mp_util_virtual_to_pci(uint32_t node, uint32_t host)
try {
    _NODE_MAIN_RESOURCE_ST* r = nullptr;
    const _NODE_ST* s = State(node, &r);
    if (!s || !host) return 0;
    const uint32_t base = BusBase(s);
    const uint32_t size = s->orlo[0].memorySize;
    if (s->product == IM_DEV_SORVIK_II_DIG) {
        if (size != 0x200000 && size != 0x400000) return 0;
        return r->primaryMemory && Inside(host, r->primaryMemory, size)
                   ? base + ModelFiveOffset(size) + (host - r->primaryMemory)
                   : 0;
    }
    if (r->primaryMemory && Inside(host, r->primaryMemory, size))
        return host - r->primaryMemory + base - size + kProcessorOffset;
    if (r->displayMemory && Inside(host, r->displayMemory, s->orlo[1].memorySize))
        return host - r->displayMemory + s->displayWindow;
    // Mend: the bus base is word 744, as the other direction takes it; word 80 holds none here.
    if (r->chipFrame && s->chip.present && s->frameWindow && Inside(host, r->chipFrame, s->chip.frameSize))
        return host - r->chipFrame + s->frameWindow;
    return 0;
}
HLC_EXPORT_CATCH(mp_util_virtual_to_pci)

uint32_t mp_util_mvp_to_virtual(uint32_t node, uint32_t processor)
try {
    return mp_util_pci_to_virtual(node, mp_util_mvp_to_pci(node, processor));
}
HLC_EXPORT_CATCH(mp_util_mvp_to_virtual)

uint32_t mp_util_virtual_to_mvp(uint32_t node, uint32_t host)
try {
    return mp_util_pci_to_mvp(node, mp_util_virtual_to_pci(node, host));
}
HLC_EXPORT_CATCH(mp_util_virtual_to_mvp)

uint32_t mp_util_translate_pstr(uint32_t node, uint32_t processor)
try {
    if (!processor) return 0;
    _NODE_MAIN_RESOURCE_ST* r = nullptr;
    const _NODE_ST* s = State(node, &r);
    if (!s) return 0;
    if (!s->started || mp_sys_this_node_id() == (node & 0xFF)) return processor;
    return mp_util_mvp_to_virtual(node, processor);
}
HLC_EXPORT_CATCH(mp_util_translate_pstr)
