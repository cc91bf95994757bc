#include "Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <atomic>

namespace {

bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

class TQtDialogs : public TDialogs {
public:
    int MessageBox(const QString& text, const QString& caption, int flags) override
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (flags & MB_ICONMASK) {
        case MB_ICONERROR: icon = QMessageBox::Critical; break;
        case MB_ICONQUESTION: icon = QMessageBox::Question; break;
        case MB_ICONWARNING: icon = QMessageBox::Warning; break;
        case MB_ICONINFORMATION: icon = QMessageBox::Information; break;
        default: break;
        }
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton escape = QMessageBox::Ok;
        switch (flags & MB_BUTTONMASK) {
        case MB_OKCANCEL:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
            break;
        case MB_YESNO:
            buttons = QMessageBox::Yes | QMessageBox::No;
            escape = QMessageBox::No;
            break;
        case MB_YESNOCANCEL:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
            break;
        default:
            break;
        }
        QMessageBox box(icon, caption, text, buttons, QApplication::activeWindow());
        box.setEscapeButton(escape);
        switch (box.exec()) {
        case QMessageBox::Ok: return mrOk;
        case QMessageBox::Yes: return mrYes;
        case QMessageBox::No: return mrNo;
        default: return (flags & MB_BUTTONMASK) == MB_OK ? mrOk : mrCancel;
        }
    }

    bool FileDialog(TFileDialogRequest& request) override
    {
        QFileDialog dialog(QApplication::activeWindow(), request.Title, request.InitialDir);
        dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (request.Save && !request.OverwritePrompt)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        const QStringList filters = QtNameFilters(request.Filter);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            const int index = request.FilterIndex >= 1 && request.FilterIndex <= filters.size()
                                  ? request.FilterIndex - 1 : 0;
            dialog.selectNameFilter(filters[index]);
        }
        if (request.Save) {
            // The dialog adds the chosen filter's extension itself, before it asks whether
            // to replace a file of that name.
            auto follow = [&dialog, &request, filters](const QString& chosen) {
                dialog.setDefaultSuffix(
                    SaveExtension(request.Filter, filters.indexOf(chosen) + 1, request.DefaultExt));
            };
            follow(dialog.selectedNameFilter());
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
        } else if (!request.DefaultExt.isEmpty()) {
            dialog.setDefaultSuffix(request.DefaultExt);
        }
        if (!request.FileName.isEmpty())
            dialog.selectFile(request.FileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        request.FileName = QDir::toNativeSeparators(dialog.selectedFiles().first());
        const int chosen = filters.indexOf(dialog.selectedNameFilter());
        if (chosen >= 0)
            request.FilterIndex = chosen + 1;
        return true;
    }

    int ShowModal(QDialog& form) override
    {
        const int r = form.exec();
        return r == QDialog::Rejected ? mrCancel : r;
    }
};

TQtDialogs& QtDialogs()
{
    static TQtDialogs d;
    return d;
}

std::atomic<TDialogs*> installed{nullptr};

}  // namespace

TDialogs& Dialogs()
{
    TDialogs* d = installed.load();
    return d ? *d : QtDialogs();
}

void SetDialogs(TDialogs* d) { installed.store(d); }

ScopedDialogs::ScopedDialogs(TDialogs* d) : previous_(installed.exchange(d)) {}

ScopedDialogs::~ScopedDialogs() { installed.store(previous_); }

int MessageBox(const QString& text, const QString& caption, int flags)
{
    if (!OnGuiThread()) {
        PostMessageBox(text, caption, flags);
        return mrNone;
    }
    return Dialogs().MessageBox(text, caption, flags);
}

void PostMessageBox(const QString& text, const QString& caption, int flags)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app, [text, caption, flags] { Dialogs().MessageBox(text, caption, flags); },
        Qt::QueuedConnection);
}

void ShowMessage(const QString& text)
{
    MessageBox(text, QGuiApplication::applicationDisplayName(), MB_OK);
}

int ShowModal(QDialog& form) { return Dialogs().ShowModal(form); }

