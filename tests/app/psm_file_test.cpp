// The .psm project file: header bytes, sizes, round trips and refused files.
#include "Phaseshiftmoire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <limits>
#include <random>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "../fuzz/namedpipe.h"
#include "../fuzz/seeds.h"
#include "Apperror.h"
#include "registry.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void PutI32(Bytes& b, size_t at, int32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

Bytes Hex(const char* text)
{
    Bytes out;
    for (const char* p = text; *p;) {
        if (*p == ' ') { ++p; continue; }
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

class PsmFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/psm_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        for (const auto& name : Entries()) std::remove((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // A project with all six byte planes and the float planes whose codes are given, filled
    // with pseudo-random values (float planes include NaN payloads, infinities and -0).
    static void Fill(TPhaseShiftMoire& p, int w, int h, std::initializer_list<int> codes, unsigned seed)
    {
        p.AllocBytePlanes(w, h);
        std::mt19937 rng(seed);
        for (int i = 0; i < kBytePlaneCount; ++i)
            for (size_t k = 0; k < p.Pixels(); ++k) p.BytePlane(i)[k] = static_cast<uint8_t>(rng());
        for (int code : codes) {
            std::unique_ptr<float[]> plane(new float[p.Pixels()]);
            for (size_t k = 0; k < p.Pixels(); ++k) {
                const uint32_t bits = static_cast<uint32_t>(rng());
                std::memcpy(&plane[k], &bits, 4);
            }
            plane[0] = -0.0f;
            if (p.Pixels() > 1) plane[1] = std::numeric_limits<float>::infinity();
            p.SetFloatPlane(code, std::move(plane));
        }
    }

    struct Snapshot {
        std::string name;
        bool modified;
        Bytes header;
        std::vector<Bytes> planes;
    };
    static Snapshot Take(const TPhaseShiftMoire& p)
    {
        Snapshot s{p.Name(), p.Modified(), Bytes(kPsmHeaderSize), {}};
        EncodePsmHeader(p.Header(), s.header.data());
        for (int i = 0; i < kBytePlaneCount; ++i)
            s.planes.push_back(p.BytePlane(i) ? Bytes(p.BytePlane(i), p.BytePlane(i) + p.Pixels()) : Bytes());
        for (int code : {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode}) {
            const uint8_t* f = reinterpret_cast<const uint8_t*>(p.FloatPlane(code));
            s.planes.push_back(f ? Bytes(f, f + 4 * p.Pixels()) : Bytes());
        }
        return s;
    }
    static void ExpectSame(const Snapshot& a, const Snapshot& b)
    {
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.modified, b.modified);
        EXPECT_EQ(a.header, b.header);
        EXPECT_EQ(a.planes, b.planes);
    }

    qsrf::registry::ScopedProcessBackend backend_{std::make_shared<qsrf::registry::MemoryBackend>()};
    std::string dir_;
};

// ---- header -----------------------------------------------------------------------------

TEST_F(PsmFile, NewProjectWritesTheGoldenHeader)
{
    TPhaseShiftMoire p("PhaseShiftMoire - 1");
    p.AllocBytePlanes(3, 2);
    p.SaveToFile(Path("golden.psm"));
    const Bytes file = ReadBytes(Path("golden.psm"));
    ASSERT_EQ(file.size(), 344u + 6 * 6);

    // Default settings: method 2222, threshold 128 auto, start point auto, unwrap method 1,
    // Zc 10, Zcf 1, Lp 10, Lpf 1, Theta 0.7854, pixel 0.006, X0 = Y0 = 0, grating 10.
    Bytes golden = Hex(
        "ff00ff00 010101010101 000000 000000"   // marker, presence, reserved
        "03000000 02000000 ae080000 80000000"   // width, height, method, threshold
        "01 01 0000"                            // threshold auto, start point auto, reserved
        "00000000 00000000 01000000"            // start x, start y, unwrap method
        "0000000000002440 000000000000f03f"     // Zc, Zcf
        "0000000000002440 000000000000f03f"     // Lp, Lpf
        "a7e8482eff21e93f"                      // Theta
        "fa7e6abc7493783f fa7e6abc7493783f"     // pixel x, y
        "00000000 00000000"                     // X0, Y0
        "0000000000002440"                      // grating frequency
        "0000000000000000 0000000000000000 0000000000000000");   // origin x, y, z
    ASSERT_EQ(golden.size(), 0x90u);
    golden.resize(344, 0);   // reserved
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 344), golden);
}

