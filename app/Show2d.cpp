#include "Show2d.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Forms.h"
#include "Main.h"
#include "Phaseshiftmoire.h"
#include "Show3d.h"
#include "Showdata.h"
#include "Showprofile.h"

#include <QCoreApplication>
#include <QHideEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

TShow2DForm* Show2DForm = nullptr;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kYellow = 0xFFFFFF00u;

// A channel value computed in floating point, truncated toward zero and kept in 0..255.
int Channel(double c)
{
    if (!(c > 0.0)) return 0;   // also not a number
    if (c >= 255.0) return 255;
    return static_cast<int>(c);
}

QRgb StopColour(const int stop[3]) { return qRgb(stop[0], stop[1], stop[2]); }

void SetLabelColour(QLabel* label, const int stop[3])
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, QColor(stop[0], stop[1], stop[2]));
    label->setPalette(p);
}

// The marker pictures: a triangle pointing at the marker centre (8, 7) on a background
// that is see-through; Start Point from above, End Point from below.
QImage MarkerPicture(bool start)
{
    const QRgb background = qRgb(0, 128, 128);
    QImage picture(TShow2DForm::kMarkerWidth, TShow2DForm::kMarkerHeight, QImage::Format_RGB32);
    picture.fill(background);
    const QRgb edge = qRgb(0, 0, 0);
    const QRgb fill = start ? qRgb(255, 255, 255) : qRgb(255, 0, 255);
    for (int d = 0; d <= 7; ++d) {
        const int y = start ? d : 14 - d;   // rows from the far end toward the centre
        const int half = 7 - d;
        for (int x = 8 - half; x <= 8 + half; ++x)
            picture.setPixel(x, y, (x == 8 - half || x == 8 + half || d == 0) ? edge : fill);
    }
    picture.setPixel(8, 7, edge);
    return picture;
}

}  // namespace

// ---- TImageBox ------------------------------------------------------------------------

TImageBox::TImageBox(int width, int height, QWidget* parent)
    : QWidget(parent), Picture(width, height, QImage::Format_RGB32)
{
    Picture.fill(kWhite);
    setFixedSize(width, height);
}

void TImageBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!Transparent) {
        painter.drawImage(0, 0, Picture);
        return;
    }
    QImage shown = Picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < shown.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x)
            if ((row[x] | 0xFF000000u) == (TransparentColor | 0xFF000000u)) row[x] = 0;
    }
    painter.drawImage(0, 0, shown);
}

void TImageBox::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(event->button(), p.x(), p.y());
}

void TImageBox::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(event->buttons(), p.x(), p.y());
}

void TImageBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp) OnMouseUp(event->button(), p.x(), p.y());
}

// ---- ramp and lines -------------------------------------------------------------------

TMapRange ScanRange(const float* heights, const uint8_t* mask, size_t count, float offset)
{
    TMapRange range;
    if (heights)
        for (size_t i = 0; i < count; ++i) {
            if (mask && mask[i] == 255) continue;
            const float v = heights[i] + offset;
            if (v > range.Max) range.Max = v;
            if (v < range.Min) range.Min = v;
        }
    range.Mid = (range.Max + range.Min) * 0.5f;
    return range;
}

QRgb ValueToColor(float v, const TMapRange& range, const TColorStops& stops)
{
    if (range.Empty()) return StopColour(stops.Min);
    if (range.Max == range.Min) return StopColour(stops.Mid);
    int c[3];
    if (v > range.Mid) {
        const float d = range.Max - range.Mid;
        for (int k = 0; k < 3; ++k)
            c[k] = Channel(double(stops.Max[k]) * double(v - range.Mid) / double(d) +
                           double(stops.Mid[k]) * double(range.Max - v) / double(d));
    } else {
        const float d = range.Mid - range.Min;
        for (int k = 0; k < 3; ++k)
            c[k] = Channel(double(stops.Mid[k]) * double(v - range.Min) / double(d) +
                           double(stops.Min[k]) * double(range.Mid - v) / double(d));
    }
    return qRgb(c[0], c[1], c[2]);
}

