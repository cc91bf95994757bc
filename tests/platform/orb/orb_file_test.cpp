#include "orbpixels.h"
#include "orbtest.h"

#include "../../fuzz/namedpipe.h"
#include "../../fuzz/seeds.h"

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orbtest;

namespace {

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

class OrbFiles : public OrbTest {
protected:
    void SetUp() override
    {
        OrbTest::SetUp();
        char tmpl[] = "/tmp/orbfilesXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        for (const std::string& f : files()) std::remove((dir + "/" + f).c_str());
        ::rmdir(dir.c_str());
        OrbTest::TearDown();
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
            ::closedir(d);
        }
        return out;
    }

    // A buffer filled with a pattern that uses the type's whole range.
    OrbId patterned(int w, int h, uint32_t type)
    {
        const OrbId id = alloc(w, h, type);
        const int bpp = orbpix::bytesPerPixel(type), bits = orbpix::bitsOf(type);
        std::vector<uint8_t> px(size_t(w) * size_t(h) * size_t(bpp));
        uint32_t x = 12345;
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
            x = x * 1103515245u + 12345u;
            const uint32_t v = bits == 32 ? x : (x >> 7) & ((1u << bits) - 1);
            orbpix::store(&px[i * size_t(bpp)], bpp, v);
        }
        orbBufPut(id, px.data());
        return id;
    }
    std::vector<uint8_t> pixels(OrbId id)
    {
        auto info = orbsim::bufferInfo(id);
        std::vector<uint8_t> px(size_t(info->width) * size_t(info->height) * size_t(info->bytesPerPixel));
        orbBufGet(id, px.data());
        return px;
    }
    // Loading a bad file reports one error and leaves the buffer as it was.
    Reported expectRejected(const std::string& file, OrbInt format, OrbId buf)
    {
        const std::vector<uint8_t> before = pixels(buf);
        clearReported();
        orbBufLoad(file.c_str(), format, 1, sys, buf);
        EXPECT_EQ(errorCount(), 1u) << file;
        EXPECT_EQ(pixels(buf), before) << file;
        Reported r = lastReported();
        EXPECT_EQ(r.function, "orbBufLoad");
        return r;
    }

    std::string dir;
};

// ---- round trips ----

struct RoundTrip {
    OrbInt format;
    const char* name;
    uint32_t type;
};

