// Programming one side of a transfer into an Orlo's VM engine: the values are computed
// into the node's copy-shadow image first, then loaded into the Orlo's shadows and
// registers in a fixed order that ends with the start pulse on the timing control.
#include "vmprog.h"

#include "bitblt.h"
#include "bufchild.h"
#include "bufid.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserverio.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "pcicopy.h"
#include "vmpatch.h"
#include "regaccess.h"
#include "reqres.h"
#include "task.h"

#include "hwaccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

using namespace vmreg;

namespace {

constexpr uint32_t kTypeOneBit = 0x40000001u;
constexpr uint32_t kTypeDouble = 0x20000040u;
constexpr uint32_t kTypeFloat = 0x20000020u;
constexpr int32_t kEnable = -9997;
constexpr int32_t kDisable = -9999;
constexpr uint32_t kTimingDefault = 0x80000;
constexpr uint32_t kTimingInitClear = 0x49008;
constexpr uint32_t kTimingField10017 = 0x10;
constexpr uint32_t kTimingBit13 = 0x2000;
constexpr uint32_t kModeWordKeep = 0x6000;     // bits 13-14 of the mode word
constexpr int kCommunicationEntry = 3;

// Never destroyed: a node's threads may still use it while the process ends.
std::unique_ptr<CopyImage> (&g_images)[256][2] = *new std::unique_ptr<CopyImage>[1][256][2];
std::mutex g_imageLock;
// The VM sync object of every Orlo (node, primary/display); written by the task that
// holds the Orlo, read by the VM-line server through the event state.
VmSyncObject g_vmSync[256][2];

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

int Fail(_CPYPARAM* record, int32_t code, const char* text = nullptr)
{
    _mp_res_log_error(record->resource, code, text);
    return -1;
}

// The shadow slot of a register of the selected Orlo, null without one.
uint32_t* Slot(uint32_t offset)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c || !c->shadow) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + offset));
}

// Stores a value into a register's shadow and writes it to the hardware at once.
void Load(uint32_t offset, uint32_t value)
{
    uint32_t* slot = Slot(offset);
    if (!slot) return;
    slot[0] = value;
    slot[1] &= ~(kShadowWritten | kShadowListMode);
    SetShInHw(slot);
}

uint32_t Live(uint32_t offset)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    return c && c->regs ? HwRead32(c->regs, offset) : 0;
}

// Fields of the control buffers, their accepted values and their errno numbers.
struct FieldScan {
    int32_t mirrorX = 1, mirrorY = 1;
    int32_t packing = kUnset;
    int32_t factorX = 1, factorY = 1, modeX = 1, modeY = 1;
    int32_t f10004 = 1, f10009 = kUnset, f10013 = kDisable, f10014 = kEnable, f10015 = kEnable;
    int32_t count = 1, f10017 = 0, port = -1, selector = 0, f10024 = kUnset, countKind = 2;
    int32_t line = kUnset, f10031 = kUnset, frames = kUnset;
    bool countGiven = false;
    int32_t startX = 0, stopX = kUnset, startY = 0, stopY = kUnset;
    int32_t writeMask = -1;
    int32_t f16036 = 0;
    int32_t f10034 = kDisable;
    bool f10000 = false;
    const _MP_BUF_ST* tag = nullptr;
};

// Scans one control buffer: 0, or the errno number of the first unacceptable field, or
// -1 / -9 (negated codes come back as 1000 + code) for a bad tag buffer.
int Scan(const _MP_BUF_ST* control, int side, bool vm, const _MP_BUF_ST* self, FieldScan* s)
{
    if (!control) return 0;
    for (const _MP_FIELD_ST* f = control->fieldList; f; f = f->link) {
        const double d = mp_buf_field_value(f);
        const int32_t v = static_cast<int32_t>(d);
        auto among = [v](std::initializer_list<int32_t> list) {
            for (int32_t x : list)
                if (v == x) return true;
            return false;
        };
        switch (f->key) {
        case IM_CTL_BAND_MODE:
            if (!among({kEnable, kDisable})) return 1;
            s->f10000 = v == kEnable;
            break;
        case IM_CTL_MIRROR_X:
            if (!among({1, 2})) return 2;
            s->mirrorX = v;
            break;
        case IM_CTL_MIRROR_Y:
            if (!among({1, 2})) return 3;
            s->mirrorY = v;
            break;
        case IM_CTL_PACKING:
            if (!among({1, 2, kUnset})) return 4;
            s->packing = v;
            break;
        case IM_CTL_TRANSFER_MODE:
            if (!among({1, 3, 5, kUnset})) return 5;
            s->f10004 = v;
            break;
        case IM_CTL_FACTOR_X:
            if (v < 1 || v > 16) return 6;
            s->factorX = v;
            break;
        case IM_CTL_FACTOR_Y:
            if (v < 1 || v > 16) return 7;
            s->factorY = v;
            break;
        case IM_CTL_TAG_BUFFER:
            if (side == 1 && v != 0) {
                const _MP_BUF_ST* tag = mp_buf_pointer(static_cast<uint32_t>(v));
                if (!mp_buf_valid(tag, kBufKindImage)) return 1000 + HLC_ERR_INVALID_BUFFER;
                if (tag->bands != 1 || self->type == kTypeOneBit || self->type == kTypeDouble)
                    return 1000 + HLC_ERR_RESTRICTED;
                s->tag = tag;
            }
            break;
        case IM_CTL_LANE_ORDER:
            if (side == 1) {
                if (!among({1, 2, kUnset})) return 8;
                s->f10009 = v;
            }
            break;
        case IM_CTL_WRITE_MASK:
            if (side == 1 && self->location != kLocSdram) s->writeMask = v & 0xFFFFFF;
            break;
        case IM_CTL_MODE_X:
            if (side == 1) {
                if (!among({1, 2, 4})) return 9;
                s->modeX = v;
            }
            break;
        case IM_CTL_MODE_Y:
            if (side == 1) {
                if (!among({1, 2, 4})) return 10;
                s->modeY = v;
            }
            break;
        case IM_CTL_PIXEL_BITS:
            if (side == 2) {
                const bool refusedType = self->type == kTypeDouble || self->type == kTypeFloat ||
                                         self->type == kTypeOneBit;
                if (!(v == kDisable || (v >= 8 && v <= 32 && !refusedType))) return 11;
                s->f10013 = v;
            }
            break;
        case IM_CTL_MODE_BIT21:
            if (!among({kEnable, kDisable})) return 12;
            s->f10014 = v;
            break;
        case IM_CTL_MODE_BIT20:
            if (!among({kEnable, kDisable})) return 13;
            s->f10015 = v;
            break;
        case IM_CTL_COUNT:
            if (!among({-1, 1})) return 14;
            if (vm) {
                s->count = v;
                s->countGiven = true;
            }
            break;
        case IM_CTL_COUNTED:
            if (!among({0, 1})) return 15;
            if (vm) s->f10017 = v;
            break;
        case IM_CTL_VM_PORT:
            if (v < 0 || v > 14) return 16;
            if (vm) s->port = v;
            break;
        case IM_CTL_WINDOW_X:
            if (vm) s->startX = v;
            break;
        case IM_CTL_WINDOW_Y:
            if (vm) s->startY = v;
            break;
        case IM_CTL_WINDOW_X_END:
            if (vm) s->stopX = v;
            break;
        case IM_CTL_WINDOW_Y_END:
            if (vm) s->stopY = v;
            break;
        case IM_CTL_COUNT_MODE:
            if (!among({0, 1, 2})) return 17;
            if (vm) s->selector = v;
            break;
        case IM_CTL_FRAME_MODE:
            if (!among({0, kUnset})) return 18;
            if (vm) s->f10024 = v;
            break;
        case IM_CTL_FIELD_MODE:
            if (!among({2, 3})) return 19;
            if (vm) s->countKind = v;
            break;
        case IM_CTL_LINE_INTERRUPT:
            if (!(v == -1 || (v >= 0 && v < self->sizeY))) return 20;
            s->line = v;
            break;
        case IM_CTL_INTERRUPT_KIND:
            if (!among({0, 1, 2, kUnset})) return 21;
            s->f10031 = v;
            break;
        case IM_CTL_RATE:
            if (!(v >= 1 || v == kUnset)) return 22;
            s->frames = v;
            break;
        case IM_CTL_DISPLAY_SYNC:
            if (!among({kEnable, kDisable})) return 23;
            s->f10034 = v;
            break;
        case IM_CTL_EXT_MODULE:
            // The external module's register window: -9999, 1 or the side number.
            if (among({kDisable, 1, side})) s->f16036 = v;
            break;
        default:
            break;
        }
    }
    return 0;
}

}  // namespace

