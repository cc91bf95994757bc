// The main window's whole command list: every command with its caption, category and
// shortcut, each enabled exactly by its rule, the menus, tool bars and quick-start panel
// in their order, and the project commands (offer to save, open, close, raw and result
// planes).
#include "main_fixture.h"

#include "Autoadjust.h"
#include "Dataexchange.h"
#include "Calibrateangle.h"
#include "Controlpi.h"
#include "Modifyimage.h"
#include "Mdiimagechild.h"
#include "Mditextchild.h"
#include "Phaseshiftmoire.h"
#include "Projectactions.h"
#include "Projectinfo.h"
#include "Show2d.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDockWidget>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QWidgetAction>

#include <cmath>
#include <limits>
#include <map>
#include <set>

namespace {

TAction* Act(const QString& caption) { return MainForm->MainFormActionList->Find(caption); }

bool Enabled(TAction* a)
{
    a->Update();
    return a->isEnabled();
}

bool Enabled(const QString& caption)
{
    TAction* a = Act(caption);
    return a && Enabled(a);
}

void RunCommand(TAction* a)
{
    a->Update();
    ASSERT_TRUE(a->isEnabled()) << a->text().toStdString();
    a->Execute();
    QCoreApplication::processEvents();
}

void RunCommand(const QString& caption)
{
    TAction* a = Act(caption);
    ASSERT_NE(a, nullptr) << caption.toStdString();
    RunCommand(a);
}

QStringList Entries(const QWidget* w, bool visibleOnly = true)
{
    QStringList out;
    for (const QAction* a : w->actions()) {
        if (visibleOnly && !a->isVisible())
            continue;
        if (a->isSeparator())
            out << "-";
        else if (qobject_cast<const QWidgetAction*>(a))
            out << "[widget]";
        else
            out << a->text();
    }
    return out;
}

struct Row {
    const char* category;
    const char* caption;
    QKeySequence shortcut;
};

const std::vector<Row>& CommandTable()
{
    static const std::vector<Row> rows = {
        {"File", "&New Image", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"File", "New Notes", {}},
        {"File", "&Open Image", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"File", "&Load Image", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"File", "Open Notes", {}},
        {"File", "&Save", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"File", "Save &As...", {}},
        {"File", "&Close", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"File", "E&xit", {}},
        {"Edit", "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Edit", "&Copy", {}},   // Ctrl+C belongs to "&Close", listed first
        {"Edit", "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Window", "&Cascade", {}},
        {"Window", "Tile &Horizontally", {}},
        {"Window", "Tile &Vertically", {}},
        {"Window", "&Minimize All", {}},
        {"Window", "&Arrange All", {}},
        {"Window", "Close All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C)},
        {"Help", "&About...", {}},
        {"View", "Zoom +", {}},
        {"View", "Zoom -", {}},
        {"View", "Original Size", {}},
        {"View", "Refresh", {}},
        {"View", "Tool Bar", {}},
        {"View", "Status Bar", {}},
        {"View", "Quick Start", QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {"Option", "Board Selection...", {}},
        {"Option", "Motor Control", {}},
        {"Option", "PI Config", {}},
        {"Option", "Auto", {}},
        {"Option", "English", {}},
        {"Option", "Chinese", {}},
        {"Capture", "Single Grab", {}},
        {"Capture", "Display Camera", {}},
        {"Capture", "Freeze Camera", {}},
        {"Capture", "Real Time Subtract", {}},
        {"Capture", "Real Time Multiply", {}},
        {"Capture", "Control", {}},
        {"Config", "Control Parameters", {}},
        {"Config", "Compute Parameters", {}},
        {"Config", "Convert Parameters", {}},
        {"Config", "Coord. Transfer Parameters", {}},
        {"Config", "Lens Parameters", {}},
        {"Config", "Automatic Adjust", {}},
        {"Config", "Calibrate Angle", {}},
        {"Image", "Calculation...", {}},
        {"Image", "Histogram", {}},
        {"Image", "Image Size", {}},
        {"Image", "Invert", {}},
        {"Image", "Modify Image", {}},
        {"QuickStart", "New", {}},
        {"QuickStart", "Open", {}},
        {"QuickStart", "Save", {}},
        {"QuickStart", "Close", {}},
        {"QuickStart", "Show", {}},     // raw data
        {"QuickStart", "Update", {}},   // raw data
        {"QuickStart", "Show", {}},     // result
        {"QuickStart", "Update", {}},   // result
        {"QuickStart", "Compute", {}},
        {"QuickStart", "Unwrap", {}},
        {"QuickStart", "Convert to Z", {}},
        {"QuickStart", "Data Exchange", {}},
        {"QuickStart", "Current Project File Info", {}},
        {"QuickStart", "2D Color map", {}},
        {"QuickStart", "Display Data", {}},
        {"QuickStart", "Profile", {}},
        {"QuickStart", "3D Color map", {}},
        {"QuickStart", "Surface Data Output", {}},
    };
    return rows;
}

class Actions : public FrameTest {
protected:
    // A project of w x h with its six windows, as "New" makes an empty one.
    void MakeProject(int w = 8, int h = 6)
    {
        const QString name = "PhaseShiftMoire - " + QString::number(MainForm->ProjectCount);
        MainForm->NewProjectWindowsOfSize(name, w, h);
        MainForm->Project = new TPhaseShiftMoire(name.toStdString());
        MainForm->Project->AllocBytePlanes(w, h);
        ++MainForm->ProjectCount;
        MainForm->Project->SetModified(true);
    }

    static std::unique_ptr<float[]> Plane(std::initializer_list<float> values)
    {
        auto p = std::make_unique<float[]>(values.size());
        std::copy(values.begin(), values.end(), p.get());
        return p;
    }

    void AllFloatPlanes()
    {
        TPhaseShiftMoire& p = *MainForm->Project;
        for (int code : {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode}) {
            auto plane = std::make_unique<float[]>(p.Pixels());
            for (size_t k = 0; k < p.Pixels(); ++k) plane[k] = float(k) * 0.5f;
            p.SetFloatPlane(code, std::move(plane));
        }
    }

    static std::vector<uint8_t> Bytes(const TMDIImageChildForm* w)
    {
        int width = 0, height = 0;
        w->GetImageSize(width, height);
        std::vector<uint8_t> out(size_t(width) * size_t(height));
        orbBufGet(w->BufferId, out.data());
        return out;
    }

    static void Put(const TMDIImageChildForm* w, uint8_t value)
    {
        int width = 0, height = 0;
        w->GetImageSize(width, height);
        std::vector<uint8_t> v(size_t(width) * size_t(height), value);
        orbBufPut(w->BufferId, v.data());
    }

    static void Activate(QMdiSubWindow* w) { MainForm->MdiArea->setActiveSubWindow(w); }

    QStringList BoxTexts() const
    {
        QStringList out;
        for (const auto& b : dialogs.Boxes()) out << b.Text;
        return out;
    }

    QTemporaryDir dir_;
};

// ---- the list ---------------------------------------------------------------------------

TEST_F(Actions, EveryCommandExistsOnceWithCategoryAndShortcut)
{
    StartWithBoard(btSorvik);
    const std::vector<TAction*>& all = MainForm->MainFormActionList->Actions();
    std::multiset<std::pair<QString, QString>> have, want;
    for (TAction* a : all) have.insert({a->Category, a->text()});
    for (const Row& r : CommandTable()) want.insert({r.category, r.caption});
    EXPECT_EQ(have, want);

    for (const Row& r : CommandTable()) {
        for (TAction* a : all) {
            if (a->text() == r.caption && a->Category == r.category) {
                EXPECT_EQ(a->shortcut(), r.shortcut) << r.caption;
            }
        }
    }
    // The panel's two groups each have their own "Show" and "Update".
    EXPECT_EQ(MainForm->RawDataShowAction->text(), "Show");
    EXPECT_EQ(MainForm->ResultShowAction->text(), "Show");
    EXPECT_NE(MainForm->RawDataShowAction, MainForm->ResultShowAction);
    EXPECT_NE(MainForm->RawDataUpdateAction, MainForm->ResultUpdateAction);
}

TEST_F(Actions, NoTwoCommandsShareAShortcut)
{
    StartWithBoard(btSorvik);
    std::map<QString, QString> owner;
    for (TAction* a : MainForm->MainFormActionList->Actions()) {
        if (a->shortcut().isEmpty()) continue;
        const QString key = a->shortcut().toString();
        EXPECT_EQ(owner.count(key), 0u) << key.toStdString() << " of " << a->text().toStdString() << " and "
                                        << owner[key].toStdString();
        owner[key] = a->text();
    }
    EXPECT_EQ(owner["Ctrl+C"], "&Close");
}

// ---- enable rules -----------------------------------------------------------------------

// The states the table below is checked in.
enum State { kEmpty, kImage, kNotes, kProject, kResults, kNoDigitizer, kStateCount };

struct Rule {
    const char* caption;
    bool on[kStateCount];   // empty, image, notes, project, results, no digitizer
};

// TAction of a caption; "Show"/"Update" of the raw group are "raw Show" / "raw Update".
TAction* RuleAction(const char* caption)
{
    const QString c = caption;
    if (c == "raw Show") return MainForm->RawDataShowAction;
    if (c == "raw Update") return MainForm->RawDataUpdateAction;
    if (c == "result Show") return MainForm->ResultShowAction;
    if (c == "result Update") return MainForm->ResultUpdateAction;
    return Act(c);
}

const Rule kRules[] = {
    //                              empty  image  notes  proj   result noDig
    {"&New Image", {true, true, true, true, true, true}},
    {"New Notes", {true, true, true, true, true, true}},
    {"&Open Image", {true, true, true, true, true, true}},
    {"&Load Image", {true, true, true, true, true, true}},
    {"Open Notes", {true, true, true, true, true, true}},
    {"&Save", {false, false, false, false, false, false}},
    {"Save &As...", {false, true, true, true, true, false}},
    {"&Close", {false, true, true, true, true, false}},
    {"E&xit", {true, true, true, true, true, true}},
    {"&Cascade", {false, true, true, true, true, false}},
    {"Tile &Horizontally", {false, true, true, true, true, false}},
    {"Tile &Vertically", {false, true, true, true, true, false}},
    {"&Minimize All", {false, true, true, true, true, false}},
    {"&Arrange All", {false, true, true, true, true, false}},
    {"Close All", {false, true, true, true, true, false}},
    {"&About...", {true, true, true, true, true, true}},
    {"Zoom +", {false, true, false, true, true, false}},
    {"Zoom -", {false, true, false, true, true, false}},
    {"Original Size", {false, false, false, false, false, false}},   // all at 1:1
    {"Refresh", {false, false, false, false, false, false}},         // not board kind 3
    {"Tool Bar", {true, true, true, true, true, true}},
    {"Status Bar", {true, true, true, true, true, true}},
    {"Quick Start", {true, true, true, true, true, true}},
    {"Board Selection...", {true, true, true, true, true, true}},
    {"Motor Control", {true, true, true, true, true, true}},
    {"PI Config", {true, true, true, true, true, true}},
    {"Auto", {false, false, false, false, false, false}},
    {"English", {false, false, false, false, false, false}},
    {"Chinese", {false, false, false, false, false, false}},
    {"Single Grab", {true, true, false, true, true, false}},
    {"Display Camera", {true, true, false, true, true, false}},
    {"Freeze Camera", {false, false, false, false, false, false}},   // nothing live
    {"Real Time Subtract", {true, true, true, true, true, false}},
    {"Real Time Multiply", {true, true, true, true, true, false}},
    {"Control", {true, true, false, true, true, false}},
    {"Control Parameters", {true, true, true, true, true, true}},
    {"Compute Parameters", {true, true, true, true, true, true}},
    {"Convert Parameters", {true, true, true, true, true, true}},
    {"Coord. Transfer Parameters", {true, true, true, true, true, true}},
    {"Lens Parameters", {true, true, true, true, true, true}},
    {"Automatic Adjust", {true, true, true, true, true, true}},
    {"Calibrate Angle", {true, true, true, true, true, true}},
    {"Calculation...", {false, true, false, true, true, false}},
    {"Histogram", {false, true, false, true, true, false}},
    {"Image Size", {false, true, false, true, true, false}},
    {"Invert", {false, true, false, true, true, false}},
    {"Modify Image", {false, true, false, true, true, false}},
    {"New", {true, true, true, true, true, true}},
    {"Open", {true, true, true, true, true, true}},
    {"Save", {false, false, false, true, true, false}},
    {"Close", {false, false, false, true, true, false}},
    {"raw Show", {false, false, false, true, true, false}},
    {"raw Update", {false, false, false, false, false, false}},   // the mask window is active
    {"result Show", {false, false, false, false, true, false}},
    {"result Update", {false, false, false, false, false, false}},
    {"Compute", {false, false, false, true, true, false}},
    {"Unwrap", {false, false, false, false, true, false}},
    {"Convert to Z", {false, false, false, false, true, false}},
    {"Data Exchange", {false, false, false, false, true, false}},
    {"Current Project File Info", {false, false, false, true, true, false}},
    {"2D Color map", {false, false, false, false, true, false}},
    {"3D Color map", {false, false, false, false, true, false}},
    {"Surface Data Output", {false, false, false, false, true, false}},
    {"Display Data", {false, false, false, false, false, false}},   // the 2D view is hidden
    {"Profile", {false, false, false, false, false, false}},
};

class EnableRules : public Actions, public ::testing::WithParamInterface<int> {};

TEST_P(EnableRules, EveryCommandIsEnabledByItsRule)
{
    const State state = State(GetParam());
    StartWithBoard(state == kNoDigitizer ? btNoBoardVGA : btSorvik);
    switch (state) {
    case kImage: MainForm->NewImageWindow("Buffer 0", 16, 8); break;
    case kNotes: MainForm->NewNotesWindow("Notes 0"); break;
    case kProject: MakeProject(); break;
    case kResults:
        MakeProject();
        AllFloatPlanes();
        break;
    default: break;
    }
    QCoreApplication::processEvents();
    size_t checked = 0;
    for (const Rule& r : kRules) {
        TAction* a = RuleAction(r.caption);
        ASSERT_NE(a, nullptr) << r.caption;
        EXPECT_EQ(Enabled(a), r.on[state]) << r.caption << " in state " << state;
        ++checked;
    }
    // Every command but the three edit commands (they follow the focused control) is in
    // the table.
    EXPECT_EQ(checked + 3, CommandTable().size());
}

INSTANTIATE_TEST_SUITE_P(States, EnableRules, ::testing::Range(0, int(kStateCount)));

TEST_F(Actions, RulesThatNeedAParticularWindow)
{
    StartWithBoard(btDrevanDouble);
    TMDIImageChildForm* w = MainForm->NewImageWindow("Buffer 0", 16, 8);
    EXPECT_TRUE(Enabled("Refresh"));   // board kind 3 paints its own windows
    w->SetZoom(2, 2);
    EXPECT_TRUE(Enabled("Original Size"));
    w->SetZoom(16, 16);
    EXPECT_FALSE(Enabled("Zoom +"));
    EXPECT_TRUE(Enabled("Zoom -"));
    w->SetZoom(1, 1);
    w->Live = true;
    EXPECT_TRUE(Enabled("Freeze Camera"));
    EXPECT_FALSE(Enabled("Display Camera"));
    w->Live = false;

    ModifyImageForm->show();
    EXPECT_FALSE(Enabled("Modify Image"));
    ModifyImageForm->hide();
    ControlPIForm->show();
    EXPECT_FALSE(Enabled("Motor Control"));
    ControlPIForm->hide();

    MakeProject();
    AllFloatPlanes();
    Show2DForm->show();
    EXPECT_TRUE(Enabled("Display Data"));
    EXPECT_TRUE(Enabled("Profile"));
    Show2DForm->hide();

    // Raw "Update": the active window must be the chosen plane's window.
    TMDIImageChildForm* object = MainForm->FindImageWindow("PhaseShiftMoire - 0 - Object");
    ASSERT_NE(object, nullptr);
    Activate(object);
    EXPECT_TRUE(Enabled(MainForm->RawDataUpdateAction));
    MainForm->RawDataRadioGroup->SetItemIndex(1);
    EXPECT_FALSE(Enabled(MainForm->RawDataUpdateAction));

    // Result "Show" follows the chosen plane.
    MainForm->Project->SetFloatPlane(kUnwrappedPhaseCode, nullptr);
    MainForm->ResultRadioGroup->SetItemIndex(1);
    EXPECT_FALSE(Enabled(MainForm->ResultShowAction));
    MainForm->ResultRadioGroup->SetItemIndex(2);
    EXPECT_TRUE(Enabled(MainForm->ResultShowAction));
}

TEST_F(Actions, EditCommandsFollowTheFocusedEditControl)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    QLineEdit* edit = new QLineEdit("moire", MainForm->QuickStartControlPanel);
    MainForm->QuickStartControlPanel->show();
    edit->show();
    MainForm->activateWindow();
    edit->setFocus();
    QCoreApplication::processEvents();
    if (QApplication::focusWidget() != edit)
        GTEST_SKIP() << "the platform gives no keyboard focus";
    QApplication::clipboard()->clear();
    EXPECT_FALSE(Enabled("Cu&t"));
    EXPECT_FALSE(Enabled("&Copy"));
    EXPECT_FALSE(Enabled("&Paste"));
    edit->selectAll();
    EXPECT_TRUE(Enabled("Cu&t"));
    EXPECT_TRUE(Enabled("&Copy"));
    RunCommand("Cu&t");
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "moire");
    EXPECT_TRUE(Enabled("&Paste"));
    RunCommand("&Paste");
    EXPECT_EQ(edit->text(), "moire");
    edit->setReadOnly(true);
    edit->selectAll();
    EXPECT_FALSE(Enabled("Cu&t"));
    EXPECT_TRUE(Enabled("&Copy"));
    EXPECT_FALSE(Enabled("&Paste"));
}

// ---- menus, tool bars and panel ---------------------------------------------------------

TEST_F(Actions, MenusListTheirEntriesInOrder)
{
    StartWithBoard(btSorvik);
    TMainForm& f = *MainForm;
    EXPECT_EQ(Entries(f.FileMenu), (QStringList{"&New Image", "New Notes", "-", "&Open Image", "&Load Image",
                                                "Open Notes", "&Save", "Save &As...", "&Close", "Close All", "-",
                                                "E&xit"}));
    EXPECT_EQ(Entries(f.EditMenu), (QStringList{"Cu&t", "&Copy", "&Paste"}));
    EXPECT_EQ(Entries(f.ViewMenu), (QStringList{"Tool Bar", "Status Bar", "-", "Zoom +", "Zoom -", "Original Size",
                                                "Refresh"}));
    EXPECT_EQ(Entries(f.ViewMenu, false), (QStringList{"Tool Bar", "Status Bar", "-", "Quick Start", "-", "Zoom +",
                                                       "Zoom -", "Original Size", "Refresh"}));
    EXPECT_EQ(Entries(f.CaptureMenu),
              (QStringList{"Single Grab", "-", "Display Camera", "Freeze Camera", "-", "Grab Multi-Frame", "-",
                           "Real Time Subtract", "Real Time Multiply", "-", "Control"}));
    EXPECT_EQ(Entries(f.OptionMenu), (QStringList{"Board Selection...", "PI Config", "Motor Control", "-",
                                                  "Language"}));
    EXPECT_EQ(Entries(f.OptionMenu->actions().last()->menu()), (QStringList{"Auto", "-", "English", "Chinese"}));
    EXPECT_TRUE(Act("Auto")->isChecked());
    EXPECT_EQ(Entries(f.ParametersMenu),
              (QStringList{"Control Parameters", "Compute Parameters", "-", "Convert Parameters",
                           "Coord. Transfer Parameters", "-", "Lens Parameters", "Automatic Adjust",
                           "Calibrate Angle"}));
    EXPECT_EQ(Entries(f.ImageMenu), (QStringList{"Calculation...", "Histogram", "Image Size", "-", "Invert",
                                                 "Modify Image", "-", "Filter"}));
    EXPECT_EQ(Entries(f.ImageMenu->actions().last()->menu()), (QStringList{"Median"}));
    EXPECT_EQ(Entries(f.WindowMenu), (QStringList{"&Cascade", "Tile &Horizontally", "Tile &Vertically",
                                                  "&Minimize All", "&Arrange All"}));
    EXPECT_EQ(Entries(f.HelpMenu), (QStringList{"&About..."}));
    // Whole menus hidden; the entries without a command never enabled.
    EXPECT_FALSE(f.OptionMenu->menuAction()->isVisible());
    EXPECT_FALSE(f.ParametersMenu->menuAction()->isVisible());
    EXPECT_FALSE(f.CaptureMenu->actions()[5]->isEnabled());
    EXPECT_FALSE(f.ImageMenu->actions().last()->menu()->actions()[0]->isEnabled());
    const QStringList bar = Entries(f.menuBar());
    EXPECT_EQ(bar, (QStringList{"&File", "&Edit", "View", "Capture", "Image", "&Window", "Help"}));
}

TEST_F(Actions, ToolBarsAndPanelInOrder)
{
    StartWithBoard(btSorvik);
    TMainForm& f = *MainForm;
    EXPECT_EQ(Entries(f.ToolBar1), (QStringList{"&New Image", "New Notes", "&Open Image", "Open Notes",
                                                "Save &As..."}));
    EXPECT_EQ(Entries(f.ToolBar2), (QStringList{"Single Grab", "Display Camera", "Freeze Camera", "Control",
                                                "Board Selection...", "[widget]", "Motor Control"}));
    EXPECT_EQ(Entries(f.ToolBar3), (QStringList{"Zoom -", "Original Size", "Zoom +", "Refresh"}));

    QStringList panel;
    for (QObject* o : f.QuickStartControlPanel->widget()->findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QPushButton*>(o)) panel << b->text();
        else if (auto* g = dynamic_cast<TRadioGroup*>(o)) panel << "[" + g->title() + "]";
    }
    EXPECT_EQ(panel, (QStringList{"New", "Open", "Save", "Close", "[Raw Data]", "Show", "Update", "[ Result ]",
                                  "Show", "Update", "Compute Phase", "Unwrap Phase", "Convert to Z", "2D Color map",
                                  "Display Data", "Profile", "3D Color map", "Data Exchange", "Surface Data Output",
                                  "Current Project File Info"}));
    EXPECT_EQ(f.RawDataRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(f.RawDataRadioGroup->Count(), 6);
    EXPECT_EQ(f.RawDataRadioGroup->Button(5)->text(), "Mask");
    EXPECT_EQ(f.ResultRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(f.ResultRadioGroup->Button(2)->text(), "Shape");
}

TEST_F(Actions, PanelButtonsFollowAndRunTheirCommands)
{
    StartWithBoard(btSorvik);
    QPushButton* compute = nullptr;
    for (QPushButton* b : MainForm->QuickStartControlPanel->widget()->findChildren<QPushButton*>())
        if (b->text() == "Compute Phase") compute = b;
    ASSERT_NE(compute, nullptr);
    MainForm->MainFormActionList->UpdateAll();
    EXPECT_FALSE(compute->isEnabled());
    MakeProject();
    MainForm->MainFormActionList->UpdateAll();
    EXPECT_TRUE(compute->isEnabled());
    compute->click();
    EXPECT_NE(MainForm->Project->FloatPlane(kPhaseCode), nullptr);
}

// ---- File and Window ---------------------------------------------------------------------

TEST_F(Actions, CloseClosesTheActiveChildAndCloseAllEveryOne)
{
    StartWithBoard(btSorvik);
    MainForm->NewImageWindow("Buffer 0", 8, 8);
    MainForm->NewNotesWindow("Notes 0");
    TMDIImageChildForm* last = MainForm->NewImageWindow("Buffer 1", 8, 8);
    Activate(last);
    RunCommand("&Close");
    ASSERT_EQ(Children().size(), 2u);
    EXPECT_EQ(Children()[0]->windowTitle(), "Buffer 0");
    EXPECT_EQ(Children()[1]->windowTitle(), "Notes 0");
    RunCommand("Close All");
    EXPECT_TRUE(Children().empty());
    EXPECT_FALSE(Enabled("Close All"));
}

TEST_F(Actions, AboutIsModalAndTheToolsAreShown)
{
    StartWithBoard(btSorvik);
    RunCommand("&About...");
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].ClassName, "TAboutForm");
    EXPECT_EQ(dialogs.Modals()[0].Title, "About");
    RunCommand("Calibrate Angle");
    EXPECT_TRUE(CalibrateAngleForm->isVisible());
    RunCommand("Automatic Adjust");
    EXPECT_TRUE(AutoAdjustForm->isVisible());
}

