#include "Mdiimagechild.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Forms.h"
#include "Main.h"
#include "Orbbinding.h"
#include "Rawoption.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <new>

namespace {

const char* const kNoBufferMessage = "No memory to create more buffers!";
const char* const kNoRepaintMemoryMessage = "Now more memory to allocate for repaint";

// A repaint picture larger than this is not made (24 bits per pixel).
constexpr int64_t kMaxRepaintBytes = int64_t(512) << 20;

TSelectionTool* selectionTool = nullptr;

int BoardKind() { return MainForm ? MainForm->BoardType : -1; }
OrbId SystemOf() { return MainForm ? MainForm->SystemId : 0; }
OrbId DigitizerOf() { return MainForm ? MainForm->DigitizerId : 0; }
bool SelfPainted() { return BoardKind() == btDrevanDouble; }

// Watches the imaging library's error reports for the calls made while it lives: it puts
// its own hook in front of the installed one, counts what the library reports on this
// thread and hands every report on, so the operator sees each one as before. A report
// from another thread (a live worker) is handed on but not counted. The hook's state is
// static: a worker may still be inside the hook just after the watch has ended.
class TLibraryErrorWatch {
public:
    TLibraryErrorWatch()
    {
        OrbErrorHook previous = nullptr;
        void* user = nullptr;
        orbAppInquire(ORB_INQ_ERROR_HOOK, &previous);
        orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &user);
        if (previous == &Count)   // a watch already in place: leave it
            return;
        previous_ = previous;
        previousUser_ = user;
        installed_ = true;
        counted_ = 0;
        orbAppSetErrorHook(ORB_ERROR_HOOK, &Count, nullptr);
    }
    ~TLibraryErrorWatch()
    {
        if (installed_)
            orbAppSetErrorHook(ORB_ERROR_HOOK, previous_.load(), previousUser_.load());
    }
    TLibraryErrorWatch(const TLibraryErrorWatch&) = delete;
    TLibraryErrorWatch& operator=(const TLibraryErrorWatch&) = delete;

    // True when the library reported an error on this thread and a hook showed it.
    bool Reported() const { return installed_ && previous_.load() != nullptr && counted_ > 0; }

private:
    static OrbInt Count(OrbInt hookType, OrbId errorId, void* /*user*/)
    {
        ++counted_;
        if (OrbErrorHook next = previous_.load())
            next(hookType, errorId, previousUser_.load());
        return 0;
    }

    bool installed_ = false;
    static inline std::atomic<OrbErrorHook> previous_{nullptr};
    static inline std::atomic<void*> previousUser_{nullptr};
    static inline thread_local int counted_ = 0;
};

int BitsOf(uint32_t type) { return static_cast<int>(type & ~ORB_SIGNED); }

