// JPEG files: any bytes given to im_jpeg_load are loaded into a board object in host
// memory or refused with a text, never read or written out of bounds; a load that
// succeeds leaves every component stored, and the scan data the board received matches
// the sizes it was announced.
#include "jpegfile.h"
#include "fuzzinput.h"

#include "../../src/cbinding/jpegboard.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    jpegboard::Board board;
    // Enough restart entries for any count the file's segment can name within its bytes.
    board.restartEntries = size > 8 ? static_cast<uint32_t>(data[size - 1]) : 0;
    jpegboard::Installed installed(board);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::abort();
    const char* text = im_jpeg_load("imJpegRead", 0x40110010u, f, jpegboard::kJpeg);
    std::fclose(f);
    if (!text) {
        const uint32_t components = jpegboard::Word(board, kJpegHdrCount);
        if (components > 4) std::abort();
        for (const auto& s : board.scans)
            if (s.data.size() != s.params[6] + 1 || s.params[1] >= components) std::abort();
    }
    return 0;
}
