// Parameter slots of a command message: fifteen 8-byte slots after the header.  A char,
// short or long sits in the first bytes of its slot, a double fills it, a float travels
// widened to a double.  Strings and arrays start in their slot and run on through the
// following ones.  Every function ignores a slot index outside the fifteen slots, and
// the put functions do nothing once the message carries an error.
#pragma once

#include "hlc_arch.h"

#include "im_msgio.h"

#include <cstdint>

HLC_API void im_msg_put_char(_MSG_ST* msg, uint32_t slot, int8_t value);
HLC_API void im_msg_put_short(_MSG_ST* msg, uint32_t slot, int16_t value);
HLC_API void im_msg_put_long(_MSG_ST* msg, uint32_t slot, int32_t value);
HLC_API void im_msg_put_double(_MSG_ST* msg, uint32_t slot, double value);
HLC_API void im_msg_put_float(_MSG_ST* msg, uint32_t slot, float value);
// The text with its zero, cut to 119 - 8 slot bytes so that the last byte of slot 14
// stays zero; the slot holding the last byte is cleared first.  The parameter count
// grows by the copied length / 8.  A null text travels as an empty one.
HLC_API void im_msg_put_string(_MSG_ST* msg, uint32_t slot, const char* text);
// Up to (15 - slot) x 8 bytes; the count grows by the copied length / 8, which is
// returned (0 when nothing was put).
HLC_API uint32_t im_msg_put_array(_MSG_ST* msg, uint32_t slot, const void* bytes, uint32_t length);

// The value, 0 when the message carries an error.
HLC_API int8_t im_msg_get_char(const _MSG_ST* msg, uint32_t slot);
HLC_API int16_t im_msg_get_short(const _MSG_ST* msg, uint32_t slot);
HLC_API int32_t im_msg_get_long(const _MSG_ST* msg, uint32_t slot);
HLC_API double im_msg_get_double(const _MSG_ST* msg, uint32_t slot);
HLC_API float im_msg_get_float(const _MSG_ST* msg, uint32_t slot);
// Copies the string with its zero, at most size bytes, and returns the bytes copied; a
// string cut by the buffer still ends in a zero.  Reads no further than the last slot.
HLC_API uint32_t im_msg_get_string(const _MSG_ST* msg, uint32_t slot, char* buffer, uint32_t size);
// Copies min(length, (15 - slot) x 8) bytes and returns that number.
HLC_API uint32_t im_msg_get_array(const _MSG_ST* msg, uint32_t slot, void* buffer, uint32_t length);
