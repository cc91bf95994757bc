// Height conversion of the unwrapped phase and the capture sequence of a new project.
#include "Converttoz.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "Apperror.h"
#include "Phaseshiftmoire.h"
#include "registry.h"

namespace {

uint32_t Bits(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TConvertGeometry GoldenGeometry()
{
    TConvertGeometry g;
    g.Zc = 400;
    g.Zcf = 300;
    g.Theta = 0.5f;
    g.Lp = 600;
    g.Lpf = 200;
    g.PixelX = 0.1f;
    g.PixelY = 7;   // does not enter the formula
    g.GratingFrequency = 10;
    g.X0 = 1;
    g.Y0 = 0;
    return g;
}

// ---- the formula ------------------------------------------------------------------------

TEST(ConvertPhaseToHeight, Float32GoldenBitForBit)
{
    // Values worked out independently with every named term rounded to float32.
    std::vector<float> map = {1.5f, 0.25f, -2.0f, 3.0f};
    ConvertPhaseToHeight(4, 1, GoldenGeometry(), map.data());
    EXPECT_EQ(Bits(map[0]), 0xbe83b1ecu);
    EXPECT_EQ(Bits(map[1]), 0x0u);          // the reference pixel: phase 0, height +0
    EXPECT_EQ(Bits(map[2]), 0x3e2156cdu);
    EXPECT_EQ(Bits(map[3]), 0x3f84dc14u);
    EXPECT_FLOAT_EQ(map[3], 1.037966251373291f);
}

TEST(ConvertPhaseToHeight, RowsAndPixelYDoNotEnter)
{
    TConvertGeometry g = GoldenGeometry();
    std::vector<float> two = {1.5f, 0.25f, -2.0f, 3.0f, 1.5f, 0.25f, -2.0f, 3.0f};
    ConvertPhaseToHeight(4, 2, g, two.data());
    g.PixelY = 0.001f;
    std::vector<float> other = {1.5f, 0.25f, -2.0f, 3.0f, 1.5f, 0.25f, -2.0f, 3.0f};
    ConvertPhaseToHeight(4, 2, g, other.data());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Bits(two[i]), Bits(two[i + 4]));
        EXPECT_EQ(Bits(two[i]), Bits(other[i]));
    }
}

