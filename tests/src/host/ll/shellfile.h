// A minimal board processor shell file for the bring-up tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace shellfile {

constexpr uint32_t kLow = 0xFFC00000u; // 2^32 - the 4 MB of local RAM

inline void Put16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A little-endian shell of one ".text" section at the bottom of local RAM whose header
// reports the given shell value (word 4 holds its negation) and whose reset vector is
// non-zero.
inline std::vector<uint8_t> ShellFile(int32_t value = 5)
{
    std::vector<uint8_t> text(256);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i + 1);
    const uint32_t words[9] = {0, 0, 64, 0, static_cast<uint32_t>(-value), 0, 64, 0, 128};
    std::memcpy(text.data(), words, sizeof words);
    std::vector<uint8_t> b;
    Put16(b, 0x00C1);
    Put16(b, 1);
    Put32(b, 0x12345678);
    Put32(b, 0);
    Put32(b, 0);
    Put16(b, 28);
    Put16(b, 0x100);
    Put16(b, 0x95);
    Put16(b, 0x0108);
    Put16(b, 1);
    for (uint32_t v : {256u, 0u, 0u, kLow, kLow, kLow}) Put32(b, v);
    const char name[8] = {'.', 't', 'e', 'x', 't', 0, 0, 0};
    b.insert(b.end(), name, name + 8);
    const uint32_t dataAt = static_cast<uint32_t>(b.size()) - 8 + 40; // behind this section header
    for (uint32_t v : {kLow, kLow, 256u, dataAt, 0u, 0u}) Put32(b, v);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, 0x20);
    b.push_back(0);
    b.push_back(0);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

inline bool WriteShellFile(const std::string& path, int32_t value = 5)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const std::vector<uint8_t> bytes = ShellFile(value);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace shellfile
