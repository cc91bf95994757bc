// The settings store: defaults of every group on an empty store, the derived geometry,
// read-modify-write of the axis values, the float32 angle, mistyped values and refusals.

#include "Accessregistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

#include "registry.h"

using qsrf::registry::MemoryBackend;
using qsrf::registry::Registry;
using qsrf::registry::ScopedProcessBackend;

namespace {

const std::string kRoot = "Software\\Kestrove NT\\Qsrf\\0.01\\";

class SettingsTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryBackend> backend = std::make_shared<MemoryBackend>();
    ScopedProcessBackend scope{backend};

    // A registry object on the group, for looking at or planting raw values.
    std::unique_ptr<Registry> Group(const std::string& group, bool create = true)
    {
        auto reg = std::make_unique<Registry>(backend);
        if (!reg->OpenKey(kRoot + group, create))
            return nullptr;
        return reg;
    }
    bool GroupExists(const std::string& group) { return Registry(backend).KeyExists(kRoot + group); }

    // Runs f, which must raise EAppError, and gives its message.
    template <class F>
    std::string ErrorOf(F&& f)
    {
        try {
            f();
        } catch (const EAppError& e) {
            return e.what();
        }
        ADD_FAILURE() << "no EAppError raised";
        return std::string();
    }
};

// ---- defaults on an empty store ---------------------------------------------------------

TEST_F(SettingsTest, KeyRootIsTheProgramsKey)
{
    EXPECT_STREQ(kSettingsRootKey, "Software\\Kestrove NT\\Qsrf\\0.01\\");
}

TEST_F(SettingsTest, EmptyStoreGivesBoardTypeZero)
{
    EXPECT_EQ(ReadBoardType(), 0);
    EXPECT_FALSE(GroupExists("Quorvel"));
}

TEST_F(SettingsTest, EmptyStoreGivesAxisDefaultsForEveryAxis)
{
    for (int axis = 1; axis <= 4; ++axis) {
        const TAxisParameters p = ReadAxisParameters(axis);
        EXPECT_EQ(p.HomePos, 0.5);
        EXPECT_EQ(p.Start, 0.0);
        EXPECT_EQ(p.End, 1.0);
        EXPECT_EQ(p.Step, 1.0);
        EXPECT_EQ(p.CountPerUm, 16.89110196616);
        EXPECT_EQ(p.CurrentPos, 0.5);
        EXPECT_TRUE(p.Direction);
        EXPECT_EQ(ReadAxisHomePos(axis), 0.5);
        EXPECT_EQ(ReadAxisCurrentPos(axis), 0.5);
    }
    double h = 0, s = 9, e = 0, st = 0, c = 0, cur = 0;
    bool dir = false;
    ReadAxisParameters(2, h, s, e, st, c, cur, dir);
    EXPECT_EQ(h, 0.5);
    EXPECT_EQ(s, 0.0);
    EXPECT_EQ(e, 1.0);
    EXPECT_EQ(st, 1.0);
    EXPECT_EQ(c, 16.89110196616);
    EXPECT_EQ(cur, 0.5);
    EXPECT_TRUE(dir);
    EXPECT_FALSE(GroupExists("PI"));
}

TEST_F(SettingsTest, EmptyStoreGivesControlParaDefaults)
{
    const TControlPara p = ReadControlPara();
    EXPECT_EQ(p.PhaseShiftAxis, 1);
    EXPECT_EQ(p.PreMoveDisplace, 200.0);
    EXPECT_EQ(p.WaitingTime, 500);
    EXPECT_EQ(p.PhaseShiftMoireChannel, 0x20000000);
    EXPECT_EQ(p.ViewObjectChannel, 0x20000000);
    EXPECT_EQ(p.ProjectGratingFrequency, 10.0);
    EXPECT_EQ(p.PhaseShiftingMethod, 2222);
    EXPECT_EQ(p.PhaseShiftingAngle, 0.2f);
    EXPECT_EQ(ReadPhaseShiftMethod(), 2222);
    EXPECT_FALSE(GroupExists("PSM\\ControlPara"));
}

