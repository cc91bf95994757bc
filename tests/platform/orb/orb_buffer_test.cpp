#include "orbpixels.h"
#include "orbtest.h"

#include <cmath>
#include <cstring>
#include <numeric>

using namespace orbtest;

namespace {

class OrbBuffers : public OrbTest {};

std::vector<uint8_t> ramp(size_t n, uint8_t start = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(start + i * 7);
    return v;
}

// ---- allocation ----

TEST_F(OrbBuffers, AllocKeepsSizeTypeAndAttributes)
{
    OrbId id = 0;
    EXPECT_EQ(orbBufAlloc2d(sys, 768, 576, ORB_SIGNED | 8, 60, &id), id);
    ASSERT_NE(id, 0u);
    OrbInt out = 0;
    EXPECT_EQ(orbBufInquire(id, ORB_BUF_SIZE_X, &out), 768);
    EXPECT_EQ(out, 768);
    EXPECT_EQ(orbBufInquire(id, ORB_BUF_SIZE_Y, nullptr), 576);
    EXPECT_EQ(uint32_t(orbBufInquire(id, ORB_BUF_TYPE, &out)), 0x80000008u);
    EXPECT_EQ(uint32_t(out), 0x80000008u);
    auto info = orbsim::bufferInfo(id);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->attributes, 60u);
    EXPECT_EQ(info->bytesPerPixel, 1);
    EXPECT_EQ(orbsim::bufferCount(), 1u);
    orbBufFree(id);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbBuffers, BytesPerPixelFollowTheBitDepth)
{
    const std::pair<uint32_t, int> cases[] = {{1, 1}, {8, 1}, {9, 2}, {12, 2}, {16, 2}, {17, 4}, {24, 4}, {32, 4},
                                              {ORB_SIGNED | 16, 2}};
    for (auto [type, bpp] : cases) {
        const OrbId id = alloc(3, 2, type);
        ASSERT_NE(id, 0u) << type;
        EXPECT_EQ(orbsim::bufferInfo(id)->bytesPerPixel, bpp) << type;
    }
}

TEST_F(OrbBuffers, BadAllocationsAreRefused)
{
    struct Case {
        int w, h;
        uint32_t type, attr;
        const char* sub;
    };
    const Case cases[] = {
        {0, 5, 8, 4, "Invalid buffer size 0 x 5"},
        {5, -1, 8, 4, "Invalid buffer size 5 x -1"},
        {100000, 100000, 8, 4, "Invalid buffer size 100000 x 100000"},
        {32768, 32768, 32, 4, "Invalid buffer size 32768 x 32768"},
        {4, 4, 0, 4, "Invalid buffer type 0x0"},
        {4, 4, 33, 4, "Invalid buffer type 0x21"},
        {4, 4, 0x40000008, 4, "Invalid buffer type 0x40000008"},
        {4, 4, 8, 0x104, "Unknown attribute bits 0x100"},
    };
    for (const Case& c : cases) {
        clearReported();
        OrbId id = 99;
        EXPECT_EQ(orbBufAlloc2d(sys, c.w, c.h, c.type, c.attr, &id), 0u);
        EXPECT_EQ(id, 0u);
        ASSERT_EQ(errorCount(), 1u);
        const Reported r = lastReported();
        EXPECT_EQ(r.function, "orbBufAlloc2d");
        EXPECT_EQ(r.message, "Unacceptable buffer attribute");
        ASSERT_FALSE(r.subs.empty());
        EXPECT_EQ(r.subs[0], c.sub);
    }
    EXPECT_EQ(orbBufAlloc2d(0x4444, 4, 4, 8, 4, nullptr), 0u);
    EXPECT_EQ(lastReported().message, "Invalid system id");
    EXPECT_EQ(orbsim::bufferCount(), 0u);
}

TEST_F(OrbBuffers, InjectedFailureGivesIdZero)
{
    orbsim::failNextAlloc();
    OrbId id = 7;
    EXPECT_EQ(orbBufAlloc2d(sys, 8, 8, 8, 4, &id), 0u);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(lastReported().message, "Insufficient memory");
    EXPECT_NE(alloc(8, 8), 0u);
}

// ---- whole and 2D transfers ----

