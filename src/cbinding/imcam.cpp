// Camera and digitizer exports.
#include "imcam.h"

#include "camfile.h"
#include "camhandlers.h"
#include "im_msgio.h"
#include "im_param.h"
#include "imbuf.h"
#include "syncobj.h"
#include "thread.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "consolepipe.h"
#include "hostutil.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr uint32_t kEntryListType = 0x10000008u;
constexpr uint32_t kEntryListLocation = kLocInline;
constexpr uint32_t kBufInquireSizeX = 3;
// A save's entry count beyond which the node's answer cannot be a camera.
constexpr int32_t kMaxSavedEntries = 0x7FFFFFFF / static_cast<int32_t>(sizeof(_DCF_ENTRY));

uint32_t NodeOf(uint32_t id)
{
    return (id >> 16) & 0xFF;
}

// A thread id (a predefined one, or one imThrAlloc gave on a node this process serves) goes
// to that thread object; a device id to its node's system thread object.
void Send(_MSG_ST* msg, uint32_t thread, uint32_t control, uint32_t sync)
{
    if ((thread & kIdPredefined) || mp_thr_object(thread))
        im_msg_send(msg, 0, thread, control, sync);
    else
        im_msg_send(msg, thread, kBufRemoteThread | (thread & 0xFF0000u), control, sync);
}

uint32_t Result(const _MSG_ST* msg, uint32_t slot)
{
    return static_cast<uint32_t>(im_msg_get_long(msg, slot));
}

int32_t EndWithError(_MSG_ST* msg)
{
    im_msg_end(msg);
    return im_msg_cmd_error(msg);
}

uint32_t EndWithId(_MSG_ST* msg, uint32_t id, uint32_t* out)
{
    im_msg_end(msg);
    if (out) *out = id;
    return id;
}

// Logs an error in a message that may have been answered already: the reply replaced the
// message's error record, so the export's name is put back with the error.
void LogAfterReply(_MSG_ST* msg, int32_t code, const char* text, const char* function)
{
    if (msg->body.error == 0 && msg->body.err.code == 0) msg->body.err.function = function;
    im_msg_log_error(msg, code, text);
}

// One command of word parameters (and an optional double in the last slot) posted
// without waiting, or sent and waited for.
int32_t Post(const char* name, uint32_t opcode, uint32_t thread, const uint32_t* words, uint32_t count,
             uint32_t control = 0, const double* value = nullptr, uint32_t sync = IM_SYNC_NOWAIT)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, count + (value ? 1 : 0), name);
    for (uint32_t i = 0; i < count; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(words[i]));
    if (value) im_msg_put_double(&msg, count, *value);
    Send(&msg, thread, control, sync);
    return EndWithError(&msg);
}

// A free of one object, which waits for the node's answer.
int32_t Free(const char* name, uint32_t opcode, uint32_t thread, uint32_t id)
{
    // Mend: an unknown id (a second free) fails at once, not with some later waiting call.
    const uint32_t words[] = {id};
    return Post(name, opcode, thread, words, 1, 0, nullptr, IM_SYNC_POLL);
}

// A double as the inquiries return it: truncated toward zero, within the 32-bit range.
int32_t Truncate(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return static_cast<int32_t>(-2147483647 - 1);
    return static_cast<int32_t>(value);
}

// Stores an inquiry's result through `out`: the double itself or the truncated value.
void Store(void* out, double value, bool asDouble)
{
    if (!out) return;
    if (asDouble) {
        std::memcpy(out, &value, sizeof value);
    } else {
        const int32_t truncated = Truncate(value);
        std::memcpy(out, &truncated, sizeof truncated);
    }
}

}  // namespace

bool im_cam_inquire_is_double(uint32_t type)
{
    switch (type & 0xFFFFu) {
    case IM_DIG_GAIN:
    case IM_DIG_REF_WHITE:
    case IM_DIG_REF_BLACK:
    case IM_DIG_EXP_ACTIVE:
    case IM_DIG_EXP_DELAY:
    case IM_DIG_VIDEO_AMPLITUDE:
    case IM_DIG_BLACK_LEVEL:
    case IM_DIG_WHITE_LEVEL:
        return true;
    default:
        return false;
    }
}

bool im_dig_inquire_is_double(uint32_t type)
{
    switch (type & 0xFFFFu) {
    case IM_DIG_GAIN: case IM_DIG_REF_WHITE: case IM_DIG_REF_BLACK: case IM_DIG_PIXEL_CLOCK:
        return true;
    default:
        return false;
    }
}

