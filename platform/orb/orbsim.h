// Test control of the imaging-library stand-in: reset, call log, inspection of the
// simulated objects, fault injection and timing. Not part of the imaging interface:
// only tests and the simulation itself use it. Every function is thread-safe.
#pragma once

#include "bench.h"
#include "orb.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orbsim {

// Frees every object (stops continuous grabs and waits for them, detaches display sinks),
// clears the error hook, the error records, the call log and pending fault injections,
// and restarts the id counters: after reset() the first id handed out is 0x1 again and
// ids count up by one for every application, system, digitizer, buffer and display
// (one counter for all of them). Error ids have a counter of their own, also from 0x1.
// The frame period goes back to 40 ms.
void reset();

// The call log: one entry per imaging-library call, in call order, written when the call
// is entered (so bad calls appear too). An entry is "name(arg, arg, ...)" with every
// argument in declaration order:
//   lower-case hex with 0x ("0x3", "0x10000000"): ids (application, system, digitizer,
//     buffer, display, error), channel codes, buffer types, buffer attributes, init flags,
//     system and device numbers, file formats, the application control type, the error
//     hook type and the orbAppGetError codes;
//   decimal: sizes, coordinates, zoom factors, control, level and inquire types, level
//     values, the application control value and the load operation;
//   doubles with %g ("1", "0.25", "-9999");
//   strings in double quotes, a null string as null;
//   board driver entries by name: ORBSVK, ORBSVK2, ORBDRV, ORBLMB, ORBHLC, ORBVGA,
//     null (no board); another function pointer as ptr;
//   the error hook as hook or null; every other pointer (out-parameters, memory, user
//     pointer, window) as ptr or null.
// Examples:
//   orbAppOpen(0x10000000, ptr)            orbAppControl(0x40000000, 0)
//   orbAppSetErrorHook(0x40000001, hook, ptr)   orbAppInquire(8, ptr)
//   orbAppGetError(0x1, 0x20000002, ptr)   orbSysOpen(ORBSVK, 0x10000000, 0x10000000, ptr)
//   orbDigAlloc(0x2, 0x0, "O_CCIR", 0x10000000, ptr)   orbDigSelectInput(0x3, 0x20000000)
//   orbDigControl(0x3, 4016, 1)            orbDigSetLevel(0x3, 4009, 160)
//   orbBufAlloc2d(0x2, 768, 576, 0x80000008, 0x3c, ptr)   orbBufClear(0x4, 0)
//   orbBufGet2d(0x4, 0, 0, 10, 10, ptr)    orbBufInquire(0x4, 1002, null)
//   orbBufLoad("a.tif", 0x10000000, 1, 0x2, 0x4)   orbBufRestore("a.tif", 0x2, ptr)
//   orbDispAlloc(0x2, 0x10000000, "O_DEFAULT", 0x10000000, ptr)
//   orbDispSetZoom(0x5, -2, -2)            orbDispControl(0x5, 3054, -9999)
//   orbDispShowInWindow(0x5, 0x4, ptr)
// The log keeps the most recent 20000 entries.
std::vector<std::string> callLog();
void clearCallLog();

// One error record as the hook's error id refers to it.
struct ErrorInfo {
    OrbId id = 0;
    std::string function;                 // "orbBufGet"
    std::string message;                  // "Invalid buffer id"
    std::vector<std::string> subMessages; // 0 to 3 entries
};
// The most recent error, if any since reset(); errorCount() counts every error reported.
std::optional<ErrorInfo> lastError();
size_t errorCount();

// What a digitizer has been told. Levels not set yet are absent from levels; the
// camera settings are what a grab passes to the bench, derived from the levels:
//   k = 255 / max(white - black, 1)                  (white 4005, default 255; black 4003, default 0)
//   contrast   = contrast level / 160 * k            (4009, default 160)
//   brightness = (brightness level - 148 - black) * k (4008, default 148)
struct DigitizerState {
    OrbId system = 0;
    uint32_t channel = 0;               // selected input channel code
    std::map<int, double> controls;     // last value of every control type set
    std::map<int, int> levels;          // last value of every level type set
    double scaleX = 1.0, scaleY = 1.0;  // from controls 4010 (both), 4011 (X), 4012 (Y)
    bench::CameraSettings camera;
    bool live = false;                  // a continuous grab runs
    OrbId liveBuffer = 0;               // its destination
    uint64_t framesGrabbed = 0;         // frames written by single and continuous grabs
};
std::optional<DigitizerState> digitizerState(OrbId digitizerId);

struct BufferInfo {
    OrbId system = 0;
    int width = 0, height = 0;
    uint32_t type = 0;        // bits per pixel, plus ORB_SIGNED
    uint32_t attributes = 0;
    int bytesPerPixel = 0;    // 1 (1-8 bits), 2 (9-16 bits) or 4 (17-32 bits)
};
std::optional<BufferInfo> bufferInfo(OrbId bufferId);

struct DisplayState {
    OrbId system = 0;
    OrbId buffer = 0;          // the buffer shown, 0 for none
    int zoomX = 1, zoomY = 1;
    std::map<int, double> controls;
    bool hasWindow = false;    // showing into a display sink
};
std::optional<DisplayState> displayState(OrbId displayId);

// Numbers of allocated objects.
size_t bufferCount();
size_t displayCount();
size_t digitizerCount();
size_t systemCount();
bool applicationOpen();

// Fault injection: the next count allocations of the given kind fail as if memory ran
// out (reported through the hook, id 0 handed back). Buffer covers orbBufAlloc2d and
// orbBufRestore.
enum class AllocKind { Buffer, Display, Digitizer, System, Any };
void failNextAlloc(AllocKind kind = AllocKind::Buffer, int count = 1);

// The camera's frame period in milliseconds (default 40). A single grab waits for the
// next frame boundary; a continuous grab writes one frame per period. 0 makes single
// grabs return at once and continuous grabs run at 1 ms.
void setFramePeriodMs(int milliseconds);
int framePeriodMs();

}  // namespace orbsim
