// The Orlo phase of a standard-family grab: the grab-engine registers of one grab are
// computed into a register image (grabimage.h) from the camera record, the destination
// buffer and the grab control fields (keys 10000-10032), written through the Orlo shadows,
// and the grab is armed on slot 0 of the grab path, which the start- and end-of-grab events
// then work on.
//
// Every function runs on the command-server task that serves the grab request and takes
// the request's DIGPARAM.  Shadows and registers change while the request holds the Orlo
// protect lock; the grab control and the slot are armed with the node's external interrupt
// disabled, so an end-of-grab event never sees a half-armed slot.
#pragma once

#include "grabimage.h"
#include "hlc_arch.h"

#include <cstdint>

struct DIGPARAM;
struct WININFO_ST;

// The "default" marker of grab control values.
constexpr int32_t kGrbDefault = 0x10000000;
// Grab control of a grab without a camera record (before the fixed bits are applied).
constexpr uint32_t kGrbNoCameraControl = 276504;

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
