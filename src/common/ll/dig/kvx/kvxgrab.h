// Grabs of the second grab-module family.  The module digitises into its own line buffers
// (buffer-controller registers BTC_*, started through FAF_GRBCTL0); transfer lists that the
// Orlo's list engines run move each block of lines from the module to the destination.
//
// setARP plans the blocks of a grab (line bytes, lines per block, blocks, lists), writes
// the buffer controller of the channel and builds the lists: grabARP (one program per
// block behind a map of jumps), dmaARP (the end-of-block programs) and idARP (the idle
// program the engine returns to).  The request itself fills the grab request record
// (grabrequest.h) and follows the standard family's channel taking (grab.h) with the second
// family's download.
//
// Threads: the command-server task of the grab request, with the Orlo protect lock and the
// module's register window taken by the request; the start, end and halt handlers run on
// the interrupt servers and the halt server of the same node.  The per-node list state is
// guarded by its own lock.
#pragma once

#include "hlc_arch.h"
#include "kvxbank.h"

#include <cstdint>

struct DIGPARAM;
struct MP_RESOURCE_ST;
struct MP_THREAD_ST;
struct SERVINFO_ST;
struct _MP_BUF_ST;
struct _MP_CAM_ST_1;
struct _NODE_MAIN_RESOURCE_ST;

// Limits of one grab's lists.
constexpr uint32_t kKvxMaxBlocks = 4064;
constexpr uint32_t kKvxMaxLists = 992;
constexpr uint32_t kKvxBlockBytesMax = 16384;   // one block fits the module's line buffer
// The list-build option of idARP (places the last jump at bank buffer 1 + 24 x 4096 - 256,
// the second start-up list).
constexpr uint32_t kKvxIdOption = 4096;
// The maps the module steers the list engine through, in bank buffer 1: the grab map of
// channel c at 32768 x c (one jump per block; the module's grab dispatch word at bank
// buffer 0 + 520 names the entry of the block it has ready), the end-of-frame map 64 KB
// further (the dispatch word at bank buffer 0 + 256).
constexpr uint32_t kKvxMapStride = 32768;
constexpr uint32_t kKvxDmaMapOffset = 65536;
// Where a grab's map goes on after its last block: the start-up list (bank buffer 1 +
// 32512), whose halves take the last block and follow the end-of-frame dispatch; its
// second entry's half rings the doorbell, for lists whose end-of-frame programs do not.
constexpr uint32_t kKvxFrameEndEntry = 8;

// List commands of the Orlo grab and VM registers.
constexpr uint32_t kArpGrabReg = 0x2001800;     // + 8 x (GHSCLNG, GHTOTAL, ... GVWSTOP)
constexpr uint32_t kArpVmReg = 0x2002808;       // + 8 x (GBLENGTH, GC1FOFF, ... GTLPITCH)
constexpr uint32_t kArpModuleReg = 0x2080450;   // a module-side register (value 1)
constexpr uint32_t kKvxGrabCtlStart = 0xCD381B;
constexpr uint32_t kKvxGrabCtlIdle = 0xCD381A;
constexpr uint32_t kKvxGrabCtlStartField = 0xCD751B;
constexpr uint32_t kKvxGrabCtlIdleField = 0xCD751A;

// ---- block plan --------------------------------------------------------------------------
struct KVX_BLOCK_PLAN {
    uint32_t lineBytes;     // L: a line in bytes, a multiple of 4
    uint32_t lines;         // n: lines per block
    uint32_t blocks;        // B
    uint32_t blockBytes;    // n x L
    uint32_t perHalfMeg;    // blocks per 512 KB
    uint32_t lists;         // lists needed, at least 1
    uint32_t interlaced;    // 1 for an interlaced camera
    uint32_t bytesPerPixel;
    // Window blocks (setWindow).
    uint32_t startBlock;
    uint32_t startRemainder;
    uint32_t endBlock;
    uint32_t endRemainder;
};

// Steps 1-4 of the plan from the width, height and bits per logical channel: 0, or -1 for a
// line that holds no whole block (width 0 or a line above 16384 bytes), or more than 4064
// blocks or 992 lists.
int mpPrvKvxPlan(uint32_t width, uint32_t height, uint32_t bitsPerChannel, uint32_t interlaced, KVX_BLOCK_PLAN* plan);
// The window's first and last block and their remainders from the grab window's first and
// last line.
void mpPrvKvxPlanWindow(KVX_BLOCK_PLAN* plan, uint32_t firstLine, uint32_t lastLine);

