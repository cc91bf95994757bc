// Bus-master transfers between board memory and host memory: the copy-parameter record of
// one request, the Orlo's copy-shadow image, the window and correction arithmetic, the
// programming of one side of a transfer into the Orlo's VM engine and the scatter-gather
// lists that carry a transfer into paged host memory page by page.
//
// Everything here runs on the command-server task that holds the copy-parameter record
// (pcicopy.cpp); the Orlo is held through the protect lock from the first register write
// of a side to its start pulse.
#pragma once

#include "hlc_arch.h"
#include "intserver.h"
#include "regmap/orlo_regs.h"

#include <cstddef>
#include <cstdint>

struct _MP_BUF_ST;
struct MP_RESOURCE_ST;
struct _NODE_MAIN_RESOURCE_ST;
struct _NODE_ST;

// ---- VM engine registers of a transfer (byte offsets in the Orlo's register block) -------
namespace vmreg {
constexpr uint32_t kIntClear = kOrloInterruptClear;     // 0x2028
constexpr uint32_t kListAddress = kOrloVmListPointer;   // 0x2060 bus address of the list
constexpr uint32_t kListControl = kOrloVmListControl;   // 0x2068 bits 0-1 = 3 run the list
constexpr uint32_t kLine = kOrloVmLineCounter;          // 0x2078 line interrupt
constexpr uint32_t kHostStart = kOrloVmHostStart;       // host start address, bits 0-26
constexpr uint32_t kHostPitch = kOrloVmHostPitch;
constexpr uint32_t kHostPage = kOrloVmHostPage;         // bits 1-5: host address bits 27-31
constexpr uint32_t kBurst = kOrloVmBurst;
constexpr uint32_t kBand1 = kOrloVmBand1;               // offsets of bands 1-3 from band 0
constexpr uint32_t kBand2 = kOrloVmBand2;
constexpr uint32_t kBand3 = kOrloVmBand3;
constexpr uint32_t kWriteMask = kOrloVmWriteMask;
constexpr uint32_t kBoardStart = kOrloVmBoardStart;
constexpr uint32_t kBoardPitch = kOrloVmBoardPitch;
constexpr uint32_t kTag0 = kOrloVmTag0;
constexpr uint32_t kTag1 = kOrloVmTag1;
constexpr uint32_t kPort = kOrloVmChannelControl;       // 0x3040 low 4 bits the VM port
constexpr uint32_t kHFactor = kOrloVmHFactor;
constexpr uint32_t kHStart = kOrloVmHStart;
constexpr uint32_t kHStop = kOrloVmHStop;
constexpr uint32_t kFormat = kOrloVmFormat;
constexpr uint32_t kTiming = kOrloVtControl;            // 0x3820
constexpr uint32_t kVFactor = kOrloVmVFactor;
constexpr uint32_t kVStart = kOrloVmVStart;
constexpr uint32_t kVStop = kOrloVmLastLine;            // 0x3838

// Transfer kinds of the timing control's bits 8-11.
constexpr uint32_t kKindShift = kVtKindShift;
constexpr uint32_t kKindMask = 0xF00;
constexpr uint32_t kKindPciSend = kVtKindPciSend;         // the sending side
constexpr uint32_t kKindPciReceive = kVtKindPciReceive;   // the receiving side
constexpr uint32_t kTimingReset = 0x1;
constexpr uint32_t kTimingContinuous = 0x2;
constexpr uint32_t kTimingSingle = 0x4;
constexpr uint32_t kTimingMirror = kVtMirror;
}  // namespace vmreg

// Interrupt sources of the end of a transfer (primary Orlo, display Orlo).
constexpr int kXferEndSourcePrimary = kXferDoneSourcePrimary;
constexpr int kXferEndSourceDisplay = kXferDoneSourceDisplay;

// ---- copy-shadow image -----------------------------------------------------------------
// A private register image of an Orlo: the value of the register at byte offset o is word
// o / 4 (the layout of the shadow slots, whose flag words stay unused here).
constexpr uint32_t kImageWords = 0x4000 / 4;
struct CopyImage {
    uint32_t w[kImageWords];
    uint32_t& operator[](uint32_t offset) { return w[offset / 4]; }
    uint32_t operator[](uint32_t offset) const { return w[offset / 4]; }
};

