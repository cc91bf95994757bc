// The interrupt servers of a node and the grab and VM event state they keep.
#include "intserver.h"

#include "bufid.h"
#include "grabfamily.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodeopen.h"
#include "reqres.h"
#include "syncobj.h"
#include "task.h"
#include "w32sync.h"

#include <initializer_list>

using namespace intsrv;

namespace {

constexpr uint32_t kChannelBitsFirst = 0x10000;   // k 30: bit 0x10000 << i uses channel i
constexpr uint32_t kHeadFlagWord = 7;             // digitizer list head: channels in use
constexpr uint32_t kHeadUseWord = 9;              // 9 + i: users of channel i
constexpr uint32_t kHostGrabLocation = 3;
constexpr uint32_t kListEndMargin = 88;

int32_t& Signed(uint32_t& word)
{
    return reinterpret_cast<int32_t&>(word);
}

int32_t SlotInt(const SERVINFO_ST* s, uint32_t c, uint32_t k)
{
    return static_cast<int32_t>(s->slot(c, k));
}

void SignalIfOpen(int32_t sema)
{
    if (sema != 0 && sema != -1 && TaskValidateSema(sema)) TaskSignalSema(sema);
}

int32_t OpenSema(int32_t count)
{
    const int32_t sema = TaskOpenSema(-1, count);
    return sema == -1 ? 0 : sema;
}

// ---- the server frame -----------------------------------------------------------------

using Update = void (*)(SERVINFO_ST* state);
using Prepare = void (*)(SERVINFO_ST* primary, SERVINFO_ST* display);

// Waits for the signal of either Orlo (bit 0 primary, bit 1 display) and runs the update
// for each Orlo whose signal fired, primary first.  Ends when no signal of the node is a
// task semaphore, or when a waited semaphore is closed (the node's kernel is ending).
void Serve(void* argument, uint32_t primarySignal, uint32_t displaySignal, Prepare prepare, Update update)
{
    auto* record = static_cast<_NODE_MAIN_RESOURCE_ST*>(argument);
    if (!record) return;
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    SERVINFO_ST* states[2] = {mp_servinfo(record, 0), mp_servinfo(record, 1)};
    if (prepare) prepare(states[0], states[1]);
    int32_t handles[2] = {-1, -1};
    uint32_t mask = 0;
    const uint32_t signals[2] = {primarySignal, displaySignal};
    for (int b = 0; b < 2; ++b) {
        if (signals[b] == 0) continue;
        handles[b] = mp_interrupt_get_signal(node, signals[b]);
        if (handles[b] < -1 && TaskValidateSema(handles[b]) && TaskBindSema(handles[b], b)) mask |= 1u << b;
    }
    if (mask == 0) return;
    for (;;) {
        uint32_t fired = TaskWaitEvents(mask) & mask;
        if (fired == 0) return;
        // The wake reports the bits pending when the task was readied; asking again (it
        // returns at once, the fired bits are still pending) takes in a signal of the
        // other Orlo that came before this task ran.
        fired |= TaskWaitEvents(mask) & mask;
        for (int b = 0; b < 2; ++b)
            if (fired & (1u << b)) TaskCheckSema(handles[b]);
        for (int b = 0; b < 2; ++b)
            if ((fired & (1u << b)) && update) update(states[b]);
    }
}

void EndOfTransferSemas(SERVINFO_ST* primary, SERVINFO_ST* display)
{
    primary->endOfTransferSema = OpenSema(0);
    display->endOfTransferSema = OpenSema(0);
}

void CompletionObjects(SERVINFO_ST* primary, SERVINFO_ST* display)
{
    for (SERVINFO_ST* s : {primary, display})
        for (uint32_t c = 0; c < kServSlots; ++c) {
            s->slot(c, kSlotDoneSema) = static_cast<uint32_t>(OpenSema(1));
            s->slot(c, kSlotDoneEvent) = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(CreateEventA(TRUE, FALSE)));
        }
}

