// Board bring-up and shut-down.
#include "bringup.h"
#include "consolepipe.h"
#include "disphooks.h"
#include "halcyraini.h"
#include "hwaccess.h"
#include "inthooks.h"
#include "shellload.h"
#include "w32thread.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int atExitOK = 0;

namespace {

constexpr uint32_t kNoWindowsMode = 0x20000000u;

const char* ShellName()
{
    return CoffFileName ? CoffFileName : "UNKNOWN";
}

bool LoaderInvalid(uint32_t status)
{
    const uint32_t e = status & LDSHELL_ERROR_MASK;
    return e == LDSHELL_NOT_FOUND || e == LDSHELL_NOT_COFF || e == LDSHELL_READ_FAILED;
}

void ResetHalt(_NODE_MAIN_RESOURCE_ST* r)
{
    const HlcBoardHooks& h = HlcGetBoardHooks();
    if (h.resetHaltBoard)
        h.resetHaltBoard(r);
    else
        BrdResetHaltCpu(r);
}
void Start(_NODE_MAIN_RESOURCE_ST* r)
{
    const HlcBoardHooks& h = HlcGetBoardHooks();
    if (h.startLocalCpu)
        h.startLocalCpu(r);
    else
        BrdStartCpu(r);
}
int LockBusy(_NODE_MAIN_RESOURCE_ST* r)
{
    const HlcBoardHooks& h = HlcGetBoardHooks();
    return h.lockCheck ? h.lockCheck(r) : BrdLockCheck(r);
}
void LockRelease(_NODE_MAIN_RESOURCE_ST* r)
{
    const HlcBoardHooks& h = HlcGetBoardHooks();
    if (h.lockReset)
        h.lockReset(r);
    else
        BrdLockReset(r);
}

// Prints a message.  With prompt non-zero and the console connected, the console also
// prompts the user and the call waits for the answer, so that the user can look at the
// board before the start-up goes on.  Without the console the text takes the plain route.
void Say(int prompt, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Say(int prompt, const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (prompt != 0 && im_pipe_is_open() && im_print_msg(prompt, "%s", text) > 0) return;
    HlcPrint("%s", text);
}

// The value a successful bring-up returns: the shell's own value when it is above 0, else
// 1, so that every success stays above 0 and apart from the failure codes -1, -3, -4, -5.
int32_t SuccessValue(int32_t shellValue)
{
    return shellValue > 0 ? shellValue : 1;
}

// Waits on the library clock until done() or the time-out (seconds; negative: no limit)
// ran out.
template <typename Condition>
bool WaitFor(double timeout, Condition done)
{
    const double start = HwClockSeconds();
    for (;;) {
        if (done()) return true;
        if (timeout >= 0 && HwClockSeconds() - start > timeout) return false;
        HlcGetBoardHooks().sleep(0.001);
    }
}

uint32_t Mailbox(const _NODE_MAIN_RESOURCE_ST* r)
{
    return HwRead32(r->primaryRegs, kOrloMailbox);
}

uint32_t PollWhile(const _NODE_MAIN_RESOURCE_ST* r, uint32_t value)
{
    uint32_t v = Mailbox(r);
    for (uint32_t i = 1; i < kMailboxPolls && v == value; ++i) v = Mailbox(r);
    return v;
}

class RaisedPriority {
public:
    RaisedPriority() : old_(GetThreadPriority(GetCurrentThread()))
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    ~RaisedPriority() { SetThreadPriority(GetCurrentThread(), old_); }

private:
    int old_;
};

// Restart of the board processor and its handshake; the success value or -1.  With the
// loader's option W the start and stall messages prompt the user.
int32_t Restart(uint32_t node, _NODE_MAIN_RESOURCE_ST* record, char** name, uint32_t mode, uint32_t loader,
                int32_t value)
{
    int32_t counter = 0;
    for (int32_t round = 0; IsEmulatorActive(record); ++round) {
        HlcPrint("Do an EMURESET now before proceeding with download.\n");
        if (round >= kEmulatorWaitRounds || im_spin_while(&counter, 1) == -1) {
            HlcPrint("'DSP cannot be restarted while emulator is active.\n");
            return -1;
        }
        HlcGetBoardHooks().sleep(0.25);
    }
    im_spin_while(&counter, 0);
    {
        RaisedPriority raised;
        ResetHalt(record);
    }
    HwWrite32(record->primaryRegs, kOrloMemControl, HwRead32(record->primaryRegs, kOrloMemControl) & ~kMemControlStart);
    if ((loader & LDSHELL_DIFFERS) || mode == 2) {
        const uint32_t status =
            LdShellToLocalCpu(node, name, LDSHELL_MODE_FORCE, record->primaryMemory, record->primaryMemorySize, &value);
        if (status & LDSHELL_ERROR_MASK) {
            HlcPrint("Can't load SHELL to SDRAM\n");
            return -1;
        }
    }
    const int prompt = (loader & LDSHELL_MESSAGES) ? 1 : 0;
    uint32_t v;
    {
        RaisedPriority raised;
        ResetHalt(record);
        Start(record);
        v = PollWhile(record, 0);
        if (v == kMailboxBooting) v = PollWhile(record, kMailboxBooting);
    }
    if (v != kMailboxReady) {
        Say(prompt, "%s",
            v ? "'DSP stalled - unable to restart because of bad Pimbra startup!\n" : "'DSP stalled - unable to restart!\n");
        return -1;
    }
    if (prompt) Say(prompt, "'DSP not started yet - ready to go to main!\n");
    Start(record);
    v = PollWhile(record, kMailboxReady);
    if (v != kMailboxRunning) {
        Say(prompt, "'DSP stalled - cannot receive interrupt properly!\n");
        return -1;
    }
    HwWrite32(record->primaryRegs, kOrloMailbox, 0);
    if (CheckMvpRestart(record) != 1) {
        Say(prompt, "'DSP stalled or defective interrupts!\n");
        return -1;
    }
    Say(prompt, "'DSP just started with shell %s.\n", ShellName());
    return SuccessValue(value);
}

void ClearCounters(_NODE_ST* host)
{
    if (!host) return;
    std::memset(host->counters, 0, sizeof host->counters);
    std::memset(host->counters2, 0, sizeof host->counters2);
}

} // namespace

void BrdResetHaltCpu(_NODE_MAIN_RESOURCE_ST* r)
{
    if (!r || !r->primaryRegs) return;
    // Hold the processor in reset, release the hardware lock, and with a processor on
    // the board pulse the reset once more so that it leaves reset halted.
    const uint32_t control = HwRead32(r->primaryRegs, kOrloMemControl);
    HwWrite32(r->primaryRegs, kOrloMemControl, control | kMemControlCpuReset);
    HwWrite32(r->primaryRegs, kOrloLock, 0);
    if (!(HwRead32(r->primaryRegs, kOrloStatus) & kStatusProcessor)) return;
    HwWrite32(r->primaryRegs, kOrloMemControl, control | kMemControlCpuReset);
    HwWrite32(r->primaryRegs, kOrloMemControl, control & ~kMemControlCpuReset);
}

void BrdStartCpu(_NODE_MAIN_RESOURCE_ST* r)
{
    if (!r || !r->primaryRegs) return;
    HwWrite32(r->primaryRegs, kOrloInterruptClear, kInterruptCpuStart);
    HwWrite32(r->primaryRegs, kOrloInterruptSet, kInterruptCpuStart);
    HwWrite32(r->primaryRegs, kOrloInterruptClear, kInterruptCpuStart);
}

int BrdLockCheck(_NODE_MAIN_RESOURCE_ST* r)
{
    return r && r->primaryRegs && (HwRead32(r->primaryRegs, kOrloLock) & 1) ? 1 : 0;
}

void BrdLockReset(_NODE_MAIN_RESOURCE_ST* r)
{
    if (r && r->primaryRegs) HwWrite32(r->primaryRegs, kOrloLock, 0);
}

int IsEmulatorActive(_NODE_MAIN_RESOURCE_ST* r)
{
    if (!r || !r->primaryRegs) return 0;
    const uint32_t control = HwRead32(r->primaryRegs, kOrloControl) & ~kControlEmulatorClear;
    HwWrite32(r->primaryRegs, kOrloControl, control);
    return (HwRead32(r->primaryRegs, kOrloControl) & kControlEmulatorAbsent) ? 0 : 1;
}

int CheckMvpRestart(_NODE_MAIN_RESOURCE_ST* record)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    if (!WaitFor(hooks.timeout(1), [&] { return !LockBusy(record); })) return 0;
    LockRelease(record);
    _NODE_ST* block = InitRemoteNode(record, 1);
    if (!block || HlcNodeCommState(block) != -1) return 0;
    if (!WaitFor(hooks.timeout(0), [&] { return hooks.semaCheck(node, static_cast<int32_t>(kProcessorStartedSignal)) > 0; }))
        return 0;
    hooks.semaReset(node, static_cast<int32_t>(kProcessorStartedSignal));
    hooks.interruptSend(node);
    WaitFor(hooks.timeout(2), [&] { return HlcNodeCommState(block) == 1; });
    return HlcNodeCommState(block);
}

