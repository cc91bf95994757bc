#pragma once
// The image window: an MDI child (Tag 40) that shows one image buffer of the imaging
// library. It owns its buffer and, except on board kind 3, its display (bound to the
// window); on board kind 3 every window shares the main window's display. Both are freed
// when the window closes.

#include "orb.h"

#include <QMdiSubWindow>

#include <cstdint>

class TImageView;

class TMDIImageChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    // The window for the buffer dialog's values (the band count is taken and not used):
    // a cleared buffer of sizeX x sizeY with bits per pixel (+ ORB_SIGNED unless
    // isUnsigned) and the attributes 4 (+ 8 grabbing, + 16 processing, + 32 display),
    // and its display. Raises EAppError "No memory to create more buffers!" when the
    // buffer cannot be had. Made as a child of the main window's MDI area.
    TMDIImageChildForm(QWidget* owner, bool display, bool grabbing, bool processing,
                       bool isUnsigned, int bands, int bits, int sizeY, int sizeX);
    ~TMDIImageChildForm() override;

    // Client width and height := w and h.
    void SetClientSize(int w, int h);
    // Buffer size X and Y.
    void GetImageSize(int& width, int& height) const;

    OrbId BufferId = 0;
    OrbId DisplayId = 0;
    bool Live = false;             // a continuous grab runs into this buffer
    int32_t ZoomX = 1;
    int32_t ZoomY = 1;
    bool RealTimeWindow = false;   // one of the trio of a live difference or product

protected:
    // While a live worker exists the window is minimised instead of closed; otherwise the
    // grab is stopped, the display and the buffer are freed and the window deleted.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FreeImaging();

    TImageView* view_ = nullptr;
};
