// Pattern-matching and blob-analysis exports.
#include "impat.h"

#include "imbuf.h"
#include "imjpeg.h"
#include "jpegfile.h"
#include "patfile.h"

#include "im_msgio.h"
#include "im_param.h"

#include "hlc_errors.h"
#include "hwaccess.h"
#include "nodelist.h"
#include "regularfile.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBufInquireSizeY = 4;
constexpr uint32_t kBufInquireBands = 6;
constexpr uint32_t kBufInquirePitch = 202;

// Pattern result block: the count (i16) at byte 4, records of 28 bytes from byte 24.
constexpr uint32_t kResultCountAt = 4;
constexpr uint32_t kResultRecordsAt = 24;
constexpr uint32_t kResultRecordBytes = 28;
// The model header block: its last field read lies at byte 184.
constexpr uint32_t kModelHeaderBytes = 186;

void Put(_MSG_ST* msg, uint32_t slot, int32_t value) { im_msg_put_long(msg, slot, value); }
void Put(_MSG_ST* msg, uint32_t slot, uint32_t value) { im_msg_put_long(msg, slot, static_cast<int32_t>(value)); }
void Put(_MSG_ST* msg, uint32_t slot, double value) { im_msg_put_double(msg, slot, value); }

template <typename... Args>
void Build(_MSG_ST* msg, uint32_t opcode, const char* name, Args... args)
{
    im_msg_start(msg, opcode, sizeof...(Args), name);
    uint32_t slot = 0;
    (Put(msg, slot++, args), ...);
}

int32_t End(_MSG_ST* msg)
{
    im_msg_end(msg);
    return im_msg_cmd_error(msg);
}

// Posted without waiting; the post's error is returned.
template <typename... Args>
int32_t Post(uint32_t opcode, const char* name, uint32_t thread, uint32_t control, Args... args)
{
    _MSG_ST msg{};
    Build(&msg, opcode, name, args...);
    im_msg_send(&msg, 0, thread, control, IM_SYNC_NOWAIT);
    return End(&msg);
}

// Sent and waited for; the reply stays in msg for the caller, who ends it.
template <typename... Args>
void Ask(_MSG_ST* msg, uint32_t opcode, const char* name, uint32_t thread, Args... args)
{
    Build(msg, opcode, name, args...);
    im_msg_send(msg, 0, thread, 0, IM_SYNC_POLL);
}

uint32_t Slot(const _MSG_ST* msg, uint32_t slot)
{
    return static_cast<uint32_t>(im_msg_get_long(msg, slot));
}

// Waits for an id in slot 0, stored at out when given.
template <typename... Args>
uint32_t AskId(uint32_t opcode, const char* name, uint32_t thread, uint32_t* out, Args... args)
{
    _MSG_ST msg{};
    Ask(&msg, opcode, name, thread, args...);
    const uint32_t id = Slot(&msg, 0);
    im_msg_end(&msg);
    if (out) *out = id;
    return id;
}

// Waits for a 32-bit value in slot 0, stored at out when given and returned.
template <typename... Args>
int32_t AskValue(uint32_t opcode, const char* name, uint32_t thread, int32_t* out, Args... args)
{
    _MSG_ST msg{};
    Ask(&msg, opcode, name, thread, args...);
    const int32_t value = im_msg_get_long(&msg, 0);
    im_msg_end(&msg);
    if (out) *out = value;
    return value;
}

int32_t Fail(const char* name, int32_t code, const char* text)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 0, 0, name);
    im_msg_log_error(&msg, code, text);
    return End(&msg);
}

