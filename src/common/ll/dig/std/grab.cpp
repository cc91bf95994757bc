// Grab requests of the standard grab-module family: the request's phases, forwarding to
// other nodes, and the taking of grab channels with the digitizer reload.
#include "grab.h"

#include "analog.h"
#include "bufchild.h"
#include "bufid.h"
#include "camrec.h"
#include "camuart.h"
#include "consolepipe.h"
#include "digitizers.h"
#include "exposure.h"
#include "frontdev.h"
#include "grabengine.h"
#include "grabfamily.h"
#include "grabpatch.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "im_param.h"
#include "intserver.h"
#include "load.h"
#include "lut.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "serialchips.h"
#include "servinfo.h"
#include "syncobj.h"
#include "task.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kInfoTypeComposite = 0x8;
constexpr uint32_t kTriggerNone = 0x20000000u;
constexpr uint32_t kTimeoutGrabChannel = 7;
// Attempts to take the channels when the in-use mask keeps changing under the request.
constexpr int kCompareRounds = 64;

const char kTextComposite[] = "Can not digitize a composite signal";
const char kTextNoChannel[] = "Unable to alloc channel";
const char kTextChannelTimeout[] = "\n\nTimeout in grbChannelWait()\n\n";
const char kTextChannelLockError[] = "\nWAIT LOCK ERROR IN grbChannelWait()!\n";

