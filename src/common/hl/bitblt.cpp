// The display bitblit: the display Orlo's VM engine programmed as a blitter, strip by
// strip, and the wait for the display scan of a synchronised copy.
#include "bitblt.h"

#include "bufid.h"
#include "devhandlers.h"
#include "digitizers.h"
#include "disprequest.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodeopen.h"
#include "pcicopy.h"
#include "regaccess.h"
#include "reqres.h"
#include "servinfo.h"
#include "task.h"
#include "vmprog.h"
#include "vmsection.h"


namespace {

using namespace vmreg;

constexpr int kCommunicationEntry = 3;
constexpr int32_t kSyncOn = -9997;
constexpr uint32_t kTimingBlit = 0x80000;
constexpr uint32_t kTimingBlitClear = 0x2522;   // bits 1, 5, 8, 10, 13
constexpr uint32_t kTimingBlitKind = 0xAC4;     // bits 2, 6, 7, 9, 11: transfer kind 10
constexpr uint32_t kDisplayStatus = 0x0;        // bit 4 interlaced, bit 5 current field
constexpr uint32_t kScanLine = 0x30;

uint32_t* Slot(uint32_t offset)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !c->shadow) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + offset));
}

uint32_t Live(uint32_t offset)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    return c && c->regs ? HwRead32(c->regs, offset) : 0;
}

// Stores a value into the shadow (marked changed when it differs) and writes it.
void Put(uint32_t offset, uint32_t value)
{
    uint32_t* slot = Slot(offset);
    if (!slot) return;
    if (slot[0] != value) {
        slot[0] = value;
        slot[1] &= ~kShadowWritten;
    }
    slot[1] &= ~kShadowListMode;
    SetShInHw(slot);
}

// The address of a band as the display Orlo's engine sees it: in its own memory through the
// window onto that memory; memory outside the window keeps its bus address.
uint32_t Band(const _MP_BUF_ST* b, uint32_t band)
{
    if (!b->bandTable || band >= b->bands) return 0;
    const uint32_t local = mp_buf_display_orlo_address(b, band);
    return local ? local : b->bandTable[band].physical;
}

// The band-0 address of a buffer's root: buffers that share it share memory.
uint32_t RootBand0(const _MP_BUF_ST* b)
{
    const _MP_BUF_ST* root = b->parent ? b->parent : b;
    return Band(root, 0);
}

struct Plan {
    uint32_t bpp = 1;
    int32_t width = 0, height = 0;
    int vertical = 1, horizontal = 1;
    uint32_t format = 0, burst = 0, limit = kBitBltStripBytes;
    uint32_t band1 = 0, band2 = 0;
};

