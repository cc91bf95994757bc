#pragma once
// The image window: an MDI child (Tag 40, cross cursor) that shows one image buffer of the
// imaging library. It owns its buffer and, except on board kind 3, its display, which
// shows the buffer in the window's client area through a display sink; on board kind 3
// every window shares the main window's display and paints its buffer itself into
// DrevanImage. Both are freed when the window closes.
//
// Zoom factors: n of 1..16 magnifies n times, -1..-16 reduces |n| times, 1 and -1 are both
// 1:1, 0 never occurs. Shown size = size * n (n >= 1) or size / |n| (n <= -1); the image
// coordinate of a client coordinate c is c / n (n >= 1) or c * |n| (n <= -1).
//
// The pixel tools (histogram, invert, fill) work on buffers of one byte per pixel (1 to 8
// bits) and refuse any other buffer with an EAppError; the read-out and the self-painted
// repaint read every depth.
//
// GUI thread only, except the display sink, which takes frames on any thread.

#include "orb.h"

#include <QImage>
#include <QMdiSubWindow>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <vector>

class QPainter;
class TImageView;
class TMDIImageChildForm;

// The selection tool an image window's rubber band works with (the modify-image tool):
// which shape it selects, and where it shows the corners while the operator drags.
// Without a tool the rubber band is a rectangle and the corners are shown nowhere.
class TSelectionTool {
public:
    virtual ~TSelectionTool() = default;
    // True when the rectangle shape is chosen, false for the ellipse.
    virtual bool SelectsRectangle() const = 0;
    // The drag's start and the current point, in image coordinates.
    virtual void ShowSelection(int x0, int y0, int x1, int y1) = 0;
};
// Installs the tool (not owned; null removes it).
void SetSelectionTool(TSelectionTool* tool);
TSelectionTool* SelectionTool();

// The picture of the self-painted display (board kind 3): an image control that fills the
// client area and shows its picture at (0, 0).
class TDrevanImage : public QWidget {
    Q_OBJECT
public:
    TDrevanImage(TMDIImageChildForm* form, QWidget* parent);

    QImage Picture;   // 24 bits per pixel; null when cleared

    // Repaints the control; reread false when the picture is already fresh (no expose
    // re-read of the buffer for this paint).
    void Invalidate(bool reread);
    // The repaint failed at key (zoom and buffer), or succeeded (empty key): a failure is
    // reported once, not again at every expose.
    void NoteFailure(const QString& key) { reportedFailure_ = key; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TMDIImageChildForm* form_;
    bool fresh_ = false;      // the picture was just made: no re-read for this paint
    bool painting_ = false;   // inside paintEvent: no further update is asked for
    QString reportedFailure_;
};

class TMDIImageChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    // CreateFromValues: the window for the buffer dialog's values (the band count is taken
    // and not used): a cleared buffer of sizeX x sizeY with bits per pixel (+ ORB_SIGNED
    // unless isUnsigned) and the attributes 4 (+ 8 grabbing, + 16 processing, + 32
    // display), and its display. Raises EAppError "No memory to create more buffers!" when
    // the buffer cannot be had. Made as a child of the main window's MDI area.
    TMDIImageChildForm(QWidget* owner, bool display, bool grabbing, bool processing,
                       bool isUnsigned, int bands, int bits, int sizeY, int sizeX);
    // CreateFromFile: the window for an image file (".RAW" asks its size through the
    // raw-options dialog). When that dialog is cancelled, or the imaging library has
    // reported why it cannot read the file, the window has no buffer (HasBuffer false).
    // Raises EAppError as above, or for a raw file that cannot be opened, or for a raw
    // size that is no number.
    TMDIImageChildForm(QWidget* owner, const QString& path);
    ~TMDIImageChildForm() override;

    static TMDIImageChildForm* CreateFromValues(QWidget* owner, bool display, bool grabbing,
                                                bool processing, bool isUnsigned, int bands,
                                                int bits, int sizeY, int sizeX);
    // Null when the raw-options dialog was cancelled or the library could not read the file
    // (no window is left behind).
    static TMDIImageChildForm* CreateFromFile(QWidget* owner, const QString& path);

    // ---- published ----
    TDrevanImage* DrevanImage = nullptr;   // visible only on board kind 3