int BytesOf(uint32_t type)
{
    const int bits = BitsOf(type);
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

uint32_t LoadPixel(const uint8_t* p, int bpp)
{
    switch (bpp) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

// The grey value a pixel of the given bits shows as: its most significant 8 bits, or a
// narrower pixel spread over 0-255.
uint8_t GreyOf(uint32_t v, int bits)
{
    if (bits <= 0 || bits > 32)
        return 0;
    if (bits < 32)
        v &= (uint32_t(1) << bits) - 1;
    if (bits >= 8)
        return static_cast<uint8_t>(v >> (bits - 8));
    return static_cast<uint8_t>(v * 255u / ((uint32_t(1) << bits) - 1));
}

// The library's file format of an extension (upper-cased, with its dot); -1 for none.
int FileFormatOf(const QString& path)
{
    const QString ext = "." + QFileInfo(path).suffix().toUpper();
    if (ext == ".TIF") return ORB_FILE_TIFF;
    if (ext == ".BMP") return ORB_FILE_BMP;
    if (ext == ".RAW") return ORB_FILE_RAW;
    if (ext == ".OIM") return ORB_FILE_OWN;
    return -1;
}

bool ValidZoom(int z) { return (z >= 1 && z <= 16) || (z >= -16 && z <= -1); }

bool LiveWorkerExists()
{
    return (RealTimeSubtractControlSSForm && RealTimeSubtractControlSSForm->ThreadActive()) ||
           (RealTimeMultiplyControlSSForm && RealTimeMultiplyControlSSForm->ThreadActive());
}

bool LiveFormClosingWindows()
{
    return (RealTimeSubtractControlSSForm && RealTimeSubtractControlSSForm->ClosingWindows) ||
           (RealTimeMultiplyControlSSForm && RealTimeMultiplyControlSSForm->ClosingWindows);
}

}  // namespace

void SetSelectionTool(TSelectionTool* tool) { selectionTool = tool; }
TSelectionTool* SelectionTool() { return selectionTool; }

// ---- the client area ------------------------------------------------------------------------

// The client area and the window's display sink: frames arrive on any thread, are copied
// and handed to the GUI thread (a frame not yet shown is replaced by a newer one), and the
// last one is painted at the display's zoom with the rubber band on top.
class TImageView : public QWidget, public OrbDisplaySink {
public:
    TImageView(TMDIImageChildForm* form, QWidget* parent) : QWidget(parent), form_(form)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setCursor(Qt::CrossCursor);
        setMouseTracking(true);
    }

    void SetClientSize(int w, int h)
    {
        client_ = QSize(std::max(0, w), std::max(0, h));
        updateGeometry();
    }
    QSize sizeHint() const override { return client_; }

    void orbFrame(const uint8_t* grey, int width, int height, int zoomX, int zoomY) override
    {
        if (!grey || width <= 0 || height <= 0)
            return;
        QImage copy = QImage(grey, width, height, width, QImage::Format_Grayscale8).copy();
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = std::move(copy);
            pendingZoomX_ = zoomX;
            pendingZoomY_ = zoomY;
            havePending_ = true;
            post = !posted_;
            posted_ = true;
        }
        // Dropped by Qt if the window is gone by then.
        if (post)
            QMetaObject::invokeMethod(this, [this] { TakeFrame(); }, Qt::QueuedConnection);
    }

    void orbDetached() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = QImage();
        havePending_ = false;
    }

    QImage Frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (!frame_.isNull()) {
            const int w = TMDIImageChildForm::ShownLength(frame_.width(), zoomX_);
            const int h = TMDIImageChildForm::ShownLength(frame_.height(), zoomY_);
            p.drawImage(QRect(0, 0, w, h), frame_);
        }
        form_->PaintSelection(p);
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (form_->DrevanImage)
            form_->DrevanImage->setGeometry(rect());
    }

    void mousePressEvent(QMouseEvent* e) override { form_->FormMouseDown(e->button(), e->position().toPoint()); }
    void mouseMoveEvent(QMouseEvent* e) override { form_->FormMouseMove(e->position().toPoint()); }
    void mouseReleaseEvent(QMouseEvent* e) override { form_->FormMouseUp(e->button(), e->position().toPoint()); }

private:
    void TakeFrame()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted_ = false;
            if (!havePending_)
                return;
            frame_ = std::move(pending_);
            pending_ = QImage();
            havePending_ = false;
            zoomX_ = pendingZoomX_;
            zoomY_ = pendingZoomY_;
        }
        update();
    }

    TMDIImageChildForm* form_;
    QSize client_{768, 576};

    std::mutex mutex_;   // guards the pending frame
    QImage pending_;
    int pendingZoomX_ = 1, pendingZoomY_ = 1;
    bool havePending_ = false;
    bool posted_ = false;

    QImage frame_;       // GUI thread only
    int zoomX_ = 1, zoomY_ = 1;
};

// ---- the self-painted picture ---------------------------------------------------------------

TDrevanImage::TDrevanImage(TMDIImageChildForm* form, QWidget* parent) : QWidget(parent), form_(form)
{
    setObjectName("DrevanImage");
    // Paints every pixel of its area: the client area under it is not repainted.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
}

void TDrevanImage::Invalidate(bool reread)
{
    if (!reread)
        fresh_ = true;
    if (!painting_)
        update();
}

void TDrevanImage::paintEvent(QPaintEvent*)
{
    // An expose shows the buffer as it is now; a picture just made is shown as it is.
    if (!fresh_) {
        painting_ = true;
        const QString reported = reportedFailure_;
        try {
            form_->FormPaint();
        } catch (const std::exception& e) {
            Picture = QImage();
            // Said once per failing zoom and buffer, not at every expose, and not from
            // inside the paint.
            if (reportedFailure_ != reported || reported.isEmpty())
                PostMessageBox(QString::fromLocal8Bit(e.what()), QGuiApplication::applicationDisplayName(),
                               MB_OK | MB_ICONERROR);
        }
        painting_ = false;
    }
    fresh_ = false;
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (!Picture.isNull())
        p.drawImage(QPoint(0, 0), Picture);
    form_->PaintSelection(p);
}

