// The digitizer panels: their controls, and the exact control, level and input calls each
// board kind's panel sends, guarded by the opened imaging library.

#include "main_fixture.h"

#include "Controldrevan.h"
#include "Controlhalcyra.h"
#include "Controllumbra.h"
#include "Controlsorvik.h"
#include "Controlsorvik2.h"
#include "Liveactions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

namespace {

using Strings = std::vector<std::string>;

// The operator choosing an item.
void Choose(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QStringList Tabs(const TDigitizerPanelForm* panel)
{
    QStringList out;
    for (int i = 0; i < panel->PageControl->count(); ++i)
        out << panel->PageControl->tabText(i);
    return out;
}

struct PanelCase {
    int kind;
    const char* caption;
    const char* boardTab;    // null: none
    bool contrast;           // contrast/brightness, else black/white
    int inputCount;
    int firstInput;
    bool coupled;
};

const PanelCase kPanels[] = {
    {btSorvik, "Control Digitizer -- Quorvel Sorvik", "Sorvik Control", true, 8, 0, false},
    {btSorvik2, "Control Digitizer -- Quorvel Sorvik II", "Sorvik II Control", false, 8, 0, false},
    {btDrevanSingle, "Control Digitizer -- Quorvel Drevan", nullptr, false, 4, 2, true},
    {btDrevanDouble, "Control Digitizer -- Quorvel Drevan", nullptr, false, 4, 2, true},
    {btLumbra, "Control Digitizer -- Quorvel Lumbra", "Lumbra Control", true, 8, 0, false},
    {btHalcyra, "Control Digitizer -- Quorvel Halcyra", "Halcyra Control", false, 8, 0, false},
};

class PanelTest : public FrameTest, public ::testing::WithParamInterface<PanelCase> {
protected:
    TDigitizerPanelForm* Panel() { return DigitizerPanelOfKind(GetParam().kind); }

    void Open()
    {
        MainForm->OpenImaging();
        orbsim::clearCallLog();
    }
};

}  // namespace

TEST_P(PanelTest, HasTheFamilysControlsWithTheirDesignDefaults)
{
    const PanelCase k = GetParam();
    StartWithBoard(k.kind);
    TDigitizerPanelForm* p = Panel();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->windowTitle(), k.caption);
    EXPECT_TRUE(p->windowFlags() & Qt::WindowStaysOnTopHint);
    QStringList tabs = {"Channel", "Input Region", "Control", "Reference"};
    if (k.boardTab)
        tabs << k.boardTab;
    EXPECT_EQ(Tabs(p), tabs);
    EXPECT_EQ(p->VCRSignalCheckBox != nullptr, k.boardTab != nullptr);
    if (p->VCRSignalCheckBox) {
        EXPECT_EQ(p->VCRSignalCheckBox->text(), "VCR Signal");
        EXPECT_FALSE(p->VCRSignalCheckBox->isChecked());
    }

    ASSERT_EQ(p->InputChannelComboBox->count(), k.inputCount);
    EXPECT_EQ(p->InputChannelComboBox->currentIndex(), k.firstInput);
    EXPECT_EQ(p->InputChannelComboBox->itemText(0), k.inputCount == 4 ? "1" : "0");
    for (QComboBox* c : {p->ScaleXComboBox, p->ScaleYComboBox}) {
        ASSERT_EQ(c->count(), 3);
        EXPECT_EQ(c->itemText(0), "1/4");
        EXPECT_EQ(c->itemText(1), "1/2");
        EXPECT_EQ(c->itemText(2), "1");
        EXPECT_EQ(c->currentIndex(), 2);
    }
    EXPECT_EQ(p->OddRadioButton->text(), "Odd");
    EXPECT_EQ(p->EvenRadioButton->text(), "Even");
    EXPECT_EQ(p->NextfieldRadioButton->text(), "Next field");
    EXPECT_TRUE(p->EvenRadioButton->isChecked());
    EXPECT_FALSE(p->OddRadioButton->isChecked());
    EXPECT_TRUE(p->SyncRadioButton->isChecked());
    EXPECT_EQ(p->AsyncRadioButton->text(), "Asynchronous");
    EXPECT_EQ(p->FieldFrameCSpinEdit->minimum(), 1);
    EXPECT_EQ(p->FieldFrameCSpinEdit->maximum(), 100);
    EXPECT_EQ(p->FieldFrameCSpinEdit->value(), 1);
    EXPECT_TRUE(p->FramesRadioButton->isChecked());
    EXPECT_EQ(p->FieldsRadioButton->text(), "field(s)");
    EXPECT_EQ(p->FramesRadioButton->text(), "frame(s)");

