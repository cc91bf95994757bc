// The PCI copy request: records, the driving side, bands, line pieces and the wait for
// each transfer's end.
#include "pcicopy.h"

#include "bufchild.h"
#include "bufhandlers.h"
#include "bufid.h"
#include "cmdserver.h"
#include "devhandlers.h"
#include "dispops.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "predef.h"
#include "regaccess.h"
#include "reqres.h"
#include "task.h"

#include "hwaccess.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

using namespace vmreg;

namespace {

constexpr uint32_t kPieceBytes = 64512;
constexpr uint32_t kPieceTailMinimum = 32;
constexpr uint32_t kApiParams = 3;
constexpr uint32_t kRemoteParams = 4;
constexpr uint32_t kInlineParams = 5;
constexpr int kCommunicationEntry = 3;
constexpr uint32_t kTypeOneBit = 0x40000001u;
constexpr int32_t kRefuseBands = -9997;
constexpr uint32_t kDriveSource = 3;
constexpr uint32_t kDriveDestination = 4;
// The VM registers a host transfer's list engine leaves changed.
constexpr uint32_t kReloaded[] = {kListAddress, kListControl, kHostStart, kBurst, kBoardStart,
                                  kHStart, kHStop, kFormat, kTiming};

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T>
T* Ptr(uint32_t word)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(word));
}

uint32_t LineBytes(const _MP_BUF_ST* b)
{
    return (b->type == kTypeOneBit ? 1 : b->bits / 8) * static_cast<uint32_t>(b->sizeX > 0 ? b->sizeX : 0);
}

bool HostLocation(uint32_t location)
{
    return location == kLocHostDma || location == kLocPaged;
}

uint32_t OrloOf(const _MP_BUF_ST* b)
{
    return b->location == kLocSdram ? 0 : 1;
}

// The PCI transfer mode: 3 the source's node drives, 4 the destination's; 0 after -8.
uint32_t ChooseMode(MP_RESOURCE_ST* resource, const _MP_BUF_ST* s, const _MP_BUF_ST* d, const _MP_BUF_ST* control)
{
    int32_t given = kUnset;
    if (XferField(control, IM_CTL_COPY_MODE, &given) && given != kUnset) {
        if (given != 3 && given != 4) {
            _mp_res_log_error(resource, HLC_ERR_INVALID_PARAMETER, nullptr);
            return 0;
        }
        return static_cast<uint32_t>(given);
    }
    if (HostLocation(d->location) || d->location == kLocControllerHeap || (s->bands >= 2 && d->bands == 1))
        return kDriveSource;
    int32_t v = 0;
    if ((d->bands >= 2 && s->bands == 1) || HostLocation(s->location) || s->location == kLocControllerHeap ||
        s->bits * static_cast<uint32_t>(s->sizeX) < 256 || d->bits * static_cast<uint32_t>(d->sizeX) < 256 ||
        (XferField(control, IM_CTL_LANE_ORDER, &v) && (v == 1 || v == 2)) ||
        (XferField(control, IM_CTL_WRITE_MASK, &v) && v != 0xFFFFFF) || (XferField(control, IM_CTL_MODE_X, &v) && v > 1) ||
        (XferField(control, IM_CTL_MODE_Y, &v) && v > 1) || (XferField(control, IM_CTL_TAG_BUFFER, &v) && v != 0))
        return kDriveDestination;
    return kDriveSource;
}

// Stops a transfer that did not end: the list engine is disarmed and the timing control
// pulsed, so that the next transfer finds the engine idle.
void StopEngine(uint32_t node, uint32_t orlo)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record) return;
    const uint32_t regs = orlo ? record->displayRegs : record->primaryRegs;
    if (!regs) return;
    HwWrite32(regs, kListControl, 0);
    const uint32_t timing = HwRead32(regs, kTiming);
    HwWrite32(regs, kTiming, (timing & ~(kTimingSingle | kTimingContinuous)) | kTimingReset);
    HwWrite32(regs, kTiming, timing & ~(kTimingSingle | kTimingContinuous | kTimingReset));
}

