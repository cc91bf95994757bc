#include "buffiles.h"

#include "bufchild.h"
#include "bufhandlers.h"
#include "bufid.h"
#include "hlc_errors.h"
#include "hostutil.h"
#include "im_msgio.h"
#include "regularfile.h"
#include "tiffhandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using qsrf::TiffHandler;

// ---------------------------------------------------------------- default operations

uint32_t NodeOf(uint32_t device)
{
    return (device >> 16) & 0xFF;
}

_MP_BUF_ST* DefaultDescriptor(uint32_t, uint32_t id)
{
    return mp_buf_pointer(id);
}

uint32_t LineBytes(uint32_t bits, int32_t sizeX)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(bits) * static_cast<uint32_t>(sizeX) + 7) / 8);
}

// Moves a rectangle between packed data and the bands (the pixel transfer of the host).
int32_t Transfer(_MP_BUF_ST* b, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, bool read, uint8_t* data)
{
    if (!b || x < 0 || y < 0 || sizeX <= 0 || sizeY <= 0 || x > b->sizeX - sizeX || y > b->sizeY - sizeY)
        return HLC_ERR_INVALID_PARAMETER;
    const uint32_t pixelBytes = (b->bits + 7) / 8;
    const uint32_t firstX = b->bits % 8 ? static_cast<uint32_t>(x) / 8 : static_cast<uint32_t>(x) * pixelBytes;
    const uint32_t line = LineBytes(b->bits, sizeX);
    for (uint32_t band = 0; band < b->bands; ++band) {
        auto* base = static_cast<uint8_t*>(mp_buf_address_band_internal(b, band));
        if (!base) return HLC_ERR_NO_RESOURCES;
        for (int32_t row = 0; row < sizeY; ++row) {
            uint8_t* pixels = base + static_cast<size_t>(b->pitch) * (y + row) + firstX;
            if (read) std::memcpy(data, pixels, line);
            else std::memcpy(pixels, data, line);
            data += line;
        }
    }
    return 0;
}

int32_t DefaultGet(uint32_t, uint32_t id, void* data)
{
    _MP_BUF_ST* b = mp_buf_pointer(id);
    return b ? Transfer(b, 0, 0, b->sizeX, b->sizeY, true, static_cast<uint8_t*>(data)) : HLC_ERR_INVALID_PARAMETER;
}

int32_t DefaultPut2d(uint32_t, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, const void* data)
{
    return Transfer(mp_buf_pointer(id), x, y, sizeX, sizeY, false,
                    static_cast<uint8_t*>(const_cast<void*>(data)));
}

uint32_t DefaultAlloc(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                      uint32_t location, uint32_t* id)
{
    uint32_t made = 0;
    if (_MP_BUF_ST* b = mp_buf_alloc_on_node(NodeOf(device), sizeX, sizeY, bands, type, location)) {
        made = mp_buf_alloc_id(b);
        if ((made & kIdSlotMask) == 0) {
            mp_buf_free(b);
            made = 0;
        }
    }
    if (id) *id = made;
    return made;
}

int32_t DefaultFree(uint32_t, uint32_t id)
{
    _MP_BUF_ST* b = mp_buf_pointer(id);
    if (!b) return HLC_ERR_INVALID_PARAMETER;
    mp_buf_free(b);
    return 0;
}

int32_t DefaultGetNextField(uint32_t, uint32_t id, int32_t* cursor, uint32_t* key, double* value)
{
    _MP_FIELD_ST* at = reinterpret_cast<_MP_FIELD_ST*>(static_cast<intptr_t>(*cursor));
    const int r = mp_buf_next_field(mp_buf_pointer(id), &at, key, value);
    *cursor = static_cast<int32_t>(reinterpret_cast<intptr_t>(at));
    return r == 0 ? 0 : HLC_ERR_NOT_PRESENT;
}

int32_t DefaultPutField(uint32_t, uint32_t id, uint32_t key, double value)
{
    return mp_buf_put_field(mp_buf_pointer(id), key, value) == 0 ? 0 : HLC_ERR_NO_RESOURCES;
}

