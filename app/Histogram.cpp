#include "Histogram.h"

#include "Format.h"
#include "Forms.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- picture control ------------------------------------------------------------------------

THistogramPicture::THistogramPicture(int width, int height, QWidget* parent)
    : QWidget(parent), Picture(width, height, QImage::Format_RGB32)
{
    Picture.fill(Qt::white);
    setFixedSize(width, height);
    setMouseTracking(true);
}

void THistogramPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, Picture);
}

void THistogramPicture::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnMouseDown)
        RunGuarded([&] { OnMouseDown(event->position().toPoint().x(), event->position().toPoint().y()); });
}

void THistogramPicture::mouseMoveEvent(QMouseEvent* event)
{
    if (OnMouseMove)
        RunGuarded([&] { OnMouseMove(event->position().toPoint().x(), event->position().toPoint().y()); });
}

void THistogramPicture::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnMouseUp)
        RunGuarded([&] { OnMouseUp(event->position().toPoint().x(), event->position().toPoint().y()); });
}

// ---- form -----------------------------------------------------------------------------------

namespace {

QRgb RgbOf(uint32_t colour)
{
    // Colour values carry red in the low byte.
    return qRgb(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

void VerticalLine(QImage& image, int x, int y0, int y1, QRgb colour)
{
    if (x < 0 || x >= image.width())
        return;
    for (int y = std::max(0, y0); y <= std::min(image.height() - 1, y1); ++y)
        image.setPixel(x, y, colour);
}

void HorizontalLine(QImage& image, int x0, int x1, int y, QRgb colour)
{
    if (y < 0 || y >= image.height())
        return;
    for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x)
        image.setPixel(x, y, colour);
}

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);

}  // namespace

THistogramForm::THistogramForm(QWidget* owner, const int32_t* grey, const int32_t* red, const int32_t* green,
                               const int32_t* blue)
    : QDialog(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Histogram");
    given_[kGrey] = grey;
    given_[kRed] = red;
    given_[kGreen] = green;
    given_[kBlue] = blue;

    auto* layout = new QVBoxLayout(this);
    ChannelComboBox = new QComboBox(this);
    ChannelComboBox->setObjectName("ChannelComboBox");
    ChannelComboBox->addItems({"Gray Level", "Red", "Green", "Blue"});
    layout->addWidget(ChannelComboBox);
    HistogramImage = new THistogramPicture(kPlotWidth, kPlotHeight, this);
    HistogramImage->setObjectName("HistogramImage");
    HistogramImage->setCursor(Qt::CrossCursor);
    layout->addWidget(HistogramImage);
    ChannelImage = new THistogramPicture(kPlotWidth, kRulerHeight, this);
    ChannelImage->setObjectName("ChannelImage");
    layout->addWidget(ChannelImage);

    auto* labels = new QGridLayout();
    LevelLabel = new QLabel("Level:", this);
    CountLabel = new QLabel("Count:", this);
    PercentileLabel = new QLabel("Percentile:", this);
    MeanLabel = new QLabel("Mean:", this);
    StdDevLabel = new QLabel("StdDev:", this);
    MedianLabel = new QLabel("Median:", this);
    PixelsLabel = new QLabel("Pixels:", this);
    labels->addWidget(MeanLabel, 0, 0);
    labels->addWidget(LevelLabel, 0, 1);
    labels->addWidget(StdDevLabel, 1, 0);
    labels->addWidget(CountLabel, 1, 1);
    labels->addWidget(MedianLabel, 2, 0);
    labels->addWidget(PercentileLabel, 2, 1);
    labels->addWidget(PixelsLabel, 3, 0);
    layout->addLayout(labels);
    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, [this] { done(1); });
    connect(ChannelComboBox, &QComboBox::activated, this, [this] { RunGuarded([this] { ChannelComboBoxChange(); }); });
    HistogramImage->OnMouseDown = [this](int x, int y) { HistogramImageMouseDown(x, y); };
    HistogramImage->OnMouseMove = [this](int x, int y) { HistogramImageMouseMove(x, y); };
    HistogramImage->OnMouseUp = [this](int x, int y) { HistogramImageMouseUp(x, y); };

    ChannelComboBox->setCurrentIndex(0);
    ComputeStatistics();
    // The arrays are the caller's: they are copied into Bins and not kept.
    for (const int32_t*& g : given_)
        g = nullptr;

    // Screen-centred.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

int THistogramForm::Channel() const
{
    const int c = ChannelComboBox->currentIndex();
    return c >= 0 && c < kChannels ? c : kGrey;
}

int THistogramForm::LevelOfX(int x)
{
    if (x <= 0)
        x = 1;
    return std::min(x - 1, kLevels - 1);
}

uint32_t THistogramForm::ChannelColour(int channel)
{
    switch (channel) {
    case kRed: return 0x0000FF;
    case kGreen: return 0x008000;
    case kBlue: return 0xFF0000;
    default: return 0xFFFFFF;
    }
}

void THistogramForm::ComputeStatistics()
{
    for (int c = 0; c < kChannels; ++c) {
        const int32_t* n = given_[c];
        if (!n)
            continue;   // keeps MaxCount 1 and Total 0
        hasChannel_[c] = true;
        MaxCount[c] = 1;
        Total[c] = 0;
        float s = 0;
        for (int i = 0; i < kLevels; ++i) {
            Bins[c][i] = n[i];
            Total[c] += static_cast<float>(n[i]);
            if (n[i] > MaxCount[c])
                MaxCount[c] = n[i];
            s += static_cast<float>(static_cast<int64_t>(i) * n[i]);
        }
        if (Total[c] == 0)
            Total[c] = 1;
        Mean[c] = s / Total[c];
        float v = 0;
        for (int i = 0; i < kLevels; ++i) {
            const float d = static_cast<float>(i) - Mean[c];
            v += static_cast<float>(n[i]) * d * d;
        }
        StdDev[c] = std::sqrt(v / Total[c]);
        const float half = Total[c] * 0.5f;
        float running = 0;
        Median[c] = 0;
        for (int j = 0; j < kLevels; ++j) {
            running += static_cast<float>(n[j]);
            if (running >= half) {
                Median[c] = j;
                break;
            }
        }
    }
    ShowStatistics();
    DrawHistogram();
}

