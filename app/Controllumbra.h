#pragma once
// The Lumbra board's digitizer panel (board kind 4).
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class QComboBox;

class TControlLumbraForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlLumbraForm(QWidget* owner = nullptr);
    ~TControlLumbraForm() override;

    // The input chosen on the "Channel" tab (TMainForm::CurrentInputChannel reads it).
    QComboBox* InputChannelComboBox = nullptr;
};

extern TControlLumbraForm* ControlLumbraForm;
