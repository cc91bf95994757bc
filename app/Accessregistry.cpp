// The settings store: one read and one write function per key group of the registry.

#include "Accessregistry.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <locale>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "registry.h"

const char* const kSettingsRootKey = "Software\\Kestrove NT\\Qsrf\\0.01\\";

namespace {

using qsrf::registry::Registry;
using qsrf::registry::RegistryError;

const char* const kPathKey = "Path";
const char* const kBoardKey = "Quorvel";
const char* const kControlKey = "PSM\\ControlPara";
const char* const kComputeKey = "PSM\\ComputePara";
const char* const kConvertKey = "PSM\\ConvertPara";
const char* const kExtensionKey = "PSM\\ConvertParaExtension";
const char* const kCoordKey = "PSM\\Coord. Transfer";
const char* const kLensKey = "Lens Parameters";

// Runs one piece of registry work; the registry's own errors become the program's.
template <class F>
auto Guarded(F&& work) -> decltype(work())
{
    try {
        return work();
    } catch (const RegistryError& e) {
        throw EAppError(e.what());
    }
}

std::string GroupPath(const std::string& group) { return kSettingsRootKey + group; }

// Opens a group for reading: false when it is missing.
bool OpenToRead(Registry& reg, const std::string& group)
{
    return reg.OpenKey(GroupPath(group), false);
}

// Opens a group for writing, creating it when missing.
void OpenToWrite(Registry& reg, const std::string& group)
{
    if (!reg.OpenKey(GroupPath(group), true))
        throw EAppError("The settings key \"" + GroupPath(group) + "\" cannot be created.");
}

// Numbers in messages, in the C locale whatever the user's locale.
std::string Num(double v)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(15);
    s << v;
    return s.str();
}

bool IsStageAxis(int axis) { return axis >= 1 && axis <= 4; }

std::string AxisKey(int axis) { return "PI\\Ch" + std::to_string(axis); }

void RequireStageAxis(int axis)
{
    if (!IsStageAxis(axis))
        throw EAppError("Stage axis " + std::to_string(axis) +
                        " does not exist: the stage has axes 1 to 4.");
}

// A stage axis number read from the store, which is used to index the four axes.
void CheckStoredAxis(int32_t axis, const char* what, const char* group, const char* value)
{
    if (!IsStageAxis(axis))
        throw EAppError(std::string("The stored ") + what + " (" + group + " \"" + value +
                        "\") is " + std::to_string(axis) +
                        ", but the stage has axes 1 to 4 only.");
}

// A stage axis number about to be stored.
void CheckAxisToStore(int32_t axis, const char* what)
{
    if (!IsStageAxis(axis))
        throw EAppError(std::string("The ") + what + " must be a stage axis 1 to 4, not " +
                        std::to_string(axis) + ".");
}

// ---- groups as stored, without checks ---------------------------------------------------

TControlPara ReadControlGroup()
{
    return Guarded([] {
        TControlPara p;
        Registry reg;
        if (!OpenToRead(reg, kControlKey))
            return p;
        p.PhaseShiftAxis = reg.ReadInteger("PhaseShiftAxis");
        p.PreMoveDisplace = reg.ReadFloat("PreMoveDisplace");
        p.WaitingTime = reg.ReadInteger("WaitingTime");
        p.PhaseShiftMoireChannel = reg.ReadInteger("PhaseShiftMoireChannel");
        p.ViewObjectChannel = reg.ReadInteger("ViewObjectChannel");
        p.ProjectGratingFrequency = reg.ReadFloat("ProjectGratingFrequency");
        p.PhaseShiftingMethod = reg.ReadInteger("Phase Shifting Method");
        p.PhaseShiftingAngle = static_cast<float>(reg.ReadFloat("Phase shifting Angle"));
        reg.CloseKey();
        return p;
    });
}