void TDrevanImage::mousePressEvent(QMouseEvent* e)
{
    form_->DrevanImageMouseDown(e->button(), e->position().toPoint());
}

void TDrevanImage::mouseMoveEvent(QMouseEvent* e) { form_->DrevanImageMouseMove(e->position().toPoint()); }

void TDrevanImage::mouseReleaseEvent(QMouseEvent* e)
{
    form_->DrevanImageMouseUp(e->button(), e->position().toPoint());
}

// ---- construction ---------------------------------------------------------------------------

void TMDIImageChildForm::BuildClient()
{
    view_ = new TImageView(this, this);
    setWidget(view_);
    DrevanImage = new TDrevanImage(this, view_);
    DrevanImage->setGeometry(view_->rect());
    FormCreate();
    // In the MDI area before any size is set: sizes set before it do not hold there.
    if (MainForm)
        MainForm->MdiArea->addSubWindow(this);
    connect(this, &QMdiSubWindow::aboutToActivate, this, [this] { RunGuarded([this] { FormActivate(); }); });
}

TMDIImageChildForm::TMDIImageChildForm(QWidget* /*owner*/, bool display, bool grabbing, bool processing,
                                       bool isUnsigned, int /*bands*/, int bits, int sizeY, int sizeX)
{
    BuildClient();
    Live = false;
    ZoomX = ZoomY = 1;
    BufferId = DisplayId = 0;
    try {
        uint32_t type = static_cast<uint32_t>(bits);
        if (!isUnsigned)
            type += ORB_SIGNED;
        uint32_t attributes = ORB_ATTR_IMAGE;
        if (grabbing) attributes += ORB_ATTR_GRAB;
        if (processing) attributes += ORB_ATTR_PROC;
        if (display) attributes += ORB_ATTR_DISP;
        orbBufAlloc2d(SystemOf(), sizeX, sizeY, type, attributes, &BufferId);
        if (BufferId == 0)
            throw EAppError(kNoBufferMessage);
        orbBufClear(BufferId, 0.0);
        ShowInDisplay();
    } catch (...) {
        // The window is not built: nothing it took stays behind.
        FreeImaging();
        throw;
    }
    RealTimeWindow = false;
    SetClientSize(sizeX, sizeY);
}

TMDIImageChildForm::TMDIImageChildForm(QWidget* /*owner*/, const QString& path)
{
    BuildClient();
    Live = false;
    ZoomX = ZoomY = 1;
    BufferId = DisplayId = 0;
    bool cancelled = false;   // the raw dialog was cancelled or the file was not read
    try {
        const QString ext = "." + QFileInfo(path).suffix().toUpper();
        int width = 0, height = 0;
        uint32_t type = 0;
        if (ext == ".RAW") {
            // The dialog shows the file's name; its size is taken from the full path.
            std::unique_ptr<TRawOptionForm> form(new TRawOptionForm(MainForm, path));
            if (ShowModal(*form) == mrCancel) {
                cancelled = true;
            } else {
                width = StrToInt(form->WidthEdit->text());
                height = StrToInt(form->HeightEdit->text());
                type = ORB_SIGNED + 8;
            }
        } else {
            OrbId temporary = 0;
            bool reported = false;
            {
                TLibraryErrorWatch watch;
                orbBufRestore(QFile::encodeName(path).constData(), SystemOf(), &temporary);
                reported = watch.Reported();
            }
            if (temporary != 0) {
                type = static_cast<uint32_t>(orbBufInquire(temporary, ORB_BUF_TYPE, nullptr));
                width = orbBufInquire(temporary, ORB_BUF_SIZE_X, nullptr);
                height = orbBufInquire(temporary, ORB_BUF_SIZE_Y, nullptr);
                orbBufFree(temporary);
            } else if (reported) {
                // The library has told the operator why the file could not be read: the
                // window is not made, and no claim of our own is added to that report.
                cancelled = true;
            } else {
                throw EAppError(kNoBufferMessage);
            }
        }
        if (!cancelled) {
            const uint32_t attributes = MainForm && MainForm->BoardHasDigitizer() ? 60u : 52u;
            orbBufAlloc2d(SystemOf(), width, height, type, attributes, &BufferId);
            if (BufferId == 0)
                throw EAppError(kNoBufferMessage);
            orbBufLoad(QFile::encodeName(path).constData(), ORB_DEFAULT, 1, SystemOf(), BufferId);
            ShowInDisplay();
            SetClientSize(width, height);
        }
    } catch (...) {
        FreeImaging();
        throw;
    }
    RealTimeWindow = false;
}

