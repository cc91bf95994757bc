#pragma once
// Hand-made TIFF files for the readers' tests: one little-endian strip image with the
// tags a test chooses, so that files other writers make (interleaved samples, missing or
// odd tags, data cut short) can be given to the readers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace tinytiff {

struct Tag {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::vector<uint8_t> value;
};

inline Tag Shorts(uint16_t tag, const std::vector<uint16_t>& values)
{
    Tag t{tag, 3, static_cast<uint32_t>(values.size()), std::vector<uint8_t>(values.size() * 2)};
    std::memcpy(t.value.data(), values.data(), t.value.size());
    return t;
}

inline Tag Long(uint16_t tag, uint32_t value)
{
    Tag t{tag, 4, 1, std::vector<uint8_t>(4)};
    std::memcpy(t.value.data(), &value, 4);
    return t;
}

inline Tag Ascii(uint16_t tag, const std::vector<uint8_t>& bytes)
{
    return Tag{tag, 2, static_cast<uint32_t>(bytes.size()), bytes};
}

struct Image {
    uint32_t width = 1, height = 1;
    uint16_t bits = 8, samples = 1;
    std::vector<uint8_t> pixels;     // the strip as stored (interleaved samples)
    uint32_t claimedBytes = 0;       // strip byte count written, 0: the pixels' size
    std::vector<Tag> extra;
};

// The file's bytes: header, the strip, the directory, then the values too long for it.
inline std::vector<uint8_t> Build(const Image& im)
{
    std::vector<Tag> tags = {
        Long(256, im.width),
        Long(257, im.height),
        Shorts(258, std::vector<uint16_t>(im.samples, im.bits)),
        Shorts(259, {1}),
        Shorts(262, {static_cast<uint16_t>(im.samples == 3 ? 2 : 1)}),
        Long(273, 8),
        Shorts(277, {im.samples}),
        Long(278, im.height),
        Long(279, im.claimedBytes ? im.claimedBytes : static_cast<uint32_t>(im.pixels.size())),
        Shorts(284, {1}),
    };
    for (const Tag& t : im.extra) {
        tags.erase(std::remove_if(tags.begin(), tags.end(), [&](const Tag& o) { return o.tag == t.tag; }), tags.end());
        tags.push_back(t);
    }
    std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
    std::vector<uint8_t> out(8 + im.pixels.size());
    const uint8_t header[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
    std::copy(header, header + 8, out.begin());
    std::copy(im.pixels.begin(), im.pixels.end(), out.begin() + 8);
    if (out.size() % 2) out.push_back(0);
    const uint32_t ifd = static_cast<uint32_t>(out.size());
    std::memcpy(out.data() + 4, &ifd, 4);
    uint32_t values = ifd + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
    std::vector<uint8_t> dir(2 + 12 * tags.size() + 4), tail;
    const uint16_t n = static_cast<uint16_t>(tags.size());
    std::memcpy(dir.data(), &n, 2);
    for (size_t i = 0; i < tags.size(); ++i) {
        uint8_t* e = dir.data() + 2 + 12 * i;
        std::memcpy(e, &tags[i].tag, 2);
        std::memcpy(e + 2, &tags[i].type, 2);
        std::memcpy(e + 4, &tags[i].count, 4);
        if (tags[i].value.size() <= 4) {
            std::memcpy(e + 8, tags[i].value.data(), tags[i].value.size());
        } else {
            const uint32_t at = values + static_cast<uint32_t>(tail.size());
            std::memcpy(e + 8, &at, 4);
            tail.insert(tail.end(), tags[i].value.begin(), tags[i].value.end());
            if (tail.size() % 2) tail.push_back(0);
        }
    }
    out.insert(out.end(), dir.begin(), dir.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tinytiff
