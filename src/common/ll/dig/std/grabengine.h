// The Orlo phase of a standard-family grab: the grab-engine registers of one grab are
// computed into a register image from the camera record, the destination buffer and the
// grab control fields (keys 10000-10032), written through the Orlo shadows, and the grab
// is armed on slot 0 of the grab path, which the start- and end-of-grab events then work on.
//
// Every function runs on the command-server task that serves the grab request and takes
// the request's DIGPARAM.  Shadows and registers change while the request holds the Orlo
// protect lock; the grab control and the slot are armed with the node's external interrupt
// disabled, so an end-of-grab event never sees a half-armed slot.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct DIGPARAM;
struct WININFO_ST;

// ---- register image --------------------------------------------------------------------
// 106 words allocated per grab request (the request's work allocation, freed by the
// request when it ends or fails).  Words 0-51: 26 slots {value, flags} of the Orlo grab
// registers in the order below; words 52-101: 25 slots of the VM-engine registers a host
// grab uses; words 102-105 the line-interrupt kind, lines per millisecond, window end line
// and the tag buffer (descriptor).
constexpr uint32_t kGrbImageWords = 106;
constexpr uint32_t kGrbImageBytes = kGrbImageWords * 4;

namespace grbimg {
// Slot index (word = 2 x index) of each grab register in the image.
enum GrabReg : uint32_t {
    GHSCLNG = 0,
    GHTOTAL,
    GHWSTART,
    GHWSTOP,
    GLNINT,
    GPIXFMT,
    GRABCTRL,
    GVSCLNG,
    GVTOTAL,
    GVWSTART,
    GVWSTOP,
    GARPADDR,
    GARPCTRL,
    GSTATUS,
    GBLENGTH,
    GC1FOFF,
    GC1TOFF,
    GC2FOFF,
    GC2TOFF,
    GC3FOFF,
    GC3TOFF,
    GDWRTMSK,
    GFSTART,
    GLPITCH,
    GTAGCTL,
    GTLPITCH,
    kGrabRegs
};
static_assert(kGrabRegs == 26, "26 grab registers");

// Orlo byte offset of each grab register, in image order.
extern const uint32_t kGrabRegOffset[kGrabRegs];

constexpr uint32_t kVmFirstWord = 52;      // 25 VM-engine slots, words 52-101
constexpr uint32_t kVmSlots = 25;
constexpr uint32_t kVmRestartWord = 76;    // bits 4-7: VM restart mode (15 = none)
constexpr uint32_t kVmControlWord = 86;    // host grab: VM control bits
constexpr uint32_t kVmListWord = 58;       // host grab: bits 0-2 set
constexpr uint32_t kLineKindWord = 102;
constexpr uint32_t kLinesPerMsWord = 103;
constexpr uint32_t kWindowEndWord = 104;
constexpr uint32_t kTagBufferWord = 105;

// Value word of a grab register's slot.
inline uint32_t& Reg(uint32_t* image, GrabReg r)
{
    return image[2 * r];
}
inline uint32_t& Flags(uint32_t* image, GrabReg r)
{
    return image[2 * r + 1];
}
}  // namespace grbimg

// The "default" marker of grab control values.
constexpr int32_t kGrbDefault = 0x10000000;
// Grab control of a grab without a camera record (before the fixed bits are applied).
constexpr uint32_t kGrbNoCameraControl = 276504;

// Grab control bits used by the programming.
constexpr uint32_t kGctlStop = 0x1;          // bit 0: engine stopped
constexpr uint32_t kGctlContinuous = 0x2;    // bit 1
constexpr uint32_t kGctlSingle = 0x4;        // bit 2
constexpr uint32_t kGctlFrame = 0x4000;      // bit 14: frame mode
// Grab status bits: 4 a frame in flight, 5 armed.
constexpr uint32_t kGstatInFlight = 0x10;
constexpr uint32_t kGstatArmed = 0x20;
// Interrupt register bits: 12 start of grab, 13 end of grab.
constexpr uint32_t kIntStartOfGrab = 0x1000;
constexpr uint32_t kIntEndOfGrab = 0x2000;

// ---- operations --------------------------------------------------------------------------
// Orlo phase of a grab request: 0, or -1 with the error logged in the request resource.
// `option` is grab control field 10033 (kGrbDefault when absent).  A destination in host
// DMA memory with a camera record is grabbed through the temporary buffers (hostgrab.h).
int grbSetOrlo(DIGPARAM* dp, uint32_t channels, int32_t option);

// The number of channels (bits 16-19) a channel mask selects.
inline uint32_t mpPrvChannelCount(uint32_t mask)
{
    uint32_t n = 0;
    for (uint32_t bit = 0x10000; bit <= 0x80000; bit <<= 1)
        if (mask & bit) ++n;
    return n;
}
// Fills the request's register image (host: the VM words for a host grab too).
void grbInitSh(DIGPARAM* dp, int host, int32_t option);
// Walks the grab control fields and computes the registers: 0 or -1 (logged).
// *hostReady is set when a host grab was queued behind a running one (the registers are
// then left as they are).
int grbUpdtSh(DIGPARAM* dp, int* hostReady);
// Writes the image to the shadows and the registers: 0, or -1 (logged -11) when the grab
// register-list engine does not become idle in time.
int grbLoadSh(DIGPARAM* dp, int host, int32_t option);
// Pixel format of the destination for the channel selection into *pixfmt (in: the seed
// bits 10-12; out: the whole value): 0 or -1 (logged -9).  `order` is field 10001.
int grbPixFormat(DIGPARAM* dp, uint32_t channels, uint32_t* pixfmt, int32_t order);
// The grab window from the camera, the destination and the window fields already put in
// `window` by the field walk: 0 or -1 (logged -8 or -9); *clipped set when cut to the
// destination.
int grbWindow(DIGPARAM* dp, WININFO_ST* window, int* clipped);
// The request's register image without touching the engine (the second family's lists
// carry it): a new work allocation, filled and computed as grbSetOrlo does for a destination
// outside host memory.  The image, or null with the error logged.
uint32_t* grbComputeImage(DIGPARAM* dp, int32_t option);
// Only the frame start and band offsets of a new destination (field 10033 = 1).
void quick(DIGPARAM* dp);
// Takes slot `slot`'s semaphore of the grab path and the Orlo protect lock; 0.
int ProtectOrlo(DIGPARAM* dp, uint32_t slot);

// How long the programming waits for the grab register-list engine to become idle before
// it gives up (seconds, library clock).
constexpr double kGrbListIdleSeconds = 1.0;