TEST_F(OrbFiles, SaveLoadRoundTripsArePixelExact)
{
    const RoundTrip cases[] = {
        {ORB_FILE_OWN, "a.oim", 8},          {ORB_FILE_OWN, "b.oim", 16},   {ORB_FILE_OWN, "c.oim", 32},
        {ORB_FILE_OWN, "d.oim", ORB_SIGNED | 16}, {ORB_FILE_OWN, "e.oim", 12}, {ORB_FILE_RAW, "f.raw", 8},
        {ORB_FILE_RAW, "g.raw", 16},         {ORB_FILE_TIFF, "h.tif", 8},   {ORB_FILE_TIFF, "i.tif", 16},
        {ORB_FILE_TIFF, "j.tif", ORB_SIGNED | 16}, {ORB_FILE_TIFF, "k.tif", 32}, {ORB_FILE_BMP, "l.bmp", 8},
    };
    for (const RoundTrip& c : cases) {
        const OrbId src = patterned(37, 21, c.type);
        orbBufSave(path(c.name).c_str(), c.format, src);
        qsrf_fuzz::SaveFuzzSeed("orbimage", path(c.name));
        const OrbId dst = alloc(37, 21, c.type);
        orbBufLoad(path(c.name).c_str(), c.format, 1, sys, dst);
        EXPECT_EQ(pixels(dst), pixels(src)) << c.name;
        // The default format finds the same pixels from the file's contents.
        const OrbId dst2 = alloc(37, 21, c.type);
        orbBufLoad(path(c.name).c_str(), ORB_DEFAULT, 1, sys, dst2);
        EXPECT_EQ(pixels(dst2), pixels(src)) << c.name;
    }
    EXPECT_EQ(errorCount(), 0u);
    for (const std::string& f : files()) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(OrbFiles, RestoreMakesABufferOfTheFilesSizeAndType)
{
    const RoundTrip cases[] = {
        {ORB_FILE_OWN, "a.oim", 12}, {ORB_FILE_OWN, "b.oim", ORB_SIGNED | 8}, {ORB_FILE_TIFF, "c.tif", 16},
        {ORB_FILE_TIFF, "d.tif", ORB_SIGNED | 8}, {ORB_FILE_BMP, "e.bmp", 8},
    };
    for (const RoundTrip& c : cases) {
        const OrbId src = patterned(9, 14, c.type);
        orbBufSave(path(c.name).c_str(), c.format, src);
        OrbId out = 0;
        EXPECT_EQ(orbBufRestore(path(c.name).c_str(), sys, &out), out);
        ASSERT_NE(out, 0u) << c.name;
        EXPECT_EQ(orbBufInquire(out, ORB_BUF_SIZE_X, nullptr), 9);
        EXPECT_EQ(orbBufInquire(out, ORB_BUF_SIZE_Y, nullptr), 14);
        EXPECT_EQ(uint32_t(orbBufInquire(out, ORB_BUF_TYPE, nullptr)), c.type) << c.name;
        EXPECT_EQ(pixels(out), pixels(src)) << c.name;
    }
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbFiles, OwnFormatHeaderIsAsDocumented)
{
    const OrbId src = patterned(3, 2, 16);
    orbBufSave(path("h.oim").c_str(), ORB_FILE_OWN, src);
    const std::vector<uint8_t> f = readFile(path("h.oim"));
    ASSERT_EQ(f.size(), 32u + 12u);
    const std::vector<uint8_t> header(f.begin(), f.begin() + 32);
    const std::vector<uint8_t> expected = {'O', 'I', 'M', 'G', 1, 0, 32, 0, 3, 0, 0, 0, 2, 0, 0, 0,
                                           16, 0, 0, 0, 2, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(header, expected);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 32, f.end()), pixels(src));
}

TEST_F(OrbFiles, BmpIsBottomUpWithPaddedRowsAndGreyPalette)
{
    const OrbId src = alloc(5, 2);
    const uint8_t px[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    orbBufPut(src, px);
    orbBufSave(path("p.bmp").c_str(), ORB_FILE_BMP, src);
    const std::vector<uint8_t> f = readFile(path("p.bmp"));
    ASSERT_EQ(f.size(), 1078u + 2 * 8);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[28], 8);                         // bits per pixel
    EXPECT_EQ(f[54 + 4 * 200], 200);             // grey palette entry
    const std::vector<uint8_t> rows(f.begin() + 1078, f.end());
    EXPECT_EQ(rows, (std::vector<uint8_t>{6, 7, 8, 9, 10, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0}));
}

TEST_F(OrbFiles, WideBuffersSaveToBmpByTheirHighByte)
{
    const OrbId src = alloc(2, 1, 16);
    const uint16_t px[2] = {0x12FF, 0xAB00};
    orbBufPut(src, px);
    orbBufSave(path("w.bmp").c_str(), ORB_FILE_BMP, src);
    const OrbId dst = alloc(2, 1);
    orbBufLoad(path("w.bmp").c_str(), ORB_DEFAULT, 1, sys, dst);
    EXPECT_EQ(pixels(dst), (std::vector<uint8_t>{0x12, 0xAB}));
}

std::vector<uint8_t> bmpHeader(int32_t w, int32_t h, uint16_t bits, uint32_t palette, uint32_t dataSize)
{
    std::vector<uint8_t> f(54 + palette * 4 + dataSize, 0);
    f[0] = 'B';
    f[1] = 'M';
    put32(f, 2, uint32_t(f.size()));
    put32(f, 10, 54 + palette * 4);
    put32(f, 14, 40);
    put32(f, 18, uint32_t(w));
    put32(f, 22, uint32_t(h));
    put16(f, 26, 1);
    put16(f, 28, bits);
    put32(f, 46, palette);
    return f;
}