TMDIImageChildForm* TMDIImageChildForm::CreateFromValues(QWidget* owner, bool display, bool grabbing,
                                                         bool processing, bool isUnsigned, int bands, int bits,
                                                         int sizeY, int sizeX)
{
    return new TMDIImageChildForm(owner, display, grabbing, processing, isUnsigned, bands, bits, sizeY, sizeX);
}

TMDIImageChildForm* TMDIImageChildForm::CreateFromFile(QWidget* owner, const QString& path)
{
    std::unique_ptr<TMDIImageChildForm> w(new TMDIImageChildForm(owner, path));
    // A cancelled raw dialog or an unreadable file leaves a window without buffer: it is
    // not kept.
    if (!w->HasBuffer())
        return nullptr;
    return w.release();
}

TMDIImageChildForm::~TMDIImageChildForm()
{
    // A window deleted without being closed still gives its buffer and display back.
    FreeImaging();
}

void TMDIImageChildForm::ShowInDisplay()
{
    if (SelfPainted()) {
        DisplayId = MainForm->DisplayId;
        orbDispShowBuffer(DisplayId, BufferId);
        return;
    }
    orbDispAlloc(SystemOf(), ORB_DEFAULT, kDisplayFormat, ORB_DEFAULT, &DisplayId);
    // A display that could not be had was reported by the library: the window stays blank.
    if (DisplayId == 0)
        return;
    orbDispControl(DisplayId, kDispControlOverlay, kControlDisable);
    orbDispShowInWindow(DisplayId, BufferId, static_cast<OrbDisplaySink*>(view_));
}

void TMDIImageChildForm::FormCreate()
{
    SetFormTag(this, kImageWindowTag);
    setCursor(Qt::CrossCursor);
    DrevanImage->setVisible(SelfPainted());
    Dragging = false;
}

// ---- size and zoom --------------------------------------------------------------------------

void TMDIImageChildForm::SetClientSize(int w, int h)
{
    view_->SetClientSize(w, h);
    resize(sizeHint());
}

QSize TMDIImageChildForm::ClientSize() const { return view_->sizeHint(); }

void TMDIImageChildForm::FitClientToImage()
{
    int w = 0, h = 0;
    GetImageSize(w, h);
    SetClientSize(w, h);
}

void TMDIImageChildForm::GetImageSize(int& width, int& height) const
{
    width = height = 0;
    if (BufferId == 0)
        return;
    width = orbBufInquire(BufferId, ORB_BUF_SIZE_X, nullptr);
    height = orbBufInquire(BufferId, ORB_BUF_SIZE_Y, nullptr);
}

uint32_t TMDIImageChildForm::ImageType() const
{
    return BufferId == 0 ? 8u : static_cast<uint32_t>(orbBufInquire(BufferId, ORB_BUF_TYPE, nullptr));
}

int TMDIImageChildForm::BytesPerPixel() const { return BytesOf(ImageType()); }

int TMDIImageChildForm::ShownLength(int length, int zoom)
{
    const int64_t shown = zoom >= 1 ? int64_t(length) * zoom : zoom <= -1 ? int64_t(length) / -int64_t(zoom) : length;
    return static_cast<int>(std::clamp<int64_t>(shown, INT_MIN, INT_MAX));
}

int TMDIImageChildForm::ImageCoordinate(int client, int zoom)
{
    const int64_t c = zoom >= 1 ? int64_t(client) / zoom : zoom <= -1 ? int64_t(client) * -int64_t(zoom) : client;
    return static_cast<int>(std::clamp<int64_t>(c, INT_MIN, INT_MAX));
}

void TMDIImageChildForm::ZoomIn()
{
    auto step = [](int32_t z) {
        z += 1;
        if (z > 16) z = 16;
        if (z == 0) z = 2;
        return z;
    };
    ZoomX = step(ZoomX);
    ZoomY = step(ZoomY);
    ApplyZoom();
}