// ---- helpers -----------------------------------------------------------------------------

uint32_t XferPixelBytes(const _MP_BUF_ST* b)
{
    if (!b) return 1;
    if (b->type == kTypeOneBit) return 1;
    const uint32_t bytes = b->bits / 8;
    return bytes ? bytes : 1;
}

uint32_t XferMemory(const _MP_BUF_ST* b)
{
    if (!b) return 3;
    if (b->location == kLocSdram) return 1;
    if (b->location == kLocHostDma || b->location == kLocPaged) return 3;
    return 2;
}

bool XferField(const _MP_BUF_ST* control, uint32_t key, int32_t* value)
{
    if (!control || Word(control) < kPredefEntries) return false;
    return mp_buf_get_field(control, key, value) == 0;
}

CopyImage* XferImage(uint32_t node, uint32_t orlo)
{
    std::lock_guard<std::mutex> lock(g_imageLock);
    std::unique_ptr<CopyImage>& image = g_images[node & 0xFF][orlo ? 1 : 0];
    if (!image) image.reset(new (std::nothrow) CopyImage{});
    return image.get();
}

VmSyncObject* XferVmSync(uint32_t node, uint32_t orlo)
{
    return &g_vmSync[node & 0xFF][orlo ? 1 : 0];
}

uint32_t XferLineStep(int32_t frames)
{
    if (frames <= 0 || frames == kUnset) return 0;
    return frames > 0xFFFF ? 0xFFFF : static_cast<uint32_t>(frames);
}

const char* XferFieldText(int number)
{
    // One text per number, kept for the library's life: every error record that names one
    // keeps pointing at text that stays (never one buffer shared by every node thread).
    static std::mutex lock;
    // Never destroyed: a node's threads may still use it while the process ends.
    static std::map<int, std::string>& texts = *new std::map<int, std::string>;
    std::lock_guard<std::mutex> guard(lock);
    std::string& text = texts[number];
    if (text.empty()) text = "A non-buffer parameter was invalid or unacceptable, errno: " + std::to_string(number);
    return text.c_str();
}

// ---- reset and computation ----------------------------------------------------------------

void vmInitSh(int side, int direct, const _MP_BUF_ST* other, const _MP_BUF_ST* self, CopyImage* image)
{
    if (!image) return;
    for (uint32_t o = 0x3000; o <= 0x3040; o += 8) (*image)[o] = 0;
    (*image)[kFormat] = 0;
    for (uint32_t o = kBurst; o <= kTag1; o += 8) (*image)[o] = 0;
    for (uint32_t o = kHFactor; o <= kVStop; o += 8) (*image)[o] = 0;
    for (uint32_t o : {kLine, kWriteMask, kListControl, kListAddress, kHostStart, kHostPitch, kHostPage})
        (*image)[o] = 0;
    (*image)[kTiming] = (side == 1 && !direct && other && self) ? 0 : kTimingDefault;
    (*image)[kBurst] = 7;
    (*image)[kTiming] &= ~kTimingInitClear;
}

