// Node open: driver device, attachment, DMA region table, Orlo windows and presets
// (InitNewNode), node state block and registration (InitRemoteNode).
#include "nodeopen.h"
#include "halcyraini.h"
#include "hwaccess.h"
#include "inthooks.h"
#include "pci.h"
#include "qvlservice.h"
#include "sysdma.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

_MP_DMA_REGION_ST* HlcDmaRegionTable = nullptr;

namespace {

constexpr uint32_t kNoWindowsMode = 0x20000000u;
constexpr uint32_t kHostNode = 0xFF;
constexpr uint32_t kDisplayMemory = 0x200000;
constexpr uint32_t kPresenceBit = 0x80000000u;

uint32_t g_process = 0;              // own process token, opened by the first node
DeviceEvent* g_sharedEvent = nullptr;
_PCI_FOUND_DEVICE* g_boardList = nullptr;
bool g_boardListRead = false;
_NODE_ST g_hostFallback{};           // host block while the core provides none
// Never destroyed: a node's threads may still use it while the process ends.
std::map<uint32_t, _PCI_FOUND_DEVICE*>& g_devices = *new std::map<uint32_t, _PCI_FOUND_DEVICE*>; // matched board of each node

// Where each node's display chip takes its PCI configuration cycles; the node record has
// no word for it.  Read by the display code on other threads, hence the lock.
struct ChipPciPlace {
    uint8_t bus, device, function;
};
std::mutex g_chipPciLock;
// Never destroyed: a node's threads may still use it while the process ends.
std::map<uint32_t, ChipPciPlace>& g_chipPci = *new std::map<uint32_t, ChipPciPlace>;

void RememberChipPci(uint32_t node, const _PCI_FOUND_DEVICE* found)
{
    std::lock_guard<std::mutex> lock(g_chipPciLock);
    if (found && (found->functions & 8))
        g_chipPci[node & 0xFF] = {found->bus, found->device, 1};
    else
        g_chipPci.erase(node & 0xFF);
}

_NODE_ST* HostBlock()
{
    _NODE_ST* block = HlcGetBoardHooks().hostNodeState();
    return block ? block : &g_hostFallback;
}

uint32_t Map(const _NODE_MAIN_RESOURCE_ST* record, uint32_t region, uint32_t size, uint32_t offset)
{
    uint32_t address = 0;
    if (!HlcDrvMap(record->device, record->nodeEvent, static_cast<uint32_t>(record->nodeNumber),
                   region, size, offset, &address))
        return 0;
    return address;
}

// Applies ini register fields to one word of a window.
void ApplyFields(uint32_t node, uint32_t window, uint32_t offset, std::initializer_list<const char*> keys)
{
    uint32_t word = HwRead32(window, offset);
    const uint32_t before = word;
    for (const char* key : keys) HalcyraIniReadTag(node, key, &word);
    if (word != before) HwWrite32(window, offset, word);
}

// The presence test on the interrupt registers of an Orlo.
bool OrloAnswers(uint32_t regs)
{
    const bool wasSet = (HwRead32(regs, kOrloInterruptSet) & kPresenceBit) != 0;
    bool present = false;
    HwWrite32(regs, kOrloInterruptClear, kPresenceBit);
    if (!(HwRead32(regs, kOrloInterruptSet) & kPresenceBit)) {
        HwWrite32(regs, kOrloInterruptSet, kPresenceBit);
        if (HwRead32(regs, kOrloInterruptSet) & kPresenceBit) {
            HwWrite32(regs, kOrloInterruptClear, kPresenceBit);
            present = !(HwRead32(regs, kOrloInterruptSet) & kPresenceBit);
        }
    }
    if (wasSet) HwWrite32(regs, kOrloInterruptSet, kPresenceBit);
    return present;
}

uint32_t MemoryOffset(uint32_t product, uint32_t size, uint32_t top)
{
    if (product == 5 && top == kPrimaryMemoryTop) {
        if (size == 0x200000) return 0x3300000;
        if (size == 0x400000) return 0x3200000;
    }
    return top - size;
}

bool BuildDmaTable(uint32_t node)
{
    uint32_t largest = HalcyraIniReadTag(node, "LargestDmaBlock", nullptr);
    uint32_t revision = 0, unused = 0, last = 0;
    if (!QvlSerManager.GetRevision(&revision, &unused, &last)) return false;
    uint32_t count = 0;
    for (uint32_t i = 0; i <= last && i < 64; ++i) {
        uint32_t start = 0, size = 0;
        if (!QvlSerManager.GetDriverInfo(i, &start, &size)) continue;
        // A block size of 0 keeps each region whole.
        count += (largest ? size / largest : 0) + 1;
    }
    auto* table = static_cast<_MP_DMA_REGION_ST*>(std::calloc(count + 1, sizeof(_MP_DMA_REGION_ST)));
    if (!table) return false;
    uint32_t n = 0;
    for (uint32_t i = 0; i <= last && i < 64; ++i) {
        uint32_t start = 0, size = 0;
        if (!QvlSerManager.GetDriverInfo(i, &start, &size)) continue;
        uint32_t at = start, rest = size;
        while (rest > 0 && n < count) {
            uint32_t piece = largest ? largest - (at % largest) : rest;
            if (piece > rest) piece = rest;
            _MP_DMA_REGION_ST& e = table[n++];
            e.physical = at;
            e.size = piece;
            uint32_t id = 0, user = 0;
            if (QvlSerManager.DmaBufferCreateId(at, piece, 1, 8, &id, 0, 0, 0, 0, 0, nullptr, 0) &&
                QvlSerManager.DmaBufferGetPtr(id, &user, 0)) {
                e.id = id;
                e.user = user;
            }
            at += piece;
            rest -= piece;
        }
    }
    HlcDmaRegionTable = table;
    return true;
}

void SaveHeader(uint8_t bus, uint8_t device, uint8_t function, uint8_t* header)
{
    for (uint8_t r = 0; r < 64; r += 4) {
        uint32_t v = 0xFFFFFFFFu;
        PciConfigReadDword(DefaultAccessType, bus, device, function, r, &v);
        std::memcpy(header + r, &v, 4);
    }
}

void ApplyPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function, const char* prefix)
{
    uint32_t command = 0, timer = 0;
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x04, &command);
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x0C, &timer);
    static const char* const kCommand[] = {"serren", "perrsp", "bsmstr", "memspc", "dpardctd",
                                           "rtrgtab", "rmstrab", "ssyserr", "dctdperr"};
    char key[64];
    for (const char* field : kCommand) {
        std::snprintf(key, sizeof key, "%s.pcstatuscmd.%s", prefix, field);
        HalcyraIniReadTag(node, key, &command);
    }
    std::snprintf(key, sizeof key, "%s.pchdttmr.pclattmr", prefix);
    HalcyraIniReadTag(node, key, &timer);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x04, command);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x0C, timer);
}

} // namespace