TEST_F(OrbFiles, ReadsColourPaletteAnd24BitAndTopDownBmp)
{
    // 8-bit palette of colours: 0 red, 1 green, 2 blue, 3 grey 77; 3 x 2, rows of 4 bytes.
    std::vector<uint8_t> f = bmpHeader(3, 2, 8, 4, 8);
    const uint8_t pal[16] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 77, 77, 77, 0};
    std::copy(pal, pal + 16, f.begin() + 54);
    const uint8_t data[8] = {3, 3, 0, 0, 0, 1, 2, 0};  // bottom row first
    std::copy(data, data + 8, f.begin() + 70);
    writeFile(path("pal.bmp"), f);
    qsrf_fuzz::SaveFuzzSeed("orbimage", path("pal.bmp"));
    OrbId out = 0;
    orbBufRestore(path("pal.bmp").c_str(), sys, &out);
    ASSERT_NE(out, 0u);
    // luminance: red 76, green 150, blue 29
    EXPECT_EQ(pixels(out), (std::vector<uint8_t>{76, 150, 29, 77, 77, 76}));

    // 24-bit, top-down (negative height), 2 x 2, rows of 8 bytes (6 + 2 padding).
    std::vector<uint8_t> g = bmpHeader(2, -2, 24, 0, 16);
    const uint8_t rgb[16] = {10, 10, 10, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0};
    std::copy(rgb, rgb + 16, g.begin() + 54);
    writeFile(path("rgb.bmp"), g);
    qsrf_fuzz::SaveFuzzSeed("orbimage", path("rgb.bmp"));
    const OrbId dst = alloc(2, 2, 16);
    orbBufLoad(path("rgb.bmp").c_str(), ORB_FILE_BMP, 1, sys, dst);
    const std::vector<uint8_t> p = pixels(dst);
    // 8-bit grey spread to 16 bits (x 257): 10, 76, 255, 0
    const uint16_t expected[4] = {10 * 257, 76 * 257, 255 * 257, 0};
    EXPECT_EQ(0, std::memcmp(p.data(), expected, 8));
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbFiles, Tiff8BitLoadsInto16BitBuffer)
{
    const OrbId src = patterned(4, 4, 8);
    orbBufSave(path("t.tif").c_str(), ORB_FILE_TIFF, src);
    const OrbId dst = alloc(4, 4, 16);
    orbBufLoad(path("t.tif").c_str(), ORB_FILE_TIFF, 1, sys, dst);
    const std::vector<uint8_t> a = pixels(src), b = pixels(dst);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(b[2 * i] | b[2 * i + 1] << 8, a[i] * 257);
}

TEST_F(OrbFiles, RawSkipsALeadingHeader)
{
    std::vector<uint8_t> f(100 + 12);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint8_t(i);
    writeFile(path("x.raw"), f);
    const OrbId dst = alloc(4, 3);
    orbBufLoad(path("x.raw").c_str(), ORB_FILE_RAW, 1, sys, dst);
    EXPECT_EQ(pixels(dst), std::vector<uint8_t>(f.begin() + 100, f.end()));
    // 16-bit: 6 pixels of 2 bytes from the end.
    const OrbId d16 = alloc(3, 2, 16);
    orbBufLoad(path("x.raw").c_str(), ORB_DEFAULT, 1, sys, d16);
    EXPECT_EQ(pixels(d16), std::vector<uint8_t>(f.begin() + 100, f.end()));
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbFiles, SaveReplacesAnExistingFileAndReportsBadPaths)
{
    writeFile(path("old.oim"), {1, 2, 3});
    const OrbId src = patterned(4, 4, 8);
    orbBufSave(path("old.oim").c_str(), ORB_FILE_OWN, src);
    EXPECT_EQ(readFile(path("old.oim")).size(), 32u + 16u);
    orbBufSave(path("missing/dir.tif").c_str(), ORB_FILE_TIFF, src);
    Reported r = lastReported();
    EXPECT_EQ(r.function, "orbBufSave");
    EXPECT_EQ(r.message, "File access error");
    ASSERT_EQ(r.subs.size(), 2u);
    EXPECT_EQ(r.subs[0], path("missing/dir.tif"));
    EXPECT_EQ(r.subs[1].rfind("cannot create: ", 0), 0u);
    orbBufSave(path("x.png").c_str(), 3, src);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown file format 0x3");
    orbBufSave(path("y.oim").c_str(), ORB_FILE_OWN, 0x9999);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    orbBufSave("", ORB_FILE_OWN, src);
    EXPECT_EQ(lastReported().message, "Invalid parameter");
    EXPECT_EQ(files(), std::vector<std::string>{"old.oim"});
}

