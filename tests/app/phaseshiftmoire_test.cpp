// The measurement project: header from the settings, planes, mask, phase and unwrapping.
#include "Phaseshiftmoire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <unistd.h>
#include <vector>

#include "Accessregistry.h"
#include "Apperror.h"
#include "registry.h"

namespace {

class Project : public ::testing::Test {
protected:
    qsrf::registry::ScopedProcessBackend backend_{std::make_shared<qsrf::registry::MemoryBackend>()};
};

// Sets the four step images of every pixel to the same values.
void SetSteps(TPhaseShiftMoire& p, uint8_t i1, uint8_t i2, uint8_t i3, uint8_t i4)
{
    const uint8_t v[4] = {i1, i2, i3, i4};
    for (int k = 0; k < 4; ++k) std::memset(p.BytePlane(kStep1Plane + k), v[k], p.Pixels());
}

// The formula in 32-bit floats with the C library's atan2f, written out once more.
float Reference(int32_t method, float i1, float i2, float i3, float i4)
{
    float num, den;
    if (method == 1111) {
        num = std::sqrt(std::fabs((3 * (i2 - i3) - (i1 - i4)) * ((i1 - i4) + (i2 - i3))));
        if (i1 - i4 < 0) num = -num;
        den = (i2 + i3) - (i1 + i4);
    } else {
        num = i4 - i2;
        den = i1 - i3;
    }
    float phase = 0;
    if (std::fabs(num * den) >= 3.4e-20) phase = atan2f(num, den);
    if (std::fabs(num) < 3.4e-20) phase = den >= 0 ? 0.0f : 3.1415927f;
    else if (std::fabs(den) < 3.4e-20) phase = num > 0 ? 1.5707964f : -1.5707964f;
    return phase;
}

// ---- header and planes ------------------------------------------------------------------

TEST_F(Project, NewProjectCarriesTheSettingsInForce)
{
    TComputePara compute;
    compute.StartX = 12;
    compute.StartY = 34;
    compute.StartPointAuto = false;
    compute.UnwrapMethod = 0;
    compute.Threshold = 77;
    compute.ThresholdAuto = false;
    WriteComputePara(compute);
    TControlPara control;
    control.PhaseShiftingMethod = 1111;
    control.ProjectGratingFrequency = 25.0;
    WriteControlPara(control);
    TConvertPara convert;
    convert.Zc0 = 300.0;
    convert.RulerV = 2.0;
    convert.Lp0 = 200.0;
    convert.Zcf0 = 50.0;
    convert.Lpf0 = 40.0;
    convert.Theta = 0.5;
    convert.X0 = 320;
    convert.Y0 = 240;
    convert.PixelX = 0.01;
    convert.PixelY = 0.02;
    convert.ProjectGratingFrequency = 25.0;
    WriteConvertPara(convert);
    WriteCoordTransfer(TCoordTransfer{1.5, -2.5, 3.25});

    TPhaseShiftMoire p("PhaseShiftMoire - 3");
    const TPsmHeader& h = p.Header();
    EXPECT_EQ(p.Name(), "PhaseShiftMoire - 3");
    EXPECT_FALSE(p.Modified());
    EXPECT_EQ(h.Marker, 0x00FF00FF);
    EXPECT_EQ(h.Width, 0);
    EXPECT_EQ(h.Height, 0);
    EXPECT_EQ(h.StartX, 12);
    EXPECT_EQ(h.StartY, 34);
    EXPECT_EQ(h.StartPointAuto, 0);
    EXPECT_EQ(h.UnwrapMethod, 0);
    EXPECT_EQ(h.Threshold, 77);
    EXPECT_EQ(h.ThresholdAuto, 0);
    EXPECT_EQ(h.PhaseShiftMethod, 1111);
    EXPECT_DOUBLE_EQ(h.Zc, 302.0);   // axes at home: Zc0 + RulerV
    EXPECT_DOUBLE_EQ(h.Zcf, 50.0);
    EXPECT_DOUBLE_EQ(h.Lp, 200.0);
    EXPECT_DOUBLE_EQ(h.Lpf, 40.0);
    EXPECT_DOUBLE_EQ(h.Theta, 0.5);
    EXPECT_DOUBLE_EQ(h.PixelX, 0.01);
    EXPECT_DOUBLE_EQ(h.PixelY, 0.02);
    EXPECT_EQ(h.X0, 320);
    EXPECT_EQ(h.Y0, 240);
    EXPECT_DOUBLE_EQ(h.GratingFrequency, 25.0);
    EXPECT_DOUBLE_EQ(h.OriginX, 1.5);
    EXPECT_DOUBLE_EQ(h.OriginY, -2.5);
    EXPECT_DOUBLE_EQ(h.OriginZ, 3.25);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(h.BytePresent[i], 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(h.FloatPresent[i], 0);
}

TEST_F(Project, PlanesByIndexAndCode)
{
    TPhaseShiftMoire p("p");
    EXPECT_EQ(p.BytePlane(0), nullptr);
    p.AllocBytePlanes(4, 3);
    EXPECT_EQ(p.Pixels(), 12u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(p.BytePlane(i), nullptr);
        EXPECT_EQ(p.Header().BytePresent[i], 1);
    }
    EXPECT_EQ(p.BytePlane(6), nullptr);
    EXPECT_EQ(p.BytePlane(-1), nullptr);
    EXPECT_EQ(p.FloatPlane(5), nullptr);
    EXPECT_EQ(p.FloatPlane(kPhaseCode), nullptr);

    std::unique_ptr<float[]> plane(new float[12]());
    float* raw = plane.get();
    p.SetFloatPlane(kConvertResultCode, std::move(plane));
    EXPECT_EQ(p.FloatPlane(333), raw);
    EXPECT_EQ(p.Header().FloatPresent[2], 1);
    EXPECT_EQ(p.Header().FloatPresent[0], 0);
    EXPECT_THROW(p.SetFloatPlane(5, nullptr), EAppError);
    EXPECT_STREQ(FloatPlaneSuffix(222), " - Unwrapped Phase");
    EXPECT_STREQ(kBytePlaneSuffix[5], " - mask");

    // The same size keeps the float planes; another size drops them.
    p.AllocBytePlanes(4, 3);
    EXPECT_EQ(p.FloatPlane(333), raw);
    p.AllocBytePlanes(5, 3);
    EXPECT_EQ(p.FloatPlane(333), nullptr);
    EXPECT_EQ(p.Header().FloatPresent[2], 0);

    // A header reset takes the settings again but keeps what describes the planes.
    p.Header().Threshold = 3;
    p.InitPsmHeader();
    EXPECT_EQ(p.Header().Threshold, 128);
    EXPECT_EQ(p.Width(), 5);
    EXPECT_EQ(p.Header().BytePresent[0], 1);

    EXPECT_THROW(p.AllocBytePlanes(0, 3), EAppError);
    EXPECT_THROW(p.AllocBytePlanes(40000, 1), EAppError);
    EXPECT_THROW(p.AllocBytePlanes(20000, 20000), EAppError);
    EXPECT_EQ(p.Width(), 5);   // refused sizes change nothing
}

// ---- mask -------------------------------------------------------------------------------

TEST_F(Project, AutoThresholdOnAnEvenObjectMasksEverything)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(8, 6);
    std::memset(p.BytePlane(kObjectPlane), 100, p.Pixels());
    p.Header().ThresholdAuto = 1;
    p.Header().Threshold = 5;
    p.ComputeMask();
    EXPECT_EQ(p.Header().Threshold, 100);
    for (size_t i = 0; i < p.Pixels(); ++i) ASSERT_EQ(p.BytePlane(kMaskPlane)[i], 255) << i;
    EXPECT_TRUE(p.Modified());
}

TEST_F(Project, FixedThresholdMasksPixelsAtOrBelowIt)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(4, 1);
    const uint8_t object[4] = {0, 99, 100, 255};
    std::memcpy(p.BytePlane(kObjectPlane), object, 4);
    p.Header().ThresholdAuto = 0;
    p.Header().Threshold = 99;
    p.ComputeMask();
    EXPECT_EQ(std::vector<uint8_t>(p.BytePlane(kMaskPlane), p.BytePlane(kMaskPlane) + 4),
              (std::vector<uint8_t>{255, 255, 0, 0}));
    EXPECT_EQ(p.Header().Threshold, 99);
}

