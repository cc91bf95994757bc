#include "Mdiimagechild.h"

#include "Apperror.h"
#include "Main.h"
#include "Orbbinding.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QCloseEvent>
#include <QImage>
#include <QMdiArea>
#include <QMetaObject>
#include <QPainter>
#include <QWidget>

#include <mutex>

// The client area: receives the display's frames (on any thread) and paints the last one.
class TImageView : public QWidget, public OrbDisplaySink {
public:
    explicit TImageView(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setCursor(Qt::CrossCursor);
    }

    void SetClientSize(int w, int h)
    {
        client_ = QSize(w, h);
        updateGeometry();
    }
    QSize sizeHint() const override { return client_; }

    void orbFrame(const uint8_t* grey, int width, int height, int zoomX, int zoomY) override
    {
        QImage copy(grey, width, height, width, QImage::Format_Grayscale8);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frame_ = copy.copy();
            zoomX_ = zoomX;
            zoomY_ = zoomY;
        }
        // Repainted on the GUI thread; dropped if the window is gone by then.
        QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
    }

    void orbDetached() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frame_ = QImage();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        std::lock_guard<std::mutex> lock(mutex_);
        if (frame_.isNull())
            return;
        const int w = zoomX_ >= 1 ? frame_.width() * zoomX_ : frame_.width() / -zoomX_;
        const int h = zoomY_ >= 1 ? frame_.height() * zoomY_ : frame_.height() / -zoomY_;
        p.drawImage(QRect(0, 0, w, h), frame_);
    }

private:
    QSize client_{768, 576};
    std::mutex mutex_;
    QImage frame_;
    int zoomX_ = 1, zoomY_ = 1;
};

TMDIImageChildForm::TMDIImageChildForm(QWidget* /*owner*/, bool display, bool grabbing,
                                       bool processing, bool isUnsigned, int /*bands*/, int bits,
                                       int sizeY, int sizeX)
{
    view_ = new TImageView(this);
    setWidget(view_);
    FormCreate();

    Live = false;
    ZoomX = ZoomY = 1;
    BufferId = DisplayId = 0;
    uint32_t type = static_cast<uint32_t>(bits);
    if (!isUnsigned)
        type += ORB_SIGNED;
    uint32_t attributes = ORB_ATTR_IMAGE;
    if (grabbing) attributes += ORB_ATTR_GRAB;
    if (processing) attributes += ORB_ATTR_PROC;
    if (display) attributes += ORB_ATTR_DISP;
    orbBufAlloc2d(MainForm->SystemId, sizeX, sizeY, type, attributes, &BufferId);
    if (BufferId == 0)
        throw EAppError("No memory to create more buffers!");
    orbBufClear(BufferId, 0.0);
    if (MainForm->BoardType == btDrevanDouble) {
        DisplayId = MainForm->DisplayId;
        orbDispShowBuffer(DisplayId, BufferId);
    } else {
        orbDispAlloc(MainForm->SystemId, ORB_DEFAULT, kDisplayFormat, ORB_DEFAULT, &DisplayId);
        orbDispControl(DisplayId, kDispControlOverlay, kControlDisable);
        orbDispShowInWindow(DisplayId, BufferId, static_cast<OrbDisplaySink*>(view_));
    }
    RealTimeWindow = false;
    SetClientSize(sizeX, sizeY);
    MainForm->MdiArea->addSubWindow(this);
}

TMDIImageChildForm::~TMDIImageChildForm()
{
    // A window deleted without being closed still gives its buffer and display back.
    FreeImaging();
}

void TMDIImageChildForm::FormCreate()
{
    SetFormTag(this, kImageWindowTag);
}

void TMDIImageChildForm::SetClientSize(int w, int h)
{
    view_->SetClientSize(w, h);
    resize(sizeHint());
}

void TMDIImageChildForm::GetImageSize(int& width, int& height) const
{
    width = orbBufInquire(BufferId, ORB_BUF_SIZE_X, nullptr);
    height = orbBufInquire(BufferId, ORB_BUF_SIZE_Y, nullptr);
}

void TMDIImageChildForm::FreeImaging()
{
    if (Live && MainForm)
        orbDigStopGrab(MainForm->DigitizerId);
    Live = false;
    if (MainForm && MainForm->BoardType == btDrevanDouble) {
        // The shared display shows a black image instead of the buffer about to go.
        if (BufferId != 0 && MainForm->DisplayId != 0) {
            orbBufClear(BufferId, 0.0);
            DisplayId = MainForm->DisplayId;
            orbDispShowBuffer(DisplayId, BufferId);
        }
    } else if (DisplayId != 0) {
        orbDispFree(DisplayId);
    }
    DisplayId = 0;
    if (BufferId != 0)
        orbBufFree(BufferId);
    BufferId = 0;
}

void TMDIImageChildForm::closeEvent(QCloseEvent* event)
{
    const bool workerRuns =
        (RealTimeSubtractControlSSForm && RealTimeSubtractControlSSForm->ThreadActive()) ||
        (RealTimeMultiplyControlSSForm && RealTimeMultiplyControlSSForm->ThreadActive());
    if (workerRuns) {
        // A worker still writes the live buffers: the window is only minimised.
        event->ignore();
        showMinimized();
        return;
    }
    setAttribute(Qt::WA_DeleteOnClose);
    FreeImaging();
    QMdiSubWindow::closeEvent(event);
}
