// TIFF files for the library's buffer files, on libtiff: one image (the first directory)
// read or written whole, its samples delivered as planes one after another, and raw
// access to the first directory's tags for the private blocks the library keeps in them.
//
// A handler is used by one thread at a time; handlers on different threads are
// independent (libtiff's messages are kept per handle and never printed).
//
// Pixel layout of the data blocks: each plane holds height lines of (width x bits + 7) / 8
// bytes without padding; multi-byte samples in host byte order; one-bit pixels packed
// least significant bit first (the file keeps TIFF's own most significant bit first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct tiff TIFF;

namespace qsrf {

class TiffHandler {
public:
    // How ReadImage lays out a file with several samples per pixel.
    enum ReadMode : int {
        kReadPacked24 = 1,   // the samples as stored (a 24-bit file)
        kReadPlanes = 2,     // one plane per sample
        kReadOneSample = 3,  // a file with one sample per pixel
    };
    // TIFF field types used with WriteTag.
    static constexpr uint16_t kTypeAscii = 2;
    static constexpr uint16_t kTypeShort = 3;

    // The largest image a handler reads or writes (bytes of all planes).
    static constexpr uint64_t kMaxImageBytes = 256u << 20;

    TiffHandler();
    ~TiffHandler();
    TiffHandler(const TiffHandler&) = delete;
    TiffHandler& operator=(const TiffHandler&) = delete;

    // 0 after every successful step, non-zero after a failure (and until Close).
    int status() const { return status_; }
    // libtiff's last message or the handler's own reason, for diagnostics.
    const std::string& lastMessage() const { return message_; }

    // ---- reading ----------------------------------------------------------------------
    // Opens a regular file (anything else is refused before it is opened).
    bool OpenRead(const char* path);
    // Reads the first directory's image description.
    bool ReadHeader();
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t bitsPerSample() const { return bits_; }
    uint32_t samplesPerPixel() const { return samples_; }
    // Bytes of one plane and of the whole image (every sample).
    uint64_t PlaneBytes() const;
    uint64_t ImageBytes() const { return PlaneBytes() * samples_; }
    // The size in bytes of a tag's value in the first directory, 0 when it is absent.
    uint32_t TagBytes(uint16_t tag);
    // Copies up to `capacity` bytes of the tag's value (elements in host byte order);
    // returns the bytes copied, 0 when the tag is absent.
    uint32_t ReadTag(uint16_t tag, void* data, uint32_t capacity);
    // Reads the whole image into `data` of `capacity` bytes (ImageBytes() needed).
    bool ReadImage(void* data, uint64_t capacity, int mode);

    // ---- writing ----------------------------------------------------------------------
    // Creates (or empties) the file for an image of the given shape, planes stored apart.
    bool OpenWrite(const char* path, uint32_t width, uint32_t height, uint32_t samples, uint32_t bits);
    // Sets a tag: 339 (sample format, type 3, one value per sample) or an ASCII tag whose
    // value is stored byte for byte with `count` as its count (it may hold zero bytes).
    void WriteTag(uint16_t tag, uint16_t type, uint32_t count, const void* data);
    // Checks that the description is complete.
    bool WriteHeader();
    // Writes the planes and the directory; the file is complete afterwards.
    bool WriteImage(const void* data, uint64_t bytes);

    // Releases the file (a writer not completed by WriteImage leaves an incomplete file).
    void Close();

private:
    bool Fail(const char* why);
    // The first directory's entry for a tag in the open file: type, count, value offset.
    struct Entry {
        uint16_t type = 0;
        uint32_t count = 0;
        uint64_t dataOffset = 0;    // where the value lies in the file
        uint64_t entryOffset = 0;   // where the entry lies in the file
    };
    bool FindEntry(int fd, uint16_t tag, Entry* entry);
    bool PatchAsciiBlock();

    TIFF* tif_ = nullptr;
    bool writing_ = false;
    int status_ = 0;
    std::string message_;
    std::string path_;
    uint32_t width_ = 0, height_ = 0, bits_ = 0, samples_ = 0;
    uint16_t planar_ = 1;
    // An ASCII tag holding binary bytes: libtiff writes a placeholder of the same length,
    // replaced by the bytes once the directory is in the file.
    uint16_t blockTag_ = 0;
    std::string block_;
};

}  // namespace qsrf
