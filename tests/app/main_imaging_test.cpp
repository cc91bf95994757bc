// Opening and closing the imaging library, board kind changes, the image-window factories
// and finding windows.

#include "main_fixture.h"

#include "Controldrevan.h"
#include "Format.h"
#include "Controllumbra.h"
#include "Controlsorvik.h"
#include "Imagebuffercontrol.h"
#include "Mdiimagechild.h"
#include "Mditextchild.h"
#include "Phaseshiftmoire.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"
#include "Selectboardtype.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QRadioButton>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct KindCase {
    int kind;
    const char* driver;
    bool digitizer;
    bool display;
    const char* firstChannel;   // the panel's input at start
};

const KindCase kKinds[] = {
    {0, "ORBSVK", true, false, "0x20000000"},  {1, "ORBSVK2", true, false, "0x20000000"},
    {2, "ORBDRV", true, false, "0x80000000"},  {3, "ORBDRV", true, true, "0x80000000"},
    {4, "ORBLMB", true, false, "0x20000000"},  {5, "ORBHLC", true, false, "0x20000000"},
    {6, "ORBVGA", false, false, nullptr},      {7, "null", false, false, nullptr},
};

class OpenCloseTest : public FrameTest, public ::testing::WithParamInterface<KindCase> {};

}  // namespace

TEST_P(OpenCloseTest, CallsTheLibraryInOrder)
{
    const KindCase k = GetParam();
    StartWithBoard(k.kind);
    ASSERT_EQ(MainForm->BoardType, k.kind);

    MainForm->OpenImaging();
    std::vector<std::string> expected = {
        "orbAppOpen(0x10000000, ptr)",
        "orbAppControl(0x40000000, 0)",
        "orbAppInquire(8, ptr)",
        "orbAppInquire(9, ptr)",
        "orbAppSetErrorHook(0x40000001, hook, ptr)",
        std::string("orbSysOpen(") + k.driver + ", 0x10000000, 0x10000000, ptr)",
    };
    if (k.digitizer) {
        expected.push_back("orbDigAlloc(0x2, 0x0, \"O_CCIR\", 0x10000000, ptr)");
        expected.push_back(std::string("orbDigSelectInput(0x3, ") + k.firstChannel + ")");
        expected.push_back("orbDigSelectInput(0x3, 0x20000000)");
    }
    if (k.display)
        expected.push_back("orbDispAlloc(0x2, 0x10000000, \"O_DEFAULT\", 0x10000000, ptr)");
    EXPECT_EQ(Log(), expected);
    EXPECT_TRUE(MainForm->ImagingOpened);
    EXPECT_EQ(MainForm->AppId, 0x1u);
    EXPECT_EQ(MainForm->SystemId, 0x2u);
    EXPECT_EQ(MainForm->DigitizerId, k.digitizer ? 0x3u : 0u);
    EXPECT_EQ(MainForm->DisplayId, k.display ? 0x4u : 0u);
    EXPECT_EQ(orbsim::digitizerCount(), k.digitizer ? 1u : 0u);
    if (k.digitizer) {
        // The first input is the one left selected.
        EXPECT_EQ(orbsim::digitizerState(0x3)->channel, 0x20000000u);
    }
    EXPECT_EQ(orbsim::errorCount(), 0u);

    orbsim::clearCallLog();
    MainForm->CloseImaging();
    expected.clear();
    if (k.display)
        expected.push_back("orbDispFree(0x4)");
    if (k.digitizer)
        expected.push_back("orbDigFree(0x3)");
    expected.push_back("orbSysClose(0x2)");
    expected.push_back("orbAppClose(0x1)");
    EXPECT_EQ(Log(), expected);
    EXPECT_FALSE(MainForm->ImagingOpened);
    EXPECT_EQ(MainForm->AppId, 0u);
    EXPECT_EQ(MainForm->SystemId, 0u);
    EXPECT_EQ(MainForm->DigitizerId, 0u);
    EXPECT_FALSE(orbsim::applicationOpen());
    EXPECT_EQ(orbsim::errorCount(), 0u);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(EveryBoardKind, OpenCloseTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
                             return "Kind" + std::to_string(info.param.kind);
                         });

