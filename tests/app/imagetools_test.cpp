// The modify-image tool, the image calculation and the histogram command, and the main
// window's live, panel, histogram and tool actions with their update rules.

#include "main_fixture.h"

#include "Controldrevan.h"
#include "Controllumbra.h"
#include "Controlsorvik.h"
#include "Histogram.h"
#include "Imagecalculation.h"
#include "Liveactions.h"
#include "Mdiimagechild.h"
#include "Modifyimage.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

namespace {

using Strings = std::vector<std::string>;

std::vector<uint8_t> Pixels(const TMDIImageChildForm* w)
{
    int width = 0, height = 0;
    w->GetImageSize(width, height);
    std::vector<uint8_t> out(size_t(width) * size_t(height));
    orbBufGet(w->BufferId, out.data());
    return out;
}

void Put(TMDIImageChildForm* w, const std::vector<uint8_t>& pixels) { orbBufPut(w->BufferId, pixels.data()); }

TAction* Action(const char* caption)
{
    TAction* a = MainForm->MainFormActionList->Find(caption);
    EXPECT_NE(a, nullptr) << caption;
    return a;
}

bool Enabled(const char* caption)
{
    TAction* a = Action(caption);
    a->Update();
    return a->isEnabled();
}

// Runs an action as the operator does: only when its update rule enables it.
void RunAction(const char* caption)
{
    TAction* a = Action(caption);
    a->Update();
    ASSERT_TRUE(a->isEnabled()) << caption;
    a->Execute();
}

QStringList Captions(const QList<QAction*>& actions)
{
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QString("-") : a->text());
    return out;
}

// A drag in an image window, from and to client points (zoom 1: image points).
void Drag(TMDIImageChildForm* w, QPoint from, QPoint to)
{
    w->FormMouseDown(Qt::LeftButton, from);
    w->FormMouseMove(to);
    w->FormMouseUp(Qt::LeftButton, to);
}

}  // namespace

// ---- modify-image tool ----------------------------------------------------------------------

TEST_F(FrameTest, ModifyImageToolStartsWithRectangleAndWhite)
{
    StartWithBoard(btSorvik);
    TModifyImageForm* t = ModifyImageForm;
    EXPECT_EQ(t->windowTitle(), "Modify Image");
    EXPECT_TRUE(t->RectToolButton->isChecked());
    EXPECT_FALSE(t->CircleToolButton->isChecked());
    EXPECT_TRUE(t->WhiteToolButton->isChecked());
    EXPECT_FALSE(t->BlackToolButton->isChecked());
    EXPECT_EQ(t->RectToolButton->toolTip(), QString::fromUtf8("选择矩形区域Select Rectangle"));
    EXPECT_EQ(t->CircleToolButton->toolTip(), QString::fromUtf8("选择圆形区域Select Circle"));
    EXPECT_EQ(t->WhiteToolButton->toolTip(), QString::fromUtf8("填充白色Fill White"));
    EXPECT_EQ(t->BlackToolButton->toolTip(), QString::fromUtf8("填充黑色Fill Black"));
    EXPECT_EQ(t->UpCornerLabel->text(), "(0, 0)");
    EXPECT_EQ(t->DownCornerLabel->text(), "(0, 0)");
    EXPECT_EQ(t->HeightLabel->text(), "Height=");
    EXPECT_EQ(t->BitBtn1->text(), "Fill");
    // The image windows ask it for the shape and show their drags in it.
    EXPECT_EQ(SelectionTool(), static_cast<TSelectionTool*>(t));
    EXPECT_TRUE(t->SelectsRectangle());
    // The two groups are exclusive each.
    t->CircleToolButton->click();
    EXPECT_FALSE(t->RectToolButton->isChecked());
    EXPECT_FALSE(t->SelectsRectangle());
    EXPECT_TRUE(t->WhiteToolButton->isChecked());
    t->BlackToolButton->click();
    EXPECT_FALSE(t->WhiteToolButton->isChecked());
    EXPECT_TRUE(t->CircleToolButton->isChecked());
    Application->DestroyForms();
    EXPECT_EQ(SelectionTool(), nullptr);
}

TEST_F(FrameTest, SelectionLabelsAreSignedAndPadded)
{
    StartWithBoard(btSorvik);
    TModifyImageForm* t = ModifyImageForm;
    t->ShowSelection(5, 6, 125, 7);
    EXPECT_EQ(t->UpCornerLabel->text(), "(  5,   6)");
    EXPECT_EQ(t->DownCornerLabel->text(), "(125,   7)");
    EXPECT_EQ(t->WidthLabel->text(), "Width =120");
    EXPECT_EQ(t->HeightLabel->text(), "Height=  1");
}

