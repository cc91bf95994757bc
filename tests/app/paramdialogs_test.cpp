// The parameter dialogs: what they show, Cancel writes nothing, OK writes exactly the
// fields, a bad field changes nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <memory>

#include "gui_main.h"
#include "Accessregistry.h"
#include "Apperror.h"
#include "Computepara.h"
#include "Configpi.h"
#include "Coordtransfer.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Phaseshiftmoire.h"
#include "Projectinfo.h"
#include "Quickstartcontrolpara.h"
#include "qflw32d.h"
#include "registry.h"

namespace {

class Params : public ::testing::Test {
protected:
    std::shared_ptr<qsrf::registry::MemoryBackend> store_ = std::make_shared<qsrf::registry::MemoryBackend>();
    qsrf::registry::ScopedProcessBackend scoped_{store_};
    TScriptedDialogs dialogs_;
    ScopedDialogs scopedDialogs_{&dialogs_};
};

// ---- control parameters -----------------------------------------------------------------

TEST_F(Params, ControlParametersShowTheStore)
{
    TQuickStartControlParaForm f;
    EXPECT_EQ(f.windowTitle(), "Quick Start Control Parameters");
    EXPECT_EQ(f.PhaseShiftAxisComboBox->currentIndex(), 0);
    EXPECT_EQ(f.ProjectGratingFrequencyEdit->text(), "10");
    EXPECT_EQ(f.PreMoveDisplaceEdit->text(), "200");
    EXPECT_EQ(f.WaitingTimeEdit->text(), "500");
    EXPECT_EQ(f.PhaseShiftingMethodComboBox->currentText(), "Const 4 Step");
    EXPECT_FALSE(f.PhaseShiftingAngleEdit->isEnabled());   // Const 4 Step: no angle
    f.PhaseShiftingMethodComboBox->setCurrentIndex(0);
    EXPECT_TRUE(f.PhaseShiftingAngleEdit->isEnabled());
}

TEST_F(Params, ControlParametersOkWritesEveryField)
{
    TQuickStartControlParaForm f;
    f.PhaseShiftAxisComboBox->setCurrentIndex(2);
    f.ProjectGratingFrequencyEdit->setText("12.5");
    f.PreMoveDisplaceEdit->setText("150");
    f.WaitingTimeEdit->setText("250.9");
    f.PhaseShiftMoireChannelComboBox->setCurrentIndex(3);
    f.ViewObjectChannelComboBox->setCurrentIndex(2);
    f.PhaseShiftingMethodComboBox->setCurrentIndex(0);
    f.PhaseShiftingAngleEdit->setText("0.25");
    dialogs_.AnswerModal(mrOk);
    f.Execute();
    const TControlPara c = ReadControlPara();
    EXPECT_EQ(c.PhaseShiftAxis, 3);
    EXPECT_EQ(c.ProjectGratingFrequency, 12.5);
    EXPECT_EQ(c.PreMoveDisplace, 150.0);
    EXPECT_EQ(c.WaitingTime, 250);   // truncated
    EXPECT_EQ(c.PhaseShiftMoireChannel, 0x1000000);
    EXPECT_EQ(uint32_t(c.ViewObjectChannel), 0x80000000u);
    EXPECT_EQ(c.PhaseShiftingMethod, 1111);
    EXPECT_EQ(c.PhaseShiftingAngle, 0.25f);
}

TEST_F(Params, ControlParametersCancelAndBadFieldsWriteNothing)
{
    TQuickStartControlParaForm f;
    f.WaitingTimeEdit->setText("1");
    dialogs_.AnswerModal(mrCancel);
    f.Execute();
    EXPECT_EQ(ReadControlPara().WaitingTime, 500);
    f.PreMoveDisplaceEdit->setText("x1");
    try {
        f.FormClose(mrOk);
        FAIL();
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'x1' is not a valid floating point value");
    }
    f.PreMoveDisplaceEdit->setText("1");
    f.ProjectGratingFrequencyEdit->setText("0");   // the step would divide by 0
    EXPECT_THROW(f.FormClose(mrOk), EAppError);
    EXPECT_EQ(ReadControlPara().WaitingTime, 500);
    EXPECT_EQ(ReadControlPara().ProjectGratingFrequency, 10.0);
}

TEST(ChannelCodes, ItemsAndCodesMatch)
{
    EXPECT_EQ(ChannelCodeOfItem(0), 0x20000000);
    EXPECT_EQ(ChannelCodeOfItem(1), 0x40000000);
    EXPECT_EQ(uint32_t(ChannelCodeOfItem(2)), 0x80000000u);
    EXPECT_EQ(ChannelCodeOfItem(3), 0x1000000);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ChannelItemOfCode(ChannelCodeOfItem(i)), i);
    EXPECT_EQ(ChannelItemOfCode(0x1234), -1);
}

