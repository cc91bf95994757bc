#include "Controlsorvik2.h"

TControlSorvik2Form* ControlSorvik2Form = nullptr;

TControlSorvik2Form::TControlSorvik2Form(QWidget* owner)
    : TBlackWhitePanelForm(owner, "Sorvik II", EightInputs(), 0, true, false)
{
}

TControlSorvik2Form::~TControlSorvik2Form()
{
    if (ControlSorvik2Form == this)
        ControlSorvik2Form = nullptr;
}
