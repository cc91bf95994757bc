// A whole measurement on the simulated bench: "New" with the capture sequence on the stage
// and camera stand-ins, "Compute Phase", "Unwrap", "Convert to Z", then save and reopen.
#include "main_fixture.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <cstring>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Controlpi.h"
#include "Imagebuffercontrol.h"
#include "Phaseshiftmoire.h"
#include "Pleasewait.h"
#include "Quickstart.h"
#include "Quickstartnewtype.h"
#include "bench.h"
#include "orb.h"
#include "qflw32d.h"

namespace {

constexpr int32_t kChannel1 = 0x20000000;   // the bench's grating view
constexpr int32_t kChannel2 = 0x40000000;   // the bench's uniformly lit view

class Measurement : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        qflsim::reset();
        bench::reset();
        SetSettlingSleep([this](int ms) {
            waits_.push_back(ms);
            positions_.push_back(qflsim::absolutePosition(1));
            grabsAtWait_.push_back(int(LogOf("orbDigGrab(").size()));
        });
    }
    void TearDown() override
    {
        SetSettlingSleep({});
        FrameTest::TearDown();
        qflsim::reset();
        bench::reset();
    }

    void Start(int32_t method, int32_t viewChannel, double preMove = 200)
    {
        TControlPara c;
        c.PhaseShiftingMethod = method;
        c.PhaseShiftingAngle = 0.2f;
        c.ProjectGratingFrequency = 10;
        c.PreMoveDisplace = preMove;
        c.WaitingTime = 7;
        c.PhaseShiftMoireChannel = kChannel1;
        c.ViewObjectChannel = viewChannel;
        WriteControlPara(c);
        StartWithBoard(btSorvik);
        qflsim::clearCallLog();
    }
    // Answers the type dialog and the image-size dialog of "New".
    void AnswerNew(int type, int width, int height)
    {
        dialogs.AnswerModal([type](QDialog& d) {
            auto& form = dynamic_cast<TQuickStartNewTypeForm&>(d);
            form.NewTypeRadioGroup->SetItemIndex(type);
            return int(mrOk);
        });
        dialogs.AnswerModal([width, height](QDialog& d) {
            auto& form = dynamic_cast<TImageBufferControlForm&>(d);
            form.SizeXEdit->setText(QString::number(width));
            form.SizeYEdit->setText(QString::number(height));
            return int(mrOk);
        });
    }
    static std::vector<std::string> StageMoves()
    {
        std::vector<std::string> out;
        for (const std::string& e : qflsim::callLog())
            if (e.rfind("QflMoveRelative", 0) == 0 || e.rfind("QflExecute", 0) == 0) out.push_back(e);
        return out;
    }
    void ExpectCapture(int32_t firstCounts, int32_t stepCounts)
    {
        const std::vector<std::string> step = {"QflMoveRelative(1, " + std::to_string(stepCounts) + ")",
                                               "QflExecute(1)"};
        std::vector<std::string> expected = {"QflMoveRelative(1, " + std::to_string(firstCounts) + ")",
                                             "QflExecute(1)", "QflMoveRelative(1, 3378)", "QflExecute(1)"};
        for (int k = 0; k < 4; ++k) expected.insert(expected.end(), step.begin(), step.end());
        EXPECT_EQ(StageMoves(), expected);

        // One wait after the pre-move and one after each step, each before its grab.
        const int32_t start = 0;
        EXPECT_EQ(waits_, (std::vector<int>{7, 7, 7, 7, 7}));
        std::vector<int32_t> pos = {start + firstCounts + 3378};
        for (int k = 1; k <= 4; ++k) pos.push_back(pos[0] + k * stepCounts);
        EXPECT_EQ(positions_, pos);
        EXPECT_EQ(grabsAtWait_, (std::vector<int>{1, 1, 2, 3, 4}));

        const auto hex = [](uint64_t v) { return QString::asprintf("0x%llx", (unsigned long long)v).toStdString(); };
        const std::string dig = hex(MainForm->DigitizerId);
        const OrbId* ids = MainForm->ProjectBufferIds;
        std::vector<std::string> grabs = {"orbDigSelectInput(" + dig + ", 0x40000000)",
                                          "orbDigGrab(" + dig + ", " + hex(ids[0]) + ")",
                                          "orbDigSelectInput(" + dig + ", 0x20000000)"};
        for (int k = 1; k <= 4; ++k) grabs.push_back("orbDigGrab(" + dig + ", " + hex(ids[k]) + ")");
        std::vector<std::string> digLog = LogOf("orbDig");
        ASSERT_GE(digLog.size(), grabs.size());
        digLog.erase(digLog.begin(), digLog.end() - std::ptrdiff_t(grabs.size()));
        EXPECT_EQ(digLog, grabs);
        EXPECT_EQ(LogOf("orbDigGrab(").size(), 5u);
        EXPECT_EQ(qflsim::absolutePosition(1), firstCounts + 3378 + 4 * stepCounts);
    }

    void RunDefaultScene();

    std::vector<int> waits_;
    std::vector<int32_t> positions_;
    std::vector<int> grabsAtWait_;
};

