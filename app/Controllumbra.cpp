#include "Controllumbra.h"

#include "Forms.h"

TControlLumbraForm* ControlLumbraForm = nullptr;

TControlLumbraForm::TControlLumbraForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Digitizer -- Quorvel Lumbra");
    InputChannelComboBox = BuildInputChannelTab(this, QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}, 0);
}

TControlLumbraForm::~TControlLumbraForm()
{
    if (ControlLumbraForm == this)
        ControlLumbraForm = nullptr;
}