constexpr ImBufFileOps kDefaultOps{DefaultDescriptor, DefaultGet,  DefaultPut2d,       DefaultAlloc,
                                   DefaultFree,       DefaultGetNextField, DefaultPutField};
ImBufFileOps g_ops = kDefaultOps;

// ---------------------------------------------------------------- common steps

// The message context of one export: errors are logged on it and filed at the end.  The
// buffer exports it calls (allocation, pixels, fields) file nothing themselves: the export
// logs its own error for their failures, under its own name.
class Call {
public:
    Call(uint32_t opcode, const char* name) { im_msg_start(&msg_, opcode, 4, name); }
    ~Call() { im_buf_end(&msg_); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    int32_t Fail(int32_t code, const char* text)
    {
        im_msg_log_error(&msg_, code, text);
        return code;
    }

private:
    _MSG_ST msg_{};
    ImBufInnerCalls inner_{&msg_};
};

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeBlock>;

// A data block of the given size, null when it cannot be had (or cannot be addressed).
Block NewBlock(uint64_t bytes)
{
    if (bytes == 0 || bytes > TiffHandler::kMaxImageBytes) return nullptr;
    return Block(static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(bytes))));
}

// Bytes of packed data of `planes` planes: lines of (bits x size X + 7) / 8 bytes, so that
// one-bit lines that do not end on a byte keep their last pixels.
uint64_t PackedBytes(uint32_t bits, uint64_t sizeX, uint64_t sizeY, uint64_t planes)
{
    return (bits * sizeX + 7) / 8 * sizeY * planes;
}

bool Predefined(uint32_t id)
{
    return id == 0 || (id & kIdPredefined) != 0;
}

_MP_BUF_ST* Descriptor(uint32_t device, uint32_t id)
{
    return Predefined(id) ? nullptr : g_ops.descriptor(device, id);
}

// The TIFF file of a name: as given with ".tif" added when it has no extension, then in
// each directory of TIFPATH.
bool FindTiff(uint32_t device, const char* name, std::string* found)
{
    char path[kSearchPathBytes];
    char* out = path;
    if (!im_search_env(NodeOf(device), name, ".tif", "TIFPATH", "r", &out)) return false;
    *found = path;
    return true;
}

