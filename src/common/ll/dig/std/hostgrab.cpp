// Grabs into host DMA memory through the on-board temporary buffers.
//
// ---- How the board runs a host grab ---------------------------------------------------------
//
// Both register lists are arrays of 8-byte entries {32-bit value, 32-bit Orlo register
// offset} in host DMA memory, reached by the board through their bus addresses.  Every
// list ends with {list-set selector, 255}.
//
// Temporary buffers.  The grab path's eight words are two halves of four one-line board
// buffers: words 0-3 are taps 0-3 of half 0, words 4-7 taps 0-3 of half 1.  Block k
// (counted through both fields) is grabbed into half k % 2: tap 0 at the frame start
// (0x2848), taps 1-3 at the channel offsets 0x2810, 0x2820, 0x2830 (buffer address minus
// the frame start, low 26 bits, taken modulo 2^26), line after line with the line pitch
// 0x2850 = the line bytes.  Each tap is one sample of the pixel format (the module
// digitizes the taps on channels of their own), in a plane of its own; the planes of an
// RGB grab into three bands are its three taps.  The window registers count the engine's
// lines, and each of them brings every tap: with line taps (0x1112, 0x1114) tap t of
// window line j is camera line (j x taps + t), with part taps (0x1121, 0x1141) line j of
// the t-th part of the image.  A block's window is therefore L lines, and each tap plane
// takes L lines of it; the camera lines of the grab are the window lines times the taps.
// The grab engine's vertical reduction and zoom are off (0x1838 bits 0-5 clear): every
// window line is grabbed; the VM copy takes every g-th line and repeats lines for the
// zoom.
//
// Grab list engine (0x2008 address, 0x2010 control).  A write of 0x2010 with bits 0-1 = 3
// takes the list address from 0x2008 and plays entries at once; 0x2010 reads 3 while the
// list runs or waits and 0 when it is idle; a write of 0 stops it.  Entries:
//   {v, 0x2010} with v & 3 = 3   wait: the list goes on once the grab engine has written the
//                                last line (0x1850) of the window of the frame in flight;
//                                the frame then goes on with the next line, which the new
//                                window registers place: line y at 0x2848 + (y - 0x1848) x
//                                0x2850.  A new window that begins at or before the line
//                                that ended the wait belongs to the next field.
//   {v, 0x2010} with v & 3 = 0   stop.
//   {a, 0x2008}                  go on at bus address a (the chaining entry).
//   {s, 255}                     end: the list engine is idle.
//   any other {v, r}             writes Orlo register r as the host would (0x1830 arms the
//                                grab, 0x2060/0x2068 start the VM list, 0x2030 bit 13
//                                raises the end of grab).
// While the grab list runs, the grab engine raises the start of grab at the frame's first
// line as usual but no end of grab of its own: the list raises it.
//
// One grab list set (frame mode; a two-field grab repeats the block part for the second
// field with its own windows):
//   {vtotal, 0x1840}
//   block 0: {first line, 0x1848} {last line, 0x1850} {frame start, 0x2848}
//            [taps > 1: {offset, 0x2810} ... one per further tap]
//            {0x3000, 0x2028}                  clear start and end of grab
//            {grab control with bit 2 (arm one frame), bits 0-1 clear, 0x1830}
//            {3, 0x2010}                       wait for the block
//   block k: its window and frame start as block 0, {0x3000, 0x2028},
//            {VM segment of block k - 1, 0x2060} {3, 0x2068}   copy the previous block
//            {3, 0x2010}
//   (a dual grab keeps the window start and frame start: only {last line, 0x1850} moves)
//   end:     {VM segment of the last block, 0x2060} {3, 0x2068}
//            [two extra blocks after the window: grabbed into one half, not copied]
//            {first line, 0x1848} {last line, 0x1850}  block 0's window again, as the
//                                              shadows hold it for the next grab
//            {0x2000, 0x2030}                  end of grab (source 45)
//            {next entry's own address, 0x2008} the chaining entry: a queued grab puts its
//                                              grab list's bus address here; a continuous
//                                              grab points it at its own list's start
//            {selector, 255}
//
// VM list engine (0x2060 address, 0x2068 control; the transfer model of the bus-master
// transfers).  A write of 0x2068 with bits 0-1 = 3 takes the address from 0x2060 and plays
// at once when no transfer runs (else at the end of the running one).  Each block has its
// own segment; for each tap (and each zoom copy):
//   [remainder block first: {units - 1, 0x3810} {source pitch, 0x28D8} {dest pitch, 0x2890}
//    {lines - 1, 0x3838}]   [zoom: {lines - 1, 0x3838}]
//   [RGB packing: {plane 1 offset, 0x28B0} {plane 2 offset, 0x28B8}]
//   {temporary-buffer address (board, low 26 bits), 0x28D0}
//   {destination address (host physical, low 27 bits), 0x2888}
//   {VM timing control: kind 4 (board to bus), bit 2 start, 0x3820}
//   {3, 0x2068}             wait for the copy's end
//   {0, 0x2028}             interrupt clear (kept for its place; clears nothing)
// and the segment ends with {0, 0x2068}; the set's last entry is {selector, 255}.  The copy
// geometry that stays for the whole grab is in the image's VM slots (kHostVmRegOffset):
// first line 0x3830 = 0, last line 0x3838 = L / g - 1, line length 0x3810 in units of
// 0x3818 + 1 bytes, source pitch 0x28D8 = line bytes x g, destination pitch 0x2890 =
// pitch x (2 in field mode) x zoom x (2 for tap code 0x1112, 4 for 0x1114), host address
// bits 27-31 in 0x2898 bits 1-5.
// ---------------------------------------------------------------------------------------------
#include "hostgrab.h"

#include "bufchild.h"
#include "bufid.h"
#include "camrec.h"
#include "grab.h"
#include "grabengine.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserver.h"
#include "intserverio.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "servinfo.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <unistd.h>

using namespace cam0;
using grbimg::GrabReg;

_NODE_GRAB_GLOBALS* NodeHstGrabGlobals = nullptr;

const uint32_t kHostVmRegOffset[kHostVmSlots] = {
    kOrloVmListPointer,  // 0  word 52
    kOrloVmListControl,  // 1  word 54
    kOrloVmHostStart,    // 2  word 56
    kOrloVmBurst,        // 3  word 58
    kOrloVmHostPitch,    // 4  word 60
    kOrloVmHostPage,     // 5  word 62
    kOrloVmBand1,        // 6  word 64
    kOrloVmWriteMask,    // 7  word 66
    kOrloVmBand2,        // 8  word 68
    kOrloVmBoardStart,   // 9  word 70
    kOrloVmBoardPitch,   // 10 word 72
    kOrloVmHStart,       // 11 word 74
    kOrloVmChannelControl, // 12 word 76 (bits 4-7 the VM restart mode)
    kOrloVmHStop,        // 13 word 78
    kOrloVmFormat,       // 14 word 80
    kOrloVmVStart,       // 15 word 82
    kOrloVmHFactor,      // 16 word 84
    kOrloVtControl,      // 17 word 86
    kOrloVmLastLine,     // 18 word 88
    kOrloVmVFactor,      // 19 word 90
    0, 0, 0, 0, 0,
};

uint32_t HostVmSlot(uint32_t offset)
{
    for (uint32_t s = 0; s < kHostVmSlots; ++s)
        if (kHostVmRegOffset[s] == offset && offset) return s;
    return kHostVmSlots;
}