// ---- malformed files ----

TEST_F(OrbFiles, LoadIntoABufferOfAnotherSizeIsRefused)
{
    orbBufSave(path("s.tif").c_str(), ORB_FILE_TIFF, patterned(5, 5, 8));
    orbBufSave(path("s.oim").c_str(), ORB_FILE_OWN, patterned(5, 5, 8));
    const OrbId dst = patterned(5, 6, 8);
    for (const char* f : {"s.tif", "s.oim"}) {
        Reported r = expectRejected(path(f), ORB_DEFAULT, dst);
        EXPECT_EQ(r.message, "Image size does not match the buffer");
        EXPECT_EQ(r.subs.at(1), "File 5 x 5, buffer 5 x 6");
    }
}

TEST_F(OrbFiles, EmptyAndMissingFilesAreRejected)
{
    writeFile(path("empty"), {});
    const OrbId dst = patterned(4, 4, 8);
    for (OrbInt fmt : {ORB_FILE_OWN, ORB_FILE_RAW, ORB_FILE_TIFF, ORB_FILE_BMP, ORB_DEFAULT}) {
        Reported r = expectRejected(path("empty"), fmt, dst);
        EXPECT_EQ(r.message, "Empty file") << fmt;
        EXPECT_EQ(r.subs.at(0), path("empty"));
    }
    for (OrbInt fmt : {ORB_FILE_OWN, ORB_FILE_TIFF, ORB_DEFAULT})
        EXPECT_EQ(expectRejected(path("nothing.here"), fmt, dst).message, "File access error");
    EXPECT_EQ(expectRejected(dir, ORB_FILE_OWN, dst).subs.at(1), "not a regular file");
    OrbId out = 5;
    EXPECT_EQ(orbBufRestore(path("empty").c_str(), sys, &out), 0u);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(orbBufRestore(path("nothing.here").c_str(), sys, &out), 0u);
    EXPECT_EQ(lastReported().function, "orbBufRestore");
    EXPECT_EQ(orbsim::bufferCount(), 1u);
}

TEST_F(OrbFiles, ANamedPipeIsRefusedAtOnceByEveryReader)
{
    const std::string fifo = path("pipe.tif");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(fifo));
    const OrbId dst = patterned(4, 4, 8);
    // Every explicit format, the format found from the contents, and a restore.
    for (OrbInt fmt : {ORB_FILE_OWN, ORB_FILE_RAW, ORB_FILE_TIFF, ORB_FILE_BMP, ORB_DEFAULT}) {
        clearReported();
        const auto message = qsrf_test::ReadWithDeadline(fifo, [&] {
            orbBufLoad(fifo.c_str(), fmt, 1, sys, dst);
            return lastReported().message;
        });
        ASSERT_TRUE(message.has_value()) << "loading a named pipe blocked, format " << fmt;
        EXPECT_EQ(*message, "File access error") << fmt;
        const Reported r = lastReported();
        EXPECT_EQ(r.function, "orbBufLoad");
        EXPECT_EQ(r.subs, (std::vector<std::string>{fifo, "not a regular file", "it is a named pipe"}));
    }
    OrbId out = 7;
    const auto restored = qsrf_test::ReadWithDeadline(fifo, [&] {
        orbBufRestore(fifo.c_str(), sys, &out);
        return lastReported().function + ": " + lastReported().message;
    });
    ASSERT_TRUE(restored.has_value()) << "restoring from a named pipe blocked";
    EXPECT_EQ(*restored, "orbBufRestore: File access error");
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(orbsim::bufferCount(), 1u);
    EXPECT_EQ(pixels(dst), pixels(patterned(4, 4, 8)));   // the buffer is untouched
    // A device is refused the same way.
    EXPECT_EQ(expectRejected("/dev/zero", ORB_FILE_RAW, dst).subs.at(2), "it is a device");
}

