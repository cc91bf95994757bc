// FPGA loader: configures the grab module's FPGA of a node from a ".res" text bit file.
#pragma once

#include "hlc_arch.h"

#include <cstdint>
#include <cstdio>

// Results of mp_sys_load_fpga.
constexpr uint32_t FPGA_READ_NO_DATA = 1;    // no "Generic" data line, a bad lane or a read failure
constexpr uint32_t FPGA_READ_TOO_LARGE = 2;  // file or image too large, or no memory
constexpr uint32_t FPGA_NO_FILE = 4;         // no name, or the file was not found
constexpr uint32_t FPGA_NO_WINDOW = 8;       // no Orlo window
constexpr uint32_t FPGA_NOT_DONE = 16;       // done bit still clear after the data
constexpr uint32_t FPGA_NO_MODULE = 32;      // no grab module, or done bit set after the pulse

// Largest bit file read and largest image built.
constexpr long kFpgaMaxFileBytes = 16L << 20;

// 0 on success; option: the open mode (bit 29 ignored).
uint32_t mp_sys_load_fpga(uint32_t node, const char* name, uint32_t option);

// Opens the file and positions it at the first "Generic" data line, capturing the
// "SW_Version " and "HW_Version " numbers before it (versions may be null); 0 with the
// open file, else FPGA_READ_NO_DATA (also for a path that is no regular file, which is
// never opened) or FPGA_READ_TOO_LARGE (nothing left open).
uint32_t PrFpgaSeekGeneric(uint32_t node, const char* path, FILE** file, double* softwareVersion,
                           double* hardwareVersion);
// Decodes the rest of the file into a new image (free it with std::free); 0 or an error.
uint32_t PrFpgaReadGeneric(FILE* file, uint8_t** image, uint32_t* length);
// Pulses the program bit and writes the image to the data port; 0, FPGA_NO_MODULE,
// FPGA_NOT_DONE or FPGA_NO_WINDOW.
uint32_t PrFpgaWrite(uint32_t node, const uint8_t* image, uint32_t length);
// Bytes in the file; -1 on failure.  The position is kept.
long PrFileSize(FILE* file);
