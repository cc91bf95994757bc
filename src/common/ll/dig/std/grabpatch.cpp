// Camera comparison before a grab and the grab line-length rule of the Orlo's transfer
// engine.
#include "grabpatch.h"

#include "bufchild.h"
#include "bufid.h"
#include "grab.h"
#include "hlc_errors.h"
#include "intserver.h"
#include "nodelist.h"
#include "reqres.h"
#include "serialchips.h"
#include "servinfo.h"

#include <initializer_list>

using namespace cam0;

namespace {

// ---- camera comparison ------------------------------------------------------------------

constexpr uint32_t kCompareSlots = 254;  // register slots 0-253

// Slots whose difference alone never asks for a reload: registers the grab or the load
// programs per channel or per destination, the trim DACs (compared per channel below), the
// clock synthesizer's control words and their word slots, the current channel, the LUT
// buffer, the camera UART and Sorvik II control words, and unnamed registers.
bool SkippedSlot(uint32_t slot, bool sorvik)
{
    const uint32_t offset = slot * 8;
    switch (offset) {
    case DIG_OUTCTL: case DIG_ANACTL: case DIG_MISCTL: case DIG_CPTCTL: case DIG_GPCTL:
    case ICD2061PWRDWN: case ICD2061CONTROL: case INFO_CHANNEL: case INFO_LUTBUFID:
        return true;
    default: break;
    }
    if (offset >= DAC8800LVL_ALPHAC && offset <= DAC8800REF_PLLFINE) return true;
    if (slot == 43 || slot == 47 || (slot >= 56 && slot <= 76) || (slot >= 152 && slot <= 155) || slot == 157 ||
        slot == 159)
        return true;
    return sorvik && offset >= ICS1522REG(0) && offset <= ICS1522REG(6);
}

struct ChannelCompare {
    uint32_t bit;
    uint32_t channel;  // index in the record's DAC working values
    uint32_t anactlMask;
    uint32_t coarse, fine, reference;
};
constexpr ChannelCompare kChannels[4] = {
    {kChanRed, 0, 0x20C, DAC8800LVL_REDC, DAC8800LVL_REDF, DAC8800REF_REDR},
    {kChanGreen, 1, 0x430, DAC8800LVL_GREENC, DAC8800LVL_GREENF, DAC8800REF_GREENR},
    {kChanBlue, 2, 0x8C0, DAC8800LVL_BLUEC, DAC8800LVL_BLUEF, DAC8800REF_BLUER},
    {kChanAlpha, 3, 0x103, DAC8800LVL_ALPHAC, DAC8800LVL_ALPHAF, DAC8800REF_ALPHAR},
};

constexpr uint32_t kMiscCalibrated = 0x2;        // INFO_MISC bit 1: DAC values computed by the load

constexpr uint32_t kSorvik2CompareBits = 0x1F88;  // control word bits 3, 7 and 8-12

// ---- line lengths -------------------------------------------------------------------------

struct Range {
    uint32_t low, high;  // (low, high]
};

// Keeps the last matching range of a row.
struct Match {
    uint32_t length;
    bool found = false;
    uint32_t safe = 0;
    void Check(uint32_t low, uint32_t high)
    {
        if (length > low && length <= high) {
            found = true;
            safe = high + 1;
        }
    }
};

uint32_t Down(uint32_t v, uint32_t step) { return v - v % step; }
uint32_t CeilQuarter(uint32_t v) { return (v + 3) / 4; }

// Safe-length search of one row; false when the length is safe.
bool Unsafe(uint32_t mode, uint32_t L, uint32_t sizeCode, uint32_t* safe)
{
    Match m{L};
    const uint32_t b64 = Down(L, 64), b128 = Down(L, 128), b256 = Down(L, 256), b512 = Down(L, 512);
    switch (sizeCode * 16 + mode) {
    case 0x13:
        *safe = 1;
        return true;
    case 0x14: m.Check(b128, b128 + 120); break;
    case 0x15:
        if (L >= 128) {
            m.Check(b128, b128 + 56);
            const uint32_t B = 512 * CeilQuarter(L / 128);
            m.Check(B, B + 80);
        }
        break;
    case 0x16:
        if (L >= 256) {
            if ((L / 256) & 1) m.Check(b256, b256 + 8);
            else m.Check(b256, b256 + 127);
        }
        break;
    case 0x17:
        if (L >= 512) m.Check(b512, b512 + 127);
        break;
    case 0x23:
    case 0x43:
        if (L % 64 == 0) return false;
        *safe = b64 + 64;
        return true;
    case 0x24:
        if (L >= 64) {
            m.Check(b64, b64 + 37);
            const uint32_t B = 256 * CeilQuarter(L / 64);
            m.Check(B, B + 48);
            const uint32_t C = 64 * (8 * (L / 512) + 1);
            m.Check(C, C + 56);
            const uint32_t D = 512 * ((L / 64 + 14) / 15) + 160;
            m.Check(D, D + 8);
        }
        break;
    case 0x25:
        m.Check(b256 + 128, b256 + 200);
        if (L >= 256) {
            m.Check(b256, b256 + 48);
            m.Check(b256 + 56, b256 + 80);
        }
        break;
    case 0x26:
        if (L >= 256) m.Check(b256 + 7, b256 + 111);
        break;
    case 0x33: {
        static const Range kRanges[] = {{0, 24}, {32, 42}, {44, 76}, {96, 120}, {128, 164}, {192, 216}, {224, 246}};
        for (const Range& r : kRanges) m.Check(b256 + r.low, b256 + r.high);
        break;
    }
    case 0x34:
        m.Check(b256 + 68, b256 + 105);
        if (L >= 128) m.Check(b128, b128 + 48);
        break;
    case 0x35: m.Check(b128, b128 + 80); break;
    case 0x44:
        m.Check(b256 + 96, b256 + 104);
        if (L >= 128) m.Check(b128, b128 + 48);
        break;
    case 0x45: m.Check(b128, b128 + 82); break;
    default: break;
    }
    if (m.found) *safe = m.safe;
    return m.found;
}

uint32_t Low16(const uint32_t* word) { return *word & 0xFFFF; }
void SetLow16(uint32_t* word, uint32_t value) { *word = (*word & 0xFFFF0000u) | (value & 0xFFFF); }
uint32_t Divisor(uint32_t v) { return v ? v : 1; }

int Fail(MP_RESOURCE_ST* resource, int32_t code, const char* text = nullptr)
{
    if (resource) _mp_res_log_error(resource, code, text);
    return -1;
}

constexpr char kTagsInUse[] = "Temporary restriction: tags requested while tags are already being used";
constexpr uint32_t kTagType = 0x40000001u;  // one bit per pixel

// Board memory holds the mask of a board-memory destination, and of a host DMA destination
// on a node whose first grab path serves host grabs; every other mask goes to display heap 0.
bool MaskInBoardMemory(const GrabPatchJob& job)
{
    if (job.tagInBoardMemory) return true;
    const _MP_BUF_ST* d = job.destination;
    if (!d || (d->location & 0x7FFFFFFFu) != kLocHostDma) return false;
    const _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(job.node);
    return record && record->nodeState && record->nodeState->hostGrabFirstPath != 0;
}

// A one-line, one-band mask tag buffer of `bytes` bits: 0 for the first `valid`, 1 beyond.
_MP_BUF_ST* MakeMaskTag(const GrabPatchJob& job, uint32_t bytes, uint32_t valid)
{
    _MP_BUF_ST* tag = mp_buf_alloc_on_node(job.node, static_cast<int32_t>(bytes), 1, 1, kTagType,
                                           MaskInBoardMemory(job) ? kLocSdram : kLocDisplay0);
    if (!tag) return nullptr;
    for (uint32_t x = 0; x < bytes; ++x) mp_buf_put_pix(tag, 0, static_cast<int32_t>(x), 0, x < valid ? 0 : 1);
    return tag;
}

// Clears the destination columns a narrowed window no longer writes.
void ClearLostColumns(const GrabPatchJob& job, const WININFO_ST* w, uint32_t oldWidth, uint32_t newWidth)
{
    _MP_BUF_ST* d = job.destination;
    if (!d || d->sizeX <= 0 || d->sizeY <= 0) return;
    const uint32_t hdiv = Divisor(w->decimationX), vdiv = Divisor(w->decimationY);
    const uint32_t hm = Divisor(w->replicationX), vm = Divisor(w->replicationY);
    const uint32_t from = ((newWidth - 1) / hdiv + 1) * hm;
    uint32_t to = ((oldWidth - 1) / hdiv + 1) * hm;
    const uint32_t height = w->lastLine >= w->firstLine ? w->lastLine - w->firstLine + 1 : 0;
    uint32_t lines = ((height + vdiv - 1) / vdiv) * vm;
    if (to > static_cast<uint32_t>(d->sizeX)) to = static_cast<uint32_t>(d->sizeX);
    if (lines > static_cast<uint32_t>(d->sizeY)) lines = static_cast<uint32_t>(d->sizeY);
    for (uint32_t b = 0; b < d->bands; ++b)
        for (uint32_t y = 0; y < lines; ++y)
            for (uint32_t x = from; x < to; ++x)
                mp_buf_put_pix(d, b, static_cast<int32_t>(x), static_cast<int32_t>(y), 0);
}

} // namespace

