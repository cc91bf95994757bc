// The program's start (forms, state read from the settings store), the frame's components
// and actions, the result views and the shut-down.

#include "main_fixture.h"

#include "Autoadjust.h"
#include "Calibrateangle.h"
#include "Controldrevan.h"
#include "Controlhalcyra.h"
#include "Controllumbra.h"
#include "Controlpi.h"
#include "Controlsorvik.h"
#include "Controlsorvik2.h"
#include "Imagebuffercontrol.h"
#include "Mdiimagechild.h"
#include "Mditextchild.h"
#include "Modifyimage.h"
#include "Phaseshiftmoire.h"
#include "Pleasewait.h"
#include "Quickstartnewtype.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"
#include "Selectboardtype.h"
#include "Show2d.h"
#include "Show3d.h"
#include "Showdata.h"
#include "Showprofile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QMdiArea>
#include <QMenu>
#include <QRadioButton>
#include <QStatusBar>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QToolBar>

namespace {

std::vector<std::string> ClassNames(const std::vector<QWidget*>& forms)
{
    std::vector<std::string> out;
    for (QWidget* f : forms)
        out.push_back(f->metaObject()->className());
    return out;
}

}  // namespace

// ---- start ----------------------------------------------------------------------------------

TEST_F(FrameTest, SixteenFormsAreMadeInOrderIntoTheirPointers)
{
    StartWithBoard(btSorvik);
    const std::vector<QWidget*> forms = Application->Components();
    EXPECT_EQ(ClassNames(forms),
              (std::vector<std::string>{"TMainForm", "TControlLumbraForm", "TControlPIForm", "TControlDrevanForm",
                                        "TPleaseWaitForm", "TQuickStartNewTypeForm", "TControlHalcyraForm",
                                        "TControlSorvikForm", "TControlSorvik2Form", "TShowDataForm", "TShow3DForm",
                                        "TShowProfileForm", "TShow2DForm", "TCalibrateAngleForm", "TAutoAdjustForm",
                                        "TModifyImageForm"}));
    const std::vector<QWidget*> pointers = {
        MainForm,           ControlLumbraForm, ControlPIForm,    ControlDrevanForm,  PleaseWaitForm,
        QuickStartNewTypeForm, ControlHalcyraForm, ControlSorvikForm, ControlSorvik2Form, ShowDataForm,
        Show3DForm,         ShowProfileForm,   Show2DForm,       CalibrateAngleForm, AutoAdjustForm,
        ModifyImageForm};
    EXPECT_EQ(forms, pointers);
    // Only the main window is shown by the program; the others start hidden.
    for (size_t i = 1; i < forms.size(); ++i)
        EXPECT_FALSE(forms[i]->isVisible()) << ClassNames(forms)[i];

    Application->DestroyForms();
    EXPECT_TRUE(Application->Components().empty());
    for (QWidget** p : {reinterpret_cast<QWidget**>(&MainForm), reinterpret_cast<QWidget**>(&ModifyImageForm),
                        reinterpret_cast<QWidget**>(&ControlPIForm)})
        EXPECT_EQ(*p, nullptr);
}

TEST_F(FrameTest, FormsCarryTheirCaptions)
{
    StartWithBoard(btSorvik);
    EXPECT_EQ(MainForm->windowTitle(), "Vistrel 2.0");
    EXPECT_EQ(ControlLumbraForm->windowTitle(), "Control Digitizer -- Quorvel Lumbra");
    EXPECT_EQ(ControlSorvikForm->windowTitle(), "Control Digitizer -- Quorvel Sorvik");
    EXPECT_EQ(ControlSorvik2Form->windowTitle(), "Control Digitizer -- Quorvel Sorvik II");
    EXPECT_EQ(ControlDrevanForm->windowTitle(), "Control Digitizer -- Quorvel Drevan");
    EXPECT_EQ(ControlHalcyraForm->windowTitle(), "Control Digitizer -- Quorvel Halcyra");
    EXPECT_EQ(ControlPIForm->windowTitle(), "Control Motor");
    EXPECT_EQ(QuickStartNewTypeForm->windowTitle(), "Created Type");
    EXPECT_EQ(ShowDataForm->windowTitle(), "Data Show");
    EXPECT_EQ(Show3DForm->windowTitle(), "3D Color map");
    EXPECT_EQ(ShowProfileForm->windowTitle(), "Profile");
    EXPECT_EQ(Show2DForm->windowTitle(), "2D Color map");
    EXPECT_EQ(CalibrateAngleForm->windowTitle(), "Angle Calibration");
    EXPECT_EQ(AutoAdjustForm->windowTitle(), "Automatic Adjust System Parameters");
    EXPECT_EQ(ModifyImageForm->windowTitle(), "Modify Image");
    EXPECT_EQ(RealTimeSubtractControlSSForm->windowTitle(), "Real Time Subtract");
    EXPECT_EQ(RealTimeMultiplyControlSSForm->windowTitle(), "Real Time Multiply");
    // The live forms belong to the main window.
    EXPECT_EQ(RealTimeSubtractControlSSForm->parent(), MainForm);
    EXPECT_EQ(RealTimeMultiplyControlSSForm->parent(), MainForm);
    // The panels' inputs: eight items from "0", Drevan four from "1" showing "3".
    EXPECT_EQ(ControlSorvikForm->InputChannelComboBox->count(), 8);
    EXPECT_EQ(ControlSorvikForm->InputChannelComboBox->currentIndex(), 0);
    EXPECT_EQ(ControlDrevanForm->InputChannelComboBox->count(), 4);
    EXPECT_EQ(ControlDrevanForm->InputChannelComboBox->currentText(), "3");
}

