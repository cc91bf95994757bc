// The histogram window: statistics and their labels, the level, count and percentile
// under the mouse, the drag range, and the plot and ruler pictures.

#include "gui_main.h"
#include "Forms.h"
#include "Histogram.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

struct Counts {
    int32_t n[256] = {};
};

std::unique_ptr<THistogramForm> Make(const Counts& grey, const int32_t* red = nullptr)
{
    return std::make_unique<THistogramForm>(nullptr, grey.n, red ? red : grey.n, grey.n, grey.n);
}

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kWhite = 0xFFFFFF;

TEST(HistogramStatistics, TwoLevelsOfTwoPixels)
{
    Counts c;
    c.n[10] = 2;
    c.n[20] = 2;
    auto f = Make(c);
    EXPECT_EQ(f->windowTitle(), "Histogram");
    EXPECT_EQ(f->ChannelComboBox->currentIndex(), 0);
    EXPECT_EQ(f->MeanLabel->text(), "Mean: 15.000");
    EXPECT_EQ(f->StdDevLabel->text(), "StdDev:  5.000");
    EXPECT_EQ(f->MedianLabel->text(), "Median: 10");   // the running sum 2 reaches half at 10
    EXPECT_EQ(f->PixelsLabel->text(), "Pixels: 4");
    EXPECT_EQ(f->MaxCount[0], 2);
    EXPECT_FLOAT_EQ(f->Total[0], 4.0f);
    EXPECT_FLOAT_EQ(f->Mean[0], 15.0f);
    EXPECT_FLOAT_EQ(f->StdDev[0], 5.0f);
    EXPECT_EQ(f->Median[0], 10);
    EXPECT_EQ(f->Bins[0][10], 2);
    // The untouched labels keep their captions.
    EXPECT_EQ(f->LevelLabel->text(), "Level:");
    EXPECT_EQ(f->CountLabel->text(), "Count:");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile:");
}

TEST(HistogramStatistics, AllZeroCountsTakeOneAsTotal)
{
    Counts c;
    auto f = Make(c);
    EXPECT_EQ(f->MeanLabel->text(), "Mean:  0.000");
    EXPECT_EQ(f->StdDevLabel->text(), "StdDev:  0.000");
    EXPECT_EQ(f->MedianLabel->text(), "Median: 0");
    EXPECT_EQ(f->PixelsLabel->text(), "Pixels: 1");
    EXPECT_EQ(f->MaxCount[0], 1);
    f->HistogramImageMouseMove(100, 5);
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile:  0.000");
}

TEST(HistogramStatistics, MedianIsTheFirstLevelReachingHalf)
{
    Counts c;
    c.n[0] = 1;
    c.n[5] = 1;
    c.n[200] = 3;
    auto f = Make(c);
    EXPECT_EQ(f->MedianLabel->text(), "Median: 200");   // half 2.5 reached at 200
    EXPECT_EQ(f->MeanLabel->text(), "Mean: 121.000");   // (5 + 600) / 5
    EXPECT_EQ(f->PixelsLabel->text(), "Pixels: 5");
    // sqrt((121^2 + 116^2 + 3 * 79^2) / 5) = sqrt(9364) = 96.768...
    EXPECT_EQ(f->StdDevLabel->text(), "StdDev: 96.768");
}

TEST(HistogramStatistics, ChannelsAreComputedApartAndChosenByTheComboBox)
{
    Counts grey, red;
    grey.n[10] = 4;
    red.n[100] = 1;
    red.n[200] = 1;
    auto f = std::make_unique<THistogramForm>(nullptr, grey.n, red.n, nullptr, nullptr);
    EXPECT_EQ(f->MeanLabel->text(), "Mean: 10.000");
    f->ChannelComboBox->setCurrentIndex(1);
    f->ChannelComboBoxChange();
    EXPECT_EQ(f->MeanLabel->text(), "Mean: 150.000");
    EXPECT_EQ(f->StdDevLabel->text(), "StdDev: 50.000");
    EXPECT_EQ(f->MedianLabel->text(), "Median: 100");
    EXPECT_EQ(f->PixelsLabel->text(), "Pixels: 2");
    // The red ruler: level v in red only.
    EXPECT_EQ(Pixel(f->ChannelImage->Picture, 101, 5), qRgb(100, 0, 0) & 0xFFFFFF);
}