TEST_F(FrameTest, OpenSelectsThePanelsInputFirst)
{
    StartWithBoard(btSorvik);
    ControlSorvikForm->InputChannelComboBox->setCurrentIndex(3);
    MainForm->OpenImaging();
    EXPECT_EQ(LogOf("orbDigSelectInput"),
              (std::vector<std::string>{"orbDigSelectInput(0x3, 0x1000000)", "orbDigSelectInput(0x3, 0x20000000)"}));
}

TEST_F(FrameTest, CurrentInputChannelReadsTheBoardKindsPanel)
{
    StartWithBoard(btSorvik);
    const uint32_t codes[8] = {0x20000000u, 0x40000000u, 0x80000000u, 0x1000000u,
                               0x2000000u,  0x4000000u,  0x8000000u,  0x200000u};
    for (int i = 0; i < 8; ++i) {
        ControlSorvikForm->InputChannelComboBox->setCurrentIndex(i);
        EXPECT_EQ(MainForm->CurrentInputChannel(), codes[i]) << "item " << i;
    }
    ControlSorvikForm->InputChannelComboBox->setCurrentIndex(-1);
    EXPECT_EQ(MainForm->CurrentInputChannel(), 0u);

    // Lumbra reads its own panel, not the Sorvik one.
    MainForm->BoardType = btLumbra;
    ControlLumbraForm->InputChannelComboBox->setCurrentIndex(1);
    EXPECT_EQ(MainForm->CurrentInputChannel(), 0x40000000u);
    // Both Drevan kinds read the Drevan panel.
    MainForm->BoardType = btDrevanDouble;
    ControlDrevanForm->InputChannelComboBox->setCurrentIndex(0);
    EXPECT_EQ(MainForm->CurrentInputChannel(), 0x20000000u);
    // No panel: no channel.
    MainForm->BoardType = btNoBoardHost;
    EXPECT_EQ(MainForm->CurrentInputChannel(), 0u);
}

TEST_F(FrameTest, NothingIsOpenedUntilAWindowNeedsIt)
{
    StartWithBoard(btSorvik);
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(MainForm->ImagingOpened);
    MainForm->NewNotesWindow("Notes 0");
    EXPECT_TRUE(Log().empty());
    ASSERT_NE(MainForm->NewImageWindow("Buffer 0", 64, 48), nullptr);
    EXPECT_TRUE(MainForm->ImagingOpened);
    EXPECT_EQ(Log().front(), "orbAppOpen(0x10000000, ptr)");
    // A second window does not open it again.
    orbsim::clearCallLog();
    MainForm->NewImageWindow("Buffer 1", 64, 48);
    EXPECT_TRUE(LogOf("orbAppOpen").empty());
}

// ---- board kind changes -------------------------------------------------------------------

TEST_F(FrameTest, ComboChangeClosesImageWindowsAndReopensWithTheNewKind)
{
    StartWithBoard(btSorvik);
    MainForm->NewImageWindow("Buffer 0", 64, 48);
    MainForm->NewImageWindow("Buffer 1", 32, 32);
    TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
    ASSERT_EQ(orbsim::bufferCount(), 2u);

    MainForm->BoardTypeComboBox->setCurrentIndex(btNoBoardVGA);
    MainForm->BoardTypeComboBoxChange();

    EXPECT_EQ(Children(), std::vector<QMdiSubWindow*>{notes});
    EXPECT_FALSE(MainForm->ImagingOpened);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::displayCount(), 0u);
    EXPECT_FALSE(orbsim::applicationOpen());
    EXPECT_EQ(MainForm->BoardType, btNoBoardVGA);
    EXPECT_EQ(ReadBoardType(), btNoBoardVGA);

    orbsim::clearCallLog();
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 2", 16, 16);
    EXPECT_EQ(LogOf("orbSysOpen"), std::vector<std::string>{"orbSysOpen(ORBVGA, 0x10000000, 0x10000000, ptr)"});
    EXPECT_TRUE(LogOf("orbDigAlloc").empty());
    // Without a digitizer the buffer is not made for grabbing.
    EXPECT_EQ(orbsim::bufferInfo(w->BufferId)->attributes, 4u + 16u + 32u);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(FrameTest, ComboChangeWithTheLibraryClosedOnlyStoresTheKind)
{
    StartWithBoard(btSorvik);
    MainForm->BoardTypeComboBox->setCurrentIndex(btHalcyra);
    MainForm->BoardTypeComboBoxChange();
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(MainForm->BoardType, btHalcyra);
    EXPECT_EQ(ReadBoardType(), btHalcyra);
}

