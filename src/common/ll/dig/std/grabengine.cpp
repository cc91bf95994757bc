// Grab-engine register programming of the standard grab-module family.
#include "grabengine.h"

#include "analog.h"
#include "bufchild.h"
#include "bufid.h"
#include "camrec.h"
#include "digitizers.h"
#include "geometry.h"
#include "grab.h"
#include "grabevents.h"
#include "grabpatch.h"
#include "hostgrab.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserver.h"
#include "intserverio.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "serialchips.h"
#include "syncobj.h"
#include "task.h"
#include "thread.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

using namespace cam0;
using intsrv::Put;
using intsrv::Read;
using intsrv::Shadow;

using namespace grbimg;

namespace {

constexpr uint32_t kAddressMask = 0x3FFFFFF;
// Node sections of the VM engines of the primary and the display Orlo.
constexpr uint32_t kVmSectionPrimary = 8;
constexpr uint32_t kVmSectionDisplay = 16;
constexpr uint32_t kNone = 0x20000000;   // "none" of a trigger source (536870912.0)
constexpr uint32_t kMiscControlWordVariant = 0x1000;   // INFO_MISC bit 12: host grab writes 0x2058
// The texts of the field errors, one per error number: an error record keeps the pointer,
// so each text is a constant that no other request can overwrite.
#define HLC_FIELD_TEXT(n) "A non-buffer parameter was invalid or unacceptable, errno: " #n
constexpr const char* kFieldTexts[] = {
    HLC_FIELD_TEXT(0),  HLC_FIELD_TEXT(1),  HLC_FIELD_TEXT(2),  HLC_FIELD_TEXT(3),  HLC_FIELD_TEXT(4),
    HLC_FIELD_TEXT(5),  HLC_FIELD_TEXT(6),  HLC_FIELD_TEXT(7),  HLC_FIELD_TEXT(8),  HLC_FIELD_TEXT(9),
    HLC_FIELD_TEXT(10), HLC_FIELD_TEXT(11), HLC_FIELD_TEXT(12), HLC_FIELD_TEXT(13), HLC_FIELD_TEXT(14),
    HLC_FIELD_TEXT(15), HLC_FIELD_TEXT(16),
};
#undef HLC_FIELD_TEXT

const char* FieldText(int number)
{
    return number >= 0 && number <= 16 ? kFieldTexts[number] : kFieldTexts[0];
}
constexpr int kHaltEventPriority = 20;

// What the field walk gathered, beside the registers it set in the image.
struct Fields {
    int32_t xStart = 0, yStart = 0;
    int32_t xEnd = kGrbDefault, yEnd = kGrbDefault;
    bool yEndGiven = false;
    int32_t countMode = kGrbDefault;   // stored count mode (default: none)
    int32_t frameField = kGrbDefault;  // 10024
    int32_t fieldMode = kGrbDefault;   // 10025
    int32_t lineInt = kGrbDefault;     // 10026 (-9999 and absent: none)
    int32_t lineKind = kGrbDefault;    // 10031
    bool keepCommand = false;          // 10029
    int32_t order = 1;                 // 10001
    uint32_t shiftSel = 0;             // GPIXFMT bits 11-12
    bool enable = false;               // 10000
};

// The request's register image and the engine's own state, in one work allocation that the
// request frees with std::free.
struct EngineWork {
    uint32_t image[kGrbImageWords];
    Fields f;
    WININFO_ST window;
    _MP_BUF_ST* tag;       // tag buffer given by field 10007
    _MP_BUF_ST* madeTag;   // mask tag buffer made by the line-length workaround
    int32_t count;         // the count the grab is armed with
    uint32_t host;         // host DMA destination
    uint32_t hostReady;
    uint32_t slotTaken;    // ProtectOrlo took the slot's semaphore
    uint32_t listToStart;  // the host grab's lists are written but not started yet
};

EngineWork* Work(DIGPARAM* dp)
{
    return static_cast<EngineWork*>(dp->work);
}

uint32_t& R(EngineWork* w, GrabReg r)
{
    return Reg(w->image, r);
}

uint32_t Info(const DIGPARAM* dp, uint32_t offset)
{
    return dp->cam ? CamSlotAt(dp->cam, offset)->value : 0;
}

// A count of taps or a divisor: 0 counts as 1 so that no division is by zero.
uint32_t AtLeast1(uint32_t v)
{
    return v ? v : 1;
}

int Fail(DIGPARAM* dp, int32_t code, const char* text = nullptr)
{
    if (dp->res) _mp_res_log_error(dp->res, code, text);
    return -1;
}

uint32_t ChannelMap(DIGPARAM* dp, uint32_t selection)
{
    if (!dp->cam) return selection & kChanMask;
    return Info(dp, INFO_INPUT) == 0 ? mp_dig_map_analog_channel(dp->cam, selection)
                                     : mp_dig_map_digital_channel(dp->cam, selection);
}

uint32_t DestBytes(const _MP_BUF_ST* d)
{
    return d ? AtLeast1((d->bits + 7) / 8) : 1;
}


uint32_t* OrloSlot(DIGPARAM* dp, uint32_t offset)
{
    if (!dp->path || !dp->path->shadow) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(dp->path->shadow + offset));
}

// Writes a shadow slot to its register unless the slot is marked written already.
void Send(DIGPARAM* dp, uint32_t offset)
{
    uint32_t* slot = OrloSlot(dp, offset);
    if (slot && !(slot[1] & kShadowWritten)) Put(dp->path, offset);
}

// Takes the image value into the shadow when they differ (flags cleared, so it is sent).
void Stage(DIGPARAM* dp, GrabReg r)
{
    uint32_t* slot = OrloSlot(dp, kGrabRegOffset[r]);
    if (!slot) return;
    const uint32_t v = R(Work(dp), r);
    if (slot[0] != v || !(slot[1] & kShadowWritten)) {
        slot[1] &= ~(kShadowWritten | kShadowListMode);
        slot[0] = v;
    }
}

void WriteNow(DIGPARAM* dp, uint32_t offset, uint32_t value)
{
    if (!dp->path) return;
    Shadow(dp->path, offset) = value;
    Put(dp->path, offset);
}

void ReleaseSlotSema(DIGPARAM* dp, uint32_t slot)
{
    if (!dp->path) return;
    const int32_t sema = static_cast<int32_t>(dp->path->slot(slot, kSlotDoneSema));
    if (sema != 0 && sema != -1 && TaskValidateSema(sema)) TaskSignalSema(sema);
}

