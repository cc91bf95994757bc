// Grabs of the second grab-module family: block plan, transfer lists, the request and its
// start, end and halt.
#include "kvxgrab.h"

#include "bufchild.h"
#include "bufid.h"
#include "camrec.h"
#include "digitizers.h"
#include "eeprom.h"
#include "grab.h"
#include "grabengine.h"
#include "grabevents.h"
#include "grabimage.h"
#include "grabrequest.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "intserver.h"
#include "intserverio.h"
#include "kvxio.h"
#include "kvxload.h"
#include "kvxlut.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "servinfo.h"
#include "syncobj.h"
#include "task.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

using intsrv::Read;
using intsrv::Set;

const char kTextInvalidChannel[] = "Invalid channel";
const char kTextLoad[] = "Error loading digitizer registers";

constexpr uint32_t kBit23 = 0x800000;
constexpr uint32_t kArpPointerMask = 0x3FFFFFFF;   // the list address register's 30 bits
constexpr uint32_t kBit13 = 0x2000;
constexpr uint32_t kFieldListPasses = 10036;   // present: one build pass instead of two
// FAF_TSTSTS bits: 6 a grab is active, 5 armed.  FAF_GRBCTL0 bits: 0 abort, 1 continuous,
// 3 single frame.
constexpr uint32_t kTstActive = 0x40;
constexpr uint32_t kTstArmed = 0x20;
constexpr uint32_t kGrb0Abort = 0x1;
constexpr uint32_t kGrb0Continuous = 0x2;
constexpr uint32_t kGrb0Single = 0x8;

void Log(MP_RESOURCE_ST* res, int32_t code, const char* text)
{
    if (res) _mp_res_log_error(res, code, text);
}

uint32_t Addr(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t Load32(uint32_t address)
{
    if (HwIsWindowAddress(address)) return HwRead32(address, 0);
    uint32_t v = 0;
    std::memcpy(&v, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), 4);
    return v;
}

void Put(uint32_t* cursor, uint32_t command, uint32_t value)
{
    auto* entry = reinterpret_cast<ARP_ENTRY*>(static_cast<uintptr_t>(*cursor));
    loadARP(&entry, command, value);
    *cursor += 8;
}

uint32_t Pci(const KVX_LIST_INPUT& in, uint32_t address)
{
    const uint32_t pci = in.pci ? in.pci(address) : convertAddr(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)));
    return pci & kArpAddressMask;
}

void Jump(const KVX_LIST_INPUT& in, uint32_t* cursor, uint32_t target)
{
    Put(cursor, kArpJump, Pci(in, target));
}

uint32_t Img(const KVX_LIST_INPUT& in, grbimg::GrabReg r)
{
    return in.image ? in.image[2 * r] : 0;
}

// List commands of the Orlo's grab and VM registers.
uint32_t GrabCmd(grbimg::GrabReg r)
{
    using namespace grbimg;
    switch (r) {
    case GHSCLNG: return kArpGrabReg + 0x00;
    case GHTOTAL: return kArpGrabReg + 0x08;
    case GHWSTART: return kArpGrabReg + 0x10;
    case GHWSTOP: return kArpGrabReg + 0x18;
    case GLNINT: return kArpGrabReg + 0x20;
    case GPIXFMT: return kArpGrabReg + 0x28;
    case GRABCTRL: return kArpGrabReg + 0x30;
    case GVSCLNG: return kArpGrabReg + 0x38;
    case GVTOTAL: return kArpGrabReg + 0x40;
    case GVWSTART: return kArpGrabReg + 0x48;
    case GVWSTOP: return kArpGrabReg + 0x50;
    case GBLENGTH: return kArpVmReg + 0x00;
    case GC1FOFF: return kArpVmReg + 0x08;
    case GC1TOFF: return kArpVmReg + 0x10;
    case GC2FOFF: return kArpVmReg + 0x18;
    case GC2TOFF: return kArpVmReg + 0x20;
    case GC3FOFF: return kArpVmReg + 0x28;
    case GC3TOFF: return kArpVmReg + 0x30;
    case GDWRTMSK: return kArpVmReg + 0x38;
    case GFSTART: return kArpVmReg + 0x40;
    case GLPITCH: return kArpVmReg + 0x48;
    case GTAGCTL: return kArpVmReg + 0x50;
    case GTLPITCH: return kArpVmReg + 0x58;
    default: return 0;
    }
}

// The idle grab set: what the engine holds between blocks.
void IdleSet(const KVX_LIST_INPUT& in, uint32_t* cursor)
{
    using namespace grbimg;
    const std::pair<GrabReg, uint32_t> idle[] = {
        {GPIXFMT, 0x160}, {GTAGCTL, 0}, {GC1TOFF, 0}, {GC2TOFF, 0}, {GC3TOFF, 0}, {GTLPITCH, 0},
        {GFSTART, Pci(in, in.bank[0] + 2)}, {GC1FOFF, 0x108}, {GC2FOFF, 0}, {GC3FOFF, 0}, {GLPITCH, 0x100},
        {GBLENGTH, 5}, {GHSCLNG, 0}, {GVSCLNG, 0}, {GHWSTART, 0}, {GHWSTOP, 0xFF}, {GHTOTAL, 0xFE},
        {GVWSTART, 0}, {GVWSTOP, 0}, {GVTOTAL, 0}, {GLNINT, 0}};
    for (const auto& r : idle) Put(cursor, GrabCmd(r.first), r.second);
}

}  // namespace

// ---- block plan ----------------------------------------------------------------------------

int mpPrvKvxPlan(uint32_t width, uint32_t height, uint32_t bitsPerChannel, uint32_t interlaced, KVX_BLOCK_PLAN* plan)
{
    if (!plan) return -1;
    *plan = KVX_BLOCK_PLAN{};
    plan->interlaced = interlaced ? 1 : 0;
    uint32_t bytes = bitsPerChannel / 8;
    if (bitsPerChannel % 8 != 0 || bytes == 3) ++bytes;
    plan->bytesPerPixel = bytes;
    // Step 1; a line that holds no block (L = 0, or above the line buffer) has no plan.
    const uint64_t line = (static_cast<uint64_t>(bytes) * width + 3) & ~static_cast<uint64_t>(3);
    if (line == 0 || line > kKvxBlockBytesMax) return -1;
    const uint32_t L = static_cast<uint32_t>(line);
    const uint32_t h = height;
    uint32_t n = kKvxBlockBytesMax / L;
    uint32_t B = std::max(1u, h / n);
    // Step 2.
    while (h % n != 0) {
        if (h - std::min(h, B * n) >= n / 2 || B == 1) break;
        --n;
        B = std::max(1u, h / n);
    }
    // Step 3.
    if (h % n != 0 && B > 1) B += 1 + plan->interlaced;
    // Step 4.
    const uint32_t blockBytes = n * L;
    const uint32_t k = 0x80000 / blockBytes;
    if (k == 0) return -1;
    const uint32_t lists = std::max(1u, B / k);
    if (B > kKvxMaxBlocks || lists > kKvxMaxLists) return -1;
    plan->lineBytes = L;
    plan->lines = n;
    plan->blocks = B;
    plan->blockBytes = blockBytes;
    plan->perHalfMeg = k;
    plan->lists = lists;
    return 0;
}

