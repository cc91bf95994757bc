#pragma once
// The histogram window "Histogram": statistics of a 256-level histogram per channel (grey,
// red, green, blue), a bar plot on a logarithmic scale with a colour ruler under it, and
// the level, count and percentile under the mouse, for one level (hover) or a dragged
// range. The main window passes the active image window's grey histogram in all four
// channels and shows the form modally.
//
// The statistics are single precision, as the labels show them: "Mean: %6.3f",
// "StdDev: %6.3f", "Median: %d", "Pixels: %d". A channel given no counts has a total of 0
// and shows a percentile of 0.

#include <QDialog>
#include <QImage>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

// A picture control: shows Picture at (0, 0) and reports the mouse in picture coordinates.
class THistogramPicture : public QWidget {
    Q_OBJECT
public:
    THistogramPicture(int width, int height, QWidget* parent);

    QImage Picture;
    std::function<void(int x, int y)> OnMouseDown, OnMouseMove, OnMouseUp;

    QSize sizeHint() const override { return Picture.size(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class THistogramForm : public QDialog {
    Q_OBJECT
public:
    enum { kGrey = 0, kRed = 1, kGreen = 2, kBlue = 3, kChannels = 4, kLevels = 256 };
    // Plot and ruler sizes: 256 bars at x = 1..256 inside a frame from x = 0 to 257.
    static constexpr int kPlotWidth = 258;
    static constexpr int kPlotHeight = 128;
    static constexpr int kRulerHeight = 12;

    // CreateWithBins: four arrays of 256 counts or null (grey, red, green, blue); the
    // channel is set to item 0 and the statistics computed.
    THistogramForm(QWidget* owner, const int32_t* grey, const int32_t* red, const int32_t* green,
                   const int32_t* blue);

    // ---- components ----
    QComboBox* ChannelComboBox = nullptr;   // "Gray Level", "Red", "Green", "Blue"
    THistogramPicture* HistogramImage = nullptr;
    THistogramPicture* ChannelImage = nullptr;
    QLabel* LevelLabel = nullptr;
    QLabel* CountLabel = nullptr;
    QLabel* PercentileLabel = nullptr;
    QLabel* MeanLabel = nullptr;
    QLabel* StdDevLabel = nullptr;
    QLabel* MedianLabel = nullptr;
    QLabel* PixelsLabel = nullptr;
    QPushButton* Button1 = nullptr;         // "OK"

    // ---- fields ----
    int32_t Bins[kChannels][kLevels] = {};
    int32_t MaxCount[kChannels] = {1, 1, 1, 1};
    float Total[kChannels] = {};
    float Mean[kChannels] = {};
    float StdDev[kChannels] = {};
    int32_t Median[kChannels] = {};
    bool Dragging = false;
    int32_t CurrentLevel = 0, CurrentY = 0;
    int32_t AnchorLevel = 0, AnchorY = 0;

    // The selected channel (0 grey .. 3 blue).
    int Channel() const;
    // The level of a mouse x on the plot: x - 1, with x <= 0 as 1 and x > 256 as 255.
    static int LevelOfX(int x);
    // The ruler colour of a channel (red in the low byte): 0xFFFFFF, 0x0000FF, 0x008000, 0xFF0000.
    static uint32_t ChannelColour(int channel);

    void ComputeStatistics();
    void ShowStatistics();
    void DrawHistogram();
    void DrawChannelRuler(uint32_t colour);
    void ShowLevelRange(int low, int high);
    void DrawSelection();

    // ---- handlers ----
    void ChannelComboBoxChange();
    void HistogramImageMouseDown(int x, int y);
    void HistogramImageMouseMove(int x, int y);
    void HistogramImageMouseUp(int x, int y);

    // The bar top of a count: trunc((H - 1) - (H - 1) * log(count + 1) / log(maxCount + 2)).
    static int BarTop(int32_t count, int32_t maxCount, int height);

private:
    // The plot's background and frame, then the bars; in [low, high] the selection.
    QImage PlotPicture(int low, int high) const;

    const int32_t* given_[kChannels] = {};
    bool hasChannel_[kChannels] = {};
};
