// Hardware lock, sections, doorbell, interrupt signals and the library clock.
#include "hwlock.h"

#include "consolepipe.h"
#include "driverreq.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "nodeopen.h"
#include "task.h"
#include "task_globals.h"
#include "timer.h"
#include "w32sync.h"
#include "w32thread.h"

#include <map>
#include <memory>
#include <mutex>

namespace {

// Built-in time-out table, used while the host node state has none.
constexpr double kDefaultTimeouts[11] = {5.0, 5.0, 1.0, 15.0, 15.0, 15.0, 0.0, -1.0, 0.0, 0.0, 5.0};

constexpr double kBoardTimerHz = kOrloTimerHz;
// A section word that never reads back what was written is given up after this many
// tries instead of spinning for ever with the hardware lock held.
constexpr int kReadBackTries = 1000;
// Rounds a task waits for the board clock to catch up with the time already handed out;
// after that the clock answers the last time again, so it stays monotonic without hanging.
constexpr int kClockCatchUpRounds = 1000;

// State the core keeps per node beside the node record: the signal table and the two
// interrupt-enable mask words.
struct NodeCore {
    int32_t signals[kSignalEntries * kSignalWords];
    uint32_t primaryMask = 0;
    uint32_t displayMask = 0;
    NodeCore()
    {
        for (uint32_t i = 0; i < kSignalEntries; ++i) {
            signals[i * kSignalWords] = 0;
            signals[i * kSignalWords + 1] = -1;
            signals[i * kSignalWords + 2] = -1;
            signals[i * kSignalWords + 3] = 0;
        }
    }
};

std::mutex g_nodesLock;
// Never destroyed: a node's threads may still use it while the process ends.
std::map<uint32_t, std::unique_ptr<NodeCore>>& g_nodes = *new std::map<uint32_t, std::unique_ptr<NodeCore>>;

double g_prevTime = 0.0;

// The core state of a node, made on first use; the node record then points at its table.
NodeCore* CoreOf(_NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return nullptr;
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    std::lock_guard<std::mutex> guard(g_nodesLock);
    std::unique_ptr<NodeCore>& slot = g_nodes[node];
    if (!slot) slot.reset(new NodeCore());
    record->signalTable = slot->signals;
    return slot.get();
}

int32_t* SignalEntry(_NODE_MAIN_RESOURCE_ST* record, uint32_t signal)
{
    NodeCore* core = CoreOf(record);
    return core ? core->signals + (signal % kSignalEntries) * kSignalWords : nullptr;
}

int32_t LoadWord(const int32_t* word)
{
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}
void StoreWord(int32_t* word, int32_t value)
{
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}

bool InKernel()
{
    return TaskTaskingState() != 0;
}

// Node of the running task's kernel, 0 when unknown.
uint32_t RunningNode()
{
    _NODE_TASK_GLOBALS* g = TaskGetNodeTaskGlobals();
    return g && g->ownNode > 0 ? static_cast<uint32_t>(g->ownNode) & 0xFF : 0;
}

_NODE_MAIN_RESOURCE_ST* FirstNode()
{
    // The node list starts at the host block's own record.
    _NODE_ST* host = HlcGetBoardHooks().hostNodeState();
    for (_NODE_MAIN_RESOURCE_ST* r = host ? &host->own : nullptr; r; r = r->next)
        if (r->nodeNumber > 0) return r;
    return nullptr;
}

// Raises the running task to the section priority (with the node in bits 16-23) when it
// runs below it, and restores it at the end.
class PriorityRaise {
public:
    PriorityRaise(uint32_t node, bool allowed)
    {
        if (!allowed || !InKernel()) return;
        const int current = TaskGetPriority();
        if (current >= kSectionPriority) return;
        old_ = TaskSetPriority(static_cast<int>((node & 0xFF) << 16) | kSectionPriority);
        node_ = node;
        raised_ = true;
    }
    ~PriorityRaise()
    {
        if (raised_) TaskSetPriority(static_cast<int>((node_ & 0xFF) << 16) | old_);
    }
    PriorityRaise(const PriorityRaise&) = delete;
    PriorityRaise& operator=(const PriorityRaise&) = delete;

private:
    uint32_t node_ = 0;
    int old_ = 0;
    bool raised_ = false;
};

// A node section taken for the length of a scope: released on every way out of it, an
// exception included, so that a failed holder never leaves the section to wait out.
class HeldSection {
public:
    HeldSection(uint32_t node, uint32_t bits) : node_(node), bits_(bits), held_(mp_sys_section_wait(node, bits) == 0) {}
    ~HeldSection()
    {
        if (held_) mp_sys_section_unlock(node_, bits_);
    }
    HeldSection(const HeldSection&) = delete;
    HeldSection& operator=(const HeldSection&) = delete;
    bool held() const { return held_; }

private:
    uint32_t node_;
    uint32_t bits_;
    bool held_;
};

int DebugMode(uint32_t node)
{
    int32_t value = 0;
    if (HlcGetHostHooks().iniReadInt(node, "CommunicationDebugMode", &value) != 0) value = 0;
    return value;
}

// Waits for check() to stop answering busy (1): polls with zero sleeps up to the lock
// time-out, then on the operator's prompt.  Returns the last answer of check().
template <typename Check>
int WaitNotBusy(uint32_t node, const char* timeoutText, const char* errorText, Check check)
{
    int r = check();
    if (r != 1) return r == 0 ? 0 : -1;
    const double limit = mp_sys_timeout(4);
    const double start = mp_time_clock(0.0);
    while (r == 1 && mp_time_clock(start) < limit) {
        mp_time_sleep(0.0);
        r = check();
    }
    if (r != 1) return r == 0 ? 0 : -1;
    im_print_msg(0, "%s", timeoutText);
    int32_t counter = 0;
    while ((r = check()) == 1) {
        if (im_spin_while(&counter, 1) < 0) break;
        mp_time_sleep(0.0);
    }
    im_spin_while(&counter, 0);
    if (r == 0) return 0;
    im_print_msg(DebugMode(node), "%s", errorText);
    return -1;
}

// Writes the section word and re-reads it until it holds the wanted bits; false when
// the register never reads back.
bool WriteSectionWord(uint32_t regs, uint32_t value, uint32_t bits)
{
    for (int i = 0; i < kReadBackTries; ++i) {
        HwWrite32(regs, kOrloSectionWord, value);
        if ((HwRead32(regs, kOrloSectionWord) & bits) == (value & bits)) return true;
    }
    return false;
}

bool TimerRunning(uint32_t regs)
{
    const uint32_t control = HwRead32(regs, kOrloTimerControl);
    return control != 0 && (control & kTimerControlRun) != 0;
}

// ---- hooks ----------------------------------------------------------------------------

int HookLockCheck(_NODE_MAIN_RESOURCE_ST* record)
{
    return mp_sys_lock_check(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
}
void HookLockReset(_NODE_MAIN_RESOURCE_ST* record)
{
    mp_sys_lock_reset(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
}
int32_t HookGetSignal(uint32_t node, uint32_t source)
{
    return mp_interrupt_get_signal(node, source);
}
void HookSetSignal(uint32_t node, uint32_t source, int32_t signal)
{
    mp_interrupt_set_signal(node, source, signal);
}

} // namespace

// ---------------------------------------------------------------- node helpers

_NODE_MAIN_RESOURCE_ST* mp_core_node_record(uint32_t node)
{
    node &= 0xFF;
    if (node == 0) return nullptr;
    return HlcGetBoardHooks().nodeResource(node);
}

uint32_t mp_core_orlo_regs(const _NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) return 0;
    return record->primaryRegs ? record->primaryRegs : record->displayRegs;
}

int mp_core_board_processor(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record && record->nodeState && record->nodeState->started ? 1 : 0;
}

void mp_core_forget_nodes()
{
    std::lock_guard<std::mutex> guard(g_nodesLock);
    g_nodes.clear();
}

double mp_sys_timeout(int entry)
{
    if (entry < 0 || entry > 10) return 0.0;
    _NODE_ST* host = HlcGetBoardHooks().hostNodeState();
    if (host && host->timeouts) return host->timeouts[entry];
    return kDefaultTimeouts[entry];
}

// ---------------------------------------------------------------- hardware lock

namespace {

int LockCheckRecord(_NODE_MAIN_RESOURCE_ST* record)
{
    const uint32_t regs = mp_core_orlo_regs(record);
    if (!regs) return -1;
    return static_cast<int>(HwRead32(regs, kOrloLock) & 1);
}

void LockResetRecord(_NODE_MAIN_RESOURCE_ST* record)
{
    const uint32_t regs = mp_core_orlo_regs(record);
    if (regs) HwWrite32(regs, kOrloLock, 0);
}

// The exported lock calls take one 32-bit value: below 256 a node number, anything else
// the address of a node record.
_NODE_MAIN_RESOURCE_ST* LockRecordOf(uint32_t nodeOrRecord)
{
    if (nodeOrRecord < 256) return mp_core_node_record(nodeOrRecord);
    return reinterpret_cast<_NODE_MAIN_RESOURCE_ST*>(static_cast<uintptr_t>(nodeOrRecord));
}

} // namespace

int mp_sys_lock_check(uint32_t nodeOrRecord)
try {
    return LockCheckRecord(LockRecordOf(nodeOrRecord));
}
HLC_EXPORT_CATCH_AS(mp_sys_lock_check, -1)

void mp_sys_lock_reset(uint32_t nodeOrRecord)
try {
    LockResetRecord(LockRecordOf(nodeOrRecord));
}
HLC_EXPORT_CATCH(mp_sys_lock_reset)

int mp_sys_lock_wait(uint32_t node)
try {
    node &= 0xFF;
    if (node == 0) return -1;
    return WaitNotBusy(node, "\n\nTimeout in mp_sys_lock_wait()\n\n", "\nWAIT LOCK ERROR IN mp_sys_lock_wait()!\n",
                       [node] { return mp_sys_lock_check(node); });
}
HLC_EXPORT_CATCH_AS(mp_sys_lock_wait, -1)

// ---------------------------------------------------------------- sections

int mp_sys_section_check(uint32_t node, uint32_t bits)
try {
    node &= 0xFF;
    const uint32_t regs = mp_core_orlo_regs(mp_core_node_record(node));
    if (!regs) return -1;
    if (HwRead32(regs, kOrloSectionWord) & bits) return 1;
    PriorityRaise raise(node, true);
    if (mp_sys_lock_wait(node) != 0) return -1;
    int result = 1;
    const uint32_t word = HwRead32(regs, kOrloSectionWord);
    if (!(word & bits)) result = WriteSectionWord(regs, word | bits, bits) ? 0 : -1;
    HwWrite32(regs, kOrloLock, 0);
    return result;
}
HLC_EXPORT_CATCH_AS(mp_sys_section_check, -1)

int mp_sys_section_wait(uint32_t node, uint32_t bits)
try {
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!mp_core_orlo_regs(record)) return -1;
    CRITICAL_SECTION* section = bits == kSectionRing ? record->section : nullptr;
    if (section) EnterCriticalSection(section);
    const int r = WaitNotBusy(node, "\n\nTimeout in mp_sys_section_wait()\n\n",
                              "\nWAIT LOCK ERROR IN mp_sys_section_wait()!\n",
                              [node, bits] { return mp_sys_section_check(node, bits); });
    if (r == 0) return 0;
    if (section) LeaveCriticalSection(section);
    return -1;
}
HLC_EXPORT_CATCH_AS(mp_sys_section_wait, -1)

