// Start and end of grab and the halt of the standard grab-module family.
#include "grabevents.h"

#include "bufid.h"
#include "dispops.h"
#include "grabimage.h"
#include "grabrequest.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "im_param.h"
#include "intserver.h"
#include "intserverio.h"
#include "nodelist.h"
#include "syncobj.h"
#include "task.h"
#include "thread.h"

using intsrv::Modify;
using intsrv::Put;
using intsrv::Read;
using intsrv::Shadow;
using intsrv::SyncOf;
using intsrv::WaitFor;

namespace {

constexpr uint32_t kLocationBoard = 1;
constexpr uint32_t kLocationHost = 3;
constexpr uint32_t kOpThrHalt = 9;
constexpr uint32_t kHaltThread = 0x40000010;
constexpr uint32_t kVtContinuous = 0x2;
constexpr uint32_t kVtStart = 0x1;
constexpr uint32_t kVmStatusBlock = 0x2800;   // bit 13: a host grab's end

int32_t Int(const SERVINFO_ST* s, uint32_t c, uint32_t k)
{
    return static_cast<int32_t>(s->slot(c, k));
}

uint32_t NodeOf(const SERVINFO_ST* s)
{
    return s->node & 0xFF;
}

// The grab location of the thread in a slot word (bits 0-30), 0 without one.
uint32_t LocationOf(uint32_t threadWord)
{
    const MP_THR_GRAB_ST* g = mp_thr_grab_record_of_buffer(threadWord);
    return g ? g->location & 0x7FFFFFFFu : 0;
}

// The slot's end sync object told the end, with the frame number unless the slot keeps
// the counter.
void TellEnd(SERVINFO_ST* s, uint32_t c)
{
    MP_SYNC_ST* sync = SyncOf(s->slot(c, kSlotSyncCurrent));
    if (!sync) return;
    mp_osb_update_state(sync, kSyncDone);
    if (!s->slot(c, kSlotNoCounter)) {
        const int32_t frame = Int(s, c, kSlotWindowEnd) - 1;
        mp_osb_update_state(sync, kSyncCountBit | (static_cast<uint32_t>(frame) & 0xFFFFF));
    }
}

// Takes the ended grab off its thread's count.  A grab that ends while the thread counts
// none (or has no grab location) was never counted by its request: the count stays at 0
// and the console hears of it.
void UncountGrab(SERVINFO_ST* s, uint32_t c)
{
    const uint32_t word = s->slot(c, kSlotThreadCurrent);
    if (!word) return;
    MP_THR_GRAB_ST* g = mp_thr_grab_record_of_buffer(word);
    if (!g) return;
    TaskBeginMutex();
    const bool counted = g->count >= 1 && g->location != 0;
    if (counted) {
        if (--g->count == 0) g->location = 0;
    } else {
        if (g->count < 0) g->count = 0;
        if (g->count == 0) g->location = 0;
    }
    TaskEndMutex();
    if (!counted)
        HlcPrint("\nmpPrvUpdateEoG: a grab ended that its thread did not count (count %d, location %u)\n",
                 static_cast<int>(g->count), static_cast<unsigned>(g->location));
}

// Frees the temporary buffers of the grab in flight and clears their words, so a later end
// never frees them twice.
void FreeTempBuffers(SERVINFO_ST* s, uint32_t c)
{
    for (uint32_t k : kSlotTempBuffers) {
        const uint32_t word = s->slot(c, k);
        s->slot(c, k) = 0;
        auto* b = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(word));
        if (b && mp_buf_valid(b, kBufKindImage)) mp_buf_free(b);
    }
}

// Step 4 of the end: the last grab into host DMA memory completes only when both list
// engines are idle.  Bounded by the communication time-out.
void WaitListsIdle(SERVINFO_ST* s, uint32_t c)
{
    const double limit = mp_sys_timeout(3);
    const bool grabIdle = WaitFor(limit, [s] {
        if (Read(s, kOrloGrabListControl) == 0) return true;
        if ((Read(s, kOrloGrabStatus) & (kGstatInFlight | kGstatArmed)) == 0) Put(s, kOrloGrabListControl);
        return false;
    });
    const bool vmIdle = WaitFor(limit, [s] { return Read(s, kOrloVmListControl) == 0; });
    if (!grabIdle || !vmIdle)
        intsrv::ReportTimeout("mpPrvUpdateEoG", s->slot(c, kSlotSyncCurrent), "Register lists still running");
}