// Buffer-controller values of a channel for a plan.
struct KVX_BTC_VALUES {
    uint32_t gdbuf, wrpt, rdpt, gline, gblck, dfull, dblck;
};
KVX_BTC_VALUES mpPrvKvxBtcValues(const KVX_BLOCK_PLAN& plan);

// ---- list building -------------------------------------------------------------------------
// What the builders need of one grab: the plan, the grab register image (grabimage.h
// layout), the bank, the Orlo's control word and the grab's kind.
struct KVX_LIST_INPUT {
    const KVX_BLOCK_PLAN* plan;
    const uint32_t* image;       // grab register image (grbimg slots)
    uint32_t bitsPerChannel;     // DESCRIPTION_INFO_BITSPERLOGCH
    uint32_t channel;            // 0 or 1
    int32_t count;               // frames; -1 continuous
    uint32_t orloControl;        // the Orlo's control word (register 0x2020)
    uint32_t bank[5];            // addresses of the bank's five buffers
    bool doorbellFirstBlock;     // the first block rings the doorbell
    bool dmaDoorbell;            // the end-of-block programs ring the doorbell
    bool moduleAck;              // the end-of-block programs write the module register
    uint32_t (*pci)(uint32_t address);   // PCI address of a list position (convertAddr without)
};

// Builds the grab program into the list buffer at `list` (blocks x 256 + 240 bytes, filled
// with terminators), one program per block, and the channel's grab map in bank buffer 1
// (kvxGrabMap) with a jump into each.  The cursor after the last program.
uint32_t grabARP(const KVX_LIST_INPUT& in, uint32_t list);
// The end-of-frame programs into the second list buffer, entries 0 and 1 of the channel's
// end-of-frame map jumping into them: the cursor after them.
uint32_t dmaARP(const KVX_LIST_INPUT& in, uint32_t list);
// The channel's grab map and end-of-frame map.
uint32_t kvxGrabMap(const KVX_LIST_INPUT& in);
uint32_t kvxDmaMap(const KVX_LIST_INPUT& in);
// The id program at the cursor, its idle part in bank buffer 4 and the last jump of the
// option's start-up list.
void idARP(const KVX_LIST_INPUT& in, uint32_t cursor, uint32_t option);
// Bytes of a grab program list and of an end-of-block list for a plan.
uint32_t mpPrvKvxGrabListBytes(const KVX_BLOCK_PLAN& plan);
uint32_t mpPrvKvxDmaListBytes(const KVX_BLOCK_PLAN& plan);

// ---- the grab ------------------------------------------------------------------------------
// Channel mask of a grab: 0x70000 for 24 bits per logical channel, else 0xF0000.
void mpPrvKvxByteL(DIGPARAM* p);
// Plans, writes the buffer controller and builds the lists for a channel (0 or 1): 0 or -1.
int setARP(DIGPARAM* p, uint32_t channel);
// Builds the lists and starts the module's channel: 0 or -1 (logged).
int grbSetKvx(DIGPARAM* p, uint32_t channel);
// Channel locks and the camera download: 0, the download's result, or -1 (logged).
int32_t mpPrvKvxSetDig(DIGPARAM* p, uint32_t selection, int reload);
// The Orlo phase: 0 or -1 (logged).
int32_t mpPrvKvxSetOrlo(DIGPARAM* p, uint32_t selection, int32_t option);

int32_t mpDigGrab_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                        int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase);

// Start and end of grab and halt of the family.
void mpPrvUpdateSoG_Async(SERVINFO_ST* state, uint32_t slot);
void mpPrvUpdateEoG_Async(SERVINFO_ST* state, uint32_t slot);
void mpPrvHalt_Async(MP_THREAD_ST* thread, int32_t mode);

// Frees the node's list buffers and its status record (node shut-down).
void mpPrvKvxGrabFree(uint32_t node);
// Points _NODE_ST word 255 at the node's status record, whose word 1 and word 16 name the
// status blocks of the primary and display Orlo: bank buffer 0 of each bank, into which the
// module's buffer controller writes its per-channel field counts (16-bit at byte 0x128 +
// 0x20 x channel).  The module server reads them at each event.
void mpPrvKvxPinStatus(uint32_t node, _NODE_MAIN_RESOURCE_ST* record = nullptr);
