// The VM engine of an Orlo: its command protocol, the port set-up and the VM server's and
// command server's updates.
#include "intserver.h"

#include "hlc_errors.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodeopen.h"
#include "reqres.h"
#include "task.h"

#include <initializer_list>

using namespace intsrv;

namespace {

constexpr uint32_t kPeerWakeMarker = 0x3FFFFFC;
constexpr uint32_t kVmClockCode33 = 33;
constexpr uint32_t kVmClockCode25 = 25;
constexpr uint32_t kMemControlVmOn = 1u << 18;
constexpr uint32_t kPortOpen = 1023;
constexpr int kSetupSends = 16;
constexpr int kIdTries = 15;

uint32_t NodeWord(const _NODE_MAIN_RESOURCE_ST* record, uint32_t word)
{
    return record && record->nodeState ? reinterpret_cast<const uint32_t*>(record->nodeState)[word] : 0;
}

uint32_t CommandCode(uint32_t command, uint32_t argument)
{
    switch (command) {
    case 128:
    case 144:
    case 160:
    case 192:
        return command | argument;
    default:
        return command;
    }
}

}  // namespace

namespace vmengine {

int sendCommand(SERVINFO_ST* orlo)
{
    Modify(orlo, kOrloVpControl, 0, kVmControlSend);
    Shadow(orlo, kOrloVpControl) &= ~kVmControlSend;
    return WaitFor(kVmCommandSeconds, [orlo] { return !(Read(orlo, kOrloVpStatus) & kVmStatusSendBusy); }) ? 0 : -1;
}

uint32_t nextId(uint32_t node, VmIdCounter* counter)
{
    if (!counter) return 0;
    if (counter->reserved < 0) {
        _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
        int32_t reserved = 0;
        if (record && record->nodeState) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(record->nodeState);
            for (uint32_t i = 1072; i < 1088; ++i) reserved += bytes[i] != 0;
        }
        counter->reserved = reserved;
    }
    ++counter->value;
    return static_cast<int32_t>(counter->value) < 16 - counter->reserved ? counter->value : 0;
}

int config(uint32_t node, SERVINFO_ST* orlo, SERVINFO_ST* display)
{
    const uint32_t savedPort = Read(orlo, kOrloVmPort);
    Set(orlo, kOrloVmPort, kPortOpen);
    uint32_t& command = Shadow(orlo, kOrloVmCommand);
    auto send = [orlo, &command](uint32_t code) {
        command = (command & ~kVmCommandCode) | code;
        Put(orlo, kOrloVmCommand);
        return sendCommand(orlo) == 0;
    };
    auto acknowledged = [orlo] { return (Read(orlo, kOrloVpStatus) & kVmStatusStepDone) != 0; };
    // Walks ids with flag bit `once` set for the first send only, until the set-up step is
    // acknowledged: 1 acknowledged, 0 not, -1 failed.
    VmIdCounter counter;
    auto walk = [&](uint32_t once) {
        command |= kVmCommandStepMark | kVmCommandStepRepeat | once;
        for (int i = 0; i < kIdTries; ++i) {
            const uint32_t id = nextId(node, &counter);
            if (!id || !send(0x80 | id)) return -1;
            if (i == 0) command &= ~once;
            if (acknowledged()) return 1;
        }
        return 0;
    };
    int result = -1;
    do {
        command = (command | kVmCommandSetup | kVmCommandStepMark | kVmCommandStepStart) &
                  ~(kVmCommandData1Valid | kVmCommandData2Valid | kVmCommandStepRepeat | kVmCommandStepStartAlt);
        if (!send(0x80)) break;
        command = (command & ~(kVmCommandStepMark | kVmCommandStepStart | kVmCommandStepStartAlt)) | kVmCommandStepRepeat;
        bool sent = true;
        for (int i = 0; i < kSetupSends && sent; ++i) sent = send(0x80);
        if (!sent) break;
        if (!acknowledged() && walk(kVmCommandStepStartAlt) < 0) break;
        if (walk(kVmCommandStepStart) != 1) break;
        command = (command & ~(kVmCommandSetup | kVmCommandStepStart | kVmCommandStepStartAlt)) | kVmCommandStepMark |
                  kVmCommandStepRepeat;
        if (!send(0x80)) break;
        command &= ~(kVmCommandStepMark | kVmCommandStepRepeat);
        result = 0;
    } while (false);
    Set(orlo, kOrloVmPort, savedPort);
    if (result != 0) return -1;
    if (!(Read(orlo, kOrloVpStatus) & kVmStatusPortReady)) return -1;
    if (display && !(Read(display, kOrloVpStatus) & kVmStatusPortReady)) return -1;
    return 0;
}