// One pass of the start steps.
void StartSteps(SERVINFO_ST* s, uint32_t c)
{
    mpPrvTestGrabOverrun(s, 1, c);
    if (s->slot(c, kSlotInFlight)) {
        s->slot(c, kSlotStartPending) = 1;
        return;
    }
    if (MP_SYNC_ST* sync = SyncOf(s->slot(c, kSlotSyncNext))) mp_osb_update_state(sync, kSyncStarted);
    mpPrvGrabServerBody(s, c);
}

// The status test of an event: the core's test reads and clears the status and logs the
// overrun; its result only tells a lost grab.  An overrun is either.
bool TestOverrun(SERVINFO_ST* s, uint32_t which, uint32_t c)
{
    const uint32_t status = Read(s, kOrloGrabStatus);
    const int repeat = mpPrvTestGrabOverrun(s, which, c);
    return repeat != 0 || (status & 0x9) != 0;
}

void EndSteps(SERVINFO_ST* s, uint32_t c, int depth);

// The grab-server body after a pass, and what an overrun asks for: true when another pass
// must run.
bool AfterBody(SERVINFO_ST* s, uint32_t c, bool overrun)
{
    mpPrvGrabServerBody(s, c);
    if (!overrun) return false;
    if (Int(s, c, kSlotRemaining) == -1)
        s->slot(c, kSlotRemaining) = 1;
    else
        StartSteps(s, c);
    return true;
}

// Whether the grab is still active when a continuous grab's end decides to start the next
// frame: the Orlo's grab status, or the family's own test while its end steps run.
thread_local bool (*t_grabActive)(SERVINFO_ST*, uint32_t) = nullptr;
bool GrabActive(SERVINFO_ST* s, uint32_t c)
{
    if (t_grabActive) return t_grabActive(s, c);
    return (Read(s, kOrloGrabStatus) & kGstatInFlight) != 0;
}
thread_local void (*t_grabStop)(SERVINFO_ST*, uint32_t) = nullptr;

// The end steps; depth bounds the nested runs a deferred halt or repeat asks for.
void EndSteps(SERVINFO_ST* s, uint32_t c, int depth)
{
    if (depth > 2) return;
    const uint32_t node = NodeOf(s);
    bool endAfter = false;
    for (int pass = 0; pass < kEogMaxPasses; ++pass) {
        const bool overrun = TestOverrun(s, 0, c);
        if (Int(s, c, kSlotRequested) == -1 && Int(s, c, kSlotRemaining) == 1 && !GrabActive(s, c))
            StartSteps(s, c);
        if (!s->slot(c, kSlotInFlight)) {
            if (!AfterBody(s, c, overrun)) return;
            continue;
        }
        if (Int(s, c, kSlotRemaining) < 1 && LocationOf(s->slot(c, kSlotThreadCurrent)) == kLocationHost)
            WaitListsIdle(s, c);
        TellEnd(s, c);
        UncountGrab(s, c);
        mpPrvFreeCh(s, c);
        if ((Read(s, kOrloGrabStatus) & (kGstatInFlight | kGstatArmed)) == 0 &&
            (Read(s, kOrloGrabControl) & kGctlContinuous) == 0) {
            Shadow(s, kOrloGrabControl) |= kGctlStop;
            Put(s, kOrloGrabControl);
        }
        FreeTempBuffers(s, c);
        if (s->slot(c, kSlotLineMode)) mpPrvUdtLint(s, c);
        if (s->slot(c, kSlotChannelMask) == 15)
            Modify(s, kOrloVmChannelControl, 0, 0xF0);
        else
            mpPrvStartVm(s);
        if (s->slot(c, kSlotSequence) && Int(s, c, kSlotRemaining) > 1) --s->slot(c, kSlotRemaining);
        s->slot(c, kSlotInFlight) = 0;

        if (s->slot(c, kSlotDeferred) & kDeferHalt) {
            s->slot(c, kSlotDeferred) &= ~kDeferHalt;
            disableExtInt(node);
            s->slot(c, kSlotRemaining) = 1;
            uint32_t& control = Shadow(s, kOrloGrabControl);
            control = (control & ~kGctlContinuous) | kGctlStop;
            Put(s, kOrloGrabControl);
            if (t_grabStop) t_grabStop(s, c);
            const bool restart =
                !(Read(s, kOrloInterruptSet) & kIntStartOfGrab) && !s->slot(c, kSlotStartPending);
            enableExtInt(node);
            TaskYield(-1);
            if (restart) StartSteps(s, c);
            if (s->slot(c, kSlotStartPending))
                endAfter = true;
            else
                EndSteps(s, c, depth + 1);
        }
        if (s->slot(c, kSlotDeferred) & kDeferRepeat) {
            s->slot(c, kSlotDeferred) &= ~kDeferRepeat;
            StartSteps(s, c);
            EndSteps(s, c, depth + 1);
        }
        if (!s->slot(c, kSlotStartPending)) return;
        mpPrvGrabServerBody(s, c);
        if (endAfter) {
            endAfter = false;
            EndSteps(s, c, depth + 1);
        }
        if (!overrun) return;
        if (Int(s, c, kSlotRemaining) == -1)
            s->slot(c, kSlotRemaining) = 1;
        else
            StartSteps(s, c);
    }
    HlcPrint("\nmpPrvUpdateEoG: end of grab abandoned after %d passes\n", kEogMaxPasses);
}