// Reads registers the list engine changed back into the Orlo's shadows.
void ReloadShadows(uint32_t node, uint32_t orlo)
{
    SetToOrlo(node, orlo, nullptr);
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !c->shadow || !c->regs) return;
    for (uint32_t o : kReloaded) {
        auto* slot = Ptr<uint32_t>(c->shadow + o);
        slot[0] = HwRead32(c->regs, o);
    }
}

}  // namespace

// ---- helpers ------------------------------------------------------------------------------

int convert(MP_RESOURCE_ST* resource, uint32_t id, _MP_BUF_ST** descriptor, int remote, const _MSG_BODY_ST* msg,
            uint32_t slot, int mayBeNone)
{
    (void)resource;
    if (id == 0x40000000u) {
        *descriptor = nullptr;
        return 0;
    }
    if (id == 0) {
        if (!*descriptor && !mayBeNone) return -1;
        return 0;
    }
    const uint32_t thisNode = mp_sys_this_node_id() & 0xFF;
    if (!remote || ((id >> 16) & 0xFF) == thisNode) {
        *descriptor = mp_buf_pointer(id);
    } else {
        uint32_t replyNode = (msg->replyMode >> 16) & 0xFF;
        if (!replyNode) replyNode = thisNode;
        *descriptor = Ptr<_MP_BUF_ST>(mp_util_pci_to_virtual(replyNode, XferSlotSecond(msg, slot)));
    }
    return *descriptor ? 0 : -1;
}

int vmErrors(const _MP_BUF_ST* s, const _MP_BUF_ST* d)
{
    if (!s || !d) return 0;
    if ((s->node & 0xFF) == (d->node & 0xFF) && s->location == d->location) return -1;
    for (const _MP_BUF_ST* b : {s, d}) {
        if (b->type != kTypeOneBit) continue;
        if (b->sizeX % 8 || (b->parent && b->offsetX % 8)) return -1;
    }
    return 0;
}

_MP_BUF_ST* remoteChild(_CPYPARAM* record, uint32_t id, uint32_t node, uint32_t band)
{
    (void)record;
    const uint32_t params[2] = {id, band};
    uint32_t reply[1] = {0};
    if (mp_buf_call_remote(node, kOpBufChildBand, "imBufChildBand", params, 2, reply, 1) != 0) return nullptr;
    return reply[0] ? mp_buf_pointer(reply[0]) : nullptr;
}

void remoteBufFree(_CPYPARAM* record, uint32_t id, uint32_t node)
{
    (void)record;
    const uint32_t params[1] = {id};
    mp_buf_call_remote(node, kOpBufFree, "imBufFree", params, 1, nullptr, 0);
}

int sendPCIMsg(_CPYPARAM* record, uint32_t node)
{
    if (node == 0) return 0;
    // Another node's processor drives the transfer: the request goes to its transfer
    // thread as a synchronous message, answered (or given up) within the time-out.
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufCopyPCI, kRemoteParams, "imBufCopyPCI");
    const _MP_BUF_ST* buffers[3] = {record->source, record->destination, record->control1};
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t id = buffers[i] ? mp_buf_ref_to_id(buffers[i]) : 0;
        const uint32_t bus = buffers[i] ? buffers[i]->busAddress : 0;
        std::memcpy(msg.body.param[i], &id, 4);
        std::memcpy(msg.body.param[i] + 4, &bus, 4);
    }
    const uint32_t one = 1;
    std::memcpy(msg.body.param[3], &one, 4);
    msg.body.counts = kRemoteParams | (1u << 16);
    im_msg_send(&msg, (node & 0xFF) << 16, kPredefServiceThreadD | ((node & 0xFF) << 16), 0, IM_SYNC_POLL);
    int32_t result = im_msg_cmd_error(&msg);
    if (result == 0) std::memcpy(&result, msg.body.param[0], 4);
    return result;
}

