#include "Controlhalcyra.h"

TControlHalcyraForm* ControlHalcyraForm = nullptr;

TControlHalcyraForm::TControlHalcyraForm(QWidget* owner)
    : TBlackWhitePanelForm(owner, "Halcyra", EightInputs(), 0, true, false)
{
}

TControlHalcyraForm::~TControlHalcyraForm()
{
    if (ControlHalcyraForm == this)
        ControlHalcyraForm = nullptr;
}
