#include "Controlsorvik.h"

#include "Forms.h"

TControlSorvikForm* ControlSorvikForm = nullptr;

TControlSorvikForm::TControlSorvikForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Digitizer -- Quorvel Sorvik");
    InputChannelComboBox = BuildInputChannelTab(this, QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}, 0);
}

TControlSorvikForm::~TControlSorvikForm()
{
    if (ControlSorvikForm == this)
        ControlSorvikForm = nullptr;
}