void vmClk(SERVINFO_ST* orlo, uint32_t code)
{
    uint32_t& clock = Shadow(orlo, kOrloControl);
    clock |= 1u << 31;
    Put(orlo, kOrloControl);
    clock = (clock | (3u << 20)) & ~(1u << 22);
    Put(orlo, kOrloControl);
    if (code == kVmClockCode33)
        clock |= 1u << 10;
    else
        clock &= ~(1u << 10);
    clock |= 1u << 11;
    Put(orlo, kOrloControl);
    clock &= ~(1u << 31);
    Put(orlo, kOrloControl);
}

void initVM(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record) return;
    for (uint32_t o = 0; o < 2; ++o) {
        if (!(o == 0 ? record->primaryRegs : record->displayRegs) || !record->orloState) continue;
        SERVINFO_ST view{};
        SERVINFO_ST* orlo = FillHeader(&view, node, record, o);
        Modify(orlo, kOrloVmPort, 0x3FF, 0);
        Modify(orlo, kOrloVpControl, 0x80 | 0x4 | 0x20, 0x8 | 0x40 | 0x10);
        Shadow(orlo, kOrloVpControl) &= ~0x103u;
        Modify(orlo, kOrloVpStatus, 0, 0x1FC);
        Shadow(orlo, kOrloVpStatus) = 0;
        Modify(orlo, kOrloVmListControl, 0x1, 0);
        Shadow(orlo, kOrloVmListControl) &= ~0x3u;
        Modify(orlo, kOrloVmChannelControl, 0, 0xFF);
    }
}

}  // namespace vmengine

using namespace vmengine;

int mpPrvVMCommand(MP_RESOURCE_ST* resource, SERVINFO_ST* s, uint32_t command, uint32_t argument,
                   const uint32_t* data)
{
    if (!s) return -1;
    uint32_t& word = Shadow(s, kOrloVmCommand);
    const uint32_t valid[2] = {kVmCommandData1Valid, kVmCommandData2Valid};
    const uint32_t registers[2] = {kOrloVmData1, kOrloVmData2};
    for (int i = 0; i < 2; ++i) {
        if (data && data[i]) {
            Set(s, registers[i], data[i]);
            word |= valid[i];
        } else {
            word &= ~valid[i];
        }
    }
    word = (word & ~kVmCommandCode) | (CommandCode(command, argument) & kVmCommandCode);
    Put(s, kOrloVmCommand);
    if (sendCommand(s) != 0) return -1;
    const uint32_t node = s->node & 0xFF;
    const uint32_t done = static_cast<uint32_t>(s->index ? kVmDoneSourceDisplay : kVmDoneSourcePrimary);
    if (WaitFor(kVmCommandSeconds, [node, done] { return mp_sys_sema_check(node, done) > 0; })) return 0;
    if (resource) _mp_res_log_error(resource, HLC_ERR_TIMEOUT, "VM send command timed out");
    return -1;
}