// ---- the capture sequence ---------------------------------------------------------------

TEST_F(Measurement, ConstFourStepMovesTwentyFiveMicrometreSteps)
{
    Start(2222, kChannel2);
    AnswerNew(1, 60, 40);
    QuickStartNewActionExecute(*MainForm);
    // -(4 x 25 + 200) um = -5067 counts; +200 um = 3378; 25 um = 422.
    ExpectCapture(-5067, 422);
    EXPECT_TRUE(dialogs.Boxes().empty());   // different channels: nothing asked
    ASSERT_NE(MainForm->Project, nullptr);
    EXPECT_EQ(MainForm->Project->Name(), "PhaseShiftMoire - 0");
    EXPECT_EQ(MainForm->ProjectCount, 1);
    EXPECT_TRUE(MainForm->Project->Modified());
    for (int i = 0; i < kBytePlaneCount; ++i) EXPECT_EQ(MainForm->Project->Header().BytePresent[i], 1);
    EXPECT_FALSE(PleaseWaitForm->isVisible());
    EXPECT_DOUBLE_EQ(ControlPIForm->CurrentPos[1], ReadAxisCurrentPos(1));
}

TEST_F(Measurement, EqualFourStepMovesTwentyMicrometreSteps)
{
    Start(1111, kChannel2);
    AnswerNew(1, 60, 40);
    QuickStartNewActionExecute(*MainForm);
    // -(4 x 20 + 200) um = -4730 counts; 20 um = 338.
    ExpectCapture(-4730, 338);
}

TEST_F(Measurement, EqualChannelsAskBeforeEachGrab)
{
    Start(2222, kChannel1);
    AnswerNew(1, 40, 30);
    QuickStartNewActionExecute(*MainForm);
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, " Push OK to Grab the object Image");
    EXPECT_EQ(boxes[1].Text, " Push OK to Grab the phase shifting Image");
}

