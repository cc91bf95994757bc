#pragma once
// The Drevan board's digitizer panel (board kinds 2 and 3).
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class QComboBox;

class TControlDrevanForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlDrevanForm(QWidget* owner = nullptr);
    ~TControlDrevanForm() override;

    // The input chosen on the "Channel" tab (TMainForm::CurrentInputChannel reads it).
    QComboBox* InputChannelComboBox = nullptr;
};

extern TControlDrevanForm* ControlDrevanForm;
