// The automatic adjustment: what the form shows, the thin-lens geometry from one reading,
// and "Apply": rulers saved and both stage axes moved, or nothing written and nothing moved
// when a move would leave the travel, the geometry has no real solution or Theta is 0.
#include "gui_main.h"
#include "Autoadjust.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Controlpi.h"
#include "Dialogs.h"
#include "Forms.h"
#include "qflw32d.h"
#include "registry.h"

namespace {

class AutoAdjust : public ::testing::Test {
protected:
    void SetUp() override { qflsim::reset(); }
    void TearDown() override
    {
        form_.reset();
        panel_.reset();
        qflsim::reset();
    }
    // Axis travel from start to end (home and current position 0.5).
    static void Travel(int axis, double start, double end)
    {
        TAxisParameters a;
        a.Start = start;
        a.End = end;
        WriteAxisParameters(axis, a);
    }
    static void Lenses(double projecting, double view)
    {
        TLensParameters l;
        l.ProjectingLensF = projecting;
        l.ViewLensF = view;
        WriteLensParameters(l);
    }
    // The stage panel (start-up homing done, log cleared) and the form, shown.
    TAutoAdjustForm& Make()
    {
        panel_ = std::make_unique<TControlPIForm>();
        ControlPIForm = panel_.get();
        qflsim::clearCallLog();
        form_ = std::make_unique<TAutoAdjustForm>();
        form_->show();
        return *form_;
    }
    static std::vector<std::string> Log() { return qflsim::callLog(); }
    static std::string MessageOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const EAppError& e) {
            return e.Message();
        }
        return "(no error)";
    }
    // Nothing stored and nothing sent.
    void ExpectUntouched()
    {
        const TConvertPara c = ReadConvertPara();
        EXPECT_EQ(c.RulerV, 0.0);
        EXPECT_EQ(c.RulerP, 0.0);
        EXPECT_TRUE(Log().empty());
        for (int n = 1; n <= 4; ++n) {
            EXPECT_EQ(ReadAxisCurrentPos(n), 0.5) << n;
            EXPECT_EQ(panel_->CurrentPos[n], 0.5) << n;
        }
    }

    std::shared_ptr<qsrf::registry::MemoryBackend> store_ = std::make_shared<qsrf::registry::MemoryBackend>();
    qsrf::registry::ScopedProcessBackend scoped_{store_};
    TScriptedDialogs dialogs_;
    ScopedDialogs scopedDialogs_{&dialogs_};
    std::unique_ptr<TControlPIForm> panel_;
    std::unique_ptr<TAutoAdjustForm> form_;
};

// ---- the form ---------------------------------------------------------------------------

TEST_F(AutoAdjust, ControlsAndCaptions)
{
    TAutoAdjustForm& f = Make();
    EXPECT_EQ(f.windowTitle(), "Automatic Adjust System Parameters");
    EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(f.InputRadioGroup->title(), QString::fromUtf8("光栅尺读数 Input  "));
    ASSERT_EQ(f.InputRadioGroup->Count(), 2);
    EXPECT_EQ(f.InputRadioGroup->Button(0)->text(), QString::fromUtf8("投影臂 Projecting"));
    EXPECT_EQ(f.InputRadioGroup->Button(1)->text(), QString::fromUtf8("观察臂 View"));
    EXPECT_EQ(f.InputRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(f.RpEdit->text(), "0.0000");
    EXPECT_EQ(f.RvEdit->text(), "0.0000");
    EXPECT_EQ(f.UnitLabel->text(), "Unit = mm");
    auto* group = qobject_cast<QGroupBox*>(f.BeforeLpEdit->parentWidget());
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "   Parameters   ");
    for (QLineEdit* e : {f.BeforeLpEdit, f.BeforePI_PEdit, f.BeforeLpfEdit, f.BeforeZcEdit, f.BeforePI_VEdit,
                         f.BeforeZcfEdit})
        EXPECT_FALSE(e->isEnabled());
    for (QLineEdit* e : {f.AfterLpEdit, f.AfterPI_PEdit, f.AfterLpfEdit, f.AfterZcEdit, f.AfterPI_VEdit,
                         f.AfterZcfEdit, f.ProjectGratingThicknessEdit}) {
        EXPECT_TRUE(e->isEnabled());
        EXPECT_TRUE(e->isReadOnly());
    }
    QStringList labels;
    for (QLabel* l : group->findChildren<QLabel*>()) labels << l->text();
    for (const char* caption : {"Lp", "PI-Projecting", "Lpf", "Zc", "PI-View", "Zcf", "Before", "After"})
        EXPECT_TRUE(labels.contains(caption)) << caption;
    EXPECT_EQ(f.AdjustCheckBox->text(), "Adjust");
    EXPECT_FALSE(f.AdjustCheckBox->isChecked());
    EXPECT_EQ(f.ComputeBitBtn->text(), "Compute");
    EXPECT_EQ(f.ApplyBitBtn->text(), "Apply");
    EXPECT_EQ(f.CloseBitBtn->text(), "Close");
}