int WaitForEndOfTransfer(_CPYPARAM* record)
{
    // The end-of-transfer server passes the Orlo's signal on to the end semaphore; while
    // the node runs no interrupt servers the signal itself is taken.
    const int32_t sema = record->endSema;
    const uint32_t node = record->state[1];
    const uint32_t signal = record->state[2];
    auto done = [sema, node, signal] {
        if (TaskValidateSema(sema) && TaskCheckSema(sema) > 0) return true;
        return signal != 0 && mp_sys_sema_check(node, signal) == 1;
    };
    // The interrupt words are dispatched by the thread's own loop, which runs below every
    // task: the wait lets the tasks below it run between its looks (the board timer's
    // ticks bring it back when no other word comes).
    // Mend: the wait ends with the communication time-out (-11, engine stopped), not never.
    const double limit = mp_sys_timeout(kCommunicationEntry);
    const double start = mp_time_clock(0.0);
    bool ended = false;
    for (;;) {
        if ((ended = done())) break;
        if (mp_time_clock(start) >= limit) {
            ended = done();
            break;
        }
        TaskYieldOtherPriority(-1);
        mp_time_sleep(0.0);
    }
    if (ended) {
        XferRateUpdate(mp_time_clock(0.0));
        return 0;
    }
    XferRateDisarm();
    _mp_res_log_error(record->resource, HLC_ERR_TIMEOUT, nullptr);
    return -1;
}

void CleanReceiverOnError(_CPYPARAM* record, int side, const _MP_BUF_ST* destination, int continued)
{
    if (side != 2 || !destination) return;
    const uint32_t node = continued ? record->destinationNode : destination->node & 0xFF;
    const uint32_t location = continued ? record->destinationLocation : destination->location;
    const uint32_t orlo = (location == kLocSdram || HostLocation(location)) ? 0 : 1;
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    const uint32_t regs = r ? (orlo ? r->displayRegs : r->primaryRegs) : 0;
    if (!regs) return;
    const uint32_t timing = HwRead32(regs, kTiming);
    HwWrite32(regs, kTiming, (timing & ~kTimingContinuous) | kTimingReset);
    HwWrite32(regs, kTiming, timing & ~(kTimingContinuous | kTimingReset));
}

// ---- one transfer --------------------------------------------------------------------------

int mpBufCopyPCI(_CPYPARAM* record, int extra)
{
    if (extra) return -1;
    _MP_BUF_ST* s = record->source;
    _MP_BUF_ST* d = record->destination;
    if (!record->continued) {
        int32_t pieces[4];
        std::memcpy(pieces, &record->b(blk::kPieceCounter), sizeof pieces);
        std::memset(record->block, 0, sizeof record->block);
        record->b(blk::kRecvModeX) = record->b(blk::kRecvModeY) = 1;
        record->b(blk::kSendFactorX) = record->b(blk::kRecvFactorX) = 1;
        std::memcpy(&record->b(blk::kPieceCounter), pieces, sizeof pieces);
        const bool refused = vmErrors(s, d) != 0 ||
                             (record->mode == kDriveSource && HostLocation(s->location)) ||
                             (record->mode == kDriveDestination && HostLocation(d->location));
        if (refused) {
            _mp_res_log_error(record->resource, HLC_ERR_RESTRICTED, nullptr);
            return -1;
        }
    }
    std::memset(record->state, 0, sizeof record->state);
    record->direct = 1;
    const int side = record->mode == kDriveSource ? 2 : 1;
    record->thisBuf = side == 2 ? s : d;
    record->otherBuf = side == 2 ? d : s;
    record->controlA = record->controlB = record->control2 = record->control1;

    const uint32_t drivingNode = XferDisplayNodeFor(record->thisBuf->node, record->thisBuf);
    const uint32_t orlo = OrloOf(record->thisBuf);
    _NODE_MAIN_RESOURCE_ST* driving = mp_core_node_record(drivingNode);
    SERVINFO_ST* state = driving ? mp_servinfo(driving, orlo) : nullptr;
    record->endSema = state ? state->endOfTransferSema : -1;
    record->state[1] = drivingNode;
    record->state[2] = orlo ? kXferEndSourceDisplay : kXferEndSourcePrimary;

    if (drivingNode != (mp_sys_this_node_id() & 0xFF)) {
        if (sendPCIMsg(record, drivingNode) != 0) {
            _mp_res_log_error(record->resource, HLC_ERR_RESTRICTED, kXferTextRemotePci);
            return -1;
        }
        return 0;
    }

    // The end-of-transfer server finds the transfer's resource here while it runs.
    VMXFER_ST transfer{};
    transfer.resource = Word(record->resource);
    if (state) {
        state->vmTransfer = Word(&transfer);
        if (TaskValidateSema(record->endSema)) TaskResetSema(record->endSema);
    }
    mp_sys_sema_reset(drivingNode, record->state[2]);
    const int programmed = vmSetOrlo(record, 0, side, static_cast<int>(record->continued));
    int result = 0;
    if (programmed == -1) {
        result = -1;
    } else if (programmed == 0) {
        if (WaitForEndOfTransfer(record) != 0) {
            StopEngine(drivingNode, orlo);
            result = -1;
        }
        int32_t keep = 0;
        const _MP_BUF_ST* partner = record->otherBuf;
        if (partner->location == kLocPaged ||
            (partner->location == kLocHostDma && !XferField(record->control1, IM_CTL_KEEP_VM, &keep)))
            ReloadShadows(drivingNode, orlo);
    }
    if (state) state->vmTransfer = 0;
    return result;
}