TEST_F(SettingsTest, EmptyStoreGivesComputeParaDefaults)
{
    const TComputePara p = ReadComputePara();
    EXPECT_EQ(p.StartX, 0);
    EXPECT_EQ(p.StartY, 0);
    EXPECT_TRUE(p.StartPointAuto);
    EXPECT_EQ(p.UnwrapMethod, 1);
    EXPECT_EQ(p.Threshold, 128);
    EXPECT_TRUE(p.ThresholdAuto);
}

TEST_F(SettingsTest, EmptyStoreGivesConvertParaDefaults)
{
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.RulerV, 0.0);
    EXPECT_EQ(p.RulerP, 0.0);
    EXPECT_EQ(p.PIView, 3);
    EXPECT_EQ(p.PIProject, 2);
    EXPECT_EQ(p.Zc0, 10.0);
    EXPECT_EQ(p.Zcf0, 1.0);
    EXPECT_EQ(p.Theta, 0.7854);
    EXPECT_EQ(p.Lp0, 10.0);
    EXPECT_EQ(p.Lpf0, 1.0);
    EXPECT_EQ(p.X0, 0);
    EXPECT_EQ(p.Y0, 0);
    EXPECT_EQ(p.PixelX, 0.006);
    EXPECT_EQ(p.PixelY, 0.006);
    EXPECT_EQ(p.ReferenceGratingFrequency, 10.0);
    EXPECT_EQ(p.ProjectGratingFrequency, 10.0);
}

TEST_F(SettingsTest, EmptyStoreGivesThicknessCoordAndLensDefaults)
{
    EXPECT_EQ(ReadGratingThickness(), 0.1);
    const TCoordTransfer c = ReadCoordTransfer();
    EXPECT_EQ(c.OriginX, 0.0);
    EXPECT_EQ(c.OriginY, 0.0);
    EXPECT_EQ(c.OriginZ, 0.0);
    const TLensParameters l = ReadLensParameters();
    EXPECT_EQ(l.ProjectingLensF, 10.0);
    EXPECT_EQ(l.ViewLensF, 10.0);
}

TEST_F(SettingsTest, ReadsCreateNoGroups)
{
    ReadBoardType();
    ReadAxisParameters(1);
    ReadControlPara();
    ReadComputePara();
    ReadConvertPara();
    ReadGeometry();
    ReadGratingThickness();
    ReadCoordTransfer();
    ReadLensParameters();
    EXPECT_FALSE(Registry(backend).KeyExists("Software"));
}

TEST_F(SettingsTest, LastPathDefaultsToTheCurrentDirectoryAndIsWrittenBack)
{
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(ReadLastPath(), cwd);
    auto reg = Group("Path", false);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->ReadString("last"), cwd);

    WriteLastPath("/data/measurements");
    EXPECT_EQ(ReadLastPath(), "/data/measurements");
}

TEST_F(SettingsTest, LastPathMissingInAnExistingGroupReadsEmpty)
{
    Group("Path");
    EXPECT_EQ(ReadLastPath(), "");
}

// ---- round trips ------------------------------------------------------------------------

