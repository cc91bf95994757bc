#include "Computepara.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Numconv.h"
#include "Paramforms.h"
#include "Phaseshiftmoire.h"

TQuickStartComputeParaForm::TQuickStartComputeParaForm(TPhaseShiftMoire* project, QWidget* owner)
    : QDialog(owner, Qt::Dialog), project_(project)
{
    setWindowTitle("Quick Start Compute Parameters");
    TComputePara c;
    if (project_) {
        const TPsmHeader& h = project_->Header();
        c.StartX = h.StartX;
        c.StartY = h.StartY;
        c.StartPointAuto = h.StartPointAuto != 0;
        c.UnwrapMethod = h.UnwrapMethod;
        c.ThresholdAuto = h.ThresholdAuto != 0;
        c.Threshold = h.Threshold;
    } else {
        c = ReadComputePara();
    }
    auto* layout = new QFormLayout(this);
    StartXEdit = AddEditRow(this, layout, "Start X", IntToStr(c.StartX));
    StartYEdit = AddEditRow(this, layout, "Start Y", IntToStr(c.StartY));
    StartPointAutoCheckBox = new QCheckBox("Auto", this);
    layout->addRow(StartPointAutoCheckBox);
    UnwrapMethodRadioGroup = new TRadioGroup("  Method  ", {"Simple Unwrap", "Complicated Unwrap"}, 1, this);
    UnwrapMethodRadioGroup->SetItemIndex(c.UnwrapMethod);
    layout->addRow(UnwrapMethodRadioGroup);
    MaskThresholdAutoCheckBox = new QCheckBox("AutoThreshold", this);
    layout->addRow(MaskThresholdAutoCheckBox);
    MaskThresholdEdit = AddEditRow(this, layout, "Threshold", IntToStr(c.Threshold));
    AddOkCancel(this, layout);
    StartPointAutoCheckBox->setChecked(c.StartPointAuto);
    MaskThresholdAutoCheckBox->setChecked(c.ThresholdAuto);
    StartPointAutoCheckBoxClick();
    MaskThresholdAutoCheckBoxClick();
    connect(StartPointAutoCheckBox, &QCheckBox::toggled, this, [this] { StartPointAutoCheckBoxClick(); });
    connect(MaskThresholdAutoCheckBox, &QCheckBox::toggled, this, [this] { MaskThresholdAutoCheckBoxClick(); });
}

void TQuickStartComputeParaForm::StartPointAutoCheckBoxClick()
{
    const bool manual = !StartPointAutoCheckBox->isChecked();
    StartXEdit->setEnabled(manual);
    StartYEdit->setEnabled(manual);
}

void TQuickStartComputeParaForm::MaskThresholdAutoCheckBoxClick()
{
    MaskThresholdEdit->setEnabled(!MaskThresholdAutoCheckBox->isChecked());
}

void TQuickStartComputeParaForm::FormClose(int modalResult)
{
    if (modalResult == mrCancel) return;
    TComputePara c;
    c.StartX = StrToInt(StartXEdit->text());
    c.StartY = StrToInt(StartYEdit->text());
    c.StartPointAuto = StartPointAutoCheckBox->isChecked();
    c.UnwrapMethod = UnwrapMethodRadioGroup->ItemIndex();
    c.ThresholdAuto = MaskThresholdAutoCheckBox->isChecked();
    c.Threshold = StrToInt(MaskThresholdEdit->text());
    if (project_ && !c.StartPointAuto &&
        (c.StartX < 0 || c.StartX >= project_->Width() || c.StartY < 0 || c.StartY >= project_->Height()))
        throw EAppError("The start pixel (" + std::to_string(c.StartX) + ", " + std::to_string(c.StartY) +
                        ") lies outside the image of " + std::to_string(project_->Width()) + " x " +
                        std::to_string(project_->Height()) + " pixels!");
    if (project_) {
        TPsmHeader& h = project_->Header();
        h.StartX = c.StartX;
        h.StartY = c.StartY;
        h.StartPointAuto = c.StartPointAuto ? 1 : 0;
        h.UnwrapMethod = c.UnwrapMethod;
        h.ThresholdAuto = c.ThresholdAuto ? 1 : 0;
        h.Threshold = c.Threshold;
        project_->SetModified(true);
        project_->UpdatePresenceFlags();
    }
    WriteComputePara(c);
}

int TQuickStartComputeParaForm::Execute()
{
    const int r = ShowModal(*this);
    FormClose(r);
    return r;
}