void Log(MP_RESOURCE_ST* res, int32_t code, const char* text)
{
    if (res) _mp_res_log_error(res, code, text);
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t SlotValue(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    return CamSlotAt(cam, offset)->value;
}

// A grab control field: the stored value, or the default when absent or without a buffer.
int32_t Field(const _MP_BUF_ST* options, uint32_t key, int32_t fallback = kGrabFieldDefault)
{
    int32_t value = 0;
    if (!options || mp_buf_get_field(options, key, &value) != 0) return fallback;
    return value;
}

uint32_t Location(const _MP_BUF_ST* buffer)
{
    return buffer ? buffer->location & 0x7FFFFFFFu : 0;
}

uint32_t NodeOfBuffer(const _MP_BUF_ST* buffer)
{
    return buffer ? buffer->node & 0xFF : 0;
}

// The node that holds the request's digitizer (this node when unknown).
uint32_t DigitizerNode(const DIGPARAM* p)
{
    const uint32_t node = p->digInfo ? p->digInfo[kDigWordNode] & 0xFF : 0;
    return node ? node : p->node;
}

double Timeout(uint32_t entry, double fallback)
{
    if (!imNodeSt || !imNodeSt->timeouts) return fallback;
    return imNodeSt->timeouts[entry];
}


// ---- locks the channel taking holds ----------------------------------------------------

void TakeProtect(DIGPARAM* p)
{
    if (p->protectHeld) return;
    SetToOrlo(p->node, p->pathIndex, &p->protectToken);
    SetToExt(DigitizerNode(p));
    p->protectHeld = 1;
}

void ReleaseProtect(DIGPARAM* p)
{
    if (!p->protectHeld) return;
    ReleaseAccessOrlo();
    p->protectHeld = 0;
}

int TakeEngineSection(DIGPARAM* p)
{
    if (p->sectionHeld) return 0;
    if (mp_sys_section_wait(DigitizerNode(p), kGrabEngineSection) != 0) return -1;
    p->sectionHeld = 1;
    return 0;
}

void ReleaseEngineSection(DIGPARAM* p)
{
    if (!p->sectionHeld) return;
    mp_sys_section_unlock(DigitizerNode(p), kGrabEngineSection);
    p->sectionHeld = 0;
}

// The board's hardware lock of the digitizer's node, with the node's external interrupt
// disabled; false when the lock could not be taken (the interrupt is enabled again).
bool LockDigitizer(DIGPARAM* p)
{
    disableExtInt(p->node);
    if (mp_sys_lock_wait(DigitizerNode(p)) != 0) {
        enableExtInt(p->node);
        return false;
    }
    return true;
}

void UnlockDigitizer(DIGPARAM* p)
{
    mp_sys_lock_reset(DigitizerNode(p));
    enableExtInt(p->node);
}

// ---- the request's parts ---------------------------------------------------------------

void AddToThreadCount(DIGPARAM* p, uint32_t location, bool count)
{
    if (!p->thrGrab) return;
    disableExtInt(p->node);
    p->thrGrab->location = location;
    if (count) {
        TaskBeginMutex();
        ++p->thrGrab->count;
        TaskEndMutex();
        p->countAdded = 1;
    }
    enableExtInt(p->node);
}

// `syncGiven`: the request named a sync object, which must then be a kind-7 one (`p->sync`
// holds only a kind-7 descriptor).
bool BuffersValid(const DIGPARAM* p, bool syncGiven)
{
    if (p->digitizer && !mp_buf_valid(p->digitizer, kBufKindDigitizer)) return false;
    if (p->camera && !mp_buf_valid(p->camera, kBufKindCamera)) return false;
    if (!p->destination || !mp_buf_valid(p->destination, kBufKindImage)) return false;
    if (p->options && !mp_buf_valid(p->options, kBufKindImage)) return false;
    if (syncGiven && !(p->sync && mp_buf_valid(p->sync, kBufKindSync))) return false;
    return true;
}

// Gives back the grab channels that no grab uses any more, as the end of a grab does: the
// new channels this request took, and the channels it joined as a user (their sections
// were taken by an earlier grab).  A channel with users left stays taken: the end of
// their grab frees it.  The in-use mask loses the freed channels, and is cleared when no
// channel has a user left.
void GiveBackChannels(DIGPARAM* p, uint32_t joined)
{
    uint32_t unused = (p->heldChannels & p->newChannels) | (joined & ~p->newChannels);
    if (p->digInfo && LockDigitizer(p)) {
        const uint32_t* users = &p->digInfo[kDigWordUsers];
        for (uint32_t n = 0; n < 4; ++n)
            if (users[n] != 0) unused &= ~(0x10000u << n);
        p->digInfo[kDigWordChannelsInUse] &= ~unused;
        if (!users[0] && !users[1] && !users[2] && !users[3]) p->digInfo[kDigWordChannelsInUse] = 0;
        UnlockDigitizer(p);
    } else if (p->digInfo) {
        unused = 0;   // without the lock the counts cannot be trusted: keep the sections
    }
    const uint32_t node = DigitizerNode(p);
    for (uint32_t n = 0; n < 4; ++n)
        if (unused & (0x10000u << n)) mp_sys_section_unlock(node, GrabChannelSection(n));
    p->heldChannels &= ~p->newChannels;
    p->newChannels = 0;
}

// Releases what a failed digitizer load left taken: the users it added, the new channels
// and their place in the in-use mask.
void UndoChannels(DIGPARAM* p, uint32_t users)
{
    if (p->digInfo && users) {
        if (LockDigitizer(p)) {
            for (uint32_t n = 0; n < 4; ++n)
                if ((users & (0x10000u << n)) && p->digInfo[kDigWordUsers + n] > 0) --p->digInfo[kDigWordUsers + n];
            UnlockDigitizer(p);
        }
    }
    GiveBackChannels(p, users);
}

}  // namespace

// Wait mode 1: lets grabs into another location on this thread end first.  Ends when they
// have or when the wait mode changes, however long they run; a pending halt ends it too.
int mpPrvWaitForOtherGrabs(DIGPARAM* p)
{
    MP_THR_GRAB_ST* g = p->thrGrab;
    if (!g || g->waitMode != 1) return 0;
    const uint32_t location = Location(p->destination);
    while (g->waitMode == 1 && g->count != 0 && (g->location & 0x7FFFFFFFu) != location) {
        if (mpPrvHaltPending(p)) {
            Log(p->res, HLC_ERR_HALTED, nullptr);
            return -1;
        }
        mp_time_sleep(0.0);
    }
    return 0;
}

