#include "Livework.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Main.h"

#include <QCoreApplication>
#include <QHideEvent>
#include <QMetaObject>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

const char* const kNoMemoryMessage = " No memory can allocate ";
const char* const kNot8BitMessage = "The live windows must be 8-bit images of one size";
const char* const kLivePauseCaption = "Pause";
const char* const kLiveResumeCaption = "Resume";
const char* const kAllocateWindowsError = "Allocate Display Window Error!, You Should Close some. ";
const char* const kRestartMessage = " Click Start Subtract button to restart.";

// ---- combine kernels ------------------------------------------------------------------------
//
// Both run over blocks of a fixed number of bytes, so that the compiler turns the inner
// loops into vector code without a run-time remainder; the last partial block runs byte
// by byte.

namespace {

constexpr size_t kBlock = 64;

// The rounded square root of every product of two bytes: trunc(sqrt(p) + 0.5).
struct RootTable {
    uint8_t root[255 * 255 + 1];
    RootTable()
    {
        for (int p = 0; p <= 255 * 255; ++p)
            root[p] = static_cast<uint8_t>(std::trunc(std::sqrt(static_cast<double>(p)) + 0.5));
    }
};

const RootTable& Roots()
{
    static const RootTable table;
    return table;
}

inline uint8_t AbsDiff(uint8_t a, uint8_t b)
{
    return static_cast<uint8_t>(a > b ? a - b : b - a);
}

}  // namespace

void SubtractFrames(uint8_t* __restrict live, const uint8_t* __restrict start, size_t n)
{
    size_t k = 0;
    for (; k + kBlock <= n; k += kBlock) {
        uint8_t* __restrict l = live + k;
        const uint8_t* __restrict s = start + k;
        for (size_t j = 0; j < kBlock; ++j)
            l[j] = AbsDiff(l[j], s[j]);
    }
    for (; k < n; ++k)
        live[k] = AbsDiff(live[k], start[k]);
}

void MultiplyFrames(uint8_t* __restrict live, const uint8_t* __restrict start, size_t n)
{
    const uint8_t* __restrict root = Roots().root;
    for (size_t k = 0; k < n; ++k)
        live[k] = root[unsigned(live[k]) * unsigned(start[k])];
}

// ---- worker ---------------------------------------------------------------------------------

TLiveWorker::TLiveWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer)
    : ResultBuffer(resultBuffer), NowBuffer(nowBuffer), DigitizerId(digitizer)
{
    Width = orbBufInquire(NowBuffer, ORB_BUF_SIZE_X, nullptr);
    Height = orbBufInquire(NowBuffer, ORB_BUF_SIZE_Y, nullptr);
    // Each pass reads and writes width x height bytes: both buffers must hold exactly that.
    const auto oneBytePerPixel = [](OrbId buffer) {
        const uint32_t bits = static_cast<uint32_t>(orbBufInquire(buffer, ORB_BUF_TYPE, nullptr)) & ~ORB_SIGNED;
        return bits >= 1 && bits <= 8;
    };
    if (Width <= 0 || Height <= 0 || !oneBytePerPixel(NowBuffer) || !oneBytePerPixel(ResultBuffer) ||
        orbBufInquire(ResultBuffer, ORB_BUF_SIZE_X, nullptr) != Width ||
        orbBufInquire(ResultBuffer, ORB_BUF_SIZE_Y, nullptr) != Height)
        throw EAppError(kNot8BitMessage);
    const size_t n = static_cast<size_t>(Width) * static_cast<size_t>(Height);
    try {
        StartPixels.resize(n);
        LivePixels.resize(n);
    } catch (const std::bad_alloc&) {
        throw EAppError(kNoMemoryMessage);
    } catch (const std::length_error&) {
        throw EAppError(kNoMemoryMessage);
    }
    orbBufGet(ResultBuffer, StartPixels.data());
}

TLiveWorker::~TLiveWorker()
{
    EndAndWait();
}

void TLiveWorker::EndAndWait()
{
    Terminate();
    wait();
}

void TLiveWorker::Suspend()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++pauseCount_;
    // A thread never started, or one that has ended, rests already.
    rested_.wait(lock, [this] { return resting_ || finished_ || !isRunning(); });
}

void TLiveWorker::Resume()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pauseCount_ > 0)
            --pauseCount_;
    }
    wake_.notify_all();
}