void BrdCloseNodeRecord(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return;
    if (record->device != kInvalidDevice && record->device != 0) DeviceClose(record->device);
    record->device = kInvalidDevice;
    if (record->section) {
        DeleteCriticalSection(record->section);
        delete record->section;
        record->section = nullptr;
    }
    if (record->nodeEvent) delete record->nodeEvent->event;
    delete record->nodeEvent;
    record->nodeEvent = nullptr;
    std::free(record->nodeArea);
    record->nodeArea = nullptr;
}

int32_t im_board_init(uint32_t system, uint32_t board, char** shellName, uint32_t mode,
                      _NODE_MAIN_RESOURCE_ST* record)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = HlcNodeNumber(system, board);
    const uint32_t plain = mode & ~kNoWindowsMode;
    char* given = shellName ? *shellName : nullptr;
    char* name = given;
    uint32_t loader = 0;
    int32_t value = 0;
    int32_t result = kBringUpFailed;

    if (node != 255) {
        if (!HalcyraIniGetFile(0)) {
            record->nodeNumber = kBringUpIniMissing;
            return kBringUpIniMissing;
        }
        if (HalcyraIniReadTag(node, "MvpPresent", nullptr)) {
            loader = LdShellToLocalCpu(node, &name, LDSHELL_MODE_CHECK, 0, 0, &value);
            if (LoaderInvalid(loader)) {
                HlcPrint("COFF file %s is invalid, no download performed.\n", ShellName());
                // The loader replaced its kept name, which the caller may have handed in:
                // the caller's pointer must not stay on the freed one.
                if (shellName) *shellName = CoffFileName;
                return -1;
            }
        }
    }
    const uint32_t hostFlag = ((loader & LDSHELL_HOST_MODE) || static_cast<int32_t>(plain) <= 1) ? NODE_NO_PROCESSOR : 0;
    if (!atExitOK) {
        std::atexit(BrdShutDown);
        atExitOK = 1;
    }
    const uint32_t flags = hostFlag | InitNewNode(system, board, mode, record, nullptr);

    bool done = false;
    if (flags & ~(NODE_NO_DISPLAY | NODE_OTHER_PROCESS)) {
        if ((flags & ~0x73u) || (flags & 3) == 3) {
            done = true;
        } else if (flags & NODE_NO_PROCESSOR) {
            if (!(flags & NODE_OPEN_HERE)) {
                if (!(flags & NODE_OTHER_PROCESS)) ResetHalt(record);
                if (InitRemoteNode(record, plain == 1 ? 2 : 3)) result = plain == 1 ? kBringUpProcessorIgnored : kBringUpHostServes;
                done = true;
            } else if (!(flags & NODE_OTHER_PROCESS)) {
                result = kBringUpHostServes;
                done = true;
            }
        }
    }
    if (!done) {
        loader = LdShellToLocalCpu(node, &name, LDSHELL_MODE_CHECK, record->primaryMemory, record->primaryMemorySize,
                                   &value);
        if (LoaderInvalid(loader)) {
            HlcPrint("COFF file %s is invalid, no download performed.\n", ShellName());
        } else {
            if (IsEmulatorActive(record)) HlcPrint("'DSP JTAG Emulation is active.\n");
            if ((flags & NODE_OTHER_PROCESS) ||
                (!(loader & (LDSHELL_DIFFERS | LDSHELL_RESTART)) && plain != 0 && plain != 2)) {
                if (!InitRemoteNode(record, 0)) {
                    const int debugMode = static_cast<int>(HalcyraIniReadTag(node, "CommunicationDebugMode", nullptr));
                    Say(debugMode, "'DSP stalled or defective interrupts!\n");
                } else {
                    HlcPrint("'DSP already active with shell %s.\n", ShellName());
                    result = SuccessValue(value);
                }
            } else {
                result = Restart(node, record, &name, plain, loader, value);
            }
            if (result != -1) ClearCounters(HlcHostNodeState());
        }
    }
    if (shellName && CoffFileName) *shellName = CoffFileName;
    // Mend: a failed open does not raise the count, which would keep the node listed with an open nobody frees.
    if (_NODE_MAIN_RESOURCE_ST* listed = node <= 254 ? hooks.nodeResource(node) : nullptr)
        if (listed->openCount >= 0 && result != -1) ++listed->openCount;
    // A record copied from a node open elsewhere in the process shares its device.
    if (result == -1 && !(flags & NODE_OPEN_HERE)) {
        if (node <= 254 && hooks.nodeResource(node)) {
            // Listed by this call: its listed record shares the handles, so the node is
            // shut down as a whole and the caller's copy forgets them.
            im_board_shutdown(node << 16);
            record->device = kInvalidDevice;
            record->section = nullptr;
            record->nodeEvent = nullptr;
            record->nodeArea = nullptr;
        } else {
            BrdCloseNodeRecord(record);
        }
    }
    return result;
}