// ---- compute parameters -----------------------------------------------------------------

TEST_F(Params, ComputeAutoDisablesItsEdits)
{
    TQuickStartComputeParaForm f(nullptr);
    EXPECT_TRUE(f.StartPointAutoCheckBox->isChecked());
    EXPECT_FALSE(f.StartXEdit->isEnabled());
    EXPECT_FALSE(f.StartYEdit->isEnabled());
    EXPECT_FALSE(f.MaskThresholdEdit->isEnabled());
    f.StartPointAutoCheckBox->setChecked(false);
    EXPECT_TRUE(f.StartXEdit->isEnabled());
    f.MaskThresholdAutoCheckBox->setChecked(false);
    EXPECT_TRUE(f.MaskThresholdEdit->isEnabled());
}

TEST_F(Params, ComputeOkWritesStoreAndProjectHeader)
{
    TPhaseShiftMoire p("P");
    p.AllocBytePlanes(20, 10);
    TQuickStartComputeParaForm f(&p);
    f.StartPointAutoCheckBox->setChecked(false);
    f.StartXEdit->setText("5");
    f.StartYEdit->setText("7");
    f.UnwrapMethodRadioGroup->SetItemIndex(0);
    f.MaskThresholdAutoCheckBox->setChecked(false);
    f.MaskThresholdEdit->setText("90");
    dialogs_.AnswerModal(mrOk);
    f.Execute();
    const TComputePara c = ReadComputePara();
    EXPECT_EQ(c.StartX, 5);
    EXPECT_EQ(c.StartY, 7);
    EXPECT_FALSE(c.StartPointAuto);
    EXPECT_EQ(c.UnwrapMethod, 0);
    EXPECT_EQ(c.Threshold, 90);
    EXPECT_FALSE(c.ThresholdAuto);
    EXPECT_EQ(p.Header().StartX, 5);
    EXPECT_EQ(p.Header().Threshold, 90);
    EXPECT_TRUE(p.Modified());
}

TEST_F(Params, ComputeStartPixelOutsideTheProjectIsRefused)
{
    TPhaseShiftMoire p("P");
    p.AllocBytePlanes(20, 10);
    TQuickStartComputeParaForm f(&p);
    f.StartPointAutoCheckBox->setChecked(false);
    f.StartXEdit->setText("20");
    EXPECT_THROW(f.FormClose(mrOk), EAppError);
    EXPECT_EQ(p.Header().StartX, 0);
    EXPECT_FALSE(p.Modified());
    EXPECT_EQ(ReadComputePara().StartX, 0);
}

// ---- convert parameters -----------------------------------------------------------------

TEST_F(Params, ConvertOkWritesGeometryAndThickness)
{
    TQuickStartConvertParaForm f;
    f.Zc0Edit->setText("11");
    f.ThetaEdit->setText("0.6");
    f.PosXEdit->setText("3");
    f.PI1ComboBox->setCurrentIndex(0);
    f.ProjectingEdit->setText("8");
    f.ProjectGratingThicknessEdit->setText("0.5");
    f.SaveToSystemBitBtnClick();
    const TConvertPara c = ReadConvertPara();
    EXPECT_EQ(c.Zc0, 11.0);
    EXPECT_EQ(c.Theta, 0.6);
    EXPECT_EQ(c.X0, 3);
    EXPECT_EQ(c.PIView, 1);
    EXPECT_EQ(c.ProjectGratingFrequency, 8.0);
    EXPECT_EQ(ReadControlPara().ProjectGratingFrequency, 8.0);
    EXPECT_EQ(ReadGratingThickness(), 0.5);
    EXPECT_EQ(f.result(), mrOk);
}

TEST_F(Params, ConvertBadThicknessOrZeroDivisorsWriteNothing)
{
    const double thickness = ReadGratingThickness();
    for (auto [edit, text] : {std::pair{0, "abc"}, std::pair{1, "0"}, std::pair{2, "0"}}) {
        TQuickStartConvertParaForm f;
        f.Zc0Edit->setText("11");
        if (edit == 0) f.ProjectGratingThicknessEdit->setText(text);
        if (edit == 1) f.ThetaEdit->setText(text);
        if (edit == 2) f.ProjectingEdit->setText(text);
        EXPECT_THROW(f.SaveToSystemBitBtnClick(), EAppError) << edit;
        EXPECT_EQ(ReadConvertPara().Zc0, 10.0) << edit;
        EXPECT_EQ(ReadGratingThickness(), thickness);
    }
}

// ---- coordinate transfer and lenses -----------------------------------------------------