// ---- thread grab records ---------------------------------------------------------------------

namespace {
uint32_t ThreadGrabLocation(uint32_t descriptor)
{
    const MP_THR_GRAB_ST* g = mp_thr_grab_record_of_buffer(descriptor);
    return g ? g->location : 0;
}
}  // namespace

void mpPrvWireGrabRequests()
{
    mpPrvSetThreadGrabLocation(ThreadGrabLocation);
}

// ---- request -----------------------------------------------------------------------------

void byteL(DIGPARAM* p, uint32_t selection)
{
    const _MP_BUF_ST* dest = p->destination;
    if (!p->cam || !dest) {
        p->grabMask = selection & kGrabChannelsAll;
        return;
    }
    const uint32_t bands = dest->bands;
    const uint32_t location = Location(dest);
    // The channel mapping of the camera's input kind: analog (INFO_INPUT 0) or digital.
    const uint32_t map = (SlotValue(p->cam, cam0::INFO_INPUT) == 0
                              ? mp_dig_map_analog_channel(p->cam, selection & kGrabChannelsAll)
                              : mp_dig_map_digital_channel(p->cam, selection & kGrabChannelsAll)) &
                         kGrabChannelsAll;
    uint32_t mask;
    if (dest->bits == 16 && SlotValue(p->cam, cam0::INFO_BITSPERLOGCH) == 8) {
        mask = kGrabChannelsAll;
    } else if ((bands == 3 && location == kLocSdram && mpPrvChannelCount(selection) == 1 &&
                SlotValue(p->cam, cam0::INFO_TIMEMULTICH) == 1) ||
               (location != kLocSdram && location != kLocHostDma && map == kGrabChannelsAll)) {
        mask = 0x70000;
    } else {
        mask = map;
    }
    if (bands < 4 && mpPrvChannelCount(selection) > bands) mask = ((1u << bands) - 1u) << 16;
    p->grabMask = mask;
}

void presetCamExposure(DIGPARAM* p, uint32_t)
{
    p->captureFlags = 0;
    if (!p->cam) return;
    const uint32_t* exp1 = mpPrvExtSlot(cam0::DIG_EXP1S);
    const uint32_t* cnt1 = mpPrvExtSlot(cam0::DIG_T1SCNT);
    const uint32_t* exp2 = mpPrvExtSlot(cam0::DIG_EXP2S);
    const uint32_t* cnt2 = mpPrvExtSlot(cam0::DIG_T2SCNT);
    if (SlotValue(p->cam, cam0::INFO_T1TRGSRC) != kTriggerNone &&
        (!exp1 || !cnt1 || SlotValue(p->cam, cam0::DIG_EXP1S) != *exp1 ||
         SlotValue(p->cam, cam0::DIG_T1SCNT) != *cnt1))
        p->captureFlags |= 1;
    if (SlotValue(p->cam, cam0::INFO_T2TRGSRC) != kTriggerNone &&
        (!exp2 || !cnt2 || SlotValue(p->cam, cam0::DIG_EXP2S) != *exp2 ||
         SlotValue(p->cam, cam0::DIG_T2SCNT) != *cnt2))
        p->captureFlags |= 2;
}

void presetCamLut(DIGPARAM* p, uint32_t variant)
{
    if (!p->cam) return;
    mp_dig_get_lut_mode(p->cam, p->destination);
    if (variant == 2 || variant == 34) return;
    if (mp_dig_dim_present(p->cam)) CamSlotAt(p->cam, cam0::DIG_DICTL)->value &= ~0x6u;
    const uint32_t* live = mpPrvExtSlot(cam0::DIG_PSGCFG);
    if (live && (*live & 0x8000u)) CamSlotAt(p->cam, cam0::DIG_PSGCFG)->value |= 0x8000u;
}