TEST_F(Project, AutoThresholdSumsInSixtyFourBits)
{
    // 4200 x 4096 pixels of 255 sum to more than 2^32.
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(4200, 4096);
    std::memset(p.BytePlane(kObjectPlane), 255, p.Pixels());
    p.Header().ThresholdAuto = 1;
    p.ComputeMask();
    EXPECT_EQ(p.Header().Threshold, 255);
    EXPECT_EQ(p.BytePlane(kMaskPlane)[p.Pixels() - 1], 255);
}

TEST_F(Project, MaskOfAnEmptyProjectIsRefused)
{
    TPhaseShiftMoire p("p");
    p.Header().ThresholdAuto = 1;
    try {
        p.ComputeMask();
        FAIL() << "computed";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "The project holds no image: the mask cannot be computed");
    }
    EXPECT_EQ(p.BytePlane(kMaskPlane), nullptr);
    EXPECT_EQ(p.Header().BytePresent[kMaskPlane], 0);
}

// ---- wrapped phase ----------------------------------------------------------------------

TEST_F(Project, ConstFourStepGivesZeroPiAndHalfPi)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(3, 2);
    p.Header().PhaseShiftMethod = 2222;
    SetSteps(p, 50, 80, 50, 80);   // I1 = I3, I4 = I2
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[0], 0.0f);
    EXPECT_FALSE(std::signbit(p.FloatPlane(kPhaseCode)[0]));
    SetSteps(p, 20, 80, 50, 80);   // I1 < I3, I4 = I2
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[5], 3.1415927f);
    SetSteps(p, 50, 10, 50, 80);   // num > 0, den = 0
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[1], 1.5707964f);
    SetSteps(p, 50, 80, 50, 10);
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[1], -1.5707964f);
    SetSteps(p, 60, 10, 50, 20);   // atan2(10, 10)
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[2], atan2f(10.0f, 10.0f));
    EXPECT_EQ(p.Header().FloatPresent[0], 1);
    EXPECT_TRUE(p.Modified());
}

