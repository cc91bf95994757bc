// Camera files: any bytes given to im_cam_load, as a file and as text in memory, make an
// entry list of 200, 250, ... entries whose keywords end within their 32 bytes, or are
// refused with an error, never read or written out of bounds.  An accepted list written
// back as a camera file reads again.
#include "camfile.h"
#include "fuzzinput.h"
#include "im_msgio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Checks a list the reader accepted; aborts on a broken one (a finding).
void Check(const _DCF_ENTRY* entries, int32_t count)
{
    if (!entries || count < kCamEntriesInitial || (count - kCamEntriesInitial) % kCamEntriesStep != 0) std::abort();
    for (int32_t i = 0; i < count; ++i)
        if (std::memchr(entries[i].name, 0, sizeof entries[i].name) == nullptr) std::abort();
}

std::string& OutputPath()
{
    static std::string path;
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/qsrf-fuzz-camout-" + std::to_string(::getpid()) + ".dcf";
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    _MSG_ST msg{};
    _DCF_ENTRY* entries = nullptr;
    int32_t count = 0;
    if (im_cam_load(&msg, &entries, &count, path.c_str(), 1) == 0) {
        Check(entries, count);
        // Written back and read again: the writer's own format is always accepted, up to
        // the reader's size limit; a longer file is refused.
        _MSG_ST out{};
        if (im_cam_write(&out, OutputPath().c_str(), entries, count, "Thu Jan  1 00:00:00 1970\n") == 0) {
            struct stat written {};
            if (::stat(OutputPath().c_str(), &written) != 0) std::abort();
            const bool fits = static_cast<uint64_t>(written.st_size) <= kCamMaxFileBytes;
            _MSG_ST again{};
            _DCF_ENTRY* reread = nullptr;
            int32_t recount = 0;
            if ((im_cam_load(&again, &reread, &recount, OutputPath().c_str(), 1) == 0) != fits) std::abort();
            if (fits) Check(reread, recount);
            std::free(reread);
        }
        ::unlink(OutputPath().c_str());
    }
    std::free(entries);

    // The same bytes as text in memory (up to the first zero byte).
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    _MSG_ST mem{};
    entries = nullptr;
    if (im_cam_load(&mem, &entries, &count, text.c_str(), 0) == 0) Check(entries, count);
    std::free(entries);
    return 0;
}
