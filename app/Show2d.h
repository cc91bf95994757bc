#pragma once
// The "2D Color map" view of the project's height map: the map as a colour image with a
// three-stop ramp and a colour ruler, the mouse position in screen and map pixels, and two
// draggable markers whose connecting line is the profile shown by the profile view.
//
// Also the drawing pieces the profile and 3D views share: the image control, the colour
// ramp and the XOR-drawn lines.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class QLabel;

// ---- shared drawing pieces ------------------------------------------------------------

// An image control: shows its picture at its top-left corner and reports mouse events in
// its own pixel coordinates.
class TImageBox : public QWidget {
    Q_OBJECT
public:
    TImageBox(int width, int height, QWidget* parent);

    QImage Picture;   // the retained drawing (32-bit RGB); white at first
    // Pixels of this colour are not drawn (see-through), when set.
    bool Transparent = false;
    QRgb TransparentColor = 0;

    std::function<void(Qt::MouseButton button, int x, int y)> OnMouseDown;
    std::function<void(Qt::MouseButtons buttons, int x, int y)> OnMouseMove;
    std::function<void(Qt::MouseButton button, int x, int y)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The range of the valid values (mask byte not 255; no mask: every pixel) of a map, the
// offset included: Max from -1.0e10, Min from 1.0e10, Mid = (Max + Min) x 0.5. A map
// without any valid pixel keeps Max -1.0e10 and Min 1.0e10.
struct TMapRange {
    float Max = -1.0e10f;
    float Min = 1.0e10f;
    float Mid = 0.0f;
    bool Empty() const { return !(Max >= Min); }
};
TMapRange ScanRange(const float* heights, const uint8_t* mask, size_t count, float offset);

// The three stops of the colour ramp, R, G, B each.
struct TColorStops {
    int Max[3] = {255, 0, 0};     // red
    int Mid[3] = {255, 255, 0};   // yellow
    int Min[3] = {0, 0, 255};     // blue
};

// The colour of value v: above Mid between Mid and Max, else between Min and Mid, each
// channel truncated toward zero (and kept within 0..255). A flat map (Max = Min) gives the
// mid colour; an empty range the min colour.
QRgb ValueToColor(float v, const TMapRange& range, const TColorStops& stops);

// The colour of ruler row r of a ruler height rows high (half = height / 2): rows 0..half
// from the max stop to the mid stop, the rows below from the mid stop to the min stop.
QRgb RulerRowColor(int r, int height, const TColorStops& stops);
// Fills ruler with its row colours.
void DrawRuler(QImage& ruler, const TColorStops& stops);

// A map without any valid pixel has no colour scale: its views leave the ruler white and
// the range labels empty, and show this note, black and centred, where the map would be.
inline constexpr const char* kNoValidPixelText = "No valid pixel";
void DrawNoValidPixelNote(QImage& image, const QRect& area);
// Fills ruler with its row colours, or with white for an empty range.
void DrawRangeRuler(QImage& ruler, const TMapRange& range, const TColorStops& stops);
// The text of a range label: value in "%-10.3f", or "" for an empty range.
QString RangeLabelText(float value, const TMapRange& range);

// The pixels of a one-pixel line from a to b, both ends included.
std::vector<QPoint> LinePixels(QPoint a, QPoint b);
// XORs colour into every pixel listed, each pixel once however often it is listed (so
// drawing the same lines again restores the image). Pixels outside the image are skipped.
void XorPixels(QImage& image, const std::vector<QPoint>& pixels, QRgb colour);
void XorLine(QImage& image, QPoint a, QPoint b, QRgb colour);

// ---- the 2D view ----------------------------------------------------------------------

class TShow2DForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMapImageWidth = 321;
    static constexpr int kMapImageHeight = 286;
    static constexpr int kMarkerWidth = 17;
    static constexpr int kMarkerHeight = 15;
    static constexpr int kRulerWidth = 17;
    static constexpr int kRulerHeight = 217;
    static constexpr int kProfileCapacity = 2000;

    explicit TShow2DForm(QWidget* owner = nullptr);
    ~TShow2DForm() override;

    // Stores the map (borrowed: heights and mask, 255 = invalid, none = every pixel valid),
    // its size and the height offset; scans the range, draws the map and the ruler (for a
    // map without any valid pixel: white, no scale, the note "No valid pixel"), samples
    // the profile and hands it to the profile view. Raises EAppError "profile buufer is not
    // enough" (after the map is drawn, before the profile view is updated) when the marker
    // line is 2000 map pixels or longer.
    void LoadData(const float* heights, const uint8_t* mask, int32_t width, int32_t height,
                  float offset);
    // Drops the borrowed map (the project is replacing or freeing it); the picture stays.
    void ForgetData();
    bool HasData() const { return heights_ != nullptr; }

    void DrawMap();
    void DrawColorRuler();
    // Samples the map along the marker line into Profile() / ProfileCount(): as many samples
    // as the line is long in map pixels (truncated), sample i at i / count of the way from
    // the start marker to the end marker. Raises EAppError "profile buufer is not enough"
    // when the line is too long. No map: no samples.
    void SampleProfile();
    QRgb ValueToColor(float v) const { return ::ValueToColor(v, range_, stops_); }

    // Marker mouse handlers (both markers behave alike) and the map's read-out; x and y in
    // the control's own pixels.
    void UpImageMouseDown(Qt::MouseButton button, int x, int y);
    void UpImageMouseMove(int x, int y);
    void UpImageMouseUp(int x, int y);
    void DownImageMouseDown(Qt::MouseButton button, int x, int y);
    void DownImageMouseMove(int x, int y);
    void DownImageMouseUp(int x, int y);
    void ColorImageMouseMove(int x, int y);

    // Marker centres in screen pixels: left + 8, top + 7.
    QPoint StartCentre() const;
    QPoint EndCentre() const;

    const float* Profile() const { return profile_.data(); }
    int ProfileCount() const { return profileCount_; }
    const TMapRange& Range() const { return range_; }
    float XScale() const { return xScale_; }
    float YScale() const { return yScale_; }
    bool Dragging() const { return dragging_; }

    TImageBox* ColorImage = nullptr;
    TImageBox* UpImage = nullptr;     // "Start Point"
    TImageBox* DownImage = nullptr;   // "End Point"
    TImageBox* ColorRulerImage = nullptr;
    QLabel* MaxColorLabel = nullptr;
    QLabel* MidColorLabel = nullptr;
    QLabel* MinColorLabel = nullptr;
    QLabel* UnitLabel = nullptr;
    QLabel* PosLabel = nullptr;
    QLabel* Pos2Label = nullptr;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void MarkerDown(TImageBox* marker, Qt::MouseButton button, int x, int y);
    void MarkerMove(TImageBox* marker, int x, int y);
    void MarkerUp(TImageBox* marker, int x, int y);
    void MoveMarker(TImageBox* marker, int x, int y);
    void DrawMarkerLine();

    bool dragging_ = false;
    QPoint down_;
    const float* heights_ = nullptr;
    float offset_ = 0.0f;
    const uint8_t* mask_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    float xScale_ = 0.0f;
    float yScale_ = 0.0f;
    TMapRange range_;
    TColorStops stops_;
    std::array<float, kProfileCapacity> profile_{};
    int profileCount_ = 0;
};

extern TShow2DForm* Show2DForm;

// Every result view drops the planes it borrows, and the views are reloaded from the
// current project once the running command is done. Installed as the project's plane
// change notification when the 2D view is made.
void ResultViewPlanesChanged();
