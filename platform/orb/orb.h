// Imaging library interface (stand-in): application, system, digitizer, buffer,
// file and display calls. Ids are 32-bit values handed back through out-parameters;
// ORB_DEFAULT as an argument asks for the default. Errors are never returned to the
// caller as exceptions: they are recorded and reported through the installed error hook.
// Every call is thread-safe. The error hook runs on the calling thread, after the call has
// let go of the library's lock, so it may call the library itself. A failed call that hands
// back an id hands back 0 (and writes 0 through its out-parameter when one is given); the
// calls that return an id accept a null out-parameter.
#pragma once

#include <cstdint>

using OrbId = uint32_t;
using OrbInt = int32_t;

constexpr OrbInt ORB_DEFAULT = 0x10000000;

// orbAppGetError codes.
constexpr OrbInt ORB_ERR_MESSAGE = 0x20000001;       // char[128]
constexpr OrbInt ORB_ERR_FUNCTION = 0x20000002;      // char[128]
constexpr OrbInt ORB_ERR_SUBMESSAGE1 = 0x20000004;   // char[128]
constexpr OrbInt ORB_ERR_SUBMESSAGE2 = 0x20000005;   // char[128]
constexpr OrbInt ORB_ERR_SUBMESSAGE3 = 0x20000006;   // char[128]
constexpr OrbInt ORB_ERR_SUBMESSAGE_COUNT = 3;       // OrbInt
constexpr int ORB_ERROR_TEXT_SIZE = 128;

constexpr OrbInt ORB_ERROR_HOOK = 0x40000001;        // orbAppSetErrorHook type
constexpr OrbInt ORB_INQ_ERROR_HOOK = 8;             // orbAppInquire: current hook
constexpr OrbInt ORB_INQ_ERROR_HOOK_USER = 9;        // orbAppInquire: its user pointer

// orbBufInquire types.
constexpr OrbInt ORB_BUF_SIZE_X = 1002;
constexpr OrbInt ORB_BUF_SIZE_Y = 1003;
constexpr OrbInt ORB_BUF_TYPE = 1008;

// Buffer type: bits per pixel, plus ORB_SIGNED for signed data.
constexpr uint32_t ORB_SIGNED = 0x80000000u;
// Buffer attributes.
constexpr uint32_t ORB_ATTR_IMAGE = 4, ORB_ATTR_GRAB = 8, ORB_ATTR_PROC = 16, ORB_ATTR_DISP = 32;

// File formats of orbBufSave / orbBufLoad.
constexpr OrbInt ORB_FILE_OWN = 0;    // .oim
constexpr OrbInt ORB_FILE_RAW = 1;
constexpr OrbInt ORB_FILE_TIFF = 2;
constexpr OrbInt ORB_FILE_BMP = 4;
// ORB_DEFAULT as the format of orbBufLoad picks the format from the file's contents.

// Per-board driver entries: passed to orbSysOpen, never called by the application.
using OrbBoardDriverEntry = OrbInt (*)();
extern "C" {
OrbInt ORBSVK_orbBoardDriverEntry();   // Sorvik
OrbInt ORBSVK2_orbBoardDriverEntry();  // Sorvik II
OrbInt ORBDRV_orbBoardDriverEntry();   // Drevan (single and double screen)
OrbInt ORBLMB_orbBoardDriverEntry();   // Lumbra
OrbInt ORBHLC_orbBoardDriverEntry();   // Halcyra
OrbInt ORBVGA_orbBoardDriverEntry();   // no board, VGA display (no digitizer)
}

// Error hook: (hook type, error id, user pointer) -> 0.
using OrbErrorHook = OrbInt (*)(OrbInt hookType, OrbId errorId, void* user);

// A window that shows a display's buffer (orbDispShowInWindow's window handle).
// orbFrame is called on any thread, whenever the shown buffer's pixels or the zoom
// change, with the buffer converted to 8-bit grey; the pixels are valid only during
// the call. width and height are the buffer's; the zoom factors are the display's
// (-16..-1 shrink, 1..16 magnify). orbDetached is called when the display stops showing
// into this sink (orbDispFree, another window, orbSysClose, orbAppClose); once that call
// has returned no frame reaches the sink any more. The sink must outlive its display.
// orbFrame may call the library, but must not wait for a thread that is freeing or
// re-targeting the same display.
class OrbDisplaySink {
public:
    virtual ~OrbDisplaySink() = default;
    virtual void orbFrame(const uint8_t* grey, int width, int height, int zoomX, int zoomY) = 0;
    virtual void orbDetached() {}
};

