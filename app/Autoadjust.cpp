#include "Autoadjust.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Controlpi.h"
#include "Format.h"
#include "Forms.h"
#include "Numconv.h"

TAutoAdjustForm* AutoAdjustForm = nullptr;

const char* const kPiViewOutOfRange = "Check carefully, PI-V moving distance is out of range!";
const char* const kPiProjectOutOfRange = "Check carefully, PI-P moving distance is out of range!";

namespace {

QString Fixed7(double v) { return QFormat("%10.7f", v); }

// One side of the thin-lens arrangement: object and image distances (s + L) / 2 and
// (L - s) / 2 that add up to L with focal length f, s = sqrt(L L - 4 f L). A distance
// shorter than four focal lengths has no real solution and is refused.
void SolveLens(const char* side, double L, double f, double& longer, double& shorter)
{
    const double q = L * L - 4.0 * f * L;
    if (!std::isfinite(L) || !std::isfinite(q) || q < 0.0)
        throw EAppError(Format("No real solution on the %s side: the distance L = %.7f mm is shorter "
                               "than four focal lengths (4 f = %.7f mm)!",
                               side, L, 4.0 * f));
    const double s = std::sqrt(q);
    longer = (s + L) * 0.5;
    shorter = (L - s) * 0.5;
}

QLineEdit* NumberEdit(QWidget* parent, bool readOnly, bool enabled)
{
    auto* e = new QLineEdit(parent);
    e->setReadOnly(readOnly);
    e->setEnabled(enabled);
    e->setMinimumWidth(110);
    return e;
}

}  // namespace

TAutoAdjustForm::TAutoAdjustForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Automatic Adjust System Parameters");
    auto* layout = new QVBoxLayout(this);

    // The reading.
    auto* input = new QHBoxLayout;
    InputRadioGroup = new TRadioGroup(QString::fromUtf8("光栅尺读数 Input  "),
                                      {QString::fromUtf8("投影臂 Projecting"), QString::fromUtf8("观察臂 View")}, 1,
                                      this);
    InputRadioGroup->SetItemIndex(0);
    input->addWidget(InputRadioGroup);
    auto* readings = new QGridLayout;
    RpEdit = new QLineEdit("0.0000", this);
    RvEdit = new QLineEdit("0.0000", this);
    UnitLabel = new QLabel("Unit = mm", this);
    readings->addWidget(RpEdit, 0, 0);
    readings->addWidget(RvEdit, 1, 0);
    readings->addWidget(UnitLabel, 0, 1, 2, 1);
    input->addLayout(readings, 1);
    layout->addLayout(input);

    // Before and after.
    auto* parameters = new QGroupBox("   Parameters   ", this);
    auto* grid = new QGridLayout(parameters);
    grid->addWidget(new QLabel("Before", parameters), 0, 1, Qt::AlignHCenter);
    grid->addWidget(new QLabel("After", parameters), 0, 2, Qt::AlignHCenter);
    const char* const captions[6] = {"Lp", "PI-Projecting", "Lpf", "Zc", "PI-View", "Zcf"};
    QLineEdit** before[6] = {&BeforeLpEdit, &BeforePI_PEdit, &BeforeLpfEdit,
                             &BeforeZcEdit, &BeforePI_VEdit, &BeforeZcfEdit};
    QLineEdit** after[6] = {&AfterLpEdit, &AfterPI_PEdit, &AfterLpfEdit, &AfterZcEdit, &AfterPI_VEdit, &AfterZcfEdit};
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(captions[i], parameters), i + 1, 0);
        *before[i] = NumberEdit(parameters, false, false);
        *after[i] = NumberEdit(parameters, true, true);
        grid->addWidget(*before[i], i + 1, 1);
        grid->addWidget(*after[i], i + 1, 2);
    }
    layout->addWidget(parameters);

    // The grating.
    auto* thickness = new QHBoxLayout;
    thickness->addWidget(new QLabel("Project Grating Thickness", this));
    ProjectGratingThicknessEdit = NumberEdit(this, true, true);
    thickness->addWidget(ProjectGratingThicknessEdit, 1);
    AdjustCheckBox = new QCheckBox("Adjust", this);
    thickness->addWidget(AdjustCheckBox);
    layout->addLayout(thickness);

    auto* buttons = new QHBoxLayout;
    ComputeBitBtn = new QPushButton("Compute", this);
    ApplyBitBtn = new QPushButton("Apply", this);
    CloseBitBtn = new QPushButton("Close", this);
    for (QPushButton* b : {ComputeBitBtn, ApplyBitBtn, CloseBitBtn}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    for (int i = 0; i < InputRadioGroup->Count(); ++i)
        connect(InputRadioGroup->Button(i), &QRadioButton::clicked, this,
                [this] { RunGuarded([this] { InputRadioGroupClick(); }); });
    connect(ComputeBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { ComputeBitBtnClick(); }); });
    connect(ApplyBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { ApplyBitBtnClick(); }); });
    connect(CloseBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { CloseBitBtnClick(); }); });
}