// ---- records ---------------------------------------------------------------------------

// Corrections of one side: subtracted from or added to the loaded values.
struct DMATX_ST {
    int32_t stop;     // added to the line length - 1 (0x3810)
    int32_t host;     // subtracted from the host start (0x2888)
    int32_t board;    // subtracted from the board start (0x28D0)
    int32_t start;    // PCI: the value of 0x3808
    int32_t burst;    // 0: none, else the value of 0x28A8
};
static_assert(sizeof(DMATX_ST) == 20, "correction records are five words");

// The window of one side as the transfer engine fills it: the frame-address words 0-4 as
// the grab engine's WININFO_ST has them, then mirror values, bounds, factors and modes.
struct XferWindow {
    uint32_t address[4];
    int32_t pitch;
    int32_t mirrorX;   // 1, or 2 mirrored
    int32_t mirrorY;
    int32_t startX;
    int32_t stopX;     // kUnset: not given
    int32_t startY;
    int32_t stopY;
    int32_t factorX;
    int32_t factorY;
    int32_t modeX;
    int32_t modeY;
    int32_t further[3];
};
static_assert(sizeof(XferWindow) == 18 * 4, "transfer windows are 18 words");
static_assert(offsetof(XferWindow, startX) == offsetof(WININFO_ST, firstColumn) &&
                  offsetof(XferWindow, modeY) == offsetof(WININFO_ST, replicationY),
              "the transfer window begins as the grab window does");
constexpr int32_t kUnset = 0x10000000;

// Words of the settings block (numbered 1-36 as the block is described).
namespace blk {
constexpr uint32_t kSrcContinued = 1, kDstContinued = 2, kSendStopKept = 3, kSendStartKept = 4,
                   kRecvStopKept = 5, kRecvStartKept = 6, kRecvYStartKept = 7, kRecvModeX = 8, kRecvModeY = 9,
                   kSendFactorX = 10, kRecvFactorX = 11, kRecvFactorY = 12, kSendMirrorX = 13, kSendMirrorY = 14,
                   kRecvMirrorX = 15, kRecvMirrorY = 16, kRecvField10009 = 17, kSendPacking = 18,
                   kRecvPacking = 19, kSendPort = 20, kRecvPort = 21, kBurstKept = 22, kRecvTag = 23,
                   kSendWidth = 24, kSendBits = 25, kRecvWidth = 26, kRecvBits = 27, kPredefTagId = 28,
                   kPlainPci = 29, kSend10013 = 30, kPieceCounter = 31, kPieceLast = 32, kPieceLength = 33,
                   kPieceStart = 34, kThreeBandException = 35, kPredefTagDesc = 36;
}  // namespace blk
constexpr uint32_t kBlockWords = 36;

// One copy-parameter record (_CPYPARAM): 96 words of a node's copy-parameter area.
struct _CPYPARAM {
    uint32_t tag;                 // 0 0xCAFEFADE
    uint32_t size;                // 1 384
    uint32_t index;               // 2
    uint32_t node;                // 3
    uint32_t busy;                // 4 1 while a request holds the record
    uint32_t side;                // 5 side served: 0 both
    uint32_t direct;              // 6 1 PCI, 0 VM
    MP_RESOURCE_ST* resource;     // 7
    _NODE_MAIN_RESOURCE_ST* serving;  // 8
    _NODE_ST* servingState;       // 9
    uint32_t ownerToken;          // 10 the word the Orlo protect lock is taken with
    uint32_t bus;                 // 11 the record's own bus address
    _MP_BUF_ST* source;           // 12
    _MP_BUF_ST* destination;      // 13
    _MP_BUF_ST* control1;         // 14
    _MP_BUF_ST* control2;         // 15
    _MP_BUF_ST* thisBuf;          // 16 the side being programmed
    _MP_BUF_ST* otherBuf;         // 17
    _MP_BUF_ST* controlA;         // 18 control buffers in the order this side reads them
    _MP_BUF_ST* controlB;         // 19
    int32_t endSema;              // 20
    uint32_t peer;                // 21
    int32_t block[kBlockWords];   // 22-57 settings block, word n at block[n - 1]
    uint32_t state[6];            // 58-63 transfer state, cleared before each transfer
    uint32_t sections[6];         // 64-69
    uint32_t sourceNode;          // 70
    uint32_t destinationNode;     // 71
    uint32_t sourceLocation;      // 72
    uint32_t destinationLocation; // 73
    uint32_t sourceContinued;     // 74
    uint32_t destinationContinued;// 75
    uint32_t continued;           // 76 PCI: this request continues a transfer
    uint32_t mode;                // 77 PCI: 3 the source drives, 4 the destination
    uint32_t threeBand;           // 78 three-band start flag
    uint32_t boardOffset;         // 79 the board correction of the last programming
    // Words 80-84 come back from the receiving side of a remote VM copy with the words
    // before them; they carry nothing of this side's own.
    uint32_t reserved80[7];       // 80-86
    uint32_t pieceBytes;          // 87 bytes of the piece being run (0: the line is not split)
    uint32_t reserved88;          // 88
    int32_t extModule;            // 89 field 16036 of a VM sending side for the external module (0: none)
    uint32_t syncCopy;            // 90 the sending side waits for the receiving display's scan
    uint32_t scatterGather;       // 91 a scatter-gather list carries the transfer
    uint32_t burst;               // 92 burst code of the last full programming of this side
    uint32_t reserved[3];         // 93-95

