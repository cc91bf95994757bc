#pragma once
// The one door through which every message box, file dialog and modal form of the program
// passes. The program uses the Qt implementation; tests install TScriptedDialogs, which
// answers from queues and records what was asked, so that no dialog ever blocks a headless
// run. Results are the class library's modal results.
//
// Message boxes and modal forms are shown on the GUI thread only. MessageBox called on
// another thread does not open a box there: it posts the box to the GUI thread (shown when
// the GUI thread next processes events), does not wait for it, and returns mrNone.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QDialog;

// Modal results.
enum : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
};

// Message box buttons (one of) and icons (one of, added).
enum : int {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_BUTTONMASK = 0xF,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
};

// What a file dialog is asked and, after it, what the user chose.
struct TFileDialogRequest {
    bool Save = false;
    QString Title;
    QString Filter;           // "Text(*.txt)|*.txt|All Files(*.*)|*.*"
    int FilterIndex = 1;      // 1-based; the chosen one on return
    QString InitialDir;
    QString FileName;         // proposed name; the chosen path on return
    QString DefaultExt;       // without the dot, added to a name typed without extension
    bool OverwritePrompt = false;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Returns mrOk, mrCancel, mrYes or mrNo (mrCancel also when the box is closed otherwise).
    virtual int MessageBox(const QString& text, const QString& caption, int flags) = 0;
    // True when the user chose a file; request.FileName and FilterIndex then say which.
    virtual bool FileDialog(TFileDialogRequest& request) = 0;
    // Shows form modally; its modal result (mrCancel when it was closed without one).
    virtual int ShowModal(QDialog& form) = 0;
};

// The dialogs in use: the Qt ones unless SetDialogs installed others.
TDialogs& Dialogs();
// Installs d (not owned; null returns to the Qt dialogs).
void SetDialogs(TDialogs* d);

// Installs dialogs for the lifetime of this object, then restores the previous ones.
class ScopedDialogs {
public:
    explicit ScopedDialogs(TDialogs* d);
    ~ScopedDialogs();
    ScopedDialogs(const ScopedDialogs&) = delete;
    ScopedDialogs& operator=(const ScopedDialogs&) = delete;

private:
    TDialogs* previous_;
};

// Through Dialogs(), from any thread (see above).
int MessageBox(const QString& text, const QString& caption, int flags);
// Shows the box on the GUI thread without waiting for it, from any thread; on the GUI
// thread itself it is shown at the next processing of events.
void PostMessageBox(const QString& text, const QString& caption, int flags);
// An OK box with the application's title as its caption.
void ShowMessage(const QString& text);
// Through Dialogs(); GUI thread only.
int ShowModal(QDialog& form);

// The class library's filter text ("Desc|pattern;pattern|...") as Qt name filters:
// "Desc (pattern pattern)", one per pair.
QStringList QtNameFilters(const QString& filter);

// The extension a save dialog gives a name typed without one: that of the first pattern of
// the chosen filter ("*.psm" gives "psm", "*.sur;*.dat" gives "sur"); for a filter without
// one ("*.*") the default extension, which may be empty. filterIndex is 1-based.
QString SaveExtension(const QString& filter, int filterIndex, const QString& defaultExt);

// A file dialog component: set its fields, Execute, read FileName. Every dialog starts in
// the process's current directory. A save dialog adds SaveExtension to a chosen name
// that has no extension, so that the file shows under the filter it was saved with.
class TFileDialog {
public:
    explicit TFileDialog(bool save) : save_(save) {}
    QString Title;
    QString Filter;
    int FilterIndex = 1;
    QString FileName;
    QString DefaultExt;
    bool OverwritePrompt = false;
    bool Execute();

private:
    bool save_;
};

// Headless dialogs for tests: answers from queues, records every question.
class TScriptedDialogs : public TDialogs {
public:
    struct Box {
        QString Text;
        QString Caption;
        int Flags = 0;
        bool OnGuiThread = false;
    };
    struct FileAnswer {
        bool Accept = false;
        QString FileName;
        int FilterIndex = 0;   // 0 keeps the request's
    };
    struct Modal {
        QString ClassName;     // the form's class
        QString Title;
    };
    // Answers the next modal form: may change its controls; returns its modal result.
    using ModalAnswer = std::function<int(QDialog&)>;

    int MessageBox(const QString& text, const QString& caption, int flags) override;
    bool FileDialog(TFileDialogRequest& request) override;
    int ShowModal(QDialog& form) override;

    // Answers, used first in first out. Without one a box answers with its first button
    // (mrOk or mrYes), a file dialog is cancelled and a modal form gives mrCancel.
    void AnswerBox(int result);
    void AnswerFile(const QString& fileName, int filterIndex = 0);
    void CancelFile();
    void AnswerModal(ModalAnswer answer);
    void AnswerModal(int result);

    std::vector<Box> Boxes() const;
    std::vector<TFileDialogRequest> FileRequests() const;
    std::vector<Modal> Modals() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<int> boxAnswers_;
    std::deque<FileAnswer> fileAnswers_;
    std::deque<ModalAnswer> modalAnswers_;
    std::vector<Box> boxes_;
    std::vector<TFileDialogRequest> fileRequests_;
    std::vector<Modal> modals_;
};