void GrabLineSemas(SERVINFO_ST* primary, SERVINFO_ST* display)
{
    for (SERVINFO_ST* s : {primary, display})
        for (uint32_t c = 0; c < kServSlots; ++c) s->slot(c, kSlotLineSema) = static_cast<uint32_t>(OpenSema(0));
}

void VmLineSemas(SERVINFO_ST* primary, SERVINFO_ST* display)
{
    primary->vmLineSema = OpenSema(0);
    display->vmLineSema = OpenSema(0);
}

// The display Orlo's display-line semaphore.  The primary Orlo has no display line: its
// slot of that semaphore is cleared, while its VM-line semaphore (the word before) stays
// for the tasks that wait on it.
void DisplayLineSema(SERVINFO_ST* primary, SERVINFO_ST* display)
{
    display->displayLineSema = OpenSema(0);
    primary->displayLineSema = 0;
}

void EndOfGrab(SERVINFO_ST* s) { mpPrvUpdateEoG(s, 0); }
void StartOfGrab(SERVINFO_ST* s) { mpPrvUpdateSoG(s, 0); }
void GrabLine(SERVINFO_ST* s) { mpPrvUpdateGline(s, 0); }

}  // namespace

// ---- state and start-up -------------------------------------------------------------------

SERVINFO_ST* mp_servinfo(_NODE_MAIN_RESOURCE_ST* record, uint32_t orlo)
{
    if (!record) return nullptr;
    return reinterpret_cast<SERVINFO_ST*>(orlo == 0 ? record->primaryServer : record->displayServer);
}

void mpVMServer(void* record) { Serve(record, kSignalVm, kSignalVm + kSignalDisplayOffset, nullptr, mpPrvUpdateVM); }
void mpCrServer(void* record)
{
    Serve(record, kSignalVmCommand, kSignalVmCommand + kSignalDisplayOffset, nullptr, mpPrmUpdateCr);
}
void mpEotServer(void* record)
{
    Serve(record, kSignalEndOfTransfer, kSignalEndOfTransfer + kSignalDisplayOffset, EndOfTransferSemas,
          mpPrvUpdateEoT);
}
void mpSotServer(void* record)
{
    Serve(record, kSignalStartOfTransfer, kSignalStartOfTransfer + kSignalDisplayOffset, nullptr, nullptr);
}
void mpEogServer(void* record)
{
    Serve(record, kSignalEndOfGrab, kSignalEndOfGrab + kSignalDisplayOffset, CompletionObjects, EndOfGrab);
}
void mpSogServer(void* record)
{
    Serve(record, kSignalStartOfGrab, kSignalStartOfGrab + kSignalDisplayOffset, nullptr, StartOfGrab);
}
void mpGlineServer(void* record)
{
    Serve(record, kSignalGrabLine, kSignalGrabLine + kSignalDisplayOffset, GrabLineSemas, GrabLine);
}
void mpVlineServer(void* record)
{
    Serve(record, kSignalVmLine, kSignalVmLine + kSignalDisplayOffset, VmLineSemas, mpPrvUpdateVline);
}
void mpKvxServer(void* record) { Serve(record, kSignalKvx, kSignalKvx + kSignalDisplayOffset, nullptr, mpPrvUpdateKvx); }
void mpDlineServer(void* record) { Serve(record, 0, kSignalDisplayLine, DisplayLineSema, mpPrvUpdateDline); }

