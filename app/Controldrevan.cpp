#include "Controldrevan.h"

#include "Forms.h"

TControlDrevanForm* ControlDrevanForm = nullptr;

TControlDrevanForm::TControlDrevanForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Digitizer -- Quorvel Drevan");
    InputChannelComboBox = BuildInputChannelTab(this, QStringList{"1", "2", "3", "4"}, 2);
}

TControlDrevanForm::~TControlDrevanForm()
{
    if (ControlDrevanForm == this)
        ControlDrevanForm = nullptr;
}