    // ---- fields ----
    QPoint DragStart;        // client point where the left drag began
    QPoint DragEnd;          // client point where the drag stands or ended
    bool Dragging = false;   // a rubber-band drag is in progress
    OrbId BufferId = 0;
    OrbId DisplayId = 0;
    bool Live = false;             // a continuous grab runs into this buffer
    int32_t ZoomX = 1;
    int32_t ZoomY = 1;
    bool RealTimeWindow = false;   // one of the trio of a live difference or product

    bool HasBuffer() const { return BufferId != 0; }

    // By the upper-cased extension: ".TIF" TIFF, ".BMP" BMP, ".RAW" raw, ".OIM" the
    // library's own. Saving under another extension does nothing; loading from one shows
    // " No support for file: " and the path.
    void SaveToFile(const QString& path);
    void LoadFromFile(const QString& path);

    // Client width and height := w and h.
    void SetClientSize(int w, int h);
    // The client size last set (a window frame may keep a small image's window wider).
    QSize ClientSize() const;
    // Client := the buffer's size.
    void FitClientToImage();
    // Buffer size X and Y (0 and 0 without a buffer).
    void GetImageSize(int& width, int& height) const;
    // The buffer's type (bits, + ORB_SIGNED) and its bytes per pixel (1, 2 or 4).
    uint32_t ImageType() const;
    int BytesPerPixel() const;

    void ZoomIn();
    void ZoomOut();
    // Stores both; applies them only when both lie in -16..-1 or 1..16.
    void SetZoom(int x, int y);
    bool CanZoomIn() const;        // false when either factor is 16
    bool CanZoomOut() const;       // false when either factor is -16
    bool IsOriginalSize() const;   // true when either factor is 1 or -1

    // The self-painted display: the whole buffer, sampled to the shown size, into
    // DrevanImage's picture. Raises "Now more memory to allocate for repaint" when the
    // picture cannot be made.
    void RedrawImage();
    // Repaints the window: RedrawImage on board kind 3, the display's last frame otherwise.
    void Repaint();
    // The 256-bin grey histogram of the whole buffer (bins may be null: then the buffer is
    // only read).
    void CountHistogram(int32_t* bins);
    // v := 255 - v for every pixel, then RedrawImage.
    void InvertImage();
    // Fills the last dragged rectangle, or the ellipse inscribed in it, with value; clamped
    // to the image; nothing when nothing of it lies inside.
    void FillSelection(uint8_t value, bool ellipse);

    // The read-out: "Position(%3d, %3d)  gray = %3d" under the mouse, "" outside the image.
    QString Hint() const { return hint_; }

    // Zoom rule helpers.
    static int ShownLength(int length, int zoom);
    static int ImageCoordinate(int client, int zoom);

    // The client area (the display sink's window) and the last frame it received.
    QWidget* ClientArea() const;
    QImage ShownFrame() const;

    // ---- handlers ----
    void FormCreate();
    void FormActivate();
    void FormPaint();
    // True when the window may go (it then frees its display and buffer).
    bool FormClose();
    void FormMouseDown(Qt::MouseButton button, QPoint p);
    void FormMouseMove(QPoint p);
    void FormMouseUp(Qt::MouseButton button, QPoint p);
    void DrevanImageMouseDown(Qt::MouseButton button, QPoint p) { FormMouseDown(button, p); }
    void DrevanImageMouseMove(QPoint p) { FormMouseMove(p); }
    void DrevanImageMouseUp(Qt::MouseButton button, QPoint p) { FormMouseUp(button, p); }

    // Draws the rubber band (while dragging) in client coordinates.
    void PaintSelection(QPainter& p) const;

protected:
    // While a live worker exists the window is minimised instead of closed; otherwise the
    // grab is stopped, the display and the buffer are freed and the window deleted.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildClient();
    void ShowInDisplay();
    void ApplyZoom();
    void FreeImaging();
    void SetHint(const QString& hint);
    void UpdateSelection();
    // The buffer's pixels, width x height x bytes per pixel.
    std::vector<uint8_t> ReadWhole(int width, int height, int bpp) const;
    // Raises unless the buffer has one byte per pixel.
    void Require8Bit(const char* operation) const;

    TImageView* view_ = nullptr;
    QString hint_;
};