void mpPrvKvxPlanWindow(KVX_BLOCK_PLAN* plan, uint32_t firstLine, uint32_t lastLine)
{
    if (!plan || plan->lines == 0) return;
    const uint32_t i = plan->interlaced;
    const uint32_t n = plan->lines;
    const uint32_t m = n << i;
    const uint32_t s = firstLine >= i ? firstLine - i : 0;
    const uint32_t e = lastLine >= i ? lastLine - i : 0;
    plan->startBlock = (s >> i) / n;
    plan->startRemainder = firstLine - plan->startBlock * m;
    plan->endBlock = (e >> i) / n;
    plan->endRemainder = lastLine - plan->endBlock * m;
    if (!i) return;
    if (plan->startRemainder == m) plan->startBlock += plan->blocks >> 1;
    if (plan->endRemainder != 1) plan->endBlock += plan->blocks >> 1;
    if (firstLine == lastLine) {
        const uint32_t b = (plan->startBlock >= plan->endBlock || firstLine % 2 == 0) ? plan->endBlock : plan->startBlock;
        plan->startBlock = b;
        plan->endBlock = b;
    }
}

KVX_BTC_VALUES mpPrvKvxBtcValues(const KVX_BLOCK_PLAN& plan)
{
    KVX_BTC_VALUES v{};
    v.gdbuf = plan.interlaced ? 3 : 1;
    v.wrpt = plan.lineBytes / 4 - 2;
    v.rdpt = v.wrpt;
    v.gline = plan.lines - 1;
    v.gblck = (plan.blocks >> plan.interlaced) - 1;
    v.dfull = (plan.blocks - 1) | (plan.interlaced << 9);
    v.dblck = 0;
    return v;
}

uint32_t mpPrvKvxGrabListBytes(const KVX_BLOCK_PLAN& plan)
{
    // 256 bytes per block (up to 32 entries of program), 240 for the tail.
    return plan.blocks * 256 + 240;
}

uint32_t mpPrvKvxDmaListBytes(const KVX_BLOCK_PLAN& plan)
{
    return plan.lists * 256 + 240;
}

// ---- list building -------------------------------------------------------------------------

uint32_t grabARP(const KVX_LIST_INPUT& in, uint32_t list)
{
    using namespace grbimg;
    const KVX_BLOCK_PLAN& plan = *in.plan;
    const uint32_t i = plan.interlaced;
    const uint32_t n = plan.lines;
    const uint32_t B = plan.blocks;
    const uint32_t half = i ? B >> 1 : B;
    const uint32_t vdec = (Img(in, GVSCLNG) & 15) + 1;
    const uint32_t firstLine = Img(in, GVWSTART);
    const uint32_t lastLine = Img(in, GVWSTOP);
    // The image's line pitch steps one destination line; an interlaced block's lines are
    // two frame lines apart.
    const int32_t pitch = static_cast<int32_t>(Img(in, GLPITCH) << 6) >> 6;   // 26-bit signed
    const uint32_t base = Img(in, GFSTART);
    const uint32_t scratch = Pci(in, in.bank[3]);

    const uint32_t map = kvxGrabMap(in);
    uint32_t cursor = list;
    for (uint32_t b = 0; b < B; ++b) {
        // Frame lines of the block: field f, field lines from k n.
        const uint32_t f = (i && b >= half) ? 1 : 0;
        const uint32_t k = b - f * half;
        const uint32_t firstOfBlock = ((k * n) << i) + f;
        const uint32_t lastOfBlock = firstOfBlock + ((n - 1) << i);
        // The first captured line: in the window, on the frame's decimation grid.  The grid
        // runs over each field's lines from the window's start and goes on across blocks, so
        // a block whose lines do not divide by the decimation starts its window where the
        // grid carries over, not at its own first line.
        uint32_t captured = std::max(firstOfBlock, firstLine);
        if (i && ((captured - f) & 1)) ++captured;
        while (captured <= lastOfBlock && captured <= lastLine && ((captured - firstLine) >> i) % vdec != 0)
            captured += 1u << i;
        const bool inWindow = captured <= lastOfBlock && captured <= lastLine && lastOfBlock >= firstLine;

        // The map's jump into this block's program.
        {
            uint32_t slot = map + 8 * b;
            Put(&slot, kArpJump, Pci(in, cursor));
        }
        Put(&cursor, kArpOrloControl, (in.orloControl | kBit23) & ~kBit13);
        Put(&cursor, kArpControl, 3);
        Put(&cursor, GrabCmd(GRABCTRL), kKvxGrabCtlStart);
        Put(&cursor, GrabCmd(GRABCTRL), kKvxGrabCtlIdle);
        Put(&cursor, kArpIntClear, 0x2000);
        Put(&cursor, kArpOrloControl, in.orloControl & ~kBit23);
        Put(&cursor, kArpControl, 3);
        Put(&cursor, kArpIntClear, 0x1000);
        Put(&cursor, GrabCmd(GRABCTRL), i ? kKvxGrabCtlIdleField : kKvxGrabCtlIdle);
        for (GrabReg r : {GPIXFMT, GTAGCTL, GC1TOFF, GC2TOFF, GC3TOFF, GTLPITCH}) Put(&cursor, GrabCmd(r), Img(in, r));
        // Destination of the block's first captured line; a block outside the window
        // writes every line onto the scratch line.
        // Its destination line: the captured lines of a field fill every (1 << i)-th line,
        // the field that starts the window the first.
        const uint32_t t = captured - firstLine;
        const uint32_t row = inWindow ? (((t >> i) / vdec) << i) + (t & i) : 0;
        const uint32_t start = inWindow ? (base + static_cast<uint32_t>(static_cast<int32_t>(row) * pitch)) & kArpAddressMask
                                        : scratch;
        Put(&cursor, GrabCmd(GFSTART), start);
        for (GrabReg r : {GC1FOFF, GC2FOFF, GC3FOFF}) Put(&cursor, GrabCmd(r), Img(in, r));
        const uint32_t linePitch = inWindow ? static_cast<uint32_t>(pitch << i) & kArpAddressMask : 0;
        Put(&cursor, GrabCmd(GLPITCH), linePitch);
        Put(&cursor, GrabCmd(GBLENGTH), in.bitsPerChannel < 17 ? 6 : 5);
        for (GrabReg r : {GHSCLNG, GVSCLNG, GHWSTART, GHWSTOP, GHTOTAL}) Put(&cursor, GrabCmd(r), Img(in, r));
        // The block's vertical window, in lines of the block (field lines when interlaced).
        const uint32_t total = (n << i) - 1 + i;
        uint32_t vstart = i;
        uint32_t vstop = total;
        if (inWindow) {
            if (captured > firstOfBlock) vstart = ((captured - f - ((k * n) << i)) >> i << i) + i;
            if (lastLine < lastOfBlock) vstop = ((lastLine - f - ((k * n) << i)) >> i << i) + i;
        }
        Put(&cursor, GrabCmd(GVWSTART), vstart);
        Put(&cursor, GrabCmd(GVWSTOP), vstop);
        Put(&cursor, GrabCmd(GVTOTAL), total);
        Put(&cursor, GrabCmd(GLNINT), 0);
        // Only a single frame's start rings: a grab of several frames, like an endless one,
        // starts and ends at its frames' ends.
        // Mend: one ring per single-frame grab, so a finite grab of several frames does not count an extra frame end.
        if (b == 0 && in.doorbellFirstBlock && in.count == 1) Put(&cursor, kArpDoorbell, 0x80);
        // Each program arms the transfer of the block before it, so after the last block the
        // engine still needs one more transfer.  The last program goes on in the start-up
        // list, which takes the last block and follows the module's end-of-frame dispatch
        // into the end-of-frame program and back to the idle program, where the next frame
        // of a continuous grab begins.  The frame's doorbell (the module server's end of
        // grab) rings once: in the end-of-frame program where that rings (the second Orlo's
        // lists), else in the start-up list's second half.  A terminator after the map would
        // leave the last block untaken and the engine stopped; looping over the map would
        // take every frame without an end-of-grab event.  The jump is direct, not through an
        // entry after the map: channel 0's map of 4064 blocks ends where the start-up list
        // begins, and such an entry would replace its first.
        // Mend: the last block jumps into the start-up list, so it is taken and the frame's end reported.
        const uint32_t frameEnd = in.bank[1] + kKvxDummyOffset + (in.dmaDoorbell ? 0 : kKvxFrameEndEntry);
        Jump(in, &cursor, b + 1 < B ? map + 8 * (b + 1) : frameEnd);
    }
    return cursor;
}

