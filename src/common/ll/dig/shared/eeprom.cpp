// Three-wire EEPROM access of both grab-module families.  Commands go out MSB first, each
// bit presented on data in and clocked with one toggle; the clock edges are paced by a busy
// loop scaled by the processor speed, the completion of a write by the library clock.
#include "eeprom.h"

#include "camrec.h"
#include "extshadow.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "nodelist.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"

#include <map>
#include <vector>

namespace {

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;
constexpr uint32_t kAddressMask = grabregs::kEepromWords - 1;
constexpr int kEepromTimeoutEntry = 2;

// The lines of one family's EEPROM register, and how the register reaches the module.
struct Port {
    uint32_t dataIn;
    uint32_t clock;
    uint32_t select;
    uint32_t dataOut;
    uint32_t* value;  // word 0 of the register's slot: the shadow, or the KVX register copy
    bool straight;    // second family: the 16-bit copy written straight to the module
    uint32_t offset;  // the register's slot offset in the module's register space
};

uint32_t PortBase()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    return c->extCurrentPort ? c->extCurrentPort : c->extPort;
}

void Write(const Port& p)
{
    if (p.straight) {
        const uint32_t base = PortBase();
        if (!base) return;
        HwWrite32(base, 2 * p.offset, *p.value & 0xFF);
        HwWrite32(base, 2 * p.offset + 8, (*p.value >> 8) & 0xFF);
        return;
    }
    p.value[1] &= ~kFlagBits;
    SetExtShInHw(p.value);
}

void Change(const Port& p, uint32_t set, uint32_t clear)
{
    *p.value = (*p.value & ~0xFFFFu) | (((*p.value & 0xFFFFu) & ~clear) | set);
}

// The bit delay: a loop the optimiser must keep, since the device's timing rests on it.
void BitDelay()
{
    const uint32_t loops = mpPrvEepromBitLoops();
    for (volatile uint32_t i = 0; i < loops; i = i + 1) {
    }
}

void SetData(const Port& p) { Change(p, p.dataIn, 0); Write(p); Write(p); }
void ClrData(const Port& p) { Change(p, 0, p.dataIn); Write(p); Write(p); }
void SetSelect(const Port& p) { Change(p, p.select, 0); Write(p); Write(p); }
void ClrSelect(const Port& p) { Change(p, 0, p.select); Write(p); Write(p); }
void SetClock(const Port& p) { BitDelay(); Change(p, p.clock, 0); Write(p); }
void ClrClock(const Port& p) { BitDelay(); Change(p, 0, p.clock); Write(p); }
void Toggle(const Port& p) { SetClock(p); ClrClock(p); }
void Reset(const Port& p) { Change(p, 0, 0xFFFF); Write(p); }

bool DataOut(const Port& p)
{
    const uint32_t base = PortBase();
    if (!base) return false;
    return (ReadVExtRegHW(base + p.offset) & p.dataOut) != 0;
}

void SendBits(const Port& p, uint32_t bits, int count)
{
    for (int b = count - 1; b >= 0; --b) {
        ((bits >> b) & 1) ? SetData(p) : ClrData(p);
        Toggle(p);
    }
}

// EWEN and EWDS: 0, 1 0 0, 1 1 (or 0 0), eight 0s, between chip select high and low.
void WriteEnable(const Port& p)
{
    SetSelect(p);
    SendBits(p, 0x13, 6);
    SendBits(p, 0, 8);
    ClrSelect(p);
}
void WriteDisable(const Port& p)
{
    SetSelect(p);
    SendBits(p, 0x10, 6);
    SendBits(p, 0, 8);
    ClrSelect(p);
}

// Polls data out every millisecond until the device reports ready: 0, or 1 when the
// EEPROM time-out passed first.
int CompletionWait(const Port& p)
{
    const double limit = mp_sys_timeout(kEepromTimeoutEntry);
    const double start = mp_time_clock(0.0);
    for (;;) {
        if (DataOut(p)) return 0;
        if (mp_time_clock(start) >= limit) return 1;
        mp_time_sleep(0.001);
    }
}

uint16_t Read(const Port& p, uint32_t address)
{
    ClrData(p);
    ClrClock(p);
    SetSelect(p);
    SendBits(p, 0x6, 3);
    SendBits(p, address & kAddressMask, 10);
    ClrData(p);
    (void)DataOut(p);
    uint16_t word = 0;
    for (int i = 0; i < 16; ++i) {
        Toggle(p);
        BitDelay();
        word = static_cast<uint16_t>((word << 1) | (DataOut(p) ? 1 : 0));
    }
    Toggle(p);
    BitDelay();
    ClrSelect(p);
    return word;
}

// A writing command: write enable, the command's bits, then the device's ready signal.
// On a time-out chip select is dropped and writing disabled again as on success, so the
// device is left neither selected nor open to writes.
int Writing(const Port& p, const std::vector<std::pair<uint32_t, int>>& command)
{
    Reset(p);
    WriteEnable(p);
    ClrData(p);
    ClrClock(p);
    SetSelect(p);
    for (const auto& [bits, count] : command) SendBits(p, bits, count);
    ClrData(p);
    ClrSelect(p);
    BitDelay();
    SetSelect(p);
    BitDelay();
    const int result = CompletionWait(p);
    ClrSelect(p);
    WriteDisable(p);
    Reset(p);
    return result;
}