// ---- the request ---------------------------------------------------------------------------

namespace {

struct Request {
    MP_RESOURCE_ST* resource = nullptr;
    bool own = false;
    _CPYPARAM* record = nullptr;
    uint32_t node = 0;
    int32_t copySema = -1;
    bool semaTaken = false;
};

}  // namespace

// Band children of both buffers for band i, made where each buffer lives.
_MP_BUF_ST* XferBandChild(_CPYPARAM* record, _MP_BUF_ST* b, uint32_t band)
{
    const uint32_t node = b->node & 0xFF;
    if (node == (mp_sys_this_node_id() & 0xFF) || !mp_buf_is_remote(node))
        return mp_buf_child_band(b, static_cast<int32_t>(band));
    return remoteChild(record, mp_buf_ref_to_id(b), node, band);
}

void XferFreeBandChild(_CPYPARAM* record, _MP_BUF_ST* child)
{
    if (!child) return;
    const uint32_t node = child->node & 0xFF;
    if (node == (mp_sys_this_node_id() & 0xFF) || !mp_buf_is_remote(node)) {
        mp_buf_free(child);
        return;
    }
    uint32_t id = mp_buf_ref_to_id(child);
    if (Word(child) < kPredefEntries) id |= kIdPredefined;
    remoteBufFree(record, id, node);
}

namespace {

int CopyPiece(_CPYPARAM* r)
{
    return mpBufCopyPCI(r, 0);
}

// Runs the pieces and bands of the request: 0 or the first failure.
int32_t Run(_CPYPARAM* r)
{
    _MP_BUF_ST* s = r->source;
    _MP_BUF_ST* d = r->destination;
    uint32_t length = 0, last = 0;
    const uint32_t pieces = XferSplitLines(r, s, d, &length, &last);
    const bool byBand = (r->mode == kDriveDestination && s->bands >= 2) || (r->mode == kDriveSource && d->bands >= 2);
    const uint32_t bands = s->bands < d->bands ? s->bands : d->bands;
    const uint32_t continuedAtStart = r->continued;
    int32_t result = 0;
    for (uint32_t piece = 1; piece <= pieces && result == 0; ++piece) {
        if (pieces > 1) {
            r->continued = continuedAtStart || piece > 1;
            XferSetPiece(r, piece, pieces, length, last);
        }
        if (!byBand) {
            if (mpBufCopyPCI(r, 0) != 0) result = -1;
            continue;
        }
        for (uint32_t band = 0; band < bands && result == 0; ++band)
            result = XferCopyBand(r, band, HLC_ERR_NO_RESOURCES, true, CopyPiece);
    }
    r->b(blk::kPieceCounter) = 0;
    r->pieceBytes = 0;
    r->continued = continuedAtStart;
    return result;
}

void Finish(Request& q, _MSG_BODY_ST* msg, int32_t result)
{
    // The copy semaphore goes back with the VM section when the resource is released; a
    // request that took no section gives it back here.
    if (q.semaTaken && (!q.resource || q.resource->vmCount == 0)) TaskSignalSema(q.copySema);
    if (q.record) q.record->busy = 0;
    XferReply(msg, q.resource, q.own, result);
}

}  // namespace