uint32_t kvxGrabMap(const KVX_LIST_INPUT& in)
{
    return in.bank[1] + kKvxMapStride * in.channel;
}

uint32_t kvxDmaMap(const KVX_LIST_INPUT& in)
{
    return in.bank[1] + kKvxDmaMapOffset + kKvxMapStride * in.channel;
}

uint32_t dmaARP(const KVX_LIST_INPUT& in, uint32_t list)
{
    uint32_t cursor = list;
    const uint32_t map = kvxDmaMap(in);
    for (uint32_t e = 0; e < 2; ++e) {
        uint32_t slot = map + 8 * e;
        Put(&slot, kArpJump, Pci(in, cursor));
        if (in.dmaDoorbell) Put(&cursor, kArpDoorbell, 0x80);
        if (in.moduleAck) Put(&cursor, kArpModuleReg, 1);
        // Back on the idle grab set before the idle program arms: its transfer is the
        // module's status line, which the last block's registers would place in the image.
        // Mend: the idle grab set is restored here, so the status line does not overwrite image pixels.
        IdleSet(in, &cursor);
        Jump(in, &cursor, in.bank[4] + (e == 0 ? 64 : 312));
    }
    return cursor;
}

void idARP(const KVX_LIST_INPUT& in, uint32_t cursor, uint32_t option)
{
    using namespace grbimg;
    const uint32_t ctl = in.orloControl;
    const uint32_t idle = in.bank[4] + 64 + 248 * in.channel;
    Put(&cursor, kArpControl, 3);
    Put(&cursor, kArpIntClear, 0x1000);
    Put(&cursor, GrabCmd(GRABCTRL), kKvxGrabCtlStart);
    Put(&cursor, GrabCmd(GRABCTRL), kKvxGrabCtlIdle);
    Put(&cursor, kArpOrloControl, ctl & ~kBit23);
    Put(&cursor, kArpControl, 3);
    Put(&cursor, kArpIntClear, 0x1000);
    Jump(in, &cursor, idle);

    cursor = idle;
    const bool field = in.plan && in.plan->interlaced;
    Put(&cursor, kArpOrloControl, ctl | kBit23);
    Put(&cursor, kArpControl, 3);
    Put(&cursor, kArpIntClear, 0x2000);
    Put(&cursor, GrabCmd(GRABCTRL), field ? kKvxGrabCtlStartField : kKvxGrabCtlStart);
    Put(&cursor, GrabCmd(GRABCTRL), field ? kKvxGrabCtlIdleField : kKvxGrabCtlIdle);
    Put(&cursor, kArpOrloControl, ctl & ~kBit23);
    Put(&cursor, kArpControl, 3);
    Put(&cursor, kArpIntClear, 0x1000);
    Put(&cursor, GrabCmd(GRABCTRL), kKvxGrabCtlIdle);
    IdleSet(in, &cursor);
    Jump(in, &cursor, in.bank[0] + 520);

    cursor = in.bank[1] + 24 * option - 256;
    uint32_t target = in.bank[4] + 64;
    if (in.channel == 1 && Load32(in.bank[4] + 64) == 0) target = in.bank[4] + 312;
    Jump(in, &cursor, target);
}

// ---- per-node list state ---------------------------------------------------------------------

