// Pattern-model files: any bytes at any position of a file give a model of exactly the
// size its header names, read whole, or are refused with -3 and the text; never a read
// out of bounds, never more than the model's bytes.
#include "patfile.h"
#include "fuzzinput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::abort();
    // The model starts after a prefix the first byte chooses.
    const long start = size ? static_cast<long>(data[0] % 8) : 0;
    std::fseek(f, start, SEEK_SET);
    uint8_t* bytes = nullptr;
    uint32_t modelSize = 0;
    const char* text = nullptr;
    const int32_t code = pat_read_model(f, &bytes, &modelSize, &text);
    std::fclose(f);
    if (code == 0) {
        uint32_t named = 0;
        if (!bytes || static_cast<size_t>(start) + modelSize > size) std::abort();
        if (pat_model_size(bytes, modelSize, &named) != 0 || named != modelSize) std::abort();
        if (std::memcmp(bytes, data + start, modelSize) != 0) std::abort();
    } else if (code != -3 || bytes || std::strcmp(text, kPatTextInvalid) != 0) {
        std::abort();
    }
    std::free(bytes);
    return 0;
}
