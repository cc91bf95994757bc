// The image window: zoom, read-out, rubber band, fill, invert, histogram, the self-painted
// repaint of board kind 3, files, memory failures, buffers wider than a byte, closing.

#include "imagewindow_fixture.h"

#include "Apperror.h"
#include "Format.h"
#include "Rawoption.h"
#include "Realtimemultiply.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMouseEvent>
#include <QThread>

#include <chrono>
#include <thread>

namespace {

std::string Hex(uint32_t v) { return Format("0x%x", v); }

// A selection tool that records what the rubber band reports.
class RecordingTool : public TSelectionTool {
public:
    bool rectangle = true;
    std::vector<std::vector<int>> shown;
    bool SelectsRectangle() const override { return rectangle; }
    void ShowSelection(int x0, int y0, int x1, int y1) override { shown.push_back({x0, y0, x1, y1}); }
};

class ScopedTool {
public:
    explicit ScopedTool(TSelectionTool* t) { SetSelectionTool(t); }
    ~ScopedTool() { SetSelectionTool(nullptr); }
};

bool IsYellow(QRgb c) { return qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 0; }

std::string Message(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAppError& e) {
        return e.Message();
    }
    return "(no exception)";
}

}  // namespace

// ---- zoom ---------------------------------------------------------------------------------

TEST_F(ImageWindowTest, ZoomInCountsUpToSixteenAndStays)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(8, 6);
    for (int expected = 2; expected <= 16; ++expected) {
        ASSERT_TRUE(w->CanZoomIn());
        w->ZoomIn();
        EXPECT_EQ(w->ZoomX, expected);
        EXPECT_EQ(w->ZoomY, expected);
    }
    EXPECT_FALSE(w->CanZoomIn());
    w->ZoomIn();
    EXPECT_EQ(w->ZoomX, 16);
    EXPECT_EQ(w->ClientSize(), QSize(128, 96));
    EXPECT_EQ(orbsim::displayState(w->DisplayId)->zoomX, 16);
    EXPECT_EQ(orbsim::displayState(w->DisplayId)->zoomY, 16);
}

TEST_F(ImageWindowTest, ZoomOutSkipsZeroAndStopsAtMinusSixteen)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(64, 32);
    w->ZoomOut();
    EXPECT_EQ(w->ZoomX, -2);   // 0 is skipped
    for (int expected = -3; expected >= -16; --expected) {
        ASSERT_TRUE(w->CanZoomOut());
        w->ZoomOut();
        EXPECT_EQ(w->ZoomX, expected);
    }
    EXPECT_FALSE(w->CanZoomOut());
    w->ZoomOut();
    EXPECT_EQ(w->ZoomY, -16);
    EXPECT_EQ(w->ClientSize(), QSize(4, 2));
}

TEST_F(ImageWindowTest, ZoomStepsAcrossOneToOne)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(8, 8);
    w->SetZoom(-1, -1);
    w->ZoomIn();
    EXPECT_EQ(w->ZoomX, 2);   // from -1 straight to 2
    w->SetZoom(-2, -2);
    w->ZoomIn();
    EXPECT_EQ(w->ZoomX, -1);
    EXPECT_TRUE(w->IsOriginalSize());
    w->SetZoom(2, 2);
    w->ZoomOut();
    EXPECT_EQ(w->ZoomX, 1);
    w->ZoomOut();
    EXPECT_EQ(w->ZoomX, -2);
    // Either factor at 1:1 counts as original size.
    w->SetZoom(1, 3);
    EXPECT_TRUE(w->IsOriginalSize());
    w->SetZoom(3, -3);
    EXPECT_FALSE(w->IsOriginalSize());
}

TEST_F(ImageWindowTest, SetZoomOutsideTheRangeIsStoredButNotApplied)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(8, 8);
    orbsim::clearCallLog();
    w->SetZoom(0, 3);
    EXPECT_EQ(w->ZoomX, 0);
    EXPECT_EQ(w->ZoomY, 3);
    w->SetZoom(2, 17);
    EXPECT_TRUE(LogOf("orbDispSetZoom").empty());
    EXPECT_EQ(w->ClientSize(), QSize(8, 8));
    w->SetZoom(3, -2);
    EXPECT_EQ(LogOf("orbDispSetZoom"), std::vector<std::string>{"orbDispSetZoom(" + Hex(w->DisplayId) + ", 3, -2)"});
    EXPECT_EQ(w->ClientSize(), QSize(24, 4));
}