// What the wait for a slot's semaphore came to.
enum class SlotWait { None, Taken, TimedOut };

// Takes the slot's semaphore, bounded by the communication time-out: a grab that never
// reached its last frame must not hold the next request for ever.
SlotWait TakeSlotSema(DIGPARAM* dp, uint32_t slot)
{
    if (!dp->path) return SlotWait::None;
    const int32_t sema = static_cast<int32_t>(dp->path->slot(slot, kSlotDoneSema));
    if (sema == 0 || sema == -1 || !TaskValidateSema(sema)) return SlotWait::None;
    const double start = mp_time_clock(0.0);
    const double limit = mp_sys_timeout(3);
    while (!TaskCheckSema(sema)) {
        if (mp_time_clock(start) >= limit) return SlotWait::TimedOut;
        mp_time_sleep(0.0);
    }
    return SlotWait::Taken;
}

void FreeMadeTag(EngineWork* w)
{
    if (w && w->madeTag) {
        if (mp_buf_valid(w->madeTag, kBufKindImage)) mp_buf_free(w->madeTag);
        w->madeTag = nullptr;
    }
}

// Bus address of a temporary buffer's memory.
uint32_t TempBufferAddress(const _MP_BUF_ST* b)
{
    if (!b->bandTable || b->bands == 0) return 0;
    const _MP_BAND_ST& band = b->bandTable[0];
    return band.physical ? band.physical : band.mapped;
}

// The clock word (MHz) of the node that holds the digitizer: the node's VM bus clock.
uint32_t DigitizerClockMHz(const DIGPARAM* dp)
{
    const uint32_t node = dp->digInfo && (dp->digInfo[kDigWordNode] & 0xFF) ? dp->digInfo[kDigWordNode] & 0xFF : dp->node;
    const _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
    return r && r->nodeState ? NodeBusClock(r->nodeState) : 0;
}

uint32_t SlotWord(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// ---- field walk -------------------------------------------------------------------------

// The frame registers of a destination in the display Orlo's memory, moved from the bands'
// bus addresses (counted from the display chip's frame window) to the addresses the Orlo's
// engine writes; otherwise every line would land where no memory answers.
void PlaceFrame(const _MP_BUF_ST* destination, EngineWork* w)
{
    uint32_t* const frame[4] = {&R(w, GFSTART), &R(w, GC1FOFF), &R(w, GC2FOFF), &R(w, GC3FOFF)};
    mp_buf_place_on_display_orlo(destination, frame);
}

bool InRange(int32_t v, int32_t lo, int32_t hi)
{
    return v >= lo && v <= hi;
}

// Walks the grab control fields: 0, or the error number of the first invalid value; -1
// after logging -1 for an invalid tag buffer id.
int WalkFields(DIGPARAM* dp, EngineWork* w)
{
    Fields& f = w->f;
    if (!dp->options) return 0;
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    const bool cam = dp->cam != nullptr;
    uint32_t& hs = R(w, GHSCLNG);
    uint32_t& vs = R(w, GVSCLNG);
    uint32_t& gctl = R(w, GRABCTRL);
    const int32_t lines = cam ? static_cast<int32_t>(Info(dp, INFO_YSIZE))
                              : (dp->destination ? dp->destination->sizeY : 0);
    for (;;) {
        uint32_t key = 0;
        int32_t v = 0;
        if (mp_buf_get_next_field(dp->options, &cursor, &key, &v) != 0) return 0;
        const bool def = v == kGrbDefault;
        switch (key) {
        case IM_CTL_BAND_MODE:
            if (v == -9997 && (!cam || Info(dp, INFO_SAMPLEMODE) == 0))
                f.enable = true;
            else if (v != -9999)
                return 1;
            break;
        case IM_CTL_MIRROR_X:
            if (v != 1 && v != 2) return 2;
            f.order = v;
            if (v == 2) gctl |= 0x8000;
            break;
        case IM_CTL_MIRROR_Y:
            if (v != 1 && v != 2) return 3;
            break;
        case IM_CTL_FACTOR_X:
            if (!InRange(v, 1, 16)) return 4;
            hs = (hs & ~0xFu) | static_cast<uint32_t>(v - 1);
            break;
        case IM_CTL_FACTOR_Y:
            if (!InRange(v, 1, 16)) return 5;
            vs = (vs & ~0xFu) | static_cast<uint32_t>(v - 1);
            break;
        case IM_CTL_TAG_BUFFER:
            if (v == 0) {
                w->tag = nullptr;
            } else {
                _MP_BUF_ST* t = mp_buf_pointer(static_cast<uint32_t>(v));
                if (!t || !mp_buf_valid(t, kBufKindImage)) {
                    Fail(dp, HLC_ERR_INVALID_BUFFER);
                    return -1;
                }
                w->tag = t;
            }
            break;
        case IM_CTL_WRITE_MASK:
            if (!dp->destination || dp->destination->location != kLocSdram)
                R(w, GDWRTMSK) = static_cast<uint32_t>(v);
            break;
        case IM_CTL_MODE_X:
            if (v != 1 && v != 2 && v != 4) return 6;
            hs = (hs & ~0x30u) | (static_cast<uint32_t>(v - 1) << 4);
            break;
        case IM_CTL_MODE_Y:
            if (v != 1 && v != 2 && v != 4) return 7;
            vs = (vs & ~0x30u) | (static_cast<uint32_t>(v - 1) << 4);
            break;
        case IM_CTL_PIXEL_BITS:
            if (v == 10)
                f.shiftSel = 0x800;
            else if (v == 12)
                f.shiftSel = 0x1000;
            else if (v == 14)
                f.shiftSel = 0x1800;
            else if (v == -9999)
                f.shiftSel = 0;
            else if (!def)
                return 8;
            break;
        case IM_CTL_VM_PORT:
            if (v == 15 || (!cam && InRange(v, 0, 14)))
                w->image[kVmRestartWord] = (w->image[kVmRestartWord] & ~0xF0u) | (static_cast<uint32_t>(v) << 4);
            else
                return 9;
            break;
        case IM_CTL_WINDOW_X:
            f.xStart = v;
            break;
        case IM_CTL_WINDOW_Y:
            f.yStart = v;
            break;
        case IM_CTL_WINDOW_X_END:
            f.xEnd = v;
            break;
        case IM_CTL_WINDOW_Y_END:
            f.yEnd = v;
            if (!def) f.yEndGiven = true;
            break;
        case IM_CTL_COUNT_MODE:
            if (InRange(v, 0, 2) || (def && cam)) {
                if (!cam || !(Info(dp, DIG_PSGCFG) & 0x8)) f.countMode = v;
            } else if (!(def && !cam)) {
                return 10;
            }
            break;
        case IM_CTL_FRAME_MODE:
            if (v != 0 && !def) return 11;
            f.frameField = v;
            if (v == 0) gctl &= ~kGctlFrame;
            break;
        case IM_CTL_FIELD_MODE:
            if (v != 3 && v != 4 && !def) return 12;
            f.fieldMode = v;
            break;
        case IM_CTL_LINE_INTERRUPT:
            if (v != -9999 && v != -1 && !InRange(v, 0, lines - 1)) return 13;
            f.lineInt = v == -9999 ? kGrbDefault : v;
            break;
        case IM_CTL_CHANNEL:
            break;
        case IM_CTL_KEEP_GRAB_MODE:
            f.keepCommand = true;
            break;
        case IM_CTL_CAPTURE:
            if (v == 1) {
                if (!(gctl & 0xC0)) gctl |= 0xC0;
            } else if (!def) {
                return 14;
            }
            break;
        case IM_CTL_INTERRUPT_KIND:
            if (!InRange(v, 0, 2) && !def) return 15;
            f.lineKind = v;
            break;
        case IM_CTL_RATE:
            if (v <= 0 && !def) return 16;
            w->image[kLinesPerMsWord] = static_cast<uint32_t>(v);
            break;
        default:
            break;   // keys of other layers are skipped
        }
    }
}

}  // namespace