void TMDIImageChildForm::ZoomOut()
{
    auto step = [](int32_t z) {
        z -= 1;
        if (z < -16) z = -16;
        if (z == 0) z = -2;
        return z;
    };
    ZoomX = step(ZoomX);
    ZoomY = step(ZoomY);
    ApplyZoom();
}

void TMDIImageChildForm::SetZoom(int x, int y)
{
    ZoomX = x;
    ZoomY = y;
    if (ValidZoom(x) && ValidZoom(y))
        ApplyZoom();
}

bool TMDIImageChildForm::CanZoomIn() const { return ZoomX != 16 && ZoomY != 16; }
bool TMDIImageChildForm::CanZoomOut() const { return ZoomX != -16 && ZoomY != -16; }

bool TMDIImageChildForm::IsOriginalSize() const
{
    return ZoomX == 1 || ZoomX == -1 || ZoomY == 1 || ZoomY == -1;
}

void TMDIImageChildForm::ApplyZoom()
{
    if (BufferId == 0)
        return;
    int w = 0, h = 0;
    GetImageSize(w, h);
    if (!isMaximized())
        SetClientSize(ShownLength(w, ZoomX), ShownLength(h, ZoomY));
    if (SelfPainted())
        RedrawImage();
    else if (DisplayId != 0)
        orbDispSetZoom(DisplayId, ZoomX, ZoomY);
}

// ---- files ----------------------------------------------------------------------------------

void TMDIImageChildForm::SaveToFile(const QString& path)
{
    if (BufferId == 0)
        return;
    if (Live)
        orbDigStopGrab(DigitizerOf());
    const int format = FileFormatOf(path);
    if (format >= 0)
        orbBufSave(QFile::encodeName(path).constData(), format, BufferId);
    if (Live)
        orbDigGrabLive(DigitizerOf(), BufferId);
}

void TMDIImageChildForm::LoadFromFile(const QString& path)
{
    if (Live)
        orbDigStopGrab(DigitizerOf());
    Live = false;
    const int format = FileFormatOf(path);
    if (format < 0) {
        ShowMessage(" No support for file: " + path);
        return;
    }
    if (BufferId != 0)
        orbBufLoad(QFile::encodeName(path).constData(), format, 1, SystemOf(), BufferId);
}

// ---- pixel work -----------------------------------------------------------------------------

void TMDIImageChildForm::Require8Bit(const char* operation) const
{
    const uint32_t type = ImageType();
    if (BytesOf(type) != 1)
        throw EAppError(Format("%s works on 8-bit images only: this image has %d bits per pixel", operation,
                               BitsOf(type)));
}

std::vector<uint8_t> TMDIImageChildForm::ReadWhole(int width, int height, int bpp) const
{
    std::vector<uint8_t> pixels(size_t(std::max(width, 0)) * size_t(std::max(height, 0)) * size_t(bpp));
    if (!pixels.empty())
        orbBufGet(BufferId, pixels.data());
    return pixels;
}

void TMDIImageChildForm::CountHistogram(int32_t* bins)
{
    if (BufferId == 0) {
        if (bins)
            std::fill(bins, bins + 256, 0);
        return;
    }
    Require8Bit("The histogram");
    int w = 0, h = 0;
    GetImageSize(w, h);
    const std::vector<uint8_t> pixels = ReadWhole(w, h, 1);
    if (!bins)
        return;
    std::fill(bins, bins + 256, 0);
    for (uint8_t v : pixels)
        ++bins[v];
}

void TMDIImageChildForm::InvertImage()
{
    if (BufferId == 0)
        return;
    Require8Bit("Invert");
    int w = 0, h = 0;
    GetImageSize(w, h);
    if (w <= 0 || h <= 0)
        return;
    std::vector<uint8_t> pixels(size_t(w) * size_t(h));
    orbBufGet2d(BufferId, 0, 0, w, h, pixels.data());
    for (uint8_t& v : pixels)
        v = static_cast<uint8_t>(255 - v);
    orbBufPut2d(BufferId, 0, 0, w, h, pixels.data());
    RedrawImage();
}