void mpPrvInitInterruptServer(uint32_t device)
{
    const uint32_t node = (device >> 16) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record) return;
    SERVINFO_ST* states[2] = {mp_servinfo(record, 0), mp_servinfo(record, 1)};
    if (states[0]->started || states[1]->started) return;
    for (uint32_t o = 0; o < 2; ++o) {
        FillHeader(states[o], node, record, o);
        for (uint32_t c = 0; c < kServSlots; ++c) {
            Signed(states[o]->slot(c, kSlotRemaining)) = -2;
            Signed(states[o]->slot(c, kSlotRequested)) = -2;
            states[o]->slot(c, kSlotChannelMask) = 15;
        }
    }
    static const TaskEntry kServers[] = {mpVMServer,  mpCrServer,  mpEotServer,    mpSotServer,  mpEogServer,
                                         mpSogServer, mpGlineServer, mpVlineServer, mpKvxServer, mpDlineServer};
    for (TaskEntry entry : kServers) {
        const int32_t task = TaskCreate(kTaskUniqueHandle, entry, record, kIntServerPriority, kIntServerStack);
        if (task != -1) TaskResume(task);
    }
    states[0]->started = 1;
    states[1]->started = 1;
}

// ---- end of grab chain ----------------------------------------------------------------------

void mpPrvGrabServerBody(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    int32_t& remaining = Signed(s->slot(c, kSlotRemaining));
    const int32_t requested = SlotInt(s, c, kSlotRequested);
    if (remaining >= 0) {
        if (requested > 1 || requested < 0)
            s->slot(c, kSlotSequence) = 1;
        else if (requested == 1)
            s->slot(c, kSlotSequence) = 0;
        const int32_t was = remaining--;
        if (was == 1) {
            mpPrvBeforeToLast(s, c);
            s->slot(c, kSlotStartPending) = 0;
        }
    } else if (requested == -1) {
        s->slot(c, kSlotSequence) = 1;
    }
}

void mpPrvBeforeToLast(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    for (const auto& pair : kSlotSetupPairs) {
        s->slot(c, pair[0]) = s->slot(c, pair[1]);
        s->slot(c, pair[1]) = 0;
    }
    s->slot(c, kSlotChannelMask) = 15;
    s->slot(c, kSlotLineMode) = 0;
    if (s->slot(c, kSlotSequence)) mpPrvDisableContinuousGrab(s, c);
    SignalIfOpen(SlotInt(s, c, kSlotDoneSema));
    if (s->slot(c, kSlotInFlight) && s->slot(c, kSlotDoneEvent))
        SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(s->slot(c, kSlotDoneEvent))));
    s->slot(c, kSlotInFlight) = 1;
}

namespace {

void StoreWord(uint32_t address, uint32_t value)
{
    if (address == 0) return;
    if (HwIsWindowAddress(address))
        HwWrite32(address, 0, value);
    else
        *reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(address)) = value;
}

}  // namespace

void mpPrvDisableContinuousGrab(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    const uint32_t location = mpPrvThreadGrabLocation(s->slot(c, kSlotThreadCurrent)) & 0x7FFFFFFFu;
    if (location == kHostGrabLocation) {
        // The list must not be rewritten while the engine runs its last entries.
        const uint32_t limit = s->listEnd - kListEndMargin;
        const bool left = WaitFor(mp_sys_timeout(3), [s, limit] {
            return !(Read(s, kOrloGrabListPointer) >= limit && Read(s, kOrloGrabListControl) != 0);
        });
        if (!left)
            ReportTimeout("mpPrvDisableContinuousGrab", s->slot(c, kSlotSyncCurrent),
                          "Grab list still running at its end");
        for (int i = 0; i < 2; ++i) StoreWord(s->patchAddress[i], s->patchValue[i]);
        // The entry the list ends with moves the list position to its end.
        StoreWord(s->listDescriptor, s->listEnd);
        if (s->listDescriptor) StoreWord(s->listDescriptor + 4, s->registers + kOrloGrabListPointer);
        return;
    }
    _NODE_MAIN_RESOURCE_ST* record = RecordOf(s);
    const uint32_t module = record && record->nodeState ? record->nodeState->moduleType : 0;
    if (module >= 3 && module <= 6) return;
    Modify(s, kOrloGrabControl, 0x2, 0);
}

