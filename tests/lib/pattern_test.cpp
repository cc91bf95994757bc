// Pattern-model files and the result readers on a board with its own processor, through
// hlclib.h and libhlclib.so: models of every magic go to the board and come back byte for
// byte wherever they lie in their file, bad files are refused with their texts, and result
// blocks the board holds in its memory are read exactly, cut to the caller's buffer where
// the board gives more.
#include "hlclib.h"
#include "libsandbox.h"
#include "processornode.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using processornode::ProcessorNodeTest;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMagic1 = 0x26081963u, kMagic2 = 0x2357BD00u, kMagic3 = 0x2CC1701Du, kMagicSized = 0x2CC1701Eu;

void Le16(Bytes& m, uint32_t at, uint32_t v)
{
    m[at] = static_cast<uint8_t>(v);
    m[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Le32(Bytes& m, uint32_t at, uint32_t v)
{
    Le16(m, at, v & 0xFFFF);
    Le16(m, at + 2, v >> 16);
}

// A model as the board serialises it: magic, version 1, and either its total size (the
// sized magic) or the level count at 308 and the level table at 312 with 712 header bytes
// before the level images; the rest pseudo-random.
Bytes Model(uint32_t magic, const std::vector<std::pair<int, int>>& levels, uint32_t total = 0, uint32_t seed = 7)
{
    uint32_t size = 712;
    for (const auto& l : levels) size += static_cast<uint32_t>(l.first * l.second);
    if (magic == kMagicSized) size = total;
    Bytes m(size);
    uint32_t x = seed;
    for (auto& b : m) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    Le32(m, 0, magic);
    Le16(m, 4, 1);
    if (magic == kMagicSized) {
        Le32(m, 6, total);
        return m;
    }
    Le16(m, 308, static_cast<uint32_t>(levels.size()));
    for (uint32_t i = 0; i < levels.size() && i < 8; ++i) {
        Le16(m, 312 + 10 * i, static_cast<uint32_t>(levels[i].first));
        Le16(m, 312 + 10 * i + 2, static_cast<uint32_t>(levels[i].second));
    }
    return m;
}

void ExpectError(int32_t code, const std::string& text)
{
    EXPECT_EQ(imAppGetError(0, nullptr), code);
    EXPECT_EQ(libsandbox::LastText(), text);
    imAppGetError(1, nullptr);
}

template <typename T> T At(const void* p, size_t offset)
{
    T v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + offset, sizeof v);
    return v;
}

class PatternTest : public ProcessorNodeTest {
protected:
    bool Place(uint32_t id, const Bytes& bytes) const
    {
        return boardsim::BoardSim::instance().cpu(0).placeResult(id, bytes);
    }
};

// ---- model files -----------------------------------------------------------------------

TEST_F(PatternTest, ModelsOfEveryMagicComeBackByteForByteFromAnywhereInTheirFile)
{
    const std::vector<Bytes> models{
        Model(kMagic1, {{16, 8}}),
        Model(kMagic2, {{4, 4}, {2, 2}}, 0, 3),
        Model(kMagic3, {}),
        Model(kMagic1, {{9, 3}, {8, 2}, {7, 2}, {6, 2}, {5, 2}, {4, 2}, {3, 2}, {2, 2}}, 0, 11),
        Model(kMagicSized, {}, 1000),
    };
    for (const Bytes& m : models) {
        SCOPED_TRACE(testing::Message() << std::hex << At<uint32_t>(m.data(), 0) << " of " << std::dec << m.size());
        // The model sits 100 bytes into its file, with more behind it.
        Bytes file(100 + m.size(), 0x42);
        std::copy(m.begin(), m.end(), file.begin() + 100);
        file.insert(file.end(), 50, 0x24);
        WriteFile("model.pat", file);
        FILE* f = std::fopen(box_.path("model.pat").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 100, SEEK_SET);
        uint32_t model = 0;
        EXPECT_EQ(imPatRead(device_, f, &model), 0);
        EXPECT_EQ(std::ftell(f), static_cast<long>(100 + m.size()));
        std::fclose(f);
        ASSERT_NE(model, 0u) << libsandbox::LastText();
        libsandbox::ExpectNoError();

        ASSERT_EQ(imPatSave(device_, box_.path("saved.pat").c_str(), model), 0);
        EXPECT_EQ(ReadFile("saved.pat"), m);
        uint32_t again = 0;
        EXPECT_EQ(imPatRestore(device_, box_.path("saved.pat").c_str(), &again), 0);
        EXPECT_NE(again, 0u);
        EXPECT_NE(again, model);
        FILE* out = std::fopen(box_.path("written.pat").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(imPatWrite(device_, out, again), 0);
        std::fclose(out);
        EXPECT_EQ(ReadFile("written.pat"), m);
        libsandbox::ExpectNoError();
        EXPECT_EQ(imPatFree(device_, model), 0);
        EXPECT_EQ(imPatFree(device_, again), 0);
    }
}

TEST_F(PatternTest, AModelsDescriptionComesFromItsBlockOnTheBoard)
{
    Bytes m = Model(kMagic1, {{16, 8}});
    Le16(m, 10, 0x1234);
    Le16(m, 12, 0xFFFB);
    const float x = 1.5f;
    std::memcpy(&m[16], &x, 4);
    Le16(m, 116, 111);
    Le16(m, 128, 222);
    Le16(m, 172, 0x8000);   // -32768: the default
    Le16(m, 174, 0xFFFB);   // -5
    Le16(m, 184, 9);
    WriteFile("m.pat", m);
    uint32_t model = 0;
    ASSERT_EQ(imPatRestore(device_, box_.path("m.pat").c_str(), &model), 0) << libsandbox::LastText();
    uint8_t d[72];
    std::memset(d, 0xCC, sizeof d);
    EXPECT_NE(imPatInquire(device_, model, 0, d), 0);
    libsandbox::ExpectNoError();
    EXPECT_EQ(At<uint16_t>(d, 0), At<uint16_t>(m.data(), 2));
    EXPECT_EQ(At<uint16_t>(d, 2), 1u);          // the version
    EXPECT_EQ(At<uint16_t>(d, 8), 0x1234u);
    EXPECT_EQ(At<int16_t>(d, 10), -5);
    EXPECT_EQ(At<float>(d, 12), 1.5f);
    EXPECT_EQ(At<float>(d, 20), 1.5f + 1.0f);   // x plus the i16 at description 2
    EXPECT_EQ(At<uint16_t>(d, 28), 111u);
    EXPECT_EQ(At<uint16_t>(d, 40), 222u);
    EXPECT_EQ(d[42], 0xCC);
    EXPECT_EQ(At<uint32_t>(d, 52), 0x10000000u);
    EXPECT_EQ(At<int32_t>(d, 56), -5);
    EXPECT_EQ(At<int32_t>(d, 68), 9);
    EXPECT_EQ(imPatFree(device_, model), 0);
}

TEST_F(PatternTest, FilesThatHoldNoModelAreRefusedWithTheirTexts)
{
    struct Case {
        const char* what;
        Bytes file;
    };
    Bytes v2 = Model(kMagic1, {{4, 4}});
    v2[4] = 2;
    Bytes magic = Model(kMagic1, {{4, 4}});
    magic[0] ^= 1;
    Bytes nine = Model(kMagic1, {{4, 4}});
    Le16(nine, 308, 9);
    Bytes negative = Model(kMagic2, {{4, 4}});
    Le16(negative, 308, 0xFFFF);
    Bytes negativeLevel = Model(kMagic3, {{4, 4}});
    Le16(negativeLevel, 312, 0xFFF0);
    Bytes tiny = Model(kMagicSized, {}, 100);
    Le32(tiny, 6, 5);   // smaller than the field itself
    Bytes huge = Model(kMagicSized, {}, 100);
    Le32(huge, 6, 0xFFFFFFF0u);
    Bytes shortModel = Model(kMagic1, {{16, 8}});
    shortModel.resize(shortModel.size() - 1);
    Bytes shortSized = Model(kMagicSized, {}, 1000);
    shortSized.resize(999);
    const std::vector<Case> cases{{"version 2", v2},          {"unknown magic", magic},
                                  {"nine levels", nine},      {"a negative level count", negative},
                                  {"a negative level", negativeLevel}, {"a size below its field", tiny},
                                  {"a size beyond any board", huge},    {"a file short of its levels", shortModel},
                                  {"a file short of its size", shortSized}, {"an empty file", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile("bad.pat", c.file);
        uint32_t model = 0x77;
        EXPECT_NE(imPatRestore(device_, box_.path("bad.pat").c_str(), &model), 0);
        EXPECT_EQ(model, 0u);
        ExpectError(-3, "File does not contain valid model");
    }
    uint32_t model = 0x77;
    EXPECT_NE(imPatRestore(device_, box_.root().c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    ExpectError(-3, "Can't open file for reading");
    EXPECT_NE(imPatRestore(device_, box_.path("absent.pat").c_str(), &model), 0);
    ExpectError(-3, "Can't open file for reading");
    EXPECT_NE(imPatSave(device_, box_.path("absent/x.pat").c_str(), 5), 0);
    ExpectError(-3, "Can't open file for writing");
    // A model the board does not hold writes nothing over an existing file.
    WriteFile("kept.pat", {1, 2, 3});
    EXPECT_NE(imPatSave(device_, box_.path("kept.pat").c_str(), (processornode::kNode << 16) | 0x7777), 0);
    ExpectError(-1, "Invalid buffer ID");
    EXPECT_EQ(ReadFile("kept.pat"), (Bytes{1, 2, 3}));
}

// ---- results ---------------------------------------------------------------------------

TEST_F(PatternTest, PatternResultsAreReadFromTheBlockTheBoardHolds)
{
    uint32_t result = 0;
    ASSERT_NE(imPatAllocResult(device_, 4, &result), 0u) << libsandbox::LastText();
    // Three results: the count at byte 4, records of 28 bytes from byte 24.
    Bytes block(24 + 3 * 28, 0);
    block[4] = 3;
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t w = 0; w < 7; ++w) Le32(block, 24 + 28 * k + 4 * w, 0x1000 * (k + 1) + w);
    ASSERT_TRUE(Place(result, block));

    int32_t number = 0;
    EXPECT_EQ(imPatGetNumber(device_, result, &number), 3);
    EXPECT_EQ(number, 3);
    Bytes out(4 * 16, 0xCC);
    EXPECT_EQ(imPatGetResult(device_, result, 0, out.data()), 0);
    for (uint32_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(At<uint16_t>(out.data(), 16 * k), 3u);
        EXPECT_EQ(out[16 * k + 2], 0xCC);   // left as they were
        EXPECT_EQ(out[16 * k + 3], 0xCC);
        for (uint32_t w = 0; w < 3; ++w) EXPECT_EQ(At<uint32_t>(out.data(), 16 * k + 4 + 4 * w), 0x1000 * (k + 1) + w);
    }
    EXPECT_EQ(out[48], 0xCC);

    // Another type: the records whole, through a temporary buffer the call frees.
    Bytes records(3 * 28 + 8, 0xCC);
    EXPECT_EQ(imPatGetResult(device_, result, 1, records.data()), 0);
    EXPECT_EQ(Bytes(records.begin(), records.begin() + 84), Bytes(block.begin() + 24, block.end()));
    EXPECT_EQ(records[84], 0xCC);
    libsandbox::ExpectNoError();

    // No results: nothing is copied.
    ASSERT_TRUE(Place(result, {}));
    std::fill(out.begin(), out.end(), 0xCC);
    EXPECT_EQ(imPatGetNumber(device_, result, nullptr), 0);
    EXPECT_EQ(imPatGetResult(device_, result, 0, out.data()), 0);
    EXPECT_EQ(out[0], 0xCC);
    EXPECT_EQ(imPatFree(device_, result), 0);
    EXPECT_EQ(imPatGetNumber(device_, result, nullptr), 0);
    ExpectError(-1, "Invalid buffer ID");
}

TEST_F(PatternTest, BlobResultsBeyondTheCallersBufferAreCut)
{
    uint32_t list = 0, result = 0;
    ASSERT_NE(imBlobAllocFeatureList(device_, &list), 0u) << libsandbox::LastText();
    ASSERT_NE(imBlobAllocResult(device_, &result), 0u) << libsandbox::LastText();
    EXPECT_NE(list, result);
    EXPECT_FALSE(Place(list, {1, 2, 3}));   // a feature list holds no results
    Bytes data(3 * 64);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(Place(static_cast<uint32_t>(result), data));
    const int32_t id = static_cast<int32_t>(result);

    Bytes a(256, 0xCC);
    EXPECT_EQ(imBlobGetResult(device_, id, 2, 3, a.data(), 16), 0);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 16), Bytes(data.begin(), data.begin() + 16));
    EXPECT_EQ(a[16], 0xCC);
    // A buffer larger than the result: the board's 192 bytes exactly.
    std::fill(a.begin(), a.end(), 0xCC);
    EXPECT_EQ(imBlobGetResult(device_, id, 2, 3, a.data(), 256), 0);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 192), data);
    EXPECT_EQ(a[192], 0xCC);

    // Runs: three arrays of 64 bytes one after another; only those given are copied.
    Bytes first(100, 0xCC), third(100, 0xCC);
    EXPECT_EQ(imBlobGetRuns(device_, id, 2, 3, first.data(), nullptr, third.data(), 20), 0);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 20), Bytes(data.begin(), data.begin() + 20));
    EXPECT_EQ(first[20], 0xCC);
    EXPECT_EQ(Bytes(third.begin(), third.begin() + 20), Bytes(data.begin() + 128, data.begin() + 148));
    EXPECT_EQ(third[20], 0xCC);
    std::fill(third.begin(), third.end(), 0xCC);
    EXPECT_EQ(imBlobGetRuns(device_, id, 2, 3, nullptr, nullptr, third.data(), 100), 0);
    EXPECT_EQ(Bytes(third.begin(), third.begin() + 64), Bytes(data.begin() + 128, data.end()));
    EXPECT_EQ(third[64], 0xCC);
    libsandbox::ExpectNoError();

    EXPECT_EQ(imBlobFree(device_, result), 0);
    EXPECT_EQ(imBlobFree(device_, list), 0);
    // Waited for after the frees, which go first through the ring.
    std::fill(a.begin(), a.end(), 0xCC);
    EXPECT_NE(imBlobGetResult(device_, id, 2, 3, a.data(), 16), 0);
    ExpectError(-1, "Invalid buffer ID");
    EXPECT_EQ(a[0], 0xCC);
    EXPECT_FALSE(Place(result, data));
}

} // namespace