TEST_F(FrameTest, BoardSelectionDialogAppliesTheChosenKind)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* before = MainForm->NewImageWindow("Buffer 0", 64, 48);
    ASSERT_NE(before, nullptr);
    int shownIndex = -2;
    dialogs.AnswerModal([&](QDialog& d) {
        auto& form = dynamic_cast<TSelectBoardTypeForm&>(d);
        shownIndex = form.BoardInfoRadioGroup->ItemIndex();
        form.BoardInfoRadioGroup->SetItemIndex(btDrevanDouble);
        return int(mrOk);
    });
    MainForm->BoardSelectionAction->Execute();

    EXPECT_EQ(shownIndex, btSorvik);   // the dialog shows the stored kind
    EXPECT_TRUE(Children().empty());
    EXPECT_FALSE(MainForm->ImagingOpened);
    EXPECT_EQ(MainForm->BoardType, btDrevanDouble);
    EXPECT_EQ(ReadBoardType(), btDrevanDouble);
    EXPECT_EQ(MainForm->BoardTypeComboBox->currentIndex(), btDrevanDouble);
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].ClassName, "TSelectBoardTypeForm");

    // The next window opens the library for the double-screen kind and uses its shared display.
    orbsim::clearCallLog();
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 1", 64, 48);
    EXPECT_EQ(LogOf("orbSysOpen"), std::vector<std::string>{"orbSysOpen(ORBDRV, 0x10000000, 0x10000000, ptr)"});
    EXPECT_EQ(w->DisplayId, MainForm->DisplayId);
    EXPECT_NE(w->DisplayId, 0u);
    EXPECT_EQ(orbsim::displayState(MainForm->DisplayId)->buffer, w->BufferId);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(FrameTest, CancelledBoardSelectionChangesNothing)
{
    StartWithBoard(btLumbra);
    MainForm->NewImageWindow("Buffer 0", 64, 48);
    dialogs.AnswerModal([](QDialog& d) {
        dynamic_cast<TSelectBoardTypeForm&>(d).BoardInfoRadioGroup->SetItemIndex(btSorvik2);
        return int(mrCancel);
    });
    MainForm->BoardSelectionActionExecute();
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_TRUE(MainForm->ImagingOpened);
    EXPECT_EQ(MainForm->BoardType, btLumbra);
    EXPECT_EQ(ReadBoardType(), btLumbra);
    // The combo box keeps showing the kind in force.
    EXPECT_EQ(MainForm->BoardTypeComboBox->currentIndex(), btLumbra);
}