// Host address of bytes of board memory at a bus address of the node; 0 when the range
// does not lie in one piece of memory the host reaches.
uint32_t BusToHost(uint32_t node, uint32_t bus, uint32_t bytes)
{
    if (!bus) return 0;
    const uint32_t host = mp_util_pci_to_virtual(node, bus);
    if (!host || bytes == 0) return host;
    const uint64_t lastBus = uint64_t{bus} + bytes - 1;
    if (lastBus > 0xFFFFFFFFu) return 0;
    const uint32_t last = mp_util_pci_to_virtual(node, static_cast<uint32_t>(lastBus));
    if (uint64_t{host} + bytes - 1 != last || HwIsWindowAddress(host) != HwIsWindowAddress(last)) return 0;
    return host;
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

int64_t Truncated(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 9.2e18) return INT64_MAX;
    if (value <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(value);
}

int32_t Truncated32(double value)
{
    return static_cast<int32_t>(static_cast<uint64_t>(Truncated(value)));
}

// The model's bytes through a one-dimensional buffer to the board (opcode 159).
uint32_t SendModel(uint32_t thread, const uint8_t* bytes, uint32_t size)
{
    uint32_t buffer = 0;
    imBufAlloc1d(thread, static_cast<int32_t>(size), kPatBufferType, kPatBufferLocation, &buffer);
    if (!buffer) return 0;
    uint32_t model = 0;
    if (imBufPut(thread, buffer, bytes) == 0) model = AskId(159, "imPatRead", thread, nullptr, buffer);
    imBufFree(thread, buffer);
    return model;
}

struct SaveJob {
    uint32_t thread;
    uint32_t model;
};

int32_t SaveWrite(FILE* file, void* context)
{
    const auto* job = static_cast<const SaveJob*>(context);
    return imPatWrite(job->thread, file, job->model);
}

} // namespace

void pat_store_width(double value, uint32_t bits, void* out)
{
    if (!out) return;
    if (bits & kPatWidth8) {
        const auto v = static_cast<int8_t>(static_cast<uint8_t>(Truncated(value)));
        std::memcpy(out, &v, sizeof v);
    } else if (bits & kPatWidth16) {
        const auto v = static_cast<int16_t>(static_cast<uint16_t>(Truncated(value)));
        std::memcpy(out, &v, sizeof v);
    } else if (bits & kPatWidth32) {
        const int32_t v = Truncated32(value);
        std::memcpy(out, &v, sizeof v);
    } else if (bits & kPatWidthFloat) {
        const auto v = static_cast<float>(value);
        std::memcpy(out, &v, sizeof v);
    } else {
        std::memcpy(out, &value, sizeof value);
    }
}

// ---------------------------------------------------------------- pattern models

int32_t imPatAllocAutoModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                            int32_t p6, uint32_t* ids)
try {
    _MSG_ST msg{};
    Ask(&msg, 172, "imPatAllocAutoModel", thread, p0, p1, p2, p3, p4, p5, p6);
    int32_t n = im_msg_get_long(&msg, 0);
    // The ids follow the count in the reply's slots, of which fourteen exist.
    if (n < 0) n = 0;
    if (static_cast<uint32_t>(n) > kPatAutoModelsMax) n = static_cast<int32_t>(kPatAutoModelsMax);
    if (ids)
        for (int32_t i = 0; i < n; ++i) ids[i] = Slot(&msg, 1 + static_cast<uint32_t>(i));
    im_msg_end(&msg);
    return n;
}
HLC_EXPORT_CATCH(imPatAllocAutoModel)

