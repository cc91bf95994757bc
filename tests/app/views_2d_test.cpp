// The 2D colour map and the profile view: the colour ramp and ruler, the map image, marker
// dragging, profile sampling, the position read-out and the profile plot.
#include "qt_environment.h"
#include "Show2d.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Showdata.h"
#include "Showprofile.h"
#include "bench.h"
#include "registry.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace qtenv;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << "(" << c.r << "," << c.g << "," << c.b << ")"; }
Rgb Of(QRgb c) { return {qRed(c), qGreen(c), qBlue(c)}; }

TMapRange Range(float max, float min) { return TMapRange{max, min, (max + min) * 0.5f}; }

// Pixels of area that are grey at most 96 (text drawn in black, antialiased).
int DarkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) && qRed(c) <= 96) ++n;
        }
    return n;
}

// Pixels touched by a yellow XOR curve on white: blue (0, 0, 255).
int YellowishPixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == qRgb(0, 0, 255)) ++n;
    return n;
}

// ---- colour ramp and ruler ------------------------------------------------------------------

TEST(ColorRamp, StopsAreExact)
{
    const TColorStops stops;
    const TMapRange r = Range(10.0f, -10.0f);
    EXPECT_EQ(Of(ValueToColor(10.0f, r, stops)), (Rgb{255, 0, 0}));
    EXPECT_EQ(Of(ValueToColor(0.0f, r, stops)), (Rgb{255, 255, 0}));   // mid takes the lower segment
    EXPECT_EQ(Of(ValueToColor(-10.0f, r, stops)), (Rgb{0, 0, 255}));
    EXPECT_EQ(Of(ValueToColor(5.0f, r, stops)), (Rgb{255, 127, 0}));
    EXPECT_EQ(Of(ValueToColor(-5.0f, r, stops)), (Rgb{127, 127, 127}));
    EXPECT_EQ(qGreen(ValueToColor(0.001f, r, stops)), 254);   // just above mid: nearly yellow
    EXPECT_EQ(qBlue(ValueToColor(0.001f, r, stops)), 0);
}

TEST(ColorRamp, StopsAreExactForAwkwardRanges)
{
    const TColorStops stops;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
    for (int i = 0; i < 2000; ++i) {
        float a = d(rng), b = d(rng) / 1000.0f;
        if (a == b) continue;
        const TMapRange r = Range(std::max(a, b), std::min(a, b));
        ASSERT_EQ(Of(ValueToColor(r.Max, r, stops)), (Rgb{255, 0, 0})) << r.Max << " " << r.Min;
        ASSERT_EQ(Of(ValueToColor(r.Mid, r, stops)), (Rgb{255, 255, 0})) << r.Max << " " << r.Min;
        ASSERT_EQ(Of(ValueToColor(r.Min, r, stops)), (Rgb{0, 0, 255})) << r.Max << " " << r.Min;
    }
}

TEST(ColorRamp, FlatAndEmptyRangesNeverDivideByZero)
{
    const TColorStops stops;
    EXPECT_EQ(Of(ValueToColor(3.0f, Range(3.0f, 3.0f), stops)), (Rgb{255, 255, 0}));
    EXPECT_EQ(Of(ValueToColor(0.0f, TMapRange{}, stops)), (Rgb{0, 0, 255}));
    // Values outside the range keep within 0..255.
    EXPECT_EQ(Of(ValueToColor(30.0f, Range(10.0f, -10.0f), stops)), (Rgb{255, 0, 0}));
    EXPECT_EQ(Of(ValueToColor(-30.0f, Range(10.0f, -10.0f), stops)), (Rgb{0, 0, 255}));
    EXPECT_EQ(Of(ValueToColor(std::nanf(""), Range(10.0f, -10.0f), stops)), (Rgb{0, 0, 0}));
}

