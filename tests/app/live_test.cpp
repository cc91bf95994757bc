// Live difference and product: the combine kernels, the worker's pause, reload and end,
// and the two control forms against the simulated camera.

#include "main_fixture.h"

#include "Apperror.h"
#include "Format.h"
#include "Imagebuffercontrol.h"
#include "Livework.h"
#include "Mdiimagechild.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;

// ---- kernels --------------------------------------------------------------------------------

uint8_t Difference(uint8_t now, uint8_t start)
{
    uint8_t live = now;
    SubtractFrames(&live, &start, 1);
    return live;
}

uint8_t Product(uint8_t now, uint8_t start)
{
    uint8_t live = now;
    MultiplyFrames(&live, &start, 1);
    return live;
}

TEST(LiveKernels, DifferenceIsTheAbsoluteValue)
{
    EXPECT_EQ(Difference(10, 200), 190);
    EXPECT_EQ(Difference(200, 10), 190);
    EXPECT_EQ(Difference(77, 77), 0);
    EXPECT_EQ(Difference(0, 255), 255);
    EXPECT_EQ(Difference(255, 0), 255);
}

TEST(LiveKernels, ProductIsTheRoundedGeometricMean)
{
    EXPECT_EQ(Product(3, 5), 4);     // sqrt 15 = 3.873
    EXPECT_EQ(Product(1, 2), 1);     // sqrt 2 = 1.414
    EXPECT_EQ(Product(255, 255), 255);
    EXPECT_EQ(Product(0, 200), 0);
    EXPECT_EQ(Product(200, 0), 0);
    EXPECT_EQ(Product(2, 8), 4);
    EXPECT_EQ(Product(6, 6), 6);
    // 12 * 3 = 36 -> 6; 7 * 8 = 56 -> 7.48 -> 7; 8 * 8 = 64 -> 8; 9 * 7 = 63 -> 7.94 -> 8
    EXPECT_EQ(Product(7, 8), 7);
    EXPECT_EQ(Product(9, 7), 8);
}

TEST(LiveKernels, EveryPairMatchesTheFormula)
{
    std::vector<uint8_t> live(256 * 256), start(256 * 256), diff, prod;
    for (int n = 0; n < 256; ++n)
        for (int s = 0; s < 256; ++s) {
            live[size_t(n * 256 + s)] = uint8_t(n);
            start[size_t(n * 256 + s)] = uint8_t(s);
        }
    diff = live;
    prod = live;
    SubtractFrames(diff.data(), start.data(), diff.size());
    MultiplyFrames(prod.data(), start.data(), prod.size());
    for (int n = 0; n < 256; ++n)
        for (int s = 0; s < 256; ++s) {
            const size_t k = size_t(n * 256 + s);
            ASSERT_EQ(diff[k], std::abs(n - s)) << n << " " << s;
            ASSERT_EQ(prod[k], int(std::trunc(std::sqrt(double(n) * double(s)) + 0.5))) << n << " " << s;
        }
}

TEST(LiveKernels, LengthsThatAreNoMultipleOfTheBlockAreCombinedToTheLastByte)
{
    std::mt19937 random(7);
    for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(64 * 3 + 5)}) {
        std::vector<uint8_t> live(n + 1), start(n + 1);
        for (size_t k = 0; k <= n; ++k) {
            live[k] = uint8_t(random());
            start[k] = uint8_t(random());
        }
        live[n] = 99;   // past the end: untouched
        std::vector<uint8_t> diff = live;
        SubtractFrames(diff.data(), start.data(), n);
        for (size_t k = 0; k < n; ++k)
            ASSERT_EQ(diff[k], std::abs(int(live[k]) - int(start[k]))) << n << " " << k;
        EXPECT_EQ(diff[n], 99);
        std::vector<uint8_t> prod = live;
        MultiplyFrames(prod.data(), start.data(), n);
        EXPECT_EQ(prod[n], 99);
    }
}