TEST_F(ImageWindowTest, ZoomRuleOfShownSizeAndImageCoordinates)
{
    EXPECT_EQ(TMDIImageChildForm::ShownLength(768, -2), 384);
    EXPECT_EQ(TMDIImageChildForm::ShownLength(577, -2), 288);   // integer division
    EXPECT_EQ(TMDIImageChildForm::ShownLength(10, 3), 30);
    EXPECT_EQ(TMDIImageChildForm::ShownLength(10, 1), 10);
    EXPECT_EQ(TMDIImageChildForm::ShownLength(10, -1), 10);
    EXPECT_EQ(TMDIImageChildForm::ImageCoordinate(100, -2), 200);
    EXPECT_EQ(TMDIImageChildForm::ImageCoordinate(7, 3), 2);
    EXPECT_EQ(TMDIImageChildForm::ImageCoordinate(7, -1), 7);
}

TEST_F(ImageWindowTest, HalfSizeWindowShowsHalfAndReadsThePixelUnderTheMouse)
{
    StartWithBoard(btSorvik);
    MainForm->resize(1000, 800);
    MainForm->show();
    TMDIImageChildForm* w = Window(768, 576);
    w->SetZoom(-2, -2);
    EXPECT_EQ(w->ClientSize(), QSize(384, 288));
    EXPECT_EQ(w->ClientArea()->size(), QSize(384, 288));
    EXPECT_EQ(orbsim::displayState(w->DisplayId)->zoomX, -2);
    const uint8_t v = 201;
    orbBufPut2d(w->BufferId, 200, 100, 1, 1, &v);

    w->FormMouseMove(QPoint(100, 50));
    EXPECT_EQ(w->Hint(), "Position(200, 100)  gray = 201");

    // The same through a mouse event on the client area.
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 3), QPointF(5, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w->ClientArea(), &move);
    EXPECT_EQ(w->Hint(), "Position( 10,   6)  gray =   0");
}

TEST_F(ImageWindowTest, PointsOutsideTheImageGiveAnEmptyHint)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(20, 10);
    w->FormMouseMove(QPoint(3, 4));
    EXPECT_FALSE(w->Hint().isEmpty());
    w->FormMouseMove(QPoint(-1, 4));   // left of the image
    EXPECT_EQ(w->Hint(), "");
    w->FormMouseMove(QPoint(3, 10));   // below it
    EXPECT_EQ(w->Hint(), "");
    w->FormMouseMove(QPoint(20, 0));
    EXPECT_EQ(w->Hint(), "");
    w->SetZoom(2, 2);
    w->FormMouseMove(QPoint(39, 19));
    EXPECT_EQ(w->Hint(), "Position( 19,   9)  gray =   0");
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

// ---- rubber band and fill -------------------------------------------------------------------

TEST_F(ImageWindowTest, RubberBandIsAnOverlayThatGoesWithTheMouseUp)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    TMDIImageChildForm* w = Window(40, 30);
    RecordingTool tool;
    ScopedTool scoped(&tool);
    w->FormMouseDown(Qt::LeftButton, QPoint(5, 5));
    EXPECT_TRUE(w->Dragging);
    w->FormMouseMove(QPoint(20, 15));
    QImage shown = w->ClientArea()->grab().toImage();
    EXPECT_TRUE(IsYellow(shown.pixel(5, 5)));
    EXPECT_TRUE(IsYellow(shown.pixel(20, 15)));
    EXPECT_TRUE(IsYellow(shown.pixel(12, 5)));
    EXPECT_FALSE(IsYellow(shown.pixel(12, 10)));   // inside the outline: the image
    ASSERT_EQ(tool.shown.size(), 1u);
    EXPECT_EQ(tool.shown[0], (std::vector<int>{5, 5, 20, 15}));

    w->FormMouseUp(Qt::LeftButton, QPoint(20, 15));
    EXPECT_FALSE(w->Dragging);
    shown = w->ClientArea()->grab().toImage();
    EXPECT_FALSE(IsYellow(shown.pixel(5, 5)));
    EXPECT_FALSE(IsYellow(shown.pixel(12, 5)));
    EXPECT_EQ(w->DragStart, QPoint(5, 5));
    EXPECT_EQ(w->DragEnd, QPoint(20, 15));
    // The buffer was never drawn into.
    EXPECT_EQ(Pixels(w), std::vector<uint8_t>(40 * 30, 0));
}