TEST(ColorRamp, RulerRowsOf217)
{
    const TColorStops s;
    EXPECT_EQ(Of(RulerRowColor(0, 217, s)), (Rgb{255, 0, 0}));
    EXPECT_EQ(Of(RulerRowColor(54, 217, s)), (Rgb{255, 127, 0}));
    EXPECT_EQ(Of(RulerRowColor(107, 217, s)), (Rgb{255, 252, 0}));
    EXPECT_EQ(Of(RulerRowColor(108, 217, s)), (Rgb{255, 255, 0}));
    EXPECT_EQ(Of(RulerRowColor(109, 217, s)), (Rgb{255, 255, 2}));
    EXPECT_EQ(Of(RulerRowColor(162, 217, s)), (Rgb{129, 129, 127}));
    EXPECT_EQ(Of(RulerRowColor(216, 217, s)), (Rgb{2, 2, 255}));
    // The 3D view's ruler of 73 rows (half 36).
    EXPECT_EQ(Of(RulerRowColor(36, 73, s)), (Rgb{255, 255, 0}));
    EXPECT_EQ(Of(RulerRowColor(72, 73, s)), (Rgb{7, 7, 255}));

    QImage ruler(17, 217, QImage::Format_RGB32);
    DrawRuler(ruler, s);
    for (int r = 0; r < 217; ++r)
        for (int x = 0; x < 17; ++x) ASSERT_EQ(ruler.pixel(x, r), RulerRowColor(r, 217, s)) << r;
}

TEST(XorDrawing, DrawingTwiceRestoresAndEveryPixelFlipsOnce)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    const QImage before = image.copy();
    std::vector<QPoint> pixels = LinePixels({2, 3}, {37, 20});
    EXPECT_EQ(pixels.front(), QPoint(2, 3));
    EXPECT_EQ(pixels.back(), QPoint(37, 20));
    EXPECT_EQ(pixels.size(), 36u);   // one per column of the longer axis
    // A repeated pixel still flips once.
    pixels.push_back({2, 3});
    pixels.push_back({-1, 5});   // outside: skipped
    XorPixels(image, pixels, qRgb(255, 255, 0));
    EXPECT_EQ(Of(image.pixel(2, 3)), (Rgb{10 ^ 255, 200 ^ 255, 30}));
    XorPixels(image, pixels, qRgb(255, 255, 0));
    EXPECT_EQ(image, before);
}

TEST(ScanRange, MaskedPixelsSkippedOffsetIncluded)
{
    const float h[4] = {1.0f, 5.0f, -3.0f, 100.0f};
    const uint8_t m[4] = {0, 0, 0, 255};
    const TMapRange r = ScanRange(h, m, 4, 0.5f);
    EXPECT_EQ(r.Max, 5.5f);
    EXPECT_EQ(r.Min, -2.5f);
    EXPECT_EQ(r.Mid, 1.5f);
    const TMapRange all = ScanRange(h, nullptr, 4, 0.0f);
    EXPECT_EQ(all.Max, 100.0f);
    const uint8_t none[4] = {255, 255, 255, 255};
    const TMapRange empty = ScanRange(h, none, 4, 0.0f);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Max, -1.0e10f);
    EXPECT_EQ(empty.Min, 1.0e10f);
    EXPECT_EQ(empty.Mid, 0.0f);
}

// ---- the 2D form ----------------------------------------------------------------------------