// ---- worker and forms -----------------------------------------------------------------------

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<uint8_t> Pixels(OrbId buffer)
{
    const auto info = orbsim::bufferInfo(buffer);
    std::vector<uint8_t> out(info ? size_t(info->width) * size_t(info->height) : 0);
    if (!out.empty())
        orbBufGet(buffer, out.data());
    return out;
}

size_t CountOf(const std::vector<std::string>& log, const std::string& prefix)
{
    return size_t(std::count_if(log.begin(), log.end(),
                                [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}

class LiveTest : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        orbsim::setFramePeriodMs(1);
    }

    // The buffer dialog's answer: a small 8-bit image of the given size.
    void AnswerBufferDialog(int width = 48, int height = 32, int bits = 8)
    {
        dialogs.AnswerModal([=](QDialog& d) {
            auto& f = dynamic_cast<TImageBufferControlForm&>(d);
            f.SizeXEdit->setText(QString::number(width));
            f.SizeYEdit->setText(QString::number(height));
            f.SizeBitEdit->setText(QString::number(bits));
            return int(mrOk);
        });
    }

    // Starts the difference form on a small image and waits for a few passes.
    TRealTimeSubtractControlSSForm& StartSubtract()
    {
        TRealTimeSubtractControlSSForm& f = *RealTimeSubtractControlSSForm;
        AnswerBufferDialog();
        f.StartSubtractBitBtnClick();
        EXPECT_TRUE(f.ThreadActive());
        EXPECT_TRUE(f.LiveWorker());
        if (TLiveWorker* w = f.LiveWorker()) {
            EXPECT_TRUE(WaitFor([w] { return w->Passes() >= 3; }));
        }
        return f;
    }

    static uint64_t Frames() { return orbsim::digitizerState(MainForm->DigitizerId)->framesGrabbed; }
};

TEST_F(LiveTest, StartMakesTheTrioGrabsTwoFramesAndRunsTheWorker)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = *RealTimeSubtractControlSSForm;
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    EXPECT_FALSE(f.EndSubtractBitBtn->isEnabled());
    EXPECT_FALSE(f.RegetStartImageBitBtn->isEnabled());
    EXPECT_FALSE(f.ReLoadStartImageBitBtn->isEnabled());

    AnswerBufferDialog();
    f.StartSubtractBitBtnClick();
    ASSERT_TRUE(f.ThreadActive());
    EXPECT_TRUE(f.WindowsReady);
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Pause");
    EXPECT_TRUE(f.EndSubtractBitBtn->isEnabled());
    EXPECT_TRUE(f.RegetStartImageBitBtn->isEnabled());
    EXPECT_TRUE(f.ReLoadStartImageBitBtn->isEnabled());

    const std::vector<QMdiSubWindow*> children = Children();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->windowTitle(), "Start");
    EXPECT_EQ(children[1]->windowTitle(), "Now");
    EXPECT_EQ(children[2]->windowTitle(), "Subtract Result");
    auto* start = qobject_cast<TMDIImageChildForm*>(children[0]);
    auto* now = qobject_cast<TMDIImageChildForm*>(children[1]);
    auto* result = qobject_cast<TMDIImageChildForm*>(children[2]);
    EXPECT_EQ(f.StartBuffer, start->BufferId);
    EXPECT_EQ(f.NowBuffer, now->BufferId);
    EXPECT_EQ(f.ResultBuffer, result->BufferId);
    EXPECT_EQ(f.StartDisplay, start->DisplayId);
    EXPECT_EQ(f.NowDisplay, now->DisplayId);
    EXPECT_EQ(f.ResultDisplay, result->DisplayId);
    EXPECT_EQ(f.AppId, MainForm->AppId);
    EXPECT_EQ(f.SystemId, MainForm->SystemId);
    EXPECT_EQ(f.DigitizerId, MainForm->DigitizerId);

    // The two frames of the start come first: into "Start", then into the result buffer
    // (the worker's start image); then the worker's passes.
    const std::vector<std::string> grabs = LogOf("orbDigGrab(");
    ASSERT_GE(grabs.size(), 2u);
    const std::string d = QFormat("0x%x", f.DigitizerId).toStdString();
    EXPECT_EQ(grabs[0], "orbDigGrab(" + d + ", " + QFormat("0x%x", f.StartBuffer).toStdString() + ")");
    EXPECT_EQ(grabs[1], "orbDigGrab(" + d + ", " + QFormat("0x%x", f.ResultBuffer).toStdString() + ")");

    TLiveWorker* w = f.LiveWorker();
    EXPECT_EQ(w->Width, 48);
    EXPECT_EQ(w->Height, 32);
    EXPECT_EQ(w->NowBuffer, f.NowBuffer);
    EXPECT_EQ(w->ResultBuffer, f.ResultBuffer);
    EXPECT_EQ(w->DigitizerId, f.DigitizerId);
    ASSERT_TRUE(WaitFor([w] { return w->Passes() >= 3; }));
    // The same camera state gives the same frame: the uniformly lit view differs from the
    // start image, taken with the grating.
    orbDigSelectInput(f.DigitizerId, 0x40000000);
    const uint64_t passes = w->Passes();
    ASSERT_TRUE(WaitFor([&] { return w->Passes() >= passes + 2; }));

    // At rest after a pass, the result is |now - start| of that pass.
    f.StartSubtractBitBtnClick();   // "Pause"
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Resume");
    const std::vector<uint8_t> nowPixels = Pixels(f.NowBuffer);
    const std::vector<uint8_t> resultPixels = Pixels(f.ResultBuffer);
    ASSERT_EQ(nowPixels.size(), w->StartPixels.size());
    bool anyNonZero = false;
    for (size_t k = 0; k < nowPixels.size(); ++k) {
        ASSERT_EQ(resultPixels[k], std::abs(int(nowPixels[k]) - int(w->StartPixels[k]))) << k;
        anyNonZero = anyNonZero || resultPixels[k] != 0;
    }
    EXPECT_TRUE(anyNonZero);

    f.EndSubtractBitBtnClick();
    EXPECT_EQ(orbsim::errorCount(), 0u);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

