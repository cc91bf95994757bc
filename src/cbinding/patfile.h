// Pattern-model files: a model exactly as the board serialises it, at any position of its
// file.  The host reads the magic and version, works out the model's size from its header
// and moves the bytes in one piece; it never interprets them further.
//
// Thread safety: the functions keep no state; each works on the caller's file.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr uint32_t kPatMagic1 = 0x26081963u;
constexpr uint32_t kPatMagic2 = 0x2357BD00u;
constexpr uint32_t kPatMagic3 = 0x2CC1701Du;
constexpr uint32_t kPatMagicSized = 0x2CC1701Eu;   // carries its total size at byte 6
constexpr uint16_t kPatVersion = 1;
constexpr uint32_t kPatLevelCountAt = 308;
constexpr uint32_t kPatLevelTableAt = 312;
constexpr uint32_t kPatLevelRecordBytes = 10;
constexpr uint32_t kPatMaxLevels = 8;
constexpr uint32_t kPatHeaderBytes = 712;
// A model larger than the board's address space is no model.
constexpr uint32_t kPatMaxModelBytes = 0x4000000u;
// Buffer type and location of the one-dimensional buffer a model travels in.
constexpr uint32_t kPatBufferType = 0x10000008u;
constexpr uint32_t kPatBufferLocation = 1;

constexpr const char kPatTextInvalid[] = "File does not contain valid model";

// The size of the model whose first bytes are `header` (available bytes of it): 0 and the
// size, or -3 when the bytes are no model: an unknown magic or version, a level count
// outside 0-8, a negative level size, a size field below the 10 bytes it spans, or a
// size above kPatMaxModelBytes.  The size field's model needs 10 bytes, the others 712.
int32_t pat_model_size(const uint8_t* header, uint32_t available, uint32_t* size);

// Reads the model that starts at the file's position: 0 with the model's bytes (from
// malloc, the caller frees them) and their count; -3 (no model, or the file ends before
// the model does) or -4 (no memory) with the text of the error.  The file position is
// left after the model on success.
int32_t pat_read_model(FILE* file, uint8_t** bytes, uint32_t* size, const char** text);
