// The registry object on the in-memory tree: types, missing and mistyped values, names,
// keys, and the process's backend.

#include "registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

using namespace qsrf::registry;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryBackend> backend = std::make_shared<MemoryBackend>();
};

// ---- value types ------------------------------------------------------------------------

TEST_F(RegistryTest, EachTypeReadsBackWhatWasWritten)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
    reg.WriteInteger("int", -123456789);
    reg.WriteInteger("max", std::numeric_limits<int32_t>::max());
    reg.WriteInteger("min", std::numeric_limits<int32_t>::min());
    reg.WriteFloat("float", 16.89110196616);
    reg.WriteBool("yes", true);
    reg.WriteBool("no", false);
    reg.WriteString("text", "C:\\path with \"quotes\"\nand a line");
    reg.WriteString("empty", "");
    reg.WriteBinaryData("bytes", {0, 1, 254, 255});
    reg.CloseKey();

    Registry again(backend);
    ASSERT_TRUE(again.OpenKey("Software\\Test", false));
    EXPECT_EQ(again.ReadInteger("int"), -123456789);
    EXPECT_EQ(again.ReadInteger("max"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(again.ReadInteger("min"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(again.ReadFloat("float"), 16.89110196616);
    EXPECT_TRUE(again.ReadBool("yes"));
    EXPECT_FALSE(again.ReadBool("no"));
    EXPECT_EQ(again.ReadString("text"), "C:\\path with \"quotes\"\nand a line");
    EXPECT_EQ(again.ReadString("empty"), "");
    EXPECT_EQ(again.ReadBinaryData("bytes"), (std::vector<uint8_t>{0, 1, 254, 255}));
}

TEST_F(RegistryTest, FloatIsEightBytesOfBinaryLeastSignificantFirst)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteFloat("half", 0.5);   // 0x3FE0000000000000
    EXPECT_EQ(reg.ReadBinaryData("half"), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xE0, 0x3F}));

    std::optional<Value> v = backend->GetValue({"K"}, "half");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, ValueType::Binary);

    reg.WriteFloat("nan", std::nan(""));
    EXPECT_TRUE(std::isnan(reg.ReadFloat("nan")));
    reg.WriteFloat("negzero", -0.0);
    EXPECT_TRUE(std::signbit(reg.ReadFloat("negzero")));
}

TEST_F(RegistryTest, BoolIsAnIntegerZeroOrOne)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteBool("b", true);
    EXPECT_EQ(reg.ReadInteger("b"), 1);
    reg.WriteBool("b", false);
    EXPECT_EQ(reg.ReadInteger("b"), 0);
    reg.WriteInteger("seven", 7);   // any integer other than 0 reads as true
    EXPECT_TRUE(reg.ReadBool("seven"));
}

// ---- missing versus mistyped ------------------------------------------------------------

TEST_F(RegistryTest, MissingValueRaisesMissingValueError)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
    EXPECT_THROW(reg.ReadInteger("absent"), MissingValueError);
    EXPECT_THROW(reg.ReadFloat("absent"), MissingValueError);
    EXPECT_THROW(reg.ReadBool("absent"), MissingValueError);
    EXPECT_THROW(reg.ReadBinaryData("absent"), MissingValueError);
    try {
        reg.ReadFloat("HomePos");
        FAIL();
    } catch (const MissingValueError& e) {
        EXPECT_STREQ(e.what(), "Registry value \"HomePos\" is missing in key \"Software\\Test\".");
    }
}

TEST_F(RegistryTest, MissingStringReadsAsEmpty)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
    EXPECT_EQ(reg.ReadString("last"), "");
}

TEST_F(RegistryTest, WrongTypeRaisesWrongTypeError)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
    reg.WriteString("s", "10");
    reg.WriteInteger("i", 10);
    reg.WriteBinaryData("four", {1, 2, 3, 4});
    reg.WriteFloat("f", 1.0);

    EXPECT_THROW(reg.ReadInteger("s"), WrongTypeError);
    EXPECT_THROW(reg.ReadBool("s"), WrongTypeError);
    EXPECT_THROW(reg.ReadFloat("i"), WrongTypeError);
    EXPECT_THROW(reg.ReadFloat("four"), WrongTypeError);   // binary, but not 8 bytes
    EXPECT_THROW(reg.ReadString("i"), WrongTypeError);
    EXPECT_THROW(reg.ReadInteger("f"), WrongTypeError);
    EXPECT_THROW(reg.ReadBinaryData("s"), WrongTypeError);
    try {
        reg.ReadFloat("four");
        FAIL();
    } catch (const WrongTypeError& e) {
        EXPECT_STREQ(e.what(), "Registry value \"four\" in key \"Software\\Test\" holds binary data "
                               "of 4 bytes, not an 8-byte floating-point value.");
    }
    // Both are registry errors, and neither is the other.
    EXPECT_THROW(reg.ReadInteger("s"), RegistryError);
    try {
        reg.ReadInteger("s");
    } catch (const MissingValueError&) {
        FAIL() << "a mistyped value must not look missing";
    } catch (const WrongTypeError&) {
    }
}