uint32_t imPatAllocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                         uint32_t* id)
try {
    return AskId(150, "imPatAllocModel", thread, id, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imPatAllocModel)

uint32_t imPatAllocRotatedModel(uint32_t thread, int32_t p0, double p1, int32_t p2, uint32_t* id)
try {
    return AskId(170, "imPatAllocRotatedModel", thread, id, p0, p1, p2);
}
HLC_EXPORT_CATCH(imPatAllocRotatedModel)

uint32_t imPatAllocResult(uint32_t thread, int32_t p0, uint32_t* id)
try {
    return AskId(151, "imPatAllocResult", thread, id, p0);
}
HLC_EXPORT_CATCH(imPatAllocResult)

int32_t imPatCopy(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(152, "imPatCopy", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imPatCopy)

int32_t imPatCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(171, "imPatCopyResult", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imPatCopyResult)

int32_t imPatFindModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(153, "imPatFindModel", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imPatFindModel)

int32_t imPatFree(uint32_t thread, uint32_t id)
try {
    return Post(154, "imPatFree", thread, 0, id);
}
HLC_EXPORT_CATCH(imPatFree)

int32_t imPatGetNumber(uint32_t thread, uint32_t result, int32_t* out)
try {
    return AskValue(155, "imPatGetNumber", thread, out, result);
}
HLC_EXPORT_CATCH(imPatGetNumber)

int32_t imPatGetResult(uint32_t thread, uint32_t result, uint32_t type, void* out)
try {
    _MSG_ST msg{};
    Ask(&msg, 156, "imPatGetResult", thread, result, type);
    if (im_msg_cmd_error(&msg) != 0) return End(&msg);
    const uint32_t first = Slot(&msg, 0);
    auto* bytes = static_cast<uint8_t*>(out);
    if (type == 0) {
        const uint32_t node = (result >> 16) & 0xFF;
        const uint32_t head = first ? BusToHost(node, first, kResultRecordsAt) : 0;
        if (first && !head) im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
        if (head && bytes) {
            uint8_t countBytes[2];
            jpeg_board_read(head + kResultCountAt, countBytes, 2);
            const int16_t signedCount = static_cast<int16_t>(Le16(countBytes));
            const uint32_t count = signedCount > 0 ? static_cast<uint32_t>(signedCount) : 0;
            const uint32_t records =
                count ? BusToHost(node, first, kResultRecordsAt + count * kResultRecordBytes) : head;
            if (!records) {
                im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
            } else {
                std::memcpy(bytes, countBytes, 2);
                for (uint32_t k = 0; k < count; ++k) {
                    uint8_t* record = bytes + kPatResultRecordBytes * k;
                    std::memcpy(record, countBytes, 2);
                    jpeg_board_read(records + kResultRecordsAt + kResultRecordBytes * k, record + 4, 12);
                }
            }
        }
    } else if (first != 0) {
        uint32_t n = Slot(&msg, 1);
        if (n > kMsgMaxParams - 2) n = kMsgMaxParams - 2;
        if (bytes)
            for (uint32_t i = 0; i < n; ++i) {
                const double value = im_msg_get_double(&msg, 2 + i);
                std::memcpy(bytes + 8 * i, &value, 8);
            }
    } else {
        const uint32_t buffer = Slot(&msg, 1);
        if (buffer) {
            if (bytes) imBufGet(thread, buffer, bytes);
            imBufFree(thread, buffer);
        }
    }
    return End(&msg);
}
HLC_EXPORT_CATCH(imPatGetResult)

int32_t imPatInquire(uint32_t thread, uint32_t model, uint32_t type, void* out)
try {
    _MSG_ST msg{};
    Ask(&msg, 157, "imPatInquire", thread, model, type);
    const double value = im_msg_get_double(&msg, 0);
    const int32_t truncated = Truncated32(value);
    if (type != 0) {
        if (out) std::memcpy(out, &value, sizeof value);
        im_msg_end(&msg);
        return truncated;
    }
    const uint32_t bus = static_cast<uint32_t>(truncated);
    if (bus && out) {
        const uint32_t host = BusToHost((model >> 16) & 0xFF, bus, kModelHeaderBytes);
        if (!host) {
            im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
        } else {
            uint8_t h[kModelHeaderBytes];
            jpeg_board_read(host, h, sizeof h);
            auto* d = static_cast<uint8_t*>(out);
            std::memcpy(d + 0, h + 2, 2);
            std::memcpy(d + 2, h + 4, 2);
            std::memcpy(d + 4, h + 6, 2);
            std::memcpy(d + 6, h + 8, 2);
            std::memcpy(d + 8, h + 10, 2);
            std::memcpy(d + 10, h + 12, 2);
            std::memcpy(d + 12, h + 16, 4);
            std::memcpy(d + 16, h + 20, 4);
            float f12, f16;
            std::memcpy(&f12, d + 12, 4);
            std::memcpy(&f16, d + 16, 4);
            const float f20 = f12 + static_cast<float>(static_cast<int16_t>(Le16(d + 2)));
            const float f24 = f16 + static_cast<float>(static_cast<int16_t>(Le16(d + 4)));
            std::memcpy(d + 20, &f20, 4);
            std::memcpy(d + 24, &f24, 4);
            std::memcpy(d + 28, h + 116, 14);
            std::memcpy(d + 44, h + 164, 4);
            std::memcpy(d + 48, h + 168, 4);
            const uint32_t from[5] = {172, 174, 176, 178, 184};
            for (uint32_t i = 0; i < 5; ++i) {
                const int16_t v = static_cast<int16_t>(Le16(h + from[i]));
                const uint32_t word = v == -32768 ? 0x10000000u : static_cast<uint32_t>(static_cast<int32_t>(v));
                std::memcpy(d + 52 + 4 * i, &word, 4);
            }
        }
    }
    im_msg_end(&msg);
    return truncated;
}
HLC_EXPORT_CATCH(imPatInquire)

int32_t imPatPreprocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(158, "imPatPreprocModel", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imPatPreprocModel)

int32_t imPatRead(uint32_t thread, FILE* file, uint32_t* model)
try {
    if (model) *model = 0;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    const char* text = nullptr;
    const int32_t code = pat_read_model(file, &bytes, &size, &text);
    if (code != 0) return Fail("imPatRead", code, text);
    const uint32_t id = SendModel(thread, bytes, size);
    std::free(bytes);
    if (model) *model = id;
    return id ? 0 : -1;
}
HLC_EXPORT_CATCH(imPatRead)

int32_t imPatWrite(uint32_t thread, FILE* file, uint32_t model)
try {
    _MSG_ST msg{};
    Ask(&msg, 160, "imPatWrite", thread, model);
    const uint32_t buffer = Slot(&msg, 0);
    const uint32_t size = Slot(&msg, 1);
    if (im_msg_cmd_error(&msg) != 0 || !buffer) {
        if (!buffer) im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
        return End(&msg);
    }
    // The whole buffer comes to the host; only the model's bytes, which it must hold, go
    // to the file.
    const uint64_t held = uint64_t{static_cast<uint32_t>(imBufInquire(thread, buffer, kBufInquirePitch, nullptr))} *
                          static_cast<uint32_t>(imBufInquire(thread, buffer, kBufInquireSizeY, nullptr)) *
                          static_cast<uint32_t>(imBufInquire(thread, buffer, kBufInquireBands, nullptr));
    if (held == 0 || held > kPatMaxModelBytes || size > held) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, kPatTextInvalid);
    } else {
        std::vector<uint8_t> copy(static_cast<size_t>(held));
        if (imBufGet(thread, buffer, copy.data()) != 0) {
            im_msg_log_error(&msg, HLC_ERR_FILE_ACCESS, "File access error");
        } else if (!file || std::fwrite(copy.data(), 1, size, file) != size || std::fflush(file) != 0) {
            im_msg_log_error(&msg, HLC_ERR_FILE_ACCESS, "File access error");
        }
    }
    imBufFree(thread, buffer);
    return End(&msg);
}
HLC_EXPORT_CATCH(imPatWrite)

