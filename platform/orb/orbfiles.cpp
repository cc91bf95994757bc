#include "orbfiles.h"

#include "orbpixels.h"
#include "regularfile.h"

#include <tiffio.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbfile {

namespace {

using orbpix::bytesPerPixel;

Error makeError(std::string message, std::vector<std::string> subs)
{
    Error e;
    e.message = std::move(message);
    if (subs.size() > 3) subs.resize(3);
    e.subMessages = std::move(subs);
    return e;
}

std::string sizeText(int64_t w, int64_t h)
{
    return "invalid image size " + std::to_string(w) + " x " + std::to_string(h);
}

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put16(std::vector<uint8_t>& v, uint16_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

}  // namespace

bool checkRegular(const std::string& path, Error& err)
{
    const std::string why = qsrf::WhyNotRegularFile(path.c_str());
    if (why.empty() || why == "not found") return true;
    if (why == "not a regular file")
        err = makeError("File access error", {path, why});
    else
        err = makeError("File access error", {path, "not a regular file", "it is " + why});
    return false;
}

namespace {

// A file opened for reading: size and positioned reads that fail rather than run short.
class Reader {
public:
    ~Reader()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool open(const std::string& path, Error& err)
    {
        if (!checkRegular(path, err)) return false;
        // O_NONBLOCK: a pipe put in the file's place since the check must not block either.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            err = makeError("File access error", {path, std::string("cannot open: ") + std::strerror(errno)});
            return false;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            err = makeError("File access error", {path, "not a regular file"});
            return false;
        }
        size_ = uint64_t(st.st_size);
        return true;
    }
    uint64_t size() const { return size_; }
    int fd() const { return fd_; }
    bool readAt(uint64_t offset, void* dst, uint64_t n) const
    {
        if (offset > size_ || n > size_ - offset) return false;
        auto* p = static_cast<uint8_t*>(dst);
        while (n > 0) {
            const ssize_t r = ::pread(fd_, p, size_t(n), off_t(offset));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            p += r;
            offset += uint64_t(r);
            n -= uint64_t(r);
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// A new file written next to its final name and moved there once complete.
class TempFile {
public:
    explicit TempFile(const std::string& path) : path_(path)
    {
        static std::atomic<unsigned> counter{0};
        temp_ = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    }
    ~TempFile()
    {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temp_.c_str());
    }
    const std::string& tempPath() const { return temp_; }
    bool create(Error& err)
    {
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            err = makeError("File access error", {path_, std::string("cannot create: ") + std::strerror(errno)});
            return false;
        }
        return true;
    }
    bool write(const std::vector<uint8_t>& data, Error& err)
    {
        const uint8_t* p = data.data();
        size_t n = data.size();
        while (n > 0) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                err = makeError("File access error", {path_, std::string("write failed: ") + std::strerror(errno)});
                return false;
            }
            p += w;
            n -= size_t(w);
        }
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            err = makeError("File access error", {path_, std::string("write failed: ") + std::strerror(errno)});
            return false;
        }
        fd_ = -1;
        return true;
    }
    bool commit(Error& err)
    {
        if (::rename(temp_.c_str(), path_.c_str()) != 0) {
            err = makeError("File access error", {path_, std::string("cannot replace: ") + std::strerror(errno)});
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    std::string path_, temp_;
    int fd_ = -1;
    bool committed_ = false;
};

bool isBmpHeaderSize(uint32_t n) { return n == 12 || n == 40 || n == 52 || n == 56 || n == 64 || n == 108 || n == 124; }

// ---- own format ----

constexpr uint32_t kOwnHeader = 32;

std::vector<uint8_t> encodeOwn(const Image& img)
{
    std::vector<uint8_t> v;
    v.reserve(kOwnHeader + img.pixels.size());
    v.insert(v.end(), {'O', 'I', 'M', 'G'});
    put16(v, 1);
    put16(v, kOwnHeader);
    put32(v, uint32_t(img.width));
    put32(v, uint32_t(img.height));
    put32(v, img.type);
    put32(v, uint32_t(bytesPerPixel(img.type)));
    put32(v, uint32_t(img.pixels.size()));
    put32(v, 0);
    v.insert(v.end(), img.pixels.begin(), img.pixels.end());
    return v;
}

bool readOwn(const std::string& path, Image& out, Error& err)
{
    Reader r;
    if (!r.open(path, err)) return false;
    if (r.size() == 0) {
        err = makeError("Empty file", {path});
        return false;
    }
    uint8_t h[kOwnHeader];
    if (r.size() < 4 || !r.readAt(0, h, 4) || std::memcmp(h, "OIMG", 4) != 0) {
        err = makeError("Not an OIM file", {path, "the file does not begin with \"OIMG\""});
        return false;
    }
    if (!r.readAt(0, h, kOwnHeader)) {
        err = makeError("Truncated OIM file", {path, "the header is incomplete"});
        return false;
    }
    const uint16_t version = le16(h + 4), headerSize = le16(h + 6);
    if (version != 1) {
        err = makeError("Unsupported OIM file", {path, "version " + std::to_string(version)});
        return false;
    }
    const uint32_t w = le32(h + 8), hh = le32(h + 12), type = le32(h + 16), bpp = le32(h + 20), size = le32(h + 24);
    if (headerSize < kOwnHeader) {
        err = makeError("Malformed OIM file", {path, "header size " + std::to_string(headerSize)});
        return false;
    }
    if (!orbpix::validType(type)) {
        char t[32];
        std::snprintf(t, sizeof t, "0x%x", type);
        err = makeError("Malformed OIM file", {path, std::string("invalid pixel type ") + t});
        return false;
    }
    if (!orbpix::validSize(w, hh, type)) {
        err = makeError("Malformed OIM file", {path, sizeText(w, hh)});
        return false;
    }
    const uint64_t need = uint64_t(w) * hh * uint64_t(bytesPerPixel(type));
    if (bpp != uint32_t(bytesPerPixel(type)) || size != need) {
        err = makeError("Malformed OIM file", {path, "pixel size fields do not match the image size and type"});
        return false;
    }
    if (r.size() < headerSize + need) {
        err = makeError("Truncated OIM file", {path, "holds " + std::to_string(r.size()) + " bytes, the image needs " +
                                                         std::to_string(headerSize + need)});
        return false;
    }
    std::vector<uint8_t> px(need);
    if (!r.readAt(headerSize, px.data(), need)) {
        err = makeError("File access error", {path, "read failed"});
        return false;
    }
    out.width = int(w);
    out.height = int(hh);
    out.type = type;
    out.pixels = std::move(px);
    return true;
}

// ---- BMP ----

std::vector<uint8_t> encodeBmp(const Image& img)
{
    const std::vector<uint8_t> grey =
        orbpix::toGrey(img.pixels.data(), img.type, size_t(img.width) * size_t(img.height));
    const uint32_t row = (uint32_t(img.width) + 3u) & ~3u;
    const uint32_t offBits = 14 + 40 + 256 * 4;
    const uint32_t imageSize = row * uint32_t(img.height);
    std::vector<uint8_t> v;
    v.reserve(offBits + imageSize);
    v.push_back('B');
    v.push_back('M');
    put32(v, offBits + imageSize);
    put32(v, 0);
    put32(v, offBits);
    put32(v, 40);
    put32(v, uint32_t(img.width));
    put32(v, uint32_t(img.height));
    put16(v, 1);
    put16(v, 8);
    put32(v, 0);  // BI_RGB
    put32(v, imageSize);
    put32(v, 2835);
    put32(v, 2835);
    put32(v, 256);
    put32(v, 0);
    for (int i = 0; i < 256; ++i) v.insert(v.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    for (int y = img.height - 1; y >= 0; --y) {
        const uint8_t* src = grey.data() + size_t(y) * size_t(img.width);
        v.insert(v.end(), src, src + img.width);
        v.insert(v.end(), row - uint32_t(img.width), 0);
    }
    return v;
}

uint8_t luminance(uint8_t r, uint8_t g, uint8_t b) { return uint8_t((r * 299u + g * 587u + b * 114u + 500u) / 1000u); }

bool readBmp(const std::string& path, Image& out, Error& err)
{
    Reader r;
    if (!r.open(path, err)) return false;
    if (r.size() == 0) {
        err = makeError("Empty file", {path});
        return false;
    }
    uint8_t h[54] = {};
    if (r.size() < 2 || !r.readAt(0, h, 2) || h[0] != 'B' || h[1] != 'M') {
        err = makeError("Not a BMP file", {path, "the file does not begin with \"BM\""});
        return false;
    }
    if (!r.readAt(0, h, 18)) {
        err = makeError("Truncated BMP file", {path, "the header is incomplete"});
        return false;
    }
    const uint32_t offBits = le32(h + 10), infoSize = le32(h + 14);
    if (!isBmpHeaderSize(infoSize)) {
        err = makeError("Malformed BMP file", {path, "unknown header size " + std::to_string(infoSize)});
        return false;
    }
    if (infoSize < 40) {
        err = makeError("Unsupported BMP file", {path, "old-style headers are not read"});
        return false;
    }
    if (!r.readAt(0, h, 54)) {
        err = makeError("Truncated BMP file", {path, "the header is incomplete"});
        return false;
    }
    const int32_t width = int32_t(le32(h + 18)), height = int32_t(le32(h + 22));
    const uint16_t planes = le16(h + 26), bitCount = le16(h + 28);
    const uint32_t compression = le32(h + 30), clrUsed = le32(h + 46);
    if (planes != 1) {
        err = makeError("Malformed BMP file", {path, "plane count " + std::to_string(planes)});
        return false;
    }
    if ((bitCount != 8 && bitCount != 24) || compression != 0) {
        err = makeError("Unsupported BMP file", {path, "only uncompressed 8-bit palette and 24-bit files are read",
                                                 "bits per pixel " + std::to_string(bitCount) + ", compression " +
                                                     std::to_string(compression)});
        return false;
    }
    const int64_t absHeight = height < 0 ? -int64_t(height) : int64_t(height);
    if (!orbpix::validSize(width, absHeight, 8)) {
        err = makeError("Malformed BMP file", {path, sizeText(width, height)});
        return false;
    }
    uint8_t palette[256][3] = {};
    uint32_t entries = 0;
    if (bitCount == 8) {
        entries = clrUsed == 0 ? 256 : clrUsed;
        if (entries > 256) {
            err = makeError("Malformed BMP file", {path, "palette of " + std::to_string(clrUsed) + " entries"});
            return false;
        }
        uint8_t raw[256 * 4];
        if (!r.readAt(14 + uint64_t(infoSize), raw, uint64_t(entries) * 4)) {
            err = makeError("Truncated BMP file", {path, "the palette is incomplete"});
            return false;
        }
        for (uint32_t i = 0; i < entries; ++i) {
            palette[i][0] = raw[4 * i + 2];
            palette[i][1] = raw[4 * i + 1];
            palette[i][2] = raw[4 * i];
        }
    }
    const uint64_t row = ((uint64_t(width) * bitCount + 31) / 32) * 4;
    const uint64_t need = row * uint64_t(absHeight);
    if (offBits < 14 + uint64_t(infoSize) + uint64_t(entries) * 4) {
        err = makeError("Malformed BMP file", {path, "pixel data offset " + std::to_string(offBits) + " inside the header"});
        return false;
    }
    if (uint64_t(offBits) + need > r.size()) {
        err = makeError("Truncated BMP file", {path, "holds " + std::to_string(r.size()) + " bytes, the pixels need " +
                                                         std::to_string(uint64_t(offBits) + need)});
        return false;
    }
    std::vector<uint8_t> data(need);
    if (!r.readAt(offBits, data.data(), need)) {
        err = makeError("File access error", {path, "read failed"});
        return false;
    }
    std::vector<uint8_t> px(size_t(width) * size_t(absHeight));
    for (int64_t y = 0; y < absHeight; ++y) {
        const uint8_t* src = data.data() + size_t(y) * row;
        const int64_t dstRow = height > 0 ? absHeight - 1 - y : y;
        uint8_t* dst = px.data() + size_t(dstRow) * size_t(width);
        if (bitCount == 8) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t idx = src[x];
                if (idx >= entries) {
                    err = makeError("Malformed BMP file", {path, "pixel value " + std::to_string(idx) +
                                                                     " outside the palette of " + std::to_string(entries)});
                    return false;
                }
                dst[x] = luminance(palette[idx][0], palette[idx][1], palette[idx][2]);
            }
        } else {
            for (int32_t x = 0; x < width; ++x) dst[x] = luminance(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
        }
    }
    out.width = width;
    out.height = int(absHeight);
    out.type = 8;
    out.pixels = std::move(px);
    return true;
}

// ---- TIFF ----

// Collects libtiff's messages for one file instead of printing them.
struct TiffMessages {
    std::string first;
    static int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
    {
        auto* self = static_cast<TiffMessages*>(user);
        if (self->first.empty()) {
            char text[256];
            std::vsnprintf(text, sizeof text, fmt, ap);
            self->first = module ? std::string(module) + ": " + text : std::string(text);
        }
        return 1;
    }
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
};

// Opens path, or with fd >= 0 a copy of that already opened descriptor (the file that was
// checked, not whatever may have been put at path since), which the TIFF then owns.
TIFF* openTiff(const std::string& path, const char* mode, TiffMessages& msgs, int fd = -1)
{
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, &TiffMessages::onError, &msgs);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, &TiffMessages::onWarning, &msgs);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(orbpix::kMaxBytes) + (1 << 20));
    TIFF* tif = nullptr;
    if (fd < 0) {
        tif = TIFFOpenExt(path.c_str(), mode, opts);
    } else if (const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); own >= 0) {
        tif = TIFFFdOpenExt(own, path.c_str(), mode, opts);
        if (!tif) ::close(own);
    }
    TIFFOpenOptionsFree(opts);
    return tif;
}

