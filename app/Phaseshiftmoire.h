#pragma once
// One phase-shift moire measurement: its parameter header, the five grabbed images and the
// validity mask as byte planes, and the wrapped phase, the unwrapped phase and the height
// map as float planes; stored as a .psm project file.
//
// .psm file: the 344-byte header below (all fields little-endian), then each byte plane
// whose presence byte is 1 in the order Object, Step1-Step4, mask (width x height bytes
// each), then each float plane whose presence byte is 1 in the order Phase, Unwrapped
// Phase, Convert Result (width x height IEEE float32 values each, little-endian). Planes
// are row-major: index = y * width + x.
//
// Plain C++: no GUI. Errors are EAppError with a message for the operator; a refused
// operation leaves the project as it was.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The parameter header, byte for byte as it is stored at the start of a .psm file.
struct TPsmHeader {
    int32_t Marker;               // 0x00  kPsmMarker
    uint8_t BytePresent[6];       // 0x04  byte planes 0-5: 1 present, 0 absent
    uint8_t FloatPresent[3];      // 0x0A  Phase, Unwrapped Phase, Convert Result
    uint8_t Reserved1[3];         // 0x0D
    int32_t Width;                // 0x10
    int32_t Height;               // 0x14
    int32_t PhaseShiftMethod;     // 0x18  1111 "Equal 4 Step", 2222 "Const 4 Step"
    int32_t Threshold;            // 0x1C  mask threshold, grey level
    uint8_t ThresholdAuto;        // 0x20  bool
    uint8_t StartPointAuto;       // 0x21  bool
    uint8_t Reserved2[2];         // 0x22
    int32_t StartX;               // 0x24  unwrap start column
    int32_t StartY;               // 0x28  unwrap start row
    int32_t UnwrapMethod;         // 0x2C  stored and shown only
    double Zc;                    // 0x30
    double Zcf;                   // 0x38
    double Lp;                    // 0x40
    double Lpf;                   // 0x48
    double Theta;                 // 0x50  radians
    double PixelX;                // 0x58
    double PixelY;                // 0x60
    int32_t X0;                   // 0x68  reference pixel column
    int32_t Y0;                   // 0x6C  reference pixel row
    double GratingFrequency;      // 0x70  projection grating frequency
    double OriginX;               // 0x78
    double OriginY;               // 0x80
    double OriginZ;               // 0x88
    uint8_t Reserved3[200];       // 0x90
};

static_assert(offsetof(TPsmHeader, Marker) == 0x00, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, BytePresent) == 0x04, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, FloatPresent) == 0x0A, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Reserved1) == 0x0D, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Width) == 0x10, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Height) == 0x14, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, PhaseShiftMethod) == 0x18, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Threshold) == 0x1C, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, ThresholdAuto) == 0x20, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, StartPointAuto) == 0x21, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Reserved2) == 0x22, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, StartX) == 0x24, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, StartY) == 0x28, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, UnwrapMethod) == 0x2C, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Zc) == 0x30, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Zcf) == 0x38, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Lp) == 0x40, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Lpf) == 0x48, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Theta) == 0x50, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, PixelX) == 0x58, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, PixelY) == 0x60, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, X0) == 0x68, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Y0) == 0x6C, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, GratingFrequency) == 0x70, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, OriginX) == 0x78, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, OriginY) == 0x80, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, OriginZ) == 0x88, "TPsmHeader layout");
static_assert(offsetof(TPsmHeader, Reserved3) == 0x90, "TPsmHeader layout");
static_assert(sizeof(TPsmHeader) == 344, "TPsmHeader is 344 bytes");

constexpr int32_t kPsmMarker = 0x00FF00FF;
constexpr size_t kPsmHeaderSize = 344;

// Phase-shift methods.
constexpr int32_t kEqual4Step = 1111;   // "Equal 4 Step"
constexpr int32_t kConst4Step = 2222;   // "Const 4 Step"

// Byte plane indices and float plane codes.
constexpr int kObjectPlane = 0;
constexpr int kStep1Plane = 1;          // Step1-Step4 are 1-4
constexpr int kMaskPlane = 5;           // 255 invalid, 0 valid
constexpr int kBytePlaneCount = 6;
constexpr int kPhaseCode = 111;         // wrapped phase, radians
constexpr int kUnwrappedPhaseCode = 222;
constexpr int kConvertResultCode = 333; // height
constexpr int kFloatPlaneCount = 3;

// Largest image a project holds: each side at most kMaxPsmSide pixels and at most
// kMaxPsmPixels pixels in all. Larger dimensions in a file are refused as damaged.
constexpr int32_t kMaxPsmSide = 32768;
constexpr int64_t kMaxPsmPixels = int64_t(1) << 26;

// Window-title suffixes of the planes (" - Object" ... " - mask"; " - Phase" ...).
extern const char* const kBytePlaneSuffix[kBytePlaneCount];
const char* FloatPlaneSuffix(int code);   // null for an unknown code

