// Video configuration files (VCF) and putting a video mode on the display chip.
//
// A VCF file is text: lines beginning with "/" are comments; the line "[REG_DIGIT]"
// opens the register block, which ends at the next line beginning with "[" ("[EOF]"
// closes the file).  Each block line holds "NAME value"; values are 1 to 10 characters,
// decimal, 0x hexadecimal or 0 octal.
#pragma once

#include "hlc_arch.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The words that program the chip (VIDEO_PARAM from COLUMN on).  Only the low byte of a
// register word reaches the chip; a TVP_ word of 256 was not given.
struct TVIDEO_PARAM {
    int32_t Column;
    int32_t Row;
    int32_t Points;
    int32_t VidSize;
    int32_t Sequencer[5];   // SEQUENCER_(00)-(04)
    int32_t Misc;           // MISC
    int32_t Crtc[25];       // CRTC_(00)-(18)
    int32_t Attribute[21];  // ATTRIBUTE_(00)-(14)
    int32_t Graphics[9];    // GAPHCTL_(00)-(08)
    int32_t CrtcHigh[5];    // CRTC_(22)-(26)
    int32_t CrtcExt[6];     // CRTC_EXT_(00)-(05)
    int32_t Pclk[3];        // PCLK_(00)-(02): M, N, P of the pixel PLL
    int32_t Mclk[3];        // memory PLL
    int32_t Lclk[3];        // loop PLL
    int32_t Tvp[18];        // TVP_(06) (07) (0F) (18) (19) (1A) (1D) (1E) (30)-(39)
};
static_assert(sizeof(TVIDEO_PARAM) == 103 * 4, "TVIDEO_PARAM is 103 words");

struct VIDEO_PARAM {
    int32_t InfoXSize;
    int32_t InfoYSize;
    int32_t InfoMode;
    int32_t InfoDepth;
    int32_t InfoBand;
    TVIDEO_PARAM Video;
};
static_assert(sizeof(VIDEO_PARAM) == 108 * 4, "VIDEO_PARAM is 108 words");
static_assert(offsetof(VIDEO_PARAM, Video.Sequencer) == 9 * 4 && offsetof(VIDEO_PARAM, Video.Misc) == 14 * 4 &&
                  offsetof(VIDEO_PARAM, Video.Crtc) == 15 * 4 && offsetof(VIDEO_PARAM, Video.Attribute) == 40 * 4 &&
                  offsetof(VIDEO_PARAM, Video.Graphics) == 61 * 4 && offsetof(VIDEO_PARAM, Video.CrtcHigh) == 70 * 4 &&
                  offsetof(VIDEO_PARAM, Video.CrtcExt) == 75 * 4 && offsetof(VIDEO_PARAM, Video.Pclk) == 81 * 4 &&
                  offsetof(VIDEO_PARAM, Video.Mclk) == 84 * 4 && offsetof(VIDEO_PARAM, Video.Lclk) == 87 * 4 &&
                  offsetof(VIDEO_PARAM, Video.Tvp) == 90 * 4,
              "VIDEO_PARAM word order");

constexpr int32_t kTvpNotGiven = 256;
constexpr uint32_t kVcfTvpWords = 18;

// Storage kinds and states of the name table.
enum : uint32_t {
    VCF_STORE_BYTE = 0x10000008,
    VCF_STORE_SHORT = 0x10000010,
    VCF_STORE_LONG = 0x10000020,
};
constexpr int32_t kVcfNotGiven = -9997;
constexpr int32_t kVcfGiven = -9999;

struct _VCF_REGISTERS {
    const char* name;
    uint32_t kind;
    uint32_t offset;   // byte offset in VIDEO_PARAM
    int32_t state;
};

constexpr uint32_t kVcfRegisterRows = 108;
extern _VCF_REGISTERS VcfRegTable[kVcfRegisterRows + 1];   // ends with a row of zeros

// Results of the load.
enum : int {
    VCF_OK = 0,
    VCF_NOT_READ = 1,     // file not read, no block, block too long, or an unknown name
    VCF_BAD_VALUE = 16,
};

constexpr uint32_t kVcfBufferBytes = 28416;
constexpr uint32_t kVcfLineBytes = 256;   // lines are read up to 255 characters
// The largest video configuration file read: its register block fits kVcfBufferBytes,
// and comments around it leave it far below this. A larger file is refused before it is
// read, as a file that cannot be opened is.
constexpr uint64_t kVcfMaxFileBytes = 1u << 20;

int im_vcf_load_file(const char* path, VIDEO_PARAM* param);
// "[REG_DIGIT]\n", the block's lines each ended by "\n", "[EOF]\n"; allocated with
// malloc (kVcfBufferBytes), null when nothing can be collected.
char* im_vcf_read_file_to_buf(const char* path);

// Steps of the load.
// Loads "NAME value" pairs from *cursor until a name beginning with "[" or the end of the
// text; *cursor is left at that name.  0, VCF_NOT_READ or VCF_BAD_VALUE.
int im_load_register_block(const char** cursor, VIDEO_PARAM* param);
int im_get_register_map_index(const char* name);          // table row, -1 when absent
void im_put_register_value(uint32_t row, int32_t value, VIDEO_PARAM* param);
int im_verify_register_value(const char* text, int32_t* value); // 0, or VCF_BAD_VALUE
// Next line of the file, cut at the first LF or CR, at most size - 1 characters (the
// rest of a longer line is passed over); 0 at the end of the file.
int im_file_extract_line(FILE* file, char* line, uint32_t size);
// Next line that is not a comment; 0 at the end of the file.
int im_file_extract_comments(FILE* file, char* line, uint32_t size);
int im_file_peek(FILE* file);                             // next character, EOF at the end

// The chip.
int im_disp_set_pyx_mode(uint32_t node, VIDEO_PARAM* param);   // 0
uint32_t HlcWramInit(uint32_t node);                            // 0 done, 1 the memory clock was not set
// The display chip's PCI configuration dwords (register rounded down by the PCI access);
// a read of a node whose chip is not located gives 0xFFFFFFFF, a write does nothing.
uint32_t HlcPyxRdPciConfig(uint32_t node, uint32_t reg);
void HlcPyxWrPciConfig(uint32_t node, uint32_t reg, uint32_t value);
void HlcPyxSetVideoParam(uint32_t node, const TVIDEO_PARAM* param);
void HlcPyxGetVideoParam(uint32_t node, TVIDEO_PARAM* param);
void HlcDacWriteParam(uint32_t node, const TVIDEO_PARAM* param);
void HlcPyxScreenOff(uint32_t node);
void HlcPyxScreenOn(uint32_t node);
// Waits up to 1 s for the vertical retrace bit (bit 3 of chip offset 0x1E14); 1 seen.
int HlcPyxWaitVerticalRetrace(uint32_t node);
void GetDispResolution(uint32_t node, uint32_t* width, uint32_t* height);
uint32_t PowerGraphEnabled(uint32_t node);
