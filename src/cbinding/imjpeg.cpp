// JPEG exports.
#include "imjpeg.h"

#include "jpegfile.h"

#include "im_msgio.h"
#include "im_param.h"

#include "hlc_errors.h"
#include "regularfile.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

uint32_t Result(const _MSG_ST* msg, uint32_t slot)
{
    return static_cast<uint32_t>(im_msg_get_long(msg, slot));
}

int32_t End(_MSG_ST* msg)
{
    im_msg_end(msg);
    return im_msg_cmd_error(msg);
}

// A message of integer parameters sent to the thread object.
void Send(_MSG_ST* msg, uint32_t opcode, const char* name, uint32_t thread, std::initializer_list<uint32_t> values,
          uint32_t control, uint32_t sync)
{
    im_msg_start(msg, opcode, static_cast<uint32_t>(values.size()), name);
    uint32_t slot = 0;
    for (uint32_t v : values) im_msg_put_long(msg, slot++, static_cast<int32_t>(v));
    im_msg_send(msg, 0, thread, control, sync);
}

int32_t Post(uint32_t opcode, const char* name, uint32_t thread, std::initializer_list<uint32_t> values,
             uint32_t control = 0)
{
    _MSG_ST msg{};
    Send(&msg, opcode, name, thread, values, control, IM_SYNC_NOWAIT);
    return End(&msg);
}

// An error of the exports' own host-side work, filed as a message never posted would file
// it.
int32_t Fail(const char* name, int32_t code, const char* text)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 0, 0, name);
    im_msg_log_error(&msg, code, text);
    return End(&msg);
}

// Sends 131 and, when the board answers 0, writes the object with the store.
int32_t WriteObject(const char* name, uint32_t thread, FILE* file, uint32_t jpeg)
{
    _MSG_ST msg{};
    Send(&msg, 131, name, thread, {jpeg}, 0, IM_SYNC_POLL);
    if (im_msg_cmd_error(&msg) != 0 || Result(&msg, 0) != 0) return End(&msg);
    int32_t code = 0;
    const char* text = nullptr;
    if (im_jpeg_store(name, thread, file, jpeg, &code, &text) != 0) im_msg_log_error(&msg, code, text);
    return End(&msg);
}

struct SaveJob {
    uint32_t thread;
    uint32_t jpeg;
};

int32_t SaveWrite(FILE* file, void* context)
{
    const auto* job = static_cast<const SaveJob*>(context);
    return WriteObject("imJpegSave", job->thread, file, job->jpeg);
}

int32_t ReadInto(const char* name, uint32_t thread, FILE* file, uint32_t jpeg)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 123, 3, name);
    im_msg_put_long(&msg, 0, static_cast<int32_t>(jpeg));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(kJpegControlReadFile));
    im_msg_put_double(&msg, 2, 0.0);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    const int32_t posted = End(&msg);
    if (posted != 0) return posted;
    if (const char* text = im_jpeg_load(name, thread, file, jpeg)) return Fail(name, HLC_ERR_INVALID_DEVICE, text);
    return 0;
}

} // namespace

int32_t hlc_save_replacing(const char* path, int32_t (*write)(FILE* file, void* context), void* context)
{
    if (!path || !*path) return -1;
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return -1;
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return -1;
    }
    int32_t result = write(file, context);
    if (std::fclose(file) != 0 && result == 0) result = -1;
    if (result == 0 && std::rename(temporary.c_str(), path) != 0) result = -1;
    if (result != 0) ::unlink(temporary.c_str());
    return result;
}

uint32_t imJpegAlloc(uint32_t thread, int32_t value, uint32_t* id)
try {
    _MSG_ST msg{};
    Send(&msg, 122, "imJpegAlloc", thread, {static_cast<uint32_t>(value)}, 0, IM_SYNC_POLL);
    const uint32_t jpeg = Result(&msg, 0);
    im_msg_end(&msg);
    if (id) *id = jpeg;
    return jpeg;
}
HLC_EXPORT_CATCH(imJpegAlloc)

int32_t imJpegControl(uint32_t thread, uint32_t jpeg, uint32_t type, double value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, 123, 3, "imJpegControl");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(jpeg));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(type));
    im_msg_put_double(&msg, 2, value);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    return End(&msg);
}
HLC_EXPORT_CATCH(imJpegControl)

int32_t imJpegControlBand(uint32_t thread, int32_t a, int32_t b, int32_t c, int32_t d)
try {
    return Post(124, "imJpegControlBand", thread,
                {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c), static_cast<uint32_t>(d)});
}
HLC_EXPORT_CATCH(imJpegControlBand)

int32_t imJpegDecode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control)
try {
    return Post(125, "imJpegDecode", thread, {a, b}, control);
}
HLC_EXPORT_CATCH(imJpegDecode)

int32_t imJpegEncode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control)
try {
    return Post(126, "imJpegEncode", thread, {a, b}, control);
}
HLC_EXPORT_CATCH(imJpegEncode)

int32_t imJpegFree(uint32_t thread, uint32_t jpeg)
try {
    return Post(127, "imJpegFree", thread, {jpeg});
}
HLC_EXPORT_CATCH(imJpegFree)