void WriteControlGroup(const TControlPara& p)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kControlKey);
        reg.WriteInteger("PhaseShiftAxis", p.PhaseShiftAxis);
        reg.WriteFloat("PreMoveDisplace", p.PreMoveDisplace);
        reg.WriteInteger("WaitingTime", p.WaitingTime);
        reg.WriteInteger("PhaseShiftMoireChannel", p.PhaseShiftMoireChannel);
        reg.WriteInteger("ViewObjectChannel", p.ViewObjectChannel);
        reg.WriteFloat("ProjectGratingFrequency", p.ProjectGratingFrequency);
        reg.WriteInteger("Phase Shifting Method", p.PhaseShiftingMethod);
        reg.WriteFloat("Phase shifting Angle", static_cast<double>(p.PhaseShiftingAngle));
        reg.CloseKey();
    });
}

// The fourteen values of "PSM\ConvertPara"; ProjectGratingFrequency keeps its default.
TConvertPara ReadConvertGroup()
{
    return Guarded([] {
        TConvertPara p;
        Registry reg;
        if (!OpenToRead(reg, kConvertKey))
            return p;
        p.RulerV = reg.ReadFloat("RulerV");
        p.RulerP = reg.ReadFloat("RulerP");
        p.PIView = reg.ReadInteger("PI View");
        p.PIProject = reg.ReadInteger("PI Project");
        p.Zc0 = reg.ReadFloat("Zc0");
        p.Zcf0 = reg.ReadFloat("Zcf0");
        p.Theta = reg.ReadFloat("Theta");
        p.Lp0 = reg.ReadFloat("Lp0");
        p.Lpf0 = reg.ReadFloat("Lpf0");
        p.X0 = reg.ReadInteger("X0");
        p.Y0 = reg.ReadInteger("Y0");
        p.PixelX = reg.ReadFloat("Pixel X");
        p.PixelY = reg.ReadFloat("Pixel Y");
        p.ReferenceGratingFrequency = reg.ReadFloat("ReferenceGratingFrequency");
        reg.CloseKey();
        return p;
    });
}

void WriteConvertGroup(const TConvertPara& p)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kConvertKey);
        reg.WriteFloat("RulerV", p.RulerV);
        reg.WriteFloat("RulerP", p.RulerP);
        reg.WriteInteger("PI View", p.PIView);
        reg.WriteInteger("PI Project", p.PIProject);
        reg.WriteFloat("Zc0", p.Zc0);
        reg.WriteFloat("Zcf0", p.Zcf0);
        reg.WriteFloat("Theta", p.Theta);
        reg.WriteFloat("Lp0", p.Lp0);
        reg.WriteFloat("Lpf0", p.Lpf0);
        reg.WriteInteger("X0", p.X0);
        reg.WriteInteger("Y0", p.Y0);
        reg.WriteFloat("Pixel X", p.PixelX);
        reg.WriteFloat("Pixel Y", p.PixelY);
        reg.WriteFloat("ReferenceGratingFrequency", p.ReferenceGratingFrequency);
        reg.CloseKey();
    });
}

// Reads one float value of a group, or the default when the group is missing.
double ReadSingleFloat(const char* group, const char* name, double fallback)
{
    return Guarded([&] {
        Registry reg;
        if (!OpenToRead(reg, group))
            return fallback;
        const double v = reg.ReadFloat(name);
        reg.CloseKey();
        return v;
    });
}

void WriteSingleFloat(const char* group, const char* name, double value)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, group);
        reg.WriteFloat(name, value);
        reg.CloseKey();
    });
}

