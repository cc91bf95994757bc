// Buffer files: whole buffers read from and written to raw files and TIFF files on the
// caller's thread.  A raw file holds the bands one after another, each line packed; a
// TIFF file holds the bands as samples, and format 10 adds the buffer's keyed fields in
// the Software tag (305) as a block of doubles.
//
// Each export names itself in the caller's error record ("imBufLoad", "imBufRestore",
// "imBufSave"); nothing is sent to a node for the files themselves.  Pixels and fields
// move through the buffer operations below.
//
// Files are replaced whole: a save writes a new file beside the old one and renames it
// over the old one only when it is complete.
//
// Threads: any caller's thread; the operations table is set before files are used.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct _MP_BUF_ST;

// Opcodes under which the file exports file their errors.
constexpr uint32_t kOpBufLoad = 37;
constexpr uint32_t kOpBufSave = 47;
constexpr uint32_t kOpBufRestore = 48;

// TIFF tags the library writes itself.
constexpr uint16_t kTiffTagSoftware = 305;
constexpr uint16_t kTiffTagSampleFormat = 339;
// Sample formats (tag 339).
constexpr uint16_t kTiffSampleUnsigned = 1;
constexpr uint16_t kTiffSampleSigned = 2;
constexpr uint16_t kTiffSampleFloat = 3;

// Field block of format 10: 16 x (fields + 1) bytes of doubles: the magic (low and high
// words below), the number of fields, then key and value of each field.
constexpr uint32_t kFieldBlockMagicLow = 0xE0200000u;
constexpr uint32_t kFieldBlockMagicHigh = 0x41E579BDu;

// The buffer operations the file exports use, in the shape of the buffer exports.  The
// defaults work on the descriptors of nodes the host serves in this process.
struct ImBufFileOps {
    // The descriptor of a buffer (inquiry 400), null when there is none.
    _MP_BUF_ST* (*descriptor)(uint32_t device, uint32_t id);
    // The whole buffer into packed data (lines back to back, band after band); 0 or < 0.
    int32_t (*get)(uint32_t device, uint32_t id, void* data);
    // Packed data into a rectangle of the buffer; 0 or < 0.
    int32_t (*put2d)(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY,
                     const void* data);
    // A new buffer; its id (also through `id`), 0 on failure.
    uint32_t (*alloc)(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                      uint32_t location, uint32_t* id);
    int32_t (*free)(uint32_t device, uint32_t id);
    // Cursor -1 starts at the first field; 0 with key and value, else < 0 (no more fields).
    int32_t (*getNextField)(uint32_t device, uint32_t id, int32_t* cursor, uint32_t* key, double* value);
    int32_t (*putField)(uint32_t device, uint32_t id, uint32_t key, double value);
};
// Installs the operations (null members keep the defaults); null restores the defaults.
void im_buf_files_set_ops(const ImBufFileOps* ops);

// Fills an existing buffer from a file of format 1, 2 or 10; 0 or the error code.
HLC_API int32_t imBufLoad(uint32_t device, const char* fileName, int32_t format, uint32_t id);
// A new buffer of the TIFF file's size, type and samples in the location (format 2 or
// 10); its id (also through `id`), 0 on failure with nothing left allocated.
HLC_API uint32_t imBufRestore(uint32_t device, const char* fileName, int32_t format, uint32_t location,
                              uint32_t* id);
// Writes a buffer to a file of format 1, 2 or 10; 0 or the error code.  A failed save
// leaves an existing file as it was.
HLC_API int32_t imBufSave(uint32_t device, const char* fileName, int32_t format, uint32_t id);

// The buffer type for a TIFF file's bits per sample and sample format (0: no tag 339).
uint32_t im_buf_tiff_type(uint32_t bits, uint16_t sampleFormat);
// The sample format (tag 339) of a buffer type.
uint16_t im_buf_tiff_sample_format(uint32_t type);