void THistogramForm::ShowStatistics()
{
    const int c = Channel();
    MeanLabel->setText("Mean: " + QFormat("%6.3f", static_cast<double>(Mean[c])));
    StdDevLabel->setText("StdDev: " + QFormat("%6.3f", static_cast<double>(StdDev[c])));
    MedianLabel->setText("Median: " + QString::number(Median[c]));
    PixelsLabel->setText("Pixels: " + QString::number(static_cast<int64_t>(std::trunc(Total[c] + 0.5f))));
    DrawChannelRuler(ChannelColour(c));
}

void THistogramForm::DrawChannelRuler(uint32_t colour)
{
    QImage& image = ChannelImage->Picture;
    const int h = image.height();
    const int w = image.width();
    for (int x = 1; x <= kLevels; ++x) {
        const uint32_t v = static_cast<uint32_t>(x - 1);
        uint32_t shade;
        switch (colour) {
        case 0xFFFFFF: shade = v * 0x010101u; break;
        case 0x0000FF: shade = v; break;
        case 0x008000: shade = v * 256u; break;
        default: shade = v * 65536u; break;
        }
        VerticalLine(image, x, 1, h - 2, RgbOf(shade));
    }
    HorizontalLine(image, 0, w - 1, 0, kBlack);
    HorizontalLine(image, 0, w - 1, h - 1, kBlack);
    VerticalLine(image, 0, 0, h - 1, kBlack);
    VerticalLine(image, w - 1, 0, h - 1, kBlack);
    ChannelImage->update();
}

int THistogramForm::BarTop(int32_t count, int32_t maxCount, int height)
{
    const double top = height - 1;
    const double ratio = std::log(static_cast<double>(count) + 1.0) / std::log(static_cast<double>(maxCount) + 2.0);
    return static_cast<int>(std::trunc(top - top * ratio));
}

QImage THistogramForm::PlotPicture(int low, int high) const
{
    const int c = Channel();
    QImage image(kPlotWidth, kPlotHeight, QImage::Format_RGB32);
    const int h = kPlotHeight;
    image.fill(QApplication::palette().color(QPalette::Button));
    // The frame of the rectangle (0, 0, 257, H): x 0..256, y 0..H-1.
    HorizontalLine(image, 0, kLevels, 0, kBlack);
    HorizontalLine(image, 0, kLevels, h - 1, kBlack);
    VerticalLine(image, 0, 0, h - 1, kBlack);
    VerticalLine(image, kLevels, 0, h - 1, kBlack);
    for (int i = 0; i < kLevels; ++i) {
        const int x = i + 1;
        const int top = BarTop(Bins[c][i], MaxCount[c], h);
        // A bar from the bottom up to, not including, its top: an empty level has none.
        if (i >= low && i <= high) {
            VerticalLine(image, x, 0, h - 1, kBlack);
            VerticalLine(image, x, top + 1, h - 1, kWhite);
        } else {
            VerticalLine(image, x, top + 1, h - 1, kBlack);
        }
    }
    return image;
}

void THistogramForm::DrawHistogram()
{
    HistogramImage->Picture = PlotPicture(1, 0);   // an empty selection
    HistogramImage->update();
}

void THistogramForm::DrawSelection()
{
    const int low = std::min(AnchorLevel, CurrentLevel);
    const int high = std::max(AnchorLevel, CurrentLevel);
    HistogramImage->Picture = PlotPicture(low, high);
    HistogramImage->update();
}

void THistogramForm::ShowLevelRange(int low, int high)
{
    const int c = Channel();
    low = std::clamp(low, 0, kLevels - 1);
    high = std::clamp(high, 0, kLevels - 1);
    int64_t count = 0;
    for (int i = low; i <= high; ++i)
        count += Bins[c][i];
    // A channel without counts has no total: its share is 0.
    const float share = Total[c] != 0 ? static_cast<float>(count) / Total[c] : 0.0f;
    if (Dragging) {
        LevelLabel->setText(QString("Level: %1...%2").arg(low).arg(high));
        CountLabel->setText("Count: " + QString::number(count));
    } else {
        LevelLabel->setText("Level: " + QString::number(high));
        CountLabel->setText("Count: " + QString::number(Bins[c][high]));
    }
    PercentileLabel->setText("Percentile: " + QFormat("%6.3f", static_cast<double>(share * 100.0f)));
}

void THistogramForm::ChannelComboBoxChange()
{
    ShowStatistics();
    DrawHistogram();
}

void THistogramForm::HistogramImageMouseDown(int x, int y)
{
    Dragging = true;
    CurrentLevel = AnchorLevel = LevelOfX(x);
    CurrentY = AnchorY = y;
    ShowLevelRange(CurrentLevel, CurrentLevel);
}

void THistogramForm::HistogramImageMouseMove(int x, int y)
{
    CurrentLevel = LevelOfX(x);
    CurrentY = y;
    if (Dragging) {
        ShowLevelRange(std::min(AnchorLevel, CurrentLevel), std::max(AnchorLevel, CurrentLevel));
        DrawSelection();
    } else {
        ShowLevelRange(0, CurrentLevel);
    }
}

void THistogramForm::HistogramImageMouseUp(int /*x*/, int /*y*/)
{
    Dragging = false;
    DrawHistogram();
}
