// Corrections of one side of a VM transfer.  The rules form a fixed table of cases applied
// in order, a later rule overriding an earlier one where both set the same value; the
// receiving side leaves its choices in the settings block for the sending side.
#include "vmpatch.h"

#include "bufchild.h"
#include "bufid.h"
#include "devhandlers.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t kTypeOneBit = 0x40000001u;
constexpr uint32_t kTypePacked24 = 0x40000018u;
constexpr uint32_t kTypeDouble = 0x20000040u;
constexpr uint32_t kTypeFloat = 0x20000020u;
constexpr uint32_t kRecordTag = 0xCAFEFADEu;

bool Is8(const _MP_BUF_ST* b) { return b && (b->type == 8 || b->type == 0x10000008u); }
bool Is16(const _MP_BUF_ST* b) { return b && (b->type == 0x10 || b->type == 0x10000010u); }
bool Is32Int(const _MP_BUF_ST* b) { return b && (b->type == 0x20 || b->type == 0x10000020u); }
bool Is32(const _MP_BUF_ST* b) { return Is32Int(b) || (b && b->type == kTypeFloat); }
bool IsPacked(const _MP_BUF_ST* b) { return b && b->type == kTypePacked24; }
bool Board(const _MP_BUF_ST* b) { return XferMemory(b) == 1; }
bool Display(const _MP_BUF_ST* b) { return XferMemory(b) == 2; }
bool BoardOrHost(const _MP_BUF_ST* b) { return XferMemory(b) != 2; }
int32_t Bpp(const _MP_BUF_ST* b) { return static_cast<int32_t>(XferPixelBytes(b)); }

// Band-0 address as the engine sees it: the bus address, else the host address.
uint32_t Band0(const _MP_BUF_ST* b)
{
    if (b->bandTable && b->bands && b->bandTable[0].physical) return b->bandTable[0].physical;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mp_buf_address_band_internal(b, 0)));
}

// Phase ranges the engine mishandles.
constexpr uint16_t kDisplayOneBand[][2] = {{0x1A1, 0x1A9}, {0x1B1, 0x1CC}, {0xEA, 0xFA}};
constexpr uint16_t kDisplayBands[][2] = {{0x6E, 0x78}};
constexpr uint16_t kYModeOneBand[][2] = {{0x1A1, 0x1A3}, {0x1A5, 0x1A7}, {0x1A9, 0x1B0}, {0x1C2, 0x1D8}};
constexpr uint16_t kYModeThreeBands[][2] = {{0x6E, 0x6F}, {0x71, 0x72}, {0x76, 0x77}};
constexpr uint16_t kDisplayRgb[][2] = {{0x00, 0x07}, {0x16, 0x17}, {0x1E, 0x1F}};
constexpr uint16_t kBoardOneBand[][2] = {{0x12, 0x18}};
constexpr uint16_t kBoardBands[][2] = {{0x0A, 0x1E}};
constexpr uint16_t kTagPhase[][2] = {{3, 5}};

template <size_t N>
int32_t Step(uint32_t value, uint32_t bits, const uint16_t (&ranges)[N][2], uint32_t step = 1)
{
    return XferStepping(value, bits, ranges, N, step);
}

struct Work {
    bool packingSeen = false;
    bool shift = false;
    int32_t n = 1;
    bool special = false;
};

// The sending side's fields (control buffer 1).
void ScanSending(_CPYPARAM* r, int32_t* blk, Work* w)
{
    blk[blk::kSendMirrorX - 1] = blk[blk::kSendMirrorY - 1] = 0;
    blk[blk::kSendPacking - 1] = blk[blk::kSendPort - 1] = 0;
    blk[blk::kBurstKept - 1] = 0;
    blk[blk::kSendFactorX - 1] = 1;
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    uint32_t key = 0;
    int32_t v = 0;
    while (r->control1 && mp_buf_get_next_field(r->control1, &cursor, &key, &v) == 0) {
        switch (key) {
        case IM_CTL_MIRROR_X: if (v == 2) blk[blk::kSendMirrorX - 1] = 1; break;
        case IM_CTL_MIRROR_Y: if (v == 2) blk[blk::kSendMirrorY - 1] = 1; break;
        case IM_CTL_PACKING:
            if (v != kUnset) {
                blk[blk::kSendPacking - 1] = 1;
                w->packingSeen = true;
            }
            break;
        case IM_CTL_FACTOR_X: if (v > 1) blk[blk::kSendFactorX - 1] = v; break;
        case IM_CTL_PIXEL_BITS: if (v >= 8 && v <= 32) blk[blk::kSend10013 - 1] = 1; break;
        case IM_CTL_VM_PORT:
            if (v >= 0 && v <= 14) {
                blk[blk::kSendPort - 1] = 1;
                w->special = true;
            }
            break;
        default: break;
        }
    }
}

