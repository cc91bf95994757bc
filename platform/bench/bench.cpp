#include "bench.h"

#include "registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace bench {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kBandReflectance = 0.1;
constexpr double kViewLevel = 0.72;       // object-view light above the bias, in modulations
constexpr int kNoiseTableSize = 1 << 20;  // Gaussian samples, reused with a per-state offset
constexpr size_t kMaxCachedFields = 8;

// Per-size precomputed maps: the frame is
//   grating view: base + cosTerm * cos(delta) - sinTerm * sin(delta)
//   object view:  view
// before gain, offset and noise.
struct Field {
    std::vector<float> base, cosTerm, sinTerm, view;
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
    // Never destroyed: the imaging stand-in may still grab from its own static destructors.
    static State* s = new State;
    return *s;
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
        // Box-Muller on two uniforms, u1 in (0, 1], u2 in [0, 1).
        const double u1 = (static_cast<double>(splitmix(s) >> 11) + 1.0) / 9007199254740992.0;
        const double u2 = static_cast<double>(splitmix(s) >> 11) / 9007199254740992.0;
        const double r = std::sqrt(-2.0 * std::log(u1));
        table[i] = static_cast<float>(r * std::cos(kTwoPi * u2));
        table[i + 1] = static_cast<float>(r * std::sin(kTwoPi * u2));
    }
    return shared;
}

// Where the workstation keeps its settings, below HKEY_CURRENT_USER.
const char* const kSettingsRoot = "Software\\Kestrove NT\\Qsrf\\0.01\\";

// The stored conversion parameters the geometry is made of, with their defaults.
struct StoredConversion {
    double rulerV = 0.0, rulerP = 0.0;
    int viewAxis = 3, projectAxis = 2;
    double Zc0 = 10.0, Zcf0 = 1.0, Theta = 0.7854, Lp0 = 10.0, Lpf0 = 1.0;
    int X0 = 0, Y0 = 0;
    double pixelX = 0.006, pixelY = 0.006;
    double frequency = 10.0;
};

// Opens a key group of the settings without creating it; false when it is missing.
bool openGroup(qsrf::registry::Registry& reg, const std::string& group)
{
    return reg.OpenKey(kSettingsRoot + group, false);
}

// CurrentPos - HomePos of a stage axis (0 for an axis without a stored group).
double axisOffset(int axis)
{
    if (axis < 1 || axis > 4) return 0.0;
    qsrf::registry::Registry reg;
    if (!openGroup(reg, "PI\\Ch" + std::to_string(axis))) return 0.0;
    return reg.ReadFloat("CurrentPos") - reg.ReadFloat("HomePos");
}

// Throws qsrf::registry::RegistryError when the store cannot be read.
Geometry readStoredGeometry()
{
    StoredConversion p;
    {
        qsrf::registry::Registry reg;
        if (openGroup(reg, "PSM\\ConvertPara")) {
            p.rulerV = reg.ReadFloat("RulerV");
            p.rulerP = reg.ReadFloat("RulerP");
            p.viewAxis = reg.ReadInteger("PI View");
            p.projectAxis = reg.ReadInteger("PI Project");
            p.Zc0 = reg.ReadFloat("Zc0");
            p.Zcf0 = reg.ReadFloat("Zcf0");
            p.Theta = reg.ReadFloat("Theta");
            p.Lp0 = reg.ReadFloat("Lp0");
            p.Lpf0 = reg.ReadFloat("Lpf0");
            p.X0 = reg.ReadInteger("X0");
            p.Y0 = reg.ReadInteger("Y0");
            p.pixelX = reg.ReadFloat("Pixel X");
            p.pixelY = reg.ReadFloat("Pixel Y");
        }
    }
    {
        qsrf::registry::Registry reg;
        if (openGroup(reg, "PSM\\ControlPara")) p.frequency = reg.ReadFloat("ProjectGratingFrequency");
    }
    const double dV = axisOffset(p.viewAxis), dP = axisOffset(p.projectAxis);
    Geometry g;
    g.Zc = dV + (p.Zc0 + p.rulerV);
    g.Zcf = p.Zcf0 - dV;
    g.Lp = dP + (p.rulerP / std::sin(p.Theta) + p.Lp0);
    g.Lpf = p.Lpf0 - dP;
    g.Theta = p.Theta;
    g.frequency = p.frequency;
    g.pixelX = p.pixelX;
    g.pixelY = p.pixelY;
    g.X0 = p.X0;
    g.Y0 = p.Y0;
    for (double v : {g.Zc, g.Zcf, g.Lp, g.Lpf, g.Theta, g.pixelX, g.pixelY})
        if (!std::isfinite(v))
            throw qsrf::registry::RegistryError("The stored conversion parameters give no finite geometry.");
    if (!(g.frequency > 0.0) || !std::isfinite(g.frequency))
        throw qsrf::registry::RegistryError("The stored projection grating frequency is not above 0.");
    return g;
}