TEST_F(Params, CoordTransferCancelWritesNothingOkWritesThree)
{
    TCoordTransferForm f;
    f.OriginXEdit->setText("1.5");
    f.OriginYEdit->setText("-2");
    f.OriginZEdit->setText("3");
    dialogs_.AnswerModal(mrCancel);
    f.Execute();
    EXPECT_EQ(ReadCoordTransfer().OriginX, 0.0);
    dialogs_.AnswerModal(mrOk);
    f.Execute();
    EXPECT_EQ(ReadCoordTransfer().OriginX, 1.5);
    EXPECT_EQ(ReadCoordTransfer().OriginY, -2.0);
    EXPECT_EQ(ReadCoordTransfer().OriginZ, 3.0);
}

TEST_F(Params, LensShownFixedAndWrittenOnlyOnOk)
{
    TLensParametersForm f;
    EXPECT_EQ(f.ProjectingLensfEdit->text(), "10.00000");
    f.ViewingLensfEdit->setText("12");
    dialogs_.AnswerModal(mrCancel);
    f.Execute();
    EXPECT_EQ(ReadLensParameters().ViewLensF, 10.0);
    dialogs_.AnswerModal(mrOk);
    f.Execute();
    EXPECT_EQ(ReadLensParameters().ViewLensF, 12.0);
}

// ---- project information ----------------------------------------------------------------

TEST_F(Params, ProjectInfoModifyStoresAllOrNothing)
{
    TPhaseShiftMoire p("P");
    p.AllocBytePlanes(20, 10);
    TCurrentPsmInfoForm f;
    f.ShowHeader(&p.Header(), "P(20,10)");
    EXPECT_EQ(f.CurrentProjectFileNameEdit->text(), "P(20,10)");
    EXPECT_TRUE(f.StatusCheckBox[0]->isChecked());
    EXPECT_FALSE(f.StatusCheckBox[6]->isChecked());
    f.ZcEdit->setText("42");
    f.OriginZEdit->setText("bad");   // the last field
    EXPECT_THROW(f.ModifyBitBtnClick(), EAppError);
    EXPECT_NE(p.Header().Zc, 42.0);
    EXPECT_FALSE(f.Modified());
    f.OriginZEdit->setText("1");
    f.E4SRadioButton->setChecked(true);
    f.ModifyBitBtnClick();
    EXPECT_EQ(p.Header().Zc, 42.0);
    EXPECT_EQ(p.Header().OriginZ, 1.0);
    EXPECT_EQ(p.Header().PhaseShiftMethod, 1111);
    EXPECT_TRUE(f.Modified());
}

// ---- group captions ---------------------------------------------------------------------

// The group box of form captioned title; fails when there is none or more than one.
QGroupBox* Group(const QWidget& form, const QString& title)
{
    QGroupBox* found = nullptr;
    int n = 0;
    for (QGroupBox* g : form.findChildren<QGroupBox*>())
        if (g->title() == title) {
            found = g;
            ++n;
        }
    EXPECT_EQ(n, 1) << title.toStdString();
    return found;
}

// Is w inside group (a descendant of it)?
bool Inside(const QWidget* w, const QGroupBox* group)
{
    return group && w && group->isAncestorOf(w);
}

QStringList LabelsIn(const QWidget* w)
{
    QStringList out;
    for (const QLabel* l : w->findChildren<QLabel*>()) out << l->text();
    return out;
}

TEST_F(Params, ConvertFieldsStandInTheirGroups)
{
    TQuickStartConvertParaForm f;
    QGroupBox* system = Group(f, "System Parameters");
    QGroupBox* input = Group(f, "Input Parameters");
    QGroupBox* legend = Group(f, "Unit Legend");
    QGroupBox* pixel = Group(f, "Pixel Size");
    QGroupBox* grating = Group(f, "Grating Frequency");
    for (QLineEdit* e : {f.Zc0Edit, f.Zcf0Edit, f.ThetaEdit, f.Lp0Edit, f.Lpf0Edit, f.PosXEdit, f.PosYEdit,
                         f.ProjectGratingThicknessEdit})
        EXPECT_TRUE(Inside(e, system)) << e->text().toStdString();
    EXPECT_TRUE(Inside(f.PixelXEdit, pixel) && Inside(f.PixelYEdit, pixel));
    EXPECT_TRUE(Inside(pixel, system));
    EXPECT_TRUE(Inside(f.ProjectingEdit, grating) && Inside(f.ReferenceEdit, grating));
    EXPECT_TRUE(Inside(grating, system));
    for (QWidget* w : std::initializer_list<QWidget*>{f.Ruler1Edit, f.Ruler2Edit, f.PI1ComboBox, f.PI2ComboBox}) {
        EXPECT_TRUE(Inside(w, input));
        EXPECT_FALSE(Inside(w, system));
    }
    EXPECT_EQ(LabelsIn(legend), (QStringList{"Length Unit = mm", "Angle Unit = Rad.", "Grating Unit = Lines/mm"}));
    for (const char* caption : {"Ruler-V", "Ruler-P", "PI-V", "PI-P"})
        EXPECT_TRUE(LabelsIn(input).contains(caption)) << caption;
    EXPECT_TRUE(LabelsIn(system).contains("Project-Grating Thickness"));
}

