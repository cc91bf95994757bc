#include "Controlpi.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <cstdio>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Numconv.h"
#include "qflw32d.h"

TControlPIForm* ControlPIForm = nullptr;

namespace {
constexpr double kMaxStep = 3000.0;
}

TControlPIForm::TControlPIForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Control Motor");
    // The controls lie on a page of their designed size; the form itself has no layout,
    // so that its height can cut the page off below the bevel (the collapsed panel).
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    PositionGauge = new QProgressBar(this);
    PositionGauge->setRange(0, 300);
    PositionGauge->setOrientation(Qt::Vertical);
    PositionGauge->setTextVisible(false);
    grid->addWidget(PositionGauge, 0, 0, 4, 1);
    grid->addWidget(new QLabel("CurrentPos=", this), 0, 1);
    PositionLabel = new QLabel(this);
    // Room for a position in "%14.11f" and its sign: the page keeps its designed width.
    PositionLabel->setMinimumWidth(PositionLabel->fontMetrics().horizontalAdvance("-0000.00000000000") + 4);
    grid->addWidget(PositionLabel, 0, 2);
    MicroMLabel = new QLabel("mm", this);
    grid->addWidget(MicroMLabel, 0, 3);
    StepLabel = new QLabel(this);
    grid->addWidget(StepLabel, 1, 1, 1, 2);
    MicroULabel = new QLabel("m", this);
    MicroMLabel2 = new QLabel("   m", this);
    grid->addWidget(MicroULabel, 1, 3);
    grid->addWidget(MicroMLabel2, 1, 4);
    PI_InSpeedButton = new QPushButton("In", this);
    PI_InSpeedButton->setToolTip(QString::fromUtf8("In 缩进"));
    PI_OutSpeedButton = new QPushButton("Out", this);
    PI_OutSpeedButton->setToolTip(QString::fromUtf8("Out  伸出"));
    grid->addWidget(PI_InSpeedButton, 2, 1);
    grid->addWidget(PI_OutSpeedButton, 2, 2);
    AdvancedControlButton = new QPushButton(">>>", this);
    grid->addWidget(AdvancedControlButton, 3, 1);
    SpaceBevel = new QFrame(this);
    SpaceBevel->setFrameShape(QFrame::HLine);
    grid->addWidget(SpaceBevel, 4, 0, 1, 5);
    MotorRadioGroup = new TRadioGroup("", {"axis 1", "axis 2", "axis 3", "axis 4"}, 2, this);
    MotorRadioGroup->SetItemIndex(0);
    grid->addWidget(MotorRadioGroup, 5, 0, 1, 5);
    grid->addWidget(new QLabel("Step", this), 6, 0);
    StepEdit = new QLineEdit(this);
    grid->addWidget(StepEdit, 6, 1, 1, 2);
    MicroULabel2 = new QLabel("m", this);
    MicroMLabel3 = new QLabel("   m", this);
    grid->addWidget(MicroULabel2, 6, 3);
    grid->addWidget(MicroMLabel3, 6, 4);
    AdjustStepBitBtn = new QPushButton("Adjust ", this);
    grid->addWidget(AdjustStepBitBtn, 7, 1);
    SetHomeBitBtn = new QPushButton("Set Current Position as Home", this);
    grid->addWidget(SetHomeBitBtn, 8, 0, 1, 5);

    for (int i = 0; i < MotorRadioGroup->Count(); ++i)
        connect(MotorRadioGroup->Button(i), &QRadioButton::clicked, this,
                [this] { RunGuarded([this] { MotorRadioGroupClick(); }); });
    connect(PI_InSpeedButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { PI_InSpeedButtonClick(); }); });
    connect(PI_OutSpeedButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { PI_OutSpeedButtonClick(); }); });
    connect(StepEdit, &QLineEdit::textEdited, this, [this] { RunStepEntry(false); });
    connect(StepEdit, &QLineEdit::editingFinished, this, [this] { RunStepEntry(true); });
    connect(AdjustStepBitBtn, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { AdjustStepBitBtnClick(); }); });
    connect(AdvancedControlButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { AdvancedControlButtonClick(); }); });
    connect(SetHomeBitBtn, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SetHomeBitBtnClick(); }); });

    // Hiding the step line's labels must not move the rows below them.
    for (QWidget* w : {static_cast<QWidget*>(StepLabel), static_cast<QWidget*>(MicroULabel),
                       static_cast<QWidget*>(MicroMLabel2)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    page->setFixedSize(page->sizeHint());
    grid->activate();
    setFixedWidth(page->width());

    // FormCreate: the panel starts collapsed.
    FullHeight = page->height();
    resize(page->width(), SpaceBevel->geometry().top() + 25);
    InitStageController();
}

TControlPIForm::~TControlPIForm()
{
    // Shut-down: every axis goes home. The stored positions follow only when the controller
    // could carry the command out; otherwise the axes stay where they are recorded.
    char reply[128] = {};
    const bool sent = QflCommand("GH", reply) != 0;
    if (open_ && sent) {
        for (int n = 1; n <= 4; ++n) {
            CurrentPos[n] = HomePos[n];
            try {
                WriteAxisCurrentPos(n, HomePos[n]);
            } catch (const std::exception&) {
                // A settings store that cannot be written must not stop the shut-down.
            }
        }
    }
    if (ControlPIForm == this) ControlPIForm = nullptr;
}

void TControlPIForm::ReadAxes()
{
    for (int n = 1; n <= 4; ++n) {
        const TAxisParameters p = ReadAxisParameters(n);
        HomePos[n] = p.HomePos;
        Start[n] = p.Start;
        End[n] = p.End;
        Step[n] = p.Step;
        CountPerUm[n] = p.CountPerUm;
        CurrentPos[n] = p.CurrentPos;
        Direction[n] = p.Direction;
    }
}

void TControlPIForm::InitStageController()
{
    open_ = QflOpen() != 0;
    if (!open_) {
        PI_InSpeedButton->setEnabled(false);
        PI_OutSpeedButton->setEnabled(false);
        MotorRadioGroup->setEnabled(false);
        AdvancedControlButton->setEnabled(false);
    }
    QflConfigure(9);
    QflInitialize();
    try {
        ReadAxes();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return;
    }
    ShowStep(1);
    static const char* const kDefineHome[5] = {"", "1DH", "2DH", "3DH", "4DH"};
    for (int n = 1; n <= 4; ++n) {
        QflSelectAxis(n);
        MoveAxis(n, (HomePos[n] - CurrentPos[n]) * 1000.0, true, n == 1);
        char reply[128] = {};
        QflCommand(kDefineHome[n], reply);
    }
}

int TControlPIForm::SelectedAxis() const
{
    const int i = MotorRadioGroup->ItemIndex();
    return i >= 0 && i < 4 ? i + 1 : 1;
}

TControlPIForm::TMovePlan TControlPIForm::PlanMove(int axis, double d, double from) const
{
    TMovePlan plan;
    if (axis < 1 || axis > 4) {
        plan.Reason = QString("There is no stage axis %1!").arg(axis);
        return plan;
    }
    if (!open_) {
        plan.Reason = "The stage controller is not open: the axis cannot be moved!";
        return plan;
    }
    const bool negative = !(d >= 0);
    const double m = std::fabs(d);
    const double scaled = m * CountPerUm[axis] + 0.5;
    if (!(CountPerUm[axis] > 0) || !(scaled < 2147483647.0)) {
        plan.OutOfRange = true;
        plan.Reason = QString("The move of axis %1 cannot be made in controller counts!").arg(axis);
        return plan;
    }
    int32_t counts = int32_t(std::trunc(scaled));
    double moved = counts / CountPerUm[axis];
    if (negative) {
        moved = -moved;
        counts = -counts;
    }
    const double p = from + 0.001 * moved;
    if (p > End[axis] || p < Start[axis]) {
        plan.OutOfRange = true;
        plan.Reason = QString("The move of axis %1 to %2 lies outside its travel from %3 to %4!")
                          .arg(axis)
                          .arg(FormatFixed14(p).trimmed())
                          .arg(FormatFixed14(Start[axis]).trimmed())
                          .arg(FormatFixed14(End[axis]).trimmed());
        return plan;
    }
    plan.Accepted = true;
    plan.Target = p;
    plan.Counts = counts;
    return plan;
}

bool TControlPIForm::MoveAxis(int axis, double d, bool execute, bool select)
{
    lastMoveError_.clear();
    if (axis >= 1 && axis <= 4 && select) MotorRadioGroup->SetItemIndex(axis - 1);
    const TMovePlan plan = PlanMove(axis, d, axis >= 1 && axis <= 4 ? CurrentPos[axis] : 0.0);
    if (!plan.Accepted) {
        lastMoveError_ = plan.Reason;
        return false;
    }
    CurrentPos[axis] = plan.Target;
    if (axis == SelectedAxis())
        ShowAxisPosition();
    else
        WriteAxisCurrentPos(axis, plan.Target);
    QflMoveRelative(axis, plan.Counts);
    if (execute) QflExecute(axis);
    return true;
}

void TControlPIForm::StepAxis(int axis, bool forward)
{
    if (axis < 1 || axis > 4) return;
    MoveAxis(axis, forward ? Step[axis] : -Step[axis], false, false);
}

void TControlPIForm::ShowAxisPosition()
{
    const int a = SelectedAxis();
    PositionLabel->setText(FormatFixed14(CurrentPos[a]));
    float span = float(End[a] - Start[a]);
    if (!(span >= 1e-20f)) span = 1.0f;
    const float f = float(CurrentPos[a] - Start[a]) / span;
    const int t = int(std::trunc(300.0f * f));
    const int progress = Direction[a] ? 300 - t : t;
    PositionGauge->setValue(std::max(0, std::min(300, progress)));
    PositionGauge->setProperty("Progress", progress);
    WriteAxisCurrentPos(a, CurrentPos[a]);
}

void TControlPIForm::SendGoHome(int axis)
{
    if (axis < 1 || axis > 4) return;
    const QByteArray cmd = QString("%1GH").arg(axis).toLatin1();
    char reply[128] = {};
    QflCommand(cmd.constData(), reply);
}

void TControlPIForm::ShowStep(int axis)
{
    const QString text = FormatFixed14(Step[axis]);
    StepEdit->setText(text);
    StepLabel->setText("Step= " + text);
}

void TControlPIForm::ReloadAxes()
{
    ReadAxes();
    ShowStep(SelectedAxis());
    ShowAxisPosition();
}

void TControlPIForm::MotorRadioGroupClick()
{
    const int a = SelectedAxis();
    ShowStep(a);
    ShowAxisPosition();
    if (a == 4) {
        MicroMLabel->setText("deg");
        MicroMLabel2->setText("m-deg");
        MicroMLabel3->setText("m-deg");
        MicroULabel->setText("");
        MicroULabel2->setText("");
    } else {
        MicroMLabel->setText("mm");
        MicroMLabel2->setText("   m");
        MicroMLabel3->setText("   m");
        MicroULabel->setText("m");
        MicroULabel2->setText("m");
    }
}

void TControlPIForm::PI_InSpeedButtonClick()
{
    const int a = SelectedAxis();
    StepAxis(a, Direction[a]);
}

void TControlPIForm::PI_OutSpeedButtonClick()
{
    const int a = SelectedAxis();
    StepAxis(a, !Direction[a]);
}

void TControlPIForm::CheckStepText(bool emptyAllowed)
{
    const QString text = StepEdit->text();
    if (emptyAllowed && text.isEmpty()) return;
    if (StrToFloat(text) > kMaxStep) {
        StepEdit->setText("3000.0");
        throw EAppError("Too large Step!!! Danger!!!");
    }
}

void TControlPIForm::StepEditChange() { CheckStepText(true); }

void TControlPIForm::RunStepEntry(bool leaving)
{
    // The message about a bad entry takes the focus from the field, which ends its editing
    // while the message is up. That end belongs to the entry just reported: it is taken up
    // once the message is gone, and only when the field no longer holds the text that was
    // reported (a step above 3000 has become "3000.0" by then), so one entry gives one
    // message.
    if (stepMessageUp_) {
        if (leaving) stepExitPending_ = true;
        return;
    }
    const QString before = StepEdit->text();
    stepMessageUp_ = true;
    RunGuarded([this, leaving] { leaving ? StepEditExit() : StepEditChange(); });
    stepMessageUp_ = false;
    if (stepExitPending_) {
        stepExitPending_ = false;
        if (StepEdit->text() != before) RunStepEntry(true);
    }
}

void TControlPIForm::StepEditExit()
{
    CheckStepText(false);
    AdjustStepBitBtnClick();
}

void TControlPIForm::AdjustStepBitBtnClick()
{
    const int a = SelectedAxis();
    const QString text = StepEdit->text();
    if (text.isEmpty()) {
        Step[a] = 0;
        return;
    }
    const double v = StrToFloat(text);
    if (v > kMaxStep) {
        StepEdit->setText("3000.0");
        throw EAppError("Too large Step!!! Danger!!!");
    }
    if (!(CountPerUm[a] > 0)) throw EAppError("The counts per micrometre of the axis must be above 0!");
    Step[a] = std::trunc(v * CountPerUm[a] + 0.5) / CountPerUm[a];
    ShowStep(a);
    WriteAxisStep(a, Step[a]);
}

void TControlPIForm::AdvancedControlButtonClick()
{
    if (height() == FullHeight) {
        resize(width(), SpaceBevel->geometry().top() + 25);
        AdvancedControlButton->setText(">>>");
        StepLabel->show();
        MicroULabel->show();
        MicroMLabel2->show();
    } else {
        resize(width(), FullHeight);
        AdvancedControlButton->setText("<<<");
        StepLabel->hide();
        MicroULabel->hide();
        MicroMLabel2->hide();
    }
}

void TControlPIForm::SetHomeBitBtnClick()
{
    const QString text = QString::fromUtf8(
        "Do you really want to SET CurrentPos as HomePos ?\n  将此位置设为上电位置？\n"
        "这将引起系统基本参数的调整!!!");
    if (MessageBox(text, "Confirm", MB_YESNO | MB_ICONQUESTION) == mrNo) return;
    const int n = SelectedAxis();
    const QByteArray cmd = QString("%1DH").arg(n).toLatin1();
    char reply[128] = {};
    QflCommand(cmd.constData(), reply);
    ShiftGeometryForAxis(n, CurrentPos[n] - HomePos[n]);
    HomePos[n] = CurrentPos[n];
    WriteAxisHomePos(n, HomePos[n]);
}