TEST_F(ImageWindowTest, EllipseToolDrawsAnEllipseAndReportsImageCoordinates)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    TMDIImageChildForm* w = Window(40, 30);
    w->SetZoom(2, 2);
    RecordingTool tool;
    tool.rectangle = false;
    ScopedTool scoped(&tool);
    w->FormMouseDown(Qt::LeftButton, QPoint(60, 50));
    w->FormMouseMove(QPoint(20, 10));
    const QImage shown = w->ClientArea()->grab().toImage();
    EXPECT_FALSE(IsYellow(shown.pixel(20, 10)));   // no corner on an ellipse
    EXPECT_TRUE(IsYellow(shown.pixel(40, 10)));    // its top
    ASSERT_EQ(tool.shown.size(), 1u);
    EXPECT_EQ(tool.shown[0], (std::vector<int>{30, 25, 10, 5}));
}

TEST_F(ImageWindowTest, EllipseFillOfFiveByFourKeepsItsCorners)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(10, 8);
    Put(w, std::vector<uint8_t>(80, 7));
    w->FormMouseDown(Qt::LeftButton, QPoint(6, 6));
    w->FormMouseMove(QPoint(2, 3));   // dragged up and left: the block is (2, 3) .. (6, 6)
    w->FormMouseUp(Qt::LeftButton, QPoint(2, 3));
    w->FillSelection(255, true);
    // cx = 2.5, cy = 2.0 over the 5 x 4 block.
    const char* golden[4] = {".....", ".XXXX", "XXXXX", ".XXXX"};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(At(w, 2 + j, 3 + i), golden[i][j] == 'X' ? 255 : 7) << "row " << i << " column " << j;
    // Nothing outside the block changed.
    int changed = 0;
    for (uint8_t v : Pixels(w))
        changed += v == 255;
    EXPECT_EQ(changed, 13);
}

TEST_F(ImageWindowTest, RectangleFillIsClampedToTheImage)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(10, 8);
    w->FormMouseDown(Qt::LeftButton, QPoint(-5, -5));
    w->FormMouseMove(QPoint(3, 2));
    w->FormMouseUp(Qt::LeftButton, QPoint(3, 2));
    orbsim::clearCallLog();
    w->FillSelection(200, false);
    EXPECT_EQ(LogOf("orbBufPut2d"), std::vector<std::string>{"orbBufPut2d(" + Hex(w->BufferId) + ", 0, 0, 4, 3, ptr)"});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(At(w, x, y), x <= 3 && y <= 2 ? 200 : 0);

    // Beyond the right and bottom edges.
    w->FormMouseDown(Qt::LeftButton, QPoint(8, 6));
    w->FormMouseMove(QPoint(50, 50));
    w->FormMouseUp(Qt::LeftButton, QPoint(50, 50));
    w->FillSelection(9, false);
    EXPECT_EQ(At(w, 9, 7), 9);
    EXPECT_EQ(At(w, 8, 6), 9);
    EXPECT_EQ(At(w, 7, 7), 0);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(ImageWindowTest, FillWhollyOutsideTheImageDoesNothing)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(10, 8);
    w->FormMouseDown(Qt::LeftButton, QPoint(20, 20));
    w->FormMouseMove(QPoint(30, 30));
    w->FormMouseUp(Qt::LeftButton, QPoint(30, 30));
    orbsim::clearCallLog();
    w->FillSelection(255, false);
    w->FillSelection(255, true);
    EXPECT_TRUE(LogOf("orbBufPut2d").empty());
    EXPECT_EQ(Pixels(w), std::vector<uint8_t>(80, 0));
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(ImageWindowTest, FillWithoutADragFillsTheFirstPixel)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(4, 4);
    w->FillSelection(77, false);
    std::vector<uint8_t> expected(16, 0);
    expected[0] = 77;
    EXPECT_EQ(Pixels(w), expected);
}

TEST_F(ImageWindowTest, FillAtZoomTwoUsesImageCoordinates)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(10, 10);
    w->SetZoom(2, 2);
    w->FormMouseDown(Qt::LeftButton, QPoint(4, 4));
    w->FormMouseMove(QPoint(9, 9));
    w->FormMouseUp(Qt::LeftButton, QPoint(9, 9));
    orbsim::clearCallLog();
    w->FillSelection(1, false);
    EXPECT_EQ(LogOf("orbBufPut2d"), std::vector<std::string>{"orbBufPut2d(" + Hex(w->BufferId) + ", 2, 2, 3, 3, ptr)"});
}

// ---- invert and histogram -------------------------------------------------------------------

