#include "hosthooks.h"
#include "driverreq.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

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

const HlcHostHooks kDefaults = {NoNode, NoSetting, PrintToStderr, NoBuffer, NoListBuffer, NoFree, NoControl};

HlcHostHooks g_hooks = kDefaults;

} // namespace

void HlcSetHostHooks(const HlcHostHooks* hooks)
{
    g_hooks = kDefaults;
    if (!hooks) return;
    if (hooks->nodeLink) g_hooks.nodeLink = hooks->nodeLink;
    if (hooks->iniReadInt) g_hooks.iniReadInt = hooks->iniReadInt;
    if (hooks->print) g_hooks.print = hooks->print;
    if (hooks->describeBuffer) g_hooks.describeBuffer = hooks->describeBuffer;
    if (hooks->allocListBuffer) g_hooks.allocListBuffer = hooks->allocListBuffer;
    if (hooks->freeBuffer) g_hooks.freeBuffer = hooks->freeBuffer;
    if (hooks->controlBuffer) g_hooks.controlBuffer = hooks->controlBuffer;
}

const HlcHostHooks& HlcGetHostHooks()
{
    return g_hooks;
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
void ThreadSleep(double seconds)
{
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    else std::this_thread::yield();
}

const HlcBoardHooks kBoardDefaults = {
    NoRuntime, NoExit, NoPriority, NoSignal, NoSetSignal, NoPending, DriverSemaCheck, DriverSemaReset,
    DriverSemaSignal, NoNodeState, NoResource, NoInsert, NoRemove, NoOpened, NoFreeResources,
    nullptr, nullptr, nullptr, nullptr, NoDoorbell, NoInitInfo, SameAddress, SamePciAddress,
    NoModule, UndefinedProduct, NoMemorySize, NoBios, nullptr, DefaultTimeout, ThreadSleep};

HlcBoardHooks g_boardHooks = kBoardDefaults;

template <typename T>
void Keep(T& target, T value)
{
    if (value) target = value;
}

} // namespace

void HlcSetBoardHooks(const HlcBoardHooks* hooks)
{
    g_boardHooks = kBoardDefaults;
    if (!hooks) return;
    const HlcBoardHooks& h = *hooks;
    HlcBoardHooks& g = g_boardHooks;
    Keep(g.initNodeRuntime, h.initNodeRuntime);
    Keep(g.exitTasking, h.exitTasking);
    Keep(g.setTaskPriority, h.setTaskPriority);
    Keep(g.getSignal, h.getSignal);
    Keep(g.setSignal, h.setSignal);
    Keep(g.takeSignalPending, h.takeSignalPending);
    Keep(g.semaCheck, h.semaCheck);
    Keep(g.semaReset, h.semaReset);
    Keep(g.semaSignal, h.semaSignal);
    Keep(g.hostNodeState, h.hostNodeState);
    Keep(g.nodeResource, h.nodeResource);
    Keep(g.insertNode, h.insertNode);
    Keep(g.removeNode, h.removeNode);
    Keep(g.openedNodes, h.openedNodes);
    Keep(g.freeNodeResources, h.freeNodeResources);
    Keep(g.resetHaltBoard, h.resetHaltBoard);
    Keep(g.startLocalCpu, h.startLocalCpu);
    Keep(g.lockCheck, h.lockCheck);
    Keep(g.lockReset, h.lockReset);
    Keep(g.interruptSend, h.interruptSend);
    Keep(g.initInfo, h.initInfo);
    Keep(g.mvpToVirtual, h.mvpToVirtual);
    Keep(g.pciToMvp, h.pciToMvp);
    Keep(g.externalBoardId, h.externalBoardId);
    Keep(g.productId, h.productId);
    Keep(g.boardMemSize, h.boardMemSize);
    Keep(g.biosInfo, h.biosInfo);
    Keep(g.messageHandler, h.messageHandler);
    Keep(g.timeout, h.timeout);
    Keep(g.sleep, h.sleep);
}

const HlcBoardHooks& HlcGetBoardHooks()
{
    return g_boardHooks;
}
