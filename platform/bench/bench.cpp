#include "bench.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace bench {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kBandReflectance = 0.25;
constexpr int kNoiseTableSize = 1 << 20;  // Gaussian samples, reused with a per-state offset

// Per-size precomputed maps: reflectance and the cosine and sine of the grating phase.
struct Field {
    int width = 0, height = 0;
    std::vector<float> reflectance;
    std::vector<float> cosPhi, sinPhi;
};

struct State {
    std::mutex mutex;
    Config config;
    bool configured = false;
    std::map<std::pair<int, int>, std::shared_ptr<const Field>> fields;
    std::shared_ptr<const std::vector<float>> noise;  // unit Gaussian samples for the seed
};

State& state()
{
    static State s;
    return s;
}

std::array<std::atomic<int32_t>, 5> g_axis{};

uint64_t splitmix(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::shared_ptr<const std::vector<float>> makeNoise(uint64_t seed)
{
    auto shared = std::make_shared<std::vector<float>>(kNoiseTableSize);
    std::vector<float>& table = *shared;
    uint64_t s = seed * 0x2545F4914F6CDD1Dull + 1;
    for (int i = 0; i < kNoiseTableSize; i += 2) {
        // Box-Muller on two uniforms in (0, 1].
        double u1 = (static_cast<double>(splitmix(s) >> 11) + 1.0) / 9007199254740992.0;
        double u2 = static_cast<double>(splitmix(s) >> 11) / 9007199254740992.0;
        double r = std::sqrt(-2.0 * std::log(u1));
        table[i] = static_cast<float>(r * std::cos(kTwoPi * u2));
        table[i + 1] = static_cast<float>(r * std::sin(kTwoPi * u2));
    }
    return shared;
}

Config configFromEnvironment()
{
    Config c;
    if (const char* s = std::getenv("BENCH_SCENE")) {
        Scene scene;
        if (parseScene(s, &scene)) c.scene = scene;
    }
    if (const char* s = std::getenv("BENCH_SEED")) {
        char* end = nullptr;
        unsigned long long v = std::strtoull(s, &end, 10);
        if (end != s && *end == '\0') c.seed = v;
    }
    return c;
}

// Caller holds the lock.
void ensureConfigured(State& s)
{
    if (s.configured) return;
    s.config = configFromEnvironment();
    s.noise = makeNoise(s.config.seed);
    s.configured = true;
}

// Height of the scene at pixel (x, y) of a width x height field, millimetres. Every
// scene is 0 at the top-left corner, the default reference pixel, and smooth enough
// for the fringes to stay below half a period per pixel.
double rawSceneHeight(Scene scene, int x, int y, int width, int height)
{
    const double u = (x + 0.5) / width, v = (y + 0.5) / height;
    switch (scene) {
    case Scene::Flat:
        return 0.0;
    case Scene::Tilted:
        return 0.02 * (static_cast<double>(x) / width) + 0.01 * (static_cast<double>(y) / height);
    case Scene::Sphere: {
        // Spherical cap over a base of radius 0.3 (field units), 0.08 mm high at its centre.
        const double r2 = ((u - 0.45) * (u - 0.45) + (v - 0.45) * (v - 0.45)) / (0.3 * 0.3);
        if (r2 >= 1.0) return 0.0;
        const double k = 0.5, top = 1.0 - std::sqrt(1.0 - k);
        return 0.08 * (std::sqrt(1.0 - k * r2) - std::sqrt(1.0 - k)) / top;
    }
    case Scene::Step:
        // A 0.015 mm terrace over the middle third of the width, with a soft edge
        // two pixels wide so that the jump stays below half a fringe per pixel.
        {
            const double left = 1.0 / 3.0, right = 2.0 / 3.0, edge = 2.0 / width;
            const double a = std::clamp((u - left) / edge, 0.0, 1.0);
            const double b = std::clamp((right - u) / edge, 0.0, 1.0);
            return 0.015 * std::min(a, b);
        }
    case Scene::Demo:
    default: {
        // A smooth dome with a small dimple beside it and a gentle tilt.
        const double d1 = ((u - 0.42) * (u - 0.42) + (v - 0.45) * (v - 0.45)) / (0.18 * 0.18);
        const double d2 = ((u - 0.68) * (u - 0.68) + (v - 0.62) * (v - 0.62)) / (0.08 * 0.08);
        return 0.06 * std::exp(-d1) - 0.02 * std::exp(-d2) + 0.004 * (static_cast<double>(x) / width);
    }
    }
}

// The scene made relative to the reference pixel, where every scene stands at 0.
double sceneHeight(const Config& c, int x, int y, int width, int height)
{
    const int rx = std::clamp(c.geometry.X0, 0, width - 1), ry = std::clamp(c.geometry.Y0, 0, height - 1);
    return rawSceneHeight(c.scene, x, y, width, height) - rawSceneHeight(c.scene, rx, ry, width, height);
}

bool onPlate(int x, int y, int width, int height)
{
    // The dark band: the last 10 % of the columns and of the rows.
    return x < width - width / 10 && y < height - height / 10;
}

std::shared_ptr<const Field> field(State& s, int width, int height)
{
    auto key = std::make_pair(width, height);
    auto it = s.fields.find(key);
    if (it != s.fields.end()) return it->second;
    auto f = std::make_shared<Field>();
    f->width = width;
    f->height = height;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    f->reflectance.resize(n);
    f->cosPhi.resize(n);
    f->sinPhi.resize(n);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double phi = phaseFromHeight(s.config.geometry, sceneHeight(s.config, x, y, width, height), x);
            f->reflectance[i] = onPlate(x, y, width, height) ? 1.0f : static_cast<float>(kBandReflectance);
            f->cosPhi[i] = static_cast<float>(std::cos(phi));
            f->sinPhi[i] = static_cast<float>(std::sin(phi));
        }
    }
    s.fields.emplace(key, f);
    return f;
}

