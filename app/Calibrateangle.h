#pragma once
// The projection-angle calibration.
// The form as the program makes it at start-up: class, caption and the members other
// units use.

#include <QDialog>

class TCalibrateAngleForm : public QDialog {
    Q_OBJECT
public:
    explicit TCalibrateAngleForm(QWidget* owner = nullptr);
    ~TCalibrateAngleForm() override;
};

extern TCalibrateAngleForm* CalibrateAngleForm;