TEST_F(LiveTest, PauseStopsTheResultFramesAndResumeGoesOn)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    TLiveWorker* w = f.LiveWorker();

    f.StartSubtractBitBtnClick();   // "Pause": returns once the worker rests
    EXPECT_EQ(w->PauseCount(), 1);
    const uint64_t passes = w->Passes();
    const uint64_t frames = Frames();
    const size_t puts = CountOf(Log(), "orbBufPut(");
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(w->Passes(), passes);
    EXPECT_EQ(Frames(), frames);
    EXPECT_EQ(CountOf(Log(), "orbBufPut("), puts);
    EXPECT_TRUE(f.EndSubtractBitBtn->isEnabled());

    f.StartSubtractBitBtnClick();   // "Resume"
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Pause");
    EXPECT_EQ(w->PauseCount(), 0);
    EXPECT_TRUE(WaitFor([&] { return w->Passes() >= passes + 3; }));
    f.EndSubtractBitBtnClick();
}

TEST_F(LiveTest, ReloadWhilePausedStaysPausedAndTakesTheFileAsStartImage)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    TLiveWorker* w = f.LiveWorker();

    // A file of the trio's size with a known pattern.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("start.tif");
    OrbId pattern = 0;
    orbBufAlloc2d(MainForm->SystemId, 48, 32, 8, 4 + 16, &pattern);
    std::vector<uint8_t> bytes(48 * 32);
    for (size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = uint8_t(k * 7);
    orbBufPut(pattern, bytes.data());
    orbBufSave(path.toLocal8Bit().constData(), ORB_FILE_TIFF, pattern);
    orbBufFree(pattern);

    f.StartSubtractBitBtnClick();   // "Pause"
    const uint64_t passes = w->Passes();
    orbsim::clearCallLog();
    dialogs.AnswerFile(path);
    f.ReLoadStartImageBitBtnClick();

    // The main window's open-picture dialog, starting in the current directory.
    const auto requests = dialogs.FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].Save);
    EXPECT_EQ(requests[0].Filter, MainForm->OpenPictureDialog->Filter);
    EXPECT_EQ(requests[0].InitialDir, QDir::currentPath());
    const std::string now = QFormat("0x%x", f.NowBuffer).toStdString();
    const std::string start = QFormat("0x%x", f.StartBuffer).toStdString();
    const std::string sys = QFormat("0x%x", MainForm->SystemId).toStdString();
    EXPECT_EQ(LogOf("orbBufLoad"),
              (std::vector<std::string>{"orbBufLoad(\"" + path.toStdString() + "\", 0x10000000, 1, " + sys + ", " +
                                        now + ")"}));
    EXPECT_EQ(LogOf("orbBufCopy"), (std::vector<std::string>{"orbBufCopy(" + now + ", " + start + ")"}));
    EXPECT_EQ(w->StartPixels, bytes);
    EXPECT_EQ(Pixels(f.StartBuffer), bytes);

    // Still paused: no pass ran, the caption still offers "Resume".
    EXPECT_EQ(w->PauseCount(), 1);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(w->Passes(), passes);
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Resume");
    EXPECT_EQ(CountOf(Log(), "orbDigGrab("), 0u);

    // Resumed, each result is taken against the file.
    f.StartSubtractBitBtnClick();
    ASSERT_TRUE(WaitFor([&] { return w->Passes() >= passes + 2; }));
    f.StartSubtractBitBtnClick();   // pause to look
    const std::vector<uint8_t> nowPixels = Pixels(f.NowBuffer);
    const std::vector<uint8_t> result = Pixels(f.ResultBuffer);
    for (size_t k = 0; k < result.size(); ++k)
        ASSERT_EQ(result[k], std::abs(int(nowPixels[k]) - int(bytes[k]))) << k;
    f.EndSubtractBitBtnClick();
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, ReloadWhileRunningGoesOnRunning)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    TLiveWorker* w = f.LiveWorker();
    QTemporaryDir dir;
    const QString path = dir.filePath("s.oim");
    orbBufSave(path.toLocal8Bit().constData(), ORB_FILE_OWN, f.StartBuffer);
    dialogs.AnswerFile(path);
    f.ReLoadStartImageBitBtnClick();
    EXPECT_EQ(w->PauseCount(), 0);
    const uint64_t passes = w->Passes();
    EXPECT_TRUE(WaitFor([&] { return w->Passes() >= passes + 2; }));
    // A cancelled dialog does nothing.
    orbsim::clearCallLog();
    f.ReLoadStartImageBitBtnClick();
    EXPECT_EQ(CountOf(Log(), "orbBufLoad"), 0u);
    f.EndSubtractBitBtnClick();
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, NoFrameIsWrittenAfterEnd)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    const OrbId digitizer = f.DigitizerId;

    f.EndSubtractBitBtnClick();
    const std::vector<std::string> atEnd = Log();
    const uint64_t frames = orbsim::digitizerState(digitizer)->framesGrabbed;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(orbsim::digitizerState(digitizer)->framesGrabbed, frames);
    // Nothing reached the library after End returned: every later entry would show here.
    EXPECT_EQ(Log(), atEnd);
    // After the worker ended, the trio closed (no grab or write after the first free).
    const auto firstFree = std::find_if(atEnd.begin(), atEnd.end(),
                                        [](const std::string& e) { return e.rfind("orbBufFree", 0) == 0; });
    ASSERT_NE(firstFree, atEnd.end());
    EXPECT_TRUE(std::none_of(firstFree, atEnd.end(), [](const std::string& e) {
        return e.rfind("orbDigGrab", 0) == 0 || e.rfind("orbBufPut", 0) == 0;
    }));

    EXPECT_FALSE(f.ThreadActive());
    EXPECT_FALSE(f.WindowsReady);
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    EXPECT_FALSE(f.EndSubtractBitBtn->isEnabled());
    EXPECT_FALSE(f.RegetStartImageBitBtn->isEnabled());
    EXPECT_FALSE(f.ReLoadStartImageBitBtn->isEnabled());
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, EndWhilePausedWakesTheWorkerAndEndsIt)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    f.StartSubtractBitBtnClick();   // "Pause"
    // A reload adds a pause; End still ends it.
    f.LiveWorker()->Suspend();
    f.EndSubtractBitBtnClick();
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    const std::vector<std::string> atEnd = Log();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Log(), atEnd);
}

