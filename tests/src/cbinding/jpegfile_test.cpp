// The JPEG loader and store against a board object in host memory: files of the stream
// writer loaded and stored back byte for byte, and every malformed file refused with its
// text and without touching the object.
#include "jpegfile.h"

#include "jpegboard.h"
#include "jpegstream.h"
#include "../../fuzz/seeds.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using jpegboard::Board;
using jpegboard::kJpeg;
using jpegstream::Stream;

constexpr uint32_t kThread = 0x40110010u;

struct TempFile {
    std::string path;
    explicit TempFile(const std::vector<uint8_t>& bytes, const char* name = "in.jpg")
    {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/jpegfile-" + std::to_string(::getpid()) + "-" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() { ::unlink(path.c_str()); }
};

// Loads bytes into the board's object: null or the loader's text.
const char* Load(const std::vector<uint8_t>& bytes, bool seed = false)
{
    TempFile file(bytes);
    if (seed) qsrf_fuzz::SaveFuzzSeed("jpeg", file.path);
    FILE* f = std::fopen(file.path.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    const char* text = im_jpeg_load("imJpegRead", kThread, f, kJpeg);
    std::fclose(f);
    return text;
}

std::vector<uint8_t> Store(int32_t* code = nullptr, const char** text = nullptr)
{
    FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    int32_t c = 0;
    const char* t = nullptr;
    const int32_t result = im_jpeg_store("imJpegWrite", kThread, f, kJpeg, &c, &t);
    if (code) *code = result == 0 ? 0 : c;
    if (text) *text = t;
    std::vector<uint8_t> out;
    std::rewind(f);
    for (int ch; (ch = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(ch));
    std::fclose(f);
    return out;
}

Stream Baseline()
{
    Stream s;
    s.components = {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
    s.quantIds = {0, 1};
    s.dcIds = {0, 1};
    s.acIds = {0, 1};
    s.restartInterval = 4;      // one row of 8 x 8 blocks of 32 samples
    s.scans = {{0, 0, 0, 300, 1, true}, {1, 1, 1, 200, 1, true}, {2, 1, 1, 150, 0, false}};
    return s;
}

Stream Lossless()
{
    Stream s;
    s.lossless = true;
    s.precision = 12;
    s.lines = 8;
    s.samples = 64;
    s.quantIds = {};
    s.dcIds = {0};
    s.acIds = {};
    s.restartInterval = 128;    // two lines of 64 samples
    s.predictor = 6;
    s.scans = {{0, 0, 0, 500, 3, true}};
    return s;
}

class JpegFileTest : public ::testing::Test {
protected:
    Board board_;
    jpegboard::Installed installed_{board_};
};

// ---- round trips --------------------------------------------------------------------

TEST_F(JpegFileTest, ABaselineFileWithRestartMarkersComesBackByteForByte)
{
    const std::vector<uint8_t> file = jpegstream::Write(Baseline());
    board_.restartEntries = 1;
    ASSERT_EQ(Load(file, true), nullptr);
    // The frame words of the object header.
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrMode), 0u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrPrecision), 8u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrDepth), 8u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrCount), 3u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrWidth), 32u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrLines), 16u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrLines2), 16u);
    // Two quantization tables, two DC and two AC tables, one per segment.
    ASSERT_EQ(board_.tables.size(), 6u);
    EXPECT_EQ(board_.tables[0].type, kJpegTableQuant);
    EXPECT_EQ(board_.tables[1].id, 1u);
    EXPECT_EQ(board_.tables[2].type, kJpegTableDc);
    EXPECT_EQ(board_.tables[2].bytes.size(), 16u + 12u);
    EXPECT_EQ(board_.tables[5].type, kJpegTableAc);
    EXPECT_EQ(board_.tables[5].bytes.size(), 16u + 40u);
    // Scan 1: component 1, table 1 for both, lines per interval = Ri, restart pairs
    // {offset, data address}.
    ASSERT_EQ(board_.scans.size(), 3u);
    const auto& s1 = board_.scans[1];
    EXPECT_EQ(s1.params[1], 1u);
    EXPECT_EQ(s1.params[2], 1u);
    EXPECT_EQ(s1.params[9], 4u);
    EXPECT_EQ(s1.params[10], 1u);
    uint32_t pair[2];
    std::memcpy(pair, s1.restarts.data(), 8);
    EXPECT_EQ(s1.data[pair[0]], 0xFF);
    EXPECT_EQ(s1.data[pair[0] + 1], 0xD0);
    EXPECT_EQ(pair[1], jpegboard::Addr(s1.data.data()));

    jpegboard::Lay(board_);
    EXPECT_EQ(Store(), file);
}