namespace {

constexpr uint32_t kAddress26 = 0x3FFFFFF;
constexpr uint32_t kAddress27 = 0x7FFFFFF;
constexpr uint32_t kIntGrabBits = 0x3000;       // interrupt bits 12-13: start and end of grab
constexpr uint32_t kIntEndOfGrabBit = 0x2000;
constexpr uint32_t kListArmed = 3;
constexpr uint32_t kVtStartCopy = 0x4;          // VM timing control bit 2: start
constexpr uint32_t kVtReset = 0x1;
constexpr int kCommunicationEntry = 3;
constexpr uint32_t kRestartWords = 14;          // seven {value, register} entries

// What lays the lines out, as the registers hold it for a whole grab: lists chained behind
// another grab run with that grab's registers, so they load these themselves before their
// first block (the grab list) and before their first copy (the VM list).  The VM registers
// in the order the grab request writes them; the addresses are set copy by copy anyway.
const GrabReg kLineLayout[] = {grbimg::GHSCLNG, grbimg::GHWSTART, grbimg::GHWSTOP,
                               grbimg::GPIXFMT, grbimg::GBLENGTH, grbimg::GLPITCH};
const uint32_t kCopyLayout[] = {kOrloVmBurst,     kOrloVmHostPitch, kOrloVmBand1,  kOrloVmWriteMask,
                                kOrloVmBand2,     kOrloVmBoardPitch, kOrloVmHStart, kOrloVmHStop,
                                kOrloVmFormat,    kOrloVmVStart,     kOrloVmHFactor, kOrloVmLastLine,
                                kOrloVmVFactor};

// Never destroyed: a node's threads may still take it while the process ends.
std::mutex& RecordsLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

uint32_t ThisThread()
{
    return static_cast<uint32_t>(gettid());
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t AtLeast1(uint32_t v)
{
    return v ? v : 1;
}

uint32_t Info(const _MP_CAM_ST_0* cam, uint32_t offset)
{
    return cam ? CamSlotAt(cam, offset)->value : 0;
}

int Fail(MP_RESOURCE_ST* res, int32_t code, const char* text = nullptr)
{
    if (res) _mp_res_log_error(res, code, text);
    return -1;
}

uint32_t BandAddress(const _MP_BUF_ST* b, uint32_t band)
{
    if (!b || !b->bandTable || band >= b->bands) return 0;
    const _MP_BAND_ST& d = b->bandTable[band];
    return d.physical ? d.physical : d.mapped;
}

uint32_t& VmSlot(uint32_t* image, uint32_t offset)
{
    static uint32_t scratch;
    const uint32_t s = HostVmSlot(offset);
    if (s >= kHostVmSlots) return scratch;
    return image[grbimg::kVmFirstWord + 2 * s];
}

uint32_t VmValue(const uint32_t* image, uint32_t offset)
{
    const uint32_t s = HostVmSlot(offset);
    return s < kHostVmSlots ? image[grbimg::kVmFirstWord + 2 * s] : 0;
}

void FreeListMemory(_NODE_GRAB_GLOBALS* rec, bool giveBack)
{
    for (_MP_BAND_ST* band : {&rec->grabMemory, &rec->vmMemory}) {
        if (giveBack && band->mapped && band->id > 0 && mp_core_node_record(rec->node))
            SysDmaBufferFree((rec->node & 0xFF) << 16, band);
        *band = _MP_BAND_ST{-1, 0, 0, 0};
    }
    rec->grabCapacity = rec->vmCapacity = 0;
    for (int s = 0; s < 2; ++s) {
        rec->grabList[s] = rec->vmList[s] = rec->grabBus[s] = rec->vmBus[s] = rec->chainBus[s] = 0;
        rec->chainWord[s] = nullptr;
    }
}

void Unlink(_NODE_GRAB_GLOBALS* rec)
{
    if (rec->prev) rec->prev->next = rec->next;
    else NodeHstGrabGlobals = rec->next;
    if (rec->next) rec->next->prev = rec->prev;
}

void Destroy(_NODE_GRAB_GLOBALS* rec, bool giveBack)
{
    FreeListMemory(rec, giveBack);
    std::free(rec->work);
    delete rec;
}

// Frees the thread's record when the thread ends.
struct ThreadRecordGuard {
    bool armed = false;
    ~ThreadRecordGuard()
    {
        if (armed) FreeNodeGrabGlobals();
    }
};
thread_local ThreadRecordGuard tRecordGuard;

// The records of threads that still run when the process ends stay: those threads may be
// using them while the program's static objects go.

}  // namespace

// ---- per-thread records ------------------------------------------------------------------------

_NODE_GRAB_GLOBALS* GetNodeGrabGlobals()
{
    const uint32_t self = ThisThread();
    std::lock_guard<std::mutex> hold(RecordsLock());
    for (_NODE_GRAB_GLOBALS* r = NodeHstGrabGlobals; r; r = r->next)
        if (r->threadId == self) return r;
    return nullptr;
}

void SetNodeGrabGlobals()
{
    if (GetNodeGrabGlobals()) return;
    auto* rec = new (std::nothrow) _NODE_GRAB_GLOBALS{};
    if (!rec) return;
    rec->threadId = ThisThread();
    rec->grabMemory = rec->vmMemory = _MP_BAND_ST{-1, 0, 0, 0};
    {
        std::lock_guard<std::mutex> hold(RecordsLock());
        _NODE_GRAB_GLOBALS** at = &NodeHstGrabGlobals;
        _NODE_GRAB_GLOBALS* last = nullptr;
        while (*at) {
            last = *at;
            at = &(*at)->next;
        }
        rec->prev = last;
        *at = rec;
    }
    tRecordGuard.armed = true;
}

void FreeNodeGrabGlobals()
{
    const uint32_t self = ThisThread();
    _NODE_GRAB_GLOBALS* rec = nullptr;
    {
        std::lock_guard<std::mutex> hold(RecordsLock());
        for (_NODE_GRAB_GLOBALS* r = NodeHstGrabGlobals; r; r = r->next)
            if (r->threadId == self) {
                rec = r;
                break;
            }
        if (rec) Unlink(rec);
    }
    if (rec) Destroy(rec, true);
}

void FreeAllNodeGrabGlobals()
{
    std::lock_guard<std::mutex> hold(RecordsLock());
    while (NodeHstGrabGlobals) {
        _NODE_GRAB_GLOBALS* rec = NodeHstGrabGlobals;
        Unlink(rec);
        // The node may be gone: the list memory goes with the process.
        Destroy(rec, false);
    }
}

// ---- taps ----------------------------------------------------------------------------------------

uint32_t SetupTap(const _MP_CAM_ST_0* cam)
{
    return (AtLeast1(Info(cam, INFO_XTAPSPERCH)) & 0xF) << 12 | (AtLeast1(Info(cam, INFO_XTAPSPERCHADJ)) & 0xF) << 8 |
           (AtLeast1(Info(cam, INFO_YTAPSPERCH)) & 0xF) << 4 | (AtLeast1(Info(cam, INFO_YTAPSPERCHADJ)) & 0xF);
}

int SetTap(uint32_t tapCode, uint32_t channels, uint32_t bands, uint32_t factor, uint32_t rgbCode, uint32_t* count,
           uint32_t* step)
{
    uint32_t n = 0, s = 0;
    const uint32_t chans = mpPrvChannelCount(channels & 0xF0000);
    switch (tapCode) {
    case 0x1111:
    case 0x1211:
    case 0x2111:
        if (rgbCode) {
            // Packed pixels arrive as one plane; three bands as three planes.
            n = (rgbCode & 0x4) ? 3 : 1;
        } else {
            n = chans < bands ? chans : bands;
            if (n == 0) n = 1;
            if (n == 3 || n > 4) return -1;
        }
        s = 0;
        break;
    case 0x1112:
    case 0x1121:
        if (chans == 1)
            n = 2;
        else if (chans == 2)
            n = 4;
        else
            return -1;
        s = 1;
        break;
    case 0x1114:
    case 0x1141:
        n = 4;
        s = 2;
        break;
    case 0x1221:
    case 0x2121:
        n = 2;
        s = 1;
        break;
    case 0x1411:
    case 0x2211:
    case 0x4111:
        n = 1;
        s = 0;
        break;
    default:
        return -1;
    }
    if (factor != 1) s *= factor;
    if (count) *count = n;
    if (step) *step = s;
    return 0;
}

int HostReduction(uint32_t* tapCode, uint32_t* vReduction, uint32_t vZoom, uint32_t* lines)
{
    uint32_t g = AtLeast1(*vReduction);
    // Line taps bring two or four camera lines with each engine line: the reduction is
    // halved or quartered (rounding down) and the grab goes on with one tap per line.
    if (g > 1 && *tapCode == kTapCodeTwoLines) {
        g /= 2;
        if (lines) *lines /= 2;
        *tapCode = 0x1111;
    } else if (g > 1 && *tapCode == kTapCodeFourLines) {
        // Reductions that four lines at a time cannot take.
        if (g == 2 || g == 6 || g == 10 || g == 12 || g == 14) return -1;
        // Mend: 3 quartered leaves no reduction at all (0), refused rather than grabbed as 0.
        if (g < 4) return -1;
        g /= 4;
        if (lines) *lines /= 4;
        *tapCode = 0x1111;
    }
    // What remains must be 1 or even.
    if (g > 1 && (g % 2)) return -1;
    if (vZoom == 3 || vZoom == 0 || vZoom > 4) return -1;
    *vReduction = g;
    return 0;
}

// ---- RGB packing -----------------------------------------------------------------------------

namespace {

uint32_t RgbBits(const _MP_BUF_ST* b)
{
    if (!b) return 0;
    if (b->type == 0x40000018u) return 1;
    if (b->bits == 32) return 2;
    if (b->bands == 3 && b->bits == 8) return 4;
    return 0;
}

}  // namespace

uint32_t grbCheckRGB(const _MP_BUF_ST* destination, const _MP_BUF_ST** second, const _MP_CAM_ST_0* cam)
{
    if (!destination || !cam) return 0;
    const bool colour = (Info(cam, INFO_CHANNEL) & 0xF0000) == 0x70000 ||
                        (destination->bands == 3 && Info(cam, INFO_TIMEMULTICH) == 3);
    if (!colour) return 0;
    const uint32_t first = RgbBits(destination);
    const _MP_BUF_ST* other = second ? *second : nullptr;
    uint32_t code = first | (other ? RgbBits(other) << 3 : first << 3);
    switch (code) {
    case 1: case 2: case 4: case 10: case 12: case 17: case 20:
        // The second buffer does not complete the first: grab without it.
        if (second) *second = nullptr;
        code = first | (first << 3);
        break;
    default:
        break;
    }
    return code;
}

int SetVpixfmt(uint32_t* image, uint32_t rgbCode, uint32_t copyFlags)
{
    uint32_t& w58 = image[58];
    uint32_t& w84 = image[84];
    switch (rgbCode) {
    case 0:
    case 9:
    case 18:
    case 36:
        if (copyFlags & kHostCopyExact) {
            w58 = (w58 & ~0x2u) | 0x5u;
            w84 = (w84 & ~0x4Cu) | 0x33u;
        } else {
            w58 |= 0x7u;
            w84 &= ~0x7Fu;
        }
        return 0;
    case 33:
        w84 = (w84 & ~0x5Fu) | 0x20u;
        break;
    case 34:
        w84 = (w84 & ~0x57u) | 0x28u;
        break;
    default:
        return -1;
    }
    w58 = (w58 & ~0x2u) | 0x5u;
    grbimg::Reg(image, grbimg::GPIXFMT) &= ~0x7u;
    return 0;
}

bool CheckSecondBuffer(const _MP_BUF_ST* second, uint32_t node, bool firstPathServesHost)
{
    if (!second || !mp_buf_valid(second, kBufKindImage)) return false;
    if ((second->node & 0xFF) != (node & 0xFF)) return false;
    if (second->location == kLocHostDma || second->location == kLocPaged) return false;
    if (second->location == kLocSdram && !firstPathServesHost) return false;
    return true;
}

// ---- addresses -----------------------------------------------------------------------------------

void InitVfstart(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* destination,
                 uint32_t field)
{
    const uint32_t s = BandAddress(destination, 0);
    const uint32_t pitch = destination ? destination->pitch : 0;
    const uint32_t f = field ? pitch : 0;
    const uint32_t half = (r->destLines / 2) * pitch;
    const uint32_t quarter = (r->destLines / 4) * pitch;
    uint32_t* t = r->tapAddress;
    const uint32_t taps = p->tapCount;
    t[0] = t[1] = t[2] = t[3] = 0;
    switch (p->tapCode) {
    case 0x1112:
        t[0] = s + 2 * f;
        t[1] = t[0] + pitch;
        if (taps == 4) {
            t[2] = BandAddress(destination, 1) + 2 * f;
            t[3] = t[2] + pitch;
        }
        break;
    case 0x1114:
        t[0] = s + 4 * f;
        t[1] = t[0] + pitch;
        t[2] = t[1] + pitch;
        t[3] = t[2] + pitch;
        break;
    case 0x1121:
        t[0] = s + f;
        t[1] = t[0] + half;
        if (taps == 4) {
            t[2] = BandAddress(destination, 1) + f;
            t[3] = t[2] + half;
        }
        break;
    case 0x1141:
        t[0] = s + f;
        t[1] = t[0] + quarter;
        t[2] = t[1] + quarter;
        t[3] = t[2] + quarter;
        break;
    case 0x1221:
    case 0x2121:
        t[0] = s + f;
        t[1] = t[0] + half;
        break;
    default:
        t[0] = s + f;
        if (taps >= 2) t[1] = BandAddress(destination, 1) + f;
        if (taps >= 3) t[2] = BandAddress(destination, 2) + f;
        if (taps >= 4) t[3] = BandAddress(destination, 3) + f;
        break;
    }
}

void SetSecondDualVfstart(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second,
                          uint32_t field)
{
    const uint32_t f = field && second ? second->pitch : 0;
    for (uint32_t t = 0; t < 4; ++t)
        r->secondTapAddress[t] = t < p->tapCount || t < 3 ? BandAddress(second, t) + (BandAddress(second, t) ? f : 0) : 0;
}

uint32_t SetHfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t tap, uint32_t block)
{
    return r->tapAddress[tap & 3] + block * p->destStep;
}