TEST(AboutBox, MailLabelLightsUpAndOpensTheAddress)
{
    TAboutForm about;
    about.show();
    QStringList opened;
    TAboutForm::SetShellOpen([&](const QString& url) {
        opened << url;
        return true;
    });
    TMailLabel* mail = about.MailLabel;
    EXPECT_EQ(mail->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(mail->font().underline());
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(Qt::blue));

    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(mail, &enter);
    EXPECT_TRUE(mail->font().underline());
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(Qt::red));

    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(about.Panel, &move);
    EXPECT_FALSE(mail->font().underline());
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(Qt::blue));

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(mail, &press);
    QApplication::sendEvent(mail, &release);
    EXPECT_EQ(opened, (QStringList{QString("mailto:") + kAuthorMailAddress}));
    TAboutForm::SetShellOpen({});
}

// ---- offer to save ------------------------------------------------------------------------

TEST_F(Actions, CloseWithYesSavesThenDropsTheProject)
{
    StartWithBoard(btSorvik);
    MakeProject();
    const QString path = dir_.filePath("kept.psm");
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerFile(path);
    RunCommand("Close");
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_TRUE(QFileInfo::exists(path));
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "Current file has been modified, Save it ? ");
    EXPECT_EQ(dialogs.Boxes()[0].Flags & MB_BUTTONMASK, MB_YESNOCANCEL);
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    EXPECT_EQ(dialogs.FileRequests()[0].FilterIndex, 2);
    EXPECT_EQ(dialogs.FileRequests()[0].FileName, "PhaseShiftMoire - 0");
    TPhaseShiftMoire back("back");
    back.LoadFromFile(path.toStdString());
    EXPECT_EQ(back.Width(), 8);
}