double Word64(uint32_t low, uint32_t high)
{
    const uint64_t bits = (static_cast<uint64_t>(high) << 32) | low;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The fields of a field block: the magic, the count, then pairs.  A count beyond the
// block's size is cut to the pairs the block holds.
struct FieldBlock {
    Block bytes;
    uint32_t pairs = 0;
    const double* values() const { return reinterpret_cast<const double*>(bytes.get()); }
};

// Reads tag 305 of an open file: 0 (with no fields when the tag is absent or carries no
// magic) or -4 when its block cannot be had.
int32_t ReadFieldBlock(TiffHandler& tiff, FieldBlock* out)
{
    const uint32_t size = tiff.TagBytes(kTiffTagSoftware);
    if (size < 16) return 0;
    out->bytes = NewBlock(size);
    if (!out->bytes) return HLC_ERR_NO_RESOURCES;
    const uint32_t got = tiff.ReadTag(kTiffTagSoftware, out->bytes.get(), size);
    const double* v = out->values();
    double magic;
    std::memcpy(&magic, v, sizeof magic);
    const double expected = Word64(kFieldBlockMagicLow, kFieldBlockMagicHigh);
    if (got < 16 || std::memcmp(&magic, &expected, sizeof magic) != 0) return 0;
    double count;
    std::memcpy(&count, v + 1, sizeof count);
    const uint32_t room = got / 16 - 1;
    out->pairs = count >= 1 ? static_cast<uint32_t>(std::fmin(count, room)) : 0;
    return 0;
}

int32_t PutFields(uint32_t device, uint32_t id, const FieldBlock& fields)
{
    for (uint32_t i = 0; i < fields.pairs; ++i) {
        double key, value;
        std::memcpy(&key, fields.values() + 2 + 2 * i, sizeof key);
        std::memcpy(&value, fields.values() + 3 + 2 * i, sizeof value);
        // Keys are 32-bit integers; a key outside their range cannot be one.
        if (!(key >= 0.0 && key <= 4294967295.0)) continue;
        if (g_ops.putField(device, id, static_cast<uint32_t>(key), value) != 0) return HLC_ERR_NO_RESOURCES;
    }
    return 0;
}

// A new file written beside the one it replaces and renamed over it when complete.
class ReplacingFile {
public:
    ReplacingFile() = default;
    // Refuses a target that exists and is no regular file; keeps an old file's mode.
    bool Create(const char* target)
    {
        target_ = target;
        struct stat st;
        const bool exists = ::stat(target, &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) return false;
        const size_t slash = target_.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        static std::atomic<uint32_t> serial{0};
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char suffix[40];
            std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()), serial++);
            temp_ = dir + "." + base + suffix;
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            temp_.clear();
            return false;
        }
        if (exists) ::fchmod(fd_, st.st_mode & 07777);
        return true;
    }
    ~ReplacingFile()
    {
        CloseFd();
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    const std::string& tempPath() const { return temp_; }
    // Writes all bytes to the new file.
    bool Write(const uint8_t* data, uint64_t bytes)
    {
        while (bytes > 0) {
            const ssize_t n = ::write(fd_, data, static_cast<size_t>(std::min<uint64_t>(bytes, 1u << 30)));
            if (n <= 0) return false;
            data += n;
            bytes -= static_cast<uint64_t>(n);
        }
        return true;
    }
    // Closes the new file and puts it in the target's place.
    bool Commit()
    {
        if (!CloseFd() || ::rename(temp_.c_str(), target_.c_str()) != 0) return false;
        temp_.clear();
        return true;
    }
    // Closes the descriptor only (another writer reopens the file by its path).
    bool CloseFd()
    {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    std::string target_, temp_;
    int fd_ = -1;
};

// Reads exactly `bytes` bytes of a regular file; false for anything else or fewer bytes.
enum class RawRead { kOk, kOpen, kShort };
RawRead ReadRawFile(const char* name, uint8_t* data, uint64_t bytes)
{
    if (!qsrf::IsRegularFile(name)) return RawRead::kOpen;
    // Read-only and non-blocking: the file is only read, and a path swapped for a named
    // pipe after the check cannot stall the open.
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return RawRead::kOpen;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return RawRead::kOpen;
    }
    while (bytes > 0) {
        const ssize_t n = ::read(fd, data, static_cast<size_t>(std::min<uint64_t>(bytes, 1u << 30)));
        if (n <= 0) break;
        data += n;
        bytes -= static_cast<uint64_t>(n);
    }
    ::close(fd);
    return bytes == 0 ? RawRead::kOk : RawRead::kShort;
}

// ---------------------------------------------------------------- the three exports

int32_t LoadRaw(Call& call, uint32_t device, const char* name, uint32_t id)
{
    const _MP_BUF_ST* b = Descriptor(device, id);
    if (!b) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid buffer ID");
    const uint64_t bytes = PackedBytes(b->bits, b->sizeX, b->sizeY, b->bands);
    Block data = NewBlock(bytes);
    if (!data) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    // The buffer is written only when the whole file has been read.
    switch (ReadRawFile(name, data.get(), bytes)) {
    case RawRead::kOpen: return call.Fail(HLC_ERR_FILE_ACCESS, "Opening file");
    case RawRead::kShort: return call.Fail(HLC_ERR_FILE_ACCESS, "Reading file");
    case RawRead::kOk: break;
    }
    if (g_ops.put2d(device, id, 0, 0, b->sizeX, b->sizeY, data.get()) != 0)
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    return 0;
}

