// Register access: selection of node and Orlo, shadow write-through and register lists.
#include "regaccess.h"

#include "heap.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "task.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <new>

namespace {

HwRegCtrl_ST g_static{};

// A list or shadow word: board memory goes through the accessor layer, host memory is
// stored directly.
uint32_t ReadMem(uint32_t address)
{
    if (HwIsWindowAddress(address)) return HwRead32(address, 0);
    return *reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(address));
}
void WriteMem(uint32_t address, uint32_t value)
{
    if (HwIsWindowAddress(address))
        HwWrite32(address, 0, value);
    else
        *reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(address)) = value;
}

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Which list a descriptor is and the register block whose pointer register the engine
// moves: 1 grab, 2 VM, 0 other.
int ListKind(const HwRegCtrl_ST* c, const ARPInfo_ST* d, uint32_t* regs)
{
    for (int o = 0; o < 2; ++o) {
        const uint32_t base = o == 0 ? c->primaryRegs : c->displayRegs;
        if (d == &c->grabList[o]) {
            *regs = base;
            return 1;
        }
        if (d == &c->vmList[o]) {
            *regs = base;
            return 2;
        }
    }
    *regs = 0;
    return 0;
}

ARPInfo_ST* SelectedList(HwRegCtrl_ST* c, uint32_t list)
{
    if (list == kArpGrab) return c->grab;
    if (list == kArpVm) return c->vm;
    if (list == kArpPimbra) return c->pimbraListPtr ? c->pimbraListPtr : &c->pimbraList;
    return nullptr;
}

// True when the list takes n more entries; the descriptor's position is left as it was.
bool Room(ARPInfo_ST* d, int n)
{
    if (!d) return false;
    const uint32_t saved = d->current;
    for (int i = 0; i < n; ++i) {
        if (checkARPPtrs(d) != 0) {
            // A full list keeps the position its check left; only a tentative advance
            // for a later entry is undone.
            if (i > 0) d->current = saved;
            return false;
        }
        d->current += 8;
    }
    d->current = saved;
    return true;
}

void Append(ARPInfo_ST* d, uint32_t value, uint32_t address)
{
    checkARPPtrs(d); // wraps at the link entry; room was made sure of before
    WriteMem(d->current, value);
    WriteMem(d->current + 4, address);
    d->current += 8;
}

// Appends the entries to every list the flags select, only when all of them have room
// for all entries, so a register reaches either every list or none (and is retried).
bool AppendToLists(HwRegCtrl_ST* c, uint32_t flags, const uint32_t* values, const uint32_t* addresses, int n)
{
    const bool grab = (flags & kShadowGrabList) != 0;
    const bool vm = (flags & kShadowVmList) != 0;
    if (!grab && !vm) return false;
    if (grab && !Room(c->grab, n)) return false;
    if (vm && !Room(c->vm, n)) return false;
    for (int i = 0; i < n; ++i) {
        if (grab) Append(c->grab, values[i], addresses[i]);
        if (vm) Append(c->vm, values[i], addresses[i]);
    }
    return true;
}

// Where a list's memory came from.  A list in a board-memory heap of its node (the SDRAM
// heap for the primary Orlo, the display heap at 4 MB for the display Orlo) is reached by
// the engines at its bus address; a list from the process heap has none.
struct ListOrigin {
    heap* from = nullptr;     // null: the process heap
    uint32_t node = 0;
    uint32_t start = 0;       // host address of the list's start
    uint32_t bus = 0;         // its bus address (0: none)
};
std::mutex g_originLock;
std::map<const ARPInfo_ST*, ListOrigin>& Origins()
{
    // Never destroyed: a node's threads may still free lists while the process ends.
    static auto& origins = *new std::map<const ARPInfo_ST*, ListOrigin>;
    return origins;
}
ListOrigin OriginOf(const ARPInfo_ST* d)
{
    std::lock_guard<std::mutex> lock(g_originLock);
    auto it = Origins().find(d);
    return it == Origins().end() ? ListOrigin{} : it->second;
}

// The record of the node whose register-control record this is, or null.
_NODE_MAIN_RESOURCE_ST* OwnRecord(const HwRegCtrl_ST* c)
{
    if (!c || c == &g_static || !c->node) return nullptr;
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(c->node);
    return r && r->hwRegCtrl == c ? r : nullptr;
}

// The heap a list of the descriptor comes from: the SDRAM heap for the primary Orlo's
// lists, the display heap at 4 MB for the display Orlo's; null for the process heap.
heap* ListHeap(const HwRegCtrl_ST* c, const ARPInfo_ST* d)
{
    _NODE_MAIN_RESOURCE_ST* r = OwnRecord(c);
    if (!r) return nullptr;
    if (d == &c->grabList[0] || d == &c->vmList[0]) return r->heaps[0];
    if (d == &c->grabList[1] || d == &c->vmList[1]) return r->heaps[3];
    return nullptr;
}