uint32_t HlcNodeNumber(uint32_t system, uint32_t board)
{
    if (system > 14 || board > 14) return 255;
    return (((system + 1) << 4) & 0xF0) + ((board + 1) & 0x0F);
}

void InitPrimaryPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function)
{
    ApplyPciConfig(node, bus, device, function, "primary");
}

void InitDisplayPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function)
{
    ApplyPciConfig(node, bus, device, function, "display");
}

void InitPpbPciConfig(uint32_t node, uint8_t bus, uint8_t device, uint8_t function)
{
    uint32_t command = 0, timer = 0, control = 0, retry = 0;
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x04, &command);
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x0C, &timer);
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x40, &control);
    PciConfigReadDword(DefaultAccessType, bus, device, function, 0x4C, &retry);
    HalcyraIniReadTag(node, "ppb.pchdttmr.pcchlnsz", &timer);
    HalcyraIniReadTag(node, "ppb.pchdttmr.pclattmr", &timer);
    for (const char* key : {"ppb.pcppbctrl.pwipostm", "ppb.pcppbctrl.pwpostm", "ppb.pcppbctrl.prmprefm",
                            "ppb.pcppbctrl.prprefm", "ppb.pcppbctrl.swipostm", "ppb.pcppbctrl.swpostm",
                            "ppb.pcppbctrl.srmprefm", "ppb.pcppbctrl.srprefm"})
        HalcyraIniReadTag(node, key, &control);
    HalcyraIniReadTag(node, "ppb.pcppbretry.retrycross", &retry);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x04, command);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x0C, timer);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x40, control);
    PciConfigWriteDword(DefaultAccessType, bus, device, function, 0x4C, retry);
}

