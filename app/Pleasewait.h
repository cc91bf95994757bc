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

// Shows (and paints at once) or hides the please-wait box, when it exists.
void ShowPleaseWait(bool visible);

// Shows the box for the lifetime of this object.
class TPleaseWaitScope {
public:
    TPleaseWaitScope() { ShowPleaseWait(true); }
    ~TPleaseWaitScope() { ShowPleaseWait(false); }
    TPleaseWaitScope(const TPleaseWaitScope&) = delete;
    TPleaseWaitScope& operator=(const TPleaseWaitScope&) = delete;
};
