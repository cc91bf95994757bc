#pragma once
// The Sorvik II board's digitizer panel (board kind 1).
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class QComboBox;

class TControlSorvik2Form : public QDialog {
    Q_OBJECT
public:
    explicit TControlSorvik2Form(QWidget* owner = nullptr);
    ~TControlSorvik2Form() override;

    // The input chosen on the "Channel" tab (TMainForm::CurrentInputChannel reads it).
    QComboBox* InputChannelComboBox = nullptr;
};

extern TControlSorvik2Form* ControlSorvik2Form;