TEST_F(ImageWindowTest, InvertReplacesEveryValueByItsComplement)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(16, 16);
    std::vector<uint8_t> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[size_t(i)] = uint8_t(i);
    Put(w, ramp);
    w->InvertImage();
    const std::vector<uint8_t> out = Pixels(w);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(out[size_t(i)], 255 - i);
    w->InvertImage();
    EXPECT_EQ(Pixels(w), ramp);
}

TEST_F(ImageWindowTest, HistogramCountsEveryPixelAtItsValue)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(5, 2);
    Put(w, {0, 0, 3, 255, 255, 255, 9, 3, 0, 0});
    int32_t bins[256];
    std::fill(bins, bins + 256, 99);
    w->CountHistogram(bins);
    EXPECT_EQ(bins[0], 4);
    EXPECT_EQ(bins[3], 2);
    EXPECT_EQ(bins[9], 1);
    EXPECT_EQ(bins[255], 3);
    int total = 0;
    for (int32_t b : bins)
        total += b;
    EXPECT_EQ(total, 10);
    orbsim::clearCallLog();
    w->CountHistogram(nullptr);   // reads, counts nothing
    EXPECT_EQ(LogOf("orbBufGet("), std::vector<std::string>{"orbBufGet(" + Hex(w->BufferId) + ", ptr)"});
}

// ---- buffers wider than a byte --------------------------------------------------------------

TEST_F(ImageWindowTest, SixteenBitBufferThroughEveryPixelTool)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = Window(6, 4, 16);
    ASSERT_EQ(orbsim::bufferInfo(w->BufferId)->bytesPerPixel, 2);
    std::vector<uint8_t> pixels(6 * 4 * 2, 0);
    // (1, 2) = 0x1234, (5, 3) = 0xFF00.
    pixels[(2 * 6 + 1) * 2] = 0x34;
    pixels[(2 * 6 + 1) * 2 + 1] = 0x12;
    pixels[(3 * 6 + 5) * 2] = 0x00;
    pixels[(3 * 6 + 5) * 2 + 1] = 0xFF;
    Put(w, pixels);

    w->FormMouseMove(QPoint(1, 2));
    EXPECT_EQ(w->Hint(), "Position(  1,   2)  gray = 4660");
    w->FormMouseMove(QPoint(5, 3));
    EXPECT_EQ(w->Hint(), "Position(  5,   3)  gray = 65280");

    const std::string refusal = "works on 8-bit images only: this image has 16 bits per pixel";
    int32_t bins[256] = {};
    EXPECT_EQ(Message([&] { w->CountHistogram(bins); }), "The histogram " + refusal);
    EXPECT_EQ(Message([&] { w->InvertImage(); }), "Invert " + refusal);
    w->FormMouseDown(Qt::LeftButton, QPoint(0, 0));
    w->FormMouseMove(QPoint(5, 3));
    w->FormMouseUp(Qt::LeftButton, QPoint(5, 3));
    EXPECT_EQ(Message([&] { w->FillSelection(255, false); }), "Fill " + refusal);
    EXPECT_EQ(Message([&] { w->FillSelection(255, true); }), "Fill " + refusal);
    EXPECT_EQ(Pixels(w), pixels);   // nothing was changed

    // The repaint shows the high byte.
    w->SetZoom(1, 1);
    w->RedrawImage();
    const QImage& picture = w->DrevanImage->Picture;
    ASSERT_EQ(picture.size(), QSize(6, 4));
    EXPECT_EQ(qRed(picture.pixel(1, 2)), 0x12);
    EXPECT_EQ(qGreen(picture.pixel(5, 3)), 0xFF);
    EXPECT_EQ(qBlue(picture.pixel(0, 0)), 0);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(ImageWindowTest, ThirtyTwoBitSignedReadOut)
{
    StartWithBoard(btSorvik);
    MainForm->EnsureImaging();
    auto* w = new TMDIImageChildForm(nullptr, true, true, true, false, 1, 32, 2, 2);
    const int32_t v = -5;
    orbBufPut2d(w->BufferId, 1, 1, 1, 1, &v);
    w->FormMouseMove(QPoint(1, 1));
    EXPECT_EQ(w->Hint(), "Position(  1,   1)  gray =  -5");
    delete w;
    EXPECT_EQ(orbsim::bufferCount(), 0u);
}

// ---- the self-painted display of board kind 3 -------------------------------------------------