// ---- camera comparison ------------------------------------------------------------------------

int mpPrvCamCompare(_MP_CAM_ST_0* camera, bool otherLoadedLast, bool hostDestination, uint32_t channelMask)
{
    if (!camera) return 1;
    uint32_t* compared = reinterpret_cast<uint32_t*>(camera->bytes + kCamComparedOnce);
    if (*compared == 0) {
        *compared = 1;
        if (otherLoadedLast) return 1;
    }
    const uint8_t* shadow = mpPrvExtShadow();
    if (!shadow) return 1;
    const bool sorvik = CamSlotAt(camera, SORVIK2_FLAG)->value != 0;
    auto live = [shadow](uint32_t offset) { return CamSlotAt(shadow, offset)->value; };
    auto mine = [camera](uint32_t offset) { return CamSlotAt(camera, offset)->value; };
    for (uint32_t slot = 0; slot < kCompareSlots; ++slot) {
        if (SkippedSlot(slot, sorvik)) continue;
        if (mine(slot * 8) != live(slot * 8)) return 1;
    }
    if ((mpPrvReadExtReg(DIG_GPCTL) ^ live(DIG_GPCTL)) & 0x20) return 1;
    if (sorvik && ((mine(SORVIK2_CONTROL) ^ live(SORVIK2_CONTROL)) & kSorvik2CompareBits)) return 1;
    if (!hostDestination) {
        if ((mine(DIG_OUTCTL) ^ live(DIG_OUTCTL)) & 0xFFFF) return 1;
        if ((mine(DIG_CPTCTL) ^ live(DIG_CPTCTL)) & 0xFFFF) return 1;
    }
    // In the calibrated mode the load sends the DAC values it computed from the levels
    // (kept in the record's working values), not the camera-file words; a level change
    // shows in the level slots compared above.
    const bool computed = (mine(INFO_MISC) & kMiscCalibrated) != 0 && mine(LOADED_ONCE) != 0;
    for (const ChannelCompare& c : kChannels) {
        if (!(channelMask & c.bit)) continue;
        if ((mine(DIG_ANACTL) ^ live(DIG_ANACTL)) & c.anactlMask) return 1;
        const uint32_t dac[3] = {c.reference, c.coarse, c.fine};
        for (uint32_t which = 0; which < 3; ++which) {
            const uint32_t sent = computed ? camera->bytes[REF_DAC_BYTES + RefDacIndex(c.channel, which)]
                                           : mine(dac[which]) & 0xFF;
            if ((live(dac[which]) & 0xFF) != sent) return 1;
        }
    }
    return 0;
}