namespace {

// The lists of one channel on one Orlo grab area.
struct ChannelLists {
    _MP_BUF_ST* grab = nullptr;
    _MP_BUF_ST* dma = nullptr;
};

// What the grabs of a node keep between requests: the block count the lists were built
// for per channel, the list buffers, and the status record the module server reads
// (_NODE_ST word 255: word 1 the primary Orlo's status block, word 16 the display Orlo's).
struct NodeGrabState {
    uint32_t blocks[2] = {0, 0};
    ChannelLists lists[2][2];   // [grab area][channel]
    uint32_t statusRecord[32] = {};
    _NODE_MAIN_RESOURCE_ST* pinned = nullptr;   // the node record whose word 255 names it
};

std::mutex g_stateLock;
std::map<uint32_t, NodeGrabState>& States()
{
    // Never destroyed: a node's threads may still use it while the process ends.
    static std::map<uint32_t, NodeGrabState>& states = *new std::map<uint32_t, NodeGrabState>;
    return states;
}

NodeGrabState& StateOf(uint32_t node)
{
    return States()[node & 0xFF];
}

void FreeList(_MP_BUF_ST*& b)
{
    if (b && mp_buf_valid(b, kBufKindImage)) mp_buf_free(b);
    b = nullptr;
}

// A list buffer of `bytes` on the grab area's memory, filled with terminators; the old one is
// kept when it has the size, else freed.
_MP_BUF_ST* ListBuffer(uint32_t node, _MP_BUF_ST*& slot, uint32_t bytes, uint32_t location)
{
    if (slot && (!mp_buf_valid(slot, kBufKindImage) || static_cast<uint32_t>(slot->sizeX) != bytes ||
                 (slot->location & 0x7FFFFFFFu) != location))
        FreeList(slot);
    if (!slot) {
        slot = mp_buf_alloc_on_node(node, static_cast<int32_t>(bytes), 1, 1, kKvxPlainType, location);
        if (!slot) return nullptr;
        slot->kind = kBufKindImage;
    }
    clearMem(bytes, mp_buf_address_band_internal(slot, 0));
    return slot;
}

_MP_CAM_ST_1* Cam1(const DIGPARAM* p)
{
    if (!p->camera) return nullptr;
    return static_cast<_MP_CAM_ST_1*>(mp_buf_address_band_internal(p->camera, 0));
}

uint32_t Desc(const _MP_CAM_ST_1* cam, uint32_t standardInfo)
{
    return cam ? CamSlotAt(cam, KvxInfo(standardInfo))->value : 0;
}

uint32_t Location(const _MP_BUF_ST* b)
{
    return b ? b->location & 0x7FFFFFFFu : 0;
}

// A module register: its live shadow (channel 0's copy) and the hardware.
void ModuleWrite(uint32_t reg, uint32_t value, uint32_t shadowChannel = 0)
{
    if (uint8_t* shadow = mpPrvKvxShadow(shadowChannel)) {
        CamSlot* slot = CamSlotAt(shadow, reg);
        slot->value = (slot->value & ~0xFFFFu) | (value & 0xFFFF);
    }
    flushHw(KvxRegAddr(reg), static_cast<int32_t>(value & 0xFFFF));
}

uint32_t ModuleShadow(uint32_t reg, uint32_t channel = 0)
{
    const uint8_t* shadow = mpPrvKvxShadow(channel);
    return shadow ? CamSlotAt(shadow, reg)->value & 0xFFFF : 0;
}

constexpr uint32_t BtcReg(uint32_t base, uint32_t channel)
{
    return base + 0x80 * channel;
}
constexpr uint32_t kRegGdbuf = 0x18;
constexpr uint32_t kRegGwrpt = 0x30;
constexpr uint32_t kRegGrdpt = 0x38;
constexpr uint32_t kRegGline = 0x40;
constexpr uint32_t kRegGblck = 0x48;
constexpr uint32_t kRegDfull = 0x50;
constexpr uint32_t kRegDblck = 0x58;
constexpr uint32_t kRegStart = 0x60;
constexpr uint32_t kRegBmode = 0x298;
constexpr uint32_t kRegClksel = 0x268;
constexpr uint32_t kRegBypass = 0x238;

// The Orlo grab areas of the node that hold a bank: 0 primary, 1 display.
bool AreaUsable(const KVX_INFO* info, const _NODE_MAIN_RESOURCE_ST* record, uint32_t area)
{
    return info && record && info->bank[area][0].buffer && info->bank[area][4].buffer &&
           mp_servinfo(const_cast<_NODE_MAIN_RESOURCE_ST*>(record), area);
}

// The grab area whose Orlo places the blocks of a grab on the given path: the path's own
// area (0 board memory, 1 display memory), else the one area the node has.
uint32_t ServingArea(const KVX_INFO* info, const _NODE_MAIN_RESOURCE_ST* record, uint32_t pathIndex)
{
    const uint32_t own = pathIndex ? 1 : 0;
    return AreaUsable(info, record, own) ? own : 1 - own;
}

uint32_t OrloControl(_NODE_MAIN_RESOURCE_ST* record, uint32_t area)
{
    SERVINFO_ST* s = mp_servinfo(record, area);
    return s && s->shadow ? intsrv::Shadow(s, kOrloControl) : 0;
}

// The node whose lists are being built on this thread, for the builders' PCI addresses.
thread_local uint32_t t_listNode = 0;
uint32_t ListPci(uint32_t address)
{
    return mp_util_virtual_to_pci(t_listNode, address);
}

uint32_t PciOf(uint32_t node, const void* address)
{
    return mp_util_virtual_to_pci(node, Addr(address)) & kArpAddressMask;
}

// Either channel of the buffer controller digitises (FAF_TSTSTS bit 6).
bool ModuleDigitising()
{
    for (uint32_t c = 0; c < 2; ++c)
        if (ReadVExtRegHW(KvxRegAddr(KvxTestStatus(c))) & kTstActive) return true;
    return false;
}

}  // namespace

void mpPrvKvxByteL(DIGPARAM* p)
{
    p->grabMask = (Desc(Cam1(p), cam0::INFO_BITSPERLOGCH) & ~7u) == 24 ? 0x70000 : 0xF0000;
}