uint32_t imCamAlloc(uint32_t thread, const char* name, int32_t fileFlag, uint32_t* camera)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpCamAlloc, 3, "imCamAlloc");
    const uint32_t node = NodeOf(thread);
    if (!name) name = im_getenv(node, "DCFNAME");

    char* path = nullptr;
    if (fileFlag && !im_search_env(node, name, ".dcf", "DCFPATH", "r", &path)) {
        std::free(path);
        im_print_not_found("camera file", name, name ? "DCFPATH" : "DCFNAME", name ? im_getenv(node, "DCFPATH") : nullptr);
        im_msg_log_error(&msg, HLC_ERR_FILE_ACCESS, "Cannot find file in path");
        return EndWithId(&msg, 0, camera);
    }
    _DCF_ENTRY* entries = nullptr;
    int32_t count = 0;
    const int32_t loaded = im_cam_load(&msg, &entries, &count, fileFlag ? path : name, fileFlag);
    std::free(path);
    if (loaded != 0) return EndWithId(&msg, 0, camera);

    const int32_t bytes = count * static_cast<int32_t>(sizeof(_DCF_ENTRY));
    const uint32_t list = imBufAlloc1d(thread, bytes, kEntryListType, kEntryListLocation, nullptr);
    if (list == 0 || imBufPut(thread, list, entries) != 0) {
        std::free(entries);
        if (list) imBufFree(thread, list);
        // -4 with the text "Invalid buffer ID": the entry buffer could not be had.
        im_msg_log_error(&msg, HLC_ERR_NO_RESOURCES, HlcErrorText(HLC_ERR_INVALID_BUFFER));
        return EndWithId(&msg, 0, camera);
    }
    std::free(entries);
    im_msg_put_long(&msg, 0, static_cast<int32_t>(list));
    im_msg_put_long(&msg, 1, count);
    im_msg_put_long(&msg, 2, fileFlag);
    Send(&msg, thread, 0, IM_SYNC_POLL);
    const uint32_t id = Result(&msg, 0);
    imBufFree(thread, list);
    return EndWithId(&msg, id, camera);
}
HLC_EXPORT_CATCH(imCamAlloc)

uint32_t imCamClone(uint32_t thread, uint32_t camera, int32_t value, uint32_t* clone)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpCamClone, 2, "imCamClone");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(camera));
    im_msg_put_long(&msg, 1, value);
    Send(&msg, thread, 0, IM_SYNC_POLL);
    return EndWithId(&msg, Result(&msg, 0), clone);
}
HLC_EXPORT_CATCH(imCamClone)

int32_t imCamControl(uint32_t thread, uint32_t camera, int32_t type, double value)
try {
    const uint32_t words[] = {camera, static_cast<uint32_t>(type)};
    return Post("imCamControl", kOpCamControl, thread, words, 2, 0, &value);
}
HLC_EXPORT_CATCH(imCamControl)

int32_t imCamFree(uint32_t thread, uint32_t camera)
try {
    return Free("imCamFree", kOpCamFree, thread, camera);
}
HLC_EXPORT_CATCH(imCamFree)

int32_t imCamInquire(uint32_t thread, uint32_t camera, int32_t type, void* out)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpCamInquire, 2, "imCamInquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(camera));
    im_msg_put_long(&msg, 1, type);
    Send(&msg, thread, 0, IM_SYNC_POLL);
    const double value = im_msg_get_double(&msg, 0);
    im_msg_end(&msg);
    Store(out, value, im_cam_inquire_is_double(static_cast<uint32_t>(type)));
    return Truncate(value);
}
HLC_EXPORT_CATCH(imCamInquire)

int32_t imCamSave(uint32_t thread, const char* name, uint32_t camera)
try {
    // The save time is the call's start.
    const std::time_t now = std::time(nullptr);
    char timeText[64] = {};
    if (const char* text = std::ctime(&now)) std::strncpy(timeText, text, sizeof timeText - 1);

    _MSG_ST msg{};
    im_msg_start(&msg, kOpCamSave, 2, "imCamSave");
    if (!name || !*name) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, kCamTextBadName);
        return EndWithError(&msg);
    }
    char* path = nullptr;
    im_search_env(NodeOf(thread), name, ".dcf", ".", "rw", &path);
    if (!path) {
        im_msg_log_error(&msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory);
        return EndWithError(&msg);
    }

    // The node is asked first: the file is touched only once there is something to write.
    im_msg_put_long(&msg, 0, static_cast<int32_t>(camera));
    im_msg_put_long(&msg, 1, 0);
    Send(&msg, thread, 0, IM_SYNC_POLL);
    const uint32_t list = Result(&msg, 0);
    const int32_t count = static_cast<int32_t>(Result(&msg, 1));
    _DCF_ENTRY* entries = nullptr;
    if (list == 0 || count <= 0 || count > kMaxSavedEntries) {
        LogAfterReply(&msg, HLC_ERR_RESTRICTED, kCamTextExecution, "imCamSave");
    } else {
        entries = static_cast<_DCF_ENTRY*>(std::calloc(static_cast<size_t>(count), sizeof(_DCF_ENTRY)));
        if (!entries) LogAfterReply(&msg, HLC_ERR_NO_RESOURCES, kCamTextNoHostMemory, "imCamSave");
    }
    const int32_t asked = EndWithError(&msg);

    int32_t result = asked;
    if (list != 0) {
        // Read the entries (no more than the count the node gave), then let the node free
        // its entry buffer.
        _MSG_ST second{};
        im_msg_start(&second, kOpCamSave, 2, "imCamSave");
        // No more entries are read than the entry buffer holds.
        const int32_t bytes = count * static_cast<int32_t>(sizeof(_DCF_ENTRY));
        const bool read = entries && imBufInquire(thread, list, kBufInquireSizeX, nullptr) >= bytes &&
                          imBufGet1d(thread, list, 0, bytes, entries) == 0;
        im_msg_put_long(&second, 0, static_cast<int32_t>(list));
        im_msg_put_long(&second, 1, 1);
        Send(&second, thread, 0, IM_SYNC_NOWAIT);
        if (second.body.err.code == 0) second.body.err.function = "imCamSave";
        if (read)
            im_cam_write(&second, path, entries, count, timeText);
        else if (entries)
            LogAfterReply(&second, HLC_ERR_RESTRICTED, kCamTextExecution, "imCamSave");
        const int32_t written = EndWithError(&second);
        if (result == 0) result = written;
    }
    std::free(entries);
    std::free(path);
    return result;
}
HLC_EXPORT_CATCH(imCamSave)

