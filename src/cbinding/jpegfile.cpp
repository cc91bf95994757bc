// JPEG files in and out of the board's JPEG objects: the marker-by-marker loader and the
// store.
#include "jpegfile.h"

#include "imbuf.h"
#include "imjpeg.h"
#include "im_msgio.h"
#include "im_param.h"

#include "bufid.h"
#include "hwaccess.h"
#include "nodelist.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Texts of the loader.
constexpr const char kEof[] = "Unexpected EOF encountered in Jpeg File";
constexpr const char kReadError[] = "Error In Reading Input Jpeg File ";
constexpr const char kNoMemory[] = "Unable to Allocate Temporary Host Memory  ";
constexpr const char kNoLocal[] = "Can not Allocate Local Memory ";
constexpr const char kBadHuffman[] = "Error loading huffman tables";
constexpr const char kBadQuant[] = "Error loading quantization tables";
constexpr const char kBadRstCount[] = "Incorrect Number of RST markers in App Specifique Marker";
constexpr const char kRstLines[] = "Must have integer Number of Lines Per RST Interval";
// A frame component whose sampling factor is 0, or larger than component 0's: its ratios
// against component 0 would divide by zero.
constexpr const char kBadSampling[] = "Invalid sampling factor in frame header ";

constexpr uint32_t kSegmentSignature = 0x5156524C;   // "QVRL"

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// ---- the board through command messages and the node's windows ----------------------

uint32_t MsgHeader(uint32_t thread, uint32_t jpeg)
{
    const uint32_t node = (jpeg >> 16) & 0xFF;
    const uint32_t descriptor = static_cast<uint32_t>(imBufInquire(thread, jpeg, 401, nullptr));
    if (!descriptor) return 0;
    _MP_BUF_ST d{};
    jpeg_board_read(descriptor, &d, sizeof d);
    if (d.bands == 0 || !d.bandTable) return 0;
    uint32_t table = Word(d.bandTable);
    if (d.boardSpace) table = mp_util_translate_pstr(node, table);
    if (!table) return 0;
    _MP_BAND_ST band{};
    jpeg_board_read(table, &band, sizeof band);
    uint32_t header = band.mapped;
    if (d.boardSpace) header = mp_util_translate_pstr(node, header);
    return header;
}

int32_t MsgPutTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t id, uint32_t size, const uint8_t* bytes)
{
    return imJpegPutTable(thread, jpeg, type, id, size, bytes);
}

int32_t MsgScan(uint32_t thread, const uint32_t params[11], uint32_t reply[3])
{
    _MSG_ST msg{};
    im_msg_start(&msg, 132, 11, "imJpegRead");
    for (uint32_t i = 0; i < 11; ++i) im_msg_put_long(&msg, i, static_cast<int32_t>(params[i]));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    for (uint32_t i = 0; i < 3; ++i) reply[i] = static_cast<uint32_t>(im_msg_get_long(&msg, i));
    const int32_t error = im_msg_cmd_error(&msg);
    im_msg_end(&msg);
    return error;
}

uint32_t MsgToHost(uint32_t node, uint32_t address, uint32_t bytes)
{
    if (!address) return 0;
    const uint32_t host = mp_util_translate_pstr(node, address);
    if (!host || bytes == 0) return host;
    // The whole range must lie in one piece of memory the host reaches: its last byte
    // converts to the address the first one gives plus the length.
    const uint64_t lastBoard = uint64_t{address} + bytes - 1;
    if (lastBoard > 0xFFFFFFFFu) return 0;
    const uint32_t last = mp_util_translate_pstr(node, static_cast<uint32_t>(lastBoard));
    if (uint64_t{host} + bytes - 1 != last) return 0;
    if (HwIsWindowAddress(host) != HwIsWindowAddress(last)) return 0;
    return host;
}

const JpegBoardOps kMessageBoard{MsgHeader, MsgPutTable, MsgScan, MsgToHost};
JpegBoardOps g_board = kMessageBoard;

// ---- big-endian readers with a sticky end-of-file error ------------------------------

struct Load {
    const char* function;
    uint32_t thread;
    uint32_t jpeg;
    FILE* file;
    IM_JPEG_LOAD_STATE* s;
    const char* error;    // set at the first failure
};

uint8_t im_jpeg_get_char(Load& l)
{
    if (l.error) return 0;
    const int c = std::fgetc(l.file);
    if (c == EOF) {
        l.error = kEof;
        return 0;
    }
    return static_cast<uint8_t>(c);
}