std::string CurrentDirectory()
{
    std::vector<char> buf(4096);
    for (;;) {
        if (::getcwd(buf.data(), buf.size()))
            return buf.data();
        if (errno != ERANGE)
            throw EAppError(std::string("The current directory cannot be determined: ") +
                            std::strerror(errno) + ".");
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

// ---- Path ---------------------------------------------------------------------------------

std::string ReadLastPath()
{
    return Guarded([] {
        {
            Registry reg;
            if (OpenToRead(reg, kPathKey)) {
                std::string last = reg.ReadString("last");
                reg.CloseKey();
                return last;
            }
        }
        const std::string cwd = CurrentDirectory();
        Registry reg;
        OpenToWrite(reg, kPathKey);
        reg.WriteString("last", cwd);
        reg.CloseKey();
        return cwd;
    });
}

void WriteLastPath(const std::string& path)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kPathKey);
        reg.WriteString("last", path);
        reg.CloseKey();
    });
}

// ---- Quorvel ------------------------------------------------------------------------------

int32_t ReadBoardType()
{
    return Guarded([] {
        Registry reg;
        if (!OpenToRead(reg, kBoardKey))
            return int32_t{0};
        const int32_t v = reg.ReadInteger("BoardType");
        reg.CloseKey();
        return v;
    });
}

void WriteBoardType(int32_t boardType)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kBoardKey);
        reg.WriteInteger("BoardType", boardType);
        reg.CloseKey();
    });
}

// ---- stage axes ---------------------------------------------------------------------------

TAxisParameters ReadAxisParameters(int axis)
{
    TAxisParameters p;
    if (!IsStageAxis(axis))
        return p;   // no such group: the defaults
    return Guarded([&] {
        Registry reg;
        if (!OpenToRead(reg, AxisKey(axis)))
            return p;
        p.HomePos = reg.ReadFloat("HomePos");
        p.Start = reg.ReadFloat("Start");
        p.End = reg.ReadFloat("End");
        p.Step = reg.ReadFloat("Step");
        p.CountPerUm = reg.ReadFloat("CountPerUm");
        p.CurrentPos = reg.ReadFloat("CurrentPos");
        p.Direction = reg.ReadBool("Direction");
        reg.CloseKey();
        return p;
    });
}

void ReadAxisParameters(int axis, double& HomePos, double& Start, double& End, double& Step,
                        double& CountPerUm, double& CurrentPos, bool& Direction)
{
    const TAxisParameters p = ReadAxisParameters(axis);
    HomePos = p.HomePos;
    Start = p.Start;
    End = p.End;
    Step = p.Step;
    CountPerUm = p.CountPerUm;
    CurrentPos = p.CurrentPos;
    Direction = p.Direction;
}

double ReadAxisHomePos(int axis) { return ReadAxisParameters(axis).HomePos; }

double ReadAxisCurrentPos(int axis) { return ReadAxisParameters(axis).CurrentPos; }

void WriteAxisParameters(int axis, const TAxisParameters& p)
{
    RequireStageAxis(axis);
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, AxisKey(axis));
        reg.WriteFloat("HomePos", p.HomePos);
        reg.WriteFloat("Start", p.Start);
        reg.WriteFloat("End", p.End);
        reg.WriteFloat("Step", p.Step);
        reg.WriteFloat("CountPerUm", p.CountPerUm);
        reg.WriteFloat("CurrentPos", p.CurrentPos);
        reg.WriteBool("Direction", p.Direction);
        reg.CloseKey();
    });
}

void WriteAxisParameters(int axis, double HomePos, double Start, double End, double Step,
                         double CountPerUm, double CurrentPos, bool Direction)
{
    TAxisParameters p;
    p.HomePos = HomePos;
    p.Start = Start;
    p.End = End;
    p.Step = Step;
    p.CountPerUm = CountPerUm;
    p.CurrentPos = CurrentPos;
    p.Direction = Direction;
    WriteAxisParameters(axis, p);
}

void WriteAxisHomePos(int axis, double value)
{
    RequireStageAxis(axis);
    TAxisParameters p = ReadAxisParameters(axis);
    p.HomePos = value;
    WriteAxisParameters(axis, p);
}

