// Window of one side of a transfer and the PCI corrections: the engine moves lines in
// bursts, and some start phases, line ends, pixel types and mirror settings make it lose
// or repeat data.  The window is fixed from both buffers and the scaling first, then the
// corrections move a line's start or end out of the phases the engine mishandles.  The
// rules are applied in their fixed order; a later rule overrides an earlier one.
#include "vmprog.h"

#include "bufchild.h"
#include "bufcopy.h"
#include "bufid.h"
#include "hlc_errors.h"
#include "predef.h"
#include "reqres.h"

#include <cmath>

namespace {

constexpr uint32_t kTypeOneBit = 0x40000001u;
constexpr uint32_t kTypeDouble = 0x20000040u;
constexpr uint32_t kTypeFloat = 0x20000020u;

// The ceiling of a floating-point quotient, taken back by truncation.
int32_t CeilDiv(double a, double b)
{
    return b == 0.0 ? 0 : static_cast<int32_t>(std::ceil(a / b));
}

int Fail(_CPYPARAM* record, int32_t code)
{
    _mp_res_log_error(record->resource, code, nullptr);
    return -1;
}

bool Is8(uint32_t type) { return type == 8 || type == 0x10000008u; }
bool Is16(uint32_t type) { return type == 0x10 || type == 0x10000010u; }
bool Is32(uint32_t type) { return type == 0x20 || type == 0x10000020u; }

// Phase ranges of a board line end (mod 512) that need burst code 4.
constexpr uint16_t kLineEndRanges[][2] = {
    {0x09, 0x10},   {0x15, 0x90},   {0x95, 0x98},   {0x9C, 0xB2},   {0xB5, 0x128},  {0x12D, 0x130},
    {0x135, 0x138}, {0x13D, 0x140}, {0x145, 0x148}, {0x14D, 0x150}, {0x155, 0x158}, {0x15D, 0x160},
    {0x165, 0x168}, {0x16D, 0x170}, {0x175, 0x178}, {0x17C, 0x188}, {0x18D, 0x190}, {0x195, 0x198},
    {0x19D, 0x1A1}, {0x1A5, 0x1A9}, {0x1AD, 0x1B1}};

bool InLineEndRanges(uint32_t phase)
{
    for (const auto& r : kLineEndRanges)
        if (phase >= r[0] && phase <= r[1]) return true;
    return false;
}

}  // namespace

int32_t XferTagStep(const _CPYPARAM* record, const _MP_BUF_ST* b)
{
    if (record->b(blk::kSend10013)) return 32;
    if (b->bits == 24) return 11;
    if (b->bits < 8) return 256;
    return static_cast<int32_t>(32 / XferPixelBytes(b));
}

int32_t XferPartnerStep(const _MP_BUF_ST* b)
{
    if (b->type == kTypeOneBit) return 256;
    if (b->bits == 24) return 10;
    return static_cast<int32_t>(32 / XferPixelBytes(b));
}

int copySmallSizes(_CPYPARAM* record, XferWindow* w, int side)
{
    if (side != 2 || !record->direct) return 0;
    const _MP_BUF_ST* self = record->thisBuf;
    const int32_t columns = (w->stopX - w->startX) / (w->factorX ? w->factorX : 1) + 1;
    const int32_t lines = (w->stopY - w->startY) / (w->factorY ? w->factorY : 1) + 1;
    const int32_t pixels = lines * columns;
    const int32_t line = columns * static_cast<int32_t>(XferPixelBytes(self));
    if (pixels >= 9 && line >= 17) return 0;
    // Too small for the engine: the processor copies the two buffers.
    return mpBufCopySpecialBitBlit(record->resource, record->source, record->destination, record->control1) == 0 ? -4
                                                                                                             : -1;
}