int mpPrvVMConfig(uint32_t node)
{
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || (!record->primaryRegs && !record->displayRegs)) return -1;
    SERVINFO_ST views[2]{};
    SERVINFO_ST* orlo = FillHeader(&views[0], node, record, record->primaryRegs ? 0 : 1);
    SERVINFO_ST* display =
        record->primaryRegs && record->displayRegs ? FillHeader(&views[1], node, record, 1) : nullptr;
    auto both = [orlo, display](auto step) {
        step(orlo);
        if (display) step(display);
    };
    const uint32_t option = Read(orlo, kOrloStatus);
    const uint32_t clockCode = NodeWord(record, 257);
    bool firstPath = false;
    if ((Read(orlo, kOrloVmNodeId) & 0xF) == 0 && !(Read(orlo, kOrloVpStatus) & kVmStatusPortReady)) {
        if (!(option & kStatusVmClockSetup)) {
            const uint32_t module = NodeWord(record, 289);
            if (module == 2 || module == 34) {
                Modify(orlo, kOrloControl, 1u << 22, (1u << 21) | (1u << 11));
                Modify(orlo, kOrloMemControl, 0, kMemControlVmOn);
            }
            return -1;
        }
        vmClk(orlo, clockCode);
        both([](SERVINFO_ST* o) { Modify(o, kOrloMemControl, 0, kMemControlVmOn); });
        Modify(orlo, kOrloVpControl, 0, kVmControlEnable);
        firstPath = true;
    } else {
        const bool again = (Read(orlo, kOrloVpStatus) & kVmStatusSetupAgain) != 0;
        const uint32_t current = (Read(orlo, kOrloControl) & (1u << 10)) ? kVmClockCode33 : kVmClockCode25;
        if ((option & kStatusVmResend) && clockCode != current) vmClk(orlo, clockCode);
        if (!again) {
            both([](SERVINFO_ST* o) { Modify(o, kOrloMemControl, 0, kMemControlVmOn); });
            return 0;
        }
    }
    both([](SERVINFO_ST* o) {
        Acknowledge(o, kOrloVpStatus, kVmStatusSendBusy);
        Modify(o, kOrloVtControl, kVtControlContinuous, kVtControlReset);
        Modify(o, kOrloVtControl, kVtControlReset, 0);
    });
    if (firstPath) Set(orlo, kOrloStatus, Read(orlo, kOrloStatus) | kStatusVmResend);
    if (!(Read(orlo, kOrloVpStatus) & kVmStatusStepDone)) return -1;
    if (!firstPath && !(option & kStatusVmResend)) {
        // The port becomes ready on its own; a port that never does fails the set-up
        // after the communication time-out instead of holding the node's kernel.
        if (!WaitFor(mp_sys_timeout(3), [orlo] { return (Read(orlo, kOrloVpStatus) & kVmStatusPortReady) != 0; }))
            return -1;
    } else {
        for (uint32_t signal : {kSignalVm, kSignalVm + kSignalDisplayOffset})
            for (int taken = 0; taken < 1024 && mp_sys_sema_check(node, signal) > 0; ++taken) {
            }
        if (config(node, orlo, display) != 0) return -1;
    }
    both([](SERVINFO_ST* o) { Acknowledge(o, kOrloVpStatus, kVmStatusSetupAgain); });
    initVM(node);
    return 0;
}

void mpPrvUpdateVM(SERVINFO_ST* s)
{
    if (!s) return;
    if (Read(s, kOrloVpStatus) & kVmStatusSetupAgain) {
        mpPrvVMConfig(s->node & 0xFF);
        s->slot(0, kServVmPending) = 0;
        return;
    }
    if (!(Read(s, kOrloStatus) & kStatusVmResend)) return;
    if (!WaitFor(kVmCommandSeconds, [s] { return !(Read(s, kOrloVpStatus) & kVmStatusBusy); })) return;
    const uint32_t zero[2] = {0, 0};
    mpPrvVMCommand(nullptr, s, 192, 1, zero);
}

void mpPrmUpdateCr(SERVINFO_ST* s)
{
    if (!s) return;
    const uint32_t status = Read(s, kOrloVpStatus);
    if (!(status & kVmStatusCommand)) return;
    if (status & kVmStatusWord) {
        Read(s, kOrloVmReceived);
        Acknowledge(s, kOrloVpStatus, kVmStatusWord);
        Acknowledge(s, kOrloVpStatus, kVmStatusCommand);
        return;
    }
    const uint32_t command = Read(s, kOrloVmCommand);
    const uint32_t first = Read(s, kOrloVmData1);
    const uint32_t second = Read(s, kOrloVmData2);
    Acknowledge(s, kOrloVpStatus, kVmStatusCommand);
    // A peer node wakes one of this node's tasks.
    const auto sema = static_cast<int32_t>(second);
    if ((command & 0xF0) == 0x90 && first == kPeerWakeMarker && second != 0 && TaskValidateSema(sema))
        TaskSignalSema(sema);
}