void WriteAxisStep(int axis, double value)
{
    RequireStageAxis(axis);
    TAxisParameters p = ReadAxisParameters(axis);
    p.Step = value;
    WriteAxisParameters(axis, p);
}

void WriteAxisCurrentPos(int axis, double value)
{
    RequireStageAxis(axis);
    TAxisParameters p = ReadAxisParameters(axis);
    p.CurrentPos = value;
    WriteAxisParameters(axis, p);
}

// ---- PSM\ControlPara ----------------------------------------------------------------------

TControlPara ReadControlPara()
{
    TControlPara p = ReadControlGroup();
    CheckStoredAxis(p.PhaseShiftAxis, "phase-shift axis", kControlKey, "PhaseShiftAxis");
    return p;
}

void WriteControlPara(const TControlPara& p)
{
    CheckAxisToStore(p.PhaseShiftAxis, "phase-shift axis");
    WriteControlGroup(p);
}

int32_t ReadPhaseShiftMethod() { return ReadControlGroup().PhaseShiftingMethod; }

// ---- PSM\ComputePara ----------------------------------------------------------------------

TComputePara ReadComputePara()
{
    return Guarded([] {
        TComputePara p;
        Registry reg;
        if (!OpenToRead(reg, kComputeKey))
            return p;
        p.StartX = reg.ReadInteger("Start X");
        p.StartY = reg.ReadInteger("Start Y");
        p.StartPointAuto = reg.ReadBool("StartPoint Auto");
        p.UnwrapMethod = reg.ReadInteger("Unwrap Method");
        p.Threshold = reg.ReadInteger("Threshold");
        p.ThresholdAuto = reg.ReadBool("Threshold Auto");
        reg.CloseKey();
        return p;
    });
}

void WriteComputePara(const TComputePara& p)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kComputeKey);
        reg.WriteInteger("Start X", p.StartX);
        reg.WriteInteger("Start Y", p.StartY);
        reg.WriteBool("StartPoint Auto", p.StartPointAuto);
        reg.WriteInteger("Unwrap Method", p.UnwrapMethod);
        reg.WriteInteger("Threshold", p.Threshold);
        reg.WriteBool("Threshold Auto", p.ThresholdAuto);
        reg.CloseKey();
    });
}

// ---- PSM\ConvertPara ----------------------------------------------------------------------

TConvertPara ReadConvertPara()
{
    TConvertPara p = ReadConvertGroup();
    CheckStoredAxis(p.PIView, "view axis", kConvertKey, "PI View");
    CheckStoredAxis(p.PIProject, "projection axis", kConvertKey, "PI Project");
    p.ProjectGratingFrequency = ReadControlGroup().ProjectGratingFrequency;
    return p;
}

void WriteConvertPara(const TConvertPara& p)
{
    CheckAxisToStore(p.PIView, "view axis");
    CheckAxisToStore(p.PIProject, "projection axis");
    WriteConvertGroup(p);
    TControlPara control = ReadControlGroup();
    control.ProjectGratingFrequency = p.ProjectGratingFrequency;
    WriteControlGroup(control);
}

void WriteTheta(double theta)
{
    TConvertPara p = ReadConvertGroup();
    p.Theta = theta;
    WriteConvertGroup(p);
}

void WriteRulers(double rulerV, double rulerP)
{
    TConvertPara p = ReadConvertGroup();
    p.RulerV = rulerV;
    p.RulerP = rulerP;
    WriteConvertGroup(p);
}

void ShiftGeometryForAxis(int axis, double d)
{
    RequireStageAxis(axis);
    TConvertPara p = ReadConvertGroup();
    if (axis == p.PIView) {
        p.Zc0 += d;
        p.Zcf0 -= d;
    }
    if (axis == p.PIProject) {
        p.Lp0 += d;
        p.Lpf0 -= d;
    }
    WriteConvertGroup(p);
}