int InitNodePciInfo(_NODE_MAIN_RESOURCE_ST* record, uint32_t system, uint32_t board, _PCI_FOUND_DEVICE** device)
{
    *device = nullptr;
    const uint32_t node = HlcNodeNumber(system, board);
    RememberChipPci(node, nullptr);
    if (!HalcyraIniGetFile(0)) return 0;
    _PCI_FOUND_DEVICE* found = nullptr;
    _HALCYRA_INI_ST* ini = nullptr;
    if (!HalcyraIniMatchNode(node, &found, &ini)) return 0;
    _NODE_ST* block = record->nodeState ? record->nodeState : HostBlock();
    std::memset(block->savedHeaders, 0, sizeof block->savedHeaders);
    const uint8_t bus = found->secondaryBus;
    if (found->functions & 1) {
        InitPrimaryPciConfig(node, bus, 0, 0);
        SaveHeader(bus, 0, 0, block->savedHeaders[0]);
    }
    if (found->functions & 2) {
        InitDisplayPciConfig(node, bus, 1, 0);
        SaveHeader(bus, 1, 0, block->savedHeaders[1]);
        if (found->functions & 8) SaveHeader(found->bus, found->device, 1, block->savedHeaders[2]);
    }
    if (found->functions & 4) {
        InitPpbPciConfig(node, found->bus, found->device, found->bridgeFunction);
        SaveHeader(found->bus, found->device, found->bridgeFunction, block->savedHeaders[3]);
        for (uint8_t r = 0; r < 64; r += 4)
            PciConfigReadDword(DefaultAccessType, found->bus, found->device, found->bridgeFunction,
                               static_cast<uint8_t>(0x40 + r), &block->bridgeDwords[r / 4]);
    }
    block->orlo[0].present = (found->functions & 1) != 0;
    block->orlo[1].present = (found->functions & 2) != 0;
    block->chip.present = (found->functions & 8) != 0;
    block->bridgePresent = (found->functions & 4) != 0;
    g_devices[node] = found;
    RememberChipPci(node, found);
    *device = found;
    return 1;
}

