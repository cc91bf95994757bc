#include "Controlsorvik.h"

TControlSorvikForm* ControlSorvikForm = nullptr;

TControlSorvikForm::TControlSorvikForm(QWidget* owner) : TContrastPanelForm(owner, "Sorvik") {}

TControlSorvikForm::~TControlSorvikForm()
{
    if (ControlSorvikForm == this)
        ControlSorvikForm = nullptr;
}