// ---- halt ------------------------------------------------------------------------------

struct HaltEnd {
    uint32_t node = 0;
    uint32_t path = 0;            // 1 first grab path, 2 second
    SERVINFO_ST* state = nullptr; // local end: its event state; other node: its registers only
    bool local = false;
};

SERVINFO_ST* PathState(uint32_t node, uint32_t path)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    return record ? mp_servinfo(record, path == 2 ? 1 : 0) : nullptr;
}

void PulseVmTiming(SERVINFO_ST* s)
{
    if (!s) return;
    Modify(s, kOrloVtControl, kVtContinuous, 0);
    Modify(s, kOrloVtControl, 0, kVtStart);
    Modify(s, kOrloVtControl, kVtContinuous | kVtStart, 0);
}

void CountHalt(MP_THR_GRAB_ST* g)
{
    TaskBeginMutex();
    ++g->haltCount;
    TaskEndMutex();
    if (g->haltSema != -1 && TaskValidateSema(g->haltSema)) TaskSignalSema(g->haltSema);
}

// The VM transfers of a halted thread (step 2).
void HaltVm(MP_THR_GRAB_ST* g, HaltEnd (&ends)[2], int32_t mode)
{
    bool any = false;
    for (const HaltEnd& e : ends) any = any || e.state;
    if (!any) return;
    if (mode == kHaltAtEnd) {
        for (HaltEnd& e : ends)
            if (e.state && (Read(e.state, kOrloVtControl) & kVtContinuous)) {
                CountHalt(g);
                Modify(e.state, kOrloVtControl, kVtContinuous, 0);
            }
        return;
    }
    CountHalt(g);
    for (HaltEnd& e : ends) PulseVmTiming(e.state);
    // The semaphore was signalled just above: taking it does not block.
    if (g->haltSema != -1 && TaskValidateSema(g->haltSema)) TaskCheckSema(g->haltSema);
    TaskBeginMutex();
    if (g->haltCount > 0) --g->haltCount;
    TaskEndMutex();
    bool signalled = false;
    for (HaltEnd& e : ends) {
        if (!e.local || !e.state) continue;
        mpPrvTestVMOverrun(e.state);
        e.state->slot(0, kServVmPending) = 0;
        if (mode != kHaltNowQuiet && !signalled) {
            const uint32_t signal = kSignalVm + (e.path == 2 ? kSignalDisplayOffset : 0);
            const int32_t sema = mp_interrupt_get_signal(e.node, signal);
            if (sema < -1 && TaskValidateSema(sema)) TaskSignalSema(sema);
            signalled = true;
        }
    }
    if (mode == kHaltNowQuiet) CountHalt(g);
}