uint32_t InitNewNode(uint32_t system, uint32_t board, uint32_t mode, _NODE_MAIN_RESOURCE_ST* record,
                     _PCI_FOUND_DEVICE** device)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = HlcNodeNumber(system, board);
    if (device) *device = nullptr;
    _PCI_FOUND_DEVICE* local = nullptr;
    _PCI_FOUND_DEVICE** out = device ? device : &local;

    // Already open in this process.
    if (node <= 254) {
        if (_NODE_MAIN_RESOURCE_ST* listed = hooks.nodeResource(node)) {
            if (listed != record) *record = *listed;
            uint32_t status = record->primaryRegs ? 1 : 3;
            if (record->displayRegs) status &= ~NODE_NO_DISPLAY;
            status |= NODE_OPEN_HERE;
            const uint32_t word = record->primaryRegs ? HwRead32(record->primaryRegs, kOrloStatus) : 0;
            if (!(record->primaryRegs && (word == 0 || (word & 0x40)))) status |= NODE_NO_PROCESSOR;
            auto it = g_devices.find(node);
            if (it != g_devices.end()) *out = it->second;
            return status;
        }
    }

    if (!g_process) {
        if (!QvlSerManager.Valid()) return NODE_NO_SERVICE;
        g_process = DeviceOpenOwnProcess();
        g_sharedEvent = new (std::nothrow) DeviceEvent(true, true);
        if (!g_process || !g_sharedEvent) {
            HlcCloseProcessShared();
            return NODE_NO_SERVICE;
        }
    }
    uint32_t revision = 0, unused = 0, last = 0;
    if (!QvlSerManager.GetRevision(&revision, &unused, &last) || revision != QVL_REVISION) return NODE_NO_SERVICE;
    ConfigAllPciDevices(0);
    _NODE_ST* host = HostBlock();
    if (!g_boardListRead) {
        PciGetHalcyraList(&g_boardList);
        g_boardListRead = true;
        host->boardList = g_boardList;
    }
    if (node > 254) return NODE_BAD_NODE;
    record->nodeState = host;
    record->nodeNumber = static_cast<int32_t>(node);
    if (!InitNodePciInfo(record, system, board, out)) return NODE_BAD_NODE;
    _PCI_FOUND_DEVICE* found = *out;

    record->section = new CRITICAL_SECTION;
    InitializeCriticalSection(record->section);
    record->nodeEvent = new DeviceOverlapped{};
    record->nodeEvent->event = new DeviceEvent(true, false);
    char name[32];
    HlcNodeDeviceName(HlcBoardSuffix(*found), name, sizeof name);
    record->device = DeviceOpen(name);
    if (record->device == kInvalidDevice) return NODE_NO_SERVICE;
    if (!HlcDrvInterfaceCheck(record->device, record->nodeEvent)) return NODE_NO_SERVICE;
    int32_t reply = 0;
    if (!HlcDrvAttach(record->device, record->nodeEvent, g_process, DeviceProcessId(), node, &reply))
        return NODE_BAD_NODE;
    if (reply < 0) return 3;
    uint32_t status = 3;
    const bool other = reply > 0;
    if (other) status |= NODE_OTHER_PROCESS;

    if (!HlcDmaRegionTable && record->openCount != -1) BuildDmaTable(node);
    record->dmaRegions = HlcDmaRegionTable;
    host->dmaRegions = HlcDmaRegionTable;

    if (found->functions & 1) {
        record->primaryShadow = Map(record, HLC_REGION_PRIMARY, kOrloShadowSize, kOrloShadowOffset);
        if (record->primaryShadow && !other) {
            ApplyFields(node, record->primaryShadow, 0, {"primary.hwftrsh.hwfrtrsh"});
            ApplyFields(node, record->primaryShadow, 4, {"primary.hrftrsh.hrfwtrsh", "primary.hrftrsh.hrfrtrsh"});
            ApplyFields(node, record->primaryShadow, 16, {"primary.mrftrsh.mrfwtrsh", "primary.mrftrsh.mrfrtrsh"});
            ApplyFields(node, record->primaryShadow, 32, {"primary.vrftrsh.vrfwtrsh", "primary.vrftrsh.vrfrtrsh"});
        }
        const uint32_t regs = Map(record, HLC_REGION_PRIMARY, kOrloRegisterSize, kOrloRegisterOffset);
        if (regs && !other) {
            ApplyFields(node, regs, kOrloBusControl, {"primary.hbusctrl.orlorcmd", "primary.hbusctrl.mvprcmd"});
            ApplyFields(node, regs, kOrloMemControl, {"primary.memctrl.refrate", "primary.memctrl.reqprty"});
            ApplyFields(node, regs, kOrloAccessTiming,
                        {"primary.macctmng.disctmr", "primary.macctmng.mrasmax", "primary.macctmng.mmingnt"});
        }
        if (regs) {
            const uint32_t processor = (HwRead32(regs, kOrloStatus) >> 6) & ~0xFEu;
            host->product = hooks.productId(found, processor);
        }
        const uint32_t config = regs ? HwRead32(regs, kOrloMemControl) : 0;
        const uint32_t size = hooks.boardMemSize(host->product, &config);
        host->orlo[0].memorySize = size;
        if (regs && (other || OrloAnswers(regs))) {
            record->primaryRegs = regs;
            status &= ~NODE_NO_PRIMARY;
            if (!(mode & kNoWindowsMode) && size) {
                record->primaryMemory = Map(record, HLC_REGION_PRIMARY, size, MemoryOffset(host->product, size, kPrimaryMemoryTop));
                record->primaryMemorySize = record->primaryMemory ? size : 0;
            }
            record->primaryPort = Map(record, HLC_REGION_PRIMARY, kOrloPortSize, kOrloPortOffset);
        }
    }

    if (found->functions & 2) {
        record->displayShadow = Map(record, HLC_REGION_DISPLAY, kOrloShadowSize, kOrloShadowOffset);
        if (record->displayShadow && !other) {
            ApplyFields(node, record->displayShadow, 0, {"display.hwftrsh.hwfrtrsh"});
            ApplyFields(node, record->displayShadow, 4, {"display.hrftrsh.hrfwtrsh", "display.hrftrsh.hrfrtrsh"});
            ApplyFields(node, record->displayShadow, 32, {"display.vrftrsh.vrfwtrsh", "display.vrftrsh.vrfrtrsh"});
        }
        const uint32_t regs = Map(record, HLC_REGION_DISPLAY, kOrloRegisterSize, kOrloRegisterOffset);
        if (regs && !other) {
            ApplyFields(node, regs, kOrloBusControl, {"display.hbusctrl.orlorcmd"});
            ApplyFields(node, regs, kOrloMemControl, {"display.memctrl.refrate"});
            ApplyFields(node, regs, kOrloAccessTiming,
                        {"display.macctmng.disctmr", "display.macctmng.mrasmax", "display.macctmng.mmingnt"});
            ApplyFields(node, regs, kOrloDhDelay, {"display.dhdelay.dhdelay"});
        }
        host->orlo[1].memorySize = kDisplayMemory;
        if (regs && (other || OrloAnswers(regs))) {
            record->displayRegs = regs;
            if (found->functions & 8) {
                status &= ~NODE_NO_DISPLAY;
                if (!(mode & kNoWindowsMode)) {
                    record->displayMemory = Map(record, HLC_REGION_DISPLAY, kDisplayMemory, kDisplayMemoryTop - kDisplayMemory);
                    record->displayMemorySize = record->displayMemory ? kDisplayMemory : 0;
                }
                record->displayPort = Map(record, HLC_REGION_DISPLAY, kOrloPortSize, kOrloPortOffset);
                record->displayMemoryWord = kDisplayMemory;
                if (!(mode & kNoWindowsMode)) {
                    record->chipRegs = Map(record, HLC_REGION_CHIP, kChipRegisterSize, 0);
                    record->chipFrame = Map(record, HLC_REGION_CHIP, kChipFrameSize, 1);
                }
            }
        }
    }

    host->boardWord = HlcBoardSuffix(*found);
    const uint32_t product = host->product;
    if (other && (product == 3 || product == 5 || product == 6 || product == 7))
        status |= NODE_NO_PRIMARY | NODE_NO_DISPLAY;
    if (!record->primaryRegs || !(HwRead32(record->primaryRegs, kOrloStatus) & kStatusProcessor)) status |= NODE_NO_PROCESSOR;
    return status;
}