// The receiving side's fields (control buffer 2).
void ScanReceiving(_CPYPARAM* r, int32_t* blk, Work* w)
{
    for (uint32_t k : {blk::kRecvMirrorX, blk::kRecvMirrorY, blk::kRecvPacking, blk::kRecvPort,
                       blk::kRecvField10009, blk::kRecvTag, blk::kBurstKept})
        blk[k - 1] = 0;
    blk[blk::kRecvModeX - 1] = blk[blk::kRecvModeY - 1] = blk[blk::kRecvFactorY - 1] = 1;
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    uint32_t key = 0;
    int32_t v = 0;
    while (r->control2 && mp_buf_get_next_field(r->control2, &cursor, &key, &v) == 0) {
        switch (key) {
        case IM_CTL_MIRROR_X: if (v == 2) blk[blk::kRecvMirrorX - 1] = 1; break;
        case IM_CTL_MIRROR_Y: if (v == 2) blk[blk::kRecvMirrorY - 1] = 1; break;
        case IM_CTL_PACKING: if (v != kUnset) blk[blk::kRecvPacking - 1] = 1; break;
        case IM_CTL_FACTOR_X: if (v > 1) blk[blk::kRecvFactorX - 1] = v; break;
        case IM_CTL_FACTOR_Y: if (v > 1) blk[blk::kRecvFactorY - 1] = v; break;
        case IM_CTL_TAG_BUFFER: if (v != 0) blk[blk::kRecvTag - 1] = 1; break;
        case IM_CTL_LANE_ORDER:
            if (v != kUnset) {
                blk[blk::kRecvField10009 - 1] = 1;
                w->special = true;
            }
            break;
        case IM_CTL_MODE_X: blk[blk::kRecvModeX - 1] = v; break;
        case IM_CTL_MODE_Y: blk[blk::kRecvModeY - 1] = v; break;
        case IM_CTL_VM_PORT:
            if (v >= 0 && v <= 14) {
                blk[blk::kRecvPort - 1] = 1;
                w->special = true;
            }
            break;
        default: break;
        }
    }
}

int32_t CeilDiv(int32_t a, int32_t b)
{
    if (b <= 0) return 0;
    return a >= 0 ? (a + b - 1) / b : a / b;
}

}  // namespace

int32_t XferStepping(uint32_t value, uint32_t bits, const uint16_t (*ranges)[2], uint32_t count, uint32_t step)
{
    const uint32_t mask = (1u << bits) - 1;
    const uint32_t phase = value & mask;
    for (uint32_t i = 0; i < count; ++i) {
        if (phase < ranges[i][0] || phase > ranges[i][1]) continue;
        if (step == 0) return 0;
        // Steps until the phase passes the range's end (or wraps out of it).
        int32_t n = 0;
        uint32_t v = value;
        do {
            v += step;
            ++n;
        } while ((v & mask) >= ranges[i][0] && (v & mask) <= ranges[i][1] && n <= static_cast<int32_t>(mask + 1));
        return n;
    }
    return 0;
}

_CPYPARAM* XferPeerRecord(uint32_t peer)
{
    if (!peer) return nullptr;
    // Only an address inside the copy-parameter area of a known node, on a record's
    // boundary, is taken: a word from a message never reaches memory unchecked.
    for (uint32_t node = 1; node < 255; ++node) {
        _MP_BUF_ST* base = mp_buf_id_slot(node, 0);
        if (!base) continue;
        double stored = 0;
        if (mp_buf_get_field_double(base, kCpyParamField, &stored) != 0 || stored == 0) continue;
        const uint32_t area = static_cast<uint32_t>(stored);
        if (peer < area || peer >= area + kCpyParamRecords * kCpyParamRecordBytes) continue;
        if ((peer - area) % kCpyParamRecordBytes) return nullptr;
        auto* r = reinterpret_cast<_CPYPARAM*>(static_cast<uintptr_t>(peer));
        return r->tag == kRecordTag && r->size == kCpyParamRecordBytes ? r : nullptr;
    }
    return nullptr;
}

