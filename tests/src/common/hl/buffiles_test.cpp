#include "buffiles.h"

#include "../ll/core/buftest.h"
#include "../../../fuzz/seeds.h"
#include "../../../platform/tiff/tinytiff.h"
#include "hlc_errors.h"
#include "im_msgio.h"
#include "tiffhandler.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace buftest;

constexpr uint32_t kDevice = kNode << 16;

class BufFilesTest : public BufTest {
protected:
    void SetUp() override
    {
        BufTest::SetUp();
        im_msg_reset_application();
        im_buf_files_set_ops(nullptr);
        char name[] = "/tmp/buffiles-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override
    {
        im_buf_files_set_ops(nullptr);
        ::unsetenv("TIFPATH");
        std::filesystem::remove_all(dir_);
        BufTest::TearDown();
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A buffer of the node with a byte pattern in every band.
    uint32_t MakeBuffer(int32_t w, int32_t h, uint32_t bands, uint32_t type, uint8_t seed = 1)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, w, h, bands, type, kLocInline);
        EXPECT_NE(b, nullptr);
        if (!b) return 0;
        const uint32_t line = (b->bits * static_cast<uint32_t>(w) + 7) / 8;
        for (uint32_t band = 0; band < bands; ++band) {
            auto* p = static_cast<uint8_t*>(mp_buf_address_band_internal(b, band));
            for (int32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < line; ++x)
                    p[y * b->pitch + x] = static_cast<uint8_t>(seed + band * 101 + y * 13 + x * 7);
        }
        return mp_buf_alloc_id(b);
    }
    // The buffer's pixels, packed: lines back to back, band after band.
    static std::vector<uint8_t> Pixels(uint32_t id)
    {
        const _MP_BUF_ST* b = mp_buf_pointer(id);
        std::vector<uint8_t> out;
        if (!b) return out;
        const uint32_t line = (b->bits * static_cast<uint32_t>(b->sizeX) + 7) / 8;
        for (uint32_t band = 0; band < b->bands; ++band) {
            auto* p = static_cast<const uint8_t*>(mp_buf_address_band_internal(b, band));
            for (int32_t y = 0; y < b->sizeY; ++y) out.insert(out.end(), p + y * b->pitch, p + y * b->pitch + line);
        }
        return out;
    }
    static void Free(uint32_t id)
    {
        if (_MP_BUF_ST* b = mp_buf_pointer(id)) mp_buf_free(b);
    }
    // The caller's error record: code, then message and function name.
    static std::string Error()
    {
        const auto& e = im_Application.error;
        return std::to_string(e.code) + " " + (e.message ? e.message : "") + " / " + (e.function ? e.function : "");
    }
    // Files of the test directory.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
};

// ---------------------------------------------------------------- round trips