int32_t imJpegInquire(uint32_t thread, uint32_t jpeg, uint32_t type, int32_t* out)
try {
    _MSG_ST msg{};
    Send(&msg, 128, "imJpegInquire", thread, {jpeg, type}, 0, IM_SYNC_POLL);
    const int32_t value = im_msg_get_long(&msg, 0);
    im_msg_end(&msg);
    if (out) *out = value;
    return value;
}
HLC_EXPORT_CATCH(imJpegInquire)

int32_t imJpegPutTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t size,
                       const void* bytes)
try {
    const uint32_t limit = jpeg_table_limit(type);
    if (limit && size > limit) size = limit;
    _MSG_ST msg{};
    Send(&msg, 129, "imJpegPutTable", thread, {jpeg, type, table, size}, 0, IM_SYNC_POLL);
    const uint32_t address = Result(&msg, 0);
    if (im_msg_cmd_error(&msg) != 0 || address == 0) return End(&msg);
    if (size && !bytes) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Error in function parameters");
        return End(&msg);
    }
    const uint32_t host = jpeg_board().toHost((jpeg >> 16) & 0xFF, address, size);
    if (!host && size) {
        im_msg_log_error(&msg, HLC_ERR_NO_RESOURCES, "Can not Allocate Local Memory ");
        return End(&msg);
    }
    jpeg_board_write(host, bytes, size);
    const int32_t first = End(&msg);
    _MSG_ST done{};
    Send(&done, 130, "imJpegPutTable", thread, {jpeg, type, table}, 0, IM_SYNC_POLL);
    const int32_t second = End(&done);
    return first ? first : second;
}
HLC_EXPORT_CATCH(imJpegPutTable)

int32_t imJpegGetTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t* size, void* bytes)
try {
    // What the caller's buffer holds: the type's limit, or for another type the size the
    // caller passes in.
    uint32_t capacity = jpeg_table_limit(type);
    if (!capacity) capacity = size ? *size : 0;
    _MSG_ST msg{};
    Send(&msg, 133, "imJpegGetTable", thread, {jpeg, type, table}, 0, IM_SYNC_POLL);
    const uint32_t address = Result(&msg, 0);
    uint32_t bytesGiven = Result(&msg, 1);
    if (im_msg_cmd_error(&msg) != 0 || address == 0) {
        if (size) *size = 0;
        return End(&msg);
    }
    if (bytesGiven > capacity) bytesGiven = capacity;
    if (!bytes) bytesGiven = 0;
    const uint32_t host = jpeg_board().toHost((jpeg >> 16) & 0xFF, address, bytesGiven);
    if (!host && bytesGiven) {
        im_msg_log_error(&msg, HLC_ERR_NO_RESOURCES, "Can not Allocate Local Memory ");
        bytesGiven = 0;
    }
    jpeg_board_read(host, bytes, bytesGiven);
    if (size) *size = bytesGiven;
    return End(&msg);
}
HLC_EXPORT_CATCH(imJpegGetTable)

int32_t imJpegWrite(uint32_t thread, FILE* file, uint32_t jpeg)
try {
    return WriteObject("imJpegWrite", thread, file, jpeg);
}
HLC_EXPORT_CATCH(imJpegWrite)

int32_t imJpegSave(uint32_t thread, const char* path, uint32_t jpeg)
try {
    SaveJob job{thread, jpeg};
    const int32_t result = hlc_save_replacing(path, SaveWrite, &job);
    if (result == -1) return Fail("imJpegSave", HLC_ERR_NO_RESOURCES, "Can not Open Output file");
    return result;
}
HLC_EXPORT_CATCH(imJpegSave)

int32_t imJpegRead(uint32_t thread, FILE* file, uint32_t jpeg)
try {
    return ReadInto("imJpegRead", thread, file, jpeg);
}
HLC_EXPORT_CATCH(imJpegRead)

uint32_t imJpegRestore(uint32_t thread, const char* path, uint32_t* id)
try {
    const uint32_t jpeg = imJpegAlloc(thread, 0, nullptr);
    // Opened without blocking and checked on the opened file: only a regular file is read.
    FILE* file = qsrf::OpenRegularStream(path, "rb", 0);
    if (!file) {
        Fail("imJpegRestore", HLC_ERR_INVALID_DEVICE, "Can not open given Jpeg File");
        // Nobody learns the new object's id: it goes back to the board.
        if (jpeg) imJpegFree(thread, jpeg);
        return 0;
    }
    ReadInto("imJpegRestore", thread, file, jpeg);
    std::fclose(file);
    if (id) *id = jpeg;
    return jpeg;
}
HLC_EXPORT_CATCH(imJpegRestore)

int32_t imJpegWriteBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control)
try {
    return Post(134, "imJpegWriteBuf", thread, {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)},
                control);
}
HLC_EXPORT_CATCH(imJpegWriteBuf)

int32_t imJpegReadBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control)
try {
    return Post(135, "imJpegReadBuf", thread, {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)},
                control);
}
HLC_EXPORT_CATCH(imJpegReadBuf)
