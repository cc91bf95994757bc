#include "tiffhandler.h"
#include "tinytiff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

namespace {

using qsrf::TiffHandler;

class TiffHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/tiffhandler-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes an image through a handler; the data holds the planes one after another.
    void Write(const std::string& path, uint32_t w, uint32_t h, uint32_t samples, uint32_t bits,
               const std::vector<uint8_t>& data)
    {
        TiffHandler t;
        ASSERT_TRUE(t.OpenWrite(path.c_str(), w, h, samples, bits)) << t.lastMessage();
        ASSERT_TRUE(t.WriteHeader());
        ASSERT_TRUE(t.WriteImage(data.data(), data.size())) << t.lastMessage();
        t.Close();
    }
    std::vector<uint8_t> Read(const std::string& path, int mode)
    {
        TiffHandler t;
        if (!t.OpenRead(path.c_str()) || !t.ReadHeader()) return {};
        std::vector<uint8_t> data(static_cast<size_t>(t.ImageBytes()));
        if (!t.ReadImage(data.data(), data.size(), mode)) return {};
        return data;
    }

    std::string dir_;
};

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 37 + (i >> 8));
    return v;
}

// ---------------------------------------------------------------- round trips

TEST_F(TiffHandlerTest, ImagesOfEveryDepthReadBackByteForByte)
{
    struct Case {
        uint32_t w, h, samples, bits;
    };
    for (const Case c : {Case{7, 5, 1, 8}, Case{6, 4, 3, 8}, Case{5, 3, 1, 16}, Case{4, 4, 3, 16}, Case{3, 2, 2, 32},
                         Case{2, 2, 1, 64}, Case{3, 3, 1, 24}}) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " " << c.samples << "x" << c.bits);
        const auto data = Pattern(static_cast<size_t>(c.w) * c.h * c.samples * c.bits / 8, 3);
        const std::string path = Path("round.tif");
        Write(path, c.w, c.h, c.samples, c.bits, data);
        TiffHandler t;
        ASSERT_TRUE(t.OpenRead(path.c_str()));
        ASSERT_TRUE(t.ReadHeader()) << t.lastMessage();
        EXPECT_EQ(t.width(), c.w);
        EXPECT_EQ(t.height(), c.h);
        EXPECT_EQ(t.samplesPerPixel(), c.samples);
        EXPECT_EQ(t.bitsPerSample(), c.bits);
        std::vector<uint8_t> back(data.size());
        ASSERT_TRUE(t.ReadImage(back.data(), back.size(),
                                c.samples > 1 ? TiffHandler::kReadPlanes : TiffHandler::kReadOneSample));
        EXPECT_EQ(back, data);
    }
}

TEST_F(TiffHandlerTest, OneBitLinesKeepTheirLastPixelsAndAreStoredMostSignificantBitFirst)
{
    // 13 pixels a line: two bytes, the second with five pixels.
    const std::vector<uint8_t> data = {0x01, 0x10, 0xFF, 0x1F, 0x80, 0x02};
    const std::string path = Path("bits.tif");
    Write(path, 13, 3, 1, 1, data);
    EXPECT_EQ(Read(path, TiffHandler::kReadOneSample), data);
    // Pixel 0 of line 0 is set: libtiff sees it in the top bit of the first byte.
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    ASSERT_EQ(line.size(), 2u);
    ASSERT_EQ(TIFFReadScanline(tif, line.data(), 0, 0), 1);
    EXPECT_EQ(line[0], 0x80);
    EXPECT_EQ(line[1], 0x08);
    TIFFClose(tif);
}

TEST_F(TiffHandlerTest, ABinaryTextTagKeepsEveryByteAndItsLength)
{
    std::vector<uint8_t> block(48);
    std::iota(block.begin(), block.end(), 0);   // zero bytes inside, none at the end
    block[47] = 0xE0;
    const std::string path = Path("block.tif");
    {
        TiffHandler t;
        ASSERT_TRUE(t.OpenWrite(path.c_str(), 2, 2, 1, 8));
        t.WriteTag(305, TiffHandler::kTypeAscii, 48, block.data());
        const uint16_t format = 1;
        t.WriteTag(339, TiffHandler::kTypeShort, 1, &format);
        ASSERT_TRUE(t.WriteHeader());
        const std::vector<uint8_t> px(4, 9);
        ASSERT_TRUE(t.WriteImage(px.data(), px.size())) << t.lastMessage();
    }
    TiffHandler t;
    ASSERT_TRUE(t.OpenRead(path.c_str()));
    ASSERT_TRUE(t.ReadHeader());
    ASSERT_EQ(t.TagBytes(305), 48u);
    std::vector<uint8_t> back(48);
    EXPECT_EQ(t.ReadTag(305, back.data(), 48), 48u);
    EXPECT_EQ(back, block);
    EXPECT_EQ(t.TagBytes(339), 2u);
    EXPECT_EQ(t.TagBytes(33432), 0u);   // absent
    std::vector<uint8_t> px(4);
    ASSERT_TRUE(t.ReadImage(px.data(), px.size(), TiffHandler::kReadOneSample));
    EXPECT_EQ(px, std::vector<uint8_t>(4, 9));
}