int setARP(DIGPARAM* p, uint32_t c)
{
    const _MP_CAM_ST_1* cam = Cam1(p);
    // The idle programs have room for channels 0 and 1 of bank buffer 4.
    // Mend: channels 2 and 3 are refused, so their idle programs are not written past bank buffer 4.
    if (!cam || !p->work || c > 1 || !p->record) return -1;
    auto* image = static_cast<uint32_t*>(p->work);
    KVX_BLOCK_PLAN plan{};
    if (mpPrvKvxPlan(Desc(cam, cam0::INFO_XSIZE), Desc(cam, cam0::INFO_YSIZE), Desc(cam, cam0::INFO_BITSPERLOGCH),
                     Desc(cam, cam0::INFO_MODE) == 1, &plan) != 0)
        return -1;
    KVX_INFO* info = mpPrvKvxInfo(p->node);
    if (!info) return -1;
    std::lock_guard<std::mutex> lock(g_stateLock);
    NodeGrabState& state = StateOf(p->node);

    // Step 5: a new plan stops the channel first; with neither channel running, both Orlos'
    // list engines are pointed at bank buffer 4 + 8, whose terminator stops them there.  An
    // engine is stopped before it is pointed anew: an Orlo takes the list address written
    // to a running engine only at its next start.
    //
    // The engine of the grab's Orlo is then started on the start-up list at bank buffer 1 +
    // 32512, whose first entry skips to the half without the doorbell: it waits for the
    // module and then follows its dispatch words.  (Nothing else starts it: the lists the
    // engines are pointed at hold no program, and the module only steers an engine that
    // runs.  Its second entry would ring the doorbell before any frame ended, which the
    // module server counts as the end of a continuous grab's frame.)  It starts afresh also
    // whenever neither channel digitises: a halted continuous grab leaves the engine inside
    // its old map, where the next grab's first block would be taken with the registers of
    // another block.
    // Mend: the serving engine restarts on the start-up list, so it is never left stopped or mid-map.
    //
    // Only the Orlo of the grab's path runs its lists: the module hands each block to the
    // first Orlo that takes it, and the other Orlo's lists would take blocks and place them
    // at the destination's address in their own memory, where it is not.  That Orlo's list
    // engine stays stopped.
    const bool newPlan = state.blocks[c] != plan.blocks && Desc(cam, cam0::INFO_MISC) == 0;
    if (newPlan && ModuleShadow(BtcReg(kRegStart, c))) ModuleWrite(BtcReg(kRegStart, c), 0);
    const bool stopped = !ModuleShadow(BtcReg(kRegStart, 0)) && !ModuleShadow(BtcReg(kRegStart, 1));
    const bool park = newPlan && stopped;
    if (park || !ModuleDigitising()) {
        const uint32_t serving = ServingArea(info, p->record, p->pathIndex);
        for (uint32_t area = 0; area < 2; ++area) {
            if (!AreaUsable(info, p->record, area)) continue;
            SERVINFO_ST* s = mp_servinfo(p->record, area);
            Set(s, kOrloGrabListControl, 0);
            if (park) {
                Set(s, kOrloGrabListPointer, PciOf(p->node, info->bank[area][4].address + 8));
                Set(s, kOrloGrabListControl, 1);
            }
            if (area != serving) continue;
            if (park) Set(s, kOrloGrabListControl, 0);
            Set(s, kOrloGrabListPointer, PciOf(p->node, info->bank[area][1].address + kKvxDummyOffset));
            Set(s, kOrloGrabListControl, 1);
        }
    }
    state.blocks[c] = plan.blocks;

    // Step 6.
    const KVX_BTC_VALUES v = mpPrvKvxBtcValues(plan);
    ModuleWrite(BtcReg(kRegGdbuf, c), v.gdbuf);
    ModuleWrite(BtcReg(kRegGwrpt, c), v.wrpt);
    ModuleWrite(BtcReg(kRegGrdpt, c), v.rdpt);
    ModuleWrite(BtcReg(kRegGline, c), v.gline);
    ModuleWrite(BtcReg(kRegGblck, c), v.gblck);
    ModuleWrite(BtcReg(kRegDfull, c), v.dfull);
    ModuleWrite(BtcReg(kRegDblck, c), v.dblck);

    // Step 7.
    mpPrvKvxPlanWindow(&plan, image[2 * grbimg::GVWSTART], image[2 * grbimg::GVWSTOP]);

    // Step 8: one pass, or two when the destination asks for no single pass; counted per
    // call, so a later grab always gets its lists.
    // Mend: no process-wide pass limit, so grabs after the fourth pass do not run on stale lists.
    int32_t single = 0;
    const int passes = p->destination && mp_buf_get_field(p->destination, kFieldListPasses, &single) == 0 ? 1 : 2;
    const bool firstArea = AreaUsable(info, p->record, 0);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t area = 0; area < 2; ++area) {
            if (!AreaUsable(info, p->record, area)) continue;
            const uint32_t location = area == 0 ? kLocSdram : kLocAutoDisplay;
            ChannelLists& lists = state.lists[area][c];
            _MP_BUF_ST* grab = ListBuffer(p->node, lists.grab, mpPrvKvxGrabListBytes(plan), location);
            _MP_BUF_ST* dma = ListBuffer(p->node, lists.dma, mpPrvKvxDmaListBytes(plan), location);
            if (!grab || !dma) {
                Log(p->res, HLC_ERR_NO_RESOURCES, nullptr);
                return -1;
            }
            KVX_LIST_INPUT in{};
            in.plan = &plan;
            in.image = image;
            in.bitsPerChannel = Desc(cam, cam0::INFO_BITSPERLOGCH);
            in.channel = c;
            in.count = p->args ? p->args->count : 1;
            in.orloControl = OrloControl(p->record, area);
            for (uint32_t e = 0; e < 5; ++e) in.bank[e] = Addr(info->bank[area][e].address);
            in.doorbellFirstBlock = area == 0 || !firstArea;
            // The second Orlo's end-of-frame programs ring the frame's doorbell (and the
            // first's when the node has no first Orlo).
            in.dmaDoorbell = area == 1;
            // The module register is written unless the grab runs on the second grab path.
            in.moduleAck = p->pathIndex + 1 != 2;
            t_listNode = p->node;
            in.pci = ListPci;
            grabARP(in, Addr(mp_buf_address_band_internal(grab, 0)));
            const uint32_t cursor = dmaARP(in, Addr(mp_buf_address_band_internal(dma, 0)));
            idARP(in, cursor, kKvxIdOption);
        }
    }

    // Step 9.
    const uint32_t clock = (ModuleShadow(BtcReg(kRegStart, 0)) || ModuleShadow(BtcReg(kRegStart, 1))) ? 10 : 9;
    if (ModuleShadow(kRegClksel) != clock) ModuleWrite(kRegClksel, clock);
    return 0;
}