int mp_sys_section_unlock(uint32_t node, uint32_t bits)
try {
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    const uint32_t regs = mp_core_orlo_regs(record);
    if (!regs) return -1;
    PriorityRaise raise(node, true);
    if (mp_sys_lock_wait(node) != 0) return -1;
    const uint32_t word = HwRead32(regs, kOrloSectionWord);
    const bool cleared = WriteSectionWord(regs, word & ~bits, bits);
    HwWrite32(regs, kOrloLock, 0);
    if (bits == kSectionRing && record->section) LeaveCriticalSection(record->section);
    return cleared ? 0 : -1;
}
HLC_EXPORT_CATCH_AS(mp_sys_section_unlock, -1)

// ---------------------------------------------------------------- signals

uint32_t* mp_interrupt_mask_word(uint32_t node, int display)
{
    NodeCore* core = CoreOf(mp_core_node_record(node));
    if (!core) return nullptr;
    return display ? &core->displayMask : &core->primaryMask;
}

int mp_interrupt_set_signal(uint32_t node, uint32_t signal, int32_t handle)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    NodeCore* core = CoreOf(record);
    if (!core) return -1;
    signal %= kSignalEntries;
    // A task semaphore that is not open binds nothing, and its signal stays disabled.
    int32_t stored = handle;
    if (handle < -1 && !TaskValidateSema(handle)) stored = -1;
    uint32_t* mask = nullptr;
    if (signal >= 32 && signal < 64) mask = &core->primaryMask;
    if (signal >= 64 && signal < 96) mask = &core->displayMask;
    if (mask) {
        const uint32_t bit = 1u << (signal & 31);
        *mask = stored == -1 ? (*mask & ~bit) : (*mask | bit);
    }
    int32_t* entry = core->signals + signal * kSignalWords;
    StoreWord(entry + 1, stored);
    StoreWord(entry + 2, stored == -1 ? -1 : 0);
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_interrupt_set_signal, -1)

