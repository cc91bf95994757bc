#include "Mainactions.h"

#include "Autoadjust.h"
#include "Calibrateangle.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Main.h"
#include "Mdiimagechild.h"
#include "Phaseshiftmoire.h"
#include "Projectactions.h"
#include "Projectinfo.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

#include <vector>

namespace {

// ---- the standard edit commands on the focused edit control ----

QWidget* FocusedEditor()
{
    QWidget* w = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) || qobject_cast<QPlainTextEdit*>(w))
        return w;
    return nullptr;
}

bool EditorHasSelection(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->hasSelectedText();
    if (auto* e = qobject_cast<QTextEdit*>(w)) return e->textCursor().hasSelection();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->textCursor().hasSelection();
    return false;
}

bool EditorReadOnly(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->isReadOnly();
    if (auto* e = qobject_cast<QTextEdit*>(w)) return e->isReadOnly();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->isReadOnly();
    return true;
}

bool ClipboardHasText()
{
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && data->hasText();
}

void EditCommand(const char* slot)
{
    if (QWidget* w = FocusedEditor())
        QMetaObject::invokeMethod(w, slot);
}

// ---- layout helpers ----

TAction* Need(const TMainForm& f, const QString& caption)
{
    return f.MainFormActionList->Find(caption);
}

void AddEntries(QWidget* where, const TMainForm& f, std::initializer_list<const char*> captions)
{
    for (const char* c : captions) {
        if (c[0] == '-') {
            auto* sep = new QAction(where);
            sep->setSeparator(true);
            where->addAction(sep);
        } else if (TAction* a = Need(f, c)) {
            where->addAction(a);
        }
    }
}

// A menu entry with neither command nor handler: shown, never enabled.
void AddInertEntry(QMenu* menu, const QString& caption)
{
    menu->addAction(caption)->setEnabled(false);
}

// A quick-start panel button bound to an action, showing its own text: enabled with the
// action, running it when pressed.
QPushButton* ActionButton(TAction* action, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(text);
    b->setEnabled(action && action->isEnabled());
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    if (action) {
        QObject::connect(action, &QAction::changed, b, [b, action] { b->setEnabled(action->isEnabled()); });
        QObject::connect(b, &QPushButton::clicked, action, [action] {
            action->Update();
            if (action->isEnabled())
                action->Execute();
        });
    }
    return b;
}

}  // namespace

void AddMainActions(TMainForm& form)
{
    TMainForm* f = &form;
    TActionList* list = f->MainFormActionList;
    auto always = [](TAction& a) { a.setEnabled(true); };
    auto hasChildren = [f](TAction& a) { a.setEnabled(!f->Children().empty()); };
    auto hasProject = [f](TAction& a) { a.setEnabled(f->Project != nullptr); };

    // ---- File and Window ----
    // "&Close" is listed before "&Copy", so Ctrl+C is its shortcut; an edit control with the
    // focus still copies with Ctrl+C, since it takes the standard copy keys first.
    list->Add("File", "&Close", QKeySequence(Qt::CTRL | Qt::Key_C), [f] {
        if (QMdiSubWindow* w = f->ActiveChild())
            w->close();
    }, [f](TAction& a) { a.setEnabled(f->ActiveChild() != nullptr); });
    list->Add("Window", "Close All", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C), [f] {
        std::vector<QMdiSubWindow*> children = f->Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            (*it)->close();
    }, hasChildren);

    // ---- Edit ----
    list->Add("Edit", "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), [] { EditCommand("cut"); }, [](TAction& a) {
        QWidget* w = FocusedEditor();
        a.setEnabled(w && !EditorReadOnly(w) && EditorHasSelection(w));
    });
    list->Add("Edit", "&Copy", QKeySequence(), [] { EditCommand("copy"); }, [](TAction& a) {
        QWidget* w = FocusedEditor();
        a.setEnabled(w && EditorHasSelection(w));
    });
    list->Add("Edit", "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), [] { EditCommand("paste"); }, [](TAction& a) {
        QWidget* w = FocusedEditor();
        a.setEnabled(w && !EditorReadOnly(w) && ClipboardHasText());
    });

    // ---- Help ----
    list->Add("Help", "&About...", QKeySequence(), [f] {
        TAboutForm about(f);
        ShowModal(about);
    }, always);

    // ---- Option: the language entries have no handler ----
    TAction* autoLanguage = list->Add("Option", "Auto", QKeySequence(), {});
    autoLanguage->setCheckable(true);
    autoLanguage->setChecked(true);
    list->Add("Option", "English", QKeySequence(), {});
    list->Add("Option", "Chinese", QKeySequence(), {});

    // ---- Config: the geometry tools ----
    list->Add("Config", "Automatic Adjust", QKeySequence(), [] {
        if (AutoAdjustForm) AutoAdjustForm->show();
    }, always);
    list->Add("Config", "Calibrate Angle", QKeySequence(), [] {
        if (CalibrateAngleForm) CalibrateAngleForm->show();
    }, always);

    // ---- QuickStart: the project ----
    list->Add("QuickStart", "Open", QKeySequence(), [f] { QuickStartOpenActionExecute(*f); }, always);
    list->Add("QuickStart", "Close", QKeySequence(), [f] { QuickStartCloseActionExecute(*f); }, hasProject);
    f->RawDataShowAction = list->Add("QuickStart", "Show", QKeySequence(), [f] { RawDataShowExecute(*f); }, hasProject);
    f->RawDataUpdateAction = list->Add("QuickStart", "Update", QKeySequence(), [f] { RawDataUpdateExecute(*f); },
                                       [f](TAction& a) {
        bool on = false;
        if (f->Project && !f->Children().empty()) {
            TMDIImageChildForm* w = f->ActiveImageWindow();
            const int i = f->RawDataRadioGroup ? f->RawDataRadioGroup->ItemIndex() : -1;
            on = w && w->windowTitle() == RawPlaneWindowTitle(*f, i);
        }
        a.setEnabled(on);
    });
    f->ResultShowAction = list->Add("QuickStart", "Show", QKeySequence(), [f] { ResultShowExecute(*f); },
                                    [f](TAction& a) {
        const int code = ResultPlaneCode(f->ResultRadioGroup ? f->ResultRadioGroup->ItemIndex() : -1);
        a.setEnabled(f->Project && code && f->Project->FloatPlane(code));
    });
    f->ResultUpdateAction = list->Add("QuickStart", "Update", QKeySequence(), {});
}