int vmWindow(_CPYPARAM* record, XferWindow* w, int flag10017, int side)
{
    _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* partner = record->otherBuf;
    const bool vm = !record->direct;
    record->b(side == 2 ? blk::kSendBits : blk::kRecvBits) = static_cast<int32_t>(self->bits);
    const int32_t tagStep = XferTagStep(record, self);
    const int32_t partnerStep = partner ? XferPartnerStep(partner) : 0;
    const int32_t fs = record->b(blk::kSendFactorX) > 0 ? record->b(blk::kSendFactorX) : 1;
    const int32_t fr = record->b(blk::kRecvFactorX) > 0 ? record->b(blk::kRecvFactorX) : 1;

    // Effective width.
    int32_t width = self->sizeX;
    if (side == 2 && vm && CeilDiv(self->sizeX, fs) < tagStep) {
        width = fs * tagStep;
        record->b(blk::kSendWidth) = width;
    } else if (side == 1 && partner && (self->sizeX < tagStep || CeilDiv(partner->sizeX, fs) < partnerStep)) {
        if (partner->sizeX > partnerStep && self->sizeX > tagStep)
            width = partner->sizeX;
        else if (partner->sizeX > partnerStep)
            width = tagStep;
        else
            width = partnerStep;
        record->b(blk::kRecvWidth) = width;
        const int32_t q = partner->sizeX / (fr * fs);
        if (q > width && q > 32 && (fr > 1 || fs > 1)) {
            record->b(blk::kRecvWidth) = fr * width;
        } else {
            uint32_t id = 0;
            if (self->location == kLocSdram)
                id = kPredefTagBuffer;
            else if (XferMemory(self) == 2)
                id = kPredefDisplayTag;
            record->b(blk::kPredefTagId) = static_cast<int32_t>(id);
            record->b(blk::kPredefTagDesc) =
                id ? static_cast<int32_t>(reinterpret_cast<uintptr_t>(mp_buf_pointer(id | (self->node & 0xFF) << 16)))
                   : 0;
        }
    } else {
        record->b(side == 2 ? blk::kSendWidth : blk::kRecvWidth) = width;
    }

    // Limits.
    int32_t limitX = partner ? partner->sizeX : 65535;
    int32_t limitY = partner ? partner->sizeY : 65535;
    if (side == 1 && partner && partner->sizeX < partnerStep) limitX = record->b(blk::kRecvWidth);

    // One-bit and 64-bit float buffers.
    if (self->type == kTypeOneBit) {
        const bool stopSet = w->stopX != kUnset;
        if (width % 8 || w->startX % 8 || w->factorX != 1 || w->modeX != 1 || w->mirrorX == 2 ||
            (stopSet && w->stopX % 8 != 7))
            return Fail(record, HLC_ERR_RESTRICTED);
        width >>= 3;
        w->startX >>= 3;
        limitX >>= 3;
        if (stopSet) w->stopX >>= 3;
    } else if (self->type == kTypeDouble) {
        if (w->factorX != 1 || w->modeX != 1) return Fail(record, HLC_ERR_RESTRICTED);
        width *= 2;
        w->startX *= 2;
        limitX *= 2;
        if (w->stopX != kUnset) w->stopX = 2 * w->stopX + 1;
    }

    // Field pairing: the side whose field 10024 is 0 counts double height.
    int32_t height = self->sizeY;
    if (flag10017 && record->controlA && record->controlB) {
        int32_t kindA = 0, kindB = 0, fieldA = kUnset, fieldB = kUnset;
        XferField(record->controlA, IM_CTL_FIELD_MODE, &kindA);
        XferField(record->controlB, IM_CTL_FIELD_MODE, &kindB);
        XferField(record->controlA, IM_CTL_FRAME_MODE, &fieldA);
        XferField(record->controlB, IM_CTL_FRAME_MODE, &fieldB);
        if (kindA == 3 && kindB == 3 && fieldA != fieldB) {
            if (fieldA == 0) height *= 2;
            if (fieldB == 0) limitY *= 2;
        }
    }

    if (side == 1) {
        if (w->stopX == kUnset) w->stopX = limitX - 1;
        if (w->stopY == kUnset) w->stopY = limitY - 1;
        if (w->startX < 0 || w->stopX < 0 || w->startY < 0 || w->stopY < 0 || w->stopX < w->startX ||
            w->stopY < w->startY || w->stopX > limitX - 1 || w->stopY > limitY - 1 || height < w->modeY)
            return Fail(record, HLC_ERR_INVALID_PARAMETER);
        const bool predefTag = record->b(blk::kPredefTagId) != 0;
        int32_t n = CeilDiv(w->stopX - w->startX + 1, w->factorX);
        if (!predefTag) n *= w->modeX;
        if (n > width) {
            w->stopX = (width / w->modeX - 1) * w->factorX + w->startX;
            if (w->stopX + 1 < tagStep && (vm || predefTag)) w->stopX = w->modeX * (w->stopX + 1) - 1;
        }
        n = CeilDiv(w->stopY - w->startY + 1, w->factorY) * w->modeY;
        if (n > height) w->stopY = (height / w->modeY - 1) * w->factorY + w->startY;
    } else {
        if (w->startX != 0 || w->startY != 0 || w->stopX != kUnset || w->stopY != kUnset)
            return Fail(record, HLC_ERR_RESTRICTED);
        w->stopX = width - 1;
        w->stopY = height - 1;
        if (partner) {
            const int32_t c = CeilDiv(w->stopX, static_cast<double>(fr) * w->factorX);
            if ((record->direct || c + 1 > 32) && limitX < c + 1) {
                const int32_t limit = self->type == kTypeOneBit ? limitX * 8 : limitX;
                if (limit < partnerStep && w->factorX == 1 && fr == 1) {
                    w->stopX = partnerStep - 2;
                    record->b(blk::kSendWidth) = partnerStep;
                } else {
                    w->stopX = (record->b(blk::kRecvStartKept) - 1 + limitX) * fr * w->factorX;
                }
            }
            const int32_t f = record->b(blk::kRecvFactorY) >= 2 ? record->b(blk::kRecvFactorY) : w->factorY;
            if (limitY < CeilDiv(w->stopY, f) + 1) w->stopY = (record->b(blk::kRecvYStartKept) - 1 + limitY) * f;
        }
        if (record->direct) {
            const int r = copySmallSizes(record, w, side);
            if (r != 0) return r;
        }
    }
    if (flag10017) {
        ++w->startY;
        ++w->stopY;
    }
    return 0;
}