TEST_F(FrameTest, BoardChangeEndsLiveWorkBeforeFreeingTheDigitizer)
{
    StartWithBoard(btSorvik);
    orbsim::setFramePeriodMs(1);
    MainForm->OpenImaging();
    const OrbId digitizer = MainForm->DigitizerId;
    OrbId buffer = 0;
    orbBufAlloc2d(MainForm->SystemId, 64, 48, 8, 4 + 8 + 16 + 32, &buffer);
    ASSERT_NE(buffer, 0u);

    // A live worker as the live-difference form runs it: grab after grab until told to end.
    std::atomic<int> passes{0};
    QThread* worker = QThread::create([&] {
        do {
            orbDigGrab(digitizer, buffer);
            ++passes;
        } while (!QThread::currentThread()->isInterruptionRequested());
    });
    RealTimeSubtractControlSSForm->Worker = worker;
    worker->start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (passes < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(passes.load(), 3);

    MainForm->BoardTypeComboBox->setCurrentIndex(btSorvik2);
    MainForm->BoardTypeComboBoxChange();

    EXPECT_FALSE(RealTimeSubtractControlSSForm->ThreadActive());
    EXPECT_FALSE(MainForm->ImagingOpened);
    // No grab reached the digitizer after it was freed, and none failed.
    const std::vector<std::string> log = Log();
    const auto freed = std::find(log.begin(), log.end(), "orbDigFree(0x3)");
    ASSERT_NE(freed, log.end());
    EXPECT_TRUE(std::none_of(freed, log.end(),
                             [](const std::string& e) { return e.rfind("orbDigGrab", 0) == 0; }));
    EXPECT_EQ(orbsim::errorCount(), 0u);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

// ---- image windows ----------------------------------------------------------------------------

TEST_F(FrameTest, ImageWindowFromDialogValues)
{
    StartWithBoard(btSorvik);
    dialogs.AnswerModal([](QDialog& d) {
        auto& f = dynamic_cast<TImageBufferControlForm&>(d);
        EXPECT_EQ(f.SizeXEdit->text(), "768");
        EXPECT_EQ(f.SizeYEdit->text(), "576");
        EXPECT_TRUE(f.GrabCheckBox->isEnabled());
        f.SizeXEdit->setText("320");
        f.SizeYEdit->setText(" 240");
        f.SizeBitEdit->setText("16");
        f.SignedRadioButton->setChecked(true);
        f.DispCheckBox->setChecked(false);
        return int(mrOk);
    });
    ASSERT_TRUE(MainForm->NewImageWindowByDialog("Buffer 0"));
    ASSERT_EQ(Children().size(), 1u);
    auto* w = qobject_cast<TMDIImageChildForm*>(Children()[0]);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Buffer 0");
    EXPECT_EQ(FormTag(w), kImageWindowTag);
    EXPECT_EQ(MainForm->ImageWindowCount, 1);
    const auto info = orbsim::bufferInfo(w->BufferId);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 320);
    EXPECT_EQ(info->height, 240);
    EXPECT_EQ(info->type, 16u + ORB_SIGNED);
    EXPECT_EQ(info->attributes, 4u + 8u + 16u);
    EXPECT_EQ(w->widget()->size(), QSize(320, 240));
    // Its own display shows the buffer into the window.
    const auto display = orbsim::displayState(w->DisplayId);
    ASSERT_TRUE(display);
    EXPECT_EQ(display->buffer, w->BufferId);
    EXPECT_TRUE(display->hasWindow);
    EXPECT_EQ(display->controls.at(3054), -9999.0);
    int width = 0, height = 0;
    w->GetImageSize(width, height);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
}

TEST_F(FrameTest, CancelledBufferDialogMakesNoWindow)
{
    StartWithBoard(btSorvik);
    dialogs.AnswerModal(mrCancel);
    EXPECT_FALSE(MainForm->NewImageWindowByDialog("Buffer 0"));
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->ImageWindowCount, 0);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    // Cancelled with text that is no number: still no error.
    dialogs.AnswerModal([](QDialog& d) {
        dynamic_cast<TImageBufferControlForm&>(d).SizeXEdit->setText("abc");
        return int(mrCancel);
    });
    EXPECT_FALSE(MainForm->NewImageWindowByDialog("Buffer 0"));
}

TEST_F(FrameTest, BufferDialogTextThatIsNoNumberRaises)
{
    StartWithBoard(btSorvik);
    dialogs.AnswerModal([](QDialog& d) {
        dynamic_cast<TImageBufferControlForm&>(d).SizeYEdit->setText("12x");
        return int(mrOk);
    });
    try {
        MainForm->NewImageWindowByDialog("Buffer 0");
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'12x' is not a valid integer value");
    }
    EXPECT_TRUE(Children().empty());
}