TEST_F(Measurement, RefusedMoveStopsTheMeasurementAndSaysWhereTheAxisStands)
{
    Start(2222, kChannel2, 600);   // -(100 + 600) um from 0.5 mm passes Start 0
    AnswerNew(1, 40, 30);
    try {
        QuickStartNewActionExecute(*MainForm);
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_NE(e.Message().find("outside"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("axis 1 stands at 0.50000000000 mm"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(LogOf("orbDigGrab(").empty());
    EXPECT_TRUE(StageMoves().empty());
    EXPECT_FALSE(PleaseWaitForm->isVisible());
}

TEST_F(Measurement, EmptyProjectFillsPlanesAndMaskWithoutMoving)
{
    Start(2222, kChannel2);
    AnswerNew(0, 40, 30);
    QuickStartNewActionExecute(*MainForm);
    ASSERT_NE(MainForm->Project, nullptr);
    EXPECT_TRUE(StageMoves().empty());
    EXPECT_TRUE(LogOf("orbDigGrab(").empty());
    EXPECT_EQ(LogOf("orbBufGet(").size(), 5u);
    EXPECT_EQ(LogOf("orbBufPut(").size(), 1u);
    EXPECT_EQ(MainForm->Project->Header().BytePresent[kMaskPlane], 1);
}

TEST_F(Measurement, CancelledTypeDialogMakesNothing)
{
    Start(2222, kChannel2);
    dialogs.AnswerModal(mrCancel);
    QuickStartNewActionExecute(*MainForm);
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_EQ(MainForm->ProjectCount, 0);
}

TEST_F(Measurement, UnknownMethodIsRefused)
{
    Start(3333, kChannel2);
    AnswerNew(1, 40, 30);
    EXPECT_THROW(QuickStartNewActionExecute(*MainForm), EAppError);
    EXPECT_TRUE(StageMoves().empty());
}

// ---- end to end -------------------------------------------------------------------------

struct Errors {
    double rms = 0, max = 0, pv = 0, mean = 0;
    size_t pixels = 0;
};

// offset: subtracted from every error (the common offset the reference pixel's own noise
// gives the whole map).
Errors Compare(const TPhaseShiftMoire& p, double offset = 0)
{
    const int w = p.Width(), h = p.Height();
    const std::vector<double> truth = bench::trueHeightMap(w, h);
    const float* z = p.FloatPlane(kConvertResultCode);
    const uint8_t* mask = p.BytePlane(kMaskPlane);
    Errors e;
    double lo = INFINITY, hi = -INFINITY, sum2 = 0;
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
        if (mask[i] != 0 || !std::isfinite(truth[i])) continue;
        const double d = double(z[i]) * 1000.0 - truth[i] - offset;
        sum2 += d * d;
        e.mean += d;
        e.max = std::max(e.max, std::fabs(d));
        lo = std::min(lo, truth[i]);
        hi = std::max(hi, truth[i]);
        ++e.pixels;
    }
    e.rms = std::sqrt(sum2 / double(std::max<size_t>(e.pixels, 1)));
    e.mean /= double(std::max<size_t>(e.pixels, 1));
    e.pv = hi - lo;
    return e;
}

void RunAction(const QString& caption)
{
    TAction* a = MainForm->MainFormActionList->Find(caption);
    ASSERT_NE(a, nullptr) << caption.toStdString();
    a->Update();
    ASSERT_TRUE(a->isEnabled()) << caption.toStdString();
    a->Execute();
}

void Measurement::RunDefaultScene()
{
    Start(2222, kChannel2);
    AnswerNew(1, 150, 120);
    TAction* convert = MainForm->MainFormActionList->Find("Convert to Z");
    ASSERT_NE(convert, nullptr);
    convert->Update();
    EXPECT_FALSE(convert->isEnabled());
    RunAction("New");
    RunAction("Compute");
    RunAction("Unwrap");
    RunAction("Convert to Z");
    // The only question: "Convert to Z" always asks, as the unwrapped phase is there.
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "Are you sure to Convert ? ");
    TPhaseShiftMoire* p = MainForm->Project;
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->FloatPlane(kConvertResultCode), nullptr);
    const Errors e = Compare(*p);
    EXPECT_GT(e.pixels, size_t(150 * 120 / 2));
    EXPECT_GT(e.pv, 100.0);
    EXPECT_LE(e.rms, 0.01 * e.pv) << "rms " << e.rms << " pv " << e.pv << " mean " << e.mean;
    EXPECT_LE(e.max, 0.05 * e.pv) << "max " << e.max << " pv " << e.pv;

    // Save and reopen: the same planes.
    const QString path = QString::fromStdString(::testing::TempDir()) + "endtoend.psm";
    dialogs.AnswerFile(path);
    RunAction("Save");
    EXPECT_FALSE(p->Modified());
    TPhaseShiftMoire back("B");
    back.LoadFromFile(path.toStdString());
    const size_t n = p->Pixels();
    for (int i = 0; i < kBytePlaneCount; ++i)
        EXPECT_EQ(std::memcmp(back.BytePlane(i), p->BytePlane(i), n), 0) << i;
    for (int code : {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode})
        EXPECT_EQ(std::memcmp(back.FloatPlane(code), p->FloatPlane(code), n * sizeof(float)), 0) << code;
}

// The demo scene with the bench's camera noise taken out.
TEST_F(Measurement, DefaultSceneComesBackWithinTolerance)
{
    bench::Config cfg = bench::config();
    cfg.noiseSigma = 0;
    bench::configure(cfg);
    RunDefaultScene();
}

// With the bench's default camera noise (0.5 grey levels) the wrapped phase of one pixel
// scatters by about 0.5 sqrt(2) / 200 rad, which this geometry turns into well under 1 um
// of height; the reference pixel's own noise offsets the whole map by as much.
TEST_F(Measurement, DefaultSceneWithCameraNoise) { RunDefaultScene(); }

TEST_F(Measurement, NoiseFreeTiltedPlaneWithinQuantisation)
{
    bench::Config cfg = bench::config();
    cfg.scene = bench::Scene::Tilted;
    cfg.noiseSigma = 0;
    bench::configure(cfg);
    Start(2222, kChannel2);
    AnswerNew(1, 150, 120);
    RunAction("New");
    RunAction("Compute");
    RunAction("Unwrap");
    RunAction("Convert to Z");
    const Errors e = Compare(*MainForm->Project);
    // Rounding each grey level moves the numerator and the denominator of the phase by at
    // most 1; their amplitude on the plate is twice the fringe modulation, so the wrapped
    // phase errs by at most sqrt(2) / (2 modulation) rad, at the pixel and at the reference
    // pixel. Each pixel's bound is the height that phase error makes at its column.
    TPhaseShiftMoire& p = *MainForm->Project;
    const std::vector<double> phase = bench::truePhaseMap(150, 120);
    const std::vector<double> truth = bench::trueHeightMap(150, 120);
    const double delta = 2 * std::sqrt(2.0) / (2 * cfg.modulation);
    size_t beyond = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 150; ++x) {
            const size_t i = size_t(y) * 150 + size_t(x);
            if (p.BytePlane(kMaskPlane)[i] != 0 || !std::isfinite(truth[i])) continue;
            const double h0 = bench::heightFromPhase(cfg.geometry, phase[i], x) * 1000;
            const double bound = std::max(std::fabs(bench::heightFromPhase(cfg.geometry, phase[i] + delta, x) * 1000 - h0),
                                          std::fabs(bench::heightFromPhase(cfg.geometry, phase[i] - delta, x) * 1000 - h0));
            if (std::fabs(double(p.FloatPlane(kConvertResultCode)[i]) * 1000 - truth[i]) > bound + 1e-3) ++beyond;
        }
    EXPECT_EQ(beyond, 0u);
    EXPECT_GT(e.pv, 100.0);
    EXPECT_LE(e.rms, 0.01 * e.pv) << "rms " << e.rms << " pv " << e.pv;
}