TEST_F(SettingsTest, EveryGroupReadsBackWhatWasWritten)
{
    WriteBoardType(5);
    EXPECT_EQ(ReadBoardType(), 5);

    TControlPara c;
    c.PhaseShiftAxis = 4;
    c.PreMoveDisplace = 150.5;
    c.WaitingTime = 750;
    c.PhaseShiftMoireChannel = static_cast<int32_t>(0x80000000u);
    c.ViewObjectChannel = 0x1000000;
    c.ProjectGratingFrequency = 12.5;
    c.PhaseShiftingMethod = 1111;
    c.PhaseShiftingAngle = 0.25f;
    WriteControlPara(c);
    const TControlPara c2 = ReadControlPara();
    EXPECT_EQ(c2.PhaseShiftAxis, 4);
    EXPECT_EQ(c2.PreMoveDisplace, 150.5);
    EXPECT_EQ(c2.WaitingTime, 750);
    EXPECT_EQ(static_cast<uint32_t>(c2.PhaseShiftMoireChannel), 0x80000000u);
    EXPECT_EQ(c2.ViewObjectChannel, 0x1000000);
    EXPECT_EQ(c2.ProjectGratingFrequency, 12.5);
    EXPECT_EQ(c2.PhaseShiftingMethod, 1111);
    EXPECT_EQ(c2.PhaseShiftingAngle, 0.25f);
    EXPECT_EQ(ReadPhaseShiftMethod(), 1111);

    TComputePara k{11, 22, false, 0, 99, false};
    WriteComputePara(k);
    const TComputePara k2 = ReadComputePara();
    EXPECT_EQ(k2.StartX, 11);
    EXPECT_EQ(k2.StartY, 22);
    EXPECT_FALSE(k2.StartPointAuto);
    EXPECT_EQ(k2.UnwrapMethod, 0);
    EXPECT_EQ(k2.Threshold, 99);
    EXPECT_FALSE(k2.ThresholdAuto);

    WriteGratingThickness(0.25);
    EXPECT_EQ(ReadGratingThickness(), 0.25);
    WriteCoordTransfer({1.5, -2.5, 3.25});
    const TCoordTransfer t = ReadCoordTransfer();
    EXPECT_EQ(t.OriginX, 1.5);
    EXPECT_EQ(t.OriginY, -2.5);
    EXPECT_EQ(t.OriginZ, 3.25);
    WriteLensParameters({2.0, 3.0});
    const TLensParameters l = ReadLensParameters();
    EXPECT_EQ(l.ProjectingLensF, 2.0);
    EXPECT_EQ(l.ViewLensF, 3.0);
}

TEST_F(SettingsTest, ValuesAreStoredUnderTheirNamesWithTheirTypes)
{
    WriteComputePara(TComputePara{});
    auto reg = Group("PSM\\ComputePara", false);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->ReadInteger("Start X"), 0);
    EXPECT_EQ(reg->ReadInteger("StartPoint Auto"), 1);   // a bool is an integer 0 or 1
    EXPECT_EQ(reg->ReadInteger("Threshold"), 128);

    WriteLensParameters(TLensParameters{});
    auto lens = Group("Lens Parameters", false);
    ASSERT_TRUE(lens);
    EXPECT_EQ(lens->ReadFloat("Projecting Lens f"), 10.0);   // a float is 8 bytes of binary
    EXPECT_EQ(lens->ReadBinaryData("View Lens f").size(), 8u);

    WriteCoordTransfer(TCoordTransfer{});
    EXPECT_TRUE(Group("PSM\\Coord. Transfer", false));
    WriteGratingThickness(0.1);
    EXPECT_TRUE(Group("PSM\\ConvertParaExtension", false)->ValueExists("ProjectGratingThickness"));
}

TEST_F(SettingsTest, NothingIsCached)
{
    WriteBoardType(3);
    EXPECT_EQ(ReadBoardType(), 3);
    Group("Quorvel")->WriteInteger("BoardType", 6);
    EXPECT_EQ(ReadBoardType(), 6);
}

// ---- the phase-shift angle as a 32-bit float --------------------------------------------

TEST_F(SettingsTest, AngleIsKeptAsAFloat32)
{
    TControlPara c;
    c.PhaseShiftingAngle = 0.2f;
    WriteControlPara(c);
    EXPECT_EQ(Group("PSM\\ControlPara")->ReadFloat("Phase shifting Angle"), 0.20000000298023224);
    EXPECT_EQ(ReadControlPara().PhaseShiftingAngle, 0.2f);

    // A double planted in the store is narrowed to the nearest float on reading.
    Group("PSM\\ControlPara")->WriteFloat("Phase shifting Angle", 0.2);
    const TControlPara read = ReadControlPara();
    EXPECT_EQ(read.PhaseShiftingAngle, 0.2f);
    EXPECT_EQ(static_cast<double>(read.PhaseShiftingAngle), 0.20000000298023224);
}

// ---- read-modify-write of the axis values -----------------------------------------------

