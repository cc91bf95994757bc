#include "tiffhandler.h"

#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qsrf {

namespace {

constexpr uint16_t kTagSampleFormat = 339;

// libtiff's messages go into the handler (the last one kept), never to the terminal.
int KeepMessage(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    char text[256];
    std::vsnprintf(text, sizeof text, fmt, ap);
    auto* message = static_cast<std::string*>(user);
    *message = std::string(module ? module : "libtiff") + ": " + text;
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

TIFFOpenOptions* NewOptions(std::string* message)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepMessage, message);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    // libtiff's own blocks (lines, strip tables) stay far below the image blocks.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, 16 << 20);
    return options;
}

// Sample depths whose lines the library can move: one-bit pixels and whole bytes.
bool DepthSupported(uint32_t bits)
{
    return bits == 1 || bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

// TIFF stores one-bit pixels most significant bit first, the library's buffers least
// significant bit first.
void ReverseBits(uint8_t* data, uint64_t bytes)
{
    static const auto table = [] {
        std::vector<uint8_t> t(256);
        for (int v = 0; v < 256; ++v) {
            uint8_t r = 0;
            for (int b = 0; b < 8; ++b)
                if (v & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
            t[v] = r;
        }
        return t;
    }();
    for (uint64_t i = 0; i < bytes; ++i) data[i] = table[data[i]];
}

uint32_t TypeBytes(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

// The whole of a positioned read or write (pread or pwrite), however it is split.
template <typename Byte, typename Io>
bool WholeAt(Io io, int fd, uint64_t offset, Byte* p, size_t bytes)
{
    while (bytes > 0) {
        const ssize_t n = io(fd, p, bytes, static_cast<off_t>(offset));
        if (n <= 0) return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAt(int fd, uint64_t offset, void* data, size_t bytes)
{
    return WholeAt(::pread, fd, offset, static_cast<uint8_t*>(data), bytes);
}

bool WriteAt(int fd, uint64_t offset, const void* data, size_t bytes)
{
    return WholeAt(::pwrite, fd, offset, static_cast<const uint8_t*>(data), bytes);
}

uint16_t Get16(const uint8_t* p, bool swapped)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return swapped ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

uint32_t Get32(const uint8_t* p, bool swapped)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

bool HostIsLittleEndian()
{
    const uint16_t one = 1;
    uint8_t first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// 1 when the open file's byte order is not the host's, 0 when it is, -1 for a file that
// is no classic TIFF.
int FileSwapped(int fd)
{
    uint8_t header[4];
    if (!ReadAt(fd, 0, header, sizeof header)) return -1;
    bool little;
    if (header[0] == 'I' && header[1] == 'I') little = true;
    else if (header[0] == 'M' && header[1] == 'M') little = false;
    else return -1;
    const bool swapped = little != HostIsLittleEndian();
    return Get16(header + 2, swapped) == 42 ? (swapped ? 1 : 0) : -1;
}

}  // namespace

TiffHandler::TiffHandler() = default;

TiffHandler::~TiffHandler()
{
    Close();
}

bool TiffHandler::Fail(const char* why)
{
    status_ = 1;
    if (message_.empty()) message_ = why;
    return false;
}

uint64_t TiffHandler::PlaneBytes() const
{
    return (static_cast<uint64_t>(width_) * bits_ + 7) / 8 * height_;
}

// ---------------------------------------------------------------- reading

bool TiffHandler::OpenRead(const char* path)
{
    Close();
    status_ = 0;
    message_.clear();
    if (!IsRegularFile(path)) return Fail("not a regular file");
    // Non-blocking: a file swapped for a named pipe after the check cannot stall the open.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail("cannot open the file");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail("not a regular file");
    }
    TIFFOpenOptions* options = NewOptions(&message_);
    // "m": no memory mapping, so a file cut short while it is read gives a read error.
    tif_ = options ? TIFFFdOpenExt(fd, path, "rm", options) : nullptr;
    TIFFOpenOptionsFree(options);
    if (!tif_) {
        ::close(fd);
        return Fail("not a TIFF file");
    }
    writing_ = false;
    path_ = path;
    return true;
}

bool TiffHandler::ReadHeader()
{
    if (!tif_ || writing_) return Fail("no file open for reading");
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height))
        return Fail("no image size");
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric);
    width_ = width;
    height_ = height;
    bits_ = bits;
    samples_ = samples;
    planar_ = planar;
    if (width == 0 || height == 0 || samples == 0) return Fail("empty image");
    if (!DepthSupported(bits)) return Fail("unsupported sample depth");
    if (TIFFIsTiled(tif_)) return Fail("tiled images are not supported");
    if (photometric == PHOTOMETRIC_YCBCR) return Fail("YCbCr images are not supported");
    if (planar == PLANARCONFIG_CONTIG && samples > 1 && bits == 1)
        return Fail("interleaved one-bit samples are not supported");
    if (ImageBytes() > kMaxImageBytes) return Fail("image too large");
    const uint64_t line = (static_cast<uint64_t>(width) * bits * (planar == PLANARCONFIG_CONTIG ? samples : 1) + 7) / 8;
    if (static_cast<uint64_t>(TIFFScanlineSize64(tif_)) != line) return Fail("unexpected line size");
    return status_ == 0;
}

bool TiffHandler::FindEntry(int fd, uint16_t tag, Entry* entry)
{
    const int swapped = FileSwapped(fd);
    struct stat st;
    if (swapped < 0 || ::fstat(fd, &st) != 0) return false;
    const uint64_t fileBytes = static_cast<uint64_t>(st.st_size);
    uint8_t word[4];
    if (!ReadAt(fd, 4, word, 4)) return false;
    const uint64_t ifd = Get32(word, swapped);
    uint8_t countBytes[2];
    if (ifd + 2 > fileBytes || !ReadAt(fd, ifd, countBytes, 2)) return false;
    const uint32_t entries = Get16(countBytes, swapped);
    if (ifd + 2 + 12ull * entries > fileBytes) return false;
    std::vector<uint8_t> table(12u * entries);
    if (entries == 0 || !ReadAt(fd, ifd + 2, table.data(), table.size())) return false;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = table.data() + 12 * i;
        if (Get16(e, swapped) != tag) continue;
        const uint16_t type = Get16(e + 2, swapped);
        const uint32_t count = Get32(e + 4, swapped);
        const uint64_t bytes = static_cast<uint64_t>(count) * TypeBytes(type);
        const uint64_t at = ifd + 2 + 12ull * i;
        const uint64_t data = bytes <= 4 ? at + 8 : Get32(e + 8, swapped);
        if (bytes == 0 || data + bytes > fileBytes) return false;
        *entry = Entry{type, count, data, at};
        return true;
    }
    return false;
}

