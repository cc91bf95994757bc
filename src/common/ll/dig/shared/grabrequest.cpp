// The grab request record both grab-module families fill, and the steps of a request that
// depend on no family: filling it, the digitizer's information, the forwarding of a phase
// or of a whole grab to another node.
#include "grabrequest.h"

#include "bufid.h"
#include "digitizers.h"
#include "dispops.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "im_param.h"
#include "nodeinfo.h"
#include "nodelist.h"
#include "reqres.h"
#include "syncobj.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t kOpDigGrabMsg = 58;
constexpr uint32_t kForwardThread = 0x400000C0u;
constexpr uint32_t kNoCameraId = 0x40000000u;
constexpr uint32_t kTimeoutComm = 3;

const char kTextForwardWait[] = "The forwarded grab did not end in time";

void Log(MP_RESOURCE_ST* res, int32_t code, const char* text)
{
    if (res) _mp_res_log_error(res, code, text);
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t Location(const _MP_BUF_ST* buffer)
{
    return buffer ? buffer->location & 0x7FFFFFFFu : 0;
}

uint32_t NodeOfBuffer(const _MP_BUF_ST* buffer)
{
    return buffer ? buffer->node & 0xFF : 0;
}

double Timeout(uint32_t entry, double fallback)
{
    if (!imNodeSt || !imNodeSt->timeouts) return fallback;
    return imNodeSt->timeouts[entry];
}

// ---- sync objects ----------------------------------------------------------------------

// The kind-7 descriptor whose band is the sync record `sync` (as the command handler hands
// the sync object on), looked up in the id table of this node and of the node that made
// the object; null when there is none.  The last answer is kept for the next grab.
_MP_BUF_ST* SyncDescriptorOf(uint32_t node, const MP_SYNC_ST* sync)
{
    if (!sync) return nullptr;
    thread_local const MP_SYNC_ST* lastRecord = nullptr;
    thread_local _MP_BUF_ST* lastDescriptor = nullptr;
    auto matches = [sync](_MP_BUF_ST* b) {
        return b && b->kind == kBufKindSync && mp_buf_address_band_internal(b, 0) == sync;
    };
    if (lastRecord == sync && mp_buf_pointer(lastDescriptor ? lastDescriptor->id : 0) == lastDescriptor &&
        matches(lastDescriptor))
        return lastDescriptor;
    const uint32_t owner = sync->err.node & 0xFF;
    for (uint32_t n : {node & 0xFF, owner}) {
        if (n == 0) continue;
        const uint32_t slots = mp_buf_id_slots(n);
        for (uint32_t slot = 0; slot < slots; ++slot) {
            _MP_BUF_ST* b = mp_buf_id_slot(n, slot);
            if (!matches(b)) continue;
            lastRecord = sync;
            lastDescriptor = b;
            return b;
        }
    }
    return nullptr;
}

MP_SYNC_ST* SyncRecordOf(_MP_BUF_ST* descriptor)
{
    if (!descriptor || !mp_buf_valid(descriptor, kBufKindSync)) return nullptr;
    return static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(descriptor, 0));
}

// A sync object of this node for a forwarded grab: armed, auto-reset, owned by the node.
_MP_BUF_ST* MakeTemporarySync(uint32_t node)
{
    _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(sizeof(MP_SYNC_ST)), 1, 1, 8, kLocInline);
    if (!b) return nullptr;
    b->kind = kBufKindSync;
    if (mp_buf_alloc_id(b) == 0) {
        mp_buf_free(b);
        return nullptr;
    }
    auto* words = static_cast<uint32_t*>(mp_buf_address_band_internal(b, 0));
    std::memset(words, 0, sizeof(MP_SYNC_ST));
    words[0] = kGrabSyncArmed;
    words[1] = 0xFFFFFFFFu;
    words[2] = kSyncModeRearm;
    words[4] = node;
    return b;
}

