// The simulated measurement bench shared by the imaging-library and stage stand-ins.
//
// An object height map h(x, y) (millimetres) stands on a bright plate; a dark band
// runs along the right and bottom edges of the field, so that the object image has
// pixels below its mean and the validity mask has something to reject. A sinusoidal
// grating is projected onto it; the camera sees, at each pixel,
//
//     grey = contrast * R(x, y) * (bias + modulation * cos(phi(x, y) + delta)) + brightness + noise
//
// with R the reflectance (1 on the plate, 0.25 in the band), delta the phase shift of
// the grating moved by the stage's phase-shift axis, and phi the grating phase that the
// bench geometry gives for the local height. phi is the exact inverse of the height
// conversion the workstation applies:
//
//     X  = (x - X0) * PixelX
//     T1 = Zc Zcf sin(Theta) + Zc X cos(Theta)     T2 = Zc Zc X cos(Theta)
//     T3 = Zc Zcf cos(Theta) - Zc X sin(Theta)     T4 = -Zc Zc X sin(Theta) + Zc Zcf Lp
//     u  = Lpf (h T1 + T2) / (h T3 + T4)           phi = 2 pi f (u - X)
//
// so the conversion of phi (made relative to the reference pixel (X0, Y0), where every
// scene has height 0) returns h. The grating moves with the phase-shift axis: one
// grating period (1 / f millimetres) of axis travel is a phase shift of 2 pi, and the
// axis travels 1 / CountPerUm micrometres per controller count.
//
// Camera views: the channel code `viewChannel` (default 0x40000000, "Channel 2") is a
// camera that sees the object uniformly lit (no grating); every other channel sees the
// grating. Noise is Gaussian, seeded, and fixed for a given seed, channel and stage
// position: the same state always gives the same image.
//
// The environment chooses the scene and seed at first use: BENCH_SCENE (demo, flat,
// tilted, sphere, step) and BENCH_SEED (an integer). Everything here is thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// What the camera is set to when a frame is taken (from the digitizer controls).
struct CameraSettings {
    uint32_t channel = 0x20000000;  // input channel code selected on the digitizer
    double brightness = 0.0;        // offset, grey levels
    double contrast = 1.0;          // gain factor
};

// Takes one camera frame of width x height 8-bit pixels into out. Thread-safe.
void captureFrame(const CameraSettings& camera, int width, int height, uint8_t* out);

// Stage axis 1-4 position in controller counts (the stage stand-in calls this on every move).
void setAxisCounts(int axis, int32_t counts);
int32_t axisCounts(int axis);

enum class Scene { Demo, Flat, Tilted, Sphere, Step };

// Bench geometry in the workstation's units (lengths in millimetres, Theta in radians,
// grating frequency in lines per millimetre). The conversion parameters of a measurement
// must hold these values for the heights to come back true.
struct Geometry {
    double Zc = 100.0, Zcf = 100.0, Lp = 100.0, Lpf = 100.0;
    double Theta = 0.7854;
    double frequency = 10.0;
    double pixelX = 0.006, pixelY = 0.006;
    int X0 = 0, Y0 = 0;
};

struct Config {
    Scene scene = Scene::Demo;
    uint64_t seed = 1;
    double noiseSigma = 1.5;           // grey levels
    Geometry geometry;
    double countsPerUm = 16.89110196616;
    int phaseShiftAxis = 1;            // stage axis 1-4 that moves the grating
    uint32_t viewChannel = 0x40000000; // channel with the uniformly lit object view
    double bias = 128.0;               // grey level of the lit plate without fringes
    double modulation = 100.0;         // fringe amplitude on the plate
};

// The configuration in force (read from the environment at first use).
Config config();
// Replaces the configuration; the stage axes keep their positions.
void configure(const Config& config);
// Back to the environment's configuration with every axis at 0 counts.
void reset();

// Scene names as BENCH_SCENE takes them; false for an unknown name.
bool parseScene(const std::string& name, Scene* scene);
const char* sceneName(Scene scene);

// Truth for a field of width x height pixels, row-major.
std::vector<double> trueHeightMap(int width, int height);   // h, millimetres
std::vector<double> truePhaseMap(int width, int height);    // phi at zero phase shift, radians
// Where the object plate is (1) and where the dark band is (0).
std::vector<uint8_t> plateMap(int width, int height);

// The heights the workstation's conversion gives for the bench's true phase, relative to
// the reference pixel (X0, Y0) as the conversion defines them: equal to trueHeightMap up
// to rounding, since every scene has height 0 at the reference pixel.
std::vector<double> expectedHeightMap(int width, int height);

// Phase shift of the grating per controller count of the phase-shift axis, radians.
double phasePerCount();
// The grating phase shift at the phase-shift axis's current position, radians.
double currentPhaseShift();

// The height the conversion formula gives for phase phi (relative to the reference
// pixel) at column x, and its inverse: the phase of height h at column x.
double heightFromPhase(const Geometry& g, double phi, int x);
double phaseFromHeight(const Geometry& g, double h, int x);

}  // namespace bench