TEST_F(FrameTest, StartReadsBoardKindAndLastPathAndOpensNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteLastPath(dir.path().toStdString());
    StartWithBoard(btHalcyra);
    EXPECT_EQ(MainForm->BoardType, btHalcyra);
    EXPECT_EQ(MainForm->BoardTypeComboBox->currentIndex(), btHalcyra);
    EXPECT_EQ(QDir(QDir::currentPath()).canonicalPath(), QDir(dir.path()).canonicalPath());
    EXPECT_FALSE(MainForm->ImagingOpened);
    EXPECT_EQ(MainForm->AppId, 0u);
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_FALSE(MainForm->Closing);
    EXPECT_EQ(MainForm->ImageWindowCount + MainForm->NotesWindowCount + MainForm->ProjectCount, 0);
    EXPECT_TRUE(orbsim::callLog().empty());
    EXPECT_TRUE(dialogs.Boxes().empty());
}

TEST_F(FrameTest, EmptyStoreStartsWithSorvik)
{
    CreateStartupForms();
    EXPECT_EQ(MainForm->BoardType, btSorvik);
    EXPECT_TRUE(MainForm->BoardHasDigitizer());
    // The last path was missing: the start directory is stored.
    EXPECT_EQ(ReadLastPath(), QDir::currentPath().toStdString());
}

TEST_F(FrameTest, MistypedBoardKindIsReportedAndSorvikUsed)
{
    {
        qsrf::registry::Registry reg;
        ASSERT_TRUE(reg.OpenKey(std::string(kSettingsRootKey) + "Quorvel", true));
        reg.WriteString("BoardType", "Lumbra");
        reg.CloseKey();
    }
    CreateStartupForms();
    ASSERT_NE(MainForm, nullptr);
    EXPECT_EQ(MainForm->BoardType, btSorvik);
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Caption, "Vistrel 2.0");
}

TEST_F(FrameTest, BoardHasDigitizerForEveryKindButTheTwoWithoutBoard)
{
    StartWithBoard(btSorvik);
    for (int k = 0; k < 8; ++k) {
        MainForm->BoardType = static_cast<int8_t>(k);
        EXPECT_EQ(MainForm->BoardHasDigitizer(), k != 6 && k != 7) << k;
    }
}

// ---- components -----------------------------------------------------------------------------

TEST_F(FrameTest, BoardComboBoxHoldsTheEightKindsAndIsDisabled)
{
    StartWithBoard(btSorvik);
    QStringList items;
    for (int i = 0; i < MainForm->BoardTypeComboBox->count(); ++i)
        items << MainForm->BoardTypeComboBox->itemText(i);
    EXPECT_EQ(items, (QStringList{"Sorvik Board", "SorvikII Board", "Drevan Board(S)", "Drevan Board(D)",
                                  "Lumbra Board", "Halcyra Board", "No Board (VGA)", "No Board (Host)"}));
    EXPECT_FALSE(MainForm->BoardTypeComboBox->isEnabled());
    // It sits on the second tool bar after "Board Selection...".
    EXPECT_TRUE(MainForm->ToolBar2->actions().contains(MainForm->BoardSelectionAction));
    EXPECT_EQ(MainForm->BoardTypeComboBox->parentWidget(), MainForm->ToolBar2);
}