// True while the heap is still one of the node's heaps and holds the address: a heap
// deleted with the node took its lists with it.
bool HeapHolds(uint32_t node, const heap* h, uint32_t address)
{
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r || !h) return false;
    for (const heap* own : r->heaps)
        if (own == h) return address >= mp_mem_heap_start(h) && address < h->end;
    return false;
}

// Gives a list's memory back to where CreateArp took it from and leaves the descriptor
// without a list.
void FreeList(ARPInfo_ST* d)
{
    if (!d->start) return;
    const ListOrigin origin = OriginOf(d);
    {
        std::lock_guard<std::mutex> lock(g_originLock);
        Origins().erase(d);
    }
    if (origin.from) {
        if (HeapHolds(origin.node, origin.from, d->start)) {
            mp_mem_lock();
            mp_mem_free(origin.from, d->start);
            mp_mem_unlock();
        }
    } else {
        std::free(reinterpret_cast<void*>(static_cast<uintptr_t>(d->start)));
    }
    d->start = 0;
    d->count = 0;
}

void FixedWrite(uint32_t offset, uint32_t clear, bool zero)
{
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !c->shadow) return;
    uint32_t* slot = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + offset));
    SetShInHw(slot);
    slot[0] = zero ? 0 : (slot[0] & ~clear);
}

} // namespace

HwRegCtrl_ST* HwRegCtrl = &g_static;
uint32_t* CurrentProtectSemaId = nullptr;

// ---------------------------------------------------------------- set-up

void SetHwRegCtrlPtr(_NODE_MAIN_RESOURCE_ST* record, HwRegCtrl_ST* control)
{
    if (control && control == HwRegCtrl) return;
    HwRegCtrl_ST* target = control;
    if (!target && record) {
        if (!record->hwRegCtrl) record->hwRegCtrl = new (std::nothrow) HwRegCtrl_ST{};
        target = record->hwRegCtrl;
    }
    if (!target) target = &g_static;
    // A record set up again (a later open of the node selects it anew) keeps its register
    // lists: the list engines still point at them, and the node's close frees them.
    const ARPInfo_ST grab[2] = {target->grabList[0], target->grabList[1]};
    const ARPInfo_ST vm[2] = {target->vmList[0], target->vmList[1]};
    const ARPInfo_ST pimbra = target->pimbraList;
    *target = HwRegCtrl_ST{};
    for (int o = 0; o < 2; ++o) {
        target->grabList[o] = grab[o];
        target->vmList[o] = vm[o];
    }
    target->pimbraList = pimbra;
    HwRegCtrl = target;
    if (!record) return;
    if (record->orloState) {
        const uint32_t base = Address(record->orloState);
        target->primaryShadow = base + kStatePrimaryShadow;
        target->displayShadow = base + kStateDisplayShadow;
        target->extShadow = base + kStateExtShadow;
        target->furtherShadow = base + kStateFurther;
    } else {
        const HlcBoardHooks& hooks = HlcGetBoardHooks();
        const uint32_t info = hooks.initInfo(record, 10);
        if (info) {
            uint32_t* words[5] = {&target->primaryShadow, &target->displayShadow, &target->extShadow,
                                  &target->pimbraShadow, &target->furtherShadow};
            for (uint32_t i = 0; i < 5; ++i) *words[i] = hooks.mvpToVirtual(record, ReadMem(info + 4 * i));
        }
    }
    target->primaryRegs = record->primaryRegs;
    target->displayRegs = record->displayRegs;
    target->extPort = record->primaryRegs ? record->primaryPort : record->displayPort;
    target->nodeWord = record->boardControl;
    record->hwRegCtrl = target;
}

void FreeHwRegCtrl(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record || !record->hwRegCtrl) return;
    HwRegCtrl_ST* own = record->hwRegCtrl;
    record->hwRegCtrl = nullptr;
    // The node's register lists go with it.
    for (ARPInfo_ST* d : {&own->grabList[0], &own->grabList[1], &own->vmList[0], &own->vmList[1], &own->pimbraList})
        FreeList(d);
    if (HwRegCtrl == own) HwRegCtrl = &g_static;
    if (own != &g_static) delete own;
}

// ---------------------------------------------------------------- selection