TEST_F(Project, EqualFourStepZeroNumeratorIsZeroOrPiWhateverItsSign)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(1, 1);
    p.Header().PhaseShiftMethod = 1111;
    // I1 - I4 = -2, I2 - I3 = 2: the root is 0 and negated to -0.
    SetSteps(p, 10, 3, 1, 12);   // den = 4 - 22 < 0
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[0], 3.1415927f);
    SetSteps(p, 1, 12, 10, 3);   // I1 - I4 = -2, I2 - I3 = 2, den = 22 - 4 > 0
    p.ComputePhase();
    EXPECT_EQ(p.FloatPlane(kPhaseCode)[0], 0.0f);
    EXPECT_FALSE(std::signbit(p.FloatPlane(kPhaseCode)[0]));
}

TEST_F(Project, PhaseEqualsTheFloatFormulaBitForBit)
{
    const int w = 1021, h = 1024;
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(w, h);
    std::mt19937 rng(11);
    for (int k = 1; k <= 4; ++k)
        for (size_t i = 0; i < p.Pixels(); ++i) p.BytePlane(k)[i] = static_cast<uint8_t>(rng());
    // The first 511 x 511 pixels hold every numerator and denominator of method 2222.
    for (int n = -255, i = 0; n <= 255; ++n)
        for (int d = -255; d <= 255; ++d, ++i) {
            p.BytePlane(2)[i] = static_cast<uint8_t>(n < 0 ? -n : 0);
            p.BytePlane(4)[i] = static_cast<uint8_t>(n < 0 ? 0 : n);
            p.BytePlane(3)[i] = static_cast<uint8_t>(d < 0 ? -d : 0);
            p.BytePlane(1)[i] = static_cast<uint8_t>(d < 0 ? 0 : d);
        }
    for (int32_t method : {1111, 2222}) {
        SCOPED_TRACE(method);
        p.Header().PhaseShiftMethod = method;
        p.ComputePhase();
        const float* phase = p.FloatPlane(kPhaseCode);
        size_t differ = 0;
        for (size_t i = 0; i < p.Pixels(); ++i) {
            const float ref = Reference(method, p.BytePlane(1)[i], p.BytePlane(2)[i], p.BytePlane(3)[i], p.BytePlane(4)[i]);
            if (std::memcmp(&ref, &phase[i], 4) != 0 && differ++ < 5)
                ADD_FAILURE() << "pixel " << i << ": " << phase[i] << " vs " << ref;
        }
        EXPECT_EQ(differ, 0u);
    }
}