TEST_F(FrameTest, ADragToTheUpperLeftShowsNegativeSizes)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 64, 48);
    w->FormMouseDown(Qt::LeftButton, QPoint(50, 40));
    w->FormMouseMove(QPoint(20, 10));
    TModifyImageForm* t = ModifyImageForm;
    EXPECT_EQ(t->UpCornerLabel->text(), "( 50,  40)");
    EXPECT_EQ(t->DownCornerLabel->text(), "( 20,  10)");
    EXPECT_EQ(t->WidthLabel->text(), "Width =-30");
    EXPECT_EQ(t->HeightLabel->text(), "Height=-30");
    w->FormMouseUp(Qt::LeftButton, QPoint(20, 10));
}

TEST_F(FrameTest, FillThroughTheToolWindow)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 16, 12);
    ASSERT_EQ(MainForm->ActiveImageWindow(), w);
    Drag(w, QPoint(2, 3), QPoint(9, 8));   // an 8 x 6 block
    TModifyImageForm* t = ModifyImageForm;
    t->BitBtn1->click();   // rectangle, white
    std::vector<uint8_t> p = Pixels(w);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 2 && x <= 9 && y >= 3 && y <= 8;
            ASSERT_EQ(p[size_t(y * 16 + x)], inside ? 255 : 0) << x << " " << y;
        }

    // Circle and black: the ellipse of the same drag becomes 0, its corners stay white.
    t->CircleToolButton->click();
    t->BlackToolButton->click();
    t->BitBtn1->click();
    p = Pixels(w);
    EXPECT_EQ(p[size_t(3 * 16 + 2)], 255);    // the block's corner
    EXPECT_EQ(p[size_t(8 * 16 + 9)], 255);
    EXPECT_EQ(p[size_t(6 * 16 + 6)], 0);      // its centre
    EXPECT_EQ(p[size_t(3 * 16 + 6)], 0);      // top middle: (2 - 4)^2 / 16 + 1 - 1 = 0.25 <= 1
    EXPECT_EQ(p[size_t(0 * 16 + 0)], 0);      // outside untouched
    EXPECT_EQ(orbsim::errorCount(), 0u);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

TEST_F(FrameTest, FillWithoutAnImageWindowDoesNothing)
{
    StartWithBoard(btSorvik);
    MainForm->NewNotesWindow("Notes 0");
    ModifyImageForm->BitBtn1->click();
    EXPECT_TRUE(LogOf("orbBufPut2d").empty());
    EXPECT_TRUE(dialogs.Boxes().empty());
}

// ---- image calculation ----------------------------------------------------------------------

TEST(ImageCalculation, Operations)
{
    const uint8_t a[4] = {10, 200, 3, 255};
    const uint8_t b[4] = {200, 10, 5, 255};
    uint8_t out[4];
    CalculateImages(ioDifference, a, b, out, 4);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{190, 190, 2, 0}));
    CalculateImages(ioMean, a, b, out, 4);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{105, 105, 4, 255}));
    CalculateImages(ioGeometric, a, b, out, 4);
    // Truncated, not rounded: sqrt 15 = 3.87 gives 3.
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{44, 44, 3, 255}));
}