TEST_F(FrameTest, BoardSelectionDialogHasTheEightKinds)
{
    TSelectBoardTypeForm form;
    EXPECT_EQ(form.windowTitle(), "Choose Your Image Board");
    EXPECT_EQ(form.BoardInfoRadioGroup->title(), "  Board Info  ");
    ASSERT_EQ(form.BoardInfoRadioGroup->Count(), 8);
    const char* items[8] = {"Sorvik", "Sorvik II", "Drevan (Single  Screen Mode)", "Drevan (Double Screen Mode)",
                            "Lumbra", "Halcyra", "No Board (VGA)", "No Board (Host)"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(form.BoardInfoRadioGroup->Button(i)->text(), items[i]);
    EXPECT_EQ(form.BoardInfoRadioGroup->ItemIndex(), 2);
    form.BoardInfoRadioGroup->SetItemIndex(-1);
    EXPECT_EQ(form.BoardInfoRadioGroup->ItemIndex(), -1);
    form.BoardInfoRadioGroup->SetItemIndex(7);
    EXPECT_EQ(form.BoardInfoRadioGroup->ItemIndex(), 7);
    form.BoardInfoRadioGroup->SetItemIndex(8);
    EXPECT_EQ(form.BoardInfoRadioGroup->ItemIndex(), -1);
}

TEST_F(FrameTest, BufferDialogOffersGrabbingOnlyWithADigitizer)
{
    StartWithBoard(btNoBoardVGA);
    {
        TImageBufferControlForm f;
        EXPECT_EQ(f.windowTitle(), "ImageBufferControlForm");
        EXPECT_FALSE(f.GrabCheckBox->isEnabled());
        EXPECT_FALSE(f.GrabCheckBox->isChecked());
        EXPECT_TRUE(f.ProcCheckBox->isChecked());
        EXPECT_TRUE(f.DispCheckBox->isChecked());
        EXPECT_TRUE(f.UnsignedRadioButton->isChecked());
        EXPECT_EQ(f.SizeX(), 768);
        EXPECT_EQ(f.SizeY(), 576);
        EXPECT_EQ(f.Bits(), 8);
        EXPECT_EQ(f.Bands(), 1);
    }
    MainForm->BoardType = btLumbra;
    TImageBufferControlForm f;
    EXPECT_TRUE(f.GrabCheckBox->isEnabled());
    EXPECT_TRUE(f.GrabCheckBox->isChecked());
}

TEST_F(FrameTest, QuickStartPanelStartsHiddenWhileItsActionIsChecked)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    TAction* a = MainForm->MainFormActionList->Find("Quick Start");
    ASSERT_EQ(a, MainForm->ViewQuickStartAction);
    EXPECT_EQ(a->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(a->isChecked());
    EXPECT_FALSE(MainForm->QuickStartControlPanel->isVisible());
    a->Execute();   // first use: unchecked, panel stays hidden
    EXPECT_FALSE(a->isChecked());
    EXPECT_FALSE(MainForm->QuickStartControlPanel->isVisible());
    a->Execute();   // second use shows it
    EXPECT_TRUE(a->isChecked());
    EXPECT_TRUE(MainForm->QuickStartControlPanel->isVisible());

    MainForm->ViewToolBarAction->Execute();
    EXPECT_FALSE(MainForm->ToolBar1->isVisible());
    EXPECT_FALSE(MainForm->ToolBar2->isVisible());
    EXPECT_FALSE(MainForm->ToolBar3->isVisible());
    MainForm->ViewToolBarAction->Execute();
    EXPECT_TRUE(MainForm->ToolBar2->isVisible());
    MainForm->ViewStatusBarAction->Execute();
    EXPECT_FALSE(MainForm->MyStatusBar->isVisible());
}

TEST_F(FrameTest, WindowActionsNeedChildren)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    MainForm->MainFormActionList->UpdateAll();
    for (TAction* a : {MainForm->WindowCascadeAction, MainForm->WindowTileHorizontalAction,
                       MainForm->WindowTileVerticalAction, MainForm->WindowMinimizeAllAction,
                       MainForm->WindowArrangeAllAction})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_TRUE(MainForm->BoardSelectionAction->isEnabled());
    EXPECT_TRUE(MainForm->ExitAction->isEnabled());

    QMdiSubWindow* a = MainForm->NewNotesWindow("Notes 0");
    QMdiSubWindow* b = MainForm->NewNotesWindow("Notes 1");
    ASSERT_NE(a, nullptr);
    MainForm->MainFormActionList->UpdateAll();
    EXPECT_TRUE(MainForm->WindowTileHorizontalAction->isEnabled());

    MainForm->WindowTileHorizontalAction->Execute();
    const QRect area = MainForm->MdiArea->viewport()->rect();
    EXPECT_EQ(a->geometry().width(), area.width());
    EXPECT_EQ(b->geometry().width(), area.width());
    EXPECT_LT(a->geometry().top(), b->geometry().top());
    MainForm->WindowTileVerticalAction->Execute();
    EXPECT_EQ(a->geometry().height(), area.height());
    EXPECT_LT(a->geometry().left(), b->geometry().left());
    MainForm->WindowMinimizeAllAction->Execute();
    EXPECT_TRUE(a->isMinimized());
    EXPECT_TRUE(b->isMinimized());

    // The Window menu lists the children.
    emit MainForm->WindowMenu->aboutToShow();
    QStringList texts;
    for (QAction* x : MainForm->WindowMenu->actions())
        texts << x->text();
    EXPECT_TRUE(texts.contains("&1 Notes 0"));
    EXPECT_TRUE(texts.contains("&2 Notes 1"));
}

