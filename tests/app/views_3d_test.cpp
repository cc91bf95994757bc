// The 3D view: the line table, the four orientations and their labels, the drawn lines,
// flat, empty and large maps.
#include "qt_environment.h"
#include "Show3d.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace qtenv;

constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

class ThreeD : public ::testing::Test {
protected:
    // A w x h map with heights x + 1000 y.
    void Make(int w, int h)
    {
        width = w;
        height = h;
        heights.assign(size_t(w) * size_t(h), 0.0f);
        mask.assign(size_t(w) * size_t(h), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) heights[size_t(y) * size_t(w) + size_t(x)] = float(x + 1000 * y);
    }
    float H(int x, int y) const { return heights[size_t(y) * size_t(width) + size_t(x)]; }
    void Load(float offset = 0.0f) { view.LoadData(heights.data(), mask.data(), width, height, offset); }
    std::vector<QString> Labels() const
    {
        return {view.HoriLowLabel->text(), view.HoriHighLabel->text(), view.VertLowLabel->text(),
                view.VertHighLabel->text()};
    }

    TShow3DForm view;
    int width = 0, height = 0;
    std::vector<float> heights;
    std::vector<uint8_t> mask;
};

TEST_F(ThreeD, FormAndLineTable)
{
    EXPECT_EQ(view.windowTitle(), "3D Color map");
    EXPECT_EQ(view.ColorImage->Picture.size(), QSize(321, 261));
    EXPECT_EQ(view.ColorRulerImage->Picture.size(), QSize(10, 73));
    EXPECT_EQ(view.ColorRulerImage->y(), 8);
    EXPECT_EQ(view.DepthLength(), 170);
    const std::array<int, 38> expected = {91, 88, 86, 84, 82, 80, 78, 76, 73, 71, 69, 67, 65,
                                          63, 61, 59, 56, 54, 52, 50, 48, 46, 44, 41, 39, 37,
                                          35, 33, 31, 29, 27, 24, 22, 20, 18, 16, 14, 12};
    EXPECT_EQ(view.LineX(), expected);
    EXPECT_EQ(view.Orientation(), 0);
    EXPECT_TRUE(view.SpeedButton[0]->isChecked());
    EXPECT_FALSE(view.BitBtn1->isVisible());
    EXPECT_EQ(view.BitBtn1->text(), ">>>");
}

TEST_F(ThreeD, Map100x50InOrientation0)
{
    Make(100, 50);
    Load();
    EXPECT_EQ(view.DepthIndex(0), 0);
    EXPECT_EQ(view.DepthIndex(37), 43);   // trunc(148 x 50 / 170)
    view.FillLine(view.DepthIndex(37));
    ASSERT_EQ(view.LineBuffer().size(), 100u);
    EXPECT_EQ(view.LineBuffer()[7], H(7, 43) - view.Range().Min);
    EXPECT_EQ(Labels(), (std::vector<QString>{"  0", "100", "  0", "50"}));
}

TEST_F(ThreeD, Map100x50InOrientation1)
{
    Make(100, 50);
    Load();
    view.SpeedButton1Click();
    EXPECT_EQ(view.Orientation(), 1);
    EXPECT_TRUE(view.SpeedButton[1]->isChecked());
    view.FillLine(view.DepthIndex(0));
    ASSERT_EQ(view.LineBuffer().size(), 50u);   // down the columns
    EXPECT_EQ(view.LineBuffer()[0], H(99, 0));  // line 0 is column 99
    EXPECT_EQ(view.LineBuffer()[49], H(99, 49));
    EXPECT_EQ(view.DepthIndex(37), 87);         // trunc(148 x 100 / 170), counted from the right
    EXPECT_EQ(Labels(), (std::vector<QString>{"  0", "50", "100", "  0"}));
}