// Waits until the sync object ends (state 50) or the limit passes (a negative limit: no
// limit).  A halt of the thread ends the grab on the node that runs it: from then on the
// wait lasts at most the communication time-out.  True when it ended.
bool WaitForEnd(const DIGPARAM* p, const MP_SYNC_ST* sync, double limit)
{
    double start = mp_time_clock(0.0);
    bool halted = false;
    for (;;) {
        if (__atomic_load_n(&sync->state, __ATOMIC_ACQUIRE) == kGrabSyncEnded) return true;
        if (!halted && mpPrvHaltPending(p)) {
            halted = true;
            start = mp_time_clock(0.0);
            limit = Timeout(kTimeoutComm, 15.0);
        }
        if (limit >= 0 && mp_time_clock(start) >= limit) return false;
        mp_time_sleep(0.0);
    }
}

// ---- the request's parts ---------------------------------------------------------------

// A grab into a display heap of a node that does not grab there itself: the display node
// runs the whole grab, and the request returns once it has ended.
int32_t ForwardWholeGrab(DIGPARAM* p)
{
    if (p->thrGrab) p->thrGrab->location = Location(p->destination);
    _MP_BUF_ST* temporary = nullptr;
    MP_SYNC_ST* sync = SyncRecordOf(p->sync);
    if (!sync) {
        temporary = MakeTemporarySync(p->node);
        if (!temporary) {
            Log(p->res, HLC_ERR_NO_RESOURCES, nullptr);
            if (p->thrGrab) p->thrGrab->location = 0;
            return -1;
        }
        sync = static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(temporary, 0));
    }
    int32_t result = sendMsg(p, kGrabPhaseForwarded, p->displayNode, temporary ? temporary : p->sync);
    if (result == 0) {
        // A continuous grab ends by a halt; a counted one within the communication time-out
        // per frame.
        const int32_t count = p->args ? p->args->count : 1;
        const double limit = count < 0 ? -1.0 : Timeout(kTimeoutComm, 15.0) * (count > 0 ? count : 1);
        if (!WaitForEnd(p, sync, limit)) {
            Log(p->res, HLC_ERR_TIMEOUT, kTextForwardWait);
            result = -1;
        }
    }
    sync->state = kGrabSyncEnded;
    if (temporary) mp_buf_free(temporary);
    if (p->thrGrab) p->thrGrab->location = 0;
    return result;
}

}  // namespace

// ---- request -----------------------------------------------------------------------------

uint32_t* getDigInfo(DIGPARAM* p)
{
    _MP_BUF_ST* object = p->digitizer;
    if (object) {
        const auto* words = static_cast<const uint32_t*>(mp_buf_address_band_internal(object, 0));
        uint32_t id = words ? words[kDigWordId] : 0;
        if (id != 0 && id < kPredefEntries) id |= kIdPredefined;
        p->digId = id;
    } else {
        if (!p->nodeInfo) return nullptr;
        // The node's own digitizer object is the head of its system's list.
        const uint32_t head = imNodeSt && p->record && p->record->nodeState
                                  ? p->record->nodeState->digitizerList[2]
                                  : 0;
        object = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(head));
        if (!object) return nullptr;
        p->digId = object->id < kPredefEntries ? object->id | kIdPredefined : object->id;
    }
    if (!mp_buf_valid(object, kBufKindDigitizer)) {
        Log(p->res, HLC_ERR_INVALID_BUFFER, nullptr);
        return nullptr;
    }
    p->digInfo = static_cast<uint32_t*>(mp_buf_address_band_internal(object, 0));
    p->digBlock = p->digInfo;
    if (!p->digInfo) return nullptr;
    const _NODE_MAIN_RESOURCE_ST* digRecord = mp_sys_node_resource_ptr(p->digInfo[kDigWordNode] & 0xFF);
    p->moduleWord =
        digRecord && digRecord->nodeState ? (&digRecord->nodeState->nodeInfo)[kNodeInfoModulePresent] : 0;
    return p->digInfo;
}

bool mpPrvGrabOnDisplayNode(DIGPARAM* p, uint32_t location, bool localGrab, int32_t phase, int32_t* result)
{
    if (location == kLocSdram || location == kLocHostDma) return false;
    uint32_t displayNode = 0;
    if (mp_disp_get_node_id(((p->node >> 4) & 0xF) - 1, 0, &displayNode) == 0) p->displayNode = displayNode & 0xFF;
    if (!localGrab && p->displayNode && p->displayNode != p->node && phase != kGrabPhaseForwarded) {
        *result = ForwardWholeGrab(p);
        return true;
    }
    p->forwarded = 1;
    return false;
}