QRgb RulerRowColor(int r, int height, const TColorStops& stops)
{
    const int half = height / 2;
    if (half <= 0) return StopColour(stops.Mid);
    const double h = half;
    int c[3];
    for (int k = 0; k < 3; ++k) {
        if (r <= half)
            c[k] = Channel((half - r) * stops.Max[k] / h + r * stops.Mid[k] / h);
        else
            c[k] = Channel((height - r) * stops.Mid[k] / h + (r - half) * stops.Min[k] / h);
    }
    return qRgb(c[0], c[1], c[2]);
}

void DrawRuler(QImage& ruler, const TColorStops& stops)
{
    for (int r = 0; r < ruler.height(); ++r) {
        const QRgb colour = RulerRowColor(r, ruler.height(), stops);
        QRgb* row = reinterpret_cast<QRgb*>(ruler.scanLine(r));
        for (int x = 0; x < ruler.width(); ++x) row[x] = colour;
    }
}

void DrawNoValidPixelNote(QImage& image, const QRect& area)
{
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPointSize(9);
    painter.setFont(font);
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(area, Qt::AlignCenter, QString::fromLatin1(kNoValidPixelText));
}

void DrawRangeRuler(QImage& ruler, const TMapRange& range, const TColorStops& stops)
{
    if (range.Empty())
        ruler.fill(kWhite);
    else
        DrawRuler(ruler, stops);
}

QString RangeLabelText(float value, const TMapRange& range)
{
    return range.Empty() ? QString() : QFormat("%-10.3f", double(value));
}

std::vector<QPoint> LinePixels(QPoint a, QPoint b)
{
    std::vector<QPoint> pixels;
    int x = a.x(), y = a.y();
    const int dx = std::abs(b.x() - x), dy = -std::abs(b.y() - y);
    const int sx = x < b.x() ? 1 : -1, sy = y < b.y() ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        pixels.emplace_back(x, y);
        if (x == b.x() && y == b.y()) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    return pixels;
}

void XorPixels(QImage& image, const std::vector<QPoint>& pixels, QRgb colour)
{
    std::vector<QPoint> unique(pixels);
    std::sort(unique.begin(), unique.end(), [](const QPoint& p, const QPoint& q) {
        return p.y() != q.y() ? p.y() < q.y() : p.x() < q.x();
    });
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    const QRgb bits = colour & 0x00FFFFFFu;
    for (const QPoint& p : unique) {
        if (!image.valid(p)) continue;
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(p.y()));
        row[p.x()] ^= bits;
    }
}

void XorLine(QImage& image, QPoint a, QPoint b, QRgb colour)
{
    XorPixels(image, LinePixels(a, b), colour);
}

// ---- TShow2DForm ----------------------------------------------------------------------