uint32_t TiffHandler::TagBytes(uint16_t tag)
{
    Entry e;
    if (!tif_ || writing_ || !FindEntry(TIFFFileno(tif_), tag, &e)) return 0;
    const uint64_t bytes = static_cast<uint64_t>(e.count) * TypeBytes(e.type);
    return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

uint32_t TiffHandler::ReadTag(uint16_t tag, void* data, uint32_t capacity)
{
    Entry e;
    const int fd = tif_ && !writing_ ? TIFFFileno(tif_) : -1;
    if (fd < 0 || !data || !FindEntry(fd, tag, &e)) return 0;
    const uint32_t size = TypeBytes(e.type);
    const uint64_t bytes = static_cast<uint64_t>(e.count) * size;
    // Whole elements only, as many as fit.
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(bytes, capacity / size * size));
    if (take == 0 || !ReadAt(fd, e.dataOffset, data, take)) return 0;
    if (FileSwapped(fd) == 1 && size > 1) {
        auto* p = static_cast<uint8_t*>(data);
        for (uint32_t i = 0; i < take; i += size) std::reverse(p + i, p + i + size);
    }
    return take;
}

bool TiffHandler::ReadImage(void* data, uint64_t capacity, int mode)
{
    if (!tif_ || writing_ || status_ != 0) return Fail("no image to read");
    if (!data || capacity < ImageBytes()) return Fail("data block too small");
    const uint64_t planeLine = (static_cast<uint64_t>(width_) * bits_ + 7) / 8;
    const uint64_t plane = PlaneBytes();
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize64(tif_)));
    auto* out = static_cast<uint8_t*>(data);
    if (planar_ == PLANARCONFIG_SEPARATE) {
        for (uint32_t s = 0; s < samples_; ++s)
            for (uint32_t row = 0; row < height_; ++row) {
                if (TIFFReadScanline(tif_, line.data(), row, static_cast<uint16_t>(s)) < 0)
                    return Fail("cannot read the image");
                std::memcpy(out + s * plane + row * planeLine, line.data(), planeLine);
            }
    } else {
        const uint32_t sampleBytes = bits_ / 8;
        for (uint32_t row = 0; row < height_; ++row) {
            if (TIFFReadScanline(tif_, line.data(), row, 0) < 0) return Fail("cannot read the image");
            if (samples_ == 1 || mode != kReadPlanes) {
                std::memcpy(out + row * line.size(), line.data(), line.size());
                continue;
            }
            for (uint32_t x = 0; x < width_; ++x)
                for (uint32_t s = 0; s < samples_; ++s)
                    std::memcpy(out + s * plane + row * planeLine + static_cast<uint64_t>(x) * sampleBytes,
                                line.data() + (static_cast<uint64_t>(x) * samples_ + s) * sampleBytes, sampleBytes);
        }
    }
    if (bits_ == 1) ReverseBits(out, ImageBytes());
    return true;
}