TEST_F(ThreeD, Orientations2And3)
{
    Make(100, 50);
    Load();
    view.SpeedButton2Click();
    view.FillLine(0);
    ASSERT_EQ(view.LineBuffer().size(), 100u);
    EXPECT_EQ(view.LineBuffer()[0], H(99, 49));   // bottom row, right to left
    EXPECT_EQ(view.LineBuffer()[99], H(0, 49));
    EXPECT_EQ(Labels(), (std::vector<QString>{"100", "  0", "50", "  0"}));
    view.SpeedButton3Click();
    view.FillLine(0);
    ASSERT_EQ(view.LineBuffer().size(), 50u);
    EXPECT_EQ(view.LineBuffer()[0], H(0, 49));    // left column, bottom to top
    EXPECT_EQ(view.LineBuffer()[49], H(0, 0));
    EXPECT_EQ(Labels(), (std::vector<QString>{"50", "  0", "  0", "100"}));
}

TEST_F(ThreeD, NextOrientationWrapsAndPressesItsButton)
{
    Make(20, 10);
    Load();
    view.SpeedButton3Click();
    view.BitBtn1Click();
    EXPECT_EQ(view.Orientation(), 0);
    EXPECT_TRUE(view.SpeedButton[0]->isChecked());
    EXPECT_FALSE(view.SpeedButton[3]->isChecked());
    view.BitBtn1Click();
    EXPECT_EQ(view.Orientation(), 1);
    // The orientation survives reloading.
    Load();
    EXPECT_EQ(view.Orientation(), 1);
}

TEST_F(ThreeD, LinesRiseByHeightWithColouredTops)
{
    Make(230, 50);   // column scale 1
    std::fill(heights.begin(), heights.end(), 0.0f);
    heights[5] = 10.0f;   // row 0, column 5: the maximum
    Load();
    const QImage& p = view.ColorImage->Picture;
    // Line 0 (row 0) on baseline 81 from x 91: column 5 rises by 73 to y 8, red on top.
    EXPECT_EQ(p.pixel(96, 8), qRgb(255, 0, 0));
    EXPECT_EQ(p.pixel(96, 40), kWhite);
    // The other columns are the minimum: blue on the baseline.
    EXPECT_EQ(p.pixel(150, 81), qRgb(0, 0, 255));
    // The end columns are redrawn dotted black with their top pixel coloured again: line 1
    // starts at x 88 on baseline 85.
    EXPECT_EQ(p.pixel(88, 85), qRgb(0, 0, 255));
}

TEST_F(ThreeD, MaskedPixelSitsOnTheBaselineInTheMinColour)
{
    Make(230, 50);
    for (int x = 0; x < 230; ++x) mask[size_t(x)] = 255;   // row 0
    Load();
    const QImage& p = view.ColorImage->Picture;
    for (int x = 92; x < 319; ++x) ASSERT_EQ(p.pixel(x, 81), qRgb(0, 0, 255)) << x;
}

TEST_F(ThreeD, FlatMapDrawsFlatInTheMidColour)
{
    Make(230, 50);
    std::fill(heights.begin(), heights.end(), 4.0f);
    Load();
    const QImage& p = view.ColorImage->Picture;
    EXPECT_EQ(view.Range().Max, view.Range().Min);
    EXPECT_EQ(p.pixel(191, 81), qRgb(255, 255, 0));
    EXPECT_EQ(p.pixel(191, 80), kWhite);
    EXPECT_EQ(p.pixel(191, 60), kWhite);
    EXPECT_EQ(view.MaxColorLabel->text(), "4.000     ");
}

