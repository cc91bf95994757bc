#include "Projectinfo.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFrame>
#include <QMouseEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Numconv.h"
#include "Paramforms.h"
#include "Phaseshiftmoire.h"

TCurrentPsmInfoForm::TCurrentPsmInfoForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Current Project Information");
    auto* layout = new QGridLayout(this);
    CurrentProjectFileNameEdit = new QLineEdit(this);
    CurrentProjectFileNameEdit->setReadOnly(true);
    layout->addWidget(CurrentProjectFileNameEdit, 0, 0, 1, 2);

    // Left column: what the project holds and how its phase is computed and unwrapped.
    auto* left = new QVBoxLayout;
    QGroupBox* status = NewRowGroup(this, "Current Status");
    status->setEnabled(false);   // display only
    const char* const statusTexts[9] = {"Object", " Step1", " Step2", " Step3", " Step4", "Mask", "Phase", "Unwrap",
                                        "ConvertResult"};
    for (int i = 0; i < 9; ++i) {
        StatusCheckBox[i] = new QCheckBox(statusTexts[i], status);
        StatusCheckBox[i]->setEnabled(false);
        GroupRows(status)->addRow(StatusCheckBox[i]);
    }
    left->addWidget(status);
    QGroupBox* threshold = NewRowGroup(this, "Mask Threshold");
    MaskThresholdEdit = new QLineEdit(threshold);
    GroupRows(threshold)->addRow(MaskThresholdEdit);
    MaskThresholdAutoCheckBox = new QCheckBox("Automatic Mask Threshold", threshold);
    GroupRows(threshold)->addRow(MaskThresholdAutoCheckBox);
    left->addWidget(threshold);
    QGroupBox* method = NewRowGroup(this, "Compute Phase Method");
    E4SRadioButton = new QRadioButton("Equal 4 Step", method);
    C4SRadioButton = new QRadioButton("Const 4 Step", method);
    GroupRows(method)->addRow(E4SRadioButton);
    GroupRows(method)->addRow(C4SRadioButton);
    left->addWidget(method);
    QGroupBox* unwrap = NewRowGroup(this, "Unwrap Parameters");
    StartXEdit = AddEditRow(unwrap, GroupRows(unwrap), "Start X", "");
    StartYEdit = AddEditRow(unwrap, GroupRows(unwrap), "Start Y", "");
    StartPointAutoCheckBox = new QCheckBox("Auto", unwrap);
    GroupRows(unwrap)->addRow(StartPointAutoCheckBox);
    // Shown for the operator's orientation; the header's method is neither shown nor set here.
    UnwrapMethodRadioGroup = new TRadioGroup("  Method  ", {"Simple Unwrap", "Complicated Unwrap"}, 1, unwrap);
    UnwrapMethodRadioGroup->SetItemIndex(-1);
    GroupRows(unwrap)->addRow(UnwrapMethodRadioGroup);
    left->addWidget(unwrap);
    left->addStretch(1);
    layout->addLayout(left, 1, 0);

    // Right column: the bench geometry and the coordinate transfer.
    auto* right = new QVBoxLayout;
    QGroupBox* convert = NewRowGroup(this, "Convert Parameters");
    QFormLayout* rows = GroupRows(convert);
    ZcEdit = AddEditRow(convert, rows, "Zc", "");
    ZcfEdit = AddEditRow(convert, rows, "Zcf", "");
    LpEdit = AddEditRow(convert, rows, "Lp", "");
    LpfEdit = AddEditRow(convert, rows, "Lpf", "");
    ThetaEdit = AddEditRow(convert, rows, "Theta", "");
    ProjectingEdit = AddEditRow(convert, rows, "Projecting", "");
    ReferenceEdit = AddEditRow(convert, rows, "Reference", "");
    PixelXSizeEdit = AddEditRow(convert, rows, "Pixel X", "");
    PixelYSizeEdit = AddEditRow(convert, rows, "Pixel Y", "");
    X0Edit = AddEditRow(convert, rows, "X0", "");
    Y0Edit = AddEditRow(convert, rows, "Y0", "");
    right->addWidget(convert);
    QGroupBox* coordinates = NewRowGroup(this, "Coordinate Transfer Parameters");
    OriginXEdit = AddEditRow(coordinates, GroupRows(coordinates), "Origin X", "");
    OriginYEdit = AddEditRow(coordinates, GroupRows(coordinates), "Origin Y", "");
    OriginZEdit = AddEditRow(coordinates, GroupRows(coordinates), "Origin Z", "");
    right->addWidget(coordinates);
    right->addStretch(1);
    layout->addLayout(right, 1, 1);

    auto* buttons = new QHBoxLayout;
    auto* modify = new QPushButton("&Modify", this);
    auto* close = new QPushButton("&Close", this);
    buttons->addStretch(1);
    buttons->addWidget(modify);
    buttons->addWidget(close);
    layout->addLayout(buttons, 2, 0, 1, 2);
    connect(modify, &QPushButton::clicked, this, [this] { RunGuarded([this] { ModifyBitBtnClick(); }); });
    connect(close, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TCurrentPsmInfoForm::ShowHeader(TPsmHeader* header, const QString& title)
{
    header_ = header;
    const TPsmHeader& h = *header;
    CurrentProjectFileNameEdit->setText(title);
    for (int i = 0; i < 6; ++i) StatusCheckBox[i]->setChecked(h.BytePresent[i] != 0);
    for (int i = 0; i < 3; ++i) StatusCheckBox[6 + i]->setChecked(h.FloatPresent[i] != 0);
    MaskThresholdEdit->setText(IntToStr(h.Threshold));
    MaskThresholdAutoCheckBox->setChecked(h.ThresholdAuto != 0);
    E4SRadioButton->setChecked(h.PhaseShiftMethod == 1111);
    C4SRadioButton->setChecked(h.PhaseShiftMethod == 2222);
    StartXEdit->setText(IntToStr(h.StartX));
    StartYEdit->setText(IntToStr(h.StartY));
    StartPointAutoCheckBox->setChecked(h.StartPointAuto != 0);
    ZcEdit->setText(FloatToStr(h.Zc));
    ZcfEdit->setText(FloatToStr(h.Zcf));
    LpEdit->setText(FloatToStr(h.Lp));
    LpfEdit->setText(FloatToStr(h.Lpf));
    ThetaEdit->setText(FloatToStr(h.Theta));
    ProjectingEdit->setText(FloatToStr(h.GratingFrequency));
    ReferenceEdit->setText(FloatToStr(h.GratingFrequency));
    PixelXSizeEdit->setText(FloatToStr(h.PixelX));
    PixelYSizeEdit->setText(FloatToStr(h.PixelY));
    X0Edit->setText(IntToStr(h.X0));
    Y0Edit->setText(IntToStr(h.Y0));
    OriginXEdit->setText(FloatToStr(h.OriginX));
    OriginYEdit->setText(FloatToStr(h.OriginY));
    OriginZEdit->setText(FloatToStr(h.OriginZ));
}

void TCurrentPsmInfoForm::ModifyBitBtnClick()
{
    if (!header_) throw EAppError("No project is open");
    // Every field parsed into a copy first; the header changes only when all are valid.
    TPsmHeader h = *header_;
    h.Threshold = StrToInt(MaskThresholdEdit->text());
    h.ThresholdAuto = MaskThresholdAutoCheckBox->isChecked() ? 1 : 0;
    if (E4SRadioButton->isChecked()) h.PhaseShiftMethod = 1111;
    if (C4SRadioButton->isChecked()) h.PhaseShiftMethod = 2222;
    h.StartX = StrToInt(StartXEdit->text());
    h.StartY = StrToInt(StartYEdit->text());
    h.StartPointAuto = StartPointAutoCheckBox->isChecked() ? 1 : 0;
    h.Zc = StrToFloat(ZcEdit->text());
    h.Lp = StrToFloat(LpEdit->text());
    h.Zcf = StrToFloat(ZcfEdit->text());
    h.Lpf = StrToFloat(LpfEdit->text());
    h.Theta = StrToFloat(ThetaEdit->text());
    h.GratingFrequency = StrToFloat(ProjectingEdit->text());
    h.PixelX = StrToFloat(PixelXSizeEdit->text());
    h.PixelY = StrToFloat(PixelYSizeEdit->text());
    h.X0 = StrToInt(X0Edit->text());
    h.Y0 = StrToInt(Y0Edit->text());
    h.OriginX = StrToFloat(OriginXEdit->text());
    h.OriginY = StrToFloat(OriginYEdit->text());
    h.OriginZ = StrToFloat(OriginZEdit->text());
    if (!(h.GratingFrequency > 0)) throw EAppError("The grating frequency must be above 0!");
    if (std::sin(h.Theta) == 0.0) throw EAppError("Theta must not be a multiple of PI (its sine would be 0)!");
    if (h.X0 < 0 || h.X0 >= h.Width || h.Y0 < 0 || h.Y0 >= h.Height)
        throw EAppError("The reference pixel (X0, Y0) lies outside the image!");
    if (!h.StartPointAuto && (h.StartX < 0 || h.StartX >= h.Width || h.StartY < 0 || h.StartY >= h.Height))
        throw EAppError("The start pixel lies outside the image!");
    *header_ = h;
    modified_ = true;
    done(mrOk);
}

const char* const kAuthorMailAddress = "vistrel@example.com";

namespace {
std::function<bool(const QString&)>& ShellOpenHook()
{
    static std::function<bool(const QString&)> hook;
    return hook;
}
}  // namespace

TMailLabel::TMailLabel(const QString& address, QWidget* parent) : QLabel(address, parent), address_(address)
{
    setObjectName("MailLabel");
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    SetHot(false);
}

void TMailLabel::SetHot(bool hot)
{
    hot_ = hot;
    QFont f = font();
    f.setUnderline(hot);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, hot ? Qt::red : Qt::blue);
    setPalette(p);
}