TAutoAdjustForm::~TAutoAdjustForm()
{
    if (AutoAdjustForm == this)
        AutoAdjustForm = nullptr;
}

void TAutoAdjustForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Only when the form is made visible, not when the window system restores it.
    if (!event->spontaneous()) RunGuarded([this] { FormShow(); });
}

void TAutoAdjustForm::FormShow()
{
    // Everything is read before anything is shown: a store that cannot be read changes nothing.
    const TConvertPara c = ReadConvertPara();
    const TLensParameters lens = ReadLensParameters();
    const double thickness = ReadGratingThickness();

    Rv = c.RulerV;
    Rp = c.RulerP;
    ViewAxis = c.PIView;
    ProjectAxis = c.PIProject;
    Zc0 = c.Zc0;
    Zcf0 = c.Zcf0;
    Lp0 = c.Lp0;
    Lpf0 = c.Lpf0;
    Theta = c.Theta;
    BeforePI_V = 0.0;
    BeforePI_P = 0.0;
    ProjectingLensF = lens.ProjectingLensF;
    ViewingLensF = lens.ViewLensF;
    GratingThickness = thickness;

    BeforeLpEdit->setText(Fixed7(Lp0));
    BeforePI_PEdit->setText(Fixed7(BeforePI_P));
    BeforeLpfEdit->setText(Fixed7(Lpf0));
    BeforeZcEdit->setText(Fixed7(Zc0));
    BeforePI_VEdit->setText(Fixed7(BeforePI_V));
    BeforeZcfEdit->setText(Fixed7(Zcf0));
    ShowAfter(Lp0, BeforePI_P, Lpf0, Zc0, BeforePI_V, Zcf0);
    ProjectGratingThicknessEdit->setText(FloatToStr(GratingThickness));
}

void TAutoAdjustForm::ShowAfter(double lp, double piP, double lpf, double zc, double piV, double zcf)
{
    NewLp = lp;
    NewPI_P = piP;
    NewLpf = lpf;
    NewZc = zc;
    NewPI_V = piV;
    NewZcf = zcf;
    AfterLpEdit->setText(Fixed7(NewLp));
    AfterPI_PEdit->setText(Fixed7(NewPI_P));
    AfterLpfEdit->setText(Fixed7(NewLpf));
    AfterZcEdit->setText(Fixed7(NewZc));
    AfterPI_VEdit->setText(Fixed7(NewPI_V));
    AfterZcfEdit->setText(Fixed7(NewZcf));
}

void TAutoAdjustForm::InputRadioGroupClick()
{
    if (InputRadioGroup->ItemIndex() == 1)
        RvEdit->setFocus();
    else if (InputRadioGroup->ItemIndex() == 0)
        RpEdit->setFocus();
}

