#pragma once
// The projection-angle calibration "Angle Calibration": a table of paired readings on the
// view and the projecting side becomes the projection angle Theta (the mean of the rows'
// angles, in radians), which "Update System" saves to the conversion parameters.
//
// The grid works like the class library's string grid: cells are addressed (column, row),
// row 0 and column 0 are fixed (the header texts and the row numbers), the others editable.
// "Compute" parses every filled row first; a reading that is not a number raises EAppError
// and changes neither the grid nor Theta. A row with only one of its two readings is
// emptied and does not count.

#include <QDialog>
#include <QString>
#include <QTableWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The string grid of the form: Enter (while editing a cell or not) calls OnEnter.
class TAngleStringGrid : public QTableWidget {
public:
    explicit TAngleStringGrid(QWidget* parent);
    std::function<void()> OnEnter;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
};

class TCalibrateAngleForm : public QDialog {
    Q_OBJECT
public:
    explicit TCalibrateAngleForm(QWidget* owner = nullptr);
    ~TCalibrateAngleForm() override;

    // The grid as the class library addresses it: Cells(column, row).
    QString Cells(int column, int row) const;
    void SetCells(int column, int row, const QString& text);
    int RowCount() const;
    int ColCount() const;
    // Rows (and their cells) added or removed at the end; never below 2 (the fixed row and
    // one reading row).
    void SetRowCount(int rows);
    void SetColCount(int columns);

    // Header texts and row numbers.
    void InitGrid();
    // Enter ('\r') moves to the next row, adding and numbering one after the last.
    void AngleStringGridKeyPress(char key);
    // "Compute".
    void ComputeAngleBitBtnClick();
    // "Clear".
    void ClearBitBtnClick();
    // "Update System": asks, then saves Theta with WriteTheta.
    void BitBtn1Click();

    // The mean angle of the last "Compute" (0 until then), radians.
    double Theta = 0.0;

    TAngleStringGrid* AngleStringGrid;
    QLabel* ThetaLabel;
    QLineEdit* ThetaEdit;
    QPushButton* ComputeAngleBitBtn;
    QPushButton* ClearBitBtn;
    QPushButton* BitBtn1;

private:
    QTableWidgetItem* CellItem(int column, int row);
    void DecorateFixed(int column, int row);
};

extern TCalibrateAngleForm* CalibrateAngleForm;