void mpPrvFreeCh(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    const uint32_t node = s->node & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = RecordOf(s);
    if (!record || !record->nodeState) return;
    const auto* head = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(record->nodeState->digitizerList[2]));
    if (!mp_buf_valid(head, kBufKindDigitizer)) return;
    auto* words = static_cast<uint32_t*>(mp_buf_address_band_internal(head, 0));
    if (!words) return;
    // Other nodes and the board processor share the head's channel words: they change
    // only under the hardware lock, which is waited for up to the communication time-out.
    int lock = 1;
    WaitFor(mp_sys_timeout(3), [&lock, node] { return (lock = mp_sys_lock_check(node)) != 1; });
    if (lock != 0) {
        if (lock == 1)
            ReportTimeout("mpPrvFreeCh", s->slot(c, kSlotSyncCurrent), "Hardware lock not obtained");
        return;
    }
    const bool allChannels = ((Read(s, kOrloVmChannelControl) >> 4) & 0xF) == 0xF;
    uint32_t sections = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (!(s->slot(c, kSlotChannelBits) & (kChannelBitsFirst << i))) continue;
        uint32_t& users = words[kHeadUseWord + i];
        bool free = false;
        if (allChannels) {
            free = users == 1;
            if (users > 0) --users;
        } else {
            free = users == 0;
        }
        if (free) sections |= kSectionChannel0 << i;
    }
    if (!words[kHeadUseWord] && !words[kHeadUseWord + 1] && !words[kHeadUseWord + 2] && !words[kHeadUseWord + 3])
        words[kHeadFlagWord] = 0;
    mp_sys_lock_reset(node);
    if (allChannels && sections) mp_sys_section_unlock(node, sections);
}

void mpPrvStartVm(SERVINFO_ST* s)
{
    if (!s) return;
    Modify(s, kOrloVmChannelControl, 0xF0, (s->slot(0, kSlotChannelMask) & 0xF) << 4);
    uint32_t& control = Shadow(s, kOrloGrabControl);
    control = (control & ~0x30000u) | 0x1;
    Put(s, kOrloGrabControl);
    control |= 1u << 26;
    Put(s, kOrloGrabControl);
    control &= ~0x6u;
    Put(s, kOrloGrabControl);
    control &= ~0x1u;
    Put(s, kOrloGrabControl);
    control |= 0x4;
    Put(s, kOrloGrabControl);
    control &= ~0x4u;
}

void mpPrvUdtLint(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    Modify(s, kOrloGrabControl, 3u << 20, 0);
    Set(s, orloev::kGrabLine, s->slot(c, kSlotLineNext));
    Modify(s, kOrloGrabControl, 0, (s->slot(c, kSlotLineMode) & 3) << 20);
}

// ---- overruns -----------------------------------------------------------------------------

int mpPrvTestGrabOverrun(SERVINFO_ST* s, uint32_t which, uint32_t c)
{
    if (!s || c >= kServSlots) return 0;
    const uint32_t status = Read(s, kOrloGrabStatus);
    Acknowledge(s, kOrloGrabStatus, 9);
    int overruns = ((status >> 3) & 1) + (status & 1);
    int repeat = 0;
    const uint32_t check = Read(s, orloev::kGrabCheck);
    if ((check & 0x3FFFFFFu) == orloev::kLostGrab) {
        ++overruns;
        Set(s, orloev::kGrabCheck, check & ~0x3FFFFFFu);
        // Both list engines must be idle before the lost grab is repeated.
        const double limit = mp_sys_timeout(3);
        const bool idle = WaitFor(limit, [s] { return Read(s, kOrloGrabListControl) == 0; }) &&
                          WaitFor(limit, [s] { return Read(s, kOrloVmListControl) == 0; });
        if (!idle) ReportTimeout("mpPrvTestGrabOverrun", s->slot(c, kSlotSyncCurrent), "Register lists still running");
        repeat = s->slot(c, kSlotThreadNext) != 0 ? 1 : 0;
    }
    if (overruns) {
        // The affected grab's error goes to its sync object: the slot words of the grab
        // hold sync and thread objects, not buffer descriptors, and only a word that holds
        // a live sync object is written through.
        const bool remain = s->slot(c, kSlotRemaining) != 0;
        const uint32_t word = which == 0 && !remain ? s->slot(c, kSlotSyncCurrent) : s->slot(c, kSlotSyncNext);
        LogSyncError(word, HLC_ERR_MISCELLANEOUS, "Grab overrun", "DigGrab");
    }
    return repeat;
}

