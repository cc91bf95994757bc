#include "Controllumbra.h"

TControlLumbraForm* ControlLumbraForm = nullptr;

TControlLumbraForm::TControlLumbraForm(QWidget* owner) : TContrastPanelForm(owner, "Lumbra") {}

TControlLumbraForm::~TControlLumbraForm()
{
    if (ControlLumbraForm == this)
        ControlLumbraForm = nullptr;
}