class TwoD : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShowProfileForm = &profile;
        ShowDataForm = &grid;
        Show2DForm = &view;
        SetDialogs(&dialogs);
    }
    void TearDown() override
    {
        SetDialogs(nullptr);
        ShowProfileForm = nullptr;
        ShowDataForm = nullptr;
        Show2DForm = nullptr;
    }
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
    void Load(float offset = 0.0f, bool withMask = true)
    {
        view.LoadData(heights.data(), withMask ? mask.data() : nullptr, width, height, offset);
    }
    // Drags a marker by (dx, dy) with the left button: down at (5, 5), one move, up in place.
    void Drag(bool start, int dx, int dy)
    {
        if (start) {
            view.UpImageMouseDown(Qt::LeftButton, 5, 5);
            view.UpImageMouseMove(5 + dx, 5 + dy);
            view.UpImageMouseUp(5, 5);
        } else {
            view.DownImageMouseDown(Qt::LeftButton, 5, 5);
            view.DownImageMouseMove(5 + dx, 5 + dy);
            view.DownImageMouseUp(5, 5);
        }
    }
    // Places the marker centres at the given screen points.
    void Place(QPoint start, QPoint end)
    {
        const QPoint s = view.StartCentre(), e = view.EndCentre();
        Drag(true, start.x() - s.x(), start.y() - s.y());
        Drag(false, end.x() - e.x(), end.y() - e.y());
        ASSERT_EQ(view.StartCentre(), start);
        ASSERT_EQ(view.EndCentre(), end);
    }

    TScriptedDialogs dialogs;
    TShowProfileForm profile;
    TShowDataForm grid;
    TShow2DForm view;
    int width = 0, height = 0;
    std::vector<float> heights;
    std::vector<uint8_t> mask;
};

TEST_F(TwoD, FormLayout)
{
    EXPECT_EQ(view.windowTitle(), "2D Color map");
    EXPECT_EQ(view.size(), QSize(402, 286));
    EXPECT_EQ(view.ColorImage->Picture.size(), QSize(321, 286));
    EXPECT_EQ(view.ColorRulerImage->Picture.size(), QSize(17, 217));
    EXPECT_EQ(view.UpImage->size(), QSize(17, 15));
    EXPECT_EQ(view.UpImage->pos(), QPoint(24, 112));
    EXPECT_EQ(view.DownImage->pos(), QPoint(272, 112));
    EXPECT_EQ(view.StartCentre(), QPoint(32, 119));
    EXPECT_EQ(view.EndCentre(), QPoint(280, 119));
    EXPECT_EQ(view.PosLabel->text(), "(0  , 0  )");
    EXPECT_EQ(view.Pos2Label->text(), "(0  , 0  )");
    EXPECT_EQ(view.UnitLabel->text(), "( mm )");
    EXPECT_EQ(view.UpImage->TransparentColor, view.UpImage->Picture.pixel(0, 0));
    EXPECT_EQ(view.DownImage->TransparentColor, view.DownImage->Picture.pixel(12, 10));
}

