#pragma once
// "Quick Start Compute Parameters" (unwrap start, method, mask threshold) and "Quick Start
// Convert Parameters" (the bench geometry). Both parse every field before anything is
// written; a bad field raises EAppError and nothing changes.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class TPhaseShiftMoire;
class TRadioGroup;

class TQuickStartComputeParaForm : public QDialog {
    Q_OBJECT
public:
    // With an open project its header is shown and, on OK, changed too.
    explicit TQuickStartComputeParaForm(TPhaseShiftMoire* project, QWidget* owner = nullptr);
    QLineEdit *StartXEdit, *StartYEdit, *MaskThresholdEdit;
    QCheckBox *StartPointAutoCheckBox, *MaskThresholdAutoCheckBox;
    TRadioGroup* UnwrapMethodRadioGroup;
    void StartPointAutoCheckBoxClick();
    void MaskThresholdAutoCheckBoxClick();
    void FormClose(int modalResult);
    int Execute();

private:
    TPhaseShiftMoire* project_;
};

class TQuickStartConvertParaForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickStartConvertParaForm(QWidget* owner = nullptr);
    QLineEdit *Zc0Edit, *Zcf0Edit, *ThetaEdit, *Lp0Edit, *Lpf0Edit, *PosXEdit, *PosYEdit, *PixelXEdit,
        *PixelYEdit, *ProjectingEdit, *ReferenceEdit, *ProjectGratingThicknessEdit, *Ruler1Edit, *Ruler2Edit;
    QComboBox *PI1ComboBox, *PI2ComboBox;
    // The OK button: parse, write, close.
    void SaveToSystemBitBtnClick();
    int Execute();
};
