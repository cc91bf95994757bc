#include "Mditextchild.h"

#include "Apperror.h"
#include "Floatimage.h"
#include "Main.h"
#include "Readablefile.h"

#include <QCloseEvent>
#include <QFile>
#include <QMdiArea>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstring>

TMDITextChildForm::TMDITextChildForm(QWidget* /*owner*/)
{
    NotesMemo = new QPlainTextEdit(this);
    NotesMemo->setObjectName("NotesMemo");
    NotesMemo->setStyleSheet("color: navy; font-weight: bold;");
    NotesMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    NotesMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    NotesMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The form's own design text, cleared when the form is made.
    NotesMemo->setPlainText("test");
    setWidget(NotesMemo);
    FormCreate();
    if (MainForm)
        MainForm->MdiArea->addSubWindow(this);
}

void TMDITextChildForm::FormCreate()
{
    SetFormTag(this, kNotesWindowTag);
    NotesMemo->clear();
}

QStringList TMDITextChildForm::Lines() const
{
    const QString text = NotesMemo->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split('\n');
    // A final line break ends the last line; it does not begin another.
    if (text.endsWith('\n'))
        lines.removeLast();
    return lines;
}

void TMDITextChildForm::SetLines(const QStringList& lines)
{
    QString text = lines.join('\n');
    // A last line that is empty is kept as a line break of its own.
    if (!lines.isEmpty() && lines.last().isEmpty())
        text += '\n';
    NotesMemo->setPlainText(text);
}

QStringList ReadNoteLines(const QString& path)
{
    std::string bytes, why;
    switch (ReadWholeFile(QFile::encodeName(path).toStdString(), kNotesFileLimit, "a notes file", bytes, why)) {
    case TReadResult::Done:
        break;
    case TReadResult::Refused:
        throw EAppError(QString("Cannot open file \"%1\". %2").arg(path, QString::fromStdString(why)).toStdString());
    case TReadResult::ReadFailed:
        throw EAppError(QString("Cannot read file \"%1\". %2").arg(path, QString::fromStdString(why)).toStdString());
    }
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringList lines;
    QString line;
    bool open = false;   // a line has begun that no break has ended yet
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\r' || c == '\n') {
            lines << line;
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        lines << line;
    return lines;
}

void TMDITextChildForm::LoadFromFile(const QString& path)
{
    SetLines(ReadNoteLines(path));
    setWindowTitle(path);
}

void TMDITextChildForm::SaveToFile(const QString& path)
{
    QByteArray bytes;
    for (const QString& line : Lines())
        bytes += line.toUtf8() + '\n';
    // A new file renamed over path: a link there is replaced, never written through, and a
    // named pipe there never blocks the save.
    if (const int err = ReplaceFile(QFile::encodeName(path).toStdString(), [&bytes](FILE* f) {
            return std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f) ==
                   static_cast<size_t>(bytes.size());
        }))
        throw EAppError(QString("Cannot create file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(err))).toStdString());
}

void TMDITextChildForm::closeEvent(QCloseEvent* event)
{
    // Close action "free".
    setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow::closeEvent(event);
}
