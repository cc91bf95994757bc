// Buffer banks of the second grab-module family and the start-up transfer lists.  Bank
// memory sits in board memory windows, so every word of it is written through the
// accessor layer; host memory (list buffers of other callers) is written directly.
#include "kvxbank.h"

#include "bufid.h"
#include "camrec.h"
#include "eeprom.h"
#include "extshadow.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "kvxio.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "reqres.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kTerminator = kArpControl;
constexpr uint32_t kBankEntries = 5;
constexpr uint32_t kEntryType[kBankEntries] = {kKvxPlainType, kKvxAlignedType, kKvxPlainType, kKvxAlignedType,
                                               kKvxPlainType};
constexpr uint32_t kHalfBytes = 65536;
constexpr uint32_t kOrloControlBit23 = 0x800000;
constexpr uint32_t kOrloControlBit13 = 0x2000;
constexpr uint32_t kCamModeEmpty = 99;
// findSize: the doubling stops here, far above any board memory, so the size never wraps.
constexpr uint32_t kFindSizeCap = 0x40000000u;

uint32_t Addr(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

void Store32(uint32_t address, uint32_t value)
{
    if (HwIsWindowAddress(address))
        HwWrite32(address, 0, value);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &value, 4);
}

void Store16(uint32_t address, uint16_t value)
{
    if (HwIsWindowAddress(address))
        HwWrite16(address, 0, value);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &value, 2);
}

uint32_t SelectedNode()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    return c->extNode ? c->extNode : c->node;
}

uint32_t NodeOf(const MP_RESOURCE_ST* res)
{
    if (res && res->record) return static_cast<uint32_t>(res->record->nodeNumber) & 0xFF;
    return res ? res->node & 0xFF : SelectedNode() & 0xFF;
}

uint32_t Pci(uint32_t node, uint32_t address)
{
    return mp_util_virtual_to_pci(node, address);
}

// The shadow slot word of the Orlo control register (0x2020) of Orlo 0 or 1.
uint32_t* OrloControlShadow(const _NODE_MAIN_RESOURCE_ST* record, int orlo)
{
    if (!record || !record->hwRegCtrl) return nullptr;
    const uint32_t shadow = orlo == 0 ? record->hwRegCtrl->primaryShadow : record->hwRegCtrl->displayShadow;
    if (!shadow) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(shadow + kOrloControl));
}

// The node's external register shadow, where the four live register copies lie.
uint8_t* ExtShadow(const _NODE_MAIN_RESOURCE_ST* record)
{
    uint32_t shadow = record && record->hwRegCtrl ? record->hwRegCtrl->extShadow : 0;
    if (!shadow) shadow = Addr(mpPrvExtShadow());
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(shadow));
}

void FreeBank(KVX_BANK_ENTRY* bank)
{
    for (uint32_t e = 0; e < kBankEntries; ++e) {
        if (bank[e].buffer) mp_buf_free(bank[e].buffer);
        bank[e] = KVX_BANK_ENTRY{};
    }
}

// Completes a bank: entries kept from an earlier allocation stay, missing ones are
// allocated.  false when one could not be had (the whole bank is then freed).
bool FillBank(uint32_t node, KVX_BANK_ENTRY* bank, uint32_t location)
{
    for (uint32_t e = 0; e < kBankEntries; ++e) {
        if (bank[e].buffer && bank[e].address) continue;
        if (bank[e].buffer) mp_buf_free(bank[e].buffer);
        bank[e] = KVX_BANK_ENTRY{};
        _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(kKvxEntryBytes[e]), 1, 1, kEntryType[e],
                                             location);
        void* address = b ? mp_buf_address_band_internal(b, 0) : nullptr;
        if (!b || !address) {
            if (b) mp_buf_free(b);
            FreeBank(bank);
            return false;
        }
        bank[e].buffer = b;
        bank[e].address = static_cast<uint8_t*>(address);
    }
    return true;
}

// Step 4: in entry 0 a jump to each half of entry 1.  Each half is full of terminators
// already: clearMem filled the whole entry just before.
void HalfJumps(uint32_t node, const KVX_BANK_ENTRY* bank)
{
    const uint32_t e0 = Addr(bank[0].address);
    const uint32_t e1 = Addr(bank[1].address);
    for (uint32_t h = 0; h < 2; ++h) {
        const uint32_t half = e1 + (h == 0 ? kHalfBytes : 0);
        const uint32_t at = e0 + 264 * h;
        Store16(at + 256, 0);
        Store16(at + 258, static_cast<uint16_t>((Pci(node, half) >> 16) & 0x3FF));
        Store32(at + 260, kArpJump);
    }
}