TEST_F(TiffHandlerTest, ATagIsReadOnlyUpToTheRoomGivenInWholeValues)
{
    tinytiff::Image im;
    im.width = 2;
    im.height = 1;
    im.pixels = {1, 2};
    im.extra = {tinytiff::Shorts(339, {2, 2, 2, 2})};
    const std::string path = Path("sf.tif");
    tinytiff::WriteFile(path, tinytiff::Build(im));
    TiffHandler t;
    ASSERT_TRUE(t.OpenRead(path.c_str()));
    ASSERT_TRUE(t.ReadHeader());
    EXPECT_EQ(t.TagBytes(339), 8u);
    uint16_t values[3] = {7, 7, 7};
    EXPECT_EQ(t.ReadTag(339, values, 5), 4u);
    EXPECT_EQ(values[0], 2);
    EXPECT_EQ(values[1], 2);
    EXPECT_EQ(values[2], 7);
}

TEST_F(TiffHandlerTest, InterleavedSamplesOfOtherWritersComeAsPlanesOrAsStored)
{
    tinytiff::Image im;
    im.width = 2;
    im.height = 2;
    im.samples = 3;
    im.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::string path = Path("rgb.tif");
    tinytiff::WriteFile(path, tinytiff::Build(im));
    EXPECT_EQ(Read(path, TiffHandler::kReadPlanes), (std::vector<uint8_t>{1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}));
    EXPECT_EQ(Read(path, TiffHandler::kReadPacked24), im.pixels);
}

// ---------------------------------------------------------------- refusals

TEST_F(TiffHandlerTest, OnlyRegularTiffFilesOpen)
{
    TiffHandler t;
    EXPECT_FALSE(t.OpenRead(dir_.c_str()));
    EXPECT_NE(t.status(), 0);
    const std::string fifo = Path("pipe.tif");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(t.OpenRead(fifo.c_str()));   // refused without opening: no wait for a writer
    EXPECT_NE(t.status(), 0);
    EXPECT_FALSE(t.OpenRead(Path("missing.tif").c_str()));
    const std::string text = Path("text.tif");
    tinytiff::WriteFile(text, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(t.OpenRead(text.c_str()));
    EXPECT_FALSE(t.OpenRead(nullptr));
}

TEST_F(TiffHandlerTest, HeadersTheLibraryCannotMoveAreRefused)
{
    struct Case {
        const char* what;
        uint32_t w, h;
        uint16_t bits, samples;
    };
    for (const Case c : {Case{"4-bit samples", 4, 1, 4, 1}, Case{"too large", 60000, 60000, 16, 1},
                         Case{"no width", 0, 1, 8, 1}, Case{"interleaved bits", 8, 1, 1, 2}}) {
        SCOPED_TRACE(c.what);
        tinytiff::Image im;
        im.width = c.w;
        im.height = c.h;
        im.bits = c.bits;
        im.samples = c.samples;
        im.pixels = std::vector<uint8_t>(4, 0);
        const std::string path = Path("odd.tif");
        tinytiff::WriteFile(path, tinytiff::Build(im));
        TiffHandler t;
        if (t.OpenRead(path.c_str())) {
            EXPECT_FALSE(t.ReadHeader());
        }
        EXPECT_NE(t.status(), 0);
    }
}

TEST_F(TiffHandlerTest, AStripCutShortFailsTheImageRead)
{
    tinytiff::Image im;
    im.width = 64;
    im.height = 64;
    im.pixels = std::vector<uint8_t>(20, 5);
    im.claimedBytes = 4096;   // beyond the end of the file
    const std::string path = Path("cut.tif");
    tinytiff::WriteFile(path, tinytiff::Build(im));
    TiffHandler t;
    ASSERT_TRUE(t.OpenRead(path.c_str()));
    ASSERT_TRUE(t.ReadHeader());
    std::vector<uint8_t> data(4096);
    EXPECT_FALSE(t.ReadImage(data.data(), data.size(), TiffHandler::kReadOneSample));
    EXPECT_NE(t.status(), 0);
}

TEST_F(TiffHandlerTest, DataBlocksTooSmallAreRefused)
{
    const std::string path = Path("small.tif");
    Write(path, 4, 4, 1, 8, Pattern(16, 1));
    TiffHandler t;
    ASSERT_TRUE(t.OpenRead(path.c_str()));
    ASSERT_TRUE(t.ReadHeader());
    std::vector<uint8_t> data(15);
    EXPECT_FALSE(t.ReadImage(data.data(), data.size(), TiffHandler::kReadOneSample));
    TiffHandler w;
    ASSERT_TRUE(w.OpenWrite(Path("w.tif").c_str(), 4, 4, 1, 8));
    EXPECT_FALSE(w.WriteImage(data.data(), data.size()));
    EXPECT_FALSE(w.OpenWrite(Path("w.tif").c_str(), 4, 4, 1, 12));
    EXPECT_FALSE(w.OpenWrite((dir_ + "/none/w.tif").c_str(), 4, 4, 1, 8));
}

}  // namespace