int32_t LoadTiff(Call& call, uint32_t device, const char* name, uint32_t id)
{
    const _MP_BUF_ST* b = Descriptor(device, id);
    if (!b) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid buffer ID");
    std::string path;
    if (!FindTiff(device, name, &path)) return call.Fail(HLC_ERR_FILE_ACCESS, "Cannot find file in path");
    TiffHandler tiff;
    if (!tiff.OpenRead(path.c_str()) || !tiff.ReadHeader() || tiff.status() != 0)
        return call.Fail(HLC_ERR_RESTRICTED, "TIFF file");
    // The planes are handed to the buffer as its own pixels: other depths or a larger
    // image would be read as something else or past the data.
    if (tiff.bitsPerSample() != b->bits)
        return call.Fail(HLC_ERR_BUFFER_ATTRIBUTE, "TIFF file does not match the buffer");
    if (tiff.width() > static_cast<uint32_t>(b->sizeX) || tiff.height() > static_cast<uint32_t>(b->sizeY))
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    const uint32_t samples = tiff.samplesPerPixel();
    const uint32_t planes = std::max(b->bands, samples);
    const int mode = samples > 1 ? TiffHandler::kReadPlanes : TiffHandler::kReadOneSample;
    const uint64_t plane = tiff.PlaneBytes();
    Block data = NewBlock(plane * planes);
    if (!data) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    FieldBlock fields;
    if (ReadFieldBlock(tiff, &fields) != 0) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    if (!tiff.ReadImage(data.get(), plane * planes, mode)) return call.Fail(HLC_ERR_RESTRICTED, "TIFF file");
    // Bands the file has no sample for repeat its first plane.
    for (uint32_t p = samples; p < planes; ++p) std::memcpy(data.get() + p * plane, data.get(), plane);
    // Fields and pixels change the buffer only once the whole file has been read.
    if (PutFields(device, id, fields) != 0) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    if (g_ops.put2d(device, id, 0, 0, static_cast<int32_t>(tiff.width()), static_cast<int32_t>(tiff.height()),
                    data.get()) != 0)
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    return 0;
}

// The restore once the buffer exists; a failure leaves the buffer to the caller to free.
int32_t FillRestored(Call& call, uint32_t device, uint32_t id, TiffHandler& tiff, int mode)
{
    const uint64_t bytes = tiff.ImageBytes();
    Block data = NewBlock(bytes);
    if (!data) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    FieldBlock fields;
    if (ReadFieldBlock(tiff, &fields) != 0 || PutFields(device, id, fields) != 0)
        return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    if (!tiff.ReadImage(data.get(), bytes, mode)) return call.Fail(HLC_ERR_RESTRICTED, "TIFF file");
    if (g_ops.put2d(device, id, 0, 0, static_cast<int32_t>(tiff.width()), static_cast<int32_t>(tiff.height()),
                    data.get()) != 0)
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    return 0;
}

int32_t SaveRaw(Call& call, uint32_t device, const char* name, uint32_t id, const _MP_BUF_ST* b)
{
    const uint64_t bytes = PackedBytes(b->bits, b->sizeX, b->sizeY, b->bands);
    Block data = NewBlock(bytes);
    if (!data) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    if (g_ops.get(device, id, data.get()) != 0)
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    ReplacingFile file;
    if (!file.Create(name)) return call.Fail(HLC_ERR_FILE_ACCESS, "Opening file");
    if (!file.Write(data.get(), bytes) || !file.Commit()) return call.Fail(HLC_ERR_FILE_ACCESS, "Saving file");
    return 0;
}

// The field block of a buffer: the magic, the count, then the fields in list order.
Block MakeFieldBlock(uint32_t device, uint32_t id, uint32_t fieldCount, uint32_t* bytes)
{
    *bytes = 16 * (fieldCount + 1);
    Block block = NewBlock(*bytes);
    if (!block) return nullptr;
    auto* v = reinterpret_cast<double*>(block.get());
    const double magic = Word64(kFieldBlockMagicLow, kFieldBlockMagicHigh);
    uint32_t filled = 0;
    int32_t cursor = -1;
    uint32_t key = 0;
    double value = 0.0;
    while (filled < fieldCount && cursor != 0 && g_ops.getNextField(device, id, &cursor, &key, &value) == 0) {
        const double k = key;
        std::memcpy(v + 2 + 2 * filled, &k, sizeof k);
        std::memcpy(v + 3 + 2 * filled, &value, sizeof value);
        ++filled;
    }
    // The count says how many pairs were filled, and the block ends after them.
    const double count = filled;
    std::memcpy(v, &magic, sizeof magic);
    std::memcpy(v + 1, &count, sizeof count);
    *bytes = 16 * (filled + 1);
    return block;
}