// The display node of the node's system; 0 when there is none.
uint32_t DisplayNodeOf(uint32_t node)
{
    uint32_t display = 0;
    if (mp_disp_get_node_id(((node >> 4) & 0xF) - 1, 0, &display) != 0) return 0;
    return display & 0xFF;
}

// The node's display node halts a grab into its display heap.
void HaltOnDisplayNode(uint32_t display, int32_t mode)
{
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrHalt, 1, "imThrHalt");
    im_msg_put_long(&msg, 0, mode);
    im_msg_send(&msg, display << 16, kHaltThread, 0, IM_SYNC_POLL);
    im_msg_end(&msg);
}

uint32_t DescriptorWord(const MP_THREAD_ST* thread)
{
    const _MP_BUF_ST* b = mp_buf_pointer(thread->id);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b));
}

}  // namespace

void mpPrvUpdateSoG_Std(SERVINFO_ST* state, uint32_t slot)
{
    if (!state || slot >= kServSlots) return;
    StartSteps(state, slot);
}

void mpPrvUpdateEoG_Std(SERVINFO_ST* state, uint32_t slot)
{
    if (!state || slot >= kServSlots) return;
    EndSteps(state, slot, 0);
}

void mpPrvUpdateEoG_With(SERVINFO_ST* state, uint32_t slot, bool (*active)(SERVINFO_ST*, uint32_t),
                         void (*stop)(SERVINFO_ST*, uint32_t))
{
    if (!state || slot >= kServSlots) return;
    auto* previous = t_grabActive;
    auto* previousStop = t_grabStop;
    t_grabActive = active;
    t_grabStop = stop;
    EndSteps(state, slot, 0);
    t_grabActive = previous;
    t_grabStop = previousStop;
}