int calcHfstart(_CPYPARAM* record, DMATX_ST* patch, uint32_t kind, uint32_t* hostAddress, uint32_t* hostPitch)
{
    const _MP_BUF_ST* host = record->otherBuf;
    const _MP_BUF_ST* board = record->thisBuf;
    if (!host || !host->bandTable || host->bands == 0) return Fail(record, HLC_ERR_INVALID_PARAMETER);
    if (host->pitch % 4) return Fail(record, HLC_ERR_INVALID_PARAMETER);
    uint32_t start = host->bandTable[0].physical;
    const int32_t counter = record->b(blk::kPieceCounter);
    if (counter > 1) start += static_cast<uint32_t>(counter - 1) * static_cast<uint32_t>(record->b(blk::kPieceLength));
    const int32_t m = static_cast<int32_t>(start & 3);
    const uint32_t bytes = host->type == kTypeOneBit ? 1 : XferPixelBytes(host);
    if (m && (bytes == 8 || bytes == 4 || (bytes == 2 && m != 2))) return Fail(record, HLC_ERR_INVALID_PARAMETER);
    int32_t correction = 0, mask = 0;
    if (m) {
        if (bytes == 1) {
            correction = m;
            mask = 15 >> (4 - m);
        } else if (bytes == 2) {
            correction = 1;
            mask = 3;
        } else {
            correction = 4 - m;
            mask = 4095 >> (3 * m);
        }
    }
    // The line grows by the units ahead of its first pixel, the host start moves back to
    // the word boundary, and the start word masks (sending) or skips (receiving) them.
    patch->stop = correction;
    patch->host = correction;
    if (kind == kKindPciReceive) {
        patch->start = correction;
        patch->board = 0;
    } else {
        patch->start = mask;
        patch->board = correction * static_cast<int32_t>(board->type == kTypeOneBit ? 1 : XferPixelBytes(board));
    }
    if (hostAddress) *hostAddress = start;
    if (hostPitch) *hostPitch = host->pitch;
    return 0;
}

int vmPixFormat(_CPYPARAM* record, int side, int packing, uint32_t* mode)
{
    const _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* other = record->otherBuf;
    uint32_t bytes = XferPixelBytes(self);
    if (self->type == kTypeDouble) bytes = 4;
    uint32_t bands = self->bands ? self->bands : 1;
    int32_t missingOneBand = 0;
    if (!other && XferField(record->controlA, IM_CTL_MISSING_BAND, &missingOneBand) && missingOneBand == kEnable) bands = 1;
    const uint32_t otherBands = other ? other->bands : bands;
    uint32_t code = bytes - 1;
    if (side == 1 && bands == 1 && otherBands == 3) code = 5;
    const bool given = packing != kUnset;
    if (given) {
        if (self->type == kTypeOneBit) return Fail(record, HLC_ERR_INVALID_PARAMETER);
        if (side == 2 && packing == 1 && bands != 3) return Fail(record, HLC_ERR_INVALID_PARAMETER);
        if (side == 1 && packing == 1 && bytes == 4) return Fail(record, HLC_ERR_INVALID_PARAMETER);
        if (packing == 2 && !((side == 2 && bytes == 4) || (side == 1 && bytes == 3)))
            return Fail(record, HLC_ERR_INVALID_PARAMETER);
    }
    const uint32_t tagBits = (*mode >> 8) & 31;
    if (tagBits && !(bytes == 2 || (bytes == 4 && bands == 1))) return Fail(record, HLC_ERR_RESTRICTED);
    if ((*mode & kModeWordKeep) && bands < 3) return Fail(record, HLC_ERR_RESTRICTED);
    if (side == 1 && other && XferPixelBytes(self) > XferPixelBytes(other) && other->type != kTypeOneBit)
        return Fail(record, HLC_ERR_RESTRICTED);
    uint32_t word = code & 7;
    if (given && bytes != 4) word |= 0x8;
    word |= ((bands - 1) & 3) << 4;
    if (bytes == 2 && otherBands > 1 && bands == 1) word |= 0x40;
    word |= *mode & (kModeWordKeep | 0x1F00);
    *mode = word;
    return 0;
}

void PatchRGB(_CPYPARAM* record, CopyImage* image)
{
    const uint32_t kind = ((*image)[kTiming] >> kKindShift) & 15;
    const uint32_t format = (*image)[kFormat];
    const uint32_t low = format & 7;
    const bool threeBand = ((format >> 4) & 3) == 2 && !(format & 0x40);
    if ((kind == kKindPciReceive || kind == 0) && ((*image)[kHStart] & 0xFFFF) == 2 && threeBand &&
        (((low == 0 || low == 2) && !(format & 0x8)) || low == 3)) {
        if (kind == kKindPciReceive) {
            (*image)[kHostStart] = ((*image)[kHostStart] - 12) & 0x7FFFFFF;
            (*image)[kHStart] += 4;
            (*image)[kHStop] += 4;
        } else {
            (*image)[kHStart] += 1;
            (*image)[kHStop] += 1;
            record->threeBand = 1;
        }
        return;
    }
    const bool sending = kind == kKindPciSend || kind == 1;
    if (sending && record->threeBand) {
        uint32_t back = 3;
        if (record->state[0] == 1 && record->b(blk::kSendPacking) == 1)
            back = 4;
        else if (low != 0)
            back = 3;
        else if (threeBand)
            back = 1;
        (*image)[kBoardStart] -= back;
        (*image)[kHStop] += 1;
        record->threeBand = 0;
    }
}

void quick(const _MP_BUF_ST* buffer, CopyImage* image, _CPYPARAM* record, int side)
{
    if (!buffer || !buffer->bandTable || buffer->bands == 0) return;
    auto band = [buffer](uint32_t i) {
        if (i >= buffer->bands) return 0u;
        const _MP_BAND_ST& b = buffer->bandTable[i];
        return b.physical ? b.physical : b.mapped;
    };
    const uint32_t first = band(0);
    (*image)[kBoardStart] = first;
    (*image)[kBand1] = buffer->bands > 1 ? (band(1) - first) & 0x3FFFFFF : 0;
    (*image)[kBand2] = buffer->bands > 2 ? (band(2) - first) & 0x3FFFFFF : 0;
    (*image)[kBand3] = buffer->bands > 3 ? (band(3) - first) & 0x3FFFFFF : 0;
    const uint32_t bytes = XferPixelBytes(buffer);
    const int32_t kept = record->b(side == 2 ? blk::kSendStopKept : blk::kRecvStopKept);
    uint32_t add = 0;
    if (record->b(side == 2 ? blk::kSendMirrorX : blk::kRecvMirrorX))
        add += static_cast<uint32_t>(kept + 1) * bytes - bytes;
    if (record->b(side == 2 ? blk::kSendMirrorY : blk::kRecvMirrorY))
        add += static_cast<uint32_t>(buffer->sizeY - 1) * buffer->pitch;
    (*image)[kBoardStart] += add;
}