uint32_t SetSecondHfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t tap,
                          uint32_t block)
{
    return r->fieldTapAddress[tap & 3] + block * p->destStep;
}

int CalculateTempGrabAddr(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const uint32_t* temporary)
{
    r->sourceStep = 0;
    for (uint32_t h = 0; h < 2; ++h)
        for (uint32_t t = 0; t < 4; ++t) {
            const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(temporary[h * 4 + t]));
            r->tempAddress[h][t] = b && mp_buf_valid(b, kBufKindImage) ? BandAddress(b, 0) : 0;
            if (t < AtLeast1(p->tapCount) && r->tempAddress[h][t] == 0) return -1;
        }
    return 0;
}

int CalculateDualGrabAddr(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second)
{
    if (!second) return -1;
    for (uint32_t t = 0; t < 4; ++t) {
        const uint32_t a = t < second->bands ? BandAddress(second, t) : 0;
        r->tempAddress[0][t] = r->tempAddress[1][t] = a;
        if (t < AtLeast1(p->tapCount) && a == 0) return -1;
    }
    r->sourceStep = second->pitch * p->linesPerBlock * (p->fieldMode ? 2 : 1);
    return 0;
}

uint32_t ComputeGfstart(const _HOST_TEMP_REGISTER_ST* r, uint32_t block)
{
    return r->sourceStep ? r->tempAddress[0][0] : r->tempAddress[block % 2][0];
}