void PatchVM(_CPYPARAM* record, DMATX_ST* patch, XferWindow* window, int side, int continued,
             const CopyImage* orlo_hra)
{
    const _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* partner = record->otherBuf;
    const _MP_BUF_ST* src = record->source;
    const _MP_BUF_ST* dst = record->destination;
    const bool both = src && dst;

    // 1. Settings block: the receiving node's record on a sending side between two nodes.
    _CPYPARAM* owner = record;
    if (side == 2 && both && (src->node & 0xFF) != (dst->node & 0xFF)) {
        if (_CPYPARAM* peer = XferPeerRecord(record->peer)) owner = peer;
    }
    int32_t* blk = owner->block;
    auto B = [blk](uint32_t word) -> int32_t& { return blk[word - 1]; };
    // The sending effective width is this side's own: vmWindow keeps it in the record of
    // the node that computes the sending side, and the receiving node never sets it.
    const int32_t sendWidth = record->block[blk::kSendWidth - 1];
    uint32_t& shiftFlag = owner->state[kStateThreeBandShift];
    Work w;

    // 2. Settings of the control buffers.
    const bool srcContinued = B(blk::kSrcContinued) != 0;
    const bool dstContinued = B(blk::kDstContinued) != 0;
    if (!continued) {
        if (side == 2 || !srcContinued) ScanSending(record, blk, &w);
        if (side == 1 || !dstContinued) ScanReceiving(record, blk, &w);
    } else {
        if (side == 1 && !srcContinued) ScanSending(record, blk, &w);
        if (B(blk::kSendPacking) || B(blk::kRecvPacking) || B(blk::kSendPort) || B(blk::kRecvPort) ||
            B(blk::kRecvField10009))
            w.special = true;
    }
    const int32_t sf = B(blk::kSendFactorX) > 0 ? B(blk::kSendFactorX) : 1;
    const int32_t rf = B(blk::kRecvFactorX) > 0 ? B(blk::kRecvFactorX) : 1;
    const bool sMirX = B(blk::kSendMirrorX) != 0;
    const bool sMirY = B(blk::kSendMirrorY) != 0;
    const bool rTag = B(blk::kRecvTag) != 0;
    const bool predefTag = B(blk::kPredefTagId) != 0;
    const int32_t dir = sMirX ? -1 : 1;
    const uint32_t hStart = orlo_hra ? (*orlo_hra)[vmreg::kHStart] & 0xFFFF : 0;

    // 3. Wide lines.
    if (both && !sMirX && (src->sizeX == 512 || src->sizeX == 1024 || dst->sizeX == 512 || dst->sizeX == 1024)) {
        w.special = true;
        if (side == 1 && src->bands == 3 && dst->bands == 3 && hStart == 2) {
            w.special = false;
            B(blk::kThreeBandException) = 1;
        } else if (side == 2 && B(blk::kThreeBandException)) {
            w.special = false;
        }
    }

    // 4.-14. Phase corrections, with a partner and an ordinary transfer only.
    if (self && partner && src && self->type != kTypeDouble && !w.special) {
        // 5. Start phase of the source.
        const int32_t lineS = src->sizeX * Bpp(src), lineD = dst->sizeX * Bpp(dst);
        const int32_t W = lineS < lineD ? lineS : lineD;
        const int32_t H = src->sizeY < dst->sizeY ? src->sizeY : dst->sizeY;
        uint32_t a = Band0(src);
        if (sMirX) a += static_cast<uint32_t>(W - 1);
        if (sMirY) a += static_cast<uint32_t>(H - 1) * src->pitch;
        const uint32_t m = a % 8;

        // 6. Shift of the line start.
        if (!w.packingSeen) {
            if (Board(src) && !sMirX && (m == 0 || (m == 4 && src->type == kTypeOneBit))) {
                w.shift = true;
                w.n = sf;
            }
            if (sMirX && (Is8(src) || IsPacked(src)) &&
                (((m == 3 || m == 7) && Board(src)) || (m == 7 && Display(src)))) {
                w.shift = true;
                w.n = 1;
            }
            if (Board(src) && src->bands == 1) {
                if (sMirY && m == 4 && (Is8(src) || IsPacked(src))) {
                    w.shift = true;
                    w.n += 1;
                }
                if (Is8(src) && (sf == 4 || sf == 8 || sf == 12 || sf == 16)) {
                    w.shift = false;
                    patch->burst = 4;
                }
            }
        }
        // 7. Scaled 16-bit source.
        if (Is16(src) && sf % 2 == 0) {
            w.shift = false;
            patch->burst = 4;
        }
        // 8. Pixel types.
        if ((Is32(src) || IsPacked(src)) && (Is32(dst) || IsPacked(dst))) {
            if (side == 2) {
                if (sMirX) patch->burst = 4;
                else if (IsPacked(src)) patch->burst = 6;
                if (Is32Int(src)) patch->burst = BoardOrHost(src) ? 4 : 3;
            } else {
                patch->burst = rTag ? 4 : IsPacked(src) ? 6 : 7;
            }
        } else if (Is16(src) && Is16(dst) && sMirX) {
            patch->burst = 5;
        }
        // 9. The shift itself.
        if (w.shift && !predefTag) {
            if (side == 1) {
                patch->stop += w.n / sf;
                patch->start += w.n / sf;
            } else {
                patch->board += dir * w.n * Bpp(src);
                patch->stop += w.n;
            }
        }
        // 10. Three bands on both sides.
        if (!w.packingSeen && src->bands == 3 && dst->bands == 3) {
            if (side == 1) {
                if (static_cast<int32_t>(hStart) + patch->stop == 2) {
                    patch->stop += 8;
                    patch->start += 8;
                    shiftFlag = 1;
                }
            } else if (shiftFlag) {
                patch->board += dir * 8 * sf * Bpp(src);
                patch->stop += 8 * sf;
                if (rTag && Display(src))
                    patch->stop += Step(static_cast<uint32_t>(sendWidth + patch->stop), 5, kTagPhase);
            }
        }
        // 11. Line ends of a display source.
        if (!w.packingSeen && side == 2 && Display(src) && !sMirX) {
            int32_t p = sendWidth + patch->stop;
            if (patch->stop + partner->sizeX < p) p = patch->stop + partner->sizeX;
            const int32_t k = src->bands == 1 ? Step(static_cast<uint32_t>(p), 9, kDisplayOneBand, sf)
                                              : Step(static_cast<uint32_t>(p), 7, kDisplayBands, sf);
            patch->stop += k * sf;
        }
        const int32_t rModeX = B(blk::kRecvModeX), rModeY = B(blk::kRecvModeY);
        // 12. Line doubling into a board source.
        if (Board(src) && rModeY > 1 && rModeX == 1) {
            const _MP_BUF_ST* shorter = lineS < lineD ? src : dst;
            if (lineS == lineD) shorter = partner;
            const uint32_t v = static_cast<uint32_t>(patch->stop + shorter->sizeX);
            int32_t k = 0;
            if (src->bands == 1) k = Step(v, 9, kYModeOneBand);
            else if (src->bands == 3) k = Step(v, 7, kYModeThreeBands);
            if (side == 2) {
                patch->stop += k;
                patch->board += dir * k * Bpp(self);
            } else {
                patch->stop += k;
                patch->start += k;
                if (Bpp(self) != 1) patch->burst = 4;
            }
        }
        // 13. Line doubling of a colour display source into 3-byte pixels.
        if (Display(src) && rModeY > 1 && rModeX == 1 && Bpp(dst) == 3 && (src->bands == 3 || src->bands == 4)) {
            const int32_t x = src->sizeX < dst->sizeX ? src->sizeX : dst->sizeX;
            const int32_t k = Step(static_cast<uint32_t>(x), 5, kDisplayRgb);
            patch->stop += k;
            if (side == 2) patch->board += dir * k * Bpp(self);
            else patch->start += k;
        }
        // 14. Line ends of a board source.
        if (!w.packingSeen && side == 2 && Board(src)) {
            const uint32_t v = static_cast<uint32_t>(sendWidth + patch->stop);
            const int32_t k = src->bands == 1 ? Step(v, 9, kBoardOneBand) : Step(v, 7, kBoardBands);
            patch->stop += k * sf;
        }
    }

    // 15. Ports.
    auto portBurst = [&]() {
        if (Is32Int(self) || IsPacked(self)) patch->burst = 6;
        else if (self && self->bands > 1) patch->burst = 5;
    };
    if (side == 1 && B(blk::kRecvPort)) {
        patch->stop = window->stopX;
        portBurst();
    } else if (B(blk::kSendPort)) {
        portBurst();
    }

    // 16. Sending window of a scaled receiver.
    if (side == 2 && !predefTag && self && partner && rf > 1) {
        window->stopX = partner->sizeX < self->sizeX / rf ? rf * partner->sizeX - 1 : self->sizeX - 1;
    }

    // 17. Receiving stop.
    if (side == 1 && self && partner) {
        if (!predefTag && (sf > 1 || rf > 1)) {
            if (CeilDiv(partner->sizeX, sf * rf) < self->sizeX)
                patch->stop += CeilDiv(partner->sizeX, sf) - 1;
            else
                patch->stop += rf * self->sizeX - 1;
        } else {
            patch->stop += B(blk::kPieceCounter) ? B(blk::kRecvStopKept) : window->stopX;
        }
        const int32_t modeX = B(blk::kRecvModeX);
        if (modeX > 1 && !predefTag && modeX * patch->stop > self->sizeX) patch->stop /= modeX;
    }

    // 18. Burst by pixel types.
    if (both) {
        if (Is8(src) && Is8(dst) && src->bands == 2 && dst->bands == 2) patch->burst = 6;
        if (side == 2) {
            const int32_t x = src->sizeX < dst->sizeX ? src->sizeX : dst->sizeX;
            if (Is8(src) && src->bands == 3 && Display(src) && Is32Int(dst)) {
                patch->burst = (x % 64 < 6 || x % 64 > 16) ? 5 : 3;
            } else if (Is8(src) && (src->bands == 3 || src->bands == 4) && (IsPacked(dst) || Is32Int(dst))) {
                patch->burst = 3;
            } else if (Is8(src) && src->bands == 2 && Is16(dst)) {
                patch->burst = 3;
            } else if (src->bands == 1 && Is8(dst)) {
                if (Is32Int(src) && dst->bands == 4) patch->burst = 3;
                else if ((Is32Int(src) && (dst->bands == 3 || dst->bands == 1)) || (IsPacked(src) && dst->bands == 3))
                    patch->burst = BoardOrHost(src) ? 4 : 3;
                else if (Is16(src) && dst->bands == 2)
                    patch->burst = 3;
            }
            if (sMirX && Display(src)) patch->burst = 3;
        } else {
            if (dst->bands == 1 && Is8(src) &&
                (((IsPacked(dst) || Is32Int(dst)) && (src->bands == 3 || src->bands == 4)) ||
                 (Is16(dst) && src->bands == 2))) {
                patch->burst = 6;
            } else if (Is8(dst)) {
                if ((dst->bands == 3 && IsPacked(src)) || (dst->bands == 4 && Is32Int(src)))
                    patch->burst = 4;
                else if ((dst->bands == 3 || dst->bands == 1) && Is32Int(src))
                    patch->burst = BoardOrHost(src) ? 4 : 5;
                else if (dst->bands == 2 && Is16(src))
                    patch->burst = 6;
            }
            if (B(blk::kRecvModeX) == 4 && Is8(src) && Is8(dst) && src->bands > 2 && dst->bands > 2)
                patch->burst = 5;
        }
    }

    // 19. Field selection on the receiving side.
    const bool field10009 = B(blk::kRecvField10009) != 0;
    if (field10009) {
        if (side == 1) patch->burst = 5;
        else patch->burst = B(blk::kRecvModeY) == 4 ? 5 : 3;
    }
    // 20. Tag buffers.
    if (side == 2 && (rTag || predefTag)) patch->burst = 3;

    // 21. Last words by memory and pixel size.
    if (both) {
        if (Board(src) && Board(dst) && Is8(src) && Is8(dst) && src->bands == 3 && dst->bands == 3) patch->burst = 4;
        if (src->bits == 64 && dst->bits == 64) {
            if (side == 1) patch->burst = rTag ? 4 : 7;
            else patch->burst = BoardOrHost(src) ? 4 : 3;
        }
    }
}