bool readTiff(const std::string& path, Image& out, Error& err)
{
    Reader r;
    if (!r.open(path, err)) return false;
    if (r.size() == 0) {
        err = makeError("Empty file", {path});
        return false;
    }
    uint8_t m[4] = {};
    const bool ok = r.readAt(0, m, 4) && ((m[0] == 'I' && m[1] == 'I' && (m[2] == 42 || m[2] == 43) && m[3] == 0) ||
                                          (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && (m[3] == 42 || m[3] == 43)));
    if (!ok) {
        err = makeError("Not a TIFF file", {path, "the file does not begin with a TIFF byte-order mark"});
        return false;
    }
    TiffMessages msgs;
    TIFF* tif = openTiff(path, "rm", msgs, r.fd());
    if (!tif) {
        err = makeError("Malformed TIFF file", {path, msgs.first.empty() ? "cannot read the header" : msgs.first});
        return false;
    }
    struct Closer {
        TIFF* t;
        ~Closer() { TIFFClose(t); }
    } closer{tif};
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK, sampleFormat = SAMPLEFORMAT_UINT;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)) {
        err = makeError("Malformed TIFF file", {path, "the image size is missing"});
        return false;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (spp != 1 || photometric != PHOTOMETRIC_MINISBLACK || (bps != 8 && bps != 16 && bps != 32) ||
        (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_INT) || TIFFIsTiled(tif)) {
        err = makeError("Unsupported TIFF file", {path, "only grey strip images of 8, 16 or 32 bits per sample are read",
                                                  "samples " + std::to_string(spp) + ", bits " + std::to_string(bps) +
                                                      ", photometric " + std::to_string(photometric)});
        return false;
    }
    const uint32_t type = bps | (sampleFormat == SAMPLEFORMAT_INT ? ORB_SIGNED : 0u);
    if (!orbpix::validSize(w, h, type)) {
        err = makeError("Malformed TIFF file", {path, sizeText(w, h)});
        return false;
    }
    const int bpp = bytesPerPixel(type);
    const uint64_t rowBytes = uint64_t(w) * uint64_t(bpp);
    if (uint64_t(TIFFScanlineSize64(tif)) != rowBytes) {
        err = makeError("Malformed TIFF file", {path, "unexpected row size"});
        return false;
    }
    std::vector<uint8_t> line(rowBytes), px(rowBytes * h);
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
            err = makeError("Malformed TIFF file", {path, msgs.first.empty() ? "cannot read row " + std::to_string(y) : msgs.first});
            return false;
        }
        uint8_t* dst = px.data() + size_t(y) * rowBytes;
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t v;
            if (bpp == 1) {
                v = line[x];
            } else if (bpp == 2) {
                uint16_t s;
                std::memcpy(&s, &line[2 * size_t(x)], 2);
                v = s;
            } else {
                std::memcpy(&v, &line[4 * size_t(x)], 4);
            }
            orbpix::store(dst + size_t(x) * bpp, bpp, v);
        }
    }
    out.width = int(w);
    out.height = int(h);
    out.type = type;
    out.pixels = std::move(px);
    return true;
}