TEST_F(JpegFileTest, ALosslessFileWithAQvrlSegmentComesBackByteForByte)
{
    const std::vector<uint8_t> file = jpegstream::Write(Lossless());
    board_.restartEntries = 3;
    ASSERT_EQ(Load(file, true), nullptr);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrMode), 3u);
    EXPECT_EQ(jpegboard::Word(board_, kJpegHdrDepth), 16u);   // 12-bit samples
    ASSERT_EQ(board_.scans.size(), 1u);
    // Ri 128 over lines of 64 samples: 2 lines per interval; the predictor is Ss.
    EXPECT_EQ(board_.scans[0].params[9], 2u);
    EXPECT_EQ(board_.scans[0].params[5], 6u);
    jpegboard::Lay(board_);
    EXPECT_EQ(Store(), file);
}

TEST_F(JpegFileTest, ALosslessFileWithoutRestartsAndItsScansInChainedPiecesComesBack)
{
    Stream s = Lossless();
    s.restartInterval = 0;
    s.scans = {{0, 0, 0, 3000, 0, false}};
    const std::vector<uint8_t> file = jpegstream::Write(s);
    ASSERT_EQ(Load(file), nullptr);
    // Without Ri: the lines rounded up to a multiple of 4, over the vertical ratio.
    EXPECT_EQ(board_.scans[0].params[9], 8u);
    jpegboard::Lay(board_, true);
    EXPECT_EQ(Store(), file);
}

TEST_F(JpegFileTest, ScanDataEndsAtTheFirstMarkerEvenAtTheBlockBoundary)
{
    // Data of 65,536 bytes puts the end marker exactly at the next block; 65,535 puts it
    // at the last position searched in the first block.  Stuffed bytes and RST markers in
    // the data never end it.
    for (uint32_t bytes : {65535u, 65536u, 70000u}) {
        SCOPED_TRACE(bytes);
        Board board;
        jpegboard::Installed installed(board);
        Stream s = Lossless();
        s.restartInterval = 0;
        s.scans = {{0, 0, 0, 0, 0, false}};
        std::vector<uint8_t> file = jpegstream::Write(s);
        // The writer's data replaced by exactly `bytes` bytes without a marker.
        file.resize(file.size() - 2);
        std::vector<uint8_t> data(bytes, 0x5A);
        data[10] = 0xFF;
        data[11] = 0x00;
        data[20] = 0xFF;
        data[21] = 0xD3;
        file.insert(file.end(), data.begin(), data.end());
        file.push_back(0xFF);
        file.push_back(0xD9);
        ASSERT_EQ(Load(file), nullptr);
        ASSERT_EQ(board.scans.size(), 1u);
        EXPECT_EQ(board.scans[0].params[6], bytes);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), board.scans[0].data.begin()));
    }
}

// ---- the Part's refusals -------------------------------------------------------------

struct Refusal {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* text;
};