double phasePerCountOf(const Config& c)
{
    // One count moves the grating 1 / countsPerUm micrometres; one period is 1000 / f µm.
    return c.countsPerUm > 0.0 ? kTwoPi * c.geometry.frequency / (1000.0 * c.countsPerUm) : 0.0;
}

}  // namespace

void captureFrame(const CameraSettings& camera, int width, int height, uint8_t* out)
{
    if (width <= 0 || height <= 0 || out == nullptr) return;
    State& s = state();
    std::shared_ptr<const Field> f;
    Config c;
    std::shared_ptr<const std::vector<float>> noiseTable;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        ensureConfigured(s);
        f = field(s, width, height);
        c = s.config;
        noiseTable = s.noise;
    }
    const float* noise = noiseTable->data();
    const bool lit = camera.channel != c.viewChannel;
    const int axis = std::clamp(c.phaseShiftAxis, 1, 4);
    const int32_t counts = g_axis[axis].load();
    const double delta = phasePerCountOf(c) * counts;
    const float cd = static_cast<float>(std::cos(delta)), sd = static_cast<float>(std::sin(delta));
    const float gain = static_cast<float>(camera.contrast);
    const float offset = static_cast<float>(camera.brightness) + 0.5f;
    const float bias = static_cast<float>(c.bias), mod = static_cast<float>(c.modulation);
    const float sigma = static_cast<float>(c.noiseSigma);
    // The noise pattern depends on the seed, the channel and the stage position only.
    uint64_t h = (static_cast<uint64_t>(static_cast<uint32_t>(counts)) << 32) ^ camera.channel ^ (c.seed * 0x9E37ull);
    const size_t start = static_cast<size_t>(splitmix(h) % kNoiseTableSize);
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t k = start;
    for (size_t i = 0; i < n; ++i) {
        // cos(phi + delta) = cos(phi) cos(delta) - sin(phi) sin(delta)
        const float fringe = lit ? f->cosPhi[i] * cd - f->sinPhi[i] * sd : 0.0f;
        const float light = lit ? bias + mod * fringe : bias + mod * 0.72f;
        float v = gain * f->reflectance[i] * light + offset + sigma * noise[k];
        if (++k == kNoiseTableSize) k = 0;
        v = std::clamp(v, 0.0f, 255.0f);
        out[i] = static_cast<uint8_t>(v);
    }
}

void setAxisCounts(int axis, int32_t counts)
{
    if (axis >= 1 && axis <= 4) g_axis[axis] = counts;
}