int32_t mp_interrupt_get_signal(uint32_t node, uint32_t signal)
try {
    int32_t* entry = SignalEntry(mp_core_node_record(node), signal);
    return entry ? LoadWord(entry + 1) : -1;
}
HLC_EXPORT_CATCH_AS(mp_interrupt_get_signal, -1)

int mp_interrupt_take_pending(uint32_t node, uint32_t signal)
{
    int32_t* entry = SignalEntry(mp_core_node_record(node), signal);
    if (!entry) return 0;
    const int32_t handle = LoadWord(entry + 1);
    if (handle == -1) return 0;
    if (handle < -1) return 1;
    StoreWord(entry + 2, 1);
    return 0;
}

int mp_interrupt_alloc(uint32_t node)
try {
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || !CoreOf(record)) return -1;
    const bool board = mp_core_board_processor(record) != 0;
    // Node state word 277 set to 1 leaves the interrupt registers as they are; the signals
    // below are opened all the same.
    const bool keepRegisters = record->nodeState && record->nodeState->keepInterrupts == 1;
    if (!board && !keepRegisters) {
        LockResetRecord(record);
        for (uint32_t regs : {record->displayRegs, record->primaryRegs}) {
            if (!regs) continue;
            const uint32_t status = HwRead32(regs, kOrloInterruptSet);
            HwWrite32(regs, kOrloInterruptClear, 0xFFFFFFFFu);
            auto change = [regs](uint32_t offset, uint32_t clear, uint32_t set) {
                HwWrite32(regs, offset, (HwRead32(regs, offset) & ~clear) | set);
            };
            change(kOrloMemControl, 7u << 17, 0);
            change(kOrloGrabControl, 0x1Fu << 19, 0);
            change(kOrloBusControl, 3u << 7, 0);
            change(kOrloMemControl, 1u << 22, 1u << 21);
            change(kOrloVpControl, 0x3Fu << 2, 0);
            change(kOrloVtControl, 0x1Fu << 15, 0);
            change(kOrloConfig, 3u << 2, 0);
            HwWrite32(regs, kOrloTimerControl, 0);
            HwWrite32(regs, kOrloTimerCounter, 0);
            HwWrite32(regs, kOrloInterruptClear, 0xFFFFFFFFu);
            HwWrite32(regs, kOrloInterruptSet, status & 0x80000001u);
        }
    }
    static const uint32_t kStartSignals[27] = {0x25, 0x2000002A, 0x33, 0x32, 0x31, 0x30, 0x2F, 0x2E, 0x2D,
                                               0x2C, 0x2B, 0x34, 0,    0x27, 0x6B, 0x6C, 0x6D, 0x6E,
                                               0x71, 0x72, 0x73, 0x76, 0x77, 0x78, 0x7B, 0x7C, 0x7D};
    uint32_t c = 0;
    auto open = [node](uint32_t signal, uint32_t counter) {
        const int32_t id = static_cast<int32_t>(kSignalSemaBase + counter);
        if (TaskValidateSema(id)) return;
        const int32_t handle = TaskOpenSema(id, 0);
        if (handle != -1) mp_interrupt_set_signal(node, signal, handle);
    };
    for (uint32_t value : kStartSignals) {
        const uint32_t s = value & ~0x20000000u;
        const bool allowed = !(value & 0x20000000u) || !board;
        if (s >= 96 && s <= 127) {
            if (allowed) open(s, c);
            ++c;
            continue;
        }
        if (record->primaryRegs && s != 0 && allowed) open(s, c);
        ++c;
        if (record->displayRegs && s != 0 && allowed) open(s + 32, c);
        ++c;
    }
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_interrupt_alloc, -1)