// ---- image fill ------------------------------------------------------------------------------

void grbInitSh(DIGPARAM* dp, int host, int32_t option)
{
    EngineWork* w = Work(dp);
    if (!w) return;
    if (option == 1) {
        w->image[kVmRestartWord] |= 0xF0;
        for (uint32_t i = kLineKindWord; i < kGrbImageWords; ++i) w->image[i] = 0;
        return;
    }
    std::memset(w->image, 0, sizeof w->image);
    w->f = Fields{};
    w->image[kVmRestartWord] |= 0xF0;
    if (dp->cam) {
        R(w, GRABCTRL) = Info(dp, ORLOGREG_GRABCTRL);
        R(w, GHTOTAL) = Info(dp, ORLOGREG_GHTOTAL);
        R(w, GHWSTART) = Info(dp, ORLOGREG_GHWSTART);
        R(w, GHWSTOP) = Info(dp, ORLOGREG_GHWSTOP);
        R(w, GVTOTAL) = Info(dp, ORLOGREG_GVTOTAL);
        R(w, GVWSTART) = Info(dp, ORLOGREG_GVWSTART);
        R(w, GVWSTOP) = Info(dp, ORLOGREG_GVWSTOP);
    } else {
        const _MP_BUF_ST* d = dp->destination;
        const uint32_t width = d ? static_cast<uint32_t>(d->sizeX) : 0;
        const uint32_t height = d ? static_cast<uint32_t>(d->sizeY) : 0;
        R(w, GRABCTRL) = kGrbNoCameraControl;
        R(w, GHTOTAL) = width - 2;
        R(w, GHWSTART) = 0;
        R(w, GHWSTOP) = width;
        R(w, GVTOTAL) = height - 1;
        R(w, GVWSTART) = 0;
        R(w, GVWSTOP) = height;
    }
    uint32_t& gctl = R(w, GRABCTRL);
    gctl &= ~(0x1u | 0x40u | 0x80u | 0x80000u);
    gctl |= 0xC00000;
    if (host) {
        uint32_t& vm = w->image[kVmControlWord];
        vm = (vm & ~((1u << 3) | (1u << 12) | (1u << 15) | (1u << 18))) | (1u << 19);
        w->image[kVmListWord] |= 0x7;
    }
}

// ---- pixel format ----------------------------------------------------------------------------

int grbPixFormat(DIGPARAM* dp, uint32_t channels, uint32_t* pixfmt, int32_t order)
{
    const _MP_BUF_ST* d = dp->destination;
    if (!d || !pixfmt) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    const uint32_t bands = AtLeast1(d->bands);
    const uint32_t destBytes = DestBytes(d);
    uint32_t fmt = *pixfmt & 0x1C00;   // the seeds: enable and the shift selection
    if (!dp->cam) {
        // Samples = bands, one byte each unless the pixel is wider; all channels deliver.
        const uint32_t samples = bands > 4 ? 4 : bands;
        fmt &= ~0x1800u;
        fmt |= (0xFu << 3) | ((samples - 1) << 8);
        fmt |= (destBytes - 1) & 0x7;
        *pixfmt = fmt;
        return 0;
    }
    if (d->bits > 16 && bands >= 2) return Fail(dp, HLC_ERR_RESTRICTED);
    const uint32_t multi = AtLeast1(Info(dp, INFO_TIMEMULTICH));
    const uint32_t mode = Info(dp, INFO_SAMPLEMODE);
    const uint32_t bits = mode == 3 ? 8 : AtLeast1(Info(dp, INFO_BITSPERLOGCH));
    const uint32_t map = ChannelMap(dp, channels);
    if ((map & kChanMask) == 0 || map == 0xFFFFFFFFu) return Fail(dp, HLC_ERR_RESTRICTED);
    const uint32_t selected = AtLeast1(mpPrvChannelCount(channels));
    uint32_t samples = selected * multi;
    uint32_t sampleBytes = bits > 8 ? 2 : 1;
    uint32_t nibble = (map & kChanMask) >> 16;
    bool packing = false;
    uint32_t tapPlanes = 1;
    switch (mode) {
    case 0: {
        if (selected > 1 && multi > 1 && bands != multi && sampleBytes != multi) return Fail(dp, HLC_ERR_RESTRICTED);
        if (samples == 1 && bands < samples) samples = bands;
        if (d->bits > 16 && d->bits <= 24 && bands == 1 && samples == 1) {
            samples = 3;
            sampleBytes = 1;
            if (order == 2) fmt |= 0x400;
        } else if (d->bits > 24 && bands == 1 && samples == 1) {
            samples = 4;
            sampleBytes = 1;
        }
        const uint32_t taps = AtLeast1(Info(dp, INFO_YTAPSPERCHADJ)) * AtLeast1(Info(dp, INFO_YTAPSPERCH)) *
                              AtLeast1(Info(dp, INFO_XTAPSPERCH));
        samples *= taps;
        // A host grab puts each tap into a temporary buffer of its own: one plane a tap.
        if (d->location == kLocHostDma && taps > 1) tapPlanes = taps;
        break;
    }
    case 1:
        if (sampleBytes > 1) return Fail(dp, HLC_ERR_RESTRICTED);
        if (samples == 2) fmt |= 0x400;
        break;
    case 2:
        if (sampleBytes > 1) return Fail(dp, HLC_ERR_RESTRICTED);
        break;
    case 3:
        samples = 4;
        sampleBytes = 1;
        packing = true;
        break;
    default:
        break;
    }
    if (fmt & 0x1800) {
        const bool ok = sampleBytes == 2 || (mode == 3 && samples == 4 && sampleBytes == 1);
        if (!ok) return Fail(dp, HLC_ERR_RESTRICTED);
        // A wide sample reaches an 8-bit destination through the shift: one byte each.
        if (destBytes == 1) sampleBytes = 1;
    }
    if (bands == 3 && samples == 1) {
        samples = 3;
        if (nibble == 1) nibble = 7;
    }
    // Planar destinations hold one sample per band.
    uint32_t planes = bands > 1 ? (bands < samples ? bands : samples) : 1;
    if (tapPlanes > planes) planes = tapPlanes;
    const uint32_t perPixel = samples / AtLeast1(planes);
    if (perPixel * sampleBytes > destBytes) return Fail(dp, HLC_ERR_RESTRICTED);
    if (samples > 4) samples = 4;
    if ((fmt & 0x400) && samples < 3 && multi != 3 && mode == 0) return Fail(dp, HLC_ERR_RESTRICTED);
    fmt |= (destBytes - 1) & 0x7;
    fmt |= (nibble & 0xF) << 3;
    if (packing) fmt |= 0x80;
    fmt |= ((samples - 1) & 0x3) << 8;
    *pixfmt = fmt;
    return 0;
}

