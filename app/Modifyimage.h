#pragma once
// The modify-image tool.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TModifyImageForm : public QDialog {
    Q_OBJECT
public:
    explicit TModifyImageForm(QWidget* owner = nullptr);
    ~TModifyImageForm() override;
};

extern TModifyImageForm* ModifyImageForm;