TShow2DForm::TShow2DForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Show2DForm"));
    setWindowTitle(QStringLiteral("2D Color map"));
    setFixedSize(402, 286);

    QFont small = font();
    small.setPointSize(7);
    auto label = [&](const QString& text, int x, int y, int w = 78) {
        auto* l = new QLabel(text, this);
        l->setFont(small);
        l->setGeometry(x, y, w, 13);
        return l;
    };

    ColorImage = new TImageBox(kMapImageWidth, kMapImageHeight, this);
    ColorImage->setObjectName(QStringLiteral("ColorImage"));
    ColorImage->move(0, 0);
    ColorImage->setMouseTracking(true);
    ColorImage->OnMouseMove = [this](Qt::MouseButtons, int x, int y) { ColorImageMouseMove(x, y); };

    UpImage = new TImageBox(kMarkerWidth, kMarkerHeight, ColorImage);
    UpImage->setObjectName(QStringLiteral("UpImage"));
    UpImage->setToolTip(QStringLiteral("Start Point"));
    UpImage->Picture = MarkerPicture(true);
    DownImage = new TImageBox(kMarkerWidth, kMarkerHeight, ColorImage);
    DownImage->setObjectName(QStringLiteral("DownImage"));
    DownImage->setToolTip(QStringLiteral("End Point"));
    DownImage->Picture = MarkerPicture(false);
    // Each marker's see-through colour is one of its own pixels.
    UpImage->Transparent = true;
    UpImage->TransparentColor = UpImage->Picture.pixel(0, 0);
    DownImage->Transparent = true;
    DownImage->TransparentColor = DownImage->Picture.pixel(12, 10);
    UpImage->move(24, 112);
    DownImage->move(272, 112);
    UpImage->setCursor(Qt::PointingHandCursor);
    DownImage->setCursor(Qt::PointingHandCursor);
    UpImage->OnMouseDown = [this](Qt::MouseButton b, int x, int y) { UpImageMouseDown(b, x, y); };
    UpImage->OnMouseMove = [this](Qt::MouseButtons, int x, int y) { UpImageMouseMove(x, y); };
    UpImage->OnMouseUp = [this](Qt::MouseButton, int x, int y) { UpImageMouseUp(x, y); };
    DownImage->OnMouseDown = [this](Qt::MouseButton b, int x, int y) { DownImageMouseDown(b, x, y); };
    DownImage->OnMouseMove = [this](Qt::MouseButtons, int x, int y) { DownImageMouseMove(x, y); };
    DownImage->OnMouseUp = [this](Qt::MouseButton, int x, int y) { DownImageMouseUp(x, y); };

    PosLabel = label(QStringLiteral("(0  , 0  )"), 326, 1);
    PosLabel->setObjectName(QStringLiteral("PosLabel"));
    Pos2Label = label(QStringLiteral("(0  , 0  )"), 326, 14);
    Pos2Label->setObjectName(QStringLiteral("Pos2Label"));
    UnitLabel = label(QStringLiteral("( mm )"), 346, 28);

    ColorRulerImage = new TImageBox(kRulerWidth, kRulerHeight, this);
    ColorRulerImage->setObjectName(QStringLiteral("ColorRulerImage"));
    ColorRulerImage->move(326, 44);
    MaxColorLabel = label(QString(), 345, 44 - 4, 57);
    MaxColorLabel->setObjectName(QStringLiteral("MaxColorLabel"));
    MidColorLabel = label(QString(), 345, 44 + kRulerHeight / 2 - 6, 57);
    MidColorLabel->setObjectName(QStringLiteral("MidColorLabel"));
    MinColorLabel = label(QString(), 345, 44 + kRulerHeight - 10, 57);
    MinColorLabel->setObjectName(QStringLiteral("MinColorLabel"));

    // FormCreate: the marker line is drawn once (XOR) and stays drawn from then on.
    DrawMarkerLine();
    TPhaseShiftMoire::SetPlanesChanged(&ResultViewPlanesChanged);
}

TShow2DForm::~TShow2DForm()
{
    if (Show2DForm == this) Show2DForm = nullptr;
}

QPoint TShow2DForm::StartCentre() const
{
    return QPoint(UpImage->x() + kMarkerWidth / 2, UpImage->y() + kMarkerHeight / 2);
}

QPoint TShow2DForm::EndCentre() const
{
    return QPoint(DownImage->x() + kMarkerWidth / 2, DownImage->y() + kMarkerHeight / 2);
}

