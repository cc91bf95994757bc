#include "Digitizerpanel.h"

#include "Forms.h"
#include "Main.h"
#include "Orbbinding.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <tuple>

double ScalingFactor(int itemIndex)
{
    switch (itemIndex) {
    case 0: return 0.25;
    case 1: return 0.5;
    default: return 1.0;
    }
}

QStringList EightInputs()
{
    return {"0", "1", "2", "3", "4", "5", "6", "7"};
}

namespace {

// Runs a handler from a signal: an exception it throws is shown by the application.
template <class F>
auto Guarded(F f)
{
    return [f](auto&&...) { RunGuarded(f); };
}

}  // namespace

TDigitizerPanelForm::TDigitizerPanelForm(QWidget* owner, const Spec& spec)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint), spec_(spec)
{
    setWindowTitle(QString("Control Digitizer -- Quorvel ") + spec_.BoardWord);
    auto* layout = new QVBoxLayout(this);
    PageControl = new QTabWidget(this);
    PageControl->setObjectName("PageControl");
    layout->addWidget(PageControl);
    BuildChannelTab();
    PageControl->addTab(new QWidget(PageControl), "Input Region");
    BuildControlTab();
    BuildReferenceTab();
    if (spec_.BoardTab)
        BuildBoardTab();
    FormCreate();
}

TDigitizerPanelForm::~TDigitizerPanelForm() = default;

void TDigitizerPanelForm::BuildChannelTab()
{
    auto* page = new QWidget(PageControl);
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel("Input", page), 0, 0);
    InputChannelComboBox = new QComboBox(page);
    InputChannelComboBox->setObjectName("InputChannelComboBox");
    InputChannelComboBox->addItems(spec_.Inputs);
    grid->addWidget(InputChannelComboBox, 0, 1);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(2, 1);
    PageControl->addTab(page, "Channel");
    // The operator's choices only: the program setting the index sends nothing.
    connect(InputChannelComboBox, &QComboBox::activated, this, Guarded([this] { InputChannelComboBoxChange(); }));
}

void TDigitizerPanelForm::BuildControlTab()
{
    auto* page = new QWidget(PageControl);
    auto* v = new QVBoxLayout(page);

    auto* scaling = new QGroupBox("Scaling", page);
    auto* sg = new QGridLayout(scaling);
    const QStringList scales = {"1/4", "1/2", "1"};
    sg->addWidget(new QLabel("X:", scaling), 0, 0);
    ScaleXComboBox = new QComboBox(scaling);
    ScaleXComboBox->setObjectName("ScaleXComboBox");
    ScaleXComboBox->addItems(scales);
    sg->addWidget(ScaleXComboBox, 0, 1);
    sg->addWidget(new QLabel("Y:", scaling), 1, 0);
    ScaleYComboBox = new QComboBox(scaling);
    ScaleYComboBox->setObjectName("ScaleYComboBox");
    ScaleYComboBox->addItems(scales);
    sg->addWidget(ScaleYComboBox, 1, 1);
    v->addWidget(scaling);

    auto* mode = new QGroupBox("Grab mode:", page);
    auto* mg = new QGridLayout(mode);
    mg->addWidget(new QLabel("Start:", mode), 0, 0);
    OddRadioButton = new QRadioButton("Odd", mode);
    EvenRadioButton = new QRadioButton("Even", mode);
    NextfieldRadioButton = new QRadioButton("Next field", mode);
    auto* startGroup = new QButtonGroup(mode);
    int column = 1;
    for (QRadioButton* b : {OddRadioButton, EvenRadioButton, NextfieldRadioButton}) {
        startGroup->addButton(b);
        mg->addWidget(b, 0, column++);
    }
    EvenRadioButton->setChecked(true);
    SyncRadioButton = new QRadioButton("Synchronous", mode);
    AsyncRadioButton = new QRadioButton("Asynchronous", mode);
    auto* syncGroup = new QButtonGroup(mode);
    syncGroup->addButton(SyncRadioButton);
    syncGroup->addButton(AsyncRadioButton);
    SyncRadioButton->setChecked(true);
    mg->addWidget(SyncRadioButton, 1, 1);
    mg->addWidget(AsyncRadioButton, 1, 2);
    mg->addWidget(new QLabel("Number", mode), 2, 0);
    FieldFrameCSpinEdit = new QSpinBox(mode);
    FieldFrameCSpinEdit->setObjectName("FieldFrameCSpinEdit");
    FieldFrameCSpinEdit->setRange(1, 100);
    FieldFrameCSpinEdit->setValue(1);
    mg->addWidget(FieldFrameCSpinEdit, 2, 1);
    FieldsRadioButton = new QRadioButton("field(s)", mode);
    FramesRadioButton = new QRadioButton("frame(s)", mode);
    auto* countGroup = new QButtonGroup(mode);
    countGroup->addButton(FieldsRadioButton);
    countGroup->addButton(FramesRadioButton);
    FramesRadioButton->setChecked(true);
    mg->addWidget(FieldsRadioButton, 2, 2);
    mg->addWidget(FramesRadioButton, 2, 3);
    v->addWidget(mode);
    v->addStretch(1);
    PageControl->addTab(page, "Control");

    connect(ScaleXComboBox, &QComboBox::activated, this, Guarded([this] { ScaleXComboBoxChange(); }));
    connect(ScaleYComboBox, &QComboBox::activated, this, Guarded([this] { ScaleYComboBoxChange(); }));
    for (QRadioButton* b : {OddRadioButton, EvenRadioButton, NextfieldRadioButton})
        connect(b, &QRadioButton::clicked, this, Guarded([this] { OddRadioButtonClick(); }));
    for (QRadioButton* b : {SyncRadioButton, AsyncRadioButton})
        connect(b, &QRadioButton::clicked, this, Guarded([this] { SyncRadioButtonClick(); }));
    for (QRadioButton* b : {FieldsRadioButton, FramesRadioButton})
        connect(b, &QRadioButton::clicked, this, Guarded([this] { FieldFrameCSpinEditChange(); }));
    connect(FieldFrameCSpinEdit, &QSpinBox::valueChanged, this, Guarded([this] { FieldFrameCSpinEditChange(); }));
}

