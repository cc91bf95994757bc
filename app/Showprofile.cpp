#include "Showprofile.h"

#include "Format.h"
#include "Show2d.h"

#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

TShowProfileForm* ShowProfileForm = nullptr;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kYellow = 0xFFFFFF00u;

QPen Pen(Qt::GlobalColor colour, Qt::PenStyle style = Qt::SolidLine)
{
    QPen pen{QColor(colour)};
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setStyle(style);
    return pen;
}

}  // namespace

TShowProfileForm::TShowProfileForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ShowProfileForm"));
    setWindowTitle(QStringLiteral("Profile"));
    setFixedSize(kImageWidth, kImageHeight);

    ProfileImage = new TImageBox(kImageWidth, kImageHeight, this);
    ProfileImage->setObjectName(QStringLiteral("ProfileImage"));
    ProfileImage->move(0, 0);

    const int w = kImageWidth, h = kImageHeight, m = kMargin;
    plotLeft_ = (w - 2 * m) / 5 + m;
    plotWidth_ = (w - 2 * m) * 4 / 5;
    plotHeight_ = (h - 2 * m) * 4 / 5;

    QFont small = font();
    small.setPointSize(7);
    auto label = [&](const QString& text, int x, int y, int width, Qt::Alignment align = Qt::AlignLeft) {
        auto* l = new QLabel(text, this);
        l->setFont(small);
        l->setGeometry(x, y, width, 13);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };
    MaxLabel = label(QString(), 1, 0, 62, Qt::AlignRight);
    MaxLabel->setObjectName(QStringLiteral("MaxLabel"));
    MidLabel = label(QString(), 1, MidLineY() - 6, 62, Qt::AlignRight);
    MidLabel->setObjectName(QStringLiteral("MidLabel"));
    MinLabel = label(QString(), 1, XAxisY() - 12, 62, Qt::AlignRight);
    MinLabel->setObjectName(QStringLiteral("MinLabel"));
    HowmanyLabel = label(QStringLiteral("0"), w - 60, h - 15, 56, Qt::AlignRight);
    HowmanyLabel->setObjectName(QStringLiteral("HowmanyLabel"));
    YUnitLabel = label(QStringLiteral("( mm )"), plotLeft_ + 8, 2, 40);
    XUnitLabel = label(QStringLiteral("( pixel )"), plotLeft_ + plotWidth_ / 2 - 20, h - 15, 50);

    Redraw();
}

void TShowProfileForm::SetRange(const float* samples, int count, float max, float mid, float min)
{
    samples_ = samples;
    count_ = samples ? std::clamp(count, 0, kCapacity) : 0;
    max_ = max;
    mid_ = mid;
    min_ = min;
    ScaleProfile();
    Redraw();
}

void TShowProfileForm::SetProfile(const float* samples, int count)
{
    samples_ = samples;
    count_ = samples ? std::clamp(count, 0, kCapacity) : 0;
    ScaleProfile();
    Redraw();
}

void TShowProfileForm::ScaleProfile()
{
    const float range = max_ - min_;
    for (int i = 0; i < count_; ++i) {
        if (range == 0.0f || EmptyRange()) {
            ys_[i] = MidLineY();
            continue;
        }
        double y = plotHeight_ - plotHeight_ * double(samples_[i] - min_) / double(range) + kMargin;
        if (!(y > -kImageHeight)) y = -kImageHeight;   // also not a number
        if (y > 2 * kImageHeight) y = 2 * kImageHeight;
        ys_[i] = static_cast<int>(y);
    }
}

QPoint TShowProfileForm::CurvePoint(int i) const
{
    if (i == 0 || count_ == 0) return QPoint(plotLeft_, count_ ? ys_[0] : MidLineY());
    const float step = float(plotWidth_) / float(count_);
    return QPoint(static_cast<int>(float(i) * step) + plotLeft_, ys_[i]);
}

void TShowProfileForm::Redraw()
{
    ProfileImage->Picture.fill(kWhite);
    DrawYAxis();
    DrawXAxis();
    DrawCurve();
    ProfileImage->update();
}

void TShowProfileForm::DrawYAxis()
{
    QPainter p(&ProfileImage->Picture);
    const int x = plotLeft_, top = TopY();
    p.setPen(Pen(Qt::red));
    p.drawLine(x, XAxisY(), x, top);
    p.drawLine(x, top, x - 5, top + 5);
    p.drawLine(x, top, x + 5, top + 5);
    p.setPen(Pen(Qt::green));
    for (int y : {XAxisY(), MidLineY(), top}) p.drawLine(x, y, x - 10, y);
    const bool empty = EmptyRange();
    MaxLabel->setText(empty ? QString() : QFormat("%8.3f", double(max_)));
    MidLabel->setText(empty ? QString() : QFormat("%8.3f", double(mid_)));
    MinLabel->setText(empty ? QString() : QFormat("%8.3f", double(min_)));
    p.setPen(Pen(Qt::green, Qt::DashDotDotLine));
    p.drawLine(x, MidLineY(), x + plotWidth_, MidLineY());
}

void TShowProfileForm::DrawXAxis()
{
    QPainter p(&ProfileImage->Picture);
    const int y = XAxisY(), end = plotLeft_ + plotWidth_;
    p.setPen(Pen(Qt::red));
    p.drawLine(plotLeft_, y, end, y);
    p.drawLine(end, y, end - 5, y - 5);
    p.drawLine(end, y, end - 5, y + 5);
    p.setPen(Pen(Qt::green));
    for (int x : {plotLeft_, plotLeft_ + plotWidth_ / 3, plotLeft_ + plotWidth_ * 2 / 3, end})
        p.drawLine(x, y, x, y + 10);
    HowmanyLabel->setText(QString::number(count_));
}

void TShowProfileForm::DrawCurve()
{
    if (EmptyRange() && count_ > 0) {
        // Samples of a map without any valid pixel have no height to plot.
        DrawNoValidPixelNote(ProfileImage->Picture,
                             QRect(plotLeft_ + 1, TopY(), plotWidth_ - 1, plotHeight_ / 2 - 2));
        return;
    }
    if (count_ <= 0) return;
    std::vector<QPoint> pixels;
    QPoint from = CurvePoint(0);
    for (int i = 1; i < count_; ++i) {
        const QPoint to = CurvePoint(i);
        const std::vector<QPoint> segment = LinePixels(from, to);
        pixels.insert(pixels.end(), segment.begin(), segment.end());
        from = to;
    }
    XorPixels(ProfileImage->Picture, pixels, kYellow);
}