TEST_F(FrameTest, CalculationListsTheWindowsOfTheActiveSizeAndMakesTheResult)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* a = MainForm->NewImageWindow("A", 4, 2);
    MainForm->NewImageWindow("Other size", 5, 2);
    MainForm->NewNotesWindow("Notes 0");
    TMDIImageChildForm* b = MainForm->NewImageWindow("B", 4, 2);
    Put(a, {10, 200, 3, 255, 0, 1, 2, 3});
    Put(b, {200, 10, 5, 255, 9, 9, 9, 9});
    ASSERT_EQ(MainForm->ActiveImageWindow(), b);
    ASSERT_TRUE(Enabled("Calculation..."));

    QStringList sources1, sources2, operations;
    dialogs.AnswerModal([&](QDialog& d) {
        auto& f = dynamic_cast<TImageCalculationForm&>(d);
        for (int i = 0; i < f.Source1ComboBox->count(); ++i) {
            sources1 << f.Source1ComboBox->itemText(i);
            sources2 << f.Source2ComboBox->itemText(i);
        }
        for (int i = 0; i < f.OperationComboBox->count(); ++i)
            operations << f.OperationComboBox->itemText(i);
        f.Source1ComboBox->setCurrentIndex(0);   // A
        f.Source2ComboBox->setCurrentIndex(1);   // B
        f.OperationComboBox->setCurrentIndex(ioDifference);
        return int(mrOk);
    });
    RunAction("Calculation...");
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].ClassName, "TImageCalculationForm");
    EXPECT_EQ(dialogs.Modals()[0].Title, "Calculations");
    EXPECT_EQ(sources1, (QStringList{"A", "B"}));
    EXPECT_EQ(sources2, sources1);
    EXPECT_EQ(operations, (QStringList{"Source1 - Source2", "Source1 + Source2", "Source1 * Source2"}));

    TMDIImageChildForm* result = MainForm->FindImageWindow("Result");
    ASSERT_NE(result, nullptr);
    int w = 0, h = 0;
    result->GetImageSize(w, h);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(Pixels(result), (std::vector<uint8_t>{190, 190, 2, 0, 9, 8, 7, 6}));

    // The mean of B with itself, from the result window now active.
    dialogs.AnswerModal([&](QDialog& d) {
        auto& f = dynamic_cast<TImageCalculationForm&>(d);
        f.Source1ComboBox->setCurrentIndex(1);
        f.Source2ComboBox->setCurrentIndex(2);   // "Result"
        f.OperationComboBox->setCurrentIndex(ioMean);
        return int(mrOk);
    });
    RunAction("Calculation...");
    const std::vector<QMdiSubWindow*> children = Children();
    auto* second = qobject_cast<TMDIImageChildForm*>(children.back());
    ASSERT_NE(second, result);
    EXPECT_EQ(second->windowTitle(), "Result");
    EXPECT_EQ(Pixels(second), (std::vector<uint8_t>{195, 100, 3, 127, 9, 8, 8, 7}));
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(FrameTest, CancelledCalculationMakesNothing)
{
    StartWithBoard(btSorvik);
    MainForm->NewImageWindow("A", 4, 2);
    const size_t windows = Children().size();
    RunAction("Calculation...");   // the scripted dialog cancels
    EXPECT_EQ(Children().size(), windows);
    EXPECT_EQ(dialogs.Modals().size(), 1u);
}

TEST_F(FrameTest, CalculationTakesTheListedWindowWhereCaptionsRepeat)
{
    // Two windows titled "Result" of different sizes: the listed one is used, not the
    // first of that caption (whose buffer is larger than the arrays).
    StartWithBoard(btSorvik);
    MainForm->NewImageWindow("Result", 40, 30);
    TMDIImageChildForm* small = MainForm->NewImageWindow("Result", 2, 1);
    Put(small, {100, 50});
    dialogs.AnswerModal([](QDialog& d) {
        auto& f = dynamic_cast<TImageCalculationForm&>(d);
        EXPECT_EQ(f.Source1ComboBox->count(), 1);
        f.OperationComboBox->setCurrentIndex(ioGeometric);
        return int(mrOk);
    });
    RunAction("Calculation...");
    auto* made = qobject_cast<TMDIImageChildForm*>(Children().back());
    EXPECT_EQ(Pixels(made), (std::vector<uint8_t>{100, 50}));
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(FrameTest, CalculationRefusesImagesOfMoreThanOneBytePerPixel)
{
    StartWithBoard(btSorvik);
    MainForm->EnsureImaging();
    auto* wide = new TMDIImageChildForm(nullptr, true, true, true, true, 1, 16, 2, 4);
    wide->setWindowTitle("Wide");
    wide->show();
    dialogs.AnswerModal(mrOk);
    RunAction("Calculation...");
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text,
              "The calculation works on 8-bit images only: \"Wide\" has 16 bits per pixel.");
    EXPECT_EQ(MainForm->FindImageWindow("Result"), nullptr);
}

// ---- histogram command ----------------------------------------------------------------------

TEST_F(FrameTest, HistogramOfTheActiveWindow)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 2, 2);
    Put(w, {10, 20, 10, 20});
    QString mean, stddev, median, pixels, red;
    dialogs.AnswerModal([&](QDialog& d) {
        auto& f = dynamic_cast<THistogramForm&>(d);
        mean = f.MeanLabel->text();
        stddev = f.StdDevLabel->text();
        median = f.MedianLabel->text();
        pixels = f.PixelsLabel->text();
        // The grey counts go into all four channels.
        f.ChannelComboBox->setCurrentIndex(THistogramForm::kBlue);
        f.ChannelComboBoxChange();
        red = f.MeanLabel->text();
        return 1;
    });
    RunAction("Histogram");
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].ClassName, "THistogramForm");
    EXPECT_EQ(dialogs.Modals()[0].Title, "Histogram");
    EXPECT_EQ(mean, "Mean: 15.000");
    EXPECT_EQ(stddev, "StdDev:  5.000");
    EXPECT_EQ(median, "Median: 10");
    EXPECT_EQ(pixels, "Pixels: 4");
    EXPECT_EQ(red, "Mean: 15.000");
}

// ---- actions --------------------------------------------------------------------------------

