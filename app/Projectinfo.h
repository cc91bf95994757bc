#pragma once
// "Current Project Information": the open project's header, shown and edited. "&Modify"
// parses every field first and stores them only when all are valid.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;
struct TPsmHeader;

class TCurrentPsmInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TCurrentPsmInfoForm(QWidget* owner = nullptr);
    void ShowHeader(TPsmHeader* header, const QString& title);
    void ModifyBitBtnClick();
    bool Modified() const { return modified_; }

    QLineEdit* CurrentProjectFileNameEdit;
    QCheckBox* StatusCheckBox[9];
    QLineEdit* MaskThresholdEdit;
    QCheckBox* MaskThresholdAutoCheckBox;
    QRadioButton *E4SRadioButton, *C4SRadioButton;
    QLineEdit *StartXEdit, *StartYEdit;
    QCheckBox* StartPointAutoCheckBox;
    QLineEdit *ZcEdit, *ZcfEdit, *LpEdit, *LpfEdit, *ThetaEdit, *ProjectingEdit, *ReferenceEdit,
        *PixelXSizeEdit, *PixelYSizeEdit, *X0Edit, *Y0Edit, *OriginXEdit, *OriginYEdit, *OriginZEdit;

private:
    TPsmHeader* header_ = nullptr;
    bool modified_ = false;
};

// "About".
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* owner = nullptr);
};
