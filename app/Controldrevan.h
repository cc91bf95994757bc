#pragma once
// The Drevan board's digitizer panel (board kinds 2 and 3): black and white; inputs "1"
// ... "4" showing "3"; no board tab; coupled scaling.
// Made at start-up by the program's entry point; TMainForm::CurrentInputChannel reads its
// InputChannelComboBox.

#include "Digitizerpanel.h"

class TControlDrevanForm : public TBlackWhitePanelForm {
    Q_OBJECT
public:
    explicit TControlDrevanForm(QWidget* owner = nullptr);
    ~TControlDrevanForm() override;
};

extern TControlDrevanForm* ControlDrevanForm;
