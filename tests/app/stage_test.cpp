// The motor stage panel: count arithmetic, travel limits, stored positions, homing at
// start-up, going home at shut-down, step entry and set-home.
#include "gui_main.h"
#include "Controlpi.h"

#include <QApplication>
#include <QKeyEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "qflw32d.h"
#include "registry.h"

namespace {

class Stage : public ::testing::Test {
protected:
    void SetUp() override { qflsim::reset(); }
    void TearDown() override
    {
        panel_.reset();
        qflsim::reset();
    }
    // Makes the panel (start-up homing included), then clears the controller's log.
    TControlPIForm& Make()
    {
        panel_ = std::make_unique<TControlPIForm>();
        qflsim::clearCallLog();
        return *panel_;
    }
    static std::vector<std::string> Log() { return qflsim::callLog(); }

    std::shared_ptr<qsrf::registry::MemoryBackend> store_ = std::make_shared<qsrf::registry::MemoryBackend>();
    qsrf::registry::ScopedProcessBackend scoped_{store_};
    TScriptedDialogs dialogs_;
    ScopedDialogs scopedDialogs_{&dialogs_};
    std::unique_ptr<TControlPIForm> panel_;
};

// ---- count arithmetic and limits --------------------------------------------------------

TEST_F(Stage, HundredMicrometresAreWholeCounts)
{
    TControlPIForm& p = Make();
    ASSERT_EQ(p.CurrentPos[1], 0.5);
    EXPECT_TRUE(p.MoveAxis(1, 100, true, false));
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(1, 1689)", "QflExecute(1)"}));
    EXPECT_EQ(p.CurrentPos[1], 0.5999934760552497);
    EXPECT_EQ(ReadAxisCurrentPos(1), 0.5999934760552497);   // stored at once
    EXPECT_EQ(qflsim::position(1), 1689);

    qflsim::clearCallLog();
    EXPECT_TRUE(p.MoveAxis(1, -100, false, false));
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(1, -1689)"}));
    EXPECT_DOUBLE_EQ(p.CurrentPos[1], 0.5);
}

TEST_F(Stage, MoveOnAnUnselectedAxisIsStoredAndSelectSwitches)
{
    TControlPIForm& p = Make();
    EXPECT_TRUE(p.MoveAxis(2, 100, false, false));
    EXPECT_EQ(p.SelectedAxis(), 1);
    EXPECT_EQ(ReadAxisCurrentPos(2), 0.5999934760552497);
    EXPECT_TRUE(p.MoveAxis(3, 0, false, true));
    EXPECT_EQ(p.SelectedAxis(), 3);
    EXPECT_EQ(Log().back(), "QflMoveRelative(3, 0)");   // a zero move still sends 0 counts
}

TEST_F(Stage, ExactlyEndIsAcceptedOneCountMoreRefused)
{
    TAxisParameters a;
    a.CountPerUm = 2;
    WriteAxisParameters(1, a);
    TControlPIForm& p = Make();
    EXPECT_FALSE(p.MoveAxis(1, 500.5, true, false));   // 1001 counts: 1.0005 mm
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(p.CurrentPos[1], 0.5);
    EXPECT_EQ(ReadAxisCurrentPos(1), 0.5);
    EXPECT_NE(p.LastMoveError().indexOf("outside"), -1);
    EXPECT_TRUE(p.MoveAxis(1, 500, false, false));      // 1000 counts: exactly End
    EXPECT_EQ(p.CurrentPos[1], 1.0);
    EXPECT_TRUE(p.MoveAxis(1, -1000, false, false));    // exactly Start
    EXPECT_FALSE(p.MoveAxis(1, -0.5, false, false));
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(1, 1000)", "QflMoveRelative(1, -2000)"}));
}

TEST_F(Stage, ClosedControllerRefusesMovesAndKeepsStoredPositions)
{
    TAxisParameters a;
    a.CurrentPos = 0.7;
    WriteAxisParameters(1, a);
    qflsim::setOpenFails(true);
    TControlPIForm& p = Make();
    EXPECT_FALSE(p.PI_InSpeedButton->isEnabled());
    EXPECT_FALSE(p.PI_OutSpeedButton->isEnabled());
    EXPECT_FALSE(p.AdvancedControlButton->isEnabled());
    EXPECT_EQ(ReadAxisCurrentPos(1), 0.7);   // start-up homing was refused
    EXPECT_FALSE(p.MoveAxis(1, 10, true, false));
    EXPECT_NE(p.LastMoveError().indexOf("not open"), -1);
    panel_.reset();
    EXPECT_EQ(ReadAxisCurrentPos(1), 0.7);   // nor did going home change it
}

// ---- start-up and shut-down -------------------------------------------------------------

TEST_F(Stage, StartUpDrivesEachAxisFromItsStoredPlaceHome)
{
    TAxisParameters a;
    a.CurrentPos = 0.6;
    WriteAxisParameters(1, a);
    a.CurrentPos = 0.5;
    WriteAxisParameters(2, a);
    panel_ = std::make_unique<TControlPIForm>();
    const std::vector<std::string> expected = {
        "QflOpen()", "QflConfigure(9)", "QflInitialize()",
        "QflSelectAxis(1)", "QflMoveRelative(1, -1689)", "QflExecute(1)", "QflCommand(\"1DH\")",
        "QflSelectAxis(2)", "QflMoveRelative(2, 0)", "QflExecute(2)", "QflCommand(\"2DH\")",
        "QflSelectAxis(3)", "QflMoveRelative(3, 0)", "QflExecute(3)", "QflCommand(\"3DH\")",
        "QflSelectAxis(4)", "QflMoveRelative(4, 0)", "QflExecute(4)", "QflCommand(\"4DH\")"};
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(panel_->StepEdit->text(), " 1.00000000000");
    EXPECT_EQ(panel_->StepLabel->text(), "Step= " + panel_->StepEdit->text());
    EXPECT_EQ(panel_->windowTitle(), "Control Motor");
}

TEST_F(Stage, ShutDownSendsAllHomeAndStoresHomePositions)
{
    TControlPIForm& p = Make();
    ASSERT_TRUE(p.MoveAxis(2, 200, false, false));
    ASSERT_TRUE(p.MoveAxis(1, -50, false, false));
    qflsim::clearCallLog();
    panel_.reset();
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflCommand(\"GH\")"}));
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(ReadAxisCurrentPos(n), 0.5) << n;
}

