// Float map files (.flt): any bytes given to TFloatImage::LoadFromFile are either loaded
// or refused with an error, never read out of bounds.
#include "Apperror.h"
#include "Floatimage.h"
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    try {
        TFloatImage map(path);
    } catch (const EAppError&) {
        // A refused file: what the reader is meant to do with bad input.
    }
    return 0;
}
