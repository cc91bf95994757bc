#pragma once
// The "3D Color map" view: the height map as a pseudo-3D stack of 38 profile lines in
// oblique projection, painted back to front with white strokes so nearer lines hide
// farther ones, each column's top pixel coloured with the 2D view's ramp; four buttons
// turn the map by quarter turns.

#include "Show2d.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QLabel;
class QToolButton;
class QPushButton;

class TShow3DForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kImageWidth = 321;
    static constexpr int kImageHeight = 261;
    static constexpr int kRulerTop = 8;
    static constexpr int kRulerWidth = 10;
    static constexpr int kRulerHeight = 73;
    static constexpr int kLineWidth = 230;       // pixels of one line
    static constexpr int kDepthExtentY = 150;
    static constexpr int kDepthExtentX = 80;
    static constexpr int kLineSpacing = 4;
    static constexpr int kLineCount = 38;
    static constexpr int kOriginY = kRulerTop + kRulerHeight;        // 81
    static constexpr int kOriginX = kImageWidth - kLineWidth;        // 91

    explicit TShow3DForm(QWidget* parent = nullptr);

    // Stores the map (borrowed; mask 255 = invalid, none = every pixel valid), scans its
    // range as the 2D view does and draws the view; a map without any valid pixel shows the
    // note "No valid pixel" in place of the stack, with no scale.
    void LoadData(const float* heights, const uint8_t* mask, int32_t width, int32_t height,
                  float offset);
    // Drops the borrowed map (the project is replacing or freeing it); the drawing stays.
    void ForgetData();
    bool HasData() const { return heights_ != nullptr; }

    void SpeedButton0Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    // ">>>": the next orientation, 3 wrapping to 0, with its button pressed.
    void BitBtn1Click();

    void DrawView();
    // One line of the stack from the line buffer, its left end at x0 on baseline.
    void DrawLine(int x0, int baseline);
    void DrawColorRuler();
    void DrawAxes();
    QRgb ValueToColor(float v) const { return ::ValueToColor(v, range_, stops_); }

    int Orientation() const { return orientation_; }
    const TMapRange& Range() const { return range_; }
    // Left ends of the 38 lines (baselines 81 + 4i).
    const std::array<int, kLineCount>& LineX() const { return lineX_; }
    int DepthLength() const { return depthLength_; }
    // The map row (orientations 0, 2) or column (1, 3) index r that line i was filled from,
    // and the values of the last line drawn.
    int DepthIndex(int line) const;
    const std::vector<float>& LineBuffer() const { return line_; }
    // Fills the line buffer for depth index r in the current orientation.
    void FillLine(int r);

    TImageBox* ColorImage = nullptr;
    TImageBox* ColorRulerImage = nullptr;
    QLabel* MaxColorLabel = nullptr;
    QLabel* MidColorLabel = nullptr;
    QLabel* MinColorLabel = nullptr;
    QLabel* HoriLowLabel = nullptr;
    QLabel* HoriHighLabel = nullptr;
    QLabel* VertLowLabel = nullptr;
    QLabel* VertHighLabel = nullptr;
    QToolButton* SpeedButton[4] = {};
    QPushButton* BitBtn1 = nullptr;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void SetOrientation(int orientation);
    int LineLength() const;

    const float* heights_ = nullptr;
    float offset_ = 0.0f;
    const uint8_t* mask_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    float columnScale_ = 0.0f;
    float depthScale_ = 0.0f;
    TMapRange range_;
    TColorStops stops_;
    // The values of the line being drawn, relative to min: as long as a line of the map,
    // so a map of any size fits.
    std::vector<float> line_;
    int orientation_ = 0;
    int depthLength_ = 0;
    std::array<int, kLineCount> lineX_{};
};

extern TShow3DForm* Show3DForm;