TEST_F(LiveTest, RestartAfterEndMakesANewTrio)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    const OrbId firstNow = f.NowBuffer;
    f.EndSubtractBitBtnClick();
    StartSubtract();
    EXPECT_NE(f.NowBuffer, firstNow);
    EXPECT_EQ(Children().size(), 3u);
    f.EndSubtractBitBtnClick();
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, RegetEndsTheWorkerAndRunsTheCameraIntoStart)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    f.RegetStartImageBitBtnClick();
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_TRUE(f.WindowsReady);
    EXPECT_EQ(Children().size(), 3u);
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    EXPECT_FALSE(f.RegetStartImageBitBtn->isEnabled());
    EXPECT_FALSE(f.ReLoadStartImageBitBtn->isEnabled());
    EXPECT_TRUE(f.EndSubtractBitBtn->isEnabled());
    const auto state = orbsim::digitizerState(f.DigitizerId);
    EXPECT_TRUE(state->live);
    EXPECT_EQ(state->liveBuffer, f.StartBuffer);
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, " Click Start Subtract button to restart.");

    // The next start grabs a new start image into the same trio.
    const OrbId now = f.NowBuffer;
    f.StartSubtractBitBtnClick();
    EXPECT_TRUE(f.ThreadActive());
    EXPECT_EQ(f.NowBuffer, now);
    EXPECT_EQ(Children().size(), 3u);
    EXPECT_FALSE(orbsim::digitizerState(f.DigitizerId)->live);
    f.EndSubtractBitBtnClick();
    EXPECT_TRUE(dialogs.Modals().size() == 1u);   // the buffer dialog, once
}