int32_t imPatRestore(uint32_t thread, const char* path, uint32_t* model)
try {
    if (model) *model = 0;
    // Opened without blocking and checked on the opened file: only a regular file is read.
    FILE* file = qsrf::OpenRegularStream(path, "rb", 0);
    if (!file) return Fail("imPatRestore", HLC_ERR_FILE_ACCESS, "Can't open file for reading");
    const int32_t result = imPatRead(thread, file, model);
    std::fclose(file);
    return result;
}
HLC_EXPORT_CATCH(imPatRestore)

int32_t imPatSave(uint32_t thread, const char* path, uint32_t model)
try {
    SaveJob job{thread, model};
    const int32_t result = hlc_save_replacing(path, SaveWrite, &job);
    if (result == -1) return Fail("imPatSave", HLC_ERR_FILE_ACCESS, "Can't open file for writing");
    return result;
}
HLC_EXPORT_CATCH(imPatSave)

int32_t imPatSetAcceptance(uint32_t thread, uint32_t model, double value)
try {
    return Post(161, "imPatSetAcceptance", thread, 0, model, value);
}
HLC_EXPORT_CATCH(imPatSetAcceptance)

int32_t imPatSetAccuracy(uint32_t thread, uint32_t model, int32_t value)
try {
    return Post(162, "imPatSetAccuracy", thread, 0, model, value);
}
HLC_EXPORT_CATCH(imPatSetAccuracy)

