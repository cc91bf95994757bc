#pragma once
// The automatic adjustment of the bench geometry.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TAutoAdjustForm : public QDialog {
    Q_OBJECT
public:
    explicit TAutoAdjustForm(QWidget* owner = nullptr);
    ~TAutoAdjustForm() override;
};

extern TAutoAdjustForm* AutoAdjustForm;