TEST_F(LiveTest, EndAfterRegetStopsTheContinuousGrabEvenWhereTheTrioStays)
{
    // On the double-screen kind the trio is not closed: the camera must stop all the same.
    StartWithBoard(btDrevanDouble);
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    f.RegetStartImageBitBtnClick();
    const OrbId digitizer = f.DigitizerId;
    ASSERT_TRUE(orbsim::digitizerState(digitizer)->live);
    ASSERT_TRUE(WaitFor([&] { return orbsim::digitizerState(digitizer)->framesGrabbed > 0; }));

    f.EndSubtractBitBtnClick();
    EXPECT_FALSE(orbsim::digitizerState(digitizer)->live);
    EXPECT_EQ(Children().size(), 3u);   // kept on this kind
    EXPECT_FALSE(f.WindowsReady);
    const uint64_t frames = orbsim::digitizerState(digitizer)->framesGrabbed;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(orbsim::digitizerState(digitizer)->framesGrabbed, frames);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, HidingTheFormEndsTheRun)
{
    StartWithBoard(btSorvik);
    RealTimeSubtractControlSSForm->show();
    TRealTimeSubtractControlSSForm& f = StartSubtract();
    f.hide();
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_TRUE(Children().empty());
}


TEST_F(LiveTest, CancelledBufferDialogStopsTheDifferenceQuietly)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = *RealTimeSubtractControlSSForm;
    f.StartSubtractBitBtnClick();   // the scripted dialog cancels
    EXPECT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_FALSE(f.WindowsReady);
    EXPECT_TRUE(Children().empty());
    EXPECT_TRUE(dialogs.Boxes().empty());
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    EXPECT_FALSE(f.EndSubtractBitBtn->isEnabled());
    EXPECT_EQ(CountOf(Log(), "orbDigGrab"), 0u);
}