_NODE_ST* InitRemoteNode(_NODE_MAIN_RESOURCE_ST* record, uint32_t kind)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    _NODE_ST* host = HostBlock();
    // The processor keeps its own state block in board memory: a window address, reached
    // only through the accessors.  The host works on a copy of its own block and reads
    // the processor's words (the communication state) from the board.
    const uint32_t boardState = kind <= 1 ? hooks.initInfo(record, 9) : 0;
    _NODE_ST* copy = new (std::nothrow) _NODE_ST(*host);
    if (!copy) return nullptr;
    // The copy carries the node's record as its own record, unlinked.
    copy->own = *record;
    copy->own.next = nullptr;
    copy->own.previous = nullptr;
    copy->boardState = boardState;
    // The processor's block says whether it serves the node; known before the node is
    // listed and hooked, so that the node's runtime, which starts on the first hook, makes
    // no ring or objects of its own for it.
    if (boardState) copy->started = HwRead32(boardState, offsetof(_NODE_ST, started));
    _NODE_ST* block = copy;
    const uint32_t listedNode = node | (record->openCount == -1 ? 0x80000000u : 0);
    if (hooks.insertNode(listedNode, block, record) != 0) {
        delete copy;
        return nullptr;
    }
    // From here on the block belongs to the node list.
    copy = nullptr;
    _NODE_MAIN_RESOURCE_ST* listed = hooks.nodeResource(node);
    if (listed && listed->commRing && listed->nodeState && listed->nodeState->ready) {
        if (listed != record) *record = *listed;
        return record->nodeState;
    }

    if (kind >= 1 && kind <= 3) {
        block->orlo[0] = host->orlo[0];
        block->orlo[1] = host->orlo[1];
        block->chip = host->chip;
        block->primaryWindow = host->primaryWindow;
        block->displayWindow = host->displayWindow;
        block->frameWindow = host->frameWindow;
        block->interruptWord = 0x20000000u;
        auto it = g_devices.find(node);
        if (it != g_devices.end()) {
            const _PCI_FOUND_DEVICE* d = it->second;
            for (int o = 0; o < 2; ++o) {
                if (!(d->functions & (1u << o))) continue;
                uint32_t bar = 0;
                PciConfigReadDword(DefaultAccessType, d->secondaryBus, static_cast<uint8_t>(o), 0, 0x10, &bar);
                const uint32_t base = bar & kOrloBarAlign;
                const uint32_t size = host->orlo[o].memorySize;
                _NODE_ORLO_WINDOWS& w = block->orlo[o];
                uint32_t& window = o == 0 ? block->primaryWindow : block->displayWindow;
                window = o == 0 ? base + MemoryOffset(block->product, size, kPrimaryMemoryTop)
                                : base + kDisplayMemoryTop - size;
                w.base = base;
                w.memorySize = size;
                w.registers = base + kOrloRegisterOffset;
                w.port = base + kOrloPortOffset;
                // Processor addresses are for a block the processor takes over; the host's
                // copy beside the processor's own block keeps the bus addresses its
                // address conversions work with.
                if (kind == 1 && !block->boardState) {
                    window = hooks.pciToMvp(node, window);
                    w.registers = hooks.pciToMvp(node, w.registers);
                    w.port = hooks.pciToMvp(node, w.port);
                }
            }
            if (d->functions & 8) {
                // The display chip's windows: its two base registers, aligned to 16 bytes.
                uint32_t regs = 0, frame = 0;
                PciConfigReadDword(DefaultAccessType, d->bus, d->device, 1, 0x10, &regs);
                PciConfigReadDword(DefaultAccessType, d->bus, d->device, 1, 0x14, &frame);
                block->chip.registers = regs & ~15u;
                block->frameWindow = frame & ~15u;
                block->chip.frameSize = kChipFrameSize;
            }
        }
    }
    if (kind <= 1) {
        // Entry 8 is the processor's address of its ring, whose 64-byte header lies just
        // before the slot base as in a ring the host makes; entry 10 comes converted.
        record->commRing = hooks.mvpToVirtual(record, hooks.initInfo(record, 8));
        record->ringHeader = record->commRing ? record->commRing - 64 : 0;
        record->doorbellArea = hooks.initInfo(record, 10);
    }
    if (kind != 2 && !HlcDrvNodeRecord(record->device, record->nodeEvent, record)) return nullptr;
    if (!record->nodeArea) record->nodeArea = static_cast<uint8_t*>(std::calloc(1, kNodeAreaBytes));
    if (kind == 3 && listed && !listed->nodeState) listed->nodeState = block;
    record->nodeState = block;
    if (kind >= 1 && kind <= 3) {
        if (_HALCYRA_INI_ST* ini = HalcyraIniForThisNode(node)) {
            const uint32_t* words = reinterpret_cast<const uint32_t*>(ini);
            std::memcpy(block->iniWords, words + 16, sizeof block->iniWords);
            // The VM-port list (partners and the node itself) and the reserved VM numbers
            // that the copy dispatch and the VM sections read.
            std::memcpy(block->vmPortList, ini->VmPartners, sizeof block->vmPortList);
            std::memcpy(block->vmNumbers, ini->VmExternalDevices, sizeof block->vmNumbers);
            if (record->primaryRegs && record->displayRegs) block->interruptWord = words[7];
        }
        if (record->primaryRegs) {
            HwWrite32(record->primaryRegs, kOrloStatus, HwRead32(record->primaryRegs, kOrloStatus) | kStatusPortOption);
            HwWrite32(record->primaryRegs, kOrloSectionWord, 0);
            if (record->displayRegs)
                HwWrite32(record->displayRegs, kOrloStatus, HwRead32(record->displayRegs, kOrloStatus) & ~kStatusPortOption);
        } else if (record->displayRegs) {
            HwWrite32(record->displayRegs, kOrloStatus, HwRead32(record->displayRegs, kOrloStatus) | kStatusPortOption);
            HwWrite32(record->displayRegs, kOrloSectionWord, 0);
        }
        if (record->displayRegs) {
            for (uint32_t offset : {0x2840u, 0x2878u, 0x28C8u}) HwWrite32(record->displayRegs, offset, 0xFFFFFFFFu);
            if (node != kHostNode) {
                block->displayBlock[0] = 2;
                block->displayBlock[1] = 1;
                block->displayBlock[2] = 1;
                block->displayBlock[3] = record->displayMemoryWord > kDisplayMemory ? 0x40000030u : 0x40000020u;
            }
        }
        block->moduleType = hooks.externalBoardId(record);
        block->modulePresent = block->moduleType >= 1 && block->moduleType <= 6 ? 1 : 0;
    }
    if (kind != 2) {
        ScanAndSetHalcyraHookList(node, HalcyraListOnly(), static_cast<int32_t>(kHalcyraSpecialSource), nullptr, nullptr);
        if (hooks.hookMessageHandler) hooks.hookMessageHandler(node);
        for (uint32_t regs : {record->primaryRegs, record->displayRegs})
            if (regs) HwWrite32(regs, kOrloInterruptSet, 1);
        if (kind == 1 && record->primaryRegs)
            HwWrite32(record->primaryRegs, kOrloMemControl, HwRead32(record->primaryRegs, kOrloMemControl) | kMemControlStart);
    }
    hooks.biosInfo(record);
    if (kind == 1) block->started = 1;
    if (listed && listed != record) {
        // The listed record takes the platform fields made here, then the caller gets it whole.
        HlcCopyPlatformFields(listed, record);
        // The BIOS record read into the caller's record is kept by the listed one, which
        // frees it at the node's shut-down; a second reading is not kept.
        if (record->biosInfo && record->biosInfo != listed->biosInfo) {
            if (listed->biosInfo)
                std::free(record->biosInfo);
            else
                listed->biosInfo = record->biosInfo;
            record->biosInfo = nullptr;
        }
        *record = *listed;
    }
    return block;
}

