#pragma once
// A small writer of JPEG streams for the tests: baseline (SOF0) or lossless (SOF3) frames,
// one component per scan, tables, a restart interval, and per scan an optional "QVRL"
// segment with the offsets of the restart markers it put into the scan's data.  The
// entropy-coded data is made up: pseudo-random bytes in which every 0xFF is followed by a
// stuffed 0x00, with RST0-RST7 markers between restart intervals.
//
// The segments come in one fixed order (DQT per table, DHT per table, SOF, DRI, then per
// scan: QVRL, SOS, data; EOI), the order in which the test boards give an object back.
#include <cstdint>
#include <string>
#include <vector>

namespace jpegstream {

struct Component {
    uint8_t id = 1;
    uint8_t h = 1, v = 1;
    uint8_t tq = 0;
};

struct Scan {
    uint8_t component = 0;       // index into the frame's components
    uint8_t td = 0, ta = 0;
    uint32_t dataBytes = 100;    // entropy-coded bytes besides the RST markers
    uint32_t restarts = 0;       // RST markers in the data
    bool qvrl = false;           // the "QVRL" segment before the scan
};

struct Stream {
    bool lossless = false;
    uint8_t precision = 8;
    uint16_t lines = 16, samples = 32;
    std::vector<Component> components{Component{}};
    std::vector<uint8_t> quantIds{0};            // 64-byte tables (baseline)
    std::vector<uint8_t> dcIds{0};               // Huffman tables
    std::vector<uint8_t> acIds{0};
    uint16_t restartInterval = 0;
    uint8_t predictor = 1;                       // lossless Ss
    std::vector<Scan> scans{Scan{}};
    uint32_t seed = 1;
};

inline void Be16(std::vector<uint8_t>& o, uint32_t v)
{
    o.push_back(static_cast<uint8_t>(v >> 8));
    o.push_back(static_cast<uint8_t>(v));
}

inline void Be32(std::vector<uint8_t>& o, uint32_t v)
{
    Be16(o, v >> 16);
    Be16(o, v & 0xFFFF);
}

// A Huffman table body: 16 counts then the values (count[i] codes of length i + 1).
inline std::vector<uint8_t> HuffmanTable(uint32_t values)
{
    std::vector<uint8_t> t(16, 0);
    t[1] = static_cast<uint8_t>(values < 3 ? values : 3);
    t[2] = static_cast<uint8_t>(values - t[1]);
    for (uint32_t i = 0; i < values; ++i) t.push_back(static_cast<uint8_t>(i));
    return t;
}

inline std::vector<uint8_t> QuantTable(uint8_t id)
{
    std::vector<uint8_t> t(64);
    for (uint32_t i = 0; i < 64; ++i) t[i] = static_cast<uint8_t>(1 + i + id);
    return t;
}

// Entropy-coded data of a scan and the offsets of its restart markers.
inline std::vector<uint8_t> ScanData(const Scan& s, uint32_t seed, std::vector<uint32_t>* offsets)
{
    std::vector<uint8_t> d;
    uint32_t x = seed * 2654435761u + 12345u;
    const uint32_t intervals = s.restarts + 1;
    for (uint32_t k = 0; k < intervals; ++k) {
        if (k > 0) {
            if (offsets) offsets->push_back(static_cast<uint32_t>(d.size()));
            d.push_back(0xFF);
            d.push_back(static_cast<uint8_t>(0xD0 + (k - 1) % 8));
        }
        const uint32_t bytes = s.dataBytes / intervals + (k + 1 == intervals ? s.dataBytes % intervals : 0);
        for (uint32_t i = 0; i < bytes; ++i) {
            x = x * 1103515245u + 12345u;
            const uint8_t b = static_cast<uint8_t>(x >> 16);
            d.push_back(b);
            if (b == 0xFF) d.push_back(0x00);
        }
    }
    return d;
}

inline std::vector<uint8_t> Write(const Stream& st)
{
    std::vector<uint8_t> o{0xFF, 0xD8};
    if (!st.lossless)
        for (uint8_t id : st.quantIds) {
            Be16(o, 0xFFDB);
            Be16(o, 67);
            o.push_back(id);
            const auto t = QuantTable(id);
            o.insert(o.end(), t.begin(), t.end());
        }
    auto dht = [&](uint8_t classId, uint32_t values) {
        const auto t = HuffmanTable(values);
        Be16(o, 0xFFC4);
        Be16(o, static_cast<uint32_t>(3 + t.size()));
        o.push_back(classId);
        o.insert(o.end(), t.begin(), t.end());
    };
    for (uint8_t id : st.dcIds) dht(id, 12);
    if (!st.lossless)
        for (uint8_t id : st.acIds) dht(static_cast<uint8_t>(0x10 | id), 40);
    Be16(o, st.lossless ? 0xFFC3 : 0xFFC0);
    Be16(o, static_cast<uint32_t>(8 + 3 * st.components.size()));
    o.push_back(st.precision);
    Be16(o, st.lines);
    Be16(o, st.samples);
    o.push_back(static_cast<uint8_t>(st.components.size()));
    for (const Component& c : st.components) {
        o.push_back(c.id);
        o.push_back(static_cast<uint8_t>(c.h << 4 | c.v));
        o.push_back(c.tq);
    }
    if (st.restartInterval) {
        Be16(o, 0xFFDD);
        Be16(o, 4);
        Be16(o, st.restartInterval);
    }
    uint32_t n = 0;
    for (const Scan& s : st.scans) {
        std::vector<uint32_t> offsets;
        const std::vector<uint8_t> data = ScanData(s, st.seed + n++, &offsets);
        if (s.qvrl) {
            Be16(o, 0xFFE0);
            Be16(o, static_cast<uint32_t>(14 + 4 * offsets.size()));
            o.insert(o.end(), {'Q', 'V', 'R', 'L'});
            Be32(o, static_cast<uint32_t>(offsets.size() + 1));
            Be32(o, 0);
            for (uint32_t off : offsets) Be32(o, off);
        }
        Be16(o, 0xFFDA);
        Be16(o, 8);
        o.push_back(1);
        o.push_back(st.components[s.component].id);
        o.push_back(static_cast<uint8_t>(s.td << 4 | s.ta));
        o.push_back(st.lossless ? st.predictor : 0);
        o.push_back(st.lossless ? 0 : 63);
        o.push_back(0);
        o.insert(o.end(), data.begin(), data.end());
    }
    o.push_back(0xFF);
    o.push_back(0xD9);
    return o;
}

}  // namespace jpegstream
