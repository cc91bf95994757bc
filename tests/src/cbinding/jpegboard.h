#pragma once
// A JPEG object on a board in host memory, standing in for a board processor's firmware:
// it keeps the tables, the frame words and the scan data the loader hands it, and for the
// store lays the object out again as header segments and stored scans (optionally the
// scans' data as chained pieces).  Component ids are taken as 1, 2, ... and sampling
// factors from the ratios, the order of the segments is jpegstream.h's.
#include "jpegfile.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace jpegboard {

inline constexpr uint32_t kJpeg = 0x11000007u;   // node 0x11

struct Table {
    uint32_t type, id;
    std::vector<uint8_t> bytes;
};

struct ScanRecord {
    uint32_t params[11];
    std::vector<uint8_t> data;        // where the loader copies the entropy-coded data
    std::vector<uint8_t> restarts;    // the restart table (pairs of words)
};

struct Board {
    std::vector<uint8_t> header = std::vector<uint8_t>(kJpegHeaderBytes + 64, 0);
    std::vector<Table> tables;
    std::deque<ScanRecord> scans;     // deque: addresses stay put
    uint32_t restartEntries = 0;      // entries the next scan's reply announces
    bool refuseRanges = false;        // toHost answers 0 (memory out of reach)
    bool noScanMemory = false;        // opcode 132 answers address 0
    bool knownObject = true;
    uint32_t scanCalls = 0, headerCalls = 0;
    // Laid out for the store.
    std::vector<uint8_t> segments;
    std::deque<std::vector<uint8_t>> stored;
    std::deque<std::vector<uint32_t>> pieceBlocks;
};

inline Board*& Current()
{
    static Board* board = nullptr;
    return board;
}

inline uint32_t Addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

inline uint32_t Word(const Board& b, uint32_t offset)
{
    uint32_t v;
    std::memcpy(&v, b.header.data() + offset, 4);
    return v;
}
inline void SetWord(Board& b, uint32_t offset, uint32_t v) { std::memcpy(b.header.data() + offset, &v, 4); }

inline uint32_t Header(uint32_t, uint32_t jpeg)
{
    Board* b = Current();
    ++b->headerCalls;
    return b->knownObject && jpeg == kJpeg ? Addr(b->header.data()) : 0;
}

inline int32_t PutTable(uint32_t, uint32_t, uint32_t type, uint32_t id, uint32_t size, const uint8_t* bytes)
{
    Current()->tables.push_back({type, id, std::vector<uint8_t>(bytes, bytes + size)});
    return 0;
}

inline int32_t ScanOp(uint32_t, const uint32_t params[11], uint32_t reply[3])
{
    Board* b = Current();
    ++b->scanCalls;
    if (b->noScanMemory) return 0;
    ScanRecord s{};
    std::memcpy(s.params, params, sizeof s.params);
    s.data.assign(params[6] + 1, 0xEE);
    s.restarts.assign(b->restartEntries * 8 + 1, 0xEE);
    b->scans.push_back(std::move(s));
    reply[0] = Addr(b->scans.back().data.data());
    reply[1] = params[10] ? Addr(b->scans.back().restarts.data()) : 0;
    reply[2] = params[10] ? b->restartEntries : 0;
    return 0;
}

inline uint32_t ToHost(uint32_t, uint32_t address, uint32_t)
{
    return Current()->refuseRanges ? 0 : address;
}

inline JpegBoardOps Ops() { return JpegBoardOps{Header, PutTable, ScanOp, ToHost}; }

inline void Be16(std::vector<uint8_t>& o, uint32_t v)
{
    o.push_back(static_cast<uint8_t>(v >> 8));
    o.push_back(static_cast<uint8_t>(v));
}