// ---- window ---------------------------------------------------------------------------------

int grbWindow(DIGPARAM* dp, WININFO_ST* win, int* clipped)
{
    EngineWork* w = Work(dp);
    const _MP_BUF_ST* d = dp->destination;
    if (!w || !win || !d) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    const Fields& f = w->f;
    if (clipped) *clipped = 0;
    const uint32_t xTaps = dp->cam ? AtLeast1(Info(dp, INFO_XTAPSPERCH)) : 1;
    const uint32_t yTaps = dp->cam ? AtLeast1(Info(dp, INFO_YTAPSPERCH)) : 1;
    const uint32_t adj = dp->cam ? AtLeast1(Info(dp, INFO_YTAPSPERCHADJ)) : 1;
    const uint32_t hRed = (R(w, GHSCLNG) & 0xF) + 1;
    const uint32_t vRed = (R(w, GVSCLNG) & 0xF) + 1;
    const uint32_t hMul = ((R(w, GHSCLNG) >> 4) & 3) + 1;
    const uint32_t vMul = ((R(w, GVSCLNG) >> 4) & 3) + 1;
    uint32_t sizeX = dp->cam ? Info(dp, INFO_XSIZE) : static_cast<uint32_t>(d->sizeX);
    uint32_t sizeY = dp->cam ? Info(dp, INFO_YSIZE) : static_cast<uint32_t>(d->sizeY);
    if (sizeX == 0 || sizeY == 0) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    if (sizeX % xTaps || sizeY % yTaps) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    sizeX /= xTaps;
    sizeY /= yTaps;
    if (dp->cam && Info(dp, INFO_MODE) == 1 && f.fieldMode == 3 && f.frameField == 0) sizeY *= 2;
    if (sizeX % hRed || sizeY % vRed) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    if (adj > 1) {
        if (sizeY % adj) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
        if (vRed > 1 && (vRed & 1)) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    }
    const int32_t xStart = f.xStart == kGrbDefault ? 0 : f.xStart;
    int32_t yStart = f.yStart == kGrbDefault ? 0 : f.yStart;
    int32_t xEnd = f.xEnd == kGrbDefault ? static_cast<int32_t>(sizeX) - 1 : f.xEnd;
    int32_t yEnd = f.yEnd == kGrbDefault ? static_cast<int32_t>(sizeY) - 1 : f.yEnd;
    if (adj > 1) {
        yStart -= yStart % static_cast<int32_t>(adj);
        yEnd = yEnd - (yEnd + 1) % static_cast<int32_t>(adj);
    }
    if (xStart < 0 || yStart < 0 || xEnd < xStart || yEnd < yStart || xEnd >= static_cast<int32_t>(sizeX) ||
        yEnd >= static_cast<int32_t>(sizeY))
        return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    // Clip to the destination: its pixels hold (window - 1) / reduction + 1, times the zoom.
    const int32_t maxX = static_cast<int32_t>((static_cast<uint32_t>(d->sizeX) / hMul) * hRed);
    const int32_t maxY = static_cast<int32_t>((static_cast<uint32_t>(d->sizeY) / vMul) * vRed * adj);
    if (xEnd - xStart + 1 > maxX) {
        xEnd = xStart + maxX - 1;
        if (clipped) *clipped = 1;
    }
    if (yEnd - yStart + 1 > maxY) {
        yEnd = yStart + maxY - 1;
        if (clipped) *clipped = 1;
    }
    if (xEnd < xStart || yEnd < yStart) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    const uint32_t lineBytes = ((static_cast<uint32_t>(xEnd - xStart)) / hRed + 1) * hMul * DestBytes(d);
    if (lineBytes < 9) return Fail(dp, HLC_ERR_RESTRICTED);
    if (adj > 1) {
        yStart /= static_cast<int32_t>(adj);
        yEnd = (yEnd + 1) / static_cast<int32_t>(adj) - 1;
    }
    *win = WININFO_ST{};
    win->firstColumn = static_cast<uint32_t>(xStart);
    win->lastColumn = static_cast<uint32_t>(xEnd);
    win->firstLine = static_cast<uint32_t>(yStart);
    win->lastLine = static_cast<uint32_t>(yEnd);
    win->decimationX = hRed;
    win->decimationY = vRed;
    win->replicationX = hMul;
    win->replicationY = vMul;
    return 0;
}