int mpPrvTestVMOverrun(SERVINFO_ST* s)
{
    if (!s) return 0;
    const uint32_t status = Read(s, kOrloVpStatus);
    Acknowledge(s, kOrloVpStatus, kVmStatusOverrun);
    if (!(status & kVmStatusOverrun)) return 0;
    if (const auto* transfer = reinterpret_cast<const VMXFER_ST*>(static_cast<uintptr_t>(s->vmTransfer)))
        if (auto* resource = reinterpret_cast<MP_RESOURCE_ST*>(static_cast<uintptr_t>(transfer->resource)))
            _mp_res_log_error(resource, HLC_ERR_NOT_PRESENT, "VM interrupt overrun");
    return 1;
}

void mpPrvDisableContinuousVm(SERVINFO_ST* s)
{
    if (s) Modify(s, kOrloVtControl, kVtControlContinuous, 0);
}

// ---- updates ------------------------------------------------------------------------------

void mpPrvUpdateEoT(SERVINFO_ST* s)
{
    if (!s || !s->vmTransfer) return;
    auto* transfer = reinterpret_cast<VMXFER_ST*>(static_cast<uintptr_t>(s->vmTransfer));
    mpPrvTestVMOverrun(s);
    if (transfer->continuous > 0) {
        transfer->pending = 0;
        if (TaskValidateSema(transfer->sema)) TaskWaitSema(transfer->sema);
        TaskBeginMutex();
        --transfer->continuous;
        TaskEndMutex();
        mpPrvDisableContinuousVm(s);
        s->vmContinuous = 0;
    }
    if (s->vmContinuous == 0) {
        transfer->pending = 0;
        SignalIfOpen(s->endOfTransferSema);
    }
}

void mpPrvUpdateGline(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kServSlots) return;
    const uint32_t node = s->node & 0xFF;
    mpPrvTestGrabOverrun(s, 0, 0);
    const uint32_t startSignal = kSignalStartOfGrab + (s->index ? kSignalDisplayOffset : 0);
    bool startPending = false;
    if (mp_sys_sema_check(node, startSignal) > 0) {
        mp_sys_sema_signal(node, startSignal);
        startPending = true;
    }
    const int32_t remaining = SlotInt(s, c, kSlotRemaining);
    const uint32_t line = Read(s, orloev::kGrabLine) & 0xFFFF;
    const uint32_t syncWord =
        remaining > 1 || remaining < 0 || startPending ? s->slot(c, kSlotSyncNext) : s->slot(c, kSlotSyncCurrent);
    mp_osb_update_state(SyncOf(syncWord), kSyncCountBit + line);
    if (const int32_t step = SlotInt(s, c, kSlotLineStep)) {
        const int32_t current = static_cast<int32_t>(line);
        int32_t next = current + step;
        int32_t last = SlotInt(s, c, kSlotWindowEnd) - 1;
        if (((Read(s, kOrloGrabControl) >> 8) & 3) == 1) {
            if (!(next & 1)) next = next < last ? next + 1 : next - 1;
            if (!(last & 1)) last += 1;
        }
        const int32_t value = current == last ? step : (next >= last ? last : next);
        Set(s, orloev::kGrabLine, static_cast<uint32_t>(value));
    }
    if (s->slot(c, kSlotDeferred) & 1) {
        Modify(s, kOrloGrabControl, 0, 1);
        Modify(s, kOrloGrabControl, 1, 0);
        s->slot(c, kSlotDeferred) &= ~1u;
    }
    SignalIfOpen(SlotInt(s, c, kSlotLineSema));
}

