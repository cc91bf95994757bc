#include "Calibrateangle.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Forms.h"
#include "Numconv.h"

TCalibrateAngleForm* CalibrateAngleForm = nullptr;

namespace {

constexpr int kColumns = 5;
constexpr int kStartRows = 5;
constexpr int kMinRows = 2;
constexpr int kRowHeight = 24;
constexpr int kColumnWidths[kColumns] = {50, 78, 81, 110, 108};
constexpr double kPi = 3.14159265358979323846;

// Columns of the grid.
enum { kNumberCol = 0, kViewCol = 1, kProjectingCol = 2, kRadCol = 3, kDegCol = 4 };

// One reading of a cell, rounded to float32 and made non-negative. A text that is not a
// number, or a number float32 cannot hold, raises the conversion error.
float ReadingOf(const QString& text)
{
    const double d = StrToFloat(text);
    float v = float(d);
    if (!std::isfinite(v))
        throw EAppError("'" + text.toStdString() + "' is not a valid floating point value");
    if (v < 0) v = -v;
    return v;
}

}  // namespace

// ---- TAngleStringGrid -------------------------------------------------------------------

TAngleStringGrid::TAngleStringGrid(QWidget* parent) : QTableWidget(parent) {}

void TAngleStringGrid::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
        event->accept();
        if (OnEnter) OnEnter();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void TAngleStringGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // The item delegate ends an edit with SubmitModelCache only when Enter was pressed in
    // the editor; leaving the cell any other way gives another hint.
    QTableWidget::closeEditor(editor, hint);
    if (hint == QAbstractItemDelegate::SubmitModelCache && OnEnter) OnEnter();
}

// ---- TCalibrateAngleForm ----------------------------------------------------------------

TCalibrateAngleForm::TCalibrateAngleForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Angle Calibration");
    auto* layout = new QVBoxLayout(this);

    AngleStringGrid = new TAngleStringGrid(this);
    AngleStringGrid->setColumnCount(kColumns);
    AngleStringGrid->horizontalHeader()->hide();
    AngleStringGrid->verticalHeader()->hide();
    AngleStringGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    AngleStringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    AngleStringGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                     QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    int gridWidth = 2 * AngleStringGrid->frameWidth();
    for (int c = 0; c < kColumns; ++c) {
        AngleStringGrid->setColumnWidth(c, kColumnWidths[c]);
        gridWidth += kColumnWidths[c];
    }
    AngleStringGrid->setMinimumWidth(gridWidth + 18);   // room for the vertical scroll bar
    AngleStringGrid->setMinimumHeight(kStartRows * kRowHeight + 2 * AngleStringGrid->frameWidth() + 4);
    SetRowCount(kStartRows);
    AngleStringGrid->OnEnter = [this] { AngleStringGridKeyPress('\r'); };
    layout->addWidget(AngleStringGrid, 1);

    auto* thetaRow = new QHBoxLayout;
    ThetaLabel = new QLabel("Theta = ", this);
    ThetaEdit = new QLineEdit("  0.00000", this);
    // Theta comes from "Compute" only; a typed value would never be saved.
    ThetaEdit->setReadOnly(true);
    thetaRow->addWidget(ThetaLabel);
    thetaRow->addWidget(ThetaEdit, 1);
    thetaRow->addStretch(1);
    layout->addLayout(thetaRow);

    auto* buttons = new QHBoxLayout;
    ComputeAngleBitBtn = new QPushButton("Compute", this);
    ClearBitBtn = new QPushButton("Clear", this);
    BitBtn1 = new QPushButton("Update System", this);
    for (QPushButton* b : {ComputeAngleBitBtn, ClearBitBtn, BitBtn1}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(ComputeAngleBitBtn, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { ComputeAngleBitBtnClick(); }); });
    connect(ClearBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { ClearBitBtnClick(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn1Click(); }); });

    // FormCreate.
    InitGrid();
    AngleStringGrid->setCurrentCell(1, kViewCol);
}

TCalibrateAngleForm::~TCalibrateAngleForm()
{
    if (CalibrateAngleForm == this)
        CalibrateAngleForm = nullptr;
}

// ---- the grid ---------------------------------------------------------------------------

QTableWidgetItem* TCalibrateAngleForm::CellItem(int column, int row)
{
    QTableWidgetItem* item = AngleStringGrid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        AngleStringGrid->setItem(row, column, item);
    }
    return item;
}

void TCalibrateAngleForm::DecorateFixed(int column, int row)
{
    QTableWidgetItem* item = CellItem(column, row);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(palette().button());
    item->setForeground(palette().buttonText());
}

QString TCalibrateAngleForm::Cells(int column, int row) const
{
    const QTableWidgetItem* item = AngleStringGrid->item(row, column);
    return item ? item->text() : QString();
}