uint16_t im_jpeg_get_short(Load& l)
{
    const uint16_t high = im_jpeg_get_char(l);
    const uint16_t low = im_jpeg_get_char(l);
    return l.error ? 0 : static_cast<uint16_t>((high << 8) | low);
}

uint32_t im_jpeg_get_long(Load& l)
{
    const uint32_t high = im_jpeg_get_short(l);
    const uint32_t low = im_jpeg_get_short(l);
    return l.error ? 0 : (high << 16) | low;
}

// Skips n bytes of a segment; every byte must be there.
void Skip(Load& l, uint32_t n)
{
    if (l.error || n == 0) return;
    if (std::fseek(l.file, static_cast<long>(n) - 1, SEEK_CUR) != 0) {
        l.error = kReadError;
        return;
    }
    im_jpeg_get_char(l);
}

// The length field of a segment (it counts itself); below 2 the stream is broken.
uint16_t SegmentLength(Load& l, const char* bad)
{
    const uint16_t length = im_jpeg_get_short(l);
    if (!l.error && length < 2) l.error = bad;
    return length;
}

JpegBlock* NewBlock(uint32_t bytes)
{
    auto* b = static_cast<JpegBlock*>(std::malloc(offsetof(JpegBlock, data) + bytes + 1));
    if (b) {
        b->next = nullptr;
        b->size = 0;
    }
    return b;
}

void FreeChain(JpegBlock* b)
{
    while (b) {
        JpegBlock* next = b->next;
        std::free(b);
        b = next;
    }
}

// A table segment's body as one block.
JpegBlock* ReadBody(Load& l, uint32_t bytes)
{
    JpegBlock* b = NewBlock(bytes);
    if (!b) {
        l.error = kNoMemory;
        return nullptr;
    }
    b->size = bytes;
    if (bytes && std::fread(b->data, 1, bytes, l.file) != bytes) {
        l.error = kEof;
        std::free(b);
        return nullptr;
    }
    return b;
}

// ---- marker handlers -------------------------------------------------------------------

const char* im_jpeg_mrkhandle_soi(Load& l)
{
    l.s->soi = 1;
    return nullptr;
}

const char* im_jpeg_mrkhandle_app(Load& l)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    const uint16_t length = SegmentLength(l, kReadError);
    if (l.error) return l.error;
    if (length <= 6 || s.qvrl) {
        Skip(l, length - 2u);
        return l.error;
    }
    const uint32_t signature = im_jpeg_get_long(l);
    if (l.error) return l.error;
    const uint32_t after = length - 6u;
    if (signature != kSegmentSignature || after <= 8) {
        Skip(l, after);
        return l.error;
    }
    const uint32_t count = im_jpeg_get_long(l);
    const uint32_t second = im_jpeg_get_long(l);
    if (l.error) return l.error;
    const uint32_t bytes = length - 14u;
    // N restart markers give N - 1 offsets, which must all lie in the segment.
    if (count == 0 || uint64_t{count - 1} * 4 > bytes) return kBadRstCount;
    auto* data = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!data) return kNoMemory;
    if (bytes && std::fread(data, 1, bytes, l.file) != bytes) {
        std::free(data);
        return kEof;
    }
    s.qvrlCount = count;
    s.qvrlSecond = second;
    s.qvrlData = data;
    s.qvrlBytes = bytes;
    s.qvrl = 1;
    return nullptr;
}