// ---- register computation --------------------------------------------------------------------

int grbUpdtSh(DIGPARAM* dp, int* hostReady)
{
    EngineWork* w = Work(dp);
    if (hostReady) *hostReady = 0;
    if (!w || !dp->destination) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    const _MP_BUF_ST* d = dp->destination;
    Fields& f = w->f;
    f = Fields{};
    w->tag = nullptr;

    // Step 1: the camera's description, or defaults from the destination.
    const bool cam = dp->cam != nullptr;
    const uint32_t mode = cam ? Info(dp, INFO_MODE) : 0;
    const uint32_t ysize = cam ? Info(dp, INFO_YSIZE) : static_cast<uint32_t>(d->sizeY);
    const uint32_t type = cam ? Info(dp, INFO_TYPE) : 3;
    const uint32_t xTaps = cam ? AtLeast1(Info(dp, INFO_XTAPSPERCH)) : 1;
    const uint32_t yTaps = cam ? AtLeast1(Info(dp, INFO_YTAPSPERCH)) : 1;
    const uint32_t adj = cam ? AtLeast1(Info(dp, INFO_YTAPSPERCHADJ)) : 1;
    const uint32_t xsize = cam ? Info(dp, INFO_XSIZE) : static_cast<uint32_t>(d->sizeX);
    uint32_t channels = dp->channelSel & kChanMask;
    if (!channels) {
        if (cam) {
            channels = Info(dp, INFO_CHANNEL) & kChanMask;
        } else {
            static const uint32_t kByBands[] = {0x10000, 0x10000, 0x30000, 0x70000, 0xF0000};
            channels = kByBands[d->bands > 4 ? 4 : d->bands];
        }
    }
    w->image[kWindowEndWord] = R(w, GVWSTART) + ysize;
    w->image[kLinesPerMsWord] = static_cast<uint32_t>(kGrbDefault);
    R(w, GDWRTMSK) = 0xFFFFFF;
    const uint32_t bitsPerChannel = cam ? Info(dp, INFO_BITSPERLOGCH) : 8;
    if (cam && d->bits == 8) {
        if (bitsPerChannel == 10) f.shiftSel = 0x800;
        if (bitsPerChannel == 12) f.shiftSel = 0x1000;
        if (bitsPerChannel == 14) f.shiftSel = 0x1800;
    }

    // Step 2: the grab control fields.
    const int err = WalkFields(dp, w);
    if (err < 0) return -1;
    if (err > 0) return Fail(dp, HLC_ERR_INVALID_PARAMETER, FieldText(err));
    uint32_t& gctl = R(w, GRABCTRL);

    // Step 3: a triggered camera.
    if (cam && Info(dp, INFO_TRIGSRC) != kNone) {
        const uint32_t bits = Info(dp, ORLOGREG_GRABCTRL) & 0xC0;
        gctl = (gctl & ~0xC0u) | (bits ? bits : 0xC0);
    }

    // Step 4: the window and its registers.
    WININFO_ST& win = w->window;
    int clipped = 0;
    if (grbWindow(dp, &win, &clipped) != 0) return -1;
    const uint32_t hStart = R(w, GHWSTART);
    const uint32_t vStart = R(w, GVWSTART);
    // The engine's lines: with line taps each one carries `adj` camera lines (one a tap), so
    // the y window stays divided by the adjustment as grbWindow left it.
    const uint32_t yStartCamera = win.firstLine;
    const uint32_t yEndCamera = win.lastLine;
    R(w, GHWSTART) = hStart + win.firstColumn;
    R(w, GHWSTOP) = hStart + win.lastColumn;
    R(w, GVWSTART) = vStart + yStartCamera;
    R(w, GVWSTOP) = vStart + yEndCamera;

    // Step 5.
    if ((channels & kChanMask) == 0) return Fail(dp, HLC_ERR_RESTRICTED);

    // Step 6: frame addresses.
    const uint32_t multi = cam ? AtLeast1(Info(dp, INFO_TIMEMULTICH)) : 1;
    const uint32_t wanted = AtLeast1(mpPrvChannelCount(channels)) * multi;
    // A host grab is written into the grab path's temporary buffers: the frame addresses
    // start from theirs.
    if (w->host)
        for (uint32_t i = 0; i < 4; ++i) {
            const auto* t = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(dp->hostGrab[i]));
            win.address[i] = t && mp_buf_valid(t, kBufKindImage) ? TempBufferAddress(t) : 0;
        }
    if (mpPrvFrameAddr(dp->res, d, &win, xTaps, yTaps, adj, f.shiftSel >> 11, wanted, cam ? bitsPerChannel : 8,
                       cam ? Info(dp, INFO_LINEDELAY) : 0, 1, 1) != 0)
        return -1;
    auto setAddress = [](uint32_t& reg, uint32_t address) { reg = (reg & ~kAddressMask) | (address & kAddressMask); };
    setAddress(R(w, GFSTART), win.address[0]);
    setAddress(R(w, GC1FOFF), win.address[1]);
    setAddress(R(w, GC2FOFF), win.address[2]);
    setAddress(R(w, GC3FOFF), win.address[3]);
    setAddress(R(w, GLPITCH), static_cast<uint32_t>(win.pitch));
    PlaceFrame(d, w);

    // Step 7: pixel format.
    uint32_t fmt = f.shiftSel | (f.enable ? 0x400u : 0u);
    if (grbPixFormat(dp, channels, &fmt, f.order) != 0) return -1;
    R(w, GPIXFMT) = fmt;

    // Step 8: vertical taps adjustment.
    const uint32_t vRed = (R(w, GVSCLNG) & 0xF) + 1;
    if (!w->host && vRed != 1 && (adj == 2 || adj == 4)) {
        if (vRed != adj) return Fail(dp, HLC_ERR_RESTRICTED);
        const uint32_t pitch = R(w, GLPITCH) & kAddressMask;
        setAddress(R(w, GLPITCH), pitch / adj);
        R(w, GVSCLNG) &= ~0xFu;
    }

    // Step 9: transfer length and the line-length workaround.
    int32_t transfer = 7;
    const uint32_t samples = ((R(w, GPIXFMT) >> 8) & 3) + 1;
    if (mpPrvBlength(dp->res, &win, d->location, samples, w->tag, 1, &transfer) != 0) return -1;
    GrabPatchJob job{};
    job.resource = dp->res;
    job.destination = dp->destination;
    job.node = dp->node;
    job.tagInBoardMemory = d->location == kLocSdram;
    job.regs = GrabPatchRegs{&R(w, GHWSTART), &R(w, GHWSTOP), &R(w, GPIXFMT), &R(w, GBLENGTH), &R(w, GTAGCTL),
                             &R(w, GC1TOFF),  &R(w, GC2TOFF), &R(w, GC3TOFF), &R(w, GTLPITCH)};
    job.bandFactor = 1;
    _MP_BUF_ST* tagInUse = w->tag;
    job.tagRecord = &tagInUse;
    job.madeTag = &w->madeTag;
    if (mpPrvGrabPatchJob(job, &win, static_cast<uint32_t>(transfer), xsize, clipped, 0, w->tag) != 0) {
        FreeMadeTag(w);
        return -1;
    }
    w->image[kTagBufferWord] = SlotWord(tagInUse);

    // Step 10: one field per count on an interlaced camera.
    int32_t count = dp->args ? dp->args->count : 1;
    if (f.fieldMode == 4 && cam && type == 1) {
        double value = count;
        mp_dig_size_y(dp->cam, IM_DIG_SIZE_Y, &value, 0);
        R(w, GVTOTAL) = Info(dp, ORLOGREG_GVTOTAL);
        if (!f.yEndGiven) R(w, GVWSTOP) = Info(dp, ORLOGREG_GVTOTAL);
        count = 1;
    }

    // Step 11: the Orlo's count mode.
    if (f.countMode != kGrbDefault && mode == 1) {
        int32_t c = count;
        uint32_t code = (gctl >> 10) & 7;
        mpPrvCountMode(static_cast<uint32_t>(f.fieldMode), 1, f.countMode, &c, &code);
        count = c;
        gctl = (gctl & ~0x1C00u) | ((code & 7) << 10);
    }

    // Step 12: frame or field grabs.
    const int32_t frameField = f.frameField == kGrbDefault ? static_cast<int32_t>(mode) : f.frameField;
    if (frameField == 0 || (mode == 1 && (vRed % 2) == 0))
        gctl &= ~kGctlFrame;
    else
        gctl |= kGctlFrame;

    // Step 13: single or continuous.
    if (!f.keepCommand && ((w->image[kVmRestartWord] >> 4) & 0xF) == 15) {
        if (count == 1)
            gctl = (gctl & ~kGctlContinuous) | kGctlSingle;
        else
            gctl = (gctl & ~kGctlSingle) | kGctlContinuous;
    }

    // Step 14: the line interrupt.
    if (f.lineInt != kGrbDefault) {
        uint32_t line = vStart + yStartCamera;
        if (f.lineInt >= 0) line += static_cast<uint32_t>(f.lineInt);
        if (f.lineInt == -1 && static_cast<int32_t>(w->image[kLinesPerMsWord]) == kGrbDefault) {
            double rate;
            if (cam) {
                const uint32_t htotal = CamSlotAt(dp->cam, DIG_HTOTAL)->value & 0xFFFF;
                rate = htotal ? Info(dp, INFO_PIXCLK) * 0.001 / htotal : 1.0;
            } else {
                // Without a camera the digitizer's clock (MHz) drives lines of the width.
                const uint32_t width = dp->destination->sizeX > 0 ? static_cast<uint32_t>(dp->destination->sizeX) : 0;
                rate = width ? DigitizerClockMHz(dp) * 1000000.0 * 0.001 / width : 1.0;
            }
            w->image[kLinesPerMsWord] = rate < 1.0 ? 1u : static_cast<uint32_t>(rate);
        }
        if (mode == 1 && (line % 2) == 0) line += 1;
        R(w, GLNINT) = (R(w, GLNINT) & ~0xFFFFu) | (line & 0xFFFF);
        uint32_t kind;
        switch (f.lineKind) {
        case 0:
            kind = 1;
            break;
        case 1:
            kind = 2;
            break;
        case 2:
            kind = 3;
            break;
        default:
            kind = (mode == 1 && ((gctl >> 10) & 7) < 3) ? 2 : 1;
            break;
        }
        w->image[kLineKindWord] = kind;
    } else if (f.fieldMode == 4 && cam && type != 1) {
        R(w, GLNINT) = static_cast<uint32_t>(count);
        if (dp->path) dp->path->slot(0, kSlotDeferred) |= kDeferLineCount;
    }
    w->count = count;

    // Step 15: a host destination with a camera is grabbed block by block through the
    // temporary buffers; queued behind a running host grab, the registers stay as they are.
    if (w->host && cam) {
        int chained = 0;
        if (hostGrab(dp->res, dp->destination, w->image, dp->cam, dp->options, &chained, dp->hostGrab) != 0) return -1;
        w->hostReady = chained ? 1 : 0;
        if (hostReady) *hostReady = chained;
    }
    return 0;
}

