// JPEG files in and out of JPEG objects kept by a board processor, through hlclib.h and
// libhlclib.so: baseline and lossless files load into an object and save back byte for
// byte; tables go to the object and come back bounded by the caller's buffer; every
// malformed file is refused with its text and leaves the object as it was.
#include "hlclib.h"
#include "libsandbox.h"
#include "processornode.h"

#include "../src/cbinding/jpegstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using processornode::ProcessorNodeTest;

constexpr uint32_t kTableQuant = 19007, kTableAc = 19008, kTableDc = 19009;

using Bytes = std::vector<uint8_t>;

// The position of the first marker `code` (0xFFxx) at or after `from`.  The streams of
// jpegstream.h hold 0xFF in their data only stuffed or as a restart marker, and never in
// their tables, so a search finds segments only.
size_t Find(const Bytes& b, uint16_t code, size_t from = 0)
{
    for (size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == (code & 0xFF)) return i;
    ADD_FAILURE() << "no marker " << std::hex << code;
    return b.size();
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to)
{
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(std::min(to, b.size())));
}

const Bytes kSoi{0xFF, 0xD8}, kEoi{0xFF, 0xD9};

// Three components of the same size, one scan each, with a restart interval of one block
// row: 64 x 32 samples are 32 blocks, 4 intervals, 3 restart markers per scan; the first
// and last scans carry "QVRL" segments.
jpegstream::Stream ThreeBands()
{
    jpegstream::Stream s;
    s.lines = 32;
    s.samples = 64;
    s.components = {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
    s.quantIds = {0, 1};
    s.dcIds = {0, 1};
    s.acIds = {0, 1};
    s.restartInterval = 8;
    s.scans = {{0, 0, 0, 300, 3, true}, {1, 1, 1, 200, 3, false}, {2, 1, 1, 250, 3, true}};
    return s;
}

class JpegTest : public ProcessorNodeTest {
protected:
    // A file restored into a new object; the object's id.
    uint32_t Restore(const Bytes& file)
    {
        WriteFile("in.jpg", file);
        uint32_t id = 0;
        const uint32_t made = imJpegRestore(device_, box_.path("in.jpg").c_str(), &id);
        EXPECT_EQ(made, id);
        return id;
    }
    Bytes Save(uint32_t jpeg)
    {
        EXPECT_EQ(imJpegSave(device_, box_.path("out.jpg").c_str(), jpeg), 0);
        return ReadFile("out.jpg");
    }
    // Reads a file into an existing object: the error code imJpegRead returns.
    int32_t Read(const Bytes& file, uint32_t jpeg)
    {
        WriteFile("read.jpg", file);
        FILE* f = std::fopen(box_.path("read.jpg").c_str(), "rb");
        EXPECT_NE(f, nullptr);
        if (!f) return 0;
        const int32_t result = imJpegRead(device_, f, jpeg);
        std::fclose(f);
        return result;
    }
    void ExpectRoundTrip(const jpegstream::Stream& s)
    {
        const Bytes file = jpegstream::Write(s);
        const uint32_t jpeg = Restore(file);
        ASSERT_NE(jpeg, 0u) << libsandbox::LastText();
        libsandbox::ExpectNoError();
        EXPECT_EQ((jpeg >> 16) & 0xFF, processornode::kNode);
        EXPECT_EQ(Save(jpeg), file);
        libsandbox::ExpectNoError();
        EXPECT_EQ(imJpegFree(device_, jpeg), 0);
    }
};

// ---- files that load and save back -----------------------------------------------------

TEST_F(JpegTest, BaselineFilesSaveBackByteForByte)
{
    {
        SCOPED_TRACE("one band, no restart interval");
        ExpectRoundTrip(jpegstream::Stream{});
    }
    {
        SCOPED_TRACE("three bands with restart markers, two with their offsets");
        ExpectRoundTrip(ThreeBands());
    }
    {
        SCOPED_TRACE("subsampled chroma");
        jpegstream::Stream s = ThreeBands();
        s.components[0].h = 2;
        s.components[0].v = 2;
        s.restartInterval = 0;
        for (auto& scan : s.scans) {
            scan.restarts = 0;
            scan.qvrl = false;
        }
        ExpectRoundTrip(s);
    }
    {
        SCOPED_TRACE("a scan whose data crosses the loader's 64 KB blocks");
        jpegstream::Stream s;
        s.lines = 256;   // an image whose scan may code to that much
        s.samples = 256;
        s.scans[0].dataBytes = 150000;
        ExpectRoundTrip(s);
    }
}

TEST_F(JpegTest, LosslessFilesSaveBackByteForByte)
{
    jpegstream::Stream s;
    s.lossless = true;
    s.precision = 12;
    s.lines = 8;
    s.samples = 64;
    s.quantIds = {};
    s.acIds = {};
    {
        SCOPED_TRACE("no restart interval");
        s.lines = 10;
        ExpectRoundTrip(s);
    }
    {
        SCOPED_TRACE("a subsampled second band, no restart interval");
        jpegstream::Stream sub = s;
        sub.components = {{1, 2, 2, 0}, {2, 1, 1, 0}};
        sub.scans = {{0, 0, 0, 300, 0, false}, {1, 0, 0, 90, 0, false}};
        ExpectRoundTrip(sub);
    }
    {
        SCOPED_TRACE("two bands, two lines per restart interval, with and without offsets");
        s.lines = 8;
        s.components = {{1, 1, 1, 0}, {2, 1, 1, 0}};
        s.dcIds = {0, 1};
        s.restartInterval = 128;
        s.predictor = 4;
        s.scans = {{0, 0, 0, 400, 3, true}, {1, 1, 0, 300, 3, false}};
        ExpectRoundTrip(s);
    }
}

// ---- tables ----------------------------------------------------------------------------

TEST_F(JpegTest, TablesComeBackCutToTheirTypeAndTheCallersBuffer)
{
    uint32_t jpeg = 0;
    ASSERT_NE(imJpegAlloc(device_, 0, &jpeg), 0u) << libsandbox::LastText();
    Bytes table(100);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(200 - i);

    // A quantization table is 64 bytes: what lies beyond never reaches the board.
    EXPECT_EQ(imJpegPutTable(device_, jpeg, kTableQuant, 2, 100, table.data()), 0);
    Bytes out(300, 0xCC);
    uint32_t size = 0;
    EXPECT_EQ(imJpegGetTable(device_, jpeg, kTableQuant, 2, &size, out.data()), 0);
    EXPECT_EQ(size, 64u);
    EXPECT_EQ(Slice(out, 0, 64), Slice(table, 0, 64));
    EXPECT_EQ(out[64], 0xCC);

    // Another type travels whole; the caller's size on entry bounds what comes back.
    EXPECT_EQ(imJpegPutTable(device_, jpeg, 4242, 0, 100, table.data()), 0);
    size = 10;
    std::fill(out.begin(), out.end(), 0xCC);
    EXPECT_EQ(imJpegGetTable(device_, jpeg, 4242, 0, &size, out.data()), 0);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(Slice(out, 0, 10), Slice(table, 0, 10));
    EXPECT_EQ(out[10], 0xCC);
    size = 300;
    EXPECT_EQ(imJpegGetTable(device_, jpeg, 4242, 0, &size, out.data()), 0);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(Slice(out, 0, 100), table);

    // A table put again replaces the first; one never put comes back empty.
    table[0] = 7;
    EXPECT_EQ(imJpegPutTable(device_, jpeg, kTableDc, 1, 33, table.data()), 0);
    EXPECT_EQ(imJpegPutTable(device_, jpeg, kTableDc, 1, 20, table.data() + 1), 0);
    size = 0;
    EXPECT_EQ(imJpegGetTable(device_, jpeg, kTableDc, 1, &size, out.data()), 0);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(out[0], table[1]);
    size = 5;
    EXPECT_EQ(imJpegGetTable(device_, jpeg, kTableAc, 3, &size, out.data()), 0);
    EXPECT_EQ(size, 0u);
    libsandbox::ExpectNoError();
    EXPECT_EQ(imJpegFree(device_, jpeg), 0);
}

TEST_F(JpegTest, AFreedObjectAnswersNoMore)
{
    uint32_t jpeg = 0;
    ASSERT_NE(imJpegAlloc(device_, 0, &jpeg), 0u);
    EXPECT_EQ(imJpegFree(device_, jpeg), 0);
    const uint8_t table[64] = {};
    EXPECT_EQ(imJpegPutTable(device_, jpeg, kTableQuant, 0, 64, table), -1);
    EXPECT_EQ(imAppGetError(0, nullptr), -1);
    EXPECT_EQ(libsandbox::LastText(), "Invalid buffer ID");
    imAppGetError(1, nullptr);
    // A save of it writes nothing over an existing file and leaves no file beside it.
    WriteFile("kept.jpg", {1, 2, 3});
    EXPECT_NE(imJpegSave(device_, box_.path("kept.jpg").c_str(), jpeg), 0);
    EXPECT_EQ(imAppGetError(0, nullptr), -1);
    imAppGetError(1, nullptr);
    EXPECT_EQ(ReadFile("kept.jpg"), (Bytes{1, 2, 3}));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(box_.root()))
        if (entry.path().extension() != ".res") ++entries;
    EXPECT_EQ(entries, 3u);   // halcyra.ini, shell.out and kept.jpg
}