int grbCamCompare(DIGPARAM* param, uint32_t channelMask)
{
    if (!param || !param->cam) return 1;
    const bool other = !param->digInfo || param->digInfo[kDigWordLastLoaded] != param->digId;
    const bool host = param->destination && param->destination->location == kLocHostDma;
    return mpPrvCamCompare(param->cam, other, host, channelMask);
}

// ---- line lengths -------------------------------------------------------------------------------

int mpPrvValid(uint32_t mode, uint32_t length, uint32_t sizeCode, uint32_t* safe, int32_t rounding)
{
    uint32_t s = length;
    if (!Unsafe(mode, length, sizeCode, &s)) {
        if (safe) *safe = length;
        return 0;
    }
    if (safe) {
        if (rounding == 2) {
            const int64_t down = s % 128 == 0 ? static_cast<int64_t>(s) - 128 : static_cast<int64_t>(Down(s, 128));
            *safe = down < 0 ? 0 : static_cast<uint32_t>(down);
        } else {
            *safe = s;
        }
    }
    return -1;
}

int mpPrvGrabPatchJob(const GrabPatchJob& job, WININFO_ST* window, uint32_t mode, uint32_t sourceWidth,
                      int32_t clipped, int32_t noPatch, _MP_BUF_ST* tag)
{
    const GrabPatchRegs& r = job.regs;
    if (!window || !r.ghwstart || !r.ghwstop || !r.gpixfmt || !r.gblength || !r.gtagctl || !r.gc1toff ||
        !r.gc2toff || !r.gc3toff || !r.gtlpitch)
        return Fail(job.resource, HLC_ERR_INVALID_PARAMETER);
    const uint32_t width = (Low16(r.ghwstop) - Low16(r.ghwstart) + 1) & 0xFFFF;
    const uint32_t sizeCode = ((*r.gpixfmt >> 8) & 3) + 1;
    const uint32_t lowest = sizeCode == 1 ? 3 : 2;
    if (job.tagRecord) *job.tagRecord = tag;
    _MP_BUF_ST* made = nullptr;
    uint32_t chosen = mode;

    if (!noPatch && mpPrvValid(mode, width, sizeCode, nullptr, 0) != 0) {
        bool settled = false;
        if (clipped && window->decimationX != 1) {
            // One more column keeps a clipped, decimated line off the unsafe length.
            SetLow16(r.ghwstop, Low16(r.ghwstop) + 1);
            settled = true;
        }
        for (uint32_t m = mode; !settled && m > lowest;) {
            --m;
            if (mpPrvValid(m, width, sizeCode, nullptr, 0) == 0) {
                chosen = m;
                settled = true;
            }
        }
        if (!settled) {
            if (mode <= lowest + 1) return Fail(job.resource, HLC_ERR_RESTRICTED);
            chosen = mode - 1;
            uint32_t safe = width;
            mpPrvValid(chosen, width, sizeCode, &safe, 0);
            if (window->firstColumn + safe <= sourceWidth) {
                if (tag) return Fail(job.resource, HLC_ERR_RESTRICTED, kTagsInUse);
                // One mask bit per destination byte: the pixel format's low bits name the
                // destination's bytes per pixel (less one).
                const uint32_t hdiv = Divisor(window->decimationX), hm = Divisor(window->replicationX);
                const uint32_t pixelBytes = (*r.gpixfmt & 7) + 1;
                const uint32_t bytes = ((safe - 1) / hdiv + 1) * hm * pixelBytes;
                const uint32_t valid = ((width - 1) / hdiv + 1) * hm * pixelBytes;
                made = MakeMaskTag(job, bytes, valid);
                if (!made) return Fail(job.resource, HLC_ERR_INVALID_PARAMETER);
                SetLow16(r.ghwstop, Low16(r.ghwstop) + (safe - width));
                tag = made;
            } else {
                uint32_t narrow = 0;
                mpPrvValid(chosen, width, sizeCode, &narrow, 2);
                if (narrow == 0) return Fail(job.resource, HLC_ERR_RESTRICTED);
                SetLow16(r.ghwstop, Low16(r.ghwstart) + narrow - 1);
                ClearLostColumns(job, window, width, narrow);
            }
        }
    }

    *r.gblength = (*r.gblength & ~7u) | (chosen & 7);
    if (tag) {
        const uint32_t bands = job.destination ? job.destination->bands : 1;
        const bool multiBand = tag->bands >= 2;
        // The window record of a grab (15 words) carries no band factors: their product,
        // which the grab engine hands in, is 1 and a multi-band tag has the destination's bands.
        int result = 0;
        if ((multiBand && tag->bands != bands * (job.bandFactor ? job.bandFactor : 1)) ||
            window->replicationX > 1 || window->replicationY > 1)
            result = Fail(job.resource, HLC_ERR_RESTRICTED);
        else
            result = mpPrvTagAddr(job.resource, job.destination, tag, window, 0);
        if (result != 0) {
            if (made) mp_buf_free(made);
            if (job.tagRecord) *job.tagRecord = nullptr;
            return -1;
        }
        *r.gtagctl = (*r.gtagctl & 0xE0000000u) | 0x4000000u | (window->address[0] & 0x3FFFFFFu) |
                     (multiBand ? 0x10000000u : 0);
        *r.gc1toff = window->address[1];
        *r.gc2toff = window->address[2];
        *r.gc3toff = window->address[3];
        *r.gtlpitch = static_cast<uint32_t>(window->pitch);
        if (job.tagRecord) *job.tagRecord = tag;
    }
    if (job.madeTag) *job.madeTag = made;
    return 0;
}