TEST_F(BufFilesTest, RawAndTiffFilesGiveTheSamePixelsBack)
{
    struct Case {
        int32_t w, h;
        uint32_t bands, type;
    };
    for (const Case c : {Case{9, 5, 1, 8}, Case{6, 4, 3, 8}, Case{5, 3, 1, 16}, Case{4, 3, 3, 0x10000010u},
                         Case{13, 2, 1, 0x40000001u}, Case{3, 2, 2, 0x20000020u}}) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << "x" << c.bands << " type " << c.type);
        const uint32_t source = MakeBuffer(c.w, c.h, c.bands, c.type);
        ASSERT_NE(source, 0u);
        const std::vector<uint8_t> pixels = Pixels(source);

        // Raw: the packed pixels and nothing else; loaded into a buffer of the same shape.
        const std::string raw = Path("image.raw");
        ASSERT_EQ(imBufSave(kDevice, raw.c_str(), IM_FILE_RAW, source), 0) << Error();
        EXPECT_EQ(tinytiff::ReadFile(raw), pixels);
        const uint32_t loaded = MakeBuffer(c.w, c.h, c.bands, c.type, 200);
        ASSERT_EQ(imBufLoad(kDevice, raw.c_str(), IM_FILE_RAW, loaded), 0) << Error();
        EXPECT_EQ(Pixels(loaded), pixels);

        // TIFF: restored with the buffer's size, bands and type; loaded into a buffer.
        const std::string tif = Path("image.tif");
        ASSERT_EQ(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF, source), 0) << Error();
        qsrf_fuzz::SaveFuzzSeed("bufrestore", tif);
        uint32_t restored = 7;
        EXPECT_EQ(imBufRestore(kDevice, tif.c_str(), IM_FILE_TIFF, kLocInline, &restored), restored);
        ASSERT_NE(restored, 0u) << Error();
        const _MP_BUF_ST* r = mp_buf_pointer(restored);
        EXPECT_EQ(r->sizeX, c.w);
        EXPECT_EQ(r->sizeY, c.h);
        EXPECT_EQ(r->bands, c.bands);
        EXPECT_EQ(r->type, c.type);
        EXPECT_EQ(Pixels(restored), pixels);
        std::memset(mp_buf_address_band_internal(mp_buf_pointer(loaded), 0), 0, 1);
        ASSERT_EQ(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF, loaded), 0) << Error();
        EXPECT_EQ(Pixels(loaded), pixels);
        Free(source);
        Free(loaded);
        Free(restored);
    }
    EXPECT_EQ(im_Application.error.code, 0) << Error();
    EXPECT_EQ(Files(), (std::vector<std::string>{"image.raw", "image.tif"}));   // no temporary left
}

TEST_F(BufFilesTest, FieldsTravelInTheSoftwareTagOfFormatTen)
{
    const uint32_t source = MakeBuffer(8, 4, 3, 8);
    _MP_BUF_ST* b = mp_buf_pointer(source);
    ASSERT_EQ(mp_buf_put_field(b, 1234, 2.5), 0);
    ASSERT_EQ(mp_buf_put_field(b, 77, -1e10), 0);
    const std::string tif = Path("fields.tif");
    ASSERT_EQ(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF_FIELDS, source), 0) << Error();
    qsrf_fuzz::SaveFuzzSeed("bufrestore", tif);
    {
        qsrf::TiffHandler t;
        ASSERT_TRUE(t.OpenRead(tif.c_str()));
        ASSERT_TRUE(t.ReadHeader());
        ASSERT_EQ(t.TagBytes(kTiffTagSoftware), 48u);
        double block[6];
        ASSERT_EQ(t.ReadTag(kTiffTagSoftware, block, sizeof block), 48u);
        uint32_t magic[2];
        std::memcpy(magic, block, 8);
        EXPECT_EQ(magic[0], kFieldBlockMagicLow);
        EXPECT_EQ(magic[1], kFieldBlockMagicHigh);
        EXPECT_EQ(block[1], 2.0);
        EXPECT_EQ(block[2], 1234.0);
        EXPECT_EQ(block[3], 2.5);
        EXPECT_EQ(block[4], 77.0);
        EXPECT_EQ(block[5], -1e10);
        uint16_t formats[3] = {};
        ASSERT_EQ(t.ReadTag(kTiffTagSampleFormat, formats, sizeof formats), 6u);
        EXPECT_EQ(formats[0], 1);
        EXPECT_EQ(formats[2], 1);
    }
    uint32_t restored = 0;
    ASSERT_NE(imBufRestore(kDevice, tif.c_str(), IM_FILE_TIFF_FIELDS, kLocInline, &restored), 0u) << Error();
    const _MP_BUF_ST* r = mp_buf_pointer(restored);
    EXPECT_EQ(r->bands, 3u);
    EXPECT_EQ(r->type, 8u);
    ASSERT_EQ(r->fieldCount, 2u);
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    uint32_t key = 0;
    double value = 0;
    ASSERT_EQ(mp_buf_next_field(r, &cursor, &key, &value), 0);
    EXPECT_EQ(key, 1234u);
    EXPECT_EQ(value, 2.5);
    ASSERT_EQ(mp_buf_next_field(r, &cursor, &key, &value), 0);
    EXPECT_EQ(key, 77u);
    EXPECT_EQ(value, -1e10);
    EXPECT_EQ(Pixels(restored), Pixels(source));

    // Format 2 leaves the fields out; a load of format 10 puts them into the buffer.
    const std::string plain = Path("plain.tif");
    ASSERT_EQ(imBufSave(kDevice, plain.c_str(), IM_FILE_TIFF, source), 0);
    uint32_t bare = 0;
    ASSERT_NE(imBufRestore(kDevice, plain.c_str(), IM_FILE_TIFF_FIELDS, kLocInline, &bare), 0u);
    EXPECT_EQ(mp_buf_pointer(bare)->fieldCount, 0u);
    ASSERT_EQ(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF_FIELDS, bare), 0) << Error();
    EXPECT_EQ(mp_buf_pointer(bare)->fieldCount, 2u);
    Free(source);
    Free(restored);
    Free(bare);
}