void TShow2DForm::LoadData(const float* heights, const uint8_t* mask, int32_t width,
                           int32_t height, float offset)
{
    const bool usable = heights && width > 0 && height > 0;
    heights_ = usable ? heights : nullptr;
    mask_ = usable ? mask : nullptr;
    width_ = usable ? width : 0;
    height_ = usable ? height : 0;
    offset_ = offset;
    xScale_ = float(width_) / float(kMapImageWidth);
    yScale_ = float(height_) / float(kMapImageHeight);
    range_ = ScanRange(heights_, mask_, size_t(width_) * size_t(height_), offset_);
    DrawMap();
    SampleProfile();
    if (ShowProfileForm) {
        ShowProfileForm->SetRange(profile_.data(), profileCount_, range_.Max, range_.Mid,
                                  range_.Min);
        ShowProfileForm->SetProfile(profile_.data(), profileCount_);
    }
}

void TShow2DForm::ForgetData()
{
    heights_ = nullptr;
    mask_ = nullptr;
    width_ = height_ = 0;
    xScale_ = yScale_ = 0.0f;
}

void TShow2DForm::DrawMap()
{
    QImage& picture = ColorImage->Picture;
    picture.fill(kWhite);
    // The map is stretched onto the rectangle (0, 0)-(width - 1, height - 1) of the image,
    // its right and bottom edges exclusive; each image pixel shows the map pixel under it.
    const int dw = kMapImageWidth - 1, dh = kMapImageHeight - 1;
    if (heights_) {
        for (int dy = 0; dy < dh; ++dy) {
            const int sy = int(int64_t(dy) * height_ / dh);
            QRgb* row = reinterpret_cast<QRgb*>(picture.scanLine(dy));
            for (int dx = 0; dx < dw; ++dx) {
                const int sx = int(int64_t(dx) * width_ / dw);
                const size_t i = size_t(sy) * size_t(width_) + size_t(sx);
                row[dx] = (mask_ && mask_[i] == 255) ? kWhite : ValueToColor(heights_[i] + offset_);
            }
        }
        if (range_.Empty()) DrawNoValidPixelNote(picture, QRect(0, 0, dw, dh));
    }
    DrawMarkerLine();
    DrawColorRuler();
}

void TShow2DForm::DrawColorRuler()
{
    DrawRangeRuler(ColorRulerImage->Picture, range_, stops_);
    ColorRulerImage->update();
    MaxColorLabel->setText(RangeLabelText(range_.Max, range_));
    MidColorLabel->setText(RangeLabelText(range_.Mid, range_));
    MinColorLabel->setText(RangeLabelText(range_.Min, range_));
    SetLabelColour(MaxColorLabel, stops_.Max);
    SetLabelColour(MidColorLabel, stops_.Mid);
    SetLabelColour(MinColorLabel, stops_.Min);
}

void TShow2DForm::DrawMarkerLine()
{
    XorLine(ColorImage->Picture, StartCentre(), EndCentre(), kYellow);
    ColorImage->update();
}

void TShow2DForm::SampleProfile()
{
    if (!heights_) {
        profileCount_ = 0;
        return;
    }
    auto mapX = [this](int x) { return std::clamp(int(float(x) * xScale_), 0, width_ - 1); };
    auto mapY = [this](int y) { return std::clamp(int(float(y) * yScale_), 0, height_ - 1); };
    const QPoint s = StartCentre(), e = EndCentre();
    const int x1 = mapX(s.x()), y1 = mapY(s.y()), x2 = mapX(e.x()), y2 = mapY(e.y());
    const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    const int count = int(std::sqrt(double(dx) * dx + double(dy) * dy));
    if (count >= kProfileCapacity) throw EAppError("profile buufer is not enough");

    auto sample = [this](int x, int y) {
        const size_t i = size_t(y) * size_t(width_) + size_t(x);
        return (mask_ && mask_[i] == 255) ? range_.Mid : heights_[i] + offset_;
    };
    // Mend: sample i lies i / count of the way along the drawn segment, never past its end.
    // (Stepping one pixel along the longer axis count times overran the end marker on a
    // slanted line.) Positions are truncated, in whole-number arithmetic so that a
    // horizontal or vertical line steps exactly one pixel per sample.
    auto along = [count](int from, int to, int i) {
        const int64_t num = int64_t(i) * (to - from);
        int64_t q = num / count;
        if (num % count != 0 && num < 0) --q;   // floor: the position itself is truncated
        return from + int(q);
    };
    profile_[0] = sample(x1, y1);
    for (int i = 1; i < count; ++i) {
        const int x = std::clamp(along(x1, x2, i), 0, width_ - 1);
        const int y = std::clamp(along(y1, y2, i), 0, height_ - 1);
        profile_[i] = sample(x, y);
    }
    profileCount_ = count;
}