// Application.
void orbAppOpen(OrbInt initFlag, OrbId* appId);
void orbAppControl(OrbInt type, OrbInt value);
void orbAppClose(OrbId appId);  // frees every object and removes the error hook
// Copies the error's item for code into out (char[128] texts or one OrbInt); returns 0, or -1
// for an unknown error id or code (out untouched).
OrbInt orbAppGetError(OrbId errorId, OrbInt code, void* out);
void orbAppSetErrorHook(OrbInt type, OrbErrorHook hook, void* user);
// 8: out is OrbErrorHook*; 9: out is void**.
OrbInt orbAppInquire(OrbInt type, void* out);

// Systems.
OrbId orbSysOpen(OrbBoardDriverEntry driver, OrbInt systemNumber, OrbInt initFlag, OrbId* systemId);
void orbSysClose(OrbId systemId);

// Digitizers ("O_CCIR", 768 x 576).
OrbId orbDigAlloc(OrbId systemId, OrbInt deviceNumber, const char* format, OrbInt initFlag, OrbId* digitizerId);
void orbDigFree(OrbId digitizerId);
void orbDigSelectInput(OrbId digitizerId, uint32_t channel);
void orbDigControl(OrbId digitizerId, OrbInt controlType, double value);
void orbDigSetLevel(OrbId digitizerId, OrbInt levelType, OrbInt value);
// Grabs deliver the camera frame at the destination buffer's size, converted to its depth
// (8-bit samples spread over the range: x 257 for 16 bits). A single grab waits for the
// camera's next frame (40 ms period) and ends a continuous grab of the digitizer.
void orbDigGrab(OrbId digitizerId, OrbId bufferId);       // the frame is there on return
void orbDigGrabLive(OrbId digitizerId, OrbId bufferId);   // continuous, until orbDigStopGrab
void orbDigStopGrab(OrbId digitizerId);                   // waits: no frame is written after it

// Buffers.
OrbId orbBufAlloc2d(OrbId systemId, OrbInt sizeX, OrbInt sizeY, uint32_t type, uint32_t attributes, OrbId* bufferId);
void orbBufFree(OrbId bufferId);
void orbBufClear(OrbId bufferId, double value);
void orbBufCopy(OrbId sourceId, OrbId destinationId);
void orbBufGet(OrbId bufferId, void* memory);             // width x height x bytes per pixel
void orbBufPut(OrbId bufferId, const void* memory);
void orbBufGet2d(OrbId bufferId, OrbInt x, OrbInt y, OrbInt width, OrbInt height, void* memory);
void orbBufPut2d(OrbId bufferId, OrbInt x, OrbInt y, OrbInt width, OrbInt height, const void* memory);
OrbInt orbBufInquire(OrbId bufferId, OrbInt type, void* out);  // returns the value; out may be null

// Files (see orbfiles.h for the formats). Loading into a buffer of another size is an
// error; another depth is converted. A file that cannot be read leaves the buffer as it
// was. orbBufRestore allocates a buffer of the file's size and type (attributes 52).
void orbBufSave(const char* file, OrbInt format, OrbId bufferId);
void orbBufLoad(const char* file, OrbInt format, OrbInt operation, OrbId systemId, OrbId bufferId);
OrbId orbBufRestore(const char* file, OrbId systemId, OrbId* bufferId);

// Displays.
OrbId orbDispAlloc(OrbId systemId, OrbInt deviceNumber, const char* format, OrbInt initFlag, OrbId* displayId);
void orbDispFree(OrbId displayId);
void orbDispShowBuffer(OrbId displayId, OrbId bufferId);
void orbDispSetZoom(OrbId displayId, OrbInt zoomX, OrbInt zoomY);
void orbDispControl(OrbId displayId, OrbInt controlType, double value);
void orbDispShowInWindow(OrbId displayId, OrbId bufferId, void* window);  // window: OrbDisplaySink*
