#include "Projectinfo.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFrame>
#include <QMouseEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QFormLayout>
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
    auto* layout = new QFormLayout(this);
    CurrentProjectFileNameEdit = AddEditRow(this, layout, "", "");
    CurrentProjectFileNameEdit->setReadOnly(true);
    const char* const status[9] = {"Object", " Step1", " Step2", " Step3", " Step4", "Mask", "Phase", "Unwrap",
                                   "ConvertResult"};
    layout->addRow(new QLabel("Current Status", this));
    for (int i = 0; i < 9; ++i) {
        StatusCheckBox[i] = new QCheckBox(status[i], this);
        StatusCheckBox[i]->setEnabled(false);
        layout->addRow(StatusCheckBox[i]);
    }
    MaskThresholdEdit = AddEditRow(this, layout, "Mask Threshold", "");
    MaskThresholdAutoCheckBox = new QCheckBox("Automatic Mask Threshold", this);
    layout->addRow(MaskThresholdAutoCheckBox);
    E4SRadioButton = new QRadioButton("Equal 4 Step", this);
    C4SRadioButton = new QRadioButton("Const 4 Step", this);
    layout->addRow("Compute Phase Method", E4SRadioButton);
    layout->addRow("", C4SRadioButton);
    StartXEdit = AddEditRow(this, layout, "Start X", "");
    StartYEdit = AddEditRow(this, layout, "Start Y", "");
    StartPointAutoCheckBox = new QCheckBox("Auto", this);
    layout->addRow(StartPointAutoCheckBox);
    ZcEdit = AddEditRow(this, layout, "Zc", "");
    ZcfEdit = AddEditRow(this, layout, "Zcf", "");
    LpEdit = AddEditRow(this, layout, "Lp", "");
    LpfEdit = AddEditRow(this, layout, "Lpf", "");
    ThetaEdit = AddEditRow(this, layout, "Theta", "");
    ProjectingEdit = AddEditRow(this, layout, "Projecting", "");
    ReferenceEdit = AddEditRow(this, layout, "Reference", "");
    PixelXSizeEdit = AddEditRow(this, layout, "Pixel X", "");
    PixelYSizeEdit = AddEditRow(this, layout, "Pixel Y", "");
    X0Edit = AddEditRow(this, layout, "X0", "");
    Y0Edit = AddEditRow(this, layout, "Y0", "");
    OriginXEdit = AddEditRow(this, layout, "Origin X", "");
    OriginYEdit = AddEditRow(this, layout, "Origin Y", "");
    OriginZEdit = AddEditRow(this, layout, "Origin Z", "");
    auto* modify = new QPushButton("&Modify", this);
    auto* close = new QPushButton("&Close", this);
    layout->addRow(modify, close);
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
