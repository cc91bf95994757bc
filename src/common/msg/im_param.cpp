// Parameter slots of a command message.
#include "im_param.h"

#include <cstring>

namespace {

constexpr uint32_t kAreaBytes = kMsgMaxParams * 8;

bool CanPut(const _MSG_ST* msg, uint32_t slot)
{
    return msg && slot < kMsgMaxParams && msg->body.error == 0;
}

bool CanGet(const _MSG_ST* msg, uint32_t slot)
{
    return msg && slot < kMsgMaxParams && msg->body.error == 0;
}

void AddSlots(_MSG_ST* msg, uint32_t slots)
{
    const uint32_t sent = (msg->body.counts & 0xFFFF) + slots;
    msg->body.counts = (msg->body.counts & 0xFFFF0000u) | (sent & 0xFFFF);
}

template <typename T>
void Put(_MSG_ST* msg, uint32_t slot, T value)
{
    if (!CanPut(msg, slot)) return;
    std::memcpy(msg->body.param[slot], &value, sizeof value);
}

template <typename T>
T Get(const _MSG_ST* msg, uint32_t slot)
{
    if (!CanGet(msg, slot)) return T(0);
    T value;
    std::memcpy(&value, msg->body.param[slot], sizeof value);
    return value;
}

} // namespace

void im_msg_put_char(_MSG_ST* msg, uint32_t slot, int8_t value) try { Put(msg, slot, value); }
HLC_EXPORT_CATCH_MSG(im_msg_put_char, msg)
void im_msg_put_short(_MSG_ST* msg, uint32_t slot, int16_t value) try { Put(msg, slot, value); }
HLC_EXPORT_CATCH_MSG(im_msg_put_short, msg)
void im_msg_put_long(_MSG_ST* msg, uint32_t slot, int32_t value) try { Put(msg, slot, value); }
HLC_EXPORT_CATCH_MSG(im_msg_put_long, msg)
void im_msg_put_double(_MSG_ST* msg, uint32_t slot, double value) try { Put(msg, slot, value); }
HLC_EXPORT_CATCH_MSG(im_msg_put_double, msg)
void im_msg_put_float(_MSG_ST* msg, uint32_t slot, float value) try { Put(msg, slot, static_cast<double>(value)); }
HLC_EXPORT_CATCH_MSG(im_msg_put_float, msg)

void im_msg_put_string(_MSG_ST* msg, uint32_t slot, const char* text)
try {
    if (!CanPut(msg, slot)) return;
    if (!text) text = "";
    uint8_t* area = &msg->body.param[0][0];
    const uint32_t start = slot * 8;
    const uint32_t limit = kAreaBytes - 1 - start;   // the last byte of slot 14 stays zero
    uint32_t length = static_cast<uint32_t>(std::strlen(text)) + 1;
    if (length > limit) length = limit;
    // Clear the slot of the last byte so that it is padded with zeros.
    const uint32_t lastSlot = (start + length - 1) / 8;
    std::memset(area + lastSlot * 8, 0, 8);
    std::memcpy(area + start, text, length);
    AddSlots(msg, length / 8);
}
HLC_EXPORT_CATCH_MSG(im_msg_put_string, msg)

uint32_t im_msg_put_array(_MSG_ST* msg, uint32_t slot, const void* bytes, uint32_t length)
try {
    if (!CanPut(msg, slot) || (!bytes && length)) return 0;
    const uint32_t limit = (kMsgMaxParams - slot) * 8;
    if (length > limit) length = limit;
    if (length) std::memcpy(&msg->body.param[slot][0], bytes, length);
    AddSlots(msg, length / 8);
    return length / 8;
}
HLC_EXPORT_CATCH_MSG(im_msg_put_array, msg)

int8_t im_msg_get_char(const _MSG_ST* msg, uint32_t slot) try { return Get<int8_t>(msg, slot); }
HLC_EXPORT_CATCH_AS(im_msg_get_char, 0)
int16_t im_msg_get_short(const _MSG_ST* msg, uint32_t slot) try { return Get<int16_t>(msg, slot); }
HLC_EXPORT_CATCH_AS(im_msg_get_short, 0)
int32_t im_msg_get_long(const _MSG_ST* msg, uint32_t slot) try { return Get<int32_t>(msg, slot); }
HLC_EXPORT_CATCH_AS(im_msg_get_long, 0)
double im_msg_get_double(const _MSG_ST* msg, uint32_t slot) try { return Get<double>(msg, slot); }
HLC_EXPORT_CATCH(im_msg_get_double)
float im_msg_get_float(const _MSG_ST* msg, uint32_t slot) try { return static_cast<float>(Get<double>(msg, slot)); }
HLC_EXPORT_CATCH(im_msg_get_float)

uint32_t im_msg_get_string(const _MSG_ST* msg, uint32_t slot, char* buffer, uint32_t size)
try {
    if (!buffer || size == 0) return 0;
    if (!CanGet(msg, slot)) {
        buffer[0] = 0;
        return 0;
    }
    const char* text = reinterpret_cast<const char*>(&msg->body.param[slot][0]);
    const uint32_t available = kAreaBytes - slot * 8;
    uint32_t length = 0;
    while (length < available && text[length]) ++length;
    // With its zero when the string ends inside the slots; a string without one ends at
    // the last slot.
    uint32_t copy = length < available ? length + 1 : length;
    if (copy > size) copy = size;
    std::memcpy(buffer, text, copy);
    if (copy == 0 || buffer[copy - 1] != 0) {
        if (copy == size) {
            buffer[size - 1] = 0;
        } else {
            buffer[copy] = 0;
            ++copy;
        }
    }
    return copy;
}
HLC_EXPORT_CATCH(im_msg_get_string)

uint32_t im_msg_get_array(const _MSG_ST* msg, uint32_t slot, void* buffer, uint32_t length)
try {
    if (!buffer || slot >= kMsgMaxParams) return 0;
    const uint32_t limit = (kMsgMaxParams - slot) * 8;
    if (length > limit) length = limit;
    std::memcpy(buffer, &msg->body.param[slot][0], length);
    return length;
}
HLC_EXPORT_CATCH(im_msg_get_array)