void TMailLabel::enterEvent(QEnterEvent* event)
{
    SetHot(true);
    QLabel::enterEvent(event);
}

void TMailLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (!hot_) SetHot(true);
    QLabel::mouseMoveEvent(event);
}

void TMailLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        if (!TAboutForm::ShellOpen("mailto:" + address_))
            ShowMessage("No mail program could be started for " + address_);
    }
    QLabel::mouseReleaseEvent(event);
}

void TAboutForm::SetShellOpen(std::function<bool(const QString&)> open) { ShellOpenHook() = std::move(open); }

bool TAboutForm::ShellOpen(const QString& url)
{
    if (ShellOpenHook()) return ShellOpenHook()(url);
    return QDesktopServices::openUrl(QUrl(url));
}

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("About");
    auto* outer = new QVBoxLayout(this);
    Panel = new QFrame(this);
    Panel->setObjectName("Panel");
    Panel->setFrameShape(QFrame::StyledPanel);
    Panel->setMouseTracking(true);
    Panel->installEventFilter(this);
    auto* inner = new QVBoxLayout(Panel);
    inner->addWidget(new QLabel("Vistrel 2.0", Panel));
    inner->addWidget(new QLabel("Version 2.0 ", Panel));
    MailLabel = new TMailLabel(kAuthorMailAddress, Panel);
    inner->addWidget(MailLabel);
    outer->addWidget(Panel);
    auto* ok = new QPushButton("OK", this);
    outer->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, [this] { done(mrOk); });
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event)
{
    // The mouse over the panel around the label cools it down again.
    if (watched == Panel && event->type() == QEvent::MouseMove && MailLabel->Hot()) MailLabel->SetHot(false);
    return QDialog::eventFilter(watched, event);
}