TEST_F(BufFilesTest, AOneSampleFileFillsEveryBandOfTheBuffer)
{
    const uint32_t gray = MakeBuffer(5, 3, 1, 8, 40);
    const std::string tif = Path("gray.tif");
    ASSERT_EQ(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF, gray), 0);
    const uint32_t colour = MakeBuffer(5, 3, 3, 8, 90);
    ASSERT_EQ(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF, colour), 0) << Error();
    const std::vector<uint8_t> plane = Pixels(gray);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), plane.begin(), plane.end());
    EXPECT_EQ(Pixels(colour), expected);
    Free(gray);
    Free(colour);
}

TEST_F(BufFilesTest, FilesOfOtherWritersGetTheirTypeFromDepthAndSampleFormat)
{
    EXPECT_EQ(im_buf_tiff_type(16, 0), 0x10000010u);   // no tag 339 at 16 bits: signed
    EXPECT_EQ(im_buf_tiff_type(8, 0), 8u);
    EXPECT_EQ(im_buf_tiff_type(8, 2), 0x10000008u);
    EXPECT_EQ(im_buf_tiff_type(32, 3), 0x20000020u);
    EXPECT_EQ(im_buf_tiff_type(32, 1), 32u);
    EXPECT_EQ(im_buf_tiff_type(1, 1), 0x40000001u);
    EXPECT_EQ(im_buf_tiff_type(24, 1), 0x40000018u);
    EXPECT_EQ(im_buf_tiff_type(64, 3), 0x20000040u);

    tinytiff::Image im;
    im.width = 2;
    im.height = 2;
    im.bits = 16;
    im.pixels = {1, 0, 2, 0, 3, 0, 0xFF, 0xFF};
    const std::string tif = Path("other.tif");
    tinytiff::WriteFile(tif, tinytiff::Build(im));
    uint32_t id = 0;
    ASSERT_NE(imBufRestore(kDevice, tif.c_str(), IM_FILE_TIFF, kLocInline, &id), 0u) << Error();
    EXPECT_EQ(mp_buf_pointer(id)->type, 0x10000010u);
    EXPECT_EQ(mp_buf_get_pix_double(mp_buf_pointer(id), 0, 1, 1), -1.0);
    Free(id);

    // A sample-format tag with more values than samples, and a field block whose count
    // claims more fields than it holds: only what the file holds is read.
    std::vector<uint8_t> block(32, 0);
    const uint32_t magic[2] = {kFieldBlockMagicLow, kFieldBlockMagicHigh};
    const double claimed = 1000, key = 5, value = 6.5;
    std::memcpy(block.data(), magic, 8);
    std::memcpy(block.data() + 8, &claimed, 8);
    std::memcpy(block.data() + 16, &key, 8);
    std::memcpy(block.data() + 24, &value, 8);
    im.extra = {tinytiff::Shorts(339, {1, 1, 1, 1, 1, 1}), tinytiff::Ascii(305, block)};
    tinytiff::WriteFile(tif, tinytiff::Build(im));
    qsrf_fuzz::SaveFuzzSeed("bufrestore", tif);
    ASSERT_NE(imBufRestore(kDevice, tif.c_str(), IM_FILE_TIFF_FIELDS, kLocInline, &id), 0u) << Error();
    EXPECT_EQ(mp_buf_pointer(id)->type, 16u);
    ASSERT_EQ(mp_buf_pointer(id)->fieldCount, 1u);
    double got = 0;
    EXPECT_EQ(mp_buf_get_field_double(mp_buf_pointer(id), 5, &got), 0);
    EXPECT_EQ(got, 6.5);
    Free(id);
}