int TLiveWorker::PauseCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pauseCount_;
}

void TLiveWorker::Terminate()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
    }
    requestInterruption();
    wake_.notify_all();
}

void TLiveWorker::ReloadStartImage()
{
    Suspend();
    orbBufGet(NowBuffer, StartPixels.data());
    Resume();
}

uint64_t TLiveWorker::Passes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return passes_;
}

bool TLiveWorker::Finished() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

void TLiveWorker::Pass()
{
    orbDigGrab(DigitizerId, NowBuffer);
    orbBufGet(NowBuffer, LivePixels.data());
    Combine(LivePixels.data(), StartPixels.data(), LivePixels.size());
    orbBufPut(ResultBuffer, LivePixels.data());
}

void TLiveWorker::run()
{
    QString failure;
    try {
        // At least one pass; the terminate flag is looked at after each.
        for (;;) {
            Pass();
            std::unique_lock<std::mutex> lock(mutex_);
            ++passes_;
            if (terminated_)
                break;
            if (pauseCount_ > 0) {
                resting_ = true;
                rested_.notify_all();
                wake_.wait(lock, [this] { return pauseCount_ == 0 || terminated_; });
                resting_ = false;
                if (terminated_)
                    break;
            }
        }
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
        if (failure.isEmpty())
            failure = QStringLiteral("Unknown error");
    } catch (...) {
        failure = QStringLiteral("Unknown error");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        resting_ = false;
    }
    rested_.notify_all();
    if (failure.isEmpty())
        return;
    // The operator hears of it on the GUI thread, through the default handler.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [failure] {
                if (Application)
                    Application->ShowException(failure);
            },
            Qt::QueuedConnection);
    } else {
        std::fprintf(stderr, "%s\n", failure.toLocal8Bit().constData());
    }
}

// ---- control form ---------------------------------------------------------------------------

TLiveControlForm::TLiveControlForm(QWidget* owner, const Texts& texts, bool cancelStops)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint), texts_(texts), cancelStops_(cancelStops)
{
    setWindowTitle(texts_.Caption);
    auto* layout = new QVBoxLayout(this);
    StartSubtractBitBtn = new QPushButton(texts_.StartCaption, this);
    StartSubtractBitBtn->setObjectName("StartSubtractBitBtn");
    EndBitBtn = new QPushButton(texts_.EndCaption, this);
    RegetStartImageBitBtn = new QPushButton("Re-get Start Image", this);
    RegetStartImageBitBtn->setObjectName("RegetStartImageBitBtn");
    ReLoadStartImageBitBtn = new QPushButton("ReLoad Start Image", this);
    ReLoadStartImageBitBtn->setObjectName("ReLoadStartImageBitBtn");
    for (QPushButton* b : {StartSubtractBitBtn, EndBitBtn, RegetStartImageBitBtn, ReLoadStartImageBitBtn}) {
        b->setAutoDefault(false);
        layout->addWidget(b);
    }
    SetButtonsEnabled(false);

    connect(StartSubtractBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { StartBitBtnClick(); }); });
    connect(EndBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { EndBitBtnClick(); }); });
    connect(RegetStartImageBitBtn, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { RegetStartImageBitBtnClick(); }); });
    connect(ReLoadStartImageBitBtn, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { ReLoadStartImageBitBtnClick(); }); });
}

TLiveControlForm::~TLiveControlForm()
{
    EndWorker();
}

TLiveWorker* TLiveControlForm::LiveWorker() const
{
    return qobject_cast<TLiveWorker*>(Worker);
}

void TLiveControlForm::SetButtonsEnabled(bool on)
{
    EndBitBtn->setEnabled(on);
    RegetStartImageBitBtn->setEnabled(on);
    ReLoadStartImageBitBtn->setEnabled(on);
}