int32_t imPatSetCenter(uint32_t thread, uint32_t model, double x, double y)
try {
    return Post(163, "imPatSetCenter", thread, 0, model, x, y);
}
HLC_EXPORT_CATCH(imPatSetCenter)

int32_t imPatSetCertainty(uint32_t thread, uint32_t model, double value)
try {
    return Post(164, "imPatSetCertainty", thread, 0, model, value);
}
HLC_EXPORT_CATCH(imPatSetCertainty)

int32_t imPatSetDontCare(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4)
try {
    return Post(165, "imPatSetDontCare", thread, 0, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imPatSetDontCare)

int32_t imPatSetNumber(uint32_t thread, uint32_t model, int32_t value)
try {
    return Post(166, "imPatSetNumber", thread, 0, model, value);
}
HLC_EXPORT_CATCH(imPatSetNumber)

int32_t imPatSetPosition(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4)
try {
    return Post(167, "imPatSetPosition", thread, 0, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imPatSetPosition)

int32_t imPatSetSearchParameter(uint32_t thread, uint32_t model, int32_t parameter, double value)
try {
    return Post(168, "imPatSetSearchParameter", thread, 0, model, parameter, value);
}
HLC_EXPORT_CATCH(imPatSetSearchParameter)

int32_t imPatSetSpeed(uint32_t thread, uint32_t model, int32_t value)
try {
    return Post(169, "imPatSetSpeed", thread, 0, model, value);
}
HLC_EXPORT_CATCH(imPatSetSpeed)

// ---------------------------------------------------------------- blobs

uint32_t imBlobAllocFeatureList(uint32_t thread, uint32_t* id)
try {
    return AskId(180, "imBlobAllocFeatureList", thread, id);
}
HLC_EXPORT_CATCH(imBlobAllocFeatureList)

uint32_t imBlobAllocResult(uint32_t thread, uint32_t* id)
try {
    return AskId(181, "imBlobAllocResult", thread, id);
}
HLC_EXPORT_CATCH(imBlobAllocResult)

int32_t imBlobCalculate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(182, "imBlobCalculate", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imBlobCalculate)

int32_t imBlobControl(uint32_t thread, int32_t p0, int32_t p1, double p2)
try {
    return Post(183, "imBlobControl", thread, 0, p0, p1, p2);
}
HLC_EXPORT_CATCH(imBlobControl)

int32_t imBlobFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(184, "imBlobFill", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imBlobFill)

int32_t imBlobFree(uint32_t thread, uint32_t id)
try {
    return Post(185, "imBlobFree", thread, 0, id);
}
HLC_EXPORT_CATCH(imBlobFree)

int32_t imBlobGetLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t* out)
try {
    return AskValue(186, "imBlobGetLabel", thread, out, p0, p1, p2);
}
HLC_EXPORT_CATCH(imBlobGetLabel)

int32_t imBlobGetNumber(uint32_t thread, uint32_t result, int32_t* out)
try {
    return AskValue(187, "imBlobGetNumber", thread, out, result);
}
HLC_EXPORT_CATCH(imBlobGetNumber)

int32_t imBlobGetResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* array, uint32_t capacity)
try {
    _MSG_ST msg{};
    Ask(&msg, 188, "imBlobGetResult", thread, p0, p1, p2);
    const uint32_t buffer = Slot(&msg, 0);
    const uint32_t bus = Slot(&msg, 1);
    const uint32_t count = Slot(&msg, 2);
    if (im_msg_cmd_error(&msg) != 0 || !buffer) return End(&msg);
    const uint32_t copied = count < capacity ? count : capacity;
    const uint32_t host = copied ? BusToHost((buffer >> 16) & 0xFF, bus, copied) : 0;
    if (copied && !host)
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    else if (array)
        jpeg_board_read(host, array, copied);
    imBufFree(thread, buffer);
    return End(&msg);
}
HLC_EXPORT_CATCH(imBlobGetResult)