TEST_F(RegistryTest, OverwritingChangesTheType)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteString("v", "text");
    reg.WriteInteger("v", 3);
    EXPECT_EQ(reg.ReadInteger("v"), 3);
    EXPECT_THROW(reg.ReadString("v"), WrongTypeError);
}

// ---- names ------------------------------------------------------------------------------

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Kestrove NT\\Qsrf", true));
    reg.WriteInteger("BoardType", 5);
    reg.CloseKey();

    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\kestrove nt\\QSRF", false));
    EXPECT_EQ(reg.ReadInteger("boardtype"), 5);
    EXPECT_TRUE(reg.ValueExists("BOARDTYPE"));
    reg.WriteInteger("BOARDTYPE", 6);   // the same value, not a second one
    EXPECT_EQ(reg.ReadInteger("BoardType"), 6);

    EXPECT_NE(backend->GetValue({"software", "kestrove nt", "qsrf"}, "boardtype"), std::nullopt);
}

TEST_F(RegistryTest, NameCompareFoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(SameName("Phase shifting Angle", "PHASE SHIFTING ANGLE"));
    EXPECT_FALSE(SameName("Phase Shifting Method", "Phase shifting Angle"));
    EXPECT_FALSE(SameName("a", "ab"));
    EXPECT_FALSE(SameName("[", "{"));   // '[' and '{' differ by the case bit but are no letters
    NameLess less;
    EXPECT_FALSE(less("abc", "ABC"));
    EXPECT_FALSE(less("ABC", "abc"));
    EXPECT_TRUE(less("abc", "ABD"));
}

// ---- keys -------------------------------------------------------------------------------

TEST_F(RegistryTest, OpenKeyWithoutCreateFailsOnAMissingKeyAndCreatesNothing)
{
    Registry reg(backend);
    EXPECT_FALSE(reg.OpenKey("Software\\Missing", false));
    EXPECT_FALSE(reg.KeyExists("Software\\Missing"));
    EXPECT_FALSE(reg.KeyExists("Software"));
    EXPECT_EQ(reg.CurrentPath(), "");
}

TEST_F(RegistryTest, OpenKeyWithCreateMakesEveryLevel)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\Kestrove NT\\Qsrf\\0.01\\PI\\Ch1", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Kestrove NT\\Qsrf\\0.01\\PI\\Ch1");
    EXPECT_TRUE(backend->KeyExists({"Software"}));
    EXPECT_TRUE(backend->KeyExists({"Software", "Kestrove NT", "Qsrf", "0.01", "PI"}));
    // A trailing backslash is allowed, as in the program's root key.
    Registry other(backend);
    EXPECT_TRUE(other.OpenKey("Software\\Kestrove NT\\Qsrf\\0.01\\", false));
}

TEST_F(RegistryTest, RelativeAndAbsolutePaths)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software", true));
    ASSERT_TRUE(reg.OpenKey("Sub", true));   // relative to the current key
    EXPECT_EQ(reg.CurrentPath(), "Software\\Sub");
    EXPECT_TRUE(reg.KeyExists("\\Software\\Sub"));
    ASSERT_TRUE(reg.OpenKey("\\Other", true));   // absolute
    EXPECT_EQ(reg.CurrentPath(), "Other");
    EXPECT_TRUE(backend->KeyExists({"Other"}));
    EXPECT_FALSE(backend->KeyExists({"Software", "Sub", "Other"}));
}

TEST_F(RegistryTest, InvalidPathsAreRefused)
{
    Registry reg(backend);
    EXPECT_FALSE(reg.OpenKey("A\\\\B", true));
    EXPECT_FALSE(reg.OpenKey("A\nB", true));
    EXPECT_FALSE(reg.KeyExists("A\\\\B"));
    EXPECT_FALSE(backend->KeyExists({"A"}));
    EXPECT_THROW(backend->CreateKey({"A", ""}), RegistryError);
    EXPECT_THROW(backend->CreateKey({"A\\B"}), RegistryError);
}

TEST_F(RegistryTest, KeysDeeperThanTheLimitAreRefusedWithTheReason)
{
    std::string atLimit, tooDeep;
    for (size_t i = 0; i < kMaxKeyDepth; ++i)
        atLimit += "\\L" + std::to_string(i);
    tooDeep = atLimit + "\\Over";

    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey(atLimit, true));
    reg.WriteInteger("v", 1);
    try {
        reg.OpenKey(tooDeep, true);
        FAIL() << "a key of 65 levels was created";
    } catch (const RegistryError& e) {
        EXPECT_STREQ(e.what(), "Registry key \"L0\\L1\\L2\\...\" is 65 levels deep; keys may be "
                               "at most 64 levels deep.");
    }
    EXPECT_EQ(reg.CurrentPath().substr(0, 6), "L0\\L1\\");   // still the key at the limit
    EXPECT_EQ(reg.ReadInteger("v"), 1);
    EXPECT_FALSE(reg.OpenKey(tooDeep, false));
    // Relative to a deep current key, the depth counts from the root.
    EXPECT_THROW(reg.OpenKey("One", true), RegistryError);
    EXPECT_THROW(backend->CreateKey(KeyPath(300000, "k")), RegistryError);
    EXPECT_FALSE(backend->KeyExists({"k"}));
}

