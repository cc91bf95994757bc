// The library's error codes and their default texts.
//
// Every error the library reports to a caller (in a message's error record, a request
// resource, a thread or sync object, or the application's last-error record) is one of
// these negative codes; a specific text may replace the default one.  The values travel
// in command messages and are seen by callers, so they never change.
#pragma once

#include "hlclib_defs.h"

#include <cstdint>

enum HlcError : int32_t {
    HLC_ERR_INVALID_BUFFER = IM_ERR_INVALID_BUFFER,
    HLC_ERR_INVALID_DEVICE = IM_ERR_INVALID_DEVICE,
    HLC_ERR_FILE_ACCESS = IM_ERR_FILE_ACCESS,
    HLC_ERR_NO_RESOURCES = IM_ERR_NO_RESOURCES,
    HLC_ERR_NOT_PRESENT = IM_ERR_NOT_PRESENT,
    HLC_ERR_INVALID_OPCODE = IM_ERR_INVALID_OPCODE,
    HLC_ERR_INVALID_OSB = IM_ERR_INVALID_OSB,
    HLC_ERR_INVALID_PARAMETER = IM_ERR_INVALID_PARAMETER,
    HLC_ERR_RESTRICTED = IM_ERR_RESTRICTED,
    HLC_ERR_INVALID_THREAD = IM_ERR_INVALID_THREAD,
    HLC_ERR_TIMEOUT = IM_ERR_TIMEOUT,
    HLC_ERR_NO_SYSTEM = IM_ERR_NO_SYSTEM,
    HLC_ERR_HALTED = IM_ERR_HALTED,
    HLC_ERR_BUFFER_ATTRIBUTE = IM_ERR_BUFFER_ATTRIBUTE,
    HLC_ERR_MISCELLANEOUS = IM_ERR_MISCELLANEOUS,
};

// The number of codes: HLC_ERR_INVALID_BUFFER down to HLC_ERR_MISCELLANEOUS.
inline constexpr int32_t kHlcErrorCount = 15;

// Default texts, code -n at index n - 1.
inline constexpr const char* kHlcErrorText[kHlcErrorCount] = {
    "Invalid buffer ID",
    "Invalid device ID, or no such device",
    "File access error",
    "Insufficient resources to carry out the operation",
    "Referenced item not present",
    "Invalid opcode received",
    "Invalid OSB ID",
    "Parameter invalid or unacceptable",
    "Operation unable to execute due to a restriction",
    "Invalid thread ID",
    "Board did not respond within the timeout period",
    "No such system",
    "Function halted by imThrHalt()",
    "Unacceptable buffer attribute (size, type, etc.)",
    "Miscellaneous error",
};

// The text of any other nonzero code.
inline constexpr const char kHlcUnknownErrorText[] = "Unknown/Undefined error code";

// The default text of a code: null for 0, kHlcUnknownErrorText for a code that is not
// one of the fifteen.
constexpr const char* HlcErrorText(int32_t code)
{
    if (code == 0) return nullptr;
    if (code < 0 && code >= -kHlcErrorCount) return kHlcErrorText[-code - 1];
    return kHlcUnknownErrorText;
}
