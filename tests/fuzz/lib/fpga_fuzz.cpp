// FPGA bit files (.res): any bytes are decoded into an image or refused with the loader's
// result code, never read or written out of bounds.
#include "fpgaload.h"
#include "fuzzinput.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    FILE* file = nullptr;
    double software = 0.0, hardware = 0.0;
    if (PrFpgaSeekGeneric(0, path.c_str(), &file, &software, &hardware) != 0)
        return 0;
    uint8_t* image = nullptr;
    uint32_t length = 0;
    PrFpgaReadGeneric(file, &image, &length);
    std::fclose(file);
    std::free(image);
    return 0;
}