// A project read from a file that lacks Step3, with a known phase plane.
std::unique_ptr<TPhaseShiftMoire> ProjectWithoutStep3(const std::string& path)
{
    TPhaseShiftMoire full("full");
    full.AllocBytePlanes(3, 3);
    full.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    bytes[0x04 + 3] = 0;                                       // no Step3 plane
    bytes.erase(bytes.begin() + 344 + 3 * 9, bytes.begin() + 344 + 4 * 9);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    auto p = std::make_unique<TPhaseShiftMoire>("none");
    p->LoadFromFile(path);
    std::unique_ptr<float[]> phase(new float[9]);
    for (int i = 0; i < 9; ++i) phase[i] = 0.25f * i;
    p->SetFloatPlane(kPhaseCode, std::move(phase));
    p->SetModified(false);
    return p;
}

TEST_F(Project, MissingStepImageIsRefusedAndThePhaseKept)
{
    const std::string path = "/tmp/phaseshiftmoire_test_" + std::to_string(getpid()) + ".psm";
    auto p = ProjectWithoutStep3(path);
    std::remove(path.c_str());
    const float* before = p->FloatPlane(kPhaseCode);
    try {
        p->ComputePhase();
        FAIL() << "computed";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "you should give 4 images");
    }
    ASSERT_EQ(p->FloatPlane(kPhaseCode), before);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(before[i], 0.25f * i);
    EXPECT_EQ(p->Header().FloatPresent[0], 1);
    EXPECT_FALSE(p->Modified());
}

TEST_F(Project, UnknownMethodIsRefusedAndThePhaseKept)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(2, 2);
    p.Header().PhaseShiftMethod = 2222;
    SetSteps(p, 1, 2, 3, 4);
    p.ComputePhase();
    const float* before = p.FloatPlane(kPhaseCode);
    const float value = before[0];
    p.Header().PhaseShiftMethod = 3333;
    try {
        p.ComputePhase();
        FAIL() << "computed";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "Unknown phase shifting method 3333: it must be 1111 (Equal 4 Step) or 2222 (Const 4 Step)");
    }
    EXPECT_EQ(p.FloatPlane(kPhaseCode), before);
    EXPECT_EQ(before[0], value);
}

// ---- unwrapping -------------------------------------------------------------------------

// A project whose phase plane is the wrapped ramp 0.5 x + 0.3 y.
std::unique_ptr<TPhaseShiftMoire> RampProject(int w, int h)
{
    auto p = std::make_unique<TPhaseShiftMoire>("ramp");
    p->AllocBytePlanes(w, h);
    std::unique_ptr<float[]> phase(new float[w * h]);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            phase[y * w + x] = static_cast<float>(std::remainder(0.5 * x + 0.3 * y, 2 * M_PI));
    p->SetFloatPlane(kPhaseCode, std::move(phase));
    std::memset(p->BytePlane(kMaskPlane), 0, p->Pixels());
    p->SetModified(false);
    return p;
}

TEST_F(Project, UnwrapStartsAtTheChosenPointAndShowsThePleaseWaitBox)
{
    std::vector<bool> box;
    TPhaseShiftMoire::SetPleaseWait([&](bool visible) { box.push_back(visible); });
    auto p = RampProject(30, 20);
    p->Header().StartPointAuto = 0;
    p->Header().StartX = 29;
    p->Header().StartY = 19;
    p->Header().X0 = 1000;   // not used without StartPoint Auto
    p->UnwrapPhase();
    EXPECT_EQ(box, (std::vector<bool>{true, false}));
    const float* out = p->FloatPlane(kUnwrappedPhaseCode);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(p->Header().FloatPresent[1], 1);
    EXPECT_TRUE(p->Modified());
    // The start pixel keeps its wrapped value; the map is the ramp shifted to match it.
    const double offset = out[19 * 30 + 29] - (0.5 * 29 + 0.3 * 19);
    EXPECT_NEAR(std::remainder(offset, 2 * M_PI), 0.0, 1e-5);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_NEAR(out[y * 30 + x], 0.5 * x + 0.3 * y + offset, 2e-4);
    TPhaseShiftMoire::SetPleaseWait(nullptr);
}

