// The desktop's display driver as the library reaches it: a device context on the
// display device and escapes into the driver.  The simulated driver answers the escape
// support query and the two private escapes of the board family's display driver.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

using DisplayContext = uint32_t;   // 0: none
constexpr uint32_t kEscapeQuerySupport = 8;
// The board family's private escapes.
constexpr uint32_t kEscapeDisplayLayout = 0x51564C7Fu;   // 8 bytes out: columns, rows
constexpr uint32_t kEscapeScreenInfo = 0x51564CF0u;      // screen index in, 60 bytes out
constexpr uint32_t kEscapeScreenRecordBytes = 60;

// A context on a display device ("DISPLAY"); 0 for any other name.
DisplayContext DisplayCreateContext(const char* device);
bool DisplayDeleteContext(DisplayContext context);
// > 0 done, 0 escape not supported, < 0 failed.  The support query takes the 4-byte
// escape code as its input and writes nothing.
int DisplayEscape(DisplayContext context, uint32_t escape, uint32_t inSize, const void* in, uint32_t outSize,
                  void* out);
