// Whole measurements on the simulated bench in its own set-up (the settings scripts/run.sh
// starts the program with): "New" with capture, "Compute", "Unwrap", "Convert to Z" on a full
// 768 x 576 frame of every scene, against the bench's true heights.
#include "main_fixture.h"

#include <QLineEdit>

#include <cmath>

#include "Accessregistry.h"
#include "Imagebuffercontrol.h"
#include "Phaseshiftmoire.h"
#include "Quickstart.h"
#include "Quickstartnewtype.h"
#include "bench.h"
#include "qflw32d.h"

namespace {

constexpr int kW = bench::kFrameWidth, kH = bench::kFrameHeight;

struct Comparison {
    double validShare = 0;   // of the whole frame
    double mean = 0, rms = 0;   // of measured - true over the valid pixels, µm; rms about the mean
    double pv = 0;              // of the true heights over the frame, µm
};

class BenchSetup : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        std::string problem;
        ASSERT_TRUE(bench::seedSettings(*store_, &problem)) << problem;
        qflsim::reset();
        bench::reset();
        SetSettlingSleep([](int) {});
    }
    void TearDown() override
    {
        SetSettlingSleep({});
        FrameTest::TearDown();
        qflsim::reset();
        bench::reset();
    }

    static void RunAction(const QString& caption)
    {
        TAction* a = MainForm->MainFormActionList->Find(caption);
        ASSERT_NE(a, nullptr) << caption.toStdString();
        a->Update();
        ASSERT_TRUE(a->isEnabled()) << caption.toStdString();
        a->Execute();
    }

    // A capture of a width x height frame and its conversion to heights; the project.
    TPhaseShiftMoire* Measure(bench::Scene scene, int width = kW, int height = kH)
    {
        bench::setScene(scene);
        StartWithBoard(btSorvik);
        dialogs.AnswerModal([](QDialog& d) {
            dynamic_cast<TQuickStartNewTypeForm&>(d).NewTypeRadioGroup->SetItemIndex(1);
            return int(mrOk);
        });
        dialogs.AnswerModal([width, height](QDialog& d) {
            auto& form = dynamic_cast<TImageBufferControlForm&>(d);
            form.SizeXEdit->setText(QString::number(width));
            form.SizeYEdit->setText(QString::number(height));
            return int(mrOk);
        });
        for (const char* step : {"New", "Compute", "Unwrap", "Convert to Z"}) {
            RunAction(step);
            if (::testing::Test::HasFatalFailure()) return nullptr;
        }
        TPhaseShiftMoire* p = MainForm->Project;
        if (!p || p->Width() != width || p->Height() != height || !p->FloatPlane(kConvertResultCode)) {
            ADD_FAILURE() << "no height map of the whole frame";
            return nullptr;
        }
        return p;
    }

    static Comparison Compare(const TPhaseShiftMoire& p, const std::vector<double>& truth)
    {
        const float* z = p.FloatPlane(kConvertResultCode);
        const uint8_t* mask = p.BytePlane(kMaskPlane);
        Comparison c;
        double lo = INFINITY, hi = -INFINITY, sum = 0, sum2 = 0;
        size_t n = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            lo = std::min(lo, truth[i]);
            hi = std::max(hi, truth[i]);
            if (mask[i] != 0) continue;
            const double d = double(z[i]) * 1000.0 - truth[i];
            sum += d;
            sum2 += d * d;
            ++n;
        }
        c.pv = hi - lo;
        c.validShare = double(n) / double(truth.size());
        c.mean = n ? sum / double(n) : NAN;
        c.rms = n ? std::sqrt(std::max(0.0, sum2 / double(n) - c.mean * c.mean)) : NAN;
        return c;
    }

    // The centre of the pixels at least half as high as the highest one.
    static std::pair<double, double> CapCentre(const std::vector<double>& heights)
    {
        const double top = *std::max_element(heights.begin(), heights.end());
        double sx = 0, sy = 0, n = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (heights[size_t(y) * kW + size_t(x)] >= top / 2) sx += x, sy += y, n += 1;
        return {sx / n, sy / n};
    }
};

TEST_F(BenchSetup, StoreDescribesTheBenchAndTheBenchFollowsIt)
{
    const TControlPara c = ReadControlPara();
    EXPECT_EQ(c.PhaseShiftingMethod, 2222);
    EXPECT_EQ(c.ViewObjectChannel, 0x40000000);   // where the bench shows the object evenly lit
    EXPECT_FALSE(bench::showsGrating(uint32_t(c.ViewObjectChannel)));
    EXPECT_TRUE(bench::showsGrating(uint32_t(c.PhaseShiftMoireChannel)));
    EXPECT_EQ(c.PhaseShiftAxis, bench::config().phaseShiftAxis);
    // Each constant step shifts the bench's grating by a quarter period.
    EXPECT_DOUBLE_EQ(bench::phasePerStep(250.0 / c.ProjectGratingFrequency), M_PI / 2);

    // A project's geometry and the bench's are one.
    const TGeometry g = ReadGeometry();
    const bench::Geometry b = bench::config().geometry;
    EXPECT_EQ(b.Zc, g.Zc);
    EXPECT_EQ(b.Zcf, g.Zcf);
    EXPECT_EQ(b.Lp, g.Lp);
    EXPECT_EQ(b.Lpf, g.Lpf);
    EXPECT_EQ(b.Theta, g.Theta);
    EXPECT_EQ(b.pixelX, g.PixelX);
    EXPECT_EQ(b.X0, g.X0);
    EXPECT_EQ(b.Y0, g.Y0);
    EXPECT_EQ(b.frequency, g.ProjectGratingFrequency);
    EXPECT_NE(b.Zc, 10.0);   // not the program's default geometry

    // The grating lights the whole frame, with fringes of at least four pixels everywhere.
    const std::vector<double> phase = bench::truePhaseMap(kW, kH);
    for (int y = 0; y < kH; y += 5)
        for (int x = 1; x < kW; ++x) {
            const double a = phase[size_t(y) * kW + size_t(x)], d = a - phase[size_t(y) * kW + size_t(x) - 1];
            ASSERT_TRUE(std::isfinite(a)) << x << "," << y;
            ASSERT_LT(std::fabs(d), 2 * M_PI / 4) << x << "," << y;
        }
}

