// Block division of a grab into host memory.
//
// A host grab runs the camera into an on-board temporary buffer a block of lines at a time
// while the VM engine copies the previous block on to host memory.  SetBlockDivision decides
// how many lines form one block and how many blocks make up the image, so that the blocks
// alternate between the two halves of the temporary buffers and the copy keeps pace.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;

// Copy flags of a host grab.
constexpr uint32_t kHostCopyByLine = 0x1;      // copy line by line
constexpr uint32_t kHostCopyRounded = 0x2;     // line bytes rounded up, or destination not 4-byte aligned
constexpr uint32_t kHostCopyExact = 0x4;       // line bytes exact

// Tap codes whose blocks step faster through the destination.
constexpr uint32_t kTapCodeTwoLines = 0x1112;
constexpr uint32_t kTapCodeFourLines = 0x1114;

// Per-grab working values of a host grab.
struct _HOST_TEMP_PARAMETER_ST {
    // Block division results.
    uint32_t blocks;             // block count N (after the final adjustment)
    uint32_t remainder;          // lines left over by the division
    uint32_t linesPerBlock;      // L
    uint32_t linesAfterWindow;   // lines from the window's end to the frame's end
    uint32_t lineBytes;          // bytes per grabbed line, a multiple of 4
    // Inputs of the division.
    uint32_t fieldMode;          // 1: the image is grabbed as two fields
    uint32_t pixelsPerLine;
    uint32_t lines;              // camera lines of the grab: the window lines times the taps
    uint32_t bitsPerPixel;
    uint32_t copyFlags;          // kHostCopy*
    uint32_t tapCode;            // the camera's taps in four nibbles
    uint32_t tapStep;            // lines are divided by 2 to this power
    uint32_t vReduction;         // lines per block are a multiple of it
    uint32_t vZoom;              // the destination step is multiplied by it
    uint32_t destAlign;          // first band address of the destination modulo 4
    uint32_t destStep;           // bytes per block in the destination
    uint32_t secondStep;         // bytes per block in the second buffer
    uint32_t typeFlag;           // the camera's INFO_TYPE is 1
    uint32_t triggerFlag;        // triggered grab
    uint32_t extraBlocks;        // two blocks were added for the lines after the window
    uint32_t blocksBeforeExtra;
    uint32_t minBlocks;          // m: fewest blocks the division accepts
    // Further per-grab values of the host grab.
    uint32_t tapCount;           // 1-4
    uint32_t hReduction;
    uint32_t hZoom;
    uint32_t dual;               // a second buffer receives part of the grab
    uint32_t secondField;        // the grab list and the VM list carry a second field
    uint32_t rgbCode;            // packing code of an RGB grab (grbCheckRGB)
    uint32_t vmVariant;          // the camera's INFO_MISC bit 12: the variant that also writes 0x2058
};

// Lines of the grab window and of the frame.
struct _HOST_TEMP_REGISTER_ST {
    uint32_t frameLastLine;
    uint32_t windowFirstLine;
    uint32_t windowLastLine;
    // Window and addresses of the grab, filled by the host grab.
    uint32_t xStart, xEnd, yStart, yEnd;
    uint32_t tapAddress[4];       // destination address of each tap (first field)
    uint32_t fieldTapAddress[4];  // the same for the second field of a two-field grab
    uint32_t secondTapAddress[4]; // second buffer (dual grab)
    uint32_t tempAddress[2][4];   // temporary buffers: two halves of up to four taps
    uint32_t destPitch;
    uint32_t secondPitch;
    uint32_t sourceStep;          // dual grab: bytes from block to block in the second buffer
    uint32_t destLines;           // lines the grab fills in the destination
    uint32_t pageEntries;         // the VM list sets host address bits 27-31 itself: the
                                  // destination lies across a 128 MB boundary, or the lists are
                                  // chained behind a grab whose registers hold another's
    uint32_t layoutEntries;       // the lists load the line layout themselves (the grab's
                                  // horizontal window and line pitch, the copy geometry): they
                                  // are chained behind a grab whose registers hold another's
};

// Divides the grab into blocks: 0, or -1 with the error logged (-8 "Grab temporary buffer
// too small", -8 for a line without bytes, -14 when no division fits).  `temporary` is the
// grab path's eight temporary-buffer words (descriptors); the first one's pitch times its
// lines is the room of one block.
int SetBlockDivision(const _MP_BUF_ST* destination, _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second,
                     MP_RESOURCE_ST* res, _HOST_TEMP_REGISTER_ST* r, const uint32_t* temporary);
// Searches lines per block downwards from p->linesPerBlock - 1 for an exact division of
// `lines`: 0 found (p->linesPerBlock and p->blocks set), -1 none.
int CalculateNewNumberOfLines(_HOST_TEMP_PARAMETER_ST* p, uint32_t lines);
// As above from p->linesPerBlock itself, also taking a division whose partial block makes
// the block count even (frame mode only): 0 found (p->remainder set), -1 none.
int CalculateNewNumberOfLinesSecondMethod(_HOST_TEMP_PARAMETER_ST* p, uint32_t lines);

// The text of a temporary buffer that cannot hold one line.
constexpr const char* kHostTempTooSmall = "Grab temporary buffer too small";
