// Float map files (.flt) and the data exchange of float planes with .flt and .psm files.
#include "qt_environment.h"
#include "Floatimage.h"

#include "../fuzz/namedpipe.h"
#include "../fuzz/seeds.h"
#include "Apperror.h"
#include "Dataexchange.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Phaseshiftmoire.h"
#include "registry.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace qtenv;

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void PutU32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

uint32_t Bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

float FromBits(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// A .flt file image: header fields as given, then the values.
Bytes FltBytes(int32_t w, int32_t h, const std::vector<float>& values,
               const float scale[3] = nullptr, const uint8_t* reserved = nullptr)
{
    Bytes b;
    PutU32(b, uint32_t(w));
    PutU32(b, uint32_t(h));
    for (int i = 0; i < 3; ++i) PutU32(b, Bits(scale ? scale[i] : 1.0f));
    for (int i = 0; i < 10; ++i) b.push_back(reserved ? reserved[i] : 0);
    for (float v : values) PutU32(b, Bits(v));
    return b;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

class FloatFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/floatimage_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        for (const std::string& n : DirEntries(dir_)) std::remove((dir_ + "/" + n).c_str());
        rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A project of w x h pixels holding the given float planes (code -> values).
    std::unique_ptr<TPhaseShiftMoire> Project(int w, int h, std::vector<std::pair<int, std::vector<float>>> planes)
    {
        auto p = std::make_unique<TPhaseShiftMoire>("test");
        p->AllocBytePlanes(w, h);
        for (auto& [code, values] : planes) {
            std::unique_ptr<float[]> plane(new float[values.size()]);
            std::copy(values.begin(), values.end(), plane.get());
            p->SetFloatPlane(code, std::move(plane));
        }
        p->SetModified(false);
        return p;
    }
    static std::vector<float> Plane(const TPhaseShiftMoire& p, int code)
    {
        const float* f = p.FloatPlane(code);
        return std::vector<float>(f, f + p.Pixels());
    }

    qsrf::registry::ScopedProcessBackend backend_{std::make_shared<qsrf::registry::MemoryBackend>()};
    std::string dir_;
};

// ---- the file format ----------------------------------------------------------------------

TEST_F(FloatFiles, ThreeByTwoPlaneGivesTheGolden54Bytes)
{
    auto p = Project(3, 2, {{kPhaseCode, {1.0f, -2.0f, 0.5f, 0.0f, 3.0f, -0.25f}}});
    OutputFloatPlane(*p, kPhaseCode, Path("golden.flt"));
    const Bytes expected = {
        0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,                          // 3 x 2
        0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F,  // 1.0 x 3
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // reserved
        0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x3F,  // 1 -2 0.5
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x80, 0xBE,  // 0 3 -0.25
    };
    EXPECT_EQ(ReadBytes(Path("golden.flt")), expected);
    // The plane stays with the project, unchanged.
    EXPECT_EQ(Plane(*p, kPhaseCode), (std::vector<float>{1.0f, -2.0f, 0.5f, 0.0f, 3.0f, -0.25f}));
}

TEST_F(FloatFiles, RoundTripIsBitExact)
{
    const std::vector<uint32_t> bits = {
        0x7FC12345u,   // a quiet NaN with a payload
        0x80000000u,   // -0.0
        0x00000001u,   // the smallest denormal
        0x7F800000u,   // +inf
        0xFF7FFFFFu,   // -max
        Bits(3.14159265f),
    };
    std::vector<float> values;
    for (uint32_t b : bits) values.push_back(FromBits(b));
    TFloatImage out(values.data(), 2, 3);
    EXPECT_EQ(out.Ownership(), TFloatImage::kBorrowed);
    EXPECT_EQ(out.Data(), values.data());
    out.SaveToFile(Path("rt.flt"));
    qsrf_fuzz::SaveFuzzSeed("flt", Path("rt.flt"));

    TFloatImage in(Path("rt.flt"));
    EXPECT_EQ(in.Name(), Path("rt.flt"));
    EXPECT_EQ(in.Width(), 2);
    EXPECT_EQ(in.Height(), 3);
    EXPECT_EQ(in.Ownership(), TFloatImage::kLoaded);
    for (size_t i = 0; i < bits.size(); ++i) EXPECT_EQ(Bits(in.Data()[i]), bits[i]) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(in.ScaleFactors()[i], 1.0f);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(in.Reserved()[i], 0);
    EXPECT_EQ(ReadBytes(Path("rt.flt")).size(), 30u + 4 * 6);
}

TEST_F(FloatFiles, ScaleFactorsAndReservedBlockAreKeptAsStored)
{
    const float scale[3] = {2.0f, -3.5f, 1e-3f};
    const uint8_t reserved[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const Bytes file = FltBytes(1, 2, {7.0f, 8.0f}, scale, reserved);
    WriteBytes(Path("a.flt"), file);
    TFloatImage map(Path("a.flt"));
    EXPECT_EQ(map.ScaleFactors()[1], -3.5f);
    EXPECT_EQ(map.Reserved()[9], 10);
    map.SaveToFile(Path("b.flt"));
    EXPECT_EQ(ReadBytes(Path("b.flt")), file);
    qsrf_fuzz::SaveFuzzSeed("flt", Path("b.flt"));
}

TEST_F(FloatFiles, NamedPipeIsRefusedAtOnceAndTheMapKeepsItsValues)
{
    WriteBytes(Path("good.flt"), FltBytes(2, 1, {5.0f, 6.0f}));
    TFloatImage map(Path("good.flt"));
    const std::string pipe = Path("pipe.flt");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    const auto message = qsrf_test::ReadWithDeadline(pipe, [&] { return ErrorOf([&] { map.LoadFromFile(pipe); }); });
    ASSERT_TRUE(message.has_value()) << "loading a named pipe blocked";
    EXPECT_EQ(*message, pipe + " is not a float data file: it is a named pipe, not a regular file");
    EXPECT_EQ(map.Name(), Path("good.flt"));
    EXPECT_EQ(map.Data()[1], 6.0f);
    // The constructor from a file reads through the same check.
    const auto made = qsrf_test::ReadWithDeadline(pipe, [&] { return ErrorOf([&] { TFloatImage other(pipe); }); });
    ASSERT_TRUE(made.has_value()) << "making a map from a named pipe blocked";
    EXPECT_EQ(*made, *message);
}

TEST_F(FloatFiles, MapMadeWithoutArrayOwnsZeros)
{
    TFloatImage map(nullptr, 4, 2);
    EXPECT_EQ(map.Ownership(), TFloatImage::kAllocated);
    ASSERT_NE(map.Data(), nullptr);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(map.Data()[i], 0.0f);
    EXPECT_TRUE(map.Name().empty());
    EXPECT_THROW(TFloatImage(nullptr, 0, 2), EAppError);
    EXPECT_THROW(TFloatImage(nullptr, 2, -1), EAppError);
}

TEST_F(FloatFiles, MalformedFilesAreRefusedAndTheMapKeepsItsValues)
{
    WriteBytes(Path("good.flt"), FltBytes(2, 1, {5.0f, 6.0f}));
    TFloatImage map(Path("good.flt"));

    struct Case {
        const char* name;
        Bytes bytes;
        const char* says;
    };
    Bytes shortByOne = FltBytes(2, 2, {1, 2, 3, 4});
    shortByOne.pop_back();
    Bytes longByOne = FltBytes(2, 2, {1, 2, 3, 4});
    longByOne.push_back(0);
    const Case cases[] = {
        {"empty", {}, "shorter than its 30-byte header"},
        {"header only 29", Bytes(29, 0), "shorter than its 30-byte header"},
        {"width 0", FltBytes(0, 2, {}), "size 0 x 2 is not possible"},
        {"height negative", FltBytes(2, -1, {}), "size 2 x -1 is not possible"},
        {"short by one", shortByOne, "holds 45 bytes instead of 46"},
        {"long by one", longByOne, "holds 47 bytes instead of 46"},
        {"huge", FltBytes(0x7FFFFFFF, 0x7FFFFFFF, {}), "holds 30 bytes instead of"},
    };
    for (const Case& c : cases) {
        const std::string path = Path("bad.flt");
        WriteBytes(path, c.bytes);
        const std::string message = ErrorOf([&] { map.LoadFromFile(path); });
        EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(path), std::string::npos) << c.name;
        EXPECT_EQ(map.Width(), 2) << c.name;
        EXPECT_EQ(map.Height(), 1) << c.name;
        EXPECT_EQ(map.Data()[1], 6.0f) << c.name;
        EXPECT_EQ(map.Name(), Path("good.flt")) << c.name;
    }
    EXPECT_NE(ErrorOf([&] { map.LoadFromFile(Path("missing.flt")); }).find("Cannot open the file"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { map.LoadFromFile(dir_); }).find("not a regular file"), std::string::npos);
}

TEST_F(FloatFiles, SaveReplacesOnlyWithAWholeFileAndLeavesNoTemporary)
{
    float v[2] = {1.0f, 2.0f};
    TFloatImage map(v, 2, 1);
    WriteBytes(Path("out.flt"), Bytes{1, 2, 3});
    map.SaveToFile(Path("out.flt"));
    EXPECT_EQ(ReadBytes(Path("out.flt")), FltBytes(2, 1, {1.0f, 2.0f}));
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"out.flt"});

    const std::string message = ErrorOf([&] { map.SaveToFile(Path("no/such/dir/x.flt")); });
    EXPECT_NE(message.find("Cannot create the file"), std::string::npos) << message;
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"out.flt"});
}