void SetToOrlo(uint32_t node, uint32_t orlo, uint32_t* token)
try {
    if (orlo == 2 && node != 0) return;
    if (HwRegCtrl && token) {
        while (CurrentProtectSemaId != token) {
            TaskBeginMutex();
            if (!CurrentProtectSemaId) CurrentProtectSemaId = token;
            TaskEndMutex();
            if (CurrentProtectSemaId != token) mp_time_sleep(0.0);
        }
        if (*token) {
            TaskWaitSema(static_cast<int32_t>(*token));
            TaskBeginMutex();
            if (!CurrentProtectSemaId) CurrentProtectSemaId = token;
            TaskEndMutex();
        }
    }
    if (_NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node))
        if (record->hwRegCtrl) HwRegCtrl = record->hwRegCtrl;
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return;
    c->node = node;
    c->orlo = orlo;
    if (orlo == 255) {
        c->shadow = 0;
        c->regs = 0;
        c->grab = nullptr;
        c->vm = nullptr;
        return;
    }
    const int o = orlo == 0 ? 0 : 1;
    c->shadow = o == 0 ? c->primaryShadow : c->displayShadow;
    c->regs = o == 0 ? c->primaryRegs : c->displayRegs;
    c->grab = &c->grabList[o];
    c->vm = &c->vmList[o];
}
HLC_EXPORT_CATCH(SetToOrlo)

void ReleaseAccessOrlo()
try {
    if (!HwRegCtrl) return;
    TaskBeginMutex();
    uint32_t* owner = CurrentProtectSemaId;
    CurrentProtectSemaId = nullptr;
    TaskEndMutex();
    if (owner && *owner) TaskSignalSema(static_cast<int32_t>(*owner));
}
HLC_EXPORT_CATCH(ReleaseAccessOrlo)

int WhichOrlo()
try {
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !c->regs) return 2;
    if (c->regs == c->primaryRegs) return 0;
    if (c->regs == c->displayRegs) return 1;
    return 2;
}
HLC_EXPORT_CATCH_AS(WhichOrlo, 2)

void SetToPimbra(uint32_t selection)
try {
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return;
    c->pimbraSelection = selection;
    c->pimbraCurrentShadow = c->pimbraShadow;
    c->pimbraCopy = c->pimbraValue;
    c->pimbraListPtr = &c->pimbraList;
}
HLC_EXPORT_CATCH(SetToPimbra)

void SetToExt(uint32_t node)
try {
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return;
    if (!c->extCurrentShadow && !c->extCurrentPort) c->extNode = c->node;
    uint32_t shadow = c->extShadow;
    uint32_t port = c->extPort;
    if (node != 0 && TaskTaskingState() && node != c->extNode) {
        _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
        if (!record || !record->hwRegCtrl) return;
        shadow = record->hwRegCtrl->extShadow;
        port = record->hwRegCtrl->extPort;
    }
    c->extCurrentShadow = shadow;
    c->extCurrentPort = port;
    c->extNode = node ? node : c->node;
    c->extOrlo = c->orlo;
}
HLC_EXPORT_CATCH(SetToExt)

// ---------------------------------------------------------------- writes

void SetShInHw(uint32_t* slot)
try {
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !slot || (slot[1] & kShadowWritten)) return;
    const uint32_t address = Address(slot);
    if (!c->shadow || address < c->shadow || address - c->shadow >= kOrloShadowBytes || !c->regs) return;
    const uint32_t offset = address - c->shadow;
    const uint32_t flags = slot[1];
    if (!(flags & kShadowListMode)) {
        slot[1] |= kShadowWritten;
        HwWrite32(c->regs, offset, slot[0]);
        return;
    }
    if (flags & kShadowPimbraList) checkARPPtrs(c->pimbraListPtr ? c->pimbraListPtr : &c->pimbraList);
    const uint32_t value = slot[0];
    const uint32_t target = c->regs + offset;
    if (AppendToLists(c, flags, &value, &target, 1)) slot[1] |= kShadowWritten;
}
HLC_EXPORT_CATCH(SetShInHw)

void SetExtShInHw(uint32_t* slot)
try {
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !slot || (slot[1] & kShadowWritten)) return;
    uint32_t shadow = c->extCurrentShadow;
    uint32_t port = c->extCurrentPort;
    if (!shadow && !port) {
        shadow = c->extShadow;
        port = c->extPort;
    }
    const uint32_t address = Address(slot);
    if (!shadow || address < shadow || address - shadow >= kExtShadowBytes) return;
    const uint32_t offset = 2 * (address - shadow);
    const uint32_t value = slot[0];
    if (!(slot[1] & kShadowListMode)) {
        if (!port) return;
        slot[1] |= kShadowWritten;
        HwWrite32(port, offset, value);
        HwWrite32(port, offset + 8, value >> 8);
        return;
    }
    const uint32_t values[2] = {value, value >> 8};
    const uint32_t addresses[2] = {kExtListBase + offset, kExtListBase + offset + 8};
    if (AppendToLists(c, slot[1], values, addresses, 2)) slot[1] |= kShadowWritten;
}
HLC_EXPORT_CATCH(SetExtShInHw)