uint32_t SetSecondFieldGfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t block)
{
    const uint32_t perField = p->blocks + (p->remainder ? 1 : 0);
    return r->sourceStep ? r->tempAddress[0][0] + (p->fieldMode && r->secondPitch ? r->secondPitch : 0)
                         : ComputeGfstart(r, block + perField);
}

uint32_t SetCopyFrameAddr(const _HOST_TEMP_REGISTER_ST* r, uint32_t tap, uint32_t block)
{
    if (r->sourceStep) return r->tempAddress[0][tap & 3] + block * r->sourceStep;
    return r->tempAddress[block % 2][tap & 3];
}

// ---- list sizes and lists --------------------------------------------------------------------------

void HostListSizes(const _HOST_TEMP_PARAMETER_ST* p, uint32_t* grabEntries, uint32_t* vmEntries)
{
    const uint32_t n = p->blocks;
    // "Every block but two": no block at all for a grab of fewer than three.
    const uint32_t butTwo = n > 2 ? n - 2 : 0;
    const uint32_t sub = AtLeast1(p->tapCount);
    uint32_t cost = 15;
    if (p->rgbCode)
        cost = 27;
    else if (p->vZoom == 2)
        cost = 25;
    else if (p->vZoom == 4)
        cost = 30;
    const uint32_t blockCost = cost * sub;
    uint32_t vm = 5 + butTwo * blockCost;
    uint32_t grab = (p->tapCount > 1 ? 62 + n * p->tapCount : 49) + butTwo * (p->dual ? 3 : 6) + (2 * n > 6 ? 2 * n - 6 : 0);
    if (p->remainder) {
        grab += 5;
        vm += 2 * blockCost + 4;
    }
    if (p->secondField) {
        grab += 20 + butTwo * (p->dual ? 5 : 8);
        vm += butTwo * blockCost;
        if (p->remainder) {
            grab += 5;
            vm += blockCost + 8;
        }
    }
    *grabEntries = 2 * grab;
    *vmEntries = 2 * vm;
}

void ArpList::add(uint32_t value, uint32_t reg)
{
    if (!base && capacity == kCountOnly) {
        ++count;
        return;
    }
    // The room is checked before the entry is written, and a list whose entries reach its
    // capacity has overflowed: nothing is ever written at or past the end.
    if (overflow || !base || count + 1 >= capacity) {
        overflow = true;
        return;
    }
    base[2 * count] = value;
    base[2 * count + 1] = reg;
    ++count;
}

void SetupSubBlock(uint32_t* work, const uint32_t* image, uint32_t grabListBus)
{
    if (!work) return;
    const uint32_t vt = (VmValue(image, kOrloVtControl) & ~(kVtReset | 0x2u)) | kVtStartCopy;
    const uint32_t gctl = grbimg::Reg(const_cast<uint32_t*>(image), grbimg::GRABCTRL);
    const uint32_t entries[kRestartWords] = {
        vt, kOrloVtControl,
        kListArmed, kOrloVmListControl,
        0, kOrloInterruptClear,
        (gctl & ~0x3u) | 0x4u, kOrloGrabControl,
        grabListBus, kOrloGrabListPointer,
        kIntGrabBits, kOrloInterruptClear,
        0, kOrloVmListControl,
    };
    std::memcpy(work, entries, sizeof entries);
}

namespace {

// What the list builder needs besides the records.
struct Builder {
    MP_RESOURCE_ST* res;
    const _HOST_TEMP_PARAMETER_ST* p;
    const _HOST_TEMP_REGISTER_ST* r;
    const uint32_t* image;
    const uint32_t* restart;   // seven restart entries
    ArpList* grab;
    ArpList* vm;
    uint32_t page;             // host address bits 27-31 (as 0x2898 holds them) of the last copy
};

constexpr uint32_t kNoPage = ~0u;

uint32_t HostPage(uint32_t address)
{
    return ((address >> 27) & 0x1F) << 1;
}

// A destination whose bands do not all lie within one 128 MB page of host memory.
bool AcrossPages(const _MP_BUF_ST* d)
{
    if (!d || d->bands == 0 || d->sizeY <= 0) return false;
    const uint32_t first = HostPage(BandAddress(d, 0));
    const uint64_t bytes = static_cast<uint64_t>(d->pitch) * static_cast<uint32_t>(d->sizeY);
    for (uint32_t band = 0; band < d->bands; ++band) {
        const uint64_t start = BandAddress(d, band);
        if (HostPage(static_cast<uint32_t>(start)) != first ||
            (bytes && HostPage(static_cast<uint32_t>(start + bytes - 1)) != first))
            return true;
    }
    return false;
}

// The destination of one copy.  The VM engine takes host address bits 27-31 from a register
// of their own, loaded with the grab registers: a destination across a 128 MB boundary, or
// lists chained behind another grab, have it rewritten at the start of each block's segment
// (segments also run after one another in loops and chains) and wherever a copy's bits
// differ from the last copy's.
void AddDestination(Builder& b, uint32_t address)
{
    if (b.r->pageEntries && HostPage(address) != b.page) {
        b.page = HostPage(address);
        b.vm->add(b.page, kOrloVmHostPage);
    }
    b.vm->add(address & kAddress27, kOrloVmHostStart);
}

void AddRestart(Builder& b, uint32_t entries)
{
    for (uint32_t i = 0; i < entries; ++i) b.vm->add(b.restart[2 * i], b.restart[2 * i + 1]);
}

uint32_t SourceOf(const Builder& b, uint32_t tap, uint32_t block)
{
    return SetCopyFrameAddr(b.r, tap, block) & kAddress26;
}

// Destination of tap `tap` of block `block` in field `field`.
uint32_t DestinationOf(const Builder& b, uint32_t tap, uint32_t block, uint32_t field)
{
    return field ? SetSecondHfstart(b.r, b.p, tap, block) : SetHfstart(b.r, b.p, tap, block);
}

// The copy of one block: per tap its source and destination, then the restart entries
// that start the copy and wait for its end.
void AddCopyBlock(Builder& b, uint32_t block, uint32_t destBlock, uint32_t field)
{
    const _HOST_TEMP_PARAMETER_ST* p = b.p;
    for (uint32_t t = 0; t < AtLeast1(p->tapCount); ++t) {
        b.vm->add(SourceOf(b, t, block), kOrloVmBoardStart);
        if ((p->rgbCode == 33 || p->rgbCode == 34) && p->dual) {
            b.vm->add((b.r->secondTapAddress[1] + destBlock * p->secondStep) & kAddress26, kOrloVmBand1);
            b.vm->add((b.r->secondTapAddress[2] + destBlock * p->secondStep) & kAddress26, kOrloVmBand2);
        }
        AddDestination(b, DestinationOf(b, t, destBlock, field));
        AddRestart(b, 3);
    }
}

// The copy of one block to zoom-many destination lines per block line.
void AddZoomCopyBlock(Builder& b, uint32_t block, uint32_t destBlock, uint32_t field, uint32_t linesPerCopy)
{
    const _HOST_TEMP_PARAMETER_ST* p = b.p;
    const uint32_t line = b.r->destPitch * (p->fieldMode ? 2 : 1);
    b.vm->add(linesPerCopy ? linesPerCopy - 1 : 0, kOrloVmLastLine);
    for (uint32_t t = 0; t < AtLeast1(p->tapCount); ++t)
        for (uint32_t z = 0; z < p->vZoom; ++z) {
            b.vm->add(SourceOf(b, t, block), kOrloVmBoardStart);
            AddDestination(b, DestinationOf(b, t, destBlock, field) + z * line);
            AddRestart(b, 3);
        }
}

}  // namespace