// ---------------------------------------------------------------- doorbell

int mp_interrupt_send(uint32_t node)
try {
    const bool alternate = (node & 0x80000000u) != 0;
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    const uint32_t regs = mp_core_orlo_regs(record);
    if (!regs) return -1;
    const bool board = mp_core_board_processor(record) != 0;
    const uint32_t bit = board ? (alternate ? kInterruptBoardDoorbellAlternate : kInterruptBoardDoorbell)
                               : (alternate ? kInterruptDoorbellAlternate : kInterruptDoorbell);
    int result = -1;
    {
        PriorityRaise raise(node, !board || InKernel());
        const HeldSection held(node, record->primaryRegs ? kSectionDoorbellPrimary : kSectionDoorbellDisplay);
        // Without the doorbell section nothing is written.
        if (!held.held()) return -1;
        bool clear = (HwRead32(regs, kOrloInterruptSet) & bit) == 0;
        if (!clear) {
            const double limit = mp_sys_timeout(2);
            const double start = mp_time_clock(0.0);
            while (!clear && mp_time_clock(start) < limit) clear = (HwRead32(regs, kOrloInterruptSet) & bit) == 0;
        }
        if (clear) {
            HwWrite32(regs, kOrloInterruptSet, bit);
            result = 1;
        }
    }
    return result;
}
HLC_EXPORT_CATCH_AS(mp_interrupt_send, -1)