void PatchPCI(_CPYPARAM* record, DMATX_ST* patch, const XferWindow* w, int side, int continued, uint32_t hostStart)
{
    const _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* partner = record->otherBuf;
    const int32_t h = static_cast<int32_t>(hostStart & 3);
    patch->burst = 0;
    bool irregular = false;

    // 1. The control buffer's settings.
    if (!continued) {
        const _MP_BUF_ST* control = record->control1;
        if (control) {
            for (const _MP_FIELD_ST* f = control->fieldList; f; f = f->link) {
                const double v = mp_buf_field_value(f);
                const int32_t i = static_cast<int32_t>(v);
                switch (f->key) {
                case IM_CTL_MIRROR_X:
                    if (i == 2) record->b(side == 2 ? blk::kSendMirrorX : blk::kRecvMirrorX) = 1;
                    break;
                case IM_CTL_MIRROR_Y:
                    if (i == 2) record->b(side == 2 ? blk::kSendMirrorY : blk::kRecvMirrorY) = 1;
                    break;
                case IM_CTL_PACKING:
                    if (i != kUnset) {
                        record->b(blk::kSendPacking) = 1;
                        irregular = true;
                    }
                    break;
                case IM_CTL_FACTOR_X:
                    if (i > 1) record->b(side == 2 ? blk::kSendFactorX : blk::kRecvFactorX) = i;
                    break;
                case IM_CTL_TAG_BUFFER:
                    if (i != 0) record->b(blk::kRecvTag) = 1;
                    break;
                case IM_CTL_LANE_ORDER:
                    if (side == 1 && i != kUnset) {
                        record->b(blk::kRecvField10009) = 1;
                        irregular = true;
                    }
                    break;
                case IM_CTL_MODE_X:
                    if (side == 1) record->b(blk::kRecvModeX) = i;
                    break;
                case IM_CTL_MODE_Y:
                    if (side == 1) record->b(blk::kRecvModeY) = i;
                    break;
                case IM_CTL_PIXEL_BITS:
                    if (side == 2 && i >= 8 && i <= 32) record->b(blk::kSend10013) = 1;
                    break;
                case IM_CTL_VM_PORT:
                    if (i >= 0 && i <= 14) {
                        record->b(blk::kSendPort) = 1;
                        irregular = true;
                    }
                    break;
                default: break;
                }
            }
        }
    } else {
        irregular = record->b(blk::kSendPacking) || record->b(blk::kSendPort) || record->b(blk::kRecvField10009);
    }

    // 2. Plain PCI: wide integer or float pixels of one type on both sides, unscaled.
    if (side == 2 && partner) {
        const uint32_t t = self->type;
        const bool wide = Is16(t) || Is32(t) || t == kTypeFloat;
        record->b(blk::kPlainPci) = wide && t == partner->type && !record->b(blk::kSendMirrorX) &&
                                    !record->b(blk::kRecvMirrorX) && record->b(blk::kRecvModeX) == 1 &&
                                    record->b(blk::kSendFactorX) == 1 && !record->b(blk::kSendPacking) &&
                                    !record->b(blk::kRecvTag) && !record->b(blk::kSend10013) &&
                                    !record->b(blk::kPredefTagId);
    }
    const bool plain = record->b(blk::kPlainPci) != 0;

    if (!irregular) {
        // 4. Direction and board phase.
        const int32_t d = record->b(blk::kSendMirrorX) ? -1 : 1;
        if (d < 0) patch->board = -patch->board;
        int32_t r = static_cast<int32_t>((w->address[0] - static_cast<uint32_t>(patch->board)) & 7);
        if (plain && h == 2) patch->stop += 1;
        const _MP_BUF_ST* wider = partner && partner->bits > self->bits ? partner : self;
        const uint32_t wideType = wider->type;
        if (side == 2) {
            const int32_t f = record->b(blk::kSendFactorX);
            const uint32_t bpp = XferPixelBytes(self);
            // 5. Scaled sending side; the burst follows the board phase whatever the pixels.
            if (f > 1 && (Is8(wideType) || (Is16(wideType) && h == 2))) {
                patch->stop = Is16(wideType) ? f : f * h;
                patch->board = f * h * d;
                patch->host = h;
                patch->start = 15 >> (4 - h);
                r = static_cast<int32_t>((w->address[0] - static_cast<uint32_t>(patch->board)) & 7);
            }
            if (f > 1 && (r == 0 || r == 4)) patch->burst = XferMemory(self) != 2 ? 4 : 3;
            // 6. Start alignment.
            const bool display = XferMemory(self) == 2;
            if ((r == 0 || (r == 7 && record->b(blk::kSendMirrorX) && display)) && f <= 1) {
                if (plain || wideType == kTypeOneBit || Is8(wideType)) {
                    const int32_t unit = plain ? 1 : static_cast<int32_t>(bpp);
                    const bool controller =
                        self->location == kLocControllerHeap || (partner && partner->location == kLocControllerHeap);
                    if (!controller) {
                        patch->board += 4 * unit * d;
                        patch->stop += 4;
                        // Mend: += 4, not h + 4: calcHfstart took h already; twice would start h bytes off the word.
                        patch->host += 4;
                        if (h == 0 && (hostStart & 0x3FFFFFFu) == 0) patch->host -= 0x800000;
                        patch->start = 0xFF >> (4 - h);
                    } else {
                        patch->burst = 3;
                    }
                } else {
                    patch->burst = 3;
                }
            }
            // 7. Line-end phases.
            if (self->location == kLocSdram) {
                // The line's bytes: with plain PCI the pixels count as one byte each, times
                // their bytes, which is size X x bytes per pixel as without.
                uint32_t e = static_cast<uint32_t>(self->sizeX) * (plain ? bpp : 1);
                e = self->type == kTypeOneBit ? e / 8 : e * (plain ? 1 : bpp);
                e += static_cast<uint32_t>(patch->stop);
                if (InLineEndRanges(e & 511)) patch->burst = 4;
                if (record->b(blk::kSendMirrorX)) {
                    const uint32_t p = (w->address[0] - static_cast<uint32_t>(patch->board)) & 7;
                    if (p == 3 || p == 7) patch->burst = 3;
                }
            } else if (display) {
                const uint32_t e = static_cast<uint32_t>(self->sizeX) + static_cast<uint32_t>(patch->stop);
                if (self->bands == 1 && (e & 511) >= 0x1B9 && (e & 511) <= 0x1C8) patch->burst = 3;
                if (self->bands == 3 && (e & 127) >= 0x39 && (e & 127) <= 0x46) patch->burst = 3;
            }
            if (record->b(blk::kSendMirrorY) && self->location == kLocSdram && self->bands == 1 && r == 4)
                patch->burst = 4;
        }
    }
    // 8. Both sides.
    if ((record->b(blk::kRecvField10009) && !plain) ||
        (record->source && record->destination && Is16(record->source->type) && Is8(record->destination->type) &&
         record->destination->bands == 2))
        patch->burst = 5;
    if (record->b(blk::kSendMirrorX) && XferMemory(self) == 2) patch->burst = 3;
}
