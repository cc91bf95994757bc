#include "Floatimage.h"

#include "Apperror.h"
#include "Readablefile.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t FloatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

float BitsFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

std::string ErrnoText(int err) { return err ? std::string(": ") + std::strerror(err) : std::string(); }

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Values are converted in blocks of this many so a large map needs no second full copy.
constexpr size_t kBlockValues = 16384;

// Writes all bytes of the map's file to f; false on a write error (errno set).
bool WriteFlt(FILE* f, int32_t width, int32_t height, const float scale[3],
              const uint8_t reserved[kFltReservedSize], const float* data, size_t count)
{
    uint8_t header[kFltHeaderSize];
    PutU32(header + 0, static_cast<uint32_t>(width));
    PutU32(header + 4, static_cast<uint32_t>(height));
    for (int i = 0; i < 3; ++i) PutU32(header + 8 + 4 * i, FloatBits(scale[i]));
    std::memcpy(header + 20, reserved, kFltReservedSize);
    if (std::fwrite(header, 1, sizeof header, f) != sizeof header) return false;

    std::vector<uint8_t> block(4 * std::min(count, kBlockValues));
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(count - done, kBlockValues);
        for (size_t i = 0; i < n; ++i) PutU32(&block[4 * i], FloatBits(data[done + i]));
        if (std::fwrite(block.data(), 4, n, f) != n) return false;
        done += n;
    }
    return true;
}

// The directory part of path ("." when it has none) and its file-name part.
void SplitPath(const std::string& path, std::string& dir, std::string& file)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        dir = ".";
        file = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        file = path.substr(slash + 1);
    }
}

}  // namespace

TFloatImage::TFloatImage(const std::string& path)
{
    LoadFromFile(path);
}

TFloatImage::TFloatImage(float* data, int32_t width, int32_t height)
    : width_(width), height_(height)
{
    if (width <= 0 || height <= 0)
        throw EAppError("A float map of " + std::to_string(width) + " x " +
                        std::to_string(height) + " values is not possible");
    if (data) {
        data_ = data;
        ownership_ = kBorrowed;
    } else {
        try {
            data_ = new float[Count()]();
        } catch (const std::bad_alloc&) {
            throw EAppError("No more memory to allocate");
        }
        ownership_ = kAllocated;
    }
}

TFloatImage::~TFloatImage() { Release(); }

void TFloatImage::Release()
{
    if (ownership_ != kBorrowed) delete[] data_;
    data_ = nullptr;
}

int ReplaceFile(const std::string& path, const std::function<bool(FILE*)>& write, bool* created)
{
    if (created) *created = false;
    if (path.empty()) return ENOENT;
    std::string dir, file;
    SplitPath(path, dir, file);
    std::string temp = (dir == "/" ? "" : dir) + "/." + file + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return errno;
    temp = name.data();
    // mkstemp makes the file private; give it the usual permissions of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    FILE* f = fdopen(fd, "wb");
    if (!f) {
        const int err = errno;
        close(fd);
        std::remove(temp.c_str());
        return err;
    }
    if (created) *created = true;
    errno = 0;
    bool ok = write(f) && std::fflush(f) == 0;
    int err = ok ? 0 : (errno ? errno : EIO);
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    // rename replaces whatever is at path, a link or a named pipe too, without opening it.
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) std::remove(temp.c_str());
    return err;
}

void WriteFileReplacing(const std::string& path, const std::function<bool(FILE*)>& write)
{
    if (path.empty()) throw EAppError("No file name given");
    bool created = false;
    if (const int err = ReplaceFile(path, write, &created))
        throw EAppError((created ? "Cannot write the file " : "Cannot create the file ") + path + ErrnoText(err));
}

void TFloatImage::SaveToFile(const std::string& path) const
{
    WriteFileReplacing(path, [this](FILE* f) {
        return WriteFlt(f, width_, height_, scale_, reserved_, data_, Count());
    });
}

void TFloatImage::LoadFromFile(const std::string& path)
{
    TReadableFile opened(path);
    if (!opened.NotRegular().empty())
        throw EAppError(path + " is not a float data file: it is " +
                        (opened.NotRegular() == "not a regular file" ? opened.NotRegular()
                                                                     : opened.NotRegular() + ", not a regular file"));
    if (!opened.IsOpen()) throw EAppError("Cannot open the file " + path + ErrnoText(opened.Errno()));
    const uint64_t fileSize = opened.Size();
    File f(fdopen(opened.Fd(), "rb"));
    if (!f) {
        const int err = errno;
        throw EAppError("Cannot open the file " + path + ErrnoText(err));
    }
    opened.Release();   // the stream closes it now

    uint8_t header[kFltHeaderSize];
    if (fileSize < kFltHeaderSize ||
        std::fread(header, 1, sizeof header, f.get()) != sizeof header)
        throw EAppError(path + " is not a float data file: it is shorter than its " +
                        std::to_string(kFltHeaderSize) + "-byte header");
    const int32_t width = static_cast<int32_t>(GetU32(header + 0));
    const int32_t height = static_cast<int32_t>(GetU32(header + 4));
    if (width <= 0 || height <= 0)
        throw EAppError(path + " is not a float data file: its size " + std::to_string(width) +
                        " x " + std::to_string(height) + " is not possible");
    // Both are below 2^31, so the product and its 4-byte values fit 64 bits.
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t expected = kFltHeaderSize + 4 * count;
    if (count > std::numeric_limits<size_t>::max() / 4 || fileSize != expected)
        throw EAppError(path + " is not a float data file of " + std::to_string(width) + " x " +
                        std::to_string(height) + " values: it holds " +
                        std::to_string(fileSize) + " bytes instead of " +
                        std::to_string(expected));

    std::unique_ptr<float[]> values;
    try {
        values.reset(new float[count]);
    } catch (const std::bad_alloc&) {
        throw EAppError("No more memory to allocate");
    }
    std::vector<uint8_t> block(4 * std::min<size_t>(count, kBlockValues));
    for (size_t done = 0; done < count;) {
        const size_t n = std::min<size_t>(count - done, kBlockValues);
        if (std::fread(block.data(), 4, n, f.get()) != n) {
            const int err = std::ferror(f.get()) ? errno : 0;
            throw EAppError("Cannot read the file " + path + ErrnoText(err));
        }
        for (size_t i = 0; i < n; ++i) values[done + i] = BitsFloat(GetU32(&block[4 * i]));
        done += n;
    }

    Release();
    name_ = path;
    width_ = width;
    height_ = height;
    for (int i = 0; i < 3; ++i) scale_[i] = BitsFloat(GetU32(header + 8 + 4 * i));
    std::memcpy(reserved_, header + 20, kFltReservedSize);
    data_ = values.release();
    ownership_ = kLoaded;
}