TEST_F(TwoD, MapImageColoursMaskedWhiteAndRulerLabels)
{
    Make(321, 286);
    mask[size_t(10 * 321 + 200)] = 255;
    Load(0.5f);
    const TMapRange& r = view.Range();
    EXPECT_EQ(r.Max, H(320, 285) + 0.5f);
    EXPECT_EQ(r.Min, 0.5f);
    const QImage& p = view.ColorImage->Picture;
    EXPECT_EQ(Of(p.pixel(200, 10)), (Rgb{255, 255, 255}));
    EXPECT_EQ(p.pixel(5, 5), view.ValueToColor(H(5, 5) + 0.5f));
    EXPECT_EQ(Of(p.pixel(0, 0)), (Rgb{0, 0, 255}));   // the minimum
    // The stretch covers (0, 0)-(width - 1, height - 1) exclusive: the last column and row stay blank.
    EXPECT_EQ(Of(p.pixel(320, 100)), (Rgb{255, 255, 255}));
    EXPECT_EQ(Of(p.pixel(100, 285)), (Rgb{255, 255, 255}));
    EXPECT_EQ(view.MaxColorLabel->text(), "285320.500");
    EXPECT_EQ(view.MidColorLabel->text(), "142660.500");
    EXPECT_EQ(view.MinColorLabel->text(), "0.500     ");
    EXPECT_EQ(view.MaxColorLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(view.MinColorLabel->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(view.ColorRulerImage->Picture.pixel(3, 108), qRgb(255, 255, 0));
}

TEST_F(TwoD, MarkerLineIsDrawnInXorOverTheMap)
{
    Make(321, 286);
    Load();
    const QImage& p = view.ColorImage->Picture;
    // Row 119 from the start centre (32) to the end centre (280).
    const QRgb under = view.ValueToColor(H(100, 119));
    EXPECT_EQ(p.pixel(100, 119), under ^ 0x00FFFF00u);
    EXPECT_EQ(p.pixel(100, 118), view.ValueToColor(H(100, 118)));
    // Dragging a marker away and back restores the picture exactly.
    const QImage before = p.copy();
    Drag(true, 40, 60);
    EXPECT_NE(p, before);
    Drag(true, -40, -60);
    EXPECT_EQ(p, before);
}

TEST_F(TwoD, AllMaskedMapIsWhiteWithTheEmptyRange)
{
    Make(50, 40);
    std::fill(mask.begin(), mask.end(), 255);
    profile.show();
    Load();
    const QImage& p = view.ColorImage->Picture;
    EXPECT_EQ(Of(p.pixel(10, 10)), (Rgb{255, 255, 255}));
    EXPECT_EQ(Of(p.pixel(300, 250)), (Rgb{255, 255, 255}));
    // No scale: the labels are empty and the ruler is white, not a range of +-1e10.
    EXPECT_EQ(view.MaxColorLabel->text(), "");
    EXPECT_EQ(view.MidColorLabel->text(), "");
    EXPECT_EQ(view.MinColorLabel->text(), "");
    EXPECT_EQ(view.ColorRulerImage->Picture.pixel(3, 0), qRgb(255, 255, 255));
    EXPECT_EQ(view.ColorRulerImage->Picture.pixel(3, 108), qRgb(255, 255, 255));
    EXPECT_EQ(view.ColorRulerImage->Picture.pixel(3, 216), qRgb(255, 255, 255));
    // The note sits in the middle band of the map, in dark grey or black.
    EXPECT_GT(DarkPixels(p, QRect(0, 125, 321, 35)), 20);
    EXPECT_EQ(DarkPixels(p, QRect(0, 0, 321, 90)), 0);
    ASSERT_GT(view.ProfileCount(), 0);
    for (int i = 0; i < view.ProfileCount(); ++i) ASSERT_EQ(view.Profile()[i], 0.0f);
    // The profile view: no y labels, no curve, the note in the plot.
    EXPECT_TRUE(profile.EmptyRange());
    EXPECT_EQ(profile.MaxLabel->text(), "");
    EXPECT_EQ(profile.MidLabel->text(), "");
    EXPECT_EQ(profile.MinLabel->text(), "");
    EXPECT_EQ(profile.HowmanyLabel->text(), QString::number(view.ProfileCount()));
    for (int i = 0; i < profile.Count(); ++i) ASSERT_EQ(profile.ScreenY(i), 75) << i;
    const QImage& plot = profile.ProfileImage->Picture;
    EXPECT_EQ(YellowishPixels(plot), 0);
    EXPECT_GT(DarkPixels(plot, QRect(76, 6, 282, 68)), 20);

    // A map with valid pixels again brings the scale back.
    std::fill(mask.begin(), mask.end(), 0);
    Load();
    EXPECT_EQ(view.MaxColorLabel->text(), "39049.000 ");
    EXPECT_EQ(view.MinColorLabel->text(), "0.000     ");
    EXPECT_EQ(view.ColorRulerImage->Picture.pixel(3, 108), qRgb(255, 255, 0));
    EXPECT_EQ(DarkPixels(view.ColorImage->Picture, QRect(0, 125, 321, 35)), 0);
    EXPECT_FALSE(profile.EmptyRange());
    EXPECT_FALSE(profile.MaxLabel->text().isEmpty());
    EXPECT_EQ(DarkPixels(profile.ProfileImage->Picture, QRect(76, 6, 282, 68)), 0);
}

TEST_F(TwoD, AllMaskedMapKeepsItsNoteWhileMarkersMove)
{
    Make(50, 40);
    std::fill(mask.begin(), mask.end(), 255);
    Load();
    const QImage before = view.ColorImage->Picture.copy();
    Drag(true, 0, 10);
    Drag(true, 0, -10);
    EXPECT_EQ(view.ColorImage->Picture, before);
    EXPECT_EQ(view.MaxColorLabel->text(), "");
}

TEST_F(TwoD, FlatMapDrawsInTheMidColourOnTheMidLine)
{
    Make(64, 48);
    std::fill(heights.begin(), heights.end(), 2.5f);
    Load();
    EXPECT_EQ(view.Range().Max, view.Range().Min);
    EXPECT_EQ(Of(view.ColorImage->Picture.pixel(10, 10)), (Rgb{255, 255, 0}));
    ASSERT_GT(profile.Count(), 1);
    for (int i = 0; i < profile.Count(); ++i) ASSERT_EQ(profile.ScreenY(i), 75) << i;
}

TEST_F(TwoD, WithoutAMaskEveryPixelIsValid)
{
    Make(321, 286);
    Load(0.0f, /*withMask*/ false);
    EXPECT_EQ(view.Range().Max, H(320, 285));
    EXPECT_EQ(view.ColorImage->Picture.pixel(7, 9), view.ValueToColor(H(7, 9)));
    EXPECT_EQ(view.ProfileCount(), 248);
}

TEST_F(TwoD, MarkersClampAtTheMapEdges)
{
    Make(321, 286);
    Load();
    Drag(true, -500, -500);
    EXPECT_EQ(view.UpImage->pos(), QPoint(0, 0));
    Drag(true, 1000, 1000);
    EXPECT_EQ(view.UpImage->pos(), QPoint(321 - 17 - 1, 286 - 15 - 1));
    Drag(false, 1000, -1000);
    EXPECT_EQ(view.DownImage->pos(), QPoint(303, 0));
    EXPECT_FALSE(view.Dragging());
}

TEST_F(TwoD, OnlyTheLeftButtonDrags)
{
    Make(321, 286);
    Load();
    view.UpImageMouseDown(Qt::RightButton, 5, 5);
    EXPECT_FALSE(view.Dragging());
    view.UpImageMouseMove(50, 50);
    EXPECT_EQ(view.UpImage->pos(), QPoint(24, 112));   // moves only while dragging
    view.UpImageMouseUp(8, 9);                         // the button-up moves it once
    EXPECT_EQ(view.UpImage->pos(), QPoint(27, 116));
    view.UpImageMouseDown(Qt::LeftButton, 5, 5);
    EXPECT_TRUE(view.Dragging());
    view.UpImageMouseUp(5, 5);
    EXPECT_FALSE(view.Dragging());
}

TEST_F(TwoD, HorizontalLineOf100PixelsGives100Samples)
{
    Make(321, 286);   // scales 1.0
    Load();
    Place({32, 119}, {132, 119});
    view.SampleProfile();
    ASSERT_EQ(view.ProfileCount(), 100);
    EXPECT_EQ(view.Profile()[0], H(32, 119));
    EXPECT_EQ(view.Profile()[99], H(131, 119));   // the pixel before the end marker
    // Right to left too.
    Place({200, 50}, {100, 50});
    view.SampleProfile();
    ASSERT_EQ(view.ProfileCount(), 100);
    EXPECT_EQ(view.Profile()[0], H(200, 50));
    EXPECT_EQ(view.Profile()[99], H(101, 50));
}

// Each sample of a slanted line is the map's value at a pixel of the drawn segment: sample i
// lies i / count of the way along it from the start marker (count: the length, truncated),
// within a pixel's diagonal (positions are truncated), so the last lies by the end marker.
TEST_F(TwoD, SlantedLinesAreSampledAlongTheDrawnSegment)
{
    Make(321, 286);   // scales 1.0; a height names its pixel: x + 1000 y
    Load();
    struct Line {
        QPoint a, b;
        int count;
    };
    const Line lines[] = {{{32, 119}, {62, 159}, 50},     // 30 x 40: steeper than 45 degrees
                          {{32, 119}, {72, 149}, 50},     // 40 x 30
                          {{250, 200}, {40, 20}, 276},    // up and to the left
                          {{20, 270}, {300, 10}, 382}};   // across the whole map
    for (const Line& l : lines) {
        SCOPED_TRACE(QString("(%1, %2) to (%3, %4)").arg(l.a.x()).arg(l.a.y()).arg(l.b.x()).arg(l.b.y()).toStdString());
        Place(l.a, l.b);
        view.SampleProfile();
        ASSERT_EQ(view.ProfileCount(), l.count);
        const double dx = l.b.x() - l.a.x(), dy = l.b.y() - l.a.y(), length = std::hypot(dx, dy);
        for (int i = 0; i < l.count; ++i) {
            const int v = int(view.Profile()[i]);
            const double px = v % 1000 - l.a.x(), py = v / 1000 - l.a.y();
            ASSERT_NEAR((px * dx + py * dy) / length, i * length / l.count, std::sqrt(2.0)) << "sample " << i;
            ASSERT_LE(std::fabs(px * dy - py * dx) / length, std::sqrt(2.0)) << "sample " << i;
        }
    }
    // The first line exactly: from the start pixel to the pixel before the end marker.
    Place({32, 119}, {62, 159});
    view.SampleProfile();
    EXPECT_EQ(view.Profile()[0], H(32, 119));
    EXPECT_EQ(view.Profile()[49], H(61, 158));
}

// A line dragged slantwise across the bench's step scene: the profile drops off the terrace
// where the drawn line leaves it (not where a row-by-row walk would), and its last samples
// are the plain the map shows beyond.
TEST_F(TwoD, DiagonalProfileLeavesTheStepWhereTheLineDoes)
{
    qsrf::registry::ScopedProcessBackend settings(std::make_shared<qsrf::registry::MemoryBackend>());
    bench::reset();
    bench::setScene(bench::Scene::Step);
    Make(bench::kFrameWidth, bench::kFrameHeight);
    const std::vector<double> step = bench::trueHeightMap(width, height);   // µm
    for (size_t i = 0; i < step.size(); ++i) heights[i] = float(step[i] / 1000.0);
    bench::reset();
    Load();
    Place({32, 116}, {150, 262});
    view.SampleProfile();
    // The segment in map pixels, as the view maps the marker centres.
    const int x1 = int(32 * view.XScale()), y1 = int(116 * view.YScale());
    const int x2 = int(150 * view.XScale()), y2 = int(262 * view.YScale());
    const int count = int(std::hypot(x2 - x1, y2 - y1));
    ASSERT_EQ(view.ProfileCount(), count);
    ASSERT_GT(H(x1, y1), 0.05f);   // it starts on the terrace
    int plain = y1;                // the first row below the terrace
    while (H(0, plain) > 0.05f) ++plain;
    ASSERT_LT(plain, y2);
    const double crossing = double(plain - y1) / double(y2 - y1) * count;
    int edge = 0;
    while (edge < count && view.Profile()[edge] > 0.05f) ++edge;
    EXPECT_NEAR(edge, crossing, 1.0);
    for (int i = count * 4 / 5; i < count; ++i) ASSERT_EQ(view.Profile()[i], H(x2 - 1, y2 - 1)) << i;
    EXPECT_EQ(H(x2 - 1, y2 - 1), 0.0f);
}

TEST_F(TwoD, SamplesAreClampedAtTheMapBorder)
{
    Make(321, 286);
    Load();
    Place({8, 270}, {40, 277});   // 32 x 7: length 32; the line runs on within the map
    view.SampleProfile();
    ASSERT_EQ(view.ProfileCount(), 32);
    EXPECT_EQ(view.Profile()[31], H(39, 276));
    Place({300, 7}, {310, 277});   // 10 x 270: length 270 stepping along y
    view.SampleProfile();
    ASSERT_EQ(view.ProfileCount(), 270);
    EXPECT_EQ(view.Profile()[269], H(309, 276));
}

TEST_F(TwoD, MaskedSamplesTakeTheMid)
{
    Make(321, 286);
    mask[size_t(119 * 321 + 40)] = 255;
    Load();
    Place({32, 119}, {132, 119});
    view.SampleProfile();
    EXPECT_EQ(view.Profile()[8], view.Range().Mid);
    EXPECT_EQ(view.Profile()[9], H(41, 119));
}

TEST_F(TwoD, MarkersOnOnePixelGiveAnEmptyProfile)
{
    Make(321, 286);
    Load();
    profile.show();
    Place({100, 100}, {100, 100});
    EXPECT_EQ(view.ProfileCount(), 0);
    EXPECT_EQ(profile.Count(), 0);
    EXPECT_EQ(profile.HowmanyLabel->text(), "0");
}

TEST_F(TwoD, DraggingFeedsTheVisibleProfileView)
{
    Make(321, 286);
    Load();
    EXPECT_EQ(profile.Count(), 248);
    Drag(false, -100, 0);   // profile hidden: not sampled again
    EXPECT_EQ(profile.Count(), 248);
    profile.show();
    view.DownImageMouseDown(Qt::LeftButton, 5, 5);
    view.DownImageMouseMove(-45, 5);
    EXPECT_EQ(profile.Count(), 98);
    EXPECT_EQ(profile.HowmanyLabel->text(), "98");
    view.DownImageMouseUp(5, 5);
}

TEST_F(TwoD, TooLongALineRaisesAfterTheMapIsDrawn)
{
    Make(2600, 40);   // x scale 8.1: the default markers are 2008 map pixels apart
    const std::string message = ErrorOf([&] { Load(); });
    EXPECT_EQ(message, "profile buufer is not enough");
    EXPECT_EQ(view.MaxColorLabel->text(), "41599.000 ");   // the map and the ruler were drawn
    EXPECT_EQ(profile.Count(), 0);                          // the profile view was not updated

    // While dragging with the profile view shown the error ends the drag and says why.
    profile.show();
    view.DownImageMouseDown(Qt::LeftButton, 5, 5);
    view.DownImageMouseMove(6, 5);
    EXPECT_FALSE(view.Dragging());
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "profile buufer is not enough");
}

TEST_F(TwoD, ReadOutOn640x480)
{
    Make(640, 480);
    Load(1.0f);
    grid.LoadData(heights.data(), mask.data(), 640, 480, 100, 50, 1, 1, 0, 0, 1.0, 0.01, 0.01);
    grid.show();
    view.ColorImageMouseMove(160, 143);
    EXPECT_EQ(view.PosLabel->text(), "(160, 143)");
    EXPECT_EQ(view.Pos2Label->text(), "(319, 240)");
    EXPECT_EQ(grid.Cell(3, 3), "240320.000");   // 319 + 1000 x 240 + Origin Z 1.0
    view.ColorImageMouseMove(5, 7);
    EXPECT_EQ(view.PosLabel->text(), "(  5,   7)");
    EXPECT_EQ(view.Pos2Label->text(), "(  9,  11)");
    grid.hide();
    view.ColorImageMouseMove(160, 143);
    EXPECT_EQ(grid.Cell(3, 3), "11010.000 ");   // hidden grid: not driven
}

TEST_F(TwoD, ForgettingTheMapLeavesNothingToRead)
{
    Make(321, 286);
    Load();
    profile.show();
    grid.show();
    view.ForgetData();
    EXPECT_FALSE(view.HasData());
    view.ColorImageMouseMove(100, 100);
    EXPECT_EQ(view.Pos2Label->text(), "(  0,   0)");
    view.UpImageMouseDown(Qt::LeftButton, 5, 5);
    view.UpImageMouseMove(20, 5);
    view.UpImageMouseUp(5, 5);
    EXPECT_EQ(profile.Count(), 0);
}

TEST_F(TwoD, HidingHidesProfileAndGridAndForgetsTheMap)
{
    Make(321, 286);
    view.show();
    profile.show();
    grid.show();
    Load();
    view.hide();
    EXPECT_FALSE(profile.isVisible());
    EXPECT_FALSE(grid.isVisible());
    EXPECT_FALSE(view.HasData());
}

// ---- the profile view -----------------------------------------------------------------------

TEST(ProfileView, GeometryAndAxes)
{
    TShowProfileForm p;
    EXPECT_EQ(p.windowTitle(), "Profile");
    EXPECT_EQ(p.ProfileImage->Picture.size(), QSize(364, 187));
    EXPECT_EQ(p.PlotLeft(), 75);
    EXPECT_EQ(p.PlotWidth(), 283);
    EXPECT_EQ(p.PlotHeight(), 141);
    EXPECT_EQ(p.TopY(), 5);
    EXPECT_EQ(p.XAxisY(), 146);
    EXPECT_EQ(p.MidLineY(), 75);
    const float samples[3] = {1.0f, 2.0f, 3.0f};
    p.SetRange(samples, 3, 3.0f, 2.0f, 1.0f);
    const QImage& img = p.ProfileImage->Picture;
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0);
    EXPECT_EQ(img.pixel(200, 146), red);          // x axis
    EXPECT_EQ(img.pixel(353, 141), red);          // its arrow head
    EXPECT_EQ(img.pixel(75, 100), red);           // y axis
    EXPECT_EQ(img.pixel(70, 10), red);            // its arrow head
    EXPECT_EQ(img.pixel(169, 155), green);        // tick at plot left + plot width / 3
    EXPECT_EQ(img.pixel(263, 155), green);
    EXPECT_EQ(img.pixel(358, 155), green);
    EXPECT_EQ(img.pixel(66, 75), green);          // tick left of the mid line
    EXPECT_EQ(img.pixel(76, 75), green);          // the dash-dot-dot mid line starts drawn
    EXPECT_EQ(p.MaxLabel->text(), "   3.000");
    EXPECT_EQ(p.MidLabel->text(), "   2.000");
    EXPECT_EQ(p.MinLabel->text(), "   1.000");
    EXPECT_EQ(p.HowmanyLabel->text(), "3");
}