void TMDIImageChildForm::FillSelection(uint8_t value, bool ellipse)
{
    if (BufferId == 0)
        return;
    Require8Bit("Fill");
    int width = 0, height = 0;
    GetImageSize(width, height);
    int x0 = ImageCoordinate(std::min(DragStart.x(), DragEnd.x()), ZoomX);
    int x1 = ImageCoordinate(std::max(DragStart.x(), DragEnd.x()), ZoomX);
    int y0 = ImageCoordinate(std::min(DragStart.y(), DragEnd.y()), ZoomY);
    int y1 = ImageCoordinate(std::max(DragStart.y(), DragEnd.y()), ZoomY);
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width - 1);
    y1 = std::min(y1, height - 1);
    // A selection with nothing inside the image fills nothing.
    const int64_t w = int64_t(x1) - x0 + 1, h = int64_t(y1) - y0 + 1;
    if (w <= 0 || h <= 0)
        return;
    std::vector<uint8_t> block(size_t(w) * size_t(h), value);
    if (ellipse) {
        orbBufGet2d(BufferId, x0, y0, int(w), int(h), block.data());
        const float cx = float(w) * 0.5f, cy = float(h) * 0.5f;
        for (int64_t i = 0; i < h; ++i)
            for (int64_t j = 0; j < w; ++j) {
                const float dx = float(j) - cx, dy = float(i) - cy;
                if (!(dx * dx / (cx * cx) + dy * dy / (cy * cy) - 1.0f > 0.0f))
                    block[size_t(i * w + j)] = value;
            }
    }
    orbBufPut2d(BufferId, x0, y0, int(w), int(h), block.data());
}

void TMDIImageChildForm::RedrawImage()
{
    if (BufferId == 0) {
        DrevanImage->Picture = QImage();
        DrevanImage->Invalidate(false);
        return;
    }
    int W = 0, H = 0;
    GetImageSize(W, H);
    const uint32_t type = ImageType();
    const int bpp = BytesOf(type), bits = BitsOf(type);
    const int64_t dw = ShownLength(W, ZoomX), dh = ShownLength(H, ZoomY);
    const QString failure = QString("%1 %2 %3").arg(ZoomX).arg(ZoomY).arg(BufferId);
    auto fail = [&] {
        DrevanImage->Picture = QImage();
        DrevanImage->NoteFailure(failure);
        DrevanImage->Invalidate(false);
        throw EAppError(kNoRepaintMemoryMessage);
    };
    std::vector<uint8_t> pixels;
    try {
        pixels = ReadWhole(W, H, bpp);
    } catch (const std::bad_alloc&) {
        fail();
    }
    if (W <= 0 || H <= 0 || dw <= 0 || dh <= 0) {
        // Nothing to show at this size.
        DrevanImage->Picture = QImage();
        DrevanImage->Invalidate(false);
        return;
    }
    if (dw * dh * 3 > kMaxRepaintBytes)
        fail();
    QImage bitmap(int(dw), int(dh), QImage::Format_RGB888);
    if (bitmap.isNull())
        fail();
    // Nearest source pixel, kept inside the buffer at the last column and row.
    const float sx = float(W) / float(dw), sy = float(H) / float(dh);
    std::vector<int> column(static_cast<size_t>(dw));
    for (int64_t i = 0; i < dw; ++i)
        column[size_t(i)] = std::min(int(float(i) * sx + 0.5f), W - 1);
    for (int64_t j = 0; j < dh; ++j) {
        const int row = std::min(int(float(j) * sy + 0.5f), H - 1);
        const uint8_t* src = pixels.data() + size_t(row) * size_t(W) * size_t(bpp);
        uint8_t* dst = bitmap.scanLine(int(j));
        for (int64_t i = 0; i < dw; ++i) {
            const uint8_t g = GreyOf(LoadPixel(src + size_t(column[size_t(i)]) * size_t(bpp), bpp), bits);
            dst[0] = dst[1] = dst[2] = g;
            dst += 3;
        }
    }
    DrevanImage->Picture = std::move(bitmap);
    DrevanImage->NoteFailure(QString());
    DrevanImage->Invalidate(false);
}

void TMDIImageChildForm::Repaint()
{
    if (SelfPainted())
        RedrawImage();
    else
        view_->update();
}

// ---- events ---------------------------------------------------------------------------------

void TMDIImageChildForm::FormPaint()
{
    if (SelfPainted())
        RedrawImage();
}

void TMDIImageChildForm::FormActivate()
{
    if (!SelfPainted() || BufferId == 0)
        return;
    if (LiveFormClosingWindows() || MainForm->Closing)
        return;
    DisplayId = MainForm->DisplayId;
    orbDispShowBuffer(DisplayId, BufferId);
}

