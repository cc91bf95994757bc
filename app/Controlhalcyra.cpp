#include "Controlhalcyra.h"

#include "Forms.h"

TControlHalcyraForm* ControlHalcyraForm = nullptr;

TControlHalcyraForm::TControlHalcyraForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Digitizer -- Quorvel Halcyra");
    InputChannelComboBox = BuildInputChannelTab(this, QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}, 0);
}

TControlHalcyraForm::~TControlHalcyraForm()
{
    if (ControlHalcyraForm == this)
        ControlHalcyraForm = nullptr;
}
