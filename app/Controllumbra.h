#pragma once
// The Lumbra board's digitizer panel (board kind 4): contrast and brightness; inputs "0"
// ... "7"; board tab "Lumbra Control".
// Made at start-up by the program's entry point; TMainForm::CurrentInputChannel reads its
// InputChannelComboBox.

#include "Digitizerpanel.h"

class TControlLumbraForm : public TContrastPanelForm {
    Q_OBJECT
public:
    explicit TControlLumbraForm(QWidget* owner = nullptr);
    ~TControlLumbraForm() override;
};

extern TControlLumbraForm* ControlLumbraForm;