TEST(ProfileView, ScaleAndCurve)
{
    TShowProfileForm p;
    std::vector<float> s(100);
    for (int i = 0; i < 100; ++i) s[size_t(i)] = float(i);
    p.SetRange(s.data(), 100, 99.0f, 49.5f, 0.0f);
    EXPECT_EQ(p.ScreenY(99), 5);     // max at the top
    EXPECT_EQ(p.ScreenY(0), 146);    // min on the x axis
    EXPECT_EQ(p.ScreenY(50), 74);    // trunc(141 - 141 x 50 / 99 + 5)
    EXPECT_EQ(p.CurvePoint(0), QPoint(75, 146));
    EXPECT_EQ(p.CurvePoint(1), QPoint(77, p.ScreenY(1)));    // trunc(1 x 2.83) + 75
    EXPECT_EQ(p.CurvePoint(99), QPoint(355, 5));             // trunc(99 x 2.83) + 75
    // The curve is yellow XORed onto the white plot.
    EXPECT_EQ(p.ProfileImage->Picture.pixel(200, 60), qRgb(255, 255, 255));
    const QPoint mid = p.CurvePoint(40);
    EXPECT_EQ(p.ProfileImage->Picture.pixel(mid), qRgb(0, 0, 255));
    // New samples of the same range redraw the curve only.
    std::vector<float> flat(10, 0.0f);
    p.SetProfile(flat.data(), 10);
    EXPECT_EQ(p.ScreenY(9), 146);
    EXPECT_EQ(p.ProfileImage->Picture.pixel(mid), qRgb(255, 255, 255));
    EXPECT_EQ(p.HowmanyLabel->text(), "10");
}

}  // namespace