TEST_F(Actions, YesThenCancelledSaveKeepsTheProject)
{
    StartWithBoard(btSorvik);
    MakeProject();
    TPhaseShiftMoire* project = MainForm->Project;
    dialogs.AnswerBox(mrYes);
    dialogs.CancelFile();
    RunCommand("Close");
    EXPECT_EQ(MainForm->Project, project);
    EXPECT_TRUE(project->Modified());

    // "New" stops as well: no type dialog is asked.
    dialogs.Clear();
    dialogs.AnswerBox(mrYes);
    dialogs.CancelFile();
    RunCommand("New");
    EXPECT_EQ(MainForm->Project, project);
    EXPECT_TRUE(dialogs.Modals().empty());

    // So does "Open": no open dialog.
    dialogs.Clear();
    dialogs.AnswerBox(mrYes);
    dialogs.CancelFile();
    RunCommand("Open");
    EXPECT_EQ(MainForm->Project, project);
    EXPECT_EQ(dialogs.FileRequests().size(), 1u);   // the save dialog only
}

TEST_F(Actions, YesThenFailedSaveKeepsTheProjectAndSaysWhy)
{
    StartWithBoard(btSorvik);
    MakeProject();
    TPhaseShiftMoire* project = MainForm->Project;
    dialogs.AnswerBox(mrYes);
    dialogs.AnswerFile(dir_.filePath("no/such/dir/x.psm"));
    RunCommand("Close");
    EXPECT_EQ(MainForm->Project, project);
    ASSERT_EQ(dialogs.Boxes().size(), 2u);   // the question and the error
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("no/such/dir/x.psm")));
}

