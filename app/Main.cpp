#include "Main.h"

#include "Apperror.h"
#include "Controldrevan.h"
#include "Controlhalcyra.h"
#include "Controllumbra.h"
#include "Controlsorvik.h"
#include "Controlsorvik2.h"
#include "Dataexchange.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Imagebuffercontrol.h"
#include "Imageactions.h"
#include "Liveactions.h"
#include "Mainactions.h"
#include "Quickstart.h"
#include "Mdiimagechild.h"
#include "Mditextchild.h"
#include "Phaseshiftmoire.h"
#include "Projectactions.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"
#include "Selectboardtype.h"
#include "Show2d.h"
#include "Show3d.h"
#include "Showdata.h"
#include "Showprofile.h"
#include "Surfacedataoutput.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>

TMainForm* MainForm = nullptr;

const char* const kStartWindowTitle = "Start";
const char* const kNowWindowTitle = "Now";

namespace {

const char* const kTagProperty = "Tag";

}  // namespace

int FormTag(const QWidget* form)
{
    return form ? form->property(kTagProperty).toInt() : 0;
}

void SetFormTag(QWidget* form, int tag)
{
    form->setProperty(kTagProperty, tag);
}

// ---- actions --------------------------------------------------------------------------------

TAction::TAction(const QString& caption, const QString& category, QObject* parent)
    : QAction(caption, parent), Category(category)
{
    connect(this, &QAction::triggered, this, [this] {
        if (OnExecute)
            RunGuarded(OnExecute);
    });
}

void TAction::Execute()
{
    // Through trigger() so that a checkable action toggles as it does from a menu.
    trigger();
}

void TAction::Update()
{
    if (!OnExecute) {
        setEnabled(false);
        return;
    }
    if (OnUpdate)
        RunGuarded([this] { OnUpdate(*this); });
}

TAction* TActionList::Add(const QString& category, const QString& caption, const QKeySequence& shortcut,
                          std::function<void()> execute, std::function<void(TAction&)> update)
{
    auto* a = new TAction(caption, category, this);
    a->setShortcut(shortcut);
    a->OnExecute = std::move(execute);
    a->OnUpdate = std::move(update);
    if (!a->OnExecute)
        a->setEnabled(false);
    actions_.push_back(a);
    return a;
}

TAction* TActionList::Find(const QString& caption) const
{
    for (TAction* a : actions_)
        if (a->text() == caption)
            return a;
    return nullptr;
}

void TActionList::UpdateAll()
{
    for (TAction* a : actions_)
        a->Update();
}

// ---- error text -----------------------------------------------------------------------------

QString LibraryErrorText(const std::string& function, const std::string& message,
                         const std::vector<std::string>& subMessages)
{
    QString text = QString::fromLocal8Bit(function.c_str()) + '\n' + QString::fromLocal8Bit(message.c_str());
    for (const std::string& s : subMessages)
        text += '\n' + QString::fromLocal8Bit(s.c_str());
    return text;
}

OrbInt DisplayErrorExt(OrbInt hookType, OrbId errorId, void* user)
{
    if (TMainForm* form = MainForm)
        form->ShowLibraryError(hookType, errorId, user);
    return 0;
}

// ---- construction ---------------------------------------------------------------------------

TMainForm::TMainForm(QWidget* owner) : QMainWindow(owner)
{
    MainForm = this;
    setWindowTitle("Vistrel 2.0");
    BuildComponents();
    BuildActions();
    BuildMenus();
    AddImageWindowActions(*this);
    AddQuickStartActions(*this);
    AddLiveActions(*this);
    AddMainActions(*this);
    LayOutMainWindow(*this);

    ImagingOpened = false;
    AppId = SystemId = DigitizerId = 0;
    RealTimeSubtractControlSSForm = new TRealTimeSubtractControlSSForm(this);
    RealTimeMultiplyControlSSForm = new TRealTimeMultiplyControlSSForm(this);

    // A settings store that cannot be read is reported; the program then starts with the
    // default board kind in the directory it was started in.
    BoardType = btSorvik;
    RunGuarded([this] {
        const int32_t kind = ReadBoardType();
        BoardType = kind >= 0 && kind < kBoardKindCount ? static_cast<int8_t>(kind) : int8_t{-1};
    });
    BoardTypeComboBox->setCurrentIndex(BoardType);
    RunGuarded([] { QDir::setCurrent(QString::fromStdString(ReadLastPath())); });

    ImageWindowCount = NotesWindowCount = ProjectCount = 0;
    Project = nullptr;

    updateTimer_ = new QTimer(this);
    updateTimer_->setInterval(200);
    connect(updateTimer_, &QTimer::timeout, MainFormActionList, &TActionList::UpdateAll);
    connect(MdiArea, &QMdiArea::subWindowActivated, MainFormActionList, &TActionList::UpdateAll);
    updateTimer_->start();
    MainFormActionList->UpdateAll();

    FormCreate();
}