// ---------------------------------------------------------------- writing

bool TiffHandler::OpenWrite(const char* path, uint32_t width, uint32_t height, uint32_t samples, uint32_t bits)
{
    Close();
    status_ = 0;
    message_.clear();
    width_ = width;
    height_ = height;
    samples_ = samples;
    bits_ = bits;
    if (width == 0 || height == 0 || samples == 0 || samples > 0xFFFF) return Fail("empty image");
    if (!DepthSupported(bits)) return Fail("unsupported sample depth");
    if (ImageBytes() > kMaxImageBytes) return Fail("image too large");
    TIFFOpenOptions* options = NewOptions(&message_);
    tif_ = options && path ? TIFFOpenExt(path, "w", options) : nullptr;
    TIFFOpenOptionsFree(options);
    if (!tif_) return Fail("cannot create the file");
    writing_ = true;
    path_ = path;
    planar_ = samples > 1 ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG;
    const bool rgb = samples == 3 && (bits == 8 || bits == 16);
    bool ok = TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits) && TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, planar_) &&
              TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
              TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, 0));
    if (ok && samples > 1 && !rgb) {
        // Bands beyond the first are samples without a colour meaning.
        std::vector<uint16_t> extra(samples - 1, EXTRASAMPLE_UNSPECIFIED);
        ok = TIFFSetField(tif_, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    return ok ? true : Fail("cannot describe the image");
}

void TiffHandler::WriteTag(uint16_t tag, uint16_t type, uint32_t count, const void* data)
{
    if (!tif_ || !writing_ || !data || count == 0) {
        Fail("tag without a value");
        return;
    }
    if (type == kTypeAscii) {
        blockTag_ = tag;
        block_.assign(static_cast<const char*>(data), count);
        // libtiff writes an ASCII value up to its first zero byte: a placeholder of the
        // block's length holds the place that WriteImage fills with the bytes themselves.
        const std::string placeholder(count, 'x');
        if (!TIFFSetField(tif_, tag, placeholder.c_str())) Fail("cannot set a text tag");
        return;
    }
    if (tag == kTagSampleFormat && type == kTypeShort) {
        // libtiff keeps one sample format for every sample.
        const auto* values = static_cast<const uint16_t*>(data);
        for (uint32_t i = 1; i < count; ++i)
            if (values[i] != values[0]) {
                Fail("mixed sample formats");
                return;
            }
        if (!TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT, values[0])) Fail("cannot set the sample format");
        return;
    }
    if (type == kTypeShort && count == 1) {
        if (!TIFFSetField(tif_, tag, *static_cast<const uint16_t*>(data))) Fail("cannot set a tag");
        return;
    }
    Fail("unsupported tag");
}

bool TiffHandler::WriteHeader()
{
    if (!tif_ || !writing_) return Fail("no file open for writing");
    return status_ == 0;
}

bool TiffHandler::PatchAsciiBlock()
{
    Entry e;
    const int fd = TIFFFileno(tif_);
    if (!FindEntry(fd, blockTag_, &e) || e.type != kTypeAscii || e.count != block_.size() + 1)
        return Fail("text tag not found");
    const int swapped = FileSwapped(fd);
    uint32_t count = static_cast<uint32_t>(block_.size());
    if (swapped) count = __builtin_bswap32(count);
    // The bytes first, then the count without the placeholder's closing zero byte.
    if (!WriteAt(fd, e.dataOffset, block_.data(), block_.size()) || !WriteAt(fd, e.entryOffset + 4, &count, 4))
        return Fail("cannot write a text tag");
    return true;
}

bool TiffHandler::WriteImage(const void* data, uint64_t bytes)
{
    if (!tif_ || !writing_ || status_ != 0) return Fail("no image to write");
    if (!data || bytes < ImageBytes()) return Fail("data block too small");
    const uint64_t planeLine = (static_cast<uint64_t>(width_) * bits_ + 7) / 8;
    std::vector<uint8_t> line(static_cast<size_t>(planeLine));
    const auto* in = static_cast<const uint8_t*>(data);
    for (uint32_t s = 0; s < samples_; ++s)
        for (uint32_t row = 0; row < height_; ++row) {
            std::memcpy(line.data(), in + s * PlaneBytes() + row * planeLine, line.size());
            if (bits_ == 1) ReverseBits(line.data(), line.size());
            if (TIFFWriteScanline(tif_, line.data(), row, static_cast<uint16_t>(s)) < 0)
                return Fail("cannot write the image");
        }
    if (!TIFFWriteDirectory(tif_)) return Fail("cannot write the directory");
    if (blockTag_ && !PatchAsciiBlock()) return false;
    return true;
}

void TiffHandler::Close()
{
    if (tif_) TIFFClose(tif_);
    tif_ = nullptr;
    writing_ = false;
    blockTag_ = 0;
    block_.clear();
}

}  // namespace qsrf