int32_t SaveTiff(Call& call, uint32_t device, const char* name, int32_t format, uint32_t id, const _MP_BUF_ST* b)
{
    const uint64_t bytes = PackedBytes(b->bits, b->sizeX, b->sizeY, b->bands);
    Block data = NewBlock(bytes);
    uint32_t fieldBytes = 0;
    Block fields = format == IM_FILE_TIFF_FIELDS ? MakeFieldBlock(device, id, b->fieldCount, &fieldBytes) : nullptr;
    if (!data || (format == IM_FILE_TIFF_FIELDS && !fields))
        return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    ReplacingFile file;
    TiffHandler tiff;
    if (!file.Create(name) || !file.CloseFd() ||
        !tiff.OpenWrite(file.tempPath().c_str(), static_cast<uint32_t>(b->sizeX), static_cast<uint32_t>(b->sizeY),
                        b->bands, b->bits))
        return call.Fail(HLC_ERR_FILE_ACCESS, "Opening file");
    if (fields) tiff.WriteTag(kTiffTagSoftware, TiffHandler::kTypeAscii, fieldBytes, fields.get());
    if (g_ops.get(device, id, data.get()) != 0)
        return call.Fail(HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    std::unique_ptr<uint16_t[]> formats(new (std::nothrow) uint16_t[b->bands]);
    if (!formats) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory");
    for (uint32_t i = 0; i < b->bands; ++i) formats[i] = im_buf_tiff_sample_format(b->type);
    tiff.WriteTag(kTiffTagSampleFormat, TiffHandler::kTypeShort, b->bands, formats.get());
    if (!tiff.WriteHeader() || !tiff.WriteImage(data.get(), bytes))
        return call.Fail(HLC_ERR_FILE_ACCESS, "Saving file");
    tiff.Close();
    if (!file.Commit()) return call.Fail(HLC_ERR_FILE_ACCESS, "Saving file");
    return 0;
}

}  // namespace

void im_buf_files_set_ops(const ImBufFileOps* ops)
{
    g_ops = kDefaultOps;
    if (!ops) return;
    if (ops->descriptor) g_ops.descriptor = ops->descriptor;
    if (ops->get) g_ops.get = ops->get;
    if (ops->put2d) g_ops.put2d = ops->put2d;
    if (ops->alloc) g_ops.alloc = ops->alloc;
    if (ops->free) g_ops.free = ops->free;
    if (ops->getNextField) g_ops.getNextField = ops->getNextField;
    if (ops->putField) g_ops.putField = ops->putField;
}

uint32_t im_buf_tiff_type(uint32_t bits, uint16_t sampleFormat)
{
    // A file without tag 339 is unsigned at 8 bits and signed at every other depth.
    if (sampleFormat == 0) sampleFormat = bits == 8 ? kTiffSampleUnsigned : kTiffSampleSigned;
    const bool isSigned = sampleFormat == kTiffSampleSigned;
    switch (bits) {
    case 1: return 0x40000001u;
    case 8: return isSigned ? 0x10000008u : 8u;
    case 16: return isSigned ? 0x10000010u : 16u;
    case 24: return 0x40000018u;
    case 32:
        if (sampleFormat == kTiffSampleFloat) return 0x20000020u;
        return isSigned ? 0x10000020u : 32u;
    case 64: return 0x20000040u;
    default: return 8u;
    }
}

uint16_t im_buf_tiff_sample_format(uint32_t type)
{
    if (type & kBufTypeFloat) return kTiffSampleFloat;
    if (type & kBufTypeSigned) return kTiffSampleSigned;
    return kTiffSampleUnsigned;
}

