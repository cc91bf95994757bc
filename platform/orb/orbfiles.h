// Image files of the imaging library: the own format (.oim), raw, TIFF and BMP.
//
// The own format .oim is a 32-byte little-endian header followed by the pixels:
//   offset  0  4 bytes   magic "OIMG"
//   offset  4  uint16    version, 1
//   offset  6  uint16    header size in bytes (32; readers skip to this offset)
//   offset  8  uint32    width in pixels
//   offset 12  uint32    height in pixels
//   offset 16  uint32    buffer type: bits per pixel 1-32, bit 31 set for signed data
//   offset 20  uint32    bytes per pixel: 1 (1-8 bits), 2 (9-16 bits), 4 (17-32 bits)
//   offset 24  uint32    pixel data size in bytes = width x height x bytes per pixel
//   offset 28  uint32    reserved, 0
// then the rows top to bottom, each pixel little-endian in its bytes per pixel.
//
// Raw files are the pixels alone in the same layout. TIFF files are one grey image of
// 8, 16 or 32 bits per sample (signed as sample format int). BMP files are written with
// an 8-bit grey palette, bottom-up rows padded to 4 bytes; 8-bit palette and 24-bit
// files are read, converted to grey.
//
// Readers check every size against the file before reading it and never read past the
// data; a file that cannot be read or is malformed gives an error with a message and
// sub-messages for the operator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbfile {

struct Image {
    int width = 0, height = 0;
    uint32_t type = 8;             // as a buffer type
    std::vector<uint8_t> pixels;   // width x height x bytes per pixel of type
};

struct Error {
    std::string message;
    std::vector<std::string> subMessages;  // at most 3
};

enum class Format { Own, Raw, Tiff, Bmp };

// Refuses, before anything opens it, a path that is not a regular file (a named pipe or a
// device would block the reader or never end): false with a "File access error" then,
// its sub-messages the path, "not a regular file" and what the path is ("it is a named
// pipe").
// A missing file passes; opening it reports that.
bool checkRegular(const std::string& path, Error& err);

// The format that a file's first bytes announce; Raw when none (Raw is also the answer
// for an empty or unreadable file, whose reading then fails with a clear error).
Format sniff(const std::string& path);

// Writes img; replaces an existing file only once the new one is complete.
bool save(const std::string& path, Format format, const Image& img, Error& err);

// Reads a self-describing file (Own, Tiff or Bmp).
bool read(const std::string& path, Format format, Image& out, Error& err);

// Reads the last width x height x bytesPerPixel bytes of a raw file (leading extra bytes
// are a header and skipped).
bool readRaw(const std::string& path, int width, int height, int bytesPerPixel,
             std::vector<uint8_t>& out, Error& err);

}  // namespace orbfile