TEST_F(Actions, NoDropsWithoutSavingAndCancelKeeps)
{
    StartWithBoard(btSorvik);
    MakeProject();
    dialogs.AnswerBox(mrCancel);
    RunCommand("Close");
    EXPECT_NE(MainForm->Project, nullptr);
    EXPECT_TRUE(dialogs.FileRequests().empty());

    dialogs.AnswerBox(mrNo);
    RunCommand("Close");
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_TRUE(dialogs.FileRequests().empty());
}

TEST_F(Actions, UnmodifiedProjectIsDroppedWithoutAsking)
{
    StartWithBoard(btSorvik);
    MakeProject();
    MainForm->Project->SetModified(false);
    RunCommand("Close");
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

// ---- opening a project --------------------------------------------------------------------

TEST_F(Actions, OpenRecreatesTheWindowsWithTheStoredPlanes)
{
    StartWithBoard(btSorvik);
    const QString path = dir_.filePath("bench.psm");
    {
        TPhaseShiftMoire p("x");
        p.AllocBytePlanes(12, 5);
        for (int i = 0; i < kBytePlaneCount; ++i)
            for (size_t k = 0; k < p.Pixels(); ++k) p.BytePlane(i)[k] = uint8_t(i * 40 + k);
        p.SetFloatPlane(kPhaseCode, std::make_unique<float[]>(p.Pixels()));
        p.SaveToFile(path.toStdString());
    }
    dialogs.AnswerFile(path);
    const int count = MainForm->ProjectCount;
    RunCommand("Open");
    ASSERT_NE(MainForm->Project, nullptr);
    EXPECT_EQ(MainForm->Project->Name(), path.toStdString());
    EXPECT_FALSE(MainForm->Project->Modified());
    EXPECT_EQ(MainForm->ProjectCount, count + 1);
    EXPECT_NE(MainForm->Project->FloatPlane(kPhaseCode), nullptr);
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    EXPECT_EQ(dialogs.FileRequests()[0].FilterIndex, 2);
    const char* suffixes[] = {" - Object", " - Step1", " - Step2", " - Step3", " - Step4", " - mask"};
    for (int i = 0; i < kBytePlaneCount; ++i) {
        TMDIImageChildForm* w = MainForm->FindImageWindow(QString("bench.psm") + suffixes[i]);
        ASSERT_NE(w, nullptr) << suffixes[i];
        int width = 0, height = 0;
        w->GetImageSize(width, height);
        EXPECT_EQ(width, 12);
        EXPECT_EQ(height, 5);
        const std::vector<uint8_t> b = Bytes(w);
        EXPECT_EQ(b[0], uint8_t(i * 40));
        EXPECT_EQ(b[59], uint8_t(i * 40 + 59));
    }
    EXPECT_FALSE(Enabled("Save"));   // not modified
}

TEST_F(Actions, OpeningADamagedFileLeavesNoProjectAndNoWindows)
{
    StartWithBoard(btSorvik);
    const QString path = dir_.filePath("bad.psm");
    QFile bad(path);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a project");
    bad.close();
    dialogs.AnswerFile(path);
    RunCommand("Open");
    EXPECT_EQ(MainForm->Project, nullptr);
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
}

// ---- raw and result planes ----------------------------------------------------------------

TEST_F(Actions, RawShowPutsThePlaneIntoItsWindowAndUpdateTakesItBack)
{
    StartWithBoard(btSorvik);
    MakeProject(8, 6);
    TPhaseShiftMoire& p = *MainForm->Project;
    std::fill(p.BytePlane(2), p.BytePlane(2) + p.Pixels(), uint8_t(77));
    MainForm->RawDataRadioGroup->SetItemIndex(2);
    RunCommand(MainForm->RawDataShowAction);
    TMDIImageChildForm* step2 = MainForm->FindImageWindow("PhaseShiftMoire - 0 - Step2");
    ASSERT_NE(step2, nullptr);
    EXPECT_EQ(Bytes(step2), std::vector<uint8_t>(48, 77));

    Put(step2, 5);
    p.SetModified(false);
    Activate(step2);
    RunCommand(MainForm->RawDataUpdateAction);
    EXPECT_EQ(p.BytePlane(2)[0], 5);
    EXPECT_EQ(p.BytePlane(2)[47], 5);
    EXPECT_TRUE(p.Modified());
}

TEST_F(Actions, RawUpdateOfTheObjectRecomputesTheMask)
{
    StartWithBoard(btSorvik);
    MakeProject(4, 2);
    TPhaseShiftMoire& p = *MainForm->Project;
    p.Header().ThresholdAuto = 0;
    p.Header().Threshold = 100;
    TMDIImageChildForm* object = MainForm->FindImageWindow("PhaseShiftMoire - 0 - Object");
    const uint8_t values[8] = {0, 50, 100, 101, 150, 200, 250, 255};
    orbBufPut(object->BufferId, values);
    Activate(object);
    RunCommand(MainForm->RawDataUpdateAction);
    const uint8_t want[8] = {255, 255, 255, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(want, want + 8, p.BytePlane(kMaskPlane)));
}

TEST_F(Actions, PlaneCommandsNeverTouchAWindowOfAnotherSize)
{
    StartWithBoard(btSorvik);
    // A window carrying the Step1 title but another size, made before the project's own.
    TMDIImageChildForm* stranger = MainForm->NewImageWindow("PhaseShiftMoire - 0 - Step1", 3, 3);
    Put(stranger, 9);
    MakeProject(8, 6);
    TPhaseShiftMoire& p = *MainForm->Project;
    std::fill(p.BytePlane(1), p.BytePlane(1) + p.Pixels(), uint8_t(33));
    MainForm->RawDataRadioGroup->SetItemIndex(1);
    RunCommand(MainForm->RawDataShowAction);
    EXPECT_EQ(Bytes(stranger), std::vector<uint8_t>(9, 9));   // untouched
    TMDIImageChildForm* own = FindProjectWindow(*MainForm, "PhaseShiftMoire - 0 - Step1", 8, 6);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, stranger);
    EXPECT_EQ(Bytes(own), std::vector<uint8_t>(48, 33));

    // With only the stranger left, Update refuses and leaves the plane alone.
    own->close();
    QCoreApplication::processEvents();
    Activate(stranger);
    p.SetModified(false);
    dialogs.Clear();
    RunCommand(MainForm->RawDataUpdateAction);
    EXPECT_EQ(p.BytePlane(1)[0], 33);
    EXPECT_FALSE(p.Modified());
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text,
              "The window \"PhaseShiftMoire - 0 - Step1\" holds a 3 x 3 image of 8 bits; the project's images are "
              "8 x 6 of 8 bits: nothing was taken.");
}