Config configFromEnvironment()
{
    Config c;
    c.geometry = storedGeometry();
    if (const char* s = std::getenv("BENCH_SCENE"); s && *s) {
        Scene scene;
        if (parseScene(s, &scene))
            c.scene = scene;
        else
            std::fprintf(stderr, "bench: unknown BENCH_SCENE \"%s\" (demo, flat, tilted, sphere, step); using demo\n", s);
    }
    if (const char* s = std::getenv("BENCH_SEED"); s && *s) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(s, &end, 10);
        if (end != s && *end == '\0' && errno == 0)
            c.seed = static_cast<uint64_t>(v);
        else
            std::fprintf(stderr, "bench: BENCH_SEED \"%s\" is not an integer; using 1\n", s);
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

Config snapshot()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureConfigured(s);
    return s.config;
}

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

// The place on the grating that lights a point of height h (mm, relative) at column x;
// false when no place of the grating does.
bool gratingPlace(const Geometry& g, double h, int x, double* u)
{
    const Terms t = terms(g, x);
    const double den = h * t.T3 + t.T4;
    if (!(den > 0.0)) return false;  // behind the projector
    *u = g.Lpf * (h * t.T1 + t.T2) / den;
    return std::fabs(*u) <= g.gratingHalfWidth;
}

// The columns of the field that the grating reaches on the plane of the reference pixel:
// where the scenes are laid out.
struct Window {
    double x0 = 0, width = 1;
};

Window sceneWindow(const Geometry& g, int width)
{
    int first = -1, last = -1;
    for (int x = 0; x < width; ++x) {
        double u;
        if (gratingPlace(g, 0.0, x, &u)) {
            if (first < 0) first = x;
            last = x;
        }
    }
    if (first < 0) return {0.0, static_cast<double>(width)};
    return {static_cast<double>(first), static_cast<double>(last - first + 1)};
}

double gauss(double dx, double dy, double radius)
{
    return std::exp(-(dx * dx + dy * dy) / (radius * radius));
}

// Height of the scene at pixel (x, y), millimetres, before it is made relative to the
// reference pixel. Lateral layout in pixels of the scene window and the field's rows.
double rawSceneHeight(const Config& c, const Window& w, double x, double y, int height)
{
    const double u = (x - w.x0) / w.width;   // 0..1 across the window
    const double v = (y + 0.5) / height;     // 0..1 down the field
    const double m = std::min(w.width, static_cast<double>(height));
    const Geometry& g = c.geometry;
    switch (c.scene) {
    case Scene::Flat:
        return 0.0;
    case Scene::Tilted:
        return 0.100 * u + 0.050 * v;
    case Scene::Sphere: {
        // A spherical cap on a base of radius 0.3 m pixels, 100 µm high (at most half
        // its base radius on small fields).
        const double dx = (x - (w.x0 + 0.45 * w.width)) * g.pixelX;
        const double dy = (y - 0.45 * height) * g.pixelY;
        const double a = 0.3 * m * std::min(g.pixelX, g.pixelY);
        const double cap = std::min(0.100, 0.5 * a);
        if (!(a > 0.0) || !(cap > 0.0)) return 0.0;
        const double radius = (a * a + cap * cap) / (2.0 * cap);
        const double r2 = dx * dx + dy * dy;
        if (r2 >= a * a) return 0.0;
        return std::sqrt(radius * radius - r2) - (radius - cap);
    }
    case Scene::Step:
        return v >= 1.0 / 3.0 && v < 2.0 / 3.0 ? 0.100 : 0.0;
    case Scene::Demo:
    default: {
        // A dome 150 µm high, a dimple 50 µm deep beside it, and a 20 µm tilt.
        const double cx = w.x0 + 0.42 * w.width, cy = 0.45 * height;
        const double dx = w.x0 + 0.70 * w.width, dy = 0.66 * height;
        return 0.150 * gauss(x - cx, y - cy, 0.18 * m) - 0.050 * gauss(x - dx, y - dy, 0.08 * m) + 0.020 * u;
    }
    }
}

// One field's layout: the window and the scene height at the reference pixel.
struct Layout {
    Window window;
    double reference = 0.0;
};