TEST_F(BufFilesTest, ANameWithoutExtensionIsSearchedAsTifHereThenAlongTifpath)
{
    const uint32_t source = MakeBuffer(4, 2, 1, 8);
    ASSERT_EQ(imBufSave(kDevice, Path("found.tif").c_str(), IM_FILE_TIFF, source), 0);
    // An absolute name gets the extension but no search.
    uint32_t id = 0;
    ASSERT_NE(imBufRestore(kDevice, Path("found").c_str(), IM_FILE_TIFF, kLocInline, &id), 0u) << Error();
    Free(id);
    ::setenv("TIFPATH", ("/nonexistent-dir;" + dir_).c_str(), 1);
    ASSERT_NE(imBufRestore(kDevice, "found", IM_FILE_TIFF, kLocInline, &id), 0u) << Error();
    EXPECT_EQ(Pixels(id), Pixels(source));
    Free(id);
    ::unsetenv("TIFPATH");
    EXPECT_EQ(imBufRestore(kDevice, "found", IM_FILE_TIFF, kLocInline, &id), 0u);
    EXPECT_EQ(Error(), "-3 Cannot find file in path / imBufRestore");
    Free(source);
}

// ---------------------------------------------------------------- errors

TEST_F(BufFilesTest, ArgumentsAreCheckedWithThePartsTexts)
{
    const uint32_t id = MakeBuffer(4, 2, 1, 8);
    const std::string tif = Path("a.tif");
    ASSERT_EQ(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF, id), 0);
    auto check = [](int32_t result, const char* expected) {
        EXPECT_EQ(Error(), expected);
        EXPECT_EQ(result, im_Application.error.code);
        im_msg_reset_application();
    };
    check(imBufLoad(kDevice, tif.c_str(), 3, id), "-9 Invalid file format / imBufLoad");
    check(imBufLoad(kDevice, nullptr, IM_FILE_TIFF, id), "-8 Invalid file name / imBufLoad");
    check(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF, 0), "-8 Invalid buffer ID / imBufLoad");
    check(imBufLoad(kDevice, tif.c_str(), IM_FILE_RAW, 0x40000010u), "-8 Invalid buffer ID / imBufLoad");
    check(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF, 0), "-8 Invalid buffer ID / imBufSave");
    check(imBufSave(kDevice, tif.c_str(), 4, id), "-9 Invalid file format / imBufSave");
    uint32_t out = 5;
    EXPECT_EQ(imBufRestore(kDevice, tif.c_str(), IM_FILE_RAW, kLocInline, &out), 0u);
    EXPECT_EQ(out, 0u);
    check(-9, "-9 Invalid file format / imBufRestore");
    EXPECT_EQ(imBufRestore(kDevice, "", IM_FILE_TIFF, kLocInline, &out), 0u);
    check(-8, "-8 Invalid file name / imBufRestore");
    // A file of another depth or a larger size than the buffer is not poured into it.
    const uint32_t wide = MakeBuffer(4, 2, 1, 16);
    const auto before = Pixels(wide);
    check(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF, wide),
          "-14 TIFF file does not match the buffer / imBufLoad");
    const uint32_t small = MakeBuffer(3, 2, 1, 8);
    check(imBufLoad(kDevice, tif.c_str(), IM_FILE_TIFF, small), "-8 Error in function parameters / imBufLoad");
    EXPECT_EQ(Pixels(wide), before);
    Free(id);
    Free(wide);
    Free(small);
}

