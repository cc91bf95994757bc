// Video configuration files: any bytes given to im_vcf_load_file are loaded into the
// record or refused with its result code, never read or stored out of bounds.
#include "fuzzinput.h"
#include "videomode.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A console pipe path too long to use keeps the console off (see ini_fuzz.cpp).
    setenv("HLCCOUT_PIPE", std::string(200, 'p').c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    VIDEO_PARAM param{};
    im_vcf_load_file(path.c_str(), &param);
    std::free(im_vcf_read_file_to_buf(path.c_str()));
    return 0;
}
