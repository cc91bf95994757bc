#pragma once
// The motor stage panel.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TControlPIForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlPIForm(QWidget* owner = nullptr);
    ~TControlPIForm() override;
};

extern TControlPIForm* ControlPIForm;