// ---- refusals --------------------------------------------------------------------------

struct Malformed {
    const char* what;
    Bytes file;
    const char* text;
};

// Every malformed file made from the good three-band file g.
std::vector<Malformed> MalformedFiles(const Bytes& g)
{
    const size_t dqt = Find(g, 0xFFDB), dht = Find(g, 0xFFC4), sof = Find(g, 0xFFC0), dri = Find(g, 0xFFDD);
    const size_t qvrl = Find(g, 0xFFE0), sos0 = Find(g, 0xFFDA);
    const size_t sos1 = Find(g, 0xFFDA, sos0 + 2), qvrl2 = Find(g, 0xFFE0, sos1), sos2 = Find(g, 0xFFDA, qvrl2);
    const Bytes head = Slice(g, 0, qvrl);           // SOI up to the first scan's segments
    const Bytes sofSegment = Slice(g, sof, dri);
    std::vector<Malformed> m;
    auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = g;
        size_t i = at;
        for (uint8_t v : bytes) b[i++] = v;
        return b;
    };
    auto marker = [&](uint8_t code) { return Join({kSoi, Bytes{0xFF, code, 0x00, 0x04, 0x00, 0x00}}); };

    m.push_back({"SOF0 first", Slice(g, sof, g.size()), "Encountered SOF0 Marker before the SOI Marker "});
    Bytes sof3 = sofSegment;
    sof3[1] = 0xC3;
    m.push_back({"SOF3 first", Join({sof3, kEoi}), "Encountered SOF3 Marker before the SOI Marker "});
    m.push_back({"DQT first", Slice(g, dqt, g.size()), "Encountered DQT Marker before the SOI Marker "});
    m.push_back({"DHT first", Slice(g, dht, g.size()), "Encountered DHT Marker before the SOI Marker "});
    m.push_back({"DRI first", Slice(g, dri, g.size()), "Encountered DRI Marker before the SOI Marker "});
    m.push_back({"DNL first", Bytes{0xFF, 0xDC, 0, 4, 0, 32}, "Encountered DNL Marker before the SOI Marker "});
    m.push_back({"SOS before SOF", Join({kSoi, Slice(g, sos0, g.size())}),
                 "Encountered SOS Marker before the SOI or SOF Marker "});
    m.push_back({"a second frame", Join({head, sofSegment, Slice(g, qvrl, g.size())}),
                 "Frames from previous SOF have not been fully loaded. "});
    Bytes five{0xFF, 0xC0, 0, 8 + 15, 8, 0, 32, 0, 64, 5};
    for (uint8_t c = 1; c <= 5; ++c) five.insert(five.end(), {c, 0x11, 0});
    m.push_back({"five bands", Join({kSoi, five, kEoi}), " Too Many Bands in this Jpeg File "});
    m.push_back({"interleaved scan", Join({head, Bytes{0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0}, kEoi}),
                 "Interleaved mode is not supported "});
    m.push_back({"a band without its scan", Join({Slice(g, 0, qvrl2), kEoi}),
                 "Not All Bands are present in Jpeg File "});
    m.push_back({"another predictor", with(sos1 + 7, {1}), "Predictor must be the same for all scans in a frame "});
    m.push_back({"no such band", with(sos1 + 5, {9}), "Can Not Match BandSelector (Cs) with Band Id (C) "});
    // Band 1 sampled vertically half as often as band 0: 16 lines per interval against 8.
    m.push_back({"restart intervals of other heights", with(sof + 11, {0x12}),
                 "Number of lines per restart interval is inconsistant with previous scans"});
    m.push_back({"a restart interval of part of a block row", with(dri + 4, {0, 6}),
                 "Must have integer Number of Lines Per RST Interval"});
    m.push_back({"more restart offsets than the segment holds", with(qvrl + 8, {0, 0, 0, 9}),
                 "Incorrect Number of RST markers in App Specifique Marker"});
    m.push_back({"a restart offset beyond the scan", with(qvrl + 16, {0x7F, 0xFF, 0xFF, 0xFF}),
                 "Incorrect Number of RST markers in App Specifique Marker"});
    m.push_back({"a sampling factor of 0", with(sof + 14, {0x10}), "Invalid sampling factor in frame header "});
    m.push_back({"a frame length that lies", with(sof + 3, {static_cast<uint8_t>(g[sof + 3] + 3)}),
                 "Error In Reading Input Jpeg File "});
    m.push_back({"a Huffman segment length below its field", with(dht + 2, {0, 1}), "Error loading huffman tables"});
    m.push_back({"a Huffman table running past its segment", with(dht + 3, {static_cast<uint8_t>(g[dht + 3] - 5)}),
                 "Error loading huffman tables"});
    Bytes quant = Slice(g, 0, dht);
    quant[dqt + 3] = static_cast<uint8_t>(quant[dqt + 3] + 10);    // 67 + 10: one whole entry and 10 bytes
    quant.insert(quant.begin() + static_cast<long>(dqt + 4 + 65), 10, 0x01);
    m.push_back({"a quantization segment of part of an entry", Join({quant, Slice(g, dht, g.size())}),
                 "Error loading quantization tables"});
    m.push_back({"a DRI length that lies", with(dri + 3, {5}), "Error In Reading Input Jpeg File "});
    m.push_back({"lines redefined", Join({head, Bytes{0xFF, 0xDC, 0, 4, 0, 7}, Slice(g, qvrl, g.size())}),
                 " Can Not Redefine the Number of lines with DNL marker "});
    m.push_back({"the file ends in a scan", Slice(g, 0, sos2 - 40), "Unexpected EOF encountered in Jpeg File"});
    m.push_back({"the file ends in a segment", Slice(g, 0, sof + 6), "Unexpected EOF encountered in Jpeg File"});
    m.push_back({"SOF1", marker(0xC1), "Unsupported Codec Requested"});
    m.push_back({"SOF2", marker(0xC2), "Unsupported Codec Requested"});
    m.push_back({"SOF15", marker(0xCF), "Unsupported Codec Requested"});
    m.push_back({"DAC", marker(0xCC), "Encountered DAC marker, Arithemtic Coding is not Supported "});
    m.push_back({"DHP", marker(0xDE), "Encountered DHP marker, Hierarchial progression is not supported "});
    m.push_back({"EXP", marker(0xDF), "Encountered EXP marker, Expanding Reference Components is not supported "});
    m.push_back({"JPG", marker(0xC8), "Encountered Reserved or unrecognized marker "});
    m.push_back({"RST out of place", marker(0xD0), "Encountered Reserved or unrecognized marker "});
    m.push_back({"JPG0", marker(0xF0), "Encountered Reserved or unrecognized marker "});
    m.push_back({"no marker", Join({kSoi, Bytes{0x12, 0x34}}), "Encountered Reserved or unrecognized marker "});
    return m;
}

TEST_F(JpegTest, MalformedFilesAreRefusedWithTheirTextsAndLeaveTheObjectAsItWas)
{
    const Bytes good = jpegstream::Write(ThreeBands());
    const uint32_t jpeg = Restore(good);
    ASSERT_NE(jpeg, 0u) << libsandbox::LastText();
    libsandbox::ExpectNoError();
    for (const Malformed& m : MalformedFiles(good)) {
        SCOPED_TRACE(m.what);
        EXPECT_EQ(Read(m.file, jpeg), -2);
        libsandbox::ExpectError(-2, m.text, "imJpegRead");
        EXPECT_EQ(Save(jpeg), good);
        libsandbox::ExpectNoError();
    }
    EXPECT_EQ(imJpegFree(device_, jpeg), 0);
}

TEST_F(JpegTest, ARestoreOfAMissingFileSaysSoAndGivesNoId)
{
    uint32_t id = 0x1234;
    EXPECT_EQ(imJpegRestore(device_, box_.path("absent.jpg").c_str(), &id), 0u);
    libsandbox::ExpectError(-2, "Can not open given Jpeg File", "imJpegRestore");
    EXPECT_EQ(id, 0x1234u);
}

} // namespace