void HlcCopyPlatformFields(_NODE_MAIN_RESOURCE_ST* to, const _NODE_MAIN_RESOURCE_ST* from)
{
    if (!to || !from || to == from) return;
    to->device = from->device;
    to->accessMode = from->accessMode;
    to->nodeEvent = from->nodeEvent;
    to->section = from->section;
    to->boardControl = from->boardControl;
    to->primaryShadow = from->primaryShadow;
    to->primaryMemorySize = from->primaryMemorySize;
    to->primaryMemory = from->primaryMemory;
    to->primaryRegs = from->primaryRegs;
    to->primaryPort = from->primaryPort;
    to->displayShadow = from->displayShadow;
    to->displayMemorySize = from->displayMemorySize;
    to->displayMemory = from->displayMemory;
    to->displayRegs = from->displayRegs;
    to->displayPort = from->displayPort;
    to->chipRegs = from->chipRegs;
    to->chipFrame = from->chipFrame;
    to->dmaRegions = from->dmaRegions;
    to->nodeArea = from->nodeArea;
    // A ring that the node's runtime made in host memory for a host-served node stays
    // when the other record knows none.
    if (from->ringHeader || !to->ringHeader) {
        to->commRing = from->commRing;
        to->doorbellArea = from->doorbellArea;
        to->ringHeader = from->ringHeader;
    }
    to->displayMemoryWord = from->displayMemoryWord;
}

