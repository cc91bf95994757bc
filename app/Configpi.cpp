#include "Configpi.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Controlpi.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Numconv.h"

TConfigPIForm::TConfigPIForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Config PI");
    auto* grid = new QGridLayout(this);
    MotorRadioGroup = new TRadioGroup(" Switch PI", {"axis 1", "axis 2", "axis 3", "axis 4"}, 4, this);
    MotorRadioGroup->SetItemIndex(0);
    grid->addWidget(MotorRadioGroup, 0, 0, 1, 4);
    auto row = [&](int r, const QString& caption, QLineEdit*& edit, QLabel*& unit, const QString& unitText) {
        grid->addWidget(new QLabel(caption, this), r, 0);
        edit = new QLineEdit(this);
        grid->addWidget(edit, r, 1);
        unit = new QLabel(unitText, this);
        grid->addWidget(unit, r, 2);
    };
    row(1, "HomePos", HomePosEdit, MicroMLabel, "mm");
    row(2, "Start", StartEdit, MicroMLabel2, "mm");
    row(3, "End", EndEdit, MicroMLabel3, "mm");
    row(4, "Step", StepEdit, MicroMLabel4, "   m");
    row(5, "CountPerUm", CountPerUmEdit, MicroMLabel5, "Count /   m ");
    MicroULabel = new QLabel("m", this);
    MicroULabel2 = new QLabel("m", this);
    grid->addWidget(MicroULabel, 4, 3);
    grid->addWidget(MicroULabel2, 5, 3);
    grid->addWidget(new QLabel("Increment Direction", this), 6, 0);
    InRadioButton = new QRadioButton("In", this);
    OutRadioButton = new QRadioButton("Out", this);
    InRadioButton->setChecked(true);
    grid->addWidget(InRadioButton, 6, 1);
    grid->addWidget(OutRadioButton, 6, 2);
    auto* get = new QPushButton("Get", this);
    auto* apply = new QPushButton("Apply", this);
    auto* close = new QPushButton("Close", this);
    grid->addWidget(get, 7, 0);
    grid->addWidget(apply, 7, 1);
    grid->addWidget(close, 7, 2);
    connect(get, &QPushButton::clicked, this, [this] { RunGuarded([this] { GetButtonClick(); }); });
    connect(apply, &QPushButton::clicked, this, [this] { RunGuarded([this] { ApplyButtonClick(); }); });
    connect(close, &QPushButton::clicked, this, [this] { done(mrCancel); });
    for (int i = 0; i < MotorRadioGroup->Count(); ++i)
        connect(MotorRadioGroup->Button(i), &QRadioButton::clicked, this,
                [this] { RunGuarded([this] { MotorRadioGroupClick(); }); });

    ReadAxes();
    ShowAxis(1);
}

int TConfigPIForm::SelectedAxis() const
{
    const int i = MotorRadioGroup->ItemIndex();
    return i >= 0 && i < 4 ? i + 1 : 1;
}

void TConfigPIForm::ReadAxes()
{
    for (int n = 1; n <= 4; ++n) {
        const TAxisParameters p = ReadAxisParameters(n);
        HomePos[n] = p.HomePos;
        Start[n] = p.Start;
        End[n] = p.End;
        Step[n] = p.Step;
        CountPerUm[n] = p.CountPerUm;
        CurrentPos[n] = p.CurrentPos;
        Direction[n] = p.Direction ? 1.0 : 0.0;
    }
}

void TConfigPIForm::ShowAxis(int n)
{
    HomePosEdit->setText(FormatFixed14(HomePos[n]));
    StartEdit->setText(FormatFixed14(Start[n]));
    EndEdit->setText(FormatFixed14(End[n]));
    StepEdit->setText(FormatFixed14(Step[n]));
    CountPerUmEdit->setText(FormatFixed14(CountPerUm[n]));
    if (Direction[n] != 0.0)
        InRadioButton->setChecked(true);
    else
        OutRadioButton->setChecked(true);
}

void TConfigPIForm::MotorRadioGroupClick()
{
    const int n = SelectedAxis();
    ShowAxis(n);
    if (n == 4) {
        MicroMLabel->setText("deg");
        MicroMLabel2->setText("deg");
        MicroMLabel3->setText("deg");
        MicroMLabel4->setText("m-deg");
        MicroMLabel5->setText("Count/m-deg");
        MicroULabel->setText("");
        MicroULabel2->setText("");
    } else {
        MicroMLabel->setText("mm");
        MicroMLabel2->setText("mm");
        MicroMLabel3->setText("mm");
        MicroMLabel4->setText("   m");
        MicroMLabel5->setText("Count /   m");
        MicroULabel->setText("m");
        MicroULabel2->setText("m");
    }
}

void TConfigPIForm::GetButtonClick()
{
    ReadAxes();
    ShowAxis(SelectedAxis());
}

void TConfigPIForm::ApplyButtonClick()
{
    const int n = SelectedAxis();
    const double home = StrToFloat(HomePosEdit->text());
    const double start = StrToFloat(StartEdit->text());
    const double end = StrToFloat(EndEdit->text());
    double step = StrToFloat(StepEdit->text());
    const double cpu = StrToFloat(CountPerUmEdit->text());
    if (!(cpu > 0)) throw EAppError("The counts per micrometre must be above 0!");
    if (start > end) throw EAppError("Start must not lie above End!");
    step = std::trunc(step * cpu + 0.5) / cpu;
    HomePos[n] = home;
    Start[n] = start;
    End[n] = end;
    Step[n] = step;
    CountPerUm[n] = cpu;
    CurrentPos[n] = home;
    Direction[n] = InRadioButton->isChecked() ? 1.0 : 0.0;
    StepEdit->setText(FormatFixed14(step));
    if (ControlPIForm) ControlPIForm->SendGoHome(n);
    TAxisParameters p;
    p.HomePos = home;
    p.Start = start;
    p.End = end;
    p.Step = step;
    p.CountPerUm = cpu;
    p.CurrentPos = home;
    p.Direction = Direction[n] != 0.0;
    WriteAxisParameters(n, p);
    if (ControlPIForm) ControlPIForm->ReloadAxes();
}