TEST_F(LiveTest, CancelledBufferDialogIsTheProductFormsAllocationError)
{
    StartWithBoard(btSorvik);
    TRealTimeMultiplyControlSSForm& f = *RealTimeMultiplyControlSSForm;
    // Through the button, as the operator clicks it: the error reaches the default handler.
    f.StartSubtractBitBtn->click();
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Allocate Display Window Error!, You Should Close some. ");
    EXPECT_TRUE(boxes[0].OnGuiThread);
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_FALSE(f.WindowsReady);
    EXPECT_EQ(f.StartBuffer, 0u);
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Multiply");
    EXPECT_FALSE(f.EndMultiplyBitBtn->isEnabled());
    EXPECT_EQ(CountOf(Log(), "orbDigGrab"), 0u);
}

TEST_F(LiveTest, ProductFormsIdsOfAnEarlierRunDoNotOutliveIt)
{
    StartWithBoard(btSorvik);
    TRealTimeMultiplyControlSSForm& f = *RealTimeMultiplyControlSSForm;
    AnswerBufferDialog();
    f.StartSubtractBitBtnClick();
    ASSERT_TRUE(f.ThreadActive());
    f.EndMultiplyBitBtnClick();
    // A cancelled dialog at the next start leaves no stale window ids to grab into.
    f.StartSubtractBitBtn->click();
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "Allocate Display Window Error!, You Should Close some. ");
    EXPECT_EQ(f.NowBuffer, 0u);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, ProductRunShowsTheRoundedGeometricMean)
{
    StartWithBoard(btLumbra);
    TRealTimeMultiplyControlSSForm& f = *RealTimeMultiplyControlSSForm;
    EXPECT_EQ(f.windowTitle(), "Real Time Multiply");
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Multiply");
    EXPECT_EQ(f.EndMultiplyBitBtn->text(), "End Multiply");
    AnswerBufferDialog(40, 30);
    f.StartSubtractBitBtnClick();
    ASSERT_TRUE(f.ThreadActive());
    EXPECT_EQ(Children()[2]->windowTitle(), "Multiply Result");
    TLiveWorker* w = f.LiveWorker();
    ASSERT_TRUE(WaitFor([w] { return w->Passes() >= 2; }));
    f.StartSubtractBitBtnClick();   // "Pause"
    const std::vector<uint8_t> now = Pixels(f.NowBuffer);
    const std::vector<uint8_t> result = Pixels(f.ResultBuffer);
    for (size_t k = 0; k < result.size(); ++k)
        ASSERT_EQ(result[k], int(std::trunc(std::sqrt(double(now[k]) * double(w->StartPixels[k])) + 0.5))) << k;
    f.EndMultiplyBitBtnClick();
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(LiveTest, ABoardWithoutDigitizerStartsNothing)
{
    StartWithBoard(btNoBoardVGA);
    RealTimeSubtractControlSSForm->StartSubtractBitBtnClick();
    EXPECT_TRUE(dialogs.Modals().empty());
    EXPECT_TRUE(Children().empty());
    EXPECT_FALSE(RealTimeSubtractControlSSForm->ThreadActive());
}

TEST_F(LiveTest, SixteenBitWindowsAreRefusedBeforeAnyPass)
{
    StartWithBoard(btSorvik);
    TRealTimeSubtractControlSSForm& f = *RealTimeSubtractControlSSForm;
    AnswerBufferDialog(32, 16, 16);
    f.StartSubtractBitBtn->click();
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, QString(kNot8BitMessage) + ".");
    EXPECT_FALSE(f.ThreadActive());
    EXPECT_EQ(f.StartSubtractBitBtn->text(), "Start Subtract");
    // The trio is there: End closes it.
    EXPECT_TRUE(f.WindowsReady);
    f.EndSubtractBitBtnClick();
    EXPECT_TRUE(Children().empty());
}