// ---- combining planes -----------------------------------------------------------------------

TEST(CombinePlane, TheThreeModesInSinglePrecision)
{
    const float loaded[3] = {1.0f, FromBits(0x7FC00001u), 0.1f};
    float assign[3] = {9, 9, 9};
    CombinePlane(assign, loaded, 3, kLoadAssign);
    EXPECT_EQ(Bits(assign[1]), 0x7FC00001u);   // a bit copy, NaN payload and all
    EXPECT_EQ(assign[2], 0.1f);

    const float small[2] = {1.0f, 0.1f};
    float sub[2] = {1.0e8f, 0.3f};
    CombinePlane(sub, small, 2, kLoadSubtract);
    EXPECT_EQ(sub[0], 1.0e8f);                  // 1e8 - 1 rounds back to 1e8 in float
    EXPECT_EQ(sub[1], 0.3f - 0.1f);
    float add[2] = {1.0e8f, 0.2f};
    CombinePlane(add, small, 2, kLoadAdd);
    EXPECT_EQ(add[0], 1.0e8f);
    EXPECT_EQ(add[1], 0.2f + 0.1f);
    EXPECT_THROW(CombinePlane(add, small, 2, 3), EAppError);
}

TEST_F(FloatFiles, LoadingTheSamePlaneWithSubtractGivesZero)
{
    auto p = Project(3, 2, {{kUnwrappedPhaseCode, {1.5f, -2.0f, 7.25f, 0.0f, 1e-3f, 99.0f}}});
    OutputFloatPlane(*p, kUnwrappedPhaseCode, Path("same.flt"));
    ASSERT_TRUE(LoadFloatPlane(*p, kUnwrappedPhaseCode, Path("same.flt"), kLoadSubtract));
    EXPECT_EQ(Plane(*p, kUnwrappedPhaseCode), std::vector<float>(6, 0.0f));
    EXPECT_TRUE(p->Modified());
    EXPECT_EQ(p->Header().FloatPresent[1], 1);
}