TEST(ConvertPhaseToHeight, ReferencePixelOutsideTheMapIsRefusedUnchanged)
{
    for (auto [x0, y0] : {std::pair{4, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -3}}) {
        TConvertGeometry g = GoldenGeometry();
        g.X0 = x0;
        g.Y0 = y0;
        std::vector<float> map = {1, 2, 3, 4};
        try {
            ConvertPhaseToHeight(4, 1, g, map.data());
            FAIL() << "accepted (" << x0 << ", " << y0 << ")";
        } catch (const EAppError& e) {
            EXPECT_NE(e.Message().find("outside"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(map, (std::vector<float>{1, 2, 3, 4}));
    }
}

TEST(ConvertPhaseToHeight, ZeroGratingFrequencyIsRefused)
{
    TConvertGeometry g = GoldenGeometry();
    g.GratingFrequency = 0;
    std::vector<float> map = {1, 2, 3, 4};
    EXPECT_THROW(ConvertPhaseToHeight(4, 1, g, map.data()), EAppError);
    EXPECT_EQ(map[0], 1.0f);
}

TEST(ConvertPhaseToHeight, ZeroDenominatorGivesZeroNotInfinity)
{
    // Theta 0, Zcf 0: T1 = Zc*X, T3 = -0; at X = 0 the denominator is 0.
    TConvertGeometry g;
    g.Zc = 1; g.Zcf = 0; g.Theta = 0; g.Lp = 1; g.Lpf = 1; g.PixelX = 1; g.GratingFrequency = 1;
    std::vector<float> map = {0.0f, 0.0f};
    ConvertPhaseToHeight(2, 1, g, map.data());
    EXPECT_EQ(map[0], 0.0f);
}

// ---- the project's conversion ----------------------------------------------------------

class Convert : public ::testing::Test {
protected:
    qsrf::registry::ScopedProcessBackend backend_{std::make_shared<qsrf::registry::MemoryBackend>()};

    std::unique_ptr<TPhaseShiftMoire> MakeProject()
    {
        auto p = std::make_unique<TPhaseShiftMoire>("P");
        p->AllocBytePlanes(4, 1);
        TPsmHeader& h = p->Header();
        h.Zc = 400; h.Zcf = 300; h.Theta = 0.5; h.Lp = 600; h.Lpf = 200;
        h.PixelX = 0.1; h.PixelY = 7; h.GratingFrequency = 10; h.X0 = 1; h.Y0 = 0;
        return p;
    }
    static void SetUnwrapped(TPhaseShiftMoire& p, std::vector<float> v)
    {
        std::unique_ptr<float[]> plane(new float[v.size()]);
        std::memcpy(plane.get(), v.data(), v.size() * sizeof(float));
        p.SetFloatPlane(kUnwrappedPhaseCode, std::move(plane));
    }
};

TEST_F(Convert, WithoutUnwrappedPhaseAsksForIt)
{
    auto p = MakeProject();
    try {
        ConvertToZ(*p);
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "Unwrap the phase First!");
    }
    EXPECT_EQ(p->FloatPlane(kConvertResultCode), nullptr);
}

TEST_F(Convert, MaskedPixelsBecomeZeroAndPhaseStays)
{
    auto p = MakeProject();
    SetUnwrapped(*p, {1.5f, 0.25f, -2.0f, 3.0f});
    p->BytePlane(kMaskPlane)[2] = 255;
    ConvertToZ(*p);
    const float* z = p->FloatPlane(kConvertResultCode);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(Bits(z[0]), 0xbe83b1ecu);
    EXPECT_EQ(z[1], 0.0f);
    EXPECT_EQ(z[2], 0.0f);
    EXPECT_EQ(Bits(z[3]), 0x3f84dc14u);
    EXPECT_EQ(p->Header().FloatPresent[2], 1);
    // The unwrapped phase is copied, not converted in place.
    EXPECT_EQ(p->FloatPlane(kUnwrappedPhaseCode)[0], 1.5f);
}

TEST_F(Convert, ProjectWithoutMaskTreatsEveryPixelAsValid)
{
    auto p = MakeProject();
    SetUnwrapped(*p, {1.5f, 0.25f, -2.0f, 3.0f});
    // A project as loaded from a file holding no mask plane: the saved file with its mask
    // presence byte cleared and the mask bytes taken out.
    const std::string path = ::testing::TempDir() + "nomask.psm";
    p->SaveToFile(path);
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(bytes[0x04 + kMaskPlane], 1);
    bytes[0x04 + kMaskPlane] = 0;
    const size_t maskAt = kPsmHeaderSize + 5 * p->Pixels();
    bytes.erase(bytes.begin() + maskAt, bytes.begin() + maskAt + p->Pixels());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    TPhaseShiftMoire loaded("L");
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.BytePlane(kMaskPlane), nullptr);
    ConvertToZ(loaded);
    EXPECT_EQ(Bits(loaded.FloatPlane(kConvertResultCode)[2]), 0x3e2156cdu);
}

TEST_F(Convert, RefusedConversionKeepsTheOldResult)
{
    auto p = MakeProject();
    SetUnwrapped(*p, {1.5f, 0.25f, -2.0f, 3.0f});
    ConvertToZ(*p);
    const float before = p->FloatPlane(kConvertResultCode)[3];
    p->Header().X0 = 9;
    EXPECT_THROW(ConvertToZ(*p), EAppError);
    ASSERT_NE(p->FloatPlane(kConvertResultCode), nullptr);
    EXPECT_EQ(p->FloatPlane(kConvertResultCode)[3], before);
}

}  // namespace
