#pragma once
// The please-wait box shown around long operations.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TPleaseWaitForm : public QDialog {
    Q_OBJECT
public:
    explicit TPleaseWaitForm(QWidget* owner = nullptr);
    ~TPleaseWaitForm() override;
};

extern TPleaseWaitForm* PleaseWaitForm;
