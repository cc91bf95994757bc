#pragma once
// The Sorvik board's digitizer panel (board kind 0): contrast and brightness; inputs "0"
// ... "7"; board tab "Sorvik Control".
// Made at start-up by the program's entry point; TMainForm::CurrentInputChannel reads its
// InputChannelComboBox.

#include "Digitizerpanel.h"

class TControlSorvikForm : public TContrastPanelForm {
    Q_OBJECT
public:
    explicit TControlSorvikForm(QWidget* owner = nullptr);
    ~TControlSorvikForm() override;
};

extern TControlSorvikForm* ControlSorvikForm;