TEST_F(ImageWindowTest, OnlyTheDoubleScreenKindPaintsItself)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* own = Window(8, 8);
    EXPECT_TRUE(own->DrevanImage->isHidden());
    EXPECT_NE(own->DisplayId, MainForm->DisplayId);
    own->close();
    MainForm->BoardTypeComboBox->setCurrentIndex(btDrevanDouble);
    MainForm->BoardTypeComboBoxChange();
    TMDIImageChildForm* shared = Window(8, 8);
    EXPECT_FALSE(shared->DrevanImage->isHidden());
    EXPECT_EQ(shared->DisplayId, MainForm->DisplayId);
    EXPECT_EQ(FormTag(shared), kImageWindowTag);
}

TEST_F(ImageWindowTest, RedrawSamplesTheBufferAtTheZoom)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = Window(4, 2);
    Put(w, {10, 20, 30, 40, 50, 60, 70, 80});
    w->SetZoom(2, 2);   // redraws
    const QImage& p = w->DrevanImage->Picture;
    ASSERT_EQ(p.size(), QSize(8, 4));
    ASSERT_EQ(p.format(), QImage::Format_RGB888);
    // Column i takes source trunc(i * 0.5 + 0.5): 0 1 1 2 2 3 3 3 (the last kept inside).
    const int columns[8] = {0, 1, 1, 2, 2, 3, 3, 3};
    const int rows[4] = {0, 1, 1, 1};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(qRed(p.pixel(i, j)), 10 + 10 * columns[i] + 40 * rows[j]) << i << "," << j;
    EXPECT_EQ(p.pixel(7, 3), qRgb(80, 80, 80));

    w->SetZoom(-2, -2);
    ASSERT_EQ(w->DrevanImage->Picture.size(), QSize(2, 1));
    EXPECT_EQ(qRed(w->DrevanImage->Picture.pixel(0, 0)), 10);
    EXPECT_EQ(qRed(w->DrevanImage->Picture.pixel(1, 0)), 30);
    EXPECT_TRUE(LogOf("orbDispSetZoom").empty());   // the shared display keeps its zoom
}

TEST_F(ImageWindowTest, InvertOnTheSharedDisplayRepaints)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = Window(3, 1);
    Put(w, {0, 100, 255});
    w->InvertImage();
    const QImage& p = w->DrevanImage->Picture;
    ASSERT_EQ(p.size(), QSize(3, 1));
    EXPECT_EQ(qRed(p.pixel(0, 0)), 255);
    EXPECT_EQ(qRed(p.pixel(1, 0)), 155);
    EXPECT_EQ(qRed(p.pixel(2, 0)), 0);
}

TEST_F(ImageWindowTest, ExposeRepaintsFromTheBuffer)
{
    StartWithBoard(btDrevanDouble);
    MainForm->show();
    TMDIImageChildForm* w = Window(2, 2);
    Put(w, {1, 2, 3, 4});
    // Painting the window re-reads the buffer (FormPaint).
    const QImage shown = w->ClientArea()->grab().toImage();
    EXPECT_EQ(qRed(shown.pixel(1, 1)), 4);
    EXPECT_EQ(w->DrevanImage->Picture.size(), QSize(2, 2));
}

TEST_F(ImageWindowTest, RepaintPictureTooLargeRaisesItsMessage)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = Window(2048, 2048);
    EXPECT_EQ(Message([&] { w->SetZoom(16, 16); }), "Now more memory to allocate for repaint");
    EXPECT_TRUE(w->DrevanImage->Picture.isNull());
    // Back at a size that can be painted, the picture returns.
    w->SetZoom(-16, -16);
    EXPECT_EQ(w->DrevanImage->Picture.size(), QSize(128, 128));
}

TEST_F(ImageWindowTest, ActivationShowsTheWindowOnTheSharedDisplay)
{
    StartWithBoard(btDrevanDouble);
    MainForm->show();
    TMDIImageChildForm* a = Window(8, 8);
    TMDIImageChildForm* b = Window(8, 8);
    EXPECT_EQ(orbsim::displayState(MainForm->DisplayId)->buffer, b->BufferId);
    MainForm->MdiArea->setActiveSubWindow(a);
    EXPECT_EQ(orbsim::displayState(MainForm->DisplayId)->buffer, a->BufferId);
    // Not while the main window closes.
    MainForm->Closing = true;
    MainForm->MdiArea->setActiveSubWindow(b);
    EXPECT_EQ(orbsim::displayState(MainForm->DisplayId)->buffer, a->BufferId);
    MainForm->Closing = false;
}

// ---- the display sink -------------------------------------------------------------------------

