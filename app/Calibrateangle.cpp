#include "Calibrateangle.h"

#include "Forms.h"

TCalibrateAngleForm* CalibrateAngleForm = nullptr;

TCalibrateAngleForm::TCalibrateAngleForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Angle Calibration");
}

TCalibrateAngleForm::~TCalibrateAngleForm()
{
    if (CalibrateAngleForm == this)
        CalibrateAngleForm = nullptr;
}