TEST_F(FrameTest, BufferThatCannotBeHadRaisesAndLeavesNoWindow)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    orbsim::failNextAlloc(orbsim::AllocKind::Buffer);
    try {
        MainForm->NewImageWindow("Buffer 0", 64, 48);
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "No memory to create more buffers!");
    }
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->ImageWindowCount, 0);
    EXPECT_EQ(orbsim::displayCount(), 0u);
}

TEST_F(FrameTest, ClosingAnImageWindowFreesDisplayAndBuffer)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 64, 48);
    const OrbId buffer = w->BufferId, display = w->DisplayId;
    orbsim::clearCallLog();
    w->close();
    EXPECT_EQ(Log(), (std::vector<std::string>{"orbDispFree(" + Format("0x%x", display) + ")",
                                               "orbBufFree(" + Format("0x%x", buffer) + ")"}));
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(orbsim::bufferCount(), 0u);
}

TEST_F(FrameTest, ClosingOnTheSharedDisplayShowsBlack)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 64, 48);
    const OrbId buffer = w->BufferId;
    const std::string b = Format("0x%x", buffer), d = Format("0x%x", MainForm->DisplayId);
    orbsim::clearCallLog();
    w->close();
    EXPECT_EQ(Log(), (std::vector<std::string>{"orbBufClear(" + b + ", 0)", "orbDispShowBuffer(" + d + ", " + b + ")",
                                               "orbBufFree(" + b + ")"}));
    // The shared display stays.
    EXPECT_EQ(orbsim::displayCount(), 1u);
}

TEST_F(FrameTest, ImageWindowIsOnlyMinimisedWhileALiveWorkerRuns)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Now", 64, 48);
    QThread* idle = QThread::create([] {
        while (!QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(1);
    });
    RealTimeMultiplyControlSSForm->Worker = idle;
    idle->start();
    w->close();
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_TRUE(w->isMinimized());
    EXPECT_EQ(orbsim::bufferCount(), 1u);
    RealTimeMultiplyControlSSForm->EndMultiplyBitBtnClick();
    EXPECT_FALSE(RealTimeMultiplyControlSSForm->ThreadActive());
    w->close();
    EXPECT_TRUE(Children().empty());
}

TEST_F(FrameTest, ProjectWindowsTakeTheSixTitlesInOrder)
{
    StartWithBoard(btSorvik);
    dialogs.AnswerModal([](QDialog& d) {
        auto& f = dynamic_cast<TImageBufferControlForm&>(d);
        f.SizeXEdit->setText("40");
        f.SizeYEdit->setText("30");
        return int(mrOk);
    });
    int width = 0, height = 0;
    ASSERT_TRUE(MainForm->NewProjectWindows("PhaseShiftMoire - 0", width, height));
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 30);
    const char* suffixes[6] = {" - Object", " - Step1", " - Step2", " - Step3", " - Step4", " - mask"};
    const std::vector<QMdiSubWindow*> children = Children();
    ASSERT_EQ(children.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(children[i]->windowTitle(), QString("PhaseShiftMoire - 0") + suffixes[i]);
        EXPECT_EQ(MainForm->ProjectBufferIds[i], qobject_cast<TMDIImageChildForm*>(children[i])->BufferId);
    }
    EXPECT_EQ(MainForm->ImageWindowCount, 6);
}

TEST_F(FrameTest, ProjectWindowsOfSizeAreEightBitAndGrabOnlyWithADigitizer)
{
    StartWithBoard(btNoBoardHost);
    MainForm->NewProjectWindowsOfSize("p.psm", 20, 10);
    ASSERT_EQ(Children().size(), 6u);
    for (int i = 0; i < 6; ++i) {
        const auto info = orbsim::bufferInfo(MainForm->ProjectBufferIds[i]);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->width, 20);
        EXPECT_EQ(info->height, 10);
        EXPECT_EQ(info->type, 8u);
        EXPECT_EQ(info->attributes, 4u + 16u + 32u);
    }
    EXPECT_TRUE(dialogs.Modals().empty());
}