int grbSetKvx(DIGPARAM* p, uint32_t c)
{
    const _MP_CAM_ST_1* cam = Cam1(p);
    KVX_INFO* info = mpPrvKvxInfo(p->node);
    if (!cam || !info || !p->record || !p->work) return -1;
    auto* image = static_cast<uint32_t*>(p->work);
    const uint32_t kind = Location(p->destination);
    const bool skipSecond = kind == kLocSdram || kind == kLocHostDma;

    // Step 1: a stopped engine is released with the grab data's grab-control word.
    uint32_t grabControlRead = 0;
    const uint32_t grabWord = image[2 * grbimg::GRABCTRL];
    for (uint32_t area = 0; area < 2; ++area) {
        if (!AreaUsable(info, p->record, area) || (area == 1 && skipSecond)) continue;
        SERVINFO_ST* s = mp_servinfo(p->record, area);
        const uint32_t gctl = Read(s, kOrloGrabControl);
        if (area == 0 || grabControlRead == 0) grabControlRead = gctl;
        if (!(gctl & 0x2) && (gctl & 0x1)) {
            Set(s, kOrloGrabControl, (grabWord & ~0x6u) | 0x1);
            Set(s, kOrloGrabControl, grabWord & ~0x7u);
        }
    }

    // Step 2.
    const bool bypass = ModuleShadow(kRegBypass) == 1;
    if (bypass) {
        ModuleWrite(kRegBmode, ModuleShadow(kRegBmode) & ~0xFu);
    } else if (setARP(p, c) != 0) {
        Log(p->res, HLC_ERR_RESTRICTED, nullptr);
        return -1;
    }
    // Step 3.
    const uint32_t misc = Desc(cam, cam0::INFO_MISC);
    if (misc == 1) return 0;

    // Step 4: the idle grab set on every Orlo in use, the second Orlo's list address and
    // control, then the grab control on every Orlo in use.  The second Orlo's engine runs
    // its start-up list already when it serves the grab (setARP): it takes the address at
    // its next start.
    for (uint32_t area = 0; area < 2; ++area) {
        if (!AreaUsable(info, p->record, area) || (area == 1 && skipSecond) || bypass) continue;
        SERVINFO_ST* s = mp_servinfo(p->record, area);
        using namespace grbimg;
        const uint32_t bank0 = PciOf(p->node, info->bank[area][0].address + 2);
        const std::pair<uint32_t, uint32_t> idle[] = {
            {kOrloGPIXFMT, 0x160}, {kOrloGTAGCTL, 0}, {kGrabRegOffset[GC1TOFF], 0}, {kGrabRegOffset[GC2TOFF], 0},
            {kGrabRegOffset[GC3TOFF], 0}, {kOrloGTLPITCH, 0}, {kOrloGFSTART, bank0}, {kGrabRegOffset[GC1FOFF], 0x108},
            {kGrabRegOffset[GC2FOFF], 0}, {kGrabRegOffset[GC3FOFF], 0}, {kOrloGLPITCH, 0x100}, {kOrloGBLENGTH, 5},
            {kOrloGHSCLNG, 0}, {kOrloGVSCLNG, 0}, {kOrloGHWSTART, 0}, {kOrloGHWSTOP, 0xFF}, {kOrloGHTOTAL, 0xFE},
            {kOrloGVWSTART, 0}, {kOrloGVWSTOP, 0}, {kOrloGVTOTAL, 0}, {kOrloGLNINT, 0}};
        for (const auto& r : idle) Set(s, r.first, r.second);
        if (area == 1) {
            Set(s, kOrloGrabListPointer,
                mp_util_virtual_to_pci(p->node, Addr(info->bank[area][4].address)) & kArpPointerMask);
            Set(s, kOrloGrabListControl, 1);
        }
    }
    for (uint32_t area = 0; area < 2; ++area) {
        if (!AreaUsable(info, p->record, area) || (area == 1 && skipSecond)) continue;
        Set(mp_servinfo(p->record, area), kOrloGrabControl, bypass ? image[2 * grbimg::GRABCTRL] : kKvxGrabCtlIdle);
    }
    // The second Orlo takes no part in a grab into board or host memory.
    if (skipSecond && AreaUsable(info, p->record, 1)) intsrv::Modify(mp_servinfo(p->record, 1), kOrloControl, kBit23, 0);

    // The slot the start and end events of this channel work on.
    if (p->path) {
        const int32_t count = p->args ? p->args->count : 1;
        disableExtInt(p->node);
        SERVINFO_ST* s = p->path;
        s->slot(c, kSlotRemaining) = static_cast<uint32_t>(count);
        s->slot(c, kSlotRequested) = static_cast<uint32_t>(count);
        s->slot(c, kSlotSyncNext) = Addr(p->sync);
        s->slot(c, kSlotThreadNext) = p->thread ? Addr(mp_buf_pointer(p->thread->id)) : 0;
        s->slot(c, kSlotSingleNext) = count == 1 ? 1 : 0;
        s->slot(c, kSlotChannelBitsNext) = p->grabMask;
        if (p->sync && mp_buf_valid(p->sync, kBufKindSync))
            mp_osb_update_state(static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(p->sync, 0)), kSyncReady);
        enableExtInt(p->node);
    }

    // Step 5.
    ModuleWrite(BtcReg(kRegStart, c), 1);
    // Step 6.
    uint32_t bmode = ModuleShadow(kRegBmode);
    const uint32_t bytes = p->destination ? (p->destination->bits + 7) / 8 : 1;
    const uint32_t shift = c ? 2 : 0;
    if (bytes == 4) {
        bmode = (bmode & ~0x1Fu) | 0x3 | 0x10;
    } else if (bytes == 3 && (kind == kLocDisplay0 || kind == kLocDisplay2M || kind == kLocDisplay4M)) {
        bmode = (bmode & ~(0x3u << shift)) | (1u << shift);
    } else {
        bmode = (bmode & ~(0x3u << shift)) | (((Desc(cam, cam0::INFO_XTAPSPERCHADJ) * bytes) & 3) << shift);
    }
    ModuleWrite(kRegBmode, bmode & 0xFF);
    // Step 7.
    if (misc == 4 && (grabControlRead & 0x2)) return 0;
    // Step 8: start the channel.
    const uint32_t control = KvxGrabControl(c);
    uint8_t* shadow = mpPrvKvxShadow(c);
    uint32_t word = shadow ? CamSlotAt(shadow, cam1::FAF_GRBCTL0)->value & 0xFFFF : 0;
    const int32_t count = p->args ? p->args->count : 1;
    if (count == 1) {
        word |= kGrb0Single;
        flushHw(KvxRegAddr(control), static_cast<int32_t>(word));
        word &= ~kGrb0Single;
    } else {
        word |= kGrb0Continuous;
        flushHw(KvxRegAddr(control), static_cast<int32_t>(word));
    }
    if (shadow) CamSlotAt(shadow, cam1::FAF_GRBCTL0)->value = word;
    return 0;
}

void mpPrvKvxGrabFree(uint32_t node)
{
    std::lock_guard<std::mutex> lock(g_stateLock);
    auto it = States().find(node & 0xFF);
    if (it == States().end()) return;
    for (auto& area : it->second.lists)
        for (ChannelLists& l : area) {
            FreeList(l.grab);
            FreeList(l.dma);
        }
    _NODE_MAIN_RESOURCE_ST* record = it->second.pinned;
    if (record && record->nodeState && record->nodeState->kvxStatus == Addr(it->second.statusRecord))
        record->nodeState->kvxStatus = 0;
    States().erase(it);
}

void mpPrvKvxPinStatus(uint32_t node, _NODE_MAIN_RESOURCE_ST* record)
{
    if (!record) record = mp_sys_node_resource_ptr(node & 0xFF);
    KVX_INFO* info = mpPrvKvxInfo(node);
    if (!record || !record->nodeState || !info) return;
    std::lock_guard<std::mutex> lock(g_stateLock);
    NodeGrabState& state = StateOf(node);
    state.statusRecord[1] = Addr(info->bank[0][0].address);
    state.statusRecord[16] = Addr(info->bank[1][0].address);
    state.pinned = record;
    record->nodeState->kvxStatus = Addr(state.statusRecord);
}

// ---- the request -----------------------------------------------------------------------------