Layout layout(const Config& c, int width, int height)
{
    Layout l;
    l.window = sceneWindow(c.geometry, width);
    l.reference = rawSceneHeight(c, l.window, c.geometry.X0, c.geometry.Y0, height);
    return l;
}

// Height relative to the reference pixel, millimetres.
double sceneHeight(const Config& c, const Layout& l, int x, int y, int height)
{
    return rawSceneHeight(c, l.window, x, y, height) - l.reference;
}

bool onPlate(int x, int y, int width, int height)
{
    // The dark surround: the last 1/25 of the columns and of the rows, at least one of each.
    return x < width - std::max(1, width / 25) && y < height - std::max(1, height / 25);
}

struct PixelTruth {
    double height;   // mm, relative to the reference pixel
    double phase;    // radians at zero shift; NaN when unlit
    bool lit;
};

PixelTruth pixelTruth(const Config& c, const Layout& l, int x, int y, int height)
{
    PixelTruth p;
    p.height = sceneHeight(c, l, x, y, height);
    double u;
    p.lit = gratingPlace(c.geometry, p.height, x, &u);
    p.phase = p.lit ? kTwoPi * c.geometry.frequency * (u - terms(c.geometry, x).X)
                    : std::numeric_limits<double>::quiet_NaN();
    return p;
}

std::shared_ptr<const Field> makeField(const Config& c, int width, int height)
{
    auto f = std::make_shared<Field>();
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    f->base.resize(n);
    f->cosTerm.resize(n);
    f->sinTerm.resize(n);
    f->view.resize(n);
    const Layout l = layout(c, width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            const PixelTruth p = pixelTruth(c, l, x, y, height);
            const double r = onPlate(x, y, width, height) ? 1.0 : kBandReflectance;
            if (p.lit) {
                f->base[i] = static_cast<float>(r * (c.ambient + c.bias));
                f->cosTerm[i] = static_cast<float>(r * c.modulation * std::cos(p.phase));
                f->sinTerm[i] = static_cast<float>(r * c.modulation * std::sin(p.phase));
                f->view[i] = static_cast<float>(r * (c.ambient + c.bias + kViewLevel * c.modulation));
            } else {
                f->base[i] = f->view[i] = static_cast<float>(r * c.ambient);
                f->cosTerm[i] = f->sinTerm[i] = 0.0f;
            }
        }
    }
    return f;
}

// Caller holds the lock.
std::shared_ptr<const Field> field(State& s, int width, int height)
{
    const auto key = std::make_pair(width, height);
    auto it = s.fields.find(key);
    if (it != s.fields.end()) return it->second;
    if (s.fields.size() >= kMaxCachedFields) s.fields.clear();
    auto f = makeField(s.config, width, height);
    s.fields.emplace(key, f);
    return f;
}

int32_t stepCountsOf(const Config& c, double um)
{
    const double counts = std::trunc(std::fabs(um) * c.countsPerUm + 0.5);
    if (!(counts < 2147483647.0)) return um < 0 ? INT32_MIN + 1 : INT32_MAX;
    return static_cast<int32_t>(um < 0 ? -counts : counts);
}

double phasePerCountOf(const Config& c)
{
    // The constant four-step method's step of 250 / f µm, in whole counts, is pi / 2.
    if (!(c.geometry.frequency > 0.0)) return 0.0;
    const int32_t quarter = stepCountsOf(c, 250.0 / c.geometry.frequency);
    return quarter > 0 ? (kPi / 2.0) / quarter : 0.0;
}

int phaseAxisOf(const Config& c)
{
    return std::clamp(c.phaseShiftAxis, 1, 4);
}

