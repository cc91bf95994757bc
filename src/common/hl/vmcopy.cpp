// The VM copy request: records, sections, pieces and bands, the receiving side armed
// before the sending side starts, remote requests to the node of the other side and the
// wait for the end of the transfer.
#include "vmcopy.h"

#include "bufchild.h"
#include "bufhandlers.h"
#include "bufid.h"
#include "cmdserver.h"
#include "devhandlers.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "pcicopy.h"
#include "predef.h"
#include "reqres.h"
#include "syncobj.h"
#include "task.h"
#include "vmpatch.h"
#include "vmsection.h"

#include "hwaccess.h"

#include <cstring>

using namespace vmreg;

namespace {

constexpr uint32_t kRemoteParams = 6;
constexpr uint32_t kInlineParams = 7;
constexpr uint32_t kNoPort = 15;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T>
T* Ptr(uint32_t word)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(word));
}

uint32_t ThisNode()
{
    return mp_sys_this_node_id() & 0xFF;
}

bool Continued(const _MP_BUF_ST* control)
{
    int32_t v = 0;
    return control && XferField(control, IM_CTL_CONTINUED, &v) && v == 1;
}

// The Orlo of a buffer: the primary for board memory and host memory, else the display Orlo.
uint32_t OrloOf(uint32_t location)
{
    return location == kLocSdram || location == kLocHostDma || location == kLocPaged ? 0 : 1;
}

uint32_t KindCode(uint32_t location)
{
    if (location == kLocSdram) return 1;
    if (location == kLocHostDma || location == kLocPaged) return 0;
    return 2;
}

// A descriptor of a slot.  In a remote request the slot's second word is the descriptor's
// bus address; a buffer of a node that this process serves is found by its id instead.
int Resolve(MP_RESOURCE_ST* resource, uint32_t id, _MP_BUF_ST** descriptor, int remote, const _MSG_BODY_ST* msg,
            uint32_t slot, int mayBeNone)
{
    const uint32_t node = (id >> 16) & 0xFF;
    if (remote && id != 0 && id != kVmUnknownBuffer && node != ThisNode() && !mp_buf_is_remote(node)) {
        *descriptor = mp_buf_pointer(id);
        if (*descriptor) return 0;
    }
    return convert(resource, id, descriptor, remote, msg, slot, mayBeNone);
}

// Returns a sending Orlo that did not end to idle: the timing control is pulsed.
void StopSender(uint32_t node, uint32_t orlo)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    const uint32_t regs = record ? (orlo ? record->displayRegs : record->primaryRegs) : 0;
    if (!regs) return;
    const uint32_t timing = HwRead32(regs, kTiming);
    HwWrite32(regs, kTiming, (timing & ~(kTimingSingle | kTimingContinuous)) | kTimingReset);
    HwWrite32(regs, kTiming, timing & ~(kTimingSingle | kTimingContinuous | kTimingReset));
}

void SetRequestState(const _CPYPARAM* record, uint32_t state)
{
    if (record->resource && record->resource->sync)
        mp_osb_update_state(static_cast<MP_SYNC_ST*>(record->resource->sync), state);
}

}  // namespace

// ---- helpers ------------------------------------------------------------------------------

_CPYPARAM* XferVmPeer(uint32_t node, uint32_t word)
{
    if (!word) return nullptr;
    // A bus address is turned into the host address of the node's mapping; a record without
    // a bus address travels by its host address.  Either way only a known record is taken.
    const uint32_t host = node ? mp_util_pci_to_virtual(node & 0xFF, word) : 0;
    if (_CPYPARAM* r = host ? XferPeerRecord(host) : nullptr) return r;
    return XferPeerRecord(word);
}

int sendVMMsg(_CPYPARAM* record, uint32_t node, int side)
{
    if (node == 0) return 0;
    // The descriptors of this node are read by the other node: they must be in memory.
    mp_buf_flush_buf_st();
    _MSG_ST msg{};
    im_msg_start(&msg, kOpBufCopyVM, kRemoteParams, "imBufCopyVM");
    const _MP_BUF_ST* buffers[4] = {record->source, record->destination, record->control1, record->control2};
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t id = buffers[i] ? mp_buf_ref_to_id(buffers[i]) : 0;
        if (!buffers[i] && i < 2) id = kVmUnknownBuffer;
        const uint32_t bus = buffers[i] ? buffers[i]->busAddress : 0;
        std::memcpy(msg.body.param[i], &id, 4);
        std::memcpy(msg.body.param[i] + 4, &bus, 4);
    }
    const uint32_t address = record->bus ? record->bus : Word(record);
    const uint32_t served = static_cast<uint32_t>(side);
    std::memcpy(msg.body.param[4], &address, 4);
    std::memcpy(msg.body.param[5], &served, 4);
    msg.body.counts = kRemoteParams | (1u << 16);
    im_msg_send(&msg, (node & 0xFF) << 16, kPredefServiceThreadD | ((node & 0xFF) << 16), 0, IM_SYNC_POLL);
    int32_t result = im_msg_cmd_error(&msg);
    if (result == 0) std::memcpy(&result, msg.body.param[0], 4);
    return result;
}