int BuildHostLists(MP_RESOURCE_ST* res, const _HOST_TEMP_PARAMETER_ST* p, const _HOST_TEMP_REGISTER_ST* r,
                   const uint32_t* image, uint32_t selector, ArpList* grab, ArpList* vm, uint32_t* chainEntry)
{
    uint32_t restart[kRestartWords] = {};
    SetupSubBlock(restart, image, grab->bus);
    Builder b{res, p, r, image, restart, grab, vm, kNoPage};
    grab->count = vm->count = 0;
    grab->overflow = vm->overflow = false;

    const uint32_t g = AtLeast1(p->vReduction);
    const uint32_t full = p->blocksBeforeExtra;           // whole blocks of the window
    const uint32_t copied = full + (p->remainder ? 1 : 0); // blocks copied to the destination
    const uint32_t extra = p->extraBlocks ? 2 : 0;         // blocks grabbed after the window, not copied
    const uint32_t perField = copied + extra;
    const uint32_t fields = p->secondField ? 2 : 1;
    const uint32_t linesPerCopy = p->linesPerBlock / g;
    const uint32_t lengthUnits = VmValue(image, kOrloVmHStop);

    // The VM list first: the grab list starts its segments by their bus addresses.
    // (Kept off the stack: grab requests run on tasks with small stacks.)
    std::vector<uint32_t> segment(static_cast<size_t>(fields) * copied);
    for (uint32_t f = 0; f < fields; ++f) {
        for (uint32_t k = 0; k < copied; ++k) {
            const uint32_t block = f * perField + k;
            segment[f * copied + k] = vm->busOf(vm->count);
            b.page = kNoPage;
            if (r->layoutEntries && block == 0)
                for (const uint32_t reg : kCopyLayout) vm->add(VmValue(image, reg), reg);
            const bool partial = p->remainder && k == full;
            if (partial) {
                // The remainder lines: the copy size for this block only.
                const uint32_t gr = p->fieldMode && g > 1 ? g / 2 : g;
                const uint32_t lines = p->remainder / AtLeast1(gr);
                vm->add(lengthUnits, kOrloVmHStop);
                vm->add(VmValue(image, kOrloVmBoardPitch), kOrloVmBoardPitch);
                vm->add(VmValue(image, kOrloVmHostPitch), kOrloVmHostPitch);
                vm->add(lines > 0 ? lines - 1 : 0, kOrloVmLastLine);
            } else if (k == 0 && p->remainder && p->vZoom <= 1) {
                // The previous frame's remainder block left a shorter copy behind.
                vm->add(linesPerCopy ? linesPerCopy - 1 : 0, kOrloVmLastLine);
            }
            if (p->vZoom > 1)
                AddZoomCopyBlock(b, block, k, f, partial ? p->remainder / g : linesPerCopy);
            else
                AddCopyBlock(b, block, k, f);
            vm->add(0, kOrloVmListControl);
        }
    }
    vm->add(selector, kArpEndRegister);

    // The grab list.
    const uint32_t gctl = grbimg::Reg(const_cast<uint32_t*>(image), grbimg::GRABCTRL);
    const uint32_t arm = (gctl & ~0x3u) | 0x4u;
    static const uint32_t kOffsetReg[3] = {kOrloGC1FOFF, kOrloGC2FOFF, kOrloGC3FOFF};
    // The engine delivers every tap of a window line at once: a block's window is L lines.
    const uint32_t blockLines = p->linesPerBlock;
    if (r->layoutEntries)
        for (const GrabReg reg : kLineLayout)
            grab->add(grbimg::Reg(const_cast<uint32_t*>(image), reg), grbimg::kGrabRegOffset[reg]);
    grab->add(grbimg::Reg(const_cast<uint32_t*>(image), grbimg::GVTOTAL), kOrloGVTOTAL);
    bool previousCopied = false;
    uint32_t previousSegment = 0;
    for (uint32_t f = 0; f < fields; ++f) {
        for (uint32_t k = 0; k < perField; ++k) {
            const uint32_t block = f * perField + k;
            const uint32_t first = r->yStart + k * blockLines;
            const uint32_t lines = (p->remainder && k == full) ? p->remainder : blockLines;
            const uint32_t last = first + lines - 1;
            if (p->dual) {
                if (k == 0) {
                    grab->add(first, kOrloGVWSTART);
                    grab->add((f ? SetSecondFieldGfstart(r, p, block) : ComputeGfstart(r, block)) & kAddress26,
                              kOrloGFSTART);
                }
                grab->add(last, kOrloGVWSTOP);
            } else {
                grab->add(first, kOrloGVWSTART);
                grab->add(last, kOrloGVWSTOP);
                // The blocks after the window are not copied: both go into the half of the
                // first of them, so that neither overwrites the last block's half while its
                // copy may still run.
                const uint32_t into = k < copied ? block : f * perField + copied;
                const uint32_t start = ComputeGfstart(r, into);
                grab->add(start & kAddress26, kOrloGFSTART);
                for (uint32_t t = 1; t < AtLeast1(p->tapCount) && t < 4; ++t)
                    grab->add((r->tempAddress[into % 2][t] - start) & kAddress26, kOffsetReg[t - 1]);
                grab->add(kIntGrabBits, kOrloInterruptClear);
            }
            if (block == 0) grab->add(arm, kOrloGrabControl);
            if (previousCopied) {
                grab->add(previousSegment, kOrloVmListPointer);
                grab->add(kListArmed, kOrloVmListControl);
            }
            previousCopied = k < copied;
            previousSegment = previousCopied ? segment[f * copied + k] : 0;
            grab->add(kListArmed, kOrloGrabListControl);
        }
    }
    if (previousCopied) {
        grab->add(previousSegment, kOrloVmListPointer);
        grab->add(kListArmed, kOrloVmListControl);
    }
    // The window registers back as the shadows hold them (the first block's window): a
    // later grab writes only the registers whose shadows change.
    grab->add(grbimg::Reg(const_cast<uint32_t*>(image), grbimg::GVWSTART), kOrloGVWSTART);
    grab->add(grbimg::Reg(const_cast<uint32_t*>(image), grbimg::GVWSTOP), kOrloGVWSTOP);
    grab->add(kIntEndOfGrabBit, kOrloInterruptSet);
    if (chainEntry) *chainEntry = grab->count;
    grab->add(grab->busOf(grab->count + 1), kOrloGrabListPointer);
    grab->add(selector, kArpEndRegister);

    // Entries at or above the capacity were refused as they came.
    if (vm->overflow) return Fail(res, HLC_ERR_INVALID_PARAMETER, kArpVmOverflow);
    if (grab->overflow) return Fail(res, HLC_ERR_INVALID_PARAMETER, kArpGrabOverflow);
    return 0;
}

