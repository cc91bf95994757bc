#include "orbpixels.h"

#include <cmath>

namespace orbpix {

bool validSize(int64_t width, int64_t height, uint32_t type)
{
    if (!validType(type)) return false;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    return uint64_t(width) * uint64_t(height) * uint64_t(bytesPerPixel(type)) <= kMaxBytes;
}

uint32_t rescale(uint32_t v, int srcBits, int dstBits)
{
    const uint64_t srcMax = (uint64_t(1) << srcBits) - 1;
    const uint64_t dstMax = (uint64_t(1) << dstBits) - 1;
    const uint64_t x = v & srcMax;
    if (srcBits == dstBits) return uint32_t(x);
    if (srcBits > dstBits) return uint32_t(x >> (srcBits - dstBits));
    return uint32_t((x * dstMax + srcMax / 2) / srcMax);
}

uint32_t fromDouble(double value, uint32_t type)
{
    const int bits = bitsOf(type);
    const double r = std::nearbyint(value);
    if (isSigned(type)) {
        const double lo = -std::ldexp(1.0, bits - 1), hi = std::ldexp(1.0, bits - 1) - 1;
        const int64_t s = int64_t(r < lo ? lo : r > hi ? hi : r);
        const uint64_t mask = (uint64_t(1) << bits) - 1;
        return uint32_t(uint64_t(s) & mask);
    }
    const double hi = std::ldexp(1.0, bits) - 1;
    return uint32_t(r < 0 ? 0 : r > hi ? hi : r);
}

std::vector<uint8_t> convert(const std::vector<uint8_t>& src, uint32_t srcType, uint32_t dstType,
                             size_t pixelCount)
{
    const int sb = bytesPerPixel(srcType), db = bytesPerPixel(dstType);
    if (srcType == dstType) return src;
    std::vector<uint8_t> out(pixelCount * size_t(db));
    const int sbits = bitsOf(srcType), dbits = bitsOf(dstType);
    for (size_t i = 0; i < pixelCount; ++i)
        store(&out[i * db], db, rescale(load(&src[i * sb], sb), sbits, dbits));
    return out;
}

std::vector<uint8_t> toGrey(const uint8_t* src, uint32_t type, size_t pixelCount)
{
    const int bpp = bytesPerPixel(type), bits = bitsOf(type);
    std::vector<uint8_t> out(pixelCount);
    if (bits == 8) {
        for (size_t i = 0; i < pixelCount; ++i) out[i] = src[i];
    } else if (bits == 16) {
        for (size_t i = 0; i < pixelCount; ++i) out[i] = src[2 * i + 1];
    } else {
        for (size_t i = 0; i < pixelCount; ++i) out[i] = grey(load(src + i * bpp, bpp), bits);
    }
    return out;
}

}  // namespace orbpix