template <typename T>
std::vector<T> perPixel(int width, int height, T (*value)(const PixelTruth&, int, int))
{
    if (width <= 0 || height <= 0) return {};
    const Config c = snapshot();
    const Layout l = layout(c, width, height);
    std::vector<T> map(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            map[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                value(pixelTruth(c, l, x, y, height), x, y);
    return map;
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
    const bool grating = camera.channel != c.viewChannel;
    const int32_t counts = g_axis[phaseAxisOf(c)].load();
    const double delta = phasePerCountOf(c) * counts;
    const float cd = static_cast<float>(std::cos(delta)), sd = static_cast<float>(std::sin(delta));
    const float gain = static_cast<float>(camera.contrast);
    const float offset = static_cast<float>(camera.brightness) + 0.5f;  // + 0.5: round to nearest
    const float sigma = static_cast<float>(c.noiseSigma);
    // The noise pattern depends on the seed, the channel and the stage position only.
    uint64_t h = (static_cast<uint64_t>(static_cast<uint32_t>(counts)) << 32) ^ camera.channel ^ (c.seed * 0x9E37ull);
    size_t k = static_cast<size_t>(splitmix(h) % kNoiseTableSize);
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    const float* base = f->base.data();
    const float* ct = f->cosTerm.data();
    const float* st = f->sinTerm.data();
    const float* view = f->view.data();
    for (size_t i = 0; i < n; ++i) {
        // cos(phi + delta) = cos(phi) cos(delta) - sin(phi) sin(delta)
        const float light = grating ? base[i] + ct[i] * cd - st[i] * sd : view[i];
        const float v = std::clamp(gain * light + offset + sigma * noise[k], 0.0f, 255.0f);
        if (++k == kNoiseTableSize) k = 0;
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
    return snapshot();
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

void setScene(Scene scene)
{
    Config c = config();
    c.scene = scene;
    configure(c);
}

void setSeed(uint64_t seed)
{
    Config c = config();
    c.seed = seed;
    configure(c);
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

bool showsGrating(uint32_t channel)
{
    return channel != config().viewChannel;
}

std::vector<double> trueHeightMap(int width, int height)
{
    return perPixel<double>(width, height, [](const PixelTruth& p, int, int) { return p.height * 1000.0; });
}

std::vector<double> truePhaseMap(int width, int height)
{
    return perPixel<double>(width, height, [](const PixelTruth& p, int, int) { return p.phase; });
}

std::vector<uint8_t> plateMap(int width, int height)
{
    if (width <= 0 || height <= 0) return {};
    std::vector<double> phase = truePhaseMap(width, height);
    std::vector<uint8_t> map(phase.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            map[i] = onPlate(x, y, width, height) && !std::isnan(phase[i]) ? 1 : 0;
        }
    return map;
}

std::vector<double> expectedHeightMap(int width, int height)
{
    const Geometry g = config().geometry;
    std::vector<double> phase = truePhaseMap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double& v = phase[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            if (!std::isnan(v)) v = heightFromPhase(g, v, x) * 1000.0;
        }
    return phase;
}

Geometry storedGeometry()
{
    try {
        return readStoredGeometry();
    } catch (const qsrf::registry::RegistryError& e) {
        std::fprintf(stderr, "bench: the settings store gives no bench geometry: %s The default geometry is used.\n",
                     e.what());
    }
    return Geometry{};
}

std::string setupSettingsFile()
{
    return BENCH_SETUP_SETTINGS;
}

namespace {

void copyTree(const qsrf::registry::MemoryBackend::Node& node, qsrf::registry::KeyPath& path,
              qsrf::registry::RegistryBackend& store)
{
    if (!path.empty()) store.CreateKey(path);
    for (const auto& [name, value] : node.values) store.SetValue(path, name, value);
    for (const auto& [name, child] : node.subkeys) {
        path.push_back(name);
        copyTree(*child, path, store);
        path.pop_back();
    }
}

}  // namespace

bool seedSettings(qsrf::registry::RegistryBackend& store, std::string* problem)
{
    const std::string path = setupSettingsFile();
    auto fail = [&](const std::string& why) {
        if (problem) *problem = "\"" + path + "\" " + why;
        return false;
    };
    // Opened without blocking and examined once open, so that a named pipe put in its place
    // is refused rather than waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail("cannot be opened");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("is not a regular file");
    }
    std::string text;
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) != 0 && text.size() <= qsrf::registry::kMaxSettingsFileSize) {
        if (n > 0)
            text.append(buf, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    ::close(fd);
    if (n < 0) return fail("cannot be read");
    if (text.size() > qsrf::registry::kMaxSettingsFileSize) return fail("is too long for a settings file");
    std::vector<std::string> errors;
    const auto tree = qsrf::registry::ParseTree(text, errors);
    if (!errors.empty()) return fail("is damaged: " + errors.front());
    qsrf::registry::KeyPath root;
    copyTree(*tree, root, store);
    return true;
}

double phasePerCount()
{
    return phasePerCountOf(config());
}

int32_t stepCounts(double um)
{
    return stepCountsOf(config(), um);
}

double phasePerStep(double um)
{
    const Config c = config();
    return phasePerCountOf(c) * stepCountsOf(c, um);
}

double currentPhaseShift()
{
    const Config c = config();
    return phasePerCountOf(c) * axisCounts(phaseAxisOf(c));
}

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
