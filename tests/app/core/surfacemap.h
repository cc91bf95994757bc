#pragma once
// A small measured map for the surface export's tests, and the lines of a .sur text.
#include "Surfacewriter.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace surfacemap {

// The lines of text, each of which must end in CR LF; a rest without one is marked.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back("(unterminated) " + text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The whole file at path.
inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A W x H map with heights c + 10 r.
struct Map {
    Map(int w, int h) : heights(size_t(w * h)), mask(size_t(w * h), 0)
    {
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) heights[size_t(r * w + c)] = float(c + 10 * r);
        m.Heights = heights.data();
        m.Mask = mask.data();
        m.Width = w;
        m.Height = h;
        m.Zc = 100;
        m.Zcf = 50;
        m.X0 = 1;
        m.Y0 = 1;
        m.PixelX = 0.01;
        m.PixelY = 0.02;
        m.OriginX = 1;
        m.OriginY = -2;
        m.OriginZ = 0.5;
    }
    void Mask(int c, int r) { mask[size_t(r * m.Width + c)] = 255; }
    // Only columns c0..c1 of rows r0..r1 valid.
    void KeepBox(int c0, int c1, int r0, int r1)
    {
        std::fill(mask.begin(), mask.end(), 255);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) mask[size_t(r * m.Width + c)] = 0;
    }
    std::vector<float> heights;
    std::vector<uint8_t> mask;
    TMapCoordinates m;
};

}  // namespace surfacemap