void TAutoAdjustForm::ComputeBitBtnClick()
{
    // Everything is computed and checked first; the values and edits change only when the
    // reading gives a real geometry.
    const double t = std::tan(Theta);
    if (!std::isfinite(t) || t == 0.0)
        throw EAppError(Format("Theta = %g rad gives no projection angle (its tangent is %g): calibrate the "
                               "angle first!",
                               Theta, t));
    const bool viewReading = InputRadioGroup->ItemIndex() == 1;
    double rv, rp;
    if (viewReading) {
        rv = StrToFloat(RvEdit->text());
        rp = t * rv;
    } else {
        rp = StrToFloat(RpEdit->text());
        rv = rp / t;
    }
    if (!std::isfinite(rv) || !std::isfinite(rp))
        throw EAppError("The reading is too large for the geometry!");

    // Projecting side.
    double d = std::sqrt(rv * rv + rp * rp);
    if (rv < 0) d = -d;
    double L = d + Lp0 + Lpf0;
    if (AdjustCheckBox->isChecked()) L += GratingThickness;
    double lp, lpf;
    SolveLens("projecting", L, ProjectingLensF, lp, lpf);
    const double piP = Lpf0 - lpf;

    // View side: the reading itself, no grating.
    double zc, zcf;
    SolveLens("view", rv + Zc0 + Zcf0, ViewingLensF, zc, zcf);
    const double piV = Zcf0 - zcf;
    for (double v : {lp, lpf, piP, zc, zcf, piV})
        if (!std::isfinite(v)) throw EAppError("The reading gives no finite geometry!");

    Rv = rv;
    Rp = rp;
    if (viewReading)
        RpEdit->setText(QFormat("%-10.4f", Rp));
    else
        RvEdit->setText(QFormat("%-10.4f", Rv));
    ShowAfter(lp, piP, lpf, zc, piV, zcf);
}

void TAutoAdjustForm::ApplyBitBtnClick()
{
    ComputeBitBtnClick();
    TControlPIForm* panel = ControlPIForm;
    if (!panel) throw EAppError("The stage panel is not open: the axes cannot be moved!");

    // Both moves are planned and checked against the travel before the rulers are written
    // or anything moves. The projecting axis starts where the view move leaves it when the
    // two are the same axis.
    const float viewCurrent = float(ReadAxisCurrentPos(ViewAxis) - ReadAxisHomePos(ViewAxis));
    const float viewMove = float(NewPI_V - double(viewCurrent));
    const double viewUm = double(viewMove) * 1000.0;
    const TControlPIForm::TMovePlan view = panel->PlanMove(ViewAxis, viewUm, panel->CurrentPos[ViewAxis]);
    if (!view.Accepted)
        throw EAppError(view.OutOfRange ? kPiViewOutOfRange : view.Reason.toStdString());

    const bool sameAxis = ProjectAxis == ViewAxis;
    const double projectStored = sameAxis ? view.Target : ReadAxisCurrentPos(ProjectAxis);
    const double projectFrom = sameAxis ? view.Target : panel->CurrentPos[ProjectAxis];
    const float projectCurrent = float(projectStored - ReadAxisHomePos(ProjectAxis));
    const float projectMove = float(NewPI_P - double(projectCurrent));
    const double projectUm = double(projectMove) * 1000.0;
    const TControlPIForm::TMovePlan project = panel->PlanMove(ProjectAxis, projectUm, projectFrom);
    if (!project.Accepted)
        throw EAppError(project.OutOfRange ? kPiProjectOutOfRange : project.Reason.toStdString());

    WriteRulers(Rv, Rp);
    if (!panel->MoveAxis(ViewAxis, viewUm, true, true)) throw EAppError(kPiViewOutOfRange);
    if (!panel->MoveAxis(ProjectAxis, projectUm, true, true)) throw EAppError(kPiProjectOutOfRange);
}

void TAutoAdjustForm::CloseBitBtnClick() { hide(); }
