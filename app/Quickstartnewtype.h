#pragma once
// The new-project type dialog: an empty project, or one captured from the camera. Without
// a digitizer only the empty project can be chosen; the rule is applied every time the
// dialog is shown and on every click.

#include <QDialog>

class TRadioGroup;

class TQuickStartNewTypeForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickStartNewTypeForm(QWidget* owner = nullptr);
    ~TQuickStartNewTypeForm() override;

    // 0 "Create an empty file", 1 "Create and Capture from CCD".
    TRadioGroup* NewTypeRadioGroup;
    void NewTypeRadioGroupClick();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TQuickStartNewTypeForm* QuickStartNewTypeForm;
