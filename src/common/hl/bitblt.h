// Copies inside one node's display memory by the display Orlo's VM engine used as a
// blitter (transfer kind 10): the engine reads the source window and writes it at a
// fixed offset in the same memory.  Overlapping windows are copied in the direction that
// reads every pixel before it is overwritten; right-to-left copies are cut into strips
// that the engine holds whole.
//
// Runs on the command-server task of the request; the node's copy semaphore and the
// display Orlo's VM section keep other transfers off the engine meanwhile.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct _MP_BUF_ST;
struct MP_RESOURCE_ST;

// Parameters of a copy synchronised with the display scan (nine words).
struct COPY_INFO_ST {
    int32_t selector;       // -2 a bitblit; -1 or a field number a VM transfer
    int32_t width;
    int32_t height;
    int32_t destinationY;   // the destination's Y offset in its parent
    int32_t destinationNode;
    int32_t fieldFactor;
    int32_t product1;
    int32_t product2;
    int32_t units;
};
static_assert(sizeof(COPY_INFO_ST) == 36, "synchronised-copy parameters are nine words");

// Bytes of a line the engine holds whole: 512, or 256 for 4-byte pixels or three bands.
constexpr uint32_t kBitBltStripBytes = 512;
constexpr uint32_t kBitBltStripBytesWide = 256;

// Sets *vertical to 2 when the destination starts inside the source's rows below its
// first, *horizontal to 2 when on the same rows it starts inside the source's columns to
// the right; leaves them as given otherwise.
void SelectDirection(int32_t sourceX, int32_t sourceY, int32_t destinationX, int32_t destinationY, int32_t width,
                     int32_t height, int* vertical, int* horizontal);

// The strips of one line of width pixels: count, the width of every strip but the
// left-most, and the left-most's width.  No strip is wider than limit bytes.
struct BitBltStrips {
    uint32_t count;
    uint32_t width;
    uint32_t last;
};
BitBltStrips BitBltStripsOf(uint32_t width, uint32_t bytesPerPixel, uint32_t limit, bool rightToLeft);

// Waits until the destination display's scan allows the copy to start, at most the
// communication time-out, and arms the throughput measurement: 0, or -1 when the scan
// never left the range (the copy then starts anyway).
int syncCopy(const COPY_INFO_ST* parameters);

// The owner token of the display Orlo's protect lock that the node's bitblits take: a word
// of the node's state block (word 283, holding no semaphore); null without a state block.
uint32_t* BitBltOwnerToken(uint32_t node);

// The blit of two display-memory buffers of one node: 0, or -1 with the error in the
// resource.  Installed as the buffer copy's display bitblit by the library's wiring.
int mpBufCopyBitBltDisplay(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                           _MP_BUF_ST* control);
