// JPEG files and the board's JPEG objects.
//
// A JPEG object is a compressed image that a board processor keeps in its memory; the
// board encodes and decodes it.  The host moves files in and out of such objects:
// im_jpeg_load parses a file (baseline sequential or lossless frames of at most four
// components, one component per scan) marker by marker on the caller's thread, hands the
// tables and the frame parameters to the board and copies each scan's entropy-coded data
// straight into board memory; im_jpeg_store writes the segments an object has stored back
// out as a file.  An application segment with the signature "QVRL" carries the offsets
// of the restart markers of the scan that follows it.
//
// Everything the loader and the store ask of the board goes through one table of board
// operations (JpegBoardOps): by default command messages to the object's node and board
// memory reached through the node's windows.  A test or a fuzz target may install its
// own board; the table is process-wide and installed while no load or store runs.
//
// Thread safety: a load or a store runs wholly on the caller's thread with its own state;
// several may run at once on different objects.
#pragma once

#include "hlc_arch.h"

#include <cstdint>
#include <cstdio>

// Table types of imJpegPutTable / imJpegGetTable and their largest sizes.
constexpr uint32_t kJpegTableQuant = IM_JPEG_QUANT_TABLE;       // 64 bytes
constexpr uint32_t kJpegTableAc = IM_JPEG_AC_TABLE;       // 16 counts + at most 162 values
constexpr uint32_t kJpegTableDc = IM_JPEG_DC_TABLE;       // 16 counts + at most 17 values
constexpr uint32_t kJpegQuantBytes = 64;
constexpr uint32_t kJpegAcBytes = 178;
constexpr uint32_t kJpegDcBytes = 33;
// Control type sent with value 0 before a file is read into an object.
constexpr uint32_t kJpegControlReadFile = IM_JPEG_READ_FILE;
// Storage mode of an object whose scans lie in chained pieces.
constexpr int32_t kJpegChainedPieces = -9997;
// Steps of im_jpeg_transfer_data.
constexpr uint32_t kJpegStepFrame = 4097;
constexpr uint32_t kJpegStepScan = 4098;
constexpr uint32_t kJpegStepHuffman = 4099;
constexpr uint32_t kJpegStepQuant = 4100;
// Bytes of one block of a scan's entropy-coded data.
constexpr uint32_t kJpegScanBlock = 65536;
// Bounds of a scan's entropy-coded data, which the loader holds whole before the board
// takes it: per sample of the frame's image (a sample of up to 16 bits codes to at most
// 4 bytes, twice that with stuffed bytes; restart markers add less than the rest), and
// in all: the board keeps the scan in its memory, which is smaller, and a 32-bit process
// cannot spare much more.
constexpr uint64_t kJpegScanBytesPerSample = 16;
constexpr uint64_t kJpegMaxScanBytes = 256u << 20;

// Byte offsets in the object header (band 0 of the JPEG object, little-endian words).
constexpr uint32_t kJpegHdrMode = 8;
constexpr uint32_t kJpegHdrPrecision = 16;
constexpr uint32_t kJpegHdrStorage = 28;
constexpr uint32_t kJpegHdrDepth = 36;
constexpr uint32_t kJpegHdrDepth2 = 40;
constexpr uint32_t kJpegHdrCount = 44;
constexpr uint32_t kJpegHdrWidth = 48;
constexpr uint32_t kJpegHdrLines = 52;
constexpr uint32_t kJpegHdrLines2 = 56;
constexpr uint32_t kJpegHdrSegments = 76;
constexpr uint32_t kJpegHdrSegmentBytes = 80;
constexpr uint32_t kJpegHdrScan = 292;            // + 48 i: data address
constexpr uint32_t kJpegHdrScanBytes = 296;       // + 48 i: its size
constexpr uint32_t kJpegHdrScanPieces = 312;      // + 48 i: chained pieces
constexpr uint32_t kJpegHdrScanTable = 328;       // + 48 i: piece table address
constexpr uint32_t kJpegHdrScanStride = 48;
// The object header holds this many scan records.
constexpr uint32_t kJpegMaxScans = 4;
// The header is read and written as one block of this many bytes.
constexpr uint32_t kJpegHeaderBytes = kJpegHdrScanTable + 4 + kJpegHdrScanStride * (kJpegMaxScans - 1);