int vmUpdtSh(_CPYPARAM* record, uint32_t port, int side, CopyImage* image)
{
    CopyImage& im = *image;
    _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* other = record->otherBuf;
    const bool vm = !record->direct;
    im[kWriteMask] = 0xFFFFFF;
    im[kPort] = (im[kPort] & ~15u) | (port & 15);
    const uint32_t syncNode = XferDisplayNodeFor(self->node, self);
    VmSyncObject* sync = XferVmSync(syncNode, self->location == kLocSdram ? 0 : 1);
    sync->frames = kUnset;

    // Control fields: a PCI request's one control buffer serves both sides.
    FieldScan s;
    const int scanned = Scan(record->controlA, side, vm, self, &s);
    if (scanned >= 1000) return Fail(record, scanned - 1000);
    if (scanned) return Fail(record, HLC_ERR_INVALID_PARAMETER, XferFieldText(scanned));
    sync->frames = s.frames;
    sync->countMode = s.countGiven ? 1 : 0;
    sync->count = s.count;
    uint32_t mode = s.f10000 ? 0x80 : 0;
    if (s.f10009 == 1) mode = (mode | 0x2000) & ~0x4000u;
    if (s.f10009 == 2) mode = (mode | 0x4000) & ~0x2000u;
    if (s.f10013 >= 8 && s.f10013 <= 32) {
        mode |= static_cast<uint32_t>(s.f10013 - 1) << 8;
        if (side == 2) record->b(blk::kSend10013) = 1;
    }
    if (vm && side == 1 && other) {
        int32_t a = 1, b = 1;
        if (XferField(record->controlA, IM_CTL_FACTOR_X, &a) && a >= 1 && a <= 16) record->b(blk::kRecvFactorX) = a;
        if (XferField(record->controlB, IM_CTL_FACTOR_X, &b) && b >= 1 && b <= 16) record->b(blk::kSendFactorX) = b;
        // The sender's tag word size, for the tag mask.
        int32_t bits = 0;
        if (XferField(record->controlB, IM_CTL_PIXEL_BITS, &bits) && bits >= 8 && bits <= 32) record->b(blk::kSend10013) = bits;
    }
    if (s.port > 14) return Fail(record, HLC_ERR_INVALID_PARAMETER);
    if (s.port >= 0) im[kPort] = (im[kPort] & ~15u) | static_cast<uint32_t>(s.port);

    // Transfer kind.
    const uint32_t kind = record->direct ? (side == 2 ? kKindPciSend : kKindPciReceive) : (side == 2 ? 1u : 0u);
    im[kTiming] = (im[kTiming] & ~kKindMask) | (kind << kKindShift);
    if (s.f10004 == 5) im[kTiming] = (im[kTiming] | 0x800000) & ~0x400000u;
    if (s.f10004 == 3) im[kTiming] = (im[kTiming] | 0x400000) & ~0x800000u;
    if (s.f10014 == kDisable) im[kTiming] |= 0x200000;
    if (s.f10015 == kDisable) im[kTiming] |= 0x100000;
    if (s.f10017) im[kTiming] |= kTimingField10017;
    if (side == 2) {
        record->b(blk::kSendFactorX) = s.factorX;
    } else {
        record->b(blk::kRecvFactorX) = s.factorX;
        record->b(blk::kRecvFactorY) = s.factorY;
        record->b(blk::kRecvModeX) = s.modeX;
        record->b(blk::kRecvModeY) = s.modeY;
    }
    if (s.mirrorX == 2) record->b(side == 2 ? blk::kSendMirrorX : blk::kRecvMirrorX) = 1;
    if (s.mirrorY == 2) record->b(side == 2 ? blk::kSendMirrorY : blk::kRecvMirrorY) = 1;

    DMATX_ST patch{};
    uint32_t host = 0, hostPitch = 0;
    if (record->direct) {
        if (calcHfstart(record, &patch, kind, &host, &hostPitch) != 0) return -1;
        im[kHostStart] = host & 0x7FFFFFF;
        im[kHostPage] = (host >> 26) & 62;
        im[kHostPitch] = hostPitch & 0x7FFFFFF;
    }

    // Window.
    XferWindow w{};
    w.mirrorX = s.mirrorX;
    w.mirrorY = s.mirrorY;
    w.startX = s.startX;
    w.stopX = s.stopX;
    w.startY = s.startY;
    w.stopY = s.stopY;
    w.factorX = s.factorX;
    w.factorY = s.factorY;
    w.modeX = side == 1 ? s.modeX : 1;
    w.modeY = side == 1 ? s.modeY : 1;
    const int win = vmWindow(record, &w, s.f10017, side);
    if (win != 0) return win;

    // Tag buffer.
    const _MP_BUF_ST* tag = s.tag;
    if (!tag && side == 1 && record->b(blk::kPredefTagDesc))
        tag = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(static_cast<uint32_t>(record->b(blk::kPredefTagDesc))));
    if (tag && Word(tag) >= kPredefEntries) {
        WININFO_ST t{};
        std::memcpy(&t, &w, sizeof t);
        if (mpPrvTagAddr(record->resource, self, tag, &t, 1) != 0) return -1;
        im[kTag0] = ((t.address[0] & 0x3FFFFFF) | 0x4000000) & ~0x8000000u;
        im[kTag1] = s.tag ? t.address[1] & 0x3FFFFFF : 0;
    }

    // Window registers.
    im[kHStart] = static_cast<uint32_t>(w.startX) & 0xFFFF;
    im[kHStop] = static_cast<uint32_t>(w.stopX) & 0xFFFF;
    im[kVStart] = static_cast<uint32_t>(w.startY) & 0xFFFF;
    im[kVStop] = static_cast<uint32_t>(w.stopY) & 0xFFFF;
    im[kHFactor] = ((static_cast<uint32_t>(w.factorX) - 1) & 15) | (((static_cast<uint32_t>(w.modeX) - 1) & 3) << 4);
    im[kVFactor] = ((static_cast<uint32_t>(w.factorY) - 1) & 15) | (((static_cast<uint32_t>(w.modeY) - 1) & 3) << 4);

    // Frame addresses.
    if (other && other->bands == 0) return Fail(record, HLC_ERR_RESTRICTED);
    WININFO_ST frame{};
    std::memcpy(&frame, &w, sizeof frame);
    if (mpPrvFrameAddr(record->resource, self, &frame, 1, 1, 1, (mode >> 8) & 31, other ? other->bands : self->bands,
                       other ? other->bits : self->bits, 0, 0, 0) != 0)
        return -1;
    std::memcpy(&w, &frame, sizeof frame);

    // Corrections and the line.
    const uint32_t units = XferPixelBytes(self);
    // A piece of a split line: its own length, kept with the record (the settings block
    // is reset for each transfer that does not continue).
    const int32_t pieceUnits =
        record->b(blk::kPieceCounter) ? static_cast<int32_t>(record->pieceBytes / units) : 0;
    if (record->direct) {
        PatchPCI(record, &patch, &w, side, 0, host);
        const uint32_t at = host - static_cast<uint32_t>(patch.host);
        im[kHostStart] = at & 0x7FFFFFF;
        im[kHostPage] = (at >> 26) & 62;
        const int32_t line = pieceUnits ? pieceUnits - 1 : w.stopX - w.startX;
        im[kHStop] = static_cast<uint32_t>(line + patch.stop) & 0xFFFF;
        im[kHStart] = static_cast<uint32_t>(patch.start) & 0xFFFF;
    } else {
        // The unsplit window is kept for the pieces and the continued requests; the
        // corrections then move the line's ends out of the phases the engine mishandles.
        if (side == 2) {
            if (!pieceUnits) record->b(blk::kSendStopKept) = static_cast<int32_t>(im[kHStop]);
            record->b(blk::kSendStartKept) = static_cast<int32_t>(im[kHStart]);
        } else {
            if (!pieceUnits) record->b(blk::kRecvStopKept) = static_cast<int32_t>(im[kHStop]);
            record->b(blk::kRecvStartKept) = static_cast<int32_t>(im[kHStart]);
            record->b(blk::kRecvYStartKept) = static_cast<int32_t>(im[kVStart]);
        }
        PatchVM(record, &patch, &w, side, 0, image);
        if (side == 2) {
            const int32_t stop = pieceUnits ? record->b(blk::kSendStopKept) : w.stopX;
            im[kHStop] = static_cast<uint32_t>(stop + patch.stop) & 0xFFFF;
        } else {
            im[kHStart] = (im[kHStart] + static_cast<uint32_t>(patch.start)) & 0xFFFF;
            im[kHStop] = static_cast<uint32_t>(patch.stop) & 0xFFFF;
        }
    }
    record->boardOffset = static_cast<uint32_t>(patch.board);

    // Band addresses and pitch.
    im[kBoardStart] = (w.address[0] - static_cast<uint32_t>(patch.board)) & 0x3FFFFFF;
    if (record->b(blk::kPieceCounter) > 1)
        im[kBoardStart] += static_cast<uint32_t>(record->b(blk::kPieceCounter) - 1) *
                           static_cast<uint32_t>(record->b(blk::kPieceLength));
    im[kBand1] = self->bands > 1 ? w.address[1] & 0x3FFFFFF : 0;
    im[kBand2] = self->bands > 2 ? w.address[2] & 0x3FFFFFF : 0;
    im[kBand3] = self->bands > 3 ? w.address[3] & 0x3FFFFFF : 0;
    im[kBoardPitch] = static_cast<uint32_t>(w.pitch) & 0x3FFFFFF;
    if (side == 2 && w.factorY > 1) {
        im[kBoardPitch] = (static_cast<uint32_t>(w.pitch) * static_cast<uint32_t>(w.factorY)) & 0x3FFFFFF;
        im[kVStart] = (im[kVStart] & ~0xFFFFu) | ((im[kVStart] & 0xFFFF) / static_cast<uint32_t>(w.factorY));
        im[kVStop] = (im[kVStop] & ~0xFFFFu) | ((im[kVStop] & 0xFFFF) / static_cast<uint32_t>(w.factorY));
        im[kVFactor] &= ~15u;
    }
    if (s.writeMask >= 0) im[kWriteMask] = static_cast<uint32_t>(s.writeMask);

    // Pixel format.
    if (vmPixFormat(record, side, s.packing, &mode) != 0) return -1;
    im[kFormat] = mode & 0xFFFF;
    if (record->b(side == 2 ? blk::kSendMirrorX : blk::kRecvMirrorX)) im[kTiming] |= kTimingMirror;
    PatchRGB(record, image);

    // The receiving side's own tag buffer masks the pixels the window adds to the line.
    if (side == 1 && !s.tag) XferFillTagMask(record, &w, record->b(blk::kSend10013));

    // Burst length.
    int32_t exponent = 7;
    if (mpPrvBlength(record->resource, reinterpret_cast<const WININFO_ST*>(&w), static_cast<uint32_t>(w.modeX),
                     self->bands, self, kind, &exponent) != 0)
        return -1;
    if (kind == kKindPciReceive && exponent < 4) return Fail(record, HLC_ERR_INVALID_PARAMETER);
    im[kBurst] = static_cast<uint32_t>(patch.burst ? patch.burst : exponent);
    record->burst = im[kBurst];
    record->b(blk::kBurstKept) = static_cast<int32_t>(im[kBurst]);

    // Count mode, command bits and field selection.
    uint32_t code = 6;
    int32_t fieldWord = s.selector;
    if (s.f10017 && (im[kVStart] & 0xFFFF) == (im[kVStop] & 0xFFFF)) {
        mpPrvCountMode(static_cast<uint32_t>(s.countKind), 1, s.count, &fieldWord, &code);
        code = code == 0 ? 3 : code == 1 ? 2 : 4;
    }
    im[kTiming] = (im[kTiming] & ~0xE0u) | (code << 5);
    const bool bit13 = s.f10024 == 0 ? false : s.f10017 != 0;
    im[kTiming] = bit13 ? im[kTiming] | kTimingBit13 : im[kTiming] & ~kTimingBit13;
    if (s.count == 1)
        im[kTiming] = (im[kTiming] | kTimingSingle) & ~kTimingContinuous;
    else
        im[kTiming] = (im[kTiming] | kTimingContinuous) & ~kTimingSingle;

    // Synchronisation of the copy: the field selector of a single field-paired transfer
    // counted by fields, else none.  A sending side without tag buffer may ask to start
    // only where the receiving display's scan allows it.
    record->syncCopy = vm && side == 2 && !s.tag && other && s.f10034 == kEnable && other->location != kLocSdram &&
                               other->location != kLocHostDma
                           ? 1
                           : 0;
    sync->selector = -1;
    if (s.countKind == 3 && s.count == 1 && s.f10017) sync->selector = s.selector == 2 ? 0 : s.selector;

    // Line interrupt: -1 reports from line 0 on, every so many lines that a report comes
    // about once a millisecond (bus clock in MHz x 1000 bytes a millisecond over the line's
    // bytes) unless a frame count was given; a line number reports at that line alone.
    if (s.line == -1) {
        im[kLine] = 0;
        if (sync->frames == kUnset) {
            const _NODE_MAIN_RESOURCE_ST* owner = mp_core_node_record(syncNode);
            const uint32_t busClock = owner && owner->nodeState ? NodeBusClock(owner->nodeState) : 0;
            const int32_t frames = self->sizeX > 0 ? static_cast<int32_t>(busClock * 1000 / self->sizeX) : 0;
            sync->frames = frames < 1 ? 1 : frames;
        }
    } else if (s.line != kUnset) {
        im[kLine] = static_cast<uint32_t>(s.line);
        sync->frames = 0;
    }
    if (s.line != kUnset && s.f10017 && !(im[kLine] & 1)) im[kLine] += 1;
    uint32_t fields = 0x10000;
    if (s.f10031 == 0) fields = 0x10000;
    else if (s.f10031 == 1) fields = 0x20000;
    else if (s.f10031 == 2) fields = 0x30000;
    else if (s.f10017 && code < 3) fields = 0x20000;
    im[kTiming] = (im[kTiming] & ~0x30000u) | fields;

    // The external module takes part on the sending side of a VM transfer; its registers
    // are written once the Orlo is held (vmSetOrlo).
    record->extModule = 0;
    const _NODE_MAIN_RESOURCE_ST* nodeRecord = mp_core_node_record(self->node & 0xFF);
    if (vm && side == 2 && s.f16036 && nodeRecord && nodeRecord->nodeState &&
        nodeRecord->nodeState->moduleType == static_cast<uint32_t>(kXferExtModuleType))
        record->extModule = s.f16036;
    return 0;
}