void mpPrvHalt_Std(MP_THREAD_ST* thread, int32_t mode)
{
    if (!thread) return;
    MP_THR_GRAB_ST* g = mp_thr_grab_record(thread);
    if (!g) return;
    const uint32_t node = thread->node & 0xFF;

    // Step 1: the ends of the thread's VM transfer.
    HaltEnd ends[2];
    if (g->vmXfer) {
        for (int i = 0; i < 2; ++i) {
            ends[i].node = (g->vmXfer >> (16 * i)) & 0xFF;
            ends[i].path = (g->vmXfer >> (16 * i + 8)) & 0xFF;
            ends[i].local = ends[i].node == node;
            ends[i].state = ends[i].node ? PathState(ends[i].node, ends[i].path) : nullptr;
        }
        if (mode == kHaltNow && !(ends[0].local && ends[1].local)) mode = kHaltAtEnd;
    }
    disableExtInt(node);
    HaltVm(g, ends, mode);
    if (mode == kHaltNowQuiet) mode = kHaltNow;
    enableExtInt(node);

    // Step 3: the grab in progress and its path.
    const uint32_t location = g->location & 0x7FFFFFFFu;
    if (location == 0) return;
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    if (!record || !record->nodeState) return;
    const uint32_t* info = &record->nodeState->nodeInfo;
    const bool host = location == kLocationHost;
    if (location != kLocationBoard && !host && !info[kNodeInfoLocalGrab]) {
        // The grab ran on the display node; when that is this node itself the grab is
        // halted here: a halt sent to this node would come back to this branch for ever.
        const uint32_t display = DisplayNodeOf(node);
        if (display && display != node) {
            HaltOnDisplayNode(display, mode);
            return;
        }
    }
    const uint32_t orlo = location == kLocationBoard ? 0 : (host ? (g->path == 1 ? 0 : 1) : 1);
    SERVINFO_ST* s = mp_servinfo(record, orlo);
    if (!s) return;
    const uint32_t me = DescriptorWord(thread);

    // Step 4: is anything running?
    disableExtInt(node);
    uint32_t status = Read(s, kOrloGrabStatus);
    if (host && Read(s, kOrloGrabListControl) != 0) status |= kGstatInFlight;
    const uint32_t control = Read(s, kOrloGrabControl);
    if (!(status & (kGstatInFlight | kGstatArmed)) && !(control & kGctlContinuous)) {
        enableExtInt(node);
        return;
    }

    // Step 5: a grab in flight that belongs to another thread is only marked.
    const bool inFlight = (status & kGstatInFlight) != 0;
    const bool continuous = s->slot(0, kSlotInFlight) && Int(s, 0, kSlotRemaining) == -1;
    bool extraEnd = false;
    if (inFlight && !host && ((status & kGstatArmed) || continuous)) {
        const uint32_t current = s->slot(0, kSlotThreadCurrent);
        const uint32_t next = s->slot(0, kSlotThreadNext);
        const bool other = (current && current != me) || ((control & kGctlContinuous) && next && next != me);
        if (other) {
            s->slot(0, kSlotDeferred) |= kDeferHalt;
            enableExtInt(node);
            return;
        }
        if (mode == kHaltNow) extraEnd = true;
    }

    // Step 6: stop the engine.
    if (mode == kHaltNow || (mode == kHaltAtEnd && !inFlight)) {
        if (host) {
            Shadow(s, kOrloGrabListControl) = 0;
            Put(s, kOrloGrabListControl);
            if (!WaitFor(mp_sys_timeout(3), [s] { return Read(s, kOrloVmListControl) == 0; }))
                intsrv::ReportTimeout("mpPrvHalt", s->slot(0, kSlotSyncNext), "VM register list still running");
        } else {
            uint32_t& shadow = Shadow(s, kOrloGrabControl);
            shadow = (shadow & ~kGctlContinuous) | kGctlStop;
            Put(s, kOrloGrabControl);
        }
    } else if (!host) {
        Modify(s, kOrloGrabControl, kGctlContinuous, 0);
    }

    // Step 7: the events the stopped engine owes.
    bool b12 = false;
    bool b13 = false;
    mpPrvHaltSeenEvents(s, host, &b12, &b13);
    const bool wasEndless = Int(s, 0, kSlotRemaining) == -1;
    if (wasEndless) s->slot(0, kSlotRemaining) = 1;
    const HALT_OWED owed = mpPrvHaltOwed(mode, b12, b13, inFlight, continuous, wasEndless, extraEnd);
    if (owed.repeat) {
        s->slot(0, kSlotDeferred) |= kDeferRepeat;
        enableExtInt(node);
        return;
    }

    // Step 8.
    enableExtInt(node);
    TaskYield(-1);
    if (owed.start) StartSteps(s, 0);
    if (owed.end) EndSteps(s, 0, 0);
    if (owed.extraEnd) EndSteps(s, 0, 0);
}

void mpPrvHaltSeenEvents(SERVINFO_ST* s, bool host, bool* startSeen, bool* endSeen)
{
    const uint32_t interrupts = Read(s, kOrloInterruptSet);
    *startSeen = (interrupts & kIntStartOfGrab) != 0;
    *endSeen = (interrupts & kIntEndOfGrab) != 0;
    if (host) *endSeen = *endSeen || (Read(s, kVmStatusBlock) & kIntEndOfGrab) != 0;
}

HALT_OWED mpPrvHaltOwed(int32_t mode, bool startSeen, bool endSeen, bool inFlight, bool continuous, bool wasEndless,
                        bool extraEnd)
{
    HALT_OWED owed{false, false, extraEnd, false};
    if (mode != kHaltNow && mode != kHaltAtEnd) return owed;
    // A halt at the end of a single grab in flight lets that grab raise its own events.
    if (mode == kHaltAtEnd && inFlight && !continuous) return owed;
    if (!startSeen && !endSeen) {
        // Neither event came: a halt at the end of an endless grab lets it run once more.
        if (mode == kHaltAtEnd && (continuous || wasEndless)) {
            owed.repeat = true;
            return owed;
        }
        owed.start = !inFlight || extraEnd || wasEndless;
        owed.end = true;
    } else if (!startSeen) {
        owed.end = extraEnd || wasEndless;
        if (extraEnd) {
            owed.start = true;
            owed.extraEnd = false;
        }
    } else if (endSeen) {
        owed.extraEnd = false;
        owed.end = !(continuous && mode != kHaltNow);
    } else {
        owed.end = true;
    }
    return owed;
}
