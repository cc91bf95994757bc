// Pattern-model files: the model's size from its header, and the model read whole.
#include "patfile.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

bool KnownMagic(uint32_t magic)
{
    return magic == kPatMagic1 || magic == kPatMagic2 || magic == kPatMagic3 || magic == kPatMagicSized;
}

} // namespace

int32_t pat_model_size(const uint8_t* header, uint32_t available, uint32_t* size)
{
    if (available < 6) return -3;
    const uint32_t magic = Le32(header);
    if (!KnownMagic(magic) || Le16(header + 4) != kPatVersion) return -3;
    uint64_t total;
    if (magic == kPatMagicSized) {
        if (available < 10) return -3;
        total = Le32(header + 6);
        if (total < 10) return -3;
    } else {
        if (available < kPatHeaderBytes) return -3;
        const int16_t levels = static_cast<int16_t>(Le16(header + kPatLevelCountAt));
        if (levels < 0 || static_cast<uint32_t>(levels) > kPatMaxLevels) return -3;
        total = kPatHeaderBytes;
        for (int32_t i = 0; i < levels; ++i) {
            const uint8_t* record = header + kPatLevelTableAt + kPatLevelRecordBytes * static_cast<uint32_t>(i);
            const int16_t width = static_cast<int16_t>(Le16(record));
            const int16_t height = static_cast<int16_t>(Le16(record + 2));
            if (width < 0 || height < 0) return -3;
            total += static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
        }
    }
    if (total > kPatMaxModelBytes) return -3;
    *size = static_cast<uint32_t>(total);
    return 0;
}

int32_t pat_read_model(FILE* file, uint8_t** bytes, uint32_t* size, const char** text)
{
    *bytes = nullptr;
    *size = 0;
    *text = kPatTextInvalid;
    if (!file) return -3;
    const long start = std::ftell(file);
    if (start < 0) return -3;
    uint8_t header[kPatHeaderBytes];
    const size_t got = std::fread(header, 1, sizeof header, file);
    uint32_t total = 0;
    if (pat_model_size(header, static_cast<uint32_t>(got), &total) != 0) return -3;
    auto* model = static_cast<uint8_t*>(std::malloc(total));
    if (!model) {
        *text = "Insufficient resources to carry out the operation";
        return -4;
    }
    // The model is read again whole from its start: a file that ends before the model does
    // holds no model.
    if (std::fseek(file, start, SEEK_SET) != 0 || std::fread(model, 1, total, file) != total) {
        std::free(model);
        return -3;
    }
    *bytes = model;
    *size = total;
    *text = nullptr;
    return 0;
}
