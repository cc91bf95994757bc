#pragma once
// Pattern models as the board serialises them, for the tests: a model of each magic with
// its header, level table and level images filled with a pattern of the seed.
#include "patfile.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace patmodel {

inline void Le16(std::vector<uint8_t>& m, uint32_t at, uint32_t v)
{
    m[at] = static_cast<uint8_t>(v);
    m[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void Le32(std::vector<uint8_t>& m, uint32_t at, uint32_t v)
{
    Le16(m, at, v & 0xFFFF);
    Le16(m, at + 2, v >> 16);
}

// A model with level sizes {width, height}; the size-field magic carries `total` bytes.
inline std::vector<uint8_t> Model(uint32_t magic, const std::vector<std::pair<int, int>>& levels, uint32_t total = 0,
                                  uint32_t seed = 7)
{
    uint32_t size = kPatHeaderBytes;
    for (const auto& l : levels) size += static_cast<uint32_t>(l.first * l.second);
    if (magic == kPatMagicSized) size = total;
    std::vector<uint8_t> m(size);
    uint32_t x = seed;
    for (auto& b : m) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    Le32(m, 0, magic);
    Le16(m, 4, kPatVersion);
    if (magic == kPatMagicSized) {
        Le32(m, 6, total);
        return m;
    }
    Le16(m, kPatLevelCountAt, static_cast<uint32_t>(levels.size()));
    for (uint32_t i = 0; i < levels.size() && i < kPatMaxLevels; ++i) {
        Le16(m, kPatLevelTableAt + kPatLevelRecordBytes * i, static_cast<uint32_t>(levels[i].first));
        Le16(m, kPatLevelTableAt + kPatLevelRecordBytes * i + 2, static_cast<uint32_t>(levels[i].second));
    }
    return m;
}

}  // namespace patmodel