TEST_F(OrbFiles, BadMagicIsRejectedForExplicitFormats)
{
    orbBufSave(path("a.tif").c_str(), ORB_FILE_TIFF, patterned(4, 4, 8));
    orbBufSave(path("a.bmp").c_str(), ORB_FILE_BMP, patterned(4, 4, 8));
    const OrbId dst = patterned(4, 4, 8);
    EXPECT_EQ(expectRejected(path("a.tif"), ORB_FILE_OWN, dst).message, "Not an OIM file");
    EXPECT_EQ(expectRejected(path("a.tif"), ORB_FILE_BMP, dst).message, "Not a BMP file");
    EXPECT_EQ(expectRejected(path("a.bmp"), ORB_FILE_TIFF, dst).message, "Not a TIFF file");
    EXPECT_EQ(expectRejected(path("a.bmp"), 3, dst).message, "Invalid parameter");
    // A file of no known kind cannot be restored: it has no size of its own.
    writeFile(path("junk.bin"), std::vector<uint8_t>(64, 0x42));
    OrbId out = 0;
    orbBufRestore(path("junk.bin").c_str(), sys, &out);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(lastReported().message, "Unrecognised image file");
}

TEST_F(OrbFiles, MalformedOwnFilesAreRejected)
{
    orbBufSave(path("good.oim").c_str(), ORB_FILE_OWN, patterned(4, 4, 16));
    const std::vector<uint8_t> good = readFile(path("good.oim"));
    const OrbId dst = patterned(4, 4, 16);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    auto patched = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> b = good;
        put32(b, at, v);
        return b;
    };
    std::vector<uint8_t> version = good;
    put16(version, 4, 2);
    const Case cases[] = {
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 20), "Truncated OIM file"},
        {"pixels cut", std::vector<uint8_t>(good.begin(), good.end() - 1), "Truncated OIM file"},
        {"huge width", patched(8, 0xFFFFFFFFu), "Malformed OIM file"},
        {"zero height", patched(12, 0), "Malformed OIM file"},
        {"absurd size", patched(8, 30000), "Malformed OIM file"},
        {"bad type", patched(16, 0x40), "Malformed OIM file"},
        {"bad data size", patched(24, 33), "Malformed OIM file"},
        {"bad bytes per pixel", patched(20, 1), "Malformed OIM file"},
        {"version", version, "Unsupported OIM file"},
        {"magic only", {'O', 'I', 'M', 'G'}, "Truncated OIM file"},
    };
    for (const Case& c : cases) {
        writeFile(path("bad.oim"), c.bytes);
        EXPECT_EQ(expectRejected(path("bad.oim"), ORB_FILE_OWN, dst).message, c.message) << c.what;
        EXPECT_EQ(expectRejected(path("bad.oim"), ORB_DEFAULT, dst).message, c.message) << c.what;
        OrbId out = 0;
        orbBufRestore(path("bad.oim").c_str(), sys, &out);
        EXPECT_EQ(out, 0u) << c.what;
    }
    writeFile(path("bad.oim"), patched(8, 0xFFFFFFFFu));
    EXPECT_EQ(expectRejected(path("bad.oim"), ORB_FILE_OWN, dst).subs.at(1), "invalid image size 4294967295 x 4");
}