// ---- writing the image -----------------------------------------------------------------------

namespace {

// The VM registers of a host grab: the copy geometry, the list control, the timing control
// (reset, then kept without a start: the VM list starts each copy), last the VM control.
void LoadHostVm(DIGPARAM* dp, EngineWork* w)
{
    for (uint32_t slot = 0; slot < kHostVmSlots; ++slot) {
        const uint32_t offset = kHostVmRegOffset[slot];
        if (!offset || offset == kOrloVmListControl || offset == kOrloVtControl || offset == kOrloVmChannelControl)
            continue;
        WriteNow(dp, offset, w->image[kVmFirstWord + 2 * slot]);
    }
    WriteNow(dp, kOrloVmListControl, w->image[kVmFirstWord + 2 * HostVmSlot(kOrloVmListControl)]);
    const uint32_t vt = w->image[kVmFirstWord + 2 * HostVmSlot(kOrloVtControl)];
    // Mend: a reset pulse, then the value without its start bits (not the value itself, then
    // again with bit 0 clear): the value carries the start bit of a copy, which then ran
    // ahead of the list and held the engine, so the list's copies never came and the grab
    // timed out.
    WriteNow(dp, kOrloVtControl, vt | 0x1u);
    WriteNow(dp, kOrloVtControl, vt & ~0x7u);
    WriteNow(dp, kOrloVmChannelControl, w->image[kVmRestartWord]);
}

}  // namespace