int mp_interrupt_wait(uint32_t node)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!mp_core_orlo_regs(record)) return -1;
    return mp_sys_sema_wait(node, record->primaryRegs ? 33 : 65);
}
HLC_EXPORT_CATCH(mp_interrupt_wait)

int mp_interrupt_check(uint32_t node)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!mp_core_orlo_regs(record)) return -1;
    return mp_sys_sema_check(node, record->primaryRegs ? 33 : 65);
}
HLC_EXPORT_CATCH(mp_interrupt_check)

void disableExtInt(uint32_t node)
{
    const uint32_t regs = mp_core_orlo_regs(mp_core_node_record(node ? node : RunningNode()));
    if (regs) HwWrite32(regs, kOrloInterruptClear, 1);
}

void enableExtInt(uint32_t node)
{
    const uint32_t regs = mp_core_orlo_regs(mp_core_node_record(node ? node : RunningNode()));
    if (regs) HwWrite32(regs, kOrloInterruptSet, 1);
}

// ---------------------------------------------------------------- signal semaphores

int mp_sys_sema_check(uint32_t node, uint32_t signal)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    int32_t* entry = SignalEntry(record, signal);
    if (!entry) return -1;
    const int32_t handle = LoadWord(entry + 1);
    if (handle < -1) return TaskCheckSema(handle);
    uint32_t answer = 0;
    if (!HlcDrvSemaCheck(record->device, record->nodeEvent, signal % kSignalEntries, &answer)) return -1;
    return static_cast<int>(answer);
}
HLC_EXPORT_CATCH(mp_sys_sema_check)

int mp_sys_sema_wait(uint32_t node, uint32_t signal)
try {
    int32_t* entry = SignalEntry(mp_core_node_record(node), signal);
    if (!entry) return -1;
    const int32_t handle = LoadWord(entry + 1);
    if (handle == -1) return -1;
    if (handle < -1) return TaskWaitSema(handle);
    if (LoadWord(entry + 2) == 0) {
        const double limit = mp_sys_timeout(5);
        const double start = mp_time_clock(0.0);
        while (LoadWord(entry + 2) == 0 && mp_time_clock(start) < limit) {
        }
        if (LoadWord(entry + 2) == 0) return -1;
    }
    return mp_sys_sema_check(node, signal);
}
HLC_EXPORT_CATCH_AS(mp_sys_sema_wait, -1)

int mp_sys_sema_reset(uint32_t node, uint32_t signal)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    int32_t* entry = SignalEntry(record, signal);
    if (!entry) return -1;
    const int32_t handle = LoadWord(entry + 1);
    if (handle < -1) return TaskResetSema(handle);
    uint32_t answer = 0;
    if (!HlcDrvSemaReset(record->device, record->nodeEvent, signal % kSignalEntries, &answer)) return -1;
    return static_cast<int>(answer);
}
HLC_EXPORT_CATCH(mp_sys_sema_reset)