// ---- loading --------------------------------------------------------------------------------

namespace {

// A sending side synchronised with the receiving display: the scan window of the copy is
// left before the start (at most the communication time-out; the copy then starts anyway).
void WaitForDisplay(const _CPYPARAM* record, const CopyImage& im)
{
    const _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* other = record->otherBuf;
    if (!self || !other) return;
    const uint32_t node = XferDisplayNodeFor(self->node, self);
    const VmSyncObject* sync = XferVmSync(node, self->location == kLocSdram ? 0 : 1);
    const uint32_t vStart = im[kVStart] & 0xFFFF, vStop = im[kVStop] & 0xFFFF;
    COPY_INFO_ST info{};
    info.selector = sync->selector;
    info.width = static_cast<int32_t>((im[kHStop] & 0xFFFF) + 1);
    info.height = static_cast<int32_t>(vStop >= vStart ? vStop - vStart + 1 : 1);
    info.destinationY = other->offsetY;
    info.destinationNode = static_cast<int32_t>(other->node & 0xFF);
    info.fieldFactor = static_cast<int32_t>(((im[kFormat] >> 4) & 3) + 1);
    info.product1 = other->sizeX > 0 ? other->sizeX : 1;
    info.product2 = self->sizeX > 0 ? self->sizeX : 1;
    info.units = (im[kFormat] & 0x40) ? 2 : 1;
    syncCopy(&info);
}

}  // namespace