const char* im_jpeg_mrkhandle_sof(Load& l, uint32_t mode)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    if (!s.soi)
        return mode == 0 ? "Encountered SOF0 Marker before the SOI Marker " : "Encountered SOF3 Marker before the SOI Marker ";
    if (s.frameOpen) return "Frames from previous SOF have not been fully loaded. ";
    const uint16_t length = SegmentLength(l, kReadError);
    const uint8_t precision = im_jpeg_get_char(l);
    const uint16_t lines = im_jpeg_get_short(l);
    const uint16_t samples = im_jpeg_get_short(l);
    const uint8_t count = im_jpeg_get_char(l);
    if (l.error) return l.error;
    if (count >= 5) return " Too Many Bands in this Jpeg File ";
    if (length != 8u + 3u * count) return kReadError;
    IM_JPEG_COMPONENT comp[4]{};
    for (uint32_t i = 0; i < count; ++i) {
        comp[i].id = im_jpeg_get_char(l);
        const uint8_t hv = im_jpeg_get_char(l);
        comp[i].h = hv >> 4;
        comp[i].v = hv & 15;
        comp[i].tq = im_jpeg_get_char(l);
        if (l.error) return l.error;
        if (comp[i].h == 0 || comp[i].v == 0) return kBadSampling;
        comp[i].hRatio = static_cast<uint8_t>(comp[0].h / comp[i].h);
        comp[i].vRatio = static_cast<uint8_t>(comp[0].v / comp[i].v);
        if (comp[i].hRatio == 0 || comp[i].vRatio == 0) return kBadSampling;
    }
    s.frameOpen = 1;
    s.frameMode = mode;
    s.precision = precision;
    s.lines = lines;
    s.samples = samples;
    s.components = count;
    std::memcpy(s.comp, comp, sizeof comp);
    return im_jpeg_transfer_data(l.thread, l.jpeg, &s, l.function, kJpegStepFrame);
}

const char* im_jpeg_mrkhandle_table(Load& l, bool huffman)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    if (!s.soi) return huffman ? "Encountered DHT Marker before the SOI Marker " : "Encountered DQT Marker before the SOI Marker ";
    const char* bad = huffman ? kBadHuffman : kBadQuant;
    const uint16_t length = SegmentLength(l, bad);
    if (l.error) return l.error;
    JpegBlock* body = ReadBody(l, length - 2u);
    if (!body) return l.error;
    s.pending = body;
    s.pendingSize = body->size;
    const char* e = im_jpeg_transfer_data(l.thread, l.jpeg, &s, l.function, huffman ? kJpegStepHuffman : kJpegStepQuant);
    FreeChain(s.pending);
    s.pending = nullptr;
    s.pendingSize = 0;
    return e;
}

const char* im_jpeg_mrkhandle_dri(Load& l)
{
    if (!l.s->soi) return "Encountered DRI Marker before the SOI Marker ";
    const uint16_t length = SegmentLength(l, kReadError);
    if (!l.error && length != 4) return kReadError;
    const uint16_t ri = im_jpeg_get_short(l);
    if (l.error) return l.error;
    l.s->restartInterval = ri;
    return nullptr;
}

const char* im_jpeg_mrkhandle_dnl(Load& l)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    if (!s.soi) return "Encountered DNL Marker before the SOI Marker ";
    const uint16_t length = SegmentLength(l, kReadError);
    if (!l.error && length != 4) return kReadError;
    const uint16_t lines = im_jpeg_get_short(l);
    if (l.error) return l.error;
    if (s.lines == 0)
        s.lines = lines;
    else if (lines != s.lines)
        return " Can Not Redefine the Number of lines with DNL marker ";
    return nullptr;
}

const char* im_jpeg_mrkhandle_com(Load& l)
{
    const uint16_t length = SegmentLength(l, kReadError);
    Skip(l, length - 2u);
    return l.error;
}

// The most entropy-coded bytes a scan of the frame may hold: every sample of the frame's
// image (blocks of 8 x 8, the lines a later DNL may give counted as the most a frame can
// have) at kJpegScanBytesPerSample, which no coding of a sample of up to 16 bits reaches
// with its stuffed bytes and restart markers, one block more, and never more than
// kJpegMaxScanBytes. More data than that is no scan of this image; the loader refuses it
// before buffering it.
uint64_t ScanLimit(const IM_JPEG_LOAD_STATE& s)
{
    const uint64_t lines = s.lines != 0 ? s.lines : 0xFFFFu;
    const uint64_t samples = (uint64_t{s.samples} + 7) / 8 * 8 * ((lines + 7) / 8 * 8);
    const uint64_t limit = samples * kJpegScanBytesPerSample + kJpegScanBlock;
    return limit < kJpegMaxScanBytes ? limit : kJpegMaxScanBytes;
}

