#pragma once
// The Sorvik board's digitizer panel (board kind 0).
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class QComboBox;

class TControlSorvikForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlSorvikForm(QWidget* owner = nullptr);
    ~TControlSorvikForm() override;

    // The input chosen on the "Channel" tab (TMainForm::CurrentInputChannel reads it).
    QComboBox* InputChannelComboBox = nullptr;
};

extern TControlSorvikForm* ControlSorvikForm;