// A worker whose combine step fails on its second pass.
class FailingWorker : public TLiveWorker {
public:
    using TLiveWorker::TLiveWorker;
    ~FailingWorker() override { EndAndWait(); }

protected:
    void Combine(uint8_t*, const uint8_t*, size_t) override
    {
        if (++calls_ == 2)
            throw EAppError("The combine step failed");
    }

private:
    int calls_ = 0;
};

TEST_F(LiveTest, AnErrorInsideTheWorkerReachesTheOperatorOnTheGuiThread)
{
    StartWithBoard(btSorvik);
    OrbId now = 0, result = 0;
    MainForm->OpenImaging();
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 8, 4 + 8 + 16, &now);
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 8, 4 + 8 + 16, &result);
    FailingWorker worker(MainForm->DigitizerId, now, result);
    // Made, not started: it starts only when told, once its arrays are set.
    EXPECT_FALSE(worker.isRunning());
    EXPECT_EQ(worker.StartPixels.size(), 16u * 8u);
    EXPECT_EQ(worker.LivePixels.size(), 16u * 8u);
    worker.Suspend();   // a thread not started rests already
    worker.Resume();
    worker.start();
    ASSERT_TRUE(WaitFor([&] { return worker.Finished(); }));
    EXPECT_EQ(worker.Passes(), 1u);
    worker.Suspend();   // an ended worker does not hold up its caller
    EXPECT_TRUE(dialogs.Boxes().empty());   // not shown on the worker's thread
    QCoreApplication::processEvents();
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "The combine step failed.");
    EXPECT_TRUE(boxes[0].OnGuiThread);
}

TEST_F(LiveTest, WorkerRefusesBuffersItCannotCombineByteForByte)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    OrbId eight = 0, sixteen = 0, other = 0;
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 8, 4 + 16, &eight);
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 16, 4 + 16, &sixteen);
    orbBufAlloc2d(MainForm->SystemId, 8, 8, 8, 4 + 16, &other);
    const auto message = [](OrbId now, OrbId result) -> std::string {
        try {
            TRealTimeSubtract8Bit w(0x3, now, result);
            return "made";
        } catch (const EAppError& e) {
            return e.Message();
        }
    };
    EXPECT_EQ(message(eight, eight), "made");
    EXPECT_EQ(message(sixteen, eight), kNot8BitMessage);
    EXPECT_EQ(message(eight, sixteen), kNot8BitMessage);
    EXPECT_EQ(message(eight, other), kNot8BitMessage);
    EXPECT_EQ(message(0x999, 0x999), kNot8BitMessage);
}

TEST_F(LiveTest, PauseCountNeedsAsManyResumesAsSuspends)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    OrbId now = 0, result = 0;
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 8, 4 + 8 + 16, &now);
    orbBufAlloc2d(MainForm->SystemId, 16, 8, 8, 4 + 8 + 16, &result);
    TRealTimeMultiply8Bit worker(MainForm->DigitizerId, now, result);
    worker.start();
    worker.Suspend();
    worker.Suspend();
    EXPECT_EQ(worker.PauseCount(), 2);
    worker.Resume();
    const uint64_t passes = worker.Passes();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(worker.Passes(), passes);
    worker.Resume();
    worker.Resume();   // not below 0
    EXPECT_EQ(worker.PauseCount(), 0);
    EXPECT_TRUE(WaitFor([&] { return worker.Passes() >= passes + 2; }));
    worker.Terminate();
    ASSERT_TRUE(worker.wait(5000));
    EXPECT_TRUE(worker.Finished());
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