namespace {

int ChannelIndex(uint32_t selection)
{
    switch (selection) {
    case 0x10000: return 0;
    case 0x20000: return 1;
    case 0x40000: return 2;
    case 0x80000: return 3;
    default: return -1;
    }
}

uint32_t DigitizerNode(const DIGPARAM* p)
{
    const uint32_t node = p->digInfo ? p->digInfo[kDigWordNode] & 0xFF : 0;
    return node ? node : p->node;
}

// The second record's description and Orlo grab registers in a standard record's places, for
// the register image the standard programming computes.
void Translate(const _MP_CAM_ST_1* from, _MP_CAM_ST_0* to)
{
    std::memset(to, 0, sizeof *to);
    for (uint32_t off = cam0::INFO_XSIZE; off <= cam0::INFO_MISC; off += 8)
        *CamSlotAt(to, off) = *CamSlotAt(from, off + cam1::kInfoToStandard);
    for (uint32_t off = cam0::ORLOGREG_GHCOUNT; off <= cam0::ORLOGREG_GTLPITCH; off += 8)
        *CamSlotAt(to, off) = *CamSlotAt(from, off + cam1::kOrloToStandard);
}

// The camera's channels as a mask: a record holds the number of logical channels (1-4 give
// 0x10000, 0x30000, 0x70000, 0xF0000); a value that is a mask already stays.
uint32_t CameraChannels(uint32_t value)
{
    switch (value) {
    case 1: return 0x10000;
    case 2: return 0x30000;
    case 3: return 0x70000;
    case 4: return 0xF0000;
    default: return value;
    }
}

}  // namespace

int32_t mpPrvKvxSetDig(DIGPARAM* p, uint32_t selection, int reload)
{
    if (!p->digInfo) return 0;
    // The channel taking of the standard family without its comparison: the only question is
    // whether this digitizer's camera was the last one loaded.
    const bool sameCamera = p->digInfo[kDigWordLastLoaded] == p->digId;
    if (grbSetDig(p, selection, 1, 0) != 0) return -1;
    if (reload) return 0;
    const int channel = ChannelIndex(selection);
    if (channel < 0) {
        Log(p->res, HLC_ERR_RESTRICTED, kTextInvalidChannel);
        return -1;
    }
    const int32_t mode = sameCamera ? (p->newChannels ? kKvxLoadAdded : kKvxLoadSame) : kKvxLoadOther;
    uint32_t token = 0;
    SetToOrlo(p->node, p->pathIndex, &token);
    SetToExt(DigitizerNode(p));
    const int result = mp_kvx_load(Cam1(p), nullptr, static_cast<uint32_t>(channel), mode);
    ReleaseAccessOrlo();
    if (result == -1) {
        Log(p->res, HLC_ERR_RESTRICTED, kTextLoad);
        // Mend: a failed download forgets the loaded camera, so the next grab downloads it again in full.
        p->digInfo[kDigWordLastLoaded] = 0;
    }
    return result;
}

int32_t mpPrvKvxSetOrlo(DIGPARAM* p, uint32_t selection, int32_t option)
{
    const int channel = ChannelIndex(selection & 0xF0000);
    if (channel < 0) {
        Log(p->res, HLC_ERR_RESTRICTED, kTextInvalidChannel);
        return -1;
    }
    if (!p->destination) {
        Log(p->res, HLC_ERR_NO_RESOURCES, nullptr);
        return -1;
    }
    const _MP_CAM_ST_1* cam = Cam1(p);
    if (!cam) return -1;
    // The register image of the grab, computed on a standard view of the record (for display
    // memory its frame addresses are the display Orlo's own already).
    auto view = std::make_unique<_MP_CAM_ST_0>();
    Translate(cam, view.get());
    _MP_CAM_ST_0* own = p->cam;
    p->cam = view.get();
    uint32_t* image = grbComputeImage(p, option);
    p->cam = own;
    if (!image) return -1;
    image[2 * grbimg::GRABCTRL] = (image[2 * grbimg::GRABCTRL] | 0x2) & ~0x24u;
    uint32_t token = 0;
    SetToOrlo(p->node, p->pathIndex, &token);
    SetToExt(DigitizerNode(p));
    const int result = grbSetKvx(p, static_cast<uint32_t>(channel));
    ReleaseAccessOrlo();
    return result == 0 ? 0 : -1;
}

int32_t mpDigGrab_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                        int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase)
{
    if (!res) return -1;
    DIGPARAM p{};
    const MpGrabArgs args{count, options, sync, phase};
    mpPrvInitGrabParams(&p, res, digitizer, camera, destination, options, sync, &args);
    if (digitizer && !p.digInfo) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return -1;
    }
    if (!destination || Addr(destination) < kPredefEntries || !mp_buf_valid(destination, kBufKindImage)) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return -1;
    }
    if (camera && (!mp_buf_valid(camera, kBufKindCamera) ||
                   camera->sizeX * camera->sizeY < static_cast<int32_t>(cam1::kRecordBytes))) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return -1;
    }
    // The transfer lists place each block through the Orlo's grab registers, whose
    // addresses reach only the board's own memory: a host-memory destination would take
    // no pixel and never end.
    // Mend: a host-memory destination is refused with -14, so the grab cannot wait without end.
    const uint32_t location = Location(destination);
    if (location == kLocHostDma) {
        Log(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return -1;
    }
    // Grab path as the standard family chooses it.
    p.pathIndex = 1;
    if (location == kLocSdram || (location == kLocHostDma && p.nodeInfo && p.nodeInfo[kNodeInfoHostGrabFirstPath]))
        p.pathIndex = 0;
    if (p.record) p.path = mp_servinfo(p.record, p.pathIndex);
    // A display heap this node does not grab into itself is grabbed by the display node.
    int32_t forwardedResult = 0;
    if (mpPrvGrabOnDisplayNode(&p, location, p.nodeInfo && p.nodeInfo[kNodeInfoLocalGrab], phase, &forwardedResult))
        return forwardedResult;
    int32_t camProg = kGrabFieldDefault;
    if (options) mp_buf_get_field(options, kGrabFieldCamProg, &camProg);
    p.camProg = camProg;
    const _MP_CAM_ST_1* cam = Cam1(&p);
    int32_t selection = kGrabFieldDefault;
    if (options) mp_buf_get_field(options, kGrabFieldChannel, &selection);
    p.channelSel = selection == kGrabFieldDefault ? CameraChannels(Desc(cam, cam0::INFO_CHANNEL))
                                                  : static_cast<uint32_t>(selection);
    if (p.thrGrab && (phase == kGrabPhaseAll || phase == kGrabPhaseForwarded)) {
        disableExtInt(p.node);
        p.thrGrab->location = destination->location;
        TaskBeginMutex();
        ++p.thrGrab->count;
        TaskEndMutex();
        p.countAdded = 1;
        enableExtInt(p.node);
    }

    const bool module = cam && p.moduleWord;
    if (module) {
        mpPrvKvxByteL(&p);
        if (phase == kGrabPhaseAll || phase == kGrabPhaseDigitizer || phase == kGrabPhaseForwarded ||
            p.camProg != kGrabFieldDefault) {
            if (mpPrvKvxSetDig(&p, p.channelSel, p.camProg != kGrabFieldDefault) == -1) {
                cleanGrab(&p);
                return -1;
            }
        }
    }
    if (phase == kGrabPhaseAll || phase == kGrabPhaseOrlo || phase == kGrabPhaseForwarded) {
        if (!cam) Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        if (!cam || mpPrvKvxSetOrlo(&p, p.channelSel, p.camProg) == -1) {
            cleanGrab(&p);
            return -1;
        }
    }
    std::free(p.work);
    return 0;
}