void TCalibrateAngleForm::SetCells(int column, int row, const QString& text)
{
    if (column < 0 || column >= ColCount() || row < 0 || row >= RowCount())
        throw EAppError(Format("Grid index out of range (column %d, row %d)", column, row));
    CellItem(column, row)->setText(text);
}

int TCalibrateAngleForm::RowCount() const { return AngleStringGrid->rowCount(); }

int TCalibrateAngleForm::ColCount() const { return AngleStringGrid->columnCount(); }

void TCalibrateAngleForm::SetRowCount(int rows)
{
    if (rows < kMinRows) rows = kMinRows;
    const int before = AngleStringGrid->rowCount();
    AngleStringGrid->setRowCount(rows);
    for (int r = before; r < rows; ++r)
        for (int c = 0; c < ColCount(); ++c) {
            if (r == 0 || c == 0)
                DecorateFixed(c, r);
            else
                CellItem(c, r);
        }
}

void TCalibrateAngleForm::SetColCount(int columns)
{
    if (columns < 2) columns = 2;
    const int before = AngleStringGrid->columnCount();
    AngleStringGrid->setColumnCount(columns);
    for (int c = before; c < columns; ++c)
        for (int r = 0; r < RowCount(); ++r) {
            if (r == 0 || c == 0)
                DecorateFixed(c, r);
            else
                CellItem(c, r);
        }
}

void TCalibrateAngleForm::InitGrid()
{
    SetCells(kViewCol, 0, "View");
    SetCells(kProjectingCol, 0, "Projecting");
    SetCells(kRadCol, 0, "Angle(rad)");
    SetCells(kDegCol, 0, "Angle(deg)");
    for (int r = 1; r < RowCount(); ++r) SetCells(kNumberCol, r, IntToStr(r));
}

void TCalibrateAngleForm::AngleStringGridKeyPress(char key)
{
    if (key != '\r') return;
    int row = AngleStringGrid->currentRow();
    if (row < 0) row = 0;
    int column = AngleStringGrid->currentColumn();
    if (column < 1) column = kViewCol;
    if (row >= RowCount() - 1) SetRowCount(row + 2);
    const int next = row + 1;
    SetCells(kNumberCol, next, IntToStr(next));
    AngleStringGrid->setCurrentCell(next, column);
    AngleStringGrid->scrollToItem(AngleStringGrid->item(next, column));
}

// ---- commands ---------------------------------------------------------------------------

void TCalibrateAngleForm::ComputeAngleBitBtnClick()
{
    // Every row is read before anything changes: a bad reading leaves the grid, Theta and
    // its edit as they were.
    struct RowAngle {
        bool counted = false;
        float angle = 0;
    };
    std::vector<RowAngle> rows(static_cast<size_t>(RowCount()));
    double sum = 0.0;
    int count = 0;
    for (int r = 1; r < RowCount(); ++r) {
        const QString view = Cells(kViewCol, r);
        const QString projecting = Cells(kProjectingCol, r);
        if (view.trimmed().isEmpty() || projecting.trimmed().isEmpty()) continue;
        const float v = ReadingOf(view);
        const float p = ReadingOf(projecting);
        RowAngle& a = rows[size_t(r)];
        a.counted = true;
        a.angle = float(std::atan2(double(p), double(v)));
        sum += a.angle;
        ++count;
    }

    for (int r = 1; r < RowCount(); ++r) {
        const RowAngle& a = rows[size_t(r)];
        if (!a.counted) {
            for (int c = kViewCol; c <= kDegCol; ++c) SetCells(c, r, QString());
            continue;
        }
        SetCells(kRadCol, r, QFormat("%10.8f", double(a.angle)));
        SetCells(kDegCol, r, QFormat("%10.8f", double(a.angle) * 180.0 * (1.0 / kPi)));
    }
    Theta = count > 0 ? sum / count : 0.0;
    ThetaEdit->setText(QFormat("%10.8f", Theta));
}

void TCalibrateAngleForm::ClearBitBtnClick()
{
    for (int c = 1; c < ColCount(); ++c)
        for (int r = 1; r < RowCount(); ++r) SetCells(c, r, QString());
    SetRowCount(kStartRows);
    SetColCount(kColumns);
    AngleStringGrid->setCurrentCell(1, kViewCol);
}

void TCalibrateAngleForm::BitBtn1Click()
{
    // A Theta of 0 is no projection angle: it would only replace the stored calibration
    // with a geometry that divides by its sine.
    if (Theta == 0.0)
        throw EAppError("There is no angle to save: enter the readings and press \"Compute\" first!");
    if (MessageBox("Save Theta to convert parameters?", "Confirm", MB_YESNOCANCEL | MB_ICONQUESTION) != mrYes)
        return;
    WriteTheta(Theta);
}