int32_t axisCounts(int axis)
{
    return axis >= 1 && axis <= 4 ? g_axis[axis].load() : 0;
}

Config config()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureConfigured(s);
    return s.config;
}

void configure(const Config& c)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const bool newSeed = !s.configured || s.config.seed != c.seed;
    s.config = c;
    s.configured = true;
    s.fields.clear();
    if (newSeed) s.noise = makeNoise(c.seed);
}

void reset()
{
    configure(configFromEnvironment());
    for (int a = 1; a <= 4; ++a) g_axis[a] = 0;
}

bool parseScene(const std::string& name, Scene* scene)
{
    static const std::pair<const char*, Scene> names[] = {
        {"demo", Scene::Demo}, {"flat", Scene::Flat}, {"tilted", Scene::Tilted},
        {"sphere", Scene::Sphere}, {"step", Scene::Step}};
    for (const auto& [text, value] : names) {
        if (name == text) {
            if (scene) *scene = value;
            return true;
        }
    }
    return false;
}

const char* sceneName(Scene scene)
{
    switch (scene) {
    case Scene::Flat: return "flat";
    case Scene::Tilted: return "tilted";
    case Scene::Sphere: return "sphere";
    case Scene::Step: return "step";
    case Scene::Demo: break;
    }
    return "demo";
}

std::vector<double> trueHeightMap(int width, int height)
{
    const Config c = config();
    std::vector<double> map(static_cast<size_t>(std::max(0, width)) * std::max(0, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            map[static_cast<size_t>(y) * width + x] = sceneHeight(c, x, y, width, height);
    return map;
}

std::vector<double> truePhaseMap(int width, int height)
{
    const Config c = config();
    std::vector<double> map = trueHeightMap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double& v = map[static_cast<size_t>(y) * width + x];
            v = phaseFromHeight(c.geometry, v, x);
        }
    return map;
}

std::vector<uint8_t> plateMap(int width, int height)
{
    std::vector<uint8_t> map(static_cast<size_t>(std::max(0, width)) * std::max(0, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            map[static_cast<size_t>(y) * width + x] = onPlate(x, y, width, height) ? 1 : 0;
    return map;
}

std::vector<double> expectedHeightMap(int width, int height)
{
    const Config c = config();
    std::vector<double> phase = truePhaseMap(width, height);
    if (phase.empty()) return phase;
    const int rx = std::clamp(c.geometry.X0, 0, width - 1), ry = std::clamp(c.geometry.Y0, 0, height - 1);
    const double phi0 = phase[static_cast<size_t>(ry) * width + rx];
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double& v = phase[static_cast<size_t>(y) * width + x];
            v = heightFromPhase(c.geometry, v - phi0, x);
        }
    return phase;
}

double phasePerCount()
{
    return phasePerCountOf(config());
}

double currentPhaseShift()
{
    const Config c = config();
    return phasePerCountOf(c) * axisCounts(std::clamp(c.phaseShiftAxis, 1, 4));
}

namespace {
struct Terms {
    double T1, T2, T3, T4, X;
};
Terms terms(const Geometry& g, int x)
{
    const double s = std::sin(g.Theta), c = std::cos(g.Theta);
    const double X = (x - g.X0) * g.pixelX;
    return {g.Zc * g.Zcf * s + g.Zc * X * c, g.Zc * g.Zc * X * c, g.Zc * g.Zcf * c - g.Zc * X * s,
            -g.Zc * g.Zc * X * s + g.Zc * g.Zcf * g.Lp, X};
}
}  // namespace

double heightFromPhase(const Geometry& g, double phi, int x)
{
    const Terms t = terms(g, x);
    const double u = phi / (kTwoPi * g.frequency) + t.X;
    return -(u * t.T4 - g.Lpf * t.T2) / (u * t.T3 - g.Lpf * t.T1);
}

double phaseFromHeight(const Geometry& g, double h, int x)
{
    const Terms t = terms(g, x);
    const double u = g.Lpf * (h * t.T1 + t.T2) / (h * t.T3 + t.T4);
    return kTwoPi * g.frequency * (u - t.X);
}

}  // namespace bench