TEST(HistogramStatistics, AChannelWithoutCountsShowsZeroAndNeverDividesByZero)
{
    Counts grey;
    grey.n[3] = 5;
    auto f = std::make_unique<THistogramForm>(nullptr, grey.n, nullptr, nullptr, nullptr);
    EXPECT_FLOAT_EQ(f->Total[2], 0.0f);
    EXPECT_EQ(f->MaxCount[2], 1);
    f->ChannelComboBox->setCurrentIndex(2);
    f->ChannelComboBoxChange();
    EXPECT_EQ(f->MeanLabel->text(), "Mean:  0.000");
    EXPECT_EQ(f->PixelsLabel->text(), "Pixels: 0");
    f->HistogramImageMouseMove(50, 10);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 49");
    EXPECT_EQ(f->CountLabel->text(), "Count: 0");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile:  0.000");
    f->HistogramImageMouseDown(1, 1);
    f->HistogramImageMouseMove(200, 1);
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile:  0.000");
}

// ---- mouse ----------------------------------------------------------------------------------

TEST(HistogramMouse, LevelOfTheMouse)
{
    EXPECT_EQ(THistogramForm::LevelOfX(-5), 0);
    EXPECT_EQ(THistogramForm::LevelOfX(0), 0);
    EXPECT_EQ(THistogramForm::LevelOfX(1), 0);
    EXPECT_EQ(THistogramForm::LevelOfX(11), 10);
    EXPECT_EQ(THistogramForm::LevelOfX(256), 255);
    EXPECT_EQ(THistogramForm::LevelOfX(257), 255);
    EXPECT_EQ(THistogramForm::LevelOfX(300), 255);
}

TEST(HistogramMouse, HoverShowsTheLevelItsCountAndThePercentageAtOrBelow)
{
    Counts c;
    c.n[10] = 2;
    c.n[20] = 2;
    c.n[255] = 4;
    auto f = Make(c);
    f->HistogramImageMouseMove(11, 30);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 10");
    EXPECT_EQ(f->CountLabel->text(), "Count: 2");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile: 25.000");
    EXPECT_EQ(f->CurrentLevel, 10);
    EXPECT_EQ(f->CurrentY, 30);
    f->HistogramImageMouseMove(15, 30);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 14");
    EXPECT_EQ(f->CountLabel->text(), "Count: 0");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile: 25.000");
    f->HistogramImageMouseMove(300, 0);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 255");
    EXPECT_EQ(f->CountLabel->text(), "Count: 4");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile: 100.000");
    f->HistogramImageMouseMove(0, 0);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 0");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile:  0.000");
}

TEST(HistogramMouse, DragShowsTheRangeInRisingOrder)
{
    Counts c;
    c.n[10] = 2;
    c.n[15] = 1;
    c.n[20] = 2;
    c.n[30] = 3;
    auto f = Make(c);
    f->HistogramImageMouseDown(21, 40);
    EXPECT_TRUE(f->Dragging);
    EXPECT_EQ(f->AnchorLevel, 20);
    EXPECT_EQ(f->AnchorY, 40);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 20...20");
    EXPECT_EQ(f->CountLabel->text(), "Count: 2");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile: 25.000");
    f->HistogramImageMouseMove(11, 50);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 10...20");
    EXPECT_EQ(f->CountLabel->text(), "Count: 5");
    EXPECT_EQ(f->PercentileLabel->text(), "Percentile: 62.500");

    // The selected columns are black with white bars; the others as usual.
    const QImage& during = f->HistogramImage->Picture;
    const int h = during.height();
    EXPECT_EQ(Pixel(during, 12, 1), kBlack);        // level 11: empty, selected
    EXPECT_EQ(Pixel(during, 16, h - 2), kWhite);    // level 15's bar
    EXPECT_EQ(Pixel(during, 16, 1), kBlack);
    EXPECT_NE(Pixel(during, 31, 1), kBlack);        // level 30 outside the range
    EXPECT_EQ(Pixel(during, 31, h - 2), kBlack);

    f->HistogramImageMouseUp(11, 50);
    EXPECT_FALSE(f->Dragging);
    // The selection is gone: the plot is the plain one again.
    const QImage after = f->HistogramImage->Picture;
    f->DrawHistogram();
    EXPECT_EQ(after, f->HistogramImage->Picture);
    EXPECT_NE(Pixel(after, 12, 1), kBlack);
    // Hovering again shows single levels.
    f->HistogramImageMouseMove(31, 5);
    EXPECT_EQ(f->LevelLabel->text(), "Level: 30");
    EXPECT_EQ(f->CountLabel->text(), "Count: 3");
}