// ---- one transfer --------------------------------------------------------------------------

int mpBufCopyVM(_CPYPARAM* r, int extra1, int extra2)
{
    if (extra1 || extra2) return -1;
    _MP_BUF_ST* s = r->source;
    _MP_BUF_ST* d = r->destination;
    const bool sourceContinued = r->sourceContinued != 0;
    const bool destinationContinued = r->destinationContinued != 0;
    if (!sourceContinued && !destinationContinued) {
        int32_t pieces[4];
        std::memcpy(pieces, &r->b(blk::kPieceCounter), sizeof pieces);
        std::memset(r->block, 0, sizeof r->block);
        r->b(blk::kRecvModeX) = r->b(blk::kRecvModeY) = 1;
        r->b(blk::kSendFactorX) = r->b(blk::kRecvFactorX) = 1;
        std::memcpy(&r->b(blk::kPieceCounter), pieces, sizeof pieces);
    }
    r->b(blk::kSrcContinued) = sourceContinued ? 1 : 0;
    r->b(blk::kDstContinued) = destinationContinued ? 1 : 0;
    std::memset(r->state, 0, sizeof r->state);
    r->state[0] = 1;
    r->direct = 0;

    // Routing of the request for the VM interrupt handling: source node and kind in the
    // high half, destination node and kind in the low half.
    uint32_t routing = 0;
    if (!sourceContinued && s) {
        routing |= ((s->node & 0xFF) << 16) | (KindCode(s->location) << 24);
        r->sourceNode = s->node & 0xFF;
        r->sourceLocation = s->location;
    }
    if (!destinationContinued && d) {
        routing |= (d->node & 0xFF) | (KindCode(d->location) << 8);
        r->destinationNode = d->node & 0xFF;
        r->destinationLocation = d->location;
    }
    r->state[3] = routing;
    if (!sourceContinued && !destinationContinued) {
        if (vmErrors(s, d) != 0 || (s && s->location == kLocHostDma) || (d && d->location == kLocHostDma)) {
            _mp_res_log_error(r->resource, HLC_ERR_RESTRICTED, nullptr);
            return -1;
        }
    }

    // The end of the transfer is told by the Orlo that serves the source (else the
    // destination).
    const _MP_BUF_ST* ender = s ? s : d;
    const uint32_t endNode = ender ? XferDisplayNodeFor(ender->node, ender) : 0;
    const uint32_t endOrlo = ender ? OrloOf(ender->location) : 0;
    _NODE_MAIN_RESOURCE_ST* endRecord = ender ? mp_core_node_record(endNode) : nullptr;
    SERVINFO_ST* endState = endRecord ? mp_servinfo(endRecord, endOrlo) : nullptr;
    r->endSema = endState ? endState->endOfTransferSema : -1;
    r->state[1] = endNode;
    r->state[2] = endOrlo ? kXferEndSourceDisplay : kXferEndSourcePrimary;
    const bool endsHere = endRecord && endNode == ThisNode();

    VMXFER_ST transfer{};
    transfer.resource = Word(r->resource);
    bool published = false;
    const auto unpublish = [&] {
        if (published && endState) endState->vmTransfer = 0;
        published = false;
    };

    for (int side = 1; side <= 2; ++side) {
        _MP_BUF_ST* self = side == 1 ? d : s;
        if (!self) continue;
        if (r->side != 0 && r->side != static_cast<uint32_t>(side)) continue;
        const bool continued = side == 1 ? destinationContinued : sourceContinued;
        const uint32_t node = XferDisplayNodeFor(self->node, self);
        if (node == ThisNode()) {
            const uint32_t port = s && d ? ((s->node & 0xF) - 1) & 15 : kNoPort;
            r->thisBuf = self;
            r->otherBuf = side == 1 ? s : d;
            // The sending side reads control buffer 1 first, the receiving side 2.
            r->controlA = side == 2 ? r->control1 : r->control2;
            r->controlB = side == 2 ? r->control2 : r->control1;
            if (side == 2 && endsHere && endState) {
                // The end-of-transfer server finds the transfer's resource here while it runs.
                endState->vmTransfer = Word(&transfer);
                published = true;
                if (TaskValidateSema(r->endSema)) TaskResetSema(r->endSema);
                mp_sys_sema_reset(endNode, r->state[2]);
            }
            const int programmed = vmSetOrlo(r, port, side, continued ? 1 : 0);
            if (programmed == -1) {
                unpublish();
                CleanReceiverOnError(r, side, d, destinationContinued ? 1 : 0);
                return -1;
            }
            SetRequestState(r, side == 1 ? kVmStateArmed : kVmStateSending);
            if (programmed == -4) {
                unpublish();
                return 0;
            }
        } else {
            if (sendVMMsg(r, node, side) != 0) {
                unpublish();
                CleanReceiverOnError(r, side, d, destinationContinued ? 1 : 0);
                _mp_res_log_error(r->resource, HLC_ERR_RESTRICTED, kXferTextRemoteVm);
                return -1;
            }
            // The other node finishes a transfer it sends.
            if (side == 2) return 0;
            // The receiving node's record now names itself in the peer word: the sending
            // side reads the receiving side's choices there.
            _CPYPARAM* peer = XferVmPeer(node, r->peer);
            r->peer = peer ? Word(peer) : 0;
        }
    }
    if (r->side == 1) return 0;   // the receiver stays armed for its sender

    const int32_t copySema = XferCopySema(ThisNode());
    const bool lend = !s && TaskValidateSema(copySema);
    if (lend) TaskSignalSema(copySema);
    int result = WaitForEndOfTransfer(r);
    if (lend && !XferTakeCopySema(copySema)) result = -1;
    if (result != 0) {
        StopSender(endNode, endOrlo);
        CleanReceiverOnError(r, 2, d, destinationContinued ? 1 : 0);
    }
    unpublish();
    // The sync object that the source Orlo's VM sync object follows (this request's)
    // counts the lines the transfer ended with.
    if (s && result == 0 && r->resource && r->resource->sync) {
        const uint32_t sourceNode = XferDisplayNodeFor(s->node, s);
        const uint32_t orlo = OrloOf(s->location);
        const VmSyncObject* sync = XferVmSync(sourceNode, orlo);
        const CopyImage* image = XferImage(sourceNode, orlo);
        if (image && sync->operation == Word(r->resource->sync))
            mp_osb_update_state(static_cast<MP_SYNC_ST*>(r->resource->sync),
                                kSyncCountBit | ((*image)[kVStop] & 0xFFFF));
    }
    return result;
}