TEST_F(Actions, AnAbsentRawPlaneIsRefusedByShowAndMadeByUpdate)
{
    StartWithBoard(btSorvik);
    // A file without its mask plane: the presence byte 0 and the plane's bytes left out.
    const QString path = dir_.filePath("partial.psm");
    {
        TPhaseShiftMoire p("x");
        p.AllocBytePlanes(4, 4);
        p.SaveToFile(path.toStdString());
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    TPsmHeader h = DecodePsmHeader(reinterpret_cast<const uint8_t*>(bytes.constData()));
    h.BytePresent[kMaskPlane] = 0;
    uint8_t head[kPsmHeaderSize];
    EncodePsmHeader(h, head);
    bytes.replace(0, int(kPsmHeaderSize), QByteArray(reinterpret_cast<const char*>(head), int(kPsmHeaderSize)));
    bytes.chop(16);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();

    dialogs.AnswerFile(path);
    RunCommand("Open");
    ASSERT_NE(MainForm->Project, nullptr);
    ASSERT_EQ(MainForm->Project->BytePlane(kMaskPlane), nullptr);
    MainForm->RawDataRadioGroup->SetItemIndex(kMaskPlane);
    dialogs.Clear();
    RunCommand(MainForm->RawDataShowAction);
    EXPECT_EQ(BoxTexts(), (QStringList{"The project holds no mask image."}));

    TMDIImageChildForm* mask = MainForm->FindImageWindow("partial.psm - mask");
    ASSERT_NE(mask, nullptr);
    Put(mask, 255);
    Activate(mask);
    RunCommand(MainForm->RawDataUpdateAction);
    ASSERT_NE(MainForm->Project->BytePlane(kMaskPlane), nullptr);
    EXPECT_EQ(MainForm->Project->BytePlane(kMaskPlane)[15], 255);
    EXPECT_EQ(MainForm->Project->Header().BytePresent[kMaskPlane], 1);
}

TEST(GreyMapping, RangeMapsToFullScaleWithRounding)
{
    const float values[] = {-1.0f, 0.0f, 1.0f, 0.5f};
    uint8_t out[4] = {};
    GreyBytesOfPlane(values, 4, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 128);   // 1 * 255 / 2 + 0.5 = 128.0
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 191);   // 1.5 * 127.5 + 0.5 = 191.75
}

