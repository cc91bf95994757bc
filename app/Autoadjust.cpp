#include "Autoadjust.h"

#include "Forms.h"

TAutoAdjustForm* AutoAdjustForm = nullptr;

TAutoAdjustForm::TAutoAdjustForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Automatic Adjust System Parameters");
}

TAutoAdjustForm::~TAutoAdjustForm()
{
    if (AutoAdjustForm == this)
        AutoAdjustForm = nullptr;
}