// One engine pass over the window from the given source band to the same band of the
// destination (or every band at once when bands > 1 in the format): 0 or -1.
int Pass(MP_RESOURCE_ST* resource, const Plan& p, uint32_t source, uint32_t destination, int32_t pitch,
         uint32_t timing, bool synchronised, const _MP_BUF_ST* destinationBuffer, uint32_t node)
{
    uint32_t* words = nullptr;
    if (!getCpyParamPtr(node, &words) || !words) {
        _mp_res_log_error(resource, HLC_ERR_TIMEOUT, nullptr);
        return -1;
    }
    auto* record = reinterpret_cast<_CPYPARAM*>(words);
    const BitBltStrips strips = BitBltStripsOf(static_cast<uint32_t>(p.width), p.bpp, p.limit, p.horizontal == 2);
    const uint32_t vertical = p.vertical == 2 ? static_cast<uint32_t>(p.height - 1) * static_cast<uint32_t>(-pitch) : 0;
    _NODE_MAIN_RESOURCE_ST* nodeRecord = mp_core_node_record(node);
    SERVINFO_ST* state = nodeRecord ? mp_servinfo(nodeRecord, 1) : nullptr;
    record->resource = resource;
    record->direct = 0;
    record->destinationLocation = 2;
    record->endSema = state ? state->endOfTransferSema : -1;
    std::memset(record->state, 0, sizeof record->state);
    record->state[1] = node;
    record->state[2] = kXferEndSourceDisplay;

    // The end-of-transfer server finds the blit's resource here while it runs.
    VMXFER_ST transfer{};
    transfer.resource = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(resource));
    if (state) state->vmTransfer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&transfer));
    int result = 0;
    // The node's bitblits take the display Orlo with the node state's own token.
    SetToOrlo(node, 1, BitBltOwnerToken(node));
    Put(kVFactor, 0);
    Put(kHFactor, 0);
    Put(kTag0, 0);
    // From the right-most strip to the left-most: the left-most carries the remainder.
    for (uint32_t i = strips.count; i-- > 0 && result == 0;) {
        const uint32_t left = i == 0 ? 0 : strips.last + (i - 1) * strips.width;
        const uint32_t width = i == 0 ? strips.last : strips.width;
        if (state && TaskValidateSema(record->endSema)) TaskResetSema(record->endSema);
        mp_sys_sema_reset(node, kXferEndSourceDisplay);
        Put(kFormat, p.format);
        Put(kBoardStart, (source + left * p.bpp + vertical) & 0x3FFFFFF);
        Put(kBand1, p.band1);
        Put(kBand2, p.band2);
        Put(kBand3, (destination - source) & 0x3FFFFFF);
        Put(kBoardPitch, static_cast<uint32_t>(pitch) & 0x3FFFFFF);
        Put(kBurst, p.burst);
        Put(kHStart, 0);
        Put(kHStop, width - 1);
        Put(kVStart, 0);
        Put(kVStop, static_cast<uint32_t>(p.height - 1));
        Put(kWriteMask, 0xFFFFFF);
        const uint32_t live = Live(kTiming);
        if (live & kTimingReset) {
            Put(kTiming, (live & ~(kTimingContinuous | kTimingSingle)) | kTimingReset);
            Put(kTiming, live & ~(kTimingContinuous | kTimingSingle | kTimingReset));
        }
        if (synchronised) {
            COPY_INFO_ST info{-2, static_cast<int32_t>(width), p.height, destinationBuffer->offsetY,
                              static_cast<int32_t>(node), static_cast<int32_t>(((p.format >> 4) & 3) + 1), 1, 1, 1};
            syncCopy(&info);
        }
        Put(kTiming, timing);
        if (uint32_t* slot = Slot(kTiming)) slot[0] &= ~kTimingSingle;
        // Each strip ends before the next is programmed: the engine holds one strip.
        if (WaitForEndOfTransfer(record) != 0) result = -1;
    }
    ReleaseAccessOrlo();
    if (state) state->vmTransfer = 0;
    record->busy = 0;
    return result;
}

}  // namespace

uint32_t* BitBltOwnerToken(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    return record && record->nodeState ? &record->nodeState->bitbltToken : nullptr;
}

void SelectDirection(int32_t sourceX, int32_t sourceY, int32_t destinationX, int32_t destinationY, int32_t width,
                     int32_t height, int* vertical, int* horizontal)
{
    if (sourceY < destinationY && destinationY < sourceY + height) *vertical = 2;
    if (sourceY == destinationY && sourceX < destinationX && destinationX < sourceX + width) *horizontal = 2;
}

BitBltStrips BitBltStripsOf(uint32_t width, uint32_t bytesPerPixel, uint32_t limit, bool rightToLeft)
{
    BitBltStrips s{1, width, width};
    const uint32_t bpp = bytesPerPixel ? bytesPerPixel : 1;
    const uint32_t line = width * bpp;
    if (!rightToLeft || line <= limit || limit < bpp) return s;
    if (line % limit) {
        const uint32_t n = width / (limit / bpp);
        s.count = n + 1;
        s.width = width / s.count;
        s.last = width - n * s.width;
    } else {
        s.count = line / limit;
        s.width = s.last = width / s.count;
    }
    // The remainder strip may come out wider than the engine holds: add strips until
    // every strip fits.
    while ((s.last * bpp > limit || s.width * bpp > limit) && s.count < width) {
        ++s.count;
        s.width = width / s.count;
        s.last = width - (s.count - 1) * s.width;
    }
    return s;
}

