#include "Controlsorvik2.h"

#include "Forms.h"

TControlSorvik2Form* ControlSorvik2Form = nullptr;

TControlSorvik2Form::TControlSorvik2Form(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Digitizer -- Quorvel Sorvik II");
    InputChannelComboBox = BuildInputChannelTab(this, QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}, 0);
}

TControlSorvik2Form::~TControlSorvik2Form()
{
    if (ControlSorvik2Form == this)
        ControlSorvik2Form = nullptr;
}
