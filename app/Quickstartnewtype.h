#pragma once
// The new-project type dialog.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TQuickStartNewTypeForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickStartNewTypeForm(QWidget* owner = nullptr);
    ~TQuickStartNewTypeForm() override;
};

extern TQuickStartNewTypeForm* QuickStartNewTypeForm;