TMainForm::~TMainForm()
{
    updateTimer_->stop();
    RunGuarded([this] { FormDestroy(); });
    // When the window was never closed: the live work ends and the children go while the
    // library is still open.
    delete RealTimeSubtractControlSSForm;
    delete RealTimeMultiplyControlSSForm;
    for (QMdiSubWindow* w : MdiArea->subWindowList())
        delete w;
    if (ImagingOpened)
        CloseImaging();
    delete Project;
    Project = nullptr;
    ForgetResultViewData();
    delete OpenDialog;
    delete SaveDialog;
    delete OpenPictureDialog;
    delete SavePictureDialog;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BuildComponents()
{
    MdiArea = new QMdiArea(this);
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(MdiArea);

    MainFormActionList = new TActionList(this);

    ToolBar1 = addToolBar("ToolBar1");
    ToolBar1->setObjectName("ToolBar1");
    ToolBar2 = addToolBar("ToolBar2");
    ToolBar2->setObjectName("ToolBar2");
    ToolBar3 = addToolBar("ToolBar3");
    ToolBar3->setObjectName("ToolBar3");

    BoardTypeComboBox = new QComboBox(this);
    BoardTypeComboBox->setObjectName("BoardTypeComboBox");
    BoardTypeComboBox->addItems({"Sorvik Board", "SorvikII Board", "Drevan Board(S)", "Drevan Board(D)",
                                 "Lumbra Board", "Halcyra Board", "No Board (VGA)", "No Board (Host)"});
    BoardTypeComboBox->setEnabled(false);
    BoardTypeComboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(BoardTypeComboBox, &QComboBox::activated, this,
            [this](int) { RunGuarded([this] { BoardTypeComboBoxChange(); }); });

    MyStatusBar = new QStatusBar(this);
    MyStatusBar->setObjectName("MyStatusBar");
    setStatusBar(MyStatusBar);

    QuickStartControlPanel = new QDockWidget(this);
    QuickStartControlPanel->setObjectName("QuickStartControlPanel");
    QuickStartControlPanel->setFeatures(QDockWidget::NoDockWidgetFeatures);
    QuickStartControlPanel->setTitleBarWidget(new QWidget(QuickStartControlPanel));
    auto* panel = new QWidget(QuickStartControlPanel);
    QuickStartLayout = new QVBoxLayout(panel);
    QuickStartLayout->addStretch(1);
    QuickStartControlPanel->setWidget(panel);
    addDockWidget(Qt::LeftDockWidgetArea, QuickStartControlPanel);
    QuickStartControlPanel->hide();

    OpenDialog = new TFileDialog(false);
    OpenDialog->Filter = "Notes Files(*.dat)|*.dat|Phase Shift Moire File(*.psm)|*.psm|All Files(*.*)|*.*";
    SaveDialog = new TFileDialog(true);
    SaveDialog->Filter =
        "Notes Files(*.dat)|*.dat|PhaseShift File(*.psm)|*.psm|Float Data File(*.flt)|*.flt|All Files(*.*)|*.*";
    SaveDialog->OverwritePrompt = true;
    OpenPictureDialog = new TFileDialog(false);
    OpenPictureDialog->Filter =
        "All support Files(*.bmp, *.tif, *.oim, *.raw)|*.bmp;*.tif;*.oim;*.raw|Bitmaps (*.bmp)|*.bmp|"
        "Tiff Files(*.tif)|*.tif|Raw Files(*.raw)|*.raw|ORB files(*.oim)|*.oim";
    SavePictureDialog = new TFileDialog(true);
    SavePictureDialog->Filter =
        "Bitmaps (*.bmp)|*.bmp|Tiff Files(*.tif)|*.tif|Raw Files(*.raw)|*.raw|ORB files(*.oim)|*.oim|"
        "All support Files(*.bmp, *.tif, *.oim, *.raw)|*.bmp;*.tif;*.oim;*.raw";
    SavePictureDialog->DefaultExt = "BMP";
    SavePictureDialog->OverwritePrompt = true;
}

void TMainForm::BuildActions()
{
    TActionList* list = MainFormActionList;
    auto hasChildren = [this](TAction& a) { a.setEnabled(!Children().empty()); };

    ExitAction = list->Add("File", "E&xit", QKeySequence(), [this] { close(); });

    ViewToolBarAction = list->Add("View", "Tool Bar", QKeySequence(), [this] {
        const bool on = ViewToolBarAction->isChecked();
        ToolBar1->setVisible(on);
        ToolBar2->setVisible(on);
        ToolBar3->setVisible(on);
    });
    ViewToolBarAction->setCheckable(true);
    ViewToolBarAction->setChecked(true);
    ViewStatusBarAction = list->Add("View", "Status Bar", QKeySequence(),
                                    [this] { MyStatusBar->setVisible(ViewStatusBarAction->isChecked()); });
    ViewStatusBarAction->setCheckable(true);
    ViewStatusBarAction->setChecked(true);
    // Starts checked while the panel starts hidden: the first use hides it, the second shows it.
    ViewQuickStartAction = list->Add("View", "Quick Start", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] {
        QuickStartControlPanel->setVisible(ViewQuickStartAction->isChecked());
    });
    ViewQuickStartAction->setCheckable(true);
    ViewQuickStartAction->setChecked(true);

    BoardSelectionAction = list->Add("Option", "Board Selection...", QKeySequence(),
                                     [this] { BoardSelectionActionExecute(); });

    WindowCascadeAction = list->Add("Window", "&Cascade", QKeySequence(), [this] { MdiArea->cascadeSubWindows(); },
                                    hasChildren);
    WindowTileHorizontalAction =
        list->Add("Window", "Tile &Horizontally", QKeySequence(), [this] { TileHorizontally(); }, hasChildren);
    WindowTileVerticalAction =
        list->Add("Window", "Tile &Vertically", QKeySequence(), [this] { TileVertically(); }, hasChildren);
    WindowMinimizeAllAction =
        list->Add("Window", "&Minimize All", QKeySequence(), [this] { MinimizeAll(); }, hasChildren);
    WindowArrangeAllAction =
        list->Add("Window", "&Arrange All", QKeySequence(), [this] { ArrangeIcons(); }, hasChildren);

    // ---- result views and export (quick-start panel) ----
    {
        auto planeExists = [this](int code) {
            return [this, code](TAction& a) { a.setEnabled(Project && Project->FloatPlane(code)); };
        };
        auto twoDVisible = [](TAction& a) { a.setEnabled(Show2DForm && Show2DForm->isVisible()); };
        // The height map and the header values every view and export reads.
        struct Map {
            const float* heights = nullptr;
            const uint8_t* mask = nullptr;
            int32_t w = 0, h = 0;
            const TPsmHeader* header = nullptr;
        };
        auto heightMap = [this] {
            Map m;
            if (!Project) throw EAppError("No project is open");
            m.heights = Project->FloatPlane(kConvertResultCode);
            if (!m.heights) throw EAppError("The project has no Convert Result data");
            m.mask = Project->BytePlane(kMaskPlane);
            m.w = Project->Width();
            m.h = Project->Height();
            m.header = &Project->Header();
            return m;
        };
        list->Add("QuickStart", "2D Color map", QKeySequence(), [heightMap] {
            const Map m = heightMap();
            Show2DForm->show();
            Show2DForm->LoadData(m.heights, m.mask, m.w, m.h, float(m.header->OriginZ));
        }, planeExists(kConvertResultCode));
        list->Add("QuickStart", "Display Data", QKeySequence(), [heightMap] {
            const Map m = heightMap();
            const TPsmHeader& h = *m.header;
            ShowDataForm->show();
            ShowDataForm->LoadData(m.heights, m.mask, m.w, m.h, h.Zc, h.Zcf, double(h.X0), double(h.Y0),
                                   h.OriginX, h.OriginY, h.OriginZ, h.PixelX, h.PixelY);
            ShowDataForm->ShowNeighbourhood(1, 1);
        }, twoDVisible);
        list->Add("QuickStart", "Profile", QKeySequence(), [] { ShowProfileForm->show(); }, twoDVisible);
        list->Add("QuickStart", "3D Color map", QKeySequence(), [heightMap] {
            const Map m = heightMap();
            Show3DForm->show();
            Show3DForm->LoadData(m.heights, m.mask, m.w, m.h, float(m.header->OriginZ));
        }, planeExists(kConvertResultCode));
        list->Add("QuickStart", "Data Exchange", QKeySequence(), [this] {
            if (!Project) throw EAppError("No project is open");
            TDataExchangeForm form(this);
            form.SetProject(Project);
            ShowModal(form);
            RefreshResultViews();
        }, planeExists(kPhaseCode));
        list->Add("QuickStart", "Surface Data Output", QKeySequence(), [this, heightMap] {
            const Map m = heightMap();
            const TPsmHeader& h = *m.header;
            TSurfaceDataOutputForm form(this);
            form.LoadData(m.heights, m.mask, m.w, m.h, h.Zc, h.Zcf, double(h.X0), double(h.Y0), h.OriginX,
                          h.OriginY, h.OriginZ, h.PixelX, h.PixelY);
            ShowModal(form);
        }, planeExists(kConvertResultCode));
    }

}