void vmLoadSh(_CPYPARAM* record, int side, int continued, CopyImage* image)
{
    CopyImage& im = *image;
    (void)side;
    for (uint32_t o : {kBoardStart, kBand1, kBand2, kBand3}) Load(o, im[o]);
    // Both PCI sides load the host start: a piece after the first lands at its own
    // place in host memory, not over the first.
    if (record->direct)
        for (uint32_t o : {kHostStart, kHostPage, kHostPitch}) Load(o, im[o]);
    if (continued) {
        if (record->b(blk::kPieceCounter)) {
            Load(kHStop, im[kHStop]);
            Load(kHStart, im[kHStart]);
        }
        const uint32_t live = Live(kTiming);
        Load(kTiming, (live & ~(kTimingSingle | kTimingContinuous)) | kTimingReset);
        Load(kTiming, live & ~(kTimingSingle | kTimingContinuous | kTimingReset));
        Load(kTiming, im[kTiming]);
        if (uint32_t* slot = Slot(kTiming)) slot[0] &= ~kTimingSingle;
        return;
    }
    static constexpr uint32_t kOrder[] = {kFormat, kTag0,  kTag1,  kBoardStart, kBand1, kBand2, kBand3,
                                          kBoardPitch, kBurst, kHFactor, kVFactor, kHStart, kHStop, kVStart,
                                          kVStop, kLine, kWriteMask, kListControl};
    uint32_t* port = Slot(kPort);
    if (port) {
        port[0] = (port[0] & ~15u) | (im[kPort] & 15);
        port[1] &= ~kShadowWritten;
        SetShInHw(port);
    }
    for (uint32_t o : kOrder) {
        uint32_t* slot = Slot(o);
        if (!slot) continue;
        if (slot[0] != im[o]) {
            slot[0] = im[o];
            slot[1] &= ~kShadowWritten;
        }
        slot[1] &= ~kShadowListMode;
        SetShInHw(slot);
    }
    const uint32_t value = im[kTiming];
    Load(kTiming, (value & ~(kTimingSingle | kTimingContinuous)) | kTimingReset);
    Load(kTiming, value & ~(kTimingSingle | kTimingContinuous | kTimingReset));
    if (!record->direct && side == 2 && record->syncCopy) WaitForDisplay(record, im);
    Load(kTiming, value);
    if (uint32_t* slot = Slot(kTiming)) slot[0] &= ~kTimingSingle;
}