    int32_t& b(uint32_t word) { return block[word - 1]; }
    int32_t b(uint32_t word) const { return block[word - 1]; }
};
static_assert(sizeof(_CPYPARAM) == 384, "copy-parameter records are 384 bytes");
static_assert(offsetof(_CPYPARAM, busy) == 16 && offsetof(_CPYPARAM, resource) == 28 &&
                  offsetof(_CPYPARAM, bus) == 44 && offsetof(_CPYPARAM, block) == 88 &&
                  offsetof(_CPYPARAM, state) == 58 * 4 && offsetof(_CPYPARAM, threeBand) == 78 * 4 &&
                  offsetof(_CPYPARAM, pieceBytes) == 87 * 4 && offsetof(_CPYPARAM, burst) == 92 * 4,
              "copy-parameter words at their positions");

// ---- helpers shared by the transfer files -----------------------------------------------

// Bytes per pixel: 1 for the one-bit type, else bits / 8.
uint32_t XferPixelBytes(const _MP_BUF_ST* buffer);
// Memory classes: 1 board memory, 2 display memory, 3 host memory (locations 3 and 4).
uint32_t XferMemory(const _MP_BUF_ST* buffer);
// A field of a control buffer (null: none), as an integer by truncation; false when absent.
bool XferField(const _MP_BUF_ST* control, uint32_t key, int32_t* value);
// The copy-shadow image of an Orlo of a node (made on first use; null without memory).
CopyImage* XferImage(uint32_t node, uint32_t orlo);

// The VM sync object of an Orlo: the sync object a transfer reports its lines to and the
// line step of those reports.  Its operation and frame count are what the VM-line server
// uses (event-state words 212 and 213), published when a side is started.
struct VmSyncObject {
    uint32_t countMode;   // 1 when the request gave a transfer count (field 10016)
    int32_t count;        // that count (1 single, -1 endless)
    uint32_t operation;   // descriptor word of the request's sync object, 0 none
    uint32_t owner;       // thread id of the request
    int32_t frames;       // lines between reports (field 10032), kUnset when not given
    int32_t selector;     // synchronisation of the copy: -1, or the field selector
};
// The VM sync object of an Orlo of a node (never null).
VmSyncObject* XferVmSync(uint32_t node, uint32_t orlo);
// The line step that reaches the VM-line server for a frame count: 0 (no stepping) for
// none or 0, else the count within the 16 bits of the line counter.
uint32_t XferLineStep(int32_t frames);

// The text of an unacceptable control field: "A non-buffer parameter was invalid or
// unacceptable, errno: " followed by the field's number, kept once per number.
const char* XferFieldText(int number);

// ---- window and corrections -------------------------------------------------------------