int syncCopy(const COPY_INFO_ST* p)
{
    if (!p) return -1;
    const uint32_t node = static_cast<uint32_t>(p->destinationNode) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    const uint32_t regs = record ? record->displayRegs : 0;
    const _NODE_ST* state = record ? record->nodeState : nullptr;
    const int32_t* description = regs && state ? mp_disp_description(node) : nullptr;
    int result = 0;
    if (description) {
        // 1. The display's timing from its description: N lines a frame, the scan offset V
        // (the scan line counts from the vertical retrace), the line rate L from the pixel
        // clock (kHz) and the horizontal total.
        const int32_t total = description[DISP_STATE_VTOTAL];
        const int32_t offset = total - description[DISP_STATE_VRETRACE];
        const int32_t htotal = description[DISP_STATE_HTOTAL];
        int32_t lineRate = htotal > 0 ? static_cast<int32_t>(static_cast<int64_t>(description[DISP_STATE_PIXEL_CLOCK]) *
                                                             1000 / htotal)
                                      : 0;
        const uint32_t busClock = NodeBusClock(state);
        const uint32_t status = HwRead32(regs, kDisplayStatus);
        const int interlaced = (status >> 4) & 1;
        const int32_t margin = 20 << interlaced;
        // 2. The copy rates in MB/s.
        int32_t r1 = XferRateEstimate(busClock);
        int32_t r2 = p->selector == -2 ? 177 : busClock == 33 ? 132 : 100;
        if (p->fieldFactor == 3) {
            r1 /= 3;
            r2 /= 3;
        }
        // 3. The copy speeds in lines a second.
        const int32_t width = p->width > 0 ? p->width : 1;
        const int32_t product2 = p->product2 ? p->product2 : 1;
        double a1 = static_cast<double>(static_cast<int64_t>(p->product1) * r1 * 1000000 / product2) / width;
        double a2 = static_cast<double>(static_cast<int64_t>(p->product1) * r2 * 1000000 / product2) / width;
        if (p->selector >= 0) {
            a1 *= 2;
            a2 *= 2;
        }
        if (interlaced) lineRate *= 2;
        // 4. The scan lines at which the copy must not start.
        const int32_t y = p->destinationY, h = p->height;
        auto t = [h, lineRate](double x) {
            return x > 0 ? static_cast<int32_t>(static_cast<double>(h) * lineRate / x) : 0;
        };
        int32_t s = 0, e = 0;
        if (lineRate < a1) {
            s = y - margin + offset;
            e = y + h - t(a2) + offset;
        } else if (lineRate > a2) {
            s = y + h - t(a1) + offset;
            e = y + offset;
        } else {
            s = y + h - t(a1) + offset;
            e = y + h - t(a2) + offset;
        }
        // 5. A range that begins before the frame wraps past its last line.
        bool wraps = false;
        if (s < 0) {
            s += total;
            wraps = !(s < e);
        }
        if (interlaced) {
            s >>= 1;
            e >>= 1;
        }
        // 6. The waits.
        // Mend: every wait ends with the communication time-out; a stopped scan must not hold the copy.
        const uint32_t first = static_cast<uint32_t>(s), last = static_cast<uint32_t>(e);
        const auto line = [regs] { return HwRead32(regs, kScanLine); };
        const auto field = [regs] { return static_cast<int32_t>((HwRead32(regs, kDisplayStatus) >> 5) & 1); };
        const auto inRange = [&] {
            const uint32_t l = line();
            return wraps ? (l >= first || l <= last) : (first <= l && l <= last);
        };
        const double limit = mp_sys_timeout(kCommunicationEntry);
        const auto lineWait = [&] { return intsrv::WaitFor(limit, [&] { return !inRange(); }); };
        bool ok = true;
        if (!interlaced) {
            ok = lineWait();
        } else if (p->selector < 0) {
            ok = intsrv::WaitFor(limit, [&] { return field() == 1; }) && lineWait();
        } else if (lineRate >= a1 && wraps) {
            ok = intsrv::WaitFor(limit, [&] { return field() == p->selector; }) &&
                 intsrv::WaitFor(limit, [&] { return field() != p->selector || line() >= last; });
        } else if (field() == p->selector) {
            ok = lineWait();
        }
        if (!ok) result = -1;
    }
    // 7. The throughput measurement.
    XferRateArm(static_cast<uint32_t>(p->width) * static_cast<uint32_t>(p->height) *
                    static_cast<uint32_t>(p->fieldFactor) * static_cast<uint32_t>(p->units),
                mp_time_clock(0.0));
    return result;
}