TEST_F(PsmFile, HeaderDecodesAndEncodesEveryByte)
{
    std::mt19937 rng(3);
    Bytes raw(kPsmHeaderSize);
    for (auto& b : raw) b = static_cast<uint8_t>(rng());
    const TPsmHeader h = DecodePsmHeader(raw.data());
    Bytes again(kPsmHeaderSize);
    EncodePsmHeader(h, again.data());
    EXPECT_EQ(again, raw);
    EXPECT_EQ(static_cast<uint32_t>(h.Width),
              uint32_t(raw[0x10]) | uint32_t(raw[0x11]) << 8 | uint32_t(raw[0x12]) << 16 | uint32_t(raw[0x13]) << 24);
    EXPECT_EQ(h.StartPointAuto, raw[0x21]);
}

// ---- sizes and round trips --------------------------------------------------------------

TEST_F(PsmFile, FileSizeFollowsThePresentPlanes)
{
    const int w = 7, h = 5;
    const size_t wh = w * h;
    TPhaseShiftMoire p("sizes");
    Fill(p, w, h, {}, 1);
    p.SaveToFile(Path("a.psm"));
    EXPECT_EQ(ReadBytes(Path("a.psm")).size(), 344 + 6 * wh);

    Fill(p, w, h, {kUnwrappedPhaseCode}, 2);
    p.SaveToFile(Path("b.psm"));
    const Bytes b = ReadBytes(Path("b.psm"));
    EXPECT_EQ(b.size(), 344 + 6 * wh + 4 * wh);
    EXPECT_EQ(Bytes(b.begin() + 0x0A, b.begin() + 0x0D), (Bytes{0, 1, 0}));

    Fill(p, w, h, {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode}, 3);
    p.SaveToFile(Path("c.psm"));
    const Bytes c = ReadBytes(Path("c.psm"));
    EXPECT_EQ(c.size(), 344 + 6 * wh + 12 * wh);
    EXPECT_EQ(Bytes(c.begin() + 0x0A, c.begin() + 0x0D), (Bytes{1, 1, 1}));
}

TEST_F(PsmFile, EveryPlaneRoundTripsBitForBit)
{
    TPhaseShiftMoire saved("original name");
    Fill(saved, 13, 11, {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode}, 9);
    saved.Header().OriginZ = -12.5;
    saved.Header().Reserved3[17] = 0xA5;   // reserved bytes are kept as they are
    saved.SetModified(true);
    saved.SaveToFile(Path("round.psm"));
    qsrf_fuzz::SaveFuzzSeed("psm", Path("round.psm"));
    EXPECT_FALSE(saved.Modified());
    EXPECT_EQ(saved.Name(), "original name");

    // Planes follow the header: the Object plane right after byte 344, float planes last.
    const Bytes file = ReadBytes(Path("round.psm"));
    EXPECT_EQ(Bytes(file.begin() + 344, file.begin() + 344 + 143), Bytes(saved.BytePlane(0), saved.BytePlane(0) + 143));
    EXPECT_EQ(std::memcmp(file.data() + file.size() - 4 * 143, saved.FloatPlane(kConvertResultCode), 4 * 143), 0);

    TPhaseShiftMoire loaded("none");
    loaded.LoadFromFile(Path("round.psm"));
    EXPECT_EQ(loaded.Name(), Path("round.psm"));
    EXPECT_TRUE(loaded.Modified());
    Snapshot a = Take(saved), b = Take(loaded);
    EXPECT_EQ(a.header, b.header);
    EXPECT_EQ(a.planes, b.planes);
    EXPECT_EQ(loaded.Header().Reserved3[17], 0xA5);
}