// Step 5: the buffer controller's start values in the current copy and the record.
void InitController(uint8_t* copy, _MP_CAM_ST_1* camera)
{
    using namespace cam1;
    auto both = [&](uint32_t slot, uint32_t value) {
        CamSlotAt(camera, slot)->value = value;
        CamSlotAt(copy, slot)->value = value;
    };
    auto bits = [&](uint32_t slot, uint32_t set, uint32_t clear) {
        both(slot, (CamSlotAt(camera, slot)->value | set) & ~clear);
    };
    both(BTC_GDBUF(0), 0);
    both(BTC_GDBUF(1), 0);
    both(BTC_NODMA(0), 0);
    both(BTC_NODMA(1), 0);
    both(BTC_AIDCYC, 17);
    bits(BTC_GGRBIX, 0xED1, 0x12E);
    bits(BTC_DDMAIX, 0xED3, 0x12C);
    if (CamSlotAt(camera, BTC_CLKSEL)->value == 0) both(BTC_CLKSEL, 9);
    else CamSlotAt(copy, BTC_CLKSEL)->value = CamSlotAt(camera, BTC_CLKSEL)->value;
    bits(BTC_GBUFCTL, 0x5, 0);
    for (uint32_t slot : {BTC_GDBUF(0), BTC_NODMA(0), BTC_GDBUF(1), BTC_NODMA(1), BTC_AIDCYC, BTC_GGRBIX,
                          BTC_DDMAIX, BTC_CLKSEL, BTC_GBUFCTL})
        flushHw(KvxRegAddr(slot), static_cast<int32_t>(CamSlotAt(copy, slot)->value & 0xFFFF));
}

// Step 6: dummy targets and the start-up lists of one bank.
void StartupLists(uint32_t node, const KVX_BANK_ENTRY* bank, uint8_t* copy, uint32_t orloControl, int32_t mode)
{
    using namespace cam1;
    const uint32_t e0 = Addr(bank[0].address);
    const uint32_t e1 = Addr(bank[1].address);
    const uint32_t e4 = Addr(bank[4].address);
    const uint32_t dummy = e1 + kKvxDummyOffset;
    if (mode != static_cast<int32_t>(kCamModeEmpty)) {
        const uint32_t id = Pci(node, dummy) & 0xFFFF;
        CamSlotAt(copy, BTC_GDUMID)->value = id;
        CamSlotAt(copy, BTC_DDUMID)->value = id;
        Store16(e0 + 520, static_cast<uint16_t>(id));
        Store16(e0 + 256, static_cast<uint16_t>(id));
        flushHw(KvxRegAddr(BTC_GDUMID), static_cast<int32_t>(id));
        flushHw(KvxRegAddr(BTC_DDUMID), static_cast<int32_t>(id));
    }
    auto pci = [&](uint32_t address) { return Pci(node, address) & kArpAddressMask; };
    const ARP_ENTRY block[8] = {
        {orloControl | kOrloControlBit23, kArpOrloControl},
        {3, kArpControl},
        {8192, kArpIntClear},
        {0xCD381B, 0x2001830},
        {0xCD381A, 0x2001830},
        {orloControl & ~kOrloControlBit23, kArpOrloControl},
        {3, kArpControl},
        {4096, kArpIntClear},
    };
    ARP_ENTRY list[21];
    ARP_ENTRY* cursor = list;
    loadARP(&cursor, kArpJump, pci(e1 + 32528));
    loadARP(&cursor, kArpJump, pci(e1 + 32600));
    for (const ARP_ENTRY& e : block) loadARP(&cursor, e.command, e.value);
    loadARP(&cursor, kArpJump, pci(e0 + 256));
    for (const ARP_ENTRY& e : block) loadARP(&cursor, e.command, e.value);
    loadARP(&cursor, kArpDoorbell, 128);
    loadARP(&cursor, kArpJump, pci(e0 + 256));
    for (uint32_t i = 0; i < 21; ++i) {
        Store32(dummy + 8 * i, list[i].value);
        Store32(dummy + 8 * i + 4, list[i].command);
    }
    const uint32_t second = e1 + kKvxSecondListOffset;
    Store32(second, pci(e4 + 64));
    Store32(second + 4, kArpJump);
    Store32(second + 8, pci(e4 + 312));
    Store32(second + 12, kArpJump);
}

} // namespace

// ---- transfer lists -------------------------------------------------------------------------

void clearMem(uint32_t bytes, void* address)
{
    uint32_t at = Addr(address);
    int64_t count = bytes;
    while (at & 7) {
        at += 4;
        count -= 4;
    }
    if (count <= 0) return;
    const uint32_t entries = static_cast<uint32_t>((count + 7) / 8);
    std::vector<ARP_ENTRY> fill(entries, ARP_ENTRY{0, kTerminator});
    if (HwIsWindowAddress(at))
        HwWriteBlock(at, 0, fill.data(), entries * 8);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), fill.data(), entries * 8);
}