    for (QSlider* s : {p->FirstLevelTrackBar, p->SecondLevelTrackBar}) {
        EXPECT_EQ(s->minimum(), 0);
        EXPECT_EQ(s->maximum(), 255);
    }
    EXPECT_EQ(p->LevelResetButton->text(), "Reset");
    if (k.contrast) {
        auto* c = dynamic_cast<TContrastPanelForm*>(p);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->ContrastTrackBar->value(), 160);
        EXPECT_EQ(c->BrightnessTrackBar->value(), 148);
        EXPECT_EQ(c->ContrastEdit->text(), "160");
        EXPECT_EQ(c->BrightnessEdit->text(), "148");
        EXPECT_EQ(c->ResetButton, p->LevelResetButton);
    } else {
        auto* b = dynamic_cast<TBlackWhitePanelForm*>(p);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->BlackTrackBar->value(), 0);
        EXPECT_EQ(b->WhiteTrackBar->value(), 255);
        EXPECT_EQ(b->BlackEdit->text(), "0");
        EXPECT_EQ(b->WhiteEdit->text(), "255");
        EXPECT_EQ(b->Button1, p->LevelResetButton);
    }
    // Made at start-up without sending anything.
    EXPECT_TRUE(Log().empty());
}

TEST_P(PanelTest, EveryControlSendsItsCodeOnceTheLibraryIsOpen)
{
    const PanelCase k = GetParam();
    StartWithBoard(k.kind);
    TDigitizerPanelForm* p = Panel();
    Open();
    const OrbId dig = MainForm->DigitizerId;
    ASSERT_EQ(dig, 0x3u);
    const std::string first = k.contrast ? "4009" : "4003";
    const std::string second = k.contrast ? "4008" : "4005";
    const std::string firstDefault = k.contrast ? "160" : "0";
    const std::string secondDefault = k.contrast ? "148" : "255";

    p->FirstLevelTrackBar->setValue(200);
    p->SecondLevelTrackBar->setValue(100);
    EXPECT_EQ(p->FirstLevelEdit->text(), "200");
    EXPECT_EQ(p->SecondLevelEdit->text(), "100");
    p->LevelResetButton->click();
    EXPECT_EQ(p->FirstLevelTrackBar->value(), std::stoi(firstDefault));
    EXPECT_EQ(p->SecondLevelTrackBar->value(), std::stoi(secondDefault));
    EXPECT_EQ(p->FirstLevelEdit->text().toStdString(), firstDefault);
    EXPECT_EQ(p->SecondLevelEdit->text().toStdString(), secondDefault);
    EXPECT_EQ(Log(), (Strings{"orbDigSetLevel(0x3, " + first + ", 200)", "orbDigSetLevel(0x3, " + second + ", 100)",
                              "orbDigSetLevel(0x3, " + first + ", " + firstDefault + ")",
                              "orbDigSetLevel(0x3, " + second + ", " + secondDefault + ")"}));

    orbsim::clearCallLog();
    p->AsyncRadioButton->click();
    p->SyncRadioButton->click();
    p->FieldFrameCSpinEdit->setValue(3);
    p->FieldsRadioButton->click();
    p->FramesRadioButton->click();
    p->OddRadioButton->click();
    p->NextfieldRadioButton->click();
    p->EvenRadioButton->click();
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4016, 2)", "orbDigControl(0x3, 4016, 1)",
                              "orbDigControl(0x3, 4017, 3)", "orbDigControl(0x3, 4018, 3)",
                              "orbDigControl(0x3, 4017, 3)", "orbDigControl(0x3, 4074, 11)",
                              "orbDigControl(0x3, 4074, 10)", "orbDigControl(0x3, 4074, 12)"}));

    orbsim::clearCallLog();
    const char* codes[8] = {"0x20000000", "0x40000000", "0x80000000", "0x1000000",
                            "0x2000000",  "0x4000000",  "0x8000000",  "0x200000"};
    Strings expected;
    for (int i = 0; i < k.inputCount; ++i) {
        Choose(p->InputChannelComboBox, i);
        expected.push_back(std::string("orbDigSelectInput(0x3, ") + codes[i] + ")");
        EXPECT_EQ(MainForm->CurrentInputChannel(), InputChannelCode(i));
    }
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(orbsim::digitizerState(dig)->channel, InputChannelCode(k.inputCount - 1));

    if (p->VCRSignalCheckBox) {
        orbsim::clearCallLog();
        p->VCRSignalCheckBox->click();
        p->VCRSignalCheckBox->click();
        EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4061, -9997)", "orbDigControl(0x3, 4061, -9999)"}));
    }
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_P(PanelTest, NothingIsSentBeforeTheLibraryIsOpen)
{
    const PanelCase k = GetParam();
    StartWithBoard(k.kind);
    TDigitizerPanelForm* p = Panel();
    const QString firstEdit = p->FirstLevelEdit->text();
    p->FirstLevelTrackBar->setValue(200);
    p->SecondLevelTrackBar->setValue(20);
    EXPECT_EQ(p->FirstLevelTrackBar->value(), 200);   // only the bar moves
    EXPECT_EQ(p->FirstLevelEdit->text(), firstEdit);
    p->LevelResetButton->click();
    EXPECT_EQ(p->FirstLevelTrackBar->value(), 200);
    p->AsyncRadioButton->click();
    p->FieldFrameCSpinEdit->setValue(5);
    p->FieldsRadioButton->click();
    p->OddRadioButton->click();
    Choose(p->ScaleXComboBox, 0);
    Choose(p->ScaleYComboBox, 1);
    Choose(p->InputChannelComboBox, 1);
    if (p->VCRSignalCheckBox)
        p->VCRSignalCheckBox->click();   // no digitizer id yet
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(orbsim::applicationOpen());
}