void TDigitizerPanelForm::BuildReferenceTab()
{
    auto* page = new QWidget(PageControl);
    auto* grid = new QGridLayout(page);
    auto bar = [&](const Level& level, int row, QSlider*& slider, QLineEdit*& edit) {
        grid->addWidget(new QLabel(level.Caption, page), row, 0);
        slider = new QSlider(Qt::Horizontal, page);
        slider->setRange(0, 255);
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setTickInterval(16);
        slider->setValue(level.Default);
        grid->addWidget(slider, row, 1);
        edit = new QLineEdit(QString::number(level.Default), page);
        edit->setMaximumWidth(60);
        grid->addWidget(edit, row, 2);
    };
    bar(spec_.First, 0, FirstLevelTrackBar, FirstLevelEdit);
    bar(spec_.Second, 1, SecondLevelTrackBar, SecondLevelEdit);
    LevelResetButton = new QPushButton(spec_.ResetCaption, page);
    LevelResetButton->setAutoDefault(false);
    grid->addWidget(LevelResetButton, 2, 2);
    grid->setRowStretch(3, 1);
    PageControl->addTab(page, "Reference");

    connect(FirstLevelTrackBar, &QSlider::valueChanged, this, Guarded([this] { FirstLevelTrackBarChange(); }));
    connect(SecondLevelTrackBar, &QSlider::valueChanged, this, Guarded([this] { SecondLevelTrackBarChange(); }));
    connect(LevelResetButton, &QPushButton::clicked, this, Guarded([this] { LevelResetButtonClick(); }));
}

void TDigitizerPanelForm::BuildBoardTab()
{
    auto* page = new QWidget(PageControl);
    auto* v = new QVBoxLayout(page);
    VCRSignalCheckBox = new QCheckBox("VCR Signal", page);
    VCRSignalCheckBox->setObjectName("VCRSignalCheckBox");
    v->addWidget(VCRSignalCheckBox);
    v->addStretch(1);
    PageControl->addTab(page, QString(spec_.BoardWord) + " Control");
    connect(VCRSignalCheckBox, &QCheckBox::clicked, this, Guarded([this] { VCRSignalCheckBoxClick(); }));
}

void TDigitizerPanelForm::FormCreate()
{
    ScaleXComboBox->setCurrentIndex(2);
    ScaleYComboBox->setCurrentIndex(2);
    InputChannelComboBox->setCurrentIndex(spec_.FirstInput);
}

OrbId TDigitizerPanelForm::OpenDigitizer(bool& opened)
{
    opened = MainForm && MainForm->ImagingOpened;
    return opened ? MainForm->DigitizerId : 0;
}

void TDigitizerPanelForm::FirstLevelTrackBarChange()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    const int position = FirstLevelTrackBar->value();
    FirstLevelEdit->setText(QString::number(position));
    orbDigSetLevel(digitizer, spec_.First.Type, position);
}

void TDigitizerPanelForm::SecondLevelTrackBarChange()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    const int position = SecondLevelTrackBar->value();
    SecondLevelEdit->setText(QString::number(position));
    orbDigSetLevel(digitizer, spec_.Second.Type, position);
}

void TDigitizerPanelForm::LevelResetButtonClick()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    // The bars move without sending: the two levels go once each, first then second.
    for (auto [slider, edit, level] : {std::tuple{FirstLevelTrackBar, FirstLevelEdit, spec_.First},
                                       std::tuple{SecondLevelTrackBar, SecondLevelEdit, spec_.Second}}) {
        const QSignalBlocker block(slider);
        slider->setValue(level.Default);
        edit->setText(QString::number(level.Default));
    }
    orbDigSetLevel(digitizer, spec_.First.Type, spec_.First.Default);
    orbDigSetLevel(digitizer, spec_.Second.Type, spec_.Second.Default);
}

