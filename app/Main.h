#pragma once
// The main window: the MDI frame "Vistrel 2.0" with the state other units read through the
// one main-window pointer (board kind, imaging-library ids, the current project, the
// capture parameters and the project windows' buffer ids), the lazy opening of the
// imaging library, the error hook through which the library's errors reach the operator,
// the factories of image, notes, live and project windows, the choice of board kind and
// the shut-down.
//
// Everything runs on the GUI thread, except the error hook, which runs wherever the
// library calls it: off the GUI thread it hands its message box to the GUI thread without
// waiting.

#include "Accessregistry.h"
#include "Orbbinding.h"

#include <QAction>
#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class QComboBox;
class QDockWidget;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;
class QTimer;
class QToolBar;
class QVBoxLayout;
class TFileDialog;
class TMDIImageChildForm;
class TMDITextChildForm;
class TPhaseShiftMoire;
class TRadioGroup;

// MDI children are told apart by their Tag.
constexpr int kImageWindowTag = 40;
constexpr int kNotesWindowTag = 10;
int FormTag(const QWidget* form);
void SetFormTag(QWidget* form, int tag);

// The titles of the live windows.
extern const char* const kStartWindowTitle;   // "Start"
extern const char* const kNowWindowTitle;     // "Now"

// One command of the main window: Execute runs its handler (an exception it throws is
// shown by the application object); Update runs its update handler, which sets the
// enabled state. An action without an execute handler stays disabled.
class TAction : public QAction {
    Q_OBJECT
public:
    TAction(const QString& caption, const QString& category, QObject* parent);

    QString Category;
    std::function<void()> OnExecute;
    std::function<void(TAction&)> OnUpdate;

    void Execute();
    void Update();
};

// The main window's action list. UpdateAll runs every action's Update; the main window
// calls it periodically (every 200 ms) and whenever another MDI child becomes active.
class TActionList : public QObject {
    Q_OBJECT
public:
    explicit TActionList(QObject* parent) : QObject(parent) {}

    TAction* Add(const QString& category, const QString& caption, const QKeySequence& shortcut,
                 std::function<void()> execute, std::function<void(TAction&)> update = {});
    // The action of that caption ("" and & included), or null.
    TAction* Find(const QString& caption) const;
    const std::vector<TAction*>& Actions() const { return actions_; }
    void UpdateAll();

private:
    std::vector<TAction*> actions_;
};

// The image-window values of the buffer dialog.
struct TImageBufferValues {
    int SizeX = 768, SizeY = 576, Bits = 8, Bands = 1;
    bool Unsigned = true, Processing = true, Grabbing = true, Display = true;
};