TEST_F(SettingsTest, WriteAxisStepOnAMissingGroupWritesTheOtherDefaults)
{
    WriteAxisStep(2, 3.0193411952739675);
    auto reg = Group("PI\\Ch2", false);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->ReadFloat("Step"), 3.0193411952739675);
    EXPECT_EQ(reg->ReadFloat("HomePos"), 0.5);
    EXPECT_EQ(reg->ReadFloat("Start"), 0.0);
    EXPECT_EQ(reg->ReadFloat("End"), 1.0);
    EXPECT_EQ(reg->ReadFloat("CountPerUm"), 16.89110196616);
    EXPECT_EQ(reg->ReadFloat("CurrentPos"), 0.5);
    EXPECT_TRUE(reg->ReadBool("Direction"));
    EXPECT_FALSE(GroupExists("PI\\Ch1"));
}

TEST_F(SettingsTest, SingleAxisWritesKeepTheOtherValues)
{
    WriteAxisParameters(3, 0.4, -1.0, 2.0, 5.0, 20.0, 0.45, false);
    WriteAxisCurrentPos(3, 0.5999934760552497);
    WriteAxisHomePos(3, 0.41);
    WriteAxisStep(3, 6.0);
    const TAxisParameters p = ReadAxisParameters(3);
    EXPECT_EQ(p.HomePos, 0.41);
    EXPECT_EQ(p.Start, -1.0);
    EXPECT_EQ(p.End, 2.0);
    EXPECT_EQ(p.Step, 6.0);
    EXPECT_EQ(p.CountPerUm, 20.0);
    EXPECT_EQ(p.CurrentPos, 0.5999934760552497);
    EXPECT_FALSE(p.Direction);
    EXPECT_EQ(ReadAxisHomePos(3), 0.41);
    EXPECT_EQ(ReadAxisCurrentPos(3), 0.5999934760552497);
    // The other axes are untouched.
    EXPECT_FALSE(GroupExists("PI\\Ch4"));
    EXPECT_EQ(ReadAxisCurrentPos(4), 0.5);
}

TEST_F(SettingsTest, AxesOutsideOneToFourReadDefaultsAndRefuseWrites)
{
    EXPECT_EQ(ReadAxisParameters(0).HomePos, 0.5);
    EXPECT_EQ(ReadAxisCurrentPos(5), 0.5);
    EXPECT_EQ(ErrorOf([] { WriteAxisCurrentPos(5, 0.7); }),
              "Stage axis 5 does not exist: the stage has axes 1 to 4.");
    EXPECT_EQ(ErrorOf([] { WriteAxisParameters(0, TAxisParameters{}); }),
              "Stage axis 0 does not exist: the stage has axes 1 to 4.");
    ErrorOf([] { WriteAxisHomePos(-1, 0.0); });
    ErrorOf([] { WriteAxisStep(5, 1.0); });
    EXPECT_FALSE(GroupExists("PI"));
}

// ---- mistyped and missing values --------------------------------------------------------

TEST_F(SettingsTest, AMistypedValueRaises)
{
    Group("Quorvel")->WriteString("BoardType", "5");
    EXPECT_EQ(ErrorOf([] { ReadBoardType(); }),
              "Registry value \"BoardType\" in key \"Software\\Kestrove NT\\Qsrf\\0.01\\Quorvel\" "
              "holds text, not a 32-bit integer.");

    WriteAxisParameters(1, TAxisParameters{});
    Group("PI\\Ch1")->WriteFloat("Direction", 1.0);
    EXPECT_NE(ErrorOf([] { ReadAxisParameters(1); }).find("\"Direction\""), std::string::npos);
    // The read-modify-write stops before writing anything.
    ErrorOf([] { WriteAxisCurrentPos(1, 0.9); });
    EXPECT_EQ(Group("PI\\Ch1")->ReadFloat("CurrentPos"), 0.5);

    WriteControlPara(TControlPara{});
    Group("PSM\\ControlPara")->WriteInteger("Phase shifting Angle", 1);
    EXPECT_NE(ErrorOf([] { ReadControlPara(); }).find("not an 8-byte floating-point value"),
              std::string::npos);

    Group("Path")->WriteInteger("last", 1);
    ErrorOf([] { ReadLastPath(); });
}

TEST_F(SettingsTest, AValueMissingInAnExistingGroupRaisesInsteadOfADefault)
{
    Group("PSM\\ComputePara")->WriteInteger("Start X", 4);
    EXPECT_EQ(ErrorOf([] { ReadComputePara(); }),
              "Registry value \"Start Y\" is missing in key "
              "\"Software\\Kestrove NT\\Qsrf\\0.01\\PSM\\ComputePara\".");
    Group("Lens Parameters");
    ErrorOf([] { ReadLensParameters(); });
    Group("PSM\\ConvertParaExtension");
    ErrorOf([] { ReadGratingThickness(); });
}