TEST_F(FrameTest, ActionWithoutHandlerStaysDisabled)
{
    StartWithBoard(btSorvik);
    TAction* a = MainForm->MainFormActionList->Add("Test", "Without Handler", QKeySequence(), {});
    bool updated = false;
    TAction* b = MainForm->MainFormActionList->Add("Test", "Sometimes", QKeySequence(), [] {},
                                                   [&](TAction& x) { updated = true; x.setEnabled(false); });
    MainForm->MainFormActionList->UpdateAll();
    EXPECT_FALSE(a->isEnabled());
    EXPECT_TRUE(updated);
    EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(MainForm->MainFormActionList->Find("Without Handler"), a);
    EXPECT_EQ(MainForm->MainFormActionList->Find("Nothing"), nullptr);
}

// ---- result views ---------------------------------------------------------------------------

TEST_F(FrameTest, ResultViewsAreHiddenWithoutProject)
{
    StartWithBoard(btSorvik);
    for (QWidget* v : std::vector<QWidget*>{ShowDataForm, ShowProfileForm, Show2DForm, Show3DForm})
        v->show();
    MainForm->RefreshResultViews();
    EXPECT_FALSE(ShowDataForm->isVisible());
    EXPECT_FALSE(ShowProfileForm->isVisible());
    EXPECT_FALSE(Show2DForm->isVisible());
    EXPECT_FALSE(Show3DForm->isVisible());
}

TEST_F(FrameTest, VisibleResultViewsAreReloadedFromTheProject)
{
    StartWithBoard(btSorvik);
    MainForm->Project = new TPhaseShiftMoire("PhaseShiftMoire - 0");
    TPhaseShiftMoire& p = *MainForm->Project;
    p.AllocBytePlanes(4, 3);
    p.Header().OriginZ = 2.5;
    Show2DForm->show();
    ShowDataForm->show();

    // Without the height plane nothing is reloaded.
    MainForm->RefreshResultViews();
    EXPECT_FALSE(Show2DForm->HasData());
    EXPECT_FALSE(ShowDataForm->HasData());
    EXPECT_TRUE(Show2DForm->isVisible());

    std::unique_ptr<float[]> heights(new float[12]());
    heights[1 * 4 + 1] = 1.25f;
    heights[2 * 4 + 3] = -1.0f;
    p.SetFloatPlane(kConvertResultCode, std::move(heights));
    MainForm->RefreshResultViews();
    ASSERT_TRUE(Show2DForm->HasData());
    // The range includes the header's Origin Z as offset.
    EXPECT_FLOAT_EQ(Show2DForm->Range().Max, 3.75f);
    EXPECT_FLOAT_EQ(Show2DForm->Range().Min, 1.5f);
    // The data grid shows the neighbourhood of pixel (1, 1): its centre cell is that pixel.
    ASSERT_TRUE(ShowDataForm->HasData());
    EXPECT_EQ(ShowDataForm->Cell(3, 3).trimmed(), "3.750");
    // The hidden 3D view is left alone.
    EXPECT_FALSE(Show3DForm->HasData());

    // Closing the project: the views are hidden and let go of its planes.
    delete MainForm->Project;
    MainForm->Project = nullptr;
    MainForm->RefreshResultViews();
    EXPECT_FALSE(Show2DForm->isVisible());
    EXPECT_FALSE(Show2DForm->HasData());
    EXPECT_FALSE(ShowDataForm->HasData());
}