TEST_F(AutoAdjust, ShowingLoadsAndFormatsTheStore)
{
    TConvertPara c;
    c.RulerV = 0.25;
    c.RulerP = 0.5;
    c.PIView = 1;
    c.PIProject = 4;
    c.Zc0 = 123.456;
    c.Zcf0 = 2.5;
    c.Lp0 = 12.5;
    c.Lpf0 = 1.125;
    c.Theta = 0.6;
    WriteConvertPara(c);
    Lenses(3, 4);
    WriteGratingThickness(0.25);
    TAutoAdjustForm& f = Make();
    EXPECT_EQ(f.Rv, 0.25);
    EXPECT_EQ(f.Rp, 0.5);
    EXPECT_EQ(f.ViewAxis, 1);
    EXPECT_EQ(f.ProjectAxis, 4);
    EXPECT_EQ(f.Theta, 0.6);
    EXPECT_EQ(f.ProjectingLensF, 3.0);
    EXPECT_EQ(f.ViewingLensF, 4.0);
    EXPECT_EQ(f.BeforeLpEdit->text(), "12.5000000");
    EXPECT_EQ(f.BeforePI_PEdit->text(), " 0.0000000");
    EXPECT_EQ(f.BeforeLpfEdit->text(), " 1.1250000");
    EXPECT_EQ(f.BeforeZcEdit->text(), "123.4560000");
    EXPECT_EQ(f.BeforePI_VEdit->text(), " 0.0000000");
    EXPECT_EQ(f.BeforeZcfEdit->text(), " 2.5000000");
    EXPECT_EQ(f.AfterLpEdit->text(), f.BeforeLpEdit->text());
    EXPECT_EQ(f.AfterPI_PEdit->text(), f.BeforePI_PEdit->text());
    EXPECT_EQ(f.AfterLpfEdit->text(), f.BeforeLpfEdit->text());
    EXPECT_EQ(f.AfterZcEdit->text(), f.BeforeZcEdit->text());
    EXPECT_EQ(f.AfterPI_VEdit->text(), f.BeforePI_VEdit->text());
    EXPECT_EQ(f.AfterZcfEdit->text(), f.BeforeZcfEdit->text());
    EXPECT_EQ(f.ProjectGratingThicknessEdit->text(), "0.25");

    // Shown again: read again.
    f.hide();
    c.Lp0 = 7;
    WriteConvertPara(c);
    f.show();
    EXPECT_EQ(f.BeforeLpEdit->text(), " 7.0000000");
}

TEST_F(AutoAdjust, InputChoiceMovesTheFocusAndCloseHides)
{
    TAutoAdjustForm& f = Make();
    f.InputRadioGroup->SetItemIndex(1);
    f.InputRadioGroupClick();
    EXPECT_EQ(f.focusWidget(), f.RvEdit);
    f.InputRadioGroup->Button(0)->click();
    EXPECT_EQ(f.focusWidget(), f.RpEdit);
    f.CloseBitBtn->click();
    EXPECT_FALSE(f.isVisible());
}

