#include "Show3d.h"

#include "Format.h"

#include <QButtonGroup>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <cmath>

TShow3DForm* Show3DForm = nullptr;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

void SetPixel(QImage& image, int x, int y, QRgb colour)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
    reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}

// A vertical stroke from (x, from) to (x, to), both ends included; dotted: every other pixel.
void VerticalStroke(QImage& image, int x, int from, int to, QRgb colour, bool dotted)
{
    const int lo = std::min(from, to), hi = std::max(from, to);
    for (int y = lo; y <= hi; ++y)
        if (!dotted || ((y - lo) & 1) == 0) SetPixel(image, x, y, colour);
}

}  // namespace

TShow3DForm::TShow3DForm(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Show3DForm"));
    setWindowTitle(QStringLiteral("3D Color map"));
    setFixedSize(kImageWidth + 44, kImageHeight + 34);

    ColorImage = new TImageBox(kImageWidth, kImageHeight, this);
    ColorImage->setObjectName(QStringLiteral("ColorImage"));
    ColorImage->move(0, 0);
    ColorRulerImage = new TImageBox(kRulerWidth, kRulerHeight, this);
    ColorRulerImage->setObjectName(QStringLiteral("ColorRulerImage"));
    ColorRulerImage->move(4, kRulerTop);

    QFont small = font();
    small.setPointSize(7);
    auto label = [&](const QString& text, int x, int y, int w = 44) {
        auto* l = new QLabel(text, this);
        l->setFont(small);
        l->setGeometry(x, y, w, 13);
        return l;
    };
    MaxColorLabel = label(QString(), 16, kRulerTop - 4, 60);
    MaxColorLabel->setObjectName(QStringLiteral("MaxColorLabel"));
    MidColorLabel = label(QString(), 16, kRulerTop + kRulerHeight / 2 - 6, 60);
    MidColorLabel->setObjectName(QStringLiteral("MidColorLabel"));
    MinColorLabel = label(QString(), 16, kRulerTop + kRulerHeight - 10, 60);
    MinColorLabel->setObjectName(QStringLiteral("MinColorLabel"));
    label(QStringLiteral("( mm )"), 16, kRulerTop + kRulerHeight + 2);
    label(QStringLiteral("pixel"), 110, kImageHeight - 20);
    label(QStringLiteral("pixel"), 292, 150);
    HoriLowLabel = label(QString(), 8, kImageHeight - 26);
    HoriLowLabel->setObjectName(QStringLiteral("HoriLowLabel"));
    HoriHighLabel = label(QString(), 226, kImageHeight - 26);
    HoriHighLabel->setObjectName(QStringLiteral("HoriHighLabel"));
    VertLowLabel = label(QString(), kImageWidth + 2, kOriginY - 7);
    VertLowLabel->setObjectName(QStringLiteral("VertLowLabel"));
    VertHighLabel = label(QString(), 250, kOriginY + kDepthExtentY - 12);
    VertHighLabel->setObjectName(QStringLiteral("VertHighLabel"));

    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    static const char* const kTurns[4] = {"0", "90", "180", "270"};
    for (int i = 0; i < 4; ++i) {
        SpeedButton[i] = new QToolButton(this);
        SpeedButton[i]->setObjectName(QStringLiteral("SpeedButton%1").arg(i));
        SpeedButton[i]->setText(QString::fromLatin1(kTurns[i]));
        SpeedButton[i]->setToolTip(QStringLiteral("Turn the map by %1 degrees").arg(kTurns[i]));
        SpeedButton[i]->setCheckable(true);
        SpeedButton[i]->setGeometry(8 + 34 * i, kImageHeight + 6, 32, 22);
        group->addButton(SpeedButton[i], i);
    }
    SpeedButton[0]->setChecked(true);
    connect(SpeedButton[0], &QToolButton::clicked, this, [this] { SpeedButton0Click(); });
    connect(SpeedButton[1], &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton[2], &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton[3], &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    BitBtn1 = new QPushButton(QStringLiteral(">>>"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(8 + 34 * 4 + 8, kImageHeight + 6, 40, 22);
    BitBtn1->setVisible(false);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    // The oblique projection: 38 lines 4 pixels apart, each shifted left along the depth edge.
    depthLength_ = static_cast<int>(std::sqrt(double(kDepthExtentY) * kDepthExtentY +
                                              double(kDepthExtentX) * kDepthExtentX));
    int n = 0;
    for (int y = kOriginY; y <= kOriginY + kDepthExtentY && n < kLineCount; y += kLineSpacing) {
        const int x = static_cast<int>(kOriginX - (y - kOriginY) * kDepthExtentX / double(kDepthExtentY));
        if (x < kOriginX - kDepthExtentX) break;
        lineX_[n++] = x;
    }
}

int TShow3DForm::LineLength() const
{
    return (orientation_ == 0 || orientation_ == 2) ? width_ : height_;
}

void TShow3DForm::LoadData(const float* heights, const uint8_t* mask, int32_t width,
                           int32_t height, float offset)
{
    const bool usable = heights && width > 0 && height > 0;
    heights_ = usable ? heights : nullptr;
    mask_ = usable ? mask : nullptr;
    width_ = usable ? width : 0;
    height_ = usable ? height : 0;
    offset_ = offset;
    range_ = ScanRange(heights_, mask_, size_t(width_) * size_t(height_), offset_);
    DrawView();
}

void TShow3DForm::ForgetData()
{
    heights_ = nullptr;
    mask_ = nullptr;
    width_ = height_ = 0;
    line_.clear();
}

void TShow3DForm::SetOrientation(int orientation)
{
    orientation_ = orientation;
    if (!SpeedButton[orientation]->isChecked()) SpeedButton[orientation]->setChecked(true);
    DrawView();
}

void TShow3DForm::SpeedButton0Click() { SetOrientation(0); }
void TShow3DForm::SpeedButton1Click() { SetOrientation(1); }
void TShow3DForm::SpeedButton2Click() { SetOrientation(2); }
void TShow3DForm::SpeedButton3Click() { SetOrientation(3); }
void TShow3DForm::BitBtn1Click() { SetOrientation(orientation_ == 3 ? 0 : orientation_ + 1); }

int TShow3DForm::DepthIndex(int line) const
{
    const int L = LineLength();
    const int D = width_ + height_ - L;
    if (D <= 0) return 0;
    const int r = static_cast<int>(float(kLineSpacing * line) * depthScale_);
    return std::clamp(r, 0, D - 1);
}

void TShow3DForm::FillLine(int r)
{
    const int L = LineLength();
    line_.assign(size_t(std::max(L, 0)), 0.0f);
    if (!heights_) return;
    const int W = width_, H = height_;
    for (int k = 0; k < L; ++k) {
        int c = 0, row = 0;
        switch (orientation_) {
        case 0: c = k; row = r; break;
        case 1: c = W - 1 - r; row = k; break;
        case 2: c = W - 1 - k; row = H - 1 - r; break;
        default: c = r; row = H - 1 - k; break;
        }
        const size_t i = size_t(row) * size_t(W) + size_t(c);
        line_[k] = (mask_ && mask_[i] == 255) ? 0.0f : heights_[i] + offset_ - range_.Min;
    }
}

void TShow3DForm::DrawView()
{
    ColorImage->Picture.fill(kWhite);
    const int L = LineLength();
    const int D = width_ + height_ - L;
    columnScale_ = float(L) / float(kLineWidth);
    depthScale_ = float(D) / float(depthLength_);
    if (heights_ && L > 0 && D > 0 && range_.Empty()) {
        // Nothing to raise: the stack's area says so instead of showing flat lines.
        DrawNoValidPixelNote(ColorImage->Picture,
                             QRect(kOriginX - kDepthExtentX, kOriginY, kLineWidth + kDepthExtentX,
                                   kDepthExtentY));
    } else if (heights_ && L > 0 && D > 0) {
        for (int i = 0; i < kLineCount; ++i) {
            FillLine(DepthIndex(i));
            DrawLine(lineX_[i], kOriginY + kLineSpacing * i);
        }
    }
    DrawColorRuler();
    DrawAxes();
    ColorImage->update();
}

void TShow3DForm::DrawLine(int x0, int baseline)
{
    if (line_.empty()) return;
    QImage& image = ColorImage->Picture;
    const float range = range_.Max - range_.Min;
    const int last = int(line_.size()) - 1;
    auto column = [&](int p) {
        const int index = std::clamp(static_cast<int>(float(p) * columnScale_), 0, last);
        const float v = line_[size_t(index)];
        // A flat (or empty) map raises nothing: every column stays on its baseline.
        int d = 0;
        if (range > 0.0f) {
            const double raise = double(kRulerHeight) * double(v) / double(range);
            d = raise > 0.0 ? static_cast<int>(std::min(raise, double(kRulerHeight))) : 0;
        }
        return std::make_pair(d, v);
    };
    for (int p = 0; p < kLineWidth; ++p) {
        const auto [d, v] = column(p);
        VerticalStroke(image, x0 + p, baseline, baseline - d, kWhite, false);
        SetPixel(image, x0 + p, baseline - d, ValueToColor(v + range_.Min));
    }
    // The two ends of the line, dotted black.
    for (int p : {0, kLineWidth - 1}) {
        const auto [d, v] = column(p);
        VerticalStroke(image, x0 + p, baseline, baseline - d, kBlack, true);
        SetPixel(image, x0 + p, baseline - d, ValueToColor(v + range_.Min));
    }
}

void TShow3DForm::DrawColorRuler()
{
    DrawRangeRuler(ColorRulerImage->Picture, range_, stops_);
    ColorRulerImage->update();
    const std::pair<QLabel*, const int*> labels[3] = {
        {MaxColorLabel, stops_.Max}, {MidColorLabel, stops_.Mid}, {MinColorLabel, stops_.Min}};
    const float values[3] = {range_.Max, range_.Mid, range_.Min};
    for (int i = 0; i < 3; ++i) {
        labels[i].first->setText(RangeLabelText(values[i], range_));
        QPalette p = labels[i].first->palette();
        p.setColor(QPalette::WindowText,
                   QColor(labels[i].second[0], labels[i].second[1], labels[i].second[2]));
        labels[i].first->setPalette(p);
    }
}

void TShow3DForm::DrawAxes()
{
    {
        QPainter p(&ColorImage->Picture);
        QPen pen(Qt::black);
        pen.setWidth(1);
        pen.setCosmetic(true);
        p.setPen(pen);
        const int frontY = kOriginY + kDepthExtentY;                        // 231
        const int frontLeft = kOriginX - kDepthExtentX;                     // 11
        const int frontRight = kOriginX - kDepthExtentX + kLineWidth;       // 241
        const QPoint outline[4] = {QPoint(kImageWidth, kOriginY), QPoint(frontRight, frontY),
                                   QPoint(frontLeft, frontY), QPoint(frontLeft, frontY + 5)};
        p.drawPolyline(outline, 4);
        const int ticksX[3] = {kOriginX - kDepthExtentX + kLineWidth / 3,
                               kOriginX - kDepthExtentX + kLineWidth * 2 / 3,
                               kOriginX - kDepthExtentX + kLineWidth};
        for (int x : ticksX) p.drawLine(x, frontY, x, frontY + 5);
        for (int k = 0; k <= 3; ++k) {
            const int x = kImageWidth - kDepthExtentX * k / 3;
            const int y = kOriginY + kDepthExtentY * k / 3;
            p.drawLine(x, y, x + 5, y);
        }
    }
    const QString w = QString::number(width_), h = QString::number(height_);
    const QString zero = QStringLiteral("  0");
    const QString texts[4][4] = {{zero, w, zero, h}, {zero, h, w, zero}, {w, zero, h, zero},
                                 {h, zero, zero, w}};
    HoriLowLabel->setText(texts[orientation_][0]);
    HoriHighLabel->setText(texts[orientation_][1]);
    VertLowLabel->setText(texts[orientation_][2]);
    VertHighLabel->setText(texts[orientation_][3]);
}

void TShow3DForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous()) return;   // the desktop hid it (minimised), not the program
    ForgetData();
    ColorImage->Picture.fill(kWhite);
    ColorImage->update();
}