uint32_t ReadVExtRegHW(uint32_t address)
try {
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    const uint32_t port = c->extCurrentPort ? c->extCurrentPort : c->extPort;
    if (!port) return 0;
    const uint32_t lane = 2 * address - port;
    return (HwRead32(lane, 0) & 0xFF) | ((HwRead32(lane + 8, 0) & 0xFF) << 8);
}
HLC_EXPORT_CATCH(ReadVExtRegHW)

void WrVpctrlInHW() { FixedWrite(kOrloVpControl, 0x103, false); }
void WrVstatusInHW() { FixedWrite(kOrloVpStatus, 0, true); }
void WrVtctrlInHW() { FixedWrite(kOrloVtControl, 0x4, false); }
void WrVarpctrlInHW() { FixedWrite(kOrloVmListControl, 0x3, false); }
void WrHintclrInHW() { FixedWrite(kOrloInterruptClear, 0, true); }
void WrGrabctrlInHW() { FixedWrite(kOrloGrabControl, 0x4, false); }
void WrGstatusInHW() { FixedWrite(kOrloGrabStatus, 0, true); }
void WrGarpctrlInHW() { FixedWrite(kOrloGrabListControl, 0x3, false); }

// ---------------------------------------------------------------- lists

int testOF(ARPInfo_ST* d)
{
    if (!d) return 1;
    if (d->current != d->end) return 0;
    uint32_t regs = 0;
    const int kind = ListKind(HwRegCtrl, d, &regs);
    if (kind != 0 && regs) {
        d->end = ArpListHost(d, HwRead32(regs, kind == 2 ? kOrloVmListPointer : kOrloGrabListPointer));
        if (d->end != d->current) return 0;
    }
    d->mark = kArpOverflowMark;
    return 1;
}

int checkARPPtrs(ARPInfo_ST* d)
{
    if (!d || !d->start || d->count == 0) return -1;
    if (testOF(d)) return -1;
    if (d->current == d->start + 8 * (d->count - 1)) {
        d->current = d->start;
        if (testOF(d)) return -1;
    }
    return 0;
}

uint32_t ArpListBus(const ARPInfo_ST* d)
{
    if (!d || !d->start) return 0;
    const ListOrigin origin = OriginOf(d);
    return origin.bus && origin.start == d->start ? origin.bus : d->start;
}

uint32_t ArpListHost(const ARPInfo_ST* d, uint32_t address)
{
    if (!d || !d->start) return address;
    const ListOrigin origin = OriginOf(d);
    if (!origin.bus || origin.start != d->start || address < origin.bus || address - origin.bus >= 8 * d->count)
        return address;
    return d->start + (address - origin.bus);
}

void SetARPListPtr(uint32_t memory, uint32_t entries, uint32_t list)
{
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !memory || entries == 0) return;
    ARPInfo_ST* d = SelectedList(c, list);
    if (!d) return;
    d->count = entries;
    d->start = d->current = memory;
    d->end = memory + 8 * (entries - 1);
    d->mark = 0;
    const uint32_t link = d->end;
    WriteMem(link + 4, memory);
    if (list == kArpPimbra) return;
    const uint32_t pointer = list == kArpVm ? kOrloVmListPointer : kOrloGrabListPointer;
    WriteMem(link, c->regs + pointer);
    // The engine follows the list at its bus address.
    const uint32_t address = ArpListBus(d);
    if (c->shadow) {
        uint32_t* slot = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + pointer));
        slot[0] = (slot[0] & 0xFC000000u) | (address & 0x03FFFFFFu);
    }
    if (c->regs) HwWrite32(c->regs, pointer, address);
}

void CreateArp(uint32_t list, uint32_t entries)
{
    HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return;
    ARPInfo_ST* d = SelectedList(c, list);
    if (!d) return;
    if (d->start) {
        if (entries == 0) FreeList(d);
        return;
    }
    if (entries == 0) return;
    const uint32_t bytes = ((8u * entries) & ~63u) + 64u;
    // The node's board memory for the Orlo, so that its engines reach the list; the
    // process heap when the node has no such heap.
    ListOrigin origin;
    uint32_t memory = 0;
    if (heap* h = ListHeap(c, d)) {
        mp_mem_lock();
        memory = mp_mem_memalign(h, 64, bytes);
        mp_mem_unlock();
        if (!memory) return;
        origin.from = h;
        origin.node = c->node;
        origin.start = memory;
        origin.bus = mp_util_virtual_to_pci(c->node, memory);
    } else {
        memory = Address(std::aligned_alloc(64, bytes));
        if (!memory) return;
    }
    for (uint32_t i = 0; i < 2 * entries; ++i) WriteMem(memory + 4 * i, 0);
    {
        std::lock_guard<std::mutex> lock(g_originLock);
        Origins()[d] = origin;
    }
    SetARPListPtr(memory, entries, list);
}