int32_t HlcNodeCommState(const _NODE_ST* block)
{
    if (!block) return 0;
    if (block->boardState)
        return static_cast<int32_t>(HwRead32(block->boardState, offsetof(_NODE_ST, commState)));
    return block->commState;
}

bool HlcNodeChipPci(uint32_t node, uint8_t* bus, uint8_t* device, uint8_t* function)
{
    std::lock_guard<std::mutex> lock(g_chipPciLock);
    auto it = g_chipPci.find(node & 0xFF);
    if (it == g_chipPci.end()) return false;
    if (bus) *bus = it->second.bus;
    if (device) *device = it->second.device;
    if (function) *function = it->second.function;
    return true;
}

_NODE_ST* HlcHostNodeState()
{
    return HostBlock();
}

void HlcFreeDmaRegionTable()
{
    if (!HlcDmaRegionTable) return;
    for (_MP_DMA_REGION_ST* e = HlcDmaRegionTable; e->physical; ++e)
        if (e->id) QvlSerManager.DmaBufferFree(e->id, 0, 0, 0);
    std::free(HlcDmaRegionTable);
    HlcDmaRegionTable = nullptr;
    HostBlock()->dmaRegions = nullptr;
}

void HlcCloseProcessShared()
{
    if (g_process) DeviceCloseOwnProcess(g_process);
    g_process = 0;
    delete g_sharedEvent;
    g_sharedEvent = nullptr;
    if (g_boardList) PciFreeHalcyraList(&g_boardList);
    g_boardList = nullptr;
    g_boardListRead = false;
    // The ini reader's own list of the boards found goes too: the next open looks again.
    HalcyraIniForgetPciFoundDevices();
    HostBlock()->boardList = nullptr;
    g_devices.clear();
    std::lock_guard<std::mutex> lock(g_chipPciLock);
    g_chipPci.clear();
}