void mpPrvUpdateVline(SERVINFO_ST* s)
{
    if (!s) return;
    mpPrvTestVMOverrun(s);
    const uint32_t counter = Read(s, kOrloVmLineCounter);
    // The running transfer's sync object, as its programming handed it over (the object's
    // record); reached only while a transfer runs on this Orlo, whose requester keeps the
    // object alive until the transfer ends.
    if (s->vmTransfer && s->vmLineSync)
        mp_osb_update_state(reinterpret_cast<MP_SYNC_ST*>(static_cast<uintptr_t>(s->vmLineSync)),
                            kSyncCountBit + (counter & 0xFFFF));
    const int32_t step = static_cast<int32_t>(s->vmLineStep);
    if (step == 0) return;
    const int32_t current = static_cast<int32_t>(counter & 0xFFFF);
    int32_t next = current + step;
    int32_t last = static_cast<int32_t>(Read(s, kOrloVmLastLine) & 0xFFFF);
    if (Read(s, kOrloVtControl) & kVtControlOddLine) {
        if (!(next & 1)) next = next < last ? next + 1 : next - 1;
        if (!(last & 1)) last -= 1;
    }
    const int32_t low = current == last ? 0 : (next < last ? next : last);
    Set(s, kOrloVmLineCounter, (counter & 0xFFFF0000u) | (static_cast<uint32_t>(low) & 0xFFFF));
}

void mpPrvUpdateDline(SERVINFO_ST* s)
{
    if (s) SignalIfOpen(s->displayLineSema);
}

void mpPrvUpdateKvx(SERVINFO_ST* s)
{
    _NODE_MAIN_RESOURCE_ST* record = RecordOf(s);
    if (!record || !record->nodeState) return;
    const uint32_t status = record->nodeState->kvxStatus;
    if (!status) return;
    const uint32_t block = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(status))[s->index ? 16 : 1];
    if (!block) return;
    for (uint32_t c = 0; c < 2; ++c) {
        const uint32_t at = block + 0x128 + 0x20 * c;
        const uint16_t raw = HwIsWindowAddress(at) ? HwRead16(at, 0)
                                                   : *reinterpret_cast<const uint16_t*>(static_cast<uintptr_t>(at));
        const int32_t f = static_cast<int16_t>(raw & 0x7FF8) >> 3;
        const int32_t t = SlotInt(s, c, kSlotFieldThreshold);
        const bool toggle = s->slot(c, kSlotFieldToggle) != 0;
        const int32_t remaining = SlotInt(s, c, kSlotRemaining);
        const int32_t requested = SlotInt(s, c, kSlotRequested);
        // A grab of several frames runs as an endless one does: one start, then an end at
        // each frame's end until its count is done.  (Counted as singles, its frames would
        // never start after the first, and the grab would never end.)
        const auto sequence = [](int32_t req, int32_t rem) { return req == -1 || (req > 1 && rem >= 1); };
        const bool single = remaining == 1 && requested == 1 && s->slot(c, kSlotInFlight) == 0;
        // Its start is due while nothing of it is counted yet (the channel's sequence mark
        // may be left from an earlier grab).
        const bool first = requested == -1 ? remaining == -1 && s->slot(c, kSlotSequence) == 0
                                           : requested > 1 && remaining == requested;
        if (single || first) {
            const bool start =
                first || (!toggle && f != 0) || (toggle && (f == 0 || (t < f && f < 2 * t)));
            if (start) mpPrvUpdateSoG(s, c);
        }
        const bool sequenceNow = sequence(SlotInt(s, c, kSlotRequested), SlotInt(s, c, kSlotRemaining));
        if (s->slot(c, kSlotInFlight) || sequenceNow) {
            const bool end = sequenceNow || (!toggle && (f >= t || f == 0)) || (toggle && f < t + 1);
            if (end) {
                s->slot(c, kSlotFieldToggle) = toggle ? 0 : 1;
                mpPrvUpdateEoG(s, c);
            }
        }
    }
}