void loadARP(ARP_ENTRY** cursor, uint32_t command, uint32_t value)
{
    if (!cursor || !*cursor) return;
    const uint32_t at = Addr(*cursor);
    Store32(at, value);
    Store32(at + 4, command);
    ++*cursor;
}

uint32_t convertAddr(const void* address)
{
    return Pci(SelectedNode() & 0xFF, Addr(address));
}

// ---- banks --------------------------------------------------------------------------------

int kvxAlloc(MP_RESOURCE_ST* res, _MP_CAM_ST_1* camera, int32_t mode)
{
    const uint32_t node = NodeOf(res);
    _NODE_MAIN_RESOURCE_ST* record = node ? mp_sys_node_resource_ptr(node) : nullptr;
    if (!record) return -1;

    // Step 1.  The banks of an earlier allocation are kept for reuse instead of being lost
    // with the record's contents.
    // Mend: the record is zeroed but its banks are reused, so a new camera does not leak the old banks' board memory.
    KVX_INFO* info = mpPrvKvxInfo(node);
    if (!info) {
        info = new (std::nothrow) KVX_INFO{};
        if (!info) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (record->nodeState) record->nodeState->moduleLoaded = 0;
            return -1;
        }
        mpPrvSetKvxInfo(node, info);
    }
    KVX_BANK_ENTRY kept[2][kBankEntries];
    std::memcpy(kept, info->bank, sizeof kept);
    std::memset(static_cast<void*>(info), 0, sizeof *info);
    std::memcpy(info->bank, kept, sizeof kept);
    uint8_t* shadow = ExtShadow(record);
    for (uint32_t c = 0; c < kKvxChannels; ++c) info->regs[c] = shadow ? shadow + c * cam1::kRecordBytes : nullptr;

    // Step 2.
    const bool orlo[2] = {record->primaryRegs != 0, record->displayRegs != 0};
    const uint32_t location[2] = {kKvxBank0Location, kKvxBank1Location};
    for (int b = 0; b < 2; ++b) {
        if (!orlo[b]) {
            FreeBank(info->bank[b]);
            continue;
        }
        if (!FillBank(node, info->bank[b], location[b])) {
            // Mend: a bank short of a buffer is freed and reported as failed, so no grab runs on a missing buffer.
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (record->nodeState) record->nodeState->moduleLoaded = 0;
            return -1;
        }
        if (uint32_t* control = OrloControlShadow(record, b)) *control = (*control | kOrloControlBit23) & ~kOrloControlBit13;
    }

    // Step 3 and 4.
    for (int b = 0; b < 2; ++b) {
        if (!orlo[b]) continue;
        for (uint32_t e = 0; e < kBankEntries; ++e) clearMem(kKvxEntryBytes[e], info->bank[b][e].address);
        HalfJumps(node, info->bank[b]);
    }

    // Step 5.
    if (camera && mode != static_cast<int32_t>(kCamModeEmpty) && info->regs[0]) InitController(info->regs[0], camera);

    // Step 6.
    for (int b = 0; b < 2; ++b) {
        if (!orlo[b] || !info->regs[0]) continue;
        const uint32_t* control = OrloControlShadow(record, b);
        StartupLists(node, info->bank[b], info->regs[0], control ? *control : 0, mode);
    }
    return 0;
}

// Mend: the banks are freed with their node, so a closed node does not leave its board memory taken.
void mpPrvKvxFree(uint32_t node)
{
    KVX_INFO* info = mpPrvKvxInfo(node);
    if (!info) return;
    mpPrvSetKvxInfo(node, nullptr);
    for (auto& bank : info->bank) FreeBank(bank);
    delete info;
}

uint32_t findSize(uint32_t node, uint32_t attribute)
{
    auto fits = [&](uint32_t bytes) {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(bytes), 1, 1, kKvxPlainType, attribute);
        if (!b) return false;
        mp_buf_free(b);
        return true;
    };
    uint32_t size = 1024;
    if (!fits(size)) return 0;
    while (size < kFindSizeCap && fits(size * 2)) size *= 2;
    for (uint32_t step = size / 2; step >= 8; step /= 2)
        if (fits(size + step)) size += step;
    return size;
}

void heapInit(uint32_t node)
{
    for (uint32_t attribute : {kLocDisplay0, kLocDisplay2M, kLocDisplay4M}) {
        const uint32_t size = findSize(node, attribute);
        if (size == 0) continue;
        _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(size), 1, 1, 0x10000008u, attribute);
        if (!b) continue;
        clearMem(size, mp_buf_address_band_internal(b, 0));
        mp_buf_free(b);
    }
}
