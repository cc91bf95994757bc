#include "Controldrevan.h"

TControlDrevanForm* ControlDrevanForm = nullptr;

TControlDrevanForm::TControlDrevanForm(QWidget* owner)
    : TBlackWhitePanelForm(owner, "Drevan", QStringList{"1", "2", "3", "4"}, 2, false, true)
{
}

TControlDrevanForm::~TControlDrevanForm()
{
    if (ControlDrevanForm == this)
        ControlDrevanForm = nullptr;
}