TEST_F(ImageWindowTest, DisplayFramesReachTheClientArea)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    TMDIImageChildForm* w = Window(6, 5);
    const std::vector<uint8_t> pattern = Pattern(6, 5);
    Put(w, pattern);
    QCoreApplication::processEvents();
    const QImage frame = w->ShownFrame();
    ASSERT_EQ(frame.size(), QSize(6, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(qGray(frame.pixel(x, y)), pattern[size_t(y * 6 + x)]);
    // Painted at the display's zoom.
    w->SetZoom(2, 2);
    QCoreApplication::processEvents();
    const QImage shown = w->ClientArea()->grab().toImage();
    EXPECT_EQ(qGray(shown.pixel(11, 9)), pattern[size_t(4 * 6 + 5)]);
}

TEST_F(ImageWindowTest, LiveGrabFramesFromTheGrabThread)
{
    StartWithBoard(btSorvik);
    orbsim::setFramePeriodMs(1);
    TMDIImageChildForm* w = Window(64, 48);
    w->Live = true;
    orbDigGrabLive(MainForm->DigitizerId, w->BufferId);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (orbsim::digitizerState(MainForm->DigitizerId)->framesGrabbed < 5 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QCoreApplication::processEvents();
    // Closing stops the grab before the buffer goes.
    w->close();
    EXPECT_FALSE(orbsim::digitizerState(MainForm->DigitizerId)->live);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

// ---- files ------------------------------------------------------------------------------------

class FileRoundTrip : public ImageWindowTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FileRoundTrip, SaveThenLoadThroughTheWindow)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* source = Window(32, 24);
    const std::vector<uint8_t> pattern = Pattern(32, 24);
    Put(source, pattern);
    const QString path = Path(GetParam());
    source->SaveToFile(path);
    ASSERT_TRUE(QFile::exists(path));

    TMDIImageChildForm* target = Window(32, 24);
    target->LoadFromFile(path);
    EXPECT_EQ(Pixels(target), pattern);
    EXPECT_EQ(orbsim::errorCount(), 0u);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, FileRoundTrip,
                         ::testing::Values("a.tif", "b.bmp", "c.raw", "d.oim", "e.TIF", "f.Bmp"));

TEST_F(ImageWindowTest, ExtensionsChooseTheFileFormat)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(4, 4);
    orbsim::clearCallLog();
    w->SaveToFile(Path("x.tif"));
    w->SaveToFile(Path("x.BMP"));
    w->SaveToFile(Path("x.raw"));
    w->SaveToFile(Path("x.oim"));
    const std::vector<std::string> saves = LogOf("orbBufSave");
    ASSERT_EQ(saves.size(), 4u);
    const std::string b = Hex(w->BufferId);
    EXPECT_EQ(saves[0], "orbBufSave(\"" + Path("x.tif").toStdString() + "\", 0x2, " + b + ")");
    EXPECT_EQ(saves[1], "orbBufSave(\"" + Path("x.BMP").toStdString() + "\", 0x4, " + b + ")");
    EXPECT_EQ(saves[2], "orbBufSave(\"" + Path("x.raw").toStdString() + "\", 0x1, " + b + ")");
    EXPECT_EQ(saves[3], "orbBufSave(\"" + Path("x.oim").toStdString() + "\", 0x0, " + b + ")");
}

TEST_F(ImageWindowTest, UnknownExtensionSavesNothingAndLoadSaysSo)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(4, 4);
    orbsim::clearCallLog();
    w->SaveToFile(Path("x.jpg"));
    EXPECT_FALSE(QFile::exists(Path("x.jpg")));
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(dialogs.Boxes().empty());

    w->LoadFromFile("pictures/x.png");
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, " No support for file: pictures/x.png");
    EXPECT_TRUE(LogOf("orbBufLoad").empty());
}

TEST_F(ImageWindowTest, SavingALiveWindowPausesTheGrab)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(4, 4);
    w->Live = true;
    orbsim::clearCallLog();
    w->SaveToFile(Path("x.tif"));
    const std::string d = Hex(MainForm->DigitizerId), b = Hex(w->BufferId);
    EXPECT_EQ(Log(), (std::vector<std::string>{"orbDigStopGrab(" + d + ")",
                                               "orbBufSave(\"" + Path("x.tif").toStdString() + "\", 0x2, " + b + ")",
                                               "orbDigGrabLive(" + d + ", " + b + ")"}));
    // Loading ends the live grab.
    orbsim::clearCallLog();
    w->LoadFromFile(Path("x.tif"));
    EXPECT_FALSE(w->Live);
    EXPECT_EQ(LogOf("orbDigStopGrab").size(), 1u);
    EXPECT_TRUE(LogOf("orbDigGrabLive").empty());
    w->Live = false;
}