int mp_sys_sema_signal(uint32_t node, uint32_t signal)
try {
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    int32_t* entry = SignalEntry(record, signal);
    if (!entry) return -1;
    const int32_t handle = LoadWord(entry + 1);
    if (handle < -1) {
        TaskSignalSema(handle);
        return 0;
    }
    HlcDrvSemaSignal(record->device, record->nodeEvent, signal % kSignalEntries);
    return 0;
}
HLC_EXPORT_CATCH(mp_sys_sema_signal)

// ---------------------------------------------------------------- time

extern "C" double mp_time_clock(double start)
try {
    for (int round = 0;; ++round) {
        _NODE_MAIN_RESOURCE_ST* record = nullptr;
        if (InKernel()) {
            const uint32_t node = RunningNode();
            record = node ? mp_core_node_record(node) : FirstNode();
        }
        const uint32_t regs = mp_core_orlo_regs(record);
        if (!regs || !TimerRunning(regs)) return HwClockSeconds() - start;
        double frequency = kBoardTimerHz;
        if (record->primaryRegs && mp_core_board_processor(record) && record->nodeState->cpuFrequency)
            frequency = record->nodeState->cpuFrequency;
        const uint32_t period = HwRead32(regs, kOrloTimerControl) & kTimerControlPeriod;
        const bool pending = (HwRead32(regs, kOrloInterruptSet) & 1) != 0;
        if (pending) HwWrite32(regs, kOrloInterruptClear, 1);
        const uint32_t counter = HwRead32(regs, kOrloTimerCounter) & kTimerControlPeriod;
        const int32_t ticks = TimerGetClock();
        if (pending) HwWrite32(regs, kOrloInterruptSet, 1);
        double t = (static_cast<double>(period) * ticks + (static_cast<double>(period) - counter)) / frequency;
        if (start == 0.0) return t;
        if (t < g_prevTime) {
            if (round < kClockCatchUpRounds) {
                TaskYieldOtherPriority(1);
                continue;
            }
            t = g_prevTime;
        }
        g_prevTime = t;
        return t - start;
    }
}
HLC_EXPORT_CATCH(mp_time_clock)

extern "C" void mp_time_sleep(double seconds)
try {
    const double start = seconds != 0.0 ? mp_time_clock(0.0) : 0.0;
    const HANDLE thread = GetCurrentThread();
    double left = seconds;
    do {
        TaskYield(-1);
        const bool drop = GetThreadPriority(thread) == THREAD_PRIORITY_TIME_CRITICAL;
        if (drop) SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
        // The machine's sleep: a zero or 1 ms round on a free-running clock; on a virtual
        // clock the time left passes at once.
        HwSleep(left);
        if (drop) SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
        if (seconds == 0.0) break;
        left = seconds - mp_time_clock(start);
    } while (left > 0.0);
}
HLC_EXPORT_CATCH(mp_time_sleep)

extern "C" double mp_time_cpu_frequency()
try {
    _NODE_MAIN_RESOURCE_ST* record = FirstNode();
    if (!record || !record->nodeState) return 1000.0;
    const _NODE_ST* state = record->nodeState;
    if (record->primaryRegs && state->orlo[0].present) {
        const uint32_t control = HwRead32(record->primaryRegs, kOrloTimerControl);
        if ((control & kTimerControlRun) && (control & kTimerControlPeriod)) return state->cpuFrequency;
    }
    if (record->displayRegs && state->orlo[1].present && TimerRunning(record->displayRegs)) return kBoardTimerHz;
    return 1000.0;
}
HLC_EXPORT_CATCH(mp_time_cpu_frequency)

extern "C" void mp_time_calibrate() try {}
HLC_EXPORT_CATCH(mp_time_calibrate)

extern "C" void mp_time_reset_prev_time()
try {
    g_prevTime = 0.0;
}
HLC_EXPORT_CATCH(mp_time_reset_prev_time)

double mp_time_prev_time()
{
    return g_prevTime;
}

// ---------------------------------------------------------------- hooks

void HlcInstallCoreLockHooks()
{
    HlcBoardHooks hooks = HlcGetBoardHooks();
    hooks.lockCheck = HookLockCheck;
    hooks.lockReset = HookLockReset;
    hooks.interruptSend = mp_interrupt_send;
    hooks.getSignal = HookGetSignal;
    hooks.setSignal = HookSetSignal;
    hooks.takeSignalPending = mp_interrupt_take_pending;
    hooks.sleep = mp_time_sleep;
    HlcSetBoardHooks(hooks);
}