TEST_F(BufFilesTest, AShortRawFileFailsAndLeavesTheBufferAsItWas)
{
    const uint32_t id = MakeBuffer(8, 4, 2, 8);
    const auto before = Pixels(id);
    const std::string raw = Path("short.raw");
    tinytiff::WriteFile(raw, std::vector<uint8_t>(63, 0xAB));   // one byte short of 64
    EXPECT_EQ(imBufLoad(kDevice, raw.c_str(), IM_FILE_RAW, id), HLC_ERR_FILE_ACCESS);
    EXPECT_EQ(Error(), "-3 Reading file / imBufLoad");
    EXPECT_EQ(Pixels(id), before);
    // A read-only file is enough: the load only reads.
    tinytiff::WriteFile(raw, std::vector<uint8_t>(64, 0xAB));
    ASSERT_EQ(::chmod(raw.c_str(), 0444), 0);
    im_msg_reset_application();
    EXPECT_EQ(imBufLoad(kDevice, raw.c_str(), IM_FILE_RAW, id), 0) << Error();
    EXPECT_EQ(Pixels(id), std::vector<uint8_t>(64, 0xAB));
    EXPECT_EQ(imBufLoad(kDevice, Path("missing.raw").c_str(), IM_FILE_RAW, id), HLC_ERR_FILE_ACCESS);
    EXPECT_EQ(Error(), "-3 Opening file / imBufLoad");
    Free(id);
}

TEST_F(BufFilesTest, DirectoriesAndNamedPipesAreRefusedWithoutBeingOpened)
{
    const uint32_t id = MakeBuffer(4, 2, 1, 8);
    const auto before = Pixels(id);
    const std::string fifo = Path("pipe.tif");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const uint32_t descFree = DescFree();
    for (const std::string& name : {dir_, fifo}) {
        SCOPED_TRACE(name);
        im_msg_reset_application();
        EXPECT_EQ(imBufLoad(kDevice, name.c_str(), IM_FILE_RAW, id), HLC_ERR_FILE_ACCESS);
        EXPECT_EQ(Error(), "-3 Opening file / imBufLoad");
        im_msg_reset_application();
        EXPECT_EQ(imBufLoad(kDevice, name.c_str(), IM_FILE_TIFF, id), HLC_ERR_FILE_ACCESS);
        EXPECT_EQ(Error(), "-3 Cannot find file in path / imBufLoad");
        im_msg_reset_application();
        uint32_t out = 1;
        EXPECT_EQ(imBufRestore(kDevice, name.c_str(), IM_FILE_TIFF, kLocInline, &out), 0u);
        EXPECT_EQ(out, 0u);
        EXPECT_EQ(Error(), "-3 Cannot find file in path / imBufRestore");
        // Nor is a save poured into them.
        im_msg_reset_application();
        EXPECT_EQ(imBufSave(kDevice, name.c_str(), IM_FILE_RAW, id), HLC_ERR_FILE_ACCESS);
        EXPECT_EQ(Error(), "-3 Opening file / imBufSave");
    }
    EXPECT_EQ(Pixels(id), before);
    EXPECT_EQ(DescFree(), descFree);
    Free(id);
}