TEST_F(FloatFiles, AddAndAssignFromFlt)
{
    auto p = Project(2, 1, {{kConvertResultCode, {1.0f, 2.0f}}});
    WriteBytes(Path("two.FLT"), FltBytes(2, 1, {10.0f, 20.0f}));
    ASSERT_TRUE(LoadFloatPlane(*p, kConvertResultCode, Path("two.FLT"), kLoadAdd));
    EXPECT_EQ(Plane(*p, kConvertResultCode), (std::vector<float>{11.0f, 22.0f}));
    ASSERT_TRUE(LoadFloatPlane(*p, kConvertResultCode, Path("two.FLT"), kLoadAssign));
    EXPECT_EQ(Plane(*p, kConvertResultCode), (std::vector<float>{10.0f, 20.0f}));
}

TEST_F(FloatFiles, SizeMismatchIsRefusedWithItsMessageAndNothingChanges)
{
    auto p = Project(3, 2, {{kPhaseCode, {1, 2, 3, 4, 5, 6}}});
    WriteBytes(Path("other.flt"), FltBytes(2, 3, {9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(ErrorOf([&] { LoadFloatPlane(*p, kPhaseCode, Path("other.flt"), kLoadAssign); }),
              "Data having the same dimensions can be loaded");
    EXPECT_EQ(Plane(*p, kPhaseCode), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(p->Modified());
}

TEST_F(FloatFiles, MalformedFltLeavesPlaneAndModifiedFlagUntouched)
{
    auto p = Project(2, 1, {{kPhaseCode, {1, 2}}});
    Bytes bad = FltBytes(2, 1, {5, 6});
    bad.resize(bad.size() - 2);
    WriteBytes(Path("bad.flt"), bad);
    const std::string message = ErrorOf([&] { LoadFloatPlane(*p, kPhaseCode, Path("bad.flt"), kLoadAssign); });
    EXPECT_NE(message.find("instead of 38"), std::string::npos) << message;
    EXPECT_EQ(Plane(*p, kPhaseCode), (std::vector<float>{1, 2}));
    EXPECT_FALSE(p->Modified());
}

TEST_F(FloatFiles, OtherExtensionsChangeNothing)
{
    auto p = Project(2, 1, {{kPhaseCode, {1, 2}}});
    WriteBytes(Path("data.txt"), FltBytes(2, 1, {5, 6}));
    EXPECT_FALSE(LoadFloatPlane(*p, kPhaseCode, Path("data.txt"), kLoadAssign));
    EXPECT_FALSE(LoadFloatPlane(*p, kPhaseCode, Path("flt"), kLoadAssign));
    EXPECT_EQ(Plane(*p, kPhaseCode), (std::vector<float>{1, 2}));
    EXPECT_FALSE(p->Modified());
}

TEST_F(FloatFiles, PlaneOfAnotherProjectFile)
{
    auto source = Project(2, 2, {{kPhaseCode, {0, 0, 0, 0}}, {kUnwrappedPhaseCode, {1, 2, 3, 4}}});
    source->SaveToFile(Path("source.psm"));
    auto p = Project(2, 2, {{kPhaseCode, {0, 0, 0, 0}}, {kUnwrappedPhaseCode, {10, 10, 10, 10}}});

    ASSERT_TRUE(LoadFloatPlane(*p, kUnwrappedPhaseCode, Path("source.psm"), kLoadSubtract));
    EXPECT_EQ(Plane(*p, kUnwrappedPhaseCode), (std::vector<float>{9, 8, 7, 6}));
    EXPECT_TRUE(p->Modified());
    EXPECT_EQ(p->Name(), "test");   // the current project keeps its name

    // The source lacks Convert Result: refused, nothing read.
    auto q = Project(2, 2, {{kPhaseCode, {0, 0, 0, 0}}, {kConvertResultCode, {5, 5, 5, 5}}});
    const std::string message = ErrorOf([&] { LoadFloatPlane(*q, kConvertResultCode, Path("source.psm"), kLoadAdd); });
    EXPECT_EQ(message, "The project file " + Path("source.psm") + " holds no Convert Result data: nothing was loaded");
    EXPECT_EQ(Plane(*q, kConvertResultCode), std::vector<float>(4, 5.0f));
    EXPECT_FALSE(q->Modified());

    // A project file of another size.
    auto r = Project(4, 1, {{kUnwrappedPhaseCode, {0, 0, 0, 0}}});
    EXPECT_EQ(ErrorOf([&] { LoadFloatPlane(*r, kUnwrappedPhaseCode, Path("source.psm"), kLoadAdd); }),
              "Data having the same dimensions can be loaded");
}

TEST_F(FloatFiles, CurrentProjectWithoutThePlaneIsRefused)
{
    auto p = Project(2, 1, {{kPhaseCode, {1, 2}}});
    WriteBytes(Path("x.flt"), FltBytes(2, 1, {5, 6}));
    EXPECT_EQ(ErrorOf([&] { LoadFloatPlane(*p, kConvertResultCode, Path("x.flt"), kLoadAssign); }),
              "The current project has no Convert Result data to combine with");
    EXPECT_EQ(ErrorOf([&] { OutputFloatPlane(*p, kUnwrappedPhaseCode, Path("y.flt")); }),
              "The current project has no Unwrapped Phase data to output");
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"x.flt"});
}

// ---- the dialog -----------------------------------------------------------------------------

TEST_F(FloatFiles, DialogDisablesAbsentPlanesAndRunsItsFileDialogs)
{
    TScriptedDialogs dialogs;
    ScopedDialogs scoped(&dialogs);
    auto p = Project(3, 2, {{kPhaseCode, {1, 2, 3, 4, 5, 6}}, {kConvertResultCode, {0, 0, 0, 0, 0, 0}}});
    TDataExchangeForm form;
    EXPECT_EQ(form.windowTitle(), "Data Exchange");
    form.SetProject(p.get());
    EXPECT_TRUE(form.PhaseRadioButton->isEnabled());
    EXPECT_FALSE(form.UnwrappedPhaseRadioButton->isEnabled());
    EXPECT_TRUE(form.ConvertResultRadioButton->isEnabled());
    EXPECT_TRUE(form.PhaseRadioButton->isChecked());
    EXPECT_EQ(form.ChosenCode(), kPhaseCode);

    dialogs.AnswerFile(QString::fromStdString(Path("out.flt")));
    form.OutputBitBtnClick();
    EXPECT_EQ(ReadBytes(Path("out.flt")).size(), 54u);

    form.ConvertResultRadioButton->setChecked(true);
    EXPECT_EQ(form.ChosenCode(), kConvertResultCode);
    dialogs.AnswerFile(QString::fromStdString(Path("out.flt")));
    form.LoadingOperationRadioGroup->SetItemIndex(kLoadAdd);
    form.LoadBitBtnClick();
    EXPECT_EQ(Plane(*p, kConvertResultCode), (std::vector<float>{1, 2, 3, 4, 5, 6}));

    // Cancel changes nothing.
    p->SetModified(false);
    form.LoadBitBtnClick();
    EXPECT_FALSE(p->Modified());

    const auto requests = dialogs.FileRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0].Save);
    EXPECT_EQ(requests[0].Filter, "Float Data File(*.flt)|*.flt|All Files(*.*)|*.*");
    EXPECT_EQ(requests[0].FilterIndex, 1);
    EXPECT_TRUE(requests[0].FileName.isEmpty());
    EXPECT_FALSE(requests[1].Save);
    EXPECT_EQ(requests[1].Filter, "PhaseShift File(*.psm)|*.psm|Float Data File(*.flt)|*.flt|All Files(*.*)|*.*");
    EXPECT_EQ(requests[1].FilterIndex, 2);
}

TEST_F(FloatFiles, DialogSizeMismatchRaisesOutOfLoad)
{
    TScriptedDialogs dialogs;
    ScopedDialogs scoped(&dialogs);
    auto p = Project(3, 2, {{kPhaseCode, {1, 2, 3, 4, 5, 6}}});
    WriteBytes(Path("small.flt"), FltBytes(1, 1, {9}));
    TDataExchangeForm form;
    form.SetProject(p.get());
    dialogs.AnswerFile(QString::fromStdString(Path("small.flt")));
    EXPECT_EQ(ErrorOf([&] { form.LoadBitBtnClick(); }), "Data having the same dimensions can be loaded");
    EXPECT_EQ(Plane(*p, kPhaseCode), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(p->Modified());
}

}  // namespace