TEST_F(ImageWindowTest, WindowFromAnImageFileTakesItsSizeAndType)
{
    StartWithBoard(btLumbra);
    TMDIImageChildForm* source = Window(20, 10, 16);
    std::vector<uint8_t> pixels(20 * 10 * 2);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 3);
    Put(source, pixels);
    source->SaveToFile(Path("wide.oim"));

    orbsim::clearCallLog();
    TMDIImageChildForm* w = TMDIImageChildForm::CreateFromFile(nullptr, Path("wide.oim"));
    ASSERT_NE(w, nullptr);
    const auto info = orbsim::bufferInfo(w->BufferId);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 20);
    EXPECT_EQ(info->height, 10);
    EXPECT_EQ(info->type, 16u);
    EXPECT_EQ(info->attributes, 60u);
    EXPECT_EQ(Pixels(w), pixels);
    // The temporary buffer that told the size is gone again.
    EXPECT_EQ(orbsim::bufferCount(), 2u);
    EXPECT_EQ(LogOf("orbBufLoad"), std::vector<std::string>{"orbBufLoad(\"" + Path("wide.oim").toStdString() +
                                                            "\", 0x10000000, 1, " + Hex(MainForm->SystemId) + ", " +
                                                            Hex(w->BufferId) + ")"});
    EXPECT_EQ(orbsim::displayState(w->DisplayId)->buffer, w->BufferId);
    delete w;
}

TEST_F(ImageWindowTest, WindowFromAFileWithoutADigitizerIsNotForGrabbing)
{
    StartWithBoard(btNoBoardHost);
    TMDIImageChildForm* source = Window(8, 8);
    source->SaveToFile(Path("a.bmp"));
    std::unique_ptr<TMDIImageChildForm> w(TMDIImageChildForm::CreateFromFile(nullptr, Path("a.bmp")));
    ASSERT_TRUE(w);
    EXPECT_EQ(orbsim::bufferInfo(w->BufferId)->attributes, 52u);
}

TEST_F(ImageWindowTest, RawFileAsksItsSizeAndIsOpenedByItsFullPath)
{
    StartWithBoard(btSorvik);
    QFile raw(Path("scan.raw"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    QByteArray bytes(16 + 6 * 4, '\0');
    for (int i = 0; i < 24; ++i)
        bytes[16 + i] = char(i + 1);
    raw.write(bytes);
    raw.close();
    // The current directory is elsewhere: only the full path reaches the file.
    const QString elsewhere = Path("sub");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    QDir::setCurrent(elsewhere);

    QString described, size;
    dialogs.AnswerModal([&](QDialog& d) {
        auto& f = dynamic_cast<TRawOptionForm&>(d);
        described = f.DescribeLabel->text();
        size = f.SizeLabel->text();
        f.WidthEdit->setText("6");
        f.HeightEdit->setText("4");
        return int(mrOk);
    });
    MainForm->EnsureImaging();
    std::unique_ptr<TMDIImageChildForm> w(TMDIImageChildForm::CreateFromFile(nullptr, Path("scan.raw")));
    ASSERT_TRUE(w);
    EXPECT_EQ(described, "Describe: \"scan.raw\"");
    EXPECT_EQ(size, "( 40 bytes )");
    const auto info = orbsim::bufferInfo(w->BufferId);
    EXPECT_EQ(info->width, 6);
    EXPECT_EQ(info->height, 4);
    EXPECT_EQ(info->type, 0x80000008u);
    // The last 24 bytes are the pixels (the 16 before them a header).
    std::vector<uint8_t> expected(24);
    for (int i = 0; i < 24; ++i)
        expected[size_t(i)] = uint8_t(i + 1);
    EXPECT_EQ(Pixels(w.get()), expected);
    EXPECT_TRUE(LogOf("orbBufRestore").empty());
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].ClassName, "TRawOptionForm");
    EXPECT_EQ(dialogs.Modals()[0].Title, "Raw Options");
}