void mpPrvTakeLoadedCamera(DIGPARAM* p)
{
    if (!p->digInfo || !p->cam || SlotValue(p->cam, cam0::LOADED_ONCE) != 0) return;
    const uint32_t currentId = p->digInfo[kDigWordCamera];
    if (currentId == 0) return;
    _MP_BUF_ST* current = mp_buf_pointer(currentId);
    if (Word(current) < kPredefEntries || current == p->camera || !mp_buf_valid(current, kBufKindCamera)) return;
    int32_t moduleType = 0;
    mp_buf_get_field(current, kCamModuleTypeField, &moduleType);
    if (moduleType != 1 && moduleType != 2 && moduleType != 34) return;
    if (current->sizeX * current->sizeY < static_cast<int32_t>(cam0::kRecordBytes)) return;
    const void* source = mp_buf_address_band_internal(current, 0);
    if (!source || source == p->cam) return;
    std::memcpy(p->cam->bytes, source, cam0::kTakeOverBytes);
}

int32_t grbComposite(DIGPARAM* p)
{
    Log(p->res, HLC_ERR_NO_SYSTEM, kTextComposite);
    return -1;
}

// ---- channels ------------------------------------------------------------------------------

int32_t grbChannelWait(DIGPARAM* p, uint32_t node, uint32_t section)
{
    int r = mp_sys_section_check(node, section);
    if (r == 0) return 0;
    if (r < 0) return -1;
    const double limit = Timeout(kTimeoutGrabChannel, -1.0);
    const double start = mp_time_clock(0.0);
    const bool hadSection = p->sectionHeld != 0;
    const bool hadProtect = p->protectHeld != 0;
    // One more test with section 2048 and the protect lock let go while `pause` runs:
    // 0 taken, 1 still busy, -1 failure or halt.
    auto retest = [&](auto pause) -> int {
        ReleaseEngineSection(p);
        ReleaseProtect(p);
        pause();
        if (hadProtect) TakeProtect(p);
        if (hadSection && TakeEngineSection(p) != 0) return -1;
        const int test = mp_sys_section_check(node, section);
        if (test != 1) return test == 0 ? 0 : -1;
        if (mpPrvHaltPending(p)) {
            Log(p->res, HLC_ERR_HALTED, nullptr);
            return -1;
        }
        return 1;
    };
    for (int round = 0;; ++round) {
        r = retest([&] {
            if (limit == -1.0 && round >= 4) TaskYieldOtherPriority(6);
            else TaskYield(-1);
        });
        if (r != 1) return r;
        if (limit != -1.0 && mp_time_clock(start) >= limit) break;
    }
    // Past the time-out the host keeps testing and asks whether to give up.
    im_print_msg(0, "%s", kTextChannelTimeout);
    int32_t counter = 0;
    bool aborted = false;
    do {
        r = retest([&] { aborted = im_spin_while(&counter, 1) < 0; });
    } while (r == 1 && !aborted);
    im_spin_while(&counter, 0);
    if (r == 0) return 0;
    int32_t debugMode = 0;
    if (HlcGetHostHooks().iniReadInt(node, "CommunicationDebugMode", &debugMode) != 0) debugMode = 0;
    im_print_msg(debugMode, "%s", kTextChannelLockError);
    return -1;
}

int32_t allocCh(DIGPARAM* p, uint32_t mask)
{
    const uint32_t node = DigitizerNode(p);
    int32_t result = 0;
    for (uint32_t n = 0; n < 4; ++n) {
        const uint32_t bit = 0x10000u << n;
        if (!(mask & bit) || (p->heldChannels & bit)) continue;
        if (grbChannelWait(p, node, GrabChannelSection(n)) == 0) p->heldChannels |= bit;
        else result = -1;
    }
    return result;
}

