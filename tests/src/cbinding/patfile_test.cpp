// Pattern-model files: the model's size from its header, the model read whole from any
// position, the refusals; and the widths inquired values are stored at.
#include "impat.h"
#include "patfile.h"

#include "patmodel.h"
#include "../../fuzz/seeds.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using patmodel::Model;

// A file of prefix bytes, then the model, then trailing bytes; read from the model's start.
struct Read {
    int32_t code = 0;
    std::vector<uint8_t> bytes;
    const char* text = nullptr;
    long after = 0;
};

Read ReadAt(const std::vector<uint8_t>& model, uint32_t prefix = 0, uint32_t trailing = 0, bool seed = false)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/patfile-" + std::to_string(::getpid()) + ".pat";
    FILE* f = std::fopen(path.c_str(), "wb+");
    EXPECT_NE(f, nullptr);
    std::vector<uint8_t> file(prefix, 0xA5);
    file.insert(file.end(), model.begin(), model.end());
    file.insert(file.end(), trailing, 0x5A);
    if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);
    std::fflush(f);
    if (seed) qsrf_fuzz::SaveFuzzSeed("patmodel", path);
    std::fseek(f, static_cast<long>(prefix), SEEK_SET);
    Read r;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    r.code = pat_read_model(f, &bytes, &size, &r.text);
    if (bytes) r.bytes.assign(bytes, bytes + size);
    std::free(bytes);
    r.after = std::ftell(f);
    std::fclose(f);
    ::unlink(path.c_str());
    return r;
}

TEST(PatModelFile, AModelOfEachMagicIsReadWhole)
{
    const std::vector<std::vector<uint8_t>> models{
        Model(kPatMagic1, {{16, 12}, {8, 6}}),
        Model(kPatMagic2, {{5, 3}}),
        Model(kPatMagic3, {{32, 32}, {16, 16}, {8, 8}, {4, 4}, {2, 2}, {1, 1}, {1, 1}, {1, 1}}),
        Model(kPatMagicSized, {}, 1000),
    };
    for (const auto& m : models) {
        SCOPED_TRACE(m[0]);
        const Read r = ReadAt(m, 0, 50, true);
        ASSERT_EQ(r.code, 0) << r.text;
        EXPECT_EQ(r.bytes, m);
        EXPECT_EQ(r.after, static_cast<long>(m.size()));
    }
}

TEST(PatModelFile, AModelIsTakenFromWhereTheFileStands)
{
    // The size-field model of 1000 bytes, 333 bytes into its file, with more after it.
    const auto m = Model(kPatMagicSized, {}, 1000);
    const Read r = ReadAt(m, 333, 4000);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.bytes, m);
    EXPECT_EQ(r.after, 1333);
}

TEST(PatModelFile, TheSizeComesFromTheLevelsItCounts)
{
    uint32_t size = 0;
    // Level count 0: the header only.
    auto none = Model(kPatMagic1, {});
    ASSERT_EQ(pat_model_size(none.data(), static_cast<uint32_t>(none.size()), &size), 0);
    EXPECT_EQ(size, 712u);
    // Only the first N levels count, whatever the other records hold.
    auto two = Model(kPatMagic2, {{10, 10}, {4, 5}});
    patmodel::Le16(two, kPatLevelTableAt + 2 * kPatLevelRecordBytes, 99);
    patmodel::Le16(two, kPatLevelTableAt + 2 * kPatLevelRecordBytes + 2, 99);
    ASSERT_EQ(pat_model_size(two.data(), static_cast<uint32_t>(two.size()), &size), 0);
    EXPECT_EQ(size, 712u + 100u + 20u);
}

TEST(PatModelFile, FilesThatHoldNoModelAreRefused)
{
    auto badMagic = Model(kPatMagic1, {});
    badMagic[0] ^= 1;
    auto version2 = Model(kPatMagic3, {});
    version2[4] = 2;
    auto nineLevels = Model(kPatMagic1, {});
    patmodel::Le16(nineLevels, kPatLevelCountAt, 9);
    auto negative = Model(kPatMagic1, {});
    patmodel::Le16(negative, kPatLevelCountAt, 0xFFFF);
    auto negativeWidth = Model(kPatMagic1, {{1, 1}});
    patmodel::Le16(negativeWidth, kPatLevelTableAt, 0x8000);
    auto tinySize = Model(kPatMagicSized, {}, 20);
    patmodel::Le32(tinySize, 6, 9);
    auto hugeSize = Model(kPatMagicSized, {}, 20);
    patmodel::Le32(hugeSize, 6, 0xFFFFFFF0u);
    auto longerThanFile = Model(kPatMagicSized, {}, 20);
    patmodel::Le32(longerThanFile, 6, 2000);
    auto levelsPastEnd = Model(kPatMagic1, {{30, 30}});
    levelsPastEnd.resize(800);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases{
        {"magic", badMagic},         {"version 2", version2},       {"nine levels", nineLevels},
        {"negative levels", negative}, {"negative width", negativeWidth}, {"size below its field", tinySize},
        {"size beyond 64 MB", hugeSize}, {"size beyond the file", longerThanFile},
        {"levels beyond the file", levelsPastEnd}, {"short header", std::vector<uint8_t>(100, 0)},
        {"empty", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const Read r = ReadAt(c.second);
        EXPECT_EQ(r.code, -3);
        EXPECT_STREQ(r.text, "File does not contain valid model");
        EXPECT_TRUE(r.bytes.empty());
    }
}

TEST(PatWidths, InquiredValuesAreStoredAtTheWidthAsked)
{
    uint8_t out[8];
    auto bytes = [&](double v, uint32_t bits) {
        std::memset(out, 0xCC, sizeof out);
        pat_store_width(v, bits, out);
    };
    bytes(3.9, kPatWidth16);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0xCC);   // two bytes only
    bytes(-3.9, kPatWidth8 | kPatWidthFloat);
    EXPECT_EQ(static_cast<int8_t>(out[0]), -3);
    EXPECT_EQ(out[1], 0xCC);
    bytes(70000.7, kPatWidth32 | 5);
    int32_t i32;
    std::memcpy(&i32, out, 4);
    EXPECT_EQ(i32, 70000);
    EXPECT_EQ(out[4], 0xCC);
    bytes(2.5, kPatWidthFloat);
    float f;
    std::memcpy(&f, out, 4);
    EXPECT_EQ(f, 2.5f);
    bytes(2.25, 7);
    double d;
    std::memcpy(&d, out, 8);
    EXPECT_EQ(d, 2.25);
}

}  // namespace