// The object laid out for the store; with pieces, each scan's entropy-coded data is cut
// in three chained pieces over two piece-table blocks.
inline void Lay(Board& b, bool pieces = false)
{
    const bool lossless = Word(b, kJpegHdrMode) == 3;
    std::vector<uint8_t>& o = b.segments;
    o.clear();
    for (const Table& t : b.tables) {
        if (t.type != kJpegTableQuant) continue;
        Be16(o, 0xFFDB);
        Be16(o, 67);
        o.push_back(static_cast<uint8_t>(t.id));
        o.insert(o.end(), t.bytes.begin(), t.bytes.end());
    }
    for (const Table& t : b.tables) {
        if (t.type == kJpegTableQuant) continue;
        Be16(o, 0xFFC4);
        Be16(o, static_cast<uint32_t>(3 + t.bytes.size()));
        o.push_back(static_cast<uint8_t>((t.type == kJpegTableAc ? 0x10 : 0) | t.id));
        o.insert(o.end(), t.bytes.begin(), t.bytes.end());
    }
    const uint32_t count = Word(b, kJpegHdrCount);
    uint32_t maxH = 1, maxV = 1;
    for (const ScanRecord& s : b.scans) {
        maxH = std::max(maxH, s.params[7]);
        maxV = std::max(maxV, s.params[8]);
    }
    Be16(o, lossless ? 0xFFC3 : 0xFFC0);
    Be16(o, 8 + 3 * count);
    o.push_back(static_cast<uint8_t>(Word(b, kJpegHdrPrecision)));
    Be16(o, Word(b, kJpegHdrLines));
    Be16(o, Word(b, kJpegHdrWidth));
    o.push_back(static_cast<uint8_t>(count));
    for (uint32_t k = 0; k < count; ++k) {
        const ScanRecord* s = nullptr;
        for (const ScanRecord& r : b.scans)
            if (r.params[1] == k) s = &r;
        o.push_back(static_cast<uint8_t>(k + 1));
        o.push_back(s ? static_cast<uint8_t>((maxH / s->params[7]) << 4 | (maxV / s->params[8])) : 0x11);
        o.push_back(s ? static_cast<uint8_t>(s->params[2]) : 0);
    }
    const ScanRecord& first = b.scans.front();
    const uint32_t lines = first.params[9];
    const uint32_t width = (Word(b, kJpegHdrWidth) + first.params[7] - 1) / first.params[7];
    const uint32_t ri = lossless ? lines * width : lines;
    if (ri && !(lossless && lines == ((Word(b, kJpegHdrLines) + 3) & ~3u) / first.params[8])) {
        Be16(o, 0xFFDD);
        Be16(o, 4);
        Be16(o, ri);
    }
    SetWord(b, kJpegHdrSegments, Addr(o.data()));
    SetWord(b, kJpegHdrSegmentBytes, static_cast<uint32_t>(o.size()));
    SetWord(b, kJpegHdrCount, static_cast<uint32_t>(b.scans.size()));
    SetWord(b, kJpegHdrStorage, pieces ? static_cast<uint32_t>(kJpegChainedPieces) : 0);
    b.stored.clear();
    b.pieceBlocks.clear();
    uint32_t i = 0;
    for (const ScanRecord& s : b.scans) {
        std::vector<uint8_t> v;
        if (s.params[10]) {
            const uint32_t n = static_cast<uint32_t>((s.restarts.size() - 1) / 8);
            Be16(v, 0xFFE0);
            Be16(v, 14 + 4 * n);
            v.insert(v.end(), {'Q', 'V', 'R', 'L'});
            Be16(v, 0);
            Be16(v, n + 1);
            Be16(v, 0);
            Be16(v, 0);
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t offset;
                std::memcpy(&offset, s.restarts.data() + 8 * k, 4);
                Be16(v, offset >> 16);
                Be16(v, offset & 0xFFFF);
            }
        }
        Be16(v, 0xFFDA);
        Be16(v, 8);
        v.push_back(1);
        v.push_back(static_cast<uint8_t>(s.params[1] + 1));
        v.push_back(static_cast<uint8_t>(s.params[4] << 4 | s.params[3]));
        v.push_back(static_cast<uint8_t>(s.params[5]));
        v.push_back(lossless ? 0 : 63);
        v.push_back(0);
        const uint32_t dataBytes = s.params[6];
        const uint32_t at = kJpegHdrScanStride * i++;
        if (!pieces) {
            v.insert(v.end(), s.data.begin(), s.data.begin() + dataBytes);
        } else {
            // Pieces: the first third, the second, the rest; entry 0 of block 0 links to
            // entry 2 of block 1, which links to entry 5 of block 0.
            const uint32_t third = dataBytes / 3;
            const uint32_t sizes[3] = {third, third, dataBytes - 2 * third};
            const uint32_t starts[3] = {0, third, 2 * third};
            b.pieceBlocks.emplace_back(1 + 3 * 16, 0);
            b.pieceBlocks.emplace_back(1 + 3 * 16, 0);
            std::vector<uint32_t>& b0 = b.pieceBlocks[b.pieceBlocks.size() - 2];
            std::vector<uint32_t>& b1 = b.pieceBlocks.back();
            b0[0] = Addr(b1.data());
            auto entry = [&](std::vector<uint32_t>& blk, uint32_t e, uint32_t piece, uint32_t link) {
                blk[1 + 3 * e] = Addr(s.data.data() + starts[piece]);
                blk[2 + 3 * e] = sizes[piece];
                blk[3 + 3 * e] = link;
            };
            entry(b0, 0, 0, (1 << 4) | 2);
            entry(b1, 2, 1, (0 << 4) | 5);
            entry(b0, 5, 2, 0);
            SetWord(b, kJpegHdrScanPieces + at, 3);
            SetWord(b, kJpegHdrScanTable + at, Addr(b0.data()));
        }
        b.stored.push_back(std::move(v));
        SetWord(b, kJpegHdrScan + at, Addr(b.stored.back().data()));
        SetWord(b, kJpegHdrScanBytes + at, static_cast<uint32_t>(b.stored.back().size()));
    }
}

// Installs a board for the scope.
class Installed {
public:
    explicit Installed(Board& b) : old_(jpeg_set_board(nullptr)), oldBoard_(Current())
    {
        Current() = &b;
        const JpegBoardOps ops = Ops();
        jpeg_set_board(&ops);
    }
    ~Installed()
    {
        jpeg_set_board(&old_);
        Current() = oldBoard_;
    }

private:
    JpegBoardOps old_;
    Board* oldBoard_;
};

}  // namespace jpegboard