TEST_F(RegistryTest, FailedOpenKeepsTheCurrentKey)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software", true));
    EXPECT_FALSE(reg.OpenKey("Missing", false));
    EXPECT_EQ(reg.CurrentPath(), "Software");
}

TEST_F(RegistryTest, WithNoKeyOpenValuesLiveInTheRoot)
{
    Registry reg(backend);
    reg.WriteInteger("top", 1);
    EXPECT_EQ(backend->GetValue({}, "top"), Value::OfInteger(1));
    EXPECT_TRUE(reg.ValueExists("top"));
}

TEST_F(RegistryTest, DeleteValueAndKey)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Software\\A\\B", true));
    reg.WriteInteger("v", 1);
    EXPECT_TRUE(reg.DeleteValue("V"));
    EXPECT_FALSE(reg.ValueExists("v"));
    EXPECT_FALSE(reg.DeleteValue("v"));
    reg.CloseKey();

    EXPECT_TRUE(reg.DeleteKey("software\\a"));   // with its subkeys
    EXPECT_FALSE(reg.KeyExists("Software\\A\\B"));
    EXPECT_FALSE(reg.KeyExists("Software\\A"));
    EXPECT_TRUE(reg.KeyExists("Software"));
    EXPECT_FALSE(reg.DeleteKey("Software\\A"));
    EXPECT_FALSE(reg.DeleteKey(""));   // the root stays
}

TEST_F(RegistryTest, WritingIntoADeletedKeyRaises)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("Gone", true));
    Registry other(backend);
    ASSERT_TRUE(other.DeleteKey("Gone"));
    EXPECT_THROW(reg.WriteInteger("v", 1), RegistryError);
    EXPECT_THROW(reg.ReadInteger("v"), MissingValueError);
}

TEST_F(RegistryTest, RefusedWritesRaiseIoErrors)
{
    Registry reg(backend);
    ASSERT_TRUE(reg.OpenKey("K", true));
    backend->SetWritesFail(true);
    EXPECT_THROW(reg.WriteInteger("v", 1), RegistryIoError);
    EXPECT_THROW(reg.OpenKey("New", true), RegistryIoError);
    EXPECT_TRUE(reg.OpenKey("\\K", false));   // reading still works
    backend->SetWritesFail(false);
    reg.WriteInteger("v", 1);
    EXPECT_EQ(reg.ReadInteger("v"), 1);
}

// ---- the process's backend and threads --------------------------------------------------

TEST_F(RegistryTest, ScopedProcessBackendIsUsedByDefaultRegistryObjects)
{
    auto mine = std::make_shared<MemoryBackend>();
    {
        ScopedProcessBackend scope(mine);
        EXPECT_EQ(ProcessBackend(), mine);
        Registry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Quorvel\\Hlccout\\Options", true));
        reg.WriteInteger("Snooze", 1);
    }
    EXPECT_NE(ProcessBackend(), mine);
    Registry reg(mine);
    ASSERT_TRUE(reg.OpenKey("software\\quorvel\\hlccout\\options", false));
    EXPECT_EQ(reg.ReadInteger("snooze"), 1);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    constexpr int kThreads = 4, kValues = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kValues; ++i) {
                Registry reg(backend);
                ASSERT_TRUE(reg.OpenKey("T\\" + std::to_string(t), true));
                reg.WriteInteger("v" + std::to_string(i), t * 1000 + i);
                reg.CloseKey();
            }
        });
    for (auto& th : threads)
        th.join();
    Registry reg(backend);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(reg.OpenKey("\\T\\" + std::to_string(t), false));
        for (int i = 0; i < kValues; ++i)
            ASSERT_EQ(reg.ReadInteger("v" + std::to_string(i)), t * 1000 + i);
    }
}

TEST(RegistryPaths, SplitAndJoin)
{
    EXPECT_EQ(SplitKeyPath("Software\\Kestrove NT\\Qsrf\\0.01\\"),
              (KeyPath{"Software", "Kestrove NT", "Qsrf", "0.01"}));
    EXPECT_EQ(SplitKeyPath("\\A"), (KeyPath{"A"}));
    EXPECT_EQ(SplitKeyPath(""), KeyPath{});
    EXPECT_EQ(SplitKeyPath("PSM\\Coord. Transfer"), (KeyPath{"PSM", "Coord. Transfer"}));
    EXPECT_EQ(SplitKeyPath("A\\\\B"), std::nullopt);
    EXPECT_EQ(SplitKeyPath("A\tB"), std::nullopt);
    EXPECT_EQ(JoinKeyPath({"PI", "Ch1"}), "PI\\Ch1");
}

}  // namespace
