// The simulated measurement bench shared by the imaging-library and stage stand-ins.
//
// Scene. An object height map h(x, y) stands on a bright plate; a dark surround
// (reflectance 0.1) runs along the right and bottom edges of the field (the last 1/25 of
// the columns and of the rows, at least one of each), as around an object that does not
// fill the camera's view. The plate covers 92 % of the field, so the mean of the object
// image, the automatic mask threshold, sits some 14 grey levels below the lit plate: the
// mask rejects the surround and keeps the plate even with a noisy camera.
//
// Grating. A sinusoidal grating of `frequency` lines per millimetre is projected onto the
// object and viewed through the reference grating; the camera sees, at each pixel,
//
//     grey = contrast * R * (ambient + bias + modulation * cos(phi + delta)) + brightness + noise
//
// clipped to 0..255, with R the reflectance, delta the phase shift set by the stage's
// phase-shift axis, and phi the phase that the bench geometry gives for the local height.
// phi is the exact inverse of the workstation's height conversion:
//
//     X  = (x - X0) * PixelX
//     T1 = Zc Zcf sin(Theta) + Zc X cos(Theta)     T2 = Zc Zc X cos(Theta)
//     T3 = Zc Zcf cos(Theta) - Zc X sin(Theta)     T4 = -Zc Zc X sin(Theta) + Zc Zcf Lp
//     u  = Lpf (h T1 + T2) / (h T3 + T4)           phi = 2 pi f (u - X)
//
// with h in millimetres relative to the reference pixel (X0, Y0). Converting phi (made
// relative to the reference pixel, where it is 0) back gives h. u is the place on the
// projected grating, in millimetres; the grating is 2 * gratingHalfWidth wide, and a pixel
// with |u| above that, or behind the projector (h T3 + T4 <= 0), gets ambient light only:
// it shows no fringes and its true phase is NaN.
//
// The geometry is the one the settings store describes, read when the bench is first used
// and at reset(): the conversion parameters of "PSM\ConvertPara" with the rulers and the
// camera and projector axes' offsets from their home positions, and the control
// parameters' "ProjectGratingFrequency", combined as the workstation derives a project's
// geometry from them (storedGeometry()). A key group that is missing gives its defaults,
// so an empty store gives the workstation's default conversion parameters (Zc 10, Zcf 1,
// Lp 10, Lpf 1, Theta 0.7854, 10 lines/mm, pixels of 0.006 mm, reference pixel (0, 0)),
// and any store converts the bench's images to its own heights. With those defaults the
// fringes crowd towards larger columns and the height formula has a pole near column 236;
// the 4 mm grating ends before that, near column 157 (about three pixels per fringe). The
// bench set-up's store (setupSettingsFile()) holds a geometry for which the grating lights
// the whole 768 x 576 frame, far from the pole and with fringes at least 21 pixels wide. The
// scenes are laid out inside the columns the grating reaches.
//
// Phase shift. The grating phase follows the phase-shift axis (`phaseShiftAxis`, default
// axis 1 as the settings' "PhaseShiftAxis"): delta = counts * phasePerCount(). The
// workstation's constant four-step method moves 250 / f micrometres per step, which the
// stage panel rounds to whole counts (trunc(um * CountPerUm + 0.5): 422 counts with the
// defaults); phasePerCount() is chosen so that this many counts shift the phase by
// exactly pi / 2, the shift the method's formula assumes. (The equal four-step method's
// default step, 0.2 * 1000 / f = 20 micrometres, is 338 counts: 0.8009 * pi / 2.)
//
// Camera views. The channel code `viewChannel` (default 0x40000000, "Channel 2") shows
// the object lit uniformly (no grating, ambient + bias + 0.72 modulation); every other
// channel, the default 0x20000000 among them, shows the grating. A measurement therefore
// takes its object image on Channel 2 and its phase-shifted images on Channel 1.
//
// Noise is Gaussian (noiseSigma grey levels), seeded, and fixed for a given seed,
// channel and phase-shift axis position: the same state always gives the same image.
//
// The environment chooses the scene and seed at first use and at reset(): BENCH_SCENE
// (demo, flat, tilted, sphere, step) and BENCH_SEED (an integer, default 1); a value
// that cannot be read is reported on stderr and the default used. Everything here is
// thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qsrf::registry {
class RegistryBackend;
}

