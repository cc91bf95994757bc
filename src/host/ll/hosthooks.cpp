#include "hosthooks.h"
#include "driverreq.h"
#include "hwaccess.h"

#include <cstdarg>
#include <cstdio>

namespace {

HlcNodeLink* NoNode(uint32_t)
{
    return nullptr;
}
int NoSetting(uint32_t, const char*, int32_t*)
{
    return -1;
}
void PrintToStderr(const char* text)
{
    std::fputs(text, stderr);
}
int NoBuffer(uint32_t, uint32_t, SysBufferInfo*)
{
    return -1;
}
uint32_t NoListBuffer(uint32_t, uint32_t, uint32_t, uint32_t**)
{
    return 0;
}
void NoFree(uint32_t, uint32_t) {}
void NoControl(uint32_t, uint32_t, int32_t, double) {}

constexpr HlcHostHooks BuiltinHostHooks()
{
    HlcHostHooks h{};
    h.nodeLink = NoNode;
    h.iniReadInt = NoSetting;
    h.print = PrintToStderr;
    h.describeBuffer = NoBuffer;
    h.allocListBuffer = NoListBuffer;
    h.freeBuffer = NoFree;
    h.controlBuffer = NoControl;
    return h;
}

constexpr HlcHostHooks kBuiltin = BuiltinHostHooks();
HlcHostHooks g_hooks = kBuiltin;

} // namespace

int HlcSetHostHooks(const HlcHostHooks& hooks)
{
    if (!HlcEveryMemberSet(hooks)) return -1;
    g_hooks = hooks;
    return 0;
}

const HlcHostHooks& HlcGetHostHooks()
{
    return g_hooks;
}

const HlcHostHooks& HlcBuiltinHostHooks()
{
    return kBuiltin;
}

void HlcPrint(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_hooks.print(text);
}

// ---------------------------------------------------------------- board hooks