TEST_F(ThreeD, AllMaskedMapShowsNoScaleAndNoStack)
{
    Make(40, 30);
    std::fill(mask.begin(), mask.end(), 255);
    Load();
    EXPECT_TRUE(view.Range().Empty());
    const QImage& p = view.ColorImage->Picture;
    // No stack of blue baselines: the note stands in the stack's area instead.
    int blue = 0, dark = 0;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const QRgb c = p.pixel(x, y);
            if (c == qRgb(0, 0, 255)) ++blue;
            // Inside the stack's area, clear of the outline and the lines' dotted ends.
            if (y > 130 && y < 180 && x > 100 && x < 230 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) &&
                qRed(c) <= 96)
                ++dark;
        }
    EXPECT_EQ(blue, 0);
    EXPECT_GT(dark, 20);
    EXPECT_EQ(p.pixel(150, 60), kWhite);
    // No scale: empty labels and a white ruler; the axes keep the map's size.
    EXPECT_EQ(view.MaxColorLabel->text(), "");
    EXPECT_EQ(view.MidColorLabel->text(), "");
    EXPECT_EQ(view.MinColorLabel->text(), "");
    for (int y : {0, 36, 72}) EXPECT_EQ(view.ColorRulerImage->Picture.pixel(5, y), kWhite) << y;
    EXPECT_EQ(Labels(), (std::vector<QString>{"  0", "40", "  0", "30"}));
    EXPECT_EQ(p.pixel(241, 231), kBlack);   // the outline still drawn

    // Turning it keeps the note and the empty scale.
    view.BitBtn1Click();
    EXPECT_EQ(view.MaxColorLabel->text(), "");
    EXPECT_EQ(Labels(), (std::vector<QString>{"  0", "30", "40", "  0"}));
}

TEST_F(ThreeD, WithoutAMaskEveryPixelIsValid)
{
    Make(230, 50);
    std::fill(heights.begin(), heights.end(), 0.0f);
    heights[5] = 10.0f;
    view.LoadData(heights.data(), nullptr, width, height, 0.0f);
    EXPECT_EQ(view.Range().Max, 10.0f);
    EXPECT_EQ(view.ColorImage->Picture.pixel(96, 8), qRgb(255, 0, 0));
    view.FillLine(0);
    EXPECT_EQ(view.LineBuffer()[5], 10.0f);
}

TEST_F(ThreeD, LargeMapsFitTheLineBuffer)
{
    Make(2500, 12);
    Load();
    EXPECT_EQ(view.LineBuffer().size(), 2500u);
    view.SpeedButton1Click();
    EXPECT_EQ(view.LineBuffer().size(), 12u);
    Make(7, 4100);
    Load();
    EXPECT_EQ(view.LineBuffer().size(), 4100u);   // orientation 1: a line runs down a column
    view.SpeedButton3Click();
    view.FillLine(6);
    EXPECT_EQ(view.LineBuffer()[4099], H(6, 0));
}

TEST_F(ThreeD, AxesAndTicks)
{
    Make(20, 10);
    Load();
    const QImage& p = view.ColorImage->Picture;
    EXPECT_EQ(p.pixel(241, 231), kBlack);   // the outline's corner
    EXPECT_EQ(p.pixel(100, 231), kBlack);   // the front edge
    EXPECT_EQ(p.pixel(11, 236), kBlack);
    for (int x : {87, 164, 241}) EXPECT_EQ(p.pixel(x, 236), kBlack) << x;
    EXPECT_EQ(p.pixel(300, 131), kBlack);   // tick at (295, 131)
    EXPECT_EQ(p.pixel(273, 181), kBlack);   // tick at (268, 181)
    EXPECT_EQ(p.pixel(281, 156), kBlack);   // on the depth edge
}

TEST_F(ThreeD, RulerAndLabels)
{
    Make(20, 10);
    Load(0.5f);
    const QImage& r = view.ColorRulerImage->Picture;
    EXPECT_EQ(r.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(r.pixel(9, 36), qRgb(255, 255, 0));
    EXPECT_EQ(r.pixel(5, 72), qRgb(7, 7, 255));
    EXPECT_EQ(view.MaxColorLabel->text(), "9019.500  ");
    EXPECT_EQ(view.MinColorLabel->text(), "0.500     ");
    EXPECT_EQ(view.MidColorLabel->palette().color(QPalette::WindowText), QColor(255, 255, 0));
}

TEST_F(ThreeD, ForgettingAndHiding)
{
    Make(20, 10);
    view.show();
    Load();
    view.ForgetData();
    EXPECT_FALSE(view.HasData());
    view.SpeedButton2Click();   // redraws without reading the forgotten map
    EXPECT_EQ(view.LineBuffer().size(), 0u);
    Load();
    view.hide();
    EXPECT_FALSE(view.HasData());
    EXPECT_EQ(view.ColorImage->Picture.pixel(241, 231), kWhite);   // cleared
}

}  // namespace