TEST_F(OrbFiles, MalformedBmpFilesAreRejected)
{
    orbBufSave(path("good.bmp").c_str(), ORB_FILE_BMP, patterned(6, 4, 8));
    const std::vector<uint8_t> good = readFile(path("good.bmp"));
    const OrbId dst = patterned(6, 4, 8);
    auto patched32 = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> b = good;
        put32(b, at, v);
        return b;
    };
    auto patched16 = [&](size_t at, uint16_t v) {
        std::vector<uint8_t> b = good;
        put16(b, at, v);
        return b;
    };
    std::vector<uint8_t> badIndex = patched32(46, 16);  // 16 palette entries, pixels beyond
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const Case cases[] = {
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 30), "Truncated BMP file"},
        {"pixels cut", std::vector<uint8_t>(good.begin(), good.end() - 3), "Truncated BMP file"},
        {"palette cut", std::vector<uint8_t>(good.begin(), good.begin() + 300), "Truncated BMP file"},
        {"huge width", patched32(18, 1000000000u), "Malformed BMP file"},
        {"negative width", patched32(18, uint32_t(-6)), "Malformed BMP file"},
        {"most negative height", patched32(22, 0x80000000u), "Malformed BMP file"},
        {"zero height", patched32(22, 0), "Malformed BMP file"},
        {"pixel offset past the end", patched32(10, 0xFFFFFFF0u), "Truncated BMP file"},
        {"pixel offset inside header", patched32(10, 20), "Malformed BMP file"},
        {"rle", patched32(30, 1), "Unsupported BMP file"},
        {"16 bits", patched16(28, 16), "Unsupported BMP file"},
        {"planes", patched16(26, 3), "Malformed BMP file"},
        {"palette too big", patched32(46, 257), "Malformed BMP file"},
        {"index outside palette", badIndex, "Malformed BMP file"},
        {"header size", patched32(14, 41), "Malformed BMP file"},
    };
    for (const Case& c : cases) {
        writeFile(path("bad.bmp"), c.bytes);
        EXPECT_EQ(expectRejected(path("bad.bmp"), ORB_FILE_BMP, dst).message, c.message) << c.what;
        OrbId out = 0;
        orbBufRestore(path("bad.bmp").c_str(), sys, &out);
        EXPECT_EQ(out, 0u) << c.what;
    }
}