namespace {

int NoRuntime(uint32_t)
{
    return 0;
}
void NoExit() {}
// Without a node runtime, ending one only ends the thread's task kernel.
void NoExitRuntime(uint32_t)
{
    HlcGetBoardHooks().exitTasking();
}
int NoPriority(int)
{
    return 0;
}
int32_t NoSignal(uint32_t, uint32_t)
{
    return -1;
}
void NoSetSignal(uint32_t, uint32_t, int32_t) {}
int NoPending(uint32_t, uint32_t)
{
    return 0;
}

// Driver semaphores through the node's driver device; task semaphores (negative ids)
// need the task kernel and are never pending here.
int32_t DriverSemaCheck(uint32_t node, int32_t signal)
{
    if (signal < 0) return 0;
    const HlcNodeLink* link = g_hooks.nodeLink(node);
    if (!link) return -1;
    uint32_t answer = 0;
    if (!HlcDrvSemaCheck(link->device, link->overlapped, static_cast<uint32_t>(signal), &answer)) return -1;
    return answer ? 1 : 0;
}
void DriverSemaReset(uint32_t node, int32_t signal)
{
    const HlcNodeLink* link = signal >= 0 ? g_hooks.nodeLink(node) : nullptr;
    uint32_t answer = 0;
    if (link) HlcDrvSemaReset(link->device, link->overlapped, static_cast<uint32_t>(signal), &answer);
}
void DriverSemaSignal(uint32_t node, int32_t signal)
{
    const HlcNodeLink* link = signal >= 0 ? g_hooks.nodeLink(node) : nullptr;
    if (link) HlcDrvSemaSignal(link->device, link->overlapped, static_cast<uint32_t>(signal));
}
_NODE_ST* NoNodeState()
{
    return nullptr;
}
_NODE_MAIN_RESOURCE_ST* NoResource(uint32_t)
{
    return nullptr;
}
int NoInsert(uint32_t, _NODE_ST*, const _NODE_MAIN_RESOURCE_ST*)
{
    return 1;
}
int NoRemove(uint32_t)
{
    return 1;
}
int NoOpened()
{
    return 0;
}
void NoFreeResources(_NODE_MAIN_RESOURCE_ST*) {}
int NoDoorbell(uint32_t)
{
    return -1;
}
uint32_t NoInitInfo(_NODE_MAIN_RESOURCE_ST*, uint32_t)
{
    return 0;
}
uint32_t SameAddress(_NODE_MAIN_RESOURCE_ST*, uint32_t address)
{
    return address;
}
uint32_t SamePciAddress(uint32_t, uint32_t address)
{
    return address;
}
uint32_t NoModule(_NODE_MAIN_RESOURCE_ST*)
{
    return 0;
}
uint32_t UndefinedProduct(const _PCI_FOUND_DEVICE*, uint32_t)
{
    return 99;
}
uint32_t NoMemorySize(uint32_t, const void*)
{
    return 0;
}
void NoBios(_NODE_MAIN_RESOURCE_ST*) {}
double DefaultTimeout(int entry)
{
    switch (entry) {
    case 0: return 5.0;
    case 1: return 5.0;
    case 2: return 1.0;
    default: return -1.0;
    }
}
// Sleeps on the library clock, so that a machine on a virtual clock ends the pause at once.
void ThreadSleep(double seconds)
{
    const double end = HwClockSeconds() + seconds;
    do
        HwSleep(end - HwClockSeconds());
    while (HwClockSeconds() < end);
}

constexpr HlcBoardHooks BuiltinBoardHooks()
{
    HlcBoardHooks h{};
    h.initNodeRuntime = NoRuntime;
    h.exitNodeRuntime = NoExitRuntime;
    h.exitTasking = NoExit;
    h.setTaskPriority = NoPriority;
    h.getSignal = NoSignal;
    h.setSignal = NoSetSignal;
    h.takeSignalPending = NoPending;
    h.semaCheck = DriverSemaCheck;
    h.semaReset = DriverSemaReset;
    h.semaSignal = DriverSemaSignal;
    h.hostNodeState = NoNodeState;
    h.nodeResource = NoResource;
    h.insertNode = NoInsert;
    h.removeNode = NoRemove;
    h.openedNodes = NoOpened;
    h.freeNodeResources = NoFreeResources;
    h.releaseGlobalState = NoExit;
    h.resetHaltBoard = nullptr;
    h.startLocalCpu = nullptr;
    h.lockCheck = nullptr;
    h.lockReset = nullptr;
    h.interruptSend = NoDoorbell;
    h.initInfo = NoInitInfo;
    h.mvpToVirtual = SameAddress;
    h.pciToMvp = SamePciAddress;
    h.externalBoardId = NoModule;
    h.productId = UndefinedProduct;
    h.boardMemSize = NoMemorySize;
    h.biosInfo = NoBios;
    h.hookMessageHandler = nullptr;
    h.timeout = DefaultTimeout;
    h.sleep = ThreadSleep;
    return h;
}

constexpr HlcBoardHooks kBoardBuiltin = BuiltinBoardHooks();
HlcBoardHooks g_boardHooks = kBoardBuiltin;

} // namespace

int HlcSetBoardHooks(const HlcBoardHooks& hooks)
{
    // The board processor members and the message handler may be null (built-in register
    // sequences, no handler): stand-ins take their place for the check only.
    HlcBoardHooks required = hooks;
    required.resetHaltBoard = NoFreeResources;
    required.startLocalCpu = NoFreeResources;
    required.lockCheck = [](_NODE_MAIN_RESOURCE_ST*) { return 0; };
    required.lockReset = NoFreeResources;
    required.hookMessageHandler = [](uint32_t) { return 0; };
    if (!HlcEveryMemberSet(required)) return -1;
    g_boardHooks = hooks;
    return 0;
}

const HlcBoardHooks& HlcGetBoardHooks()
{
    return g_boardHooks;
}

const HlcBoardHooks& HlcBuiltinBoardHooks()
{
    return kBoardBuiltin;
}
