// The angle calibration: the grid, the angles of the readings, the mean Theta, bad and
// half-filled rows, Clear, Enter adding rows, and saving Theta.
#include "gui_main.h"
#include "Calibrateangle.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "registry.h"

namespace {

class Calibrate : public ::testing::Test {
protected:
    // Fills the two reading cells of a row.
    void Reading(int row, const QString& view, const QString& projecting)
    {
        form_.SetCells(1, row, view);
        form_.SetCells(2, row, projecting);
    }
    static void SendKey(QWidget* to, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(to, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(to, &release);
    }

    std::shared_ptr<qsrf::registry::MemoryBackend> store_ = std::make_shared<qsrf::registry::MemoryBackend>();
    qsrf::registry::ScopedProcessBackend scoped_{store_};
    TScriptedDialogs dialogs_;
    ScopedDialogs scopedDialogs_{&dialogs_};
    TCalibrateAngleForm form_;
};

// ---- the form as made -------------------------------------------------------------------

TEST_F(Calibrate, GridStartsWithHeadersAndRowNumbers)
{
    EXPECT_EQ(form_.windowTitle(), "Angle Calibration");
    EXPECT_TRUE(form_.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form_.RowCount(), 5);
    EXPECT_EQ(form_.ColCount(), 5);
    const int widths[5] = {50, 78, 81, 110, 108};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(form_.AngleStringGrid->columnWidth(c), widths[c]) << c;
    EXPECT_EQ(form_.Cells(0, 0), "");
    EXPECT_EQ(form_.Cells(1, 0), "View");
    EXPECT_EQ(form_.Cells(2, 0), "Projecting");
    EXPECT_EQ(form_.Cells(3, 0), "Angle(rad)");
    EXPECT_EQ(form_.Cells(4, 0), "Angle(deg)");
    for (int r = 1; r < 5; ++r) EXPECT_EQ(form_.Cells(0, r), QString::number(r));
    EXPECT_EQ(form_.ThetaLabel->text(), "Theta = ");
    EXPECT_EQ(form_.ThetaEdit->text(), "  0.00000");
    EXPECT_EQ(form_.ComputeAngleBitBtn->text(), "Compute");
    EXPECT_EQ(form_.ClearBitBtn->text(), "Clear");
    EXPECT_EQ(form_.BitBtn1->text(), "Update System");
    EXPECT_EQ(form_.Theta, 0.0);
}

TEST_F(Calibrate, FixedRowAndColumnAreNotEditable)
{
    const auto editable = [this](int c, int r) {
        return (form_.AngleStringGrid->item(r, c)->flags() & Qt::ItemIsEditable) != 0;
    };
    EXPECT_FALSE(editable(0, 0));
    EXPECT_FALSE(editable(2, 0));
    EXPECT_FALSE(editable(0, 3));
    EXPECT_TRUE(editable(1, 1));
    EXPECT_TRUE(editable(4, 4));
}

// ---- Compute ----------------------------------------------------------------------------

TEST_F(Calibrate, EqualReadingsGiveFortyFiveDegreesInFloatPrecision)
{
    Reading(1, "1", "1");
    Reading(2, "-2", "2");   // absolute values
    form_.ComputeAngleBitBtnClick();
    for (int r = 1; r <= 2; ++r) {
        EXPECT_EQ(form_.Cells(3, r), "0.78539819") << r;
        EXPECT_EQ(form_.Cells(4, r), "45.00000125") << r;   // the float32 angle in degrees
    }
    EXPECT_EQ(form_.Theta, double(0.78539818525314331f));
    EXPECT_EQ(form_.ThetaEdit->text(), "0.78539819");
}

TEST_F(Calibrate, ThetaIsTheMeanOfTheCountedRows)
{
    Reading(1, "1", "1");
    Reading(3, "4", "3");
    Reading(4, " 2 ", "-2");
    form_.ComputeAngleBitBtnClick();
    EXPECT_EQ(form_.Cells(3, 3), "0.64350110");
    EXPECT_EQ(form_.Cells(4, 3), "36.86989731");
    EXPECT_DOUBLE_EQ(form_.Theta, 0.7380991578102112);
    EXPECT_EQ(form_.ThetaEdit->text(), "0.73809916");
    // Compute again: the mean is of this run only, not added to the last one.
    form_.ComputeAngleBitBtnClick();
    EXPECT_DOUBLE_EQ(form_.Theta, 0.7380991578102112);
}

TEST_F(Calibrate, HalfFilledRowIsEmptiedAndDoesNotCount)
{
    Reading(1, "1", "1");
    Reading(2, "5", "");
    form_.SetCells(3, 2, "stale");
    form_.SetCells(4, 2, "stale");
    Reading(3, "", "7");
    Reading(4, "   ", "3");   // blanks only count as empty
    form_.ComputeAngleBitBtnClick();
    for (int r = 2; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) EXPECT_EQ(form_.Cells(c, r), "") << c << "," << r;
    EXPECT_EQ(form_.Cells(0, 2), "2");   // the row number stays
    EXPECT_EQ(form_.Theta, double(0.78539818525314331f));
}

TEST_F(Calibrate, NoFilledRowGivesThetaZero)
{
    form_.ComputeAngleBitBtnClick();
    EXPECT_EQ(form_.Theta, 0.0);
    EXPECT_EQ(form_.ThetaEdit->text(), "0.00000000");
}

TEST_F(Calibrate, BadReadingChangesNeitherGridNorTheta)
{
    Reading(1, "1", "1");
    form_.ComputeAngleBitBtnClick();
    Reading(1, "4", "3");
    Reading(2, "1", "abc");
    Reading(3, "1", "");
    try {
        form_.ComputeAngleBitBtnClick();
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
    }
    EXPECT_EQ(form_.Theta, double(0.78539818525314331f));
    EXPECT_EQ(form_.ThetaEdit->text(), "0.78539819");
    EXPECT_EQ(form_.Cells(3, 1), "0.78539819");   // the row before the bad one is not redone
    EXPECT_EQ(form_.Cells(1, 3), "1");            // nor the half-filled one after it emptied

    // The button reports it to the operator through the application's error box.
    form_.ComputeAngleBitBtn->click();
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].Text, "'abc' is not a valid floating point value.");
    EXPECT_EQ(dialogs_.Boxes()[0].Flags & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(form_.Theta, double(0.78539818525314331f));
}

TEST_F(Calibrate, ReadingBeyondFloatRangeIsRefused)
{
    Reading(1, "1e39", "1");
    EXPECT_THROW(form_.ComputeAngleBitBtnClick(), EAppError);
    EXPECT_EQ(form_.Theta, 0.0);
    EXPECT_EQ(form_.Cells(3, 1), "");
}

// ---- Clear and Enter --------------------------------------------------------------------

TEST_F(Calibrate, ClearEmptiesTheCellsAndGoesBackToFiveRows)
{
    form_.SetRowCount(8);
    Reading(1, "1", "1");
    Reading(7, "2", "3");
    form_.ComputeAngleBitBtnClick();
    const double theta = form_.Theta;
    form_.ClearBitBtnClick();
    EXPECT_EQ(form_.RowCount(), 5);
    EXPECT_EQ(form_.ColCount(), 5);
    for (int r = 1; r < 5; ++r) {
        EXPECT_EQ(form_.Cells(0, r), QString::number(r));
        for (int c = 1; c < 5; ++c) EXPECT_EQ(form_.Cells(c, r), "") << c << "," << r;
    }
    EXPECT_EQ(form_.Cells(1, 0), "View");
    EXPECT_EQ(form_.Theta, theta);   // Clear keeps the computed angle
    // Rows added again come back empty.
    form_.SetRowCount(8);
    EXPECT_EQ(form_.Cells(1, 7), "");
}

TEST_F(Calibrate, EnterOnTheLastRowAddsANumberedRow)
{
    form_.AngleStringGrid->setCurrentCell(4, 2);
    form_.AngleStringGridKeyPress('\r');
    EXPECT_EQ(form_.RowCount(), 6);
    EXPECT_EQ(form_.Cells(0, 5), "5");
    EXPECT_EQ(form_.AngleStringGrid->currentRow(), 5);
    EXPECT_EQ(form_.AngleStringGrid->currentColumn(), 2);
    // A new row takes readings and counts.
    Reading(5, "1", "1");
    form_.ComputeAngleBitBtnClick();
    EXPECT_EQ(form_.Cells(3, 5), "0.78539819");
}

TEST_F(Calibrate, EnterInsideTheGridOnlyMoves)
{
    form_.AngleStringGrid->setCurrentCell(2, 1);
    form_.AngleStringGridKeyPress('\r');
    EXPECT_EQ(form_.RowCount(), 5);
    EXPECT_EQ(form_.AngleStringGrid->currentRow(), 3);
    form_.AngleStringGridKeyPress('a');   // other keys do nothing here
    EXPECT_EQ(form_.AngleStringGrid->currentRow(), 3);
}

TEST_F(Calibrate, ReturnKeyOnTheGridAndInItsEditor)
{
    form_.show();
    form_.AngleStringGrid->setFocus();
    form_.AngleStringGrid->setCurrentCell(4, 1);
    SendKey(form_.AngleStringGrid, Qt::Key_Return);
    EXPECT_EQ(form_.RowCount(), 6);
    EXPECT_EQ(form_.AngleStringGrid->currentRow(), 5);

    // Enter that ends an edit commits the text and moves once.
    QTableWidgetItem* item = form_.AngleStringGrid->item(5, 1);
    form_.AngleStringGrid->editItem(item);
    auto* editor = form_.AngleStringGrid->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("2.5");
    SendKey(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(form_.Cells(1, 5), "2.5");
    EXPECT_EQ(form_.RowCount(), 7);
    EXPECT_EQ(form_.Cells(0, 6), "6");
    EXPECT_EQ(form_.AngleStringGrid->currentRow(), 6);
    form_.hide();
}

// ---- Update System ----------------------------------------------------------------------

TEST_F(Calibrate, UpdateSystemWritesThetaOnYesOnly)
{
    Reading(1, "4", "3");
    form_.ComputeAngleBitBtnClick();
    dialogs_.AnswerBox(mrNo);
    form_.BitBtn1Click();
    dialogs_.AnswerBox(mrCancel);
    form_.BitBtn1Click();
    EXPECT_EQ(ReadConvertPara().Theta, 0.7854);
    dialogs_.AnswerBox(mrYes);
    form_.BitBtn1Click();
    EXPECT_EQ(ReadConvertPara().Theta, double(0.64350110292434692f));
    EXPECT_EQ(ReadConvertPara().Lp0, 10.0);   // the rest of the group is kept
    const auto boxes = dialogs_.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const auto& b : boxes) {
        EXPECT_EQ(b.Text, "Save Theta to convert parameters?");
        EXPECT_EQ(b.Flags & MB_BUTTONMASK, MB_YESNOCANCEL);
    }
}

TEST_F(Calibrate, UpdateSystemWithoutAnAngleWritesNothing)
{
    WriteTheta(0.6);
    try {
        form_.BitBtn1Click();   // before any Compute
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_NE(std::string(e.Message()).find("Compute"), std::string::npos);
    }
    form_.ComputeAngleBitBtnClick();   // no readings: Theta 0
    EXPECT_THROW(form_.BitBtn1Click(), EAppError);
    EXPECT_TRUE(dialogs_.Boxes().empty());   // not even asked
    EXPECT_EQ(ReadConvertPara().Theta, 0.6);
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