TEST_F(JpegFileTest, MalformedFilesAreRefusedWithTheirTexts)
{
    const std::vector<uint8_t> good = jpegstream::Write(Baseline());
    // SOF first: a file that starts right at its frame header.
    std::vector<uint8_t> sofFirst{0xFF, 0xC0, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, 0x11, 0};

    auto inter = jpegstream::Write(Baseline());
    // Ns of the first SOS made 3.
    for (size_t i = 0; i + 4 < inter.size(); ++i)
        if (inter[i] == 0xFF && inter[i + 1] == 0xDA) {
            inter[i + 4] = 3;
            break;
        }

    Stream five;
    five.components = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}};
    Stream twoOfThree = Baseline();
    twoOfThree.scans.pop_back();
    twoOfThree.restartInterval = 0;
    twoOfThree.scans[0].restarts = twoOfThree.scans[1].restarts = 0;
    twoOfThree.scans[0].qvrl = twoOfThree.scans[1].qvrl = false;

    Stream predictors = Lossless();
    predictors.components = {{1, 1, 1, 0}, {2, 1, 1, 0}};
    predictors.restartInterval = 0;
    predictors.scans = {{0, 0, 0, 50, 0, false}, {1, 0, 0, 50, 0, false}};
    auto pred = jpegstream::Write(predictors);
    // The second SOS gets another Ss.
    size_t sos = 0;
    for (size_t i = 0, n = 0; i + 7 < pred.size(); ++i)
        if (pred[i] == 0xFF && pred[i + 1] == 0xDA && ++n == 2) sos = i;
    pred[sos + 7] = 2;

    Stream badRi = Lossless();
    badRi.restartInterval = 100;     // not a whole number of 64-sample lines

    std::vector<uint8_t> dnl{0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, 0x11, 0,
                             0xFF, 0xDC, 0x00, 0x04, 0x00, 0x09};

    const Refusal cases[] = {
        {"SOF before SOI", sofFirst, "Encountered SOF0 Marker before the SOI Marker "},
        {"DHT before SOI", {0xFF, 0xC4, 0x00, 0x02}, "Encountered DHT Marker before the SOI Marker "},
        {"DRI before SOI", {0xFF, 0xDD, 0x00, 0x04, 0, 4}, "Encountered DRI Marker before the SOI Marker "},
        {"DNL before SOI", {0xFF, 0xDC, 0x00, 0x04, 0, 4}, "Encountered DNL Marker before the SOI Marker "},
        {"SOS before SOF", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0},
         "Encountered SOS Marker before the SOI or SOF Marker "},
        {"interleaved scan", inter, "Interleaved mode is not supported "},
        {"five components", jpegstream::Write(five), " Too Many Bands in this Jpeg File "},
        {"two scans of three components", jpegstream::Write(twoOfThree), "Not All Bands are present in Jpeg File "},
        {"another predictor", pred, "Predictor must be the same for all scans in a frame "},
        {"restart interval of part of a line", jpegstream::Write(badRi), "Must have integer Number of Lines Per RST Interval"},
        {"DNL redefining the lines", dnl, " Can Not Redefine the Number of lines with DNL marker "},
        {"progressive", {0xFF, 0xD8, 0xFF, 0xC2}, "Unsupported Codec Requested"},
        {"arithmetic", {0xFF, 0xD8, 0xFF, 0xCC}, "Encountered DAC marker, Arithemtic Coding is not Supported "},
        {"hierarchical", {0xFF, 0xD8, 0xFF, 0xDE}, "Encountered DHP marker, Hierarchial progression is not supported "},
        {"expand", {0xFF, 0xD8, 0xFF, 0xDF}, "Encountered EXP marker, Expanding Reference Components is not supported "},
        {"reserved", {0xFF, 0xD8, 0xFF, 0xC8}, "Encountered Reserved or unrecognized marker "},
        {"stray RST", {0xFF, 0xD8, 0xFF, 0xD0}, "Encountered Reserved or unrecognized marker "},
        {"no marker", {0xFF, 0xD8, 0x12, 0x34}, "Encountered Reserved or unrecognized marker "},
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + 40), "Unexpected EOF encountered in Jpeg File"},
        {"empty", {}, "Unexpected EOF encountered in Jpeg File"},
        {"no end after data", std::vector<uint8_t>(good.begin(), good.end() - 2), "Unexpected EOF encountered in Jpeg File"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        Board board;
        board.restartEntries = 1;
        jpegboard::Installed installed(board);
        const char* text = Load(c.bytes);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(JpegFileTest, ADqtSegmentOfPartEntriesPutsTheWholeOnesAndFails)
{
    // A body of 65 + 30 bytes: one table, then the failure.
    std::vector<uint8_t> file{0xFF, 0xD8, 0xFF, 0xDB, 0x00, static_cast<uint8_t>(2 + 95)};
    for (int i = 0; i < 95; ++i) file.push_back(static_cast<uint8_t>(i));
    EXPECT_STREQ(Load(file), "Error loading quantization tables");
    ASSERT_EQ(board_.tables.size(), 1u);
    EXPECT_EQ(board_.tables[0].bytes.size(), 64u);
    EXPECT_EQ(board_.tables[0].bytes[0], 1u);
}

TEST_F(JpegFileTest, AHuffmanTableRunningPastItsSegmentIsRefused)
{
    // Counts announce 20 values; the segment holds 5.
    std::vector<uint8_t> file{0xFF, 0xD8, 0xFF, 0xC4, 0x00, 2 + 1 + 16 + 5, 0x00};
    for (int i = 0; i < 16; ++i) file.push_back(i == 1 ? 20 : 0);
    for (int i = 0; i < 5; ++i) file.push_back(static_cast<uint8_t>(i));
    EXPECT_STREQ(Load(file), "Error loading huffman tables");
    EXPECT_TRUE(board_.tables.empty());
}

TEST_F(JpegFileTest, AQvrlSegmentOfFourteenBytesIsSkipped)
{
    Stream s = Lossless();
    s.restartInterval = 0;
    s.scans = {{0, 0, 0, 60, 0, true}};   // no restart markers: N = 1, no offsets
    ASSERT_EQ(Load(jpegstream::Write(s)), nullptr);
    ASSERT_EQ(board_.scans.size(), 1u);
    EXPECT_EQ(board_.scans[0].params[10], 0u);
}

// Scan data beyond what the declared image can code to is refused before it is all
// held: a 16 x 32 frame followed by 1.5 GB of zeros (sparse) stops within a block of the
// scan's limit, not at the end of the file.
TEST_F(JpegFileTest, ScanDataBeyondTheDeclaredImageIsRefusedWithoutReadingOn)
{
    Stream s = Lossless();
    s.lines = 16;
    s.samples = 32;
    s.restartInterval = 0;
    s.scans = {{0, 0, 0, 0, 0, false}};
    std::vector<uint8_t> bytes = jpegstream::Write(s);
    bytes.resize(bytes.size() - 2);   // no end marker: zeros follow the scan header
    TempFile file(bytes);
    ASSERT_EQ(truncate(file.path.c_str(), 1536LL << 20), 0);
    FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(im_jpeg_load("imJpegRead", kThread, f, kJpeg), "Unable to Allocate Temporary Host Memory  ");
    const uint64_t limit = 16 * 32 * kJpegScanBytesPerSample + kJpegScanBlock;
    EXPECT_LE(static_cast<uint64_t>(ftello(f)), bytes.size() + limit + 2 * kJpegScanBlock);
    std::fclose(f);
    EXPECT_TRUE(board_.scans.empty());
}

TEST_F(JpegFileTest, AnUnknownObjectIsReportedAtTheFrame)
{
    board_.knownObject = false;
    EXPECT_STREQ(Load(jpegstream::Write(Baseline())), " Error With JpegId");
}

TEST_F(JpegFileTest, ABoardWithoutMemoryForTheScanIsReported)
{
    board_.noScanMemory = true;
    EXPECT_STREQ(Load(jpegstream::Write(Lossless())), "Can not Allocate Local Memory ");
}

TEST_F(JpegFileTest, ARestartCountOtherThanTheBoardsIsRefused)
{
    board_.restartEntries = 2;     // the file has 3 markers, N = 4
    EXPECT_STREQ(Load(jpegstream::Write(Lossless())), "Incorrect Number of RST markers in App Specifique Marker");
    // Refused before any byte reached the board's scan memory.
    ASSERT_EQ(board_.scans.size(), 1u);
    EXPECT_EQ(board_.scans[0].data[0], 0xEE);
}

// ---- mended faults: each refused, the object untouched --------------------------------

TEST_F(JpegFileTest, AQvrlCountBeyondItsSegmentIsRefused)
{
    Stream s = Lossless();
    auto file = jpegstream::Write(s);
    // N (big-endian at segment byte 8) raised from 4 to 200: 199 offsets in 12 bytes.
    for (size_t i = 0; i + 12 < file.size(); ++i)
        if (file[i] == 'Q' && file[i + 1] == 'V') {
            file[i + 7] = 200;
            break;
        }
    board_.restartEntries = 199;
    EXPECT_STREQ(Load(file), "Incorrect Number of RST markers in App Specifique Marker");
    EXPECT_EQ(board_.scanCalls, 0u);

    // N of 0 has no offsets at all (N - 1 would wrap).
    Board zero;
    jpegboard::Installed installed(zero);
    for (size_t i = 0; i + 12 < file.size(); ++i)
        if (file[i] == 'Q' && file[i + 1] == 'V') {
            file[i + 7] = 0;
            break;
        }
    EXPECT_STREQ(Load(file), "Incorrect Number of RST markers in App Specifique Marker");
    EXPECT_EQ(zero.scanCalls, 0u);
}

TEST_F(JpegFileTest, ARestartOffsetOutsideTheScanIsRefusedBeforeTheBoardIsAsked)
{
    auto file = jpegstream::Write(Lossless());
    for (size_t i = 0; i + 20 < file.size(); ++i)
        if (file[i] == 'Q' && file[i + 1] == 'V') {
            file[i + 12] = 0x7F;   // first offset far beyond the data
            break;
        }
    board_.restartEntries = 3;
    EXPECT_STREQ(Load(file), "Incorrect Number of RST markers in App Specifique Marker");
    EXPECT_EQ(board_.scanCalls, 0u);
}

TEST_F(JpegFileTest, ASamplingFactorOfZeroIsRefusedBeforeTheFrameIsWritten)
{
    for (uint8_t hv : {0x01, 0x10, 0x00}) {
        SCOPED_TRACE(static_cast<int>(hv));
        Board board;
        jpegboard::Installed installed(board);
        std::vector<uint8_t> file{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, hv, 0};
        EXPECT_STREQ(Load(file), "Invalid sampling factor in frame header ");
        EXPECT_EQ(board.headerCalls, 0u);
    }
    // A component sampled more finely than component 0 would give a ratio of 0.
    Stream s = Baseline();
    s.components[1].h = 2;
    EXPECT_STREQ(Load(jpegstream::Write(s)), "Invalid sampling factor in frame header ");
    EXPECT_EQ(board_.headerCalls, 0u);
}

TEST_F(JpegFileTest, ARestartIntervalOfPartOfABlockRowIsRefusedInBaseline)
{
    Stream s = Baseline();
    s.restartInterval = 3;   // rows of 4 blocks
    EXPECT_STREQ(Load(jpegstream::Write(s)), "Must have integer Number of Lines Per RST Interval");
    EXPECT_EQ(board_.scanCalls, 0u);
}

TEST_F(JpegFileTest, SegmentLengthsThatDisagreeWithTheirContentsAreRefused)
{
    const std::vector<std::vector<uint8_t>> files{
        {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0C, 8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0},   // SOF one byte long
        {0xFF, 0xD8, 0xFF, 0xDD, 0x00, 0x05, 0, 4, 0},                           // DRI of 5
        {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01},                                    // APP length 1
        {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00},                                    // COM length 0
    };
    for (const auto& f : files) {
        Board board;
        jpegboard::Installed installed(board);
        EXPECT_STREQ(Load(f), "Error In Reading Input Jpeg File ");
        EXPECT_EQ(board.headerCalls, 0u);
    }
    EXPECT_STREQ(Load({0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x01}), "Error loading huffman tables");
    EXPECT_STREQ(Load({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x00}), "Error loading quantization tables");
}

TEST_F(JpegFileTest, ScanMemoryTheHostCannotReachIsNotWritten)
{
    board_.refuseRanges = true;
    EXPECT_STREQ(Load(jpegstream::Write(Lossless())), "Can not Allocate Local Memory ");
    ASSERT_EQ(board_.scans.size(), 1u);
    EXPECT_EQ(board_.scans[0].data[0], 0xEE);
}

// ---- the store ------------------------------------------------------------------------

TEST_F(JpegFileTest, StoringAnUnknownObjectIsAnError)
{
    board_.knownObject = false;
    int32_t code = 0;
    const char* text = nullptr;
    EXPECT_TRUE(Store(&code, &text).empty());
    EXPECT_EQ(code, -8);
    EXPECT_STREQ(text, "Error in function parameters");
}

TEST_F(JpegFileTest, AStoreOfMemoryTheHostCannotReachFails)
{
    board_.restartEntries = 3;
    ASSERT_EQ(Load(jpegstream::Write(Lossless())), nullptr);
    jpegboard::Lay(board_);
    board_.refuseRanges = true;
    int32_t code = 0;
    const char* text = nullptr;
    const std::vector<uint8_t> out = Store(&code, &text);
    EXPECT_EQ(code, -8);
    EXPECT_STREQ(text, "Error Storing to File");
    // What was written stays: the start marker.
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xD8);
}

TEST_F(JpegFileTest, AStoreToAFileThatCannotBeWrittenFails)
{
    board_.restartEntries = 3;
    ASSERT_EQ(Load(jpegstream::Write(Lossless())), nullptr);
    jpegboard::Lay(board_);
    FILE* f = std::fopen("/dev/full", "wb");
    if (!f) GTEST_SKIP() << "no /dev/full";
    int32_t code = 0;
    const char* text = nullptr;
    EXPECT_EQ(im_jpeg_store("imJpegWrite", kThread, f, kJpeg, &code, &text), -1);
    std::fclose(f);
    EXPECT_EQ(code, -8);
    EXPECT_STREQ(text, "Error Storing to File");
}

TEST(JpegTableLimits, TheThreeTableTypesAreBoundedAndOthersAreNot)
{
    EXPECT_EQ(jpeg_table_limit(kJpegTableQuant), 64u);
    EXPECT_EQ(jpeg_table_limit(kJpegTableAc), 178u);
    EXPECT_EQ(jpeg_table_limit(kJpegTableDc), 33u);
    EXPECT_EQ(jpeg_table_limit(12345), 0u);
}

}  // namespace