bool TLiveControlForm::MakeLiveWindows()
{
    if (!MainForm)
        return false;
    TRealTimeWindowIds ids;   // all 0 unless the trio is made
    const bool made = MainForm->NewRealTimeWindows(texts_.ResultTitle, ids);
    // Taken once the library is open (making the trio opens it when needed).
    AppId = MainForm->AppId;
    SystemId = MainForm->SystemId;
    DigitizerId = MainForm->DigitizerId;
    if (!made && cancelStops_)
        return false;
    StartDisplay = ids.StartDisplay;
    StartBuffer = ids.StartBuffer;
    NowDisplay = ids.NowDisplay;
    NowBuffer = ids.NowBuffer;
    ResultDisplay = ids.ResultDisplay;
    ResultBuffer = ids.ResultBuffer;
    if (StartDisplay == 0 || StartBuffer == 0 || NowDisplay == 0 || NowBuffer == 0 || ResultDisplay == 0 ||
        ResultBuffer == 0)
        throw EAppError(kAllocateWindowsError);
    WindowsReady = true;
    return true;
}

void TLiveControlForm::CloseLiveWindows()
{
    ClosingWindows = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{ClosingWindows};
    if (MainForm)
        MainForm->CloseRealTimeWindows();
    WindowsReady = false;
}

void TLiveControlForm::StartBitBtnClick()
{
    const QString caption = StartSubtractBitBtn->text();
    if (caption == texts_.StartCaption) {
        // A board kind without a digitizer has nothing to grab with (the form may still be
        // shown after a change of board kind).
        if (!MainForm || !MainForm->BoardHasDigitizer())
            return;
        if (!WindowsReady && !MakeLiveWindows())
            return;
        // Two frames: the first shown in the "Start" window, the second the start image.
        orbDigGrab(DigitizerId, StartBuffer);
        StartLive = false;
        orbDigGrab(DigitizerId, ResultBuffer);
        std::unique_ptr<TLiveWorker> worker(MakeWorker(DigitizerId, NowBuffer, ResultBuffer));
        // The thread starts only now that its arrays and sizes are set.
        worker->start();
        Worker = worker.release();
        StartSubtractBitBtn->setText(kLivePauseCaption);
    } else if (caption == kLivePauseCaption) {
        StartSubtractBitBtn->setText(kLiveResumeCaption);
        if (TLiveWorker* w = LiveWorker())
            w->Suspend();
    } else {
        StartSubtractBitBtn->setText(kLivePauseCaption);
        if (TLiveWorker* w = LiveWorker())
            w->Resume();
    }
    SetButtonsEnabled(true);
}

void TLiveControlForm::EndWorker()
{
    if (!Worker)
        return;
    if (TLiveWorker* w = LiveWorker())
        w->Terminate();   // wakes a paused worker too
    else
        Worker->requestInterruption();
    Worker->wait();
    delete Worker;
    Worker = nullptr;
}

void TLiveControlForm::EndBitBtnClick()
{
    EndWorker();
    StartSubtractBitBtn->setText(texts_.StartCaption);
    // The camera that "Re-get Start Image" left running into the "Start" window stops
    // too: nothing is written after the end.
    if (StartLive && WindowsReady && MainForm && MainForm->ImagingOpened)
        orbDigStopGrab(DigitizerId);
    StartLive = false;
    if (WindowsReady)
        CloseLiveWindows();
    SetButtonsEnabled(false);
}

void TLiveControlForm::RegetStartImageBitBtnClick()
{
    RegetStartImageBitBtn->setEnabled(false);
    ReLoadStartImageBitBtn->setEnabled(false);
    EndWorker();
    StartSubtractBitBtn->setText(texts_.StartCaption);
    if (WindowsReady) {
        orbDigGrabLive(DigitizerId, StartBuffer);
        StartLive = true;
    }
    ShowMessage(kRestartMessage);
}

void TLiveControlForm::ReLoadStartImageBitBtnClick()
{
    if (!MainForm || !MainForm->OpenPictureDialog->Execute())
        return;
    const QByteArray path = MainForm->OpenPictureDialog->FileName.toLocal8Bit();
    TLiveWorker* w = LiveWorker();
    // The worker rests while the "Now" buffer and its start image change; a worker that
    // was paused stays paused afterwards.
    if (w)
        w->Suspend();
    struct Resume {
        TLiveWorker* w;
        ~Resume()
        {
            if (w)
                w->Resume();
        }
    } resume{w};
    orbBufLoad(path.constData(), ORB_DEFAULT, 1, MainForm->SystemId, NowBuffer);
    orbBufCopy(NowBuffer, StartBuffer);
    if (w)
        w->ReloadStartImage();
}

void TLiveControlForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())   // minimised with the main window: the work goes on
        return;
    RunGuarded([this] { EndBitBtnClick(); });
}