TEST_F(PsmFile, LoadedProjectHoldsExactlyTheFileContents)
{
    TPhaseShiftMoire bytesOnly("b");
    Fill(bytesOnly, 4, 4, {}, 4);
    bytesOnly.SaveToFile(Path("bytes.psm"));
    qsrf_fuzz::SaveFuzzSeed("psm", Path("bytes.psm"));

    TPhaseShiftMoire p("p");
    Fill(p, 9, 2, {kPhaseCode, kConvertResultCode}, 5);
    p.LoadFromFile(Path("bytes.psm"));
    EXPECT_EQ(p.Width(), 4);
    EXPECT_EQ(p.Height(), 4);
    EXPECT_EQ(p.FloatPlane(kPhaseCode), nullptr);
    EXPECT_EQ(p.FloatPlane(kConvertResultCode), nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.Header().FloatPresent[i], 0);
}

// ---- refused files ----------------------------------------------------------------------

TEST_F(PsmFile, MalformedFilesAreRefusedAndTheProjectStaysAsItWas)
{
    TPhaseShiftMoire good("good");
    Fill(good, 6, 4, {kPhaseCode}, 7);
    good.SaveToFile(Path("good.psm"));
    const Bytes file = ReadBytes(Path("good.psm"));

    struct Case {
        const char* what;
        Bytes bytes;
        const char* message;   // part of the expected text
    };
    std::vector<Case> cases;
    auto mutated = [&](auto change) { Bytes b = file; change(b); return b; };
    cases.push_back({"bad marker", mutated([](Bytes& b) { b[0] = 0xFE; }), "is not a project file (no project marker)"});
    cases.push_back({"one byte short", mutated([](Bytes& b) { b.pop_back(); }),
                     "it holds 583 bytes where its header announces 584"});
    cases.push_back({"one byte long", mutated([](Bytes& b) { b.push_back(0); }),
                     "it holds 585 bytes where its header announces 584"});
    cases.push_back({"shorter than the header", Bytes(file.begin(), file.begin() + 100),
                     "it is shorter than its 344-byte header"});
    cases.push_back({"empty", Bytes(), "it is shorter than its 344-byte header"});
    cases.push_back({"width 0", mutated([](Bytes& b) { PutI32(b, 0x10, 0); }), "its image size 0 x 4 is not possible"});
    cases.push_back({"negative height", mutated([](Bytes& b) { PutI32(b, 0x14, -4); }),
                     "its image size 6 x -4 is not possible"});
    cases.push_back({"oversized side", mutated([](Bytes& b) { PutI32(b, 0x10, 40000); }),
                     "its image size 40000 x 4 is not possible"});
    cases.push_back({"oversized area", mutated([](Bytes& b) { PutI32(b, 0x10, 30000); PutI32(b, 0x14, 30000); }),
                     "its image size 30000 x 30000 is not possible"});
    cases.push_back({"area overflowing 32 bits", mutated([](Bytes& b) { PutI32(b, 0x10, 0x7FFFFFFF); PutI32(b, 0x14, 0x7FFFFFFF); }),
                     "is not possible"});
    cases.push_back({"presence byte 2", mutated([](Bytes& b) { b[0x05] = 2; }), "a plane presence byte is neither 0 nor 1"});
    cases.push_back({"plane announced but missing", mutated([](Bytes& b) { b[0x0B] = 1; }),
                     "it holds 584 bytes where its header announces 680"});

    TPhaseShiftMoire p("current");
    Fill(p, 3, 3, {kUnwrappedPhaseCode}, 8);
    p.SetModified(false);
    const Snapshot before = Take(p);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(Path("bad.psm"), c.bytes);
        try {
            p.LoadFromFile(Path("bad.psm"));
            ADD_FAILURE() << "accepted";
        } catch (const EAppError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(Path("bad.psm")), std::string::npos) << e.what();
        }
        ExpectSame(before, Take(p));
    }
}