// ---- Compute ----------------------------------------------------------------------------

TEST_F(AutoAdjust, ThinLensGoldenWithZeroReading)
{
    Lenses(2, 2);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    f.ComputeBitBtnClick();
    EXPECT_EQ(f.RvEdit->text(), "0.0000    ");
    EXPECT_EQ(f.AfterLpEdit->text(), " 8.3722813");
    EXPECT_EQ(f.AfterLpfEdit->text(), " 2.6277187");
    EXPECT_EQ(f.AfterPI_PEdit->text(), "-1.6277187");
    EXPECT_EQ(f.AfterZcEdit->text(), " 8.3722813");
    EXPECT_EQ(f.AfterZcfEdit->text(), " 2.6277187");
    EXPECT_EQ(f.AfterPI_VEdit->text(), "-1.6277187");
    EXPECT_EQ(f.BeforeLpEdit->text(), "10.0000000");   // the "Before" values stay
    EXPECT_DOUBLE_EQ(f.NewLp + f.NewLpf, 11.0);
}

TEST_F(AutoAdjust, ProjectingReadingGivesTheViewReading)
{
    Lenses(2, 2);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("1");
    f.ComputeBitBtnClick();
    EXPECT_EQ(f.RvEdit->text(), "1.0000    ");
    EXPECT_TRUE(f.RvEdit->text().startsWith("1.0000"));
    EXPECT_NEAR(f.Rv, 0.9999963268016429, 1e-15);
    EXPECT_EQ(f.Rp, 1.0);
    EXPECT_EQ(f.RpEdit->text(), "1");   // the typed reading is left as typed
    // L = d + Lp0 + Lpf0 with d = sqrt(Rv^2 + Rp^2) = 1.41421.
    EXPECT_NEAR(f.NewLp + f.NewLpf, 11.0 + 1.4142109650320132, 1e-12);
    // The view side takes Rv itself.
    EXPECT_NEAR(f.NewZc + f.NewZcf, 11.0 + 0.9999963268016429, 1e-12);
}

TEST_F(AutoAdjust, ViewReadingGivesTheProjectingReading)
{
    Lenses(2, 2);
    TAutoAdjustForm& f = Make();
    f.InputRadioGroup->SetItemIndex(1);
    f.RvEdit->setText("-2");
    f.ComputeBitBtnClick();
    EXPECT_EQ(f.RpEdit->text(), "-2.0000   ");
    EXPECT_DOUBLE_EQ(f.Rp, std::tan(0.7854) * -2);
    // A negative view reading makes d negative.
    EXPECT_NEAR(f.NewLp + f.NewLpf, 11.0 - std::sqrt(4 + f.Rp * f.Rp), 1e-12);
    EXPECT_NEAR(f.NewZc + f.NewZcf, 9.0, 1e-12);
}

TEST_F(AutoAdjust, AdjustAddsTheGratingThicknessOnTheProjectingSideOnly)
{
    Lenses(2, 2);
    WriteGratingThickness(0.5);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    f.AdjustCheckBox->setChecked(true);
    f.ComputeBitBtnClick();
    EXPECT_DOUBLE_EQ(f.NewLp + f.NewLpf, 11.5);
    EXPECT_DOUBLE_EQ(f.NewLp, (std::sqrt(11.5 * 11.5 - 8 * 11.5) + 11.5) * 0.5);
    EXPECT_EQ(f.AfterZcEdit->text(), " 8.3722813");
}

TEST_F(AutoAdjust, BadReadingChangesNothing)
{
    Lenses(2, 2);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("abc");
    EXPECT_EQ(MessageOf([&] { f.ComputeBitBtnClick(); }), "'abc' is not a valid floating point value");
    EXPECT_EQ(f.RvEdit->text(), "0.0000");
    EXPECT_EQ(f.AfterLpEdit->text(), "10.0000000");
}