class BenchSetupScene : public BenchSetup, public ::testing::WithParamInterface<bench::Scene> {};

// The share of the frame measured and the height errors, against the truth.
TEST_P(BenchSetupScene, IsMeasuredOverTheWholeFrame)
{
    const bench::Scene scene = GetParam();
    TPhaseShiftMoire* p = Measure(scene);
    ASSERT_NE(p, nullptr);
    const std::vector<double> truth = bench::trueHeightMap(kW, kH);
    const Comparison c = Compare(*p, truth);
    EXPECT_GE(c.validShare, 0.90);   // the plate: all but the dark surround, 92 % of the frame
    const bool flat = scene == bench::Scene::Flat;
    EXPECT_EQ(c.pv > 0, !flat);
    EXPECT_LE(c.rms, flat ? 1.0 : 0.01 * c.pv) << "rms " << c.rms << " µm, pv " << c.pv << " µm";
    EXPECT_LE(std::fabs(c.mean), flat ? 2.0 : 0.02 * c.pv) << "mean " << c.mean << " µm, pv " << c.pv << " µm";

    const float* z = p->FloatPlane(kConvertResultCode);
    std::vector<double> measured(truth.size());
    for (size_t i = 0; i < measured.size(); ++i) measured[i] = double(z[i]) * 1000.0;
    if (scene == bench::Scene::Sphere) {
        // A dome 100 µm high, its apex where the bench put it.
        EXPECT_NEAR(c.pv, 100.0, 0.5);
        const auto [tx, ty] = CapCentre(truth);
        EXPECT_NEAR(tx, 0.45 * kW, 1.0);
        EXPECT_NEAR(ty, 0.45 * kH, 1.0);
        const auto [mx, my] = CapCentre(measured);
        EXPECT_NEAR(mx, tx, 1.0);
        EXPECT_NEAR(my, ty, 1.0);
        EXPECT_NEAR(*std::max_element(measured.begin(), measured.end()), 100.0, 1.5);
    }
    if (scene == bench::Scene::Step) {
        // The terrace over the middle third of the rows stands 100 µm above the rest.
        double in = 0, out = 0, nIn = 0, nOut = 0;
        for (int y = 0; y < kH - kH / 25; ++y) {
            const bool terrace = y >= kH / 3 + 4 && y < 2 * kH / 3 - 4;
            const bool plain = y < kH / 3 - 4 || y >= 2 * kH / 3 + 4;
            for (int x = 0; x < kW - kW / 25; ++x) {
                const double v = measured[size_t(y) * kW + size_t(x)];
                if (terrace) in += v, nIn += 1;
                if (plain) out += v, nOut += 1;
            }
        }
        EXPECT_NEAR(in / nIn - out / nOut, 100.0, 1.0);
    }
    if (scene == bench::Scene::Tilted) {
        // The plane rises across the whole width: its far columns are measured too.
        EXPECT_NEAR(measured[size_t(kH / 2) * kW + size_t(kW - kW / 25 - 1)],
                    truth[size_t(kH / 2) * kW + size_t(kW - kW / 25 - 1)], 1.0);
        EXPECT_GT(truth[size_t(kH / 2) * kW + size_t(kW - kW / 25 - 1)], 110.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, BenchSetupScene,
                         ::testing::Values(bench::Scene::Demo, bench::Scene::Flat, bench::Scene::Tilted,
                                           bench::Scene::Sphere, bench::Scene::Step),
                         [](const auto& info) { return std::string(bench::sceneName(info.param)); });

// A noisier camera, other seeds and another frame size: the automatic mask threshold stays
// well below the lit plate, so no plate pixel is walled in by masked ones.
struct NoisyCamera {
    int width, height;
    uint64_t seed;
};

void PrintTo(const NoisyCamera& n, std::ostream* os) { *os << n.width << " x " << n.height << " seed " << n.seed; }

class BenchSetupNoisyCamera : public BenchSetup, public ::testing::WithParamInterface<NoisyCamera> {};

TEST_P(BenchSetupNoisyCamera, HoldsAtThreeGreyLevelsOfNoise)
{
    const NoisyCamera n = GetParam();
    bench::Config config = bench::config();
    config.seed = n.seed;
    config.noiseSigma = 3.0;
    bench::configure(config);
    TPhaseShiftMoire* p = Measure(bench::Scene::Demo, n.width, n.height);
    ASSERT_NE(p, nullptr);
    const Comparison c = Compare(*p, bench::trueHeightMap(n.width, n.height));
    EXPECT_GE(c.validShare, 0.90);
    EXPECT_LE(c.rms, 0.01 * c.pv) << "rms " << c.rms << " µm, pv " << c.pv << " µm";
}

INSTANTIATE_TEST_SUITE_P(Frames, BenchSetupNoisyCamera,
                         ::testing::Values(NoisyCamera{768, 576, 31337}, NoisyCamera{640, 480, 5}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                    "_seed" + std::to_string(info.param.seed);
                         });

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