TEST_F(FrameTest, RealTimeWindowsAreMarkedAndClosedTogether)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* other = MainForm->NewImageWindow("Buffer 0", 16, 16);
    dialogs.AnswerModal(mrOk);
    TRealTimeWindowIds ids;
    ASSERT_TRUE(MainForm->NewRealTimeWindows("Subtract Result", ids));
    const std::vector<QMdiSubWindow*> children = Children();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[1]->windowTitle(), "Start");
    EXPECT_EQ(children[2]->windowTitle(), "Now");
    EXPECT_EQ(children[3]->windowTitle(), "Subtract Result");
    EXPECT_EQ(ids.StartBuffer, qobject_cast<TMDIImageChildForm*>(children[1])->BufferId);
    EXPECT_EQ(ids.NowDisplay, qobject_cast<TMDIImageChildForm*>(children[2])->DisplayId);
    EXPECT_EQ(ids.ResultBuffer, qobject_cast<TMDIImageChildForm*>(children[3])->BufferId);
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(qobject_cast<TMDIImageChildForm*>(children[i])->RealTimeWindow);
    EXPECT_FALSE(other->RealTimeWindow);

    MainForm->CloseRealTimeWindows();
    EXPECT_EQ(Children(), std::vector<QMdiSubWindow*>{other});

    // A cancelled dialog makes none.
    dialogs.AnswerModal(mrCancel);
    EXPECT_FALSE(MainForm->NewRealTimeWindows("Subtract Result", ids));
    EXPECT_EQ(Children().size(), 1u);
}

TEST_F(FrameTest, RealTimeWindowsStayOnTheDoubleScreenKind)
{
    StartWithBoard(btDrevanDouble);
    dialogs.AnswerModal(mrOk);
    TRealTimeWindowIds ids;
    ASSERT_TRUE(MainForm->NewRealTimeWindows("Multiply Result", ids));
    MainForm->CloseRealTimeWindows();
    EXPECT_EQ(Children().size(), 3u);
}

TEST_F(FrameTest, FindImageWindowIgnoresNotesWindows)
{
    StartWithBoard(btSorvik);
    MainForm->NewNotesWindow("Same");
    EXPECT_EQ(MainForm->FindImageWindow("Same"), nullptr);
    TMDIImageChildForm* first = MainForm->NewImageWindow("Same", 16, 16);
    MainForm->NewImageWindow("Same", 16, 16);
    EXPECT_EQ(MainForm->FindImageWindow("Same"), first);   // the first in child order
    EXPECT_EQ(MainForm->FindImageWindow("same"), nullptr);  // exact caption only
    EXPECT_EQ(MainForm->FindImageWindow("Sam"), nullptr);
    first->close();
    EXPECT_NE(MainForm->FindImageWindow("Same"), nullptr);
    EXPECT_NE(MainForm->FindImageWindow("Same"), first);
}

TEST_F(FrameTest, ActiveWindowsAreToldApartByTag)
{
    StartWithBoard(btSorvik);
    EXPECT_EQ(MainForm->ActiveChild(), nullptr);
    EXPECT_EQ(MainForm->ActiveImageWindow(), nullptr);
    TMDIImageChildForm* image = MainForm->NewImageWindow("Buffer 0", 16, 16);
    MainForm->MdiArea->setActiveSubWindow(image);
    EXPECT_EQ(MainForm->ActiveImageWindow(), image);
    EXPECT_EQ(MainForm->ActiveNotesWindow(), nullptr);
    TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
    MainForm->MdiArea->setActiveSubWindow(notes);
    EXPECT_EQ(FormTag(notes), kNotesWindowTag);
    EXPECT_EQ(MainForm->ActiveNotesWindow(), notes);
    EXPECT_EQ(MainForm->ActiveImageWindow(), nullptr);
    EXPECT_EQ(MainForm->NotesWindowCount, 1);
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