// ---- the request ---------------------------------------------------------------------------

namespace {

struct Request {
    MP_RESOURCE_ST* resource = nullptr;
    bool own = false;
    _CPYPARAM* record = nullptr;
    int32_t copySema = -1;
    bool semaTaken = false;
};

int CopyPiece(_CPYPARAM* r)
{
    return mpBufCopyVM(r, 0, 0);
}

// Runs the pieces and bands of the request: 0 or the first failure.
int32_t Run(_CPYPARAM* r, bool remoteReceiver)
{
    _MP_BUF_ST* s = r->source;
    _MP_BUF_ST* d = r->destination;
    const uint32_t sourceContinued = r->sourceContinued;
    const uint32_t destinationContinued = r->destinationContinued;
    uint32_t pieces = 1, length = 0, last = 0;
    if (remoteReceiver) {
        // The sender's copy of the record names the piece this request runs and its length.
        r->pieceBytes = r->b(blk::kPieceCounter) ? static_cast<uint32_t>(r->b(blk::kRecvStopKept) + 1) : 0;
    } else if (s && d) {
        pieces = XferSplitLines(r, s, d, &length, &last);
    }
    const bool whole = !s || !d || s->bands < 2 || d->bands < 2 || (s->bits == 8 && d->bits == 8);
    const uint32_t bands = whole ? 0 : (s->bands < d->bands ? s->bands : d->bands);
    // A side served by another node names its band children there by id.
    const bool byId = s && d && (s->node & 0xFF) != (d->node & 0xFF);
    int32_t result = 0;
    for (uint32_t piece = 1; piece <= pieces && result == 0; ++piece) {
        if (pieces > 1) {
            const bool later = piece > 1;
            r->sourceContinued = sourceContinued || later;
            r->destinationContinued = destinationContinued || later;
            XferSetPiece(r, piece, pieces, length, last);
        }
        if (whole) {
            if (mpBufCopyVM(r, 0, 0) != 0) result = -1;
        } else {
            for (uint32_t band = 0; band < bands && result == 0; ++band)
                result = XferCopyBand(r, band, HLC_ERR_BUFFER_ATTRIBUTE, byId, CopyPiece);
        }
        if (!remoteReceiver) r->side = 0;
    }
    if (!remoteReceiver) {
        r->b(blk::kPieceCounter) = 0;
        r->pieceBytes = 0;
    }
    r->sourceContinued = sourceContinued;
    r->destinationContinued = destinationContinued;
    return result;
}

void Finish(Request& q, _MSG_BODY_ST* msg, int32_t result)
{
    // The copy semaphore goes back with the VM sections when the resource is released;
    // a request that took no section gives it back here.
    if (q.semaTaken && (!q.resource || q.resource->vmCount == 0)) TaskSignalSema(q.copySema);
    if (q.record) q.record->busy = 0;
    XferReply(msg, q.resource, q.own, result);
}

// Takes the VM section of each side, the lower node first and, on one node, the primary
// Orlo's before the display Orlo's; the sections are recorded in the record.
int TakeSections(MP_RESOURCE_ST* res, _CPYPARAM* r, _MP_BUF_ST* s, _MP_BUF_ST* d)
{
    struct Side {
        _MP_BUF_ST* buffer;
        uint32_t node, kind;
    } sides[2] = {{s, 0, 0}, {d, 0, 0}};
    uint32_t count = 0;
    for (Side& side : sides) {
        if (!side.buffer) continue;
        side.node = side.buffer->node & 0xFF;
        actualBuf(side.buffer, &side.node, &side.kind);
        if (side.buffer->location != kLocSdram) side.kind = 1;
        sides[count++] = side;
    }
    if (count == 2 && (sides[1].node < sides[0].node ||
                       (sides[1].node == sides[0].node && sides[1].kind < sides[0].kind))) {
        const Side t = sides[0];
        sides[0] = sides[1];
        sides[1] = t;
    }
    std::memset(r->sections, 0, sizeof r->sections);
    for (uint32_t i = 0; i < count; ++i) {
        // Both sides served by one Orlo share its section.
        if (i == 1 && sides[1].node == sides[0].node && sides[1].kind == sides[0].kind) break;
        if (mp_res_alloc_vm(res, sides[i].buffer) != 0) return -1;
        r->sections[i * 3] = sides[i].node;
        r->sections[i * 3 + 1] = sides[i].kind;
        r->sections[i * 3 + 2] = sides[i].kind ? 16 : 8;
    }
    return 0;
}

// A continued request takes again the sections its first request recorded.
int RetakeSections(MP_RESOURCE_ST* res, const _CPYPARAM* r)
{
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t node = r->sections[i * 3], mask = r->sections[i * 3 + 2];
        if (!node || !mask) continue;
        if (mp_sys_section_wait(node, mask) != 0) {
            _mp_res_log_error(res, HLC_ERR_TIMEOUT, nullptr);
            return -1;
        }
        TaskBeginMutex();
        if (res && res->vmCount < 2) {
            res->vmNode[res->vmCount] = node;
            res->vmKind[res->vmCount] = mask;
            ++res->vmCount;
        }
        TaskEndMutex();
    }
    return 0;
}

}  // namespace

