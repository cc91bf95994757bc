#include "Converttoz.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "Apperror.h"
#include "Phaseshiftmoire.h"

namespace {

// Plain float operations kept as separate statements so that every named term is rounded
// to float32 the way the formula is written.
inline float Mul(float a, float b) { return a * b; }

}  // namespace

void ConvertPhaseToHeight(int32_t width, int32_t height, const TConvertGeometry& g,
                          float* map)
{
    if (width <= 0 || height <= 0 || map == nullptr)
        throw EAppError("There is no phase map to convert!");
    if (g.X0 < 0 || g.X0 >= width || g.Y0 < 0 || g.Y0 >= height)
        throw EAppError("The reference pixel (X0, Y0) = (" + std::to_string(g.X0) + ", " +
                        std::to_string(g.Y0) + ") lies outside the image of " +
                        std::to_string(width) + " x " + std::to_string(height) + " pixels!");
    if (g.GratingFrequency == 0.0f)
        throw EAppError("The projection grating frequency must not be 0!");

    const float s = std::sin(g.Theta);
    const float c = std::cos(g.Theta);
    const size_t w = size_t(width);
    const size_t n = w * size_t(height);

    const float phi0 = map[size_t(g.Y0) * w + size_t(g.X0)];
    for (size_t i = 0; i < n; ++i) map[i] = map[i] - phi0;

    const float twoPiF = Mul(6.28318531f, g.GratingFrequency);
    const float ZcZcf = Mul(g.Zc, g.Zcf);
    for (int32_t y = 0; y < height; ++y) {
        float* row = map + size_t(y) * w;
        for (int32_t x = 0; x < width; ++x) {
            const float X = Mul(float(x - g.X0), g.PixelX);
            const float ZcX = Mul(g.Zc, X);
            const float T1 = Mul(ZcZcf, s) + Mul(ZcX, c);
            const float ZcZcX = Mul(Mul(g.Zc, g.Zc), X);
            const float T2 = Mul(ZcZcX, c);
            const float T3 = Mul(ZcZcf, c) - Mul(ZcX, s);
            const float T4 = Mul(Mul(Mul(-g.Zc, g.Zc), X), s) + Mul(ZcZcf, g.Lp);
            const float phi = row[x];
            const float u = phi / twoPiF + X;
            const float N = Mul(u, T4) - Mul(g.Lpf, T2);
            const float D = Mul(u, T3) - Mul(g.Lpf, T1);
            row[x] = D == 0.0f ? 0.0f : -N / D;
        }
    }
}

void ConvertToZ(TPhaseShiftMoire& project)
{
    const float* unwrapped = project.FloatPlane(kUnwrappedPhaseCode);
    if (unwrapped == nullptr) throw EAppError("Unwrap the phase First!");

    const TPsmHeader& h = project.Header();
    TConvertGeometry g;
    g.Zc = float(h.Zc);
    g.Zcf = float(h.Zcf);
    g.Theta = float(h.Theta);
    g.Lp = float(h.Lp);
    g.Lpf = float(h.Lpf);
    g.X0 = h.X0;
    g.Y0 = h.Y0;
    g.PixelX = float(h.PixelX);
    g.PixelY = float(h.PixelY);
    g.GratingFrequency = float(h.GratingFrequency);

    const size_t n = project.Pixels();
    std::unique_ptr<float[]> plane(new (std::nothrow) float[n]);
    if (!plane) throw EAppError("No more memory to allocate");
    std::memcpy(plane.get(), unwrapped, n * sizeof(float));
    // Converted into a fresh array first: a refusal leaves plane 333 as it was.
    ConvertPhaseToHeight(project.Width(), project.Height(), g, plane.get());

    if (const uint8_t* mask = project.BytePlane(kMaskPlane)) {
        for (size_t i = 0; i < n; ++i)
            if (mask[i] != 0) plane[i] = 0.0f;
    }
    project.SetFloatPlane(kConvertResultCode, std::move(plane));
    project.UpdatePresenceFlags();
}