// A hand-made little-endian TIFF of one strip with the given tags.
std::vector<uint8_t> tinyTiff(uint32_t w, uint32_t h, uint16_t bits, uint16_t spp, const std::vector<uint8_t>& data)
{
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
    const Entry entries[9] = {{256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, bits}, {259, 3, 1, 1}, {262, 3, 1, 1},
                              {273, 4, 1, dataOffset}, {277, 3, 1, spp}, {278, 4, 1, h}, {279, 4, 1, uint32_t(data.size())}};
    std::vector<uint8_t> f(dataOffset, 0);
    f[0] = 'I';
    f[1] = 'I';
    f[2] = 42;
    put32(f, 4, 8);
    put16(f, 8, 9);
    for (int i = 0; i < 9; ++i) {
        const size_t at = 10 + size_t(i) * 12;
        put16(f, at, entries[i].tag);
        put16(f, at + 2, entries[i].type);
        put32(f, at + 4, entries[i].count);
        if (entries[i].type == 3)
            put16(f, at + 8, uint16_t(entries[i].value));
        else
            put32(f, at + 8, entries[i].value);
    }
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST_F(OrbFiles, HandMadeTiffReads)
{
    writeFile(path("tiny.tif"), tinyTiff(3, 2, 8, 1, {1, 2, 3, 4, 5, 6}));
    qsrf_fuzz::SaveFuzzSeed("orbimage", path("tiny.tif"));
    OrbId out = 0;
    orbBufRestore(path("tiny.tif").c_str(), sys, &out);
    ASSERT_NE(out, 0u);
    EXPECT_EQ(pixels(out), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(OrbFiles, MalformedTiffFilesAreRejected)
{
    orbBufSave(path("good.tif").c_str(), ORB_FILE_TIFF, patterned(6, 4, 8));
    const std::vector<uint8_t> good = readFile(path("good.tif"));
    const OrbId dst = patterned(6, 4, 8);
    std::vector<uint8_t> badIfd = good;
    put32(badIfd, 4, 0x7FFFFFF0u);  // first directory far past the end
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const Case cases[] = {
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 4), "Malformed TIFF file"},
        {"directory past the end", badIfd, "Malformed TIFF file"},
        {"absurd size", tinyTiff(100000, 100000, 8, 1, std::vector<uint8_t>(16, 0)), "Malformed TIFF file"},
        {"pixels cut", tinyTiff(6, 4, 8, 1, std::vector<uint8_t>(10, 0)), "Malformed TIFF file"},
        {"rgb", tinyTiff(6, 4, 8, 3, std::vector<uint8_t>(72, 0)), "Unsupported TIFF file"},
        {"4 bits", tinyTiff(6, 4, 4, 1, std::vector<uint8_t>(12, 0)), "Unsupported TIFF file"},
    };
    for (const Case& c : cases) {
        writeFile(path("bad.tif"), c.bytes);
        EXPECT_EQ(expectRejected(path("bad.tif"), ORB_FILE_TIFF, dst).message, c.message) << c.what;
        EXPECT_EQ(expectRejected(path("bad.tif"), ORB_DEFAULT, dst).message, c.message) << c.what;
        OrbId out = 0;
        orbBufRestore(path("bad.tif").c_str(), sys, &out);
        EXPECT_EQ(out, 0u) << c.what;
    }
    EXPECT_EQ(orbsim::bufferCount(), 2u);  // the saved one and dst
}

TEST_F(OrbFiles, RawFileTooSmallIsRejected)
{
    writeFile(path("small.raw"), std::vector<uint8_t>(15, 1));
    const OrbId dst = patterned(4, 4, 8);
    Reported r = expectRejected(path("small.raw"), ORB_FILE_RAW, dst);
    EXPECT_EQ(r.message, "Raw file too small");
    EXPECT_EQ(r.subs, (std::vector<std::string>{path("small.raw"), "holds 15 bytes, the buffer needs 16"}));
    // Through the default format too (no known signature means raw).
    EXPECT_EQ(expectRejected(path("small.raw"), ORB_DEFAULT, dst).message, "Raw file too small");
}

TEST_F(OrbFiles, LoadArgumentsAreChecked)
{
    const OrbId dst = patterned(2, 2, 8);
    writeFile(path("ok.raw"), std::vector<uint8_t>(4, 1));
    const std::vector<uint8_t> before = pixels(dst);
    clearReported();
    orbBufLoad(path("ok.raw").c_str(), ORB_FILE_RAW, 1, sys, 0x999);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    orbBufLoad(path("ok.raw").c_str(), ORB_FILE_RAW, 2, sys, dst);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown load operation 2");
    orbBufLoad(path("ok.raw").c_str(), ORB_FILE_RAW, 1, 0x888, dst);
    EXPECT_EQ(lastReported().message, "Invalid system id");
    orbBufLoad(nullptr, ORB_FILE_RAW, 1, sys, dst);
    EXPECT_EQ(lastReported().subs.at(0), "The file name is empty");
    EXPECT_EQ(errorCount(), 4u);
    EXPECT_EQ(pixels(dst), before);
}

TEST_F(OrbFiles, RestoreHonoursInjectedFailure)
{
    orbBufSave(path("r.oim").c_str(), ORB_FILE_OWN, patterned(2, 2, 8));
    orbsim::failNextAlloc();
    OrbId out = 3;
    EXPECT_EQ(orbBufRestore(path("r.oim").c_str(), sys, &out), 0u);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(lastReported().message, "Insufficient memory");
    EXPECT_EQ(orbsim::bufferCount(), 1u);
}

}  // namespace