uint32_t imDigAlloc(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t* digitizer)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDigAlloc, 3, "imDigAlloc");
    im_msg_put_long(&msg, 0, a);
    im_msg_put_long(&msg, 1, b);
    im_msg_put_long(&msg, 2, c);
    Send(&msg, thread, 0, IM_SYNC_POLL);
    return EndWithId(&msg, Result(&msg, 0), digitizer);
}
HLC_EXPORT_CATCH(imDigAlloc)

int32_t imDigControl(uint32_t thread, uint32_t digitizer, int32_t type, double value)
try {
    const uint32_t words[] = {digitizer, static_cast<uint32_t>(type)};
    return Post("imDigControl", kOpDigControl, thread, words, 2, 0, &value);
}
HLC_EXPORT_CATCH(imDigControl)

int32_t imDigFree(uint32_t thread, uint32_t digitizer)
try {
    return Free("imDigFree", kOpDigFree, thread, digitizer);
}
HLC_EXPORT_CATCH(imDigFree)

int32_t imDigGrab(uint32_t thread, uint32_t digitizer, uint32_t buffer, uint32_t p2, uint32_t p3, uint32_t p4,
                  uint32_t control)
try {
    const uint32_t words[] = {digitizer, buffer, p2, p3, p4};
    return Post("imDigGrab", kOpDigGrab, thread, words, 5, control);
}
HLC_EXPORT_CATCH(imDigGrab)

int32_t imDigInquire(uint32_t thread, uint32_t digitizer, int32_t type, void* out)
try {
    const bool string = (static_cast<uint32_t>(type) & 0xFFFFu) == kDigInquireUartString;
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDigInquire, string ? 3 : 2, "imDigInquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(digitizer));
    im_msg_put_long(&msg, 1, type);
    if (string) {
        if (!out) im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, HlcErrorText(HLC_ERR_INVALID_PARAMETER));
        im_msg_put_long(&msg, 2, static_cast<int32_t>(reinterpret_cast<uintptr_t>(out)));
    }
    Send(&msg, thread, 0, IM_SYNC_POLL);
    const double value = im_msg_get_double(&msg, 0);
    im_msg_end(&msg);
    if (!string) Store(out, value, im_dig_inquire_is_double(static_cast<uint32_t>(type)));
    return Truncate(value);
}
HLC_EXPORT_CATCH(imDigInquire)

int32_t imDigConvert(uint32_t thread, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t control)
try {
    const uint32_t words[] = {a, b, c, d};
    return Post("imDigConvert", kOpDigConvert, thread, words, 4, control);
}
HLC_EXPORT_CATCH(imDigConvert)

int32_t imDigCapture(uint32_t thread, uint32_t digitizer, uint32_t camera, int32_t value)
try {
    const uint32_t words[] = {digitizer, camera, static_cast<uint32_t>(value)};
    return Post("imDigCapture", kOpDigCapture, thread, words, 3);
}
HLC_EXPORT_CATCH(imDigCapture)

int32_t imDigLutGet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                    int32_t c)
try {
    const uint32_t words[] = {digitizer, camera, lut, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                              static_cast<uint32_t>(c)};
    Post("imDigLutGet", kOpDigLutGet, thread, words, 6);
    // The table is in the LUT buffer once the thread object has served the next command.
    imThrNop(thread, 0);
    return 0;
}
HLC_EXPORT_CATCH(imDigLutGet)

int32_t imDigLutSet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                    int32_t c, int32_t d)
try {
    const uint32_t words[] = {digitizer, camera, lut, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                              static_cast<uint32_t>(c), static_cast<uint32_t>(d)};
    Post("imDigLutSet", kOpDigLutSet, thread, words, 7);
    return 0;
}
HLC_EXPORT_CATCH(imDigLutSet)