TEST_F(Project, UnwrapStartOutsideTheMapIsRefused)
{
    std::vector<bool> box;
    TPhaseShiftMoire::SetPleaseWait([&](bool visible) { box.push_back(visible); });
    auto p = RampProject(30, 20);
    p->Header().StartPointAuto = 1;
    p->Header().X0 = 5;
    p->Header().Y0 = 20;
    p->Header().StartX = 0;
    p->Header().StartY = 0;
    try {
        p->UnwrapPhase();
        FAIL() << "unwrapped";
    } catch (const EAppError& e) {
        EXPECT_STREQ(e.what(), "The unwrap start point (5, 20) lies outside the image of 30 x 20 pixels");
    }
    EXPECT_EQ(p->FloatPlane(kUnwrappedPhaseCode), nullptr);
    EXPECT_FALSE(p->Modified());
    EXPECT_TRUE(box.empty());   // refused before the box is shown
    TPhaseShiftMoire::SetPleaseWait(nullptr);
}

TEST_F(Project, UnwrapNeedsThePhase)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(2, 2);
    EXPECT_THROW(p.UnwrapPhase(), EAppError);
    EXPECT_EQ(p.FloatPlane(kUnwrappedPhaseCode), nullptr);
}

TEST_F(Project, UnwrapSetsMaskedPixelsToTheMinimum)
{
    auto p = RampProject(16, 16);
    p->Header().StartPointAuto = 1;
    p->Header().X0 = 8;
    p->Header().Y0 = 8;
    uint8_t* mask = p->BytePlane(kMaskPlane);
    for (int i = 0; i < 16; ++i) mask[i] = 255;   // the top row
    p->UnwrapPhase();
    const float* out = p->FloatPlane(kUnwrappedPhaseCode);
    float lowest = out[0];
    for (int i = 0; i < 256; ++i) lowest = std::min(lowest, out[i]);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], lowest);
}

// A vortex in the left 2 x 2 loop: its four pixels are marked, never reached from (2, 0),
// and filled from their right neighbours. They are marked invalid in the mask; a project
// without a mask gets one. The filled values stay in the unwrapped phase.
TEST_F(Project, UnwrapMarksThePixelsItFilledInAsInvalid)
{
    for (const bool withMask : {true, false}) {
        SCOPED_TRACE(withMask ? "with a mask" : "without a mask");
        TPhaseShiftMoire p("vortex");
        if (withMask) {
            p.AllocBytePlanes(3, 2);
            std::memset(p.BytePlane(kMaskPlane), 0, 6);
        } else {
            p.Header().Width = 3;
            p.Header().Height = 2;
        }
        std::unique_ptr<float[]> phase(new float[6]{0.0f, -1.6f, -1.6f, 1.5f, 3.0f, -1.0f});
        p.SetFloatPlane(kPhaseCode, std::move(phase));
        p.Header().StartPointAuto = 0;
        p.Header().StartX = 2;
        p.Header().StartY = 0;
        p.UnwrapPhase();
        ASSERT_NE(p.BytePlane(kMaskPlane), nullptr);
        EXPECT_EQ(p.Header().BytePresent[kMaskPlane], 1);
        EXPECT_EQ(std::vector<uint8_t>(p.BytePlane(kMaskPlane), p.BytePlane(kMaskPlane) + 6),
                  (std::vector<uint8_t>{255, 255, 0, 255, 255, 0}));
        EXPECT_EQ(std::vector<float>(p.FloatPlane(kUnwrappedPhaseCode), p.FloatPlane(kUnwrappedPhaseCode) + 6),
                  (std::vector<float>{-1.6f, -1.6f, -1.6f, -1.0f, -1.0f, -1.0f}));
    }
    // Where every pixel is measured the mask stays as it was.
    auto ramp = RampProject(16, 16);
    const uint8_t* mask = ramp->BytePlane(kMaskPlane);
    ramp->UnwrapPhase();
    EXPECT_EQ(ramp->BytePlane(kMaskPlane), mask);
    EXPECT_EQ(std::count(mask, mask + 256, 255), 0);
}

}  // namespace