int WaitForHostGrab(uint32_t moduleType)
{
    if (moduleType >= 3 && moduleType <= 6) return 0;
    // Mend: the wait for a running host grab ends with the communication time-out.
    const double limit = mp_sys_timeout(kCommunicationEntry);
    const bool ended = intsrv::WaitFor(limit, [] { return Live(kOrloGrabListControl) == 0; });
    return ended ? 0 : -1;
}

// ---- one side ---------------------------------------------------------------------------------

int vmSetOrlo(_CPYPARAM* record, uint32_t port, int side, int continued)
{
    _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* other = record->otherBuf;
    // Display memory of a node without a display Orlo is served by its system's display node.
    const uint32_t node = XferDisplayNodeFor(self->node, self);
    const uint32_t orlo = self->location == kLocSdram ? 0 : 1;
    CopyImage* image = XferImage(node, orlo);
    if (!image) return Fail(record, HLC_ERR_NO_RESOURCES);
    if (!continued) {
        vmInitSh(side, static_cast<int>(record->direct), other, self, image);
        record->extModule = 0;
    }
    _NODE_MAIN_RESOURCE_ST* nodeRecord = mp_core_node_record(node);
    const uint32_t moduleType = nodeRecord && nodeRecord->nodeState ? nodeRecord->nodeState->moduleType : 0;
    uint32_t* token = &record->ownerToken;

    int32_t dontReload = 0;
    const bool gather = other && (other->location == kLocPaged ||
                                  (other->location == kLocHostDma && !XferField(record->controlB, IM_CTL_KEEP_VM, &dontReload)));
    bool held = false;
    if (gather) {
        SetToOrlo(node, orlo, token);
        held = true;
        if (WaitForHostGrab(moduleType) != 0) {
            ReleaseAccessOrlo();
            return Fail(record, HLC_ERR_TIMEOUT, "A host grab did not end");
        }
        const int r = vmUpdtShScatterGather(record, port, side, image);
        if (r != 0) {
            ReleaseAccessOrlo();
            return r;
        }
        record->scatterGather = 1;
    } else if (!continued) {
        const int r = vmUpdtSh(record, port, side, image);
        if (r != 0) return r;
        record->scatterGather = 0;
    } else {
        CopyImage& im = *image;
        DMATX_ST patch{};
        quick(self, image, record, side);
        uint32_t start = im[kBoardStart];
        if (record->b(blk::kPieceCounter) > 1)
            start += static_cast<uint32_t>(record->b(blk::kPieceCounter) - 1) *
                     static_cast<uint32_t>(record->b(blk::kPieceLength));
        const int32_t kept = record->pieceBytes ? static_cast<int32_t>(record->pieceBytes) - 1
                                                : record->b(side == 2 ? blk::kSendStopKept : blk::kRecvStopKept);
        const uint32_t kind = side == 2 ? kKindPciSend : kKindPciReceive;
        if (record->direct) {
            uint32_t host = 0, pitch = 0;
            if (calcHfstart(record, &patch, kind, &host, &pitch) != 0) return -1;
            XferWindow w{};
            w.address[0] = start;
            w.stopX = kept;
            PatchPCI(record, &patch, &w, side, 1, host);
            const uint32_t at = host - static_cast<uint32_t>(patch.host);
            im[kHostStart] = at & 0x7FFFFFF;
            im[kHostPage] = (at >> 26) & 62;
            im[kHostPitch] = pitch & 0x7FFFFFF;
            const int32_t units = (kept + 1) / static_cast<int32_t>(XferPixelBytes(self));
            im[kHStop] = static_cast<uint32_t>(units - 1 + patch.stop) & 0xFFFF;
            im[kHStart] = static_cast<uint32_t>(patch.start) & 0xFFFF;
        } else {
            XferWindow w{};
            w.address[0] = start;
            w.stopX = kept;
            PatchVM(record, &patch, &w, side, 1, image);
            if (side == 2) {
                im[kHStop] = static_cast<uint32_t>(kept + patch.stop) & 0xFFFF;
            } else {
                im[kHStop] = static_cast<uint32_t>(patch.stop) & 0xFFFF;
                im[kHStart] = static_cast<uint32_t>(record->b(blk::kRecvStartKept) + patch.start) & 0xFFFF;
            }
        }
        im[kBoardStart] = (start - static_cast<uint32_t>(patch.board)) & 0x3FFFFFF;
        record->boardOffset = static_cast<uint32_t>(patch.board);
        PatchRGB(record, image);
        im[kBurst] = static_cast<uint32_t>(patch.burst ? patch.burst : static_cast<int32_t>(record->burst));
    }

    if (!held) {
        if (continued) {
            TaskBeginMutex();
            if (nodeRecord && nodeRecord->hwRegCtrl) HwRegCtrl = nodeRecord->hwRegCtrl;
            SetToOrlo(node, orlo, nullptr);
        } else {
            SetToOrlo(node, orlo, token);
        }
        if (WaitForHostGrab(moduleType) != 0) {
            if (continued) TaskEndMutex();
            else ReleaseAccessOrlo();
            return Fail(record, HLC_ERR_TIMEOUT, "A host grab did not end");
        }
    }
    if (continued) {
        const uint32_t live = Live(kTiming);
        (*image)[kTiming] = (live & ~kTimingReset) | (side == 1 ? kTimingSingle : kTimingContinuous);
    }
    if (record->extModule && !continued) {
        const uint32_t timing = (*image)[kTiming];
        XferExtModule(node, record->extModule, (*image)[kPort] & 15, side, timing);
        // The module takes over the field-pairing bit.
        if (record->extModule != kDisable) (*image)[kTiming] = timing & ~kTimingField10017;
    }
    // The Orlo's VM sync object follows this request: its sync object takes the line
    // reports when this side sends, drives a PCI transfer or has no partner.
    VmSyncObject* sync = XferVmSync(node, orlo);
    const MP_RESOURCE_ST* request = record->resource;
    sync->operation = request && (side == 2 || record->direct || !other) ? Word(request->sync) : 0;
    sync->owner = request ? request->threadId : 0;
    if (nodeRecord) {
        if (SERVINFO_ST* events = mp_servinfo(nodeRecord, orlo)) {
            events->vmLineSync = sync->operation;
            events->vmLineStep = XferLineStep(sync->frames);
        }
    }
    vmLoadSh(record, side, continued && !gather, image);
    if (!held && continued)
        TaskEndMutex();
    else
        ReleaseAccessOrlo();
    return 0;
}