void freeCh(DIGPARAM* p, uint32_t mask)
{
    const uint32_t node = DigitizerNode(p);
    for (uint32_t n = 0; n < 4; ++n) {
        const uint32_t bit = 0x10000u << n;
        // Only sections this request took are released: another holder's stay taken.
        if (!(mask & bit) || !(p->heldChannels & bit)) continue;
        mp_sys_section_unlock(node, GrabChannelSection(n));
        p->heldChannels &= ~bit;
    }
}

void incrCh(DIGPARAM* p, uint32_t* users)
{
    if (!users) return;
    for (uint32_t n = 0; n < 4; ++n)
        if (p->grabMask & (0x10000u << n)) ++users[n];
}

void decrCh(DIGPARAM* p, uint32_t* users)
{
    if (!users) return;
    const bool locked = mp_sys_lock_wait(DigitizerNode(p)) == 0;
    for (uint32_t n = 0; n < 4; ++n)
        if ((p->grabMask & (0x10000u << n)) && users[n] > 0) --users[n];
    if (locked) mp_sys_lock_reset(DigitizerNode(p));
}

void cleanGrab(DIGPARAM* p)
{
    if (p->countAdded && p->thrGrab) {
        disableExtInt(p->node);
        TaskBeginMutex();
        if (p->thrGrab->count > 0) --p->thrGrab->count;
        if (p->thrGrab->count == 0) p->thrGrab->location = 0;
        TaskEndMutex();
        enableExtInt(p->node);
        p->countAdded = 0;
    }
    const uint32_t joined = p->digInfo ? p->grabMask : 0;
    if (p->grabMask && p->digInfo) decrCh(p, &p->digInfo[kDigWordUsers]);
    p->grabMask = 0;
    GiveBackChannels(p, joined);
    std::free(p->work);
    p->work = nullptr;
}

void benchmark(DIGPARAM*) {}

uint32_t mpDigSerAccess_Std(MP_RESOURCE_ST*, uint32_t, uint32_t, uint32_t, uint32_t)
{
    return 0;
}

int32_t grbSetDig(DIGPARAM* p, uint32_t selection, int reload, uint32_t variant)
{
    (void)selection;
    if (!p->digInfo) return 0;
    uint32_t* info = p->digInfo;
    TakeProtect(p);
    if (!reload) {
        presetCamExposure(p, variant);
        presetCamLut(p, variant);
    }
    auto fail = [&]() -> int32_t {
        ReleaseEngineSection(p);
        ReleaseProtect(p);
        Log(p->res, HLC_ERR_RESTRICTED, kTextNoChannel);
        return -1;
    };
    if (TakeEngineSection(p) != 0) return fail();
    uint32_t inUse = info[kDigWordChannelsInUse];
    int differs = reload || !p->cam ? 0 : grbCamCompare(p, p->grabMask & inUse);
    int32_t loadMode = 0;
    uint32_t users = 0;
    for (int round = 0;; ++round) {
        if (round >= kCompareRounds || !LockDigitizer(p)) return fail();
        if (info[kDigWordLastLoaded] == p->digId && !differs) {
            if (info[kDigWordChannelsInUse] != inUse) {
                UnlockDigitizer(p);
                inUse = info[kDigWordChannelsInUse];
                differs = reload || !p->cam ? 0 : grbCamCompare(p, p->grabMask & inUse);
                continue;
            }
            p->newChannels = p->grabMask & ~inUse;
            info[kDigWordChannelsInUse] = inUse | p->grabMask;
            incrCh(p, &info[kDigWordUsers]);
            users = p->grabMask;
            UnlockDigitizer(p);
            if (allocCh(p, p->newChannels) != 0) {
                UndoChannels(p, users);
                return fail();
            }
            loadMode = 1;
            break;
        }
        UnlockDigitizer(p);
        p->newChannels = 0;
        if (allocCh(p, kGrabChannelsAll) != 0) {
            freeCh(p, kGrabChannelsAll);
            return fail();
        }
        freeCh(p, kGrabChannelsAll & ~p->grabMask);
        if (!LockDigitizer(p)) {
            freeCh(p, kGrabChannelsAll);
            return fail();
        }
        info[kDigWordChannelsInUse] = p->grabMask;
        info[kDigWordLastLoaded] = p->digId;
        const bool cameraElsewhere = p->camera && NodeOfBuffer(p->camera) != DigitizerNode(p);
        if (p->camera && !(info[kDigWordCamera] != 0 && cameraElsewhere)) info[kDigWordCamera] = p->camera->id;
        incrCh(p, &info[kDigWordUsers]);
        users = p->grabMask;
        p->newChannels = p->grabMask;
        UnlockDigitizer(p);
        loadMode = 2;
        break;
    }
    ReleaseEngineSection(p);
    int32_t result = 0;
    if (!reload && p->newChannels && p->cam) {
        result = mp_dig_load(p->res, p->cam, p->destination, p->newChannels, loadMode);
        if (result == -1) {
            // The live module is in an unknown state: the next grab reloads it.
            if (LockDigitizer(p)) {
                info[kDigWordLastLoaded] = 0;
                UnlockDigitizer(p);
            }
            UndoChannels(p, users);
        }
    }
    ReleaseProtect(p);
    return result;
}