// ---- pictures -------------------------------------------------------------------------------

TEST(HistogramPictures, BarsOnALogarithmicScale)
{
    Counts c;
    c.n[0] = 0;
    c.n[10] = 7;
    c.n[100] = 1000;
    auto f = Make(c);
    const QImage& plot = f->HistogramImage->Picture;
    const int h = plot.height();
    ASSERT_EQ(h, THistogramForm::kPlotHeight);
    ASSERT_EQ(plot.width(), THistogramForm::kPlotWidth);
    // The frame.
    EXPECT_EQ(Pixel(plot, 0, 0), kBlack);
    EXPECT_EQ(Pixel(plot, 256, h - 1), kBlack);
    // An empty level has no bar.
    for (int y = 1; y < h - 1; ++y)
        ASSERT_NE(Pixel(plot, 1, y), kBlack) << y;
    // Level 10's bar reaches the top computed from the logarithms.
    const int top = int(std::trunc((h - 1) - (h - 1) * std::log(8.0) / std::log(1002.0)));
    EXPECT_EQ(THistogramForm::BarTop(7, 1000, h), top);
    EXPECT_EQ(Pixel(plot, 11, top + 1), kBlack);
    EXPECT_NE(Pixel(plot, 11, top), kBlack);
    // The largest count stops short of the top: 127 * (1 - log 1001 / log 1002) = 0.018,
    // so its bar ends below the frame's top row.
    EXPECT_EQ(THistogramForm::BarTop(1000, 1000, h), 0);
    EXPECT_EQ(Pixel(plot, 101, 1), kBlack);
    EXPECT_EQ(THistogramForm::BarTop(1, 1, h), int(std::trunc(127.0 - 127.0 * std::log(2.0) / std::log(3.0))));
}

TEST(HistogramPictures, RulerShadesPerChannel)
{
    Counts c;
    auto f = Make(c);
    const QImage& ruler = f->ChannelImage->Picture;
    EXPECT_EQ(Pixel(ruler, 1, 5), 0x000000u);
    EXPECT_EQ(Pixel(ruler, 101, 5), qRgb(100, 100, 100) & 0xFFFFFF);
    EXPECT_EQ(Pixel(ruler, 256, 5), 0xFFFFFFu);
    EXPECT_EQ(Pixel(ruler, 0, 0), kBlack);
    EXPECT_EQ(Pixel(ruler, ruler.width() - 1, ruler.height() - 1), kBlack);
    f->DrawChannelRuler(THistogramForm::ChannelColour(THistogramForm::kGreen));
    EXPECT_EQ(Pixel(ruler, 101, 5), qRgb(0, 100, 0) & 0xFFFFFF);
    f->DrawChannelRuler(THistogramForm::ChannelColour(THistogramForm::kBlue));
    EXPECT_EQ(Pixel(ruler, 101, 5), qRgb(0, 0, 100) & 0xFFFFFF);
    EXPECT_EQ(THistogramForm::ChannelColour(THistogramForm::kGrey), 0xFFFFFFu);
    EXPECT_EQ(THistogramForm::ChannelColour(THistogramForm::kRed), 0x0000FFu);
    EXPECT_EQ(THistogramForm::ChannelColour(THistogramForm::kGreen), 0x008000u);
    EXPECT_EQ(THistogramForm::ChannelColour(THistogramForm::kBlue), 0xFF0000u);
}


}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