// ---- tag mask ---------------------------------------------------------------------------------

uint32_t XferTagMask(uint32_t* words, uint32_t room, int32_t window, int32_t valid, int32_t bitsPerWord,
                     bool mirrored)
{
    if (!words || window <= 0 || bitsPerWord <= 0 || bitsPerWord > 32) return 0;
    if (valid < 0) valid = 0;
    if (valid > window) valid = window;
    const uint32_t b = static_cast<uint32_t>(bitsPerWord);
    const uint32_t count = (static_cast<uint32_t>(window) + b - 1) / b;
    const uint32_t zeros = count * b - static_cast<uint32_t>(valid);
    const uint32_t lead = zeros / b;
    const uint32_t part = zeros % b;
    const uint32_t filled = count < room ? count : room;
    for (uint32_t i = 0; i < filled; ++i) {
        if (i < lead) {
            words[i] = 0;
        } else if (i == lead && part) {
            // The partial word: its b - part pixels of the line, counted from the end the
            // engine starts the word at.
            const uint32_t set = b - part;
            const uint32_t low = set >= 32 ? ~0u : (1u << set) - 1;
            words[i] = mirrored ? low : low << part;
        } else {
            words[i] = ~0u;
        }
    }
    return filled;
}

void XferFillTagMask(_CPYPARAM* record, const XferWindow* w, int32_t field10013)
{
    const auto tagWord = static_cast<uint32_t>(record->b(blk::kPredefTagDesc));
    const _MP_BUF_ST* partner = record->otherBuf;
    if (tagWord < kPredefEntries || !partner || !w) return;
    const auto* tag = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(tagWord));
    const uint32_t address = Word(mp_buf_address_band_internal(tag, 0));
    if (!address || tag->pitch < 4) return;
    const int32_t fr = record->b(blk::kRecvFactorX) > 0 ? record->b(blk::kRecvFactorX) : 1;
    const int32_t fs = record->b(blk::kSendFactorX) > 0 ? record->b(blk::kSendFactorX) : 1;
    const int32_t window = (w->stopX - w->startX + 1 + fr - 1) / fr;
    const int32_t valid = (partner->sizeX + fs - 1) / fs;
    const int32_t bitsPerWord = field10013 >= 8 && field10013 <= 32 ? field10013 : 32;
    uint32_t mask[64];
    const uint32_t room = std::min<uint32_t>(tag->pitch / 4, 64);
    const uint32_t n = XferTagMask(mask, room, window, valid, bitsPerWord, record->b(blk::kRecvMirrorX) != 0);
    if (HwIsWindowAddress(address))
        HwWriteBlock(address, 0, mask, n * 4);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), mask, n * 4);
}

// ---- external module ------------------------------------------------------------------------

void XferExtModule(uint32_t node, int32_t value, uint32_t port, int side, uint32_t timing)
{
    SetToExt(node);
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return;
    const uint32_t shadow = c->extCurrentShadow ? c->extCurrentShadow : c->extShadow;
    if (!shadow) return;
    auto slot = [shadow](uint32_t n) { return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(shadow + 8 * n)); };
    auto put = [](uint32_t* s, uint32_t v) {
        s[0] = v;
        s[1] &= ~kShadowWritten;
        SetExtShInHw(s);
    };
    uint32_t* r[4] = {slot(0), slot(1), slot(2), slot(3)};
    if (value == kDisable) {
        put(r[1], r[1][0] | 0x8);
        put(r[2], r[2][0] | 0x1);
        put(r[3], r[3][0] | 0x1);
        return;
    }
    // The module follows the engine: its VM port, on, the field-pairing bit, and the
    // direction of this side (1 receiving, 2 sending).
    put(r[0], (r[0][0] & ~15u) | (port & 15));
    uint32_t control = (r[1][0] | 0x1) & ~0xEu;
    if (timing & kTimingField10017) control |= 0x2;
    put(r[1], control);
    const uint32_t direction = static_cast<uint32_t>(side) & 3;
    put(r[2], (r[2][0] & ~3u) | direction);
    put(r[3], (r[3][0] & ~3u) | direction);
}

// ---- throughput estimate ----------------------------------------------------------------------

XferRateState& XferRate()
{
    static XferRateState state{};
    return state;
}

// The estimate is shared by the copies of every node's thread.
std::mutex& XferRateLock()
{
    static std::mutex lock;
    return lock;
}

int32_t XferRateEstimate(uint32_t busClock)
{
    std::lock_guard<std::mutex> guard(XferRateLock());
    XferRateState& s = XferRate();
    if (s.estimate == 0) s.estimate = busClock == 33 ? 108 : 84;
    return s.estimate;
}

void XferRateArm(uint32_t bytes, double now)
{
    std::lock_guard<std::mutex> guard(XferRateLock());
    XferRateState& s = XferRate();
    s.bytes = bytes;
    s.start = now;
    s.armed = 1;
}

void XferRateDisarm()
{
    std::lock_guard<std::mutex> guard(XferRateLock());
    XferRate().armed = 0;
}

void XferRateUpdate(double now)
{
    std::lock_guard<std::mutex> guard(XferRateLock());
    XferRateState& s = XferRate();
    if (!s.armed) return;
    s.armed = 0;
    const double elapsed = now - s.start;
    if (elapsed <= 0.0) return;
    const double rate = static_cast<double>(s.bytes) / (elapsed * 1048576.0);
    if (rate >= 2147483647.0) return;
    const auto measured = static_cast<int32_t>(rate);
    if (measured >= 26 && measured < s.estimate) s.estimate = measured;
}