bool StandardPort(Port* p)
{
    uint32_t* slot = mpPrvExtSlot(grabregs::Slot(grabregs::kEepromPort));
    if (!slot) return false;
    *p = Port{grabregs::kEepromDataIn, grabregs::kEepromClock, grabregs::kEepromSelect, grabregs::kEepromDataOut, slot,
              false, grabregs::Slot(grabregs::kEepromPort)};
    return true;
}

bool KvxPort(Port* p)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return false;
    KVX_INFO* info = mpPrvKvxInfo(c->extNode ? c->extNode : c->node);
    if (!info || !info->regs[0]) return false;
    uint32_t* slot = reinterpret_cast<uint32_t*>(info->regs[0] + cam1::BTC_EEPPRG);
    *p = Port{0x2, 0x1, 0x8, 0x4, slot, true, cam1::BTC_EEPPRG};
    return true;
}

std::map<uint32_t, KVX_INFO*>& KvxTable()
{
    // Never destroyed: a node's threads may still use it while the process ends.
    static std::map<uint32_t, KVX_INFO*>& table = *new std::map<uint32_t, KVX_INFO*>;
    return table;
}

using Command = std::vector<std::pair<uint32_t, int>>;
Command WriteCommand(uint32_t address, uint16_t data) { return {{0x5, 3}, {address & kAddressMask, 10}, {data, 16}}; }
Command EraseCommand(uint32_t address) { return {{0x7, 3}, {address & kAddressMask, 10}}; }
// 0, 1 0 0, 1 0, eight 0s
Command EraseAllCommand() { return {{0x12, 6}, {0, 8}}; }
// 0, 1 0 0, 0 1, eight 0s, data
Command WriteAllCommand(uint16_t data) { return {{0x11, 6}, {0, 8}, {data, 16}}; }

} // namespace

KVX_INFO* mpPrvKvxInfo(uint32_t node)
{
    const auto it = KvxTable().find(node & 0xFF);
    return it == KvxTable().end() ? nullptr : it->second;
}

void mpPrvSetKvxInfo(uint32_t node, KVX_INFO* info)
{
    if (info)
        KvxTable()[node & 0xFF] = info;
    else
        KvxTable().erase(node & 0xFF);
}

uint32_t mpPrvEepromBitLoops()
{
    double speed = 1000000000.0;
    if (imNodeSt && imNodeSt->cpuFrequency != 0) speed = imNodeSt->cpuFrequency;
    return static_cast<uint32_t>(speed * 9e-7 * 0.25);
}

uint16_t mp_dig_get_eeprom(uint32_t address)
try {
    Port p;
    return StandardPort(&p) ? Read(p, address) : 0;
}
HLC_EXPORT_CATCH(mp_dig_get_eeprom)
int mp_dig_set_eeprom(uint32_t address, uint16_t data)
try {
    Port p;
    return StandardPort(&p) ? Writing(p, WriteCommand(address, data)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_dig_set_eeprom, 1)
int mp_dig_erase_eeprom(uint32_t address)
try {
    Port p;
    return StandardPort(&p) ? Writing(p, EraseCommand(address)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_dig_erase_eeprom, 1)
int mp_dig_erase_eeprom_all(void)
try {
    Port p;
    return StandardPort(&p) ? Writing(p, EraseAllCommand()) : 1;
}
HLC_EXPORT_CATCH_AS(mp_dig_erase_eeprom_all, 1)
int mp_dig_set_eeprom_all(uint16_t data)
try {
    Port p;
    return StandardPort(&p) ? Writing(p, WriteAllCommand(data)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_dig_set_eeprom_all, 1)

uint16_t mp_kvx_get_eeprom(uint32_t address)
try {
    Port p;
    return KvxPort(&p) ? Read(p, address) : 0;
}
HLC_EXPORT_CATCH(mp_kvx_get_eeprom)
int mp_kvx_set_eeprom(uint32_t address, uint16_t data)
try {
    Port p;
    return KvxPort(&p) ? Writing(p, WriteCommand(address, data)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_kvx_set_eeprom, 1)
int mp_kvx_erase_eeprom(uint32_t address)
try {
    Port p;
    return KvxPort(&p) ? Writing(p, EraseCommand(address)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_kvx_erase_eeprom, 1)
int mp_kvx_erase_eeprom_all(void)
try {
    Port p;
    return KvxPort(&p) ? Writing(p, EraseAllCommand()) : 1;
}
HLC_EXPORT_CATCH_AS(mp_kvx_erase_eeprom_all, 1)
int mp_kvx_set_eeprom_all(uint16_t data)
try {
    Port p;
    return KvxPort(&p) ? Writing(p, WriteAllCommand(data)) : 1;
}
HLC_EXPORT_CATCH_AS(mp_kvx_set_eeprom_all, 1)