void TMDIImageChildForm::SetHint(const QString& hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    QWidget* shown = DrevanImage->isVisible() ? static_cast<QWidget*>(DrevanImage) : view_;
    shown->setToolTip(hint);
    if (hint.isEmpty())
        QToolTip::hideText();
    else if (shown->isVisible() && shown->rect().contains(shown->mapFromGlobal(QCursor::pos())))
        QToolTip::showText(QCursor::pos(), hint, shown);
}

void TMDIImageChildForm::FormMouseDown(Qt::MouseButton button, QPoint p)
{
    if (button != Qt::LeftButton)
        return;
    Dragging = true;
    DragStart = DragEnd = p;
    UpdateSelection();
}

void TMDIImageChildForm::FormMouseMove(QPoint p)
{
    const int x = ImageCoordinate(p.x(), ZoomX), y = ImageCoordinate(p.y(), ZoomY);
    int width = 0, height = 0;
    GetImageSize(width, height);
    if (x < 0 || x >= width || y < 0 || y >= height) {
        SetHint(QString());
    } else {
        const uint32_t type = ImageType();
        const int bpp = BytesOf(type), bits = BitsOf(type);
        uint8_t pixel[4] = {0, 0, 0, 0};   // room for the widest pixel
        orbBufGet2d(BufferId, x, y, 1, 1, pixel);
        int64_t value = LoadPixel(pixel, bpp);
        if (bits < 32)
            value &= (int64_t(1) << bits) - 1;
        // Wider signed pixels read as signed; bytes read as 0-255 whatever their sign.
        if (bpp > 1 && (type & ORB_SIGNED) && bits < 64 && (value >> (bits - 1)) & 1)
            value -= int64_t(1) << bits;
        SetHint(QFormat("Position(%3d, %3d)  gray = %3lld", x, y, static_cast<long long>(value)));
    }
    if (!Dragging)
        return;
    DragEnd = p;
    UpdateSelection();
    if (TSelectionTool* tool = SelectionTool())
        tool->ShowSelection(ImageCoordinate(DragStart.x(), ZoomX), ImageCoordinate(DragStart.y(), ZoomY), x, y);
}

void TMDIImageChildForm::FormMouseUp(Qt::MouseButton /*button*/, QPoint /*p*/)
{
    if (!Dragging)
        return;
    // The band disappears; DragStart and DragEnd stay for FillSelection.
    Dragging = false;
    UpdateSelection();
}

void TMDIImageChildForm::UpdateSelection()
{
    if (DrevanImage->isVisible())
        DrevanImage->Invalidate(false);
    else
        view_->update();
}

void TMDIImageChildForm::PaintSelection(QPainter& p) const
{
    if (!Dragging)
        return;
    const int x1 = std::min(DragStart.x(), DragEnd.x()), x2 = std::max(DragStart.x(), DragEnd.x());
    const int y1 = std::min(DragStart.y(), DragEnd.y()), y2 = std::max(DragStart.y(), DragEnd.y());
    p.save();
    p.setPen(QPen(QColor(255, 255, 0), 1, Qt::SolidLine));
    p.setBrush(Qt::NoBrush);
    const TSelectionTool* tool = SelectionTool();
    if (!tool || tool->SelectsRectangle()) {
        const QPoint outline[5] = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}};
        p.drawPolyline(outline, 5);
    } else {
        p.drawEllipse(QRect(QPoint(x1, y1), QPoint(x2, y2)));
    }
    p.restore();
}

QWidget* TMDIImageChildForm::ClientArea() const { return view_; }
QImage TMDIImageChildForm::ShownFrame() const { return view_->Frame(); }

// ---- closing --------------------------------------------------------------------------------

void TMDIImageChildForm::FreeImaging()
{
    if (Live && MainForm)
        orbDigStopGrab(MainForm->DigitizerId);
    Live = false;
    if (SelfPainted()) {
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

bool TMDIImageChildForm::FormClose()
{
    // A worker still writes the live buffers: the window is only minimised.
    if (LiveWorkerExists())
        return false;
    FreeImaging();
    return true;
}

void TMDIImageChildForm::closeEvent(QCloseEvent* event)
{
    if (!FormClose()) {
        event->ignore();
        showMinimized();
        return;
    }
    setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow::closeEvent(event);
}