int grbLoadSh(DIGPARAM* dp, int host, int32_t option)
{
    EngineWork* w = Work(dp);
    if (!w || !dp->path) return Fail(dp, HLC_ERR_INVALID_PARAMETER);
    SERVINFO_ST* s = dp->path;
    if (!host) {
        const bool idle = intsrv::WaitFor(kGrbListIdleSeconds, [s] { return Read(s, kOrloGrabListControl) == 0; });
        if (!idle) return Fail(dp, HLC_ERR_TIMEOUT, "Grab register list still running");
    }
    for (GrabReg r : {GFSTART, GC1FOFF, GC2FOFF, GC3FOFF}) WriteNow(dp, kGrabRegOffset[r], R(w, r));
    if (option == 1) return 0;
    for (uint32_t r = 0; r < kGrabRegs; ++r) Stage(dp, static_cast<GrabReg>(r));
    Send(dp, kGrabRegOffset[GSTATUS]);
    static const GrabReg kOrder[] = {GPIXFMT, GTAGCTL,  GC1TOFF,  GC2TOFF,  GC3TOFF, GTLPITCH, GFSTART,
                                     GC1FOFF, GC2FOFF,  GC3FOFF,  GLPITCH,  GBLENGTH, GHSCLNG, GVSCLNG,
                                     GHWSTART, GHWSTOP, GVTOTAL,  GHTOTAL,  GVWSTART, GVWSTOP, GDWRTMSK};
    for (GrabReg r : kOrder) Send(dp, kGrabRegOffset[r]);
    if (host && dp->cam) {
        // A camera whose INFO_MISC has bit 12 set takes the variant that also writes the
        // Orlo's control word at 0x2058; it is written with its live value, so the
        // processor reset and VM bits it holds stay as they are.
        if (Info(dp, INFO_MISC) & kMiscControlWordVariant) WriteNow(dp, kOrloMemControl, Read(s, kOrloMemControl));
        // The grab list starts from its address at every host grab, even an unchanged one.
        // Mend: the list starts after the VM registers and the engine's release (grbSetOrlo),
        // not before them: it arms the frame and copies its first block with those registers,
        // so started first it copied with the previous grab's geometry, or a stop pulse of
        // the release cancelled the frame it had armed.
        WriteNow(dp, kGrabRegOffset[GARPADDR], R(w, GARPADDR));
        LoadHostVm(dp, w);
        w->listToStart = 1;
        return 0;
    }
    Send(dp, kGrabRegOffset[GARPCTRL]);
    return 0;
}

// ---- quick re-aim -----------------------------------------------------------------------------

void quick(DIGPARAM* dp)
{
    EngineWork* w = Work(dp);
    if (!w || !dp->destination || !dp->path) return;
    const _MP_BUF_ST* d = dp->destination;
    WININFO_ST win{};
    win.lastColumn = d->sizeX > 0 ? static_cast<uint32_t>(d->sizeX - 1) : 0;
    win.lastLine = d->sizeY > 0 ? static_cast<uint32_t>(d->sizeY - 1) : 0;
    win.decimationX = win.decimationY = win.replicationX = win.replicationY = 1;
    if (mpPrvFrameAddr(nullptr, d, &win, 1, 1, 1, 0, d->bands, d->bits, 0, 1, 1) != 0) return;
    SERVINFO_ST* s = dp->path;
    const GrabReg regs[4] = {GFSTART, GC1FOFF, GC2FOFF, GC3FOFF};
    for (int i = 0; i < 4; ++i) {
        const uint32_t live = Shadow(s, kGrabRegOffset[regs[i]]);
        R(w, regs[i]) = (live & ~kAddressMask) | (win.address[i] & kAddressMask);
    }
    PlaceFrame(d, w);
}

int ProtectOrlo(DIGPARAM* dp, uint32_t slot)
{
    const SlotWait wait = TakeSlotSema(dp, slot);
    if (EngineWork* w = Work(dp)) w->slotTaken = wait == SlotWait::Taken ? 1 : 0;
    // Mend: a slot still held by an earlier grab past the time-out fails this request
    // instead of re-arming the slot under that grab.
    if (wait == SlotWait::TimedOut) return Fail(dp, HLC_ERR_TIMEOUT);
    SetToOrlo(dp->node, dp->pathIndex, &dp->protectToken);
    return 0;
}

// ---- the Orlo phase --------------------------------------------------------------------------