void TShow2DForm::MarkerDown(TImageBox*, Qt::MouseButton button, int x, int y)
{
    if (button == Qt::LeftButton) dragging_ = true;
    down_ = QPoint(x, y);
}

void TShow2DForm::MoveMarker(TImageBox* marker, int x, int y)
{
    const int left = std::clamp(marker->x() + x - down_.x(), 0, kMapImageWidth - kMarkerWidth - 1);
    const int top = std::clamp(marker->y() + y - down_.y(), 0, kMapImageHeight - kMarkerHeight - 1);
    marker->move(left, top);
}

void TShow2DForm::MarkerMove(TImageBox* marker, int x, int y)
{
    if (!dragging_) return;
    DrawMarkerLine();
    MoveMarker(marker, x, y);
    DrawMarkerLine();
    if (ShowProfileForm && ShowProfileForm->isVisible()) {
        try {
            SampleProfile();
        } catch (const EAppError& e) {
            // The box takes the mouse: the drag ends here rather than follow a released button.
            dragging_ = false;
            ShowMessage(QString::fromUtf8(e.what()));
            return;
        }
        ShowProfileForm->SetProfile(profile_.data(), profileCount_);
    }
}

void TShow2DForm::MarkerUp(TImageBox* marker, int x, int y)
{
    DrawMarkerLine();
    MoveMarker(marker, x, y);
    DrawMarkerLine();
    dragging_ = false;
}

void TShow2DForm::UpImageMouseDown(Qt::MouseButton button, int x, int y) { MarkerDown(UpImage, button, x, y); }
void TShow2DForm::UpImageMouseMove(int x, int y) { MarkerMove(UpImage, x, y); }
void TShow2DForm::UpImageMouseUp(int x, int y) { MarkerUp(UpImage, x, y); }
void TShow2DForm::DownImageMouseDown(Qt::MouseButton button, int x, int y) { MarkerDown(DownImage, button, x, y); }
void TShow2DForm::DownImageMouseMove(int x, int y) { MarkerMove(DownImage, x, y); }
void TShow2DForm::DownImageMouseUp(int x, int y) { MarkerUp(DownImage, x, y); }

void TShow2DForm::ColorImageMouseMove(int x, int y)
{
    PosLabel->setText(QFormat("(%3d, %3d)", x, y));
    const int a = int(float(x) * xScale_), b = int(float(y) * yScale_);
    Pos2Label->setText(QFormat("(%3d, %3d)", a, b));
    if (ShowDataForm && ShowDataForm->isVisible()) ShowDataForm->ShowNeighbourhood(a, b);
}

void TShow2DForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous()) return;   // the desktop hid it (minimised), not the program
    if (ShowProfileForm) ShowProfileForm->hide();
    if (ShowDataForm) ShowDataForm->hide();
    ForgetData();
}

void ResultViewPlanesChanged()
{
    if (Show2DForm) Show2DForm->ForgetData();
    if (Show3DForm) Show3DForm->ForgetData();
    if (ShowDataForm) ShowDataForm->ForgetData();
    // One reload for however many planes the running command replaces.
    static bool pending = false;
    if (pending || !QCoreApplication::instance()) return;
    pending = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        pending = false;
        if (MainForm) RunGuarded([] { MainForm->RefreshResultViews(); });
    });
}