TEST_F(SettingsTest, AFailingWriteRaises)
{
    backend->SetWritesFail(true);
    ErrorOf([] { WriteBoardType(1); });
    ErrorOf([] { WriteAxisStep(1, 2.0); });
    ErrorOf([] { WriteControlPara(TControlPara{}); });
    backend->SetWritesFail(false);
    EXPECT_FALSE(Registry(backend).KeyExists("Software"));
}

// ---- conversion parameters --------------------------------------------------------------

TConvertPara SampleConvert()
{
    TConvertPara p;
    p.RulerV = 0.5;
    p.RulerP = 1.0;
    p.PIView = 3;
    p.PIProject = 2;
    p.Zc0 = 100.0;
    p.Zcf0 = 20.0;
    p.Theta = 0.5235987755982988;   // pi / 6
    p.Lp0 = 150.0;
    p.Lpf0 = 30.0;
    p.X0 = 384;
    p.Y0 = 288;
    p.PixelX = 0.01;
    p.PixelY = 0.02;
    p.ReferenceGratingFrequency = 8.0;
    p.ProjectGratingFrequency = 12.0;
    return p;
}

TEST_F(SettingsTest, WriteConvertParaAlsoChangesTheControlFrequencyOnly)
{
    TControlPara c;
    c.PhaseShiftAxis = 2;
    c.WaitingTime = 42;
    WriteControlPara(c);
    WriteConvertPara(SampleConvert());

    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.RulerV, 0.5);
    EXPECT_EQ(p.RulerP, 1.0);
    EXPECT_EQ(p.PIView, 3);
    EXPECT_EQ(p.PIProject, 2);
    EXPECT_EQ(p.Zc0, 100.0);
    EXPECT_EQ(p.Zcf0, 20.0);
    EXPECT_EQ(p.Theta, 0.5235987755982988);
    EXPECT_EQ(p.Lp0, 150.0);
    EXPECT_EQ(p.Lpf0, 30.0);
    EXPECT_EQ(p.X0, 384);
    EXPECT_EQ(p.Y0, 288);
    EXPECT_EQ(p.PixelX, 0.01);
    EXPECT_EQ(p.PixelY, 0.02);
    EXPECT_EQ(p.ReferenceGratingFrequency, 8.0);
    EXPECT_EQ(p.ProjectGratingFrequency, 12.0);

    const TControlPara c2 = ReadControlPara();
    EXPECT_EQ(c2.ProjectGratingFrequency, 12.0);
    EXPECT_EQ(c2.PhaseShiftAxis, 2);
    EXPECT_EQ(c2.WaitingTime, 42);
    EXPECT_FALSE(Group("PSM\\ConvertPara")->ValueExists("ProjectGratingFrequency"));
}

TEST_F(SettingsTest, WriteConvertParaCreatesTheControlGroupWhenMissing)
{
    WriteConvertPara(SampleConvert());
    const TControlPara c = ReadControlPara();
    EXPECT_EQ(c.ProjectGratingFrequency, 12.0);
    EXPECT_EQ(c.PhaseShiftMoireChannel, 0x20000000);
    EXPECT_EQ(c.PhaseShiftingAngle, 0.2f);
}

TEST_F(SettingsTest, WriteThetaAndWriteRulersReplaceOnlyTheirValues)
{
    WriteConvertPara(SampleConvert());
    WriteTheta(0.7);
    WriteRulers(-0.25, 0.75);
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Theta, 0.7);
    EXPECT_EQ(p.RulerV, -0.25);
    EXPECT_EQ(p.RulerP, 0.75);
    EXPECT_EQ(p.Zc0, 100.0);
    EXPECT_EQ(p.Lpf0, 30.0);
    EXPECT_EQ(p.X0, 384);
    EXPECT_EQ(p.ProjectGratingFrequency, 12.0);

    // On an empty store the rest of the group gets its defaults.
    auto fresh = std::make_shared<MemoryBackend>();
    ScopedProcessBackend inner(fresh);
    WriteTheta(0.6);
    const TConvertPara q = ReadConvertPara();
    EXPECT_EQ(q.Theta, 0.6);
    EXPECT_EQ(q.Zc0, 10.0);
    EXPECT_EQ(q.PIView, 3);
}