// With the program's default geometry the grating ends near column 157, inside the plate of
// a 200-column frame: the pixels the unwrapping fills in there are marked invalid in the mask
// and shown so in the mask window (taking that window back keeps the marks).
TEST_F(Measurement, UnwrapMarksTheFilledInPixelsInTheMaskAndItsWindow)
{
    Start(2222, kChannel2);
    AnswerNew(1, 200, 150);
    RunAction("New");
    RunAction("Compute");
    TPhaseShiftMoire& p = *MainForm->Project;
    const std::vector<uint8_t> plate = bench::plateMap(200, 150);
    RunAction("Unwrap");
    const uint8_t* mask = p.BytePlane(kMaskPlane);
    size_t marked = 0;
    for (size_t i = 0; i < p.Pixels(); ++i)
        if (plate[i] && mask[i] == 255) {
            ++marked;
            EXPECT_GE(i % 200, 150u) << "marked far from the grating's end";
        }
    EXPECT_GT(marked, 0u);
    std::vector<uint8_t> shown(p.Pixels());
    orbBufGet(MainForm->ProjectBufferIds[kMaskPlane], shown.data());
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), mask));
}

// ---- the please-wait box ------------------------------------------------------------------

// Counts the paints of the please-wait box made while its window is on the screen.
class OnScreenPaints : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        const QWindow* w = PleaseWaitForm ? PleaseWaitForm->windowHandle() : nullptr;
        if (e->type() == QEvent::Paint && w && w->isExposed()) ++count;
        return false;
    }
};

TEST_F(Measurement, PleaseWaitBoxIsOnScreenDuringCaptureUnwrapAndOpen)
{
    Start(2222, kChannel2);
    OnScreenPaints paints;
    PleaseWaitForm->installEventFilter(&paints);
    // At every settling wait of the capture: shown, on the screen, painted, centred on the
    // screen and kept above the main window.
    struct Seen {
        bool visible = false, exposed = false, onTop = false;
        int paints = 0;
        QPoint offCentre;
    };
    std::vector<Seen> seen;
    SetSettlingSleep([&](int) {
        Seen s;
        s.visible = PleaseWaitForm->isVisible();
        s.exposed = PleaseWaitForm->windowHandle() && PleaseWaitForm->windowHandle()->isExposed();
        s.onTop = PleaseWaitForm->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        s.paints = paints.count;
        s.offCentre = PleaseWaitForm->frameGeometry().center() - MainForm->screen()->geometry().center();
        seen.push_back(s);
    });
    MainForm->setGeometry(100, 80, 900, 700);
    MainForm->show();
    QElapsedTimer clock;
    clock.start();
    while (!MainForm->windowHandle()->isExposed() && clock.elapsed() < 5000) QCoreApplication::processEvents();
    ASSERT_TRUE(MainForm->windowHandle()->isExposed());
    AnswerNew(1, 120, 90);
    RunAction("New");
    ASSERT_EQ(seen.size(), 5u);
    for (const Seen& s : seen) {
        EXPECT_TRUE(s.visible);
        EXPECT_TRUE(s.exposed);
        EXPECT_TRUE(s.onTop);
        EXPECT_GE(s.paints, 1);
        EXPECT_LE(s.offCentre.manhattanLength(), 2) << s.offCentre.x() << "," << s.offCentre.y();
    }
    EXPECT_FALSE(PleaseWaitForm->isVisible());

    RunAction("Compute");
    int before = paints.count;
    RunAction("Unwrap");
    EXPECT_GT(paints.count, before) << "unwrapping";
    EXPECT_FALSE(PleaseWaitForm->isVisible());

    const QString path = QString::fromStdString(::testing::TempDir()) + "pleasewait.psm";
    dialogs.AnswerFile(path);
    RunAction("Save");
    dialogs.AnswerFile(path);
    before = paints.count;
    RunAction("Open");
    EXPECT_GT(paints.count, before) << "opening";
    EXPECT_FALSE(PleaseWaitForm->isVisible());
    ASSERT_NE(MainForm->Project, nullptr);
    EXPECT_EQ(MainForm->Project->Width(), 120);
    PleaseWaitForm->removeEventFilter(&paints);
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