TEST_F(FrameTest, ImageToolActionsNeedAnActiveImageWindow)
{
    StartWithBoard(btSorvik);
    EXPECT_FALSE(Enabled("Calculation..."));
    EXPECT_FALSE(Enabled("Histogram"));
    EXPECT_FALSE(Enabled("Modify Image"));
    MainForm->NewImageWindow("Buffer 0", 8, 8);
    EXPECT_TRUE(Enabled("Calculation..."));
    EXPECT_TRUE(Enabled("Histogram"));
    EXPECT_TRUE(Enabled("Modify Image"));
    RunAction("Modify Image");
    EXPECT_TRUE(ModifyImageForm->isVisible());
    EXPECT_FALSE(Enabled("Modify Image"));   // the tool is shown
    MainForm->NewNotesWindow("Notes 0");
    EXPECT_FALSE(Enabled("Histogram"));
    EXPECT_EQ(Action("Histogram")->Category, "Image");
    EXPECT_EQ(Action("Control")->Category, "Capture");
}

TEST_F(FrameTest, LiveActionsShowOneFormAndHideTheOther)
{
    StartWithBoard(btSorvik);
    EXPECT_TRUE(Enabled("Real Time Subtract"));
    EXPECT_TRUE(Enabled("Real Time Multiply"));
    RunAction("Real Time Multiply");
    EXPECT_TRUE(MainForm->ImagingOpened);   // opened for the live work
    EXPECT_TRUE(RealTimeMultiplyControlSSForm->isVisible());
    EXPECT_FALSE(Enabled("Real Time Multiply"));
    RunAction("Real Time Subtract");
    EXPECT_TRUE(RealTimeSubtractControlSSForm->isVisible());
    EXPECT_FALSE(RealTimeMultiplyControlSSForm->isVisible());
    EXPECT_FALSE(Enabled("Real Time Subtract"));
    EXPECT_TRUE(Enabled("Real Time Multiply"));
    RealTimeSubtractControlSSForm->hide();
}

TEST_F(FrameTest, LiveAndControlActionsNeedADigitizer)
{
    StartWithBoard(btNoBoardVGA);
    EXPECT_FALSE(Enabled("Real Time Subtract"));
    EXPECT_FALSE(Enabled("Real Time Multiply"));
    EXPECT_FALSE(Enabled("Control"));
}

TEST_F(FrameTest, ControlShowsTheBoardKindsPanel)
{
    StartWithBoard(btDrevanDouble);
    EXPECT_TRUE(Enabled("Control"));
    RunAction("Control");
    EXPECT_TRUE(ControlDrevanForm->isVisible());
    EXPECT_FALSE(ControlSorvikForm->isVisible());
    EXPECT_FALSE(Enabled("Control"));   // a panel is shown
    ControlDrevanForm->hide();
    EXPECT_TRUE(Enabled("Control"));
    // A notes window active: not enabled.
    MainForm->NewNotesWindow("Notes 0");
    EXPECT_FALSE(Enabled("Control"));
    MainForm->NewImageWindow("Buffer 0", 8, 8);
    EXPECT_TRUE(Enabled("Control"));
    EXPECT_EQ(DigitizerPanelOfKind(btLumbra), ControlLumbraForm);
    EXPECT_EQ(DigitizerPanelOfKind(btNoBoardHost), nullptr);
}

TEST_F(FrameTest, ActionsSitInTheCaptureAndImageMenus)
{
    StartWithBoard(btSorvik);
    const QStringList capture = Captions(MainForm->CaptureMenu->actions());
    const int rts = int(capture.indexOf("Real Time Subtract"));
    ASSERT_GE(rts, 1);
    EXPECT_EQ(capture[rts - 1], "-");
    EXPECT_EQ(capture[rts + 1], "Real Time Multiply");
    EXPECT_EQ(capture[rts + 2], "-");
    EXPECT_EQ(capture[rts + 3], "Control");
    EXPECT_TRUE(capture.contains("Grab Multi-Frame"));
    const QStringList image = Captions(MainForm->ImageMenu->actions());
    ASSERT_GE(image.size(), 3);
    EXPECT_EQ(image[0], "Calculation...");
    EXPECT_EQ(image[1], "Histogram");
    const int invert = int(image.indexOf("Invert"));
    if (invert >= 0) {
        EXPECT_EQ(image[invert + 1], "Modify Image");
    }
    EXPECT_TRUE(image.contains("Modify Image"));
    const QStringList bar = Captions(MainForm->ToolBar2->actions());
    const int control = int(bar.indexOf("Control"));
    ASSERT_GE(control, 0);
    EXPECT_EQ(bar[control + 1], "Board Selection...");
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