TEST_F(OrbBuffers, PutGetRoundTrip8And16Bit)
{
    for (uint32_t type : {8u, 16u, 32u, ORB_SIGNED | 16u}) {
        const int bpp = orbpix::bytesPerPixel(type);
        const OrbId id = alloc(13, 7, type);
        const std::vector<uint8_t> in = ramp(13 * 7 * size_t(bpp), 3);
        orbBufPut(id, in.data());
        std::vector<uint8_t> out(in.size(), 0xEE);
        orbBufGet(id, out.data());
        EXPECT_EQ(out, in) << type;
    }
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbBuffers, Get2dReadsTheRectangleRowByRow)
{
    const OrbId id = alloc(6, 5);
    const std::vector<uint8_t> in = ramp(30);
    orbBufPut(id, in.data());
    uint8_t block[6] = {};
    orbBufGet2d(id, 2, 1, 3, 2, block);
    const uint8_t expected[6] = {in[8], in[9], in[10], in[14], in[15], in[16]};
    EXPECT_EQ(0, std::memcmp(block, expected, 6));
    uint8_t one = 0;
    orbBufGet2d(id, 5, 4, 1, 1, &one);
    EXPECT_EQ(one, in[29]);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbBuffers, Put2dWritesOnlyTheRectangle16Bit)
{
    const OrbId id = alloc(4, 3, 16);
    orbBufClear(id, 1000);
    const uint16_t block[4] = {1, 2, 3, 65535};
    orbBufPut2d(id, 1, 1, 2, 2, block);
    uint16_t all[12];
    orbBufGet(id, all);
    const uint16_t expected[12] = {1000, 1000, 1000, 1000, 1000, 1, 2, 1000, 1000, 3, 65535, 1000};
    EXPECT_EQ(0, std::memcmp(all, expected, sizeof all));
    uint16_t back[4] = {};
    orbBufGet2d(id, 1, 1, 2, 2, back);
    EXPECT_EQ(0, std::memcmp(back, block, sizeof block));
}

TEST_F(OrbBuffers, RectangleOutsideTheBufferTouchesNothing)
{
    const OrbId id = alloc(4, 4);
    orbBufClear(id, 9);
    std::vector<uint8_t> block(64, 0x55);
    const struct {
        int x, y, w, h;
    } bad[] = {{-1, 0, 2, 2}, {0, -1, 2, 2}, {3, 0, 2, 1}, {0, 3, 1, 2}, {0, 0, 5, 1}, {4, 4, 1, 1},
               {0x7fffffff, 0, 2, 1}, {1, 1, 0, 1}, {1, 1, 1, -3}};
    for (auto r : bad) {
        clearReported();
        orbBufPut2d(id, r.x, r.y, r.w, r.h, block.data());
        ASSERT_EQ(errorCount(), 1u);
        EXPECT_EQ(lastReported().function, "orbBufPut2d");
        orbBufGet2d(id, r.x, r.y, r.w, r.h, block.data());
        EXPECT_EQ(lastReported().function, "orbBufGet2d");
    }
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t v) { return v == 0x55; }));
    std::vector<uint8_t> all(16);
    orbBufGet(id, all.data());
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](uint8_t v) { return v == 9; }));
    orbBufGet2d(id, 3, 0, 2, 1, block.data());
    Reported r = lastReported();
    EXPECT_EQ(r.message, "Region outside the buffer");
    EXPECT_EQ(r.subs, (std::vector<std::string>{"Region (3, 0) 2 x 1", "Buffer size 4 x 4"}));
}

TEST_F(OrbBuffers, NullMemoryAndUnknownIds)
{
    const OrbId id = alloc(2, 2);
    orbBufGet(id, nullptr);
    EXPECT_EQ(lastReported().message, "The memory pointer is null");
    orbBufGet2d(id, 0, 0, 1, 1, nullptr);
    EXPECT_EQ(lastReported().function, "orbBufGet2d");
    uint8_t px[4];
    for (auto call : {+[](uint8_t* p) { orbBufGet(0x12345, p); }, +[](uint8_t* p) { orbBufPut(0x12345, p); },
                      +[](uint8_t*) { orbBufClear(0x12345, 1); }, +[](uint8_t*) { orbBufFree(0x12345); }}) {
        clearReported();
        call(px);
        ASSERT_EQ(errorCount(), 1u);
        EXPECT_EQ(lastReported().message, "Invalid buffer id");
        EXPECT_EQ(lastReported().subs.at(0), "Buffer id 0x12345 is not allocated");
    }
    EXPECT_EQ(orbBufInquire(0x12345, ORB_BUF_SIZE_X, nullptr), 0);
    OrbInt out = 77;
    EXPECT_EQ(orbBufInquire(id, 1005, &out), 0);
    EXPECT_EQ(out, 77);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown buffer inquire type 1005");
}

TEST_F(OrbBuffers, FreedBufferIsGone)
{
    const OrbId id = alloc(2, 2);
    orbBufFree(id);
    uint8_t px[4];
    orbBufGet(id, px);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    // Ids are not reused.
    EXPECT_NE(alloc(2, 2), id);
}

// ---- clear and copy ----