int grbSetOrlo(DIGPARAM* dp, uint32_t channels, int32_t option)
{
    if (!dp || !dp->destination || !dp->path) return dp ? Fail(dp, HLC_ERR_INVALID_PARAMETER) : -1;
    // Step 1: the image (and the engine's state) in one work allocation.
    std::free(dp->work);
    dp->work = std::calloc(1, sizeof(EngineWork));
    EngineWork* w = Work(dp);
    if (!w) return Fail(dp, HLC_ERR_NO_RESOURCES);
    SERVINFO_ST* s = dp->path;
    dp->channelSel = channels;

    // Step 2: a host DMA destination.
    const bool host = dp->destination->location == kLocHostDma;
    struct SectionHold {
        uint32_t node, bits;
        ~SectionHold()
        {
            if (node) mp_sys_section_unlock(node, bits);
        }
    } vmSection{0, dp->pathIndex ? kVmSectionDisplay : kVmSectionPrimary};
    w->host = host ? 1 : 0;
    bool locked = false;
    if (host) {
        bool buffers = false;
        for (uint32_t i = 0; i < kServHostGrabBuffers; ++i) {
            dp->hostGrab[i] = s->hostGrab[i];
            buffers = buffers || s->hostGrab[i];
        }
        // Without the path's temporary buffers there is nowhere to grab to.
        if (!buffers) return Fail(dp, HLC_ERR_RESTRICTED);
        // The grab programs the Orlo's VM engine: a copy running on it ends first, as copies
        // wait for one another (the engine's section, taken before the Orlo as copies do).
        if (mp_sys_section_wait(dp->node, vmSection.bits) != 0)
            return Fail(dp, HLC_ERR_TIMEOUT, "VM engine still busy before a host grab");
        vmSection.node = dp->node;
        if (dp->thrGrab) dp->thrGrab->path = dp->pathIndex + 1;
        grbInitSh(dp, 1, option);
        if (ProtectOrlo(dp, 0) != 0) return -1;
        locked = true;
    } else {
        grbInitSh(dp, 0, option);
    }

    auto undo = [&]() {
        FreeMadeTag(w);
        if (locked) {
            ReleaseAccessOrlo();
            // The semaphore goes back only when this request took it.
            if (w->slotTaken) ReleaseSlotSema(dp, 0);
            w->slotTaken = 0;
        }
        return -1;
    };

    // Step 3: the registers.
    int hostReady = 0;
    if (option != 1) {
        if (grbUpdtSh(dp, &hostReady) != 0) return undo();
    } else {
        quick(dp);
        w->count = dp->args ? dp->args->count : 1;
    }

    // Step 4.
    if (!locked) {
        if (ProtectOrlo(dp, 0) != 0) {
            FreeMadeTag(w);
            return -1;
        }
        locked = true;
    }

    // Step 5.
    uint32_t& gctl = R(w, GRABCTRL);
    if (option != 1) {
        if (!hostReady) {
            const uint32_t digNode = dp->digInfo ? (dp->digInfo[4] & 0xFF) : dp->node;
            SetToExt(digNode ? digNode : dp->node);
            uint32_t* slot = mpPrvExtSlot(DIG_MISCTL);
            if (slot) {
                slot[1] &= ~(kShadowWritten | kShadowListMode);
                slot[0] &= ~0x4000u;
                SetExtShInHw(slot);
            }
        }
    } else {
        gctl = Read(s, kOrloGrabControl) & ~kGctlStop;
        gctl = (gctl & ~(kGctlSingle | kGctlContinuous)) | (w->count == 1 ? kGctlSingle : kGctlContinuous);
    }

    // Step 6.
    if (!hostReady && grbLoadSh(dp, host ? 1 : 0, option) != 0) return undo();

    // Step 7: a stopped engine is released first.
    disableExtInt(dp->node);
    if (Read(s, kOrloGrabControl) & kGctlStop) {
        WriteNow(dp, kOrloGrabControl, (gctl & ~(kGctlContinuous | kGctlSingle)) | kGctlStop);
        WriteNow(dp, kOrloGrabControl, gctl & ~(kGctlContinuous | kGctlSingle | kGctlStop));
    }

    // Step 8.
    const uint32_t restart = (w->image[kVmRestartWord] >> 4) & 0xF;
    s->slot(0, kSlotChannelMask) = restart;
    s->slot(0, kSlotLineMode) = w->image[kLineKindWord];

    // Step 9: an idle engine takes the line interrupt and restarts the VM engine; a running
    // one keeps its own.
    bool vmArms = false;
    if (!(hostReady && option != 1)) {
        const bool idle = !(Read(s, kOrloGrabStatus) & (kGstatInFlight | kGstatArmed)) &&
                          !(Read(s, kOrloGrabControl) & kGctlContinuous) &&
                          !(Read(s, kOrloInterruptSet) & (kIntStartOfGrab | kIntEndOfGrab));
        if (idle) {
            if (w->image[kLineKindWord]) {
                WriteNow(dp, kGrabRegOffset[GLNINT], R(w, GLNINT));
                gctl = (gctl & ~0x300000u) | ((w->image[kLineKindWord] & 3) << 20);
            }
            // The restarted VM engine arms the grab: the grab control is not written.
            if (restart != 15) {
                mpPrvStartVm(s);
                vmArms = true;
            }
        } else {
            const uint32_t live = Read(s, kOrloGrabControl);
            gctl = (gctl & ~(0x300000u | (1u << 26))) | (live & (0x300000u | (1u << 26)));
        }
    }

    // Step 10: arm; a host grab's list arms the frame, so it starts now.
    if (!vmArms && !mpPrvHaltPending(dp)) {
        WriteNow(dp, kOrloGrabControl, gctl);
        if (w->listToStart) WriteNow(dp, kGrabRegOffset[GARPCTRL], R(w, GARPCTRL));
    }
    w->listToStart = 0;

    // Step 11: the slot the start and end events work on.
    s->slot(0, kSlotRemaining) = static_cast<uint32_t>(w->count);
    s->slot(0, kSlotRequested) = static_cast<uint32_t>(w->count);
    s->slot(0, kSlotSyncNext) = SlotWord(dp->sync);
    s->slot(0, kSlotThreadNext) = dp->thread ? SlotWord(mp_buf_pointer(dp->thread->id)) : 0;
    s->slot(0, kSlotSingleNext) = (gctl & 0x10) ? 1 : 0;
    s->slot(0, kSlotLineNext) = R(w, GLNINT) & 0xFFFF;
    // The grab-line server steps the line interrupt by this many lines: none without a
    // line interrupt or a rate.
    const uint32_t rate = w->image[kLinesPerMsWord];
    s->slot(0, kSlotLinesPerMs) =
        w->image[kLineKindWord] && static_cast<int32_t>(rate) != kGrbDefault ? rate : 0;
    s->slot(0, kSlotWindowEndNext) = w->image[kWindowEndWord];
    // Only a tag buffer the grab made is the grab's to free at its end.
    s->slot(0, kSlotTempBufferNext) = SlotWord(w->madeTag);
    w->madeTag = nullptr;
    s->slot(0, kSlotChannelBitsNext) = dp->grabMask;
    if (dp->sync && mp_buf_valid(dp->sync, kBufKindSync))
        mp_osb_update_state(static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(dp->sync, 0)), kSyncReady);
    enableExtInt(dp->node);
    ReleaseAccessOrlo();

    // Step 12: a halt that came while the grab was armed runs its events now.
    if (mpPrvHaltPending(dp)) {
        const int old = TaskSetPriority(kHaltEventPriority);
        mpPrvUpdateSoG_Std(s, 0);
        mpPrvUpdateEoG_Std(s, 0);
        TaskSetPriority(old);
    }
    return 0;
}

uint32_t* grbComputeImage(DIGPARAM* dp, int32_t option)
{
    if (!dp || !dp->destination) return nullptr;
    std::free(dp->work);
    dp->work = std::calloc(1, sizeof(EngineWork));
    EngineWork* w = Work(dp);
    if (!w) {
        Fail(dp, HLC_ERR_NO_RESOURCES);
        return nullptr;
    }
    grbInitSh(dp, 0, option);
    int hostReady = 0;
    if (option != 1) {
        if (grbUpdtSh(dp, &hostReady) != 0) return nullptr;
    } else {
        quick(dp);
    }
    return w->image;
}