int32_t mpDigGrab_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                      int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase)
{
    if (!res) return -1;
    DIGPARAM p{};
    const MpGrabArgs args{count, options, sync, phase};
    mpPrvInitGrabParams(&p, res, digitizer, camera, destination, options, sync, &args);
    if (digitizer && !p.digInfo) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);   // kept when getDigInfo logged first
        return -1;
    }
    if (!destination || Word(destination) < kPredefEntries) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return -1;
    }

    // Grab path and module variant.
    const uint32_t location = Location(destination);
    p.pathIndex = 1;
    if (location == kLocSdram) {
        p.pathIndex = 0;
    } else if (location == kLocHostDma && p.nodeInfo && p.nodeInfo[kNodeInfoHostGrabFirstPath]) {
        p.pathIndex = 0;
        const int32_t tagId = Field(options, kGrabFieldTagBuffer, 0);
        _MP_BUF_ST* tag = tagId ? mp_buf_pointer(static_cast<uint32_t>(tagId)) : nullptr;
        if (Word(tag) >= kPredefEntries && mp_buf_valid(tag, kBufKindImage) && Location(tag) != kLocSdram)
            p.pathIndex = 1;
    }
    // A board without the second Orlo grabs into host memory on its first.
    if (location == kLocHostDma && p.pathIndex == 1 && p.record && !p.record->displayRegs) p.pathIndex = 0;
    if (p.record) p.path = mp_servinfo(p.record, p.pathIndex);
    const uint32_t moduleType = p.nodeInfo ? p.nodeInfo[kNodeInfoModuleType] : 0;
    p.variant = moduleType == 2 || moduleType == 34 ? moduleType : 0;

    if (camera) {
        if (!mp_buf_valid(camera, kBufKindCamera) ||
            camera->sizeX * camera->sizeY < static_cast<int32_t>(cam0::kRecordBytes)) {
            Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return -1;
        }
        p.cam = static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(camera, 0));
        if ((SlotValue(p.cam, cam0::INFO_TYPE) & kInfoTypeComposite) &&
            !(destination->bands == 1 && destination->sizeX == 704 && destination->sizeY == 480))
            return grbComposite(&p);
    }
    if (phase == kGrabPhaseDigitizer) mpPrvTakeLoadedCamera(&p);
    p.camProg = Field(options, kGrabFieldCamProg);

    // A destination outside board and host DMA memory is grabbed by the display node.
    int32_t forwardedResult = 0;
    if (mpPrvGrabOnDisplayNode(&p, location, p.variant != 0 || (p.nodeInfo && p.nodeInfo[kNodeInfoLocalGrab]), phase,
                               &forwardedResult))
        return forwardedResult;
    if (phase == kGrabPhaseForwarded) p.forwarded = 1;

    if (p.camProg != 1) {
        if (!BuffersValid(&p, sync != nullptr)) {
            Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return -1;
        }
        if (p.thrGrab) {
            const int32_t wait = options ? Field(options, kGrabFieldWaitMode) : 1;
            if (wait == 1 || wait == 2) p.thrGrab->waitMode = static_cast<uint32_t>(wait);
        }
        if (mpPrvWaitForOtherGrabs(&p) != 0) return -1;
    }

    const int32_t selection = Field(options, kGrabFieldChannel);
    p.channelSel = selection == kGrabFieldDefault
                       ? (p.cam ? SlotValue(p.cam, cam0::INFO_CHANNEL) : 0)
                       : static_cast<uint32_t>(selection);

    AddToThreadCount(&p, destination->location, phase == kGrabPhaseAll || phase == kGrabPhaseForwarded);

    const uint32_t digNode = DigitizerNode(&p);
    const bool digitizerHere = digNode == p.node;
    const bool module = p.cam && p.moduleWord;
    // A phase forwarded to another node that fails there has its error in the request's
    // record (sendMsg) and does not stop the local phases: the sync object follows this
    // node's grab.  Only a failed Orlo phase leaves no grab engine programmed.
    bool engineNotProgrammed = false;
    auto finish = [&]() -> int32_t {
        if (engineNotProgrammed) {
            // No end of grab will come to give back the thread's count and the channels.
            // Mend: the sync object ends here, else a wait for the grab's end never returns.
            cleanGrab(&p);
            mp_osb_update_state(reinterpret_cast<MP_SYNC_ST*>(sync), kGrabSyncEnded);
        }
        std::free(p.work);
        p.work = nullptr;
        return 0;
    };
    if (module) {
        byteL(&p, p.channelSel);
        int32_t r = 0;
        if (p.camProg != kGrabFieldDefault) {
            r = grbSetDig(&p, p.channelSel, 1, p.variant);
        } else if (phase == kGrabPhaseAll || phase == kGrabPhaseDigitizer || phase == kGrabPhaseForwarded) {
            if (digitizerHere) r = grbSetDig(&p, p.channelSel, 0, p.variant);
            else sendMsg(&p, kGrabPhaseDigitizer, digNode, nullptr);
        }
        if (r == -1) {
            // grbSetDig gave back what it took.
            p.newChannels = 0;
            p.grabMask = 0;
            cleanGrab(&p);
            return -1;
        }
    }

    if (phase == kGrabPhaseAll || phase == kGrabPhaseOrlo || phase == kGrabPhaseForwarded) {
        const uint32_t destNode = NodeOfBuffer(destination);
        if (destNode == 0 || destNode == p.node || (p.forwarded && p.node == p.displayNode)) {
            if (grbSetOrlo(&p, p.channelSel, p.camProg) == -1) {
                cleanGrab(&p);
                return -1;
            }
        } else if (sendMsg(&p, kGrabPhaseOrlo, destNode, nullptr) != 0) {
            engineNotProgrammed = true;
        }
    }

    if (module) {
        if (phase == kGrabPhaseDigitizer || phase == kGrabPhaseOrlo) return finish();
        const int32_t capture = Field(options, kGrabFieldCapture);
        if (!digitizerHere) {
            sendMsg(&p, kGrabPhaseCapture, digNode, nullptr);
        } else {
            SetToOrlo(p.node, p.pathIndex, nullptr);
            SetToExt(digNode);
            if (phase == kGrabPhaseCapture) presetCamExposure(&p, p.variant);
            GrbCapt(p.cam, capture, count, p.captureFlags);
        }
    }
    return finish();
}