// Window of one side: 0, -1 (logged), or -4 (copied by the processor instead).
int vmWindow(_CPYPARAM* record, XferWindow* window, int flag10017, int side);
// The small-copy test of a PCI sending side: 0, -4 (copied by the processor) or -1.
int copySmallSizes(_CPYPARAM* record, XferWindow* window, int side);
// PCI corrections; the record's settings block takes the scanned flags.
void PatchPCI(_CPYPARAM* record, DMATX_ST* patch, const XferWindow* window, int side, int continued,
              uint32_t hostStart);
// Tag step of a buffer and of a partner buffer (pixels per 32-bit tag word).
int32_t XferTagStep(const _CPYPARAM* record, const _MP_BUF_ST* buffer);
int32_t XferPartnerStep(const _MP_BUF_ST* buffer);

// ---- programming ------------------------------------------------------------------------

// Program one side of a transfer: 0, -1 (logged) or -4 (done by the processor).
int vmSetOrlo(_CPYPARAM* record, uint32_t port, int side, int continued);
void vmInitSh(int side, int direct, const _MP_BUF_ST* other, const _MP_BUF_ST* self, CopyImage* image);
int vmUpdtSh(_CPYPARAM* record, uint32_t port, int side, CopyImage* image);
void quick(const _MP_BUF_ST* buffer, CopyImage* image, _CPYPARAM* record, int side);
// Host start of a PCI side: 0 or -1 (logged -8); patch words 0-3 filled.
int calcHfstart(_CPYPARAM* record, DMATX_ST* patch, uint32_t kind, uint32_t* hostAddress, uint32_t* hostPitch);
// Pixel format into the mode word: 0 or -1 (logged).
int vmPixFormat(_CPYPARAM* record, int side, int packing, uint32_t* mode);
void PatchRGB(_CPYPARAM* record, CopyImage* image);
void vmLoadSh(_CPYPARAM* record, int side, int continued, CopyImage* image);
// Waits while a host grab runs on the current Orlo: 0, or -1 when it did not end within
// the communication time-out.
int WaitForHostGrab(uint32_t moduleType);

// The bit mask a receiving side's own tag buffer holds: `words` 32-bit words for a window
// of `window` pixels of which the last `valid` (the partner's line as received) are
// written; `bitsPerWord` pixels a word (32, or field 10013).  Leading words 0, one partial
// word whose set bits start at the low end (mirrored) or end at the high end of its
// `bitsPerWord` bits, then words of -1.  Returns the words filled (at most `room`).
uint32_t XferTagMask(uint32_t* words, uint32_t room, int32_t window, int32_t valid, int32_t bitsPerWord,
                     bool mirrored);
// Fills band 0 of the receiving side's own (predefined) tag buffer with its mask.
void XferFillTagMask(_CPYPARAM* record, const XferWindow* window, int32_t field10013);

// Field 16036 on the sending side of a VM transfer on a node whose external module is of
// type 128: -9999, 1 or 2 program the module's first four registers (port, direction)
// through their external shadows.  Needs the node's Orlo selected (SetToOrlo).
constexpr int32_t kXferExtModuleType = 128;
void XferExtModule(uint32_t node, int32_t value, uint32_t port, int side, uint32_t timing);

// The process-wide estimate of the bus-master copy rate (MB/s) that display-synchronised
// copies start from, and the measurement of one armed copy that corrects it.  The copies
// of every node's thread share it: each access holds one process-wide lock.
struct XferRateState {
    int32_t estimate;   // MB/s, 0 until first used
    int32_t armed;      // 1 while a measured copy runs
    uint32_t bytes;     // bytes of the measured copy
    double start;       // library clock at its start
};
XferRateState& XferRate();
// The estimate, set on first use to 108 on a 33 MHz bus, else 84.
int32_t XferRateEstimate(uint32_t busClock);
// Arms the measurement of a copy of `bytes` starting now (`now`: the library clock).
void XferRateArm(uint32_t bytes, double now);
// At the end of a transfer: an armed measurement gives bytes / (elapsed x 1048576) MB/s,
// which replaces the estimate when lower and at least 26; the measurement is disarmed.
void XferRateUpdate(double now);
// Drops an armed measurement (a transfer that did not end).
void XferRateDisarm();

// Scatter-gather list of a transfer into host memory: 0, -1 (logged) or -4.
int vmUpdtShScatterGather(_CPYPARAM* record, uint32_t port, int side, CopyImage* image);