int CreateArpLists(uint32_t node, uint32_t grabEntries, uint32_t vmEntries, _NODE_GRAB_GLOBALS* rec,
                   MP_RESOURCE_ST* res)
{
    // Each size holds both list sets.
    const uint32_t grabSet = grabEntries / 2, vmSet = vmEntries / 2;
    auto make = [&](_MP_BAND_ST* band, uint32_t setEntries, uint32_t* host, uint32_t* bus) -> bool {
        if (SysDmaBufferAlloc((node & 0xFF) << 16, 2 * setEntries * 8, 1, 8, band) <= 0 || !band->mapped ||
            !band->physical) {
            *band = _MP_BAND_ST{-1, 0, 0, 0};
            return false;
        }
        for (uint32_t s = 0; s < 2; ++s) {
            host[s] = band->mapped + s * setEntries * 8;
            bus[s] = band->physical + s * setEntries * 8;
        }
        return true;
    };
    if (rec->grabCapacity < grabSet || rec->vmCapacity < vmSet || rec->node != (node & 0xFF)) {
        // Lists too small (or of another node) are freed and made again at the new size.
        FreeListMemory(rec, true);
        rec->node = node & 0xFF;
        if (!make(&rec->grabMemory, grabSet, rec->grabList, rec->grabBus) ||
            !make(&rec->vmMemory, vmSet, rec->vmList, rec->vmBus)) {
            FreeListMemory(rec, true);
            return Fail(res, HLC_ERR_NO_RESOURCES);
        }
        rec->grabCapacity = grabSet;
        rec->vmCapacity = vmSet;
        rec->started = rec->queued = 0;
    }
    return 0;
}

// ---- the host grab -------------------------------------------------------------------------------

SERVINFO_ST* HostGrabPath(MP_RESOURCE_ST* res, _MP_BUF_ST* options, uint32_t* index)
{
    _NODE_MAIN_RESOURCE_ST* record = res ? res->record : nullptr;
    if (!record && res) record = mp_core_node_record(res->node);
    if (!record) return nullptr;
    uint32_t path = 1;
    const _NODE_ST* state = record->nodeState;
    if (state && state->hostGrabFirstPath) {
        path = 0;
        int32_t id = 0;
        if (options && mp_buf_get_field(options, kGrabFieldTagBuffer, &id) == 0 && id) {
            _MP_BUF_ST* tag = mp_buf_pointer(static_cast<uint32_t>(id));
            if (Word(tag) >= kPredefEntries && mp_buf_valid(tag, kBufKindImage) && tag->location != kLocSdram)
                path = 1;
        }
    }
    // A board without the second Orlo grabs into host memory on its first.
    if (path == 1 && !record->displayRegs) path = 0;
    if (index) *index = path;
    return mp_servinfo(record, path);
}