TEST_P(PanelTest, PerDirectionOrCoupledScaling)
{
    const PanelCase k = GetParam();
    StartWithBoard(k.kind);
    TDigitizerPanelForm* p = Panel();
    Open();
    Choose(p->ScaleXComboBox, 0);
    Choose(p->ScaleXComboBox, 2);
    Choose(p->ScaleYComboBox, 1);
    if (!k.coupled) {
        EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4011, 0.25)", "orbDigControl(0x3, 4011, 1)",
                                  "orbDigControl(0x3, 4012, 0.5)"}));
        EXPECT_EQ(p->ScaleYComboBox->currentIndex(), 1);
        EXPECT_DOUBLE_EQ(orbsim::digitizerState(0x3)->scaleX, 1.0);
        EXPECT_DOUBLE_EQ(orbsim::digitizerState(0x3)->scaleY, 0.5);
        return;
    }
    // X "1/4" sets both and Y shows "1/4"; X "1" with Y at "1/4" sets both to 1 and Y shows
    // "1"; Y "1/2" then sets Y alone.
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4010, 0.25)", "orbDigControl(0x3, 4010, 1)",
                              "orbDigControl(0x3, 4012, 0.5)"}));
    EXPECT_EQ(p->ScaleXComboBox->currentText(), "1");
    EXPECT_EQ(p->ScaleYComboBox->currentText(), "1/2");
    EXPECT_DOUBLE_EQ(orbsim::digitizerState(0x3)->scaleX, 1.0);
    EXPECT_DOUBLE_EQ(orbsim::digitizerState(0x3)->scaleY, 0.5);
}

INSTANTIATE_TEST_SUITE_P(EveryBoardKind, PanelTest, ::testing::ValuesIn(kPanels),
                         [](const ::testing::TestParamInfo<PanelCase>& info) {
                             return "Kind" + std::to_string(info.param.kind);
                         });

TEST_F(FrameTest, DrevanCouplingSequence)
{
    StartWithBoard(btDrevanSingle);
    TControlDrevanForm* p = ControlDrevanForm;
    MainForm->OpenImaging();
    orbsim::clearCallLog();

    Choose(p->ScaleXComboBox, 0);
    EXPECT_EQ(p->ScaleYComboBox->currentText(), "1/4");
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4010, 0.25)"}));
    Choose(p->ScaleXComboBox, 2);
    EXPECT_EQ(p->ScaleYComboBox->currentText(), "1");
    Choose(p->ScaleYComboBox, 1);
    EXPECT_EQ(p->ScaleXComboBox->currentText(), "1");
    // Y "1/4" takes X along; Y "1/2" then takes X from "1/4" to "1/2" too.
    Choose(p->ScaleYComboBox, 0);
    EXPECT_EQ(p->ScaleXComboBox->currentText(), "1/4");
    Choose(p->ScaleYComboBox, 1);
    EXPECT_EQ(p->ScaleXComboBox->currentText(), "1/2");
    // X "1/2" with Y "1/2": X alone.
    Choose(p->ScaleXComboBox, 1);
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4010, 0.25)", "orbDigControl(0x3, 4010, 1)",
                              "orbDigControl(0x3, 4012, 0.5)", "orbDigControl(0x3, 4010, 0.25)",
                              "orbDigControl(0x3, 4010, 0.5)", "orbDigControl(0x3, 4011, 0.5)"}));
    // Moving a combo box by program sends nothing.
    orbsim::clearCallLog();
    p->ScaleXComboBox->setCurrentIndex(0);
    p->ScaleYComboBox->setCurrentIndex(2);
    EXPECT_TRUE(Log().empty());
}