void LayOutMainWindow(TMainForm& form)
{
    TMainForm& f = form;

    // ---- menus ----
    AddEntries(f.FileMenu, f, {"&New Image", "New Notes", "-", "&Open Image", "&Load Image", "Open Notes", "&Save",
                               "Save &As...", "&Close", "Close All", "-", "E&xit"});
    AddEntries(f.EditMenu, f, {"Cu&t", "&Copy", "&Paste"});
    AddEntries(f.ViewMenu, f, {"Tool Bar", "Status Bar", "-"});
    {
        // The "Quick Start" entry and the separator after it are hidden; the command is
        // reached by its shortcut.
        QAction* entry = f.ViewMenu->addAction("Quick Start");
        QObject::connect(entry, &QAction::triggered, f.ViewQuickStartAction, &QAction::trigger);
        entry->setVisible(false);
        f.ViewMenu->addSeparator()->setVisible(false);
    }
    AddEntries(f.ViewMenu, f, {"Zoom +", "Zoom -", "Original Size", "Refresh"});

    AddEntries(f.CaptureMenu, f, {"Single Grab", "-", "Display Camera", "Freeze Camera", "-"});
    AddInertEntry(f.CaptureMenu, "Grab Multi-Frame");
    AddEntries(f.CaptureMenu, f, {"-", "Real Time Subtract", "Real Time Multiply", "-", "Control"});

    AddEntries(f.OptionMenu, f, {"Board Selection...", "PI Config", "Motor Control", "-"});
    QMenu* language = f.OptionMenu->addMenu("Language");
    AddEntries(language, f, {"Auto", "-", "English", "Chinese"});

    AddEntries(f.ParametersMenu, f, {"Control Parameters", "Compute Parameters", "-", "Convert Parameters",
                                     "Coord. Transfer Parameters", "-", "Lens Parameters", "Automatic Adjust",
                                     "Calibrate Angle"});

    AddEntries(f.ImageMenu, f, {"Calculation...", "Histogram", "Image Size", "-", "Invert", "Modify Image", "-"});
    AddInertEntry(f.ImageMenu->addMenu("Filter"), "Median");

    AddEntries(f.WindowMenu, f, {"&Cascade", "Tile &Horizontally", "Tile &Vertically", "&Minimize All",
                                 "&Arrange All"});
    AddEntries(f.HelpMenu, f, {"&About..."});

    // ---- tool bars ----
    AddEntries(f.ToolBar1, f, {"&New Image", "New Notes", "&Open Image", "Open Notes", "Save &As..."});
    AddEntries(f.ToolBar2, f, {"Single Grab", "Display Camera", "Freeze Camera", "Control", "Board Selection..."});
    f.ToolBar2->addWidget(f.BoardTypeComboBox);
    AddEntries(f.ToolBar2, f, {"Motor Control"});
    AddEntries(f.ToolBar3, f, {"Zoom -", "Original Size", "Zoom +", "Refresh"});

    // ---- quick-start panel ----
    QWidget* panel = f.QuickStartControlPanel->widget();
    QVBoxLayout* layout = f.QuickStartLayout;
    auto button = [&](TAction* a, const QString& text) {
        layout->insertWidget(layout->count() - 1, ActionButton(a, text, panel));
    };
    auto group = [&](TRadioGroup* radio, TAction* show, TAction* update) {
        radio->SetItemIndex(0);
        layout->insertWidget(layout->count() - 1, radio);
        auto* row = new QWidget(panel);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(ActionButton(show, "Show", row));
        h->addWidget(ActionButton(update, "Update", row));
        layout->insertWidget(layout->count() - 1, row);
    };
    for (const char* c : {"New", "Open", "Save", "Close"})
        button(Need(f, c), c);
    f.RawDataRadioGroup = new TRadioGroup("Raw Data", {"Object", "Step1", "Step2", "Step3", "Step4", "Mask"}, 1, panel);
    group(f.RawDataRadioGroup, f.RawDataShowAction, f.RawDataUpdateAction);
    f.ResultRadioGroup = new TRadioGroup(" Result ", {"Phase", "Unwrap", "Shape"}, 1, panel);
    group(f.ResultRadioGroup, f.ResultShowAction, f.ResultUpdateAction);
    button(Need(f, "Compute"), "Compute Phase");
    button(Need(f, "Unwrap"), "Unwrap Phase");
    for (const char* c : {"Convert to Z", "2D Color map", "Display Data", "Profile", "3D Color map", "Data Exchange",
                          "Surface Data Output", "Current Project File Info"})
        button(Need(f, c), c);

    // Shortcuts work whether or not a menu shows the action.
    for (TAction* a : f.MainFormActionList->Actions())
        f.addAction(a);
    f.MainFormActionList->UpdateAll();
}
