#pragma once
// The Halcyra board's digitizer panel (board kind 5).
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class QComboBox;

class TControlHalcyraForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlHalcyraForm(QWidget* owner = nullptr);
    ~TControlHalcyraForm() override;

    // The input chosen on the "Channel" tab (TMainForm::CurrentInputChannel reads it).
    QComboBox* InputChannelComboBox = nullptr;
};

extern TControlHalcyraForm* ControlHalcyraForm;
