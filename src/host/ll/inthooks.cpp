// Interrupt hook lists of the nodes and the two interrupt threads of each node.
#include "inthooks.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "w32sync.h"
#include "w32thread.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

_HALCYRA_ISR_INFO* pHalcyraIsrInfo = nullptr;

namespace {

constexpr int kThreadPriority = THREAD_PRIORITY_TIME_CRITICAL;
constexpr int kCallPriority = 21;
// One slice of the thread-stop wait: a real wait on the thread, then this much of the
// library clock.  On a virtual clock the whole wait is a hundred slices, so the real part
// is what a slow, loaded machine gets to finish a node's teardown (about two seconds)
// before the thread is given up.
constexpr DWORD kStopSliceRealMs = 20;
constexpr double kStopSliceSeconds = 0.1;

// Guards the context list, the source lists and the hook records.  The process thread
// holds it while it calls the hooks of one word, so that a hook record is never freed
// under a running call; the lock is recursive so that a hooked function may hook.
std::recursive_mutex& HookLock()
{
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

// Contexts whose threads did not end in the stop wait (guarded by HookLock).  Such a
// context and everything its threads use stay in place until they have ended; their
// thread handles are kept so that a later shut-down can look again.
std::vector<_HALCYRA_ISR_INFO*>& GivenUp()
{
    static std::vector<_HALCYRA_ISR_INFO*>* contexts = new std::vector<_HALCYRA_ISR_INFO*>;
    return *contexts;
}

bool IsPrimarySource(int32_t source)
{
    return source >= 32 && source <= 63;
}
bool IsDisplaySource(int32_t source)
{
    return source >= 64 && source <= 95;
}

// The node's link when it may carry the source, else null.
const HlcNodeLink* SourceLink(uint32_t node, int32_t source)
{
    if (!IsPrimarySource(source) && !IsDisplaySource(source) && source != static_cast<int32_t>(kHalcyraSpecialSource))
        return nullptr;
    const HlcNodeLink* link = HlcGetHostHooks().nodeLink(node);
    if (!link) return nullptr;
    if (IsPrimarySource(source) && !link->primaryOrloRegs) return nullptr;
    if (IsDisplaySource(source) && !link->displayOrloRegs) return nullptr;
    if (source == static_cast<int32_t>(kHalcyraSpecialSource) && !link->primaryOrloRegs && !link->displayOrloRegs)
        return nullptr;
    return link;
}

_HALCYRA_ISR_INFO* FindContext(uint32_t node)
{
    for (_HALCYRA_ISR_INFO* c = pHalcyraIsrInfo; c; c = c->next)
        if (c->node == node) return c;
    return nullptr;
}

_HALCYRA_HOOK_LIST* FindList(_HALCYRA_ISR_INFO* context, uint32_t source)
{
    for (_HALCYRA_HOOK_LIST* l = context ? context->firstList : nullptr; l; l = l->next)
        if (l->source == source) return l;
    return nullptr;
}

void LinkContext(_HALCYRA_ISR_INFO* context)
{
    _HALCYRA_ISR_INFO** tail = &pHalcyraIsrInfo;
    _HALCYRA_ISR_INFO* last = nullptr;
    while (*tail) {
        last = *tail;
        tail = &(*tail)->next;
    }
    context->previous = last;
    context->next = nullptr;
    *tail = context;
}

void UnlinkContext(_HALCYRA_ISR_INFO* context)
{
    if (context->previous)
        context->previous->next = context->next;
    else if (pHalcyraIsrInfo == context)
        pHalcyraIsrInfo = context->next;
    if (context->next) context->next->previous = context->previous;
    context->next = context->previous = nullptr;
}

void FreeContext(_HALCYRA_ISR_INFO* context)
{
    delete context->stopSignal;
    delete context;
}

void CloseIfHandle(HANDLE& handle)
{
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// ---------------------------------------------------------------- the two threads

// Copies one wait's words into the ring and releases the word semaphore once per word
// copied, in one call, so that the process thread takes them all in one wake-up.
void PushWords(_HALCYRA_ISR_INFO* context, const uint32_t* words, uint32_t count)
{
    LONG pushed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t write = context->writeIndex.load(std::memory_order_relaxed);
        const uint32_t read = context->readIndex.load(std::memory_order_acquire);
        if (write - read >= kHalcyraRingWords) {
            // The process thread lags a whole ring behind: keep the unread words, drop this one.
            context->lostWords.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        context->ring[write % kHalcyraRingWords] = words[i];
        context->writeIndex.store(write + 1, std::memory_order_release);
        ++pushed;
    }
    if (pushed) ReleaseSemaphore(context->wordSemaphore, pushed, nullptr);
}

DWORD InterruptThread(void* parameter)
{
    auto* context = static_cast<_HALCYRA_ISR_INFO*>(parameter);
    SetThreadPriority(GetCurrentThread(), kThreadPriority);
    uint32_t type = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(HookLock());
        if (context->firstList) type = context->firstList->source & 0xFFFFFFu;
    }
    HLC_WAIT_BUFFER buffers[2];
    std::memset(buffers, 0, sizeof buffers);
    DeviceEvent requestEvent(true, true);
    DeviceOverlapped overlapped[2];
    overlapped[0].event = overlapped[1].event = &requestEvent;
    int current = 0;
    buffers[0].type = buffers[1].type = type;

    // The first wait normally stays pending; one that completes at once carries words
    // that arrived before the hook and is handled by the loop like any other.
    if (HlcDrvPendInterruptWait(context->device, &overlapped[0], &buffers[0]) == kDeviceFailed) {
        context->driverFailed.store(1);
        return 1;
    }
    SetEvent(context->startEvent);

    for (;;) {
        DeviceEvent* events[2] = {context->stopSignal, &requestEvent};
        const int which = DeviceEvent::waitAny(events, 2, kDeviceWaitForever);
        if (which == 0) {
            HlcDrvCancelInterruptWait(context->device, nullptr, &buffers[current]);
            // The wait must be over before its buffer goes away with this frame.
            DeviceCancelIo(context->device, &overlapped[current]);
            return 0;
        }
        uint32_t bytes = 0;
        if (!DeviceGetOverlappedResult(context->device, &overlapped[current], &bytes, false)) {
            if (overlapped[current].status == kDeviceErrorIncomplete) continue;
            context->driverFailed.store(1);
            return 1;
        }
        if (bytes > sizeof(HLC_WAIT_BUFFER)) {
            context->driverFailed.store(1);
            return 1;
        }
        const int finished = current;
        current ^= 1;
        buffers[current].type = type;
        buffers[current].count = 0;
        const DeviceResult next = HlcDrvPendInterruptWait(context->device, &overlapped[current], &buffers[current]);

        uint32_t count = buffers[finished].count;
        if (count > HLC_WAIT_WORDS) count = HLC_WAIT_WORDS;
        const uint32_t delivered = bytes >= 8 ? (bytes - 8) / 4 : 0;
        if (count > delivered) count = delivered;
        PushWords(context, buffers[finished].words, count);

        if (next == kDeviceFailed) {
            context->driverFailed.store(1);
            return 1;
        }
    }
}

DWORD ProcessThread(void* parameter)
{
    auto* context = static_cast<_HALCYRA_ISR_INFO*>(parameter);
    SetThreadPriority(GetCurrentThread(), kThreadPriority);
    HlcGetBoardHooks().initNodeRuntime(context->node);
    SetEvent(context->startEvent);
    for (;;) {
        HANDLE objects[2] = {context->stopEvent, context->wordSemaphore};
        const DWORD which = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            HlcGetBoardHooks().exitNodeRuntime(context->node);
            return 0;
        }
        if (which != WAIT_OBJECT_0 + 1) return 1;
        // One word per count of the semaphore; the words released with this one are taken
        // in the same wake-up.
        do {
            const uint32_t read = context->readIndex.load(std::memory_order_relaxed);
            const uint32_t word = context->ring[read % kHalcyraRingWords];
            context->readIndex.store(read + 1, std::memory_order_release);
            std::lock_guard<std::recursive_mutex> lock(HookLock());
            HalcyraDispatchInterruptWord(context, word);
        } while (WaitForSingleObject(context->wordSemaphore, 0) == WAIT_OBJECT_0);
    }
}

// Starts a thread and waits until it signals its start; false (the thread has ended)
// when it ended before that.
bool StartThread(_HALCYRA_ISR_INFO* context, ThreadStartRoutine routine, HANDLE* thread, DWORD* id)
{
    *thread = CreateThread(routine, context, id);
    if (!*thread) return false;
    HANDLE objects[2] = {context->startEvent, *thread};
    const DWORD which = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
    ResetEvent(context->startEvent);
    return which == WAIT_OBJECT_0;
}

// Waits for a thread to end for at most kHalcyraStopWaitMs of the library clock, in
// slices: a short real wait on the thread, then a sleep of the slice on the library clock.
// On a free-running clock the time is real time as before; on a virtual clock the full
// wait passes in about a hundred short real waits, so a thread that never ends costs a
// couple of seconds while one that does end still has real time to do so.
bool WaitForThreadEnd(HANDLE thread)
{
    const double limit = kHalcyraStopWaitMs / 1000.0;
    const double start = HwClockSeconds();
    for (;;) {
        const DWORD which = WaitForSingleObject(thread, kStopSliceRealMs);
        if (which == WAIT_OBJECT_0) return true;
        if (which != WAIT_TIMEOUT) return false;
        const double waited = HwClockSeconds() - start;
        if (waited >= limit) return false;
        HwSleep(std::min(kStopSliceSeconds, limit - waited));
    }
}

// Stops both threads of a context; false when one of them did not end in time.  The
// context must then stay allocated with everything its threads use: the handle of such a
// thread is kept, and so are the objects the threads wait on.
bool StopThreads(_HALCYRA_ISR_INFO* context)
{
    if (context->stopEvent) SetEvent(context->stopEvent);
    if (context->stopSignal) context->stopSignal->set();
    bool ended = true;
    for (HANDLE* thread : {&context->interruptThread, &context->processThread}) {
        if (!*thread) continue;
        const bool self = (thread == &context->processThread && context->processThreadId == GetCurrentThreadId()) ||
                          (thread == &context->interruptThread && context->interruptThreadId == GetCurrentThreadId());
        if (!self && !WaitForThreadEnd(*thread)) {
            ended = false;
            continue;
        }
        CloseIfHandle(*thread);
    }
    if (!ended) return false;
    CloseIfHandle(context->wordSemaphore);
    CloseIfHandle(context->stopEvent);
    CloseIfHandle(context->startEvent);
    return true;
}

// True when every thread of a given-up context has ended by now; its handles are then
// closed.
bool ThreadsEnded(_HALCYRA_ISR_INFO* context)
{
    for (HANDLE thread : {context->interruptThread, context->processThread})
        if (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) return false;
    for (HANDLE* handle : {&context->interruptThread, &context->processThread, &context->wordSemaphore,
                           &context->stopEvent, &context->startEvent})
        CloseIfHandle(*handle);
    return true;
}

// Brings up the threads of a new context; false after undoing what was started.
bool StartContext(_HALCYRA_ISR_INFO* context, const HlcNodeLink* link, uint32_t source)
{
    if (!HlcDrvEnableSource(link->device, link->overlapped, source, 1)) return false;
    context->stopEvent = CreateEventA(TRUE, FALSE);
    context->stopSignal = new DeviceEvent(true, false);
    context->wordSemaphore = CreateSemaphoreA(0, static_cast<LONG>(kHalcyraRingWords));
    context->startEvent = CreateEventA(TRUE, FALSE);
    bool ok = context->stopEvent && context->wordSemaphore && context->startEvent;
    ok = ok && StartThread(context, ProcessThread, &context->processThread, &context->processThreadId);
    ok = ok && StartThread(context, InterruptThread, &context->interruptThread, &context->interruptThreadId);
    if (ok) {
        CloseIfHandle(context->startEvent);
        return true;
    }
    if (!StopThreads(context)) {
        std::lock_guard<std::recursive_mutex> lock(HookLock());
        GivenUp().push_back(context);
    }
    HlcDrvEnableSource(link->device, link->overlapped, source, 0);
    return false;
}

void FreeHooks(_HALCYRA_HOOK_LIST* list)
{
    for (_HALCYRA_HOOK_REC* r = list->firstHook; r;) {
        _HALCYRA_HOOK_REC* next = r->next;
        if (r->semaphore && r->semaphore != reinterpret_cast<HANDLE>(static_cast<uintptr_t>(-1)))
            CloseHandle(r->semaphore);
        delete r;
        r = next;
    }
    list->firstHook = nullptr;
}

void UnlinkList(_HALCYRA_HOOK_LIST* list)
{
    _HALCYRA_ISR_INFO* context = list->owner;
    if (list->previous)
        list->previous->next = list->next;
    else
        context->firstList = list->next;
    if (list->next) list->next->previous = list->previous;
}

_HALCYRA_HOOK_LIST* Unhook(uint32_t node, int32_t source)
{
    std::unique_lock<std::recursive_mutex> lock(HookLock());
    _HALCYRA_ISR_INFO* context = FindContext(node);
    _HALCYRA_HOOK_LIST* list = FindList(context, static_cast<uint32_t>(source));
    if (!list) return nullptr;
    bool keepContext = false;
    if (context->firstList == list && !list->next) {
        // Last source of the node: the threads go first, outside the lock, because the
        // process thread takes it for every word.
        UnlinkContext(context);
        lock.unlock();
        keepContext = !StopThreads(context);
        if (const HlcNodeLink* link = HlcGetHostHooks().nodeLink(node))
            HlcDrvEnableSource(link->device, link->overlapped, static_cast<uint32_t>(source), 0);
        lock.lock();
    }
    if (keepContext) {
        // A thread that did not end may still be calling these hooks: the list stays
        // with the given-up context.
        GivenUp().push_back(context);
        return nullptr;
    }
    FreeHooks(list);
    UnlinkList(list);
    delete list;
    if (!context->firstList) {
        UnlinkContext(context);
        FreeContext(context);
    }
    return nullptr;
}

_HALCYRA_HOOK_LIST* Hook(uint32_t node, HalcyraHookFunction function, int32_t source, HANDLE* semaphore,
                         void* userData)
{
    const HlcNodeLink* link = SourceLink(node, source);
    if (!link) return nullptr;
    std::unique_lock<std::recursive_mutex> lock(HookLock());
    _HALCYRA_ISR_INFO* context = FindContext(node);
    const bool fresh = context == nullptr;
    if (fresh) {
        context = new _HALCYRA_ISR_INFO();
        context->node = node;
        context->device = link->device;
        LinkContext(context);
    }
    _HALCYRA_HOOK_LIST* list = FindList(context, static_cast<uint32_t>(source));
    bool freshList = false;
    if (!list) {
        list = new _HALCYRA_HOOK_LIST();
        list->owner = context;
        list->source = static_cast<uint32_t>(source);
        _HALCYRA_HOOK_LIST** tail = &context->firstList;
        _HALCYRA_HOOK_LIST* last = nullptr;
        while (*tail) {
            last = *tail;
            tail = &(*tail)->next;
        }
        list->previous = last;
        *tail = list;
        freshList = true;
        const HlcBoardHooks& hooks = HlcGetBoardHooks();
        if (hooks.getSignal(node, static_cast<uint32_t>(source)) == -1)
            hooks.setSignal(node, static_cast<uint32_t>(source), 0);
    }
    _HALCYRA_HOOK_REC* added = nullptr;
    if (function != HalcyraListOnly()) {
        bool present = false;
        _HALCYRA_HOOK_REC** tail = &list->firstHook;
        _HALCYRA_HOOK_REC* last = nullptr;
        for (_HALCYRA_HOOK_REC* r = list->firstHook; r; r = r->next) present = present || r->function == function;
        if (!present) {
            HANDLE handle = nullptr;
            if (semaphore) {
                handle = *semaphore ? *semaphore : CreateSemaphoreA(0, static_cast<LONG>(kHalcyraRingWords));
                if (!handle) {
                    if (freshList) {
                        UnlinkList(list);
                        delete list;
                    }
                    if (fresh) {
                        UnlinkContext(context);
                        FreeContext(context);
                    }
                    return nullptr;
                }
                *semaphore = handle;
            }
            while (*tail) {
                last = *tail;
                tail = &(*tail)->next;
            }
            added = new _HALCYRA_HOOK_REC{list, function, userData, handle, nullptr, last};
            *tail = added;
        }
    }
    if (!fresh) return list;

    lock.unlock();
    if (StartContext(context, link, static_cast<uint32_t>(source))) return list;
    lock.lock();
    // A thread that did not end keeps the context and its lists.
    for (_HALCYRA_ISR_INFO* c : GivenUp())
        if (c == context) {
            UnlinkContext(context);
            return nullptr;
        }
    // Undo the new context completely; a semaphore created here is closed again.
    if (added && semaphore && added->semaphore == *semaphore) *semaphore = nullptr;
    while (context->firstList) {
        _HALCYRA_HOOK_LIST* l = context->firstList;
        FreeHooks(l);
        UnlinkList(l);
        delete l;
    }
    UnlinkContext(context);
    FreeContext(context);
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------- dispatch

void HalcyraDispatchInterruptWord(_HALCYRA_ISR_INFO* context, uint32_t word)
{
    const HlcBoardHooks& hooks = HlcGetBoardHooks();
    const uint32_t node = context->node;
    const uint32_t group = (word >> 22) & 0x1FFu;
    if (word & 0x80000000u) {
        _HALCYRA_HOOK_LIST* list = FindList(context, kHalcyraSpecialSource);
        if (!list) return;
        for (uint32_t bit = 0; bit < 22; ++bit) {
            if (!(word & (1u << bit))) continue;
            const uint32_t source = group * 32 + bit;
            const int32_t signal = hooks.getSignal(node, source);
            const bool bound = signal != -1;
            // The signal is signalled by its number: the core finds its semaphore.
            if (bound && hooks.takeSignalPending(node, source)) hooks.semaSignal(node, static_cast<int32_t>(source));
            const int old = hooks.setTaskPriority(kCallPriority);
            for (_HALCYRA_HOOK_REC* r = list->firstHook; r;) {
                _HALCYRA_HOOK_REC* next = r->next;
                if (!r->semaphore && !bound) hooks.semaCheck(node, static_cast<int32_t>(source));
                r->function(list);
                r = next;
            }
            hooks.setTaskPriority(old);
        }
        return;
    }
    for (uint32_t bit = 0; bit < 22; ++bit) {
        if (!(word & (1u << bit))) continue;
        const uint32_t source = group * 32 + bit;
        _HALCYRA_HOOK_LIST* list = FindList(context, source);
        if (!list) continue;
        const int old = hooks.setTaskPriority(kCallPriority);
        for (_HALCYRA_HOOK_REC* r = list->firstHook; r;) {
            _HALCYRA_HOOK_REC* next = r->next;
            if (!r->semaphore) hooks.semaCheck(node, static_cast<int32_t>(source));
            r->function(list);
            r = next;
        }
        hooks.setTaskPriority(old);
    }
}

// ---------------------------------------------------------------- exports

_HALCYRA_HOOK_LIST* ScanAndSetHalcyraHookList(uint32_t node, HalcyraHookFunction function, int32_t source,
                                              HANDLE* semaphore, void* userData)
try {
    if (!function) return Unhook(node, source);
    return Hook(node, function, source, semaphore, userData);
}
HLC_EXPORT_CATCH(ScanAndSetHalcyraHookList)

int HalcyraHookInterruptFunction(uint32_t node, HalcyraHookFunction function, int32_t source, HANDLE* semaphore,
                                 void* userData)
try {
    if (!function && source == -1) {
        for (int32_t s = 32; s <= static_cast<int32_t>(kHalcyraSpecialSource); ++s)
            if (IsPrimarySource(s) || IsDisplaySource(s) || s == static_cast<int32_t>(kHalcyraSpecialSource))
                Unhook(node, s);
        return 0;
    }
    if (!IsPrimarySource(source) && !IsDisplaySource(source) && source != static_cast<int32_t>(kHalcyraSpecialSource))
        return 1;
    if (!function) {
        Unhook(node, source);
        return 0;
    }
    return ScanAndSetHalcyraHookList(node, function, source, semaphore, userData) ? 0 : 1;
}
HLC_EXPORT_CATCH_AS(HalcyraHookInterruptFunction, 1)

_HALCYRA_HOOK_LIST* HalcyraGetHookList(uint32_t node, int32_t source)
try {
    if (!SourceLink(node, source)) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(HookLock());
    return FindList(FindContext(node), static_cast<uint32_t>(source));
}
HLC_EXPORT_CATCH(HalcyraGetHookList)

_HALCYRA_HOOK_REC* HalcyraGetNextHookFunction(_HALCYRA_HOOK_LIST* list, _HALCYRA_HOOK_REC** cursor)
try {
    if (!list) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(HookLock());
    _HALCYRA_HOOK_REC* next = (!cursor || !*cursor) ? list->firstHook : (*cursor)->next;
    if (cursor) *cursor = next;
    return next;
}
HLC_EXPORT_CATCH(HalcyraGetNextHookFunction)

HANDLE HalcyraGetHandleEvent(_HALCYRA_HOOK_REC* record)
try {
    return record ? record->semaphore : nullptr;
}
HLC_EXPORT_CATCH(HalcyraGetHandleEvent)

HalcyraHookFunction HalcyraGetFuncPtr(_HALCYRA_HOOK_REC* record)
try {
    return record ? record->function : nullptr;
}
HLC_EXPORT_CATCH(HalcyraGetFuncPtr)

void* HalcyraGetUsrDataPtr(_HALCYRA_HOOK_REC* record)
try {
    return record ? record->userData : nullptr;
}
HLC_EXPORT_CATCH(HalcyraGetUsrDataPtr)

uint32_t HalcyraGetHookInterruptType(_HALCYRA_HOOK_LIST* list)
try {
    return list ? (list->source & 0xFFFFFFu) : 0;
}
HLC_EXPORT_CATCH(HalcyraGetHookInterruptType)

uint32_t HalcyraGetInterruptType(_HALCYRA_HOOK_REC* record)
try {
    return record ? HalcyraGetHookInterruptType(record->list) : 0;
}
HLC_EXPORT_CATCH(HalcyraGetInterruptType)

int HalcyraNodeThreadsLeft(uint32_t node)
{
    std::lock_guard<std::recursive_mutex> lock(HookLock());
    int left = 0;
    std::vector<_HALCYRA_ISR_INFO*>& contexts = GivenUp();
    for (auto it = contexts.begin(); it != contexts.end();) {
        _HALCYRA_ISR_INFO* context = *it;
        if (node != 0 && context->node != node) {
            ++it;
        } else if (ThreadsEnded(context)) {
            while (_HALCYRA_HOOK_LIST* l = context->firstList) {
                FreeHooks(l);
                UnlinkList(l);
                delete l;
            }
            FreeContext(context);
            it = contexts.erase(it);
        } else {
            ++left;
            ++it;
        }
    }
    return left;
}

_HALCYRA_ISR_INFO* HalcyraGetIsrInfo(uint32_t node)
{
    std::lock_guard<std::recursive_mutex> lock(HookLock());
    return FindContext(node);
}
