#pragma once
// "Current Project Information": the open project's header, shown and edited. "&Modify"
// parses every field first and stores them only when all are valid.

#include <QDialog>
#include <QLabel>

#include <functional>

class QCheckBox;
class QFrame;
class QLineEdit;
class QRadioButton;
class TRadioGroup;
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
    TRadioGroup* UnwrapMethodRadioGroup;   // shown, neither filled nor read
    QLineEdit *ZcEdit, *ZcfEdit, *LpEdit, *LpfEdit, *ThetaEdit, *ProjectingEdit, *ReferenceEdit,
        *PixelXSizeEdit, *PixelYSizeEdit, *X0Edit, *Y0Edit, *OriginXEdit, *OriginYEdit, *OriginZEdit;

private:
    TPsmHeader* header_ = nullptr;
    bool modified_ = false;
};

// The About box's mail label: a hand cursor; red and underlined while the mouse is over
// it, blue again once the mouse moves over the panel around it; a click opens the mail
// address.
class TMailLabel : public QLabel {
    Q_OBJECT
public:
    TMailLabel(const QString& address, QWidget* parent);
    QString Address() const { return address_; }
    // Red and underlined (hot) or blue.
    void SetHot(bool hot);
    bool Hot() const { return hot_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString address_;
    bool hot_ = false;
};

// "About".
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* owner = nullptr);

    QFrame* Panel = nullptr;
    TMailLabel* MailLabel = nullptr;

    // How a mail address is opened with the desktop's mail program ("mailto:" URL). Tests
    // replace it; an empty function restores the desktop's.
    static void SetShellOpen(std::function<bool(const QString& url)> open);
    static bool ShellOpen(const QString& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The address the About box offers.
extern const char* const kAuthorMailAddress;