// Collects a scan's entropy-coded data up to the next marker that is neither a stuffed
// 0xFF 0x00 nor a restart marker.
const char* CollectScan(Load& l)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    long position = std::ftell(l.file);
    if (position < 0) return kReadError;
    JpegBlock** tail = &s.pending;
    s.pendingSize = 0;
    const uint64_t limit = ScanLimit(s);
    for (;;) {
        JpegBlock* b = NewBlock(kJpegScanBlock + 1);
        if (!b) return kNoMemory;
        const size_t n = std::fread(b->data, 1, kJpegScanBlock + 1, l.file);
        if (std::fseek(l.file, position, SEEK_SET) != 0) {
            std::free(b);
            return kReadError;
        }
        size_t found = n;
        for (size_t i = 0; i + 1 < n && i < kJpegScanBlock; ++i) {
            const uint8_t next = b->data[i + 1];
            if (b->data[i] == 0xFF && next != 0x00 && (next < 0xD0 || next > 0xD7)) {
                found = i;
                break;
            }
        }
        if (found < n) {
            b->size = static_cast<uint32_t>(found);
            *tail = b;
            s.pendingSize += b->size;
            if (s.pendingSize > limit) return kNoMemory;
            if (std::fseek(l.file, position + static_cast<long>(found), SEEK_SET) != 0) return kReadError;
            return nullptr;
        }
        if (n < kJpegScanBlock + 1) {
            std::free(b);
            return kEof;
        }
        b->size = kJpegScanBlock;
        *tail = b;
        tail = &b->next;
        s.pendingSize += kJpegScanBlock;
        if (s.pendingSize > limit) return kNoMemory;
        position += kJpegScanBlock;
        if (std::fseek(l.file, position, SEEK_SET) != 0) return kReadError;
    }
}

const char* im_jpeg_mrkhandle_sos(Load& l)
{
    IM_JPEG_LOAD_STATE& s = *l.s;
    if (!s.soi || !s.frameOpen) return "Encountered SOS Marker before the SOI or SOF Marker ";
    if (s.scanPending) return "New Scan started while old scan has not been stored ";
    const uint16_t length = SegmentLength(l, kReadError);
    const uint8_t ns = im_jpeg_get_char(l);
    if (l.error) return l.error;
    if (ns != 1) return "Interleaved mode is not supported ";
    if (length != 8) return kReadError;
    const uint8_t cs = im_jpeg_get_char(l);
    const uint8_t tables = im_jpeg_get_char(l);
    const uint8_t ss = im_jpeg_get_char(l);
    const uint8_t se = im_jpeg_get_char(l);
    const uint8_t approximation = im_jpeg_get_char(l);
    if (l.error) return l.error;
    if (s.predictorFixed && ss != s.ss) return "Predictor must be the same for all scans in a frame ";
    s.cs = cs;
    s.td = tables >> 4;
    s.ta = tables & 15;
    s.ss = ss;
    s.se = se;
    s.ah = approximation >> 4;
    s.al = approximation & 15;
    s.predictorFixed = 1;
    s.scanPending = 1;
    if (const char* e = CollectScan(l)) return e;
    return im_jpeg_transfer_data(l.thread, l.jpeg, &s, l.function, kJpegStepScan);
}

const char* im_jpeg_mrkhandle_unknown(uint16_t marker)
{
    switch (marker) {
    case 0xFFC1: case 0xFFC2: case 0xFFC5: case 0xFFC6: case 0xFFC7:
    case 0xFFC9: case 0xFFCA: case 0xFFCB: case 0xFFCD: case 0xFFCE: case 0xFFCF:
        return "Unsupported Codec Requested";
    case 0xFFCC: return "Encountered DAC marker, Arithemtic Coding is not Supported ";
    case 0xFFDE: return "Encountered DHP marker, Hierarchial progression is not supported ";
    case 0xFFDF: return "Encountered EXP marker, Expanding Reference Components is not supported ";
    default: return "Encountered Reserved or unrecognized marker ";
    }
}