// ---- ShiftGeometryForAxis ---------------------------------------------------------------

TEST_F(SettingsTest, ShiftGeometryForTheViewAxis)
{
    WriteConvertPara(SampleConvert());
    ShiftGeometryForAxis(3, 0.25);
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Zc0, 100.25);
    EXPECT_EQ(p.Zcf0, 19.75);
    EXPECT_EQ(p.Lp0, 150.0);
    EXPECT_EQ(p.Lpf0, 30.0);
}

TEST_F(SettingsTest, ShiftGeometryForTheProjectionAxis)
{
    WriteConvertPara(SampleConvert());
    ShiftGeometryForAxis(2, -0.5);
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Zc0, 100.0);
    EXPECT_EQ(p.Zcf0, 20.0);
    EXPECT_EQ(p.Lp0, 149.5);
    EXPECT_EQ(p.Lpf0, 30.5);
}

TEST_F(SettingsTest, ShiftGeometryWhenViewAxisEqualsProjectionAxis)
{
    TConvertPara s = SampleConvert();
    s.PIView = 1;
    s.PIProject = 1;
    WriteConvertPara(s);
    ShiftGeometryForAxis(1, 0.125);
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Zc0, 100.125);
    EXPECT_EQ(p.Zcf0, 19.875);
    EXPECT_EQ(p.Lp0, 150.125);
    EXPECT_EQ(p.Lpf0, 29.875);
    EXPECT_EQ(p.RulerP, 1.0);
    EXPECT_EQ(p.Theta, 0.5235987755982988);
}

TEST_F(SettingsTest, ShiftGeometryForAnotherAxisChangesNothing)
{
    WriteConvertPara(SampleConvert());
    ShiftGeometryForAxis(4, 1.0);
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Zc0, 100.0);
    EXPECT_EQ(p.Zcf0, 20.0);
    EXPECT_EQ(p.Lp0, 150.0);
    EXPECT_EQ(p.Lpf0, 30.0);
}

TEST_F(SettingsTest, ShiftGeometryOnAnEmptyStoreShiftsTheDefaults)
{
    ShiftGeometryForAxis(3, 0.5);   // the default view axis
    const TConvertPara p = ReadConvertPara();
    EXPECT_EQ(p.Zc0, 10.5);
    EXPECT_EQ(p.Zcf0, 0.5);
    EXPECT_EQ(p.Lp0, 10.0);
    EXPECT_EQ(ErrorOf([] { ShiftGeometryForAxis(0, 1.0); }),
              "Stage axis 0 does not exist: the stage has axes 1 to 4.");
}

// ---- ReadGeometry -----------------------------------------------------------------------

TEST_F(SettingsTest, GeometryOnAnEmptyStore)
{
    const TGeometry g = ReadGeometry();
    EXPECT_EQ(g.Zc, 10.0);
    EXPECT_EQ(g.Zcf, 1.0);
    EXPECT_EQ(g.Lp, 10.0);
    EXPECT_EQ(g.Lpf, 1.0);
    EXPECT_EQ(g.Theta, 0.7854);
    EXPECT_EQ(g.PixelX, 0.006);
    EXPECT_EQ(g.PixelY, 0.006);
    EXPECT_EQ(g.X0, 0);
    EXPECT_EQ(g.Y0, 0);
    EXPECT_EQ(g.ProjectGratingFrequency, 10.0);
}

