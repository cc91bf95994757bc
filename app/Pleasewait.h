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

// Shows or hides the please-wait box, when it exists. Shown, it is centred on the screen
// (the main window's), on top, and on the screen and painted before this returns (the window system is
// given up to a second to map it), as the long operation that follows blocks the GUI thread.
void ShowPleaseWait(bool visible);

// Shows the box for the lifetime of this object.
class TPleaseWaitScope {
public:
    TPleaseWaitScope() { ShowPleaseWait(true); }
    ~TPleaseWaitScope() { ShowPleaseWait(false); }
    TPleaseWaitScope(const TPleaseWaitScope&) = delete;
    TPleaseWaitScope& operator=(const TPleaseWaitScope&) = delete;
};