void mp_BufCopyVM(_MSG_BODY_ST* msg)
{
    Request q;
    const uint32_t count = msg->counts & 0xFFFF;
    if (!XferRequestResource(msg, kInlineParams - 1, "BufCopyVM", &q.resource, &q.own)) return;
    MP_RESOURCE_ST* res = q.resource;
    const uint32_t here = ThisNode();
    uint32_t* words = nullptr;
    if (!getCpyParamPtr(here, &words) || !words) {
        _mp_res_log_error(res, HLC_ERR_TIMEOUT, kXferTextNoRecord);
        Finish(q, msg, -1);
        return;
    }
    q.record = reinterpret_cast<_CPYPARAM*>(words);
    _CPYPARAM* r = q.record;
    r->peer = 0;

    // A remote request serves one side of a copy that another node's record describes;
    // that record's address comes with the message and is taken only when it names one of
    // the records this process knows.
    const bool remote = count >= kRemoteParams && count != kInlineParams && mp_msg_param(msg, 4) != 0 &&
                        mp_msg_param(msg, 5) != 0;
    const uint32_t served = remote ? mp_msg_param(msg, 5) : 0;
    _CPYPARAM* peer = nullptr;
    if (remote) {
        uint32_t replyNode = (msg->replyMode >> 16) & 0xFF;
        if (!replyNode) replyNode = here;
        peer = XferVmPeer(replyNode, mp_msg_param(msg, 4));
        if (!peer || peer == r || (served != 1 && served != 2)) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kXferTextBadPeer);
            Finish(q, msg, -1);
            return;
        }
        std::memcpy(words + kVmPeerWord, reinterpret_cast<const uint32_t*>(peer) + kVmPeerWord,
                    kVmExchangeWords * 4);
        r->peer = Word(peer);
    }

    _MP_BUF_ST* buffers[4] = {nullptr, nullptr, nullptr, nullptr};
    if (count == kInlineParams)
        for (uint32_t i = 0; i < 4; ++i) buffers[i] = Ptr<_MP_BUF_ST>(XferSlotSecond(msg, i));
    uint32_t ids[4];
    bool bad = false;
    for (uint32_t i = 0; i < 4; ++i) {
        ids[i] = mp_msg_param(msg, i);
        if (Resolve(res, ids[i], &buffers[i], remote ? 1 : 0, msg, i, i >= 2 ? 1 : 0) != 0) bad = true;
    }
    _MP_BUF_ST* s = buffers[0];
    _MP_BUF_ST* d = buffers[1];
    r->resource = res;
    r->serving = res ? res->record : nullptr;
    r->servingState = r->serving ? r->serving->nodeState : nullptr;
    r->source = s;
    r->destination = d;
    r->control1 = buffers[2];
    r->control2 = buffers[3];
    const bool sourceContinued = Continued(buffers[2]);
    const bool destinationContinued = Continued(buffers[3]);

    if (sourceContinued && destinationContinued && !(remote && served)) {
        if (bad || RetakeSections(res, r) != 0) {
            if (bad) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            Finish(q, msg, -1);
            return;
        }
        r->sourceContinued = r->destinationContinued = 1;
        r->side = 0;
        Finish(q, msg, mpBufCopyVM(r, 0, 0) == 0 ? 0 : -1);
        return;
    }

    // Descriptors are checked before anything reads them.
    const auto plain = [](const _MP_BUF_ST* b) { return mp_buf_valid(b, kBufKindImage) && b->location != kLocPaged; };
    bool valid = !bad;
    if (valid && !s && !(ids[0] == kVmUnknownBuffer && d)) valid = false;
    if (valid && !d && ids[1] != kVmUnknownBuffer) valid = false;
    for (uint32_t i = 0; valid && i < 4; ++i)
        if (buffers[i] && !plain(buffers[i])) valid = false;
    for (uint32_t i = 2; valid && i < 4; ++i)
        if (ids[i] && !buffers[i]) valid = false;
    if (valid && ((s && s->location == kLocHostDma) || (d && d->location == kLocHostDma))) valid = false;
    if (valid && !remote && s && d && (s->node & 0xFF) != here && (d->node & 0xFF) != here) valid = false;
    if (!valid) {
        _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        Finish(q, msg, -1);
        return;
    }

    // One transfer request per node; the VM sections of both sides keep other users off
    // their engines.
    if (!remote) {
        q.copySema = XferCopySema(here);
        if (TaskValidateSema(q.copySema)) {
            if (!XferTakeCopySema(q.copySema)) {
                _mp_res_log_error(res, HLC_ERR_TIMEOUT, nullptr);
                Finish(q, msg, -1);
                return;
            }
            q.semaTaken = true;
        }
        if (TakeSections(res, r, s, d) != 0) {
            Finish(q, msg, -1);
            return;
        }
    }
    r->sourceContinued = sourceContinued ? 1 : 0;
    r->destinationContinued = destinationContinued ? 1 : 0;
    r->side = served;
    if (res && res->err.code != 0) {
        Finish(q, msg, -1);
        return;
    }
    const int32_t result = Run(r, remote && served == 1);

    // The receiving side hands its choices back to the sender's record, and names its own
    // record there for the sending side's corrections.
    if (remote && served == 1 && peer) {
        std::memcpy(reinterpret_cast<uint32_t*>(peer) + kVmPeerWord, words + kVmPeerWord, kVmReturnWords * 4);
        peer->peer = r->bus ? r->bus : Word(r);
    }
    Finish(q, msg, result);
}

void mp_vmcopy_install()
{
    mp_server_set_handler(kOpBufCopyVM, mp_BufCopyVM);
}