// The header as stored (little-endian, reserved bytes as they are) and back.
void EncodePsmHeader(const TPsmHeader& header, uint8_t out[kPsmHeaderSize]);
TPsmHeader DecodePsmHeader(const uint8_t in[kPsmHeaderSize]);

// A header for a new project: marker, no planes, width and height 0, reserved bytes 0, the
// computation, geometry and coordinate settings in force (settings store). Raises
// EAppError when the settings cannot be read.
void InitPsmHeader(TPsmHeader& header);

// Wrapped phase of n pixels from the four step images by the method (1111 or 2222), in
// 32-bit float arithmetic; the arc tangent gives the C library's atan2f values bit for bit.
// Raises EAppError for another method.
void ComputeWrappedPhase(int32_t method, const uint8_t* step1, const uint8_t* step2,
                         const uint8_t* step3, const uint8_t* step4, size_t n, float* out);

class TPhaseShiftMoire {
public:
    // A new project named name, its header made by InitPsmHeader; no planes, not modified.
    explicit TPhaseShiftMoire(const std::string& name);
    ~TPhaseShiftMoire();
    TPhaseShiftMoire(const TPhaseShiftMoire&) = delete;
    TPhaseShiftMoire& operator=(const TPhaseShiftMoire&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    TPsmHeader& Header() { return header_; }
    const TPsmHeader& Header() const { return header_; }
    int32_t Width() const { return header_.Width; }
    int32_t Height() const { return header_.Height; }
    size_t Pixels() const;
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

    // Resets the header to the settings in force as for a new project; the planes stay,
    // and so do width, height and the presence bytes that describe them.
    void InitPsmHeader();

    // Stores width and height and makes all six byte planes anew (zeroed). Float planes of
    // another size are dropped. Raises EAppError for dimensions that are not above 0 or
    // exceed kMaxPsmSide / kMaxPsmPixels, and "No more memory to allocate".
    void AllocBytePlanes(int32_t width, int32_t height);
    // Byte plane 0-5, or null when absent or for another index.
    uint8_t* BytePlane(int index) const;
    // Byte plane 0-5, made (zeroed, of the project's size) when absent. Raises EAppError for
    // another index or a project without an image size.
    uint8_t* EnsureBytePlane(int index);
    // Float plane of code 111, 222 or 333, or null when absent or for another code.
    float* FloatPlane(int code) const;
    // Installs a float plane of Pixels() values (null drops it) and updates the presence
    // bytes. Raises EAppError for an unknown code.
    void SetFloatPlane(int code, std::unique_ptr<float[]> plane);

    // Each presence byte := 1 when its plane exists, else 0.
    void UpdatePresenceFlags();

    // Writes the .psm file. The file is written under a temporary name in the same directory
    // and then renamed over path, so an existing file is replaced only by a complete one.
    // Not modified afterwards; the name stays. Raises EAppError when it cannot be written.
    void SaveToFile(const std::string& path);
    // Reads a .psm file. The file must carry the marker, a width and height above 0 within
    // the limits above, presence bytes of 0 or 1 and exactly the bytes they announce.
    // Afterwards the project holds what the file holds (absent planes are none), is named
    // path and is modified. On any error EAppError is raised and the project is unchanged.
    void LoadFromFile(const std::string& path);

    // Mask from the Object plane: 0 (valid) where Threshold < Object, else 255. With
    // Threshold Auto set, Threshold := the mean of the Object plane (kept in the header).
    void ComputeMask();
    // Wrapped phase (plane 111) from Step1-Step4 by the header's method.
    void ComputePhase();
    // Unwrapped phase (plane 222) from plane 111 and the mask, starting at (X0, Y0) when
    // StartPoint Auto is set, else at (Start X, Start Y). Every pixel the unwrapping did not
    // measure (its value filled in from its neighbours, or no path reached it) is marked
    // invalid (255) in the mask, which is made for that when the project has none.
    void UnwrapPhase();

    // The please-wait box around a long computation: called with true before, false after.
    // The GUI sets it; none is shown when unset.
    static void SetPleaseWait(std::function<void(bool visible)> pleaseWait);
    // Called whenever a plane array of a project is replaced or freed (also when a project
    // is destroyed), so that views holding borrowed plane pointers drop them. The GUI sets
    // it; nothing is called when unset.
    static void SetPlanesChanged(std::function<void()> planesChanged);

private:
    struct NoSettings {};
    TPhaseShiftMoire(const std::string& name, NoSettings);
    void Swap(TPhaseShiftMoire& other) noexcept;
    static int FloatIndex(int code);   // 0-2, or -1
    static void PlanesChanged();

    std::string name_;
    TPsmHeader header_;
    bool modified_ = false;
    std::unique_ptr<uint8_t[]> bytePlanes_[kBytePlaneCount];
    std::unique_ptr<float[]> floatPlanes_[kFloatPlaneCount];
};
