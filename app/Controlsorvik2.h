#pragma once
// The Sorvik II board's digitizer panel (board kind 1): black and white; inputs "0" ...
// "7"; board tab "Sorvik II Control".
// Made at start-up by the program's entry point; TMainForm::CurrentInputChannel reads its
// InputChannelComboBox.

#include "Digitizerpanel.h"

class TControlSorvik2Form : public TBlackWhitePanelForm {
    Q_OBJECT
public:
    explicit TControlSorvik2Form(QWidget* owner = nullptr);
    ~TControlSorvik2Form() override;
};

extern TControlSorvik2Form* ControlSorvik2Form;