int32_t imBlobGetResultSingle(uint32_t thread, int32_t p0, int32_t p1, uint32_t type, int32_t p3, void* out)
try {
    _MSG_ST msg{};
    Ask(&msg, 189, "imBlobGetResultSingle", thread, p0, p1, type, p3);
    const double value = im_msg_get_double(&msg, 0);
    im_msg_end(&msg);
    pat_store_width(value, type, out);
    return Truncated32(value);
}
HLC_EXPORT_CATCH(imBlobGetResultSingle)

int32_t imBlobGetRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* first, void* second, void* third,
                      uint32_t capacity)
try {
    void* arrays[3] = {first, second, third};
    _MSG_ST msg{};
    Ask(&msg, 190, "imBlobGetRuns", thread, p0, p1, p2, first ? 1 : 0, second ? 1 : 0, third ? 1 : 0);
    const uint32_t buffer = Slot(&msg, 0);
    const uint32_t bus = Slot(&msg, 1);
    const uint32_t count = Slot(&msg, 2);
    if (im_msg_cmd_error(&msg) != 0 || !buffer) return End(&msg);
    const uint32_t copied = count < capacity ? count : capacity;
    const uint64_t span = uint64_t{count} * 3;
    const uint32_t host =
        copied && span <= 0xFFFFFFFFu ? BusToHost((buffer >> 16) & 0xFF, bus, static_cast<uint32_t>(span)) : 0;
    if (copied && !host) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
    } else {
        for (uint32_t i = 0; i < 3; ++i)
            if (arrays[i]) jpeg_board_read(host + count * i, arrays[i], copied);
    }
    imBufFree(thread, buffer);
    return End(&msg);
}
HLC_EXPORT_CATCH(imBlobGetRuns)

int32_t imBlobInquire(uint32_t thread, uint32_t id, uint32_t type, void* out)
try {
    _MSG_ST msg{};
    Ask(&msg, 191, "imBlobInquire", thread, id, type);
    const double value = im_msg_get_double(&msg, 0);
    im_msg_end(&msg);
    pat_store_width(value, type, out);
    return Truncated32(value);
}
HLC_EXPORT_CATCH(imBlobInquire)

int32_t imBlobLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(192, "imBlobLabel", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imBlobLabel)

int32_t imBlobSelect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, double p5, double p6)
try {
    return Post(193, "imBlobSelect", thread, 0, p0, p1, p2, p3, p4, p5, p6);
}
HLC_EXPORT_CATCH(imBlobSelect)

int32_t imBlobSelectFeature(uint32_t thread, int32_t p0, int32_t p1, int32_t p2)
try {
    return Post(194, "imBlobSelectFeature", thread, 0, p0, p1, p2);
}
HLC_EXPORT_CATCH(imBlobSelectFeature)

int32_t imBlobSelectFeret(uint32_t thread, int32_t p0, double p1)
try {
    return Post(195, "imBlobSelectFeret", thread, 0, p0, p1);
}
HLC_EXPORT_CATCH(imBlobSelectFeret)

int32_t imBlobSelectMoment(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4)
try {
    return Post(196, "imBlobSelectMoment", thread, 0, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imBlobSelectMoment)

int32_t imBlobCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(197, "imBlobCopyResult", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imBlobCopyResult)

int32_t imBlobCopyRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(198, "imBlobCopyRuns", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imBlobCopyRuns)
