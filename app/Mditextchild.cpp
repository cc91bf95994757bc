#include "Mditextchild.h"

#include "Main.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QPlainTextEdit>

TMDITextChildForm::TMDITextChildForm(QWidget* /*owner*/)
{
    NotesMemo = new QPlainTextEdit(this);
    NotesMemo->setStyleSheet("color: navy; font-weight: bold;");
    NotesMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    NotesMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    NotesMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
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

void TMDITextChildForm::closeEvent(QCloseEvent* event)
{
    // Close action "free".
    setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow::closeEvent(event);
}
