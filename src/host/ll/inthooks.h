// Interrupt hooks of a node and the node's two interrupt threads.
//
// Library code hooks functions on interrupt sources: 32-63 (primary Orlo group), 64-95
// (display Orlo group) and 160 (the special source).  The first hook of a node starts
// two threads: the interrupt thread keeps a driver wait for interrupt words pending and
// queues the words it returns in a 256-word ring; the process thread owns the node's
// runtime (started on it) and calls the hooked functions of each queued word.  Unhooking
// the node's last source stops both threads and frees the node's context.
#pragma once

#include "hlc_arch.h"
#include "device.h"
#include "driverreq.h"
#include "w32base.h"

#include <atomic>
#include <cstdint>

struct _HALCYRA_HOOK_LIST;
struct _HALCYRA_HOOK_REC;

// A hooked function receives its source list and finds its records with the queries.
using HalcyraHookFunction = void (*)(_HALCYRA_HOOK_LIST* list);
// Passed as the function: create the source list only.
inline HalcyraHookFunction HalcyraListOnly()
{
    return reinterpret_cast<HalcyraHookFunction>(static_cast<uintptr_t>(-1));
}

constexpr uint32_t kHalcyraRingWords = 256;
constexpr uint32_t kHalcyraSpecialSource = 160;
constexpr uint32_t kHalcyraStopWaitMs = 10000;

// Interrupt context of one node, in the list pHalcyraIsrInfo.
struct _HALCYRA_ISR_INFO {
    uint32_t node;
    DeviceHandle device;         // the node's driver device, taken when the context is made
    _HALCYRA_HOOK_LIST* firstList;
    HANDLE processThread;
    DWORD processThreadId;
    HANDLE wordSemaphore;        // initial 0, maximum 256
    HANDLE stopEvent;            // manual reset; the process thread waits on it
    DeviceEvent* stopSignal;     // set with stopEvent; the interrupt thread waits on it
    HANDLE startEvent;
    DWORD interruptThreadId;
    HANDLE interruptThread;
    uint32_t ring[kHalcyraRingWords];
    std::atomic<uint32_t> writeIndex;  // used modulo 256
    std::atomic<uint32_t> readIndex;
    std::atomic<uint32_t> lostWords;   // words dropped because the ring was full
    std::atomic<uint32_t> driverFailed; // the interrupt thread ended on a driver failure
    _HALCYRA_ISR_INFO* next;
    _HALCYRA_ISR_INFO* previous;
};

struct _HALCYRA_HOOK_LIST {
    _HALCYRA_ISR_INFO* owner;
    uint32_t source;
    _HALCYRA_HOOK_REC* firstHook;
    _HALCYRA_HOOK_LIST* next;
    _HALCYRA_HOOK_LIST* previous;
};

struct _HALCYRA_HOOK_REC {
    _HALCYRA_HOOK_LIST* list;    // first word: the owner source list
    HalcyraHookFunction function;
    void* userData;
    HANDLE semaphore;            // 0 none
    _HALCYRA_HOOK_REC* next;
    _HALCYRA_HOOK_REC* previous;
};

extern _HALCYRA_ISR_INFO* pHalcyraIsrInfo;

// 0 on success, 1 when the source is refused or a hook fails.  Function 0 with source -1
// unhooks every source 32-160 of the node, function 0 with a source unhooks it, any
// other function hooks it.  With a semaphore pointer whose handle is 0 a semaphore is
// created and written back; a non-zero handle is used as it is.
HLC_API int HalcyraHookInterruptFunction(uint32_t node, HalcyraHookFunction function, int32_t source, HANDLE* semaphore,
                                 void* userData);
// One source: the source list after hooking, 0 after unhooking or on failure.
HLC_API _HALCYRA_HOOK_LIST* ScanAndSetHalcyraHookList(uint32_t node, HalcyraHookFunction function, int32_t source,
                                              HANDLE* semaphore, void* userData);

HLC_API _HALCYRA_HOOK_LIST* HalcyraGetHookList(uint32_t node, int32_t source);
HLC_API _HALCYRA_HOOK_REC* HalcyraGetNextHookFunction(_HALCYRA_HOOK_LIST* list, _HALCYRA_HOOK_REC** cursor);
HLC_API HANDLE HalcyraGetHandleEvent(_HALCYRA_HOOK_REC* record);
HLC_API HalcyraHookFunction HalcyraGetFuncPtr(_HALCYRA_HOOK_REC* record);
HLC_API void* HalcyraGetUsrDataPtr(_HALCYRA_HOOK_REC* record);
HLC_API uint32_t HalcyraGetHookInterruptType(_HALCYRA_HOOK_LIST* list);
HLC_API uint32_t HalcyraGetInterruptType(_HALCYRA_HOOK_REC* record);

// How many contexts of the node (0: of any node) have threads that did not end when they
// were stopped and still run; those whose threads have ended by now are freed.
int HalcyraNodeThreadsLeft(uint32_t node);
// The node's interrupt context, null when the node has none.
_HALCYRA_ISR_INFO* HalcyraGetIsrInfo(uint32_t node);

// Decodes one interrupt word and calls the hooked functions (what the process thread
// does per word).
void HalcyraDispatchInterruptWord(_HALCYRA_ISR_INFO* context, uint32_t word);