// ---- gauge ------------------------------------------------------------------------------

TEST_F(Stage, GaugeFollowsDirection)
{
    TControlPIForm& p = Make();
    p.CurrentPos[1] = 0.25;
    p.ShowAxisPosition();
    EXPECT_EQ(p.PositionGauge->value(), 225);
    EXPECT_EQ(p.PositionLabel->text(), " 0.25000000000");
    EXPECT_EQ(ReadAxisCurrentPos(1), 0.25);
    p.Direction[1] = false;
    p.ShowAxisPosition();
    EXPECT_EQ(p.PositionGauge->value(), 75);
    p.Start[1] = p.End[1] = 0.2;   // no span: 1 is used
    p.ShowAxisPosition();
    EXPECT_EQ(p.PositionGauge->value(), 15);
}

// ---- step entry -------------------------------------------------------------------------

TEST_F(Stage, StepIsSnappedToWholeCountsAndStored)
{
    TControlPIForm& p = Make();
    p.StepEdit->setText("3");
    p.AdjustStepBitBtnClick();
    EXPECT_EQ(p.StepEdit->text(), " 3.01934119527");
    EXPECT_EQ(p.StepLabel->text(), "Step= " " 3.01934119527");
    EXPECT_DOUBLE_EQ(p.Step[1], 3.0193411952739675);
    EXPECT_DOUBLE_EQ(ReadAxisParameters(1).Step, 3.0193411952739675);
    p.PI_InSpeedButtonClick();    // Direction true: forward
    p.PI_OutSpeedButtonClick();
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(1, 51)", "QflMoveRelative(1, -51)"}));
}

TEST_F(Stage, TooLargeStepIsRefused)
{
    TControlPIForm& p = Make();
    p.StepEdit->setText("3000");
    EXPECT_NO_THROW(p.StepEditChange());
    p.StepEdit->setText("3000.5");
    try {
        p.StepEditChange();
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "Too large Step!!! Danger!!!");
    }
    EXPECT_EQ(p.StepEdit->text(), "3000.0");
    p.StepEdit->setText("");
    EXPECT_NO_THROW(p.StepEditChange());   // empty text is let through while typing
    EXPECT_THROW(p.StepEditExit(), EAppError);   // but not on leaving the field
    p.StepEdit->setText("abc");
    try {
        p.StepEditChange();
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
    }
    p.StepEdit->setText("");
    p.AdjustStepBitBtnClick();
    EXPECT_EQ(p.Step[1], 0.0);
    EXPECT_EQ(ReadAxisParameters(1).Step, 1.0);   // nothing stored
}

// Scripted boxes that, like a real message box, take the focus from the step field while
// they are up: the field ends its editing then.
class FocusTakingDialogs : public TScriptedDialogs {
public:
    explicit FocusTakingDialogs(QLineEdit* field) : field_(field) {}
    int MessageBox(const QString& text, const QString& caption, int flags) override
    {
        const int result = TScriptedDialogs::MessageBox(text, caption, flags);
        emit field_->editingFinished();
        return result;
    }

private:
    QLineEdit* field_;
};

// One keystroke (key, giving ch) at the end of the field's text.
void TypeAtEnd(QLineEdit* field, const QString& text, Qt::Key key, const QString& ch)
{
    field->setText(text);
    field->setCursorPosition(int(text.size()));
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, ch);
    QApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, ch);
    QApplication::sendEvent(field, &release);
}