TGeometry ReadGeometry()
{
    const TConvertPara p = ReadConvertPara();

    const double sinTheta = std::sin(p.Theta);
    if (!std::isfinite(p.Theta) || sinTheta == 0.0)
        throw EAppError("The projection angle Theta of the convert parameters is " + Num(p.Theta) +
                        ": the bench geometry divides by sin(Theta), which must not be 0.");
    if (!std::isfinite(p.ProjectGratingFrequency) || !(p.ProjectGratingFrequency > 0.0))
        throw EAppError("The projection grating frequency of the control parameters is " +
                        Num(p.ProjectGratingFrequency) +
                        " lines/mm: the height conversion divides by it, so it must be above 0.");

    const double dV = ReadAxisCurrentPos(p.PIView) - ReadAxisHomePos(p.PIView);
    const double dP = ReadAxisCurrentPos(p.PIProject) - ReadAxisHomePos(p.PIProject);

    TGeometry g;
    g.Zc = dV + (p.Zc0 + p.RulerV);
    g.Zcf = p.Zcf0 - dV;
    g.Lp = dP + (p.RulerP / sinTheta + p.Lp0);
    g.Lpf = p.Lpf0 - dP;
    g.Theta = p.Theta;
    g.PixelX = p.PixelX;
    g.PixelY = p.PixelY;
    g.X0 = p.X0;
    g.Y0 = p.Y0;
    g.ProjectGratingFrequency = p.ProjectGratingFrequency;

    const struct {
        const char* name;
        double value;
    } checked[] = {{"Zc", g.Zc}, {"Zcf", g.Zcf}, {"Lp", g.Lp}, {"Lpf", g.Lpf},
                   {"Pixel X", g.PixelX}, {"Pixel Y", g.PixelY}};
    for (const auto& c : checked)
        if (!std::isfinite(c.value))
            throw EAppError(std::string("The bench geometry from the stored convert parameters "
                                        "and stage positions has no finite ") +
                            c.name + " (" + Num(c.value) + ").");
    return g;
}

// ---- PSM\ConvertParaExtension -------------------------------------------------------------

double ReadGratingThickness() { return ReadSingleFloat(kExtensionKey, "ProjectGratingThickness", 0.1); }

void WriteGratingThickness(double thickness)
{
    WriteSingleFloat(kExtensionKey, "ProjectGratingThickness", thickness);
}

// ---- PSM\Coord. Transfer ------------------------------------------------------------------

TCoordTransfer ReadCoordTransfer()
{
    return Guarded([] {
        TCoordTransfer p;
        Registry reg;
        if (!OpenToRead(reg, kCoordKey))
            return p;
        p.OriginX = reg.ReadFloat("Origin X");
        p.OriginY = reg.ReadFloat("Origin Y");
        p.OriginZ = reg.ReadFloat("Origin Z");
        reg.CloseKey();
        return p;
    });
}

void WriteCoordTransfer(const TCoordTransfer& p)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kCoordKey);
        reg.WriteFloat("Origin X", p.OriginX);
        reg.WriteFloat("Origin Y", p.OriginY);
        reg.WriteFloat("Origin Z", p.OriginZ);
        reg.CloseKey();
    });
}

// ---- Lens Parameters ----------------------------------------------------------------------

TLensParameters ReadLensParameters()
{
    return Guarded([] {
        TLensParameters p;
        Registry reg;
        if (!OpenToRead(reg, kLensKey))
            return p;
        p.ProjectingLensF = reg.ReadFloat("Projecting Lens f");
        p.ViewLensF = reg.ReadFloat("View Lens f");
        reg.CloseKey();
        return p;
    });
}

void WriteLensParameters(const TLensParameters& p)
{
    Guarded([&] {
        Registry reg;
        OpenToWrite(reg, kLensKey);
        reg.WriteFloat("Projecting Lens f", p.ProjectingLensF);
        reg.WriteFloat("View Lens f", p.ViewLensF);
        reg.CloseKey();
    });
}