namespace bench {

// What the camera is set to when a frame is taken (from the digitizer controls).
struct CameraSettings {
    uint32_t channel = 0x20000000;  // input channel code selected on the digitizer
    double brightness = 0.0;        // offset, grey levels
    double contrast = 1.0;          // gain factor
};

// The camera's frame size (the digitizer's "O_CCIR" format); frames of any size can be taken.
constexpr int kFrameWidth = 768;
constexpr int kFrameHeight = 576;

// Takes one camera frame of width x height 8-bit pixels into out (nothing for a
// non-positive size or a null out). Thread-safe.
void captureFrame(const CameraSettings& camera, int width, int height, uint8_t* out);

// Stage axis 1-4 position in controller counts (the stage stand-in calls this on every
// move); other axis numbers are ignored and read as 0.
void setAxisCounts(int axis, int32_t counts);
int32_t axisCounts(int axis);

// Laid out across the scene window (the columns the grating reaches on a flat object:
// with the default geometry the whole width of fields up to 158 pixels and columns 0-157
// of wider ones; the whole width with the bench set-up's geometry) and down the whole
// height:
// demo: a dome 150 µm high, a dimple 50 µm deep and a 20 µm tilt; flat: height 0;
// tilted: a plane rising 100 µm across the window and 50 µm down the height; sphere: a
// spherical cap on a base of radius 0.3 x min(window width, height) pixels, 100 µm high
// (at most half its base radius); step: a terrace 100 µm high over the middle third of
// the rows, with sharp edges.
enum class Scene { Demo, Flat, Tilted, Sphere, Step };

// Bench geometry in the workstation's units (lengths in millimetres, Theta in radians,
// grating frequency in lines per millimetre). The conversion parameters of a measurement
// must hold these values for the heights to come back true; the defaults are the
// workstation's defaults.
// (gratingHalfWidth is the bench's own and is not taken from the settings store.)
struct Geometry {
    double Zc = 10.0, Zcf = 1.0, Lp = 10.0, Lpf = 1.0;
    double Theta = 0.7854;
    double frequency = 10.0;
    double pixelX = 0.006, pixelY = 0.006;
    int X0 = 0, Y0 = 0;
    double gratingHalfWidth = 2.0;  // the projected grating spans |u| <= this, millimetres
};

struct Config {
    Scene scene = Scene::Demo;
    uint64_t seed = 1;
    double noiseSigma = 0.5;           // grey levels
    Geometry geometry;
    double countsPerUm = 16.89110196616;  // the stage's counts per micrometre
    int phaseShiftAxis = 1;            // stage axis 1-4 that moves the grating
    uint32_t viewChannel = 0x40000000; // channel with the uniformly lit object view
    double ambient = 10.0;             // grey level of light that is not the projector's
    double bias = 118.0;               // with ambient, the mean grey level of the lit plate
    double modulation = 100.0;         // fringe amplitude on the plate
};

// The configuration in force (scene and seed from the environment, geometry from the
// settings store, at first use).
Config config();
// Replaces the configuration; the stage axes keep their positions.
void configure(const Config& config);
// Back to the environment's scene and seed and the settings store's geometry, with every
// axis at 0 counts.
void reset();

// The geometry the process's settings store describes: Zc = Zc0 + RulerV + dV,
// Zcf = Zcf0 - dV, Lp = Lp0 + RulerP / sin(Theta) + dP, Lpf = Lpf0 - dP, with dV and dP
// the "PI View" and "PI Project" axes' CurrentPos - HomePos; Theta, pixel sizes and
// reference pixel as stored; the frequency from the control parameters. Missing key
// groups give their defaults. A store that cannot be read, or that gives no usable
// geometry (a value missing or of another type, a length that is not finite, a frequency
// not above 0), is reported on stderr and the default geometry used.
Geometry storedGeometry();

// The settings file of the bench set-up, in the settings store's file format: the
// conversion and control parameters that describe this bench (its geometry lights the whole
// 768 x 576 frame; the object view on its view channel; the constant four-step method at
// the geometry's grating frequency). scripts/run.sh copies it into the set-up's own
// settings folder when that has none.
std::string setupSettingsFile();
// Adds the keys and values of that file to a settings store (what run.sh's seeded store
// holds). False, with the reason in *problem, when the file is not a regular file, cannot be
// read or has lines that cannot be read; the store is then left unchanged.
bool seedSettings(qsrf::registry::RegistryBackend& store, std::string* problem = nullptr);

// Shorthands for configure() with one field changed.
void setScene(Scene scene);
void setSeed(uint64_t seed);

// Scene names as BENCH_SCENE takes them; false for an unknown name.
bool parseScene(const std::string& name, Scene* scene);
const char* sceneName(Scene scene);

// Whether a channel code shows the grating (every code but viewChannel).
bool showsGrating(uint32_t channel);

// Truth for a field of width x height pixels, row-major.
// Heights in micrometres relative to the reference pixel (X0, Y0), as the conversion
// defines them (its result is in millimetres: multiply it by 1000).
std::vector<double> trueHeightMap(int width, int height);
// The continuous grating phase phi at zero phase shift, radians; 0 at the reference
// pixel; NaN where the grating does not reach.
std::vector<double> truePhaseMap(int width, int height);
// Where the object view is bright (1): on the plate and reached by the projector; the
// pixels a mean-threshold mask keeps. 0 in the dark surround and outside the projector's field.
std::vector<uint8_t> plateMap(int width, int height);

// The heights (micrometres) the workstation's conversion gives for the bench's true
// phase: equal to trueHeightMap up to rounding where the grating reaches, NaN elsewhere.
std::vector<double> expectedHeightMap(int width, int height);

// Phase shift of the grating per controller count of the phase-shift axis, radians.
double phasePerCount();
// Counts the stage panel sends for a move of um micrometres: trunc(|um| * countsPerUm
// + 0.5), with the sign of um.
int32_t stepCounts(double um);
// The phase shift of one stage step of um micrometres, radians (pi / 2 for the constant
// four-step method's 250 / f micrometres).
double phasePerStep(double um);
// The grating phase shift at the phase-shift axis's current position, radians.
double currentPhaseShift();

// The height (millimetres) the conversion formula gives for phase phi (relative to the
// reference pixel) at column x, and its inverse: the phase of height h (millimetres,
// relative to the reference pixel) at column x.
double heightFromPhase(const Geometry& g, double phi, int x);
double phaseFromHeight(const Geometry& g, double h, int x);

}  // namespace bench