void TDigitizerPanelForm::SyncRadioButtonClick()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    orbDigControl(digitizer, kDigGrabMode, SyncRadioButton->isChecked() ? 1.0 : 2.0);
}

void TDigitizerPanelForm::SendScale(bool x)
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    QComboBox* own = x ? ScaleXComboBox : ScaleYComboBox;
    QComboBox* other = x ? ScaleYComboBox : ScaleXComboBox;
    const OrbInt alone = x ? kDigScaleX : kDigScaleY;
    const int item = own->currentIndex();
    const double factor = ScalingFactor(item);
    if (!spec_.Coupled) {
        orbDigControl(digitizer, alone, factor);
        return;
    }
    // A quarter only ever goes to both directions together; leaving a quarter takes the
    // other direction along. The other combo box follows without sending.
    if (item == 0) {
        orbDigControl(digitizer, kDigScale, 0.25);
        other->setCurrentIndex(0);
    } else if (other->currentIndex() == 0) {
        orbDigControl(digitizer, kDigScale, factor);
        other->setCurrentIndex(item);
    } else {
        orbDigControl(digitizer, alone, factor);
    }
}

void TDigitizerPanelForm::ScaleXComboBoxChange() { SendScale(true); }

void TDigitizerPanelForm::ScaleYComboBoxChange() { SendScale(false); }

void TDigitizerPanelForm::FieldFrameCSpinEditChange()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    orbDigControl(digitizer, FieldsRadioButton->isChecked() ? kDigGrabFields : kDigGrabFrames,
                  static_cast<double>(FieldFrameCSpinEdit->value()));
}

void TDigitizerPanelForm::OddRadioButtonClick()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    if (OddRadioButton->isChecked())
        orbDigControl(digitizer, kDigGrabStart, 11.0);
    if (EvenRadioButton->isChecked())
        orbDigControl(digitizer, kDigGrabStart, 12.0);
    if (NextfieldRadioButton->isChecked())
        orbDigControl(digitizer, kDigGrabStart, 10.0);
}

void TDigitizerPanelForm::InputChannelComboBoxChange()
{
    bool opened = false;
    const OrbId digitizer = OpenDigitizer(opened);
    if (!opened)
        return;
    orbDigSelectInput(digitizer, InputChannelCode(InputChannelComboBox->currentIndex()));
}

void TDigitizerPanelForm::VCRSignalCheckBoxClick()
{
    // Whenever a digitizer id is set, whether or not the library counts as open.
    const OrbId digitizer = MainForm ? MainForm->DigitizerId : 0;
    if (digitizer == 0 || !VCRSignalCheckBox)
        return;
    orbDigControl(digitizer, kDigVcrSignal, VCRSignalCheckBox->isChecked() ? kControlEnable : kControlDisable);
}

// ---- the two reference kinds ----------------------------------------------------------------

TContrastPanelForm::TContrastPanelForm(QWidget* owner, const char* boardWord)
    : TDigitizerPanelForm(owner, Spec{boardWord, {"Contrast", kLevelContrast, 160},
                                      {"Brightness", kLevelBrightness, 148}, "Reset", EightInputs(), 0, true,
                                      false})
{
    ContrastTrackBar = FirstLevelTrackBar;
    ContrastTrackBar->setObjectName("ContrastTrackBar");
    BrightnessTrackBar = SecondLevelTrackBar;
    BrightnessTrackBar->setObjectName("BrightnessTrackBar");
    ContrastEdit = FirstLevelEdit;
    ContrastEdit->setObjectName("ContrastEdit");
    BrightnessEdit = SecondLevelEdit;
    BrightnessEdit->setObjectName("BrightnessEdit");
    ResetButton = LevelResetButton;
    ResetButton->setObjectName("ResetButton");
}

TBlackWhitePanelForm::TBlackWhitePanelForm(QWidget* owner, const char* boardWord, const QStringList& inputs,
                                           int firstInput, bool boardTab, bool coupled)
    : TDigitizerPanelForm(owner, Spec{boardWord, {"Black", kLevelBlack, 0}, {"White", kLevelWhite, 255}, "Reset",
                                      inputs, firstInput, boardTab, coupled})
{
    BlackTrackBar = FirstLevelTrackBar;
    BlackTrackBar->setObjectName("BlackTrackBar");
    WhiteTrackBar = SecondLevelTrackBar;
    WhiteTrackBar->setObjectName("WhiteTrackBar");
    BlackEdit = FirstLevelEdit;
    BlackEdit->setObjectName("BlackEdit");
    WhiteEdit = SecondLevelEdit;
    WhiteEdit->setObjectName("WhiteEdit");
    Button1 = LevelResetButton;
    Button1->setObjectName("Button1");
}