TEST_F(ImageWindowTest, CancelledRawDialogLeavesNoWindowAndNoBuffer)
{
    StartWithBoard(btSorvik);
    QFile raw(Path("a.raw"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(QByteArray(16, '\1'));
    raw.close();
    MainForm->EnsureImaging();
    orbsim::clearCallLog();
    dialogs.AnswerModal(mrCancel);
    EXPECT_EQ(TMDIImageChildForm::CreateFromFile(nullptr, Path("a.raw")), nullptr);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(Children().empty());
    // The window made directly stays without buffer and display, and does no harm.
    dialogs.AnswerModal(mrCancel);
    TMDIImageChildForm w(nullptr, Path("a.raw"));
    EXPECT_FALSE(w.HasBuffer());
    EXPECT_EQ(w.DisplayId, 0u);
    w.ZoomIn();
    w.InvertImage();
    w.FillSelection(1, false);
    w.RedrawImage();
    w.FormMouseMove(QPoint(0, 0));
    EXPECT_EQ(w.Hint(), "");
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(ImageWindowTest, RawFileThatCannotBeOpenedShowsNoDialog)
{
    StartWithBoard(btSorvik);
    MainForm->EnsureImaging();
    const std::string m = Message([&] { TMDIImageChildForm::CreateFromFile(nullptr, Path("missing.raw")); });
    EXPECT_EQ(m.rfind("Cannot open file \"" + Path("missing.raw").toStdString() + "\"", 0), 0u) << m;
    EXPECT_TRUE(dialogs.Modals().empty());
    EXPECT_EQ(orbsim::bufferCount(), 0u);
}

// ---- memory failures --------------------------------------------------------------------------

TEST_F(ImageWindowTest, NoBufferForAFileRaisesAndLeavesNothing)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* source = Window(8, 8);
    source->SaveToFile(Path("a.tif"));
    source->close();
    ASSERT_EQ(orbsim::bufferCount(), 0u);

    // The library reports the failed restore itself: that one report is all the operator
    // gets, and no window is made.
    dialogs.Clear();
    orbsim::failNextAlloc(orbsim::AllocKind::Buffer);
    EXPECT_EQ(Message([&] { EXPECT_EQ(TMDIImageChildForm::CreateFromFile(nullptr, Path("a.tif")), nullptr); }),
              "(no exception)");
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text.section('\n', 0, 1), "orbBufRestore\nInsufficient memory");
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::displayCount(), 0u);
    EXPECT_TRUE(Children().empty());

    // Without an error hook nobody has said anything yet: the window says it.
    OrbErrorHook hook = nullptr;
    void* user = nullptr;
    orbAppInquire(ORB_INQ_ERROR_HOOK, &hook);
    orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &user);
    EXPECT_EQ(hook, &DisplayErrorExt);   // the program's own hook is back in place
    orbAppSetErrorHook(ORB_ERROR_HOOK, nullptr, nullptr);
    orbsim::failNextAlloc(orbsim::AllocKind::Buffer);
    EXPECT_EQ(Message([&] { TMDIImageChildForm::CreateFromFile(nullptr, Path("a.tif")); }),
              "No memory to create more buffers!");
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    orbAppSetErrorHook(ORB_ERROR_HOOK, hook, user);

    // A raw file whose buffer cannot be had.
    QFile raw(Path("b.raw"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(QByteArray(64, '\0'));
    raw.close();
    dialogs.AnswerModal(mrOk);
    orbsim::failNextAlloc(orbsim::AllocKind::Buffer);
    EXPECT_EQ(Message([&] { TMDIImageChildForm::CreateFromFile(nullptr, Path("b.raw")); }),
              "No memory to create more buffers!");
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_TRUE(Children().empty());
}

TEST_F(ImageWindowTest, NoDisplayLeavesABlankWindowWithoutFurtherErrors)
{
    StartWithBoard(btSorvik);
    MainForm->EnsureImaging();
    orbsim::failNextAlloc(orbsim::AllocKind::Display);
    TMDIImageChildForm* w = Window(8, 8);
    EXPECT_EQ(w->DisplayId, 0u);
    EXPECT_EQ(orbsim::errorCount(), 1u);   // the allocation's own
    w->ZoomIn();
    w->close();
    EXPECT_EQ(orbsim::errorCount(), 1u);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
}

// ---- closing ----------------------------------------------------------------------------------

TEST_F(ImageWindowTest, CloseIsRefusedWhileALiveWorkerExists)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = Window(8, 8);
    QThread* idle = QThread::create([] {
        while (!QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(1);
    });
    RealTimeMultiplyControlSSForm->Worker = idle;
    idle->start();
    EXPECT_FALSE(w->FormClose());
    EXPECT_NE(w->BufferId, 0u);
    w->close();
    EXPECT_TRUE(w->isMinimized());
    EXPECT_EQ(orbsim::bufferCount(), 1u);
    idle->requestInterruption();
    idle->wait();
    delete idle;
    RealTimeMultiplyControlSSForm->Worker = nullptr;
    EXPECT_TRUE(w->FormClose());
    EXPECT_EQ(w->BufferId, 0u);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::displayCount(), 0u);
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