QStringList QtNameFilters(const QString& filter)
{
    QStringList out;
    const QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        out << parts[i] + " (" + patterns.join(' ') + ")";
    }
    return out;
}

QString SaveExtension(const QString& filter, int filterIndex, const QString& defaultExt)
{
    const QStringList parts = filter.split('|');
    const int i = 2 * (filterIndex - 1) + 1;
    if (filterIndex >= 1 && i < parts.size()) {
        const QString first = parts[i].split(';', Qt::SkipEmptyParts).value(0).trimmed();
        if (first.startsWith("*.")) {
            const QString ext = first.mid(2);
            if (!ext.isEmpty() && !ext.contains('*') && !ext.contains('?'))
                return ext;
        }
    }
    return defaultExt;
}

bool TFileDialog::Execute()
{
    TFileDialogRequest r;
    r.Save = save_;
    r.Title = Title;
    r.Filter = Filter;
    r.FilterIndex = FilterIndex;
    r.InitialDir = QDir::currentPath();
    r.FileName = FileName;
    r.DefaultExt = DefaultExt;
    r.OverwritePrompt = OverwritePrompt;
    if (!Dialogs().FileDialog(r))
        return false;
    if (save_ && QFileInfo(r.FileName).suffix().isEmpty()) {
        const QString ext = SaveExtension(Filter, r.FilterIndex, DefaultExt);
        if (!ext.isEmpty())
            r.FileName += "." + ext;
    }
    FileName = r.FileName;
    FilterIndex = r.FilterIndex;
    return true;
}

// ---- TScriptedDialogs ---------------------------------------------------------------------

int TScriptedDialogs::MessageBox(const QString& text, const QString& caption, int flags)
{
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({text, caption, flags, OnGuiThread()});
    if (!boxAnswers_.empty()) {
        const int r = boxAnswers_.front();
        boxAnswers_.pop_front();
        return r;
    }
    const int buttons = flags & MB_BUTTONMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? mrYes : mrOk;
}

bool TScriptedDialogs::FileDialog(TFileDialogRequest& request)
{
    FileAnswer a;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fileRequests_.push_back(request);
        if (!fileAnswers_.empty()) {
            a = fileAnswers_.front();
            fileAnswers_.pop_front();
        }
    }
    if (!a.Accept)
        return false;
    request.FileName = a.FileName;
    if (a.FilterIndex > 0)
        request.FilterIndex = a.FilterIndex;
    return true;
}

int TScriptedDialogs::ShowModal(QDialog& form)
{
    ModalAnswer answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        modals_.push_back({QString::fromLatin1(form.metaObject()->className()), form.windowTitle()});
        if (!modalAnswers_.empty()) {
            answer = std::move(modalAnswers_.front());
            modalAnswers_.pop_front();
        }
    }
    // The answer runs unlocked: it may itself ask questions.
    return answer ? answer(form) : mrCancel;
}

void TScriptedDialogs::AnswerBox(int result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    boxAnswers_.push_back(result);
}

void TScriptedDialogs::AnswerFile(const QString& fileName, int filterIndex)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fileAnswers_.push_back({true, fileName, filterIndex});
}

void TScriptedDialogs::CancelFile()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fileAnswers_.push_back({false, QString(), 0});
}

void TScriptedDialogs::AnswerModal(ModalAnswer answer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    modalAnswers_.push_back(std::move(answer));
}

void TScriptedDialogs::AnswerModal(int result)
{
    AnswerModal([result](QDialog&) { return result; });
}

std::vector<TScriptedDialogs::Box> TScriptedDialogs::Boxes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<TFileDialogRequest> TScriptedDialogs::FileRequests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fileRequests_;
}

std::vector<TScriptedDialogs::Modal> TScriptedDialogs::Modals() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return modals_;
}

void TScriptedDialogs::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    boxAnswers_.clear();
    fileAnswers_.clear();
    modalAnswers_.clear();
    boxes_.clear();
    fileRequests_.clear();
    modals_.clear();
}