TEST_F(AutoAdjust, DistanceShorterThanFourFocalLengthsIsRefused)
{
    TAutoAdjustForm& f = Make();   // both lenses f = 10, L = 11
    f.RpEdit->setText("0.5");
    const std::string m = MessageOf([&] { f.ComputeBitBtnClick(); });
    EXPECT_NE(m.find("No real solution on the projecting side"), std::string::npos) << m;
    EXPECT_NE(m.find("four focal lengths"), std::string::npos) << m;
    EXPECT_EQ(f.RvEdit->text(), "0.0000");
    EXPECT_EQ(f.AfterLpEdit->text(), "10.0000000");
    EXPECT_EQ(f.AfterPI_PEdit->text(), " 0.0000000");
    for (double v : {f.NewLp, f.NewLpf, f.NewPI_P, f.NewZc, f.NewZcf, f.NewPI_V}) EXPECT_TRUE(std::isfinite(v));

    EXPECT_THROW(f.ApplyBitBtnClick(), EAppError);
    ExpectUntouched();
}

TEST_F(AutoAdjust, ViewSideWithoutRealSolutionIsRefusedToo)
{
    Lenses(2, 10);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    EXPECT_NE(MessageOf([&] { f.ApplyBitBtnClick(); }).find("No real solution on the view side"),
              std::string::npos);
    ExpectUntouched();
}

TEST_F(AutoAdjust, ThetaZeroIsRefused)
{
    Lenses(2, 2);
    WriteTheta(0.0);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("1");
    const std::string m = MessageOf([&] { f.ComputeBitBtnClick(); });
    EXPECT_NE(m.find("Theta = 0 rad"), std::string::npos) << m;
    EXPECT_EQ(f.RvEdit->text(), "0.0000");
    f.InputRadioGroup->SetItemIndex(1);   // a view reading needs the angle as well
    EXPECT_THROW(f.ComputeBitBtnClick(), EAppError);
    EXPECT_THROW(f.ApplyBitBtnClick(), EAppError);
    ExpectUntouched();
}

// ---- Apply ------------------------------------------------------------------------------

TEST_F(AutoAdjust, ApplySavesTheRulersAndMovesBothAxes)
{
    Lenses(2, 2);
    Travel(2, -5, 5);   // PI Project
    Travel(3, -5, 5);   // PI View
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0.5");
    f.ApplyBitBtnClick();
    // PI-V = -1.5778558 mm and PI-P = -1.5596388 mm from home, in whole counts.
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(3, -26652)", "QflExecute(3)",
                                               "QflMoveRelative(2, -26344)", "QflExecute(2)"}));
    EXPECT_EQ(qflsim::position(3), -26652);
    EXPECT_EQ(qflsim::position(2), -26344);
    const TConvertPara c = ReadConvertPara();
    EXPECT_EQ(c.RulerV, f.Rv);
    EXPECT_NEAR(c.RulerV, 0.4999981634008214, 1e-15);
    EXPECT_EQ(c.RulerP, 0.5);
    EXPECT_EQ(c.Lp0, 10.0);   // the rest of the group is kept
    EXPECT_EQ(panel_->SelectedAxis(), 2);

    // The derived geometry now gives the new distances (to within a count).
    const TGeometry g = ReadGeometry();
    EXPECT_NEAR(g.Zc, f.NewZc, 1e-4);
    EXPECT_NEAR(g.Zcf, f.NewZcf, 1e-4);
    EXPECT_NEAR(g.Lp, f.NewLp, 1e-4);
    EXPECT_NEAR(g.Lpf, f.NewLpf, 1e-4);

    // Applying the same reading again moves by what is left: nothing.
    qflsim::clearCallLog();
    f.ApplyBitBtnClick();
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(3, 0)", "QflExecute(3)", "QflMoveRelative(2, 0)",
                                               "QflExecute(2)"}));
}

TEST_F(AutoAdjust, ViewMoveOutOfTravelWritesAndMovesNothing)
{
    Lenses(2, 2);
    Travel(2, -5, 5);   // the view axis 3 keeps 0..1
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    EXPECT_EQ(MessageOf([&] { f.ApplyBitBtnClick(); }), "Check carefully, PI-V moving distance is out of range!");
    ExpectUntouched();
    EXPECT_EQ(panel_->SelectedAxis(), 1);
}

