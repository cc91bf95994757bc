#pragma once
// The settings store: every persistent setting of the program, kept in the current user's
// registry below "Software\Kestrove NT\Qsrf\0.01\". One read and one write function per key
// group. Each call opens its own registry object on the process's registry backend
// (qsrf::registry::ProcessBackend: the per-user settings file unless the application or a
// test chose another with qsrf::registry::SetProcessBackend or ScopedProcessBackend),
// reads or writes, and closes it; nothing is cached.
//
// A read of a missing key group gives the whole group's defaults. A value missing inside an
// existing group, or stored with another type, raises EAppError; so does a write that
// cannot be stored. Plain C++: no GUI.
//
// Units: stage positions, limits and steps in millimetres (axis 4: degrees), CountPerUm in
// counts per micrometre, lengths in millimetres, Theta in radians, grating frequencies in
// lines per millimetre, the phase-shift angle in units of 2 pi.

#include <cstdint>
#include <string>

#include "Apperror.h"

// The root key of every group (with its trailing backslash).
extern const char* const kSettingsRootKey;

// ---- records ----------------------------------------------------------------------------

// One stage axis (key group "PI\Ch1" to "PI\Ch4").
struct TAxisParameters {
    double HomePos = 0.5;
    double Start = 0.0;        // lower travel limit
    double End = 1.0;          // upper travel limit
    double Step = 1.0;
    double CountPerUm = 16.89110196616;
    double CurrentPos = 0.5;
    bool Direction = true;     // the "In" button moves towards larger positions
};

// "PSM\ControlPara": the capture parameters.
struct TControlPara {
    int32_t PhaseShiftAxis = 1;                    // stage axis 1-4
    double PreMoveDisplace = 200.0;                // micrometres
    int32_t WaitingTime = 500;                     // milliseconds
    int32_t PhaseShiftMoireChannel = 0x20000000;   // imaging-library channel code
    int32_t ViewObjectChannel = 0x20000000;        // imaging-library channel code
    double ProjectGratingFrequency = 10.0;
    int32_t PhaseShiftingMethod = 2222;            // 1111 equal 4-step, 2222 constant 4-step
    float PhaseShiftingAngle = 0.2f;               // kept as a 32-bit float
};

// "PSM\ComputePara": phase computation and unwrapping.
struct TComputePara {
    int32_t StartX = 0;
    int32_t StartY = 0;
    bool StartPointAuto = true;
    int32_t UnwrapMethod = 1;
    int32_t Threshold = 128;
    bool ThresholdAuto = true;
};

// "PSM\ConvertPara": the conversion parameters, and ControlPara's projection grating
// frequency as a fifteenth value.
struct TConvertPara {
    double RulerV = 0.0;
    double RulerP = 0.0;
    int32_t PIView = 3;        // stage axis 1-4 that moves the camera
    int32_t PIProject = 2;     // stage axis 1-4 that moves the projector
    double Zc0 = 10.0;
    double Zcf0 = 1.0;
    double Theta = 0.7854;
    double Lp0 = 10.0;
    double Lpf0 = 1.0;
    int32_t X0 = 0;
    int32_t Y0 = 0;
    double PixelX = 0.006;
    double PixelY = 0.006;
    double ReferenceGratingFrequency = 10.0;
    double ProjectGratingFrequency = 10.0;   // stored in "PSM\ControlPara"
};

// "PSM\Coord. Transfer".
struct TCoordTransfer {
    double OriginX = 0.0;
    double OriginY = 0.0;
    double OriginZ = 0.0;
};

// "Lens Parameters".
struct TLensParameters {
    double ProjectingLensF = 10.0;   // "Projecting Lens f"
    double ViewLensF = 10.0;         // "View Lens f"
};

// The bench geometry derived by ReadGeometry.
struct TGeometry {
    double Zc = 0.0;
    double Zcf = 0.0;
    double Lp = 0.0;
    double Lpf = 0.0;
    double Theta = 0.0;
    double PixelX = 0.0;
    double PixelY = 0.0;
    int32_t X0 = 0;
    int32_t Y0 = 0;
    double ProjectGratingFrequency = 0.0;
};

// ---- groups -----------------------------------------------------------------------------

// "Path": "last". When the group is missing it is created with the current directory,
// which is returned. A missing "last" in an existing group reads as "".
std::string ReadLastPath();
void WriteLastPath(const std::string& path);

// "Quorvel": "BoardType" (board kind 0-7; default 0).
int32_t ReadBoardType();
void WriteBoardType(int32_t boardType);

// Stage axes 1-4. A read of an axis outside 1-4 gives the defaults; a write of one raises
// EAppError.
TAxisParameters ReadAxisParameters(int axis);
void ReadAxisParameters(int axis, double& HomePos, double& Start, double& End, double& Step,
                        double& CountPerUm, double& CurrentPos, bool& Direction);
double ReadAxisHomePos(int axis);
double ReadAxisCurrentPos(int axis);
void WriteAxisParameters(int axis, const TAxisParameters& p);
void WriteAxisParameters(int axis, double HomePos, double Start, double End, double Step,
                         double CountPerUm, double CurrentPos, bool Direction);
// Read all seven (defaults when the group is missing), replace one, write all seven.
void WriteAxisHomePos(int axis, double value);
void WriteAxisStep(int axis, double value);
void WriteAxisCurrentPos(int axis, double value);

// "PSM\ControlPara". A stored phase-shift axis outside 1-4 raises EAppError on reading;
// writing one is refused likewise.
TControlPara ReadControlPara();
void WriteControlPara(const TControlPara& p);
int32_t ReadPhaseShiftMethod();

// "PSM\ComputePara".
TComputePara ReadComputePara();
void WriteComputePara(const TComputePara& p);

// "PSM\ConvertPara". ReadConvertPara also gives ControlPara's ProjectGratingFrequency;
// WriteConvertPara writes the fourteen values and then ControlPara with its
// ProjectGratingFrequency replaced by p.ProjectGratingFrequency. Stored "PI View" or
// "PI Project" outside 1-4 raise EAppError on reading; writing them is refused likewise.
TConvertPara ReadConvertPara();
void WriteConvertPara(const TConvertPara& p);
// Read all, replace, write all.
void WriteTheta(double theta);
void WriteRulers(double rulerV, double rulerP);
// Moves the home of a stage axis by d millimetres in the geometry: when axis is "PI View",
// Zc0 += d and Zcf0 -= d; when it is "PI Project", Lp0 += d and Lpf0 -= d (both when they
// are the same axis). An axis outside 1-4 raises EAppError.
void ShiftGeometryForAxis(int axis, double d);

// The bench geometry from the conversion parameters and the stage positions:
// Zc = dV + (Zc0 + RulerV), Zcf = Zcf0 - dV, Lp = dP + (RulerP / sin(Theta) + Lp0),
// Lpf = Lpf0 - dP, where dV and dP are the view and projection axes' offsets from home.
// A Theta whose sine is 0 and a projection grating frequency that is not above 0 (or any
// value that is not finite) raise EAppError instead of giving a geometry that divides by 0.
TGeometry ReadGeometry();

// "PSM\ConvertParaExtension": "ProjectGratingThickness".
double ReadGratingThickness();
void WriteGratingThickness(double thickness);

// "PSM\Coord. Transfer".
TCoordTransfer ReadCoordTransfer();
void WriteCoordTransfer(const TCoordTransfer& p);

// "Lens Parameters".
TLensParameters ReadLensParameters();
void WriteLensParameters(const TLensParameters& p);