bool XferTakeCopySema(int32_t sema)
{
    if (!TaskValidateSema(sema)) return false;
    // Mend: the wait for the node's copy semaphore ends with the communication time-out.
    return intsrv::WaitFor(mp_sys_timeout(kCommunicationEntry), [sema] { return TaskCheckSema(sema) > 0; });
}

int32_t XferCopySema(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* own = mp_core_node_record(node);
    return own && own->nodeState ? own->nodeState->copySema : -1;
}

uint32_t XferSlotSecond(const _MSG_BODY_ST* msg, uint32_t slot)
{
    uint32_t v = 0;
    if (msg && slot < kMsgMaxParams) std::memcpy(&v, msg->param[slot] + 4, 4);
    return v;
}

bool XferRequestResource(_MSG_BODY_ST* msg, uint32_t inlineSlot, const char* name, MP_RESOURCE_ST** resource,
                         bool* own)
{
    *own = false;
    if ((msg->counts & 0xFFFF) == inlineSlot + 1) {
        *resource = Ptr<MP_RESOURCE_ST>(mp_msg_param(msg, inlineSlot));
        return true;
    }
    *resource = mp_res_alloc(msg, kResReplySize, name);
    if (!mp_res_ok(*resource)) {
        mp_res_free(*resource);
        *resource = nullptr;
        return false;
    }
    *own = true;
    return true;
}

void XferReply(_MSG_BODY_ST* msg, MP_RESOURCE_ST* resource, bool own, int32_t result)
{
    if (own) {
        mp_msg_put_reply(msg, 0, static_cast<uint32_t>(result));
        mp_res_free(resource);
    } else {
        std::memcpy(msg->param[0], &result, 4);
        msg->error = result;
    }
}

uint32_t XferSplitLines(_CPYPARAM* r, const _MP_BUF_ST* s, const _MP_BUF_ST* d, uint32_t* length, uint32_t* last)
{
    *length = 0;
    *last = 0;
    const uint32_t line = LineBytes(s);
    const uint32_t pixelBytes = XferPixelBytes(s);
    if (line <= kPieceBytes || LineBytes(d) <= kPieceBytes) return 1;
    *length = kPieceBytes;
    const uint32_t pieces = (line + kPieceBytes - 1) / kPieceBytes;
    *last = line % kPieceBytes;
    if (*last == 0) *last = kPieceBytes;
    // A last piece too short for the engine takes some bytes of every other piece.
    if (*last * pixelBytes < kPieceTailMinimum) {
        *length -= kPieceTailMinimum;
        *last = line - (pieces - 1) * *length;
    }
    r->b(blk::kPieceLength) = static_cast<int32_t>(*length);
    r->b(blk::kPieceLast) = static_cast<int32_t>(*last);
    return pieces;
}

void XferSetPiece(_CPYPARAM* r, uint32_t piece, uint32_t pieces, uint32_t length, uint32_t last)
{
    const uint32_t len = piece == pieces ? last : length;
    r->b(blk::kSendStopKept) = r->b(blk::kRecvStopKept) = static_cast<int32_t>(len) - 1;
    r->pieceBytes = len;
    r->b(blk::kPieceCounter) = static_cast<int32_t>(piece);
    r->b(blk::kPieceStart) = static_cast<int32_t>((piece - 1) * length);
}

int32_t XferCopyBand(_CPYPARAM* r, uint32_t band, int32_t missingCode, bool byId, int (*copy)(_CPYPARAM*))
{
    _MP_BUF_ST* s = r->source;
    _MP_BUF_ST* d = r->destination;
    _MP_BUF_ST* cs = XferBandChild(r, s, band);
    _MP_BUF_ST* cd = cs ? XferBandChild(r, d, band) : nullptr;
    if (!cs || !cd) {
        XferFreeBandChild(r, cs);
        _mp_res_log_error(r->resource, missingCode, nullptr);
        return 1;
    }
    if (byId) {
        if (!mp_buf_ref_to_id(cs)) mp_buf_alloc_id(cs);
        if (!mp_buf_ref_to_id(cd)) mp_buf_alloc_id(cd);
    }
    r->source = cs;
    r->destination = cd;
    const int32_t result = copy(r) != 0 ? -1 : 0;
    r->source = s;
    r->destination = d;
    XferFreeBandChild(r, cs);
    XferFreeBandChild(r, cd);
    return result;
}

