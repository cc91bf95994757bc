#include "Controlpi.h"

#include "Forms.h"

TControlPIForm* ControlPIForm = nullptr;

TControlPIForm::TControlPIForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Motor");
}

TControlPIForm::~TControlPIForm()
{
    if (ControlPIForm == this)
        ControlPIForm = nullptr;
}
