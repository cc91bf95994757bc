#include "Quickstartnewtype.h"

#include "Forms.h"

TQuickStartNewTypeForm* QuickStartNewTypeForm = nullptr;

TQuickStartNewTypeForm::TQuickStartNewTypeForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Created Type");
}

TQuickStartNewTypeForm::~TQuickStartNewTypeForm()
{
    if (QuickStartNewTypeForm == this)
        QuickStartNewTypeForm = nullptr;
}