void mp_BufCopyPCI(_MSG_BODY_ST* msg)
{
    Request q;
    const uint32_t count = msg->counts & 0xFFFF;
    if (!XferRequestResource(msg, kInlineParams - 1, "BufCopyPCI", &q.resource, &q.own)) return;
    MP_RESOURCE_ST* res = q.resource;
    q.node = mp_sys_this_node_id() & 0xFF;
    uint32_t* words = nullptr;
    if (!getCpyParamPtr(q.node, &words) || !words) {
        _mp_res_log_error(res, HLC_ERR_TIMEOUT, kXferTextNoRecord);
        Finish(q, msg, -1);
        return;
    }
    q.record = reinterpret_cast<_CPYPARAM*>(words);
    _CPYPARAM* r = q.record;
    const int remote = count > kApiParams ? static_cast<int>(mp_msg_param(msg, 3)) : 0;
    _MP_BUF_ST* buffers[3] = {nullptr, nullptr, nullptr};
    if (count == kInlineParams)
        for (uint32_t i = 0; i < 3; ++i) buffers[i] = Ptr<_MP_BUF_ST>(XferSlotSecond(msg, i));
    const uint32_t ids[3] = {mp_msg_param(msg, 0), mp_msg_param(msg, 1), mp_msg_param(msg, 2)};
    bool bad = false;
    for (uint32_t i = 0; i < 3; ++i)
        if (convert(res, ids[i], &buffers[i], remote && count == kRemoteParams, msg, i, i == 2) != 0) bad = true;
    _MP_BUF_ST* s = buffers[0];
    _MP_BUF_ST* d = buffers[1];
    _MP_BUF_ST* control = buffers[2];
    r->resource = res;
    r->serving = res ? res->record : nullptr;
    r->servingState = r->serving ? r->serving->nodeState : nullptr;
    r->source = s;
    r->destination = d;
    r->control1 = r->control2 = control;
    r->side = 0;

    // Continued requests take the mode stored with the record.
    int32_t continued = 0;
    const bool isContinued = control && XferField(control, IM_CTL_CONTINUED, &continued) && continued == 1;
    if (!isContinued) {
        // Descriptors are checked before anything reads them.
        if (bad || !mp_buf_valid(s, 0x80000001u) || !mp_buf_valid(d, 0x80000001u) ||
            (ids[2] && !mp_buf_valid(control, kBufKindImage))) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            Finish(q, msg, -1);
            return;
        }
        int32_t refuse = 0;
        if (s->bands >= 2 && d->bands >= 2 && XferField(control, IM_CTL_BAND_MODE, &refuse) && refuse == kRefuseBands) {
            _mp_res_log_error(res, HLC_ERR_RESTRICTED, nullptr);
            Finish(q, msg, -1);
            return;
        }
        const uint32_t mode = ChooseMode(res, s, d, control);
        if (!mode) {
            Finish(q, msg, -1);
            return;
        }
        r->mode = mode;
    } else if (bad || !s || !d || (r->mode != kDriveSource && r->mode != kDriveDestination)) {
        _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        Finish(q, msg, -1);
        return;
    }
    r->continued = isContinued ? 1 : 0;

    // One transfer request per node; the VM section of the driving buffer's node keeps
    // other users off its engine.
    if (!remote) {
        q.copySema = XferCopySema(q.node);
        if (TaskValidateSema(q.copySema)) {
            if (!XferTakeCopySema(q.copySema)) {
                _mp_res_log_error(res, HLC_ERR_TIMEOUT, nullptr);
                Finish(q, msg, -1);
                return;
            }
            q.semaTaken = true;
        }
        // The section of the driving buffer's node (or of the display node that serves it),
        // held by the resource until it is released; a section that cannot be had logs -11.
        if (mp_res_alloc_vm(res, r->mode == kDriveSource ? s : d) != 0) {
            Finish(q, msg, -1);
            return;
        }
    }
    if (res && res->err.code != 0) {
        Finish(q, msg, -1);
        return;
    }
    Finish(q, msg, Run(r));
}

void mp_pcicopy_install()
{
    mp_server_set_handler(kOpBufCopyPCI, mp_BufCopyPCI);
}