int mpBufCopyBitBltDisplay(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                           _MP_BUF_ST* control)
{
    int32_t sync = -9999, mode = 1;
    XferField(control, IM_CTL_DISPLAY_SYNC, &sync);
    XferField(control, IM_CTL_TRANSFER_MODE, &mode);
    if (source->bits != destination->bits) {
        _mp_res_log_error(resource, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return -1;
    }
    const uint32_t node = source->node & 0xFF;
    _NODE_MAIN_RESOURCE_ST* own = resource && resource->record ? resource->record : mp_core_node_record(node);
    const int32_t copySema = own && own->nodeState ? own->nodeState->copySema : -1;
    // Mend: the wait for the node's copy semaphore ends with the communication time-out.
    if (TaskValidateSema(copySema) &&
        !intsrv::WaitFor(mp_sys_timeout(kCommunicationEntry), [copySema] { return TaskCheckSema(copySema) > 0; })) {
        _mp_res_log_error(resource, HLC_ERR_TIMEOUT, nullptr);
        return -1;
    }
    if (mp_res_alloc_vm(resource, source) != 0) {
        // The semaphore goes back with the sections, none of which was taken.
        if (TaskValidateSema(copySema)) TaskSignalSema(copySema);
        return -1;
    }
    // The display Orlo's VM engine now belongs to the request's thread object.
    XferVmSync(node, 1)->owner = resource ? resource->threadId : 0;

    Plan p;
    p.bpp = source->type == 0x40000001u ? 1 : XferPixelBytes(source);
    mp_util_min_size(source, destination, nullptr, nullptr, &p.width, &p.height);
    if (source->type == 0x40000001u) p.width /= 8;
    const uint32_t bands = source->bands < destination->bands ? source->bands : destination->bands;
    if (RootBand0(source) == RootBand0(destination))
        SelectDirection(source->offsetX, source->offsetY, destination->offsetX, destination->offsetY, p.width,
                        p.height, &p.vertical, &p.horizontal);
    if (Band(source, 0) == Band(destination, 0)) return 0;   // onto itself: nothing moves
    if (p.width <= 0 || p.height <= 0) return 0;

    const int32_t pitch = p.vertical == 2 ? -static_cast<int32_t>(source->pitch) : static_cast<int32_t>(source->pitch);
    uint32_t timing = mode == 3 ? 0x480000 : mode == 5 ? 0x880000 : kTimingBlit;
    timing = (timing & ~kTimingBlitClear) | kTimingBlitKind;
    p.format = ((p.bpp - 1) & 7) | (((p.bpp - 1) & 3) << 4);
    p.burst = 7;
    if (p.bpp == 4) {
        p.burst = 6;
        p.limit = kBitBltStripBytesWide;
    }
    // Bands of one byte go in one pass when the destination's bands lie as the source's;
    // otherwise, and for wider pixels, every band takes its own pass, so none is lost.
    bool together = p.bpp == 1 && bands >= 2;
    if (together && bands >= 4) {
        _mp_res_log_error(resource, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return -1;
    }
    for (uint32_t b = 1; together && b < bands; ++b)
        if (Band(source, b) - Band(source, 0) != Band(destination, b) - Band(destination, 0)) together = false;
    const bool synchronised = sync == kSyncOn;
    if (together) {
        p.format = (p.format & ~0x30u) | ((bands - 1) << 4);
        p.band1 = (Band(source, 1) - Band(source, 0)) & 0x3FFFFFF;
        if (bands == 3) {
            p.band2 = (Band(source, 2) - Band(source, 0)) & 0x3FFFFFF;
            p.burst = 6;
            p.limit = kBitBltStripBytesWide;
        }
        return Pass(resource, p, Band(source, 0), Band(destination, 0), pitch, timing, synchronised, destination,
                    node);
    }
    const uint32_t passes = bands ? bands : 1;
    for (uint32_t b = 0; b < passes; ++b) {
        if (Pass(resource, p, Band(source, b), Band(destination, b), pitch, timing, synchronised, destination,
                 node) != 0)
            return -1;
    }
    return 0;
}