TEST_F(Params, ProjectInfoFieldsStandInTheirGroups)
{
    TPhaseShiftMoire p("P");
    p.AllocBytePlanes(20, 10);
    p.Header().UnwrapMethod = 1;
    TCurrentPsmInfoForm f;
    f.ShowHeader(&p.Header(), "P(20,10)");
    QGroupBox* status = Group(f, "Current Status");
    for (QCheckBox* c : f.StatusCheckBox) {
        EXPECT_TRUE(Inside(c, status));
        EXPECT_FALSE(c->isEnabled());
    }
    QGroupBox* threshold = Group(f, "Mask Threshold");
    EXPECT_TRUE(Inside(f.MaskThresholdEdit, threshold) && Inside(f.MaskThresholdAutoCheckBox, threshold));
    QGroupBox* method = Group(f, "Compute Phase Method");
    EXPECT_TRUE(Inside(f.E4SRadioButton, method) && Inside(f.C4SRadioButton, method));
    QGroupBox* unwrap = Group(f, "Unwrap Parameters");
    EXPECT_TRUE(Inside(f.StartXEdit, unwrap) && Inside(f.StartYEdit, unwrap) &&
                Inside(f.StartPointAutoCheckBox, unwrap));
    // The unwrap group's method choice is shown, but not filled from the header...
    QGroupBox* unwrapMethod = Group(f, "  Method  ");
    EXPECT_TRUE(Inside(unwrapMethod, unwrap));
    EXPECT_EQ(f.UnwrapMethodRadioGroup, unwrapMethod);
    EXPECT_EQ(f.UnwrapMethodRadioGroup->Count(), 2);
    EXPECT_EQ(f.UnwrapMethodRadioGroup->Button(0)->text(), "Simple Unwrap");
    EXPECT_EQ(f.UnwrapMethodRadioGroup->Button(1)->text(), "Complicated Unwrap");
    EXPECT_EQ(f.UnwrapMethodRadioGroup->ItemIndex(), -1);
    QGroupBox* convert = Group(f, "Convert Parameters");
    for (QLineEdit* e : {f.ZcEdit, f.ZcfEdit, f.LpEdit, f.LpfEdit, f.ThetaEdit, f.ProjectingEdit, f.ReferenceEdit,
                         f.PixelXSizeEdit, f.PixelYSizeEdit, f.X0Edit, f.Y0Edit})
        EXPECT_TRUE(Inside(e, convert));
    QGroupBox* coordinates = Group(f, "Coordinate Transfer Parameters");
    for (QLineEdit* e : {f.OriginXEdit, f.OriginYEdit, f.OriginZEdit}) {
        EXPECT_TRUE(Inside(e, coordinates));
        EXPECT_FALSE(Inside(e, convert));
    }
    // ... nor read: choosing there leaves the header's method as it was.
    f.UnwrapMethodRadioGroup->SetItemIndex(0);
    f.C4SRadioButton->setChecked(true);
    f.ModifyBitBtnClick();
    EXPECT_EQ(p.Header().UnwrapMethod, 1);
    EXPECT_EQ(p.Header().PhaseShiftMethod, 2222);   // the unwrap choice did not clear it
}

// ---- stage configuration ----------------------------------------------------------------

TEST_F(Params, ConfigPiApplyStoresTheAxisSnapped)
{
    qflsim::reset();
    TConfigPIForm f;
    EXPECT_EQ(f.windowTitle(), "Config PI");
    EXPECT_EQ(f.CountPerUmEdit->text(), "16.89110196616");
    f.MotorRadioGroup->SetItemIndex(1);
    f.MotorRadioGroupClick();
    f.StepEdit->setText("3");
    f.EndEdit->setText("2");
    f.OutRadioButton->setChecked(true);
    f.ApplyButtonClick();
    const TAxisParameters a = ReadAxisParameters(2);
    EXPECT_DOUBLE_EQ(a.Step, 3.0193411952739675);
    EXPECT_EQ(a.End, 2.0);
    EXPECT_FALSE(a.Direction);
    EXPECT_EQ(a.CurrentPos, a.HomePos);
    EXPECT_EQ(f.StepEdit->text(), " 3.01934119527");
    f.CountPerUmEdit->setText("0");
    EXPECT_THROW(f.ApplyButtonClick(), EAppError);
    EXPECT_EQ(ReadAxisParameters(2).CountPerUm, 16.89110196616);
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