// ---- start, end and halt ---------------------------------------------------------------------

void mpPrvUpdateSoG_Async(SERVINFO_ST* state, uint32_t slot)
{
    mpPrvUpdateSoG_Std(state, slot);
}

namespace {

// Register accesses of an interrupt server's handlers go to the module behind its Orlo.
void SelectModule(const SERVINFO_ST* s)
{
    SetToOrlo(s->node & 0xFF, s->index, nullptr);
    SetToExt(s->node & 0xFF);
}

// The channel's timing chip still grabs (FAF_TSTSTS bit 6).
bool ModuleActive(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kKvxChannels) return false;
    SelectModule(s);
    return (ReadVExtRegHW(KvxRegAddr(KvxTestStatus(c))) & kTstActive) != 0;
}

// Aborts the channel's grab and ends its continuous mode: the module grabs no further frame.
void StopChannel(uint32_t channel, uint8_t* shadow)
{
    CamSlot* control = CamSlotAt(shadow, cam1::FAF_GRBCTL0);
    const uint32_t word = ((control->value & 0xFFFF) | kGrb0Abort) & ~kGrb0Continuous;
    flushHw(KvxRegAddr(KvxGrabControl(channel)), static_cast<int32_t>(word));
    control->value = word & ~kGrb0Abort;
}

// A deferred halt ends the sequence at the end of the grab in flight: the module stops too.
void ModuleStop(SERVINFO_ST* s, uint32_t c)
{
    if (!s || c >= kKvxChannels) return;
    SelectModule(s);
    if (uint8_t* shadow = mpPrvKvxShadow(c)) StopChannel(c, shadow);
}

// The module's continuous mode ends: the frame it digitises is its last.
void ModuleLastFrame(SERVINFO_ST* s, uint32_t c)
{
    uint8_t* shadow = mpPrvKvxShadow(c);
    if (!shadow) return;
    CamSlot* control = CamSlotAt(shadow, cam1::FAF_GRBCTL0);
    if (!(control->value & kGrb0Continuous)) return;
    SelectModule(s);
    control->value &= ~kGrb0Continuous;
    flushHw(KvxRegAddr(KvxGrabControl(c)), static_cast<int32_t>(control->value & 0xFFFF));
}

}  // namespace

void mpPrvUpdateEoG_Async(SERVINFO_ST* state, uint32_t slot)
{
    mpPrvUpdateEoG_With(state, slot, ModuleActive, ModuleStop);
    // A grab of several frames runs the module continuous.  Once its last frame has begun
    // (nothing left to start, the last one in flight) the module ends with that frame, so
    // that no frame follows it into the destination.
    // Mend: the module leaves continuous mode with the last frame, so no extra frame overwrites the destination.
    if (state && slot < kKvxChannels && static_cast<int32_t>(state->slot(slot, kSlotRequested)) > 1 &&
        state->slot(slot, kSlotRemaining) == 0 && state->slot(slot, kSlotInFlight))
        ModuleLastFrame(state, slot);
}

void mpPrvHalt_Async(MP_THREAD_ST* thread, int32_t mode)
{
    MP_THR_GRAB_ST* g = mp_thr_grab_record(thread);
    if (!thread || !g || !g->location) return;
    const uint32_t node = thread->node & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    if (!record) return;
    // The module has no VM transfers to stop: the quiet halt is the immediate one.
    if (mode == kHaltNowQuiet) mode = kHaltNow;
    const uint32_t location = g->location & 0x7FFFFFFFu;
    const bool host = location == kLocHostDma;
    const uint32_t pathIndex = location == kLocSdram ? 0 : (host && g->path == 1 ? 0 : 1);
    SERVINFO_ST* s = mp_servinfo(record, pathIndex);
    if (!s) return;
    const uint32_t me = Addr(mp_buf_pointer(thread->id));
    SetToOrlo(node, pathIndex, nullptr);
    SetToExt(node);
    for (uint32_t c = 0; c < 2; ++c) {
        const uint32_t current = s->slot(c, kSlotThreadCurrent);
        const uint32_t next = s->slot(c, kSlotThreadNext);
        if (current != me && next != me) continue;
        uint8_t* shadow = mpPrvKvxShadow(c);
        if (!shadow) continue;
        disableExtInt(node);
        const uint32_t status = ReadVExtRegHW(KvxRegAddr(KvxTestStatus(c)));
        CamSlot* control = CamSlotAt(shadow, cam1::FAF_GRBCTL0);
        const uint32_t controlWord = control->value & 0xFFFF;
        if (!(status & (kTstActive | kTstArmed)) && !(controlWord & kGrb0Continuous)) {
            enableExtInt(node);
            continue;
        }
        // A grab in flight that another thread armed is only marked: its end stops it.
        const bool inFlight = (status & kTstActive) != 0;
        const bool endless = s->slot(c, kSlotInFlight) && static_cast<int32_t>(s->slot(c, kSlotRemaining)) == -1;
        bool extraEnd = false;
        if (inFlight && ((status & kTstArmed) || endless)) {
            const bool other = (current && current != me) || ((controlWord & kGrb0Continuous) && next && next != me);
            if (other) {
                s->slot(c, kSlotDeferred) |= kDeferHalt;
                enableExtInt(node);
                continue;
            }
            if (mode == kHaltNow) extraEnd = true;
        }
        // Abort an immediate halt; either way the channel grabs no further frame.
        const bool now = mode == kHaltNow || (mode == kHaltAtEnd && !inFlight);
        uint32_t word = controlWord;
        if (now) word |= kGrb0Abort;
        word &= ~kGrb0Continuous;
        flushHw(KvxRegAddr(KvxGrabControl(c)), static_cast<int32_t>(word));
        control->value = word & ~kGrb0Abort;
        // The events the stopped channel still owes; a continuous sequence ends here.  The
        // channel's start and end reach the servers only through the module's status block:
        // the Orlo's start- and end-of-grab bits follow every block the lists move and
        // announce no event, so none counts as pending.
        const bool startSeen = false;
        const bool endSeen = false;
        const bool wasEndless = static_cast<int32_t>(s->slot(c, kSlotRemaining)) == -1;
        if (wasEndless) s->slot(c, kSlotRemaining) = 1;
        const HALT_OWED owed = mpPrvHaltOwed(mode, startSeen, endSeen, inFlight, endless, wasEndless, extraEnd);
        if (owed.repeat) s->slot(c, kSlotDeferred) |= kDeferRepeat;
        enableExtInt(node);
        if (owed.repeat) continue;
        TaskYield(-1);
        if (owed.start) mpPrvUpdateSoG_Async(s, c);
        if (owed.end) mpPrvUpdateEoG_Async(s, c);
        if (owed.extraEnd) mpPrvUpdateEoG_Async(s, c);
    }
}