// The ids handed back by NewRealTimeWindows.
struct TRealTimeWindowIds {
    OrbId StartDisplay = 0, StartBuffer = 0;
    OrbId NowDisplay = 0, NowBuffer = 0;
    OrbId ResultDisplay = 0, ResultBuffer = 0;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* owner = nullptr);
    ~TMainForm() override;

    // ---- components ----
    QMdiArea* MdiArea = nullptr;
    TActionList* MainFormActionList = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* EditMenu = nullptr;
    QMenu* ViewMenu = nullptr;
    QMenu* CaptureMenu = nullptr;
    QMenu* OptionMenu = nullptr;       // hidden
    QMenu* ParametersMenu = nullptr;   // hidden
    QMenu* ImageMenu = nullptr;
    QMenu* WindowMenu = nullptr;       // lists the MDI children
    QMenu* HelpMenu = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolBar* ToolBar2 = nullptr;
    QToolBar* ToolBar3 = nullptr;
    QStatusBar* MyStatusBar = nullptr;
    QDockWidget* QuickStartControlPanel = nullptr;   // hidden at start
    QVBoxLayout* QuickStartLayout = nullptr;         // the panel's buttons and groups
    QComboBox* BoardTypeComboBox = nullptr;          // disabled
    TFileDialog* OpenDialog = nullptr;
    TFileDialog* SaveDialog = nullptr;
    TFileDialog* OpenPictureDialog = nullptr;
    TFileDialog* SavePictureDialog = nullptr;

    // ---- actions ----
    TAction* ExitAction = nullptr;
    TAction* ViewToolBarAction = nullptr;
    TAction* ViewStatusBarAction = nullptr;
    TAction* ViewQuickStartAction = nullptr;
    TAction* BoardSelectionAction = nullptr;
    TAction* WindowCascadeAction = nullptr;
    TAction* WindowTileHorizontalAction = nullptr;
    TAction* WindowTileVerticalAction = nullptr;
    TAction* WindowMinimizeAllAction = nullptr;
    TAction* WindowArrangeAllAction = nullptr;
    // The quick-start panel's two groups share the captions "Show" and "Update".
    TAction* RawDataShowAction = nullptr;
    TAction* RawDataUpdateAction = nullptr;
    TAction* ResultShowAction = nullptr;
    TAction* ResultUpdateAction = nullptr;

    // ---- quick-start panel ----
    TRadioGroup* RawDataRadioGroup = nullptr;   // "Raw Data": Object, Step1-Step4, Mask
    TRadioGroup* ResultRadioGroup = nullptr;    // " Result ": Phase, Unwrap, Shape

    // ---- state ----
    int32_t ImageWindowCount = 0;
    int32_t NotesWindowCount = 0;
    int32_t ProjectCount = 0;
    int8_t BoardType = btSorvik;
    bool ImagingOpened = false;
    OrbId AppId = 0, SystemId = 0, DigitizerId = 0, DisplayId = 0;
    OrbErrorHook PrevErrorHook = nullptr;
    void* PrevErrorHookUser = nullptr;
    bool Closing = false;
    TPhaseShiftMoire* Project = nullptr;   // owned
    TControlPara ControlPara;
    OrbId ProjectBufferIds[6] = {0, 0, 0, 0, 0, 0};

    // ---- operations ----
    QMdiSubWindow* ActiveChild() const;
    TMDIImageChildForm* ActiveImageWindow() const;
    TMDITextChildForm* ActiveNotesWindow() const;
    // The open MDI children, in child order.
    std::vector<QMdiSubWindow*> Children() const;

    void OpenImaging();
    void CloseImaging();
    // Opens the imaging library unless it is open.
    void EnsureImaging();

    // Called through DisplayErrorExt, on whatever thread the library reports on.
    void ShowLibraryError(OrbInt hookType, OrbId errorId, void* user);

    bool NewImageWindowByDialog(const QString& title);
    TMDIImageChildForm* NewImageWindow(const QString& title, int width, int height);
    TMDITextChildForm* NewNotesWindow(const QString& title);
    bool NewRealTimeWindows(const QString& title, TRealTimeWindowIds& ids);
    void CloseRealTimeWindows();
    bool NewProjectWindows(const QString& name, int& width, int& height);
    void NewProjectWindowsOfSize(const QString& name, int width, int height);
    TMDIImageChildForm* FindImageWindow(const QString& caption) const;
    uint32_t CurrentInputChannel() const;
    void RefreshResultViews();
    // The result views drop the planes they borrowed from the project.
    void ForgetResultViewData();
    bool BoardHasDigitizer() const { return BoardKindHasDigitizer(BoardType); }

    // Closes every image window (Tag 40).
    void CloseImageWindows();
    // Ends the work of the live difference and product forms (their workers use the
    // digitizer and the live windows' buffers).
    void StopLiveWork();

    // ---- handlers ----
    void BoardSelectionActionExecute();
    void BoardTypeComboBoxChange();
    void FormCreate();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();

    // Window arrangements of the Window menu.
    void TileHorizontally();
    void TileVertically();
    void MinimizeAll();
    void ArrangeIcons();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildComponents();
    void BuildActions();
    void BuildMenus();
    void RebuildWindowList();
    // The buffer dialog's values; false when it was cancelled (when shown).
    bool AskImageBufferValues(bool show, TImageBufferValues& v);
    TMDIImageChildForm* MakeImageWindow(const TImageBufferValues& v, const QString& title);
    // Board kind change: live work ended, image windows closed, the library closed.
    void ReleaseImagingForBoardChange();
    void SetBoardType(int index);

    QTimer* updateTimer_ = nullptr;
    std::vector<QAction*> windowListActions_;
    bool closed_ = false;
};

extern TMainForm* MainForm;

// The imaging library's error hook: ShowLibraryError on the main window; returns 0.
OrbInt DisplayErrorExt(OrbInt hookType, OrbId errorId, void* user);

// The text of a library error: the function name, a line feed, the message, then a line
// feed and each sub-message in the order 1, 2, 3.
QString LibraryErrorText(const std::string& function, const std::string& message,
                         const std::vector<std::string>& subMessages);
