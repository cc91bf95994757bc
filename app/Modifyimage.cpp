#include "Modifyimage.h"

#include "Forms.h"

TModifyImageForm* ModifyImageForm = nullptr;

TModifyImageForm::TModifyImageForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Modify Image");
}

TModifyImageForm::~TModifyImageForm()
{
    if (ModifyImageForm == this)
        ModifyImageForm = nullptr;
}
