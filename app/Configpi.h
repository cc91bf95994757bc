#pragma once
// The stage configuration dialog "Config PI": home, travel limits, step, counts per
// micrometre and increment direction of each axis.

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;
class TRadioGroup;

class TConfigPIForm : public QDialog {
    Q_OBJECT
public:
    explicit TConfigPIForm(QWidget* owner = nullptr);

    double HomePos[5] = {}, Start[5] = {}, End[5] = {}, Step[5] = {}, CountPerUm[5] = {},
           CurrentPos[5] = {}, Direction[5] = {};

    TRadioGroup* MotorRadioGroup;
    QLineEdit *HomePosEdit, *StartEdit, *EndEdit, *StepEdit, *CountPerUmEdit;
    QRadioButton *InRadioButton, *OutRadioButton;
    QLabel *MicroMLabel, *MicroMLabel2, *MicroMLabel3, *MicroMLabel4, *MicroMLabel5, *MicroULabel,
        *MicroULabel2;

    void MotorRadioGroupClick();
    void GetButtonClick();
    // Parses all five fields first; refuses a count per micrometre that is not above 0 and
    // limits with Start above End; then stores the axis and sends it home.
    void ApplyButtonClick();
    int SelectedAxis() const;

private:
    void ReadAxes();
    void ShowAxis(int axis);
};
