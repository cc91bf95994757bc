#pragma once
// The notes window: an MDI child (Tag 10) holding one text memo, loaded from and saved to
// plain text files. Lines are read up to CR LF, LF or CR; they are written in UTF-8, each
// followed by LF.

#include <QMdiSubWindow>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

// The longest notes file read, in bytes.
constexpr qint64 kNotesFileLimit = 4 << 20;

// The lines of a notes text file, up to CR LF, LF or CR (UTF-8). Raises EAppError "Cannot
// open file ..." when the path is not a regular file, cannot be opened or is longer than
// kNotesFileLimit, "Cannot read file ..." when reading fails. Needs no widgets.
QStringList ReadNoteLines(const QString& path);

class TMDITextChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    // Made as a child of the main window's MDI area.
    explicit TMDITextChildForm(QWidget* owner = nullptr);

    QPlainTextEdit* NotesMemo = nullptr;   // navy bold text, both scroll bars

    // The memo's lines from the text file; the caption becomes path. Raises EAppError
    // "Cannot open file ..." when the file cannot be read (the memo is then unchanged).
    void LoadFromFile(const QString& path);
    // The memo's lines as a text file. The file is replaced only once the new text is
    // complete, and a link in its place is replaced, not followed; EAppError "Cannot create
    // file ..." when it cannot be written.
    void SaveToFile(const QString& path);

    // The memo's lines (none for an empty memo) and their replacement.
    QStringList Lines() const;
    void SetLines(const QStringList& lines);

    void FormCreate();

protected:
    void closeEvent(QCloseEvent* event) override;
};