const char* Dispatch(Load& l, uint16_t marker)
{
    if (marker >= 0xFFE0 && marker <= 0xFFEF) return im_jpeg_mrkhandle_app(l);
    switch (marker) {
    case 0xFFD8: return im_jpeg_mrkhandle_soi(l);
    case 0xFFC0: return im_jpeg_mrkhandle_sof(l, 0);
    case 0xFFC3: return im_jpeg_mrkhandle_sof(l, 3);
    case 0xFFC4: return im_jpeg_mrkhandle_table(l, true);
    case 0xFFDB: return im_jpeg_mrkhandle_table(l, false);
    case 0xFFDD: return im_jpeg_mrkhandle_dri(l);
    case 0xFFDC: return im_jpeg_mrkhandle_dnl(l);
    case 0xFFFE: return im_jpeg_mrkhandle_com(l);
    case 0xFFDA: return im_jpeg_mrkhandle_sos(l);
    default: return im_jpeg_mrkhandle_unknown(marker);
    }
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t Be32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- the steps -------------------------------------------------------------------------

const char* StepFrame(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE& s)
{
    const uint32_t header = g_board.header(thread, jpeg);
    if (!header) return " Error With JpegId";
    const uint32_t depth = s.precision <= 8 ? 8 : 16;
    const uint32_t words[][2] = {{kJpegHdrMode, s.frameMode}, {kJpegHdrPrecision, s.precision},
                                 {kJpegHdrDepth, depth},      {kJpegHdrDepth2, depth},
                                 {kJpegHdrCount, s.components}, {kJpegHdrWidth, s.samples},
                                 {kJpegHdrLines, s.lines},    {kJpegHdrLines2, s.lines}};
    for (const auto& w : words) {
        uint8_t bytes[4];
        PutLe32(bytes, w[1]);
        jpeg_board_write(header + w[0], bytes, 4);
    }
    return nullptr;
}

const char* StepHuffman(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE& s)
{
    if (!s.pending) return kBadHuffman;
    const uint8_t* b = s.pending->data;
    const uint32_t n = s.pending->size;
    uint32_t at = 0;
    while (at < n) {
        if (n - at < 17) return kBadHuffman;
        uint32_t size = 16;
        for (uint32_t i = 0; i < 16; ++i) size += b[at + 1 + i];
        if (n - at - 1 < size) return kBadHuffman;
        const uint8_t classId = b[at];
        s.huffClass = classId >> 4;
        s.huffId = classId & 15;
        g_board.putTable(thread, jpeg, s.huffClass ? kJpegTableAc : kJpegTableDc, s.huffId, size, b + at + 1);
        at += 1 + size;
    }
    return nullptr;
}

const char* StepQuant(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE& s)
{
    if (!s.pending) return kBadQuant;
    const uint8_t* b = s.pending->data;
    const uint32_t n = s.pending->size;
    uint32_t at = 0;
    for (; n - at >= 1 + kJpegQuantBytes; at += 1 + kJpegQuantBytes) {
        s.quantPrecision = b[at] >> 4;
        s.quantId = b[at] & 15;
        g_board.putTable(thread, jpeg, kJpegTableQuant, s.quantId, kJpegQuantBytes, b + at + 1);
    }
    return at == n ? nullptr : kBadQuant;
}

const char* StepScan(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE& s)
{
    uint32_t k = 0;
    while (k < s.components && s.comp[k].id != s.cs) ++k;
    if (k >= s.components) return "Can Not Match BandSelector (Cs) with Band Id (C) ";
    const IM_JPEG_COMPONENT& c = s.comp[k];
    const uint32_t width = (uint32_t{s.samples} + c.hRatio - 1) / c.hRatio;
    uint32_t lines;
    if (s.frameMode == 0) {
        // A restart interval counts 8 x 8 blocks; it must end at the end of a block row.
        const uint32_t blocksPerRow = (width + 7) / 8;
        if (s.restartInterval && (blocksPerRow == 0 || s.restartInterval % blocksPerRow != 0)) return kRstLines;
        lines = s.restartInterval;
    } else if (s.restartInterval) {
        if (width == 0 || s.restartInterval % width != 0) return kRstLines;
        lines = s.restartInterval / width;
    } else {
        lines = ((uint32_t{s.lines} + 3) & ~3u) / c.vRatio;
    }
    const uint32_t product = c.vRatio * lines;
    bool first = true;
    for (uint32_t i = 0; i < s.components; ++i) first = first && !s.comp[i].present;
    if (first)
        s.linesPerRestart = product;
    else if (s.linesPerRestart != product)
        return "Number of lines per restart interval is inconsistant with previous scans";

    // Restart offsets: N - 1 of them, each inside this scan's data.
    if (s.qvrl) {
        if (s.qvrlCount == 0 || uint64_t{s.qvrlCount - 1} * 4 > s.qvrlBytes) return kBadRstCount;
        for (uint32_t i = 0; i + 1 < s.qvrlCount; ++i)
            if (Be32(s.qvrlData + 4 * i) >= s.pendingSize) return kBadRstCount;
    }

    const uint32_t node = (jpeg >> 16) & 0xFF;
    const uint32_t params[11] = {jpeg, k, c.tq, s.ta, s.td, s.ss, s.pendingSize, c.hRatio, c.vRatio, lines, s.qvrl};
    uint32_t reply[3] = {0, 0, 0};
    g_board.scan(thread, params, reply);
    if (reply[0] == 0) return kNoLocal;
    const uint32_t data = g_board.toHost(node, reply[0], s.pendingSize);
    if (!data) return kNoLocal;
    uint32_t table = 0;
    if (s.qvrl) {
        if (reply[1] == 0) return kNoLocal;
        if (uint64_t{reply[2]} + 1 != s.qvrlCount) return kBadRstCount;
        table = g_board.toHost(node, reply[1], reply[2] * 8);
        if (!table && reply[2]) return kNoLocal;
    }
    uint32_t at = 0;
    while (JpegBlock* b = s.pending) {
        jpeg_board_write(data + at, b->data, b->size);
        at += b->size;
        s.pending = b->next;
        std::free(b);
    }
    s.pendingSize = 0;
    s.scanPending = 0;
    s.comp[k].present = 1;
    if (s.qvrl) {
        std::vector<uint8_t> pairs(reply[2] * 8u);
        for (uint32_t i = 0; i < reply[2]; ++i) {
            PutLe32(&pairs[8 * i], Be32(s.qvrlData + 4 * i));
            PutLe32(&pairs[8 * i + 4], reply[0]);
        }
        if (!pairs.empty()) jpeg_board_write(table, pairs.data(), static_cast<uint32_t>(pairs.size()));
        std::free(s.qvrlData);
        s.qvrlData = nullptr;
        s.qvrlBytes = 0;
        s.qvrl = 0;
    }
    return nullptr;
}

// ---- store -----------------------------------------------------------------------------

struct Store {
    FILE* file;
    uint32_t node;
    bool failed = false;
};

void WriteBytes(Store& st, const void* bytes, uint32_t n)
{
    if (!st.failed && n && std::fwrite(bytes, 1, n, st.file) != n) st.failed = true;
}

// Copies n bytes of board memory at a board address to the file.
void WriteBoard(Store& st, uint32_t address, uint32_t n)
{
    if (st.failed || n == 0) return;
    const uint32_t host = g_board.toHost(st.node, address, n);
    if (!host) {
        st.failed = true;
        return;
    }
    std::vector<uint8_t> chunk(std::min<uint32_t>(n, kJpegScanBlock));
    for (uint32_t at = 0; at < n && !st.failed;) {
        const uint32_t part = std::min<uint32_t>(n - at, static_cast<uint32_t>(chunk.size()));
        jpeg_board_read(host + at, chunk.data(), part);
        WriteBytes(st, chunk.data(), part);
        at += part;
    }
}

// A piece-table block: the next-block word and 16 entries of three words.
constexpr uint32_t kPieceEntries = 16;
constexpr uint32_t kPieceBlockBytes = 4 * (1 + 3 * kPieceEntries);

// The chained pieces of a scan in link order.
void WritePieces(Store& st, uint32_t table, uint32_t pieces)
{
    uint32_t blockNumber = 0, entry = 0;
    for (uint32_t n = 0; n < pieces && !st.failed; ++n) {
        // Block b of the table: b next-block links from the first one.
        uint32_t block = table;
        for (uint32_t b = 0; b < blockNumber && block; ++b) {
            const uint32_t host = g_board.toHost(st.node, block, kPieceBlockBytes);
            if (!host) {
                block = 0;
                break;
            }
            uint8_t next[4];
            jpeg_board_read(host, next, 4);
            block = Le32(next);
        }
        const uint32_t host = block ? g_board.toHost(st.node, block, kPieceBlockBytes) : 0;
        if (!host) {
            st.failed = true;
            return;
        }
        uint8_t words[12];
        jpeg_board_read(host + 4 * (1 + 3 * entry), words, sizeof words);
        WriteBoard(st, Le32(words), Le32(words + 4));
        const uint32_t link = Le32(words + 8);
        blockNumber = link >> 4;
        entry = link & 15;
        // A link can name no block beyond the chain it walks.
        if (blockNumber > pieces) st.failed = true;
    }
}

} // namespace

