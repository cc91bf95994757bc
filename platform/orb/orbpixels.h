// Pixel layout shared by buffers and image files: a pixel of b bits (1-32) is stored
// little-endian in 1 (1-8 bits), 2 (9-16 bits) or 4 (17-32 bits) bytes; ORB_SIGNED in the
// type marks two's-complement data of that width. Sizes are bounded so that
// width x height x bytes per pixel always fits comfortably in memory and in 32 bits.
#pragma once

#include "orb.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbpix {

constexpr int kMaxSide = 32768;                        // pixels per row or column
constexpr uint64_t kMaxBytes = uint64_t(256) << 20;    // pixel bytes of one buffer

inline int bitsOf(uint32_t type) { return int(type & ~ORB_SIGNED); }
inline bool isSigned(uint32_t type) { return (type & ORB_SIGNED) != 0; }
inline bool validType(uint32_t type) { return bitsOf(type) >= 1 && bitsOf(type) <= 32; }
inline int bytesPerPixel(uint32_t type)
{
    const int bits = bitsOf(type);
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

// True when a width x height image of the type may exist (positive sides, bounded bytes).
bool validSize(int64_t width, int64_t height, uint32_t type);

inline uint32_t load(const uint8_t* p, int bpp)
{
    switch (bpp) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

inline void store(uint8_t* p, int bpp, uint32_t v)
{
    p[0] = uint8_t(v);
    if (bpp >= 2) p[1] = uint8_t(v >> 8);
    if (bpp == 4) {
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }
}

// Rescales a sample of srcBits to dstBits: narrowing keeps the most significant bits,
// widening spreads the range (8 -> 16 bits multiplies by 257), so that widening then
// narrowing gives the sample back.
uint32_t rescale(uint32_t v, int srcBits, int dstBits);

// The pixel bit pattern for a clear value: rounded, clamped to the type's range.
uint32_t fromDouble(double value, uint32_t type);

// The 8-bit grey of a pixel as a display shows it: 8-bit pixels as they are, wider pixels
// by their most significant 8 bits (16-bit pixels by their high byte), narrower pixels
// spread over 0-255.
inline uint8_t grey(uint32_t v, int bits) { return uint8_t(rescale(v, bits, 8)); }

// Whole-image conversions between pixel types (same width and height).
std::vector<uint8_t> convert(const std::vector<uint8_t>& src, uint32_t srcType, uint32_t dstType,
                             size_t pixelCount);
std::vector<uint8_t> toGrey(const uint8_t* src, uint32_t type, size_t pixelCount);

}  // namespace orbpix