int32_t sendMsg(DIGPARAM* p, int32_t phase, uint32_t node, _MP_BUF_ST* syncArgument)
{
    auto idOf = [](const _MP_BUF_ST* b) -> uint32_t {
        return b ? (b->id < kPredefEntries ? b->id | kIdPredefined : b->id) : 0;
    };
    // The sync parameter falls back to the request's own sync object; the operation's sync
    // object in the header is only the one given here.
    const uint32_t syncId = idOf(syncArgument ? syncArgument : p->sync);
    const uint32_t operationSync = idOf(syncArgument);
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDigGrabMsg, 7, "imDigGrab");
    auto putObject = [&](uint32_t slot, const _MP_BUF_ST* b, uint32_t none) {
        uint32_t words[2] = {none, 0};
        if (b) {
            words[0] = b->id < kPredefEntries ? b->id | kIdPredefined : b->id;
            words[1] = mp_util_virtual_to_pci(NodeOfBuffer(b) ? NodeOfBuffer(b) : p->node, Word(b));
        }
        im_msg_put_long(&msg, slot, static_cast<int32_t>(words[0]));
        std::memcpy(msg.body.param[slot], words, sizeof words);
    };
    putObject(0, p->digitizer, 0);
    putObject(1, p->camera, kNoCameraId);
    putObject(2, p->destination, 0);
    im_msg_put_long(&msg, 3, p->args ? p->args->count : 0);
    putObject(4, p->options, 0);
    uint32_t syncWords[2] = {syncId, 0};
    im_msg_put_long(&msg, 5, static_cast<int32_t>(syncId));
    std::memcpy(msg.body.param[5], syncWords, sizeof syncWords);
    im_msg_put_long(&msg, 6, phase);
    im_msg_send(&msg, (node & 0xFF) << 16, kForwardThread | ((node & 0xFF) << 16), operationSync, IM_SYNC_POLL);
    const int32_t error = im_msg_cmd_error(&msg);
    if (error != 0) {
        // The phase failed on the other node: its error becomes the request's.
        if (p->res && p->res->err.code == 0) {
            if (msg.body.err.code != 0) mp_err_update(&msg.body.err, &p->res->err);
            else _mp_res_log_error(p->res, error, nullptr);
        }
    }
    im_msg_end(&msg);
    return error != 0 ? -1 : 0;
}

bool mpPrvHaltPending(const DIGPARAM* p)
{
    if (!p || !p->thread) return false;
    if (p->thread->pendingHalt != 0) return true;
    return p->thrGrab && p->thrGrab->haltCount > 0;
}

_MP_BUF_ST* mpPrvGrabSyncDescriptor(uint32_t node, const void* syncRecord)
{
    return SyncDescriptorOf(node, static_cast<const MP_SYNC_ST*>(syncRecord));
}

void mpPrvInitGrabParams(DIGPARAM* p, MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera,
                         _MP_BUF_ST* destination, _MP_BUF_ST* options, _MP_BUF_ST* sync, const MpGrabArgs* args)
{
    p->node = res->node & 0xFF;
    p->res = res;
    p->thread = res->thread;
    p->thrGrab = mp_thr_grab_record(res->thread);
    p->record = mp_sys_node_resource_ptr(p->node);
    if (!p->record) p->record = res->record;
    p->nodeInfo = p->record && p->record->nodeState ? &p->record->nodeState->nodeInfo : nullptr;
    p->digitizer = digitizer;
    p->camera = camera;
    p->destination = destination;
    p->options = options;
    // The command handler hands the sync object on as its record; the grab engine and the
    // forwarded messages need the object itself.
    p->sync = SyncDescriptorOf(p->node, reinterpret_cast<const MP_SYNC_ST*>(sync));
    p->args = args;
    getDigInfo(p);
}