// ---------------------------------------------------------------- public

JpegBoardOps jpeg_set_board(const JpegBoardOps* ops)
{
    const JpegBoardOps old = g_board;
    g_board = ops ? *ops : kMessageBoard;
    return old;
}

const JpegBoardOps& jpeg_board()
{
    return g_board;
}

uint32_t jpeg_table_limit(uint32_t type)
{
    switch (type) {
    case kJpegTableQuant: return kJpegQuantBytes;
    case kJpegTableAc: return kJpegAcBytes;
    case kJpegTableDc: return kJpegDcBytes;
    default: return 0;
    }
}

void jpeg_board_write(uint32_t host, const void* source, uint32_t bytes)
{
    if (!bytes) return;
    if (HwIsWindowAddress(host))
        HwWriteBlock(host, 0, source, bytes);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(host)), source, bytes);
}

void jpeg_board_read(uint32_t host, void* destination, uint32_t bytes)
{
    if (!bytes) return;
    if (HwIsWindowAddress(host))
        HwReadBlock(host, 0, destination, bytes);
    else
        std::memcpy(destination, reinterpret_cast<const void*>(static_cast<uintptr_t>(host)), bytes);
}

void im_jpeg_init_loadstate(IM_JPEG_LOAD_STATE* state)
{
    std::memset(state, 0, sizeof *state);
}

