// Image files of the imaging library: any bytes given to the format detection and its
// readers (own format, TIFF, BMP) and to the raw reader are either read into a buffer or
// refused through the error hook, never read out of bounds.
#include "fuzzinput.h"
#include "orb.h"
#include "orbsim.h"

namespace {

OrbInt IgnoreError(OrbInt, OrbId, void*) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    // A fresh library for every input: the reset at the end frees the buffers, the error
    // records and the call log of the input, so whatever stays allocated is a leak.
    OrbId app = 0, sys = 0, small = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &IgnoreError, nullptr);
    orbSysOpen(&ORBSVK_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbBufAlloc2d(sys, 8, 4, 16, ORB_ATTR_IMAGE | ORB_ATTR_PROC, &small);
    // The format from the contents, into a buffer of the file's own size and type.
    OrbId restored = 0;
    if (orbBufRestore(path.c_str(), sys, &restored) != 0)
        orbBufFree(restored);
    // The same detection into a buffer of a given size, and the raw reader.
    orbBufLoad(path.c_str(), ORB_DEFAULT, 1, sys, small);
    orbBufLoad(path.c_str(), ORB_FILE_RAW, 1, sys, small);
    orbAppClose(app);
    orbsim::reset();
    return 0;
}