namespace {

// The fixed register values of a host grab.
void SetDefault(uint32_t* image, const _HOST_TEMP_PARAMETER_ST* p)
{
    uint32_t& vt = VmSlot(image, kOrloVtControl);
    vt = (vt | (1u << 2) | (1u << 6) | (1u << 7) | (1u << 10)) &
         ~((1u << 1) | (1u << 5) | (1u << 8) | (1u << 9) | (1u << 11) | (1u << 13));
    image[grbimg::kVmRestartWord] |= 0xF0;
    VmSlot(image, kOrloVmWriteMask) = 0xFFFFFF;
    grbimg::Reg(image, grbimg::GARPCTRL) |= kListArmed;
    uint32_t& gctl = grbimg::Reg(image, grbimg::GRABCTRL);
    // The grab list arms each frame: the grab control itself carries no command.
    gctl &= ~(0x10u | 0x2u | 0x4u);
    if (!p->typeFlag && !p->triggerFlag)
        gctl |= 0xC00000;
    else
        gctl = (gctl & ~0x800000u) | 0x400000u;
}

void SetAddress(uint32_t& reg, uint32_t address)
{
    reg = (reg & ~kAddress26) | (address & kAddress26);
}

// The grab registers of the first block: its window and frame start in the temporary
// buffer, the line pitch, the list address.
void SetWindow(uint32_t* image, const _HOST_TEMP_PARAMETER_ST* p, const _HOST_TEMP_REGISTER_ST* r, uint32_t listBus)
{
    using grbimg::Reg;
    const uint32_t blockLines = p->linesPerBlock;
    const uint32_t first = r->yStart;
    const uint32_t lines = (p->blocksBeforeExtra == 0 && p->remainder) ? p->remainder : blockLines;
    Reg(image, grbimg::GVWSTART) = first;
    Reg(image, grbimg::GVWSTOP) = first + lines - 1;
    const uint32_t start = ComputeGfstart(r, 0);
    SetAddress(Reg(image, grbimg::GFSTART), start);
    const GrabReg offsets[3] = {grbimg::GC1FOFF, grbimg::GC2FOFF, grbimg::GC3FOFF};
    for (uint32_t t = 1; t < 4; ++t)
        SetAddress(Reg(image, offsets[t - 1]), t < p->tapCount ? r->tempAddress[0][t] - start : 0);
    SetAddress(Reg(image, grbimg::GLPITCH), r->sourceStep ? r->secondPitch * (p->fieldMode ? 2 : 1) : p->lineBytes);
    Reg(image, grbimg::GVSCLNG) &= ~0x3Fu;
    Reg(image, grbimg::GARPADDR) = listBus;
}

// The copy geometry that stays for the whole grab, in the image's VM slots.
void SetWindowAndPitch(uint32_t* image, const _HOST_TEMP_PARAMETER_ST* p, const _HOST_TEMP_REGISTER_ST* r,
                       uint32_t rawBytes, uint32_t vmListBus)
{
    const uint32_t g = AtLeast1(p->vReduction);
    const bool words = !(p->copyFlags & kHostCopyRounded) && rawBytes % 4 == 0;
    const uint32_t unitBytes = words ? 4 : 1;
    const uint32_t lines = p->linesPerBlock / g;
    uint32_t tapFactor = 1;
    if (p->tapCode == kTapCodeTwoLines) tapFactor = 2;
    if (p->tapCode == kTapCodeFourLines) tapFactor = 4;
    VmSlot(image, kOrloVmVStart) = 0;
    VmSlot(image, kOrloVmLastLine) = (lines ? lines - 1 : 0) & 0xFFFF;
    VmSlot(image, kOrloVmHStop) = (rawBytes / unitBytes - 1) & 0xFFFF;
    VmSlot(image, kOrloVmFormat) = (VmSlot(image, kOrloVmFormat) & ~0x7u) | (unitBytes - 1);
    VmSlot(image, kOrloVmHStart) = 0;
    const uint32_t sourcePitch = r->sourceStep ? r->secondPitch * (p->fieldMode ? 2 : 1) * g : p->lineBytes * g;
    VmSlot(image, kOrloVmBoardPitch) = sourcePitch & kAddress26;
    const uint32_t destPitch = r->destPitch * (p->fieldMode ? 2 : 1) * AtLeast1(p->vZoom) * tapFactor;
    VmSlot(image, kOrloVmHostPitch) = destPitch & kAddress27;
    VmSlot(image, kOrloVmHostPage) = ((r->tapAddress[0] >> 27) & 0x1F) << 1;
    VmSlot(image, kOrloVmHostStart) = r->tapAddress[0] & kAddress27;
    VmSlot(image, kOrloVmBoardStart) = r->tempAddress[0][0] & kAddress26;
    VmSlot(image, kOrloVmListPointer) = vmListBus;
    VmSlot(image, kOrloVmListControl) = 0;
}

// Polls the grab path's register until done() holds, bounded by the communication
// time-out: true when it did.
template <typename Done>
bool WaitOnPath(Done done)
{
    return intsrv::WaitFor(mp_sys_timeout(kCommunicationEntry), done);
}

// One attempt of the host grab.  *late is set when the lists were chained but the running
// grab ended before it could take them.
int HostGrabOnce(MP_RESOURCE_ST* res, _MP_BUF_ST* destination, uint32_t* image, _MP_CAM_ST_0* cam,
                 _MP_BUF_ST* options, int* chained, const uint32_t* temporary, bool* late)
{
    using grbimg::Reg;
    *late = false;
    *chained = 0;
    // 1. The thread's record and the grab path.
    SetNodeGrabGlobals();
    _NODE_GRAB_GLOBALS* rec = GetNodeGrabGlobals();
    if (!rec) return Fail(res, HLC_ERR_NO_RESOURCES);
    uint32_t pathIndex = 0;
    SERVINFO_ST* path = HostGrabPath(res, options, &pathIndex);
    if (!path || !path->registers) return Fail(res, HLC_ERR_RESTRICTED);
    const uint32_t node = res ? res->node : path->node;
    std::free(rec->work);
    rec->work = std::calloc(kRestartWords, sizeof(uint32_t));
    if (!rec->work) return Fail(res, HLC_ERR_NO_RESOURCES);
    // The work allocation goes on every road out.
    struct WorkRelease {
        _NODE_GRAB_GLOBALS* rec;
        ~WorkRelease()
        {
            std::free(rec->work);
            rec->work = nullptr;
        }
    } release{rec};

    _HOST_TEMP_PARAMETER_ST p{};
    _HOST_TEMP_REGISTER_ST r{};

    // 2. Taps.
    p.tapCode = SetupTap(cam);
    p.vmVariant = (Info(cam, INFO_MISC) >> 12) & 1;

    // 3. A grab whose list does not run must have left the engine.
    if (!(intsrv::Read(path, kOrloGrabListControl) & 1) &&
        !WaitOnPath([path] { return !(intsrv::Read(path, kOrloGrabStatus) & kGstatInFlight); }))
        return Fail(res, HLC_ERR_TIMEOUT, "Grab still in flight before a host grab");

    // 4. Reduction and zoom.
    const uint32_t hs = Reg(image, grbimg::GHSCLNG);
    uint32_t& vs = Reg(image, grbimg::GVSCLNG);
    p.hReduction = (hs & 0xF) + 1;
    p.hZoom = ((hs >> 4) & 3) + 1;
    p.vReduction = (vs & 0xF) + 1;
    p.vZoom = ((vs >> 4) & 3) + 1;
    vs &= ~0x3Fu;
    // The window registers count the engine's lines, each of which brings every tap: the
    // camera lines of the grab are that many times as many (part taps read parts of the
    // image at once, line taps neighbouring lines).
    uint32_t lines = (Reg(image, grbimg::GVWSTOP) - Reg(image, grbimg::GVWSTART) + 1) *
                     AtLeast1(Info(cam, INFO_YTAPSPERCH)) * AtLeast1(Info(cam, INFO_YTAPSPERCHADJ));
    const uint32_t codeBefore = p.tapCode;
    if (HostReduction(&p.tapCode, &p.vReduction, p.vZoom, &lines) != 0) return Fail(res, HLC_ERR_RESTRICTED);
    if (p.tapCode != codeBefore) {
        // The line taps went into the reduction: the engine delivers one sample of each.
        const uint32_t taps = codeBefore == kTapCodeFourLines ? 4 : 2;
        uint32_t& fmt = Reg(image, grbimg::GPIXFMT);
        const uint32_t samples = ((fmt >> 8) & 3) + 1;
        const uint32_t left = samples / taps ? samples / taps : 1;
        fmt = (fmt & ~0x300u) | ((left - 1) << 8);
    }

    // 5. Window (already clipped to the camera and the destination by the programming) and
    // the count mode.
    uint32_t& gctl = Reg(image, grbimg::GRABCTRL);
    // A continuous grab (command bit 1) runs its lists again and again.
    const bool continuous = (gctl & kGctlContinuous) != 0;
    uint32_t countMode = (gctl >> 10) & 7;
    if (countMode == 2) countMode = 0;
    if (countMode == 5) countMode = 3;
    r.xStart = Reg(image, grbimg::GHWSTART);
    r.xEnd = Reg(image, grbimg::GHWSTOP);
    r.yStart = Reg(image, grbimg::GVWSTART);
    r.yEnd = Reg(image, grbimg::GVWSTOP);
    r.frameLastLine = Reg(image, grbimg::GVTOTAL);
    r.windowFirstLine = r.yStart;
    r.windowLastLine = r.yEnd;
    p.typeFlag = Info(cam, INFO_TYPE) == 1 ? 1 : 0;
    p.triggerFlag = ((gctl & 0xC0) == 0xC0 || (Info(cam, INFO_MISC) & 0x400)) ? 1 : 0;
    p.fieldMode = (Info(cam, INFO_MODE) == 1 && (gctl & kGctlFrame)) ? 1 : 0;
    p.secondField = p.fieldMode;
    if (p.fieldMode) r.yStart = (r.yStart + 1) / 2;
    p.lines = lines;
    p.pixelsPerLine = ((r.xEnd >= r.xStart ? r.xEnd - r.xStart : 0) / p.hReduction + 1) * p.hZoom;

    // 6. RGB packing and taps.
    const _MP_BUF_ST* second = nullptr;
    int32_t secondId = 0;
    if (options && mp_buf_get_field(options, kGrabFieldTagBuffer, &secondId) == 0 && secondId) {
        second = mp_buf_pointer(static_cast<uint32_t>(secondId));
        if (Word(second) < kPredefEntries) second = nullptr;
    }
    p.rgbCode = grbCheckRGB(destination, &second, cam);
    const uint32_t channels = cam ? Info(cam, INFO_CHANNEL) : 0x10000;
    if (SetTap(p.tapCode, channels, destination->bands, 1, p.rgbCode, &p.tapCount, &p.tapStep) != 0)
        return Fail(res, HLC_ERR_RESTRICTED);
    p.bitsPerPixel = destination->bits;

    // 7. The second buffer of a dual grab, or the temporary buffers.
    const _NODE_ST* state = res && res->record ? res->record->nodeState : nullptr;
    // The first path serves host grabs when the node says so, or when it is the path this
    // grab runs on (a board without the second Orlo).
    const bool firstServesHost = (state && state->hostGrabFirstPath) || pathIndex == 0;
    r.destPitch = destination->pitch;
    r.destLines = (lines >> p.tapStep) / AtLeast1(p.vReduction) * p.vZoom << p.tapStep;
    if (second) {
        if (!CheckSecondBuffer(second, node, firstServesHost)) return Fail(res, HLC_ERR_INVALID_PARAMETER);
        p.dual = 1;
        r.secondPitch = second->pitch;
    } else if (!temporary) {
        return Fail(res, HLC_ERR_INVALID_PARAMETER);
    }

    // 8. Block division.
    const uint32_t raw = (p.bitsPerPixel / 8) * p.pixelsPerLine;
    if (SetBlockDivision(destination, &p, second, res, &r, temporary) != 0) return -1;
    if (p.dual ? CalculateDualGrabAddr(&r, &p, second) != 0 : CalculateTempGrabAddr(&r, &p, temporary) != 0)
        return Fail(res, HLC_ERR_INVALID_PARAMETER);
    if (p.secondField) {
        InitVfstart(&r, &p, destination, 1);
        std::memcpy(r.fieldTapAddress, r.tapAddress, sizeof r.fieldTapAddress);
    }
    InitVfstart(&r, &p, destination, 0);
    r.pageEntries = AcrossPages(destination) ? 1 : 0;
    if (p.dual) SetSecondDualVfstart(&r, &p, second, 0);
    if (SetVpixfmt(image, p.rgbCode, p.copyFlags) != 0) return Fail(res, HLC_ERR_BUFFER_ATTRIBUTE);

    // 9. Lists.  The sizes follow the block counts; a grab of few blocks whose lists hold
    // more entries than that (two fields of three blocks) gets the room its lists take, as
    // counted by building them without memory (with the high address bits in every block, as
    // a chained grab writes them).
    uint32_t grabEntries = 0, vmEntries = 0;
    HostListSizes(&p, &grabEntries, &vmEntries);
    {
        _HOST_TEMP_REGISTER_ST counted = r;
        counted.pageEntries = 1;
        counted.layoutEntries = 1;
        ArpList grabCount{nullptr, 0, ArpList::kCountOnly, 0, false};
        ArpList vmCount{nullptr, 0, ArpList::kCountOnly, 0, false};
        BuildHostLists(nullptr, &p, &counted, image, 0, &grabCount, &vmCount, nullptr);
        grabEntries = std::max(grabEntries, 2 * (grabCount.count + 1));
        vmEntries = std::max(vmEntries, 2 * (vmCount.count + 1));
    }
    // Lists that must grow are given back and made again: a grab still playing them ends first.
    const bool grow = rec->grabCapacity < grabEntries / 2 || rec->vmCapacity < vmEntries / 2 ||
                      rec->node != (node & 0xFF);
    if (grow && rec->started && rec->path == pathIndex &&
        (!WaitOnPath([path] { return intsrv::Read(path, kOrloGrabListControl) == 0; }) ||
         !WaitOnPath([path] { return intsrv::Read(path, kOrloVmListControl) == 0; })))
        return Fail(res, HLC_ERR_TIMEOUT, "Host grab lists still running");
    if (CreateArpLists(node, grabEntries, vmEntries, rec, res) != 0) return -1;

    // 10. A grab still running on the path.
    const bool running = rec->started && rec->path == pathIndex && intsrv::Read(path, kOrloGrabListControl) != 0;
    const uint32_t previous = rec->selector;
    bool chain = false;
    if (running && !rec->queued) {
        chain = true;
    } else if (running) {
        // Both list sets are taken: the running grabs must end first.
        if (!WaitOnPath([path] { return intsrv::Read(path, kOrloGrabListControl) == 0; }) ||
            !WaitOnPath([path] { return intsrv::Read(path, kOrloVmListControl) == 0; }))
            return Fail(res, HLC_ERR_TIMEOUT, "Host grab lists still running");
    }
    const uint32_t set = previous ^ 1u;
    // Chained lists run with the registers of the grab before them: the high bits of this
    // grab's destination and its line layout go into its own lists.
    if (chain) r.pageEntries = r.layoutEntries = 1;

    // 11-12. Build both lists of the set, ending with {selector, 255}.
    ArpList grab{reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(rec->grabList[set])), rec->grabBus[set],
                 rec->grabCapacity, 0, false};
    ArpList vm{reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(rec->vmList[set])), rec->vmBus[set],
               rec->vmCapacity, 0, false};
    SetDefault(image, &p);
    Reg(image, grbimg::GRABCTRL) = (Reg(image, grbimg::GRABCTRL) & ~0x1C00u) | (countMode << 10);
    SetWindow(image, &p, &r, grab.bus);
    SetWindowAndPitch(image, &p, &r, raw, vm.bus);
    SetupSubBlock(static_cast<uint32_t*>(rec->work), image, grab.bus);
    uint32_t chainEntry = 0;
    // 13. Overflows are found as the entries come.
    if (BuildHostLists(res, &p, &r, image, set, &grab, &vm, &chainEntry) != 0) return -1;
    rec->chainWord[set] = grab.base + 2 * chainEntry;
    rec->chainBus[set] = grab.busOf(chainEntry);
    if (continuous) *rec->chainWord[set] = grab.bus;
    // Where the end of a continuous grab breaks its loop: the chaining entry then moves the
    // list on to its end entry (mpPrvDisableContinuousGrab).
    path->listDescriptor = continuous ? Word(rec->chainWord[set]) : 0;
    path->listEnd = continuous ? rec->chainBus[set] + 8 : 0;
    path->patchAddress[0] = path->patchAddress[1] = 0;
    path->patchValue[0] = path->patchValue[1] = 0;
    rec->selector = set;
    rec->path = pathIndex;
    if (chain && rec->chainWord[previous]) {
        // Queue the new lists behind the running ones.
        *rec->chainWord[previous] = grab.bus;
        *chained = 1;
        rec->queued = 1;
        if (intsrv::Read(path, kOrloGrabListControl) == 0) {
            *rec->chainWord[previous] = rec->chainBus[previous] + 8;
            *late = true;
            *chained = 0;
            rec->queued = 0;
            rec->started = 0;
            rec->selector = previous;
            return 0;
        }
    } else {
        rec->queued = 0;
    }
    rec->started = 1;
    return 0;
}

}  // namespace

int hostGrab(MP_RESOURCE_ST* res, _MP_BUF_ST* destination, uint32_t* image, _MP_CAM_ST_0* cam,
             _MP_BUF_ST* options, int* chained, const uint32_t* temporary)
{
    int dummy = 0;
    if (!chained) chained = &dummy;
    *chained = 0;
    if (!destination || !image) return Fail(res, HLC_ERR_INVALID_PARAMETER);
    // A chain that came too late is redone as a fresh grab, from the image as it came; a
    // few times at most.
    uint32_t saved[kGrbImageWords];
    std::memcpy(saved, image, sizeof saved);
    for (int attempt = 0; attempt <= kHostGrabRetries; ++attempt) {
        bool late = false;
        if (attempt) std::memcpy(image, saved, sizeof saved);
        const int rc = HostGrabOnce(res, destination, image, cam, options, chained, temporary, &late);
        if (rc != 0 || !late) return rc;
    }
    return Fail(res, HLC_ERR_RESTRICTED, "Host grab could not be queued");
}