// ---- shut-down ------------------------------------------------------------------------------

TEST_F(FrameTest, ShutDownAsksAndNoKeepsTheWindow)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    MainForm->NewImageWindow("Buffer 0", 32, 32);
    dialogs.AnswerBox(mrNo);
    EXPECT_FALSE(MainForm->close());
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Do you really want to exit?");
    EXPECT_EQ(boxes[0].Caption, "Confirmation");
    EXPECT_EQ(boxes[0].Flags & MB_BUTTONMASK, MB_YESNO);
    EXPECT_TRUE(MainForm->isVisible());
    EXPECT_FALSE(MainForm->Closing);
    EXPECT_TRUE(MainForm->ImagingOpened);
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_NE(RealTimeSubtractControlSSForm, nullptr);
}

TEST_F(FrameTest, ShutDownWithYesReleasesEverything)
{
    StartWithBoard(btDrevanDouble);
    MainForm->show();
    MainForm->NewImageWindow("Buffer 0", 32, 32);
    MainForm->NewNotesWindow("Notes 0");
    MainForm->Project = new TPhaseShiftMoire("PhaseShiftMoire - 0");
    MainForm->Project->SetModified(false);
    dialogs.AnswerBox(mrYes);
    EXPECT_TRUE(MainForm->close());
    EXPECT_EQ(dialogs.Boxes().size(), 1u);   // only the exit question
    EXPECT_TRUE(MainForm->Closing);
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_FALSE(MainForm->ImagingOpened);
    EXPECT_FALSE(orbsim::applicationOpen());
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::displayCount(), 0u);
    EXPECT_EQ(RealTimeSubtractControlSSForm, nullptr);
    EXPECT_EQ(RealTimeMultiplyControlSSForm, nullptr);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(FrameTest, ShutDownOffersToSaveAModifiedProject)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    MainForm->Project = new TPhaseShiftMoire("PhaseShiftMoire - 0");
    MainForm->Project->AllocBytePlanes(4, 4);
    MainForm->Project->SetModified(true);

    // Cancel at the offer keeps the program and the measurement.
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerBox(mrCancel);
    EXPECT_FALSE(MainForm->close());
    ASSERT_EQ(dialogs.Boxes().size(), 2u);
    EXPECT_EQ(dialogs.Boxes()[1].Text, "Current file has been modified, Save it ? ");
    EXPECT_NE(MainForm->Project, nullptr);
    EXPECT_FALSE(MainForm->Closing);

    // Yes with a cancelled save dialog keeps them too.
    dialogs.Clear();
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerBox(mrYes);
    dialogs.CancelFile();
    EXPECT_FALSE(MainForm->close());
    EXPECT_NE(MainForm->Project, nullptr);

    // Yes and saved: the file exists and the program ends.
    QTemporaryDir dir;
    const QString path = dir.filePath("last.psm");
    dialogs.Clear();
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerFile(path);
    EXPECT_TRUE(MainForm->close());
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(MainForm->Project, nullptr);
}

TEST_F(FrameTest, ShutDownWithNoAtTheOfferDiscardsTheProject)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    MainForm->Project = new TPhaseShiftMoire("PhaseShiftMoire - 0");
    MainForm->Project->SetModified(true);
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerBox(mrNo);
    EXPECT_TRUE(MainForm->close());
    EXPECT_TRUE(dialogs.FileRequests().empty());
    EXPECT_EQ(MainForm->Project, nullptr);
}

TEST_F(FrameTest, DestroyingTheMainWindowStoresTheCurrentDirectory)
{
    StartWithBoard(btSorvik);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    Application->DestroyForms();
    EXPECT_EQ(ReadLastPath(), QDir::currentPath().toStdString());
    EXPECT_EQ(MainForm, nullptr);
}

TEST_F(FrameTest, ExitActionClosesThroughTheQuestion)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    dialogs.AnswerBox(mrNo);
    MainForm->ExitAction->Execute();
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_TRUE(MainForm->isVisible());
    dialogs.AnswerBox(mrYes);
    MainForm->ExitAction->Execute();
    EXPECT_FALSE(MainForm->isVisible());
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