TEST_F(BufFilesTest, ATruncatedTiffFailsAndLeavesNothingAllocated)
{
    const uint32_t id = MakeBuffer(16, 8, 1, 8);
    const std::string tif = Path("whole.tif");
    ASSERT_EQ(imBufSave(kDevice, tif.c_str(), IM_FILE_TIFF, id), 0);
    const auto bytes = tinytiff::ReadFile(tif);
    const uint32_t descFree = DescFree();
    const uint32_t slots = mp_buf_id_slots(kNode);
    uint32_t used = 0;
    for (uint32_t s = 0; s < slots; ++s) used += mp_buf_id_slot(kNode, s) != nullptr;

    // Cut before the directory: no header to read.
    const std::string cut = Path("cut.tif");
    tinytiff::WriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
    uint32_t out = 1;
    EXPECT_EQ(imBufRestore(kDevice, cut.c_str(), IM_FILE_TIFF, kLocInline, &out), 0u);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(Error(), "-9 TIFF file / imBufRestore");

    // A whole directory over pixel data cut short: the buffer is made, then freed again.
    tinytiff::Image im;
    im.width = 64;
    im.height = 16;
    im.pixels = std::vector<uint8_t>(100, 3);
    im.claimedBytes = 1024;
    tinytiff::WriteFile(cut, tinytiff::Build(im));
    qsrf_fuzz::SaveFuzzSeed("bufrestore", cut);
    im_msg_reset_application();
    EXPECT_EQ(imBufRestore(kDevice, cut.c_str(), IM_FILE_TIFF, kLocInline, &out), 0u);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(Error(), "-9 TIFF file / imBufRestore");
    EXPECT_EQ(DescFree(), descFree);
    uint32_t usedAfter = 0;
    for (uint32_t s = 0; s < mp_buf_id_slots(kNode); ++s) usedAfter += mp_buf_id_slot(kNode, s) != nullptr;
    EXPECT_EQ(usedAfter, used);

    // Loading it leaves the buffer untouched.
    const uint32_t target = MakeBuffer(64, 16, 1, 8);
    const auto before = Pixels(target);
    im_msg_reset_application();
    EXPECT_EQ(imBufLoad(kDevice, cut.c_str(), IM_FILE_TIFF, target), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Error(), "-9 TIFF file / imBufLoad");
    EXPECT_EQ(Pixels(target), before);
    Free(id);
    Free(target);
}

// The buffer cannot be read: the save fails after its new file was begun.
int32_t FailingGet(uint32_t, uint32_t, void*)
{
    return -1;
}

TEST_F(BufFilesTest, AFailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    const uint32_t id = MakeBuffer(6, 3, 1, 8);
    for (const int32_t format : {IM_FILE_RAW, IM_FILE_TIFF, IM_FILE_TIFF_FIELDS}) {
        SCOPED_TRACE(format);
        const std::string file = Path("keep.img");
        tinytiff::WriteFile(file, {'o', 'l', 'd'});
        ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        const ImBufFileOps failing{nullptr, FailingGet, nullptr, nullptr, nullptr, nullptr, nullptr};
        im_buf_files_set_ops(&failing);
        im_msg_reset_application();
        EXPECT_EQ(imBufSave(kDevice, file.c_str(), format, id), HLC_ERR_INVALID_PARAMETER);
        EXPECT_EQ(Error(), "-8 Error in function parameters / imBufSave");
        EXPECT_EQ(tinytiff::ReadFile(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(Files(), std::vector<std::string>{"keep.img"});
        // A save that succeeds replaces it and keeps its mode.
        im_buf_files_set_ops(nullptr);
        ASSERT_EQ(imBufSave(kDevice, file.c_str(), format, id), 0) << Error();
        EXPECT_GT(tinytiff::ReadFile(file).size(), 3u);
        struct stat st;
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        EXPECT_EQ(Files(), std::vector<std::string>{"keep.img"});
    }
    // A directory that does not exist: nothing to open.
    im_msg_reset_application();
    EXPECT_EQ(imBufSave(kDevice, Path("none/x.tif").c_str(), IM_FILE_TIFF, id), HLC_ERR_FILE_ACCESS);
    EXPECT_EQ(Error(), "-3 Opening file / imBufSave");
    Free(id);
}

}  // namespace
