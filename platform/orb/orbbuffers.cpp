// Buffer calls: allocation, clear, copy, whole and 2D transfers, inquiries.
#include "orbcore.h"
#include "orbpixels.h"

#include <cmath>
#include <cstring>
#include <new>

using namespace orbcore;

namespace {

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// A rectangle inside the buffer, or the call's error.
bool checkRect(Call& c, const Buffer& b, OrbInt x, OrbInt y, OrbInt w, OrbInt h, const void* memory)
{
    if (!memory) {
        c.fail("The memory pointer is null");
        return false;
    }
    if (w < 1 || h < 1) {
        c.fail("Invalid parameter", {"Invalid region size " + sizeText(w, h)});
        return false;
    }
    if (x < 0 || y < 0 || int64_t(x) + w > b.width || int64_t(y) + h > b.height) {
        c.fail("Region outside the buffer",
               {"Region (" + std::to_string(x) + ", " + std::to_string(y) + ") " + sizeText(w, h),
                "Buffer size " + sizeText(b.width, b.height)});
        return false;
    }
    return true;
}

}  // namespace

OrbId orbBufAlloc2d(OrbId systemId, OrbInt sizeX, OrbInt sizeY, uint32_t type, uint32_t attributes, OrbId* bufferId)
{
    Call c("orbBufAlloc2d", {hex(systemId), dec(sizeX), dec(sizeY), hex(type), hex(attributes), ptr(bufferId)});
    if (bufferId) *bufferId = 0;
    if (!c.system(systemId)) return 0;
    if (!orbpix::validType(type)) {
        c.fail("Unacceptable buffer attribute", {"Invalid buffer type " + hex(type), "Bits per pixel must be 1 to 32"});
        return 0;
    }
    const uint32_t known = ORB_ATTR_IMAGE | ORB_ATTR_GRAB | ORB_ATTR_PROC | ORB_ATTR_DISP;
    if (attributes & ~known) {
        c.fail("Unacceptable buffer attribute", {"Unknown attribute bits " + hex(attributes & ~known)});
        return 0;
    }
    if (!orbpix::validSize(sizeX, sizeY, type)) {
        c.fail("Unacceptable buffer attribute",
               {"Invalid buffer size " + sizeText(sizeX, sizeY),
                "Sides must be 1 to " + std::to_string(orbpix::kMaxSide) + " pixels, at most " +
                    std::to_string(orbpix::kMaxBytes >> 20) + " MiB"});
        return 0;
    }
    if (c.allocFails(orbsim::AllocKind::Buffer, "buffer")) return 0;
    Buffer b;
    b.system = systemId;
    b.width = sizeX;
    b.height = sizeY;
    b.type = type;
    b.attributes = attributes;
    b.bpp = orbpix::bytesPerPixel(type);
    try {
        b.data.assign(b.pixelCount() * size_t(b.bpp), 0);
    } catch (const std::bad_alloc&) {
        c.fail("Insufficient memory", {"Cannot allocate the buffer", sizeText(sizeX, sizeY)});
        return 0;
    }
    const OrbId id = c.newId();
    c.s().buffers.emplace(id, std::move(b));
    if (bufferId) *bufferId = id;
    return id;
}

void orbBufFree(OrbId bufferId)
{
    Call c("orbBufFree", {hex(bufferId)});
    if (!c.buffer(bufferId)) return;
    freeBuffer(c, bufferId);
}

void orbBufClear(OrbId bufferId, double value)
{
    Call c("orbBufClear", {hex(bufferId), dbl(value)});
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    if (std::isnan(value)) return c.fail("Invalid parameter", {"The clear value is not a number"});
    const uint32_t v = orbpix::fromDouble(value, b->type);
    if (b->bpp == 1) {
        std::memset(b->data.data(), int(v & 0xFF), b->data.size());
    } else {
        for (size_t i = 0; i < b->pixelCount(); ++i) orbpix::store(&b->data[i * size_t(b->bpp)], b->bpp, v);
    }
    c.bufferChanged(bufferId);
}

void orbBufCopy(OrbId sourceId, OrbId destinationId)
{
    Call c("orbBufCopy", {hex(sourceId), hex(destinationId)});
    Buffer* src = c.buffer(sourceId);
    if (!src) return;
    Buffer* dst = c.buffer(destinationId);
    if (!dst) return;
    if (src->width != dst->width || src->height != dst->height || src->type != dst->type) {
        return c.fail("Buffers do not match",
                      {"Source " + sizeText(src->width, src->height) + " type " + hex(src->type),
                       "Destination " + sizeText(dst->width, dst->height) + " type " + hex(dst->type)});
    }
    if (src != dst) dst->data = src->data;
    c.bufferChanged(destinationId);
}

void orbBufGet(OrbId bufferId, void* memory)
{
    Call c("orbBufGet", {hex(bufferId), ptr(memory)});
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    if (!memory) return c.fail("The memory pointer is null");
    std::memcpy(memory, b->data.data(), b->data.size());
}

void orbBufPut(OrbId bufferId, const void* memory)
{
    Call c("orbBufPut", {hex(bufferId), ptr(memory)});
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    if (!memory) return c.fail("The memory pointer is null");
    std::memcpy(b->data.data(), memory, b->data.size());
    c.bufferChanged(bufferId);
}

void orbBufGet2d(OrbId bufferId, OrbInt x, OrbInt y, OrbInt width, OrbInt height, void* memory)
{
    Call c("orbBufGet2d", {hex(bufferId), dec(x), dec(y), dec(width), dec(height), ptr(memory)});
    Buffer* b = c.buffer(bufferId);
    if (!b || !checkRect(c, *b, x, y, width, height, memory)) return;
    const size_t row = size_t(width) * size_t(b->bpp), pitch = size_t(b->width) * size_t(b->bpp);
    auto* out = static_cast<uint8_t*>(memory);
    for (OrbInt r = 0; r < height; ++r)
        std::memcpy(out + size_t(r) * row, b->data.data() + size_t(y + r) * pitch + size_t(x) * size_t(b->bpp), row);
}

void orbBufPut2d(OrbId bufferId, OrbInt x, OrbInt y, OrbInt width, OrbInt height, const void* memory)
{
    Call c("orbBufPut2d", {hex(bufferId), dec(x), dec(y), dec(width), dec(height), ptr(memory)});
    Buffer* b = c.buffer(bufferId);
    if (!b || !checkRect(c, *b, x, y, width, height, memory)) return;
    const size_t row = size_t(width) * size_t(b->bpp), pitch = size_t(b->width) * size_t(b->bpp);
    const auto* in = static_cast<const uint8_t*>(memory);
    for (OrbInt r = 0; r < height; ++r)
        std::memcpy(b->data.data() + size_t(y + r) * pitch + size_t(x) * size_t(b->bpp), in + size_t(r) * row, row);
    c.bufferChanged(bufferId);
}

OrbInt orbBufInquire(OrbId bufferId, OrbInt type, void* out)
{
    Call c("orbBufInquire", {hex(bufferId), dec(type), ptr(out)});
    Buffer* b = c.buffer(bufferId);
    if (!b) return 0;
    OrbInt v;
    switch (type) {
    case ORB_BUF_SIZE_X: v = b->width; break;
    case ORB_BUF_SIZE_Y: v = b->height; break;
    case ORB_BUF_TYPE: v = OrbInt(b->type); break;
    default: c.fail("Invalid parameter", {"Unknown buffer inquire type " + std::to_string(type)}); return 0;
    }
    if (out) std::memcpy(out, &v, sizeof v);
    return v;
}