void TMainForm::BuildMenus()
{
    // The menus are filled by LayOutMainWindow once every command exists.
    QMenuBar* bar = menuBar();
    FileMenu = bar->addMenu("&File");
    EditMenu = bar->addMenu("&Edit");
    ViewMenu = bar->addMenu("View");
    CaptureMenu = bar->addMenu("Capture");
    OptionMenu = bar->addMenu("Option");
    OptionMenu->menuAction()->setVisible(false);
    ParametersMenu = bar->addMenu("Parameters");
    ParametersMenu->menuAction()->setVisible(false);
    ImageMenu = bar->addMenu("Image");
    WindowMenu = bar->addMenu("&Window");
    connect(WindowMenu, &QMenu::aboutToShow, this, &TMainForm::RebuildWindowList);
    HelpMenu = bar->addMenu("Help");
}

void TMainForm::RebuildWindowList()
{
    for (QAction* a : windowListActions_) {
        WindowMenu->removeAction(a);
        delete a;
    }
    windowListActions_.clear();
    const std::vector<QMdiSubWindow*> children = Children();
    if (children.empty())
        return;
    windowListActions_.push_back(WindowMenu->addSeparator());
    QMdiSubWindow* active = ActiveChild();
    int n = 1;
    for (QMdiSubWindow* w : children) {
        QAction* a = WindowMenu->addAction(QString("&%1 %2").arg(n++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == active);
        connect(a, &QAction::triggered, this, [this, w] {
            const std::vector<QMdiSubWindow*> now = Children();
            if (std::find(now.begin(), now.end(), w) != now.end())
                MdiArea->setActiveSubWindow(w);
        });
        windowListActions_.push_back(a);
    }
}

void TMainForm::FormCreate() { Closing = false; }

// ---- children -------------------------------------------------------------------------------

std::vector<QMdiSubWindow*> TMainForm::Children() const
{
    std::vector<QMdiSubWindow*> out;
    // A closed child may wait for its deletion; it is no child any more.
    for (QMdiSubWindow* w : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (!w->isHidden())
            out.push_back(w);
    return out;
}

QMdiSubWindow* TMainForm::ActiveChild() const
{
    const std::vector<QMdiSubWindow*> children = Children();
    if (children.empty())
        return nullptr;
    QMdiSubWindow* current = MdiArea->currentSubWindow();
    if (current && !current->isHidden())
        return current;
    // None activated yet (the frame is not shown): the child activated or made last.
    const QList<QMdiSubWindow*> history = MdiArea->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        if (!(*it)->isHidden())
            return *it;
    return children.back();
}

TMDIImageChildForm* TMainForm::ActiveImageWindow() const
{
    QMdiSubWindow* w = ActiveChild();
    return FormTag(w) == kImageWindowTag ? qobject_cast<TMDIImageChildForm*>(w) : nullptr;
}

TMDITextChildForm* TMainForm::ActiveNotesWindow() const
{
    QMdiSubWindow* w = ActiveChild();
    return FormTag(w) == kNotesWindowTag ? qobject_cast<TMDITextChildForm*>(w) : nullptr;
}

TMDIImageChildForm* TMainForm::FindImageWindow(const QString& caption) const
{
    for (QMdiSubWindow* w : Children())
        if (FormTag(w) == kImageWindowTag && w->windowTitle() == caption)
            return qobject_cast<TMDIImageChildForm*>(w);
    return nullptr;
}

void TMainForm::CloseImageWindows()
{
    for (QMdiSubWindow* w : Children())
        if (FormTag(w) == kImageWindowTag)
            w->close();
}

// ---- imaging library ------------------------------------------------------------------------

uint32_t TMainForm::CurrentInputChannel() const
{
    QComboBox* combo = nullptr;
    switch (BoardType) {
    case btSorvik: combo = ControlSorvikForm ? ControlSorvikForm->InputChannelComboBox : nullptr; break;
    case btSorvik2: combo = ControlSorvik2Form ? ControlSorvik2Form->InputChannelComboBox : nullptr; break;
    case btDrevanSingle:
    case btDrevanDouble: combo = ControlDrevanForm ? ControlDrevanForm->InputChannelComboBox : nullptr; break;
    case btLumbra: combo = ControlLumbraForm ? ControlLumbraForm->InputChannelComboBox : nullptr; break;
    case btHalcyra: combo = ControlHalcyraForm ? ControlHalcyraForm->InputChannelComboBox : nullptr; break;
    default: break;
    }
    return combo ? InputChannelCode(combo->currentIndex()) : 0;
}

void TMainForm::OpenImaging()
{
    ImagingOpened = true;
    orbAppOpen(ORB_DEFAULT, &AppId);
    orbAppControl(kAppControlType, 0);
    orbAppInquire(ORB_INQ_ERROR_HOOK, &PrevErrorHook);
    orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &PrevErrorHookUser);
    if (PrevErrorHook == &DisplayErrorExt) {
        // Our own hook still installed: chaining to it would call it without end.
        PrevErrorHook = nullptr;
        PrevErrorHookUser = nullptr;
    }
    orbAppSetErrorHook(ORB_ERROR_HOOK, &DisplayErrorExt, this);
    if (BoardType >= 0 && BoardType < kBoardKindCount)
        orbSysOpen(BoardDriverEntry(BoardType), ORB_DEFAULT, ORB_DEFAULT, &SystemId);
    if (BoardHasDigitizer()) {
        orbDigAlloc(SystemId, 0, kDigitizerFormat, ORB_DEFAULT, &DigitizerId);
        orbDigSelectInput(DigitizerId, CurrentInputChannel());
        orbDigSelectInput(DigitizerId, kFirstInputChannel);
    }
    if (BoardType == btDrevanDouble)
        orbDispAlloc(SystemId, ORB_DEFAULT, kDisplayFormat, ORB_DEFAULT, &DisplayId);
}

void TMainForm::CloseImaging()
{
    if (BoardType == btDrevanDouble && DisplayId != 0)
        orbDispFree(DisplayId);
    if (DigitizerId != 0)
        orbDigFree(DigitizerId);
    if (SystemId != 0)
        orbSysClose(SystemId);
    if (AppId != 0)
        orbAppClose(AppId);
    AppId = SystemId = DigitizerId = 0;
    DisplayId = 0;
    ImagingOpened = false;
}

void TMainForm::EnsureImaging()
{
    if (!ImagingOpened)
        OpenImaging();
}

void TMainForm::ShowLibraryError(OrbInt hookType, OrbId errorId, void* /*user*/)
{
    // The texts are taken at once, on the reporting thread.
    const std::string function = OrbErrorText(errorId, ORB_ERR_FUNCTION);
    const std::string message = OrbErrorText(errorId, ORB_ERR_MESSAGE);
    const int count = OrbErrorSubMessageCount(errorId);
    std::string sub[3];
    if (count > 2) sub[2] = OrbErrorText(errorId, ORB_ERR_SUBMESSAGE3);
    if (count > 1) sub[1] = OrbErrorText(errorId, ORB_ERR_SUBMESSAGE2);
    if (count > 0) sub[0] = OrbErrorText(errorId, ORB_ERR_SUBMESSAGE1);
    const QString text = LibraryErrorText(function, message, std::vector<std::string>(sub, sub + count));

    // On the GUI thread the box is shown now; on another thread it is handed to the GUI
    // thread and the reporting thread goes on at once.
    MessageBox(text, QGuiApplication::applicationDisplayName(), MB_OK | MB_ICONERROR);

    if (OrbErrorHook previous = PrevErrorHook)
        previous(hookType, errorId, PrevErrorHookUser);
}

// ---- window factories -----------------------------------------------------------------------

bool TMainForm::AskImageBufferValues(bool show, TImageBufferValues& v)
{
    std::unique_ptr<TImageBufferControlForm> form(new TImageBufferControlForm(this));
    if (show && ShowModal(*form) == mrCancel)
        return false;
    v.SizeX = form->SizeX();
    v.SizeY = form->SizeY();
    v.Bits = form->Bits();
    v.Bands = form->Bands();
    v.Unsigned = form->UnsignedRadioButton->isChecked();
    v.Processing = form->ProcCheckBox->isChecked();
    v.Grabbing = form->GrabCheckBox->isChecked();
    v.Display = form->DispCheckBox->isChecked();
    return true;
}

TMDIImageChildForm* TMainForm::MakeImageWindow(const TImageBufferValues& v, const QString& title)
{
    auto* w = new TMDIImageChildForm(nullptr, v.Display, v.Grabbing, v.Processing, v.Unsigned, v.Bands, v.Bits,
                                     v.SizeY, v.SizeX);
    w->setWindowTitle(title);
    w->SetClientSize(v.SizeX, v.SizeY);
    w->show();
    ++ImageWindowCount;
    return w;
}

bool TMainForm::NewImageWindowByDialog(const QString& title)
{
    EnsureImaging();
    TImageBufferValues v;
    if (!AskImageBufferValues(true, v))
        return false;
    MakeImageWindow(v, title);
    return true;
}

TMDIImageChildForm* TMainForm::NewImageWindow(const QString& title, int width, int height)
{
    EnsureImaging();
    TImageBufferValues v;
    AskImageBufferValues(false, v);
    v.SizeX = width;
    v.SizeY = height;
    return MakeImageWindow(v, title);
}

TMDITextChildForm* TMainForm::NewNotesWindow(const QString& title)
{
    auto* w = new TMDITextChildForm(nullptr);
    w->setWindowTitle(title);
    w->show();
    ++NotesWindowCount;
    return w;
}

bool TMainForm::NewRealTimeWindows(const QString& title, TRealTimeWindowIds& ids)
{
    EnsureImaging();
    TImageBufferValues v;
    if (!AskImageBufferValues(true, v))
        return false;
    TMDIImageChildForm* start = MakeImageWindow(v, kStartWindowTitle);
    start->RealTimeWindow = true;
    TMDIImageChildForm* now = MakeImageWindow(v, kNowWindowTitle);
    now->RealTimeWindow = true;
    TMDIImageChildForm* result = MakeImageWindow(v, title);
    result->RealTimeWindow = true;
    ids.StartDisplay = start->DisplayId;
    ids.StartBuffer = start->BufferId;
    ids.NowDisplay = now->DisplayId;
    ids.NowBuffer = now->BufferId;
    ids.ResultDisplay = result->DisplayId;
    ids.ResultBuffer = result->BufferId;
    return true;
}

void TMainForm::CloseRealTimeWindows()
{
    if (BoardType == btDrevanDouble)
        return;
    for (QMdiSubWindow* w : Children())
        if (FormTag(w) == kImageWindowTag)
            if (auto* image = qobject_cast<TMDIImageChildForm*>(w); image && image->RealTimeWindow)
                image->close();
}

bool TMainForm::NewProjectWindows(const QString& name, int& width, int& height)
{
    EnsureImaging();
    TImageBufferValues v;
    if (!AskImageBufferValues(true, v))
        return false;
    width = v.SizeX;
    height = v.SizeY;
    for (int i = 0; i < kBytePlaneCount; ++i)
        ProjectBufferIds[i] = MakeImageWindow(v, name + kBytePlaneSuffix[i])->BufferId;
    return true;
}

void TMainForm::NewProjectWindowsOfSize(const QString& name, int width, int height)
{
    EnsureImaging();
    TImageBufferValues v;
    v.SizeX = width;
    v.SizeY = height;
    v.Bits = 8;
    v.Bands = 1;
    v.Unsigned = true;
    v.Processing = true;
    v.Display = true;
    v.Grabbing = BoardHasDigitizer();
    for (int i = 0; i < kBytePlaneCount; ++i)
        ProjectBufferIds[i] = MakeImageWindow(v, name + kBytePlaneSuffix[i])->BufferId;
}

// ---- result views ---------------------------------------------------------------------------

void TMainForm::RefreshResultViews()
{
    if (!Project) {
        if (ShowDataForm) ShowDataForm->hide();
        if (ShowProfileForm) ShowProfileForm->hide();
        if (Show2DForm) Show2DForm->hide();
        if (Show3DForm) Show3DForm->hide();
        ForgetResultViewData();
        return;
    }
    const float* plane = Project->FloatPlane(kConvertResultCode);
    if (!plane)
        return;
    const uint8_t* mask = Project->BytePlane(kMaskPlane);   // none: every pixel valid
    const TPsmHeader& h = Project->Header();
    if (Show2DForm && Show2DForm->isVisible())
        Show2DForm->LoadData(plane, mask, h.Width, h.Height, static_cast<float>(h.OriginZ));
    if (ShowDataForm && ShowDataForm->isVisible()) {
        ShowDataForm->LoadData(plane, mask, h.Width, h.Height, h.Zc, h.Zcf, h.X0, h.Y0, h.OriginX, h.OriginY,
                               h.OriginZ, h.PixelX, h.PixelY);
        ShowDataForm->ShowNeighbourhood(1, 1);
    }
    if (Show3DForm && Show3DForm->isVisible())
        Show3DForm->LoadData(plane, mask, h.Width, h.Height, static_cast<float>(h.OriginZ));
}

void TMainForm::ForgetResultViewData()
{
    if (ShowDataForm) ShowDataForm->ForgetData();
    if (Show2DForm) Show2DForm->ForgetData();
    if (Show3DForm) Show3DForm->ForgetData();
}

// ---- board selection ------------------------------------------------------------------------

void TMainForm::StopLiveWork()
{
    if (RealTimeSubtractControlSSForm)
        RealTimeSubtractControlSSForm->EndSubtractBitBtnClick();
    if (RealTimeMultiplyControlSSForm)
        RealTimeMultiplyControlSSForm->EndMultiplyBitBtnClick();
}

void TMainForm::ReleaseImagingForBoardChange()
{
    if (!ImagingOpened)
        return;
    // A live worker grabs with the digitizer into the live windows' buffers: it ends
    // before either goes.
    StopLiveWork();
    CloseImageWindows();
    CloseImaging();
}

void TMainForm::SetBoardType(int index)
{
    if (index >= 0 && index < kBoardKindCount)
        BoardType = static_cast<int8_t>(index);
}

void TMainForm::BoardSelectionActionExecute()
{
    std::unique_ptr<TSelectBoardTypeForm> form(new TSelectBoardTypeForm(this));
    form->BoardInfoRadioGroup->SetItemIndex(ReadBoardType());
    if (ShowModal(*form) == mrOk) {
        const int index = form->BoardInfoRadioGroup->ItemIndex();
        // With no kind chosen nothing changes and nothing is stored.
        if (index >= 0 && index < kBoardKindCount) {
            ReleaseImagingForBoardChange();
            SetBoardType(index);
            WriteBoardType(index);
            BoardTypeComboBox->setCurrentIndex(index);
        }
    }
    // A cancelled dialog leaves the combo box showing the kind in force.
}

void TMainForm::BoardTypeComboBoxChange()
{
    const int index = BoardTypeComboBox->currentIndex();
    if (index < 0 || index >= kBoardKindCount)
        return;
    WriteBoardType(index);
    ReleaseImagingForBoardChange();
    SetBoardType(index);
}

// ---- window arrangements --------------------------------------------------------------------

namespace {

std::vector<QMdiSubWindow*> Restored(const std::vector<QMdiSubWindow*>& children)
{
    std::vector<QMdiSubWindow*> out;
    for (QMdiSubWindow* w : children)
        if (!w->isMinimized())
            out.push_back(w);
    return out;
}

}  // namespace

void TMainForm::TileHorizontally()
{
    const std::vector<QMdiSubWindow*> windows = Restored(Children());
    if (windows.empty())
        return;
    const QRect area = MdiArea->viewport()->rect();
    const int n = static_cast<int>(windows.size());
    const int h = std::max(1, area.height() / n);
    for (int i = 0; i < n; ++i) {
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        windows[i]->setGeometry(0, i * h, area.width(), h);
    }
}

void TMainForm::TileVertically()
{
    const std::vector<QMdiSubWindow*> windows = Restored(Children());
    if (windows.empty())
        return;
    const QRect area = MdiArea->viewport()->rect();
    const int n = static_cast<int>(windows.size());
    const int w = std::max(1, area.width() / n);
    for (int i = 0; i < n; ++i) {
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        windows[i]->setGeometry(i * w, 0, w, area.height());
    }
}

void TMainForm::MinimizeAll()
{
    for (QMdiSubWindow* w : Children())
        w->showMinimized();
}

void TMainForm::ArrangeIcons()
{
    const QRect area = MdiArea->viewport()->rect();
    int x = 0;
    int y = area.height();
    for (QMdiSubWindow* w : Children()) {
        if (!w->isMinimized())
            continue;
        const QSize s = w->size();
        if (x > 0 && x + s.width() > area.width()) {
            x = 0;
            y -= s.height();
        }
        w->move(x, y - s.height());
        x += s.width();
    }
}

// ---- shut-down ------------------------------------------------------------------------------

bool TMainForm::FormCloseQuery()
{
    if (MessageBox("Do you really want to exit?", "Confirmation", MB_YESNO | MB_ICONQUESTION) != mrYes)
        return false;
    // A modified measurement is not thrown away unasked.
    return OfferToSaveProject(*this);
}

void TMainForm::FormClose()
{
    // Hiding a live form ends its worker.
    if (RealTimeSubtractControlSSForm) {
        RealTimeSubtractControlSSForm->hide();
        RealTimeSubtractControlSSForm->EndSubtractBitBtnClick();
        delete RealTimeSubtractControlSSForm;
        RealTimeSubtractControlSSForm = nullptr;
    }
    if (RealTimeMultiplyControlSSForm) {
        RealTimeMultiplyControlSSForm->hide();
        RealTimeMultiplyControlSSForm->EndMultiplyBitBtnClick();
        delete RealTimeMultiplyControlSSForm;
        RealTimeMultiplyControlSSForm = nullptr;
    }
    Closing = true;
    for (QMdiSubWindow* w : Children())
        w->close();
    delete Project;
    Project = nullptr;
    // The views borrowed the project's planes.
    ForgetResultViewData();
    if (ImagingOpened)
        CloseImaging();
}

void TMainForm::FormDestroy()
{
    WriteLastPath(QDir::currentPath().toStdString());
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (closed_) {
        event->accept();
        return;
    }
    bool close = false;
    RunGuarded([&] { close = FormCloseQuery(); });
    if (!close) {
        event->ignore();
        return;
    }
    RunGuarded([this] { FormClose(); });
    closed_ = true;
    event->accept();
    // The main window closing ends the program.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}
