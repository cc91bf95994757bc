#pragma once
// The Halcyra board's digitizer panel (board kind 5): black and white; inputs "0" ... "7";
// board tab "Halcyra Control".
// Made at start-up by the program's entry point; TMainForm::CurrentInputChannel reads its
// InputChannelComboBox.

#include "Digitizerpanel.h"

class TControlHalcyraForm : public TBlackWhitePanelForm {
    Q_OBJECT
public:
    explicit TControlHalcyraForm(QWidget* owner = nullptr);
    ~TControlHalcyraForm() override;
};

extern TControlHalcyraForm* ControlHalcyraForm;
