// Buffer file calls. Files are read and written outside the lock; a buffer is changed only
// once its whole file has been read and checked.
#include "orbcore.h"
#include "orbfiles.h"
#include "orbpixels.h"

#include <new>
#include <optional>

using namespace orbcore;

namespace {

std::optional<orbfile::Format> formatOf(OrbInt format)
{
    switch (format) {
    case ORB_FILE_OWN: return orbfile::Format::Own;
    case ORB_FILE_RAW: return orbfile::Format::Raw;
    case ORB_FILE_TIFF: return orbfile::Format::Tiff;
    case ORB_FILE_BMP: return orbfile::Format::Bmp;
    default: return std::nullopt;
    }
}

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

}  // namespace

void orbBufSave(const char* file, OrbInt format, OrbId bufferId)
{
    Call c("orbBufSave", {str(file), hex(uint32_t(format)), hex(bufferId)});
    if (!file || !*file) return c.fail("Invalid parameter", {"The file name is empty"});
    const auto fmt = formatOf(format);
    if (!fmt) return c.fail("Invalid parameter", {"Unknown file format " + hex(uint32_t(format))});
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    orbfile::Image img;
    img.width = b->width;
    img.height = b->height;
    img.type = b->type;
    try {
        img.pixels = b->data;
    } catch (const std::bad_alloc&) {
        return c.fail("Insufficient memory", {"Cannot save the buffer", file});
    }
    c.unlock();
    orbfile::Error err;
    const bool ok = orbfile::save(file, *fmt, img, err);
    c.relock();
    if (!ok) c.fail(err.message, err.subMessages);
}

void orbBufLoad(const char* file, OrbInt format, OrbInt operation, OrbId systemId, OrbId bufferId)
{
    Call c("orbBufLoad", {str(file), hex(uint32_t(format)), dec(operation), hex(systemId), hex(bufferId)});
    if (!file || !*file) return c.fail("Invalid parameter", {"The file name is empty"});
    std::optional<orbfile::Format> fmt;
    if (format != ORB_DEFAULT) {
        fmt = formatOf(format);
        if (!fmt) return c.fail("Invalid parameter", {"Unknown file format " + hex(uint32_t(format))});
    }
    if (operation != 1 && operation != ORB_DEFAULT)
        return c.fail("Invalid parameter", {"Unknown load operation " + std::to_string(operation)});
    if (!c.system(systemId)) return;
    Buffer* b = c.buffer(bufferId);
    if (!b) return;
    const int width = b->width, height = b->height, bpp = b->bpp;
    const uint32_t type = b->type;
    c.unlock();

    const std::string path = file;
    orbfile::Error err;
    if (!orbfile::checkRegular(path, err)) {
        c.relock();
        return c.fail(err.message, err.subMessages);
    }
    const orbfile::Format f = fmt ? *fmt : orbfile::sniff(path);
    std::vector<uint8_t> pixels;
    bool ok;
    try {
        if (f == orbfile::Format::Raw) {
            ok = orbfile::readRaw(path, width, height, bpp, pixels, err);
        } else {
            orbfile::Image img;
            ok = orbfile::read(path, f, img, err);
            if (ok && (img.width != width || img.height != height)) {
                ok = false;
                err.message = "Image size does not match the buffer";
                err.subMessages = {path, "File " + sizeText(img.width, img.height) + ", buffer " + sizeText(width, height)};
            }
            if (ok) pixels = orbpix::convert(img.pixels, img.type, type, size_t(width) * size_t(height));
        }
    } catch (const std::bad_alloc&) {
        ok = false;
        err.message = "Insufficient memory";
        err.subMessages = {path};
    }
    c.relock();
    if (!ok) return c.fail(err.message, err.subMessages);
    // The buffer may have gone or changed while the file was read.
    b = c.buffer(bufferId);
    if (!b) return;
    if (b->width != width || b->height != height || b->type != type)
        return c.fail("Buffer changed during the load", {path});
    b->data = std::move(pixels);
    c.bufferChanged(bufferId);
}

OrbId orbBufRestore(const char* file, OrbId systemId, OrbId* bufferId)
{
    Call c("orbBufRestore", {str(file), hex(systemId), ptr(bufferId)});
    if (bufferId) *bufferId = 0;
    if (!file || !*file) {
        c.fail("Invalid parameter", {"The file name is empty"});
        return 0;
    }
    if (!c.system(systemId)) return 0;
    c.unlock();
    const std::string path = file;
    orbfile::Error err;
    orbfile::Image img;
    bool ok = orbfile::checkRegular(path, err);
    try {
        // Sniffing an unreadable path would answer "raw": say why it cannot be read instead.
        if (ok) ok = orbfile::read(path, orbfile::sniff(path), img, err);
    } catch (const std::bad_alloc&) {
        ok = false;
        err.message = "Insufficient memory";
        err.subMessages = {path};
    }
    c.relock();
    if (!ok) {
        c.fail(err.message, err.subMessages);
        return 0;
    }
    if (!c.system(systemId)) return 0;
    if (c.allocFails(orbsim::AllocKind::Buffer, "buffer")) return 0;
    Buffer b;
    b.system = systemId;
    b.width = img.width;
    b.height = img.height;
    b.type = img.type;
    b.attributes = ORB_ATTR_IMAGE | ORB_ATTR_PROC | ORB_ATTR_DISP;
    b.bpp = orbpix::bytesPerPixel(img.type);
    b.data = std::move(img.pixels);
    const OrbId id = c.newId();
    c.s().buffers.emplace(id, std::move(b));
    if (bufferId) *bufferId = id;
    return id;
}