TEST_F(OrbBuffers, ClearRoundsAndClampsToTheType)
{
    struct Case {
        uint32_t type;
        double value;
        uint32_t expected;
    };
    const Case cases[] = {
        {8, 0.0, 0},       {8, 127.6, 128},       {8, 300, 255},           {8, -5, 0},
        {16, 1000, 1000},  {16, 70000, 65535},    {ORB_SIGNED | 8, -1, 0xFF}, {ORB_SIGNED | 8, -200, 0x80},
        {ORB_SIGNED | 8, 200, 0x7F}, {ORB_SIGNED | 16, -2, 0xFFFE}, {12, 5000, 4095}, {32, 4e9, 4000000000u},
        {1, 1, 1},         {1, 7, 1},
    };
    for (const Case& c : cases) {
        const OrbId id = alloc(3, 2, c.type);
        orbBufClear(id, c.value);
        const int bpp = orbpix::bytesPerPixel(c.type);
        std::vector<uint8_t> px(6 * size_t(bpp));
        orbBufGet(id, px.data());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(orbpix::load(&px[size_t(i * bpp)], bpp), c.expected) << c.type << " " << c.value;
    }
    const OrbId id = alloc(1, 1);
    orbBufClear(id, std::nan(""));
    EXPECT_EQ(lastReported().subs.at(0), "The clear value is not a number");
}

TEST_F(OrbBuffers, CopyNeedsTheSameSizeAndType)
{
    const OrbId a = alloc(5, 4, 16), b = alloc(5, 4, 16), c = alloc(5, 4, 8), d = alloc(4, 5, 16);
    const std::vector<uint8_t> in = ramp(40);
    orbBufPut(a, in.data());
    orbBufClear(b, 3);
    orbBufCopy(a, b);
    std::vector<uint8_t> out(40);
    orbBufGet(b, out.data());
    EXPECT_EQ(out, in);
    EXPECT_EQ(errorCount(), 0u);

    orbBufClear(c, 1);
    orbBufClear(d, 2);
    orbBufCopy(a, c);
    EXPECT_EQ(lastReported().message, "Buffers do not match");
    orbBufCopy(a, d);
    EXPECT_EQ(lastReported().message, "Buffers do not match");
    orbBufCopy(a, 0x999);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    EXPECT_EQ(errorCount(), 3u);
    std::vector<uint8_t> pc(20), pd(40);
    orbBufGet(c, pc.data());
    orbBufGet(d, pd.data());
    EXPECT_TRUE(std::all_of(pc.begin(), pc.end(), [](uint8_t v) { return v == 1; }));
    for (size_t i = 0; i < 40; i += 2) EXPECT_EQ(pd[i] | pd[i + 1] << 8, 2);
    orbBufCopy(a, a);  // onto itself: nothing changes, no error
    orbBufGet(a, out.data());
    EXPECT_EQ(out, in);
    EXPECT_EQ(errorCount(), 3u);
}

// ---- pixel conversions ----

TEST(OrbPixels, RescaleWidensAndNarrowsBackExactly)
{
    EXPECT_EQ(orbpix::rescale(255, 8, 16), 65535u);
    EXPECT_EQ(orbpix::rescale(1, 8, 16), 257u);
    EXPECT_EQ(orbpix::rescale(0xABCD, 16, 8), 0xABu);
    EXPECT_EQ(orbpix::rescale(200, 8, 32), 200u * 0x01010101u);
    EXPECT_EQ(orbpix::rescale(1, 1, 8), 255u);
    for (int bits : {9, 10, 12, 16, 24, 32})
        for (uint32_t v = 0; v < 256; ++v) ASSERT_EQ(orbpix::rescale(orbpix::rescale(v, 8, bits), bits, 8), v) << bits;
}

TEST(OrbPixels, GreyShowsTheHighByte)
{
    const uint16_t px[3] = {0x1234, 0xFF00, 0x00FF};
    auto g = orbpix::toGrey(reinterpret_cast<const uint8_t*>(px), 16, 3);
    EXPECT_EQ(g, (std::vector<uint8_t>{0x12, 0xFF, 0x00}));
    const uint8_t s8[2] = {0x80, 0x7F};
    EXPECT_EQ(orbpix::toGrey(s8, ORB_SIGNED | 8, 2), (std::vector<uint8_t>{0x80, 0x7F}));
}

TEST(OrbPixels, SizeBounds)
{
    EXPECT_TRUE(orbpix::validSize(1, 1, 8));
    EXPECT_TRUE(orbpix::validSize(16384, 16384, 8));
    EXPECT_FALSE(orbpix::validSize(16384, 16384, 16));  // 512 MiB
    EXPECT_FALSE(orbpix::validSize(32769, 1, 8));
    EXPECT_FALSE(orbpix::validSize(1, 0, 8));
    EXPECT_FALSE(orbpix::validSize(1, 1, 0));
}

}  // namespace
