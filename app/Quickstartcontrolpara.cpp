#include "Quickstartcontrolpara.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include <cmath>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Numconv.h"

namespace {
const int32_t kChannelCodes[4] = {0x20000000, 0x40000000, int32_t(0x80000000u), 0x1000000};
}

int32_t ChannelCodeOfItem(int item) { return item >= 0 && item < 4 ? kChannelCodes[item] : 0; }

int ChannelItemOfCode(int32_t code)
{
    for (int i = 0; i < 4; ++i)
        if (kChannelCodes[i] == code) return i;
    return -1;
}

TQuickStartControlParaForm::TQuickStartControlParaForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Quick Start Control Parameters");
    auto* form = new QFormLayout(this);
    const QStringList channels = {"Channel 1", "Channel 2", "Channel 3", "Channel 4"};
    PhaseShiftAxisComboBox = new QComboBox(this);
    PhaseShiftAxisComboBox->addItems({"axis 1", "axis 2", "axis 3", "axis 4"});
    form->addRow("Phase Shift Axis", PhaseShiftAxisComboBox);
    ProjectGratingFrequencyEdit = new QLineEdit(this);
    form->addRow("Project Grating Frequency (Lines/mm)", ProjectGratingFrequencyEdit);
    PreMoveDisplaceEdit = new QLineEdit(this);
    form->addRow(QString::fromUtf8("Pre-Moved Displace (µm)"), PreMoveDisplaceEdit);
    WaitingTimeEdit = new QLineEdit(this);
    form->addRow("Waiting Time (ms)", WaitingTimeEdit);
    PhaseShiftMoireChannelComboBox = new QComboBox(this);
    PhaseShiftMoireChannelComboBox->addItems(channels);
    form->addRow("Phase Shift Moire Channel", PhaseShiftMoireChannelComboBox);
    ViewObjectChannelComboBox = new QComboBox(this);
    ViewObjectChannelComboBox->addItems(channels);
    form->addRow("View Object Channel", ViewObjectChannelComboBox);
    PhaseShiftingMethodComboBox = new QComboBox(this);
    PhaseShiftingMethodComboBox->addItems({"Equal 4 Step", "Const 4 Step"});
    form->addRow("Phase Shift Method", PhaseShiftingMethodComboBox);
    PhaseShiftingAngleEdit = new QLineEdit(this);
    form->addRow("Phase Shift  Angle (2*PI)", PhaseShiftingAngleEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { done(mrOk); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(mrCancel); });

    const TControlPara c = ReadControlPara();
    PhaseShiftAxisComboBox->setCurrentIndex(c.PhaseShiftAxis - 1);
    ProjectGratingFrequencyEdit->setText(FloatToStr(c.ProjectGratingFrequency));
    PreMoveDisplaceEdit->setText(FloatToStr(c.PreMoveDisplace));
    WaitingTimeEdit->setText(IntToStr(c.WaitingTime));
    PhaseShiftMoireChannelComboBox->setCurrentIndex(ChannelItemOfCode(c.PhaseShiftMoireChannel));
    ViewObjectChannelComboBox->setCurrentIndex(ChannelItemOfCode(c.ViewObjectChannel));
    PhaseShiftingMethodComboBox->setCurrentIndex(c.PhaseShiftingMethod == 2222 ? 1
                                                 : c.PhaseShiftingMethod == 1111 ? 0 : -1);
    PhaseShiftingAngleEdit->setText(FloatToStr(double(c.PhaseShiftingAngle)));
    PhaseShiftingMethodComboBoxChange();
    connect(PhaseShiftingMethodComboBox, &QComboBox::currentIndexChanged, this,
            [this] { PhaseShiftingMethodComboBoxChange(); });
}

void TQuickStartControlParaForm::PhaseShiftingMethodComboBoxChange()
{
    PhaseShiftingAngleEdit->setEnabled(PhaseShiftingMethodComboBox->currentIndex() != 1);
}

int TQuickStartControlParaForm::Execute()
{
    const int result = ShowModal(*this);
    if (result != mrCancel) FormClose(result);
    return result;
}

void TQuickStartControlParaForm::FormClose(int modalResult)
{
    if (modalResult == mrCancel) return;
    TControlPara c;
    c.PhaseShiftAxis = PhaseShiftAxisComboBox->currentIndex() + 1;
    c.ProjectGratingFrequency = StrToFloat(ProjectGratingFrequencyEdit->text());
    c.PreMoveDisplace = StrToFloat(PreMoveDisplaceEdit->text());
    const double wait = StrToFloat(WaitingTimeEdit->text());
    c.PhaseShiftMoireChannel = ChannelCodeOfItem(PhaseShiftMoireChannelComboBox->currentIndex());
    c.ViewObjectChannel = ChannelCodeOfItem(ViewObjectChannelComboBox->currentIndex());
    c.PhaseShiftingMethod = PhaseShiftingMethodComboBox->currentIndex() == 1 ? 2222 : 1111;
    c.PhaseShiftingAngle = float(StrToFloat(PhaseShiftingAngleEdit->text()));
    if (c.PhaseShiftAxis < 1 || c.PhaseShiftAxis > 4) throw EAppError("Choose the phase shift axis!");
    if (!(c.ProjectGratingFrequency > 0)) throw EAppError("The project grating frequency must be above 0!");
    if (!(wait >= 0) || wait > 2147483647.0) throw EAppError("The waiting time must be 0 ms or more!");
    c.WaitingTime = int32_t(std::trunc(wait));
    WriteControlPara(c);
}