int32_t im_board_shutdown(uint32_t nodeArg)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = (nodeArg >> 16) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = hooks.nodeResource(node);
    if (!record) return 1;
    if (record->openCount >= 2) {
        --record->openCount;
        return 0;
    }
    const _NODE_ST* block = record->nodeState;
    if (!block || block->own.openCount < 1)
        for (uint32_t regs : {record->primaryRegs, record->displayRegs})
            if (regs) HwWrite32(regs, kOrloInterruptClear, 1);
    HalcyraHookInterruptFunction(node, nullptr, -1, nullptr, nullptr);
    // A node thread that did not end in the stop wait still runs the node's kernel on its
    // records and the global state: all of it stays until a later shut-down finds the
    // thread ended (at the process's end the system takes it back).
    if (HalcyraNodeThreadsLeft(node) > 0) return 1;
    hooks.freeNodeResources(record);
    const bool last = hooks.openedNodes() <= 1;
    int32_t status = 0;
    const DeviceHandle device = record->device;
    record->device = kInvalidDevice;
    if (device != kInvalidDevice && device != 0 && !DeviceClose(device)) status = 1;
    BrdCloseNodeRecord(record);
    if (last) {
        HalcyraIniFree(nullptr);
        LdShellToLocalCpu(node, nullptr, 0, 0, 0, nullptr);
        HlcFreeDmaRegionTable();
        HlcCloseProcessShared();
    }
    if (hooks.removeNode(node) != 0) status = 1;
    if (hooks.openedNodes() == 0) {
        hooks.releaseGlobalState();
        hooks.exitTasking();
    }
    im_close_pipe();
    return status;
}

void BrdShutDown()
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    // The node numbers are taken first: every shut-down changes the list.
    uint32_t nodes[256];
    const uint32_t count = std::min<uint32_t>(HlcGetDisplayHooks().nodeList(nodes, 256), 256);
    for (uint32_t i = count; i-- > 0;) {
        const uint32_t node = nodes[i];
        if (node == 0 || node > 254) continue;
        _NODE_MAIN_RESOURCE_ST* record = hooks.nodeResource(node);
        if (!record) continue;
        if (record->nodeState && record->nodeState->own.openCount > 0)
            --record->nodeState->own.openCount;
        else if (record->openCount < 0)
            record->openCount = 0;
        im_board_shutdown(node << 16);
    }
}