TEST(GreyMapping, FlatAndTinyRangesGiveBlack)
{
    const float flat[] = {3.25f, 3.25f, 3.25f};
    uint8_t out[3] = {1, 1, 1};
    GreyBytesOfPlane(flat, 3, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 0);
    // A range below 0.00001 counts as 1: the step is a fraction of a grey level.
    const float tiny[] = {0.0f, 0.000005f};
    GreyBytesOfPlane(tiny, 2, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST(GreyMapping, ValuesThatAreNotFiniteBecomeBlackAndDoNotSpoilTheRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {nan, 0.0f, inf, 2.0f, -inf};
    uint8_t out[5] = {};
    GreyBytesOfPlane(values, 5, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 255);
    EXPECT_EQ(out[4], 0);
}

TEST_F(Actions, ResultShowMakesTheGreyWindow)
{
    StartWithBoard(btSorvik);
    MakeProject(2, 2);
    MainForm->Project->SetFloatPlane(kConvertResultCode, Plane({10.0f, 12.0f, 14.0f, 11.0f}));
    MainForm->ResultRadioGroup->SetItemIndex(2);
    RunCommand(MainForm->ResultShowAction);
    TMDIImageChildForm* w = MainForm->FindImageWindow("PhaseShiftMoire - 0 - Convert Result");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Bytes(w), (std::vector<uint8_t>{0, 128, 255, 64}));

    // Shown again: the same window, repainted with the new values.
    MainForm->Project->SetFloatPlane(kConvertResultCode, Plane({1.0f, 1.0f, 1.0f, 1.0f}));
    RunCommand(MainForm->ResultShowAction);
    EXPECT_EQ(MainForm->FindImageWindow("PhaseShiftMoire - 0 - Convert Result"), w);
    EXPECT_EQ(Bytes(w), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_FALSE(Enabled(MainForm->ResultUpdateAction));
}

// ---- names saved without an extension ------------------------------------------------------

// What a save dialog makes of a typed name: the chosen filter's first extension when the name
// has none, else the default extension; a name with an extension, and an open dialog, keep it.
struct TypedName {
    bool save;
    const char* filter;
    int filterIndex;
    const char* defaultExt;
    const char* typed;
    const char* chosen;
};

void PrintTo(const TypedName& t, std::ostream* os) { *os << t.filter << " #" << t.filterIndex << " " << t.typed; }

class SaveDialogName : public Actions, public ::testing::WithParamInterface<TypedName> {};

TEST_P(SaveDialogName, GetsTheChosenFiltersExtension)
{
    const TypedName t = GetParam();
    TFileDialog d(t.save);
    d.Filter = t.filter;
    d.DefaultExt = t.defaultExt;
    dialogs.AnswerFile(t.typed, t.filterIndex);
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, t.chosen);
}

constexpr const char* kMainSave =
    "Notes Files(*.dat)|*.dat|PhaseShift File(*.psm)|*.psm|Float Data File(*.flt)|*.flt|All Files(*.*)|*.*";
constexpr const char* kSurfaceSave = "Surface Data(*.sur)|*.sur;*.dat|All Files|*.*";

INSTANTIATE_TEST_SUITE_P(
    Filters, SaveDialogName,
    ::testing::Values(TypedName{true, kMainSave, 1, "", "/d/demo1", "/d/demo1.dat"},
                      TypedName{true, kMainSave, 2, "", "/d/demo1", "/d/demo1.psm"},
                      TypedName{true, kMainSave, 3, "", "/d/demo1", "/d/demo1.flt"},
                      TypedName{true, kMainSave, 4, "", "/d/demo1", "/d/demo1"},
                      TypedName{true, kMainSave, 2, "", "/d.v2/demo1.txt", "/d.v2/demo1.txt"},
                      TypedName{true, kMainSave, 2, "", "/d.v2/demo1", "/d.v2/demo1.psm"},
                      TypedName{true, kSurfaceSave, 1, "sur", "/d/demo1", "/d/demo1.sur"},
                      TypedName{true, kSurfaceSave, 2, "sur", "/d/demo1", "/d/demo1.sur"},
                      TypedName{false, kMainSave, 2, "", "/d/demo1", "/d/demo1"}));

// A project, a float map and notes saved under a name typed without extension each show
// under the filter of their kind in the dialog that opens them, and open from there.
enum class SavedKind { Project, FloatMap, Notes };

const char* KindName(SavedKind k)
{
    switch (k) {
    case SavedKind::Project: return "Project";
    case SavedKind::FloatMap: return "FloatMap";
    case SavedKind::Notes: break;
    }
    return "Notes";
}

class SavedWithoutExtension : public Actions, public ::testing::WithParamInterface<SavedKind> {
protected:
    // The files of the folder that the last file dialog's chosen filter lists.
    QStringList ListedByLastDialog() const
    {
        const TFileDialogRequest r = dialogs.FileRequests().back();
        const QStringList parts = r.Filter.split('|');
        return QDir(dir_.path()).entryList(parts.value(2 * r.FilterIndex - 1).split(';'), QDir::Files);
    }
};

TEST_P(SavedWithoutExtension, GetsTheFilterExtensionAndOpensThroughTheFilter)
{
    const SavedKind kind = GetParam();
    StartWithBoard(btSorvik);
    MakeProject(3, 2);
    AllFloatPlanes();
    TDataExchangeForm exchange;
    exchange.SetProject(MainForm->Project);
    const QString typed = dir_.filePath("demo1");
    dialogs.AnswerFile(typed);
    QString ext;
    switch (kind) {
    case SavedKind::Project:
        RunCommand("Save");
        ext = "psm";
        break;
    case SavedKind::FloatMap:
        exchange.OutputBitBtnClick();
        ext = "flt";
        break;
    case SavedKind::Notes: {
        TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
        notes->SetLines({"grating 0.5 mm"});
        MainForm->MdiArea->setActiveSubWindow(notes);
        RunCommand("Save &As...");
        ext = "dat";
        break;
    }
    }
    const QString saved = typed + "." + ext;
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"demo1." + ext});

    dialogs.AnswerFile(saved);
    switch (kind) {
    case SavedKind::Project:
        RunCommand("Open");
        ASSERT_NE(MainForm->Project, nullptr);
        EXPECT_EQ(MainForm->Project->Name(), saved.toStdString());
        EXPECT_NE(MainForm->Project->FloatPlane(kConvertResultCode), nullptr);
        break;
    case SavedKind::FloatMap:
        exchange.LoadingOperationRadioGroup->SetItemIndex(kLoadSubtract);
        exchange.LoadBitBtnClick();
        for (size_t i = 0; i < MainForm->Project->Pixels(); ++i)
            EXPECT_EQ(MainForm->Project->FloatPlane(kPhaseCode)[i], 0.0f) << i;
        break;
    case SavedKind::Notes:
        RunCommand("Open Notes");
        ASSERT_NE(MainForm->ActiveNotesWindow(), nullptr);
        EXPECT_EQ(MainForm->ActiveNotesWindow()->Lines(), QStringList{"grating 0.5 mm"});
        break;
    }
    EXPECT_EQ(ListedByLastDialog(), QStringList{"demo1." + ext});
}

INSTANTIATE_TEST_SUITE_P(Kinds, SavedWithoutExtension,
                         ::testing::Values(SavedKind::Project, SavedKind::FloatMap, SavedKind::Notes),
                         [](const auto& info) { return std::string(KindName(info.param)); });

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