TEST_F(Stage, OneBadKeystrokeInTheStepGivesOneMessage)
{
    TControlPIForm& p = Make();
    FocusTakingDialogs boxes(p.StepEdit);
    ScopedDialogs scoped(&boxes);
    TypeAtEnd(p.StepEdit, "3", Qt::Key_X, "x");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Text, "'3x' is not a valid floating point value.");
    EXPECT_EQ(p.StepEdit->text(), "3x");                 // what was typed stays
    EXPECT_DOUBLE_EQ(ReadAxisParameters(1).Step, 1.0);   // nothing stored

    // Mended, the field is taken up as usual when it is left.
    TypeAtEnd(p.StepEdit, "3x", Qt::Key_Backspace, "");
    EXPECT_EQ(p.StepEdit->text(), "3");
    emit p.StepEdit->editingFinished();
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_DOUBLE_EQ(ReadAxisParameters(1).Step, 3.0193411952739675);

    // A step above 3000: one message, and the field, left while it was up, takes the limit.
    boxes.Clear();
    TypeAtEnd(p.StepEdit, "3000", Qt::Key_1, "1");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Text, "Too large Step!!! Danger!!!");
    EXPECT_EQ(p.StepEdit->text(), "2999.98188996309");
    EXPECT_DOUBLE_EQ(p.Step[1], std::trunc(3000 * 16.89110196616 + 0.5) / 16.89110196616);
    EXPECT_DOUBLE_EQ(ReadAxisParameters(1).Step, p.Step[1]);
}

TEST_F(Stage, AxisFourShowsDegreeUnits)
{
    TControlPIForm& p = Make();
    p.MotorRadioGroup->SetItemIndex(3);
    p.MotorRadioGroupClick();
    EXPECT_EQ(p.MicroMLabel->text(), "deg");
    EXPECT_EQ(p.MicroMLabel2->text(), "m-deg");
    EXPECT_EQ(p.MicroULabel->text(), "");
    p.MotorRadioGroup->SetItemIndex(0);
    p.MotorRadioGroupClick();
    EXPECT_EQ(p.MicroMLabel->text(), "mm");
    EXPECT_EQ(p.MicroMLabel3->text(), "   m");
    EXPECT_EQ(p.MicroULabel2->text(), "m");
}

// ---- set home ---------------------------------------------------------------------------

TEST_F(Stage, SetHomeShiftsTheGeometryOfTheViewAxis)
{
    TControlPIForm& p = Make();
    const TConvertPara before = ReadConvertPara();   // PI View is axis 3
    p.MotorRadioGroup->SetItemIndex(2);
    ASSERT_TRUE(p.MoveAxis(3, 100, false, false));
    dialogs_.AnswerBox(mrNo);
    p.SetHomeBitBtnClick();
    EXPECT_EQ(ReadAxisHomePos(3), 0.5);
    EXPECT_EQ(dialogs_.Boxes().at(0).Flags & MB_BUTTONMASK, MB_YESNO);
    EXPECT_TRUE(dialogs_.Boxes().at(0).Text.startsWith("Do you really want to SET CurrentPos as HomePos ?\n"));
    qflsim::clearCallLog();
    dialogs_.AnswerBox(mrYes);
    p.SetHomeBitBtnClick();
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflCommand(\"3DH\")"}));
    EXPECT_EQ(ReadAxisHomePos(3), 0.5999934760552497);
    const TConvertPara after = ReadConvertPara();
    EXPECT_DOUBLE_EQ(after.Zc0, before.Zc0 + 0.0999934760552497);
    EXPECT_DOUBLE_EQ(after.Zcf0, before.Zcf0 - 0.0999934760552497);
    EXPECT_EQ(after.Lp0, before.Lp0);
}

}  // namespace

// ---- collapsing panel -------------------------------------------------------------------

TEST_F(Stage, PanelStartsCollapsedBelowTheBevelAndExpandsToItsDesignedHeight)
{
    TControlPIForm& p = Make();
    const int collapsed = p.SpaceBevel->geometry().top() + 25;
    ASSERT_GT(p.FullHeight, collapsed);
    EXPECT_EQ(p.height(), collapsed);
    EXPECT_EQ(p.AdvancedControlButton->text(), ">>>");

    p.AdvancedControlButton->click();
    EXPECT_EQ(p.height(), p.FullHeight);
    EXPECT_EQ(p.AdvancedControlButton->text(), "<<<");
    EXPECT_TRUE(p.StepLabel->isHidden());
    EXPECT_TRUE(p.MicroULabel->isHidden());
    EXPECT_TRUE(p.MicroMLabel2->isHidden());
    // The hidden labels keep their room: the rows below stay where they were.
    EXPECT_EQ(p.SpaceBevel->geometry().top() + 25, collapsed);

    p.AdvancedControlButton->click();
    EXPECT_EQ(p.height(), collapsed);
    EXPECT_EQ(p.AdvancedControlButton->text(), ">>>");
    EXPECT_FALSE(p.StepLabel->isHidden());
}

TEST_F(Stage, CollapsedHeightSurvivesShowing)
{
    TControlPIForm& p = Make();
    const int collapsed = p.height();
    p.show();
    QApplication::processEvents();
    EXPECT_EQ(p.height(), collapsed);
    // The set-home button lies below the cut.
    EXPECT_GT(p.SetHomeBitBtn->mapTo(&p, QPoint(0, 0)).y(), collapsed);
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