// One host block of pending data: a table segment's body or a piece of a scan.
struct JpegBlock {
    JpegBlock* next;
    uint32_t size;
    uint8_t data[1];    // size bytes
};

struct IM_JPEG_COMPONENT {
    uint8_t id;          // C
    uint8_t h;           // horizontal sampling factor
    uint8_t v;           // vertical sampling factor
    uint8_t tq;          // quantization table
    uint8_t hRatio;      // H of component 0 / H of this one
    uint8_t vRatio;      // V of component 0 / V of this one
    uint8_t present;     // stored by a scan
    uint8_t spare;
};
static_assert(sizeof(IM_JPEG_COMPONENT) == 8, "component records are 8 bytes");

// The state of one load, zeroed at its start.
struct IM_JPEG_LOAD_STATE {
    uint8_t soi;             // SOI seen
    uint8_t frameOpen;
    uint8_t scanPending;
    uint8_t predictorFixed;
    uint32_t frameMode;      // 0 baseline, 3 lossless
    uint16_t lines;          // Y
    uint16_t samples;        // X
    uint8_t components;      // Nf
    uint8_t precision;       // P
    IM_JPEG_COMPONENT comp[4];
    uint8_t cs, td, ta, ss, se, ah, al;        // scan header
    uint8_t huffClass, huffId, quantPrecision, quantId;
    uint8_t spare;
    uint8_t qvrl;            // "QVRL" segment held
    uint16_t restartInterval;                  // Ri
    uint32_t linesPerRestart;                  // of the frame; 0 until the first scan
    uint32_t qvrlCount;                        // N
    uint32_t qvrlSecond;
    uint8_t* qvrlData;                         // the offsets, big-endian
    JpegBlock* pending;
    uint32_t pendingSize;
    uint32_t qvrlBytes;                        // bytes held at qvrlData
};

// What the loader and the store ask of the board.
struct JpegBoardOps {
    // Host address of the object's header (band 0), 0 when the object is unknown.
    uint32_t (*header)(uint32_t thread, uint32_t jpeg);
    // imJpegPutTable: 0 when the board took the table.
    int32_t (*putTable)(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t id, uint32_t size,
                        const uint8_t* bytes);
    // Opcode 132 with its eleven parameters; reply slots 0-2 into reply.  0 when answered.
    int32_t (*scan)(uint32_t thread, const uint32_t params[11], uint32_t reply[3]);
    // Host address of `bytes` bytes of board memory at a board address of the node; 0 when
    // the range does not lie wholly in memory the host reaches.
    uint32_t (*toHost)(uint32_t node, uint32_t address, uint32_t bytes);
};
// Installs a board (null restores the command messages); returns the previous table.
JpegBoardOps jpeg_set_board(const JpegBoardOps* ops);
const JpegBoardOps& jpeg_board();

// Reads the file into the object: null on success, else the error text.  `function` names
// the export for the board's messages.
const char* im_jpeg_load(const char* function, uint32_t thread, FILE* file, uint32_t jpeg);
// Writes the object's stored segments as a file: 0, or -1 with the error in `error`
// (code and text).
int32_t im_jpeg_store(const char* function, uint32_t thread, FILE* file, uint32_t jpeg, int32_t* errorCode,
                      const char** errorText);

// The loader's steps, for tests.
void im_jpeg_init_loadstate(IM_JPEG_LOAD_STATE* state);
void im_jpeg_clean_loadstate(IM_JPEG_LOAD_STATE* state);
const char* im_jpeg_transfer_data(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE* state, const char* function,
                                  uint32_t step);

// Largest size of a table type; 0 for a type without a limit.
uint32_t jpeg_table_limit(uint32_t type);

// Board memory access through the window or host memory an address lies in.
void jpeg_board_write(uint32_t host, const void* source, uint32_t bytes);
void jpeg_board_read(uint32_t host, void* destination, uint32_t bytes);