TEST_F(SettingsTest, GeometryAddsRulersAndAxisOffsets)
{
    WriteConvertPara(SampleConvert());
    WriteAxisParameters(3, 0.5, 0.0, 1.0, 1.0, 16.89110196616, 0.75, true);   // dV = 0.25
    WriteAxisParameters(2, 0.25, 0.0, 1.0, 1.0, 16.89110196616, 0.125, true); // dP = -0.125
    const TGeometry g = ReadGeometry();
    // Zc = dV + (Zc0 + RulerV) = 0.25 + 100.5
    EXPECT_DOUBLE_EQ(g.Zc, 100.75);
    // Zcf = Zcf0 - dV
    EXPECT_DOUBLE_EQ(g.Zcf, 19.75);
    // Lp = dP + (RulerP / sin(pi/6) + Lp0) = -0.125 + (2 + 150)
    EXPECT_DOUBLE_EQ(g.Lp, 151.875);
    // Lpf = Lpf0 - dP
    EXPECT_DOUBLE_EQ(g.Lpf, 30.125);
    EXPECT_EQ(g.Theta, 0.5235987755982988);
    EXPECT_EQ(g.PixelX, 0.01);
    EXPECT_EQ(g.PixelY, 0.02);
    EXPECT_EQ(g.X0, 384);
    EXPECT_EQ(g.Y0, 288);
    // The projection grating frequency, not the reference one.
    EXPECT_EQ(g.ProjectGratingFrequency, 12.0);
}

TEST_F(SettingsTest, GeometryWithOneAxisForViewAndProjection)
{
    TConvertPara s = SampleConvert();
    s.PIView = 4;
    s.PIProject = 4;
    WriteConvertPara(s);
    WriteAxisCurrentPos(4, 0.75);   // home 0.5: offset 0.25 for both
    const TGeometry g = ReadGeometry();
    EXPECT_DOUBLE_EQ(g.Zc, 100.75);
    EXPECT_DOUBLE_EQ(g.Zcf, 19.75);
    EXPECT_DOUBLE_EQ(g.Lp, 152.25);
    EXPECT_DOUBLE_EQ(g.Lpf, 29.75);
}

TEST_F(SettingsTest, GeometryAfterShiftingTheHomeIsUnchanged)
{
    // "Set Current Position as Home": the geometry moves with the home, so the derived
    // geometry at the same physical place stays the same.
    WriteConvertPara(SampleConvert());
    WriteAxisCurrentPos(3, 0.8);
    const TGeometry before = ReadGeometry();
    const double d = ReadAxisCurrentPos(3) - ReadAxisHomePos(3);
    ShiftGeometryForAxis(3, d);
    WriteAxisHomePos(3, 0.8);
    const TGeometry after = ReadGeometry();
    EXPECT_DOUBLE_EQ(after.Zc, before.Zc);
    EXPECT_DOUBLE_EQ(after.Zcf, before.Zcf);
    EXPECT_DOUBLE_EQ(after.Lp, before.Lp);
}

// ---- refusals ---------------------------------------------------------------------------

TEST_F(SettingsTest, GeometryRefusesThetaZero)
{
    WriteTheta(0.0);
    EXPECT_EQ(ErrorOf([] { ReadGeometry(); }),
              "The projection angle Theta of the convert parameters is 0: the bench geometry "
              "divides by sin(Theta), which must not be 0.");
    // The parameters themselves still read, so that a dialog can show and correct them.
    EXPECT_EQ(ReadConvertPara().Theta, 0.0);
    WriteTheta(std::nan(""));
    ErrorOf([] { ReadGeometry(); });
}

TEST_F(SettingsTest, GeometryRefusesFrequencyZero)
{
    TConvertPara p = SampleConvert();
    p.ProjectGratingFrequency = 0.0;
    WriteConvertPara(p);
    EXPECT_EQ(ErrorOf([] { ReadGeometry(); }),
              "The projection grating frequency of the control parameters is 0 lines/mm: the "
              "height conversion divides by it, so it must be above 0.");
    p.ProjectGratingFrequency = -2.5;
    WriteConvertPara(p);
    EXPECT_NE(ErrorOf([] { ReadGeometry(); }).find("is -2.5 lines/mm"), std::string::npos);
    p.ProjectGratingFrequency = 10.0;
    WriteConvertPara(p);
    EXPECT_NO_THROW(ReadGeometry());
}

TEST_F(SettingsTest, GeometryRefusesNonFiniteResults)
{
    WriteConvertPara(SampleConvert());
    WriteAxisCurrentPos(3, INFINITY);
    EXPECT_NE(ErrorOf([] { ReadGeometry(); }).find("no finite Zc"), std::string::npos);
}