TQuickStartConvertParaForm::TQuickStartConvertParaForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Quick Start Convert Parameters");
    const TConvertPara c = ReadConvertPara();
    auto* layout = new QGridLayout(this);

    QGroupBox* system = NewRowGroup(this, "System Parameters");
    QFormLayout* rows = GroupRows(system);
    Zc0Edit = AddEditRow(system, rows, "Zc0", FloatToStr(c.Zc0));
    Zcf0Edit = AddEditRow(system, rows, "Zcf0", FloatToStr(c.Zcf0));
    ThetaEdit = AddEditRow(system, rows, "Theta", FloatToStr(c.Theta));
    Lp0Edit = AddEditRow(system, rows, "Lp0", FloatToStr(c.Lp0));
    Lpf0Edit = AddEditRow(system, rows, "Lpf0", FloatToStr(c.Lpf0));
    PosXEdit = AddEditRow(system, rows, "X0", IntToStr(c.X0));
    PosYEdit = AddEditRow(system, rows, "Y0", IntToStr(c.Y0));
    QGroupBox* pixel = NewRowGroup(system, "Pixel Size");
    PixelXEdit = AddEditRow(pixel, GroupRows(pixel), "X", FloatToStr(c.PixelX));
    PixelYEdit = AddEditRow(pixel, GroupRows(pixel), "Y", FloatToStr(c.PixelY));
    rows->addRow(pixel);
    QGroupBox* grating = NewRowGroup(system, "Grating Frequency");
    ProjectingEdit = AddEditRow(grating, GroupRows(grating), "Projecting", FloatToStr(c.ProjectGratingFrequency));
    ReferenceEdit = AddEditRow(grating, GroupRows(grating), "Reference", FloatToStr(c.ReferenceGratingFrequency));
    rows->addRow(grating);
    ProjectGratingThicknessEdit =
        AddEditRow(system, rows, "Project-Grating Thickness", FloatToStr(ReadGratingThickness()));
    layout->addWidget(system, 0, 0, 2, 1);

    QGroupBox* input = NewRowGroup(this, "Input Parameters");
    Ruler1Edit = AddEditRow(input, GroupRows(input), "Ruler-V", FloatToStr(c.RulerV));
    Ruler2Edit = AddEditRow(input, GroupRows(input), "Ruler-P", FloatToStr(c.RulerP));
    const QStringList axes = {"axis 1", "axis 2", "axis 3", "axis 4"};
    PI1ComboBox = new QComboBox(input);
    PI1ComboBox->addItems(axes);
    PI1ComboBox->setCurrentIndex(c.PIView - 1);
    GroupRows(input)->addRow("PI-V", PI1ComboBox);
    PI2ComboBox = new QComboBox(input);
    PI2ComboBox->addItems(axes);
    PI2ComboBox->setCurrentIndex(c.PIProject - 1);
    GroupRows(input)->addRow("PI-P", PI2ComboBox);
    layout->addWidget(input, 0, 1);

    QGroupBox* legend = NewRowGroup(this, "Unit Legend");
    for (const char* line : {"Length Unit = mm", "Angle Unit = Rad.", "Grating Unit = Lines/mm"})
        GroupRows(legend)->addRow(new QLabel(line, legend));
    layout->addWidget(legend, 1, 1, Qt::AlignTop);

    auto* row = new QHBoxLayout;
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row, 2, 0, 1, 2);
    connect(ok, &QPushButton::clicked, this, [this] { RunGuarded([this] { SaveToSystemBitBtnClick(); }); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TQuickStartConvertParaForm::SaveToSystemBitBtnClick()
{
    TConvertPara c;
    c.RulerV = StrToFloat(Ruler1Edit->text());
    c.RulerP = StrToFloat(Ruler2Edit->text());
    c.PIView = PI1ComboBox->currentIndex() + 1;
    c.PIProject = PI2ComboBox->currentIndex() + 1;
    c.Zc0 = StrToFloat(Zc0Edit->text());
    c.Zcf0 = StrToFloat(Zcf0Edit->text());
    c.Theta = StrToFloat(ThetaEdit->text());
    c.Lp0 = StrToFloat(Lp0Edit->text());
    c.Lpf0 = StrToFloat(Lpf0Edit->text());
    c.X0 = StrToInt(PosXEdit->text());
    c.Y0 = StrToInt(PosYEdit->text());
    c.PixelX = StrToFloat(PixelXEdit->text());
    c.PixelY = StrToFloat(PixelYEdit->text());
    c.ProjectGratingFrequency = StrToFloat(ProjectingEdit->text());
    c.ReferenceGratingFrequency = StrToFloat(ReferenceEdit->text());
    const double thickness = StrToFloat(ProjectGratingThicknessEdit->text());
    // Values the height conversion divides by.
    if (std::sin(c.Theta) == 0.0) throw EAppError("Theta must not be a multiple of PI (its sine would be 0)!");
    if (!(c.ProjectGratingFrequency > 0) || !(c.ReferenceGratingFrequency > 0))
        throw EAppError("The grating frequencies must be above 0!");
    if (c.X0 < 0 || c.Y0 < 0) throw EAppError("The reference pixel (X0, Y0) must not be negative!");
    WriteConvertPara(c);
    WriteGratingThickness(thickness);
    done(mrOk);
}

int TQuickStartConvertParaForm::Execute() { return ShowModal(*this); }