int32_t imBufLoad(uint32_t device, const char* fileName, int32_t format, uint32_t id)
try {
    Call call(kOpBufLoad, "imBufLoad");
    if (!fileName || !*fileName) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid file name");
    if (format == IM_FILE_RAW) return LoadRaw(call, device, fileName, id);
    if (format != IM_FILE_TIFF && format != IM_FILE_TIFF_FIELDS)
        return call.Fail(HLC_ERR_RESTRICTED, "Invalid file format");
    return LoadTiff(call, device, fileName, id);
}
HLC_EXPORT_CATCH(imBufLoad)

uint32_t imBufRestore(uint32_t device, const char* fileName, int32_t format, uint32_t location, uint32_t* id)
try {
    if (id) *id = 0;
    Call call(kOpBufRestore, "imBufRestore");
    if (!fileName || !*fileName) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid file name"), 0;
    if (format != IM_FILE_TIFF && format != IM_FILE_TIFF_FIELDS)
        return call.Fail(HLC_ERR_RESTRICTED, "Invalid file format"), 0;
    std::string path;
    if (!FindTiff(device, fileName, &path)) return call.Fail(HLC_ERR_FILE_ACCESS, "Cannot find file in path"), 0;
    TiffHandler tiff;
    if (!tiff.OpenRead(path.c_str()) || !tiff.ReadHeader()) return call.Fail(HLC_ERR_RESTRICTED, "TIFF file"), 0;
    const uint32_t samples = tiff.samplesPerPixel();
    // The first sample format only; a tag of any length is read into a block of its own.
    uint16_t sampleFormat = 0;
    if (const uint32_t tagBytes = tiff.TagBytes(kTiffTagSampleFormat)) {
        Block formats = NewBlock(std::max<uint32_t>(tagBytes, 2));
        if (!formats) return call.Fail(HLC_ERR_NO_RESOURCES, "Not enough HOST memory"), 0;
        if (tiff.ReadTag(kTiffTagSampleFormat, formats.get(), tagBytes) >= 2)
            std::memcpy(&sampleFormat, formats.get(), sizeof sampleFormat);
    }
    if (tiff.status() != 0) return call.Fail(HLC_ERR_RESTRICTED, "TIFF file"), 0;
    const uint32_t type = im_buf_tiff_type(tiff.bitsPerSample(), sampleFormat);
    const int mode = samples > 1 ? TiffHandler::kReadPlanes
                                 : tiff.bitsPerSample() == 24 ? TiffHandler::kReadPacked24 : TiffHandler::kReadOneSample;
    uint32_t made = 0;
    g_ops.alloc(device, static_cast<int32_t>(tiff.width()), static_cast<int32_t>(tiff.height()), samples, type,
                location, &made);
    if (Predefined(made)) return call.Fail(HLC_ERR_NO_RESOURCES, "Invalid buffer ID"), 0;
    if (FillRestored(call, device, made, tiff, mode) != 0) {
        // Nothing of a failed restore stays allocated.
        g_ops.free(device, made);
        return 0;
    }
    if (id) *id = made;
    return made;
}
HLC_EXPORT_CATCH(imBufRestore)

int32_t imBufSave(uint32_t device, const char* fileName, int32_t format, uint32_t id)
try {
    Call call(kOpBufSave, "imBufSave");
    const _MP_BUF_ST* b = Descriptor(device, id);
    if (!b) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid buffer ID");
    if (!fileName || !*fileName) return call.Fail(HLC_ERR_INVALID_PARAMETER, "Invalid file name");
    if (format == IM_FILE_RAW) return SaveRaw(call, device, fileName, id, b);
    if (format != IM_FILE_TIFF && format != IM_FILE_TIFF_FIELDS)
        return call.Fail(HLC_ERR_RESTRICTED, "Invalid file format");
    return SaveTiff(call, device, fileName, format, id, b);
}
HLC_EXPORT_CATCH(imBufSave)