TEST_F(SettingsTest, StoredPhaseShiftAxisOutsideOneToFourIsRefused)
{
    WriteControlPara(TControlPara{});
    for (int bad : {0, 5, -1}) {
        Group("PSM\\ControlPara")->WriteInteger("PhaseShiftAxis", bad);
        EXPECT_EQ(ErrorOf([] { ReadControlPara(); }),
                  "The stored phase-shift axis (PSM\\ControlPara \"PhaseShiftAxis\") is " +
                      std::to_string(bad) + ", but the stage has axes 1 to 4 only.");
    }
    // Values that do not index the axes still read, and the convert parameters still write.
    EXPECT_EQ(ReadPhaseShiftMethod(), 2222);
    EXPECT_EQ(ReadConvertPara().ProjectGratingFrequency, 10.0);
    TConvertPara p = SampleConvert();
    WriteConvertPara(p);
    EXPECT_EQ(Group("PSM\\ControlPara")->ReadFloat("ProjectGratingFrequency"), 12.0);
    EXPECT_EQ(Group("PSM\\ControlPara")->ReadInteger("PhaseShiftAxis"), -1);
}

TEST_F(SettingsTest, StoredViewAndProjectionAxesOutsideOneToFourAreRefused)
{
    WriteConvertPara(SampleConvert());
    Group("PSM\\ConvertPara")->WriteInteger("PI View", 7);
    EXPECT_EQ(ErrorOf([] { ReadConvertPara(); }),
              "The stored view axis (PSM\\ConvertPara \"PI View\") is 7, but the stage has axes 1 "
              "to 4 only.");
    ErrorOf([] { ReadGeometry(); });

    Group("PSM\\ConvertPara")->WriteInteger("PI View", 3);
    Group("PSM\\ConvertPara")->WriteInteger("PI Project", 0);
    EXPECT_EQ(ErrorOf([] { ReadGeometry(); }),
              "The stored projection axis (PSM\\ConvertPara \"PI Project\") is 0, but the stage "
              "has axes 1 to 4 only.");
}

TEST_F(SettingsTest, AxisNumbersOutsideOneToFourAreNotStored)
{
    TControlPara c;
    c.PhaseShiftAxis = 5;
    EXPECT_EQ(ErrorOf([&] { WriteControlPara(c); }),
              "The phase-shift axis must be a stage axis 1 to 4, not 5.");
    EXPECT_FALSE(GroupExists("PSM\\ControlPara"));

    TConvertPara p = SampleConvert();
    p.PIProject = 0;
    EXPECT_EQ(ErrorOf([&] { WriteConvertPara(p); }),
              "The projection axis must be a stage axis 1 to 4, not 0.");
    p.PIProject = 2;
    p.PIView = 9;
    EXPECT_EQ(ErrorOf([&] { WriteConvertPara(p); }),
              "The view axis must be a stage axis 1 to 4, not 9.");
    EXPECT_FALSE(GroupExists("PSM\\ConvertPara"));
    EXPECT_FALSE(GroupExists("PSM\\ControlPara"));
}

// ---- on the settings file ---------------------------------------------------------------

TEST(SettingsFile, SettingsSurviveARestart)
{
    std::string tmpl = "/tmp/settingstest.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const std::string path = tmpl + "/vistrel/registry.ini";
    {
        ScopedProcessBackend scope(std::make_shared<qsrf::registry::FileBackend>(path));
        WriteBoardType(4);
        WriteAxisCurrentPos(1, 0.625);
        TControlPara c;
        c.PhaseShiftingAngle = 0.2f;
        WriteControlPara(c);
    }
    {
        ScopedProcessBackend scope(std::make_shared<qsrf::registry::FileBackend>(path));
        EXPECT_EQ(ReadBoardType(), 4);
        EXPECT_EQ(ReadAxisCurrentPos(1), 0.625);
        EXPECT_EQ(ReadControlPara().PhaseShiftingAngle, 0.2f);
    }
    ::unlink(path.c_str());
    ::rmdir((tmpl + "/vistrel").c_str());
    ::rmdir(tmpl.c_str());
}

}  // namespace