TEST_F(AutoAdjust, ProjectingMoveOutOfTravelLeavesTheViewAxisToo)
{
    Lenses(2, 2);
    Travel(3, -5, 5);   // the projecting axis 2 keeps 0..1
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    EXPECT_EQ(MessageOf([&] { f.ApplyBitBtnClick(); }), "Check carefully, PI-P moving distance is out of range!");
    ExpectUntouched();

    // Through the button the operator sees the text as it is.
    f.ApplyBitBtn->click();
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].Text, "Check carefully, PI-P moving distance is out of range!");
    ExpectUntouched();
}

TEST_F(AutoAdjust, SameAxisForBothPlansTheSecondMoveFromTheFirst)
{
    TConvertPara c;
    c.PIView = 2;
    c.PIProject = 2;
    c.Zcf0 = 2.0;   // PI-V = 2 - 2.6277187 = -0.6277187, PI-P = -1.6277187
    c.Zc0 = 9.0;
    WriteConvertPara(c);
    Lenses(2, 2);
    Travel(2, -1.0, 5);   // each move alone fits; both together reach -1.13
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    EXPECT_EQ(MessageOf([&] { f.ApplyBitBtnClick(); }), "Check carefully, PI-P moving distance is out of range!");
    ExpectUntouched();

    Travel(2, -2.0, 5);
    panel_->ReloadAxes();
    qflsim::clearCallLog();
    f.ApplyBitBtnClick();
    // The second move is what is left from where the first one ended: -1 mm.
    EXPECT_EQ(Log(), (std::vector<std::string>{"QflMoveRelative(2, -10603)", "QflExecute(2)",
                                               "QflMoveRelative(2, -16891)", "QflExecute(2)"}));
    EXPECT_NEAR(ReadAxisCurrentPos(2) - 0.5, f.NewPI_P, 1e-4);
}

TEST_F(AutoAdjust, ClosedControllerIsReportedAndNothingWritten)
{
    Lenses(2, 2);
    Travel(2, -5, 5);
    Travel(3, -5, 5);
    qflsim::setOpenFails(true);
    TAutoAdjustForm& f = Make();
    f.RpEdit->setText("0");
    const std::string m = MessageOf([&] { f.ApplyBitBtnClick(); });
    EXPECT_NE(m.find("not open"), std::string::npos) << m;
    ExpectUntouched();
}

TEST_F(AutoAdjust, WithoutTheStagePanelNothingIsWritten)
{
    Lenses(2, 2);
    TAutoAdjustForm& f = Make();
    ControlPIForm = nullptr;
    f.RpEdit->setText("0");
    EXPECT_THROW(f.ApplyBitBtnClick(), EAppError);
    EXPECT_EQ(ReadConvertPara().RulerV, 0.0);
    EXPECT_TRUE(Log().empty());
}

// ---- the check agrees with the stage panel ----------------------------------------------

TEST_F(AutoAdjust, PlanMoveAcceptsExactlyWhatMoveAxisAccepts)
{
    TAxisParameters a;
    a.CountPerUm = 2;
    WriteAxisParameters(1, a);
    Make();
    TControlPIForm& p = *panel_;
    for (double d : {500.0, 500.5, 500.25, -500.0, -500.5, 0.0, -0.2, 1e12, std::nan("")}) {
        const double before = p.CurrentPos[1];
        const auto plan = p.PlanMove(1, d, before);
        const bool moved = p.MoveAxis(1, d, false, false);
        EXPECT_EQ(plan.Accepted, moved) << d;
        EXPECT_EQ(plan.OutOfRange, !moved) << d;
        if (moved) {
            EXPECT_EQ(plan.Target, p.CurrentPos[1]) << d;
            p.MoveAxis(1, -d, false, false);   // back to the start
        }
    }
    EXPECT_FALSE(p.PlanMove(5, 0, 0.5).Accepted);
    EXPECT_FALSE(p.PlanMove(5, 0, 0.5).OutOfRange);
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