void im_jpeg_clean_loadstate(IM_JPEG_LOAD_STATE* state)
{
    FreeChain(state->pending);
    state->pending = nullptr;
    state->pendingSize = 0;
    std::free(state->qvrlData);
    state->qvrlData = nullptr;
    state->qvrlBytes = 0;
    state->qvrl = 0;
}

const char* im_jpeg_transfer_data(uint32_t thread, uint32_t jpeg, IM_JPEG_LOAD_STATE* state, const char*,
                                  uint32_t step)
{
    switch (step) {
    case kJpegStepFrame: return StepFrame(thread, jpeg, *state);
    case kJpegStepScan: return StepScan(thread, jpeg, *state);
    case kJpegStepHuffman: return StepHuffman(thread, jpeg, *state);
    case kJpegStepQuant: return StepQuant(thread, jpeg, *state);
    default: return nullptr;
    }
}

const char* im_jpeg_load(const char* function, uint32_t thread, FILE* file, uint32_t jpeg)
{
    IM_JPEG_LOAD_STATE state;
    im_jpeg_init_loadstate(&state);
    Load l{function, thread, jpeg, file, &state, nullptr};
    if (!file) l.error = kReadError;
    while (!l.error) {
        const uint16_t marker = im_jpeg_get_short(l);
        if (l.error || marker == 0xFFD9) break;
        if (const char* e = Dispatch(l, marker)) l.error = e;
    }
    if (!l.error)
        for (uint32_t i = 0; i < state.components; ++i)
            if (!state.comp[i].present) l.error = "Not All Bands are present in Jpeg File ";
    im_jpeg_clean_loadstate(&state);
    return l.error;
}

int32_t im_jpeg_store(const char*, uint32_t thread, FILE* file, uint32_t jpeg, int32_t* errorCode,
                      const char** errorText)
{
    auto fail = [&](const char* text) {
        if (errorCode) *errorCode = -8;
        if (errorText) *errorText = text;
        return -1;
    };
    const uint32_t header = file ? g_board.header(thread, jpeg) : 0;
    if (!header) return fail("Error in function parameters");
    uint8_t h[kJpegHeaderBytes];
    jpeg_board_read(header, h, sizeof h);
    const uint32_t scans = Le32(h + kJpegHdrCount);
    if (scans > kJpegMaxScans) return fail("Error in function parameters");
    const bool chained = static_cast<int32_t>(Le32(h + kJpegHdrStorage)) == kJpegChainedPieces;
    Store st{file, (jpeg >> 16) & 0xFF};
    static const uint8_t soi[2] = {0xFF, 0xD8}, eoi[2] = {0xFF, 0xD9};
    WriteBytes(st, soi, 2);
    WriteBoard(st, Le32(h + kJpegHdrSegments), Le32(h + kJpegHdrSegmentBytes));
    for (uint32_t i = 0; i < scans && !st.failed; ++i) {
        const uint32_t at = kJpegHdrScanStride * i;
        WriteBoard(st, Le32(h + kJpegHdrScan + at), Le32(h + kJpegHdrScanBytes + at));
        if (chained) WritePieces(st, Le32(h + kJpegHdrScanTable + at), Le32(h + kJpegHdrScanPieces + at));
    }
    WriteBytes(st, eoi, 2);
    if (st.failed || std::fflush(file) != 0) return fail("Error Storing to File");
    return 0;
}
