#pragma once
// The "Profile" view: the 2D view's marker-line samples as a curve with axes and ticks.

#include <QWidget>

#include <array>

class QLabel;
class TImageBox;

class TShowProfileForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kImageWidth = 364;
    static constexpr int kImageHeight = 187;
    static constexpr int kMargin = 5;
    static constexpr int kCapacity = 2000;

    explicit TShowProfileForm(QWidget* owner = nullptr);

    // Takes the samples (borrowed; the 2D view's array), their count and range, and redraws
    // the axes, their labels and the curve (for an empty range the note "No valid pixel").
    void SetRange(const float* samples, int count, float max, float mid, float min);
    // Takes new samples of the same range and redraws the curve.
    void SetProfile(const float* samples, int count);

    // Plot geometry, from the image size (integer arithmetic).
    int PlotLeft() const { return plotLeft_; }
    int PlotWidth() const { return plotWidth_; }
    int PlotHeight() const { return plotHeight_; }
    int TopY() const { return kMargin; }
    int XAxisY() const { return kMargin + plotHeight_; }
    int MidLineY() const { return kMargin + plotHeight_ / 2; }

    int Count() const { return count_; }
    // The range has no valid value (max below min, as a map without any valid pixel gives):
    // the y labels stay empty and no curve is drawn.
    bool EmptyRange() const { return !(max_ >= min_); }
    // Screen y of sample i (ScaleProfile): max at the top y, min at the x axis; every sample
    // of a flat profile (max = min) on the mid line.
    int ScreenY(int i) const { return ys_[i]; }
    // The curve's points: (plot left, y0), then (trunc(i x plot width / count) + plot left, yi).
    QPoint CurvePoint(int i) const;

    TImageBox* ProfileImage = nullptr;
    QLabel* MaxLabel = nullptr;
    QLabel* MidLabel = nullptr;
    QLabel* MinLabel = nullptr;
    QLabel* HowmanyLabel = nullptr;
    QLabel* YUnitLabel = nullptr;
    QLabel* XUnitLabel = nullptr;

private:
    void ScaleProfile();
    void Redraw();
    void DrawYAxis();
    void DrawXAxis();
    void DrawCurve();

    const float* samples_ = nullptr;
    int count_ = 0;
    float max_ = 0.0f, mid_ = 0.0f, min_ = 0.0f;
    std::array<int, kCapacity> ys_{};
    int plotLeft_ = 0, plotWidth_ = 0, plotHeight_ = 0;
};

extern TShowProfileForm* ShowProfileForm;