TEST_F(FrameTest, FieldsThreeSends4018WithThree)
{
    StartWithBoard(btLumbra);
    TControlLumbraForm* p = ControlLumbraForm;
    MainForm->OpenImaging();
    p->FieldFrameCSpinEdit->setValue(3);
    orbsim::clearCallLog();
    p->FieldsRadioButton->click();
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4018, 3)"}));
    EXPECT_DOUBLE_EQ(orbsim::digitizerState(0x3)->controls.at(4018), 3.0);
    // The spin edit then counts fields.
    orbsim::clearCallLog();
    p->FieldFrameCSpinEdit->setValue(7);
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4018, 7)"}));
}

TEST_F(FrameTest, LumbraContrastBeforeOpeningMovesOnlyTheBar)
{
    StartWithBoard(btLumbra);
    TControlLumbraForm* p = ControlLumbraForm;
    p->ContrastTrackBar->setValue(200);
    EXPECT_EQ(p->ContrastTrackBar->value(), 200);
    EXPECT_EQ(p->ContrastEdit->text(), "160");
    EXPECT_TRUE(Log().empty());
    // Once open, the next move sends and shows its position.
    MainForm->OpenImaging();
    orbsim::clearCallLog();
    p->ContrastTrackBar->setValue(201);
    EXPECT_EQ(p->ContrastEdit->text(), "201");
    EXPECT_EQ(Log(), (Strings{"orbDigSetLevel(0x3, 4009, 201)"}));
    EXPECT_EQ(orbsim::digitizerState(0x3)->levels.at(4009), 201);
}

TEST_F(FrameTest, VcrSignalFollowsTheDigitizerIdNotTheOpenedFlag)
{
    StartWithBoard(btHalcyra);
    TControlHalcyraForm* p = ControlHalcyraForm;
    MainForm->OpenImaging();
    orbsim::clearCallLog();
    MainForm->ImagingOpened = false;
    p->VCRSignalCheckBox->click();
    p->WhiteTrackBar->setValue(10);   // guarded by the flag
    p->VCRSignalCheckBox->click();
    MainForm->ImagingOpened = true;
    EXPECT_EQ(Log(), (Strings{"orbDigControl(0x3, 4061, -9997)", "orbDigControl(0x3, 4061, -9999)"}));
}

TEST_F(FrameTest, TypingIntoTheLevelEditsSendsNothing)
{
    StartWithBoard(btSorvik2);
    MainForm->OpenImaging();
    orbsim::clearCallLog();
    ControlSorvik2Form->BlackEdit->setText("77");
    emit ControlSorvik2Form->BlackEdit->editingFinished();
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(ControlSorvik2Form->BlackTrackBar->value(), 0);
}

TEST_F(FrameTest, DrevanInputsAreTheFirstFourCodes)
{
    StartWithBoard(btDrevanDouble);
    TControlDrevanForm* p = ControlDrevanForm;
    EXPECT_EQ(p->InputChannelComboBox->currentText(), "3");
    EXPECT_EQ(MainForm->CurrentInputChannel(), 0x80000000u);
    MainForm->OpenImaging();
    orbsim::clearCallLog();
    Choose(p->InputChannelComboBox, 0);
    Choose(p->InputChannelComboBox, 3);
    EXPECT_EQ(Log(), (Strings{"orbDigSelectInput(0x3, 0x20000000)", "orbDigSelectInput(0x3, 0x1000000)"}));
}

TEST_F(FrameTest, MakingAPanelSendsNothing)
{
    StartWithBoard(btLumbra);
    MainForm->OpenImaging();
    orbsim::clearCallLog();
    TControlLumbraForm* startup = ControlLumbraForm;
    auto extra = std::make_unique<TControlLumbraForm>(nullptr);
    EXPECT_EQ(extra->ScaleXComboBox->currentIndex(), 2);
    EXPECT_EQ(extra->InputChannelComboBox->currentIndex(), 0);
    EXPECT_TRUE(Log().empty());
    // Another panel going leaves the start-up one's pointer alone.
    extra.reset();
    EXPECT_EQ(ControlLumbraForm, startup);
}


int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