TEST_F(PsmFile, MissingFileOrDirectoryIsRefused)
{
    TPhaseShiftMoire p("current");
    Fill(p, 2, 2, {}, 1);
    const Snapshot before = Take(p);
    try {
        p.LoadFromFile(Path("absent.psm"));
        ADD_FAILURE() << "accepted";
    } catch (const EAppError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + Path("absent.psm") + "\": No such file or directory");
    }
    EXPECT_THROW(p.LoadFromFile(dir_), EAppError);
    ExpectSame(before, Take(p));
}

TEST_F(PsmFile, NamedPipeIsRefusedAtOnce)
{
    TPhaseShiftMoire p("current");
    Fill(p, 2, 2, {kPhaseCode}, 3);
    const Snapshot before = Take(p);
    const std::string pipe = Path("pipe.psm");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    const auto message = qsrf_test::ReadWithDeadline(pipe, [&]() -> std::string {
        try {
            p.LoadFromFile(pipe);
            return "accepted";
        } catch (const EAppError& e) {
            return e.what();
        }
    });
    ASSERT_TRUE(message.has_value()) << "loading a named pipe blocked";
    EXPECT_EQ(*message, "Cannot open file \"" + pipe + "\": it is a named pipe, not a regular file");
    ExpectSame(before, Take(p));
}

// ---- saving -----------------------------------------------------------------------------

TEST_F(PsmFile, SavingReplacesTheFileAndLeavesNoTemporaryFile)
{
    TPhaseShiftMoire p("p");
    Fill(p, 5, 5, {}, 1);
    WriteBytes(Path("target.psm"), Bytes(1000, 0x11));
    p.SaveToFile(Path("target.psm"));
    EXPECT_EQ(ReadBytes(Path("target.psm")).size(), 344u + 150);
    EXPECT_EQ(Entries(), std::vector<std::string>{"target.psm"});
}

TEST_F(PsmFile, FailedSaveLeavesTheOldFileAndNoTemporaryFile)
{
    TPhaseShiftMoire p("p");
    Fill(p, 64, 64, {kPhaseCode}, 1);
    const Bytes old(500, 0x22);
    WriteBytes(Path("keep.psm"), old);
    p.SetModified(true);

    // Files may grow to 4096 bytes only: the write of the 41 kB project fails half-way.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        p.SaveToFile(Path("keep.psm"));
    } catch (const EAppError& e) {
        message = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(message, "Cannot write file \"" + Path("keep.psm") + "\": File too large");
    EXPECT_EQ(ReadBytes(Path("keep.psm")), old);
    EXPECT_EQ(Entries(), std::vector<std::string>{"keep.psm"});
    EXPECT_TRUE(p.Modified());
}

TEST_F(PsmFile, SaveErrorsAreReported)
{
    TPhaseShiftMoire p("p");
    Fill(p, 2, 2, {}, 1);
    EXPECT_THROW(p.SaveToFile(Path("no/such/dir.psm")), EAppError);
    // Renaming over a directory fails: the temporary file is removed again.
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0700), 0);
    EXPECT_THROW(p.SaveToFile(Path("sub")), EAppError);
    EXPECT_EQ(Entries(), std::vector<std::string>{"sub"});
    rmdir(Path("sub").c_str());

    TPhaseShiftMoire empty("empty");
    try {
        empty.SaveToFile(Path("empty.psm"));
        ADD_FAILURE() << "saved";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "The project holds no image to save");
    }
    EXPECT_TRUE(Entries().empty());
}

}  // namespace