bool writeTiff(const std::string& path, const Image& img, Error& err)
{
    TempFile temp(path);
    if (!temp.create(err)) return false;
    TiffMessages msgs;
    TIFF* tif = openTiff(temp.tempPath(), "w", msgs);
    if (!tif) {
        err = makeError("File access error", {path, msgs.first.empty() ? "cannot create" : msgs.first});
        return false;
    }
    const int bpp = bytesPerPixel(img.type);
    const uint16_t bps = uint16_t(8 * bpp);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(img.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(img.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
                 uint16_t(orbpix::isSigned(img.type) ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    const size_t rowBytes = size_t(img.width) * size_t(bpp);
    std::vector<uint8_t> line(rowBytes);
    bool ok = true;
    for (int y = 0; y < img.height && ok; ++y) {
        const uint8_t* src = img.pixels.data() + size_t(y) * rowBytes;
        for (int x = 0; x < img.width; ++x) {
            const uint32_t v = orbpix::load(src + size_t(x) * bpp, bpp);
            if (bpp == 1) {
                line[x] = uint8_t(v);
            } else if (bpp == 2) {
                const uint16_t s = uint16_t(v);
                std::memcpy(&line[2 * size_t(x)], &s, 2);
            } else {
                std::memcpy(&line[4 * size_t(x)], &v, 4);
            }
        }
        ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) >= 0;
    }
    ok = TIFFFlush(tif) == 1 && ok;
    TIFFClose(tif);
    if (!ok || !msgs.first.empty()) {
        err = makeError("File access error", {path, msgs.first.empty() ? "write failed" : msgs.first});
        return false;
    }
    return temp.commit(err);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes, Error& err)
{
    TempFile temp(path);
    return temp.create(err) && temp.write(bytes, err) && temp.commit(err);
}

}  // namespace

Format sniff(const std::string& path)
{
    Reader r;
    Error ignored;
    if (!r.open(path, ignored)) return Format::Raw;
    uint8_t h[18] = {};
    const uint64_t n = r.size() < sizeof h ? r.size() : sizeof h;
    if (!r.readAt(0, h, n)) return Format::Raw;
    if (n >= 4 && std::memcmp(h, "OIMG", 4) == 0) return Format::Own;
    if (n >= 4 && ((h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
                   (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43))))
        return Format::Tiff;
    if (n >= 18 && h[0] == 'B' && h[1] == 'M' && isBmpHeaderSize(le32(h + 14))) return Format::Bmp;
    return Format::Raw;
}

bool save(const std::string& path, Format format, const Image& img, Error& err)
{
    switch (format) {
    case Format::Own: return writeBytes(path, encodeOwn(img), err);
    case Format::Raw: return writeBytes(path, img.pixels, err);
    case Format::Bmp: return writeBytes(path, encodeBmp(img), err);
    case Format::Tiff: return writeTiff(path, img, err);
    }
    return false;
}

bool read(const std::string& path, Format format, Image& out, Error& err)
{
    switch (format) {
    case Format::Own: return readOwn(path, out, err);
    case Format::Bmp: return readBmp(path, out, err);
    case Format::Tiff: return readTiff(path, out, err);
    case Format::Raw: break;
    }
    err = makeError("Unrecognised image file", {path, "raw files carry no size; load them into a buffer"});
    return false;
}

bool readRaw(const std::string& path, int width, int height, int bytesPerPixel, std::vector<uint8_t>& out, Error& err)
{
    Reader r;
    if (!r.open(path, err)) return false;
    const uint64_t need = uint64_t(width) * uint64_t(height) * uint64_t(bytesPerPixel);
    if (r.size() == 0) {
        err = makeError("Empty file", {path});
        return false;
    }
    if (r.size() < need) {
        err = makeError("Raw file too small", {path, "holds " + std::to_string(r.size()) + " bytes, the buffer needs " +
                                                         std::to_string(need)});
        return false;
    }
    std::vector<uint8_t> px(need);
    if (!r.readAt(r.size() - need, px.data(), need)) {
        err = makeError("File access error", {path, "read failed"});
        return false;
    }
    out = std::move(px);
    return true;
}

}  // namespace orbfile
